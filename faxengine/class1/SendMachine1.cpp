// The send machine's Class 1 states: the engine runs T.30 itself. After
// dialling it collects the answering machine's frames (CSI, DIS), sends TSI
// and DCS, the training check at the chosen speed, waits for CFR (stepping
// down on FTT), lets the shared states send the page, then sends the
// post-page message and acts on the answer (next page, retraining, DCN).

#include <cstdio>
#include <cstdlib>

#include "faxengine/session/FaxSession.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr int32_t kPostPageWait = 54;  // 3 s for the answer to the post-page message
constexpr int32_t kHangupWait = 26;
constexpr int32_t kPostPagePause = 10;  // about half a second before the post-page message
constexpr int32_t kXonWait = 18;
constexpr int kPostPageTries = 3;
constexpr int kDcsTries = 3;
constexpr int kFrameErrors = 3;

bool Trace() { return std::getenv("CVFAX_TRACE") != nullptr; }
}  // namespace

void TFaxSession::SendCommand1(const std::string& cmd) {
  DelayMs(40);
  const std::string line = cmd + "\r";
  WriteRaw(line.data(), line.size());
  c1_.collector.Reset();
  c1_.haveFrame = false;
  ArmReply(kReplyWait);
}

void TFaxSession::SendFrame1(TFxFcf fcf, bool final, const std::vector<uint8_t>& fif) {
  DelayMs(20);
  const std::vector<uint8_t> bytes = FxBuildFrame(fcf, final, fif);
  if (Trace()) std::fprintf(stderr, "[%s] send frame %02X\n", SendStateName(sstate_), static_cast<unsigned>(fcf));
  WriteRaw(bytes.data(), bytes.size());
  c1_.collector.Reset();
  ArmReply(kReplyWait);
}

bool TFaxSession::ReadLine1() {
  uint8_t b = 0;
  while (disp_ && disp_->ReadChar(b)) {
    switch (c1_.collector.Feed(b)) {
      case TFxCollect::ccLine: return true;
      case TFxCollect::ccFrame: {
        const TFxFrame& f = c1_.collector.Frame();
        if (Trace()) {
          std::fprintf(stderr, "[%s] frame %02X (%s)%s%s:", send_ ? SendStateName(sstate_) : ReceiveStateName(rstate_),
                       f.fcf, FxFrameKindName(f.Kind()), f.Final() ? " final" : "", f.hadFcs ? " fcs" : "");
          for (uint8_t x : f.fif) std::fprintf(stderr, " %02X", x);
          std::fprintf(stderr, "\n");
        }
        c1_.frame = f;
        c1_.haveFrame = true;
        break;
      }
      case TFxCollect::ccBadFrame:
        if (Trace())
          std::fprintf(stderr, "[%s] bad frame: %s\n", send_ ? SendStateName(sstate_) : ReceiveStateName(rstate_),
                       FxFrameErrorText(c1_.collector.Error()));
        c1_.haveFrame = false;
        break;
      case TFxCollect::ccNothing: break;
    }
  }
  return false;
}

// Reads the remote's DIS; false when the session ended on it.
bool TFaxSession::TakeDis1(const TFxFrame& frame) {
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
  const int chosen = FxChooseSpeed(c1_.local, dis.speeds, desiredBps_);
  const int index = c1_.afterEom && c1_.speedIndex < chosen ? c1_.speedIndex : chosen;
  c1_.remote = dis;
  c1_.haveDis = true;
  c1_.SetSpeed(index);
  c1_.scanTimeCode = dis.scanTimeCode;
  c1_.fine = fine;
  c1_.wide = wide;
  c1_.dcsTries = 0;
  c1_.afterEom = false;
  session_.bps = c1_.bps;
  session_.scanTimeCode = dis.scanTimeCode;
  session_.fine = fine;
  session_.wide = wide;
  session_.ecm = false;
  connectBps = c1_.bps;
  connectFine = fine;
  connectWide = wide;
  connectEcm = false;
  SetProgress(fxprogress::fpSessionParams);
  return true;
}

void TFaxSession::Disconnect1(int code) {
  // The remote is told with DCN before the line is dropped; the error is
  // reported once the modem has hung up.
  c1_.pendingError = code;
  DelayMs(200);
  SendCommand1("AT+FTH=3");
  sstate_ = TSendState::tf1SendDCN;
}

void TFaxSession::Fail1(int code) { Fail(c1_.pendingError != 0 ? c1_.pendingError : code); }

