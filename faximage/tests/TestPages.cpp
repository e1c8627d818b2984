#include "TestPages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

void Set(std::vector<uint8_t>& line, unsigned x) { line[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7)); }

FxTestPage Blank(const std::string& name, unsigned width, bool fine) {
  FxTestPage p;
  p.name = name;
  p.width = width;
  p.fine = fine;
  p.lines.assign(fine ? 2200 : 1100, std::vector<uint8_t>(width / 8, 0));
  return p;
}

// Rows of printed text: glyph cells of random strokes, words and margins.
FxTestPage Text(const std::string& name, unsigned width, bool fine, unsigned seed) {
  FxTestPage p = Blank(name, width, fine);
  std::mt19937 engine(seed);
  auto rng = [&engine] { return static_cast<unsigned>(engine()); };
  const unsigned cellH = fine ? 24 : 12, cellW = 14, lineGap = fine ? 14 : 7;
  std::vector<std::vector<uint16_t>> glyphs(64, std::vector<uint16_t>(24));
  for (auto& g : glyphs) {
    for (auto& row : g) row = static_cast<uint16_t>(rng() & rng() & 0x0FFF);
  }
  for (unsigned top = 100; top + cellH < p.lines.size() - 100; top += cellH + lineGap) {
    unsigned x = 120;
    const unsigned right = width - 120 - rng() % 300;
    while (x + cellW < right) {
      const unsigned word = 2 + rng() % 8;
      for (unsigned c = 0; c < word && x + cellW < right; ++c, x += cellW) {
        const auto& g = glyphs[rng() % glyphs.size()];
        for (unsigned r = 0; r < cellH; ++r) {
          for (unsigned b = 0; b < 12; ++b) {
            if (g[r * 24 / cellH] & (1u << b)) Set(p.lines[top + r], x + b);
          }
        }
      }
      x += cellW;
    }
  }
  return p;
}

FxTestPage Rules(const std::string& name, bool fine) {
  FxTestPage p = Blank(name, 1728, fine);
  const unsigned h = static_cast<unsigned>(p.lines.size());
  for (unsigned box = 0; box < 12; ++box) {
    const unsigned x0 = 60 + box * 40, x1 = 1668 - box * 40, y0 = 60 + box * 30, y1 = h - 60 - box * 30;
    const unsigned t = 1 + box % 4;
    for (unsigned y = y0; y < y1; ++y) {
      for (unsigned x = x0; x < x1; ++x) {
        if (y < y0 + t || y >= y1 - t || x < x0 + t || x >= x1 - t) Set(p.lines[y], x);
      }
    }
  }
  for (unsigned y = 0; y < h; y += 37) {
    for (unsigned x = 700; x < 1000; ++x) Set(p.lines[y], x);
  }
  return p;
}

const std::array<int, 256>& Sine() {
  static const std::array<int, 256> table = [] {
    std::array<int, 256> t{};
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<int>(std::lround(127.0 * std::sin(static_cast<double>(i) * 6.283185307179586 / 256.0)));
    return t;
  }();
  return table;
}

FxTestPage Photo(const std::string& name, bool fine) {
  FxTestPage p = Blank(name, 1728, fine);
  static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const unsigned h = static_cast<unsigned>(p.lines.size());
  for (unsigned y = 0; y < h; ++y) {
    for (unsigned x = 0; x < 1728; ++x) {
      // Smooth shading from two waves over a 256-entry sine table.
      const unsigned dx = x > 864 ? x - 864 : 864 - x, dy = (y * 1728 / h > 700 ? y * 1728 / h - 700 : 700 - y * 1728 / h);
      const unsigned r = (dx * dx + dy * dy) >> 9;
      const int v = 128 + Sine()[(x / 7 + y * 3 / 7) & 255] / 2 + Sine()[r & 255] / 2;  // 0..255
      if (v / 16 > bayer[y % 4][x % 4]) Set(p.lines[y], x);
    }
  }
  return p;
}

FxTestPage Filled(const std::string& name, bool fine, int pattern) {
  FxTestPage p = Blank(name, 1728, fine);
  for (unsigned y = 0; y < p.lines.size(); ++y) {
    for (unsigned x = 0; x < 1728; ++x) {
      // Alternating pixels; odd rows alternate in pairs starting black. (A
      // full row of single pixels starting black has 1729 runs, one more
      // than libtiff's 1-D decoder accepts; the coding tests cover it.)
      const bool black = (y & 1) == 0 ? (x & 1) != 0 : ((x >> 1) & 1) == 0;
      if (pattern == 1 || (pattern == 2 && black)) Set(p.lines[y], x);
    }
  }
  return p;
}

// Line y: a white run of y % 2048 pixels, then a black run of every length
// in turn, then white: every terminating and make-up code of both colours
// up to 2048.
FxTestPage Runs(const std::string& name) {
  FxTestPage p = Blank(name, 2048, true);
  for (unsigned y = 0; y < p.lines.size(); ++y) {
    const unsigned white = y % 2048;
    const unsigned black = std::min((y * 7 + 1) % 2049, 2048 - white);
    for (unsigned x = white; x < white + black; ++x) Set(p.lines[y], x);
  }
  return p;
}

}  // namespace

const char* FxTestCorpusName(size_t index) {
  static const char* const names[kFxTestCorpusSize] = {"text-normal",  "text-fine",          "rules-normal",
                                                       "photo-fine",   "white-normal",       "black-normal",
                                                       "alternating-normal", "text-wide-fine", "runs-wide-fine"};
  return index < kFxTestCorpusSize ? names[index] : "";
}

FxTestPage FxTestCorpusPage(size_t index) {
  const std::string name = FxTestCorpusName(index);
  switch (index) {
    case 0: return Text(name, 1728, false, 1);
    case 1: return Text(name, 1728, true, 2);
    case 2: return Rules(name, false);
    case 3: return Photo(name, true);
    case 4: return Blank(name, 1728, false);
    case 5: return Filled(name, false, 1);
    case 6: return Filled(name, false, 2);
    case 7: return Text(name, 2048, true, 3);
    default: return Runs(name);
  }
}

std::vector<FxTestPage> FxTestCorpus() {
  std::vector<FxTestPage> pages;
  for (size_t i = 0; i < kFxTestCorpusSize; ++i) pages.push_back(FxTestCorpusPage(i));
  return pages;
}
