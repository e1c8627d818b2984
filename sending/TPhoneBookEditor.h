#pragma once
// The phone book entry editor: a name and a fax number, each held to the
// width of its table field.

#include <QDialog>

class QPushButton;
class TEnterEdit;

class TPhoneBookEditor : public QDialog {
  Q_OBJECT

 public:
  // Widths of the phone book's NAME and PHONE fields.
  static constexpr int kNameWidth = 35;
  static constexpr int kNumberWidth = 25;

  explicit TPhoneBookEditor(QWidget* parent = nullptr);

  TEnterEdit* Name;
  TEnterEdit* Number;
  QPushButton* OKButton;
  QPushButton* Cancelbutton;
  QPushButton* HelpButton;

 public slots:
  void OKButtonClick();
  void CancelbuttonClick();
  void HelpButtonClick();
};
