#pragma once
// Monochrome fax bitmaps as Qt images and back: the one bridge between the
// fax image library's 1-bit pages and Qt's painting, for the viewer, the
// printer and the cover pages.

#include <QImage>

#include "faximage/Bitmap.h"

// A deep copy of a monochrome bitmap as a QImage::Format_Mono image whose
// colour index 0 is black and 1 is white, so rows copy bit for bit. An empty
// or non-monochrome bitmap gives a null image.
[[nodiscard]] QImage ToQImage(const TFxBitmap& bitmap);

// Any image as a monochrome bitmap: a pixel whose grey level (0 black to 255
// white, alpha composed over white) is below threshold becomes black. Images
// already in the layout ToQImage makes are copied without looking at pixels.
[[nodiscard]] TFxBitmap FromQImage(const QImage& image, int threshold = 128);
