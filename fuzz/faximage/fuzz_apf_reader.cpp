// The APF reader and unpacker on hostile files: page counts, page chains
// pointing backwards or past the end, absurd image and record lengths. Every
// page of the file is unpacked into a bitmap and exported, and the whole
// file is exported as TIFF and PDF; any outcome but
// a crash, a hang or unbounded memory is fine.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "faximage/Apf.h"
#include "faximage/FaxExport.h"
#include "faximage/FaxUnpacker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A scratch folder for the input and the exports, removed at exit.
  struct Scratch {
    std::string dir;
    Scratch() {
      auto d = std::filesystem::temp_directory_path() / ("cvfx_fuzz_" + std::to_string(::getpid()));
      std::filesystem::create_directories(d);
      dir = d.string();
    }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  };
  static const Scratch scratch;
  const std::string& dir = scratch.dir;
  const std::string path = dir + "/in.apf";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  TFxFaxUnpacker u;
  u.SetInFileName(path);
  u.SetOutFileName(dir + "/out");
  TFxApfReader r;
  if (r.Open(path) == 0) {
    // Walk at most a few pages (a header may claim 65535).
    const unsigned pages = r.PageCount() < 4 ? r.PageCount() : 4;
    for (unsigned p = 1; p <= pages + 1; ++p) {
      TFxBitmap b;
      u.AutoScaleMode = static_cast<TAutoScaleMode>(p % 3);
      u.WhitespaceCompression = (p & 1) != 0;
      u.WhitespaceFrom = 3;
      u.WhitespaceTo = 1;
      if (u.TryPageToBitmap(p, b) == 0 && p == 1) u.TryPageToFile(p, "PCX");
    }
    if (r.PageCount() <= 8) {
      FxExportResult result;
      (void)FxExportTiff(path, dir + "/out.tif", result);
      (void)FxExportPdf(path, dir + "/out.pdf", result);
    }
  }
  (void)IsApfFile(path);
  return 0;
}
