// The main window's Print command prints the current fax of either list;
// without any printer the print commands are disabled.
#include <QPrinterInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "faximage/tests/TestUtil.h"
#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"
#include "viewing/TFxFaxPrinter.h"
#include "viewing/TFxFaxPrinterStatus.h"
#include "viewing/tests/ModalWatch.h"
#include "viewing/tests/PrintTestUtil.h"

namespace fs = std::filesystem;

namespace {

class PrintCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.Path().string() + "/");
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=0\r\n[Printing]\r\nHeader=1\r\nFooter=1\r\n");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }
  TTempFolder home_;
};

TEST_F(PrintCommand, OutgoingCoverAndDocumentPrintAsOneFax) {
  TMainScreen w;
  Start(w);
  const fs::path send = SendFolder();
  FxWriteApf(send / "COV00000.APF", {BlockPage(1, 400)}, apfHighRes);
  FxWriteApf(send / "FAX00000.APF", {BlockPage(2, 400), BlockPage(3, 400)}, apfHighRes);
  TXbDataTable& t = w.FaxTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.SetFieldText("RECIPIENT", "Ann Smith"));
  ASSERT_TRUE(t.SetFieldText("FAXDOC", "FAX00000.APF"));
  ASSERT_TRUE(t.SetFieldText("FAXCOVER", "COV00000.APF"));
  ASSERT_TRUE(t.Post());
  w.SetButtons();
  // Print is enabled as View is, when there is a printer to print on.
  EXPECT_EQ(w.PrintButton->isEnabled(), !QPrinterInfo::availablePrinters().isEmpty());
  EXPECT_EQ(w.Print1->isEnabled(), w.PrintButton->isEnabled());
  EXPECT_EQ(w.PrintSetup1->isEnabled(), w.PrintButton->isEnabled());

  const fs::path pdf = home_ / "out.pdf";
  PrintToPdf(*w.FxFaxPrinter1, pdf);
  TModalWatch watch([](TPrePrintForm& form) {
    EXPECT_EQ(form.ToPage->value(), 3);
    form.OkButton->click();
  });
  w.PrintbuttonClick();
  EXPECT_EQ(watch.forms, 1);
  ASSERT_EQ(PdfSheetCount(pdf), 3);
  const QString text = SheetText(pdf, 3);
  EXPECT_TRUE(text.contains("To: Ann Smith")) << text.toStdString();
  EXPECT_TRUE(text.contains("Sent: not sent")) << text.toStdString();
  EXPECT_TRUE(text.contains("Page: 3 of 3")) << text.toStdString();
  // The joined file is gone; the row's own files stay.
  EXPECT_FALSE(fs::exists(home_ / "Temp00000.APF"));
  EXPECT_TRUE(fs::exists(send / "COV00000.APF"));
  EXPECT_TRUE(watch.messages.isEmpty());

  // Neither file: the message and no print window.
  fs::remove(send / "COV00000.APF");
  fs::remove(send / "FAX00000.APF");
  w.mnuPrintClick();
  EXPECT_EQ(watch.forms, 1);
  EXPECT_EQ(watch.messages, QStringList{"Error - fax file missing"});
}

TEST_F(PrintCommand, ReceivedFaxPrintsWithItsSenderInTheHeader) {
  TMainScreen w;
  Start(w);
  FxWriteApf(fs::path(ReceiveFolder()) / "FAX00007.APF", {BlockPage(4, 300), BlockPage(5, 300)}, 0);
  TXbDataTable& t = w.RecTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.SetFieldText("FROM", "  Bob  "));
  ASSERT_TRUE(t.SetFieldText("FAXFILE", "FAX00007.APF"));
  ASSERT_TRUE(t.Post());
  w.TabSet1->setCurrentIndex(1);
  w.SetButtons();
  const fs::path pdf = home_ / "rec.pdf";
  PrintToPdf(*w.FxFaxPrinter1, pdf);
  TModalWatch watch([](TPrePrintForm& form) { form.OkButton->click(); });
  w.PrintbuttonClick();
  ASSERT_EQ(PdfSheetCount(pdf), 2);
  const QString text = SheetText(pdf, 1);
  EXPECT_TRUE(text.contains("From: Bob")) << text.toStdString();
  EXPECT_TRUE(text.contains("Received: ")) << text.toStdString();
  EXPECT_FALSE(w.FxFaxPrinterStatus1->isVisible());
}

}  // namespace
