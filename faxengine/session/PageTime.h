#pragma once
// How long the end of a page may take to be confirmed by the modem.

#include <algorithm>
#include <cstdint>

#include "faxengine/port/Ticks.h"

// The wait for the modem's answer to a page end (its OK, or its page status):
// the modem and the link to it may still hold much of the page, which goes
// out at the negotiated rate, so the wait is the usual minute plus the whole
// page's airtime. A slow rate and a dense page take minutes; the airtime
// counted is capped at an hour.
constexpr int32_t PageEndWaitTicks(long pageBytes, int bps) {
  constexpr int32_t kBaseWait = 1092;  // a minute
  const uint64_t bits = static_cast<uint64_t>(std::max<long>(pageBytes, 0)) * 8;
  const uint64_t rate = static_cast<uint64_t>(std::max(bps, 2400));
  const uint64_t secs = std::min<uint64_t>((bits + rate - 1) / rate, 3600);
  return kBaseWait + SecsToTicks(static_cast<int32_t>(secs));
}
