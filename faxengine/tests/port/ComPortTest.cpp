// The port component over pseudo-terminals: naming, opening and its errors,
// exclusive use, data in both directions, AwaitText, host-thread events,
// closing from a handler, line settings and number changes while open.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <random>

#include "faxengine/port/ComDevice.h"
#include "testsupport/Pty.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/port/PortErrors.h"

namespace {

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    ini_ = WritePortsIni(home_.Path(), {{5, pty_.SlavePath()}, {6, other_.SlavePath()}, {7, "/dev/cv-no-such-tty"}});
    port_.SetIniFileName(ini_);
    port_.SetComNumber(5);
  }
  void TearDown() override {
    port_.SetOpen(false);
    TFxComPort::SetPortChooser(nullptr);
    SetLockFolder({});
  }
  static int OpenError(TFxComPort& port) {
    try {
      port.SetOpen(true);
    } catch (const EFxException& e) {
      return e.ErrorCode();
    }
    return 0;
  }

  TTempFolder locks_, home_;
  TPty pty_, other_;
  std::filesystem::path ini_;
  TPlainExecutor host_;  // outlives the port, as the application's does
  TFxComPort port_;
};

TEST_F(ComPortTest, PortNumbersMapThroughThePortsSection) {
  EXPECT_EQ(ComDeviceName(5, ini_), pty_.SlavePath());
  EXPECT_EQ(ComDeviceName(1, ini_), "/dev/ttyS0");
  EXPECT_EQ(ComDeviceName(12, ""), "/dev/ttyS11");
  EXPECT_EQ(ComDeviceName(3, home_.Path() / "missing.ini"), "/dev/ttyS2");
  EXPECT_EQ(port_.DevicePath(), pty_.SlavePath());
}

TEST_F(ComPortTest, OpenFailuresGiveTheirCodes) {
  TFxComPort port;
  port.SetIniFileName(ini_);
  port.SetComNumber(7);
  EXPECT_EQ(OpenError(port), fxcode::ecBadPortNumber);
  port.SetDeviceName("/etc/hostname");  // exists, but no terminal
  EXPECT_EQ(OpenError(port), fxcode::ecBadPortNumber);
  port.SetDeviceName("");

  port.SetComNumber(0);
  port.SetPromptForPort(false);
  EXPECT_EQ(OpenError(port), fxcode::ecNoPortSelected);
  port.SetPromptForPort(true);
  EXPECT_EQ(OpenError(port), fxcode::ecNoPortSelected);  // no chooser
  TFxComPort::SetPortChooser([] { return std::nullopt; });
  EXPECT_EQ(OpenError(port), fxcode::ecNoPortSelected);  // aborted
  TFxComPort::SetPortChooser([] { return std::optional<int>(6); });
  EXPECT_EQ(OpenError(port), 0);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.ComNumber(), 6);
  EXPECT_THROW(port.SetComNumber(7), EOpenComm);
  EXPECT_FALSE(port.Open());
  port.SetComNumber(6);
  port.SetTapiMode(TTapiMode::tmOn);
  EXPECT_EQ(OpenError(port), fxcode::ecNotOpenedByTapi);
}

TEST(LockFileTest, OwnersAreReadInBothFormsAndGarbageIsNoOwner) {
  EXPECT_EQ(ParseLockOwner("     12345\n"), 12345);
  EXPECT_EQ(ParseLockOwner("777"), 777);
  const int binary = 4242;
  EXPECT_EQ(ParseLockOwner(std::string_view(reinterpret_cast<const char*>(&binary), sizeof binary)), 4242);
  EXPECT_EQ(ParseLockOwner(""), 0);
  EXPECT_EQ(ParseLockOwner("-5\n"), 0);
  EXPECT_EQ(ParseLockOwner("LCK\n"), 0);
  EXPECT_EQ(ParseLockOwner("99999999999999999999"), 0);
  EXPECT_EQ(LockFileName("/dev/ttyS0").filename(), "LCK..ttyS0");
  EXPECT_EQ(LockFileName("/dev/pts/3").filename(), "LCK..pts_3");
}

TEST_F(ComPortTest, AnOpenPortIsBusyAndItsLockNamesUs) {
  port_.SetOpen(true);
  const auto lock = LockFileName(TComDevice::CanonicalPath(pty_.SlavePath()));
  ASSERT_TRUE(std::filesystem::exists(lock));
  std::ifstream f(lock);
  int pid = 0;
  f >> pid;
  EXPECT_EQ(pid, getpid());

  TFxComPort second;
  second.SetDeviceName(pty_.SlavePath());
  EXPECT_EQ(OpenError(second), fxcode::ecAlreadyOpen);
  EXPECT_TRUE(TFxComPort::PortPresent(5, ini_));
  EXPECT_TRUE(TFxComPort::PortPresent(6, ini_));
  EXPECT_FALSE(TFxComPort::PortPresent(7, ini_));
  port_.SetOpen(false);
  EXPECT_FALSE(std::filesystem::exists(lock));
  EXPECT_EQ(OpenError(second), 0);
}

