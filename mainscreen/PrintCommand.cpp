// The Print and Print Setup commands: the current fax of either list on the
// system printer.
#include <QApplication>
#include <QPrintDialog>

#include "mainscreen/TGraphicPanel.h"
#include "mainscreen/TMainScreen.h"
#include "shell/Dialogs.h"
#include "shell/core/Folders.h"
#include "store/StoreText.h"
#include "viewing/FaxPrinting.h"
#include "viewing/TFxFaxPrinter.h"
#include "viewing/TFxFaxPrinterStatus.h"
#include "viewing/ViewFax.h"

void TMainScreen::CreateFaxPrinter() {
  printerInstalled_ = PrinterInstalled();
  FxFaxPrinterStatus1 = new TFxFaxPrinterStatus(this);
  FxFaxPrinter1 = new TFxFaxPrinter(this);
  FxFaxPrinter1->setObjectName("FxFaxPrinter1");
  FxFaxPrinter1->Caption = "Corvane Fax Printer";
  FxFaxPrinter1->FaxHeader.Caption = "FILE: $F";
  FxFaxPrinter1->FaxHeader.Enabled = false;
  FxFaxPrinter1->FaxFooter.Caption = kPrintFooterCaption;
  FxFaxPrinter1->FaxFooter.Enabled = false;
  FxFaxPrinter1->StatusDisplay = FxFaxPrinterStatus1;
}

void TMainScreen::PrintbuttonClick() {
  const bool outgoing = currentTab_ == TFaxTab::Outgoing;
  TXbDataTable& table = outgoing ? FaxTable : RecTable;
  if (!table.Active() || table.Eof() || FxFaxPrinter1->Printing()) {
    QApplication::beep();
    return;
  }
  const QString status = Status->Caption();
  Status->SetCaption("Preparing files for printing...");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // An outgoing cover and document print as one fax from a temporary file
  // that goes away with `fax`.
  const TFaxToView fax =
      outgoing ? TFaxToView::Outgoing(SendFolder(), table.FieldText("FAXCOVER"), table.FieldText("FAXDOC"))
               : TFaxToView::Received(ReceiveFolder(), table.FieldText("FAXFILE"));
  QApplication::restoreOverrideCursor();
  if (fax.File().empty()) {
    ShowInformation("Error - fax file missing");
    Status->SetCaption(status);
    return;
  }
  const QString when = RowDateTimeTextQt(table, outgoing, QtDatePattern(XbaseEnv.DatePattern()));
  const QString blanks(13, ' ');
  const QString header = outgoing
                             ? "To: " + TableText(table.FieldText("RECIPIENT")) + blanks + "Sent: " + when
                             : "From: " + TableText(table.FieldText("FROM")).trimmed() + blanks + "Received: " + when;
  (void)PrintFaxWithOptions(this, *FxFaxPrinter1, QString::fromStdString(fax.File()), header);
  Status->SetCaption(status);
}

void TMainScreen::mnuPrintClick() { PrintbuttonClick(); }

void TMainScreen::PrintSetup1Click() {
  if (FxFaxPrinter1->Printing()) {
    QApplication::beep();
    return;
  }
  QPrintDialog dialog(&FxFaxPrinter1->Printer(), this);
  dialog.setWindowTitle("Print Setup");
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  (void)dialog.exec();
}
