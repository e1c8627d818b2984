#include <gtest/gtest.h>

#include "TestUtil.h"
#include "faximage/Apf.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxUnpacker.h"
#include "faximage/T4Decoder.h"

namespace {

std::vector<uint8_t> Line(unsigned width, unsigned blackFrom, unsigned blackTo) {
  std::vector<uint8_t> l(width / 8, 0);
  for (unsigned x = blackFrom; x < blackTo; ++x) l[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return l;
}

TEST(ApfHeader, FieldsAreStoredAtTheirOffsets) {
  ApfFileHeader h;
  h.stationId = "ABC";
  h.pageCount = 0x1234;
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;  // March
  t.tm_mday = 15;
  t.tm_hour = 13;
  t.tm_min = 45;
  t.tm_sec = 31;
  h.creationTime = ApfPackDosTime(t);
  const auto b = h.Pack();
  EXPECT_EQ(std::string(b.begin(), b.begin() + 5), "APF10");
  EXPECT_EQ(b[5], 0x1A);
  // time: 31/2 = 15 | 45 << 5 | 13 << 11; date: 15 | 3 << 5 | 44 << 9
  EXPECT_EQ(b[6] | (b[7] << 8), 15 | (45 << 5) | (13 << 11));
  EXPECT_EQ(b[8] | (b[9] << 8), 15 | (3 << 5) | (44 << 9));
  EXPECT_EQ(b[10], 3);
  EXPECT_EQ(std::string(b.begin() + 11, b.begin() + 31), "ABC                 ");
  EXPECT_EQ(b[31], 0);
  EXPECT_EQ(b[32], 0x34);
  EXPECT_EQ(b[33], 0x12);
  EXPECT_EQ(b[34], 64);
  EXPECT_EQ(b[35] | b[36] | b[37], 0);
  for (size_t i = 38; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;

  t.tm_year = 2100 - 1900;
  EXPECT_EQ(ApfPackDosTime(t), 0u);
  t.tm_year = 1979 - 1900;
  EXPECT_EQ(ApfPackDosTime(t), 0u);

  // Readers use the length byte and ignore the positions after it.
  auto bytes = b;
  bytes[14] = 'X';
  EXPECT_EQ(ApfFileHeader::Unpack(bytes.data())->stationId, "ABC");
  bytes[10] = 200;  // a length beyond 20 is cut to 20
  EXPECT_EQ(ApfFileHeader::Unpack(bytes.data())->stationId.size(), 20u);
}

TEST(ApfWriter, PageOfTopMarginOnlyAndLazyHeaders) {
  TTempFolder dir;
  const auto path = dir / "m.apf";
  TFxApfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  EXPECT_EQ(w.Position(), 64u);  // no page header before the first line
  w.SetPageFlags(apfWide);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(w.WriteRecord(FxT4::kBlankRecord.data(), FxT4::kBlankRecord.size()), 0);
  ASSERT_EQ(w.EndPage(), 0);
  // The finished page is on disk, header rewritten, before the file is closed.
  auto bytes = FxReadFile(path);
  ASSERT_EQ(bytes.size(), 64u + 16 + 3 * 8 + 16);
  EXPECT_EQ(bytes[64] | (bytes[65] << 8), 3 * 8 + 16);
  EXPECT_EQ(bytes[68], apfWide | apfLengthWords);
  ASSERT_EQ(w.Finish("ABC", 0x12345678), 0);
  bytes = FxReadFile(path);
  EXPECT_EQ(bytes[32], 1);
  EXPECT_EQ(bytes[6], 0x78);
  for (int i = 0; i < 3; ++i) {
    const size_t at = 80 + static_cast<size_t>(i) * 8;
    EXPECT_EQ(bytes[at], 6);
    EXPECT_EQ(bytes[at + 1], 0);
    EXPECT_TRUE(std::equal(FxT4::kBlankRecord.begin(), FxT4::kBlankRecord.end(), bytes.begin() + static_cast<long>(at) + 2));
  }
  EXPECT_EQ(bytes[104], 14);  // page end: eight end-of-line codes

  // The 1728-pixel blank lines of a wide page are accepted by readers.
  TFxFaxUnpacker u;
  u.SetInFileName(path.string());
  u.AutoScaleMode = TAutoScaleMode::asNone;
  unsigned lines = 0;
  u.OnOutputLine = [&](TFxFaxUnpacker&, bool s, bool e, const uint8_t*, unsigned len, unsigned) {
    if (!s && !e) {
      EXPECT_EQ(len, 216u);
      ++lines;
    }
  };
  u.UnpackPage(1);
  EXPECT_EQ(lines, 3u);
}

TEST(ApfWriter, FailedOrAbandonedWriterLeavesNoFile) {
  TTempFolder dir;
  TFxApfWriter bad;
  EXPECT_LT(bad.Create(dir / "missing" / "x.apf"), 0);
  EXPECT_EQ(bad.Create(""), FxErr::ecFileNotFound);
  {
    TFxApfWriter w;
    ASSERT_EQ(w.Create(dir / "a.apf"), 0);
    std::vector<uint8_t> big(5000, 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(w.WriteRecord(big.data(), 4000), 0);  // spills the buffer
    EXPECT_TRUE(std::filesystem::exists(dir / "a.apf"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "a.apf"));
}

TEST(ApfReader, RejectsWhatIsNotAnApfFile) {
  TTempFolder dir;
  EXPECT_FALSE(IsApfFile(dir / "none.apf"));
  FxWriteFile(dir / "short.apf", {'A', 'P', 'F', '1', '0'});
  EXPECT_FALSE(IsApfFile(dir / "short.apf"));
  FxWriteFile(dir / "other.apf", std::vector<uint8_t>(100, 'x'));
  EXPECT_FALSE(IsApfFile(dir / "other.apf"));
  TFxApfReader r;
  EXPECT_EQ(r.Open(dir / "other.apf"), FxErr::ecFaxBadFormat);
  EXPECT_EQ(r.Open(""), FxErr::ecFileNotFound);
  EXPECT_EQ(r.Open(dir / "none.apf"), -2);

  // A file with page count 0 is valid; page 1 of it is not.
  FxWriteApf(dir / "empty.apf", {}, 0);
  EXPECT_TRUE(IsApfFile(dir / "empty.apf"));
  ASSERT_EQ(r.Open(dir / "empty.apf"), 0);
  EXPECT_EQ(r.PageCount(), 0);
  ApfPageHeader h;
  uint64_t off = 0;
  EXPECT_EQ(r.FindPage(1, h, off), FxErr::ecFaxBadFormat);
  TFxFaxUnpacker u;
  u.SetInFileName((dir / "empty.apf").string());
  EXPECT_EQ(u.PageCount(), 0u);
  try {
    u.PageToBitmap(1);
    FAIL();
  } catch (const EFxImageError& e) {
    EXPECT_EQ(e.ErrorCode(), -8001);
    EXPECT_STREQ(e.what(), "File is not an APF file");
  }
}

TEST(ApfReader, HostilePageChainsAndLengths) {
  TTempFolder dir;
  const auto path = dir / "p.apf";
  FxWriteApf(path, {{Line(1728, 10, 20)}, {Line(1728, 30, 40)}}, 0);
  const auto good = FxReadFile(path);
  TFxFaxUnpacker u;
  u.SetInFileName(path.string());
  TFxBitmap b;
  ASSERT_EQ(u.TryPageToBitmap(2, b), 0);
  EXPECT_EQ(u.TryPageToBitmap(3, b), FxErr::ecFaxBadFormat);

  // Page 1's length points past the end of the file.
  auto bytes = good;
  bytes[64 + 3] = 0x7F;
  FxWriteFile(path, bytes);
  EXPECT_EQ(u.TryPageToBitmap(2, b), FxErr::ecFaxBadFormat);
  // ... and page 1 itself, in stream form without its page end, ends early.
  bytes[68] = 0;
  bytes.resize(64 + 16 + 2 + FxT4::kBlankRecord.size() + 4);
  FxWriteFile(path, bytes);
  EXPECT_EQ(u.TryPageToBitmap(1, b), FxErr::ecFaxBadFormat);

  // The first page offset points beyond the file.
  bytes = good;
  bytes[37] = 0x40;
  FxWriteFile(path, bytes);
  EXPECT_EQ(u.TryPageToBitmap(1, b), FxErr::ecFaxBadFormat);

  // A record longer than 4096 bytes: only its first 4096 bytes are decoded,
  // the rest is skipped and the next record read as usual.
  TFxApfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  const auto line = Line(1728, 100, 200);
  rec.resize(FxT4::CodeLine(line.data(), 1728, 0, rec.data()));
  std::vector<uint8_t> longRecord(rec);
  longRecord.resize(5000, 0xFF);  // garbage after byte 4096 would be bad codes
  std::fill(longRecord.begin() + static_cast<long>(rec.size()), longRecord.begin() + 4096, 0);
  ASSERT_EQ(w.WriteStream(nullptr, 0), 0);  // stream page header, then hand-made records
  w.Discard();
  std::vector<uint8_t> data;
  auto addRecord = [&](const std::vector<uint8_t>& r) {
    data.push_back(static_cast<uint8_t>(r.size()));
    data.push_back(static_cast<uint8_t>(r.size() >> 8));
    data.insert(data.end(), r.begin(), r.end());
  };
  addRecord(longRecord);
  addRecord(rec);
  std::vector<uint8_t> end(32);
  end.resize(FxT4::PageEndRecord(end.data()));
  addRecord(end);
  ApfFileHeader fh;
  fh.pageCount = 1;
  const auto fhb = fh.Pack();
  auto file = std::vector<uint8_t>(fhb.begin(), fhb.end());
  ApfPageHeader ph{static_cast<uint32_t>(data.size()), apfLengthWords};
  const auto phb = ph.Pack();
  file.insert(file.end(), phb.begin(), phb.end());
  file.insert(file.end(), data.begin(), data.end());
  FxWriteFile(path, file);
  u.AutoScaleMode = TAutoScaleMode::asNone;
  ASSERT_EQ(u.TryPageToBitmap(1, b), 0);
  EXPECT_EQ(b.height, 2u);
}

TEST(ApfReader, LinesOfWrongLengthAreDroppedAndThePageContinues) {
  TTempFolder dir;
  const auto path = dir / "d.apf";
  TFxApfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  w.SetPageFlags(apfHighRes);
  const std::vector<std::vector<unsigned>> lines = {
      {100, 10, 1618},        // 1728: kept
      {100, 10, 1617},        // 1727: dropped
      {100, 10, 1625},        // 1735: kept (216 whole bytes)
      {100, 10, 890},         // 1000: dropped
      {100, 10, 1938},        // 2048 on a normal page: kept, cut to 1728
      {0, 1728},              // all black: kept
  };
  for (const auto& runs : lines) {
    const auto rec = FxCodeRuns(runs);
    ASSERT_EQ(w.WriteRecord(rec.data(), rec.size()), 0);
  }
  ASSERT_EQ(w.EndPage(), 0);
  ASSERT_EQ(w.Finish(""), 0);
  TFxFaxUnpacker u;
  u.SetInFileName(path.string());
  const TFxBitmap b = u.PageToBitmap(1);
  ASSERT_EQ(b.height, 4u);
  EXPECT_EQ(b.width, 1728u);
  EXPECT_TRUE(b.IsBlack(100, 0));
  EXPECT_FALSE(b.IsBlack(110, 0));
  EXPECT_TRUE(b.IsBlack(0, 3));
  EXPECT_TRUE(b.IsBlack(1727, 3));
}

TEST(T4Decoder, FillBitsJunkAndRunaways) {
  // Any number of fill bits before an end-of-line; data before the first
  // end-of-line is ignored; a bad code is counted and skipped.
  std::vector<uint8_t> data = {0xFF, 0x13, 0x77};  // junk before the first EOL
  auto add = [&](const std::vector<uint8_t>& v) { data.insert(data.end(), v.begin(), v.end()); };
  add(std::vector<uint8_t>(300, 0));  // long fill
  add(FxCodeRuns({1728}));
  add(std::vector<uint8_t>(5, 0));
  add(FxCodeRuns({64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
                  64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64}));
  add(FxCodeRuns({1728}));
  std::vector<uint8_t> end(32);
  end.resize(FxT4::PageEndRecord(end.data()));
  add(end);
  add(FxCodeRuns({1728}));  // after the page end: not read
  unsigned lines = 0;
  FxT4Decoder d([&](const uint8_t*, unsigned) {
    ++lines;
    return true;
  });
  d.Feed(data.data(), data.size());
  EXPECT_TRUE(d.PageEnded());
  EXPECT_EQ(lines, 2u);
  EXPECT_EQ(d.LinesDropped(), 1u);

  // Endless fill and endless junk end without a page end and without lines.
  std::vector<uint8_t> zeros(1 << 20, 0), ones(1 << 20, 0xFF);
  FxT4Decoder z([&](const uint8_t*, unsigned) { return true; });
  EXPECT_TRUE(z.Feed(zeros.data(), zeros.size()));
  EXPECT_TRUE(z.Feed(ones.data(), ones.size()));
  EXPECT_EQ(z.LinesAccepted(), 0u);
}

TEST(ApfConcatenate, JoinsPagesAndChecksSignatures) {
  TTempFolder dir;
  FxWriteApf(dir / "cover.apf", {{Line(1728, 0, 8)}}, 0);
  FxWriteApf(dir / "doc.apf", {{Line(1728, 8, 16)}, {Line(1728, 16, 24)}}, apfHighRes);
  ASSERT_EQ(ApfConcatenate(dir / "cover.apf", dir / "doc.apf", dir / "both.apf"), 0);
  TFxFaxUnpacker u;
  u.SetInFileName((dir / "both.apf").string());
  u.AutoScaleMode = TAutoScaleMode::asNone;
  EXPECT_EQ(u.PageCount(), 3u);
  EXPECT_FALSE(u.FirstPageHighRes());
  for (unsigned p = 1; p <= 3; ++p) {
    const TFxBitmap b = u.PageToBitmap(p);
    ASSERT_EQ(b.height, 1u);
    EXPECT_TRUE(b.IsBlack((p - 1) * 8, 0));
    EXPECT_FALSE(b.IsBlack(p * 8, 0));
  }
  EXPECT_EQ(ApfConcatenate(dir / "cover.apf", dir / "nothere.apf", dir / "x.apf"), FxErr::ecFileNotFound);
  const auto before = FxReadFile(dir / "cover.apf");
  EXPECT_EQ(ApfConcatenate(dir / "doc.apf", dir / "cover.apf", dir / "cover.apf"), FxErr::ecBadArgument);
  EXPECT_EQ(FxReadFile(dir / "cover.apf"), before);  // the source is untouched
  FxWriteFile(dir / "bad.apf", std::vector<uint8_t>(80, 0));
  EXPECT_EQ(ApfConcatenate(dir / "cover.apf", dir / "bad.apf", dir / "x.apf"), FxErr::ecFaxBadFormat);
  EXPECT_EQ(ApfConcatenate(dir / "bad.apf", dir / "cover.apf", dir / "y.apf"), FxErr::ecFaxBadFormat);
  // Three files at once, as the fax engine joins its file list.
  ASSERT_EQ(ApfConcatenate({dir / "cover.apf", dir / "doc.apf", dir / "cover.apf"}, dir / "three.apf"), 0);
  u.SetInFileName((dir / "three.apf").string());
  EXPECT_EQ(u.PageCount(), 4u);
}

}  // namespace
