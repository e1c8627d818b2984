// The Class 1 send states: T.30's phase B before each page, the page's end
// and the post-page dialogue, and the disconnect.

#include "faxengine/class1/SendMachine1.h"

#include <cstdio>
#include <cstdlib>

#include "faxengine/session/PageTime.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr int32_t kPostPageWait = 54;  // 3 s for the answer to the post-page message
constexpr int32_t kHangupWait = 26;
constexpr int32_t kPostPagePause = 10;  // about half a second before the post-page message
constexpr int kPostPageTries = 3;
constexpr int kDcsTries = 3;
constexpr int kFrameErrors = 3;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
using S = TSendState1;
using P = TFxPass;

bool Trace() { return std::getenv("CVFAX_TRACE") != nullptr; }
}  // namespace

constexpr std::array<TFxSendMachine1::TRow, 35> TFxSendMachine1::kStates = {{
    {S::tfNone, "tfNone", &TFxSendMachine1::Idle, 30, P::fpInput},
    {S::tfGetEntry, "tfGetEntry", &TFxSendMachine1::GetEntry, 31, P::fpAtOnce},
    {S::tfInit, "tfInit", &TFxSendMachine1::Init, 32, P::fpAtOnce},
    {S::tf1Init1, "tf1Init1", &TFxSendMachine1::Init1, 33, P::fpInput},
    {S::tfDial, "tfDial", &TFxSendMachine1::Dial, 39, P::fpAtOnce},
    {S::tfRetryWait, "tfRetryWait", &TFxSendMachine1::RetryWait, 40, P::fpTrigger},
    {S::tf1Connect, "tf1Connect", &TFxSendMachine1::Connect, 41, P::fpInput},
    {S::tf1SendTSI, "tf1SendTSI", &TFxSendMachine1::SendTSI, 42, P::fpInput},
    {S::tf1TSIResponse, "tf1TSIResponse", &TFxSendMachine1::TSIResponse, 43, P::fpInput},
    {S::tf1DCSResponse, "tf1DCSResponse", &TFxSendMachine1::DCSResponse, 44, P::fpInput},
    {S::tf1TrainStart, "tf1TrainStart", &TFxSendMachine1::TrainStart, 45, P::fpInput},
    {S::tf1TrainFinish, "tf1TrainFinish", &TFxSendMachine1::TrainFinish, 46, P::fpInput},
    {S::tf1WaitCFR, "tf1WaitCFR", &TFxSendMachine1::WaitCFR, 47, P::fpInput},
    {S::tf1WaitPgCn, "tf1WaitPgCn", &TFxSendMachine1::WaitPgCn, 48, P::fpInput},
    {S::tfWaitXon, "tfWaitXon", &TFxSendMachine1::WaitXon, 51, P::fpTrigger},
    {S::tfWaitFrHead, "tfWaitFrHead", &TFxSendMachine1::WaitFrHead, 52, P::fpTrigger},
    {S::tfSndPgeHdr, "tfSndPgeHdr", &TFxSendMachine1::SndPgeHdr, 53, P::fpAtOnce},
    {S::tfOpenCover, "tfOpenCover", &TFxSendMachine1::OpenCoverPage, 54, P::fpAtOnce},
    {S::tfSendCover, "tfSendCover", &TFxSendMachine1::SendCover, 55, P::fpTrigger},
    {S::tfPrepPage, "tfPrepPage", &TFxSendMachine1::PrepPage, 56, P::fpAtOnce},
    {S::tfSendPage, "tfSendPage", &TFxSendMachine1::SendPage, 57, P::fpTrigger},
    {S::tfDrainPage, "tfDrainPage", &TFxSendMachine1::DrainPage, 58, P::fpTrigger},
    {S::tf1PageEnd, "tf1PageEnd", &TFxSendMachine1::PageEnd, 59, P::fpInput},
    {S::tf1PrepEOP, "tf1PrepEOP", &TFxSendMachine1::PrepEOP, 60, P::fpInput},
    {S::tf1SendEOP, "tf1SendEOP", &TFxSendMachine1::SendEOP, 61, P::fpInput},
    {S::tf1WaitMPS, "tf1WaitMPS", &TFxSendMachine1::WaitPostPageAck, 62, P::fpInput},
    {S::tf1WaitEOP, "tf1WaitEOP", &TFxSendMachine1::WaitPostPageAck, 63, P::fpInput},
    {S::tf1WaitMCF, "tf1WaitMCF", &TFxSendMachine1::WaitMCF, 64, P::fpInput},
    {S::tf1SendDCN, "tf1SendDCN", &TFxSendMachine1::SendDCN, 65, P::fpInput},
    {S::tf1Hangup, "tf1Hangup", &TFxSendMachine1::Hangup, 66, P::fpInput},
    {S::tf1WaitHngp, "tf1WaitHngp", &TFxSendMachine1::WaitHngp, 67, P::fpInput},
    {S::tfClose, "tfClose", &TFxSendMachine1::Close, 75, P::fpAtOnce},
    {S::tfCompleteOK, "tfCompleteOK", &TFxSendMachine1::CompleteOK, 76, P::fpAtOnce},
    {S::tfAbort, "tfAbort", &TFxSendMachine1::AbortCall, 77, P::fpAtOnce},
    {S::tfDone, "tfDone", &TFxSendMachine1::Idle, 78, P::fpTrigger},
}};

