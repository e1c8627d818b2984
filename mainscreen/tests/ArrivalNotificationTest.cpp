// The desktop notification of a received fax, against a notification
// service that the test itself puts on a private session bus (the test runs
// under dbus-run-session).
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSoundEffect>
#include <QTest>
#include <QVariantMap>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "faximage/tests/TestUtil.h"
#include "mainscreen/TArrivalAnnouncer.h"
#include "mainscreen/TArrivalNotification.h"
#include "shell/TWaveSound.h"
#include "mainscreen/TReceiptPrinter.h"
#include "mainscreen/tests/ToneWav.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"
#include "viewing/tests/PrintTestUtil.h"

namespace {

// A notification service that records what it is asked to show.
class TNotificationListener : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct TCall {
    QString app, summary, body;
    QStringList actions;
  };
  explicit TNotificationListener(bool markup) : markup_(markup) {}
  QList<TCall> calls;
  uint nextId = 41;

 public slots:
  QStringList GetCapabilities() {
    return markup_ ? QStringList{"actions", "body", "body-markup"} : QStringList{"actions", "body"};
  }
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    calls.append({app, summary, body, actions});
    return ++nextId;
  }

 private:
  bool markup_;
};

// Registers the listener under the service name on a connection of its own,
// as a separate program would.
class TService {
 public:
  explicit TService(bool markup) : listener(markup), bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "listener")) {
    ok = bus_.isConnected() && bus_.registerObject("/org/freedesktop/Notifications", &listener,
                                                   QDBusConnection::ExportAllSlots) &&
         bus_.registerService("org.freedesktop.Notifications");
  }
  ~TService() {
    bus_.unregisterService("org.freedesktop.Notifications");
    bus_.unregisterObject("/org/freedesktop/Notifications");
    QDBusConnection::disconnectFromBus("listener");
  }
  void Emit(const char* name, const QVariantList& args) {
    QDBusMessage signal =
        QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", name);
    signal.setArguments(args);
    bus_.send(signal);
  }
  TNotificationListener listener;
  bool ok = false;

 private:
  QDBusConnection bus_;
};

TReceivedFax Fax(const QString& from, int pages, bool complete = true) {
  TReceivedFax f;
  f.from = from;
  f.pages = pages;
  f.complete = complete;
  f.imageFile = "/tmp/Receive/FAX00001.APF";
  return f;
}

class ArrivalNotification : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QDBusConnection::sessionBus().isConnected())
      GTEST_SKIP() << "no session bus: run under dbus-run-session (package dbus-daemon)";
    if (const char* bus = std::getenv("CORVANE_PRIVATE_BUS"); !bus || !*bus)
      GTEST_SKIP() << "the session bus may be a desktop's own: run under dbus-run-session as ctest does";
  }
};

TEST_F(ArrivalNotification, SaysWhoSentHowManyPagesAndAClickAsksForTheMainWindow) {
  TService service(false);
  ASSERT_TRUE(service.ok);
  TArrivalNotification note;
  QSignalSpy shown(&note, &TArrivalNotification::Shown);
  QSignalSpy show(&note, &TArrivalNotification::ShowMainWindowRequested);
  note.Notify(Fax("+1 555 0100", 2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
  ASSERT_EQ(service.listener.calls.size(), 1);
  const auto& call = service.listener.calls.front();
  EXPECT_EQ(call.app, "Corvane");
  EXPECT_EQ(call.summary, "Fax received");
  EXPECT_EQ(call.body, "From: +1 555 0100\n2 pages");
  EXPECT_TRUE(call.actions.contains("default"));
  const uint id = shown.front().front().toUInt();

  // Another program's notification clicked, or another action: nothing.
  service.Emit("ActionInvoked", {id + 100, QString("default")});
  service.Emit("ActionInvoked", {id, QString("other")});
  QTest::qWait(300);
  EXPECT_TRUE(show.isEmpty());
  service.Emit("ActionInvoked", {id, QString("default")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return show.size() == 1; }, 5000));

  // Once closed it no longer answers.
  service.Emit("NotificationClosed", {id, 2u});
  QTest::qWait(200);
  service.Emit("ActionInvoked", {id, QString("default")});
  QTest::qWait(300);
  EXPECT_EQ(show.size(), 1);

  // A fax without a station identifier, one page, cut short.
  note.Notify(Fax("", 1, false));
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 2; }, 10000));
  const auto& second = service.listener.calls.back();
  EXPECT_EQ(second.summary, "Incomplete fax received");
  EXPECT_TRUE(second.body.startsWith("From: unknown sender\n1 page\n")) << second.body.toStdString();
}

