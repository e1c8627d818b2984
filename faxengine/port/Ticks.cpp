#include "faxengine/port/Ticks.h"

#include <chrono>
#include <thread>

TTicks TicksNow() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<TTicks>(static_cast<uint64_t>(ms) / kMsPerTick);
}

void DelayMs(unsigned ms) {
  std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}
