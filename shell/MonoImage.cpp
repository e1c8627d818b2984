#include "shell/MonoImage.h"

#include <algorithm>
#include <cstring>

#include <QPainter>

namespace {

const QList<QRgb>& BlackWhite() {
  static const QList<QRgb> table{qRgb(0, 0, 0), qRgb(255, 255, 255)};
  return table;
}

bool IsOurMono(const QImage& image) {
  return image.format() == QImage::Format_Mono && image.colorTable() == BlackWhite();
}

}  // namespace

QImage ToQImage(const TFxBitmap& bitmap) {
  if (bitmap.Empty() || bitmap.bitsPerPixel != 1 || bitmap.bits.size() < bitmap.rowBytes * bitmap.height)
    return {};
  QImage image(static_cast<int>(bitmap.width), static_cast<int>(bitmap.height), QImage::Format_Mono);
  if (image.isNull()) return {};
  image.setColorTable(BlackWhite());
  image.fill(1);
  const size_t bytes = std::min(bitmap.rowBytes, static_cast<size_t>(image.bytesPerLine()));
  for (unsigned y = 0; y < bitmap.height; ++y) std::memcpy(image.scanLine(static_cast<int>(y)), bitmap.Row(y), bytes);
  return image;
}

TFxBitmap FromQImage(const QImage& image, int threshold) {
  if (image.isNull()) return {};
  TFxBitmap out = TFxBitmap::MakeMono(static_cast<unsigned>(image.width()), static_cast<unsigned>(image.height()));
  if (IsOurMono(image)) {
    const size_t bytes = std::min(out.rowBytes, static_cast<size_t>(image.bytesPerLine()));
    for (unsigned y = 0; y < out.height; ++y) {
      std::memcpy(out.Row(y), image.constScanLine(static_cast<int>(y)), bytes);
      // Bits past the width stay white whatever the image held there.
      if (const unsigned tail = out.width % 8; tail != 0) out.Row(y)[out.width / 8] |= static_cast<uint8_t>(0xFFu >> tail);
    }
    return out;
  }
  QImage grey(image.size(), QImage::Format_Grayscale8);
  grey.fill(Qt::white);
  {
    // Composing over white makes transparent pixels paper, not ink.
    QPainter painter(&grey);
    painter.drawImage(0, 0, image);
  }
  for (unsigned y = 0; y < out.height; ++y) {
    const uchar* src = grey.constScanLine(static_cast<int>(y));
    uint8_t* row = out.Row(y);
    for (unsigned x = 0; x < out.width; ++x)
      if (src[x] < threshold) row[x / 8] = static_cast<uint8_t>(row[x / 8] & ~(0x80u >> (x % 8)));
  }
  return out;
}
