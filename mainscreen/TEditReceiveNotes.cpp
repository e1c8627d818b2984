#include "mainscreen/TEditReceiveNotes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/Placement.h"

TEditReceiveNotes::TEditReceiveNotes(QWidget* parent) : QDialog(parent) {
  setObjectName("EditReceiveNotes");
  setWindowTitle("Received Fax Notes");
  FromLabel = new QLabel("From: ", this);
  FromLabel->setObjectName("FromLabel");
  // The sender's identifier comes from the far end: shown as plain text.
  FromLabel->setTextFormat(Qt::PlainText);
  NotesLabel = new QLabel("Notes", this);
  NotesLabel->setObjectName("NotesLabel");
  NotesEdit = new QLineEdit(this);
  NotesEdit->setObjectName("NotesEdit");
  NotesEdit->setMaxLength(kNotesWidth);
  NotesEdit->setMinimumWidth(NotesEdit->fontMetrics().averageCharWidth() * (kNotesWidth + 2));
  NotesLabel->setBuddy(NotesEdit);
  AcceptButton = new QPushButton("&Accept", this);
  AcceptButton->setObjectName("AcceptButton");
  AcceptButton->setDefault(true);
  CancelButton = new QPushButton("Cance&l", this);
  CancelButton->setObjectName("CancelButton");
  connect(AcceptButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(AcceptButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FromLabel);
  layout->addWidget(NotesLabel);
  layout->addWidget(NotesEdit);
  layout->addLayout(buttons);
}

void TEditReceiveNotes::SetFrom(const QString& from) { FromLabel->setText("From: " + from); }

void TEditReceiveNotes::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  CentreForm(this);
}
