// Any bytes as a modem init string from the settings file: the helper's preset
// must give valid choices, and the string it then composes must preset the
// same choices again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "modemsetup/InitString.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const TInitChoices preset = PresetInitChoices(text);
  const int kind = static_cast<int>(preset.modemType);
  if (kind < 0 || kind >= kModemKindCount) std::abort();
  for (bool forSending : {true, false}) {
    const TInitChoices back = PresetInitChoices(ComposeInitString(preset, forSending));
    if (back.modemType != preset.modemType) std::abort();
    if (back.longCarrierWait != (forSending && preset.longCarrierWait)) std::abort();
  }
  return 0;
}
