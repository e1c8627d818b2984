#include "cover/TSaveTemplateAs.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "cover/core/TemplateFiles.h"
#include "shell/Dialogs.h"
#include "shell/core/Folders.h"

TSaveTemplateAs::TSaveTemplateAs(const std::filesystem::path& folder, const QString& name,
                                 const QString& description, QWidget* parent)
    : QDialog(parent), folder_(folder) {
  setObjectName("TSaveTemplateAs");
  setWindowTitle("Save fax cover template as");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Enter the file name", this));
  FileNameEdit = new QLineEdit("*.fct", this);
  FileNameEdit->setObjectName("FileNameEdit");
  layout->addWidget(FileNameEdit);
  layout->addWidget(new QLabel("Enter the description (required)", this));
  DescriptionEdit = new QLineEdit(this);
  DescriptionEdit->setObjectName("DescriptionEdit");
  layout->addWidget(DescriptionEdit);
  layout->addWidget(new QLabel("Existing Templates", this));
  ExistingTemplates = new QListWidget(this);
  ExistingTemplates->setObjectName("ExistingTemplates");
  const QStringList files = QDir(QString::fromStdString(folder.string()))
                                .entryList({"*.FCS"}, QDir::Files, QDir::Name | QDir::IgnoreCase);
  for (const QString& f : files)
    if (!f.startsWith('~')) ExistingTemplates->addItem(f);
  layout->addWidget(ExistingTemplates);
  HelpLine = new QLabel(
      "The file name must start with a character (A-Z) and may contain characters, numbers or underscores. The "
      "file extension must be .FCS. File name can be up to 12 characters",
      this);
  HelpLine->setWordWrap(true);
  layout->addWidget(HelpLine);
  auto* buttons = new QHBoxLayout;
  OkButton = NamedButton(this, "OkButton", "Ok ");
  OkButton->setDefault(true);
  CancelButton = NamedButton(this, "CancelButton", "Cancel");
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  layout->addLayout(buttons);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(FileNameEdit, &QLineEdit::textChanged, this, &TSaveTemplateAs::UpdateOk);
  connect(DescriptionEdit, &QLineEdit::textChanged, this, &TSaveTemplateAs::UpdateOk);
  connect(ExistingTemplates, &QListWidget::currentTextChanged, this, &TSaveTemplateAs::ExistingChosen);
  FileNameEdit->setText(name);
  DescriptionEdit->setText(description);
  UpdateOk();
}

QString TSaveTemplateAs::FileName() const { return FileNameEdit->text().trimmed(); }
QString TSaveTemplateAs::Description() const { return DescriptionEdit->text(); }

void TSaveTemplateAs::UpdateOk() {
  OkButton->setEnabled(IsTemplateFileName(FileName().toStdString()) && !Description().isEmpty());
}

void TSaveTemplateAs::ExistingChosen() {
  if (!ExistingTemplates->currentItem()) return;
  const QString file = ExistingTemplates->currentItem()->text();
  const auto des = TemplatePaths(folder_ / file.toStdString()).Des;
  DescriptionEdit->setText(QString::fromStdString(ReadDescription(ResolveNoCase(folder_, des.filename().string()))));
}