bool TFaxSession::LowerSpeed1() {
  const int next = FxStepDown(c1_.local, c1_.remote.speeds, c1_.speedIndex);
  if (next == 0) {
    Disconnect1(fxcode::ecFaxTrainError);
    return false;
  }
  c1_.SetSpeed(next);
  c1_.dcsTries = 0;
  session_.bps = c1_.bps;
  connectBps = c1_.bps;
  minLineBytes_ = FxMinLineBytes(c1_.scanTimeCode, page_.HighRes(), c1_.bps);
  return true;
}

void TFaxSession::StepDown1() {
  if (!LowerSpeed1()) return;
  DelayMs(200);
  SendCommand1("AT+FTH=3");
  sstate_ = TSendState::tf1SendTSI;
}

void TFaxSession::ReturnToPhaseB1() {
  SendCommand1("AT+FRH=3");
  c1_.haveDis = false;
  c1_.afterEom = true;
  sstate_ = TSendState::tf1Connect;
}

void TFaxSession::SendTimeout1() {
  using S = TSendState;
  switch (sstate_) {
    case S::tf1Connect:
      if (c1_.afterEom && c1_.remote.receives) {
        // A remote that waits for the next DCS instead of repeating its DIS:
        // end the reception and go on with the capabilities it gave before.
        c1_.afterEom = false;
        c1_.haveDis = true;
        WriteRaw(" ", 1);
        DelayMs(200);
        SendCommand1("AT+FTH=3");
        sstate_ = S::tf1SendTSI;
        return;
      }
      Fail(fxcode::ecFaxNoAnswer);
      return;
    case S::tf1WaitCFR:
      // Neither CFR nor FTT: the remote missed the DCS or the training.
      // Abort the frame reception and send both again.
      if (++c1_.dcsTries >= kDcsTries) {
        Fail(fxcode::ecTimeout);
        return;
      }
      WriteRaw(" ", 1);
      DelayMs(200);
      SendCommand1("AT+FTH=3");
      sstate_ = S::tf1SendTSI;
      return;
    case S::tf1WaitMCF:
      // A byte ends the modem's frame reception; the post-page message goes again.
      WriteRaw(" ", 1);
      sstate_ = S::tf1PrepEOP;
      return;
    case S::tf1WaitHngp:
      if (c1_.pendingError != 0) return Fail1(fxcode::ecTimeout);
      if (!HangUp(THangupKind::hkSend)) return;
      sstate_ = S::tfClose;
      return;
    default:
      Fail1(fxcode::ecTimeout);
      return;
  }
}

void TFaxSession::SendStep1(TEvent ev) {
  using S = TSendState;
  if (sstate_ == S::tf1PrepEOP) {
    // The pause before the post-page message runs on the reply timer; what
    // the modem sends meanwhile waits in the ring for the next state.
    if (!postPagePause_) {
      if (++c1_.postPageTries > kPostPageTries) {
        Fail(fxcode::ecTimeout);
        return;
      }
      postPagePause_ = true;
      ArmReply(kPostPagePause);
      return;
    }
    if (ev != TEvent::evReplyTimer) return;
    postPagePause_ = false;
    SendCommand1("AT+FTH=3");
    sstate_ = S::tf1SendEOP;
    return;
  }
  if (ev == TEvent::evReplyTimer) {
    SendTimeout1();
    return;
  }
  if (ev != TEvent::evData || !ReadLine1()) return;
  const std::string line = c1_.collector.Line();
  if (Trace()) std::fprintf(stderr, "[%s] %s\n", SendStateName(sstate_), line.c_str());
  if (FxHas(line, "ERROR")) {
    switch (sstate_) {
      case S::tf1SendEOP: case S::tf1WaitEOP: case S::tf1WaitMCF: break;
      case S::tf1Connect: case S::tf1WaitCFR:
        // A frame that failed its check (or noise the modem could not make
        // a frame of): listen again, the remote repeats what it sent. A
        // modem that keeps refusing is given up on.
        if (++c1_.frameErrors <= kFrameErrors) {
          SendCommand1("AT+FRH=3");
          return;
        }
        Fail1(fxcode::ecFaxBadModemResult);
        return;
      default:
        Fail1(fxcode::ecFaxBadModemResult);
        return;
    }
  }
  SendLine1(line);
}

