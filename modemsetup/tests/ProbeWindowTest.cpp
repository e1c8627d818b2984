// The port scan and the fax class test as windows: against the virtual modem
// line's modems, a device that never answers, a missing device and one held
// by another live program. The windows must answer within 50 ms all the time
// a probe talks to a modem, and close at once in the middle of one.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

#include "faxengine/port/ComPort.h"
#include "faxengine/port/ComDevice.h"
#include "testsupport/Pty.h"
#include "modemsetup/ProbeRun.h"
#include "modemsetup/TCheckFaxClassForm.h"
#include "modemsetup/TFindModemForm.h"
#include "modemsetup/tests/HolderProcess.h"
#include "shell/core/Settings.h"
#include "testsupport/LineHarness.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using namespace std::chrono_literals;

// Answers message boxes as they open (Yes, No or their only button) and keeps
// their captions and texts.
class TBoxAnswers {
 public:
  explicit TBoxAnswers(QMessageBox::StandardButton answer) : answer_(answer) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      captions << box->windowTitle();
      texts << box->text();
      QAbstractButton* button = box->button(answer_);
      (button ? button : box->buttons().front())->click();
    });
    timer_.start(10);
  }
  QStringList captions, texts;

 private:
  QMessageBox::StandardButton answer_;
  QTimer timer_;
};

// The longest gap between two runs of a 5 ms timer on the window's thread.
class TGuiGapMeter {
 public:
  TGuiGapMeter() {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      maxGapMs_ = std::max(maxGapMs_, clock_.restart());
    });
    timer_.start(5);
  }
  qint64 MaxGapMs() const { return maxGapMs_; }

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  qint64 maxGapMs_ = 0;
};

class ProbeWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    Settings = TSettings{};
  }
  void TearDown() override {
    // No worker may outlive the test's devices and lock folder.
    EXPECT_TRUE(TProbeRun::WaitForAll(10s));
    line_.reset();
    SetLockFolder({});
  }

  void StartLine() {
    line_ = std::make_unique<linetest::TLineProcess>(dir_.Path() / "line");
    ASSERT_TRUE(line_->Ready()) << line_->Log();
  }
  // CV.INI with [Ports] for COM1 to COM6; the lent port reads it.
  void Ports(const std::vector<std::pair<int, std::string>>& ports) {
    port_.SetIniFileName(WritePortsIni(dir_.Path(), ports));
    port_.SetComNumber(1);
  }
  std::string Missing() const { return (dir_.Path() / "no-such-tty").string(); }

  TTempFolder locks_, dir_;
  TPty silent_;  // a serial device with nothing behind it
  std::unique_ptr<linetest::TLineProcess> line_;
  TFxComPort port_;
};

TEST_F(ProbeWindowTest, ScanFindsTheFirstModemAndStaysResponsive) {
  StartLine();
  // The modem on COM1 is unplugged and answers nothing; a dead telephone
  // line does not make the modem on COM2 silent.
  ASSERT_EQ(line_->Control("unplug 101 on"), "OK");
  ASSERT_EQ(line_->Control("nodialtone 102 on"), "OK");
  THolderProcess holder(silent_.SlavePath());
  Ports({{1, line_->Link(1).string()},
         {2, line_->Link(2).string()},
         {3, silent_.SlavePath()},
         {4, Missing()},
         {5, Missing()},
         {6, Missing()}});
  TFindModemForm form(port_);
  EXPECT_EQ(form.windowTitle(), "Finding Modem...Please wait");
  EXPECT_EQ(form.Label7->text(), "Testing Communications ports...please wait.");
  TGuiGapMeter meter;
  form.show();
  EXPECT_FALSE(form.OKButton->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ComLabel(1)->text() == "Com 1: TESTING"; }, 2000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ScanFinished(); }, 20000));

  EXPECT_LT(meter.MaxGapMs(), 50);
  EXPECT_EQ(form.ComLabel(1)->text(), "Com 1: Unknown");
  EXPECT_EQ(form.ComLabel(2)->text(), "Com 2: MODEM");
  EXPECT_EQ(form.ComLabel(3)->text(), "Com 3: Port is already open (could be modem)");
  EXPECT_EQ(form.ComLabel(3)->toolTip().toStdString(),
            "The device " + TComDevice::CanonicalPath(silent_.SlavePath()) + " is held by sleep (PID " +
                std::to_string(holder.Pid()) + ").");
  for (int n = 4; n <= 6; ++n) EXPECT_EQ(form.ComLabel(n)->text(), QString("Com %1: Port does not exist").arg(n));
  EXPECT_EQ(form.FoundPort(), 2);
  EXPECT_EQ(form.Label7->text(), "A modem was found on Com Port 2. We suggest setting the Port as Com 2.");
  EXPECT_EQ(form.windowTitle(), "Find Modem");
  EXPECT_TRUE(form.OKButton->isVisible());
  EXPECT_EQ(port_.ComNumber(), 6);
  EXPECT_FALSE(port_.Open());
  form.OKButton->click();
  EXPECT_FALSE(form.isVisible());
}

