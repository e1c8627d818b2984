// The View command: the current fax of either list in the viewer window.
#include <QApplication>

#include "mainscreen/TGraphicPanel.h"
#include "mainscreen/TMainScreen.h"
#include "shell/Dialogs.h"
#include "shell/core/Folders.h"
#include "store/StoreText.h"
#include "viewing/TFaxViewer.h"
#include "viewing/ViewFax.h"

void TMainScreen::mnuViewPrintClick() {
  if (!isVisible()) return;
  const bool outgoing = currentTab_ == TFaxTab::Outgoing;
  TXbDataTable& table = outgoing ? FaxTable : RecTable;
  if (!table.Active() || table.Eof()) {
    QApplication::beep();
    return;
  }
  const QString status = Status->Caption();
  Status->SetCaption("Preparing files for viewing...");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TFaxToView fax =
      outgoing ? TFaxToView::Outgoing(SendFolder(), table.FieldText("FAXCOVER"), table.FieldText("FAXDOC"))
               : TFaxToView::Received(ReceiveFolder(), table.FieldText("FAXFILE"));
  if (fax.File().empty()) {
    QApplication::restoreOverrideCursor();
    ShowInformation("Error - fax file missing");
    Status->SetCaption(status);
    return;
  }
  Status->SetCaption("Loading viewer...");
  const QString when = RowDateTimeTextQt(table, outgoing, QtDatePattern(XbaseEnv.DatePattern()));
  const QString blanks(13, ' ');
  TFaxViewer viewer(this);
  viewer.SetFileToShow(QString::fromStdString(fax.File()));
  viewer.Title = "Fax printout";
  viewer.HeaderText = outgoing ? "To: " + TableText(table.FieldText("RECIPIENT")) + blanks + "Sent: " + when
                               : "From: " + TableText(table.FieldText("FROM")).trimmed() + blanks + "Received: " + when;
  viewer.exec();  // its first activation puts the cursor back
  Status->SetCaption(status);
  // fax removes its temporary file on the way out.
}
