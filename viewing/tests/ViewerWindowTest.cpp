// The viewer window over real files in a fresh program folder: what the View
// command opens for a row, page buttons, zoom levels, rotation, export read
// back by ImageMagick and netpbm, and files that fail.
#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>

#include "faximage/FaxUnpacker.h"
#include "shell/core/Folders.h"
#include "testsupport/TempFolder.h"
#include "viewing/TFaxViewer.h"
#include "viewing/ViewFax.h"
#include "viewing/tests/ViewerTestUtil.h"

namespace fs = std::filesystem;

namespace {

// Answers modal windows as they open: queued answers first, else message
// boxes are closed with OK. Message box texts are kept.
class TModalAnswers {
 public:
  TModalAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  void Push(std::function<void(QWidget*)> answer) { answers_.push_back(std::move(answer)); }
  QStringList texts;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("answered").toBool() || qobject_cast<TFaxViewer*>(w)) return;
    w->setProperty("answered", true);
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      texts << box->text();
      box->accept();
      return;
    }
    if (!answers_.empty()) {
      auto answer = std::move(answers_.front());
      answers_.pop_front();
      answer(w);
    }
  }
  QTimer timer_;
  std::deque<std::function<void(QWidget*)>> answers_;
};

TFxBitmap Unpacked(const fs::path& file, unsigned page, TAutoScaleMode mode = TAutoScaleMode::asHalfWidth) {
  TFxFaxUnpacker u;
  u.AutoScaleMode = mode;
  u.SetInFileName(file.string());
  return u.PageToBitmap(page);
}

// Runs a command whose output is a PBM (P4) image.
TFxBitmap ReadPbmFrom(const std::string& command) {
  TFxBitmap out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::string data;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) data.append(buf, n);
  ::pclose(p);
  unsigned w = 0, h = 0;
  int used = 0;
  if (std::sscanf(data.c_str(), "P4 %u %u%n", &w, &h, &used) != 2) return out;
  const size_t at = static_cast<size_t>(used) + 1, rowBytes = (w + 7) / 8;
  if (data.size() < at + rowBytes * h) return out;
  out = TFxBitmap::MakeMono(w, h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if (static_cast<uint8_t>(data[at + y * rowBytes + x / 8]) & (0x80u >> (x % 8))) out.SetBlack(x, y, true);
  return out;
}

TFxBitmap Inverted(TFxBitmap b) {
  for (uint8_t& byte : b.bits) byte = static_cast<uint8_t>(~byte);
  return b;
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    ::pclose(p);
  }
  return text;
}

class ViewerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.Path().string() + "/");
    fs::create_directories(SendFolder());
    fs::create_directories(ReceiveFolder());
  }
  void Show(TFaxViewer& w, const fs::path& file) {
    w.SetFileToShow(QString::fromStdString(file.string()));
    w.Title = "Fax printout";
    w.show();
    ASSERT_TRUE(w.FirstActivationDone());
    ASSERT_TRUE(WaitForPage(*w.FaxViewer));
  }
  static QString Status(const TFaxViewer& w) { return w.StatusPanel->text(); }

  TTempFolder home_;
  TModalAnswers answers_;
};

