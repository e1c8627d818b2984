#pragma once
// "Print Status": what is being printed and how far the run has come, with
// an Abort button. A fax printer shows it for the length of a print run.

#include <QDialog>

class QLabel;
class QPushButton;
class TFxFaxPrinter;

class TFxFaxPrinterStatus : public QDialog {
  Q_OBJECT
 public:
  explicit TFxFaxPrinterStatus(QWidget* parent = nullptr);

  // The printer this window shows and aborts; it calls UpdateDisplay.
  void SetFaxPrinter(TFxFaxPrinter* printer) { printer_ = printer; }
  void UpdateDisplay();

  QLabel *FileNameLabel, *TotalPagesLabel, *ResolutionLabel, *WidthLabel, *PagesToPrintLabel, *StatusLabel;
  QPushButton* AbortButton;

 public slots:
  void AbortButtonClick();

 private:
  TFxFaxPrinter* printer_ = nullptr;
};
