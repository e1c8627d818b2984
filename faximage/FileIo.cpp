#include "faximage/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "faximage/ErrorCodes.h"

namespace {
int LastError() { return errno != 0 ? -errno : -EIO; }
}  // namespace

FxFile& FxFile::operator=(FxFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int FxFile::OpenRead(const std::filesystem::path& path) {
  Close();
  if (path.empty()) return FxErr::ecFileNotFound;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ < 0 ? LastError() : 0;
}

int FxFile::Create(const std::filesystem::path& path) {
  Close();
  if (path.empty()) return FxErr::ecFileNotFound;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd_ < 0 ? LastError() : 0;
}

int FxFile::Close() {
  if (fd_ < 0) return 0;
  const int rc = ::close(fd_);
  fd_ = -1;
  return rc < 0 ? LastError() : 0;
}

long long FxFile::ReadAt(uint64_t offset, void* data, size_t size) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(data);
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

long long FxFile::Read(void* data, size_t size) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(data);
  while (done < size) {
    const ssize_t n = ::read(fd_, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

int FxFile::WriteAll(const void* data, size_t size) {
  const auto* in = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, in, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    in += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int FxFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  const auto* in = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, in, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    in += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return 0;
}

long long FxFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) < 0) return LastError();
  return static_cast<long long>(st.st_size);
}

int FxBufferedFile::Create(const std::filesystem::path& path) {
  filePos_ = fileEnd_ = 0;
  count_ = 0;
  return file_.Create(path);
}

int FxBufferedFile::Write(const void* data, size_t size) {
  if (size == 0) return 0;
  const auto* in = static_cast<const uint8_t*>(data);
  if (count_ + size <= kBufferSize) {
    std::memcpy(buffer_.data() + count_, in, size);
    count_ += size;
    return 0;
  }
  if (const int rc = Flush(); rc < 0) return rc;
  const size_t direct = size - size % kBufferSize;
  if (direct > 0) {
    if (const int rc = file_.WriteAt(filePos_, in, direct); rc < 0) return rc;
    filePos_ += direct;
    if (filePos_ > fileEnd_) fileEnd_ = filePos_;
  }
  std::memcpy(buffer_.data(), in + direct, size - direct);
  count_ = size - direct;
  return 0;
}

int FxBufferedFile::Flush() {
  if (count_ == 0) return 0;
  if (const int rc = file_.WriteAt(filePos_, buffer_.data(), count_); rc < 0) return rc;
  filePos_ += count_;
  if (filePos_ > fileEnd_) fileEnd_ = filePos_;
  count_ = 0;
  return 0;
}

int FxBufferedFile::Seek(uint64_t offset) {
  if (const int rc = Flush(); rc < 0) return rc;
  filePos_ = offset;
  return 0;
}

int FxBufferedFile::SeekEnd() {
  if (const int rc = Flush(); rc < 0) return rc;
  filePos_ = fileEnd_;
  return 0;
}

int FxBufferedFile::Close() {
  if (!file_.IsOpen()) return 0;
  const int flushed = Flush();
  const int closed = file_.Close();
  count_ = 0;
  return flushed < 0 ? flushed : closed;
}

void FxBufferedFile::CloseNoFlush() {
  count_ = 0;
  file_.Close();
}
