// The index reader on hand-made damage: cycles, wild pointers, impossible
// counts. (Whole index files written by tables are checked in TableTest.)
#include <gtest/gtest.h>

#include <cstring>

#include "xbase/Cdx.h"
#include "xbase/tests/TestUtil.h"

TEST(CdxReader, CyclesAndWildPointersAreErrors) {
  // A hand-made index: one tag whose root interior page points at itself.
  TCdxImage img;
  TCdxTagData tag;
  tag.def = {"T", "NAME", "", false, false, 4, 'C'};
  tag.keys = TXbKeyList(4);
  tag.keys.AppendSorted(reinterpret_cast<const uint8_t*>("abcd"), 1);
  img.tags.push_back(std::move(tag));
  img.recordCount = 1;
  std::string bytes = XbWriteCdx(img);
  TCdxImage back;
  XB_ASSERT_OK(XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), back));
  ASSERT_EQ(back.tags.size(), 1u);
  EXPECT_EQ(back.tags[0].keys.RecNo(0), 1u);
  auto* b = reinterpret_cast<uint8_t*>(bytes.data());
  const uint32_t tagHeader = 1024;
  const uint32_t root = b[tagHeader] | b[tagHeader + 1] << 8 | b[tagHeader + 2] << 16 | b[tagHeader + 3] << 24;
  // Turn the root into an interior page with one entry pointing at itself.
  std::string cyc = bytes;
  auto* c = reinterpret_cast<uint8_t*>(cyc.data());
  std::memset(c + root, 0, 512);
  c[root] = 1;
  c[root + 2] = 1;
  std::memcpy(c + root + 12, "abcd", 4);
  c[root + 12 + 4 + 3] = 1;
  c[root + 12 + 8] = static_cast<uint8_t>(root >> 24);
  c[root + 12 + 9] = static_cast<uint8_t>(root >> 16);
  c[root + 12 + 10] = static_cast<uint8_t>(root >> 8);
  c[root + 12 + 11] = static_cast<uint8_t>(root);
  EXPECT_EQ(XbReadCdx(c, cyc.size(), back).code, XbError::CdxCycle);
  // A child beyond the end of the file.
  c[root + 12 + 8] = 0x7f;
  EXPECT_EQ(XbReadCdx(c, cyc.size(), back).code, XbError::CdxBadNode);
  // A root pointer that is not page-aligned, and a truncated file.
  std::string wild = bytes;
  wild[tagHeader] = 3;
  EXPECT_EQ(XbReadCdx(reinterpret_cast<const uint8_t*>(wild.data()), wild.size(), back).code, XbError::CdxBadNode);
  EXPECT_EQ(XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), 700, back).code, XbError::CdxTooShort);
  // Leaf counts that claim more entries than the page holds.
  std::string many = bytes;
  many[root + 2] = static_cast<char>(0xff);
  many[root + 3] = static_cast<char>(0x7f);
  EXPECT_EQ(XbReadCdx(reinterpret_cast<const uint8_t*>(many.data()), many.size(), back).code, XbError::CdxBadNode);
}

// Found by fuzzing: a directory naming one tag "z" and another "Z" was read as
// two tags of the same name, and the index written from them could not be
// read again. Both readers refuse it.
TEST(CdxReader, ATagNameTwiceInDifferentLetterCaseIsRefused) {
  std::string bytes;
  XB_ASSERT_OK(XbReadWholeFile(CORVANE_SOURCE_DIR "/xbase/tests/data/cdx-tag-name-twice-in-two-cases.cdx", bytes, 1 << 20));
  TCdxImage img;
  const XbStatus st = XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), img);
  EXPECT_EQ(st.code, XbError::CdxBadHeader) << st.Message();
  std::shared_ptr<const TCdxFile> file;
  EXPECT_FALSE(TCdxFile::Open(CORVANE_SOURCE_DIR "/xbase/tests/data/cdx-tag-name-twice-in-two-cases.cdx", file).ok());
}