void TFaxSession::SendLine1(const std::string& line) {
  using S = TSendState;
  const bool ok = FxHas(line, "OK");
  const bool connect = FxHas(line, "CONNECT");
  // A frame the modem has confirmed: its identity and what it says about the
  // remote are taken before the state acts on it.
  bool frame = false;
  if (ok && c1_.haveFrame) {
    frame = true;
    c1_.haveFrame = false;
    c1_.frameErrors = 0;
    c1_.lastFcf = c1_.frame.fcf;
    c1_.lastFinal = c1_.frame.Final();
    switch (c1_.frame.Kind()) {
      case TFxFrameKind::fkDCN:
        Fail(fxcode::ecCancelRequested);
        return;
      case TFxFrameKind::fkCSI:
        if (sstate_ == S::tf1Connect) {
          {
            std::lock_guard lock(remoteMutex_);
            remoteId_ = FxDecodeId(c1_.frame.fif);
          }
          SetProgress(fxprogress::fpGotRemoteID);
        }
        break;
      case TFxFrameKind::fkDIS:
        if (sstate_ == S::tf1Connect && !TakeDis1(c1_.frame)) return;
        break;
      default: break;
    }
  }
  const TFxFrameKind kind = frame ? c1_.frame.Kind() : TFxFrameKind::fkOther;

  switch (sstate_) {
    case S::tf1Init1:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      sstate_ = S::tfDial;
      return;

    case S::tf1Connect:
      if (ok) {
        if (!frame) return;
        if (c1_.lastFinal && c1_.haveDis) {
          DelayMs(200);
          SendCommand1("AT+FTH=3");
          sstate_ = S::tf1SendTSI;
        } else {
          // More frames of the burst follow, or the remote has still to
          // send its DIS.
          SendCommand1("AT+FRH=3");
        }
      } else if (connect) {
        ArmReply(kReplyWait);
      } else if (FxHas(line, "BUSY") || FxHas(line, "ANSWER")) {
        BusyHandling();
      } else if (FxHas(line, "VOICE") || FxHas(line, "VCON")) {
        Fail(fxcode::ecFaxVoiceCall);
      } else if (FxHas(line, "NO DIAL")) {
        Fail(fxcode::ecFaxNoDialTone);
      } else if (FxHas(line, "RRIER")) {
        Fail(fxcode::ecFaxNoCarrier);
      }
      return;

    case S::tf1SendTSI:
      // TSI goes before every DCS, also after FTT, RTN and RTP: receivers
      // (spandsp's among them) miss a lone DCS that follows their FTT.
      if (!connect) return;
      SendFrame1(TFxFcf::TSI, false, FxEncodeId(stationId_));
      sstate_ = S::tf1TSIResponse;
      return;

    case S::tf1TSIResponse:
      if (!connect) return;
      c1_.fine = page_.HighRes();
      c1_.wide = page_.Wide();
      session_.fine = c1_.fine;
      session_.wide = c1_.wide;
      connectFine = c1_.fine;
      connectWide = c1_.wide;
      SendFrame1(TFxFcf::DCS, true, FxEncodeDcs(c1_.speedIndex, c1_.fine, c1_.wide, c1_.scanTimeCode, c1_.remote));
      sstate_ = S::tf1DCSResponse;
      return;

    case S::tf1DCSResponse:
      if (!ok) return;
      SendCommand1(std::string("AT+FTM=") + c1_.LongTrain());
      sstate_ = S::tf1TrainStart;
      return;

    case S::tf1TrainStart: {
      if (!connect) return;
      if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfBoth);
      const std::vector<uint8_t> tcf = FxBuildTrainingCheck(c1_.bps);
      WriteRaw(tcf.data(), tcf.size());
      ArmReply(kReplyWait);
      sstate_ = S::tf1TrainFinish;
      return;
    }

    case S::tf1TrainFinish:
      if (!ok) return;
      if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfNone);
      DelayMs(200);
      SendCommand1("AT+FRH=3");
      c1_.cfrReceived = false;
      sstate_ = S::tf1WaitCFR;
      return;

    case S::tf1WaitCFR:
      if (connect) {
        ArmReply(kReplyWait);
        return;
      }
      if (!ok || !frame) return;
      if (kind == TFxFrameKind::fkFTT) return StepDown1();
      if (kind == TFxFrameKind::fkCFR) c1_.cfrReceived = true;
      if (!c1_.lastFinal) {
        SendCommand1("AT+FRH=3");
        return;
      }
      DelayMs(200);
      if (c1_.cfrReceived) {
        // The training check has set the receiver up: page data follows
        // with the short train, which is what the receiver now expects.
        c1_.dcsTries = 0;
        minLineBytes_ = FxMinLineBytes(c1_.scanTimeCode, page_.HighRes(), c1_.bps);
        SendCommand1(std::string("AT+FTM=") + c1_.ShortTrain());
        sstate_ = S::tf1WaitPgCn;
      } else {
        // Something else than an answer to the training (the remote's DIS
        // again): DCS and training once more.
        if (++c1_.dcsTries >= kDcsTries) return Disconnect1(fxcode::ecFaxTrainError);
        SendCommand1("AT+FTH=3");
        sstate_ = S::tf1SendTSI;
      }
      return;

    case S::tf1WaitPgCn:
      if (!connect) return;
      ArmReply(kXonWait);
      sstate_ = S::tfWaitXon;
      return;

    case S::tf1PageEnd:
      if (!ok) return;
      c1_.postPageTries = 0;
      SetProgress(fxprogress::fpSendPageStatus);
      sstate_ = S::tf1PrepEOP;
      return;

    case S::tf1SendEOP: {
      if (!connect) return;
      auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
      const bool keep = sf && sf->KeepPageParameters;
      // MPS keeps the DCS of this page: only when the next page can use it.
      const TFxFcf ppm = !morePages_ ? TFxFcf::EOP : keep && !resolutionChanges_ ? TFxFcf::MPS : TFxFcf::EOM;
      SendFrame1(ppm, true);
      sstate_ = S::tf1WaitMPS;
      return;
    }

    case S::tf1WaitMPS: case S::tf1WaitEOP:
      if (!ok) return;
      DelayMs(200);
      SendCommand1("AT+FRH=3");
      ArmReply(kPostPageWait);
      c1_.responseStarted = false;
      sstate_ = S::tf1WaitMCF;
      return;

    case S::tf1WaitMCF: {
      if (connect) {
        // The answer is arriving: give the frame the time it takes.
        c1_.responseStarted = true;
        ArmReply(kReplyWait);
        return;
      }
      if (FxHas(line, "ERROR")) {
        sstate_ = S::tf1PrepEOP;
        return;
      }
      if (!ok || !frame) return;
      auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
      const bool keep = sf && sf->KeepPageParameters && !resolutionChanges_;
      // The post-page message was EOM: whatever the answer, the receiver
      // goes back to the start of the negotiation (a DCS sent before its new
      // DIS is refused by receivers that wait for their own turn).
      const bool eom = morePages_ && !keep;
      switch (kind) {
        case TFxFrameKind::fkMCF:
          SetProgress(fxprogress::fpPageOK);
          resendCount_ = 0;
          if (!morePages_) {
            DelayMs(200);
            SendCommand1("AT+FTH=3");
            sstate_ = S::tf1SendDCN;
          } else if (keep) {
            // Same parameters, no new training: the receiver expects the
            // short train again.
            DelayMs(200);
            SendCommand1(std::string("AT+FTM=") + c1_.ShortTrain());
            sstate_ = S::tf1WaitPgCn;
          } else {
            ReturnToPhaseB1();
          }
          return;
        case TFxFrameKind::fkRTP:
          SetProgress(fxprogress::fpPageOK);
          resendCount_ = 0;
          if (eom) return ReturnToPhaseB1();
          DelayMs(200);
          SendCommand1("AT+FTH=3");
          sstate_ = morePages_ ? S::tf1SendTSI : S::tf1SendDCN;
          return;
        case TFxFrameKind::fkRTN:
          // The page arrived damaged: send it again after a new training at
          // a lower speed, as often as a Class 2 modem would.
          SetProgress(fxprogress::fpPageError);
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
          sstate_ = S::tf1PrepEOP;
          return;
      }
    }

    case S::tf1SendDCN:
      if (!connect) return;
      SendFrame1(TFxFcf::DCN, true);
      sstate_ = S::tf1Hangup;
      return;

    case S::tf1Hangup:
      if (!ok) return;
      SendCommand("ATH");
      ArmReply(kHangupWait);
      sstate_ = S::tf1WaitHngp;
      return;

    case S::tf1WaitHngp:
      if (!ok) return;
      DisarmReply();
      if (c1_.pendingError != 0) return Fail1(c1_.pendingError);
      sstate_ = S::tfClose;
      return;

    default: return;
  }
}
