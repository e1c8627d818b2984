#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "shell/MonoImage.h"

namespace {

// A page with an odd width, so the last byte of each row is partly padding.
TFxBitmap Checkers(unsigned width, unsigned height) {
  TFxBitmap b = TFxBitmap::MakeMono(width, height);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) b.SetBlack(x, y, ((x / 3) + (y / 2)) % 2 == 0);
  return b;
}

TEST(MonoImageTest, PagesCrossToQtAndBackPixelForPixel) {
  const TFxBitmap page = Checkers(1733, 41);
  const QImage image = ToQImage(page);
  ASSERT_EQ(image.width(), 1733);
  ASSERT_EQ(image.height(), 41);
  for (unsigned y = 0; y < page.height; ++y)
    for (unsigned x = 0; x < page.width; ++x)
      ASSERT_EQ(image.pixelColor(static_cast<int>(x), static_cast<int>(y)) == Qt::black, page.IsBlack(x, y))
          << x << "," << y;
  const TFxBitmap back = FromQImage(image);
  EXPECT_EQ(back.rowBytes, page.rowBytes);
  EXPECT_EQ(back.bits, page.bits);  // padding bits included: they stay white
}

TEST(MonoImageTest, OtherImagesAreThresholdedWithTransparencyAsPaper) {
  QImage colour(20, 4, QImage::Format_ARGB32);
  colour.fill(Qt::transparent);
  colour.setPixelColor(0, 0, QColor(30, 30, 30));      // dark: ink
  colour.setPixelColor(1, 0, QColor(200, 200, 200));   // light: paper
  colour.setPixelColor(2, 0, QColor(0, 0, 0, 0));      // transparent black: paper
  colour.setPixelColor(19, 3, QColor(0, 0, 255));      // dark blue: ink
  const TFxBitmap mono = FromQImage(colour);
  EXPECT_TRUE(mono.IsBlack(0, 0));
  EXPECT_FALSE(mono.IsBlack(1, 0));
  EXPECT_FALSE(mono.IsBlack(2, 0));
  EXPECT_TRUE(mono.IsBlack(19, 3));
  EXPECT_FALSE(mono.IsBlack(5, 2));
}

TEST(MonoImageTest, NothingToConvertGivesNothing) {
  EXPECT_TRUE(ToQImage(TFxBitmap{}).isNull());
  TFxBitmap colour;
  colour.width = colour.height = 2;
  colour.bitsPerPixel = 24;
  colour.rowBytes = 6;
  colour.bits.assign(12, 0);
  EXPECT_TRUE(ToQImage(colour).isNull());
  EXPECT_TRUE(FromQImage(QImage()).Empty());
}

}  // namespace
