#pragma once
// The engine's text tables in the "STR0" layout (little-endian): 4 bytes
// "STR0", a 32-bit entry count, per entry three 32-bit values (identifier,
// byte offset of the text from the start of the table, length in characters)
// sorted by identifier, then the texts in UTF-16. Two tables are compiled in:
// the error texts (by absolute error code) and the fax progress texts.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class EFxStringResourceError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads one STR0 table. Every offset and length is checked against the table
// before use; a malformed table behaves as an empty one (or, in strict mode,
// raises "Cannot lock resource").
class TFxStringResource {
 public:
  TFxStringResource(std::span<const uint8_t> table, bool strict = false);

  // The text of id (UTF-16 turned into Windows-1252, other characters '?'),
  // at most maxChars characters; empty when missing (strict: raises
  // "String not found: %d").
  std::string GetString(uint32_t id, size_t maxChars = SIZE_MAX) const;
  bool Has(uint32_t id) const;
  uint32_t Count() const { return valid_ ? count_ : 0; }

 private:
  // Index of id's entry, or -1.
  long Find(uint32_t id) const;
  uint32_t U32(size_t at) const;

  std::span<const uint8_t> table_;
  bool strict_;
  bool valid_ = false;
  uint32_t count_ = 0;
};

struct TFxStringEntry {
  uint32_t id;
  const char* text;
};

// Builds a STR0 table from (id, ASCII text) pairs; ids are sorted.
std::vector<uint8_t> FxBuildStringTable(std::vector<TFxStringEntry> entries);

// The two built-in tables.
std::span<const uint8_t> FxErrorStringTable();
std::span<const uint8_t> FxFaxStringTable();

// Text of an engine error code: entry |code| of the error table, else the
// operating system's message for |code| with control characters turned into
// spaces.
std::string FxErrorText(int code);
// True when the error table has an entry for code.
bool FxHasErrorText(int code);
// Text of a progress code (entries 1 to 43 of the fax table), else empty.
std::string FxProgressText(int code);
