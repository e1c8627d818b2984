#pragma once
// T.4 one-dimensional (Modified Huffman) coding of raw raster lines into the
// line records of an APF page, least significant bit first.
//
// A raw line is width/8 bytes, one bit per pixel, most significant bit
// leftmost, 1 = black.

#include <array>
#include <cstddef>
#include <cstdint>

namespace FxT4 {

// Upper bound of one coded line record (a 2048-pixel line of alternating
// pixels needs about 1.2 KB); also the record size readers accept.
inline constexpr size_t kMaxRecordBytes = 4096;

// Widths the coder handles: the two fax page widths.
inline constexpr unsigned kNormalWidth = 1728;
inline constexpr unsigned kWideWidth = 2048;

// The record of a blank top-margin line: 16-bit end-of-line, a white run of
// 1728, padding. Used on wide pages too.
inline constexpr std::array<uint8_t, 6> kBlankRecord{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};

// Codes one raw line into out (at least kMaxRecordBytes): the 16-bit end of
// line (four fill bits), the runs of leftMargin white pixels followed by the
// first width - leftMargin pixels of raw, then zero bits to the end of the
// byte and one more zero byte. Returns the record length. width must be 1728
// or 2048 and leftMargin below width.
size_t CodeLine(const uint8_t* raw, unsigned width, unsigned leftMargin, uint8_t* out);

// The page-end record: the 16-bit end-of-line and seven 12-bit end-of-line
// codes, then padding as for a line. Returns its length (14).
size_t PageEndRecord(uint8_t* out);

}  // namespace FxT4
