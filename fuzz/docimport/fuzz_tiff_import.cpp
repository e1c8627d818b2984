// The TIFF import on hostile files: directory chains, absurd sizes, strips
// and tiles that point anywhere, coded data that matches no code. Any
// outcome but a crash, a hang or unbounded memory is fine, and a failed
// import must leave no file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "docimport/DocImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  struct Scratch {
    std::filesystem::path dir;
    Scratch() {
      dir = std::filesystem::temp_directory_path() / ("cvimport_fuzz_" + std::to_string(::getpid()));
      std::filesystem::create_directories(dir);
    }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  };
  static const Scratch scratch;
  const auto in = scratch.dir / "in.tif";
  const auto out = scratch.dir / "out.apf";
  if (FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  FxImportOptions options;
  options.resolution = size % 2 ? FxImportResolution::fine : FxImportResolution::normal;
  FxImportResult result;
  const int rc = FxImportDocument(in, out, options, result);
  if (rc != 0 && std::filesystem::exists(out)) std::abort();
  std::error_code ec;
  std::filesystem::remove(out, ec);
  return 0;
}
