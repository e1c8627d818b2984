// New, Add Cover, Edit and Forward: outgoing faxes made and changed in the
// cover sheet editor and the fax information editor.
#include <QApplication>
#include <QTabBar>

#include "mainscreen/TMainScreen.h"
#include "sending/ComposeCommands.h"

void TMainScreen::NewbuttonClick() {
  if (ReceiveModeRefused()) return;
  const bool saved = EditAddQuickFax(FaxTable, true, this);
  SetButtons();
  // The new row shows once the table has been reopened.
  if (saved) FaxTableCloseAndOpen();
  SetButtons();
}

void TMainScreen::AddCoverButtonClick() {
  if (ReceiveModeRefused()) return;
  EditAddQuickFax(FaxTable, false, this);
  SetButtons();
}

void TMainScreen::EditOutgoingFax() {
  if (!FaxTable.Active() || FaxTable.Eof()) {
    QApplication::beep();
    return;
  }
  if (FaxTable.FieldText("FAXCOVER").empty()) {
    EditAPFFax(FaxTable, this);
  } else if (!ReceiveModeRefused()) {
    EditAddQuickFax(FaxTable, false, this);
  }
  SetButtons();
}

void TMainScreen::mnuForwardClick() {
  if (ReceiveModeRefused()) return;
  if (!ForwardReceivedFax(RecTable, FaxTable, this)) return;
  TabSet1->setCurrentIndex(0);
  FaxTableCloseAndOpen();
  SetButtons();
}
