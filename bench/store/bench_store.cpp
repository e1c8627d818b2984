// Opening the outgoing list (model over the table in DATESENT order with the
// list filter, first screenful fetched and painted) on 10 rows and on
// 100,000 rows: the second should cost about the same as the first.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "store/XbTableModel.h"
#include "store/core/FaxTables.h"

namespace {

// A failed engine call means the benchmark measures nothing: stop loudly.
void Must(const XbStatus& st) {
  if (!st) {
    std::fprintf(stderr, "bench_store: %s\n", st.Message().c_str());
    std::abort();
  }
}

std::filesystem::path Folder(uint32_t rows) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("cvbench-store-" + std::to_string(::getpid()) + "-" + std::to_string(rows));
  if (std::filesystem::exists(dir / "CVOUT.DBF")) return dir;
  std::filesystem::create_directories(dir);
  TXbEngine engine;
  TXbDataTable t(engine);
  TXbase x(engine);
  OpenOutgoingTable(t, x, dir, "");
  TXbTable* tb = t.Table();
  tb->BeginBatch();
  for (uint32_t i = 0; i < rows; ++i) {
    Must(tb->AppendBlank());
    Must(tb->SetText(0, "Subject " + std::to_string(i * 7919 % 100000)));
    Must(tb->SetValue(1, TXbValue::Date(XbJulian(2015, 1, 1) + static_cast<int32_t>(i * 31 % 4000))));
    Must(tb->SetText(2, "10:00"));
    Must(tb->SetValue(10, TXbValue::Bool(i % 5 == 0)));
    Must(tb->Post());
  }
  Must(tb->EndBatch());
  Must(t.Close());
  return dir;
}

void OpenList(benchmark::State& state) {
  const auto rows = static_cast<uint32_t>(state.range(0));
  const auto dir = Folder(rows);
  for (auto _ : state) {
    TXbEngine engine;
    TXbaseEnv env(engine);
    env.SetDeleted(true);
    TXbDataTable t(engine);
    TXbase x(engine);
    OpenOutgoingTable(t, x, dir, ".not. archived");
    Must(t.SetIndexName("DATESENT"));
    TXbTableModel model(t);
    model.SetColumns({{"Date Sent", "DATESENT", nullptr, 0}, {"Subject", "SUBJECT", nullptr, 20}});
    model.fetchMore();
    for (int r = 0; r < std::min(model.rowCount(), 40); ++r)
      for (int c = 0; c < 2; ++c) benchmark::DoNotOptimize(model.data(model.index(r, c)));
  }
}

}  // namespace

BENCHMARK(OpenList)->Arg(10)->Arg(100000)->Unit(benchmark::kMillisecond);
