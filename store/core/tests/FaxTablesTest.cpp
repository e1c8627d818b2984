// The three tables over the engine: creation, opening rules, tags, filters,
// derived columns, and the expressions the maintenance rules hand over,
// evaluated on real rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "store/core/FaxTables.h"
#include "store/core/Xbase.h"
#include "testsupport/TempFolder.h"

namespace {

class FaxTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.Path();
    env_.SetCentury(true);
    env_.SetDeleted(true);
    engine_.Settings().today = today_;
  }
  void TearDown() override {
    EXPECT_TRUE(out_.Close());
    EXPECT_TRUE(rec_.Close());
  }

  void AddOutgoing(const std::string& subject, int32_t date, const std::string& time, const std::string& doc,
                   bool archived = false) {
    ASSERT_TRUE(out_.Append());
    ASSERT_TRUE(out_.SetFieldText("SUBJECT", subject));
    ASSERT_TRUE(out_.SetFieldValue("DATESENT", TXbValue::Date(date)));
    ASSERT_TRUE(out_.SetFieldText("TIMESENT", time));
    ASSERT_TRUE(out_.SetFieldText("FAXDOC", doc));
    ASSERT_TRUE(out_.SetFieldValue("ARCHIVED", TXbValue::Bool(archived)));
    ASSERT_TRUE(out_.Post());
  }
  void AddReceived(const std::string& from, int32_t date, const std::string& time, bool archived = false) {
    ASSERT_TRUE(rec_.Append());
    ASSERT_TRUE(rec_.SetFieldText("FROM", from));
    ASSERT_TRUE(rec_.SetFieldValue("DATEREC", TXbValue::Date(date)));
    ASSERT_TRUE(rec_.SetFieldText("TIMEREC", time));
    ASSERT_TRUE(rec_.SetFieldValue("PAGES", TXbValue::Num(2)));
    ASSERT_TRUE(rec_.SetFieldText("FAXFILE", "FAX00001.APF"));
    ASSERT_TRUE(rec_.SetFieldValue("ARCHIVED", TXbValue::Bool(archived)));
    ASSERT_TRUE(rec_.Post());
  }
  std::vector<std::string> Column(TXbDataTable& t, const char* field) {
    std::vector<std::string> v;
    EXPECT_TRUE(t.First());
    while (!t.Eof()) {
      v.push_back(t.FieldText(field));
      EXPECT_TRUE(t.Next());
    }
    return v;
  }
  // The cleanup tool's rule loop: natural order, deleted rows shown, delete
  // every live row the expression holds for.
  int DeleteByRule(TXbDataTable& t, TXbase& x, const std::string& expr) {
    const int order = x.SetOrder(0);
    env_.SetDeleted(false);
    int count = 0;
    EXPECT_TRUE(t.First());
    while (!t.Eof()) {
      if (x.Evaluate(expr) && !x.IsDeleted()) {
        EXPECT_TRUE(t.Table()->Delete());
        ++count;
      }
      EXPECT_TRUE(x.LastStatus().ok()) << x.LastStatus().Message();
      EXPECT_TRUE(t.Next());
    }
    env_.SetDeleted(true);
    x.SetOrder(order);
    return count;
  }

  const int32_t today_ = XbJulian(2026, 12, 8);
  TTempFolder temp_;  // before the tables, so that they close first
  std::filesystem::path folder_;
  TXbEngine engine_;
  TXbaseEnv env_{engine_};
  TXbDataTable out_{engine_}, rec_{engine_};
  TXbase outX_{engine_}, recX_{engine_};
};

TDateTimeText Fmt(int32_t today) {
  TDateTimeText f;
  f.today = today;
  f.date = [](int y, int m, int d) {
    char b[32];
    std::snprintf(b, sizeof b, "%02d/%02d/%04d", m, d, y);
    return std::string(b);
  };
  f.time = [](int h, int m) {
    char b[32];
    std::snprintf(b, sizeof b, "%02d:%02d", h, m);
    return std::string(b);
  };
  return f;
}

}  // namespace

