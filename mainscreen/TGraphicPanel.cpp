#include "mainscreen/TGraphicPanel.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

// Draws a bevel of the given width inside r and returns the rectangle left inside it.
QRect DrawBevel(QPainter& p, QRect r, TGraphicPanel::TBevel bevel, int width, const QPalette& pal) {
  if (bevel == TGraphicPanel::TBevel::None) return r;
  const QColor topLeft = bevel == TGraphicPanel::TBevel::Raised ? pal.color(QPalette::Light) : pal.color(QPalette::Dark);
  const QColor bottomRight = bevel == TGraphicPanel::TBevel::Raised ? pal.color(QPalette::Dark) : pal.color(QPalette::Light);
  for (int i = 0; i < width && r.width() > 1 && r.height() > 1; ++i) {
    p.setPen(topLeft);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(bottomRight);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    r.adjust(1, 1, -1, -1);
  }
  return r;
}

}  // namespace

TGraphicPanel::TGraphicPanel(QWidget* parent) : QWidget(parent), color_(palette().color(QPalette::Button)) {
  resize(185, 41);
}

void TGraphicPanel::SetAlignment(Qt::Alignment a) { alignment_ = a; update(); }
void TGraphicPanel::SetBevelInner(TBevel b) { bevelInner_ = b; update(); }
void TGraphicPanel::SetBevelOuter(TBevel b) { bevelOuter_ = b; update(); }
void TGraphicPanel::SetBevelWidth(int w) { bevelWidth_ = std::max(w, 0); update(); }
void TGraphicPanel::SetBorderWidth(int w) { borderWidth_ = std::max(w, 0); update(); }
void TGraphicPanel::SetBorderStyle(TBorderStyle s) { borderStyle_ = s; update(); }
void TGraphicPanel::SetColor(const QColor& c) { color_ = c; update(); }

void TGraphicPanel::SetCaption(const QString& c) {
  if (c == caption_) return;
  caption_ = c;
  update();
}

void TGraphicPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect r = rect();
  if (borderStyle_ == TBorderStyle::Single) {
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    r.adjust(1, 1, -1, -1);
  }
  r = DrawBevel(p, r, bevelOuter_, bevelWidth_, palette());
  p.fillRect(r, color_);
  r.adjust(borderWidth_, borderWidth_, -borderWidth_, -borderWidth_);
  r = DrawBevel(p, r, bevelInner_, bevelWidth_, palette());
  p.fillRect(r, color_);
  // One line, vertically centred on the height of a capital W.
  const QFontMetrics fm(font());
  const int textHeight = fm.boundingRect('W').height();
  const int baseline = r.top() + (r.height() + textHeight) / 2;
  const QString text = fm.elidedText(caption_, Qt::ElideRight, r.width() - 4);
  int x = r.left() + 2;
  if (alignment_ & Qt::AlignHCenter) x = r.left() + (r.width() - fm.horizontalAdvance(text)) / 2;
  else if (alignment_ & Qt::AlignRight) x = r.right() - 2 - fm.horizontalAdvance(text);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(x, baseline, text);
}
