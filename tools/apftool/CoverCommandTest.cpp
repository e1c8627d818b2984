// apftool cover run as a program: a stock template filled in from the
// command line becomes a one-page APF file; missing and damaged inputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cover/core/FctFile.h"
#include "faximage/Apf.h"
#include "testsupport/TempFolder.h"

namespace {

struct TResult {
  int status;
  std::string output;
};

// Runs "apftool cover" with these arguments.
TResult RunApfTool(const std::string& arguments) {
  const std::string command = std::string(APFTOOL_EXE) + " cover " + arguments + " 2>&1";
  TResult r{-1, {}};
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) r.output += buf;
  const int raw = ::pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

const std::string kUrgent = std::string(CORVANE_SOURCE_DIR) + "/cover/stock/CV0003.FCT";

TEST(ApfToolCover, FillsAStockTemplateIntoAOnePageFax) {
  TTempFolder dir;
  TTempFolder::WriteFile(dir / "msg.txt", "Please call me back & soon.\nThanks.\n");
  const std::string out = (dir / "cover.apf").string();
  const auto r = RunApfTool(kUrgent + " " + out + " --to 'Ann Example' --from Bob --regarding 'Quarterly report' --urgent" +
                     " --reply --message " + (dir / "msg.txt").string());
  ASSERT_EQ(r.status, 0) << r.output;
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(out), 0);
  EXPECT_EQ(reader.PageCount(), 1);
  ApfPageHeader page{};
  uint64_t offset = 0;
  ASSERT_EQ(reader.FindPage(1, page, offset), 0);
  EXPECT_TRUE(page.HighRes());

  const std::string normal = (dir / "normal.apf").string();
  ASSERT_EQ(RunApfTool(kUrgent + " " + normal + " --normal").status, 0);
  ASSERT_EQ(reader.Open(normal), 0);
  ASSERT_EQ(reader.FindPage(1, page, offset), 0);
  EXPECT_FALSE(page.HighRes());
}

TEST(ApfToolCover, RefusesMissingInputsAndDrawsWhatADamagedTemplateHolds) {
  TTempFolder dir;
  const std::string out = (dir / "out.apf").string();
  auto r = RunApfTool((dir / "NONE.FCT").string() + " " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no template"), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(RunApfTool(kUrgent + " " + out + " --message " + (dir / "none.txt").string()).status, 1);
  EXPECT_EQ(RunApfTool(kUrgent + " " + out + " --bogus").status, 2);

  std::string bytes;
  ASSERT_TRUE(ReadTemplateBytes(kUrgent, bytes));
  TTempFolder::WriteFile(dir / "cut.FCT", bytes.substr(0, bytes.size() / 2));
  r = RunApfTool((dir / "cut.FCT").string() + " " + out);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("damaged"), std::string::npos) << r.output;
  EXPECT_TRUE(IsApfFile(out));
}

}  // namespace
