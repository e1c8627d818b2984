#pragma once
// The Class 1 layer shared by the send and the receive machine: T.30 HDLC
// control frames as the modem takes and delivers them (address, control,
// FCF, FIF, DLE ETX), the collector that turns modem bytes into result lines
// and frames, the DIS/DCS/CSI/TSI information fields, the speed table with
// the modulation codes of AT+FTM/AT+FRM, and the training check.
//
// Everything here reads untrusted bytes from the modem or the far machine:
// every length is bounded and every malformed input has a status.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "faxengine/class2/Class2Parse.h"
#include "faxengine/t30/T30.h"

// --- frame control field -------------------------------------------------------------

// FCF values as this station writes them: with the X bit of the calling
// station on the frames it sends as a caller (DCS, TSI, the post-page
// messages, DCN), without it on those it answers with.
enum class TFxFcf : uint8_t {
  DIS = t30::FcfByte(t30::TFcf::DIS, false),
  CSI = t30::FcfByte(t30::TFcf::CSI, false),
  TSI = t30::FcfByte(t30::TFcf::TSI, true),
  DCS = t30::FcfByte(t30::TFcf::DCS, true),
  CFR = t30::FcfByte(t30::TFcf::CFR, false),
  FTT = t30::FcfByte(t30::TFcf::FTT, false),
  RTN = t30::FcfByte(t30::TFcf::RTN, false),
  MCF = t30::FcfByte(t30::TFcf::MCF, false),
  RTP = t30::FcfByte(t30::TFcf::RTP, false),
  MPS = t30::FcfByte(t30::TFcf::MPS, true),
  EOM = t30::FcfByte(t30::TFcf::EOM, true),
  EOP = t30::FcfByte(t30::TFcf::EOP, true),
  DCN = t30::FcfByte(t30::TFcf::DCN, true),
};

// What a received FCF means to the machines, whichever way its X bit is
// set (that depends only on who placed the call).
enum class TFxFrameKind : uint8_t {
  fkDIS,    // 0x80 (0x81, DTC, is read as a DIS)
  fkCSI,    // 0x40..0x43: CSI and TSI alike
  fkDCS,    // 0x82, 0x83
  fkCFR,    // 0x84, 0x85
  fkFTT,    // 0x44, 0x45
  fkRTN,    // 0x4C, 0x4D
  fkMCF,    // 0x8C, 0x8D
  fkRTP,    // 0xCC, 0xCD
  fkMPS,    // 0x4E, 0x4F
  fkEOM,    // 0x8E, 0x8F
  fkEOP,    // 0x2E, 0x2F
  fkDCN,    // 0xFA, 0xFB
  fkOther,  // anything else (non-standard facilities and the like): ignored
};
TFxFrameKind FxFrameKind(uint8_t fcf);
const char* FxFrameKindName(TFxFrameKind k);

// --- frames on the wire ----------------------------------------------------------------

constexpr uint8_t kFxDle = 0x10;
constexpr uint8_t kFxEtx = 0x03;
constexpr uint8_t kFxSub = 0x1A;
constexpr uint8_t kFxAddress = 0xFF;
constexpr uint8_t kFxControl = 0x03;
constexpr uint8_t kFxControlFinal = 0x13;
// Address, control and FCF plus the largest information field a T.30 frame
// carries; anything longer is not a control frame.
constexpr size_t kFxMaxFrame = 3 + 253;
constexpr size_t kFxFcsBytes = 2;

struct TFxFrame {
  uint8_t control = kFxControlFinal;
  uint8_t fcf = 0;
  std::vector<uint8_t> fif;
  bool hadFcs = false;  // the modem passed the frame check sequence on (removed from fif)
  bool Final() const { return (control & 0x10) != 0; }
  TFxFrameKind Kind() const { return FxFrameKind(fcf); }
};

// The bytes written to the modem after AT+FTH=3 answered CONNECT: address,
// control (final or not), FCF, FIF, with every 0x10 doubled, then DLE ETX.
// A FIF longer than the frame allows is cut to fit.
std::vector<uint8_t> FxBuildFrame(TFxFcf fcf, bool final, const std::vector<uint8_t>& fif = {});
std::vector<uint8_t> FxBuildFrame(uint8_t fcf, bool final, const std::vector<uint8_t>& fif);

// The HDLC frame check sequence (CRC-16 of X.25: reflected, initial and final
// value 0xFFFF) of n bytes.
uint16_t FxFcs(const uint8_t* data, size_t n);

// What the collector made of the bytes fed so far.
enum class TFxCollect : uint8_t {
  ccNothing,   // keep feeding
  ccLine,      // a result line is complete: Line()
  ccFrame,     // a frame is complete and well formed: Frame()
  ccBadFrame,  // a frame ended but is unusable: Error()
};