TEST_F(ViewerWindow, OutgoingCoverAndDocumentOpenAsOneFaxWhoseTemporaryFileGoesAway) {
  const fs::path cover = fs::path(SendFolder()) / "COV00000.APF";
  const fs::path doc = fs::path(SendFolder()) / "FAX00000.APF";
  FxWriteApf(cover, {PatternPage(200, 7)}, apfHighRes);
  FxWriteApf(doc, {PatternPage(220, 8), PatternPage(240, 9)}, apfHighRes);
  std::string temp;
  {
    TFaxToView fax = TFaxToView::Outgoing(SendFolder(), "cov00000.apf", "FAX00000.APF");
    ASSERT_TRUE(fax.Temporary());
    temp = fax.File();
    EXPECT_EQ(fs::path(temp).filename(), "Temp00000.APF");
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(ProgramFolder()).parent_path());
    TFaxViewer w;
    Show(w, temp);
    EXPECT_EQ(Status(w), "Fax printout: Page 1 of 3");
    EXPECT_FALSE(w.NextButton->isHidden());
    // Level 50 on a fine fax: half size both ways.
    EXPECT_EQ(w.ZoomLevel(), 50);
    EXPECT_TRUE(w.FaxViewer->Scaling());
    EXPECT_EQ(w.FaxViewer->HorizMult(), 50u);
    EXPECT_EQ(w.FaxViewer->VertDiv(), 100u);
    EXPECT_TRUE(SamePixels(w.FaxViewer->PageImage(), Unpacked(cover, 1)));
    w.NextButton->click();
    ASSERT_TRUE(WaitForPage(*w.FaxViewer));
    EXPECT_EQ(Status(w), "Fax printout: Page 2 of 3");
    EXPECT_TRUE(SamePixels(w.FaxViewer->PageImage(), Unpacked(doc, 1)));
    w.LastButton->click();
    ASSERT_TRUE(WaitForPage(*w.FaxViewer));
    EXPECT_TRUE(SamePixels(w.FaxViewer->PageImage(), Unpacked(doc, 2)));
    w.FirstButton->click();
    ASSERT_TRUE(WaitForPage(*w.FaxViewer));
    EXPECT_EQ(Status(w), "Fax printout: Page 1 of 3");
    w.CloseButton->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(fs::exists(temp));
  }
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_TRUE(fs::exists(cover));
  EXPECT_TRUE(fs::exists(doc));
  EXPECT_TRUE(answers_.texts.isEmpty()) << answers_.texts.join("|").toStdString();

  // One of the two: that file itself, nothing temporary.
  TFaxToView only = TFaxToView::Outgoing(SendFolder(), "", "FAX00000.APF");
  EXPECT_FALSE(only.Temporary());
  EXPECT_EQ(only.File(), doc.string());
  EXPECT_EQ(TFaxToView::Outgoing(SendFolder(), "COV00000.APF", "GONE.APF").File(), cover.string());
  EXPECT_TRUE(TFaxToView::Outgoing(SendFolder(), "", "").File().empty());
}

TEST_F(ViewerWindow, ReceivedFaxIsFoundInAnyLetterCase) {
  const fs::path f = fs::path(ReceiveFolder()) / "FAX00001.APF";
  FxWriteApf(f, {PatternPage(150, 3)}, 0);
  TFaxToView fax = TFaxToView::Received(ReceiveFolder(), "fax00001.apf");
  ASSERT_EQ(fax.File(), f.string());
  EXPECT_FALSE(fax.Temporary());
  EXPECT_TRUE(TFaxToView::Received(ReceiveFolder(), "").File().empty());
  EXPECT_TRUE(TFaxToView::Received(ReceiveFolder(), "FAX09999.APF").File().empty());
  {
    TFaxViewer w;
    Show(w, fax.File());
    EXPECT_EQ(Status(w), "Fax printout: Page 1 of 1");
  }
  EXPECT_TRUE(fs::exists(f));
}

TEST_F(ViewerWindow, ZoomLevelsStepWithinTheirLimitsOnAOnePageFax) {
  const fs::path f = fs::path(ReceiveFolder()) / "normal.apf";
  FxWriteApf(f, {PatternPage(300, 5)}, 0);
  TFaxViewer w;
  Show(w, f);
  // A normal fax: half width from the unpacker, shown unscaled at level 50.
  EXPECT_TRUE(w.FirstButton->isHidden());
  EXPECT_TRUE(w.LastButton->isHidden());
  EXPECT_EQ(w.ZoomLevel(), 50);
  EXPECT_FALSE(w.FaxViewer->Scaling());
  const unsigned pageWidth = w.FaxViewer->PageImage().width;
  EXPECT_LE(pageWidth, 864u);
  w.ZoomInButton->click();
  EXPECT_EQ(w.ZoomLevel(), 75);
  EXPECT_TRUE(w.Zoom150Item->isChecked());
  EXPECT_EQ(w.FaxViewer->DisplayedSize().width(), int(pageWidth * 75 / 100));
  w.ZoomInButton->click();
  EXPECT_EQ(w.ZoomLevel(), 100);
  EXPECT_FALSE(w.FaxViewer->Scaling());
  EXPECT_EQ(w.FaxViewer->DisplayedSize().width(), int(pageWidth));
  w.ZoomInButton->click();  // beeps
  EXPECT_EQ(w.ZoomLevel(), 100);
  EXPECT_TRUE(w.Zoom200Item->isChecked());
  for (int i = 0; i < 4; ++i) w.ZoomOutButton->click();
  EXPECT_EQ(w.ZoomLevel(), 25);
  EXPECT_TRUE(w.Zoom50Item->isChecked());
  EXPECT_FALSE(w.Zoom100Item->isChecked());
  EXPECT_EQ(w.FaxViewer->DisplayedSize().width(), int(pageWidth / 4));
  w.Zoom150Item->trigger();
  EXPECT_EQ(w.ZoomLevel(), 75);
  EXPECT_TRUE(answers_.texts.isEmpty());
}

