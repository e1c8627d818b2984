#pragma once
// The Class 1 receive machine: the engine answers with CSI and DIS, collects
// the caller's TSI and DCS, judges the training check, confirms it with CFR
// or refuses it with FTT, receives the pages at the DCS's speed and answers
// the post-page messages with MCF until the caller's DCN.

#include <array>
#include <memory>
#include <string>

#include "faxengine/class1/Class1Modem.h"
#include "faxengine/class1/Receive1.h"
#include "faxengine/session/ReceiveStates.h"

enum class TReceiveState1 : uint8_t {
  rfNone, rfInit, rf1Init1, rfWaiting, rfAnswer, rf1SendCSI, rf1SendDIS, rf1CollFrames, rf1CollRtry1, rf1CollRtry2,
  rf1StartTrain, rf1CollTrn, rf1Timeout, rf1Retrain, rf1FinishTrain, rf1SendCFR, rf1WtPgCnnct, rfStartPage, rfGtPgDta,
  rf1FinPage, rf1WaitEOP, rf1WritePage, rf1SendMCF, rf1WaitDCN, rf1WtHngp, rfComplete, rfAbort, rfDone
};

class TFxReceiveMachine1 final : public TFxReceiveStates<TFxReceiveMachine1, TReceiveState1>,
                                 private TFxClass1Modem {
 public:
  using TRow = TFxStateRow<TFxReceiveMachine1, TReceiveState1>;
  static const std::array<TRow, 28> kStates;

  explicit TFxReceiveMachine1(TFxSessionCore& core) : TFxReceiveStates(core), TFxClass1Modem(core) {}

  int Prepare() override { return PrepareClass1(false); }
  // Lines read through the frame collector are taken as long as they
  // come and the state stays.
  void Step(TFxEvent ev) override;

  // The class's own steps of the shared states.
  void StartClass();
  void StartAnswer();
  bool PageFine() const { return c1_.fine; }
  bool PageWide() const { return c1_.wide; }
  void EndPageData();
  bool HangupExpected() const { return false; }

 private:
  // What a modem line says.
  struct TLine1 {
    std::string line;
    bool ok = false, connect = false, noCarrier = false;
  };
  // The next line through the frame collector (frames on the way are kept
  // for the modem's OK); false when there is none, or the line was the
  // frame dialogue's own (a frame with a bad check, +FCERROR, a DCN) or
  // ended the call. A reply timer fails the call.
  bool TakeLine1(TFxEvent ev, TLine1& in);
  void AcceptFrame1(const TFxFrame& f);
  // Ends a pending AT+FRM=/AT+FRH=3 and drops the modem's answer to that.
  void StopClass1Reception();
  // ticks 0 keeps the running reply timer.
  void StartFrameReception(int32_t ticks);
  // The training check failed or was not heard: FTT follows.
  void RefuseTraining();

  void Init1(TFxEvent ev);
  void SendCSI(TFxEvent ev);
  void SendDIS(TFxEvent ev);
  void CollFrames(TFxEvent ev);
  void CollRetry(TFxEvent ev);
  void StartTrain(TFxEvent ev);
  void CollTrn(TFxEvent ev);
  void Retrain(TFxEvent ev);
  void FinishTrain(TFxEvent ev);
  void SendCFR(TFxEvent ev);
  void WtPgCnnct(TFxEvent ev);
  void FinPage(TFxEvent ev);
  void WaitEOP(TFxEvent ev);
  void WritePage(TFxEvent ev);
  void SendMCF(TFxEvent ev);
  void WaitDCN(TFxEvent ev);
  void WtHngp(TFxEvent ev);

  TFxClass1Receive rx1_;
  TFxFrame rx1Frame_;  // the frame waiting for the modem's OK
  bool rx1FramePending_ = false;
  bool lineTaken_ = false;  // the last handler took a collector line
};

std::unique_ptr<TFxMachine> FxNewReceiveMachine1(TFxSessionCore& core);