enum class TFxFrameError : uint8_t {
  feNone,
  feTooShort,    // fewer than address, control and FCF before DLE ETX
  feBadControl,  // control byte neither 0x03 nor 0x13
  feTooLong,     // no DLE ETX within the longest frame; bytes dropped up to the next DLE ETX
};
const char* FxFrameErrorText(TFxFrameError e);

// Splits what the modem sends while frames are being received into result
// lines ("CONNECT", "OK", "ERROR", "NO CARRIER") and frames. Outside a frame
// bytes form lines; the address byte 0xFF (never part of a result line)
// starts a frame; inside a frame DLE DLE (and DLE SUB, two DLEs) are data,
// DLE ETX ends the frame, other DLE pairs are dropped. A frame that runs past
// kFxMaxFrame is reported once and the rest of it skipped up to its DLE ETX.
// Many modems (spandsp's among them) pass the two FCS bytes on before DLE
// ETX; when the last two bytes are the frame's valid FCS they are removed,
// so that the information field is the same whichever kind of modem
// delivered it.
class TFxFrameCollector {
 public:
  TFxCollect Feed(uint8_t b);
  const std::string& Line() const { return lines_.Line(); }
  const TFxFrame& Frame() const { return frame_; }
  TFxFrameError Error() const { return error_; }
  bool InFrame() const { return state_ != TState::sText; }
  // Forgets any partial line or frame.
  void Reset();

 private:
  enum class TState : uint8_t { sText, sFrame, sFrameDle, sSkip, sSkipDle };
  TFxCollect EndFrame();
  TState state_ = TState::sText;
  TFxReplyCollector lines_;
  std::vector<uint8_t> raw_;
  TFxFrame frame_;
  TFxFrameError error_ = TFxFrameError::feNone;
};

// --- speeds ------------------------------------------------------------------------------

// Speed indexes 1 (2400) to 6 (14400). The codes are the arguments of
// AT+FTM= and AT+FRM=: the long-train code for the training check and the
// first page after it, the short-train code for later pages. 7200 and 9600
// run on V.29, 12000 and 14400 on V.17 (t30::SendRate).
struct TFxSpeed {
  int bps;
  const char* longTrain;
  const char* shortTrain;
  uint8_t dcsBits;  // bits 11-14 of a DCS (FIF byte 2)
  uint8_t disBits;  // bits 11-14 of a DIS offering this speed and all below it
};
constexpr int kFxMinSpeedIndex = 1;
constexpr int kFxMaxSpeedIndex = 6;
const TFxSpeed& FxSpeed(int index);  // index clamped to 1..6
// The index of a speed in bit/s; 0 when it is not one of the six.
int FxSpeedIndex(int bps);

// Speed support per index (1..6); 1 and 2 are always there.
struct TFxSpeedSet {
  std::array<bool, kFxMaxSpeedIndex + 1> has{false, true, true, false, false, false, false};
  bool Has(int index) const { return index >= kFxMinSpeedIndex && index <= kFxMaxSpeedIndex && has[static_cast<size_t>(index)]; }
  int Highest() const;
};

// The reply of AT+FTM=? or AT+FRM=? (e.g. "24,48,72,73,74,96,97,98,121,122,145,146",
// possibly in parentheses): indexes 3 to 6 from the codes 72, 96, 121 and 145.
// A line without a comma is no list: only indexes 1 and 2.
TFxSpeedSet FxParseSpeedQuery(std::string_view line);

// The highest index from 6 downwards that both sides support and whose speed
// does not exceed desiredBps; 1 when none does.
int FxChooseSpeed(const TFxSpeedSet& local, const TFxSpeedSet& remote, int desiredBps);
// The next index below current that both sides support; 0 when none is left.
int FxStepDown(const TFxSpeedSet& local, const TFxSpeedSet& remote, int current);

// --- information fields --------------------------------------------------------------

// Capabilities read from a DIS.
struct TFxDisInfo {
  TFxSpeedSet speeds;
  bool fine = false;
  bool wide = false;         // takes 2048-pixel lines
  bool lengthB4 = false;     // takes B4-length pages
  bool lengthUnlimited = false;
  int scanTimeCode = 0;      // 0..7 as for Class 2
  bool receives = false;     // offers to receive T.4 documents
};
// A DIS FIF shorter than three bytes is unusable (false); bytes beyond the
// third are extensions that are not interpreted.
bool FxDecodeDis(const std::vector<uint8_t>& fif, TFxDisInfo& out);
// The DIS this station sends as a receiver: fine, 1728 and 2048, A4 and B4,
// no minimum scan time, the speeds up to localMaxIndex.
std::vector<uint8_t> FxEncodeDis(int localMaxIndex);

