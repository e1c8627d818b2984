#pragma once
// Pieces of the Class 2 / 2.0 dialogue that read modem text: the reply line
// collector, the command table of each class, the T.30 parameter strings,
// hangup values, remote IDs and the page header line tags. All of them take
// untrusted modem text and bound what they keep.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Collects modem bytes into text lines of at most 128 characters. CR and LF
// end a line; empty lines are skipped; lines are trimmed.
class TFxReplyCollector {
 public:
  static constexpr size_t kMaxLine = 128;
  // Adds one byte; true when it completed a non-empty line (see Line()).
  bool Feed(uint8_t b);
  const std::string& Line() const { return line_; }
  void Clear() {
    line_.clear();
    complete_ = false;
  }

 private:
  std::string line_;
  bool complete_ = false;
};

struct TFxClass2Commands {
  std::string classCmd, capabilities, localId, rxCapabilities;
  std::string connect, remoteCaps, sessionParams, transmitterId, calledId, pageStatus, hangup;
  // Set-up only Class 2.0 has (empty under Class 2): flow control and the
  // reports wanted.
  std::vector<std::string> extraSetup;
};
TFxClass2Commands FxClass2Commands(bool class20);

// Negotiated or offered T.30 parameters read from "+FDCS:"/"+FCS:" or
// "+FDIS:"/"+FIS:" lines.
struct TFxClass2Params {
  bool fine = false;
  int bps = 9600;  // up to 33600 (V.34) under Class 2.0
  bool wide = false;
  bool ecm = false;
  int scanTimeCode = 0;
};

char FxSpeedCode(int bps);          // "0".."5"; other speeds "3"
int FxSpeedFromCode(char code);     // 9600 for an unknown code
// The eight T.30 parameters offered to the modem (VR,BR,WD,LN,DF,EC,BF,ST):
// resolution, speed, width and error correction from p, A4 length, 1-D
// coding, no file transfer, no minimum scan time.
std::string FxParamString(const TFxClass2Params& p);
// Why a parameter report could not be read.
enum class TFxParamsError : uint8_t {
  peNone,
  peMissing,     // fewer fields than VR and BR
  peMalformed,   // an empty field, or one that is not a number
  peOutOfRange,  // a value the command set does not have
  peTooMany,     // more fields than the report holds
};
struct [[nodiscard]] TFxParamsResult {
  TFxParamsError error = TFxParamsError::peNone;
  int field = 0;  // the field at fault, VR being 1; 0 when none
  explicit operator bool() const { return error == TFxParamsError::peNone; }
};
// Reads a parameter report ("+FDCS:", "+FDIS:", Class 2.0 "+FCS:", "+FIS:")
// field by field: VR,BR,WD,LN,DF,EC,BF,ST (and JP under Class 2.0), blanks
// allowed around each field, decimal under Class 2 and hexadecimal under
// Class 2.0 (told by the prefix; a line without a known prefix is read as
// Class 2). Fields after BR may be left out. On any error p is unchanged.
TFxParamsResult FxParseParams(std::string_view line, TFxClass2Params& p);
// Minimum scan time in milliseconds for a code (0..7; others 0).
unsigned FxMinScanMs(int code, bool fine);
// Bytes per coded line at a speed: ms * bps / 8000.
unsigned FxMinLineBytes(int code, bool fine, int bps);
// The three characters after the first ':' read as a number; 0 when none.
int FxHangupValue(std::string_view line);
// The value after the report prefix: trimmed, a leading quote removed,
// trailing characters other than letters and digits removed, at most 20.
std::string FxCleanRemoteId(std::string_view line);
// The value of a report line after its prefix and ':' (trimmed).
std::string FxReportValue(std::string_view line);
// The post-page response of a +FPTS / +FPS report: its first field, as modems
// add the line counts after it ("+FPTS:1,2200,0,0"); -1 when it is not a
// single digit.
int FxPageStatusValue(std::string_view line);
// True when line contains word.
inline bool FxHas(std::string_view line, std::string_view word) { return line.find(word) != std::string_view::npos; }

struct TFxHeaderTags {
  std::string date, time, stationId, sender, recipient, title;
  int totalPages = 0;
  int currentPage = 0;
};
// Replaces "$" + letter tags (the tag runs to the next space).
std::string FxReplaceHeaderTags(std::string_view text, const TFxHeaderTags& tags);

// T.4 page data escaping for the modem: every DLE doubled.
size_t FxEscapeData(const uint8_t* in, size_t n, uint8_t* out);  // out holds 2n
