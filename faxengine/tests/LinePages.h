#pragma once
// Pages for sessions over the virtual line: the line harness's bitmaps
// (1 = black) written as one APF file through the converter, as Corvane's
// own fax files are made.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "tools/cvmodemline/tests/LineHarness.h"

namespace linepages {

// The harness's page as a converter bitmap (set bit = white).
inline TFxBitmap ToFxBitmap(const linetest::TBitmap& b) {
  TFxBitmap out = TFxBitmap::MakeMono(static_cast<unsigned>(b.width), static_cast<unsigned>(b.height));
  for (int y = 0; y < b.height; ++y)
    for (size_t x = 0; x < b.Stride(); ++x)
      out.Row(static_cast<unsigned>(y))[x] = static_cast<uint8_t>(~b.Row(y)[x]);
  return out;
}

inline void WriteApf(const std::filesystem::path& file, const std::vector<linetest::TBitmap>& pages, bool fine) {
  std::vector<std::filesystem::path> parts;
  for (size_t i = 0; i < pages.size(); ++i) {
    TFxFaxConverter c;
    c.SetOptions(0);
    c.LeftMargin = 0;
    c.TopMargin = 0;
    c.Resolution = fine ? TFaxResolution::frHigh : TFaxResolution::frNormal;
    c.OutFileName = (file.parent_path() / ("part" + std::to_string(i) + ".APF")).string();
    ASSERT_EQ(c.TryConvertBitmap(ToFxBitmap(pages[i])), 0);
    parts.push_back(c.OutFileName);
  }
  ASSERT_EQ(ApfConcatenate(parts, file), 0);
  for (const auto& p : parts) std::filesystem::remove(p);
}

}  // namespace linepages
