#include "faxengine/text/FxStrings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kHeaderBytes = 8;
constexpr size_t kEntryBytes = 12;

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Error texts by absolute code.
const std::vector<TFxStringEntry> kErrorTexts = {
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {8, "Insufficient memory"},
    {100, "Disk read error"},
    {101, "Disk write error"},
    {160, "Device write error"},
    {161, "Device read error"},
    {1002, "Bad argument passed to function"},
    {1003, "Got quit message"},
    {1005, "ComPort component not assigned"},
    {1006, "Internal error creating window class"},
    {1009, "Component not compatible with WinSock"},
    {2001, "Bad port number"},
    {2005, "Port is in use"},
    {2008, "Port already open"},
    {2011, "No port selected"},
    {2012, "Port not opened by TAPI"},
    {3006, "Output buffer too small for block"},
    {5001, "No more trigger slots"},
    {5003, "Bad trigger handle"},
    {6005, "Cancel requested"},
    {6006, "Fatal time out"},
    {6010, "No filename specified in protocol receive"},
    {6011, "File was rejected"},
    {8001, "File is not an APF file"},
    {8003, "User aborted fax conversion"},
    {8005, "CreateBitmapIndirect API failure"},
    {8052, "CVFAX.FNT not found, or resource bad"},
    {8054, "BMP size exceeds Windows' maxheight of 32767"},
    {8055, "Font selected for enhanced text converter too large"},
    {8060, "Fax incompatible with remote fax"},
    {8061, "Bad response from modem"},
    {8062, "Modems failed to train"},
    {8063, "Error while initializing modem"},
    {8064, "Called fax number was busy"},
    {8065, "Called fax number answered with voice"},
    {8066, "Incoming data call"},
    {8067, "No dial tone"},
    {8068, "Failed to connect to remote fax"},
    {8069, "Fax failed in mid-session"},
    {8070, "Fax failed at page end"},
    {8074, "Remote fax did not answer"},
};

const std::vector<TFxStringEntry> kFaxTexts = {
    {1, "Initializing modem for fax processing"},
    {2, "Dialing"},
    {3, "Busy, waiting until redial..."},
    {4, "Sending page data"},
    {5, "Sending EOP"},
    {6, "Error sending page"},
    {7, "Page accepted by remote"},
    {8, "Connecting..."},
    {20, "Waiting for incoming call"},
    {21, "No connect on this call"},
    {22, "Answering incoming call"},
    {23, "Incoming call validated as fax"},
    {24, "Getting page data"},
    {25, "Getting end-of-page signal"},
    {26, "Getting end-of-document status"},
    {27, "Getting hangup command"},
    {28, "Got Class 2 FHNG code"},
    {40, "Getting connection params"},
    {41, "Got called-station ID"},
    {42, "User abort"},
    {43, "Finished"},
};

}  // namespace

std::vector<uint8_t> FxBuildStringTable(std::vector<TFxStringEntry> entries) {
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
  size_t textStart = kHeaderBytes + entries.size() * kEntryBytes;
  size_t total = textStart;
  for (const auto& e : entries) total += std::strlen(e.text) * 2;
  std::vector<uint8_t> out(total, 0);
  std::memcpy(out.data(), "STR0", 4);
  Put32(out, 4, static_cast<uint32_t>(entries.size()));
  size_t at = textStart;
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t len = std::strlen(entries[i].text);
    const size_t e = kHeaderBytes + i * kEntryBytes;
    Put32(out, e, entries[i].id);
    Put32(out, e + 4, static_cast<uint32_t>(at));
    Put32(out, e + 8, static_cast<uint32_t>(len));
    for (size_t k = 0; k < len; ++k) {
      out[at++] = static_cast<uint8_t>(entries[i].text[k]);
      out[at++] = 0;
    }
  }
  return out;
}

std::span<const uint8_t> FxErrorStringTable() {
  static const std::vector<uint8_t> table = FxBuildStringTable(kErrorTexts);
  return table;
}

std::span<const uint8_t> FxFaxStringTable() {
  static const std::vector<uint8_t> table = FxBuildStringTable(kFaxTexts);
  return table;
}

TFxStringResource::TFxStringResource(std::span<const uint8_t> table, bool strict) : table_(table), strict_(strict) {
  if (table_.size() >= kHeaderBytes && std::memcmp(table_.data(), "STR0", 4) == 0) {
    count_ = U32(4);
    valid_ = count_ <= (table_.size() - kHeaderBytes) / kEntryBytes;
  }
  if (!valid_ && strict_) throw EFxStringResourceError("Cannot lock resource");
}

uint32_t TFxStringResource::U32(size_t at) const {
  return static_cast<uint32_t>(table_[at]) | static_cast<uint32_t>(table_[at + 1]) << 8 |
         static_cast<uint32_t>(table_[at + 2]) << 16 | static_cast<uint32_t>(table_[at + 3]) << 24;
}

long TFxStringResource::Find(uint32_t id) const {
  if (!valid_) return -1;
  size_t lo = 0, hi = count_;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const uint32_t v = U32(kHeaderBytes + mid * kEntryBytes);
    if (v == id) return static_cast<long>(mid);
    if (v < id)
      lo = mid + 1;
    else
      hi = mid;
  }
  return -1;
}

bool TFxStringResource::Has(uint32_t id) const { return Find(id) >= 0; }

std::string TFxStringResource::GetString(uint32_t id, size_t maxChars) const {
  const long i = Find(id);
  if (i < 0) {
    if (strict_) throw EFxStringResourceError("String not found: " + std::to_string(id));
    return {};
  }
  const size_t e = kHeaderBytes + static_cast<size_t>(i) * kEntryBytes;
  const uint64_t offset = U32(e + 4);
  const uint64_t length = U32(e + 8);
  if (offset > table_.size() || length > (table_.size() - offset) / 2) {
    if (strict_) throw EFxStringResourceError("Cannot lock resource");
    return {};
  }
  std::string out;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(length, maxChars));
  out.reserve(n);
  for (size_t k = 0; k < n; ++k) {
    const unsigned c = table_[offset + 2 * k] | static_cast<unsigned>(table_[offset + 2 * k + 1]) << 8;
    out += c < 256 ? static_cast<char>(c) : '?';
  }
  return out;
}

bool FxHasErrorText(int code) {
  static const TFxStringResource table(FxErrorStringTable());
  return table.Has(static_cast<uint32_t>(code < 0 ? -static_cast<long>(code) : code));
}

std::string FxErrorText(int code) {
  static const TFxStringResource table(FxErrorStringTable());
  const long a = code < 0 ? -static_cast<long>(code) : code;
  if (table.Has(static_cast<uint32_t>(a))) return table.GetString(static_cast<uint32_t>(a), 255);
  std::string text = a <= 0x7fffffff ? std::strerror(static_cast<int>(a)) : "Unknown error";
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return text;
}

std::string FxProgressText(int code) {
  static const TFxStringResource table(FxFaxStringTable());
  if (code < 1 || code > 43) return {};
  return table.GetString(static_cast<uint32_t>(code), 255);
}
