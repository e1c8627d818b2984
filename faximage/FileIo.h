#pragma once
// Small RAII file wrappers over POSIX descriptors, reporting failures as
// -errno so that they can be passed on as the library's error codes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>

class FxFile {
 public:
  FxFile() = default;
  FxFile(const FxFile&) = delete;
  FxFile& operator=(const FxFile&) = delete;
  FxFile(FxFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FxFile& operator=(FxFile&& other) noexcept;
  ~FxFile() { Close(); }

  // 0 or -errno; an empty path is -2 (file not found).
  int OpenRead(const std::filesystem::path& path);
  int Create(const std::filesystem::path& path);  // truncates
  int Close();

  bool IsOpen() const { return fd_ >= 0; }
  // Reads until size bytes or the end of the file; returns the count or -errno.
  long long ReadAt(uint64_t offset, void* data, size_t size);
  long long Read(void* data, size_t size);
  int WriteAll(const void* data, size_t size);
  int WriteAt(uint64_t offset, const void* data, size_t size);
  // Size in bytes, or -errno.
  long long Size() const;

 private:
  int fd_ = -1;
};

// Output through a 4096-byte buffer: a write that does not fit flushes the
// buffer, writes whole 4096-byte blocks directly and keeps the remainder.
// Seeking flushes first. The logical position is the file position plus the
// buffered count.
class FxBufferedFile {
 public:
  static constexpr size_t kBufferSize = 4096;

  int Create(const std::filesystem::path& path);
  int Write(const void* data, size_t size);
  int Flush();
  // Flushes, then moves the file position.
  int Seek(uint64_t offset);
  int SeekEnd();
  int Close();  // flushes and closes
  void CloseNoFlush();

  bool IsOpen() const { return file_.IsOpen(); }
  uint64_t Position() const { return filePos_ + count_; }

 private:
  FxFile file_;
  uint64_t filePos_ = 0;
  uint64_t fileEnd_ = 0;
  size_t count_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};
};
