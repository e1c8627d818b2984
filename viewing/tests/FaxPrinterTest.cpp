// The fax printer's sheets, printed to PDF and read back with poppler:
// where each page lands and at what size, the header and footer texts,
// four-up and two-up order, thin strokes, abort and damaged files.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

#include "faximage/tests/TestUtil.h"
#include "viewing/TFxFaxPrinterStatus.h"
#include "viewing/tests/PrintTestUtil.h"

namespace {

// Letter at 600 dpi in printer pixels, and the render resolution.
constexpr int kSheetW = 5100, kSheetH = 6600, kRenderDpi = 50;

QRect ToRender(const QRect& r, int printerDpi = 600) {
  const double s = double(kRenderDpi) / printerDpi;
  return QRect(int(std::lround(r.x() * s)), int(std::lround(r.y() * s)), int(std::lround(r.width() * s)),
               int(std::lround(r.height() * s)));
}

class FaxPrinterTest : public ::testing::Test {
 protected:
  void WriteFax(const std::string& name, unsigned pages) {
    std::vector<FxRawPage> raw;
    for (unsigned n = 1; n <= pages; ++n) raw.push_back(BlockPage(n));
    pages_ = raw;
    fax_ = dir_ / name;
    FxWriteApf(fax_, raw, apfHighRes);
  }
  // The page among all of the fax's pages that the region shows best, and
  // how far the region is from it.
  std::pair<unsigned, double> BestMatch(const QImage& sheet, const QRect& region) {
    unsigned best = 0;
    double bestDiff = 1e9;
    for (unsigned n = 1; n <= pages_.size(); ++n) {
      const double d = RegionDifference(sheet, region, pages_[n - 1]);
      if (d < bestDiff) bestDiff = d, best = n;
    }
    return {best, bestDiff};
  }

