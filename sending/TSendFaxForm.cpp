#include "sending/TSendFaxForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <array>
#include <filesystem>
#include <utility>

#include "faxengine/session/FaxCodes.h"
#include "faxengine/session/FxExceptions.h"
#include "faxengine/text/FxStrings.h"
#include "faximage/FaxUnpacker.h"
#include "modemsetup/ModemProbe.h"
#include "modemsetup/TPreferences.h"
#include "sending/SendSettings.h"
#include "sending/TQtFontRenderer.h"
#include "sending/TShowErrorForm.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/QtHostExecutor.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "shell/core/Text.h"

namespace {

constexpr char kCrLf[] = "\r\n";

// From-stage, to-stage pairs a run may take.
constexpr std::array<std::pair<TSendStage, TSendStage>, 14> kStageTable{{
    {TSendStage::Idle, TSendStage::Preparing},
    {TSendStage::Preparing, TSendStage::Idle},
    {TSendStage::Preparing, TSendStage::AskContinue},
    {TSendStage::Preparing, TSendStage::Resetting},
    {TSendStage::Preparing, TSendStage::Starting},
    {TSendStage::AskContinue, TSendStage::Idle},
    {TSendStage::AskContinue, TSendStage::Resetting},
    {TSendStage::AskContinue, TSendStage::Starting},
    {TSendStage::Resetting, TSendStage::Idle},
    {TSendStage::Resetting, TSendStage::Starting},
    {TSendStage::Starting, TSendStage::Idle},
    {TSendStage::Starting, TSendStage::Transmitting},
    {TSendStage::Transmitting, TSendStage::Finishing},
    {TSendStage::Finishing, TSendStage::Idle},
}};

bool FirstPageFine(const std::string& file) {
  TFxFaxUnpacker u;
  u.SetOptions(0);
  u.SetInFileName(file);
  try {
    return u.FirstPageHighRes();
  } catch (...) {
    return false;
  }
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

bool SendStageAllowed(TSendStage from, TSendStage to) {
  for (const auto& [f, t] : kStageTable)
    if (f == from && t == to) return true;
  return false;
}

TSendFaxForm::TSendFaxForm(QWidget* parent) : QDialog(parent), FxFaxStatus1(this), worker_(this) {
  setObjectName("TSendFaxForm");
  setWindowTitle("Send Fax");
  // No title-bar buttons: the window closes through Close only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  Executor = new TQtHostExecutor(this);

  BuildLayout();

  connect(SendFaxButton, &QPushButton::clicked, this, &TSendFaxForm::SendFaxButtonClick);
  connect(PreferencesButton, &QPushButton::clicked, this, &TSendFaxForm::PreferencesButtonClick);
  connect(ProblemSolverButton, &QPushButton::clicked, this, &TSendFaxForm::ProblemSolverButtonClick);
  connect(Helpbutton, &QPushButton::clicked, this, &TSendFaxForm::HelpButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &TSendFaxForm::CloseButtonClick);

  // The port: never opened by itself, RTS/CTS, logs and traces in the
  // program folder.
  FxComPort1.SetHostExecutor(Executor);
  FxComPort1.SetIniFileName(IniFileName());
  FxComPort1.SetAutoOpen(false);
  FxComPort1.SetPromptForPort(false);
  FxComPort1.SetTapiMode(TTapiMode::tmOff);
  FxComPort1.SetInSize(8192);
  FxComPort1.SetOutSize(8192);
  FxComPort1.SetBufferFull(7372);
  FxComPort1.SetBufferResume(819);
  FxComPort1.SetTraceSize(32000);
  FxComPort1.SetTraceName(ProgramFolder() + "FAXENG.TRC");
  FxComPort1.SetLogSize(65500);
  FxSendFax1.SetComPort(&FxComPort1);
  FxComPort1.SetHWFlowOptions(THWFlowOption::hwfUseRTS | THWFlowOption::hwfRequireCTS);
  FxSendFax1.FaxFileExt = "APF";
  FxSendFax1.EnhTextEnabled = true;
  FxSendFax1.EnhHeaderFont = std::make_shared<TQtFontRenderer>("MS Sans Serif", 13);
  FxSendFax1.EnhFont = FxSendFax1.EnhHeaderFont;
  FxSendFax1.StatusDisplay = &FxFaxStatus1;
  FxFaxStatus1.Fax = &FxSendFax1;
  FxFaxStatus1.OnCancel = [this] { CancelRequested(); };
  FxSendFax1.OnFaxStatus = [this](TFxAbstractFax&, bool, bool) { FxSendFax1FaxStatus(); };
  FxSendFax1.OnFaxFinish = [this](TFxAbstractFax&, int code) { FxSendFax1FaxFinish(code); };

  qApp->installEventFilter(this);
}

TSendFaxForm::~TSendFaxForm() {
  qApp->removeEventFilter(this);
  stop_ = true;
  worker_.Wait();
  // The window cannot close during a run; this is for a window destroyed
  // with its owner.
  FxSendFax1.OnFaxFinish = nullptr;
  FxSendFax1.OnFaxStatus = nullptr;
  FxSendFax1.StatusDisplay = nullptr;
  if (FxSendFax1.Active()) FxSendFax1.AbortFax();
  FxComPort1.SetOpen(false);
}

void TSendFaxForm::Enter(TSendStage next) {
  if (!SendStageAllowed(stage_, next))
    qWarning("send window: stage %d to %d is not in the table", static_cast<int>(stage_), static_cast<int>(next));
  stage_ = next;
}

void TSendFaxForm::ShowStatus(const QString& text) {
  status->setText(text);
  status->show();
}

void TSendFaxForm::HideStatus() {
  status->clear();
  status->hide();
}

QString TSendFaxForm::PortName() const { return "COM" + QString::number(portNumber_); }

void TSendFaxForm::PortLog(const std::string& text) {
  if (portLogging_) FxComPort1.AddLogText(text);
}

void TSendFaxForm::DumpPortLog() {
  if (portLogging_) FxComPort1.SetLogging(TTraceLogState::tlDump);
}

// --- first activation, configuration, header ---------------------------------

void TSendFaxForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormActivate();
}

void TSendFaxForm::FormActivate() {
  if (!firstActivation_) return;
  firstActivation_ = false;
  sfPhoneNumber->setText(InitialPhoneNumber);
  ShowSetup();
}

void TSendFaxForm::ShowSetup() { SetupDisplayMemo->setPlainText(SetupLines(Settings).join("\n")); }

void TSendFaxForm::BuildHeader() {
  headerLine_ = BuildHeaderLine(Q(Settings.Name), Q(Settings.Fax), QDateTime::currentDateTime());
}

void TSendFaxForm::AddtoLastSendLog(const QString& line) { log_.Add(line); }

void TSendFaxForm::SaveLocalLog() { log_.Save(QString::fromStdString(ProgramFolder()) + "Lastsend.log", LongDateTimeNow()); }

// --- the run -----------------------------------------------------------------------

bool TSendFaxForm::InputSound() {
  std::optional<QString> problem = CheckFaxNumber(sfPhoneNumber->text());
  QString caption = "Check the Fax Number";
  if (!problem && !DisablePrefix->isChecked()) problem = CheckDialAddition(sfDialPrefix->text(), "prefix");
  if (!problem && !DisableSuffix->isChecked()) problem = CheckDialAddition(sfDialsuffix->text(), "suffix");
  if (!problem) {
    caption = "Check the Modem Settings";
    problem = CheckModemString(Settings.InitString, "Modem Init String");
    if (!problem) problem = CheckModemString(Settings.ResetString, "Modem Reset String");
    if (!problem) problem = CheckModemString(Settings.AfterString, "Post Reset String");
  }
  if (!problem) return true;
  AddtoLastSendLog("Not sent: " + caption);
  ShowFaxError(caption, *problem, true);
  return false;
}

void TSendFaxForm::SendFaxButtonClick() {
  if (Busy()) {
    QApplication::beep();
    return;
  }
  log_.Clear();
  AddtoLastSendLog("Start:" + LongDateTimeNow());
  if (!InputSound()) {
    SaveLocalLog();
    return;
  }
  Enter(TSendStage::Preparing);
  cancelWanted_ = false;
  pendingFinish_.reset();
  ShowStatus("Opening communications port...");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (portLogging_) {
    AddtoLastSendLog("Logging on");
    FxComPort1.SetLogName(ProgramFolder() + "CVOUT.LOG");
    FxComPort1.SetLogging(TTraceLogState::tlOn);
  }
  const TSendSettings sound = SoundSendSettings(Settings);
  portNumber_ = sound.comPort + 1;
  FxComPort1.SetComNumber(static_cast<uint16_t>(portNumber_));

  const std::string doc = DocumentFile.toStdString();
  const std::string cover = TrimBoth(CoverFile.toStdString());
  const std::string reset = Settings.ResetString;
  const bool logPort = portLogging_;
  worker_.Run(
      [this, doc, cover, reset, logPort] {
        TPrepared p;
        for (const std::string& f : {doc, cover})
          if (!f.empty() && !p.fileProblem) p.fileProblem = CheckFaxFile(f);
        if (p.fileProblem) {
          prepared_ = p;
          return;
        }
        p.sameResolution = !cover.empty() && FirstPageFine(doc) == FirstPageFine(cover);
        const TOpenFaxPortResult open = OpenFaxPort(FxComPort1);
        p.opened = open.opened;
        p.openMessage = Q(open.message);
        if (p.opened) {
          if (logPort) FxComPort1.AddLogText("Check_for_modem");
          p.modem = CheckForModem(FxComPort1, reset, &stop_);
        }
        prepared_ = p;
      },
      [this] { Prepared(); });
}

void TSendFaxForm::Prepared() {
  if (prepared_.fileProblem) {
    QApplication::restoreOverrideCursor();
    AddtoLastSendLog("Error in fax file");
    HideStatus();
    Enter(TSendStage::Idle);
    ShowFaxError("Fax File Problem", *prepared_.fileProblem, true);
    SaveLocalLog();
    return;
  }
  // The files were checked first; the port was opened only when they were sound.
  AddtoLastSendLog("Opening com port: " + PortName());
  if (!prepared_.opened) {
    QApplication::restoreOverrideCursor();
    DumpPortLog();
    AddtoLastSendLog("Error opening com port: " + PortName());
    AddtoLastSendLog("Message:" + prepared_.openMessage);
    FxComPort1.SetOpen(false);
    HideStatus();
    Enter(TSendStage::Idle);
    ShowFaxError("Error Opening Communications Port",
                 prepared_.openMessage + kCrLf + kCrLf + "Is the Communications Port (" + PortName() +
                     ") correct? Please" + kCrLf +
                     "click on the Find Modem button on the Preferences screen to be sure.",
                 true);
    SaveLocalLog();
    return;
  }
  AddtoLastSendLog("Opened com port OK");
  AddtoLastSendLog("Checking for modem");
  if (!prepared_.modem) {
    AddtoLastSendLog("Error checking for modem");
    Enter(TSendStage::AskContinue);
    QApplication::restoreOverrideCursor();
    const bool go = AskContinueAfterError(
        "No Response From Modem",
        "We did not receive a modem response from " + PortName() + "." + kCrLf + kCrLf +
            "To verify the communications port, please click on the Find Modem button on the Preferences screen." +
            kCrLf + kCrLf + "If you are sure there is a modem on " + PortName() + ", press CONTINUE" + kCrLf +
            "to continue, otherwise press OK to stop the fax session.",
        true);
    if (!go) {
      PortLog("Check_for_modem_ERROR");
      DumpPortLog();
      FxComPort1.SetOpen(false);
      AddtoLastSendLog("Exit");
      HideStatus();
      Enter(TSendStage::Idle);
      SaveLocalLog();
      return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  AfterModemCheck();
}

void TSendFaxForm::AfterModemCheck() {
  std::string reset = Settings.ResetString;
  if (reset.empty()) {
    Configure();
    return;
  }
  Enter(TSendStage::Resetting);
  PortLog("Sending_RESET_string:" + reset);
  AddtoLastSendLog("Sending reset string: " + Q(reset));
  ShowStatus("Sending reset string...");
  auto ok = std::make_shared<bool>(false);
  auto sent = std::make_shared<std::string>(reset);
  worker_.Run([this, ok, sent] { *ok = SendModemString(FxComPort1, *sent); },
           [this, ok, sent] { ResetDone(*ok, *sent); });
}

void TSendFaxForm::ResetDone(bool ok, const std::string& sent) {
  Settings.ResetString = sent;  // with the "AT" put in front, as the modem got it
  if (ok) {
    Configure();
    return;
  }
  QApplication::restoreOverrideCursor();
  AddtoLastSendLog("Failure sending reset string: " + Q(sent));
  PortLog("Sending_RESET_string_Error");
  DumpPortLog();
  FxComPort1.SetOpen(false);
  HideStatus();
  Enter(TSendStage::Idle);
  ShowFaxError("Unable to Continue",
               "We are unable to continue the fax session. \r\n\r\nThe modem did not respond to the reset string:   (" +
                   Q(sent) + ")" + kCrLf + kCrLf + "Is the Communications Port (" + PortName() + ") correct? Please" +
                   kCrLf + "click on the Find Modem button on the Preferences screen to be sure.",
               true);
  AddtoLastSendLog("Exiting...");
  SaveLocalLog();
}

void TSendFaxForm::Configure() {
  HideStatus();
  const TSendSettings sound = SoundSendSettings(Settings);
  const bool prefixOn = !DisablePrefix->isChecked();
  const bool suffixOn = !DisableSuffix->isChecked();
  const TDialFields dial{sfPhoneNumber->text(), sfDialPrefix->text(), sfDialsuffix->text(), prefixOn, suffixOn};
  if (portLogging_)
    for (const QString& entry : CallPortLogEntries(Settings, dial)) PortLog(entry.toStdString());
  for (const QString& line : CallSessionLogLines(Settings, dial)) AddtoLastSendLog(line);

  std::optional<std::string> failure;
  try {
    FxSendFax1.DesiredBPS = static_cast<uint16_t>(sound.maximumBps);
    FxSendFax1.DesiredECM = Settings.ECM;
    FxSendFax1.BlindDial = Settings.BlindDial;
    FxSendFax1.DetectBusy = !Settings.IgnoreBusy;
    FxSendFax1.SetFaxFileList({});
    const std::string doc = Short255(DocumentFile.toStdString());
    const std::string cover = Short255(CoverFile.toStdString());
    // The cover goes as the component's APF cover file, ahead of the
    // document in the same call: the engine names the file it would join
    // the two into without the extension it then looks for.
    FxSendFax1.SetFaxFile(doc);
    if (!TrimBoth(doc).empty() && !TrimBoth(cover).empty()) {
      FxSendFax1.SetCoverFile(cover);
      FxSendFax1.KeepPageParameters = prepared_.sameResolution && !Settings.RenegotiateBetween;
    } else {
      FxSendFax1.SetCoverFile(std::string());
      FxSendFax1.KeepPageParameters = !Settings.RenegotiateBetween;
    }
    FxSendFax1.SetPhoneNumber(
        Short255((sfPhoneNumber->text() + (suffixOn ? sfDialsuffix->text() : QString())).toStdString()));
    FxSendFax1.ToneDial = !sound.pulse;
    FxSendFax1.FaxClass = FaxClassFromSetting(sound.faxClass);
    FxSendFax1.DialAttempts = sound.dialAttempts;
    FxSendFax1.DialRetryWait = sound.retryWaitSecs;
    FxSendFax1.SetDialWait(DialWaitSeconds(Settings.InitString));
    FxSendFax1.SetStationID(Settings.Fax);
    FxSendFax1.DialPrefix = prefixOn ? Short255(sfDialPrefix->text().toStdString()) : std::string();
    FxSendFax1.SetModemInit(Settings.InitString.empty() ? std::string()
                                                        : Short255(ModemInitCommand(Settings.InitString)));
    BuildHeader();
    FxSendFax1.HeaderLine = Short255(headerLine_.toStdString());
  } catch (const std::exception& e) {
    failure = e.what();
  }
  QApplication::restoreOverrideCursor();
  Enter(TSendStage::Starting);
  if (failure) {
    Started(failure);
    return;
  }
  AddtoLastSendLog("StartTransmit");
  auto error = std::make_shared<std::optional<std::string>>();
  worker_.Run(
      [this, error] {
        try {
          FxSendFax1.StartTransmit();
        } catch (const std::exception& e) {
          *error = e.what();
        } catch (...) {
          *error = "unknown failure";
        }
      },
      [this, error] { Started(*error); });
}

void TSendFaxForm::Started(std::optional<std::string> failure) {
  if (failure) {
    // Nothing to show: the session log says what went wrong.
    Enter(TSendStage::Idle);
    DumpPortLog();
    FxComPort1.SetOpen(false);
    AddtoLastSendLog("Error...");
    AddtoLastSendLog(Q(*failure));
    SaveLocalLog();
    return;
  }
  Enter(TSendStage::Transmitting);
  if (pendingFinish_) {
    const int code = *pendingFinish_;
    pendingFinish_.reset();
    HandleFinish(code);
  } else if (cancelWanted_) {
    FxSendFax1.AbortFax();
  }
}

void TSendFaxForm::CancelRequested() {
  // While the call is being handed over the session is not ours to touch;
  // the cancel goes through as soon as it is.
  if (stage_ == TSendStage::Transmitting)
    FxSendFax1.AbortFax();
  else if (stage_ == TSendStage::Starting)
    cancelWanted_ = true;
}

void TSendFaxForm::FxSendFax1FaxStatus() {
  if (!portLogging_) return;
  if (FxSendFax1.ProgressCode() == fxprogress::fpSendPage && FxComPort1.Logging() == TTraceLogState::tlOn)
    FxComPort1.SetLogging(TTraceLogState::tlPause);  // no page data in the log
  else if (FxComPort1.Logging() == TTraceLogState::tlOn)
    FxComPort1.AddLogText(TFxAbstractFax::ProgressText(FxSendFax1.ProgressCode()));
}

void TSendFaxForm::FxSendFax1FaxFinish(int errorCode) {
  if (stage_ == TSendStage::Starting) {
    pendingFinish_ = errorCode;
    return;
  }
  if (stage_ != TSendStage::Transmitting) return;
  HandleFinish(errorCode);
}

void TSendFaxForm::HandleFinish(int errorCode) {
  Enter(TSendStage::Finishing);
  QString text = Q(FxErrorText(errorCode));
  if (errorCode == 0) text = "OK";
  AddtoLastSendLog("Result: " + text);
  result_ = errorCode == 0 || text.toUpper() == "OK" ? QString("Sent") : text;
  std::string after = Settings.AfterString;
  if (after.empty()) {
    FinishRun(errorCode);
    return;
  }
  ShowStatus("Sending AFTER reset string...");
  auto sent = std::make_shared<std::string>(after);
  worker_.Run([this, sent] { (void)SendModemString(FxComPort1, *sent); },
           [this, sent, errorCode] {
             Settings.AfterString = *sent;
             HideStatus();
             FinishRun(errorCode);
           });
}

void TSendFaxForm::FinishRun(int errorCode) {
  DumpPortLog();
  FxComPort1.SetOpen(false);
  Enter(TSendStage::Idle);
  if (OnRunFinished) OnRunFinished(result_);
  SaveLocalLog();
  if (result_ != "Sent") {
    SetLastFaxErrorCode(errorCode);
    ShowFaxError("Fax Failure",
                 "We have received an error message while trying to send the fax\r\n\r\nError message: " +
                     Q(FxErrorText(errorCode)) + kCrLf + kCrLf,
                 true);
  } else {
    ShowInformation("The fax was sent successfully");
  }
}

// --- keys and buttons -------------------------------------------------------------

bool TSendFaxForm::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress && watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this &&
      FormKeyDown(static_cast<QKeyEvent*>(e)))
    return true;
  return QDialog::eventFilter(watched, e);
}

bool TSendFaxForm::FormKeyDown(QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if (e->key() != Qt::Key_Z || mods != (Qt::ControlModifier | Qt::ShiftModifier)) return false;
  portLogging_ = !portLogging_;
  ShowInformation(portLogging_ ? "Logging is now ON. Log file will be saved\nfor this fax session as CVOUT.LOG. "
                                 "This will\noverwrite any previous CVOUT.LOG."
                               : "Logging is now OFF");
  return true;
}

void TSendFaxForm::PreferencesButtonClick() {
  if (RunPreferencesWizard(this)) {
    sfDialPrefix->setText(QString::fromStdString(Settings.DialPrefix));
    sfDialsuffix->setText(QString::fromStdString(Settings.DialSuffix));
    DisablePrefix->setChecked(Settings.PrefixDisable);
    DisableSuffix->setChecked(Settings.SuffixDisable);
  }
  ShowSetup();
}

void TSendFaxForm::ProblemSolverButtonClick() { ShowProblemSolver(); }

void TSendFaxForm::HelpButtonClick() { ShowHelpContext(HelpTopic::SendWindow); }

void TSendFaxForm::CloseButtonClick() {
  if (Busy()) {
    QApplication::beep();
    return;
  }
  done(QDialog::Accepted);
}

void TSendFaxForm::reject() { CloseButtonClick(); }

void TSendFaxForm::closeEvent(QCloseEvent* e) {
  if (Busy()) {
    QApplication::beep();
    e->ignore();
    return;
  }
  QDialog::closeEvent(e);
}
