// The design surface widget driven by mouse and keys as a user would: tools
// place objects, drags move and resize with the grid, the rubber band
// selects, popup menus carry their items and edit the object.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QRegion>
#include <QTest>
#include <thread>

#include "cover/TFaxCoverPanel.h"
#include "cover/TGetSymbol.h"
#include "cover/TGetLabelText.h"

#include <QLineEdit>
#include <QTableWidget>

namespace {

QStringList Texts(const QMenu* menu) {
  QStringList t;
  for (const QAction* a : menu->actions()) t << (a->isSeparator() ? "-" : a->text());
  return t;
}

QAction* Find(QMenu* menu, const QString& path) {
  QMenu* current = menu;
  const QStringList parts = path.split('/');
  for (int i = 0; i < parts.size(); ++i)
    for (QAction* a : current->actions())
      if (a->text() == parts[i]) {
        if (i + 1 == parts.size()) return a;
        current = a->menu();
        break;
      }
  return nullptr;
}

// A drag with the button held past the panel's start delay.
void Drag(QWidget* w, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
  QTest::mousePress(w, Qt::LeftButton, mods, from);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  QTest::mouseMove(w, to);
  QTest::mouseRelease(w, Qt::LeftButton, mods, to);
}

TEST(TFaxCoverPanel, ToolsPlaceObjectsAndReturnToThePointer) {
  TFaxCoverPanel panel;
  panel.show();
  int changes = 0;
  panel.LabelChangedEvent = [&] { ++changes; };
  panel.SetPanelState(psRectangle);
  QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(100, 120));
  ASSERT_EQ(panel.Surface().Objects().size(), 1u);
  EXPECT_EQ(RectOf(panel.Surface().Objects()[0]), (TCoverRect{100, 120, 50, 15}));
  EXPECT_EQ(panel.PanelState(), psPointing);
  EXPECT_EQ(changes, 1);

  panel.AskLabelText = [](TCoverObject& o) {
    o.Caption = "Hello";
    return true;
  };
  QRect dropped;
  panel.DroppedObjectEvent = [&](const QRect& r) { dropped = r; };
  panel.SetPanelState(psLabel);
  Drag(&panel, QPoint(300, 300), QPoint(200, 250));
  EXPECT_EQ(dropped, QRect(200, 250, 100, 50));
  EXPECT_EQ(panel.Surface().Objects()[1].Caption, "Hello");
  EXPECT_TRUE(panel.Surface().IsSelected(1));
  // What was placed is painted.
  const QImage shot = panel.grab().toImage();
  EXPECT_LT(qGray(shot.pixel(100, 120)), 128);
}

TEST(TFaxCoverPanel, DragsMoveWithTheGridAndResizeByHandles) {
  TFaxCoverPanel panel;
  panel.show();
  panel.Surface().PanelState = psRectangle;
  (void)panel.Surface().PlaceObject({0, 0, 100, 80});
  panel.SetGridSize(gs8x8);
  panel.SetSnapToGrid(true);
  EXPECT_EQ(panel.Handle().GridX, 8);
  Drag(&panel, QPoint(50, 40), QPoint(71, 40));
  EXPECT_EQ(panel.Surface().Objects()[0].Left, 16);
  panel.SetSnapToGrid(false);
  Drag(&panel, QPoint(116, 80), QPoint(1, 1));  // the bottom-right handle, far past the top-left
  EXPECT_EQ(RectOf(panel.Surface().Objects()[0]), (TCoverRect{16, 0, 5, 5}));
  // The rubber band on the empty surface selects what it touches.
  panel.Surface().ClearSelection();
  Drag(&panel, QPoint(400, 400), QPoint(10, 2));
  EXPECT_EQ(panel.Surface().Selection(), (std::vector<size_t>{0}));
}

