#pragma once
// One copy of Corvane per user. The first copy holds a lock named after the
// executable's file name and listens on a local socket of the same name; a
// second copy finds the lock taken, asks the first to come forward, and ends
// with exit code 0 before it shows any window.

#include <QLockFile>
#include <QObject>
#include <QString>
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
  // Name shared by the lock and the local socket (per executable and user).
  const QString& InstanceName() const { return name_; }

 private:
  QString title_;
  QString name_;
  std::unique_ptr<QLockFile> lock_;
  bool anotherCopy_ = false;
};

// The process-wide probe, made by the program entry; null in processes that
// never made one (tests, tools), where windows neither listen nor end.
TPreviousInstance* PreviousInstance();
void MakePreviousInstance(const QString& executablePath);

// Placed on the main window. When another copy runs, its constructor asks
// that copy to restore itself if minimised or else come to the top, then ends
// this process at once with exit code 0. Otherwise it listens for such
// requests from later copies and brings `window` forward. Without a probe it
// does nothing.
class TJustOne : public QObject {
  Q_OBJECT
 public:
  explicit TJustOne(QWidget* window);
  QString About = "One copy of Corvane at a time";

 private:
  void BringForward();
  QWidget* window_;
  QLocalServer* server_ = nullptr;
};

// Asks the first copy to come forward; false when it could not be reached.
bool AskFirstCopyToComeForward(const QString& instanceName, int timeoutMs = 2000);
