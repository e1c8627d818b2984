#include "modemsetup/TModemInitStringHelperForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "modemsetup/InitString.h"

TModemInitStringHelperForm::TModemInitStringHelperForm(const QString& current, bool forSending, QWidget* parent)
    : QDialog(parent), forSending_(forSending), result_(current) {
  setObjectName("TModemInitStringHelperForm");
  setWindowTitle("Modem Initialization String Helper");
  auto* layout = new QVBoxLayout(this);
  auto* typeRow = new QHBoxLayout;
  typeRow->addWidget(new QLabel("I have a:", this));
  ModemType = new QComboBox(this);
  ModemType->setObjectName("ModemType");
  ModemType->addItems({"Hayes Compatible modem   or   UNKNOWN", "US Robotics/3COM Modem   or   WinModem",
                       "US Robotics/3COM Sportster 28.8 or Early 33.6 model",
                       "US Robotics/3COM Late Model Sportster 33.6 model", "US Robotics/3COM Sportster X2 modem",
                       "Cirrus Logic or AT&T modem"});
  typeRow->addWidget(ModemType, 1);
  layout->addLayout(typeRow);

  auto* at7Row = new QHBoxLayout;
  CheckAT7 = new QCheckBox(this);
  CheckAT7->setObjectName("CheckAT7");
  CheckAT7Label = new QLabel(
      "The Faxmodem frequently hangs up before the faxmodem/fax machine on the other end answers and/or I have "
      "problems with international calls",
      this);
  CheckAT7Label->setObjectName("CheckAT7Label");
  CheckAT7Label->setWordWrap(true);
  CheckAT7Label->installEventFilter(this);
  at7Row->addWidget(CheckAT7, 0, Qt::AlignTop);
  at7Row->addWidget(CheckAT7Label, 1);
  layout->addLayout(at7Row);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OKButton = new QPushButton("Ok", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  BlankButton = new QPushButton("Leave it Blank", this);
  BlankButton->setObjectName("BlankButton");
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(BlankButton);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, &TModemInitStringHelperForm::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TModemInitStringHelperForm::CancelButtonClick);
  connect(BlankButton, &QPushButton::clicked, this, &TModemInitStringHelperForm::BlankButtonClick);

  const TInitChoices preset = PresetInitChoices(current.toStdString());
  ModemType->setCurrentIndex(static_cast<int>(preset.modemType));
  CheckAT7->setChecked(preset.longCarrierWait);
  CheckAT7->setVisible(forSending);
  CheckAT7Label->setVisible(forSending);
}

bool TModemInitStringHelperForm::eventFilter(QObject* watched, QEvent* event) {
  // The box's text is a separate label so that it can wrap; a click on it
  // works the box as a click on the box's own text would.
  if (watched == CheckAT7Label && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    CheckAT7->toggle();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TModemInitStringHelperForm::OKButtonClick() {
  TInitChoices choices;
  choices.modemType = static_cast<TModemKind>(std::clamp(ModemType->currentIndex(), 0, kModemKindCount - 1));
  choices.longCarrierWait = CheckAT7->isChecked();
  result_ = QString::fromStdString(ComposeInitString(choices, forSending_));
  done(kOk);
}

void TModemInitStringHelperForm::CancelButtonClick() { done(kCancel); }

void TModemInitStringHelperForm::BlankButtonClick() {
  result_.clear();
  done(kLeaveBlank);
}

QString InitStringHelper(const QString& current, bool forSending, QWidget* parent) {
  TModemInitStringHelperForm form(current, forSending, parent);
  form.exec();
  return form.Result();
}
