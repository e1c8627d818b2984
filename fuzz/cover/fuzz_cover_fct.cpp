// The rendering-form reader on hostile files: every record it keeps must
// write out and read back the same, with and without a divisor.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cover/core/FctFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto r = ReadFct(bytes);
  const auto again = ReadFct(WriteFct(r.Records));
  if (!again.Error.empty() || again.Records != r.Records) std::abort();
  (void)ReadFct(bytes, static_cast<int>(size % 5));
  return 0;
}
