// The receive machine: Class 2 / 2.0 initialisation, waiting for calls,
// answering, the received APF file and the post-page dialogue.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "faxengine/session/FaxSession.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr int32_t kAnswerWait = 1092;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDc2 = 0x12;
constexpr uint8_t kSub = 0x1A;
constexpr size_t kMaxReadPerCall = 10000;
constexpr size_t kFileBuffer = 4096;

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}
}  // namespace

int TFaxSession::CreateReceivedFile() {
  currentPage = 0;
  // No answer means the wait was given up (a cancel, a host shutting down):
  // the name may still be written by the host, so it is not read.
  if (Notify(TFaxMessage::fmName, 0) == 0) return fxcode::ecCancelRequested;
  std::string id = RemoteId();
  id.resize(20, ' ');
  const int rc = rxFile_.Create(receiveFileName, id);
  if (rc < 0) {
    Fail(rc);
    return rc;
  }
  Notify(TFaxMessage::fmLog, 4);
  return 0;
}

void TFaxSession::ReceivePageData() {
  uint8_t b = 0;
  size_t taken = 0;
  bool ended = false;
  while (taken < kMaxReadPerCall && disp_->ReadChar(b)) {
    ++taken;
    // The line feed that ends the modem's CONNECT line is not page data.
    const bool first = rxFirst_;
    rxFirst_ = false;
    if (first && b == '\n') continue;
    if (rxDle_) {
      rxDle_ = false;
      if (b == kEtx) {
        ended = true;
        break;
      }
      // Class 1 modems may send DLE SUB for two data DLEs.
      if (b == kSub && faxClass_ == TFaxClass::fcClass1) {
        rxBuf_.push_back(kDle);
        b = kDle;
      }
    } else if (b == kDle) {
      rxDle_ = true;
      continue;
    }
    // Only Class 2 modems deliver the bits most significant first.
    rxBuf_.push_back(faxClass_ == TFaxClass::fcClass2 ? Reverse(b) : b);
    if (rxBuf_.size() >= kFileBuffer) {
      const int rc = rxFile_.Write(rxBuf_.data(), rxBuf_.size());
      rxBuf_.clear();
      if (rc < 0) return Fail(rc);
    }
  }
  if (!rxBuf_.empty() && ended) {
    const int rc = rxFile_.Write(rxBuf_.data(), rxBuf_.size());
    rxBuf_.clear();
    if (rc < 0) return Fail(rc);
  }
  ArmReply(kReplyWait);
  if (ended) {
    reply_.Clear();
    if (faxClass_ == TFaxClass::fcClass1) {
      c1_.collector.Reset();
      rstate_ = TReceiveState::rf1FinPage;
    } else {
      rstate_ = TReceiveState::rf2GtPgRslt;
    }
  }
}

