#include "faxengine/class1/Frames.h"

#include <algorithm>
#include <cstddef>

// --- frame control field -------------------------------------------------------------

TFxFrameKind FxFrameKind(uint8_t fcf) {
  switch (fcf) {
    case 0x80: case 0x81: return TFxFrameKind::fkDIS;
    case 0x40: case 0x41: case 0x42: case 0x43: return TFxFrameKind::fkCSI;
    case 0x82: case 0x83: return TFxFrameKind::fkDCS;
    case 0x84: case 0x85: return TFxFrameKind::fkCFR;
    case 0x44: case 0x45: return TFxFrameKind::fkFTT;
    case 0x4C: case 0x4D: return TFxFrameKind::fkRTN;
    case 0x8C: return TFxFrameKind::fkMCF;
    case 0xCC: return TFxFrameKind::fkRTP;
    case 0x4E: case 0x4F: return TFxFrameKind::fkMPS;
    case 0x8E: case 0x8F: return TFxFrameKind::fkEOM;
    case 0x2E: case 0x2F: return TFxFrameKind::fkEOP;
    case 0xFA: case 0xFB: return TFxFrameKind::fkDCN;
    default: return TFxFrameKind::fkOther;
  }
}

const char* FxFrameKindName(TFxFrameKind k) {
  static const char* const kNames[] = {"DIS", "CSI", "DCS", "CFR", "FTT", "RTN", "MCF",
                                       "RTP", "MPS", "EOM", "EOP", "DCN", "other"};
  return kNames[static_cast<size_t>(k)];
}

// --- frames on the wire ----------------------------------------------------------------

std::vector<uint8_t> FxBuildFrame(uint8_t fcf, bool final, const std::vector<uint8_t>& fif) {
  const size_t fifLen = std::min(fif.size(), kFxMaxFrame - 3);
  std::vector<uint8_t> out;
  out.reserve(2 * (3 + fifLen) + 2);
  auto put = [&out](uint8_t b) {
    // The modem reads DLE as the start of a command pair: a data 0x10 goes
    // as DLE DLE.
    if (b == kFxDle) out.push_back(kFxDle);
    out.push_back(b);
  };
  put(kFxAddress);
  put(final ? kFxControlFinal : kFxControl);
  put(fcf);
  for (size_t i = 0; i < fifLen; ++i) put(fif[i]);
  out.push_back(kFxDle);
  out.push_back(kFxEtx);
  return out;
}

std::vector<uint8_t> FxBuildFrame(TFxFcf fcf, bool final, const std::vector<uint8_t>& fif) {
  return FxBuildFrame(static_cast<uint8_t>(fcf), final, fif);
}

uint16_t FxFcs(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ data[i]);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1);
  }
  return static_cast<uint16_t>(~crc & 0xFFFF);
}

const char* FxFrameErrorText(TFxFrameError e) {
  switch (e) {
    case TFxFrameError::feNone: return "no error";
    case TFxFrameError::feTooShort: return "frame shorter than address, control and FCF";
    case TFxFrameError::feBadControl: return "frame control byte is not 0x03 or 0x13";
    case TFxFrameError::feTooLong: return "frame longer than a control frame can be";
  }
  return "unknown";
}

void TFxFrameCollector::Reset() {
  state_ = TState::sText;
  lines_.Clear();
  raw_.clear();
  error_ = TFxFrameError::feNone;
}

TFxCollect TFxFrameCollector::EndFrame() {
  state_ = TState::sText;
  lines_.Clear();
  if (raw_.size() < 3) {
    error_ = TFxFrameError::feTooShort;
    raw_.clear();
    return TFxCollect::ccBadFrame;
  }
  if (raw_[1] != kFxControl && raw_[1] != kFxControlFinal) {
    error_ = TFxFrameError::feBadControl;
    raw_.clear();
    return TFxCollect::ccBadFrame;
  }
  size_t end = raw_.size();
  frame_.hadFcs = false;
  if (end >= 3 + kFxFcsBytes) {
    // Over data and its own FCS the CRC leaves this fixed remainder.
    const uint16_t residue = static_cast<uint16_t>(~FxFcs(raw_.data(), end) & 0xFFFF);
    if (residue == 0xF0B8) {
      end -= kFxFcsBytes;
      frame_.hadFcs = true;
    }
  }
  frame_.control = raw_[1];
  frame_.fcf = raw_[2];
  frame_.fif.assign(raw_.begin() + 3, raw_.begin() + static_cast<std::ptrdiff_t>(end));
  raw_.clear();
  error_ = TFxFrameError::feNone;
  return TFxCollect::ccFrame;
}

