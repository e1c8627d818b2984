// The receive machine's Class 1 states: the engine answers with CSI and DIS,
// collects the caller's TSI and DCS, judges the training check, confirms it
// with CFR or refuses it with FTT, receives the pages at the DCS's speed and
// answers the post-page messages with MCF until the caller's DCN.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "faxengine/session/FaxSession.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr int32_t kFrameWait = 54;           // 3 s for the caller's next frames
constexpr int32_t kTrainingStartWait = 64;   // the check starts 75 ms after DCS and lasts 1.5 s
constexpr auto kTrainingLimit = std::chrono::seconds(5);  // a check runs 1.5 s; one that never ends is bad
constexpr int kMaxCollectRetries = 3;
constexpr int kMaxTrainings = 12;            // a caller that never steps down is given up
constexpr int kMaxBadFrames = 6;             // frames with a bad check sum in one wait

bool Trace() { return std::getenv("CVFAX_TRACE") != nullptr; }
}  // namespace

// Ends a pending AT+FRM=/AT+FRH=3 (any character does) and drops the modem's
// answer to that, so that it is not taken for the answer to what follows.
void TFaxSession::StopClass1Reception() {
  WriteRaw("\r", 1);
  DelayMs(150);
  disp_->PurgeInput();
  c1_.collector.Reset();
}

// ticks 0 keeps the running reply timer.
void TFaxSession::StartFrameReception(int32_t ticks) {
  if (ticks > 0) {
    SendCommand1("AT+FRH=3");
    ArmReply(ticks);
  } else {
    DelayMs(40);
    WriteRaw("AT+FRH=3\r", 9);
    c1_.collector.Reset();
  }
  rx1_.StartBurst();
  rx1FramePending_ = false;
}

// The training check failed or was not heard: FTT follows, and the caller
// sends a new DCS, normally at a lower speed.
void TFaxSession::RefuseTraining() {
  SendCommand1("AT+FTH=3");
  rstate_ = TReceiveState::rf1Retrain;
}

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

// --- the machine ----------------------------------------------------------------------------

// Completes the page whose post-page message has arrived.
void TFaxSession::WritePage1() {
  const int rc = rxFile_.CompletePage(RemoteId());
  if (rc < 0) return Fail(rc);
  SendCommand1("AT+FTH=3");
  SetProgress(fxprogress::fpCheckMorePages);
  Status(0);
  rstate_ = TReceiveState::rf1SendMCF;
}

// One pass of a Class 1 receive state: the reply timer, the retry and
// training states, or the modem's lines and frames.
void TFaxSession::ReceiveStep1(TEvent ev) {
  using R = TReceiveState;
  if (rstate_ == R::rf1WritePage) return WritePage1();
  if (ev == TEvent::evReplyTimer) return ReceiveTimer1();
  if (rstate_ == R::rf1CollRtry1 || rstate_ == R::rf1CollRtry2) return ReceiveRetry1();
  if (rstate_ == R::rf1CollTrn) return ReceiveTraining1();
  if (ev != TEvent::evData && ev != TEvent::evRun) return;
  const R entered = rstate_;
  uint8_t b = 0;
  while (rstate_ == entered && !finished_ && disp_->ReadChar(b)) {
    switch (c1_.collector.Feed(b)) {
      case TFxCollect::ccNothing: break;
      case TFxCollect::ccLine: ReceiveLine1(c1_.collector.Line()); break;
      case TFxCollect::ccFrame: ReceiveFrame1(c1_.collector.Frame()); break;
      case TFxCollect::ccBadFrame:
        if (Trace()) std::fprintf(stderr, "[%s] bad frame: %s\n", ReceiveStateName(rstate_),
                                  FxFrameErrorText(c1_.collector.Error()));
        break;
    }
    // States that read raw bytes take over the input from here.
    if (rstate_ == R::rf1CollTrn || rstate_ == R::rfStartPage || rstate_ == R::rfGtPgDta) return;
  }
}

