#pragma once
// The error window for fax failures, shared by sending and receive mode: the
// message, Ok, an optional Continue, and a button that opens the fax problem
// solver. Unless asked to stay open it closes itself after 30 seconds.

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class TShowErrorForm : public QDialog {
  Q_OBJECT
 public:
  // Modal results besides 1 (Ok).
  static constexpr int kContinue = -99;
  static constexpr int kProblemSolver = 4;
  static constexpr int kTimeoutMs = 30000;

  explicit TShowErrorForm(QWidget* parent = nullptr);
  // Fills the window for one call: caption, message, Continue shown or not,
  // the 30-second timer on when keepOpen is false; sizes it to the message.
  void Prepare(const QString& caption, const QString& message, bool showContinue, bool keepOpen);

  QPlainTextEdit* Memo1;
  QLabel* Label1;
  QPushButton* BitBtn1;
  QPushButton* ContinueButton;
  QPushButton* BitBtn2;
  QTimer* Timer1;

 public slots:
  void Timer1Timer();
  void BitBtn2Click();

 protected:
  void done(int r) override;
};

// True while an error window is showing (a second one is not shown).
bool ErrorWindowShowing();
// The engine code of the last fax that failed, kept for the problem solver.
int LastFaxErrorCode();
void SetLastFaxErrorCode(int code);

void ShowFaxError(const QString& caption, const QString& message, bool keepOpen);
// True only when the user pressed Continue.
bool AskContinueAfterError(const QString& caption, const QString& message, bool keepOpen);
