#include "cover/TFaxCoverPanel.h"

#include <QContextMenuEvent>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <filesystem>

#include "cover/TGetLabelText.h"
#include "cover/TGetSymbol.h"
#include "cover/core/FctFile.h"

namespace {

// Dragging starts only when the button has been down this long, so a click
// never moves anything.
constexpr qint64 kDragDelayMs = 10;

QRect ToQRect(const TCoverObject& o) { return QRect(o.Left, o.Top, o.Width, o.Height); }

// How far an object's painting may reach outside its rectangle: half the
// widest pen (10 points at 150 %) and the overlay's handles.
constexpr int kPaintMargin = 16;

std::filesystem::path ClipboardFile() { return std::filesystem::temp_directory_path() / "Clipbrd.tmp"; }

// One object as the designer shows it: captions as they stand (fields show
// "[Date]", the message box "[Fax Message]"), sizes scaled by the zoom.
void DrawDesignObject(QPainter& p, const TCoverObject& o, double zoom) {
  const QRect r = ToQRect(o);
  p.save();
  if (IsTextLike(o.Kind)) {
    QFont font(QString::fromStdString(o.Font.Name));
    // Points at 96 per inch; the zoomed size with its fraction cut off.
    font.setPixelSize(std::max(1, static_cast<int>(std::trunc(o.Font.Size * zoom)) * 96 / 72));
    font.setBold(o.Font.Bold);
    font.setItalic(o.Font.Italic);
    font.setUnderline(o.Font.Underline);
    p.setFont(font);
    p.setPen(QColor::fromRgb(o.Font.Color));
    p.setClipRect(r);
    // As on the fax page: one line cut at the box, only the message wraps.
    const int wrap = o.Kind == TCoverObjectKind::ckMessage ? int{Qt::TextWordWrap} : 0;
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop | wrap, QString::fromStdString(o.Caption));
  } else {
    const int pen = std::max(1, static_cast<int>(std::lround(o.Pen * zoom)));
    p.setPen(QPen(Qt::black, pen, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    if (o.Kind == TCoverObjectKind::ckShape) {
      p.setBrush(o.ShapeFilltype == sftFilledBlack   ? QBrush(Qt::black)
                 : o.ShapeFilltype == sftFilledWhite ? QBrush(Qt::white)
                                                     : QBrush(Qt::NoBrush));
      const QRectF inside = QRectF(r).adjusted(pen / 2.0, pen / 2.0, -pen / 2.0, -pen / 2.0);
      const qreal radius = std::max(o.Width, o.Height) * o.RoundPerc / 100.0;
      if (o.Shape == stRoundRect || o.Shape == stRoundSquare)
        p.drawRoundedRect(inside, radius / 2, radius / 2);
      else if (o.Shape == stEllipse || o.Shape == stCircle)
        p.drawEllipse(inside);
      else
        p.drawRect(inside);
    } else {
      const int x = r.x(), y = r.y(), w = r.width(), h = r.height();
      switch (o.LineStyle) {
        case lsHorizontal: p.drawLine(x, y, x + w, y); break;
        case lsVertical: p.drawLine(x, y, x, y + h); break;
        case lsAngleSlopingUp: p.drawLine(x, y + h, x + w, y); break;
        case lsAngleSlopingDown: p.drawLine(x, y, x + w, y + h); break;
      }
    }
  }
  p.restore();
}

}  // namespace

TFaxCoverPanel::TFaxCoverPanel(QWidget* parent) : QWidget(parent), snapshot_(surface_) {
  setObjectName("FaxCoverPanel");
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAutoFillBackground(false);
  handle_.GridX = handle_.GridY = 1;
  AskLabelText = [this](TCoverObject& o) {
    TGetLabelText dialog(QString::fromStdString(o.Caption), this);
    if (dialog.exec() != QDialog::Accepted) return false;
    o.Caption = dialog.Text().toStdString();
    return true;
  };
  AskSymbol = [this](TCoverObject& o) {
    TGetSymbol dialog(QFont(QString::fromStdString(o.Font.Name), o.Font.Size), QString::fromStdString(o.Caption),
                      this);
    if (dialog.exec() != QDialog::Accepted || dialog.Symbol().isEmpty()) return false;
    o.Caption = dialog.Symbol().toStdString();
    o.Font.Name = dialog.SymbolFont().family().toStdString();
    return true;
  };
  ClipboardWrite = [](const std::string& bytes) { (void)WriteTemplateBytes(ClipboardFile(), bytes); };
  ClipboardRead = []() -> std::optional<std::string> {
    std::string bytes;
    if (!ReadTemplateBytes(ClipboardFile(), bytes)) return std::nullopt;
    return bytes;
  };
  resize(sizeHint());
}

QSize TFaxCoverPanel::sizeHint() const { return QSize(surface_.Width(), surface_.Height()); }

void TFaxCoverPanel::SetPanelState(TLPanelState state) {
  surface_.PanelState = state;
  setCursor(state == psPointing ? Qt::ArrowCursor : Qt::CrossCursor);
}

void TFaxCoverPanel::SetGridSize(TGridSize size) {
  surface_.SetGridSize(size);
  SetSnapToGrid(surface_.SnapToGrid());
  update();
}

void TFaxCoverPanel::SetSnapToGrid(bool on) {
  surface_.SetSnapToGrid(on);
  handle_.GridX = surface_.GridX();
  handle_.GridY = surface_.GridY();
}

void TFaxCoverPanel::SetShowGrid(bool on) {
  surface_.ShowGrid = on;
  update();
}

void TFaxCoverPanel::SetDrawOutline(bool on) {
  surface_.DrawOutline = on;
  update();
}

void TFaxCoverPanel::SetShape(TLabelShapeType shape) {
  surface_.Shape = shape;
  update();
}

void TFaxCoverPanel::SetPrinting(bool on) {
  surface_.Printing = on;
  update();
}

void TFaxCoverPanel::SetPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void TFaxCoverPanel::SetColorPicture(const QImage& picture) {
  colorPicture_ = picture;
  update();
}

void TFaxCoverPanel::SetZoom(double z) {
  surface_.SetZoom(z);
  resize(sizeHint());
  update();
}

void TFaxCoverPanel::SurfaceReplaced() {
  resize(sizeHint());
  update();
}

void TFaxCoverPanel::Changed() {
  update();
  if (LabelChangedEvent) LabelChangedEvent();
}

std::optional<size_t> TFaxCoverPanel::ObjectAt(const QPoint& p) const {
  const auto& objects = surface_.Objects();
  for (size_t i = objects.size(); i-- > 0;)
    if (!objects[i].Unselectable && ToQRect(objects[i]).adjusted(0, 0, 1, 1).contains(p)) return i;
  return std::nullopt;
}

QRect TFaxCoverPanel::SelectionArea() const {
  if (surface_.Selection().empty()) return {};
  const TCoverRect b = surface_.SelectionBounds();
  return QRect(b.Left, b.Top, b.Width + 1, b.Height + 1)
      .adjusted(-kPaintMargin, -kPaintMargin, kPaintMargin, kPaintMargin);
}

void TFaxCoverPanel::paintEvent(QPaintEvent* event) {
  // Only the part that changed is painted: while one object is dragged over
  // many, the others outside its old and new places are not drawn again.
  const QRect dirty = event->rect();
  QPainter p(this);
  p.fillRect(dirty, Qt::white);
  if (const QImage& background = colorPicture_.isNull() ? picture_ : colorPicture_; !background.isNull()) {
    const double z = surface_.Zoom();
    p.drawImage(QRectF(0, 0, background.width() * z, background.height() * z), background);
  }
  if (surface_.ShowGrid && !surface_.Printing) {
    const int step = surface_.GridSize() == gs4x4 ? 4 : 8;
    p.setPen(Qt::darkGreen);
    const int x0 = std::max(0, dirty.left()) / step * step;
    const int y0 = std::max(0, dirty.top()) / step * step;
    for (int y = y0; y <= std::min(height() - 1, dirty.bottom()); y += step)
      for (int x = x0; x <= std::min(width() - 1, dirty.right()); x += step) p.drawPoint(x, y);
  }
  for (const TCoverObject& o : surface_.Objects())
    if (ToQRect(o).adjusted(-kPaintMargin, -kPaintMargin, kPaintMargin, kPaintMargin).intersects(dirty))
      DrawDesignObject(p, o, surface_.Zoom());
  if (surface_.Printing) return;
  if (surface_.DrawOutline) {
    p.setPen(QPen(Qt::gray, 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    const QRect outline = rect().adjusted(0, 0, -1, -1);
    switch (surface_.Shape) {
      case lsRectangle: p.drawRect(outline); break;
      case lsRoundRect: p.drawRoundedRect(outline, 10 * surface_.Zoom(), 10 * surface_.Zoom()); break;
      case lsEllipse: p.drawEllipse(outline); break;
    }
  }
  std::vector<QRect> selected;
  for (size_t i : surface_.Selection()) selected.push_back(ToQRect(surface_.Objects()[i]));
  handle_.Locked = selected.size() == 1 && surface_.Objects()[surface_.Selection()[0]].Locked;
  handle_.Paint(p, selected);
  if (mode_ == TMouseMode::Band) {
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(band_.normalized());
  }
}

void TFaxCoverPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  pressPos_ = pos;
  pressed_.start();
  mode_ = TMouseMode::Band;
  band_ = QRect(pos, pos);
  setCursor(Qt::CrossCursor);
  if (surface_.PanelState == psPointing) {
    const auto sel = surface_.Selection();
    const auto handle =
        sel.size() == 1 ? TGHandle::HandleAt(ToQRect(surface_.Objects()[sel[0]]), pos) : std::nullopt;
    if (handle) {
      mode_ = TMouseMode::Resize;
      dragKind_ = *handle;
      dragIndex_ = sel[0];
    } else if (const auto hit = ObjectAt(pos)) {
      if (event->modifiers() & Qt::ShiftModifier)
        surface_.ToggleSelected(*hit);
      else if (!surface_.IsSelected(*hit))
        surface_.SelectOnly(*hit);
      mode_ = TMouseMode::Move;
    }
    snapshot_ = surface_;
  }
  update();
}

void TFaxCoverPanel::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  switch (mode_) {
    case TMouseMode::None:
      UpdateCursor(pos);
      return;
    case TMouseMode::Band: {
      const QRect before = band_.normalized();
      band_.setBottomRight(pos);
      update(before.united(band_.normalized()).adjusted(-2, -2, 2, 2));
      return;
    }
    case TMouseMode::Move:
    case TMouseMode::Resize: {
      if (pressed_.elapsed() <= kDragDelayMs) return;
      const QRect before = SelectionArea();
      surface_ = snapshot_;
      if (mode_ == TMouseMode::Move)
        surface_.DragMove(pos.x() - pressPos_.x(), pos.y() - pressPos_.y());
      else
        surface_.DragResize(dragIndex_, dragKind_, pos.x() - pressPos_.x(), pos.y() - pressPos_.y());
      update(before.united(SelectionArea()));
      return;
    }
  }
}

void TFaxCoverPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const TMouseMode mode = mode_;
  mode_ = TMouseMode::None;
  if (mode == TMouseMode::Band) {
    const QPoint end = event->position().toPoint();
    const TCoverRect r = TCoverRect::FromCorners(pressPos_.x(), pressPos_.y(), end.x(), end.y());
    if (surface_.PanelState == psPointing) {
      surface_.SelectTouching(r, (event->modifiers() & Qt::ShiftModifier) != 0);
      UpdateCursor(end);
      update();
      return;
    }
    if (DroppedObjectEvent) DroppedObjectEvent(QRect(r.Left, r.Top, r.Width, r.Height));
    const TLPanelState tool = surface_.PanelState;
    const size_t index = surface_.PlaceObject(r);
    SetPanelState(psPointing);
    if (tool == psLabel && AskLabelText) (void)AskLabelText(surface_.Object(index));
    if (tool == psSymbolLabel && AskSymbol) (void)AskSymbol(surface_.Object(index));
    Changed();
    return;
  }
  const bool moved = surface_.Objects() != snapshot_.Objects();
  update();
  if (moved) Changed();
}

