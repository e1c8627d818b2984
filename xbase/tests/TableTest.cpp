// Tables with tags: navigation, filters, seek, scope, pack, locking, and the
// agreement of every tag with the table after random changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "xbase/Engine.h"
#include "xbase/Table.h"
#include "xbase/tests/TestUtil.h"

namespace {

struct Row {
  std::string subject;
  int32_t date = 0;
  std::string time;
  bool archived = false;
  bool deleted = false;
};

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "OUT.DBF";
    XB_ASSERT_OK(TDbfFile::Create(path_, OutgoingLikeFields(), true));
    settings_.deleted = true;
    XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  }

  void Add(const Row& r) {
    XB_ASSERT_OK(t_.AppendBlank());
    XB_ASSERT_OK(t_.SetValue("SUBJECT", TXbValue::Char(r.subject)));
    XB_ASSERT_OK(t_.SetValue("DATESENT", TXbValue::Date(r.date)));
    XB_ASSERT_OK(t_.SetValue("TIMESENT", TXbValue::Char(r.time)));
    XB_ASSERT_OK(t_.SetValue("ARCHIVED", TXbValue::Bool(r.archived)));
    XB_ASSERT_OK(t_.Post());
    if (r.deleted) XB_ASSERT_OK(t_.Delete());
  }

  void AddOutgoingTags() {
    XB_ASSERT_OK(t_.AddTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
    XB_ASSERT_OK(t_.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
    XB_ASSERT_OK(t_.AddTag("ARCHIVED", "ARCHIVED", ".not. deleted()", false));
    XB_ASSERT_OK(t_.AddTag("DATEND", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", false));
  }

  std::vector<uint32_t> Walk(bool backwards = false) {
    std::vector<uint32_t> out;
    if (backwards) {
      EXPECT_TRUE(t_.GoBottom().ok());
      while (!t_.Bof() && !t_.Eof()) {
        out.push_back(t_.RecNo());
        EXPECT_TRUE(t_.Skip(-1).ok());
        if (out.size() > 100000) break;
      }
      std::reverse(out.begin(), out.end());
      return out;
    }
    EXPECT_TRUE(t_.GoTop().ok());
    while (!t_.Eof()) {
      out.push_back(t_.RecNo());
      EXPECT_TRUE(t_.Skip(1).ok());
      if (out.size() > 100000) break;
    }
    return out;
  }

  TTempFolder dir_;
  std::filesystem::path path_;
  TXbSettings settings_;
  TXbTable t_;
};

int32_t D(int y, int m, int d) { return XbJulian(y, m, d); }

}  // namespace

TEST_F(TableTest, NaturalOrderFilterAndDeletedRows) {
  Add({"a", D(2020, 1, 1), "10:00", false, false});
  Add({"b", D(2020, 1, 2), "10:00", true, false});
  Add({"c", 0, "", false, true});
  Add({"d", D(2020, 1, 3), "10:00", false, false});
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 4}));
  EXPECT_EQ(Walk(true), (std::vector<uint32_t>{1, 2, 4}));
  XB_ASSERT_OK(t_.SetFilter(".not. archived"));
  EXPECT_EQ(t_.Filter(), ".not. archived");
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 4}));
  uint32_t n = 0;
  XB_ASSERT_OK(t_.VisibleCount(n));
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(t_.RecCount(), 4u);
  XB_ASSERT_OK(t_.SetFilter(""));
  settings_.deleted = false;
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 3, 4}));
  XB_ASSERT_OK(t_.Go(3));
  EXPECT_TRUE(t_.Deleted());
  XB_ASSERT_OK(t_.Recall());
  settings_.deleted = true;
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(t_.SetFilter("archived +").code, XbError::ExprSyntax);
  EXPECT_EQ(t_.SetFilter("SUBJECT").code, XbError::ExprType);
  // Past the end: record number is count + 1 and fields read blank.
  XB_ASSERT_OK(t_.GoBottom());
  XB_ASSERT_OK(t_.Skip(1));
  EXPECT_TRUE(t_.Eof());
  EXPECT_EQ(t_.RecNo(), 5u);
  EXPECT_EQ(t_.GetTrimString("SUBJECT"), "");
  EXPECT_EQ(t_.Go(99).code, XbError::NoRecord);
}

