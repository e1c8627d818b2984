#include "shell/core/IniFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Strip(std::string_view s) {
  const size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view t = Strip(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Strip(t.substr(1, close - 1));
}

// Key and raw value of a "key=value" line; comments and lines without "=" are not keys.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
  const std::string_view t = Strip(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view key = Strip(t.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return std::pair{key, Strip(t.substr(eq + 1))};
}

}  // namespace

bool SameTextNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

TIniFile::TIniFile(std::filesystem::path path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = 0;
  while (pos < all.size()) {
    size_t nl = all.find('\n', pos);
    if (nl == std::string::npos) nl = all.size();
    std::string text = all.substr(pos, nl - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines_.push_back({std::move(text)});
    pos = nl + 1;
  }
}

std::optional<TIniFile::Located> TIniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionName(lines_[i].text);
    if (!name || !SameTextNoCase(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && !SectionName(lines_[end].text)) ++end;
    return Located{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> TIniFile::FindKey(const Located& sec, std::string_view key) const {
  for (size_t i = sec.sectionLine + 1; i < sec.endLine; ++i) {
    const auto kv = KeyValue(lines_[i].text);
    if (kv && SameTextNoCase(kv->first, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> TIniFile::Value(std::string_view section, std::string_view key) const {
  const auto sec = FindSection(section);
  if (!sec) return std::nullopt;
  const auto at = FindKey(*sec, key);
  if (!at) return std::nullopt;
  std::string_view v = KeyValue(lines_[*at].text)->second;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  auto v = Value(section, key);
  return v ? std::move(*v) : std::string(def);
}

std::optional<int32_t> TIniFile::ParseInteger(std::string_view text) {
  std::string_view t = Strip(text);
  if (t.empty()) return std::nullopt;
  int base = 10;
  bool negative = false;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  } else if (t[0] == '-' || t[0] == '+') {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t.empty()) return std::nullopt;
  uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  if (base == 16) {
    // Hexadecimal may spell the full 32-bit pattern (0xFFFFFFFF is -1).
    if (magnitude > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
  }
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  if (magnitude > limit) return std::nullopt;
  const int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return static_cast<int32_t>(v);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  const auto v = Value(section, key);
  if (!v) return def;
  return ParseInteger(*v).value_or(def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section).has_value(); }

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  const auto sec = FindSection(section);
  if (!sec) return keys;
  for (size_t i = sec->sectionLine + 1; i < sec->endLine; ++i)
    if (const auto kv = KeyValue(lines_[i].text)) keys.emplace_back(kv->first);
  return keys;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // A value cannot hold a line end; cut it there rather than corrupt the file.
  value = value.substr(0, value.find_first_of("\r\n"));
  std::string line = std::string(key) + "=" + std::string(value);
  auto sec = FindSection(section);
  if (!sec) {
    if (!lines_.empty() && !Strip(lines_.back().text).empty()) lines_.push_back({""});
    lines_.push_back({"[" + std::string(section) + "]"});
    lines_.push_back({std::move(line)});
    return;
  }
  if (const auto at = FindKey(*sec, key)) {
    // Keep the spelling of the key the file already has.
    const std::string existing(KeyValue(lines_[*at].text)->first);
    lines_[*at].text = existing + "=" + std::string(value);
    return;
  }
  // After the section's last non-blank line, so blank separators stay below.
  size_t insert = sec->endLine;
  while (insert > sec->sectionLine + 1 && Strip(lines_[insert - 1].text).empty()) --insert;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), {std::move(line)});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
  while (const auto sec = FindSection(section))
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(sec->sectionLine),
                 lines_.begin() + static_cast<std::ptrdiff_t>(sec->endLine));
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  const auto sec = FindSection(section);
  if (!sec) return;
  if (const auto at = FindKey(*sec, key)) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
}

bool TIniFile::UpdateFile() const {
  std::string all;
  for (const Line& l : lines_) {
    all += l.text;
    all += "\r\n";
  }
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
  std::string tmpl = (folder / (path_.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < all.size()) {
    const ssize_t n = ::write(fd, all.data() + done, all.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  // mkstemp makes the file private; a settings file is ordinary user data.
  ::fchmod(fd, 0644);
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(tmpl.c_str(), path_.c_str()) == 0;
  if (!ok) ::unlink(tmpl.c_str());
  return ok;
}
