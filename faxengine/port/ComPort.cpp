#include "faxengine/port/ComPort.h"

#include <mutex>

#include "faxengine/port/PortErrors.h"
#include "faxengine/port/PortRegistry.h"

namespace {
std::mutex chooserMutex;
TFxComPort::TPortChooser portChooser;

uint8_t Upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }
}  // namespace

void TFxComPort::SetPortChooser(TPortChooser chooser) {
  std::lock_guard lock(chooserMutex);
  portChooser = std::move(chooser);
}

bool TFxComPort::PortPresent(int comNumber, const std::filesystem::path& iniFile) {
  const std::string path = ComDeviceName(comNumber, iniFile);
  // A port of our own is busy; opening it again would disturb it.
  if (FxPortRegistry::DeviceOpen(TComDevice::CanonicalPath(path))) return true;
  TComDevice device;
  const int code = device.Open(path);
  return code == fxcode::ecOK || code == fxcode::ecPortInUse || code == fxcode::ecAlreadyOpen;
}

TFxComPort::TFxComPort() : alive_(std::make_shared<bool>(true)) {}

TFxComPort::~TFxComPort() {
  *alive_ = false;
  if (dispatcher_) DoClose(false, nullptr);
}

std::string TFxComPort::DevicePath() const {
  if (!deviceName_.empty()) return deviceName_;
  return ComDeviceName(comNumber_, iniFile_);
}

bool TFxComPort::Open() const { return dispatcher_ && !dispatcher_->Stopping(); }

// --- open and close ------------------------------------------------------------------

void TFxComPort::SetOpen(bool open) {
  FinishPendingClose();
  if (open == static_cast<bool>(dispatcher_)) return;
  if (open) {
    DoOpen(nullptr);
    return;
  }
  // A close asked for inside a delivery waits until the delivery is over:
  // the dispatch thread cannot wait for itself, and a window handler's
  // caller still uses the port when the handler returns.
  const bool inDispatchThread = dispatcher_->OnDispatchThread();
  if (inDispatchThread || inWindowHandler_) {
    if (executor_) {
      executor_->Post([this, alive = alive_] {
        if (*alive && dispatcher_) DoClose(false, nullptr);
      });
    } else {
      // Without a host thread the threads end now; the rest of the close
      // happens at the next use of the port or its destruction.
      dispatcher_->RequestStop();
      closePending_ = true;
    }
    return;
  }
  DoClose(false, nullptr);
}

void TFxComPort::FinishPendingClose() {
  if (dispatcher_ && dispatcher_->Stopping() && !dispatcher_->OnDispatchThread()) DoClose(false, nullptr);
  closePending_ = false;
}

