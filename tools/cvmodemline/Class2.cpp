#include "tools/cvmodemline/Class2.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include <spandsp.h>

#include "tools/cvmodemline/Modem.h"

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kDc2 = 0x12;

// T.30 frame control fields, read with the X bit cleared (it marks only
// which station placed the call).
using t30::TFcf;
constexpr TFcf kDis = TFcf::DIS, kCsi = TFcf::CSI, kDcs = TFcf::DCS, kTsi = TFcf::TSI, kCfr = TFcf::CFR,
               kFtt = TFcf::FTT, kMps = TFcf::MPS, kEom = TFcf::EOM, kEop = TFcf::EOP, kMcf = TFcf::MCF,
               kRtp = TFcf::RTP, kRtn = TFcf::RTN, kDcn = TFcf::DCN, kCrp = TFcf::CRP;

constexpr long kT1 = 35 * kTicksPerSecond;  // waiting for the first DIS
constexpr long kT2 = 7 * kTicksPerSecond;   // waiting for page data or a command
constexpr long kT4 = 3 * kTicksPerSecond;   // waiting for a response
constexpr long kGap = 4;                    // 80 ms between signals
constexpr long kDcnHold = 10;               // 200 ms of silence after our DCN before hanging up

// Class 2 hangup codes used here.
constexpr int kHangNormal = 0, kHangAborted = 2, kHangNoAnswer = 11, kHangDcsNoResponse = 25,
              kHangTrainFail = 27, kHangTxPhaseB = 20, kHangTxPhaseD = 50, kHangNoMpsResponse = 52,
              kHangNoEopResponse = 54, kHangNoEomResponse = 56, kHangRxPhaseB = 70, kHangT2 = 73,
              kHangRxPhaseC = 90, kHangRxPhaseD = 100;

// By value: GCC 12 misreads std::clamp on literals as uninitialised.
int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

std::vector<uint8_t> Frame(TFcf fcf, bool final, bool calling, const std::vector<uint8_t>& fif = {}) {
  std::vector<uint8_t> f;
  f.reserve(3 + fif.size());
  f.push_back(0xFF);
  f.push_back(final ? 0x13 : 0x03);
  f.push_back(t30::FcfByte(fcf, calling));
  for (uint8_t b : fif) f.push_back(b);
  return f;
}

// Six end-of-line codes (000000000001) in line order, first bit in bit 0.
std::vector<uint8_t> Rtc() {
  std::vector<uint8_t> out;
  int bit = 0;
  uint8_t cur = 0;
  for (int e = 0; e < 6; ++e) {
    for (int i = 0; i < 12; ++i) {
      if (i == 11) cur = static_cast<uint8_t>(cur | (1u << bit));
      if (++bit == 8) {
        out.push_back(cur);
        cur = 0;
        bit = 0;
      }
    }
  }
  return out;
}

std::string Unquote(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

namespace {
bool Debug() {
  static const bool on = std::getenv("CVMODEMLINE_DEBUG") != nullptr;
  return on;
}
}  // namespace

// ---- parameters and frames -------------------------------------------------

std::string TSessionParams::Text() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,%d,%d,%d,%d,%d", vr, br, wd, ln, df, ec, bf, st);
  return buf;
}

bool TSessionParams::Parse(const std::string& text) {
  static const int kMax[8] = {1, 5, 2, 2, 1, 0, 0, 7};
  TSessionParams next = *this;
  int* nextFields[8] = {&next.vr, &next.br, &next.wd, &next.ln, &next.df, &next.ec, &next.bf, &next.st};
  size_t i = 0;
  for (int f = 0; f < 8 && i <= text.size(); ++f) {
    size_t comma = text.find(',', i);
    std::string part = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
    part.erase(0, part.find_first_not_of(' '));
    if (!part.empty()) {
      if (part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos) return false;
      int v = std::stoi(part);
      // Values beyond what this modem offers fall back to its best, as the
      // standard allows; ECM and file transfer are not offered.
      *nextFields[f] = std::min(v, kMax[f]);
    }
    if (comma == std::string::npos) break;
    i = comma + 1;
    if (f == 7) return false;  // more than eight values
  }
  *this = next;
  return true;
}

int BitRateOf(int br) {
  static const int kRates[6] = {2400, 4800, 7200, 9600, 12000, 14400};
  return kRates[Clamp(br, 0, 5)];
}

namespace {
// The rate a Class 2 BR code is sent at.
const t30::TRate& SendRateOf(int br) { return *t30::SendRate(BitRateOf(br)); }

// The BR code of a speed of the six.
int BrOf(int bps) {
  for (int br = 0; br <= 5; ++br)
    if (BitRateOf(br) == bps) return br;
  return 0;
}
}  // namespace

std::vector<uint8_t> MakeDis(const TSessionParams& caps) {
  const auto b2 = static_cast<uint8_t>(t30::kT4Bit | t30::DisRateBits(BitRateOf(caps.br)) |
                                       (caps.vr ? t30::kFineBit : 0) | (caps.df ? t30::kTwoDimBit : 0));
  const auto b3 = static_cast<uint8_t>(t30::WidthBits(caps.wd) | t30::LengthBits(caps.ln) |
                                       t30::DisScanBits(caps.st) | t30::kExtendBit);
  return {0x00, b2, b3, 0x00};
}

