#include "faximage/TextRasterizer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "faximage/ErrorCodes.h"
#include "faximage/FaxFont.h"
#include "faximage/T4Coder.h"

namespace {

// Windows-1252 codes 0x80..0x9F and their code points.
constexpr std::array<uint16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char FaxCode(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == cp && cp != 0) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string FxUtf8ToFaxCodes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    unsigned len = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    uint32_t cp = len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
    bool ok = len != 0 && i + len <= text.size();
    for (unsigned k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    if (!ok) return std::string(text);  // not UTF-8: Latin-1 bytes as they are
    out.push_back(FaxCode(cp));
    i += len;
  }
  return out;
}

int TFxTextConverter::LoadFont(unsigned sizeCode, bool fine) { return LoadFont(sizeCode, fine, FxFaxFontResource()); }

int TFxTextConverter::LoadFont(unsigned sizeCode, bool fine, std::span<const uint8_t> resource) {
  if (resource.size() != kFxFaxFontResourceSize) return FxErr::ecFontFileNotFound;
  size_t offset = 0;
  unsigned rows = 0;
  switch (sizeCode) {
    case 16:
      offset = 0;
      charWidth_ = 12;
      bytesPerRow_ = 2;
      rows = 8;
      break;
    case 48:
      offset = 4096;
      charWidth_ = 20;
      bytesPerRow_ = 3;
      rows = 16;
      break;
    default:
      return FxErr::ecBadArgument;
  }
  renderer_.reset();
  const unsigned factor = fine ? 2 : 1;
  charRows_ = rows * factor;
  const size_t charBytes = size_t{bytesPerRow_} * rows;
  font_.assign(256 * charBytes * factor, 0);
  for (size_t ch = 0; ch < 256; ++ch) {
    for (unsigned r = 0; r < rows; ++r) {
      const uint8_t* src = resource.data() + offset + ch * charBytes + r * bytesPerRow_;
      for (unsigned k = 0; k < factor; ++k) {
        std::memcpy(font_.data() + (ch * charRows_ + r * factor + k) * bytesPerRow_, src, bytesPerRow_);
      }
    }
  }
  return 0;
}

int TFxTextConverter::SetEnhFont(std::shared_ptr<const TFxFontRenderer> renderer, bool fine) {
  if (!renderer) return FxErr::ecBadArgument;
  const unsigned scale = fine ? 2 : 1;
  const unsigned height = renderer->TextHeight(scale);
  const unsigned width = width_ > leftMargin_ ? width_ - leftMargin_ : 0;
  const uint64_t bytes = uint64_t{(width + 15) / 16 * 2} * height;
  if (bytes > kMaxEnhancedBitmapBytes) return FxErr::ecEnhFontTooBig;
  if (height == 0 || width == 0) return FxErr::ecBadArgument;
  renderer_ = std::move(renderer);
  enhScale2_ = fine;
  enhBitmap_ = TFxBitmap::MakeMono(width, height);
  font_.clear();
  return 0;
}

unsigned TFxTextConverter::RowsPerLine() const { return renderer_ ? enhBitmap_.height : charRows_; }

unsigned TFxTextConverter::CharsPerLine() const { return charWidth_ == 0 ? 0 : width_ / charWidth_; }

std::string TFxTextConverter::ExpandTabs(std::string_view text) const {
  std::string out;
  for (char c : text) {
    if (c == '\t') {
      do {
        out.push_back(' ');
      } while (out.size() % tabStop_ != 0);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void TFxTextConverter::RasterizeRow(std::string_view text, unsigned row, uint8_t* raw) {
  const unsigned lineBytes = width_ / 8;
  std::memset(raw, 0, lineBytes);
  if (row == 0) return;
  if (renderer_) {
    if (row == 1) {
      std::fill(enhBitmap_.bits.begin(), enhBitmap_.bits.end(), uint8_t{0xFF});
      renderer_->DrawText(text, enhScale2_ ? 2 : 1, enhBitmap_);
    }
    if (row > enhBitmap_.height) return;
    const unsigned y = row - 1;
    if (enhScale2_) {
      for (unsigned x = 0; x < enhBitmap_.width && x < width_; ++x) {
        if (enhBitmap_.IsBlack(x, y)) raw[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
      }
    } else {
      // Normal resolution: the first half of the row, each pixel doubled.
      for (unsigned x = 0; x < enhBitmap_.width / 2 && 2 * x + 1 < width_; ++x) {
        if (!enhBitmap_.IsBlack(x, y)) continue;
        for (unsigned k = 0; k < 2; ++k) raw[(2 * x + k) >> 3] |= static_cast<uint8_t>(0x80u >> ((2 * x + k) & 7));
      }
    }
    return;
  }
  if (row > charRows_ || font_.empty()) return;
  unsigned bit = 0;
  for (char ch : text) {
    if (bit + charWidth_ > width_) break;
    const uint8_t* glyphRow = font_.data() + (static_cast<size_t>(static_cast<unsigned char>(ch)) * charRows_ + row - 1) * bytesPerRow_;
    for (unsigned x = 0; x < charWidth_; ++x, ++bit) {
      if (glyphRow[x >> 3] & (0x80u >> (x & 7))) raw[bit >> 3] |= static_cast<uint8_t>(0x80u >> (bit & 7));
    }
  }
}

size_t TFxTextConverter::CodeLine(const uint8_t* raw, uint8_t* out) const {
  return FxT4::CodeLine(raw, width_, std::min(leftMargin_, width_ - 1), out);
}

size_t TFxTextConverter::PageEndRecord(uint8_t* out) { return FxT4::PageEndRecord(out); }
