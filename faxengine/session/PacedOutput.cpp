#include "faxengine/session/PacedOutput.h"

#include <algorithm>

namespace {
// How often an empty output ring is looked for.
constexpr std::chrono::milliseconds kSentPoll{5};
}  // namespace

void TFxPacedOutput::Add(TStep step) {
  const bool idle = steps_.empty();
  steps_.push_back(std::move(step));
  // The first waiting step starts its wait now, as a sleep here would have.
  if (idle) Run();
}

void TFxPacedOutput::Pause(unsigned ms) {
  if (ms > 0) Add(TStep{TKind::skPause, ms, {}, false, {}});
}

void TFxPacedOutput::PauseUntilSent(unsigned maxMs) { Add(TStep{TKind::skUntilSent, maxMs, {}, false, {}}); }

void TFxPacedOutput::Write(const void* data, size_t n) {
  if (n == 0) return;
  if (steps_.empty()) return act_.write(data, n);
  const auto* p = static_cast<const char*>(data);
  Add(TStep{TKind::skWrite, 0, std::string(p, p + n), false, {}});
}

void TFxPacedOutput::PurgeInput() {
  if (steps_.empty()) return act_.purgeInput();
  Add(TStep{TKind::skPurgeInput, 0, {}, false, {}});
}

bool TFxPacedOutput::RunHead() {
  TStep& s = steps_.front();
  const auto now = std::chrono::steady_clock::now();
  switch (s.kind) {
    case TKind::skPause:
      if (!s.started) {
        s.started = true;
        s.until = now + std::chrono::milliseconds(s.ms);
      }
      if (now < s.until) {
        act_.armTimer(std::chrono::ceil<std::chrono::milliseconds>(s.until - now));
        return false;
      }
      break;
    case TKind::skUntilSent:
      if (!s.started) {
        s.started = true;
        s.until = now + std::chrono::milliseconds(s.ms);
      }
      if (act_.outputUsed() > 0 && now < s.until) {
        act_.armTimer(std::min(kSentPoll, std::chrono::ceil<std::chrono::milliseconds>(s.until - now)));
        return false;
      }
      break;
    case TKind::skWrite: {
      // The step leaves the list before it is written: a write never queues
      // behind itself.
      const std::string bytes = std::move(s.bytes);
      steps_.pop_front();
      act_.write(bytes.data(), bytes.size());
      return true;
    }
    case TKind::skPurgeInput: act_.purgeInput(); break;
  }
  steps_.pop_front();
  return true;
}

bool TFxPacedOutput::Run() {
  while (!steps_.empty())
    if (!RunHead()) return false;
  return true;
}
