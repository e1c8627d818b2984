// New, Add Cover, Edit and Forward: outgoing faxes made and changed in the
// cover sheet editor and the fax information editor.
#include <QApplication>
#include <QTabBar>

#include "mainscreen/TMainScreen.h"
#include "sending/ComposeCommands.h"
#include "store/TableLog.h"

void TMainScreen::NewbuttonClick() {
  if (ReceiveModeRefused()) return;
  if (EditAddQuickFax(FaxTable, true, this)) OutgoingRowAdded();
  SetButtons();
}

void TMainScreen::OutgoingRowAdded() {
  // The row went in through the open table, which keeps its indexes up to
  // date: the list only has to find it. A list that was empty gets its order
  // first, which must not take the current row away from the new one.
  const uint32_t recno = FaxTable.RecNo();
  UpdateOrders();
  if (TXbTable* t = FaxTable.Table(); t && t->RecNo() != recno) LogTableFailure(t->Go(recno), "outgoing list");
  ShowCurrentRow(FaxTable);
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
  OutgoingRowAdded();
  SetButtons();
}
