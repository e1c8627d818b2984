#include "cover/TGetLabelText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/Help.h"

TGetLabelText::TGetLabelText(const QString& text, QWidget* parent) : QDialog(parent) {
  setObjectName("TGetLabelText");
  setWindowTitle("Text");
  Prompt = new QLabel("Enter Text", this);
  Edit1 = new QLineEdit(text, this);
  Edit1->setObjectName("Edit1");
  Edit1->selectAll();
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  HelpButton = new QPushButton("Help", this);
  HelpButton->setObjectName("HelpButton");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(HelpButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Prompt);
  layout->addWidget(Edit1);
  layout->addLayout(buttons);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpContext(HelpTopic::Contents); });
  resize(320, sizeHint().height());
}

QString TGetLabelText::Text() const { return Edit1->text(); }
