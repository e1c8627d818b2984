#pragma once
// A deliberately plain T.4 page decoder, bit by bit over the code lists, with
// the reader rules of the APF format. The tests and the page-decoder fuzz
// target compare FxT4Decoder (table driven, word at a time) against it.

#include <cstdint>
#include <vector>

#include "faximage/T4Codes.h"

struct FxReferenceT4Result {
  std::vector<std::vector<uint8_t>> lines;
  bool pageEnded = false;
};

inline FxReferenceT4Result FxReferenceT4Decode(const uint8_t* data, size_t size, bool finish) {
  FxReferenceT4Result r;
  std::vector<uint8_t> line(520, 0);
  unsigned pos = 0, eols = 0;
  bool black = false, seenEol = false;
  size_t bit = 0;
  const size_t total = size * 8;
  auto next = [&]() -> int { return bit < total ? (data[bit / 8] >> (bit % 8)) & 1 : -1; };
  auto endOfLine = [&] {
    if (seenEol && pos > 0 && ((pos >> 3) == 216 || (pos >> 3) == 256)) {
      r.lines.emplace_back(line.begin(), line.begin() + (pos >> 3));
    }
    std::fill(line.begin(), line.end(), 0);
    pos = 0;
    black = false;
    seenEol = true;
    if (++eols >= 3) r.pageEnded = true;
  };
  while (!r.pageEnded) {
    unsigned value = 0, length = 0;
    bool matched = false, dead = false;
    while (!matched && !dead) {
      const int b = next();
      if (b < 0) break;
      ++bit;
      value = (value << 1) | static_cast<unsigned>(b);
      ++length;
      if (value == 0) continue;  // zeros: the start of an end-of-line, or fill before one
      if (value == 1 && length >= 12) {  // eleven or more zeros, then 1
        endOfLine();
        matched = true;
        continue;
      }
      bool prefix = false;
      const auto colour = black ? FxT4Colour::Black : FxT4Colour::White;
      auto check = [&](const FxT4Code& c, bool makeUp) {
        if (matched || c.length < length) return;
        if ((static_cast<unsigned>(c.bits) >> (c.length - length)) != value) return;
        if (c.length > length) {
          prefix = true;
          return;
        }
        matched = true;
        eols = 0;
        if (seenEol && (c.run >> 3) + (pos >> 3) < 512) {
          for (unsigned i = 0; i < c.run && black; ++i) line[(pos + i) / 8] |= static_cast<uint8_t>(0x80 >> ((pos + i) % 8));
          pos += c.run;
        }
        if (!makeUp) black = !black;
      };
      for (const auto& c : FxT4::TerminatingCodes(colour)) check(c, false);
      for (const auto& c : FxT4::MakeUpCodes(colour)) check(c, true);
      if (!matched && !prefix) dead = true;
    }
    if (!matched && !dead) break;  // the data ended inside a code
    if (dead) {
      while (next() == 1) ++bit;  // skip 1 bits up to the next 0
    }
  }
  if (finish && !r.pageEnded && seenEol && ((pos >> 3) == 216 || (pos >> 3) == 256)) {
    r.lines.emplace_back(line.begin(), line.begin() + (pos >> 3));
  }
  return r;
}
