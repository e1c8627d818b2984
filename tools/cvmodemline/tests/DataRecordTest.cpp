// The transmit record: airtime, bytes and underruns of a data burst from
// the transmitter's buffer levels around each block.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tools/cvmodemline/DataRecord.h"

namespace {

constexpr int kBlockSamples = 160;  // 20 ms
constexpr int kRate = 9600;         // 24 bytes a block

// Feeds blocks: each entry is the bytes the program adds before the block.
// The transmitter takes up to 24 bytes a block.
struct TFeeder {
  TDataRecorder rec;
  int64_t at = 0;
  int level = 0;
  void Block(int added, bool active = true, bool ended = false) {
    level += added;
    const int before = level;
    level = std::max(0, level - 24);
    rec.Block(at, kBlockSamples, kRate, before, level, active, ended);
    at += kBlockSamples;
  }
};

TEST(DataRecord, SteadyDataTakesExactlyTheLineRate) {
  TFeeder f;
  f.rec.Reset(0);
  f.Block(0, false);           // training: no data taken
  f.Block(0, false);
  f.Block(100);                // data starts: the whole block is data
  for (int i = 0; i < 20; ++i) f.Block(24);
  f.Block(0, true, true);      // end of data: 76 bytes left, 24 go out
  f.Block(0, true, true);
  f.Block(0, true, true);
  f.Block(0, true, true);      // the last 4 bytes
  f.Block(0, true, true);      // silence after the burst
  ASSERT_EQ(f.rec.Bursts().size(), 1u);
  const TDataBurst& b = f.rec.Bursts()[0];
  EXPECT_TRUE(b.complete);
  EXPECT_EQ(b.bytes, 100u + 20 * 24);
  EXPECT_EQ(b.startUs, 40000);
  EXPECT_LE(std::abs(b.AirtimeUs() - b.MinimumUs()), 250);  // to the sample
  EXPECT_EQ(b.underruns, 0);
  EXPECT_EQ(b.fillBytes, 0u);
}

TEST(DataRecord, RunningDryCountsOnceAndStretchesTheAirtime) {
  TFeeder f;
  f.rec.Reset(0);
  f.Block(48);
  f.Block(0);    // 24 left: the buffer empties exactly
  f.Block(0);    // dry: a whole block of fill
  f.Block(10);   // 10 bytes then fill again: the same stretch of starvation
  f.Block(48);   // data again
  f.Block(0);
  f.Block(0);    // dry a second time
  f.Block(24, true, true);
  const TDataBurst& b = f.rec.Bursts().at(0);
  EXPECT_EQ(b.bytes, 48u + 10 + 48 + 24);
  EXPECT_EQ(b.underruns, 2);
  EXPECT_EQ(b.fillBytes, 24u + 14 + 24);
  // Fill bytes are airtime beyond the minimum.
  EXPECT_LE(std::abs(b.AirtimeUs() - b.MinimumUs() - static_cast<int64_t>(b.fillBytes) * 8 * 1000000 / kRate), 250);
}

TEST(DataRecord, BurstsOfACallAndAHangUp) {
  TFeeder f;
  f.rec.Reset(8000);  // the dial, one second into the line's clock
  f.Block(30, true, true);  // a short burst, ended within two blocks
  f.Block(0, true, true);
  f.Block(0, false);        // frames between bursts: the fast modem is off
  f.Block(500);             // the page, cut off by a hang-up
  f.rec.CallEnded(f.at);
  ASSERT_EQ(f.rec.Bursts().size(), 2u);
  EXPECT_TRUE(f.rec.Bursts()[0].complete);
  EXPECT_EQ(f.rec.Bursts()[0].bytes, 30u);
  EXPECT_EQ(f.rec.Bursts()[0].startUs, -1000000);  // relative to the dial
  EXPECT_FALSE(f.rec.Bursts()[1].complete);
  EXPECT_NE(f.rec.Text().find("bursts=2"), std::string::npos);
  EXPECT_NE(f.rec.Text().find("incomplete"), std::string::npos);
  f.Block(100);             // a burst the modem gives up: closed, incomplete
  f.Block(0, false);
  f.Block(0, false);
  ASSERT_EQ(f.rec.Bursts().size(), 3u);
  EXPECT_FALSE(f.rec.Bursts()[2].complete);
  EXPECT_EQ(f.rec.Bursts()[2].underruns, 0);
  f.rec.Reset(f.at);
  EXPECT_TRUE(f.rec.Bursts().empty());
}

}  // namespace
