#include "cover/CoverUndo.h"

#include "cover/TFaxCoverPanel.h"

TSurfaceSnapshot TakeSnapshot(const TFaxCoverPanel& panel) {
  const TCoverSurface& s = panel.Surface();
  return {s.Objects(), s.Selection(), s.Zoom()};
}

void PutSnapshot(TFaxCoverPanel& panel, const TSurfaceSnapshot& snapshot) {
  TCoverSurface& s = panel.Surface();
  const double zoom = s.Zoom();
  if (zoom != snapshot.Zoom) s.SetZoom(snapshot.Zoom);
  s.Restore(snapshot.Objects, snapshot.Selection);
  if (zoom != snapshot.Zoom) s.SetZoom(zoom);
  panel.SurfaceReplaced();
}

TSurfaceEdit::TSurfaceEdit(TFaxCoverPanel& panel, Shared before, Shared after, const QString& text)
    : QUndoCommand(text), panel_(panel), before_(std::move(before)), after_(std::move(after)) {}

void TSurfaceEdit::undo() { PutSnapshot(panel_, *before_); }

void TSurfaceEdit::redo() {
  if (done_) {
    done_ = false;
    return;
  }
  PutSnapshot(panel_, *after_);
}
