#include "modemsetup/TFindModemForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "faxengine/port/ComPort.h"
#include "faxengine/port/PortErrors.h"
#include "faxengine/text/FxStrings.h"
#include "modemsetup/ModemProbe.h"
#include "modemsetup/ProbeRun.h"
#include "shell/core/Settings.h"

TFindModemForm::TFindModemForm(TFxComPort& port, QWidget* parent) : QDialog(parent), lent_(port) {
  setObjectName("TFindModemForm");
  setWindowTitle("Finding Modem...Please wait");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Communications Ports:", this));
  for (int n = 1; n <= kPorts; ++n) {
    auto* label = new QLabel(QString("Com %1:").arg(n), this);
    label->setObjectName(QString("Com%1Label").arg(n));
    label->setMinimumWidth(320);
    ComLabels[static_cast<size_t>(n - 1)] = label;
    layout->addWidget(label);
  }
  Label7 = new QLabel("Testing Communications ports...please wait.", this);
  Label7->setObjectName("Label7");
  Label7->setWordWrap(true);
  layout->addWidget(Label7);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OKButton = new QPushButton("Ok", this);
  OKButton->setObjectName("OKButton");
  OKButton->hide();
  buttons->addWidget(OKButton);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

TFindModemForm::~TFindModemForm() {
  if (run_) run_->Detach();
}

void TFindModemForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) {
    started_ = true;
    StartScan();
  }
}

void TFindModemForm::done(int result) {
  // Closing never waits for the modem: the worker stops at its next step.
  if (run_) run_->RequestStop();
  QDialog::done(result);
}

TFindModemForm::TPortOutcome TFindModemForm::ProbePort(TFxComPort& port, int n, const std::string& resetString,
                                                       const std::atomic<bool>* stop) {
  TPortOutcome out;
  std::string text = "Com " + std::to_string(n) + ": ";
  port.SetComNumber(static_cast<uint16_t>(n));
  try {
    port.SetOpen(true);
    if (port.Open()) {
      out.modem = CheckForModem(port, resetString, stop);
      text += out.modem ? "MODEM" : "Unknown";
    } else {
      text += "Unknown";
    }
  } catch (const EFxException& e) {
    switch (e.ErrorCode()) {
      case fxcode::ecPortInUse:
      case fxcode::ecAlreadyOpen:
        text += "Port is already open (could be modem)";
        out.inUse = true;
        out.holder = QString::fromStdString(PortHolderText(port.DevicePath()));
        break;
      case fxcode::ecBadPortNumber: text += "Port does not exist"; break;
      default: {
        const std::string engineText = FxErrorText(e.ErrorCode());
        text += engineText.empty() ? std::string("Unknown Error") : engineText;
      }
    }
  } catch (const std::exception& e) {
    text += std::string("ERROR: ") + e.what();
  }
  port.SetOpen(false);
  out.text = QString::fromStdString(text);
  return out;
}

void TFindModemForm::StartScan() {
  OKButton->hide();
  setCursor(Qt::WaitCursor);
  found_ = -1;
  std::shared_ptr<TFxComPort> port = MakeProbePort(lent_);
  const std::string resetString = Settings.ResetString;
  run_ = TProbeRun::Start(this, [this, port, resetString](TProbeRun& run) {
    int found = -1;
    bool inUseSeen = false;
    int n = 1;
    try {
      for (; n <= kPorts && !run.StopRequested(); ++n) {
        run.Post([this, n] { ShowPortTesting(n); });
        const TPortOutcome outcome = ProbePort(*port, n, resetString, run.StopFlag());
        if (outcome.modem && found < 0) found = n;
        inUseSeen = inUseSeen || outcome.inUse;
        run.Post([this, n, outcome] { ShowPortOutcome(n, outcome); });
      }
    } catch (...) {
      // Ends the scan at the current port; what was found so far stands.
    }
    port->SetOpen(false);
    const int last = std::min(n, kPorts);
    run.Post([this, found, inUseSeen, last] { FinishScan(found, inUseSeen, last); });
  });
}

void TFindModemForm::ShowPortTesting(int n) { ComLabel(n)->setText(QString("Com %1: TESTING").arg(n)); }

void TFindModemForm::ShowPortOutcome(int n, const TPortOutcome& outcome) {
  ComLabel(n)->setText(outcome.text);
  ComLabel(n)->setToolTip(outcome.holder);
}

void TFindModemForm::FinishScan(int found, bool inUseSeen, int lastPort) {
  unsetCursor();
  if (found < 0 && inUseSeen)
    Label7->setText(
        "No modem found. Please make sure that all communication programs (internet, AOL, etc) are closed, and then "
        "try again. If you know which Com port your modem uses, you can also just set the Port to that setting");
  else if (found < 0)
    Label7->setText(
        "No modem found. If you know which Com port your modem uses, you can also just set the Port to that setting");
  else
    Label7->setText(QString("A modem was found on Com Port %1. We suggest setting the Port as Com %1.").arg(found));
  OKButton->show();
  setWindowTitle("Find Modem");
  found_ = found;
  // Like the scan itself, the caller's port ends on the last number tried.
  if (!lent_.Open()) lent_.SetComNumber(static_cast<uint16_t>(lastPort));
  finished_ = true;
  if (isVisible()) QApplication::beep();
  emit scanFinished(found);
}
