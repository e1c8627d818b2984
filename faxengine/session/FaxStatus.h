#pragma once
// The status display of a fax session. The engine knows only this abstract
// interface; the application's status window implements it in Qt, and
// command-line tools use TFxTextFaxStatus, which prints progress texts.

#include <cstdio>
#include <string>

class TFxAbstractFax;

class TFxAbstractFaxStatus {
 public:
  virtual ~TFxAbstractFaxStatus() = default;
  TFxAbstractFax* Fax = nullptr;
  // Called on the host thread for every status message: first on the first
  // status of a session, last on its last.
  virtual void UpdateDisplay(TFxAbstractFax& fax, bool first, bool last) = 0;
};

// The "m:ss" form of the status display, right-aligned in 6 columns.
std::string FxFormatMinSec(long seconds);

// Prints one line whenever the progress text (or the page) changes.
class TFxTextFaxStatus : public TFxAbstractFaxStatus {
 public:
  explicit TFxTextFaxStatus(std::FILE* out = stdout) : out_(out) {}
  void UpdateDisplay(TFxAbstractFax& fax, bool first, bool last) override;
  // The line printed for the fax's current state.
  static std::string StatusLine(TFxAbstractFax& fax);

 private:
  std::FILE* out_;
  std::string lastLine_;
};
