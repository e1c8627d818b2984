#include "sending/TFaxEditor.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <utility>

#include "sending/TEnterEdit.h"
#include "sending/TPhoneBook.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/core/Folders.h"
#include "store/StoreText.h"
#include "store/core/Xbase.h"

namespace {

struct TTableField {
  const char* field;
  int width;
};
constexpr TTableField kRecipient{"RECIPIENT", 35}, kPhone{"PHONE", 25}, kSubject{"SUBJECT", 50},
    kNotes{"NOTES", 50}, kCodes{"CODES", 25};

// Each edit of the window with the table field it shows.
std::array<std::pair<TEnterEdit*, TTableField>, 5> EditsOf(const TFaxEditor& w) {
  return {{{w.Recipient, kRecipient}, {w.FaxNumber, kPhone}, {w.Subject, kSubject}, {w.Notes, kNotes}, {w.Codes, kCodes}}};
}

}  // namespace

TFaxEditor::TFaxEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("TFaxEditor");
  setWindowTitle("Fax Information Editor");
  Recipient = TEnterEdit::Make(this, "Recipient", kRecipient.width);
  FaxNumber = TEnterEdit::Make(this, "FaxNumber", kPhone.width);
  Subject = TEnterEdit::Make(this, "Subject", kSubject.width);
  Notes = TEnterEdit::Make(this, "Notes", kNotes.width);
  Codes = TEnterEdit::Make(this, "Codes", kCodes.width);
  Subject->setMinimumWidth(Subject->fontMetrics().averageCharWidth() * (kSubject.width + 2));
  PhonebookButton = NamedButton(this, "PhonebookButton", "&Phonebook");
  HelpButton = NamedButton(this, "HelpButton", "&Help");
  OKButton = NamedButton(this, "OKButton", "&Accept");
  OKButton->setDefault(true);
  CancelButton = NamedButton(this, "CancelButton", "Cance&l");

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
  for (const auto& [edit, column] : EditsOf(*this))
    edit->setText(FitTableText(TableText(table.FieldText(column.field)), column.width));
}

bool TFaxEditor::StoreRow(TXbDataTable& table) const {
  for (const auto& [edit, column] : EditsOf(*this))
    if (!table.SetFieldText(column.field, ToTableText(FitTableText(edit->text(), column.width)))) return false;
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
