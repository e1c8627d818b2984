// The send machine: getting entries, Class 2 / 2.0 initialisation, dialling,
// the page header line, cover pages, page data and the post-page dialogue.

#include <algorithm>
#include <cctype>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "faxengine/session/FaxSession.h"
#include "faxengine/session/PageTime.h"
#include "faximage/T4Coder.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr int32_t kPageWait = 1092;
constexpr int32_t kFdtWait = 546;
constexpr int32_t kXonWait = 18;
constexpr uint32_t kBlock = 4096;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kXon = 0x11;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

int TFaxSession::ReadPageHeader(unsigned page) {
  if (!src_) return 0;
  const int rc = src_->FindPage(page, page_, pageData_);
  if (rc < 0) return rc;
  pageDone_ = 0;
  return 0;
}

bool TFaxSession::MorePages() const { return haveFile_ && (sendingCover_ || pageNo_ < filePages_); }

void TFaxSession::CloseEntryFiles() {
  file_ = TFxApfReader();
  coverApf_ = TFxApfReader();
  coverLines_.clear();
  src_ = nullptr;
  outBuf_.clear();
  outBufPos_ = 0;
}

void TFaxSession::QueueData(const uint8_t* data, size_t n, bool escape) {
  if (outBufPos_ > 0 && outBufPos_ == outBuf_.size()) {
    outBuf_.clear();
    outBufPos_ = 0;
  }
  if (!escape) {
    outBuf_.insert(outBuf_.end(), data, data + n);
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    outBuf_.push_back(data[i]);
    if (data[i] == kDle) outBuf_.push_back(kDle);
  }
}

void TFaxSession::FlushData() {
  if (!disp_) return;
  while (outBufPos_ < outBuf_.size()) {
    const size_t k = std::min(disp_->OutputFree(), outBuf_.size() - outBufPos_);
    if (k == 0 || disp_->WriteBlock(outBuf_.data() + outBufPos_, k) != 0) return;
    outBufPos_ += k;
  }
  outBuf_.clear();
  outBufPos_ = 0;
}

void TFaxSession::QueueZeros(size_t target) {
  FlushData();
  if (outBufPos_ < outBuf_.size()) return;
  target = std::min<size_t>(target, 8192);
  const size_t used = disp_->OutputUsed();
  if (used >= target) return;
  const std::vector<uint8_t> zeros(std::min(target - used, disp_->OutputFree()), 0);
  if (!zeros.empty()) disp_->WriteBlock(zeros.data(), zeros.size());
}

void TFaxSession::SendHeaderLine() {
  auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
  const bool fine = page_.HighRes();
  TFxTextConverter hdr;
  int rc = 0;
  if (sf && sf->EnhTextEnabled && sf->EnhHeaderFont)
    rc = hdr.SetEnhFont(sf->EnhHeaderFont, fine);
  else
    rc = hdr.LoadFont(16, fine);
  if (rc < 0) {
    Fail(rc);
    return;
  }
  hdr.SetWidth(page_.Wide() ? TFaxWidth::fwWide : TFaxWidth::fwNormal);
  hdr.SetResolution(fine ? TFaxResolution::frHigh : TFaxResolution::frNormal);
  std::string text = sf ? sf->HeaderLine : std::string();
  if (!text.empty()) {
    TFxHeaderTags tags;
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[64];
    std::strftime(buf, sizeof buf, "%x", &local);
    tags.date = buf;
    std::strftime(buf, sizeof buf, "%H:%M", &local);
    tags.time = buf;
    tags.stationId = stationId_;
    tags.sender = sf->HeaderSender;
    tags.recipient = sf->HeaderRecipient;
    tags.title = sf->HeaderTitle;
    tags.totalPages = filePages_ + (haveCover_ ? 1 : 0);
    tags.currentPage = coverPending_ ? 1 : (haveCover_ ? pageNo_ + 1 : pageNo_);
    text = FxUtf8ToFaxCodes(FxReplaceHeaderTags(text, tags));
    if (text.size() > 255) text.resize(255);
  }
  const size_t pad = minLineBytes_ >= 7 ? minLineBytes_ - 5 : 0;
  const std::vector<uint8_t> zeros(std::max<size_t>(pad, minLineBytes_), 0);
  for (int i = 0; i < 8; ++i) {
    QueueData(FxT4::kBlankRecord.data(), FxT4::kBlankRecord.size(), true);
    QueueData(zeros.data(), pad, false);
  }
  QueueZeros(static_cast<size_t>(sf ? sf->BufferMinimum : 1000));
  if (!text.empty()) {
    std::vector<uint8_t> raw(hdr.PageWidth() / 8);
    std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
    for (unsigned row = 1; row <= hdr.RowsPerLine(); ++row) {
      hdr.RasterizeRow(text, row, raw.data());
      const size_t n = hdr.CodeLine(raw.data(), rec.data());
      QueueData(rec.data(), n, true);
      if (n < minLineBytes_) QueueData(zeros.data(), minLineBytes_ - n, false);
    }
  }
  QueueZeros(static_cast<size_t>(sf ? sf->BufferMinimum : 1000));
}

