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
    if (!t.Fields().empty()) {
      const std::string first = t.Fields()[0].name;
      t.SetFilter("!EMPTY(" + first + ") .or. DELETED()");
    }
    int steps = 0;
    for (t.GoTop(); !t.Eof() && steps < 10000; t.Skip(1), ++steps) {
      TXbValue v;
      for (size_t i = 0; i < t.Fields().size(); ++i) t.GetValue(static_cast<int>(i), v);
    }
    uint32_t n = 0;
    t.VisibleCount(n);
    t.GoBottom();
    t.Skip(-3);
    t.Close();
  }
  std::remove(path.c_str());
  return 0;
}
