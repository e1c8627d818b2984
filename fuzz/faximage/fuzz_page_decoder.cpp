// The T.4 page decoder on arbitrary bit streams fed in arbitrary pieces:
// endless fill bits, bad codes, lines of absurd length.
#include <cstdint>
#include <cstdlib>

#include "faximage/T4Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  uint64_t lines = 0;
  FxT4Decoder d([&](const uint8_t* line, unsigned bytes) {
    if (bytes != 216 && bytes != 256) std::abort();
    (void)line;
    return ++lines < 100000;
  });
  for (size_t at = 1; at < size; at += piece) {
    if (!d.Feed(data + at, size - at < piece ? size - at : piece)) break;
  }
  d.Finish();
  return 0;
}
