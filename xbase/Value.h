#pragma once
// Values of xBase expressions and fields, dates, and the engine-wide settings
// that change how values are compared, read and written.
//
// Dates are held as Julian day numbers; 0 is the empty date (eight blanks in a
// table, "  /  /  " as text, EMPTY() true).
//
// Two-digit years (CTOD): a year written with one or two digits means the one
// year in the window E .. E+99 that ends in those digits, where E is the
// `epoch` setting. When `epoch` is 0 (the default) the window slides with the
// clock, E = this year - 80: in 2026 "12/07/98" is 1998, "01/02/30" is 2030
// and "01/02/46" is 1946, so dates typed or stored with two digits (such as
// the mm/dd/yy dates of the cleanup rules) land on the recent past or the
// near future. Years written with three or more digits are taken as they
// stand, whatever `century` says; `century` only chooses how DTOC() and the
// date pattern write years.

#include <cstdint>
#include <string>
#include <string_view>

enum class XbType : uint8_t { Character, Numeric, Date, Logical };

std::string_view XbTypeName(XbType t);

struct TXbValue {
  XbType type = XbType::Logical;
  bool log = false;
  double num = 0;
  int32_t date = 0;  // Julian day number, 0 = empty
  std::string str;

  static TXbValue Char(std::string s) { TXbValue v; v.type = XbType::Character; v.str = std::move(s); return v; }
  static TXbValue Num(double d) { TXbValue v; v.type = XbType::Numeric; v.num = d; return v; }
  static TXbValue Date(int32_t jd) { TXbValue v; v.type = XbType::Date; v.date = jd; return v; }
  static TXbValue Bool(bool b) { TXbValue v; v.type = XbType::Logical; v.log = b; return v; }
};

// The dBASE SET DATE formats; the numbers are the engine's date format codes.
enum class XbDateFormat : int {
  American = 0,  // mm/dd/yy
  Ansi = 1,      // yy.mm.dd
  British = 2,   // dd/mm/yy
  French = 3,    // dd/mm/yy
  German = 4,    // dd.mm.yy
  Italian = 5,   // dd-mm-yy
  Japan = 6,     // yy/mm/dd
  Usa = 7,       // mm-dd-yy
};

struct TXbSettings {
  bool exact = false;      // "=" on texts compares whole texts, not a prefix
  bool century = false;    // DTOC() writes four-digit years
  XbDateFormat dateFormat = XbDateFormat::American;
  bool deleted = false;    // rows marked deleted are invisible to navigation
  bool softSeek = false;   // a failed seek stays on the next greater key
  int lockTimeoutSeconds = 1;
  int memoBlockSize = 64;
  int epoch = 0;           // first year of the two-digit year window; 0 = sliding (this year - 80)
  int32_t today = 0;       // fixed "today" for DATE() (tests); 0 = the clock

  int32_t Today() const;
  int EpochYear() const;
  // The pattern of the date format, e.g. "mm/dd/yyyy".
  std::string DatePattern() const;
};

// Calendar.
int32_t XbJulian(int year, int month, int day);  // 0 when not a valid date
inline void XbCivil(int32_t jd, int& year, int& month, int& day) {
  if (jd <= 0) {
    year = month = day = 0;
    return;
  }
  // From 1 March of year 0 on (every date a table can hold), Neri and
  // Schneider's form: fewer divisions, and dates are converted for every
  // row written.
  constexpr int32_t kMarch1Year0 = 1721120;
  if (jd >= kMarch1Year0) {
    const auto n = static_cast<uint32_t>(jd - kMarch1Year0);
    const uint32_t n1 = 4 * n + 3;
    const uint32_t century = n1 / 146097;
    const uint32_t n2 = (n1 % 146097) | 3;
    const uint64_t p2 = 2939745ull * n2;
    const auto yearOfCentury = static_cast<uint32_t>(p2 >> 32);
    const uint32_t dayOfYear = static_cast<uint32_t>(p2) / 2939745 / 4;  // from 1 March
    const uint32_t n3 = 2141 * dayOfYear + 197913;
    const uint32_t m = n3 >> 16;
    const bool janFeb = dayOfYear >= 306;
    year = static_cast<int>(100 * century + yearOfCentury + (janFeb ? 1 : 0));
    month = static_cast<int>(janFeb ? m - 12 : m);
    day = static_cast<int>((n3 & 0xFFFF) / 2141 + 1);
    return;
  }
  const int a = jd + 32044;
  const int b = (4 * a + 3) / 146097;
  const int c = a - 146097 * b / 4;
  const int d = (4 * c + 3) / 1461;
  const int e = c - 1461 * d / 4;
  const int m = (5 * e + 2) / 153;
  day = e - (153 * m + 2) / 5 + 1;
  month = m + 3 - 12 * (m / 10);
  year = 100 * b + d - 4800 + m / 10;
}
int32_t XbTodayFromClock();
// "YYYYMMDD" -> date; blanks -> 0; anything else -> nullopt-ish: returns false.
bool XbParseDtos(std::string_view s, int32_t& jd);
std::string XbDtos(int32_t jd);  // eight blanks for the empty date
std::string XbDtoc(int32_t jd, const TXbSettings& s);
// Reads a date written in the date format; blanks or an impossible date give 0.
int32_t XbCtod(std::string_view text, const TXbSettings& s);

// dBASE number text: right-aligned in width with dec decimals; a number that
// does not fit becomes width asterisks.
std::string XbFormatNumber(double v, int width, int dec);
// Leading blanks, sign, digits, decimals; stops at the first other character.
double XbParseNumber(std::string_view s);

// Names (fields, tags, aliases) are ASCII: their letter case changes in
// a-z/A-Z only.
std::string XbUpper(std::string_view s);
std::string XbLower(std::string_view s);

// Letter case of stored text, as UPPER() and LOWER() change it: text is in
// code page 1252, so besides a-z the accented letters change too (à-þ and
// À-Þ except ÷ and ×, ÿ/Ÿ, š/Š, œ/Œ, ž/Ž), as other FoxPro-compatible
// programs reading these tables change them when they build or seek keys.
void XbUpperText(std::string& s);
void XbLowerText(std::string& s);
