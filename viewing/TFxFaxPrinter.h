#pragma once
// TFxFaxPrinter: prints the pages of an APF file on the system printer,
// optionally with a header and a footer line, fitted to the sheet or at
// their natural size, one page per sheet or four (two in landscape).
//
// The print run stays on the caller's thread and keeps the window alive:
// each page is unpacked on a worker thread while events run, and Abort
// answers at once. Pages are drawn a whole sheet at a time, after all of
// its pages are unpacked, so an aborted run never leaves a half-drawn
// sheet; a run printing to a file discards the file.

#include <QFont>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

#include "faximage/Bitmap.h"
#include "viewing/FaxPrintLayout.h"
#include "viewing/TFxFaxPrinterLog.h"

class QEventLoop;
class QPainter;
class QPrinter;
class QWidget;
class TFxFaxPrinterStatus;

enum class TFaxPrintProgress { ppIdle = 0, ppComposing = 1, ppRendering = 2, ppSubmitting = 3, ppConverting = 4 };

// A header or footer line.
struct TFxFaxPrinterMargin {
  QString Caption;
  bool Enabled = true;
  QFont Font;
};

class TFxFaxPrinter : public QObject {
  Q_OBJECT
 public:
  explicit TFxFaxPrinter(QObject* owner = nullptr);
  ~TFxFaxPrinter() override;

  QString Caption = "Fax Engine Printer";  // the print job's title
  TFxFaxPrinterMargin FaxHeader;           // "FILE: $F"
  TFxFaxPrinterMargin FaxFooter;           // "PAGE: $P of $N"
  bool MultiPage = false;
  TFaxPrintScale PrintScale = TFaxPrintScale::psFitToPage;
  // When null at the start of a run, the first status window among the
  // owner's children is used.
  TFxFaxPrinterStatus* StatusDisplay = nullptr;
  TFxFaxPrinterLog* FaxPrinterLog = nullptr;

  // The system printer the pages go to (also for the set-up dialogs).
  [[nodiscard]] QPrinter& Printer() { return *printer_; }

  [[nodiscard]] const QString& FileName() const { return fileName_; }
  // Reads the page count and the first page's resolution and width; the
  // range becomes the whole fax (0 to 0 without pages). A file that cannot
  // be read has no pages and FileError() says why.
  void SetFileName(const QString& fileName);
  [[nodiscard]] const QString& FileError() const { return fileError_; }

  [[nodiscard]] unsigned PageCount() const { return pageCount_; }
  [[nodiscard]] bool FirstPageHighRes() const { return firstHighRes_; }
  [[nodiscard]] bool FirstPageWide() const { return firstWide_; }
  [[nodiscard]] unsigned FirstPageToPrint() const { return firstPage_; }
  [[nodiscard]] unsigned LastPageToPrint() const { return lastPage_; }
  void SetFirstPageToPrint(unsigned page) { firstPage_ = page; }
  void SetLastPageToPrint(unsigned page) { lastPage_ = page; }
  [[nodiscard]] unsigned CurrentPrintingPage() const { return currentPage_; }
  [[nodiscard]] TFaxPrintProgress Progress() const { return progress_; }
  [[nodiscard]] bool Printing() const { return running_; }
  // Pages of the last run that could not be read.
  [[nodiscard]] unsigned FailedPages() const { return failedPages_; }

  [[nodiscard]] static QString ProgressText(TFaxPrintProgress progress);

  // The system's print dialog limited to the fax's pages; when confirmed
  // with a range, that range is printed next.
  bool PrinterSetup(QWidget* parent);
  // The print run; true when it ran to its end (not aborted, job accepted).
  bool PrintFax();
  // Stops a running job at once: nothing more is drawn and the job is
  // discarded.
  void Abort();

 signals:
  void NextPage(unsigned currentPage, unsigned totalPages);
  void FaxPrintLog(TFaxPLCode code);
  void FaxPrintStatus(TFaxPrintProgress progress);

 private:
  void SetProgress(TFaxPrintProgress progress);
  void Log(TFaxPLCode code);
  // Runs work on a worker thread while events run here; Abort ends the
  // wait early, the work itself is still awaited.
  void RunAside(const std::function<void()>& work);
  // Unpacks one page on a worker thread while events run here.
  struct TPrintPage {
    TFxBitmap bitmap;       // empty for a page without ink or one that failed
    unsigned width = 1728;  // the page's width in fax pixels
  };
  int UnpackPage(unsigned page, TPrintPage& out);
  void DrawPage(QPainter& painter, const QRect& sheet, bool landscape, unsigned page, const TPrintPage& printPage);
  // Waits two ticks with events running, when the settings ask for it.
  void ImposedWait();
  void FinishRun();

  std::unique_ptr<QPrinter> printer_;
  QString fileName_;
  QString fileError_;
  unsigned pageCount_ = 0;
  bool firstHighRes_ = false;
  bool firstWide_ = false;
  unsigned firstPage_ = 0;
  unsigned lastPage_ = 0;
  unsigned currentPage_ = 0;
  unsigned failedPages_ = 0;
  TFaxPrintProgress progress_ = TFaxPrintProgress::ppIdle;
  bool running_ = false;
  bool aborted_ = false;
  std::shared_ptr<std::atomic<bool>> stop_;
  QEventLoop* wait_ = nullptr;  // the loop a run waits in, quit by Abort
};
