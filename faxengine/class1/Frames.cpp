#include "faxengine/class1/Frames.h"

#include <algorithm>
#include <cstddef>

// --- frame control field -------------------------------------------------------------

TFxFrameKind FxFrameKind(uint8_t fcf) {
  using t30::TFcf;
  switch (t30::FcfOf(fcf)) {
    case TFcf::DIS: return TFxFrameKind::fkDIS;
    case TFcf::CSI: case TFcf::TSI: return TFxFrameKind::fkCSI;
    case TFcf::DCS: return TFxFrameKind::fkDCS;
    case TFcf::CFR: return TFxFrameKind::fkCFR;
    case TFcf::FTT: return TFxFrameKind::fkFTT;
    case TFcf::RTN: return TFxFrameKind::fkRTN;
    case TFcf::MCF: return TFxFrameKind::fkMCF;
    case TFcf::RTP: return TFxFrameKind::fkRTP;
    case TFcf::MPS: return TFxFrameKind::fkMPS;
    case TFcf::EOM: return TFxFrameKind::fkEOM;
    case TFcf::EOP: return TFxFrameKind::fkEOP;
    case TFcf::DCN: return TFxFrameKind::fkDCN;
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
// The six speeds on the modulation each is sent with. A DIS has no way to
// offer V.17 12000 without 14400, so index 5 offers V.17.
std::array<TFxSpeed, kFxMaxSpeedIndex> MakeSpeeds() {
  std::array<TFxSpeed, kFxMaxSpeedIndex> speeds{};
  const int kBps[kFxMaxSpeedIndex] = {2400, 4800, 7200, 9600, 12000, 14400};
  for (size_t i = 0; i < speeds.size(); ++i) {
    const t30::TRate& r = *t30::SendRate(kBps[i]);
    speeds[i] = {r.bps, r.longTrain, r.shortTrain, r.dcsBits, t30::DisRateBits(r.bps)};
  }
  return speeds;
}
const std::array<TFxSpeed, kFxMaxSpeedIndex> kSpeeds = MakeSpeeds();
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
    // Each speed from 7200 up by the long-train code of its own modulation.
    for (int i = 3; i <= kFxMaxSpeedIndex; ++i)
      if (token == FxSpeed(i).longTrain) set.has[static_cast<size_t>(i)] = true;
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

uint8_t FxDcsScanBits(int scanTimeCode, bool fine) { return t30::DcsScanBits(scanTimeCode, fine); }

int FxScanCodeFromBits(uint8_t bits) { return t30::ScanCodeOf(bits); }

bool FxDecodeDis(const std::vector<uint8_t>& fif, TFxDisInfo& out) {
  if (fif.size() < 3) return false;
  TFxDisInfo d;
  const uint8_t flags = fif[1];
  const uint8_t ext = fif[2];
  // 7200 and 9600 are sent on V.29, so they need it; 2400 and 4800 are
  // taken as always there.
  const t30::TDisModems modems = t30::DisModems(flags);
  if (modems.v29) d.speeds.has[3] = d.speeds.has[4] = true;
  if (modems.v17) d.speeds.has[5] = d.speeds.has[6] = true;
  d.receives = (flags & t30::kT4Bit) != 0;
  d.fine = (flags & t30::kFineBit) != 0;
  d.wide = t30::WidthOf(ext) >= 1;  // 2048, or 2432 and so 2048 too
  d.lengthUnlimited = t30::LengthOf(ext) == 2;
  d.lengthB4 = t30::LengthOf(ext) == 1;
  d.scanTimeCode = t30::ScanCodeOf(ext);
  out = d;
  return true;
}

std::vector<uint8_t> FxEncodeDis(int localMaxIndex) {
  // Fine, 1728 and 2048, A4 and B4, no minimum scan time.
  return {0x00, static_cast<uint8_t>(t30::kT4Bit | t30::kFineBit | FxSpeed(localMaxIndex).disBits),
          static_cast<uint8_t>(t30::kExtendBit | t30::DisScanBits(0) | t30::LengthBits(1) | t30::WidthBits(1)), 0x00};
}

bool FxDecodeDcs(const std::vector<uint8_t>& fif, TFxDcsInfo& out) {
  if (fif.size() < 3) return false;
  const t30::TRate* rate = t30::DcsRate(fif[1]);
  if (rate == nullptr) return false;  // V.33 or reserved
  TFxDcsInfo d;
  d.speedIndex = FxSpeedIndex(rate->bps);
  d.longTrain = rate->longTrain;
  d.shortTrain = rate->shortTrain;
  d.fine = (fif[1] & t30::kFineBit) != 0;
  // This station offers 1728 and 2048 only: a wider page would be stored
  // as one of them and read back as noise.
  const uint8_t widthBits = fif[2] & t30::kWidthMask;
  if (widthBits > 0x01) return false;
  d.wide = widthBits == 0x01;
  d.scanTimeCode = t30::ScanCodeOf(fif[2]);
  out = d;
  return true;
}

std::vector<uint8_t> FxEncodeDcs(int speedIndex, bool fine, bool wide, int scanTimeCode, const TFxDisInfo& remote) {
  const int length = remote.lengthB4 ? 1 : remote.lengthUnlimited ? 2 : 0;
  const uint8_t flags = static_cast<uint8_t>(t30::kT4Bit | (fine ? t30::kFineBit : 0) | FxSpeed(speedIndex).dcsBits);
  const uint8_t ext = static_cast<uint8_t>(t30::DcsScanBits(scanTimeCode, fine) | t30::kExtendBit |
                                           t30::LengthBits(length) | t30::WidthBits(wide ? 1 : 0));
  return {0x00, flags, ext, 0x00};
}

std::vector<uint8_t> FxEncodeId(std::string_view id) { return t30::EncodeId(id); }

std::string FxDecodeId(const std::vector<uint8_t>& fif) { return t30::DecodeId(fif); }

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
