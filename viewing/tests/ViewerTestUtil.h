#pragma once
// Fax files with known pixels for the viewer tests.

#include <QTest>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "faximage/tests/TestUtil.h"
#include "viewing/TFxFaxViewer.h"

using FxRawPage = std::vector<std::vector<uint8_t>>;

// A page of width pixels and `rows` lines with a pattern that differs on
// every row and column (1 = black), marked with the page number `seed`.
inline FxRawPage PatternPage(unsigned rows, unsigned seed, unsigned width = 1728) {
  FxRawPage page(rows, std::vector<uint8_t>(width / 8, 0));
  uint32_t s = 0x9E3779B9u * (seed + 1);
  for (unsigned y = 0; y < rows; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      s = s * 1664525u + 1013904223u;
      // Sparse ink, denser in the text band of each page, one solid rule.
      const bool rule = y == 40 + seed;
      const bool band = y > 60 && y < 200 && x > 100 && x < 900;
      if (rule || (s >> 24) < (band ? 90u : 6u)) page[y][x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
    }
  }
  return page;
}

// Waits until the viewer has the page it asked for.
inline bool WaitForPage(const TFxFaxViewer& v, int ms = 10000) {
  return QTest::qWaitFor([&] { return !v.Busy(); }, ms);
}

// Pixels equal (1 = white rows), comparing width × height.
inline bool SamePixels(const TFxBitmap& a, const TFxBitmap& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (unsigned y = 0; y < a.height; ++y)
    for (unsigned x = 0; x < a.width; ++x)
      if (a.IsBlack(x, y) != b.IsBlack(x, y)) return false;
  return true;
}