  TTempFolder dir_;
  std::filesystem::path fax_;
  std::vector<FxRawPage> pages_;
  TFxFaxPrinter printer_;
};

TEST(CaptionTags, ExpandsInPlaceAndDropsUnknownTags) {
  EXPECT_EQ(ExpandCaptionTags("Page: $P of $N", "X.APF", 2, 5), "Page: 2 of 5");
  EXPECT_EQ(ExpandCaptionTags("page: $p of $n", "X.APF", 2, 5), "page: 2 of 5");
  EXPECT_EQ(ExpandCaptionTags("A $Xyz B $", "X.APF", 1, 1), "A  B ");
  // Text brought in by a tag is not expanded again.
  EXPECT_EQ(ExpandCaptionTags("FILE: $F end", "A$P.APF", 7, 9), "FILE: A$P.APF end");
  EXPECT_EQ(ExpandCaptionTags("$Fx", "F.APF", 1, 1), "F.APF");
}

TEST(PrintLayout, WholeRatiosAreTakenWhenCloseAndWidePagesStayInTheArea) {
  // 2.025 times the page becomes exactly twice; 1.82 times stays.
  EXPECT_EQ(SnapToWholeRatio(QSize(3500, 4000), 1728, 2200), QSize(3456, 4000));
  // Just over half becomes exactly half; an exact size stays.
  EXPECT_EQ(SnapToWholeRatio(QSize(870, 1100), 1728, 2200), QSize(864, 1100));
  // A page of 2048 pixels fitted keeps to the area's height.
  const QRect area(10, 20, 1000, 1400);
  EXPECT_EQ(PageSizeOnPaper(area, 2048, 2200, TFaxPrintScale::psFitToPage, 300, 300), QSize(930, 1400));
  EXPECT_EQ(PageSizeOnPaper(area, 1728, 2200, TFaxPrintScale::psNone, 300, 300), QSize(2592, 1400));
}

TEST_F(FaxPrinterTest, FittedPagesFillTheSheetAtTheExpectedPlaceAndScale) {
  WriteFax("FIT.APF", 3);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  ASSERT_EQ(printer_.PageCount(), 3u);
  EXPECT_TRUE(printer_.FirstPageHighRes());
  EXPECT_FALSE(printer_.FirstPageWide());
  printer_.FaxHeader.Enabled = printer_.FaxFooter.Enabled = false;
  const auto pdf = dir_ / "fit.pdf";
  PrintToPdf(printer_, pdf);
  ASSERT_TRUE(printer_.PrintFax());
  const auto sheets = RenderSheets(pdf, kRenderDpi);
  ASSERT_EQ(sheets.size(), 3u);
  // 93% of the width, the whole height, from the top left.
  const QRect placed = ToRender(QRect(0, 0, int(std::lround(kSheetW * 0.93)), kSheetH));
  for (unsigned n = 1; n <= 3; ++n) {
    const auto [page, diff] = BestMatch(sheets[n - 1], placed);
    EXPECT_EQ(page, n);
    EXPECT_LT(diff, 8.0) << "sheet " << n;
    // Any other size or place matches worse.
    const int w = placed.width(), h = placed.height();
    for (const QRect& other : {placed.adjusted(0, 0, -w / 10, 0), placed.adjusted(0, 0, w / 10, 0),
                               placed.adjusted(0, 0, 0, -h / 10), placed.adjusted(0, 0, 0, h / 10),
                               placed.translated(w / 20, 0), placed.translated(0, h / 20)})
      EXPECT_GT(RegionDifference(sheets[n - 1], other, pages_[n - 1]), diff + 1.0);
  }
}

TEST_F(FaxPrinterTest, NaturalSizeIsTwoHundredFaxPixelsToTheInch) {
  WriteFax("NAT.APF", 1);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  printer_.FaxHeader.Enabled = printer_.FaxFooter.Enabled = false;
  printer_.PrintScale = TFaxPrintScale::psNone;
  const auto pdf = dir_ / "nat.pdf";
  PrintToPdf(printer_, pdf);
  ASSERT_TRUE(printer_.PrintFax());
  const auto sheets = RenderSheets(pdf, kRenderDpi);
  ASSERT_EQ(sheets.size(), 1u);
  // 1728 × 2200 at 200 dpi is 8.64 × 11 inches; the sheet cuts the right edge.
  const QRect placed = ToRender(QRect(0, 0, 1728 * 3, 2200 * 3));
  EXPECT_LT(RegionDifference(sheets[0], placed.intersected(sheets[0].rect()),
                             FxRawPage(pages_[0].begin(), pages_[0].end())),
            40.0);
  EXPECT_EQ(BestMatch(sheets[0], placed).first, 1u);
}

TEST_F(FaxPrinterTest, HeaderAndFooterCarryTheFileAndPageNumbers) {
  WriteFax("HEADFOOT.APF", 5);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  printer_.FaxHeader.Caption = "FILE: $F";
  printer_.FaxFooter.Caption = "Page: $P of $N";
  printer_.SetFirstPageToPrint(2);
  printer_.SetLastPageToPrint(4);
  const auto pdf = dir_ / "hf.pdf";
  PrintToPdf(printer_, pdf);
  ASSERT_TRUE(printer_.PrintFax());
  ASSERT_EQ(PdfSheetCount(pdf), 3);
  for (int sheet = 1; sheet <= 3; ++sheet) {
    const QString text = SheetText(pdf, sheet);
    EXPECT_TRUE(text.contains("FILE: HEADFOOT.APF")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("Page: %1 of 5").arg(sheet + 1))) << text.toStdString();
  }
  // Header on top, footer at the bottom, the page between the two lines.
  const auto sheets = RenderSheets(pdf, 300);
  ASSERT_EQ(sheets.size(), 3u);
  const QImage& s = sheets[0];
  auto rowInk = [&](int y) {
    int dark = 0;
    for (int x = 0; x < s.width(); ++x) dark += qGray(s.pixel(x, y)) < 200;
    return dark;
  };
  int headerLine = -1, footerLine = -1;
  for (int y = 0; y < s.height() / 10; ++y)
    if (rowInk(y) > s.width() * 9 / 10) { headerLine = y; break; }
  for (int y = s.height() - 1; y > s.height() * 9 / 10; --y)
    if (rowInk(y) > s.width() * 9 / 10) { footerLine = y; break; }
  ASSERT_GT(headerLine, 0);
  ASSERT_GT(footerLine, 0);
  // The footer's text lies below its line and within one text line of it.
  EXPECT_GT(s.height() - footerLine, 15);
  EXPECT_LT(s.height() - footerLine, 120);
  const QRect between(0, headerLine + 2, int(std::lround(s.width() * 0.93)), footerLine - headerLine - 4);
  EXPECT_LT(RegionDifference(s, between, pages_[1]), 10.0);
}

