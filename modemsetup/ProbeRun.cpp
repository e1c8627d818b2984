#include "modemsetup/ProbeRun.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <exception>
#include <set>
#include <thread>

namespace {

// Every probe still running: the program waits for them before it ends so that
// no worker outlives the objects it uses.
struct TRunning {
  std::mutex mutex;
  std::condition_variable cv;
  std::set<std::shared_ptr<TProbeRun>> runs;
};

TRunning& Running() {
  static TRunning running;
  return running;
}

}  // namespace

std::shared_ptr<TProbeRun> TProbeRun::Start(QObject* receiver, TJob job) {
  // A worker must not outlive the program's objects: at quit every probe is
  // stopped and given the length of one modem reply wait to end.
  static std::once_flag quitHook;
  std::call_once(quitHook, [] {
    if (auto* app = QCoreApplication::instance())
      QObject::connect(app, &QCoreApplication::aboutToQuit, [] {
        StopAll();
        (void)WaitForAll(std::chrono::seconds(3));
      });
  });
  std::shared_ptr<TProbeRun> run(new TProbeRun(receiver));
  {
    std::lock_guard lock(Running().mutex);
    Running().runs.insert(run);
  }
  std::thread([run, job = std::move(job)]() mutable { run->Main(std::move(job)); }).detach();
  return run;
}

void TProbeRun::Main(TJob job) {
  try {
    job(*this);
  } catch (...) {
    // The job turns port errors into results itself; anything else only ends
    // the probe early, as a failure inside the window's own work would.
  }
  finished_ = true;
  auto& running = Running();
  std::lock_guard lock(running.mutex);
  running.runs.erase(shared_from_this());
  running.cv.notify_all();
}

void TProbeRun::Post(std::function<void()> task) {
  // Queuing is safe from any thread while the receiver exists, and Qt drops
  // the queued call if the receiver is destroyed before it runs; the lock keeps
  // the receiver from being destroyed between the check and the queuing.
  std::lock_guard lock(receiverMutex_);
  if (receiver_) QMetaObject::invokeMethod(receiver_, std::move(task), Qt::QueuedConnection);
}

bool TProbeRun::RunOnGui(std::function<void()> task) {
  // The answer slot outlives the worker's wait: the queued call may run (or be
  // dropped) after the worker has given up on it.
  struct TReply {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto reply = std::make_shared<TReply>();
  auto self = shared_from_this();
  Post([reply, self, task = std::move(task)] {
    if (!self->StopRequested()) task();
    std::lock_guard lock(reply->mutex);
    reply->done = true;
    reply->cv.notify_all();
  });
  std::unique_lock lock(reply->mutex);
  while (!reply->done) {
    if (StopRequested()) return false;
    reply->cv.wait_for(lock, std::chrono::milliseconds(20));
  }
  return !StopRequested();
}

void TProbeRun::RequestStop() { stop_ = true; }

void TProbeRun::Detach() {
  stop_ = true;
  std::lock_guard lock(receiverMutex_);
  receiver_ = nullptr;
}

bool TProbeRun::WaitForAll(std::chrono::milliseconds timeout) {
  auto& running = Running();
  std::unique_lock lock(running.mutex);
  return running.cv.wait_for(lock, timeout, [&] { return running.runs.empty(); });
}

void TProbeRun::StopAll() {
  auto& running = Running();
  std::lock_guard lock(running.mutex);
  for (const auto& run : running.runs) run->RequestStop();
}
