#include "sending/TPhoneBookEditor.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "sending/TEnterEdit.h"
#include "shell/Help.h"

TPhoneBookEditor::TPhoneBookEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("TPhoneBookEditor");
  setWindowTitle("Phone Book Editor");
  Name = new TEnterEdit(this);
  Name->setObjectName("Name");
  Name->SetTableWidth(kNameWidth);
  Number = new TEnterEdit(this);
  Number->setObjectName("Number");
  Number->SetTableWidth(kNumberWidth);
  // Room for a full name in the dialog's font.
  Name->setMinimumWidth(Name->fontMetrics().averageCharWidth() * (kNameWidth + 2));

  OKButton = new QPushButton("&Accept", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  Cancelbutton = new QPushButton("Cance&l", this);
  Cancelbutton->setObjectName("Cancelbutton");
  HelpButton = new QPushButton("&Help", this);
  HelpButton->setObjectName("HelpButton");

  auto* form = new QFormLayout;
  form->addRow(new QLabel("Name", this), Name);
  form->addRow(new QLabel("Fax Number", this), Number);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(Cancelbutton);
  buttons->addWidget(HelpButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  connect(OKButton, &QPushButton::clicked, this, &TPhoneBookEditor::OKButtonClick);
  connect(Cancelbutton, &QPushButton::clicked, this, &TPhoneBookEditor::CancelbuttonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TPhoneBookEditor::HelpButtonClick);
}

void TPhoneBookEditor::OKButtonClick() { done(QDialog::Accepted); }

void TPhoneBookEditor::CancelbuttonClick() { done(QDialog::Rejected); }

void TPhoneBookEditor::HelpButtonClick() { ShowHelpContext(HelpTopic::PhoneBookEditor); }
