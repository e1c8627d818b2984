#include "faxengine/session/FaxLog.h"

#include <ctime>
#include <fstream>

#include "faxengine/session/AbstractFax.h"
#include "faxengine/text/FxStrings.h"

namespace {
const char* const kCrLf = "\r\n";
}

std::string TFxFaxLog::DateTimeNow() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "%x %X", &local);
  return buf;
}

std::string TFxFaxLog::LogLines(TFxAbstractFax& fax, int logCode, const std::string& dateTime) {
  std::string out;
  const std::string hangup = std::to_string(fax.HangupReason());
  switch (logCode) {
    case 1:
      if (auto* send = dynamic_cast<TFxSendFax*>(&fax)) {
        for (const auto& name : send->FaxFileList())
          out += "Transmit " + name + " to " + send->PhoneNumber() + " started at " + dateTime + kCrLf;
        if (send->FaxFileList().empty())
          out += "Transmit " + send->CoverFile() + " to " + send->PhoneNumber() + " started at " + dateTime + kCrLf;
      }
      break;
    case 2:
      out = "Transmit to " + fax.RemoteID() + " finished OK at " + dateTime + " " + hangup + kCrLf + kCrLf;
      break;
    case 3:
      out = "Transmit failed at " + dateTime + kCrLf + "  (" + FxErrorText(fax.LastFaxError()) + ") " + hangup +
            kCrLf + kCrLf;
      break;
    case 4:
      out = "Receive " + fax.FaxFile() + " from " + fax.RemoteID() + " started at " + dateTime + kCrLf;
      break;
    case 5: out = std::string("Receive finished OK at ") + dateTime + kCrLf + kCrLf; break;
    case 6: out = std::string("Receive skipped at ") + dateTime + kCrLf + kCrLf; break;
    case 7:
      out = "Receive failed at " + dateTime + kCrLf + "  (" + FxErrorText(fax.LastFaxError()) + ")" + kCrLf + kCrLf;
      break;
    default: break;
  }
  return out;
}

void TFxFaxLog::UpdateLog(TFxAbstractFax& fax, int logCode) {
  if (FaxHistoryName.empty()) return;
  const std::string text = LogLines(fax, logCode, DateTimeNow());
  if (text.empty()) return;
  std::ofstream out(FaxHistoryName, std::ios::binary | std::ios::app);
  out << text;
}
