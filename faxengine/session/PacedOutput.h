#pragma once
// What a session writes to the modem with pauses in between: the silence
// a modem needs after its last reply before it takes the next command, the
// gap before a frame, the time a command needs to leave the line before
// anything else happens. A pause holds no thread: the steps wait in a list
// and a millisecond timer runs each when its pause has passed. While steps
// wait, every later write joins the list, so the bytes keep their order.

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

class TFxPacedOutput {
 public:
  // What the steps act on.
  struct TActions {
    std::function<void(const void* data, size_t n)> write;
    std::function<void()> purgeInput;
    std::function<size_t()> outputUsed;
    // Arms the one timer whose expiry calls Run.
    std::function<void(std::chrono::milliseconds)> armTimer;
  };

  explicit TFxPacedOutput(TActions actions) : act_(std::move(actions)) {}

  // True while steps wait.
  bool Busy() const { return !steps_.empty(); }
  // The next step runs ms later than it would.
  void Pause(unsigned ms);
  // The next step waits until the output ring is empty, at most maxMs.
  void PauseUntilSent(unsigned maxMs);
  // Writes at once when nothing waits, else in turn.
  void Write(const void* data, size_t n);
  // Drops unread input at once when nothing waits, else in turn.
  void PurgeInput();
  // The timer fired: runs every step that is due and arms the timer for the
  // next. True when no step waits any more.
  bool Run();
  // Forgets every waiting step (a cancel, the end of the session).
  void Drop() { steps_.clear(); }

 private:
  enum class TKind { skPause, skWrite, skPurgeInput, skUntilSent };
  struct TStep {
    TKind kind;
    unsigned ms = 0;     // skPause: how long; skUntilSent: the longest wait
    std::string bytes;   // skWrite
    bool started = false;
    std::chrono::steady_clock::time_point until{};  // skPause, skUntilSent once started
  };
  void Add(TStep step);
  // Runs the head step if it can; false while it still waits.
  bool RunHead();

  TActions act_;
  std::deque<TStep> steps_;
};
