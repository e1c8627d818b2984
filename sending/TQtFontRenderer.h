#pragma once
// Enhanced text for fax pages drawn with a Qt font: the header line of every
// page the send window sends. Safe to use from the engine's threads (it only
// paints into images of its own).

#include <QFont>
#include <QString>

#include "faximage/TextRasterizer.h"

class TQtFontRenderer : public TFxFontRenderer {
 public:
  // The family (resolved through Qt's substitutes) and height in pixels.
  TQtFontRenderer(const QString& family, int pixelHeight);
  unsigned TextHeight(unsigned scale) const override;
  void DrawText(std::string_view text, unsigned scale, TFxBitmap& target) const override;

 private:
  QFont FontFor(unsigned scale) const;
  QString family_;
  int pixelHeight_;
};
