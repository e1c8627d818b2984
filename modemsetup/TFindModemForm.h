#pragma once
// The port scan: tries COM1 to COM6 in turn, then the USB serial devices no
// COM number names yet, and reports on which of them a modem answers. The
// scan starts when the window is first shown and runs on a worker thread; the
// window can be closed at any time.

#include <QDialog>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "modemsetup/SerialDevices.h"

class QLabel;
class QPushButton;
class TFxComPort;
class TProbeRun;

class TFindModemForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPorts = 6;

  // port is lent by the caller: the scan works on a port of its own set up
  // like it, and sets port's number to the last port tried when it ends.
  explicit TFindModemForm(TFxComPort& port, QWidget* parent = nullptr);
  ~TFindModemForm() override;

  // The first port on which a modem answered, or -1.
  int FoundPort() const { return found_; }
  // The first USB device without a COM number on which a modem answered.
  const std::optional<TUsbSerialDevice>& FoundUsbDevice() const { return foundUsb_; }
  // What to tell the user about a device they may not open; empty when none.
  const QString& AccessAdvice() const { return advice_; }
  bool ScanFinished() const { return finished_; }

  QLabel* ComLabel(int n) const { return ComLabels[static_cast<size_t>(n - 1)]; }
  QLabel* Label7 = nullptr;
  QPushButton* OKButton = nullptr;
  std::array<QLabel*, kPorts> ComLabels{};
  std::vector<QLabel*> UsbLabels;  // one per USB device in UsbDevices()
  const std::vector<TUsbSerialDevice>& UsbDevices() const { return usb_; }

 signals:
  void scanFinished(int found);

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  struct TPortOutcome {
    bool modem = false;
    bool inUse = false;
    QString text;
    QString holder;  // who holds a port in use, when known
    QString advice;  // set when the user may not open the device
  };
  void StartScan();
  QLabel* RowLabel(int row) const;  // rows 1..kPorts are the COM ports, then the USB devices
  QString RowName(int row) const;
  void ShowPortTesting(int row);
  void ShowPortOutcome(int row, const TPortOutcome& outcome);
  void FinishScan(int found, int foundUsb, bool inUseSeen, int lastPort);
  static TPortOutcome ProbePort(TFxComPort& port, const std::string& label, const std::string& resetString,
                                const std::atomic<bool>* stop);

  TFxComPort& lent_;
  std::shared_ptr<TProbeRun> run_;
  bool started_ = false;
  bool finished_ = false;
  int found_ = -1;
  std::vector<TUsbSerialDevice> usb_;
  std::optional<TUsbSerialDevice> foundUsb_;
  QString advice_;
};
