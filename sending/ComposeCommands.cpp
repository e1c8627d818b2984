#include "sending/ComposeCommands.h"

#include <QApplication>

#include <filesystem>
#include <system_error>

#include "sending/TCreateEditQuickFax.h"
#include "sending/TFaxEditor.h"
#include "shell/Dialogs.h"
#include "shell/Placement.h"
#include "shell/core/Files.h"
#include "shell/core/Folders.h"
#include "store/StoreText.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

bool HasRow(const TXbDataTable& table) { return table.Active() && !table.Eof(); }

}  // namespace

bool EditAddQuickFax(TXbDataTable& faxTable, bool isNew, QWidget* mainWindow) {
  if (!faxTable.Active() || (!isNew && faxTable.Eof())) {
    QApplication::beep();
    return false;
  }
  TCreateEditQuickFax editor(faxTable, isNew, mainWindow);
  CentreForm(&editor);
  return editor.exec() == QDialog::Accepted;
}

bool EditAPFFax(TXbDataTable& faxTable, QWidget* mainWindow) {
  if (!HasRow(faxTable)) {
    QApplication::beep();
    return false;
  }
  const uint32_t recno = faxTable.RecNo();
  TFaxEditor editor(mainWindow);
  editor.LoadRow(faxTable);
  CentreForm(&editor);
  if (editor.exec() != QDialog::Accepted) return false;
  TXbTable* t = faxTable.Table();
  if (!t || !t->Go(recno)) return false;
  if (!editor.StoreRow(faxTable) || !faxTable.Post()) {
    faxTable.Cancel();
    ShowInformation("The fax could not be stored in the outgoing fax table.");
    return false;
  }
  faxTable.DataChanged();
  return true;
}

bool ForwardReceivedFax(const TXbDataTable& recTable, TXbDataTable& faxTable, QWidget* mainWindow) {
  if (!HasRow(recTable) || !faxTable.Active()) return false;
  const std::string file = recTable.FieldText("FAXFILE");
  if (file.empty()) return false;
  const auto received = FindNoCase(ReceiveFolder(), file);
  std::error_code ec;
  if (!received || !fs::is_regular_file(*received, ec)) return false;
  const QString from = TableText(recTable.FieldText("FROM"));
  if (!AskYesNoDefaultNo("Forward the current fax to be sent?\r\n(from: " + from + ")", "Forward")) return false;

  TFaxEditor editor(mainWindow);
  editor.setWindowTitle("Forward fax from: " + from);
  CentreForm(&editor);
  if (editor.exec() != QDialog::Accepted) return false;

  const std::string target = NextSendFileName("FWD");
  // A row naming a copy that failed could never be sent: say so and make none.
  if (!CopyFileData(received->string(), target)) {
    ShowInformation("The received fax could not be copied to\r" + QString::fromStdString(target));
    return false;
  }
  const bool stored = faxTable.Append() && editor.StoreRow(faxTable) &&
                      faxTable.SetFieldText("FAXDOC", fs::path(target).filename().string()) && faxTable.Post();
  if (!stored) {
    faxTable.Cancel();
    fs::remove(target, ec);
    ShowInformation("The fax could not be stored in the outgoing fax table.");
    return false;
  }
  faxTable.DataChanged();
  return true;
}
