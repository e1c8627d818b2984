// The send window's controls and their places.
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "sending/TSendFaxForm.h"

void TSendFaxForm::BuildLayout() {
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  auto label = [this](const QString& text) { return new QLabel(text, this); };
  ToLabel = new QLabel(this);
  ToLabel->setObjectName("ToLabel");
  Subjectlabel = new QLabel(this);
  Subjectlabel->setObjectName("Subjectlabel");
  sfPhoneNumber = new QLineEdit(this);
  sfPhoneNumber->setObjectName("sfPhoneNumber");
  sfPhoneNumber->setMaxLength(25);
  sfDialPrefix = new QLineEdit(this);
  sfDialPrefix->setObjectName("sfDialPrefix");
  DisablePrefix = new QCheckBox("Disable", this);
  DisablePrefix->setObjectName("DisablePrefix");
  sfDialsuffix = new QLineEdit(this);
  sfDialsuffix->setObjectName("sfDialsuffix");
  DisableSuffix = new QCheckBox("Disable", this);
  DisableSuffix->setObjectName("DisableSuffix");
  grid->addWidget(label("To:"), 0, 0);
  grid->addWidget(ToLabel, 0, 1, 1, 2);
  grid->addWidget(label("Subject:"), 1, 0);
  grid->addWidget(Subjectlabel, 1, 1, 1, 2);
  grid->addWidget(label("Fax #:"), 2, 0);
  grid->addWidget(sfPhoneNumber, 2, 1, 1, 2);
  grid->addWidget(label("Dial Prefix:"), 3, 0);
  grid->addWidget(sfDialPrefix, 3, 1);
  grid->addWidget(DisablePrefix, 3, 2);
  grid->addWidget(label("Dial Suffix:"), 4, 0);
  grid->addWidget(sfDialsuffix, 4, 1);
  grid->addWidget(DisableSuffix, 4, 2);
  layout->addLayout(grid);
  layout->addWidget(label("Configuration:"));
  SetupDisplayMemo = new QPlainTextEdit(this);
  SetupDisplayMemo->setObjectName("SetupDisplayMemo");
  SetupDisplayMemo->setReadOnly(true);
  SetupDisplayMemo->setMinimumHeight(160);
  layout->addWidget(SetupDisplayMemo, 1);
  auto* buttons = new QHBoxLayout;
  auto button = [this, buttons](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  SendFaxButton = button("SendFaxButton", "&Send Fax Now");
  SendFaxButton->setDefault(true);
  PreferencesButton = button("PreferencesButton", "Preferences");
  ProblemSolverButton = button("ProblemSolverButton", "Problem Solver");
  Helpbutton = button("Helpbutton", "Help");
  CloseButton = button("CloseButton", "C&lose");
  layout->addLayout(buttons);
  status = new QLabel(this);
  status->setObjectName("status");
  status->setFrameShape(QFrame::Panel);
  status->setFrameShadow(QFrame::Sunken);
  status->hide();
  layout->addWidget(status);
  resize(480, 460);
}
