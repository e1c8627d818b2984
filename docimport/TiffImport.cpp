#include "docimport/TiffImport.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "docimport/ImportPage.h"

namespace {

// Pages beyond this many pixels are refused rather than decoded for minutes.
constexpr uint64_t kMaxPagePixels = 100'000'000;
// The largest band of pixels decoded at once (one strip or one row of tiles).
constexpr uint64_t kMaxBandPixels = 16'000'000;
constexpr uint32_t kMaxFaxLines = 65535;
constexpr unsigned kMaxPages = 10000;

struct TiffMessages {
  std::string lastError;
};

int OnTiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  auto* messages = static_cast<TiffMessages*>(user);
  messages->lastError = module ? std::string(module) + ": " + text : std::string(text);
  return 1;
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

double DotsPerInch(float value, uint16_t unit) {
  if (!(value > 0) || unit == RESUNIT_NONE) return 0;
  return unit == RESUNIT_CENTIMETER ? value * 2.54 : value;
}

uint8_t GreyOf(uint32_t abgr) {
  const uint32_t r = TIFFGetR(abgr), g = TIFFGetG(abgr), b = TIFFGetB(abgr), a = TIFFGetA(abgr);
  const uint32_t grey = (r * 299 + g * 587 + b * 114) / 1000;
  // Transparent parts show the white paper.
  return static_cast<uint8_t>((grey * a + 255 * (255 - a)) / 255);
}

struct PageInfo {
  uint32_t width = 0, height = 0;
  uint16_t bitsPerSample = 1, samplesPerPixel = 1, photometric = PHOTOMETRIC_MINISWHITE, resUnit = RESUNIT_INCH;
  float xres = 0, yres = 0;
};

PageInfo ReadInfo(TIFF* tif) {
  PageInfo p;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samplesPerPixel);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric)) p.photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &p.resUnit);
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, &p.xres);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, &p.yres);
  return p;
}

bool IsFaxPage(TIFF* tif, const PageInfo& p) {
  return p.bitsPerSample == 1 && p.samplesPerPixel == 1 && (p.width == 1728 || p.width == 2048) &&
         p.height <= kMaxFaxLines && !TIFFIsTiled(tif) &&
         (p.photometric == PHOTOMETRIC_MINISWHITE || p.photometric == PHOTOMETRIC_MINISBLACK);
}

// A bi-level fax page line for line; its vertical resolution decides fine
// or normal. False when a line fails to decode (the page is dropped).
bool ImportFaxPage(TIFF* tif, const PageInfo& p, FxImportSink& sink, const FxImportOptions& options, int& rc) {
  const double dpiY = DotsPerInch(p.yres, p.resUnit);
  const bool fine = dpiY > 0 ? dpiY > 150 : options.resolution == FxImportResolution::fine;
  rc = sink.BeginMonoPage(fine, p.width);
  if (rc != 0) return false;
  const tmsize_t size = TIFFScanlineSize(tif);
  if (size < static_cast<tmsize_t>(p.width / 8)) {
    sink.AbandonPage();
    return false;
  }
  std::vector<uint8_t> line(static_cast<size_t>(size));
  const bool invert = p.photometric == PHOTOMETRIC_MINISBLACK;
  for (uint32_t y = 0; y < p.height; ++y) {
    if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
      sink.AbandonPage();
      return false;
    }
    if (invert)
      for (auto& b : line) b = static_cast<uint8_t>(~b);
    if ((rc = sink.AddMonoLine(line.data())) != 0) return false;
  }
  rc = sink.EndPage();
  return rc == 0;
}

