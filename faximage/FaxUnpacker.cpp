#include "faximage/FaxUnpacker.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <strings.h>

#include "faximage/ErrorCodes.h"
#include "faximage/FileIo.h"
#include "faximage/T4Decoder.h"

namespace {

constexpr unsigned kGrowRows = 1024;

// Byte of 8 pixels to the 4 pixels of its pairs (black when either is).
const std::array<uint8_t, 256>& HalfTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
      unsigned v = 0;
      for (unsigned pair = 0; pair < 4; ++pair) {
        if ((b >> (6 - 2 * pair)) & 3u) v |= 0x8u >> pair;
      }
      t[b] = static_cast<uint8_t>(v);
    }
    return t;
  }();
  return table;
}

// Rows of the page under construction, 1 = black, with the right-most byte
// that holds a black pixel in any row.
class PageRows {
 public:
  explicit PageRows(unsigned rowBytes) : rowBytes_(rowBytes) {}

  int Add(const uint8_t* line) {
    if (count_ >= TFxFaxUnpacker::kMaxRows) return FxErr::ecOutOfMemory;
    if (count_ == capacity_) {
      capacity_ += kGrowRows;
      rows_.resize(static_cast<size_t>(capacity_) * rowBytes_);
    }
    std::memcpy(rows_.data() + static_cast<size_t>(count_) * rowBytes_, line, rowBytes_);
    ++count_;
    for (int i = static_cast<int>(rowBytes_) - 1; i > rightmost_; --i) {
      if (line[i] != 0) {
        rightmost_ = i;
        break;
      }
    }
    return 0;
  }

  TFxBitmap Finish() const {
    TFxBitmap b;
    if (count_ == 0 || rightmost_ < 0) return b;  // nothing black: no bitmap
    const size_t len = (static_cast<size_t>(rightmost_) + 2) & ~size_t{1};
    b.width = static_cast<unsigned>(len * 8);
    b.height = count_;
    b.bitsPerPixel = 1;
    b.rowBytes = len;
    b.bits.resize(len * count_);
    for (unsigned y = 0; y < count_; ++y) {
      const uint8_t* src = rows_.data() + static_cast<size_t>(y) * rowBytes_;
      uint8_t* dst = b.Row(y);
      for (size_t i = 0; i < len; ++i) dst[i] = static_cast<uint8_t>(i < rowBytes_ ? ~src[i] : 0xFF);
    }
    return b;
  }

 private:
  unsigned rowBytes_;
  unsigned count_ = 0;
  unsigned capacity_ = 0;
  int rightmost_ = -1;
  std::vector<uint8_t> rows_;
};

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

void TFxFaxUnpacker::SetInFileName(const std::string& name) {
  if (strcasecmp(name.c_str(), inFileName_.c_str()) != 0) {
    outFileName_ = std::filesystem::path(name).replace_extension().string();
  }
  inFileName_ = name;
}

int TFxFaxUnpacker::CheckOptions() const {
  if (WhitespaceFrom < WhitespaceTo || (WhitespaceFrom == 0 && WhitespaceTo != 0)) return FxErr::ecBadArgument;
  return 0;
}

unsigned TFxFaxUnpacker::PageCount() {
  TFxApfReader r;
  FxCheck(r.Open(inFileName_));
  return r.PageCount();
}

int TFxFaxUnpacker::FirstPageFlags(uint16_t& flags) {
  TFxApfReader r;
  if (const int rc = r.Open(inFileName_); rc < 0) return rc;
  ApfPageHeader h;
  uint64_t offset = 0;
  if (const int rc = r.FindPage(1, h, offset); rc < 0) return rc;
  flags = h.flags;
  return 0;
}

bool TFxFaxUnpacker::FirstPageHighRes() {
  uint16_t flags = 0;
  FxCheck(FirstPageFlags(flags));
  return (flags & apfHighRes) != 0;
}

bool TFxFaxUnpacker::FirstPageWide() {
  uint16_t flags = 0;
  FxCheck(FirstPageFlags(flags));
  return (flags & apfWide) != 0;
}