TEST_F(ProbeWindowTest, ScanWithoutModemButWithABusyPortGivesTheLongAdvice) {
  THolderProcess holder(silent_.SlavePath());
  TPty unanswered;
  Ports({{1, Missing()}, {2, silent_.SlavePath()}, {3, unanswered.SlavePath()}, {4, Missing()}, {5, Missing()},
         {6, Missing()}});
  TFindModemForm form(port_);
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ScanFinished(); }, 30000));
  EXPECT_EQ(form.ComLabel(1)->text(), "Com 1: Port does not exist");
  EXPECT_EQ(form.ComLabel(2)->text(), "Com 2: Port is already open (could be modem)");
  EXPECT_EQ(form.ComLabel(3)->text(), "Com 3: Unknown");
  EXPECT_EQ(form.FoundPort(), -1);
  EXPECT_EQ(form.Label7->text(),
            "No modem found. Please make sure that all communication programs (internet, AOL, etc) are closed, and "
            "then try again. If you know which Com port your modem uses, you can also just set the Port to that "
            "setting");
  // The window grew with the advice: every line of it is shown.
  QApplication::processEvents();
  EXPECT_GE(form.Label7->height(), form.Label7->heightForWidth(form.Label7->width()));
  EXPECT_TRUE(form.rect().contains(form.Label7->geometry()));
}

TEST_F(ProbeWindowTest, ScanWithoutModemOrBusyPortGivesTheShortAdvice) {
  Ports({{1, silent_.SlavePath()}, {2, Missing()}, {3, Missing()}, {4, Missing()}, {5, Missing()}, {6, Missing()}});
  TFindModemForm form(port_);
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ScanFinished(); }, 30000));
  EXPECT_EQ(form.FoundPort(), -1);
  EXPECT_EQ(form.Label7->text(),
            "No modem found. If you know which Com port your modem uses, you can also just set the Port to that "
            "setting");
}

TEST_F(ProbeWindowTest, ClosingMidScanReturnsAtOnceAndTheWorkerEnds) {
  Ports({{1, silent_.SlavePath()}, {2, Missing()}, {3, Missing()}, {4, Missing()}, {5, Missing()}, {6, Missing()}});
  auto form = std::make_unique<TFindModemForm>(port_);
  form->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ComLabel(1)->text() == "Com 1: TESTING"; }, 2000));
  QTest::qWait(800);  // inside the wait for "OK" on the silent device
  QElapsedTimer clock;
  clock.start();
  form->reject();
  form.reset();
  EXPECT_LT(clock.elapsed(), 50);
  // The worker notices at its next step: the rest of this wait at most.
  clock.restart();
  EXPECT_TRUE(TProbeRun::WaitForAll(5s));
  EXPECT_LT(clock.elapsed(), 36 * 55 + 500);
  QTest::qWait(50);  // reports queued before the close are dropped, not run
}

