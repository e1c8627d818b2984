#include "shell/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
std::unique_ptr<TPreviousInstance> gProbe;
// A request is lines: "come forward", one "open URL" per file (a file: URL,
// so any character of a path survives), then "end". The first copy answers
// "taken" once it has the whole request.
constexpr char kComeForward[] = "come forward";
constexpr char kOpen[] = "open ";
constexpr char kEnd[] = "\nend\n";
constexpr char kTaken[] = "taken\n";
// Far beyond any list of paths; a longer request is dropped.
constexpr qsizetype kLongestRequest = qsizetype{1} << 20;

// The files of a whole request, and whether it asks to come forward.
QStringList ParseRequest(const QByteArray& request, bool& comeForward) {
  QStringList files;
  comeForward = false;
  for (const QByteArray& line : request.split('\n')) {
    if (line == kComeForward) {
      comeForward = true;
    } else if (line.startsWith(kOpen)) {
      const QUrl url = QUrl::fromEncoded(line.mid(static_cast<qsizetype>(sizeof kOpen) - 1), QUrl::StrictMode);
      if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
    }
  }
  return files;
}
}  // namespace

TPreviousInstance::TPreviousInstance(const QString& executablePath) {
  const QString fileName = QFileInfo(executablePath).fileName();
  if (fileName.contains(".EXE")) title_ = fileName.left(fileName.size() - 4);
  QString folder = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
                       ? QDir::tempPath()
                       : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  // The socket is a full path beside the lock: a bare name would put it in
  // the temporary folder, where a copy that holds another runtime folder's
  // lock (another session of the same user) would answer for this one.
  name_ = folder + "/" + fileName + "-" + QString::number(::getuid());
  lock_ = std::make_unique<QLockFile>(name_ + ".lock");
  // A lock left by a copy that died is stale and taken over by QLockFile.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    // Failing to make the lock for another reason counts as no other copy.
    anotherCopy_ = lock_->error() == QLockFile::LockFailedError;
    lock_.reset();
  }
}

void MakePreviousInstance(const QString& executablePath) {
  gProbe = std::make_unique<TPreviousInstance>(executablePath);
}

void EndPreviousInstance() { gProbe.reset(); }

TPreviousInstance* PreviousInstance() { return gProbe.get(); }

bool AskFirstCopyToComeForward(const QString& instanceName, const QStringList& files, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  auto left = [&] { return std::max<int>(1, timeoutMs - static_cast<int>(clock.elapsed())); };
  QLocalSocket socket;
  socket.connectToServer(instanceName);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray request = kComeForward;
  for (const QString& f : files) request += "\n" + QByteArray(kOpen) + QUrl::fromLocalFile(f).toEncoded();
  request += kEnd;
  socket.write(request);
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(left())) return false;
  QByteArray reply;
  while (!reply.contains('\n') && clock.elapsed() < timeoutMs) {
    if (!socket.waitForReadyRead(left())) break;
    reply += socket.readAll();
  }
  socket.disconnectFromServer();
  return reply == kTaken;
}

TJustOne::TJustOne(QWidget* window) : QObject(window), window_(window) {
  setObjectName("JustOne1");
  const TPreviousInstance* probe = PreviousInstance();
  if (probe == nullptr) return;
  if (probe->AnotherCopyRuns()) {
    const QStringList& files = probe->FilesToOpen();
    if (!AskFirstCopyToComeForward(probe->InstanceName(), files) && !files.isEmpty()) {
      std::fprintf(stderr, "Corvane is already running but did not answer; these files were not opened:\n");
      for (const QString& f : files) std::fprintf(stderr, "  %s\n", qPrintable(f));
      std::fflush(nullptr);
      ::_exit(1);
    }
    std::fflush(nullptr);
    // At once: no window of this copy may ever appear, nothing may be written.
    ::_exit(0);
  }
  server_ = new QLocalServer(this);
  QLocalServer::removeServer(probe->InstanceName());  // a socket left by a crash
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(probe->InstanceName())) return;
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::readyRead, this, [this, s, request = std::make_shared<QByteArray>()] {
        *request += s->readAll();
        if (request->size() > kLongestRequest) {
          s->abort();
          return;
        }
        if (!request->endsWith(kEnd)) return;
        bool comeForward = false;
        const QStringList files = ParseRequest(*request, comeForward);
        request->clear();
        s->write(kTaken);
        s->flush();
        s->disconnectFromServer();
        if (comeForward) BringForward();
        // After this handler: whoever takes the files may open windows.
        if (!files.isEmpty()) QTimer::singleShot(0, this, [this, files] { emit FilesHanded(files); });
      });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
}

void TJustOne::BringForward() {
  if (window_->isMinimized()) {
    window_->showNormal();
  } else {
    window_->show();
    window_->raise();
  }
  window_->activateWindow();
}