void TFaxSession::ReceiveStep(TEvent ev) {
  using R = TReceiveState;
  auto* rx = dynamic_cast<TFxReceiveFax*>(&fax_);
  const bool timer = ev == TEvent::evReplyTimer;
  switch (rstate_) {
    case R::rf2Init1: case R::rf2Init1A: case R::rf2Init1B: case R::rf2Init3: case R::rfWaiting:
    case R::rf2ValCnnct: case R::rf2GtSndID: case R::rf2GtCnnct: case R::rf2GtPgRslt: case R::rf2GetFHNG: {
      if (timer) {
        if (rstate_ != R::rfWaiting) Fail(fxcode::ecTimeout);
        return;
      }
      if (ev != TEvent::evData || !ReadLine()) return;
      const std::string line = reply_.Line();
      if (std::getenv("CVFAX_TRACE")) std::fprintf(stderr, "[%s] %s\n", ReceiveStateName(rstate_), line.c_str());
      if (FxHas(line, "ERROR")) return Fail(fxcode::ecFaxBadModemResult);
      if (FxHas(line, cmds_.hangup)) {
        hangupReason = FxHangupValue(line);
        if (rstate_ != R::rf2GetFHNG) return Fail(fxcode::ecFaxSessionError);
      }
      ReceiveLine(line);
      return;
    }
    case R::rfInit:
      rings_ = 0;
      currentPage = 0;
      {
        std::lock_guard lock(remoteMutex_);
        remoteId_.clear();
      }
      if (rx && rx->ConstantStatus && !firstStatusSent_) Status(1);
      if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfNone);
      port_.SetDTR(true);
      port_.SetRTS(true);
      newFileDue_ = false;
      rejected_ = false;
      if (faxClass_ == TFaxClass::fcClass1) {
        SendCommand("AT+FCLASS=1");
        c1_.collector.Reset();
        rstate_ = R::rf1Init1;
        return;
      }
      SendCommand(cmds_.classCmd);
      rstate_ = R::rf2Init1;
      return;
    case R::rfAnswer:
      SendCommand("ATA");
      ArmReply(kAnswerWait);
      SetProgress(fxprogress::fpAnswer);
      if (faxClass_ == TFaxClass::fcClass1) {
        rx1_ = TFxClass1Receive();
        c1_.collector.Reset();
        rstate_ = R::rf1SendCSI;
        return;
      }
      rstate_ = R::rf2ValCnnct;
      return;
    case R::rfStartPage: {
      if (newFileDue_ || !rxFile_.IsOpen()) {
        if (rxFile_.IsOpen()) {
          rxFile_.Close();
          Notify(TFaxMessage::fmLog, 5);
        }
        newFileDue_ = false;
        if (CreateReceivedFile() < 0) return;
      }
      currentPage = currentPage + 1;
      const bool class1 = faxClass_ == TFaxClass::fcClass1;
      uint16_t flags = 0;
      if (class1 ? c1_.fine : session_.fine) flags |= apfHighRes;
      if (class1 ? c1_.wide : session_.wide) flags |= apfWide;
      const int rc = rxFile_.StartPage(flags);
      if (rc < 0) return Fail(rc);
      rxDle_ = false;
      rxFirst_ = true;
      rxBuf_.clear();
      ArmReply(kReplyWait);
      if (!class1) {
        const uint8_t dc2 = kDc2;
        WriteRaw(&dc2, 1);
      }
      SetProgress(fxprogress::fpGetPage);
      rstate_ = R::rfGtPgDta;
      return;
    }
    case R::rfGtPgDta:
      if (timer) return Fail(fxcode::ecTimeout);
      if (ev == TEvent::evData) ReceivePageData();
      return;
    case R::rfComplete:
      SwitchToNormalBaud();
      if (rx && rx->OneFax) {
        Status(2);
        rstate_ = R::rfDone;
        Finish();
      } else {
        if (!(rx && rx->ConstantStatus)) Status(2), firstStatusSent_ = false;
        rstate_ = R::rfInit;
      }
      return;
    case R::rfAbort:
      if (rxFile_.IsOpen()) {
        if (rxFile_.InPage()) {
          if (!rxBuf_.empty()) rxFile_.Write(rxBuf_.data(), rxBuf_.size());
          rxBuf_.clear();
          rxFile_.CompletePage(RemoteId());
        }
        rxFile_.Close();
        Notify(TFaxMessage::fmLog, 7);
      }
      if (!HangUp(THangupKind::hkReceive)) return;
      Status(2);
      firstStatusSent_ = false;
      if (exitOnError_ || cancelled_ || (rx && rx->OneFax)) {
        if (cancelled_) SetProgress(fxprogress::fpCancel);
        rstate_ = R::rfDone;
        Finish();
      } else {
        rstate_ = R::rfInit;
      }
      return;
    default:
      if (faxClass_ == TFaxClass::fcClass1) ReceiveStep1(ev);
      return;
  }
}