void TFaxSession::SendCoverLines() {
  FlushData();
  if (outBufPos_ < outBuf_.size()) {
    ArmReply(kPageWait);
    ArmOutFree(kBlock);
    return;
  }
  std::vector<uint8_t> raw(coverConv_.PageWidth() / 8);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  const std::vector<uint8_t> zeros(minLineBytes_ + 1, 0);
  while (coverLine_ < coverLines_.size() && disp_->OutputFree() > kBlock && outBufPos_ >= outBuf_.size()) {
    const std::string line = coverConv_.ExpandTabs(coverLines_[coverLine_++]);
    for (unsigned row = 1; row <= coverConv_.RowsPerLine(); ++row) {
      coverConv_.RasterizeRow(line, row, raw.data());
      const size_t n = coverConv_.CodeLine(raw.data(), rec.data());
      QueueData(rec.data(), n, true);
      if (n < minLineBytes_) QueueData(zeros.data(), minLineBytes_ - n, false);
    }
    FlushData();
  }
  if (coverLine_ >= coverLines_.size() && outBufPos_ >= outBuf_.size()) {
    const size_t n = TFxTextConverter::PageEndRecord(rec.data());
    QueueData(rec.data(), n, true);
    FlushData();
    if (outBufPos_ >= outBuf_.size()) {
      sstate_ = TSendState::tfDrainPage;
      ArmReply(kPageWait);
      ArmOutUsed(0);
      return;
    }
  }
  ArmReply(kPageWait);
  ArmOutFree(kBlock);
}

void TFaxSession::SendPageData() {
  auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
  const size_t bufferMinimum = static_cast<size_t>(sf ? sf->BufferMinimum : 1000);
  const int maxCount = sf ? std::max(1, sf->MaxSendCount) : 50;
  std::vector<uint8_t> piece(kBlock + 8192);
  for (int i = 0; i < maxCount; ++i) {
    FlushData();
    if (outBufPos_ < outBuf_.size()) break;
    if (disp_->OutputUsed() > bufferMinimum || disp_->OutputFree() < kBlock) break;
    if (std::chrono::steady_clock::now() - lastStatusAt_ > std::chrono::seconds(3 * statusInterval_)) {
      Status(0);
      lastStatusAt_ = std::chrono::steady_clock::now();
    }
    if (pageDone_ >= page_.imageLength) break;
    size_t n = 0;
    if (page_.LengthWords()) {
      uint8_t len[2];
      if (src_->ReadAt(pageData_ + pageDone_, len, 2) != 2) {
        Fail(fxcode::ecFaxBadFormat);
        return;
      }
      const size_t rl = len[0] | static_cast<size_t>(len[1]) << 8;
      if (rl > kBlock || pageDone_ + 2 + rl > page_.imageLength) {
        Fail(fxcode::ecFaxBadFormat);
        return;
      }
      const long long got = rl ? src_->ReadAt(pageData_ + pageDone_ + 2, piece.data(), rl) : 0;
      if (got != static_cast<long long>(rl)) {
        Fail(got < 0 ? static_cast<int>(got) : fxcode::ecFaxBadFormat);
        return;
      }
      pageDone_ += 2 + rl;
      n = rl;
      while (n < minLineBytes_) piece[n++] = 0;
    } else {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, page_.imageLength - pageDone_));
      const long long got = src_->ReadAt(pageData_ + pageDone_, piece.data(), want);
      if (got <= 0) {
        Fail(got < 0 ? static_cast<int>(got) : fxcode::ecFaxBadFormat);
        return;
      }
      pageDone_ += static_cast<uint64_t>(got);
      n = static_cast<size_t>(got);
    }
    bytesSent += static_cast<long>(n);
    QueueData(piece.data(), n, true);
  }
  FlushData();
  if (pageDone_ >= page_.imageLength && outBufPos_ >= outBuf_.size()) {
    sstate_ = TSendState::tfDrainPage;
    ArmReply(kPageWait);
    ArmOutUsed(0);
  } else {
    ArmReply(kPageWait);
    ArmOutFree(kBlock);
  }
}

