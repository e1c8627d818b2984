// From "Send Fax Now" to the modem's dial command, in steps, against the
// same steps of `cvfax send` in the same run. Both dial the far end of the
// virtual line with the same Class 1 modem; the line logs, on the monotonic
// clock, when the device was opened and each command line it got. Steps:
//   open:  the press (or cvfax's start) to the device's open;
//   check: the open to the first initialisation command (the send window's
//          "AT" check and its settling pause lie here; cvfax has none);
//   init:  the first initialisation command to the last before dialling;
//   dial:  the last initialisation command to the dial command.
// Counters: each step in ms for both and their ratio (window / cvfax,
// target <= 1.1), and the longest gap of a 5 ms timer on the window's thread
// from the press through the cancel that ends each call after its dial.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mainscreen/TMainScreen.h"
#include "sending/tests/SendDriver.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "testsupport/LineHarness.h"
#include "testsupport/LinePages.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

long long MonotonicUs(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

struct TSteps {
  double openMs = 0, checkMs = 0, initMs = 0, dialMs = 0;
};

// The steps of the first call on com1 after t0, from the line's log; empty
// until its dial command is there.
std::optional<TSteps> StepsFromLog(const std::string& log, long long t0, bool windowCheck) {
  long long open = -1;
  std::vector<std::pair<long long, std::string>> commands;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string tag, modem, what, text;
    long long us = 0;
    if (!(l >> tag >> modem >> what >> us) || tag != "cvmodemline:" || modem != "com1" || us < t0) continue;
    std::getline(l, text);
    if (!text.empty() && text.front() == ' ') text.erase(0, 1);
    if (what == "open" && open < 0) open = us;
    if (what == "command" && open >= 0) commands.emplace_back(us, text);
  }
  size_t first = 0;
  if (windowCheck) {
    while (first < commands.size() && commands[first].second != "AT") ++first;
    ++first;  // the check's own "AT"
  }
  for (size_t i = first; i < commands.size(); ++i) {
    if (commands[i].second.rfind("ATD", 0) != 0) continue;
    if (i == first) return std::nullopt;
    TSteps s;
    s.openMs = static_cast<double>(open - t0) / 1000;
    s.checkMs = static_cast<double>(commands[first].first - open) / 1000;
    s.initMs = static_cast<double>(commands[i - 1].first - commands[first].first) / 1000;
    s.dialMs = static_cast<double>(commands[i].first - commands[i - 1].first) / 1000;
    return s;
  }
  return std::nullopt;
}

class TSendBench {
 public:
  TSendBench() {
    ::setenv("CVMODEMLINE_LOG_COMMANDS", "1", 1);
    line_ = std::make_unique<linetest::TLineProcess>(temp_.Path() / "line");
    fs::create_directories(home_ / "SEND");
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    std::ofstream(home_ / "CV.INI", std::ios::binary)
        << "[User]\r\nName=Ann Lee\r\nFax=555 0101\r\n[Dialing]\r\nDialAttempts=1\r\nRetryWait=5\r\n"
        << "[Modem]\r\nComPort=0\r\nFaxClass=1\r\nMaximumBPS=14400\r\n[Ports]\r\nCOM1="
        << line_->Link(1).string() << "\r\n";
    linepages::WriteApf(home_ / "SEND" / "JOB1.APF", {linetest::MakePage(11, 240)}, false);
    linepages::WriteApf(temp_.Path() / "DOC.APF", {linetest::MakePage(11, 240)}, false);
    std::ofstream(home_ / "SEND" / "JOB1.ZRD", std::ios::binary) << "200\r\nFar End\r\nFirst fax\r\n";
    SetProgramFolder(home_.string() + "/");
    Settings = TSettings{};
  }
  bool Ready() const { return line_->Ready(); }

  // One press of "Send Fax Now", cancelled as soon as the modem has dialled.
  std::optional<TSteps> Window(double& stallMs) {
    TMainScreen w;
    w.show();
    if (!QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000) || !w.SendButton->isEnabled()) return {};
    sendtest::TSendScript script;
    std::optional<TSteps> steps;
    script.cancelWhen = [&](TSendFaxForm&) {
      if (script.presses == 0) return false;
      steps = StepsFromLog(line_->Log(), MonotonicUs(script.pressedAt), true);
      return steps.has_value();
    };
    sendtest::TSendDriver driver(script);
    QTimer::singleShot(0, w.SendButton, &QPushButton::click);
    if (!QTest::qWaitFor([&] { return script.closed && !QApplication::activeModalWidget(); }, 120000)) return {};
    stallMs = script.meter.LongestMs();
    w.close();
    return steps;
  }

  // The same call made by cvfax, ended with SIGTERM once it has dialled.
  std::optional<TSteps> Cvfax() {
    const auto t0 = std::chrono::steady_clock::now();
    linetest::TProcess p({CVFAX_BIN, "send", "--port", line_->Link(1).string(), "--class", "1", "--number", "200",
                          "--bps", "14400", (temp_.Path() / "DOC.APF").string()},
                         temp_.Path() / "cvfax.log");
    std::optional<TSteps> steps;
    for (int i = 0; i < 6000 && !steps; ++i) {
      steps = StepsFromLog(line_->Log(), MonotonicUs(t0), false);
      if (!steps) std::this_thread::sleep_for(5ms);
    }
    p.Terminate(30s);
    return steps;
  }

 private:
  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
  std::unique_ptr<linetest::TLineProcess> line_;
};

void SendToDial(benchmark::State& state) {
  TSendBench bench;
  if (!bench.Ready()) {
    state.SkipWithError("the virtual line did not start");
    return;
  }
  TSteps gui, cli;
  double stall = 0;
  int n = 0;
  for (auto _ : state) {
    double s = 0;
    const auto g = bench.Window(s);
    const auto c = bench.Cvfax();
    if (!g || !c) {
      state.SkipWithError("a call did not reach its dial command");
      return;
    }
    gui.openMs += g->openMs, gui.checkMs += g->checkMs, gui.initMs += g->initMs, gui.dialMs += g->dialMs;
    cli.openMs += c->openMs, cli.checkMs += c->checkMs, cli.initMs += c->initMs, cli.dialMs += c->dialMs;
    stall = std::max(stall, s);
    ++n;
    state.SetIterationTime((g->openMs + g->checkMs + g->initMs + g->dialMs) / 1000);
  }
  const auto put = [&](const char* name, double window, double cvfax) {
    state.counters[std::string("window_") + name + "_ms"] = window / n;
    state.counters[std::string("cvfax_") + name + "_ms"] = cvfax / n;
    state.counters[std::string(name) + "_ratio"] = cvfax > 0 ? window / cvfax : 0;
  };
  put("open", gui.openMs, cli.openMs);
  put("check", gui.checkMs, cli.checkMs);
  put("init", gui.initMs, cli.initMs);
  put("dial", gui.dialMs, cli.dialMs);
  put("total", gui.openMs + gui.checkMs + gui.initMs + gui.dialMs, cli.openMs + cli.checkMs + cli.initMs + cli.dialMs);
  state.counters["longest_stall_ms"] = stall;
}

}  // namespace

BENCHMARK(SendToDial)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
