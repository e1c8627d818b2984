#include "faximage/T4Coder.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "faximage/T4Codes.h"

namespace {

struct LsbCode {
  uint32_t bits;  // code with its first bit in bit 0
  uint32_t length;
};

uint32_t Reverse(uint32_t bits, unsigned length) {
  uint32_t r = 0;
  for (unsigned i = 0; i < length; ++i) r |= ((bits >> i) & 1u) << (length - 1 - i);
  return r;
}

// For each colour and each run 0..2560 the complete code (make-up followed
// by terminating code) as one LSB-first bit string of at most 25 bits.
struct RunCodeTable {
  std::array<std::array<LsbCode, FxT4::kMaxMakeUpRun + 64>, 2> runs;

  RunCodeTable() {
    for (int c = 0; c < 2; ++c) {
      const auto colour = static_cast<FxT4Colour>(c);
      const auto term = FxT4::TerminatingCodes(colour);
      const auto make = FxT4::MakeUpCodes(colour);
      for (unsigned run = 0; run < runs[c].size(); ++run) {
        const FxT4Code& t = term[run % 64];
        LsbCode code{Reverse(t.bits, t.length), t.length};
        if (run >= 64) {
          const FxT4Code& m = make[run / 64 - 1];
          code.bits = Reverse(m.bits, m.length) | (code.bits << m.length);
          code.length += m.length;
        }
        runs[c][run] = code;
      }
    }
  }
};

const RunCodeTable& Codes() {
  static const RunCodeTable table;
  return table;
}

// Little-endian bit writer over a 64-bit accumulator.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}

  void Put(uint32_t bits, unsigned length) {
    acc_ |= static_cast<uint64_t>(bits) << count_;
    count_ += length;
    if (count_ >= 32) {
      const uint32_t word = static_cast<uint32_t>(acc_);
      std::memcpy(out_ + pos_, &word, 4);  // the machine is little-endian (checked below)
      pos_ += 4;
      acc_ >>= 32;
      count_ -= 32;
    }
  }

  // Pads with zero bits to the end of the partly filled byte and adds one
  // zero byte; returns the record length (index of the partly filled byte
  // + 2, so codes ending on a byte boundary get two zero bytes).
  size_t Finish() {
    const size_t length = (pos_ * 8 + count_) / 8 + 2;
    uint64_t rest = acc_;
    while (pos_ < length) {
      out_[pos_++] = static_cast<uint8_t>(rest);
      rest >>= 8;
    }
    return length;
  }

 private:
  uint8_t* out_;
  uint64_t acc_ = 0;
  unsigned count_ = 0;
  size_t pos_ = 0;
};

static_assert(std::endian::native == std::endian::little, "the coder stores 32-bit words in little-endian order");

inline uint64_t Load64Be(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// First position >= pos (and < limit) whose pixel differs from the colour
// given by black, or limit. Reads whole 64-bit words: the line buffer must
// hold ceil(limit / 64) words.
inline unsigned FindChange(const uint8_t* line, unsigned pos, unsigned limit, bool black) {
  const uint64_t flip = black ? ~uint64_t{0} : 0;
  while (pos < limit) {
    const unsigned word = pos >> 6;
    const uint64_t w = (Load64Be(line + word * 8) ^ flip) << (pos & 63);
    if (w != 0) {
      const unsigned at = pos + static_cast<unsigned>(std::countl_zero(w));
      return at < limit ? at : limit;
    }
    pos = (word + 1) * 64;
  }
  return limit;
}

constexpr LsbCode kEol16{0x8000, 16};  // four fill bits, then 000000000001
constexpr LsbCode kEol12{0x800, 12};

}  // namespace

namespace FxT4 {

size_t CodeLine(const uint8_t* raw, unsigned width, unsigned leftMargin, uint8_t* out) {
  assert((width == kNormalWidth || width == kWideWidth) && leftMargin < width);
  const auto& runs = Codes().runs;
  BitWriter w(out);
  w.Put(kEol16.bits, kEol16.length);
  const unsigned limit = width - leftMargin;
  // The margin joins the first white run (which is the margin alone when
  // the first input pixel is black).
  unsigned pos = FindChange(raw, 0, limit, false);
  const LsbCode& first = runs[0][pos + leftMargin];
  w.Put(first.bits, first.length);
  bool black = true;
  while (pos < limit) {
    const unsigned next = FindChange(raw, pos, limit, black);
    const unsigned run = next - pos;
    const LsbCode& code = runs[black ? 1 : 0][run];
    w.Put(code.bits, code.length);
    pos = next;
    black = !black;
  }
  return w.Finish();
}

size_t PageEndRecord(uint8_t* out) {
  BitWriter w(out);
  w.Put(kEol16.bits, kEol16.length);
  for (int i = 0; i < 7; ++i) w.Put(kEol12.bits, kEol12.length);
  return w.Finish();
}

}  // namespace FxT4