TEST_F(FaxTablesTest, OpeningWithoutFilesCreatesTablesAndCreationTags) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ".not. archived"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "CVOUT.DBF"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "CVOUT.CDX"));
  const TXbTable* t = out_.Table();
  ASSERT_EQ(t->Fields().size(), 11u);
  EXPECT_EQ(t->Fields()[5].name, "LASTRESULT");
  EXPECT_EQ(t->Fields()[5].width, 100);
  EXPECT_EQ(t->TagCount(), 5);
  EXPECT_EQ(outX_.TagNumber("DATESENT"), 1);
  EXPECT_EQ(outX_.TagNumber("ARCHIVED"), 5);
  EXPECT_EQ(outX_.TagNumber("DATEND"), 0);  // only the rebuild makes it
  EXPECT_EQ(outX_.CurrentOrder(), 5);       // the last one built
  EXPECT_EQ(outX_.VisibleRowCount(), 0u);
  EXPECT_EQ(outX_.RecordNumber(), outX_.RowCount() + 1);
  EXPECT_EQ(outX_.FilterText(), ".not. archived");

  ASSERT_TRUE(OpenReceivedTable(rec_, recX_, folder_));
  EXPECT_EQ(rec_.Table()->Fields().size(), 7u);
  EXPECT_EQ(rec_.Table()->TagCount(), 3);
  EXPECT_EQ(recX_.FilterText(), ".not. deleted()");

  TXbDataTable pb(engine_);
  TXbase pbX(engine_);
  ASSERT_TRUE(OpenPhoneBook(pb, pbX, folder_, false));
  EXPECT_EQ(pb.IndexName(), "NAME");
  EXPECT_EQ(pb.Table()->Mode(), XbOpenMode::Shared);
  // A second shared opening of the phone book works; an exclusive one waits its turn.
  TXbDataTable pb2(engine_);
  TXbase pb2X(engine_);
  EXPECT_TRUE(OpenPhoneBook(pb2, pb2X, folder_, false));
  TXbDataTable pb3(engine_);
  TXbase pb3X(engine_);
  EXPECT_FALSE(OpenPhoneBook(pb3, pb3X, folder_, true));
  ASSERT_TRUE(pb2.Close());
  ASSERT_TRUE(pb.Close());
  EXPECT_TRUE(OpenPhoneBook(pb3, pb3X, folder_, true));
}

TEST_F(FaxTablesTest, IndependentReaderReadsAllThreeTables) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ".not. archived"));
  ASSERT_TRUE(OpenReceivedTable(rec_, recX_, folder_));
  AddOutgoing("Invoice 7", XbJulian(2026, 12, 1), "09:30", "FAX00001.APF");
  AddReceived("+1 555 0100", XbJulian(2026, 12, 2), "10:15", true);
  TXbDataTable pb(engine_);
  TXbase pbX(engine_);
  ASSERT_TRUE(OpenPhoneBook(pb, pbX, folder_, true));
  ASSERT_TRUE(pb.Append());
  ASSERT_TRUE(pb.SetFieldText("NAME", "Smith & Co"));
  ASSERT_TRUE(pb.SetFieldText("PHONE", "555-0199"));
  ASSERT_TRUE(pb.Post());
  ASSERT_TRUE(pb.Close());
  ASSERT_TRUE(out_.Close());
  ASSERT_TRUE(rec_.Close());
  auto run = [&](const char* file) {
    const std::string cmd = "PYTHONIOENCODING=utf-8 /usr/bin/python3 " CORVANE_SOURCE_DIR
                            "/xbase/tests/dbfread_dump.py '" + (folder_ / file).string() + "' 2>&1";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0) << out;
    return out.substr(out.find('\n') + 1);  // without the header line (date)
  };
  EXPECT_EQ(run("CVOUT.DBF"),
            "F SUBJECT C 50 0\nF DATESENT D 8 0\nF TIMESENT C 5 0\nF RECIPIENT C 35 0\nF PHONE C 25 0\n"
            "F LASTRESULT C 100 0\nF FAXDOC C 12 0\nF FAXCOVER C 12 0\nF NOTES C 50 0\nF CODES C 25 0\n"
            "F ARCHIVED L 1 0\n"
            "L Invoice 7|2026-12-01|09:30||||FAX00001.APF||||F\n");
  EXPECT_EQ(run("CVREC.DBF"),
            "F DATEREC D 8 0\nF TIMEREC C 5 0\nF FROM C 20 0\nF PAGES N 2 0\nF FAXFILE C 12 0\n"
            "F NOTES C 60 0\nF ARCHIVED L 1 0\n"
            "L 2026-12-02|10:15|+1 555 0100|2|FAX00001.APF||T\n");
  EXPECT_EQ(run("CVPB.DBF"), "F NAME C 35 0\nF PHONE C 25 0\nL Smith & Co|555-0199\n");
}

