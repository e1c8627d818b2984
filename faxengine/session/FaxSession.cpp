#include "faxengine/session/FaxSession.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "faxengine/class1/ReceiveMachine1.h"
#include "faxengine/class1/SendMachine1.h"
#include "faxengine/class2/ReceiveMachine2.h"
#include "faxengine/class2/SendMachine2.h"
#include "faxengine/port/DispatchLog.h"
#include "faxengine/session/FxExceptions.h"

namespace {
constexpr int32_t kReplyWait = 182;
constexpr unsigned kCommandPauseMs = 100;
constexpr const char* kDefaultInit = "ATE0V1Q0";
// How long a write may wait for room in the output ring.
constexpr auto kWriteStallLimit = std::chrono::seconds(5);

template <class Table>
const char* FindLogName(const Table& table, uint8_t number) {
  for (const auto& row : table)
    if (row.log == number) return row.name;
  return nullptr;
}

// Installs the dispatch log's texts for the fax state subtypes once.
void InstallStateTexts() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetFaxStateTextProvider([](uint8_t sub) -> std::string {
      const std::string name = FxStateLogName(sub);
      return name.empty() ? std::to_string(sub) : name;
    });
  });
}
}  // namespace

std::string FxStateLogName(uint8_t number) {
  for (const char* name : {FindLogName(TFxSendMachine1::kStates, number), FindLogName(TFxSendMachine2::kStates, number),
                           FindLogName(TFxReceiveMachine1::kStates, number),
                           FindLogName(TFxReceiveMachine2::kStates, number)})
    if (name) return name;
  return {};
}

// --- session ------------------------------------------------------------------------

TFaxSession::TFaxSession(TFxAbstractFax& fax, bool send)
    : fax_(fax), port_(*fax.ComPort()), disp_(fax.ComPort()->Dispatcher()), executor_(fax.ComPort()->HostExecutor()),
      send_(send),
      paced_({[this](const void* data, size_t n) { WriteNow(data, n); },
              [this] {
                if (disp_) disp_->PurgeInput();
              },
              [this] { return disp_ ? disp_->OutputUsed() : size_t{0}; },
              [this](std::chrono::milliseconds ms) {
                if (disp_ && pauseTimer_ > 0) disp_->ArmTimerTriggerMs(pauseTimer_, ms);
              }}) {
  InstallStateTexts();
  settings_.statusInterval = std::max<int>(1, fax.StatusInterval);
  settings_.desiredBps = fax.DesiredBPS;
  settings_.desiredEcm = fax.DesiredECM;
  settings_.abortNoConnect = fax.AbortNoConnect;
  settings_.exitOnError = fax.ExitOnError;
  settings_.softwareFlow = fax.SoftwareFlow;
  settings_.stationId = fax.StationID();
  for (char& c : settings_.stationId) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  settings_.fileExt = fax.FaxFileExt;
  faxClass_ = fax.FaxClass;
  if (auto* s = dynamic_cast<TFxSendFax*>(&fax)) settings_.dialLimit = s->DialAttempts;
}

TFaxSession::~TFaxSession() { JoinStarter(); }

std::string TFaxSession::RemoteId() const {
  std::lock_guard lock(remoteMutex_);
  return remoteId_;
}

void TFaxSession::SetRemoteId(const std::string& id) {
  std::lock_guard lock(remoteMutex_);
  remoteId_ = id;
}

