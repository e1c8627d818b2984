#include "faxengine/session/FaxStatus.h"

#include "faxengine/session/AbstractFax.h"

std::string FxFormatMinSec(long seconds) {
  if (seconds < 0) seconds = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%6s", (std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
                                         std::to_string(seconds % 60)).c_str());
  return buf;
}

std::string TFxTextFaxStatus::StatusLine(TFxAbstractFax& fax) {
  std::string line = fax.ProgressText(fax.ProgressCode());
  if (line.empty()) return line;
  const int progress = fax.ProgressCode();
  if (progress == 4 || progress == 24) {
    line += fax.CurrentPage() == 0 && dynamic_cast<TFxSendFax*>(&fax) ? " (cover page)"
                                                                       : " (page " + std::to_string(fax.CurrentPage()) + ")";
  }
  if (progress == 41 && !fax.RemoteID().empty()) line += ": " + fax.RemoteID();
  if (progress == 40 && fax.ConnectBPS() > 0)
    line += ": " + std::to_string(fax.ConnectBPS()) + " bit/s" + (fax.ConnectFine() ? ", fine" : ", normal");
  return line;
}

void TFxTextFaxStatus::UpdateDisplay(TFxAbstractFax& fax, bool first, bool last) {
  (void)first;
  (void)last;
  const std::string line = StatusLine(fax);
  if (line.empty() || line == lastLine_) return;
  lastLine_ = line;
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}