void TFaxSession::AdvancePage() {
  sentPageNo_ = pageNo_;
  sentCover_ = sendingCover_;
  curFine_ = page_.HighRes();
  if (sendingCover_) {
    sendingCover_ = false;
    coverPending_ = false;
    coverApf_ = TFxApfReader();
    coverLines_.clear();
    src_ = &file_;
  } else {
    ++pageNo_;
  }
  currentPage = pageNo_;
  const int rc = ReadPageHeader(static_cast<unsigned>(pageNo_));
  if (rc < 0) Fail(rc);
  resolutionChanges_ = page_.HighRes() != curFine_;
}

void TFaxSession::RewindToSentPage() {
  pageNo_ = sentPageNo_;
  if (sentCover_) {
    sendingCover_ = false;
    coverPending_ = true;
    if (coverIsApf_) src_ = &coverApf_;
    if (!coverIsApf_ && coverLines_.empty()) {
      std::ifstream in(coverFileName, std::ios::binary);
      std::string l;
      while (coverLines_.size() < 200 && std::getline(in, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        coverLines_.push_back(l);
      }
    }
    if (coverIsApf_ && coverApf_.Open(coverFileName) == 0) ReadPageHeader(1);
  } else {
    src_ = &file_;
    ReadPageHeader(static_cast<unsigned>(pageNo_));
  }
  currentPage = sentCover_ ? 0 : pageNo_;
}

void TFaxSession::BusyHandling() {
  ++dialAttempts_;
  dialAttempt = dialAttempts_;
  if (dialLimit_ != 0 && dialAttempts_ >= dialLimit_) {
    Status(0);
    if (abortNoConnect_) {
      Fail(fxcode::ecFaxBusy);
      return;
    }
    CloseEntryFiles();
    lastError_ = fxcode::ecFaxBusy;
    Notify(TFaxMessage::fmError, lastError_);
    Notify(TFaxMessage::fmLog, 3);
    SetProgress(fxprogress::fpInitModem);
    sstate_ = TSendState::tfGetEntry;
    return;
  }
  SetProgress(fxprogress::fpBusyWait);
  Status(0);
  auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
  ArmReply(SecsToTicks(sf ? sf->DialRetryWait : 60));
  sstate_ = TSendState::tfRetryWait;
}

bool TFaxSession::SendSetupCommand(size_t step) {
  if (step >= cmds_.extraSetup.size()) return false;
  SendCommand(cmds_.extraSetup[step]);
  return true;
}

void TFaxSession::SendStep(TEvent ev) {
  using S = TSendState;
  const bool timer = ev == TEvent::evReplyTimer;
  // States that wait for a modem line.
  auto lineState = [&]() {
    switch (sstate_) {
      case S::tf2Init1: case S::tf2Init1A: case S::tf2Init1B: case S::tf2Init2: case S::tf2Init3:
      case S::tf2Connect: case S::tf2GetParams: case S::tf2WaitFPTS: case S::tf2WaitFET: case S::tf2WaitPgOK:
      case S::tf20ChckPg:
        return true;
      default: return false;
    }
  };
  if (IsClass1() && sstate_ != S::tfNone && sstate_ != S::tfDone) {
    switch (sstate_) {
      case S::tf1Init1: case S::tf1Connect: case S::tf1SendTSI: case S::tf1TSIResponse: case S::tf1DCSResponse:
      case S::tf1TrainStart: case S::tf1TrainFinish: case S::tf1WaitCFR: case S::tf1WaitPgCn: case S::tf1PageEnd:
      case S::tf1PrepEOP: case S::tf1SendEOP: case S::tf1WaitMPS: case S::tf1WaitEOP: case S::tf1WaitMCF: case S::tf1SendDCN:
      case S::tf1Hangup: case S::tf1WaitHngp:
        SendStep1(ev);
        return;
      default: break;
    }
  }
  if (lineState()) {
    if (timer) {
      Fail(sstate_ == S::tf2Connect ? fxcode::ecFaxNoAnswer : fxcode::ecTimeout);
      return;
    }
    if (ev != TEvent::evData || !ReadLine()) return;
    const std::string line = reply_.Line();
    if (std::getenv("CVFAX_TRACE")) std::fprintf(stderr, "[%s] %s\n", SendStateName(sstate_), line.c_str());
    if (FxHas(line, "ERROR")) {
      Fail(fxcode::ecFaxBadModemResult);
      return;
    }
    if (FxHas(line, cmds_.hangup)) {
      hangupReason = FxHangupValue(line);
      if (sstate_ != S::tf2WaitFET && sstate_ != S::tf20ChckPg) {
        Fail(fxcode::ecFaxBadModemResult);
        return;
      }
    }
    SendLine(line);
    return;
  }

  switch (sstate_) {
    case S::tfNone: case S::tfDone: return;
    case S::tfGetEntry: {
      if (Notify(TFaxMessage::fmNextFax, 0) == 0) {
        sstate_ = S::tfCompleteOK;
        return;
      }
      Notify(TFaxMessage::fmLog, 1);
      dialAttempts_ = 0;
      dialAttempt = 0;
      resendCount_ = 0;
      hangupReason = 0;
      {
        std::lock_guard lock(remoteMutex_);
        remoteId_.clear();
      }
      pageNo_ = 1;
      currentPage = 1;
      bytesSent = 0;
      CloseEntryFiles();
      haveFile_ = !faxFileName.empty();
      haveCover_ = !coverFileName.empty();
      filePages_ = 0;
      if (haveFile_) {
        std::string name = faxFileName;
        if (std::filesystem::path(name).extension().empty()) name += "." + fileExt_;
        const int rc = file_.Open(name);
        if (rc < 0) {
          Fail(rc);
          return;
        }
        filePages_ = file_.PageCount();
      } else if (!haveCover_) {
        Fail(fxcode::ecNoFilename);
        return;
      }
      totalPages = filePages_;
      sstate_ = S::tfInit;
      return;
    }
    case S::tfInit: {
      coverPending_ = haveCover_;
      sendingCover_ = false;
      if (haveCover_) {
        coverIsApf_ = Upper(coverFileName).find("." + Upper(fileExt_)) != std::string::npos;
        if (coverIsApf_) {
          const int rc = coverApf_.Open(coverFileName);
          if (rc < 0) {
            Fail(rc);
            return;
          }
        } else {
          std::ifstream in(coverFileName, std::ios::binary);
          if (!in) {
            Fail(fxcode::ecNoFilename);
            return;
          }
          std::string l;
          // A cover text is a page: bound what is read from it.
          while (coverLines_.size() < 200 && std::getline(in, l)) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            coverLines_.push_back(l);
          }
        }
      }
      if (haveFile_) {
        src_ = &file_;
        const int rc = ReadPageHeader(1);
        if (rc < 0) {
          Fail(rc);
          return;
        }
      } else if (haveCover_ && coverIsApf_) {
        src_ = &coverApf_;
        const int rc = ReadPageHeader(1);
        if (rc < 0) {
          Fail(rc);
          return;
        }
      } else {
        page_ = ApfPageHeader();
      }
      local_.fine = page_.HighRes();
      SetProgress(fxprogress::fpInitModem);
      if (IsClass1()) {
        SendCommand("AT+FCLASS=1");
        c1_.collector.Reset();
        sstate_ = S::tf1Init1;
        return;
      }
      SendCommand(cmds_.classCmd);
      sstate_ = S::tf2Init1;
      return;
    }
    case S::tfDial: {
      auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
      SendCommand(std::string(sf && !sf->ToneDial ? "ATDP" : "ATDT") + (sf ? sf->DialPrefix : "") + phoneNumber);
      ArmReply(sf ? sf->DialWaitTicks() : 1092);
      dialAttempt = dialAttempts_ + 1;
      SetProgress(fxprogress::fpDialing);
      if (IsClass1()) {
        c1_.NewCall();
        sstate_ = S::tf1Connect;
        return;
      }
      sstate_ = S::tf2Connect;
      return;
    }
    case S::tfRetryWait:
      if (timer) sstate_ = S::tfDial;
      return;
    case S::tfWaitXon: {
      if (timer) {
        sstate_ = S::tfWaitFrHead;
      } else if (ev == TEvent::evData) {
        uint8_t b = 0;
        while (disp_->ReadChar(b))
          if (b == kXon) {
            sstate_ = S::tfWaitFrHead;
            break;
          }
      }
      if (sstate_ == S::tfWaitFrHead) {
        ArmOutFree(kBlock);
        ArmReply(kPageWait);
      }
      return;
    }
    case S::tfWaitFrHead:
      if (timer) {
        Fail(fxcode::ecTimeout);
      } else if (ev == TEvent::evOutFree) {
        SetProgress(fxprogress::fpSendPage);
        if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfBoth);
        lastStatusAt_ = std::chrono::steady_clock::now();
        pageDataFlowing_ = true;
        sstate_ = S::tfSndPgeHdr;
      }
      return;
    case S::tfSndPgeHdr:
      minLineBytes_ = FxMinLineBytes(session_.scanTimeCode, page_.HighRes(), session_.bps);
      SendHeaderLine();
      if (sstate_ == S::tfSndPgeHdr) sstate_ = coverPending_ ? S::tfOpenCover : S::tfPrepPage;
      return;
    case S::tfOpenCover:
      pageDone_ = 0;
      sendingCover_ = true;
      currentPage = 0;
      if (coverIsApf_) {
        src_ = &coverApf_;
        const int rc = ReadPageHeader(1);
        if (rc < 0) {
          Fail(rc);
          return;
        }
        sstate_ = S::tfPrepPage;
      } else {
        auto* sf = dynamic_cast<TFxSendFax*>(&fax_);
        const bool fine = page_.HighRes();
        coverConv_ = TFxTextConverter();
        const int rc = sf && sf->EnhTextEnabled && sf->EnhFont ? coverConv_.SetEnhFont(sf->EnhFont, fine)
                                                               : coverConv_.LoadFont(48, fine);
        if (rc < 0) {
          Fail(rc);
          return;
        }
        coverConv_.SetResolution(fine ? TFaxResolution::frHigh : TFaxResolution::frNormal);
        coverLine_ = 0;
        ArmReply(kPageWait);
        ArmOutFree(kBlock);
        SetProgress(fxprogress::fpSendPage);
        sstate_ = S::tfSendCover;
      }
      return;
    case S::tfSendCover:
      if (timer)
        Fail(fxcode::ecTimeout);
      else if (ev == TEvent::evOutFree)
        SendCoverLines();
      return;
    case S::tfPrepPage:
      pageDone_ = 0;
      bytesSent = 0;
      pageLength = static_cast<long>(page_.imageLength);
      ArmReply(kPageWait);
      ArmOutFree(kBlock);
      statusPending_ = true;
      sstate_ = S::tfSendPage;
      return;
    case S::tfSendPage:
      if (timer) {
        Fail(fxcode::ecTimeout);
      } else if (ev == TEvent::evOutFree) {
        SendPageData();
      } else if (ev == TEvent::evData) {
        uint8_t b = 0;
        while (disp_->ReadChar(b)) {
        }
      }
      return;
    case S::tfDrainPage: {
      if (timer) {
        Fail(fxcode::ecTimeout);
        return;
      }
      if (ev != TEvent::evOutUsed) return;
      pageDataFlowing_ = false;
      if (softwareFlow_) port_.SetSWFlowOptions(TSWFlowOptions::swfNone);
      morePages_ = MorePages();
      sentPageNo_ = pageNo_;
      sentCover_ = sendingCover_;
      resolutionChanges_ = false;
      if (morePages_) AdvancePage();
      if (sstate_ != S::tfDrainPage) return;
      if (IsClass1()) {
        const uint8_t end[2] = {kDle, kEtx};
        WriteRaw(end, 2);
        SetProgress(fxprogress::fpSendPage);
        ArmReply(PageEndWaitTicks(pageLength.load(), c1_.bps));
        c1_.collector.Reset();
        sstate_ = S::tf1PageEnd;
        return;
      }
      if (!IsClass20()) {
        const uint8_t end[2] = {kDle, kEtx};
        WriteRaw(end, 2);
      } else {
        const uint8_t end[2] = {kDle, static_cast<uint8_t>(!morePages_ ? '.' : resolutionChanges_ ? ';' : ',')};
        WriteRaw(end, 2);
      }
      SetProgress(fxprogress::fpSendPage);
      sstate_ = S::tf2SendEOP;
      return;
    }
    case S::tf2SendEOP:
      reply_.Clear();
      ArmReply(PageEndWaitTicks(pageLength.load(), session_.bps));
      SetProgress(fxprogress::fpSendPageStatus);
      sstate_ = IsClass20() ? S::tf20ChckPg : S::tf2WaitFPTS;
      return;
    case S::tf2SndNwPrm:
      if (morePages_) {
        SendCommand(cmds_.capabilities + "=" + (page_.HighRes() ? "1" : "0"));
        sstate_ = S::tf2GetParams;
      } else {
        sstate_ = S::tfClose;
      }
      return;
    case S::tf2NextPage:
      if (morePages_) {
        DelayMs(5 * kMsPerTick);
        SendCommand("AT+FDT");
        ArmReply(kFdtWait);
        sstate_ = S::tf2GetParams;
      } else {
        sstate_ = S::tfClose;
      }
      return;
    case S::tfClose:
      CloseEntryFiles();
      resendCount_ = 0;
      coverPending_ = false;
      SetProgress(fxprogress::fpFinished);
      Status(0);
      Notify(TFaxMessage::fmLog, 2);
      SwitchToNormalBaud();
      sstate_ = S::tfGetEntry;
      return;
    case S::tfCompleteOK:
      Status(2);
      sstate_ = S::tfDone;
      Finish();
      return;
    case S::tfAbort:
      if (hangupState_ == THangupState::hsIdle) {
        CloseEntryFiles();
        Notify(TFaxMessage::fmLog, 3);
      }
      if (!HangUp(THangupKind::hkSend)) return;
      SwitchToNormalBaud();
      if (exitOnError_ || abortNoConnect_ || cancelled_) {
        if (cancelled_) SetProgress(fxprogress::fpCancel);
        Status(2);
        sstate_ = S::tfDone;
        Finish();
      } else {
        sstate_ = S::tfGetEntry;
      }
      return;
    default: return;
  }
}