long TFaxSession::NowMs() const {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

int TFaxSession::Deliver(TFaxMessage msg, int wParam) {
  if (detached_) return 0;
  return fax_.HandleMessage(msg, wParam);
}

bool TFaxSession::HostCallStops() const {
  return abortRequested_.load() || detached_.load() || (executor_ && executor_->Terminating()) ||
         (disp_ && disp_->Stopping());
}

int TFaxSession::Notify(TFaxMessage msg, int wParam) {
  if (!executor_ || executor_->IsHostThread()) return Deliver(msg, wParam);
  auto self = shared_from_this();
  auto call = executor_->Call([self, msg, wParam] { return self->Deliver(msg, wParam); });
  // The next entry, the received file's name and the acceptance of a call
  // are answers the machine goes on with: a handler that takes long (a slow
  // disk, a modal box) is waited for, since answering "no" in its place would
  // end a send or refuse a fax the user meant to take. A cancel, a stopping
  // port or a host that is shutting down still ends the wait; the machine
  // then ends the call and drops the answer, which lands in the shared record.
  // Every other message is news the machine does not wait on for long: it
  // gives the host a second to keep in step, then goes on; the event still
  // runs, in order, whenever the host gets to it.
  const bool needsAnswer =
      msg == TFaxMessage::fmNextFax || msg == TFaxMessage::fmName || msg == TFaxMessage::fmAccept;
  const auto stop = [this] { return HostCallStops(); };
  if (!needsAnswer) {
    if (msg == TFaxMessage::fmStatus) lastStatusCall_ = call;
    call->Wait(std::chrono::milliseconds(1000), stop);
    return call->Result();
  }
  while (!call->Wait(std::chrono::hours(1), stop)) {
    if (HostCallStops()) {
      call->Drop();
      return 0;
    }
  }
  return call->Result();
}

void TFaxSession::Status(int kind) {
  statusPending_ = false;
  if (!firstStatusSent_ && kind != 2) kind = 1;
  // A host still busy with the last status gets no second one meanwhile;
  // the first and the last always go out.
  if (kind == 0 && lastStatusCall_ && !lastStatusCall_->Done()) return;
  firstStatusSent_ = true;
  Notify(TFaxMessage::fmStatus, kind);
}

void TFaxSession::TakeSessionParams(const std::string& line) {
  if (!FxParseParams(line, negotiated_)) return Fail(fxcode::ecFaxBadModemResult);
  connectBps = negotiated_.bps;
  connectFine = negotiated_.fine;
  connectWide = negotiated_.wide;
  connectEcm = negotiated_.ecm;
  SetProgress(fxprogress::fpSessionParams);
}

void TFaxSession::SetProgress(int p) {
  progress = p;
  if ((p == fxprogress::fpSessionParams || p == fxprogress::fpGotRemoteID) && connectStartMs < 0)
    connectStartMs = NowMs();
  if ((p == fxprogress::fpGotHangup || p == fxprogress::fpCancel || p == fxprogress::fpFinished) &&
      connectStartMs >= 0 && connectEndMs < 0)
    connectEndMs = NowMs();
  statusPending_ = true;
}

void TFaxSession::Fail(int code) {
  if (std::getenv("CVFAX_TRACE"))
    std::fprintf(stderr, "[%s] error %d\n", machine_ ? machine_->StateName() : "-", code);
  lastError_ = code;
  Notify(TFaxMessage::fmError, code);
  if (machine_) machine_->EnterAbort();
}

void TFaxSession::Finish() {
  if (finished_) return;
  finished_ = true;
  active = false;
  DropPause();
  if (connectStartMs >= 0 && connectEndMs < 0) connectEndMs = NowMs();
  DisarmReply();
  if (disp_) disp_->ArmTimerTrigger(statusTimer_, 0, false);
  const int code = lastError_;
  auto self = shared_from_this();
  if (executor_)
    executor_->Post([self, code] { self->Deliver(TFaxMessage::fmFinish, code); });
  else
    Deliver(TFaxMessage::fmFinish, code);
}

void TFaxSession::WriteNow(const void* data, size_t n) {
  if (!disp_) return;
  const auto* p = static_cast<const uint8_t*>(data);
  // Commands and page data are sized to fit, and a ring that is being
  // drained makes room within milliseconds; one that makes none for seconds
  // means the modem has stopped taking data (flow control held, a dead
  // line). What is stuck is dropped, so that the hang-up can still go out
  // should the line come back, and the call ends with a time-out at the end
  // of this pass.
  const auto deadline = std::chrono::steady_clock::now() + kWriteStallLimit;
  while (n > 0) {
    const size_t k = std::min(disp_->OutputFree(), n);
    if (k > 0 && disp_->WriteBlock(p, k) == 0) {
      p += k;
      n -= k;
      continue;
    }
    // A cancel does not wait for the ring: the call ends anyway.
    const bool cancel = abortRequested_ && hangupState_ != THangupState::hsRunning;
    if (cancel || std::chrono::steady_clock::now() >= deadline || disp_->Stopping()) {
      disp_->PurgeOutput();
      pageDataFlowing_ = false;
      writeStalled_ = !cancel;
      return;
    }
    DelayMs(10);
  }
}

void TFaxSession::SendCommand(const std::string& cmd) {
  // A modem takes the next command only after a pause since its last reply.
  Pause(kCommandPauseMs);
  const std::string line = cmd + "\r";
  WriteRaw(line.data(), line.size());
  reply_.Clear();
  ArmReply(kReplyWait);
}

bool TFaxSession::ReadLine() {
  uint8_t b = 0;
  while (disp_ && disp_->ReadChar(b))
    if (reply_.Feed(b)) return true;
  return false;
}

void TFaxSession::ArmReply(int32_t ticks) {
  // The wait for a reply starts once the command is out.
  if (paced_.Busy()) {
    deferredReply_ = std::max<int32_t>(ticks, 1);
    return;
  }
  if (disp_ && replyTimer_ > 0) disp_->ArmTimerTrigger(replyTimer_, ticks, true);
}
void TFaxSession::DisarmReply() {
  if (paced_.Busy()) deferredReply_ = 0;
  heldReply_ = false;
  if (disp_ && replyTimer_ > 0) disp_->ArmTimerTrigger(replyTimer_, 0, false);
}

void TFaxSession::DropPause() {
  paced_.Drop();
  deferredReply_ = -1;
  heldReply_ = heldOutFree_ = heldOutUsed_ = false;
  if (disp_ && pauseTimer_ > 0) disp_->ArmTimerTrigger(pauseTimer_, 0, false);
}

void TFaxSession::HoldDuringPause(TEvent ev) {
  switch (ev) {
    case TEvent::evStatusTimer:
      Status(0);
      disp_->ArmTimerTrigger(statusTimer_, SecsToTicks(settings_.statusInterval), true);
      break;
    case TEvent::evReplyTimer: heldReply_ = true; break;
    case TEvent::evOutFree: heldOutFree_ = true; break;
    case TEvent::evOutUsed: heldOutUsed_ = true; break;
    default: break;  // input stays in the ring; a cancel is taken before this
  }
}

void TFaxSession::PausedStepsDue() {
  std::lock_guard lock(mutex_);
  if (finished_ || !disp_ || !machine_) return;
  if (abortRequested_ && hangupState_ != THangupState::hsRunning) return RunMachine(TEvent::evAbort);
  if (!paced_.Run()) return;
  const bool rearmed = deferredReply_ >= 0;
  if (deferredReply_ > 0) disp_->ArmTimerTrigger(replyTimer_, deferredReply_, true);
  deferredReply_ = -1;
  // A hang-up goes on with its own timer.
  if (hangupState_ == THangupState::hsRunning) {
    heldReply_ = heldOutFree_ = heldOutUsed_ = false;
    DropInput();
    return;
  }
  // What came during the pause reaches the state the handler set, as it
  // would have, had the handler only now returned.
  TEvent ev = TEvent::evRun;
  bool resume = true;
  if (heldReply_ && !rearmed) {
    ev = TEvent::evReplyTimer;
    resume = false;
  } else if (heldOutFree_) {
    ev = TEvent::evOutFree;
    resume = false;
  } else if (heldOutUsed_) {
    ev = TEvent::evOutUsed;
    resume = false;
  } else if (!machine_->RunsAtOnce() && disp_->InputCount() > 0) {
    ev = TEvent::evData;
    resume = false;
  }
  heldReply_ = heldOutFree_ = heldOutUsed_ = false;
  RunMachine(ev, resume);
}
void TFaxSession::ArmOutFree(uint32_t bytes) {
  if (disp_ && outFree_ > 0) disp_->ArmStatusTrigger(outFree_, bytes, true);
}
void TFaxSession::ArmOutUsed(uint32_t bytes) {
  if (disp_ && outUsed_ > 0) disp_->ArmStatusTrigger(outUsed_, bytes, true);
}

bool TFaxSession::PrepCommand(const std::string& cmd, std::string* reply) {
  const std::string line = cmd + "\r";
  WriteNow(line.data(), line.size());
  if (writeStalled_ || abortRequested_) return false;
  TFxReplyCollector collector;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWait * kMsPerTick);
  bool gotLine = false;
  bool ok = false;
  bool done = false;
  while (!done && std::chrono::steady_clock::now() < deadline && !abortRequested_) {
    if (!disp_->WaitForInput(std::chrono::milliseconds(50))) continue;
    uint8_t b = 0;
    while (!done && disp_->ReadChar(b)) {
      if (!collector.Feed(b)) continue;
      const std::string& l = collector.Line();
      if (l == cmd) continue;  // echo
      if (FxHas(l, "ERROR")) {
        done = true;
      } else if (FxHas(l, "OK")) {
        ok = done = true;
      } else if (gotLine) {
        ok = done = true;
      } else {
        gotLine = true;
        if (reply) *reply = l;
      }
    }
  }
  if (!done && gotLine) ok = false;
  // What the modem still says shortly after its final reply belongs to this
  // command, not to the next.
  const auto quiet = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  uint8_t b = 0;
  while (!abortRequested_) {
    while (disp_->ReadChar(b)) {
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= quiet) break;
    (void)disp_->WaitForInput(std::chrono::duration_cast<std::chrono::milliseconds>(quiet - now) +
                              std::chrono::milliseconds(1));
  }
  while (disp_->ReadChar(b)) {
  }
  return ok;
}

