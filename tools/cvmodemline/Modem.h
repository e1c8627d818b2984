#pragma once
// A virtual fax modem on a pseudo-terminal: a Hayes-style command
// interpreter (echo, result codes, S registers, dialling, answering, the
// "+++" escape) in front of a telephone line endpoint. Class 1 is spandsp's
// T.31 modem, fed the Class 1 commands and the data between the serial
// program and the line.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tools/cvmodemline/AtParser.h"
#include "tools/cvmodemline/DataRecord.h"
#include "tools/cvmodemline/Fd.h"
#include "tools/cvmodemline/Line.h"

struct t31_state_s;
struct at_state_s;
class TClass2Engine;

enum class TFaxClass { Data, Class1, Class2, Class20 };

enum class TResult { Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy, NoAnswer, Voice };

class TVirtualModem : public TLineEndpoint {
 public:
  TVirtualModem(TLine& line, std::string name, std::string number, std::string linkPath);
  ~TVirtualModem() override;
  TVirtualModem(const TVirtualModem&) = delete;
  TVirtualModem& operator=(const TVirtualModem&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Number() const { return number_; }
  const std::string& LinkPath() const { return pty_.LinkPath(); }
  const std::string& DeviceName() const { return pty_.SlaveName(); }
  // The program has closed the device (or died): DTR drops. Like a modem set
  // to &D2 this one hangs up and goes back to command mode.
  void PortClosed();
  // With CVMODEMLINE_LOG_COMMANDS set, each open of the device and each
  // command line go to the log with the monotonic clock in microseconds:
  // "cvmodemline: com1 open 123456", "cvmodemline: com1 command 123789 ATDT200".
  void LogEvent(const char* what, const std::string& text = {}) const;

  // Event loop hooks.
  int Fd() const { return pty_.Master(); }
  bool WantRead() const { return !readPaused_; }
  bool WantWrite() const { return !out_.empty() && !xoff_; }
  void OnReadable();
  void OnWritable();
  void Tick();

  // Bytes from the serial program, as read from the pty.
  void Receive(const uint8_t* data, size_t n);

  // TLineEndpoint
  void LineRing() override;
  void LineConnected() override;
  void LineFailed(TCallFailure why) override;
  void LineHungUp() override;
  void LineTx(int16_t* amp, int n) override;
  void LineRx(const int16_t* amp, int n) override;

  // Used by the Class 2 engine.
  void Emit(std::string_view bytes);
  void Result(TResult r);
  void Info(std::string_view text);
  void HangupCall();
  void PauseInput(bool pause) { readPaused_ = pause; }

  // The transmitter's record of the current (or last) call's data bursts.
  const TDataRecorder& DataRecord() const { return record_; }

 private:
  enum class TExec { Next, Error, Pending };

  bool T31Data() const;
  void CommandByte(uint8_t b);
  void DataByte(uint8_t b);
  void Class2DataByte(uint8_t b);
  void ExecuteLine(const std::string& body);
  TExec Execute(const TAtParse& parse, size_t i);
  TExec Basic(const TAtCommand& c);
  TExec Extended(const TAtCommand& c, const TAtParse& parse, size_t i);
  TExec Dial(const TAtCommand& c);
  TExec Answer();
  void Reset();
  void SetClass(TFaxClass cls);
  void T31Silent(const std::string& body);
  void T31Forward(const std::string& body);
  void SyncT31Profile();
  void StartCall(bool originate);
  void PrepareT31Call();
  void FlushPluses();
  void EndRecord();
  void Escape();
  static int AtTx(at_state_s* state, void* user, const uint8_t* buf, size_t len);
  static int T31Control(t31_state_s* s, void* user, int op, const char* num);

  TLine& line_;
  std::string name_;
  std::string number_;
  TPty pty_;
  t31_state_s* t31_ = nullptr;
  std::unique_ptr<TClass2Engine> class2_;

  // Profile.
  bool echo_ = true;
  bool verbose_ = true;
  bool quiet_ = false;
  uint8_t s_[100] = {};
  TFaxClass class_ = TFaxClass::Data;

  // Command line being typed.
  bool sawA_ = false;
  bool inLine_ = false;
  std::string line_text_;
  std::string lastBody_;

  // Call.
  bool dialling_ = false;
  bool incoming_ = false;
  bool inCall_ = false;
  bool onlineCommand_ = false;
  long dataCallTicks_ = -1;  // class 0 call: no data carrier, give up after a while

  // Serial side.
  std::string out_;
  bool xoff_ = false;
  bool readPaused_ = false;
  int suppress_ = 0;

  // Samples since start (the line's clock) and the transmit record.
  int64_t clock_ = 0;
  TDataRecorder record_;

  // "+++" escape: guard time S12 in 1/50 s, which is one tick.
  long ticksSinceInput_ = 0;
  int pluses_ = 0;
};
