#pragma once
// Column layout files of a fax list: KIND.gco holds the table's field names
// in column order (one per line, the derived file-name column left out) and
// KIND.gcs the pixel width of every grid column including the row indicator.

#include <map>
#include <optional>
#include <string>
#include <vector>

struct TGridLayout {
  // Field name (upper case) -> column position, from the .gco lines that name
  // a field of the table; line i gives position i.
  std::map<std::string, int> positions;
  // Grid column i -> width, from the .gcs lines that are numbers.
  std::map<int, int> widths;
};

// Writes both files, replacing earlier ones. False when either cannot be written.
bool SaveGridOrders(const std::string& folder, const std::string& kind, const std::vector<std::string>& fieldOrder,
                    const std::vector<int>& columnWidths);

// Reads what exists of the two files; lines naming no field of tableFields
// and lines that are not numbers are skipped.
TGridLayout LoadGridOrders(const std::string& folder, const std::string& kind,
                           const std::vector<std::string>& tableFields);

// The derived column that the .gco file never names.
inline constexpr const char* kDerivedFileColumn = "CALCFAXFILE";
