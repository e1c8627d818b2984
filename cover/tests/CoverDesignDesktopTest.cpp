// A design made on the surface with the mouse alone, the way a user makes
// one: every tool places its object, clicks, Shift+clicks and the rubber
// band select, the overlay moves and resizes, and the template saved and
// opened again has the same objects in the same places.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

#include "cover/CoverTemplate.h"
#include "cover/TFaxCoverPanel.h"
#include "cover/core/FctFile.h"
#include "testsupport/TempFolder.h"

namespace {

// A drag with the button held past the panel's start delay.
void Drag(QWidget* w, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
  QTest::mousePress(w, Qt::LeftButton, mods, from);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  QTest::mouseMove(w, to);
  QTest::mouseRelease(w, Qt::LeftButton, mods, to);
}

void Click(QWidget* w, QPoint at, Qt::KeyboardModifiers mods = {}) {
  QTest::mouseClick(w, Qt::LeftButton, mods, at);
}

void Trigger(QMenu* menu, const QString& path) {
  QMenu* current = menu;
  const QStringList parts = path.split('/');
  for (int i = 0; i < parts.size(); ++i)
    for (QAction* a : current->actions())
      if (a->text() == parts[i]) {
        if (i + 1 == parts.size()) {
          a->trigger();
          return;
        }
        current = a->menu();
        break;
      }
  ADD_FAILURE() << "no menu item " << path.toStdString();
}

void FromMenu(TFaxCoverPanel& panel, size_t index, const QString& path) {
  std::unique_ptr<QMenu> menu(panel.MakeObjectMenu(index));
  Trigger(menu.get(), path);
}

QPoint Center(const TCoverObject& o) { return QPoint(o.Left + o.Width / 2, o.Top + o.Height / 2); }

enum Placed : size_t { kLabel, kSymbol, kRect, kEllipse, kRound, kLine, kMessage, kImportance, kField };

TEST(CoverDesignDesktop, EveryObjectPlacedSelectedMovedResizedSavedAndReopened) {
  TTempFolder dir;
  TFaxCoverPanel panel;
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  panel.AskLabelText = [](TCoverObject& o) {
    o.Caption = "Attention";
    return true;
  };
  panel.AskSymbol = [](TCoverObject& o) {
    o.Caption = "J";
    return true;
  };

  // Each tool, dragged from one corner to the opposite one (some backwards).
  const struct {
    TLPanelState tool;
    QPoint from, to;
    TCoverObjectKind kind;
  } tools[] = {
      {psLabel, {40, 40}, {200, 80}, TCoverObjectKind::ckText},
      {psSymbolLabel, {300, 90}, {240, 40}, TCoverObjectKind::ckSymbol},
      {psRectangle, {40, 120}, {240, 220}, TCoverObjectKind::ckShape},
      {psEllipse, {280, 120}, {400, 240}, TCoverObjectKind::ckShape},
      {psRoundRectangle, {600, 200}, {440, 120}, TCoverObjectKind::ckShape},
      {psLine, {40, 260}, {90, 400}, TCoverObjectKind::ckLine},
      {psMessage, {120, 260}, {600, 500}, TCoverObjectKind::ckMessage},
      {psImportance, {40, 540}, {700, 570}, TCoverObjectKind::ckImportance},
      {psField, {40, 600}, {300, 630}, TCoverObjectKind::ckField},
  };
  for (const auto& t : tools) {
    panel.SetPanelState(t.tool);
    Drag(&panel, t.from, t.to);
    EXPECT_EQ(panel.PanelState(), psPointing);
  }
  const auto& objects = panel.Surface().Objects();
  ASSERT_EQ(objects.size(), std::size(tools));
  for (size_t i = 0; i < objects.size(); ++i) {
    const QPoint a = tools[i].from, b = tools[i].to;
    EXPECT_EQ(objects[i].Kind, tools[i].kind) << i;
    EXPECT_EQ(RectOf(objects[i]), (TCoverRect{std::min(a.x(), b.x()), std::min(a.y(), b.y()),
                                              std::abs(a.x() - b.x()), std::abs(a.y() - b.y())}))
        << i;
  }
  EXPECT_EQ(objects[kLabel].Caption, "Attention");
  EXPECT_EQ(objects[kSymbol].Caption, "J");
  EXPECT_EQ(objects[kEllipse].Shape, stEllipse);
  EXPECT_EQ(objects[kRound].Shape, stRoundRect);
  EXPECT_EQ(objects[kLine].LineStyle, lsVertical);

  // Properties changed through the popups, so that the files carry them.
  FromMenu(panel, kRect, "Filled - Black");
  FromMenu(panel, kRound, "Degree of Rounding/40 %");
  FromMenu(panel, kRound, "Line Thickness/3 Point");
  FromMenu(panel, kLine, "Style/Angled Sloping Down");
  FromMenu(panel, kField, "Field/Recipient Fax");
  FromMenu(panel, kSymbol, "Locked");
  FromMenu(panel, kLabel, "Unselectable");
  EXPECT_EQ(objects[kField].Caption, "[Recipient Fax]");

  // Click, Shift+click to add and to take away again, Shift+rubber band.
  Click(&panel, Center(objects[kRect]));
  EXPECT_EQ(panel.Surface().Selection(), (std::vector<size_t>{kRect}));
  Click(&panel, Center(objects[kEllipse]), Qt::ShiftModifier);
  Click(&panel, Center(objects[kRound]), Qt::ShiftModifier);
  EXPECT_EQ(panel.Surface().Selection(), (std::vector<size_t>{kRect, kEllipse, kRound}));
  Click(&panel, Center(objects[kEllipse]), Qt::ShiftModifier);
  EXPECT_EQ(panel.Surface().Selection(), (std::vector<size_t>{kRect, kRound}));
  Drag(&panel, QPoint(10, 700), QPoint(610, 245), Qt::ShiftModifier);
  EXPECT_EQ(panel.Surface().Selection(),
            (std::vector<size_t>{kRect, kRound, kLine, kMessage, kImportance, kField}));
  // The unselectable label is neither clicked nor banded into the selection.
  Click(&panel, Center(objects[kLabel]), Qt::ShiftModifier);
  Drag(&panel, QPoint(10, 10), QPoint(60, 50), Qt::ShiftModifier);
  EXPECT_FALSE(panel.Surface().IsSelected(kLabel));

  // Dragging one selected object moves all of them; the others stay.
  const std::vector<TCoverObject> before = objects;
  Drag(&panel, Center(objects[kRect]), Center(objects[kRect]) + QPoint(24, 16));
  for (size_t i = 0; i < objects.size(); ++i) {
    const bool moved = panel.Surface().IsSelected(i);
    EXPECT_EQ(objects[i].Left, before[i].Left + (moved ? 24 : 0)) << i;
    EXPECT_EQ(objects[i].Top, before[i].Top + (moved ? 16 : 0)) << i;
    EXPECT_EQ(objects[i].Width, before[i].Width) << i;
  }

  // The ellipse alone, resized by its bottom-right and then its top-left
  // handle: only the handle's edges move.
  Click(&panel, Center(objects[kEllipse]));
  ASSERT_EQ(panel.Surface().Selection(), (std::vector<size_t>{kEllipse}));
  Drag(&panel, QPoint(400, 240), QPoint(430, 250));
  EXPECT_EQ(RectOf(objects[kEllipse]), (TCoverRect{280, 120, 150, 130}));
  Drag(&panel, QPoint(280, 120), QPoint(270, 100));
  EXPECT_EQ(RectOf(objects[kEllipse]), (TCoverRect{270, 100, 160, 150}));
  // Its right handle with the grid on: the right edge snaps down to 8.
  panel.SetGridSize(gs8x8);
  panel.SetSnapToGrid(true);
  Drag(&panel, QPoint(430, 175), QPoint(445, 190));
  EXPECT_EQ(RectOf(objects[kEllipse]), (TCoverRect{270, 100, 440 - 270, 150}));
  panel.SetSnapToGrid(false);

  // The locked symbol stays where it is, whether dragged or resized.
  Click(&panel, Center(objects[kSymbol]));
  const TCoverRect symbol = RectOf(objects[kSymbol]);
  Drag(&panel, Center(objects[kSymbol]), Center(objects[kSymbol]) + QPoint(50, 50));
  Drag(&panel, QPoint(symbol.Right(), symbol.Bottom()), QPoint(symbol.Right() + 40, symbol.Bottom() + 40));
  EXPECT_EQ(RectOf(objects[kSymbol]), symbol);

  // Keys: the field nudged right, then grown by one with Shift.
  Click(&panel, Center(objects[kField]));
  const TCoverRect field = RectOf(objects[kField]);
  QTest::keyClick(&panel, Qt::Key_Right);
  QTest::keyClick(&panel, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(RectOf(objects[kField]), (TCoverRect{field.Left + 1, field.Top, field.Width, field.Height + 1}));

  // At zoom 2 a drag of 20 screen pixels is 10 pixels of the design.
  panel.SetZoom(2.0);
  Click(&panel, QPoint(2 * 350, 2 * 175));
  ASSERT_EQ(panel.Surface().Selection(), (std::vector<size_t>{kEllipse}));
  Drag(&panel, QPoint(2 * 350, 2 * 175), QPoint(2 * 350 + 20, 2 * 175 + 40));

  ASSERT_TRUE(SaveCoverTemplate(panel.Surface(), dir / "CV0001.FCS", "Made with the mouse"));
  EXPECT_EQ(RectOf(objects[kEllipse]), (TCoverRect{280, 120, 170, 150}));
  const std::vector<TCoverObject> saved = objects;

  TFaxCoverPanel reopened;
  reopened.show();
  const TOpenedTemplate opened = OpenCoverTemplate(reopened.Surface(), dir / "CV0001.FCS");
  ASSERT_TRUE(opened.Ok) << opened.Message;
  reopened.SurfaceReplaced();
  EXPECT_EQ(opened.Description, "Made with the mouse");
  EXPECT_EQ(reopened.Surface().Objects(), saved);
  // The same places on the screen: a click on each selectable object
  // selects that object.
  for (size_t i = 0; i < saved.size(); ++i) {
    if (saved[i].Unselectable) continue;
    Click(&reopened, Center(saved[i]));
    EXPECT_EQ(reopened.Surface().Selection(), (std::vector<size_t>{i})) << i;
  }
  // The rendering form has every object at 196 units per inch.
  const TFctReadResult fct = ReadFctFile(dir / "CV0001.FCT");
  ASSERT_EQ(fct.Records.size(), saved.size());
  for (size_t i = 0; i < saved.size(); ++i) {
    EXPECT_EQ(fct.Records[i].Kind, static_cast<int>(saved[i].Kind)) << i;
    EXPECT_EQ(fct.Records[i].Left, saved[i].Left * 196 / 96) << i;
    EXPECT_EQ(fct.Records[i].Top, saved[i].Top * 196 / 96) << i;
    EXPECT_EQ(fct.Records[i].Width, saved[i].Width * 196 / 96) << i;
    EXPECT_EQ(fct.Records[i].Height, saved[i].Height * 196 / 96) << i;
  }
  EXPECT_EQ(fct.Records[kRect].Ints[1], sftFilledBlack);
  EXPECT_EQ(fct.Records[kLine].Ints[3], lsAngleSlopingDown);
  EXPECT_EQ(fct.Records[kField].Ints[5], cfRecipientFax);
}

}  // namespace
