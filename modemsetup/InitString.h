#pragma once
// The modem initialisation strings the init string helper writes, and the
// helper's choices read back from an existing string. Plain functions, so the
// window is only their face.

#include <string>
#include <string_view>

// The six kinds of modem the helper knows, in the order of its list.
enum class TModemKind {
  mkHayesOrUnknown = 0,
  mkUSRoboticsOrWinModem = 1,
  mkSportster288Early336 = 2,
  mkSportsterLate336 = 3,
  mkSportsterX2 = 4,
  mkCirrusOrATT = 5,
};
inline constexpr int kModemKindCount = 6;

struct TInitChoices {
  TModemKind modemType = TModemKind::mkHayesOrUnknown;
  // The modem hangs up before the far end answers: wait longer for carrier.
  bool longCarrierWait = false;
};

// The choices a string stands for: the modem kind from its typical commands,
// the long wait from an S7 value above the usual one for that kind.
[[nodiscard]] TInitChoices PresetInitChoices(std::string_view current);

// The string for the choices. Only a string for sending carries a longer
// carrier wait; one for receiving always has S7=65.
[[nodiscard]] std::string ComposeInitString(const TInitChoices& choices, bool forSending);
