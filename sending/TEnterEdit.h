#pragma once
// The one-line edit field of the fax editors: Enter moves the focus on to the
// next control of the window, as Tab does, instead of being typed or pressing
// the window's default button.

#include <QLineEdit>

class TEnterEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TEnterEdit(QWidget* parent = nullptr);
  // A field named `name` (its objectName) holding a table text `width` wide.
  static TEnterEdit* Make(QWidget* parent, const char* name, int width);

  // Makes the field hold what a table text field `width` characters wide
  // stores: typed and pasted text is turned into its Windows-1252 form at
  // once and cut at the width, so the field shows exactly what is saved.
  void SetTableWidth(int width);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};
