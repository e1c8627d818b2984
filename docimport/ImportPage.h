#pragma once
// The pieces every importer shares: fitting a page onto the fax width,
// scaling grey images, reducing grey to one bit and writing the pages into
// an APF file that only appears under its real name when complete.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "docimport/DocImport.h"
#include "faximage/Apf.h"

inline constexpr unsigned kImportFaxWidth = 1728;
inline constexpr double kImportDpiX = 204.0;
inline constexpr double kImportFineDpiY = 196.0;
inline constexpr double kImportNormalDpiY = 98.0;
// Longer pages are scaled down to this length (about 76 cm) rather than cut.
inline constexpr double kImportMaxPageInches = 30.0;

// Where a page of the given physical size lands on the fax: the resolution
// to render it at and the size in fax pixels (at most 1728 wide).
struct FxPageFit {
  double dpiX = kImportDpiX;
  double dpiY = kImportFineDpiY;
  unsigned width = 0;
  unsigned height = 0;
};
FxPageFit FxFitPage(double widthInches, double heightInches, bool fine);

// Area-averaging scale of a whole image to width x height (both > 0).
FxGreyImage FxScaleGrey(const FxGreyImage& src, unsigned width, unsigned height);

// Scales a stream of source rows to a target size without holding the
// source: rows go in top to bottom, finished target rows come out through
// emit as soon as they are complete.
class FxRowScaler {
 public:
  FxRowScaler(unsigned srcWidth, unsigned srcHeight, unsigned dstWidth, unsigned dstHeight, FxGreyImage& target);
  void AddRow(const uint8_t* row);
  unsigned RowsDone() const { return next_; }

 private:
  unsigned SourceStart(unsigned t) const;
  unsigned SourceEnd(unsigned t) const;
  void Flush();

  unsigned srcW_, srcH_, dstW_, dstH_;
  FxGreyImage& target_;
  std::vector<unsigned> colStart_, colEnd_;
  std::vector<uint32_t> sums_;
  unsigned rowsInSum_ = 0;
  unsigned next_ = 0;  // next target row
  unsigned src_ = 0;   // next source row
};

// Reduces a grey page to raw fax lines (width/8 bytes, most significant bit
// leftmost, 1 = black), centred on a page width wide; lineOut gets each.
// Automatic toning thresholds every 16 x 16 block except those mostly of
// middle greys, which are dithered by error diffusion.
// A grey picture in someone else's memory: rows stride bytes apart.
struct FxGreyView {
  const uint8_t* data = nullptr;
  unsigned width = 0;
  unsigned height = 0;
  size_t stride = 0;
  const uint8_t* Row(unsigned y) const { return data + size_t{y} * stride; }
};
inline FxGreyView FxViewOf(const FxGreyImage& image) {
  return {image.pixels.data(), image.width, image.height, image.width};
}
void FxBinarizePage(const FxGreyView& page, FxImportToning toning, unsigned pageWidth,
                    const std::function<void(const uint8_t* raw)>& lineOut);

// The APF file being written, under a temporary name until Commit.
class FxImportSink {
 public:
  explicit FxImportSink(std::filesystem::path target) : target_(std::move(target)) {}
  ~FxImportSink();
  FxImportSink(const FxImportSink&) = delete;
  FxImportSink& operator=(const FxImportSink&) = delete;

  // Creates the temporary file beside the target. 0 or -errno.
  [[nodiscard]] int Open();
  [[nodiscard]] int AddGreyPage(const FxGreyView& page, bool fine, FxImportToning toning);
  [[nodiscard]] int AddGreyPage(const FxGreyImage& page, bool fine, FxImportToning toning) {
    return AddGreyPage(FxViewOf(page), fine, toning);
  }
  // A page given as raw lines (1 = black) of width 1728 or 2048.
  [[nodiscard]] int BeginMonoPage(bool fine, unsigned width);
  [[nodiscard]] int AddMonoLine(const uint8_t* raw);
  [[nodiscard]] int EndPage();
  // Drops a page begun with BeginMonoPage (it was damaged); lines are held
  // until EndPage, so nothing of it reaches the file.
  void AbandonPage();
  unsigned Pages() const { return pages_; }
  // Completes the file and gives it its real name. 0 or an error code.
  [[nodiscard]] int Commit(const std::string& stationId);
  const std::filesystem::path& TemporaryName() const { return temp_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  TFxApfWriter writer_;
  unsigned width_ = kImportFaxWidth;
  unsigned pages_ = 0;
  bool fine_ = true;
  bool inPage_ = false;
  // The coded records of the page being built.
  std::vector<uint8_t> pending_;
  std::vector<uint32_t> recordEnds_;
  bool committed_ = false;
};

// A unique temporary name in folder, created empty: stem.XXXXXX.suffix.
[[nodiscard]] int FxMakeTemporaryFile(const std::filesystem::path& folder, const std::string& stem,
                                      const std::string& suffix, std::filesystem::path& made);
