// The designer window driven as a user drives it: tools from the tool bar,
// objects dragged on the surface, keys, menus and the answers to its
// questions, with the template files checked on disk.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QListWidget>
#include <QSpinBox>
#include <QFontDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUndoStack>
#include <fstream>
#include <memory>
#include <set>
#include <sys/mount.h>
#include <thread>

#include "cover/CoverRenderer.h"
#include "cover/CoverTemplate.h"
#include "cover/TCoverDesMainScreen.h"
#include "cover/TCoverProperties.h"
#include "cover/TFaxCoverPanel.h"
#include "cover/TGetLabelText.h"
#include "cover/TSaveTemplateAs.h"
#include "cover/core/FcsFile.h"
#include "cover/core/FctFile.h"
#include "cover/core/TemplateFiles.h"
#include "shell/core/IniFile.h"
#include "testsupport/TempFolder.h"

namespace {

namespace fs = std::filesystem;

void Drag(QWidget* w, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
  QTest::mousePress(w, Qt::LeftButton, mods, from);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  QTest::mouseMove(w, to);
  QTest::mouseRelease(w, Qt::LeftButton, mods, to);
}

void Click(QWidget* w, QPoint at, Qt::KeyboardModifiers mods = {}) {
  QTest::mouseClick(w, Qt::LeftButton, mods, at);
}

QPoint Center(const TCoverObject& o) { return QPoint(o.Left + o.Width / 2, o.Top + o.Height / 2); }

std::string Bytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
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

// A designer on a folder of its own, whose questions are answered by the
// test and whose messages are collected.
struct Designer {
  explicit Designer(const fs::path& dir) : covers(dir / "Covers"), ini(dir / "CV.INI") {
    fs::create_directories(covers);
    Make();
  }
  void Make() {
    window = std::make_unique<TCoverDesMainScreen>(nullptr, covers, ini);
    window->Inform = [this](const QString& text) { messages << text; };
    window->Ask = [this](const QString& text, const QString& caption) {
      questions << caption + ": " + text;
      return answer;
    };
    window->AskSaveAs = [this](QString& name, QString& description) {
      proposed = {name, description};
      if (saveAs.first.isEmpty()) return false;
      name = saveAs.first;
      description = saveAs.second;
      return true;
    };
    panel().AskLabelText = [](TCoverObject& o) {
      o.Caption = "Attention";
      return true;
    };
    panel().AskSymbol = [](TCoverObject& o) {
      o.Caption = "J";
      return true;
    };
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  TFaxCoverPanel& panel() { return *window->FaxCoverPanel; }
  const std::vector<TCoverObject>& objects() { return panel().Surface().Objects(); }
  void Place(TLPanelState tool, QPoint from, QPoint to) {
    window->ToolButtons[tool]->trigger();
    ASSERT_EQ(panel().PanelState(), tool);
    Drag(&panel(), from, to);
    EXPECT_TRUE(window->ToolButtons[psPointing]->isChecked());
  }

  fs::path covers, ini;
  std::unique_ptr<TCoverDesMainScreen> window;
  QStringList messages, questions;
  bool answer = true;
  std::pair<QString, QString> saveAs, proposed;
};

TEST(CoverDesignerWindow, DrawsEveryKindAndSavesTheFourFilesAsTheNextFreeName) {
  TTempFolder dir;
  Designer d(dir.Path());
  std::ofstream(d.covers / "CV0001.FCS") << '\1' << '\0';
  EXPECT_EQ(d.window->windowTitle(), "Cover Sheet Template Designer");
  EXPECT_FALSE(d.window->SaveButton->isVisible());
  EXPECT_FALSE(d.window->Save1->isEnabled());

  // The default font through its dialog: new text objects get it.
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    QFont f("DejaVu Sans", 14);
    f.setBold(true);
    dialog->setCurrentFont(f);
    dialog->accept();
  });
  d.window->DefaultFont1->trigger();
  EXPECT_EQ(d.window->DefaultFont().Size, 14);
  EXPECT_TRUE(d.window->DefaultFont().Bold);
  EXPECT_TRUE(d.window->DefaultFont1->text().endsWith("14 pt , bold")) << d.window->DefaultFont1->text().toStdString();
  EXPECT_EQ(TIniFile(d.ini).ReadInteger("CD Default Font", "Size", 0), 14);