TFaxClassSet TFaxSession::QueryClasses(bool initFirst) {
  TFaxClassSet set;
  if (!disp_) return set;
  const bool held = disp_->HoldDispatch(true);
  bool ready = true;
  if (initFirst) ready = PrepCommand(kDefaultInit) || PrepCommand(kDefaultInit);
  std::string reply;
  if (ready && PrepCommand("AT+FCLASS=?", &reply)) {
    // The reply lists the classes, e.g. "0,1,2,2.0" or "(0,1,2,2.0)".
    std::string token;
    auto take = [&] {
      if (token == "1") set.insert(TFaxClass::fcClass1);
      if (token == "2") set.insert(TFaxClass::fcClass2);
      if (token == "2.0") set.insert(TFaxClass::fcClass2_0);
      token.clear();
    };
    for (char c : reply) {
      if (c == ',' || c == '(' || c == ')' || c == ' ')
        take();
      else
        token += c;
    }
    take();
  }
  disp_->HoldDispatch(held);
  return set;
}

bool TFaxSession::DetectClass() {
  const TFaxClassSet set = QueryClasses(true);
  if (set.count(TFaxClass::fcClass2_0))
    faxClass_ = TFaxClass::fcClass2_0;
  else if (set.count(TFaxClass::fcClass2))
    faxClass_ = TFaxClass::fcClass2;
  else if (set.count(TFaxClass::fcClass1))
    faxClass_ = TFaxClass::fcClass1;
  else
    return false;
  return true;
}

