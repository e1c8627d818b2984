// The cleanup rules on real tables of a few hundred rows with their image
// files: each rule deletes exactly its rows and their files, the count is
// right, the rebuilt tables pass the engine's own check; user text cannot
// widen a rule; dates keep their century; a crash mid-rule leaves no row
// without its files once the sweep has run.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "shell/core/Folders.h"
#include "store/core/Cleanup.h"
#include "store/core/FaxTables.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct OutRow {
  std::string recipient, phone, doc, cover;
  int32_t sent = 0;
  bool archived = false;
  bool hasSide = false;  // a cover side file on disk
};
struct RecRow {
  std::string from, file;
  int32_t date = 0;
  bool archived = false;
};

const char* const kNames[] = {"Renée Müller",   "O\"Brien", "x\" .or. .t. .or. \"",
                              "Smith & Co",     "SMITH",    "blacksmith",
                              "it's [x] \"y\"", "Zoë",      "  padded  "};

int32_t Day(int y, int m, int d) { return XbJulian(y, m, d); }

const int32_t kDates[] = {Day(1998, 12, 7), Day(1999, 12, 31), Day(2000, 1, 1), Day(2026, 12, 6),
                          Day(2026, 12, 7), Day(2049, 12, 31), Day(2050, 1, 1)};

class CleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(send_);
    fs::create_directories(receive_);
    // The engine's century setting stays at its default; the main window
    // hides rows flagged deleted.
    env_.SetDeleted(true);
    Open();
    for (int i = 0; i < 300; ++i) {
      OutRow r;
      r.recipient = kNames[i % std::size(kNames)];
      r.phone = "555-" + std::to_string(1000 + i % 13);
      r.sent = i % 5 == 0 ? 0 : kDates[i % std::size(kDates)];
      r.archived = i % 7 == 0;
      if (i % 3 != 0) r.doc = Name("FAX", i);
      if (i % 4 == 0) r.cover = Name("COV", i);
      r.hasSide = !r.cover.empty() && i % 8 == 0;
      AddOutgoing(r);
      out_.push_back(r);
    }
    for (int i = 0; i < 200; ++i) {
      RecRow r;
      r.from = kNames[(i + 2) % std::size(kNames)];
      r.date = kDates[i % std::size(kDates)];
      r.archived = i % 6 == 0;
      char name[16];
      std::snprintf(name, sizeof name, "FAX%04d.APF", i + 1);
      r.file = name;
      AddReceived(r);
      rec_.push_back(r);
    }
    // Files that are not the program's: the sweep must leave them.
    for (const char* f : {"notes.txt", "FAX1234.APF", "FAX000001.APF", "MYFAX001.APF"})
      TTempFolder::WriteFile(send_ / f, "user");
    TTempFolder::WriteFile(receive_ / "FAX00001.APF", "user");
  }
  void TearDown() override {
    EXPECT_TRUE(outTable_.Close());
    EXPECT_TRUE(recTable_.Close());
  }

  static std::string Name(const char* prefix, int i) {
    char name[16];
    std::snprintf(name, sizeof name, "%s%05d.APF", prefix, i);
    return name;
  }
  void Open() {
    outX_.SetDataSource(&outTable_);
    recX_.SetDataSource(&recTable_);
    ASSERT_TRUE(OpenOutgoingTable(outTable_, outX_, tmp_.Path(), ".not. archived"));
    ASSERT_TRUE(OpenReceivedTable(recTable_, recX_, tmp_.Path()));
  }
  void AddOutgoing(const OutRow& r) {
    ASSERT_TRUE(outTable_.Append());
    ASSERT_TRUE(outTable_.SetFieldText("RECIPIENT", r.recipient));
    ASSERT_TRUE(outTable_.SetFieldText("PHONE", r.phone));
    ASSERT_TRUE(outTable_.SetFieldValue("DATESENT", TXbValue::Date(r.sent)));
    ASSERT_TRUE(outTable_.SetFieldText("TIMESENT", "10:00"));
    ASSERT_TRUE(outTable_.SetFieldText("FAXDOC", r.doc));
    ASSERT_TRUE(outTable_.SetFieldText("FAXCOVER", r.cover));
    ASSERT_TRUE(outTable_.SetFieldValue("ARCHIVED", TXbValue::Bool(r.archived)));
    ASSERT_TRUE(outTable_.Post());
    // Some files lie in another letter case than the row spells them.
    const auto disk = [&](std::string n) {
      if (out_.size() % 2) n = XbLower(n);
      return n;
    };
    if (!r.doc.empty()) TTempFolder::WriteFile(send_ / disk(r.doc), "doc");
    if (!r.cover.empty()) TTempFolder::WriteFile(send_ / disk(r.cover), "cover");
    if (r.hasSide) TTempFolder::WriteFile(send_ / disk(fs::path(r.cover).replace_extension(".FCD").string()), "s");
  }
  void AddReceived(const RecRow& r) {
    ASSERT_TRUE(recTable_.Append());
    ASSERT_TRUE(recTable_.SetFieldText("FROM", r.from));
    ASSERT_TRUE(recTable_.SetFieldValue("DATEREC", TXbValue::Date(r.date)));
    ASSERT_TRUE(recTable_.SetFieldText("TIMEREC", "11:00"));
    ASSERT_TRUE(recTable_.SetFieldText("FAXFILE", r.file));
    ASSERT_TRUE(recTable_.SetFieldValue("ARCHIVED", TXbValue::Bool(r.archived)));
    ASSERT_TRUE(recTable_.Post());
    if (r.file != "FAX0002.APF") TTempFolder::WriteFile(receive_ / r.file, "rx");  // one row's file is missing
  }

  // Live rows in natural order, identified by the name of their first file
  // or their record number.
  static std::vector<uint32_t> LiveRows(TXbDataTable& t) {
    std::vector<uint32_t> live;
    TXbTable* x = t.Table();
    for (uint32_t n = 1; n <= x->RecCount(); ++n) {
      EXPECT_TRUE(x->Go(n));
      if (!x->Deleted()) live.push_back(n);
    }
    return live;
  }
  static bool Exists(const fs::path& folder, const std::string& name) { return FindNoCase(folder, name).has_value(); }

  // Runs the rule and checks rows, count, files, and the rebuilt tables.
  void Check(TFaxKind kind, const TCleanupRule& rule, const std::function<bool(size_t i)>& expected) {
    TFaxLogCleanup cleanup(outTable_, recTable_, send_, receive_);
    const bool outgoing = kind == TFaxKind::Outgoing;
    const size_t n = outgoing ? out_.size() : rec_.size();
    std::vector<uint32_t> want;
    for (size_t i = 0; i < n; ++i)
      if (!expected(i)) want.push_back(static_cast<uint32_t>(i + 1));
    const uint32_t count = cleanup.DeleteWhere(kind, rule);
    EXPECT_EQ(count, n - want.size());
    EXPECT_EQ(cleanup.SomethingDeleted(), count > 0);
    TXbDataTable& table = outgoing ? outTable_ : recTable_;
    EXPECT_EQ(LiveRows(table), want);
    for (size_t i = 0; i < n; ++i) {
      const bool gone = expected(i);
      if (outgoing) {
        const OutRow& r = out_[i];
        if (!r.doc.empty()) {
          EXPECT_EQ(Exists(send_, r.doc), !gone) << i;
        }
        if (!r.cover.empty()) {
          EXPECT_EQ(Exists(send_, r.cover), !gone) << i;
        }
        if (r.hasSide) {
          EXPECT_EQ(Exists(send_, fs::path(r.cover).replace_extension(".FCD").string()), !gone) << i;
        }
      } else if (rec_[i].file != "FAX0002.APF") {
        EXPECT_EQ(fs::exists(receive_ / rec_[i].file), !gone) << i;
      }
    }
    // The other table and the user's files are untouched.
    EXPECT_EQ(LiveRows(outgoing ? recTable_ : outTable_).size(), outgoing ? rec_.size() : out_.size());
    for (const char* f : {"notes.txt", "FAX1234.APF", "FAX000001.APF", "MYFAX001.APF"}) {
      EXPECT_TRUE(fs::exists(send_ / f));
    }
    if (outgoing) {
      EXPECT_TRUE(fs::exists(receive_ / "FAX00001.APF"));
    }

    TXbase& x = outgoing ? outX_ : recX_;
    ASSERT_TRUE(RebuildTableIndexes(table, x, outgoing ? OutgoingTags() : ReceivedTags()));
    EXPECT_EQ(table.RecordCount(), want.size());
    EXPECT_TRUE(table.Table()->VerifyIndexes().ok());
    EXPECT_GT(table.Table()->TagNumber("DATEND"), 0);
  }

  TTempFolder tmp_;
  fs::path send_ = tmp_.Path() / "SEND";
  fs::path receive_ = tmp_.Path() / "Receive";
  TXbEngine engine_;
  TXbaseEnv env_{engine_};
  TXbDataTable outTable_{engine_}, recTable_{engine_};
  TXbase outX_{engine_}, recX_{engine_};
  std::vector<OutRow> out_;
  std::vector<RecRow> rec_;
};

