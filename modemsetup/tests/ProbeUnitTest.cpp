// The probing routines against pseudo-terminals: a scripted modem on the far
// side, a silent device, a missing device and one that another live program
// holds through its UUCP lock.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "faxengine/port/ComDevice.h"
#include "faxengine/port/ComPort.h"
#include "testsupport/ScriptedModem.h"
#include "modemsetup/ModemProbe.h"
#include "modemsetup/tests/HolderProcess.h"

namespace {

using namespace std::chrono_literals;

// A modem that answers every command line with the result the script gives
// for it; an empty result leaves the line unanswered.
TScriptedModem::TScript Results(std::function<std::string(const std::string&)> result) {
  return [result = std::move(result)](const std::string& line) -> TScriptedModem::TAnswer {
    const std::string r = result(line);
    return r.empty() ? std::string() : "\r\n" + r + "\r\n";
  };
}

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    ini_ = WritePortsIni(home_.Path(), {{1, pty_.SlavePath()}, {3, "/dev/cv-no-such-tty"}});
    port_.SetIniFileName(ini_);
    port_.SetPromptForPort(false);
    port_.SetComNumber(1);
  }
  void TearDown() override {
    port_.SetOpen(false);
    SetLockFolder({});
  }

  TTempFolder locks_, home_;
  TPty pty_;
  std::filesystem::path ini_;
  TFxComPort port_;
};

TEST(TransferRate, ListPositionsAndRatesMapBothWays) {
  const int rates[] = {2400, 4800, 7200, 9600, 12000, 14400};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(RateFromIndex(i), rates[i]);
    EXPECT_EQ(IndexFromRate(rates[i]), i);
  }
  for (int i : {-1, 6, 1000}) EXPECT_EQ(RateFromIndex(i), 9600);
  for (int r : {0, -2400, 2401, 16800, 33600, 1200}) EXPECT_EQ(IndexFromRate(r), 3);
}

TEST_F(ProbeTest, OpenNamesThePortThroughThePortsSection) {
  const auto opened = OpenFaxPort(port_);
  EXPECT_TRUE(opened.opened);
  EXPECT_EQ(opened.message, "");
  EXPECT_EQ(port_.DevicePath(), pty_.SlavePath());
  port_.SetOpen(false);

  port_.SetComNumber(3);
  const auto missing = OpenFaxPort(port_);
  EXPECT_FALSE(missing.opened);
  EXPECT_EQ(missing.errorCode, -2001);
  EXPECT_EQ(missing.message, "Unable to open the specified communications port ( Com3 )");
}

TEST_F(ProbeTest, PortOpenInThisProgramIsInUse) {
  TFxComPort other;
  other.SetIniFileName(ini_);
  other.SetComNumber(1);
  other.SetOpen(true);
  const auto r = OpenFaxPort(port_);
  EXPECT_FALSE(r.opened);
  EXPECT_EQ(r.errorCode, -2008);
  EXPECT_EQ(r.message.rfind("The communications port is in use ( Com 1 )\r\n\r\nPlease make sure that all "
                            "communication programs (internet, AOL, etc) are closed, and then try again.",
                            0),
            0u)
      << r.message;
}

TEST_F(ProbeTest, PortLockedByAnotherLiveProgramNamesDeviceAndHolder) {
  THolderProcess holder(pty_.SlavePath());
  ASSERT_GT(holder.Pid(), 0);
  const pid_t child = holder.Pid();
  const auto r = OpenFaxPort(port_);
  holder.Kill();

  EXPECT_FALSE(r.opened);
  EXPECT_EQ(r.errorCode, -2005);
  EXPECT_EQ(r.message, "The communications port is in use ( Com 1 )\r\n\r\nPlease make sure that all communication "
                       "programs (internet, AOL, etc) are closed, and then try again.\r\n\r\nThe device " +
                           TComDevice::CanonicalPath(pty_.SlavePath()) + " is held by sleep (PID " +
                           std::to_string(child) + ").");
  // Once its holder is gone the lock is stale and the port opens.
  EXPECT_TRUE(OpenFaxPort(port_).opened);
}

TEST_F(ProbeTest, ModemAnsweringOnlyAfterTheResetString) {
  bool reset = false;
  TScriptedModem modem(pty_, Results([&](const std::string& line) -> std::string {
    if (line == "ATZ9") reset = true;
    return reset ? "OK" : "";
  }));
  ASSERT_TRUE(OpenFaxPort(port_).opened);
  EXPECT_FALSE(CheckForModem(port_, "   "));  // a blank reset string is none
  EXPECT_TRUE(CheckForModem(port_, "  ATZ9 "));
  EXPECT_TRUE(CheckForModem(port_, ""));  // now "AT" alone is answered
  const auto lines = modem.Commands();
  EXPECT_EQ(lines, (std::vector<std::string>{"AT", "AT", "ATZ9", "AT"}));
}

TEST_F(ProbeTest, SendModemStringPutsAtInFrontAndReportsTheReply) {
  TScriptedModem modem(pty_, Results([](const std::string& line) { return line == "ATX" ? "ERROR" : "ok"; }));
  ASSERT_TRUE(OpenFaxPort(port_).opened);
  std::string cmd = "&F&C1";
  EXPECT_TRUE(SendModemString(port_, cmd));
  EXPECT_EQ(cmd, "AT&F&C1");
  std::string already = "atz";
  EXPECT_TRUE(SendModemString(port_, already));
  EXPECT_EQ(already, "atz");
  std::string refused = "X";
  EXPECT_FALSE(SendModemString(port_, refused));
  EXPECT_EQ(refused, "ATX");
  EXPECT_TRUE(ResetModemToFactory(port_));
  EXPECT_EQ(modem.Commands().back(), "AT&F");
}

TEST_F(ProbeTest, SilentOrClosedPortIsNoModem) {
  // A closed port must not pass for a modem.
  EXPECT_FALSE(CheckForModem(port_, ""));
  std::string cmd = "AT";
  EXPECT_FALSE(SendModemString(port_, cmd));
  EXPECT_FALSE(ResetModemToFactory(port_));

  ASSERT_TRUE(OpenFaxPort(port_).opened);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ResetModemToFactory(port_));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 36 * 55ms - 60ms);
  EXPECT_LT(took, 36 * 55ms + 1500ms);
}

TEST_F(ProbeTest, StopEndsTheSettleWaitEarly) {
  ASSERT_TRUE(OpenFaxPort(port_).opened);
  std::atomic<bool> stop{true};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CheckForModem(port_, "ATZ", &stop));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_TRUE(pty_.Read(1, 100ms).empty());  // nothing was sent
}

}  // namespace
