// How long the fax engine holds its host's thread (in the program, the
// window's) over a whole session on the virtual modem line: a send, a
// receive and a send cancelled in the middle of its page, for Class 1, 2 and
// 2.0. Every engine call the host makes is timed (the start, the cancel) and
// so is every task the engine hands to the host (each event handler call,
// the finish with its teardown). Counters per case, in milliseconds:
//   host_hold_ms (the longest of them all; target under 20), start_ms,
//   abort_ms, event_ms (the longest event), events (how many ran), and
//   ratio: host_hold_ms over the 20 ms target.
// The session's own handlers do nothing here, so what is measured is the
// engine's share.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "faxengine/HostExecutor.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/FaxConverter.h"
#include "testsupport/LineHarness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr double kTargetMs = 20.0;

// A page of text-like marks as an APF file; false when it cannot be made.
bool WriteDoc(const fs::path& file, unsigned rows, bool fine) {
  TFxBitmap b = TFxBitmap::MakeMono(1728, rows);
  uint32_t seed = 4711;
  for (unsigned y = 0; y < rows; ++y) {
    uint8_t* row = b.Row(y);
    for (unsigned x = 0; x < b.rowBytes; ++x) {
      seed = seed * 1103515245u + 12345u;
      // Set bits are white: ink is a cleared bit.
      const bool band = y % 32 < 20 && x >= 8 && x + 8 < b.rowBytes;
      row[x] = static_cast<uint8_t>(band ? ~((seed >> 16) & (seed >> 8) & 0xFF) : 0xFF);
    }
  }
  TFxFaxConverter c;
  c.SetOptions(0);
  c.Resolution = fine ? TFaxResolution::frHigh : TFaxResolution::frNormal;
  c.OutFileName = file.string();
  return c.TryConvertBitmap(b) == 0;
}

double MsSince(TClock::time_point start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

// The plain host loop, timing every task the engine posts to it.
class TTimingExecutor : public TPlainExecutor {
 public:
  void Post(std::function<void()> task) override {
    TPlainExecutor::Post([this, task = std::move(task)] {
      const auto start = TClock::now();
      task();
      longest = std::max(longest, MsSince(start));
      ++count;
    });
  }
  double longest = 0;  // touched on the host thread only
  int count = 0;
};

enum class TCaseKind { ckSend, ckReceive, ckAbort };

struct THoldCase {
  const char* name;
  TFaxClass cls;
  TCaseKind kind;
};

const THoldCase kCases[] = {
    {"class1/send", TFaxClass::fcClass1, TCaseKind::ckSend},
    {"class1/receive", TFaxClass::fcClass1, TCaseKind::ckReceive},
    {"class1/abort", TFaxClass::fcClass1, TCaseKind::ckAbort},
    {"class2/send", TFaxClass::fcClass2, TCaseKind::ckSend},
    {"class2/receive", TFaxClass::fcClass2, TCaseKind::ckReceive},
    {"class2/abort", TFaxClass::fcClass2, TCaseKind::ckAbort},
    {"class2.0/send", TFaxClass::fcClass2_0, TCaseKind::ckSend},
    {"class2.0/receive", TFaxClass::fcClass2_0, TCaseKind::ckReceive},
    {"class2.0/abort", TFaxClass::fcClass2_0, TCaseKind::ckAbort},
};

void BM_HostHold(benchmark::State& state, THoldCase c) {
  TTempFolder dir;
  double hold = 0, startMs = 0, abortMs = 0, eventMs = 0, events = 0;
  int runs = 0;
  for (auto _ : state) {
    const fs::path lineDir = dir.Path() / ("line" + std::to_string(runs));
    fs::create_directories(lineDir);
    linetest::TLineProcess line(lineDir);
    if (!line.Ready()) {
      state.SkipWithError(("line did not start: " + line.Log()).c_str());
      return;
    }
    TTimingExecutor exec;
    TFxComPort port;
    port.SetHostExecutor(&exec);
    port.SetDeviceName(line.Link(1).string());
    port.SetComNumber(1);
    port.SetPromptForPort(false);
    port.SetAutoOpen(false);
    TFxSendFax sender;
    TFxReceiveFax receiver;
    TFxAbstractFax& fax = c.kind == TCaseKind::ckReceive ? static_cast<TFxAbstractFax&>(receiver) : sender;
    fax.SetComPort(&port);
    fax.FaxClass = c.cls;
    bool done = false;
    int code = 1;
    fax.OnFaxStatus = [](TFxAbstractFax&, bool, bool) {};
    fax.OnFaxFinish = [&](TFxAbstractFax&, int rc) {
      code = rc;
      done = true;
    };
    port.SetOpen(true);
    double runStart = 0, runAbort = 0;
    if (c.kind == TCaseKind::ckReceive) {
      const fs::path tif = lineDir / "in.tif";
      if (!linetest::WriteTiff(tif, {linetest::MakePage(7, 400)})) {
        state.SkipWithError("cannot write the far end's page");
        return;
      }
      receiver.DestinationDir = (lineDir / "rx").string();
      fs::create_directories(receiver.DestinationDir);
      receiver.OneFax = true;
      const auto t = TClock::now();
      receiver.StartReceive();
      runStart = MsSince(t);
      exec.RunFor(500ms);
      line.Control("send 101 " + tif.string());
    } else {
      const fs::path doc = lineDir / "DOC.APF";
      const bool abort = c.kind == TCaseKind::ckAbort;
      if (!WriteDoc(doc, abort ? 1000 : 260, abort)) {
        state.SkipWithError("cannot make the document");
        return;
      }
      sender.DesiredBPS = abort ? 2400 : 14400;
      sender.SetPhoneNumber("200");
      sender.SetFaxFile(doc.string());
      sender.HeaderLine = "$D $T host hold $P/$N";
      const auto t = TClock::now();
      sender.StartTransmit();
      runStart = MsSince(t);
      if (abort) {
        exec.RunUntil([&] { return done || sender.ProgressCode() == fxprogress::fpSendPage; }, 90s);
        exec.RunFor(1s);
        const auto a = TClock::now();
        sender.AbortFax();
        runAbort = MsSince(a);
      }
    }
    exec.RunUntil([&] { return done; }, 150s);
    port.SetOpen(false);
    line.Stop();
    const int expected = c.kind == TCaseKind::ckAbort ? fxcode::ecCancelRequested : 0;
    if (!done || code != expected) {
      state.SkipWithError(("fax ended with " + std::to_string(code) + ": " + line.Log()).c_str());
      return;
    }
    state.SetIterationTime(std::max({runStart, runAbort, exec.longest}) / 1000.0);
    hold = std::max({hold, runStart, runAbort, exec.longest});
    startMs = std::max(startMs, runStart);
    abortMs = std::max(abortMs, runAbort);
    eventMs = std::max(eventMs, exec.longest);
    events += exec.count;
    ++runs;
  }
  if (runs == 0) return;
  state.counters["host_hold_ms"] = hold;
  state.counters["start_ms"] = startMs;
  state.counters["abort_ms"] = abortMs;
  state.counters["event_ms"] = eventMs;
  state.counters["events"] = events / runs;
  state.counters["ratio"] = hold / kTargetMs;
}

const bool kRegistered = [] {
  for (const THoldCase& c : kCases)
    benchmark::RegisterBenchmark((std::string("BM_HostHold/") + c.name).c_str(), BM_HostHold, c)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