TEST_F(CleanupTest, EachRuleDeletesExactlyItsRowsAndTheirFiles) {
  struct Case {
    const char* name;
    TFaxKind kind;
    std::function<TCleanupRule()> rule;
    std::function<bool(const OutRow&, const RecRow&)> deletes;
  };
  const OutRow noOut;
  const RecRow noRec;
  const std::vector<Case> cases = {
      {"archived outgoing", TFaxKind::Outgoing, [] { return RuleArchived(); },
       [](const OutRow& r, const RecRow&) { return r.archived; }},
      {"archived received", TFaxKind::Received, [] { return RuleArchived(); },
       [](const OutRow&, const RecRow& r) { return r.archived; }},
      {"sent", TFaxKind::Outgoing, [] { return RuleSent(); },
       [](const OutRow& r, const RecRow&) { return r.sent != 0; }},
      {"not sent", TFaxKind::Outgoing, [] { return RuleNotSent(); },
       [](const OutRow& r, const RecRow&) { return r.sent == 0; }},
      {"all outgoing", TFaxKind::Outgoing, [] { return RuleAll(); }, [](const OutRow&, const RecRow&) { return true; }},
      {"all received", TFaxKind::Received, [] { return RuleAll(); }, [](const OutRow&, const RecRow&) { return true; }},
      {"recipient exact", TFaxKind::Outgoing, [] { return RuleMatching(TConditionField::Recipient, " smith ", true); },
       [](const OutRow& r, const RecRow&) { return r.recipient == "SMITH"; }},
      {"from partial", TFaxKind::Received, [] { return RuleMatching(TConditionField::From, "smith", false); },
       [](const OutRow&, const RecRow& r) { return XbUpper(r.from).find("SMITH") != std::string::npos; }},
      {"phone exact", TFaxKind::Outgoing, [] { return RuleMatching(TConditionField::Phone, "555-1003", true); },
       [](const OutRow& r, const RecRow&) { return r.phone == "555-1003"; }},
      {"accented name", TFaxKind::Outgoing,
       [] { return RuleMatching(TConditionField::Recipient, "renée müller", true); },
       [](const OutRow& r, const RecRow&) { return r.recipient == "Renée Müller"; }},
      {"padded name", TFaxKind::Outgoing, [] { return RuleMatching(TConditionField::Recipient, "PADDED", true); },
       [](const OutRow& r, const RecRow&) { return r.recipient == "  padded  "; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    fs::remove_all(tmp_.Path());
    out_.clear();
    rec_.clear();
    SetUp();
    const bool outgoing = c.kind == TFaxKind::Outgoing;
    Check(c.kind, c.rule(), [&](size_t i) { return outgoing ? c.deletes(out_[i], noRec) : c.deletes(noOut, rec_[i]); });
  }
}

// A name is compared as text: quotes and xBase words in it cannot turn "the
// faxes to X" into "every fax", nor break the rule.
TEST_F(CleanupTest, QuotesInAValueOnlyMatchThatValue) {
  Check(TFaxKind::Outgoing, RuleMatching(TConditionField::Recipient, "x\" .or. .t. .or. \"", true),
        [&](size_t i) { return out_[i].recipient == "x\" .or. .t. .or. \""; });
}

TEST_F(CleanupTest, AQuoteAsPartialValueMatchesOnlyNamesWithAQuote) {
  Check(TFaxKind::Received, RuleMatching(TConditionField::From, "\"", false),
        [&](size_t i) { return rec_[i].from.find('"') != std::string::npos; });
}

TEST_F(CleanupTest, BlankValueDeletesNothing) {
  EXPECT_FALSE(RuleMatching(TConditionField::From, "   ", false).Valid());
  Check(TFaxKind::Received, RuleMatching(TConditionField::From, "", false), [](size_t) { return false; });
}

// Days either side of century turns: the rule deletes the rows before the
// chosen day, whatever two-digit year a text form of it would have.
TEST_F(CleanupTest, BeforeDateKeepsTheCenturyAt2000) {
  Check(TFaxKind::Outgoing, RuleBeforeDate(TFaxKind::Outgoing, 2000, 1, 1),
        [&](size_t i) { return out_[i].sent != 0 && out_[i].sent < Day(2000, 1, 1); });
}

TEST_F(CleanupTest, BeforeDateKeepsTheCenturyAt2050) {
  Check(TFaxKind::Received, RuleBeforeDate(TFaxKind::Received, 2050, 1, 1),
        [&](size_t i) { return rec_[i].date < Day(2050, 1, 1); });
}

TEST_F(CleanupTest, BeforeDateIsStrictOnTheChosenDay) {
  Check(TFaxKind::Outgoing, RuleBeforeDate(TFaxKind::Outgoing, 2026, 12, 7),
        [&](size_t i) { return out_[i].sent != 0 && out_[i].sent < Day(2026, 12, 7); });
}

TEST_F(CleanupTest, DeletingTheCurrentFaxTakesItsFilesAndMovesOn) {
  TFaxLogCleanup cleanup(outTable_, recTable_, send_, receive_);
  ASSERT_TRUE(outTable_.Table()->Go(9));  // row 9: doc and cover with side file (index 8)
  ASSERT_TRUE(cleanup.DeleteCurrentFax(TFaxKind::Outgoing));
  EXPECT_TRUE(cleanup.SomethingDeleted());
  EXPECT_FALSE(Exists(send_, out_[8].doc));
  EXPECT_FALSE(Exists(send_, out_[8].cover));
  EXPECT_FALSE(Exists(send_, "COV00008.FCD"));
  EXPECT_TRUE(Exists(send_, out_[9].doc));
  EXPECT_FALSE(outTable_.Table()->Deleted());
  // The same row again is refused, and a second rule does not count it.
  ASSERT_TRUE(outTable_.Table()->Go(9));
  EXPECT_FALSE(cleanup.DeleteCurrentFax(TFaxKind::Outgoing));
  EXPECT_EQ(cleanup.DeleteWhere(TFaxKind::Outgoing, RuleAll()), out_.size() - 1);
}

TEST_F(CleanupTest, NamesReachingOutOfTheFolderAreNotDeleted) {
  TTempFolder::WriteFile(tmp_.Path() / "keep.txt", "user");
  ASSERT_TRUE(outTable_.Table()->Go(1));
  ASSERT_TRUE(outTable_.SetFieldText("FAXDOC", "../keep.txt"));
  ASSERT_TRUE(outTable_.Post());
  TFaxLogCleanup cleanup(outTable_, recTable_, send_, receive_);
  ASSERT_TRUE(outTable_.Table()->Go(1));
  EXPECT_TRUE(cleanup.DeleteCurrentFax(TFaxKind::Outgoing));
  EXPECT_TRUE(fs::exists(tmp_.Path() / "keep.txt"));
}

TEST_F(CleanupTest, OwnFileNames) {
  for (const char* n : {"FAX00001.APF", "cov12345.apf", "FWD99999.APF", "COV00003.FCD"}) {
    EXPECT_TRUE(IsOwnSendFileName(n)) << n;
  }
  for (const char* n : {"FAX0001.APF", "FAX000001.APF", "FAX00001.TIF", "FAX00001.FCD", "MYF00001.APF", "FAX0000A.APF"})
    EXPECT_FALSE(IsOwnSendFileName(n)) << n;
  EXPECT_TRUE(IsOwnReceiveFileName("FAX0001.APF"));
  EXPECT_TRUE(IsOwnReceiveFileName("fax9999.apf"));
  EXPECT_FALSE(IsOwnReceiveFileName("FAX00001.APF"));
  EXPECT_FALSE(IsOwnReceiveFileName("NONAME.APF"));
}

TEST_F(CleanupTest, SweepRemovesOnlyOwnFilesNoLiveRowNames) {
  // Orphans of rows flagged before a crash, and a job the driver has not
  // handed over yet.
  ASSERT_TRUE(outTable_.Table()->Go(9));
  ASSERT_TRUE(outTable_.Table()->Delete());
  ASSERT_TRUE(recTable_.Table()->Go(5));
  ASSERT_TRUE(recTable_.Table()->Delete());
  TTempFolder::WriteFile(send_ / "FAX77777.APF", "job");
  TTempFolder::WriteFile(send_ / "FAX77777.ZRD", "555\r\nA\r\nB\r\n");
  // A job the intake had claimed when it stopped, its row not yet written.
  TTempFolder::WriteFile(send_ / "FAX77778.APF", "job");
  TTempFolder::WriteFile(send_ / "FAX77778.ZRC", "555\r\nA\r\nB\r\n");
  TTempFolder::WriteFile(send_ / "COV88888.FCD", "orphan side file");
  const TSweepResult r = SweepOrphanFaxFiles(outTable_, recTable_, send_, receive_, std::chrono::seconds(0));
  EXPECT_TRUE(r.tablesRead);
  EXPECT_EQ(r.removed, 5u);  // doc, cover, side file, COV88888.FCD, received FAX0005
  EXPECT_FALSE(Exists(send_, out_[8].doc));
  EXPECT_FALSE(Exists(send_, out_[8].cover));
  EXPECT_FALSE(Exists(send_, "COV88888.FCD"));
  EXPECT_FALSE(fs::exists(receive_ / rec_[4].file));
  EXPECT_TRUE(fs::exists(send_ / "FAX77777.APF"));
  EXPECT_TRUE(fs::exists(send_ / "FAX77778.APF"));
  for (const char* f : {"notes.txt", "FAX1234.APF", "FAX000001.APF", "MYFAX001.APF"}) {
    EXPECT_TRUE(fs::exists(send_ / f));
  }
  EXPECT_TRUE(fs::exists(receive_ / "FAX00001.APF"));
  EXPECT_TRUE(Exists(send_, out_[9].doc));
  // Recent files wait for a later start.
  ASSERT_TRUE(outTable_.Table()->Go(10));
  ASSERT_TRUE(outTable_.Table()->Delete());
  EXPECT_EQ(SweepOrphanFaxFiles(outTable_, recTable_, send_, receive_).removed, 0u);
  // Without both tables nothing is called an orphan.
  ASSERT_TRUE(recTable_.Close());
  EXPECT_FALSE(SweepOrphanFaxFiles(outTable_, recTable_, send_, receive_, std::chrono::seconds(0)).tablesRead);
  EXPECT_TRUE(Exists(send_, out_[9].doc));
}

// A process killed in the middle of a bulk rule: after the sweep every live
// row has its files and no row is half deleted.
TEST_F(CleanupTest, KilledDuringARuleLeavesNoRowWithoutItsFiles) {
  std::mt19937 random(42);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    const int stopAfter = std::uniform_int_distribution<int>(1, 150)(random);
    const bool timed = round % 2 == 1;
    ASSERT_TRUE(outTable_.Close());
    ASSERT_TRUE(recTable_.Close());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TXbEngine engine;
      engine.Settings().deleted = true;
      TXbDataTable out(engine), rec(engine);
      TXbase ox(engine), rx(engine);
      ox.SetDataSource(&out);
      rx.SetDataSource(&rec);
      if (!OpenOutgoingTable(out, ox, tmp_.Path(), ".not. archived") || !OpenReceivedTable(rec, rx, tmp_.Path()))
        _exit(3);
      TFaxLogCleanup cleanup(out, rec, send_, receive_);
      int flagged = 0;
      cleanup.OnRowFlagged = [&](uint32_t) {
        if (!timed && ++flagged == stopAfter) raise(SIGKILL);  // between the row and its files
        if (timed) usleep(200);
      };
      (void)cleanup.DeleteWhere(TFaxKind::Outgoing, RuleAll());
      _exit(0);
    }
    if (timed) usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(1000, 20000)(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    Open();
    const TSweepResult swept = SweepOrphanFaxFiles(outTable_, recTable_, send_, receive_, std::chrono::seconds(0));
    EXPECT_TRUE(swept.tablesRead);
    EXPECT_TRUE(outTable_.Table()->VerifyIndexes().ok());
    const std::vector<uint32_t> live = LiveRows(outTable_);
    std::set<uint32_t> liveSet(live.begin(), live.end());
    for (size_t i = 0; i < out_.size(); ++i) {
      const OutRow& r = out_[i];
      const bool alive = liveSet.contains(static_cast<uint32_t>(i + 1));
      if (!r.doc.empty()) {
        EXPECT_EQ(Exists(send_, r.doc), alive) << i;
      }
      if (!r.cover.empty()) {
        EXPECT_EQ(Exists(send_, r.cover), alive) << i;
      }
      if (r.hasSide) {
        EXPECT_EQ(Exists(send_, fs::path(r.cover).replace_extension(".FCD").string()), alive) << i;
      }
    }
    // The rule finishes on the next run.
    TFaxLogCleanup cleanup(outTable_, recTable_, send_, receive_);
    EXPECT_EQ(cleanup.DeleteWhere(TFaxKind::Outgoing, RuleAll()), live.size());
    TearDown();
    fs::remove_all(tmp_.Path());
    out_.clear();
    rec_.clear();
    SetUp();
  }
}

}  // namespace