TEST_F(ComPortTest, LockFilesOfLiveProgramsAreRespectedAndStaleOnesRemoved) {
  const auto lock = LockFileName(TComDevice::CanonicalPath(pty_.SlavePath()));
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  {
    std::ofstream f(lock);
    f << "      " << child << "\n";
  }
  EXPECT_EQ(OpenError(port_), fxcode::ecPortInUse);
  EXPECT_TRUE(std::filesystem::exists(lock));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // Its owner is gone: the lock is stale.
  EXPECT_EQ(OpenError(port_), 0);
  std::ifstream f(lock);
  int pid = 0;
  f >> pid;
  EXPECT_EQ(pid, getpid());
}

TEST_F(ComPortTest, BytesPassBothWaysAtFullSpeedInOrder) {
  port_.SetOutSize(8192);
  port_.SetOpen(true);
  constexpr size_t kBytes = 512 * 1024;
  std::mt19937 rng(7);
  std::string toPort(kBytes, '\0'), fromPort(kBytes, '\0');
  for (auto& c : toPort) c = static_cast<char>(rng());
  for (auto& c : fromPort) c = static_cast<char>(rng());

  std::string farGot;
  std::thread farEnd([&] {
    // The far end writes and reads at once, as a modem would.
    std::thread writer([&] { pty_.Write(toPort); });
    farGot = pty_.Read(kBytes, std::chrono::seconds(60));
    writer.join();
  });
  std::string got;
  size_t sent = 0;
  std::vector<char> buf(4096);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((got.size() < kBytes || sent < kBytes) && std::chrono::steady_clock::now() < deadline) {
    bool idle = true;
    if (sent < kBytes) {
      const size_t n = std::min(port_.OutputFree(), kBytes - sent);
      if (n > 0) {
        port_.WriteBlock(fromPort.data() + sent, n);
        sent += n;
        idle = false;
      }
    }
    if (const size_t n = port_.ReadBlock(buf.data(), buf.size()); n > 0) {
      got.append(buf.data(), n);
      idle = false;
    }
    if (idle) port_.Dispatcher()->WaitForInput(std::chrono::milliseconds(1));
  }
  farEnd.join();
  EXPECT_EQ(got.size(), kBytes);
  EXPECT_TRUE(got == toPort);
  EXPECT_EQ(farGot.size(), kBytes);
  EXPECT_TRUE(farGot == fromPort);
  EXPECT_THROW(port_.WriteBlock(std::string(8193, 'x').data(), 8193), EOutputBufferTooSmall);
}

TEST_F(ComPortTest, AwaitTextMatchesTimesOutAndRestartsOnMismatch) {
  port_.SetOpen(true);
  std::string seen;
  port_.OnWaitChar = [&](TFxComPort&, char c) { seen += c; };
  EXPECT_TRUE(port_.AwaitText("", 1, false, false));

  pty_.Write("AT\r\r\nOOK\r\n");
  EXPECT_TRUE(port_.AwaitText("OK", SecsToTicks(3), false, false));
  EXPECT_EQ(seen, "AT\r\r\nOOK");
  char c;
  ASSERT_TRUE(port_.ReadChar(c));  // the rest stays for the next reader
  EXPECT_EQ(c, '\r');

  pty_.Write("xxABABACyy");
  EXPECT_TRUE(port_.AwaitText("abac", SecsToTicks(3), false, true));
  ASSERT_TRUE(port_.ReadChar(c));
  EXPECT_EQ(c, 'y');

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port_.AwaitText("CONNECT", 4, false, false));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));

  // Trigger delivery stays held while waiting, and is released afterwards
  // unless it was held before the call.
  auto* d = port_.Dispatcher();
  std::atomic<int> data{0};
  d->AddDataTrigger("RING", false);
  d->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmData)) ++data;
  });
  d->HoldDispatch(true);
  pty_.Write("RING\r\nOK");
  EXPECT_TRUE(port_.AwaitText("OK", SecsToTicks(3), false, false));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(data, 0);
  EXPECT_TRUE(d->HoldDispatch(false));
  pty_.Write("OK");
  EXPECT_TRUE(port_.AwaitText("OK", SecsToTicks(3), false, false));
  EXPECT_FALSE(d->HoldDispatch(false));
  pty_.Write("RING");
  ASSERT_TRUE(WaitFor([&] { return data == 1; }));
}

