// The viewer control over real APF files: paging, turning, marking and
// copying, dropped files, keys, and files that are damaged or go away.
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>
#include <gtest/gtest.h>

#include "faximage/ErrorCodes.h"
#include "faximage/FaxUnpacker.h"
#include "shell/MonoImage.h"
#include "viewing/tests/ViewerTestUtil.h"

namespace fs = std::filesystem;

namespace {

TFxBitmap Unpacked(const fs::path& file, unsigned page, TAutoScaleMode mode = TAutoScaleMode::asDoubleHeight) {
  TFxFaxUnpacker u;
  u.AutoScaleMode = mode;
  u.SetInFileName(file.string());
  return u.PageToBitmap(page);
}

class ViewerControl : public ::testing::Test {
 protected:
  void SetUp() override {
    viewer_.resize(500, 400);
    viewer_.show();
    viewer_.OnViewerError = [this](int code) { errors_.push_back(code); };
    viewer_.OnPageChange = [this] { ++pageChanges_; };
  }
  fs::path ThreePages() {
    const fs::path f = dir_ / "three.apf";
    FxWriteApf(f, {PatternPage(300, 1), PatternPage(280, 2), PatternPage(260, 3)}, apfHighRes);
    return f;
  }
  void Open(const fs::path& f) {
    ASSERT_EQ(viewer_.SetFileName(QString::fromStdString(f.string())), 0);
    ASSERT_TRUE(WaitForPage(viewer_));
  }
  TTempFolder dir_;
  TFxFaxViewer viewer_;
  std::vector<int> errors_;
  int pageChanges_ = 0;
};

TEST_F(ViewerControl, ShowsOnePageAtATimeAsTheUnpackerMakesIt) {
  const fs::path f = ThreePages();
  Open(f);
  EXPECT_EQ(viewer_.NumPages(), 3u);
  EXPECT_EQ(viewer_.CurrentPage(), 1u);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(f, 1)));
  EXPECT_EQ(viewer_.DisplayedSize(), QSize(int(viewer_.PageImage().width), 300));
  viewer_.NextPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(viewer_.CurrentPage(), 2u);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(f, 2)));
  viewer_.LastPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(f, 3)));
  viewer_.NextPage();  // on the last page: nothing
  EXPECT_FALSE(viewer_.Busy());
  EXPECT_EQ(viewer_.GotoPage(4), FxErr::ecBadArgument);
  EXPECT_EQ(viewer_.GotoPage(0), FxErr::ecBadArgument);
  ASSERT_EQ(viewer_.GotoPage(1), 0);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(f, 1)));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(pageChanges_, 4);

  // Pages requested faster than they unpack: only the last one is shown.
  viewer_.NextPage();
  viewer_.NextPage();
  viewer_.LastPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(viewer_.CurrentPage(), 3u);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(f, 3)));
}

TEST_F(ViewerControl, NormalPagesFollowTheAutoScaleMode) {
  const fs::path f = dir_ / "normal.apf";
  FxWriteApf(f, {PatternPage(100, 4)}, 0);
  Open(f);
  EXPECT_EQ(viewer_.PageImage().height, 200u);  // asDoubleHeight
  EXPECT_EQ(viewer_.PageWidth(), 1728u);
  viewer_.AutoScaleMode = TAutoScaleMode::asHalfWidth;
  Open(f);
  EXPECT_EQ(viewer_.PageImage().height, 100u);
  EXPECT_EQ(viewer_.PageWidth(), 864u);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(f, 1, TAutoScaleMode::asHalfWidth)));
}

TEST_F(ViewerControl, RotationTurnsByTheDifferenceAndLaterPagesArriveTurned) {
  const fs::path f = ThreePages();
  Open(f);
  const TFxBitmap upright = Unpacked(f, 1);
  ASSERT_EQ(viewer_.SetRotation(1), 0);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), FxRotateMono(upright, 1)));
  EXPECT_EQ(viewer_.DisplayedSize(), QSize(300, int(upright.width)));
  // 90 then 270 degrees: a half turn from there, the page turned 270 in all.
  ASSERT_EQ(viewer_.SetRotation(3), 0);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), FxRotateMono(upright, 3)));
  ASSERT_EQ(viewer_.SetRotation(2), 0);
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), FxRotateMono(upright, 2)));
  viewer_.NextPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), FxRotateMono(Unpacked(f, 2), 2)));
  // Turned while the next page is still on its way.
  viewer_.NextPage();
  ASSERT_EQ(viewer_.SetRotation(1), 0);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), FxRotateMono(Unpacked(f, 3), 1)));
  EXPECT_EQ(viewer_.SetRotation(4), FxErr::ecBadArgument);
  EXPECT_EQ(viewer_.Rotation(), 1);
  // A new file starts upright.
  Open(f);
  EXPECT_EQ(viewer_.Rotation(), 0);
}

