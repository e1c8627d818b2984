#pragma once
// Printing faxes as they arrive: every page, one page to a sheet, with the
// header and footer the print settings ask for, on the printer chosen for
// received faxes. Faxes are printed one after another; a fax that arrives
// while the fax printer is busy waits for it, so none is lost.

#include <QObject>
#include <QString>

#include <deque>

#include "mainscreen/ReceivedFax.h"

class TFxFaxPrinter;

class TReceiptPrinter : public QObject {
  Q_OBJECT
 public:
  // Prints through `printer` (normally the main window's fax printer);
  // without one it makes its own.
  explicit TReceiptPrinter(TFxFaxPrinter* printer = nullptr, QObject* parent = nullptr);

  // The date pattern of the tables' dates (Qt form), as the lists show them.
  QString DatePattern = QStringLiteral("MM/dd/yyyy");

  // Queues the fax on the printer named `printerName` (the default printer
  // for "Default Windows Printer" or a printer not installed) and returns;
  // the printing starts once control is back in the event loop.
  void Print(const TReceivedFax& fax, const QString& printerName);

  // The header line of a received fax: sender, date and time received, and
  // the image file.
  [[nodiscard]] QString HeaderText(const TReceivedFax& fax) const;

  [[nodiscard]] TFxFaxPrinter& Printer() const { return *printer_; }
  [[nodiscard]] bool Idle() const { return queue_.empty() && !running_; }

 signals:
  // A queued fax has been dealt with: true when its pages were printed.
  void Printed(const QString& imageFile, bool ok);

 private:
  struct TJob {
    TReceivedFax fax;
    QString printerName;
  };
  void Next();
  void Schedule(int delayMs);

  TFxFaxPrinter* printer_;
  std::deque<TJob> queue_;
  bool running_ = false;
  bool scheduled_ = false;
};
