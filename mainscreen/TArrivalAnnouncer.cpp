#include "mainscreen/TArrivalAnnouncer.h"

#include "mainscreen/TArrivalNotification.h"
#include "shell/TWaveSound.h"
#include "mainscreen/TReceiptPrinter.h"
#include "shell/core/Settings.h"

TArrivalAnnouncer::TArrivalAnnouncer(TFxFaxPrinter* faxPrinter, QObject* parent)
    : QObject(parent),
      sound_(new TWaveSound(this)),
      notification_(new TArrivalNotification(this)),
      printer_(new TReceiptPrinter(faxPrinter, this)) {
  connect(notification_, &TArrivalNotification::ShowMainWindowRequested, this,
          &TArrivalAnnouncer::ShowMainWindowRequested);
}

void TArrivalAnnouncer::SetDatePattern(const QString& pattern) { printer_->DatePattern = pattern; }

void TArrivalAnnouncer::FaxArrived(const TReceivedFax& fax) {
  (void)sound_->Play(QString::fromStdString(Settings.Wav));
  if (!Settings.DisableReceivingFaxesNotification) notification_->Notify(fax);
  if (Settings.PrintOnReceipt) printer_->Print(fax, QString::fromStdString(Settings.PrintOnReceiptPrinter));
}
