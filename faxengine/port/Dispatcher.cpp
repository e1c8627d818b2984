#include "faxengine/port/Dispatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "faxengine/port/PortErrors.h"

namespace {

struct TTimerTrigger {
  uint16_t handle = 0;
  TTicks start = 0;
  TTicks expiry = 0;
  TTicks interval = 0;
  bool armed = false;
  // Armed in milliseconds: fires at deadline rather than at a tick.
  bool precise = false;
  std::chrono::steady_clock::time_point deadline{};
};

struct TStatusTrigger {
  uint16_t handle = 0;
  TStatusKind kind = TStatusKind::skOutSent;
  uint32_t value = 0;
  uint8_t msrWatched = 0;  // kind 1: the watched bits when armed
  bool armed = false;
};

struct TDataTrigger {
  uint16_t handle = 0;
  std::string text;          // folded to upper case when ignoring case
  std::vector<size_t> fail;  // longest proper border of each prefix
  size_t progress = 0;
  bool ignoreCase = false;
  bool matched = false;
};

uint8_t Upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

// Advances a data trigger by one byte. A mismatch falls back to the longest
// matched prefix that is still a suffix of the input, so no occurrence is
// missed (the byte itself may start a new match).
void Step(TDataTrigger& t, uint8_t b) {
  const auto c = static_cast<char>(t.ignoreCase ? Upper(b) : b);
  while (t.progress > 0 && t.text[t.progress] != c) t.progress = t.fail[t.progress - 1];
  if (t.text[t.progress] == c) ++t.progress;
  if (t.progress == t.text.size()) t.matched = true;
}

std::vector<size_t> Borders(const std::string& s) {
  std::vector<size_t> f(s.size(), 0);
  size_t k = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    while (k > 0 && s[i] != s[k]) k = f[k - 1];
    if (s[i] == s[k]) ++k;
    f[i] = k;
  }
  return f;
}

std::array<uint8_t, 4> Bytes32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

void WaitStopFd(int stopFd, int ms) {
  pollfd p{stopFd, POLLIN, 0};
  ::poll(&p, 1, ms);
}

}  // namespace

unsigned LineSettleMs(const TLineSettings& s) {
  if (s.baud <= 0) return 0;
  const int64_t bits = s.dataBits + (s.parity != TParity::pNone ? 1 : 0) + 3 - (s.stopBits == 1 ? 1 : 0);
  int64_t d = 10000000 / s.baud * bits * 18;  // units of 100 ns
  if (d < 9999) d *= 2;
  return static_cast<unsigned>(d / 10000 + (d % 10000 != 0 ? 1 : 0));
}

struct TFxPosixDispatcher::THandler {
  THandlerKind kind;
  THandlerId id = 0;
  TTriggerProc proc = nullptr;
  TTriggerMethod method;
  THostExecutor* executor = nullptr;
  std::atomic<bool> deleted{false};
};

struct TFxPosixDispatcher::TTriggerSet {
  std::vector<TTimerTrigger> timers;
  std::vector<TStatusTrigger> statuses;
  std::vector<TDataTrigger> data;
  uint32_t availThreshold = 0;
  unsigned issued = 0;
  std::vector<std::shared_ptr<THandler>> windows, procs, methods;
  THandlerId nextHandlerId = 1;
  bool forceWindowDelivery = false;
};

namespace {
// Forgets every partial match: the input they were made of is gone.
void ResetMatches(TFxPosixDispatcher::TTriggerSet& set) {
  for (auto& t : set.data) {
    t.progress = 0;
    t.matched = false;
  }
}
}  // namespace

TFxPosixDispatcher::TFxPosixDispatcher(size_t outSize)
    : triggers_(std::make_shared<TTriggerSet>()), ring_(kDispatchRingSize), outRing_(std::max<size_t>(outSize, 1)) {}

TFxPosixDispatcher::~TFxPosixDispatcher() {
  Stop();
  if (stopFd_ >= 0) ::close(stopFd_);
}

int TFxPosixDispatcher::OpenDevice(const std::string& path, const TLineSettings& settings) {
  if (const int code = device_.Open(path); code != fxcode::ecOK) return code;
  if (const int code = device_.Apply(settings); code != fxcode::ecOK) {
    device_.Close();
    return code;
  }
  settings_ = settings;
  uint8_t bits = 0;
  msrPresent_ = device_.ModemLines(bits);
  msr_ = bits;
  countsPresent_ = device_.ErrorCounts(counts_);
  return fxcode::ecOK;
}

// --- threads -----------------------------------------------------------------

void TFxPosixDispatcher::Start() {
  std::lock_guard lock(threadMutex_);
  if (started_) throw EFxException(fxcode::ecBadArgument, "Dispatcher already started");
  started_ = true;
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) throw EFxException(-8, "Insufficient memory");

  struct TReady {
    std::mutex m;
    std::condition_variable cv;
    bool ready = false;
    void Signal() {
      {
        std::lock_guard l(m);
        ready = true;
      }
      cv.notify_all();
    }
    void Wait() {
      std::unique_lock l(m);
      cv.wait_for(l, std::chrono::milliseconds(3000), [&] { return ready; });
    }
  };
  auto comReady = std::make_shared<TReady>();
  comThread_ = std::thread([this, comReady] {
    comReady->Signal();
    ComThreadMain();
  });
  comReady->Wait();
  auto dispReady = std::make_shared<TReady>();
  dispThread_ = std::thread([this, dispReady] {
    dispThreadId_ = std::this_thread::get_id();
    dispReady->Signal();
    DispatchThreadMain();
  });
  dispReady->Wait();
  auto outReady = std::make_shared<TReady>();
  outThread_ = std::thread([this, outReady] {
    outReady->Signal();
    OutThreadMain();
  });
  outReady->Wait();
}

