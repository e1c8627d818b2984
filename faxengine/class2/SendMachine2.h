#pragma once
// The Class 2 / 2.0 send machine: the modem runs T.30; the machine sets it
// up, dials, hands it the pages and reads its reports on each page.

#include <array>
#include <memory>
#include <string>

#include "faxengine/class2/Class2Parse.h"
#include "faxengine/session/SendStates.h"

enum class TSendState2 : uint8_t {
  tfNone, tfGetEntry, tfInit, tf2Init1, tf2Init1A, tf2Init1B, tf2Init2, tf2Init3, tfDial, tfRetryWait, tf2Connect,
  tf2GetParams, tfWaitXon, tfWaitFrHead, tfSndPgeHdr, tfOpenCover, tfSendCover, tfPrepPage, tfSendPage, tfDrainPage,
  tf2SendEOP, tf2WaitFPTS, tf2WaitFET, tf2WaitPgOK, tf2SndNwPrm, tf2NextPage, tf20ChckPg, tfClose, tfCompleteOK,
  tfAbort, tfDone
};

class TFxSendMachine2 final : public TFxSendStates<TFxSendMachine2, TSendState2> {
 public:
  using TRow = TFxStateRow<TFxSendMachine2, TSendState2>;
  static const std::array<TRow, 31> kStates;

  explicit TFxSendMachine2(TFxSessionCore& core);

  // The class's own steps of the shared states.
  void StartClass();
  void StartCall();
  void EndPageData();

 private:
  bool IsClass20() const { return core_.FaxClass() == TFaxClass::fcClass2_0; }
  // The modem's next line in a state that waits for one; false when there
  // is none, or the call has failed on it.
  bool TakeLine(TFxEvent ev, std::string& line);
  // A Class 2.0 set-up command by its step (false when there is none).
  bool SendSetupCommand(size_t step);

  void Init1(TFxEvent ev);
  void InitSetup(TFxEvent ev);
  void Init2(TFxEvent ev);
  void Init3(TFxEvent ev);
  void Connect(TFxEvent ev);
  void GetParams(TFxEvent ev);
  void SendEOP(TFxEvent ev);
  void WaitFPTS(TFxEvent ev);
  void WaitFET(TFxEvent ev);
  void WaitPgOK(TFxEvent ev);
  void SndNwPrm(TFxEvent ev);
  void NextPage(TFxEvent ev);
  void CheckPage20(TFxEvent ev);

  TFxClass2Commands cmds_;
  TFxClass2Params remote_;
};

std::unique_ptr<TFxMachine> FxNewSendMachine2(TFxSessionCore& core);
