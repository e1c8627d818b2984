#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "mainscreen/CommandStates.h"
#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "testsupport/TempFolder.h"

namespace {

TEST(CommandStatesTest, OutgoingTab) {
  const TListState none;
  TCommandStates s = ComputeCommandStates(TFaxTab::Outgoing, none, none);
  EXPECT_TRUE(s.New && s.Sort);
  EXPECT_FALSE(s.Send || s.Delete || s.Edit || s.View || s.Clone || s.AddCover || s.Archive || s.Print || s.Forward);
  EXPECT_FALSE(s.OutgoingListEnabled || s.ReceivedListEnabled);

  s = ComputeCommandStates(TFaxTab::Outgoing, {true, false, false}, none);
  EXPECT_TRUE(s.Send && s.Delete && s.Edit && s.View && s.Clone && s.AddCover && s.Archive && s.Print);
  EXPECT_FALSE(s.Forward || s.ArchiveReadsUnarchive);
  EXPECT_TRUE(s.OutgoingListEnabled);

  s = ComputeCommandStates(TFaxTab::Outgoing, {true, true, true}, none);
  EXPECT_FALSE(s.AddCover);
  EXPECT_TRUE(s.ArchiveReadsUnarchive);
}

TEST(CommandStatesTest, ReceivedTab) {
  const TListState row{true, false, true};
  TCommandStates s = ComputeCommandStates(TFaxTab::Received, row, row);
  EXPECT_FALSE(s.New || s.Clone || s.AddCover || s.Send);
  EXPECT_TRUE(s.Sort && s.Edit && s.Delete && s.View && s.Print && s.Archive && s.Forward);
  EXPECT_TRUE(s.ArchiveReadsUnarchive);
  s = ComputeCommandStates(TFaxTab::Received, row, {});
  EXPECT_FALSE(s.Edit || s.Delete || s.View || s.Forward || s.Archive);
  EXPECT_TRUE(s.Sort);
}

class MainScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
  }
  TTempFolder temp_;
  std::filesystem::path home_ = temp_ / "home";  // made by the window
};

TEST_F(MainScreenTest, FreshFolderShowsOnlyTheAlwaysUsableCommands) {
  TMainScreen w;
  EXPECT_EQ(w.windowTitle(), "Corvane");
  EXPECT_TRUE(std::filesystem::is_directory(home_ / "SEND"));
  EXPECT_TRUE(w.FirstRun());
  for (QPushButton* b : {w.NewButton, w.SortButton, w.ReceiveButton, w.PreferencesButton, w.ProblemSolverButton,
                         w.ExitButton})
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  for (QPushButton* b : {w.AddCoverButton, w.EditButton, w.DeleteButton, w.PrintButton, w.ViewButton, w.SendButton})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  for (QAction* a : {w.Edit1, w.Clone1, w.Delete1, w.Archive1, w.ForwardReceivedFax1, w.Print1, w.SendFax1,
                     w.ViewPrintFax1})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_FALSE(w.FaxGrid->isEnabled());
  EXPECT_EQ(w.ListFilter(), ".not. archived");
}

TEST_F(MainScreenTest, TabsSwitchPagesAndArchivedFilterToggles) {
  TMainScreen w;
  w.TabSet1->setCurrentIndex(1);
  EXPECT_EQ(w.Notebook1->currentIndex(), 1);
  EXPECT_EQ(w.CurrentTab(), TFaxTab::Received);
  EXPECT_FALSE(w.NewButton->isEnabled());
  QKeyEvent ctrlTab(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier);
  QApplication::sendEvent(&w, &ctrlTab);
  EXPECT_EQ(w.CurrentTab(), TFaxTab::Outgoing);
  w.ShowArchivedFaxes1->trigger();
  EXPECT_TRUE(w.ListFilter().isEmpty());
  w.ShowArchivedFaxes1->trigger();
  EXPECT_EQ(w.ListFilter(), ".not. ARCHIVED");
}

}  // namespace