std::vector<uint8_t> MakeDcs(const TSessionParams& p) {
  const auto b2 = static_cast<uint8_t>(t30::kT4Bit | SendRateOf(p.br).dcsBits | (p.vr ? t30::kFineBit : 0) |
                                       (p.df ? t30::kTwoDimBit : 0));
  const auto b3 = static_cast<uint8_t>(t30::WidthBits(p.wd) | t30::LengthBits(p.ln) |
                                       t30::DcsScanBits(p.st, p.vr != 0) | t30::kExtendBit);
  return {0x00, b2, b3, 0x00};
}

TSessionParams ReadDisOrDcs(const std::vector<uint8_t>& fif, bool isDcs) {
  TSessionParams p;
  const uint8_t b2 = fif.size() > 1 ? fif[1] : 0;
  const uint8_t b3 = fif.size() > 2 ? fif[2] : 0;
  p.vr = (b2 & t30::kFineBit) ? 1 : 0;
  p.df = (b2 & t30::kTwoDimBit) ? 1 : 0;
  if (isDcs) {
    // A rate this modem cannot run (V.33) reads as 2400; the caller refuses it.
    const t30::TRate* rate = t30::DcsRate(b2);
    p.br = rate ? BrOf(rate->bps) : 0;
  } else {
    p.br = BrOf(t30::DisHighestBps(b2));
  }
  p.wd = t30::WidthOf(b3);
  p.ln = t30::LengthOf(b3);
  p.ec = 0;
  p.bf = 0;
  p.st = t30::ScanCodeOf(b3);
  return p;
}

std::vector<uint8_t> MakeIdFrame(const std::string& id) { return t30::EncodeId(id); }

std::string ReadIdFrame(const std::vector<uint8_t>& fif) {
  // The ID goes into quoted reports: a quote in it becomes a space.
  std::vector<uint8_t> bytes = fif;
  std::replace(bytes.begin(), bytes.end(), uint8_t{'"'}, uint8_t{' '});
  return t30::DecodeId(bytes);
}

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

// ---- engine ------------------------------------------------------------------

TClass2Engine::TClass2Engine(TVirtualModem& modem, t31_state_s* t31) : modem_(modem), t31_(t31) {}

void TClass2Engine::SetClass(TFaxClass cls) {
  active_ = cls == TFaxClass::Class2 || cls == TFaxClass::Class20;
  class20_ = cls == TFaxClass::Class20;
}

bool TClass2Engine::Is20() const { return class20_; }

std::string TClass2Engine::Name(const char* c2, const char* c20) const { return Is20() ? c20 : c2; }

void TClass2Engine::Report(const std::string& text) { modem_.Info(text); }

bool TClass2Engine::OwnsInput() const {
  if (!active_ || escaped_) return false;
  return state_ == TState::TxPage ||
         ((state_ == TState::RxPage || state_ == TState::RxWaitPpm) && connectSent_ && !dteEtxSent_);
}

