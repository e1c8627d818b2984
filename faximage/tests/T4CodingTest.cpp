#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "faximage/T4Coder.h"
#include "faximage/T4Decoder.h"
#include "ReferenceT4.h"
#include "TestUtil.h"

namespace {

std::vector<std::vector<uint8_t>> DecodeAll(const std::vector<uint8_t>& data, size_t piece = 0) {
  std::vector<std::vector<uint8_t>> lines;
  FxT4Decoder d([&](const uint8_t* l, unsigned n) {
    lines.emplace_back(l, l + n);
    return true;
  });
  if (piece == 0) {
    d.Feed(data.data(), data.size());
  } else {
    for (size_t i = 0; i < data.size(); i += piece) d.Feed(data.data() + i, std::min(piece, data.size() - i));
  }
  return lines;
}

TEST(T4Coding, BlankRecordIsTheFullWidthWhiteRun) {
  std::vector<uint8_t> raw(216, 0), out(FxT4::kMaxRecordBytes);
  const size_t n = FxT4::CodeLine(raw.data(), 1728, 50, out.data());
  ASSERT_EQ(n, 6u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 6, FxT4::kBlankRecord.begin()));
}

TEST(T4Coding, PageEndRecordHoldsEightEndOfLines) {
  std::vector<uint8_t> out(64);
  const size_t n = FxT4::PageEndRecord(out.data());
  ASSERT_EQ(n, 14u);  // 100 bits: byte index 12 + 2
  const uint8_t expected[14] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x00};
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 14, expected));
}

TEST(T4Coding, RandomLinesRoundTrip) {
  std::mt19937 rng(7);
  for (unsigned width : {1728u, 2048u}) {
    for (unsigned margin : {0u, 50u}) {
      std::vector<uint8_t> page;
      std::vector<std::vector<uint8_t>> expected;
      for (int line = 0; line < 200; ++line) {
        std::vector<uint8_t> raw(width / 8, 0);
        const int kind = line % 4;
        for (unsigned x = 0; x < width; ++x) {
          bool black = false;
          if (kind == 0) black = (rng() % 2) != 0;
          if (kind == 1) black = ((x / (1 + rng() % 300)) % 2) != 0;
          if (kind == 2) black = ((x + static_cast<unsigned>(line / 4)) % 2) != 0;
          if (kind == 3) black = x < 10 || (x > 400 && x < 1500);
          if (black) raw[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
        rec.resize(FxT4::CodeLine(raw.data(), width, margin, rec.data()));
        page.insert(page.end(), rec.begin(), rec.end());
        // Expected: margin white pixels, then the first width - margin pixels.
        std::vector<uint8_t> shifted(width / 8, 0);
        for (unsigned x = 0; x + margin < width; ++x) {
          if (raw[x / 8] & (0x80 >> (x % 8))) shifted[(x + margin) / 8] |= static_cast<uint8_t>(0x80 >> ((x + margin) % 8));
        }
        expected.push_back(shifted);
      }
      std::vector<uint8_t> end(32);
      end.resize(FxT4::PageEndRecord(end.data()));
      page.insert(page.end(), end.begin(), end.end());
      for (size_t piece : {size_t{0}, size_t{1}, size_t{3}, size_t{4096}}) {
        const auto lines = DecodeAll(page, piece);
        ASSERT_EQ(lines.size(), expected.size()) << width << " " << margin << " " << piece;
        for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], expected[i]) << "line " << i;
      }
    }
  }
}

// The table-driven decoder, fed in pieces of every size, agrees with a plain
// bit-by-bit decoder on streams of valid lines, wrong-length lines, huge
// make-up runs, junk and fill.
TEST(T4Coding, DecoderAgreesWithAPlainReferenceDecoder) {
  std::mt19937 rng(11);
  auto rnd = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  size_t accepted = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> data;
    const int pieces = 1 + static_cast<int>(rnd(12));
    for (int k = 0; k < pieces; ++k) {
      switch (rnd(5)) {
        case 0: {  // junk
          const unsigned n = rnd(20);
          for (unsigned i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>(rng()));
          break;
        }
        case 1:  // fill
          data.insert(data.end(), rnd(40), 0);
          break;
        default: {  // a line of runs adding up to about 1728 or 2048
          const unsigned width = rnd(2) ? 1728 : 2048;
          std::vector<unsigned> runs;
          unsigned total = 0;
          while (total < width) {
            unsigned run = rnd(4) == 0 ? rnd(2561) : rnd(64);
            if (total + run > width && rnd(3) != 0) run = width - total;
            runs.push_back(run);
            total += run;
          }
          if (rnd(4) == 0 && !runs.empty()) runs.back() += rnd(20);  // a wrong length now and then
          const auto rec = FxCodeRuns(runs);
          data.insert(data.end(), rec.begin(), rec.end());
        }
      }
    }
    if (rnd(2)) {
      std::vector<uint8_t> end(32);
      end.resize(FxT4::PageEndRecord(end.data()));
      data.insert(data.end(), end.begin(), end.end());
    }
    const FxReferenceT4Result ref = FxReferenceT4Decode(data.data(), data.size(), true);
    accepted += ref.lines.size();
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
      std::vector<std::vector<uint8_t>> lines;
      FxT4Decoder d([&](const uint8_t* l, unsigned n) {
        lines.emplace_back(l, l + n);
        return true;
      });
      for (size_t at = 0; at < data.size(); at += piece) d.Feed(data.data() + at, std::min(piece, data.size() - at));
      EXPECT_EQ(d.PageEnded(), ref.pageEnded) << round;
      d.Finish();
      ASSERT_EQ(lines, ref.lines) << "round " << round << " piece " << piece;
    }
  }
  EXPECT_GT(accepted, 500u);  // the streams do hold many good lines
}

}  // namespace
