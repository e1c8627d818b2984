#pragma once
// Asks which faxes to delete by name or number: the sender of received faxes,
// the recipient or the fax number of outgoing ones, matched exactly or as a
// part, in any letter case. Ok is confirmed before the window closes.

#include <QDialog>

#include "store/core/Cleanup.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TDeleteForConditions : public QDialog {
  Q_OBJECT
 public:
  // On the outgoing page the recipient and number of the current row are
  // offered; on the received page its sender.
  TDeleteForConditions(TFaxKind kind, const QString& from, const QString& recipient, const QString& phone,
                       QWidget* parent = nullptr);

  // The chosen condition, once the window closed with Ok; a rule that is not
  // Valid() otherwise.
  TCleanupRule Rule() const;
  TConditionField Field() const;

  QRadioButton *FromButton, *RecipientButton, *PhoneButton;
  QLineEdit *FromEdit, *RecipientEdit, *PhoneEdit;
  QCheckBox* ExactCheck;
  QLabel* ExactNote;
  QPushButton *OkButton, *CancelButton;

 public slots:
  void OkButtonClick();

 private:
  QLineEdit* ChosenEdit() const;
};
