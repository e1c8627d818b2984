#include "modemsetup/TPreferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>

#include <filesystem>

#include "modemsetup/ModemProbe.h"
#include "modemsetup/PortChoice.h"
#include "modemsetup/PreferenceFields.h"
#include "modemsetup/TCheckFaxClassForm.h"
#include "modemsetup/TModemInitStringHelperForm.h"
#include "shell/TWaveSound.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "shell/core/Text.h"

namespace {
bool firstStartFlag = false;

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QLineEdit* e) { return e->text().toStdString(); }
}  // namespace

bool FirstStart() { return firstStartFlag; }
void SetFirstStart(bool on) { firstStartFlag = on; }

// The list positions and texts the controls were loaded with.
struct TPreferences::TLoaded {
  int comPort, toneOrPulse, faxClass, rate, faxClassReceive, rateReceive, answerOnRing, printer;
  QString dialAttempts, retryWait;
};

TPreferences::TPreferences(QWidget* parent) : QDialog(parent) {
  setObjectName("TPreferences");
  setWindowTitle("Preferences Wizard");
  // The probing windows borrow this port: it names its devices from CV.INI
  // and is never opened by the wizard itself.
  port_.SetIniFileName(IniFileName());
  port_.SetAutoOpen(false);
  port_.SetPromptForPort(false);
  port_.SetInSize(8192);
  port_.SetOutSize(8192);
  port_.SetHWFlowOptions(THWFlowOption::hwfUseRTS | THWFlowOption::hwfRequireCTS);
  BuildPages();
  FillPrinters();
  firstStart_ = FirstStart();
  SetFirstStart(false);
  LoadControls();
  ShowPage(0);
}

TPreferences::~TPreferences() = default;

void TPreferences::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FirstTimeLabel->setVisible(firstStart_);
  SetButtons();
}

int TPreferences::Page() const { return Pages->currentIndex(); }

void TPreferences::ShowPage(int page) {
  Pages->setCurrentIndex(Clamp(page, 0, kPageCount - 1));
  SetButtons();
}

QString TPreferences::ValidationText() const { return ValidationLabel->isVisible() ? ValidationLabel->text() : ""; }

void TPreferences::SetButtons() {
  const int page = Page();
  BackButton->setEnabled(page > 0);
  NextButton->setEnabled(page < kPageCount - 1);
  FinishButton->setEnabled(!firstStart_ || page == kPageCount - 1);
  const QSignalBlocker block(PageCombo);
  PageCombo->setCurrentIndex(page);
  PageLabel->setText(PageCombo->itemText(page));
}

void TPreferences::BackButtonClick() { ShowPage(Page() - 1); }
void TPreferences::NextButtonClick() { ShowPage(Page() + 1); }
void TPreferences::PageComboChange(int index) { ShowPage(index); }
void TPreferences::CancelButtonClick() { reject(); }

void TPreferences::HelpButtonClick() {
  const int page = Page();
  ShowHelpContext(page == 1   ? HelpTopic::PreferencesSending
                  : page <= 0 || page >= 8 ? HelpTopic::Preferences
                  : page <= 4 ? HelpTopic::PreferencesDialing
                              : HelpTopic::PreferencesReceiving);
}

