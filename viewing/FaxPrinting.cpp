#include "viewing/FaxPrinting.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <QSpinBox>
#include <QCheckBox>

#include "shell/Dialogs.h"
#include "shell/core/Settings.h"
#include "viewing/TFxFaxPrinter.h"
#include "viewing/TPrePrintForm.h"

bool PrinterInstalled() { return !QPrinterInfo::availablePrinters().isEmpty(); }

namespace {
void SetMargins(TFxFaxPrinter& printer, bool header, bool footer, const QString& headerText) {
  printer.FaxHeader.Enabled = header;
  printer.FaxHeader.Caption = header ? headerText : QString();
  printer.FaxFooter.Enabled = footer;
  printer.FaxFooter.Caption = footer ? QString(kPrintFooterCaption) : QString();
}
}  // namespace

bool PrintFaxWithOptions(QWidget* parent, TFxFaxPrinter& printer, const QString& fileName, const QString& headerText,
                         bool keepRange) {
  const unsigned first = printer.FirstPageToPrint(), last = printer.LastPageToPrint();
  const bool sameFile = printer.FileName() == fileName;
  printer.SetFileName(fileName);
  if (keepRange && sameFile && first >= 1 && first <= last && last <= printer.PageCount()) {
    printer.SetFirstPageToPrint(first);
    printer.SetLastPageToPrint(last);
  }
  if (printer.PageCount() == 0) {
    ShowInformation(printer.FileError().isEmpty() ? QString("The fax file has no pages to print.")
                                                  : "The fax file cannot be printed: " + printer.FileError());
    return false;
  }
  ReadPrintSettings();
  TPrePrintForm form(parent);
  form.SetPageCount(static_cast<int>(printer.PageCount()));
  form.PrintHeader->setChecked(PrintSettings.Header);
  form.PrintFooter->setChecked(PrintSettings.Footer);
  form.PrintMultiPage->setChecked(PrintSettings.MultiPage);
  form.StretchToFit->setChecked(PrintSettings.Stretch);
  form.FromPage->setValue(static_cast<int>(printer.FirstPageToPrint()));
  form.ToPage->setValue(static_cast<int>(printer.LastPageToPrint()));
  const int result = form.exec();
  // The choices are kept even when the window is cancelled.
  PrintSettings.Header = form.PrintHeader->isChecked();
  PrintSettings.Footer = form.PrintFooter->isChecked();
  PrintSettings.MultiPage = form.PrintMultiPage->isChecked();
  PrintSettings.Stretch = form.StretchToFit->isChecked();
  (void)WritePrintSettings();
  if (result != QDialog::Accepted) return false;
  printer.SetFirstPageToPrint(static_cast<unsigned>(form.FromPage->value()));
  printer.SetLastPageToPrint(static_cast<unsigned>(form.ToPage->value()));
  printer.PrintScale = form.StretchToFit->isChecked() ? TFaxPrintScale::psFitToPage : TFaxPrintScale::psNone;
  printer.MultiPage = form.PrintMultiPage->isChecked();
  SetMargins(printer, form.PrintHeader->isChecked(), form.PrintFooter->isChecked(), headerText);
  return printer.PrintFax();
}

bool PrintFaxOnReceipt(TFxFaxPrinter& printer, const QString& fileName, const QString& printerName,
                       const QString& headerText) {
  if (!printerName.isEmpty() && printerName != kDefaultPrinterName &&
      QPrinterInfo::availablePrinterNames().contains(printerName))
    printer.Printer().setPrinterName(printerName);
  printer.SetFileName(fileName);
  if (printer.PageCount() == 0) return false;
  ReadPrintSettings();
  printer.PrintScale = PrintSettings.Stretch ? TFaxPrintScale::psFitToPage : TFaxPrintScale::psNone;
  printer.MultiPage = false;
  SetMargins(printer, PrintSettings.Header, PrintSettings.Footer, headerText);
  return printer.PrintFax();
}

bool PrintCurrentPage(QWidget* parent, TFxFaxPrinter& printer, const QString& fileName, unsigned page,
                      const QString& headerText) {
  printer.SetFileName(fileName);
  if (page < 1 || page > printer.PageCount()) return false;
  ReadPrintSettings();
  TPrePrintForm form(parent);
  form.SetPageCount(static_cast<int>(printer.PageCount()));
  form.FromPage->setValue(static_cast<int>(page));
  form.ToPage->setValue(static_cast<int>(page));
  form.FromPage->setEnabled(false);
  form.ToPage->setEnabled(false);
  form.PrintMultiPage->setEnabled(false);
  form.PrintHeader->setChecked(PrintSettings.Header);
  form.PrintFooter->setChecked(PrintSettings.Footer);
  const int result = form.exec();
  PrintSettings.Header = form.PrintHeader->isChecked();
  PrintSettings.Footer = form.PrintFooter->isChecked();
  (void)WritePrintSettings();
  bool printed = false;
  if (result == QDialog::Accepted) {
    printer.SetFirstPageToPrint(page);
    printer.SetLastPageToPrint(page);
    printer.PrintScale = TFaxPrintScale::psFitToPage;
    printer.MultiPage = false;
    SetMargins(printer, form.PrintHeader->isChecked(), form.PrintFooter->isChecked(), headerText);
    printed = printer.PrintFax();
  }
  printer.SetFirstPageToPrint(1);
  printer.SetLastPageToPrint(printer.PageCount());
  return printed;
}
