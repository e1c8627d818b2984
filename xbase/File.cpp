#include "xbase/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

XbStatus Errno(const std::filesystem::path& p, const char* what) {
  const int e = errno;
  return XbFail(e == ENOENT ? XbError::FileNotFound : e == EEXIST ? XbError::FileExists : XbError::IoError,
                p.string() + " (" + what + ": " + std::strerror(e) + ")");
}

}  // namespace

TXbFile& TXbFile::operator=(TXbFile&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    path_ = std::move(o.path_);
    o.fd_ = -1;
  }
  return *this;
}

XbStatus TXbFile::Open(const std::filesystem::path& path, int flags, int mode) {
  Close();
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return Errno(path, "open");
  fd_ = fd;
  path_ = path;
  return {};
}

void TXbFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

XbStatus TXbFile::ReadAt(uint64_t offset, void* buf, size_t n) const {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    const ssize_t r = ::pread(fd_, p, n, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Errno(path_, "read");
    }
    if (r == 0) return XbFail(XbError::IoError, path_.string() + " (unexpected end of file)");
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return {};
}

XbStatus TXbFile::WriteAt(uint64_t offset, const void* buf, size_t n) {
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    const ssize_t r = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Errno(path_, "write");
    }
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return {};
}

XbStatus TXbFile::WriteAt(uint64_t offset, const void* buf, size_t n, const void* tail, size_t tailLen) {
  iovec v[2] = {{const_cast<void*>(buf), n}, {const_cast<void*>(tail), tailLen}};
  ssize_t r;
  do {
    r = ::pwritev(fd_, v, 2, static_cast<off_t>(offset));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Errno(path_, "write");
  // A short write (rare: a signal, a full disk) goes on piece by piece.
  const auto done = static_cast<size_t>(r);
  if (done < n) {
    if (auto st = WriteAt(offset + done, static_cast<const char*>(buf) + done, n - done); !st) return st;
    return WriteAt(offset + n, tail, tailLen);
  }
  return WriteAt(offset + done, static_cast<const char*>(tail) + (done - n), tailLen - (done - n));
}

XbStatus TXbFile::Size(uint64_t& size) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return Errno(path_, "stat");
  size = static_cast<uint64_t>(st.st_size);
  return {};
}

XbStatus TXbFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Errno(path_, "truncate");
  return {};
}

XbStatus TXbFile::Sync() {
  if (::fdatasync(fd_) != 0) return Errno(path_, "sync");
  return {};
}

XbStatus XbReadWholeFile(const std::filesystem::path& path, std::string& out, uint64_t maxBytes) {
  TXbFile f;
  if (auto st = f.Open(path, O_RDONLY); !st) return st;
  uint64_t size = 0;
  if (auto st = f.Size(size); !st) return st;
  if (size > maxBytes) return XbFail(XbError::IoError, path.string() + " (file too large)");
  out.assign(static_cast<size_t>(size), '\0');
  if (size == 0) return {};
  return f.ReadAt(0, out.data(), out.size());
}

XbStatus XbReplaceFile(const std::filesystem::path& path, const void* data, size_t n, bool sync) {
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  {
    TXbFile f;
    if (auto st = f.Open(tmp, O_WRONLY | O_CREAT | O_TRUNC); !st) return st;
    if (auto st = f.WriteAt(0, data, n); !st) {
      ::unlink(tmp.c_str());
      return st;
    }
    if (sync) {
      if (auto st = f.Sync(); !st) {
        ::unlink(tmp.c_str());
        return st;
      }
    }
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    XbStatus st = Errno(path, "rename");
    ::unlink(tmp.c_str());
    return st;
  }
  return {};
}
