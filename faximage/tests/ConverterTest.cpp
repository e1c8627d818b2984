#include <gtest/gtest.h>

#include "TestUtil.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxConverter.h"
#include "faximage/FaxFont.h"
#include "faximage/FaxUnpacker.h"
#include "faximage/T4Decoder.h"
#include "faximage/TextRasterizer.h"

namespace {

// Decoded lines of page n (raw, 1 = black).
std::vector<std::vector<uint8_t>> PageLines(const std::filesystem::path& apf, unsigned page = 1) {
  std::vector<std::vector<uint8_t>> lines;
  TFxFaxUnpacker u;
  u.SetInFileName(apf.string());
  u.OnOutputLine = [&](TFxFaxUnpacker&, bool s, bool e, const uint8_t* d, unsigned n, unsigned) {
    if (!s && !e) lines.emplace_back(d, d + n);
  };
  u.UnpackPage(page);
  return lines;
}

bool Black(const std::vector<uint8_t>& line, unsigned x) { return (line[x / 8] >> (7 - x % 8)) & 1u; }

// Length-word records of page 1 of a converter-written file.
std::vector<std::vector<uint8_t>> Records(const std::filesystem::path& apf) {
  const auto bytes = FxReadFile(apf);
  const size_t length = bytes[64] | (bytes[65] << 8) | (bytes[66] << 16);
  std::vector<std::vector<uint8_t>> records;
  for (size_t at = 80; at < 80 + length;) {
    const size_t n = bytes[at] | (bytes[at + 1] << 8);
    records.emplace_back(bytes.begin() + static_cast<long>(at) + 2, bytes.begin() + static_cast<long>(at + 2 + n));
    at += 2 + n;
  }
  return records;
}

TEST(FaxConverter, WhiteBitmapGivesFullWidthWhiteRecordsAndThePageEnd) {
  TTempFolder dir;
  TFxFaxConverter c;
  c.OutFileName = (dir / "white.tmp").string();
  c.StationID = "+49 30 1234567";
  c.ConvertBitmap(TFxBitmap::MakeMono(1728, 40));
  EXPECT_FALSE(std::filesystem::exists(dir / "white.tmp"));  // extension forced to APF
  const auto path = dir / "white.APF";
  const auto records = Records(path);
  ASSERT_EQ(records.size(), 41u);  // every row is coded, then the page end
  for (size_t i = 0; i < 40; ++i) {
    EXPECT_TRUE(std::equal(records[i].begin(), records[i].end(), FxT4::kBlankRecord.begin(), FxT4::kBlankRecord.end()));
  }
  EXPECT_EQ(records[40].size(), 14u);
  TFxApfReader r;
  ASSERT_EQ(r.Open(path), 0);
  EXPECT_EQ(r.PageCount(), 1);
  EXPECT_EQ(r.Header().stationId, "+49 30 1234567");
  EXPECT_NE(r.Header().creationTime, 0u);
}

TEST(FaxConverter, LeftMarginShiftsTheImageAndCutsItsRightEdge) {
  TTempFolder dir;
  TFxBitmap b = TFxBitmap::MakeMono(1728, 4);
  for (unsigned y = 0; y < 4; ++y) {
    b.SetBlack(0, y, true);
    b.SetBlack(1677, y, true);
    b.SetBlack(1678, y, true);
    b.SetBlack(1727, y, true);
  }
  TFxFaxConverter c;
  c.OutFileName = (dir / "m.apf").string();
  c.ConvertBitmap(b);
  const auto lines = PageLines(dir / "m.apf");
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& l : lines) {
    for (unsigned x = 0; x < 50; ++x) ASSERT_FALSE(Black(l, x));
    EXPECT_TRUE(Black(l, 50));
    EXPECT_FALSE(Black(l, 51));
    EXPECT_TRUE(Black(l, 1727));   // bitmap pixel 1677
    EXPECT_FALSE(Black(l, 1726));  // the bitmap's last 50 pixels are cut off
  }
}

