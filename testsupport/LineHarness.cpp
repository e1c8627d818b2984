#include "testsupport/LineHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <tiffio.h>

namespace linetest {

using namespace std::chrono_literals;

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const fs::path& log) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::close(fd);
  }
  int devnull = ::open("/dev/null", O_RDONLY);
  if (devnull >= 0) ::dup2(devnull, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

int WaitPid(pid_t pid, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > end) return -2;
    std::this_thread::sleep_for(50ms);
  }
}

}  // namespace

int Run(const std::vector<std::string>& argv, const fs::path& log, std::chrono::seconds timeout) {
  TProcess p(argv, log);
  return p.Wait(timeout);
}

bool HaveProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string d;
  while (std::getline(dirs, d, ':'))
    if (::access((fs::path(d) / name).c_str(), X_OK) == 0) return true;
  return false;
}

TProcess::TProcess(const std::vector<std::string>& argv, const fs::path& log) : pid_(Spawn(argv, log)) {}

TProcess::~TProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    WaitPid(pid_, 5s);
  }
}

bool TProcess::Exited() {
  if (pid_ <= 0) return true;
  int r = WaitPid(pid_, 0ms);
  if (r == -2) return false;
  exitCode_ = r;
  pid_ = -1;
  return true;
}

int TProcess::Wait(std::chrono::seconds timeout) {
  if (pid_ <= 0) return exitCode_;
  int r = WaitPid(pid_, timeout);
  if (r == -2) {
    ::kill(pid_, SIGKILL);
    WaitPid(pid_, 5s);
    r = -1;
  }
  pid_ = -1;
  return r;
}

int TProcess::Terminate(std::chrono::seconds timeout) {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  return Wait(timeout);
}

TLineProcess::TLineProcess(const fs::path& dir, std::vector<std::string> extra)
    : dir_(dir), process_([&] {
        // The line's log goes into its folder: make it before the log opens.
        std::error_code ec;
        fs::create_directories(dir, ec);
        std::vector<std::string> argv{CVMODEMLINE_BIN, "--dir", dir.string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
      }(), dir / "line.log") {
  for (int i = 0; i < 200 && !ready_ && !process_.Exited(); ++i) {
    std::error_code ec;
    // Links and socket may be left over from an earlier run: ready means
    // the socket answers and the link leads to a live pty.
    ready_ = fs::exists(dir_ / "com1", ec) && Control("help").rfind("OK", 0) == 0;
    if (!ready_) std::this_thread::sleep_for(50ms);
  }
}

std::string TLineProcess::Log() const { return ReadText(dir_ / "line.log"); }

std::string TLineProcess::Control(const std::string& command) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "no socket";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string path = (dir_ / "control").string();
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    std::string line = command + "\n";
    if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
      char buf[4096];
      pollfd p{fd, POLLIN, 0};
      while (reply.find('\n') == std::string::npos && ::poll(&p, 1, 5000) > 0) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        reply.append(buf, static_cast<size_t>(n));
      }
    }
  }
  ::close(fd);
  if (!reply.empty() && reply.back() == '\n') reply.pop_back();
  return reply;
}

TModemClient::TModemClient(const fs::path& device) {
  fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ >= 0) {
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
    ::tcflush(fd_, TCIOFLUSH);
  }
}

TModemClient::~TModemClient() {
  if (fd_ >= 0) ::close(fd_);
}

void TModemClient::Send(const std::string& text) {
  size_t done = 0;
  while (fd_ >= 0 && done < text.size()) {
    ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    else std::this_thread::sleep_for(5ms);
  }
}

std::string TModemClient::ReadUntil(const std::string& expect, std::chrono::milliseconds timeout) {
  std::string got;
  auto end = std::chrono::steady_clock::now() + timeout;
  while (fd_ >= 0 && got.find(expect) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[512];
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::string TModemClient::Command(const std::string& line, std::chrono::milliseconds timeout) {
  Send(line + "\r");
  std::string got;
  auto end = std::chrono::steady_clock::now() + timeout;
  static const char* const kFinal[] = {"OK\r\n", "ERROR\r\n", "CONNECT\r\n", "NO CARRIER\r\n", "BUSY\r\n",
                                       "NO ANSWER\r\n", "NO DIALTONE\r\n", "VOICE\r\n"};
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return got;
    got += ReadUntil("\n", left);
    for (const char* f : kFinal)
      if (got.size() >= std::strlen(f) && got.compare(got.size() - std::strlen(f), std::strlen(f), f) == 0) return got;
  }
}

// ---- pages -------------------------------------------------------------------

TBitmap MakePage(int seed, int height) {
  TBitmap b;
  b.width = 1728;
  b.height = height;
  b.bits.assign(b.Stride() * static_cast<size_t>(height), 0);
  // A few bars and blocks that differ per page; the first rows stay white
  // like a real page's top margin.
  for (int y = 8; y < height; ++y) {
    for (size_t x = 0; x < b.Stride(); ++x) {
      const int band = y / 25;
      if (y % 25 < 12 && (static_cast<int>(x) * 3 + band * 7 + seed * 11) % 41 == 0)
        b.bits[static_cast<size_t>(y) * b.Stride() + x] = 0xFF;
      if (y % 50 == 30 && static_cast<int>(x) % (seed + 3) == 0) b.bits[static_cast<size_t>(y) * b.Stride() + x] = 0x5A;
    }
  }
  return b;
}

bool WritePbm(const fs::path& path, const TBitmap& b) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << b.width << " " << b.height << "\n";
  out.write(reinterpret_cast<const char*>(b.bits.data()), static_cast<std::streamsize>(b.bits.size()));
  return static_cast<bool>(out);
}