bool TFxPosixDispatcher::OnDispatchThread() const { return std::this_thread::get_id() == dispThreadId_; }

void TFxPosixDispatcher::RequestStop() {
  stop_ = true;
  if (stopFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
  }
  {
    std::lock_guard l(eventMutex_);
  }
  eventCv_.notify_all();
  {
    std::lock_guard l(inputMutex_);
  }
  roomCv_.notify_all();
  inputCv_.notify_all();
  {
    std::lock_guard l(outputMutex_);
  }
  outputCv_.notify_all();
}

void TFxPosixDispatcher::Stop() {
  if (OnDispatchThread()) {
    RequestStop();
    return;
  }
  std::lock_guard lock(threadMutex_);
  RequestStop();
  // Output first (it may be waiting for the line), then the comm thread,
  // then the dispatch thread, which may still be delivering.
  if (outThread_.joinable()) outThread_.join();
  if (comThread_.joinable()) comThread_.join();
  if (dispThread_.joinable()) dispThread_.join();
  device_.Close();
}

void TFxPosixDispatcher::ComThreadMain() {
  const int fd = device_.Fd();
  while (!stop_) {
    {
      std::unique_lock l(inputMutex_);
      roomCv_.wait(l, [&] { return stop_ || written_ - read_ < kDispatchRingSize; });
    }
    if (stop_) break;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;  // a failed wait ends this thread; stopping still works
    }
    if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL)) break;
    if (fds[0].revents == 0) continue;
    bool got;
    {
      std::unique_lock l(eventMutex_);
      rxEvent_ = true;
      rxReleased_ = false;
      eventCv_.notify_all();
      eventCv_.wait(l, [&] { return rxReleased_ || stop_.load(); });
      got = rxGotData_;
    }
    // Readable but nothing to take (hang-up on the far side, or the ring
    // filled): do not spin on a descriptor that stays ready.
    if (!got) WaitStopFd(stopFd_, kDispatchPassMs);
  }
}

void TFxPosixDispatcher::DispatchThreadMain() {
  while (!stop_) {
    bool rx = false;
    {
      std::unique_lock l(eventMutex_);
      eventCv_.wait_until(l, NextPassDue(), [&] { return rxEvent_ || wake_ || stop_.load(); });
      rx = rxEvent_;
      rxEvent_ = false;
      wake_ = false;
    }
    if (stop_) break;
    PollLines();
    if (rx) {
      const uint64_t before = written_;
      ReadInput();
      const bool got = written_ != before;
      if (!hold_) {
        while (!stop_ && FireOneStatus()) {
        }
        ScanInput();
      }
      {
        std::lock_guard l(eventMutex_);
        rxReleased_ = true;
        rxGotData_ = got;
      }
      eventCv_.notify_all();
    }
    if (!hold_) {
      CheckStatusAndTimers();
      ScanInput();  // bytes held back by HoldDispatch, or left by a reader
    }
  }
  // Let a comm thread waiting for its release go.
  {
    std::lock_guard l(eventMutex_);
    rxReleased_ = true;
  }
  eventCv_.notify_all();
}

void TFxPosixDispatcher::OutThreadMain() {
  const int fd = device_.Fd();
  while (!stop_) {
    size_t index, length;
    uint64_t generation;
    {
      std::unique_lock l(outputMutex_);
      outputCv_.wait(l, [&] { return stop_ || (outHead_ > outTail_ && !purging_); });
      if (stop_) break;
      index = outTail_ % outRing_.size();
      length = std::min<uint64_t>(outHead_ - outTail_, outRing_.size() - index);
      generation = outGeneration_;
      writing_ = true;
    }
    ssize_t n;
    int err;
    {
      // Logged under the same lock as the write, so that a reply can never
      // appear in the log or trace before the bytes that caused it.
      std::lock_guard l(triggerMutex_);
      n = ::write(fd, &outRing_[index], length);
      err = errno;
      if (n > 0) {
        const std::span<const uint8_t> bytes(&outRing_[index], static_cast<size_t>(n));
        if (logState_ == TTraceLogState::tlOn)
          log_.Add(TLogType::ltDispatch, TLogSubtype::lsWriteCom, static_cast<uint32_t>(n), bytes);
        if (traceState_ == TTraceLogState::tlOn) trace_.Add('T', bytes);
      }
    }
    {
      std::lock_guard l(outputMutex_);
      writing_ = false;
      if (n > 0 && generation == outGeneration_) outTail_ += static_cast<uint64_t>(n);
    }
    outputCv_.notify_all();
    if (n > 0) {
      WakeDispatch();
    } else if (n < 0 && (err == EAGAIN || err == EINTR)) {
      // The line is busy (flow control or a full driver queue): wait for room.
      pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
      ::poll(fds, 2, static_cast<int>(kDispatchPassMs));
    } else {
      WaitStopFd(stopFd_, kDispatchPassMs);  // the device failed; retry gently
    }
  }
}

