#pragma once
// TSaveTemplateAs: asks for the file name and the description a template is
// saved under. "Ok " is enabled only for a valid name with a description;
// choosing an existing template copies its description.

#include <QDialog>
#include <filesystem>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TSaveTemplateAs : public QDialog {
  Q_OBJECT
 public:
  TSaveTemplateAs(const std::filesystem::path& folder, const QString& name, const QString& description,
                  QWidget* parent = nullptr);

  QString FileName() const;
  QString Description() const;

  QLineEdit* FileNameEdit = nullptr;
  QLineEdit* DescriptionEdit = nullptr;
  QListWidget* ExistingTemplates = nullptr;
  QLabel* HelpLine = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

 private slots:
  void UpdateOk();
  void ExistingChosen();

 private:
  std::filesystem::path folder_;
};
