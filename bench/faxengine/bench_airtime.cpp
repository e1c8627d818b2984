// Page airtime over the virtual modem line: Corvane sends one dense page to
// the far-end machine and the sending modem's own record says when the
// page's first and last data bits went on the line, how many bytes it sent
// and how often it ran out of data. The baseline, measured in the same run,
// is the line-rate minimum: the bytes sent (the program's fill included)
// times 8 over the bit rate. Counters per case:
//   airtime_s, minimum_s, ratio (airtime / minimum, target <= 1.02),
//   underruns (times the modem had nothing to send, target 0), fill_bytes,
//   dial_to_page_s (dialling to the page's first data bit), rate, page_bytes;
//   connect_to_page_s (the answer to the page's first data bit, as the
//   sending modem saw it) against far_negotiation_s, the far end's own record
//   of the same negotiation (its answer to the CFR it sent), and their ratio
//   negotiation_ratio: what the sender adds to the protocol's own exchanges.
// Cases are a table of (class, bit rate); add rows for more classes or speeds.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "faxengine/HostExecutor.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "testsupport/LineHarness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct TAirtimeCase {
  const char* name;
  TFaxClass cls;
  uint16_t bps;
};

const TAirtimeCase kCases[] = {
    {"class2/2400", TFaxClass::fcClass2, 2400},
    {"class2/4800", TFaxClass::fcClass2, 4800},
    {"class2/7200", TFaxClass::fcClass2, 7200},
    {"class2/9600", TFaxClass::fcClass2, 9600},
    {"class2/12000", TFaxClass::fcClass2, 12000},
    {"class2/14400", TFaxClass::fcClass2, 14400},
    {"class2.0/2400", TFaxClass::fcClass2_0, 2400},
    {"class2.0/4800", TFaxClass::fcClass2_0, 4800},
    {"class2.0/7200", TFaxClass::fcClass2_0, 7200},
    {"class2.0/9600", TFaxClass::fcClass2_0, 9600},
    {"class2.0/12000", TFaxClass::fcClass2_0, 12000},
    {"class2.0/14400", TFaxClass::fcClass2_0, 14400},
    {"class1/2400", TFaxClass::fcClass1, 2400},
    {"class1/4800", TFaxClass::fcClass1, 4800},
    {"class1/7200", TFaxClass::fcClass1, 7200},
    {"class1/9600", TFaxClass::fcClass1, 9600},
    {"class1/12000", TFaxClass::fcClass1, 12000},
    {"class1/14400", TFaxClass::fcClass1, 14400},
};

// A fine-resolution page of small text-like marks: runs of one to a few
// pixels all across the line, so that every row codes long and the modem
// always has data to send.
TFxBitmap DensePage(unsigned rows) {
  TFxBitmap b = TFxBitmap::MakeMono(1728, rows);
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (unsigned y = 0; y < rows; ++y) {
    uint8_t* row = b.Row(y);
    const bool textBand = y % 32 < 22;
    for (unsigned x = 0; x < b.rowBytes; ++x) {
      // Set bits are white: ink is a cleared bit.
      uint8_t ink = 0;
      if (textBand && x >= 8 && x + 8 < b.rowBytes) ink = static_cast<uint8_t>(next() & next() & 0xFF);
      row[x] = static_cast<uint8_t>(~ink);
    }
  }
  return b;
}

// The page as an APF file, made once per run (about 30 KB of T.4 data).
const fs::path& PageFile() {
  static TTempFolder dir;
  static fs::path file;
  if (file.empty()) {
    TFxFaxConverter c;
    c.SetOptions(0);
    c.LeftMargin = 0;
    c.TopMargin = 0;
    c.Resolution = TFaxResolution::frHigh;
    c.OutFileName = (dir.Path() / "DENSE.APF").string();
    if (c.TryConvertBitmap(DensePage(150)) == 0) file = c.OutFileName;
  }
  return file;
}

// One burst of the sending modem's record, read from the line's status.
struct TBurst {
  long long rate = 0, bytes = 0, startUs = -1, airtimeUs = -1, minimumUs = -1, underruns = 0, fill = 0;
};

long long Field(const std::string& s, const std::string& key) {
  const size_t p = s.find(key + "=");
  return p == std::string::npos ? -1 : std::atoll(s.c_str() + p + key.size() + 1);
}

