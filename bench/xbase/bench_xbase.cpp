// 100,000 outgoing faxes: appending, building the tags, walking the list
// order with the list filter, and packing; each next to a baseline measured
// in the same run (the same bytes written with one sequential write, the
// same keys sorted with std::sort).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "store/core/FaxTables.h"
#include "xbase/Table.h"

namespace {

constexpr uint32_t kRows = 100000;

std::filesystem::path Dir() {
  static const std::filesystem::path d = [] {
    auto p = std::filesystem::temp_directory_path() / ("cvbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return d;
}

std::vector<TDbfField> Fields() {
  std::vector<TDbfField> f;
  for (const TFieldDef& d : OutgoingFields()) f.push_back({d.name, d.type, d.width, d.decimals, 0});
  return f;
}

struct RowValues {
  std::string subject, time, recipient, phone, result, doc, notes, codes;
  int32_t date;
  bool archived;
};

RowValues Row(uint32_t i) {
  static const char* names[] = {"Smith & Co", "Jones Ltd", "Acme Widgets", "Brown", "Zeta Imports", "alpha"};
  uint32_t h = i * 2654435761u;
  RowValues r;
  r.subject = "Invoice " + std::to_string(h % 90000) + " for " + names[h % 6];
  r.date = (h % 7) ? XbJulian(2015, 1, 1) + static_cast<int32_t>(h % 4000) : 0;
  char t[8];
  std::snprintf(t, sizeof t, "%02u:%02u", (h >> 8) % 24, (h >> 16) % 60);
  r.time = r.date ? t : "";
  r.recipient = names[(h >> 4) % 6];
  r.phone = "+1 555 " + std::to_string(1000 + h % 9000);
  r.result = r.date ? "Sent OK" : "";
  r.doc = "FAX" + std::to_string(10000 + i % 90000) + ".APF";
  r.notes = "";
  r.codes = "C" + std::to_string(h % 50);
  r.archived = h % 5 == 0;
  return r;
}

// The rows' values are made once, outside the timed loops.
const std::vector<RowValues>& Rows() {
  static const std::vector<RowValues> rows = [] {
    std::vector<RowValues> v;
    v.reserve(kRows);
    for (uint32_t i = 0; i < kRows; ++i) v.push_back(Row(i));
    return v;
  }();
  return rows;
}

// A failed engine call means the benchmark measures nothing: stop loudly.
// On the inlined fast paths the status is a constant and the check folds
// away, so the timed loops cost what they did.
void Must(const XbStatus& st) {
  if (!st) {
    std::fprintf(stderr, "bench_xbase: %s\n", st.Message().c_str());
    std::abort();
  }
}

void Fill(TXbTable& t, uint32_t i) {
  const RowValues& r = Rows()[i];
  Must(t.AppendBlank());
  Must(t.SetText(0, r.subject));
  Must(t.SetValue(1, TXbValue::Date(r.date)));
  Must(t.SetText(2, r.time));
  Must(t.SetText(3, r.recipient));
  Must(t.SetText(4, r.phone));
  Must(t.SetText(5, r.result));
  Must(t.SetText(6, r.doc));
  Must(t.SetText(8, r.notes));
  Must(t.SetText(9, r.codes));
  Must(t.SetValue(10, TXbValue::Bool(r.archived)));
  Must(t.Post());
}

std::filesystem::path Fresh(const char* name) {
  const auto p = Dir() / name;
  std::filesystem::remove(p);
  auto cdx = p;
  std::filesystem::remove(cdx.replace_extension(".CDX"));
  Must(TDbfFile::Create(p, Fields(), true));
  return p;
}

// One batched append of every row into a fresh table.
void AppendBatchedOnce(const std::filesystem::path& path) {
  TXbSettings s;
  TXbTable t;
  Must(t.Open(path, {}, &s));
  t.BeginBatch();
  for (uint32_t i = 0; i < kRows; ++i) Fill(t, i);
  Must(t.EndBatch());
  Must(t.Close());
}

// A full table with the creation tags, made once.
const std::filesystem::path& Prepared() {
  static const std::filesystem::path p = [] {
    auto path = Fresh("PREP.DBF");
    AppendBatchedOnce(path);
    TXbSettings s;
    TXbTable t;
    Must(t.Open(path, {}, &s));
    for (const TTagDef& d : OutgoingTags())
      if (d.atCreation) Must(t.AddTag(d.tag, d.key, kTagCondition, d.descending));
    Must(t.Close());
    return path;
  }();
  return p;
}

void BM_Append_Batched(benchmark::State& state) {
  Rows();
  for (auto _ : state) {
    state.PauseTiming();
    const auto path = Fresh("APPEND.DBF");
    state.ResumeTiming();
    AppendBatchedOnce(path);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Append_PostEachRow(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const auto path = Fresh("APPEND1.DBF");
    state.ResumeTiming();
    TXbSettings s;
    TXbTable t;
    Must(t.Open(path, {}, &s));
    for (uint32_t i = 0; i < kRows; ++i) Fill(t, i);
    Must(t.Close());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Append_BatchedWithFiveTags(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const auto path = Fresh("APPEND5.DBF");
    state.ResumeTiming();
    TXbSettings s;
    TXbTable t;
    Must(t.Open(path, {}, &s));
    for (const TTagDef& d : OutgoingTags())
      if (d.atCreation) Must(t.AddTag(d.tag, d.key, kTagCondition, d.descending));
    t.BeginBatch();
    for (uint32_t i = 0; i < kRows; ++i) Fill(t, i);
    Must(t.EndBatch());
    Must(t.Close());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// Baseline: the bytes of the finished table, written with one write into a
// file that does not exist yet.
bool SequentialWriteOnce(const std::filesystem::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  return ok;
}

void BM_Baseline_SequentialWrite(benchmark::State& state) {
  std::string bytes;
  Must(XbReadWholeFile(Prepared(), bytes, 1ull << 32));
  const auto path = Dir() / "SEQ.DBF";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
    if (!SequentialWriteOnce(path, bytes)) state.SkipWithError("write");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// CPU time of this thread: what the work cost, without the time other
// programs on a shared machine took from it.
double ThreadCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The target as a ratio: the baseline write and the batched append taken in
// turn within each iteration, so that both see the same machine; the ratio
// is the median of the iterations' ratios, of wall time and of CPU time.
void BM_AppendAgainstSequentialWrite(benchmark::State& state) {
  std::string bytes;
  Must(XbReadWholeFile(Prepared(), bytes, 1ull << 32));
  const auto seq = Dir() / "SEQ.DBF";
  std::vector<double> ratios, cpuRatios;
  for (auto _ : state) {
    std::filesystem::remove(seq);
    const auto table = Fresh("APPEND.DBF");
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ThreadCpuSeconds();
    if (!SequentialWriteOnce(seq, bytes)) state.SkipWithError("write");
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = ThreadCpuSeconds();
    AppendBatchedOnce(table);
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

void BM_BuildTags_FiveAndDatend(benchmark::State& state) {
  TXbSettings s;
  TXbTable t;
  Must(t.Open(Prepared(), {}, &s));
  for (auto _ : state) {
    for (const TTagDef& d : OutgoingTags()) Must(t.AddTag(d.tag, d.key, kTagCondition, d.descending));
  }
  Must(t.Close());
  state.SetItemsProcessed(state.iterations() * kRows * 6);
}

// Baseline: the same keys (already computed) sorted with std::sort.
void BM_Baseline_SortKeys(benchmark::State& state) {
  std::vector<std::vector<std::string>> keys;
  {
    TXbSettings s;
    TXbTable t;
    Must(t.Open(Prepared(), {XbOpenMode::Exclusive, XbAccess::ReadOnly}, &s));
    for (const TTagDef& d : OutgoingTags()) {
      TXbExpr e;
      Must(TXbExpr::Compile(d.key, t.Fields(), e));
      std::vector<std::string> k;
      k.reserve(kRows);
      for (Must(t.SetOrder(0)), Must(t.GoTop()); !t.Eof(); Must(t.Skip(1))) {
        TXbValue v;
        e.Eval({t.RecordBuffer(), t.RecNo(), &s}, v);
        k.push_back(v.type == XbType::Character ? v.str : std::string(1, v.log ? 'T' : 'F'));
      }
      keys.push_back(std::move(k));
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = keys;
    state.ResumeTiming();
    for (auto& k : copy) std::sort(k.begin(), k.end());
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations() * kRows * 6);
}

void BM_Walk_DatesentNotArchived(benchmark::State& state) {
  TXbSettings s;
  s.deleted = true;
  TXbTable t;
  Must(t.Open(Prepared(), {}, &s));
  Must(t.SetOrder(t.TagNumber("DATESENT")));
  Must(t.SetFilter(".not. archived"));
  uint32_t n = 0;
  for (auto _ : state) {
    n = 0;
    for (Must(t.GoTop()); !t.Eof(); Must(t.Skip(1))) ++n;
    benchmark::DoNotOptimize(n);
  }
  state.counters["visible"] = n;
  state.SetItemsProcessed(state.iterations() * kRows);
}

// Baseline for the walk: reading every record of the file in one read.
void BM_Baseline_ReadWholeTable(benchmark::State& state) {
  for (auto _ : state) {
    std::string bytes;
    Must(XbReadWholeFile(Prepared(), bytes, 1ull << 32));
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Pack_AfterDeletingTenPercent(benchmark::State& state) {
  const auto path = Dir() / "PACK.DBF";
  auto cdx = path;
  cdx.replace_extension(".CDX");
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(Prepared(), path, std::filesystem::copy_options::overwrite_existing);
    auto pcdx = Prepared();
    std::filesystem::copy_file(pcdx.replace_extension(".CDX"), cdx, std::filesystem::copy_options::overwrite_existing);
    TXbSettings s;
    TXbTable t;
    Must(t.Open(path, {}, &s));
    for (uint32_t r = 1; r <= kRows; r += 10) {
      Must(t.Go(r));
      Must(t.Delete());
    }
    Must(t.Commit());
    state.ResumeTiming();
    Must(t.Pack());
    state.PauseTiming();
    Must(t.Close());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

BENCHMARK(BM_Baseline_SequentialWrite)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_Append_Batched)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_AppendAgainstSequentialWrite)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_Append_PostEachRow)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Append_BatchedWithFiveTags)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Baseline_SortKeys)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BuildTags_FiveAndDatend)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Baseline_ReadWholeTable)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_Walk_DatesentNotArchived)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Pack_AfterDeletingTenPercent)->Unit(benchmark::kMillisecond)->Iterations(2);
