#include "faxengine/session/PageReceiver.h"

#include "faxengine/port/Dispatcher.h"
#include "faxengine/session/FxExceptions.h"
#include "faximage/Apf.h"

namespace {
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kSub = 0x1A;
constexpr size_t kMaxReadPerCall = 10000;
constexpr size_t kFileBuffer = 4096;

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}
}  // namespace

int TFxPageReceiver::CreateReceivedFile() {
  core_.Values().currentPage = 0;
  // No answer means the wait was given up (a cancel, a host shutting down):
  // the name may still be written by the host, so it is not read.
  if (core_.Notify(TFaxMessage::fmName, 0) == 0) return fxcode::ecCancelRequested;
  std::string id = core_.RemoteId();
  id.resize(20, ' ');
  const int rc = rxFile_.Create(core_.ReceiveFileName(), id);
  if (rc < 0) {
    core_.Fail(rc);
    return rc;
  }
  core_.Notify(TFaxMessage::fmLog, 4);
  return 0;
}

bool TFxPageReceiver::ReceivePageData() {
  uint8_t b = 0;
  size_t taken = 0;
  long pageBytes = 0;
  bool ended = false;
  while (taken < kMaxReadPerCall && core_.Disp().ReadChar(b)) {
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
      if (b == kSub && core_.FaxClass() == TFaxClass::fcClass1) {
        rxBuf_.push_back(kDle);
        ++pageBytes;
        b = kDle;
      }
    } else if (b == kDle) {
      rxDle_ = true;
      continue;
    }
    // Only Class 2 modems deliver the bits most significant first.
    rxBuf_.push_back(core_.FaxClass() == TFaxClass::fcClass2 ? Reverse(b) : b);
    ++pageBytes;
    if (rxBuf_.size() >= kFileBuffer) {
      const int rc = rxFile_.Write(rxBuf_.data(), rxBuf_.size());
      rxBuf_.clear();
      if (rc < 0) {
        core_.Fail(rc);
        return false;
      }
    }
  }
  core_.Values().bytesReceived += pageBytes;
  if (!rxBuf_.empty() && ended) {
    const int rc = rxFile_.Write(rxBuf_.data(), rxBuf_.size());
    rxBuf_.clear();
    if (rc < 0) {
      core_.Fail(rc);
      return false;
    }
  }
  core_.ArmReply(kReplyWait);
  if (ended) core_.ClearReply();
  return ended;
}

bool TFxPageReceiver::StartPage(bool fine, bool wide) {
  if (newFileDue_ || !rxFile_.IsOpen()) {
    if (rxFile_.IsOpen()) {
      rxFile_.Close();
      core_.Notify(TFaxMessage::fmLog, 5);
    }
    newFileDue_ = false;
    if (CreateReceivedFile() < 0) return false;
  }
  core_.Values().currentPage = core_.Values().currentPage + 1;
  uint16_t flags = 0;
  if (fine) flags |= apfHighRes;
  if (wide) flags |= apfWide;
  const int rc = rxFile_.StartPage(flags);
  if (rc < 0) {
    core_.Fail(rc);
    return false;
  }
  rxDle_ = false;
  rxFirst_ = true;
  rxBuf_.clear();
  core_.Values().bytesReceived = 0;
  return true;
}

void TFxPageReceiver::CloseAfterError() {
  if (!rxFile_.IsOpen()) return;
  // A page the call ended in was never confirmed to the sender, who sends
  // it again; its data is cut off, so the file keeps only whole pages. A
  // failure here leaves the file header counting the whole pages all the
  // same.
  rxBuf_.clear();
  (void)rxFile_.CutBackPage();
  rxFile_.Close();
  core_.Notify(TFaxMessage::fmLog, 7);
}