TEST_F(FaxPrinterTest, FourUpInPortraitAndTwoUpInLandscapeKeepTheOrder) {
  WriteFax("MULTI.APF", 9);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  printer_.FaxHeader.Enabled = printer_.FaxFooter.Enabled = false;
  printer_.MultiPage = true;
  printer_.SetFirstPageToPrint(3);
  printer_.SetLastPageToPrint(9);
  const auto pdf = dir_ / "four.pdf";
  PrintToPdf(printer_, pdf);
  ASSERT_TRUE(printer_.PrintFax());
  auto sheets = RenderSheets(pdf, kRenderDpi);
  ASSERT_EQ(sheets.size(), 2u);
  const int w = kSheetW / 2, h = kSheetH / 2;
  auto cell = [&](int col, int row, int cw, int ch) {
    return ToRender(QRect(col * cw + 2, row * ch + 2, int(std::lround((cw - 4) * 0.93)), ch - 4));
  };
  const unsigned expected[2][4] = {{3, 4, 5, 6}, {7, 8, 9, 0}};
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < 4; ++k) {
      const QRect r = cell(k % 2, k / 2, w, h);
      if (expected[s][k] == 0) {
        EXPECT_LT(RegionDifference(sheets[size_t(s)], r, FxRawPage(2200, std::vector<uint8_t>(216, 0))), 2.0);
        continue;
      }
      const auto [page, diff] = BestMatch(sheets[size_t(s)], r);
      EXPECT_EQ(page, expected[s][k]) << "sheet " << s + 1 << " cell " << k;
      EXPECT_LT(diff, 10.0);
    }

  const auto pdf2 = dir_ / "two.pdf";
  PrintToPdf(printer_, pdf2, 600, QPageLayout::Landscape);
  ASSERT_TRUE(printer_.PrintFax());
  sheets = RenderSheets(pdf2, kRenderDpi);
  ASSERT_EQ(sheets.size(), 4u);
  const unsigned pairs[4][2] = {{3, 4}, {5, 6}, {7, 8}, {9, 0}};
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 2; ++k) {
      if (pairs[s][k] == 0) continue;
      const QRect r = cell(k, 0, kSheetH / 2, kSheetW);
      const auto [page, diff] = BestMatch(sheets[size_t(s)], r);
      EXPECT_EQ(page, pairs[s][k]) << "landscape sheet " << s + 1 << " cell " << k;
      EXPECT_LT(diff, 10.0);
    }
}

