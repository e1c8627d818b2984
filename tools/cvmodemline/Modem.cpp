#include "tools/cvmodemline/Modem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include <spandsp.h>

#include "tools/cvmodemline/Class2.h"

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
constexpr size_t kMaxQueued = 1 << 20;   // nobody reading: drop beyond this
constexpr size_t kReadChunk = 256;       // small enough for T.31's flow control to act
constexpr long kDataCallTicks = 5 * kTicksPerSecond;

void DefaultRegisters(uint8_t (&s)[100]) {
  std::fill(std::begin(s), std::end(s), uint8_t{0});
  s[0] = 0;      // rings before auto-answer: off
  s[2] = '+';    // escape character
  s[3] = '\r';
  s[4] = '\n';
  s[5] = '\b';
  s[6] = 2;      // seconds before blind dialling
  s[7] = 60;     // seconds to wait for the answer
  s[8] = 2;      // comma pause
  s[10] = 14;    // carrier loss time, 1/10 s
  s[12] = 50;    // escape guard time, 1/50 s
}

bool IsT31Command(const std::string& name) {
  static const char* const kNames[] = {"+FTM", "+FRM", "+FTH", "+FRH", "+FTS", "+FRS",
                                       "+FAR", "+FCL", "+FIT", "+FDD", "+FPR"};
  return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return name == n; });
}

}  // namespace

TVirtualModem::TVirtualModem(TLine& line, std::string name, std::string number, std::string linkPath)
    : line_(line), name_(std::move(name)), number_(std::move(number)), pty_(std::move(linkPath)) {
  DefaultRegisters(s_);
  t31_ = t31_init(nullptr, &TVirtualModem::AtTx, this, &TVirtualModem::T31Control, this, nullptr, nullptr);
  if (!t31_) throw std::runtime_error("cannot create the T.31 modem");
  t31_set_transmit_on_idle(t31_, 1);
  if (std::getenv("CVMODEMLINE_SPANDSP_LOG")) {
    const int level = static_cast<int>(SPAN_LOG_DEBUG) | static_cast<int>(SPAN_LOG_SHOW_TAG);
    span_log_set_level(t31_get_logging_state(t31_), level);
    span_log_set_tag(t31_get_logging_state(t31_), name_.c_str());
    span_log_set_level(&t31_->at_state.logging, level);
    span_log_set_tag(&t31_->at_state.logging, name_.c_str());
  }
  T31Silent("E0");
  class2_ = std::make_unique<TClass2Engine>(*this, t31_);
  line_.Register(number_, this);
}

TVirtualModem::~TVirtualModem() {
  if (t31_) {
    // spandsp 0.0.6 does not free the T.31 engine's receive queue itself.
    if (t31_->rx_queue) queue_free(t31_->rx_queue);
    t31_->rx_queue = nullptr;
    t31_free(t31_);
  }
}

// ---- serial side ---------------------------------------------------------

void TVirtualModem::OnReadable() {
  uint8_t buf[kReadChunk];
  ssize_t n = ::read(pty_.Master(), buf, sizeof buf);
  if (n > 0) Receive(buf, static_cast<size_t>(n));
}

void TVirtualModem::OnWritable() {
  while (!out_.empty() && !xoff_) {
    ssize_t n = ::write(pty_.Master(), out_.data(), out_.size());
    if (n <= 0) return;  // EAGAIN: the program has not read yet
    out_.erase(0, static_cast<size_t>(n));
  }
}

void TVirtualModem::Emit(std::string_view bytes) {
  if (out_.size() + bytes.size() > kMaxQueued) return;
  out_.append(bytes);
  OnWritable();
}

void TVirtualModem::Result(TResult r) {
  if (quiet_) return;
  static const char* const kWords[] = {"OK",          "CONNECT", "RING",      "NO CARRIER", "ERROR",
                                       "NO DIALTONE", "BUSY",    "NO ANSWER", "VOICE"};
  static const int kCodes[] = {0, 1, 2, 3, 4, 6, 7, 8, 9};
  const auto i = static_cast<size_t>(r);
  std::string cr(1, static_cast<char>(s_[3]));
  std::string lf(1, static_cast<char>(s_[4]));
  if (verbose_)
    Emit(cr + lf + kWords[i] + cr + lf);
  else
    Emit(std::to_string(kCodes[i]) + cr);
}

void TVirtualModem::Info(std::string_view text) {
  std::string cr(1, static_cast<char>(s_[3]));
  std::string lf(1, static_cast<char>(s_[4]));
  if (verbose_)
    Emit(cr + lf + std::string(text) + cr + lf);
  else
    Emit(std::string(text) + cr + lf);
}

