#pragma once
// The send window: the number to dial with its prefix and suffix, the modem
// configuration, and one fax call at a time through its own port and
// send-fax component. The modem is opened, checked and reset on a worker
// thread and the call runs on the engine's threads, so the window (and the
// status window's Cancel) answers throughout; the outcome arrives as the
// send-fax component's finish event.

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "sending/GuiWorker.h"
#include "sending/SessionLog.h"
#include "sending/TFxFaxStatus.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TQtHostExecutor;

// The stages of one send run. Worker stages run a blocking modem step away
// from the window; the others wait for the user or the engine.
enum class TSendStage {
  Idle,          // no run
  Preparing,     // worker: fax files checked, port opened, modem checked
  AskContinue,   // the modem did not answer: the user decides
  Resetting,     // worker: the reset string
  Starting,      // worker: the call is handed to the engine
  Transmitting,  // the engine has the call
  Finishing,     // worker: the after-reset string, then the port closes
};
// True when the run may go from one stage to the other.
[[nodiscard]] bool SendStageAllowed(TSendStage from, TSendStage to);

class TSendFaxForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSendFaxForm(QWidget* parent = nullptr);
  ~TSendFaxForm() override;

  // Handed in by the Send command before the window is shown.
  QString DocumentFile;
  QString CoverFile;
  QString InitialPhoneNumber;

  // "Sent" or the engine's text for the error of the last finished run;
  // empty while no run has finished.
  const QString& Result() const { return result_; }
  bool Busy() const { return stage_ != TSendStage::Idle; }
  TSendStage Stage() const { return stage_; }
  const QString& HeaderLine() const { return headerLine_; }
  bool PortLogging() const { return portLogging_; }
  const TSessionLog& SessionLog() const { return log_; }
  // Called on every finish event after the port has closed, before anything
  // is shown: the Send command stores the outcome in the row at once.
  std::function<void(const QString& result)> OnRunFinished;

  QLabel* ToLabel;
  QLabel* Subjectlabel;
  QLineEdit* sfPhoneNumber;
  QLineEdit* sfDialPrefix;
  QCheckBox* DisablePrefix;
  QLineEdit* sfDialsuffix;
  QCheckBox* DisableSuffix;
  QPushButton* SendFaxButton;
  QPlainTextEdit* SetupDisplayMemo;
  QPushButton* PreferencesButton;
  QPushButton* ProblemSolverButton;
  QPushButton* Helpbutton;
  QPushButton* CloseButton;
  QLabel* status;

  TQtHostExecutor* Executor;
  TFxComPort FxComPort1;
  TFxSendFax FxSendFax1;
  TFxFaxStatus FxFaxStatus1;

 public slots:
  void SendFaxButtonClick();
  void ShowSetup();
  void BuildHeader();
  void AddtoLastSendLog(const QString& line);
  void SaveLocalLog();
  void FxSendFax1FaxStatus();
  void FxSendFax1FaxFinish(int errorCode);
  void PreferencesButtonClick();
  void ProblemSolverButtonClick();
  void HelpButtonClick();
  void CloseButtonClick();
  void FormActivate();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void reject() override;

 private:
  // What the preparing worker found.
  struct TPrepared {
    std::optional<QString> fileProblem;
    bool opened = false;
    QString openMessage;
    bool modem = false;
    bool sameResolution = false;
  };
  void BuildLayout();
  bool FormKeyDown(QKeyEvent* e);
  void Enter(TSendStage next);
  void ShowStatus(const QString& text);
  void HideStatus();
  // The checks of the fields and modem strings; false after telling the user.
  bool InputSound();
  void Prepared();
  void AfterModemCheck();
  void ResetDone(bool ok, const std::string& sent);
  void Configure();
  void Started(std::optional<std::string> failure);
  void HandleFinish(int errorCode);
  void FinishRun(int errorCode);
  // Ends a run that stopped before the call: closes the port, clears busy,
  // logs `last` (when not empty) and saves the session log.
  void EndEarly(const QString& last);
  void PortLog(const std::string& text);
  void DumpPortLog();
  void CancelRequested();
  QString PortName() const;

  TSendStage stage_ = TSendStage::Idle;
  bool firstActivation_ = true;
  bool portLogging_ = false;
  QString result_;
  QString headerLine_;
  TSessionLog log_;
  int portNumber_ = 0;
  TPrepared prepared_;
  std::optional<int> pendingFinish_;  // a finish that came while the call was being started
  bool cancelWanted_ = false;
  std::atomic<bool> stop_{false};
  TGuiWorker worker_;  // last member: joined before the rest goes
};
