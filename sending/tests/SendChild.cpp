// A program that sends the current row from the main window and never ends
// by itself: the kill test starts it, waits until page data flows, and kills
// it. Arguments: the program folder and a file to create once a page is
// being sent.
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <string>

#include "faxengine/session/FaxCodes.h"
#include "mainscreen/TMainScreen.h"
#include "sending/tests/SendDriver.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PROGRAM_FOLDER MARKER_FILE\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  std::string home = argv[1];
  if (home.back() != '/') home += '/';
  SetProgramFolder(home);
  Settings = TSettings{};
  const QString marker = QString::fromLocal8Bit(argv[2]);
  TMainScreen w;
  w.show();
  sendtest::TSendScript script;
  script.close = false;
  script.cancelWhen = [&marker](TSendFaxForm& f) {
    if (f.FxSendFax1.ProgressCode() == fxprogress::fpSendPage && !QFile::exists(marker)) {
      QFile m(marker);
      (void)m.open(QIODevice::WriteOnly);
    }
    return false;
  };
  std::unique_ptr<sendtest::TSendDriver> driver;
  QTimer start;
  QObject::connect(&start, &QTimer::timeout, [&] {
    if (!w.FirstActivationDone() || !w.SendButton->isEnabled()) return;
    start.stop();
    driver = std::make_unique<sendtest::TSendDriver>(script);
    w.SendButton->click();
  });
  start.start(20);
  return app.exec();
}
