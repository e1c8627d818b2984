#include "faxengine/session/Hangup.h"

namespace {
// A modem still sending what it holds of a page answers DLE ETX once that is
// out; one that says nothing for this long is hung up on regardless.
constexpr unsigned kEndDataWaitMs = 5000;
}  // namespace

std::vector<THangupStep> HangupPlan(THangupKind kind, bool carrier, THangupData data) {
  using A = THangupAction;
  // One second of silence on either side of "+++" is the escape's guard
  // time; a second after the command lets the modem answer before what it
  // said is dropped.
  if (kind == THangupKind::hkReceive)
    return {{A::haPurgeInput, 0}, {A::haPurgeOutput, 0}, {A::haLinesDown, 500}, {A::haLinesUp, 1500},
            {A::haEscape, 1000},  {A::haCommand, 1000},   {A::haPurgeInput, 0}};
  // A modem in data mode takes "+++" and the hang-up command for page data:
  // the data is ended first, and a Class 2 modem is told to end the session
  // with the remote, which it does before it answers.
  std::vector<THangupStep> plan;
  if (data != THangupData::hdNone) plan.push_back({A::haEndData, kEndDataWaitMs, true});
  if (data == THangupData::hdClass2) plan.push_back({A::haEndSession, kEndDataWaitMs, true});
  if (!carrier) {
    plan.insert(plan.end(), {{A::haCommand, 1000}, {A::haPurgeInput, 0}});
    return plan;
  }
  plan.insert(plan.end(), {{A::haPause, 1000},     {A::haEscape, 1000},           {A::haCommand, 1000},
                           {A::haPurgeInput, 0},   {A::haLinesDownIfCarrier, 500}, {A::haLinesUp, 0}});
  return plan;
}

const char* HangupCommand(THangupKind kind) { return kind == THangupKind::hkReceive ? "ATH" : "ATH0"; }
