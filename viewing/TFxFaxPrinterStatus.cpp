#include "viewing/TFxFaxPrinterStatus.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "viewing/TFxFaxPrinter.h"

TFxFaxPrinterStatus::TFxFaxPrinterStatus(QWidget* parent) : QDialog(parent) {
  setObjectName("TFxFaxPrinterStatus");
  setWindowTitle("Print Status");
  auto* layout = new QVBoxLayout(this);
  auto* info = new QGroupBox("Fax Information", this);
  auto* form = new QFormLayout(info);
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(name);
    return l;
  };
  FileNameLabel = label("FileNameLabel");
  TotalPagesLabel = label("TotalPagesLabel");
  ResolutionLabel = label("ResolutionLabel");
  WidthLabel = label("WidthLabel");
  PagesToPrintLabel = label("PagesToPrintLabel");
  form->addRow("File name:", FileNameLabel);
  form->addRow("Total pages:", TotalPagesLabel);
  form->addRow("Resolution:", ResolutionLabel);
  form->addRow("Width:", WidthLabel);
  form->addRow("Pages to print:", PagesToPrintLabel);
  layout->addWidget(info);
  auto* status = new QGroupBox("Status", this);
  auto* statusLayout = new QVBoxLayout(status);
  StatusLabel = label("StatusLabel");
  StatusLabel->setMinimumWidth(220);
  statusLayout->addWidget(StatusLabel);
  layout->addWidget(status);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  AbortButton = new QPushButton("Abort", this);
  AbortButton->setObjectName("AbortButton");
  buttons->addWidget(AbortButton);
  buttons->addStretch();
  layout->addLayout(buttons);
  connect(AbortButton, &QPushButton::clicked, this, &TFxFaxPrinterStatus::AbortButtonClick);
}

void TFxFaxPrinterStatus::UpdateDisplay() {
  if (!printer_) return;
  FileNameLabel->setText(QFileInfo(printer_->FileName()).fileName().toUpper());
  TotalPagesLabel->setText(QString::number(printer_->PageCount()));
  ResolutionLabel->setText(printer_->FirstPageHighRes() ? "high" : "standard");
  WidthLabel->setText(printer_->FirstPageWide() ? "2048" : "1728");
  PagesToPrintLabel->setText(QString("%1 to %2").arg(printer_->FirstPageToPrint()).arg(printer_->LastPageToPrint()));
  StatusLabel->setText(QString::asprintf("%s %u of %u", qPrintable(TFxFaxPrinter::ProgressText(printer_->Progress())),
                                         printer_->CurrentPrintingPage(), printer_->LastPageToPrint()));
}

void TFxFaxPrinterStatus::AbortButtonClick() {
  if (printer_) printer_->Abort();
  hide();
}
