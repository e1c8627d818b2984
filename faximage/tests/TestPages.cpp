#include "TestPages.h"

#include <algorithm>
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

FxTestPage Photo(const std::string& name, bool fine) {
  FxTestPage p = Blank(name, 1728, fine);
  static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const unsigned h = static_cast<unsigned>(p.lines.size());
  for (unsigned y = 0; y < h; ++y) {
    for (unsigned x = 0; x < 1728; ++x) {
      const double fx = x / 1728.0, fy = y / static_cast<double>(h);
      double v = 0.5 + 0.25 * std::sin(fx * 9.0 + fy * 3.0) + 0.25 * std::cos(std::hypot(fx - 0.5, fy - 0.4) * 20.0);
      v = std::clamp(v, 0.0, 1.0);
      if (v * 16.0 > bayer[y % 4][x % 4] + 0.5) Set(p.lines[y], x);
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

}  // namespace

std::vector<FxTestPage> FxTestCorpus() {
  std::vector<FxTestPage> pages;
  pages.push_back(Text("text-normal", 1728, false, 1));
  pages.push_back(Text("text-fine", 1728, true, 2));
  pages.push_back(Rules("rules-normal", false));
  pages.push_back(Photo("photo-fine", true));
  pages.push_back(Blank("white-normal", 1728, false));
  pages.push_back(Filled("black-normal", false, 1));
  pages.push_back(Filled("alternating-normal", false, 2));
  pages.push_back(Text("text-wide-fine", 2048, true, 3));
  return pages;
}
