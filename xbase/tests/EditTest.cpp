// The edit calls on their quick and their checked ways: what they write,
// what they refuse, and the row image kept for tags and Cancel right after
// an append, in and out of a batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "xbase/Table.h"
#include "xbase/tests/TestUtil.h"

namespace {

// Every text length against every width, with guard bytes either side:
// the short copies overlap, so a wrong bound shows as a stray byte (and,
// under the address sanitizer, a read past the text as an error: each
// text has a heap block of its own length).
TEST(StoreText, EveryLengthIntoEveryWidth) {
  std::string src;
  for (int i = 0; i < 80; ++i) src.push_back(static_cast<char>('A' + i % 26));
  for (size_t width = 1; width <= 70; ++width) {
    for (size_t len = 0; len <= 75; ++len) {
      std::string buf(width + 2, '#');
      auto* p = reinterpret_cast<uint8_t*>(buf.data()) + 1;
      std::memset(p, 'z', width);
      const std::unique_ptr<char[]> text(new char[len + (len == 0)]);
      std::memcpy(text.get(), src.data(), len);
      XbStoreText(p, width, std::string_view(text.get(), len));
      const size_t n = std::min(width, len);
      const std::string want = "#" + src.substr(0, n) + std::string(width - n, ' ') + "#";
      ASSERT_EQ(buf, want) << "width " << width << " length " << len;
    }
  }
}

// Every day from the first Julian day to 31 Dec 9999 converts to a valid
// date that converts back, and consecutive days are consecutive dates.
TEST(CivilDate, EveryDayRoundTrips) {
  int py = 0, pm = 0, pd = 0;
  const int32_t last = XbJulian(9999, 12, 31);
  ASSERT_GT(last, 0);
  for (int32_t jd = 1; jd <= last + 1000; ++jd) {
    int y, m, d;
    XbCivil(jd, y, m, d);
    ASSERT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= 31) << jd;
    if (y >= 1 && y <= 9999) {
      ASSERT_EQ(XbJulian(y, m, d), jd) << y << "-" << m << "-" << d;
    }
    if (jd > 1) {
      const bool next = (y == py && m == pm && d == pd + 1) || (y == py && m == pm + 1 && d == 1) ||
                        (y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31);
      ASSERT_TRUE(next) << jd << ": " << y << "-" << m << "-" << d << " after " << py << "-" << pm << "-" << pd;
    }
    py = y, pm = m, pd = d;
  }
  int y, m, d;
  XbCivil(XbJulian(2000, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
  XbCivil(XbJulian(1900, 3, 1) - 1, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 19000228);
  XbCivil(1721120, y, m, d);  // 1 March of year 0, where the two forms meet
  EXPECT_EQ(y * 10000 + m * 100 + d, 301);
  XbCivil(1721119, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 229);
}

class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "OUT.DBF";
    XB_ASSERT_OK(TDbfFile::Create(path_, OutgoingLikeFields(), true));
    XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  }