TEST_F(TableTest, TagOrdersAscendingDescendingAndForCondition) {
  Add({"beta", D(2021, 5, 1), "09:00", false, false});
  Add({"Alpha", D(2021, 5, 1), "08:00", true, false});
  Add({"gamma", D(2019, 1, 1), "12:00", false, true});
  Add({"delta", 0, "", false, false});
  Add({"alpha", D(2022, 1, 1), "00:00", false, false});
  AddOutgoingTags();
  EXPECT_EQ(t_.TagNumber("datesent"), 1);
  EXPECT_EQ(t_.TagNumber("DATEND"), 4);
  EXPECT_EQ(t_.TagNumber("NOPE"), 0);
  EXPECT_EQ(t_.Order(), 4);  // the last tag built is current
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 2, 1, 5}));
  XB_ASSERT_OK(t_.SetOrder(1));  // newest first, the empty date last
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{5, 1, 2, 4}));
  EXPECT_EQ(Walk(true), (std::vector<uint32_t>{5, 1, 2, 4}));
  XB_ASSERT_OK(t_.SetOrder(2));  // case-blind, ties by record number
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 5, 1, 4}));
  XB_ASSERT_OK(t_.SetOrder(3));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 4, 5, 2}));
  XB_ASSERT_OK(t_.SetFilter(".not. archived"));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 4, 5}));
  // Changing a key moves the row; deleting drops it from every tag.
  XB_ASSERT_OK(t_.SetFilter(""));
  XB_ASSERT_OK(t_.SetOrder(2));
  XB_ASSERT_OK(t_.Go(4));
  XB_ASSERT_OK(t_.SetValue("SUBJECT", TXbValue::Char("aardvark")));
  XB_ASSERT_OK(t_.Post());
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 2, 5, 1}));
  XB_ASSERT_OK(t_.Go(5));
  XB_ASSERT_OK(t_.Delete());
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 2, 1}));
  XB_ASSERT_OK(t_.SetOrder(0));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 4}));
  XB_EXPECT_OK(t_.VerifyIndexes());
  EXPECT_EQ(t_.SetOrder(9).code, XbError::NoSuchTag);
  EXPECT_EQ(t_.AddTag("BAD", "NOPE", "", false).code, XbError::ExprUnknownName);
  EXPECT_EQ(t_.AddTag("BAD", "SUBJECT", "SUBJECT", false).code, XbError::ExprType);
  EXPECT_EQ(t_.AddTag("TOOLONGNAME", "SUBJECT", "", false).code, XbError::BadArgument);
}

// A list reads its rows a page at a time: the rows a collecting skip passes
// must be the ones single steps would pass, in every order and filter, and it
// must stop on the last of them or at the end exactly as Skip does.
TEST_F(TableTest, SkipCollectingPassesTheRowsSingleStepsWould) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i)
    Add({"s" + std::to_string(rng() % 50), D(2020, 1, 1) + static_cast<int32_t>(rng() % 90), "10:00", rng() % 3 == 0,
         rng() % 9 == 0});
  AddOutgoingTags();
  for (int order : {0, 1, 2}) {
    for (const char* filter : {"", ".not. archived"}) {
      SCOPED_TRACE(std::to_string(order) + " " + filter);
      XB_ASSERT_OK(t_.SetOrder(order));
      XB_ASSERT_OK(t_.SetFilter(filter));
      const std::vector<uint32_t> all = Walk();
      ASSERT_GT(all.size(), 100u);
      for (long page : {0L, 1L, 7L, 64L, 1000L}) {
        std::vector<uint32_t> got;
        XB_ASSERT_OK(t_.GoTop());
        got.push_back(t_.RecNo());
        while (!t_.Eof()) {
          const size_t before = got.size();
          XB_ASSERT_OK(t_.SkipCollecting(page, got));
          if (page == 0) break;
          ASSERT_LE(got.size() - before, static_cast<size_t>(page));
          if (!t_.Eof()) {
            EXPECT_EQ(got.size() - before, static_cast<size_t>(page));
            EXPECT_EQ(t_.RecNo(), got.back());
          }
        }
        if (page == 0) {
          EXPECT_EQ(got.size(), 1u);
          EXPECT_EQ(t_.RecNo(), all.front());
        } else {
          EXPECT_EQ(got, all) << "page " << page;
        }
      }
    }
  }
}