// The largest complete burst of `modem` (the page: the training check is
// smaller), or nothing.
std::optional<TBurst> PageBurst(const std::string& status, const std::string& modem) {
  const size_t at = status.find(modem + " transmitted ");
  if (at == std::string::npos) return std::nullopt;
  const size_t end = status.find(';', at);
  const std::string line = status.substr(at, end == std::string::npos ? std::string::npos : end - at);
  std::optional<TBurst> best;
  for (size_t p = line.find('['); p != std::string::npos; p = line.find('[', p + 1)) {
    const std::string b = line.substr(p, line.find(']', p) - p);
    if (b.find("incomplete") != std::string::npos) continue;
    TBurst r{Field(b, "rate"), Field(b, "bytes"), Field(b, "start-us"), Field(b, "airtime-us"),
             Field(b, "minimum-us"), Field(b, "underruns"), Field(b, "fill")};
    if (!best || r.bytes > best->bytes) best = r;
  }
  return best;
}

// The sending modem's connect time and the far end's negotiation, in
// microseconds from the status text; -1 when missing.
long long AnsweredUs(const std::string& status, const std::string& modem) {
  const size_t at = status.find(modem + " transmitted ");
  return at == std::string::npos ? -1 : Field(status.substr(at, status.find('\n', at) - at), "answered-us");
}

void BM_PageAirtime(benchmark::State& state, TAirtimeCase c) {
  TTempFolder dir;
  const fs::path& page = PageFile();
  if (page.empty()) {
    state.SkipWithError("cannot make the page");
    return;
  }
  double airtime = 0, minimum = 0, dialToPage = 0, underruns = 0, fill = 0, rate = 0, bytes = 0;
  double connectToPage = 0, farNegotiation = 0;
  int runs = 0;
  for (auto _ : state) {
    const fs::path lineDir = dir.Path() / ("line" + std::to_string(runs));
    fs::create_directories(lineDir);
    linetest::TLineProcess line(lineDir);
    if (!line.Ready()) {
      state.SkipWithError(("line did not start: " + line.Log()).c_str());
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
    fax.FaxClass = c.cls;
    fax.DesiredBPS = c.bps;
    fax.SetPhoneNumber("200");
    fax.SetFaxFile(page.string());
    fax.HeaderLine = "$D $T airtime $P/$N";
    fax.SetStationID("Corvane bench");
    bool done = false;
    int code = 1;
    fax.OnFaxFinish = [&](TFxAbstractFax&, int rc) {
      code = rc;
      done = true;
    };
    port.SetOpen(true);
    fax.StartTransmit();
    exec.RunUntil([&] { return done; }, 180s);
    port.SetOpen(false);
    const std::string status = line.Control("status");
    line.Stop();
    if (!done || code != 0) {
      state.SkipWithError(("fax failed with " + std::to_string(code) + ": " + line.Log()).c_str());
      return;
    }
    const auto b = PageBurst(status, "com1");
    if (!b || b->airtimeUs <= 0 || b->minimumUs <= 0) {
      state.SkipWithError(("no page in the modem's record: " + status).c_str());
      return;
    }
    const long long connected = AnsweredUs(status, "com1");
    const long long farUs = Field(status, "farend negotiation-us");
    if (connected < 0 || farUs <= 0) {
      state.SkipWithError(("no negotiation record: " + status).c_str());
      return;
    }
    connectToPage += static_cast<double>(b->startUs - connected) / 1e6;
    farNegotiation += static_cast<double>(farUs) / 1e6;
    state.SetIterationTime(static_cast<double>(b->airtimeUs) / 1e6);
    airtime += static_cast<double>(b->airtimeUs) / 1e6;
    minimum += static_cast<double>(b->minimumUs) / 1e6;
    dialToPage += static_cast<double>(b->startUs) / 1e6;
    underruns += static_cast<double>(b->underruns);
    fill += static_cast<double>(b->fill);
    rate = static_cast<double>(b->rate);
    bytes = static_cast<double>(b->bytes);
    ++runs;
  }
  if (runs == 0) return;
  const double n = runs;
  state.counters["airtime_s"] = airtime / n;
  state.counters["minimum_s"] = minimum / n;
  state.counters["ratio"] = airtime / minimum;
  state.counters["underruns"] = underruns;
  state.counters["fill_bytes"] = fill;
  state.counters["dial_to_page_s"] = dialToPage / n;
  state.counters["rate"] = rate;
  state.counters["page_bytes"] = bytes;
  state.counters["connect_to_page_s"] = connectToPage / n;
  state.counters["far_negotiation_s"] = farNegotiation / n;
  state.counters["negotiation_ratio"] = connectToPage / farNegotiation;
}

const bool kRegistered = [] {
  for (const TAirtimeCase& c : kCases)
    benchmark::RegisterBenchmark((std::string("BM_PageAirtime/") + c.name).c_str(), BM_PageAirtime, c)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  return true;
}();

}  // namespace