void TFxPosixDispatcher::WakeDispatch() {
  {
    std::lock_guard l(eventMutex_);
    wake_ = true;
  }
  eventCv_.notify_all();
}

// --- dispatch thread work ------------------------------------------------------

void TFxPosixDispatcher::ReadInput() {
  const int fd = device_.Fd();
  for (;;) {
    size_t index, room;
    {
      std::lock_guard l(inputMutex_);
      const uint64_t used = written_ - read_;
      if (used >= kDispatchRingSize) return;  // the rest stays queued in the driver
      index = written_ % kDispatchRingSize;
      room = std::min<uint64_t>(kDispatchRingSize - used, kDispatchRingSize - index);
    }
    const ssize_t n = ::read(fd, &ring_[index], room);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    // Logged before the bytes are published: whoever sees them in the input
    // (and may close the port at once) finds them in the log and trace too.
    {
      std::lock_guard l(triggerMutex_);
      const std::span<const uint8_t> bytes(&ring_[index], static_cast<size_t>(n));
      if (logState_ == TTraceLogState::tlOn)
        log_.Add(TLogType::ltDispatch, TLogSubtype::lsReadCom, static_cast<uint32_t>(n), bytes);
      if (traceState_ == TTraceLogState::tlOn) trace_.Add('R', bytes);
    }
    {
      std::lock_guard l(inputMutex_);
      written_ += static_cast<uint64_t>(n);
    }
    inputCv_.notify_all();
  }
}

void TFxPosixDispatcher::PollLines() {
  if (msrPresent_) {
    uint8_t bits = 0;
    if (device_.ModemLines(bits)) {
      const uint8_t old = msr_;
      uint8_t deltas = 0;
      if ((old ^ bits) & msr::kCTS) deltas |= msr::kDeltaCTS;
      if ((old ^ bits) & msr::kDSR) deltas |= msr::kDeltaDSR;
      if ((old & msr::kRI) && !(bits & msr::kRI)) deltas |= msr::kTrailingRI;
      if ((old ^ bits) & msr::kDCD) deltas |= msr::kDeltaDCD;
      if ((old & 0xF0) != bits) msr_ = static_cast<uint8_t>(bits | deltas);
    }
  }
  if (countsPresent_) {
    TComDevice::TErrorCounts c;
    if (device_.ErrorCounts(c)) {
      uint8_t errors = 0;
      if (c.overrun != counts_.overrun) errors |= lsr::kOverrun;
      if (c.parity != counts_.parity) errors |= lsr::kParity;
      if (c.frame != counts_.frame) errors |= lsr::kFraming;
      if (c.brk != counts_.brk) errors |= lsr::kBreak;
      counts_ = c;
      if (errors) {
        std::lock_guard l(triggerMutex_);
        lineError_ |= errors;
        lastLineError_ = lineError_;
      }
    }
  }
}

void TFxPosixDispatcher::CheckStatusAndTimers() {
  while (!stop_ && !hold_) {
    const bool status = FireOneStatus();
    const bool timer = FireOneTimer();
    if (!status && !timer) break;
  }
}

bool TFxPosixDispatcher::FireOneStatus() {
  TNotification n{};
  bool found = false;
  {
    std::lock_guard l(triggerMutex_);
    for (auto& t : triggers_->statuses) {
      if (!t.armed) continue;
      uint16_t data = 0;
      bool holds = false;
      switch (t.kind) {
        case TStatusKind::skModemStatus: holds = ((msr_ & t.value & 0xF0) != t.msrWatched); break;
        case TStatusKind::skLineStatus:
          holds = (lineError_ & t.value) != 0;
          if (holds) {
            lastLineError_ = lineError_;
            lineError_ = 0;
          }
          break;
        case TStatusKind::skOutBuffFree: {
          const size_t free = OutputFree();
          holds = free >= t.value;
          data = static_cast<uint16_t>(std::min<size_t>(free, 0xFFFF));
          break;
        }
        case TStatusKind::skOutBuffUsed: {
          const size_t used = OutputUsed();
          holds = used <= t.value;
          data = static_cast<uint16_t>(std::min<size_t>(used, 0xFFFF));
          break;
        }
        case TStatusKind::skOutSent: {
          bool idle;
          {
            std::lock_guard o(outputMutex_);
            idle = outHead_ == outTail_ && !writing_;
          }
          holds = idle && device_.DriverOutQueue() == 0;
          break;
        }
      }
      if (!holds) continue;
      t.armed = false;
      n = {TTriggerMsg::tmStatus, t.handle, data};
      LogLocked(TLogType::ltTrigger, TLogSubtype::lsStatus, t.handle);
      found = true;
      break;
    }
  }
  if (found) Deliver(n, false);
  return found;
}

bool TFxPosixDispatcher::FireOneTimer() {
  TNotification n{};
  bool found = false;
  {
    std::lock_guard l(triggerMutex_);
    const TTicks now = TicksNow();
    const auto clock = std::chrono::steady_clock::now();
    for (auto& t : triggers_->timers) {
      if (!t.armed || (t.precise ? clock < t.deadline : !TicksReached(now, t.expiry))) continue;
      t.armed = false;
      n = {TTriggerMsg::tmTimer, t.handle, 0};
      LogLocked(TLogType::ltTrigger, TLogSubtype::lsTimer, t.handle);
      found = true;
      break;
    }
  }
  if (found) Deliver(n, false);
  return found;
}

