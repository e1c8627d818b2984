// The send window, its error and status windows, and the main window's Send
// command, driven as a user drives them, where no modem is needed: every
// check made before dialling, and what closing the window stores.
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "faxengine/port/ComDevice.h"
#include "faxengine/session/AbstractFax.h"
#include "faximage/Apf.h"
#include "testsupport/LinePages.h"
#include "mainscreen/TMainScreen.h"
#include "modemsetup/tests/HolderProcess.h"
#include "sending/TFxFaxStatus.h"
#include "sending/TShowErrorForm.h"
#include "sending/tests/SendDriver.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Settings.h"
#include "store/core/Xbase.h"
#include "testsupport/Pty.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;
using sendtest::TSendDriver;
using sendtest::TSendScript;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class SendWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    fs::create_directories(send_);
    // COM1 leads nowhere: a check that let a run through would end in the
    // port's open failure instead of its own message.
    WriteIni("");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  void WriteIni(const std::string& modem) {
    TTempFolder::WriteFile(home_ / "CV.INI", "[User]\r\nName=Ann Lee\r\nFax=555 0101\r\n[Modem]\r\nComPort=0\r\n" +
                                                 modem + "[Ports]\r\nCOM1=" + (temp_.Path() / "nomodem").string() +
                                                 "\r\n");
  }
  void MakeApf(const std::string& name) {
    linepages::WriteApf(send_ / name, {linetest::MakePage(3, 120)}, false);
  }
  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }
  static void AddRow(TMainScreen& w, const std::string& phone, const std::string& doc, const std::string& cover = "") {
    TXbDataTable& t = w.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.SetFieldText("SUBJECT", "Quarterly"));
    ASSERT_TRUE(t.SetFieldText("RECIPIENT", "Far End"));
    ASSERT_TRUE(t.SetFieldText("PHONE", phone));
    ASSERT_TRUE(t.SetFieldText("FAXDOC", doc));
    ASSERT_TRUE(t.SetFieldText("FAXCOVER", cover));
    ASSERT_TRUE(t.SetFieldText("LASTRESULT", "before"));
    ASSERT_TRUE(t.Post());
    w.SetButtons();
  }
  static void Send(TMainScreen& w, TSendScript& script) {
    TSendDriver driver(script);
    QTimer::singleShot(0, w.SendButton, &QPushButton::click);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.closed && !QApplication::activeModalWidget(); }, 20000));
  }
  static std::string Field(TMainScreen& w, const char* name) {
    EXPECT_TRUE(w.FaxTable.Table()->Go(1));
    return w.FaxTable.FieldText(name);
  }
  std::string SendLog() const { return TTempFolder::ReadFile(home_ / "Lastsend.log"); }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
  const fs::path send_ = home_ / "SEND";
};

}  // namespace

TEST_F(SendWindow, SendIsOfferedOnlyForAnOutgoingRowWhoseFilesExist) {
  TMainScreen w;
  Start(w);
  QApplication::processEvents();
  EXPECT_FALSE(w.SendButton->isEnabled());
  EXPECT_FALSE(w.SendFax1->isEnabled());
  AddRow(w, "200", "GONE.APF", "ALSOGONE.APF");
  EXPECT_TRUE(w.SendButton->isEnabled());
  EXPECT_EQ(w.SendFax1->shortcut(), QKeySequence("Ctrl+S"));
  TSendScript script;
  script.runs = 0;
  TSendDriver driver(script);
  w.SendFax1->trigger();
  EXPECT_EQ(script.boxes, QStringList{"Error opening fax file"});
  w.TabSet1->setCurrentIndex(1);
  w.SendButtonClick();
  EXPECT_EQ(script.boxes.last(), "Please switch to the Outgoing Faxes tab\nand highlight a fax to send");
  EXPECT_EQ(Field(w, "LASTRESULT"), "before");
}

TEST_F(SendWindow, DamagedFaxFilesBadNumbersAndControlCharactersAreRefusedBeforeDialling) {
  struct TCase {
    std::string file;         // the row's document
    std::string fileBytes;    // written over it when not empty
    QString number;           // typed into the number field
    std::string modem;        // extra [Modem] keys
    QString caption;
    QString textPart;
  };
  MakeApf("GOOD.APF");
  const std::string good = TTempFolder::ReadFile(send_ / "GOOD.APF");
  const std::vector<TCase> cases = {
      {"CUT.APF", good.substr(0, good.size() / 2), "200", "", "Fax File Problem", "CUT.APF"},
      {"JUNK.APF", std::string(300, 'x'), "200", "", "Fax File Problem", "not a fax image"},
      {"GOOD.APF", "", "    ", "", "Check the Fax Number", "no fax number"},
      {"GOOD.APF", "", "555-CALL-NOW", "", "Check the Fax Number", "555-CALL-NOW"},
      {"GOOD.APF", "", "200", "InitString=AT&F\x01\r\n", "Check the Modem Settings", "Modem Init String"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.caption.toStdString() + " " + c.file + " " + c.number.toStdString());
    fs::remove(home_ / "CVOUT.DBF");
    fs::remove(home_ / "CVOUT.CDX");
    WriteIni(c.modem);
    if (!c.fileBytes.empty()) TTempFolder::WriteFile(send_ / c.file, c.fileBytes);
    TMainScreen w;
    Start(w);
    AddRow(w, "200", c.file);
    TSendScript script;
    script.fill = [&c](TSendFaxForm& f) { f.sfPhoneNumber->setText(c.number); };
    Send(w, script);
    ASSERT_EQ(script.errorCaptions, QStringList{c.caption});
    EXPECT_TRUE(script.errorTexts.front().contains(c.textPart)) << script.errorTexts.front().toStdString();
    EXPECT_EQ(Field(w, "LASTRESULT"), "before");
    EXPECT_EQ(Field(w, "DATESENT"), "");
    EXPECT_EQ(SendLog().find("Opening com port"), std::string::npos) << SendLog();
    w.close();
  }
}

