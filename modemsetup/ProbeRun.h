#pragma once
// A modem probe running on a worker thread for a window. The window stays
// responsive: the job reports through calls queued to the window's thread,
// which Qt drops once the window is gone. Closing the window only asks the job
// to stop; the job ends by itself within one wait for a modem reply (at most
// 36 ticks) and owns everything it touches, so nothing is freed under it.

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class TProbeRun : public std::enable_shared_from_this<TProbeRun> {
 public:
  using TJob = std::function<void(TProbeRun& run)>;

  // Starts job on a new thread; its reports go to receiver's thread.
  static std::shared_ptr<TProbeRun> Start(QObject* receiver, TJob job);

  // --- for the job ---------------------------------------------------------------
  // Queues task to run on the window's thread; dropped when the window is gone.
  void Post(std::function<void()> task);
  // Runs task on the window's thread and waits for it to end. False, without
  // waiting any longer, when a stop is asked for or the window is gone.
  bool RunOnGui(std::function<void()> task);
  bool StopRequested() const { return stop_.load(); }
  const std::atomic<bool>* StopFlag() const { return &stop_; }

  // --- for the window --------------------------------------------------------------
  void RequestStop();
  // Stops the job and drops its reports from now on; the window calls this
  // before it is destroyed.
  void Detach();
  bool Finished() const { return finished_.load(); }

  // Waits until every probe of the process has ended (program exit, tests);
  // true when they did within timeout.
  static bool WaitForAll(std::chrono::milliseconds timeout);
  // Asks every running probe to stop.
  static void StopAll();

 private:
  explicit TProbeRun(QObject* receiver) : receiver_(receiver) {}
  void Main(TJob job);

  std::mutex receiverMutex_;  // held while a report is queued and while detaching
  QObject* receiver_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
};
