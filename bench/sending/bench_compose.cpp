// Save in the cover sheet editor until the new row is the current row of the
// outgoing list (rendering, side file, renames, the row, the list finding
// it in the open table), against rendering the same cover alone in the same run.
// The target: the whole save takes at most 1.3 times the rendering.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "cover/CoverRenderer.h"
#include "cover/StockTemplates.h"
#include "mainscreen/TMainScreen.h"
#include "sending/TCreateEditQuickFax.h"
#include "sending/TEnterEdit.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Home() {
  static const fs::path dir = [] {
    auto d = fs::temp_directory_path() / ("cvbench_compose_" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void EnsureApp() {
  static int argc = 1;
  static char name[] = "bench_compose";
  static char* argv[] = {name, nullptr};
  if (QApplication::instance() == nullptr) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);  // lives for the whole run
  }
}

// A main window over an empty program folder that has been started before.
TMainScreen& MainWindow() {
  static TMainScreen* w = [] {
    EnsureApp();
    SetProgramFolder(Home().string());
    ::setenv("XDG_CONFIG_HOME", (Home() / "config").c_str(), 1);
    std::ofstream(Home() / "CV.INI", std::ios::binary) << "[Modem]\r\nComPort=0\r\n";
    (void)InstallStockTemplates(CoversFolder());
    auto* m = new TMainScreen;  // lives for the whole run
    m->show();
    while (!m->FirstActivationDone()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    Settings.Name = "Edith Marlowe";
    Settings.Company = "Marlowe Trading";
    Settings.Fax = "5559876";
    Settings.Voice = "5559877";
    return m;
  }();
  return *w;
}

void Fill(TCreateEditQuickFax& e) {
  e.Recipient->setText("Harold Winterbottom");
  e.RecipientFax->setText("5550123");
  e.Regarding->setText("Shipment schedule");
  e.FaxMessage->setPlainText("First line of the message\nSecond line\nThird line");
}

// Save clicked until the list's current row is the new row.
// Also gives the part until the editor has saved (files and row written).
double SaveToListedRow(TMainScreen& w, TCreateEditQuickFax& e, double& savedPart) {
  const uint32_t rowsBefore = w.FaxTable.RecordCount();
  bool finished = false;
  QObject::connect(&e, &TCreateEditQuickFax::SaveFinished, [&](bool) { finished = true; });
  const auto t0 = std::chrono::steady_clock::now();
  e.SaveButton->click();
  while (!finished) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const auto t1 = std::chrono::steady_clock::now();
  // What the New command does once the editor has saved.
  w.OutgoingRowAdded();
  w.SetButtons();
  while (!(w.FaxTable.RecordCount() == rowsBefore + 1 && w.FaxGrid->currentIndex().isValid() &&
           w.FaxTable.FieldText("FAXCOVER") == e.SavedCover().filename().string()))
    QApplication::processEvents(QEventLoop::AllEvents, 1);
  const auto t2 = std::chrono::steady_clock::now();
  savedPart = std::chrono::duration<double>(t1 - t0).count();
  return std::chrono::duration<double>(t2 - t0).count();
}

double RenderAlone(const TQuickFaxSheet& sheet) {
  const fs::path fct = ResolveNoCase(CoversFolder(), sheet.Side.Template);
  // A new file each time, as a saved cover is; removed again untimed.
  const fs::path target = Home() / "alone.APF";
  std::error_code ec;
  fs::remove(target, ec);
  const auto t0 = std::chrono::steady_clock::now();
  (void)RenderCoverPage(target.string(), fct, sheet.Values, sheet.Message);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_RenderCoverAlone(benchmark::State& state) {
  TMainScreen& w = MainWindow();
  TCreateEditQuickFax e(w.FaxTable, true);
  Fill(e);
  const TQuickFaxSheet sheet = e.CollectSheet();
  for (auto _ : state) state.SetIterationTime(RenderAlone(sheet));
}

// Both in turn within each iteration so that they see the same machine; the
// ratio is the median of the iterations' ratios.
void BM_SaveToListedRowAgainstRender(benchmark::State& state) {
  TMainScreen& w = MainWindow();
  std::vector<double> ratios, saves, savedRatios;
  for (auto _ : state) {
    auto e = std::make_unique<TCreateEditQuickFax>(w.FaxTable, true);
    Fill(*e);
    const TQuickFaxSheet sheet = e->CollectSheet();
    const double render = RenderAlone(sheet);
    double saved = 0;
    const double save = SaveToListedRow(w, *e, saved);
    savedRatios.push_back(saved / render);
    state.SetIterationTime(save);
    saves.push_back(save);
    ratios.push_back(save / render);
    // Untimed: the row and its files go again, so every iteration saves into
    // a list of the same length.
    state.PauseTiming();
    (void)w.FaxTable.Delete();
    std::error_code ec;
    fs::remove(e->SavedCover(), ec);
    fs::remove(fs::path(e->SavedCover()).replace_extension(".FCD"), ec);
    state.ResumeTiming();

  }
  state.counters["ratio"] = Median(ratios);
  state.counters["saved_ratio"] = Median(savedRatios);
  state.counters["save_ms"] = Median(saves) * 1000;
}

}  // namespace

BENCHMARK(BM_RenderCoverAlone)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToListedRowAgainstRender)->UseManualTime()->Unit(benchmark::kMillisecond);