// A frame counts once the modem's OK has confirmed its check sum.
void TFaxSession::ReceiveFrame1(const TFxFrame& f) {
  if (Trace()) std::fprintf(stderr, "[%s] frame %s%s (%zu bytes)\n", ReceiveStateName(rstate_),
                            FxFrameKindName(f.Kind()), f.Final() ? " final" : "", f.fif.size());
  rx1Frame_ = f;
  rx1FramePending_ = true;
}

void TFaxSession::AcceptFrame1(const TFxFrame& f) {
  using R = TReceiveState;
  if (rstate_ != R::rf1CollFrames && rstate_ != R::rf1WaitEOP && rstate_ != R::rf1WaitDCN) return;
  const bool hadTsi = rx1_.haveTsi, hadDcs = rx1_.haveDcs;
  rx1_.Take(f, rstate_ == R::rf1CollFrames);
  if (rx1_.dcn) {
    if (rstate_ != R::rf1WaitDCN) return Fail(fxcode::ecCancelRequested);
    lastError_ = 0;
    return;
  }
  if (rx1_.haveTsi && !hadTsi) {
    {
      std::lock_guard lock(remoteMutex_);
      remoteId_ = rx1_.remoteId;
    }
    SetProgress(fxprogress::fpGotRemoteID);
    Status(0);
  }
  if (rx1_.haveDcs && !hadDcs) {
    c1_.dcs = rx1_.dcs;
    c1_.SetSpeed(rx1_.dcs.speedIndex);
    c1_.fine = rx1_.dcs.fine;
    c1_.wide = rx1_.dcs.wide;
    c1_.scanTimeCode = rx1_.dcs.scanTimeCode;
    connectBps = c1_.bps;
    connectFine = c1_.fine;
    connectWide = c1_.wide;
    connectEcm = false;
    SetProgress(fxprogress::fpSessionParams);
  }
}

