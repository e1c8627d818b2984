// T.4 one-dimensional coding speed, Corvane against libtiff's CCITT Group 3
// codec on the same generated pages in the same run. Each iteration codes
// (or decodes) one page with both; the reported time is Corvane's, and the
// counters give pages per second for each and their ratio Corvane /
// libtiff (above 1: Corvane is faster). Memory to memory for both; the
// decoders write every line into one page raster.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "TestPages.h"
#include "faximage/T4Coder.h"
#include "faximage/T4Decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

// In-memory TIFF file for libtiff.
struct MemFile {
  std::vector<uint8_t> data;
  toff_t pos = 0;
};

tsize_t MemRead(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemFile*>(h);
  const toff_t n = std::min<toff_t>(static_cast<toff_t>(size), m->data.size() > m->pos ? m->data.size() - m->pos : 0);
  std::memcpy(buf, m->data.data() + m->pos, n);
  m->pos += n;
  return static_cast<tsize_t>(n);
}
tsize_t MemWrite(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemFile*>(h);
  if (m->pos + static_cast<toff_t>(size) > m->data.size()) m->data.resize(m->pos + static_cast<toff_t>(size));
  std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(size));
  m->pos += static_cast<toff_t>(size);
  return size;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemFile*>(h);
  if (whence == SEEK_SET) m->pos = off;
  if (whence == SEEK_CUR) m->pos += off;
  if (whence == SEEK_END) m->pos = m->data.size() + off;
  return m->pos;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemFile*>(h)->data.size(); }
int MemMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void MemUnmap(thandle_t, tdata_t, toff_t) {}

TIFF* OpenMem(MemFile& m, const char* mode) {
  m.pos = 0;
  return TIFFClientOpen("mem", mode, &m, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
}

void LibtiffEncode(const FxTestPage& page, MemFile& out) {
  out.data.clear();
  TIFF* t = OpenMem(out, "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.lines.size()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.lines.size()));
  std::vector<uint8_t> row(page.width / 8);
  for (uint32_t y = 0; y < page.lines.size(); ++y) {
    std::memcpy(row.data(), page.lines[y].data(), row.size());
    TIFFWriteScanline(t, row.data(), y, 0);
  }
  TIFFClose(t);
}

void LibtiffDecode(MemFile& in, std::vector<uint8_t>& raster) {
  TIFF* t = OpenMem(in, "r");
  TIFFReadEncodedStrip(t, 0, raster.data(), static_cast<tmsize_t>(raster.size()));
  TIFFClose(t);
}

size_t CorvaneEncode(const FxTestPage& page, std::vector<uint8_t>& out) {
  size_t at = 0;
  for (const auto& line : page.lines) at += FxT4::CodeLine(line.data(), page.width, 0, out.data() + at);
  at += FxT4::PageEndRecord(out.data() + at);
  return at;
}

void CorvaneDecode(const std::vector<uint8_t>& data, std::vector<uint8_t>& raster) {
  uint8_t* out = raster.data();
  const uint8_t* end = raster.data() + raster.size();
  FxT4Decoder d([&](const uint8_t* line, unsigned bytes) {
    if (out + bytes > end) return false;
    std::memcpy(out, line, bytes);
    out += bytes;
    return true;
  });
  d.Feed(data.data(), data.size());
  d.Finish();
}

const std::vector<FxTestPage>& Corpus() {
  static const std::vector<FxTestPage> corpus = FxTestCorpus();
  return corpus;
}

void Report(benchmark::State& state, double corvaneSeconds, double libtiffSeconds, size_t pages) {
  state.counters["corvane_pages_per_s"] = static_cast<double>(pages) / corvaneSeconds;
  state.counters["libtiff_pages_per_s"] = static_cast<double>(pages) / libtiffSeconds;
  state.counters["speed_ratio_corvane_to_libtiff"] = libtiffSeconds / corvaneSeconds;
}

void BM_Encode(benchmark::State& state) {
  const auto& pages = Corpus();
  const size_t first = state.range(0) < 0 ? 0 : static_cast<size_t>(state.range(0));
  const size_t last = state.range(0) < 0 ? pages.size() : first + 1;
  std::vector<uint8_t> out(8 << 20);
  MemFile tiff;
  double corvane = 0, libtiff = 0;
  size_t n = 0;
  for (auto _ : state) {
    const double before = corvane;
    for (size_t p = first; p < last; ++p) {
      auto t0 = Clock::now();
      benchmark::DoNotOptimize(CorvaneEncode(pages[p], out));
      auto t1 = Clock::now();
      LibtiffEncode(pages[p], tiff);
      auto t2 = Clock::now();
      corvane += std::chrono::duration<double>(t1 - t0).count();
      libtiff += std::chrono::duration<double>(t2 - t1).count();
      ++n;
    }
    state.SetIterationTime(corvane - before);
  }
  Report(state, corvane, libtiff, n);
  state.SetLabel(state.range(0) < 0 ? "all pages" : pages[first].name);
}

void BM_Decode(benchmark::State& state) {
  const auto& pages = Corpus();
  const size_t first = state.range(0) < 0 ? 0 : static_cast<size_t>(state.range(0));
  const size_t last = state.range(0) < 0 ? pages.size() : first + 1;
  std::vector<std::vector<uint8_t>> coded;
  std::vector<MemFile> tiffs(pages.size());
  std::vector<uint8_t> buffer(8 << 20);
  for (size_t p = first; p < last; ++p) {
    coded.emplace_back(buffer.begin(), buffer.begin() + static_cast<long>(CorvaneEncode(pages[p], buffer)));
    LibtiffEncode(pages[p], tiffs[p]);
  }
  std::vector<uint8_t> raster(2300 * 256);
  double corvane = 0, libtiff = 0;
  size_t n = 0;
  for (auto _ : state) {
    const double before = corvane;
    for (size_t p = first; p < last; ++p) {
      auto t0 = Clock::now();
      CorvaneDecode(coded[p - first], raster);
      benchmark::ClobberMemory();
      auto t1 = Clock::now();
      LibtiffDecode(tiffs[p], raster);
      benchmark::ClobberMemory();
      auto t2 = Clock::now();
      corvane += std::chrono::duration<double>(t1 - t0).count();
      libtiff += std::chrono::duration<double>(t2 - t1).count();
      ++n;
    }
    state.SetIterationTime(corvane - before);
  }
  Report(state, corvane, libtiff, n);
  state.SetLabel(state.range(0) < 0 ? "all pages" : pages[first].name);
}

void PageArgs(benchmark::internal::Benchmark* b) {
  b->Arg(-1);
  for (int i = 0; i < static_cast<int>(kFxTestCorpusSize); ++i) b->Arg(i);
}

BENCHMARK(BM_Encode)->Apply(PageArgs)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode)->Apply(PageArgs)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
