#include "faximage/Bitmap.h"

#include <array>
#include <cstring>

#include "faximage/ErrorCodes.h"
#include "faximage/FileIo.h"

TFxBitmap TFxBitmap::MakeMono(unsigned width, unsigned height) {
  TFxBitmap b;
  b.width = width;
  b.height = height;
  b.bitsPerPixel = 1;
  b.rowBytes = ((width + 15) / 16) * 2;
  b.bits.assign(b.rowBytes * height, 0xFF);
  return b;
}

bool TFxBitmap::IsBlack(unsigned x, unsigned y) const {
  if (x >= rowBytes * 8 || y >= height) return false;
  return (Row(y)[x >> 3] & (0x80u >> (x & 7))) == 0;
}

void TFxBitmap::SetBlack(unsigned x, unsigned y, bool black) {
  if (x >= rowBytes * 8 || y >= height) return;
  uint8_t& b = Row(y)[x >> 3];
  const auto mask = static_cast<uint8_t>(0x80u >> (x & 7));
  if (black) {
    b = static_cast<uint8_t>(b & ~mask);
  } else {
    b = static_cast<uint8_t>(b | mask);
  }
}

namespace {
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

int FxLoadBmpFile(const std::filesystem::path& path, TFxBitmap& out) {
  FxFile f;
  if (const int rc = f.OpenRead(path); rc < 0) return rc;
  const long long size = f.Size();
  if (size < 0) return static_cast<int>(size);
  std::array<uint8_t, 54> h{};
  if (f.ReadAt(0, h.data(), h.size()) != static_cast<long long>(h.size()) || h[0] != 'B' || h[1] != 'M') {
    return FxErr::ecBadArgument;
  }
  const uint32_t dataOffset = Le32(&h[10]);
  const uint32_t infoSize = Le32(&h[14]);
  const auto width = static_cast<int32_t>(Le32(&h[18]));
  const auto rawHeight = static_cast<int32_t>(Le32(&h[22]));
  const uint16_t bpp = Le16(&h[28]);
  const uint32_t compression = Le32(&h[30]);
  uint32_t colours = Le32(&h[46]);
  if (infoSize < 40 || compression != 0 || width <= 0 || rawHeight == 0 || width > 65535 ||
      rawHeight > 65535 || rawHeight < -65535 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)) {
    return FxErr::ecBadArgument;
  }
  const bool topDown = rawHeight < 0;
  const auto height = static_cast<unsigned>(topDown ? -rawHeight : rawHeight);
  const size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
  if (dataOffset > static_cast<uint64_t>(size) || stride * height > static_cast<uint64_t>(size) - dataOffset) {
    return FxErr::ecBadArgument;
  }
  std::array<uint8_t, 256 * 4> palette{};
  if (bpp <= 8) {
    if (colours == 0 || colours > (1u << bpp)) colours = 1u << bpp;
    const long long got = f.ReadAt(14 + infoSize, palette.data(), colours * 4);
    if (got != static_cast<long long>(colours * 4)) return FxErr::ecBadArgument;
  }
  std::vector<uint8_t> data(stride * height);
  if (f.ReadAt(dataOffset, data.data(), data.size()) != static_cast<long long>(data.size())) return FxErr::ecBadArgument;

  const auto w = static_cast<unsigned>(width);
  auto rgbAt = [&](const uint8_t* row, unsigned x, uint8_t rgb[3]) {
    unsigned index = 0;
    switch (bpp) {
      case 1: index = (row[x >> 3] >> (7 - (x & 7))) & 1u; break;
      case 4: index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu; break;
      case 8: index = row[x]; break;
      case 24:
      case 32: {
        const uint8_t* px = row + x * (bpp / 8);
        rgb[0] = px[2];
        rgb[1] = px[1];
        rgb[2] = px[0];
        return;
      }
      default: break;
    }
    rgb[0] = palette[index * 4 + 2];
    rgb[1] = palette[index * 4 + 1];
    rgb[2] = palette[index * 4 + 0];
  };

  if (bpp == 1) {
    out = TFxBitmap::MakeMono(w, height);
  } else {
    out = TFxBitmap{};
    out.width = w;
    out.height = height;
    out.bitsPerPixel = 24;
    out.rowBytes = static_cast<size_t>(w) * 3;
    out.bits.resize(out.rowBytes * height);
  }
  for (unsigned y = 0; y < height; ++y) {
    const uint8_t* src = data.data() + (topDown ? y : height - 1 - y) * stride;
    for (unsigned x = 0; x < w; ++x) {
      uint8_t rgb[3];
      rgbAt(src, x, rgb);
      if (bpp == 1) {
        // Palette entries decide which index is black.
        out.SetBlack(x, y, rgb[0] + rgb[1] + rgb[2] < 384);
      } else {
        std::memcpy(out.Row(y) + x * 3, rgb, 3);
      }
    }
  }
  return 0;
}
