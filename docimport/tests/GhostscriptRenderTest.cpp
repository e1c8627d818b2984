// PDF pages rendered by Ghostscript's 1-bit device through a pipe: the PBM
// stream cut into pages whatever the chunks, the pages equal to poppler's
// in size and close in ink, and a Ghostscript that fails, falls silent or
// sends half a page leaves the remaining pages to poppler.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "docimport/DocImport.h"
#include "docimport/PbmStream.h"
#include "docimport/tests/FaxPages.h"
#include "docimport/tests/PdfMaker.h"
#include "testsupport/TempFolder.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool HaveGhostscript() { return std::system("command -v gs >/dev/null 2>&1") == 0; }

// What a stream reports, as text: "[w x h]" per page, the first byte of each
// row, "|" at each page's end.
struct Recorder {
  std::string log;
  explicit Recorder(FxPbmStream& s) {
    s.pageStart = [this](unsigned w, unsigned h) {
      log += "[" + std::to_string(w) + "x" + std::to_string(h) + "]";
      return 0;
    };
    s.row = [this](const uint8_t* row) {
      log += std::to_string(row[0]) + ",";
      return 0;
    };
    s.pageEnd = [this] {
      log += "|";
      return 0;
    };
  }
};

int FeedAll(FxPbmStream& s, const std::string& bytes, size_t chunk) {
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    if (const int rc = s.Feed(p, std::min(chunk, bytes.size() - at)); rc != 0) return rc;
  }
  return 0;
}

TEST(PbmStream, PagesAndRowsComeOutWhateverTheChunksAndBadHeadersAreRefused) {
  const std::string two = std::string("P4\n# made by hand\n10 3\n") + std::string("\x80\x00\x40\x00\x20\x00", 6) +
                          "P4 16\t2\n" + std::string("\x01\x02\x03\x04", 4);
  for (size_t chunk : {size_t{1}, size_t{3}, two.size()}) {
    SCOPED_TRACE(chunk);
    FxPbmStream s(1728, 100);
    Recorder r(s);
    EXPECT_EQ(FeedAll(s, two, chunk), 0) << s.Problem();
    EXPECT_EQ(r.log, "[10x3]128,64,32,|[16x2]1,3,|");
    EXPECT_TRUE(s.BetweenPages());
  }
  // Cut off inside a page: the page is not finished.
  FxPbmStream cut(1728, 100);
  Recorder r(cut);
  EXPECT_EQ(FeedAll(cut, "P4\n8 2\n\x01", 1), 0);
  EXPECT_EQ(r.log, "[8x2]1,");
  EXPECT_FALSE(cut.BetweenPages());

  const std::vector<std::string> bads{"P5\n1 1\n",  "P4\n2000 10\n", "P4\n10 101\n", "P4\n10x3\n", "P4\n0 5\n",
                                      "P4\n99999999999 1\n", "P4" + std::string(300, ' ')};
  for (const std::string& bad : bads) {
    SCOPED_TRACE(bad);
    FxPbmStream s(1728, 100);
    EXPECT_EQ(FeedAll(s, bad, 1), ecImportDamaged);
    EXPECT_FALSE(s.Problem().empty());
  }
}

