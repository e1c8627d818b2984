// From creating the main window to its first paint on screen, over a program
// folder with 100,000 outgoing and 100,000 received rows against one with
// empty tables. The lists fetch rows on demand, so the two should cost
// about the same; a folder with 10 rows each separates the cost of painting
// a screenful of rows, which an empty list does not have, from the cost of
// the tables' size. StartUpAgainstEmpty gives the ratio.
#include <QApplication>
#include <QPointer>
#include <QTableView>
#include <QTest>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>
#include <time.h>
#include <unistd.h>

#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/core/FaxTables.h"

namespace {

// A failed engine call means the benchmark measures nothing: stop loudly.
void Must(const XbStatus& st) {
  if (!st) {
    std::fprintf(stderr, "bench_mainscreen: %s\n", st.Message().c_str());
    std::abort();
  }
}

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
    Must(tb->AppendBlank());
    fill(*tb, i);
    Must(tb->Post());
  }
  Must(tb->EndBatch());
  x.AddIndexTag("DATEND", datendKey, false, kTagCondition);
  Must(t.Close());
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
        Must(tb.SetText(0, "Subject " + std::to_string(i * 7919 % 100000)));
        Must(tb.SetValue(1, TXbValue::Date(XbJulian(2015, 1, 1) + static_cast<int32_t>(i * 31 % 4000))));
        Must(tb.SetText(2, "10:00"));
        Must(tb.SetText(3, "Recipient " + std::to_string(i % 977)));
        Must(tb.SetText(6, "FAX" + std::to_string(i % 100000) + ".APF"));
        Must(tb.SetValue(10, TXbValue::Bool(i % 5 == 0)));
      },
      "DTOS(DATESENT)+TIMESENT");
  MakeTable(
      dir, rows, [](TXbDataTable& t, TXbase& x, const std::filesystem::path& d) { return OpenReceivedTable(t, x, d); },
      [](TXbTable& tb, uint32_t i) {
        Must(tb.SetValue(0, TXbValue::Date(XbJulian(2015, 1, 1) + static_cast<int32_t>(i * 17 % 4000))));
        Must(tb.SetText(1, "09:30"));
        Must(tb.SetText(2, "STATION " + std::to_string(i % 331)));
        Must(tb.SetText(4, "REC" + std::to_string(i) + ".APF"));
        Must(tb.SetValue(6, TXbValue::Bool(i % 7 == 0)));
      },
      "DTOS(DATEREC)+TIMEREC");
  return dir;
}

// Notes that a list has been painted, and how many rows it had then. The
// paint is done by the time the event loop returns to the caller.
class TPaintWatch : public QObject {
 public:
  explicit TPaintWatch(QTableView* list) : list_(list) { list->viewport()->installEventFilter(this); }
  ~TPaintWatch() override {
    if (list_) list_->viewport()->removeEventFilter(this);
  }
  int RowsAtFirstPaint() const { return rows_; }
  void WaitUntilPainted() {
    while (!painted_) QApplication::processEvents(QEventLoop::AllEvents, 50);
  }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      rows_ = list_->model()->rowCount();
    }
    return false;
  }

 private:
  QPointer<QTableView> list_;
  bool painted_ = false;
  int rows_ = 0;
};

// Closes and destroys the window and lets everything it left behind run,
// so that the next window starts from a quiet event loop.
void CloseWindow(std::unique_ptr<TMainScreen> w) {
  w->close();
  w.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

struct TStart {
  double seconds = 0;
  double cpuSeconds = 0;  // this thread's: what the machine's other work does not change
  int rowsPainted = 0;
};

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// From creating the window to the end of its first paint on screen, the
// outgoing list (the page shown at start) included. Closing and destroying
// the window follow, untimed.
TStart StartWindow(const std::filesystem::path& dir) {
  SetProgramFolder(dir.string());
  Settings = TSettings{};
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpuSeconds();
  auto w = std::make_unique<TMainScreen>();
  TPaintWatch list(w->FaxGrid);
  w->show();
  while (!w->FirstActivationDone()) QApplication::processEvents();
  list.WaitUntilPainted();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const double cpu = ThreadCpuSeconds() - cpuStart;
  CloseWindow(std::move(w));
  return {took.count(), cpu, list.RowsAtFirstPaint()};
}

void FirstPaintedWindow(benchmark::State& state) {
  const auto dir = Folder(static_cast<uint32_t>(state.range(0)));
  int rows = 0;
  for (auto _ : state) {
    const TStart s = StartWindow(dir);
    state.SetIterationTime(s.seconds);
    rows = s.rowsPainted;
  }
  // A first paint without rows would not be the window the user sees.
  state.counters["rows_painted"] = rows;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The full folder against the empty one, started in turn within each
// iteration so that both see the same machine: the ratio is the median of
// the iterations' ratios.
void StartUpAgainstEmpty(benchmark::State& state) {
  const auto empty = Folder(0);
  const auto full = Folder(static_cast<uint32_t>(state.range(0)));
  std::vector<double> emptyTimes, fullTimes, ratios, cpuRatios;
  for (auto _ : state) {
    const TStart e = StartWindow(empty);
    const TStart f = StartWindow(full);
    if (f.rowsPainted == 0) {
      state.SkipWithError("the list was painted before its rows were read");
      break;
    }
    emptyTimes.push_back(e.seconds);
    fullTimes.push_back(f.seconds);
    ratios.push_back(f.seconds / e.seconds);
    cpuRatios.push_back(f.cpuSeconds / e.cpuSeconds);
    state.SetIterationTime(e.seconds + f.seconds);
  }
  state.counters["empty_ms"] = Median(emptyTimes) * 1e3;
  state.counters["full_ms"] = Median(fullTimes) * 1e3;
  state.counters["ratio"] = Median(ratios);
  state.counters["cpu_ratio"] = Median(cpuRatios);
}

// Turning to the other page for the first time: the received list's first
// paint, from a window that has been painted once.
void FirstPaintOfReceivedList(benchmark::State& state) {
  const auto rows = static_cast<uint32_t>(state.range(0));
  const auto dir = Folder(rows);
  SetProgramFolder(dir.string());
  int painted = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Settings = TSettings{};
    auto w = std::make_unique<TMainScreen>();
    {
      TPaintWatch list(w->FaxGrid);
      w->show();
      while (!w->FirstActivationDone()) QApplication::processEvents();
      list.WaitUntilPainted();
    }
    TPaintWatch list(w->RecGrid);
    state.ResumeTiming();
    w->TabSet1->setCurrentIndex(1);
    list.WaitUntilPainted();
    state.PauseTiming();
    painted = list.RowsAtFirstPaint();
    CloseWindow(std::move(w));
    state.ResumeTiming();
  }
  state.counters["rows_painted"] = painted;
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
BENCHMARK(FirstPaintedWindow)->Arg(0)->Arg(10)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(StartUpAgainstEmpty)->Arg(10)->Arg(100000)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(FirstPaintOfReceivedList)->Arg(0)->Arg(10)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
