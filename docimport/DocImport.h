#pragma once
// Document import: PDF, PostScript, TIFF, plain text and (through a loader
// the host supplies) PNG/JPEG/BMP/GIF images become an APF fax file.
//
// Every page is rendered at fax resolution (204 x 196 dpi fine, 204 x 98
// normal) onto the 1728-pixel fax width, scaled down when it would not fit
// (the aspect is kept, nothing is cut), and reduced to one bit. Pages are
// handled one at a time, so memory stays bounded by one page. The output is
// written under a temporary name beside the target and renamed at the end;
// a failed or cancelled import leaves nothing behind. Plain C++: images in
// other formats need a loader (docimport/qt/ has one built on Qt).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// An 8-bit grey image (0 black, 255 white), rows top to bottom, no padding.
struct FxGreyImage {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> pixels;
  // Physical resolution when the file states one; 0 when unknown.
  double dpiX = 0;
  double dpiY = 0;

  uint8_t* Row(unsigned y) { return pixels.data() + size_t{y} * width; }
  const uint8_t* Row(unsigned y) const { return pixels.data() + size_t{y} * width; }
};

enum class FxImportResolution { normal, fine };
// How grey becomes black and white: a fixed threshold keeps text and rules
// sharp, error diffusion keeps the tones of photographs. Automatic chooses
// per region of each page.
enum class FxImportToning { automatic, text, photo };

enum class FxImportFormat { unknown, pdf, postscript, tiff, text, image };

// Loads one image file into grey (alpha composed on white). 0, or an error
// code with a message in error.
using FxImageLoader = std::function<int(const std::filesystem::path& file, FxGreyImage& out, std::string& error)>;

// Called before each page and while waiting on a helper program: pagesDone
// of pageCount (0 while the count is not known yet). Returning false cancels
// the import.
using FxImportProgress = std::function<bool(unsigned pagesDone, unsigned pageCount)>;

struct FxImportOptions {
  FxImportResolution resolution = FxImportResolution::fine;
  FxImportToning toning = FxImportToning::automatic;
  FxImageLoader imageLoader;
  FxImportProgress progress;
  // PostScript is interpreted by Ghostscript, which a file can keep busy
  // forever: it is stopped after this long. Ghostscript rendering PDF pages
  // is stopped when it sends nothing for this long.
  std::chrono::milliseconds postScriptTimeLimit{120000};
  // Ghostscript renders PDF pages (except with photo toning) when it can be
  // run; poppler renders whatever it did not deliver.
  std::string ghostscript = "gs";
  // Station ID written into the APF header.
  std::string stationId;
};

struct FxImportResult {
  unsigned pagesWritten = 0;
  unsigned pagesSkipped = 0;
  // One line per page that could not be imported; the import goes on.
  std::vector<std::string> warnings;
  // Why the import failed; empty on success.
  std::string error;
};

// Error codes beyond those of the fax image library.
inline constexpr int ecImportUnknownFormat = -8101;
inline constexpr int ecImportEncrypted = -8102;
inline constexpr int ecImportDamaged = -8103;
inline constexpr int ecImportNoPages = -8104;
inline constexpr int ecImportTimeLimit = -8105;
inline constexpr int ecImportToolFailed = -8106;
inline constexpr int ecImportCancelled = -8003;  // the converter's "aborted" code

// Guesses the format from the file's first bytes, then from its extension.
FxImportFormat FxDetectImportFormat(const std::filesystem::path& file);

// Imports in into the APF file out. 0 when at least one page was written;
// otherwise an error code with result.error saying why, and out untouched.
[[nodiscard]] int FxImportDocument(const std::filesystem::path& in, const std::filesystem::path& out,
                                   const FxImportOptions& options, FxImportResult& result);
