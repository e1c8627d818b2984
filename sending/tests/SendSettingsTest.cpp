// The rules a send run applies to the settings and the send window's fields
// before anything is dialled.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sending/SendSettings.h"
#include "sending/SessionLog.h"
#include "sending/TSendFaxForm.h"
#include "testsupport/TempFolder.h"
#include "tools/apftool/ApfTool.h"

namespace fs = std::filesystem;

TEST(SendSettings, AbsurdValuesReadAsTheNearestSoundOnes) {
  TSettings s;
  s.ComPort = 99;
  s.MaximumBPS = 3;
  s.DialAttempts = -1;
  s.RetryWait = 1000000000;
  s.FaxClass = 7;
  TSendSettings v = SoundSendSettings(s);
  EXPECT_EQ(v.comPort, 99);  // a port is not a quantity: COM100 is tried and its open failure reported
  EXPECT_EQ(v.maximumBps, 2400);
  EXPECT_EQ(v.dialAttempts, 1);
  EXPECT_EQ(v.retryWaitSecs, TSendSettings::kMaxRetryWaitSecs);
  EXPECT_EQ(v.faxClass, 0);
  s.ComPort = -50;
  s.MaximumBPS = 1 << 30;
  s.DialAttempts = 1 << 30;
  s.RetryWait = -5;
  v = SoundSendSettings(s);
  EXPECT_EQ(v.comPort, -1);
  EXPECT_EQ(v.maximumBps, 14400);
  EXPECT_EQ(v.dialAttempts, TSendSettings::kMaxDialAttempts);
  EXPECT_EQ(v.retryWaitSecs, 0);
  EXPECT_EQ(NearestTransferRate(9000), 9600);
  EXPECT_EQ(NearestTransferRate(13000), 12000);
  // The configuration display shows what the run will use.
  s = TSettings{};
  s.ComPort = -1;
  s.MaximumBPS = 3;
  s.DialAttempts = -1;
  const QStringList lines = SetupLines(s);
  EXPECT_EQ(lines[0], "Communications Port: COM0");
  EXPECT_EQ(lines[2], "Transfer Rate: 2400");
  EXPECT_EQ(lines[8], "Dial Attempts: 1");
}

TEST(SendSettings, DialWaitComesFromTheS7Register) {
  EXPECT_EQ(DialWaitSeconds("AT&F&C1&D2&K3S7=90"), 90);
  EXPECT_EQ(DialWaitSeconds("ats7=30"), 55);
  EXPECT_EQ(DialWaitSeconds("AT&FS7="), 60);
  EXPECT_EQ(DialWaitSeconds("AT&F"), 60);
  EXPECT_EQ(DialWaitSeconds("ATS7=120X4"), 120);
  EXPECT_EQ(DialWaitSeconds("ATS7=1A2"), 60);  // not a number
}

TEST(SendSettings, HeaderLineNamesSenderAndLeavesThePlaceholders) {
  const QDateTime when(QDate(2026, 3, 4), QTime(9, 5));
  const QLocale l = QLocale::system();
  const QString stamp = l.toString(when.date(), QLocale::ShortFormat) + "    " + l.toString(when.time(), QLocale::ShortFormat);
  EXPECT_EQ(BuildHeaderLine("Ann Lee", "555 0101", when),
            "Sent by: Ann Lee             $I                     " + stamp + "              Page $P of $N");
  EXPECT_EQ(BuildHeaderLine("", "", when), "Sent           " + stamp + "              Page $P of $N");
  EXPECT_EQ(BuildHeaderLine(" ", "", when), "Sent: " + QString(" ") + "               " + stamp +
                                                "              Page $P of $N");
}

TEST(SendSettings, CallLogsNameWhatTheCallIsStartedWith) {
  TSettings s;
  s.MaximumBPS = 14400;
  s.ECM = true;
  s.IgnoreBusy = true;
  s.ToneOrPulse = 1;
  s.FaxClass = 2;
  s.Fax = "555 0101";
  s.InitString = "AT&F";
  const TDialFields dial{"200", "9", "#", false, true};
  EXPECT_EQ(CallSessionLogLines(s, dial),
            (QStringList{"Desired BPS: 14400", "Desired ECM: ON", "Ignore Busy: ON", "Negotiate between pages: OFF",
                         "Fax#: 200", "Dial Suffix: #", "Using Pulse Dialing ***", "Fax Class: Class 2",
                         "StationID: 555 0101", "User INIT String: AT&F"}));
  EXPECT_EQ(CallPortLogEntries(s, dial),
            (QStringList{"Start_of_fax_session", "DesiredBPS_14400", "DesiredECM_ON", "Ignore Busy_ON", "Phone_200",
                         "DialSuffix_#", "PulseDialing", "FaxClass_Class 2", "StationID_555 0101",
                         "UserINITString_AT&F"}));
}

TEST(SendSettings, InitStringGetsATOnlyWhenItHasNone) {
  EXPECT_EQ(ModemInitCommand("&F&C1"), "AT&F&C1");
  EXPECT_EQ(ModemInitCommand("at&f"), "at&f");
  EXPECT_EQ(ModemInitCommand("X3AT"), "X3AT");
}

