#pragma once
// "Print": the page range and the options of one print run.

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSpinBox;

class TPrePrintForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPrePrintForm(QWidget* parent = nullptr);

  // Both spin fields run from 1 to pageCount.
  void SetPageCount(int pageCount);

  QSpinBox *FromPage, *ToPage;
  QCheckBox *PrintHeader, *PrintFooter, *PrintMultiPage, *StretchToFit;
  QPushButton *OkButton, *CancelButton;

 public slots:
  // Closes with OK unless the range runs backwards, which only beeps.
  void OkButtonClick();
};
