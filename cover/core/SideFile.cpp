#include "cover/core/SideFile.h"

#include <fstream>
#include <system_error>

namespace {

constexpr std::size_t kMaxSideFileBytes = 4u << 20;

// Splits at CR LF; a lone LF ends a line too (files edited elsewhere). A
// final line without an end counts; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t lf = bytes.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
    std::size_t textEnd = end;
    if (lf != std::string_view::npos && textEnd > start && bytes[textEnd - 1] == '\r') --textEnd;
    lines.emplace_back(bytes.substr(start, textEnd - start));
    start = lf == std::string_view::npos ? bytes.size() : end + 1;
  }
  return lines;
}

std::string FileNamePart(const std::string& name) {
  const std::size_t cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

}  // namespace

std::array<bool, kImportanceBoxes> TCoverSideFile::Flags() const {
  std::array<bool, kImportanceBoxes> flags{};
  if (FlagText.size() != kImportanceBoxes) return flags;
  for (std::size_t i = 0; i < flags.size(); ++i) flags[i] = FlagText[i] == 'X';
  return flags;
}

void TCoverSideFile::SetFlags(const std::array<bool, kImportanceBoxes>& flags) {
  FlagText.clear();
  for (bool f : flags) FlagText += f ? 'X' : ' ';
}

TCoverSideFile ParseCoverSideFile(std::string_view bytes) {
  TCoverSideFile side;
  std::vector<std::string> lines = SplitLines(bytes);
  if (!lines.empty()) {
    const std::string name = FileNamePart(lines[0]);
    if (!name.empty()) side.Template = name;
  }
  if (lines.size() > 1) side.FlagText = lines[1];
  if (lines.size() > 2) side.MessageLines.assign(std::make_move_iterator(lines.begin() + 2),
                                                 std::make_move_iterator(lines.end()));
  return side;
}

std::string FormatCoverSideFile(const TCoverSideFile& side) {
  std::string out = side.Template + "\r\n" + side.FlagText + "\r\n";
  for (const std::string& line : side.MessageLines) out += line + "\r\n";
  return out;
}

std::filesystem::path SideFilePath(const std::filesystem::path& coverImage) {
  std::filesystem::path p = coverImage;
  p.replace_extension(".FCD");
  return p;
}

std::optional<TCoverSideFile> ReadCoverSideFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(kMaxSideFileBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return ParseCoverSideFile(bytes);
}

bool WriteCoverSideFile(const std::filesystem::path& path, const TCoverSideFile& side) {
  const std::string bytes = FormatCoverSideFile(side);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out && out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) && out.flush()) return true;
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return false;
}
