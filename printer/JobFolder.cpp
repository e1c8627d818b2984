#include "printer/JobFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

constexpr mode_t kJobFileMode = 0600;  // the intake runs as the same user

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

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

// A file made by this job under a temporary name; removed unless released.
class TPartFile {
 public:
  TPartFile(int dirFd, std::string name) : dirFd_(dirFd), name_(std::move(name)) {
    fd_ = ::openat(dirFd_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kJobFileMode);
  }
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;
  ~TPartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlinkat(dirFd_, name_.c_str(), 0);
  }
  int Fd() const { return fd_; }
  const std::string& Name() const { return name_; }
  // Closes the file, having made its data durable.
  bool Finish() {
    const bool ok = ::fchmod(fd_, kJobFileMode) == 0 && ::fsync(fd_) == 0;
    return ::close(std::exchange(fd_, -1)) == 0 && ok;
  }
  void Release() { name_.clear(); }

 private:
  int dirFd_;
  std::string name_;
  int fd_ = -1;
};

bool Exists(int dirFd, const std::string& name) {
  struct stat st {};
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// Renames without ever replacing an existing entry; false with errno EEXIST
// when the target is taken.
bool RenameNew(int dirFd, const std::string& from, const std::string& to) {
  if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: a hard link never replaces.
  if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) != 0) return false;
  ::unlinkat(dirFd, from.c_str(), 0);
  return true;
}

}  // namespace

TJobFolder::TJobFolder(const std::string& path) {
  if (path.empty() || path.front() != '/') {
    error_ = "the job folder \"" + path + "\" is not an absolute path";
    return;
  }
  std::string trimmed = path;
  // A trailing slash would make the kernel follow a link in the last part.
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  if (("/" + trimmed + "/").find("/../") != std::string::npos) {
    error_ = "the job folder \"" + path + "\" has a \"..\" part";
    return;
  }
  fd_ = ::open(trimmed.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) error_ = Why("cannot open the job folder \"" + path + "\"");
}

TJobFolder::~TJobFolder() {
  if (fd_ >= 0) ::close(fd_);
}

std::string TJobFolder::Deliver(int imageFd, const std::string& description) {
  error_.clear();
  const std::string tag = ".corvane-backend-" + std::to_string(::getpid());
  TPartFile image(fd_, tag + "-image.part");
  if (image.Fd() < 0) return error_ = Why("cannot create a file in the job folder"), std::string();
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(imageFd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return error_ = Why("cannot read the fax image"), std::string();
    if (n == 0) break;
    if (!WriteAll(image.Fd(), buffer.data(), static_cast<size_t>(n)))
      return error_ = Why("cannot write the fax image"), std::string();
  }
  if (!image.Finish()) return error_ = Why("cannot write the fax image"), std::string();
  TPartFile zrd(fd_, tag + "-description.part");
  if (zrd.Fd() < 0) return error_ = Why("cannot create a file in the job folder"), std::string();
  if (!WriteAll(zrd.Fd(), description.data(), description.size()) || !zrd.Finish())
    return error_ = Why("cannot write the job description"), std::string();

  // The image gets its name first: the intake takes a job by its description
  // and ignores an image that has none yet.
  for (unsigned n = 0; n <= 99999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "PD%05u", n);
    const std::string apf = std::string(name) + ".APF", desc = std::string(name) + ".ZRD";
    if (Exists(fd_, apf) || Exists(fd_, desc)) continue;
    if (!RenameNew(fd_, image.Name(), apf)) {
      if (errno == EEXIST) continue;
      return error_ = Why("cannot name the fax image"), std::string();
    }
    if (!RenameNew(fd_, zrd.Name(), desc)) {
      const int err = errno;
      // Taken meanwhile: give the image back its temporary name and go on.
      if (::renameat(fd_, apf.c_str(), fd_, image.Name().c_str()) != 0) ::unlinkat(fd_, apf.c_str(), 0);
      if (err == EEXIST) continue;
      errno = err;
      return error_ = Why("cannot name the job description"), std::string();
    }
    image.Release();
    zrd.Release();
    ::fsync(fd_);
    return name;
  }
  error_ = "the job folder holds no free job name";
  return {};
}