void TFaxSession::SwitchToNormalBaud() {
  if (fax_.NormalBaud > 0 && port_.Baud() != fax_.NormalBaud) port_.SetBaud(fax_.NormalBaud);
}

int TFaxSession::Prepare() {
  if (fax_.InitBaud > 0) port_.SetBaud(fax_.InitBaud);
  const bool held = disp_->HoldDispatch(true);
  int rc = 0;
  if (faxClass_ == TFaxClass::fcDetect || faxClass_ == TFaxClass::fcUnknown) {
    if (!DetectClass()) rc = fxcode::ecFaxBadModemResult;
  }
  if (rc == 0) {
    TFxSessionCore& core = *this;
    if (faxClass_ == TFaxClass::fcClass1)
      machine_ = send_ ? FxNewSendMachine1(core) : FxNewReceiveMachine1(core);
    else
      machine_ = send_ ? FxNewSendMachine2(core) : FxNewReceiveMachine2(core);
  }
  if (rc == 0 && !fax_.ModemInit().empty() && !PrepCommand(fax_.ModemInit())) rc = fxcode::ecFaxBadModemResult;
  if (rc == 0 && !PrepCommand(kDefaultInit)) rc = fxcode::ecFaxBadModemResult;
  if (rc == 0) rc = machine_->Prepare();
  disp_->HoldDispatch(held);
  if (writeStalled_) rc = fxcode::ecTimeout;
  if (abortRequested_) rc = fxcode::ecCancelRequested;
  return rc;
}