void TPreferences::LoadControls() {
  const TSettings& s = Settings;
  loaded_ = std::make_unique<TLoaded>();
  auto load = [](QComboBox* box, int position) {
    box->setCurrentIndex(Clamp(position, 0, box->count() - 1));
    return box->currentIndex();
  };
  // A port beyond the list gets an entry of its own rather than being lost.
  if (s.ComPort >= ComPort->count() && s.ComPort < 255)
    ComPort->addItem(PortChoiceText(s.ComPort + 1, port_.IniFileName()), s.ComPort + 1);
  loaded_->comPort = load(ComPort, s.ComPort >= ComPort->count() ? ComPort->count() - 1 : s.ComPort);
  loaded_->toneOrPulse = load(ToneOrPulse, s.ToneOrPulse);
  ResetString->setText(Q(s.ResetString));
  ResetAfterString->setText(Q(s.AfterString));
  loaded_->faxClass = load(FaxClass, s.FaxClass);
  loaded_->rate = load(TransferRate, NearestRateIndex(s.MaximumBPS));
  ModemInit->setText(Q(s.InitString));
  FaxNumber->setText(Q(s.Fax));
  Name->setText(Q(s.Name));
  UseECM->setChecked(s.ECM);
  DialPrefix->setText(Q(s.DialPrefix));
  DialSuffix->setText(Q(s.DialSuffix));
  loaded_->dialAttempts = QString::number(s.DialAttempts);
  loaded_->retryWait = QString::number(s.RetryWait);
  DialAttempts->setText(loaded_->dialAttempts);
  RetryWait->setText(loaded_->retryWait);
  CheckBlindDial->setChecked(s.BlindDial);
  CheckIgnoreBusy->setChecked(s.IgnoreBusy);
  RenegotiateBetween->setChecked(s.RenegotiateBetween);
  loaded_->faxClassReceive = load(FaxClassReceive, s.FaxClassReceive);
  loaded_->rateReceive = load(TransferRateReceive, NearestRateIndex(s.MaximumBPSReceive));
  ModemInitReceive->setText(Q(s.InitStringReceive));
  loaded_->answerOnRing = load(AnswerOnRing, s.AnswerOnRing - 1);
  ReceiveAtStartup->setChecked(s.AtStartup);
  UseECMReceive->setChecked(s.ECMReceive);
  WaveFileEdit->setText(Q(s.Wav));
  PrintFaxOnReceipt->setChecked(s.PrintOnReceipt);
  loaded_->printer = load(PrintFaxOnReceiptPrinter, std::max(0, PrintFaxOnReceiptPrinter->findText(
                                                                    Q(s.PrintOnReceiptPrinter), Qt::MatchExactly)));
  DisableReceivingFaxesNotification->setChecked(s.DisableReceivingFaxesNotification);
  ImposeWaitBeforePrinting->setChecked(s.ImposeWaitBeforePrinting);
}

std::optional<TPreferences::TFieldProblem> TPreferences::FirstFieldProblem() const {
  struct TCheck {
    int page;
    QLineEdit* field;
    std::optional<QString> problem;
  };
  // Number fields are checked only when edited: what the file held stays as
  // it was when the user leaves it alone.
  auto number = [](QLineEdit* e, const QString& loaded, int low, int high, const QString& what) {
    return e->text() == loaded ? std::nullopt : CheckWholeNumber(e->text(), low, high, what);
  };
  const TCheck checks[] = {
      {1, ResetString, CheckModemLine(ResetString->text(), "The reset string")},
      {1, ResetAfterString, CheckModemLine(ResetAfterString->text(), "The after reset string")},
      {2, ModemInit, CheckModemLine(ModemInit->text(), "The modem init string")},
      {3, FaxNumber, CheckPlainText(FaxNumber->text(), "The fax number")},
      {3, Name, CheckPlainText(Name->text(), "The name")},
      {3, DialPrefix, CheckModemLine(DialPrefix->text(), "The dial prefix")},
      {3, DialSuffix, CheckModemLine(DialSuffix->text(), "The dial suffix")},
      {4, DialAttempts, number(DialAttempts, loaded_->dialAttempts, 1, kMaxDialAttempts, "Dial attempts")},
      {4, RetryWait, number(RetryWait, loaded_->retryWait, 0, kMaxRetryWaitSecs, "The retry wait (seconds)")},
      {5, ModemInitReceive, CheckModemLine(ModemInitReceive->text(), "The modem init string for receiving")},
      {7, WaveFileEdit, CheckPlainText(WaveFileEdit->text(), "The sound file name")},
  };
  for (const TCheck& c : checks)
    if (c.problem) return TFieldProblem{c.page, c.field, *c.problem};
  return std::nullopt;
}