bool TVirtualModem::T31Data() const {
  return class_ == TFaxClass::Class1 && !onlineCommand_ && t31_->at_state.at_rx_mode >= AT_MODE_CONNECTED;
}

void TVirtualModem::Receive(const uint8_t* data, size_t n) {
  // An unplugged modem never sees what the program writes: no echo, no reply.
  if (line_.Faults(number_).unplugged) return;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    if (T31Data())
      DataByte(b);
    else if (class2_->OwnsInput())
      Class2DataByte(b);
    else
      CommandByte(b);
    ticksSinceInput_ = 0;
  }
}

void TVirtualModem::DataByte(uint8_t b) {
  const bool delivering = t31_->at_state.at_rx_mode == AT_MODE_DELIVERY;
  if (delivering && (b == kXon || b == kXoff)) {
    // Software flow control of what we send to the program.
    xoff_ = b == kXoff;
    if (!xoff_) OnWritable();
    return;
  }
  // Hold back a possible escape sequence until the guard time tells.
  if (b == s_[2] && (pluses_ > 0 || ticksSinceInput_ >= s_[12]) && pluses_ < 3) {
    ++pluses_;
    return;
  }
  FlushPluses();
  char c = static_cast<char>(b);
  t31_at_rx(t31_, &c, 1);
}

void TVirtualModem::Class2DataByte(uint8_t b) {
  // Page data may hold "+" bytes too: only a guarded "+++" escapes.
  if (b == s_[2] && (pluses_ > 0 || ticksSinceInput_ >= s_[12]) && pluses_ < 3) {
    ++pluses_;
    return;
  }
  FlushPluses();
  class2_->DteByte(b);
}

void TVirtualModem::FlushPluses() {
  for (; pluses_ > 0; --pluses_) {
    if (class2_->OwnsInput()) {
      class2_->DteByte(s_[2]);
    } else {
      char c = static_cast<char>(s_[2]);
      t31_at_rx(t31_, &c, 1);
    }
  }
}

void TVirtualModem::Escape() {
  pluses_ = 0;
  // Stop the T.31 engine's data phase without letting it speak: the program
  // sees only our OK, as from a modem entering online command state.
  class2_->Escape();
  ++suppress_;
  if (t31_->at_state.at_rx_mode == AT_MODE_DELIVERY) {
    char c = 0x18;
    t31_at_rx(t31_, &c, 1);
  }
  at_set_at_rx_mode(&t31_->at_state, AT_MODE_OFFHOOK_COMMAND);
  --suppress_;
  onlineCommand_ = inCall_;
  Result(TResult::Ok);
}

void TVirtualModem::CommandByte(uint8_t b) {
  if (dialling_) {
    // Any key aborts dialling.
    HangupCall();
    Result(TResult::NoCarrier);
    return;
  }
  const char c = static_cast<char>(b);
  if (echo_) Emit(std::string_view(&c, 1));
  if (!inLine_) {
    if (c == 'A' || c == 'a') {
      sawA_ = true;
    } else if (sawA_ && (c == 'T' || c == 't')) {
      inLine_ = true;
      sawA_ = false;
      line_text_.clear();
    } else if (sawA_ && c == '/') {
      sawA_ = false;
      ExecuteLine(lastBody_);
    } else {
      sawA_ = false;
    }
    return;
  }
  if (b == s_[3]) {
    inLine_ = false;
    lastBody_ = line_text_;
    ExecuteLine(line_text_);
  } else if (b == s_[5] || b == 0x7F) {
    if (!line_text_.empty()) line_text_.pop_back();
  } else if (b == s_[4] || b == 0) {
    // line feeds and NULs between commands are noise
  } else if (line_text_.size() <= kAtMaxLine) {
    line_text_ += c;
  }
}

void TVirtualModem::ExecuteLine(const std::string& body) {
  TAtParse parse = ParseAtLine(body);
  if (!parse.ok) {
    Result(TResult::Error);
    return;
  }
  for (size_t i = 0; i < parse.commands.size(); ++i) {
    TExec e = Execute(parse, i);
    if (e == TExec::Error) {
      Result(TResult::Error);
      return;
    }
    if (e == TExec::Pending) return;
  }
  Result(TResult::Ok);
}