// Any other page: decoded band by band to RGBA, turned grey and scaled
// straight onto the fax page, so only one band of the source is in memory.
bool ImportPicturePage(TIFF* tif, const PageInfo& p, FxImportSink& sink, const FxImportOptions& options, int& rc,
                       std::string& why) {
  char message[1024] = {};
  if (!TIFFRGBAImageOK(tif, message)) {
    why = message;
    return false;
  }
  const bool fine = options.resolution == FxImportResolution::fine;
  const double dpiX = DotsPerInch(p.xres, p.resUnit), dpiY = DotsPerInch(p.yres, p.resUnit);
  FxPageFit fit;
  if (dpiX >= 50 && dpiY >= 50 && dpiX <= 4800 && dpiY <= 4800) {
    fit = FxFitPage(p.width / dpiX, p.height / dpiY, fine);
  } else {
    const double widthInches = kImportFaxWidth / kImportDpiX;
    fit = FxFitPage(widthInches, widthInches * p.height / p.width, fine);
  }
  FxGreyImage page;
  FxRowScaler scaler(p.width, p.height, fit.width, fit.height, page);
  std::vector<uint8_t> grey(p.width);

  const bool tiled = TIFFIsTiled(tif);
  uint32_t bandHeight = 0, tileWidth = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandHeight);
    if (tileWidth == 0 || bandHeight == 0 || uint64_t{tileWidth} * bandHeight > kMaxBandPixels) {
      why = "its tiles are too large";
      return false;
    }
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandHeight);
    bandHeight = std::clamp<uint32_t>(bandHeight, 1, p.height);
  }
  if (uint64_t{p.width} * bandHeight > kMaxBandPixels) {
    why = "its strips are too large";
    return false;
  }
  std::vector<uint32_t> band(size_t{p.width} * bandHeight);
  std::vector<uint32_t> tile(tiled ? size_t{tileWidth} * bandHeight : 0);
  for (uint32_t top = 0; top < p.height; top += bandHeight) {
    const uint32_t rows = std::min(bandHeight, p.height - top);
    if (!tiled) {
      if (!TIFFReadRGBAStrip(tif, top, band.data())) {
        why = "a strip is damaged";
        return false;
      }
    } else {
      for (uint32_t left = 0; left < p.width; left += tileWidth) {
        if (!TIFFReadRGBATile(tif, left, top, tile.data())) {
          why = "a tile is damaged";
          return false;
        }
        // Tile rows come bottom up; the band is kept the same way as strips.
        const uint32_t cols = std::min(tileWidth, p.width - left);
        for (uint32_t r = 0; r < rows; ++r) {
          const uint32_t* from = tile.data() + size_t{bandHeight - rows + r} * tileWidth;
          std::copy(from, from + cols, band.data() + size_t{r} * p.width + left);
        }
      }
    }
    // The decoded band lists its rows bottom up.
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t* px = band.data() + size_t{rows - 1 - r} * p.width;
      for (uint32_t x = 0; x < p.width; ++x) grey[x] = GreyOf(px[x]);
      scaler.AddRow(grey.data());
    }
  }
  rc = sink.AddGreyPage(page, fine, options.toning);
  return rc == 0;
}

}  // namespace

int FxImportTiff(const std::filesystem::path& in, FxImportSink& sink, const FxImportOptions& options,
                 FxImportResult& result) {
  TiffMessages messages;
  std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(TIFFOpenOptionsAlloc());
  TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), OnTiffError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), OnTiffWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), 256 << 20);
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpenExt(in.c_str(), "r", opts.get()));
  if (!tif) {
    result.error = "The file is not a readable TIFF image";
    result.error += messages.lastError.empty() ? "." : " (" + messages.lastError + ").";
    return ecImportDamaged;
  }
  const unsigned count = std::min<unsigned>(TIFFNumberOfDirectories(tif.get()), kMaxPages);
  for (unsigned n = 0; n < count; ++n) {
    if (options.progress && !options.progress(n, count)) {
      result.error = "The import was cancelled.";
      return ecImportCancelled;
    }
    const std::string which = "Page " + std::to_string(n + 1);
    if (!TIFFSetDirectory(tif.get(), static_cast<tdir_t>(n))) {
      result.warnings.push_back(which + " could not be read; the pages after it are left out.");
      result.pagesSkipped += count - n;
      break;
    }
    const PageInfo info = ReadInfo(tif.get());
    if (info.width == 0 || info.height == 0) {
      result.warnings.push_back(which + " has no size.");
      ++result.pagesSkipped;
      continue;
    }
    if (uint64_t{info.width} * info.height > kMaxPagePixels) {
      result.warnings.push_back(which + " is too large (" + std::to_string(info.width) + " x " +
                                std::to_string(info.height) + " pixels).");
      ++result.pagesSkipped;
      continue;
    }
    int rc = 0;
    std::string why;
    const bool ok = IsFaxPage(tif.get(), info) ? ImportFaxPage(tif.get(), info, sink, options, rc)
                                               : ImportPicturePage(tif.get(), info, sink, options, rc, why);
    if (rc != 0) {
      result.error = "The fax file could not be written.";
      return rc;
    }
    if (!ok) {
      if (why.empty()) why = "its image data is damaged";
      result.warnings.push_back(which + " is left out: " + why + ".");
      ++result.pagesSkipped;
    }
  }
  return 0;
}
