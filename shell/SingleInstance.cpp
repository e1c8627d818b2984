#include "shell/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>
#include <cstdio>
#include <unistd.h>

namespace {
std::unique_ptr<TPreviousInstance> gProbe;
constexpr char kComeForward[] = "come forward\n";
}  // namespace

TPreviousInstance::TPreviousInstance(const QString& executablePath) {
  const QString fileName = QFileInfo(executablePath).fileName();
  if (fileName.contains(".EXE")) title_ = fileName.left(fileName.size() - 4);
  name_ = fileName + "-" + QString::number(::getuid());
  QString folder = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
                       ? QDir::tempPath()
                       : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  lock_ = std::make_unique<QLockFile>(folder + "/" + name_ + ".lock");
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

TPreviousInstance* PreviousInstance() { return gProbe.get(); }

bool AskFirstCopyToComeForward(const QString& instanceName, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(instanceName);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kComeForward);
  const bool sent = socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return sent;
}

TJustOne::TJustOne(QWidget* window) : QObject(window), window_(window) {
  setObjectName("JustOne1");
  const TPreviousInstance* probe = PreviousInstance();
  if (probe == nullptr) return;
  if (probe->AnotherCopyRuns()) {
    AskFirstCopyToComeForward(probe->InstanceName());
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
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        if (s->readAll().contains("come forward")) BringForward();
        s->disconnectFromServer();
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
