#include "faximage/FaxExport.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "faximage/ErrorCodes.h"
#include "faximage/FaxUnpacker.h"
#include "faximage/FileIo.h"
#include "faximage/T4Coder.h"
#include "faximage/T4Decoder.h"

namespace {

namespace fs = std::filesystem;

constexpr double kHorizontalDpi = 204.0;
constexpr double kFineDpi = 196.0;
constexpr double kNormalDpi = 98.0;

// Clears every bit before the first run of eleven 0 bits, the start of the
// first end-of-line code: whatever a sender put before it is not a line, and
// as fill bits it cannot be mistaken for one by any reader.
void BlankBeforeFirstEol(std::vector<uint8_t>& data) {
  unsigned zeros = 0;
  const size_t bits = data.size() * 8;
  for (size_t i = 0; i < bits; ++i) {
    if ((data[i / 8] >> (i % 8)) & 1u) {
      zeros = 0;
      continue;
    }
    if (++zeros < 11) continue;
    const size_t start = i + 1 - 11;
    std::fill(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(start / 8), uint8_t{0});
    if (start % 8 != 0) data[start / 8] &= static_cast<uint8_t>(0xFFu << (start % 8));
    return;
  }
}

void Recode(FxCodedPage& page, const std::vector<uint8_t>& lines, unsigned lineBytes) {
  page.data.clear();
  std::array<uint8_t, FxT4::kMaxRecordBytes> record{};
  const std::vector<uint8_t> blank(lineBytes, 0);
  const size_t count = lines.size() / lineBytes;
  for (size_t y = 0; y < std::max<size_t>(count, 1); ++y) {
    const uint8_t* raw = count == 0 ? blank.data() : lines.data() + y * lineBytes;
    const size_t n = FxT4::CodeLine(raw, page.width, 0, record.data());
    page.data.insert(page.data.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n));
  }
  const size_t n = FxT4::PageEndRecord(record.data());
  page.data.insert(page.data.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n));
  page.rows = static_cast<uint32_t>(std::max<size_t>(count, 1));
  page.alignedEols = true;
  page.recoded = true;
}

// Deletes the output unless the export is committed.
class OutputGuard {
 public:
  explicit OutputGuard(fs::path path) : path_(std::move(path)) {}
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;
  ~OutputGuard() {
    if (committed_) return;
    std::error_code ec;
    fs::remove(path_, ec);
  }
  void Commit() { committed_ = true; }

 private:
  fs::path path_;
  bool committed_ = false;
};

int ReadPages(const fs::path& apf, std::vector<FxCodedPage>& pages, FxExportResult& result) {
  TFxApfReader reader;
  if (const int rc = reader.Open(apf); rc < 0) return rc;
  result.pagesInFile = reader.PageCount();
  if (reader.PageCount() == 0) return FxErr::ecBadArgument;
  for (unsigned n = 1; n <= reader.PageCount(); ++n) {
    FxCodedPage page;
    const int rc = FxReadCodedPage(reader, n, page);
    if (rc == FxErr::ecFaxBadFormat && n > 1) break;  // a damaged file: keep the pages before
    if (rc < 0) return rc;
    pages.push_back(std::move(page));
  }
  result.pagesWritten = static_cast<unsigned>(pages.size());
  return 0;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

}  // namespace

