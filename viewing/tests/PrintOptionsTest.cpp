// The print options window and the print routines over it: the range
// check, options remembered even when cancelled, printing on receipt.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <memory>

#include "faximage/tests/TestUtil.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"
#include "viewing/FaxPrinting.h"
#include "viewing/TFaxViewer.h"
#include "viewing/TFxFaxViewer.h"
#include "viewing/tests/ModalWatch.h"
#include "viewing/tests/PrintTestUtil.h"

namespace fs = std::filesystem;

namespace {

TEST(PrePrintForm, ABackwardRangeCannotBeConfirmed) {
  TPrePrintForm form;
  form.SetPageCount(5);
  EXPECT_EQ(form.windowTitle(), "Print");
  EXPECT_EQ(form.ToPage->maximum(), 5);
  form.FromPage->setValue(4);
  form.ToPage->setValue(2);
  form.show();
  form.OkButton->click();
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(form.result(), QDialog::Accepted);
  // A disabled range (printing the current page) is not checked.
  form.ToPage->setEnabled(false);
  form.OkButton->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
}

class PrintOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.Path().string() + "/");
    TTempFolder::WriteFile(home_ / "CV.INI", "[Printing]\r\nMultiPage=1\r\nHeader=0\r\nFooter=1\r\nStretch=1\r\n");
    std::vector<FxRawPage> pages;
    for (unsigned n = 1; n <= 4; ++n) pages.push_back(BlockPage(n, 600));
    fax_ = home_ / "FAX00001.APF";
    FxWriteApf(fax_, pages, apfHighRes);
    pdf_ = home_ / "out.pdf";
    PrintToPdf(printer_, pdf_);
  }
  TPrintSettings Stored() const {
    TIniFile ini((home_ / "CV.INI").string());
    return {ini.ReadBool("Printing", "MultiPage", false), ini.ReadBool("Printing", "Header", false),
            ini.ReadBool("Printing", "Footer", false), ini.ReadBool("Printing", "Stretch", false)};
  }
  TTempFolder home_;
  fs::path fax_, pdf_;
  TFxFaxPrinter printer_;
};

TEST_F(PrintOptions, ChoicesAreRememberedEvenWhenCancelled) {
  TModalWatch watch([](TPrePrintForm& form) {
    EXPECT_TRUE(form.PrintMultiPage->isChecked());
    EXPECT_FALSE(form.PrintHeader->isChecked());
    EXPECT_TRUE(form.PrintFooter->isChecked());
    EXPECT_TRUE(form.StretchToFit->isChecked());
    EXPECT_EQ(form.FromPage->value(), 1);
    EXPECT_EQ(form.ToPage->value(), 4);
    form.PrintMultiPage->setChecked(false);
    form.PrintHeader->setChecked(true);
    form.CancelButton->click();
  });
  EXPECT_FALSE(PrintFaxWithOptions(nullptr, printer_, QString::fromStdString(fax_.string()), "To: Ann"));
  EXPECT_EQ(watch.forms, 1);
  EXPECT_FALSE(fs::exists(pdf_));
  const TPrintSettings s = Stored();
  EXPECT_FALSE(s.MultiPage);
  EXPECT_TRUE(s.Header);
  EXPECT_TRUE(s.Footer);
  EXPECT_TRUE(s.Stretch);
}

TEST_F(PrintOptions, OkPrintsTheChosenRangeWithTheChosenLines) {
  TModalWatch watch([](TPrePrintForm& form) {
    form.FromPage->setValue(2);
    form.ToPage->setValue(3);
    form.PrintMultiPage->setChecked(false);
    form.PrintHeader->setChecked(true);
    form.OkButton->click();
  });
  EXPECT_TRUE(PrintFaxWithOptions(nullptr, printer_, QString::fromStdString(fax_.string()), "To: Ann Smith"));
  ASSERT_EQ(PdfSheetCount(pdf_), 2);
  for (int sheet = 1; sheet <= 2; ++sheet) {
    const QString text = SheetText(pdf_, sheet);
    EXPECT_TRUE(text.contains("To: Ann Smith")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("Page: %1 of 4").arg(sheet + 1))) << text.toStdString();
  }
  EXPECT_TRUE(Stored().Header);

  // A file that is not a fax says so instead of opening the window.
  const fs::path junk = home_ / "JUNK.APF";
  TTempFolder::WriteFile(junk, "not a fax at all");
  EXPECT_FALSE(PrintFaxWithOptions(nullptr, printer_, QString::fromStdString(junk.string()), "x"));
  ASSERT_EQ(watch.messages.size(), 1);
  EXPECT_TRUE(watch.messages[0].startsWith("The fax file cannot be printed: ")) << watch.messages[0].toStdString();
  EXPECT_EQ(watch.forms, 1);
}

