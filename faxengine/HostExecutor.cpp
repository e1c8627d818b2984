#include "faxengine/HostExecutor.h"

#include <cstdio>
#include <memory>

void THostExecutor::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Unhandled exception in event handler: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unhandled exception in event handler\n");
  }
}

TPlainExecutor::TPlainExecutor() : hostThread_(std::this_thread::get_id()) {}

TPlainExecutor::~TPlainExecutor() = default;

void TPlainExecutor::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  cv_.notify_all();
}

bool THostExecutor::Send(std::function<void()> task, std::chrono::milliseconds timeout) {
  if (IsHostThread()) {
    task();
    return true;
  }
  enum class State { Waiting, Running, Done, Dropped };
  struct Shared {
    std::mutex m;
    std::condition_variable cv;
    State state = State::Waiting;
  };
  auto shared = std::make_shared<Shared>();
  Post([shared, task = std::move(task)] {
    {
      std::lock_guard lock(shared->m);
      if (shared->state == State::Dropped) return;
      shared->state = State::Running;
    }
    struct Finish {
      Shared& s;
      ~Finish() {
        {
          std::lock_guard lock(s.m);
          s.state = State::Done;
        }
        s.cv.notify_all();
      }
    } finish{*shared};
    task();
  });
  std::unique_lock lock(shared->m);
  if (shared->cv.wait_for(lock, timeout, [&] { return shared->state == State::Done; })) return true;
  if (shared->state == State::Waiting) shared->state = State::Dropped;
  return false;
}

bool TPlainExecutor::IsHostThread() const { return std::this_thread::get_id() == hostThread_; }

bool TPlainExecutor::RunOne(std::chrono::steady_clock::time_point deadline, bool stopOnQuit) {
  std::function<void()> task;
  {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_until(lock, deadline, [&] { return !queue_.empty() || (stopOnQuit && quit_); })) return false;
    if (queue_.empty()) return false;
    task = std::move(queue_.front());
    queue_.pop_front();
  }
  try {
    task();
  } catch (...) {
    HandleException(std::current_exception());
  }
  return true;
}

void TPlainExecutor::ProcessEvents() {
  if (!IsHostThread()) return;
  // Only the tasks queued so far: a task that posts again must not keep us here.
  size_t n;
  {
    std::lock_guard lock(mutex_);
    n = queue_.size();
  }
  while (n-- > 0 && RunOne(std::chrono::steady_clock::now(), false)) {
  }
}

bool TPlainExecutor::Terminating() const {
  std::lock_guard lock(mutex_);
  return terminating_;
}

void TPlainExecutor::Run() {
  hostThread_ = std::this_thread::get_id();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (quit_) {
        quit_ = false;
        return;
      }
    }
    RunOne(std::chrono::steady_clock::now() + std::chrono::hours(1), true);
  }
}

void TPlainExecutor::RunFor(std::chrono::milliseconds duration) {
  RunUntil([] { return false; }, duration);
}

bool TPlainExecutor::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  hostThread_ = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return pred();
    RunOne(std::min(deadline, now + std::chrono::milliseconds(10)), false);
  }
}

void TPlainExecutor::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
}

void TPlainExecutor::SetTerminating() {
  std::lock_guard lock(mutex_);
  terminating_ = true;
}
