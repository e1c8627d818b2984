// Whole-fax export to TIFF Class F and PDF, checked with independent readers:
// libtiff, tiffinfo, efix and poppler.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TestPages.h"
#include "TestUtil.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxExport.h"
#include "faximage/FaxUnpacker.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<uint8_t>>;

struct Raster {
  unsigned width = 0;
  unsigned height = 0;
  Rows rows;  // width/8 bytes each, 1 = black
  bool Black(int x, int y) const {
    if (x < 0 || y < 0 || x >= static_cast<int>(width) || y >= static_cast<int>(height)) return false;
    return (rows[static_cast<size_t>(y)][static_cast<size_t>(x) / 8] >> (7 - x % 8)) & 1u;
  }
};

// The pages as the unpacker decodes them, full page width.
std::vector<Raster> UnpackAll(const fs::path& apf) {
  TFxFaxUnpacker u;
  u.SetInFileName(apf.string());
  std::vector<Raster> pages;
  const unsigned count = u.PageCount();
  TFxApfReader reader;
  EXPECT_EQ(reader.Open(apf), 0);
  for (unsigned n = 1; n <= count; ++n) {
    ApfPageHeader h;
    uint64_t offset = 0;
    if (reader.FindPage(n, h, offset) < 0) break;
    Raster r;
    r.width = h.Width();
    u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len, unsigned) {
      if (starting || ending) return;
      std::vector<uint8_t> row(r.width / 8, 0);
      std::memcpy(row.data(), data, std::min<size_t>(len, row.size()));
      r.rows.push_back(std::move(row));
    };
    try {
      u.UnpackPage(n);
    } catch (const EFxImageError&) {
      break;
    }
    r.height = static_cast<unsigned>(r.rows.size());
    pages.push_back(std::move(r));
  }
  return pages;
}

