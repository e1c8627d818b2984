// Modem replies are untrusted: any byte stream through the reply collector
// and every Class 2 / 2.0 report parser must stay bounded and never crash;
// a parameter report read is read the same with blanks after its commas.
#include <cstddef>
#include <cstdint>
#include <string>

#include "faxengine/class2/Class2Parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFxReplyCollector collector;
  const TFxClass2Commands c2 = FxClass2Commands(size % 2 == 0);
  for (size_t i = 0; i < size; ++i) {
    if (!collector.Feed(data[i])) continue;
    const std::string& line = collector.Line();
    if (line.size() > TFxReplyCollector::kMaxLine) __builtin_trap();
    TFxClass2Params p;
    if (FxParseParams(line, p)) {
      if (p.bps < 2400 || p.bps > 33600 || p.bps % 2400 != 0) __builtin_trap();
      // Blanks after the commas change nothing.
      std::string spaced;
      for (char ch : line) {
        spaced += ch;
        if (ch == ',') spaced += ' ';
      }
      TFxClass2Params q;
      if (!FxParseParams(spaced, q) || q.bps != p.bps || q.fine != p.fine || q.wide != p.wide || q.ecm != p.ecm ||
          q.scanTimeCode != p.scanTimeCode)
        __builtin_trap();
      // What is offered back to a modem reads back as offered.
      TFxClass2Params r;
      if (!FxParseParams("+FDIS:" + FxParamString(p), r) || r.fine != p.fine || r.wide != p.wide || r.ecm != p.ecm ||
          (p.bps <= 14400 && r.bps != p.bps))
        __builtin_trap();
    } else if (p.bps != 9600 || p.fine || p.wide || p.ecm || p.scanTimeCode != 0) {
      __builtin_trap();  // a refused report leaves the parameters alone
    }
    if (p.scanTimeCode < 0 || p.scanTimeCode > 7) __builtin_trap();
    if (FxMinLineBytes(p.scanTimeCode, p.fine, p.bps) > 40u * 33600u / 8000u) __builtin_trap();
    const int hangup = FxHangupValue(line);
    const int pageStatus = FxPageStatusValue(line);
    if (pageStatus < -1 || pageStatus > 9) __builtin_trap();
    if (hangup < 0 || hangup > 999) __builtin_trap();
    if (FxCleanRemoteId(line).size() > 20) __builtin_trap();
    (void)FxHas(line, c2.hangup);
    TFxHeaderTags tags;
    tags.date = line;
    if (FxReplaceHeaderTags(line, tags).size() > line.size() * (line.size() + 12) + 64) __builtin_trap();
  }
  return 0;
}