TEST_F(ComPortTest, AwaitTextKeepsTheHostAliveAndEndsWhenItTerminates) {
  TPlainExecutor& host = host_;
  port_.SetHostExecutor(&host);
  port_.SetOpen(true);
  std::atomic<bool> ran{false};
  host.Post([&] { ran = true; });
  EXPECT_FALSE(port_.AwaitText("OK", 3, true, false));
  EXPECT_TRUE(ran);
  host.SetTerminating();
  EXPECT_TRUE(port_.AwaitText("OK", SecsToTicks(5), true, false));
}

TEST_F(ComPortTest, TriggerEventsRunOnTheHostThread) {
  TPlainExecutor& host = host_;
  port_.SetHostExecutor(&host);
  std::vector<std::string> events;
  std::string read;
  bool onHost = true;
  port_.OnTrigger = [&](TFxComPort&, uint16_t msg, uint16_t, uint16_t) {
    onHost = onHost && host.IsHostThread();
    events.push_back("trigger " + std::to_string(msg - 0x7E00));
  };
  port_.OnTriggerData = [&](TFxComPort& cp, uint16_t) {
    events.push_back("data");
    char c;
    while (cp.ReadChar(c)) read += c;
  };
  port_.OnTriggerTimer = [&](TFxComPort&, uint16_t) { events.push_back("timer"); };
  port_.OnTriggerOutbuffFree = [&](TFxComPort&) { events.push_back("free"); };
  port_.SetOpen(true);
  auto* d = port_.Dispatcher();
  d->AddDataTrigger("OK", false);
  pty_.Write("\r\nOK");
  ASSERT_TRUE(host.RunUntil([&] { return events.size() >= 2; }, std::chrono::seconds(3)));
  EXPECT_EQ(events[0], "trigger 2");
  EXPECT_EQ(events[1], "data");
  EXPECT_EQ(read, "\r\nOK");
  EXPECT_EQ(port_.Dispatcher()->InputCount(), 0u);

  events.clear();
  const int t = d->NewTimerTrigger();
  d->ArmTimerTrigger(t, 1, true);
  ASSERT_TRUE(host.RunUntil([&] { return events.size() >= 2; }, std::chrono::seconds(3)));
  EXPECT_EQ(events[1], "timer");
  events.clear();
  const int s = d->NewStatusTrigger(3);
  d->ArmStatusTrigger(s, 1, true);
  ASSERT_TRUE(host.RunUntil([&] { return events.size() >= 2; }, std::chrono::seconds(3)));
  EXPECT_EQ(events[1], "free");
  EXPECT_TRUE(onHost);
}

TEST_F(ComPortTest, WithoutEventsTheHostIsNotWaitedFor) {
  // The host loop never runs here: handlers on the dispatch thread must
  // still get every notification at once.
  port_.SetHostExecutor(&host_);
  port_.SetOpen(true);
  auto* d = port_.Dispatcher();
  std::atomic<int> data{0};
  d->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmData)) ++data;
  });
  d->AddDataTrigger("OK", false);
  const auto start = std::chrono::steady_clock::now();
  pty_.Write("OK OK");
  ASSERT_TRUE(WaitFor([&] { return data == 2; }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

class TRecordingExecutor : public TPlainExecutor {
 public:
  void HandleException(std::exception_ptr error) override {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      caught = e.what();
    }
  }
  std::string caught;
};

TEST_F(ComPortTest, AnExceptionInAHostHandlerGoesToTheHost) {
  TRecordingExecutor host;
  struct TCloseFirst {
    TFxComPort& port;
    ~TCloseFirst() { port.SetOpen(false); }
  } closeFirst{port_};  // the port closes before its executor goes
  port_.SetHostExecutor(&host);
  std::atomic<int> later{0};
  port_.OnTriggerData = [&](TFxComPort&, uint16_t) { throw std::runtime_error("handler failed"); };
  port_.OnTriggerTimer = [&](TFxComPort&, uint16_t) { ++later; };
  port_.SetOpen(true);
  auto* d = port_.Dispatcher();
  d->AddDataTrigger("OK", false);
  pty_.Write("OK");
  ASSERT_TRUE(host.RunUntil([&] { return !host.caught.empty(); }, std::chrono::seconds(3)));
  EXPECT_EQ(host.caught, "handler failed");
  const int t = d->NewTimerTrigger();
  d->ArmTimerTrigger(t, 1, true);
  EXPECT_TRUE(host.RunUntil([&] { return later == 1; }, std::chrono::seconds(3)));
}

TEST_F(ComPortTest, ClosingFromAHostHandlerIsDeferredUntilDeliveryEnds) {
  TPlainExecutor& host = host_;
  port_.SetHostExecutor(&host);
  bool stillOpenInside = false;
  port_.OnTriggerData = [&](TFxComPort& cp, uint16_t) {
    cp.SetOpen(false);
    stillOpenInside = cp.Dispatcher() != nullptr;
  };
  port_.SetOpen(true);
  port_.Dispatcher()->AddDataTrigger("NO CARRIER", false);
  pty_.Write("NO CARRIER\r\n");
  ASSERT_TRUE(host.RunUntil([&] { return !port_.Open(); }, std::chrono::seconds(3)));
  EXPECT_TRUE(stillOpenInside);
  EXPECT_EQ(port_.Dispatcher(), nullptr);
  port_.SetOpen(true);  // and it opens again
  EXPECT_TRUE(port_.Open());
}

TEST_F(ComPortTest, ClosingFromTheDispatchThreadStopsThePort) {
  port_.SetOpen(true);
  auto* d = port_.Dispatcher();
  d->AddDataTrigger("BYE", false);
  d->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmData)) port_.SetOpen(false);
  });
  pty_.Write("BYE");
  ASSERT_TRUE(WaitFor([&] { return d->Stopping(); }));
  EXPECT_FALSE(port_.Open());
  port_.SetOpen(true);  // finishes the close and opens anew
  EXPECT_TRUE(port_.Open());
  EXPECT_NE(port_.Dispatcher(), nullptr);
}

