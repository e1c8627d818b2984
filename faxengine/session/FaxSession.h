#pragma once
// The session record of one fax component and the two state machines that
// run on it. The machines run on the dispatcher thread as trigger handlers
// (the preparation and the first pass on a starter thread of the session's
// own), one pass at a time under the session lock. The host thread only
// starts a session and asks for a cancel; neither waits for the modem.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "faxengine/class1/Frames.h"
#include "faxengine/class1/Receive1.h"
#include "faxengine/class2/Class2Parse.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/Hangup.h"
#include "faximage/Apf.h"
#include "faximage/TextRasterizer.h"

enum class TSendState : uint8_t {
  tfNone, tfGetEntry, tfInit, tf1Init1, tf2Init1, tf2Init1A, tf2Init1B, tf2Init2, tf2Init3, tfDial, tfRetryWait,
  tf1Connect, tf1SendTSI, tf1TSIResponse, tf1DCSResponse, tf1TrainStart, tf1TrainFinish, tf1WaitCFR, tf1WaitPgCn,
  tf2Connect, tf2GetParams, tfWaitXon, tfWaitFrHead, tfSndPgeHdr, tfOpenCover, tfSendCover, tfPrepPage, tfSendPage,
  tfDrainPage, tf1PageEnd, tf1PrepEOP, tf1SendEOP, tf1WaitMPS, tf1WaitEOP, tf1WaitMCF, tf1SendDCN, tf1Hangup,
  tf1WaitHngp, tf2SendEOP, tf2WaitFPTS, tf2WaitFET, tf2WaitPgOK, tf2SndNwPrm, tf2NextPage, tf20ChckPg, tfClose,
  tfCompleteOK, tfAbort, tfDone
};

enum class TReceiveState : uint8_t {
  rfNone, rfInit, rf1Init1, rf2Init1, rf2Init1A, rf2Init1B, rf2Init2, rf2Init3, rfWaiting, rfAnswer,
  rf1SendCSI, rf1SendDIS, rf1CollFrames, rf1CollRtry1, rf1CollRtry2, rf1StartTrain, rf1CollTrn, rf1Timeout,
  rf1Retrain, rf1FinishTrain, rf1SendCFR, rf1WtPgCnnct, rf2ValCnnct, rf2GtSndID, rf2GtCnnct, rfStartPage,
  rfGtPgDta, rf1FinPage, rf1WaitEOP, rf1WritePage, rf1SendMCF, rf1WaitDCN, rf1WtHngp, rf2GtPgRslt, rf2GetFHNG,
  rfComplete, rfAbort, rfDone
};

const char* SendStateName(TSendState s);
const char* ReceiveStateName(TReceiveState s);

// Line-buffered output of a received file with page completion and cut-back.
class TFxReceivedFile {
 public:
  ~TFxReceivedFile() { Close(); }
  int Create(const std::string& name, const std::string& stationId);
  bool IsOpen() const { return fd_ >= 0; }
  int StartPage(uint16_t flags);
  int Write(const uint8_t* data, size_t n);
  int CompletePage(const std::string& stationId);
  int CutBackPage();
  void Close();
  bool InPage() const { return inPage_; }

 private:
  int WriteAt(uint64_t at, const void* data, size_t n);
  int fd_ = -1;
  uint64_t pageStart_ = 0;
  uint64_t end_ = 0;
  uint16_t pages_ = 0;
  uint16_t pageFlags_ = 0;
  bool inPage_ = false;
};

class TFaxSession : public std::enable_shared_from_this<TFaxSession> {
 public:
  enum class TEvent { evRun, evData, evReplyTimer, evStatusTimer, evOutFree, evOutUsed, evAbort };

  TFaxSession(TFxAbstractFax& fax, bool send);
  ~TFaxSession();

  // Starts the session on the host thread: the triggers, then a thread of
  // its own for the preparation and the first pass (Begin). Returns at once.
  void Start();
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
  bool Finished() const { return finished_.load(); }
  // True while the session's port is open and its dispatcher running, so
  // that its machine can still get to the end. Host thread.
  bool OnOpenPort() const { return disp_ && !disp_->Stopping() && port_.Dispatcher() == disp_; }
  // AT+FCLASS=? on the open port (trigger delivery held).
  TFaxClassSet QueryClasses(bool initFirst);

