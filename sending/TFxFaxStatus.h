#pragma once
// The status window of a fax session: TFxFaxStatus is the engine's status
// display; it shows its TStandardFaxDisplay ("Fax Status") on a session's
// first status, fills it on every status and hides it on the last. Cancel
// asks the session to end and hides the window at once; the end itself
// arrives later as the session's finish event.

#include <QDialog>

#include <chrono>
#include <functional>
#include <optional>

#include "faxengine/session/FaxStatus.h"

class QLabel;
class QProgressBar;
class QPushButton;

class TStandardFaxDisplay : public QDialog {
  Q_OBJECT
 public:
  explicit TStandardFaxDisplay(QWidget* parent = nullptr);

  QLabel *PhoneNumber, *FaxFileName, *CoverFileName, *TotalPages, *DialAttempt, *RemoteID, *ConnectBPS,
      *Resolution, *Width, *ErrorControl, *CurrentPage, *PageLength, *BytesTransferred, *ElapsedTime, *StatusText;
  QLabel* ProgressLabel;
  QProgressBar* ProgressMeter;
  QPushButton* CancelButton;

 signals:
  void CancelClicked();

 protected:
  void reject() override;  // Escape and the title bar cancel as the button does
};

class TFxFaxStatus : public TFxAbstractFaxStatus {
 public:
  explicit TFxFaxStatus(QWidget* owner);
  ~TFxFaxStatus() override;
  TFxFaxStatus(const TFxFaxStatus&) = delete;
  TFxFaxStatus& operator=(const TFxFaxStatus&) = delete;

  void UpdateDisplay(TFxAbstractFax& fax, bool first, bool last) override;
  TStandardFaxDisplay* Display() const { return display_; }
  // Called by Cancel; by default the fax's AbortFax.
  std::function<void()> OnCancel;

  // "…" after 20 characters, as the display shows file names.
  static QString ShortName(const std::string& name);

 private:
  void Fill(TFxAbstractFax& fax);
  TStandardFaxDisplay* display_;
  std::optional<std::chrono::steady_clock::time_point> busySince_;  // waiting to redial since
};
