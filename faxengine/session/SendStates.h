#pragma once
// The states every send machine has, whatever the modem's class: getting
// the next entry, opening its files, dialling, waiting for a busy line, and
// sending the page header, the cover and the page data; closing the entry,
// ending the session and ending a call after an error. M is the machine (it
// provides StartClass, StartCall and EndPageData for the class's own steps)
// and S its state enum, which has these states under the same names.

#include "faxengine/port/Dispatcher.h"
#include "faxengine/session/FxExceptions.h"
#include "faxengine/session/PageSender.h"
#include "faxengine/session/SessionCore.h"

template <class M, class S>
class TFxSendStates : public TFxTableMachine<M, S>, protected TFxPageSender {
 public:
  explicit TFxSendStates(TFxSessionCore& core) : TFxPageSender(core) {}
  void Begin() override { state_ = S::tfGetEntry; }
  void EnterAbort() override { state_ = S::tfAbort; }

 protected:
  using TFxTableMachine<M, S>::state_;
  static constexpr int32_t kXonWait = 18;
  static constexpr uint8_t kXon = 0x11;

  M& Self() { return static_cast<M&>(*this); }

  void Idle(TFxEvent) {}

  void GetEntry(TFxEvent) {
    if (core_.Notify(TFaxMessage::fmNextFax, 0) == 0) {
      state_ = S::tfCompleteOK;
      return;
    }
    core_.Notify(TFaxMessage::fmLog, 1);
    if (OpenEntry()) state_ = S::tfInit;
  }

  void Init(TFxEvent) {
    if (!OpenFirstPage()) return;
    core_.SetProgress(fxprogress::fpInitModem);
    Self().StartClass();
  }

  void Dial(TFxEvent) {
    auto* sf = SendFax();
    core_.SendCommand(std::string(sf && !sf->ToneDial ? "ATDP" : "ATDT") + (sf ? sf->DialPrefix : "") +
                      core_.PhoneNumber());
    core_.ArmReply(sf ? sf->DialWaitTicks() : 1092);
    core_.Values().dialAttempt = dialAttempts_ + 1;
    core_.SetProgress(fxprogress::fpDialing);
    Self().StartCall();
  }

  void RetryWait(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer) state_ = S::tfDial;
  }

  void WaitXon(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer) {
      state_ = S::tfWaitFrHead;
    } else if (ev == TFxEvent::evData) {
      uint8_t b = 0;
      while (core_.Disp().ReadChar(b))
        if (b == kXon) {
          state_ = S::tfWaitFrHead;
          break;
        }
    }
    if (state_ == S::tfWaitFrHead) {
      core_.ArmOutFree(kBlock);
      core_.ArmReply(kPageWait);
    }
  }

  void WaitFrHead(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer) {
      core_.Fail(fxcode::ecTimeout);
    } else if (ev == TFxEvent::evOutFree) {
      core_.SetProgress(fxprogress::fpSendPage);
      if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfBoth);
      lastStatusAt_ = std::chrono::steady_clock::now();
      core_.SetPageDataFlowing(true);
      state_ = S::tfSndPgeHdr;
    }
  }

  void SndPgeHdr(TFxEvent) {
    const TFxClass2Params& n = core_.Negotiated();
    minLineBytes_ = FxMinLineBytes(n.scanTimeCode, page_.HighRes(), n.bps);
    if (SendHeaderLine()) state_ = coverPending_ ? S::tfOpenCover : S::tfPrepPage;
  }

  void OpenCoverPage(TFxEvent) {
    if (!OpenCover()) return;
    if (coverIsApf_) {
      state_ = S::tfPrepPage;
      return;
    }
    core_.ArmReply(kPageWait);
    core_.ArmOutFree(kBlock);
    core_.SetProgress(fxprogress::fpSendPage);
    state_ = S::tfSendCover;
  }

  void SendCover(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer)
      core_.Fail(fxcode::ecTimeout);
    else if (ev == TFxEvent::evOutFree && SendCoverLines())
      state_ = S::tfDrainPage;
  }

  void PrepPage(TFxEvent) {
    pageDone_ = 0;
    core_.Values().bytesSent = 0;
    core_.Values().pageLength = static_cast<long>(page_.imageLength);
    core_.ArmReply(kPageWait);
    core_.ArmOutFree(kBlock);
    core_.StatusDue();
    state_ = S::tfSendPage;
  }

  void SendPage(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer) {
      core_.Fail(fxcode::ecTimeout);
    } else if (ev == TFxEvent::evOutFree) {
      if (SendPageData()) state_ = S::tfDrainPage;
    } else if (ev == TFxEvent::evData) {
      uint8_t b = 0;
      while (core_.Disp().ReadChar(b)) {
      }
    }
  }

  void DrainPage(TFxEvent ev) {
    if (ev == TFxEvent::evReplyTimer) {
      core_.Fail(fxcode::ecTimeout);
      return;
    }
    if (ev != TFxEvent::evOutUsed) return;
    core_.SetPageDataFlowing(false);
    if (core_.Settings().softwareFlow) core_.Port().SetSWFlowOptions(TSWFlowOptions::swfNone);
    morePages_ = MorePages();
    sentPageNo_ = pageNo_;
    sentCover_ = sendingCover_;
    resolutionChanges_ = false;
    if (morePages_) AdvancePage();
    if (state_ != S::tfDrainPage) return;
    Self().EndPageData();
  }

  void Close(TFxEvent) {
    CloseEntryFiles();
    resendCount_ = 0;
    coverPending_ = false;
    core_.SetProgress(fxprogress::fpFinished);
    core_.Status(0);
    core_.Notify(TFaxMessage::fmLog, 2);
    core_.SwitchToNormalBaud();
    state_ = S::tfGetEntry;
  }

  void CompleteOK(TFxEvent) {
    core_.Status(2);
    state_ = S::tfDone;
    core_.Finish();
  }

  void AbortCall(TFxEvent) {
    if (core_.HangupIdle()) {
      CloseEntryFiles();
      core_.Notify(TFaxMessage::fmLog, 3);
    }
    DropQueued();
    if (!core_.HangUp(THangupKind::hkSend)) return;
    core_.SwitchToNormalBaud();
    const TFxSessionSettings& set = core_.Settings();
    if (set.exitOnError || set.abortNoConnect || core_.Cancelled()) {
      if (core_.Cancelled()) core_.SetProgress(fxprogress::fpCancel);
      core_.Status(2);
      state_ = S::tfDone;
      core_.Finish();
    } else {
      state_ = S::tfGetEntry;
    }
  }

  // BUSY (or no answer): dial again after the retry wait, or give the entry up.
  void BusyHandling() {
    ++dialAttempts_;
    core_.Values().dialAttempt = dialAttempts_;
    const TFxSessionSettings& set = core_.Settings();
    if (set.dialLimit != 0 && dialAttempts_ >= set.dialLimit) {
      core_.Status(0);
      if (set.abortNoConnect) {
        core_.Fail(fxcode::ecFaxBusy);
        return;
      }
      CloseEntryFiles();
      core_.ReportError(fxcode::ecFaxBusy);
      core_.Notify(TFaxMessage::fmLog, 3);
      core_.SetProgress(fxprogress::fpInitModem);
      state_ = S::tfGetEntry;
      return;
    }
    core_.SetProgress(fxprogress::fpBusyWait);
    core_.Status(0);
    auto* sf = SendFax();
    core_.ArmReply(SecsToTicks(sf ? sf->DialRetryWait : 60));
    state_ = S::tfRetryWait;
  }
};
