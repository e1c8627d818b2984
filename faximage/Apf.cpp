#include "faximage/Apf.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "faximage/ErrorCodes.h"
#include "faximage/T4Coder.h"

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Reads the page through a 64 KB window so that the many small records of
// a length-word page cost one system call per window, not two per line.
class WindowReader {
 public:
  explicit WindowReader(FxFile& file) : file_(file), window_(64 * 1024) {}

  // The count read (short at the end of the file) or -errno.
  long long ReadAt(uint64_t offset, uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      const uint64_t at = offset + done;
      if (at < start_ || at >= start_ + filled_) {
        const long long got = file_.ReadAt(at, window_.data(), window_.size());
        if (got < 0) return got;
        start_ = at;
        filled_ = static_cast<size_t>(got);
        if (filled_ == 0) break;
      }
      const size_t from = static_cast<size_t>(at - start_);
      const size_t n = std::min(size - done, filled_ - from);
      std::memcpy(data + done, window_.data() + from, n);
      done += n;
    }
    return static_cast<long long>(done);
  }

 private:
  FxFile& file_;
  std::vector<uint8_t> window_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

}  // namespace

std::array<uint8_t, kApfFileHeaderSize> ApfFileHeader::Pack() const {
  std::array<uint8_t, kApfFileHeaderSize> b{};
  std::copy(kApfSignature.begin(), kApfSignature.end(), b.begin());
  Put32(&b[6], creationTime);
  const size_t len = std::min(stationId.size(), kApfStationIdLength);
  b[10] = static_cast<uint8_t>(len);
  std::memset(&b[11], ' ', kApfStationIdLength);
  std::memcpy(&b[11], stationId.data(), len);
  Put16(&b[32], pageCount);
  Put32(&b[34], firstPageOffset);
  return b;
}

std::optional<ApfFileHeader> ApfFileHeader::Unpack(const uint8_t* bytes) {
  if (!std::equal(kApfSignature.begin(), kApfSignature.end(), bytes)) return std::nullopt;
  ApfFileHeader h;
  h.creationTime = Get32(bytes + 6);
  const size_t len = std::min<size_t>(bytes[10], kApfStationIdLength);
  h.stationId.assign(reinterpret_cast<const char*>(bytes + 11), len);
  h.pageCount = Get16(bytes + 32);
  h.firstPageOffset = Get32(bytes + 34);
  return h;
}

std::array<uint8_t, kApfPageHeaderSize> ApfPageHeader::Pack() const {
  std::array<uint8_t, kApfPageHeaderSize> b{};
  Put32(&b[0], imageLength);
  Put16(&b[4], flags);
  return b;
}

ApfPageHeader ApfPageHeader::Unpack(const uint8_t* bytes) { return {Get32(bytes), Get16(bytes + 4)}; }

uint32_t ApfPackDosTime(const std::tm& t) {
  const int year = t.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  const uint32_t time = static_cast<uint32_t>((t.tm_sec / 2) | (t.tm_min << 5) | (t.tm_hour << 11));
  const uint32_t date = static_cast<uint32_t>(t.tm_mday | ((t.tm_mon + 1) << 5) | ((year - 1980) << 9));
  return (date << 16) | time;
}

uint32_t ApfDosTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return ApfPackDosTime(local);
}

bool IsApfFile(const std::filesystem::path& path) {
  FxFile f;
  if (f.OpenRead(path) < 0) return false;
  std::array<uint8_t, 6> sig{};
  return f.ReadAt(0, sig.data(), sig.size()) == static_cast<long long>(sig.size()) && sig == kApfSignature;
}

// ---- reader ----------------------------------------------------------------

int TFxApfReader::Open(const std::filesystem::path& path) {
  pageOffsets_.clear();
  header_ = {};
  if (const int rc = file_.OpenRead(path); rc < 0) return rc;
  const long long size = file_.Size();
  if (size < 0) return static_cast<int>(size);
  size_ = static_cast<uint64_t>(size);
  std::array<uint8_t, kApfFileHeaderSize> bytes{};
  const long long n = file_.ReadAt(0, bytes.data(), bytes.size());
  if (n < 0) return static_cast<int>(n);
  // A file shorter than the header is accepted when its signature is right
  // and the page count is 0 (missing bytes read as 0).
  if (n < static_cast<long long>(kApfSignature.size())) return FxErr::ecFaxBadFormat;
  auto h = ApfFileHeader::Unpack(bytes.data());
  if (!h) return FxErr::ecFaxBadFormat;
  header_ = *h;
  return 0;
}