void TFaxSession::ReceiveLine1(const std::string& line) {
  using R = TReceiveState;
  if (Trace()) std::fprintf(stderr, "[%s] %s\n", ReceiveStateName(rstate_), line.c_str());
  const bool ok = line == "OK" || FxHas(line, "OK");
  const bool connect = FxHas(line, "CONNECT");
  const bool noCarrier = FxHas(line, "RRIER");
  // The modem heard V.21 where it waited for the high-speed carrier: the
  // caller is sending frames (a repeated DCS), which are collected again.
  if (FxHas(line, "+FCERROR")) {
    if (rstate_ == R::rf1StartTrain || rstate_ == R::rf1WtPgCnnct) {
      // In place of a page: it was lost, and its post-page message is
      // answered with RTN.
      rx1_.pageLost = rstate_ == R::rf1WtPgCnnct;
      StartFrameReception(kFrameWait);
      rstate_ = R::rf1CollFrames;
      return;
    }
    return Fail(fxcode::ecFaxBadModemResult);
  }
  const bool error = FxHas(line, "ERROR");
  const bool framing = rstate_ == R::rf1CollFrames || rstate_ == R::rf1WaitEOP || rstate_ == R::rf1WaitDCN;
  const bool pending = rx1FramePending_;
  rx1FramePending_ = false;
  if (error && framing) {
    // A frame with a bad check sum is dropped: the caller repeats what goes
    // unanswered.
    if (++rx1_.badFrames > kMaxBadFrames) return Fail(fxcode::ecFaxBadModemResult);
    const int bad = rx1_.badFrames;
    const bool tsi = rx1_.haveTsi, dcs = rx1_.haveDcs;
    StartFrameReception(rstate_ == R::rf1CollFrames ? kFrameWait : kReplyWait);
    // What arrived intact in this burst still counts.
    rx1_.badFrames = bad;
    rx1_.haveTsi = tsi;
    rx1_.haveDcs = dcs;
    return;
  }
  if (ok && pending && framing) {
    AcceptFrame1(rx1Frame_);
    if (finished_ || rstate_ == R::rfAbort) return;
  }
  if (error) return Fail(fxcode::ecFaxBadModemResult);

  switch (rstate_) {
    case R::rf1Init1:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      SwitchToNormalBaud();
      DisarmReply();
      SetProgress(fxprogress::fpWaiting);
      rstate_ = R::rfWaiting;
      return;
    case R::rf1SendCSI:
      if (connect) {
        SendFrame1(TFxFcf::CSI, false, FxEncodeId(stationId_));
        rstate_ = R::rf1SendDIS;
      } else if (noCarrier) {
        // The answer or the frame burst found no fax machine on the line.
        Fail(fxcode::ecFaxNoCarrier);
      }
      return;
    case R::rf1SendDIS:
      if (connect) {
        SendFrame1(TFxFcf::DIS, true, FxEncodeDis(c1_.localMax));
      } else if (ok) {
        DelayMs(200);
        DelayMs(200);
        StartFrameReception(kFrameWait);
        rstate_ = R::rf1CollFrames;
      }
      return;
    case R::rf1CollFrames:
      if (connect) return;
      if (noCarrier) {
        rstate_ = R::rf1CollRtry1;
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
        if (++rx1_.trainings > kMaxTrainings) return Fail(fxcode::ecFaxTrainError);
        rx1_.pageLost = false;
        rx1_.sendRtn = true;
        SendCommand1("AT+FTH=3");
        rstate_ = R::rf1Retrain;
        return;
      }
      if (!rx1_.haveDcs) {
        // A burst without a usable DCS (a DCS for a modulation this station
        // did not offer, or something else entirely): DIS again.
        if (rx1_.badDcs) return Fail(fxcode::ecFaxBadMachine);
        rstate_ = R::rf1CollRtry1;
        return;
      }
      if (++rx1_.trainings > kMaxTrainings) return Fail(fxcode::ecFaxTrainError);
      if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfReceive);
      // Faster than this station receives or offered: the check is heard
      // out and refused, so that the caller steps down.
      rx1_.refuseTraining = !c1_.local.Has(c1_.speedIndex) || c1_.speedIndex > c1_.localMax;
      SendCommand1("AT+FRM=" + c1_.dcs.longTrain);
      ArmReply(kTrainingStartWait);
      rstate_ = R::rf1StartTrain;
      return;
    case R::rf1StartTrain:
      if (connect) {
        rx1_.training = TFxTrainingCheck(c1_.bps);
        rx1_.trainingDeadline = std::chrono::steady_clock::now() + kTrainingLimit;
        ArmReply(kReplyWait);
        rstate_ = R::rf1CollTrn;
      } else if (noCarrier) {
        RefuseTraining();
      }
      return;
    case R::rf1Retrain:
      if (connect) {
        SendFrame1(rx1_.sendRtn ? TFxFcf::RTN : TFxFcf::FTT, true);
      } else if (ok) {
        const bool rtn = rx1_.sendRtn;
        rx1_.sendRtn = false;
        if (!rtn && c1_.speedIndex <= kFxMinSpeedIndex && !rx1_.refuseTraining)
          return Fail(fxcode::ecFaxTrainError);
        StartFrameReception(kFrameWait);
        rstate_ = R::rf1CollFrames;
      }
      return;
    case R::rf1FinishTrain:
      if (!noCarrier) return;
      if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfNone);
      DelayMs(20);
      SendCommand1("AT+FTH=3");
      rstate_ = R::rf1SendCFR;
      return;
    case R::rf1SendCFR:
      if (connect) {
        if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfReceive);
        SendFrame1(TFxFcf::CFR, true);
        return;
      }
      if (!ok) return;
      // Pages after a confirmed training come with the short training.
      SendCommand1("AT+FRM=" + c1_.dcs.shortTrain);
      rstate_ = R::rf1WtPgCnnct;
      if (rxFile_.IsOpen()) return;
      if (Notify(TFaxMessage::fmAccept, 0) != 0) {
        CreateReceivedFile();
      } else {
        rejected_ = true;
        Fail(fxcode::ecFileRejected);
        Notify(TFaxMessage::fmLog, 6);
      }
      return;
    case R::rf1WtPgCnnct:
      if (connect) {
        SetProgress(fxprogress::fpSessionParams);
        Status(0);
        rstate_ = R::rfStartPage;
      }
      return;
    case R::rf1FinPage:
      if (!noCarrier) return;
      StartFrameReception(kReplyWait);
      rstate_ = R::rf1WaitEOP;
      return;
    case R::rf1WaitEOP: {
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
      SetProgress(fxprogress::fpGetPageResult);
      Status(0);
      rstate_ = R::rf1WritePage;
      return;
    }
    case R::rf1SendMCF:
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
        rstate_ = R::rf1WaitDCN;
      } else if (rx1_.morePages && rx1_.eom) {
        DelayMs(200);
        rx1_.retries = 0;
        SendCommand1("AT+FTH=3");
        rstate_ = R::rf1SendCSI;
      } else if (rx1_.morePages) {
        SendCommand1("AT+FRM=" + c1_.dcs.shortTrain);
        rstate_ = R::rf1WtPgCnnct;
      } else {
        DelayMs(200);
        StartFrameReception(kReplyWait);
        rxFile_.Close();
        Notify(TFaxMessage::fmLog, 5);
        SetProgress(fxprogress::fpGetHangup);
        Status(0);
        rstate_ = R::rf1WaitDCN;
      }
      return;
    case R::rf1WaitDCN:
      if (connect) return;
      if (noCarrier) {
        // The caller hung up without DCN: the fax is complete all the same.
        SendCommand1("ATH");
        rstate_ = R::rf1WtHngp;
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
        rstate_ = R::rf1SendMCF;
        return;
      }
      SendCommand1("ATH");
      rstate_ = R::rf1WtHngp;
      return;
    case R::rf1WtHngp:
      if (!ok) return;
      SetProgress(fxprogress::fpGotHangup);
      Status(0);
      rstate_ = R::rfComplete;
      return;
    default: return;
  }
}