TEST_F(TableTest, SeekSoftSeekAndScope) {
  for (const char* s : {"Smith", "Smithers", "jones", "Brown", "smith"}) Add({s, 0, "", false, false});
  XB_ASSERT_OK(t_.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
  bool found = false;
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("SMITH"), found));
  EXPECT_TRUE(found);
  EXPECT_EQ(t_.RecNo(), 1u);
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("JO"), found));
  EXPECT_TRUE(found);
  EXPECT_EQ(t_.RecNo(), 3u);
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("K"), found));
  EXPECT_FALSE(found);
  EXPECT_TRUE(t_.Eof());
  settings_.softSeek = true;
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("K"), found));
  EXPECT_FALSE(found);
  EXPECT_EQ(t_.RecNo(), 1u);  // SMITH, the next key
  settings_.softSeek = false;
  EXPECT_EQ(t_.Seek(TXbValue::Num(1), found).code, XbError::ExprType);
  XB_ASSERT_OK(t_.SetScope(TXbValue::Char("SMITH"), TXbValue::Char("SMITH")));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 5, 2}));
  uint32_t n = 0;
  XB_ASSERT_OK(t_.VisibleCount(n));
  EXPECT_EQ(n, 3u);
  XB_ASSERT_OK(t_.SetScope(TXbValue::Char("C"), TXbValue::Char("K")));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{3}));
  t_.ClearScope();
  EXPECT_EQ(Walk().size(), 5u);
  // Descending tag: seek finds the first match in descending order.
  XB_ASSERT_OK(t_.AddTag("SUBJDESC", "UPPER(SUBJECT)", "", true));
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("SMITH"), found));
  EXPECT_TRUE(found);
  EXPECT_EQ(t_.RecNo(), 2u);  // SMITHERS comes first from Z to A
  XB_ASSERT_OK(t_.Skip(1));
  EXPECT_EQ(t_.RecNo(), 5u);
  XB_ASSERT_OK(t_.Skip(1));
  EXPECT_EQ(t_.RecNo(), 1u);
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("K"), found));
  EXPECT_FALSE(found);
  EXPECT_TRUE(t_.Eof());
}

