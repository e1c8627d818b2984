// The Class 2 / 2.0 send machine: setting the modem up, dialling, and the
// modem's reports before and after each page.

#include "faxengine/class2/SendMachine2.h"

#include <cstdio>
#include <cstdlib>

#include "faxengine/session/PageTime.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr int32_t kFdtWait = 546;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
using S = TSendState2;
using P = TFxPass;
}  // namespace

constexpr std::array<TFxSendMachine2::TRow, 31> TFxSendMachine2::kStates = {{
    {S::tfNone, "tfNone", &TFxSendMachine2::Idle, 30, P::fpInput},
    {S::tfGetEntry, "tfGetEntry", &TFxSendMachine2::GetEntry, 31, P::fpAtOnce},
    {S::tfInit, "tfInit", &TFxSendMachine2::Init, 32, P::fpAtOnce},
    {S::tf2Init1, "tf2Init1", &TFxSendMachine2::Init1, 34, P::fpInput},
    {S::tf2Init1A, "tf2Init1A", &TFxSendMachine2::InitSetup, 35, P::fpInput},
    {S::tf2Init1B, "tf2Init1B", &TFxSendMachine2::InitSetup, 36, P::fpInput},
    {S::tf2Init2, "tf2Init2", &TFxSendMachine2::Init2, 37, P::fpInput},
    {S::tf2Init3, "tf2Init3", &TFxSendMachine2::Init3, 38, P::fpInput},
    {S::tfDial, "tfDial", &TFxSendMachine2::Dial, 39, P::fpAtOnce},
    {S::tfRetryWait, "tfRetryWait", &TFxSendMachine2::RetryWait, 40, P::fpTrigger},
    {S::tf2Connect, "tf2Connect", &TFxSendMachine2::Connect, 49, P::fpInput},
    {S::tf2GetParams, "tf2GetParams", &TFxSendMachine2::GetParams, 50, P::fpInput},
    {S::tfWaitXon, "tfWaitXon", &TFxSendMachine2::WaitXon, 51, P::fpTrigger},
    {S::tfWaitFrHead, "tfWaitFrHead", &TFxSendMachine2::WaitFrHead, 52, P::fpTrigger},
    {S::tfSndPgeHdr, "tfSndPgeHdr", &TFxSendMachine2::SndPgeHdr, 53, P::fpAtOnce},
    {S::tfOpenCover, "tfOpenCover", &TFxSendMachine2::OpenCoverPage, 54, P::fpAtOnce},
    {S::tfSendCover, "tfSendCover", &TFxSendMachine2::SendCover, 55, P::fpTrigger},
    {S::tfPrepPage, "tfPrepPage", &TFxSendMachine2::PrepPage, 56, P::fpAtOnce},
    {S::tfSendPage, "tfSendPage", &TFxSendMachine2::SendPage, 57, P::fpTrigger},
    {S::tfDrainPage, "tfDrainPage", &TFxSendMachine2::DrainPage, 58, P::fpTrigger},
    {S::tf2SendEOP, "tf2SendEOP", &TFxSendMachine2::SendEOP, 68, P::fpAtOnce},
    {S::tf2WaitFPTS, "tf2WaitFPTS", &TFxSendMachine2::WaitFPTS, 69, P::fpInput},
    {S::tf2WaitFET, "tf2WaitFET", &TFxSendMachine2::WaitFET, 70, P::fpInput},
    {S::tf2WaitPgOK, "tf2WaitPgOK", &TFxSendMachine2::WaitPgOK, 71, P::fpInput},
    {S::tf2SndNwPrm, "tf2SndNwPrm", &TFxSendMachine2::SndNwPrm, 72, P::fpAtOnce},
    {S::tf2NextPage, "tf2NextPage", &TFxSendMachine2::NextPage, 73, P::fpAtOnce},
    {S::tf20ChckPg, "tf20ChckPg", &TFxSendMachine2::CheckPage20, 74, P::fpInput},
    {S::tfClose, "tfClose", &TFxSendMachine2::Close, 75, P::fpAtOnce},
    {S::tfCompleteOK, "tfCompleteOK", &TFxSendMachine2::CompleteOK, 76, P::fpAtOnce},
    {S::tfAbort, "tfAbort", &TFxSendMachine2::AbortCall, 77, P::fpAtOnce},
    {S::tfDone, "tfDone", &TFxSendMachine2::Idle, 78, P::fpTrigger},
}};

