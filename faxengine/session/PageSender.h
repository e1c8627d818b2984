#pragma once
// The pages of a send: the fax file and the cover page of the entry, the
// page header line, and the page data escaped into the output ring with the
// minimum line length the session needs. Shared by the Class 1 and the
// Class 2/2.0 send machines; it never changes a machine's state.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "faxengine/session/SessionCore.h"
#include "faximage/Apf.h"
#include "faximage/TextRasterizer.h"

class TFxPageSender {
 public:
  explicit TFxPageSender(TFxSessionCore& core) : core_(core) { outBuf_.reserve(8192); }

 protected:
  static constexpr int32_t kPageWait = 1092;
  static constexpr uint32_t kBlock = 4096;

  TFxSendFax* SendFax() const { return dynamic_cast<TFxSendFax*>(&core_.Fax()); }
  int ReadPageHeader(unsigned page);
  bool MorePages() const { return haveFile_ && (sendingCover_ || pageNo_ < filePages_); }
  void CloseEntryFiles();
  // Drops escaped data not yet in the output ring (a hang-up is coming).
  void DropQueued();
  void QueueData(const uint8_t* data, size_t n, bool escape);
  void FlushData();
  void QueueZeros(size_t target);
  // The blank lines and the header line in front of a page (false: failed).
  bool SendHeaderLine();
  // Queues the next cover lines or page blocks; true when the whole page
  // (its end included) is in the output ring, false on a failure too.
  bool SendCoverLines();
  bool SendPageData();
  void AdvancePage();
  // Positions on the page last sent again, for a resend.
  void RewindToSentPage();
  // Reads the entry's cover text (at most a page of lines).
  void ReadCoverText();
  // Opens the fax file of a new entry; false when the session failed.
  bool OpenEntry();
  // Opens the cover and the first page; false when the session failed.
  bool OpenFirstPage();
  // Opens the cover for sending: false when the session failed.
  bool OpenCover();

  TFxSessionCore& core_;
  TFxApfReader file_;
  bool haveFile_ = false;
  bool haveCover_ = false, coverIsApf_ = false, coverPending_ = false, sendingCover_ = false;
  TFxApfReader coverApf_;
  std::vector<std::string> coverLines_;
  size_t coverLine_ = 0;
  TFxTextConverter coverConv_;
  int filePages_ = 0;
  int pageNo_ = 1;          // current page of the fax file
  ApfPageHeader page_;
  uint64_t pageData_ = 0;   // offset of the page's data
  uint64_t pageDone_ = 0;   // bytes of the page read so far
  bool resolutionChanges_ = false;
  bool morePages_ = false;
  int resendCount_ = 0;
  int dialAttempts_ = 0;
  std::vector<uint8_t> outBuf_;  // escaped data not yet in the output ring
  size_t outBufPos_ = 0;
  TFxApfReader* src_ = nullptr;  // the file the current page comes from
  bool curFine_ = false;
  int sentPageNo_ = 1;           // the page last sent, for a resend
  bool sentCover_ = false;
  unsigned minLineBytes_ = 0;
  std::chrono::steady_clock::time_point lastStatusAt_;
};
