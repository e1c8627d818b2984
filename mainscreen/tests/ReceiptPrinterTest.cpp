// Printing received faxes as they arrive: every page on its own sheet with
// the received fax's header and the page footer, printed to PDF files and
// read back with poppler's tools.
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "faximage/tests/TestUtil.h"
#include "mainscreen/TReceiptPrinter.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"
#include "viewing/TFxFaxPrinter.h"
#include "viewing/tests/PrintTestUtil.h"

namespace fs = std::filesystem;

namespace {

class ReceiptPrinter : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.Path().string() + "/");
    fs::create_directories(ReceiveFolder());
    Settings = TSettings{};
  }
  void PrintSettingsAre(const std::string& printing) {
    TTempFolder::WriteFile(home_ / "CV.INI", "[Printing]\r\n" + printing);
  }
  TReceivedFax Fax(const std::string& name, unsigned pages) {
    TReceivedFax fax;
    fax.imageFile = QString::fromStdString((fs::path(ReceiveFolder()) / name).string());
    std::vector<FxRawPage> raw;
    for (unsigned p = 1; p <= pages; ++p) raw.push_back(BlockPage(p, 400));
    if (pages > 0) FxWriteApf(fax.imageFile.toStdString(), raw, apfHighRes);
    fax.from = " ACME Corp ";
    fax.pages = static_cast<int>(pages);
    fax.date = QDate(2026, 3, 4);
    fax.time = QTime(9, 5);
    return fax;
  }
  static bool WaitPrinted(QSignalSpy& spy, int count) {
    return QTest::qWaitFor([&] { return spy.size() >= count; }, 60000);
  }
  TTempFolder home_;
};

TEST_F(ReceiptPrinter, EveryPageOnItsOwnSheetWithTheReceivedHeaderAndThePageFooter) {
  // Four to a sheet is the user's choice for the Print command, not for faxes
  // printed as they arrive.
  PrintSettingsAre("Header=1\r\nFooter=1\r\nStretch=1\r\nMultiPage=1\r\n");
  TReceiptPrinter printer;
  printer.DatePattern = "MM/dd/yyyy";
  const fs::path pdf = home_ / "out.pdf";
  PrintToPdf(printer.Printer(), pdf, 300);
  QSignalSpy printed(&printer, &TReceiptPrinter::Printed);
  const TReceivedFax fax = Fax("FAX00001.APF", 3);
  // A printer of that name is not installed: the current one prints.
  printer.Print(fax, "No Such Printer");
  // Printing starts after the caller has returned.
  EXPECT_FALSE(printer.Idle());
  EXPECT_FALSE(fs::exists(pdf));
  ASSERT_TRUE(WaitPrinted(printed, 1));
  EXPECT_TRUE(printed.front().at(1).toBool());
  EXPECT_TRUE(printer.Idle());
  ASSERT_EQ(PdfSheetCount(pdf), 3);
  const QString first = SheetText(pdf, 1);
  EXPECT_TRUE(first.contains("From: ACME Corp")) << first.toStdString();
  EXPECT_TRUE(first.contains("Page: 1 of 3")) << first.toStdString();
  EXPECT_TRUE(SheetText(pdf, 3).contains("Page: 3 of 3"));
  // The file is named in lower case, as received faxes always have been.
  const QString file = QString::fromStdString(ReceiveFolder()).toLower() + "fax00001.apf";
  EXPECT_EQ(printer.HeaderText(fax),
            "From: ACME Corp             Received: 03/04/2026 at " +
                QLocale::system().toString(QTime(9, 5), QLocale::ShortFormat) + "             Fax File:        " + file);
}

TEST_F(ReceiptPrinter, HeaderAndFooterOffLeaveOnlyThePages) {
  PrintSettingsAre("Header=0\r\nFooter=0\r\nStretch=0\r\n");
  TReceiptPrinter printer;
  const fs::path pdf = home_ / "plain.pdf";
  PrintToPdf(printer.Printer(), pdf, 300);
  QSignalSpy printed(&printer, &TReceiptPrinter::Printed);
  printer.Print(Fax("FAX00002.APF", 2), kDefaultPrinterName);
  ASSERT_TRUE(WaitPrinted(printed, 1));
  ASSERT_EQ(PdfSheetCount(pdf), 2);
  EXPECT_TRUE(SheetText(pdf, 1).trimmed().isEmpty()) << SheetText(pdf, 1).toStdString();
}

TEST_F(ReceiptPrinter, FaxesArrivingWhileThePrinterIsBusyAreAllPrintedInTurn) {
  PrintSettingsAre("Header=1\r\nFooter=1\r\n");
  Settings.ImposeWaitBeforePrinting = true;  // slower runs, so that faxes pile up
  TFxFaxPrinter shared;
  TReceiptPrinter printer(&shared);
  const fs::path pdf = home_ / "busy.pdf";
  PrintToPdf(shared, pdf, 150);
  QSignalSpy printed(&printer, &TReceiptPrinter::Printed);
  const TReceivedFax a = Fax("FAX00003.APF", 2), b = Fax("FAX00004.APF", 1), missing = Fax("FAX00005.APF", 0);
  // The other faxes arrive while the first one prints.
  bool queued = false;
  QObject::connect(&shared, &TFxFaxPrinter::NextPage, &printer, [&] {
    if (std::exchange(queued, true)) return;
    EXPECT_TRUE(shared.Printing());
    printer.Print(b, kDefaultPrinterName);
    printer.Print(missing, kDefaultPrinterName);
  });
  printer.Print(a, kDefaultPrinterName);
  ASSERT_TRUE(WaitPrinted(printed, 3));
  EXPECT_EQ(printed.at(0).at(0).toString(), a.imageFile);
  EXPECT_TRUE(printed.at(0).at(1).toBool());
  EXPECT_EQ(printed.at(1).at(0).toString(), b.imageFile);
  EXPECT_TRUE(printed.at(1).at(1).toBool());
  // A fax whose file is gone prints nothing.
  EXPECT_FALSE(printed.at(2).at(1).toBool());
  EXPECT_EQ(PdfSheetCount(pdf), 1);  // the last run that printed was the one-page fax
  EXPECT_TRUE(queued);
}

}  // namespace
