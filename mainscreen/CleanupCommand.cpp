// The File menu's "Fax Log Cleanup " command: the cleanup window over the
// window's own tables, then the index rebuild when anything was deleted.
#include "maintenance/TDMForm.h"
#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"

void TMainScreen::FaxLogCleanup1Click() {
  if (ReceiveModeRefused()) return;
  bool deleted = false;
  {
    TDMForm form({FaxTable, FaxXbase, RecTable, RecXbase, SendFolder(), ReceiveFolder(), ProgramFolder()}, this);
    form.exec();
    deleted = form.SomethingDeleted();
  }
  // The window put the list filters back; rows it deleted leave the tables
  // for good with the rebuild, which applies the filters again itself.
  if (deleted)
    RebuildIndexes();
  else
    ApplyListFilter();
  SetButtons();
}
