#include "xbase/Dbf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool KnownVersion(uint8_t v) {
  switch (v) {
    case 0x03: case 0x04: case 0x05: case 0x30: case 0x31: case 0x32:
    case 0x83: case 0x8B: case 0xF5: case 0xFB:
      return true;
    default:
      return false;
  }
}

bool ValidNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

void StampToday(TDbfHeader& h) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  h.year = tm.tm_year + 1900;
  h.month = tm.tm_mon + 1;
  h.day = tm.tm_mday;
}

}  // namespace

XbStatus XbCheckFieldDef(const TDbfField& f) {
  if (f.name.empty() || f.name.size() > 10) return XbFail(XbError::DbfBadField, "field name \"" + f.name + "\"");
  if (!((f.name[0] >= 'A' && f.name[0] <= 'Z') || (f.name[0] >= 'a' && f.name[0] <= 'z')))
    return XbFail(XbError::DbfBadField, "field name \"" + f.name + "\"");
  for (char c : f.name)
    if (!ValidNameChar(c)) return XbFail(XbError::DbfBadField, "field name \"" + f.name + "\"");
  bool ok = false;
  switch (f.type) {
    case 'C': ok = f.width >= 1 && f.width <= 254 && f.decimals == 0; break;
    case 'D': ok = f.width == 8 && f.decimals == 0; break;
    case 'L': ok = f.width == 1 && f.decimals == 0; break;
    case 'N':
    case 'F': ok = f.width >= 1 && f.width <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.width - 2); break;
    default: break;
  }
  if (!ok) return XbFail(XbError::DbfBadField, "field " + f.name + " type " + std::string(1, f.type));
  return {};
}