TFxCollect TFxFrameCollector::Feed(uint8_t b) {
  switch (state_) {
    case TState::sText:
      if (b == kFxAddress) {
        // Bytes before the address (a partial line, noise) are dropped.
        lines_.Clear();
        raw_.clear();
        raw_.push_back(b);
        state_ = TState::sFrame;
        return TFxCollect::ccNothing;
      }
      return lines_.Feed(b) ? TFxCollect::ccLine : TFxCollect::ccNothing;
    case TState::sFrame:
      if (b == kFxDle) {
        state_ = TState::sFrameDle;
        return TFxCollect::ccNothing;
      }
      break;
    case TState::sFrameDle:
      state_ = TState::sFrame;
      if (b == kFxEtx) return EndFrame();
      if (b == kFxDle) break;  // DLE DLE: one data 0x10
      if (b == kFxSub) {       // DLE SUB: two data 0x10
        raw_.push_back(kFxDle);
        b = kFxDle;
        break;
      }
      return TFxCollect::ccNothing;  // other DLE pairs carry no frame data
    case TState::sSkip:
      if (b == kFxDle) state_ = TState::sSkipDle;
      return TFxCollect::ccNothing;
    case TState::sSkipDle:
      if (b == kFxEtx) {
        state_ = TState::sText;
        lines_.Clear();
        return TFxCollect::ccNothing;
      }
      state_ = TState::sSkip;
      return TFxCollect::ccNothing;
  }
  // A data byte of the frame.
  raw_.push_back(b);
  if (raw_.size() > kFxMaxFrame) {
    raw_.clear();
    error_ = TFxFrameError::feTooLong;
    state_ = TState::sSkip;
    return TFxCollect::ccBadFrame;
  }
  return TFxCollect::ccNothing;
}

// --- speeds ------------------------------------------------------------------------------

namespace {
// DIS speed bits: 0x08 V.27ter, 0x0C V.27ter and V.29, 0x2C with V.17 as well.
// A DIS has no way to offer V.17 12000 without 14400, so index 5 offers V.17.
constexpr std::array<TFxSpeed, kFxMaxSpeedIndex> kSpeeds = {{
    {2400, "24", "24", 0x00, 0x00},
    {4800, "48", "48", 0x08, 0x08},
    {7200, "72", "72", 0x0C, 0x0C},
    {9600, "96", "96", 0x04, 0x0C},
    {12000, "121", "122", 0x28, 0x2C},
    {14400, "145", "146", 0x20, 0x2C},
}};
}  // namespace

const TFxSpeed& FxSpeed(int index) {
  index = std::clamp(index, kFxMinSpeedIndex, kFxMaxSpeedIndex);
  return kSpeeds[static_cast<size_t>(index - 1)];
}

int FxSpeedIndex(int bps) {
  for (int i = kFxMinSpeedIndex; i <= kFxMaxSpeedIndex; ++i)
    if (FxSpeed(i).bps == bps) return i;
  return 0;
}

int TFxSpeedSet::Highest() const {
  for (int i = kFxMaxSpeedIndex; i > kFxMinSpeedIndex; --i)
    if (Has(i)) return i;
  return kFxMinSpeedIndex;
}

TFxSpeedSet FxParseSpeedQuery(std::string_view line) {
  TFxSpeedSet set;
  if (line.find(',') == std::string_view::npos) return set;
  std::string token;
  auto take = [&] {
    if (token == "72") set.has[3] = true;
    if (token == "96") set.has[4] = true;
    if (token == "121") set.has[5] = true;
    if (token == "145") set.has[6] = true;
    token.clear();
  };
  for (char c : line) {
    if (c >= '0' && c <= '9') {
      if (token.size() < 8) token += c;
    } else {
      take();
    }
  }
  take();
  return set;
}

