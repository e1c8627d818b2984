#pragma once
// The preferences wizard: one page after another over the modem, sending and
// receiving settings. Nothing changes until "&Finish": then every setting is
// taken from its control and the whole settings file is written once.

#include <QDialog>

#include <memory>
#include <optional>

#include "faxengine/port/ComPort.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

// The process-wide first-start flag: set while no port was ever chosen and
// the quick setup has not been confirmed; a wizard run on a first start must
// visit every page before it can finish.
bool FirstStart();
void SetFirstStart(bool on);

class TPreferences : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPageCount = 9;
  explicit TPreferences(QWidget* parent = nullptr);
  ~TPreferences() override;

  int Page() const;
  void ShowPage(int page);
  // The message shown under the pages when a field keeps "&Finish" from
  // storing; empty when none.
  QString ValidationText() const;

  QComboBox* PageCombo;
  QLabel* PageLabel;
  QStackedWidget* Pages;
  QLabel* FirstTimeLabel;
  QLabel* ValidationLabel;
  // Page 1
  QComboBox* ComPort;
  QPushButton* FindModemButton;
  QComboBox* ToneOrPulse;
  QLineEdit* ResetString;
  QLineEdit* ResetAfterString;
  // Page 2
  QComboBox* FaxClass;
  QPushButton* CheckFaxClassButton;
  QComboBox* TransferRate;
  QLineEdit* ModemInit;
  QPushButton* InitHelpButton;
  // Page 3
  QLineEdit* FaxNumber;
  QLineEdit* Name;
  QCheckBox* UseECM;
  QLineEdit* DialPrefix;
  QLineEdit* DialSuffix;
  // Page 4
  QLineEdit* DialAttempts;
  QLineEdit* RetryWait;
  QCheckBox* CheckBlindDial;
  QCheckBox* CheckIgnoreBusy;
  QCheckBox* RenegotiateBetween;
  // Page 5
  QComboBox* FaxClassReceive;
  QPushButton* CheckFaxClassReceiveButton;
  QComboBox* TransferRateReceive;
  QLineEdit* ModemInitReceive;
  QPushButton* SameClassButton;
  QPushButton* SameRateButton;
  QPushButton* SameInitButton;
  QPushButton* InitHelpReceiveButton;
  // Page 6
  QComboBox* AnswerOnRing;
  QCheckBox* ReceiveAtStartup;
  QCheckBox* UseECMReceive;
  // Page 7
  QLineEdit* WaveFileEdit;
  QPushButton* ChooseButton;
  QPushButton* PlayNowButton;
  QPushButton* NoneButton;
  QLabel* WaveLabel;
  QCheckBox* PrintFaxOnReceipt;
  QComboBox* PrintFaxOnReceiptPrinter;
  QCheckBox* DisableReceivingFaxesNotification;
  // Page 8
  QCheckBox* ImposeWaitBeforePrinting;
  // Buttons
  QPushButton* HelpButton;
  QPushButton* CancelButton;
  QPushButton* BackButton;
  QPushButton* NextButton;
  QPushButton* FinishButton;
  QPushButton* ProblemSolverButton;

 public slots:
  void BackButtonClick();
  void NextButtonClick();
  void FinishButtonClick();
  void CancelButtonClick();
  void HelpButtonClick();
  void PageComboChange(int index);
  void FindModemButtonClick();
  void CheckFaxClassButtonClick();
  void InitHelpButtonClick();
  void ChooseButtonClick();
  void PlayNowButtonClick();
  void NoneButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Lines of page building (TPreferencesPages.cpp).
  void BuildPages();
  void FillPrinters();
  // Settings to controls and back; each list control remembers the position
  // it was loaded at, so a setting outside its list is written back only when
  // the user chose another entry.
  void LoadControls();
  void StoreControls();
  // The first field whose text cannot be stored, with its page and message.
  struct TFieldProblem {
    int page;
    QWidget* field;
    QString message;
  };
  std::optional<TFieldProblem> FirstFieldProblem() const;
  void SetButtons();
  void OfferFaxClass(QComboBox* target);

  TFxComPort port_;
  bool firstStart_ = false;
  struct TLoaded;
  std::unique_ptr<TLoaded> loaded_;
};

// Shows the wizard modally; true when it was finished (settings stored and
// written).
bool RunPreferencesWizard(QWidget* parent = nullptr);
