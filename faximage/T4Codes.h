#pragma once
// The one-dimensional (Modified Huffman) code tables of ITU-T T.4, written
// as the standard prints them: most significant (first transmitted) bit
// first. APF files store the bit stream least significant bit first, so the
// coder and decoder reverse the codes once when they build their tables.

#include <array>
#include <cstdint>
#include <span>

struct FxT4Code {
  uint16_t run;   // run length in pixels
  uint16_t bits;  // code, first bit in the most significant position
  uint8_t length; // number of bits
};

enum class FxT4Colour : uint8_t { White = 0, Black = 1 };

namespace FxT4 {
inline constexpr unsigned kEolBits = 0x001;  // 000000000001
inline constexpr unsigned kEolLength = 12;
inline constexpr unsigned kMaxTermRun = 63;
inline constexpr unsigned kMaxMakeUpRun = 2560;

// Terminating codes for runs 0..63, indexed by run.
std::span<const FxT4Code, 64> TerminatingCodes(FxT4Colour colour);
// Make-up codes for 64..1728 (colour-specific) followed by the shared
// extended make-up codes 1792..2560; entry i is the run 64 * (i + 1).
std::span<const FxT4Code, 40> MakeUpCodes(FxT4Colour colour);
}  // namespace FxT4
