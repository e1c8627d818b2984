#pragma once
// The pages of a receive: the received file, named by the component, and
// the page data read from the modem (DLE shielding taken out) into it.
// Shared by the Class 1 and the Class 2/2.0 receive machines; it never
// changes a machine's state.

#include <cstdint>
#include <string>
#include <vector>

#include "faxengine/class2/Class2Parse.h"
#include "faxengine/session/ReceivedFile.h"
#include "faxengine/session/SessionCore.h"

class TFxPageReceiver {
 public:
  explicit TFxPageReceiver(TFxSessionCore& core)
      : core_(core), cmds_(FxClass2Commands(core.FaxClass() == TFaxClass::fcClass2_0)) {}

 protected:
  static constexpr int32_t kReplyWait = 182;

  TFxReceiveFax* ReceiveFax() const { return dynamic_cast<TFxReceiveFax*>(&core_.Fax()); }
  // Asks the component for the name and creates the file; < 0 when the
  // session failed (or the wait for the name was given up).
  int CreateReceivedFile();
  // Starts a page in the file (a new file first when one is due); false
  // when the session failed.
  bool StartPage(bool fine, bool wide);
  // Reads page data from the modem into the file; true at the page's end
  // (DLE ETX), false while it goes on or when the session failed.
  bool ReceivePageData();
  // Keeps what has arrived of a page and closes the file (a call that ended).
  void CloseAfterError();

  TFxSessionCore& core_;
  TFxClass2Commands cmds_;
  int rings_ = 0;
  TFxReceivedFile rxFile_;
  bool newFileDue_ = false;
  int postPage_ = 0;
  bool rxDle_ = false;
  bool rxFirst_ = false;  // the next page byte is the first after CONNECT
  std::vector<uint8_t> rxBuf_;
};
