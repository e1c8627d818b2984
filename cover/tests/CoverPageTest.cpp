// The whole road of a cover page: template file, rendering, converter, APF
// file, unpacked again; blank and damaged templates; the preview picture;
// and the words read back from the fax page by an independent OCR program.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include "cover/tests/RenderHelpers.h"
#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "shell/MonoImage.h"
#include "shell/core/Folders.h"

namespace {

constexpr int kText = static_cast<int>(TCoverObjectKind::ckText);
constexpr int kField = static_cast<int>(TCoverObjectKind::ckField);

std::vector<TFctRecord> SampleTemplate() {
  TFctRecord regarding = TextRecord(kText, 0, 0, 300, 60, "Regarding:");
  TFctRecord subject = TextRecord(kField, 300, 0, 1200, 60);
  subject.Ints[5] = cfRegarding;
  return {ShapeRecord(stRoundRect, sftTransparent, 0, 200, 1500, 400, 4),
          LineRecord(lsHorizontal, 0, 100, 1500, 30, 2), regarding, subject};
}

TFxBitmap Unpack(const std::string& apf) {
  TFxFaxUnpacker u;
  u.SetInFileName(apf);
  u.AutoScaleMode = TAutoScaleMode::asNone;
  TFxBitmap b;
  EXPECT_EQ(u.TryPageToBitmap(1, b), 0);
  return b;
}

TEST(CoverPage, FineAndNormalPagesAgreeAfterHalving) {
  TTempFolder dir;
  ASSERT_TRUE(WriteFctFile(dir / "T.FCT", SampleTemplate()));
  CoverFieldValues values;
  values.Texts[cfRegarding] = "Quarterly report";
  const std::string fine = RenderCoverPage((dir / "FINE.APF").string(), dir / "T.FCT", values, "");
  const std::string normal =
      RenderCoverPage((dir / "NORM.APF").string(), dir / "T.FCT", values, "", TFaxResolution::frNormal);
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(fine), 0);
  EXPECT_EQ(reader.PageCount(), 1);
  const TFxBitmap f = Unpack(fine), n = Unpack(normal);
  ASSERT_EQ(f.height, static_cast<unsigned>(kCoverPageHeight));
  ASSERT_EQ(n.height, static_cast<unsigned>(kCoverPageHeight / 2));
  ASSERT_EQ(f.width, static_cast<unsigned>(kCoverPageWidth));
  ASSERT_EQ(n.width, static_cast<unsigned>(kCoverPageWidth));
  EXPECT_TRUE(n.IsBlack(n.width - 1, n.height - 1));
  long ink = 0;
  for (unsigned y = 0; y < n.height; ++y)
    for (unsigned x = 0; x < n.width; ++x) {
      if (x == n.width - 1 && y == n.height - 1) continue;  // the corner pixel of each page
      ASSERT_EQ(n.IsBlack(x, y), f.IsBlack(x, 2 * y)) << x << "," << y;
      ink += n.IsBlack(x, y);
    }
  EXPECT_GT(ink, 2000);
}

// The fax page carries the drawn page column for column: objects sit where
// the template puts them, and nothing at the right edge (the bottom-right
// pixel that keeps the page its full size included) falls off the line.
TEST(CoverPage, ApfPageIsTheDrawnPageUnshifted) {
  TTempFolder dir;
  const TFctRecord frame = ShapeRecord(stRectangle, sftTransparent, 0, 0, 1500, 1900, 2);
  const TFctRecord edge = LineRecord(lsVertical, kCoverPageWidth - kCoverMargin - 3, 0, 3, 100, 3);
  ASSERT_TRUE(WriteFctFile(dir / "T.FCT", {frame, edge}));
  const TFxBitmap drawn = RenderCoverBitmap(dir / "T.FCT", {}, "");
  const TFxBitmap sent = Unpack(RenderCoverPage((dir / "P.APF").string(), dir / "T.FCT", {}, ""));
  ASSERT_EQ(sent.width, static_cast<unsigned>(kCoverPageWidth));
  ASSERT_EQ(sent.height, static_cast<unsigned>(kCoverPageHeight));
  EXPECT_TRUE(sent.IsBlack(kCoverMargin, kCoverMargin));
  EXPECT_FALSE(sent.IsBlack(kCoverMargin - 1, kCoverMargin + 50));
  EXPECT_TRUE(sent.IsBlack(kCoverPageWidth - 1, 150));
  EXPECT_TRUE(sent.IsBlack(kCoverPageWidth - 1, kCoverPageHeight - 1));
  for (unsigned y = 0; y < sent.height; ++y)
    for (unsigned x = 0; x < sent.width; ++x) ASSERT_EQ(sent.IsBlack(x, y), drawn.IsBlack(x, y)) << x << "," << y;
}