  d.Place(psLabel, {40, 40}, {240, 80});
  d.Place(psSymbolLabel, {300, 40}, {340, 90});
  d.Place(psRectangle, {40, 120}, {240, 220});
  d.Place(psEllipse, {280, 120}, {400, 240});
  d.Place(psRoundRectangle, {440, 120}, {600, 200});
  d.Place(psLine, {40, 260}, {90, 400});
  d.Place(psMessage, {120, 260}, {600, 500});
  d.Place(psImportance, {40, 540}, {700, 570});
  d.Place(psField, {40, 600}, {300, 630});
  ASSERT_EQ(d.objects().size(), 9u);
  EXPECT_EQ(d.objects()[0].Caption, "Attention");
  EXPECT_EQ(d.objects()[0].Font.Size, 14);
  EXPECT_TRUE(d.window->ChangesMade());
  EXPECT_TRUE(d.window->SaveButton->isVisible());
  EXPECT_TRUE(d.window->CancelButton->isVisible());
  EXPECT_EQ(d.window->SaveButton->text(), "&Save As");

  std::unique_ptr<QMenu> menu(d.panel().MakeObjectMenu(2));
  Trigger(menu.get(), "Filled - Black");
  menu.reset(d.panel().MakeObjectMenu(5));
  Trigger(menu.get(), "Style/Horizontal");
  menu.reset(d.panel().MakeObjectMenu(5));
  Trigger(menu.get(), "Line Thickness/4 Point");
  menu.reset(d.panel().MakeObjectMenu(8));
  Trigger(menu.get(), "Field/Sender Company");
  EXPECT_EQ(d.objects()[8].Caption, "[Sender Company]");
  // Moved and resized with the overlay.
  Click(&d.panel(), Center(d.objects()[3]));
  Drag(&d.panel(), Center(d.objects()[3]), Center(d.objects()[3]) + QPoint(16, 8));
  Drag(&d.panel(), QPoint(416, 248), QPoint(436, 268));
  EXPECT_EQ(RectOf(d.objects()[3]), (TCoverRect{296, 128, 140, 140}));
  const std::vector<TCoverObject> drawn = d.objects();

  // Save As proposes the next free name; the description is required.
  d.saveAs = {"CV0002.FCS", "Quarterly report"};
  d.window->SaveAs1->trigger();
  EXPECT_EQ(d.proposed.first, "CV0002.FCS");
  EXPECT_EQ(d.proposed.second, "[Description]");
  EXPECT_TRUE(d.messages.isEmpty()) << d.messages.join('\n').toStdString();
  const TTemplatePaths files = TemplatePaths(d.covers / "CV0002.FCS");
  for (const fs::path& p : {files.Fcs, files.Fct, files.Bmp, files.Des}) EXPECT_TRUE(fs::exists(p)) << p;
  const QImage preview(QString::fromStdString(files.Bmp.string()));
  EXPECT_EQ(preview.size(), QSize(816, 1056));
  EXPECT_EQ(ReadDescription(files.Des), "Quarterly report");
  EXPECT_EQ(d.window->TemplateFile(), files.Fcs);
  EXPECT_EQ(d.window->windowTitle(), "Cover Sheet Template Designer - Quarterly report");
  EXPECT_FALSE(d.window->ChangesMade());
  EXPECT_FALSE(d.window->SaveButton->isVisible());
  EXPECT_TRUE(d.window->Save1->isEnabled());
  ASSERT_FALSE(d.window->Recent().Entries().empty());
  EXPECT_EQ(d.window->Recent().Entries().front(), files.Fcs.string());
  EXPECT_EQ(TIniFile(d.ini).ReadString("CDMRU", "F0", ""), files.Fcs.string());

  // The rendering form has every object where it was drawn.
  const TFctReadResult fct = ReadFctFile(files.Fct);
  ASSERT_EQ(fct.Records.size(), drawn.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    EXPECT_EQ(fct.Records[i].Kind, static_cast<int>(drawn[i].Kind)) << i;
    EXPECT_EQ(fct.Records[i].Left, drawn[i].Left * 196 / 96) << i;
    EXPECT_EQ(fct.Records[i].Top, drawn[i].Top * 196 / 96) << i;
    EXPECT_EQ(fct.Records[i].Width, drawn[i].Width * 196 / 96) << i;
    EXPECT_EQ(fct.Records[i].Height, drawn[i].Height * 196 / 96) << i;
  }
  EXPECT_EQ(fct.Records[2].Ints[1], sftFilledBlack);
  EXPECT_EQ(fct.Records[5].Ints[2], 8);
  EXPECT_EQ(fct.Records[8].Ints[5], cfSenderCompany);
  // The black rectangle shows in the preview at 96 per inch, half an inch in.
  EXPECT_EQ(qGray(preview.pixel(48 + 140, 48 + 170)), 0);
  EXPECT_EQ(qGray(preview.pixel(48 + 140, 48 + 110)), 255);

