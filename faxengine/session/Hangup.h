#pragma once
// Hanging up a fax call: the escape to command mode with its guard times,
// the hang-up command, DTR and RTS dropped. A plan is a list of steps, each
// an action followed by a pause; the session runs the steps up to the next
// pause and goes on when its reply timer expires, so that the pauses
// (seconds in all) hold no thread.

#include <cstdint>
#include <vector>

enum class THangupKind : uint8_t {
  hkSend,     // the sender's: escape and ATH0 while carrier is up, else ATH0
  hkReceive,  // the receiver's: DTR and RTS dropped, then escape and ATH
};

enum class THangupAction : uint8_t {
  haPause,              // nothing; only the pause
  haEscape,             // "+++"
  haCommand,            // the hang-up command of the kind
  haPurgeInput,
  haPurgeOutput,
  haLinesDown,          // DTR and RTS low
  haLinesUp,            // DTR and RTS high
  haLinesDownIfCarrier, // DTR and RTS low when the carrier is still up; else no pause
};

struct THangupStep {
  THangupAction action;
  unsigned pauseMs;
};

// The steps of a hang-up; carrier: the modem reports carrier as it starts.
std::vector<THangupStep> HangupPlan(THangupKind kind, bool carrier);
// The hang-up command of a kind.
const char* HangupCommand(THangupKind kind);
