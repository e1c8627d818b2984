#include "mainscreen/ReceiveMode.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>

#include <algorithm>
#include <array>
#include <filesystem>
#include <utility>

#include "faxengine/session/FaxCodes.h"
#include "faxengine/text/FxStrings.h"
#include "faximage/Apf.h"
#include "mainscreen/ReceiveRules.h"
#include "mainscreen/TGraphicPanel.h"
#include "mainscreen/TMainScreen.h"
#include "modemsetup/ModemProbe.h"
#include "sending/SendSettings.h"
#include "sending/TShowErrorForm.h"
#include "shell/Placement.h"
#include "shell/QtHostExecutor.h"
#include "shell/TStartingFaxForm.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "shell/core/Text.h"
#include "store/StoreText.h"
#include "store/TableLog.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

constexpr char kCrLf[] = "\r\n";
// How long a cancelled session may take to end before the port is closed
// under it.
constexpr int kCancelGuardMs = 15000;
// The pause after the port is closed when the program closes.
constexpr int kShutdownPauseMs = 1000;
constexpr int kMaxStoredPages = 99;  // PAGES holds two digits
// Codes above this one (and below 0) are file errors: -errno or a short write.
constexpr int kLowestFileError = -1000;

constexpr std::array<std::pair<TReceiveStage, TReceiveStage>, 5> kStageTable{{
    {TReceiveStage::Off, TReceiveStage::Starting},
    {TReceiveStage::Starting, TReceiveStage::Off},
    {TReceiveStage::Starting, TReceiveStage::On},
    {TReceiveStage::On, TReceiveStage::Stopping},
    {TReceiveStage::Stopping, TReceiveStage::Off},
}};

