// UUCP lock files are written by other programs: any content must give a
// PID or 0, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "faxengine/port/ComDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pid_t pid = ParseLockOwner(std::string_view(reinterpret_cast<const char*>(data), size));
  if (pid < 0) __builtin_trap();
  return 0;
}
