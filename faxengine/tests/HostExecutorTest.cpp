// The plain host executor: tasks run on the host thread, in order; Send waits
// for its task, and drops it when the host does not get to it in time.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "faxengine/HostExecutor.h"

namespace {

TEST(PlainExecutorTest, TasksRunOnTheHostThreadInOrder) {
  TPlainExecutor host;
  std::vector<int> order;
  bool allOnHost = true;
  std::thread other([&] {
    for (int i = 0; i < 5; ++i) host.Post([&, i] {
      allOnHost = allOnHost && host.IsHostThread();
      order.push_back(i);
    });
  });
  other.join();
  EXPECT_TRUE(host.RunUntil([&] { return order.size() == 5; }, std::chrono::seconds(2)));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(allOnHost);
}

TEST(PlainExecutorTest, SendWaitsForTheTaskOrDropsItWhenLate) {
  TPlainExecutor host;
  int value = 0;
  EXPECT_TRUE(host.Send([&] { value = 1; }, std::chrono::milliseconds(10)));  // on the host: direct
  EXPECT_EQ(value, 1);

  std::atomic<bool> sent{false}, result{false};
  std::thread caller([&] {
    result = host.Send([&] { value = 2; }, std::chrono::seconds(5));
    sent = true;
  });
  EXPECT_TRUE(host.RunUntil([&] { return sent.load(); }, std::chrono::seconds(5)));
  caller.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(value, 2);

  // Nobody runs the host for a while: the task is dropped and never runs.
  std::thread late([&] { result = host.Send([&] { value = 3; }, std::chrono::milliseconds(20)); });
  late.join();
  EXPECT_FALSE(result);
  host.RunFor(std::chrono::milliseconds(30));
  EXPECT_EQ(value, 2);
}

TEST(PlainExecutorTest, ACallOutlastingItsCallerLeavesItsResultInTheSharedRecord) {
  TPlainExecutor host;
  std::shared_ptr<THostCall> call;
  std::atomic<bool> gaveUp{false};
  std::thread caller([&] {
    call = host.Call([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      return 7;
    });
    gaveUp = !call->Wait(std::chrono::milliseconds(20));
  });
  // The caller has given up before the host gets to the task; the task runs
  // all the same and its answer lands in the record both sides hold.
  while (!gaveUp) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  caller.join();
  EXPECT_EQ(call->State(), THostCall::TState::hcQueued);
  EXPECT_TRUE(host.RunUntil([&] { return call->Done(); }, std::chrono::seconds(2)));
  EXPECT_EQ(call->Result(), 7);

  // A stop condition ends a wait early; a dropped task never runs.
  std::atomic<bool> ran{false};
  std::thread stopped([&] {
    auto c = host.Call([&] {
      ran = true;
      return 1;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c->Wait(std::chrono::seconds(5), [] { return true; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(c->Drop());
  });
  stopped.join();
  host.RunFor(std::chrono::milliseconds(30));
  EXPECT_FALSE(ran);
}

TEST(PlainExecutorTest, QuitEndsRunAndExceptionsGoToTheHandler) {
  TPlainExecutor host;
  std::thread other([&] {
    host.Post([] { throw std::runtime_error("task failed"); });
    host.Post([&] { host.Quit(); });
  });
  host.Run();  // returns, the failing task notwithstanding
  other.join();
  EXPECT_FALSE(host.Terminating());
  host.SetTerminating();
  EXPECT_TRUE(host.Terminating());
}

}  // namespace