// Monochrome rows are copied byte by byte: every pixel must land where the
// pixel-by-pixel rule puts it, for widths that end inside a byte, centred or
// not, and cut at the page's right edge.
TEST(FaxConverter, MonochromeRowsKeepEveryPixel) {
  TTempFolder dir;
  for (const unsigned width : {1001u, 1728u, 2000u}) {
    for (const bool centre : {false, true}) {
      TFxBitmap b = TFxBitmap::MakeMono(width, 3);
      for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < width; ++x) b.SetBlack(x, y, (x * 7 + y * 13) % 5 == 0 || x + 1 == width);
      TFxFaxConverter c;
      c.OutFileName = (dir / "r.apf").string();
      c.LeftMargin = 0;
      c.Resolution = TFaxResolution::frHigh;
      c.SetOptions(centre ? unsigned{coCenterImage} : 0u);
      c.ConvertBitmap(b);
      const auto lines = PageLines(dir / "r.apf");
      ASSERT_EQ(lines.size(), 3u);
      const unsigned offset = centre && width < 1713 ? (1728 - width) / 16 * 8 : 0;
      for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 1728; ++x) {
          const bool expected = x >= offset && x - offset < width && b.IsBlack(x - offset, y);
          ASSERT_EQ(Black(lines[y], x), expected) << width << " " << centre << " " << x << "," << y;
        }
    }
  }
}

TEST(FaxConverter, DoubleWidthCentringAndHalfHeight) {
  TTempFolder dir;
  TFxBitmap b = TFxBitmap::MakeMono(800, 6);
  for (unsigned y = 0; y < 6; ++y) {
    b.SetBlack(0, y, true);
    b.SetBlack(799, y, true);
    b.SetBlack(y, y, true);
  }
  TFxFaxConverter c;
  c.OutFileName = (dir / "d.apf").string();
  c.LeftMargin = 0;
  c.ConvertBitmap(b);  // default options: double width and centring at normal resolution
  auto lines = PageLines(dir / "d.apf");
  ASSERT_EQ(lines.size(), 6u);
  // (1728 - 1600) / 2 = 64 pixels each side; every pixel doubled.
  EXPECT_FALSE(Black(lines[0], 63));
  EXPECT_TRUE(Black(lines[0], 64));
  EXPECT_TRUE(Black(lines[0], 65));
  EXPECT_FALSE(Black(lines[0], 66));
  EXPECT_TRUE(Black(lines[0], 1662));
  EXPECT_TRUE(Black(lines[0], 1663));
  EXPECT_FALSE(Black(lines[0], 1664));

  // Fine resolution with [coYield] only: no doubling, no centring, all rows.
  c.SetOptions(coYield);
  c.Resolution = TFaxResolution::frHigh;
  c.LeftMargin = 50;
  c.ConvertBitmap(b);
  lines = PageLines(dir / "d.apf");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(Black(lines[0], 50));
  EXPECT_TRUE(Black(lines[3], 53));
  EXPECT_TRUE(Black(lines[0], 849));
  EXPECT_FALSE(Black(lines[0], 850));

  // Half height needs normal resolution without double width: odd lines only.
  c.SetOptions(coHalfHeight | coYieldOften);
  EXPECT_EQ(c.Options(), unsigned{coHalfHeight | coYieldOften | coYield});
  c.Resolution = TFaxResolution::frNormal;
  c.ConvertBitmap(b);
  lines = PageLines(dir / "d.apf");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(Black(lines[1], 52));  // bitmap row 2
  EXPECT_TRUE(Black(lines[2], 54));  // bitmap row 4
}

TEST(FaxConverter, ColourBitmapsAreDithered) {
  TTempFolder dir;
  TFxBitmap b;
  b.width = 1600;
  b.height = 64;
  b.bitsPerPixel = 24;
  b.rowBytes = 1600 * 3;
  b.bits.resize(b.rowBytes * b.height);
  for (unsigned y = 0; y < 64; ++y) {
    for (unsigned x = 0; x < 1600; ++x) {
      const uint8_t v = x < 400 ? 0 : x < 800 ? 255 : x < 1200 ? 128 : 64;
      std::fill_n(b.Row(y) + x * 3, 3, v);
    }
  }
  TFxFaxConverter c;
  c.SetOptions(coYield);
  c.LeftMargin = 0;
  c.OutFileName = (dir / "c.apf").string();
  c.ConvertBitmap(b);
  const auto lines = PageLines(dir / "c.apf");
  ASSERT_EQ(lines.size(), 64u);
  unsigned counts[4] = {};
  for (const auto& l : lines) {
    for (unsigned x = 0; x < 1600; ++x) counts[x / 400] += Black(l, x) ? 1 : 0;
  }
  const unsigned area = 400 * 64;
  EXPECT_EQ(counts[0], area);  // black
  EXPECT_EQ(counts[1], 0u);    // white
  EXPECT_NEAR(counts[2], area / 2, area / 20);
  EXPECT_NEAR(counts[3], area * 3 / 4, area / 20);
}

