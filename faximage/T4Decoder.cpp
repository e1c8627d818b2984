#include "faximage/T4Decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "faximage/T4Codes.h"

namespace {

// One lookup on the next 13 stream bits resolves any code of either colour.
constexpr unsigned kLookupBits = 13;
constexpr unsigned kLookupSize = 1u << kLookupBits;

enum class Kind : uint8_t {
  Terminating,  // run below 64: the colour changes afterwards
  MakeUp,       // run of 64 or more: the colour stays
  Eol,          // 000000000001
  Fill,         // twelve or more 0 bits: fill before an end-of-line code
  Bad,          // a prefix that no code starts with; length = bits up to it
};

struct Entry {
  uint16_t run;
  uint8_t length;
  Kind kind;
};

struct DecodeTables {
  std::array<std::array<Entry, kLookupSize>, 2> table;

  DecodeTables() {
    for (int c = 0; c < 2; ++c) {
      const auto colour = static_cast<FxT4Colour>(c);
      // Codes of this colour, first bit in the most significant position.
      struct Code {
        uint16_t bits;
        uint8_t length;
        Entry entry;
      };
      std::array<Code, 64 + 40 + 1> codes{};
      size_t n = 0;
      for (const FxT4Code& t : FxT4::TerminatingCodes(colour)) codes[n++] = {t.bits, t.length, {t.run, t.length, Kind::Terminating}};
      for (const FxT4Code& m : FxT4::MakeUpCodes(colour)) codes[n++] = {m.bits, m.length, {m.run, m.length, Kind::MakeUp}};
      codes[n++] = {FxT4::kEolBits, FxT4::kEolLength, {0, FxT4::kEolLength, Kind::Eol}};

      for (unsigned index = 0; index < kLookupSize; ++index) {
        // index holds the next bits with the first one in bit 0.
        Entry e{0, 0, Kind::Fill};
        if ((index & 0xFFFu) != 0) {
          // Walk the prefixes the way a code tree would: the first length
          // at which a code matches, or at which no code can match any more.
          for (unsigned len = 1; len <= kLookupBits; ++len) {
            uint32_t prefix = 0;
            for (unsigned i = 0; i < len; ++i) prefix = (prefix << 1) | ((index >> i) & 1u);
            bool any = false;
            for (size_t k = 0; k < n; ++k) {
              if (codes[k].length < len) continue;
              if (static_cast<uint32_t>(codes[k].bits >> (codes[k].length - len)) != prefix) continue;
              if (codes[k].length == len) {
                e = codes[k].entry;
                break;
              }
              any = true;
            }
            if (e.kind != Kind::Fill) break;
            if (!any) {
              e = {0, static_cast<uint8_t>(len), Kind::Bad};
              break;
            }
          }
        }
        table[c][index] = e;
      }
    }
  }
};

const DecodeTables& Tables() {
  static const DecodeTables tables;
  return tables;
}

// Sets pixels [from, from + count) of an MSB-first line. The line buffer
// has at least 8 bytes beyond the byte holding pixel `from`.
inline void SetBlack(uint8_t* line, unsigned from, unsigned count) {
  if (count == 0) return;
  uint8_t* at = line + (from >> 3);
  const unsigned head = from & 7;
  if (head + count <= 64) {
    // One unaligned 64-bit OR covers the run.
    const uint64_t ones = ~uint64_t{0};
    const uint64_t mask = (ones >> head) & (head + count == 64 ? ones : ~(ones >> (head + count)));
    uint64_t word;
    std::memcpy(&word, at, 8);
    word |= __builtin_bswap64(mask);
    std::memcpy(at, &word, 8);
    return;
  }
  const unsigned end = from + count;
  const unsigned first = from >> 3;
  const unsigned last = (end - 1) >> 3;
  line[first] |= static_cast<uint8_t>(0xFFu >> head);
  std::memset(line + first + 1, 0xFF, last - first - 1);
  line[last] |= static_cast<uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
}

}  // namespace

FxT4Decoder::FxT4Decoder(LineSink sink) : sink_(std::move(sink)) { Tables(); }

bool FxT4Decoder::Feed(const uint8_t* data, size_t size) {
  if (pageEnded_ || stopped_) return false;
  in_ = data;
  inEnd_ = data + size;
  Decode();
  in_ = inEnd_ = nullptr;
  return !(pageEnded_ || stopped_);
}

