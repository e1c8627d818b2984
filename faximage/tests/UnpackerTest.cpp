#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "TestUtil.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxUnpacker.h"

namespace {

std::vector<uint8_t> Line(unsigned width, std::initializer_list<std::pair<unsigned, unsigned>> spans) {
  std::vector<uint8_t> l(width / 8, 0);
  for (auto [from, to] : spans) {
    for (unsigned x = from; x < to; ++x) l[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
  return l;
}

// Pixels as an independent reader sees them: ImageMagick converts the file
// to a plain PBM (1 = black). Returns width, height and the bits.
struct Pixels {
  unsigned width = 0, height = 0;
  std::vector<uint8_t> black;
};

// ImageMagick (6.9) reads every 1-bit PCX as "set bit = black" whatever the
// file says, the opposite of the PC Paintbrush convention (set bit = white)
// that the exports follow; PCX pages are therefore read with netpbm's
// pcxtoppm, the other independent reader on the machine.
Pixels ReadIndependently(const std::filesystem::path& file, const std::filesystem::path& pbm, bool pcx) {
  const std::string cmd = pcx ? "pcxtoppm '" + file.string() + "' | ppmtopgm | pgmtopbm -threshold | pnmtoplainpnm > '" +
                                    pbm.string() + "' 2>/dev/null"
                              : "convert '" + file.string() + "' -compress none '" + pbm.string() + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const auto bytes = FxReadFile(pbm);
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string magic;
  Pixels p;
  in >> magic >> p.width >> p.height;
  EXPECT_EQ(magic, "P1");
  char c = 0;
  while (in.get(c)) {
    if (c == '0' || c == '1') p.black.push_back(static_cast<uint8_t>(c - '0'));
  }
  EXPECT_EQ(p.black.size(), size_t{p.width} * p.height);
  return p;
}

void ExpectSamePixels(const Pixels& p, const TFxBitmap& b) {
  ASSERT_EQ(p.width, b.width);
  ASSERT_EQ(p.height, b.height);
  for (unsigned y = 0; y < b.height; ++y) {
    for (unsigned x = 0; x < b.width; ++x) {
      ASSERT_EQ(p.black[size_t{y} * p.width + x] != 0, b.IsBlack(x, y)) << x << "," << y;
    }
  }
}

class UnpackerTest : public ::testing::Test {
 protected:
  // A fine page: a frame, diagonal strokes and text-like bits.
  void MakeSample(uint16_t flags = apfHighRes) {
    const unsigned width = (flags & apfWide) ? 2048 : 1728;
    std::vector<std::vector<uint8_t>> lines;
    for (unsigned y = 0; y < 300; ++y) {
      if (y < 20) {
        lines.push_back(Line(width, {}));
      } else if (y == 20 || y == 299) {
        lines.push_back(Line(width, {{40, 900}}));
      } else {
        lines.push_back(Line(width, {{40, 42}, {898, 900}, {100 + y, 103 + y}, {500 + (y * 7) % 300, 505 + (y * 7) % 300}}));
      }
    }
    FxWriteApf(apf_, {lines}, flags);
  }
  TTempFolder dir_;
  std::filesystem::path apf_ = dir_ / "sample.apf";
};

TEST_F(UnpackerTest, ExportsReadBackWithImageMagick) {
  MakeSample();
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  EXPECT_EQ(u.OutFileName(), (dir_ / "sample").string());
  EXPECT_TRUE(u.FirstPageHighRes());
  EXPECT_FALSE(u.FirstPageWide());
  const TFxBitmap b = u.PageToBitmap(1);
  EXPECT_EQ(b.width, 912u);   // right-most black byte 112, rounded up to even
  EXPECT_EQ(b.height, 300u);  // fine page: no doubling; leading blank lines kept
  EXPECT_EQ(b.rowBytes, 114u);

  u.PageToBmpFile(1);
  u.PageToPcxFile(1);
  u.PageToDcxFile(1);
  // ImageMagick picks its reader by the lower-case extension.
  std::filesystem::copy_file(dir_ / "sample.BMP", dir_ / "copy.bmp");
  ExpectSamePixels(ReadIndependently(dir_ / "copy.bmp", dir_ / "im.pbm", false), b);
  ExpectSamePixels(ReadIndependently(dir_ / "sample.PCX", dir_ / "im.pbm", true), b);
  // The DCX: ImageMagick finds one page of the right size in it ...
  std::filesystem::copy_file(dir_ / "sample.DCX", dir_ / "copy.dcx");
  const std::string identify = "identify -format '%n %w %h' '" + (dir_ / "copy.dcx").string() + "' > '" +
                               (dir_ / "id.txt").string() + "'";
  ASSERT_EQ(std::system(identify.c_str()), 0);
  const auto id = FxReadFile(dir_ / "id.txt");
  EXPECT_EQ(std::string(id.begin(), id.end()), "1 912 300");

  // BMP layout: sizes, colour table, padding with white.
  const auto bmp = FxReadFile(dir_ / "sample.BMP");
  const size_t padded = 116;
  ASSERT_EQ(bmp.size(), 62 + padded * 300);
  EXPECT_EQ(bmp[2] | (bmp[3] << 8) | (bmp[4] << 16), static_cast<int>(62 + padded * 300));
  EXPECT_EQ(bmp[10], 62);
  EXPECT_EQ(bmp[54] | bmp[55] | bmp[56] | bmp[57], 0);
  EXPECT_EQ(bmp[58] & bmp[59] & bmp[60], 0xFF);
  EXPECT_EQ(bmp[61], 0);
  EXPECT_EQ(bmp[62 + 114], 0xFF);
  EXPECT_EQ(bmp[62 + 115], 0xFF);

  // DCX: magic, the one page offset, then the PCX page.
  const auto dcx = FxReadFile(dir_ / "sample.DCX");
  const auto pcx = FxReadFile(dir_ / "sample.PCX");
  ASSERT_EQ(dcx.size(), 4100 + pcx.size());
  EXPECT_EQ(dcx[0] | (dcx[1] << 8) | (dcx[2] << 16) | (static_cast<unsigned>(dcx[3]) << 24), 0x3ADE68B1u);
  EXPECT_EQ(dcx[4] | (dcx[5] << 8), 4100);
  EXPECT_EQ(dcx[8] | dcx[9] | dcx[10] | dcx[11], 0);
  EXPECT_TRUE(std::equal(pcx.begin(), pcx.end(), dcx.begin() + 4100));
  // PCX header.
  EXPECT_EQ(pcx[0], 10);
  EXPECT_EQ(pcx[1], 2);
  EXPECT_EQ(pcx[2], 1);
  EXPECT_EQ(pcx[3], 1);
  EXPECT_EQ(pcx[8] | (pcx[9] << 8), 911);
  EXPECT_EQ(pcx[10] | (pcx[11] << 8), 299);
  for (size_t i = 12; i < 65; ++i) EXPECT_EQ(pcx[i], 0) << i;
  EXPECT_EQ(pcx[65], 1);
  EXPECT_EQ(pcx[66] | (pcx[67] << 8), 114);
  // A white row is one run of 63 and one of 51 white (0xFF) bytes.
  const uint8_t whiteRow[] = {0xC0 + 63, 0xFF, 0xC0 + 51, 0xFF};
  EXPECT_TRUE(std::equal(std::begin(whiteRow), std::end(whiteRow), pcx.begin() + 128));

  // An explicit name with an extension is used as it is.
  u.SetOutFileName((dir_ / "page.img").string());
  u.PageToBmpFile(1);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "page.img"));
}

TEST_F(UnpackerTest, PcxSingleBytesWithTopBitsSetAreEscaped) {
  TFxBitmap b = TFxBitmap::MakeMono(32, 1);
  b.Row(0)[0] = 0xC5;
  b.Row(0)[1] = 0x12;
  b.Row(0)[2] = 0x12;
  b.Row(0)[3] = 0xFF;
  std::vector<uint8_t> out;
  ASSERT_EQ(FxWritePcx(b, out), 0);
  const std::vector<uint8_t> rows(out.begin() + 128, out.end());
  EXPECT_EQ(rows, (std::vector<uint8_t>{0xC1, 0xC5, 0xC2, 0x12, 0xC1, 0xFF}));
}

TEST_F(UnpackerTest, AllWhitePageGivesAnEmptyBitmap) {
  FxWriteApf(apf_, {std::vector<std::vector<uint8_t>>(50, Line(1728, {}))}, 0);
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  const TFxBitmap b = u.PageToBitmap(1);
  EXPECT_TRUE(b.Empty());
  u.PageToPcxFile(1);
  EXPECT_EQ(FxReadFile(dir_ / "sample.PCX").size(), 128u);
}

TEST_F(UnpackerTest, AspectModes) {
  std::vector<std::vector<uint8_t>> lines(1100, Line(1728, {{0, 1}}));
  lines[1] = Line(1728, {{0, 1}, {2, 3}, {5, 6}, {1726, 1728}});
  FxWriteApf(apf_, {lines}, 0);
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  TFxBitmap b = u.PageToBitmap(1);
  EXPECT_EQ(b.height, 2200u);  // normal resolution doubled
  EXPECT_TRUE(b.IsBlack(2, 2));
  EXPECT_TRUE(b.IsBlack(2, 3));
  u.AutoScaleMode = TAutoScaleMode::asHalfWidth;
  b = u.PageToBitmap(1);
  EXPECT_EQ(b.height, 1100u);
  EXPECT_EQ(b.width, 864u);
  EXPECT_TRUE(b.IsBlack(0, 1));
  EXPECT_TRUE(b.IsBlack(1, 1));   // pixel 2
  EXPECT_TRUE(b.IsBlack(2, 1));   // pixel 5
  EXPECT_FALSE(b.IsBlack(3, 1));
  EXPECT_TRUE(b.IsBlack(863, 1));

  std::vector<std::vector<uint8_t>> fine(2200, Line(1728, {{0, 1}}));
  FxWriteApf(apf_, {fine}, apfHighRes);
  u.AutoScaleMode = TAutoScaleMode::asDoubleHeight;
  EXPECT_EQ(u.PageToBitmap(1).height, 2200u);
}

TEST_F(UnpackerTest, BlankLineCompression) {
  const auto text = Line(1728, {{10, 20}});
  const auto blank = Line(1728, {});
  std::vector<std::vector<uint8_t>> lines;
  auto add = [&](const std::vector<uint8_t>& l, int n) { lines.insert(lines.end(), static_cast<size_t>(n), l); };
  add(text, 1);
  add(blank, 25);
  add(text, 1);
  add(blank, 7);
  add(text, 1);
  add(blank, 12);
  FxWriteApf(apf_, {lines}, apfHighRes);
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  u.WhitespaceCompression = true;
  u.WhitespaceFrom = 10;
  u.WhitespaceTo = 2;
  const TFxBitmap b = u.PageToBitmap(1);
  // 1 + 2 + 1 + 7 + 1, then the trailing 12 blank lines become 2.
  ASSERT_EQ(b.height, 14u);
  EXPECT_TRUE(b.IsBlack(10, 3));
  EXPECT_TRUE(b.IsBlack(10, 11));
  u.WhitespaceTo = 10;  // From = To: the run at the page end is not flushed
  EXPECT_EQ(u.PageToBitmap(1).height, 1u + 10 + 1 + 7 + 1);

  TFxBitmap out;
  u.WhitespaceTo = 11;
  EXPECT_EQ(u.TryPageToBitmap(1, out), FxErr::ecBadArgument);
  u.WhitespaceFrom = 0;
  u.WhitespaceTo = 1;
  EXPECT_EQ(u.TryPageToBitmap(1, out), FxErr::ecBadArgument);
}

TEST_F(UnpackerTest, ScalingKeepsBlackWhenShrinking) {
  MakeSample();
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  u.Scaling = true;
  u.SetHorizMult(0);  // ignored
  EXPECT_EQ(u.HorizMult(), 1u);
  u.SetHorizDiv(2);
  u.SetVertDiv(2);
  const TFxBitmap half = u.PageToBitmap(1);
  EXPECT_EQ(half.width, 456u);
  EXPECT_EQ(half.height, 150u);
  EXPECT_TRUE(half.IsBlack(20, 10));  // the 2-pixel frame at x = 40 survives
  EXPECT_TRUE(half.IsBlack(449, 80)); // and at x = 898
  u.SetHorizMult(3);
  u.SetHorizDiv(1);
  u.SetVertDiv(1);
  const TFxBitmap wide = u.PageToBitmap(1);
  EXPECT_EQ(wide.width, 912u * 3);
  EXPECT_TRUE(wide.IsBlack(120, 25));
  EXPECT_TRUE(wide.IsBlack(125, 25));
  EXPECT_FALSE(wide.IsBlack(119, 25));
}

TEST_F(UnpackerTest, TallPagesAndTheBmpHeightLimit) {
  std::vector<std::vector<uint8_t>> lines(16384, Line(1728, {}));
  lines[5] = Line(1728, {{0, 8}});
  FxWriteApf(apf_, {lines}, 0);
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  EXPECT_EQ(u.PageToBitmap(1).height, 32768u);
  EXPECT_EQ(u.TryPageToFile(1, "BMP"), FxErr::ecBmpTooBig);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "sample.BMP"));
  // Beyond the row limit the page is refused rather than grown without end.
  lines.resize(16385, Line(1728, {}));
  FxWriteApf(apf_, {lines}, 0);
  TFxBitmap b;
  EXPECT_EQ(u.TryPageToBitmap(1, b), FxErr::ecOutOfMemory);
}

