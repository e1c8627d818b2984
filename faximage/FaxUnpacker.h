#pragma once
// TFxFaxUnpacker: reads one page of an APF file, decodes it into raster
// lines, optionally adjusts them (aspect correction, blank-line compression,
// scaling) and delivers the page as a monochrome bitmap or as a PCX, DCX or
// BMP file. The operations raise EFxImageError on failure.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "faximage/Apf.h"
#include "faximage/Bitmap.h"

enum TUnpackerOptions : unsigned {
  uoYield = 0x1,  // call OnYield while decoding
  uoAbort = 0x2,  // stop decoding at the next piece of input
};

enum class TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TFxFaxUnpacker;
using TUnpackOutputLineEvent = std::function<void(TFxFaxUnpacker& sender, bool starting, bool ending,
                                                  const uint8_t* data, unsigned len, unsigned pageNum)>;
using TUnpackStatusEvent = std::function<void(TFxFaxUnpacker& sender, const std::string& fileName, unsigned pageNum,
                                              uint64_t bytesUnpacked, uint64_t bytesToUnpack)>;

class TFxFaxUnpacker {
 public:
  // Rows a page bitmap may have before decoding gives up with "Insufficient
  // memory": sixteen times a fine A4 page, far beyond any real fax.
  static constexpr unsigned kMaxRows = 32768;
  // Largest scaled bitmap in bytes.
  static constexpr uint64_t kMaxScaledBytes = uint64_t{256} << 20;

  unsigned Options() const { return options_; }
  void SetOptions(unsigned options) { options_ = options; }
  // Asks a running decode to stop (sets uoAbort); the page so far is kept.
  void Abort() { options_ |= uoAbort; }

  bool WhitespaceCompression = false;
  unsigned WhitespaceFrom = 0;
  unsigned WhitespaceTo = 0;
  bool Scaling = false;
  TAutoScaleMode AutoScaleMode = TAutoScaleMode::asDoubleHeight;

  unsigned HorizMult() const { return horizMult_; }
  unsigned HorizDiv() const { return horizDiv_; }
  unsigned VertMult() const { return vertMult_; }
  unsigned VertDiv() const { return vertDiv_; }
  // Setting 0 is ignored.
  void SetHorizMult(unsigned v) { if (v != 0) horizMult_ = v; }
  void SetHorizDiv(unsigned v) { if (v != 0) horizDiv_ = v; }
  void SetVertMult(unsigned v) { if (v != 0) vertMult_ = v; }
  void SetVertDiv(unsigned v) { if (v != 0) vertDiv_ = v; }

  const std::string& InFileName() const { return inFileName_; }
  // A different name (compared without regard to case) also sets
  // OutFileName to the same name without extension.
  void SetInFileName(const std::string& name);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& name) { outFileName_ = name; }

  TUnpackOutputLineEvent OnOutputLine;
  TUnpackStatusEvent OnStatus;
  // Called with uoYield every 16 decoded lines: the host processes one
  // pending window message here.
  std::function<void()> OnYield;

  unsigned PageCount();
  bool FirstPageHighRes();
  bool FirstPageWide();

  TFxBitmap PageToBitmap(unsigned page);
  // Line-by-line unpack of a page to OnOutputLine (raw lines, 1 = black, no
  // aspect correction): a starting call, one call per line, an ending call.
  void UnpackPage(unsigned page);

  void PageToPcxFile(unsigned page);
  void PageToDcxFile(unsigned page);
  void PageToBmpFile(unsigned page);

  // The same operations returning the error code instead of raising it.
  int TryPageToBitmap(unsigned page, TFxBitmap& out);
  int TryPageToFile(unsigned page, const std::string& format);  // "PCX", "DCX" or "BMP"

 private:
  int FirstPageFlags(uint16_t& flags);
  int CheckOptions() const;
  // Decodes page n, handing each accepted line (1 = black) to sink.
  int DecodePage(unsigned page, ApfPageHeader& header,
                 const std::function<bool(const uint8_t*, unsigned)>& sink);
  std::filesystem::path ExportName(const std::string& ext) const;

  unsigned options_ = uoYield;
  unsigned horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  std::string inFileName_;
  std::string outFileName_;
};

// Picture file writers used by the exports (bitmap rows 1 = white).
int FxWritePcx(const TFxBitmap& bitmap, std::vector<uint8_t>& out);
int FxWriteDcxFile(const TFxBitmap& bitmap, const std::filesystem::path& path);
int FxWritePcxFile(const TFxBitmap& bitmap, const std::filesystem::path& path);
int FxWriteBmpFile(const TFxBitmap& bitmap, const std::filesystem::path& path);
// Plain stretch of a monochrome bitmap; shrinking keeps black pixels.
TFxBitmap FxStretchMono(const TFxBitmap& src, unsigned width, unsigned height);
