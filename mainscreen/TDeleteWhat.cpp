#include "mainscreen/TDeleteWhat.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "shell/Help.h"

TDeleteWhat::TDeleteWhat(QWidget* parent) : QDialog(parent) {
  setObjectName("DeleteWhat");
  setWindowTitle("Delete Fax");
  auto* group = new QGroupBox(this);
  auto* choices = new QVBoxLayout(group);
  CoverButton = new QRadioButton("Delete Fax Cover", group);
  BodyButton = new QRadioButton("Delete Fax Body", group);
  BothButton = new QRadioButton("Delete Both Fax Cover && Fax Body", group);
  for (QRadioButton* b : {CoverButton, BodyButton, BothButton}) choices->addWidget(b);
  BothButton->setChecked(true);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("&Ok", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cance&l", QDialogButtonBox::RejectRole);
  QPushButton* help = buttons->addButton("&Help", QDialogButtonBox::HelpRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, &TDeleteWhat::HelpButtonClick);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

TDeleteChoice TDeleteWhat::Choice() const {
  if (CoverButton->isChecked()) return TDeleteChoice::Cover;
  if (BodyButton->isChecked()) return TDeleteChoice::Body;
  return TDeleteChoice::Both;
}

void TDeleteWhat::HelpButtonClick() { ShowHelpContext(HelpTopic::DeleteFax); }
