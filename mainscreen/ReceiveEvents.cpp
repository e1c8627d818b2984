// The events of the receive-fax component while receive mode is on, and the
// rows of received faxes.
#include "mainscreen/ReceiveMode.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include "faxengine/session/FaxCodes.h"
#include "faxengine/text/FxStrings.h"
#include "faximage/Apf.h"
#include "mainscreen/ReceiveRules.h"
#include "mainscreen/TMainScreen.h"
#include "sending/TShowErrorForm.h"
#include "shell/TStartingFaxForm.h"
#include "store/StoreText.h"
#include "store/TableLog.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxStoredPages = 99;  // PAGES holds two digits
// Codes above this one (and below 0) are file errors: -errno or a short write.
constexpr int kLowestFileError = -1000;

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

// --- events of the receive-fax component ---------------------------------------------

void TReceiveMode::FaxAccept(bool& accept) {
  main_.receivingNow_ = receivingNow_ = true;
  lastFaxError_ = 0;
  accept = true;
}

void TReceiveMode::FaxStatus(bool first, bool last) {
  if (stage_ == TReceiveStage::Off) return;
  const int progress = FxReceiveFax1.ProgressCode();
  pageCount_ = FxReceiveFax1.CurrentPage();
  const QString line = ReceiveStatusLine(TFxAbstractFax::ProgressText(progress),
                                         CleanStationId(FxReceiveFax1.RemoteID()), pageCount_,
                                         FxReceiveFax1.BytesTransferred());
  if (stage_ == TReceiveStage::On) SetStatus(line);
  if (first) pageCount_ = 0;
  if (last) {
    // A call whose image file could not even be made (the Receive folder
    // not writable, the disk full) ends without a "receive failed" entry;
    // it is reported all the same rather than lost without a word.
    const bool fileFailure = receivingNow_ && lastFaxError_ < 0 && lastFaxError_ > kLowestFileError;
    main_.receivingNow_ = receivingNow_ = false;
    if (fileFailure) ReportFailure(lastFaxError_);
  }
  if (auto* form = main_.findChild<TStartingFaxForm*>(QString(), Qt::FindDirectChildrenOnly);
      form && form->isVisible() && line.toUpper().contains("ANSWERING"))
    form->hide();
  if (!portLogging_) return;
  if (progress == fxprogress::fpGetPage && FxComPort1.Logging() == TTraceLogState::tlOn)
    FxComPort1.SetLogging(TTraceLogState::tlPause);  // no page data in the log
  else if (FxComPort1.Logging() == TTraceLogState::tlOn)
    FxComPort1.AddLogText(TFxAbstractFax::ProgressText(progress));
}

void TReceiveMode::FaxLog(int code) {
  switch (code) {
    case 4: ReceiveStarted(); break;
    case 5: ReceiveOk(); break;
    case 7: ReceiveFailed(); break;
    default: break;
  }
}

void TReceiveMode::FaxFinish(int code) {
  if (stage_ == TReceiveStage::Stopping) {
    if (cancelGuard_->isActive()) Cancelled();
    return;
  }
  if (stage_ != TReceiveStage::On) return;
  // The session ended by itself (the modem went away): nothing answers calls
  // any more, so receive mode goes off rather than showing it is on.
  Add("Receive mode ended: " + Q(FxErrorText(code)));
  Enter(TReceiveStage::Stopping);
  HideStartingForm();
  Cancelled();
}

void TReceiveMode::ReceiveStarted() {
  faxFile_ = FxReceiveFax1.FaxFile();
  Add("Receiving a fax");
  HideStartingForm();
  MarkReceiving(ReceiveDirectory(), faxFile_);
}

void TReceiveMode::ReceiveOk() {
  main_.receivingNow_ = receivingNow_ = false;
  const QString from = CleanStationId(FxReceiveFax1.RemoteID());
  // The file's own count is what the stored image holds.
  int pages = CompleteReceivedPages(faxFile_);
  if (pages < 0) pages = pageCount_;
  Add(ReceivedOkLine(from, pages));
  const std::optional<TReceivedFax> fax =
      StoreRow(faxFile_, from, pages, QString(), true, QDateTime::currentDateTime());
  ClearReceiving(ReceiveDirectory());
  faxFile_.clear();
  main_.SetButtons();
  if (fax) emit FaxReceived(*fax);
}

