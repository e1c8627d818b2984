#pragma once
// The pages of an APF file as decoded raster lines, for checking imports.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"

struct DecodedPage {
  unsigned width = 0;
  bool fine = false;
  std::vector<std::vector<uint8_t>> rows;  // raw lines, 1 = black

  unsigned Height() const { return static_cast<unsigned>(rows.size()); }
  bool Black(unsigned x, unsigned y) const {
    return y < rows.size() && x / 8 < rows[y].size() && (rows[y][x / 8] & (0x80u >> (x % 8))) != 0;
  }
  // Black pixels in the rectangle [x0, x1) x [y0, y1).
  unsigned CountBlack(unsigned x0, unsigned y0, unsigned x1, unsigned y1) const {
    unsigned n = 0;
    for (unsigned y = y0; y < y1; ++y)
      for (unsigned x = x0; x < x1; ++x) n += Black(x, y) ? 1u : 0u;
    return n;
  }
};

inline std::vector<DecodedPage> DecodeFax(const std::filesystem::path& apf) {
  std::vector<DecodedPage> pages;
  TFxApfReader reader;
  if (reader.Open(apf) != 0) return pages;
  TFxFaxUnpacker unpacker;
  unpacker.SetOptions(0);
  unpacker.SetInFileName(apf.string());
  for (unsigned n = 1; n <= reader.PageCount(); ++n) {
    ApfPageHeader header;
    uint64_t offset = 0;
    if (reader.FindPage(n, header, offset) != 0) break;
    DecodedPage page;
    page.width = header.Width();
    page.fine = header.HighRes();
    unpacker.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len,
                                unsigned) {
      if (!starting && !ending && data) page.rows.emplace_back(data, data + len);
    };
    unpacker.UnpackPage(n);
    pages.push_back(std::move(page));
  }
  return pages;
}
