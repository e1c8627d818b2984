#pragma once
// Class 2 (SP-2388) and Class 2.0 (T.32) service for a virtual modem.
//
// The modem runs T.30 itself: this engine is the T.30 procedure (phase B
// negotiation, training check, post-page exchange, disconnect) and drives
// the modem's own T.31 engine the way a Class 1 program would (+FRH, +FTH,
// +FRM, +FTM and HDLC frames), while it speaks the Class 2 or 2.0 command
// set towards the serial program: +FDT/+FDR/+FET and the +FCON, +FCSI/+FCI,
// +FDIS/+FIS, +FDCS/+FCS, +FTSI/+FTI, +FPTS/+FPS, +FET, +FHNG/+FHS reports,
// XON before page data is taken, DC2 before page data is given, DLE ETX and
// (Class 2.0) DLE "," ";" "." as page ends.
//
// Bit order of page data: the serial program sends page data in line order
// (first bit of the line in the least significant bit) in both classes; on
// reception Class 2 delivers each byte reversed (first bit in the most
// significant bit), as Class 2 modems do, Class 2.0 in line order.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "faxengine/t30/T30.h"
#include "tools/cvmodemline/AtParser.h"

class TVirtualModem;
struct t31_state_s;
enum class TFaxClass;

enum class TClass2Reply { Next, Error, Pending };

// The eight T.30 session parameters of Class 2: VR, BR, WD, LN, DF, EC, BF, ST.
struct TSessionParams {
  int vr = 1, br = 5, wd = 0, ln = 2, df = 0, ec = 0, bf = 0, st = 0;
  std::string Text() const;
  // Reads "1,5,0,2,0,0,0,0"; missing trailing values keep their old value.
  bool Parse(const std::string& text);
};

// Bit rates by BR code, and the DIS and DCS this modem writes and reads
// (with the T.30 bits of faxengine/t30), shared with the tests.
int BitRateOf(int br);
std::vector<uint8_t> MakeDis(const TSessionParams& caps);
std::vector<uint8_t> MakeDcs(const TSessionParams& p);
TSessionParams ReadDisOrDcs(const std::vector<uint8_t>& fif, bool isDcs);
std::vector<uint8_t> MakeIdFrame(const std::string& id);
std::string ReadIdFrame(const std::vector<uint8_t>& fif);
uint8_t Reverse(uint8_t b);

class TClass2Engine {
 public:
  TClass2Engine(TVirtualModem& modem, t31_state_s* t31);
  void SetClass(TFaxClass cls);
  TClass2Reply Command(const TAtCommand& c);
  bool OwnsInput() const;
  void DteByte(uint8_t b);
  void CallStarted(bool originate);
  void CallEnded();
  void RemoteHungUp();
  // "+++" in the middle of page data: commands are taken again.
  void Escape() { escaped_ = true; }
  void Tick();
  // Output of the internal T.31 engine while a Class 2 call runs.
  void T31Output(const uint8_t* buf, size_t len);

 private:
  // What the internal T.31 engine is doing for us.
  enum class TOp { None, RecvFrame, SendFrames, SendData, RecvData };
  enum class TOpStage { WaitConnect, InFrame, InData, WaitFinal };
  // T.30 procedure states.
  enum class TState {
    Idle,
    TxWaitDis,       // calling: collecting NSF/CSI/DIS
    TxReady,         // DIS known; waiting for +FDT
    TxSendDcs,       // TSI + DCS going out
    TxSendTcf,       // training check going out
    TxWaitCfr,       // waiting for CFR/FTT
    TxPageStart,     // +FTM issued for page data
    TxPage,          // serial program sends page data
    TxPageDrain,     // page data handed over, waiting for the modem to finish
    TxWaitFet,       // waiting for +FET (Class 2, or Class 2.0 after DLE ETX)
    TxSendPpm,       // post-page message going out
    TxWaitPpr,       // waiting for MCF/RTN/RTP
    TxSendDcn,
    RxSendDis,       // answering: CSI + DIS going out
    RxWaitDcs,       // collecting TSI/DCS
    RxTcf,           // receiving the training check
    RxSendCfr,       // CFR or FTT going out
    RxPage,          // page data coming in
    RxWaitPpm,       // waiting for the post-page message
    RxPpmReady,      // reported; waiting for +FDR
    RxSendMcf,
    RxWaitDcn,
    Done
  };

