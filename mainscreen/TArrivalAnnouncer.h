#pragma once
// What happens once a received fax has been stored and its row written:
// the arrival sound, the desktop notification and printing on receipt, each
// as the settings ask at that moment. None of them holds up the caller:
// the sound plays on, the notification is sent asynchronously, and
// printing starts from the event loop after the caller has returned.

#include <QObject>
#include <QString>

#include "mainscreen/ReceivedFax.h"

class TArrivalNotification;
class TWaveSound;
class TFxFaxPrinter;
class TReceiptPrinter;

class TArrivalAnnouncer : public QObject {
  Q_OBJECT
 public:
  // Prints through `faxPrinter` (the main window's) or, without one, its own.
  explicit TArrivalAnnouncer(TFxFaxPrinter* faxPrinter = nullptr, QObject* parent = nullptr);

  // The date pattern of the tables' dates in Qt form, for the printed header.
  void SetDatePattern(const QString& pattern);

  [[nodiscard]] TWaveSound& Sound() const { return *sound_; }
  [[nodiscard]] TArrivalNotification& Notification() const { return *notification_; }
  [[nodiscard]] TReceiptPrinter& ReceiptPrinter() const { return *printer_; }

 public slots:
  void FaxArrived(const TReceivedFax& fax);

 signals:
  // The user clicked the notification of a received fax.
  void ShowMainWindowRequested();

 private:
  TWaveSound* sound_;
  TArrivalNotification* notification_;
  TReceiptPrinter* printer_;
};
