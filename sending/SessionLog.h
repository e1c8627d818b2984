#pragma once
// The plain-text log of the last send run ("Lastsend.log"): lines collected
// during the run and written over any earlier file at its end.

#include <QString>
#include <QStringList>

class TSessionLog {
 public:
  void Clear() {
    lines_.clear();
    last_.clear();
  }
  // A line equal to the one added last is dropped.
  void Add(const QString& line);
  const QStringList& Lines() const { return lines_; }
  // Adds "Finish: " + stamp and writes all lines (CR LF ends) to file,
  // replacing it; a failure to write is ignored.
  void Save(const QString& file, const QString& stamp);

 private:
  QStringList lines_;
  QString last_;
};

// The current date and time in the system's long formats, "date time".
QString LongDateTimeNow();