void FxT4Decoder::Finish() {
  if (pageEnded_ || stopped_ || !seenEol_) return;
  const unsigned bytes = bitPos_ >> 3;
  if (bytes == 216 || bytes == 256) {
    ++linesAccepted_;
    if (sink_ && !sink_(line_.data(), bytes)) stopped_ = true;
  }
  pageEnded_ = true;
}

void FxT4Decoder::Decode() {
  const Entry* const tables[2] = {Tables().table[0].data(), Tables().table[1].data()};
  const uint8_t* p = in_;
  const uint8_t* const end = inEnd_;
  // All decoding state lives in locals while decoding: stores into the line
  // buffer (bytes, which may alias anything) would otherwise force the
  // compiler to reload every member after each run.
  uint8_t* const line = line_.data();
  uint64_t acc = acc_;
  unsigned bits = bits_;
  unsigned pos = bitPos_;
  unsigned dirty = dirty_;
  unsigned eolCount = eolCount_;
  bool black = black_;
  bool seenEol = seenEol_;
  bool skippingOnes = skippingOnes_;
  bool done = pageEnded_ || stopped_;

  auto endOfLine = [&] {
    if (seenEol && pos > 0) {
      const unsigned bytes = pos >> 3;
      if (bytes == 216 || bytes == 256) {
        ++linesAccepted_;
        if (sink_ && !sink_(line, bytes)) {
          stopped_ = true;
          done = true;
        }
      } else {
        ++linesDropped_;
      }
    }
    if (dirty > 0) std::memset(line, 0, dirty);
    dirty = 0;
    pos = 0;
    black = false;
    seenEol = true;
    if (++eolCount >= 3) {
      pageEnded_ = true;
      done = true;
    }
  };

  while (!done) {
    // Refill to at least 57 bits where the input allows. Bits above `bits`
    // in acc are always either 0 or the true next stream bits, so loading
    // overlapping words is harmless.
    if (bits < 32) {
      if (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        acc |= word << bits;
        p += (63 - bits) >> 3;
        bits |= 56;
      } else {
        while (bits <= 56 && p < end) {
          acc |= static_cast<uint64_t>(*p++) << bits;
          bits += 8;
        }
        if (bits == 0) break;
      }
    }

    const Entry e = tables[black ? 1 : 0][acc & (kLookupSize - 1)];
    if (e.kind <= Kind::MakeUp && e.length <= bits && seenEol && !skippingOnes) {
      // A run: the common case.
      acc >>= e.length;
      bits -= e.length;
      const unsigned run = e.run;
      if ((run >> 3) + (pos >> 3) < kLineBufferBytes) {
        if (black && run > 0) {
          SetBlack(line, pos, run);
          dirty = std::max(dirty, (pos + run + 7) >> 3);
        }
        pos += run;
      }
      eolCount = 0;
      if (e.kind == Kind::Terminating) black = !black;
      continue;
    }

    if (skippingOnes) {
      const unsigned ones = static_cast<unsigned>(std::countr_one(acc));
      if (ones >= bits) {
        acc = 0;
        bits = 0;
        continue;
      }
      acc = ones >= 64 ? 0 : acc >> ones;
      bits -= ones;
      skippingOnes = false;
      continue;
    }
    if (e.kind == Kind::Fill) {
      // Twelve or more zeros: fill bits, then (eventually) the 1 of an
      // end-of-line code.
      const unsigned zeros = acc == 0 ? 64 : static_cast<unsigned>(std::countr_zero(acc));
      if (zeros >= bits) {
        // Only zeros in view. Any count of eleven or more is as good as
        // any other, so keep at most twelve and read on.
        acc = 0;
        bits = bits < 12 ? bits : 12;
        if (p == end) break;
        continue;
      }
      acc = zeros + 1 >= 64 ? 0 : acc >> (zeros + 1);  // the zeros and the closing 1
      bits -= zeros + 1;
      endOfLine();
      continue;
    }
    if (e.length > bits) break;  // the code continues in the next piece
    acc >>= e.length;
    bits -= e.length;
    switch (e.kind) {
      case Kind::Terminating:
      case Kind::MakeUp:
        // Before the page's first end-of-line: ignored.
        eolCount = 0;
        if (e.kind == Kind::Terminating) black = !black;
        break;
      case Kind::Eol:
        endOfLine();
        break;
      case Kind::Bad:
        ++badCodes_;
        skippingOnes = true;
        break;
      case Kind::Fill:
        break;
    }
  }
  acc_ = acc;
  bits_ = bits;
  bitPos_ = pos;
  dirty_ = dirty;
  eolCount_ = eolCount;
  black_ = black;
  seenEol_ = seenEol;
  skippingOnes_ = skippingOnes;
}