int TFxApfReader::FindPage(unsigned n, ApfPageHeader& page, uint64_t& dataOffset) {
  if (!file_.IsOpen() || n < 1 || n > header_.pageCount) return FxErr::ecFaxBadFormat;
  if (pageOffsets_.empty()) pageOffsets_.push_back(header_.firstPageOffset);
  std::array<uint8_t, kApfPageHeaderSize> bytes{};
  // Extend the walked chain up to page n.
  while (pageOffsets_.size() < n) {
    const uint64_t at = pageOffsets_.back();
    if (at + kApfPageHeaderSize > size_) return FxErr::ecFaxBadFormat;
    const long long got = file_.ReadAt(at, bytes.data(), bytes.size());
    if (got < 0) return static_cast<int>(got);
    if (got != static_cast<long long>(bytes.size())) return FxErr::ecFaxBadFormat;
    const ApfPageHeader h = ApfPageHeader::Unpack(bytes.data());
    // Offsets only grow (the length is unsigned), so a chain cannot loop.
    pageOffsets_.push_back(at + kApfPageHeaderSize + h.imageLength);
  }
  const uint64_t at = pageOffsets_[n - 1];
  if (at + kApfPageHeaderSize > size_) return FxErr::ecFaxBadFormat;
  const long long got = file_.ReadAt(at, bytes.data(), bytes.size());
  if (got < 0) return static_cast<int>(got);
  if (got != static_cast<long long>(bytes.size())) return FxErr::ecFaxBadFormat;
  page = ApfPageHeader::Unpack(bytes.data());
  dataOffset = at + kApfPageHeaderSize;
  return 0;
}

int TFxApfReader::ReadPageData(unsigned n, ApfPageHeader& page, const PageDataSink& sink) {
  uint64_t offset = 0;
  if (const int rc = FindPage(n, page, offset); rc < 0) return rc;
  const uint64_t total = page.imageLength;
  uint64_t consumed = 0;
  WindowReader input(file_);
  std::array<uint8_t, kApfMaxRecordBytes> block{};
  while (consumed < total) {
    size_t take = 0;
    if (page.LengthWords()) {
      if (total - consumed < 2) break;  // a stray byte after the last record
      uint8_t len[2];
      const long long got = input.ReadAt(offset + consumed, len, 2);
      if (got < 0) return static_cast<int>(got);
      if (got < 2) return FxErr::ecFaxBadFormat;
      consumed += 2;
      const uint64_t recordLength = std::min<uint64_t>(Get16(len), total - consumed);
      take = static_cast<size_t>(std::min<uint64_t>(recordLength, kApfMaxRecordBytes));
      const long long data = input.ReadAt(offset + consumed, block.data(), take);
      if (data < 0) return static_cast<int>(data);
      if (static_cast<size_t>(data) < take) return FxErr::ecFaxBadFormat;
      // Only the first 4096 bytes of a longer record are used.
      consumed += recordLength;
    } else {
      take = static_cast<size_t>(std::min<uint64_t>(kApfMaxRecordBytes, total - consumed));
      const long long got = input.ReadAt(offset + consumed, block.data(), take);
      if (got < 0) return static_cast<int>(got);
      if (got == 0) return FxErr::ecFaxBadFormat;
      take = static_cast<size_t>(got);
      consumed += take;
    }
    if (!sink(block.data(), take, consumed, total)) break;
  }
  return 0;
}

long long TFxApfReader::ReadAt(uint64_t offset, uint8_t* data, size_t size) {
  return file_.ReadAt(offset, data, size);
}

// ---- writer ----------------------------------------------------------------

TFxApfWriter::~TFxApfWriter() { Discard(); }

int TFxApfWriter::Create(const std::filesystem::path& path) {
  Discard();
  header_ = {};
  inPage_ = false;
  if (const int rc = file_.Create(path); rc < 0) return rc;
  path_ = path;
  const auto bytes = header_.Pack();
  if (const int rc = file_.Write(bytes.data(), bytes.size()); rc < 0) return Fail(rc);
  return 0;
}

int TFxApfWriter::BeginPage(uint16_t flags) {
  if (!file_.IsOpen()) return FxErr::ecBadArgument;
  page_ = {0, flags};
  pageOffset_ = file_.Position();
  const auto bytes = page_.Pack();
  if (const int rc = file_.Write(bytes.data(), bytes.size()); rc < 0) return Fail(rc);
  inPage_ = true;
  return 0;
}

int TFxApfWriter::WriteRecord(const uint8_t* data, size_t size) {
  if (size > kApfMaxRecordBytes) return Fail(FxErr::ecBadArgument);
  if (!inPage_) {
    if (const int rc = BeginPage(static_cast<uint16_t>(nextFlags_ | apfLengthWords)); rc < 0) return rc;
  }
  if (page_.imageLength > UINT32_MAX - 2 - size) return Fail(FxErr::ecBadArgument);
  uint8_t len[2];
  Put16(len, static_cast<uint16_t>(size));
  if (const int rc = file_.Write(len, 2); rc < 0) return Fail(rc);
  if (const int rc = file_.Write(data, size); rc < 0) return Fail(rc);
  page_.imageLength += static_cast<uint32_t>(2 + size);
  return 0;
}