TEST_F(TableTest, TagsAgreeWithASimpleModelAfterRandomChanges) {
  std::mt19937 rng(1234);
  std::vector<Row> model;
  AddOutgoingTags();
  auto randomRow = [&] {
    Row r;
    static const char* words[] = {"fax", "Fax", "report", "", "zeta", "Alpha", "alpha ", "invoice"};
    r.subject = std::string(words[rng() % 8]) + (rng() % 3 ? std::to_string(rng() % 20) : "");
    r.date = rng() % 5 ? D(2020 + static_cast<int>(rng() % 3), 1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28)) : 0;
    r.time = rng() % 4 ? std::to_string(10 + rng() % 14) + ":" + std::to_string(10 + rng() % 50) : "";
    r.archived = rng() % 3 == 0;
    return r;
  };
  auto check = [&](const char* when) {
    XB_ASSERT_OK(t_.VerifyIndexes());
    // Ascending DATEND order from the model.
    std::vector<uint32_t> expect;
    for (uint32_t i = 0; i < model.size(); ++i)
      if (!model[i].deleted) expect.push_back(i + 1);
    std::stable_sort(expect.begin(), expect.end(), [&](uint32_t a, uint32_t b) {
      return XbDtos(model[a - 1].date) + (model[a - 1].time + "     ").substr(0, 5) <
             XbDtos(model[b - 1].date) + (model[b - 1].time + "     ").substr(0, 5);
    });
    XB_ASSERT_OK(t_.SetOrder(t_.TagNumber("DATEND")));
    EXPECT_EQ(Walk(), expect) << when;
    // A descending tag is the ascending one walked backwards (equal keys
    // too: highest record number first).
    const std::vector<uint32_t> desc(expect.rbegin(), expect.rend());
    XB_ASSERT_OK(t_.SetOrder(t_.TagNumber("DATESENT")));
    EXPECT_EQ(Walk(), desc) << when;
    EXPECT_EQ(Walk(true), desc) << when;
    XB_ASSERT_OK(t_.SetOrder(t_.TagNumber("ARCHIVED")));
    XB_ASSERT_OK(t_.SetFilter(".not. archived"));
    uint32_t n = 0;
    XB_ASSERT_OK(t_.VisibleCount(n));
    EXPECT_EQ(n, std::count_if(model.begin(), model.end(), [](const Row& r) { return !r.deleted && !r.archived; }))
        << when;
    XB_ASSERT_OK(t_.SetFilter(""));
  };
  for (int round = 0; round < 6; ++round) {
    for (int op = 0; op < 400; ++op) {
      const auto k = static_cast<unsigned>(rng() % 10);
      if (k < 5 || model.empty()) {
        model.push_back(randomRow());
        Add(model.back());
        continue;
      }
      const auto recno = static_cast<uint32_t>(1 + rng() % model.size());
      XB_ASSERT_OK(t_.Go(recno));
      Row& m = model[recno - 1];
      if (k < 7) {
        const Row r = randomRow();
        XB_ASSERT_OK(t_.SetValue("DATESENT", TXbValue::Date(r.date)));
        XB_ASSERT_OK(t_.SetValue("TIMESENT", TXbValue::Char(r.time)));
        XB_ASSERT_OK(t_.SetValue("ARCHIVED", TXbValue::Bool(r.archived)));
        XB_ASSERT_OK(t_.Post());
        m.date = r.date;
        m.time = r.time;
        m.archived = r.archived;
      } else if (k < 9) {
        XB_ASSERT_OK(t_.Delete());
        m.deleted = true;
      } else {
        XB_ASSERT_OK(t_.Recall());
        m.deleted = false;
      }
    }
    check("after changes");
    if (round % 2 == 0) {
      // Through the file: closing writes the index, opening reads it back.
      XB_ASSERT_OK(t_.Close());
      XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
      EXPECT_EQ(t_.IndexState(), XbIndexState::Current);
      EXPECT_EQ(t_.TagCount(), 4);
      check("after reopening");
    } else {
      XB_ASSERT_OK(t_.Pack());
      std::vector<Row> kept;
      for (const Row& r : model)
        if (!r.deleted) kept.push_back(r);
      model = kept;
      EXPECT_EQ(t_.RecCount(), model.size());
      check("after pack");
    }
  }
}

