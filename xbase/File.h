#pragma once
// Small RAII wrappers over POSIX files: the engine reads and writes with
// pread/pwrite at explicit offsets and locks with flock/fcntl.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "xbase/XbError.h"

class TXbFile {
 public:
  TXbFile() = default;
  ~TXbFile() { Close(); }
  TXbFile(const TXbFile&) = delete;
  TXbFile& operator=(const TXbFile&) = delete;
  TXbFile(TXbFile&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)) { o.fd_ = -1; }
  TXbFile& operator=(TXbFile&& o) noexcept;

  // flags as for open(2); O_CLOEXEC is always added.
  XbStatus Open(const std::filesystem::path& path, int flags, int mode = 0644);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

  XbStatus ReadAt(uint64_t offset, void* buf, size_t n) const;  // short read = IoError
  XbStatus WriteAt(uint64_t offset, const void* buf, size_t n);
  // Writes `buf` and then `tail` right after it, with one call when it can.
  XbStatus WriteAt(uint64_t offset, const void* buf, size_t n, const void* tail, size_t tailLen);
  XbStatus Size(uint64_t& size) const;
  XbStatus Truncate(uint64_t size);
  XbStatus Sync();

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

// Reads a whole small file (index files); limits the size it accepts.
XbStatus XbReadWholeFile(const std::filesystem::path& path, std::string& out, uint64_t maxBytes);
// Writes a file next to `path` and renames it over `path`, so that a crash
// leaves either the old or the new file, never a mixture.
XbStatus XbReplaceFile(const std::filesystem::path& path, const void* data, size_t n, bool sync);
