#pragma once
// The editable form of a template (name.FCS): a list of component records,
// each "TPF0", class name, object name, the properties that differ from the
// class's defaults (name + one typed value), end of properties, no children.
// Enumerations are stored as their numbers, colours as 0xRRGGBB integers and
// font styles as three Booleans.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cover/core/CoverObjects.h"

[[nodiscard]] std::string WriteFcs(const std::vector<TCoverObject>& objects);

struct TFcsReadResult {
  std::vector<TCoverObject> Objects;  // the components read before any damage
  std::string Error;                  // empty when the whole stream was read
  bool Ok() const { return Error.empty(); }
};

[[nodiscard]] TFcsReadResult ReadFcs(std::string_view bytes);
[[nodiscard]] TFcsReadResult ReadFcsFile(const std::filesystem::path& path);
[[nodiscard]] bool WriteFcsFile(const std::filesystem::path& path, const std::vector<TCoverObject>& objects);

// The message shown when a template cannot be opened in the designer.
[[nodiscard]] std::string UnableToOpenMessage(const std::string& fileName);