int TFxApfWriter::WriteStream(const uint8_t* data, size_t size) {
  if (!inPage_) {
    if (const int rc = BeginPage(static_cast<uint16_t>(nextFlags_ & ~apfLengthWords)); rc < 0) return rc;
  }
  if (page_.imageLength > UINT32_MAX - size) return Fail(FxErr::ecBadArgument);
  if (const int rc = file_.Write(data, size); rc < 0) return Fail(rc);
  page_.imageLength += static_cast<uint32_t>(size);
  return 0;
}

int TFxApfWriter::EndPage() {
  if (!file_.IsOpen()) return FxErr::ecBadArgument;
  if (!inPage_ || page_.LengthWords()) {
    // A page with no line at all still gets its header and page end.
    std::array<uint8_t, 32> end{};
    const size_t n = FxT4::PageEndRecord(end.data());
    if (const int rc = WriteRecord(end.data(), n); rc < 0) return rc;
  }
  if (header_.pageCount == UINT16_MAX) return Fail(FxErr::ecBadArgument);
  const auto bytes = page_.Pack();
  if (const int rc = file_.Seek(pageOffset_); rc < 0) return Fail(rc);
  if (const int rc = file_.Write(bytes.data(), bytes.size()); rc < 0) return Fail(rc);
  if (const int rc = file_.SeekEnd(); rc < 0) return Fail(rc);
  ++header_.pageCount;
  inPage_ = false;
  return 0;
}

int TFxApfWriter::Finish(std::string_view stationId, uint32_t creationTime) {
  if (!file_.IsOpen()) return FxErr::ecBadArgument;
  header_.creationTime = creationTime;
  header_.stationId.assign(stationId.substr(0, kApfStationIdLength));
  const auto bytes = header_.Pack();
  if (const int rc = file_.Seek(0); rc < 0) return Fail(rc);
  if (const int rc = file_.Write(bytes.data(), bytes.size()); rc < 0) return Fail(rc);
  if (const int rc = file_.Close(); rc < 0) return Fail(rc);
  path_.clear();
  return 0;
}

int TFxApfWriter::Fail(int code) {
  Discard();
  return code;
}

void TFxApfWriter::Discard() {
  inPage_ = false;
  if (!file_.IsOpen()) return;
  file_.CloseNoFlush();
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  path_.clear();
}

// ---- concatenation -----------------------------------------------------------

int ApfConcatenate(const std::vector<std::filesystem::path>& sources, const std::filesystem::path& target) {
  if (sources.empty()) return FxErr::ecBadArgument;
  for (const auto& s : sources) {
    std::error_code ec;
    if (s.empty() || !std::filesystem::exists(s, ec)) return FxErr::ecFileNotFound;
    // Creating the target would truncate a source that is the same file.
    if (std::filesystem::equivalent(s, target, ec)) return FxErr::ecBadArgument;
  }
  FxFile out;
  if (const int rc = out.Create(target); rc < 0) return rc;
  std::vector<uint8_t> chunk(64 * 1024);
  std::array<uint8_t, kApfFileHeaderSize> first{};
  uint64_t outPos = 0;
  uint32_t pages = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    FxFile in;
    if (const int rc = in.OpenRead(sources[i]); rc < 0) return rc;
    std::array<uint8_t, kApfFileHeaderSize> header{};
    const long long n = in.ReadAt(0, header.data(), header.size());
    if (n < 0) return static_cast<int>(n);
    if (n < static_cast<long long>(kApfSignature.size())) return FxErr::ecFaxBadFormat;
    const auto h = ApfFileHeader::Unpack(header.data());
    if (!h) return FxErr::ecFaxBadFormat;
    pages += h->pageCount;
    if (i == 0) first = header;
    // The first file is copied whole, the others from byte 64 on.
    uint64_t at = i == 0 ? 0 : kApfFileHeaderSize;
    for (;;) {
      const long long got = in.ReadAt(at, chunk.data(), chunk.size());
      if (got < 0) return static_cast<int>(got);
      if (got == 0) break;
      if (const int rc = out.WriteAt(outPos, chunk.data(), static_cast<size_t>(got)); rc < 0) return rc;
      at += static_cast<uint64_t>(got);
      outPos += static_cast<uint64_t>(got);
    }
  }
  if (pages > UINT16_MAX) return FxErr::ecBadArgument;
  Put16(&first[32], static_cast<uint16_t>(pages));
  if (const int rc = out.WriteAt(0, first.data(), first.size()); rc < 0) return rc;
  return out.Close();
}