  // And on the fax page, at 196 per inch after the half-inch margin.
  const QImage page = RenderCoverImage(files.Fct, PreviewSampleValues(), "");
  auto faxPixel = [&](int x, int y) { return qGray(page.pixel(98 + x * 196 / 96, 98 + y * 196 / 96)); };
  EXPECT_EQ(faxPixel(140, 170), 0);
  EXPECT_EQ(faxPixel(140, 110), 255);
  EXPECT_EQ(faxPixel(40 + 3, 120 + 3), 0);
  EXPECT_EQ(faxPixel(40 - 4, 120 - 4), 255);

  // A second window opens the most recent template by itself, unchanged.
  d.window->close();
  Designer again(dir.Path());
  EXPECT_EQ(again.window->TemplateFile(), files.Fcs);
  EXPECT_EQ(again.objects(), drawn);
  EXPECT_FALSE(again.window->ChangesMade());
  EXPECT_EQ(again.window->DefaultFont().Size, 14);
}

// The text and font dialogs themselves, answered as a user answers them.
TEST(CoverDesignerWindow, TextAndFontComeFromTheirDialogs) {
  TTempFolder dir;
  fs::create_directories(dir / "Covers");
  TCoverDesMainScreen w(nullptr, dir / "Covers", dir / "CV.INI");
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.ToolButtons[psLabel]->trigger();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TGetLabelText*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->Edit1->setText("To the attention of");
    dialog->OkButton->click();
  });
  Drag(w.FaxCoverPanel, {40, 40}, {300, 80});
  const auto& objects = w.FaxCoverPanel->Surface().Objects();
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].Caption, "To the attention of");
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    QFont f("DejaVu Serif", 18);
    f.setItalic(true);
    dialog->setCurrentFont(f);
    dialog->accept();
  });
  std::unique_ptr<QMenu> menu(w.FaxCoverPanel->MakeObjectMenu(0));
  Trigger(menu.get(), "Font");
  EXPECT_EQ(objects[0].Font.Size, 18);
  EXPECT_TRUE(objects[0].Font.Italic);
  EXPECT_EQ(w.UndoStack->count(), 2);
  w.UndoStack->undo();
  EXPECT_EQ(objects[0].Font.Size, 10);
  w.UndoStack->clear();
}

TEST(CoverDesignerWindow, NameRulesOfTheSaveDialog) {
  for (const char* good : {"ABC.FCS", "abc.fcs", "_x1.Fcs", "ABCDEFGH.FCS"}) EXPECT_TRUE(IsTemplateFileName(good)) << good;
  for (const char* bad : {"1ABC.FCS", "ABCDEFGHI.FCS", "ABC.FCT", ".FCS", "A-B.FCS", "AB C.FCS", "ABC.FCS.FCS", ""})
    EXPECT_FALSE(IsTemplateFileName(bad)) << bad;

  TTempFolder dir;
  std::ofstream(dir / "OLD.FCS") << '\1' << '\0';
  std::ofstream(dir / "OLD.DES") << "Old one\r\n";
  TSaveTemplateAs dialog(dir.Path(), "ABC.FCS", "A description");
  EXPECT_TRUE(dialog.OkButton->isEnabled());
  dialog.DescriptionEdit->clear();
  EXPECT_FALSE(dialog.OkButton->isEnabled());
  // Choosing an existing template copies its description.
  ASSERT_EQ(dialog.ExistingTemplates->count(), 1);
  dialog.ExistingTemplates->setCurrentRow(0);
  EXPECT_EQ(dialog.Description(), "Old one");
  EXPECT_TRUE(dialog.OkButton->isEnabled());
  for (const char* bad : {"1ABC.FCS", "ABCDEFGHI.FCS", "ABC.FCT"}) {
    dialog.FileNameEdit->setText(bad);
    EXPECT_FALSE(dialog.OkButton->isEnabled()) << bad;
  }
}

