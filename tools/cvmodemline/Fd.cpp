#include "tools/cvmodemline/Fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>

namespace {
std::runtime_error SysError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

TPty::TPty(std::string linkPath) : link_(std::move(linkPath)) {
  int m = -1;
  int s = -1;
  char name[256] = {};
  if (::openpty(&m, &s, name, nullptr, nullptr) != 0) throw SysError("openpty");
  master_ = TFd(m);
  slave_ = TFd(s);
  slaveName_ = name;
  termios tio{};
  if (::tcgetattr(s, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(s, TCSANOW, &tio);
  }
  ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
  ::fcntl(m, F_SETFD, FD_CLOEXEC);
  ::fcntl(s, F_SETFD, FD_CLOEXEC);
  std::string error;
  if (!RemoveStaleLink(link_, error)) throw std::runtime_error(error);
  if (::symlink(slaveName_.c_str(), link_.c_str()) != 0) throw SysError("cannot link " + link_);
}

TPty::~TPty() {
  // Only our own link goes: another process may have replaced it meanwhile.
  char target[256] = {};
  ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
  if (n > 0 && slaveName_ == std::string(target, static_cast<size_t>(n))) ::unlink(link_.c_str());
}

bool RemoveStaleLink(const std::string& path, std::string& error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return true;  // nothing there
  if (!S_ISLNK(st.st_mode)) {
    error = path + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  if (::unlink(path.c_str()) != 0) {
    error = "cannot remove old link " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
