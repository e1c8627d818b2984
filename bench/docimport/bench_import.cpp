// Importing a 20-page text PDF at fine resolution against Ghostscript
// rendering the same file into a Group 3 TIFF at fax resolution
// (gs -sDEVICE=tiffg3 -r204x196), file to file, in the same run. The
// reported time is the import's; the counter time_ratio_import_to_gs is
// import time / Ghostscript time (target at most 1.0).
// The same pages exported from APF to TIFF Class F against libtiff's
// tiffcp re-coding that TIFF as Group 3 (tiffcp -c g3): the counter
// time_ratio_export_to_tiffcp (target at most 1.0).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "docimport/DocImport.h"
#include "docimport/tests/PdfMaker.h"
#include "faximage/FaxExport.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Files {
  fs::path dir, pdf, apf, tif;
  Files() {
    dir = fs::temp_directory_path() / ("cvbench_import_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    pdf = dir / "letter.pdf";
    apf = dir / "letter.apf";
    tif = dir / "letter.tif";
    // 20 Letter pages of 11-point text, 52 lines each.
    std::vector<HandPdfPage> pages;
    for (int p = 0; p < 20; ++p) {
      std::string content = "BT /F1 11 Tf 13 TL 60 740 Td\n";
      for (int line = 0; line < 52; ++line) {
        content += "(Page " + std::to_string(p + 1) + ", line " + std::to_string(line + 1) +
                   ": the quick brown fox jumps over the lazy dog 0123456789) '\n";
      }
      content += "ET";
      pages.push_back({612, 792, content});
    }
    std::ofstream(pdf, std::ios::binary) << MakeHandPdf(pages);
  }
  ~Files() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

void BM_ImportPdf(benchmark::State& state) {
  static const Files files;
  const std::string gs = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg3 -r204x196 -sOutputFile='" +
                         files.tif.string() + "' '" + files.pdf.string() + "'";
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    FxImportOptions options;
    FxImportResult result;
    if (FxImportDocument(files.pdf, files.apf, options, result) != 0 || result.pagesWritten != 20)
      state.SkipWithError("import failed");
    auto t1 = Clock::now();
    if (std::system(gs.c_str()) != 0) state.SkipWithError("gs failed");
    auto t2 = Clock::now();
    const double o = std::chrono::duration<double>(t1 - t0).count();
    ours += o;
    theirs += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(o);
  }
  state.counters["time_ratio_import_to_gs"] = ours / theirs;
  state.SetLabel("20 text pages, fine, file to file");
}

BENCHMARK(BM_ImportPdf)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ExportTiff(benchmark::State& state) {
  static const Files files;
  const fs::path apf = files.dir / "export.apf", tif = files.dir / "export.tif", copy = files.dir / "copy.tif";
  FxImportResult imported;
  if (FxImportDocument(files.pdf, apf, FxImportOptions(), imported) != 0) {
    state.SkipWithError("import failed");
    return;
  }
  const std::string tiffcp = "tiffcp -c g3 '" + tif.string() + "' '" + copy.string() + "'";
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    FxExportResult result;
    if (FxExportTiff(apf, tif, result) != 0 || result.pagesWritten != 20) state.SkipWithError("export failed");
    auto t1 = Clock::now();
    if (std::system(tiffcp.c_str()) != 0) state.SkipWithError("tiffcp failed");
    auto t2 = Clock::now();
    const double o = std::chrono::duration<double>(t1 - t0).count();
    ours += o;
    theirs += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(o);
  }
  state.counters["time_ratio_export_to_tiffcp"] = ours / theirs;
  state.SetLabel("20 text pages, fine, file to file");
}

BENCHMARK(BM_ExportTiff)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
