#include "faxengine/session/ReceivedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"

int TFxReceivedFile::WriteAt(uint64_t at, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = pwrite(fd_, p, n, static_cast<off_t>(at));
    if (w < 0) {
      if (errno == EINTR) continue;
      return fxcode::ecDeviceWrite;
    }
    if (w == 0) return fxcode::ecDeviceWrite;
    p += w;
    at += static_cast<uint64_t>(w);
    n -= static_cast<size_t>(w);
  }
  return 0;
}

int TFxReceivedFile::Create(const std::string& name, const std::string& stationId) {
  Close();
  fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return -errno;
  ApfFileHeader h;
  h.creationTime = ApfDosTimeNow();
  h.stationId = stationId;
  h.pageCount = 0;
  const auto bytes = h.Pack();
  pages_ = 0;
  inPage_ = false;
  end_ = bytes.size();
  return WriteAt(0, bytes.data(), bytes.size());
}

int TFxReceivedFile::StartPage(uint16_t flags) {
  if (fd_ < 0) return 0;
  if (inPage_) return 0;
  pageStart_ = end_;
  pageFlags_ = flags;
  ApfPageHeader ph;
  ph.flags = flags;
  const auto bytes = ph.Pack();
  const int rc = WriteAt(end_, bytes.data(), bytes.size());
  if (rc < 0) return rc;
  end_ += bytes.size();
  inPage_ = true;
  return 0;
}

int TFxReceivedFile::Write(const uint8_t* data, size_t n) {
  if (fd_ < 0 || !inPage_) return 0;
  const int rc = WriteAt(end_, data, n);
  if (rc < 0) return rc;
  end_ += n;
  return 0;
}

int TFxReceivedFile::CompletePage(const std::string& stationId) {
  if (fd_ < 0 || !inPage_) return 0;
  inPage_ = false;
  ApfPageHeader ph;
  ph.flags = pageFlags_;
  ph.imageLength = static_cast<uint32_t>(end_ - pageStart_ - kApfPageHeaderSize);
  auto bytes = ph.Pack();
  int rc = WriteAt(pageStart_, bytes.data(), bytes.size());
  if (rc < 0) return rc;
  ++pages_;
  ApfFileHeader h;
  h.creationTime = ApfDosTimeNow();
  h.stationId = stationId;
  h.pageCount = pages_;
  const auto hb = h.Pack();
  return WriteAt(0, hb.data(), hb.size());
}

int TFxReceivedFile::CutBackPage() {
  if (fd_ < 0 || !inPage_) return 0;
  inPage_ = false;
  end_ = pageStart_;
  return ftruncate(fd_, static_cast<off_t>(end_)) < 0 ? -errno : 0;
}

void TFxReceivedFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  inPage_ = false;
}