TEST_F(ProbeWindowTest, ClassTestOnAVirtualModemRecommendsClass1) {
  StartLine();
  Ports({{2, line_->Link(1).string()}});
  TCheckFaxClassForm form(port_, 2);
  EXPECT_EQ(form.windowTitle(), "Finding Fax Class...Please wait");
  TGuiGapMeter meter;
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.TestFinished(); }, 20000));
  EXPECT_LT(meter.MaxGapMs(), 50);
  EXPECT_TRUE(form.Class1Supported());
  EXPECT_TRUE(form.Class2Supported());
  EXPECT_TRUE(form.Class20Supported());
  EXPECT_EQ(form.RecommendedIndex(), 0);
  EXPECT_EQ(form.RecommendedName(), "Class 1");
  EXPECT_EQ(form.Class1Label->text(), "Class 1   : Supported (recommended)");
  EXPECT_EQ(form.Class2Label->text(), "Class 2   : Supported");
  EXPECT_EQ(form.Class20Label->text(), "Class 2.0 : Supported");
  EXPECT_EQ(form.Status->text(),
            "Try using the recommended Fax Class (Class 1). \n\nIf you experience problems, try other supported "
            "classes or auto detect.");
  EXPECT_EQ(form.windowTitle(), "Check Fax Class");
  EXPECT_TRUE(form.OKButton->isVisible());
  EXPECT_EQ(port_.ComNumber(), 1);  // the lent port is left alone
}

TEST_F(ProbeWindowTest, ClassTestOnASilentDeviceAsksAndStopsOnNo) {
  Ports({{1, silent_.SlavePath()}});
  TBoxAnswers answers(QMessageBox::No);
  TCheckFaxClassForm form(port_, 1);
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.TestFinished(); }, 20000));
  ASSERT_EQ(answers.captions, QStringList{"NO MODEM RESPONSE"});
  EXPECT_EQ(answers.texts.front(),
            "The device on COM1 is not responding and may\rnot be a modem. Continue with Fax Class Analysis?");
  EXPECT_EQ(form.Status->text(), "No response from device on COM1. May not be a modem.");
  EXPECT_EQ(form.Class1Label->text(), "Class 1   : unknown");
  EXPECT_EQ(form.Class2Label->text(), "Class 2   : unknown");
  EXPECT_EQ(form.Class20Label->text(), "Class 2.0 : unknown");
  EXPECT_EQ(form.RecommendedIndex(), -1);
  EXPECT_EQ(form.windowTitle(), "Check Fax Class");
}

TEST_F(ProbeWindowTest, ClassTestGoingOnAfterYesStopsWhenTheResetIsNotAnswered) {
  Ports({{1, silent_.SlavePath()}});
  TBoxAnswers answers(QMessageBox::Yes);
  TCheckFaxClassForm form(port_, 1);
  TGuiGapMeter meter;
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.TestFinished(); }, 30000));
  ASSERT_EQ(answers.captions, (QStringList{"NO MODEM RESPONSE", "Information"}));
  EXPECT_EQ(answers.texts[1],
            "We are unable to continue the test. \r\rThe modem did not respond to the reset string:   (AT&F)\r\rIs the "
            "Communications Port (COM1) correct? Please\rclick the Find Modem Port button on the Preferences screen to "
            "be sure.");
  EXPECT_EQ(form.Status->text(), "No response from device on COM1. May not be a modem.");
  EXPECT_EQ(form.Class1Label->text(), "Class 1   : unknown");
}

TEST_F(ProbeWindowTest, ClassTestOnAPortAnotherProgramHoldsNamesIt) {
  THolderProcess holder(silent_.SlavePath());
  Ports({{3, silent_.SlavePath()}});
  TCheckFaxClassForm form(port_, 3);
  form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.TestFinished(); }, 10000));
  EXPECT_EQ(form.Status->text().toStdString(),
            "The communications port is in use ( Com 3 )\n\nPlease make sure that all communication programs "
            "(internet, AOL, etc) are closed, and then try again.\n\nThe device " +
                TComDevice::CanonicalPath(silent_.SlavePath()) + " is held by sleep (PID " +
                std::to_string(holder.Pid()) + ").");
  EXPECT_EQ(form.Class2Label->text(), "Class 2   : unknown");
}

}  // namespace