// Reads one or more concatenated binary PBM (P4) or PGM (P5) images; PGM
// pixels darker than mid-grey are black.
std::vector<Raster> ReadNetpbm(const std::vector<uint8_t>& d) {
  std::vector<Raster> out;
  size_t pos = 0;
  auto skip = [&] {
    while (pos < d.size() && (std::isspace(d[pos]) || d[pos] == '#')) {
      if (d[pos] == '#')
        while (pos < d.size() && d[pos] != '\n') ++pos;
      else
        ++pos;
    }
  };
  auto number = [&] {
    skip();
    unsigned v = 0;
    while (pos < d.size() && std::isdigit(d[pos])) v = v * 10 + (d[pos++] - '0');
    return v;
  };
  while (pos + 2 < d.size() && d[pos] == 'P') {
    const bool gray = d[pos + 1] == '5';
    pos += 2;
    Raster r;
    r.width = number();
    r.height = number();
    if (gray) number();
    ++pos;
    const size_t rowBytes = (r.width + 7) / 8;
    for (unsigned y = 0; y < r.height; ++y) {
      std::vector<uint8_t> row(rowBytes, 0);
      if (gray) {
        for (unsigned x = 0; x < r.width && pos < d.size(); ++x, ++pos)
          if (d[pos] < 128) row[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
      } else {
        for (size_t i = 0; i < rowBytes && pos < d.size(); ++i) row[i] = d[pos++];
      }
      r.rows.push_back(std::move(row));
    }
    out.push_back(std::move(r));
  }
  return out;
}

int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

// A fax of mixed pages: text at normal resolution, the photograph at fine
// resolution, a wide page with runs of every length.
fs::path MakeMixedFax(const TTempFolder& dir) {
  const fs::path path = dir / "mixed.apf";
  TFxApfWriter w;
  EXPECT_EQ(w.Create(path), 0);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  for (size_t index : {size_t{0}, size_t{3}, size_t{8}}) {
    const FxTestPage page = FxTestCorpusPage(index);
    w.SetPageFlags(static_cast<uint16_t>((page.fine ? apfHighRes : 0) | (page.width == 2048 ? apfWide : 0)));
    for (const auto& line : page.lines) {
      EXPECT_EQ(w.WriteRecord(rec.data(), FxT4::CodeLine(line.data(), page.width, 0, rec.data())), 0);
    }
    EXPECT_EQ(w.EndPage(), 0);
  }
  EXPECT_EQ(w.Finish("MIXED"), 0);
  return path;
}

void ExpectSamePages(const std::vector<Raster>& got, const std::vector<Raster>& want, const std::string& who) {
  ASSERT_EQ(got.size(), want.size()) << who;
  for (size_t p = 0; p < want.size(); ++p) {
    ASSERT_EQ(got[p].width, want[p].width) << who << " page " << p + 1;
    ASSERT_EQ(got[p].height, want[p].height) << who << " page " << p + 1;
    for (size_t y = 0; y < want[p].rows.size(); ++y)
      ASSERT_EQ(got[p].rows[y], want[p].rows[y]) << who << " page " << p + 1 << " row " << y;
  }
}

std::vector<Raster> ReadTiffWithLibtiff(const fs::path& tif, std::vector<std::vector<uint32_t>>& tags) {
  std::vector<Raster> pages;
  std::unique_ptr<TIFF, void (*)(TIFF*)> t(TIFFOpen(tif.c_str(), "r"), TIFFClose);
  EXPECT_TRUE(t);
  if (!t) return pages;
  do {
    Raster r;
    uint32_t w = 0, h = 0;
    uint16_t compression = 0, fill = 0, unit = 0, page = 0, total = 0, photometric = 0;
    uint32_t options = 0;
    float xres = 0, yres = 0;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t.get(), TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t.get(), TIFFTAG_FILLORDER, &fill);
    TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(t.get(), TIFFTAG_GROUP3OPTIONS, &options);
    TIFFGetField(t.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetField(t.get(), TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(t.get(), TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(t.get(), TIFFTAG_PAGENUMBER, &page, &total);
    tags.push_back({compression, fill, photometric, options & GROUP3OPT_2DENCODING, unit, static_cast<uint32_t>(xres),
                    static_cast<uint32_t>(yres), page, total});
    r.width = w;
    r.height = h;
    for (uint32_t y = 0; y < h; ++y) {
      std::vector<uint8_t> row(w / 8);
      EXPECT_EQ(TIFFReadScanline(t.get(), row.data(), y, 0), 1) << "row " << y;
      r.rows.push_back(std::move(row));
    }
    pages.push_back(std::move(r));
  } while (TIFFReadDirectory(t.get()) == 1);
  return pages;
}

// tiffinfo -D decodes every strip; nothing on its error output.
void ExpectTiffinfoClean(const TTempFolder& dir, const fs::path& tif) {
  const fs::path errors = dir / "tiffinfo.err";
  ASSERT_EQ(Shell("tiffinfo -D '" + tif.string() + "' >/dev/null 2>'" + errors.string() + "'"), 0);
  const std::vector<uint8_t> text = FxReadFile(errors);
  EXPECT_TRUE(text.empty()) << std::string(text.begin(), text.end());
}

std::vector<Raster> ReadTiffWithEfix(const TTempFolder& dir, const fs::path& tif) {
  const fs::path pbm = dir / "efix.pbm";
  EXPECT_EQ(Shell("efix -v e -i tiffg3 -o pbm '" + tif.string() + "' >'" + pbm.string() + "'"), 0);
  return ReadNetpbm(FxReadFile(pbm));
}

TEST(FaxExport, TiffClassFCopiesEveryPageReadableByLibtiffAndEfix) {
  TTempFolder dir;
  const fs::path apf = MakeMixedFax(dir);
  const fs::path tif = dir / "fax.tif";
  FxExportResult result;
  ASSERT_EQ(FxExportTiff(apf, tif, result), 0);
  EXPECT_EQ(result.pagesInFile, 3u);
  EXPECT_EQ(result.pagesWritten, 3u);
  const std::vector<Raster> want = UnpackAll(apf);

  std::vector<std::vector<uint32_t>> tags;
  ExpectSamePages(ReadTiffWithLibtiff(tif, tags), want, "libtiff");
  ASSERT_EQ(tags.size(), 3u);
  // Compression, FillOrder, Photometric, 2-D flag, unit, resolution, page number.
  EXPECT_EQ(tags[0], (std::vector<uint32_t>{3, 2, 0, 0, 2, 204, 98, 0, 3}));
  EXPECT_EQ(tags[1], (std::vector<uint32_t>{3, 2, 0, 0, 2, 204, 196, 1, 3}));
  EXPECT_EQ(tags[2][6], 196u);
  EXPECT_EQ(tags[2][7], 2u);
  ExpectTiffinfoClean(dir, tif);
  ExpectSamePages(ReadTiffWithEfix(dir, tif), want, "efix");
}

TEST(FaxExport, PdfPagesHaveTheFaxSizeAndRenderAsTheFax) {
  TTempFolder dir;
  const fs::path apf = MakeMixedFax(dir);
  const fs::path pdf = dir / "fax.pdf";
  FxExportResult result;
  ASSERT_EQ(FxExportPdf(apf, pdf, result), 0);
  const std::vector<Raster> want = UnpackAll(apf);

  // Page sizes in points, from pdfinfo.
  const fs::path info = dir / "info.txt";
  ASSERT_EQ(Shell("pdfinfo -f 1 -l 3 '" + pdf.string() + "' >'" + info.string() + "' 2>&1"), 0);
  const std::vector<uint8_t> infoBytes = FxReadFile(info);
  const std::string text(infoBytes.begin(), infoBytes.end());
  EXPECT_NE(text.find("Pages:           3"), std::string::npos) << text;
  for (size_t p = 0; p < want.size(); ++p) {
    const std::string key = "Page    " + std::to_string(p + 1) + " size: ";
    const size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos) << text;
    double w = 0, h = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at + key.size(), "%lf x %lf", &w, &h), 2);
    const double dpi = p == 0 ? 98.0 : 196.0;
    EXPECT_NEAR(w, want[p].width / 204.0 * 72.0, w / 100.0) << "page " << p + 1;
    EXPECT_NEAR(h, want[p].height / dpi * 72.0, h / 100.0) << "page " << p + 1;
  }

  // The images decode to the exact pixels.
  ASSERT_EQ(Shell("pdfimages '" + pdf.string() + "' '" + (dir / "im").string() + "'"), 0);
  std::vector<Raster> images;
  for (int i = 0; i < 3; ++i) {
    auto one = ReadNetpbm(FxReadFile(dir / ("im-00" + std::to_string(i) + ".pbm")));
    ASSERT_EQ(one.size(), 1u);
    images.push_back(std::move(one[0]));
  }
  ExpectSamePages(images, want, "pdfimages");

  // Rendered at the page's own resolution: every pixel matches the fax
  // within one pixel's resampling edge.
  for (size_t p = 0; p < want.size(); ++p) {
    const std::string n = std::to_string(p + 1);
    const std::string root = (dir / ("r" + n)).string();
    ASSERT_EQ(Shell("pdftoppm -gray -aa no -aaVector no -singlefile -f " + n + " -l " + n + " -rx 204 -ry " +
                  (p == 0 ? "98 '" : "196 '") + pdf.string() + "' '" + root + "'"),
              0);
    const std::vector<Raster> shown = ReadNetpbm(FxReadFile(root + ".pgm"));
    ASSERT_EQ(shown.size(), 1u);
    const Raster& s = shown[0];
    const Raster& f = want[p];
    EXPECT_LE(s.width - f.width, 1u);
    EXPECT_LE(s.height - f.height, 1u);
    unsigned far = 0;
    for (int y = 0; y < static_cast<int>(f.height); ++y) {
      for (int x = 0; x < static_cast<int>(f.width); ++x) {
        const bool black = s.Black(x, y);
        if (black == f.Black(x, y)) continue;
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy)
          for (int dx = -1; dx <= 1 && !near; ++dx) near = f.Black(x + dx, y + dy) == black;
        if (!near) ++far;
      }
    }
    EXPECT_EQ(far, 0u) << "page " << n;
  }
}

