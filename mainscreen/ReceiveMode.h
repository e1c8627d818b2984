#pragma once
// Receive mode of the main window: the serial port and the receive-fax
// component that answer calls for as long as the mode is on, the steps that
// start and stop it, the handlers of the component's events, the session log
// "Lastrec.log" and the port log "CVIN.LOG". Every wait for the modem runs
// on a worker thread or in the engine; the window stays responsive.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "mainscreen/ReceivedFax.h"
#include "sending/GuiWorker.h"
#include "sending/SessionLog.h"

class TMainScreen;
class TQtHostExecutor;
class TStartingFaxForm;

enum class TReceiveStage { Off, Starting, On, Stopping };
// True when the table of stages allows the step.
[[nodiscard]] bool ReceiveStageAllowed(TReceiveStage from, TReceiveStage to);

class TReceiveMode : public QObject {
  Q_OBJECT
 public:
  explicit TReceiveMode(TMainScreen& main);
  ~TReceiveMode() override;

  TReceiveStage Stage() const { return stage_; }
  // Receive mode is on: starting, waiting for calls, receiving or stopping.
  bool On() const { return stage_ != TReceiveStage::Off; }
  bool ReceivingNow() const { return receivingNow_; }
  const TSessionLog& SessionLog() const { return log_; }

  // The Receive command: starts receive mode when it is off, stops it when
  // it is waiting or receiving; beeps while it is starting or stopping.
  void Toggle();
  void Start();
  void Stop();
  // Ends receive mode for the program's close and runs done once it is off
  // (at once when it is off already).
  void Shutdown(std::function<void()> done);
  // A reception that an earlier run did not finish (the program was killed)
  // is kept with its complete pages as a row, or its file removed.
  void RecoverUnfinished();

  TQtHostExecutor* Executor;
  TFxComPort FxComPort1;
  TFxReceiveFax FxReceiveFax1;

 signals:
  // A row has been written for a received fax (also for one that kept only
  // the pages that arrived before a failure).
  void FaxReceived(const TReceivedFax& fax);
  // Receive mode has gone off (after a stop or a failed start).
  void ModeOff();

 private:
  void Enter(TReceiveStage next);
  void Hourglass(bool on);
  void SetStatus(const QString& text);
  void Add(const QString& line) { log_.Add(line); }
  void SaveLog();
  QString PortName() const;
  TStartingFaxForm* StartingForm();
  void HideStartingForm();
  void SetCommandCaptions(bool on);
  void ClosePort();

  // The steps of starting, each run when the one before has finished.
  void Configure();
  void Opened(bool opened, const QString& openMessage, bool modem);
  void AfterModemCheck();
  void ResetDone(bool ok, const std::string& sent);
  void StartWaiting();
  void FailStart();

  // The steps of stopping.
  void Cancelled();
  void PortClosed();

  // Events of the receive-fax component.
  void FaxAccept(bool& accept);
  void FaxStatus(bool first, bool last);
  void FaxLog(int code);
  void FaxFinish(int code);
  void ReceiveStarted();
  void ReceiveOk();
  void ReceiveFailed();
  static QString FailureText(int code);
  // Logs a failed call and shows the error window.
  void ReportFailure(int code);
  void ShowFailure(int code, const QString& text);
  // Appends the row of a stored fax and makes it the current row; the
  // description handed on, or nothing when the row could not be written.
  std::optional<TReceivedFax> StoreRow(const std::string& imageFile, const QString& from, int pages,
                                       const QString& notes, bool complete, const QDateTime& when);

  // True when a row of the received table names the image file.
  bool RowNames(const std::string& faxFile);

  TMainScreen& main_;
  TGuiWorker worker_;
  std::atomic<bool> stopProbe_{false};
  TReceiveStage stage_ = TReceiveStage::Off;
  TSessionLog log_;
  bool hourglass_ = false;
  bool receivingNow_ = false;
  bool portLogging_ = false;  // the switch as it was when this start began
  bool shuttingDown_ = false;
  bool stopWanted_ = false;   // a stop asked for while starting
  int portNumber_ = 1;
  int lastFaxError_ = 0;
  int pageCount_ = 0;
  std::string faxFile_;       // image file of the fax in progress
  std::vector<std::function<void()>> whenOff_;
  class QTimer* cancelGuard_ = nullptr;
};
