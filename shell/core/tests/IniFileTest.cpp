#include "shell/core/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& bytes) {
    const fs::path p = dir_ / "CV.INI";
    TTempFolder::WriteFile(p, bytes);
    return p;
  }
  static std::string Read(const fs::path& p) { return TTempFolder::ReadFile(p); }

  TTempFolder temp_;
  const fs::path& dir_ = temp_.Path();
};

TEST_F(IniFileTest, ReadsWindowsStyleFileRegardlessOfCaseAndBlanks) {
  TIniFile ini(Write("[MODEM]\r\n  comport =  2 \r\nfaxclass=0x3\r\n[user]\r\nName = \"Ann Smith\"\r\n"));
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 2);
  EXPECT_EQ(ini.ReadInteger("Modem", "FaxClass", 1), 3);
  EXPECT_EQ(ini.ReadString("User", "Name", ""), "Ann Smith");
  EXPECT_EQ(ini.ReadString("User", "Fax", "none"), "none");
  EXPECT_EQ(ini.ReadString("Nowhere", "Fax", "d"), "d");
}

TEST_F(IniFileTest, NumbersFollowTheProfileRules) {
  EXPECT_EQ(TIniFile::ParseInteger("0x2580"), 9600);
  EXPECT_EQ(TIniFile::ParseInteger("0X10"), 16);
  EXPECT_EQ(TIniFile::ParseInteger("-7"), -7);
  EXPECT_EQ(TIniFile::ParseInteger("0xFFFFFFFF"), -1);
  EXPECT_EQ(TIniFile::ParseInteger("0x"), std::nullopt);
  EXPECT_EQ(TIniFile::ParseInteger("abc"), std::nullopt);
  EXPECT_EQ(TIniFile::ParseInteger("12abc"), std::nullopt);
  EXPECT_EQ(TIniFile::ParseInteger("99999999999999999999"), std::nullopt);
  EXPECT_EQ(TIniFile::ParseInteger("2147483648"), std::nullopt);
  EXPECT_EQ(TIniFile::ParseInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(TIniFile::ParseInteger(""), std::nullopt);
  TIniFile ini(Write("[Hints]\nOn=5\nOff=0\nBad=yes\n"));
  EXPECT_TRUE(ini.ReadBool("Hints", "On", false));
  EXPECT_FALSE(ini.ReadBool("Hints", "Off", true));
  EXPECT_TRUE(ini.ReadBool("Hints", "Bad", true));
}

TEST_F(IniFileTest, WritingKeepsEverythingItDoesNotTouch) {
  const std::string original =
      "; written by hand\r\n[Ports]\r\nCOM1=/dev/pts/7\r\n\r\n[Modem]\r\nComPort=0\r\ngarbage line\r\n\r\n"
      "[Other]\r\nKey=\xff\xfe bytes\r\n";
  const fs::path p = Write(original);
  TIniFile ini(p);
  ini.WriteInteger("modem", "COMPORT", 3);
  ini.WriteString("Modem", "InitString", "ATZ");
  ini.WriteString("Version", "Version", "2.9r");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Read(p),
            "; written by hand\r\n[Ports]\r\nCOM1=/dev/pts/7\r\n\r\n[Modem]\r\nComPort=3\r\ngarbage line\r\n"
            "InitString=ATZ\r\n\r\n[Other]\r\nKey=\xff\xfe bytes\r\n\r\n[Version]\r\nVersion=2.9r\r\n");
  TIniFile again(p);
  EXPECT_EQ(again.ReadString("Other", "Key", ""), "\xff\xfe bytes");
}

TEST_F(IniFileTest, ValuesCannotBreakTheFileApart) {
  const fs::path p = dir_ / "CV.INI";
  TIniFile ini(p);
  ini.WriteString("User", "Name", "first\r\n[Modem]\r\nComPort=9");
  ASSERT_TRUE(ini.UpdateFile());
  TIniFile again(p);
  EXPECT_EQ(again.ReadString("User", "Name", ""), "first");
  EXPECT_FALSE(again.SectionExists("Modem"));
}

TEST_F(IniFileTest, OverLongAndGarbageFilesReadWithoutTrouble) {
  std::string junk = "[User]\nName=" + std::string(100000, 'x') + "\n\x01\x02[[[\n=novalue\n[Modem\nComPort=abc\n";
  TIniFile ini(Write(junk));
  EXPECT_EQ(ini.ReadString("User", "Name", "").size(), 100000u);
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), -1);
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFile) {
  const fs::path p = Write("[A]\r\nB=1\r\n");
  TIniFile ini(p);
  ini.WriteInteger("A", "B", 2);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  const bool written = ini.UpdateFile();
  fs::permissions(dir_, fs::perms::owner_all);
  if (::geteuid() != 0) {  // root writes anyway
    EXPECT_FALSE(written);
    EXPECT_EQ(Read(p), "[A]\r\nB=1\r\n");
  }
  for (const auto& e : fs::directory_iterator(dir_)) EXPECT_EQ(e.path().filename(), "CV.INI");
}

}  // namespace
