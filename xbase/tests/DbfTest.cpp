// The table file itself: what Corvane writes must be read by an independent
// reader (python3-dbfread) exactly, and damaged files must be refused with a
// code, without any write.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "xbase/Dbf.h"
#include "xbase/Table.h"
#include "xbase/tests/TestUtil.h"

namespace {

std::string RunDbfread(const std::filesystem::path& dbf) {
  const std::string cmd = "PYTHONIOENCODING=utf-8 /usr/bin/python3 " CORVANE_SOURCE_DIR "/xbase/tests/dbfread_dump.py '" + dbf.string() + "' 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (rc != 0) out = "dbfread exit " + std::to_string(rc) + ":\n" + out;
  return out;
}

std::string Today() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[16];
  std::strftime(b, sizeof b, "%Y-%m-%d", &tm);
  return b;
}

void Put(TXbTable& t, const std::string& subj, int32_t date, const std::string& time, double pages, double cost,
         bool archived) {
  XB_ASSERT_OK(t.AppendBlank());
  XB_ASSERT_OK(t.SetValue("SUBJECT", TXbValue::Char(subj)));
  XB_ASSERT_OK(t.SetValue("DATESENT", TXbValue::Date(date)));
  XB_ASSERT_OK(t.SetValue("TIMESENT", TXbValue::Char(time)));
  XB_ASSERT_OK(t.SetValue("PAGES", TXbValue::Num(pages)));
  XB_ASSERT_OK(t.SetValue("COST", TXbValue::Num(cost)));
  XB_ASSERT_OK(t.SetValue("ARCHIVED", TXbValue::Bool(archived)));
  XB_ASSERT_OK(t.Post());
}

}  // namespace

TEST(Dbf, IndependentReaderSeesFieldsValuesAndDeletedRows) {
  TTempFolder dir;
  const auto path = dir / "OUT.DBF";
  XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), true));
  {
    TXbTable t;
    XB_ASSERT_OK(t.Open(path, {}, nullptr));
    Put(t, "Quarterly report", XbJulian(2026, 12, 7), "14:05", 3, 12.5, false);
    Put(t, "Caf\xe9 menu", XbJulian(1998, 1, 31), "09:00", 12, -3.25, true);
    Put(t, "gone", XbJulian(2000, 2, 29), "23:59", 1, 0, false);
    XB_ASSERT_OK(t.AppendBlank());  // every field left empty
    XB_ASSERT_OK(t.Post());
    XB_ASSERT_OK(t.Go(3));
    XB_ASSERT_OK(t.Delete());
    XB_ASSERT_OK(t.AddTag("SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false));
    XB_ASSERT_OK(t.Close());
  }
  const std::string out = RunDbfread(path);
  const std::string expected =
      "H 4 " + Today() +
      "\n"
      "F SUBJECT C 50 0\n"
      "F DATESENT D 8 0\n"
      "F TIMESENT C 5 0\n"
      "F PAGES N 4 0\n"
      "F COST N 8 2\n"
      "F ARCHIVED L 1 0\n"
      "L Quarterly report|2026-12-07|14:05|3|12.5000|F\n"
      "L Caf\xc3\xa9 menu|1998-01-31|09:00|12|-3.2500|T\n"
      "L |None||None|None|F\n"
      "D gone|2000-02-29|23:59|1|0.0000|F\n";
  EXPECT_EQ(out, expected);
}

TEST(Dbf, HeaderBytesAreThoseOfADbaseTable) {
  TTempFolder dir;
  const auto path = dir / "T.DBF";
  XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), true));
  TXbTable t;
  XB_ASSERT_OK(t.Open(path, {}, nullptr));
  Put(t, "a", 0, "", 0, 0, false);
  Put(t, "b", 0, "", 0, 0, false);
  XB_ASSERT_OK(t.Close());
  std::ifstream in(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t headerLen = 32 + 32 * 6 + 1, recLen = 1 + 50 + 8 + 5 + 4 + 8 + 1;
  ASSERT_EQ(b.size(), headerLen + 2 * recLen + 1);
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 0x03);
  EXPECT_EQ(static_cast<uint8_t>(b[4]), 2);  // exact record count
  EXPECT_EQ(static_cast<uint8_t>(b[8]) | (static_cast<uint8_t>(b[9]) << 8), static_cast<int>(headerLen));
  EXPECT_EQ(static_cast<uint8_t>(b[10]) | (static_cast<uint8_t>(b[11]) << 8), static_cast<int>(recLen));
  EXPECT_EQ(static_cast<uint8_t>(b[28]), 0x01);  // has a structural index
  EXPECT_EQ(b[headerLen - 1], '\r');
  EXPECT_EQ(static_cast<uint8_t>(b.back()), 0x1A);
  EXPECT_EQ(b.substr(headerLen, 1 + 5), " a    ");
}

TEST(Dbf, CreateRefusesBadDefinitionsAndExistingFiles) {
  TTempFolder dir;
  EXPECT_EQ(TDbfFile::Create(dir / "A.DBF", {{"TOOLONGNAME1", 'C', 5, 0, 0}}, false).code, XbError::DbfBadField);
  EXPECT_EQ(TDbfFile::Create(dir / "A.DBF", {{"X", 'Q', 5, 0, 0}}, false).code, XbError::DbfBadField);
  EXPECT_EQ(TDbfFile::Create(dir / "A.DBF", {{"D", 'D', 9, 0, 0}}, false).code, XbError::DbfBadField);
  EXPECT_EQ(TDbfFile::Create(dir / "A.DBF", {{"X", 'C', 5, 0, 0}, {"x", 'N', 5, 0, 0}}, false).code,
            XbError::DbfBadField);
  XB_ASSERT_OK(TDbfFile::Create(dir / "A.DBF", {{"X", 'C', 5, 0, 0}}, false));
  EXPECT_EQ(TDbfFile::Create(dir / "A.DBF", {{"X", 'C', 5, 0, 0}}, false).code, XbError::FileExists);
}

