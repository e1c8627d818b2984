#include "viewing/TPrePrintForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TPrePrintForm::TPrePrintForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TPrePrintForm");
  setWindowTitle("Print");
  auto* layout = new QVBoxLayout(this);
  auto* range = new QFormLayout;
  auto spin = [this](const char* name) {
    auto* s = new QSpinBox(this);
    s->setObjectName(name);
    s->setRange(1, 1);
    return s;
  };
  FromPage = spin("FromPage");
  ToPage = spin("ToPage");
  range->addRow("From Page:", FromPage);
  range->addRow("To Page:", ToPage);
  layout->addLayout(range);
  auto box = [this, layout](const char* name, const char* caption, const char* hint) {
    auto* b = new QCheckBox(caption, this);
    b->setObjectName(name);
    if (hint) b->setToolTip(QString(hint).replace('\r', '\n'));
    layout->addWidget(b);
    return b;
  };
  PrintHeader = box("PrintHeader", "Print Header", "Print a header giving identifying info about the fax");
  PrintFooter = box("PrintFooter", "Print Footer", "Prints page numbers in the footer");
  PrintMultiPage = box("PrintMultiPage", "Print 4 faxes to a page",
                       "Print four fax pages per printed page (two\rfax pages per printed page if landscape)");
  StretchToFit = box("StretchToFit", "Stretch/shrink faxes to fit on page", nullptr);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  layout->addLayout(buttons);
  connect(OkButton, &QPushButton::clicked, this, &TPrePrintForm::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TPrePrintForm::SetPageCount(int pageCount) {
  FromPage->setRange(1, std::max(1, pageCount));
  ToPage->setRange(1, std::max(1, pageCount));
}

void TPrePrintForm::OkButtonClick() {
  if (ToPage->isEnabled() && ToPage->value() < FromPage->value()) {
    QApplication::beep();
    return;
  }
  accept();
}