std::optional<TBitmap> ReadPbm(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  TBitmap b;
  in >> magic >> b.width >> b.height;
  if (magic != "P4" || b.width <= 0 || b.height <= 0 || b.width > 10000 || b.height > 100000) return std::nullopt;
  in.get();
  b.bits.resize(b.Stride() * static_cast<size_t>(b.height));
  in.read(reinterpret_cast<char*>(b.bits.data()), static_cast<std::streamsize>(b.bits.size()));
  if (!in) return std::nullopt;
  return b;
}

namespace {
struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
}  // namespace

std::vector<TBitmap> ReadTiffPages(const fs::path& path) {
  std::vector<TBitmap> pages;
  TIFFSetWarningHandler(nullptr);
  std::unique_ptr<TIFF, TiffCloser> t(TIFFOpen(path.c_str(), "r"));
  if (!t) return pages;
  do {
    TBitmap b;
    uint32_t w = 0, h = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    b.width = static_cast<int>(w);
    b.height = static_cast<int>(h);
    b.bits.assign(b.Stride() * h, 0);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(t.get())) + 1);
    for (uint32_t y = 0; y < h; ++y) {
      if (TIFFReadScanline(t.get(), row.data(), y, 0) < 0) break;
      for (size_t x = 0; x < b.Stride(); ++x)
        b.bits[y * b.Stride() + x] = photometric == PHOTOMETRIC_MINISBLACK ? static_cast<uint8_t>(~row[x]) : row[x];
    }
    pages.push_back(std::move(b));
  } while (TIFFReadDirectory(t.get()));
  return pages;
}

bool WriteTiff(const fs::path& path, const std::vector<TBitmap>& pages, const std::vector<bool>& finePages) {
  std::unique_ptr<TIFF, TiffCloser> t(TIFFOpen(path.c_str(), "w"));
  if (!t) return false;
  for (size_t p = 0; p < pages.size(); ++p) {
    const TBitmap& b = pages[p];
    TIFFSetField(t.get(), TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t.get(), TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(b.width));
    TIFFSetField(t.get(), TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(b.height));
    TIFFSetField(t.get(), TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t.get(), TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t.get(), TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
    TIFFSetField(t.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t.get(), TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t.get(), TIFFTAG_XRESOLUTION, 204.0f);
    const bool fine = p >= finePages.size() || finePages[p];
    TIFFSetField(t.get(), TIFFTAG_YRESOLUTION, fine ? 196.0f : 98.0f);
    TIFFSetField(t.get(), TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t.get(), TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(b.height));
    TIFFSetField(t.get(), TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
    std::vector<uint8_t> row(b.Stride());
    for (int y = 0; y < b.height; ++y) {
      std::memcpy(row.data(), b.Row(y), row.size());
      if (TIFFWriteScanline(t.get(), row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
    }
    if (!TIFFWriteDirectory(t.get())) return false;
  }
  return true;
}

bool SamePage(const TBitmap& got, const TBitmap& sent, std::string& why) {
  if (got.width != sent.width || got.height != sent.height) {
    why = "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + " instead of " +
          std::to_string(sent.width) + "x" + std::to_string(sent.height);
    return false;
  }
  for (int y = 0; y < got.height; ++y) {
    if (std::memcmp(got.Row(y), sent.Row(y), got.Stride()) != 0) {
      why = "row " + std::to_string(y) + " differs";
      return false;
    }
  }
  return true;
}

bool SamePageBelowEfaxHeader(const TBitmap& got, const TBitmap& sent, std::string& why) {
  constexpr int kHeaderRows = 24;  // efax's 12x24 header font
  const int added = got.height - sent.height;
  if (got.width != sent.width || added < 0 || added > kHeaderRows) {
    why = "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + " for a page of " +
          std::to_string(sent.width) + "x" + std::to_string(sent.height);
    return false;
  }
  for (int y = kHeaderRows - added; y < sent.height; ++y) {
    if (std::memcmp(got.Row(y + added), sent.Row(y), got.Stride()) != 0) {
      why = "page row " + std::to_string(y) + " differs";
      return false;
    }
  }
  return true;
}

int RowsMissedInOrder(const TBitmap& got, const TBitmap& sent, int firstRow) {
  const int n = sent.height - firstRow;
  if (n <= 0) return 0;
  if (got.width != sent.width) return n;
  // Longest common subsequence of the page's rows and the rows received.
  const int m = got.height;
  auto same = [&](int s, int g) { return std::memcmp(sent.Row(firstRow + s), got.Row(g), got.Stride()) == 0; };
  std::vector<int> prev(static_cast<size_t>(m) + 1, 0), cur(prev.size(), 0);
  for (int s = 0; s < n; ++s) {
    for (int g = 0; g < m; ++g) {
      const auto gi = static_cast<size_t>(g);
      cur[gi + 1] = same(s, g) ? prev[gi] + 1 : std::max(prev[gi + 1], cur[gi]);
    }
    std::swap(prev, cur);
  }
  return n - prev[static_cast<size_t>(m)];
}

int BadRowsBelowEfaxHeader(const TBitmap& got, const TBitmap& sent) {
  constexpr int kHeaderRows = 24;
  const int added = got.height - sent.height;
  if (got.width != sent.width || added < -sent.height / 4 || added > kHeaderRows + sent.height / 4) return sent.height;
  return RowsMissedInOrder(got, sent, kHeaderRows);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace linetest
