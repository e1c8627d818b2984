#include "shell/core/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "shell/core/IniFile.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { Settings = TSettings{}; }
  void Write(const std::string& bytes) { TTempFolder::WriteFile(ini_, bytes); }
  std::string Read() const { return TTempFolder::ReadFile(ini_); }

  TTempFolder temp_;
  std::string ini_ = (temp_ / "CV.INI").string();
};

TEST_F(SettingsTest, AbsentFileGivesTheDefaults) {
  ReadSettings(ini_);
  EXPECT_EQ(Settings.ComPort, -1);
  EXPECT_EQ(Settings.FaxClass, 1);
  EXPECT_EQ(Settings.MaximumBPS, 9600);
  EXPECT_EQ(Settings.DialAttempts, 3);
  EXPECT_EQ(Settings.RetryWait, 60);
  EXPECT_EQ(Settings.Timeout, 60);
  EXPECT_EQ(Settings.AnswerOnRing, 1);
  EXPECT_TRUE(Settings.HintsOn);
  EXPECT_EQ(Settings.PrintOnReceiptPrinter, "Default Windows Printer");
  EXPECT_FALSE(Settings.BlindDial || Settings.IgnoreBusy || Settings.PrefixDisable || Settings.SuffixDisable ||
               Settings.AtStartup || Settings.RenegotiateBetween || Settings.ECM || Settings.ECMReceive ||
               Settings.PrintOnReceipt || Settings.ImposeWaitBeforePrinting ||
               Settings.DisableReceivingFaxesNotification);
  EXPECT_EQ(Settings.ToneOrPulse, 0);
  EXPECT_TRUE(Settings.Fax.empty() && Settings.Name.empty() && Settings.InitString.empty() &&
              Settings.ResetString.empty() && Settings.AfterString.empty() && Settings.Wav.empty());
  EXPECT_EQ(Settings.FaxClassReceive, 1);
  EXPECT_EQ(Settings.MaximumBPSReceive, 9600);
  EXPECT_EQ(Settings.InitStringReceive, "");
}

TEST_F(SettingsTest, ReceiveSideFollowsTheSendingValuesWhenMissing) {
  Write("[MODEM]\r\nFaxClass = 2\r\nInitString=AT&F\r\nmaximumbps=0x2580\r\nComPort=abc\r\n"
        "[Dialing]\r\nECM=1\r\n");
  ReadSettings(ini_);
  EXPECT_EQ(Settings.FaxClass, 2);
  EXPECT_EQ(Settings.FaxClassReceive, 2);
  EXPECT_EQ(Settings.InitStringReceive, "AT&F");
  EXPECT_EQ(Settings.MaximumBPS, 9600);
  EXPECT_EQ(Settings.ComPort, -1);
  EXPECT_TRUE(Settings.ECMReceive);

  Write("[Modem]\nFaxClass=2\nFaxClassReceive=3\n");
  ReadSettings(ini_);
  EXPECT_EQ(Settings.FaxClassReceive, 3);
}

TEST_F(SettingsTest, NewFileHasEveryKeyInSectionOrder) {
  ReadSettings(ini_);
  ASSERT_TRUE(WriteSettings(ini_));
  const std::string text = Read();
  std::vector<std::string> sections;
  size_t keys = 0;
  for (size_t pos = 0; pos < text.size();) {
    const size_t nl = text.find("\r\n", pos);
    ASSERT_NE(nl, std::string::npos) << "every line ends in CR LF";
    const std::string line = text.substr(pos, nl - pos);
    if (!line.empty() && line[0] == '[') sections.push_back(line);
    else if (line.find('=') != std::string::npos) ++keys;
    pos = nl + 2;
  }
  EXPECT_EQ(sections, (std::vector<std::string>{"[User]", "[Dialing]", "[Modem]", "[Resetting]", "[Receive]",
                                                "[Hints]", "[Version]", "[Other]"}));
  EXPECT_EQ(keys, 35u);
  TIniFile ini(ini_);
  EXPECT_EQ(ini.ReadString("Version", "Version", ""), "2.9r");
  EXPECT_EQ(ini.ReadString("Modem", "ComPort", ""), "-1");
  EXPECT_EQ(ini.ReadString("Hints", "On", ""), "1");
}

TEST_F(SettingsTest, RoundTripKeepsForeignSectionsAndGarbage) {
  Write("junk without equals\n[Ports]\nCOM1=/tmp/line/com1\n[user]\nname=Ann\n[CDMRU]\nFile1=a.FCS\n"
        "[Modem]\nComPort=99999999999999999\n");
  ReadSettings(ini_);
  EXPECT_EQ(Settings.Name, "Ann");
  EXPECT_EQ(Settings.ComPort, -1);
  Settings.ComPort = 2;
  ASSERT_TRUE(WriteSettings(ini_));
  TIniFile ini(ini_);
  EXPECT_EQ(ini.ReadString("Ports", "COM1", ""), "/tmp/line/com1");
  EXPECT_EQ(ini.ReadString("CDMRU", "File1", ""), "a.FCS");
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", 0), 2);
  EXPECT_NE(Read().find("junk without equals\r\n"), std::string::npos);
  Settings = TSettings{};
  ReadSettings(ini_);
  EXPECT_EQ(Settings.Name, "Ann");
  EXPECT_EQ(Settings.ComPort, 2);
}

TEST_F(SettingsTest, PrintingSectionDefaultsAndRoundTrip) {
  ReadPrintSettings(ini_);
  EXPECT_FALSE(PrintSettings.MultiPage);
  EXPECT_TRUE(PrintSettings.Header && PrintSettings.Footer && PrintSettings.Stretch);
  PrintSettings.MultiPage = true;
  PrintSettings.Footer = false;
  ASSERT_TRUE(WritePrintSettings(ini_));
  PrintSettings = TPrintSettings{};
  ReadPrintSettings(ini_);
  EXPECT_TRUE(PrintSettings.MultiPage);
  EXPECT_FALSE(PrintSettings.Footer);
}

}  // namespace
