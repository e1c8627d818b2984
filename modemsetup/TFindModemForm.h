#pragma once
// The port scan: tries COM1 to COM6 in turn and reports on which of them a
// modem answers. The scan starts when the window is first shown and runs on a
// worker thread; the window can be closed at any time.

#include <QDialog>

#include <array>
#include <atomic>
#include <memory>
#include <string>

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
  bool ScanFinished() const { return finished_; }

  QLabel* ComLabel(int n) const { return ComLabels[static_cast<size_t>(n - 1)]; }
  QLabel* Label7 = nullptr;
  QPushButton* OKButton = nullptr;
  std::array<QLabel*, kPorts> ComLabels{};

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
  };
  void StartScan();
  void ShowPortTesting(int n);
  void ShowPortOutcome(int n, const TPortOutcome& outcome);
  void FinishScan(int found, bool inUseSeen, int lastPort);
  static TPortOutcome ProbePort(TFxComPort& port, int n, const std::string& resetString, const std::atomic<bool>* stop);

  TFxComPort& lent_;
  std::shared_ptr<TProbeRun> run_;
  bool started_ = false;
  bool finished_ = false;
  int found_ = -1;
};