TEST_F(ViewerControl, MarkedBlockGoesToTheClipboardPixelForPixel) {
  const fs::path f = ThreePages();
  EXPECT_EQ(viewer_.CopyToClipboard(), -8050);
  Open(f);
  EXPECT_EQ(viewer_.CopyToClipboard(), -8051);
  // Marked with the mouse, after scrolling a little.
  viewer_.horizontalScrollBar()->setValue(16);
  QWidget* vp = viewer_.viewport();
  QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(90, 50));
  QTest::mouseMove(vp, QPoint(150, 120));
  QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(227, 141));
  ASSERT_TRUE(viewer_.HasMark());
  EXPECT_EQ(viewer_.Mark(), QRect(106, 50, 137, 91));
  ASSERT_EQ(viewer_.CopyToClipboard(), 0);
  const TFxBitmap copied = FromQImage(QApplication::clipboard()->image());
  EXPECT_TRUE(SamePixels(copied, CopyBlock(Unpacked(f, 1), 106, 50, 137, 91)));

  // A click without a drag leaves no mark.
  QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(40, 40));
  EXPECT_FALSE(viewer_.HasMark());

  // At half size the block comes back at the marked size from the page.
  viewer_.BeginUpdate();
  viewer_.SetScaling(true);
  viewer_.SetHorizDiv(2);
  viewer_.SetVertDiv(2);
  viewer_.EndUpdate();
  viewer_.SetMark(QRect(10, 20, 50, 40));
  ASSERT_EQ(viewer_.CopyToClipboard(), 0);
  const QImage half = QApplication::clipboard()->image();
  EXPECT_EQ(half.size(), QSize(50, 40));
  EXPECT_TRUE(SamePixels(FromQImage(half), FxStretchMono(CopyBlock(Unpacked(f, 1), 20, 40, 100, 80), 50, 40)));

  viewer_.SelectAll();
  EXPECT_EQ(viewer_.Mark(), QRect(QPoint(0, 0), viewer_.DisplayedSize()));
}

TEST_F(ViewerControl, PaintsTheScaledPageWithoutLosingStrokes) {
  const fs::path f = dir_ / "strokes.apf";
  FxRawPage page(400, std::vector<uint8_t>(216, 0));
  for (auto& line : page) line[50] = 0x01;  // a one-pixel vertical stroke at x = 407
  FxWriteApf(f, {page}, apfHighRes);
  Open(f);
  viewer_.BeginUpdate();
  viewer_.SetScaling(true);
  for (unsigned v : {1u}) viewer_.SetHorizMult(v), viewer_.SetVertMult(v);
  viewer_.SetHorizDiv(4);
  viewer_.SetVertDiv(4);
  viewer_.EndUpdate();
  EXPECT_EQ(viewer_.DisplayedSize().height(), 100);
  const QImage shown = viewer_.viewport()->grab().toImage();
  EXPECT_LT(qGray(shown.pixel(407 / 4, 50)), 160);
  EXPECT_EQ(qGray(shown.pixel(407 / 4 + 3, 50)), 255);
}