void TFaxCoverPanel::UpdateCursor(const QPoint& p) {
  if (surface_.PanelState != psPointing) return;
  const auto sel = surface_.Selection();
  if (sel.size() == 1) {
    const TCoverObject& o = surface_.Objects()[sel[0]];
    if (const auto h = TGHandle::HandleAt(ToQRect(o), p)) {
      if (o.Locked) {
        setCursor(Qt::ForbiddenCursor);
        return;
      }
      switch (*h) {
        case TDragKind::TopLeft:
        case TDragKind::BottomRight: setCursor(Qt::SizeFDiagCursor); return;
        case TDragKind::TopRight:
        case TDragKind::BottomLeft: setCursor(Qt::SizeBDiagCursor); return;
        case TDragKind::Top:
        case TDragKind::Bottom: setCursor(Qt::SizeVerCursor); return;
        default: setCursor(Qt::SizeHorCursor); return;
      }
    }
  }
  const auto hit = ObjectAt(p);
  setCursor(hit && surface_.Objects()[*hit].Locked ? Qt::ForbiddenCursor : Qt::ArrowCursor);
}

void TFaxCoverPanel::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
  const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
  if (ctrl && event->key() == Qt::Key_X) {
    CopyToClipboardFile();
    surface_.DeleteSelection();
  } else if (ctrl && event->key() == Qt::Key_C) {
    CopyToClipboardFile();
    return;
  } else if (ctrl && event->key() == Qt::Key_V) {
    PasteFromClipboardFile();
  } else if (event->key() == Qt::Key_Delete) {
    surface_.DeleteSelection();
  } else if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right || event->key() == Qt::Key_Up ||
             event->key() == Qt::Key_Down) {
    const TArrowKey key = event->key() == Qt::Key_Left    ? TArrowKey::Left
                          : event->key() == Qt::Key_Right ? TArrowKey::Right
                          : event->key() == Qt::Key_Up    ? TArrowKey::Up
                                                          : TArrowKey::Down;
    surface_.ArrowKey(key, shift);
  } else {
    QWidget::keyPressEvent(event);
    return;
  }
  Changed();
}

