#pragma once
// dBASE / FoxPro table files (.DBF): the 32-byte header, the field
// descriptors, fixed-length records with the deletion flag in their first
// byte, and the end-of-file mark (0x1A) after the last record.
//
// Fields: C text (blank-padded on the right), D date (YYYYMMDD, blanks when
// empty), N number (right-aligned, blanks when empty), L logical (T/F, '?' or
// blank unknown). F (float) is read as N.
//
// The header's record count is written after the records it counts, so a
// process killed at any instant leaves a count that covers only complete
// records; bytes after them are ignored and overwritten by the next append.
// Bytes 16-19 of the header (reserved for multi-user use) hold a change serial
// that every writer advances; the compound index records the serial it was
// built for, which is how a stale index is told from a current one.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/File.h"
#include "xbase/Value.h"
#include "xbase/XbError.h"

struct TDbfField {
  std::string name;  // upper case, at most 10 characters
  char type = 'C';   // 'C', 'D', 'N', 'L' ('F' is read as 'N')
  int width = 0;
  int decimals = 0;
  int offset = 0;    // position in the record; the deletion flag is byte 0
};

struct TDbfHeader {
  uint8_t version = 0x03;
  int year = 0, month = 0, day = 0;  // last update
  uint32_t recordCount = 0;
  uint16_t headerLength = 0;
  uint16_t recordLength = 0;
  uint32_t serial = 0;
  uint8_t tableFlags = 0;  // 0x01: a structural .CDX belongs to the table
  uint8_t languageDriver = 0;
  std::vector<TDbfField> fields;
};

constexpr uint8_t kDbfDeletedFlag = '*';
constexpr uint8_t kDbfLiveFlag = ' ';
constexpr uint8_t kDbfEofMark = 0x1A;
constexpr size_t kDbfMaxFields = 255;
// Language driver byte of the tables Corvane creates: text is Windows ANSI
// (code page 1252), of which Latin-1 is the part the application writes.
constexpr uint8_t kDbfCodePage1252 = 0x03;

// Checks a field definition as given to create a table.
XbStatus XbCheckFieldDef(const TDbfField& f);

// Parses a header from the first bytes of a file. `fileSize` is the size of
// the whole file; the record count is checked against it.
XbStatus XbParseDbfHeader(const uint8_t* data, size_t size, uint64_t fileSize, TDbfHeader& out);
// Builds the header bytes (fields and the 0x0D terminator included).
std::string XbBuildDbfHeader(const TDbfHeader& h);

// Field value <-> record bytes.
TXbValue XbReadField(const TDbfField& f, const uint8_t* record);
void XbReadFieldInto(const TDbfField& f, const uint8_t* record, TXbValue& out);
XbStatus XbWriteField(const TDbfField& f, const TXbValue& v, uint8_t* record);

// Copies n bytes of text. Field texts are short: a few overlapping moves of
// fixed size beat a variable-length copy, which compilers may turn into a
// string instruction that is slow to start.
inline void XbCopyText(uint8_t* p, const char* s, size_t n) {
  if (n == 0) return;
  if (n < 4) {
    p[0] = static_cast<uint8_t>(s[0]);
    p[n / 2] = static_cast<uint8_t>(s[n / 2]);
    p[n - 1] = static_cast<uint8_t>(s[n - 1]);
  } else if (n < 8) {
    std::memcpy(p, s, 4);
    std::memcpy(p + n - 4, s + n - 4, 4);
  } else if (n < 16) {
    std::memcpy(p, s, 8);
    std::memcpy(p + n - 8, s + n - 8, 8);
  } else if (n <= 32) {
    std::memcpy(p, s, 16);
    std::memcpy(p + n - 16, s + n - 16, 16);
  } else {
    std::memcpy(p, s, n);
  }
}

// Writes text into a field of `width` bytes: cut at the width, blank-padded.
inline void XbStoreText(uint8_t* p, size_t width, std::string_view text) {
  const size_t n = text.size() < width ? text.size() : width;
  XbCopyText(p, text.data(), n);
  std::memset(p + n, ' ', width - n);
}

// Writes a date's 8 bytes (YYYYMMDD, blanks for the empty date 0 or less).
inline void XbWriteDate(int32_t jd, uint8_t* p) {
  if (jd <= 0) {
    std::memset(p, ' ', 8);
    return;
  }
  int y, m, d;
  XbCivil(jd, y, m, d);
  y %= 10000;
  // Two digits at a time: rows are written by the hundred thousand.
  static constexpr char kDigits[] =
      "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
      "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";
  std::memcpy(p, kDigits + 2 * (y / 100), 2);
  std::memcpy(p + 2, kDigits + 2 * (y % 100), 2);
  std::memcpy(p + 4, kDigits + 2 * m, 2);
  std::memcpy(p + 6, kDigits + 2 * d, 2);
}
void XbBlankRecord(const TDbfHeader& h, uint8_t* record);

class TDbfFile {
 public:
  enum class Access { ReadOnly, ReadWrite };

  // Creates a new, empty table; fails with FileExists when the file exists.
  static XbStatus Create(const std::filesystem::path& path, const std::vector<TDbfField>& fields, bool hasCdx);

  XbStatus Open(const std::filesystem::path& path, Access access);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  const TDbfHeader& Header() const { return header_; }
  const std::vector<TDbfField>& Fields() const { return header_.fields; }
  uint32_t RecordCount() const { return header_.recordCount; }
  size_t RecordLength() const { return header_.recordLength; }
  uint32_t Serial() const { return header_.serial; }
  bool Writable() const { return access_ == Access::ReadWrite; }
  TXbFile& File() { return file_; }
  const std::filesystem::path& Path() const { return file_.path(); }
  int FieldIndex(std::string_view name) const;  // -1 when absent; any letter case

  XbStatus ReadRecord(uint32_t recno, uint8_t* buf) const;
  XbStatus ReadRecords(uint32_t first, uint32_t count, uint8_t* buf) const;
  // Overwrites an existing record in place.
  XbStatus WriteRecord(uint32_t recno, const uint8_t* buf);
  // Appends `count` records and the end mark in one write, then the header.
  XbStatus AppendRecords(const uint8_t* buf, uint32_t count);
  // Writes the header with the serial advanced (called before a change that
  // the index does not yet reflect).
  XbStatus AdvanceSerial();
  // Keeps only the first `count` records (pack), writes header and end mark.
  XbStatus TruncateRecords(uint32_t count);
  // Re-reads count and serial written by another process (shared mode).
  XbStatus Refresh();
  XbStatus Sync() { return file_.Sync(); }

 private:
  XbStatus WriteHeader();

  TXbFile file_;
  TDbfHeader header_;
  Access access_ = Access::ReadOnly;
};
