#pragma once
// The design surface's content and rules without a window: the objects in
// z-order (back to front), the selection, the drawing tool, the grid and the
// zoom, and every edit the designer's mouse, keys and menus make. The
// designer window draws this and forwards its input here; tests drive it
// directly. Coordinates are surface pixels at the current zoom (768 x 960 at
// zoom 1, 96 per inch).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cover/core/CoverObjects.h"

// The drawing tool of the surface.
enum TLPanelState {
  psPointing,
  psLabel,
  psSymbolLabel,
  psRectangle,
  psEllipse,
  psRoundRectangle,
  psLine,
  psMessage,
  psImportance,
  psField,
};

enum TGridSize { gs4x4, gs8x8 };

// The outline drawn around the surface when DrawOutline is set.
enum TLabelShapeType { lsRectangle, lsRoundRect, lsEllipse };

// What a drag with the selection overlay does: move, or resize by a handle.
enum class TDragKind { Move, TopLeft, TopRight, BottomLeft, BottomRight, Top, Left, Bottom, Right };

enum class TArrowKey { Left, Right, Up, Down };

enum class TAlign { Left, Right, Tops, Bottoms };

struct TCoverRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  // The rectangle between two corners given in any order.
  static TCoverRect FromCorners(int x1, int y1, int x2, int y2);
  bool Touches(const TCoverRect& other) const;
  bool operator==(const TCoverRect&) const = default;
};

[[nodiscard]] TCoverRect RectOf(const TCoverObject& o);

class TCoverSurface {
 public:
  static constexpr int kBaseWidth = 768;
  static constexpr int kBaseHeight = 960;
  static constexpr int kMaxComponentNumber = 1000;

  TLPanelState PanelState = psPointing;
  TCoverFont DefaultFont;  // for new text and message objects
  bool ShowGrid = false;
  bool DrawOutline = false;
  TLabelShapeType Shape = lsRectangle;
  // Drawn for paper or a picture: objects only, no grid, outline or overlay.
  bool Printing = false;

  int Width() const { return width_; }
  int Height() const { return height_; }
  double Zoom() const { return zoom_; }
  // Surface and objects rescaled by z / old zoom, rounded; z <= 0 is ignored.
  void SetZoom(double z);

  TGridSize GridSize() const { return gridSize_; }
  void SetGridSize(TGridSize size);
  bool SnapToGrid() const { return snap_; }
  void SetSnapToGrid(bool on);
  int GridX() const { return snap_ ? GridStep() : 1; }
  int GridY() const { return snap_ ? GridStep() : 1; }
  // The spacing of the grid points, whether snapping is on or not.
  int GridStep() const { return gridSize_ == gs4x4 ? 4 : 8; }

  const std::vector<TCoverObject>& Objects() const { return objects_; }
  // For property edits (caption, font, field type, ...) of one object.
  TCoverObject& Object(size_t index) { return objects_.at(index); }
  bool IsSelected(size_t index) const { return index < selected_.size() && selected_[index]; }
  std::vector<size_t> Selection() const;
  // The union of the selected objects' rectangles; empty when none.
  TCoverRect SelectionBounds() const;

  // Adds an object on top with a fresh component name; returns its index.
  size_t Add(TCoverObject object);
  // Replaces everything with these objects, renamed, nothing selected.
  void Load(std::vector<TCoverObject> objects);
  void Clear();
  // Puts back objects taken from Objects() earlier, names as they are (an
  // undo), with the given indexes selected.
  void Restore(std::vector<TCoverObject> objects, const std::vector<size_t>& selection);

  // A rectangle dragged with a drawing tool: the object the tool makes,
  // placed there (at least 50 wide when narrower than 25, at least 15 high),
  // selected alone; the tool goes back to the pointer. With the pointer
  // tool nothing is made and npos is returned.
  size_t PlaceObject(const TCoverRect& dragged);
  static constexpr size_t npos = static_cast<size_t>(-1);

  void SelectOnly(size_t index);
  // Shift+click: a selectable object joins or leaves the selection.
  void ToggleSelected(size_t index);
  void ClearSelection();
  void SelectAll();
  // The pointer tool's rubber band: objects touching it are selected; with
  // Shift, touched objects already selected are dropped and others added,
  // without Shift the old selection goes first.
  void SelectTouching(const TCoverRect& band, bool shift);

  // A drag of the overlay by (dx, dy). Moving moves every selected object;
  // resizing changes only the handle's edges of the single object given.
  // Changed coordinates snap down to the grid; sizes stay at least 5; moved
  // objects stay inside the surface; locked objects stay where they are.
  void DragMove(int dx, int dy);
  void DragResize(size_t index, TDragKind handle, int dx, int dy);
  // Arrow keys: move the selection by one pixel, or with Shift and one
  // object selected shrink (Left, Up; not below 11) or grow (Right, Down;
  // inside the surface) it. Locked objects keep their place and size.
  void ArrowKey(TArrowKey key, bool shift);

  void Align(TAlign how);
  // Three or more selected objects spaced evenly along one axis: the first
  // and the last (by their left or top edge) stay, the gaps between
  // neighbours become equal. Locked objects keep their place.
  void Distribute(bool horizontal);
  void CenterVertically();
  void CenterHorizontally();
  void SetAllLocked(bool locked);
  void SetAllUnselectable(bool unselectable);
  void BringToFront();
  void SendToBack();
  void DeleteSelection();

  // The selection as a component stream, for the clipboard file.
  [[nodiscard]] std::string CopySelection() const;
  // Cut = copy, then delete.
  [[nodiscard]] std::string CutSelection();
  // Objects read from a component stream, renamed, moved offset pixels
  // right and down, added on top and selected. False (nothing added) for a
  // stream that cannot be read.
  static constexpr int kPasteOffset = 15;
  [[nodiscard]] bool Paste(std::string_view stream, int offset = kPasteOffset);
  // Copies of the selection by the same road as paste.
  void CloneSelection();

  // "Component" + the lowest number from 0 to 1000 that no object has yet
  // (past 1000, the next number above every one in use).
  [[nodiscard]] std::string NextComponentName() const;

 private:
  int SnapX(int v) const { return v / GridX() * GridX(); }
  int SnapY(int v) const { return v / GridY() * GridY(); }
  void KeepInside(TCoverObject& o) const;

  std::vector<TCoverObject> objects_;
  std::vector<bool> selected_;
  int width_ = kBaseWidth;
  int height_ = kBaseHeight;
  double zoom_ = 1.0;
  TGridSize gridSize_ = gs8x8;
  bool snap_ = false;
};
