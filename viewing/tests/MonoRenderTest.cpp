// Turning and scaling pages for the screen.
#include <gtest/gtest.h>

#include "viewing/MonoRender.h"

namespace {

TFxBitmap Sample(unsigned w, unsigned h) {
  TFxBitmap b = TFxBitmap::MakeMono(w, h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if ((x * 7 + y * 3) % 11 < 3 || x == y) b.SetBlack(x, y, true);
  return b;
}

TEST(MonoRender, TurnsMovePixelsWhereTheyBelong) {
  const TFxBitmap page = Sample(32, 21);
  const TFxBitmap square = Sample(32, 24);
  const TFxBitmap cw = FxRotateMono(page, 1);
  const TFxBitmap half = FxRotateMono(page, 2);
  const TFxBitmap ccw = FxRotateMono(page, 3);
  ASSERT_EQ(cw.width, 21u);
  ASSERT_EQ(cw.height, 32u);
  ASSERT_EQ(half.width, 32u);
  ASSERT_EQ(ccw.height, 32u);
  for (unsigned y = 0; y < page.height; ++y) {
    for (unsigned x = 0; x < page.width; ++x) {
      const bool ink = page.IsBlack(x, y);
      ASSERT_EQ(cw.IsBlack(page.height - 1 - y, x), ink) << x << "," << y;
      ASSERT_EQ(half.IsBlack(page.width - 1 - x, page.height - 1 - y), ink);
      ASSERT_EQ(ccw.IsBlack(y, page.width - 1 - x), ink);
    }
  }
  // Whole bytes each way: four quarter turns give the page back.
  const TFxBitmap round = FxRotateMono(FxRotateMono(FxRotateMono(square, 1), 1), 2);
  ASSERT_EQ(round.height, square.height);
  for (unsigned y = 0; y < square.height; ++y)
    for (unsigned x = 0; x < square.width; ++x) ASSERT_EQ(round.IsBlack(x, y), square.IsBlack(x, y));
}

TEST(MonoRender, QuarterTurnRoundsTheNewHeightUpToWholeBytesOfPaper) {
  TFxBitmap page = TFxBitmap::MakeMono(13, 4);
  page.SetBlack(12, 0, true);
  const TFxBitmap cw = FxRotateMono(page, 1);
  EXPECT_EQ(cw.height, 16u);
  EXPECT_TRUE(cw.IsBlack(3, 12));
  for (unsigned y = 13; y < 16; ++y)
    for (unsigned x = 0; x < 4; ++x) EXPECT_FALSE(cw.IsBlack(x, y));
}

TEST(MonoRender, OneToOneIsTheSameBitsInTheChosenColours) {
  const TFxBitmap page = Sample(48, 10);
  const QImage img = RenderPage(page, {}, qRgb(0, 0, 128), qRgb(255, 255, 200));
  ASSERT_EQ(img.size(), QSize(48, 10));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 48; ++x)
      ASSERT_EQ(img.pixel(x, y), page.IsBlack(unsigned(x), unsigned(y)) ? qRgb(0, 0, 128) : qRgb(255, 255, 200));
}

TEST(MonoRender, HalvingAveragesEachTwoByTwoBlock) {
  TFxBitmap page = TFxBitmap::MakeMono(16, 4);
  page.SetBlack(0, 0, true);                                    // 1 of 4
  page.SetBlack(2, 0, true), page.SetBlack(3, 1, true);         // 2 of 4
  for (unsigned i : {4u, 5u}) page.SetBlack(i, 0, true), page.SetBlack(i, 1, true);  // 4 of 4
  const QImage img = RenderPage(page, {1, 2, 1, 2}, qRgb(0, 0, 0), qRgb(255, 255, 255));
  ASSERT_EQ(img.size(), QSize(8, 2));
  const int quarter = qGray(img.pixel(0, 0)), halfInk = qGray(img.pixel(1, 0));
  EXPECT_EQ(qGray(img.pixel(2, 0)), 0);
  EXPECT_EQ(qGray(img.pixel(3, 0)), 255);
  EXPECT_LT(halfInk, quarter);
  EXPECT_LT(quarter, 255);
  EXPECT_EQ(qGray(img.pixel(0, 1)), 255);
}

TEST(MonoRender, ShrinkingNeverDropsAThinStroke) {
  // One-pixel lines at every phase: nearest-neighbour sampling at 1/4 would
  // keep only one in four of them.
  TFxBitmap page = TFxBitmap::MakeMono(400, 400);
  for (unsigned k = 0; k < 8; ++k) {
    for (unsigned i = 0; i < 400; ++i) {
      page.SetBlack(20 + k * 41, i, true);  // vertical strokes
      page.SetBlack(i, 30 + k * 43, true);  // horizontal strokes
    }
  }
  for (TViewScale s : {TViewScale{1, 4, 1, 4}, TViewScale{3, 4, 3, 4}, TViewScale{1, 2, 1, 2}, TViewScale{1, 3, 1, 3}}) {
    const QImage img = RenderPage(page, s, qRgb(0, 0, 0), qRgb(255, 255, 255));
    ASSERT_EQ(img.width(), int(s.ScaledWidth(400)));
    for (unsigned k = 0; k < 8; ++k) {
      const int col = int((20 + k * 41) * s.horizMult / s.horizDiv);
      const int row = int((30 + k * 43) * s.vertMult / s.vertDiv);
      EXPECT_LT(qGray(img.pixel(col, 5)), 160) << "stroke " << k << " at " << s.horizMult << "/" << s.horizDiv;
      EXPECT_LT(qGray(img.pixel(5, row)), 160) << "rule " << k << " at " << s.vertMult << "/" << s.vertDiv;
    }
    EXPECT_EQ(qGray(img.pixel(img.width() - 1, img.height() - 1)), 255);
  }
}

TEST(MonoRender, BlocksOutsideThePageArePaper) {
  const TFxBitmap page = Sample(16, 8);
  const TFxBitmap block = CopyBlock(page, 10, 5, 12, 6);
  for (unsigned y = 0; y < 6; ++y)
    for (unsigned x = 0; x < 12; ++x)
      EXPECT_EQ(block.IsBlack(x, y), x + 10 < 16 && y + 5 < 8 && page.IsBlack(x + 10, y + 5));
}

}  // namespace
