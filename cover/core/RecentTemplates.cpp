#include "cover/core/RecentTemplates.h"

#include <algorithm>

#include "shell/core/IniFile.h"

namespace {
constexpr const char* kSection = "CDMRU";
}

void TRecentTemplates::Use(const std::string& file) {
  if (file.empty()) return;
  std::erase_if(entries_, [&](const std::string& e) { return SameTextNoCase(e, file); });
  entries_.insert(entries_.begin(), file);
  if (entries_.size() > kMaxEntries) entries_.resize(kMaxEntries);
}

void TRecentTemplates::Read(const TIniFile& ini) {
  entries_.clear();
  // Read oldest first so that Use keeps the stored order and drops doubles.
  std::vector<std::string> stored;
  for (size_t i = 0; i < kMaxEntries; ++i) {
    const std::string value = ini.ReadString(kSection, "F" + std::to_string(i), "");
    if (!value.empty()) stored.push_back(value);
  }
  for (auto it = stored.rbegin(); it != stored.rend(); ++it) Use(*it);
}

void TRecentTemplates::Write(TIniFile& ini) const {
  ini.EraseSection(kSection);
  for (size_t i = 0; i < entries_.size(); ++i) ini.WriteString(kSection, "F" + std::to_string(i), entries_[i]);
}
