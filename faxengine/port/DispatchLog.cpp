#include "faxengine/port/DispatchLog.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "faxengine/port/PortErrors.h"

namespace {

constexpr const char* kEngineVersion = "v1.00";
constexpr const char* kCrLf = "\r\n";
constexpr size_t kLogWrapColumn = 79;
constexpr size_t kLogIndent = 44;
constexpr size_t kTraceWrapColumn = 78;

// Indexed by type number.
constexpr const char* kTypeTexts[] = {
    "No event", "Dispatch", "Trigger",  "Error",    "Thread",   "TrigAllc", "TrigDisp",
    "TrgHdAlc", "TrgHdDsp", "TrDatChg", "Telnet",   "Fax",
};
// Indexed by subtype number.
constexpr const char* kSubtypeTexts[] = {
    "",      "ReadCom", "WriteCom", "Line status", "Modem status", "Avail",  "Timer",
    "Data",  "Status",  "Start",    "Exit",        "Sleep",        "Wake",   "Data",
    "Timer", "Status",  "Avail",    "Window",      "Procedure",    "Method",
};
constexpr const char* kStatusKindTexts[] = {
    "(Not active)",          "(Modem status)",        "(Line status)",
    "(Output buffer free)",  "(Output buffer used)",  "(Output sent)",
};

std::mutex providerMutex;
TFaxStateTextProvider faxStateText;

std::string CompilerText() {
#if defined(__clang__)
  return "Clang " __clang_version__;
#elif defined(__GNUC__)
  return "GCC " __VERSION__;
#else
  return "Unknown";
#endif
}

std::string SystemText() {
  utsname u{};
  if (uname(&u) != 0) return "Unknown";
  return std::string(u.sysname) + " " + u.release;
}

bool WriteText(const std::filesystem::path& path, bool append, const std::string& text) {
  std::ofstream f(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  if (!f) return false;
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(f.flush());
}

}  // namespace

void SetFaxStateTextProvider(TFaxStateTextProvider provider) {
  std::lock_guard lock(providerMutex);
  faxStateText = std::move(provider);
}

std::string LogTypeText(uint8_t type) {
  if (type < std::size(kTypeTexts)) return kTypeTexts[type];
  if (type == static_cast<uint8_t>(TLogType::ltUser)) return "User";
  return std::to_string(type);
}

std::string LogSubtypeText(uint8_t type, uint8_t subtype) {
  if (type == static_cast<uint8_t>(TLogType::ltFax)) {
    std::lock_guard lock(providerMutex);
    if (faxStateText) return faxStateText(subtype);
    return std::to_string(subtype);
  }
  if (subtype < std::size(kSubtypeTexts)) return kSubtypeTexts[subtype];
  return std::to_string(subtype);
}

std::vector<std::string> LogHeaderLines() {
  return {std::string("FAXENG ") + kEngineVersion, "Compiler : " + CompilerText(),
          "Operating System : " + SystemText()};
}

std::string RenderByte(uint8_t b, bool hex) {
  const uint8_t first = hex ? '!' : ' ';
  if (b >= first && b <= '~') return std::string(1, static_cast<char>(b));
  char buf[8];
  if (hex)
    std::snprintf(buf, sizeof buf, "[%02X]", b);
  else
    std::snprintf(buf, sizeof buf, "[%u]", b);
  return buf;
}

// ---------------------------------------------------------------------------

TDispatchLog::TDispatchLog() : start_(std::chrono::steady_clock::now()) {}

void TDispatchLog::RestartClock() { start_ = std::chrono::steady_clock::now(); }

void TDispatchLog::SetSize(size_t bytes) {
  capacity_ = bytes;
  Trim(0);
}

void TDispatchLog::Trim(size_t needed) {
  while (!entries_.empty() && used_ + needed > capacity_) {
    used_ -= kHeaderBytes + entries_.front().extra.size();
    entries_.pop_front();
  }
}

void TDispatchLog::Add(TLogType type, TLogSubtype subtype, uint32_t data, std::span<const uint8_t> extra) {
  Add(static_cast<uint8_t>(type), static_cast<uint8_t>(subtype), data, extra);
}

void TDispatchLog::Add(uint8_t type, uint8_t subtype, uint32_t data, std::span<const uint8_t> extra) {
  if (capacity_ < kHeaderBytes) return;
  const size_t keep = std::min(extra.size(), capacity_ - kHeaderBytes);
  Trim(kHeaderBytes + keep);
  uint32_t time;
  if (clock_) {
    time = clock_();
  } else {
    using namespace std::chrono;
    time = static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now() - start_).count());
  }
  entries_.push_back(TEntry{type, subtype, time, data, {extra.begin(), extra.begin() + static_cast<ptrdiff_t>(keep)}});
  used_ += kHeaderBytes + keep;
}

