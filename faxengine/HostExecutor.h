#pragma once
// How the fax engine reaches its host's user-interface thread. The engine's
// threads never call the host directly: every event (fax status, log, error,
// finish, accept, and the port's "window" trigger handlers) is handed to an
// executor that runs it on the host's own thread. The application supplies a
// Qt implementation; tests and command-line tools use TPlainExecutor.

#include <chrono>
#include <functional>

class THostExecutor {
 public:
  virtual ~THostExecutor() = default;

  // Queues task to run on the host thread and returns at once.
  virtual void Post(std::function<void()> task) = 0;

  // Runs task on the host thread and waits for it up to timeout. Returns true
  // when the task ran to its end in time. A task that has not started when the
  // time runs out is dropped; one that has started is left to finish. Called
  // from the host thread itself, it runs the task directly.
  virtual bool Send(std::function<void()> task, std::chrono::milliseconds timeout) = 0;
};