TEST_F(TableTest, IndexFileIsACompoundIndexWithMultiLevelTrees) {
  for (int i = 0; i < 3000; ++i)
    Add({"subject " + std::to_string(i * 7919 % 3000), D(2020, 1, 1) + i % 400, "12:00", i % 2 == 0, i % 10 == 0});
  AddOutgoingTags();
  XB_ASSERT_OK(t_.Close());
  std::string bytes;
  XB_ASSERT_OK(XbReadWholeFile(dir_ / "OUT.CDX", bytes, 1 << 28));
  ASSERT_EQ(bytes.size() % 512, 0u);
  TCdxImage img;
  XB_ASSERT_OK(XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), img));
  ASSERT_EQ(img.tags.size(), 4u);
  EXPECT_EQ(img.tags[0].def.name, "DATESENT");
  EXPECT_TRUE(img.tags[0].def.descending);
  EXPECT_EQ(img.tags[0].def.keyExpr, "DTOS(DATESENT)+TIMESENT");
  EXPECT_EQ(img.tags[0].def.forExpr, ".not. deleted()");
  EXPECT_EQ(img.tags[0].def.keyLength, 13);
  EXPECT_EQ(img.tags[1].def.keyLength, 50);
  EXPECT_EQ(img.tags[2].def.keyLength, 1);
  EXPECT_EQ(img.tags[1].keys.Size(), 2700u);
  // The tag directory at offset 0: compact + compound, ten-byte names.
  const auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_EQ(h[12], 10);
  EXPECT_EQ(h[14] & 0x60, 0x60);
  // The SUBJECT tag's root is an interior page (more keys than one leaf holds).
  const uint32_t at = 1024;  // first tag header follows the directory header
  const auto root = static_cast<uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16 | h[at + 3] << 24);
  ASSERT_LT(root + 512, bytes.size());
  EXPECT_EQ(h[root] & 2, 0) << "root of a 2700-key tag should not be a leaf";
  EXPECT_EQ(h[root] & 1, 1);
}

TEST_F(TableTest, MissingStaleAndDamagedIndexFiles) {
  for (int i = 0; i < 50; ++i) Add({"s" + std::to_string(i), D(2021, 1, 1) + i, "10:00", false, false});
  AddOutgoingTags();
  XB_ASSERT_OK(t_.Close());
  const auto cdx = dir_ / "OUT.CDX";
  std::string good;
  XB_ASSERT_OK(XbReadWholeFile(cdx, good, 1 << 28));

  // Stale: the table changed after this index was written.
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  XB_ASSERT_OK(t_.Go(7));
  XB_ASSERT_OK(t_.SetValue("TIMESENT", TXbValue::Char("23:59")));
  XB_ASSERT_OK(t_.Post());
  Add({"new", D(2030, 1, 1), "00:00", false, false});
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(XbReplaceFile(cdx, good.data(), good.size(), false));
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Rebuilt);
  XB_EXPECT_OK(t_.VerifyIndexes());
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Current);
  XB_ASSERT_OK(t_.Close());

  // A changed row only (same count): the serial tells.
  std::string current;
  XB_ASSERT_OK(XbReadWholeFile(cdx, current, 1 << 28));
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  XB_ASSERT_OK(t_.Go(3));
  XB_ASSERT_OK(t_.Delete());
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(XbReplaceFile(cdx, current.data(), current.size(), false));
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Rebuilt);
  XB_EXPECT_OK(t_.VerifyIndexes());
  XB_ASSERT_OK(t_.Close());

  // Damaged pages: moved aside untouched; the tags come back when their
  // definitions survived, else the table opens without tags.
  std::mt19937 rng(99);
  int salvaged = 0;
  for (int i = 0; i < 60; ++i) {
    std::string bad = current;
    const size_t page = 2 + rng() % (bad.size() / 512 - 2);
    for (int k = 0; k < 8; ++k) bad[page * 512 + rng() % 512] = static_cast<char>(rng());
    XB_ASSERT_OK(XbReplaceFile(cdx, bad.data(), bad.size(), false));
    SCOPED_TRACE(i);
    XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
    if (t_.IndexState() == XbIndexState::MovedAside) {
      std::string aside;
      XB_ASSERT_OK(XbReadWholeFile(t_.MovedAsidePath(), aside, 1 << 28));
      EXPECT_EQ(aside, bad);
      if (t_.TagCount() == 0) {
        EXPECT_FALSE(std::filesystem::exists(cdx));
      } else {
        ++salvaged;
        EXPECT_EQ(t_.TagCount(), 4);
        EXPECT_EQ(t_.TagNumber("DATEND"), 4);
        XB_EXPECT_OK(t_.VerifyIndexes());
        EXPECT_TRUE(std::filesystem::exists(cdx));
      }
      std::filesystem::remove(t_.MovedAsidePath());
    } else {
      XB_EXPECT_OK(t_.VerifyIndexes());  // the damage hit only unused bytes or a key value
    }
    XB_ASSERT_OK(t_.Close());
    XB_ASSERT_OK(XbReplaceFile(cdx, current.data(), current.size(), false));
  }
  EXPECT_GT(salvaged, 0);
}

