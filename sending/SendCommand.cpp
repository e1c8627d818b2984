#include "sending/SendCommand.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>

#include <filesystem>

#include "sending/TSendFaxForm.h"
#include "shell/Dialogs.h"
#include "shell/Placement.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "shell/core/Text.h"
#include "store/StoreText.h"
#include "store/core/Xbase.h"

namespace {

// The path of a file the row names in the SEND folder, when it exists.
QString ExistingSendFile(const std::string& name) {
  if (TrimBoth(name).empty()) return {};
  const auto found = FindNoCase(SendFolder(), name);
  if (!found || !std::filesystem::is_regular_file(*found)) return {};
  return QString::fromStdString(found->string());
}

bool GoTo(TXbDataTable& table, uint32_t recno) {
  TXbTable* t = table.Table();
  return recno > 0 && t && t->Go(recno);
}

// The hourglass for as long as the command prepares.
class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace

bool StoreSendResult(TXbDataTable& table, uint32_t recno, const QString& result) {
  if (!GoTo(table, recno)) return false;
  bool ok = true;
  if (!result.trimmed().isEmpty()) ok = static_cast<bool>(table.SetFieldText("LASTRESULT", ToTableText(result)));
  const QString upper = result.toUpper();
  if (ok && (upper == "SENT" || upper == "OK")) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    ok = table.SetFieldValue("DATESENT", TXbValue::Date(XbJulian(d.year(), d.month(), d.day()))) &&
         table.SetFieldText("TIMESENT", now.time().toString("hh:mm").toStdString());
  }
  // A row is posted whole or not at all.
  if (!ok || !table.Post()) {
    table.Cancel();
    return false;
  }
  table.DataChanged();
  return true;
}

void SendCurrentFax(const TSendCommand& command) {
  TXbDataTable& table = command.table;
  if (!table.Active() || table.Eof()) {
    QApplication::beep();
    return;
  }
  const uint32_t recno = table.RecNo();
  QString document, cover;
  {
    TBusyCursor hourglass;
    command.setStatus("Preparing fax files...");
    const QString doc = ExistingSendFile(table.FieldText("FAXDOC"));
    const QString cov = ExistingSendFile(table.FieldText("FAXCOVER"));
    if (doc.isEmpty() && cov.isEmpty()) {
      command.setStatus(QString());
      ShowInformation("Error opening fax file");
      return;
    }
    document = doc.isEmpty() ? cov : doc;
    cover = doc.isEmpty() ? QString() : cov;
    command.setStatus("Preparing Send Fax form...");
  }
  TSendFaxForm form(command.mainWindow);
  form.DocumentFile = document;
  form.CoverFile = cover;
  form.ToLabel->setText(TableText(table.FieldText("RECIPIENT")));
  form.Subjectlabel->setText(TableText(table.FieldText("SUBJECT")));
  form.InitialPhoneNumber = TableText(table.FieldText("PHONE"));
  form.sfDialPrefix->setText(QString::fromStdString(Settings.DialPrefix));
  form.sfDialsuffix->setText(QString::fromStdString(Settings.DialSuffix));
  form.DisablePrefix->setChecked(Settings.PrefixDisable);
  form.DisableSuffix->setChecked(Settings.SuffixDisable);
  // Each finished call is in the row at once, whatever happens later.
  form.OnRunFinished = [&table, recno](const QString& result) { StoreSendResult(table, recno, result); };
  CentreForm(&form);
  command.setStatus(QString());
  form.exec();

  Settings.DialPrefix = form.sfDialPrefix->text().toStdString();
  Settings.DialSuffix = form.sfDialsuffix->text().toStdString();
  Settings.PrefixDisable = form.DisablePrefix->isChecked();
  Settings.SuffixDisable = form.DisableSuffix->isChecked();
  WriteSettings();
  if (GoTo(table, recno)) {
    if (!table.SetFieldText("PHONE", ToTableText(form.sfPhoneNumber->text())) || !table.Post()) table.Cancel();
    table.DataChanged();
  }
}
