#pragma once
// The desktop notification of a received fax, through the freedesktop
// notification service on the session bus: who sent it and how many pages
// arrived. Clicking the notification asks for the main window. Everything
// is asynchronous, and without a session bus or a notification service
// nothing happens and nothing is reported.

#include <QObject>
#include <QSet>
#include <QString>

#include "mainscreen/ReceivedFax.h"

class QDBusPendingCallWatcher;

class TArrivalNotification : public QObject {
  Q_OBJECT
 public:
  explicit TArrivalNotification(QObject* parent = nullptr);

  // Sends the notification of the fax and returns at once.
  void Notify(const TReceivedFax& fax);

  // The texts of the notification. The station identifier comes from the far
  // end: where the service reads markup it is escaped.
  [[nodiscard]] static QString Summary(const TReceivedFax& fax);
  [[nodiscard]] static QString Body(const TReceivedFax& fax, bool markup);

 signals:
  // The user clicked one of this program's notifications.
  void ShowMainWindowRequested();
  // The service accepted a notification (its id), for whoever follows them.
  void Shown(uint id);

 private slots:
  void ActionInvoked(uint id, const QString& actionKey);
  void NotificationClosed(uint id, uint reason);

 private:
  enum class TBus { Unknown, Connecting, Connected, None };
  enum class TMarkup { Unknown, Asking, No, Yes };
  // Reaching the session bus may mean starting a bus for the session: it
  // happens on a worker thread, and the faxes wait for it in pending_.
  void StartConnect();
  void Connected(bool connected);
  void AskCapabilities();
  void SendPending();
  void Send(const TReceivedFax& fax);

  TBus bus_ = TBus::Unknown;
  TMarkup markup_ = TMarkup::Unknown;
  QList<TReceivedFax> pending_;  // waiting for the bus or the service's capabilities
  QSet<uint> ids_;               // shown and not yet closed
};
