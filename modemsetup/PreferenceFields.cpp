#include "modemsetup/PreferenceFields.h"

#include <cstdlib>
#include <fstream>

#include "faxengine/port/ComDevice.h"
#include "modemsetup/ModemProbe.h"

QString PortChoiceText(int comNumber, const std::filesystem::path& iniFile) {
  return QString("Com%1 (%2)").arg(comNumber).arg(QString::fromStdString(ComDeviceName(comNumber, iniFile)));
}

int NearestRateIndex(int bps) {
  int best = 0;
  for (int i = 1; i < 6; ++i)
    if (std::abs(RateFromIndex(i) - bps) < std::abs(RateFromIndex(best) - bps)) best = i;
  return best;
}

std::optional<QString> CheckWholeNumber(const QString& text, int low, int high, const QString& what) {
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok);
  if (ok && value >= low && value <= high) return std::nullopt;
  return QString("%1 must be a whole number from %2 to %3.").arg(what).arg(low).arg(high);
}

std::optional<QString> CheckPlainText(const QString& text, const QString& what) {
  for (QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      return QString("%1 must be one line without control characters.").arg(what);
  return std::nullopt;
}

std::optional<QString> CheckModemLine(const QString& text, const QString& what) {
  if (auto plain = CheckPlainText(text, what)) return plain;
  QString body = text.trimmed();
  if (body.startsWith("AT", Qt::CaseInsensitive)) body = body.mid(2);
  if (body.size() > kMaxModemStringLength)
    return QString("%1 is too long for a modem: at most %2 characters after \"AT\".").arg(what).arg(
        kMaxModemStringLength);
  return std::nullopt;
}
