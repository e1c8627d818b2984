// Document import against real files: TIFFs written by libtiff and recoded
// by tiffcp, PDFs written by hand and encrypted by Ghostscript, PostScript
// that never ends, and damaged input of every kind. A failed import must
// leave nothing beside the target.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "docimport/DocImport.h"
#include "docimport/tests/FaxPages.h"
#include "docimport/tests/PdfMaker.h"
#include "faximage/FaxExport.h"
#include "testsupport/TempFolder.h"

// Fontconfig, which poppler asks for substitute fonts, keeps a cache it
// never frees; LeakSanitizer would report it at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

namespace fs = std::filesystem;

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// Names in dir other than the inputs: what an import left behind.
std::vector<std::string> Leftovers(const fs::path& dir, const std::vector<std::string>& inputs) {
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (std::find(inputs.begin(), inputs.end(), name) == inputs.end()) left.push_back(name);
  }
  return left;
}

// An uncompressed bi-level fax page: a frame, stripes that differ per page.
void WriteRawFaxTiff(const fs::path& path, const std::vector<float>& pageResolutions) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  const uint32_t width = 1728;
  for (size_t p = 0; p < pageResolutions.size(); ++p) {
    const uint32_t height = 300 + 50 * static_cast<uint32_t>(p);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, pageResolutions[p]);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pageResolutions.size()));
    std::vector<uint8_t> row(width / 8);
    std::string pbm = "P4\n1728 " + std::to_string(height) + "\n";
    for (uint32_t y = 0; y < height; ++y) {
      std::fill(row.begin(), row.end(), 0);
      for (uint32_t x = 0; x < width; ++x) {
        const bool frame = x < 4 || x >= width - 4 || y < 4 || y >= height - 4;
        const bool stripe = ((x / (8 + 4 * p)) + (y / 16)) % 3 == 0 && y > 40 && y < height - 40;
        if (frame || stripe) row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80u >> (x % 8)));
      }
      ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
      pbm.append(reinterpret_cast<const char*>(row.data()), row.size());
    }
    // The same page as a PBM file, for efix.
    WriteBytes(path.parent_path() / ("page" + std::to_string(p + 1) + ".pbm"), pbm);
    ASSERT_TRUE(TIFFWriteDirectory(tif));
  }
  TIFFClose(tif);
}

TEST(ImportTiff, ClassFPagesSurviveImportAndExportPixelForPixel) {
  if (!HaveTool("tiffcp") || !HaveTool("tiffcmp")) GTEST_SKIP() << "libtiff-tools is not installed";
  TTempFolder dir;
  WriteRawFaxTiff(dir / "raw.tif", {196.0f, 98.0f, 196.0f});
  ASSERT_EQ(Shell("tiffcp -c g3 " + (dir / "raw.tif").string() + " " + (dir / "g3.tif").string()), 0);
  // efix codes each page into a file of its own (one run per page: given
  // several pages at once it labels each file with the next page's length).
  std::vector<std::string> sources{"g3.tif"};
  for (int p = 1; p <= 3 && HaveTool("efix"); ++p) {
    const std::string n = std::to_string(p);
    ASSERT_EQ(Shell("cd " + dir.Path().string() + " && efix -i pbm -o tiffg3 -n efix" + n + ".tif page" + n + ".pbm"),
              0);
    sources.push_back("efix" + n + ".tif");
  }
  for (const auto& source : sources) {
    SCOPED_TRACE(source);
    FxImportOptions options;
    options.resolution = FxImportResolution::normal;  // the pages' own resolutions win
    FxImportResult result;
    ASSERT_EQ(FxImportDocument(dir / source, dir / "fax.apf", options, result), 0) << result.error;
    const auto pages = DecodeFax(dir / "fax.apf");
    ASSERT_EQ(pages.size(), result.pagesWritten);
    if (source == "g3.tif") {
      ASSERT_EQ(pages.size(), 3u);
      EXPECT_TRUE(pages[0].fine);
      EXPECT_FALSE(pages[1].fine);
      EXPECT_TRUE(pages[2].fine);
    } else {
      ASSERT_EQ(pages.size(), 1u);
    }
    FxExportResult exported;
    ASSERT_EQ(FxExportTiff(dir / "fax.apf", dir / "back.tif", exported), 0);
    EXPECT_EQ(Shell("tiffcmp " + (dir / source).string() + " " + (dir / "back.tif").string()), 0);
    fs::remove(dir / "fax.apf");
  }
}