void TFaxCoverPanel::CopyToClipboardFile() {
  if (surface_.Selection().empty() || !ClipboardWrite) return;
  ClipboardWrite(surface_.CopySelection());
}

void TFaxCoverPanel::PasteFromClipboardFile() {
  if (!ClipboardRead) return;
  if (const std::optional<std::string> bytes = ClipboardRead()) (void)surface_.Paste(*bytes, PasteOffset);
}

bool AskForCoverFont(QWidget* parent, TCoverFont& f) {
  QFont current(QString::fromStdString(f.Name), f.Size);
  current.setBold(f.Bold);
  current.setItalic(f.Italic);
  current.setUnderline(f.Underline);
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, current, parent);
  if (!ok) return false;
  f.Name = chosen.family().toStdString();
  f.Size = std::max(1, chosen.pointSize());
  f.Bold = chosen.bold();
  f.Italic = chosen.italic();
  f.Underline = chosen.underline();
  return true;
}

void TFaxCoverPanel::ChooseFont(size_t index) {
  if (AskForCoverFont(this, surface_.Object(index).Font)) Changed();
}

void TFaxCoverPanel::contextMenuEvent(QContextMenuEvent* event) {
  const auto hit = ObjectAt(event->pos());
  if (hit && !surface_.IsSelected(*hit)) surface_.SelectOnly(*hit);
  QMenu* menu = hit ? MakeObjectMenu(*hit) : MakeSurfaceMenu();
  menu->exec(event->globalPos());
  delete menu;
}

