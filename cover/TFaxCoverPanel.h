#pragma once
// TFaxCoverPanel: the design surface as a widget. It paints the objects of
// its TCoverSurface (which holds every rule of placing, selecting, moving
// and arranging) with the selection overlay, and turns mouse, keys and the
// popup menus into the surface's edits.

#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>

#include "cover/TGHandle.h"
#include "cover/core/CoverSurface.h"

class QMenu;

// Asks for a font in the font dialog, starting from font; true, with font
// changed, when the user chose one.
[[nodiscard]] bool AskForCoverFont(QWidget* parent, TCoverFont& font);

class TFaxCoverPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TFaxCoverPanel(QWidget* parent = nullptr);

  TCoverSurface& Surface() { return surface_; }
  const TCoverSurface& Surface() const { return surface_; }
  TGHandle& Handle() { return handle_; }

  TLPanelState PanelState() const { return surface_.PanelState; }
  void SetPanelState(TLPanelState state);
  void SetGridSize(TGridSize size);
  void SetSnapToGrid(bool on);
  void SetShowGrid(bool on);
  void SetDrawOutline(bool on);
  void SetShape(TLabelShapeType shape);
  void SetPrinting(bool on);
  // Background pictures, drawn under the objects in place of the white
  // surface, their pixels being surface pixels at zoom 1 (so they grow and
  // shrink with the zoom). The colour picture is drawn when there is one,
  // else the plain one. They belong to the screen only: the template files
  // carry the objects alone.
  const QImage& Picture() const { return picture_; }
  void SetPicture(const QImage& picture);
  const QImage& ColorPicture() const { return colorPicture_; }
  void SetColorPicture(const QImage& picture);
  void SetZoom(double z);
  // Replaces the objects (a template opened) and repaints.
  void SurfaceReplaced();

  // Called with the rectangle the user dragged with a drawing tool, before
  // the object is made.
  std::function<void(const QRect&)> DroppedObjectEvent;
  // Called after every change of the objects.
  std::function<void()> LabelChangedEvent;
  // Asks for the text of a new text object; false keeps "<text>". The
  // default opens TGetLabelText; tests put their own answer here.
  std::function<bool(TCoverObject&)> AskLabelText;
  // Asks for the character (and font) of a symbol object; false keeps it.
  // The default opens TGetSymbol.
  std::function<bool(TCoverObject&)> AskSymbol;

  // Where cut and copy put the selection's component stream and where paste
  // takes it from. By default the file "Clipbrd.tmp" in the temporary
  // folder; the designer window uses the system clipboard.
  std::function<void(const std::string&)> ClipboardWrite;
  std::function<std::optional<std::string>()> ClipboardRead;
  // How far a pasted copy lies right of and below its original.
  int PasteOffset = TCoverSurface::kPasteOffset;

  // The popup menus, built for the object under the cursor or the surface;
  // the caller shows and deletes them.
  [[nodiscard]] QMenu* MakeObjectMenu(size_t index);
  [[nodiscard]] QMenu* MakeSurfaceMenu();

  // Repaints and reports a change made to the surface's objects.
  void Changed();

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  enum class TMouseMode { None, Band, Move, Resize };

  std::optional<size_t> ObjectAt(const QPoint& p) const;
  // The selection's rectangle with everything its painting may cover.
  QRect SelectionArea() const;
  void UpdateCursor(const QPoint& p);
  void CopyToClipboardFile();
  void PasteFromClipboardFile();
  void ChooseFont(size_t index);

  TCoverSurface surface_;
  TCoverSurface snapshot_;  // the surface when a drag began
  TGHandle handle_;
  TMouseMode mode_ = TMouseMode::None;
  TDragKind dragKind_ = TDragKind::Move;
  size_t dragIndex_ = 0;
  QPoint pressPos_;
  QRect band_;
  QElapsedTimer pressed_;
  QImage picture_;
  QImage colorPicture_;
};
