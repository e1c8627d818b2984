#include "sending/TGetSenderInfo.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "sending/TEnterEdit.h"
#include "shell/Dialogs.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/StoreText.h"

namespace {

TEnterEdit* Field(QWidget* parent, const char* name, int width, const std::string& value) {
  TEnterEdit* e = TEnterEdit::Make(parent, name, width);
  e->setText(FitTableText(QString::fromStdString(value), width));
  return e;
}

// The settings keep UTF-8; the texts are kept in the form the cover and the
// tables can show.
std::string Stored(const TEnterEdit* e) { return FitTableText(e->text(), e->maxLength()).toStdString(); }

}  // namespace

TGetSenderInfo::TGetSenderInfo(QWidget* parent) : QDialog(parent) {
  setObjectName("TGetSenderInfo");
  setWindowTitle("Sender Information");
  Name = Field(this, "Name", 35, Settings.Name);
  FaxNumber = Field(this, "FaxNumber", 20, Settings.Fax);
  Voicenumber = Field(this, "Voicenumber", 20, Settings.Voice);
  Company = Field(this, "Company", 35, Settings.Company);
  Name->setMinimumWidth(Name->fontMetrics().averageCharWidth() * 37);
  OKButton = new QPushButton("&Accept", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  CancelButton = new QPushButton("Cance&l", this);
  CancelButton->setObjectName("CancelButton");

  auto* form = new QFormLayout;
  form->addRow("Your &name", Name);
  form->addRow("Your &fax number (Station ID#)", FaxNumber);
  form->addRow("Your &voice number", Voicenumber);
  form->addRow("Your &company", Company);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, &TGetSenderInfo::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TGetSenderInfo::CancelButtonClick);
}

void TGetSenderInfo::OKButtonClick() {
  Settings.Name = Stored(Name);
  Settings.Fax = Stored(FaxNumber);
  Settings.Voice = Stored(Voicenumber);
  Settings.Company = Stored(Company);
  // A settings file that cannot be written still keeps the values for this run.
  if (!WriteSettings())
    ShowInformation("The settings could not be written to\r" + QString::fromStdString(IniFileName()));
  done(QDialog::Accepted);
}

void TGetSenderInfo::CancelButtonClick() { done(QDialog::Rejected); }
