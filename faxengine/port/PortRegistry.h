#pragma once
// The process-wide list of open ports. A trigger message carries its
// dispatcher's position in this list, so that a receiver can find the port
// (and the session attached to the dispatcher) from the message alone.

#include <cstdint>
#include <optional>
#include <string>

class TFxPosixDispatcher;
class TFxComPort;

struct TPortRegistryEntry {
  TFxPosixDispatcher* dispatcher = nullptr;
  TFxComPort* port = nullptr;
  std::string device;  // canonical device path
};

namespace FxPortRegistry {
// Adds the pair at the lowest free position and returns that position, or
// nullopt when device is already open in this process.
std::optional<uint16_t> Register(TFxPosixDispatcher* dispatcher, TFxComPort* port, const std::string& device);
void Unregister(uint16_t position);
std::optional<TPortRegistryEntry> Find(uint16_t position);
// True when a port of this process has device (canonical path) open.
bool DeviceOpen(const std::string& device);
// The position part of a trigger message's lParam.
inline uint16_t PositionOf(uint32_t lParam) { return static_cast<uint16_t>(lParam >> 16); }
}  // namespace FxPortRegistry