int FxReadCodedPage(TFxApfReader& reader, unsigned n, FxCodedPage& page) {
  page = FxCodedPage{};
  ApfPageHeader header;
  int rc = reader.ReadPageData(n, header, [&](const uint8_t* data, size_t size, uint64_t, uint64_t) {
    page.data.insert(page.data.end(), data, data + size);
    return true;
  });
  if (rc < 0) return rc;
  page.width = header.Width();
  page.fine = header.HighRes();
  if (!header.LengthWords()) BlankBeforeFirstEol(page.data);

  // Decoding only counts the rows and checks that every line is one readers
  // keep at the page's width; the lines are kept for the rare page that must
  // be coded afresh.
  const unsigned lineBytes = page.width / 8;
  std::vector<uint8_t> lines;
  bool exact = true;
  rc = 0;
  // Dropped lines in a row: the decoder's drop count between accepted lines.
  const FxT4Decoder* self = nullptr;
  uint64_t droppedBefore = 0;
  auto countRun = [&] {
    page.consecutiveDropped = std::max(page.consecutiveDropped, self->LinesDropped() - droppedBefore);
    droppedBefore = self->LinesDropped();
  };
  FxT4Decoder decoder([&](const uint8_t* line, unsigned bytes) {
    countRun();
    if (lines.size() / lineBytes >= TFxFaxUnpacker::kMaxRows) {
      rc = FxErr::ecOutOfMemory;
      return false;
    }
    if (bytes != lineBytes) exact = false;
    const size_t at = lines.size();
    lines.resize(at + lineBytes, 0);
    std::memcpy(lines.data() + at, line, std::min(bytes, lineBytes));
    return true;
  });
  self = &decoder;
  decoder.Feed(page.data.data(), page.data.size());
  if (!decoder.Stopped()) decoder.Finish();
  countRun();
  if (rc < 0) return rc;
  page.droppedLines = decoder.LinesDropped();
  page.rows = static_cast<uint32_t>(lines.size() / lineBytes);
  if (!exact || decoder.LinesDropped() != 0 || decoder.BadCodes() != 0 || page.rows == 0) {
    Recode(page, lines, lineBytes);
  } else {
    page.alignedEols = header.LengthWords();
  }
  return 0;
}

int FxWriteTiffClassF(const std::vector<FxCodedPage>& pages, const fs::path& out) {
  if (pages.empty() || pages.size() > 65535) return FxErr::ecBadArgument;
  OutputGuard guard(out);
  // libtiff's messages would go to stderr; the caller gets an error code.
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!options) return FxErr::ecOutOfMemory;
  auto quiet = [](TIFF*, void*, const char*, const char*, va_list) { return 1; };
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
  errno = 0;
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpenExt(out.c_str(), "w", options.get()));
  if (!tif) return errno != 0 ? -errno : -EIO;
  TIFF* t = tif.get();
  const auto total = static_cast<uint16_t>(pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const FxCodedPage& p = pages[i];
    bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.width)) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.rows) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3) == 1;
    // One-dimensional coding; the fill-bits flag only where it holds.
    ok = ok && TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, p.alignedEols ? GROUP3OPT_FILLBITS : 0) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.rows) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_XRESOLUTION, kHorizontalDpi) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_YRESOLUTION, p.fine ? kFineDpi : kNormalDpi) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(i), total) == 1;
    ok = ok && TIFFSetField(t, TIFFTAG_SOFTWARE, "Corvane") == 1;
    // A page coded afresh had lines that could not be kept.
    ok = ok && TIFFSetField(t, TIFFTAG_CLEANFAXDATA, p.droppedLines != 0 ? CLEANFAXDATA_REGENERATED
                                                                        : CLEANFAXDATA_CLEAN) == 1;
    if (ok && p.droppedLines != 0) {
      ok = TIFFSetField(t, TIFFTAG_BADFAXLINES, static_cast<uint32_t>(std::min<uint64_t>(p.droppedLines, UINT32_MAX))) == 1;
      ok = ok && TIFFSetField(t, TIFFTAG_CONSECUTIVEBADFAXLINES,
                              static_cast<uint32_t>(std::min<uint64_t>(p.consecutiveDropped, UINT32_MAX))) == 1;
    }
    if (!ok) return FxErr::ecBadArgument;
    std::vector<uint8_t> strip = p.data;  // TIFFWriteRawStrip takes a non-const buffer
    if (TIFFWriteRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size())) < 0) return -EIO;
    if (TIFFWriteDirectory(t) != 1) return -EIO;
  }
  if (TIFFFlush(t) != 1) return -EIO;
  tif.reset();
  std::error_code ec;
  if (fs::file_size(out, ec) == 0 || ec) return -EIO;
  guard.Commit();
  return 0;
}

namespace {

const std::array<uint8_t, 256>& ReverseTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
      unsigned r = 0;
      for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
      t[b] = static_cast<uint8_t>(r);
    }
    return t;
  }();
  return table;
}

