#pragma once
// One piece of blocking work (a modem command, a file check) at a time on a
// thread of its own, with its continuation run on the thread of a Qt object
// afterwards. The thread is joined before the next piece starts and when
// the worker goes.

#include <QObject>

#include <functional>
#include <thread>

class TGuiWorker {
 public:
  explicit TGuiWorker(QObject* context) : context_(context) {}
  ~TGuiWorker() { Wait(); }
  TGuiWorker(const TGuiWorker&) = delete;
  TGuiWorker& operator=(const TGuiWorker&) = delete;

  // Runs work now on the worker's thread, then `then` on the context's
  // thread (dropped when the context is gone by then).
  void Run(std::function<void()> work, std::function<void()> then) {
    Wait();
    thread_ = std::thread([this, work = std::move(work), then = std::move(then)]() mutable {
      work();
      QMetaObject::invokeMethod(
          context_,
          [this, then = std::move(then)] {
            Wait();
            then();
          },
          Qt::QueuedConnection);
    });
  }
  // Waits for work that is still running.
  void Wait() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }

 private:
  QObject* context_;
  std::thread thread_;
};
