// The plain host executor: tasks run on the host thread, in order; Send waits
// for its task, and drops it when the host does not get to it in time.

#include <gtest/gtest.h>

#include <atomic>
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
