#include "cover/core/CoverSurface.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "cover/core/FcsFile.h"

namespace {

constexpr int kMinSize = 5;        // no drag makes an object smaller
constexpr int kMinKeySize = 10;    // Shift+Left/Up shrink only above this
int Scale(int v, double factor) {
  const double scaled = std::round(v * factor);
  return static_cast<int>(std::clamp(scaled, -2.0e9, 2.0e9));
}

}  // namespace

TCoverRect TCoverRect::FromCorners(int x1, int y1, int x2, int y2) {
  return {std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1), std::abs(y2 - y1)};
}

bool TCoverRect::Touches(const TCoverRect& o) const {
  return Left <= o.Right() && o.Left <= Right() && Top <= o.Bottom() && o.Top <= Bottom();
}

TCoverRect RectOf(const TCoverObject& o) { return {o.Left, o.Top, o.Width, o.Height}; }

void TCoverSurface::SetZoom(double z) {
  if (!(z > 0) || z == zoom_) return;
  const double factor = z / zoom_;
  width_ = Scale(width_, factor);
  height_ = Scale(height_, factor);
  for (TCoverObject& o : objects_) {
    o.Left = Scale(o.Left, factor);
    o.Top = Scale(o.Top, factor);
    o.Width = Scale(o.Width, factor);
    o.Height = Scale(o.Height, factor);
  }
  zoom_ = z;
}

void TCoverSurface::SetGridSize(TGridSize size) { gridSize_ = size; }
void TCoverSurface::SetSnapToGrid(bool on) { snap_ = on; }

std::vector<size_t> TCoverSurface::Selection() const {
  std::vector<size_t> v;
  for (size_t i = 0; i < objects_.size(); ++i)
    if (selected_[i]) v.push_back(i);
  return v;
}

TCoverRect TCoverSurface::SelectionBounds() const {
  bool any = false;
  int left = 0, top = 0, right = 0, bottom = 0;
  for (size_t i : Selection()) {
    const TCoverObject& o = objects_[i];
    left = any ? std::min(left, o.Left) : o.Left;
    top = any ? std::min(top, o.Top) : o.Top;
    right = any ? std::max(right, o.Left + o.Width) : o.Left + o.Width;
    bottom = any ? std::max(bottom, o.Top + o.Height) : o.Top + o.Height;
    any = true;
  }
  return any ? TCoverRect{left, top, right - left, bottom - top} : TCoverRect{};
}