TEST(FaxConverter, FailuresDeleteTheOutput) {
  TTempFolder dir;
  TFxFaxConverter c;
  c.OutFileName = (dir / "f.apf").string();
  EXPECT_EQ(c.TryConvertBitmap(TFxBitmap{}), FxErr::ecBadArgument);
  TFxBitmap odd = TFxBitmap::MakeMono(100, 10);
  odd.bitsPerPixel = 8;
  EXPECT_EQ(c.TryConvertBitmap(odd), FxErr::ecBadArgument);

  const TFxBitmap b = TFxBitmap::MakeMono(1728, 100);
  bool sawStart = false, sawEnd = false;
  c.OnStatus = [&](TFxFaxConverter&, bool starting, bool ending, unsigned, unsigned lines, uint64_t done, uint64_t total,
                   bool& abort) {
    sawStart |= starting;
    sawEnd |= ending;
    EXPECT_LE(done, total);
    if (lines == 50) abort = true;
  };
  try {
    c.ConvertBitmap(b);
    FAIL();
  } catch (const EFxImageError& e) {
    EXPECT_EQ(e.ErrorCode(), FxErr::ecConvertAbort);
  }
  EXPECT_TRUE(sawStart);
  EXPECT_TRUE(sawEnd);
  EXPECT_FALSE(std::filesystem::exists(dir / "f.apf"));

  c.OnStatus = nullptr;
  c.SetOptions(coYield | coYieldOften);
  int yields = 0;
  c.OnYield = [&] { return ++yields == 3; };
  EXPECT_EQ(c.TryConvertBitmap(b), FxErr::ecGotQuitMsg);
  EXPECT_FALSE(std::filesystem::exists(dir / "f.apf"));

  c.OutFileName.clear();
  EXPECT_EQ(c.TryConvertBitmap(b), FxErr::ecFileNotFound);
  c.SetDocumentFile((dir / "doc.txt").string());
  EXPECT_EQ(c.OutFileName, (dir / "doc.APF").string());
}

TEST(FaxConverter, TextFilesBecomePagesOfFontRows) {
  TTempFolder dir;
  const auto txt = dir / "letter.txt";
  const std::string text = "Line one\n\tTabbed\nThree\nFour \xc3\xa9\nFive\n";
  FxWriteFile(txt, std::vector<uint8_t>(text.begin(), text.end()));
  TFxFaxConverter c;
  c.InputDocumentType = TFaxInputDocumentType::idText;
  c.SetDocumentFile(txt.string());
  c.LinesPerPage = 2;
  c.TopMargin = 3;
  c.ConvertToFile();
  TFxFaxUnpacker u;
  u.SetInFileName((dir / "letter.APF").string());
  EXPECT_EQ(u.PageCount(), 3u);
  EXPECT_EQ(PageLines(dir / "letter.APF", 1).size(), 3u + 2 * 16);
  EXPECT_EQ(PageLines(dir / "letter.APF", 3).size(), 3u + 16);

  c.Resolution = TFaxResolution::frHigh;
  c.FontType = TFaxFont::ffSmall;
  c.TopMargin = 0;
  c.ConvertToFile();
  EXPECT_EQ(PageLines(dir / "letter.APF", 1).size(), 2u * 16);  // small font doubled: 16 rows

  c.InputDocumentType = TFaxInputDocumentType::idTiff;
  EXPECT_EQ(c.TryConvertToFile(), FxErr::ecBadArgument);
  c.InputDocumentType = TFaxInputDocumentType::idText;
  c.SetDocumentFile((dir / "missing.txt").string());
  EXPECT_EQ(c.TryConvertToFile(), FxErr::ecFileNotFound);
}