TEST(TFaxCoverPanel, KeysDeleteCopyAndPaste) {
  TFaxCoverPanel panel;
  panel.show();
  panel.Surface().PanelState = psEllipse;
  (void)panel.Surface().PlaceObject({40, 40, 60, 60});
  QTest::keyClick(&panel, Qt::Key_C, Qt::ControlModifier);
  QTest::keyClick(&panel, Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(panel.Surface().Objects().size(), 2u);
  EXPECT_EQ(panel.Surface().Objects()[1].Left, 55);
  QTest::keyClick(&panel, Qt::Key_Right);
  EXPECT_EQ(panel.Surface().Objects()[1].Left, 56);
  QTest::keyClick(&panel, Qt::Key_Delete);
  EXPECT_EQ(panel.Surface().Objects().size(), 1u);
}

TEST(TFaxCoverPanel, PopupMenusCarryTheirItemsAndEditTheObject) {
  TFaxCoverPanel panel;
  TCoverSurface& s = panel.Surface();
  s.PanelState = psField;
  (void)s.PlaceObject({0, 0, 100, 20});
  s.PanelState = psRoundRectangle;
  (void)s.PlaceObject({0, 100, 100, 100});
  s.PanelState = psLine;
  (void)s.PlaceObject({300, 100, 20, 100});

  std::unique_ptr<QMenu> field(panel.MakeObjectMenu(0));
  EXPECT_EQ(Texts(field.get()),
            (QStringList{"Bring To Front", "Send To Back", "Cut", "Copy", "Delete", "Clone", "-", "Locked",
                         "Unselectable", "-", "Center Vertically", "Center Horizontally", "-", "Font", "Field"}));
  Find(field.get(), "Field/Sender Company")->trigger();
  EXPECT_EQ(s.Objects()[0].Caption, "[Sender Company]");

  std::unique_ptr<QMenu> shape(panel.MakeObjectMenu(1));
  EXPECT_EQ(Texts(shape.get()).mid(12), (QStringList{"-", "Line Thickness", "-", "Transparent", "Filled - White",
                                                      "Filled - Black", "-", "Degree of Rounding"}));
  Find(shape.get(), "Line Thickness/4 Point")->trigger();
  Find(shape.get(), "Filled - Black")->trigger();
  Find(shape.get(), "Degree of Rounding/60 %")->trigger();
  EXPECT_EQ(s.Objects()[1].Pen, 4);
  EXPECT_EQ(s.Objects()[1].ShapeFilltype, sftFilledBlack);
  EXPECT_EQ(s.Objects()[1].RoundPerc, 60);

  std::unique_ptr<QMenu> line(panel.MakeObjectMenu(2));
  EXPECT_EQ(Texts(line.get()).mid(12), (QStringList{"-", "Style", "Line Thickness", "-", "Stretch To Edges"}));
  Find(line.get(), "Stretch To Edges")->trigger();
  EXPECT_EQ(s.Objects()[2].Top, 0);
  EXPECT_EQ(s.Objects()[2].Height, TCoverSurface::kBaseHeight);
  Find(line.get(), "Locked")->trigger();
  EXPECT_TRUE(s.Objects()[2].Locked);

  std::unique_ptr<QMenu> surface(panel.MakeSurfaceMenu());
  EXPECT_EQ(Texts(surface.get()),
            (QStringList{"Bring To Front", "Send To Back", "-", "Cut", "Copy", "Paste", "-", "Delete", "-",
                         "Align Left", "Align Right", "Align Tops", "Align Bottoms", "-", "Center Vertically",
                         "Center Horizontally", "-", "Lock All", "Unlock All", "-", "Mark All Selectable",
                         "Mark All Unselectable", "Select All", "-", "Font"}));
  Find(surface.get(), "Unlock All")->trigger();
  EXPECT_FALSE(s.Objects()[2].Locked);
}

int NonWhite(const QImage& shot, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) n += shot.pixel(x, y) != qRgb(255, 255, 255);
  return n;
}

TEST(TFaxCoverPanel, BackgroundPicturesOutlineShapesAndPrinting) {
  TFaxCoverPanel panel;
  panel.resize(panel.sizeHint());
  QImage plain(100, 60, QImage::Format_Mono);
  plain.fill(0);
  panel.SetPicture(plain);
  QImage shot = panel.grab().toImage();
  EXPECT_EQ(shot.pixel(99, 59), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(100, 60), qRgb(255, 255, 255));
  // The picture grows with the zoom like the objects on it.
  panel.SetZoom(2.0);
  shot = panel.grab().toImage();
  EXPECT_EQ(shot.pixel(199, 119), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(200, 120), qRgb(255, 255, 255));
  panel.SetZoom(1.0);
  QImage colour(40, 40, QImage::Format_RGB32);
  colour.fill(qRgb(200, 0, 0));
  panel.SetColorPicture(colour);
  shot = panel.grab().toImage();
  EXPECT_EQ(shot.pixel(20, 20), qRgb(200, 0, 0));
  EXPECT_EQ(shot.pixel(60, 50), qRgb(255, 255, 255));  // the plain picture is not drawn under it
  panel.SetColorPicture(QImage());
  panel.SetPicture(QImage());

  // The dotted outline in the surface's shape: an ellipse leaves the corners
  // white.
  panel.SetDrawOutline(true);
  const QRect corner(0, 0, 12, 12);
  EXPECT_GT(NonWhite(panel.grab().toImage(), corner), 0);
  panel.SetShape(lsEllipse);
  EXPECT_EQ(NonWhite(panel.grab().toImage(), corner), 0);
  const QRect midLeft(0, panel.height() / 2 - 6, 3, 12);
  EXPECT_GT(NonWhite(panel.grab().toImage(), midLeft), 0);

  // Printing draws the objects alone: no grid, outline or overlay.
  panel.Surface().PanelState = psRectangle;
  (void)panel.Surface().PlaceObject({200, 200, 100, 100});
  panel.SetShowGrid(true);
  const QRect overlayAndGrid(190, 190, 8, 8);
  EXPECT_GT(NonWhite(panel.grab().toImage(), overlayAndGrid), 0);
  panel.SetPrinting(true);
  shot = panel.grab().toImage();
  EXPECT_EQ(NonWhite(shot, overlayAndGrid), 0);
  EXPECT_EQ(NonWhite(shot, midLeft), 0);
  EXPECT_EQ(shot.pixel(200, 250), qRgb(0, 0, 0));  // the rectangle itself
}

