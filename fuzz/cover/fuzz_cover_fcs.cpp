// The editable template reader on hostile streams: unknown classes and
// properties, wrong value types, lengths past the end, deep nesting. What it
// reads must write out and read back to the same objects.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cover/core/FcsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto r = ReadFcs(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto again = ReadFcs(WriteFcs(r.Objects));
  if (!again.Ok() || again.Objects != r.Objects) std::abort();
  return 0;
}