TEST(CoverDesignerWindow, KeypadZoomStopsAtFiftyAndOneHundredFiftyPercent) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {100, 100}, {200, 150});
  auto press = [&](Qt::Key key, int times) {
    for (int i = 0; i < times; ++i) QTest::keyClick(&d.panel(), key, Qt::KeypadModifier);
  };
  press(Qt::Key_Plus, 5);
  EXPECT_EQ(d.window->ZoomPercent(), 150);
  EXPECT_EQ(d.window->ZoomCaption->text(), "150%");
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{150, 150, 150, 75}));
  press(Qt::Key_Plus, 1);
  EXPECT_EQ(d.window->ZoomPercent(), 150);
  // Page keys scroll the design area instead of reaching the surface.
  QScrollBar* bar = d.window->ScrollBox->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  QTest::keyClick(&d.panel(), Qt::Key_PageDown);
  EXPECT_EQ(bar->value(), std::min(bar->maximum(), bar->pageStep()));
  QTest::keyClick(&d.panel(), Qt::Key_End);
  EXPECT_EQ(bar->value(), bar->maximum());
  QTest::keyClick(&d.panel(), Qt::Key_PageUp);
  EXPECT_EQ(bar->value(), std::max(0, bar->maximum() - bar->pageStep()));
  QTest::keyClick(&d.panel(), Qt::Key_Home);
  EXPECT_EQ(bar->value(), 0);
  press(Qt::Key_Minus, 5);
  EXPECT_EQ(d.window->ZoomCaption->text(), "100%");
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{100, 100, 100, 50}));
  press(Qt::Key_Minus, 5);
  EXPECT_EQ(d.window->ZoomPercent(), 50);
  press(Qt::Key_Minus, 1);
  EXPECT_EQ(d.window->ZoomPercent(), 50);
  EXPECT_EQ(d.window->ZoomSpinner->value(), 50);
  // The + and - of the main keyboard are not zoom keys.
  QTest::keyClick(&d.panel(), Qt::Key_Plus);
  EXPECT_EQ(d.window->ZoomPercent(), 50);
  // Zooming is no change of the template.
  EXPECT_EQ(d.window->UndoStack->count(), 1);
  // Saved at 100 % whatever the zoom.
  ASSERT_TRUE(d.window->SaveTemplateUnder(d.covers / "Z.FCS", "zoomed"));
  EXPECT_EQ(ReadFctFile(d.covers / "Z.FCT").Records.at(0).Left, 100 * 196 / 96);
  EXPECT_EQ(d.window->ZoomPercent(), 50);
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{50, 50, 50, 25}));
  // A name typed in small letters names the files written.
  d.saveAs = {"lower.fcs", "small letters"};
  ASSERT_TRUE(d.window->SaveTemplateAs());
  EXPECT_EQ(d.window->TemplateFile(), d.covers / "lower.FCS");
  EXPECT_TRUE(fs::exists(d.covers / "lower.FCS"));
  EXPECT_EQ(d.window->Recent().Entries().front(), (d.covers / "lower.FCS").string());
  // The spinner steps the same way.
  d.window->ZoomSpinner->stepUp();
  EXPECT_EQ(d.window->ZoomPercent(), 60);
  EXPECT_EQ(d.window->ZoomCaption->text(), "60%");
  fs::rename(d.covers / "lower.DES", d.covers / "lower.des");
  ASSERT_TRUE(d.window->OpenTemplate(d.covers / "lower.FCS"));
  EXPECT_EQ(d.window->Description(), "small letters");
}

TEST(CoverDesignerWindow, RecentListHasNoDoublesAndAtMostFiveEntries) {
  TTempFolder dir;
  Designer d(dir.Path());
  std::vector<fs::path> files;
  for (int i = 1; i <= 7; ++i) {
    files.push_back(d.covers / ("T" + std::to_string(i) + ".FCS"));
    TCoverSurface s;
    ASSERT_TRUE(SaveCoverTemplate(s, files.back(), "t"));
  }
  ASSERT_TRUE(d.window->OpenTemplate(files[0]));
  ASSERT_TRUE(d.window->OpenTemplate(files[1]));
  ASSERT_TRUE(d.window->OpenTemplate(files[0]));
  EXPECT_EQ(d.window->Recent().Entries(), (std::vector<std::string>{files[0].string(), files[1].string()}));
  for (const fs::path& f : files) ASSERT_TRUE(d.window->OpenTemplate(f));
  ASSERT_TRUE(d.window->OpenTemplate(files[4]));
  const std::vector<std::string> expected{files[4].string(), files[6].string(), files[5].string(),
                                          files[3].string(), files[2].string()};
  EXPECT_EQ(d.window->Recent().Entries(), expected);
  const TIniFile ini(d.ini);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(ini.ReadString("CDMRU", "F" + std::to_string(i), ""), expected[i]);
  EXPECT_FALSE(ini.Value("CDMRU", "F5"));
  // The menu lists them after Exit; a file gone since gives a message.
  QList<QAction*> actions = d.window->File1->actions();
  ASSERT_EQ(actions.size(), actions.indexOf(d.window->Exit1) + 6);
  fs::remove(files[6]);
  actions[actions.indexOf(d.window->Exit1) + 2]->trigger();
  ASSERT_EQ(d.messages.size(), 1);
  EXPECT_EQ(d.messages[0], QString::fromStdString(files[6].string()) + " no longer exists");
}