TVirtualModem::TExec TVirtualModem::Execute(const TAtParse& parse, size_t i) {
  const TAtCommand& c = parse.commands[i];
  switch (c.kind) {
    case TAtKind::Dial:
      return Dial(c);
    case TAtKind::SRegister: {
      const long r = c.number.value_or(-1);
      if (r < 0 || r >= 100) return TExec::Error;
      if (c.op == TAtOp::Set) {
        long v = std::stol(c.arg);
        if (v > 255) return TExec::Error;
        s_[r] = static_cast<uint8_t>(v);
      } else if (c.op == TAtOp::Read) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03u", s_[r]);
        Info(buf);
      }
      return TExec::Next;
    }
    case TAtKind::Extended:
      return Extended(c, parse, i);
    case TAtKind::Basic:
      return Basic(c);
  }
  return TExec::Error;
}

TVirtualModem::TExec TVirtualModem::Basic(const TAtCommand& c) {
  const long n = c.number.value_or(0);
  const std::string& k = c.name;
  if (k == "E") {
    echo_ = n != 0;
  } else if (k == "V") {
    verbose_ = n != 0;
  } else if (k == "Q") {
    quiet_ = n != 0;
  } else if (k == "Z" || k == "&F") {
    Reset();
  } else if (k == "H") {
    if (n != 0) return TExec::Error;  // H1 (off hook without a call) is not offered
    HangupCall();
  } else if (k == "A") {
    return Answer();
  } else if (k == "O") {
    if (!onlineCommand_ || !inCall_) return TExec::Error;
    onlineCommand_ = false;
    Result(TResult::NoCarrier);  // the fax data phase cannot be resumed
    HangupCall();
    return TExec::Pending;
  } else if (k == "I") {
    Info(n == 3 ? "Corvane virtual fax modem" : "cvmodemline");
  } else if (k == "X" || k == "L" || k == "M" || k == "&C" || k == "&D" || k == "&K" || k == "&S" ||
             k == "&H" || k == "&I" || k == "&R" || k == "&W" || k == "&V" || k == "\\Q" || k == "\\N" ||
             k == "&Q" || k == "B" || k == "W" || k == "Y" || k == "P" || k == "T") {
    // Accepted and without effect on a line that has no speaker, no
    // serial wires and no stored profiles.
  } else {
    return TExec::Error;
  }
  return TExec::Next;
}

TVirtualModem::TExec TVirtualModem::Extended(const TAtCommand& c, const TAtParse& parse, size_t i) {
  const std::string& k = c.name;
  if (k == "+FCLASS") {
    switch (c.op) {
      case TAtOp::Test:
        Info("0,1,2,2.0");
        return TExec::Next;
      case TAtOp::Read:
        Info(class_ == TFaxClass::Data     ? "0"
             : class_ == TFaxClass::Class1 ? "1"
             : class_ == TFaxClass::Class2 ? "2"
                                           : "2.0");
        return TExec::Next;
      case TAtOp::Set:
        if (c.arg == "0") SetClass(TFaxClass::Data);
        else if (c.arg == "1" || c.arg == "1.0") SetClass(TFaxClass::Class1);
        else if (c.arg == "2") SetClass(TFaxClass::Class2);
        else if (c.arg == "2.0") SetClass(TFaxClass::Class20);
        else return TExec::Error;
        return TExec::Next;
      case TAtOp::Action:
        return TExec::Error;
    }
  }
  if (k == "+GMI" || k == "+FMI" || k == "+FMFR") {
    Info("Corvane");
    return TExec::Next;
  }
  if (k == "+GMM" || k == "+FMM" || k == "+FMDL") {
    Info("cvmodemline");
    return TExec::Next;
  }
  if (k == "+GMR" || k == "+FMR" || k == "+FREV") {
    Info("1.0");
    return TExec::Next;
  }
  if (class_ == TFaxClass::Class1 && IsT31Command(k)) {
    // The rest of the line goes to the T.31 modem, which gives the final
    // result (CONNECT, OK, ERROR) itself, possibly much later.
    std::string rest;
    for (size_t j = i; j < parse.commands.size(); ++j) {
      if (!rest.empty() && parse.commands[j - 1].kind == TAtKind::Extended) rest += ';';
      rest += parse.commands[j].text;
    }
    T31Forward(rest);
    return TExec::Pending;
  }
  if (class_ == TFaxClass::Class2 || class_ == TFaxClass::Class20) {
    switch (class2_->Command(c)) {
      case TClass2Reply::Next: return TExec::Next;
      case TClass2Reply::Error: return TExec::Error;
      case TClass2Reply::Pending: return TExec::Pending;
    }
  }
  return TExec::Error;
}

