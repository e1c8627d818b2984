// The modems as a serial program sees them: real pseudo-terminals of a
// running line program.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "shell/core/IniFile.h"
#include "testsupport/LineHarness.h"

using namespace linetest;
using namespace std::chrono_literals;

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

TEST(Modem, AnswersTheCommandSet) {
  TTempFolder dir;
  TLineProcess line(dir.Path());
  ASSERT_TRUE(line.Ready()) << line.Log();
  TModemClient m(line.Link(1));
  ASSERT_TRUE(m.Open());
  EXPECT_EQ(m.Command("AT"), "AT\r\r\nOK\r\n");  // echo is on after reset
  EXPECT_EQ(m.Command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(m.Command("ATS7=45S0=0"), "\r\nOK\r\n");
  EXPECT_EQ(m.Command("ATS7?"), "\r\n045\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("ATS7=300"), "\r\nERROR\r\n");
  EXPECT_NE(m.Command("ATI3").find("Corvane virtual fax modem"), std::string::npos);
  EXPECT_EQ(m.Command("AT+FCLASS=?"), "\r\n0,1,2,2.0\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FTM=?"), "\r\nERROR\r\n");  // not in data mode
  EXPECT_EQ(m.Command("AT+FCLASS=1"), "\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FCLASS?"), "\r\n1\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FTM=?"), "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FRH=?"), "\r\n3\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FTH=3"), "\r\nERROR\r\n");  // on hook
  EXPECT_EQ(m.Command("AT+FCLASS=2.0"), "\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FCLASS?"), "\r\n2.0\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FLI=\"+1 555 0101\""), "\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FLI?"), "\r\n\"+1 555 0101\"\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FIS=0,3"), "\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FIS?"), "\r\n0,3,0,2,0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(m.Command("AT+FDT"), "\r\nERROR\r\n");  // no call
  EXPECT_EQ(m.Command("AT+FCLASS=3"), "\r\nERROR\r\n");
  EXPECT_EQ(m.Command("ATV0"), "0\r");
  EXPECT_EQ(m.Command("ATX9Y"), "0\r");
  EXPECT_EQ(m.Command("ATFOO"), "4\r");
  EXPECT_EQ(m.Command("ATV1Q1"), "");  // quiet: no result at all
  m.Send("ATQ0\r");
  EXPECT_TRUE(EndsWith(m.ReadUntil("OK\r\n", 2s), "OK\r\n"));
  m.Send("A/");  // repeats the last command line
  EXPECT_TRUE(EndsWith(m.ReadUntil("OK\r\n", 2s), "OK\r\n"));
  m.Send("ATE1Z\r");
  m.ReadUntil("OK\r\n", 2s);
  EXPECT_EQ(m.Command("AT+FCLASS?"), "AT+FCLASS?\r\r\n0\r\n\r\nOK\r\n");  // ATZ: class 0, echo on
  EXPECT_EQ(m.Command("ATS7?"), "ATS7?\r\r\n060\r\n\r\nOK\r\n");
  EXPECT_EQ(line.Stop(), 0) << line.Log();
}

