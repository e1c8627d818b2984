#include "faxengine/session/PageSender.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "faxengine/port/Dispatcher.h"
#include "faxengine/session/FxExceptions.h"
#include "faximage/T4Coder.h"

namespace {
constexpr uint8_t kDle = 0x10;
constexpr size_t kMaxCoverLines = 200;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

int TFxPageSender::ReadPageHeader(unsigned page) {
  if (!src_) return 0;
  const int rc = src_->FindPage(page, page_, pageData_);
  if (rc < 0) return rc;
  pageDone_ = 0;
  return 0;
}

void TFxPageSender::CloseEntryFiles() {
  file_ = TFxApfReader();
  coverApf_ = TFxApfReader();
  coverLines_.clear();
  src_ = nullptr;
  outBuf_.clear();
  outBufPos_ = 0;
}

void TFxPageSender::QueueData(const uint8_t* data, size_t n, bool escape) {
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

void TFxPageSender::FlushData() {
  while (outBufPos_ < outBuf_.size()) {
    const size_t k = std::min(core_.Disp().OutputFree(), outBuf_.size() - outBufPos_);
    if (k == 0 || core_.Disp().WriteBlock(outBuf_.data() + outBufPos_, k) != 0) return;
    outBufPos_ += k;
  }
  outBuf_.clear();
  outBufPos_ = 0;
}

void TFxPageSender::QueueZeros(size_t target) {
  FlushData();
  if (outBufPos_ < outBuf_.size()) return;
  target = std::min<size_t>(target, 8192);
  const size_t used = core_.Disp().OutputUsed();
  if (used >= target) return;
  const std::vector<uint8_t> zeros(std::min(target - used, core_.Disp().OutputFree()), 0);
  if (!zeros.empty()) core_.Disp().WriteBlock(zeros.data(), zeros.size());
}

bool TFxPageSender::SendHeaderLine() {
  auto* sf = SendFax();
  const bool fine = page_.HighRes();
  TFxTextConverter hdr;
  int rc = 0;
  if (sf && sf->EnhTextEnabled && sf->EnhHeaderFont)
    rc = hdr.SetEnhFont(sf->EnhHeaderFont, fine);
  else
    rc = hdr.LoadFont(16, fine);
  if (rc < 0) {
    core_.Fail(rc);
    return false;
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
    tags.stationId = core_.Settings().stationId;
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
  return true;
}

bool TFxPageSender::SendCoverLines() {
  FlushData();
  if (outBufPos_ < outBuf_.size()) {
    core_.ArmReply(kPageWait);
    core_.ArmOutFree(kBlock);
    return false;
  }
  std::vector<uint8_t> raw(coverConv_.PageWidth() / 8);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  const std::vector<uint8_t> zeros(minLineBytes_ + 1, 0);
  while (coverLine_ < coverLines_.size() && core_.Disp().OutputFree() > kBlock && outBufPos_ >= outBuf_.size()) {
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
      core_.ArmReply(kPageWait);
      core_.ArmOutUsed(0);
      return true;
    }
  }
  core_.ArmReply(kPageWait);
  core_.ArmOutFree(kBlock);
  return false;
}

bool TFxPageSender::SendPageData() {
  auto* sf = SendFax();
  const size_t bufferMinimum = static_cast<size_t>(sf ? sf->BufferMinimum : 1000);
  const int maxCount = sf ? std::max(1, sf->MaxSendCount) : 50;
  std::vector<uint8_t> piece(kBlock + 8192);
  for (int i = 0; i < maxCount; ++i) {
    FlushData();
    if (outBufPos_ < outBuf_.size()) break;
    if (core_.Disp().OutputUsed() > bufferMinimum || core_.Disp().OutputFree() < kBlock) break;
    if (std::chrono::steady_clock::now() - lastStatusAt_ > std::chrono::seconds(3 * core_.Settings().statusInterval)) {
      core_.Status(0);
      lastStatusAt_ = std::chrono::steady_clock::now();
    }
    if (pageDone_ >= page_.imageLength) break;
    size_t n = 0;
    if (page_.LengthWords()) {
      uint8_t len[2];
      if (src_->ReadAt(pageData_ + pageDone_, len, 2) != 2) {
        core_.Fail(fxcode::ecFaxBadFormat);
        return false;
      }
      const size_t rl = len[0] | static_cast<size_t>(len[1]) << 8;
      if (rl > kBlock || pageDone_ + 2 + rl > page_.imageLength) {
        core_.Fail(fxcode::ecFaxBadFormat);
        return false;
      }
      const long long got = rl ? src_->ReadAt(pageData_ + pageDone_ + 2, piece.data(), rl) : 0;
      if (got != static_cast<long long>(rl)) {
        core_.Fail(got < 0 ? static_cast<int>(got) : fxcode::ecFaxBadFormat);
        return false;
      }
      pageDone_ += 2 + rl;
      n = rl;
      while (n < minLineBytes_) piece[n++] = 0;
    } else {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, page_.imageLength - pageDone_));
      const long long got = src_->ReadAt(pageData_ + pageDone_, piece.data(), want);
      if (got <= 0) {
        core_.Fail(got < 0 ? static_cast<int>(got) : fxcode::ecFaxBadFormat);
        return false;
      }
      pageDone_ += static_cast<uint64_t>(got);
      n = static_cast<size_t>(got);
    }
    core_.Values().bytesSent += static_cast<long>(n);
    QueueData(piece.data(), n, true);
  }
  FlushData();
  if (pageDone_ >= page_.imageLength && outBufPos_ >= outBuf_.size()) {
    core_.ArmReply(kPageWait);
    core_.ArmOutUsed(0);
    return true;
  }
  core_.ArmReply(kPageWait);
  core_.ArmOutFree(kBlock);
  return false;
}

