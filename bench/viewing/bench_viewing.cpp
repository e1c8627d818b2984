// The viewer from the request to the painted page, against decoding the same
// page with the unpacker alone in the same run. Each benchmark reports
// "x_decode": its time per iteration divided by that baseline.
//
//   QT_QPA_PLATFORM=offscreen build/bench/viewing/bench_viewing --benchmark_repetitions=5
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "faximage/T4Coder.h"
#include "TestPages.h"
#include "viewing/TFxFaxViewer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A fine 1728 × 2200 text page, `pages` times over, in a scratch file.
fs::path MakeFax(unsigned pages) {
  const fs::path path = fs::temp_directory_path() / ("cv_bench_view_" + std::to_string(pages) + ".apf");
  const FxTestPage page = FxTestCorpusPage(1);  // text-fine
  TFxApfWriter w;
  if (w.Create(path) != 0) std::abort();
  w.SetPageFlags(apfHighRes);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  for (unsigned p = 0; p < pages; ++p) {
    for (const auto& line : page.lines) {
      const size_t n = FxT4::CodeLine(line.data(), page.width, 0, rec.data());
      if (w.WriteRecord(rec.data(), n) != 0) std::abort();
    }
    if (w.EndPage() != 0) std::abort();
  }
  if (w.Finish("BENCH") != 0) std::abort();
  return path;
}

const fs::path& TwoPages() {
  static const fs::path p = MakeFax(2);
  return p;
}
const fs::path& FiftyPages() {
  static const fs::path p = MakeFax(50);
  return p;
}

double DecodeSeconds() {
  TFxFaxUnpacker u;
  u.SetOptions(0);
  u.SetInFileName(TwoPages().string());
  const auto t0 = Clock::now();
  const TFxBitmap b = u.PageToBitmap(2);
  benchmark::DoNotOptimize(b.bits.data());
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Median time of decoding one page, measured once per run.
double Baseline() {
  static const double median = [] {
    std::vector<double> t;
    for (int i = 0; i < 21; ++i) t.push_back(DecodeSeconds());
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
  }();
  return median;
}

// Waits for the page and paints the whole viewer into an image, as the
// screen would be painted.
void WaitAndPaint(TFxFaxViewer& v, QImage& canvas) {
  while (v.Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  v.render(&canvas);
}

void Report(benchmark::State& state, double seconds) {
  state.counters["x_decode"] = benchmark::Counter(seconds / Baseline(), benchmark::Counter::kAvgIterations);
}

void BM_DecodePage(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) total += DecodeSeconds();
  Report(state, total);
}
BENCHMARK(BM_DecodePage)->Unit(benchmark::kMillisecond)->UseRealTime();

void PageSwitch(benchmark::State& state, unsigned div) {
  TFxFaxViewer v;
  v.resize(800, 1000);
  v.show();
  if (v.SetFileName(QString::fromStdString(TwoPages().string())) != 0) std::abort();
  v.BeginUpdate();
  v.SetScaling(div != 1);
  v.SetHorizDiv(div);
  v.SetVertDiv(div);
  v.EndUpdate();
  QImage canvas(v.size(), QImage::Format_RGB32);
  WaitAndPaint(v, canvas);
  double total = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (v.CurrentPage() == 1) v.NextPage();
    else v.PrevPage();
    WaitAndPaint(v, canvas);
    total += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  Report(state, total);
}
void BM_PageSwitch100(benchmark::State& state) { PageSwitch(state, 1); }
void BM_PageSwitch50(benchmark::State& state) { PageSwitch(state, 2); }
BENCHMARK(BM_PageSwitch100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PageSwitch50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenFiftyPages(benchmark::State& state) {
  TFxFaxViewer v;
  v.resize(800, 1000);
  v.show();
  QImage canvas(v.size(), QImage::Format_RGB32);
  const QString file = QString::fromStdString(FiftyPages().string());
  double total = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (v.SetFileName(file) != 0) std::abort();
    WaitAndPaint(v, canvas);
    total += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  Report(state, total);
}
BENCHMARK(BM_OpenFiftyPages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove(TwoPages(), ec);
  fs::remove(FiftyPages(), ec);
  return 0;
}
