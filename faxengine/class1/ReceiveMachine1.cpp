// The Class 1 receive states: answering with CSI and DIS, the caller's
// frames and training check, the pages and the post-page dialogue.

#include "faxengine/class1/ReceiveMachine1.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int32_t kFrameWait = 54;           // 3 s for the caller's next frames
constexpr int32_t kTrainingStartWait = 64;   // the check starts 75 ms after DCS and lasts 1.5 s
constexpr auto kTrainingLimit = std::chrono::seconds(5);  // a check runs 1.5 s; one that never ends is bad
constexpr int kMaxCollectRetries = 3;
constexpr int kMaxTrainings = 12;            // a caller that never steps down is given up
constexpr int kMaxBadFrames = 6;             // frames with a bad check sum in one wait
using R = TReceiveState1;
using P = TFxPass;

bool Trace() { return std::getenv("CVFAX_TRACE") != nullptr; }
}  // namespace

// --- reading the caller's frames ---------------------------------------------------------

void TFxClass1Receive::StartBurst() {
  frameArrived = false;
  lastFinal = false;
  lastFcf = 0;
  badFrames = 0;
  haveDcs = badDcs = false;
  haveTsi = false;
  dcn = false;
}

void TFxClass1Receive::Take(const TFxFrame& f, bool wantDcs) {
  frameArrived = true;
  lastFinal = f.Final();
  lastFcf = f.fcf;
  switch (f.Kind()) {
    case TFxFrameKind::fkDCN: dcn = true; return;
    case TFxFrameKind::fkCSI:
      if (!wantDcs) return;
      haveTsi = true;
      remoteId = FxDecodeId(f.fif);
      return;
    case TFxFrameKind::fkDCS: {
      if (!wantDcs) return;
      TFxDcsInfo d;
      if (FxDecodeDcs(f.fif, d)) {
        dcs = d;
        haveDcs = true;
        badDcs = false;
      } else if (!haveDcs) {
        badDcs = true;
      }
      return;
    }
    default: return;  // other frames carry nothing this machine uses
  }
}

TFxPostPage TFxClass1Receive::PostPage() const {
  if (!frameArrived || !lastFinal) return TFxPostPage::ppNone;
  switch (FxFrameKind(lastFcf)) {
    case TFxFrameKind::fkMPS: return TFxPostPage::ppMPS;
    case TFxFrameKind::fkEOM: return TFxPostPage::ppEOM;
    default: return TFxPostPage::ppEOP;
  }
}