void TFxPosixDispatcher::ScanInput() {
  while (!stop_ && !hold_) {
    uint64_t written, read, purges;
    {
      std::lock_guard l(inputMutex_);
      written = written_;
      read = read_;
      purges = purges_;
    }
    // Input purged, or read before it was scanned, is gone from between the
    // bytes scanned and the bytes to come: a partial match made of it must
    // not be completed by what follows.
    const bool gap = scanned_ < read || purges != scanPurges_;
    if (scanned_ < read) scanned_ = read;
    scanPurges_ = purges;
    struct TMatch {
      uint16_t handle;
      uint16_t length;
    };
    std::vector<TMatch> matches;
    size_t longest = 0;
    uint32_t threshold;
    {
      std::lock_guard l(triggerMutex_);
      threshold = triggers_->availThreshold;
      auto& data = triggers_->data;
      if (gap) ResetMatches(*triggers_);
      if (data.empty()) {
        scanned_ = written;
      } else {
        while (scanned_ < written && matches.empty()) {
          const uint8_t b = ring_[scanned_ % kDispatchRingSize];
          ++scanned_;
          for (auto& t : data) Step(t, b);
          for (auto it = data.rbegin(); it != data.rend(); ++it) {
            if (!it->matched) continue;
            matches.push_back({it->handle, static_cast<uint16_t>(it->text.size())});
            longest = std::max(longest, it->text.size());
            it->matched = false;
            it->progress = 0;
          }
        }
      }
    }
    if (!matches.empty()) {
      {
        // A purge while scanning took the matched bytes away: no match.
        std::lock_guard l(inputMutex_);
        if (purges_ != purges) continue;
      }
      const uint64_t before = scanned_ - read;
      const uint64_t preceding = before > longest ? before - longest : 0;
      if (threshold > 0 && preceding >= threshold) {
        {
          std::lock_guard l(triggerMutex_);
          LogLocked(TLogType::ltTrigger, TLogSubtype::lsAvail, static_cast<uint32_t>(preceding));
        }
        Deliver({TTriggerMsg::tmAvail, static_cast<uint16_t>(preceding), 0}, true);
      }
      for (const auto& m : matches) {
        if (stop_) return;
        {
          std::lock_guard l(triggerMutex_);
          LogLocked(TLogType::ltTrigger, TLogSubtype::lsData, m.handle);
        }
        Deliver({TTriggerMsg::tmData, m.handle, m.length}, true);
      }
      continue;
    }
    uint64_t unread;
    {
      std::lock_guard l(inputMutex_);
      unread = written_ - read_;
    }
    if (threshold > 0 && unread >= threshold && scanned_ != lastAvailScan_) {
      lastAvailScan_ = scanned_;
      {
        std::lock_guard l(triggerMutex_);
        LogLocked(TLogType::ltTrigger, TLogSubtype::lsAvail, static_cast<uint32_t>(unread));
      }
      Deliver({TTriggerMsg::tmAvail, static_cast<uint16_t>(unread), 0}, true);
      continue;  // a handler may have left bytes that complete a data trigger
    }
    break;
  }
}

void TFxPosixDispatcher::CallGuarded(const std::shared_ptr<THandler>& h, uint16_t msg, uint16_t wParam,
                                     uint32_t lParam) {
  try {
    if (h->kind == THandlerKind::hkProcedure)
      h->proc(msg, wParam, lParam);
    else
      h->method(msg, wParam, lParam);
  } catch (...) {
    // A handler on this thread must not take the port down with it.
    std::lock_guard l(triggerMutex_);
    LogLocked(TLogType::ltError, TLogSubtype::lsNone, msg);
  }
}

bool TFxPosixDispatcher::CallWindowHandler(const std::shared_ptr<THandler>& h, uint16_t msg, uint16_t wParam,
                                           uint32_t lParam) {
  enum class TState { Waiting, Running, Done, Dropped };
  struct TCall {
    std::mutex m;
    std::condition_variable cv;
    TState state = TState::Waiting;
  };
  auto call = std::make_shared<TCall>();
  h->executor->Post([call, h, msg, wParam, lParam] {
    {
      std::lock_guard l(call->m);
      if (call->state == TState::Dropped) return;
      call->state = TState::Running;
    }
    if (!h->deleted) {
      try {
        h->method(msg, wParam, lParam);
      } catch (...) {
        h->executor->HandleException(std::current_exception());
      }
    }
    {
      std::lock_guard l(call->m);
      call->state = TState::Done;
    }
    call->cv.notify_all();
  });
  // Like a sent message with a time-out, but a stopping port does not wait.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWindowHandlerTimeoutMs);
  std::unique_lock l(call->m);
  while (call->state != TState::Done) {
    if (stop_ || std::chrono::steady_clock::now() >= deadline) {
      if (call->state == TState::Waiting) call->state = TState::Dropped;
      return false;
    }
    call->cv.wait_for(l, std::chrono::milliseconds(20));
  }
  return true;
}

