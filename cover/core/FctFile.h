#pragma once
// The rendering form of a template (name.FCT): one fixed record per object,
// back to front, in fax-page units of 196 per inch, nothing before or after
// the records. Reading stops at the first record that cannot be read; the
// complete records before it are kept.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cover/core/CoverObjects.h"

inline constexpr int kFaxUnitsPerInch = 196;

struct TFctRecord {
  int Kind = 0;  // TCoverObjectKind as a number; other numbers are read but not drawn
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  std::string Text;      // caption of text and symbol objects, else empty
  std::string FontName;  // empty for shapes and lines
  int FontSize = -1;     // points x 2; -1 for shapes and lines
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  // By kind: shape 0 Shape, 1 fill, 2 pen x 2, 4 rounding percent; line
  // 2 pen x 2, 3 style; field 5 field type; -1 where unused.
  std::array<int, 6> Ints{-1, -1, -1, -1, -1, -1};

  bool operator==(const TFctRecord&) const = default;
};

// A surface value in fax-page units: value / pixelsPerInch x 196, the
// fraction cut off.
[[nodiscard]] int ToFaxUnits(int value, int pixelsPerInch);
// The record of one object placed on a surface of pixelsPerInch.
[[nodiscard]] TFctRecord MakeFctRecord(const TCoverObject& object, int pixelsPerInch = 96);

void WriteFctRecord(std::string& out, const TFctRecord& record);
[[nodiscard]] std::string WriteFct(const std::vector<TFctRecord>& records);

struct TFctReadResult {
  std::vector<TFctRecord> Records;  // every complete record before any damage
  bool Missing = false;             // the file does not exist
  std::string Error;                // empty when the data ended cleanly after a record
};

// Positions, sizes, font sizes and pen widths are divided by divisor
// (integer division; anything below 1 counts as 1).
[[nodiscard]] TFctReadResult ReadFct(std::string_view bytes, int divisor = 1);
// Files longer than kMaxTemplateFileSize are read only up to that size.
[[nodiscard]] TFctReadResult ReadFctFile(const std::filesystem::path& path, int divisor = 1);
[[nodiscard]] bool WriteFctFile(const std::filesystem::path& path, const std::vector<TFctRecord>& records);

// Templates are small; no template file is read past this many bytes.
inline constexpr uintmax_t kMaxTemplateFileSize = 16u << 20;
// Reads at most kMaxTemplateFileSize bytes; false when the file cannot be opened.
[[nodiscard]] bool ReadTemplateBytes(const std::filesystem::path& path, std::string& bytes);
[[nodiscard]] bool WriteTemplateBytes(const std::filesystem::path& path, std::string_view bytes);
