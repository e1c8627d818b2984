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
  // USB devices that a COM number already names are tried as that port.
  for (const TUsbSerialDevice& d : UsbSerialDevices())
    if (ComNumberOfDevice(port.IniFileName(), d.device, kPorts) == 0) usb_.push_back(d);
  if (!usb_.empty()) layout->addWidget(new QLabel("USB serial devices:", this));
  for (size_t i = 0; i < usb_.size(); ++i) {
    auto* label = new QLabel(QString::fromStdString(usb_[i].name) + ":", this);
    label->setObjectName(QString("UsbLabel%1").arg(i));
    UsbLabels.push_back(label);
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

TFindModemForm::TPortOutcome TFindModemForm::ProbePort(TFxComPort& port, const std::string& label,
                                                       const std::string& resetString, const std::atomic<bool>* stop) {
  TPortOutcome out;
  std::string text = label + ": ";
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
        if (const auto advice = DeviceAccessAdvice(port.DevicePath())) {
          text += "Not allowed to open (see below)";
          out.advice = QString::fromStdString(*advice);
          break;
        }
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
  run_ = TProbeRun::Start(this, [this, port, resetString, usb = usb_](TProbeRun& run) {
    int found = -1, foundUsb = -1;
    bool inUseSeen = false;
    int n = 1;
    auto probe = [&](int row, const std::string& label) {
      run.Post([this, row] { ShowPortTesting(row); });
      const TPortOutcome outcome = ProbePort(*port, label, resetString, run.StopFlag());
      inUseSeen = inUseSeen || outcome.inUse;
      run.Post([this, row, outcome] { ShowPortOutcome(row, outcome); });
      return outcome.modem;
    };
    try {
      for (; n <= kPorts && !run.StopRequested(); ++n) {
        port->SetComNumber(static_cast<uint16_t>(n));
        if (probe(n, "Com " + std::to_string(n)) && found < 0) found = n;
      }
      for (size_t i = 0; i < usb.size() && !run.StopRequested(); ++i) {
        port->SetDeviceName(usb[i].device);
        if (probe(kPorts + 1 + static_cast<int>(i), usb[i].name) && foundUsb < 0) foundUsb = static_cast<int>(i);
      }
    } catch (...) {
      // Ends the scan at the current port; what was found so far stands.
    }
    port->SetOpen(false);
    const int last = std::min(n, kPorts);
    run.Post([this, found, foundUsb, inUseSeen, last] { FinishScan(found, foundUsb, inUseSeen, last); });
  });
}

QLabel* TFindModemForm::RowLabel(int row) const {
  return row <= kPorts ? ComLabel(row) : UsbLabels[static_cast<size_t>(row - kPorts - 1)];
}

QString TFindModemForm::RowName(int row) const {
  if (row <= kPorts) return QString("Com %1").arg(row);
  return QString::fromStdString(usb_[static_cast<size_t>(row - kPorts - 1)].name);
}

void TFindModemForm::ShowPortTesting(int row) { RowLabel(row)->setText(RowName(row) + ": TESTING"); }

void TFindModemForm::ShowPortOutcome(int row, const TPortOutcome& outcome) {
  RowLabel(row)->setText(outcome.text);
  RowLabel(row)->setToolTip(outcome.advice.isEmpty() ? outcome.holder : outcome.advice);
  if (advice_.isEmpty()) advice_ = outcome.advice;
}

void TFindModemForm::FinishScan(int found, int foundUsb, bool inUseSeen, int lastPort) {
  unsetCursor();
  if (foundUsb >= 0) foundUsb_ = usb_[static_cast<size_t>(foundUsb)];
  if (found < 0 && foundUsb_)
    Label7->setText("A modem was found on " + QString::fromStdString(foundUsb_->name) +
                    ". It can be given a Com Port number.");
  else if (found < 0 && !advice_.isEmpty())
    Label7->setText("No modem found. " + advice_);
  else if (found < 0 && inUseSeen)
    Label7->setText(
        "No modem found. Please make sure that all communication programs (internet, AOL, etc) are closed, and then "
        "try again. If you know which Com port your modem uses, you can also just set the Port to that setting");
  else if (found < 0)
    Label7->setText(
        "No modem found. If you know which Com port your modem uses, you can also just set the Port to that setting");
  else
    Label7->setText(QString("A modem was found on Com Port %1. We suggest setting the Port as Com %1.").arg(found));
  OKButton->show();
  // The advice may take several lines: the window grows to show all of it.
  adjustSize();
  setWindowTitle("Find Modem");
  found_ = found;
  // Like the scan itself, the caller's port ends on the last number tried.
  if (!lent_.Open()) lent_.SetComNumber(static_cast<uint16_t>(lastPort));
  finished_ = true;
  if (isVisible()) QApplication::beep();
  emit scanFinished(found);
}