static_assert(FxTableIndexedByState(TFxSendMachine1::kStates));

TFxSendMachine1::TFxSendMachine1(TFxSessionCore& core) : TFxSendStates(core), TFxClass1Modem(core) {}

std::unique_ptr<TFxMachine> FxNewSendMachine1(TFxSessionCore& core) {
  return std::make_unique<TFxSendMachine1>(core);
}

void TFxSendMachine1::EnterAbort() {
  postPagePause_ = false;
  TFxSendStates::EnterAbort();
}

bool TFxSendMachine1::RunsAtOnce() const {
  if (state_ == S::tf1PrepEOP) return !postPagePause_;
  return TFxSendStates::RunsAtOnce();
}

bool TFxSendMachine1::WaitsForTrigger() const {
  if (state_ == S::tf1PrepEOP) return postPagePause_;
  return TFxSendStates::WaitsForTrigger();
}

void TFxSendMachine1::StartClass() {
  core_.SendCommand("AT+FCLASS=1");
  c1_.collector.Reset();
  state_ = S::tf1Init1;
}

void TFxSendMachine1::StartCall() {
  c1_.NewCall();
  state_ = S::tf1Connect;
}

void TFxSendMachine1::EndPageData() {
  const uint8_t end[2] = {kDle, kEtx};
  core_.WriteRaw(end, 2);
  core_.SetProgress(fxprogress::fpSendPage);
  core_.ArmReply(PageEndWaitTicks(core_.Values().pageLength.load(), c1_.bps));
  c1_.collector.Reset();
  state_ = S::tf1PageEnd;
}

bool TFxSendMachine1::ReadLine1() {
  uint8_t b = 0;
  while (core_.Disp().ReadChar(b)) {
    switch (c1_.collector.Feed(b)) {
      case TFxCollect::ccLine: return true;
      case TFxCollect::ccFrame: {
        const TFxFrame& f = c1_.collector.Frame();
        if (Trace()) {
          std::fprintf(stderr, "[%s] frame %02X (%s)%s%s:", StateName(), f.fcf, FxFrameKindName(f.Kind()),
                       f.Final() ? " final" : "", f.hadFcs ? " fcs" : "");
          for (uint8_t x : f.fif) std::fprintf(stderr, " %02X", x);
          std::fprintf(stderr, "\n");
        }
        c1_.frame = f;
        c1_.haveFrame = true;
        break;
      }
      case TFxCollect::ccBadFrame:
        if (Trace()) std::fprintf(stderr, "[%s] bad frame: %s\n", StateName(), FxFrameErrorText(c1_.collector.Error()));
        c1_.haveFrame = false;
        break;
      case TFxCollect::ccNothing: break;
    }
  }
  return false;
}

