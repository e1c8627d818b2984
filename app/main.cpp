// The corvane program: one copy per user, one main window for the whole run.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

#include "cover/StockTemplates.h"
#include "faximage/Apf.h"
#include "mainscreen/TMainScreen.h"
#include "shell/SingleInstance.h"
#include "shell/TStartingFaxForm.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "viewing/TFaxViewer.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  // Only async-signal-safe work here; the main loop does the rest.
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT close the main window through its ordinary close path,
// so the settings are written as after File, Exit.
void CloseOnSignals(QWidget* mainWindow) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, mainWindow);
  QObject::connect(notifier, &QSocketNotifier::activated, mainWindow, [mainWindow] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[0], &byte, 1);
    mainWindow->close();
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}

std::string ExecutablePath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

// The file of "corvane --view FILE" or "corvane FILE.apf" (how the desktop
// opens a fax image); empty for an ordinary start and for other documents,
// which become new faxes. Qt's own options are skipped.
std::string FileToView(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--view" && i + 1 < argc) return argv[i + 1];
    if (!arg.empty() && arg.front() != '-' && (i == 1 || argv[i - 1][0] != '-') && IsApfFile(arg)) return arg;
  }
  return {};
}

// The arguments after the program name that are not options, as absolute
// paths: the first copy may run in another folder.
QStringList DocumentArguments(const QStringList& arguments) {
  QStringList files;
  for (const QString& a : arguments.mid(1))
    if (!a.startsWith('-')) files << QFileInfo(a).absoluteFilePath();
  return files;
}

// Shows one fax image in the viewer window, beside any running Corvane and
// without its program folder.
int ViewFile(const std::string& file) {
  if (!IsApfFile(file)) {
    std::fprintf(stderr, "corvane: %s is not a fax image (APF) file\n", file.c_str());
    return 2;
  }
  TFaxViewer viewer;
  viewer.SetFileToShow(QString::fromStdString(file));
  viewer.Title = QString::fromStdString(std::filesystem::path(file).filename().string());
  viewer.exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Qt's own options (-platform ...) still work.
  if (const std::string file = FileToView(argc, argv); !file.empty()) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    return ViewFile(file);
  }
  MakePreviousInstance(QString::fromStdString(ExecutablePath()));
  QApplication app(argc, argv);
  // Documents named on the command line become new faxes; Qt's own options
  // were taken out by QApplication.
  PreviousInstance()->SetFilesToOpen(DocumentArguments(QApplication::arguments()));
  Settings.Version = kVersionText;
  QApplication::processEvents();
  QApplication::setApplicationName("Corvane");
  QApplication::setApplicationDisplayName("Corvane");

  if (!PreviousInstance()->AnotherCopyRuns() && !ProgramFolderWritable()) {
    QMessageBox::critical(nullptr, "Corvane",
                          QString("Corvane cannot write to its program folder\n%1\n\n"
                                  "Choose a folder you may write to with the environment variable CORVANE_HOME.")
                              .arg(QString::fromStdString(ProgramFolder())));
    return 1;
  }

  TMainScreen mainScreen;  // ends the process here when another copy runs
  // A new installation gets the stock cover templates; a failure to copy
  // them leaves the user to design covers from scratch.
  InstallStockTemplates(CoversFolder());
  TStartingFaxForm startingFaxForm(&mainScreen);
  CloseOnSignals(&mainScreen);
  mainScreen.show();
  mainScreen.NewFaxFromFiles(PreviousInstance()->FilesToOpen());
  return app.exec();
}