TEST_F(ViewerWindow, ANarrowWindowStartsAtTheSmallestLevel) {
  const fs::path f = fs::path(ReceiveFolder()) / "fine.apf";
  FxWriteApf(f, {PatternPage(300, 5, 2048)}, apfHighRes | apfWide);
  TFaxViewer w;
  w.resize(330, 400);  // the control about a fifth of a wide page
  Show(w, f);
  ASSERT_LT(w.FaxViewer->width(), int(2048 * 0.24));
  EXPECT_EQ(w.ZoomLevel(), 25);
  EXPECT_EQ(w.FaxViewer->HorizMult(), 25u);
}

TEST_F(ViewerWindow, RotationItemsTurnThePageAndCarryTheCheckMark) {
  const fs::path f = fs::path(ReceiveFolder()) / "fine.apf";
  FxWriteApf(f, {PatternPage(300, 5)}, apfHighRes);
  TFaxViewer w;
  Show(w, f);
  const TFxBitmap upright = Unpacked(f, 1);
  w.Rotate90Item->trigger();
  EXPECT_EQ(w.FaxViewer->Rotation(), 1);
  EXPECT_TRUE(w.Rotate90Item->isChecked());
  w.Rotate270Item->trigger();
  EXPECT_TRUE(w.Rotate270Item->isChecked());
  EXPECT_FALSE(w.Rotate90Item->isChecked());
  EXPECT_TRUE(SamePixels(w.FaxViewer->PageImage(), FxRotateMono(upright, 3)));
  w.Rotate180Item->trigger();
  EXPECT_TRUE(SamePixels(w.FaxViewer->PageImage(), FxRotateMono(upright, 2)));
  w.NoRotationItem->trigger();
  EXPECT_TRUE(SamePixels(w.FaxViewer->PageImage(), upright));
  EXPECT_TRUE(w.NoRotationItem->isChecked());
}

TEST_F(ViewerWindow, ExportedPagesReadBackAsThePage) {
  const fs::path f = fs::path(ReceiveFolder()) / "two.apf";
  FxWriteApf(f, {PatternPage(120, 1), PatternPage(130, 2)}, 0);
  TFaxViewer w;
  Show(w, f);
  w.NextButton->click();
  ASSERT_TRUE(WaitForPage(*w.FaxViewer));
  // The unpacker's own aspect correction: a normal page at double height.
  const TFxBitmap page = Unpacked(f, 2, TAutoScaleMode::asDoubleHeight);
  ASSERT_EQ(page.height, 260u);
  const fs::path out = home_ / "out";
  fs::create_directories(out);

  // Through the menu; the name comes back without an extension.
  EXPECT_EQ(TFaxViewer::ExportNameFilter("BMP"), "BMP File (*.BMP)");
  QString asked;
  w.AskExportFileName = [&](const QString& format) {
    asked = format;
    return QString::fromStdString((out / "page2").string());
  };
  w.ExportBmpItem->trigger();
  EXPECT_EQ(asked, "BMP");
  const fs::path bmp = out / "page2.BMP";
  ASSERT_TRUE(fs::exists(bmp));
  EXPECT_NE(Output("identify " + bmp.string()).find(" " + std::to_string(page.width) + "x260 "), std::string::npos);
  EXPECT_TRUE(SamePixels(ReadPbmFrom("bmptopnm " + bmp.string() + " 2>/dev/null"), page));
  EXPECT_TRUE(SamePixels(ReadPbmFrom("convert " + bmp.string() + " pbm:- 2>/dev/null"), page));

  ASSERT_EQ(w.ExportPage("PCX", QString::fromStdString((out / "page2.pcx").string())), 0);
  EXPECT_TRUE(SamePixels(ReadPbmFrom("pcxtoppm " + (out / "page2.pcx").string() + " 2>/dev/null | ppmtopgm | pgmtopbm -threshold"), page));
  // ImageMagick (6.9) takes a set bit of a one-bit PCX for black whatever
  // the palette says, the reverse of the format's and netpbm's reading: it
  // must see the same page with paper and ink swapped.
  const TFxBitmap inverse = Inverted(page);
  EXPECT_TRUE(SamePixels(ReadPbmFrom("convert " + (out / "page2.pcx").string() + " pbm:- 2>/dev/null"), inverse));
  // No extension: the format's own is added.
  ASSERT_EQ(w.ExportPage("DCX", QString::fromStdString((out / "page2").string())), 0);
  EXPECT_NE(Output("identify dcx:" + (out / "page2.DCX").string()).find(" " + std::to_string(page.width) + "x260 "),
            std::string::npos);
  EXPECT_TRUE(SamePixels(ReadPbmFrom("convert dcx:" + (out / "page2.DCX").string() + " pbm:- 2>/dev/null"), inverse));
  EXPECT_TRUE(answers_.texts.isEmpty()) << answers_.texts.join("|").toStdString();
}

