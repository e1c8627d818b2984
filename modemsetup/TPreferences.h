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

class TWaveSound;

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

  QComboBox* PageCombo = nullptr;
  QLabel* PageLabel = nullptr;
  QStackedWidget* Pages = nullptr;
  QLabel* FirstTimeLabel = nullptr;
  QLabel* ValidationLabel = nullptr;
  // Page 1
  QComboBox* ComPort = nullptr;
  QPushButton* FindModemButton = nullptr;
  QComboBox* ToneOrPulse = nullptr;
  QLineEdit* ResetString = nullptr;
  QLineEdit* ResetAfterString = nullptr;
  // Page 2
  QComboBox* FaxClass = nullptr;
  QPushButton* CheckFaxClassButton = nullptr;
  QComboBox* TransferRate = nullptr;
  QLineEdit* ModemInit = nullptr;
  QPushButton* InitHelpButton = nullptr;
  // Page 3
  QLineEdit* FaxNumber = nullptr;
  QLineEdit* Name = nullptr;
  QCheckBox* UseECM = nullptr;
  QLineEdit* DialPrefix = nullptr;
  QLineEdit* DialSuffix = nullptr;
  // Page 4
  QLineEdit* DialAttempts = nullptr;
  QLineEdit* RetryWait = nullptr;
  QCheckBox* CheckBlindDial = nullptr;
  QCheckBox* CheckIgnoreBusy = nullptr;
  QCheckBox* RenegotiateBetween = nullptr;
  // Page 5
  QComboBox* FaxClassReceive = nullptr;
  QPushButton* CheckFaxClassReceiveButton = nullptr;
  QComboBox* TransferRateReceive = nullptr;
  QLineEdit* ModemInitReceive = nullptr;
  QPushButton* SameClassButton = nullptr;
  QPushButton* SameRateButton = nullptr;
  QPushButton* SameInitButton = nullptr;
  QPushButton* InitHelpReceiveButton = nullptr;
  // Page 6
  QComboBox* AnswerOnRing = nullptr;
  QCheckBox* ReceiveAtStartup = nullptr;
  QCheckBox* UseECMReceive = nullptr;
  // Page 7
  QLineEdit* WaveFileEdit = nullptr;
  QPushButton* ChooseButton = nullptr;
  QPushButton* PlayNowButton = nullptr;
  QPushButton* NoneButton = nullptr;
  QLabel* WaveLabel = nullptr;
  QCheckBox* PrintFaxOnReceipt = nullptr;
  QComboBox* PrintFaxOnReceiptPrinter = nullptr;
  QCheckBox* DisableReceivingFaxesNotification = nullptr;
  // Page 8
  QCheckBox* ImposeWaitBeforePrinting = nullptr;
  // Buttons
  QPushButton* HelpButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* BackButton = nullptr;
  QPushButton* NextButton = nullptr;
  QPushButton* FinishButton = nullptr;
  QPushButton* ProblemSolverButton = nullptr;

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
  TWaveSound* sound_ = nullptr;  // made on the first Play Now
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