TEST_F(TableTest, PackRemovesDeletedRowsAndReportsProgress) {
  for (int i = 0; i < 1000; ++i) Add({"row" + std::to_string(i), D(2022, 1, 1), "10:00", false, i % 10 == 3});
  AddOutgoingTags();
  std::vector<int> pack, build;
  t_.SetProgress([&](XbProgressStep s, int pct) {
    (s == XbProgressStep::Pack ? pack : build).push_back(pct);
    return true;
  });
  XB_ASSERT_OK(t_.Pack());
  EXPECT_EQ(t_.RecCount(), 900u);
  ASSERT_FALSE(pack.empty());
  EXPECT_EQ(pack.back(), 100);
  EXPECT_TRUE(std::is_sorted(pack.begin(), pack.end()));
  EXPECT_FALSE(build.empty());
  XB_EXPECT_OK(t_.VerifyIndexes());
  XB_ASSERT_OK(t_.SetOrder(0));
  XB_ASSERT_OK(t_.Go(4));
  EXPECT_EQ(t_.GetTrimString("SUBJECT"), "row4");
  // A stopped pack leaves the table as it was.
  XB_ASSERT_OK(t_.Go(1));
  XB_ASSERT_OK(t_.Delete());
  t_.SetProgress([](XbProgressStep, int pct) { return pct < 50; });
  EXPECT_EQ(t_.Pack().code, XbError::Aborted);
  EXPECT_EQ(t_.RecCount(), 900u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "OUT.DBF.pack"));
  t_.SetProgress(nullptr);
  XB_ASSERT_OK(t_.Close());
  TXbTable again;
  XB_ASSERT_OK(again.Open(path_, {}, &settings_));
  EXPECT_EQ(again.RecCount(), 900u);
}

