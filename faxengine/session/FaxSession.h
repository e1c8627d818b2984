#pragma once
// The session core of one fax component: the port and its triggers, the
// timers, the host calls, the status and the log. It runs one state machine
// (Class 1 or Class 2/2.0, send or receive) on the dispatcher thread as
// trigger handlers (the preparation and the first pass on a starter thread
// of the session's own), one pass at a time under the session lock. The
// host thread only starts a session and asks for a cancel; neither waits
// for the modem.

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "faxengine/session/PacedOutput.h"
#include "faxengine/session/SessionCore.h"

// The name of a state by its number in the session log (empty when none).
std::string FxStateLogName(uint8_t number);

class TFaxSession : public std::enable_shared_from_this<TFaxSession>,
                    public TFxSessionValues,
                    private TFxSessionCore {
 public:
  using TEvent = TFxEvent;

  TFaxSession(TFxAbstractFax& fax, bool send);
  ~TFaxSession();

  // Starts the session on the host thread: the triggers, then a thread of
  // its own for first, the preparation and the first pass (Begin). Returns
  // at once.
  void Start(std::function<int()> first = {});
  // Trigger handler.
  void OnTrigger(uint16_t msg, uint16_t wParam);
  // Asks for a cancel and returns at once; the session ends through the
  // finish message as for any other end.
  void Abort();
  // Detaches from the port after the finish; host thread.
  void Teardown();
  // The component is going away: messages still queued for it are dropped.
  // Host thread.
  void Detach();
  bool Finished() const override { return finished_.load(); }
  bool Sending() const { return send_; }
  // True while the session's port is open and its dispatcher running, so
  // that its machine can still get to the end. Host thread.
  bool OnOpenPort() const { return disp_ && !disp_->Stopping() && port_.Dispatcher() == disp_; }
  // AT+FCLASS=? on the open port (trigger delivery held).
  TFaxClassSet QueryClasses(bool initFirst);

  std::string RemoteId() const override;

  // Filled by the component on the host thread during fmNextFax / fmName.
  std::string phoneNumber, faxFileName, coverFileName;
  std::string receiveFileName;

 private:
  // --- what the machine may use -------------------------------------------------------
  TFxAbstractFax& Fax() override { return fax_; }
  TFxComPort& Port() override { return port_; }
  TFxPosixDispatcher& Disp() override { return *disp_; }
  const TFxSessionSettings& Settings() const override { return settings_; }
  TFxSessionValues& Values() override { return *this; }
  TFaxClass FaxClass() const override { return faxClass_; }
  const std::string& PhoneNumber() const override { return phoneNumber; }
  const std::string& FaxFileName() const override { return faxFileName; }
  const std::string& CoverFileName() const override { return coverFileName; }
  const std::string& ReceiveFileName() const override { return receiveFileName; }
  int Notify(TFaxMessage msg, int wParam) override;
  void Status(int kind = 0) override;
  void StatusDue() override { statusPending_ = true; }
  bool FirstStatusSent() const override { return firstStatusSent_; }
  void ResetFirstStatus() override { firstStatusSent_ = false; }
  void SetProgress(int p) override;
  void Fail(int code) override;
  int LastError() const override { return lastError_; }
  void ReportError(int code) override {
    lastError_ = code;
    Notify(TFaxMessage::fmError, code);
  }
  void ClearError() override { lastError_ = 0; }
  bool Cancelled() const override { return cancelled_; }
  void Finish() override;
  void SetRemoteId(const std::string& id) override;
  void SendCommand(const std::string& cmd) override;
  void WriteRaw(const void* data, size_t n) override { paced_.Write(data, n); }
  void Pause(unsigned ms) override { paced_.Pause(ms); }
  void PauseUntilSent(unsigned maxMs) override { paced_.PauseUntilSent(maxMs); }
  void PurgeInput() override { paced_.PurgeInput(); }
  bool ReadLine() override;
  const std::string& ReplyLine() const override { return reply_.Line(); }
  void ClearReply() override { reply_.Clear(); }
  bool PrepCommand(const std::string& cmd, std::string* reply = nullptr) override;
  void ArmReply(int32_t ticks) override;
  void DisarmReply() override;
  void ArmOutFree(uint32_t bytes) override;
  void ArmOutUsed(uint32_t bytes) override;
  void SetPageDataFlowing(bool flowing) override { pageDataFlowing_ = flowing; }
  bool HangUp(THangupKind kind) override;
  bool HangupIdle() const override { return hangupState_ == THangupState::hsIdle; }
  void SwitchToNormalBaud() override;
  void TakeSessionParams(const std::string& line) override;
  TFxClass2Params& Negotiated() override { return negotiated_; }

  // --- the core's own -------------------------------------------------------------------
  // Runs a message on the host thread, unless the component has gone.
  int Deliver(TFaxMessage msg, int wParam);
  // True when a wait for the host must end: a cancel, a stopping port, a
  // host shutting down.
  bool HostCallStops() const;
  // The preparation and the first pass, on the starter thread.
  void Begin();
  void JoinStarter();
  int Prepare();
  bool DetectClass();
  void LogPass();
  // A pass of the machine; resume: the handler has run already (it ended
  // in a pause that is now over), only what follows a handler is left.
  void RunMachine(TEvent ev, bool resume = false);
  // Status, hang-up and the machine's handler for one event; false when the
  // pass ends here (a pause, a hang-up under way).
  bool StepMachine(TEvent ev);
  void DropInput();
  // Writes what the ring takes now; a ring that stays full ends the call.
  void WriteNow(const void* data, size_t n);
  // The pause timer fired: the steps that are due run; once none waits,
  // the machine goes on.
  void PausedStepsDue();
  // A trigger that came during a pause is kept for the machine.
  void HoldDuringPause(TEvent ev);
  // Forgets a pause and what waited behind it.
  void DropPause();
  // Runs the hang-up plan's steps up to the next pause.
  void RunHangup();
  // Reads what the modem said during a hang-up; true at its final reply.
  bool HangupReplyArrived();
  bool IsClass1() const { return faxClass_ == TFaxClass::fcClass1; }
  bool IsClass20() const { return faxClass_ == TFaxClass::fcClass2_0; }
  long NowMs() const;

  TFxAbstractFax& fax_;
  TFxComPort& port_;
  TFxPosixDispatcher* disp_ = nullptr;
  THostExecutor* executor_ = nullptr;
  bool send_;
  std::unique_ptr<TFxMachine> machine_;
  std::recursive_mutex mutex_;
  std::atomic<bool> abortRequested_{false};
  THandlerId handler_ = 0;
  int replyTimer_ = 0, statusTimer_ = 0, wakeTimer_ = 0, pauseTimer_ = 0, outFree_ = 0, outUsed_ = 0, modemStatus_ = 0;
  TFxPacedOutput paced_;
  // A reply timer armed (> 0) or disarmed (0) during a pause; -1 none.
  int32_t deferredReply_ = -1;
  // Triggers that came during a pause.
  bool heldReply_ = false, heldOutFree_ = false, heldOutUsed_ = false;
  std::thread starter_;
  std::function<int()> first_;  // runs on the starter thread before the preparation
  std::atomic<bool> detached_{false};
  std::shared_ptr<THostCall> lastStatusCall_;
  enum class THangupState : uint8_t { hsIdle, hsRunning, hsDone };
  THangupState hangupState_ = THangupState::hsIdle;
  THangupKind hangupKind_ = THangupKind::hkSend;
  std::vector<THangupStep> hangupPlan_;
  size_t hangupNext_ = 0;
  bool hangupAwait_ = false;  // the current step's pause ends at the modem's final reply
  // A write found the output ring stalled (WriteRaw); reported once.
  bool writeStalled_ = false, writeFailed_ = false;
  bool pageDataFlowing_ = false;  // page data may sit in the output ring
  bool statusPending_ = false;
  bool firstStatusSent_ = false;
  std::atomic<bool> finished_{false};
  bool cancelled_ = false;
  int lastError_ = 0;
  TFaxClass faxClass_ = TFaxClass::fcClass2;
  TFxSessionSettings settings_;
  TFxReplyCollector reply_;
  TFxClass2Params negotiated_;
  std::string remoteId_;
  mutable std::mutex remoteMutex_;
};
