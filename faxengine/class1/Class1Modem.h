#pragma once
// What both Class 1 machines do with the modem: the preparation (Class 1
// and the modem's speeds), commands with the short pause the frame and
// modulation commands need, and HDLC frames.

#include <string>
#include <vector>

#include "faxengine/class1/Frames.h"
#include "faxengine/session/SessionCore.h"

class TFxClass1Modem {
 public:
  explicit TFxClass1Modem(TFxSessionCore& core) : link_(core) {}

 protected:
  // AT+FCLASS=1 and the speed query; the local speeds end up in c1_.
  int PrepareClass1(bool send);
  // A command with the short pause of the frame and modulation commands.
  void SendCommand1(const std::string& cmd);
  // Writes a frame (after CONNECT to AT+FTH=3) and restarts the reply timer.
  void SendFrame1(TFxFcf fcf, bool final, const std::vector<uint8_t>& fif = {});

  TFxClass1Session c1_;

 private:
  TFxSessionCore& link_;
};
