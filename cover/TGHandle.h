#pragma once
// TGHandle: the selection overlay of the design surface. It draws the
// outline around the selected objects and the eight handles (corners and
// edge midpoints) of a single selection, and says which handle, if any, a
// point is on.

#include <QColor>
#include <QRect>
#include <optional>
#include <vector>

#include "cover/core/CoverSurface.h"

class QPainter;

class TGHandle {
 public:
  QColor Color = Qt::black;
  QColor SecondaryColor = QColor(0x80, 0x80, 0x80);
  bool Locked = false;
  int GridX = 8;
  int GridY = 8;
  bool SnapToGrid() const { return GridX > 1 || GridY > 1; }

  // A point within 6 pixels of an edge or edge midpoint of the rectangle
  // grabs that handle: corners first, then edges. nullopt elsewhere.
  [[nodiscard]] static std::optional<TDragKind> HandleAt(const QRect& object, const QPoint& p);
  // The union of the selected rectangles, enlarged by 2 on each side, and
  // the handles when exactly one is selected.
  void Paint(QPainter& painter, const std::vector<QRect>& selected) const;

  static constexpr int kGrab = 6;
};
