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

// The file a helper's error output goes to; removed with this object.
class ErrorFile {
 public:
  ErrorFile() {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/cvimport-err.XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) {
      path_.clear();
    } else {
      ::close(fd);
    }
  }
  ~ErrorFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  ErrorFile(const ErrorFile&) = delete;
  ErrorFile& operator=(const ErrorFile&) = delete;

  bool Made() const { return !path_.empty(); }
  const char* Path() const { return path_.c_str(); }

  // The last limit bytes, without the line ends after them.
  std::string Tail(size_t limit) const {
    std::string text;
    if (FILE* f = std::fopen(path_.c_str(), "rb")) {
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

 private:
  std::string path_;
};

// One launch of a helper: nothing on its input, its output to outputFd (or
// nowhere when -1), its errors to the error file. It leads a process group
// of its own, so a kill takes whatever it started too, and gets SIGPIPE's
// default back, so a helper whose reader has gone ends.
class HelperLaunch {
 public:
  HelperLaunch(int outputFd, const ErrorFile& errors) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions_, outputFd, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions_, 2, errors.Path(), O_WRONLY | O_TRUNC, 0600);
    posix_spawnattr_setpgroup(&attr_, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  }
  ~HelperLaunch() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  HelperLaunch(const HelperLaunch&) = delete;
  HelperLaunch& operator=(const HelperLaunch&) = delete;

  // The child's process id, or -1 when it could not be started.
  [[nodiscard]] pid_t Start(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions_, &attr_, args.data(), environ) != 0) return -1;
    return pid;
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

}  // namespace

FxHelperOutcome FxRunHelper(const std::vector<std::string>& argv, std::chrono::milliseconds timeLimit,
                            const std::function<bool()>& keepGoing) {
  FxHelperOutcome outcome;
  if (argv.empty()) return outcome;
  const ErrorFile errors;
  if (!errors.Made()) return outcome;
  HelperLaunch launch(-1, errors);
  const pid_t pid = launch.Start(argv);
  if (pid < 0) return outcome;
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
  outcome.errorText = errors.Tail(600);
  return outcome;
}

FxHelperOutcome FxRunHelperReading(const std::vector<std::string>& argv, std::chrono::milliseconds silenceLimit,
                                   const std::function<bool()>& keepGoing, const FxHelperOutput& output) {
  FxHelperOutcome outcome;
  if (argv.empty()) return outcome;
  const ErrorFile errors;
  if (!errors.Made()) return outcome;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return outcome;
  struct CloseAtExit {
    int fd;
    ~CloseAtExit() {
      if (fd >= 0) ::close(fd);
    }
  } readEnd{pipeFds[0]}, writeEnd{pipeFds[1]};
  // A page of fax bitmap is about half a megabyte: a pipe that holds one
  // lets the child write it without waiting for every 64 KiB read.
  ::fcntl(pipeFds[1], F_SETPIPE_SZ, 1 << 20);

  HelperLaunch launch(pipeFds[1], errors);
  const pid_t pid = launch.Start(argv);
  if (pid < 0) return outcome;
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
  outcome.errorText = errors.Tail(600);
  return outcome;
}
