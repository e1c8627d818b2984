#pragma once
// The port's two diagnostic rings: the dispatch log (timed entries of what
// the dispatcher did) and the trace (every byte sent and received). Both are
// written to text files on demand. Neither class locks: the dispatcher guards
// them with its trigger lock.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

enum class TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

// Entry types and subtypes; their numbers are part of the log format.
enum class TLogType : uint8_t {
  ltNone = 0,
  ltDispatch = 1,
  ltTrigger = 2,
  ltError = 3,
  ltThread = 4,
  ltTrigAlloc = 5,
  ltTrigDispose = 6,
  ltTrigHandlerAlloc = 7,
  ltTrigHandlerDispose = 8,
  ltTrigDataChange = 9,
  ltTelnet = 10,
  ltFax = 11,
  ltUser = 19,
};

enum class TLogSubtype : uint8_t {
  lsNone = 0,
  lsReadCom = 1,
  lsWriteCom = 2,
  lsLineStatus = 3,
  lsModemStatus = 4,
  lsAvail = 5,   // trigger fired
  lsTimer = 6,
  lsData = 7,
  lsStatus = 8,
  lsStart = 9,
  lsExit = 10,
  lsSleep = 11,
  lsWake = 12,
  lsTrigData = 13,  // trigger created, deleted or changed
  lsTrigTimer = 14,
  lsTrigStatus = 15,
  lsTrigAvail = 16,
  lsWindow = 17,  // handler registered or removed
  lsProcedure = 18,
  lsMethod = 19,
  // Fax entries use 30 + send state and 79 + receive state.
  lsFaxSendBase = 30,
  lsFaxReceiveBase = 79,
};

// Texts for fax state subtypes come from the fax sessions; until a provider
// is installed they print as numbers.
using TFaxStateTextProvider = std::function<std::string(uint8_t subtype)>;
void SetFaxStateTextProvider(TFaxStateTextProvider provider);

std::string LogTypeText(uint8_t type);
std::string LogSubtypeText(uint8_t type, uint8_t subtype);

// The three heading lines of a log file, without line ends.
std::vector<std::string> LogHeaderLines();

// Byte rendering shared by log and trace: printable ASCII as itself (from "!"
// with hex on, from " " with it off, up to "~"), anything else in brackets as
// two hex digits or as a decimal number.
std::string RenderByte(uint8_t b, bool hex);

class TDispatchLog {
 public:
  // Milliseconds since logging started; replaceable so tests get fixed times.
  using TClock = std::function<uint32_t()>;

  static constexpr size_t kHeaderBytes = 16;

  struct TEntry {
    uint8_t type;
    uint8_t subtype;
    uint32_t time;
    uint32_t data;
    std::vector<uint8_t> extra;
  };

  TDispatchLog();

  // Capacity in bytes, headers included; the oldest entries are dropped when
  // a new one does not fit. Shrinking drops the oldest entries at once.
  void SetSize(size_t bytes);
  size_t Size() const { return capacity_; }
  void SetClock(TClock clock) { clock_ = std::move(clock); }
  // Restarts the time base at zero.
  void RestartClock();

  // Adds an entry; extra bytes beyond what the ring can hold are cut.
  void Add(TLogType type, TLogSubtype subtype, uint32_t data, std::span<const uint8_t> extra = {});
  void Add(uint8_t type, uint8_t subtype, uint32_t data, std::span<const uint8_t> extra);
  void Clear();
  bool Empty() const { return entries_.empty(); }
  const std::deque<TEntry>& Entries() const { return entries_; }

  // The whole log as text: heading lines then one block per entry, CR LF ends.
  std::string Format(bool hex) const;
  // Writes (or appends) the formatted log to path. An empty log writes
  // nothing and leaves any existing file alone. Returns false when the file
  // cannot be written.
  bool Dump(const std::filesystem::path& path, bool append, bool hex) const;

  // One entry's text (possibly several lines), without the final line end.
  static std::string FormatEntry(const TEntry& e, bool hex);

 private:
  void Trim(size_t needed);

  size_t capacity_ = 10000;
  size_t used_ = 0;
  std::deque<TEntry> entries_;
  std::chrono::steady_clock::time_point start_;
  TClock clock_;
};

class TDispatchTrace {
 public:
  static constexpr size_t kMaxEntries = 4000000;

  // Capacity in entries (1..4,000,000); returns -1002 for more, without change.
  int SetSize(size_t entries);
  size_t Size() const { return capacity_; }

  // Records bytes with direction letter 'T' (sent) or 'R' (received).
  void Add(char direction, std::span<const uint8_t> bytes);
  void Clear();
  bool Empty() const { return count_ == 0; }

  std::string Format(bool hex) const;
  // Writes or appends the trace; an empty trace writes nothing.
  bool Dump(const std::filesystem::path& path, bool append, bool hex) const;

 private:
  size_t capacity_ = 10000;
  std::vector<uint16_t> ring_;  // direction letter << 8 | byte
  size_t next_ = 0;
  size_t count_ = 0;
};
