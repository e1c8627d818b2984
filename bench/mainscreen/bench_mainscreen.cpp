// From creating the main window to its first painted lists, over a program
// folder with 100,000 outgoing and 100,000 received rows against one with
// empty tables. The lists fetch rows on demand, so the two should cost
// about the same; a folder with 10 rows each separates the cost of painting
// a full screen of rows, which an empty list does not have, from the cost of
// the tables' size.
#include <QApplication>
#include <QTableView>
#include <QTest>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/core/FaxTables.h"

namespace {

// Fills a table opened by `open` with `rows` rows written by `fill`, then
// adds the DATEND tag so that start-up finds the indexes complete.
template <typename Open, typename Fill>
void MakeTable(const std::filesystem::path& dir, uint32_t rows, Open open, Fill fill, const char* datendKey) {
  TXbEngine engine;
  TXbDataTable t(engine);
  TXbase x(engine);
  if (!open(t, x, dir)) return;
  TXbTable* tb = t.Table();
  tb->BeginBatch();
  for (uint32_t i = 0; i < rows; ++i) {
    tb->AppendBlank();
    fill(*tb, i);
    tb->Post();
  }
  tb->EndBatch();
  x.AddIndexTag("DATEND", datendKey, false, kTagCondition);
  t.Close();
}

std::filesystem::path Folder(uint32_t rows) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("cvbench-mainscreen-" + std::to_string(::getpid()) + "-" + std::to_string(rows));
  if (std::filesystem::exists(dir / "CVREC.DBF")) return dir;
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "CV.INI", std::ios::binary) << "[Modem]\r\nComPort=0\r\n";
  MakeTable(
      dir, rows,
      [](TXbDataTable& t, TXbase& x, const std::filesystem::path& d) { return OpenOutgoingTable(t, x, d, ""); },
      [](TXbTable& tb, uint32_t i) {
        tb.SetText(0, "Subject " + std::to_string(i * 7919 % 100000));
        tb.SetValue(1, TXbValue::Date(XbJulian(2015, 1, 1) + static_cast<int32_t>(i * 31 % 4000)));
        tb.SetText(2, "10:00");
        tb.SetText(3, "Recipient " + std::to_string(i % 977));
        tb.SetText(6, "FAX" + std::to_string(i % 100000) + ".APF");
        tb.SetValue(10, TXbValue::Bool(i % 5 == 0));
      },
      "DTOS(DATESENT)+TIMESENT");
  MakeTable(
      dir, rows, [](TXbDataTable& t, TXbase& x, const std::filesystem::path& d) { return OpenReceivedTable(t, x, d); },
      [](TXbTable& tb, uint32_t i) {
        tb.SetValue(0, TXbValue::Date(XbJulian(2015, 1, 1) + static_cast<int32_t>(i * 17 % 4000)));
        tb.SetText(1, "09:30");
        tb.SetText(2, "STATION " + std::to_string(i % 331));
        tb.SetText(4, "REC" + std::to_string(i) + ".APF");
        tb.SetValue(6, TXbValue::Bool(i % 7 == 0));
      },
      "DTOS(DATEREC)+TIMEREC");
  return dir;
}

void FirstPaintedWindow(benchmark::State& state) {
  const auto rows = static_cast<uint32_t>(state.range(0));
  const auto dir = Folder(rows);
  SetProgramFolder(dir.string());
  for (auto _ : state) {
    Settings = TSettings{};
    TMainScreen w;
    w.show();
    while (!w.FirstActivationDone()) QApplication::processEvents();
    // Painting the visible part of both lists fetches their first rows.
    benchmark::DoNotOptimize(w.grab());
    w.TabSet1->setCurrentIndex(1);
    benchmark::DoNotOptimize(w.RecGrid->grab());
    state.PauseTiming();
    w.close();
    state.ResumeTiming();
  }
}

// What the table engine alone needs to open the two tables as the window
// does: the part of the window's time that is not the window's own.
void OpenTablesOnly(benchmark::State& state) {
  const auto dir = Folder(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    TXbEngine engine;
    TXbaseEnv env(engine);
    env.SetDeleted(true);
    TXbDataTable out(engine), rec(engine);
    TXbase outX(engine), recX(engine);
    OpenOutgoingTable(out, outX, dir, ".not. archived");
    OpenReceivedTable(rec, recX, dir);
    recX.SetFilter(".not. archived");
    benchmark::DoNotOptimize(out.RecNo() + rec.RecNo());
  }
}

}  // namespace

BENCHMARK(OpenTablesOnly)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(FirstPaintedWindow)->Arg(0)->Arg(10)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