constexpr std::array<TFxReceiveMachine1::TRow, 28> TFxReceiveMachine1::kStates = {{
    {R::rfNone, "rfNone", &TFxReceiveMachine1::Idle, 79, P::fpInput},
    {R::rfInit, "rfInit", &TFxReceiveMachine1::Init, 80, P::fpAtOnce},
    {R::rf1Init1, "rf1Init1", &TFxReceiveMachine1::Init1, 81, P::fpInput},
    {R::rfWaiting, "rfWaiting", &TFxReceiveMachine1::Waiting, 87, P::fpInput},
    {R::rfAnswer, "rfAnswer", &TFxReceiveMachine1::Answer, 88, P::fpAtOnce},
    {R::rf1SendCSI, "rf1SendCSI", &TFxReceiveMachine1::SendCSI, 89, P::fpInput},
    {R::rf1SendDIS, "rf1SendDIS", &TFxReceiveMachine1::SendDIS, 90, P::fpInput},
    {R::rf1CollFrames, "rf1CollFrames", &TFxReceiveMachine1::CollFrames, 91, P::fpInput},
    {R::rf1CollRtry1, "rf1CollRtry1", &TFxReceiveMachine1::CollRetry, 92, P::fpTrigger},
    {R::rf1CollRtry2, "rf1CollRtry2", &TFxReceiveMachine1::CollRetry, 93, P::fpTrigger},
    {R::rf1StartTrain, "rf1StartTrain", &TFxReceiveMachine1::StartTrain, 94, P::fpInput},
    {R::rf1CollTrn, "rf1CollTrn", &TFxReceiveMachine1::CollTrn, 95, P::fpTrigger},
    {R::rf1Timeout, "rf1Timeout", &TFxReceiveMachine1::Idle, 96, P::fpInput},
    {R::rf1Retrain, "rf1Retrain", &TFxReceiveMachine1::Retrain, 97, P::fpInput},
    {R::rf1FinishTrain, "rf1FinishTrain", &TFxReceiveMachine1::FinishTrain, 98, P::fpInput},
    {R::rf1SendCFR, "rf1SendCFR", &TFxReceiveMachine1::SendCFR, 99, P::fpInput},
    {R::rf1WtPgCnnct, "rf1WtPgCnnct", &TFxReceiveMachine1::WtPgCnnct, 100, P::fpInput},
    {R::rfStartPage, "rfStartPage", &TFxReceiveMachine1::StartPageData, 104, P::fpAtOnce},
    {R::rfGtPgDta, "rfGtPgDta", &TFxReceiveMachine1::PageData, 105, P::fpInput},
    {R::rf1FinPage, "rf1FinPage", &TFxReceiveMachine1::FinPage, 106, P::fpInput},
    {R::rf1WaitEOP, "rf1WaitEOP", &TFxReceiveMachine1::WaitEOP, 107, P::fpInput},
    {R::rf1WritePage, "rf1WritePage", &TFxReceiveMachine1::WritePage, 108, P::fpAtOnce},
    {R::rf1SendMCF, "rf1SendMCF", &TFxReceiveMachine1::SendMCF, 109, P::fpInput},
    {R::rf1WaitDCN, "rf1WaitDCN", &TFxReceiveMachine1::WaitDCN, 110, P::fpInput},
    {R::rf1WtHngp, "rf1WtHngp", &TFxReceiveMachine1::WtHngp, 111, P::fpInput},
    {R::rfComplete, "rfComplete", &TFxReceiveMachine1::Complete, 114, P::fpAtOnce},
    {R::rfAbort, "rfAbort", &TFxReceiveMachine1::AbortCall, 115, P::fpAtOnce},
    {R::rfDone, "rfDone", &TFxReceiveMachine1::Idle, 116, P::fpTrigger},
}};

static_assert(FxTableIndexedByState(TFxReceiveMachine1::kStates));

std::unique_ptr<TFxMachine> FxNewReceiveMachine1(TFxSessionCore& core) {
  return std::make_unique<TFxReceiveMachine1>(core);
}

void TFxReceiveMachine1::StartClass() {
  core_.SendCommand("AT+FCLASS=1");
  c1_.collector.Reset();
  state_ = R::rf1Init1;
}

void TFxReceiveMachine1::StartAnswer() {
  rx1_ = TFxClass1Receive();
  c1_.collector.Reset();
  state_ = R::rf1SendCSI;
}

void TFxReceiveMachine1::EndPageData() {
  c1_.collector.Reset();
  state_ = R::rf1FinPage;
}

void TFxReceiveMachine1::Step(TFxEvent ev) {
  const R entered = state_;
  do {
    lineTaken_ = false;
    TFxReceiveStates::Step(ev);
    ev = TFxEvent::evData;
  } while (lineTaken_ && state_ == entered && !core_.Finished());
}

