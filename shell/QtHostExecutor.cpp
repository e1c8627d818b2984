#include "shell/QtHostExecutor.h"

#include <QCoreApplication>
#include <QThread>

TQtHostExecutor::TQtHostExecutor(QObject* parent) : QObject(parent) {}

void TQtHostExecutor::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(
      this,
      [this, task = std::move(task)] {
        try {
          task();
        } catch (...) {
          HandleException(std::current_exception());
        }
      },
      Qt::QueuedConnection);
}

bool TQtHostExecutor::IsHostThread() const { return QThread::currentThread() == thread(); }

void TQtHostExecutor::ProcessEvents() { QCoreApplication::processEvents(); }

bool TQtHostExecutor::Terminating() const { return QCoreApplication::closingDown(); }