std::string TCoverSurface::NextComponentName() const {
  std::set<int> used;
  for (const TCoverObject& o : objects_) {
    const std::string_view prefix = "Component";
    if (o.Name.size() <= prefix.size() || o.Name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = o.Name.substr(prefix.size());
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    used.insert(std::stoi(digits));
  }
  int n = 0;
  while (used.count(n) != 0) ++n;
  return "Component" + std::to_string(n);
}

size_t TCoverSurface::Add(TCoverObject object) {
  object.Name = NextComponentName();
  objects_.push_back(std::move(object));
  selected_.push_back(false);
  return objects_.size() - 1;
}

void TCoverSurface::Load(std::vector<TCoverObject> objects) {
  Clear();
  for (TCoverObject& o : objects) Add(std::move(o));
}

void TCoverSurface::Restore(std::vector<TCoverObject> objects, const std::vector<size_t>& selection) {
  objects_ = std::move(objects);
  selected_.assign(objects_.size(), false);
  for (size_t i : selection)
    if (i < objects_.size() && !objects_[i].Unselectable) selected_[i] = true;
}

void TCoverSurface::Clear() {
  objects_.clear();
  selected_.clear();
}

size_t TCoverSurface::PlaceObject(const TCoverRect& dragged) {
  TCoverObject o;
  switch (PanelState) {
    case psPointing:
      return npos;
    case psLabel:
      o = MakeCoverObject(TCoverObjectKind::ckText);
      o.Caption = "<text>";
      o.Font = DefaultFont;
      break;
    case psSymbolLabel:
      o = MakeCoverObject(TCoverObjectKind::ckSymbol);
      break;
    case psRectangle:
    case psEllipse:
    case psRoundRectangle:
      o = MakeCoverObject(TCoverObjectKind::ckShape);
      o.Shape = PanelState == psRectangle ? stRectangle : PanelState == psEllipse ? stEllipse : stRoundRect;
      break;
    case psLine:
      o = MakeCoverObject(TCoverObjectKind::ckLine);
      o.LineStyle = lsVertical;
      break;
    case psMessage:
      o = MakeCoverObject(TCoverObjectKind::ckMessage);
      o.Font = DefaultFont;
      break;
    case psImportance:
      o = MakeCoverObject(TCoverObjectKind::ckImportance);
      break;
    case psField:
      o = MakeCoverObject(TCoverObjectKind::ckField);
      break;
  }
  o.Left = dragged.Left;
  o.Top = dragged.Top;
  o.Width = dragged.Width < 25 ? 50 : dragged.Width;
  o.Height = dragged.Height < 15 ? 15 : dragged.Height;
  const size_t index = Add(std::move(o));
  SelectOnly(index);
  PanelState = psPointing;
  return index;
}

void TCoverSurface::SelectOnly(size_t index) {
  ClearSelection();
  if (index < objects_.size() && !objects_[index].Unselectable) selected_[index] = true;
}

void TCoverSurface::ToggleSelected(size_t index) {
  if (index < objects_.size() && !objects_[index].Unselectable) selected_[index] = !selected_[index];
}

void TCoverSurface::ClearSelection() { std::fill(selected_.begin(), selected_.end(), false); }

void TCoverSurface::SelectAll() {
  for (size_t i = 0; i < objects_.size(); ++i) selected_[i] = !objects_[i].Unselectable;
}

void TCoverSurface::SelectTouching(const TCoverRect& band, bool shift) {
  if (!shift) ClearSelection();
  for (size_t i = 0; i < objects_.size(); ++i) {
    if (objects_[i].Unselectable || !band.Touches(RectOf(objects_[i]))) continue;
    selected_[i] = shift ? !selected_[i] : true;
  }
}

void TCoverSurface::KeepInside(TCoverObject& o) const {
  o.Left = std::clamp(o.Left, 0, std::max(0, width_ - o.Width));
  o.Top = std::clamp(o.Top, 0, std::max(0, height_ - o.Height));
}

void TCoverSurface::DragMove(int dx, int dy) {
  for (size_t i : Selection()) {
    TCoverObject& o = objects_[i];
    if (o.Locked) continue;
    if (dx != 0) o.Left = SnapX(o.Left + dx);
    if (dy != 0) o.Top = SnapY(o.Top + dy);
    KeepInside(o);
  }
}

void TCoverSurface::DragResize(size_t index, TDragKind handle, int dx, int dy) {
  if (index >= objects_.size() || objects_[index].Locked) return;
  TCoverObject& o = objects_[index];
  const bool left = handle == TDragKind::TopLeft || handle == TDragKind::BottomLeft || handle == TDragKind::Left;
  const bool right = handle == TDragKind::TopRight || handle == TDragKind::BottomRight || handle == TDragKind::Right;
  const bool top = handle == TDragKind::TopLeft || handle == TDragKind::TopRight || handle == TDragKind::Top;
  const bool bottom = handle == TDragKind::BottomLeft || handle == TDragKind::BottomRight || handle == TDragKind::Bottom;
  if (handle == TDragKind::Move) {
    if (dx != 0) o.Left = SnapX(o.Left + dx);
    if (dy != 0) o.Top = SnapY(o.Top + dy);
    KeepInside(o);
    return;
  }
  if (left) {
    const int rightEdge = o.Left + o.Width;
    o.Left = std::min(SnapX(o.Left + dx), rightEdge - kMinSize);
    o.Width = rightEdge - o.Left;
  }
  if (right) o.Width = std::max(SnapX(o.Left + o.Width + dx) - o.Left, kMinSize);
  if (top) {
    const int bottomEdge = o.Top + o.Height;
    o.Top = std::min(SnapY(o.Top + dy), bottomEdge - kMinSize);
    o.Height = bottomEdge - o.Top;
  }
  if (bottom) o.Height = std::max(SnapY(o.Top + o.Height + dy) - o.Top, kMinSize);
}

void TCoverSurface::ArrowKey(TArrowKey key, bool shift) {
  const std::vector<size_t> sel = Selection();
  if (sel.empty()) return;
  if (shift && sel.size() == 1) {
    TCoverObject& o = objects_[sel[0]];
    if (o.Locked) return;
    switch (key) {
      case TArrowKey::Left:
        if (o.Width > kMinKeySize) --o.Width;
        break;
      case TArrowKey::Up:
        if (o.Height > kMinKeySize) --o.Height;
        break;
      case TArrowKey::Right:
        if (o.Left + o.Width + 1 <= width_) ++o.Width;
        break;
      case TArrowKey::Down:
        if (o.Top + o.Height + 1 <= height_) ++o.Height;
        break;
    }
    return;
  }
  const TCoverRect b = SelectionBounds();
  int dx = 0, dy = 0;
  switch (key) {
    case TArrowKey::Left:
      if (b.Left > 0) dx = -1;
      break;
    case TArrowKey::Up:
      if (b.Top > 0) dy = -1;
      break;
    case TArrowKey::Right:
      if (b.Right() + 1 <= width_) dx = 1;
      break;
    case TArrowKey::Down:
      if (b.Bottom() + 1 <= height_) dy = 1;
      break;
  }
  for (size_t i : sel) {
    if (objects_[i].Locked) continue;
    objects_[i].Left += dx;
    objects_[i].Top += dy;
  }
}

void TCoverSurface::Align(TAlign how) {
  const std::vector<size_t> sel = Selection();
  if (sel.empty()) return;
  const TCoverRect b = SelectionBounds();
  for (size_t i : sel) {
    TCoverObject& o = objects_[i];
    switch (how) {
      case TAlign::Left: o.Left = b.Left; break;
      case TAlign::Right: o.Left = b.Right() - o.Width; break;
      case TAlign::Tops: o.Top = b.Top; break;
      case TAlign::Bottoms: o.Top = b.Bottom() - o.Height; break;
    }
  }
}

void TCoverSurface::CenterVertically() {
  for (size_t i : Selection()) objects_[i].Top = height_ / 2 - objects_[i].Height / 2;
}

void TCoverSurface::CenterHorizontally() {
  for (size_t i : Selection()) objects_[i].Left = width_ / 2 - objects_[i].Width / 2;
}

void TCoverSurface::SetAllLocked(bool locked) {
  for (TCoverObject& o : objects_) o.Locked = locked;
}

void TCoverSurface::SetAllUnselectable(bool unselectable) {
  for (TCoverObject& o : objects_) o.Unselectable = unselectable;
  if (unselectable) ClearSelection();
}

void TCoverSurface::BringToFront() {
  // A stable partition keeps the order within each group.
  std::vector<TCoverObject> back, front;
  for (size_t i = 0; i < objects_.size(); ++i) (selected_[i] ? front : back).push_back(objects_[i]);
  const size_t n = back.size();
  back.insert(back.end(), front.begin(), front.end());
  objects_ = std::move(back);
  for (size_t i = 0; i < selected_.size(); ++i) selected_[i] = i >= n;
}

void TCoverSurface::SendToBack() {
  std::vector<TCoverObject> back, front;
  for (size_t i = 0; i < objects_.size(); ++i) (selected_[i] ? back : front).push_back(objects_[i]);
  const size_t n = back.size();
  back.insert(back.end(), front.begin(), front.end());
  objects_ = std::move(back);
  for (size_t i = 0; i < selected_.size(); ++i) selected_[i] = i < n;
}

void TCoverSurface::DeleteSelection() {
  std::vector<TCoverObject> kept;
  for (size_t i = 0; i < objects_.size(); ++i)
    if (!selected_[i]) kept.push_back(std::move(objects_[i]));
  objects_ = std::move(kept);
  selected_.assign(objects_.size(), false);
}

std::string TCoverSurface::CopySelection() const {
  std::vector<TCoverObject> chosen;
  for (size_t i : Selection()) chosen.push_back(objects_[i]);
  return WriteFcs(chosen);
}

std::string TCoverSurface::CutSelection() {
  std::string stream = CopySelection();
  DeleteSelection();
  return stream;
}

bool TCoverSurface::Paste(std::string_view stream, int offset) {
  TFcsReadResult read = ReadFcs(stream);
  if (!read.Ok()) return false;
  ClearSelection();
  for (TCoverObject& o : read.Objects) {
    o.Left += offset;
    o.Top += offset;
    const bool selectable = !o.Unselectable;
    selected_[Add(std::move(o))] = selectable;
  }
  return true;
}

void TCoverSurface::CloneSelection() { (void)Paste(CopySelection()); }

void TCoverSurface::Distribute(bool horizontal) {
  std::vector<size_t> sel = Selection();
  if (sel.size() < 3) return;
  auto start = [&](size_t i) -> int& { return horizontal ? objects_[i].Left : objects_[i].Top; };
  auto extent = [&](size_t i) { return horizontal ? objects_[i].Width : objects_[i].Height; };
  std::stable_sort(sel.begin(), sel.end(), [&](size_t a, size_t b) { return start(a) < start(b); });
  long long used = 0;
  for (size_t i : sel) used += extent(i);
  const long long span = static_cast<long long>(start(sel.back())) + extent(sel.back()) - start(sel.front());
  const long long gaps = static_cast<long long>(sel.size()) - 1;
  // May be negative when the objects overlap: they then overlap evenly.
  const long long room = span - used;
  long long position = start(sel.front());
  for (size_t k = 0; k < sel.size(); ++k) {
    if (k > 0 && k + 1 < sel.size() && !objects_[sel[k]].Locked) start(sel[k]) = static_cast<int>(position);
    position += extent(sel[k]) + room / gaps + (static_cast<long long>(k) < room % gaps ? 1 : 0);
  }
}