size_t TFxPosixDispatcher::Deliver(const TNotification& n, bool consumes) {
  std::vector<std::shared_ptr<THandler>> methods, procs, windows;
  bool windowDelivery;
  {
    std::lock_guard l(triggerMutex_);
    methods = triggers_->methods;
    procs = triggers_->procs;
    windows = triggers_->windows;
    windowDelivery = windows.size() > 1 || triggers_->forceWindowDelivery;
    dispatching_ = true;
  }
  const auto msg = static_cast<uint16_t>(n.msg);
  const uint32_t lParam = n.data | (static_cast<uint32_t>(registryPosition_) << 16);
  size_t consumed = 0;

  auto beginHandler = [&] {
    if (!consumes) return;
    std::lock_guard l(inputMutex_);
    inDeliveryRead_ = true;
    deliveryRead_ = read_;
  };
  auto endHandler = [&] {
    if (!consumes) return;
    std::lock_guard l(inputMutex_);
    consumed = std::max<size_t>(consumed, deliveryRead_ - read_);
  };
  for (auto* list : {&methods, &procs}) {
    for (const auto& h : *list) {
      if (stop_) break;
      if (h->deleted) continue;
      beginHandler();
      CallGuarded(h, msg, n.wParam, lParam);
      endHandler();
    }
  }
  if (windowDelivery) {
    for (const auto& h : windows) {
      if (stop_) break;
      if (h->deleted) continue;
      beginHandler();
      CallWindowHandler(h, msg, n.wParam, lParam);
      endHandler();
    }
  }
  if (consumes) {
    {
      std::lock_guard l(inputMutex_);
      inDeliveryRead_ = false;
      read_ += consumed;
    }
    roomCv_.notify_all();
  }
  dispatching_ = false;
  return consumed;
}

// --- triggers ----------------------------------------------------------------------

void TFxPosixDispatcher::LogLocked(TLogType type, TLogSubtype sub, uint32_t data, std::span<const uint8_t> extra) {
  if (logState_ == TTraceLogState::tlOn) log_.Add(type, sub, data, extra);
}

bool TFxPosixDispatcher::HandleInUse(int handle) const {
  for (const auto& t : triggers_->timers)
    if (t.handle == handle) return true;
  for (const auto& t : triggers_->statuses)
    if ((t.handle & ~7) == handle) return true;
  for (const auto& t : triggers_->data)
    if (t.handle == handle) return true;
  return false;
}

int TFxPosixDispatcher::NewHandle() {
  auto& set = *triggers_;
  if (set.issued < kMaxFreshHandles) return static_cast<int>(++set.issued * 8);
  for (int h = 8; h <= static_cast<int>(kMaxFreshHandles * 8); h += 8)
    if (!HandleInUse(h)) return h;
  return fxcode::ecNoMoreTriggers;
}

int TFxPosixDispatcher::NewTimerTrigger() {
  std::lock_guard l(triggerMutex_);
  const int h = NewHandle();
  if (h < 0) return h;
  TTimerTrigger t;
  t.handle = static_cast<uint16_t>(h);
  triggers_->timers.push_back(t);
  LogLocked(TLogType::ltTrigAlloc, TLogSubtype::lsTrigTimer, static_cast<uint32_t>(h));
  return h;
}

int TFxPosixDispatcher::NewStatusTrigger(unsigned kind) {
  if (kind < 1 || kind > 5) return fxcode::ecBadArgument;
  std::lock_guard l(triggerMutex_);
  int h = NewHandle();
  if (h < 0) return h;
  h |= static_cast<int>(kind);
  TStatusTrigger t;
  t.handle = static_cast<uint16_t>(h);
  t.kind = static_cast<TStatusKind>(kind);
  triggers_->statuses.push_back(t);
  const uint8_t k = static_cast<uint8_t>(kind);
  LogLocked(TLogType::ltTrigAlloc, TLogSubtype::lsTrigStatus, static_cast<uint32_t>(h), {&k, 1});
  return h;
}

int TFxPosixDispatcher::AddDataTrigger(std::string_view text, bool ignoreCase) {
  if (text.empty() || text.size() > kMaxDataTriggerLength) return fxcode::ecBadArgument;
  std::lock_guard l(triggerMutex_);
  const int h = NewHandle();
  if (h < 0) return h;
  TDataTrigger t;
  t.handle = static_cast<uint16_t>(h);
  t.text = std::string(text);
  t.ignoreCase = ignoreCase;
  if (ignoreCase)
    for (char& c : t.text) c = static_cast<char>(Upper(static_cast<uint8_t>(c)));
  t.fail = Borders(t.text);
  triggers_->data.push_back(std::move(t));
  LogLocked(TLogType::ltTrigAlloc, TLogSubtype::lsData, static_cast<uint32_t>(h));
  return h;
}

int TFxPosixDispatcher::ArmTimerTrigger(int handle, int32_t ticks, bool activate) {
  {
    std::lock_guard l(triggerMutex_);
    auto& timers = triggers_->timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const auto& t) { return t.handle == handle; });
    if (it == timers.end()) return fxcode::ecBadTriggerHandle;
    if (activate) {
      if (ticks > 0) it->interval = std::min<TTicks>(static_cast<TTicks>(ticks), kMaxTimerTicks);
      it->start = TicksNow();
      it->expiry = it->start + it->interval;
    }
    it->armed = activate;
    it->precise = false;
    const auto v = Bytes32(static_cast<uint32_t>(ticks));
    LogLocked(TLogType::ltTrigDataChange, TLogSubtype::lsTrigTimer, static_cast<uint32_t>(handle), v);
  }
  WakeDispatch();
  return fxcode::ecOK;
}

