#include "testsupport/ScriptedModem.h"

#include <poll.h>
#include <unistd.h>

namespace {
constexpr uint8_t kDle = 0x10, kEtx = 0x03;
constexpr uint8_t kFinalBit = 0x10;  // in an HDLC frame's control byte
}  // namespace

TScriptedModem::TScriptedModem(TPty& pty, TScript script) : pty_(pty), script_(std::move(script)) {
  thread_ = std::thread([this] { Run(); });
}

TScriptedModem::~TScriptedModem() {
  stop_ = true;
  thread_.join();
}

std::vector<TScriptedModem::TEntry> TScriptedModem::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<std::string> TScriptedModem::Commands() const {
  std::vector<std::string> out;
  for (const auto& e : Log())
    if (e.kind == TKind::Command) out.push_back(e.command);
  return out;
}

std::vector<std::string> TScriptedModem::Events() const {
  std::vector<std::string> out;
  for (const auto& e : Log()) {
    if (e.kind == TKind::Command) out.push_back(e.command);
    if (e.kind == TKind::DataEnd) out.push_back("DLE ETX");
  }
  return out;
}

int TScriptedModem::Count(const std::string& command) const {
  int n = 0;
  for (const auto& c : Commands()) n += c == command;
  return n;
}

std::vector<std::vector<uint8_t>> TScriptedModem::Frames() const {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& e : Log())
    if (e.kind == TKind::Frame) out.push_back(e.frame);
  return out;
}

std::vector<std::vector<uint8_t>> TScriptedModem::Pages() const {
  std::lock_guard lock(mutex_);
  return pages_;
}

void TScriptedModem::Run() {
  while (!stop_) {
    pollfd p{pty_.Master(), POLLIN, 0};
    if (::poll(&p, 1, 5) <= 0) continue;
    char buf[4096];
    const bool slow = mode_ == TNext::Data && slowData;
    if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const ssize_t n = ::read(pty_.Master(), buf, slow ? 16 : sizeof buf);
    for (ssize_t i = 0; i < n; ++i) Take(static_cast<uint8_t>(buf[i]));
  }
}

void TScriptedModem::Take(uint8_t c) {
  switch (mode_) {
    case TNext::Listen:
      mode_ = TNext::Commands;
      Reply("\r\nOK\r\n");
      return;
    case TNext::Commands:
      if (c == '\r') {
        const std::string line = std::move(line_);
        line_.clear();
        Answer(line);
      } else if (c != '\n') {
        line_ += static_cast<char>(c);
      }
      return;
    case TNext::Data:
    case TNext::Frames:
      break;
  }
  if (!dle_ && c == kDle) {
    dle_ = true;
    return;
  }
  const bool shielded = dle_;
  dle_ = false;
  if (shielded && c == kEtx) {
    if (mode_ == TNext::Data) {
      {
        std::lock_guard lock(mutex_);
        log_.push_back({TKind::DataEnd, {}, {}});
      }
      mode_ = TNext::Commands;
      Reply("\r\nOK\r\n");
      return;
    }
    const bool final = frame_.size() > 1 && (frame_[1] & kFinalBit) != 0;
    {
      std::lock_guard lock(mutex_);
      log_.push_back({TKind::Frame, {}, std::move(frame_)});
    }
    frame_.clear();
    if (final) mode_ = TNext::Commands;
    Reply(final ? "\r\nOK\r\n" : "\r\nCONNECT\r\n");
    return;
  }
  // DLE DLE is one DLE of data; any other shielded byte is a command the
  // host gave the modem, not data.
  if (shielded && c != kDle) return;
  if (mode_ == TNext::Frames) {
    frame_.push_back(c);
  } else {
    ++dataBytes;
    std::lock_guard lock(mutex_);
    pages_.back().push_back(c);
  }
}

void TScriptedModem::Answer(const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    log_.push_back({TKind::Command, line, {}});
  }
  const TAnswer a = script_(line);
  if (a.delay.count() > 0) std::this_thread::sleep_for(a.delay);
  if (a.next == TNext::Data) {
    std::lock_guard lock(mutex_);
    pages_.emplace_back();
  }
  if (a.next == TNext::Frames) frame_.clear();
  dle_ = false;
  mode_ = a.next;
  if (!a.text.empty()) Reply(a.text);
}
