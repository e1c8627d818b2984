#pragma once
// TFaxViewer: the "Fax Viewer " window around the viewer control, with page
// buttons, four zoom levels, rotation and export of the current page.

#include <QDialog>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QToolButton;
class TFxFaxPrinter;
class TFxFaxPrinterStatus;
class TFxFaxViewer;

class TFaxViewer : public QDialog {
  Q_OBJECT
 public:
  explicit TFaxViewer(QWidget* parent = nullptr);
  ~TFaxViewer() override;

  // What to show, set before the window is shown.
  void SetFileToShow(const QString& fileName) { fileToShow_ = fileName; }
  const QString& FileToShow() const { return fileToShow_; }
  // Shown before the page numbers in the status line ("Fax printout").
  QString Title;
  // The header text printing puts on each sheet.
  QString HeaderText;
  // Asks where to export the page in a format; an empty name cancels. By
  // default the save dialog (tests answer it directly).
  std::function<QString(const QString& format)> AskExportFileName;
  // The save dialog's filter for a format: "BMP File (*.BMP)".
  static QString ExportNameFilter(const QString& format);

  // 25, 50, 75 or 100 (the page unscaled).
  int ZoomLevel() const { return zoomLevel_; }
  bool FirstActivationDone() const { return !firstActivation_; }

  TFxFaxViewer* FaxViewer;
  QLabel* StatusPanel;
  QToolButton *FirstButton, *PrevButton, *NextButton, *LastButton, *ZoomInButton, *ZoomOutButton;
  QToolButton *PrinterSetupButton, *Printbutton, *PrintSinglePageButton;
  QPushButton *CloseButton, *Helpbutton;
  QMenuBar* MainMenu;
  QMenu *ViewMenu, *RotationMenu, *ExportMenu;
  QAction *Zoom50Item, *Zoom100Item, *Zoom150Item, *Zoom200Item;
  QAction *NoRotationItem, *Rotate90Item, *Rotate180Item, *Rotate270Item;
  QAction *ExportBmpItem, *ExportPcxItem, *ExportDcxItem;
  TFxFaxPrinter* FxFaxPrinter1;
  TFxFaxPrinterStatus* FxFaxPrinterStatus1;

 public slots:
  void FormActivate();
  void FirstButtonClick();
  void PrevButtonClick();
  void NextButtonClick();
  void LastButtonClick();
  void ZoomInButtonClick();
  void ZoomOutButtonClick();
  void HelpbuttonClick();
  void PrintbuttonClick();
  void PrintSinglePageButtonClick();
  void PrinterSetupButtonClick();
  void FaxViewerPageChange();
  void FaxViewerViewerError(int errorCode);
  // The menu item's caption names the format.
  void ExportClick(QAction* item);
  // Writes the current page in format "BMP", "PCX" or "DCX" to fileName;
  // 0 or the unpacker's code (also shown to the user).
  int ExportPage(const QString& format, const QString& fileName);
  void ApplyZoom(int level);
  void ApplyRotation(int rotation);

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int result) override;

 private:
  void BuildLayout();
  void BuildMenus();
  void Load();
  void CheckZoomItem();
  QAction* ZoomItem(int level) const;
  QString AskSaveName(const QString& format);
  QString PageText() const;

  QString fileToShow_;
  int zoomLevel_ = 100;
  bool firstActivation_ = true;
  bool placementRestored_ = false;
  // The first print or set-up offers the whole fax; later ones the range
  // last chosen.
  bool printRangeSet_ = false;
};
