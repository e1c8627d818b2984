// Deleting a tenth of 100,000 outgoing faxes by the date rule (rows and their
// image files) followed by the index rebuild, against the rebuild alone on
// the same table. Both run in turn within each iteration on fresh copies of
// one table, so that both see the same machine; the ratio is the median of
// the iterations' ratios.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "store/core/Cleanup.h"
#include "store/core/FaxTables.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRows = 100000;
// Rows before this day: every tenth.
const int32_t kCut = XbJulian(2020, 1, 1);

std::string DocName(uint32_t i) {
  char name[16];
  std::snprintf(name, sizeof name, "FAX%05u.APF", i % 100000);
  return name;
}

void Must(const XbStatus& st) {
  if (!st) {
    std::fprintf(stderr, "%s\n", st.Message().c_str());
    std::abort();
  }
}

// The table every iteration starts from, built once.
fs::path Template() {
  const fs::path dir = fs::temp_directory_path() / ("cvbench-cleanup-" + std::to_string(::getpid()));
  if (fs::exists(dir / "CVOUT.DBF")) return dir;
  fs::create_directories(dir);
  TXbEngine engine;
  TXbDataTable t(engine);
  TXbase x(engine);
  if (!OpenOutgoingTable(t, x, dir, "")) std::abort();
  TXbTable* tb = t.Table();
  tb->BeginBatch();
  for (uint32_t i = 0; i < kRows; ++i) {
    const int32_t day = i % 10 == 3 ? kCut - 1 - static_cast<int32_t>(i % 900) : kCut + static_cast<int32_t>(i % 2000);
    Must(tb->AppendBlank());
    Must(tb->SetText(0, "Subject " + std::to_string(i * 7919 % 100000)));
    Must(tb->SetValue(1, TXbValue::Date(day)));
    Must(tb->SetText(2, "10:00"));
    Must(tb->SetText(3, "Recipient " + std::to_string(i % 977)));
    Must(tb->SetText(6, DocName(i)));
    Must(tb->SetValue(10, TXbValue::Bool(i % 5 == 0)));
    Must(tb->Post());
  }
  Must(tb->EndBatch());
  if (!BuildTags(x, OutgoingTags(), false)) std::abort();
  Must(t.Close());
  return dir;
}

// A fresh copy of the table, and the image files of the rows the rule takes.
fs::path Prepare(const fs::path& from, const char* name, bool withFiles) {
  const fs::path dir = from.parent_path() / (from.filename().string() + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir / "SEND");
  fs::copy_file(from / "CVOUT.DBF", dir / "CVOUT.DBF");
  fs::copy_file(from / "CVOUT.CDX", dir / "CVOUT.CDX");
  if (withFiles)
    for (uint32_t i = 3; i < kRows; i += 10) std::ofstream(dir / "SEND" / DocName(i)) << "x";
  return dir;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Opens the copy, runs the work and returns the seconds it took.
template <class Work>
double Timed(const fs::path& dir, Work work) {
  TXbEngine engine;
  TXbaseEnv env(engine);
  env.SetDeleted(true);
  TXbDataTable out(engine), rec(engine);
  TXbase ox(engine), rx(engine);
  ox.SetDataSource(&out);
  rx.SetDataSource(&rec);
  OpenOutgoingTable(out, ox, dir, ".not. archived");
  OpenReceivedTable(rec, rx, dir);
  const auto start = std::chrono::steady_clock::now();
  work(out, ox, rec);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

void DateRuleAndRebuildAgainstRebuild(benchmark::State& state) {
  const fs::path base = Template();
  std::vector<double> rebuildTimes, cleanupTimes, ruleTimes, ratios;
  uint32_t deleted = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path a = Prepare(base, "rebuild", false);
    const fs::path b = Prepare(base, "cleanup", true);
    state.ResumeTiming();
    const double r = Timed(a, [](TXbDataTable& out, TXbase& ox, TXbDataTable&) {
      benchmark::DoNotOptimize(RebuildTableIndexes(out, ox, OutgoingTags()));
    });
    double rule = 0;
    const double c = Timed(b, [&](TXbDataTable& out, TXbase& ox, TXbDataTable& rec) {
      const auto start = std::chrono::steady_clock::now();
      TFaxLogCleanup cleanup(out, rec, b / "SEND", b / "Receive");
      // As the cleanup window does: the files go while the indexes are rebuilt.
      deleted = cleanup.DeleteWhere(TFaxKind::Outgoing, RuleBeforeDate(TFaxKind::Outgoing, kCut),
                                    TFileRemoval::Background);
      rule = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (cleanup.SomethingDeleted()) benchmark::DoNotOptimize(RebuildTableIndexes(out, ox, OutgoingTags()));
      cleanup.FinishFileRemoval();  // timed: the work is done only when the files are gone
    });
    if (deleted != kRows / 10 || !fs::is_empty(b / "SEND")) {
      state.SkipWithError("the rule did not delete exactly the tenth with its files");
      break;
    }
    rebuildTimes.push_back(r);
    ruleTimes.push_back(rule);
    cleanupTimes.push_back(c);
    ratios.push_back(c / r);
    state.SetIterationTime(r + c);
  }
  state.counters["rebuild_ms"] = Median(rebuildTimes) * 1e3;
  state.counters["cleanup_ms"] = Median(cleanupTimes) * 1e3;
  state.counters["flagging_ms"] = Median(ruleTimes) * 1e3;  // the rule until its files are handed on
  state.counters["ratio"] = Median(ratios);
  fs::remove_all(base.parent_path() / (base.filename().string() + "-rebuild"));
  fs::remove_all(base.parent_path() / (base.filename().string() + "-cleanup"));
  fs::remove_all(base);
}

}  // namespace

BENCHMARK(DateRuleAndRebuildAgainstRebuild)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