// Every step is saved once; after undoing back to the empty surface and
// redoing to the end, each step saves byte for byte the same FCS file.
TEST(CoverDesignerWindow, UndoAndRedoGiveTheSameFilesAtEveryStep) {
  TTempFolder dir;
  Designer d(dir.Path());
  const fs::path file = d.covers / "UNDO.FCS";
  std::vector<std::string> saved;
  auto save = [&] {
    EXPECT_TRUE(d.window->SaveTemplateUnder(file, "undo"));
    return Bytes(file);
  };
  saved.push_back(save());
  EXPECT_EQ(saved[0].size(), 2u);
  auto step = [&](auto&& edit) {
    const int before = d.window->UndoStack->index();
    edit();
    EXPECT_EQ(d.window->UndoStack->index(), before + 1);
    saved.push_back(save());
  };
  step([&] { d.Place(psRectangle, {40, 40}, {200, 120}); });
  step([&] { d.Place(psLabel, {300, 40}, {500, 80}); });
  step([&] { d.Place(psField, {40, 300}, {300, 330}); });
  step([&] { Drag(&d.panel(), {100, 80}, {140, 120}); });  // the rectangle, moved
  step([&] { Drag(&d.panel(), {400, 80}, {420, 110}); });  // the label's bottom handle... or its body
  step([&] {
    std::unique_ptr<QMenu> menu(d.panel().MakeObjectMenu(2));
    Trigger(menu.get(), "Field/Recipient");
  });
  step([&] { QTest::keyClick(&d.panel(), Qt::Key_Right); });
  step([&] {
    Click(&d.panel(), Center(d.objects()[0]));
    QTest::keyClick(&d.panel(), Qt::Key_Delete);
  });
  step([&] {
    Click(&d.panel(), Center(d.objects()[0]));
    QTest::keyClick(&d.panel(), Qt::Key_Left, Qt::ShiftModifier);
  });
  for (size_t i = 1; i < saved.size(); ++i) EXPECT_NE(saved[i], saved[i - 1]) << i;

  for (size_t i = saved.size() - 1; i-- > 0;) {
    QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(save(), saved[i]) << "undone to step " << i;
  }
  EXPECT_TRUE(d.objects().empty());
  EXPECT_FALSE(d.window->UndoStack->canUndo());
  for (size_t i = 1; i < saved.size(); ++i) {
    QTest::keyClick(&d.panel(), i % 2 ? Qt::Key_Y : Qt::Key_Z,
                    i % 2 ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(save(), saved[i]) << "redone to step " << i;
  }
  EXPECT_FALSE(d.window->UndoStack->canRedo());
}

TEST(CoverDesignerWindow, UndoBackToTheSavedStateClearsTheChangesFlag) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {200, 120});
  ASSERT_TRUE(d.window->SaveTemplateUnder(d.covers / "A.FCS", "a"));
  Click(&d.panel(), {100, 80});
  QTest::keyClick(&d.panel(), Qt::Key_Down);
  EXPECT_TRUE(d.window->ChangesMade());
  EXPECT_TRUE(d.window->CancelButton->isVisible());
  QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_FALSE(d.window->ChangesMade());
  EXPECT_FALSE(d.window->CancelButton->isVisible());
  // An undo made at another zoom puts the object back at that zoom's place.
  QTest::keyClick(&d.panel(), Qt::Key_Down);
  QTest::keyClick(&d.panel(), Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(&d.panel(), Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{48, 48, 192, 96}));
}

TEST(CoverDesignerWindow, ArrowsNudgeByAGridStepShiftByOnePixelCtrlResizes) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {200, 120});
  QTest::keyClick(&d.panel(), Qt::Key_Right);
  QTest::keyClick(&d.panel(), Qt::Key_Down);
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{44, 44, 160, 80}));
  QTest::keyClick(&d.panel(), Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{43, 44, 160, 80}));
  QTest::keyClick(&d.panel(), Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{43, 44, 161, 80}));
  // The surface's edge stops a nudge part-way.
  d.panel().Surface().Object(0).Left = 2;
  QTest::keyClick(&d.panel(), Qt::Key_Left);
  EXPECT_EQ(d.objects()[0].Left, 0);
  // Nothing selected: nothing moves and nothing is recorded.
  Click(&d.panel(), {700, 900});
  const int steps = d.window->UndoStack->count();
  QTest::keyClick(&d.panel(), Qt::Key_Right);
  EXPECT_EQ(d.window->UndoStack->count(), steps);
}