bool TFxReceiveMachine1::TakeLine1(TFxEvent ev, TLine1& in) {
  if (ev == TFxEvent::evReplyTimer) {
    if (Trace()) std::fprintf(stderr, "[%s] reply timer\n", StateName());
    core_.Fail(fxcode::ecTimeout);
    return false;
  }
  if (ev != TFxEvent::evData && ev != TFxEvent::evRun) return false;
  bool got = false;
  uint8_t b = 0;
  while (!got && core_.Disp().ReadChar(b)) {
    switch (c1_.collector.Feed(b)) {
      case TFxCollect::ccNothing: break;
      case TFxCollect::ccLine: got = true; break;
      case TFxCollect::ccFrame: {
        // A frame counts once the modem's OK has confirmed its check sum.
        const TFxFrame& f = c1_.collector.Frame();
        if (Trace())
          std::fprintf(stderr, "[%s] frame %s%s (%zu bytes)\n", StateName(), FxFrameKindName(f.Kind()),
                       f.Final() ? " final" : "", f.fif.size());
        rx1Frame_ = f;
        rx1FramePending_ = true;
        break;
      }
      case TFxCollect::ccBadFrame:
        if (Trace()) std::fprintf(stderr, "[%s] bad frame: %s\n", StateName(), FxFrameErrorText(c1_.collector.Error()));
        break;
    }
  }
  if (!got) return false;
  lineTaken_ = true;
  in.line = c1_.collector.Line();
  const std::string& line = in.line;
  if (Trace()) std::fprintf(stderr, "[%s] %s\n", StateName(), line.c_str());
  in.ok = line == "OK" || FxHas(line, "OK");
  in.connect = FxHas(line, "CONNECT");
  in.noCarrier = FxHas(line, "RRIER");
  // The modem heard V.21 where it waited for the high-speed carrier: the
  // caller is sending frames (a repeated DCS), which are collected again.
  if (FxHas(line, "+FCERROR")) {
    if (state_ == R::rf1StartTrain || state_ == R::rf1WtPgCnnct) {
      // In place of a page: it was lost, and its post-page message is
      // answered with RTN.
      rx1_.pageLost = state_ == R::rf1WtPgCnnct;
      StartFrameReception(kFrameWait);
      state_ = R::rf1CollFrames;
      return false;
    }
    core_.Fail(fxcode::ecFaxBadModemResult);
    return false;
  }
  const bool error = FxHas(line, "ERROR");
  const bool framing = state_ == R::rf1CollFrames || state_ == R::rf1WaitEOP || state_ == R::rf1WaitDCN;
  const bool pending = rx1FramePending_;
  rx1FramePending_ = false;
  if (error && framing) {
    // A frame with a bad check sum is dropped: the caller repeats what goes
    // unanswered.
    if (++rx1_.badFrames > kMaxBadFrames) {
      core_.Fail(fxcode::ecFaxBadModemResult);
      return false;
    }
    const int bad = rx1_.badFrames;
    const bool tsi = rx1_.haveTsi, dcs = rx1_.haveDcs;
    StartFrameReception(state_ == R::rf1CollFrames ? kFrameWait : kReplyWait);
    // What arrived intact in this burst still counts.
    rx1_.badFrames = bad;
    rx1_.haveTsi = tsi;
    rx1_.haveDcs = dcs;
    return false;
  }
  if (in.ok && pending && framing) {
    AcceptFrame1(rx1Frame_);
    if (core_.Finished() || state_ == R::rfAbort) return false;
  }
  if (error) {
    core_.Fail(fxcode::ecFaxBadModemResult);
    return false;
  }
  return true;
}

// Ends a pending AT+FRM=/AT+FRH=3 (any character does) and drops the modem's
// answer to that, so that it is not taken for the answer to what follows.
void TFxReceiveMachine1::StopClass1Reception() {
  core_.WriteRaw("\r", 1);
  core_.Pause(150);
  core_.PurgeInput();
  c1_.collector.Reset();
}

// ticks 0 keeps the running reply timer.
void TFxReceiveMachine1::StartFrameReception(int32_t ticks) {
  if (ticks > 0) {
    SendCommand1("AT+FRH=3");
    core_.ArmReply(ticks);
  } else {
    core_.Pause(40);
    core_.WriteRaw("AT+FRH=3\r", 9);
    c1_.collector.Reset();
  }
  rx1_.StartBurst();
  rx1FramePending_ = false;
}

// The training check failed or was not heard: FTT follows, and the caller
// sends a new DCS, normally at a lower speed.
void TFxReceiveMachine1::RefuseTraining() {
  SendCommand1("AT+FTH=3");
  state_ = R::rf1Retrain;
}

