#pragma once
// Undo for the design surface. Every change the surface reports becomes one
// command holding the objects before and after it; undo and redo put one or
// the other back. The snapshots carry the zoom they were taken at, so that
// zooming between an edit and its undo changes nothing.

#include <QUndoCommand>
#include <memory>
#include <vector>

#include "cover/core/CoverObjects.h"

class TFaxCoverPanel;

struct TSurfaceSnapshot {
  std::vector<TCoverObject> Objects;
  std::vector<size_t> Selection;
  double Zoom = 1.0;
};

[[nodiscard]] TSurfaceSnapshot TakeSnapshot(const TFaxCoverPanel& panel);
// Puts a snapshot back onto the panel at the panel's present zoom.
void PutSnapshot(TFaxCoverPanel& panel, const TSurfaceSnapshot& snapshot);

class TSurfaceEdit : public QUndoCommand {
 public:
  // The change has been made already: the first redo does nothing.
  // Neighbouring commands share the snapshot between them.
  using Shared = std::shared_ptr<const TSurfaceSnapshot>;
  TSurfaceEdit(TFaxCoverPanel& panel, Shared before, Shared after, const QString& text);
  void undo() override;
  void redo() override;

 private:
  TFaxCoverPanel& panel_;
  Shared before_, after_;
  bool done_ = true;
};
