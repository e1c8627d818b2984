#include "shell/core/Folders.h"

#include "shell/core/Text.h"

#include <cstdlib>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::mutex gFolderLock;
std::string gProgramFolder;
bool gWritable = false;

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Creates the folder when missing and tells whether files can be made in it.
bool UsableFolder(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return WithSlash(exe.parent_path().string());
}

void Choose() {
  std::vector<std::string> candidates;
  if (const char* home = std::getenv("CORVANE_HOME"); home != nullptr && *home != '\0')
    candidates.push_back(WithSlash(home));
  // An installed program (in /usr/bin, ~/.local/bin ...) shares its folder
  // with every other program; its users' files belong in their homes.
  if (std::string exe = ExecutableFolder(); !exe.empty() && !exe.ends_with("/bin/")) candidates.push_back(exe);
  if (const char* user = std::getenv("HOME"); user != nullptr && *user != '\0')
    candidates.push_back(WithSlash(std::string(user) + "/.local/share/corvane"));
  for (const std::string& c : candidates) {
    if (UsableFolder(c)) {
      gProgramFolder = c;
      gWritable = true;
      return;
    }
  }
  // Nothing writable: keep the first choice so the caller can name it.
  gProgramFolder = candidates.empty() ? std::string("./") : candidates.front();
  gWritable = false;
}

}  // namespace

std::string ProgramFolder() {
  std::lock_guard lock(gFolderLock);
  if (gProgramFolder.empty()) Choose();
  return gProgramFolder;
}

void SetProgramFolder(const std::string& folder) {
  std::lock_guard lock(gFolderLock);
  gProgramFolder = WithSlash(folder);
  gWritable = UsableFolder(gProgramFolder);
}

bool ProgramFolderWritable() {
  ProgramFolder();
  std::lock_guard lock(gFolderLock);
  return gWritable;
}

std::string PrinterDriverConfigFolderIn(const std::string& home) { return WithSlash(home) + ".config/corvane/"; }

std::string IniFileName() { return ProgramFolder() + "CV.INI"; }
std::string SendFolder() { return WithSlash(ResolveNoCase(ProgramFolder(), "SEND").string()); }
std::string ReceiveFolder() { return WithSlash(ResolveNoCase(ProgramFolder(), "Receive").string()); }
std::string CoversFolder() { return WithSlash(ResolveNoCase(ProgramFolder(), "Covers").string()); }

void MakeFolders() {
  for (const std::string& folder : {SendFolder(), ReceiveFolder()}) {
    // Very short paths ("/", "C:") are never created.
    if (folder.size() <= 2) continue;
    std::error_code ec;
    fs::create_directories(folder, ec);
  }
}

std::optional<fs::path> FindNoCase(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(folder / name, ec)) return folder / name;
  const std::string wanted = LowerAscii(name);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (LowerAscii(it->path().filename().string()) == wanted) return it->path();
  }
  return std::nullopt;
}

fs::path ResolveNoCase(const fs::path& folder, const std::string& name) {
  if (auto found = FindNoCase(folder, name)) return *found;
  return folder / name;
}
