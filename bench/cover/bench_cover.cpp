// A stock cover template filled in and written as a one-page fine APF file,
// against the baseline of the same run: a full text page converted into a
// one-page fine APF file as "apftool convert letter.txt OUT --fine" does.
// The target: the cover takes at most 1.5 times the text page.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "cover/CoverRenderer.h"
#include "faximage/FaxConverter.h"

namespace {

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("cvbench_cover_" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

void EnsureGui() {
  static int argc = 1;
  static char name[] = "bench_cover";
  static char* argv[] = {name, nullptr};
  if (QGuiApplication::instance() == nullptr) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(argc, argv);  // lives for the whole run
  }
}

std::string Message() {
  std::string m;
  for (int i = 1; i <= 12; ++i)
    m += "Paragraph " + std::to_string(i) + ": the figures for the quarter are attached; please check the totals "
         "against your own records and call me if anything differs.\r\n";
  return m;
}

const std::filesystem::path& TextPage() {
  static const std::filesystem::path path = [] {
    const auto p = Dir() / "letter.txt";
    std::ofstream f(p);
    for (int i = 1; i <= 60; ++i) f << "Line " << i << " of a full text page with words that reach across it.\n";
    return p;
  }();
  return path;
}

const std::filesystem::path kTemplate = std::filesystem::path(CORVANE_SOURCE_DIR) / "cover/stock/CV0001.FCT";

void ConvertTextOnce() {
  TFxFaxConverter c;
  c.Resolution = TFaxResolution::frHigh;
  c.InputDocumentType = TFaxInputDocumentType::idText;
  c.SetDocumentFile(TextPage().string());
  c.OutFileName = (Dir() / "text.apf").string();
  c.ConvertToFile();
}

void RenderCoverOnce(const CoverFieldValues& values, const std::string& message) {
  (void)RenderCoverPage((Dir() / "cover.apf").string(), kTemplate, values, message);
}

CoverFieldValues Values() {
  CoverFieldValues v = PreviewSampleValues();
  v.Texts[cfRegarding] = "Quarterly report";
  return v;
}

void BM_Baseline_ConvertTextPage(benchmark::State& state) {
  for (auto _ : state) ConvertTextOnce();
}

void BM_RenderStockCover(benchmark::State& state) {
  EnsureGui();
  const CoverFieldValues values = Values();
  const std::string message = Message();
  for (auto _ : state) RenderCoverOnce(values, message);
}

double ThreadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Both taken in turn within each iteration so that they see the same
// machine; the ratios are the medians of the iterations' ratios, of wall
// time and of CPU time (steadier on a loaded machine).
void BM_CoverAgainstTextPage(benchmark::State& state) {
  EnsureGui();
  const CoverFieldValues values = Values();
  const std::string message = Message();
  std::vector<double> ratios, cpuRatios;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ThreadCpuSeconds();
    ConvertTextOnce();
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = ThreadCpuSeconds();
    RenderCoverOnce(values, message);
    const auto t2 = std::chrono::steady_clock::now();
    const double c2 = ThreadCpuSeconds();
    ratios.push_back(std::chrono::duration<double>(t2 - t1).count() / std::chrono::duration<double>(t1 - t0).count());
    cpuRatios.push_back((c2 - c1) / (c1 - c0));
  }
  const auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  };
  state.counters["ratio"] = median(ratios);
  state.counters["cpu_ratio"] = median(cpuRatios);
}

}  // namespace

BENCHMARK(BM_Baseline_ConvertTextPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderStockCover)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoverAgainstTextPage)->Unit(benchmark::kMillisecond);
