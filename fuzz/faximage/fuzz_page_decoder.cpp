// The T.4 page decoder on arbitrary bit streams fed in arbitrary pieces:
// endless fill bits, bad codes, lines of absurd length.
#include <cstdint>
#include <cstdlib>

#include "faximage/T4Decoder.h"
#include "faximage/tests/ReferenceT4.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  std::vector<std::vector<uint8_t>> lines;
  FxT4Decoder d([&](const uint8_t* line, unsigned bytes) {
    if (bytes != 216 && bytes != 256) std::abort();
    lines.emplace_back(line, line + bytes);
    return true;
  });
  for (size_t at = 1; at < size; at += piece) {
    if (!d.Feed(data + at, size - at < piece ? size - at : piece)) break;
  }
  const bool ended = d.PageEnded();
  d.Finish();
  // The plain bit-by-bit decoder must agree line for line (it is slow, so
  // only on inputs of moderate size).
  if (size > 16384) return 0;
  const FxReferenceT4Result ref = FxReferenceT4Decode(data + 1, size - 1, true);
  if (ref.pageEnded != ended || ref.lines != lines) std::abort();
  return 0;
}