TClass2Reply TClass2Engine::Command(const TAtCommand& c) {
  const std::string& k = c.name;
  auto paramCmd = [&](TSessionParams& target, TSessionParams* also) {
    switch (c.op) {
      case TAtOp::Set:
        if (!target.Parse(c.arg)) return TClass2Reply::Error;
        if (also) *also = target;
        return TClass2Reply::Next;
      case TAtOp::Read:
        Report(target.Text());
        return TClass2Reply::Next;
      case TAtOp::Test:
        Report("(0,1),(0-5),(0-2),(0-2),(0,1),(0),(0),(0-7)");
        return TClass2Reply::Next;
      case TAtOp::Action:
        return TClass2Reply::Error;
    }
    return TClass2Reply::Error;
  };
  if (k == "+FLID" || k == "+FLI") {
    if (c.op == TAtOp::Set) {
      localId_ = Unquote(c.arg).substr(0, 20);
    } else if (c.op == TAtOp::Read) {
      Report("\"" + localId_ + "\"");
    } else if (c.op == TAtOp::Test) {
      Report("(20),(32-127)");
    }
    return TClass2Reply::Next;
  }
  if (k == "+FDIS" || k == "+FIS") return paramCmd(caps_, nullptr);
  if (k == "+FDCC" || k == "+FCC") {
    TClass2Reply r = paramCmd(rxCaps_, nullptr);
    if (c.op == TAtOp::Set && r == TClass2Reply::Next) caps_ = rxCaps_;
    return r;
  }
  if (k == "+FDCS" || k == "+FCS") {
    if (c.op != TAtOp::Read) return TClass2Reply::Error;
    Report(session_.Text());
    return TClass2Reply::Next;
  }
  if (k == "+FDT") {
    if (c.op != TAtOp::Action || state_ != TState::TxReady) return TClass2Reply::Error;
    awaiting_ = true;
    ppmTries_ = 0;
    if (needTraining_) {
      ComputeSession();
      dcsTries_ = 0;
      After(kGap, [this] { SendDcsAndTcf(); });
    } else {
      state_ = TState::TxPageStart;
      After(kGap, [this] { StartSendData(SendRateOf(session_.br), false); });
    }
    return TClass2Reply::Pending;
  }
  if (k == "+FET") {
    if (c.op == TAtOp::Test) {
      Report("(0-2)");
      return TClass2Reply::Next;
    }
    if (c.op != TAtOp::Set || state_ != TState::TxWaitFet || c.arg.size() != 1 || c.arg[0] < '0' || c.arg[0] > '2')
      return TClass2Reply::Error;
    awaiting_ = true;
    ppm_ = c.arg[0] - '0';
    ppmTries_ = 0;
    SendPpm();
    return TClass2Reply::Pending;
  }
  if (k == "+FDR") {
    if (c.op != TAtOp::Action) return TClass2Reply::Error;
    if (state_ == TState::RxPpmReady) {
      awaiting_ = true;
      pendingFdr_ = true;
      state_ = TState::RxSendMcf;
      StartSendFrames({Frame(kMcf, true, originate_)});
      return TClass2Reply::Pending;
    }
    if (state_ == TState::RxPage || state_ == TState::RxWaitPpm || state_ == TState::RxWaitDcs || state_ == TState::RxTcf ||
        state_ == TState::RxSendCfr || state_ == TState::RxSendDis) {
      awaiting_ = true;
      pendingFdr_ = true;
      if (state_ == TState::RxWaitPpm ||
          (state_ == TState::RxPage && (stage_ == TOpStage::InData || !rxPage_.empty() || rxPageEnded_))) {
        connectSent_ = true;
        modem_.Result(TResult::Connect);
      }
      return TClass2Reply::Pending;
    }
    return TClass2Reply::Error;
  }
  if (k == "+FK" || k == "+FKS") {
    if (state_ != TState::Idle && state_ != TState::Done) {
      Report(Name("+FHNG:", "+FHS:") + std::to_string(kHangAborted));
      modem_.HangupCall();
    }
    return TClass2Reply::Next;
  }
  // Everything else is remembered and otherwise accepted: flow control,
  // reporting, bit order, copy quality and the like change nothing on a
  // line where data cannot be lost.
  static const std::map<std::string, std::string> kRanges = {
      {"+FCR", "(0,1)"}, {"+FAA", "(0,1)"}, {"+FLO", "(0-2)"}, {"+FNR", "(0,1),(0,1),(0,1),(0,1)"},
      {"+FBOR", "(0-3)"}, {"+FBO", "(0-3)"}, {"+FCQ", "(0-2)"}, {"+FPTS", "(1-5)"}, {"+FPS", "(1-5)"},
      {"+FIE", "(0,1)"}, {"+FPP", "(0,1)"}, {"+FBUG", "(0,1)"}, {"+FCIG", "(20),(32-127)"},
      {"+FPHCTO", "(0-255)"}, {"+FCT", "(0-FF)"}, {"+FMINSP", "(0-5)"}, {"+FMS", "(0-5)"},
      {"+FSPL", "(0,1)"}, {"+FSP", "(0,1)"}, {"+FREL", "(0,1)"}, {"+FECM", "(0)"}, {"+FIT", "(0-255),(0,1)"},
      {"+FLPL", "(0,1)"}, {"+FTBC", "(0)"}, {"+FBU", "(0,1)"}, {"+FAP", "(0,1),(0,1),(0,1)"},
      {"+FRQ", "(0-64),(0-FF)"}};
  switch (c.op) {
    case TAtOp::Set:
      if (c.arg.size() > 64) return TClass2Reply::Error;
      other_[k] = c.arg;
      return TClass2Reply::Next;
    case TAtOp::Read: {
      auto it = other_.find(k);
      Report(it == other_.end() ? "0" : it->second);
      return TClass2Reply::Next;
    }
    case TAtOp::Test: {
      auto it = kRanges.find(k);
      if (it == kRanges.end()) return TClass2Reply::Error;
      Report(it->second);
      return TClass2Reply::Next;
    }
    case TAtOp::Action:
      return TClass2Reply::Error;
  }
  return TClass2Reply::Error;
}

// ---- calls ---------------------------------------------------------------------

void TClass2Engine::CallStarted(bool originate) {
  CallEnded();
  originate_ = originate;
  awaiting_ = true;
  at_state_t& a = t31_->at_state;
  a.p.echo = 0;
  a.p.verbose = 1;
  a.p.result_code_format = 1;
  a.p.s_regs[3] = '\r';
  a.p.s_regs[4] = '\n';
  a.do_hangup = 0;
  a.silent_dial = 0;
  a.command_dial = 0;
  if (originate) {
    state_ = TState::TxWaitDis;
    // After the call is connected the T.31 engine listens for V.21 frames
    // on its own, as after +FRH=3.
    StartRecvFrame(false);
    opTimeout_ = t1Left_ = kT1;
    t31_call_event(t31_, AT_CALL_EVENT_CONNECTED);
  } else {
    fconSent_ = true;
    Report(Name("+FCON", "+FCO"));
    StartPhaseBAnswer();
    t31_call_event(t31_, AT_CALL_EVENT_ANSWERED);
  }
}

void TClass2Engine::StartPhaseBAnswer() {
  state_ = TState::RxSendDis;
  std::vector<std::vector<uint8_t>> frames;
  if (!localId_.empty()) frames.push_back(Frame(kCsi, false, originate_, MakeIdFrame(localId_)));
  frames.push_back(Frame(kDis, true, originate_, MakeDis(rxCaps_)));
  const bool first = disTries_ == 0 && !haveDis_;
  // Right after answering the T.31 engine sends CED and then asks for the
  // first frame by itself, as after +FTH=3.
  StartSendFrames(std::move(frames), !first);
  haveDis_ = true;
}