void TFxReceiveMachine1::AcceptFrame1(const TFxFrame& f) {
  if (state_ != R::rf1CollFrames && state_ != R::rf1WaitEOP && state_ != R::rf1WaitDCN) return;
  const bool hadTsi = rx1_.haveTsi, hadDcs = rx1_.haveDcs;
  rx1_.Take(f, state_ == R::rf1CollFrames);
  if (rx1_.dcn) {
    if (state_ != R::rf1WaitDCN) return core_.Fail(fxcode::ecCancelRequested);
    core_.ClearError();
    return;
  }
  if (rx1_.haveTsi && !hadTsi) {
    core_.SetRemoteId(rx1_.remoteId);
    core_.SetProgress(fxprogress::fpGotRemoteID);
    core_.Status(0);
  }
  if (rx1_.haveDcs && !hadDcs) {
    c1_.dcs = rx1_.dcs;
    c1_.SetSpeed(rx1_.dcs.speedIndex);
    c1_.fine = rx1_.dcs.fine;
    c1_.wide = rx1_.dcs.wide;
    c1_.scanTimeCode = rx1_.dcs.scanTimeCode;
    core_.Values().connectBps = c1_.bps;
    core_.Values().connectFine = c1_.fine;
    core_.Values().connectWide = c1_.wide;
    core_.Values().connectEcm = false;
    core_.SetProgress(fxprogress::fpSessionParams);
  }
}

// Completes the page whose post-page message has arrived.
void TFxReceiveMachine1::WritePage(TFxEvent) {
  const int rc = rxFile_.CompletePage(core_.RemoteId());
  if (rc < 0) return core_.Fail(rc);
  SendCommand1("AT+FTH=3");
  core_.SetProgress(fxprogress::fpCheckMorePages);
  core_.Status(0);
  state_ = R::rf1SendMCF;
}

void TFxReceiveMachine1::Init1(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  core_.SwitchToNormalBaud();
  core_.DisarmReply();
  core_.SetProgress(fxprogress::fpWaiting);
  state_ = R::rfWaiting;
}

void TFxReceiveMachine1::SendCSI(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    if (rx1_.retries == 0) return core_.Fail(fxcode::ecTimeout);
    state_ = R::rf1CollRtry1;
    return CollRetry(ev);
  }
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  const bool noCarrier = in.noCarrier;
  if (connect) {
    SendFrame1(TFxFcf::CSI, false, FxEncodeId(core_.Settings().stationId));
    state_ = R::rf1SendDIS;
  } else if (noCarrier) {
    // The answer or the frame burst found no fax machine on the line.
    core_.Fail(fxcode::ecFaxNoCarrier);
  }
}

void TFxReceiveMachine1::SendDIS(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  if (connect) {
    SendFrame1(TFxFcf::DIS, true, FxEncodeDis(c1_.localMax));
  } else if (ok) {
    core_.Pause(400);
    StartFrameReception(kFrameWait);
    state_ = R::rf1CollFrames;
  }
}

void TFxReceiveMachine1::CollFrames(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    state_ = R::rf1CollRtry1;
    return CollRetry(ev);
  }
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  const bool noCarrier = in.noCarrier;
  if (connect) return;
  if (noCarrier) {
    state_ = R::rf1CollRtry1;
    return;
  }
  if (!ok) return;
  if (!rx1_.lastFinal || !rx1_.frameArrived) {
    const bool tsi = rx1_.haveTsi, dcs = rx1_.haveDcs;
    StartFrameReception(kFrameWait);
    rx1_.haveTsi = tsi;
    rx1_.haveDcs = dcs;
    return;
  }
  if (!rx1_.haveDcs && rx1_.pageLost && rx1_.PostPage() != TFxPostPage::ppNone &&
      FxFrameKind(rx1_.lastFcf) != TFxFrameKind::fkDCN) {
    // The page this post-page message ends never trained: RTN makes the
    // caller train again (normally lower) before it goes on.
    if (++rx1_.trainings > kMaxTrainings) return core_.Fail(fxcode::ecFaxTrainError);
    rx1_.pageLost = false;
    rx1_.sendRtn = true;
    SendCommand1("AT+FTH=3");
    state_ = R::rf1Retrain;
    return;
  }
  if (!rx1_.haveDcs) {
    // A burst without a usable DCS (a DCS for a modulation this station
    // did not offer, or something else entirely): DIS again.
    if (rx1_.badDcs) return core_.Fail(fxcode::ecFaxBadMachine);
    state_ = R::rf1CollRtry1;
    return;
  }
  if (++rx1_.trainings > kMaxTrainings) return core_.Fail(fxcode::ecFaxTrainError);
  if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfReceive);
  // Faster than this station receives or offered: the check is heard
  // out and refused, so that the caller steps down.
  rx1_.refuseTraining = !c1_.local.Has(c1_.speedIndex) || c1_.speedIndex > c1_.localMax;
  SendCommand1("AT+FRM=" + c1_.dcs.longTrain);
  core_.ArmReply(kTrainingStartWait);
  state_ = R::rf1StartTrain;
}