// A little-endian TIFF of one page built by hand: width, height, 8-bit grey,
// one strip at the given offset and length.
std::string HandTiff(uint32_t width, uint32_t height, uint32_t stripOffset, uint32_t stripBytes) {
  std::string t("II*\0\x08\0\0\0", 8);
  auto u16 = [&](uint32_t v) { t += static_cast<char>(v & 0xFF); t += static_cast<char>((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    u16(tag);
    u16(type);
    u32(1);
    if (type == 3) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  };
  u16(8);
  entry(256, 4, width);
  entry(257, 4, height);
  entry(258, 3, 8);
  entry(259, 3, 1);
  entry(262, 3, 1);
  entry(273, 4, stripOffset);
  entry(278, 4, height);
  entry(279, 4, stripBytes);
  u32(0);
  t += std::string(64, '\x80');
  return t;
}

TEST(ImportTiff, AbsurdOrDamagedPagesAreRefusedOrLeftOut) {
  TTempFolder dir;
  // 30,000 x 30,000 pixels claimed by a file of a few bytes.
  WriteBytes(dir / "huge.tif", HandTiff(30000, 30000, 120, 900000000));
  // Strip data that points past the end of the file.
  WriteBytes(dir / "nostrip.tif", HandTiff(100, 100, 5000000, 10000));
  WriteBytes(dir / "garbage.tif", std::string("II*\0", 4) + std::string(200, '\xEE'));
  const std::vector<std::string> inputs{"huge.tif", "nostrip.tif", "garbage.tif"};
  for (const auto& name : inputs) {
    SCOPED_TRACE(name);
    FxImportResult result;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(FxImportDocument(dir / name, dir / "out.apf", {}, result), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(result.error.empty());
    EXPECT_TRUE(Leftovers(dir.Path(), inputs).empty());
  }

  // A good page followed by one whose coded strip is cut short: the good
  // page is kept and the damage reported.
  if (!HaveTool("tiffcp")) return;
  WriteRawFaxTiff(dir / "raw.tif", {196.0f});
  ASSERT_EQ(Shell("tiffcp -c g3 " + (dir / "raw.tif").string() + " " + (dir / "raw.tif").string() + " " +
                (dir / "two.tif").string()),
            0);
  std::string bytes;
  {
    std::ifstream in(dir / "two.tif", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  // tiffcp writes each page's strip before its directory: overwrite the
  // middle of the second page's strip with codes that match nothing.
  TIFF* tif = TIFFOpen((dir / "two.tif").c_str(), "r");
  ASSERT_NE(tif, nullptr);
  ASSERT_TRUE(TIFFSetDirectory(tif, 1));
  uint64_t* offsets = nullptr;
  uint64_t* counts = nullptr;
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets));
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts));
  const uint64_t from = offsets[0] + counts[0] / 3, to = offsets[0] + counts[0];
  TIFFClose(tif);
  for (uint64_t i = from; i < to; ++i) bytes[i] = '\0';
  WriteBytes(dir / "two.tif", bytes);
  FxImportResult result;
  ASSERT_EQ(FxImportDocument(dir / "two.tif", dir / "out.apf", {}, result), 0) << result.error;
  EXPECT_EQ(result.pagesWritten, 1u);
  EXPECT_EQ(result.warnings.size(), 1u);
}

TEST(ImportPdf, OddPagesAreFittedOrSkippedAndBadFilesRefused) {
  TTempFolder dir;
  // A zero-size page beside a good one, and a strip 5 x 200 inches with a
  // rule down its whole length.
  HandPdfPage empty{0, 0, ""};
  HandPdfPage letter{612, 792, "BT /F1 24 Tf 72 700 Td (Page two) Tj ET"};
  HandPdfPage strip{360, 14400, "2 w 180 72 m 180 14328 l S"};
  WriteBytes(dir / "odd.pdf", MakeHandPdf({empty, letter, strip}));
  FxImportResult result;
  ASSERT_EQ(FxImportDocument(dir / "odd.pdf", dir / "odd.apf", {}, result), 0) << result.error;
  // Poppler gives a page without a media box the default size; either way
  // the page is blank or left out, and the others are kept.
  EXPECT_EQ(result.pagesWritten + result.pagesSkipped, 3u);
  const auto pages = DecodeFax(dir / "odd.apf");
  ASSERT_EQ(pages.size(), result.pagesWritten);
  ASSERT_GE(pages.size(), 2u);
  if (pages.size() == 3) {
    EXPECT_EQ(pages[0].CountBlack(0, 0, 1728, pages[0].Height()), 0u);
  }
  const DecodedPage& tall = pages.back();
  // Scaled down as a whole to 30 inches: nothing cut, the rule unbroken.
  EXPECT_LE(tall.Height(), 30u * 196 + 2);
  EXPECT_GE(tall.Height(), 30u * 196 - 2);
  const unsigned from = tall.Height() * 72 / 14400 + 2, to = tall.Height() * 14328 / 14400 - 2;
  for (unsigned y = from; y < to; ++y) ASSERT_GT(tall.CountBlack(0, y, 1728, y + 1), 0u) << "row " << y;

  // Damaged, empty and encrypted documents: a message and no file.
  WriteBytes(dir / "broken.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 9 0 R >>\ngarbage\n%%EOF\n");
  WriteBytes(dir / "noise.pdf", "%PDF-1.7\n" + std::string(3000, '\x07'));
  std::vector<std::string> bad{"broken.pdf", "noise.pdf"};
  if (HaveTool("gs")) {
    WriteBytes(dir / "plain.pdf", MakeHandPdf({letter}));
    ASSERT_EQ(Shell("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOwnerPassword=owner -sUserPassword=secret "
                  "-sOutputFile=" + (dir / "locked.pdf").string() + " " + (dir / "plain.pdf").string()),
              0);
    bad.push_back("locked.pdf");
  }
  // Cancelled after the first page: no file.
  FxImportOptions cancelling;
  cancelling.progress = [](unsigned done, unsigned) { return done < 1; };
  EXPECT_EQ(FxImportDocument(dir / "odd.pdf", dir / "bad.apf", cancelling, result), ecImportCancelled);

  std::vector<std::string> inputs = bad;
  inputs.insert(inputs.end(), {"odd.pdf", "odd.apf", "plain.pdf"});
  for (const auto& name : bad) {
    SCOPED_TRACE(name);
    const int rc = FxImportDocument(dir / name, dir / "bad.apf", {}, result);
    EXPECT_NE(rc, 0);
    if (name == "locked.pdf") {
      EXPECT_EQ(rc, ecImportEncrypted);
      EXPECT_NE(result.error.find("password"), std::string::npos) << result.error;
    }
    EXPECT_FALSE(result.error.empty());
    EXPECT_TRUE(Leftovers(dir.Path(), inputs).empty());
  }
}

TEST(ImportPostScript, EndlessProgramIsStoppedAndCancelEndsTheImport) {
  if (!HaveTool("gs")) GTEST_SKIP() << "ghostscript is not installed";
  TTempFolder dir;
  WriteBytes(dir / "loop.ps", "%!PS\n{ 1 pop } loop\n");
  FxImportOptions options;
  options.postScriptTimeLimit = std::chrono::seconds(2);
  FxImportResult result;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FxImportDocument(dir / "loop.ps", dir / "loop.apf", options, result), ecImportTimeLimit);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_FALSE(result.error.empty());

  // Cancelled while Ghostscript runs: it is killed at once.
  options.postScriptTimeLimit = std::chrono::seconds(60);
  int calls = 0;
  options.progress = [&](unsigned, unsigned) { return ++calls < 3; };
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(FxImportDocument(dir / "loop.ps", dir / "loop.apf", options, result), ecImportCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(Leftovers(dir.Path(), {"loop.ps"}).empty());

  // Without Ghostscript: a message that says what is missing.
  options.ghostscript = "/nonexistent/gs";
  EXPECT_EQ(FxImportDocument(dir / "loop.ps", dir / "loop.apf", options, result), ecImportToolFailed);
  EXPECT_NE(result.error.find("Ghostscript"), std::string::npos) << result.error;
  options.ghostscript = "gs";

  // PostScript that draws pages becomes those pages.
  WriteBytes(dir / "two.ps",
             "%!PS\n/Helvetica findfont 20 scalefont setfont\n72 700 moveto (One) show showpage\n"
             "72 700 moveto (Two) show showpage\n");
  options.progress = nullptr;
  ASSERT_EQ(FxImportDocument(dir / "two.ps", dir / "two.apf", options, result), 0) << result.error;
  EXPECT_EQ(result.pagesWritten, 2u);
}

TEST(ImportText, TextGoesThroughTheConverterAndCancelLeavesNothing) {
  TTempFolder dir;
  std::string text;
  for (int i = 0; i < 150; ++i) text += "Line " + std::to_string(i) + " of a letter\n";
  WriteBytes(dir / "letter.txt", text);
  FxImportOptions options;
  options.resolution = FxImportResolution::normal;
  FxImportResult result;
  ASSERT_EQ(FxImportDocument(dir / "letter.txt", dir / "letter.apf", options, result), 0) << result.error;
  EXPECT_EQ(result.pagesWritten, 3u);
  const auto pages = DecodeFax(dir / "letter.apf");
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_FALSE(pages[0].fine);

  options.progress = [](unsigned, unsigned) { return false; };
  EXPECT_EQ(FxImportDocument(dir / "letter.txt", dir / "gone.apf", options, result), ecImportCancelled);
  EXPECT_TRUE(Leftovers(dir.Path(), {"letter.txt", "letter.apf"}).empty());
  WriteBytes(dir / "blob.bin", std::string("\0\1\2", 3));
  EXPECT_EQ(FxImportDocument(dir / "blob.bin", dir / "gone.apf", {}, result), ecImportUnknownFormat);
}

}  // namespace