TEST_F(FaxPrinterTest, ThinStrokesSurviveShrinkingOnALowResolutionPrinter) {
  // A grid of one-pixel lines every 24 fax pixels, printed four-up at
  // 300 dpi where a page is shrunk to about two thirds.
  FxRawPage grid(2200, std::vector<uint8_t>(216, 0));
  for (unsigned y = 0; y < 2200; ++y)
    for (unsigned x = 0; x < 1728; ++x)
      if (x % 24 == 12 || y % 24 == 12) grid[y][x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
  fax_ = dir_ / "GRID.APF";
  FxWriteApf(fax_, {grid}, apfHighRes);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  printer_.FaxHeader.Enabled = printer_.FaxFooter.Enabled = false;
  printer_.MultiPage = true;
  const auto pdf = dir_ / "grid.pdf";
  PrintToPdf(printer_, pdf, 300);
  ASSERT_TRUE(printer_.PrintFax());
  const auto sheets = RenderSheets(pdf, 300);
  ASSERT_EQ(sheets.size(), 1u);
  const QImage& s = sheets[0];
  const int cellW = int(std::lround((2550 / 2 - 4) * 0.93)), cellH = 3300 / 2 - 4;
  ASSERT_LT(cellW, 1728);
  // Every vertical line shows along a row between two horizontal ones, and
  // every horizontal line along a column between two vertical ones.
  const int midRow = 2 + int(std::lround((24 * 40 + 0.5) * cellH / 2200.0));
  const int midCol = 2 + int(std::lround((24 * 30 + 0.5) * cellW / 1728.0));
  int missing = 0;
  for (unsigned x = 12; x < 1728; x += 24) {
    const int at = 2 + int(x * unsigned(cellW) / 1728);
    int darkest = 255;
    for (int d = -1; d <= 2; ++d) darkest = std::min(darkest, qGray(s.pixel(at + d, midRow)));
    missing += darkest > 192;  // a dropped line stays white
  }
  for (unsigned y = 12; y < 2200; y += 24) {
    const int at = 2 + int(y * unsigned(cellH) / 2200);
    int darkest = 255;
    for (int d = -1; d <= 2; ++d) darkest = std::min(darkest, qGray(s.pixel(midCol, at + d)));
    missing += darkest > 192;  // a dropped line stays white
  }
  EXPECT_EQ(missing, 0);
}

TEST_F(FaxPrinterTest, AbortStopsAtOnceAndLeavesNoSheet) {
  WriteFax("ABORT.APF", 9);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  TFxFaxPrinterStatus status;
  printer_.StatusDisplay = &status;
  TFxFaxPrinterLog log;
  log.LogFileName = QString::fromStdString((dir_ / "FAXPRINT.LOG").string());
  printer_.FaxPrinterLog = &log;
  std::vector<TFaxPLCode> codes;
  QObject::connect(&printer_, &TFxFaxPrinter::FaxPrintLog, [&](TFaxPLCode c) { codes.push_back(c); });
  bool shownWhilePrinting = false;
  QElapsedTimer clicked;
  QObject::connect(&printer_, &TFxFaxPrinter::NextPage, [&](unsigned cp, unsigned tp) {
    EXPECT_EQ(tp, 9u);
    if (cp == 6) {
      shownWhilePrinting = status.isVisible();
      EXPECT_EQ(status.FileNameLabel->text(), "ABORT.APF");
      EXPECT_EQ(status.TotalPagesLabel->text(), "9");
      EXPECT_EQ(status.ResolutionLabel->text(), "high");
      EXPECT_EQ(status.WidthLabel->text(), "1728");
      EXPECT_EQ(status.StatusLabel->text(), "Submitting 5 of 9");
      QTimer::singleShot(0, status.AbortButton, [&] {
        clicked.start();
        status.AbortButton->click();
      });
    }
  });
  const auto pdf = dir_ / "abort.pdf";
  PrintToPdf(printer_, pdf);
  EXPECT_FALSE(printer_.PrintFax());
  EXPECT_TRUE(clicked.isValid());
  EXPECT_LT(clicked.elapsed(), 3000);
  EXPECT_TRUE(shownWhilePrinting);
  EXPECT_FALSE(status.isVisible());
  EXPECT_FALSE(std::filesystem::exists(pdf));
  EXPECT_EQ(codes, (std::vector<TFaxPLCode>{TFaxPLCode::lcStart, TFaxPLCode::lcAborted}));
  EXPECT_EQ(printer_.CurrentPrintingPage(), 0u);
  EXPECT_FALSE(printer_.Printing());
  const auto logText = FxReadFile(dir_ / "FAXPRINT.LOG");
  const std::string logged(logText.begin(), logText.end());
  EXPECT_NE(logged.find("Printing " + fax_.string() + " started at "), std::string::npos) << logged;
  EXPECT_NE(logged.find(" aborted at "), std::string::npos) << logged;

  // The next run prints the whole fax.
  codes.clear();
  QObject::disconnect(&printer_, &TFxFaxPrinter::NextPage, nullptr, nullptr);
  ASSERT_TRUE(printer_.PrintFax());
  EXPECT_EQ(PdfSheetCount(pdf), 9);
  EXPECT_EQ(codes.back(), TFaxPLCode::lcFinish);
}

TEST_F(FaxPrinterTest, ALongFaxLeavesTheWindowResponsive) {
  // Busy pages that take a while to unpack: every other line full of short
  // runs.
  FxRawPage busy(30000, std::vector<uint8_t>(216, 0));
  for (unsigned y = 0; y < 30000; y += 2)
    for (unsigned b = 0; b < 216; ++b) busy[y][b] = 0xCC;
  fax_ = dir_ / "LONG.APF";
  FxWriteApf(fax_, std::vector<FxRawPage>(3, busy), apfHighRes);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  PrintToPdf(printer_, dir_ / "long.pdf", 300);
  QElapsedTimer clock;
  clock.start();
  qint64 lastTick = 0, unpackStart = -1, longestGap = 0;
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (unpackStart >= 0) longestGap = std::max(longestGap, clock.elapsed() - std::max(lastTick, unpackStart));
    lastTick = clock.elapsed();
  });
  // Each unpacking lies between the progress codes "Converting" and
  // "Composing". A held window would show one gap between events as long
  // as the unpacking itself.
  int longUnpacks = 0, heldUnpacks = 0;
  QObject::connect(&printer_, &TFxFaxPrinter::FaxPrintStatus, [&](TFaxPrintProgress p) {
    if (p == TFaxPrintProgress::ppConverting) {
      unpackStart = clock.elapsed();
      longestGap = 0;
    } else if (p == TFaxPrintProgress::ppComposing && unpackStart >= 0) {
      const qint64 took = clock.elapsed() - unpackStart;
      longestGap = std::max(longestGap, clock.elapsed() - std::max(lastTick, unpackStart));
      if (took >= 40) {
        ++longUnpacks;
        heldUnpacks += longestGap > took / 2;
      }
      unpackStart = -1;
    }
  });
  timer.start();
  ASSERT_TRUE(printer_.PrintFax());
  EXPECT_GT(longUnpacks, 0);
  EXPECT_EQ(heldUnpacks, 0);
}

