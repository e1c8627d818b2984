// Dispatch log and trace: entry layout, dump format, rings; tick arithmetic.

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>

#include "faxengine/port/ComDevice.h"
#include "testsupport/Pty.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/port/DispatchLog.h"
#include "faxengine/port/PortErrors.h"

namespace {

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Splits CR LF text into lines, failing on any bare LF.
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "unterminated last line";
    if (end == std::string::npos) break;
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> ExpectedLines(const std::string& name) {
  std::ifstream f(std::string(CORVANE_SOURCE_DIR) + "/faxengine/tests/port/data/" + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

// The same entries for both hex settings.
void FillLog(TDispatchLog& log) {
  uint32_t now = 0;
  log.SetClock([&now] { return now; });
  auto at = [&](uint32_t ms) { now = ms; };
  at(0);
  log.Add(TLogType::ltTrigAlloc, TLogSubtype::lsTrigTimer, 8);
  at(1);
  const uint8_t kind = 3;
  log.Add(TLogType::ltTrigAlloc, TLogSubtype::lsTrigStatus, 19, {&kind, 1});
  at(12);
  log.Add(TLogType::ltTrigDataChange, TLogSubtype::lsTrigTimer, 8, Bytes(std::string("\x12\x00\x00\x00", 4)));
  at(1234);
  log.Add(TLogType::ltDispatch, TLogSubtype::lsWriteCom, 8, Bytes("AT+FCLASS=2\r"));
  at(65432);
  log.Add(TLogType::ltDispatch, TLogSubtype::lsReadCom, 48,
          Bytes("\r\nOK\r\n+FCON\r\n+FDCS:0,5,0,2,0,0,0,0\r\nCONNECT 9600 ~{}"));
  at(70000);
  log.Add(TLogType::ltTrigger, TLogSubtype::lsData, 24);
  log.Add(TLogType::ltTrigger, TLogSubtype::lsStatus, 19);
  at(9999999);
  log.Add(TLogType::ltUser, TLogSubtype::lsNone, 0, Bytes("Page 1 sent"));
  at(12345678);
  log.Add(TLogType::ltTrigDispose, TLogSubtype::lsTrigStatus, 19, {&kind, 1});
  log.Add(TLogType::ltTrigHandlerAlloc, TLogSubtype::lsProcedure, 0);
}

void CompareWithExpected(const std::string& text, const std::string& expectedFile) {
  const auto lines = CrLfLines(text);
  const auto expected = ExpectedLines(expectedFile);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "FAXENG v1.00");
  EXPECT_TRUE(lines[1].rfind("Compiler : GCC ", 0) == 0 || lines[1].rfind("Compiler : Clang ", 0) == 0) << lines[1];
  EXPECT_EQ(lines[2].rfind("Operating System : Linux ", 0), 0u) << lines[2];
  const std::vector<std::string> body(lines.begin() + 3, lines.end());
  ASSERT_EQ(body.size(), expected.size());
  for (size_t i = 0; i < body.size(); ++i) EXPECT_EQ(body[i], expected[i]) << "line " << i + 4;
}

TEST(DispatchLogTest, DumpMatchesTheExpectedLayout) {
  TTempFolder dir;
  TDispatchLog log;
  log.SetSize(100000);
  FillLog(log);
  ASSERT_TRUE(log.Dump(dir.Path() / "hex.log", false, true));
  CompareWithExpected(ReadFile(dir.Path() / "hex.log"), "log_hex.txt");
  ASSERT_TRUE(log.Dump(dir.Path() / "dec.log", false, false));
  CompareWithExpected(ReadFile(dir.Path() / "dec.log"), "log_dec.txt");
  // Appending adds a second header and the entries after the first dump.
  const std::string once = ReadFile(dir.Path() / "hex.log");
  ASSERT_TRUE(log.Dump(dir.Path() / "hex.log", true, true));
  EXPECT_EQ(ReadFile(dir.Path() / "hex.log"), once + once);
}

TEST(DispatchLogTest, EmptyLogWritesNothingAndTheRingDropsOldestEntries) {
  TTempFolder dir;
  const auto file = dir.Path() / "keep.log";
  { std::ofstream(file) << "earlier run"; }
  TDispatchLog log;
  EXPECT_TRUE(log.Dump(file, false, true));
  EXPECT_EQ(ReadFile(file), "earlier run");

  log.SetSize(3 * 16 + 10);
  log.Add(TLogType::ltTrigger, TLogSubtype::lsTimer, 1);
  log.Add(TLogType::ltTrigger, TLogSubtype::lsTimer, 2);
  log.Add(TLogType::ltTrigger, TLogSubtype::lsTimer, 3);
  ASSERT_EQ(log.Entries().size(), 3u);
  log.Add(TLogType::ltUser, TLogSubtype::lsNone, 4, Bytes("0123456789"));
  ASSERT_EQ(log.Entries().size(), 3u);
  EXPECT_EQ(log.Entries().front().data, 2u);
  log.Add(TLogType::ltUser, TLogSubtype::lsNone, 5, Bytes("0"));
  ASSERT_EQ(log.Entries().size(), 2u);
  EXPECT_EQ(log.Entries().front().data, 4u);
  // An entry larger than the whole ring keeps what fits.
  log.Add(TLogType::ltUser, TLogSubtype::lsNone, 5, Bytes(std::string(500, 'z')));
  ASSERT_EQ(log.Entries().size(), 1u);
  EXPECT_EQ(log.Entries().front().extra.size(), 3u * 16 + 10 - 16);
}

TEST(DispatchTraceTest, DumpMatchesTheExpectedLayout) {
  TTempFolder dir;
  TDispatchTrace trace;
  EXPECT_EQ(trace.SetSize(TDispatchTrace::kMaxEntries + 1), fxcode::ecBadArgument);
  ASSERT_EQ(trace.SetSize(1000), 0);
  EXPECT_TRUE(trace.Dump(dir.Path() / "none.trc", false, true));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "none.trc"));
  trace.Add('T', Bytes("ATZ\r"));
  trace.Add('R', Bytes("\r\nOK\r\n"));
  trace.Add('T', Bytes("AT+FCLASS=?\r"));
  trace.Add('R', Bytes(std::string(100, 'U') + "\x10\x03 end"));
  trace.Add('X', Bytes("!"));
  ASSERT_TRUE(trace.Dump(dir.Path() / "hex.trc", false, true));
  ASSERT_TRUE(trace.Dump(dir.Path() / "dec.trc", false, false));
  const auto hex = CrLfLines(ReadFile(dir.Path() / "hex.trc"));
  const auto dec = CrLfLines(ReadFile(dir.Path() / "dec.trc"));
  EXPECT_EQ(hex, ExpectedLines("trace_hex.txt"));
  EXPECT_EQ(dec, ExpectedLines("trace_dec.txt"));
  for (const auto& line : hex) EXPECT_LE(line.size(), 78u);

