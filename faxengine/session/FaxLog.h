#pragma once
// TFxFaxLog: the fax history file. Each log message of an attached fax
// component appends its lines (CR LF line ends); nothing is written when the
// name is empty. Write failures are swallowed: history is never worth
// failing a fax for.

#include <string>

class TFxAbstractFax;

class TFxFaxLog {
 public:
  virtual ~TFxFaxLog() = default;
  std::string FaxHistoryName = "FAXENG.HIS";
  TFxAbstractFax* Fax = nullptr;

  // Appends the lines of logCode (1 to 7) for fax.
  virtual void UpdateLog(TFxAbstractFax& fax, int logCode);
  // The text UpdateLog appends (empty for unknown codes); dateTime is the
  // moment of writing.
  static std::string LogLines(TFxAbstractFax& fax, int logCode, const std::string& dateTime);
  // The system's short date and time of now.
  static std::string DateTimeNow();
};
