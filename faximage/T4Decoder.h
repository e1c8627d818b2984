#pragma once
// Table-driven decoder of T.4 one-dimensional page data stored least
// significant bit first (both APF page forms: the records of the length-word
// form are one continuous bit stream).
//
// Rules of the reader: data before the first end-of-line code is ignored;
// any number of fill bits may precede an end-of-line code; a line is kept
// only when its runs fill exactly 216 or 256 whole bytes; three end-of-line
// codes with no run between them end the page. A code that matches nothing
// is counted, and 1 bits are skipped up to the next 0 bit. A run that would
// carry the line past its 512-byte buffer is not applied.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

class FxT4Decoder {
 public:
  static constexpr unsigned kLineBufferBytes = 512;

  // Receives every accepted line: bytes (216 or 256), most significant bit
  // leftmost, 1 = black. Returns false to stop decoding.
  using LineSink = std::function<bool(const uint8_t* line, unsigned bytes)>;

  explicit FxT4Decoder(LineSink sink);

  // Decodes the next piece of the page's data. Returns true while more data
  // is wanted; false once the page has ended or the sink asked to stop.
  bool Feed(const uint8_t* data, size_t size);

  // The data ended: a last line that is complete but was not closed by an
  // end-of-line code (as some senders end a page) is delivered too.
  void Finish();

  bool PageEnded() const { return pageEnded_; }
  bool Stopped() const { return stopped_; }
  uint64_t LinesAccepted() const { return linesAccepted_; }
  uint64_t LinesDropped() const { return linesDropped_; }
  uint64_t BadCodes() const { return badCodes_; }

 private:
  void Decode();

  LineSink sink_;
  // Unconsumed stream bits, first bit in bit 0.
  uint64_t acc_ = 0;
  unsigned bits_ = 0;
  const uint8_t* in_ = nullptr;
  const uint8_t* inEnd_ = nullptr;

  bool black_ = false;
  bool seenEol_ = false;
  bool skippingOnes_ = false;
  bool pageEnded_ = false;
  bool stopped_ = false;
  unsigned eolCount_ = 0;
  unsigned bitPos_ = 0;   // pixels filled in the current line
  uint64_t word_ = 0;     // pixels of the current 64-pixel word
  unsigned dirty_ = 0;    // 64-bit words of line_ that may hold black pixels
  uint64_t linesAccepted_ = 0;
  uint64_t linesDropped_ = 0;
  uint64_t badCodes_ = 0;
  // Room beyond 512 bytes for the last run the 512-byte rule lets through
  // and for the 64-bit stores that set short black runs.
  alignas(8) std::array<uint8_t, kLineBufferBytes + 24> line_{};
};
