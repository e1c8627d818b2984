#pragma once
// Answers the modal windows a command opens: message boxes are closed and
// their texts kept; the print options window is handed to a callback.

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <functional>

#include "viewing/TPrePrintForm.h"

class TModalWatch {
 public:
  explicit TModalWatch(std::function<void(TPrePrintForm&)> onForm) : onForm_(std::move(onForm)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  QStringList messages;
  int forms = 0;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("seen").toBool()) return;
    w->setProperty("seen", true);
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      messages << box->text();
      box->accept();
    } else if (auto* form = qobject_cast<TPrePrintForm*>(w)) {
      ++forms;
      onForm_(*form);
    }
  }
  std::function<void(TPrePrintForm&)> onForm_;
  QTimer timer_;
};
