#include "modemsetup/InitString.h"

#include <cctype>
#include <optional>

namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number after "S7=": the six characters from "S7=", trailing non-digits
// dropped, then up to three characters from the fourth on, all of them digits.
std::optional<int> S7Value(const std::string& upper) {
  const size_t at = upper.find("S7=");
  if (at == std::string::npos) return std::nullopt;
  std::string part = upper.substr(at, 6);
  while (!part.empty() && !IsDigit(part.back())) part.pop_back();
  if (part.size() <= 3) return std::nullopt;
  const std::string digits = part.substr(3, 3);
  int value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

TModemKind KindOf(const std::string& upper) {
  auto has = [&](const char* s) { return upper.find(s) != std::string::npos; };
  if (has("S36=0")) return TModemKind::mkSportster288Early336;
  if (has("S33=34")) return TModemKind::mkSportsterX2;
  if (has("S36=8")) return TModemKind::mkSportsterLate336;
  if (has("\\Q3")) return TModemKind::mkCirrusOrATT;
  if (has("&R2")) return TModemKind::mkUSRoboticsOrWinModem;
  return TModemKind::mkHayesOrUnknown;
}

}  // namespace

TInitChoices PresetInitChoices(std::string_view current) {
  const std::string upper = Upper(current);
  TInitChoices c;
  c.modemType = KindOf(upper);
  // Every kind but the first gets S7=90 written for the normal wait, so 90 is
  // its usual value; "&H3" (in its exact spelling) marks such a string too.
  const bool usual90 = std::string_view(current).find("&H3") != std::string_view::npos ||
                       c.modemType != TModemKind::mkHayesOrUnknown;
  const int limit = usual90 ? 90 : 65;
  if (const auto s7 = S7Value(upper)) c.longCarrierWait = *s7 > limit;
  return c;
}

std::string ComposeInitString(const TInitChoices& choices, bool forSending) {
  std::string s7 = "S7=65";
  if (forSending) {
    if (choices.longCarrierWait)
      s7 = "S7=120";
    else if (choices.modemType != TModemKind::mkHayesOrUnknown)
      s7 = "S7=90";
  }
  switch (choices.modemType) {
    case TModemKind::mkHayesOrUnknown: return "AT&F&C1&D2&K3" + s7;
    case TModemKind::mkUSRoboticsOrWinModem: return "AT&H3&I2&R2" + s7;
    case TModemKind::mkSportster288Early336: return "AT&H3&I2&R2" + s7 + "S36=0";
    case TModemKind::mkSportsterLate336: return "AT&H3&I2&R2" + s7 + "S36=8";
    case TModemKind::mkSportsterX2: return "AT&H3&I2&R2" + s7 + "S36=8S33=34";
    case TModemKind::mkCirrusOrATT: return "AT&F&C1&D2\\Q3" + s7;
  }
  return "AT&F&C1&D2&K3" + s7;
}
