#pragma once
// The Class 2 / 2.0 receive machine: the modem runs T.30; the machine sets
// it up, answers, takes the pages it hands over and reads its reports.

#include <array>
#include <memory>
#include <string>

#include "faxengine/session/ReceiveStates.h"

enum class TReceiveState2 : uint8_t {
  rfNone, rfInit, rf2Init1, rf2Init1A, rf2Init1B, rf2Init2, rf2Init3, rfWaiting, rfAnswer, rf2ValCnnct, rf2GtSndID,
  rf2GtCnnct, rfStartPage, rfGtPgDta, rf2GtPgRslt, rf2GetFHNG, rfComplete, rfAbort, rfDone
};

class TFxReceiveMachine2 final : public TFxReceiveStates<TFxReceiveMachine2, TReceiveState2> {
 public:
  using TRow = TFxStateRow<TFxReceiveMachine2, TReceiveState2>;
  static const std::array<TRow, 19> kStates;

  explicit TFxReceiveMachine2(TFxSessionCore& core) : TFxReceiveStates(core) {}

  // The class, the modem's station id and answer mode before the first call.
  int Prepare() override;

  // The class's own steps of the shared states.
  void StartClass();
  void StartAnswer();
  bool PageFine() { return core_.Negotiated().fine; }
  bool PageWide() { return core_.Negotiated().wide; }
  void EndPageData();
  // The modem's hang-up report is the end of the call only at its end.
  bool HangupExpected() const;

 private:
  bool SendSetupCommand(size_t step);

  void Init1(TFxEvent ev);
  void InitSetup(TFxEvent ev);
  void Init3(TFxEvent ev);
  void ValCnnct(TFxEvent ev);
  void GtSndID(TFxEvent ev);
  void GtCnnct(TFxEvent ev);
  void GtPgRslt(TFxEvent ev);
  void GetFHNG(TFxEvent ev);
};

std::unique_ptr<TFxMachine> FxNewReceiveMachine2(TFxSessionCore& core);
