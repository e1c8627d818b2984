// Cross-checks of the T.4 coder and decoder against libtiff's CCITT Group 3
// one-dimensional codec, an independent implementation.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestPages.h"
#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "faximage/T4Coder.h"
#include "faximage/T4Decoder.h"

namespace {

namespace fs = std::filesystem;

fs::path TempName(const std::string& stem) {
  return fs::temp_directory_path() / ("cvfx_" + std::to_string(::getpid()) + "_" + stem);
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

void SetG3Tags(TIFF* t, const FxTestPage& page) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.lines.size()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);  // 1 = black, as our raw lines
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);         // least significant bit first
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);                     // one-dimensional
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.lines.size()));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, page.fine ? 196.0 : 98.0);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0);
}

class LibtiffCross : public ::testing::TestWithParam<size_t> {
 protected:
  // Only the page under test is generated: every test case runs in a
  // process of its own.
  const FxTestPage& Page() {
    if (page_.lines.empty()) page_ = FxTestCorpusPage(GetParam());
    return page_;
  }
  FxTestPage page_;
};

// Pages coded by Corvane (as an APF length-word page) decode with libtiff to
// the same pixels.
TEST_P(LibtiffCross, CorvaneCodedPagesDecodeWithLibtiff) {
  const FxTestPage& page = Page();
  std::vector<uint8_t> strip;
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  for (const auto& line : page.lines) {
    const size_t n = FxT4::CodeLine(line.data(), page.width, 0, rec.data());
    strip.insert(strip.end(), rec.begin(), rec.begin() + static_cast<std::ptrdiff_t>(n));
  }
  const size_t n = FxT4::PageEndRecord(rec.data());
  strip.insert(strip.end(), rec.begin(), rec.begin() + static_cast<std::ptrdiff_t>(n));

  const fs::path path = TempName(page.name + ".tif");
  {
    TiffPtr t(TIFFOpen(path.c_str(), "w"));
    ASSERT_TRUE(t);
    SetG3Tags(t.get(), page);
    ASSERT_GT(TIFFWriteRawStrip(t.get(), 0, strip.data(), static_cast<tmsize_t>(strip.size())), 0);
  }
  TiffPtr t(TIFFOpen(path.c_str(), "r"));
  ASSERT_TRUE(t);
  std::vector<uint8_t> row(page.width / 8);
  for (uint32_t y = 0; y < page.lines.size(); ++y) {
    ASSERT_EQ(TIFFReadScanline(t.get(), row.data(), y, 0), 1) << page.name << " row " << y;
    ASSERT_EQ(row, page.lines[y]) << page.name << " row " << y;
  }
  t.reset();
  fs::remove(path);
}

// Pages coded by libtiff decode with Corvane, both directly and stored as a
// stream-form APF page read through the unpacker.
TEST_P(LibtiffCross, LibtiffCodedPagesDecodeWithCorvane) {
  const FxTestPage& page = Page();
  const fs::path path = TempName(page.name + "_lt.tif");
  {
    TiffPtr t(TIFFOpen(path.c_str(), "w"));
    ASSERT_TRUE(t);
    SetG3Tags(t.get(), page);
    TIFFSetField(t.get(), TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);  // byte-aligned EOLs
    for (uint32_t y = 0; y < page.lines.size(); ++y) {
      std::vector<uint8_t> row = page.lines[y];
      ASSERT_EQ(TIFFWriteScanline(t.get(), row.data(), y, 0), 1);
    }
  }
  std::vector<uint8_t> strip;
  {
    TiffPtr t(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(t);
    ASSERT_EQ(TIFFNumberOfStrips(t.get()), 1u);
    strip.resize(static_cast<size_t>(TIFFRawStripSize(t.get(), 0)));
    ASSERT_EQ(TIFFReadRawStrip(t.get(), 0, strip.data(), static_cast<tmsize_t>(strip.size())),
              static_cast<tmsize_t>(strip.size()));
  }
  fs::remove(path);

  std::vector<std::vector<uint8_t>> lines;
  FxT4Decoder d([&](const uint8_t* l, unsigned n) {
    lines.emplace_back(l, l + n);
    return true;
  });
  d.Feed(strip.data(), strip.size());
  d.Finish();  // libtiff writes no return-to-control after the last line
  EXPECT_EQ(d.BadCodes(), 0u);
  ASSERT_EQ(lines.size(), page.lines.size()) << page.name;
  for (size_t y = 0; y < lines.size(); ++y) ASSERT_EQ(lines[y], page.lines[y]) << page.name << " row " << y;

  // The same data as a received (stream-form) APF page.
  const fs::path apf = TempName(page.name + ".apf");
  {
    TFxApfWriter w;
    ASSERT_EQ(w.Create(apf), 0);
    w.SetPageFlags(static_cast<uint16_t>((page.fine ? apfHighRes : 0) | (page.width == 2048 ? apfWide : 0)));
    ASSERT_EQ(w.WriteStream(strip.data(), strip.size()), 0);
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.Finish("LIBTIFF"), 0);
  }
  TFxFaxUnpacker u;
  u.SetInFileName(apf.string());
  size_t y = 0;
  bool mismatch = false;
  u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len, unsigned) {
    if (starting || ending) return;
    if (y >= page.lines.size() || std::vector<uint8_t>(data, data + len) != page.lines[y]) mismatch = true;
    ++y;
  };
  u.UnpackPage(1);
  EXPECT_FALSE(mismatch);
  EXPECT_EQ(y, page.lines.size());
  fs::remove(apf);
}

INSTANTIATE_TEST_SUITE_P(Corpus, LibtiffCross, ::testing::Range<size_t>(0, kFxTestCorpusSize),
                         [](const ::testing::TestParamInfo<size_t>& param) {
                           std::string n = FxTestCorpusName(param.param);
                           for (char& c : n) {
                             if (c == '-') c = '_';
                           }
                           return n;
                         });

}  // namespace