TFaxClass ClassFor(int number) {
  switch (number) {
    case 1: return TFaxClass::fcClass1;
    case 2: return TFaxClass::fcClass2;
    case 3: return TFaxClass::fcClass2_0;
    default: return TFaxClass::fcDetect;
  }
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

void LetMessagesRun() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

std::string ReceiveDir() {
  std::string dir = ReceiveFolder();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

bool ReceiveStageAllowed(TReceiveStage from, TReceiveStage to) {
  return std::any_of(kStageTable.begin(), kStageTable.end(),
                     [&](const auto& step) { return step.first == from && step.second == to; });
}

TReceiveMode::TReceiveMode(TMainScreen& main) : QObject(&main), main_(main), worker_(this) {
  setObjectName("ReceiveMode");
  Executor = new TQtHostExecutor(this);
  // The port: never opened by itself, RTS/CTS, logs and traces in the
  // program folder.
  FxComPort1.SetHostExecutor(Executor);
  FxComPort1.SetIniFileName(IniFileName());
  FxComPort1.SetComNumber(1);
  FxComPort1.SetAutoOpen(false);
  FxComPort1.SetPromptForPort(false);
  FxComPort1.SetTapiMode(TTapiMode::tmOff);
  FxComPort1.SetInSize(8192);
  FxComPort1.SetOutSize(8192);
  FxComPort1.SetBufferFull(7372);
  FxComPort1.SetBufferResume(819);
  FxComPort1.SetTraceSize(500000);
  FxComPort1.SetTraceName(ProgramFolder() + "FAXENG.TRC");
  FxComPort1.SetLogSize(500000);
  FxComPort1.SetLogName(ProgramFolder() + "FAXENG.LOG");
  FxReceiveFax1.SetComPort(&FxComPort1);
  FxComPort1.SetHWFlowOptions(THWFlowOption::hwfUseRTS | THWFlowOption::hwfRequireCTS);
  FxReceiveFax1.FaxFileExt = "APF";
  FxReceiveFax1.ConstantStatus = true;
  FxReceiveFax1.NameMode = TFxReceiveFax::TNameMode::nmCount;
  FxReceiveFax1.DestinationDir = ReceiveDir();
  FxReceiveFax1.OnFaxAccept = [this](TFxReceiveFax&, bool& accept) { FaxAccept(accept); };
  FxReceiveFax1.OnFaxError = [this](TFxAbstractFax&, int code) { lastFaxError_ = code; };
  FxReceiveFax1.OnFaxStatus = [this](TFxAbstractFax&, bool first, bool last) { FaxStatus(first, last); };
  FxReceiveFax1.OnFaxLog = [this](TFxAbstractFax&, int code) { FaxLog(code); };
  FxReceiveFax1.OnFaxFinish = [this](TFxAbstractFax&, int code) { FaxFinish(code); };

  cancelGuard_ = new QTimer(this);
  cancelGuard_->setSingleShot(true);
  cancelGuard_->setInterval(kCancelGuardMs);
  connect(cancelGuard_, &QTimer::timeout, this, &TReceiveMode::Cancelled);
}

TReceiveMode::~TReceiveMode() {
  stopProbe_ = true;
  worker_.Wait();
  FxReceiveFax1.OnFaxAccept = nullptr;
  FxReceiveFax1.OnFaxError = nullptr;
  FxReceiveFax1.OnFaxStatus = nullptr;
  FxReceiveFax1.OnFaxLog = nullptr;
  FxReceiveFax1.OnFaxFinish = nullptr;
  if (FxReceiveFax1.Active()) FxReceiveFax1.AbortFax();
  FxComPort1.SetOpen(false);
  Hourglass(false);
}

void TReceiveMode::Enter(TReceiveStage next) {
  if (!ReceiveStageAllowed(stage_, next))
    qWarning("receive mode: stage %d to %d is not in the table", static_cast<int>(stage_), static_cast<int>(next));
  stage_ = next;
}

void TReceiveMode::Hourglass(bool on) {
  if (on == hourglass_) return;
  hourglass_ = on;
  if (on)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TReceiveMode::SetStatus(const QString& text) { main_.Status->SetCaption(text); }

void TReceiveMode::SaveLog() {
  log_.Save(Q(ProgramFolder()) + "Lastrec.log", LongDateTimeNow());
}

QString TReceiveMode::PortName() const { return "COM" + QString::number(portNumber_); }

TStartingFaxForm* TReceiveMode::StartingForm() {
  // The program makes the window with the main window as its owner; a main
  // window on its own makes one when first needed.
  auto* form = main_.findChild<TStartingFaxForm*>(QString(), Qt::FindDirectChildrenOnly);
  return form ? form : new TStartingFaxForm(&main_);
}

void TReceiveMode::HideStartingForm() {
  if (auto* form = main_.findChild<TStartingFaxForm*>(QString(), Qt::FindDirectChildrenOnly)) form->hide();
}

void TReceiveMode::SetCommandCaptions(bool on) {
  main_.ReceiveButton->setText(on ? "STOP" : "Receive");
  main_.ReceiveButton->setToolTip(on ? "Stop receiving faxes" : "Start receiving faxes");
  main_.ReceiveFaxes1->setText(on ? "Stop Receiving Faxes" : "Receive Faxes");
}

void TReceiveMode::ClosePort() {
  // Closing writes the port log when logging is on.
  if (FxComPort1.Open()) FxComPort1.SetOpen(false);
}

// --- starting ------------------------------------------------------------------------

void TReceiveMode::Toggle() {
  switch (stage_) {
    case TReceiveStage::Off: Start(); break;
    case TReceiveStage::On: Stop(); break;
    default: QApplication::beep(); break;
  }
}

void TReceiveMode::Start() {
  if (stage_ != TReceiveStage::Off) return;
  Hourglass(true);
  lastFaxError_ = 0;
  log_.Clear();
  Add("Start:" + LongDateTimeNow());
  main_.TabSet1->setCurrentIndex(1);
  TStartingFaxForm* form = StartingForm();
  form->ShowStartingPanel();
  form->adjustSize();
  form->move(main_.geometry().center() - form->rect().center());
  LetMessagesRun();
  Enter(TReceiveStage::Starting);
  stopWanted_ = false;
  main_.receiveMode_ = true;
  main_.SetButtons();
  LetMessagesRun();
  SetStatus("Starting receive mode...");
  Configure();
}

void TReceiveMode::Configure() {
  portNumber_ = std::clamp(Settings.ComPort, 0, TSendSettings::kMaxComPort) + 1;
  try {
    FxComPort1.SetComNumber(static_cast<uint16_t>(portNumber_));
    FxReceiveFax1.FaxClass = ClassFor(Settings.FaxClassReceive);
    FxReceiveFax1.SetStationID(Settings.Fax);
    FxReceiveFax1.AnswerOnRing = std::clamp(Settings.AnswerOnRing, 1, 255);
    FxReceiveFax1.DesiredBPS = static_cast<uint16_t>(
        Settings.MaximumBPSReceive > 0 ? NearestTransferRate(Settings.MaximumBPSReceive) : 14400);
    FxReceiveFax1.DesiredECM = Settings.ECMReceive;
    FxReceiveFax1.SetModemInit(Settings.InitStringReceive.empty()
                                   ? std::string()
                                   : Short255(ModemInitCommand(Settings.InitStringReceive)));
    FxReceiveFax1.DestinationDir = ReceiveDir();
  } catch (const std::exception& e) {
    Add(Q(e.what()));
    FailStart();
    return;
  }
  portLogging_ = main_.receiveLogging_;
  if (portLogging_) {
    Add("Logging on");
    FxComPort1.SetLogName(ProgramFolder() + "CVIN.LOG");
    FxComPort1.SetLogging(TTraceLogState::tlOn);
  } else {
    FxComPort1.SetLogName(ProgramFolder() + "FAXENG.LOG");
  }
  Add("Opening com port: " + PortName());
  stopProbe_ = false;
  struct TOpened {
    bool opened = false, modem = false;
    QString message;
  };
  auto result = std::make_shared<TOpened>();
  const std::string reset = Settings.ResetString;
  worker_.Run(
      [this, result, reset] {
        const TOpenFaxPortResult open = OpenFaxPort(FxComPort1);
        result->opened = open.opened;
        result->message = Q(open.message);
        if (open.opened) result->modem = CheckForModem(FxComPort1, reset, &stopProbe_);
      },
      [this, result] { Opened(result->opened, result->message, result->modem); });
}

void TReceiveMode::Opened(bool opened, const QString& openMessage, bool modem) {
  if (!opened) {
    ClosePort();
    Add("Error opening com port: " + PortName());
    Add("Message:" + openMessage);
    HideStartingForm();
    Hourglass(false);
    ShowFaxError("Error Opening Communications Port",
                 openMessage + kCrLf + kCrLf + "Is the Communications Port (" + PortName() + ") correct? Please" +
                     kCrLf + "click on the Find Modem button in Preferences to be sure.",
                 false);
    SaveLog();
    FailStart();
    return;
  }
  Add("Opened com port OK");
  Add("Checking for modem");
  if (!modem) {
    Add("Error checking for modem");
    HideStartingForm();
    Hourglass(false);
    const bool go = AskContinueAfterError(
        "No Response From Modem",
        "We did not receive a modem response from " + PortName() + "." + kCrLf + kCrLf +
            "To verify the communications port, please click on the Find Modem button in Preferences to be sure." +
            kCrLf + kCrLf + "If you are sure there is a modem on " + PortName() + ", press CONTINUE" + kCrLf +
            "to continue, otherwise press OK to stop the fax session.",
        false);
    if (!go) {
      ClosePort();
      Add("Exit");
      SaveLog();
      FailStart();
      return;
    }
    Hourglass(true);
  }
  AfterModemCheck();
}

void TReceiveMode::AfterModemCheck() {
  const std::string reset = Settings.ResetString;
  if (reset.empty()) {
    StartWaiting();
    return;
  }
  SetStatus("Sending reset string...");
  auto sent = std::make_shared<std::string>(reset);
  auto ok = std::make_shared<bool>(false);
  worker_.Run([this, ok, sent] { *ok = SendModemString(FxComPort1, *sent); },
              [this, ok, sent] { ResetDone(*ok, *sent); });
}

void TReceiveMode::ResetDone(bool ok, const std::string& sent) {
  Settings.ResetString = sent;  // with "AT" put in front, as the modem got it
  Add("Sending reset string: " + Q(sent));
  if (ok) {
    StartWaiting();
    return;
  }
  HideStartingForm();
  Add("Failure sending reset string: " + Q(sent));
  Hourglass(false);
  ClosePort();
  ShowFaxError("Unable to Continue",
               "We are unable to continue the fax session. \r\n\r\nThe modem did not respond to the reset string:   (" +
                   Q(sent) + ")" + kCrLf + kCrLf + "Is the Communications Port (" + PortName() + ") correct? Please" +
                   kCrLf + "click on the Find Modem button in Preferences to be sure.",
               false);
  Add("Exiting...");
  SaveLog();
  FailStart();
}

void TReceiveMode::StartWaiting() {
  Add("Desired BPS: " + QString::number(Settings.MaximumBPSReceive));
  if (Settings.ECMReceive) Add("Desired ECM: ON");
  if (Settings.ToneOrPulse == 1) Add("Using Pulse Dialing ***");
  Add("Fax Class: " + Q(FaxClassName(Settings.FaxClassReceive)));
  Add("User INIT String: " + Q(Settings.InitStringReceive));
  TStartingFaxForm* form = StartingForm();
  if (!Settings.DisableReceivingFaxesNotification) form->show();
  Add("StartReceive");
  try {
    FxReceiveFax1.StartReceive();
  } catch (const std::exception& e) {
    Add(Q(e.what()));
    FailStart();
    return;
  }
  Enter(TReceiveStage::On);
  SetCommandCaptions(true);
  form->ShowReadyPanel();
  Hourglass(false);
  // Recomputing the commands clears the status line, so it comes first.
  main_.SetButtons();
  SetStatus("Waiting for fax...");
  if (stopWanted_) Stop();
}

void TReceiveMode::FailStart() {
  ClosePort();
  Hourglass(false);
  main_.receiveMode_ = false;
  Enter(TReceiveStage::Off);
  SetCommandCaptions(false);
  HideStartingForm();
  Add("Error...");
  SaveLog();
  main_.SetButtons();
  emit ModeOff();
  for (auto& done : std::exchange(whenOff_, {})) done();
}

// --- stopping ------------------------------------------------------------------------

void TReceiveMode::Stop() {
  if (stage_ != TReceiveStage::On) return;
  Enter(TReceiveStage::Stopping);
  HideStartingForm();
  Hourglass(true);
  SetStatus(shuttingDown_ ? "Shutting down fax..." : "Ending fax receive mode...");
  LetMessagesRun();
  stopProbe_ = true;
  if (FxReceiveFax1.Active()) {
    // The session ends through its finish event; the guard goes on without
    // it should it never come.
    cancelGuard_->start();
    FxReceiveFax1.AbortFax();
  } else {
    Cancelled();
  }
}

void TReceiveMode::Shutdown(std::function<void()> done) {
  shuttingDown_ = true;
  whenOff_.push_back(std::move(done));
  switch (stage_) {
    case TReceiveStage::Off:
      for (auto& d : std::exchange(whenOff_, {})) d();
      break;
    case TReceiveStage::Starting: stopWanted_ = true; break;
    case TReceiveStage::On: Stop(); break;
    case TReceiveStage::Stopping: break;
  }
}

void TReceiveMode::Cancelled() {
  if (stage_ != TReceiveStage::Stopping) return;
  cancelGuard_->stop();
  LetMessagesRun();
  const std::string after = Settings.AfterString;
  if (after.empty() || !FxComPort1.Open()) {
    PortClosed();
    return;
  }
  SetStatus("Sending AFTER reset string...");
  auto sent = std::make_shared<std::string>(after);
  worker_.Run([this, sent] { (void)SendModemString(FxComPort1, *sent); },
              [this, sent] {
                Settings.AfterString = *sent;
                PortClosed();
              });
}

void TReceiveMode::PortClosed() {
  ClosePort();
  LetMessagesRun();
  auto finish = [this] {
    main_.receiveMode_ = false;
    main_.receivingNow_ = receivingNow_ = false;
    Enter(TReceiveStage::Off);
    Hourglass(false);
    SetCommandCaptions(false);
    Add("Stopped receive mode");
    SaveLog();
    main_.SetButtons();
    SetStatus(QString());
    emit ModeOff();
    for (auto& done : std::exchange(whenOff_, {})) done();
  };
  // When the program closes, the modem gets a moment after the port closed.
  if (shuttingDown_)
    QTimer::singleShot(kShutdownPauseMs, this, finish);
  else
    finish();
}

// --- events of the receive-fax component ---------------------------------------------

void TReceiveMode::FaxAccept(bool& accept) {
  main_.receivingNow_ = receivingNow_ = true;
  pageOpen_ = false;
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
  // Whether page data is arriving, as the reports followed it; a cancel
  // replaces the progress and says nothing about the page.
  if (progress == fxprogress::fpGetPage)
    pageOpen_ = true;
  else if (progress != fxprogress::fpCancel)
    pageOpen_ = false;
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
  MarkReceiving(ReceiveDir(), faxFile_);
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
  ClearReceiving(ReceiveDir());
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
  // they are kept. A page cut off by the failure is closed by the engine as
  // if it were whole; it is not one of them.
  std::optional<TReceivedFax> fax;
  if (!faxFile_.empty()) {
    int pages = CompleteReceivedPages(faxFile_);
    const int progress = FxReceiveFax1.ProgressCode();
    if (pages > 0 && (progress == fxprogress::fpGetPage || (progress == fxprogress::fpCancel && pageOpen_))) --pages;
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
  ClearReceiving(ReceiveDir());
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
  const fs::path folder = ReceiveDir();
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