int TFxPosixDispatcher::ArmTimerTriggerMs(int handle, std::chrono::milliseconds delay) {
  {
    std::lock_guard l(triggerMutex_);
    auto& timers = triggers_->timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const auto& t) { return t.handle == handle; });
    if (it == timers.end()) return fxcode::ecBadTriggerHandle;
    it->precise = true;
    it->deadline = std::chrono::steady_clock::now() + std::max(delay, std::chrono::milliseconds(0));
    it->armed = true;
    const auto v = Bytes32(static_cast<uint32_t>(delay.count()));
    LogLocked(TLogType::ltTrigDataChange, TLogSubtype::lsTrigTimer, static_cast<uint32_t>(handle), v);
  }
  WakeDispatch();
  return fxcode::ecOK;
}

std::chrono::steady_clock::time_point TFxPosixDispatcher::NextPassDue() const {
  auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDispatchPassMs);
  std::lock_guard l(triggerMutex_);
  if (hold_) return due;
  for (const auto& t : triggers_->timers)
    if (t.armed && t.precise) due = std::min(due, t.deadline);
  return due;
}

int TFxPosixDispatcher::ArmStatusTrigger(int handle, uint32_t value, bool activate) {
  {
    std::lock_guard l(triggerMutex_);
    auto& statuses = triggers_->statuses;
    auto it = std::find_if(statuses.begin(), statuses.end(), [&](const auto& t) { return t.handle == handle; });
    if (it == statuses.end()) return fxcode::ecBadTriggerHandle;
    switch (it->kind) {
      case TStatusKind::skModemStatus:
        it->value = value;
        it->msrWatched = static_cast<uint8_t>(msr_ & value & 0xF0);
        break;
      case TStatusKind::skLineStatus:
        // Argument bits 1, 2, 4, 8 are overrun, parity, framing, break.
        it->value = (value << 1) & 0x1E;
        break;
      case TStatusKind::skOutBuffFree:
      case TStatusKind::skOutBuffUsed: it->value = value; break;
      case TStatusKind::skOutSent: break;
    }
    it->armed = activate;
    const auto v = Bytes32(value);
    LogLocked(TLogType::ltTrigDataChange, TLogSubtype::lsTrigStatus, static_cast<uint32_t>(handle), v);
  }
  WakeDispatch();
  return fxcode::ecOK;
}

int TFxPosixDispatcher::SetAvailThreshold(uint32_t count) {
  {
    std::lock_guard l(triggerMutex_);
    triggers_->availThreshold = count;
    const auto v = Bytes32(count);
    LogLocked(TLogType::ltTrigDataChange, TLogSubtype::lsTrigAvail, kAvailHandle, v);
  }
  WakeDispatch();
  return fxcode::ecOK;
}

int TFxPosixDispatcher::DropTrigger(int handle) {
  std::lock_guard l(triggerMutex_);
  auto& set = *triggers_;
  if (handle == kAvailHandle) {
    set.availThreshold = 0;
    LogLocked(TLogType::ltTrigDispose, TLogSubtype::lsTrigAvail, kAvailHandle);
    return fxcode::ecOK;
  }
  if (auto it = std::find_if(set.timers.begin(), set.timers.end(), [&](const auto& t) { return t.handle == handle; });
      it != set.timers.end()) {
    set.timers.erase(it);
    LogLocked(TLogType::ltTrigDispose, TLogSubtype::lsTrigTimer, static_cast<uint32_t>(handle));
    return fxcode::ecOK;
  }
  if (auto it = std::find_if(set.statuses.begin(), set.statuses.end(),
                             [&](const auto& t) { return t.handle == handle; });
      it != set.statuses.end()) {
    const uint8_t k = static_cast<uint8_t>(it->kind);
    set.statuses.erase(it);
    LogLocked(TLogType::ltTrigDispose, TLogSubtype::lsTrigStatus, static_cast<uint32_t>(handle), {&k, 1});
    return fxcode::ecOK;
  }
  if (auto it = std::find_if(set.data.begin(), set.data.end(), [&](const auto& t) { return t.handle == handle; });
      it != set.data.end()) {
    set.data.erase(it);
    LogLocked(TLogType::ltTrigDispose, TLogSubtype::lsData, static_cast<uint32_t>(handle));
    return fxcode::ecOK;
  }
  return fxcode::ecBadTriggerHandle;
}

std::shared_ptr<TFxPosixDispatcher::TTriggerSet> TFxPosixDispatcher::TakeTriggers() {
  std::lock_guard l(triggerMutex_);
  auto set = std::move(triggers_);
  triggers_ = std::make_shared<TTriggerSet>();
  ResetMatches(*set);
  return set;
}

void TFxPosixDispatcher::RestoreTriggers(std::shared_ptr<TTriggerSet> set) {
  if (!set) return;
  std::lock_guard l(triggerMutex_);
  triggers_ = std::move(set);
}

