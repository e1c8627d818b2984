// Writes with pauses between them: order, the length of each pause, the
// wait for an empty output ring, and a drop that forgets what waits.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "faxengine/session/PacedOutput.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Plays the session around the steps: records what they did and when, and
// fires the timer by sleeping for as long as it was armed.
class TPacer {
 public:
  TPacer()
      : out_({[this](const void* d, size_t n) { Log("W:" + std::string(static_cast<const char*>(d), n)); },
              [this] { Log("P"); }, [this] { return used_ > 0 ? used_-- : size_t{0}; },
              [this](std::chrono::milliseconds ms) { armed_ = ms; }}) {}

  TFxPacedOutput& Out() { return out_; }
  // Runs the timer until no step waits.
  void Drain() {
    for (int i = 0; out_.Busy() && i < 1000; ++i) {
      ASSERT_GE(armed_.count(), 0);
      std::this_thread::sleep_for(armed_);
      armed_ = -1ms;
      out_.Run();
    }
  }
  struct TEvent {
    std::string what;
    Clock::duration at;  // since the pacer was made
  };
  std::vector<TEvent> events;
  size_t used_ = 0;  // polls for which the output ring still holds bytes

 private:
  void Log(std::string what) { events.push_back({std::move(what), Clock::now() - start_}); }
  Clock::time_point start_ = Clock::now();
  std::chrono::milliseconds armed_{-1};
  TFxPacedOutput out_;
};

std::vector<std::string> What(const TPacer& p) {
  std::vector<std::string> out;
  for (const auto& e : p.events) out.push_back(e.what);
  return out;
}

}  // namespace

TEST(PacedOutput, WritesKeepTheirOrderAndEachPauseItsLength) {
  TPacer p;
  auto& o = p.Out();
  o.Write("now", 3);  // nothing waits: at once
  EXPECT_FALSE(o.Busy());
  o.Write("\r", 1);
  o.Pause(150);
  o.PurgeInput();
  o.Pause(40);
  o.Write("AT+FRH=3\r", 9);
  o.Write("X", 1);  // behind the command, not before it
  EXPECT_TRUE(o.Busy());
  EXPECT_EQ(What(p), (std::vector<std::string>{"W:now", "W:\r"}));
  p.Drain();
  EXPECT_FALSE(o.Busy());
  ASSERT_EQ(What(p), (std::vector<std::string>{"W:now", "W:\r", "P", "W:AT+FRH=3\r", "W:X"}));
  const auto gap1 = p.events[2].at - p.events[1].at, gap2 = p.events[3].at - p.events[2].at;
  EXPECT_GE(gap1, 150ms);
  EXPECT_LT(gap1, 150ms + 40ms);
  EXPECT_GE(gap2, 40ms);
  EXPECT_LT(gap2, 40ms + 40ms);
  EXPECT_LT(p.events[4].at - p.events[3].at, 5ms);
}

TEST(PacedOutput, AWaitForTheOutputEndsWhenTheRingIsEmptyOrAtItsLimit) {
  {
    TPacer p;
    p.used_ = 3;  // empty at the fourth look
    p.Out().PauseUntilSent(1000);
    p.Out().Write("A", 1);
    p.Drain();
    EXPECT_EQ(What(p), (std::vector<std::string>{"W:A"}));
    EXPECT_LT(p.events[0].at, 200ms);
  }
  {
    TPacer p;
    p.used_ = 1000000;  // never empty
    p.Out().PauseUntilSent(60);
    p.Out().Write("B", 1);
    p.Drain();
    ASSERT_EQ(What(p), (std::vector<std::string>{"W:B"}));
    EXPECT_GE(p.events[0].at, 60ms);
    EXPECT_LT(p.events[0].at, 160ms);
  }
}

TEST(PacedOutput, ADropForgetsEverythingThatWaits) {
  TPacer p;
  auto& o = p.Out();
  o.Pause(100);
  o.Write("ATH0\r", 5);
  o.Drop();
  EXPECT_FALSE(o.Busy());
  p.Drain();
  EXPECT_TRUE(p.events.empty());
  // Afterwards writes go out at once again.
  o.Write("AT\r", 3);
  EXPECT_EQ(What(p), (std::vector<std::string>{"W:AT\r"}));
}