int FxChooseSpeed(const TFxSpeedSet& local, const TFxSpeedSet& remote, int desiredBps) {
  for (int i = kFxMaxSpeedIndex; i > kFxMinSpeedIndex; --i)
    if (local.Has(i) && remote.Has(i) && FxSpeed(i).bps <= desiredBps) return i;
  return kFxMinSpeedIndex;
}

int FxStepDown(const TFxSpeedSet& local, const TFxSpeedSet& remote, int current) {
  for (int i = std::min(current, kFxMaxSpeedIndex + 1) - 1; i >= kFxMinSpeedIndex; --i)
    if (local.Has(i) && remote.Has(i)) return i;
  return 0;
}

// --- information fields --------------------------------------------------------------

uint8_t FxDcsScanBits(int scanTimeCode, bool fine) {
  // Per code: {normal, fine}. 0x70 0 ms, 0x10 5 ms, 0x20 10 ms, 0x00 20 ms, 0x40 40 ms.
  static constexpr uint8_t kBits[8][2] = {{0x70, 0x70}, {0x10, 0x10}, {0x20, 0x10}, {0x20, 0x20},
                                          {0x00, 0x20}, {0x00, 0x00}, {0x40, 0x00}, {0x40, 0x40}};
  if (scanTimeCode < 0 || scanTimeCode > 7) scanTimeCode = 5;  // 20 ms: safe for any receiver
  return kBits[scanTimeCode][fine ? 1 : 0];
}

