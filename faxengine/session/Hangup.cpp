#include "faxengine/session/Hangup.h"

std::vector<THangupStep> HangupPlan(THangupKind kind, bool carrier) {
  using A = THangupAction;
  // One second of silence on either side of "+++" is the escape's guard
  // time; a second after the command lets the modem answer before what it
  // said is dropped.
  if (kind == THangupKind::hkReceive)
    return {{A::haPurgeInput, 0}, {A::haPurgeOutput, 0}, {A::haLinesDown, 500}, {A::haLinesUp, 1500},
            {A::haEscape, 1000},  {A::haCommand, 1000},   {A::haPurgeInput, 0}};
  if (!carrier) return {{A::haCommand, 1000}, {A::haPurgeInput, 0}};
  return {{A::haPause, 1000},     {A::haEscape, 1000},           {A::haCommand, 1000},
          {A::haPurgeInput, 0},   {A::haLinesDownIfCarrier, 500}, {A::haLinesUp, 0}};
}

const char* HangupCommand(THangupKind kind) { return kind == THangupKind::hkReceive ? "ATH" : "ATH0"; }
