// The switchboard with scripted endpoints, ticked by hand.
#include <gtest/gtest.h>

#include <vector>

#include "tools/cvmodemline/Line.h"

namespace {

struct TProbe : TLineEndpoint {
  int rings = 0, connected = 0, hungUp = 0;
  std::vector<TCallFailure> failed;
  int16_t level = 0;
  long heard = 0;
  bool answerAtRing = false;
  TLine* line = nullptr;
  void LineRing() override {
    ++rings;
    if (answerAtRing) line->Answer(this);
  }
  void LineConnected() override { ++connected; }
  void LineFailed(TCallFailure why) override { failed.push_back(why); }
  void LineHungUp() override { ++hungUp; }
  void LineTx(int16_t* amp, int n) override {
    for (int i = 0; i < n; ++i) amp[i] = level;
  }
  void LineRx(const int16_t* amp, int n) override {
    for (int i = 0; i < n; ++i) heard += amp[i] != 0;
  }
};

void Ticks(TLine& line, int n) {
  for (int i = 0; i < n; ++i) line.Tick();
}

}  // namespace

TEST(Line, PrefixesReachTheNumberAndRingsFollowTheCadence) {
  TLine line;
  TProbe a, b;
  b.line = &line;
  line.Register("101", &a);
  line.Register("200", &b);
  line.Dial(&a, "9200", 60);
  Ticks(line, kTicksPerSecond * 2);
  EXPECT_EQ(b.rings, 1);
  Ticks(line, kTicksPerSecond * 6);
  EXPECT_EQ(b.rings, 2);
  EXPECT_TRUE(line.Ringing(&b));
  ASSERT_TRUE(line.Answer(&b));
  EXPECT_EQ(a.connected, 1);
  EXPECT_EQ(b.connected, 1);
  a.level = 1000;
  Ticks(line, 10);
  EXPECT_GT(b.heard, 0);  // after the line delay the far side hears us
  line.Hangup(&a);
  EXPECT_EQ(b.hungUp, 1);
  EXPECT_FALSE(line.InCall(&b));
}

TEST(Line, BusyVoiceDeadLineAndNobodyAnswering) {
  TLine line;
  TProbe a, b, c;
  line.Register("101", &a);
  line.Register("102", &b);
  line.Register("200", &c);
  b.line = &line;
  line.Faults("200").busy = true;
  line.Dial(&a, "200", 60);
  Ticks(line, kTicksPerSecond);
  ASSERT_EQ(a.failed.size(), 1u);
  EXPECT_EQ(a.failed[0], TCallFailure::Busy);
  line.Faults("200").busy = false;
  line.Faults("200").voice = true;
  line.Dial(&a, "200", 60);
  Ticks(line, kTicksPerSecond * 5);
  ASSERT_EQ(a.failed.size(), 2u);
  EXPECT_EQ(a.failed[1], TCallFailure::Voice);
  line.Faults("101").noDialtone = true;
  line.Dial(&a, "102", 60);
  Ticks(line, kTicksPerSecond);
  ASSERT_EQ(a.failed.size(), 3u);
  EXPECT_EQ(a.failed[2], TCallFailure::NoDialtone);
  EXPECT_EQ(b.rings, 0);
  line.Faults("101").noDialtone = false;
  line.Faults("102").refuse = true;
  line.Dial(&a, "102", 3);
  Ticks(line, kTicksPerSecond * 5);
  ASSERT_EQ(a.failed.size(), 4u);
  EXPECT_EQ(a.failed[3], TCallFailure::NoAnswer);
  EXPECT_EQ(b.rings, 0);
  line.Dial(&a, "555", 2);  // nobody has this number
  Ticks(line, kTicksPerSecond * 4);
  ASSERT_EQ(a.failed.size(), 5u);
  EXPECT_EQ(a.failed[4], TCallFailure::NoAnswer);
}

TEST(Line, ANumberInACallIsBusyAndADroppedCallTellsBothSides) {
  TLine line;
  TProbe a, b, c;
  b.line = &line;
  b.answerAtRing = true;
  line.Register("101", &a);
  line.Register("102", &b);
  line.Register("103", &c);
  line.Dial(&a, "102", 60);
  Ticks(line, kTicksPerSecond * 2);
  ASSERT_TRUE(line.Connected(&a));
  line.Dial(&c, "102", 60);
  Ticks(line, kTicksPerSecond);
  ASSERT_EQ(c.failed.size(), 1u);
  EXPECT_EQ(c.failed[0], TCallFailure::Busy);
  EXPECT_TRUE(line.DropCall("102", 100));
  Ticks(line, 10);
  EXPECT_EQ(a.hungUp, 1);
  EXPECT_EQ(b.hungUp, 1);
  EXPECT_FALSE(line.InCall(&a));
  EXPECT_FALSE(line.DropCall("102", 0));
}
