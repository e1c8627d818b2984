#pragma once
// T.30 as both ends of a fax call write it: frame control fields, the rate,
// resolution, width, length and scan-time bits of DIS and DCS, and the
// speeds with their modulations and AT+FTM/AT+FRM codes. The Class 1 layer
// of the engine and the virtual line's Class 2/2.0 modems both build and
// read frames with these, so that the two can never disagree.
//
// Byte layout: each FIF byte holds eight T.30 bits, the first sent in the
// least significant position (bit 9 of a DIS is 0x01 of its second byte).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace t30 {

// --- frame control fields ------------------------------------------------------------

// The low bit of an FCF is T.30's X bit: set in the frames of the station
// that placed the call. Values here have it clear. The identification
// frames (DIS, CSI, NSF) have no X bit; their low bit turns them into the
// polling frames DTC, CIG and NSC. Neither end here polls, so a DTC is read
// as a DIS and a CIG as a CSI.
enum class TFcf : uint8_t {
  DIS = 0x80,
  CSI = 0x40,
  NSF = 0x20,
  DCS = 0x82,
  TSI = 0x42,
  NSS = 0x22,
  CFR = 0x84,
  FTT = 0x44,
  EOM = 0x8E,
  MPS = 0x4E,
  EOP = 0x2E,
  PRI_EOM = 0x9E,
  PRI_MPS = 0x5E,
  PRI_EOP = 0x3E,
  MCF = 0x8C,
  RTP = 0xCC,
  RTN = 0x4C,
  PIP = 0xAC,
  PIN = 0x2C,
  DCN = 0xFA,
  CRP = 0x1A,
};
constexpr uint8_t kXBit = 0x01;

// An FCF as received, with the X bit cleared.
constexpr TFcf FcfOf(uint8_t received) { return static_cast<TFcf>(received & ~kXBit); }
// The FCF to send: with the X bit when this station placed the call.
constexpr uint8_t FcfByte(TFcf fcf, bool calling) {
  return static_cast<uint8_t>(static_cast<uint8_t>(fcf) | (calling ? kXBit : 0));
}
// "MCF" and so on; "?" for an FCF not listed above.
const char* FcfName(uint8_t received);

// --- speeds and modulations ----------------------------------------------------------

enum class TModulation : uint8_t { V27ter, V29, V17 };

// One rate a DCS can name and these modems can run. The codes are the
// arguments of AT+FTM= and AT+FRM=: the long train opens the training
// check, the short train the pages after it (they differ on V.17 only).
struct TRate {
  int bps;
  TModulation modulation;
  uint8_t dcsBits;  // bits 11-14 (FIF byte 2, mask kRateMask)
  const char* longTrain;
  const char* shortTrain;
};
constexpr uint8_t kRateMask = 0x3C;

// The eight rates: V.27ter 2400/4800, V.29 7200/9600, V.17 7200 to 14400.
std::span<const TRate> Rates();
// The rate a station sends at for a speed of 2400 to 14400 bit/s: V.27ter
// up to 4800, V.29 at 7200 and 9600, V.17 above. Null for other speeds.
const TRate* SendRate(int bps);
// The rate a DCS names (FIF byte 2); null for V.33 and reserved codes.
const TRate* DcsRate(uint8_t byte2);
// True for the six speeds 2400 ... 14400.
bool IsSpeed(int bps);

// What a DIS offers (FIF byte 2). T.30 lists 0x00 (V.27ter fall-back,
// 2400 only), 0x08 V.27ter, 0x04 V.29, 0x0C V.27ter and V.29, 0x1C with
// V.33, 0x2C with V.17; reserved codes are read bit by bit the same way.
struct TDisModems {
  bool v27ter = false;  // 4800 as well as 2400
  bool v29 = false;
  bool v17 = false;
  bool v33 = false;
};
TDisModems DisModems(uint8_t byte2);
// The highest speed of the six a DIS offers, on the modulations above
// (V.33 is not one of them).
int DisHighestBps(uint8_t byte2);
// The rate bits of a DIS offering every speed up to maxBps: V.17 can only
// be offered with 14400, so 12000 offers it too.
uint8_t DisRateBits(int maxBps);

// --- other bits of DIS and DCS ------------------------------------------------------

constexpr uint8_t kT4Bit = 0x02;       // byte 2, bit 10: T.4 reception (DIS), receive (DCS)
constexpr uint8_t kFineBit = 0x40;     // byte 2, bit 15: 7.7 lines/mm
constexpr uint8_t kTwoDimBit = 0x80;   // byte 2, bit 16: two-dimensional coding
constexpr uint8_t kWidthMask = 0x03;   // byte 3, bits 17-18
constexpr uint8_t kLengthMask = 0x0C;  // byte 3, bits 19-20
constexpr uint8_t kScanMask = 0x70;    // byte 3, bits 21-23
constexpr uint8_t kExtendBit = 0x80;   // byte 3, bit 24: another byte follows

// Widths as Class 2 numbers them (WD): 0 1728, 1 2048, 2 2432 pixels. A
// DCS names one; a DIS names the widest it takes (and all narrower).
// Bits 0x03 together are invalid: read as 1728.
uint8_t WidthBits(int wd);
int WidthOf(uint8_t byte3);

// Lengths as Class 2 numbers them (LN): 0 A4, 1 B4, 2 unlimited. T.30
// writes unlimited as 0x04 and B4 as 0x08; 0x0C is invalid: read as A4.
uint8_t LengthBits(int ln);
int LengthOf(uint8_t byte3);

// Minimum scan time as Class 2 numbers it (ST): 0 none, 1 5 ms, 2 10 ms
// normal and 5 ms fine, 3 10 ms, 4 20 ms and 10 ms, 5 20 ms, 6 40 ms and
// 20 ms, 7 40 ms. A DIS carries the code; a DCS the one time in force at
// its resolution. Codes out of range are taken as 5 (20 ms, safe for any
// receiver).
uint8_t DisScanBits(int st);
int ScanCodeOf(uint8_t byte3);
uint8_t DcsScanBits(int st, bool fine);
// The scan time of a DCS in milliseconds.
int DcsScanMs(uint8_t byte3);

// --- CSI, TSI -------------------------------------------------------------------------

// 20 bytes: the ID's characters last first, then spaces. The unused
// positions are the number's most significant ones and go last, as fax
// machines send and read them. IDs longer than 20 characters are cut to
// their first 20.
std::vector<uint8_t> EncodeId(std::string_view id);
// The ID in a CSI/TSI FIF of any length: at most the first 20 bytes taken
// last to first, characters outside printable ASCII dropped, trimmed
// (padding on either side is accepted).
std::string DecodeId(const std::vector<uint8_t>& fif);

}  // namespace t30
