#include "mainscreen/GridLayout.h"

#include <algorithm>
#include <fstream>

#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Text.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool WriteLines(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (const std::string& l : lines) out << l << "\r\n";
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

bool SaveGridOrders(const std::string& folder, const std::string& kind, const std::vector<std::string>& fieldOrder,
                    const std::vector<int>& columnWidths) {
  std::vector<std::string> names;
  for (const std::string& f : fieldOrder)
    if (Upper(f) != kDerivedFileColumn) names.push_back(f);
  std::vector<std::string> widths;
  for (int w : columnWidths) widths.push_back(std::to_string(w));
  const bool a = WriteLines(ResolveNoCase(folder, kind + ".gco"), names);
  const bool b = WriteLines(ResolveNoCase(folder, kind + ".gcs"), widths);
  return a && b;
}

TGridLayout LoadGridOrders(const std::string& folder, const std::string& kind,
                           const std::vector<std::string>& tableFields) {
  TGridLayout layout;
  if (const auto gco = FindNoCase(folder, kind + ".gco")) {
    const std::vector<std::string> lines = ReadLines(*gco);
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string name = Upper(TrimBoth(lines[i]));
      const bool known = std::any_of(tableFields.begin(), tableFields.end(),
                                     [&](const std::string& f) { return Upper(f) == name; });
      if (known && !layout.positions.contains(name)) layout.positions[name] = static_cast<int>(i);
    }
  }
  if (const auto gcs = FindNoCase(folder, kind + ".gcs")) {
    const std::vector<std::string> lines = ReadLines(*gcs);
    for (size_t i = 0; i < lines.size(); ++i) {
      const auto width = TIniFile::ParseInteger(TrimBoth(lines[i]));
      // A width outside what a screen can show is a damaged line, not a layout.
      if (width && *width >= 0 && *width <= 10000) layout.widths[static_cast<int>(i)] = *width;
    }
  }
  return layout;
}
