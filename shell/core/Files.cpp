#include "shell/core/Files.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_set>

#include "shell/core/Folders.h"
#include "shell/core/Text.h"

namespace {

// Closes a descriptor when it goes out of scope.
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Close(); }
  int Get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string NextFileName(const std::string& folder, const std::string& prefix) {
  // One pass over the folder, so that a folder of many faxes is not read again for every number tried.
  std::unordered_set<std::string> taken;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    taken.insert(LowerAscii(it->path().filename().string()));
  char digits[16];
  for (int n = 0;; ++n) {
    std::snprintf(digits, sizeof digits, "%5.5d", n);
    const std::string name = prefix + digits + ".APF";
    if (n >= 99999 || !taken.contains(LowerAscii(name))) return folder + name;
  }
}

std::string NextSendFileName(const std::string& prefix) { return NextFileName(SendFolder(), prefix); }
std::string NextTempFileName(const std::string& prefix) { return NextFileName(ProgramFolder(), prefix); }

bool CopyFileData(const std::string& source, const std::string& target) {
  if (source == target) return false;
  // Another spelling of the same file would be truncated before it is read.
  std::error_code ec;
  if (std::filesystem::equivalent(source, target, ec)) return false;
  TFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return false;
  TFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.Get() < 0) return false;
  char block[2048];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in.Get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAll(out.Get(), block, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  ok = out.Close() && ok;
  if (!ok) ::unlink(target.c_str());
  return ok;
}