// --- handlers ----------------------------------------------------------------------

void TFxPosixDispatcher::AddProcHandler(TTriggerProc proc) {
  std::lock_guard l(triggerMutex_);
  auto h = std::make_shared<THandler>();
  h->kind = THandlerKind::hkProcedure;
  h->proc = proc;
  h->id = triggers_->nextHandlerId++;
  triggers_->procs.push_back(std::move(h));
  LogLocked(TLogType::ltTrigHandlerAlloc, TLogSubtype::lsProcedure, 0);
}

void TFxPosixDispatcher::RemoveProcHandler(TTriggerProc proc) {
  std::lock_guard l(triggerMutex_);
  auto& list = triggers_->procs;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& h) { return h->proc == proc; });
  if (it == list.end()) return;
  (*it)->deleted = true;  // a delivery in progress skips it from now on
  list.erase(it);
  LogLocked(TLogType::ltTrigHandlerDispose, TLogSubtype::lsProcedure, 0);
}

THandlerId TFxPosixDispatcher::AddMethodHandler(TTriggerMethod method) {
  std::lock_guard l(triggerMutex_);
  auto h = std::make_shared<THandler>();
  h->kind = THandlerKind::hkMethod;
  h->method = std::move(method);
  h->id = triggers_->nextHandlerId++;
  triggers_->methods.push_back(h);
  LogLocked(TLogType::ltTrigHandlerAlloc, TLogSubtype::lsMethod, h->id);
  return h->id;
}

void TFxPosixDispatcher::RemoveMethodHandler(THandlerId id) {
  std::lock_guard l(triggerMutex_);
  auto& list = triggers_->methods;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& h) { return h->id == id; });
  if (it == list.end()) return;
  (*it)->deleted = true;
  list.erase(it);
  LogLocked(TLogType::ltTrigHandlerDispose, TLogSubtype::lsMethod, id);
}

THandlerId TFxPosixDispatcher::AddWindowHandler(THostExecutor& executor, TTriggerMethod handler) {
  std::lock_guard l(triggerMutex_);
  auto h = std::make_shared<THandler>();
  h->kind = THandlerKind::hkWindow;
  h->method = std::move(handler);
  h->executor = &executor;
  h->id = triggers_->nextHandlerId++;
  triggers_->windows.push_back(h);
  LogLocked(TLogType::ltTrigHandlerAlloc, TLogSubtype::lsWindow, h->id);
  return h->id;
}

void TFxPosixDispatcher::RemoveWindowHandler(THandlerId id) {
  std::lock_guard l(triggerMutex_);
  auto& list = triggers_->windows;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& h) { return h->id == id; });
  if (it == list.end()) return;
  (*it)->deleted = true;
  list.erase(it);
  LogLocked(TLogType::ltTrigHandlerDispose, TLogSubtype::lsWindow, id);
}

void TFxPosixDispatcher::SetForceWindowDelivery(bool on) {
  std::lock_guard l(triggerMutex_);
  triggers_->forceWindowDelivery = on;
}

int TFxPosixDispatcher::SetDataPointer(void* data, int slot) {
  if (slot < 1 || slot > 3) return fxcode::ecBadArgument;
  std::lock_guard l(triggerMutex_);
  dataPointers_[slot - 1] = data;
  return fxcode::ecOK;
}

int TFxPosixDispatcher::GetDataPointer(void*& data, int slot) const {
  if (slot < 1 || slot > 3) return fxcode::ecBadArgument;
  std::lock_guard l(triggerMutex_);
  data = dataPointers_[slot - 1];
  return fxcode::ecOK;
}

bool TFxPosixDispatcher::HoldDispatch(bool hold) {
  const bool previous = hold_.exchange(hold);
  if (previous && !hold) WakeDispatch();
  return previous;
}

// --- input -------------------------------------------------------------------------

size_t TFxPosixDispatcher::InputCount() const {
  std::lock_guard l(inputMutex_);
  return static_cast<size_t>(written_ - (inDeliveryRead_ ? deliveryRead_ : read_));
}

bool TFxPosixDispatcher::ReadChar(uint8_t& c) { return ReadBlock(&c, 1) == 1; }

size_t TFxPosixDispatcher::ReadBlock(uint8_t* dest, size_t max) {
  size_t n;
  {
    std::lock_guard l(inputMutex_);
    uint64_t& pos = inDeliveryRead_ ? deliveryRead_ : read_;
    n = static_cast<size_t>(std::min<uint64_t>(written_ - pos, max));
    for (size_t done = 0; done < n;) {
      const size_t index = pos % kDispatchRingSize;
      const size_t part = std::min(n - done, kDispatchRingSize - index);
      std::memcpy(dest + done, &ring_[index], part);
      done += part;
      pos += part;
    }
  }
  if (n > 0) roomCv_.notify_all();
  return n;
}

bool TFxPosixDispatcher::WaitForInput(std::chrono::milliseconds timeout) {
  std::unique_lock l(inputMutex_);
  return inputCv_.wait_for(l, timeout, [&] {
    return stop_ || written_ > (inDeliveryRead_ ? deliveryRead_ : read_);
  }) && !stop_;
}

