#include "faximage/FaxConverter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <strings.h>

#include "faximage/Apf.h"
#include "faximage/ErrorCodes.h"
#include "faximage/T4Coder.h"

// An input reader of the conversion driver.
class TFxFaxConverter::Reader {
 public:
  virtual ~Reader() = default;
  virtual int Open() = 0;
  // Fills raw (page width/8 bytes, cleared by the driver). A call that
  // reports endOfPage returns no line.
  virtual int ReadLine(uint8_t* raw, bool& endOfPage, bool& morePages) = 0;
  virtual void Close() {}
  virtual uint64_t BytesToConvert() const { return 0; }
  virtual uint64_t BytesConverted() const { return 0; }
  // Half height skips every second line (bitmap input only).
  virtual bool HalfHeight() const { return false; }
};

namespace {

// 32 x 32 ordered-dither thresholds for R + G + B (0..765).
const std::array<std::array<uint16_t, 32>, 32>& DitherMatrix() {
  static const auto matrix = [] {
    std::array<std::array<uint16_t, 32>, 32> m{};
    for (unsigned y = 0; y < 32; ++y) {
      for (unsigned x = 0; x < 32; ++x) {
        // Bayer index by interleaving the bits of x ^ y and y.
        unsigned v = 0;
        const unsigned a = x ^ y;
        for (unsigned bit = 0; bit < 5; ++bit) {
          v |= ((y >> bit) & 1u) << (2 * (4 - bit));
          v |= ((a >> bit) & 1u) << (2 * (4 - bit) + 1);
        }
        m[y][x] = static_cast<uint16_t>((2 * v + 1) * 765 / 2048 + 1);  // 1..765: black stays black, white white
      }
    }
    return m;
  }();
  return matrix;
}

void SetPixel(uint8_t* raw, unsigned x) { raw[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7)); }

class BitmapReader : public TFxFaxConverter::Reader {
 public:
  BitmapReader(const TFxBitmap& bitmap, unsigned options, bool fine, unsigned pageWidth, unsigned leftMargin)
      : bitmap_(bitmap), pageWidth_(pageWidth) {
    const unsigned room = pageWidth > leftMargin ? pageWidth - leftMargin : 0;
    doubleWidth_ = (options & coDoubleWidth) && !fine && 2 * uint64_t{bitmap.width} <= room;
    halfHeight_ = (options & coHalfHeight) && !fine && !doubleWidth_;
    if ((options & coCenterImage) && pageWidth > bitmap.width && pageWidth - bitmap.width > 15) {
      // In raw-line pixels: whole bytes, doubled along with the image.
      offset_ = doubleWidth_ ? (pageWidth - 2 * bitmap.width) / 32 * 16 : (pageWidth - bitmap.width) / 16 * 8;
    }
  }

  int Open() override {
    if (bitmap_.Empty()) return FxErr::ecBadArgument;
    if (bitmap_.bitsPerPixel != 1 && bitmap_.bitsPerPixel != 24 && bitmap_.bitsPerPixel != 32) return FxErr::ecBadArgument;
    if (bitmap_.bits.size() < bitmap_.rowBytes * bitmap_.height) return FxErr::ecBadArgument;
    return 0;
  }