static_assert(FxTableIndexedByState(TFxSendMachine2::kStates));

TFxSendMachine2::TFxSendMachine2(TFxSessionCore& core)
    : TFxSendStates(core), cmds_(FxClass2Commands(core.FaxClass() == TFaxClass::fcClass2_0)) {}

std::unique_ptr<TFxMachine> FxNewSendMachine2(TFxSessionCore& core) {
  return std::make_unique<TFxSendMachine2>(core);
}

void TFxSendMachine2::StartClass() {
  core_.SendCommand(cmds_.classCmd);
  state_ = S::tf2Init1;
}

void TFxSendMachine2::StartCall() { state_ = S::tf2Connect; }

void TFxSendMachine2::EndPageData() {
  // Class 2.0 ends the page with what follows it: another page ("," or ";"
  // with new parameters) or the end of the document (".").
  const uint8_t end[2] = {kDle, IsClass20() ? static_cast<uint8_t>(!morePages_ ? '.' : resolutionChanges_ ? ';' : ',')
                                            : kEtx};
  core_.WriteRaw(end, 2);
  core_.SetProgress(fxprogress::fpSendPage);
  state_ = S::tf2SendEOP;
}

bool TFxSendMachine2::TakeLine(TFxEvent ev, std::string& line) {
  if (ev == TFxEvent::evReplyTimer) {
    core_.Fail(state_ == S::tf2Connect ? fxcode::ecFaxNoAnswer : fxcode::ecTimeout);
    return false;
  }
  if (ev != TFxEvent::evData || !core_.ReadLine()) return false;
  line = core_.ReplyLine();
  if (std::getenv("CVFAX_TRACE")) std::fprintf(stderr, "[%s] %s\n", StateName(), line.c_str());
  if (FxHas(line, "ERROR")) {
    core_.Fail(fxcode::ecFaxBadModemResult);
    return false;
  }
  if (FxHas(line, cmds_.hangup)) {
    core_.Values().hangupReason = FxHangupValue(line);
    if (state_ != S::tf2WaitFET && state_ != S::tf20ChckPg) {
      core_.Fail(fxcode::ecFaxBadModemResult);
      return false;
    }
  }
  return true;
}

bool TFxSendMachine2::SendSetupCommand(size_t step) {
  if (step >= cmds_.extraSetup.size()) return false;
  core_.SendCommand(cmds_.extraSetup[step]);
  return true;
}

void TFxSendMachine2::Init1(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  core_.SendCommand(cmds_.localId + "=\"" + core_.Settings().stationId + "\"");
  state_ = cmds_.extraSetup.empty() ? S::tf2Init2 : S::tf2Init1A;
}

void TFxSendMachine2::InitSetup(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  if (!SendSetupCommand(state_ == S::tf2Init1A ? 0 : 1)) return core_.Fail(fxcode::ecFaxInitError);
  state_ = state_ == S::tf2Init1A ? S::tf2Init1B : S::tf2Init2;
}

void TFxSendMachine2::Init2(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  TFxClass2Params offer;
  offer.fine = page_.HighRes();
  offer.bps = core_.Settings().desiredBps;
  offer.wide = page_.Wide();
  offer.ecm = core_.Settings().desiredEcm;
  core_.SendCommand(cmds_.capabilities + "=" + FxParamString(offer));
  state_ = S::tf2Init3;
}

void TFxSendMachine2::Init3(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  state_ = S::tfDial;
}

void TFxSendMachine2::Connect(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  if (FxHas(line, cmds_.connect)) {
    core_.ArmReply(kReplyWait);
    state_ = S::tf2GetParams;
  } else if (FxHas(line, "BUSY") || FxHas(line, "ANSWER")) {
    BusyHandling();
  } else if (FxHas(line, "VOICE") || FxHas(line, "VCON")) {
    core_.Fail(fxcode::ecFaxVoiceCall);
  } else if (FxHas(line, "NO DIAL")) {
    core_.Fail(fxcode::ecFaxNoDialTone);
  }
}