void TPreferences::StoreControls() {
  TSettings& s = Settings;
  auto changed = [](QComboBox* box, int loaded) { return box->currentIndex() != loaded; };
  if (changed(ComPort, loaded_->comPort)) s.ComPort = ComPort->currentData().toInt() - 1;
  if (changed(ToneOrPulse, loaded_->toneOrPulse)) s.ToneOrPulse = ToneOrPulse->currentIndex();
  s.ResetString = S(ResetString);
  s.AfterString = S(ResetAfterString);
  if (changed(FaxClass, loaded_->faxClass)) s.FaxClass = FaxClass->currentIndex();
  if (changed(TransferRate, loaded_->rate)) s.MaximumBPS = RateFromIndex(TransferRate->currentIndex());
  s.InitString = S(ModemInit);
  s.Fax = S(FaxNumber);
  s.Name = S(Name);
  s.ECM = UseECM->isChecked();
  s.DialPrefix = S(DialPrefix);
  s.DialSuffix = S(DialSuffix);
  if (DialAttempts->text() != loaded_->dialAttempts) s.DialAttempts = DialAttempts->text().trimmed().toInt();
  if (RetryWait->text() != loaded_->retryWait) s.RetryWait = RetryWait->text().trimmed().toInt();
  s.BlindDial = CheckBlindDial->isChecked();
  s.IgnoreBusy = CheckIgnoreBusy->isChecked();
  s.RenegotiateBetween = RenegotiateBetween->isChecked();
  if (changed(FaxClassReceive, loaded_->faxClassReceive)) s.FaxClassReceive = FaxClassReceive->currentIndex();
  if (changed(TransferRateReceive, loaded_->rateReceive))
    s.MaximumBPSReceive = RateFromIndex(TransferRateReceive->currentIndex());
  s.InitStringReceive = S(ModemInitReceive);
  if (changed(AnswerOnRing, loaded_->answerOnRing)) s.AnswerOnRing = AnswerOnRing->currentIndex() + 1;
  s.AtStartup = ReceiveAtStartup->isChecked();
  s.ECMReceive = UseECMReceive->isChecked();
  s.Wav = S(WaveFileEdit);
  s.PrintOnReceipt = PrintFaxOnReceipt->isChecked();
  if (changed(PrintFaxOnReceiptPrinter, loaded_->printer))
    s.PrintOnReceiptPrinter = PrintFaxOnReceiptPrinter->currentText().toStdString();
  s.DisableReceivingFaxesNotification = DisableReceivingFaxesNotification->isChecked();
  s.ImposeWaitBeforePrinting = ImposeWaitBeforePrinting->isChecked();
}

void TPreferences::FinishButtonClick() {
  if (const auto problem = FirstFieldProblem()) {
    ShowPage(problem->page);
    ValidationLabel->setText(problem->message);
    ValidationLabel->show();
    problem->field->setFocus();
    return;
  }
  ValidationLabel->hide();
  if (!AskYesNo("Save changes?", "Save Preferences")) return;
  StoreControls();
  if (!WriteSettings())
    ShowInformation("The settings could not be written to " + Q(IniFileName()) +
                    ".\r\rThey are used until the program ends. Please check that the program folder can be "
                    "written.");
  accept();
}

void TPreferences::FindModemButtonClick() { FindModemPortFor(ComPort, port_, this); }

void TPreferences::CheckFaxClassButtonClick() {
  // Each page's button offers the class of its own page.
  OfferFaxClass(sender() == CheckFaxClassButton ? FaxClass : FaxClassReceive);
}

void TPreferences::OfferFaxClass(QComboBox* target) {
  TCheckFaxClassForm form(port_, ComPort->currentData().toInt(), this);
  form.exec();
  const int i = form.RecommendedIndex();
  if (i >= 0 && i + 1 != target->currentIndex() &&
      AskYesNo("Set fax class as " + Q(FaxClassName(i + 1)) + " ?", "Fax Class"))
    target->setCurrentIndex(i + 1);
}

void TPreferences::InitHelpButtonClick() {
  const bool sending = sender() != InitHelpReceiveButton;
  QLineEdit* field = sending ? ModemInit : ModemInitReceive;
  field->setText(InitStringHelper(field->text(), sending, this));
}

void TPreferences::ChooseButtonClick() {
  const std::filesystem::path current = WaveFileEdit->text().toStdString();
  std::error_code ec;
  const QString start = !current.empty() && std::filesystem::exists(current, ec) ? WaveFileEdit->text()
                                                                                  : Q(ProgramFolder());
  const QString chosen = QFileDialog::getOpenFileName(this, "Choose", start, "WAVE files (*.wav)");
  if (chosen.toUpper().contains(".WAV")) WaveFileEdit->setText(chosen);
}

void TPreferences::PlayNowButtonClick() {
  const std::filesystem::path file = WaveFileEdit->text().toStdString();
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec)) {
    WaveLabel->setText("There is no sound file of that name.");
  } else if (!TWaveSound::IsWaveFile(QString::fromStdString(file.string()))) {
    WaveLabel->setText("This file is not a WAVE sound and cannot be played.");
  } else {
    WaveLabel->clear();
    if (!sound_) sound_ = new TWaveSound(this);
    (void)sound_->Play(QString::fromStdString(file.string()));  // checked above; playing itself is silent on failure
  }
}

void TPreferences::NoneButtonClick() {
  WaveFileEdit->clear();
  WaveLabel->clear();
}

bool RunPreferencesWizard(QWidget* parent) {
  TPreferences wizard(parent ? parent : ApplicationWindow());
  return wizard.exec() == QDialog::Accepted;
}
