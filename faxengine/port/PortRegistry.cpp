#include "faxengine/port/PortRegistry.h"

#include <mutex>
#include <vector>

namespace {
std::mutex registryMutex;
std::vector<TPortRegistryEntry>& Entries() {
  static std::vector<TPortRegistryEntry> entries;
  return entries;
}
}  // namespace

namespace FxPortRegistry {

std::optional<uint16_t> Register(TFxPosixDispatcher* dispatcher, TFxComPort* port, const std::string& device) {
  std::lock_guard lock(registryMutex);
  auto& entries = Entries();
  for (const auto& e : entries)
    if (e.dispatcher && e.device == device) return std::nullopt;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].dispatcher) {
      entries[i] = {dispatcher, port, device};
      return static_cast<uint16_t>(i);
    }
  }
  if (entries.size() > 0xFFFF) return std::nullopt;
  entries.push_back({dispatcher, port, device});
  return static_cast<uint16_t>(entries.size() - 1);
}

void Unregister(uint16_t position) {
  std::lock_guard lock(registryMutex);
  auto& entries = Entries();
  if (position < entries.size()) entries[position] = {};
}

std::optional<TPortRegistryEntry> Find(uint16_t position) {
  std::lock_guard lock(registryMutex);
  const auto& entries = Entries();
  if (position >= entries.size() || !entries[position].dispatcher) return std::nullopt;
  return entries[position];
}

bool DeviceOpen(const std::string& device) {
  std::lock_guard lock(registryMutex);
  for (const auto& e : Entries())
    if (e.dispatcher && e.device == device) return true;
  return false;
}

}  // namespace FxPortRegistry