TEST(FaxConverter, UserReaderAndPagesOfTopMarginOnly) {
  TTempFolder dir;
  TFxFaxConverter c;
  c.InputDocumentType = TFaxInputDocumentType::idUser;
  c.DefUserExtension = "raw";
  c.SetDocumentFile((dir / "job").string());
  c.Width = TFaxWidth::fwWide;
  c.TopMargin = 4;
  std::string opened;
  bool closed = false;
  int calls = 0;
  c.OnOpenUserFile = [&](TFxFaxConverter&, const std::string& name) {
    opened = name;
    return 0;
  };
  c.OnCloseUserFile = [&](TFxFaxConverter&) { closed = true; };
  // Two pages without any line of their own.
  c.OnReadUserLine = [&](TFxFaxConverter&, uint8_t*, unsigned& len, bool& endOfPage, bool& morePages) {
    EXPECT_EQ(len, 256u);
    endOfPage = true;
    morePages = ++calls < 2;
    return 0;
  };
  std::vector<std::pair<unsigned, bool>> tapped;
  c.OnOutputLine = [&](TFxFaxConverter&, const uint8_t*, unsigned len, bool endOfPage, bool) {
    tapped.emplace_back(len, endOfPage);
  };
  c.ConvertToFile();
  EXPECT_EQ(opened, (dir / "job.raw").string());
  EXPECT_TRUE(closed);
  const auto path = dir / "job.APF";
  const auto records = Records(path);
  ASSERT_EQ(records.size(), 5u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(std::equal(records[i].begin(), records[i].end(), FxT4::kBlankRecord.begin(), FxT4::kBlankRecord.end()));
  }
  EXPECT_EQ(records[4].size(), 14u);
  ASSERT_EQ(tapped.size(), 2u);  // the tap sees coded lines and page ends
  EXPECT_EQ(tapped[0], std::make_pair(14u, true));
  TFxFaxUnpacker u;
  u.SetInFileName(path.string());
  EXPECT_EQ(u.PageCount(), 2u);
  EXPECT_TRUE(u.FirstPageWide());
  EXPECT_EQ(PageLines(path, 2).size(), 4u);  // 1728-pixel blank lines on a wide page

  // A reader error ends the conversion and removes the file.
  c.OnReadUserLine = [&](TFxFaxConverter&, uint8_t*, unsigned&, bool&, bool&) { return -5; };
  EXPECT_EQ(c.TryConvertToFile(), -5);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TextRasterizer, BuiltInFontRowsAndDoubling) {
  const auto font = FxFaxFontResource();
  ASSERT_EQ(font.size(), 16384u);
  TFxTextConverter t;
  EXPECT_EQ(t.LoadFont(16, true, {}), FxErr::ecFontFileNotFound);
  EXPECT_EQ(t.LoadFont(20, false), FxErr::ecBadArgument);
  ASSERT_EQ(t.LoadFont(16, true), 0);
  EXPECT_EQ(t.RowsPerLine(), 16u);  // the small font at fine resolution
  ASSERT_EQ(t.LoadFont(48, false), 0);
  EXPECT_EQ(t.RowsPerLine(), 16u);
  EXPECT_EQ(t.CharsPerLine(), 1728u / 20);

  // Row r of "HA" is the glyph rows of 'H' then 'A', 20 pixels each.
  std::vector<uint8_t> raw(216);
  unsigned inked = 0;
  for (unsigned r = 1; r <= 16; ++r) {
    t.RasterizeRow("HA", r, raw.data());
    for (unsigned ch = 0; ch < 2; ++ch) {
      const uint8_t* glyph = font.data() + 4096 + size_t{static_cast<unsigned char>("HA"[ch])} * 48 + (r - 1) * 3;
      for (unsigned x = 0; x < 20; ++x) {
        const bool want = (glyph[x / 8] >> (7 - x % 8)) & 1u;
        ASSERT_EQ(Black(raw, ch * 20 + x), want) << r << " " << x;
        inked += want;
      }
    }
    for (unsigned x = 40; x < 1728; ++x) ASSERT_FALSE(Black(raw, x));
  }
  EXPECT_GT(inked, 40u);  // the glyphs are not blank
  t.RasterizeRow("HA", 17, raw.data());
  EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](uint8_t v) { return v == 0; }));

  // Every printable ASCII and Latin-1 letter has ink, and stays inside its cell.
  for (unsigned code = 0x21; code < 0x100; ++code) {
    if (code >= 0x7F && code < 0xC0) continue;
    for (size_t base : {size_t{0}, size_t{4096}}) {
      const size_t bytes = base == 0 ? 16 : 48, perRow = base == 0 ? 2 : 3, width = base == 0 ? 12 : 20;
      const uint8_t* g = font.data() + base + code * bytes;
      EXPECT_TRUE(std::any_of(g, g + bytes, [](uint8_t v) { return v != 0; })) << code;
      for (size_t row = 0; row < bytes / perRow; ++row) {
        const uint8_t last = g[row * perRow + perRow - 1];
        EXPECT_EQ(last & ((1u << (perRow * 8 - width)) - 1), 0u) << code;
      }
    }
  }

  // The coder applies the left margin.
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  t.SetMargins(100, 0);
  t.RasterizeRow("H", 8, raw.data());
  const size_t n = t.CodeLine(raw.data(), rec.data());
  std::vector<uint8_t> line;
  FxT4Decoder d([&](const uint8_t* l, unsigned len) {
    line.assign(l, l + len);
    return true;
  });
  d.Feed(rec.data(), n);
  std::vector<uint8_t> end(32);
  d.Feed(end.data(), TFxTextConverter::PageEndRecord(end.data()));
  ASSERT_EQ(line.size(), 216u);
  for (unsigned x = 0; x < 20; ++x) EXPECT_EQ(Black(line, 100 + x), Black(raw, x));
}

