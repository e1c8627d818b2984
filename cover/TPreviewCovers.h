#pragma once
// TPreviewCovers: the template chooser. A list of the templates in a
// folder, the chosen one's preview picture stretched to the preview area and
// its description.

#include <QDialog>
#include <filesystem>

class QLabel;
class QListWidget;
class QPushButton;

class TPreviewCovers : public QDialog {
  Q_OBJECT
 public:
  // With withOk false the window only shows templates (no "Ok").
  TPreviewCovers(const std::filesystem::path& folder, const QString& title, bool withOk,
                 const QString& current = {}, QWidget* parent = nullptr);

  // The chosen template's .FCS file; empty when none is chosen.
  std::filesystem::path Chosen() const;

  QListWidget* FileList = nullptr;
  QLabel* PreviewImage = nullptr;
  QLabel* DescriptionLine = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* HelpButton = nullptr;

 private slots:
  void ShowChosen();

 private:
  std::filesystem::path folder_;
};