TEST(CoverDesignerWindow, CopyAndPasteBetweenTwoWindowsOffsetByAGridStep) {
  TTempFolder dir1, dir2;
  Designer a(dir1.Path()), b(dir2.Path());
  a.Place(psEllipse, {40, 40}, {200, 120});
  a.Place(psLabel, {300, 40}, {500, 80});
  Drag(&a.panel(), {10, 10}, {600, 200});  // both
  QTest::keyClick(&a.panel(), Qt::Key_C, Qt::ControlModifier);
  QTest::keyClick(&b.panel(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(b.objects().size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    TCoverObject expected = a.objects()[i];
    expected.Left += 4;
    expected.Top += 4;
    expected.Name = b.objects()[i].Name;
    EXPECT_EQ(b.objects()[i], expected) << i;
  }
  EXPECT_EQ(b.panel().Surface().Selection(), (std::vector<size_t>{0, 1}));
  EXPECT_TRUE(b.window->ChangesMade());
  QApplication::setActiveWindow(b.window.get());
  QTest::keyClick(&b.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(b.objects().empty());

  // Cut takes them away in one step that undo brings back.
  QApplication::setActiveWindow(a.window.get());
  QTest::keyClick(&a.panel(), Qt::Key_X, Qt::ControlModifier);
  EXPECT_TRUE(a.objects().empty());
  QTest::keyClick(&a.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(a.objects().size(), 2u);
  // Pasting text that is not ours changes nothing.
  QApplication::clipboard()->setText("just text");
  QTest::keyClick(&b.panel(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_TRUE(b.objects().empty());
}

TEST(CoverDesignerWindow, AlignAndDistributeTheSelection) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {100, 80});
  d.Place(psRectangle, {300, 60}, {340, 100});
  d.Place(psRectangle, {150, 200}, {250, 220});
  d.panel().Surface().SelectAll();
  d.window->DistributeSelection(Qt::Horizontal);
  // Widths 60, 100, 40 between 40 and 340: gaps of 50.
  EXPECT_EQ(d.objects()[2].Left, 150);
  d.panel().Surface().Object(2).Left = 111;
  d.window->DistributeSelection(Qt::Horizontal);
  EXPECT_EQ(d.objects()[2].Left, 150);
  d.window->AlignSelection(TAlign::Tops);
  for (const TCoverObject& o : d.objects()) EXPECT_EQ(o.Top, 40);
  QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(d.objects()[2].Top, 200);
}

TEST(CoverDesignerWindow, PropertiesFollowTheSelectionAndEditItAsOneStep) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {100, 80});
  d.Place(psLabel, {200, 200}, {300, 240});
  TCoverProperties& props = *d.window->Properties;
  QApplication::processEvents();
  EXPECT_EQ(props.LeftEdit->value(), 200);
  EXPECT_EQ(props.CaptionEdit->text(), "Attention");
  props.CaptionEdit->setText("Urgent notice");
  emit props.CaptionEdit->editingFinished();
  EXPECT_EQ(d.objects()[1].Caption, "Urgent notice");
  props.WidthEdit->setValue(2);  // below the smallest size
  EXPECT_EQ(d.objects()[1].Width, 5);
  props.TopEdit->setValue(300);
  EXPECT_EQ(d.objects()[1].Top, 300);
  QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(d.objects()[1].Top, 200);
  EXPECT_EQ(props.TopEdit->value(), 200);
  // A locked object keeps its place; the rectangle has no text.
  props.LockedBox->setChecked(true);
  props.LeftEdit->setValue(10);
  EXPECT_EQ(d.objects()[1].Left, 200);
  Click(&d.panel(), {70, 60});
  QApplication::processEvents();
  EXPECT_EQ(props.LeftEdit->value(), 40);
  EXPECT_FALSE(props.CaptionEdit->isEnabled());
  Drag(&d.panel(), {10, 10}, {400, 400});
  QApplication::processEvents();
  EXPECT_FALSE(props.LeftEdit->isEnabled());
}

TEST(CoverDesignerWindow, DamagedTemplateGivesTheMessageAndAnEmptySurface) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {100, 80});
  ASSERT_TRUE(d.window->SaveTemplateUnder(d.covers / "GOOD.FCS", "good"));
  const fs::path bad = d.covers / "BAD.FCS";
  std::ofstream(bad, std::ios::binary) << "\x01TPF0\x0eTFaxCoverShapes\xff garbage";
  EXPECT_FALSE(d.window->OpenTemplate(bad));
  ASSERT_EQ(d.messages.size(), 1);
  EXPECT_EQ(d.messages[0].toStdString(), UnableToOpenMessage(bad.string()));
  EXPECT_TRUE(d.objects().empty());
  EXPECT_TRUE(d.window->TemplateFile().empty());
  EXPECT_TRUE(d.window->Description().empty());
  EXPECT_EQ(d.window->windowTitle(), "Cover Sheet Template Designer");
  EXPECT_FALSE(d.window->ChangesMade());
  EXPECT_EQ(d.window->Recent().Entries().front(), (d.covers / "GOOD.FCS").string());
}

