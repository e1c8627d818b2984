#include "shell/TStartingFaxForm.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "shell/core/Settings.h"

namespace {
constexpr int kShowMilliseconds = 15000;

QFrame* Panel(QWidget* parent, const char* name, std::initializer_list<const char*> lines) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(panel);
  for (const char* line : lines) {
    auto* label = new QLabel(line, panel);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
  }
  return panel;
}
}  // namespace

TStartingFaxForm::TStartingFaxForm(QWidget* parent) : QDialog(parent) {
  setObjectName("StartingFaxForm");
  setWindowTitle("Starting Receive mode...");
  // A title without buttons: the window closes through "Ok" or its timer.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  ReadyPanel = Panel(this, "ReadyPanel",
                     {"Corvane is in receive mode now", "To end receive mode, press the STOP button",
                      "While in receive mode, sending faxes is not possible"});
  StartingPanel = Panel(this, "StartingPanel", {"Please wait while fax receive mode is started....."});
  StartingPanel->hide();
  DontShowCheckBox = new QCheckBox("Do not show this again", this);
  DontShowCheckBox->setObjectName("DontShowCheckBox");
  DontShowCheckBox->hide();
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->hide();
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kShowMilliseconds);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ReadyPanel);
  layout->addWidget(StartingPanel);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(DontShowCheckBox);
  bottom->addStretch();
  bottom->addWidget(OkButton);
  layout->addLayout(bottom);

  connect(OkButton, &QPushButton::clicked, this, &TStartingFaxForm::OkButtonClick);
  connect(DontShowCheckBox, &QCheckBox::clicked, this, &TStartingFaxForm::DontShowCheckBoxClick);
  connect(Timer1, &QTimer::timeout, this, &TStartingFaxForm::Timer1Timer);
}

void TStartingFaxForm::ShowStartingPanel() {
  ReadyPanel->hide();
  OkButton->hide();
  DontShowCheckBox->hide();
  StartingPanel->show();
}

void TStartingFaxForm::ShowReadyPanel() {
  StartingPanel->hide();
  ReadyPanel->show();
  OkButton->show();
  DontShowCheckBox->show();
}

void TStartingFaxForm::OkButtonClick() { close(); }

void TStartingFaxForm::DontShowCheckBoxClick() {
  Settings.DisableReceivingFaxesNotification = DontShowCheckBox->isChecked();
}

void TStartingFaxForm::Timer1Timer() { hide(); }

void TStartingFaxForm::showEvent(QShowEvent* e) {
  Timer1->start();
  QDialog::showEvent(e);
}

void TStartingFaxForm::hideEvent(QHideEvent* e) {
  Timer1->stop();
  QDialog::hideEvent(e);
}