TEST_F(ArrivalNotification, AStationIdentifierIsNeverReadAsMarkup) {
  TService service(true);
  ASSERT_TRUE(service.ok);
  TArrivalNotification note;
  QSignalSpy shown(&note, &TArrivalNotification::Shown);
  note.Notify(Fax("<a href=x>&Co</a>", 3));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
  EXPECT_EQ(service.listener.calls.front().body, "From: &lt;a href=x&gt;&amp;Co&lt;/a&gt;\n3 pages");
}

TEST_F(ArrivalNotification, WithoutAServiceNothingHappensUntilOneStarts) {
  TArrivalNotification note;
  QSignalSpy shown(&note, &TArrivalNotification::Shown);
  note.Notify(Fax("NOBODY LISTENS", 1));
  QTest::qWait(500);
  EXPECT_TRUE(shown.isEmpty());
  TService service(false);
  ASSERT_TRUE(service.ok);
  note.Notify(Fax("LATER", 1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
  ASSERT_EQ(service.listener.calls.size(), 1);
  EXPECT_EQ(service.listener.calls.front().body, "From: LATER\n1 page");
}

// The announcer does what the settings ask at the moment a fax arrives, and
// returns before any of it has finished.
TEST_F(ArrivalNotification, AnnouncerSoundsNotifiesAndPrintsAsTheSettingsAsk) {
  TService service(false);
  ASSERT_TRUE(service.ok);
  TTempFolder home;
  SetProgramFolder(home.Path().string() + "/");
  std::filesystem::create_directories(ReceiveFolder());
  TTempFolder::WriteFile(home / "ring.wav", ToneWav(40000));
  TReceivedFax fax = Fax("ACME", 2);
  fax.imageFile = QString::fromStdString(ReceiveFolder() + "FAX00007.APF");
  FxWriteApf(fax.imageFile.toStdString(), {BlockPage(1, 300), BlockPage(2, 300)}, apfHighRes);

  TArrivalAnnouncer announcer;
  const auto pdf = home / "receipt.pdf";
  PrintToPdf(announcer.ReceiptPrinter().Printer(), pdf, 150);
  QSignalSpy playing(announcer.Sound().Effect(), &QSoundEffect::playingChanged);
  QSignalSpy shown(&announcer.Notification(), &TArrivalNotification::Shown);
  QSignalSpy printed(&announcer.ReceiptPrinter(), &TReceiptPrinter::Printed);
  QSignalSpy show(&announcer, &TArrivalAnnouncer::ShowMainWindowRequested);

  // Everything off: nothing at all.
  Settings = TSettings{};
  Settings.DisableReceivingFaxesNotification = true;
  announcer.FaxArrived(fax);
  QTest::qWait(500);
  EXPECT_TRUE(playing.isEmpty());
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_TRUE(printed.isEmpty());

  // Everything on.
  Settings.Wav = (home / "ring.wav").string();
  Settings.DisableReceivingFaxesNotification = false;
  Settings.PrintOnReceipt = true;
  Settings.PrintOnReceiptPrinter = kDefaultPrinterName;
  QElapsedTimer clock;
  clock.start();
  announcer.FaxArrived(fax);
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_TRUE(shown.isEmpty());  // the service has not answered yet
  EXPECT_TRUE(printed.isEmpty());
  EXPECT_FALSE(playing.isEmpty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty() && !printed.isEmpty(); }, 30000));
  EXPECT_EQ(service.listener.calls.front().body, "From: ACME\n2 pages");
  EXPECT_TRUE(printed.front().at(1).toBool());
  EXPECT_EQ(PdfSheetCount(pdf), 2);

  service.Emit("ActionInvoked", {shown.front().front().toUInt(), QString("default")});
  EXPECT_TRUE(QTest::qWaitFor([&] { return show.size() == 1; }, 5000));
}

// Run a second time with a bus address that leads nowhere.
TEST(ArrivalNotificationWithoutBus, NothingHappensAndNothingIsReported) {
  if (QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "a session bus is running";
  TArrivalNotification note;
  QSignalSpy shown(&note, &TArrivalNotification::Shown);
  QElapsedTimer clock;
  clock.start();
  note.Notify(Fax("ACME", 1));
  note.Notify(Fax("ACME", 2));
  EXPECT_LT(clock.elapsed(), 1000);
  QTest::qWait(300);
  EXPECT_TRUE(shown.isEmpty());
}

}  // namespace

#include "ArrivalNotificationTest.moc"
