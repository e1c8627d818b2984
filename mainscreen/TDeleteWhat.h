#pragma once
// Asks which part of an outgoing fax with both a cover and a body to delete.

#include <QDialog>

class QRadioButton;

enum class TDeleteChoice { Cover, Body, Both };

class TDeleteWhat : public QDialog {
  Q_OBJECT
 public:
  explicit TDeleteWhat(QWidget* parent = nullptr);
  TDeleteChoice Choice() const;

  QRadioButton* CoverButton;
  QRadioButton* BodyButton;
  QRadioButton* BothButton;

 public slots:
  void HelpButtonClick();
};