void TClass2Engine::CallEnded() {
  state_ = TState::Idle;
  op_ = TOp::None;
  stage_ = TOpStage::WaitConnect;
  framesToSend_.clear();
  frame_.clear();
  t31Line_.clear();
  t31In_.clear();
  deferred_.clear();
  dle_ = false;
  after_ = nullptr;
  afterTicks_ = -1;
  swallowOk_ = false;
  rxPage_.clear();
  rxPageEnded_ = false;
  dteStarted_ = false;
  connectSent_ = false;
  dteDle_ = false;
  escaped_ = false;
  pendingFdr_ = false;
  awaiting_ = false;
  needTraining_ = true;
  fconSent_ = false;
  ppmReceived_ = false;
  dteEtxSent_ = false;
  haveDis_ = false;
  disTries_ = 0;
  dcsTries_ = 0;
  ppmTries_ = 0;
  ppm_ = -1;
  remoteId_.clear();
  rxRate_ = nullptr;
}

void TClass2Engine::Finish(int code) {
  // Ends the call from our side after a completed or failed procedure.
  const bool wasAwaiting = awaiting_;
  Report(Name("+FHNG:", "+FHS:") + (Is20() ? (code < 10 ? "0" : "") : "") + std::to_string(code));
  modem_.HangupCall();
  if (wasAwaiting) modem_.Result(code == kHangNormal ? TResult::Ok : TResult::Error);
}

void TClass2Engine::RemoteHungUp() {
  if (state_ == TState::Idle || state_ == TState::Done) return;
  if (state_ == TState::RxPage && connectSent_ && !dteEtxSent_) {
    const uint8_t etx[2] = {kDle, kEtx};
    modem_.Emit(std::string_view(reinterpret_cast<const char*>(etx), 2));
  }
  int code = kHangTxPhaseB;
  switch (state_) {
    case TState::RxWaitDcn: code = kHangNormal; break;
    case TState::TxWaitDis: code = kHangNoAnswer; break;
    case TState::TxPage: case TState::TxPageDrain: case TState::TxPageStart: code = 40; break;
    case TState::TxWaitFet: case TState::TxSendPpm: case TState::TxWaitPpr:
      code = kHangTxPhaseD; break;
    case TState::TxSendDcn:
      // Every page is confirmed: a receiver that hangs up on our DCN, or
      // before it, ends a complete call.
      code = kHangNormal; break;
    case TState::RxSendDis: case TState::RxWaitDcs: case TState::RxTcf: case TState::RxSendCfr:
      code = kHangRxPhaseB; break;
    case TState::RxPage: code = kHangRxPhaseC; break;
    case TState::RxWaitPpm: case TState::RxPpmReady: case TState::RxSendMcf: code = kHangRxPhaseD; break;
    default: break;
  }
  Finish(code);
}

void TClass2Engine::After(long ticks, std::function<void()> f) {
  afterTicks_ = ticks;
  after_ = std::move(f);
}

void TClass2Engine::Tick() {
  if (!active_ || state_ == TState::Idle) return;
  if (!deferred_.empty()) {
    std::string d = std::move(deferred_);
    deferred_.clear();
    t31_at_rx(t31_, d.data(), static_cast<int>(d.size()));
  }
  if (afterTicks_ >= 0 && afterTicks_-- == 0) {
    auto f = std::move(after_);
    after_ = nullptr;
    afterTicks_ = -1;
    if (f) f();
  }
  if (op_ == TOp::RecvFrame && opTimeout_ > 0 && ++opTicks_ >= opTimeout_) {
    // Stop listening; the T.31 engine confirms with an OK we do not want.
    op_ = TOp::None;
    swallowOk_ = true;
    ToT31(std::string(1, '\x18'));
    OnFrameTimeout();
  } else if (op_ == TOp::RecvData && stage_ == TOpStage::WaitConnect && opTimeout_ > 0 && ++opTicks_ >= opTimeout_) {
    op_ = TOp::None;
    swallowOk_ = true;
    ToT31(std::string(1, '\x18'));
    if (state_ == TState::RxPage) Finish(kHangT2);
    else if (state_ == TState::RxTcf) StartRecvFrame();  // no training: hear the DCS again
  }
}

// ---- internal T.31 driving -----------------------------------------------------

void TClass2Engine::T31Command(const std::string& body) {
  if (Debug()) std::fprintf(stderr, "class2 state %d: AT%s\n", static_cast<int>(state_), body.c_str());
  ToT31("AT" + body + "\r");
}

void TClass2Engine::ToT31(const std::string& bytes) {
  // Never re-enter the T.31 engine from its own output callback: what we
  // send while it reports waits for the next tick.
  if (parsing_ || !deferred_.empty()) {
    deferred_ += bytes;
    return;
  }
  t31_at_rx(t31_, bytes.data(), static_cast<int>(bytes.size()));
}

void TClass2Engine::SendRaw(const uint8_t* data, size_t n) {
  if (n) ToT31(std::string(reinterpret_cast<const char*>(data), n));
}

