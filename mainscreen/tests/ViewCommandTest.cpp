// The View command opens the current fax of either list in the viewer.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "faximage/tests/TestUtil.h"
#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"
#include "viewing/TFaxViewer.h"
#include "viewing/TFxFaxViewer.h"

namespace fs = std::filesystem;

namespace {

// What the viewer showed when it opened, then closes it. Message boxes are
// closed and their texts kept.
struct TSeen {
  bool opened = false;
  std::string file;
  unsigned pages = 0;
  QString status, header;
  QStringList messages;
};

class TViewerWatch {
 public:
  explicit TViewerWatch(TSeen& seen) : seen_(seen) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("seen").toBool()) return;
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      w->setProperty("seen", true);
      seen_.messages << box->text();
      box->accept();
    } else if (auto* viewer = qobject_cast<TFaxViewer*>(w)) {
      if (viewer->FaxViewer->Busy()) return;
      w->setProperty("seen", true);
      seen_.opened = true;
      seen_.file = viewer->FaxViewer->FileName().toStdString();
      seen_.pages = viewer->FaxViewer->NumPages();
      seen_.status = viewer->StatusPanel->text();
      seen_.header = viewer->HeaderText;
      viewer->reject();
    }
  }
  TSeen& seen_;
  QTimer timer_;
};

class ViewCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.Path().string() + "/");
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=0\r\n");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }
  static std::vector<std::vector<uint8_t>> Page(unsigned rows, unsigned ink) {
    std::vector<std::vector<uint8_t>> page(rows, std::vector<uint8_t>(216, 0));
    for (unsigned y = 0; y < rows; y += 3) page[y][(y + ink) % 216] = 0xF0;
    return page;
  }
  TTempFolder home_;
};

TEST_F(ViewCommand, OutgoingRowShowsCoverThenDocumentAndLeavesNoTemporaryFile) {
  TMainScreen w;
  Start(w);
  const fs::path send = SendFolder();
  FxWriteApf(send / "COV00000.APF", {Page(100, 1)}, apfHighRes);
  FxWriteApf(send / "FAX00000.APF", {Page(100, 2), Page(100, 3)}, apfHighRes);
  TXbDataTable& t = w.FaxTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.SetFieldText("RECIPIENT", "Ann Smith"));
  ASSERT_TRUE(t.SetFieldText("FAXDOC", "FAX00000.APF"));
  ASSERT_TRUE(t.SetFieldText("FAXCOVER", "COV00000.APF"));
  ASSERT_TRUE(t.Post());
  w.SetButtons();
  ASSERT_TRUE(w.ViewButton->isEnabled());

  TSeen seen;
  TViewerWatch watch(seen);
  w.ViewButton->click();
  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(fs::path(seen.file).filename(), "Temp00000.APF");
  EXPECT_EQ(seen.pages, 3u);
  EXPECT_EQ(seen.status, "Fax printout: Page 1 of 3");
  EXPECT_EQ(seen.header, "To: Ann Smith             Sent: not sent");
  EXPECT_FALSE(fs::exists(seen.file));
  EXPECT_TRUE(fs::exists(send / "COV00000.APF"));
  EXPECT_TRUE(seen.messages.isEmpty());

  // Only the cover left: the cover itself; the menu item does the same.
  fs::remove(send / "FAX00000.APF");
  seen = {};
  w.ViewPrintFax1->trigger();
  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(seen.file, (send / "COV00000.APF").string());
  EXPECT_EQ(seen.pages, 1u);

  // Neither file: the message and no window.
  fs::remove(send / "COV00000.APF");
  seen = {};
  w.ViewButton->click();
  EXPECT_FALSE(seen.opened);
  EXPECT_EQ(seen.messages, QStringList{"Error - fax file missing"});
}

TEST_F(ViewCommand, ReceivedRowShowsItsFileFromTheReceiveFolder) {
  TMainScreen w;
  Start(w);
  FxWriteApf(fs::path(ReceiveFolder()) / "FAX00007.APF", {Page(80, 4), Page(80, 5)}, 0);
  TXbDataTable& t = w.RecTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.SetFieldText("FROM", "  Bob  "));
  ASSERT_TRUE(t.SetFieldText("FAXFILE", "FAX00007.APF"));
  ASSERT_TRUE(t.Post());
  w.TabSet1->setCurrentIndex(1);
  w.SetButtons();
  TSeen seen;
  TViewerWatch watch(seen);
  w.ViewButton->click();
  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(seen.file, (fs::path(ReceiveFolder()) / "FAX00007.APF").string());
  EXPECT_EQ(seen.pages, 2u);
  EXPECT_TRUE(seen.header.startsWith("From: Bob             Received: ")) << seen.header.toStdString();
  EXPECT_TRUE(fs::exists(seen.file));
}

}  // namespace
