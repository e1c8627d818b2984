#pragma once
// The properties of the one selected object, editable: place, size, text
// and lock. Every edit is one change of the surface (and one undo step).
// With no or several objects selected the fields are disabled.

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QSpinBox;
class TFaxCoverPanel;

class TCoverProperties : public QWidget {
  Q_OBJECT
 public:
  TCoverProperties(TFaxCoverPanel& panel, QWidget* parent = nullptr);

  // Shows the selected object's values again.
  void Refresh();

  QSpinBox* LeftEdit = nullptr;
  QSpinBox* TopEdit = nullptr;
  QSpinBox* WidthEdit = nullptr;
  QSpinBox* HeightEdit = nullptr;
  QLineEdit* CaptionEdit = nullptr;
  QCheckBox* LockedBox = nullptr;

 private:
  void Apply();

  TFaxCoverPanel& panel_;
  bool refreshing_ = false;
};