TEST_F(ViewerControl, KeysPageAndScroll) {
  const fs::path f = ThreePages();
  Open(f);
  viewer_.setFocus();
  QScrollBar* h = viewer_.horizontalScrollBar();
  QScrollBar* v = viewer_.verticalScrollBar();
  QTest::keyClick(&viewer_, Qt::Key_Right);
  EXPECT_EQ(h->value(), 8);
  QTest::keyClick(&viewer_, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(h->value(), 88);
  QTest::keyClick(&viewer_, Qt::Key_End);
  EXPECT_EQ(h->value(), h->maximum());
  QTest::keyClick(&viewer_, Qt::Key_Home);
  EXPECT_EQ(h->value(), 0);
  QTest::keyClick(&viewer_, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(v->value(), v->maximum());
  QTest::keyClick(&viewer_, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(v->value(), 0);
  QTest::keyClick(&viewer_, Qt::Key_PageDown);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(viewer_.CurrentPage(), 2u);
  QTest::keyClick(&viewer_, Qt::Key_End, Qt::ControlModifier);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(viewer_.CurrentPage(), 3u);
  // Last page again while on it: back to the top left.
  QTest::keyClick(&viewer_, Qt::Key_Down);
  QTest::keyClick(&viewer_, Qt::Key_Right);
  QTest::keyClick(&viewer_, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(viewer_.ScrollOffset(), QPoint(0, 0));
  QTest::keyClick(&viewer_, Qt::Key_Home, Qt::ControlModifier);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(viewer_.CurrentPage(), 1u);
}

TEST_F(ViewerControl, DroppedFileIsLoadedAndReported) {
  const fs::path f = ThreePages();
  QString dropped;
  viewer_.OnDropFile = [&](const QString& name) { dropped = name; };
  auto drop = [&](const fs::path& file) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewer_.viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropEvent(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewer_.viewport(), &dropEvent);
  };
  drop(f);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(dropped.toStdString(), f.string());
  EXPECT_EQ(viewer_.FileName().toStdString(), f.string());
  EXPECT_EQ(viewer_.NumPages(), 3u);
  // Not a fax: an error, and the fax shown stays.
  const fs::path text = dir_ / "note.txt";
  FxWriteFile(text, {'h', 'e', 'l', 'l', 'o'});
  dropped.clear();
  drop(text);
  EXPECT_EQ(errors_, std::vector<int>{FxErr::ecFaxBadFormat});
  EXPECT_TRUE(dropped.isEmpty());
  EXPECT_EQ(viewer_.FileName().toStdString(), f.string());
  // Switched off: the drop is refused.
  viewer_.SetAcceptDragged(false);
  EXPECT_FALSE(viewer_.viewport()->acceptDrops());
}

TEST_F(ViewerControl, WhitespaceCompressionIsHandedToTheUnpacker) {
  const fs::path f = dir_ / "gaps.apf";
  FxRawPage page;
  std::vector<uint8_t> ink(216, 0), blank(216, 0);
  ink[10] = 0xFF;
  page.push_back(ink);
  for (int i = 0; i < 25; ++i) page.push_back(blank);
  page.push_back(ink);
  for (int i = 0; i < 7; ++i) page.push_back(blank);
  page.push_back(ink);
  FxWriteApf(f, {page}, apfHighRes);
  viewer_.WhitespaceCompression = true;
  viewer_.WhitespaceFrom = 10;
  viewer_.WhitespaceTo = 2;
  Open(f);
  EXPECT_EQ(viewer_.PageImage().height, 1u + 2 + 1 + 7 + 1);
}

// ---- damaged input ----

TEST_F(ViewerControl, FilesThatAreNotFaxesAreRefusedAndTheOldFaxStays) {
  const fs::path good = ThreePages();
  Open(good);
  EXPECT_EQ(viewer_.SetFileName(QString::fromStdString((dir_ / "missing.apf").string())), FxErr::ecFileNotFound);
  const fs::path empty = dir_ / "empty.apf";
  FxWriteFile(empty, {});
  EXPECT_EQ(viewer_.SetFileName(QString::fromStdString(empty.string())), FxErr::ecFaxBadFormat);
  // A header and no pages at all.
  const fs::path none = dir_ / "none.apf";
  const std::vector<uint8_t> bytes = FxReadFile(good);
  FxWriteFile(none, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 64));
  EXPECT_EQ(viewer_.SetFileName(QString::fromStdString(none.string())), FxErr::ecFaxBadFormat);
  EXPECT_EQ(viewer_.FileName().toStdString(), good.string());
  EXPECT_EQ(viewer_.NumPages(), 3u);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(ViewerControl, DamagedFilesShowThePagesThatCanBeRead) {
  const fs::path good = ThreePages();
  std::vector<uint8_t> bytes = FxReadFile(good);
  // The header claims 65535 pages.
  const fs::path claims = dir_ / "claims.apf";
  std::vector<uint8_t> c = bytes;
  c[32] = 0xFF, c[33] = 0xFF;
  FxWriteFile(claims, c);
  {
    TFxApfReader r;
    ASSERT_EQ(r.Open(claims), 0);
    ASSERT_EQ(r.PageCount(), 65535u) << "page count field moved";
  }
  Open(claims);
  EXPECT_EQ(viewer_.NumPages(), 3u);
  EXPECT_EQ(viewer_.ClaimedPages(), 65535u);
  viewer_.LastPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_TRUE(SamePixels(viewer_.PageImage(), Unpacked(good, 3)));

  // Cut in the middle of the last page: the pages before it.
  const fs::path cut = dir_ / "cut.apf";
  FxWriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.end() - 300));
  Open(cut);
  EXPECT_EQ(viewer_.NumPages(), 2u);
  EXPECT_TRUE(errors_.empty());

  // Garbage after the header: no readable page.
  std::vector<uint8_t> junk(bytes.begin(), bytes.begin() + 64);
  for (int i = 0; i < 5000; ++i) junk.push_back(static_cast<uint8_t>(i * 37));
  const fs::path noise = dir_ / "noise.apf";
  FxWriteFile(noise, junk);
  const int rc = viewer_.SetFileName(QString::fromStdString(noise.string()));
  if (rc == 0) ASSERT_TRUE(WaitForPage(viewer_));
  else EXPECT_EQ(rc, FxErr::ecFaxBadFormat);
}

TEST_F(ViewerControl, OddWidthsAndVeryLongPagesNeverHang) {
  // Lines of 1000 pixels are no fax lines: the page has no ink.
  const fs::path odd = dir_ / "odd.apf";
  {
    TFxApfWriter w;
    ASSERT_EQ(w.Create(odd), 0);
    w.SetPageFlags(apfHighRes);
    for (int i = 0; i < 50; ++i) {
      const std::vector<uint8_t> rec = FxCodeRuns({400, 200, 400});
      ASSERT_EQ(w.WriteRecord(rec.data(), rec.size()), 0);
    }
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.Finish("ODD"), 0);
  }
  Open(odd);
  EXPECT_TRUE(viewer_.PageImage().Empty());
  EXPECT_TRUE(errors_.empty());
  viewer_.SelectAll();
  EXPECT_FALSE(viewer_.HasMark());

  // 32768 rows: the longest page shown.
  const fs::path longPage = dir_ / "long.apf";
  FxRawPage page(32768, std::vector<uint8_t>(216, 0));
  for (unsigned y = 0; y < page.size(); y += 97) page[y][y % 216] = 0x81;
  FxWriteApf(longPage, {page}, apfHighRes);
  Open(longPage);
  EXPECT_EQ(viewer_.PageImage().height, 32768u);
  EXPECT_TRUE(errors_.empty());
  // One row more: a clear error and no fax.
  page.push_back(page[0]);
  FxWriteApf(longPage, {page}, apfHighRes);
  ASSERT_EQ(viewer_.SetFileName(QString::fromStdString(longPage.string())), 0);
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(errors_, std::vector<int>{FxErr::ecOutOfMemory});
  EXPECT_TRUE(viewer_.FileName().isEmpty());
}

