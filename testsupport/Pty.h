#pragma once
// A pseudo-terminal pair for port tests: the port opens the slave side, the
// test plays the far end on the master side.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/TempFolder.h"

class TPty {
 public:
  TPty() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    slavePath_ = name;
    // Raw on both sides so bytes pass untouched whatever the port does.
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    // Keep the slave open so that the master never sees a hang-up between
    // the port's close and reopen.
    keepSlave_ = slave;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~TPty() {
    if (master_ >= 0) ::close(master_);
    if (keepSlave_ >= 0) ::close(keepSlave_);
  }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  // Writes all of data to the far end (waits while the pty is full).
  void Write(const std::string& data) { Write(data.data(), data.size()); }
  void Write(const void* data, size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
      const ssize_t w = ::write(master_, p, n);
      if (w > 0) {
        p += w;
        n -= static_cast<size_t>(w);
      } else {
        pollfd f{master_, POLLOUT, 0};
        ::poll(&f, 1, 100);
      }
    }
  }

  // Reads from the far end until n bytes came or timeout passed.
  std::string Read(size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[4096];
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd f{master_, POLLIN, 0};
      if (::poll(&f, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (r > 0) out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }

 private:
  int master_ = -1;
  int keepSlave_ = -1;
  std::string slavePath_;
};

// Writes a CV.INI whose [Ports] section maps COM numbers to devices.
inline std::filesystem::path WritePortsIni(const std::filesystem::path& folder,
                                           const std::vector<std::pair<int, std::string>>& ports) {
  const auto file = folder / "CV.INI";
  std::ofstream f(file, std::ios::binary);
  f << "[Settings]\r\nComPort=0\r\n[Ports]\r\n";
  for (const auto& [n, dev] : ports) f << "COM" << n << "=" << dev << "\r\n";
  return file;
}

// Polls pred every millisecond until it holds or timeout passes.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