TEST_F(ComPortTest, LineSettingsChangeWhileOpen) {
  port_.SetOpen(true);
  port_.WriteString("before");
  port_.SetBaud(9600);
  port_.SetParity(TParity::pEven);
  port_.SetDataBits(7);
  termios t{};
  const int fd = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) {  // not as root: TIOCEXCL keeps others out
    ::tcgetattr(fd, &t);
    ::close(fd);
    EXPECT_EQ(cfgetospeed(&t), B9600);  // a pseudo-terminal keeps no parity or size
  }
  EXPECT_EQ(port_.Parity(), TParity::pEven);
  EXPECT_EQ(pty_.Read(6), "before");  // drained before the change
  EXPECT_THROW(port_.SetBaud(12345), EBadArgument);
  EXPECT_EQ(port_.Baud(), 9600);
  port_.WriteString("after");
  EXPECT_EQ(pty_.Read(5), "after");
  EXPECT_EQ(LineSettleMs({19200, TParity::pNone, 8, 1}), 10u);  // 520*10*18 = 93600
  EXPECT_EQ(LineSettleMs({115200, TParity::pNone, 8, 1}), 2u);  // 86*10*18 = 15480
  EXPECT_EQ(LineSettleMs({230400, TParity::pNone, 8, 1}), 2u);  // 43*10*18 = 7740, doubled
  EXPECT_EQ(LineSettleMs({9600, TParity::pEven, 7, 2}), 21u);   // 1041*11*18 = 206118
}

TEST_F(ComPortTest, ChangingTheNumberWhileOpenKeepsTriggers) {
  port_.SetOpen(true);
  auto* d = port_.Dispatcher();
  std::atomic<int> fired{0};
  d->AddMethodHandler([&](uint16_t msg, uint16_t, uint32_t) {
    if (msg == static_cast<uint16_t>(TTriggerMsg::tmData)) ++fired;
  });
  const int ok = d->AddDataTrigger("OK", false);
  port_.SetComNumber(6);
  ASSERT_TRUE(port_.Open());
  EXPECT_EQ(port_.DevicePath(), other_.SlavePath());
  other_.Write("OK");
  ASSERT_TRUE(WaitFor([&] { return fired == 1; }));
  EXPECT_EQ(port_.Dispatcher()->DropTrigger(ok), 0);
}

TEST_F(ComPortTest, PurgesDropPendingData) {
  port_.SetOpen(true);
  pty_.Write("stale reply");
  ASSERT_TRUE(WaitFor([&] { return port_.Dispatcher()->InputCount() == 11; }));
  port_.PurgeInput();
  EXPECT_FALSE(port_.HasInput());
  pty_.Write("x");
  ASSERT_TRUE(WaitFor([&] { return port_.HasInput(); }));

  // Fill the line so that output backs up, then purge it.
  const std::string block(4000, 'y');
  for (int i = 0; i < 40 && port_.OutputFree() >= block.size(); ++i) {
    port_.WriteString(block);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  port_.PurgeOutput();
  EXPECT_EQ(port_.OutputUsed(), 0u);
  EXPECT_EQ(port_.OutputFree(), port_.OutSize());
}

}  // namespace
