#pragma once
// The designer's list of recently used templates, most recent first, kept in
// the settings file as keys "F0", "F1", ... of the section "CDMRU".

#include <string>
#include <vector>

class TIniFile;

class TRecentTemplates {
 public:
  static constexpr size_t kMaxEntries = 5;

  const std::vector<std::string>& Entries() const { return entries_; }
  // Puts the file at the top: an entry already there (same path, any letter
  // case) moves up instead of appearing twice; the oldest beyond five go.
  void Use(const std::string& file);

  void Read(const TIniFile& ini);
  // Replaces the section with the list; the caller stores the file.
  void Write(TIniFile& ini) const;

 private:
  std::vector<std::string> entries_;
};