  void AddTags() {
    XB_ASSERT_OK(t_.AddTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
    XB_ASSERT_OK(t_.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
  }

  void Append(const std::string& subject, int32_t date) {
    XB_ASSERT_OK(t_.AppendBlank());
    XB_ASSERT_OK(t_.SetText(0, subject));
    XB_ASSERT_OK(t_.SetValue(1, TXbValue::Date(date)));
    XB_ASSERT_OK(t_.SetText(2, "10:00"));
    XB_ASSERT_OK(t_.Post());
  }

  bool SeekSubject(const std::string& s) {
    bool found = false;
    EXPECT_TRUE(t_.SetOrder(t_.TagNumber("SUBJECT")).ok());
    EXPECT_TRUE(t_.Seek(TXbValue::Char(XbUpper(s)), found).ok());  // the key is UPPER(SUBJECT)
    return found;
  }

  TTempFolder dir_;
  std::filesystem::path path_;
  TXbSettings settings_;
  TXbTable t_;
};

TEST_F(EditTest, FieldBytesArePaddedCutAndBlank) {
  XB_ASSERT_OK(t_.AppendBlank());
  XB_ASSERT_OK(t_.SetText(0, std::string(60, 'x')));  // width 50
  XB_ASSERT_OK(t_.SetText(2, "9:5"));
  XB_ASSERT_OK(t_.SetValue(1, TXbValue::Date(XbJulian(2024, 2, 29))));
  XB_ASSERT_OK(t_.SetValue(5, TXbValue::Bool(true)));
  XB_ASSERT_OK(t_.SetValue(3, TXbValue::Num(12)));
  XB_ASSERT_OK(t_.Post());
  const auto* r = reinterpret_cast<const char*>(t_.RecordBuffer());
  EXPECT_EQ(std::string(r, 1 + 50 + 8 + 5 + 4), " " + std::string(50, 'x') + "20240229" + "9:5  " + "  12");
  EXPECT_EQ(r[1 + 50 + 8 + 5 + 4 + 8], 'T');

  // Shorter text, the empty date and false overwrite every byte.
  XB_ASSERT_OK(t_.SetText(0, "ab"));
  XB_ASSERT_OK(t_.SetText(2, ""));
  XB_ASSERT_OK(t_.SetValue(1, TXbValue::Date(0)));
  XB_ASSERT_OK(t_.SetValue(5, TXbValue::Bool(false)));
  XB_ASSERT_OK(t_.SetValue(1, TXbValue::Char("19991231")));  // a date given as text
  XB_ASSERT_OK(t_.Post());
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  XB_ASSERT_OK(t_.Go(1));
  r = reinterpret_cast<const char*>(t_.RecordBuffer());
  EXPECT_EQ(std::string(r, 1 + 50 + 8 + 5), " ab" + std::string(48, ' ') + "19991231" + "     ");
  EXPECT_EQ(r[1 + 50 + 8 + 5 + 4 + 8], 'F');
}

TEST_F(EditTest, RefusalsLeaveTheRowAlone) {
  // At the end of an empty table there is no row to change.
  EXPECT_EQ(t_.SetText(0, "x").code, XbError::NoRecord);
  EXPECT_EQ(t_.SetValue(1, TXbValue::Date(5)).code, XbError::NoRecord);

  XB_ASSERT_OK(t_.AppendBlank());
  XB_ASSERT_OK(t_.SetText(0, "keep"));
  EXPECT_EQ(t_.SetText(-1, "x").code, XbError::NoSuchField);
  EXPECT_EQ(t_.SetText(6, "x").code, XbError::NoSuchField);
  EXPECT_EQ(t_.SetValue(6, TXbValue::Bool(true)).code, XbError::NoSuchField);
  EXPECT_EQ(t_.SetText(3, "12").code, XbError::BadValue);              // a number field
  EXPECT_EQ(t_.SetValue(0, TXbValue::Date(5)).code, XbError::BadValue);  // a text field
  EXPECT_EQ(t_.SetValue(1, TXbValue::Bool(true)).code, XbError::BadValue);
  EXPECT_EQ(t_.SetValue(5, TXbValue::Date(5)).code, XbError::BadValue);
  EXPECT_EQ(t_.SetValue(1, TXbValue::Char("2024-01-01")).code, XbError::BadValue);
  XB_ASSERT_OK(t_.Post());
  EXPECT_EQ(t_.GetTrimString("SUBJECT"), "keep");
  EXPECT_EQ(t_.GetString("DATESENT"), "        ");
  EXPECT_EQ(t_.GetString("ARCHIVED"), "F");
  XB_ASSERT_OK(t_.Close());

  EXPECT_EQ(t_.SetText(0, "x").code, XbError::NoWorkArea);
  EXPECT_EQ(t_.SetValue(5, TXbValue::Bool(true)).code, XbError::NoWorkArea);
  XB_ASSERT_OK(t_.Open(path_, {XbOpenMode::Exclusive, XbAccess::ReadOnly}, &settings_));
  XB_ASSERT_OK(t_.Go(1));
  EXPECT_EQ(t_.SetText(0, "x").code, XbError::ReadOnly);
  EXPECT_EQ(t_.SetValue(5, TXbValue::Bool(true)).code, XbError::ReadOnly);
  EXPECT_EQ(t_.GetTrimString("SUBJECT"), "keep");
}

TEST_F(EditTest, FieldsAreFoundByNameInAnyCase) {
  EXPECT_EQ(t_.FieldIndex("subject"), 0);
  EXPECT_EQ(t_.FieldIndex("DateSent"), 1);
  EXPECT_EQ(t_.FieldIndex("ARCHIVED"), 5);
  for (const char* absent : {"ARCHIVE", "ARCHIVEDX", "", "SUBJECT ", "subjecT_"})
    EXPECT_EQ(t_.FieldIndex(absent), -1) << absent;
  XB_ASSERT_OK(t_.AppendBlank());
  XB_ASSERT_OK(t_.SetValue("Subject", TXbValue::Char("by name")));
  EXPECT_EQ(t_.SetValue("SUBJ", TXbValue::Char("x")).code, XbError::NoSuchField);
  EXPECT_EQ(t_.GetTrimString("subject"), "by name");
}

// Right after an appended row is posted the cursor stays on it: editing it,
// cancelling the edit, deleting it and walking a tag from it must all see
// the row as it was written.
TEST_F(EditTest, TheRowJustAppendedCanBeEditedCancelledAndDeleted) {
  AddTags();
  for (const bool batch : {false, true}) {
    SCOPED_TRACE(batch ? "in a batch" : "row by row");
    const std::string p = batch ? "b" : "r";
    if (batch) t_.BeginBatch();
    Append(p + "first", XbJulian(2024, 1, 1));

    XB_ASSERT_OK(t_.SetText(0, p + "scratch"));
    XB_ASSERT_OK(t_.SetValue(1, TXbValue::Date(XbJulian(2030, 1, 1))));
    t_.Cancel();
    EXPECT_EQ(t_.GetTrimString("SUBJECT"), p + "first");
    EXPECT_EQ(t_.GetString("DATESENT"), "20240101");
    EXPECT_FALSE(t_.Modified());

    // Changed and posted: the tag loses the old key and gains the new one.
    XB_ASSERT_OK(t_.SetText(0, p + "second"));
    XB_ASSERT_OK(t_.Post());
    XB_EXPECT_OK(t_.VerifyIndexes());

    Append(p + "third", XbJulian(2024, 1, 3));
    XB_ASSERT_OK(t_.Delete());  // leaves the tags by their condition
    XB_EXPECT_OK(t_.VerifyIndexes());

    // A walk in a tag order starting from the row just appended.
    Append(p + "fourth", XbJulian(2024, 1, 4));
    XB_ASSERT_OK(t_.SetOrder(t_.TagNumber("DATESENT")));
    XB_ASSERT_OK(t_.Skip(1));
    if (batch) XB_ASSERT_OK(t_.EndBatch());
    XB_EXPECT_OK(t_.VerifyIndexes());
  }
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.IndexState(), XbIndexState::Current);
  XB_EXPECT_OK(t_.VerifyIndexes());
  for (const char* s : {"rsecond", "rfourth", "bsecond", "bfourth"}) EXPECT_TRUE(SeekSubject(s)) << s;
  for (const char* s : {"rfirst", "rthird", "bfirst", "bthird", "rscratch", "bscratch"})
    EXPECT_FALSE(SeekSubject(s)) << s;
  EXPECT_EQ(t_.RecCount(), 6u);
}

// A batch larger than its buffer: rows already written and rows still
// buffered read alike, and all of them are in the file after EndBatch.
TEST_F(EditTest, BatchLargerThanItsBufferReadsBackWhole) {
  constexpr uint32_t kRows = 30000;  // several buffers of 77-byte rows
  t_.BeginBatch();
  for (uint32_t i = 1; i <= kRows; ++i) {
    XB_ASSERT_OK(t_.AppendBlank());
    XB_ASSERT_OK(t_.SetText(0, "row" + std::to_string(i)));
    XB_ASSERT_OK(t_.SetValue(5, TXbValue::Bool(i % 2 == 0)));
    XB_ASSERT_OK(t_.Post());
  }
  EXPECT_EQ(t_.RecCount(), kRows);
  std::vector<uint8_t> row;
  for (uint32_t r = 1; r <= kRows; ++r) {
    XB_ASSERT_OK(t_.ReadRow(r, row));
    const std::string want = "row" + std::to_string(r);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(row.data()) + 1, want.size() + 1), want + " ");
  }
  XB_ASSERT_OK(t_.EndBatch());
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  EXPECT_EQ(t_.RecCount(), kRows);
  uint32_t n = 0;
  XB_ASSERT_OK(t_.GoTop());
  while (!t_.Eof()) {
    ++n;
    ASSERT_EQ(t_.GetTrimString("SUBJECT"), "row" + std::to_string(n));
    ASSERT_EQ(t_.GetString("ARCHIVED"), n % 2 == 0 ? "T" : "F");
    XB_ASSERT_OK(t_.Skip(1));
  }
  EXPECT_EQ(n, kRows);
}

