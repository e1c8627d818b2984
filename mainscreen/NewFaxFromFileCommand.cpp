// New Fax from File: a document imported as a new outgoing fax.
#include <QTabBar>

#include "mainscreen/TMainScreen.h"
#include "sending/NewFaxFromFile.h"

void TMainScreen::mnuNewFaxFromFileClick() {
  if (ReceiveModeRefused()) return;
  if (!AskNewFaxFromFile(FaxTable, this)) return;
  TabSet1->setCurrentIndex(0);
  FaxTableCloseAndOpen();
  SetButtons();
}
