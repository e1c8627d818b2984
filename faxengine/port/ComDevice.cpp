#include "faxengine/port/ComDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "faxengine/port/PortErrors.h"
#include "shell/core/IniFile.h"

namespace {

std::mutex lockFolderMutex;
std::filesystem::path lockFolderOverride;

speed_t SpeedConstant(int32_t baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}

pid_t LockOwner(const std::filesystem::path& file) {
  std::ifstream f(file, std::ios::binary);
  std::string text;
  char buf[64];
  // A lock file holds a few bytes; more is not a lock file of ours to trust.
  f.read(buf, sizeof buf);
  text.assign(buf, static_cast<size_t>(f.gcount()));
  return ParseLockOwner(text);
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

pid_t ParseLockOwner(std::string_view content) {
  constexpr long kPidMaxLimit = 4194304;  // no Linux PID is larger
  // Old UUCP wrote the PID as a binary int; HDB UUCP and everyone since as
  // ten ASCII digits, right-aligned, and a newline.
  if (content.size() == sizeof(int) && (content[0] < '0' || content[0] > '9') && content[0] != ' ') {
    int pid;
    std::memcpy(&pid, content.data(), sizeof pid);
    return pid > 0 && pid <= kPidMaxLimit ? pid : 0;
  }
  size_t i = 0;
  while (i < content.size() && (content[i] == ' ' || content[i] == '\t')) ++i;
  long pid = 0;
  const size_t firstDigit = i;
  for (; i < content.size() && content[i] >= '0' && content[i] <= '9'; ++i) {
    pid = pid * 10 + (content[i] - '0');
    if (pid > kPidMaxLimit) return 0;
  }
  if (i == firstDigit || pid == 0) return 0;
  return static_cast<pid_t>(pid);
}

std::string ComDeviceName(int comNumber, const std::filesystem::path& iniFile) {
  if (!iniFile.empty()) {
    const TIniFile ini(iniFile);
    const auto name = ini.ReadString("Ports", "COM" + std::to_string(comNumber), "");
    if (!name.empty()) return name;
  }
  return "/dev/ttyS" + std::to_string(comNumber - 1);
}

std::filesystem::path LockFolder() {
  {
    std::lock_guard lock(lockFolderMutex);
    if (!lockFolderOverride.empty()) return lockFolderOverride;
  }
  if (const char* env = std::getenv("CORVANE_LOCK_DIR"); env && *env) return env;
  return "/var/lock";
}

void SetLockFolder(const std::filesystem::path& folder) {
  std::lock_guard lock(lockFolderMutex);
  lockFolderOverride = folder;
}

std::filesystem::path LockFileName(const std::string& device) {
  // LCK..ttyS0 for /dev/ttyS0; deeper names such as /dev/pts/3 keep their
  // sub-folder with "_" for "/", as other UUCP-style programs do.
  std::string name = device;
  if (name.rfind("/dev/", 0) == 0)
    name = name.substr(5);
  else
    name = std::filesystem::path(name).filename().string();
  for (char& c : name)
    if (c == '/') c = '_';
  return LockFolder() / ("LCK.." + name);
}

std::string TComDevice::CanonicalPath(const std::string& path) {
  std::error_code ec;
  auto canon = std::filesystem::canonical(path, ec);
  return ec ? path : canon.string();
}

TComDevice::~TComDevice() { Close(); }

int TComDevice::Open(const std::string& path) {
  Close();
  path_ = CanonicalPath(path);
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return fxcode::ecBadPortNumber;

  // The lock comes first so that a line in use elsewhere is not touched.
  const auto lockFile = LockFileName(path_);
  const auto tmp = lockFile.parent_path() / ("LTMP." + std::to_string(getpid()));
  char content[16];
  std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));
  for (int attempt = 0; attempt < 3 && lockFile_.empty(); ++attempt) {
    const int tfd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (tfd < 0) break;  // lock folder not writable: go on without a lock file
    const bool written = ::write(tfd, content, 11) == 11;
    ::close(tfd);
    const int linked = written ? ::link(tmp.c_str(), lockFile.c_str()) : -1;
    const int linkErr = errno;
    ::unlink(tmp.c_str());
    if (linked == 0) {
      lockFile_ = lockFile;
      break;
    }
    if (!written || linkErr != EEXIST) break;
    const pid_t owner = LockOwner(lockFile);
    // Our own PID means another port of this process holds the device.
    if (ProcessAlive(owner)) return fxcode::ecPortInUse;
    ::unlink(lockFile.c_str());  // stale: its owner is gone
  }

  fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int err = errno;
    ReleaseLock();
    switch (err) {
      case EBUSY:
      case EACCES:
      case EPERM: return fxcode::ecAlreadyOpen;
      default: return fxcode::ecBadPortNumber;
    }
  }
  if (!::isatty(fd_)) {
    Close();
    return fxcode::ecBadPortNumber;
  }
  ::ioctl(fd_, TIOCEXCL);
  return fxcode::ecOK;
}

void TComDevice::ReleaseLock() {
  if (!lockFile_.empty()) {
    // Only our own lock: another program may have broken and retaken it.
    if (LockOwner(lockFile_) == getpid()) ::unlink(lockFile_.c_str());
    lockFile_.clear();
  }
}

void TComDevice::Close() {
  if (fd_ >= 0) {
    // No TIOCNXCL: exclusive mode ends with the last close, and clearing it
    // here would also clear it for another descriptor of the same line.
    ::close(fd_);
    fd_ = -1;
  }
  ReleaseLock();
}

int TComDevice::Apply(const TLineSettings& s) {
  const speed_t speed = SpeedConstant(s.baud);
  if (speed == B0 || s.dataBits < 5 || s.dataBits > 8 || (s.stopBits != 1 && s.stopBits != 2))
    return fxcode::ecBadArgument;
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return fxcode::ecBadArgument;
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | ISTRIP | IXON | IXOFF | IXANY | IGNPAR | PARMRK);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  switch (s.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  switch (s.parity) {
    case TParity::pNone: break;
    case TParity::pOdd: t.c_cflag |= PARENB | PARODD; break;
    case TParity::pEven: t.c_cflag |= PARENB; break;
    case TParity::pMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParity::pSpace: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  // Linux flow control pairs RTS with CTS; DTR/DSR flow has no termios form.
  if (Has(s.hwFlow, THWFlowOption::hwfUseRTS) || Has(s.hwFlow, THWFlowOption::hwfRequireCTS)) t.c_cflag |= CRTSCTS;
  if (s.swFlow == TSWFlowOptions::swfTransmit || s.swFlow == TSWFlowOptions::swfBoth) t.c_iflag |= IXON;
  if (s.swFlow == TSWFlowOptions::swfReceive || s.swFlow == TSWFlowOptions::swfBoth) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd_, TCSANOW, &t) == 0) return fxcode::ecOK;
  if (IsPseudoTerminal()) {
    // A pseudo-terminal frames no characters and refuses parity and sizes
    // other than 8 bits; everything else still applies.
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= CS8;
    if (::tcsetattr(fd_, TCSANOW, &t) == 0) return fxcode::ecOK;
  }
  return fxcode::ecBadArgument;
}

bool TComDevice::IsPseudoTerminal() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;  // Unix98 pseudo-terminal slaves
}

bool TComDevice::ModemLines(uint8_t& bits) const {
  int m = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &m) != 0) return false;
  bits = 0;
  if (m & TIOCM_CTS) bits |= msr::kCTS;
  if (m & TIOCM_DSR) bits |= msr::kDSR;
  if (m & TIOCM_RI) bits |= msr::kRI;
  if (m & TIOCM_CD) bits |= msr::kDCD;
  return true;
}

bool TComDevice::SetLine(int bit, bool on) const {
  return fd_ >= 0 && ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}
bool TComDevice::SetDTR(bool on) const { return SetLine(TIOCM_DTR, on); }
bool TComDevice::SetRTS(bool on) const { return SetLine(TIOCM_RTS, on); }

bool TComDevice::ErrorCounts(TErrorCounts& c) const {
  serial_icounter_struct ic{};
  if (fd_ < 0 || ::ioctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
  c.overrun = ic.overrun + ic.buf_overrun;
  c.parity = ic.parity;
  c.frame = ic.frame;
  c.brk = ic.brk;
  return true;
}

int TComDevice::DriverOutQueue() const {
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0) return 0;
  return n;
}

void TComDevice::PurgeInput() const {
  if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}
void TComDevice::PurgeOutput() const {
  if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
}