TEST(Modem, DiallingOutcomes) {
  TTempFolder dir;
  TLineProcess line(dir.Path());
  ASSERT_TRUE(line.Ready()) << line.Log();
  TModemClient m(line.Link(1));
  ASSERT_TRUE(m.Open());
  m.Command("ATE0");
  ASSERT_EQ(line.Control("busy 200 on"), "OK");
  EXPECT_TRUE(EndsWith(m.Command("ATDT200", 5s), "BUSY\r\n"));
  ASSERT_EQ(line.Control("busy 200 off"), "OK");
  ASSERT_EQ(line.Control("voice 200 on"), "OK");
  EXPECT_TRUE(EndsWith(m.Command("ATDT9,200", 10s), "VOICE\r\n"));
  ASSERT_EQ(line.Control("voice 200 off"), "OK");
  ASSERT_EQ(line.Control("nodialtone 101 on"), "OK");
  EXPECT_TRUE(EndsWith(m.Command("ATDP200", 5s), "NO DIALTONE\r\n"));
  ASSERT_EQ(line.Control("nodialtone 101 off"), "OK");
  // An unplugged modem says nothing at all, and is back once plugged in.
  ASSERT_EQ(line.Control("unplug 101 on"), "OK");
  EXPECT_EQ(m.Command("AT", 1500ms), "");
  EXPECT_EQ(m.Command("ATDT200", 1500ms), "");
  ASSERT_EQ(line.Control("unplug 101 off"), "OK");
  EXPECT_EQ(m.Command("AT"), "\r\nOK\r\n");
  ASSERT_EQ(line.Control("refuse 102 on"), "OK");
  m.Command("ATS7=3");
  EXPECT_TRUE(EndsWith(m.Command("ATDT102", 8s), "NO ANSWER\r\n"));
  EXPECT_EQ(m.Command("ATD"), "\r\nERROR\r\n");  // nothing to dial
  EXPECT_EQ(line.Control("bogus"), "ERROR unknown command: bogus");
  // The program is its own control client.
  EXPECT_EQ(linetest::Run({CVMODEMLINE_BIN, "--dir", dir.Path().string(), "--control", "refuse 102 off"}, dir.Path() / "c.log", 10s), 0);
  EXPECT_EQ(linetest::Run({CVMODEMLINE_BIN, "--dir", dir.Path().string(), "--control", "bogus"}, dir.Path() / "c.log", 10s), 1);
}

TEST(Modem, RingsAtTheUsualCadenceAndConnectsOnAnswer) {
  TTempFolder dir;
  TLineProcess line(dir.Path());
  ASSERT_TRUE(line.Ready()) << line.Log();
  TModemClient caller(line.Link(1));
  TModemClient callee(line.Link(2));
  ASSERT_TRUE(caller.Open() && callee.Open());
  caller.Command("ATE0+FCLASS=1");
  callee.Command("ATE0+FCLASS=1");
  caller.Send("ATDT102\r");
  std::string first = callee.ReadUntil("RING\r\n", 5s);
  ASSERT_NE(first.find("RING"), std::string::npos);
  auto t0 = std::chrono::steady_clock::now();
  std::string second = callee.ReadUntil("RING\r\n", 9s);
  auto gap = std::chrono::steady_clock::now() - t0;
  ASSERT_NE(second.find("RING"), std::string::npos);
  EXPECT_GT(gap, 5s);
  EXPECT_LT(gap, 7s);
  // Class 1 answer: answer tone, then the V.21 channel is up.
  EXPECT_TRUE(EndsWith(callee.Command("ATA", 10s), "CONNECT\r\n"));
  // The caller's modem hears the answering side's flags.
  EXPECT_NE(caller.ReadUntil("CONNECT", 10s).find("CONNECT"), std::string::npos);
  std::string status = line.Control("status");
  EXPECT_NE(status.find("101 -> 102 connected"), std::string::npos) << status;
  EXPECT_EQ(line.Stop(), 0) << line.Log();  // in mid-call
}

TEST(Modem, HangsUpOnATHAndTheLinkSurvivesReopening) {
  TTempFolder dir;
  TLineProcess line(dir.Path());
  ASSERT_TRUE(line.Ready()) << line.Log();
  {
    TModemClient m(line.Link(1));
    ASSERT_TRUE(m.Open());
    m.Command("ATE0+FCLASS=1");
    m.Send("ATDT200\r");
    EXPECT_NE(m.ReadUntil("CONNECT", 15s).find("CONNECT"), std::string::npos);
  }
  // The program closed the device in mid-call; a new one opens it and hangs up.
  TModemClient again(line.Link(1));
  ASSERT_TRUE(again.Open());
  std::this_thread::sleep_for(300ms);
  again.Send("\r");
  again.ReadUntil("\n", 1s);
  EXPECT_TRUE(EndsWith(again.Command("ATH", 5s), "OK\r\n"));
  std::string status = line.Control("status");
  EXPECT_EQ(status.find("connected"), std::string::npos) << status;
}