TEST_F(ViewerControl, WholeFaxInMemoryKeepsPagingAfterTheFileIsGone) {
  const fs::path f = ThreePages();
  viewer_.LoadWholeFax = true;
  Open(f);
  ASSERT_TRUE(QTest::qWaitFor([&] { return viewer_.PagesInMemory() == 3; }, 10000));
  fs::remove(f);
  viewer_.LastPage();
  EXPECT_FALSE(viewer_.Busy());
  EXPECT_EQ(viewer_.CurrentPage(), 3u);
  ASSERT_EQ(viewer_.SetRotation(2), 0);
  viewer_.PrevPage();
  EXPECT_EQ(viewer_.PageImage().height, 280u);
  EXPECT_TRUE(errors_.empty());
  // Without it, only the page shown stays.
  const fs::path g = ThreePages();
  viewer_.LoadWholeFax = false;
  Open(g);
  viewer_.NextPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(viewer_.PagesInMemory(), 1u);
}

TEST_F(ViewerControl, AFileDeletedWhileShownIsReportedAtTheNextPage) {
  const fs::path f = ThreePages();
  Open(f);
  fs::remove(f);
  const int before = pageChanges_;
  viewer_.NextPage();
  ASSERT_TRUE(WaitForPage(viewer_));
  EXPECT_EQ(errors_, std::vector<int>{FxErr::ecFileNotFound});
  EXPECT_TRUE(viewer_.FileName().isEmpty());
  EXPECT_EQ(viewer_.NumPages(), 0u);
  EXPECT_EQ(pageChanges_, before + 1);
  EXPECT_EQ(viewer_.GotoPage(1), -8050);
}

}  // namespace
