#include "faxengine/t30/T30.h"

#include <algorithm>
#include <array>

namespace t30 {

const char* FcfName(uint8_t received) {
  switch (FcfOf(received)) {
    case TFcf::DIS: return "DIS";
    case TFcf::CSI: return "CSI";
    case TFcf::NSF: return "NSF";
    case TFcf::DCS: return "DCS";
    case TFcf::TSI: return "TSI";
    case TFcf::NSS: return "NSS";
    case TFcf::CFR: return "CFR";
    case TFcf::FTT: return "FTT";
    case TFcf::EOM: return "EOM";
    case TFcf::MPS: return "MPS";
    case TFcf::EOP: return "EOP";
    case TFcf::PRI_EOM: return "PRI-EOM";
    case TFcf::PRI_MPS: return "PRI-MPS";
    case TFcf::PRI_EOP: return "PRI-EOP";
    case TFcf::MCF: return "MCF";
    case TFcf::RTP: return "RTP";
    case TFcf::RTN: return "RTN";
    case TFcf::PIP: return "PIP";
    case TFcf::PIN: return "PIN";
    case TFcf::DCN: return "DCN";
    case TFcf::CRP: return "CRP";
  }
  return "?";
}

namespace {
constexpr std::array<TRate, 8> kRates = {{
    {2400, TModulation::V27ter, 0x00, "24", "24"},
    {4800, TModulation::V27ter, 0x08, "48", "48"},
    {7200, TModulation::V29, 0x0C, "72", "72"},
    {9600, TModulation::V29, 0x04, "96", "96"},
    {7200, TModulation::V17, 0x2C, "73", "74"},
    {9600, TModulation::V17, 0x24, "97", "98"},
    {12000, TModulation::V17, 0x28, "121", "122"},
    {14400, TModulation::V17, 0x20, "145", "146"},
}};
}  // namespace

std::span<const TRate> Rates() { return kRates; }

const TRate* SendRate(int bps) {
  const TModulation mod = bps <= 4800 ? TModulation::V27ter : bps <= 9600 ? TModulation::V29 : TModulation::V17;
  for (const TRate& r : kRates)
    if (r.bps == bps && r.modulation == mod) return &r;
  return nullptr;
}

const TRate* DcsRate(uint8_t byte2) {
  for (const TRate& r : kRates)
    if (r.dcsBits == (byte2 & kRateMask)) return &r;
  return nullptr;
}

bool IsSpeed(int bps) { return SendRate(bps) != nullptr; }

TDisModems DisModems(uint8_t byte2) {
  TDisModems m;
  m.v27ter = (byte2 & 0x08) != 0;
  m.v29 = (byte2 & 0x04) != 0;
  m.v33 = (byte2 & 0x10) != 0;
  m.v17 = (byte2 & 0x20) != 0;
  return m;
}

int DisHighestBps(uint8_t byte2) {
  const TDisModems m = DisModems(byte2);
  return m.v17 ? 14400 : m.v29 ? 9600 : m.v27ter ? 4800 : 2400;
}

uint8_t DisRateBits(int maxBps) {
  if (maxBps >= 12000) return 0x2C;
  if (maxBps >= 7200) return 0x0C;
  if (maxBps >= 4800) return 0x08;
  return 0x00;
}

uint8_t WidthBits(int wd) { return wd == 1 ? 0x01 : wd == 2 ? 0x02 : 0x00; }

int WidthOf(uint8_t byte3) {
  switch (byte3 & kWidthMask) {
    case 0x01: return 1;
    case 0x02: return 2;
    default: return 0;
  }
}

uint8_t LengthBits(int ln) { return ln == 1 ? 0x08 : ln == 2 ? 0x04 : 0x00; }

int LengthOf(uint8_t byte3) {
  switch (byte3 & kLengthMask) {
    case 0x08: return 1;
    case 0x04: return 2;
    default: return 0;
  }
}

namespace {
// Scan-time bits by Class 2 code, and the times in ms per code at normal
// and fine resolution.
constexpr uint8_t kDisScan[8] = {0x70, 0x10, 0x60, 0x20, 0x30, 0x00, 0x50, 0x40};
constexpr int kScanMs[8][2] = {{0, 0}, {5, 5}, {10, 5}, {10, 10}, {20, 10}, {20, 20}, {40, 20}, {40, 40}};
int ValidScan(int st) { return st < 0 || st > 7 ? 5 : st; }
}  // namespace

uint8_t DisScanBits(int st) { return kDisScan[ValidScan(st)]; }

int ScanCodeOf(uint8_t byte3) {
  for (int st = 0; st < 8; ++st)
    if (kDisScan[st] == (byte3 & kScanMask)) return st;
  return 5;  // not reached: the eight patterns are all listed
}

uint8_t DcsScanBits(int st, bool fine) {
  switch (kScanMs[ValidScan(st)][fine ? 1 : 0]) {
    case 0: return 0x70;
    case 5: return 0x10;
    case 10: return 0x20;
    case 20: return 0x00;
    default: return 0x40;
  }
}

int DcsScanMs(uint8_t byte3) {
  // A DCS names one time; the DIS-only patterns are read at normal resolution.
  return kScanMs[ScanCodeOf(byte3)][0];
}

std::vector<uint8_t> EncodeId(std::string_view id) {
  if (id.size() > 20) id = id.substr(0, 20);
  std::vector<uint8_t> out;
  out.reserve(20);
  for (auto it = id.rbegin(); it != id.rend(); ++it) out.push_back(static_cast<uint8_t>(*it));
  out.resize(20, ' ');
  return out;
}

std::string DecodeId(const std::vector<uint8_t>& fif) {
  // What follows the 20 bytes (check bytes a modem passed on, say) is not
  // part of the ID.
  const size_t n = std::min<size_t>(fif.size(), 20);
  std::string id;
  for (size_t i = n; i-- > 0;) {
    const uint8_t c = fif[i];
    if (c >= 0x20 && c < 0x7F) id += static_cast<char>(c);
  }
  const size_t first = id.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = id.find_last_not_of(' ');
  return id.substr(first, last - first + 1);
}

}  // namespace t30