TEST(SendSettings, NumbersAndModemStringsAreCheckedBeforeDialling) {
  EXPECT_FALSE(CheckFaxNumber("200"));
  EXPECT_FALSE(CheckFaxNumber(" +1 (555) 010-2030,,#"));
  EXPECT_TRUE(CheckFaxNumber(""));
  EXPECT_TRUE(CheckFaxNumber("     "));
  EXPECT_TRUE(CheckFaxNumber("555-CALL-NOW"));
  EXPECT_TRUE(CheckFaxNumber("200;ATH"));
  EXPECT_TRUE(CheckFaxNumber("---"));
  EXPECT_TRUE(CheckFaxNumber(QString("20") + QChar(0x0663)));  // a non-ASCII digit
  EXPECT_FALSE(CheckDialAddition("9W", "prefix"));
  EXPECT_FALSE(CheckDialAddition("", "prefix"));
  EXPECT_TRUE(CheckDialAddition("9\rATZ", "prefix"));
  EXPECT_FALSE(CheckModemString("AT&F S7=60", "Modem Init String"));
  const auto bad = CheckModemString("AT&F\r\nATD911", "Modem Init String");
  ASSERT_TRUE(bad);
  EXPECT_TRUE(bad->contains("AT&F??ATD911")) << bad->toStdString();
  EXPECT_TRUE(CheckModemString(std::string("AT\x7F"), "Post Reset String"));
}

TEST(SendSettings, DamagedOrTruncatedFaxFilesAreFoundBeforeDialling) {
  TTempFolder temp;
  const fs::path txt = temp.Path() / "page.txt";
  TTempFolder::WriteFile(txt, "A page to send\nwith two lines\n");
  const fs::path good = temp.Path() / "GOOD.APF";
  std::ostringstream out, err;
  ASSERT_EQ(ApfToolMain({"convert", txt.string(), good.string()}, out, err), 0) << err.str();
  EXPECT_FALSE(CheckFaxFile(good));

  std::ifstream in(good, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto write = [&](const char* name, const std::string& data) {
    const fs::path p = temp.Path() / name;
    std::ofstream(p, std::ios::binary) << data;
    return p;
  };
  for (size_t cut : {size_t{0}, size_t{10}, size_t{64}, size_t{80}, bytes.size() / 2, bytes.size() - 1}) {
    const auto problem = CheckFaxFile(write("CUT.APF", bytes.substr(0, cut)));
    ASSERT_TRUE(problem) << "cut at " << cut;
    EXPECT_TRUE(problem->contains("CUT.APF"));
  }
  std::string wrongSignature = bytes;
  wrongSignature[0] = 'X';
  EXPECT_TRUE(CheckFaxFile(write("SIG.APF", wrongSignature)));
  std::string noPages = bytes;
  // Every 4 bytes of the header after the signature garbled: a page count or
  // offset the file cannot have.
  for (size_t i = 8; i < 64 && i < noPages.size(); i += 4) noPages[i] = '\xFF';
  EXPECT_TRUE(CheckFaxFile(write("HDR.APF", noPages)));
  EXPECT_TRUE(CheckFaxFile(temp.Path() / "MISSING.APF"));
}

TEST(SessionLog, DropsRepeatsAndReplacesTheFile) {
  TTempFolder temp;
  const QString file = QString::fromStdString((temp.Path() / "Lastsend.log").string());
  TSessionLog log;
  log.Add("a");
  log.Add("a");
  log.Add("b");
  log.Add("a");
  log.Save(file, "then");
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "a\r\nb\r\na\r\nFinish: then\r\n");
  f.close();
  log.Clear();
  log.Add("c");
  log.Save(file, "now");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "c\r\nFinish: now\r\n");
}

TEST(SendStages, ARunGoesFromIdleBackToIdleOnlyAlongTheTable) {
  using S = TSendStage;
  // A whole call, and the early ends.
  EXPECT_TRUE(SendStageAllowed(S::Idle, S::Preparing));
  EXPECT_TRUE(SendStageAllowed(S::Preparing, S::Resetting));
  EXPECT_TRUE(SendStageAllowed(S::Resetting, S::Starting));
  EXPECT_TRUE(SendStageAllowed(S::Starting, S::Transmitting));
  EXPECT_TRUE(SendStageAllowed(S::Transmitting, S::Finishing));
  EXPECT_TRUE(SendStageAllowed(S::Finishing, S::Idle));
  for (S early : {S::Preparing, S::AskContinue, S::Resetting, S::Starting}) EXPECT_TRUE(SendStageAllowed(early, S::Idle));
  // Once the engine has the call, only its finish ends the run.
  EXPECT_FALSE(SendStageAllowed(S::Transmitting, S::Idle));
  EXPECT_FALSE(SendStageAllowed(S::Idle, S::Transmitting));
  EXPECT_FALSE(SendStageAllowed(S::Finishing, S::Preparing));
}
