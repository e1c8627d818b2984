#pragma once
// Windows-style initialisation files (CV.INI, CVPD.INI) with the private-profile
// rules: section and key names compare without regard to letter case, blanks
// around "=" and around values are ignored, a missing file, section or key
// yields the caller's default, and every line the program does not touch
// (other sections, other keys, comments, garbage) is written back unchanged.
//
// Files are read as bytes: values that are not valid UTF-8 pass through as
// they are. Lines may end in CR LF or LF; the file is written with CR LF.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIniFile {
 public:
  // Loads the file; a missing or unreadable file reads as empty.
  explicit TIniFile(std::filesystem::path path);

  const std::filesystem::path& FileName() const { return path_; }

  // Raw value of a key, without surrounding blanks and with one pair of
  // matching surrounding quotes removed; nullopt when the key is absent.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // Decimal, or hexadecimal when longer than two characters and starting with
  // "0x"/"0X"; anything else (including numbers outside 32 bits) is the default.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // Any non-zero integer is true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  bool SectionExists(std::string_view section) const;
  // Key names of a section in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // Changes are made in memory; UpdateFile stores them. A new key goes to the
  // end of its section, a new section to the end of the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);

  // Writes the whole file to a temporary file in the same folder and renames
  // it over the old one, so a crash never leaves half a file. Returns false
  // (and leaves the old file as it was) when the folder cannot be written.
  bool UpdateFile() const;

  // Parses an integer by the rules of ReadInteger.
  static std::optional<int32_t> ParseInteger(std::string_view text);

 private:
  struct Line {
    std::string text;  // the line as read, without its line end
  };
  struct Located {
    size_t sectionLine;  // index of the "[...]" line
    size_t endLine;      // one past the last line of the section
  };

  std::optional<Located> FindSection(std::string_view section) const;
  std::optional<size_t> FindKey(const Located& sec, std::string_view key) const;

  std::filesystem::path path_;
  std::vector<Line> lines_;
};

// True when the two texts are equal apart from ASCII letter case.
bool SameTextNoCase(std::string_view a, std::string_view b);