TEST(CoverDesignerWindow, FailedSaveSaysSoAndLeavesThePreviousFiles) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {100, 80});
  const TTemplatePaths files = TemplatePaths(d.covers / "KEEP.FCS");
  ASSERT_TRUE(d.window->SaveTemplateUnder(files.Fcs, "kept"));
  std::vector<std::string> before;
  for (const fs::path& p : {files.Fcs, files.Fct, files.Bmp, files.Des}) before.push_back(Bytes(p));

  // Something in the way of the preview's temporary file: the FCS and FCT
  // were written aside already and must not replace the old ones.
  d.Place(psEllipse, {200, 200}, {300, 300});
  fs::create_directory(d.covers / "~KEEP-saving.bmp");
  EXPECT_FALSE(d.window->SaveTemplateUnder(files.Fcs, "changed"));
  ASSERT_EQ(d.messages.size(), 1);
  EXPECT_TRUE(d.messages[0].startsWith("Unable to save ")) << d.messages[0].toStdString();
  size_t i = 0;
  for (const fs::path& p : {files.Fcs, files.Fct, files.Bmp, files.Des}) EXPECT_EQ(Bytes(p), before[i++]) << p;
  EXPECT_TRUE(d.window->ChangesMade());
  fs::remove(d.covers / "~KEEP-saving.bmp");
  for (const auto& entry : fs::directory_iterator(d.covers))
    EXPECT_NE(entry.path().filename().string()[0], '~') << entry.path();

  // A template made read-only is opened but not overwritten.
  fs::permissions(files.Fct, fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
  ASSERT_TRUE(d.window->OpenTemplate(files.Fcs));
  d.Place(psEllipse, {200, 200}, {300, 300});
  EXPECT_FALSE(d.window->SaveTemplate());
  ASSERT_EQ(d.messages.size(), 2);
  EXPECT_TRUE(d.messages[1].contains("read-only")) << d.messages[1].toStdString();
  i = 0;
  for (const fs::path& p : {files.Fcs, files.Fct, files.Bmp, files.Des}) EXPECT_EQ(Bytes(p), before[i++]) << p;
  d.messages.removeLast();

  // The folder removed under the window.
  fs::remove_all(d.covers);
  EXPECT_FALSE(d.window->SaveTemplate());
  ASSERT_EQ(d.messages.size(), 2);
  EXPECT_TRUE(d.messages[1].contains("does not exist")) << d.messages[1].toStdString();
  EXPECT_TRUE(d.window->ChangesMade());
  EXPECT_EQ(d.objects().size(), 2u);
}

// A full disk, made with a small memory file system where the test may
// mount one (as root); skipped elsewhere.
TEST(CoverDesignerWindow, SaveOnAFullDiskSaysSoAndLeavesThePreviousFiles) {
  TTempFolder dir;
  const fs::path disk = dir / "disk";
  fs::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a small file system";
  struct Unmount {
    fs::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{disk};
  Designer d(disk);
  d.Place(psRectangle, {40, 40}, {100, 80});
  const TTemplatePaths files = TemplatePaths(d.covers / "FULL.FCS");
  ASSERT_TRUE(d.window->SaveTemplateUnder(files.Fcs, "before"));
  std::vector<std::string> before;
  for (const fs::path& p : {files.Fcs, files.Fct, files.Bmp, files.Des}) before.push_back(Bytes(p));
  {
    // Fill the disk up to a few kilobytes.
    std::ofstream filler(disk / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  std::error_code ec;
  fs::resize_file(disk / "filler", fs::file_size(disk / "filler") - 8192, ec);
  d.Place(psEllipse, {200, 200}, {300, 300});
  EXPECT_FALSE(d.window->SaveTemplateUnder(files.Fcs, "after"));
  ASSERT_EQ(d.messages.size(), 1);
  EXPECT_TRUE(d.messages[0].contains("disk full")) << d.messages[0].toStdString();
  size_t i = 0;
  for (const fs::path& p : {files.Fcs, files.Fct, files.Bmp, files.Des}) EXPECT_EQ(Bytes(p), before[i++]) << p;
  for (const auto& entry : fs::directory_iterator(d.covers))
    EXPECT_NE(entry.path().filename().string()[0], '~') << entry.path();
}

TEST(CoverDesignerWindow, SaveReplacesOldFilesOfAnyLetterCase) {
  TTempFolder dir;
  for (const char* old : {"OLD.fcs", "old.fct", "OLD.BMP", "Old.des"}) TTempFolder::WriteFile(dir / old, "old");
  TCoverSurface surface;
  surface.Add(MakeCoverObject(TCoverObjectKind::ckText));
  ASSERT_TRUE(SaveCoverTemplate(surface, dir / "OLD.FCS", "new"));
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"OLD.FCS", "OLD.FCT", "OLD.bmp", "OLD.DES"}));
  EXPECT_EQ(ReadDescription(dir / "OLD.DES"), "new");
}

