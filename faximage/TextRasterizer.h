#pragma once
// Text rasterizing for fax pages: one text line rendered row by row into raw
// raster lines (width/8 bytes, most significant bit leftmost, 1 = black),
// either with the built-in fax font or, for "enhanced" text, with a font
// drawn by a TFxFontRenderer that the host supplies (the Qt layer draws with
// its fonts; this library has no font engine of its own).
//
// The fax engine uses this toolkit with TFxT4 line coding to print its header
// line on every page it sends.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "faximage/Bitmap.h"

enum class TFaxResolution { frNormal, frHigh };
enum class TFaxWidth { fwNormal, fwWide };
enum class TFaxFont { ffStandard, ffSmall };

inline unsigned FxPageWidth(TFaxWidth w) { return w == TFaxWidth::fwWide ? 2048u : 1728u; }

// Draws one line of text for the enhanced-text rasterizer.
class TFxFontRenderer {
 public:
  virtual ~TFxFontRenderer() = default;
  // Height in pixels of the text "Wy" with the font size multiplied by scale
  // (1, or 2 at fine resolution).
  virtual unsigned TextHeight(unsigned scale) const = 0;
  // Draws text (Windows-1252 codes) in black at the top left of target, a
  // white monochrome bitmap (TFxBitmap convention: set bit = white), with
  // the font size multiplied by scale.
  virtual void DrawText(std::string_view text, unsigned scale, TFxBitmap& target) const = 0;
};

// UTF-8 to the Windows-1252 codes of the fax font; characters it has no code
// for become '?'. Text that is not valid UTF-8 is taken as Latin-1 bytes.
std::string FxUtf8ToFaxCodes(std::string_view text);

// Conversion state for text input: the font, margins, width, resolution,
// station ID and tab stop, and the row rasterizer and line coder.
class TFxTextConverter {
 public:
  static constexpr unsigned kMaxEnhancedBitmapBytes = 65536;

  // Built-in font, size code 16 (small, 12 x 8) or 48 (standard, 20 x 16);
  // at fine resolution every row is doubled. -8052 when the resource is
  // missing or not 16384 bytes, -1002 for another size code.
  int LoadFont(unsigned sizeCode, bool fine);
  int LoadFont(unsigned sizeCode, bool fine, std::span<const uint8_t> resource);
  // Enhanced text with the host's renderer: at fine resolution the font size
  // is doubled; at normal resolution each drawn pixel is doubled across.
  // -8055 when one text line's bitmap would exceed 65536 bytes, -1002 when
  // renderer is null.
  int SetEnhFont(std::shared_ptr<const TFxFontRenderer> renderer, bool fine);

  void SetMargins(unsigned left, unsigned top) {
    leftMargin_ = left;
    topMargin_ = top;
  }
  void SetWidth(TFaxWidth width) { width_ = FxPageWidth(width); }
  void SetResolution(TFaxResolution r) { fine_ = r == TFaxResolution::frHigh; }
  void SetStationId(std::string_view id) { stationId_ = std::string(id.substr(0, 20)); }
  void SetTabStop(unsigned tab) { tabStop_ = tab == 0 ? 1 : tab; }

  unsigned PageWidth() const { return width_; }
  unsigned LeftMargin() const { return leftMargin_; }
  unsigned TopMargin() const { return topMargin_; }
  bool Fine() const { return fine_; }
  const std::string& StationId() const { return stationId_; }
  unsigned TabStop() const { return tabStop_; }
  bool Enhanced() const { return renderer_ != nullptr; }
  // Raster rows of one text line (8, 16 or 32 for the built-in font; the
  // bitmap height for enhanced text); 0 before a font is set.
  unsigned RowsPerLine() const;
  // Characters that fit on a line with the built-in font.
  unsigned CharsPerLine() const;

  // Tabs expanded to the tab stop.
  std::string ExpandTabs(std::string_view text) const;

  // Row `row` (1-based) of the text line into raw (PageWidth()/8 bytes, all
  // overwritten). Rows beyond the font height give a white line. For
  // enhanced text row 1 draws the line; later rows reuse that drawing.
  void RasterizeRow(std::string_view text, unsigned row, uint8_t* raw);

  // One raw line coded as a line record (see FxT4::CodeLine): returns the
  // record length. out must hold FxT4::kMaxRecordBytes.
  size_t CodeLine(const uint8_t* raw, uint8_t* out) const;
  static size_t PageEndRecord(uint8_t* out);

 private:
  unsigned leftMargin_ = 50;
  unsigned topMargin_ = 0;
  unsigned width_ = 1728;
  bool fine_ = false;
  std::string stationId_;
  unsigned tabStop_ = 4;

  // Built-in font, rows already doubled at fine resolution.
  std::vector<uint8_t> font_;
  unsigned charWidth_ = 0;
  unsigned charRows_ = 0;
  unsigned bytesPerRow_ = 0;

  std::shared_ptr<const TFxFontRenderer> renderer_;
  bool enhScale2_ = false;
  TFxBitmap enhBitmap_;
};
