#pragma once
// Answers the modal windows that come up during a test (message boxes and
// fax error windows) and keeps their captions and texts.

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include "sending/TShowErrorForm.h"

class TModalCatcher {
 public:
  TModalCatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (auto* error = qobject_cast<TShowErrorForm*>(w)) {
        seen << error->windowTitle() + ": " + error->Memo1->toPlainText();
        error->BitBtn1->click();
      } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
        seen << box->text();
        box->done(QMessageBox::Ok);
      }
    });
    timer_.start(50);
  }
  QStringList seen;

 private:
  QTimer timer_;
};
