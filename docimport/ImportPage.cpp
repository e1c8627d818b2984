#include "docimport/ImportPage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "faximage/T4Coder.h"

FxPageFit FxFitPage(double widthInches, double heightInches, bool fine) {
  FxPageFit fit;
  fit.dpiY = fine ? kImportFineDpiY : kImportNormalDpiY;
  double scale = 1.0;
  const double wide = widthInches * kImportDpiX;
  if (wide > kImportFaxWidth) scale = kImportFaxWidth / wide;
  if (heightInches * scale > kImportMaxPageInches) scale = kImportMaxPageInches / heightInches;
  fit.dpiX = kImportDpiX * scale;
  fit.dpiY *= scale;
  fit.width = std::clamp(static_cast<unsigned>(std::lround(widthInches * fit.dpiX)), 1u, kImportFaxWidth);
  fit.height = std::max(1u, static_cast<unsigned>(std::lround(heightInches * fit.dpiY)));
  return fit;
}

FxRowScaler::FxRowScaler(unsigned srcWidth, unsigned srcHeight, unsigned dstWidth, unsigned dstHeight,
                         FxGreyImage& target)
    : srcW_(srcWidth), srcH_(srcHeight), dstW_(dstWidth), dstH_(dstHeight), target_(target) {
  target_.width = dstW_;
  target_.height = dstH_;
  target_.pixels.assign(size_t{dstW_} * dstH_, 255);
  colStart_.resize(dstW_);
  colEnd_.resize(dstW_);
  // Each target column averages the source columns it covers (at least one).
  for (unsigned x = 0; x < dstW_; ++x) {
    const auto s0 = static_cast<unsigned>(uint64_t{x} * srcW_ / dstW_);
    const auto s1 = static_cast<unsigned>(uint64_t{x + 1} * srcW_ / dstW_);
    colStart_[x] = std::min(s0, srcW_ - 1);
    colEnd_[x] = std::max(colStart_[x] + 1, std::min(s1, srcW_));
  }
  sums_.assign(dstW_, 0);
}

unsigned FxRowScaler::SourceStart(unsigned t) const {
  return std::min(static_cast<unsigned>(uint64_t{t} * srcH_ / dstH_), srcH_ - 1);
}

unsigned FxRowScaler::SourceEnd(unsigned t) const {
  const auto s1 = static_cast<unsigned>(uint64_t{t + 1} * srcH_ / dstH_);
  return std::max(SourceStart(t) + 1, std::min(s1, srcH_));
}

void FxRowScaler::Flush() {
  uint8_t* out = target_.Row(next_);
  for (unsigned x = 0; x < dstW_; ++x) {
    const uint64_t count = uint64_t{rowsInSum_} * (colEnd_[x] - colStart_[x]);
    out[x] = static_cast<uint8_t>(count ? sums_[x] / count : 255);
  }
  std::fill(sums_.begin(), sums_.end(), 0);
  rowsInSum_ = 0;
  ++next_;
}

void FxRowScaler::AddRow(const uint8_t* row) {
  const unsigned s = src_++;
  // When enlarging, one source row makes several target rows.
  while (next_ < dstH_ && SourceStart(next_) <= s) {
    for (unsigned x = 0; x < dstW_; ++x) {
      uint32_t sum = 0;
      for (unsigned c = colStart_[x]; c < colEnd_[x]; ++c) sum += row[c];
      sums_[x] += sum;
    }
    ++rowsInSum_;
    if (SourceEnd(next_) - 1 > s) break;
    Flush();
  }
}

FxGreyImage FxScaleGrey(const FxGreyImage& src, unsigned width, unsigned height) {
  FxGreyImage out;
  FxRowScaler scaler(src.width, src.height, width, height, out);
  for (unsigned y = 0; y < src.height; ++y) scaler.AddRow(src.Row(y));
  return out;
}

namespace {

constexpr unsigned kBlock = 16;
constexpr int kTextThreshold = 160;  // darker than this is black
constexpr uint8_t kMidLow = 40, kMidHigh = 215;

// Blocks of one band of rows that hold mostly middle greys: a photograph or
// a tinted area rather than text, whose strokes are mostly black or white.
bool ClassifyBand(const FxGreyView& page, unsigned y0, std::vector<uint8_t>& photo) {
  const unsigned y1 = std::min(page.height, y0 + kBlock);
  const unsigned blocks = (page.width + kBlock - 1) / kBlock;
  std::vector<unsigned> mid(blocks, 0), total(blocks, 0);
  for (unsigned y = y0; y < y1; ++y) {
    const uint8_t* row = page.Row(y);
    for (unsigned x = 0; x < page.width; ++x) {
      mid[x / kBlock] += (row[x] >= kMidLow && row[x] <= kMidHigh) ? 1u : 0u;
      ++total[x / kBlock];
    }
  }
  photo.resize(blocks);
  bool any = false;
  for (unsigned b = 0; b < blocks; ++b) {
    photo[b] = mid[b] * 2 >= total[b] ? 1 : 0;
    any = any || photo[b] != 0;
  }
  return any;
}

// The threshold alone, eight pixels to a byte.
void ThresholdRow(const uint8_t* row, unsigned width, unsigned left, uint8_t* raw) {
  for (unsigned x = 0; x < width; ++x) {
    if (row[x] < kTextThreshold) {
      const unsigned px = left + x;
      raw[px / 8] = static_cast<uint8_t>(raw[px / 8] | (0x80u >> (px % 8)));
    }
  }
}

}  // namespace

