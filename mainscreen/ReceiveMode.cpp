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

constexpr std::array<std::pair<TReceiveStage, TReceiveStage>, 5> kStageTable{{
    {TReceiveStage::Off, TReceiveStage::Starting},
    {TReceiveStage::Starting, TReceiveStage::Off},
    {TReceiveStage::Starting, TReceiveStage::On},
    {TReceiveStage::On, TReceiveStage::Stopping},
    {TReceiveStage::Stopping, TReceiveStage::Off},
}};

QString Q(const std::string& s) { return QString::fromStdString(s); }

void LetMessagesRun() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

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
  FxReceiveFax1.DestinationDir = ReceiveDirectory();
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
    FxReceiveFax1.FaxClass = FaxClassFromSetting(Settings.FaxClassReceive);
    FxReceiveFax1.SetStationID(Settings.Fax);
    FxReceiveFax1.AnswerOnRing = std::clamp(Settings.AnswerOnRing, 1, 255);
    FxReceiveFax1.DesiredBPS = static_cast<uint16_t>(
        Settings.MaximumBPSReceive > 0 ? NearestTransferRate(Settings.MaximumBPSReceive) : 14400);
    FxReceiveFax1.DesiredECM = Settings.ECMReceive;
    FxReceiveFax1.SetModemInit(Settings.InitStringReceive.empty()
                                   ? std::string()
                                   : Short255(ModemInitCommand(Settings.InitStringReceive)));
    FxReceiveFax1.DestinationDir = ReceiveDirectory();
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