TVirtualModem::TExec TVirtualModem::Dial(const TAtCommand& c) {
  if (line_.InCall(this)) return TExec::Error;
  bool pulse = false;
  std::string digits = DialDigits(c.arg, pulse);
  if (digits.empty()) return TExec::Error;
  dialling_ = true;
  record_.Reset(clock_);
  line_.Dial(this, digits, std::max<int>(s_[7], 1));
  return TExec::Pending;
}

TVirtualModem::TExec TVirtualModem::Answer() {
  if (!line_.Ringing(this)) {
    Result(TResult::NoCarrier);
    return TExec::Pending;
  }
  incoming_ = false;
  record_.Reset(clock_);
  line_.Answer(this);
  return TExec::Pending;
}

void TVirtualModem::Reset() {
  HangupCall();
  echo_ = true;
  verbose_ = true;
  quiet_ = false;
  DefaultRegisters(s_);
  SetClass(TFaxClass::Data);
}

void TVirtualModem::SetClass(TFaxClass cls) {
  class_ = cls;
  // Class 2 and 2.0 drive the same T.31 engine from the inside.
  T31Silent(cls == TFaxClass::Data ? "+FCLASS=0" : "+FCLASS=1");
  class2_->SetClass(cls);
}

void TVirtualModem::SyncT31Profile() {
  at_state_t& a = t31_->at_state;
  a.p.echo = 0;
  a.p.verbose = verbose_ ? 1 : 0;
  a.p.result_code_format = quiet_ ? 3 : verbose_ ? 1 : 2;
  a.p.s_regs[3] = s_[3];
  a.p.s_regs[4] = s_[4];
}

void TVirtualModem::T31Silent(const std::string& body) {
  ++suppress_;
  std::string cmd = "AT" + body + "\r";
  t31_at_rx(t31_, cmd.data(), static_cast<int>(cmd.size()));
  --suppress_;
}

void TVirtualModem::T31Forward(const std::string& body) {
  SyncT31Profile();
  std::string cmd = "AT" + body + "\r";
  t31_at_rx(t31_, cmd.data(), static_cast<int>(cmd.size()));
}

void TVirtualModem::HangupCall() {
  const bool wasConnected = inCall_;
  dialling_ = false;
  incoming_ = false;
  inCall_ = false;
  onlineCommand_ = false;
  dataCallTicks_ = -1;
  pluses_ = 0;
  xoff_ = false;
  readPaused_ = false;
  s_[1] = 0;
  if (line_.InCall(this)) line_.Hangup(this);
  if (wasConnected) EndRecord();
  class2_->CallEnded();
  if (wasConnected || t31_->at_state.at_rx_mode != AT_MODE_ONHOOK_COMMAND) T31Silent("H");
}

void TVirtualModem::EndRecord() {
  record_.CallEnded(clock_);
  if (!record_.Bursts().empty())
    std::fprintf(stderr, "cvmodemline: %s transmitted %s\n", name_.c_str(), record_.Text().c_str());
}

void TVirtualModem::Tick() {
  clock_ += kBlock;
  ++ticksSinceInput_;
  if (pluses_ > 0 && ticksSinceInput_ >= s_[12]) {
    const bool data = T31Data() || class2_->OwnsInput();
    if (pluses_ == 3 && data)
      Escape();
    else if (data)
      FlushPluses();
    else
      pluses_ = 0;
  }
  if (dataCallTicks_ >= 0 && ++dataCallTicks_ >= kDataCallTicks) {
    HangupCall();
    Result(TResult::NoCarrier);
  }
  class2_->Tick();
}

// ---- line side -----------------------------------------------------------

void TVirtualModem::LineRing() {
  incoming_ = true;
  if (s_[1] < 255) ++s_[1];
  Result(TResult::Ring);
  if (s_[0] > 0 && s_[1] >= s_[0]) {
    incoming_ = false;
    record_.Reset(clock_);
    line_.Answer(this);
  }
}

void TVirtualModem::StartCall(bool originate) {
  inCall_ = true;
  s_[1] = 0;
  switch (class_) {
    case TFaxClass::Class1:
      PrepareT31Call();
      SyncT31Profile();
      t31_call_event(t31_, originate ? AT_CALL_EVENT_CONNECTED : AT_CALL_EVENT_ANSWERED);
      break;
    case TFaxClass::Class2:
    case TFaxClass::Class20:
      PrepareT31Call();
      class2_->CallStarted(originate);
      break;
    case TFaxClass::Data:
      dataCallTicks_ = 0;
      break;
  }
}