bool TFxSendMachine1::TakeLine1(TFxEvent ev, TLine1& in, TOnError onError) {
  if (ev == TFxEvent::evReplyTimer) {
    Fail1(fxcode::ecTimeout);
    return false;
  }
  if (ev != TFxEvent::evData || !ReadLine1()) return false;
  in.line = c1_.collector.Line();
  if (Trace()) std::fprintf(stderr, "[%s] %s\n", StateName(), in.line.c_str());
  if (FxHas(in.line, "ERROR")) {
    if (onError == TOnError::oeListen) {
      // A frame that failed its check (or noise the modem could not make
      // a frame of): listen again, the remote repeats what it sent. A
      // modem that keeps refusing is given up on.
      if (++c1_.frameErrors <= kFrameErrors)
        SendCommand1("AT+FRH=3");
      else
        Fail1(fxcode::ecFaxBadModemResult);
      return false;
    }
    if (onError == TOnError::oeFail) {
      Fail1(fxcode::ecFaxBadModemResult);
      return false;
    }
  }
  in.ok = FxHas(in.line, "OK");
  in.connect = FxHas(in.line, "CONNECT");
  // A frame the modem has confirmed: its identity and what it says about the
  // remote are taken before the state acts on it.
  if (in.ok && c1_.haveFrame) {
    in.frame = true;
    c1_.haveFrame = false;
    c1_.frameErrors = 0;
    c1_.lastFcf = c1_.frame.fcf;
    c1_.lastFinal = c1_.frame.Final();
    switch (c1_.frame.Kind()) {
      case TFxFrameKind::fkDCN:
        core_.Fail(fxcode::ecCancelRequested);
        return false;
      case TFxFrameKind::fkCSI:
        if (state_ == S::tf1Connect) {
          core_.SetRemoteId(FxDecodeId(c1_.frame.fif));
          core_.SetProgress(fxprogress::fpGotRemoteID);
        }
        break;
      case TFxFrameKind::fkDIS:
        if (state_ == S::tf1Connect && !TakeDis1(c1_.frame)) return false;
        break;
      default: break;
    }
    in.kind = c1_.frame.Kind();
  }
  return true;
}

// Reads the remote's DIS; false when the session ended on it.
bool TFxSendMachine1::TakeDis1(const TFxFrame& frame) {
  TFxDisInfo dis;
  // A DIS too short to read offers nothing; the remote repeats it.
  if (!FxDecodeDis(frame.fif, dis)) return true;
  const bool fine = page_.HighRes();
  const bool wide = page_.Wide();
  // A station that cannot receive, or cannot take the page as it is, is
  // no partner for this fax.
  if (!dis.receives || (fine && !dis.fine) || (wide && !dis.wide)) {
    Disconnect1(fxcode::ecFaxBadMachine);
    return false;
  }
  // After EOM the next document starts at the speed the line took last
  // time, not again at the top where it failed.
  const int chosen = FxChooseSpeed(c1_.local, dis.speeds, core_.Settings().desiredBps);
  const int index = c1_.afterEom && c1_.speedIndex < chosen ? c1_.speedIndex : chosen;
  c1_.remote = dis;
  c1_.haveDis = true;
  c1_.SetSpeed(index);
  c1_.scanTimeCode = dis.scanTimeCode;
  c1_.fine = fine;
  c1_.wide = wide;
  c1_.dcsTries = 0;
  c1_.afterEom = false;
  core_.Negotiated().bps = c1_.bps;
  core_.Negotiated().scanTimeCode = dis.scanTimeCode;
  core_.Negotiated().fine = fine;
  core_.Negotiated().wide = wide;
  core_.Negotiated().ecm = false;
  core_.Values().connectBps = c1_.bps;
  core_.Values().connectFine = fine;
  core_.Values().connectWide = wide;
  core_.Values().connectEcm = false;
  core_.SetProgress(fxprogress::fpSessionParams);
  return true;
}

void TFxSendMachine1::Disconnect1(int code) {
  // The remote is told with DCN before the line is dropped; the error is
  // reported once the modem has hung up.
  c1_.pendingError = code;
  core_.Pause(200);
  SendCommand1("AT+FTH=3");
  state_ = S::tf1SendDCN;
}

