#pragma once
// Engine time: ticks of 55 ms on the monotonic clock, and the conversions
// between seconds and ticks that every timer of the fax engine uses.

#include <cstdint>

using TTicks = uint32_t;

// 55 ms per tick, about 18.2 ticks per second.
constexpr unsigned kMsPerTick = 55;
// Longest timer interval; keeps expiry well inside half the counter range so
// that the wrap of the counter never makes a timer look expired or pending.
constexpr TTicks kMaxTimerTicks = 39045157;

// Current tick count; wraps after about 7.5 years of uptime.
TTicks TicksNow();

constexpr int32_t SecsToTicks(int32_t secs) {
  return static_cast<int32_t>(static_cast<int64_t>(secs) * 1675 / 92);
}
constexpr int32_t TicksToSecs(int32_t ticks) {
  return static_cast<int32_t>((static_cast<int64_t>(ticks) + 9) * 92 / 1675);
}

// True when the tick count now has reached expiry, across a wrap of the counter.
constexpr bool TicksReached(TTicks now, TTicks expiry) {
  return static_cast<int32_t>(now - expiry) >= 0;
}

// Waits ms milliseconds without running any host events. Sleeps rather than
// spinning: the wait is as exact as the modem routines need.
void DelayMs(unsigned ms);
