#pragma once
// The print commands over a fax printer: with the print options window (the
// main window's and the viewer's Print), without any window (printing on
// receipt), and whether there is a printer at all.

#include <QString>

class QWidget;
class TFxFaxPrinter;

// True when the system knows at least one printer.
[[nodiscard]] bool PrinterInstalled();

// The footer caption of this program's print runs.
inline constexpr const char* kPrintFooterCaption = "Page: $P of $N";

// Gives the printer the file, shows "Print" over parent with the range and
// the remembered options, stores the options whatever the answer, and on
// OK prints with the header text as the header's caption. A file without
// readable pages is reported in an information box. True when a run went
// to its end.
// With keepRange the range last chosen for the same file is offered again
// (the viewer sets the whole fax only the first time).
bool PrintFaxWithOptions(QWidget* parent, TFxFaxPrinter& printer, const QString& fileName, const QString& headerText,
                         bool keepRange = false);

// The viewer's "Print current page": the window with the range fixed to the
// page and four-up off; only the header and footer choices are remembered.
// Prints that page fitted, alone on its sheet; afterwards the range is the
// whole fax again.
bool PrintCurrentPage(QWidget* parent, TFxFaxPrinter& printer, const QString& fileName, unsigned page,
                      const QString& headerText);

// Prints every page of the file without asking, one page per sheet, with
// the remembered header, footer and stretch options, on the printer of
// that name when one is installed (else on the current one). For printing
// faxes as they arrive.
bool PrintFaxOnReceipt(TFxFaxPrinter& printer, const QString& fileName, const QString& printerName,
                       const QString& headerText);