std::string Points(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  return buf;
}

class PdfBuilder {
 public:
  // Object numbers from 1; the offset of each is filled in as it is written.
  void Begin(unsigned id) {
    if (offsets_.size() < id + 1) offsets_.resize(id + 1, 0);
    offsets_[id] = out_.size();
    Text(std::to_string(id) + " 0 obj\n");
  }
  void Text(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
  void Bytes(const std::vector<uint8_t>& b) { out_.insert(out_.end(), b.begin(), b.end()); }
  std::vector<uint8_t> Finish(unsigned rootId) {
    const size_t xref = out_.size();
    char line[32];
    Text("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
    for (size_t i = 1; i < offsets_.size(); ++i) {
      std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets_[i]);
      Text(line);
    }
    Text("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root " + std::to_string(rootId) +
         " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  std::vector<size_t> offsets_;
};

}  // namespace

int FxWriteFaxPdf(const std::vector<FxCodedPage>& pages, const fs::path& out) {
  if (pages.empty()) return FxErr::ecBadArgument;
  OutputGuard guard(out);
  PdfBuilder pdf;
  pdf.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  // 1 catalog, 2 page tree, then per page: page, image, contents.
  pdf.Begin(1);
  pdf.Text("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  pdf.Begin(2);
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
  pdf.Text("<< /Type /Pages /Count " + std::to_string(pages.size()) + " /Kids [ " + kids + "] >>\nendobj\n");
  const auto& reverse = ReverseTable();
  for (size_t i = 0; i < pages.size(); ++i) {
    const FxCodedPage& p = pages[i];
    const auto id = static_cast<unsigned>(3 + 3 * i);
    const double w = p.width / kHorizontalDpi * 72.0;
    const double h = p.rows / (p.fine ? kFineDpi : kNormalDpi) * 72.0;
    pdf.Begin(id);
    pdf.Text("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Points(w) + " " + Points(h) +
             "] /Resources << /XObject << /Im0 " + std::to_string(id + 1) + " 0 R >> >> /Contents " +
             std::to_string(id + 2) + " 0 R >>\nendobj\n");
    // PDF reads the coded bits most significant bit first.
    std::vector<uint8_t> data(p.data.size());
    std::transform(p.data.begin(), p.data.end(), data.begin(), [&](uint8_t b) { return reverse[b]; });
    pdf.Begin(id + 1);
    pdf.Text("<< /Type /XObject /Subtype /Image /Width " + std::to_string(p.width) + " /Height " +
             std::to_string(p.rows) + " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode" +
             " /DecodeParms << /K 0 /Columns " + std::to_string(p.width) + " /Rows " + std::to_string(p.rows) +
             " /EndOfBlock false /BlackIs1 false >> /Length " + std::to_string(data.size()) + " >>\nstream\n");
    pdf.Bytes(data);
    pdf.Text("\nendstream\nendobj\n");
    const std::string content = "q " + Points(w) + " 0 0 " + Points(h) + " 0 0 cm /Im0 Do Q\n";
    pdf.Begin(id + 2);
    pdf.Text("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream\nendobj\n");
  }
  const std::vector<uint8_t> bytes = pdf.Finish(1);
  FxFile file;
  if (const int rc = file.Create(out); rc < 0) return rc;
  if (const int rc = file.WriteAll(bytes.data(), bytes.size()); rc < 0) return rc;
  if (const int rc = file.Close(); rc < 0) return rc;
  guard.Commit();
  return 0;
}

int FxExportTiff(const fs::path& apf, const fs::path& out, FxExportResult& result) {
  result = FxExportResult{};
  std::vector<FxCodedPage> pages;
  if (const int rc = ReadPages(apf, pages, result); rc < 0) return rc;
  return FxWriteTiffClassF(pages, out);
}

int FxExportPdf(const fs::path& apf, const fs::path& out, FxExportResult& result) {
  result = FxExportResult{};
  std::vector<FxCodedPage> pages;
  if (const int rc = ReadPages(apf, pages, result); rc < 0) return rc;
  return FxWriteFaxPdf(pages, out);
}
