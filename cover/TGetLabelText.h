#pragma once
// TGetLabelText: asks for the text of a new or edited text object.

#include <QDialog>

class QLineEdit;
class QLabel;
class QPushButton;

class TGetLabelText : public QDialog {
  Q_OBJECT
 public:
  explicit TGetLabelText(const QString& text, QWidget* parent = nullptr);
  QString Text() const;

  QLabel* Prompt = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* HelpButton = nullptr;
};
