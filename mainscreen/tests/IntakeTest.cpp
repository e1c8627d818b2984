#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "mainscreen/GridLayout.h"
#include "mainscreen/PrinterDriverIntake.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct TRow {
  std::string faxDoc;
  TJobDescription job;
};

class IntakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
    MakeFolders();
  }
  static void Write(const fs::path& p, const std::string& text) { TTempFolder::WriteFile(p, text); }
  TJobTable Appender(bool succeed = true) {
    TJobTable table;
    table.append = [this, succeed](const std::string& doc, const TJobDescription& job) {
      if (succeed) rows_.push_back({doc, job});
      return succeed;
    };
    table.hasRow = [this](const std::string& doc) -> std::optional<bool> {
      for (const TRow& r : rows_)
        if (r.faxDoc == doc) return true;
      return false;
    };
    return table;
  }

  TTempFolder temp_;
  const fs::path& home_ = temp_.Path();
  const fs::path send_ = home_ / "SEND";
  std::vector<TRow> rows_;
};

TEST_F(IntakeTest, JobsBecomeRowsAndTheirDescriptionsGo) {
  Write(send_ / "JOB1.APF", "apf");
  Write(send_ / "JOB1.ZRD", "555-1234\r\nAnn Smith\r\nQuarterly report\r\nignored\r\n");
  Write(send_ / "job2.apf", "apf");
  Write(send_ / "job2.zrd", "555-9999\nBob\nHello\n");
  EXPECT_TRUE(ProcessExtraPDFaxFiles(Appender()));
  ASSERT_EQ(rows_.size(), 2u);
  std::sort(rows_.begin(), rows_.end(), [](const TRow& a, const TRow& b) { return a.faxDoc < b.faxDoc; });
  EXPECT_EQ(rows_[0].faxDoc, "JOB1.APF");
  EXPECT_EQ(rows_[0].job.faxNumber, "555-1234");
  EXPECT_EQ(rows_[0].job.recipient, "Ann Smith");
  EXPECT_EQ(rows_[0].job.subject, "Quarterly report");
  EXPECT_EQ(rows_[1].faxDoc, "job2.apf");
  EXPECT_EQ(rows_[1].job.subject, "Hello");
  EXPECT_FALSE(fs::exists(send_ / "JOB1.ZRD"));
  EXPECT_FALSE(fs::exists(send_ / "job2.zrd"));
  EXPECT_TRUE(fs::exists(send_ / "JOB1.APF"));
  rows_.clear();
  EXPECT_FALSE(ProcessExtraPDFaxFiles(Appender()));
  EXPECT_TRUE(rows_.empty());
}

TEST_F(IntakeTest, ImageWithoutDescriptionIsNotTakenAndDescriptionWaitsForItsImage) {
  Write(send_ / "ALONE.APF", "apf");
  Write(send_ / "LATE.ZRD", "1\n2\n3\n");
  EXPECT_TRUE(ProcessExtraPDFaxFiles(Appender()));
  EXPECT_TRUE(rows_.empty());
  EXPECT_TRUE(fs::exists(send_ / "LATE.ZRD"));
  Write(send_ / "LATE.APF", "apf");
  EXPECT_TRUE(ProcessExtraPDFaxFiles(Appender()));
  ASSERT_EQ(rows_.size(), 1u);
  EXPECT_EQ(rows_[0].faxDoc, "LATE.APF");
}

TEST_F(IntakeTest, FailedAppendKeepsTheDescription) {
  Write(send_ / "A.APF", "apf");
  Write(send_ / "A.ZRD", "1\n2\n3\n");
  ProcessExtraPDFaxFiles(Appender(false));
  EXPECT_TRUE(fs::exists(send_ / "A.ZRD"));
}

TEST_F(IntakeTest, ShortDescriptionsGiveEmptyLines) {
  Write(send_ / "S.APF", "apf");
  Write(send_ / "S.ZRD", "555-1");
  ProcessExtraPDFaxFiles(Appender());
  ASSERT_EQ(rows_.size(), 1u);
  EXPECT_EQ(rows_[0].job.faxNumber, "555-1");
  EXPECT_EQ(rows_[0].job.recipient, "");
  EXPECT_EQ(rows_[0].job.subject, "");
}