void TFaxSession::Start(std::function<int()> first) {
  first_ = std::move(first);
  if (!port_.Open()) port_.SetOpen(true);
  disp_ = port_.Dispatcher();
  executor_ = port_.HostExecutor();
  if (!disp_) {
    lastError_ = fxcode::ecInternal;
    Notify(TFaxMessage::fmError, lastError_);
    Finish();
    return;
  }
  int rc = disp_->SetAvailThreshold(1);
  replyTimer_ = disp_->NewTimerTrigger();
  statusTimer_ = disp_->NewTimerTrigger();
  wakeTimer_ = disp_->NewTimerTrigger();
  pauseTimer_ = disp_->NewTimerTrigger();
  outFree_ = disp_->NewStatusTrigger(static_cast<unsigned>(TStatusKind::skOutBuffFree));
  outUsed_ = disp_->NewStatusTrigger(static_cast<unsigned>(TStatusKind::skOutBuffUsed));
  modemStatus_ = disp_->NewStatusTrigger(static_cast<unsigned>(TStatusKind::skModemStatus));
  if (rc < 0 || replyTimer_ < 0 || statusTimer_ < 0 || wakeTimer_ < 0 || pauseTimer_ < 0 || outFree_ < 0 || outUsed_ < 0 ||
      modemStatus_ < 0) {
    lastError_ = fxcode::ecNoMoreTriggers;
    Notify(TFaxMessage::fmError, lastError_);
    Status(2);
    Finish();
    return;
  }
  disp_->SetDataPointer(this, 2);
  // The preparation waits for the modem's replies and the first pass may
  // wait for the host's answers: neither may hold the thread that starts the
  // session, which in the program is the window's.
  auto self = shared_from_this();
  starter_ = std::thread([self] { self->Begin(); });
}

void TFaxSession::Begin() {
  std::lock_guard lock(mutex_);
  int rc = 0;
  if (first_) rc = first_();
  if (rc >= 0) rc = Prepare();
  if (rc < 0) {
    if (rc == fxcode::ecCancelRequested) {
      cancelled_ = true;
      SetProgress(fxprogress::fpCancel);
    }
    lastError_ = rc;
    Notify(TFaxMessage::fmError, rc);
    Status(2);
    Finish();
    return;
  }
  active = true;
  auto self = shared_from_this();
  handler_ = disp_->AddMethodHandler([self](uint16_t msg, uint16_t wParam, uint32_t) { self->OnTrigger(msg, wParam); });
  machine_->Begin();
  RunMachine(TEvent::evRun);
  if (!finished_) disp_->ArmTimerTrigger(statusTimer_, SecsToTicks(settings_.statusInterval), true);
}

void TFaxSession::JoinStarter() {
  if (!starter_.joinable()) return;
  if (starter_.get_id() == std::this_thread::get_id())
    starter_.detach();
  else
    starter_.join();
}