TEST(Modem, GuardedEscapeLeavesTheDataPhase) {
  TTempFolder dir;
  TLineProcess line(dir.Path());
  ASSERT_TRUE(line.Ready()) << line.Log();
  TModemClient m(line.Link(1));
  ASSERT_TRUE(m.Open());
  m.Command("ATE0+FCLASS=1");
  m.Send("ATDT200\r");
  ASSERT_NE(m.ReadUntil("OK\r\n", 15s).find("OK"), std::string::npos);  // the answering side's frames
  ASSERT_TRUE(EndsWith(m.Command("AT+FTM=96", 5s), "CONNECT\r\n"));
  m.Send("+a+");  // not an escape: data
  std::this_thread::sleep_for(1200ms);
  m.Send("+++");
  std::string got = m.ReadUntil("OK\r\n", 3s);
  EXPECT_TRUE(EndsWith(got, "OK\r\n")) << got;
  EXPECT_TRUE(EndsWith(m.Command("ATH", 5s), "OK\r\n"));
  std::string status = line.Control("status");
  EXPECT_EQ(status.find("connected"), std::string::npos) << status;
  EXPECT_EQ(line.Stop(), 0) << line.Log();
}

TEST(Modem, ShutsDownCleanlyAndReplacesStaleLinks) {
  TTempFolder dir;
  // What a crashed run leaves behind: dangling links and a dead socket.
  fs::create_symlink("/dev/pts/nonexistent", dir.Path() / "com1");
  {
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, (dir.Path() / "control").c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(s);
  }
  fs::path ini = dir.Path() / "CV.INI";
  {
    std::ofstream out(ini);
    out << "[Modem]\r\nFaxClass=1\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\n";
  }
  TLineProcess line(dir.Path(), {"--modems", "3", "--ini", ini.string()});
  ASSERT_TRUE(line.Ready()) << line.Log();
  EXPECT_EQ(fs::read_symlink(dir.Path() / "com1").string().rfind("/dev/pts/", 0), 0u);
  EXPECT_TRUE(fs::exists(dir.Path() / "com3"));
  TIniFile settings(ini);
  EXPECT_EQ(settings.ReadString("Ports", "COM1", ""), (dir.Path() / "com1").string());
  EXPECT_EQ(settings.ReadString("Ports", "COM3", ""), (dir.Path() / "com3").string());
  EXPECT_EQ(settings.ReadInteger("Modem", "FaxClass", 0), 1);
  EXPECT_EQ(line.Stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "com1")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "com3")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "control")));
}

TEST(Modem, RefusesToReplaceAFileThatIsNotALink) {
  TTempFolder dir;
  {
    std::ofstream out(dir.Path() / "com2");
    out << "precious";
  }
  TLineProcess line(dir.Path());
  EXPECT_NE(line.Stop(), 0);
  EXPECT_EQ(ReadText(dir.Path() / "com2"), "precious");
  EXPECT_NE(line.Log().find("not a symbolic link"), std::string::npos) << line.Log();
}

TEST(Modem, ClosingThePortDropsTheCallAsDtrWould) {
  // A program killed while it sends page data leaves the modem in data
  // mode; the close of its port must end the call as DTR would, so that the
  // next program finds a modem in command mode.
  TTempFolder dir;
  TLineProcess line(dir.Path());
  ASSERT_TRUE(line.Ready()) << line.Log();
  {
    TModemClient m(line.Link(1));
    ASSERT_TRUE(m.Open());
    m.Command("ATE0");
    ASSERT_EQ(m.Command("AT+FCLASS=2"), "\r\nOK\r\n");
    ASSERT_TRUE(EndsWith(m.Command("ATDT200", 30s), "OK\r\n")) << line.Log();
    ASSERT_NE(m.Command("AT+FDT", 30s).find("CONNECT"), std::string::npos) << line.Log();
    m.Send(std::string(200, '\0'));  // page data, never ended
  }
  TModemClient next(line.Link(1));
  ASSERT_TRUE(next.Open());
  const std::string reply = next.Command("AT", 3s);
  EXPECT_TRUE(EndsWith(reply, "OK\r\n")) << reply;
  // The far end was hung up on: it is free for the next call.
  EXPECT_TRUE(EndsWith(next.Command("AT+FCLASS=2"), "OK\r\n"));
  EXPECT_TRUE(EndsWith(next.Command("ATDT200", 30s), "OK\r\n")) << line.Log();
}
