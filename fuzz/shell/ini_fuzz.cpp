// Any bytes as CV.INI: reading must give values or defaults, writing back must
// keep the file readable with the written keys intact.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "shell/core/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("ini-fuzz-" + std::to_string(::getpid()) + ".ini");
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TIniFile ini(file);
  (void)ini.ReadInteger("Modem", "ComPort", -1);
  (void)ini.ReadBool("Hints", "On", true);
  for (const std::string& key : ini.ReadSection("User")) (void)ini.ReadString("User", key, "");
  ini.WriteString("User", "Name", "fuzz");
  ini.WriteInteger("Modem", "ComPort", 7);
  if (!ini.UpdateFile()) std::abort();
  TIniFile again(file);
  if (again.ReadString("User", "Name", "") != "fuzz" || again.ReadInteger("Modem", "ComPort", 0) != 7) std::abort();
  return 0;
}
