#pragma once
// The fax information editor ("Fax Information Editor"): recipient, fax
// number, regarding text, notes and codes of an outgoing fax, each held to
// the width its table field keeps.

#include <QDialog>

class QPushButton;
class TEnterEdit;
class TXbDataTable;

class TFaxEditor : public QDialog {
  Q_OBJECT

 public:
  explicit TFaxEditor(QWidget* parent = nullptr);

  // The five fields from and into the current row of the outgoing table.
  void LoadRow(const TXbDataTable& table);
  [[nodiscard]] bool StoreRow(TXbDataTable& table) const;

  TEnterEdit *Recipient, *FaxNumber, *Subject, *Notes, *Codes;
  QPushButton *PhonebookButton, *HelpButton, *OKButton, *CancelButton;

 public slots:
  void PhonebookButtonClick();
  void HelpButtonClick();
  void OKButtonClick();
  void CancelButtonClick();
};