TEST_F(FaxTablesTest, MissingIndexRebuildsOnlyTheCreationTags) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ".not. archived"));
  ASSERT_TRUE(BuildTags(outX_, {OutgoingTags().back()}, false));  // DATEND, as the rebuild makes it
  EXPECT_EQ(outX_.TagNumber("DATEND"), 6);
  AddOutgoing("b", XbJulian(2026, 1, 2), "10:00", "");
  AddOutgoing("a", XbJulian(2026, 1, 3), "10:00", "");
  ASSERT_TRUE(out_.Close());
  std::filesystem::remove(folder_ / "CVOUT.CDX");
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ".not. archived"));
  EXPECT_EQ(out_.Table()->TagCount(), 5);
  EXPECT_EQ(outX_.TagNumber("DATEND"), 0);
  EXPECT_TRUE(out_.SetIndexName("DATESENT"));
  EXPECT_EQ(Column(out_, "SUBJECT"), (std::vector<std::string>{"a", "b"}));  // newest first
}

TEST_F(FaxTablesTest, FiltersOrdersAndTheRebuildSteps) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ".not. archived"));
  AddOutgoing("zeta", XbJulian(2026, 3, 1), "08:00", "F1.APF");
  AddOutgoing("Alpha", XbJulian(2026, 3, 2), "08:00", "F2.APF", true);
  AddOutgoing("mid", XbJulian(2026, 3, 3), "08:00", "F3.APF");
  EXPECT_EQ(outX_.VisibleRowCount(), 2u);
  EXPECT_EQ(outX_.RowCount(), 3u);
  outX_.SetFilter("");
  EXPECT_EQ(outX_.VisibleRowCount(), 3u);
  const int previous = outX_.SetOrder(outX_.TagNumber("SUBJECT"));
  EXPECT_EQ(previous, 5);
  EXPECT_EQ(Column(out_, "SUBJECT"), (std::vector<std::string>{"Alpha", "mid", "zeta"}));
  outX_.SetFilter(".not. ARCHIVED");
  EXPECT_EQ(Column(out_, "SUBJECT"), (std::vector<std::string>{"mid", "zeta"}));
  outX_.SetFilter("ARCHIVED +");
  EXPECT_EQ(outX_.LastStatus().code, XbError::ExprSyntax);

  // Deleting flags the row: gone from lists and tags, still in the file.
  ASSERT_TRUE(out_.First());
  ASSERT_TRUE(out_.Delete());
  outX_.SetFilter("");
  EXPECT_EQ(Column(out_, "SUBJECT"), (std::vector<std::string>{"Alpha", "zeta"}));
  EXPECT_EQ(outX_.RowCount(), 3u);

  // The rebuild: close indexes, delete the .CDX, pack, build every tag.
  std::vector<int> progress;
  outX_.SetProgress([&](XbProgressStep, int p) { progress.push_back(p); });
  const int order = outX_.CurrentOrder();
  ASSERT_TRUE(outX_.CloseIndexes());
  std::filesystem::remove(folder_ / "CVOUT.CDX");
  ASSERT_TRUE(outX_.Pack());
  ASSERT_TRUE(BuildTags(outX_, OutgoingTags(), false));
  outX_.SetOrder(order);
  outX_.SetProgress(nullptr);
  EXPECT_FALSE(progress.empty());
  EXPECT_EQ(outX_.RowCount(), 2u);
  EXPECT_EQ(outX_.TagNumber("DATEND"), 6);
  EXPECT_EQ(outX_.CurrentOrder(), order);
  EXPECT_TRUE(out_.Table()->VerifyIndexes().ok());
}

