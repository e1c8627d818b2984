#pragma once
// Drives the Send command as a user does: answers the windows that come up,
// in order, from a timer, and measures how long the user-interface thread
// goes without answering while a send runs.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <functional>

#include "sending/TSendFaxForm.h"
#include "sending/TShowErrorForm.h"

namespace sendtest {

// Longest gap between two ticks of a 5 ms timer on the user-interface thread.
class TStallMeter {
 public:
  TStallMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (clock_.isValid()) {
        const double gap = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        if (gap > longestMs_) {
          longestMs_ = gap;
          if (probe) where_ = probe();
        }
      }
      clock_.restart();
    });
  }
  void Start() {
    clock_.invalidate();
    timer_.start();
  }
  void Stop() { timer_.stop(); }
  double LongestMs() const { return longestMs_; }
  // What the probe said when the longest gap ended.
  const QString& Where() const { return where_; }
  std::function<QString()> probe;

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  double longestMs_ = 0;
  QString where_;
};

// What a user does in the send window, and what the windows said.
struct TSendScript {
  int runs = 1;                                  // times "Send Fax Now" is pressed
  bool close = true;                             // press Close after the last run
  std::function<void(TSendFaxForm&)> fill;       // before the first press
  std::function<bool(TSendFaxForm&)> cancelWhen; // press the status window's Cancel once this holds
  std::function<void()> onError;                 // as each error window comes up
  // Seen:
  QStringList statusTexts;  // the status window's "Status:" texts, in order, once each
  QStringList elapsed;      // its "Elapsed time:" texts
  int meterMax = 0;         // the highest page progress shown
  QStringList boxes;        // message box texts
  QStringList errorCaptions, errorTexts;
  int dialAttemptsAtError = 0;
  int presses = 0;
  std::chrono::steady_clock::time_point pressedAt;  // the last press of "Send Fax Now"
  bool cancelled = false;
  bool statusClosedAtCancel = false;  // the status window was gone as soon as Cancel returned
  bool closed = false;
  TSendStage stageAtCancel = TSendStage::Idle;
  TStallMeter meter;
};

class TSendDriver {
 public:
  explicit TSendDriver(TSendScript& script) : s_(script) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

 private:
  static void Later(std::function<void()> f) { QTimer::singleShot(0, qApp, std::move(f)); }

  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      if (box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      s_.boxes << box->text();
      Later([box] { box->defaultButton() ? box->defaultButton()->click() : box->accept(); });
      // The logging switch's confirmation is no outcome of a run.
      if (!box->text().startsWith("Logging is now")) results_++;
      return;
    }
    if (auto* error = qobject_cast<TShowErrorForm*>(w)) {
      if (error->property("answered").toBool()) return;
      error->setProperty("answered", true);
      s_.errorCaptions << error->windowTitle();
      s_.errorTexts << error->Memo1->toPlainText();
      if (s_.onError) s_.onError();
      if (form_) s_.dialAttemptsAtError = form_->FxSendFax1.DialAttempt();
      Later([error] { error->BitBtn1->click(); });
      results_++;
      return;
    }
    auto* form = qobject_cast<TSendFaxForm*>(w);
    if (!form) return;
    form_ = form;
    if (!s_.meter.probe)
      s_.meter.probe = [form] {
        return "stage " + QString::number(static_cast<int>(form->Stage())) + ", progress " +
               QString::number(form->FxSendFax1.ProgressCode());
      };
    if (TStandardFaxDisplay* d = form->FxFaxStatus1.Display(); d->isVisible()) {
      if (s_.statusTexts.isEmpty() || s_.statusTexts.last() != d->StatusText->text()) s_.statusTexts << d->StatusText->text();
      if (!s_.elapsed.contains(d->ElapsedTime->text())) s_.elapsed << d->ElapsedTime->text();
      s_.meterMax = std::max(s_.meterMax, d->ProgressMeter->value());
    }
    if (s_.cancelWhen && !s_.cancelled && form->FxFaxStatus1.Display()->isVisible() && s_.cancelWhen(*form)) {
      s_.cancelled = true;
      s_.stageAtCancel = form->Stage();
      Later([this, form] {
        form->FxFaxStatus1.Display()->CancelButton->click();
        s_.statusClosedAtCancel = !form->FxFaxStatus1.Display()->isVisible();
      });
      return;
    }
    if (form->Busy() || pending_) return;
    if (s_.presses < s_.runs && results_ >= s_.presses) {
      if (s_.presses == 0 && s_.fill) s_.fill(*form);
      s_.presses++;
      s_.meter.Start();
      pending_ = true;
      Later([this, form] {
        s_.pressedAt = std::chrono::steady_clock::now();
        form->SendFaxButton->click();
        pending_ = false;
      });
      return;
    }
    if (results_ >= s_.runs && s_.close) {
      s_.meter.Stop();
      s_.closed = true;
      pending_ = true;
      Later([this, form] {
        form->CloseButton->click();
        pending_ = false;
      });
    }
  }

  TSendScript& s_;
  QTimer timer_;
  TSendFaxForm* form_ = nullptr;
  int results_ = 0;
  bool pending_ = false;
};

}  // namespace sendtest
