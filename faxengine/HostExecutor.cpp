#include "faxengine/HostExecutor.h"

#include <algorithm>
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

bool THostCall::Wait(std::chrono::milliseconds timeout, const std::function<bool()>& stop) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  while (state_ != TState::hcDone) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    if (stop) {
      lock.unlock();
      const bool stopped = stop();
      lock.lock();
      if (stopped) return state_ == TState::hcDone;
    }
    cv_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(20)));
  }
  return true;
}

bool THostCall::Drop() {
  std::lock_guard lock(mutex_);
  if (state_ == TState::hcQueued) state_ = TState::hcDropped;
  return state_ == TState::hcDropped;
}

THostCall::TState THostCall::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

int THostCall::Result() const {
  std::lock_guard lock(mutex_);
  return state_ == TState::hcDone ? result_ : 0;
}

bool THostCall::BeginRun() {
  std::lock_guard lock(mutex_);
  if (state_ == TState::hcDropped) return false;
  state_ = TState::hcRunning;
  return true;
}

void THostCall::EndRun(int result) {
  {
    std::lock_guard lock(mutex_);
    result_ = result;
    state_ = TState::hcDone;
  }
  cv_.notify_all();
}

std::shared_ptr<THostCall> THostExecutor::Call(std::function<int()> task) {
  auto call = std::make_shared<THostCall>();
  auto run = [this, call, task = std::move(task)] {
    if (!call->BeginRun()) return;
    int result = 0;
    try {
      result = task();
    } catch (...) {
      HandleException(std::current_exception());
    }
    call->EndRun(result);
  };
  if (IsHostThread())
    run();
  else
    Post(std::move(run));
  return call;
}

bool THostExecutor::Send(std::function<void()> task, std::chrono::milliseconds timeout) {
  auto call = Call([task = std::move(task)] {
    task();
    return 0;
  });
  if (call->Wait(timeout)) return true;
  call->Drop();
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