void TFaxSession::Teardown() {
  // Letting go of a session that has not finished ends it: its starter
  // thread must not wait for this (host) thread meanwhile.
  if (!finished_) abortRequested_ = true;
  JoinStarter();
  std::lock_guard lock(mutex_);
  if (!disp_ || port_.Dispatcher() != disp_) {
    disp_ = nullptr;
    return;
  }
  if (handler_) disp_->RemoveMethodHandler(handler_);
  handler_ = 0;
  for (int* h : {&replyTimer_, &statusTimer_, &wakeTimer_, &pauseTimer_, &outFree_, &outUsed_, &modemStatus_}) {
    if (*h > 0) disp_->DropTrigger(*h);
    *h = 0;
  }
  void* data = nullptr;
  if (disp_->GetDataPointer(data, 2) == 0 && data == this) disp_->SetDataPointer(nullptr, 2);
  disp_ = nullptr;
}

void TFaxSession::Detach() { detached_ = true; }

void TFaxSession::Abort() {
  // Only asks: the cancel runs on the dispatcher thread like every other
  // step, so the caller (the window) is never held by the hang-up. The wake
  // timer brings a pass at once; a pass in hand takes it when it ends, a
  // host call being waited for gives up at once, a pause ends.
  abortRequested_ = true;
  if (disp_ && wakeTimer_ > 0) disp_->ArmTimerTriggerMs(wakeTimer_, std::chrono::milliseconds(0));
}

void TFaxSession::OnTrigger(uint16_t msg, uint16_t wParam) {
  TEvent ev;
  switch (static_cast<TTriggerMsg>(msg)) {
    case TTriggerMsg::tmAvail: ev = TEvent::evData; break;
    case TTriggerMsg::tmTimer:
      if (wParam == replyTimer_)
        ev = TEvent::evReplyTimer;
      else if (wParam == statusTimer_)
        ev = TEvent::evStatusTimer;
      else if (wParam == wakeTimer_)
        ev = TEvent::evAbort;
      else if (wParam == pauseTimer_)
        return PausedStepsDue();
      else
        return;
      break;
    case TTriggerMsg::tmStatus:
      if (wParam == outFree_)
        ev = TEvent::evOutFree;
      else if (wParam == outUsed_)
        ev = TEvent::evOutUsed;
      else
        return;
      break;
    default: return;
  }
  std::lock_guard lock(mutex_);
  RunMachine(ev);
}

bool TFaxSession::HangUp(THangupKind kind) {
  if (hangupState_ == THangupState::hsIdle) {
    // Unsent page data would only delay the hang-up; commands already
    // queued (AT+FKS) must still go out.
    THangupData data = THangupData::hdNone;
    if (pageDataFlowing_) {
      disp_->PurgeOutput();
      if (kind == THangupKind::hkSend) data = IsClass1() ? THangupData::hdClass1 : THangupData::hdClass2;
    }
    pageDataFlowing_ = false;
    hangupKind_ = kind;
    hangupPlan_ = HangupPlan(kind, port_.CarrierPresent(), data);
    hangupNext_ = 0;
    hangupState_ = THangupState::hsRunning;
    RunHangup();
  }
  if (hangupState_ != THangupState::hsDone) return false;
  hangupState_ = THangupState::hsIdle;
  DisarmReply();
  // A write that stalled during the hang-up belongs to the call that has
  // just ended; the next call reports its own.
  writeStalled_ = writeFailed_ = false;
  return true;
}