void TFaxSession::SendLine(const std::string& line) {
  using S = TSendState;
  const bool ok = FxHas(line, "OK");
  switch (sstate_) {
    case S::tf2Init1:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      SendCommand(cmds_.localId + "=\"" + stationId_ + "\"");
      sstate_ = cmds_.extraSetup.empty() ? S::tf2Init2 : S::tf2Init1A;
      return;
    case S::tf2Init1A:
    case S::tf2Init1B:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      if (!SendSetupCommand(sstate_ == S::tf2Init1A ? 0 : 1)) return Fail(fxcode::ecFaxInitError);
      sstate_ = sstate_ == S::tf2Init1A ? S::tf2Init1B : S::tf2Init2;
      return;
    case S::tf2Init2: {
      if (!ok) return Fail(fxcode::ecFaxInitError);
      TFxClass2Params offer;
      offer.fine = page_.HighRes();
      offer.bps = desiredBps_;
      offer.wide = page_.Wide();
      offer.ecm = desiredEcm_;
      SendCommand(cmds_.capabilities + "=" + FxParamString(offer));
      sstate_ = S::tf2Init3;
      return;
    }
    case S::tf2Init3:
      if (!ok) return Fail(fxcode::ecFaxInitError);
      sstate_ = S::tfDial;
      return;
    case S::tf2Connect:
      if (FxHas(line, cmds_.connect)) {
        ArmReply(kReplyWait);
        sstate_ = S::tf2GetParams;
      } else if (FxHas(line, "BUSY") || FxHas(line, "ANSWER")) {
        BusyHandling();
      } else if (FxHas(line, "VOICE") || FxHas(line, "VCON")) {
        Fail(fxcode::ecFaxVoiceCall);
      } else if (FxHas(line, "NO DIAL")) {
        Fail(fxcode::ecFaxNoDialTone);
      }
      return;
    case S::tf2GetParams:
      if (FxHas(line, cmds_.sessionParams)) {
        TakeSessionParams(line);
      } else if (FxHas(line, cmds_.remoteCaps)) {
        if (!FxParseParams(line, remote_)) return Fail(fxcode::ecFaxBadModemResult);
        remoteFine_ = remote_.fine;
        remoteWide_ = remote_.wide;
        if ((page_.HighRes() && !remoteFine_) || (page_.Wide() && !remoteWide_)) return Fail(fxcode::ecFaxBadMachine);
        SetProgress(fxprogress::fpSessionParams);
      } else if (FxHas(line, cmds_.calledId)) {
        {
          std::lock_guard lock(remoteMutex_);
          remoteId_ = FxCleanRemoteId(line);
        }
        SetProgress(fxprogress::fpGotRemoteID);
      } else if (ok) {
        SendCommand("AT+FDT");
        ArmReply(kFdtWait);
      } else if (FxHas(line, "CONNECT")) {
        if (IsClass20()) {
          ArmOutFree(kBlock);
          ArmReply(kPageWait);
          sstate_ = S::tfWaitFrHead;
        } else {
          ArmReply(kXonWait);
          sstate_ = S::tfWaitXon;
        }
      }
      return;
    case S::tf2WaitFPTS:
      if (!ok) return Fail(fxcode::ecFaxSessionError);
      SendCommand(!morePages_ ? "AT+FET=2" : resolutionChanges_ ? "AT+FET=1" : "AT+FET=0");
      ArmReply(kPageWait);
      sstate_ = S::tf2WaitFET;
      return;
    case S::tf2WaitFET:
      if (ok) {
        sstate_ = resolutionChanges_ ? S::tf2SndNwPrm : S::tf2NextPage;
      } else if (FxHas(line, cmds_.hangup)) {
        // stored by the caller
      } else if (FxHas(line, cmds_.pageStatus)) {
        const int v = FxPageStatusValue(line);
        if (v == 1 || v == 3) {
          SetProgress(fxprogress::fpPageOK);
        } else if (v == 2) {
          SetProgress(fxprogress::fpPageError);
          sstate_ = S::tf2WaitPgOK;
        } else if (v == 4 || v == 5) {
          Fail(fxcode::ecCancelRequested);
        } else {
          Fail(fxcode::ecFaxPageError);
        }
      } else if (line.rfind("+F", 0) == 0) {
        // Modems repeat the remote's identification and parameters in the
        // post-page phase; they say nothing about the page.
      } else {
        Fail(fxcode::ecFaxPageError);
      }
      return;
    case S::tf2WaitPgOK:
      if (!ok) return Fail(fxcode::ecFaxSessionError);
      if (++resendCount_ > 2) {
        WriteRaw("AT+FKS\r", 7);
        // The hang-up that follows drops queued output: let the command out first.
        return Fail(fxcode::ecFaxSessionError);
      }
      RewindToSentPage();
      SendCommand("AT+FDT");
      ArmReply(kFdtWait);
      sstate_ = S::tf2GetParams;
      return;
    case S::tf20ChckPg:
      if (ok) {
        SetProgress(fxprogress::fpPageOK);
        sstate_ = resolutionChanges_ ? S::tf2SndNwPrm : S::tf2NextPage;
      } else if (FxHas(line, cmds_.pageStatus)) {
        // Class 2.0 modems report the remote's answer before OK: a confirmed
        // page ("+FPS:1", or 3 with a retrain) is followed by OK; any other
        // answer ends the send, as there is no resend under Class 2.0.
        const int v = FxPageStatusValue(line);
        if (v != 1 && v != 3) Fail(fxcode::ecFaxPageError);
      } else if (!FxHas(line, cmds_.hangup) && line.rfind("+F", 0) != 0) {
        Fail(fxcode::ecFaxPageError);
      }
      return;
    default: return;
  }
}