void TFxComPort::DoOpen(std::shared_ptr<TFxPosixDispatcher::TTriggerSet> restore) {
  // Telephony is not part of this engine, so no line is ever handed over by it.
  if (tapiMode_ == TTapiMode::tmOn) RaiseFxError(fxcode::ecNotOpenedByTapi);
  if (deviceName_.empty() && comNumber_ == 0) {
    if (!promptForPort_) RaiseFxError(fxcode::ecNoPortSelected);
    TPortChooser chooser;
    {
      std::lock_guard lock(chooserMutex);
      chooser = portChooser;
    }
    std::optional<int> chosen;
    if (chooser) chosen = chooser();
    if (!chosen || *chosen <= 0 || *chosen > 0xFFFF) RaiseFxError(fxcode::ecNoPortSelected);
    comNumber_ = static_cast<uint16_t>(*chosen);
  }
  const std::string path = DevicePath();
  auto dispatcher = std::make_unique<TFxPosixDispatcher>(outSize_);
  const auto position = FxPortRegistry::Register(dispatcher.get(), this, TComDevice::CanonicalPath(path));
  if (!position) RaiseFxError(fxcode::ecAlreadyOpen);
  if (const int code = dispatcher->OpenDevice(path, line_); code != fxcode::ecOK) {
    FxPortRegistry::Unregister(*position);
    RaiseFxError(code);
  }
  dispatcher->SetRegistryPosition(*position);
  dispatcher->SetLogSize(logSize_);
  dispatcher->SetTraceSize(traceSize_);
  try {
    dispatcher->Start();
  } catch (...) {
    dispatcher.reset();
    FxPortRegistry::Unregister(*position);
    throw;
  }
  auto apply = [](TTraceLogState state) {
    return state == TTraceLogState::tlOn || state == TTraceLogState::tlPause ? TTraceLogState::tlOn
                                                                             : TTraceLogState::tlOff;
  };
  dispatcher->SetTracing(apply(tracing_), traceName_, traceHex_);
  if (tracing_ == TTraceLogState::tlPause) dispatcher->SetTracing(tracing_, traceName_, traceHex_);
  dispatcher->SetLogging(apply(logging_), logName_, logHex_);
  if (logging_ == TTraceLogState::tlPause) dispatcher->SetLogging(logging_, logName_, logHex_);
  if (deviceLayer_ != TDeviceLayer::dlFossil) {
    dispatcher->Device().SetDTR(dtr_);
    dispatcher->Device().SetRTS(rts_);
  }
  const bool restored = static_cast<bool>(restore);
  dispatcher->RestoreTriggers(std::move(restore));
  dispatcher_ = std::move(dispatcher);
  registryPosition_ = *position;
  if (executor_ && !restored)
    windowHandler_ = dispatcher_->AddWindowHandler(
        *executor_, [this](uint16_t msg, uint16_t wParam, uint32_t lParam) { WindowMessage(msg, wParam, lParam); });
  dispatcher_->SetForceWindowDelivery(executor_ && AnyTriggerEvent());
  for (auto& [id, listener] : std::vector(listeners_)) listener(*this, true);
}

void TFxComPort::DoClose(bool keepTriggers, std::shared_ptr<TFxPosixDispatcher::TTriggerSet>* saved) {
  if (!dispatcher_) return;
  // An active trace or log is written to its file at every close.
  dispatcher_->SetTracing(TTraceLogState::tlDump, traceName_, traceHex_);
  dispatcher_->SetLogging(TTraceLogState::tlDump, logName_, logHex_);
  tracing_ = TTraceLogState::tlOff;
  logging_ = TTraceLogState::tlOff;
  if (keepTriggers && saved) *saved = dispatcher_->TakeTriggers();
  dispatcher_->Stop();
  FxPortRegistry::Unregister(registryPosition_);
  dispatcher_.reset();
  windowHandler_ = keepTriggers ? windowHandler_ : 0;
  for (auto& [id, listener] : std::vector(listeners_)) listener(*this, false);
}

void TFxComPort::SetComNumber(uint16_t n) {
  FinishPendingClose();
  if (!dispatcher_) {
    comNumber_ = n;
    return;
  }
  std::shared_ptr<TFxPosixDispatcher::TTriggerSet> saved;
  DoClose(true, &saved);
  comNumber_ = n;
  DoOpen(std::move(saved));
}

int TFxComPort::AddPortListener(TPortListener listener) {
  listeners_.emplace_back(nextListenerId_, std::move(listener));
  return nextListenerId_++;
}

void TFxComPort::RemovePortListener(int id) {
  std::erase_if(listeners_, [&](const auto& l) { return l.first == id; });
}

// --- line settings ------------------------------------------------------------------

void TFxComPort::ApplyLine() {
  if (!dispatcher_) return;
  if (const int code = dispatcher_->ChangeLineSettings(line_); code != fxcode::ecOK) {
    line_ = dispatcher_->LineSettings();
    RaiseFxError(code);
  }
}

void TFxComPort::SetBaud(int32_t v) {
  line_.baud = v;
  ApplyLine();
}
void TFxComPort::SetParity(TParity v) {
  line_.parity = v;
  ApplyLine();
}
void TFxComPort::SetDataBits(uint16_t v) {
  line_.dataBits = v;
  ApplyLine();
}
void TFxComPort::SetStopBits(uint16_t v) {
  line_.stopBits = v;
  ApplyLine();
}
void TFxComPort::SetHWFlowOptions(THWFlowOptions v) {
  line_.hwFlow = v;
  ApplyLine();
}
void TFxComPort::SetSWFlowOptions(TSWFlowOptions v) {
  line_.swFlow = v;
  ApplyLine();
}
void TFxComPort::SetXOnChar(char c) {
  line_.xonChar = c;
  ApplyLine();
}
void TFxComPort::SetXOffChar(char c) {
  line_.xoffChar = c;
  ApplyLine();
}