TEST_F(SendWindow, ACoverWithoutPagesIsRefusedBeforeDialling) {
  MakeApf("DOC.APF");
  {
    TFxApfWriter empty;
    ASSERT_EQ(empty.Create(send_ / "EMPTY.APF"), 0);
    ASSERT_EQ(empty.Finish("ABC"), 0);
  }
  TMainScreen w;
  Start(w);
  AddRow(w, "200", "DOC.APF", "EMPTY.APF");
  TSendScript script;
  Send(w, script);
  ASSERT_EQ(script.errorCaptions, QStringList{"Fax File Problem"});
  EXPECT_TRUE(script.errorTexts.front().contains("EMPTY.APF cannot be sent: it holds no pages"))
      << script.errorTexts.front().toStdString();
  EXPECT_EQ(Field(w, "LASTRESULT"), "before");
  EXPECT_EQ(SendLog().find("Opening com port"), std::string::npos) << SendLog();
}

TEST_F(SendWindow, ADeviceAnotherProgramHoldsIsNamedWithItsHolder) {
  TTempFolder locks;
  SetLockFolder(locks.Path());
  TPty device;
  THolderProcess holder(device.SlavePath());
  TTempFolder::WriteFile(home_ / "CV.INI", "[User]\r\nName=Ann Lee\r\nFax=555 0101\r\n[Modem]\r\nComPort=0\r\n"
                                           "[Ports]\r\nCOM1=" + device.SlavePath() + "\r\n");
  MakeApf("DOC.APF");
  TMainScreen w;
  Start(w);
  AddRow(w, "200", "DOC.APF");
  TSendScript script;
  Send(w, script);
  SetLockFolder({});
  ASSERT_EQ(script.errorCaptions, QStringList{"Error Opening Communications Port"});
  const std::string text = script.errorTexts.front().toStdString();
  EXPECT_NE(text.find("The device " + TComDevice::CanonicalPath(device.SlavePath()) + " is held by sleep (PID " +
                      std::to_string(holder.Pid()) + ")"),
            std::string::npos)
      << text;
  EXPECT_EQ(Field(w, "LASTRESULT"), "before");
}

TEST_F(SendWindow, APortThatCannotOpenIsNamedAndLogged) {
  WriteIni("");
  TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=99\r\nMaximumBPS=3\r\n[Dialing]\r\nDialAttempts=-1\r\n"
                                           "RetryWait=1000000000\r\n");
  MakeApf("DOC.APF");
  TMainScreen w;
  Start(w);
  AddRow(w, "200", "DOC.APF");
  TSendScript script;
  QString setup;
  script.fill = [&setup](TSendFaxForm& f) { setup = f.SetupDisplayMemo->toPlainText(); };
  Send(w, script);
  EXPECT_TRUE(setup.contains("Communications Port: COM100\nFax Class: Class 1\nTransfer Rate: 2400")) << setup.toStdString();
  EXPECT_TRUE(setup.contains("Dial Attempts: 1\nRetry in: 3600 seconds")) << setup.toStdString();
  ASSERT_EQ(script.errorCaptions, QStringList{"Error Opening Communications Port"});
  EXPECT_TRUE(script.errorTexts.front().contains("Com100")) << script.errorTexts.front().toStdString();
  EXPECT_TRUE(script.errorTexts.front().contains("Is the Communications Port (COM100) correct?"));
  EXPECT_NE(SendLog().find("Error opening com port: COM100"), std::string::npos) << SendLog();
  EXPECT_EQ(Field(w, "LASTRESULT"), "before");
}