  int ReadLine(uint8_t* raw, bool& endOfPage, bool& morePages) override {
    morePages = false;
    if (row_ >= bitmap_.height) {
      endOfPage = true;
      return 0;
    }
    endOfPage = false;
    const uint8_t* src = bitmap_.Row(row_);
    const unsigned step = doubleWidth_ ? 2 : 1;
    if (bitmap_.bitsPerPixel == 1 && step == 1 && offset_ % 8 == 0) {
      // A monochrome row at a whole-byte offset: whole bytes inverted (a set
      // bit is white there, black here) instead of pixel by pixel.
      const unsigned first = offset_ / 8;
      const unsigned pageBytes = pageWidth_ / 8;
      const unsigned whole = bitmap_.width / 8;
      unsigned i = 0;
      for (; i < whole && first + i < pageBytes; ++i) raw[first + i] |= static_cast<uint8_t>(~src[i]);
      if (const unsigned tail = bitmap_.width % 8; tail != 0 && first + i < pageBytes)
        raw[first + i] |= static_cast<uint8_t>(~src[i] & (0xFF00u >> tail));
      ++row_;
      return 0;
    }
    const auto& dither = DitherMatrix()[row_ % 32];
    for (unsigned x = 0; x < bitmap_.width; ++x) {
      const unsigned out = offset_ + x * step;
      if (out >= pageWidth_) break;
      bool black = false;
      if (bitmap_.bitsPerPixel == 1) {
        black = (src[x >> 3] & (0x80u >> (x & 7))) == 0;  // set bit = white
      } else {
        const uint8_t* px = src + x * (bitmap_.bitsPerPixel / 8);
        black = unsigned{px[0]} + px[1] + px[2] < dither[x % 32];
      }
      if (!black) continue;
      SetPixel(raw, out);
      if (step == 2 && out + 1 < pageWidth_) SetPixel(raw, out + 1);
    }
    ++row_;
    return 0;
  }

  uint64_t BytesToConvert() const override { return uint64_t{bitmap_.rowBytes} * bitmap_.height; }
  uint64_t BytesConverted() const override { return uint64_t{bitmap_.rowBytes} * row_; }
  bool HalfHeight() const override { return halfHeight_; }

 private:
  const TFxBitmap& bitmap_;
  unsigned pageWidth_;
  bool doubleWidth_ = false;
  bool halfHeight_ = false;
  unsigned offset_ = 0;
  unsigned row_ = 0;
};

// Plain text: LinesPerPage text lines per page, a form feed starts a new
// page; UTF-8 is mapped to the font's codes, other bytes taken as Latin-1.
class TextReader : public TFxFaxConverter::Reader {
 public:
  TextReader(std::string path, TFxTextConverter& text, unsigned linesPerPage)
      : path_(std::move(path)), text_(text), linesPerPage_(linesPerPage == 0 ? 1 : linesPerPage) {}

  int Open() override {
    if (path_.empty()) return FxErr::ecFileNotFound;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path_, ec)) return FxErr::ecFileNotFound;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return FxErr::ecFileNotFound;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_ = content.size();
    content = FxUtf8ToFaxCodes(content);
    // Split into lines; a form feed ends the page.
    std::string line;
    for (char c : content) {
      if (c == '\n' || c == '\f') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back({text_.ExpandTabs(line), c == '\f'});
        line.clear();
      } else {
        line.push_back(c);
      }
    }
    if (!line.empty()) lines_.push_back({text_.ExpandTabs(line), false});
    return 0;
  }

  int ReadLine(uint8_t* raw, bool& endOfPage, bool& morePages) override {
    endOfPage = false;
    morePages = false;
    if (lineOnPage_ >= linesPerPage_ || next_ >= lines_.size() || pageBreak_) {
      endOfPage = true;
      morePages = next_ < lines_.size();
      lineOnPage_ = 0;
      pageBreak_ = false;
      return 0;
    }
    ++row_;
    text_.RasterizeRow(lines_[next_].text, row_, raw);
    if (row_ >= text_.RowsPerLine()) {
      row_ = 0;
      pageBreak_ = lines_[next_].formFeed;
      ++next_;
      ++lineOnPage_;
      done_ = next_;
    }
    return 0;
  }

  uint64_t BytesToConvert() const override { return size_; }
  uint64_t BytesConverted() const override { return lines_.empty() ? 0 : size_ * done_ / lines_.size(); }

 private:
  struct Line {
    std::string text;
    bool formFeed;
  };
  std::string path_;
  TFxTextConverter& text_;
  unsigned linesPerPage_;
  std::vector<Line> lines_;
  size_t next_ = 0, done_ = 0;
  unsigned row_ = 0;
  unsigned lineOnPage_ = 0;
  bool pageBreak_ = false;
  uint64_t size_ = 0;
};

