// The Class 2 / 2.0 receive states: setting the modem up, the call's
// phase B as the modem reports it, and the reports after each page.

#include "faxengine/class2/ReceiveMachine2.h"

namespace {
using R = TReceiveState2;
using P = TFxPass;
}  // namespace

constexpr std::array<TFxReceiveMachine2::TRow, 19> TFxReceiveMachine2::kStates = {{
    {R::rfNone, "rfNone", &TFxReceiveMachine2::Idle, 79, P::fpInput},
    {R::rfInit, "rfInit", &TFxReceiveMachine2::Init, 80, P::fpAtOnce},
    {R::rf2Init1, "rf2Init1", &TFxReceiveMachine2::Init1, 82, P::fpInput},
    {R::rf2Init1A, "rf2Init1A", &TFxReceiveMachine2::InitSetup, 83, P::fpInput},
    {R::rf2Init1B, "rf2Init1B", &TFxReceiveMachine2::InitSetup, 84, P::fpInput},
    {R::rf2Init2, "rf2Init2", &TFxReceiveMachine2::Idle, 85, P::fpInput},
    {R::rf2Init3, "rf2Init3", &TFxReceiveMachine2::Init3, 86, P::fpInput},
    {R::rfWaiting, "rfWaiting", &TFxReceiveMachine2::Waiting, 87, P::fpInput},
    {R::rfAnswer, "rfAnswer", &TFxReceiveMachine2::Answer, 88, P::fpAtOnce},
    {R::rf2ValCnnct, "rf2ValCnnct", &TFxReceiveMachine2::ValCnnct, 101, P::fpInput},
    {R::rf2GtSndID, "rf2GtSndID", &TFxReceiveMachine2::GtSndID, 102, P::fpInput},
    {R::rf2GtCnnct, "rf2GtCnnct", &TFxReceiveMachine2::GtCnnct, 103, P::fpInput},
    {R::rfStartPage, "rfStartPage", &TFxReceiveMachine2::StartPageData, 104, P::fpAtOnce},
    {R::rfGtPgDta, "rfGtPgDta", &TFxReceiveMachine2::PageData, 105, P::fpInput},
    {R::rf2GtPgRslt, "rf2GtPgRslt", &TFxReceiveMachine2::GtPgRslt, 112, P::fpInput},
    {R::rf2GetFHNG, "rf2GetFHNG", &TFxReceiveMachine2::GetFHNG, 113, P::fpInput},
    {R::rfComplete, "rfComplete", &TFxReceiveMachine2::Complete, 114, P::fpAtOnce},
    {R::rfAbort, "rfAbort", &TFxReceiveMachine2::AbortCall, 115, P::fpAtOnce},
    {R::rfDone, "rfDone", &TFxReceiveMachine2::Idle, 116, P::fpTrigger},
}};

static_assert(FxTableIndexedByState(TFxReceiveMachine2::kStates));

std::unique_ptr<TFxMachine> FxNewReceiveMachine2(TFxSessionCore& core) {
  return std::make_unique<TFxReceiveMachine2>(core);
}

int TFxReceiveMachine2::Prepare() {
  auto* rx = ReceiveFax();
  const std::vector<std::string> chain = {cmds_.classCmd, "AT+FCR=1",
                                          cmds_.localId + "=\"" + core_.Settings().stationId + "\"",
                                          std::string("AT+FAA=") + (rx && rx->FaxAndData ? "1" : "0")};
  for (const auto& c : chain)
    if (!core_.PrepCommand(c)) return fxcode::ecFaxBadModemResult;
  return 0;
}

void TFxReceiveMachine2::StartClass() {
  core_.SendCommand(cmds_.classCmd);
  state_ = R::rf2Init1;
}

void TFxReceiveMachine2::StartAnswer() { state_ = R::rf2ValCnnct; }

void TFxReceiveMachine2::EndPageData() { state_ = R::rf2GtPgRslt; }

bool TFxReceiveMachine2::HangupExpected() const { return state_ == R::rf2GetFHNG; }

bool TFxReceiveMachine2::SendSetupCommand(size_t step) {
  if (step >= cmds_.extraSetup.size()) return false;
  core_.SendCommand(cmds_.extraSetup[step]);
  return true;
}

void TFxReceiveMachine2::Init1(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  core_.SwitchToNormalBaud();
  {
    TFxClass2Params accept;
    accept.fine = true;
    accept.bps = core_.Settings().desiredBps;
    accept.ecm = core_.Settings().desiredEcm;
    core_.SendCommand(cmds_.rxCapabilities + "=" + FxParamString(accept));
  }
  state_ = cmds_.extraSetup.empty() ? R::rf2Init3 : R::rf2Init1A;
}

