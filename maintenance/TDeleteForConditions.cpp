#include "maintenance/TDeleteForConditions.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "shell/Dialogs.h"
#include "store/StoreText.h"

TDeleteForConditions::TDeleteForConditions(TFaxKind kind, const QString& from, const QString& recipient,
                                           const QString& phone, QWidget* parent)
    : QDialog(parent) {
  setObjectName("DeleteForConditions");
  setWindowTitle("Delete Faxes Where....");
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  const auto line = [&](int row, const char* buttonName, const char* caption, const char* editName, const char* hint,
                        QRadioButton*& button, QLineEdit*& edit) {
    button = new QRadioButton(caption, this);
    button->setObjectName(buttonName);
    edit = new QLineEdit(this);
    edit->setObjectName(editName);
    edit->setToolTip(hint);
    button->setToolTip(hint);
    grid->addWidget(button, row, 0);
    grid->addWidget(edit, row, 1);
  };
  line(0, "FromButton", "Fax is FROM:", "FromEdit", "For received faxes, who was the fax from", FromButton, FromEdit);
  line(1, "RecipientButton", "RECIPIENT is:", "RecipientEdit", "For SENT faxes, who is the fax to", RecipientButton,
       RecipientEdit);
  line(2, "PhoneButton", "FAX # is:", "PhoneEdit", "For SENT faxes, what fax number is the fax to", PhoneButton,
       PhoneEdit);
  layout->addLayout(grid);
  ExactCheck = new QCheckBox("Text must match exactly", this);
  ExactCheck->setObjectName("ExactCheck");
  ExactCheck->setChecked(true);
  ExactNote = new QLabel("(uncheck to allow  partial matches)", this);
  ExactNote->setObjectName("ExactNote");
  layout->addWidget(ExactCheck);
  layout->addWidget(ExactNote);
  auto* buttons = new QHBoxLayout;
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setAutoDefault(false);
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  layout->addLayout(buttons);

  if (kind == TFaxKind::Outgoing) {
    FromButton->setEnabled(false);
    FromEdit->setEnabled(false);
    RecipientButton->setChecked(true);
    RecipientEdit->setText(recipient);
    PhoneEdit->setText(phone);
  } else {
    for (QWidget* w : std::initializer_list<QWidget*>{RecipientButton, RecipientEdit, PhoneButton, PhoneEdit})
      w->setEnabled(false);
    FromButton->setChecked(true);
    FromEdit->setText(from.trimmed());
  }
  connect(OkButton, &QPushButton::clicked, this, &TDeleteForConditions::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TConditionField TDeleteForConditions::Field() const {
  if (FromButton->isChecked()) return TConditionField::From;
  return PhoneButton->isChecked() ? TConditionField::Phone : TConditionField::Recipient;
}

QLineEdit* TDeleteForConditions::ChosenEdit() const {
  switch (Field()) {
    case TConditionField::From:
      return FromEdit;
    case TConditionField::Phone:
      return PhoneEdit;
    case TConditionField::Recipient:
      break;
  }
  return RecipientEdit;
}

void TDeleteForConditions::OkButtonClick() {
  if (ChosenEdit()->text().trimmed().isEmpty()) {
    ShowInformation("Please enter a value");
    return;
  }
  if (AskYesNo("Are you sure you wish to delete all faxes matching this criteria?", "VERIFY DELETE")) accept();
}

TCleanupRule TDeleteForConditions::Rule() const {
  if (result() != QDialog::Accepted) return {};
  // The value is compared as the table stores text; it never becomes part
  // of an expression, so quotes or operators in it are just characters.
  return RuleMatching(Field(), ToTableText(ChosenEdit()->text()), ExactCheck->isChecked());
}
