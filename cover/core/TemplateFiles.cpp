#include "cover/core/TemplateFiles.h"

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