// A field written twice before Post keeps only the second text, whichever
// way each went.
TEST_F(EditTest, AFieldWrittenTwiceBeforePostKeepsTheSecondText) {
  for (const bool batch : {false, true}) {
    if (batch) t_.BeginBatch();
    XB_ASSERT_OK(t_.AppendBlank());
    XB_ASSERT_OK(t_.SetText(0, "a rather long subject"));
    XB_ASSERT_OK(t_.SetText(0, "short"));
    XB_ASSERT_OK(t_.SetValue(2, TXbValue::Char("12:34")));
    XB_ASSERT_OK(t_.SetText(2, "9"));
    XB_ASSERT_OK(t_.Post());
    if (batch) XB_ASSERT_OK(t_.EndBatch());
  }
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  for (uint32_t r : {1u, 2u}) {
    XB_ASSERT_OK(t_.Go(r));
    EXPECT_EQ(t_.GetString("SUBJECT"), "short" + std::string(45, ' '));
    EXPECT_EQ(t_.GetString("TIMESENT"), "9    ");
  }
}

// The record count in the file's header, read as another program would.
uint32_t CountInFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  uint8_t h[8] = {};
  f.read(reinterpret_cast<char*>(h), sizeof h);
  return static_cast<uint32_t>(h[4] | h[5] << 8 | h[6] << 16 | h[7] << 24);
}