void TClass2Engine::SendStuffed(const uint8_t* data, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += static_cast<char>(data[i]);
    if (data[i] == kDle) s += static_cast<char>(kDle);
  }
  ToT31(s);
}

void TClass2Engine::StartRecvFrame(bool issue) {
  op_ = TOp::RecvFrame;
  stage_ = TOpStage::WaitConnect;
  frame_.clear();
  opTicks_ = 0;
  opTimeout_ = kT4;
  if (issue) T31Command("+FRH=3");
}

void TClass2Engine::StartSendFrames(std::vector<std::vector<uint8_t>> frames, bool issue) {
  op_ = TOp::SendFrames;
  stage_ = TOpStage::WaitConnect;
  framesToSend_ = std::move(frames);
  opTimeout_ = 0;
  if (issue) T31Command("+FTH=3");
}

void TClass2Engine::StartSendData(const t30::TRate& rate, bool training) {
  op_ = TOp::SendData;
  stage_ = TOpStage::WaitConnect;
  trainingData_ = training;
  opTimeout_ = 0;
  // The training check uses the long train, page data the short one.
  T31Command(std::string("+FTM=") + (training ? rate.longTrain : rate.shortTrain));
}

void TClass2Engine::StartRecvData(const t30::TRate& rate) {
  op_ = TOp::RecvData;
  stage_ = TOpStage::WaitConnect;
  opTicks_ = 0;
  opTimeout_ = kT2;
  T31Command(std::string("+FRM=") + (state_ == TState::RxTcf ? rate.longTrain : rate.shortTrain));
}

void TClass2Engine::T31Output(const uint8_t* buf, size_t len) {
  t31In_.append(reinterpret_cast<const char*>(buf), len);
  if (parsing_) return;  // a handler is running: the outer loop takes it
  parsing_ = true;
  size_t i = 0;
  while (i < t31In_.size()) {
    const auto b = static_cast<uint8_t>(t31In_[i++]);
    const bool inBody = (op_ == TOp::RecvFrame && stage_ == TOpStage::InFrame) ||
                        (op_ == TOp::RecvData && stage_ == TOpStage::InData);
    if (inBody) {
      if (dle_) {
        dle_ = false;
        if (b == kEtx) {
          stage_ = TOpStage::WaitFinal;
          if (op_ == TOp::RecvData && state_ == TState::RxPage) {
            rxPageEnded_ = true;
            FeedDte();
          }
          continue;
        }
        if (b != kDle) continue;
      } else if (b == kDle) {
        dle_ = true;
        continue;
      }
      if (op_ == TOp::RecvFrame) {
        if (frame_.size() < 300) frame_.push_back(b);
      } else if (state_ == TState::RxTcf) {
        ++tcfBytes_;
        if (b != 0) ++tcfNonZero_;
      } else if (state_ == TState::RxPage) {
        rxPage_.push_back(Is20() ? b : Reverse(b));
        if (rxPage_.size() > 4096 || i == t31In_.size()) FeedDte();
      }
      continue;
    }
    if (b == '\n') {
      std::string line = t31Line_;
      t31Line_.clear();
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      while (!line.empty() && (line.front() == '\r' || line.front() == ' ')) line.erase(0, 1);
      if (!line.empty()) {
        t31In_.erase(0, i);
        i = 0;
        OnT31Line(line);
      }
    } else if (b != '\r' && t31Line_.size() < 128) {
      t31Line_ += static_cast<char>(b);
    }
  }
  t31In_.clear();
  parsing_ = false;
}

void TClass2Engine::OnT31Line(const std::string& line) {
  if (Debug()) std::fprintf(stderr, "class2 state %d op %d stage %d: <%s>\n", static_cast<int>(state_),
                            static_cast<int>(op_), static_cast<int>(stage_), line.c_str());
  if (swallowOk_) {
    if (line == "OK" || line == "ERROR" || line == "NO CARRIER") swallowOk_ = false;
    return;
  }
  if (line == "CONNECT") {
    switch (op_) {
      case TOp::RecvFrame:
        stage_ = TOpStage::InFrame;
        frame_.clear();
        dle_ = false;
        break;
      case TOp::RecvData:
        stage_ = TOpStage::InData;
        dle_ = false;
        if (state_ == TState::RxTcf) {
          tcfBytes_ = tcfNonZero_ = 0;
        } else if (state_ == TState::RxPage && pendingFdr_ && !connectSent_) {
          connectSent_ = true;
          modem_.Result(TResult::Connect);
        }
        break;
      case TOp::SendFrames:
        if (!framesToSend_.empty()) {
          std::vector<uint8_t> f = framesToSend_.front();
          framesToSend_.erase(framesToSend_.begin());
          if (framesToSend_.empty()) f[1] = 0x13;  // the last of a burst is final
          SendStuffed(f.data(), f.size());
          const uint8_t etx[2] = {kDle, kEtx};
          SendRaw(etx, 2);
        }
        break;
      case TOp::SendData:
        stage_ = TOpStage::InData;
        if (trainingData_) {
          std::vector<uint8_t> zeros(static_cast<size_t>(BitRateOf(session_.br) * 3 / 16), 0);
          SendRaw(zeros.data(), zeros.size());
          const uint8_t etx[2] = {kDle, kEtx};
          SendRaw(etx, 2);
        } else {
          state_ = TState::TxPage;
          dteDle_ = false;
          modem_.Result(TResult::Connect);
          const char xon = static_cast<char>(kXon);
          modem_.Emit(std::string_view(&xon, 1));
        }
        break;
      case TOp::None:
        break;
    }
    return;
  }
  const bool ok = line == "OK";
  const bool noCarrier = line == "NO CARRIER";
  const bool error = line == "ERROR" || line == "+FCERROR";
  if (!ok && !noCarrier && !error) return;  // +FRH:3 and the like
  if (op_ == TOp::RecvFrame) {
    if (stage_ == TOpStage::WaitFinal || ok || error) {
      std::vector<uint8_t> f = frame_;
      op_ = TOp::None;
      if (stage_ == TOpStage::WaitFinal)
        OnFrame(f, ok);
      else
        OnFrameTimeout();
    } else if (noCarrier) {
      op_ = TOp::None;
      if (state_ == TState::TxWaitDis && !haveDis_ && t1Left_ > opTicks_) {
        // A carrier blip before the first frame (answer tone, noise).
        t1Left_ -= opTicks_;
        StartRecvFrame();
        opTimeout_ = t1Left_;
      } else {
        OnFrameTimeout();
      }
    }
    return;
  }
  if (op_ == TOp::SendFrames || op_ == TOp::SendData || op_ == TOp::RecvData) {
    op_ = TOp::None;
    OnOpDone(ok || (noCarrier && stage_ != TOpStage::WaitConnect));
  }
}