  bool Is20() const;
  std::string Name(const char* c2, const char* c20) const;
  void Report(const std::string& text);
  void Finish(int code);

  // Internal T.31 driving.
  void T31Command(const std::string& body);
  void ToT31(const std::string& bytes);
  void StartRecvFrame(bool issue = true);
  void StartSendFrames(std::vector<std::vector<uint8_t>> frames, bool issue = true);
  void StartSendData(const t30::TRate& rate, bool training);
  void StartRecvData(const t30::TRate& rate);
  void SendStuffed(const uint8_t* data, size_t n);
  void SendRaw(const uint8_t* data, size_t n);
  void OnT31Line(const std::string& line);
  void OnFrame(const std::vector<uint8_t>& frame, bool ok);
  void OnOpDone(bool ok);
  void OnFrameTimeout();

  // Procedure steps.
  void SendDcsAndTcf();
  void HandleTxFrame(t30::TFcf fcf, const std::vector<uint8_t>& fif);
  void HandleRxFrame(t30::TFcf fcf, const std::vector<uint8_t>& fif);
  void SendPpm();
  void PageDataEnded(int ppm);
  void FeedDte();
  void StartPhaseBAnswer();
  void After(long ticks, std::function<void()> f);
  void MaybeReportPpm();
  void ComputeSession();

  TVirtualModem& modem_;
  t31_state_s* t31_;
  bool active_ = false;
  bool class20_ = false;
  bool originate_ = false;

  // Parameters set by the serial program.
  std::string localId_;
  TSessionParams caps_;       // +FDIS/+FIS: what we may send
  TSessionParams rxCaps_;     // +FDCC/+FCC: what we accept
  std::map<std::string, std::string> other_;

  // Negotiated and remote state.
  TSessionParams remote_;     // from the remote DIS
  TSessionParams session_;    // DCS in force
  const t30::TRate* rxRate_ = nullptr;  // the rate a received DCS named, with its modulation
  std::string remoteId_;
  bool haveDis_ = false;
  int dcsTries_ = 0;
  int ppmTries_ = 0;
  int ppm_ = -1;              // post-page message code 0 MPS, 1 EOM, 2 EOP
  int lastPpr_ = 0;           // 1 MCF, 2 RTN, 3 RTP

  TState state_ = TState::Idle;
  bool pendingFdr_ = false;   // +FDR waiting for the page or the post-page message
  bool pendingFdt_ = false;

  // Internal T.31 operation in progress.
  TOp op_ = TOp::None;
  TOpStage stage_ = TOpStage::WaitConnect;
  std::vector<std::vector<uint8_t>> framesToSend_;
  std::vector<uint8_t> frame_;
  std::string t31Line_;
  bool dle_ = false;
  long opTicks_ = 0;
  long opTimeout_ = 0;
  long t1Left_ = 0;           // of the wait for the first DIS
  long afterTicks_ = -1;      // a short pause before the next step
  std::function<void()> after_;
  bool swallowOk_ = false;    // an aborted reception still answers OK
  std::string deferred_;      // for the T.31 engine, sent at the next tick
  std::string t31In_;         // output of the T.31 engine not yet parsed
  bool parsing_ = false;
  bool awaiting_ = false;     // a command of the serial program waits for its result
  bool needTraining_ = true;  // next +FDT starts with DCS and training
  bool fconSent_ = false;
  bool ppmReceived_ = false;
  bool dteEtxSent_ = false;
  bool cfrGood_ = false;
  int disTries_ = 0;
  bool trainingData_ = false;

  // Page data towards the serial program.
  std::deque<uint8_t> rxPage_;
  bool rxPageEnded_ = false;
  bool dteStarted_ = false;   // DC2 seen
  bool connectSent_ = false;
  size_t tcfBytes_ = 0, tcfNonZero_ = 0;

  // Page data from the serial program.
  bool dteDle_ = false;
  bool escaped_ = false;
  int hangupCode_ = 0;
};
