#pragma once
// Hanging up a fax call: the end of page data still flowing, the escape to
// command mode with its guard times, the hang-up command, DTR and RTS
// dropped. A plan is a list of steps, each an action followed by a pause; the
// session runs the steps up to the next pause and goes on when its reply
// timer expires, so that the pauses (seconds in all) hold no thread. A step
// that waits for the modem's answer goes on as soon as the answer arrives.

#include <cstdint>
#include <vector>

enum class THangupKind : uint8_t {
  hkSend,     // the sender's: escape and ATH0 while carrier is up, else ATH0
  hkReceive,  // the receiver's: DTR and RTS dropped, then escape and ATH
};

// What the modem is doing as the hang-up starts.
enum class THangupData : uint8_t {
  hdNone,    // in command mode, or on line without page data
  hdClass1,  // taking page data under Class 1
  hdClass2,  // taking page data under Class 2 or 2.0
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
  haEndData,            // DLE ETX: the page data ends, the modem leaves data mode
  haEndSession,         // Class 2 / 2.0: the modem ends the session itself (AT+FK / AT+FKS)
};

struct THangupStep {
  THangupAction action;
  unsigned pauseMs;
  bool untilReply = false;  // the pause ends early at the modem's final reply
};

// The steps of a hang-up; carrier: the modem reports carrier as it starts.
std::vector<THangupStep> HangupPlan(THangupKind kind, bool carrier, THangupData data = THangupData::hdNone);
// The hang-up command of a kind.
const char* HangupCommand(THangupKind kind);
