#include "modemsetup/TCheckFaxClassForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "modemsetup/ModemProbe.h"
#include "modemsetup/ProbeRun.h"
#include "shell/Dialogs.h"
#include "shell/core/Settings.h"

namespace {

// Labels break lines at "\n"; the messages break them at CR or CR LF.
QString Shown(QString text) { return text.replace("\r\n", "\n").replace('\r', '\n'); }

QString NoResponseText(int n) { return QString("No response from device on COM%1. May not be a modem.").arg(n); }

}  // namespace

TCheckFaxClassForm::TCheckFaxClassForm(TFxComPort& port, int portNumber, QWidget* parent)
    : QDialog(parent), lent_(port), portNumber_(portNumber) {
  setObjectName("TCheckFaxClassForm");
  setWindowTitle("Finding Fax Class...Please wait");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Fax Classes:", this));
  auto addLabel = [&](QLabel*& label, const char* name, const char* text) {
    label = new QLabel(text, this);
    label->setObjectName(name);
    label->setMinimumWidth(320);
    layout->addWidget(label);
  };
  addLabel(Class1Label, "Class1Label", "Class 1 :");
  addLabel(Class2Label, "Class2Label", "Class 2 :");
  addLabel(Class20Label, "Class20Label", "Class 2.0 :");
  addLabel(Status, "Status", "Testing Fax Classes...please wait.");
  Status->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OKButton = new QPushButton("Ok", this);
  OKButton->setObjectName("OKButton");
  OKButton->hide();
  buttons->addWidget(OKButton);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

TCheckFaxClassForm::~TCheckFaxClassForm() {
  if (run_) run_->Detach();
}

void TCheckFaxClassForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) {
    started_ = true;
    StartTest();
  }
}

void TCheckFaxClassForm::done(int result) {
  if (run_) run_->RequestStop();
  QDialog::done(result);
}

void TCheckFaxClassForm::StartTest() {
  std::shared_ptr<TFxComPort> port = MakeProbePort(lent_);
  const std::string resetString = Settings.ResetString;
  const int n = portNumber_;
  run_ = TProbeRun::Start(this, [this, port, n, resetString](TProbeRun& run) {
    TOutcome outcome;
    try {
      outcome = RunTest(run, *port, n, resetString, this);
    } catch (const std::exception& e) {
      outcome.status = QString::fromStdString(e.what());
    }
    port->SetOpen(false);
    run.Post([this, outcome] { ShowOutcome(outcome); });
  });
}

// Runs on the worker thread; form is only touched through run's calls on the
// window's thread.
TCheckFaxClassForm::TOutcome TCheckFaxClassForm::RunTest(TProbeRun& run, TFxComPort& port, int n,
                                                          const std::string& resetString, TCheckFaxClassForm* form) {
  TOutcome out;
  run.Post([form] { form->Status->setText("Opening Com Port...please wait"); });
  // The send component sets the line up for fax use, as it will be for calls.
  TFxSendFax fax;
  fax.SetComPort(&port);
  port.SetComNumber(static_cast<uint16_t>(n));
  const TOpenFaxPortResult opened = OpenFaxPort(port);
  if (!opened.opened) {
    out.status = QString::fromStdString(opened.message);
    return out;
  }

  SettleWait(port, kModemSettleTicks, run.StopFlag());
  if (run.StopRequested()) return out;
  if (!CheckForModem(port, resetString, run.StopFlag())) {
    bool goOn = false;
    const QString question = QString("The device on COM%1 is not responding and may\rnot be a modem. Continue with Fax "
                                     "Class Analysis?")
                                 .arg(n);
    if (!run.RunOnGui([&goOn, question] { goOn = AskYesNo(question, "NO MODEM RESPONSE"); }) || !goOn) {
      out.status = NoResponseText(n);
      return out;
    }
  }

  if (!ResetModemToFactory(port)) {
    const QString info = QString(
                             "We are unable to continue the test. \r\rThe modem did not respond to the reset string:   "
                             "(AT&F)\r\rIs the Communications Port (COM%1) correct? Please\rclick the Find Modem Port "
                             "button on the Preferences screen to be sure.")
                             .arg(n);
    (void)run.RunOnGui([info] { ShowInformation(info); });
    out.status = NoResponseText(n);
    return out;
  }

  run.Post([form] { form->Status->setText("Querying modem Fax Class support..."); });
  TFaxClassSet classes;
  try {
    classes = fax.SupportedClasses();
  } catch (const std::exception&) {
    classes.clear();
  }
  out.class1 = classes.count(TFaxClass::fcClass1) > 0;
  out.class2 = classes.count(TFaxClass::fcClass2) > 0;
  out.class20 = classes.count(TFaxClass::fcClass2_0) > 0;
  out.known = out.class1 || out.class2 || out.class20;
  if (!out.known) out.status = QString("Unable to determine Fax Class support from modem on Com %1").arg(n);
  return out;
}

void TCheckFaxClassForm::ShowOutcome(const TOutcome& outcome) {
  class1_ = outcome.class1;
  class2_ = outcome.class2;
  class20_ = outcome.class20;
  recommended_ = -1;
  recommendedName_.clear();
  if (!outcome.known) {
    Status->setText(Shown(outcome.status));
    Class1Label->setText("Class 1   : unknown");
    Class2Label->setText("Class 2   : unknown");
    Class20Label->setText("Class 2.0 : unknown");
  } else {
    auto line = [](const char* name, bool supported) {
      return QString(name) + (supported ? "Supported" : "Not Supported");
    };
    Class20Label->setText(line("Class 2.0 : ", class20_));
    Class2Label->setText(line("Class 2   : ", class2_));
    Class1Label->setText(line("Class 1   : ", class1_));
    if (class1_) {
      recommended_ = 0;
      recommendedName_ = "Class 1";
      Class1Label->setText(Class1Label->text() + " (recommended)");
    } else if (class2_) {
      recommended_ = 1;
      recommendedName_ = "Class 2";
      Class2Label->setText(Class2Label->text() + " (recommended)");
    } else {
      recommended_ = 2;
      recommendedName_ = "Class 2.0";
      QFont bold = Class20Label->font();
      bold.setBold(true);
      Class20Label->setFont(bold);
    }
    Status->setText(Shown("Try using the recommended Fax Class (" + recommendedName_ + "). \r\rIf you experience " +
                          "problems, try other supported classes or auto detect."));
  }
  OKButton->show();
  setWindowTitle("Check Fax Class");
  finished_ = true;
  if (isVisible()) QApplication::beep();
  emit testFinished(recommended_);
}
