#pragma once
// Answers the modal windows of a test as they open, in order, with queued
// functions; the texts and captions of message boxes are kept.
#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

class TModalAnswers {
 public:
  TModalAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  // The answer runs out of the timer's tick, so it may open further windows.
  void Push(std::function<void(QWidget*)> answer) { answers_.push_back(std::move(answer)); }
  template <class W>
  void For(std::function<void(W*)> answer) {
    Push([answer = std::move(answer)](QWidget* w) {
      auto* typed = qobject_cast<W*>(w);
      if (!typed) {
        ADD_FAILURE() << "unexpected window " << w->metaObject()->className() << " "
                      << w->windowTitle().toStdString();
        w->close();
        return;
      }
      answer(typed);
    });
  }
  void Box(QMessageBox::StandardButton b) {
    For<QMessageBox>([b](QMessageBox* box) { box->button(b)->click(); });
  }
  bool Done() const { return answers_.empty() && running_ == 0; }
  QStringList texts, captions;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("answered").toBool()) return;
    if (answers_.empty()) {
      // Reported once, when no other answerer took it within a few seconds:
      // a window nobody answers would hang the test.
      if (!w->property("seen").isValid()) w->setProperty("seen", QDateTime::currentMSecsSinceEpoch());
      if (!w->property("reported").toBool() &&
          QDateTime::currentMSecsSinceEpoch() - w->property("seen").toLongLong() > 3000) {
        w->setProperty("reported", true);
        auto* box = qobject_cast<QMessageBox*>(w);
        ADD_FAILURE() << "unanswered window " << w->metaObject()->className() << " "
                      << (box ? box->text() : w->windowTitle()).toStdString();
      }
      return;
    }
    w->setProperty("answered", true);
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      texts << box->text();
      captions << box->windowTitle();
    }
    auto answer = std::move(answers_.front());
    answers_.pop_front();
    ++running_;
    QTimer::singleShot(0, w, [this, w, answer = std::move(answer)] {
      answer(w);
      --running_;
    });
  }
  QTimer timer_;
  int running_ = 0;
  std::deque<std::function<void(QWidget*)>> answers_;
};