TEST(CoverDesignerWindow, ClosingAsksToSaveAndAFailedSaveKeepsTheWindow) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {100, 80});
  // Yes, but the Save As dialog is cancelled: the window stays.
  d.answer = true;
  EXPECT_FALSE(d.window->close());
  EXPECT_EQ(d.questions, QStringList{"Save: Save changes?"});
  EXPECT_TRUE(d.window->isVisible());
  // Yes with a name: saved, then closed.
  d.saveAs = {"CLOSED.FCS", "on closing"};
  EXPECT_TRUE(d.window->close());
  EXPECT_TRUE(fs::exists(d.covers / "CLOSED.FCT"));
  // No: closed without saving.
  d.Make();
  d.Place(psRectangle, {200, 200}, {300, 300});
  d.answer = false;
  d.questions.clear();
  EXPECT_TRUE(d.window->close());
  EXPECT_EQ(d.questions.size(), 1);
  EXPECT_EQ(ReadFcsFile(d.covers / "CLOSED.FCS").Objects.size(), 1u);
}

TEST(CoverDesignerWindow, DeleteRemovesAllFourFilesAndCancelReloads) {
  TTempFolder dir;
  Designer d(dir.Path());
  d.Place(psRectangle, {40, 40}, {100, 80});
  ASSERT_TRUE(d.window->SaveTemplateUnder(d.covers / "GONE.FCS", "gone"));
  d.Place(psEllipse, {200, 200}, {300, 300});
  d.window->CancelChanges();
  EXPECT_EQ(d.questions.back(), "CANCEL: Cancel all changes?");
  EXPECT_EQ(d.objects().size(), 1u);
  EXPECT_FALSE(d.window->ChangesMade());

  d.window->ChooseFileToDelete = [&] { return d.covers / "GONE.FCT"; };
  d.window->DeleteTemplate();
  EXPECT_EQ(d.messages.back(), "Must be a FCS (Fax Cover Template) file");
  EXPECT_TRUE(fs::exists(d.covers / "GONE.FCT"));
  fs::rename(d.covers / "GONE.bmp", d.covers / "gone.BMP");
  d.window->ChooseFileToDelete = [&] { return d.covers / "GONE.FCS"; };
  d.answer = false;
  d.window->DeleteTemplate();
  EXPECT_TRUE(fs::exists(d.covers / "GONE.FCS"));
  d.answer = true;
  d.window->DeleteTemplate();
  EXPECT_EQ(d.questions.back(), "CONFIRM: Delete " + QString::fromStdString((d.covers / "GONE.FCS").string()) + "?");
  EXPECT_TRUE(fs::is_empty(d.covers));
  EXPECT_TRUE(d.window->TemplateFile().empty());
}

TEST(CoverDesignerWindow, FiveThousandObjectsStaySelectableMovableAndUndoable) {
  TTempFolder dir;
  Designer d(dir.Path());
  std::vector<TCoverObject> many;
  for (int i = 0; i < 5000; ++i) {
    TCoverObject o = MakeCoverObject(TCoverObjectKind::ckShape);
    o.Left = (i % 50) * 15;
    o.Top = (i / 50) * 9;
    o.Width = 30;
    o.Height = 16;
    many.push_back(o);
  }
  d.panel().Surface().Load(many);
  d.panel().SurfaceReplaced();
  d.panel().Changed();
  const auto start = std::chrono::steady_clock::now();
  Click(&d.panel(), {12, 8});
  ASSERT_EQ(d.panel().Surface().Selection(), (std::vector<size_t>{0}));
  Drag(&d.panel(), {12, 8}, {412, 808});
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{400, 800, 30, 16}));
  QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(RectOf(d.objects()[0]), (TCoverRect{0, 0, 30, 16}));
  QTest::keyClick(&d.panel(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(d.objects().empty());
  // Generous, for a loaded machine: what matters is that it does not crawl.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
