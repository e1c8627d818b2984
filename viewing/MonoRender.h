#pragma once
// Turning and scaling monochrome fax pages for the screen.
//
// Pages are the unpacker's bitmaps (1 bit per pixel, a set bit is white).
// Shrinking averages the ink of every source pixel a screen pixel covers
// into a grey level, so thin strokes turn grey instead of vanishing as they
// would with sampling; whole pages at 1:1 stay 1-bit images.

#include <QImage>
#include <QRgb>

#include "faximage/Bitmap.h"

// A scale of a page: displayed width = width × horizMult / horizDiv (integer
// division), the same for the height. A pair with equal values is 1:1.
struct TViewScale {
  unsigned horizMult = 1, horizDiv = 1, vertMult = 1, vertDiv = 1;

  [[nodiscard]] bool Identity() const { return horizMult == horizDiv && vertMult == vertDiv; }
  [[nodiscard]] unsigned ScaledWidth(unsigned w) const {
    return static_cast<unsigned>(uint64_t{w} * horizMult / horizDiv);
  }
  [[nodiscard]] unsigned ScaledHeight(unsigned h) const {
    return static_cast<unsigned>(uint64_t{h} * vertMult / vertDiv);
  }
  bool operator==(const TViewScale&) const = default;
};

// Quarter turns clockwise: 1 is 90 degrees clockwise, 2 a half turn, 3 is
// 90 degrees counter-clockwise. After a quarter turn the height is the old
// width rounded up to a multiple of 8, the added rows white. An empty bitmap
// stays empty.
[[nodiscard]] TFxBitmap FxRotateMono(const TFxBitmap& page, int quarterTurns);

// The page as it is painted: at 1:1 a 1-bit image in the two colours;
// otherwise an 8-bit image whose 256 colours run from fg (all ink) to bg
// (no ink). A null image for an empty page or a scale that leaves nothing.
[[nodiscard]] QImage RenderPage(const TFxBitmap& page, const TViewScale& scale, QRgb fg, QRgb bg);

// The painted page kept between paints. A grey page of up to 8 million
// pixels becomes 32 bits a pixel once, so each paint is a plain copy; 1-bit
// pages and larger ones stay as they are and painting converts the part in
// view.
[[nodiscard]] QImage ReadyToPaint(QImage image);

// The block (x, y, w, h) of a page in its own pixels as a new bitmap; parts
// outside the page are white.
[[nodiscard]] TFxBitmap CopyBlock(const TFxBitmap& page, unsigned x, unsigned y, unsigned w, unsigned h);
