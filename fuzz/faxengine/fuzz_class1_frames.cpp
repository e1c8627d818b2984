// What a Class 1 modem delivers during frame reception is untrusted: result
// lines mixed with frames from the remote machine. Any byte stream through
// the frame collector, and every frame through the DIS, DCS and CSI/TSI
// readers, must stay bounded, never crash, and decode to values in range.
#include <cstddef>
#include <cstdint>
#include <string>

#include "faxengine/class1/Frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFxFrameCollector collector;
  TFxTrainingCheck check(static_cast<int>(2400 * (1 + size % 6)));
  for (size_t i = 0; i < size; ++i) {
    check.Feed(data[i]);
    switch (collector.Feed(data[i])) {
      case TFxCollect::ccLine: {
        if (collector.Line().size() > TFxReplyCollector::kMaxLine) __builtin_trap();
        const TFxSpeedSet s = FxParseSpeedQuery(collector.Line());
        if (s.Highest() < kFxMinSpeedIndex || s.Highest() > kFxMaxSpeedIndex) __builtin_trap();
        break;
      }
      case TFxCollect::ccFrame: {
        const TFxFrame& f = collector.Frame();
        if (f.fif.size() + 3 > kFxMaxFrame) __builtin_trap();
        (void)FxFrameKindName(f.Kind());
        TFxDisInfo dis;
        if (FxDecodeDis(f.fif, dis)) {
          if (dis.scanTimeCode < 0 || dis.scanTimeCode > 7) __builtin_trap();
          TFxSpeedSet local;
          for (int k = 3; k <= 6; ++k) local.has[static_cast<size_t>(k)] = ((data[0] >> k) & 1) != 0;
          const int idx = FxChooseSpeed(local, dis.speeds, 14400);
          if (idx < kFxMinSpeedIndex || idx > kFxMaxSpeedIndex) __builtin_trap();
          for (int step = FxStepDown(local, dis.speeds, idx), n = 0; step != 0; step = FxStepDown(local, dis.speeds, step))
            if (++n > kFxMaxSpeedIndex) __builtin_trap();
          if (FxEncodeDcs(idx, dis.fine, dis.wide, dis.scanTimeCode, dis).size() != 4) __builtin_trap();
        }
        TFxDcsInfo dcs;
        if (FxDecodeDcs(f.fif, dcs) && (dcs.speedIndex < kFxMinSpeedIndex || dcs.speedIndex > kFxMaxSpeedIndex))
          __builtin_trap();
        const std::string id = FxDecodeId(f.fif);
        if (id.size() > 20) __builtin_trap();
        for (char c : id)
          if (c < 0x20 || c > 0x7E) __builtin_trap();
        break;
      }
      case TFxCollect::ccBadFrame:
        if (collector.Error() == TFxFrameError::feNone) __builtin_trap();
        (void)FxFrameErrorText(collector.Error());
        break;
      case TFxCollect::ccNothing: break;
    }
  }
  if (check.NonZero() > check.Total()) __builtin_trap();
  (void)check.Good();
  return 0;
}