void TFxComPort::SetDTR(bool on) {
  dtr_ = on;
  if (dispatcher_) dispatcher_->Device().SetDTR(on);  // absent on pseudo-terminals
}

void TFxComPort::SetRTS(bool on) {
  rts_ = on;
  if (dispatcher_) dispatcher_->Device().SetRTS(on);
}

bool TFxComPort::CarrierPresent() const {
  return dispatcher_ && (dispatcher_->ModemStatus() & msr::kDCD) != 0;
}

// --- log and trace -------------------------------------------------------------------

void TFxComPort::SetTracing(TTraceLogState state) {
  if (dispatcher_)
    tracing_ = dispatcher_->SetTracing(state, traceName_, traceHex_);
  else
    tracing_ = (state == TTraceLogState::tlOn || state == TTraceLogState::tlPause) ? state : TTraceLogState::tlOff;
}

void TFxComPort::SetTraceSize(uint32_t entries) {
  if (entries == 0 || entries > TDispatchTrace::kMaxEntries) RaiseFxError(fxcode::ecBadArgument);
  traceSize_ = entries;
  if (dispatcher_) dispatcher_->SetTraceSize(entries);
}

void TFxComPort::SetLogging(TTraceLogState state) {
  if (dispatcher_)
    logging_ = dispatcher_->SetLogging(state, logName_, logHex_);
  else
    logging_ = (state == TTraceLogState::tlOn || state == TTraceLogState::tlPause) ? state : TTraceLogState::tlOff;
}

void TFxComPort::SetLogSize(uint32_t bytes) {
  logSize_ = bytes;
  if (dispatcher_) dispatcher_->SetLogSize(bytes);
}

