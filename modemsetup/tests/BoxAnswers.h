#pragma once
// Answers message boxes as they open (the given button, or their only one)
// and keeps their captions and texts, so tests can drive windows that ask.

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

class TBoxAnswers {
 public:
  explicit TBoxAnswers(QMessageBox::StandardButton answer) : answer_(answer) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      captions << box->windowTitle();
      texts << box->text();
      QAbstractButton* button = box->button(answer_);
      (button ? button : box->buttons().front())->click();
    });
    timer_.start(10);
  }
  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
  QStringList captions, texts;

 private:
  QMessageBox::StandardButton answer_;
  QTimer timer_;
};
