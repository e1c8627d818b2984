// The PBM page stream as a renderer might send it: damaged headers, sizes
// out of range, pages cut off, in chunks of any size. Any outcome but a
// crash, a hang or memory beyond one row is fine; rows handed on always
// have the page's width and never more rows than the page has.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "docimport/PbmStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FxPbmStream stream(1728, 4000);
  unsigned width = 0, height = 0, rows = 0;
  stream.pageStart = [&](unsigned w, unsigned h) {
    if (w == 0 || h == 0 || w > 1728 || h > 4000) std::abort();
    width = w;
    height = h;
    rows = 0;
    return 0;
  };
  stream.row = [&](const uint8_t*) {
    if (width == 0 || ++rows > height) std::abort();
    return 0;
  };
  stream.pageEnd = [&] {
    if (rows != height) std::abort();
    return 0;
  };
  // The first byte chooses the chunk size.
  const size_t chunk = size_t{data[0]} % 64 + 1;
  for (size_t at = 1; at < size; at += chunk)
    if (stream.Feed(data + at, std::min(chunk, size - at)) != 0) break;
  return 0;
}
