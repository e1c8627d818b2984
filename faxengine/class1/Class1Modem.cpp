#include "faxengine/class1/Class1Modem.h"

#include <cstdio>
#include <cstdlib>

#include "faxengine/session/FxExceptions.h"

namespace {
constexpr int32_t kReplyWait = 182;
}  // namespace

int TFxClass1Modem::PrepareClass1(bool send) {
  c1_ = TFxClass1Session();
  // A receiver must be in Class 1 before it answers; a sender's class
  // command is checked again by its first state.
  if (!link_.PrepCommand("AT+FCLASS=1") && !send) return fxcode::ecFaxBadModemResult;
  std::string reply;
  (void)link_.PrepCommand(send ? "AT+FTM=?" : "AT+FRM=?", &reply);
  c1_.local = FxParseSpeedQuery(reply);
  c1_.localMax = c1_.local.Highest();
  if (!send)
    while (c1_.localMax > kFxMinSpeedIndex && FxSpeed(c1_.localMax).bps > link_.Settings().desiredBps) --c1_.localMax;
  return 0;
}

void TFxClass1Modem::SendCommand1(const std::string& cmd) {
  link_.Pause(40);
  const std::string line = cmd + "\r";
  link_.WriteRaw(line.data(), line.size());
  c1_.collector.Reset();
  c1_.haveFrame = false;
  link_.ArmReply(kReplyWait);
}

void TFxClass1Modem::SendFrame1(TFxFcf fcf, bool final, const std::vector<uint8_t>& fif) {
  link_.Pause(20);
  const std::vector<uint8_t> bytes = FxBuildFrame(fcf, final, fif);
  if (std::getenv("CVFAX_TRACE")) std::fprintf(stderr, "send frame %02X\n", static_cast<unsigned>(fcf));
  link_.WriteRaw(bytes.data(), bytes.size());
  c1_.collector.Reset();
  link_.ArmReply(kReplyWait);
}
