#include "modemsetup/SerialDevices.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "faxengine/port/ComDevice.h"
#include "shell/core/IniFile.h"

namespace fs = std::filesystem;

namespace {
std::mutex folderMutex;
fs::path folderOverride;

std::string Canonical(const fs::path& p) {
  std::error_code ec;
  const fs::path c = fs::canonical(p, ec);
  return ec ? p.string() : c.string();
}
}  // namespace

void SetSerialDeviceFolder(const fs::path& folder) {
  std::lock_guard lock(folderMutex);
  folderOverride = folder;
}

fs::path SerialDeviceFolder() {
  std::lock_guard lock(folderMutex);
  return folderOverride.empty() ? fs::path("/dev") : folderOverride;
}

std::vector<TUsbSerialDevice> UsbSerialDevices() {
  const fs::path folder = SerialDeviceFolder();
  std::vector<TUsbSerialDevice> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string file = entry.path().filename().string();
    if (file.rfind("ttyACM", 0) == 0 || file.rfind("ttyUSB", 0) == 0)
      found.push_back({entry.path().string(), entry.path().string()});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.device < b.device; });
  // The stable names point at the devices.
  for (const auto& link : fs::directory_iterator(folder / "serial" / "by-id", ec)) {
    const std::string target = Canonical(link.path());
    for (TUsbSerialDevice& d : found)
      if (Canonical(d.device) == target) d.name = link.path().string();
  }
  return found;
}

int ComNumberOfDevice(const fs::path& iniFile, const std::string& device, int highest) {
  const std::string wanted = Canonical(device);
  for (int n = 1; n <= highest; ++n)
    if (Canonical(ComDeviceName(n, iniFile)) == wanted) return n;
  return 0;
}

int FreeComNumber(const fs::path& iniFile, int highest) {
  const TIniFile ini(iniFile);
  for (int n = 1; n <= highest; ++n)
    if (!ini.Value("Ports", "COM" + std::to_string(n))) return n;
  return 0;
}

bool MapComPort(const fs::path& iniFile, int n, const std::string& device) {
  TIniFile ini(iniFile);
  ini.WriteString("Ports", "COM" + std::to_string(n), device);
  return ini.UpdateFile();
}

std::optional<std::string> DeviceAccessAdvice(const std::string& device) {
  const std::string path = Canonical(device);
  if (::access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return std::nullopt;
  struct stat st {};
  std::string group = "dialout";
  if (::stat(path.c_str(), &st) == 0)
    if (const struct group* g = ::getgrgid(st.st_gid); g && g->gr_name && *g->gr_name && st.st_gid != 0)
      group = g->gr_name;
  std::string user = "$USER";
  if (const struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) user = pw->pw_name;
  return "You are not allowed to open " + device + ". Serial devices belong to the group \"" + group +
         "\": add your user to it with \"sudo adduser " + user + " " + group +
         "\", then log out and log in again.";
}
