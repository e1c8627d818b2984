#pragma once
// The Class 1 send machine: the engine runs T.30 itself. After dialling it
// collects the answering machine's frames (CSI, DIS), sends TSI and DCS, the
// training check at the chosen speed, waits for CFR (stepping down on FTT),
// lets the shared states send the page, then sends the post-page message
// and acts on the answer (next page, retraining, DCN).

#include <array>
#include <memory>
#include <string>

#include "faxengine/class1/Class1Modem.h"
#include "faxengine/session/SendStates.h"

enum class TSendState1 : uint8_t {
  tfNone, tfGetEntry, tfInit, tf1Init1, tfDial, tfRetryWait, tf1Connect, tf1SendTSI, tf1TSIResponse, tf1DCSResponse,
  tf1TrainStart, tf1TrainFinish, tf1WaitCFR, tf1WaitPgCn, tfWaitXon, tfWaitFrHead, tfSndPgeHdr, tfOpenCover,
  tfSendCover, tfPrepPage, tfSendPage, tfDrainPage, tf1PageEnd, tf1PrepEOP, tf1SendEOP, tf1WaitMPS, tf1WaitEOP,
  tf1WaitMCF, tf1SendDCN, tf1Hangup, tf1WaitHngp, tfClose, tfCompleteOK, tfAbort, tfDone
};

class TFxSendMachine1 final : public TFxSendStates<TFxSendMachine1, TSendState1>, private TFxClass1Modem {
 public:
  using TRow = TFxStateRow<TFxSendMachine1, TSendState1>;
  static const std::array<TRow, 35> kStates;

  explicit TFxSendMachine1(TFxSessionCore& core);

  int Prepare() override { return PrepareClass1(true); }
  void EnterAbort() override;
  // The pause before the post-page message waits for its timer alone.
  bool RunsAtOnce() const override;
  bool WaitsForTrigger() const override;

  // The class's own steps of the shared states.
  void StartClass();
  void StartCall();
  void EndPageData();

 private:
  // What a modem line says, with the frame it confirms.
  struct TLine1 {
    std::string line;
    bool ok = false, connect = false, frame = false;
    TFxFrameKind kind = TFxFrameKind::fkOther;
  };
  // What a state does with ERROR: ends the call, listens again for the
  // frame the remote repeats, or takes it as its line.
  enum class TOnError { oeFail, oeListen, oeLine };
  // The modem's next line and the frame it confirms; false when there is
  // none or the call has failed on it (a reply timer fails the call).
  bool TakeLine1(TFxEvent ev, TLine1& in, TOnError onError = TOnError::oeFail);
  // Reads modem bytes through the frame collector; true when a line is complete.
  bool ReadLine1();
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

  void Init1(TFxEvent ev);
  void Connect(TFxEvent ev);
  void SendTSI(TFxEvent ev);
  void TSIResponse(TFxEvent ev);
  void DCSResponse(TFxEvent ev);
  void TrainStart(TFxEvent ev);
  void TrainFinish(TFxEvent ev);
  void WaitCFR(TFxEvent ev);
  void WaitPgCn(TFxEvent ev);
  void PageEnd(TFxEvent ev);
  void PrepEOP(TFxEvent ev);
  void SendEOP(TFxEvent ev);
  void WaitPostPageAck(TFxEvent ev);
  void WaitMCF(TFxEvent ev);
  void SendDCN(TFxEvent ev);
  void Hangup(TFxEvent ev);
  void WaitHngp(TFxEvent ev);

  // The pause before the post-page message is running.
  bool postPagePause_ = false;
};

std::unique_ptr<TFxMachine> FxNewSendMachine1(TFxSessionCore& core);