void TFaxSession::RunHangup() {
  using A = THangupAction;
  while (hangupNext_ < hangupPlan_.size()) {
    const THangupStep step = hangupPlan_[hangupNext_++];
    unsigned pause = step.pauseMs;
    switch (step.action) {
      case A::haPause: break;
      case A::haEndData: {
        // The purge may have cut a DLE DLE pair after its first byte; the
        // zero byte then pairs with that DLE, which modems drop, so DLE ETX
        // is always read as the end. Otherwise it is fill, harmless in a page.
        static constexpr uint8_t kEnd[3] = {0x00, 0x10, 0x03};
        WriteRaw(kEnd, sizeof kEnd);
        reply_.Clear();
        break;
      }
      case A::haEndSession: SendCommand(IsClass20() ? "AT+FKS" : "AT+FK"); break;
      case A::haEscape: WriteRaw("+++", 3); break;
      case A::haCommand: SendCommand(HangupCommand(hangupKind_)); break;
      case A::haPurgeInput: disp_->PurgeInput(); break;
      case A::haPurgeOutput: disp_->PurgeOutput(); break;
      case A::haLinesDown:
        port_.SetDTR(false);
        port_.SetRTS(false);
        break;
      case A::haLinesUp:
        port_.SetDTR(true);
        port_.SetRTS(true);
        break;
      case A::haLinesDownIfCarrier:
        if (port_.CarrierPresent()) {
          port_.SetDTR(false);
          port_.SetRTS(false);
        } else {
          pause = 0;
        }
        break;
    }
    if (pause > 0) {
      hangupAwait_ = step.untilReply;
      ArmReply(static_cast<int32_t>((pause + kMsPerTick - 1) / kMsPerTick));
      return;
    }
  }
  hangupAwait_ = false;
  hangupState_ = THangupState::hsDone;
}

bool TFaxSession::HangupReplyArrived() {
  while (ReadLine()) {
    const std::string& line = reply_.Line();
    if (FxHas(line, "OK") || FxHas(line, "ERROR") || FxHas(line, "NO CARRIER")) return true;
    reply_.Clear();
  }
  return false;
}

void TFaxSession::LogPass() {
  if (!disp_ || !disp_->Logging()) return;
  if (!machine_) return;
  disp_->AddLogEntry(TLogType::ltFax, static_cast<TLogSubtype>(machine_->LogNumber()),
                     static_cast<uint32_t>(progress.load()));
}

void TFaxSession::RunMachine(TEvent ev, bool resume) {
  std::lock_guard lock(mutex_);
  if (finished_ || !disp_ || !machine_) return;
  // Bounded: a pass that keeps finding work is still ended, and the next
  // trigger goes on with it.
  for (int pass = 0; pass < 1000; ++pass, resume = false) {
    // A cancel during a hang-up waits for its end: the call is ending anyway.
    // A pause does not: what waited behind it is not sent.
    if (hangupState_ != THangupState::hsRunning && abortRequested_.exchange(false)) {
      DropPause();
      cancelled_ = true;
      SetProgress(fxprogress::fpCancel);
      Fail(fxcode::ecCancelRequested);
      ev = TEvent::evRun;
      resume = false;
    }
    if (!resume && !StepMachine(ev)) return;
    if (finished_ || !disp_) return;
    // The handler paused: the pass goes on when the pause is over.
    if (paced_.Busy()) return;
    if (writeStalled_ && !writeFailed_) {
      writeFailed_ = true;
      DropPause();
      Fail(fxcode::ecTimeout);
      ev = TEvent::evRun;
      continue;
    }
    if (machine_->RunsAtOnce()) {
      ev = TEvent::evRun;
      continue;
    }
    if (machine_->WaitsForTrigger()) return;
    if (disp_->InputCount() > 0) {
      ev = TEvent::evData;
      continue;
    }
    return;
  }
}

bool TFaxSession::StepMachine(TEvent ev) {
  // During a pause the machine waits; the status still goes out.
  if (paced_.Busy()) {
    HoldDuringPause(ev);
    return false;
  }
  LogPass();
  if (ev == TEvent::evStatusTimer) {
    Status(0);
    disp_->ArmTimerTrigger(statusTimer_, SecsToTicks(settings_.statusInterval), true);
  } else if (statusPending_) {
    Status(0);
  }
  if (hangupState_ == THangupState::hsRunning) {
    if (ev == TEvent::evReplyTimer) {
      RunHangup();
    } else if (hangupAwait_ && HangupReplyArrived()) {
      DisarmReply();
      RunHangup();
    }
    if (hangupState_ == THangupState::hsRunning) {
      DropInput();
      return false;
    }
    ev = TEvent::evReplyTimer;
  }
  machine_->Step(ev);
  return true;
}

void TFaxSession::DropInput() {
  // What the modem says while it hangs up is of no use.
  uint8_t b = 0;
  while (disp_->ReadChar(b)) {
  }
}
