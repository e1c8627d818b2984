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
void XbCivil(int32_t jd, int& year, int& month, int& day);
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

std::string XbUpper(std::string_view s);
std::string XbLower(std::string_view s);
