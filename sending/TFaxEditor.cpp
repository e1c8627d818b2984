#include "sending/TFaxEditor.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "sending/TEnterEdit.h"
#include "sending/TPhoneBook.h"
#include "shell/Help.h"
#include "shell/core/Folders.h"
#include "store/StoreText.h"
#include "store/core/Xbase.h"

namespace {

struct TFieldSpec {
  const char* field;
  int width;
};
constexpr TFieldSpec kRecipient{"RECIPIENT", 35}, kPhone{"PHONE", 25}, kSubject{"SUBJECT", 50},
    kNotes{"NOTES", 50}, kCodes{"CODES", 25};

TEnterEdit* Field(QWidget* parent, const char* name, int width) {
  auto* e = new TEnterEdit(parent);
  e->setObjectName(name);
  e->SetTableWidth(width);
  return e;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

TFaxEditor::TFaxEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("TFaxEditor");
  setWindowTitle("Fax Information Editor");
  Recipient = Field(this, "Recipient", kRecipient.width);
  FaxNumber = Field(this, "FaxNumber", kPhone.width);
  Subject = Field(this, "Subject", kSubject.width);
  Notes = Field(this, "Notes", kNotes.width);
  Codes = Field(this, "Codes", kCodes.width);
  Subject->setMinimumWidth(Subject->fontMetrics().averageCharWidth() * (kSubject.width + 2));
  PhonebookButton = Button(this, "PhonebookButton", "&Phonebook");
  HelpButton = Button(this, "HelpButton", "&Help");
  OKButton = Button(this, "OKButton", "&Accept");
  OKButton->setDefault(true);
  CancelButton = Button(this, "CancelButton", "Cance&l");

  auto* form = new QFormLayout;
  form->addRow("Recipient", Recipient);
  form->addRow("Fax Number", FaxNumber);
  form->addRow("Regarding", Subject);
  form->addRow("Notes", Notes);
  form->addRow("Codes", Codes);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(PhonebookButton);
  buttons->addStretch();
  for (QPushButton* b : {OKButton, CancelButton, HelpButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  connect(PhonebookButton, &QPushButton::clicked, this, &TFaxEditor::PhonebookButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TFaxEditor::HelpButtonClick);
  connect(OKButton, &QPushButton::clicked, this, &TFaxEditor::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TFaxEditor::CancelButtonClick);
}

void TFaxEditor::LoadRow(const TXbDataTable& table) {
  for (auto [edit, spec] : {std::pair{Recipient, kRecipient}, std::pair{FaxNumber, kPhone},
                            std::pair{Subject, kSubject}, std::pair{Notes, kNotes}, std::pair{Codes, kCodes}})
    edit->setText(FitTableText(TableText(table.FieldText(spec.field)), spec.width));
}

bool TFaxEditor::StoreRow(TXbDataTable& table) const {
  for (auto [edit, spec] : {std::pair{Recipient, kRecipient}, std::pair{FaxNumber, kPhone},
                            std::pair{Subject, kSubject}, std::pair{Notes, kNotes}, std::pair{Codes, kCodes}})
    if (!table.SetFieldText(spec.field, ToTableText(FitTableText(edit->text(), spec.width)))) return false;
  return true;
}

void TFaxEditor::PhonebookButtonClick() {
  QString name, number;
  if (!TPhoneBook::Choose(ProgramFolder(), this, name, number)) return;
  Recipient->setText(FitTableText(name, kRecipient.width));
  FaxNumber->setText(FitTableText(number, kPhone.width));
}

void TFaxEditor::HelpButtonClick() { ShowHelpContext(HelpTopic::FaxInformation); }

void TFaxEditor::OKButtonClick() { done(QDialog::Accepted); }

void TFaxEditor::CancelButtonClick() { done(QDialog::Rejected); }
