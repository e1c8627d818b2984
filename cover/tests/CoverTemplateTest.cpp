// A design saved as a template and opened again: the four files, the zoom
// taken out of the stored units, and unreadable files.
#include <gtest/gtest.h>

#include "cover/CoverTemplate.h"
#include "cover/core/FcsFile.h"
#include "cover/core/FctFile.h"
#include "cover/tests/RenderHelpers.h"

namespace {

TEST(CoverTemplate, SavedAtAnyZoomOpensAsDesigned) {
  TTempFolder dir;
  TCoverSurface s;
  s.PanelState = psRectangle;
  (void)s.PlaceObject({96, 48, 192, 96});
  s.PanelState = psField;
  (void)s.PlaceObject({96, 200, 300, 30});
  s.SetZoom(2.0);
  ASSERT_TRUE(SaveCoverTemplate(s, dir / "CV0001.FCS", "Two objects"));
  EXPECT_EQ(s.Zoom(), 1.0);
  for (const char* f : {"CV0001.FCS", "CV0001.FCT", "CV0001.bmp", "CV0001.DES"})
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / f)) << f;
  const auto fct = ReadFctFile(dir / "CV0001.FCT");
  ASSERT_EQ(fct.Records.size(), 2u);
  EXPECT_EQ(fct.Records[0].Left, 196);
  EXPECT_EQ(fct.Records[0].Width, 392);
  EXPECT_EQ(fct.Records[1].Ints[5], cfDate);

  TCoverSurface opened;
  const auto o = OpenCoverTemplate(opened, dir / "CV0001.FCS");
  ASSERT_TRUE(o.Ok) << o.Message;
  EXPECT_EQ(o.Description, "Two objects");
  EXPECT_EQ(opened.Objects(), s.Objects());
}

TEST(CoverTemplate, UnreadableFileLeavesAnEmptySurfaceAndAMessage) {
  TTempFolder dir;
  TTempFolder::WriteFile(dir / "BAD.FCS", "not a template");
  TCoverSurface s;
  s.PanelState = psRectangle;
  (void)s.PlaceObject({0, 0, 50, 50});
  const auto o = OpenCoverTemplate(s, dir / "BAD.FCS");
  EXPECT_FALSE(o.Ok);
  EXPECT_TRUE(s.Objects().empty());
  EXPECT_EQ(o.Message,
            "Unable to open " + (dir / "BAD.FCS").string() + ". Possibly corrupted, posibly not a Labelcraft file");
  EXPECT_FALSE(OpenCoverTemplate(s, dir / "NONE.FCS").Ok);
}

}  // namespace
