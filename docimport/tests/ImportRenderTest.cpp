// What an imported page looks like: a PDF written by Qt (words at 10 and
// 12 points, a table of thin rules, a grey gradient), the same document as
// PostScript (pdf2ps) and as a 300 dpi PNG scan are imported at fine
// resolution; tesseract must read the words, every rule must have ink along
// its whole length, and the gradient must be dithered, not blobs.
#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "docimport/DocImport.h"
#include "docimport/qt/QtImageLoader.h"
#include "docimport/tests/FaxPages.h"
#include "testsupport/TempFolder.h"

namespace {

namespace fs = std::filesystem;

// Layout in points from the top left of an A4 page.
constexpr double kLeft = 72, kRight = 520;
const char* const kLine12 = "Quarterly invoice 48213 approved";
const char* const kLine10 = "Harbour street delivery tomorrow";
constexpr double kRuleYs[] = {0, 40, 80, 120};  // below the table's top
constexpr double kRuleXs[] = {kLeft, 250, kRight};
constexpr double kTableHeight = 120;
constexpr double kGradientHeight = 200;

// k: device units per point.
void DrawWords(QPainter& p, double k, double top) {
  QFont font("Liberation Sans");
  font.setPointSizeF(12 * k * 72 / p.device()->logicalDpiY());
  p.setFont(font);
  p.drawText(QPointF(kLeft * k, (top + 20) * k), kLine12);
  font.setPointSizeF(10 * k * 72 / p.device()->logicalDpiY());
  p.setFont(font);
  p.drawText(QPointF(kLeft * k, (top + 50) * k), kLine10);
}

void DrawTable(QPainter& p, double k, double top, double ruleWidth) {
  p.setPen(QPen(Qt::black, ruleWidth * k, Qt::SolidLine, Qt::FlatCap));
  for (double y : kRuleYs) p.drawLine(QPointF(kLeft * k, (top + y) * k), QPointF(kRight * k, (top + y) * k));
  for (double x : kRuleXs) p.drawLine(QPointF(x * k, top * k), QPointF(x * k, (top + kTableHeight) * k));
}

void DrawGradient(QPainter& p, double k, double top) {
  QLinearGradient g(QPointF(kLeft * k, 0), QPointF(kRight * k, 0));
  g.setColorAt(0, Qt::black);
  g.setColorAt(1, Qt::white);
  p.fillRect(QRectF(kLeft * k, top * k, (kRight - kLeft) * k, kGradientHeight * k), g);
}

// Fax pixel positions of a point on an A4 page centred on the fax width.
struct FaxMap {
  double left;
  unsigned X(double pt) const { return static_cast<unsigned>(std::lround(left + pt * 204 / 72)); }
  unsigned Y(double pt) const { return static_cast<unsigned>(std::lround(pt * 196 / 72)); }
};
const FaxMap kA4{(1728 - 210 / 25.4 * 204) / 2};

std::string ReadWords(const DecodedPage& page, const fs::path& dir) {
  const fs::path pbm = dir / "ocr.pbm";
  {
    std::ofstream out(pbm, std::ios::binary);
    out << "P4\n" << page.width << " " << page.Height() << "\n";
    for (const auto& row : page.rows) out.write(reinterpret_cast<const char*>(row.data()), page.width / 8);
  }
  std::string text;
  if (FILE* f = ::popen(("tesseract " + pbm.string() + " stdout 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    ::pclose(f);
  }
  return text;
}

void ExpectWords(const DecodedPage& page, const fs::path& dir) {
  if (std::system("command -v tesseract >/dev/null 2>&1") != 0) return;
  const std::string text = ReadWords(page, dir);
  EXPECT_NE(text.find(kLine12), std::string::npos) << text;
  EXPECT_NE(text.find(kLine10), std::string::npos) << text;
}

// Every column of a horizontal rule (every row of a vertical one) has a
// black pixel within a few pixels of where the rule belongs.
void ExpectRules(const DecodedPage& page, double top) {
  constexpr unsigned slack = 3;
  for (double ry : kRuleYs) {
    const unsigned y = kA4.Y(top + ry);
    for (unsigned x = kA4.X(kLeft) + slack; x < kA4.X(kRight) - slack; ++x)
      ASSERT_GT(page.CountBlack(x, y - slack, x + 1, y + slack + 1), 0u) << "rule at " << ry << ", x " << x;
  }
  for (double rx : kRuleXs) {
    const unsigned x = kA4.X(rx);
    for (unsigned y = kA4.Y(top) + slack; y < kA4.Y(top + kTableHeight) - slack; ++y)
      ASSERT_GT(page.CountBlack(x - slack, y, x + slack + 1, y + 1), 0u) << "rule at " << rx << ", y " << y;
  }
}

// The middle greys are a fine mix: every 8 x 8 cell holds black and white,
// and darkness falls from left to right.
void ExpectDither(const DecodedPage& page, double top) {
  const unsigned x0 = kA4.X(kLeft + (kRight - kLeft) * 0.3), x1 = kA4.X(kLeft + (kRight - kLeft) * 0.7);
  const unsigned y0 = kA4.Y(top + 20), y1 = kA4.Y(top + kGradientHeight - 20);
  for (unsigned y = y0; y + 8 <= y1; y += 8) {
    for (unsigned x = x0; x + 8 <= x1; x += 8) {
      const unsigned black = page.CountBlack(x, y, x + 8, y + 8);
      ASSERT_GT(black, 0u) << x << "," << y;
      ASSERT_LT(black, 64u) << x << "," << y;
    }
  }
  const unsigned w = (x1 - x0) / 4;
  const unsigned darker = page.CountBlack(x0, y0, x0 + w, y1), lighter = page.CountBlack(x1 - w, y0, x1, y1);
  EXPECT_GT(darker, lighter + lighter / 4);
}

fs::path MakeSamplePdf(const fs::path& dir) {
  const fs::path pdf = dir / "sample.pdf";
  QPdfWriter writer(QString::fromStdString(pdf.string()));
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  writer.setResolution(720);
  QPainter p(&writer);
  const double k = 10;  // 720 units per inch
  DrawWords(p, k, 100);
  writer.newPage();
  DrawTable(p, k, 100, 0.25);
  writer.newPage();
  DrawGradient(p, k, 100);
  p.end();
  return pdf;
}

void ExpectSampleDocument(const fs::path& file, const fs::path& dir) {
  FxImportOptions options;
  FxImportResult result;
  ASSERT_EQ(FxImportDocument(file, dir / "sample.apf", options, result), 0) << result.error;
  const auto pages = DecodeFax(dir / "sample.apf");
  ASSERT_EQ(pages.size(), 3u);
  for (const auto& page : pages) {
    EXPECT_TRUE(page.fine);
    EXPECT_NEAR(page.Height(), 297 / 25.4 * 196, 3);
  }
  ExpectWords(pages[0], dir);
  ExpectRules(pages[1], 100);
  ExpectDither(pages[2], 100);
  fs::remove(dir / "sample.apf");
}

TEST(ImportRender, PdfPagesKeepWordsRulesAndTones) {
  TTempFolder dir;
  ExpectSampleDocument(MakeSamplePdf(dir.Path()), dir.Path());
}

TEST(ImportRender, PostScriptPagesKeepWordsRulesAndTones) {
  if (std::system("command -v pdf2ps >/dev/null 2>&1") != 0) GTEST_SKIP() << "ghostscript is not installed";
  TTempFolder dir;
  const fs::path pdf = MakeSamplePdf(dir.Path());
  ASSERT_EQ(std::system(("pdf2ps " + pdf.string() + " " + (dir / "sample.ps").string()).c_str()), 0);
  ExpectSampleDocument(dir / "sample.ps", dir.Path());
}

TEST(ImportRender, ScannedPngKeepsWordsRulesAndTones) {
  TTempFolder dir;
  // An A4 scan at 300 dpi: everything on one page.
  QImage scan(2480, 3508, QImage::Format_RGB32);
  scan.fill(Qt::white);
  scan.setDotsPerMeterX(11811);
  scan.setDotsPerMeterY(11811);
  {
    QPainter p(&scan);
    p.setRenderHint(QPainter::Antialiasing);
    const double k = 300.0 / 72;
    DrawWords(p, k, 100);
    DrawTable(p, k, 250, 0.5);
    DrawGradient(p, k, 450);
  }
  const fs::path png = dir / "scan.png";
  ASSERT_TRUE(scan.save(QString::fromStdString(png.string())));
  FxImportOptions options;
  options.imageLoader = FxLoadImageWithQt;
  FxImportResult result;
  ASSERT_EQ(FxImportDocument(png, dir / "scan.apf", options, result), 0) << result.error;
  const auto pages = DecodeFax(dir / "scan.apf");
  ASSERT_EQ(pages.size(), 1u);
  ExpectWords(pages[0], dir.Path());
  ExpectRules(pages[0], 250);
  ExpectDither(pages[0], 450);
}

TEST(ImportRender, LargePhotoIsImportedAndAbsurdSizeRefused) {
  TTempFolder dir;
  {
    // A 48-megapixel photograph is decoded at a reduced size.
    QImage photo(8000, 6000, QImage::Format_RGB888);
    for (int y = 0; y < photo.height(); ++y) std::memset(photo.scanLine(y), (y / 24) % 256, 3 * 8000);
    ASSERT_TRUE(photo.save(QString::fromStdString((dir / "photo.jpg").string()), "JPEG", 70));
    FxImportOptions options;
    options.imageLoader = FxLoadImageWithQt;
    FxImportResult result;
    ASSERT_EQ(FxImportDocument(dir / "photo.jpg", dir / "photo.apf", options, result), 0) << result.error;
    const auto pages = DecodeFax(dir / "photo.apf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_GT(pages[0].CountBlack(0, 0, 1728, pages[0].Height()), 100000u);
  }
  // A PNG header claiming 30,000 x 30,000 pixels.
  QImage small(30, 30, QImage::Format_Grayscale8);
  small.fill(128);
  const fs::path png = dir / "big.png";
  ASSERT_TRUE(small.save(QString::fromStdString(png.string())));
  std::fstream f(png, std::ios::binary | std::ios::in | std::ios::out);
  const char size[8] = {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30};
  f.seekp(16);
  f.write(size, 8);
  f.close();
  FxImportOptions options;
  options.imageLoader = FxLoadImageWithQt;
  FxImportResult result;
  EXPECT_NE(FxImportDocument(png, dir / "big.apf", options, result), 0);
  EXPECT_FALSE(result.error.empty());
  EXPECT_FALSE(fs::exists(dir / "big.apf"));
}

}  // namespace