void FxBinarizePage(const FxGreyView& page, FxImportToning toning, unsigned pageWidth,
                    const std::function<void(const uint8_t* raw)>& lineOut) {
  const unsigned width = std::min(page.width, pageWidth);
  const unsigned left = (pageWidth - width) / 2;
  std::vector<uint8_t> raw(pageWidth / 8);
  // Floyd-Steinberg errors of this row and the next, one guard cell each side.
  std::vector<int> err(width + 2, 0), nextErr(width + 2, 0);
  std::vector<uint8_t> photo;
  bool bandHasPhoto = toning == FxImportToning::photo;
  for (unsigned y = 0; y < page.height; ++y) {
    if (toning == FxImportToning::automatic && y % kBlock == 0) {
      const bool had = bandHasPhoto;
      bandHasPhoto = ClassifyBand(page, y, photo);
      // Error carried from a dithered band into one without photographs
      // would otherwise reappear when the next photograph starts.
      if (had && !bandHasPhoto) std::fill(err.begin(), err.end(), 0);
    }
    std::fill(raw.begin(), raw.end(), 0);
    const uint8_t* row = page.Row(y);
    if (!bandHasPhoto) {
      ThresholdRow(row, width, left, raw.data());
      lineOut(raw.data());
      continue;
    }
    std::fill(nextErr.begin(), nextErr.end(), 0);
    // Serpentine scan: every other row runs right to left so that the
    // diffused error leaves no diagonal streaks.
    const bool backwards = (y & 1) != 0;
    for (unsigned i = 0; i < width; ++i) {
      const unsigned x = backwards ? width - 1 - i : i;
      const bool dither = toning == FxImportToning::photo ||
                          (toning == FxImportToning::automatic && photo[x / kBlock] != 0);
      bool black;
      if (!dither) {
        black = row[x] < kTextThreshold;
      } else {
        const int value = row[x] + err[x + 1] / 16;
        black = value < 128;
        const int e = value - (black ? 0 : 255);
        const unsigned ahead = backwards ? x : x + 2;
        const unsigned behind = backwards ? x + 2 : x;
        err[ahead] += e * 7;
        nextErr[behind] += e * 3;
        nextErr[x + 1] += e * 5;
        nextErr[ahead] += e;
      }
      if (black) {
        const unsigned px = left + x;
        raw[px / 8] = static_cast<uint8_t>(raw[px / 8] | (0x80u >> (px % 8)));
      }
    }
    err.swap(nextErr);
    lineOut(raw.data());
  }
}

int FxMakeTemporaryFile(const std::filesystem::path& folder, const std::string& stem, const std::string& suffix,
                        std::filesystem::path& made) {
  std::string name = (folder / ("." + stem + ".XXXXXX" + suffix)).string();
  const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) return -errno;
  // mkstemps makes the file private; the finished fax is an ordinary file
  // like those the converter writes.
  const int chmodRc = ::fchmod(fd, 0644);
  ::close(fd);
  if (chmodRc != 0) return -errno;
  made = name;
  return 0;
}

FxImportSink::~FxImportSink() {
  if (!committed_) {
    writer_.Discard();
    if (!temp_.empty()) {
      std::error_code ec;
      std::filesystem::remove(temp_, ec);
    }
  }
}

int FxImportSink::Open() {
  std::filesystem::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  if (const int rc = FxMakeTemporaryFile(folder, target_.filename().string(), ".tmp", temp_); rc != 0) return rc;
  return writer_.Create(temp_);
}

int FxImportSink::BeginMonoPage(bool fine, unsigned width) {
  if (width != FxT4::kNormalWidth && width != FxT4::kWideWidth) return -1002;
  fine_ = fine;
  width_ = width;
  inPage_ = true;
  pending_.clear();
  recordEnds_.clear();
  return 0;
}

int FxImportSink::AddMonoLine(const uint8_t* raw) {
  if (!inPage_) return -1002;
  uint8_t record[FxT4::kMaxRecordBytes];
  const size_t n = FxT4::CodeLine(raw, width_, 0, record);
  pending_.insert(pending_.end(), record, record + n);
  recordEnds_.push_back(static_cast<uint32_t>(pending_.size()));
  return 0;
}

void FxImportSink::AbandonPage() {
  inPage_ = false;
  pending_.clear();
  recordEnds_.clear();
}

int FxImportSink::EndPage() {
  if (!inPage_) return -1002;
  inPage_ = false;
  writer_.SetPageFlags(static_cast<uint16_t>((fine_ ? apfHighRes : 0) | (width_ == FxT4::kWideWidth ? apfWide : 0)));
  size_t start = 0;
  for (const uint32_t end : recordEnds_) {
    if (const int rc = writer_.WriteRecord(pending_.data() + start, end - start); rc != 0) return rc;
    start = end;
  }
  if (recordEnds_.empty()) {
    if (const int rc = writer_.WriteRecord(FxT4::kBlankRecord.data(), FxT4::kBlankRecord.size()); rc != 0) return rc;
  }
  pending_.clear();
  recordEnds_.clear();
  if (const int rc = writer_.EndPage(); rc != 0) return rc;
  ++pages_;
  return 0;
}

int FxImportSink::AddGreyPage(const FxGreyView& page, bool fine, FxImportToning toning) {
  if (const int rc = BeginMonoPage(fine, kImportFaxWidth); rc != 0) return rc;
  int rc = 0;
  FxBinarizePage(page, toning, kImportFaxWidth, [&](const uint8_t* raw) {
    if (rc == 0) rc = AddMonoLine(raw);
  });
  if (rc != 0) return rc;
  return EndPage();
}

int FxImportSink::Commit(const std::string& stationId) {
  if (pages_ == 0) return ecImportNoPages;
  if (const int rc = writer_.Finish(stationId); rc != 0) return rc;
  std::error_code ec;
  std::filesystem::rename(temp_, target_, ec);
  if (ec) return -ec.value();
  committed_ = true;
  return 0;
}
