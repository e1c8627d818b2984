#include "modemsetup/TQuickSetupForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QPushButton>
#include <QVBoxLayout>

#include "modemsetup/PortChoice.h"
#include "modemsetup/PreferenceFields.h"
#include "modemsetup/TPreferences.h"
#include "shell/Dialogs.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"

TQuickSetupForm::TQuickSetupForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TQuickSetupForm");
  setWindowTitle("Quick Setup Form");
  port_.SetIniFileName(IniFileName());
  port_.SetAutoOpen(false);
  port_.SetPromptForPort(false);
  ReadSettings();

  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel("Please choose the communications port of your fax modem and enter your name and fax "
                           "number. They are sent to the fax machines you send to.",
                           this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  auto* form = new QFormLayout;
  ComPort = new QComboBox(this);
  ComPort->setObjectName("ComPort");
  FillPortChoices(ComPort, port_);
  ComPort->setCurrentIndex(Settings.ComPort >= 0 && Settings.ComPort < ComPort->count() ? Settings.ComPort : -1);
  FindModemButton = new QPushButton("Find Modem Port", this);
  FindModemButton->setObjectName("FindModemButton");
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(ComPort, 1);
  portRow->addWidget(FindModemButton);
  form->addRow("Communications port:", portRow);
  Name = new QLineEdit(QString::fromStdString(Settings.Name), this);
  Name->setObjectName("Name");
  Name->setMaxLength(35);
  form->addRow("Your name:", Name);
  FaxNumber = new QLineEdit(QString::fromStdString(Settings.Fax), this);
  FaxNumber->setObjectName("FaxNumber");
  FaxNumber->setMaxLength(20);
  form->addRow("Your fax number:", FaxNumber);
  layout->addLayout(form);
  ValidationLabel = new QLabel(this);
  ValidationLabel->setObjectName("ValidationLabel");
  ValidationLabel->setStyleSheet("color: #b00000");
  ValidationLabel->hide();
  layout->addWidget(ValidationLabel);

  auto* buttons = new QHBoxLayout;
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cance&l", this);
  CancelButton->setObjectName("CancelButton");
  PreferencesButton = new QPushButton("Preferences", this);
  PreferencesButton->setObjectName("PreferencesButton");
  buttons->addStretch();
  for (QPushButton* b : {OkButton, CancelButton, PreferencesButton}) buttons->addWidget(b);
  layout->addLayout(buttons);

  connect(FindModemButton, &QPushButton::clicked, this, &TQuickSetupForm::FindModemButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &TQuickSetupForm::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TQuickSetupForm::CancelButtonClick);
  connect(PreferencesButton, &QPushButton::clicked, this, &TQuickSetupForm::PreferencesButtonClick);
}

void TQuickSetupForm::FindModemButtonClick() { FindModemPortFor(ComPort, port_, this); }

bool TQuickSetupForm::Store() {
  for (const auto& problem : {CheckPlainText(Name->text(), "The name"),
                              CheckPlainText(FaxNumber->text(), "The fax number")})
    if (problem) {
      ValidationLabel->setText(*problem);
      ValidationLabel->show();
      return false;
    }
  SetFirstStart(false);
  // No port chosen is the first port, as everywhere else in the program.
  Settings.ComPort = std::max(0, ComPort->currentIndex());
  Settings.Name = Name->text().toStdString();
  Settings.Fax = FaxNumber->text().toStdString();
  if (!WriteSettings())
    ShowInformation("The settings could not be written to " + QString::fromStdString(IniFileName()) +
                    ".\r\rThey are used until the program ends. Please check that the program folder can be "
                    "written.");
  return true;
}

void TQuickSetupForm::OkButtonClick() {
  if (Store()) done(kOk);
}

void TQuickSetupForm::CancelButtonClick() { done(kCancel); }

void TQuickSetupForm::PreferencesButtonClick() {
  if (Store()) done(kPreferences);
}

bool RunQuickSetup(QWidget* parent) {
  TQuickSetupForm form(parent ? parent : ApplicationWindow());
  const int result = form.exec();
  if (result == TQuickSetupForm::kPreferences) RunPreferencesWizard(parent);
  return result == TQuickSetupForm::kOk || result == TQuickSetupForm::kPreferences;
}

QDialog* OpenQuickSetup(QWidget* parent) {
  auto* form = new TQuickSetupForm(parent);
  form->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(form, &QDialog::finished, parent, [parent](int result) {
    // The wizard opens once the quick setup is gone.
    if (result == TQuickSetupForm::kPreferences)
      QTimer::singleShot(0, parent, [parent] { RunPreferencesWizard(parent); });
  });
  form->open();
  return form;
}