TEST_F(PrintOptions, PrintingOnReceiptAsksNothingAndPrintsOnePagePerSheet) {
  TModalWatch watch([](TPrePrintForm& form) { form.reject(); });
  EXPECT_TRUE(PrintFaxOnReceipt(printer_, QString::fromStdString(fax_.string()), "No Such Printer",
                                "From: Far End             Received: today"));
  EXPECT_EQ(watch.forms, 0);
  // MultiPage is on in the settings, yet every page has its own sheet; the
  // header is off, the footer on.
  ASSERT_EQ(PdfSheetCount(pdf_), 4);
  const QString text = SheetText(pdf_, 4);
  EXPECT_TRUE(text.contains("Page: 4 of 4")) << text.toStdString();
  EXPECT_FALSE(text.contains("Far End"));
  EXPECT_EQ(printer_.Printer().outputFormat(), QPrinter::PdfFormat);
}

TEST_F(PrintOptions, CurrentPagePrintsThatPageAloneAndKeepsOnlyTheLineChoices) {
  auto watch = std::make_unique<TModalWatch>([](TPrePrintForm& form) {
    EXPECT_FALSE(form.FromPage->isEnabled());
    EXPECT_FALSE(form.ToPage->isEnabled());
    EXPECT_FALSE(form.PrintMultiPage->isEnabled());
    EXPECT_EQ(form.FromPage->value(), 3);
    EXPECT_EQ(form.ToPage->value(), 3);
    form.PrintHeader->setChecked(true);
    form.StretchToFit->setChecked(false);  // not asked here: stays as stored
    form.OkButton->click();
  });
  const QString file = QString::fromStdString(fax_.string());
  EXPECT_TRUE(PrintCurrentPage(nullptr, printer_, file, 3, "File: FAX00001.APF"));
  ASSERT_EQ(PdfSheetCount(pdf_), 1);
  const QString text = SheetText(pdf_, 1);
  EXPECT_TRUE(text.contains("Page: 3 of 4")) << text.toStdString();
  EXPECT_TRUE(text.contains("File: FAX00001.APF")) << text.toStdString();
  EXPECT_EQ(printer_.FirstPageToPrint(), 1u);
  EXPECT_EQ(printer_.LastPageToPrint(), 4u);
  const TPrintSettings s = Stored();
  EXPECT_TRUE(s.Header);
  EXPECT_TRUE(s.Stretch);
  EXPECT_TRUE(s.MultiPage);
  watch.reset();

  // The viewer's Print offers the range chosen last for the same fax.
  printer_.SetFirstPageToPrint(2);
  printer_.SetLastPageToPrint(2);
  TModalWatch again([](TPrePrintForm& form) {
    EXPECT_EQ(form.FromPage->value(), 2);
    EXPECT_EQ(form.ToPage->value(), 2);
    form.CancelButton->click();
  });
  EXPECT_FALSE(PrintFaxWithOptions(nullptr, printer_, file, "x", true));
  EXPECT_EQ(again.forms, 1);
}

TEST_F(PrintOptions, TheViewerPrintsItsFaxWholeFirstThenTheRangeChosenLast) {
  TFaxViewer viewer;
  viewer.SetFileToShow(QString::fromStdString(fax_.string()));
  viewer.HeaderText = "From: Ann";
  viewer.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.FaxViewer->NumPages() == 4; }, 5000));
  // Without a printer the print buttons are off and export stays.
  EXPECT_EQ(viewer.Printbutton->isEnabled(), PrinterInstalled());
  EXPECT_EQ(viewer.PrinterSetupButton->isEnabled(), PrinterInstalled());
  EXPECT_TRUE(viewer.ExportBmpItem->isEnabled());
  PrintToPdf(*viewer.FxFaxPrinter1, pdf_);
  int forms = 0;
  {
    TModalWatch watch([&](TPrePrintForm& form) {
      ++forms;
      EXPECT_EQ(form.FromPage->value(), 1);
      EXPECT_EQ(form.ToPage->value(), 4);
      form.ToPage->setValue(2);
      form.PrintMultiPage->setChecked(false);
      form.PrintHeader->setChecked(true);
      form.OkButton->click();
    });
    viewer.PrintbuttonClick();
  }
  ASSERT_EQ(forms, 1);
  ASSERT_EQ(PdfSheetCount(pdf_), 2);
  EXPECT_TRUE(SheetText(pdf_, 1).contains("From: Ann"));
  {
    TModalWatch watch([&](TPrePrintForm& form) {
      ++forms;
      EXPECT_EQ(form.FromPage->value(), 1);
      EXPECT_EQ(form.ToPage->value(), 2);
      form.CancelButton->click();
    });
    viewer.PrintbuttonClick();
  }
  EXPECT_EQ(forms, 2);
  viewer.close();
}

}  // namespace