// A received page: noise before the first end-of-line, a line of the wrong
// width, a short line, a 1728-pixel line on a wide page. Readers drop or pad
// those lines, so the page is coded afresh from what the unpacker shows.
TEST(FaxExport, PagesWithLinesReadersDropAreCodedAfresh) {
  TTempFolder dir;
  const fs::path apf = dir / "received.apf";
  const FxTestPage text = FxTestCorpusPage(0);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  {
    TFxApfWriter w;
    ASSERT_EQ(w.Create(apf), 0);
    // Page 1: a clean stream-form page with noise before its first line.
    w.SetPageFlags(0);
    const std::vector<uint8_t> noise{0xFF, 0x5A, 0xA7};
    ASSERT_EQ(w.WriteStream(noise.data(), noise.size()), 0);
    for (size_t y = 0; y < 40; ++y) {
      ASSERT_EQ(w.WriteStream(rec.data(), FxT4::CodeLine(text.lines[y].data(), 1728, 0, rec.data())), 0);
    }
    ASSERT_EQ(w.WriteStream(rec.data(), FxT4::PageEndRecord(rec.data())), 0);
    ASSERT_EQ(w.EndPage(), 0);
    // Page 2: lines of 64 pixels (two in a row, then one) and of 2048 pixels
    // among good ones.
    w.SetPageFlags(apfHighRes);
    for (size_t y = 0; y < 30; ++y) {
      ASSERT_EQ(w.WriteRecord(rec.data(), FxT4::CodeLine(text.lines[y].data(), 1728, 0, rec.data())), 0);
      if (y == 5 || y == 20) {
        const auto shortLine = FxCodeRuns({10, 54});
        for (size_t k = 0; k < (y == 5 ? 2u : 1u); ++k) ASSERT_EQ(w.WriteRecord(shortLine.data(), shortLine.size()), 0);
      }
      if (y == 9) {
        const auto wideLine = FxCodeRuns({100, 1900, 48});
        ASSERT_EQ(w.WriteRecord(wideLine.data(), wideLine.size()), 0);
      }
    }
    ASSERT_EQ(w.EndPage(), 0);
    // Page 3: a wide page with blank top-margin records of 1728 pixels.
    w.SetPageFlags(apfWide);
    for (int y = 0; y < 4; ++y) ASSERT_EQ(w.WriteRecord(FxT4::kBlankRecord.data(), FxT4::kBlankRecord.size()), 0);
    const auto runs = FxCodeRuns({300, 20, 1728});
    for (int y = 0; y < 4; ++y) ASSERT_EQ(w.WriteRecord(runs.data(), runs.size()), 0);
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.Finish("RX"), 0);
  }
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(apf), 0);
  FxCodedPage page;
  ASSERT_EQ(FxReadCodedPage(reader, 1, page), 0);
  EXPECT_FALSE(page.recoded);
  EXPECT_EQ(page.rows, 40u);
  ASSERT_EQ(FxReadCodedPage(reader, 2, page), 0);
  EXPECT_TRUE(page.recoded);
  EXPECT_EQ(page.droppedLines, 3u);
  EXPECT_EQ(page.consecutiveDropped, 2u);
  ASSERT_EQ(FxReadCodedPage(reader, 3, page), 0);
  EXPECT_TRUE(page.recoded);
  EXPECT_EQ(page.rows, 8u);

  const std::vector<Raster> want = UnpackAll(apf);
  const fs::path tif = dir / "received.tif";
  FxExportResult result;
  ASSERT_EQ(FxExportTiff(apf, tif, result), 0);
  std::vector<std::vector<uint32_t>> tags;
  ExpectSamePages(ReadTiffWithLibtiff(tif, tags), want, "libtiff");
  ExpectTiffinfoClean(dir, tif);
  ExpectSamePages(ReadTiffWithEfix(dir, tif), want, "efix");
  {
    // The page that lost a line says so; the others are clean.
    std::unique_ptr<TIFF, void (*)(TIFF*)> t(TIFFOpen(tif.c_str(), "r"), TIFFClose);
    ASSERT_TRUE(t);
    uint16_t clean = 9;
    uint32_t bad = 0, consecutive = 0;
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_CLEANFAXDATA, &clean), 1);
    EXPECT_EQ(clean, CLEANFAXDATA_CLEAN);
    ASSERT_EQ(TIFFReadDirectory(t.get()), 1);
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_CLEANFAXDATA, &clean), 1);
    EXPECT_EQ(clean, CLEANFAXDATA_REGENERATED);
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_BADFAXLINES, &bad), 1);
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_CONSECUTIVEBADFAXLINES, &consecutive), 1);
    EXPECT_EQ(bad, 3u);
    EXPECT_EQ(consecutive, 2u);
  }

  const fs::path pdf = dir / "received.pdf";
  ASSERT_EQ(FxExportPdf(apf, pdf, result), 0);
  ASSERT_EQ(Shell("pdfimages '" + pdf.string() + "' '" + (dir / "im").string() + "'"), 0);
  for (int i = 0; i < 3; ++i) {
    auto one = ReadNetpbm(FxReadFile(dir / ("im-00" + std::to_string(i) + ".pbm")));
    ASSERT_EQ(one.size(), 1u);
    ExpectSamePages(one, {want[static_cast<size_t>(i)]}, "pdfimages page " + std::to_string(i + 1));
  }
}

