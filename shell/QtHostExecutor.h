#pragma once
// The fax engine's way onto the user-interface thread: tasks from the
// engine's threads run in Qt's event loop of the thread that made this object.

#include <QObject>

#include "faxengine/HostExecutor.h"

class TQtHostExecutor : public QObject, public THostExecutor {
  Q_OBJECT
 public:
  explicit TQtHostExecutor(QObject* parent = nullptr);

  void Post(std::function<void()> task) override;
  bool IsHostThread() const override;
  void ProcessEvents() override;
  bool Terminating() const override;
};