  // Values the component reads.
  std::atomic<int> progress{0};
  std::atomic<int> hangupReason{0};
  std::atomic<int> connectBps{0};
  std::atomic<bool> connectFine{false}, connectWide{false}, connectEcm{false};
  std::atomic<int> currentPage{0};
  std::atomic<int> totalPages{0};
  std::atomic<long> pageLength{0};
  std::atomic<long> bytesSent{0};
  std::atomic<int> dialAttempt{0};
  std::atomic<bool> active{false};
  std::atomic<long> connectStartMs{-1}, connectEndMs{-1};
  std::string RemoteId() const;

  // Filled by the component on the host thread during fmNextFax / fmName.
  std::string phoneNumber, faxFileName, coverFileName;
  std::string receiveFileName;

 private:
  friend class TFxAbstractFax;
  // --- shared -----------------------------------------------------------------
  int Notify(TFaxMessage msg, int wParam);
  // Runs a message on the host thread, unless the component has gone.
  int Deliver(TFaxMessage msg, int wParam);
  // True when a wait for the host must end: a cancel, a stopping port, a
  // host shutting down.
  bool HostCallStops() const;
  // The preparation and the first pass, on the starter thread.
  void Begin();
  void JoinStarter();
  void Status(int kind = 0);
  void SetProgress(int p);
  // A Class 2 session-parameter report: the negotiated values become the
  // session's connect values.
  void TakeSessionParams(const std::string& line);
  void Fail(int code);
  void Finish();
  void SendCommand(const std::string& cmd);
  void WriteRaw(const void* data, size_t n);
  bool ReadLine();
  void ArmReply(int32_t ticks);
  void DisarmReply();
  void ArmOutFree(uint32_t bytes);
  void ArmOutUsed(uint32_t bytes);
  bool PrepCommand(const std::string& cmd, std::string* reply = nullptr);
  int Prepare();
  bool DetectClass();
  void SwitchToNormalBaud();
  bool IsClass20() const { return faxClass_ == TFaxClass::fcClass2_0; }
  void LogPass();
  void RunMachine(TEvent ev);
  // Hangs up across passes: false while the hang-up is under way (the state
  // that asked is entered again, with a reply-timer event, once it is over),
  // true when it is done. Unsent page data is dropped first.
  bool HangUp(THangupKind kind);
  // Runs the plan's steps up to the next pause.
  void RunHangup();
  // Reads what the modem said during a hang-up; true at its final reply.
  bool HangupReplyArrived();
  bool RunsAtOnce() const;
  bool WaitsForTrigger() const;
  long NowMs() const;

  // --- send -------------------------------------------------------------------
  void SendStep(TEvent ev);
  void SendLine(const std::string& line);
  bool OpenFaxFile();
  int ReadPageHeader(unsigned page);
  void SendHeaderLine();
  void SendCoverLines();
  void SendPageData();
  bool MorePages() const;
  void AdvancePage();
  void BusyHandling();
  // A Class 2.0 set-up command by its step (false when there is none).
  bool SendSetupCommand(size_t step);
  void QueueZeros(size_t target);
  void QueueData(const uint8_t* data, size_t n, bool escape);
  void FlushData();
  void CloseEntryFiles();
  // Positions on the page last sent again, for a resend.
  void RewindToSentPage();

  // --- receive ------------------------------------------------------------------
  void ReceiveStep(TEvent ev);
  void ReceiveLine(const std::string& line);
  void ReceivePageData();
  int CreateReceivedFile();
  // Class 1 receive states (faxengine/class1/ReceiveMachine1.cpp).
  void ReceiveStep1(TEvent ev);
  void ReceiveLine1(const std::string& line);
  void ReceiveFrame1(const TFxFrame& f);
  void AcceptFrame1(const TFxFrame& f);
  void ReceiveTimer1();
  void ReceiveRetry1();
  void ReceiveTraining1();
  void WritePage1();
  void RefuseTraining();
  void StartFrameReception(int32_t ticks);
  void StopClass1Reception();

  TFxAbstractFax& fax_;
  TFxComPort& port_;
  TFxPosixDispatcher* disp_ = nullptr;
  THostExecutor* executor_ = nullptr;
  bool send_;
  std::recursive_mutex mutex_;
  std::atomic<bool> abortRequested_{false};
  THandlerId handler_ = 0;
  int replyTimer_ = 0, statusTimer_ = 0, wakeTimer_ = 0, outFree_ = 0, outUsed_ = 0, modemStatus_ = 0;
  std::thread starter_;
  std::atomic<bool> detached_{false};
  std::shared_ptr<THostCall> lastStatusCall_;
  enum class THangupState : uint8_t { hsIdle, hsRunning, hsDone };
  THangupState hangupState_ = THangupState::hsIdle;
  THangupKind hangupKind_ = THangupKind::hkSend;
  std::vector<THangupStep> hangupPlan_;
  size_t hangupNext_ = 0;
  bool hangupAwait_ = false;  // the current step's pause ends at the modem's final reply
  // Class 1 send: the pause before the post-page message is running.
  bool postPagePause_ = false;
  // A write found the output ring stalled (WriteRaw); reported once.
  bool writeStalled_ = false, writeFailed_ = false;
  bool statusPending_ = false;
  bool firstStatusSent_ = false;
  std::atomic<bool> finished_{false};
  bool cancelled_ = false;
  int lastError_ = 0;
  TFaxClass faxClass_ = TFaxClass::fcClass2;
  TFxClass2Commands cmds_;
  TFxReplyCollector reply_;
  std::string remoteId_;
  mutable std::mutex remoteMutex_;
  std::chrono::steady_clock::time_point started_;
  static std::atomic<bool> initDone_;