class UserReader : public TFxFaxConverter::Reader {
 public:
  UserReader(TFxFaxConverter& owner, std::string path, unsigned lineBytes)
      : owner_(owner), path_(std::move(path)), lineBytes_(lineBytes) {}
  int Open() override {
    if (!owner_.OnReadUserLine) return FxErr::ecBadArgument;
    opened_ = true;
    return owner_.OnOpenUserFile ? owner_.OnOpenUserFile(owner_, path_) : 0;
  }
  int ReadLine(uint8_t* raw, bool& endOfPage, bool& morePages) override {
    unsigned len = lineBytes_;
    endOfPage = morePages = false;
    const int rc = owner_.OnReadUserLine(owner_, raw, len, endOfPage, morePages);
    if (rc == 0 && len < lineBytes_) std::memset(raw + len, 0, lineBytes_ - len);
    return rc;
  }
  void Close() override {
    if (opened_ && owner_.OnCloseUserFile) owner_.OnCloseUserFile(owner_);
    opened_ = false;
  }

 private:
  TFxFaxConverter& owner_;
  std::string path_;
  unsigned lineBytes_;
  bool opened_ = false;
};

// The extension is forced to "APF"; one that already reads "apf" in any
// letter case is kept as the caller wrote it.
std::string WithApfExtension(const std::string& name) {
  std::filesystem::path p(name);
  if (strcasecmp(p.extension().c_str(), ".apf") == 0) return name;
  return p.replace_extension("APF").string();
}

}  // namespace

TFxFaxConverter::TFxFaxConverter() = default;
TFxFaxConverter::~TFxFaxConverter() = default;

void TFxFaxConverter::SetOptions(unsigned options) {
  if ((options & coYieldOften) && !(options & coYield)) options |= coYield;
  options_ = options;
}

void TFxFaxConverter::SetDocumentFile(const std::string& name) {
  documentFile_ = name;
  OutFileName = name.empty() ? std::string() : WithApfExtension(name);
}

int TFxFaxConverter::Yield() {
  if (OnYield && OnYield()) return FxErr::ecGotQuitMsg;
  return 0;
}

int TFxFaxConverter::Convert(Reader& reader, const std::string& outName) {
  if (outName.empty()) return FxErr::ecFileNotFound;
  const unsigned width = FxPageWidth(Width);
  if (LeftMargin >= width) return FxErr::ecBadArgument;
  const bool fine = Resolution == TFaxResolution::frHigh;
  const uint16_t flags = static_cast<uint16_t>((fine ? apfHighRes : 0) | (Width == TFaxWidth::fwWide ? apfWide : 0));

  unsigned pages = 0;
  unsigned lines = 0;
  bool abort = false;
  auto status = [&](bool starting, bool ending) {
    if (OnStatus) OnStatus(*this, starting, ending, pages, lines, reader.BytesConverted(), reader.BytesToConvert(), abort);
    return abort ? FxErr::ecConvertAbort : 0;
  };

  TFxApfWriter writer;
  std::array<uint8_t, 4096> raw{};
  std::array<uint8_t, FxT4::kMaxRecordBytes> coded{};
  const unsigned lineBytes = width / 8;

  int rc = status(true, false);
  bool opened = false;
  if (rc == 0) rc = reader.Open();
  if (rc == 0) {
    opened = true;
    rc = writer.Create(outName);
  }
  writer.SetPageFlags(flags);
  bool morePages = rc == 0;
  while (rc == 0 && morePages) {
    ++pages;
    lines = 0;
    for (unsigned i = 0; i < TopMargin && rc == 0; ++i) rc = writer.WriteRecord(FxT4::kBlankRecord.data(), FxT4::kBlankRecord.size());
    bool endOfPage = false;
    while (rc == 0) {
      std::memset(raw.data(), 0, lineBytes);
      ++lines;
      rc = reader.ReadLine(raw.data(), endOfPage, morePages);
      if (rc == 0) rc = status(false, false);
      if (rc < 0 || endOfPage) break;
      if (!(reader.HalfHeight() && lines % 2 == 0)) {
        const size_t n = FxT4::CodeLine(raw.data(), width, LeftMargin, coded.data());
        if (OnOutputLine) OnOutputLine(*this, coded.data(), static_cast<unsigned>(n), false, morePages);
        rc = writer.WriteRecord(coded.data(), n);
      }
      if (rc == 0 && (options_ & coYield) && (options_ & coYieldOften) && lines % 16 == 0) rc = Yield();
    }
    if (rc < 0) break;
    if (OnOutputLine) {
      const size_t n = FxT4::PageEndRecord(coded.data());
      OnOutputLine(*this, coded.data(), static_cast<unsigned>(n), true, morePages);
    }
    rc = writer.EndPage();
    if (rc == 0 && (options_ & coYield)) rc = Yield();
  }
  // Ending is reported and the input closed whatever happened.
  bool ignored = false;
  if (OnStatus) OnStatus(*this, false, true, pages, lines, reader.BytesConverted(), reader.BytesToConvert(), ignored);
  if (opened) reader.Close();
  if (rc == 0) rc = writer.Finish(StationID);
  if (rc < 0) writer.Discard();
  return rc;
}