class GhostscriptPdf : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveGhostscript()) GTEST_SKIP() << "ghostscript is not installed";
    // Letter, A4, legal (scaled onto the fax width) and landscape.
    const std::string text =
        "BT /F1 14 Tf 72 500 Td (Rendered the same either way 0123456789) Tj ET\n0.5 w 72 450 m 500 450 l S\n"
        "72 300 100 60 re f\n";
    const HandPdfPage letter{612, 792, text}, a4{595, 842, text}, legal{612, 1008, text}, wide{792, 612, text};
    pdf_ = dir_ / "mixed.pdf";
    std::ofstream(pdf_, std::ios::binary) << MakeHandPdf({letter, letter, a4, legal, wide});
  }

  // A stand-in for Ghostscript: a shell script.
  std::string FakeGhostscript(const std::string& name, const std::string& body) {
    const fs::path script = dir_ / name;
    std::ofstream(script, std::ios::binary) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(script, fs::perms::owner_all);
    return script.string();
  }

  std::vector<DecodedPage> Import(const FxImportOptions& options, FxImportResult& result, const char* name) {
    const fs::path apf = dir_ / name;
    EXPECT_EQ(FxImportDocument(pdf_, apf, options, result), 0) << result.error;
    return DecodeFax(apf);
  }

  std::vector<DecodedPage> ByPoppler() {
    FxImportOptions options;
    options.ghostscript = (dir_ / "no-such-gs").string();
    FxImportResult result;
    auto pages = Import(options, result, "poppler.apf");
    EXPECT_TRUE(result.warnings.empty());
    return pages;
  }

  static void ExpectAlike(const DecodedPage& a, const DecodedPage& b) {
    EXPECT_EQ(a.fine, b.fine);
    EXPECT_NEAR(a.Height(), b.Height(), 1);
    const double inkA = static_cast<double>(a.CountBlack(0, 0, 1728, a.Height()));
    const double inkB = static_cast<double>(b.CountBlack(0, 0, 1728, b.Height()));
    EXPECT_GT(inkA, 10000);
    EXPECT_NEAR(inkA / inkB, 1.0, 0.1) << inkA << " against " << inkB;
    // The filled box lands in the same place within a pixel or two.
    const unsigned y = a.Height() / 2;
    EXPECT_NEAR(static_cast<double>(a.CountBlack(0, y, 1728, y + 1)), static_cast<double>(b.CountBlack(0, y, 1728, y + 1)), 4);
  }

  TTempFolder dir_;
  fs::path pdf_;
};

TEST_F(GhostscriptPdf, PagesMatchPopplersInSizeAndInk) {
  const auto reference = ByPoppler();
  ASSERT_EQ(reference.size(), 5u);
  FxImportResult result;
  const auto pages = Import({}, result, "gs.apf");
  EXPECT_TRUE(result.warnings.empty()) << result.warnings.front();
  ASSERT_EQ(pages.size(), 5u);
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(i + 1);
    ExpectAlike(pages[i], reference[i]);
  }
  // Normal resolution: half the rows.
  FxImportOptions normal;
  normal.resolution = FxImportResolution::normal;
  const auto halves = Import(normal, result, "normal.apf");
  ASSERT_EQ(halves.size(), 5u);
  EXPECT_FALSE(halves[0].fine);
  EXPECT_NEAR(halves[0].Height() * 2.0, pages[0].Height(), 2);
}

TEST_F(GhostscriptPdf, FailingSilentOrHalfPageGhostscriptLeavesTheRestToPoppler) {
  const auto reference = ByPoppler();
  ASSERT_EQ(reference.size(), 5u);
  struct Case {
    const char* name;
    std::string body;
    const char* warning;
  };
  const std::string halfPage = "printf 'P4\\n1728 2149\\n'; head -c 100000 /dev/zero | tr '\\000' '\\377'";
  for (const Case& c : {Case{"fails", "exit 3", "rendered again"}, Case{"silent", "exec sleep 30", "stopped answering"},
                        Case{"half", halfPage, "rendered again"},
                        Case{"wrong", "printf 'P4\\n100 100\\n'; head -c 1300 /dev/zero", "unexpected size"}}) {
    SCOPED_TRACE(c.name);
    FxImportOptions options;
    options.ghostscript = FakeGhostscript(c.name, c.body);
    options.postScriptTimeLimit = 500ms;
    FxImportResult result;
    const auto start = std::chrono::steady_clock::now();
    const auto pages = Import(options, result, "fallback.apf");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_NE(result.warnings[0].find(c.warning), std::string::npos) << result.warnings[0];
    // Every page, none of them the half page of solid black.
    ASSERT_EQ(pages.size(), 5u);
    for (size_t i = 0; i < pages.size(); ++i) ExpectAlike(pages[i], reference[i]);
  }
}

TEST_F(GhostscriptPdf, CancelStopsASilentGhostscriptAndLeavesNoFile) {
  FxImportOptions options;
  options.ghostscript = FakeGhostscript("silent", "exec sleep 30");
  const auto start = std::chrono::steady_clock::now();
  options.progress = [&](unsigned, unsigned) { return std::chrono::steady_clock::now() - start < 300ms; };
  FxImportResult result;
  EXPECT_EQ(FxImportDocument(pdf_, dir_ / "cancelled.apf", options, result), ecImportCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(fs::exists(dir_ / "cancelled.apf"));
}

}  // namespace