TEST_F(SendWindow, ClosingWithoutSendingStoresTheNumberAndTheDialSettingsOnly) {
  MakeApf("DOC.APF");
  TMainScreen w;
  Start(w);
  AddRow(w, "200", "DOC.APF");
  TSendScript script;
  script.runs = 0;
  script.close = false;
  QString to, number;
  bool done = false;
  TSendDriver driver(script);
  // The user's steps, once the window is up (its modal loop runs them).
  QTimer user;
  user.setInterval(10);
  QObject::connect(&user, &QTimer::timeout, [&] {
    auto* f = qobject_cast<TSendFaxForm*>(QApplication::activeModalWidget());
    if (!f || done) return;
    done = true;
    to = f->ToLabel->text();
    number = f->sfPhoneNumber->text();
    // Ctrl+Shift+Z in a text field still reaches the window.
    QTest::keyClick(f->sfDialPrefix, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(f->PortLogging());
    f->sfPhoneNumber->setText("300");
    f->sfDialPrefix->setText("9W");
    f->DisablePrefix->setChecked(true);
    f->sfDialsuffix->setText("#");
    QTimer::singleShot(0, f->CloseButton, &QPushButton::click);
  });
  user.start();
  QTimer::singleShot(0, w.SendButton, &QPushButton::click);
  ASSERT_TRUE(QTest::qWaitFor([&] { return done && !QApplication::activeModalWidget(); }, 10000));
  EXPECT_EQ(to, "Far End");
  EXPECT_EQ(number, "200");
  EXPECT_TRUE(script.boxes.front().startsWith("Logging is now ON. Log file will be saved\nfor this fax session as CVOUT.LOG."));
  EXPECT_EQ(Field(w, "PHONE"), "300");
  EXPECT_EQ(Field(w, "LASTRESULT"), "before");
  TIniFile ini(home_ / "CV.INI");
  EXPECT_EQ(ini.ReadString("Dialing", "DialPrefix", ""), "9W");
  EXPECT_EQ(ini.ReadString("Dialing", "DialSuffix", ""), "#");
  EXPECT_EQ(ini.ReadString("User", "PrefixDisable", ""), "1");
  EXPECT_EQ(ini.ReadString("User", "SuffixDisable", ""), "0");
}

TEST_F(SendWindow, ErrorWindowOffersContinueClosesItselfAndShowsOneAtATime) {
  TShowErrorForm form;
  form.Prepare("Caption", "one\r\ntwo\r\nthree", false, false);
  EXPECT_EQ(form.windowTitle(), "Caption");
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 30000);
  EXPECT_FALSE(form.ContinueButton->isVisibleTo(&form));
  const int threeLines = form.height();
  form.Prepare("Caption", "one", true, true);
  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_TRUE(form.ContinueButton->isVisibleTo(&form));
  EXPECT_LT(form.height(), threeLines);
  // The timer closes the window as Ok would.
  form.Prepare("Caption", "one", false, false);
  QTimer::singleShot(0, &form, [&form] { form.Timer1Timer(); });
  EXPECT_EQ(form.exec(), 1);

  bool nested = true;
  QTimer::singleShot(20, [&] {
    // A second error while one is showing is not shown.
    EXPECT_TRUE(ErrorWindowShowing());
    nested = AskContinueAfterError("Second", "text", true);
    qobject_cast<TShowErrorForm*>(QApplication::activeModalWidget())->ContinueButton->click();
  });
  EXPECT_TRUE(AskContinueAfterError("First", "text", true));
  EXPECT_FALSE(nested);
  EXPECT_FALSE(ErrorWindowShowing());
  QTimer::singleShot(20, [] { qobject_cast<TShowErrorForm*>(QApplication::activeModalWidget())->BitBtn1->click(); });
  EXPECT_FALSE(AskContinueAfterError("Third", "text", true));
}

TEST_F(SendWindow, StatusWindowShowsTheSessionAndCancelAsksForTheEnd) {
  QWidget owner;
  TFxFaxStatus status(&owner);
  TFxSendFax fax;
  fax.SetPhoneNumber("200");
  fax.SetFaxFile("/a/very/long/folder/name/DOCUMENT.APF");
  fax.SetCoverFile("COV00001.APF");
  status.UpdateDisplay(fax, true, false);
  TStandardFaxDisplay* d = status.Display();
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->windowTitle(), "Fax Status");
  EXPECT_EQ(d->PhoneNumber->text(), "200");
  EXPECT_EQ(d->FaxFileName->text(), "/a/very/long/folder/...");
  EXPECT_EQ(d->CoverFileName->text(), "COV00001.APF");
  EXPECT_EQ(d->CurrentPage->text(), "<cover page>");
  EXPECT_EQ(d->ElapsedTime->text(), "00:00");
  EXPECT_EQ(d->Resolution->text(), "standard");
  EXPECT_TRUE(d->ProgressMeter->isVisibleTo(d));
  int cancels = 0;
  status.OnCancel = [&] { ++cancels; };
  d->CancelButton->click();
  EXPECT_EQ(cancels, 1);
  EXPECT_FALSE(d->isVisible());  // at once, before the session has ended
  status.UpdateDisplay(fax, false, false);
  status.UpdateDisplay(fax, false, true);
  EXPECT_FALSE(d->isVisible());
  TFxReceiveFax rx;
  status.UpdateDisplay(rx, true, false);
  EXPECT_FALSE(d->ProgressMeter->isVisibleTo(d));
  EXPECT_EQ(d->ProgressLabel->text(), "Page progress: N/A");
}
