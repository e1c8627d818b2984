#pragma once
// Generated fax pages for tests and benchmarks: raw lines (width/8 bytes,
// most significant bit leftmost, 1 = black).

#include <cstdint>
#include <string>
#include <vector>

struct FxTestPage {
  std::string name;
  unsigned width = 1728;
  bool fine = false;
  std::vector<std::vector<uint8_t>> lines;
};

// text, rules and boxes, dithered photograph, all white, all black,
// alternating pixels, a 2048-pixel wide page, a wide page with a white and
// a black run of every length; normal and fine.
inline constexpr size_t kFxTestCorpusSize = 9;
const char* FxTestCorpusName(size_t index);
FxTestPage FxTestCorpusPage(size_t index);
std::vector<FxTestPage> FxTestCorpus();