void TFxSendMachine1::Fail1(int code) { core_.Fail(c1_.pendingError != 0 ? c1_.pendingError : code); }

bool TFxSendMachine1::LowerSpeed1() {
  const int next = FxStepDown(c1_.local, c1_.remote.speeds, c1_.speedIndex);
  if (next == 0) {
    Disconnect1(fxcode::ecFaxTrainError);
    return false;
  }
  c1_.SetSpeed(next);
  c1_.dcsTries = 0;
  core_.Negotiated().bps = c1_.bps;
  core_.Values().connectBps = c1_.bps;
  minLineBytes_ = FxMinLineBytes(c1_.scanTimeCode, page_.HighRes(), c1_.bps);
  return true;
}

void TFxSendMachine1::StepDown1() {
  if (!LowerSpeed1()) return;
  core_.Pause(200);
  SendCommand1("AT+FTH=3");
  state_ = S::tf1SendTSI;
}

void TFxSendMachine1::ReturnToPhaseB1() {
  SendCommand1("AT+FRH=3");
  c1_.haveDis = false;
  c1_.afterEom = true;
  state_ = S::tf1Connect;
}

void TFxSendMachine1::Init1(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  state_ = S::tfDial;
}

void TFxSendMachine1::Connect(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    if (c1_.afterEom && c1_.remote.receives) {
      // A remote that waits for the next DCS instead of repeating its DIS:
      // end the reception and go on with the capabilities it gave before.
      c1_.afterEom = false;
      c1_.haveDis = true;
      core_.WriteRaw(" ", 1);
      core_.Pause(200);
      SendCommand1("AT+FTH=3");
      state_ = S::tf1SendTSI;
      return;
    }
    return core_.Fail(fxcode::ecFaxNoAnswer);
  }
  TLine1 in;
  if (!TakeLine1(ev, in, TOnError::oeListen)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  const bool frame = in.frame;
  const std::string& line = in.line;
  if (ok) {
    if (!frame) return;
    if (c1_.lastFinal && c1_.haveDis) {
      core_.Pause(200);
      SendCommand1("AT+FTH=3");
      state_ = S::tf1SendTSI;
    } else {
      // More frames of the burst follow, or the remote has still to
      // send its DIS.
      SendCommand1("AT+FRH=3");
    }
  } else if (connect) {
    core_.ArmReply(kReplyWait);
  } else if (FxHas(line, "BUSY") || FxHas(line, "ANSWER")) {
    BusyHandling();
  } else if (FxHas(line, "VOICE") || FxHas(line, "VCON")) {
    core_.Fail(fxcode::ecFaxVoiceCall);
  } else if (FxHas(line, "NO DIAL")) {
    core_.Fail(fxcode::ecFaxNoDialTone);
  } else if (FxHas(line, "RRIER")) {
    core_.Fail(fxcode::ecFaxNoCarrier);
  }
}

void TFxSendMachine1::SendTSI(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  // TSI goes before every DCS, also after FTT, RTN and RTP: receivers
  // (spandsp's among them) miss a lone DCS that follows their FTT.
  if (!connect) return;
  SendFrame1(TFxFcf::TSI, false, FxEncodeId(core_.Settings().stationId));
  state_ = S::tf1TSIResponse;
}

void TFxSendMachine1::TSIResponse(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  if (!connect) return;
  c1_.fine = page_.HighRes();
  c1_.wide = page_.Wide();
  core_.Negotiated().fine = c1_.fine;
  core_.Negotiated().wide = c1_.wide;
  core_.Values().connectFine = c1_.fine;
  core_.Values().connectWide = c1_.wide;
  SendFrame1(TFxFcf::DCS, true, FxEncodeDcs(c1_.speedIndex, c1_.fine, c1_.wide, c1_.scanTimeCode, c1_.remote));
  state_ = S::tf1DCSResponse;
}

