// The set-up windows' probing buttons against the virtual modem line: the
// quick setup finds the modem and takes its port, the wizard's fax class
// checks offer what the modem recommends, and a device that does not answer
// changes nothing.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

#include "faxengine/port/ComDevice.h"
#include "modemsetup/ProbeRun.h"
#include "modemsetup/SerialDevices.h"
#include "modemsetup/TCheckFaxClassForm.h"
#include "modemsetup/TFindModemForm.h"
#include "modemsetup/TPreferences.h"
#include "modemsetup/TQuickSetupForm.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Settings.h"
#include "testsupport/LineHarness.h"
#include "testsupport/Pty.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using namespace std::chrono_literals;

// Closes the probing windows once their work is done and answers message
// boxes with the given button, keeping their texts.
class TProbeAnswers {
 public:
  explicit TProbeAnswers(QMessageBox::StandardButton answer) : answer_(answer) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }
  QStringList texts;
  int probes = 0;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("answered").toBool()) return;
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      box->setProperty("answered", true);
      texts << box->text();
      QAbstractButton* b = box->button(answer_);
      (b ? b : box->buttons().front())->click();
    } else if (auto* find = qobject_cast<TFindModemForm*>(w); find && find->ScanFinished()) {
      find->setProperty("answered", true);
      ++probes;
      find->OKButton->click();
    } else if (auto* check = qobject_cast<TCheckFaxClassForm*>(w); check && check->TestFinished()) {
      check->setProperty("answered", true);
      ++probes;
      check->OKButton->click();
    }
  }
  QMessageBox::StandardButton answer_;
  QTimer timer_;
};

class SetupLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLockFolder(locks_.Path());
    SetProgramFolder(dir_.Path().string());
    Settings = TSettings{};
    SetFirstStart(false);
  }
  void TearDown() override {
    EXPECT_TRUE(TProbeRun::WaitForAll(10s));
    SetSerialDeviceFolder({});
    line_.reset();
    SetLockFolder({});
  }
  void StartLine() {
    line_ = std::make_unique<linetest::TLineProcess>(dir_.Path() / "line");
    ASSERT_TRUE(line_->Ready()) << line_->Log();
  }
  std::string Missing() const { return (dir_.Path() / "no-such-tty").string(); }

  TTempFolder locks_, dir_;
  TPty silent_;
  std::unique_ptr<linetest::TLineProcess> line_;
};

TEST_F(SetupLineTest, QuickSetupFindsTheVirtualModemAndOkStoresItsPort) {
  StartLine();
  WritePortsIni(dir_.Path(), {{1, silent_.SlavePath()},
                              {2, line_->Link(1).string()},
                              {3, Missing()},
                              {4, Missing()},
                              {5, Missing()},
                              {6, Missing()}});
  TQuickSetupForm setup;
  EXPECT_EQ(setup.ComPort->currentIndex(), -1);  // no port chosen yet
  EXPECT_EQ(setup.ComPort->itemText(1), "Com2 (" + QString::fromStdString(line_->Link(1).string()) + ")");
  setup.show();
  {
    TProbeAnswers answers(QMessageBox::Yes);
    setup.FindModemButton->click();
    EXPECT_EQ(answers.probes, 1);
    EXPECT_EQ(answers.texts, QStringList{"Set Com Port to Com 2"});
  }
  EXPECT_EQ(setup.ComPort->currentIndex(), 1);
  setup.Name->setText("Ann");
  setup.FaxNumber->setText("555 0100");
  setup.OkButton->click();
  EXPECT_EQ(setup.result(), TQuickSetupForm::kOk);
  const TIniFile ini(IniFileName());
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 1);
  EXPECT_EQ(ini.ReadString("User", "Name", ""), "Ann");
  EXPECT_EQ(ini.ReadString("User", "Fax", ""), "555 0100");
  EXPECT_EQ(ini.ReadString("Ports", "COM2", ""), line_->Link(1).string());

  // The modem already on the chosen port brings no question.
  TQuickSetupForm again;
  EXPECT_EQ(again.ComPort->currentIndex(), 1);
  again.show();
  TProbeAnswers none(QMessageBox::Yes);
  again.FindModemButton->click();
  EXPECT_EQ(none.probes, 1);
  EXPECT_TRUE(none.texts.isEmpty());
}