void TFaxSession::ReceiveLine(const std::string& line) {
  using R = TReceiveState;
  auto* rx = dynamic_cast<TFxReceiveFax*>(&fax_);
  const bool ok = FxHas(line, "OK");
  switch (rstate_) {
    case R::rf2Init1:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      SwitchToNormalBaud();
      {
        TFxClass2Params accept;
        accept.fine = true;
        accept.bps = desiredBps_;
        accept.ecm = desiredEcm_;
        SendCommand(cmds_.rxCapabilities + "=" + FxParamString(accept));
      }
      rstate_ = cmds_.extraSetup.empty() ? R::rf2Init3 : R::rf2Init1A;
      return;
    case R::rf2Init1A:
    case R::rf2Init1B:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      if (!SendSetupCommand(rstate_ == R::rf2Init1A ? 0 : 1)) return Fail(fxcode::ecFaxInitError);
      rstate_ = rstate_ == R::rf2Init1A ? R::rf2Init1B : R::rf2Init3;
      return;
    case R::rf2Init3:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      DisarmReply();
      SetProgress(fxprogress::fpWaiting);
      rstate_ = R::rfWaiting;
      return;
    case R::rfWaiting:
      if (FxHas(line, "RING")) {
        ++rings_;
        if (rings_ >= std::max(1, rx ? rx->AnswerOnRing : 1)) {
          if (!firstStatusSent_) Status(1);
          ArmReply(kAnswerWait);
          rstate_ = R::rfAnswer;
        }
      } else if (FxHas(line, "NO C")) {
        SetProgress(fxprogress::fpNoConnect);
      } else if (FxHas(line, "CONNECT")) {
        Fail(fxcode::ecFaxDataCall);
      } else if (FxHas(line, "VOICE") || FxHas(line, "VCON")) {
        Fail(fxcode::ecFaxVoiceCall);
      }
      return;
    case R::rf2ValCnnct:
      if (FxHas(line, cmds_.connect)) {
        ArmReply(kReplyWait);
        SetProgress(fxprogress::fpIncoming);
        rstate_ = R::rf2GtSndID;
      }
      return;
    case R::rf2GtSndID:
      // Every report shows the modem is getting on with phase B, which with
      // retraining can take longer than one reply wait.
      ArmReply(kReplyWait);
      if (FxHas(line, cmds_.transmitterId)) {
        {
          std::lock_guard lock(remoteMutex_);
          remoteId_ = FxCleanRemoteId(line);
        }
        if (Notify(TFaxMessage::fmAccept, 0) != 0) {
          SetProgress(fxprogress::fpGotRemoteID);
          if (!rxFile_.IsOpen()) CreateReceivedFile();
        } else {
          WriteRaw("AT+FKS\r", 7);
          // The hang-up purges output: let the command reach the modem first.
          for (int i = 0; i < 20 && disp_->OutputUsed() > 0; ++i) DelayMs(50);
          DelayMs(200);
          rejected_ = true;
          Fail(fxcode::ecFileRejected);
          Notify(TFaxMessage::fmLog, 6);
        }
      } else if (FxHas(line, cmds_.sessionParams)) {
        TakeSessionParams(line);
      } else if (ok) {
        SendCommand("AT+FDR");
        statusPending_ = true;
        rstate_ = R::rf2GtCnnct;
      }
      return;
    case R::rf2GtCnnct:
      if (FxHas(line, cmds_.sessionParams)) {
        TakeSessionParams(line);
      } else if (FxHas(line, "CONNECT")) {
        if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfReceive);
        rstate_ = R::rfStartPage;
      }
      return;
    case R::rf2GtPgRslt:
      if (FxHas(line, cmds_.pageStatus)) {
        const int v = FxPageStatusValue(line);
        const int rc = (v == 1 || v == 3 || v == 5) ? rxFile_.CompletePage(RemoteId()) : rxFile_.CutBackPage();
        if (rc < 0) return Fail(rc);
        SetProgress(fxprogress::fpGetPageResult);
      } else if (FxHas(line, "+FET")) {
        // Procedure-interrupt variants (3, 4, 5) carry the same meaning as 0, 1, 2.
        const std::string v = FxReportValue(line);
        const int code = v.size() == 1 && v[0] >= '0' && v[0] <= '5' ? (v[0] - '0') % 3 : 2;
        postPage_ = code;
        SetProgress(fxprogress::fpCheckMorePages);
      } else if (ok) {
        // A page the modem gave no status for is kept: its data is whole.
        if (rxFile_.InPage()) {
          const int rc = rxFile_.CompletePage(RemoteId());
          if (rc < 0) return Fail(rc);
        }
        SendCommand("AT+FDR");
        if (postPage_ == 2) {
          rxFile_.Close();
          Notify(TFaxMessage::fmLog, 5);
          SetProgress(fxprogress::fpGetHangup);
          rstate_ = R::rf2GetFHNG;
        } else {
          newFileDue_ = postPage_ == 1;
          rstate_ = R::rf2GtCnnct;
        }
      }
      return;
    case R::rf2GetFHNG:
      if (FxHas(line, cmds_.hangup)) {
        SetProgress(fxprogress::fpGotHangup);
      } else if (FxHas(line, "+FET")) {
        SetProgress(fxprogress::fpGetHangup);
      } else if (ok) {
        rstate_ = R::rfComplete;
      }
      return;
    default: return;
  }
}