// A long batch is written in pieces as its buffer fills. Rows changed
// while it runs, in the file already or still waiting (the first waiting
// row above all, next to the edge of what was written), must reach the
// file, and the rows the header counts are always whole in the file.
TEST_F(EditTest, RowsChangedDuringALongBatchReachTheFileWhole) {
  constexpr uint32_t kRows = 40000;
  std::mt19937 rng(7);
  std::map<uint32_t, std::string> want;
  const auto subject = [](uint32_t r, int round) { return "row" + std::to_string(r) + "." + std::to_string(round); };
  uint32_t lastCount = 0, edits = 0, straddling = 0;
  t_.BeginBatch();
  for (uint32_t i = 1; i <= kRows; ++i) {
    XB_ASSERT_OK(t_.AppendBlank());
    XB_ASSERT_OK(t_.SetText(0, subject(i, 0)));
    XB_ASSERT_OK(t_.Post());
    want[i] = subject(i, 0);
    const uint32_t inFile = CountInFile(path_);
    ASSERT_LE(inFile, i);
    if (inFile != lastCount) {
      // A piece went out: the counted rows in the file are the rows as
      // they stand now.
      std::ifstream f(path_, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      ASSERT_GE(bytes.size(), 225u + 77u * inFile);
      for (uint32_t r = 1; r <= inFile; ++r) {
        const std::string& w = want[r];
        ASSERT_EQ(bytes.substr(225 + 77 * (r - 1) + 1, w.size() + 1), w + " ") << r;
      }
    }
    // Now and then change the first row not yet counted and a row at
    // random.
    if (inFile != lastCount || i % 997 == 0) {
      lastCount = inFile;
      std::vector<uint32_t> targets = {std::uniform_int_distribution<uint32_t>(1, i)(rng)};
      if (inFile < i) {
        targets.push_back(inFile + 1);
        ++straddling;
      }
      for (uint32_t r : targets) {
        XB_ASSERT_OK(t_.Go(r));
        XB_ASSERT_OK(t_.SetText(0, subject(r, ++edits)));
        XB_ASSERT_OK(t_.Post());
        want[r] = subject(r, edits);
      }
      XB_ASSERT_OK(t_.GoBottom());
    }
  }
  XB_ASSERT_OK(t_.EndBatch());
  EXPECT_GT(straddling, 20u);
  EXPECT_EQ(CountInFile(path_), kRows);
  EXPECT_EQ(std::filesystem::file_size(path_), 225u + 77u * kRows + 1u);
  XB_ASSERT_OK(t_.Close());
  XB_ASSERT_OK(t_.Open(path_, {}, &settings_));
  for (uint32_t r = 1; r <= kRows; ++r) {
    XB_ASSERT_OK(t_.Go(r));
    ASSERT_EQ(t_.GetTrimString("SUBJECT"), want[r]) << r;
  }
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Deleting many rows at once gives the same table and index files as
// deleting them one by one: keys leave the tags kept for live rows, stay in
// the others, and move in a tag keyed on the deletion flag itself.
TEST(DeleteRecords, SameFilesAsDeletingRowByRow) {
  TTempFolder dir;
  TXbSettings settings;
  std::mt19937 random(7);
  std::vector<uint32_t> doomed;
  for (uint32_t r = 1; r <= 900; ++r)
    if (r % 3 == 0 || random() % 5 == 0) doomed.push_back(r);
  std::shuffle(doomed.begin(), doomed.end(), random);
  doomed.push_back(doomed.front());  // named twice: deleted once
  // AHEAD reads its keys on another thread while every row is looked at.
  for (const char* name : {"BULK", "EACH", "AHEAD"}) {
    const auto path = dir / (std::string(name) + ".DBF");
    XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), true));
    TXbTable t;
    XB_ASSERT_OK(t.Open(path, {}, &settings));
    XB_ASSERT_OK(t.AddTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
    XB_ASSERT_OK(t.AddTag("SUBJECT", "UPPER(SUBJECT)", "", false));
    XB_ASSERT_OK(t.AddTag("GONE", "DELETED()", "", false));
    std::mt19937 rows(11);
    for (uint32_t r = 1; r <= 900; ++r) {
      XB_ASSERT_OK(t.AppendBlank());
      XB_ASSERT_OK(t.SetText(0, "Subject " + std::to_string(rows() % 400)));
      XB_ASSERT_OK(t.SetValue(1, TXbValue::Date(XbJulian(2020, 1, 1) + static_cast<int32_t>(rows() % 700))));
      XB_ASSERT_OK(t.SetText(2, "10:00"));
      XB_ASSERT_OK(t.Post());
    }
    XB_ASSERT_OK(t.Close());  // the rows and keys on disk; the next open reads keys lazily
    XB_ASSERT_OK(t.Open(path, {}, &settings));
    if (std::string(name) == "AHEAD") {
      t.PrefetchKeys();
      t.PrefetchKeys();  // once is enough
      for (uint32_t r = 1; r <= t.RecCount(); ++r) XB_ASSERT_OK(t.Go(r));
      XB_ASSERT_OK(t.DeleteRecords(doomed, {}));
    } else if (std::string(name) == "BULK") {
      std::vector<uint32_t> seen;
      XB_ASSERT_OK(t.DeleteRecords(doomed, [&](uint32_t r) { seen.push_back(r); }));
      EXPECT_EQ(seen, std::vector<uint32_t>(doomed.begin(), doomed.end() - 1));
    } else {
      for (const uint32_t r : doomed) {
        XB_ASSERT_OK(t.Go(r));
        if (!t.Deleted()) XB_ASSERT_OK(t.Delete());
      }
    }
    XB_EXPECT_OK(t.VerifyIndexes());
    XB_ASSERT_OK(t.Go(doomed[1]));
    XB_ASSERT_OK(t.Recall());  // comes back into the tag kept for live rows
    XB_EXPECT_OK(t.VerifyIndexes());
    XB_ASSERT_OK(t.Close());
  }
  EXPECT_EQ(ReadAll(dir / "BULK.DBF"), ReadAll(dir / "EACH.DBF"));
  EXPECT_EQ(ReadAll(dir / "BULK.CDX"), ReadAll(dir / "EACH.CDX"));
  EXPECT_EQ(ReadAll(dir / "AHEAD.DBF"), ReadAll(dir / "EACH.DBF"));
  EXPECT_EQ(ReadAll(dir / "AHEAD.CDX"), ReadAll(dir / "EACH.CDX"));

  // Keys read ahead from an index that has since been replaced are not used:
  // another user deleted a row and wrote the index while the table was closed.
  {
    TXbTable t;
    XB_ASSERT_OK(t.Open(dir / "EACH.DBF", {}, &settings));
    t.PrefetchKeys();
    XB_ASSERT_OK(t.Close());
    {
      TXbTable other;
      XB_ASSERT_OK(other.Open(dir / "EACH.DBF", {}, &settings));
      uint32_t live = 1;
      XB_ASSERT_OK(other.Go(live));
      while (other.Deleted()) XB_ASSERT_OK(other.Go(++live));
      XB_ASSERT_OK(other.Delete());
      XB_ASSERT_OK(other.Close());
    }
    XB_ASSERT_OK(t.Open(dir / "EACH.DBF", {}, &settings));
    const uint32_t more[] = {1, 4, 5, 7};
    XB_ASSERT_OK(t.DeleteRecords(more, {}));
    XB_EXPECT_OK(t.VerifyIndexes());
    XB_ASSERT_OK(t.Close());
  }
  TXbTable t;
  XB_ASSERT_OK(t.Open(dir / "BULK.DBF", {}, &settings));
  EXPECT_EQ(t.IndexState(), XbIndexState::Current);
  XB_EXPECT_OK(t.VerifyIndexes());
}