TEST_F(SetupLineTest, FaxClassChecksOfferTheRecommendedClassForTheirOwnPage) {
  StartLine();
  WritePortsIni(dir_.Path(), {{2, line_->Link(1).string()}});
  ReadSettings();
  Settings.ComPort = 1;
  Settings.FaxClass = 0;
  Settings.FaxClassReceive = 3;
  TPreferences wizard;
  wizard.show();
  {
    TProbeAnswers answers(QMessageBox::Yes);
    wizard.CheckFaxClassButton->click();
    EXPECT_EQ(answers.texts, QStringList{"Set fax class as Class 1 ?"});
  }
  EXPECT_EQ(wizard.FaxClass->currentIndex(), 1);
  EXPECT_EQ(wizard.FaxClassReceive->currentIndex(), 3);
  {
    TProbeAnswers answers(QMessageBox::No);
    wizard.CheckFaxClassReceiveButton->click();
    EXPECT_EQ(answers.texts, QStringList{"Set fax class as Class 1 ?"});
  }
  EXPECT_EQ(wizard.FaxClassReceive->currentIndex(), 3);
  {
    TProbeAnswers answers(QMessageBox::Yes);
    wizard.CheckFaxClassReceiveButton->click();
  }
  EXPECT_EQ(wizard.FaxClassReceive->currentIndex(), 1);
  // Nothing is stored before Finish.
  EXPECT_EQ(Settings.FaxClass, 0);
  EXPECT_EQ(Settings.FaxClassReceive, 3);
}

TEST_F(SetupLineTest, FaxClassCheckOnAnUnpluggedModemChangesNothing) {
  StartLine();
  ASSERT_EQ(line_->Control("unplug 101 on"), "OK");
  WritePortsIni(dir_.Path(), {{1, line_->Link(1).string()}});
  ReadSettings();
  Settings.ComPort = 0;
  Settings.FaxClass = 2;
  TPreferences wizard;
  wizard.show();
  TProbeAnswers answers(QMessageBox::No);
  wizard.CheckFaxClassButton->click();
  EXPECT_EQ(answers.probes, 1);
  ASSERT_EQ(answers.texts.size(), 1);
  EXPECT_TRUE(answers.texts[0].startsWith("The device on COM1 is not responding"));
  EXPECT_EQ(wizard.FaxClass->currentIndex(), 2);
}

TEST_F(SetupLineTest, AUsbModemIsOfferedAFreeComNumberUnderItsStableName) {
  StartLine();
  // A device folder with the virtual modem as a USB modem, and its by-id name.
  TTempFolder dev;
  SetSerialDeviceFolder(dev.Path());
  std::filesystem::create_symlink(line_->Link(1), dev.Path() / "ttyACM0");
  std::filesystem::create_directories(dev.Path() / "serial" / "by-id");
  const auto byId = dev.Path() / "serial" / "by-id" / "usb-Corvane_Virtual_Modem-if00";
  std::filesystem::create_symlink("../../ttyACM0", byId);
  WritePortsIni(dir_.Path(), {{1, Missing()}, {2, Missing()}, {3, Missing()}, {4, Missing()}, {5, Missing()}});
  {
    TQuickSetupForm setup;
    setup.show();
    TProbeAnswers answers(QMessageBox::Yes);
    setup.FindModemButton->click();
    EXPECT_EQ(answers.probes, 1);
    EXPECT_EQ(answers.texts, QStringList{"A modem was found on " + QString::fromStdString(byId.string()) +
                                         ".\r\rSet Com Port to Com 6 and use this device for it?"});
    EXPECT_EQ(setup.ComPort->currentIndex(), 5);
    EXPECT_EQ(setup.ComPort->currentText(), "Com6 (" + QString::fromStdString(byId.string()) + ")");
    setup.OkButton->click();
  }
  const TIniFile ini(IniFileName());
  EXPECT_EQ(ini.ReadString("Ports", "COM6", ""), byId.string());
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 5);

  // Now the device is COM6: it is tried as that port and brings no question.
  TQuickSetupForm again;
  again.show();
  TProbeAnswers none(QMessageBox::Yes);
  int usbRows = -1;
  QTimer::singleShot(50, [&] {
    if (auto* form = qobject_cast<TFindModemForm*>(QApplication::activeModalWidget()))
      usbRows = static_cast<int>(form->UsbDevices().size());
  });
  again.FindModemButton->click();
  EXPECT_EQ(none.probes, 1);
  EXPECT_TRUE(none.texts.isEmpty());
  EXPECT_EQ(usbRows, 0);
  EXPECT_EQ(again.ComPort->currentIndex(), 5);
}

}  // namespace
