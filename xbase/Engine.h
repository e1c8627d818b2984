#pragma once
// The engine: engine-wide settings and numbered work areas, each holding one
// open table under an alias. One work area is current; callers that work on
// several tables select theirs and put the previous one back.
//
// Aliases: the first eight characters of the file name without its
// extension, in upper case, with "~", "-" and blanks turned into "_"; when
// that alias is taken, "_1", "_2", ... is appended until it is free.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/Table.h"

class TXbEngine {
 public:
  TXbSettings& Settings() { return settings_; }
  const TXbSettings& Settings() const { return settings_; }

  // Opens a table in a free work area and makes it current; returns the area
  // number (1-based) in `area`.
  XbStatus Use(const std::filesystem::path& dbf, TXbTable::OpenOptions options, int& area);
  XbStatus Close(int area);
  // Closes every area even when one fails; the first failure is returned.
  XbStatus CloseAll();

  int Current() const { return current_; }
  XbStatus Select(int area);
  // Area of an alias (any letter case), 0 when none.
  int AreaOf(std::string_view alias) const;
  std::string Alias(int area) const;
  TXbTable* Table(int area);
  TXbTable* CurrentTable() { return Table(current_); }

  static std::string BaseAlias(const std::filesystem::path& dbf);

 private:
  struct Area {
    std::string alias;
    std::unique_ptr<TXbTable> table;
  };
  TXbSettings settings_;
  std::vector<Area> areas_;  // index = area - 1
  int current_ = 0;
};