// The surface shows captions as the page will: one line cut at the box,
// where only the message box wraps its words.
TEST(TFaxCoverPanel, OnlyTheMessageBoxWrapsItsCaption) {
  TFaxCoverPanel panel;
  panel.resize(panel.sizeHint());
  for (TLPanelState tool : {psLabel, psMessage}) {
    panel.Surface().Clear();
    panel.AskLabelText = nullptr;
    panel.Surface().PanelState = tool;
    const size_t i = panel.Surface().PlaceObject({100, 100, 120, 200});
    panel.Surface().Object(i).Caption = "Several words that cannot fit on one line";
    panel.Surface().ClearSelection();
    const QImage shot = panel.grab().toImage();
    EXPECT_EQ(NonWhite(shot, QRect(100, 118, 120, 100)) > 0, tool == psMessage) << tool;
    EXPECT_GT(NonWhite(shot, QRect(100, 100, 120, 16)), 0) << tool;
    EXPECT_EQ(NonWhite(shot, QRect(221, 95, 100, 60)), 0) << tool;
  }
}

TEST(TFaxCoverPanel, SymbolsAreChosenFromTheFontsCharacters) {
  TFaxCoverPanel panel;
  panel.AskSymbol = [](TCoverObject& o) {
    TGetSymbol dialog(QFont("Liberation Sans", 12), QString::fromStdString(o.Caption));
    EXPECT_EQ(dialog.Symbol(), "[");  // the current character is chosen at the start
    dialog.SymbolGrid->setCurrentCell(0, 0);
    EXPECT_EQ(dialog.Symbol(), "!");
    o.Caption = dialog.Symbol().toStdString();
    return true;
  };
  panel.SetPanelState(psSymbolLabel);
  QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_EQ(panel.Surface().Objects().size(), 1u);
  EXPECT_EQ(panel.Surface().Objects()[0].Caption, "!");
  std::unique_ptr<QMenu> menu(panel.MakeObjectMenu(0));
  EXPECT_EQ(menu->actions().back()->text(), "Symbol Selector");

  TGetLabelText text("old");
  EXPECT_EQ(text.windowTitle(), "Text");
  text.Edit1->setText("new");
  EXPECT_EQ(text.Text(), "new");
}

}  // namespace

// While an object is dragged only its old and new places are painted again,
// each with the room its pen needs; the rest of the surface is left alone.
TEST(TFaxCoverPanelPainting, DraggingRepaintsTheOldAndNewPlacesOnly) {
  TFaxCoverPanel panel;
  panel.SetShowGrid(true);
  for (int i = 0; i < 60; ++i) {
    TCoverObject o = MakeCoverObject(i % 2 ? TCoverObjectKind::ckLine : TCoverObjectKind::ckText);
    o.Left = (i % 6) * 120;
    o.Top = (i / 6) * 90;
    o.Width = 110;
    o.Height = 40;
    o.Pen = 10;  // a horizontal line 10 wide reaches 5 above its rectangle
    o.Caption = "Object " + std::to_string(i);
    panel.Surface().Add(o);
  }
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  struct Spy : QObject {
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
      return false;
    }
  } spy;
  panel.installEventFilter(&spy);
  const size_t line = 19;
  const QPoint start(120 + 55, 90 * 3 + 20);
  QTest::mouseClick(&panel, Qt::LeftButton, {}, start);
  ASSERT_EQ(panel.Surface().Selection(), (std::vector<size_t>{line}));
  QTest::mousePress(&panel, Qt::LeftButton, {}, start);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  QApplication::processEvents();
  auto reach = [&] {
    const TCoverObject& o = panel.Surface().Objects()[line];
    return QRegion(QRect(o.Left, o.Top, o.Width, o.Height).adjusted(-6, -6, 6, 6));
  };
  for (int step = 1; step <= 10; ++step) {
    const QRegion before = reach();
    spy.painted = QRegion();
    QTest::mouseMove(&panel, start + QPoint(step * 13, step * 7));
    QApplication::processEvents();
    EXPECT_TRUE((before - spy.painted).isEmpty()) << step;
    EXPECT_TRUE((reach() - spy.painted).isEmpty()) << step;
    const QRect all = spy.painted.boundingRect();
    EXPECT_LT(all.width() * all.height(), panel.width() * panel.height() / 8) << step;
  }
  QTest::mouseRelease(&panel, Qt::LeftButton, {}, start + QPoint(130, 70));
}
