#pragma once
// Owned file descriptors and the pseudo-terminal a virtual modem sits on.

#include <string>
#include <unistd.h>
#include <utility>

class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) : fd_(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  TFd(TFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  TFd& operator=(TFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  ~TFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A pseudo-terminal whose slave is reachable under a symbolic link. The
// object keeps one slave descriptor open itself: without it the master reads
// EIO and polls POLLHUP whenever the serial program has closed the device,
// and the link would break between two runs of efax.
class TPty {
 public:
  // Creates the pair, puts the slave in raw mode and links it at linkPath.
  // Throws std::runtime_error when any step fails.
  explicit TPty(std::string linkPath);
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;
  ~TPty();

  int Master() const { return master_.Get(); }
  const std::string& LinkPath() const { return link_; }
  const std::string& SlaveName() const { return slaveName_; }

 private:
  TFd master_;
  TFd slave_;
  std::string slaveName_;
  std::string link_;
};

// Removes a symbolic link left behind by an earlier run that did not shut
// down cleanly. Anything that is not a symbolic link is left alone and makes
// the call fail, so a user's file is never deleted.
bool RemoveStaleLink(const std::string& path, std::string& error);