TEST_F(ViewerWindow, APageTooTallForBmpSaysSoAndLeavesNoFile) {
  const fs::path f = fs::path(ReceiveFolder()) / "long.apf";
  FxRawPage tall(32768, std::vector<uint8_t>(216, 0));
  for (unsigned y = 0; y < tall.size(); y += 64) tall[y][20] = 0x18;
  FxWriteApf(f, {tall}, apfHighRes);
  TFaxViewer w;
  Show(w, f);
  EXPECT_EQ(w.FaxViewer->PageImage().height, 32768u);
  const fs::path bmp = home_ / "tall.bmp";
  EXPECT_EQ(w.ExportPage("BMP", QString::fromStdString(bmp.string())), -8054);
  EXPECT_FALSE(fs::exists(bmp));
  EXPECT_EQ(answers_.texts, QStringList{"BMP size exceeds Windows' maxheight of 32767"});
  EXPECT_EQ(w.ExportPage("PCX", QString::fromStdString((home_ / "tall.pcx").string())), 0);
}

TEST_F(ViewerWindow, FilesThatFailSayWhy) {
  const fs::path broken = fs::path(ReceiveFolder()) / "broken.apf";
  TTempFolder::WriteFile(broken, "APF10 not really");
  {
    TFaxViewer w;
    w.SetFileToShow(QString::fromStdString(broken.string()));
    w.show();
    EXPECT_EQ(answers_.texts, QStringList{"Error opening fax file"});
    EXPECT_EQ(Status(w), "No file loaded");
    EXPECT_TRUE(w.FaxViewer->FileName().isEmpty());
  }
  // Deleted while shown: the next page says so.
  answers_.texts.clear();
  const fs::path f = fs::path(ReceiveFolder()) / "two.apf";
  FxWriteApf(f, {PatternPage(100, 1), PatternPage(100, 2)}, apfHighRes);
  TFaxViewer w;
  Show(w, f);
  fs::remove(f);
  w.NextButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !answers_.texts.isEmpty(); }, 5000));
  EXPECT_EQ(answers_.texts, QStringList{"Viewer error -2"});
  EXPECT_EQ(Status(w), "No file loaded");
  // Then a fax dropped on the window takes its place.
  const fs::path other = fs::path(ReceiveFolder()) / "other.apf";
  FxWriteApf(other, {PatternPage(100, 1), PatternPage(100, 2), PatternPage(90, 3)}, apfHighRes);
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(other.string()))});
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.FaxViewer->viewport(), &enter);
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.FaxViewer->viewport(), &drop);
  ASSERT_TRUE(WaitForPage(*w.FaxViewer));
  EXPECT_EQ(Status(w), "Fax printout: Page 1 of 3");
  EXPECT_EQ(w.FileToShow().toStdString(), other.string());
  EXPECT_FALSE(w.NextButton->isHidden());
  // A fine fax: the window's level and the control's scale agree again.
  EXPECT_EQ(w.ZoomLevel(), 50);
  EXPECT_TRUE(w.FaxViewer->Scaling());
  EXPECT_EQ(w.FaxViewer->HorizMult(), 50u);
}

}  // namespace