TEST_F(FaxTablesTest, ReceivedByFromRunsZToA) {
  ASSERT_TRUE(OpenReceivedTable(rec_, recX_, folder_));
  for (const char* f : {"beta", "Zulu", "alpha", "MIKE"}) AddReceived(f, XbJulian(2026, 1, 1), "10:00");
  ASSERT_TRUE(rec_.SetIndexName("FROM"));
  EXPECT_EQ(Column(rec_, "FROM"), (std::vector<std::string>{"Zulu", "MIKE", "beta", "alpha"}));
  ASSERT_TRUE(rec_.SetIndexName("DATETIME"));
  ASSERT_TRUE(rec_.SetIndexName(""));
  EXPECT_FALSE(rec_.SetIndexName("NOSUCH"));
}

TEST_F(FaxTablesTest, DerivedColumnsAndDateTimeText) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ""));
  ASSERT_TRUE(OpenReceivedTable(rec_, recX_, folder_));
  const TDateTimeText fmt = Fmt(today_);
  AddOutgoing("cover only", 0, "", "");
  EXPECT_EQ(CalcFaxFileOutgoing(out_, "/Home/Corvane/"), "(Cover only)");
  EXPECT_EQ(RowDateTimeText(out_, true, fmt), "not sent");
  EXPECT_EQ(IsArchivedText(out_), "No ");
  EXPECT_EQ(IsDeletedText(out_), "No ");
  AddOutgoing("today", today_, "14:05", "FAX00012.APF", true);
  EXPECT_EQ(CalcFaxFileOutgoing(out_, "/Home/Corvane/"), "/home/corvane/send/fax00012.apf");
  EXPECT_EQ(RowDateTimeText(out_, true, fmt), "12/08/2026 at 14:05");
  EXPECT_EQ(IsArchivedText(out_), "Yes");
  AddOutgoing("old", today_ - 2000, "19:05", "X");
  EXPECT_EQ(RowDateTimeText(out_, true, fmt), XbDtoc(today_ - 2000, engine_.Settings()) + " at 19:05");
  AddOutgoing("too old", today_ - 2001, "14:05", "X");
  EXPECT_EQ(RowDateTimeText(out_, true, fmt), "not sent");
  AddOutgoing("bad time", today_, "25:99", "X");
  EXPECT_EQ(RowDateTimeText(out_, true, fmt), "12/08/2026 at ???");
  AddReceived("x", today_ - 5000, "noon");
  EXPECT_EQ(RowDateTimeText(rec_, false, fmt), XbDtoc(today_ - 5000, engine_.Settings()) + " at noon ");
  EXPECT_EQ(CalcFaxFileReceived(rec_, "/P/"), "/p/receive/fax00001.apf");
  ASSERT_TRUE(rec_.Table()->Delete());
  env_.SetDeleted(false);
  ASSERT_TRUE(rec_.Table()->Go(1));
  EXPECT_EQ(IsDeletedText(rec_), "Yes");
}

