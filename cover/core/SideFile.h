#pragma once
// The side file kept next to every cover sheet image: the same name with the
// extension ".FCD", lines ended by CR LF:
//   1. the template's file name, without folder;
//   2. five characters, one per importance flag (Urgent, For Review, Please
//      Comment, Please Reply, Please Recycle): "X" when set, a blank when not;
//   3. and on: the message, line by line.
// Texts are bytes in the tables' code page (Windows-1252).

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cover/core/CoverObjects.h"

inline constexpr char kDefaultCoverTemplate[] = "cv0001.fct";

struct TCoverSideFile {
  std::string Template = kDefaultCoverTemplate;
  // The flags line as found; only a line of exactly five characters sets flags.
  std::string FlagText;
  std::vector<std::string> MessageLines;

  // The flags the line stands for: all clear unless it is five characters long.
  [[nodiscard]] std::array<bool, kImportanceBoxes> Flags() const;
  void SetFlags(const std::array<bool, kImportanceBoxes>& flags);
};

// Reads the lines of a side file. The template line is reduced to its file
// name part (a name with folders in it cannot lead outside the covers
// folder); an empty one keeps the default template.
[[nodiscard]] TCoverSideFile ParseCoverSideFile(std::string_view bytes);
[[nodiscard]] std::string FormatCoverSideFile(const TCoverSideFile& side);

// The side file's path: the image's path with the extension ".FCD".
[[nodiscard]] std::filesystem::path SideFilePath(const std::filesystem::path& coverImage);
// nullopt when the file is missing or cannot be read. Files past 4 MB are
// read up to that size.
[[nodiscard]] std::optional<TCoverSideFile> ReadCoverSideFile(const std::filesystem::path& path);
// Writes the whole file; false (and no partial file) when it cannot.
[[nodiscard]] bool WriteCoverSideFile(const std::filesystem::path& path, const TCoverSideFile& side);