void TReceiveMode::ReceiveFailed() {
  main_.receivingNow_ = receivingNow_ = false;
  const int code = lastFaxError_ != 0 ? lastFaxError_ : FxReceiveFax1.LastFaxError();
  const QString text = FailureText(code);
  Add("Receive Failed with error: " + text);
  // Pages the far end saw confirmed are delivered as far as it is concerned:
  // they are kept. The engine has already cut off a page the call ended in.
  std::optional<TReceivedFax> fax;
  if (!faxFile_.empty()) {
    const int pages = CompleteReceivedPages(faxFile_);
    if (pages > 0 && KeepReceivedPages(faxFile_, pages) == 0) {
      Add("Kept the " + QString::number(pages) + " complete pages");
      fax = StoreRow(faxFile_, CleanStationId(FxReceiveFax1.RemoteID()), pages, IncompleteNote(text), false,
                     QDateTime::currentDateTime());
    }
    if (!fax) {
      std::error_code ec;
      fs::remove(faxFile_, ec);
    }
  }
  ClearReceiving(ReceiveDirectory());
  faxFile_.clear();
  main_.SetButtons();
  if (fax) emit FaxReceived(*fax);
  ShowFailure(code, text);
}

QString TReceiveMode::FailureText(int code) { return code == 0 ? QString("Unknown error") : Q(FxErrorText(code)); }

void TReceiveMode::ReportFailure(int code) {
  const QString text = FailureText(code);
  Add("Receive Failed with error: " + text);
  ShowFailure(code, text);
}

void TReceiveMode::ShowFailure(int code, const QString& text) {
  SetLastFaxErrorCode(code);
  lastFaxError_ = 0;
  // The window waits for the user; the engine's event returns first.
  QTimer::singleShot(0, this, [text] {
    ShowFaxError("Failed To Receive Incoming Fax",
                 "Corvane failed to receive an incoming fax.\r\n\r\nThe error message was:   " + text, false);
  });
}

std::optional<TReceivedFax> TReceiveMode::StoreRow(const std::string& imageFile, const QString& from, int pages,
                                                   const QString& notes, bool complete, const QDateTime& when) {
  TXbDataTable& table = main_.RecTable;
  if (!table.Active() || imageFile.empty()) return std::nullopt;
  const QDate d = when.date();
  const QString time = when.time().toString("hh:mm");
  const std::string name = fs::path(imageFile).filename().string();
  if (!table.Append()) return std::nullopt;
  bool ok = table.SetFieldValue("DATEREC", TXbValue::Date(XbJulian(d.year(), d.month(), d.day()))) &&
            table.SetFieldText("TIMEREC", time.toStdString()) && table.SetFieldText("FROM", ToTableText(from)) &&
            table.SetFieldValue("PAGES", TXbValue::Num(std::min(pages, kMaxStoredPages))) &&
            table.SetFieldText("FAXFILE", name);
  if (ok && !notes.isEmpty()) ok = static_cast<bool>(table.SetFieldText("NOTES", ToTableText(notes)));
  // A row is posted whole or not at all.
  if (!ok || !table.Post()) {
    table.Cancel();
    return std::nullopt;
  }
  const uint32_t recno = table.RecNo();
  // The first row gives the list its order; the new row is then the current one.
  main_.UpdateOrders();
  if (TXbTable* t = table.Table()) LogTableFailure(t->Go(recno), "received list");
  table.DataChanged();
  main_.ShowCurrentRow(table);
  TReceivedFax fax;
  fax.imageFile = Q(imageFile);
  fax.from = from;
  fax.pages = pages;
  fax.date = d;
  fax.time = QTime(when.time().hour(), when.time().minute());
  fax.recNo = recno;
  fax.complete = complete;
  return fax;
}

// --- a reception the last run did not finish ---------------------------------------

bool TReceiveMode::RowNames(const std::string& faxFile) {
  TXbDataTable& table = main_.RecTable;
  TXbTable* t = table.Table();
  if (!t) return false;
  // Every row, archived or not, in the table's own order.
  const uint32_t recno = table.RecNo();
  bool found = false;
  for (uint32_t r = 1; r <= t->RecCount() && !found; ++r)
    found = t->Go(r) && table.FieldText("FAXFILE") == faxFile;
  if (recno <= t->RecCount()) LogTableFailure(t->Go(recno), "received list");
  return found;
}

void TReceiveMode::RecoverUnfinished() {
  const fs::path folder = ReceiveDirectory();
  const std::string name = UnfinishedReception(folder);
  if (name.empty()) {
    ClearReceiving(folder);
    return;
  }
  const fs::path file = folder / name;
  std::error_code ec;
  if (fs::exists(file, ec) && !RowNames(name)) {
    const int pages = CompleteReceivedPages(file);
    bool kept = false;
    if (pages > 0 && KeepReceivedPages(file, pages) == 0) {
      TFxApfReader reader;
      const std::string station = reader.Open(file) == 0 ? reader.Header().stationId : std::string();
      const QDateTime when = QFileInfo(QString::fromStdString(file.string())).lastModified();
      kept = StoreRow(file.string(), CleanStationId(station), pages,
                      IncompleteNote("the program ended during the call"), false,
                      when.isValid() ? when : QDateTime::currentDateTime())
                 .has_value();
    }
    if (!kept) fs::remove(file, ec);
  }
  ClearReceiving(folder);
}
