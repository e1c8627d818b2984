#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "faximage/Apf.h"
#include "tools/apftool/ApfTool.h"
#include "testsupport/TempFolder.h"

namespace {

namespace fs = std::filesystem;

class ApfToolTest : public ::testing::Test {
 protected:

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return ApfToolMain(args, out_, err_);
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  TTempFolder temp_;
  const fs::path dir_ = temp_.Path();
  std::ostringstream out_, err_;
};

// A 1728 x 100 page: a frame and a diagonal.
std::string MakePbm() {
  std::string pbm = "P4\n# test page\n1728 100\n";
  std::string rows(216 * 100, '\0');
  for (unsigned y = 0; y < 100; ++y) {
    for (unsigned x = 0; x < 1728; ++x) {
      if (y == 0 || y == 99 || x < 3 || x >= 1725 || x == y * 17) rows[y * 216 + x / 8] |= static_cast<char>(0x80 >> (x % 8));
    }
  }
  return pbm + rows;
}

TEST_F(ApfToolTest, PbmPagesRoundTripThroughConvertAndExport) {
  std::ofstream(P("page.pbm"), std::ios::binary) << MakePbm();
  ASSERT_EQ(Run({"convert", P("page.pbm"), P("page.apf"), "--fine", "--station", "+1 555 0100"}), 0) << err_.str();
  ASSERT_EQ(Run({"info", P("page.apf")}), 0);
  EXPECT_NE(out_.str().find("Station ID: +1 555 0100"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Pages:      1"), std::string::npos);
  EXPECT_NE(out_.str().find("fine   1728 pixels, length words"), std::string::npos) << out_.str();
  ASSERT_EQ(Run({"export", P("page.apf"), "1", P("back.pbm")}), 0) << err_.str();
  const std::string in = MakePbm();
  const std::string back = Read(P("back.pbm"));
  EXPECT_EQ(back.substr(0, 12), "P4\n1728 100\n");
  EXPECT_EQ(back.substr(12), in.substr(in.size() - 216 * 100));

  // BMP input written by an independent program decodes to the same page.
  const std::string cmd = "convert '" + P("page.pbm") + "' BMP3:'" + P("page.bmp") + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  ASSERT_EQ(Run({"convert", P("page.bmp"), P("bmp.apf")}), 0) << err_.str();
  ASSERT_EQ(Run({"export", P("bmp.apf"), "1", P("bmp.pbm")}), 0);
  EXPECT_EQ(Read(P("bmp.pbm")).substr(12), in.substr(in.size() - 216 * 100));

  for (const char* ext : {"bmp", "pcx", "dcx"}) {
    EXPECT_EQ(Run({"export", P("page.apf"), "1", P(std::string("out.") + ext)}), 0) << err_.str();
    EXPECT_TRUE(fs::exists(P(std::string("out.") + ext))) << ext;
  }
}

TEST_F(ApfToolTest, TextCatAndFailures) {
  std::ofstream(P("note.txt")) << "Hello fax\n\fSecond page\n";
  ASSERT_EQ(Run({"convert", P("note.txt"), P("note.apf")}), 0) << err_.str();
  ASSERT_EQ(Run({"info", P("note.apf")}), 0);
  EXPECT_NE(out_.str().find("Pages:      2"), std::string::npos) << out_.str();
  ASSERT_EQ(Run({"cat", P("note.apf"), P("note.apf"), P("four.apf")}), 0);
  TFxApfReader r;
  ASSERT_EQ(r.Open(P("four.apf")), 0);
  EXPECT_EQ(r.PageCount(), 4);

  EXPECT_EQ(Run({"export", P("note.apf"), "3", P("x.pbm")}), 1);
  EXPECT_NE(err_.str().find("File is not an APF file"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"cat", P("note.apf"), P("note.txt"), P("bad.apf")}), 1);
  EXPECT_EQ(Run({"cat", P("note.apf"), P("four.apf"), P("four.apf")}), 2);
  ASSERT_EQ(r.Open(P("four.apf")), 0);  // still there, unchanged
  EXPECT_EQ(r.PageCount(), 4);
  EXPECT_FALSE(fs::exists(P("bad.apf")));
  EXPECT_EQ(Run({"info", P("missing.apf")}), 1);
  EXPECT_NE(err_.str().find("File not found"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"export", P("note.apf"), "1", P("x.gif")}), 2);
  EXPECT_EQ(Run({"export", P("note.apf"), "zero", P("x.bmp")}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  std::ofstream(P("bad.pbm")) << "P4\n10 10\nxx";
  EXPECT_EQ(Run({"convert", P("bad.pbm"), P("bad.apf")}), 1);

  // The program itself: exit status and error text.
  const std::string cmd = std::string(APFTOOL_EXE) + " info '" + P("missing.apf") + "' 2>'" + P("err.txt") + "'";
  const int status = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_NE(Read(P("err.txt")).find("apftool: "), std::string::npos);
}

// The whole fax as TIFF and PDF: the old page form still works beside it,
// readers see every page, a damaged file exports its good pages with a
// warning, and a failure leaves no file.
TEST_F(ApfToolTest, WholeFaxExportsToTiffAndPdf) {
  std::ofstream(P("page.pbm"), std::ios::binary) << MakePbm();
  ASSERT_EQ(Run({"convert", P("page.pbm"), P("one.apf"), "--fine"}), 0) << err_.str();
  ASSERT_EQ(Run({"cat", P("one.apf"), P("one.apf"), P("two.apf")}), 0);
  ASSERT_EQ(Run({"export", P("two.apf"), P("fax.tif")}), 0) << err_.str();
  ASSERT_EQ(Run({"export", P("two.apf"), P("fax.PDF")}), 0) << err_.str();
  EXPECT_TRUE(err_.str().empty()) << err_.str();
  const std::string tiffinfo = "tiffinfo -D '" + P("fax.tif") + "' >'" + P("ti.txt") + "' 2>&1";
  ASSERT_EQ(std::system(tiffinfo.c_str()), 0);
  const std::string ti = Read(P("ti.txt"));
  EXPECT_NE(ti.find("Page Number: 1-2"), std::string::npos) << ti;
  EXPECT_NE(ti.find("Resolution: 204, 196 pixels/inch"), std::string::npos) << ti;
  const std::string pdfinfo = "pdfinfo '" + P("fax.PDF") + "' >'" + P("pi.txt") + "' 2>&1";
  ASSERT_EQ(std::system(pdfinfo.c_str()), 0);
  EXPECT_NE(Read(P("pi.txt")).find("Pages:           2"), std::string::npos) << Read(P("pi.txt"));
  ASSERT_EQ(Run({"export", P("two.apf"), "2", P("page2.pbm")}), 0) << err_.str();

  // Cut inside page 2: page 1 is exported, with a warning.
  const std::string whole = Read(P("two.apf"));
  std::ofstream(P("cut.apf"), std::ios::binary) << whole.substr(0, whole.size() - 50);
  ASSERT_EQ(Run({"export", P("cut.apf"), P("cut.pdf")}), 0);
  EXPECT_NE(err_.str().find("exported 1 of 2 pages"), std::string::npos) << err_.str();

  std::ofstream(P("bad.apf"), std::ios::binary) << whole.substr(0, 100);
  EXPECT_EQ(Run({"export", P("bad.apf"), P("bad.tif")}), 1);
  EXPECT_NE(err_.str().find("File is not an APF file"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(P("bad.tif")));
  EXPECT_EQ(Run({"export", P("two.apf"), P("fax.png")}), 2);
}

}  // namespace

namespace {

// Import from the command line: options reach the import, failures give a
// message and exit status 1 and leave no file.
TEST_F(ApfToolTest, ImportHonoursOptionsAndReportsFailures) {
  std::ofstream(P("memo.txt")) << "Memo\n";
  ASSERT_EQ(Run({"import", P("memo.txt"), P("memo.apf"), "--normal", "--text"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("1 page"), std::string::npos) << out_.str();
  TFxApfReader r;
  ASSERT_EQ(r.Open(P("memo.apf")), 0);
  ApfPageHeader page;
  uint64_t offset = 0;
  ASSERT_EQ(r.FindPage(1, page, offset), 0);
  EXPECT_FALSE(page.HighRes());

  std::ofstream(P("broken.pdf")) << "%PDF-1.4\nnothing here\n";
  EXPECT_EQ(Run({"import", P("broken.pdf"), P("broken.apf")}), 1);
  EXPECT_NE(err_.str().find("not a readable PDF"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(P("broken.apf")));
  EXPECT_EQ(Run({"import", P("memo.txt"), P("x.apf"), "--sideways"}), 2);
  EXPECT_EQ(Run({"import", P("memo.txt")}), 2);
  // Pictures need the image readers of the full build.
  std::ofstream(P("pic.png")) << "\x89PNG\r\n";
  EXPECT_EQ(Run({"import", P("pic.png"), P("pic.apf")}), 1);
  EXPECT_FALSE(fs::exists(P("pic.apf")));
}

}  // namespace
