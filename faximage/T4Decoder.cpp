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
// Marks a packed entry that holds two terminating codes.
constexpr uint32_t kPairFlag = 0x80000000u;

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
  // The same entries packed into one word for the hot loop, white then
  // black: run in bits 0-15, length in bits 16-23, kind in bits 24-30; or,
  // with kPairFlag, two terminating runs (bits 0-5 and 6-11) and their total
  // length, where two short codes fit into the lookup bits.
  std::array<uint32_t, 2 * kLookupSize> packed;

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
    for (unsigned c = 0; c < 2; ++c) {
      for (unsigned index = 0; index < kLookupSize; ++index) {
        const Entry& e = table[c][index];
        uint32_t word = e.run | (uint32_t{e.length} << 16) | (uint32_t{static_cast<uint8_t>(e.kind)} << 24);
        if (e.kind == Kind::Terminating && e.length < kLookupBits) {
          // The bits after the first code, with zeros shifted in on top:
          // a second code that fits within the real bits is certain.
          const Entry& f = table[c ^ 1][index >> e.length];
          if (f.kind == Kind::Terminating && e.length + f.length <= kLookupBits) {
            word = kPairFlag | e.run | (uint32_t{f.run} << 6) | (static_cast<uint32_t>(e.length + f.length) << 16);
          }
        }
        packed[c * kLookupSize + index] = word;
      }
    }
  }
};

const DecodeTables& Tables() {
  static const DecodeTables tables;
  return tables;
}

constexpr uint64_t kOnes = ~uint64_t{0};

// Stores 64 pixels (first pixel in the most significant bit) as 8 bytes of
// an MSB-first line.
inline void StoreWord(uint8_t* line, unsigned index, uint64_t pixels) {
  const uint64_t bytes = __builtin_bswap64(pixels);
  std::memcpy(line + size_t{index} * 8, &bytes, 8);
}

// Adds a run to the line being built: pixels gather in `word` (the 64-pixel
// word holding pos) and are stored a whole word at a time; white needs no
// work beyond that, since the line starts white. A run that would carry the
// line past its 512-byte buffer is not applied.
[[gnu::always_inline]] inline void AddRun(uint8_t* line, unsigned& pos, uint64_t& word, unsigned& dirty, unsigned run,
                                          unsigned colour) {
  if ((run >> 3) + (pos >> 3) >= FxT4Decoder::kLineBufferBytes) return;
  const unsigned off = pos & 63;
  const unsigned next = pos + run;
  if (off + run < 64) {
    if (colour != 0) word |= (kOnes >> off) & ~(kOnes >> (off + run));
  } else {
    unsigned w = pos >> 6;
    const unsigned last = next >> 6;
    if (colour != 0) {
      StoreWord(line, w, word | (kOnes >> off));
      while (++w < last) StoreWord(line, w, kOnes);
      word = (next & 63) != 0 ? ~(kOnes >> (next & 63)) : 0;
      dirty = std::max(dirty, last);
    } else if (word != 0) {
      StoreWord(line, w, word);
      word = 0;
      dirty = std::max(dirty, w + 1);
    }
  }
  pos = next;
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
  StoreWord(line_.data(), bitPos_ >> 6, word_);
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
  uint64_t word = word_;  // pixels of the line's 64-pixel word holding pos
  unsigned dirty = dirty_;  // words of line_ that may hold black pixels
  unsigned eolCount = eolCount_;
  bool black = black_;
  bool seenEol = seenEol_;
  bool skippingOnes = skippingOnes_;
  bool done = pageEnded_ || stopped_;

  const uint32_t* const packed = Tables().packed.data();
  while (!done) {
    // The hot loop: runs and end-of-line codes, at least 32 bits in view, 8
    // input bytes at hand for each refill. Everything else (data before the
    // first end-of-line, bad codes, the last bytes of a piece) falls through
    // to the general code below, one code at a time.
    if (seenEol && !skippingOnes) {
      unsigned colour = black ? 1u : 0u;
      for (;;) {
        if (bits < 32) {
          if (end - p < 8) break;
          uint64_t next8;
          std::memcpy(&next8, p, 8);
          acc |= next8 << bits;
          p += (63 - bits) >> 3;
          bits |= 56;
        }
        const uint32_t e = packed[(colour << kLookupBits) | static_cast<unsigned>(acc & (kLookupSize - 1))];
        if (e & kPairFlag) {
          // Two short terminating codes, this colour then the other.
          const unsigned length = (e >> 16) & 0xFFu;
          acc >>= length;
          bits -= length;
          AddRun(line, pos, word, dirty, e & 63u, colour);
          AddRun(line, pos, word, dirty, (e >> 6) & 63u, colour ^ 1u);
          eolCount = 0;
          continue;
        }
        const unsigned kind = e >> 24;
        if (kind > static_cast<unsigned>(Kind::MakeUp)) {
          // An end-of-line code, with or without fill bits before it, is
          // taken here too; anything else goes to the general code.
          if (kind == static_cast<unsigned>(Kind::Eol)) {
            acc >>= FxT4::kEolLength;
            bits -= FxT4::kEolLength;
          } else if (kind == static_cast<unsigned>(Kind::Fill) && acc != 0 &&
                     static_cast<unsigned>(std::countr_zero(acc)) < bits) {
            const unsigned zeros = static_cast<unsigned>(std::countr_zero(acc));
            acc = zeros + 1 >= 64 ? 0 : acc >> (zeros + 1);
            bits -= zeros + 1;
          } else {
            break;
          }
          black = colour != 0;
          goto endOfLine;
        }
        const unsigned length = (e >> 16) & 0xFFu;
        acc >>= length;
        bits -= length;
        AddRun(line, pos, word, dirty, e & 0xFFFFu, colour);
        eolCount = 0;
        colour ^= kind == static_cast<unsigned>(Kind::Terminating) ? 1u : 0u;
      }
      black = colour != 0;
    }

    {
      // Refill to at least 57 bits where the input allows. Bits above `bits`
      // in acc are always either 0 or the true next stream bits, so loading
      // overlapping words is harmless.
      if (bits < 32) {
        if (end - p >= 8) {
          uint64_t next8;
          std::memcpy(&next8, p, 8);
          acc |= next8 << bits;
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
        AddRun(line, pos, word, dirty, e.run, black ? 1u : 0u);
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
        goto endOfLine;
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
          goto endOfLine;
        case Kind::Bad:
          ++badCodes_;
          skippingOnes = true;
          break;
        case Kind::Fill:
          break;
      }
      continue;
    }

  endOfLine:
    // Reached from the two places that find an end-of-line code; a label
    // rather than a helper keeps the decoding state in registers.
    if (word != 0) {
      StoreWord(line, pos >> 6, word);
      dirty = std::max(dirty, (pos >> 6) + 1);
      word = 0;
    }
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
    for (unsigned w = 0; w < dirty; ++w) StoreWord(line, w, 0);
    dirty = 0;
    pos = 0;
    black = false;
    seenEol = true;
    if (++eolCount >= 3) {
      pageEnded_ = true;
      done = true;
    }
  }
  acc_ = acc;
  bits_ = bits;
  bitPos_ = pos;
  word_ = word;
  dirty_ = dirty;
  eolCount_ = eolCount;
  black_ = black;
  seenEol_ = seenEol;
  skippingOnes_ = skippingOnes;
}