int TFxFaxConverter::TryConvertBitmap(const TFxBitmap& bitmap) {
  const TFaxInputDocumentType saved = InputDocumentType;
  InputDocumentType = TFaxInputDocumentType::idBitmap;
  const std::string out = OutFileName.empty() ? (documentFile_.empty() ? std::string() : WithApfExtension(documentFile_))
                                              : WithApfExtension(OutFileName);
  BitmapReader reader(bitmap, options_, Resolution == TFaxResolution::frHigh, FxPageWidth(Width), LeftMargin);
  const int rc = Convert(reader, out);
  InputDocumentType = saved;
  return rc;
}

void TFxFaxConverter::ConvertBitmap(const TFxBitmap& bitmap) { FxCheck(TryConvertBitmap(bitmap)); }

int TFxFaxConverter::TryConvertToFile() {
  std::string in = documentFile_;
  if (InputDocumentType == TFaxInputDocumentType::idUser && !in.empty() && !std::filesystem::path(in).has_extension() &&
      !DefUserExtension.empty()) {
    in += "." + DefUserExtension;
  }
  const std::string out = OutFileName.empty() ? (in.empty() ? std::string() : WithApfExtension(in)) : OutFileName;
  switch (InputDocumentType) {
    case TFaxInputDocumentType::idText:
    case TFaxInputDocumentType::idTextEx: {
      TFxTextConverter text;
      text.SetWidth(Width);
      text.SetResolution(Resolution);
      text.SetMargins(0, 0);  // the driver applies the margins
      text.SetTabStop(TabStop);
      const bool fine = Resolution == TFaxResolution::frHigh;
      int rc = 0;
      if (InputDocumentType == TFaxInputDocumentType::idText) {
        rc = text.LoadFont(FontType == TFaxFont::ffSmall ? 16 : 48, fine);
      } else {
        text.SetMargins(LeftMargin, 0);
        rc = text.SetEnhFont(EnhFont, fine);
      }
      if (rc < 0) return rc;
      TextReader reader(in, text, LinesPerPage);
      return Convert(reader, out);
    }
    case TFaxInputDocumentType::idBmp: {
      if (in.empty()) return FxErr::ecFileNotFound;
      TFxBitmap bitmap;
      if (const int rc = FxLoadBmpFile(in, bitmap); rc < 0) return rc;
      BitmapReader reader(bitmap, options_, Resolution == TFaxResolution::frHigh, FxPageWidth(Width), LeftMargin);
      return Convert(reader, out);
    }
    case TFaxInputDocumentType::idBitmap:
      return FxErr::ecBadArgument;  // needs ConvertBitmap
    case TFaxInputDocumentType::idUser: {
      UserReader reader(*this, in, FxPageWidth(Width) / 8);
      return Convert(reader, out);
    }
    default:
      return FxErr::ecBadArgument;
  }
}

void TFxFaxConverter::ConvertToFile() { FxCheck(TryConvertToFile()); }
