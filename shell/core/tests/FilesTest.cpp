#include "shell/core/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "shell/core/Folders.h"
#include "shell/core/Text.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(dir_.string()); }
  static void Touch(const fs::path& p, const std::string& bytes = "x") { TTempFolder::WriteFile(p, bytes); }
  static std::string Read(const fs::path& p) { return TTempFolder::ReadFile(p); }
  TTempFolder temp_;
  const fs::path& dir_ = temp_.Path();
};

TEST_F(FilesTest, FoldersAreMadeUnderTheProgramFolder) {
  EXPECT_EQ(ProgramFolder(), dir_.string() + "/");
  EXPECT_TRUE(ProgramFolderWritable());
  EXPECT_EQ(IniFileName(), dir_.string() + "/CV.INI");
  MakeFolders();
  EXPECT_TRUE(fs::is_directory(dir_ / "SEND"));
  EXPECT_TRUE(fs::is_directory(dir_ / "Receive"));
  EXPECT_EQ(SendFolder(), dir_.string() + "/SEND/");
}

TEST_F(FilesTest, ExistingFoldersAreFoundInAnyLetterCase) {
  fs::create_directories(dir_ / "RECEIVE");
  MakeFolders();
  EXPECT_EQ(ReceiveFolder(), dir_.string() + "/RECEIVE/");
  EXPECT_FALSE(fs::exists(dir_ / "Receive"));
}

TEST_F(FilesTest, NextNameFillsGapsAndStopsAt99999) {
  MakeFolders();
  const fs::path send = dir_ / "SEND";
  EXPECT_EQ(NextSendFileName("FAX"), SendFolder() + "FAX00000.APF");
  Touch(send / "FAX00001.APF");
  EXPECT_EQ(NextSendFileName("FAX"), SendFolder() + "FAX00000.APF");
  Touch(send / "fax00000.apf");  // a copy from elsewhere, in lower case
  EXPECT_EQ(NextSendFileName("FAX"), SendFolder() + "FAX00002.APF");
  EXPECT_EQ(NextSendFileName("COV"), SendFolder() + "COV00000.APF");
  EXPECT_EQ(NextTempFileName("Temp"), ProgramFolder() + "Temp00000.APF");
}

TEST_F(FilesTest, NamesRunOutAt99999) {
  const fs::path folder = dir_ / "many";
  fs::create_directories(folder);
  for (int i = 0; i <= 99999; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "T%05d.APF", i);
    std::ofstream(folder / name);
  }
  EXPECT_EQ(NextFileName(folder.string() + "/", "T"), folder.string() + "/T99999.APF");
}

TEST_F(FilesTest, CopyFileData) {
  const fs::path src = dir_ / "a.bin";
  std::string data(5000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Touch(src, data);
  EXPECT_TRUE(CopyFileData(src.string(), (dir_ / "b.bin").string()));
  EXPECT_EQ(Read(dir_ / "b.bin"), data);
  // Onto itself, by the same name or another spelling of it: nothing happens.
  EXPECT_FALSE(CopyFileData(src.string(), src.string()));
  EXPECT_FALSE(CopyFileData(src.string(), (dir_ / "." / "a.bin").string()));
  EXPECT_EQ(Read(src), data);
  EXPECT_FALSE(CopyFileData((dir_ / "missing").string(), (dir_ / "c.bin").string()));
  EXPECT_FALSE(fs::exists(dir_ / "c.bin"));
  EXPECT_FALSE(CopyFileData(src.string(), (dir_ / "no" / "such" / "folder").string()));
}

TEST(TextTest, TrimsOnlySpaces) {
  EXPECT_EQ(TrimLeft("  \tab "), "\tab ");
  EXPECT_EQ(TrimRight(" ab\t  "), " ab\t");
  EXPECT_EQ(TrimBoth("   "), "");
  EXPECT_EQ(TrimBoth(" a b "), "a b");
}

TEST(TextTest, FaxClassNames) {
  EXPECT_EQ(FaxClassName(0), "AutoDetect");
  EXPECT_EQ(FaxClassName(1), "Class 1");
  EXPECT_EQ(FaxClassName(2), "Class 2");
  EXPECT_EQ(FaxClassName(3), "Class 2.0");
  EXPECT_EQ(FaxClassName(4), "unknown");
  EXPECT_EQ(FaxClassName(-1), "unknown");
}

}  // namespace