// Parameters of a DCS, sent or received.
struct TFxDcsInfo {
  int speedIndex = 1;
  // Codes for AT+FRM= at this modulation (V.17 7200/9600 have their own).
  std::string longTrain = "24", shortTrain = "24";
  bool fine = false;
  bool wide = false;
  int scanTimeCode = 0;
};
// False when the FIF is shorter than three bytes or names a modulation this
// station cannot receive (V.33, reserved codes) or a page width it never
// offers (2432, the invalid code).
bool FxDecodeDcs(const std::vector<uint8_t>& fif, TFxDcsInfo& out);
// The DCS for a page at the chosen speed. The recording length follows what
// the remote offered (B4 when it can take B4, else unlimited when it can
// take that, else A4).
std::vector<uint8_t> FxEncodeDcs(int speedIndex, bool fine, bool wide, int scanTimeCode, const TFxDisInfo& remote);

// Scan-time bits (FIF byte 3, bits 21-23) for a Class 2 scan-time code.
uint8_t FxDcsScanBits(int scanTimeCode, bool fine);
// Scan-time code (0..7) for the DIS/DCS bits 21-23 (byte 3 & 0x70).
int FxScanCodeFromBits(uint8_t bits);

// CSI/TSI: 20 bytes, the ID's characters last first, then spaces: the
// unused positions are the number's most significant ones, sent last (as
// fax machines send and read them). IDs longer than 20 characters are cut
// to their first 20.
std::vector<uint8_t> FxEncodeId(std::string_view id);
// The remote ID from a CSI/TSI FIF of any length: at most the first 20
// bytes taken last to first, characters outside printable ASCII dropped,
// trimmed (padding on either side is accepted).
std::string FxDecodeId(const std::vector<uint8_t>& fif);

// --- training check ----------------------------------------------------------------

// Zero bytes sent as the training check at a speed: 1.5 s worth, at most 8192.
size_t FxTrainingCheckSize(int bps);
// The training check as written after AT+FTM= answered CONNECT: the zero
// bytes, then DLE ETX.
std::vector<uint8_t> FxBuildTrainingCheck(int bps);

// Judges a received training check: the bytes of AT+FRM= data up to DLE ETX,
// DLE DLE counted as one 0x10 byte. Good when fewer than 10% of the bytes
// are non-zero, at least half a second of data arrived (a check cut short
// by the line says nothing about it) and the zeros form one run over two
// thirds of the check.
class TFxTrainingCheck {
 public:
  explicit TFxTrainingCheck(int bps) : bps_(bps) {}
  // True once DLE ETX has ended the check.
  bool Feed(uint8_t b);
  bool Done() const { return done_; }
  bool Good() const;
  size_t Total() const { return total_; }
  size_t NonZero() const { return nonZero_; }
  void Reset();

 private:
  int bps_;
  size_t total_ = 0, nonZero_ = 0;
  size_t zeroRun_ = 0, longestZeroRun_ = 0;
  bool dle_ = false, done_ = false;
};
// The judgement itself: counts of all bytes and non-zero bytes.
bool FxTrainingGood(size_t total, size_t nonZero, int bps);

// --- session values ---------------------------------------------------------------------

// What a Class 1 session keeps besides the shared session record.
struct TFxClass1Session {
  TFxSpeedSet local;            // from AT+FTM=?/AT+FRM=?
  int localMax = 2;             // highest local index
  TFxDisInfo remote;            // from the remote's DIS
  bool haveDis = false;
  TFxDcsInfo dcs;               // the DCS sent or received
  int speedIndex = 1;           // chosen speed
  int bps = 2400;
  bool fine = false;
  bool wide = false;
  int scanTimeCode = 0;
  bool lastFinal = false;       // control field final bit of the last frame
  uint8_t lastFcf = 0;          // FCF of the last frame
  bool haveFrame = false;       // a frame arrived since the last command
  TFxFrame frame;               // that frame, acted on once the modem says OK
  int frameErrors = 0;          // frames the modem rejected in a row
  bool cfrReceived = false;
  bool responseStarted = false;
  int postPageTries = 0;
  int dcsTries = 0;             // DCS and training sent without any answer
  bool afterEom = false;        // waiting for the DIS that follows the answer to EOM
  int pendingError = 0;         // reported once DCN is out and the modem has hung up
  TFxFrameCollector collector;

  // Forgets everything of the last call but the modem's own speeds.
  void NewCall() {
    TFxClass1Session fresh;
    fresh.local = local;
    fresh.localMax = localMax;
    *this = fresh;
  }
  const char* LongTrain() const { return FxSpeed(speedIndex).longTrain; }
  const char* ShortTrain() const { return FxSpeed(speedIndex).shortTrain; }
  void SetSpeed(int index) {
    speedIndex = index;
    bps = FxSpeed(index).bps;
  }
};