void TDispatchLog::Clear() {
  entries_.clear();
  used_ = 0;
}

std::string TDispatchLog::FormatEntry(const TEntry& e, bool hex) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07u", e.time);
  std::string time = digits;
  time.insert(time.size() - 3, ".");

  char head[96];
  std::snprintf(head, sizeof head, "%8s  %-8s  %-12s  %08x  ", time.c_str(), LogTypeText(e.type).c_str(),
                LogSubtypeText(e.type, e.subtype).c_str(), e.data);
  std::string out = head;

  const bool statusTrigger = (e.type == static_cast<uint8_t>(TLogType::ltTrigAlloc) ||
                              e.type == static_cast<uint8_t>(TLogType::ltTrigDispose)) &&
                             e.subtype == static_cast<uint8_t>(TLogSubtype::lsTrigStatus) && e.extra.size() == 1;
  if (statusTrigger) {
    const uint8_t kind = e.extra[0];
    if (kind < std::size(kStatusKindTexts)) return out + kStatusKindTexts[kind];
  }
  size_t lineStart = 0;
  for (uint8_t b : e.extra) {
    const std::string token = RenderByte(b, hex);
    if (out.size() - lineStart + token.size() > kLogWrapColumn) {
      out += kCrLf;
      lineStart = out.size();
      out.append(kLogIndent, ' ');
    }
    out += token;
  }
  return out;
}

std::string TDispatchLog::Format(bool hex) const {
  std::string out;
  for (const auto& line : LogHeaderLines()) out += line + kCrLf;
  out += "Time      Type      SubType       Data      OtherData";
  out += kCrLf;
  out += "--------  --------  ------------  --------  ---------";
  out += kCrLf;
  for (const auto& e : entries_) {
    out += FormatEntry(e, hex);
    out += kCrLf;
  }
  return out;
}

bool TDispatchLog::Dump(const std::filesystem::path& path, bool append, bool hex) const {
  if (entries_.empty()) return true;
  return WriteText(path, append, Format(hex));
}

// ---------------------------------------------------------------------------

int TDispatchTrace::SetSize(size_t entries) {
  if (entries == 0 || entries > kMaxEntries) return fxcode::ecBadArgument;
  capacity_ = entries;
  Clear();
  return fxcode::ecOK;
}

void TDispatchTrace::Clear() {
  ring_.clear();
  ring_.shrink_to_fit();
  next_ = 0;
  count_ = 0;
}

void TDispatchTrace::Add(char direction, std::span<const uint8_t> bytes) {
  if (ring_.size() != capacity_) ring_.assign(capacity_, 0);
  const auto letter = static_cast<uint16_t>(static_cast<uint8_t>(direction) << 8);
  for (uint8_t b : bytes) {
    ring_[next_] = static_cast<uint16_t>(letter | b);
    next_ = (next_ + 1) % capacity_;
    if (count_ < capacity_) ++count_;
  }
}

std::string TDispatchTrace::Format(bool hex) const {
  std::string out;
  size_t lineStart = 0;
  int direction = -1;
  const size_t first = (next_ + capacity_ - count_) % capacity_;
  for (size_t i = 0; i < count_; ++i) {
    const uint16_t entry = ring_[(first + i) % capacity_];
    const int letter = entry >> 8;
    if (letter != direction) {
      if (direction != -1) out += kCrLf;
      lineStart = out.size();
      if (letter == 'T')
        out += "Transmit: ";
      else if (letter == 'R')
        out += "Receive: ";
      else
        out += std::string("Special-") + static_cast<char>(letter) + ": ";
      direction = letter;
    }
    const std::string token = RenderByte(static_cast<uint8_t>(entry & 0xFF), hex);
    if (out.size() - lineStart + token.size() > kTraceWrapColumn) {
      out += kCrLf;
      lineStart = out.size();
    }
    out += token;
  }
  if (count_ > 0) out += kCrLf;
  return out;
}

bool TDispatchTrace::Dump(const std::filesystem::path& path, bool append, bool hex) const {
  if (count_ == 0) return true;
  return WriteText(path, append, Format(hex));
}
