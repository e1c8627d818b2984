#include "xbase/Value.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

std::string_view XbTypeName(XbType t) {
  switch (t) {
    case XbType::Character: return "character";
    case XbType::Numeric: return "numeric";
    case XbType::Date: return "date";
    case XbType::Logical: return "logical";
  }
  return "?";
}

int32_t XbJulian(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return 0;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int dim = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > dim) return 0;
  // Fliegel and Van Flandern, proleptic Gregorian calendar.
  const int a = (14 - month) / 12;
  const int y = year + 4800 - a;
  const int m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

int32_t XbTodayFromClock() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return XbJulian(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

int32_t TXbSettings::Today() const { return today != 0 ? today : XbTodayFromClock(); }

int TXbSettings::EpochYear() const {
  if (epoch != 0) return epoch;
  int y, m, d;
  XbCivil(Today(), y, m, d);
  return y - 80;
}

namespace {

// Order of the parts and the separator for each format.
struct DateLayout {
  char order[3];  // 'm', 'd', 'y'
  char sep;
};

DateLayout LayoutOf(XbDateFormat f) {
  switch (f) {
    case XbDateFormat::Ansi: return {{'y', 'm', 'd'}, '.'};
    case XbDateFormat::British:
    case XbDateFormat::French: return {{'d', 'm', 'y'}, '/'};
    case XbDateFormat::German: return {{'d', 'm', 'y'}, '.'};
    case XbDateFormat::Italian: return {{'d', 'm', 'y'}, '-'};
    case XbDateFormat::Japan: return {{'y', 'm', 'd'}, '/'};
    case XbDateFormat::Usa: return {{'m', 'd', 'y'}, '-'};
    case XbDateFormat::American: break;
  }
  return {{'m', 'd', 'y'}, '/'};
}

}  // namespace

std::string TXbSettings::DatePattern() const {
  const DateLayout l = LayoutOf(dateFormat);
  std::string p;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) p += l.sep;
    switch (l.order[i]) {
      case 'm': p += "mm"; break;
      case 'd': p += "dd"; break;
      default: p += century ? "yyyy" : "yy"; break;
    }
  }
  return p;
}

bool XbParseDtos(std::string_view s, int32_t& jd) {
  if (s.size() != 8) return false;
  if (s.find_first_not_of(' ') == std::string_view::npos) {
    jd = 0;
    return true;
  }
  int v[8];
  for (size_t i = 0; i < 8; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v[i] = s[i] - '0';
  }
  const int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  const int m = v[4] * 10 + v[5];
  const int d = v[6] * 10 + v[7];
  jd = XbJulian(y, m, d);
  return jd != 0;
}

std::string XbDtos(int32_t jd) {
  if (jd <= 0) return std::string(8, ' ');
  int y, m, d;
  XbCivil(jd, y, m, d);
  y %= 10000;
  std::string s(8, '0');
  s[0] = static_cast<char>('0' + y / 1000);
  s[1] = static_cast<char>('0' + y / 100 % 10);
  s[2] = static_cast<char>('0' + y / 10 % 10);
  s[3] = static_cast<char>('0' + y % 10);
  s[4] = static_cast<char>('0' + m / 10);
  s[5] = static_cast<char>('0' + m % 10);
  s[6] = static_cast<char>('0' + d / 10);
  s[7] = static_cast<char>('0' + d % 10);
  return s;
}

std::string XbDtoc(int32_t jd, const TXbSettings& s) {
  const DateLayout l = LayoutOf(s.dateFormat);
  int y = 0, m = 0, d = 0;
  if (jd > 0) XbCivil(jd, y, m, d);
  std::string out;
  char buf[16];  // room for any int
  for (int i = 0; i < 3; ++i) {
    if (i > 0) out += l.sep;
    const char part = l.order[i];
    const int width = part == 'y' ? (s.century ? 4 : 2) : 2;
    if (jd <= 0) {
      out.append(static_cast<size_t>(width), ' ');
      continue;
    }
    const int val = part == 'm' ? m : part == 'd' ? d : (s.century ? y : y % 100);
    std::snprintf(buf, sizeof buf, "%0*d", width, val);
    out += buf;
  }
  return out;
}

int32_t XbCtod(std::string_view text, const TXbSettings& s) {
  const DateLayout l = LayoutOf(s.dateFormat);
  int parts[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (int p = 0; p < 3; ++p) {
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits[p] < 6) {
      parts[p] = parts[p] * 10 + (text[i] - '0');
      ++digits[p];
      ++i;
    }
    if (digits[p] == 0) return 0;
    if (p < 2) {
      // Any single non-digit separates the parts, as dBASE accepts "1-2-98".
      if (i >= text.size() || std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
      ++i;
    }
  }
  int y = 0, m = 0, d = 0, ydigits = 0;
  for (int p = 0; p < 3; ++p) {
    switch (l.order[p]) {
      case 'm': m = parts[p]; break;
      case 'd': d = parts[p]; break;
      default: y = parts[p]; ydigits = digits[p]; break;
    }
  }
  if (ydigits <= 2) {
    const int e = s.EpochYear();
    const int base = e - ((e % 100) + 100) % 100;  // first year of E's century
    y += base;
    if (y < e) y += 100;
  }
  return XbJulian(y, m, d);
}

std::string XbFormatNumber(double v, int width, int dec) {
  if (width <= 0) return {};
  if (dec < 0) dec = 0;
  char buf[400];
  if (!std::isfinite(v) || std::fabs(v) >= 1e300) return std::string(static_cast<size_t>(width), '*');
  std::snprintf(buf, sizeof buf, "%*.*f", width, dec, v);
  std::string s(buf);
  if (s.size() > static_cast<size_t>(width)) return std::string(static_cast<size_t>(width), '*');
  return s;
}

double XbParseNumber(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    neg = s[i] == '-';
    ++i;
  }
  double v = 0;
  bool any = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    v = v * 10 + (s[i] - '0');
    ++i;
    any = true;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    double scale = 0.1;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      v += (s[i] - '0') * scale;
      scale /= 10;
      ++i;
      any = true;
    }
  }
  if (!any) return 0;
  return neg ? -v : v;
}

std::string XbUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string XbLower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

namespace {

// The two directions of the code page 1252 letter case, one table each.
struct TCaseTables {
  uint8_t upper[256];
  uint8_t lower[256];
  TCaseTables() {
    for (int b = 0; b < 256; ++b) upper[b] = lower[b] = static_cast<uint8_t>(b);
    auto pair = [this](int small, int capital) {
      upper[small] = static_cast<uint8_t>(capital);
      lower[capital] = static_cast<uint8_t>(small);
    };
    for (int b = 'a'; b <= 'z'; ++b) pair(b, b - 0x20);
    for (int b = 0xE0; b <= 0xFE; ++b)
      if (b != 0xF7) pair(b, b - 0x20);  // not ÷ (and so not ×)
    pair(0x9A, 0x8A);  // š Š
    pair(0x9C, 0x8C);  // œ Œ
    pair(0x9E, 0x8E);  // ž Ž
    pair(0xFF, 0x9F);  // ÿ Ÿ
  }
};

const TCaseTables& CaseTables() {
  static const TCaseTables tables;
  return tables;
}

void MapBytes(std::string& s, const uint8_t* table) {
  for (char& c : s) c = static_cast<char>(table[static_cast<uint8_t>(c)]);
}

}  // namespace

void XbUpperText(std::string& s) { MapBytes(s, CaseTables().upper); }
void XbLowerText(std::string& s) { MapBytes(s, CaseTables().lower); }