int TFxFaxUnpacker::DecodePage(unsigned page, ApfPageHeader& header,
                               const std::function<bool(const uint8_t*, unsigned)>& sink) {
  options_ &= ~uoAbort;
  if (const int rc = CheckOptions(); rc < 0) return rc;
  TFxApfReader reader;
  if (const int rc = reader.Open(inFileName_); rc < 0) return rc;
  uint64_t lines = 0;
  FxT4Decoder decoder([&](const uint8_t* line, unsigned bytes) {
    if (!sink(line, bytes)) return false;
    if ((options_ & uoYield) && OnYield && (++lines % 16) == 0) OnYield();
    return true;
  });
  const int rc = reader.ReadPageData(page, header, [&](const uint8_t* data, size_t size, uint64_t done, uint64_t total) {
    decoder.Feed(data, size);
    if (OnStatus) OnStatus(*this, inFileName_, page, done, total);
    return !decoder.PageEnded() && !decoder.Stopped() && !(options_ & uoAbort);
  });
  if (rc < 0) return rc;
  if (!(options_ & uoAbort)) decoder.Finish();
  return 0;
}

int TFxFaxUnpacker::TryPageToBitmap(unsigned page, TFxBitmap& out) {
  out = TFxBitmap{};
  ApfPageHeader header;
  int sinkError = 0;
  bool normalRes = true;
  unsigned pageBytes = 216;
  std::unique_ptr<PageRows> rows;
  std::array<uint8_t, 256> line{};
  std::array<uint8_t, 256> half{};
  const bool compress = WhitespaceCompression && WhitespaceFrom != 0 && WhitespaceTo != 0;
  unsigned pending = 0;

  auto emit = [&](const uint8_t* data) -> bool {
    int rc = 0;
    if (normalRes && AutoScaleMode == TAutoScaleMode::asHalfWidth) {
      const auto& table = HalfTable();
      for (unsigned i = 0; i < pageBytes / 2; ++i) {
        half[i] = static_cast<uint8_t>((table[data[2 * i]] << 4) | table[data[2 * i + 1]]);
      }
      rc = rows->Add(half.data());
    } else {
      rc = rows->Add(data);
      if (rc == 0 && normalRes && AutoScaleMode == TAutoScaleMode::asDoubleHeight) rc = rows->Add(data);
    }
    if (rc < 0) sinkError = rc;
    return rc == 0;
  };
  auto flushBlank = [&](bool pageEnd) -> bool {
    if (pageEnd && WhitespaceFrom == WhitespaceTo) return true;
    const unsigned n = pending >= WhitespaceFrom ? WhitespaceTo : pending;
    pending = 0;
    const std::array<uint8_t, 256> blank{};
    for (unsigned i = 0; i < n; ++i) {
      if (!emit(blank.data())) return false;
    }
    return true;
  };

  // The page header decides the row layout; it is known once DecodePage has
  // found the page, before the first line arrives.
  bool started = false;
  auto sink = [&](const uint8_t* data, unsigned bytes) -> bool {
    if (!started) {
      started = true;
      normalRes = !header.HighRes();
      pageBytes = header.Wide() ? 256 : 216;
      const bool halve = normalRes && AutoScaleMode == TAutoScaleMode::asHalfWidth;
      rows = std::make_unique<PageRows>(halve ? pageBytes / 2 : pageBytes);
    }
    const unsigned n = std::min(bytes, pageBytes);
    std::memcpy(line.data(), data, n);
    std::memset(line.data() + n, 0, line.size() - n);
    if (compress) {
      const bool blank = std::all_of(line.begin(), line.begin() + pageBytes, [](uint8_t b) { return b == 0; });
      if (blank) {
        ++pending;
        return true;
      }
      if (!flushBlank(false)) return false;
    }
    return emit(line.data());
  };

  if (const int rc = DecodePage(page, header, sink); rc < 0) return rc;
  if (sinkError < 0) return sinkError;
  if (!rows) return 0;
  if (compress && !flushBlank(true)) return sinkError;

  TFxBitmap bitmap = rows->Finish();
  if (Scaling && !bitmap.Empty() && (horizMult_ != horizDiv_ || vertMult_ != vertDiv_)) {
    const uint64_t w = uint64_t{bitmap.width} * horizMult_ / horizDiv_;
    const uint64_t h = uint64_t{bitmap.height} * vertMult_ / vertDiv_;
    if (w == 0 || h == 0) return 0;
    if ((w + 15) / 8 * h > kMaxScaledBytes) return FxErr::ecOutOfMemory;
    bitmap = FxStretchMono(bitmap, static_cast<unsigned>(w), static_cast<unsigned>(h));
  }
  out = std::move(bitmap);
  return 0;
}