void TFxReceiveMachine1::StartTrain(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    // No training check came: refused as a bad one.
    StopClass1Reception();
    return RefuseTraining();
  }
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  const bool noCarrier = in.noCarrier;
  if (connect) {
    rx1_.training = TFxTrainingCheck(c1_.bps);
    rx1_.trainingDeadline = std::chrono::steady_clock::now() + kTrainingLimit;
    core_.ArmReply(kReplyWait);
    state_ = R::rf1CollTrn;
  } else if (noCarrier) {
    RefuseTraining();
  }
}

void TFxReceiveMachine1::Retrain(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  if (connect) {
    SendFrame1(rx1_.sendRtn ? TFxFcf::RTN : TFxFcf::FTT, true);
  } else if (ok) {
    const bool rtn = rx1_.sendRtn;
    rx1_.sendRtn = false;
    if (!rtn && c1_.speedIndex <= kFxMinSpeedIndex && !rx1_.refuseTraining)
      return core_.Fail(fxcode::ecFaxTrainError);
    StartFrameReception(kFrameWait);
    state_ = R::rf1CollFrames;
  }
}

void TFxReceiveMachine1::FinishTrain(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool noCarrier = in.noCarrier;
  if (!noCarrier) return;
  if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfNone);
  core_.Pause(20);
  SendCommand1("AT+FTH=3");
  state_ = R::rf1SendCFR;
}

void TFxReceiveMachine1::SendCFR(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  if (connect) {
    if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfReceive);
    SendFrame1(TFxFcf::CFR, true);
    return;
  }
  if (!ok) return;
  // Pages after a confirmed training come with the short training.
  SendCommand1("AT+FRM=" + c1_.dcs.shortTrain);
  state_ = R::rf1WtPgCnnct;
  if (rxFile_.IsOpen()) return;
  if (core_.Notify(TFaxMessage::fmAccept, 0) != 0) {
    CreateReceivedFile();
  } else {
    core_.Fail(fxcode::ecFileRejected);
    core_.Notify(TFaxMessage::fmLog, 6);
  }
}

void TFxReceiveMachine1::WtPgCnnct(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool connect = in.connect;
  if (connect) {
    core_.SetProgress(fxprogress::fpSessionParams);
    core_.Status(0);
    state_ = R::rfStartPage;
  }
}

void TFxReceiveMachine1::FinPage(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool noCarrier = in.noCarrier;
  if (!noCarrier) return;
  StartFrameReception(kReplyWait);
  state_ = R::rf1WaitEOP;
}

void TFxReceiveMachine1::WaitEOP(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  const bool noCarrier = in.noCarrier;
  if (connect) return;
  if (noCarrier) {
    // Listening again, within the same wait, a few times: a caller that
    // has gone leaves nothing but the time-out.
    if (++rx1_.noCarriers <= kMaxBadFrames) StartFrameReception(0);
    return;
  }
  if (!ok) return;
  const TFxPostPage post = rx1_.PostPage();
  if (post == TFxPostPage::ppNone) {
    StartFrameReception(kReplyWait);
    return;
  }
  rx1_.eom = post == TFxPostPage::ppEOM;
  rx1_.morePages = post != TFxPostPage::ppEOP;
  core_.SetProgress(fxprogress::fpGetPageResult);
  core_.Status(0);
  state_ = R::rf1WritePage;
}

