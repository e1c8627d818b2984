#include "store/StoreText.h"

#include <QLocale>
#include <QTime>

QString TableText(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToTableText(const QString& text) {
  const QByteArray b = text.toLatin1();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

QString QtDatePattern(const std::string& enginePattern) {
  QString p = QString::fromStdString(enginePattern);
  p.replace(QStringLiteral("mm"), QStringLiteral("MM"));
  return p;
}

QString RowDateTimeTextQt(const TXbDataTable& table, bool outgoing, const QString& datePattern, const QDate& today) {
  TDateTimeText fmt;
  fmt.today = XbJulian(today.year(), today.month(), today.day());
  fmt.date = [&](int y, int m, int d) { return QDate(y, m, d).toString(datePattern).toStdString(); };
  fmt.time = [](int h, int m) {
    return QLocale::system().toString(QTime(h, m), QLocale::ShortFormat).toStdString();
  };
  return QString::fromStdString(RowDateTimeText(table, outgoing, fmt));
}
