#include "sending/TPreviewQuickFaxForms.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "cover/core/TemplateFiles.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "shell/core/Folders.h"

namespace fs = std::filesystem;

namespace {

// The preview is shown at half the size it is stored in.
constexpr int kPreviewShownWidth = 408;
constexpr int kPreviewShownHeight = 528;

}  // namespace

TPreviewQuickFaxForms::TPreviewQuickFaxForms(const fs::path& coversFolder, const QString& current, QWidget* parent)
    : QDialog(parent), folder_(coversFolder), current_(current) {
  setObjectName("TPreviewQuickFaxForms");
  setWindowTitle("Select  Fax Cover Template");
  FileListBox1 = new QListWidget(this);
  FileListBox1->setObjectName("FileListBox1");
  const QDir dir(QString::fromStdString(coversFolder.string()));
  for (const QString& name : dir.entryList({"*.FCT"}, QDir::Files, QDir::Name | QDir::IgnoreCase))
    FileListBox1->addItem(name);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setFixedSize(kPreviewShownWidth, kPreviewShownHeight);
  Image1->setFrameShape(QFrame::Box);
  Image1->setAlignment(Qt::AlignCenter);
  Description = new QLabel(this);
  Description->setObjectName("Description");
  Description->setTextFormat(Qt::PlainText);
  OKButton = new QPushButton("Ok", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  HelpButton = new QPushButton("Help", this);
  HelpButton->setObjectName("HelpButton");
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");

  auto* list = new QVBoxLayout;
  list->addWidget(new QLabel("Fax Cover Templates", this));
  list->addWidget(FileListBox1, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(list);
  top->addWidget(Image1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  for (QPushButton* b : {OKButton, HelpButton, CancelButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Description);
  layout->addLayout(buttons);

  connect(OKButton, &QPushButton::clicked, this, &TPreviewQuickFaxForms::OKButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TPreviewQuickFaxForms::HelpButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TPreviewQuickFaxForms::CancelButtonClick);
  connect(FileListBox1, &QListWidget::itemClicked, this, &TPreviewQuickFaxForms::FileListBox1Click);
  connect(FileListBox1, &QListWidget::currentRowChanged, this, [this] {
    if (shown_) FileListBox1Click();
  });
}

void TPreviewQuickFaxForms::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  RestorePlacement(this);
  int row = FileListBox1->count() > 0 ? 0 : -1;
  for (int i = 0; i < FileListBox1->count(); ++i)
    if (FileListBox1->item(i)->text().compare(current_, Qt::CaseInsensitive) == 0) row = i;
  FileListBox1->setCurrentRow(row);
  shown_ = true;
  if (row >= 0) FileListBox1Click();
}

void TPreviewQuickFaxForms::FileListBox1Click() {
  const QListWidgetItem* item = FileListBox1->currentItem();
  if (!item) return;
  const fs::path fct = folder_ / item->text().toStdString();
  const TTemplatePaths paths = TemplatePaths(fct);
  // The picture and the description may be spelt in any letter case.
  const fs::path bmp = ResolveNoCase(folder_, paths.Bmp.filename().string());
  const QPixmap picture(QString::fromStdString(bmp.string()));
  if (picture.isNull()) {
    Image1->clear();
    ShowInformation("Image not available");
  } else {
    Image1->setPixmap(picture.scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
  chosen_ = item->text();
  Description->setText(QString::fromStdString(ReadDescription(ResolveNoCase(folder_, paths.Des.filename().string()))));
}

void TPreviewQuickFaxForms::OKButtonClick() {
  if (!FileListBox1->currentItem()) {
    QApplication::beep();
    return;
  }
  done(QDialog::Accepted);
}

void TPreviewQuickFaxForms::HelpButtonClick() { ShowHelpContext(HelpTopic::TemplateChooser); }

void TPreviewQuickFaxForms::CancelButtonClick() { done(QDialog::Rejected); }

void TPreviewQuickFaxForms::done(int result) {
  SavePlacement(this);
  QDialog::done(result);
}
