// The set-up commands of the main window: the quick setup of the first start
// and what it stores, and the preferences wizard from the button and menu.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "mainscreen/TMainScreen.h"
#include "modemsetup/TPreferences.h"
#include "modemsetup/TQuickSetupForm.h"
#include "modemsetup/TQuickSuggest.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Settings.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// Runs act on the first modal window of type W to open within 5 s.
template <class W>
void WhenOpen(std::function<void(W*)> act) {
  auto* timer = new QTimer;
  auto left = std::make_shared<int>(500);
  QObject::connect(timer, &QTimer::timeout, [timer, act, left] {
    auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (!w && --*left > 0) return;
    timer->stop();
    timer->deleteLater();
    if (w) act(w);
  });
  timer->start(10);
}

class SetupCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    SetFirstStart(false);
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }
  static TQuickSetupForm* QuickSetup(TMainScreen& w) {
    TQuickSetupForm* setup = nullptr;
    if (!QTest::qWaitFor([&] { return (setup = w.findChild<TQuickSetupForm*>()) && setup->isVisible(); }, 3000))
      return nullptr;
    return setup;
  }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
};

TEST_F(SetupCommandsTest, FirstStartShowsQuickSetupOnceAndOkStoresPortNameAndFax) {
  {
    TMainScreen w;
    Start(w);
    EXPECT_TRUE(w.FirstRun());
    TQuickSetupForm* setup = QuickSetup(w);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->windowTitle(), "Quick Setup Form");
    EXPECT_EQ(setup->ComPort->itemText(2), "Com3 (/dev/ttyS2)");
    setup->ComPort->setCurrentIndex(2);
    setup->Name->setText("Ann Smith");
    setup->FaxNumber->setText("+1 555 0100");
    setup->OkButton->click();
    EXPECT_FALSE(FirstStart());
    const TIniFile ini(IniFileName());
    EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 2);
    EXPECT_EQ(ini.ReadString("User", "Name", ""), "Ann Smith");
    EXPECT_EQ(ini.ReadString("User", "Fax", ""), "+1 555 0100");
    w.close();
  }
  Settings = TSettings{};
  TMainScreen again;
  Start(again);
  EXPECT_FALSE(again.FirstRun());
  QTest::qWait(100);
  EXPECT_EQ(again.findChild<TQuickSetupForm*>(), nullptr);
  EXPECT_EQ(Settings.ComPort, 2);
}

TEST_F(SetupCommandsTest, CancelledQuickSetupLeavesTheNextWizardAFirstStart) {
  TMainScreen w;
  Start(w);
  TQuickSetupForm* setup = QuickSetup(w);
  ASSERT_NE(setup, nullptr);
  setup->Name->setText("Not stored");
  setup->CancelButton->click();
  EXPECT_TRUE(FirstStart());
  EXPECT_EQ(Settings.Name, "");

  bool firstStart = false, finishEnabled = true;
  WhenOpen<TPreferences>([&](TPreferences* wizard) {
    firstStart = wizard->FirstTimeLabel->isVisible();
    finishEnabled = wizard->FinishButton->isEnabled();
    wizard->CancelButton->click();
  });
  w.PreferencesButton->click();
  EXPECT_TRUE(firstStart);
  EXPECT_FALSE(finishEnabled);
  EXPECT_FALSE(FirstStart());
}

TEST_F(SetupCommandsTest, QuickSetupPreferencesStoresAndLeadsToTheWizard) {
  TMainScreen w;
  Start(w);
  TQuickSetupForm* setup = QuickSetup(w);
  ASSERT_NE(setup, nullptr);
  setup->Name->setText("Bo");
  bool opened = false, firstStart = true;
  WhenOpen<TPreferences>([&](TPreferences* wizard) {
    opened = true;
    firstStart = wizard->FirstTimeLabel->isVisible();
    EXPECT_EQ(wizard->Name->text(), "Bo");
    wizard->Name->setText("Bo Chen");
    QTimer::singleShot(0, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        box->button(QMessageBox::Yes)->click();
    });
    wizard->FinishButton->click();
  });
  setup->PreferencesButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened; }, 5000));
  EXPECT_FALSE(firstStart);
  EXPECT_EQ(TIniFile(IniFileName()).ReadString("User", "Name", ""), "Bo Chen");
}

TEST_F(SetupCommandsTest, PreferencesCommandOpensTheWizardFromButtonAndMenu) {
  fs::create_directories(home_);
  TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=1\r\n");
  TMainScreen w;
  Start(w);
  int opened = 0;
  for (int i = 0; i < 2; ++i) {
    WhenOpen<TPreferences>([&](TPreferences* wizard) {
      ++opened;
      EXPECT_EQ(wizard->ComPort->currentIndex(), 1);
      wizard->CancelButton->click();
    });
    i == 0 ? w.PreferencesButton->click() : w.Preferences1->trigger();
  }
  EXPECT_EQ(opened, 2);
}

TEST_F(SetupCommandsTest, QuickConfigurationAnalysisWritesTheRemediesOnFinishOnly) {
  fs::create_directories(home_);
  TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=0\r\n[Dialing]\r\nToneOrPulse=1\r\n");
  TMainScreen w;
  Start(w);
  for (const bool finish : {false, true}) {
    WhenOpen<TQuickSuggest>([finish](TQuickSuggest* q) {
      q->NextButton->click();
      EXPECT_EQ(q->Page(), 1);
      q->UseTONE->setChecked(true);
      (finish ? q->FinishButton : q->CancelButton)->click();
    });
    w.QuickConfigurationAnalysis1->trigger();
    EXPECT_EQ(TIniFile(IniFileName()).ReadInteger("Dialing", "ToneOrPulse", -1), finish ? 0 : 1);
  }
}

}  // namespace