void TFxPosixDispatcher::PurgeInput() {
  device_.PurgeInput();
  {
    std::lock_guard l(inputMutex_);
    ++purges_;
    if (inDeliveryRead_)
      deliveryRead_ = written_;
    else
      read_ = written_;
  }
  roomCv_.notify_all();
}

// --- output ------------------------------------------------------------------------

int TFxPosixDispatcher::WriteBlock(const void* data, size_t size) {
  if (size == 0) return fxcode::ecOK;
  {
    std::lock_guard l(outputMutex_);
    const size_t capacity = outRing_.size();
    if (size > capacity - (outHead_ - outTail_)) return fxcode::ecOutputBufferTooSmall;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t done = 0; done < size;) {
      const size_t index = (outHead_ + done) % capacity;
      const size_t part = std::min(size - done, capacity - index);
      std::memcpy(&outRing_[index], bytes + done, part);
      done += part;
    }
    outHead_ += size;
  }
  outputCv_.notify_all();
  return fxcode::ecOK;
}

size_t TFxPosixDispatcher::OutputUsed() const {
  std::lock_guard l(outputMutex_);
  return static_cast<size_t>(outHead_ - outTail_);
}

size_t TFxPosixDispatcher::OutputFree() const { return outRing_.size() - OutputUsed(); }

void TFxPosixDispatcher::PurgeOutput() {
  {
    std::unique_lock l(outputMutex_);
    // Whatever the output thread has in hand must reach the driver before the
    // driver's queue is flushed, or it would slip out after the purge; and
    // the bytes it writes must not be reused by writers meanwhile.
    purging_ = true;
    outputCv_.wait_for(l, std::chrono::seconds(1), [&] { return !writing_; });
    outTail_ = outHead_;
    ++outGeneration_;
    purging_ = false;
  }
  outputCv_.notify_all();
  device_.PurgeOutput();
  WakeDispatch();
}

// --- line --------------------------------------------------------------------------

int TFxPosixDispatcher::ChangeLineSettings(const TLineSettings& settings) {
  for (int i = 0; i < 5000 && OutputUsed() > 0 && !stop_; ++i) DelayMs(2);
  DelayMs(LineSettleMs(settings_));
  const int code = device_.Apply(settings);
  if (code == fxcode::ecOK) settings_ = settings;
  return code;
}

// --- log and trace -----------------------------------------------------------------

namespace {
TTraceLogState ApplyState(TTraceLogState current, TTraceLogState wanted, auto&& clear, auto&& dump) {
  switch (wanted) {
    case TTraceLogState::tlOn:
      if (current == TTraceLogState::tlOff) clear(true);
      return TTraceLogState::tlOn;
    case TTraceLogState::tlOff: clear(false); return TTraceLogState::tlOff;
    case TTraceLogState::tlDump:
    case TTraceLogState::tlAppend:
      dump(wanted == TTraceLogState::tlAppend);
      clear(false);
      return TTraceLogState::tlOff;
    case TTraceLogState::tlClear:
      clear(current == TTraceLogState::tlOff);
      return current == TTraceLogState::tlOff ? TTraceLogState::tlOff : TTraceLogState::tlOn;
    case TTraceLogState::tlPause:
      return current == TTraceLogState::tlOff ? TTraceLogState::tlOff : TTraceLogState::tlPause;
  }
  return current;
}
}  // namespace

TTraceLogState TFxPosixDispatcher::SetLogging(TTraceLogState state, const std::filesystem::path& file, bool hex) {
  std::lock_guard l(triggerMutex_);
  logState_ = ApplyState(
      logState_, state,
      [&](bool restart) {
        log_.Clear();
        if (restart) log_.RestartClock();
      },
      [&](bool append) { log_.Dump(file, append, hex); });
  return logState_;
}

TTraceLogState TFxPosixDispatcher::SetTracing(TTraceLogState state, const std::filesystem::path& file, bool hex) {
  std::lock_guard l(triggerMutex_);
  traceState_ = ApplyState(
      traceState_, state, [&](bool) { trace_.Clear(); }, [&](bool append) { trace_.Dump(file, append, hex); });
  return traceState_;
}

void TFxPosixDispatcher::SetLogSize(size_t bytes) {
  std::lock_guard l(triggerMutex_);
  log_.SetSize(bytes);
}

int TFxPosixDispatcher::SetTraceSize(size_t entries) {
  std::lock_guard l(triggerMutex_);
  return trace_.SetSize(entries);
}

void TFxPosixDispatcher::AddLogEntry(TLogType type, TLogSubtype subtype, uint32_t data, std::span<const uint8_t> extra) {
  std::lock_guard l(triggerMutex_);
  LogLocked(type, subtype, data, extra);
}

void TFxPosixDispatcher::AddLogEntry(uint8_t type, uint8_t subtype, uint32_t data, std::span<const uint8_t> extra) {
  std::lock_guard l(triggerMutex_);
  if (logState_ == TTraceLogState::tlOn) log_.Add(type, subtype, data, extra);
}

bool TFxPosixDispatcher::Logging() const {
  std::lock_guard l(triggerMutex_);
  return logState_ == TTraceLogState::tlOn;
}

void TFxPosixDispatcher::SetLogClock(TDispatchLog::TClock clock) {
  std::lock_guard l(triggerMutex_);
  log_.SetClock(std::move(clock));
}