  // A small ring keeps only the newest bytes.
  ASSERT_EQ(trace.SetSize(4), 0);
  trace.Add('T', Bytes("ATZ\r"));
  trace.Add('R', Bytes("OK"));
  EXPECT_EQ(trace.Format(true), "Transmit: Z[0D]\r\nReceive: OK\r\n");
}

TEST(DispatchLogTest, AnOpenPortLogsAndTracesItsTrafficAndDumpsAtClose) {
  TTempFolder dir, locks;
  SetLockFolder(locks.Path());
  TPty pty;
  TFxComPort port;
  port.SetDeviceName(pty.SlavePath());
  port.SetLogName((dir.Path() / "CVOUT.LOG").string());
  port.SetTraceName((dir.Path() / "FAXENG.TRC").string());
  port.SetLogging(TTraceLogState::tlOn);
  port.SetTracing(TTraceLogState::tlOn);
  port.SetOpen(true);
  auto* d = port.Dispatcher();
  const int ok = d->AddDataTrigger("OK", false);
  std::atomic<int> statuses{0};
  d->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmStatus)) ++statuses;
  });
  const int t = d->NewStatusTrigger(5);
  d->ArmStatusTrigger(t, 0, true);
  ASSERT_TRUE(WaitFor([&] { return statuses == 1; }));
  port.WriteString("ATZ\r");
  EXPECT_EQ(pty.Read(4), "ATZ\r");
  pty.Write("\r\nOK\r\n");
  ASSERT_TRUE(WaitFor([&] { return d->InputCount() == 6; }));
  port.AddLogText("Dialing");
  port.SetOpen(false);
  EXPECT_EQ(port.Logging(), TTraceLogState::tlOff);

  const std::string log = ReadFile(dir.Path() / "CVOUT.LOG");
  auto has = [&](const std::string& text) { return log.find(text) != std::string::npos; };
  char allocData[64];
  std::snprintf(allocData, sizeof allocData, "TrigAllc  Data          %08x", ok);
  EXPECT_TRUE(has(allocData));
  EXPECT_TRUE(has("TrigAllc  Status        00000015  (Output sent)"));
  EXPECT_TRUE(has("Dispatch  WriteCom      00000004  ATZ[0D]"));
  EXPECT_TRUE(has("  [0D][0A]OK"));
  EXPECT_TRUE(has("Dispatch  ReadCom       0000000"));
  EXPECT_TRUE(has("Trigger   Data          00000008"));
  EXPECT_TRUE(has("Trigger   Status        00000015"));
  EXPECT_TRUE(has("User                    00000000  Dialing"));
  EXPECT_EQ(ReadFile(dir.Path() / "FAXENG.TRC"), "Transmit: ATZ[0D]\r\nReceive: [0D][0A]OK[0D][0A]\r\n");

  // Nothing logged this time: the file of the last run stays.
  port.SetOpen(true);
  port.SetOpen(false);
  EXPECT_EQ(ReadFile(dir.Path() / "CVOUT.LOG"), log);
  EXPECT_THROW(port.SetTraceSize(4000001), EBadArgument);
  SetLockFolder({});
}

TEST(TicksTest, SecondsAndTicksConvert) {
  EXPECT_EQ(SecsToTicks(1), 18);
  EXPECT_EQ(SecsToTicks(10), 182);
  EXPECT_EQ(SecsToTicks(60), 1092);
  EXPECT_EQ(TicksToSecs(18), 1);
  EXPECT_EQ(TicksToSecs(182), 10);
  EXPECT_EQ(TicksToSecs(0), 0);
  EXPECT_EQ(TicksToSecs(SecsToTicks(3600)), 3600);
  EXPECT_TRUE(TicksReached(10, 10));
  EXPECT_FALSE(TicksReached(9, 10));
  // Across the wrap of the counter.
  EXPECT_TRUE(TicksReached(5, 0xFFFFFFF0u));
  EXPECT_FALSE(TicksReached(0xFFFFFFF0u, 5));
  const TTicks before = TicksNow();
  DelayMs(120);
  EXPECT_GE(TicksNow() - before, 2u);
}

}  // namespace
