#include "store/StoreText.h"

#include <QLocale>
#include <QTime>

#include <array>

namespace {

// Code points of the Windows-1252 codes 0x80..0x9F; 0 where the code is unassigned.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The Windows-1252 code of a code point, or 0 when it has none.
unsigned char Cp1252Code(char32_t cp) {
  if (cp == 0) return 0;
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return static_cast<unsigned char>(0x80 + i);
  return 0;
}

// Appends the closest Windows-1252 spelling of a code point that has no code:
// its compatibility decomposition without combining marks, when all of that
// has codes; otherwise "?".
void AppendClosest(char32_t cp, std::string& out) {
  const QString decomposed = QString::fromUcs4(&cp, 1).normalized(QString::NormalizationForm_KD);
  std::string spelled;
  for (const char32_t part : decomposed.toUcs4()) {
    const QChar::Category cat = QChar::category(part);
    if (cat == QChar::Mark_NonSpacing || cat == QChar::Mark_SpacingCombining || cat == QChar::Mark_Enclosing)
      continue;
    const unsigned char code = Cp1252Code(part);
    if (code == 0) {
      spelled.clear();
      break;
    }
    spelled.push_back(static_cast<char>(code));
  }
  out += spelled.empty() ? std::string("?") : spelled;
}

}  // namespace

QString TableText(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    const char16_t high = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80u] : 0;
    // Unassigned codes show as the C1 controls Latin-1 gives them, so they read back unchanged.
    text.append(QChar(high != 0 ? high : static_cast<char16_t>(c)));
  }
  return text;
}

std::string ToTableText(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (const char32_t cp : text.toUcs4()) {
    const unsigned char code = Cp1252Code(cp);
    if (code != 0 || cp == 0)
      out.push_back(static_cast<char>(code));
    else if (cp >= 0x80 && cp < 0xA0)
      out.push_back(static_cast<char>(cp));  // an unassigned code read from a table goes back as it was
    else
      AppendClosest(cp, out);
  }
  return out;
}

QString FitTableText(const QString& text, int width) {
  std::string bytes = ToTableText(text);
  if (width >= 0 && bytes.size() > static_cast<size_t>(width)) bytes.resize(static_cast<size_t>(width));
  return TableText(bytes);
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
