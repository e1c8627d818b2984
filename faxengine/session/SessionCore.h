#pragma once
// What a fax session's state machine and the session core see of each
// other. The core owns the port, the triggers and timers, the host calls,
// the status and the log; it runs one machine (Class 1 or Class 2/2.0, send
// or receive) and hands it the events. A machine reaches the core only
// through TFxSessionCore, and the core reaches the machine only through
// TFxMachine. Each machine keeps its states in one table: the state, the
// name and number the session log shows, the handler and how the pass goes on.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "faxengine/class2/Class2Parse.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/Hangup.h"

class TFxPosixDispatcher;

// Why a machine runs a pass.
enum class TFxEvent { evRun, evData, evReplyTimer, evStatusTimer, evOutFree, evOutUsed, evAbort };

// The component's settings as the session started with them.
struct TFxSessionSettings {
  int statusInterval = 1;
  int desiredBps = 9600;
  bool desiredEcm = false;
  bool abortNoConnect = false, exitOnError = false, softwareFlow = false;
  std::string stationId, fileExt;
  int dialLimit = 3;
};

// The values the component reads while a session runs (any thread).
struct TFxSessionValues {
  std::atomic<int> progress{0};
  std::atomic<int> hangupReason{0};
  std::atomic<int> connectBps{0};
  std::atomic<bool> connectFine{false}, connectWide{false}, connectEcm{false};
  std::atomic<int> currentPage{0};
  std::atomic<int> totalPages{0};
  std::atomic<long> pageLength{0};
  std::atomic<long> bytesSent{0};
  std::atomic<long> bytesReceived{0};  // page data of the page being received
  std::atomic<int> dialAttempt{0};
  std::atomic<bool> active{false};
  std::atomic<long> connectStartMs{-1}, connectEndMs{-1};
};

// What the session core offers its machine.
class TFxSessionCore {
 public:
  virtual TFxAbstractFax& Fax() = 0;
  virtual TFxComPort& Port() = 0;
  virtual TFxPosixDispatcher& Disp() = 0;
  virtual const TFxSessionSettings& Settings() const = 0;
  virtual TFxSessionValues& Values() = 0;
  virtual TFaxClass FaxClass() const = 0;
  // Filled by the component during fmNextFax / fmName.
  virtual const std::string& PhoneNumber() const = 0;
  virtual const std::string& FaxFileName() const = 0;
  virtual const std::string& CoverFileName() const = 0;
  virtual const std::string& ReceiveFileName() const = 0;

  // A message to the component, run on the host thread.
  virtual int Notify(TFaxMessage msg, int wParam) = 0;
  // The status message: kind 1 first, 2 last, 0 other.
  virtual void Status(int kind = 0) = 0;
  // A status goes out with the next pass.
  virtual void StatusDue() = 0;
  virtual bool FirstStatusSent() const = 0;
  virtual void ResetFirstStatus() = 0;
  virtual void SetProgress(int p) = 0;
  // Reports the error and puts the machine into its abort state.
  virtual void Fail(int code) = 0;
  virtual int LastError() const = 0;
  // Reports an error that ends the entry but not the session.
  virtual void ReportError(int code) = 0;
  // A disconnect the remote asked for at the end is no error.
  virtual void ClearError() = 0;
  virtual bool Cancelled() const = 0;
  // Sends fmFinish; the machine has ended.
  virtual void Finish() = 0;
  virtual bool Finished() const = 0;
  virtual void SetRemoteId(const std::string& id) = 0;
  virtual std::string RemoteId() const = 0;

