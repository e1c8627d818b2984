#include "sending/TShowErrorForm.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"

namespace {
bool showing = false;
int lastFaxError = 0;
constexpr int kDesignHeight = 230;
constexpr int kDesignMemoHeight = 100;

int Run(const QString& caption, const QString& message, bool showContinue, bool keepOpen) {
  if (showing) return 0;
  showing = true;
  int result = 0;
  {
    TShowErrorForm form(ApplicationWindow());
    form.Prepare(caption, message, showContinue, keepOpen);
    CentreForm(&form);
    result = form.exec();
  }
  showing = false;
  if (result == TShowErrorForm::kProblemSolver) ShowProblemSolver();
  return result;
}
}  // namespace

TShowErrorForm::TShowErrorForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TShowErrorForm");
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  auto* layout = new QVBoxLayout(this);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setFixedHeight(kDesignMemoHeight);
  Memo1->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(Memo1, 1);
  Label1 = new QLabel("For more information and possible solutions, click the Fax Problem Solver button", this);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);
  layout->addWidget(Label1);
  auto* buttons = new QHBoxLayout;
  BitBtn1 = new QPushButton("Ok", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  ContinueButton = new QPushButton("Continue", this);
  ContinueButton->setObjectName("ContinueButton");
  ContinueButton->hide();
  BitBtn2 = new QPushButton(" Fax Problem Solver", this);
  BitBtn2->setObjectName("BitBtn2");
  for (QPushButton* b : {BitBtn1, ContinueButton, BitBtn2}) buttons->addWidget(b);
  layout->addLayout(buttons);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimeoutMs);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &TShowErrorForm::Timer1Timer);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { done(1); });
  connect(ContinueButton, &QPushButton::clicked, this, [this] { done(kContinue); });
  connect(BitBtn2, &QPushButton::clicked, this, &TShowErrorForm::BitBtn2Click);
  resize(440, kDesignHeight);
}

void TShowErrorForm::Prepare(const QString& caption, const QString& message, bool showContinue, bool keepOpen) {
  setWindowTitle(caption);
  QString text = message;
  text.replace("\r\n", "\n").replace('\r', '\n');
  Memo1->setPlainText(text);
  ContinueButton->setVisible(showContinue);
  if (keepOpen)
    Timer1->stop();
  else
    Timer1->start();
  // The memo grows to its lines, the window with it.
  const int lineHeight = QFontMetrics(font()).height();
  const int lines = static_cast<int>(text.count('\n')) + 1;
  const int memoHeight = (lines + 3) * lineHeight;
  Memo1->setFixedHeight(memoHeight);
  resize(width(), kDesignHeight - kDesignMemoHeight + memoHeight);
}

void TShowErrorForm::Timer1Timer() {
  Timer1->stop();
  done(1);
}

void TShowErrorForm::BitBtn2Click() {
  // With Continue offered the user still has to choose, so the solver opens
  // beside the window; otherwise the window closes first.
  if (ContinueButton->isVisible())
    ShowProblemSolver();
  else
    done(kProblemSolver);
}

void TShowErrorForm::done(int r) {
  Timer1->stop();
  QDialog::done(r);
}

bool ErrorWindowShowing() { return showing; }
int LastFaxErrorCode() { return lastFaxError; }
void SetLastFaxErrorCode(int code) { lastFaxError = code; }

void ShowFaxError(const QString& caption, const QString& message, bool keepOpen) {
  Run(caption, message, false, keepOpen);
}

bool AskContinueAfterError(const QString& caption, const QString& message, bool keepOpen) {
  return Run(caption, message, true, keepOpen) == TShowErrorForm::kContinue;
}
