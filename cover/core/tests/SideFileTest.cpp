// The cover side file: what is written reads back the same, and odd files
// (LF endings, folders in the template name, flag lines of the wrong length)
// read without harm.
#include <gtest/gtest.h>

#include "cover/core/SideFile.h"
#include "testsupport/TempFolder.h"

namespace {

TEST(CoverSideFileTest, ParsesWhatItWritesAndToleratesOddFiles) {
  TCoverSideFile side;
  side.Template = "CV0002.FCT";
  side.SetFlags({false, true, false, false, true});
  side.MessageLines = {"a", "", "b"};
  EXPECT_EQ(FormatCoverSideFile(side), "CV0002.FCT\r\n X  X\r\na\r\n\r\nb\r\n");
  const TCoverSideFile back = ParseCoverSideFile(FormatCoverSideFile(side));
  EXPECT_EQ(back.Template, side.Template);
  EXPECT_EQ(back.Flags(), side.Flags());
  EXPECT_EQ(back.MessageLines, side.MessageLines);

  // LF endings, a last line without ending, flags of the wrong length.
  const TCoverSideFile odd = ParseCoverSideFile("C:\\covers\\x.fct\nXXXXXX\nlast");
  EXPECT_EQ(odd.Template, "x.fct");
  EXPECT_EQ(odd.Flags(), (std::array<bool, 5>{}));
  EXPECT_EQ(odd.MessageLines, std::vector<std::string>{"last"});
  EXPECT_EQ(ParseCoverSideFile("").Template, kDefaultCoverTemplate);
  EXPECT_EQ(ParseCoverSideFile("dir/\r\n").Template, kDefaultCoverTemplate);
}

TEST(CoverSideFileTest, FilesOnDisk) {
  TTempFolder dir;
  EXPECT_FALSE(ReadCoverSideFile(dir / "missing.FCD").has_value());
  TCoverSideFile side;
  side.MessageLines = {"only"};
  ASSERT_TRUE(WriteCoverSideFile(dir / "C.FCD", side));
  const auto back = ReadCoverSideFile(dir / "C.FCD");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->MessageLines, side.MessageLines);
  // A folder that is not there: nothing written, no partial file.
  EXPECT_FALSE(WriteCoverSideFile(dir / "gone" / "C.FCD", side));
  EXPECT_EQ(SideFilePath("/x/COV00001.APF"), std::filesystem::path("/x/COV00001.FCD"));
}

}  // namespace