TFxBitmap TFxFaxUnpacker::PageToBitmap(unsigned page) {
  TFxBitmap b;
  FxCheck(TryPageToBitmap(page, b));
  return b;
}

void TFxFaxUnpacker::UnpackPage(unsigned page) {
  ApfPageHeader header;
  if (OnOutputLine) OnOutputLine(*this, true, false, nullptr, 0, page);
  FxCheck(DecodePage(page, header, [&](const uint8_t* data, unsigned bytes) {
    if (OnOutputLine) OnOutputLine(*this, false, false, data, bytes, page);
    return true;
  }));
  if (OnOutputLine) OnOutputLine(*this, false, true, nullptr, 0, page);
}

std::filesystem::path TFxFaxUnpacker::ExportName(const std::string& ext) const {
  std::filesystem::path p = outFileName_.empty() ? std::filesystem::path(inFileName_) : std::filesystem::path(outFileName_);
  if (outFileName_.empty() || !p.has_extension()) p.replace_extension(ext);
  return p;
}

int TFxFaxUnpacker::TryPageToFile(unsigned page, const std::string& format) {
  const std::string fmt = Upper(format);
  if (fmt != "PCX" && fmt != "DCX" && fmt != "BMP") return FxErr::ecBadArgument;
  if (inFileName_.empty()) return FxErr::ecFileNotFound;
  TFxBitmap bitmap;
  if (const int rc = TryPageToBitmap(page, bitmap); rc < 0) return rc;
  const std::filesystem::path name = ExportName(fmt);
  if (fmt == "PCX") return FxWritePcxFile(bitmap, name);
  if (fmt == "DCX") return FxWriteDcxFile(bitmap, name);
  return FxWriteBmpFile(bitmap, name);
}

void TFxFaxUnpacker::PageToPcxFile(unsigned page) { FxCheck(TryPageToFile(page, "PCX")); }
void TFxFaxUnpacker::PageToDcxFile(unsigned page) { FxCheck(TryPageToFile(page, "DCX")); }
void TFxFaxUnpacker::PageToBmpFile(unsigned page) { FxCheck(TryPageToFile(page, "BMP")); }

// ---- picture files -------------------------------------------------------------

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(x >> (8 * i));
}

// Writes bytes to a new file; on failure the file is closed and deleted.
int WriteWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  FxFile f;
  int rc = f.Create(path);
  if (rc == 0) rc = f.WriteAll(bytes.data(), bytes.size());
  if (rc == 0) rc = f.Close();
  if (rc < 0) {
    f.Close();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  return rc;
}

}  // namespace

int FxWritePcx(const TFxBitmap& b, std::vector<uint8_t>& out) {
  if (!b.Empty() && b.bitsPerPixel != 1) return FxErr::ecBadArgument;
  const size_t start = out.size();
  out.resize(start + 128, 0);
  const uint32_t width = static_cast<uint32_t>(b.rowBytes * 8);
  out[start + 0] = 10;
  out[start + 1] = 2;
  out[start + 2] = 1;
  out[start + 3] = 1;
  Put16(out, start + 8, width - 1);
  Put16(out, start + 10, b.height - 1);
  out[start + 65] = 1;
  Put16(out, start + 66, static_cast<uint32_t>(b.rowBytes));
  for (unsigned y = 0; y < b.height && b.rowBytes > 0; ++y) {
    const uint8_t* row = b.Row(y);  // already 1 = white
    size_t i = 0;
    while (i < b.rowBytes) {
      const uint8_t v = row[i];
      size_t run = 1;
      while (i + run < b.rowBytes && run < 63 && row[i + run] == v) ++run;
      if (run >= 2) {
        out.push_back(static_cast<uint8_t>(0xC0 + run));
        out.push_back(v);
      } else {
        if ((v & 0xC0) == 0xC0) out.push_back(0xC1);
        out.push_back(v);
      }
      i += run;
    }
  }
  return 0;
}