TEST_F(TableTest, ExclusiveAndSharedOpeningAndRecordLocks) {
  Add({"one", 0, "", false, false});
  Add({"two", 0, "", false, false});
  XB_ASSERT_OK(t_.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
  TXbTable other;
  EXPECT_EQ(other.Open(path_, {XbOpenMode::Shared, XbAccess::ReadWrite}, &settings_).code, XbError::Locked);
  XB_ASSERT_OK(t_.Close());

  TXbTable a, b;
  XB_ASSERT_OK(a.Open(path_, {XbOpenMode::Shared, XbAccess::ReadWrite}, &settings_));
  XB_ASSERT_OK(b.Open(path_, {XbOpenMode::Shared, XbAccess::ReadWrite}, &settings_));
  EXPECT_EQ(other.Open(path_, {XbOpenMode::Exclusive, XbAccess::ReadWrite}, &settings_).code, XbError::Locked);
  EXPECT_EQ(a.Pack().code, XbError::Locked);
  // What one writes the other sees, rows and index alike.
  XB_ASSERT_OK(a.AppendBlank());
  XB_ASSERT_OK(a.SetValue("SUBJECT", TXbValue::Char("Aaron")));
  XB_ASSERT_OK(a.Post());
  XB_ASSERT_OK(b.SetOrder(1));
  XB_ASSERT_OK(b.GoTop());
  EXPECT_EQ(b.GetTrimString("SUBJECT"), "Aaron");
  EXPECT_EQ(b.RecCount(), 3u);
  XB_ASSERT_OK(b.Go(2));
  XB_ASSERT_OK(b.SetValue("SUBJECT", TXbValue::Char("zz top")));
  XB_ASSERT_OK(b.Post());
  XB_ASSERT_OK(a.SetOrder(1));
  XB_ASSERT_OK(a.GoBottom());
  EXPECT_EQ(a.RecNo(), 2u);
  XB_EXPECT_OK(a.VerifyIndexes());

  // A row locked by another process cannot be locked or written here.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    TXbTable c;
    if (!c.Open(path_, {XbOpenMode::Shared, XbAccess::ReadWrite}, &settings_) || !c.RLock(1)) ::_exit(1);
    const char go = 'g';
    if (::write(ready[1], &go, 1) != 1) ::_exit(2);
    ::sleep(30);
    ::_exit(0);
  }
  char got = 0;
  ASSERT_EQ(::read(ready[0], &got, 1), 1);
  settings_.lockTimeoutSeconds = 0;
  EXPECT_EQ(a.RLock(1).code, XbError::Locked);
  XB_ASSERT_OK(a.Go(1));
  XB_ASSERT_OK(a.SetValue("SUBJECT", TXbValue::Char("clash")));
  EXPECT_EQ(a.Post().code, XbError::Locked);
  a.Cancel();
  XB_EXPECT_OK(a.RLock(2));
  XB_EXPECT_OK(a.Unlock(2));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  XB_EXPECT_OK(a.RLock(1));  // released with the process
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(Engine, WorkAreasAndAliases) {
  TTempFolder dir;
  for (const char* n : {"CVOUT.DBF", "my-fax~list one.dbf"})
    XB_ASSERT_OK(TDbfFile::Create(dir / n, {{"NAME", 'C', 10, 0, 0}}, false));
  std::filesystem::create_directories(dir / "sub");
  XB_ASSERT_OK(TDbfFile::Create(dir / "sub" / "CVOUT.DBF", {{"NAME", 'C', 10, 0, 0}}, false));
  TXbEngine e;
  int a1 = 0, a2 = 0, a3 = 0;
  XB_ASSERT_OK(e.Use(dir / "CVOUT.DBF", {}, a1));
  XB_ASSERT_OK(e.Use(dir / "sub" / "CVOUT.DBF", {}, a2));
  XB_ASSERT_OK(e.Use(dir / "my-fax~list one.dbf", {}, a3));
  EXPECT_EQ(e.Alias(a1), "CVOUT");
  EXPECT_EQ(e.Alias(a2), "CVOUT_1");
  EXPECT_EQ(e.Alias(a3), "MY_FAX_L");
  EXPECT_EQ(e.AreaOf("cvout_1"), a2);
  EXPECT_EQ(e.Current(), a3);
  XB_ASSERT_OK(e.Select(a1));
  EXPECT_EQ(e.CurrentTable(), e.Table(a1));
  XB_ASSERT_OK(e.Close(a2));
  EXPECT_EQ(e.AreaOf("CVOUT_1"), 0);
  EXPECT_EQ(e.Select(a2).code, XbError::NoWorkArea);
  int a4 = 0;
  XB_ASSERT_OK(e.Use(dir / "sub" / "CVOUT.DBF", {}, a4));
  EXPECT_EQ(a4, a2);  // the free area is reused
  XB_EXPECT_OK(e.CloseAll());
  EXPECT_EQ(e.Table(a1), nullptr);
}

// Text is in code page 1252: UPPER() keys accented letters as their capitals,
// as other FoxPro-compatible programs do when they build or seek keys.
TEST_F(TableTest, UpperKeysFollowCodePage1252AndOldKeysAreRebuiltAtOpen) {
  // "\xE9" é, "\xC9" É, "\x9C" œ, "\x8C" Œ, "\xFF" ÿ, "\x9F" Ÿ, "\xF7" ÷, "\xDF" ß.
  const std::vector<std::string> names = {"\xE9mile", "Zo\xEB", "\xC9MILE", "eve",     "\x9Cuvre",
                                          "\x8CUVRE", "Ezra",   "zo\xCB",   "\xFFves", "\x9FVES"};
  for (const std::string& n : names) Add({n, D(2021, 1, 1), "10:00", false, false});
  XB_ASSERT_OK(t_.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
  TXbValue v;
  XB_ASSERT_OK(t_.Go(1));
  XB_ASSERT_OK(t_.EvalValue("UPPER(SUBJECT)+LOWER(SUBJECT)", v));
  EXPECT_EQ(v.str.substr(0, 5) + v.str.substr(50, 5), "\xC9MILE\xE9mile");
  XB_ASSERT_OK(t_.EvalValue("UPPER('\xF7\xD7\xDF\x9A\x9E\xB5')+LOWER('\xD7\xDF\x8A\x8E')", v));
  EXPECT_EQ(v.str, "\xF7\xD7\xDF\x8A\x8E\xB5\xD7\xDF\x9A\x9E");

  // Names that differ only in letter case have one key and sit side by side.
  const auto keyOrder = [&] {
    std::vector<std::string> rows;
    for (uint32_t r : Walk()) rows.push_back(names[r - 1]);
    return rows;
  };
  XB_ASSERT_OK(t_.SetOrder(1));
  // Equal keys follow record order.
  const auto order = keyOrder();
  EXPECT_EQ(order, (std::vector<std::string>{"eve", "Ezra", "Zo\xEB", "zo\xCB", "\x9Cuvre", "\x8CUVRE", "\xFFves",
                                              "\x9FVES", "\xE9mile", "\xC9MILE"}));
  bool found = false;
  XB_ASSERT_OK(t_.Seek(TXbValue::Char("\xC9MI"), found));
  EXPECT_TRUE(found);
  EXPECT_EQ(t_.RecNo(), 1u);
  XB_ASSERT_OK(t_.Close());

  // An index written by an older version: keys upper-cased in ASCII only and
  // no letter case mark in the header. Opening recomputes the keys.
  const auto cdx = dir_ / "OUT.CDX";
  std::string bytes;
  XB_ASSERT_OK(XbReadWholeFile(cdx, bytes, 1 << 28));
  TCdxImage img;
  XB_ASSERT_OK(XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), img));
  ASSERT_EQ(img.tags.size(), 1u);
  TXbKeyList& keys = img.tags[0].keys;
  const size_t len = keys.KeyLength();
  std::vector<std::pair<std::string, uint32_t>> old;
  for (uint32_t r = 1; r <= names.size(); ++r) {
    std::string k = names[r - 1];
    for (char& c : k)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    k.resize(len, ' ');
    old.emplace_back(k, r);
  }
  std::sort(old.begin(), old.end());
  keys.Clear();
  for (const auto& [k, r] : old) keys.AppendSorted(reinterpret_cast<const uint8_t*>(k.data()), r);
  std::string stale = XbWriteCdx(img);
  stale[24] = 0;
  XB_ASSERT_OK(XbReplaceFile(cdx, stale.data(), stale.size(), false));

  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Rebuilt);
  XB_EXPECT_OK(t_.VerifyIndexes());
  XB_ASSERT_OK(t_.SetOrder(1));
  EXPECT_EQ(keyOrder(), order);
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(XbReadWholeFile(cdx, bytes, 1 << 28));
  EXPECT_EQ(bytes[24], char{kCdxLetterCase1252});
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Current);

  // Tags whose keys do not depend on letter case are kept whoever wrote them.
  XB_ASSERT_OK(t_.AddTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(XbReadWholeFile(cdx, bytes, 1 << 28));
  XB_ASSERT_OK(XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), img));
  img.tags.erase(img.tags.begin());
  stale = XbWriteCdx(img);
  stale[24] = 0;
  XB_ASSERT_OK(XbReplaceFile(cdx, stale.data(), stale.size(), false));
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Current);
}
