#pragma once
// The four files of a template share one base name in the Covers folder:
// name.FCS (editable), name.FCT (rendering), name.bmp (preview) and
// name.DES (description, first line).

#include <filesystem>
#include <string>

struct TTemplatePaths {
  std::filesystem::path Fcs, Fct, Bmp, Des;
};
// The four paths for a template named by any of its files or its base name.
[[nodiscard]] TTemplatePaths TemplatePaths(const std::filesystem::path& anyOfItsFiles);

// "CV" + four digits + ".FCS" with the lowest number from 0001 to 9999 whose
// file is not in folder (in any letter case); empty when all are taken.
[[nodiscard]] std::string NextTemplateName(const std::filesystem::path& folder);

// The first line of a DES file (CR LF or LF ends), at most 4096 characters;
// empty when the file is missing.
[[nodiscard]] std::string ReadDescription(const std::filesystem::path& path);
// Writes the description as the only line, ended by CR LF. Line breaks inside
// the text become spaces so that it stays one line.
[[nodiscard]] bool WriteDescription(const std::filesystem::path& path, const std::string& description);

// A name the designer saves under: 1 to 12 characters ending in ".FCS" (any
// case), the part before it a letter or underscore followed by letters,
// digits or underscores.
[[nodiscard]] bool IsTemplateFileName(const std::string& name);
