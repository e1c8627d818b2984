#pragma once
// The optional log of a fax printer: one line per event of a print run
// appended to a text file.

#include <QString>

enum class TFaxPLCode { lcStart = 0, lcFinish = 1, lcAborted = 2, lcFailed = 3 };

class TFxFaxPrinterLog {
 public:
  QString LogFileName = "FAXPRINT.LOG";
  // Appends "Printing FILE started at DATE TIME" (finished, aborted,
  // failed); a log that cannot be written is skipped silently.
  void UpdateLog(TFaxPLCode code, const QString& fileName) const;
};
