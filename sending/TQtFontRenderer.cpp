#include "sending/TQtFontRenderer.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

namespace {
// Windows-1252 codes 0x80-0x9F that differ from Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

QString FromCp1252(std::string_view text) {
  QString s;
  s.reserve(static_cast<qsizetype>(text.size()));
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    s += c >= 0x80 && c < 0xA0 ? QChar(kCp1252High[c - 0x80]) : QChar(c);
  }
  return s;
}
}  // namespace

TQtFontRenderer::TQtFontRenderer(const QString& family, int pixelHeight) : family_(family), pixelHeight_(pixelHeight) {}

QFont TQtFontRenderer::FontFor(unsigned scale) const {
  QFont f(family_);
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(pixelHeight_ * static_cast<int>(std::max(1u, scale)));
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

unsigned TQtFontRenderer::TextHeight(unsigned scale) const {
  return static_cast<unsigned>(QFontMetrics(FontFor(scale)).boundingRect("Wy").height());
}

void TQtFontRenderer::DrawText(std::string_view text, unsigned scale, TFxBitmap& target) const {
  if (target.Empty() || target.bitsPerPixel != 1) return;
  QImage image(static_cast<int>(target.width), static_cast<int>(target.height), QImage::Format_Grayscale8);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    p.setFont(FontFor(scale));
    p.setPen(Qt::black);
    p.drawText(QRect(0, 0, image.width(), image.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               FromCp1252(text));
  }
  for (unsigned y = 0; y < target.height; ++y) {
    const uchar* row = image.constScanLine(static_cast<int>(y));
    for (unsigned x = 0; x < target.width; ++x)
      if (row[x] < 128) target.SetBlack(x, y, true);
  }
}