namespace {

// Files left to the background: every row the rule holds for is flagged when
// the rule returns, the tables can be rebuilt meanwhile, and the files are
// gone once the removal is finished; no other file goes.
TEST_F(CleanupTest, FilesLeftToTheBackgroundGoWhileTheTableIsRebuilt) {
  std::vector<uint32_t> want;
  for (size_t i = 0; i < out_.size(); ++i)
    if (out_[i].sent == 0 || out_[i].sent >= Day(2000, 1, 1)) want.push_back(static_cast<uint32_t>(i + 1));
  {
    TFaxLogCleanup cleanup(outTable_, recTable_, send_, receive_);
    const uint32_t count =
        cleanup.DeleteWhere(TFaxKind::Outgoing, RuleBeforeDate(TFaxKind::Outgoing, 2000, 1, 1), TFileRemoval::Background);
    EXPECT_EQ(count, out_.size() - want.size());
    EXPECT_EQ(LiveRows(outTable_), want);
    ASSERT_TRUE(RebuildTableIndexes(outTable_, outX_, OutgoingTags()));
    cleanup.FinishFileRemoval();
    EXPECT_EQ(outTable_.RecordCount(), want.size());
    EXPECT_TRUE(outTable_.Table()->VerifyIndexes().ok());
    // A second rule waits for the first one's files before it starts; the
    // end of the cleanup waits for its own.
    const uint32_t archived = cleanup.DeleteWhere(TFaxKind::Received, RuleArchived(), TFileRemoval::Background);
    EXPECT_GT(archived, 0u);
  }
  for (size_t i = 0; i < out_.size(); ++i) {
    const OutRow& r = out_[i];
    const bool gone = r.sent != 0 && r.sent < Day(2000, 1, 1);
    for (const std::string& f : {r.doc, r.cover})
      if (!f.empty()) {
        EXPECT_EQ(Exists(send_, f), !gone) << i << " " << f;
      }
    if (r.hasSide) {
      EXPECT_EQ(Exists(send_, fs::path(r.cover).replace_extension(".FCD").string()), !gone) << i;
    }
  }
  for (size_t i = 0; i < rec_.size(); ++i)
    if (rec_[i].file != "FAX0002.APF") {
      EXPECT_EQ(fs::exists(receive_ / rec_[i].file), !rec_[i].archived) << i;
    }
  for (const char* f : {"notes.txt", "FAX1234.APF", "FAX000001.APF", "MYFAX001.APF"}) {
    EXPECT_TRUE(fs::exists(send_ / f));
  }
}

// Killed while the files of a rule are going in the background: every row
// was flagged before the first file went, so after the sweep each live row
// has its files and no deleted row left any behind.
TEST_F(CleanupTest, KilledWhileFilesGoInTheBackgroundLeavesNoRowWithoutItsFiles) {
  std::mt19937 random(7);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const auto wait = static_cast<useconds_t>(std::uniform_int_distribution<int>(0, 3000)(random));
    ASSERT_TRUE(outTable_.Close());
    ASSERT_TRUE(recTable_.Close());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TXbEngine engine;
      engine.Settings().deleted = true;
      TXbDataTable out(engine), rec(engine);
      TXbase ox(engine), rx(engine);
      ox.SetDataSource(&out);
      rx.SetDataSource(&rec);
      if (!OpenOutgoingTable(out, ox, tmp_.Path(), ".not. archived") || !OpenReceivedTable(rec, rx, tmp_.Path()))
        _exit(3);
      TFaxLogCleanup cleanup(out, rec, send_, receive_);
      (void)cleanup.DeleteWhere(TFaxKind::Outgoing, RuleNotSent(), TFileRemoval::Background);
      usleep(wait);
      raise(SIGKILL);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    Open();
    EXPECT_TRUE(SweepOrphanFaxFiles(outTable_, recTable_, send_, receive_, std::chrono::seconds(0)).tablesRead);
    EXPECT_TRUE(outTable_.Table()->VerifyIndexes().ok());
    const std::vector<uint32_t> live = LiveRows(outTable_);
    const std::set<uint32_t> liveSet(live.begin(), live.end());
    for (size_t i = 0; i < out_.size(); ++i) {
      const OutRow& r = out_[i];
      const bool alive = liveSet.contains(static_cast<uint32_t>(i + 1));
      EXPECT_EQ(alive, r.sent != 0) << i;  // the whole rule was flagged
      for (const std::string& f : {r.doc, r.cover})
        if (!f.empty()) {
          EXPECT_EQ(Exists(send_, f), alive) << i << " " << f;
        }
    }
    TearDown();
    fs::remove_all(tmp_.Path());
    out_.clear();
    rec_.clear();
    SetUp();
  }
}

}  // namespace
