#pragma once
// How the fax engine reaches its host's user-interface thread. The engine's
// threads never call the host directly: every event (fax status, log, error,
// finish, accept, and the port's "window" trigger handlers) is handed to an
// executor that runs it on the host's own thread. The application supplies a
// Qt implementation; tests and command-line tools use TPlainExecutor.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// One task handed to the host thread and its outcome. The caller and the
// task share it, so a task that ends after its caller stopped waiting (a slow
// handler, a modal box) writes into live memory; the task itself must own
// what it touches rather than refer to the caller's locals.
class THostCall {
 public:
  enum class TState { hcQueued, hcRunning, hcDone, hcDropped };

  // Waits until the task has run to its end, the timeout has passed or stop
  // (checked every 20 ms) returns true. True when the task is done.
  bool Wait(std::chrono::milliseconds timeout, const std::function<bool()>& stop = {});
  // Withdraws a task that has not started; false when it has (it then runs
  // to its end and its result lands here).
  bool Drop();
  TState State() const;
  bool Done() const { return State() == TState::hcDone; }
  // The task's result; 0 until it is done.
  int Result() const;

 private:
  friend class THostExecutor;
  // The host thread's side: false when the task was dropped before it ran.
  bool BeginRun();
  void EndRun(int result);

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  TState state_ = TState::hcQueued;
  int result_ = 0;
};

class THostExecutor {
 public:
  virtual ~THostExecutor() = default;

  // Queues task to run on the host thread and returns at once.
  virtual void Post(std::function<void()> task) = 0;

  // Queues task to run on the host thread and returns its shared record at
  // once; called from the host thread itself, it runs the task directly. An
  // exception from the task goes to HandleException and leaves result 0.
  std::shared_ptr<THostCall> Call(std::function<int()> task);

  // Runs task on the host thread and waits for it up to timeout. Returns true
  // when the task ran to its end in time. A task that has not started when the
  // time runs out is dropped; one that has started is left to finish, so it
  // must not refer to the caller's locals (use Call for a result). Called
  // from the host thread itself, it runs the task directly. Built on Call, so
  // every executor shares this one rule.
  bool Send(std::function<void()> task, std::chrono::milliseconds timeout);

  // True on the host thread.
  virtual bool IsHostThread() const = 0;

  // Lets pending host events run; called by blocking waits on the host thread
  // that were asked to keep the user interface alive.
  virtual void ProcessEvents() {}

  // True once the host is shutting down; blocking waits then end early.
  virtual bool Terminating() const { return false; }

  // Receives an exception that escaped an event handler run for the engine.
  // The default writes its text to standard error.
  virtual void HandleException(std::exception_ptr error);
};

// A host thread made of a task queue. The host thread is the one that created
// the executor until another calls Run, RunFor or RunUntil; it runs the queued
// tasks inside those calls and in ProcessEvents.
class TPlainExecutor : public THostExecutor {
 public:
  TPlainExecutor();
  ~TPlainExecutor() override;

  void Post(std::function<void()> task) override;
  bool IsHostThread() const override;
  void ProcessEvents() override;
  bool Terminating() const override;

  // Runs tasks until Quit is called (from any thread or a task).
  void Run();
  // Runs tasks for the given time.
  void RunFor(std::chrono::milliseconds duration);
  // Runs tasks until pred (checked on the host thread after every task and
  // at least every 10 ms) is true or the time is up; returns pred's value.
  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
  void Quit();
  // Makes Terminating true from now on.
  void SetTerminating();

 private:
  // Runs at most one task, waiting for one until deadline (or a Quit, when
  // stopOnQuit); false when none ran.
  bool RunOne(std::chrono::steady_clock::time_point deadline, bool stopOnQuit);

  std::atomic<std::thread::id> hostThread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  bool quit_ = false;
  bool terminating_ = false;
};
