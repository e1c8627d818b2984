#pragma once
// The states every receive machine has, whatever the modem's class: setting
// up, waiting for the rings, answering, starting and reading a page, the
// end of a call and ending a call after an error. M is the machine (it
// provides StartClass, StartAnswer, PageFine, PageWide and EndPageData for
// the class's own steps) and S its state enum, which has these states under
// the same names.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "faxengine/port/Dispatcher.h"
#include "faxengine/session/FxExceptions.h"
#include "faxengine/session/PageReceiver.h"
#include "faxengine/session/SessionCore.h"

template <class M, class S>
class TFxReceiveStates : public TFxTableMachine<M, S>, protected TFxPageReceiver {
 public:
  explicit TFxReceiveStates(TFxSessionCore& core) : TFxPageReceiver(core) {}
  void Begin() override { state_ = S::rfInit; }
  void EnterAbort() override { state_ = S::rfAbort; }

 protected:
  using TFxTableMachine<M, S>::state_;
  static constexpr int32_t kAnswerWait = 1092;
  static constexpr uint8_t kDc2 = 0x12;

  M& Self() { return static_cast<M&>(*this); }

  void Idle(TFxEvent) {}

  // The modem's next line in a state that waits for one (the modem's own
  // line collector); false when there is none, or the call has failed on it.
  bool TakeLine(TFxEvent ev, std::string& line) {
    if (ev == TFxEvent::evReplyTimer) {
      if (state_ != S::rfWaiting) core_.Fail(fxcode::ecTimeout);
      return false;
    }
    if (ev != TFxEvent::evData || !core_.ReadLine()) return false;
    line = core_.ReplyLine();
    if (std::getenv("CVFAX_TRACE")) std::fprintf(stderr, "[%s] %s\n", this->StateName(), line.c_str());
    if (FxHas(line, "ERROR")) {
      core_.Fail(fxcode::ecFaxBadModemResult);
      return false;
    }
    if (FxHas(line, cmds_.hangup)) {
      core_.Values().hangupReason = FxHangupValue(line);
      if (!Self().HangupExpected()) {
        core_.Fail(fxcode::ecFaxSessionError);
        return false;
      }
    }
    return true;
  }

  void Init(TFxEvent) {
    auto* rx = ReceiveFax();
    rings_ = 0;
    core_.Values().currentPage = 0;
    core_.SetRemoteId({});
    if (rx && rx->ConstantStatus && !core_.FirstStatusSent()) core_.Status(1);
    if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfNone);
    core_.Port().SetDTR(true);
    core_.Port().SetRTS(true);
    newFileDue_ = false;
    Self().StartClass();
  }

  void Waiting(TFxEvent ev) {
    std::string line;
    if (!TakeLine(ev, line)) return;
    auto* rx = ReceiveFax();
    if (FxHas(line, "RING")) {
      ++rings_;
      if (rings_ >= std::max(1, rx ? rx->AnswerOnRing : 1)) {
        if (!core_.FirstStatusSent()) core_.Status(1);
        core_.ArmReply(kAnswerWait);
        state_ = S::rfAnswer;
      }
    } else if (FxHas(line, "NO C")) {
      core_.SetProgress(fxprogress::fpNoConnect);
    } else if (FxHas(line, "CONNECT")) {
      core_.Fail(fxcode::ecFaxDataCall);
    } else if (FxHas(line, "VOICE") || FxHas(line, "VCON")) {
      core_.Fail(fxcode::ecFaxVoiceCall);
    }
  }

  void Answer(TFxEvent) {
    core_.SendCommand("ATA");
    core_.ArmReply(kAnswerWait);
    core_.SetProgress(fxprogress::fpAnswer);
    Self().StartAnswer();
  }

  void StartPageData(TFxEvent) {
    if (!StartPage(Self().PageFine(), Self().PageWide())) return;
    core_.ArmReply(kReplyWait);
    // Class 2 modems send the page once the host is ready for it.
    if (core_.FaxClass() != TFaxClass::fcClass1) {
      const uint8_t dc2 = kDc2;
      core_.WriteRaw(&dc2, 1);
    }
    core_.SetProgress(fxprogress::fpGetPage);
    state_ = S::rfGtPgDta;
  }

  void PageData(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer) return core_.Fail(fxcode::ecTimeout);
    if (ev == TFxEvent::evData && ReceivePageData()) Self().EndPageData();
  }

  void Complete(TFxEvent) {
    auto* rx = ReceiveFax();
    core_.SwitchToNormalBaud();
    if (rx && rx->OneFax) {
      core_.Status(2);
      state_ = S::rfDone;
      core_.Finish();
    } else {
      if (!(rx && rx->ConstantStatus)) {
        core_.Status(2);
        core_.ResetFirstStatus();
      }
      state_ = S::rfInit;
    }
  }

  void AbortCall(TFxEvent) {
    auto* rx = ReceiveFax();
    CloseAfterError();
    if (!core_.HangUp(THangupKind::hkReceive)) return;
    core_.Status(2);
    core_.ResetFirstStatus();
    if (core_.Settings().exitOnError || core_.Cancelled() || (rx && rx->OneFax)) {
      if (core_.Cancelled()) core_.SetProgress(fxprogress::fpCancel);
      state_ = S::rfDone;
      core_.Finish();
    } else {
      state_ = S::rfInit;
    }
  }
};