int FxWritePcxFile(const TFxBitmap& b, const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  if (const int rc = FxWritePcx(b, bytes); rc < 0) return rc;
  return WriteWholeFile(path, bytes);
}

int FxWriteDcxFile(const TFxBitmap& b, const std::filesystem::path& path) {
  constexpr size_t kHeader = 4 + 1024 * 4;
  std::vector<uint8_t> bytes(kHeader, 0);
  Put32(bytes, 0, 0x3ADE68B1u);
  Put32(bytes, 4, static_cast<uint32_t>(kHeader));
  if (const int rc = FxWritePcx(b, bytes); rc < 0) return rc;
  return WriteWholeFile(path, bytes);
}

int FxWriteBmpFile(const TFxBitmap& b, const std::filesystem::path& path) {
  if (!b.Empty() && b.bitsPerPixel != 1) return FxErr::ecBadArgument;
  if (b.height >= 32768) return FxErr::ecBmpTooBig;
  const size_t padded = (b.rowBytes + 3) & ~size_t{3};
  const size_t dataSize = padded * b.height;
  std::vector<uint8_t> bytes(62 + dataSize, 0xFF);
  std::fill(bytes.begin(), bytes.begin() + 62, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 2, static_cast<uint32_t>(dataSize + 62));
  Put32(bytes, 10, 62);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, static_cast<uint32_t>(b.rowBytes * 8));
  Put32(bytes, 22, b.height);
  Put16(bytes, 26, 1);
  Put16(bytes, 28, 1);
  // Colour table: index 0 black, index 1 white.
  Put32(bytes, 58, 0x00FFFFFFu);
  for (unsigned y = 0; y < b.height; ++y) {
    std::memcpy(bytes.data() + 62 + static_cast<size_t>(b.height - 1 - y) * padded, b.Row(y), b.rowBytes);
  }
  return WriteWholeFile(path, bytes);
}

TFxBitmap FxStretchMono(const TFxBitmap& src, unsigned width, unsigned height) {
  TFxBitmap dst = TFxBitmap::MakeMono(width, height);
  if (src.Empty() || width == 0 || height == 0) return dst;
  // Source column span of each destination column.
  std::vector<unsigned> col0(width), col1(width);
  for (unsigned x = 0; x < width; ++x) {
    col0[x] = static_cast<unsigned>(uint64_t{x} * src.width / width);
    col1[x] = std::max(col0[x] + 1, static_cast<unsigned>(uint64_t{x + 1} * src.width / width));
  }
  std::vector<uint8_t> black(src.rowBytes);  // OR of the source rows, 1 = black
  for (unsigned y = 0; y < height; ++y) {
    const unsigned r0 = static_cast<unsigned>(uint64_t{y} * src.height / height);
    const unsigned r1 = std::max(r0 + 1, static_cast<unsigned>(uint64_t{y + 1} * src.height / height));
    std::fill(black.begin(), black.end(), 0);
    for (unsigned r = r0; r < r1; ++r) {
      const uint8_t* row = src.Row(r);
      for (size_t i = 0; i < src.rowBytes; ++i) black[i] = static_cast<uint8_t>(black[i] | ~row[i]);
    }
    uint8_t* out = dst.Row(y);
    for (unsigned x = 0; x < width; ++x) {
      bool any = false;
      for (unsigned c = col0[x]; c < col1[x] && !any; ++c) any = (black[c >> 3] >> (7 - (c & 7))) & 1u;
      if (any) out[x >> 3] = static_cast<uint8_t>(out[x >> 3] & ~(0x80u >> (x & 7)));
    }
  }
  return dst;
}
