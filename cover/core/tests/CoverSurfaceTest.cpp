// The design surface's rules: placing objects from a dragged rectangle,
// selecting, dragging with the grid, keys, arranging, z-order, clipboard
// streams and zoom.
#include <gtest/gtest.h>

#include "cover/core/CoverSurface.h"
#include "cover/core/FcsFile.h"

namespace {

size_t Place(TCoverSurface& s, TLPanelState tool, TCoverRect r) {
  s.PanelState = tool;
  return s.PlaceObject(r);
}

TEST(CoverSurface, PlacingMakesTheToolsObjectAtLeast50By15) {
  TCoverSurface s;
  const size_t i = Place(s, psRectangle, TCoverRect::FromCorners(100, 40, 100, 40));  // a click
  ASSERT_EQ(i, 0u);
  EXPECT_EQ(RectOf(s.Objects()[0]), (TCoverRect{100, 40, 50, 15}));
  EXPECT_EQ(s.Objects()[0].Kind, TCoverObjectKind::ckShape);
  EXPECT_EQ(s.PanelState, psPointing);
  EXPECT_TRUE(s.IsSelected(0));
  EXPECT_EQ(s.Objects()[0].Name, "Component0");

  // Rectangles dragged from any corner; each tool's own object.
  Place(s, psLine, TCoverRect::FromCorners(300, 300, 200, 100));
  EXPECT_EQ(RectOf(s.Objects()[1]), (TCoverRect{200, 100, 100, 200}));
  EXPECT_EQ(s.Objects()[1].LineStyle, lsVertical);
  EXPECT_FALSE(s.IsSelected(0));
  Place(s, psEllipse, {0, 0, 24, 14});
  EXPECT_EQ(s.Objects()[2].Shape, stEllipse);
  EXPECT_EQ(RectOf(s.Objects()[2]), (TCoverRect{0, 0, 50, 15}));
  s.DefaultFont.Name = "Liberation Serif";
  Place(s, psLabel, {0, 0, 100, 30});
  EXPECT_EQ(s.Objects()[3].Caption, "<text>");
  EXPECT_EQ(s.Objects()[3].Font.Name, "Liberation Serif");
  Place(s, psSymbolLabel, {0, 0, 100, 30});
  EXPECT_EQ(s.Objects()[4].Font.Name, "WingDings");
  Place(s, psField, {0, 0, 100, 30});
  SetFieldType(s.Object(5), cfSenderCompany);
  EXPECT_EQ(s.Objects()[5].Caption, "[Sender Company]");
  EXPECT_EQ(s.PlaceObject({0, 0, 10, 10}), TCoverSurface::npos);  // the pointer makes nothing
}

TEST(CoverSurface, DragsSnapToTheGridKeepSizesAndStayInside) {
  TCoverSurface s;
  Place(s, psRectangle, {0, 0, 100, 80});
  s.SetSnapToGrid(true);
  EXPECT_EQ(s.GridX(), 8);
  s.DragMove(21, 0);
  EXPECT_EQ(s.Objects()[0].Left, 16);
  s.SetGridSize(gs4x4);
  s.DragMove(3, 7);
  EXPECT_EQ(s.Objects()[0].Left, 16);  // 19 snaps back down to 16
  EXPECT_EQ(s.Objects()[0].Top, 4);
  s.DragMove(5000, 5000);  // kept inside the surface
  EXPECT_EQ(s.Objects()[0].Left, TCoverSurface::kBaseWidth - 100);
  EXPECT_EQ(s.Objects()[0].Top, TCoverSurface::kBaseHeight - 80);

  s.SetSnapToGrid(false);
  EXPECT_EQ(s.GridX(), 1);
  TCoverSurface r;
  Place(r, psRectangle, {100, 100, 100, 80});
  r.DragResize(0, TDragKind::Right, -200, 0);  // below 5 leaves 5
  EXPECT_EQ(r.Objects()[0].Width, 5);
  r.DragResize(0, TDragKind::TopLeft, 10, 500);
  EXPECT_EQ(RectOf(r.Objects()[0]), (TCoverRect{100, 175, 5, 5}));  // right and bottom edges stay
  r.DragResize(0, TDragKind::BottomRight, 45, 25);
  EXPECT_EQ(RectOf(r.Objects()[0]), (TCoverRect{100, 175, 50, 30}));
  r.Object(0).Locked = true;
  r.DragResize(0, TDragKind::Left, -50, 0);
  r.DragMove(10, 10);
  EXPECT_EQ(RectOf(r.Objects()[0]), (TCoverRect{100, 175, 50, 30}));
}

TEST(CoverSurface, SelectionByBandShiftAndUnselectable) {
  TCoverSurface s;
  Place(s, psRectangle, {0, 0, 100, 100});
  Place(s, psRectangle, {200, 0, 100, 100});
  Place(s, psRectangle, {400, 0, 100, 100});
  s.Object(2).Unselectable = true;
  s.SelectTouching({100, 50, 100, 10}, false);  // touches the edges of the first two
  EXPECT_EQ(s.Selection(), (std::vector<size_t>{0, 1}));
  s.SelectTouching({150, 0, 1000, 10}, true);  // toggles the second, never the third
  EXPECT_EQ(s.Selection(), (std::vector<size_t>{0}));
  s.SelectAll();
  EXPECT_EQ(s.Selection(), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(s.SelectionBounds(), (TCoverRect{0, 0, 300, 100}));
}

TEST(CoverSurface, ArrowKeysMoveOrResizeWithinLimits) {
  TCoverSurface s;
  Place(s, psRectangle, {0, 5, 50, 50});
  s.Object(0).Width = s.Object(0).Height = 11;
  s.ArrowKey(TArrowKey::Left, false);  // already at the left edge
  s.ArrowKey(TArrowKey::Up, false);
  EXPECT_EQ(RectOf(s.Objects()[0]), (TCoverRect{0, 4, 11, 11}));
  s.ArrowKey(TArrowKey::Left, true);
  s.ArrowKey(TArrowKey::Left, true);  // not below 10
  EXPECT_EQ(s.Objects()[0].Width, 10);
  s.Object(0).Left = TCoverSurface::kBaseWidth - 11;
  s.ArrowKey(TArrowKey::Right, true);
  s.ArrowKey(TArrowKey::Right, true);  // the right edge reached the surface's
  EXPECT_EQ(s.Objects()[0].Width, 11);
  s.ArrowKey(TArrowKey::Right, false);
  EXPECT_EQ(s.Objects()[0].Left, TCoverSurface::kBaseWidth - 11);
  // A locked object is neither moved nor resized by the keys.
  s.Object(0).Locked = true;
  const TCoverRect locked = RectOf(s.Objects()[0]);
  for (TArrowKey key : {TArrowKey::Left, TArrowKey::Up, TArrowKey::Down})
    for (bool shift : {false, true}) s.ArrowKey(key, shift);
  EXPECT_EQ(RectOf(s.Objects()[0]), locked);
}

TEST(CoverSurface, ArrangingLockingAndZOrder) {
  TCoverSurface s;
  Place(s, psRectangle, {10, 10, 100, 50});
  Place(s, psEllipse, {50, 200, 30, 40});
  Place(s, psLine, {300, 300, 20, 60});
  s.SelectTouching({0, 0, 200, 300}, false);
  s.Align(TAlign::Right);
  EXPECT_EQ(s.Objects()[0].Left, 10);
  EXPECT_EQ(s.Objects()[1].Left, 80);
  s.Align(TAlign::Bottoms);
  EXPECT_EQ(s.Objects()[0].Top, 190);
  s.Align(TAlign::Tops);
  EXPECT_EQ(s.Objects()[1].Top, 190);
  s.CenterHorizontally();
  EXPECT_EQ(s.Objects()[0].Left, 384 - 50);
  s.CenterVertically();
  EXPECT_EQ(s.Objects()[1].Top, 480 - 20);

  s.BringToFront();  // 0 and 1 go on top of 2, keeping their order
  EXPECT_EQ(s.Objects()[0].Kind, TCoverObjectKind::ckLine);
  EXPECT_EQ(s.Objects()[1].Shape, stRectangle);
  EXPECT_EQ(s.Selection(), (std::vector<size_t>{1, 2}));
  s.SendToBack();
  EXPECT_EQ(s.Objects()[2].Kind, TCoverObjectKind::ckLine);
  s.SetAllLocked(true);
  EXPECT_TRUE(std::all_of(s.Objects().begin(), s.Objects().end(), [](const auto& o) { return o.Locked; }));
  s.SetAllUnselectable(true);
  EXPECT_TRUE(s.Selection().empty());
  s.SetAllUnselectable(false);
  s.SelectAll();
  s.DeleteSelection();
  EXPECT_TRUE(s.Objects().empty());
}

TEST(CoverSurface, ClipboardStreamsCloneAndNames) {
  TCoverSurface s;
  Place(s, psField, {10, 20, 100, 30});
  SetFieldType(s.Object(0), cfRegarding);
  Place(s, psRectangle, {0, 0, 60, 60});
  s.SelectOnly(0);
  const std::string stream = s.CopySelection();
  EXPECT_EQ(ReadFcs(stream).Objects.size(), 1u);
  ASSERT_TRUE(s.Paste(stream));
  ASSERT_EQ(s.Objects().size(), 3u);
  EXPECT_EQ(s.Objects()[2].Name, "Component2");
  EXPECT_EQ(RectOf(s.Objects()[2]), (TCoverRect{25, 35, 100, 30}));
  EXPECT_EQ(s.Objects()[2].Caption, "[Regarding]");
  EXPECT_EQ(s.Selection(), (std::vector<size_t>{2}));
  s.CloneSelection();
  EXPECT_EQ(s.Objects()[3].Left, 40);
  EXPECT_FALSE(s.Paste("not a stream"));
  EXPECT_EQ(s.Objects().size(), 4u);

  // Cut leaves a gap in the numbers that the next object fills.
  s.SelectOnly(1);
  const std::string cut = s.CutSelection();
  EXPECT_EQ(s.Objects().size(), 3u);
  EXPECT_EQ(s.NextComponentName(), "Component1");
  // Loading renames from 0 whatever the stream called them.
  std::vector<TCoverObject> loaded(3, MakeCoverObject(TCoverObjectKind::ckText));
  for (auto& o : loaded) o.Name = "Component77";
  s.Load(loaded);
  EXPECT_EQ(s.Objects()[2].Name, "Component2");
}

TEST(CoverSurface, ZoomRescalesSurfaceAndObjects) {
  TCoverSurface s;
  Place(s, psRectangle, {101, 51, 33, 17});
  s.SetZoom(1.5);
  EXPECT_EQ(s.Width(), 1152);
  EXPECT_EQ(s.Height(), 1440);
  EXPECT_EQ(RectOf(s.Objects()[0]), (TCoverRect{152, 77, 50, 26}));  // 151.5 .. rounded
  s.SetZoom(1);
  EXPECT_EQ(s.Width(), 768);
  EXPECT_EQ(RectOf(s.Objects()[0]), (TCoverRect{101, 51, 33, 17}));
  s.SetZoom(0);  // ignored
  EXPECT_EQ(s.Zoom(), 1.0);
}

TEST(CoverSurface, DistributeEvensTheGapsAndKeepsTheEndsAndLockedObjects) {
  TCoverSurface s;
  Place(s, psRectangle, {0, 0, 60, 20});
  Place(s, psRectangle, {300, 0, 40, 20});
  Place(s, psRectangle, {100, 0, 100, 20});
  Place(s, psRectangle, {101, 0, 30, 20});
  s.SelectAll();
  s.Distribute(true);
  // 340 wide, 230 used: three gaps of 36 and one pixel left over.
  EXPECT_EQ(s.Objects()[0].Left, 0);
  EXPECT_EQ(s.Objects()[2].Left, 60 + 37);
  EXPECT_EQ(s.Objects()[3].Left, 60 + 37 + 100 + 37);
  EXPECT_EQ(s.Objects()[1].Left, 300);
  // Now ordered 0, 2, 1, 3 by their left edges; the locked one stays and
  // the others are placed as if it had moved.
  s.Object(2).Locked = true;
  s.Object(1).Left = 120;
  s.Distribute(true);
  EXPECT_EQ(s.Objects()[2].Left, 97);
  EXPECT_EQ(s.Objects()[1].Left, 60 + 12 + 100 + 11);
  EXPECT_EQ(s.Objects()[3].Left, 234);
  // Fewer than three: nothing moves.
  s.SelectOnly(3);
  s.ToggleSelected(1);
  const auto before = s.Objects();
  s.Distribute(false);
  EXPECT_EQ(s.Objects(), before);
}

}  // namespace
