#pragma once
// Another live program holding a serial device the UUCP way: a child process
// whose PID is written into the device's lock file. Killed and reaped when
// the object goes.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <string>

#include "faxengine/port/ComDevice.h"

extern char** environ;

class THolderProcess {
 public:
  explicit THolderProcess(const std::string& device) {
    char arg0[] = "sleep", arg1[] = "60";
    char* argv[] = {arg0, arg1, nullptr};
    if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    std::ofstream lock(LockFileName(TComDevice::CanonicalPath(device)));
    const std::string pid = std::to_string(pid_);
    lock << std::string(10 - pid.size(), ' ') << pid << "\n";
  }
  ~THolderProcess() { Kill(); }
  THolderProcess(const THolderProcess&) = delete;
  THolderProcess& operator=(const THolderProcess&) = delete;
  pid_t Pid() const { return pid_; }
  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};
