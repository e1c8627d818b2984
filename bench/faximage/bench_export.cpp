// Whole-fax export to TIFF Class F against tiffcp making a Group 3 TIFF of
// the same pages, file to file, in the same run. The APF file holds the
// nine generated pages; tiffcp gets them as an uncompressed multi-page TIFF
// and codes them with "-c g3". The reported time is the export's; the
// counter time_ratio_export_to_tiffcp is export time / tiffcp time (target
// at most 1.0).
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestPages.h"
#include "faximage/Apf.h"
#include "faximage/FaxExport.h"
#include "faximage/T4Coder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Files {
  fs::path dir;
  fs::path apf, raw, g3, exported;
  Files() {
    dir = fs::temp_directory_path() / ("cvbench_export_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    apf = dir / "corpus.apf";
    raw = dir / "corpus-raw.tif";
    g3 = dir / "corpus-g3.tif";
    exported = dir / "export.tif";
    const std::vector<FxTestPage> pages = FxTestCorpus();
    TFxApfWriter w;
    (void)w.Create(apf);
    std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
    TIFF* t = TIFFOpen(raw.c_str(), "w");
    uint16_t n = 0;
    for (const FxTestPage& page : pages) {
      w.SetPageFlags(static_cast<uint16_t>((page.fine ? apfHighRes : 0) | (page.width == 2048 ? apfWide : 0)));
      for (const auto& line : page.lines) (void)w.WriteRecord(rec.data(), FxT4::CodeLine(line.data(), page.width, 0, rec.data()));
      (void)w.EndPage();
      TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
      TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.lines.size()));
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.lines.size()));
      TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0);
      TIFFSetField(t, TIFFTAG_YRESOLUTION, page.fine ? 196.0 : 98.0);
      TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
      TIFFSetField(t, TIFFTAG_PAGENUMBER, n++, static_cast<uint16_t>(pages.size()));
      for (uint32_t y = 0; y < page.lines.size(); ++y) {
        std::vector<uint8_t> row = page.lines[y];
        TIFFWriteScanline(t, row.data(), y, 0);
      }
      TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    (void)w.Finish("BENCH");
  }
  ~Files() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

void BM_ExportTiff(benchmark::State& state) {
  static const Files files;
  const std::string tiffcp = "tiffcp -c g3 '" + files.raw.string() + "' '" + files.g3.string() + "'";
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    FxExportResult result;
    if (FxExportTiff(files.apf, files.exported, result) != 0) state.SkipWithError("export failed");
    auto t1 = Clock::now();
    if (std::system(tiffcp.c_str()) != 0) state.SkipWithError("tiffcp failed");
    auto t2 = Clock::now();
    const double o = std::chrono::duration<double>(t1 - t0).count();
    ours += o;
    theirs += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(o);
  }
  state.counters["time_ratio_export_to_tiffcp"] = ours / theirs;
  state.SetLabel("9 pages, file to file");
}

BENCHMARK(BM_ExportTiff)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