void TFxSendMachine1::DCSResponse(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return;
  SendCommand1(std::string("AT+FTM=") + c1_.LongTrain());
  state_ = S::tf1TrainStart;
}

void TFxSendMachine1::TrainStart(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  if (!connect) return;
  if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfBoth);
  const std::vector<uint8_t> tcf = FxBuildTrainingCheck(c1_.bps);
  core_.WriteRaw(tcf.data(), tcf.size());
  core_.ArmReply(kReplyWait);
  state_ = S::tf1TrainFinish;
}

void TFxSendMachine1::TrainFinish(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return;
  if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfNone);
  core_.Pause(200);
  SendCommand1("AT+FRH=3");
  c1_.cfrReceived = false;
  state_ = S::tf1WaitCFR;
}

void TFxSendMachine1::WaitCFR(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    // Neither CFR nor FTT: the remote missed the DCS or the training.
    // Abort the frame reception and send both again.
    if (++c1_.dcsTries >= kDcsTries) return core_.Fail(fxcode::ecTimeout);
    core_.WriteRaw(" ", 1);
    core_.Pause(200);
    SendCommand1("AT+FTH=3");
    state_ = S::tf1SendTSI;
    return;
  }
  TLine1 in;
  if (!TakeLine1(ev, in, TOnError::oeListen)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  const bool frame = in.frame;
  const TFxFrameKind kind = in.kind;
  if (connect) {
    core_.ArmReply(kReplyWait);
    return;
  }
  if (!ok || !frame) return;
  if (kind == TFxFrameKind::fkFTT) return StepDown1();
  if (kind == TFxFrameKind::fkCFR) c1_.cfrReceived = true;
  if (!c1_.lastFinal) {
    SendCommand1("AT+FRH=3");
    return;
  }
  core_.Pause(200);
  if (c1_.cfrReceived) {
    // The training check has set the receiver up: page data follows
    // with the short train, which is what the receiver now expects.
    c1_.dcsTries = 0;
    minLineBytes_ = FxMinLineBytes(c1_.scanTimeCode, page_.HighRes(), c1_.bps);
    SendCommand1(std::string("AT+FTM=") + c1_.ShortTrain());
    state_ = S::tf1WaitPgCn;
  } else {
    // Something else than an answer to the training (the remote's DIS
    // again): DCS and training once more.
    if (++c1_.dcsTries >= kDcsTries) return Disconnect1(fxcode::ecFaxTrainError);
    SendCommand1("AT+FTH=3");
    state_ = S::tf1SendTSI;
  }
}

void TFxSendMachine1::WaitPgCn(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  if (!connect) return;
  core_.ArmReply(kXonWait);
  state_ = S::tfWaitXon;
}

void TFxSendMachine1::PageEnd(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return;
  c1_.postPageTries = 0;
  core_.SetProgress(fxprogress::fpSendPageStatus);
  state_ = S::tf1PrepEOP;
}

void TFxSendMachine1::SendEOP(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in, TOnError::oeLine)) return;
  if (!in.connect) return;
  auto* sf = SendFax();
  const bool keep = sf && sf->KeepPageParameters;
  // MPS keeps the DCS of this page: only when the next page can use it.
  const TFxFcf ppm = !morePages_ ? TFxFcf::EOP : keep && !resolutionChanges_ ? TFxFcf::MPS : TFxFcf::EOM;
  SendFrame1(ppm, true);
  state_ = S::tf1WaitMPS;
}

void TFxSendMachine1::WaitPostPageAck(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in, state_ == S::tf1WaitEOP ? TOnError::oeLine : TOnError::oeFail)) return;
  if (!in.ok) return;
  core_.Pause(200);
  SendCommand1("AT+FRH=3");
  core_.ArmReply(kPostPageWait);
  c1_.responseStarted = false;
  state_ = S::tf1WaitMCF;
}

