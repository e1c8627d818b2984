#include "faxengine/class2/Class2Parse.h"

#include <cctype>
#include <iterator>
#include <string>

namespace {
std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}
}  // namespace

bool TFxReplyCollector::Feed(uint8_t b) {
  if (complete_) Clear();
  if (b == '\r' || b == '\n') {
    const std::string_view t = Trim(line_);
    if (t.empty()) {
      line_.clear();
      return false;
    }
    line_ = std::string(t);
    complete_ = true;
    return true;
  }
  // Flow-control and other control bytes (XON after CONNECT, XOFF while
  // pacing) never belong to a result line.
  if (b < 0x20 || b == 0x7F) return false;
  if (line_.size() < kMaxLine) line_ += static_cast<char>(b);
  return false;
}

TFxClass2Commands FxClass2Commands(bool class20) {
  if (class20)
    return {"AT+FCLASS=2.0", "AT+FIS", "AT+FLI", "AT+FCC", "+FCO", "+FIS", "+FCS", "+FTI", "+FCI", "+FPS", "FHS",
            {"AT+FLO=2", "AT+FNR=1,1,1,0"}};
  return {"AT+FCLASS=2", "AT+FDIS", "AT+FLID", "AT+FDCC", "+FCON", "+FDIS", "+FDCS", "+FTSI", "+FCSI", "+FPTS", "FHNG",
          {}};
}

std::string FxParamString(const TFxClass2Params& p) {
  std::string s;
  s += p.fine ? '1' : '0';
  s += ',';
  s += FxSpeedCode(p.bps);
  s += p.wide ? ",1" : ",0";
  s += ",2,0,";
  s += p.ecm ? '1' : '0';
  s += ",0,0";
  return s;
}

char FxSpeedCode(int bps) {
  switch (bps) {
    case 2400: return '0';
    case 4800: return '1';
    case 7200: return '2';
    case 9600: return '3';
    case 12000: return '4';
    case 14400: return '5';
    default: return '3';
  }
}

int FxSpeedFromCode(char code) {
  switch (code) {
    case '0': return 2400;
    case '1': return 4800;
    case '2': return 7200;
    case '4': return 12000;
    case '5': return 14400;
    default: return 9600;
  }
}

std::string FxReportValue(std::string_view line) {
  const size_t p = line.find_first_of(":=");
  if (p != std::string_view::npos) line.remove_prefix(p + 1);
  return std::string(Trim(line));
}

int FxPageStatusValue(std::string_view line) {
  const std::string v = FxReportValue(line);
  const std::string_view first = Trim(std::string_view(v).substr(0, v.find(',')));
  if (first.size() != 1 || !std::isdigit(static_cast<unsigned char>(first[0]))) return -1;
  return first[0] - '0';
}

namespace {
// Largest value of each field: VR, BR, WD, LN, DF, EC, BF, ST, JP. Class 2
// has eight decimal fields; Class 2.0 nine hexadecimal ones, resolution and
// JPEG options being sets of bits and speeds reaching 33600 (code D).
constexpr unsigned kMaxClass2[] = {1, 5, 4, 2, 3, 2, 1, 7};
constexpr unsigned kMaxClass20[] = {0xFF, 0xD, 4, 2, 3, 4, 1, 7, 0xFF};
constexpr size_t kRequiredFields = 2;  // VR and BR

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hex) return -1;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsClass20Report(std::string_view line) {
  const size_t colon = line.find_first_of(":=");
  if (colon == std::string_view::npos) return false;
  const std::string_view prefix = Trim(line.substr(0, colon));
  return prefix == "+FCS" || prefix == "+FIS";
}
}  // namespace

TFxParamsResult FxParseParams(std::string_view line, TFxClass2Params& p) {
  const bool hex = IsClass20Report(line);
  const unsigned* maxima = hex ? kMaxClass20 : kMaxClass2;
  const size_t maxFields = hex ? std::size(kMaxClass20) : std::size(kMaxClass2);
  const std::string value = FxReportValue(line);
  unsigned fields[std::size(kMaxClass20)] = {};
  size_t count = 0;
  if (!value.empty()) {
    std::string_view rest(value);
    for (;;) {
      const size_t comma = rest.find(',');
      std::string_view field = rest.substr(0, comma);
      while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
      while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
      const int number = static_cast<int>(count) + 1;
      if (count == maxFields) return {TFxParamsError::peTooMany, number};
      if (field.empty()) return {TFxParamsError::peMalformed, number};
      unsigned v = 0;
      for (char c : field) {
        const int d = DigitValue(c, hex);
        if (d < 0) return {TFxParamsError::peMalformed, number};
        v = v * (hex ? 16u : 10u) + static_cast<unsigned>(d);
        if (v > maxima[count]) return {TFxParamsError::peOutOfRange, number};
      }
      fields[count++] = v;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  if (count < kRequiredFields) return {TFxParamsError::peMissing, static_cast<int>(count) + 1};
  TFxClass2Params read;
  read.fine = (fields[0] & 1u) != 0;  // 7.7 lines/mm, alone or among others offered
  read.bps = 2400 * static_cast<int>(fields[1] + 1);
  read.wide = fields[2] == 1;
  read.ecm = fields[5] != 0;
  read.scanTimeCode = static_cast<int>(fields[7]);
  p = read;
  return {};
}

unsigned FxMinScanMs(int code, bool fine) {
  static const unsigned kNormal[8] = {0, 5, 10, 10, 20, 20, 40, 40};
  static const unsigned kFine[8] = {0, 5, 5, 10, 10, 20, 20, 40};
  if (code < 0 || code > 7) return 0;
  return fine ? kFine[code] : kNormal[code];
}

unsigned FxMinLineBytes(int code, bool fine, int bps) {
  return FxMinScanMs(code, fine) * static_cast<unsigned>(bps) / 8000;
}

int FxHangupValue(std::string_view line) {
  const size_t p = line.find(':');
  if (p == std::string_view::npos) return 0;
  const std::string_view v = Trim(line.substr(p + 1, 3));
  int n = 0;
  for (char c : v) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string FxCleanRemoteId(std::string_view line) {
  std::string v = FxReportValue(line);
  if (!v.empty() && v.front() == '"') v.erase(0, 1);
  // The ID goes into file headers, logs and the status line: control bytes
  // and anything outside printable ASCII are dropped.
  std::erase_if(v, [](char c) { return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F; });
  while (!v.empty() && !std::isalnum(static_cast<unsigned char>(v.back()))) v.pop_back();
  if (v.size() > 20) v.resize(20);
  return v;
}

std::string FxReplaceHeaderTags(std::string_view text, const TFxHeaderTags& tags) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '$' && i + 1 < text.size() && std::isalpha(static_cast<unsigned char>(text[i + 1]))) {
      const char tag = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
      size_t end = text.find(' ', i);
      if (end == std::string_view::npos) end = text.size();
      switch (tag) {
        case 'D': out += tags.date; break;
        case 'T': out += tags.time; break;
        case 'I': out += tags.stationId; break;
        case 'F': out += tags.sender; break;
        case 'R': out += tags.recipient; break;
        case 'S': out += tags.title; break;
        case 'N': out += std::to_string(tags.totalPages); break;
        case 'P': out += std::to_string(tags.currentPage); break;
        default: break;
      }
      i = end;
      continue;
    }
    out += text[i++];
  }
  return out;
}

size_t FxEscapeData(const uint8_t* in, size_t n, uint8_t* out) {
  size_t k = 0;
  for (size_t i = 0; i < n; ++i) {
    out[k++] = in[i];
    if (in[i] == 0x10) out[k++] = 0x10;
  }
  return k;
}
