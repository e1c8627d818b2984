#include "docimport/qt/QtImageLoader.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cstring>

int FxLoadImageWithQt(const std::filesystem::path& file, FxGreyImage& out, std::string& error) {
  QImageReader reader(QString::fromStdString(file.string()));
  reader.setAutoTransform(true);
  // Room for a 64-megapixel photograph; beyond that Qt refuses the file.
  QImageReader::setAllocationLimit(256);
  // A picture much larger than the fax page is decoded smaller where the
  // format can (JPEG scales while decoding), so it never sits in memory whole.
  const QSize size = reader.size();
  constexpr int kEnough = 4096;
  if (size.isValid() && (size.width() > kEnough || size.height() > kEnough) &&
      reader.supportsOption(QImageIOHandler::ScaledSize)) {
    reader.setScaledSize(size.scaled(kEnough, kEnough, Qt::KeepAspectRatio));
  }
  QImage image = reader.read();
  if (image.isNull()) {
    error = "The image could not be read: " + reader.errorString().toStdString() + ".";
    return ecImportDamaged;
  }
  if (image.hasAlphaChannel()) {
    QImage paper(image.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter painter(&paper);
    painter.drawImage(0, 0, image);
    painter.end();
    image = paper;
  }
  // A picture decoded smaller keeps its physical size: its resolution drops
  // with it (the reader's size is before any rotation, so compare the
  // longer sides).
  double factor = 1.0;
  if (size.isValid() && size.width() > 0 && size.height() > 0) {
    factor = static_cast<double>(std::max(image.width(), image.height())) / std::max(size.width(), size.height());
  }
  const double dpiX = image.dotsPerMeterX() * 0.0254 * factor, dpiY = image.dotsPerMeterY() * 0.0254 * factor;
  image = image.convertToFormat(QImage::Format_Grayscale8);
  if (image.isNull()) {
    error = "The image is too large to convert.";
    return ecImportDamaged;
  }
  out.width = static_cast<unsigned>(image.width());
  out.height = static_cast<unsigned>(image.height());
  out.pixels.resize(size_t{out.width} * out.height);
  for (unsigned y = 0; y < out.height; ++y)
    std::memcpy(out.Row(y), image.constScanLine(static_cast<int>(y)), out.width);
  // Qt reports 72 dpi (2835 dots per metre) for files that state nothing.
  const bool stated = image.dotsPerMeterX() != 2835 || image.dotsPerMeterY() != 2835;
  out.dpiX = stated ? dpiX : 0;
  out.dpiY = stated ? dpiY : 0;
  return 0;
}
