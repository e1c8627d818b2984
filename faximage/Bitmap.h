#pragma once
// In-memory bitmaps exchanged with the converter and the unpacker.
//
// Monochrome (1 bit per pixel) rows follow the Windows convention the rest
// of the program expects: most significant bit leftmost, a set bit is WHITE,
// a clear bit black; rows are rowBytes long (the unpacker makes them even).
// Colour bitmaps hold 24 bits per pixel as R, G, B bytes or 32 bits per pixel
// as B, G, R, A bytes (the memory order of a 32-bit 0xAARRGGBB pixel on a
// little-endian machine). Rows go top to bottom.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

struct TFxBitmap {
  unsigned width = 0;
  unsigned height = 0;
  unsigned bitsPerPixel = 1;
  size_t rowBytes = 0;
  std::vector<uint8_t> bits;

  bool Empty() const { return width == 0 || height == 0; }
  uint8_t* Row(unsigned y) { return bits.data() + y * rowBytes; }
  const uint8_t* Row(unsigned y) const { return bits.data() + y * rowBytes; }

  // A white monochrome bitmap (rows of (width + 7) / 8 bytes rounded up to even).
  static TFxBitmap MakeMono(unsigned width, unsigned height);
  // Monochrome only; pixels outside the rows read as white and are not set.
  bool IsBlack(unsigned x, unsigned y) const;
  void SetBlack(unsigned x, unsigned y, bool black);
};

// Reads a Windows BMP file (1, 4, 8, 24 or 32 bits per pixel, uncompressed)
// into a monochrome bitmap when it has 1 bit per pixel (palette index mapped
// through the colour table) or a 24-bit colour bitmap otherwise. Returns 0,
// -errno, or -1002 for a malformed or unsupported file.
int FxLoadBmpFile(const std::filesystem::path& path, TFxBitmap& out);
