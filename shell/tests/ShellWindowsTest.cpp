#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QFrame>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "shell/TStartingFaxForm.h"
#include "shell/core/Settings.h"

namespace {

TEST(PlacementTest, SectionNamesCarryTheDpiAboveNinetySix) {
  EXPECT_EQ(PlacementSection("TMainScreen", 96), "TMainScreen_Placement");
  EXPECT_EQ(PlacementSection("TMainScreen", 72), "TMainScreen_Placement");
  EXPECT_EQ(PlacementSection("TMainScreen", 120), "TMainScreen_Placement120");
}

TEST(PlacementTest, StoredRectanglesAreMovedBackOnScreen) {
  // Left=-50, Right=550 comes back at Left=1, Right=601.
  QRect r = ClampPlacement(QRect(-50, 10, 600, 400), 1024, 768);
  EXPECT_EQ(r.left(), 1);
  EXPECT_EQ(r.left() + r.width(), 601);
  // Beyond the right edge: moved left so Right equals the screen width.
  r = ClampPlacement(QRect(900, 10, 300, 200), 1024, 768);
  EXPECT_EQ(r.left() + r.width(), 1024);
  EXPECT_EQ(r.left(), 724);
  // Wider than the screen: pulled in, then pushed to Left=1.
  r = ClampPlacement(QRect(100, 0, 2000, 200), 1024, 768);
  EXPECT_EQ(r.left(), 1);
  EXPECT_EQ(r.width(), 2000);
  // The same vertically.
  r = ClampPlacement(QRect(0, 700, 100, 200), 1024, 768);
  EXPECT_EQ(r.top() + r.height(), 768);
  r = ClampPlacement(QRect(0, -30, 100, 200), 1024, 768);
  EXPECT_EQ(r.top(), 1);
  // Already on screen: untouched.
  EXPECT_EQ(ClampPlacement(QRect(10, 20, 300, 200), 1024, 768), QRect(10, 20, 300, 200));
}

TEST(PlacementTest, CentringRoundsTowardZero) {
  EXPECT_EQ(CentredOver(QRect(100, 100, 400, 300), QSize(201, 101)).topLeft(), QPoint(199, 199));
  // Larger than the main window: above and left of it.
  EXPECT_EQ(CentredOver(QRect(100, 100, 400, 300), QSize(601, 501)).topLeft(), QPoint(0, 0));
  EXPECT_EQ(CentredOver(QRect(0, 0, 100, 100), QSize(103, 103)).topLeft(), QPoint(-1, -1));
}

// A dialog centred before it is first shown is centred at the size its
// layout gives it, not at the default size of a new widget.
TEST(PlacementTest, AWindowNotYetShownIsCentredAtItsLayoutSize) {
  QWidget main;
  main.setGeometry(100, 100, 800, 600);
  SetApplicationWindow(&main);
  QDialog dialog(&main);
  auto* layout = new QVBoxLayout(&dialog);
  auto* box = new QFrame(&dialog);
  box->setFixedSize(300, 200);
  layout->addWidget(box);
  CentreForm(&dialog);
  dialog.show();
  const QRect placed(dialog.pos(), dialog.size());
  EXPECT_NEAR(placed.center().x(), main.frameGeometry().center().x(), 1);
  EXPECT_NEAR(placed.center().y(), main.frameGeometry().center().y(), 1);
  SetApplicationWindow(nullptr);
}

TEST(HelpTest, EveryTopicTheWindowsUseHasAPage) {
  for (int topic : {HelpTopic::Contents, HelpTopic::Faq, HelpTopic::TechnicalSupport, HelpTopic::SendWindow,
                    HelpTopic::FaxInformation, HelpTopic::PhoneBook, HelpTopic::PhoneBookEditor, HelpTopic::Viewer,
                    HelpTopic::Preferences, HelpTopic::CoverSheetEditor, HelpTopic::TemplateChooser,
                    HelpTopic::DeleteFax, HelpTopic::Cleanup, HelpTopic::PreferencesSending,
                    HelpTopic::PreferencesDialing})
    EXPECT_FALSE(HelpTopicPage("/any/where/CV.hlp", topic).isEmpty()) << topic;
  EXPECT_FALSE(HelpTopicPage("/x/FAXPS.HLP", HelpTopic::ProblemSolver).isEmpty());
  EXPECT_TRUE(HelpTopicPage("/x/CV.hlp", 4242).isEmpty());
  EXPECT_TRUE(HelpTopicPage("/x/other.hlp", 1009).isEmpty());
  QFile page(HelpTopicPage("cv.HLP", HelpTopic::Contents));
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  EXPECT_TRUE(page.readAll().contains("Corvane"));
}

TEST(HelpTest, ProblemSolverKeepsTheApplicationHelpFile) {
  SetApplicationHelpFile("/prog/CV.hlp");
  ShowProblemSolver();
  EXPECT_EQ(ApplicationHelpFile(), "/prog/CV.hlp");
  ShowHelpContext(4242);  // an unknown topic shows the contents, never fails
}

TEST(StartingFaxFormTest, PanelsTimerAndCheckBox) {
  TStartingFaxForm form;
  EXPECT_EQ(form.windowTitle(), "Starting Receive mode...");
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  form.ShowStartingPanel();
  form.show();
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 15000);
  EXPECT_TRUE(form.StartingPanel->isVisible());
  EXPECT_FALSE(form.ReadyPanel->isVisible());
  EXPECT_FALSE(form.OkButton->isVisible());
  form.ShowReadyPanel();
  EXPECT_TRUE(form.ReadyPanel->isVisible());
  EXPECT_TRUE(form.OkButton->isVisible());
  EXPECT_TRUE(form.DontShowCheckBox->isVisible());
  EXPECT_FALSE(form.StartingPanel->isVisible());

