#include "cover/core/TemplateFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "shell/core/Folders.h"

TTemplatePaths TemplatePaths(const std::filesystem::path& anyOfItsFiles) {
  std::filesystem::path base = anyOfItsFiles;
  base.replace_extension();
  auto with = [&](const char* ext) {
    auto p = base;
    p += ext;
    return p;
  };
  return {with(".FCS"), with(".FCT"), with(".bmp"), with(".DES")};
}

std::string NextTemplateName(const std::filesystem::path& folder) {
  for (int n = 1; n <= 9999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "CV%04d.FCS", n);
    if (!FindNoCase(folder, name)) return name;
  }
  return {};
}

std::string ReadDescription(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  std::string line;
  char c = 0;
  while (line.size() < 4096 && f.get(c) && c != '\n') line.push_back(c);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool WriteDescription(const std::filesystem::path& path, const std::string& description) {
  std::string line = description;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f << line << "\r\n";
  f.close();
  return static_cast<bool>(f);
}

bool IsTemplateFileName(const std::string& name) {
  constexpr size_t kMaxLength = 12;
  if (name.size() < 5 || name.size() > kMaxLength) return false;
  const std::string ext = name.substr(name.size() - 4);
  if (ext.size() != 4 || ext[0] != '.' || std::toupper(static_cast<unsigned char>(ext[1])) != 'F' ||
      std::toupper(static_cast<unsigned char>(ext[2])) != 'C' || std::toupper(static_cast<unsigned char>(ext[3])) != 'S')
    return false;
  const std::string stem = name.substr(0, name.size() - 4);
  auto ascii = [](char c, bool digitOk) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (digitOk && c >= '0' && c <= '9');
  };
  if (!ascii(stem[0], false)) return false;
  return std::all_of(stem.begin() + 1, stem.end(), [&](char c) { return ascii(c, true); });
}
