#pragma once
// One copy of Corvane per user. The first copy holds a lock named after the
// executable's file name and listens on a local socket of the same name; a
// second copy finds the lock taken, asks the first to come forward (and to
// open the documents it was started with), and ends with exit code 0 before
// it shows any window.

#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QLocalServer;
class QWidget;

// Made once per process before any window exists.
class TPreviousInstance {
 public:
  explicit TPreviousInstance(const QString& executablePath);

  // The executable's file name without ".EXE" when it has that ending (upper
  // case, exact); otherwise empty. Kept for the window search on systems
  // whose executables carry the ending.
  const QString& TitleToLookFor() const { return title_; }
  bool AnotherCopyRuns() const { return anotherCopy_; }
  // Path of the local socket, in the runtime folder beside the lock (per
  // executable and user).
  const QString& InstanceName() const { return name_; }
  // Documents named on the command line, as absolute paths: a second copy
  // hands them to the first.
  void SetFilesToOpen(const QStringList& files) { files_ = files; }
  const QStringList& FilesToOpen() const { return files_; }

 private:
  QString title_;
  QString name_;
  std::unique_ptr<QLockFile> lock_;
  QStringList files_;
  bool anotherCopy_ = false;
};

// The process-wide probe, made by the program entry; null in processes that
// never made one (tests, tools), where windows neither listen nor end.
TPreviousInstance* PreviousInstance();
void MakePreviousInstance(const QString& executablePath);
// Releases the probe and its lock (a process that outlives its windows).
void EndPreviousInstance();

// Placed on the main window. When another copy runs, its constructor asks
// that copy to restore itself if minimised or else come to the top, and to
// open the probe's files, then ends this process at once with exit code 0;
// when there were files and that copy did not take them, it says so on
// standard error and ends with exit code 1. Otherwise it listens for such
// requests from later copies, brings `window` forward and passes the files
// on. Without a probe it does nothing.
class TJustOne : public QObject {
  Q_OBJECT
 public:
  explicit TJustOne(QWidget* window);
  QString About = "One copy of Corvane at a time";

 signals:
  // Documents a later copy was started with, handed on after the request.
  void FilesHanded(const QStringList& files);

 private:
  void BringForward();
  QWidget* window_;
  QLocalServer* server_ = nullptr;
};

// Asks the first copy to come forward and to open files; true once it has
// confirmed that it took the whole request.
bool AskFirstCopyToComeForward(const QString& instanceName, const QStringList& files = {}, int timeoutMs = 2000);