void TFxReceiveMachine1::SendMCF(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  if (connect) {
    // A response ends its burst: MCF is always final, also before the
    // CSI and DIS that follow an EOM.
    SendFrame1(TFxFcf::MCF, true);
    return;
  }
  if (!ok) return;
  if (rx1_.repeatMcf) {
    rx1_.repeatMcf = false;
    StartFrameReception(kReplyWait);
    state_ = R::rf1WaitDCN;
  } else if (rx1_.morePages && rx1_.eom) {
    core_.Pause(200);
    rx1_.retries = 0;
    SendCommand1("AT+FTH=3");
    state_ = R::rf1SendCSI;
  } else if (rx1_.morePages) {
    SendCommand1("AT+FRM=" + c1_.dcs.shortTrain);
    state_ = R::rf1WtPgCnnct;
  } else {
    core_.Pause(200);
    StartFrameReception(kReplyWait);
    rxFile_.Close();
    core_.Notify(TFaxMessage::fmLog, 5);
    core_.SetProgress(fxprogress::fpGetHangup);
    core_.Status(0);
    state_ = R::rf1WaitDCN;
  }
}

void TFxReceiveMachine1::WaitDCN(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    state_ = R::rfComplete;
    return;
  }
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  const bool connect = in.connect;
  const bool noCarrier = in.noCarrier;
  if (connect) return;
  if (noCarrier) {
    // The caller hung up without DCN: the fax is complete all the same.
    SendCommand1("ATH");
    state_ = R::rf1WtHngp;
    return;
  }
  if (!ok) return;
  if (rx1_.PostPage() == TFxPostPage::ppNone) {
    StartFrameReception(kReplyWait);
    return;
  }
  if (FxFrameKind(rx1_.lastFcf) == TFxFrameKind::fkEOP && !rx1_.repeatMcf) {
    // The caller did not hear the MCF and asks again.
    rx1_.repeatMcf = true;
    SendCommand1("AT+FTH=3");
    state_ = R::rf1SendMCF;
    return;
  }
  SendCommand1("ATH");
  state_ = R::rf1WtHngp;
}

void TFxReceiveMachine1::WtHngp(TFxEvent ev) {
  TLine1 in;
  if (!TakeLine1(ev, in)) return;
  const bool ok = in.ok;
  if (!ok) return;
  core_.SetProgress(fxprogress::fpGotHangup);
  core_.Status(0);
  state_ = R::rfComplete;
}

// Nothing usable from the caller: CSI and DIS go out again, at most three
// more times.
void TFxReceiveMachine1::CollRetry(TFxEvent) {
  if (state_ == R::rf1CollRtry1) {
    if (++rx1_.retries > kMaxCollectRetries) return core_.Fail(fxcode::ecTimeout);
    core_.WriteRaw("AT\r", 3);
    core_.ArmReply(kReplyWait);
    state_ = R::rf1CollRtry2;
    return;
  }
  core_.Pause(100);
  core_.PurgeInput();
  SendCommand1("AT+FTH=3");
  state_ = R::rf1SendCSI;
}

void TFxReceiveMachine1::CollTrn(TFxEvent ev) {
  if (ev == TFxEvent::evReplyTimer) {
    StopClass1Reception();
    return RefuseTraining();
  }
  uint8_t b = 0;
  bool done = false;
  while (!done && core_.Disp().ReadChar(b)) done = rx1_.training.Feed(b);
  if (!done) {
    if (std::chrono::steady_clock::now() < rx1_.trainingDeadline) return;
    // Carrier that never ends is no training check.
    StopClass1Reception();
    return RefuseTraining();
  }
  const bool good = rx1_.training.Good() && !rx1_.refuseTraining;
  if (Trace())
    std::fprintf(stderr, "[rf1CollTrn] %zu bytes, %zu non-zero at %d: %s\n", rx1_.training.Total(),
                 rx1_.training.NonZero(), c1_.bps, good ? "good" : "bad");
  if (good) {
    state_ = R::rf1FinishTrain;
  } else {
    RefuseTraining();
  }
}
