#include "docimport/HelperProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace {

// Owns the spawn attributes and file actions for one launch.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

std::string TailOf(const std::string& path, size_t limit) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
      text.append(buffer, n);
      if (text.size() > 4 * limit) text.erase(0, text.size() - limit);
    }
    std::fclose(f);
  }
  if (text.size() > limit) text.erase(0, text.size() - limit);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

FxHelperOutcome FxRunHelper(const std::vector<std::string>& argv, std::chrono::milliseconds timeLimit,
                            const std::function<bool()>& keepGoing) {
  FxHelperOutcome outcome;
  if (argv.empty()) return outcome;
  char errName[] = "/tmp/cvimport-err.XXXXXX";
  const int errFd = ::mkstemp(errName);
  if (errFd < 0) return outcome;
  ::close(errFd);

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 2, errName, O_WRONLY | O_TRUNC, 0600);
  posix_spawnattr_setpgroup(&setup.attr, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&setup.attr, &defaults);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ) != 0) {
    ::unlink(errName);
    return outcome;
  }
  outcome.started = true;

  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) {
      status = -1;
      break;
    }
    const bool late = std::chrono::steady_clock::now() >= deadline;
    const bool stop = !late && keepGoing && !keepGoing();
    if (late || stop) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      outcome.timedOut = late;
      outcome.cancelled = stop;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!outcome.timedOut && !outcome.cancelled && status >= 0 && WIFEXITED(status))
    outcome.exitStatus = WEXITSTATUS(status);
  outcome.errorText = TailOf(errName, 600);
  ::unlink(errName);
  return outcome;
}

FxHelperOutcome FxRunHelperReading(const std::vector<std::string>& argv, std::chrono::milliseconds silenceLimit,
                                   const std::function<bool()>& keepGoing, const FxHelperOutput& output) {
  FxHelperOutcome outcome;
  if (argv.empty()) return outcome;
  char errName[] = "/tmp/cvimport-err.XXXXXX";
  const int errFd = ::mkstemp(errName);
  if (errFd < 0) return outcome;
  ::close(errFd);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    ::unlink(errName);
    return outcome;
  }
  struct CloseAtExit {
    int fd;
    ~CloseAtExit() {
      if (fd >= 0) ::close(fd);
    }
  } readEnd{pipeFds[0]}, writeEnd{pipeFds[1]};
  // A page of fax bitmap is about half a megabyte: a pipe that holds one
  // lets the child write it without waiting for every 64 KiB read.
  ::fcntl(pipeFds[1], F_SETPIPE_SZ, 1 << 20);

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&setup.actions, 2, errName, O_WRONLY | O_TRUNC, 0600);
  posix_spawnattr_setpgroup(&setup.attr, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&setup.attr, &defaults);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ) != 0) {
    ::unlink(errName);
    return outcome;
  }
  outcome.started = true;
  ::close(writeEnd.fd);
  writeEnd.fd = -1;

  auto deadline = std::chrono::steady_clock::now() + silenceLimit;
  std::vector<uint8_t> buffer(1 << 18);
  bool stopped = false;
  for (;;) {
    pollfd p{readEnd.fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 50);
    if (ready > 0) {
      const ssize_t n = ::read(readEnd.fd, buffer.data(), buffer.size());
      if (n == 0) break;  // the child closed its output
      if (n > 0) {
        deadline = std::chrono::steady_clock::now() + silenceLimit;
        if (!output(buffer.data(), static_cast<size_t>(n))) {
          stopped = true;
          break;
        }
      } else if (errno != EINTR && errno != EAGAIN) {
        break;
      }
    } else if (ready < 0 && errno != EINTR) {
      break;
    }
    const bool late = std::chrono::steady_clock::now() >= deadline;
    const bool cancel = !late && keepGoing && !keepGoing();
    if (late || cancel) {
      outcome.timedOut = late;
      outcome.cancelled = cancel;
      stopped = true;
      break;
    }
  }
  int status = 0;
  if (stopped) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  } else if (::waitpid(pid, &status, 0) < 0) {
    status = -1;
  }
  if (!stopped && status >= 0 && WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  outcome.errorText = TailOf(errName, 600);
  ::unlink(errName);
  return outcome;
}