void TFxPageSender::AdvancePage() {
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
  core_.Values().currentPage = pageNo_;
  const int rc = ReadPageHeader(static_cast<unsigned>(pageNo_));
  if (rc < 0) core_.Fail(rc);
  resolutionChanges_ = page_.HighRes() != curFine_;
}

void TFxPageSender::RewindToSentPage() {
  pageNo_ = sentPageNo_;
  if (sentCover_) {
    sendingCover_ = false;
    coverPending_ = true;
    if (coverIsApf_) src_ = &coverApf_;
    if (!coverIsApf_ && coverLines_.empty()) ReadCoverText();
    if (coverIsApf_ && coverApf_.Open(core_.CoverFileName()) == 0) (void)ReadPageHeader(1);
  } else {
    src_ = &file_;
    // A page that read before reads again; a failure shows when it is sent.
    (void)ReadPageHeader(static_cast<unsigned>(pageNo_));
  }
  core_.Values().currentPage = sentCover_ ? 0 : pageNo_;
}


void TFxPageSender::DropQueued() {
  outBuf_.clear();
  outBufPos_ = 0;
}

void TFxPageSender::ReadCoverText() {
  std::ifstream in(core_.CoverFileName(), std::ios::binary);
  std::string l;
  // A cover text is a page: bound what is read from it.
  while (coverLines_.size() < kMaxCoverLines && std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    coverLines_.push_back(l);
  }
}

bool TFxPageSender::OpenEntry() {
  dialAttempts_ = 0;
  core_.Values().dialAttempt = 0;
  resendCount_ = 0;
  core_.Values().hangupReason = 0;
  core_.SetRemoteId({});
  pageNo_ = 1;
  core_.Values().currentPage = 1;
  core_.Values().bytesSent = 0;
  CloseEntryFiles();
  haveFile_ = !core_.FaxFileName().empty();
  haveCover_ = !core_.CoverFileName().empty();
  filePages_ = 0;
  if (haveFile_) {
    std::string name = core_.FaxFileName();
    if (std::filesystem::path(name).extension().empty()) name += "." + core_.Settings().fileExt;
    const int rc = file_.Open(name);
    if (rc < 0) {
      core_.Fail(rc);
      return false;
    }
    filePages_ = file_.PageCount();
  } else if (!haveCover_) {
    core_.Fail(fxcode::ecNoFilename);
    return false;
  }
  core_.Values().totalPages = filePages_;
  return true;
}

bool TFxPageSender::OpenFirstPage() {
  coverPending_ = haveCover_;
  sendingCover_ = false;
  if (haveCover_) {
    coverIsApf_ = Upper(core_.CoverFileName()).find("." + Upper(core_.Settings().fileExt)) != std::string::npos;
    if (coverIsApf_) {
      const int rc = coverApf_.Open(core_.CoverFileName());
      if (rc < 0) {
        core_.Fail(rc);
        return false;
      }
    } else {
      if (!std::ifstream(core_.CoverFileName(), std::ios::binary)) {
        core_.Fail(fxcode::ecNoFilename);
        return false;
      }
      ReadCoverText();
    }
  }
  int rc = 0;
  if (haveFile_) {
    src_ = &file_;
    rc = ReadPageHeader(1);
  } else if (haveCover_ && coverIsApf_) {
    src_ = &coverApf_;
    rc = ReadPageHeader(1);
  } else {
    page_ = ApfPageHeader();
  }
  if (rc < 0) {
    core_.Fail(rc);
    return false;
  }
  return true;
}

bool TFxPageSender::OpenCover() {
  pageDone_ = 0;
  sendingCover_ = true;
  core_.Values().currentPage = 0;
  if (coverIsApf_) {
    src_ = &coverApf_;
    const int rc = ReadPageHeader(1);
    if (rc < 0) {
      core_.Fail(rc);
      return false;
    }
    return true;
  }
  auto* sf = SendFax();
  const bool fine = page_.HighRes();
  coverConv_ = TFxTextConverter();
  const int rc = sf && sf->EnhTextEnabled && sf->EnhFont ? coverConv_.SetEnhFont(sf->EnhFont, fine)
                                                         : coverConv_.LoadFont(48, fine);
  if (rc < 0) {
    core_.Fail(rc);
    return false;
  }
  coverConv_.SetResolution(fine ? TFaxResolution::frHigh : TFaxResolution::frNormal);
  coverLine_ = 0;
  return true;
}
