// What a Class 1 modem delivers while the receive machine collects the
// caller's frames is untrusted: any byte stream through the frame collector
// and the receiver's frame reading (TSI, DCS, post-page messages, DCN) and
// the training check must stay bounded and never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "faxengine/class1/Frames.h"
#include "faxengine/class1/Receive1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the receiver's state: collecting the caller's
  // parameters, or waiting for a post-page message.
  const bool wantDcs = (data[0] & 1) != 0;
  TFxFrameCollector collector;
  TFxClass1Receive rx;
  rx.StartBurst();
  TFxTrainingCheck training(2400 * (1 + data[0] % 6));
  for (size_t i = 1; i < size; ++i) {
    training.Feed(data[i]);
    switch (collector.Feed(data[i])) {
      case TFxCollect::ccNothing: break;
      case TFxCollect::ccLine:
        if (collector.Line().size() > TFxReplyCollector::kMaxLine) __builtin_trap();
        if (collector.Line().find("ERROR") != std::string::npos) rx.StartBurst();
        break;
      case TFxCollect::ccFrame: {
        const TFxFrame& f = collector.Frame();
        if (f.fif.size() + 3 > kFxMaxFrame) __builtin_trap();
        rx.Take(f, wantDcs);
        if (rx.remoteId.size() > 20) __builtin_trap();
        if (rx.haveDcs) {
          if (rx.dcs.speedIndex < kFxMinSpeedIndex || rx.dcs.speedIndex > kFxMaxSpeedIndex) __builtin_trap();
          if (rx.dcs.longTrain.empty() || rx.dcs.shortTrain.empty()) __builtin_trap();
          if (rx.dcs.scanTimeCode < 0 || rx.dcs.scanTimeCode > 7) __builtin_trap();
        }
        if (rx.haveDcs && rx.badDcs) __builtin_trap();
        if (!wantDcs && (rx.haveDcs || rx.haveTsi)) __builtin_trap();
        (void)rx.PostPage();
        break;
      }
      case TFxCollect::ccBadFrame:
        if (collector.Error() == TFxFrameError::feNone) __builtin_trap();
        break;
    }
  }
  if (training.Good() && training.NonZero() * 10 >= training.Total()) __builtin_trap();
  return 0;
}