void TClass2Engine::OnFrame(const std::vector<uint8_t>& frame, bool ok) {
  if (!ok || frame.size() < 3 || frame[0] != 0xFF) {
    // A damaged frame: ask again by listening once more.
    StartRecvFrame();
    return;
  }
  // The T.31 engine passes the two check bytes on; they are not FIF.
  const size_t end = frame.size() >= 5 ? frame.size() - 2 : frame.size();
  std::vector<uint8_t> fif(frame.begin() + 3, frame.begin() + static_cast<long>(end));
  const TFcf fcf = t30::FcfOf(frame[2]);
  if (Debug()) std::fprintf(stderr, "class2 frame %s len %zu\n", t30::FcfName(frame[2]), frame.size());
  const bool final = (frame[1] & 0x10) != 0;
  if (originate_)
    HandleTxFrame(fcf, fif);
  else
    HandleRxFrame(fcf, fif);
  if (op_ != TOp::None || afterTicks_ >= 0 || state_ == TState::Idle) return;
  if (!final) {
    StartRecvFrame();
    return;
  }
  // A last frame that moved nothing on (one we cannot read, a DIS where an
  // answer belongs): as no answer for a command we sent, which is repeated;
  // while we wait for the sender's next command, listen on.
  switch (state_) {
    case TState::TxWaitCfr: case TState::TxWaitPpr: OnFrameTimeout(); break;
    case TState::RxWaitPpm: if (!ppmReceived_) StartRecvFrame(); break;
    case TState::RxWaitDcs: case TState::RxWaitDcn: StartRecvFrame(); break;
    default: break;
  }
}

void TClass2Engine::OnFrameTimeout() {
  switch (state_) {
    case TState::TxWaitDis: Finish(kHangNoAnswer); break;
    case TState::TxWaitCfr: After(kGap, [this] { SendDcsAndTcf(); }); break;
    case TState::TxWaitPpr: After(kGap, [this] { SendPpm(); }); break;
    case TState::RxWaitDcs:
      if (++disTries_ > 3) Finish(kHangRxPhaseB);
      else StartPhaseBAnswer();
      break;
    case TState::RxWaitPpm: Finish(kHangRxPhaseD); break;
    case TState::RxWaitDcn: Finish(kHangNormal); break;
    default: break;
  }
}

// ---- the sending side ------------------------------------------------------------

void TClass2Engine::ComputeSession() {
  session_ = caps_;
  session_.vr = std::min(caps_.vr, remote_.vr);
  session_.br = std::min(caps_.br, remote_.br);
  session_.wd = std::min(caps_.wd, remote_.wd);
  session_.ln = std::min(caps_.ln, remote_.ln);
  session_.df = 0;  // one-dimensional coding keeps the data transparent
  session_.ec = 0;
  session_.bf = 0;
  session_.st = remote_.st;
}

void TClass2Engine::SendDcsAndTcf() {
  if (++dcsTries_ > 3 + 3) {  // three tries per speed step at most, counted loosely
    Finish(kHangDcsNoResponse);
    return;
  }
  state_ = TState::TxSendDcs;
  std::vector<std::vector<uint8_t>> frames;
  if (!localId_.empty()) frames.push_back(Frame(kTsi, false, true, MakeIdFrame(localId_)));
  frames.push_back(Frame(kDcs, true, true, MakeDcs(session_)));
  StartSendFrames(std::move(frames));
}