void TVirtualModem::PrepareT31Call() {
  // What the T.31 engine's own dial command would reset: its call clock
  // (which times the wait for the answering machine against S7) and the
  // dial modifiers.
  t31_->call_samples = 0;
  t31_->dte_data_timeout = 0;
  t31_->at_state.p.s_regs[7] = s_[7];
  t31_->at_state.do_hangup = 0;
  t31_->at_state.silent_dial = 0;
  t31_->at_state.command_dial = 0;
}

void TVirtualModem::LineConnected() {
  const bool originate = dialling_;
  dialling_ = false;
  record_.Answered(clock_);
  StartCall(originate);
}

void TVirtualModem::LineFailed(TCallFailure why) {
  dialling_ = false;
  switch (why) {
    case TCallFailure::Busy: Result(TResult::Busy); break;
    case TCallFailure::NoAnswer: Result(TResult::NoAnswer); break;
    case TCallFailure::NoDialtone: Result(TResult::NoDialtone); break;
    case TCallFailure::Voice: Result(TResult::Voice); break;
  }
}

void TVirtualModem::LineHungUp() {
  if (dialling_) {
    dialling_ = false;
    Result(TResult::NoCarrier);
    return;
  }
  if (incoming_) {
    incoming_ = false;
    s_[1] = 0;
    return;
  }
  if (!inCall_) return;
  inCall_ = false;
  EndRecord();
  onlineCommand_ = false;
  dataCallTicks_ = -1;
  xoff_ = false;
  readPaused_ = false;
  switch (class_) {
    case TFaxClass::Class1:
      SyncT31Profile();
      t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
      break;
    case TFaxClass::Class2:
    case TFaxClass::Class20:
      class2_->RemoteHungUp();
      break;
    case TFaxClass::Data:
      Result(TResult::NoCarrier);
      break;
  }
}

void TVirtualModem::LineTx(int16_t* amp, int n) {
  int made = 0;
  // Class 2 and 2.0 run T.30 over the same T.31 modem.
  if (class_ != TFaxClass::Data) {
    const int before = t31_->tx.in_bytes - t31_->tx.out_bytes;
    made = t31_tx(t31_, amp, n);
    const int after = t31_->tx.in_bytes - t31_->tx.out_bytes;
    const bool fast = t31_->modem == FAX_MODEM_V17_TX || t31_->modem == FAX_MODEM_V27TER_TX ||
                      t31_->modem == FAX_MODEM_V29_TX;
    const bool ended = t31_->at_state.at_rx_mode != AT_MODE_STUFFED || t31_->tx.final;
    record_.Block(clock_, n, t31_->bit_rate, before, after, fast && t31_->tx.data_started, ended);
  }
  std::fill(amp + std::max(made, 0), amp + n, int16_t{0});
}

void TVirtualModem::LineRx(const int16_t* amp, int n) {
  int16_t copy[kBlock];
  std::copy(amp, amp + std::min(n, kBlock), copy);
  if (class_ != TFaxClass::Data) t31_rx(t31_, copy, std::min(n, kBlock));
}

// ---- T.31 callbacks --------------------------------------------------------

int TVirtualModem::AtTx(at_state_s*, void* user, const uint8_t* buf, size_t len) {
  auto* m = static_cast<TVirtualModem*>(user);
  if (m->suppress_ > 0) return 0;
  if (m->class_ == TFaxClass::Class2 || m->class_ == TFaxClass::Class20)
    m->class2_->T31Output(buf, len);
  else
    m->Emit(std::string_view(reinterpret_cast<const char*>(buf), len));
  return 0;
}

int TVirtualModem::T31Control(t31_state_s*, void* user, int op, const char* num) {
  auto* m = static_cast<TVirtualModem*>(user);
  if (std::getenv("CVMODEMLINE_DEBUG")) std::fprintf(stderr, "%s: t31 control %d%s\n", m->name_.c_str(), op, m->suppress_ ? " (ignored)" : "");
  if (m->suppress_ > 0) return 0;
  switch (op) {
    case AT_MODEM_CONTROL_CTS:
      // The T.31 transmit buffer is filling: stop reading the pty, so the
      // program's writes block, as with hardware flow control.
      m->readPaused_ = num == nullptr;
      break;
    case AT_MODEM_CONTROL_HANGUP:
      // The T.31 engine gave up the call (for example after DCN and a
      // timeout): leave the line too.
      m->inCall_ = false;
      if (m->line_.InCall(m)) m->line_.Hangup(m);
      if (m->class_ == TFaxClass::Class2 || m->class_ == TFaxClass::Class20) m->class2_->RemoteHungUp();
      break;
    default:
      break;
  }
  return 0;
}