TEST(Dbf, ValuesThatDoNotFitAreRefused) {
  TTempFolder dir;
  const auto path = dir / "T.DBF";
  XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), false));
  TXbTable t;
  XB_ASSERT_OK(t.Open(path, {}, nullptr));
  XB_ASSERT_OK(t.AppendBlank());
  EXPECT_EQ(t.SetValue("PAGES", TXbValue::Num(12345)).code, XbError::BadValue);
  EXPECT_EQ(t.SetValue("PAGES", TXbValue::Char("1")).code, XbError::BadValue);
  EXPECT_EQ(t.SetValue("DATESENT", TXbValue::Char("19981301")).code, XbError::BadValue);
  EXPECT_EQ(t.SetValue("NOPE", TXbValue::Char("1")).code, XbError::NoSuchField);
  XB_EXPECT_OK(t.SetValue("SUBJECT", TXbValue::Char(std::string(80, 'x'))));  // cut to the width
  XB_ASSERT_OK(t.Post());
  EXPECT_EQ(t.GetString("SUBJECT"), std::string(50, 'x'));
}

namespace {

struct Damage {
  const char* what;
  size_t offset;
  std::vector<uint8_t> bytes;
  XbError expected;
};

}  // namespace

TEST(Dbf, DamagedHeadersAreRefusedWithoutAnyWrite) {
  TTempFolder dir;
  const auto good = dir / "GOOD.DBF";
  XB_ASSERT_OK(TDbfFile::Create(good, OutgoingLikeFields(), false));
  {
    TXbTable t;
    XB_ASSERT_OK(t.Open(good, {}, nullptr));
    Put(t, "one", 0, "", 1, 1, false);
    Put(t, "two", 0, "", 2, 2, false);
    XB_ASSERT_OK(t.Close());
  }
  std::ifstream in(good, std::ios::binary);
  const std::string base((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<Damage> cases = {
      {"record count beyond the file", 4, {0x10, 0x27, 0, 0}, XbError::DbfTruncated},
      {"huge record count", 4, {0xff, 0xff, 0xff, 0xff}, XbError::DbfTruncated},
      {"not a table", 0, {0x42}, XbError::DbfBadVersion},
      {"header length below the descriptors", 8, {40, 0}, XbError::DbfBadHeader},
      {"header length beyond the file", 8, {0xff, 0xff}, XbError::DbfBadHeader},
      {"terminator missing: descriptors run past the header", 32 + 32 * 6, {'X'}, XbError::DbfBadHeader},
      {"record length disagrees with the fields", 10, {0x07, 0}, XbError::DbfBadHeader},
      {"unknown field type", 32 + 11, {'Z'}, XbError::DbfBadField},
      {"zero width", 32 + 16, {0}, XbError::DbfBadField},
      {"garbage field name", 32, {'#', '!'}, XbError::DbfBadField},
  };
  for (const Damage& d : cases) {
    std::string bytes = base;
    std::copy(d.bytes.begin(), d.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(d.offset));
    const auto path = dir / "BAD.DBF";
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << bytes;
    }
    TXbTable t;
    const XbStatus st = t.Open(path, {}, nullptr);
    EXPECT_EQ(st.code, d.expected) << d.what << ": " << st.Message();
    EXPECT_FALSE(st.Message().empty());
    std::ifstream back(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, bytes) << d.what << ": the damaged file was changed";
  }
  // Shorter than a header at all.
  {
    std::ofstream out(dir / "TINY.DBF", std::ios::binary);
    out << "\x03\x01";
  }
  TXbTable t;
  EXPECT_EQ(t.Open(dir / "TINY.DBF", {}, nullptr).code, XbError::DbfTooShort);
  EXPECT_EQ(t.Open(dir / "MISSING.DBF", {}, nullptr).code, XbError::FileNotFound);
}

TEST(Dbf, TrailingPartialRecordIsIgnoredAndOverwritten) {
  // What a crash between writing a row and writing the header leaves.
  TTempFolder dir;
  const auto path = dir / "T.DBF";
  XB_ASSERT_OK(TDbfFile::Create(path, OutgoingLikeFields(), false));
  {
    TXbTable t;
    XB_ASSERT_OK(t.Open(path, {}, nullptr));
    Put(t, "kept", 0, "", 1, 1, false);
    XB_ASSERT_OK(t.Close());
  }
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << " half a reco";
  }
  TXbTable t;
  XB_ASSERT_OK(t.Open(path, {}, nullptr));
  EXPECT_EQ(t.RecCount(), 1u);
  Put(t, "next", 0, "", 2, 2, false);
  XB_ASSERT_OK(t.Close());
  XB_ASSERT_OK(t.Open(path, {}, nullptr));
  ASSERT_EQ(t.RecCount(), 2u);
  XB_ASSERT_OK(t.Go(2));
  EXPECT_EQ(t.GetTrimString("SUBJECT"), "next");
  EXPECT_NE(RunDbfread(path).find("L next|"), std::string::npos);
}