XbStatus XbParseDbfHeader(const uint8_t* data, size_t size, uint64_t fileSize, TDbfHeader& out) {
  if (size < 32 || fileSize < 32) return XbFail(XbError::DbfTooShort);
  TDbfHeader h;
  h.version = data[0];
  if (!KnownVersion(h.version)) return XbFail(XbError::DbfBadVersion, "version byte " + std::to_string(h.version));
  h.year = 1900 + data[1];
  h.month = data[2];
  h.day = data[3];
  h.recordCount = Get32(data + 4);
  h.headerLength = Get16(data + 8);
  h.recordLength = Get16(data + 10);
  h.serial = Get32(data + 16);
  h.tableFlags = data[28];
  h.languageDriver = data[29];
  if (h.headerLength < 33 || h.headerLength > size || h.recordLength < 1)
    return XbFail(XbError::DbfBadHeader, "header length " + std::to_string(h.headerLength));
  if (h.headerLength > fileSize) return XbFail(XbError::DbfTooShort);

  size_t pos = 32;
  int offset = 1;
  bool terminated = false;
  while (pos < h.headerLength) {
    if (data[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > h.headerLength) break;  // a descriptor running past the header
    if (h.fields.size() >= kDbfMaxFields) return XbFail(XbError::DbfBadHeader, "too many fields");
    const uint8_t* d = data + pos;
    TDbfField f;
    size_t n = 0;
    while (n < 11 && d[n] != 0) ++n;
    f.name = XbUpper(std::string_view(reinterpret_cast<const char*>(d), n));
    f.type = static_cast<char>(d[11]);
    if (f.type == 'F') f.type = 'N';
    f.width = d[16];
    f.decimals = d[17];
    f.offset = offset;
    if (auto st = XbCheckFieldDef(f); !st) return st;
    for (const TDbfField& other : h.fields)
      if (other.name == f.name) return XbFail(XbError::DbfBadField, "duplicate field " + f.name);
    offset += f.width;
    h.fields.push_back(std::move(f));
    pos += 32;
  }
  if (!terminated) return XbFail(XbError::DbfBadHeader, "field descriptors run past the header");
  if (h.fields.empty()) return XbFail(XbError::DbfBadHeader, "no fields");
  if (offset != h.recordLength)
    return XbFail(XbError::DbfBadHeader, "record length " + std::to_string(h.recordLength) + " but fields need " +
                                             std::to_string(offset));
  const uint64_t need = h.headerLength + static_cast<uint64_t>(h.recordCount) * h.recordLength;
  if (need > fileSize)
    return XbFail(XbError::DbfTruncated, std::to_string(h.recordCount) + " records need " + std::to_string(need) +
                                             " bytes, file has " + std::to_string(fileSize));
  out = std::move(h);
  return {};
}

std::string XbBuildDbfHeader(const TDbfHeader& h) {
  std::string s(h.headerLength, '\0');
  auto* p = reinterpret_cast<uint8_t*>(s.data());
  p[0] = h.version;
  p[1] = static_cast<uint8_t>(std::clamp(h.year - 1900, 0, 255));
  p[2] = static_cast<uint8_t>(h.month);
  p[3] = static_cast<uint8_t>(h.day);
  Put32(p + 4, h.recordCount);
  Put16(p + 8, h.headerLength);
  Put16(p + 10, h.recordLength);
  Put32(p + 16, h.serial);
  p[28] = h.tableFlags;
  p[29] = h.languageDriver;
  size_t pos = 32;
  for (const TDbfField& f : h.fields) {
    std::memcpy(p + pos, f.name.data(), std::min<size_t>(f.name.size(), 10));
    p[pos + 11] = static_cast<uint8_t>(f.type);
    Put32(p + pos + 12, static_cast<uint32_t>(f.offset));
    p[pos + 16] = static_cast<uint8_t>(f.width);
    p[pos + 17] = static_cast<uint8_t>(f.decimals);
    pos += 32;
  }
  p[pos] = 0x0D;
  return s;
}

void XbReadFieldInto(const TDbfField& f, const uint8_t* record, TXbValue& out) {
  const char* p = reinterpret_cast<const char*>(record + f.offset);
  const auto w = static_cast<size_t>(f.width);
  switch (f.type) {
    case 'C':
      out.type = XbType::Character;
      out.str.assign(p, w);
      return;
    case 'D': {
      out.type = XbType::Date;
      int32_t jd = 0;
      out.date = XbParseDtos(std::string_view(p, w), jd) ? jd : 0;
      return;
    }
    case 'L':
      out.type = XbType::Logical;
      out.log = p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y';
      return;
    default:
      out.type = XbType::Numeric;
      out.num = XbParseNumber(std::string_view(p, w));
      return;
  }
}

TXbValue XbReadField(const TDbfField& f, const uint8_t* record) {
  TXbValue v;
  XbReadFieldInto(f, record, v);
  return v;
}

XbStatus XbWriteField(const TDbfField& f, const TXbValue& v, uint8_t* record) {
  char* p = reinterpret_cast<char*>(record + f.offset);
  const auto w = static_cast<size_t>(f.width);
  switch (f.type) {
    case 'C': {
      if (v.type != XbType::Character) return XbFail(XbError::BadValue, f.name + " needs text");
      XbStoreText(record + f.offset, w, v.str);
      return {};
    }
    case 'D': {
      int32_t jd = 0;
      if (v.type == XbType::Date) {
        jd = v.date;
      } else if (v.type != XbType::Character || !XbParseDtos(v.str, jd)) {
        return XbFail(XbError::BadValue, f.name + " needs a date (YYYYMMDD)");
      }
      XbWriteDate(jd, reinterpret_cast<uint8_t*>(p));
      return {};
    }
    case 'L':
      if (v.type != XbType::Logical) return XbFail(XbError::BadValue, f.name + " needs a logical value");
      p[0] = v.log ? 'T' : 'F';
      return {};
    default: {
      if (v.type != XbType::Numeric) return XbFail(XbError::BadValue, f.name + " needs a number");
      const std::string s = XbFormatNumber(v.num, f.width, f.decimals);
      if (s.empty() || s[0] == '*') return XbFail(XbError::BadValue, f.name + " cannot hold the number");
      std::memcpy(p, s.data(), w);
      return {};
    }
  }
}

void XbBlankRecord(const TDbfHeader& h, uint8_t* record) {
  std::memset(record, ' ', h.recordLength);
  // A logical field starts as false rather than unknown, so that readers that
  // tell the two apart see the value the application means.
  for (const TDbfField& f : h.fields)
    if (f.type == 'L') record[f.offset] = 'F';
}

XbStatus TDbfFile::Create(const std::filesystem::path& path, const std::vector<TDbfField>& fields, bool hasCdx) {
  if (fields.empty() || fields.size() > kDbfMaxFields) return XbFail(XbError::BadArgument, "field count");
  TDbfHeader h;
  h.version = 0x03;
  h.tableFlags = hasCdx ? 0x01 : 0x00;
  h.languageDriver = kDbfCodePage1252;
  int offset = 1;
  for (TDbfField f : fields) {
    f.name = XbUpper(f.name);
    f.offset = offset;
    if (auto st = XbCheckFieldDef(f); !st) return st;
    for (const TDbfField& o : h.fields)
      if (o.name == f.name) return XbFail(XbError::DbfBadField, "duplicate field " + f.name);
    offset += f.width;
    h.fields.push_back(std::move(f));
  }
  if (offset > 65535) return XbFail(XbError::BadArgument, "record too long");
  h.recordLength = static_cast<uint16_t>(offset);
  h.headerLength = static_cast<uint16_t>(32 + 32 * h.fields.size() + 1);
  StampToday(h);
  std::string bytes = XbBuildDbfHeader(h);
  bytes.push_back(static_cast<char>(kDbfEofMark));
  TXbFile f;
  if (auto st = f.Open(path, O_WRONLY | O_CREAT | O_EXCL); !st) return st;
  if (auto st = f.WriteAt(0, bytes.data(), bytes.size()); !st) return st;
  return f.Sync();
}

XbStatus TDbfFile::Open(const std::filesystem::path& path, Access access) {
  Close();
  access_ = access;
  if (auto st = file_.Open(path, access == Access::ReadOnly ? O_RDONLY : O_RDWR); !st) return st;
  uint64_t size = 0;
  if (auto st = file_.Size(size); !st) return st;
  if (size < 32) {
    Close();
    return XbFail(XbError::DbfTooShort, path.string());
  }
  uint8_t first[32];
  if (auto st = file_.ReadAt(0, first, 32); !st) return st;
  const uint16_t hl = Get16(first + 8);
  std::vector<uint8_t> head(std::max<size_t>(32, std::min<uint64_t>(hl, size)));
  if (auto st = file_.ReadAt(0, head.data(), head.size()); !st) return st;
  TDbfHeader h;
  if (auto st = XbParseDbfHeader(head.data(), head.size(), size, h); !st) {
    Close();
    st.detail = path.string() + (st.detail.empty() ? "" : ": " + st.detail);
    return st;
  }
  header_ = std::move(h);
  return {};
}

void TDbfFile::Close() { file_.Close(); }

int TDbfFile::FieldIndex(std::string_view name) const {
  // Stored names are upper case; compared without building a copy.
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  for (size_t i = 0; i < header_.fields.size(); ++i) {
    const std::string& f = header_.fields[i].name;
    if (f.size() != name.size()) continue;
    size_t k = 0;
    while (k < f.size() && f[k] == upper(name[k])) ++k;
    if (k == f.size()) return static_cast<int>(i);
  }
  return -1;
}

XbStatus TDbfFile::ReadRecord(uint32_t recno, uint8_t* buf) const { return ReadRecords(recno, 1, buf); }

XbStatus TDbfFile::ReadRecords(uint32_t first, uint32_t count, uint8_t* buf) const {
  if (first < 1 || count == 0 || first - 1 + static_cast<uint64_t>(count) > header_.recordCount)
    return XbFail(XbError::NoRecord);
  const uint64_t off = header_.headerLength + static_cast<uint64_t>(first - 1) * header_.recordLength;
  return file_.ReadAt(off, buf, static_cast<size_t>(count) * header_.recordLength);
}

XbStatus TDbfFile::WriteRecord(uint32_t recno, const uint8_t* buf) {
  if (!Writable()) return XbFail(XbError::ReadOnly);
  if (recno < 1 || recno > header_.recordCount) return XbFail(XbError::NoRecord);
  const uint64_t off = header_.headerLength + static_cast<uint64_t>(recno - 1) * header_.recordLength;
  return file_.WriteAt(off, buf, header_.recordLength);
}

XbStatus TDbfFile::AppendRecords(const uint8_t* buf, uint32_t count) {
  if (!Writable()) return XbFail(XbError::ReadOnly);
  if (count == 0) return {};
  const uint64_t off = header_.headerLength + static_cast<uint64_t>(header_.recordCount) * header_.recordLength;
  const size_t n = static_cast<size_t>(count) * header_.recordLength;
  // Records and the end mark first; the header that counts them after.
  const uint8_t eof = kDbfEofMark;
  if (auto st = file_.WriteAt(off, buf, n, &eof, 1); !st) return st;
  header_.recordCount += count;
  return WriteHeader();
}

XbStatus TDbfFile::AdvanceSerial() {
  if (!Writable()) return XbFail(XbError::ReadOnly);
  ++header_.serial;
  return WriteHeader();
}

XbStatus TDbfFile::TruncateRecords(uint32_t count) {
  if (!Writable()) return XbFail(XbError::ReadOnly);
  if (count > header_.recordCount) return XbFail(XbError::BadArgument);
  header_.recordCount = count;
  ++header_.serial;
  if (auto st = WriteHeader(); !st) return st;
  const uint64_t end = header_.headerLength + static_cast<uint64_t>(count) * header_.recordLength;
  const uint8_t eof = kDbfEofMark;
  if (auto st = file_.WriteAt(end, &eof, 1); !st) return st;
  return file_.Truncate(end + 1);
}

XbStatus TDbfFile::Refresh() {
  uint64_t size = 0;
  if (auto st = file_.Size(size); !st) return st;
  uint8_t first[32];
  if (auto st = file_.ReadAt(0, first, 32); !st) return st;
  const uint32_t count = Get32(first + 4);
  if (header_.headerLength + static_cast<uint64_t>(count) * header_.recordLength > size)
    return XbFail(XbError::DbfTruncated, Path().string());
  header_.recordCount = count;
  header_.serial = Get32(first + 16);
  return {};
}

XbStatus TDbfFile::WriteHeader() {
  StampToday(header_);
  uint8_t first[32];
  const std::string full = XbBuildDbfHeader(header_);
  std::memcpy(first, full.data(), 32);
  return file_.WriteAt(0, first, 32);
}