  // Settings copied at start.
  int statusInterval_ = 1;
  int desiredBps_ = 9600;
  bool desiredEcm_ = false;
  bool abortNoConnect_ = false, exitOnError_ = false, softwareFlow_ = false;
  std::string stationId_, fileExt_;

  // Send entry.
  TSendState sstate_ = TSendState::tfNone;
  TFxApfReader file_;
  bool haveFile_ = false;
  bool haveCover_ = false, coverIsApf_ = false, coverPending_ = false, sendingCover_ = false;
  TFxApfReader coverApf_;
  std::vector<std::string> coverLines_;
  size_t coverLine_ = 0;
  TFxTextConverter coverConv_;
  int filePages_ = 0;
  int pageNo_ = 1;                // current page of the fax file
  ApfPageHeader page_;
  uint64_t pageData_ = 0;         // offset of the page's data
  uint64_t pageDone_ = 0;         // bytes of the page read so far
  bool nextFine_ = false;
  bool resolutionChanges_ = false;
  bool morePages_ = false;
  int resendCount_ = 0;
  int dialAttempts_ = 0;
  int dialLimit_ = 3;
  TFxClass2Params local_, remote_, session_;
  bool remoteFine_ = true, remoteWide_ = false;
  std::vector<uint8_t> outBuf_;   // escaped data not yet in the output ring
  size_t outBufPos_ = 0;
  TFxApfReader* src_ = nullptr;   // the file the current page comes from
  bool curFine_ = false;
  int sentPageNo_ = 1;            // the page last sent, for a resend
  bool sentCover_ = false;
  bool rejected_ = false;
  bool pageDataFlowing_ = false;  // page data may sit in the output ring
  unsigned minLineBytes_ = 0;
  std::chrono::steady_clock::time_point lastStatusAt_;

  // Receive.
  TReceiveState rstate_ = TReceiveState::rfNone;
  TFxClass1Receive rx1_;
  TFxFrame rx1Frame_;             // the frame waiting for the modem's OK
  bool rx1FramePending_ = false;
  int rings_ = 0;
  TFxReceivedFile rxFile_;
  bool newFileDue_ = false;
  bool pageHeaderDue_ = true;
  int postPage_ = 0;
  bool rxDle_ = false;
  bool rxFirst_ = false;  // the next page byte is the first after CONNECT
  std::vector<uint8_t> rxBuf_;

  // --- Class 1 (both machines) -------------------------------------------------------
  // AT+FCLASS=1 and the speed query; the local speeds end up in c1_.
  int PrepareClass1();
  bool IsClass1() const { return faxClass_ == TFaxClass::fcClass1; }
  // A command with the short pause of the frame and modulation commands.
  void SendCommand1(const std::string& cmd);
  // Writes a frame (after CONNECT to AT+FTH=3) and restarts the reply timer.
  void SendFrame1(TFxFcf fcf, bool final, const std::vector<uint8_t>& fif = {});
  // Reads modem bytes through the frame collector; true when a line is complete.
  bool ReadLine1();
  // Class 1 send states.
  void SendStep1(TEvent ev);
  void SendLine1(const std::string& line);
  void SendTimeout1();
  bool TakeDis1(const TFxFrame& frame);
  // Moves to the next lower speed both ends have; false when there is none
  // (the call is then being ended).
  bool LowerSpeed1();
  // A new DCS and training at the next lower speed.
  void StepDown1();
  // After EOM the receiver sends its CSI and DIS again: collect them, then
  // TSI, DCS and a new training follow.
  void ReturnToPhaseB1();
  // Sends DCN and hangs up, then ends the session with code.
  void Disconnect1(int code);
  // Fails with the error a disconnect is already reporting, else with code.
  void Fail1(int code);
  TFxClass1Session c1_;
};
