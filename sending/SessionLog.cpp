#include "sending/SessionLog.h"

#include <QDateTime>
#include <QLocale>
#include <QSaveFile>

void TSessionLog::Add(const QString& line) {
  if (!lines_.isEmpty() && line == last_) return;
  lines_ << line;
  last_ = line;
}

void TSessionLog::Save(const QString& file, const QString& stamp) {
  Add("Finish: " + stamp);
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return;
  for (const QString& l : lines_) out.write((l + "\r\n").toUtf8());
  out.commit();  // a log that cannot be written is left out
}

QString LongDateTimeNow() {
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  return locale.toString(now.date(), QLocale::LongFormat) + " " + locale.toString(now.time(), QLocale::LongFormat);
}
