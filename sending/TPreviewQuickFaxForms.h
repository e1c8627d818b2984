#pragma once
// The template chooser ("Select  Fax Cover Template"): the FCT files of the
// covers folder, with the preview picture and the description of the one
// selected. Its position is remembered.

#include <QDialog>

#include <filesystem>

class QLabel;
class QListWidget;
class QPushButton;

class TPreviewQuickFaxForms : public QDialog {
  Q_OBJECT

 public:
  // Lists the templates of `coversFolder` and selects `current` (any letter
  // case), else the first.
  TPreviewQuickFaxForms(const std::filesystem::path& coversFolder, const QString& current, QWidget* parent = nullptr);

  // The file name of the template last shown.
  const QString& ChosenName() const { return chosen_; }

  QListWidget* FileListBox1;
  QLabel* Image1;
  QLabel* Description;
  QPushButton *OKButton, *HelpButton, *CancelButton;

 public slots:
  void OKButtonClick();
  void HelpButtonClick();
  void CancelButtonClick();
  void FileListBox1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  std::filesystem::path folder_;
  QString current_;
  QString chosen_;
  bool shown_ = false;
};