int FxScanCodeFromBits(uint8_t bits) {
  static constexpr int kCodes[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  return kCodes[(bits >> 4) & 0x07];
}

bool FxDecodeDis(const std::vector<uint8_t>& fif, TFxDisInfo& out) {
  if (fif.size() < 3) return false;
  TFxDisInfo d;
  const uint8_t flags = fif[1];
  const uint8_t ext = fif[2];
  // Bits 11-14: 0x08 V.27ter (4800), 0x04 V.29 (7200, 9600), 0x20 V.17
  // (up to 14400). 7200 and 9600 are sent on V.29, so they need its bit.
  if (flags & 0x04) d.speeds.has[3] = d.speeds.has[4] = true;
  if (flags & 0x20) d.speeds.has[5] = d.speeds.has[6] = true;
  d.receives = (flags & 0x02) != 0;
  d.fine = (flags & 0x40) != 0;
  // Bits 17-18: 1,0 = 1728 and 2048; 0,1 = 1728, 2048 and 2432.
  d.wide = (ext & 0x03) == 0x01 || (ext & 0x03) == 0x02;
  // Bits 19-20: 1,0 unlimited, 0,1 A4 and B4.
  d.lengthUnlimited = (ext & 0x0C) == 0x04;
  d.lengthB4 = (ext & 0x0C) == 0x08;
  d.scanTimeCode = FxScanCodeFromBits(ext & 0x70);
  out = d;
  return true;
}

std::vector<uint8_t> FxEncodeDis(int localMaxIndex) {
  return {0x00, static_cast<uint8_t>(0x42 | FxSpeed(localMaxIndex).disBits), 0xF9, 0x00};
}

bool FxDecodeDcs(const std::vector<uint8_t>& fif, TFxDcsInfo& out) {
  if (fif.size() < 3) return false;
  TFxDcsInfo d;
  const uint8_t flags = fif[1];
  const uint8_t ext = fif[2];
  switch (flags & 0x3C) {
    case 0x00: d.speedIndex = 1; d.longTrain = d.shortTrain = "24"; break;
    case 0x08: d.speedIndex = 2; d.longTrain = d.shortTrain = "48"; break;
    case 0x0C: d.speedIndex = 3; d.longTrain = d.shortTrain = "72"; break;
    case 0x04: d.speedIndex = 4; d.longTrain = d.shortTrain = "96"; break;
    case 0x2C: d.speedIndex = 3; d.longTrain = "73"; d.shortTrain = "74"; break;   // V.17 7200
    case 0x24: d.speedIndex = 4; d.longTrain = "97"; d.shortTrain = "98"; break;   // V.17 9600
    case 0x28: d.speedIndex = 5; d.longTrain = "121"; d.shortTrain = "122"; break;
    case 0x20: d.speedIndex = 6; d.longTrain = "145"; d.shortTrain = "146"; break;
    default: return false;  // V.33 or reserved
  }
  d.fine = (flags & 0x40) != 0;
  d.wide = (ext & 0x03) == 0x01;
  d.scanTimeCode = FxScanCodeFromBits(ext & 0x70);
  out = d;
  return true;
}

std::vector<uint8_t> FxEncodeDcs(int speedIndex, bool fine, bool wide, int scanTimeCode, const TFxDisInfo& remote) {
  uint8_t length = 0x00;  // A4
  if (remote.lengthB4)
    length = 0x08;
  else if (remote.lengthUnlimited)
    length = 0x04;
  const uint8_t flags = static_cast<uint8_t>((fine ? 0x42 : 0x02) | FxSpeed(speedIndex).dcsBits);
  const uint8_t ext = static_cast<uint8_t>(FxDcsScanBits(scanTimeCode, fine) | 0x80 | length | (wide ? 0x01 : 0x00));
  return {0x00, flags, ext, 0x00};
}

std::vector<uint8_t> FxEncodeId(std::string_view id) {
  if (id.size() > 20) id = id.substr(0, 20);
  std::vector<uint8_t> out;
  out.reserve(20);
  for (auto it = id.rbegin(); it != id.rend(); ++it) out.push_back(static_cast<uint8_t>(*it));
  out.resize(20, ' ');
  return out;
}

std::string FxDecodeId(const std::vector<uint8_t>& fif) {
  // The ID is the first 20 bytes; what follows (check-sum bytes the
  // collector could not verify, say) is not part of it.
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

// --- training check ----------------------------------------------------------------

size_t FxTrainingCheckSize(int bps) {
  if (bps <= 0) return 0;
  return std::min<size_t>(static_cast<size_t>(bps / 100) * 18, 8192);
}

std::vector<uint8_t> FxBuildTrainingCheck(int bps) {
  std::vector<uint8_t> out(FxTrainingCheckSize(bps), 0);
  out.push_back(kFxDle);
  out.push_back(kFxEtx);
  return out;
}

bool FxTrainingGood(size_t total, size_t nonZero, int bps) {
  const size_t minimum = bps > 0 ? static_cast<size_t>(bps) / 16 : 1;
  if (total == 0 || total < minimum) return false;
  return nonZero * 100 / total < 10;
}

bool TFxTrainingCheck::Feed(uint8_t b) {
  if (done_) return true;
  if (dle_) {
    dle_ = false;
    if (b == kFxEtx) {
      done_ = true;
      return true;
    }
    if (b == kFxDle) {
      ++total_;
      ++nonZero_;
      zeroRun_ = 0;
    } else if (b == kFxSub) {
      total_ += 2;
      nonZero_ += 2;
      zeroRun_ = 0;
    }
    return false;
  }
  if (b == kFxDle) {
    dle_ = true;
    return false;
  }
  ++total_;
  if (b != 0) {
    ++nonZero_;
    zeroRun_ = 0;
  } else {
    longestZeroRun_ = std::max(longestZeroRun_, ++zeroRun_);
  }
  return false;
}

// Errors scattered all over the check mean a line that damages page data
// as well, however few they are: the zeros must also form one run over two
// thirds of the check (a modem's settling bytes at its start are normal).
bool TFxTrainingCheck::Good() const {
  return FxTrainingGood(total_, nonZero_, bps_) && longestZeroRun_ * 3 >= total_ * 2;
}

void TFxTrainingCheck::Reset() {
  total_ = nonZero_ = zeroRun_ = longestZeroRun_ = 0;
  dle_ = done_ = false;
}
