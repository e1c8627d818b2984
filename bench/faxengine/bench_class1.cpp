// Class 1 sends through the virtual modem line, one call per speed, to the
// far-end machine:
//  - airtime of one dense page (from the first page byte to the modem's OK
//    after the page), against the least time the line rate allows for the
//    page's coded bytes (the baseline, measured on the same page);
//  - time from dialling to the first page byte (negotiation, training).
// Counters: airtime_s, line_min_s, airtime_ratio, setup_s, far_rate.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "tools/cvmodemline/tests/LineHarness.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A page dense with short black and white runs, as small print is.
fs::path DensePage(const fs::path& dir) {
  TFxBitmap page = TFxBitmap::MakeMono(1728, 120);
  std::mt19937 rng(7);
  for (unsigned y = 0; y < page.height; ++y)
    for (unsigned x = 0; x < 1728 / 8; ++x) page.Row(y)[x] = static_cast<uint8_t>(rng() & 0xFF) | 0x81;
  TFxFaxConverter c;
  c.SetOptions(0);
  c.OutFileName = (dir / "DENSE.APF").string();
  if (c.TryConvertBitmap(page) != 0) return {};
  return c.OutFileName;
}

void BM_Class1PageAirtime(benchmark::State& state) {
  const int bps = static_cast<int>(state.range(0));
  linetest::TTempDir dir;
  const fs::path doc = DensePage(dir.Path());
  TFxApfReader reader;
  ApfPageHeader ph;
  uint64_t at = 0;
  if (doc.empty() || reader.Open(doc.string()) < 0 || reader.FindPage(1, ph, at) < 0) {
    state.SkipWithError("page not made");
    return;
  }
  const double lineMin = static_cast<double>(ph.imageLength) * 8.0 / bps;
  double airtime = 0, setup = 0;
  int farRate = 0;
  for (auto _ : state) {
    linetest::TLineProcess line(dir.Path() / "line");
    if (!line.Ready()) {
      state.SkipWithError("line did not start");
      return;
    }
    TPlainExecutor exec;
    TFxComPort port;
    port.SetHostExecutor(&exec);
    port.SetDeviceName(line.Link(1).string());
    port.SetComNumber(1);
    port.SetPromptForPort(false);
    port.SetAutoOpen(false);
    TFxSendFax fax;
    fax.SetComPort(&port);
    fax.FaxClass = TFaxClass::fcClass1;
    fax.DesiredBPS = static_cast<uint16_t>(bps);
    fax.SetFaxFile(doc.string());
    fax.SetPhoneNumber("200");
    Clock::time_point dialled{}, firstByte{}, pageDone{};
    fax.OnFaxStatus = [&](TFxAbstractFax& f, bool, bool) {
      const int p = f.ProgressCode();
      const auto now = Clock::now();
      if (p == fxprogress::fpDialing && dialled == Clock::time_point{}) dialled = now;
      if (p == fxprogress::fpSendPage && firstByte == Clock::time_point{}) firstByte = now;
      if (p == fxprogress::fpSendPageStatus && pageDone == Clock::time_point{}) pageDone = now;
    };
    bool done = false;
    int code = 1;
    fax.OnFaxFinish = [&](TFxAbstractFax&, int c) {
      code = c;
      done = true;
    };
    port.SetOpen(true);
    fax.StartTransmit();
    exec.RunUntil([&] { return done; }, std::chrono::seconds(300));
    port.SetOpen(false);
    line.Stop();
    if (code != 0 || pageDone == Clock::time_point{}) {
      state.SkipWithError("the call failed");
      return;
    }
    airtime = std::chrono::duration<double>(pageDone - firstByte).count();
    setup = std::chrono::duration<double>(firstByte - dialled).count();
    const std::string log = linetest::ReadText(line.Received() / "faxes.log");
    const size_t r = log.rfind(" rate=");
    farRate = r == std::string::npos ? 0 : std::atoi(log.c_str() + r + 6);
    state.SetIterationTime(airtime);
  }
  state.counters["airtime_s"] = airtime;
  state.counters["line_min_s"] = lineMin;
  state.counters["airtime_ratio"] = airtime / lineMin;
  state.counters["setup_s"] = setup;
  state.counters["far_rate"] = farRate;
}

}  // namespace

BENCHMARK(BM_Class1PageAirtime)
    ->Arg(2400)->Arg(4800)->Arg(7200)->Arg(9600)->Arg(12000)->Arg(14400)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