void TFxSendMachine1::WaitMCF(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    // A byte ends the modem's frame reception; the post-page message goes again.
    core_.WriteRaw(" ", 1);
    state_ = S::tf1PrepEOP;
    return;
  }
  TLine1 in;
  if (!TakeLine1(ev, in, TOnError::oeLine)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  const bool frame = in.frame;
  const TFxFrameKind kind = in.kind;
  const std::string& line = in.line;
  if (connect) {
    // The answer is arriving: give the frame the time it takes.
    c1_.responseStarted = true;
    core_.ArmReply(kReplyWait);
    return;
  }
  if (FxHas(line, "ERROR")) {
    state_ = S::tf1PrepEOP;
    return;
  }
  if (!ok || !frame) return;
  auto* sf = SendFax();
  const bool keep = sf && sf->KeepPageParameters && !resolutionChanges_;
  // The post-page message was EOM: whatever the answer, the receiver
  // goes back to the start of the negotiation (a DCS sent before its new
  // DIS is refused by receivers that wait for their own turn).
  const bool eom = morePages_ && !keep;
  switch (kind) {
    case TFxFrameKind::fkMCF:
      core_.SetProgress(fxprogress::fpPageOK);
      resendCount_ = 0;
      if (!morePages_) {
        core_.Pause(200);
        SendCommand1("AT+FTH=3");
        state_ = S::tf1SendDCN;
      } else if (keep) {
        // Same parameters, no new training: the receiver expects the
        // short train again.
        core_.Pause(200);
        SendCommand1(std::string("AT+FTM=") + c1_.ShortTrain());
        state_ = S::tf1WaitPgCn;
      } else {
        ReturnToPhaseB1();
      }
      return;
    case TFxFrameKind::fkRTP:
      core_.SetProgress(fxprogress::fpPageOK);
      resendCount_ = 0;
      if (eom) return ReturnToPhaseB1();
      core_.Pause(200);
      SendCommand1("AT+FTH=3");
      state_ = morePages_ ? S::tf1SendTSI : S::tf1SendDCN;
      return;
    case TFxFrameKind::fkRTN:
      // The page arrived damaged: send it again after a new training at
      // a lower speed, as often as a Class 2 modem would.
      core_.SetProgress(fxprogress::fpPageError);
      if (++resendCount_ > 2) return Disconnect1(fxcode::ecFaxSessionError);
      RewindToSentPage();
      if (!eom) return StepDown1();
      // The DCS that follows the receiver's new DIS takes the lower
      // speed (TakeDis1 keeps the speed the line took).
      if (LowerSpeed1()) ReturnToPhaseB1();
      return;
    default:
      if (!c1_.lastFinal) {
        SendCommand1("AT+FRH=3");
        return;
      }
      // A complete answer that confirms nothing (a receiver repeating
      // its CFR has not seen the page): the post-page message goes again
      // at once, counted like one that went unanswered.
      state_ = S::tf1PrepEOP;
      return;
  }
}

void TFxSendMachine1::SendDCN(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  if (!connect) return;
  SendFrame1(TFxFcf::DCN, true);
  state_ = S::tf1Hangup;
}

void TFxSendMachine1::Hangup(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return;
  core_.SendCommand("ATH");
  core_.ArmReply(kHangupWait);
  state_ = S::tf1WaitHngp;
}

void TFxSendMachine1::WaitHngp(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    if (c1_.pendingError != 0) return Fail1(fxcode::ecTimeout);
    DropQueued();
    if (!core_.HangUp(THangupKind::hkSend)) return;
    state_ = S::tfClose;
    return;
  }
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return;
  core_.DisarmReply();
  if (c1_.pendingError != 0) return Fail1(c1_.pendingError);
  state_ = S::tfClose;
}

void TFxSendMachine1::PrepEOP(TFxEvent ev) {
  // The pause before the post-page message runs on the reply timer; what
  // the modem sends meanwhile waits in the ring for the next state.
  if (!postPagePause_) {
    if (++c1_.postPageTries > kPostPageTries) {
      core_.Fail(fxcode::ecTimeout);
      return;
    }
    postPagePause_ = true;
    core_.ArmReply(kPostPagePause);
    return;
  }
  if (ev != TFxEvent::evReplyTimer) return;
  postPagePause_ = false;
  SendCommand1("AT+FTH=3");
  state_ = S::tf1SendEOP;
}