void TClass2Engine::HandleTxFrame(TFcf fcf, const std::vector<uint8_t>& fif) {
  switch (state_) {
    case TState::TxWaitDis:
      if (fcf == kCsi) {
        remoteId_ = ReadIdFrame(fif);
      } else if (fcf == kDis) {
        remote_ = ReadDisOrDcs(fif, false);
        haveDis_ = true;
        if (!fconSent_) {
          fconSent_ = true;
          Report(Name("+FCON", "+FCO"));
        }
        if (!remoteId_.empty()) Report(Name("+FCSI:", "+FCI:") + "\"" + remoteId_ + "\"");
        Report(Name("+FDIS:", "+FIS:") + remote_.Text());
        state_ = TState::TxReady;
        needTraining_ = true;
        awaiting_ = false;
        modem_.Result(TResult::Ok);
      }
      break;
    case TState::TxWaitCfr:
      if (fcf == kCfr) {
        Report(Name("+FDCS:", "+FCS:") + session_.Text());
        state_ = TState::TxPageStart;
        needTraining_ = false;
        After(kGap, [this] { StartSendData(SendRateOf(session_.br), false); });
      } else if (fcf == kFtt) {
        if (session_.br == 0) {
          Finish(kHangTrainFail);
          return;
        }
        --session_.br;
        After(kGap, [this] { SendDcsAndTcf(); });
      } else if (fcf == kDis || fcf == kCrp) {
        After(kGap, [this] { SendDcsAndTcf(); });
      } else if (fcf == kDcn) {
        Finish(kHangTxPhaseB);
      }
      break;
    case TState::TxWaitPpr: {
      int ppr = 0;
      if (fcf == kMcf) ppr = 1;
      else if (fcf == kRtn) ppr = 2;
      else if (fcf == kRtp) ppr = 3;
      else if (fcf == kCrp) {
        After(kGap, [this] { SendPpm(); });
        return;
      } else if (fcf == kDcn) {
        Finish(kHangTxPhaseD);
        return;
      } else {
        return;
      }
      lastPpr_ = ppr;
      if (Is20()) {
        // Class 2.0 modems give the remote's answer with the line counts.
        Report("+FPS:" + std::to_string(ppr) + ",0,0,0,0");
      } else {
        Report("+FPTS:" + std::to_string(ppr));
      }
      needTraining_ = ppr != 1 || ppm_ == 1;
      if (ppm_ == 2) {
        state_ = TState::TxSendDcn;
        After(kGap, [this] { StartSendFrames({Frame(kDcn, true, true)}); });
      } else if (ppm_ == 1) {
        // After EOM the receiver begins phase B again with a new DIS.
        state_ = TState::TxWaitDis;
        StartRecvFrame();
        opTimeout_ = kT1;
      } else {
        state_ = TState::TxReady;
        awaiting_ = false;
        modem_.Result(TResult::Ok);
      }
      break;
    }
    default:
      if (fcf == kDcn) Finish(kHangTxPhaseB);
      break;
  }
}

void TClass2Engine::PageDataEnded(int ppm) {
  static const std::vector<uint8_t> kRtc = Rtc();
  SendStuffed(kRtc.data(), kRtc.size());
  const uint8_t etx[2] = {kDle, kEtx};
  SendRaw(etx, 2);
  ppm_ = ppm;
  state_ = TState::TxPageDrain;
  if (ppm >= 0) awaiting_ = true;
}

void TClass2Engine::SendPpm() {
  const int limit = 3;
  if (++ppmTries_ > limit) {
    Finish(ppm_ == 0 ? kHangNoMpsResponse : ppm_ == 1 ? kHangNoEomResponse : kHangNoEopResponse);
    return;
  }
  state_ = TState::TxSendPpm;
  const TFcf fcf = ppm_ == 0 ? kMps : ppm_ == 1 ? kEom : kEop;
  StartSendFrames({Frame(fcf, true, true)});
}

// ---- the receiving side ----------------------------------------------------------

void TClass2Engine::HandleRxFrame(TFcf fcf, const std::vector<uint8_t>& fif) {
  if (fcf == kDcn) {
    if (state_ == TState::RxWaitDcn) Finish(kHangNormal);
    else Finish(state_ == TState::RxWaitPpm ? kHangRxPhaseD : kHangRxPhaseB);
    return;
  }
  switch (state_) {
    case TState::RxWaitDcs:
      if (fcf == kTsi) {
        remoteId_ = ReadIdFrame(fif);
        Report(Name("+FTSI:", "+FTI:") + "\"" + remoteId_ + "\"");
      } else if (fcf == kDcs) {
        session_ = ReadDisOrDcs(fif, true);
        rxRate_ = t30::DcsRate(fif.size() > 1 ? fif[1] : 0);
        if (rxRate_ == nullptr) {
          // V.33 or a reserved code: no training can be heard at it; FTT
          // makes the sender try another rate.
          cfrGood_ = false;
          state_ = TState::RxSendCfr;
          StartSendFrames({Frame(kFtt, true, originate_)});
          break;
        }
        Report(Name("+FDCS:", "+FCS:") + session_.Text());
        state_ = TState::RxTcf;
        tcfBytes_ = tcfNonZero_ = 0;
        StartRecvData(rxRate_ ? *rxRate_ : SendRateOf(session_.br));
      }
      break;
    case TState::RxWaitPpm:
      if (fcf == kMps || fcf == kEom || fcf == kEop) {
        ppm_ = fcf == kMps ? 0 : fcf == kEom ? 1 : 2;
        ppmReceived_ = true;
        MaybeReportPpm();
      }
      break;
    case TState::RxPpmReady:
      // The sender repeated its post-page message: we are still waiting for
      // the program's +FDR.
      break;
    default:
      break;
  }
}

