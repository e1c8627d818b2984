// Table files from anywhere: the header parser, then (when it accepts the
// bytes) the whole read path of a table opened read-only: navigation, field
// values, a filter.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "xbase/Table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TDbfHeader h;
  if (!XbParseDbfHeader(data, size, size, h)) return 0;
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("fuzz-dbf-" + std::to_string(::getpid()) + ".dbf")).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  TXbSettings settings;
  settings.deleted = (size & 1) != 0;
  TXbTable t;
  if (t.Open(path, {XbOpenMode::Exclusive, XbAccess::ReadOnly}, &settings)) {
    // Only crashes and hangs count here: every call may fail on these bytes,
    // and the walk goes on to reach the code after a failure too.
    const auto drive = [](const XbStatus&) {};
    if (!t.Fields().empty()) {
      const std::string first = t.Fields()[0].name;
      drive(t.SetFilter("!EMPTY(" + first + ") .or. DELETED()"));
    }
    int steps = 0;
    for (drive(t.GoTop()); !t.Eof() && steps < 10000; drive(t.Skip(1)), ++steps) {
      TXbValue v;
      for (size_t i = 0; i < t.Fields().size(); ++i) drive(t.GetValue(static_cast<int>(i), v));
    }
    uint32_t n = 0;
    drive(t.VisibleCount(n));
    drive(t.GoBottom());
    drive(t.Skip(-3));
    drive(t.Close());
  }
  std::remove(path.c_str());
  return 0;
}
