#include "cover/TGHandle.h"

#include <QPainter>
#include <cstdlib>

std::optional<TDragKind> TGHandle::HandleAt(const QRect& r, const QPoint& p) {
  const int left = r.x(), top = r.y(), right = r.x() + r.width(), bottom = r.y() + r.height();
  const int midX = left + r.width() / 2, midY = top + r.height() / 2;
  const auto near = [](int a, int b) { return std::abs(a - b) <= kGrab; };
  const bool nearLeft = near(p.x(), left), nearRight = near(p.x(), right);
  const bool nearTop = near(p.y(), top), nearBottom = near(p.y(), bottom);
  if (nearLeft && nearTop) return TDragKind::TopLeft;
  if (nearRight && nearTop) return TDragKind::TopRight;
  if (nearLeft && nearBottom) return TDragKind::BottomLeft;
  if (nearRight && nearBottom) return TDragKind::BottomRight;
  if (nearTop && near(p.x(), midX)) return TDragKind::Top;
  if (nearBottom && near(p.x(), midX)) return TDragKind::Bottom;
  if (nearLeft && near(p.y(), midY)) return TDragKind::Left;
  if (nearRight && near(p.y(), midY)) return TDragKind::Right;
  return std::nullopt;
}

void TGHandle::Paint(QPainter& painter, const std::vector<QRect>& selected) const {
  if (selected.empty()) return;
  QRect all = selected.front();
  for (const QRect& r : selected) all = all.united(r);
  painter.save();
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(SecondaryColor, 1, Qt::DotLine));
  painter.drawRect(all.adjusted(-2, -2, 2, 2));
  if (selected.size() == 1) {
    const QRect& r = selected.front();
    const int xs[] = {r.x(), r.x() + r.width() / 2, r.x() + r.width()};
    const int ys[] = {r.y(), r.y() + r.height() / 2, r.y() + r.height()};
    painter.setPen(Color);
    painter.setBrush(Locked ? SecondaryColor : Color);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        if (i != 1 || j != 1) painter.drawRect(QRect(xs[i] - 2, ys[j] - 2, 5, 5));
  }
  painter.restore();
}