void TClass2Engine::OnOpDone(bool ok) {
  switch (state_) {
    case TState::TxSendDcs:
      state_ = TState::TxSendTcf;
      After(kGap, [this] { StartSendData(SendRateOf(session_.br), true); });
      break;
    case TState::TxSendTcf:
      state_ = TState::TxWaitCfr;
      StartRecvFrame();
      break;
    case TState::TxPageDrain:
      if (ppm_ < 0) {
        state_ = TState::TxWaitFet;
        modem_.Result(TResult::Ok);
      } else {
        ppmTries_ = 0;
        After(kGap, [this] { SendPpm(); });
      }
      break;
    case TState::TxSendPpm:
      state_ = TState::TxWaitPpr;
      StartRecvFrame();
      break;
    case TState::TxSendDcn:
      // The engine says OK as the last bits of DCN go into the modulator,
      // while the line is carrying that very block. Hanging up now would
      // cut the frame's end off at the far side, which then sees a carrier
      // and no frame. A modem sends the whole DCN, drops its carrier, and
      // only then goes on hook.
      After(kDcnHold, [this] { Finish(kHangNormal); });
      break;
    case TState::RxSendDis:
      state_ = TState::RxWaitDcs;
      StartRecvFrame();
      opTimeout_ = kT2;
      break;
    case TState::RxTcf: {
      if (!ok) {
        // No training heard (perhaps the DCS again): listen for frames.
        state_ = TState::RxWaitDcs;
        StartRecvFrame();
        break;
      }
      const size_t expected = static_cast<size_t>(BitRateOf(session_.br) * 3 / 16);
      cfrGood_ = tcfBytes_ >= expected / 2 && tcfNonZero_ * 100 < tcfBytes_ * 10;
      state_ = TState::RxSendCfr;
      StartSendFrames({Frame(cfrGood_ ? kCfr : kFtt, true, originate_)});
      break;
    }
    case TState::RxSendCfr:
      if (!cfrGood_) {
        state_ = TState::RxWaitDcs;
        StartRecvFrame();
        break;
      }
      state_ = TState::RxPage;
      rxPage_.clear();
      rxPageEnded_ = false;
      connectSent_ = false;
      dteStarted_ = false;
      dteEtxSent_ = false;
      ppmReceived_ = false;
      StartRecvData(rxRate_ ? *rxRate_ : SendRateOf(session_.br));
      if (awaiting_ && !pendingFdr_) {
        // ATA completes once the first page may come.
        awaiting_ = false;
        modem_.Result(TResult::Ok);
      }
      break;
    case TState::RxPage:
      // End of the page carrier.
      rxPageEnded_ = true;
      FeedDte();
      state_ = TState::RxWaitPpm;
      StartRecvFrame();
      break;
    case TState::RxSendMcf:
      if (ppm_ == 0) {
        state_ = TState::RxPage;
        rxPage_.clear();
        rxPageEnded_ = false;
        connectSent_ = false;
        dteStarted_ = false;
        dteEtxSent_ = false;
        ppmReceived_ = false;
        StartRecvData(rxRate_ ? *rxRate_ : SendRateOf(session_.br));
      } else if (ppm_ == 1) {
        disTries_ = 0;
        StartPhaseBAnswer();
      } else {
        state_ = TState::RxWaitDcn;
        StartRecvFrame();
      }
      break;
    default:
      break;
  }
}

void TClass2Engine::FeedDte() {
  if (state_ != TState::RxPage && state_ != TState::RxWaitPpm) return;
  if (!connectSent_ || !dteStarted_ || dteEtxSent_) return;
  std::string out;
  for (uint8_t b : rxPage_) {
    out += static_cast<char>(b);
    if (b == kDle) out += static_cast<char>(kDle);
  }
  rxPage_.clear();
  if (rxPageEnded_) {
    out += static_cast<char>(kDle);
    out += static_cast<char>(kEtx);
    dteEtxSent_ = true;
  }
  if (!out.empty()) modem_.Emit(out);
  if (dteEtxSent_) MaybeReportPpm();
}

void TClass2Engine::MaybeReportPpm() {
  if (!ppmReceived_ || !dteEtxSent_ || state_ != TState::RxWaitPpm) return;
  state_ = TState::RxPpmReady;
  Report(Name("+FPTS:", "+FPS:") + "1");
  Report("+FET:" + std::to_string(ppm_));
  pendingFdr_ = false;
  awaiting_ = false;
  modem_.Result(TResult::Ok);
}

void TClass2Engine::DteByte(uint8_t b) {
  if (state_ == TState::TxPage) {
    if (dteDle_) {
      dteDle_ = false;
      if (b == kDle) {
        SendStuffed(&b, 1);
      } else if (b == kEtx) {
        PageDataEnded(-1);
      } else if (Is20() && (b == ',' || b == ';' || b == '.')) {
        PageDataEnded(b == ',' ? 0 : b == ';' ? 1 : 2);
      }
      return;
    }
    if (b == kDle) {
      dteDle_ = true;
      return;
    }
    SendRaw(&b, 1);
    return;
  }
  // Receiving: DC2 (or XON, for programs that use it) starts the data.
  if ((b == kDc2 || b == kXon) && !dteStarted_) {
    dteStarted_ = true;
    FeedDte();
  }
}