  // --- the modem ------------------------------------------------------------------------
  // A command after the command pause (100 ms), with the reply timer armed.
  virtual void SendCommand(const std::string& cmd) = 0;
  // Writes what the ring takes; a ring that stays full ends the call.
  // During a pause the bytes wait their turn.
  virtual void WriteRaw(const void* data, size_t n) = 0;
  // The session writes nothing for ms: what the handler writes after this
  // goes out once the pause is over, and the state it set goes on then, as
  // if the handler had only just returned. No thread waits meanwhile, and a
  // cancel ends the pause at once. Reply timers armed during a pause start
  // when it is over.
  virtual void Pause(unsigned ms) = 0;
  // A pause until the output ring is empty, at most maxMs.
  virtual void PauseUntilSent(unsigned maxMs) = 0;
  // Drops unread input; during a pause in its turn.
  virtual void PurgeInput() = 0;
  // Reads modem bytes into the reply line; true when a line is complete.
  virtual bool ReadLine() = 0;
  virtual const std::string& ReplyLine() const = 0;
  virtual void ClearReply() = 0;
  // A command during the preparation, waiting for its reply (dispatch held).
  virtual bool PrepCommand(const std::string& cmd, std::string* reply = nullptr) = 0;
  virtual void ArmReply(int32_t ticks) = 0;
  virtual void DisarmReply() = 0;
  virtual void ArmOutFree(uint32_t bytes) = 0;
  virtual void ArmOutUsed(uint32_t bytes) = 0;
  // Page data may sit in the output ring (a hang-up drops it).
  virtual void SetPageDataFlowing(bool flowing) = 0;
  // Hangs up across passes: false while the hang-up is under way (the state
  // that asked is entered again, with a reply-timer event, once it is over),
  // true when it is done. Unsent page data is dropped first.
  virtual bool HangUp(THangupKind kind) = 0;
  virtual bool HangupIdle() const = 0;
  virtual void SwitchToNormalBaud() = 0;
  // The Class 2 session-parameter report; the negotiated values become the
  // session's connect values.
  virtual void TakeSessionParams(const std::string& line) = 0;
  // The negotiated session parameters (Class 1 machines fill them in too).
  virtual TFxClass2Params& Negotiated() = 0;

 protected:
  ~TFxSessionCore() = default;
};

// What the core asks of its machine.
class TFxMachine {
 public:
  virtual ~TFxMachine() = default;
  // The machine's part of the preparation (starter thread, dispatch held).
  virtual int Prepare() { return 0; }
  // Enters the first state.
  virtual void Begin() = 0;
  virtual void Step(TFxEvent ev) = 0;
  // Enters the state that ends the call after an error.
  virtual void EnterAbort() = 0;
  // The pass goes on at once (true), or waits for its trigger even with
  // input waiting (WaitsForTrigger).
  virtual bool RunsAtOnce() const = 0;
  virtual bool WaitsForTrigger() const = 0;
  // The state's number and name in the session log.
  virtual uint8_t LogNumber() const = 0;
  virtual const char* StateName() const = 0;
};

// How a pass goes on after a state's handler.
enum class TFxPass : uint8_t {
  fpInput,    // again while input waits, else for the next trigger
  fpAtOnce,   // again at once
  fpTrigger,  // only for the next trigger
};

// One row of a machine's state table.
template <class M, class S>
struct TFxStateRow {
  S state;
  const char* name;
  void (M::*handler)(TFxEvent);
  uint8_t log;
  TFxPass pass;
};

// True when row i of a table is state i: the table is indexed by state.
template <class Row, size_t N>
constexpr bool FxTableIndexedByState(const std::array<Row, N>& table) {
  for (size_t i = 0; i < N; ++i)
    if (static_cast<size_t>(table[i].state) != i) return false;
  return true;
}

// A machine that runs on its state table; M derives from it and has a
// static table kStates.
template <class M, class S>
class TFxTableMachine : public TFxMachine {
 public:
  S State() const { return state_; }
  uint8_t LogNumber() const override { return Row().log; }
  const char* StateName() const override { return Row().name; }
  bool RunsAtOnce() const override { return Row().pass == TFxPass::fpAtOnce; }
  bool WaitsForTrigger() const override { return Row().pass == TFxPass::fpTrigger; }
  void Step(TFxEvent ev) override { (static_cast<M*>(this)->*Row().handler)(ev); }

 protected:
  const TFxStateRow<M, S>& Row() const { return M::kStates[static_cast<size_t>(state_)]; }
  S state_{};
};