void TFaxSession::ReceiveTimer1() {
  using R = TReceiveState;
  if (Trace()) std::fprintf(stderr, "[%s] reply timer\n", ReceiveStateName(rstate_));
  switch (rstate_) {
    case R::rf1SendCSI:
      if (rx1_.retries > 0) {
        rstate_ = R::rf1CollRtry1;
        return ReceiveRetry1();
      }
      return Fail(fxcode::ecTimeout);
    case R::rf1CollFrames:
      rstate_ = R::rf1CollRtry1;
      return ReceiveRetry1();
    case R::rf1StartTrain:
      // No training check came: refused as a bad one.
      StopClass1Reception();
      return RefuseTraining();
    case R::rf1CollTrn:
      StopClass1Reception();
      return RefuseTraining();
    case R::rf1WaitDCN:
      rstate_ = R::rfComplete;
      return;
    case R::rf1CollRtry1: case R::rf1CollRtry2: return ReceiveRetry1();
    default: return Fail(fxcode::ecTimeout);
  }
}

// Nothing usable from the caller: CSI and DIS go out again, at most three
// more times.
void TFaxSession::ReceiveRetry1() {
  using R = TReceiveState;
  if (rstate_ == R::rf1CollRtry1) {
    if (++rx1_.retries > kMaxCollectRetries) return Fail(fxcode::ecTimeout);
    WriteRaw("AT\r", 3);
    ArmReply(kReplyWait);
    rstate_ = R::rf1CollRtry2;
    return;
  }
  DelayMs(100);
  disp_->PurgeInput();
  SendCommand1("AT+FTH=3");
  rstate_ = R::rf1SendCSI;
}

void TFaxSession::ReceiveTraining1() {
  uint8_t b = 0;
  bool done = false;
  while (!done && disp_->ReadChar(b)) done = rx1_.training.Feed(b);
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
    rstate_ = TReceiveState::rf1FinishTrain;
  } else {
    RefuseTraining();
  }
}
