#include "viewing/TFxFaxPrinterLog.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

void TFxFaxPrinterLog::UpdateLog(TFaxPLCode code, const QString& fileName) const {
  const char* what = " started at ";
  switch (code) {
    case TFaxPLCode::lcStart: what = " started at "; break;
    case TFaxPLCode::lcFinish: what = " finished at "; break;
    case TFaxPLCode::lcAborted: what = " aborted at "; break;
    case TFaxPLCode::lcFailed: what = " failed at "; break;
  }
  QFile f(LogFileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  const QString when = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
  // Each entry ends with CR LF and a line end of its own, as the log has
  // always been written.
  f.write(("Printing " + fileName + what + when + "\r\n\r\n").toLocal8Bit());
}
