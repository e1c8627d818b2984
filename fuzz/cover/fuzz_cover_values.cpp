// The typed-value decoder: any byte string is walked value by value with
// every read kind; a failed read must not move the position, and the walk
// must end.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cover/core/TypedValues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TValueReader r(std::string_view(reinterpret_cast<const char*>(data), size));
  while (!r.AtEnd()) {
    const size_t at = r.Position();
    int32_t i = 0;
    bool b = false;
    std::string s;
    switch (at % 4) {
      case 0: (void)r.ReadInteger(i); break;
      case 1: (void)r.ReadString(s); break;
      case 2: (void)r.ReadBoolean(b); break;
      default: (void)r.ReadShortString(s); break;
    }
    if (r.Position() == at && !r.SkipValue()) {
      if (r.Position() != at) std::abort();
      break;
    }
  }
  return 0;
}
