#pragma once
// Test harness for the virtual modem line: runs the real cvmodemline
// program and real efax processes, talks to modems through their
// pseudo-terminals and compares fax pages.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/TempFolder.h"

namespace linetest {

namespace fs = std::filesystem;

// Runs a program with its output in `log`; returns its exit code, or -1 when
// it had to be killed after `timeout`.
int Run(const std::vector<std::string>& argv, const fs::path& log, std::chrono::seconds timeout);
bool HaveProgram(const std::string& name);

// A program running in the background.
class TProcess {
 public:
  TProcess(const std::vector<std::string>& argv, const fs::path& log);
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;
  pid_t Pid() const { return pid_; }
  // Exit code, or -1 after killing it when it has not ended within timeout.
  int Wait(std::chrono::seconds timeout);
  int Terminate(std::chrono::seconds timeout);  // SIGTERM, then Wait
  bool Exited();

 private:
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

// The line program on a folder of its own.
class TLineProcess {
 public:
  explicit TLineProcess(const fs::path& dir, std::vector<std::string> extra = {});
  bool Ready() const { return ready_; }
  fs::path Dir() const { return dir_; }
  fs::path Link(int n) const { return dir_ / ("com" + std::to_string(n)); }
  fs::path Received() const { return dir_ / "received"; }
  std::string Control(const std::string& command);
  int Stop() { return process_.Terminate(std::chrono::seconds(10)); }
  std::string Log() const;

 private:
  fs::path dir_;
  TProcess process_;
  bool ready_ = false;
};

// The serial program's side of a virtual modem.
class TModemClient {
 public:
  explicit TModemClient(const fs::path& device);
  ~TModemClient();
  TModemClient(const TModemClient&) = delete;
  TModemClient& operator=(const TModemClient&) = delete;
  bool Open() const { return fd_ >= 0; }
  void Send(const std::string& text);
  // Reads until `expect` has been seen (returns everything read) or timeout
  // (returns what came, which then lacks `expect`).
  std::string ReadUntil(const std::string& expect, std::chrono::milliseconds timeout);
  // Sends a command line and reads up to its final result (OK, ERROR, ...).
  std::string Command(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(3));

 private:
  int fd_ = -1;
};

// A monochrome page: rows of (width + 7) / 8 bytes, 1 bits are black.
struct TBitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;
  size_t Stride() const { return static_cast<size_t>((width + 7) / 8); }
  const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * Stride(); }
};

TBitmap MakePage(int seed, int height);
bool WritePbm(const fs::path& path, const TBitmap& b);
std::optional<TBitmap> ReadPbm(const fs::path& path);
std::vector<TBitmap> ReadTiffPages(const fs::path& path);
// Writes pages as one Group 3 TIFF with libtiff, each page in fine
// resolution unless finePages says false for it.
bool WriteTiff(const fs::path& path, const std::vector<TBitmap>& pages, const std::vector<bool>& finePages = {});

// True when `got` is `sent` exactly.
bool SamePage(const TBitmap& got, const TBitmap& sent, std::string& why);
// True when `got` is `sent` as efax transmits it: efax puts blank lines for
// its header line above the page and draws the header over them and over
// the first rows of the page, so those rows are not compared.
bool SamePageBelowEfaxHeader(const TBitmap& got, const TBitmap& sent, std::string& why);

// Rows of `sent` from `firstRow` on that are not among the rows of `got`
// received intact and in order (a wrong width counts as all of them). A
// receiver that meets a damaged row may drop it, merge it with the next or
// split it in two: each costs a row or two, not a shift of the rest of the
// page, so this is the measure for pages sent without error correction.
int RowsMissedInOrder(const TBitmap& got, const TBitmap& sent, int firstRow = 0);
// The same for the page below efax's header.
int BadRowsBelowEfaxHeader(const TBitmap& got, const TBitmap& sent);

std::string ReadText(const fs::path& path);

}  // namespace linetest