void TFxComPort::AddLogText(std::string_view text) {
  if (!dispatcher_) return;
  dispatcher_->AddLogEntry(TLogType::ltUser, TLogSubtype::lsNone, 0,
                           {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// --- data --------------------------------------------------------------------------------

void TFxComPort::WriteBlock(const void* data, size_t size) {
  if (!Open()) return;
  if (const int code = dispatcher_->WriteBlock(data, size); code != fxcode::ecOK) RaiseFxError(code);
}
void TFxComPort::WriteString(std::string_view s) { WriteBlock(s.data(), s.size()); }
void TFxComPort::WriteChar(char c) { WriteBlock(&c, 1); }

bool TFxComPort::HasInput() const { return Open() && dispatcher_->InputCount() > 0; }

bool TFxComPort::ReadChar(char& c) {
  uint8_t b;
  if (!Open() || !dispatcher_->ReadChar(b)) return false;
  c = static_cast<char>(b);
  return true;
}

size_t TFxComPort::ReadBlock(void* dest, size_t max) {
  return Open() ? dispatcher_->ReadBlock(static_cast<uint8_t*>(dest), max) : 0;
}

size_t TFxComPort::OutputUsed() const { return Open() ? dispatcher_->OutputUsed() : 0; }
size_t TFxComPort::OutputFree() const { return Open() ? dispatcher_->OutputFree() : 0; }

void TFxComPort::PurgeInput() {
  if (Open()) dispatcher_->PurgeInput();
}
void TFxComPort::PurgeOutput() {
  if (Open()) dispatcher_->PurgeOutput();
}

// Reads the port byte by byte until text has arrived, with trigger delivery
// held so that no handler takes the bytes. Every byte goes to OnWaitChar.
// After a mismatch the match resumes from the longest part of text that the
// bytes so far still end with (so "ABAC" is found in "ABABAC"; in particular
// the byte itself starts a new match when it equals text's first character).
bool TFxComPort::AwaitText(std::string_view text, int32_t ticks, bool processMessages, bool ignoreCase) {
  if (text.empty() || !Open()) return true;
  TFxPosixDispatcher* d = dispatcher_.get();
  std::string want(text);
  if (ignoreCase)
    for (char& c : want) c = static_cast<char>(Upper(static_cast<uint8_t>(c)));
  std::vector<size_t> border(want.size(), 0);
  for (size_t i = 1, k = 0; i < want.size(); ++i) {
    while (k > 0 && want[i] != want[k]) k = border[k - 1];
    if (want[i] == want[k]) ++k;
    border[i] = k;
  }

  const bool wasHeld = d->HoldDispatch(true);
  const TTicks expiry = TicksNow() + static_cast<TTicks>(std::max<int32_t>(ticks, 0));
  size_t matched = 0;
  bool expired = false;
  bool terminating = false;
  for (;;) {
    uint8_t b;
    if (d->ReadChar(b)) {
      if (OnWaitChar) OnWaitChar(*this, static_cast<char>(b));
      const auto c = static_cast<char>(ignoreCase ? Upper(b) : b);
      while (matched > 0 && want[matched] != c) matched = border[matched - 1];
      if (want[matched] == c) ++matched;
      if (matched == want.size()) break;
      continue;
    }
    if (executor_ && executor_->Terminating()) {
      terminating = true;
      break;
    }
    if (TicksReached(TicksNow(), expiry)) {
      expired = true;
      break;
    }
    if (processMessages && executor_) {
      executor_->ProcessEvents();
      if (dispatcher_.get() != d || !Open()) return true;  // closed by a host event
    }
    d->WaitForInput(std::chrono::milliseconds(processMessages ? 10 : 50));
    if (d->Stopping()) break;
  }
  if (!wasHeld) d->HoldDispatch(false);
  return terminating || !expired;
}

// --- events ------------------------------------------------------------------------------

bool TFxComPort::AnyTriggerEvent() const {
  return OnTrigger || OnTriggerAvail || OnTriggerData || OnTriggerStatus || OnTriggerTimer || OnTriggerLineError ||
         OnTriggerModemStatus || OnTriggerOutbuffFree || OnTriggerOutbuffUsed || OnTriggerOutSent;
}

void TFxComPort::WindowMessage(uint16_t msg, uint16_t wParam, uint32_t lParam) {
  struct TInHandler {
    bool& flag;
    bool old;
    explicit TInHandler(bool& f) : flag(f), old(f) { flag = true; }
    ~TInHandler() { flag = old; }
  } inHandler(inWindowHandler_);
  const auto data = static_cast<uint16_t>(lParam & 0xFFFF);
  if (OnTrigger) OnTrigger(*this, msg, wParam, data);
  switch (static_cast<TTriggerMsg>(msg)) {
    case TTriggerMsg::tmAvail:
      if (OnTriggerAvail) OnTriggerAvail(*this, wParam);
      break;
    case TTriggerMsg::tmData:
      if (OnTriggerData) OnTriggerData(*this, wParam);
      break;
    case TTriggerMsg::tmTimer:
      if (OnTriggerTimer) OnTriggerTimer(*this, wParam);
      break;
    case TTriggerMsg::tmStatus:
      if (OnTriggerStatus) OnTriggerStatus(*this, wParam);
      switch (static_cast<TStatusKind>(wParam & 7)) {
        case TStatusKind::skModemStatus:
          if (OnTriggerModemStatus) OnTriggerModemStatus(*this);
          break;
        case TStatusKind::skLineStatus:
          if (OnTriggerLineError && dispatcher_)
            OnTriggerLineError(*this, dispatcher_->LastLineError(), dispatcher_->LastLineBreak());
          break;
        case TStatusKind::skOutBuffFree:
          if (OnTriggerOutbuffFree) OnTriggerOutbuffFree(*this);
          break;
        case TStatusKind::skOutBuffUsed:
          if (OnTriggerOutbuffUsed) OnTriggerOutbuffUsed(*this);
          break;
        case TStatusKind::skOutSent:
          if (OnTriggerOutSent) OnTriggerOutSent(*this);
          break;
      }
      break;
    case TTriggerMsg::tmClosePending: break;
  }
}