QMenu* TFaxCoverPanel::MakeObjectMenu(size_t index) {
  auto* menu = new QMenu(this);
  const TCoverObject& o = surface_.Objects().at(index);
  auto onThis = [this, index](auto&& edit) {
    return [this, index, edit] {
      surface_.SelectOnly(index);
      edit();
      Changed();
    };
  };
  menu->addAction("Bring To Front", this, onThis([this] { surface_.BringToFront(); }));
  menu->addAction("Send To Back", this, onThis([this] { surface_.SendToBack(); }));
  menu->addAction("Cut", this, onThis([this] {
    CopyToClipboardFile();
    surface_.DeleteSelection();
  }));
  menu->addAction("Copy", this, onThis([this] { CopyToClipboardFile(); }));
  menu->addAction("Delete", this, onThis([this] { surface_.DeleteSelection(); }));
  menu->addAction("Clone", this, onThis([this] { surface_.CloneSelection(); }));
  menu->addSeparator();
  QAction* locked = menu->addAction("Locked", this, onThis([this, index] {
    surface_.Object(index).Locked = !surface_.Object(index).Locked;
  }));
  locked->setCheckable(true);
  locked->setChecked(o.Locked);
  QAction* unselectable = menu->addAction("Unselectable", this, onThis([this, index] {
    surface_.Object(index).Unselectable = !surface_.Object(index).Unselectable;
    surface_.ClearSelection();
  }));
  unselectable->setCheckable(true);
  unselectable->setChecked(o.Unselectable);
  menu->addSeparator();
  menu->addAction("Center Vertically", this, onThis([this] { surface_.CenterVertically(); }));
  menu->addAction("Center Horizontally", this, onThis([this] { surface_.CenterHorizontally(); }));

  const auto thickness = [&](QMenu* parent) {
    QMenu* sub = parent->addMenu("Line Thickness");
    for (int points = 1; points <= 10; ++points) {
      QAction* a = sub->addAction(QString::number(points) + " Point", this,
                                  onThis([this, index, points] { surface_.Object(index).Pen = points; }));
      a->setCheckable(true);
      a->setChecked(o.Pen == points);
    }
  };
  switch (o.Kind) {
    case TCoverObjectKind::ckSymbol:
      menu->addSeparator();
      menu->addAction("Symbol Selector", this, [this, index] {
        if (AskSymbol && AskSymbol(surface_.Object(index))) Changed();
      });
      break;
    case TCoverObjectKind::ckShape: {
      menu->addSeparator();
      thickness(menu);
      menu->addSeparator();
      const std::pair<const char*, TShapeFillType> fills[] = {
          {"Transparent", sftTransparent}, {"Filled - White", sftFilledWhite}, {"Filled - Black", sftFilledBlack}};
      for (const auto& [text, fill] : fills) {
        QAction* a = menu->addAction(text, this, onThis([this, index, fill = fill] {
          surface_.Object(index).ShapeFilltype = fill;
        }));
        a->setCheckable(true);
        a->setChecked(o.ShapeFilltype == fill);
      }
      if (o.Shape == stRoundRect || o.Shape == stRoundSquare) {
        menu->addSeparator();
        QMenu* sub = menu->addMenu("Degree of Rounding");
        for (int percent = 20; percent <= 80; percent += 10) {
          QAction* a = sub->addAction(QString::number(percent) + " %", this,
                                      onThis([this, index, percent] { surface_.Object(index).RoundPerc = percent; }));
          a->setCheckable(true);
          a->setChecked(o.RoundPerc == percent);
        }
      }
      break;
    }
    case TCoverObjectKind::ckLine: {
      menu->addSeparator();
      QMenu* style = menu->addMenu("Style");
      const std::pair<const char*, TLineStyle> styles[] = {{"Horizontal", lsHorizontal},
                                                           {"Vertical", lsVertical},
                                                           {"Angled Sloping Up", lsAngleSlopingUp},
                                                           {"Angled Sloping Down", lsAngleSlopingDown}};
      for (const auto& [text, value] : styles) {
        QAction* a = style->addAction(text, this, onThis([this, index, value = value] {
          surface_.Object(index).LineStyle = value;
        }));
        a->setCheckable(true);
        a->setChecked(o.LineStyle == value);
      }
      thickness(menu);
      menu->addSeparator();
      // Horizontal lines reach from the left to the right edge of the
      // surface, vertical ones from top to bottom, sloping ones both.
      menu->addAction("Stretch To Edges", this, onThis([this, index] {
        TCoverObject& line = surface_.Object(index);
        if (line.LineStyle != lsVertical) {
          line.Left = 0;
          line.Width = surface_.Width();
        }
        if (line.LineStyle != lsHorizontal) {
          line.Top = 0;
          line.Height = surface_.Height();
        }
      }));
      break;
    }
    default:
      menu->addSeparator();
      menu->addAction("Font", this, [this, index] { ChooseFont(index); });
      if (o.Kind == TCoverObjectKind::ckField) {
        QMenu* field = menu->addMenu("Field");
        for (int t = 0; t < kCoverFieldTypes; ++t) {
          const auto type = static_cast<TCoverFieldType>(t);
          QAction* a = field->addAction(QString::fromUtf8(FieldMenuCaption(type).data()), this,
                                        onThis([this, index, type] { SetFieldType(surface_.Object(index), type); }));
          a->setCheckable(true);
          a->setChecked(o.CoverFieldType == type);
        }
      }
      break;
  }
  return menu;
}

