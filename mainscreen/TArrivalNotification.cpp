#include "mainscreen/TArrivalNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QVariantMap>

#include <memory>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a click on the notification itself invokes.
const QString kDefaultAction = QStringLiteral("default");
constexpr int kCallTimeoutMs = 10000;
}  // namespace

TArrivalNotification::TArrivalNotification(QObject* parent) : QObject(parent) {}

QString TArrivalNotification::Summary(const TReceivedFax& fax) {
  return fax.complete ? QStringLiteral("Fax received") : QStringLiteral("Incomplete fax received");
}

QString TArrivalNotification::Body(const TReceivedFax& fax, bool markup) {
  const QString from = fax.from.trimmed();
  QString body = "From: " + (from.isEmpty() ? QStringLiteral("unknown sender") : (markup ? from.toHtmlEscaped() : from));
  body += "\n" + QString(fax.pages == 1 ? "1 page" : QString::number(fax.pages) + " pages");
  if (!fax.complete) body += "\nThe call ended before the whole fax had arrived.";
  return body;
}

void TArrivalNotification::Notify(const TReceivedFax& fax) {
  pending_.append(fax);
  switch (bus_) {
    case TBus::Unknown: StartConnect(); break;
    case TBus::Connecting: break;
    case TBus::None: pending_.clear(); break;
    case TBus::Connected:
      if (markup_ == TMarkup::Unknown) AskCapabilities();
      else if (markup_ != TMarkup::Asking) SendPending();
      break;
  }
}

void TArrivalNotification::StartConnect() {
  bus_ = TBus::Connecting;
  auto promise = std::make_shared<QPromise<bool>>();
  auto* watcher = new QFutureWatcher<bool>(this);
  connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher] {
    watcher->deleteLater();
    Connected(watcher->future().resultCount() > 0 && watcher->future().result());
  });
  watcher->setFuture(promise->future());
  QThreadPool::globalInstance()->start([promise] {
    promise->start();
    promise->addResult(QDBusConnection::sessionBus().isConnected());
    promise->finish();
  });
}

void TArrivalNotification::Connected(bool connected) {
  if (!connected) {
    // The session's bus connection is made once per process: without one
    // there will be none.
    bus_ = TBus::None;
    pending_.clear();
    return;
  }
  bus_ = TBus::Connected;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(ActionInvoked(uint, QString)));
  bus.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(NotificationClosed(uint, uint)));
  if (!pending_.isEmpty()) AskCapabilities();
}

void TArrivalNotification::AskCapabilities() {
  markup_ = TMarkup::Asking;
  const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<QStringList> reply = *w;
    if (reply.isError()) {
      // No service: drop what waits and ask again with the next fax, a
      // service may have started by then.
      markup_ = TMarkup::Unknown;
      pending_.clear();
      return;
    }
    markup_ = reply.value().contains("body-markup") ? TMarkup::Yes : TMarkup::No;
    SendPending();
  });
}

void TArrivalNotification::SendPending() {
  const QList<TReceivedFax> faxes = std::exchange(pending_, {});
  for (const TReceivedFax& fax : faxes) Send(fax);
}

void TArrivalNotification::Send(const TReceivedFax& fax) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  call << QStringLiteral("Corvane") << uint(0) << QString() << Summary(fax)
       << Body(fax, markup_ == TMarkup::Yes) << QStringList{kDefaultAction, QStringLiteral("Show Corvane")}
       << QVariantMap{{"category", QStringLiteral("transfer.complete")}} << int(-1);
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isError()) {
      markup_ = TMarkup::Unknown;  // the service went away: ask the next one afresh
      return;
    }
    ids_.insert(reply.value());
    emit Shown(reply.value());
  });
}

void TArrivalNotification::ActionInvoked(uint id, const QString& actionKey) {
  // Other programs' notifications signal on the same interface.
  if (!ids_.contains(id) || actionKey != kDefaultAction) return;
  emit ShowMainWindowRequested();
}

void TArrivalNotification::NotificationClosed(uint id, uint) { ids_.remove(id); }