TEST(CoverPage, MissingTemplateGivesABlankPageDamagedOneTheRecordsBefore) {
  TTempFolder dir;
  SetProgramFolder(dir.Path().string());
  std::filesystem::create_directories(dir / "SEND");
  const std::string apf = RenderCoverPage("", dir / "NONE.FCT", {}, "");
  EXPECT_EQ(std::filesystem::path(apf).filename(), "COV00000.APF");
  const TFxBitmap blank = RenderCoverBitmap(dir / "NONE.FCT", {}, "");
  long ink = 0;
  for (unsigned y = 0; y < blank.height; ++y)
    for (unsigned x = 0; x < blank.width; ++x) ink += blank.IsBlack(x, y);
  EXPECT_EQ(ink, 1);
  EXPECT_TRUE(blank.IsBlack(kCoverPageWidth - 1, kCoverPageHeight - 1));
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(apf), 0);
  EXPECT_EQ(reader.PageCount(), 1);

  const auto records = SampleTemplate();
  std::string bytes = WriteFct({records[0], records[1]});
  const size_t intact = bytes.size();
  WriteFctRecord(bytes, records[2]);
  bytes.resize(intact + 9);  // the third record cut short
  TTempFolder::WriteFile(dir / "BAD.FCT", bytes);
  const QImage damaged = RenderCoverImage(dir / "BAD.FCT", {}, "").convertToFormat(QImage::Format_Grayscale8);
  EXPECT_EQ(damaged, Render(dir, {records[0], records[1]}));
  EXPECT_TRUE(InkBox(damaged).isValid());
}

TEST(CoverPage, PreviewShowsTheWholePageWithSamples) {
  TTempFolder dir;
  const TFctRecord frame = ShapeRecord(stRectangle, sftTransparent, 0, 0, 1500, 1960, 4);
  ASSERT_TRUE(WriteFctFile(dir / "CV0001.FCT", {frame, SampleTemplate()[3]}));
  ASSERT_TRUE(RenderCoverPreview(dir / "CV0001.FCT"));
  const QImage bmp(QString::fromStdString((dir / "CV0001.bmp").string()));
  ASSERT_FALSE(bmp.isNull());
  EXPECT_EQ(bmp.size(), QSize(kPreviewWidth, kPreviewHeight));
  EXPECT_EQ(bmp.depth(), 1);
  const QImage grey = bmp.convertToFormat(QImage::Format_Grayscale8);
  // The frame at 96 per inch: 48 + 0 .. 48 + 734 across, 48 .. 48 + 960 down.
  const QRect ink = InkBox(grey);
  EXPECT_NEAR(ink.left(), 48, 1);
  EXPECT_NEAR(ink.top(), 48, 1);
  EXPECT_NEAR(ink.right(), 48 + 1500 * 96 / 196, 2);
  EXPECT_NEAR(ink.bottom(), 48 + 1960 * 96 / 196, 2);
  // The "Regarding" sample sits inside the frame near its top.
  EXPECT_GT(Ink(grey.copy(QRect(190, 50, 400, 30))), 20);
}

TEST(CoverPage, TesseractReadsTheRenderedWords) {
  const QString tesseract = QStandardPaths::findExecutable("tesseract");
  if (tesseract.isEmpty()) GTEST_SKIP() << "tesseract-ocr is not installed";
  TTempFolder dir;
  ASSERT_TRUE(WriteFctFile(dir / "T.FCT", SampleTemplate()));
  CoverFieldValues values;
  values.Texts[cfRegarding] = "Quarterly report 0123456789";
  const std::string apf = RenderCoverPage((dir / "OCR.APF").string(), dir / "T.FCT", values, "");
  // The page as the far end would print it, cut to the line of text (the
  // unpacked page ends at its rightmost black pixel).
  const QImage page = ToQImage(Unpack(apf));
  ASSERT_FALSE(page.isNull());
  const QString png = QString::fromStdString((dir / "line.png").string());
  ASSERT_TRUE(page.copy(0, 70, page.width(), 110).save(png));
  QProcess ocr;
  ocr.start(tesseract, {png, "stdout", "--psm", "7"});
  ASSERT_TRUE(ocr.waitForFinished(60000));
  const std::string text = QString::fromUtf8(ocr.readAllStandardOutput()).simplified().toStdString();
  EXPECT_EQ(text, "Regarding: Quarterly report 0123456789");
}

}  // namespace