TEST_F(FaxTablesTest, MaintenanceRulesOnRealRows) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ""));
  ASSERT_TRUE(OpenReceivedTable(rec_, recX_, folder_));
  AddOutgoing("sent long ago", XbJulian(1998, 12, 6), "10:00", "A");
  AddOutgoing("sent on the day", XbJulian(1998, 12, 7), "10:00", "B");
  AddOutgoing("never sent", 0, "", "C");
  AddOutgoing("sent lately", XbJulian(2026, 1, 1), "10:00", "D", true);
  // Before 7 December 1998, written with a two-digit year while four-digit
  // years are on.
  EXPECT_EQ(DeleteByRule(out_, outX_, "(DATESENT<CTOD(\"12/07/98\")) .and. (.not. EMPTY(DATESENT))"), 1);
  EXPECT_EQ(DeleteByRule(out_, outX_, "ARCHIVED"), 1);
  EXPECT_EQ(DeleteByRule(out_, outX_, "EMPTY(DATESENT)"), 1);
  EXPECT_EQ(DeleteByRule(out_, outX_, "ARCHIVED"), 0);  // nothing left to match
  EXPECT_EQ(DeleteByRule(out_, outX_, ".not. EMPTY(DATESENT)"), 1);
  EXPECT_EQ(outX_.VisibleRowCount(), 0u);

  for (const char* f : {"SMITH", "Smithers Ltd", "  smith ", "Jones", "blacksmith"}) AddReceived(f, today_, "10:00");
  EXPECT_EQ(DeleteByRule(rec_, recX_, "ALLTRIM(UPPER(FROM))==\"SMITH\""), 2);
  EXPECT_EQ(DeleteByRule(rec_, recX_, "\"SMITH\"$ALLTRIM(UPPER(FROM))"), 2);
  EXPECT_EQ(Column(rec_, "FROM"), (std::vector<std::string>{"Jones"}));
  EXPECT_EQ(DeleteByRule(rec_, recX_, ".true."), 1);
  EXPECT_FALSE(recX_.Evaluate("NOSUCH"));
  EXPECT_EQ(recX_.LastStatus().code, XbError::ExprUnknownName);
}

TEST_F(FaxTablesTest, OperationsPutThePreviousWorkAreaBack) {
  ASSERT_TRUE(OpenOutgoingTable(out_, outX_, folder_, ""));
  ASSERT_TRUE(OpenReceivedTable(rec_, recX_, folder_));
  ASSERT_TRUE(engine_.Select(rec_.Area()));
  outX_.SetOrder(1);
  outX_.SetFilter(".not. archived");
  outX_.AddIndexTag("DATEND", "DTOS(DATESENT)+TIMESENT", false, kTagCondition);
  EXPECT_EQ(engine_.Current(), rec_.Area());
  EXPECT_EQ(engine_.Alias(out_.Area()), "CVOUT");
  EXPECT_EQ(engine_.Alias(rec_.Area()), "CVREC");
  EXPECT_EQ(outX_.SysProp(1009, 0), 0);
  EXPECT_EQ(outX_.SysProp(1009, 1), 0);
  EXPECT_EQ(outX_.SysProp(1009, 0), 1);
}

TEST_F(FaxTablesTest, ADamagedTableIsReportedAndLeftAlone) {
  {
    std::FILE* f = std::fopen((folder_ / "CVOUT.DBF").c_str(), "wb");
    std::fputs("this is not a table, but it is somebody's file", f);
    std::fclose(f);
  }
  EXPECT_FALSE(OpenOutgoingTable(out_, outX_, folder_, ""));
  EXPECT_EQ(std::filesystem::file_size(folder_ / "CVOUT.DBF"), 46u);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "CVOUT.CDX"));
  // A folder that does not exist: creation fails, false again.
  EXPECT_FALSE(OpenReceivedTable(rec_, recX_, folder_ / "missing"));
}

TEST(ParseTimeOfDay, AcceptsTheUsualForms) {
  int h = 0, m = 0;
  EXPECT_TRUE(ParseTimeOfDay("14:05", h, m));
  EXPECT_EQ(h * 100 + m, 1405);
  EXPECT_TRUE(ParseTimeOfDay(" 9:07:30", h, m));
  EXPECT_EQ(h * 100 + m, 907);
  EXPECT_TRUE(ParseTimeOfDay("12:00 am", h, m));
  EXPECT_EQ(h * 100 + m, 0);
  EXPECT_FALSE(ParseTimeOfDay("", h, m));
  EXPECT_FALSE(ParseTimeOfDay("24:00", h, m));
  EXPECT_FALSE(ParseTimeOfDay("13:00 PM", h, m));
  EXPECT_FALSE(ParseTimeOfDay("1405", h, m));
}