TEST_F(UnpackerTest, StatusAbortAndYield) {
  MakeSample();
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  uint64_t last = 0, total = 0;
  int yields = 0;
  u.OnYield = [&] { ++yields; };
  u.OnStatus = [&](TFxFaxUnpacker& self, const std::string& name, unsigned page, uint64_t done, uint64_t all) {
    EXPECT_EQ(name, apf_.string());
    EXPECT_EQ(page, 1u);
    EXPECT_LE(done, all);
    EXPECT_GE(done, last);
    last = done;
    total = all;
    if (done > all / 2) self.Abort();
  };
  const TFxBitmap b = u.PageToBitmap(1);
  EXPECT_LT(last, total);  // stopped part way, without an error
  EXPECT_GT(b.height, 0u);
  EXPECT_LT(b.height, 300u);
  EXPECT_GT(yields, 0);
  EXPECT_EQ(u.Options() & uoAbort, unsigned{uoAbort});
  u.OnStatus = nullptr;
  EXPECT_EQ(u.PageToBitmap(1).height, 300u);  // each operation starts afresh
}

TEST_F(UnpackerTest, WidePages) {
  MakeSample(apfWide | apfHighRes);
  TFxFaxUnpacker u;
  u.SetInFileName(apf_.string());
  EXPECT_TRUE(u.FirstPageWide());
  EXPECT_EQ(u.PageToBitmap(1).width, 912u);
  TFxFaxUnpacker none;
  EXPECT_THROW(none.PageCount(), EFxImageError);
  TFxBitmap b;
  EXPECT_EQ(none.TryPageToBitmap(1, b), FxErr::ecFileNotFound);
}

}  // namespace
