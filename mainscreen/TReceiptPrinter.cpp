#include "mainscreen/TReceiptPrinter.h"

#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QTimer>

#include "shell/core/Folders.h"
#include "viewing/FaxPrinting.h"
#include "viewing/TFxFaxPrinter.h"

namespace {
// How long a fax waits before trying again while the printer is busy with
// another run (the user's own Print, say).
constexpr int kBusyRetryMs = 1000;
}  // namespace

TReceiptPrinter::TReceiptPrinter(TFxFaxPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer ? printer : new TFxFaxPrinter(this)) {}

QString TReceiptPrinter::HeaderText(const TReceivedFax& fax) const {
  const QString blanks(13, ' ');
  // Received rows always carry a time; the text is the lists' own
  // "date at time".
  const QString when = fax.date.toString(DatePattern) + " at " +
                       QLocale::system().toString(fax.time, QLocale::ShortFormat);
  const QString file = QString::fromStdString(ReceiveFolder()) + QFileInfo(fax.imageFile).fileName();
  return "From: " + fax.from.trimmed() + blanks + "Received: " + when + blanks + "Fax File:        " + file.toLower();
}

void TReceiptPrinter::Print(const TReceivedFax& fax, const QString& printerName) {
  queue_.push_back({fax, printerName});
  Schedule(0);
}

void TReceiptPrinter::Schedule(int delayMs) {
  if (scheduled_) return;
  scheduled_ = true;
  QTimer::singleShot(delayMs, this, [this] {
    scheduled_ = false;
    Next();
  });
}

void TReceiptPrinter::Next() {
  // A run keeps events going while it prints; a fax queued meanwhile is
  // taken up when that run has ended.
  if (running_ || queue_.empty()) return;
  if (printer_->Printing()) {
    Schedule(kBusyRetryMs);
    return;
  }
  const TJob job = queue_.front();
  queue_.pop_front();
  running_ = true;
  // The run lets events through; the program may close meanwhile.
  const QPointer<TReceiptPrinter> self(this);
  const bool ok = PrintFaxOnReceipt(*printer_, job.fax.imageFile, job.printerName, HeaderText(job.fax));
  if (!self) return;
  running_ = false;
  emit Printed(job.fax.imageFile, ok);
  if (!queue_.empty()) Schedule(0);
}