TEST_F(IntakeTest, NamesTooLongForTheTableAreRenamedNotCut) {
  Write(send_ / "QUARTERLYREPORT.APF", "apf");
  Write(send_ / "QUARTERLYREPORT.ZRD", "1\n2\n3\n");
  ProcessExtraPDFaxFiles(Appender());
  ASSERT_EQ(rows_.size(), 1u);
  EXPECT_EQ(rows_[0].faxDoc, "FAX00000.APF");
  EXPECT_TRUE(fs::exists(send_ / "FAX00000.APF"));
  EXPECT_FALSE(fs::exists(send_ / "QUARTERLYREPORT.ZRD"));
}

TEST_F(IntakeTest, ClaimsLeftByAnInterruptedRunEndAsOneRow) {
  // B's row was written before the run stopped; C's was not.
  Write(send_ / "B.APF", "apf");
  Write(send_ / "B.ZRC", "1\nBob\nsent\n");
  Write(send_ / "C.APF", "apf");
  Write(send_ / "C.ZRC", "2\nCid\nnot yet\n");
  rows_.push_back({"B.APF", {"1", "Bob", "sent"}});
  EXPECT_TRUE(ProcessExtraPDFaxFiles(Appender()));
  ASSERT_EQ(rows_.size(), 2u);
  EXPECT_EQ(rows_[1].faxDoc, "C.APF");
  EXPECT_EQ(rows_[1].job.recipient, "Cid");
  EXPECT_FALSE(fs::exists(send_ / "B.ZRC"));
  EXPECT_FALSE(fs::exists(send_ / "C.ZRC"));

  // A table that cannot be read decides nothing: the claim stays.
  Write(send_ / "D.APF", "apf");
  Write(send_ / "D.ZRC", "3\nDan\nlater\n");
  TJobTable unreadable = Appender();
  unreadable.hasRow = [](const std::string&) { return std::optional<bool>(); };
  ProcessExtraPDFaxFiles(unreadable);
  EXPECT_EQ(rows_.size(), 2u);
  EXPECT_TRUE(fs::exists(send_ / "D.ZRC"));
}

TEST_F(IntakeTest, LocationFileNamesTheSendFolder) {
  const std::string config = (home_ / "config").string();
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  WriteZRTPDINI();
  TIniFile ini(config + "/corvane/CVPD.INI");
  EXPECT_EQ(ini.ReadString("Location", "CVOutPath", ""), SendFolder());
  EXPECT_FALSE(ini.ReadString("Location", "CVExecutable", "").empty());
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(IntakeTest, GridLayoutsRoundTripAndSkipWhatNoLongerFits) {
  const std::string folder = home_.string() + "/";
  ASSERT_TRUE(SaveGridOrders(folder, "Out", {"SUBJECT", "CALCFAXFILE", "PHONE", "DATESENT"}, {11, 80, 120, 60}));
  EXPECT_EQ(TTempFolder::ReadFile(home_ / "Out.gco"), "SUBJECT\r\nPHONE\r\nDATESENT\r\n");

  Write(home_ / "Out.gco", "SUBJECT\r\nGONEFIELD\r\nphone\r\n");
  Write(home_ / "Out.gcs", "11\r\nwide\r\n120\r\n-5\r\n99999999\r\n");
  const TGridLayout layout = LoadGridOrders(folder, "Out", {"PHONE", "SUBJECT", "RECIPIENT"});
  EXPECT_EQ(layout.positions, (std::map<std::string, int>{{"SUBJECT", 0}, {"PHONE", 2}}));
  EXPECT_EQ(layout.widths, (std::map<int, int>{{0, 11}, {2, 120}}));
  EXPECT_TRUE(LoadGridOrders(folder, "Rec", {"FROM"}).positions.empty());
}

}  // namespace
