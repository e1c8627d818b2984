#pragma once
// APF fax image files: a 64-byte file header, then pages, each a 16-byte page
// header and the page's T.4 one-dimensional data (least significant bit
// first), either as length-prefixed line records or as one bit stream.
// All integers are little-endian.

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faximage/FileIo.h"

inline constexpr std::array<uint8_t, 6> kApfSignature{'A', 'P', 'F', '1', '0', 0x1A};
inline constexpr uint32_t kApfFileHeaderSize = 64;
inline constexpr uint32_t kApfPageHeaderSize = 16;
inline constexpr size_t kApfStationIdLength = 20;
inline constexpr size_t kApfMaxRecordBytes = 4096;

enum ApfPageFlags : uint16_t {
  apfHighRes = 0x0001,     // fine vertical resolution
  apfWide = 0x0002,        // 2048 pixels per line (else 1728)
  apfLengthWords = 0x0004, // length-prefixed line records (else one stream)
};

struct ApfFileHeader {
  uint32_t creationTime = 0;  // DOS packed date/time
  std::string stationId;      // at most 20 characters
  uint16_t pageCount = 0;
  uint32_t firstPageOffset = kApfFileHeaderSize;

  std::array<uint8_t, kApfFileHeaderSize> Pack() const;
  // False when the signature is wrong.
  static std::optional<ApfFileHeader> Unpack(const uint8_t* bytes);
};

struct ApfPageHeader {
  uint32_t imageLength = 0;
  uint16_t flags = 0;

  bool HighRes() const { return (flags & apfHighRes) != 0; }
  bool Wide() const { return (flags & apfWide) != 0; }
  bool LengthWords() const { return (flags & apfLengthWords) != 0; }
  unsigned Width() const { return Wide() ? 2048u : 1728u; }

  std::array<uint8_t, kApfPageHeaderSize> Pack() const;
  static ApfPageHeader Unpack(const uint8_t* bytes);
};

// DOS file-time form of a local time; 0 outside the years 1980-2099.
uint32_t ApfPackDosTime(const std::tm& local);
uint32_t ApfDosTimeNow();

// True when the file opens and its first 6 bytes are the signature.
bool IsApfFile(const std::filesystem::path& path);

// Reads the header and walks the page chain. Every offset and length comes
// from the file and is checked against the file's size before use.
class TFxApfReader {
 public:
  // 0, -2 for an empty name, -errno, or -8001 for a wrong signature.
  int Open(const std::filesystem::path& path);
  const ApfFileHeader& Header() const { return header_; }
  uint16_t PageCount() const { return header_.pageCount; }

  // Finds page n (from 1): its header and the file offset of its data.
  // -8001 when n is out of range or the chain leaves the file.
  int FindPage(unsigned n, ApfPageHeader& page, uint64_t& dataOffset);

  // Hands the T.4 data of page n to sink piece by piece: in the length-word
  // form one record at a time without its length word (at most 4096 bytes
  // of a longer record), in the stream form blocks of up to 4096 bytes.
  // sink gets the bytes, the page bytes consumed so far and the image
  // length, and returns false to stop. -8001 when the file ends before the
  // page does.
  using PageDataSink = std::function<bool(const uint8_t* data, size_t size, uint64_t consumed, uint64_t total)>;
  int ReadPageData(unsigned n, ApfPageHeader& page, const PageDataSink& sink);

  // Reads up to size bytes at offset; returns the count (0 at the end) or -errno.
  long long ReadAt(uint64_t offset, uint8_t* data, size_t size);
  uint64_t FileSize() const { return size_; }

 private:
  FxFile file_;
  ApfFileHeader header_;
  uint64_t size_ = 0;
  // Page chain walked so far: offsets of page headers 1..k.
  std::vector<uint64_t> pageOffsets_;
};

// Writes an APF file. Pages are started lazily by their first line; the
// page header is rewritten with the final image length as soon as the page
// ends, so earlier pages stay complete if the program stops. A writer that
// fails, or is destroyed before Finish, closes and deletes its file.
class TFxApfWriter {
 public:
  TFxApfWriter() = default;
  TFxApfWriter(const TFxApfWriter&) = delete;
  TFxApfWriter& operator=(const TFxApfWriter&) = delete;
  ~TFxApfWriter();

  int Create(const std::filesystem::path& path);
  // Flags of the pages that follow (apfLengthWords is implied by WriteLine).
  void SetPageFlags(uint16_t flags) { nextFlags_ = flags; }

  // Length-word form: one record (2-byte length + data), starting a page
  // header first when this is the page's first record.
  int WriteRecord(const uint8_t* data, size_t size);
  // Stream form: raw page data bytes, starting a page header when needed.
  int WriteStream(const uint8_t* data, size_t size);
  // Ends the current page: for the length-word form writes the page-end
  // record; rewrites the page header and counts the page.
  int EndPage();

  // Completes the file header (creation time, station ID, page count) and
  // closes. A failure deletes the file.
  int Finish(std::string_view stationId, uint32_t creationTime = ApfDosTimeNow());
  // Closes and deletes the file.
  void Discard();

  bool IsOpen() const { return file_.IsOpen(); }
  uint16_t PageCount() const { return header_.pageCount; }
  uint64_t Position() const { return file_.Position(); }

 private:
  int BeginPage(uint16_t flags);
  int Fail(int code);

  FxBufferedFile file_;
  std::filesystem::path path_;
  ApfFileHeader header_;
  ApfPageHeader page_;
  uint64_t pageOffset_ = 0;
  bool inPage_ = false;
  uint16_t nextFlags_ = 0;
};

// Joins APF files: the first file whole, then every further file's pages
// (everything after its 64-byte header), with the page counts added in the
// first header. 0 on success; -2 for a missing source, -8001 for a wrong
// signature, -1002 when the total exceeds 65535 pages or the target is one
// of the sources, -errno for I/O failures. On failure the target
// is left as far as it was written.
int ApfConcatenate(const std::vector<std::filesystem::path>& sources, const std::filesystem::path& target);
inline int ApfConcatenate(const std::filesystem::path& first, const std::filesystem::path& second,
                          const std::filesystem::path& target) {
  return ApfConcatenate(std::vector<std::filesystem::path>{first, second}, target);
}