TEST_F(FaxPrinterTest, DamagedFilesPrintWhatCanBeReadOrSayWhy) {
  WriteFax("TRUNC.APF", 4);
  const auto size = std::filesystem::file_size(fax_);
  std::filesystem::resize_file(fax_, size * 6 / 10);
  printer_.SetFileName(QString::fromStdString(fax_.string()));
  EXPECT_EQ(printer_.PageCount(), 4u);
  const auto pdf = dir_ / "trunc.pdf";
  PrintToPdf(printer_, pdf);
  std::vector<TFaxPLCode> codes;
  QObject::connect(&printer_, &TFxFaxPrinter::FaxPrintLog, [&](TFaxPLCode c) { codes.push_back(c); });
  EXPECT_TRUE(printer_.PrintFax());
  EXPECT_GE(printer_.FailedPages(), 1u);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), TFaxPLCode::lcFailed), int(printer_.FailedPages()));
  const auto sheets = RenderSheets(pdf, kRenderDpi);
  ASSERT_EQ(sheets.size(), 4u);
  const QRect placed = ToRender(QRect(0, 0, int(std::lround(kSheetW * 0.93)), kSheetH));
  EXPECT_EQ(BestMatch(sheets[0], placed).first, 1u);

  // Cut anywhere, or with bytes flipped, a file prints what it can.
  WriteFax("CUTS.APF", 3);
  const auto good = FxReadFile(fax_);
  for (size_t cut = 10; cut < good.size(); cut += good.size() / 9) {
    auto bytes = std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut));
    for (size_t i = 70; i < bytes.size(); i += 97) bytes[i] ^= 0x5A;
    FxWriteFile(fax_, bytes);
    printer_.SetFileName(QString::fromStdString(fax_.string()));
    PrintToPdf(printer_, dir_ / "cut.pdf", 100);
    if (printer_.PageCount() > 0) {
      EXPECT_TRUE(printer_.PrintFax()) << "cut at " << cut;
    }
  }

  // Not a fax file at all: no pages, a reason, nothing printed.
  const auto junk = dir_ / "JUNK.APF";
  FxWriteFile(junk, std::vector<uint8_t>(300, 0x41));
  printer_.SetFileName(QString::fromStdString(junk.string()));
  EXPECT_EQ(printer_.PageCount(), 0u);
  EXPECT_EQ(printer_.FirstPageToPrint(), 0u);
  EXPECT_FALSE(printer_.FileError().isEmpty());
  EXPECT_FALSE(printer_.PrintFax());
}

}  // namespace