// A received page as another fax program codes it (efax: its own fill bits
// and end-of-line placement) is copied unchanged and reads back exactly.
TEST(FaxExport, StreamPageCodedByEfaxIsCopied) {
  TTempFolder dir;
  const FxTestPage text = FxTestCorpusPage(1);
  std::vector<uint8_t> pbm;
  const std::string head = "P4\n1728 " + std::to_string(text.lines.size()) + "\n";
  pbm.assign(head.begin(), head.end());
  for (const auto& line : text.lines) pbm.insert(pbm.end(), line.begin(), line.end());
  FxWriteFile(dir / "page.pbm", pbm);
  ASSERT_EQ(Shell("efix -v e -i pbm -o fax '" + (dir / "page.pbm").string() + "' >'" + (dir / "page.g3").string() + "'"),
            0);
  std::vector<uint8_t> g3 = FxReadFile(dir / "page.g3");
  ASSERT_GT(g3.size(), 100u);
  for (uint8_t& b : g3) {  // efax writes the first bit in the most significant place
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1u) << (7 - i)));
    b = r;
  }
  const fs::path apf = dir / "efax.apf";
  {
    TFxApfWriter w;
    ASSERT_EQ(w.Create(apf), 0);
    w.SetPageFlags(apfHighRes);
    ASSERT_EQ(w.WriteStream(g3.data(), g3.size()), 0);
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.Finish("EFAX"), 0);
  }
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(apf), 0);
  FxCodedPage page;
  ASSERT_EQ(FxReadCodedPage(reader, 1, page), 0);
  EXPECT_FALSE(page.recoded);
  EXPECT_EQ(page.data, g3);

  Raster want;
  want.width = 1728;
  want.height = static_cast<unsigned>(text.lines.size());
  want.rows = text.lines;
  ExpectSamePages(UnpackAll(apf), {want}, "unpacker");
  const fs::path tif = dir / "efax.tif";
  const fs::path pdf = dir / "efax.pdf";
  FxExportResult result;
  ASSERT_EQ(FxExportTiff(apf, tif, result), 0);
  ASSERT_EQ(FxExportPdf(apf, pdf, result), 0);
  std::vector<std::vector<uint32_t>> tags;
  ExpectSamePages(ReadTiffWithLibtiff(tif, tags), {want}, "libtiff");
  ExpectTiffinfoClean(dir, tif);
  ASSERT_EQ(Shell("pdfimages '" + pdf.string() + "' '" + (dir / "im").string() + "'"), 0);
  ExpectSamePages(ReadNetpbm(FxReadFile(dir / "im-000.pbm")), {want}, "pdfimages");
}