  Settings.DisableReceivingFaxesNotification = false;
  form.DontShowCheckBox->click();
  EXPECT_TRUE(Settings.DisableReceivingFaxesNotification);
  form.DontShowCheckBox->click();
  EXPECT_FALSE(Settings.DisableReceivingFaxesNotification);

  form.Timer1Timer();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.Timer1->isActive());
  form.show();
  form.OkButton->click();
  EXPECT_FALSE(form.isVisible());
}

}  // namespace

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>

#include "shell/QtHostExecutor.h"

namespace {

// Runs the event loop until pred holds or the time is up.
bool SpinUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer t;
  t.start();
  while (!pred() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return pred();
}

TEST(QtHostExecutorTest, EngineThreadsReachTheWindowThread) {
  TQtHostExecutor executor;
  EXPECT_TRUE(executor.IsHostThread());
  std::atomic<bool> ranOnHost{false}, sendResult{false}, sendDone{false};
  std::thread engine([&] {
    EXPECT_FALSE(executor.IsHostThread());
    executor.Post([&] { ranOnHost = executor.IsHostThread(); });
    sendResult = executor.Send([] {}, std::chrono::milliseconds(5000));
    sendDone = true;
  });
  EXPECT_TRUE(SpinUntil([&] { return sendDone.load(); }, 5000));
  engine.join();
  EXPECT_TRUE(ranOnHost);
  EXPECT_TRUE(sendResult);
}

TEST(QtHostExecutorTest, SendGivesUpWhenTheWindowThreadIsBusyAndDropsTheTask) {
  TQtHostExecutor executor;
  std::atomic<bool> ran{false}, result{true};
  std::thread engine([&] { result = executor.Send([&] { ran = true; }, std::chrono::milliseconds(100)); });
  engine.join();  // the host never ran its loop meanwhile
  EXPECT_FALSE(result);
  SpinUntil([] { return false; }, 100);
  EXPECT_FALSE(ran) << "a task not started in time must not run later";
}

TEST(QtHostExecutorTest, ExceptionsFromTasksDoNotEscapeTheEventLoop) {
  TQtHostExecutor executor;
  std::atomic<bool> after{false};
  executor.Post([] { throw std::runtime_error("handler failed"); });
  executor.Post([&] { after = true; });
  EXPECT_TRUE(SpinUntil([&] { return after.load(); }, 2000));
}

}  // namespace
