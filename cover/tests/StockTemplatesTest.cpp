// The stock templates built into the program: copied into an empty Covers
// folder only, readable, and their rendering form matches their editable one.
#include <gtest/gtest.h>

#include "cover/StockTemplates.h"
#include "cover/core/FcsFile.h"
#include "cover/core/TemplateFiles.h"
#include "cover/tests/RenderHelpers.h"

namespace {

TEST(StockTemplates, CopiedOnlyIntoAFolderWithoutTemplates) {
  TTempFolder dir;
  const auto covers = dir / "Covers";
  ASSERT_EQ(InstallStockTemplates(covers), 12);
  EXPECT_EQ(NextTemplateName(covers), "CV0004.FCS");
  EXPECT_EQ(ReadDescription(covers / "CV0001.DES"), "Plain business fax");
  EXPECT_EQ(InstallStockTemplates(covers), 0);  // once there are templates, never again

  TTempFolder other;
  TTempFolder::WriteFile(other / "mine.fcs", std::string("\x01\x00", 2));
  EXPECT_EQ(InstallStockTemplates(other.Path()), 0);
}

TEST(StockTemplates, RenderingFormMatchesTheEditableForm) {
  TTempFolder dir;
  ASSERT_EQ(InstallStockTemplates(dir.Path()), 12);
  for (const char* name : {"CV0001", "CV0002", "CV0003"}) {
    const TTemplatePaths p = TemplatePaths(dir / (std::string(name) + ".FCS"));
    const auto fcs = ReadFcsFile(p.Fcs);
    ASSERT_TRUE(fcs.Ok()) << name << ": " << fcs.Error;
    const auto fct = ReadFctFile(p.Fct);
    ASSERT_TRUE(fct.Error.empty()) << name << ": " << fct.Error;
    ASSERT_EQ(fct.Records.size(), fcs.Objects.size()) << name;
    for (size_t i = 0; i < fct.Records.size(); ++i) EXPECT_EQ(fct.Records[i], MakeFctRecord(fcs.Objects[i])) << name;
    // Everything lies on the page, inside the converter's margin.
    const QRect ink = InkBox(
        RenderCoverImage(p.Fct, PreviewSampleValues(), "A message").convertToFormat(QImage::Format_Grayscale8));
    ASSERT_TRUE(ink.isValid()) << name;
    EXPECT_LT(ink.right(), kCoverPageWidth - 50) << name;
    EXPECT_LT(ink.bottom(), kCoverPageHeight) << name;
    const QImage preview(QString::fromStdString(p.Bmp.string()));
    EXPECT_EQ(preview.size(), QSize(kPreviewWidth, kPreviewHeight)) << name;
  }
}

}  // namespace