QMenu* TFaxCoverPanel::MakeSurfaceMenu() {
  auto* menu = new QMenu(this);
  auto edit = [this](auto&& f) {
    return [this, f] {
      f();
      Changed();
    };
  };
  menu->addAction("Bring To Front", this, edit([this] { surface_.BringToFront(); }));
  menu->addAction("Send To Back", this, edit([this] { surface_.SendToBack(); }));
  menu->addSeparator();
  menu->addAction("Cut", this, edit([this] {
    CopyToClipboardFile();
    surface_.DeleteSelection();
  }));
  menu->addAction("Copy", this, [this] { CopyToClipboardFile(); });
  menu->addAction("Paste", this, edit([this] { PasteFromClipboardFile(); }));
  menu->addSeparator();
  menu->addAction("Delete", this, edit([this] { surface_.DeleteSelection(); }));
  menu->addSeparator();
  menu->addAction("Align Left", this, edit([this] { surface_.Align(TAlign::Left); }));
  menu->addAction("Align Right", this, edit([this] { surface_.Align(TAlign::Right); }));
  menu->addAction("Align Tops", this, edit([this] { surface_.Align(TAlign::Tops); }));
  menu->addAction("Align Bottoms", this, edit([this] { surface_.Align(TAlign::Bottoms); }));
  menu->addSeparator();
  menu->addAction("Center Vertically", this, edit([this] { surface_.CenterVertically(); }));
  menu->addAction("Center Horizontally", this, edit([this] { surface_.CenterHorizontally(); }));
  menu->addSeparator();
  menu->addAction("Lock All", this, edit([this] { surface_.SetAllLocked(true); }));
  menu->addAction("Unlock All", this, edit([this] { surface_.SetAllLocked(false); }));
  menu->addSeparator();
  menu->addAction("Mark All Selectable", this, edit([this] { surface_.SetAllUnselectable(false); }));
  menu->addAction("Mark All Unselectable", this, edit([this] { surface_.SetAllUnselectable(true); }));
  menu->addAction("Select All", this, edit([this] { surface_.SelectAll(); }));
  menu->addSeparator();
  // The surface's font is the one new text objects get.
  menu->addAction("Font", this, [this] { (void)AskForCoverFont(this, surface_.DefaultFont); });
  return menu;
}