void TFxSendMachine2::GetParams(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (FxHas(line, cmds_.sessionParams)) {
    core_.TakeSessionParams(line);
  } else if (FxHas(line, cmds_.remoteCaps)) {
    if (!FxParseParams(line, remote_)) return core_.Fail(fxcode::ecFaxBadModemResult);
    if ((page_.HighRes() && !remote_.fine) || (page_.Wide() && !remote_.wide))
      return core_.Fail(fxcode::ecFaxBadMachine);
    core_.SetProgress(fxprogress::fpSessionParams);
  } else if (FxHas(line, cmds_.calledId)) {
    core_.SetRemoteId(FxCleanRemoteId(line));
    core_.SetProgress(fxprogress::fpGotRemoteID);
  } else if (ok) {
    core_.SendCommand("AT+FDT");
    core_.ArmReply(kFdtWait);
  } else if (FxHas(line, "CONNECT")) {
    if (IsClass20()) {
      core_.ArmOutFree(kBlock);
      core_.ArmReply(kPageWait);
      state_ = S::tfWaitFrHead;
    } else {
      core_.ArmReply(kXonWait);
      state_ = S::tfWaitXon;
    }
  }
}

void TFxSendMachine2::WaitFPTS(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxSessionError);
  core_.SendCommand(!morePages_ ? "AT+FET=2" : resolutionChanges_ ? "AT+FET=1" : "AT+FET=0");
  core_.ArmReply(kPageWait);
  state_ = S::tf2WaitFET;
}

void TFxSendMachine2::WaitFET(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (ok) {
    state_ = resolutionChanges_ ? S::tf2SndNwPrm : S::tf2NextPage;
  } else if (FxHas(line, cmds_.hangup)) {
    // The hang-up reason is kept by TakeLine.
  } else if (FxHas(line, cmds_.pageStatus)) {
    const int v = FxPageStatusValue(line);
    if (v == 1 || v == 3) {
      core_.SetProgress(fxprogress::fpPageOK);
    } else if (v == 2) {
      core_.SetProgress(fxprogress::fpPageError);
      state_ = S::tf2WaitPgOK;
    } else if (v == 4 || v == 5) {
      core_.Fail(fxcode::ecCancelRequested);
    } else {
      core_.Fail(fxcode::ecFaxPageError);
    }
  } else if (line.rfind("+F", 0) == 0) {
    // Modems repeat the remote's identification and parameters in the
    // post-page phase; they say nothing about the page.
  } else {
    core_.Fail(fxcode::ecFaxPageError);
  }
}

void TFxSendMachine2::WaitPgOK(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxSessionError);
  if (++resendCount_ > 2) {
    core_.WriteRaw("AT+FKS\r", 7);
    // The hang-up that follows drops queued output: let the command out first.
    return core_.Fail(fxcode::ecFaxSessionError);
  }
  RewindToSentPage();
  core_.SendCommand("AT+FDT");
  core_.ArmReply(kFdtWait);
  state_ = S::tf2GetParams;
}

void TFxSendMachine2::CheckPage20(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (ok) {
    core_.SetProgress(fxprogress::fpPageOK);
    state_ = resolutionChanges_ ? S::tf2SndNwPrm : S::tf2NextPage;
  } else if (FxHas(line, cmds_.pageStatus)) {
    // Class 2.0 modems report the remote's answer before OK: a confirmed
    // page ("+FPS:1", or 3 with a retrain) is followed by OK; any other
    // answer ends the send, as there is no resend under Class 2.0.
    const int v = FxPageStatusValue(line);
    if (v != 1 && v != 3) core_.Fail(fxcode::ecFaxPageError);
  } else if (!FxHas(line, cmds_.hangup) && line.rfind("+F", 0) != 0) {
    core_.Fail(fxcode::ecFaxPageError);
  }
}

void TFxSendMachine2::SendEOP(TFxEvent) {
  core_.ClearReply();
  core_.ArmReply(PageEndWaitTicks(core_.Values().pageLength.load(), core_.Negotiated().bps));
  core_.SetProgress(fxprogress::fpSendPageStatus);
  state_ = IsClass20() ? S::tf20ChckPg : S::tf2WaitFPTS;
}

void TFxSendMachine2::SndNwPrm(TFxEvent) {
  if (morePages_) {
    core_.SendCommand(cmds_.capabilities + "=" + (page_.HighRes() ? "1" : "0"));
    state_ = S::tf2GetParams;
  } else {
    state_ = S::tfClose;
  }
}

void TFxSendMachine2::NextPage(TFxEvent) {
  if (morePages_) {
    // T.30 wants silence on the line before the next page's phase C.
    core_.Pause(5 * kMsPerTick);
    core_.SendCommand("AT+FDT");
    core_.ArmReply(kFdtWait);
    state_ = S::tf2GetParams;
  } else {
    state_ = S::tfClose;
  }
}
