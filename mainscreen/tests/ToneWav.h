#pragma once
// A WAV file for the arrival sound tests.

#include <cmath>
#include <cstdint>
#include <string>

// A mono 16-bit PCM WAV file holding a short tone.
inline std::string ToneWav(int samples = 4000, int rate = 8000) {
  std::string data;
  for (int i = 0; i < samples; ++i) {
    const auto v = static_cast<int16_t>(8000 * std::sin(i * 0.3));
    data.push_back(static_cast<char>(v & 0xFF));
    data.push_back(static_cast<char>((v >> 8) & 0xFF));
  }
  auto u32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  auto u16 = [](uint16_t v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
  const auto size = static_cast<uint32_t>(data.size());
  return "RIFF" + u32(36 + size) + "WAVE" + "fmt " + u32(16) + u16(1) + u16(1) + u32(static_cast<uint32_t>(rate)) +
         u32(static_cast<uint32_t>(rate) * 2) + u16(2) + u16(16) + "data" + u32(size) + data;
}
