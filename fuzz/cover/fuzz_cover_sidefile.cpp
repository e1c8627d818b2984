// The cover side file reader on hostile bytes: the template it keeps is a
// bare file name, and what it reads writes out and reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cover/core/SideFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TCoverSideFile side = ParseCoverSideFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (side.Template.empty() || side.Template.find_first_of("/\\:") != std::string::npos) std::abort();
  (void)side.Flags();
  // Lines holding CR or LF themselves cannot survive a round trip; the rest must.
  bool plain = side.Template.find_first_of("\r\n") == std::string::npos &&
               side.FlagText.find_first_of("\r\n") == std::string::npos;
  for (const auto& l : side.MessageLines) plain = plain && l.find_first_of("\r\n") == std::string::npos;
  if (plain) {
    const TCoverSideFile again = ParseCoverSideFile(FormatCoverSideFile(side));
    if (again.Template != side.Template || again.FlagText != side.FlagText || again.MessageLines != side.MessageLines)
      std::abort();
  }
  return 0;
}