// A shared table writes its index after every row for the other users, so a
// bulk delete there goes row by row; the keys must come out the same.
TEST(DeleteRecords, SharedTableLeavesACurrentIndex) {
  TTempFolder dir;
  TXbSettings settings;
  const auto path = dir / "OUT.DBF";
  XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), true));
  {
    TXbTable t;
    XB_ASSERT_OK(t.Open(path, {}, &settings));
    XB_ASSERT_OK(t.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
    for (int r = 0; r < 50; ++r) {
      XB_ASSERT_OK(t.AppendBlank());
      XB_ASSERT_OK(t.SetText(0, "s" + std::to_string(r)));
      XB_ASSERT_OK(t.Post());
    }
    XB_ASSERT_OK(t.Close());
  }
  TXbTable::OpenOptions shared;
  shared.mode = XbOpenMode::Shared;
  TXbTable t;
  XB_ASSERT_OK(t.Open(path, shared, &settings));
  int calls = 0;
  XB_ASSERT_OK(t.DeleteRecords(std::vector<uint32_t>{5, 6, 7, 40}, [&](uint32_t) { ++calls; }));
  EXPECT_EQ(calls, 4);
  XB_EXPECT_OK(t.VerifyIndexes());
  XB_ASSERT_OK(t.Close());
  XB_ASSERT_OK(t.Open(path, {}, &settings));
  EXPECT_EQ(t.IndexState(), XbIndexState::Current);
  XB_EXPECT_OK(t.VerifyIndexes());
  XB_ASSERT_OK(t.SetOrder(t.TagNumber("SUBJECT")));
  for (const int r : {5, 6, 39}) {  // rows 6, 7 and 40 (s4 would also match s40...)
    bool found = true;
    XB_ASSERT_OK(t.Seek(TXbValue::Char("S" + std::to_string(r)), found));
    EXPECT_FALSE(found) << r;
  }
}

}  // namespace