// A stand-in for the host's font engine: blocks of black per character.
class BlockRenderer : public TFxFontRenderer {
 public:
  unsigned TextHeight(unsigned scale) const override { return 10 * scale; }
  void DrawText(std::string_view text, unsigned scale, TFxBitmap& target) const override {
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == ' ') continue;
      for (unsigned y = 0; y < 8 * scale; ++y) {
        for (unsigned x = 0; x < 6 * scale; ++x) target.SetBlack(static_cast<unsigned>(i) * 8 * scale + x, y, true);
      }
    }
  }
};

class HugeRenderer : public BlockRenderer {
 public:
  unsigned TextHeight(unsigned) const override { return 400; }
};

TEST(TextRasterizer, EnhancedTextThroughTheHostRenderer) {
  TFxTextConverter t;
  t.SetMargins(50, 0);
  EXPECT_EQ(t.SetEnhFont(std::make_shared<HugeRenderer>(), false), FxErr::ecEnhFontTooBig);
  EXPECT_EQ(t.SetEnhFont(nullptr, false), FxErr::ecBadArgument);
  ASSERT_EQ(t.SetEnhFont(std::make_shared<BlockRenderer>(), false), 0);
  EXPECT_EQ(t.RowsPerLine(), 10u);
  std::vector<uint8_t> raw(216);
  t.RasterizeRow("A B", 1, raw.data());
  // Normal resolution: each drawn pixel doubled across.
  EXPECT_TRUE(Black(raw, 0));
  EXPECT_TRUE(Black(raw, 11));
  EXPECT_FALSE(Black(raw, 12));
  EXPECT_FALSE(Black(raw, 16));
  EXPECT_TRUE(Black(raw, 32));
  t.RasterizeRow("A B", 9, raw.data());
  EXPECT_FALSE(Black(raw, 0));

  ASSERT_EQ(t.SetEnhFont(std::make_shared<BlockRenderer>(), true), 0);
  EXPECT_EQ(t.RowsPerLine(), 20u);
  t.RasterizeRow("A", 1, raw.data());
  EXPECT_TRUE(Black(raw, 11));
  EXPECT_FALSE(Black(raw, 12));
  t.RasterizeRow("A", 16, raw.data());
  EXPECT_TRUE(Black(raw, 0));
}

TEST(TextRasterizer, Utf8ToFaxCodes) {
  EXPECT_EQ(FxUtf8ToFaxCodes("Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xe2\x80\x9cq\xe2\x80\x9d \xe4\xb8\xad"),
            "Gr\xfc\xdf \x80 \x93q\x94 ?");
  EXPECT_EQ(FxUtf8ToFaxCodes("caf\xe9"), "caf\xe9");  // Latin-1 bytes stay
}

}  // namespace