void TFxReceiveMachine2::InitSetup(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  if (!SendSetupCommand(state_ == R::rf2Init1A ? 0 : 1)) return core_.Fail(fxcode::ecFaxInitError);
  state_ = state_ == R::rf2Init1A ? R::rf2Init1B : R::rf2Init3;
}

void TFxReceiveMachine2::Init3(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (!ok) return core_.Fail(fxcode::ecFaxInitError);
  core_.DisarmReply();
  core_.SetProgress(fxprogress::fpWaiting);
  state_ = R::rfWaiting;
}

void TFxReceiveMachine2::ValCnnct(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  if (FxHas(line, cmds_.connect)) {
    core_.ArmReply(kReplyWait);
    core_.SetProgress(fxprogress::fpIncoming);
    state_ = R::rf2GtSndID;
  }
}

void TFxReceiveMachine2::GtSndID(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  // Every report shows the modem is getting on with phase B, which with
  // retraining can take longer than one reply wait.
  core_.ArmReply(kReplyWait);
  if (FxHas(line, cmds_.transmitterId)) {
    core_.SetRemoteId(FxCleanRemoteId(line));
    if (core_.Notify(TFaxMessage::fmAccept, 0) != 0) {
      core_.SetProgress(fxprogress::fpGotRemoteID);
      if (!rxFile_.IsOpen()) CreateReceivedFile();
    } else {
      core_.WriteRaw("AT+FKS\r", 7);
      // The hang-up purges output: the command reaches the modem first, and
      // the abort state runs once it has.
      core_.PauseUntilSent(1000);
      core_.Pause(200);
      core_.Fail(fxcode::ecFileRejected);
      core_.Notify(TFaxMessage::fmLog, 6);
    }
  } else if (FxHas(line, cmds_.sessionParams)) {
    core_.TakeSessionParams(line);
  } else if (ok) {
    core_.SendCommand("AT+FDR");
    core_.StatusDue();
    state_ = R::rf2GtCnnct;
  }
}

void TFxReceiveMachine2::GtCnnct(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  if (FxHas(line, cmds_.sessionParams)) {
    core_.TakeSessionParams(line);
  } else if (FxHas(line, "CONNECT")) {
    if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfReceive);
    state_ = R::rfStartPage;
  }
}

void TFxReceiveMachine2::GtPgRslt(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (FxHas(line, cmds_.pageStatus)) {
    const int v = FxPageStatusValue(line);
    const int rc = (v == 1 || v == 3 || v == 5) ? rxFile_.CompletePage(core_.RemoteId()) : rxFile_.CutBackPage();
    if (rc < 0) return core_.Fail(rc);
    core_.SetProgress(fxprogress::fpGetPageResult);
  } else if (FxHas(line, "+FET")) {
    // Procedure-interrupt variants (3, 4, 5) carry the same meaning as 0, 1, 2.
    const std::string v = FxReportValue(line);
    const int code = v.size() == 1 && v[0] >= '0' && v[0] <= '5' ? (v[0] - '0') % 3 : 2;
    postPage_ = code;
    core_.SetProgress(fxprogress::fpCheckMorePages);
  } else if (ok) {
    // A page the modem gave no status for is kept: its data is whole.
    if (rxFile_.InPage()) {
      const int rc = rxFile_.CompletePage(core_.RemoteId());
      if (rc < 0) return core_.Fail(rc);
    }
    core_.SendCommand("AT+FDR");
    if (postPage_ == 2) {
      rxFile_.Close();
      core_.Notify(TFaxMessage::fmLog, 5);
      core_.SetProgress(fxprogress::fpGetHangup);
      state_ = R::rf2GetFHNG;
    } else {
      newFileDue_ = postPage_ == 1;
      state_ = R::rf2GtCnnct;
    }
  }
}

void TFxReceiveMachine2::GetFHNG(TFxEvent ev) {
  std::string line;
  if (!TakeLine(ev, line)) return;
  const bool ok = FxHas(line, "OK");
  if (FxHas(line, cmds_.hangup)) {
    core_.SetProgress(fxprogress::fpGotHangup);
  } else if (FxHas(line, "+FET")) {
    core_.SetProgress(fxprogress::fpGetHangup);
  } else if (ok) {
    state_ = R::rfComplete;
  }
}