TEST(FaxExport, DamagedFilesGiveTheGoodPagesOrAnErrorAndNoFile) {
  TTempFolder dir;
  const fs::path apf = MakeMixedFax(dir);
  std::vector<uint8_t> bytes = FxReadFile(apf);
  const fs::path tif = dir / "out.tif";
  const fs::path pdf = dir / "out.pdf";
  FxExportResult result;

  // Cut inside the third page: the first two are exported.
  const fs::path cut = dir / "cut.apf";
  FxWriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.end() - 100));
  ASSERT_EQ(FxExportTiff(cut, tif, result), 0);
  EXPECT_EQ(result.pagesInFile, 3u);
  EXPECT_EQ(result.pagesWritten, 2u);
  std::vector<std::vector<uint32_t>> tags;
  EXPECT_EQ(ReadTiffWithLibtiff(tif, tags).size(), 2u);
  ASSERT_EQ(FxExportPdf(cut, pdf, result), 0);
  EXPECT_EQ(result.pagesWritten, 2u);

  // Cut inside the first page, a wrong signature, no pages: an error and
  // no output.
  fs::remove(tif);
  fs::remove(pdf);
  FxWriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 200));
  EXPECT_EQ(FxExportTiff(cut, tif, result), FxErr::ecFaxBadFormat);
  EXPECT_FALSE(fs::exists(tif));
  EXPECT_EQ(FxExportPdf(cut, pdf, result), FxErr::ecFaxBadFormat);
  EXPECT_FALSE(fs::exists(pdf));
  bytes[0] = 'X';
  FxWriteFile(cut, bytes);
  EXPECT_EQ(FxExportTiff(cut, tif, result), FxErr::ecFaxBadFormat);
  FxWriteApf(cut, {}, 0);
  EXPECT_EQ(FxExportPdf(cut, pdf, result), FxErr::ecBadArgument);
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_FALSE(fs::exists(tif));

  // An output that cannot be written: an error, nothing created.
  EXPECT_LT(FxExportPdf(apf, dir / "missing" / "x.pdf", result), 0);
  EXPECT_EQ(FxExportTiff(apf, dir / "missing" / "x.tif", result), -ENOENT);
}

}  // namespace
