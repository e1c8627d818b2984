// Class 1 preparation: the modem is switched to Class 1 and asked which
// high-speed modulations it can send (or receive).

#include "faxengine/session/FaxSession.h"

int TFaxSession::PrepareClass1() {
  c1_ = TFxClass1Session();
  // A receiver must be in Class 1 before it answers; a sender's class
  // command is checked again by its first state.
  if (!PrepCommand("AT+FCLASS=1") && !send_) return fxcode::ecFaxBadModemResult;
  std::string reply;
  PrepCommand(send_ ? "AT+FTM=?" : "AT+FRM=?", &reply);
  c1_.local = FxParseSpeedQuery(reply);
  c1_.localMax = c1_.local.Highest();
  if (!send_)
    while (c1_.localMax > kFxMinSpeedIndex && FxSpeed(c1_.localMax).bps > desiredBps_) --c1_.localMax;
  return 0;
}
