#include "cover/TPreviewCovers.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>

#include "cover/core/TemplateFiles.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/core/Folders.h"

TPreviewCovers::TPreviewCovers(const std::filesystem::path& folder, const QString& title, bool withOk,
                               const QString& current, QWidget* parent)
    : QDialog(parent), folder_(folder) {
  setObjectName("TPreviewCovers");
  setWindowTitle(title);
  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel("Fax Cover Templates", this), 0, 0);
  layout->addWidget(new QLabel("Preview", this), 0, 1);
  FileList = new QListWidget(this);
  FileList->setObjectName("FileList");
  for (const QString& f :
       QDir(QString::fromStdString(folder.string())).entryList({"*.FCS"}, QDir::Files, QDir::Name | QDir::IgnoreCase))
    if (!f.startsWith('~')) FileList->addItem(f);
  layout->addWidget(FileList, 1, 0);
  PreviewImage = new QLabel(this);
  PreviewImage->setObjectName("PreviewImage");
  // A letter page in proportion.
  PreviewImage->setFixedSize(272, 352);
  PreviewImage->setAlignment(Qt::AlignCenter);
  PreviewImage->setFrameShape(QFrame::Box);
  layout->addWidget(PreviewImage, 1, 1);
  DescriptionLine = new QLabel(this);
  DescriptionLine->setObjectName("DescriptionLine");
  layout->addWidget(DescriptionLine, 2, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OkButton = NamedButton(this, "OkButton", "Ok");
  OkButton->setVisible(withOk);
  CancelButton = NamedButton(this, "CancelButton", "Cancel");
  HelpButton = NamedButton(this, "HelpButton", "Help");
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  buttons->addWidget(HelpButton);
  layout->addLayout(buttons, 3, 0, 1, 2);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpContext(HelpTopic::TemplateChooser); });
  connect(FileList, &QListWidget::currentTextChanged, this, &TPreviewCovers::ShowChosen);
  const auto found = FileList->findItems(current, Qt::MatchFixedString);
  if (!found.isEmpty()) FileList->setCurrentItem(found.first());
}

std::filesystem::path TPreviewCovers::Chosen() const {
  if (!FileList->currentItem()) return {};
  return folder_ / FileList->currentItem()->text().toStdString();
}

void TPreviewCovers::ShowChosen() {
  const std::filesystem::path fcs = Chosen();
  if (fcs.empty()) return;
  const TTemplatePaths paths = TemplatePaths(fcs);
  DescriptionLine->setText(
      QString::fromStdString(ReadDescription(ResolveNoCase(folder_, paths.Des.filename().string()))));
  const QImage image(QString::fromStdString(ResolveNoCase(folder_, paths.Bmp.filename().string()).string()));
  if (image.isNull()) {
    PreviewImage->setPixmap({});
    PreviewImage->setText("Image not available");
    return;
  }
  PreviewImage->setPixmap(QPixmap::fromImage(image.scaled(PreviewImage->size(), Qt::IgnoreAspectRatio,
                                                          Qt::SmoothTransformation)));
}
