// From the end of a received call (the receive component's "finished OK"
// event) to the new row painted in the received list, against appending one
// row to the received table and repainting the list alone, in the same run
// and over the same table. ReceivedRowAgainstAppend gives the ratio; the
// target is a row on screen within 300 ms of the call's end.
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTabBar>
#include <QTableView>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>
#include <unistd.h>

#include "faximage/Apf.h"
#include "mainscreen/ReceiveMode.h"
#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/core/FaxTables.h"

namespace fs = std::filesystem;

namespace {

void Must(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "bench_receive: %s failed\n", what);
    std::abort();
  }
}

// A program folder whose received table has `rows` rows, and a two-page
// image to copy in as each new fax.
fs::path Folder(uint32_t rows) {
  const fs::path dir = fs::temp_directory_path() / ("cvbench-receive-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(rows));
  if (fs::exists(dir / "CVREC.DBF")) return dir;
  fs::create_directories(dir / "Receive");
  std::ofstream(dir / "CV.INI", std::ios::binary) << "[Modem]\r\nComPort=0\r\n";
  {
    TXbEngine engine;
    TXbDataTable t(engine);
    TXbase x(engine);
    Must(OpenReceivedTable(t, x, dir), "opening the received table");
    TXbTable* tb = t.Table();
    tb->BeginBatch();
    for (uint32_t i = 0; i < rows; ++i) {
      Must(static_cast<bool>(tb->AppendBlank()), "append");
      Must(static_cast<bool>(tb->SetValue(0, TXbValue::Date(XbJulian(2015, 1, 1) + static_cast<int32_t>(i % 4000)))),
           "date");
      Must(static_cast<bool>(tb->SetText(1, "10:00")), "time");
      Must(static_cast<bool>(tb->SetText(2, "Sender " + std::to_string(i % 977))), "from");
      Must(static_cast<bool>(tb->Post()), "post");
    }
    Must(static_cast<bool>(tb->EndBatch()), "batch");
    x.AddIndexTag("DATEND", "DTOS(DATEREC)+TIMEREC", false, kTagCondition);
    Must(static_cast<bool>(t.Close()), "close");
  }
  TFxApfWriter w;
  Must(w.Create(dir / "image.apf") == 0, "image");
  const uint8_t eolWhite[] = {0x00, 0x80, 0xB2, 0x59, 0x01};
  for (int p = 0; p < 2; ++p) {
    for (int line = 0; line < 200; ++line) Must(w.WriteRecord(eolWhite, sizeof eolWhite) == 0, "line");
    Must(w.EndPage() == 0, "page");
  }
  Must(w.Finish("+1 555 0200") == 0, "finish");
  return dir;
}

// Waits for the next paint of a list's rows.
class TPaintWatch : public QObject {
 public:
  explicit TPaintWatch(QTableView* list) : list_(list) { list->viewport()->installEventFilter(this); }
  ~TPaintWatch() override {
    if (list_) list_->viewport()->removeEventFilter(this);
  }
  void Arm() { painted_ = false; }
  void WaitUntilPainted() {
    while (!painted_) QApplication::processEvents(QEventLoop::AllEvents, 50);
  }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted_ = true;
    return false;
  }

 private:
  QPointer<QTableView> list_;
  bool painted_ = false;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void ReceivedRowAgainstAppend(benchmark::State& state) {
  const fs::path dir = Folder(static_cast<uint32_t>(state.range(0)));
  SetProgramFolder(dir.string());
  Settings = TSettings{};
  TMainScreen w;
  w.show();
  while (!w.FirstActivationDone()) QApplication::processEvents();
  w.TabSet1->setCurrentIndex(1);
  TPaintWatch list(w.RecGrid);
  list.Arm();
  list.WaitUntilPainted();
  TFxReceiveFax& fax = w.ReceiveMode->FxReceiveFax1;
  std::vector<double> received, appended, ratios;
  int n = 0;
  for (auto _ : state) {
    // The list alone: one row appended and the list repainted.
    QElapsedTimer clock;
    list.Arm();
    clock.start();
    TXbDataTable& t = w.RecTable;
    Must(t.Append() && t.SetFieldText("FROM", "Baseline") && t.SetFieldText("TIMEREC", "11:00") && t.Post(), "row");
    t.DataChanged();
    list.WaitUntilPainted();
    const double base = static_cast<double>(clock.nsecsElapsed()) / 1e6;

    // A call that has just ended: its image is in the Receive folder and
    // the component reports the fax received.
    const fs::path image = dir / "Receive" / ("BENCH" + std::to_string(++n) + ".APF");
    fs::copy_file(dir / "image.apf", image, fs::copy_options::overwrite_existing);
    fax.SetFaxFile(image.string());
    fax.HandleMessage(TFaxMessage::fmLog, 4);
    list.Arm();
    clock.restart();
    fax.HandleMessage(TFaxMessage::fmLog, 5);
    list.WaitUntilPainted();
    const double got = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    state.SetIterationTime(got / 1e3);
    received.push_back(got);
    appended.push_back(base);
    ratios.push_back(got / base);
  }
  state.counters["received_ms"] = Median(received);
  state.counters["append_ms"] = Median(appended);
  state.counters["ratio"] = Median(ratios);
  w.close();
}

}  // namespace

BENCHMARK(ReceivedRowAgainstAppend)->Arg(10)->Arg(100000)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
