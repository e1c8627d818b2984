// Sending from the main window over the virtual modem line: a printer-driver
// job becomes a row, Send dials the far end (number 200), the far end stores
// the pages, the row and "Lastsend.log" tell the outcome. The user-interface
// thread is timed throughout each send.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "faxengine/port/ComDevice.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"
#include "faxengine/text/FxStrings.h"
#include "testsupport/LinePages.h"
#include "cover/StockTemplates.h"
#include "cover/TCoverDesMainScreen.h"
#include "cover/TFaxCoverPanel.h"
#include "cover/core/CoverObjects.h"
#include "docimport/tests/PdfMaker.h"
#include "faximage/FaxUnpacker.h"
#include "mainscreen/TMainScreen.h"
#include "modemsetup/TPreferences.h"
#include "sending/TCreateEditQuickFax.h"
#include "sending/TEnterEdit.h"
#include "sending/TFaxEditor.h"
#include "sending/tests/DropFiles.h"
#include "sending/tests/ModalAnswers.h"
#include "sending/tests/SendDriver.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/core/Xbase.h"
#include "testsupport/TempFolder.h"
#include "testsupport/LineHarness.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
using sendtest::TSendDriver;
using sendtest::TSendScript;

namespace {

constexpr double kStallLimitMs = 50;

// Rows of got below the header (as many as got has beyond sent) equal sent.
bool SameBelowHeader(const linetest::TBitmap& got, const linetest::TBitmap& sent, std::string& why) {
  if (got.width != sent.width || got.height <= sent.height) {
    why = "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
    return false;
  }
  const int skip = got.height - sent.height;
  for (int y = 0; y < sent.height; ++y)
    if (!std::equal(sent.Row(y), sent.Row(y) + sent.Stride(), got.Row(y + skip))) {
      why = "row " + std::to_string(y) + " differs";
      return false;
    }
  return true;
}

// The words tesseract reads in the top rows of a page, letters and digits
// only, in lower case.
std::string ReadHeader(const linetest::TBitmap& page, int rows, const fs::path& work) {
  QImage band(page.width, rows, QImage::Format_Grayscale8);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < page.width; ++x)
      band.setPixel(x, y, (page.Row(y)[x / 8] >> (7 - x % 8)) & 1 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
  const QString png = QString::fromStdString((work / "header.png").string());
  band.scaled(band.width() * 2, band.height() * 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(png);
  QProcess ocr;
  ocr.start("tesseract", {png, "stdout", "--psm", "7"});
  if (!ocr.waitForFinished(60000)) return {};
  std::string text;
  for (char c : ocr.readAllStandardOutput().toStdString())
    if (std::isalnum(static_cast<unsigned char>(c))) text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class SendLine : public ::testing::Test {
 protected:
  void SetUp() override {
    line_ = std::make_unique<linetest::TLineProcess>(temp_.Path() / "line");
    ASSERT_TRUE(line_->Ready()) << line_->Log();
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    fs::create_directories(send_);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    if (line_) line_->Stop();
  }

  void WriteIni(int faxClass, const std::string& dialing = "DialAttempts=1\r\nRetryWait=5\r\n") {
    std::ofstream(home_ / "CV.INI", std::ios::binary)
        << "[User]\r\nName=Ann Lee\r\nFax=555 0101\r\n[Dialing]\r\n" << dialing << "[Modem]\r\nComPort=0\r\nFaxClass="
        << faxClass << "\r\nMaximumBPS=14400\r\n[Ports]\r\nCOM1=" << line_->Link(1).string() << "\r\n";
  }

  // A printer-driver job: NAME.APF and its description NAME.ZRD.
  std::vector<linetest::TBitmap> MakeJob(const std::string& name, int pages, int height, bool fine) {
    std::vector<linetest::TBitmap> bitmaps;
    for (int i = 0; i < pages; ++i) bitmaps.push_back(linetest::MakePage(11 + i, height));
    linepages::WriteApf(send_ / (name + ".APF"), bitmaps, fine);
    std::ofstream(send_ / (name + ".ZRD"), std::ios::binary) << "200\r\nFar End\r\nFirst fax\r\n";
    return bitmaps;
  }

  // Starts the main window; the job in SEND becomes the current row.
  void Start(TMainScreen& w, uint32_t rows = 1) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
    ASSERT_EQ(w.FaxTable.RecordCount(), rows);
    if (rows == 0) return;
    ASSERT_TRUE(w.SendButton->isEnabled());
    ASSERT_TRUE(w.SendFax1->isEnabled());
  }

  // Presses Send and waits until the send window has closed again.
  void Send(TMainScreen& w, TSendScript& script, int seconds = 150) {
    TSendDriver driver(script);
    QTimer::singleShot(0, w.SendButton, &QPushButton::click);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.closed && !QApplication::activeModalWidget(); }, seconds * 1000))
        << line_->Log();
  }

  using TFarEndFax = linepages::TFarEndFax;
  TFarEndFax FarEndResult() {
    std::string log;
    return linepages::FarEndLatest(line_->Received(), log);
  }

  // A whole send of a job to the far end, checked from the far end's pages
  // to the row and the session log.
  void SendJobToFarEnd(int faxClass, int pageCount, bool fine, bool portLog = false) {
    WriteIni(faxClass);
    const auto pages = MakeJob("JOB1", pageCount, fine ? 480 : 240, fine);
    TMainScreen w;
    Start(w);
    TSendScript script;
    if (portLog)
      script.fill = [](TSendFaxForm& f) {
        // Typed before the press: its confirmation box is answered on the way.
        QTimer::singleShot(0, &f, [&f] {
          QTest::keyClick(f.sfPhoneNumber, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        });
      };
    Send(w, script);
    if (portLog) {
      ASSERT_FALSE(script.boxes.isEmpty());
      EXPECT_TRUE(script.boxes.front().startsWith("Logging is now ON."));
      script.boxes.removeFirst();
      const std::string cvout = linetest::ReadText(home_ / "CVOUT.LOG");
      for (const char* entry : {"Check_for_modem", "Start_of_fax_session", "Phone_200", "FaxClass_Class[20]2"})
        EXPECT_NE(cvout.find(entry), std::string::npos) << entry << "\n" << cvout.substr(0, 2000);
      EXPECT_NE(linetest::ReadText(home_ / "Lastsend.log").find("Logging on"), std::string::npos);
    }
    ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
    std::printf("longest user-interface stall during the send: %.1f ms (%s)\n", script.meter.LongestMs(),
                qPrintable(script.meter.Where()));
    // The status window followed the call live.
    EXPECT_TRUE(script.statusTexts.contains("Dialing")) << script.statusTexts.join("|").toStdString();
    EXPECT_TRUE(script.statusTexts.contains("Getting connection params")) << script.statusTexts.join("|").toStdString();
    // Status comes every second: a short page may be sent between two.
    if (script.statusTexts.contains("Sending page data")) {
      EXPECT_GT(script.meterMax, 0);
    }
    EXPECT_GE(script.elapsed.size(), 3) << script.elapsed.join("|").toStdString();  // the clock ran
    EXPECT_LT(script.meter.LongestMs(), kStallLimitMs);

    const TFarEndFax far = FarEndResult();
    EXPECT_EQ(far.result, 0) << linetest::ReadText(line_->Received() / "faxes.log");
    ASSERT_EQ(far.pages, pageCount);
    for (int p = 0; p < pageCount; ++p) {
      const auto got = linetest::ReadPbm(far.file + "-p" + std::to_string(p + 1) + ".pbm");
      ASSERT_TRUE(got) << "page " << p + 1;
      std::string why;
      EXPECT_TRUE(SameBelowHeader(*got, pages[static_cast<size_t>(p)], why)) << "page " << p + 1 << ": " << why;
      if (p == 0 && fine) {
        const std::string header = ReadHeader(*got, got->height - pages[0].height, temp_.Path());
        EXPECT_NE(header.find("annlee"), std::string::npos) << header;
        EXPECT_NE(header.find("5550101"), std::string::npos) << header;
      }
    }

    TXbDataTable& t = w.FaxTable;
    ASSERT_TRUE(t.Table()->Go(1));
    EXPECT_EQ(t.FieldText("LASTRESULT"), "Sent");
    const QDate today = QDate::currentDate();
    EXPECT_EQ(t.FieldText("DATESENT"), today.toString("yyyyMMdd").toStdString());
    EXPECT_EQ(t.FieldText("TIMESENT").size(), 5u);
    EXPECT_EQ(t.FieldText("PHONE"), "200");
    const std::string log = linetest::ReadText(home_ / "Lastsend.log");
    for (const char* line : {"Opening com port: COM1", "Opened com port OK", "Fax#: 200", "StartTransmit",
                             "Result: OK", "Finish: "})
      EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
  const fs::path send_ = home_ / "SEND";
  std::unique_ptr<linetest::TLineProcess> line_;
};

}  // namespace

TEST_F(SendLine, Class1SendsAPrinterJobToTheFarEnd) { SendJobToFarEnd(1, 2, true); }

TEST_F(SendLine, Class2SendsAPrinterJobToTheFarEndWithThePortLogged) { SendJobToFarEnd(2, 1, false, true); }

TEST_F(SendLine, Class20SendsAPrinterJobToTheFarEnd) { SendJobToFarEnd(3, 1, true); }

TEST_F(SendLine, AutomaticClassDetectionSendsAPrinterJobToTheFarEnd) { SendJobToFarEnd(0, 1, false); }

TEST_F(SendLine, ClassAndRateChosenInThePreferencesWizardAreThoseOfTheNextCall) {
  WriteIni(2);  // Class 2 at 14400 until the wizard changes them
  MakeJob("JOB1", 1, 240, false);
  TMainScreen w;
  Start(w);
  // The wizard is answered as a user would: Class 1, 9600, Finish, Yes.
  QTimer wizardDriver;
  QObject::connect(&wizardDriver, &QTimer::timeout, [] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* wizard = qobject_cast<TPreferences*>(modal); wizard && !wizard->property("done").toBool()) {
      wizard->setProperty("done", true);
      wizard->FaxClass->setCurrentIndex(1);
      wizard->TransferRate->setCurrentIndex(3);
      QTimer::singleShot(0, wizard->FinishButton, &QPushButton::click);
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      box->button(QMessageBox::Yes)->click();
    }
  });
  wizardDriver.start(10);
  w.Preferences1->trigger();
  wizardDriver.stop();
  ASSERT_EQ(Settings.FaxClass, 1);
  ASSERT_EQ(Settings.MaximumBPS, 9600);

  TSendScript script;
  Send(w, script);
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
  const TFarEndFax far = FarEndResult();
  EXPECT_EQ(far.result, 0);
  const std::string farLog = linetest::ReadText(line_->Received() / "faxes.log");
  EXPECT_NE(farLog.find(" rate=9600 "), std::string::npos) << farLog;
  const std::string log = linetest::ReadText(home_ / "Lastsend.log");
  for (const char* line : {"Fax Class: Class 1", "Desired BPS: 9600"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(SendLine, BusyNumberIsDialledTwiceThenTheFailureIsShownAndStored) {
  WriteIni(1, "DialAttempts=2\r\nRetryWait=2\r\n");
  MakeJob("JOB1", 1, 200, false);
  ASSERT_EQ(line_->Control("busy 200 on").rfind("OK", 0), 0u);
  TMainScreen w;
  Start(w);
  TSendScript script;
  Send(w, script);
  EXPECT_LT(script.meter.LongestMs(), kStallLimitMs);
  ASSERT_EQ(script.errorCaptions, QStringList{"Fax Failure"});
  EXPECT_TRUE(script.errorTexts.front().contains("Called fax number was busy")) << script.errorTexts.front().toStdString();
  EXPECT_EQ(script.dialAttemptsAtError, 2);
  // Between the two attempts the status window counts the wait down.
  const QString waiting = QString::fromStdString(TFxAbstractFax::ProgressText(fxprogress::fpBusyWait)) + " 0:0";
  EXPECT_TRUE(std::any_of(script.statusTexts.begin(), script.statusTexts.end(),
                          [&](const QString& t) { return t.startsWith(waiting); }))
      << script.statusTexts.join("|").toStdString();
  TXbDataTable& t = w.FaxTable;
  ASSERT_TRUE(t.Table()->Go(1));
  EXPECT_EQ(t.FieldText("LASTRESULT"), "Called fax number was busy");
  EXPECT_EQ(t.FieldText("DATESENT"), "");
  EXPECT_NE(linetest::ReadText(home_ / "Lastsend.log").find("Result: Called fax number was busy"), std::string::npos);
}

TEST_F(SendLine, CoverAndDocumentOfDifferentResolutionsGoInOneCall) {
  WriteIni(1);
  const auto cover = std::vector<linetest::TBitmap>{linetest::MakePage(40, 150)};
  const auto doc = std::vector<linetest::TBitmap>{linetest::MakePage(41, 400)};
  linepages::WriteApf(send_ / "COV00000.APF", cover, false);
  linepages::WriteApf(send_ / "FAX00000.APF", doc, true);
  TMainScreen w;
  Start(w, 0);
  TXbDataTable& t = w.FaxTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.SetFieldText("PHONE", "200"));
  ASSERT_TRUE(t.SetFieldText("FAXDOC", "FAX00000.APF"));
  ASSERT_TRUE(t.SetFieldText("FAXCOVER", "cov00000.apf"));  // found in any letter case
  ASSERT_TRUE(t.Post());
  w.SetButtons();
  TSendScript script;
  Send(w, script);
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
  const TFarEndFax far = FarEndResult();
  ASSERT_EQ(far.pages, 2);
  const std::vector<linetest::TBitmap> expected{cover.front(), doc.front()};
  for (int p = 0; p < 2; ++p) {
    const auto got = linetest::ReadPbm(far.file + "-p" + std::to_string(p + 1) + ".pbm");
    ASSERT_TRUE(got);
    std::string why;
    EXPECT_TRUE(SameBelowHeader(*got, expected[static_cast<size_t>(p)], why)) << "page " << p + 1 << ": " << why;
  }
}

TEST_F(SendLine, CancelDuringPageDataEndsTheCallAndThePortServesTheNextSend) {
  WriteIni(1);
  MakeJob("JOB1", 1, 2400, true);  // long enough to be cut short
  TMainScreen w;
  Start(w);
  TSendScript script;
  script.runs = 2;
  QElapsedTimer inPage;
  script.cancelWhen = [&inPage](TSendFaxForm& f) {
    if (f.Stage() != TSendStage::Transmitting || f.FxSendFax1.ProgressCode() != fxprogress::fpSendPage) return false;
    if (!inPage.isValid()) inPage.start();
    return inPage.elapsed() > 1500;
  };
  std::string resultAfterCancel = "?", dateAfterCancel = "?";
  script.onError = [&] {
    if (!w.FaxTable.Table()->Go(1)) return;
    resultAfterCancel = w.FaxTable.FieldText("LASTRESULT");
    dateAfterCancel = w.FaxTable.FieldText("DATESENT");
  };
  Send(w, script, 200);
  std::printf("longest user-interface stall during send, cancel and a second send: %.1f ms (%s)\n",
              script.meter.LongestMs(), qPrintable(script.meter.Where()));
  ASSERT_TRUE(script.cancelled);
  EXPECT_TRUE(script.statusClosedAtCancel);
  EXPECT_LT(script.meter.LongestMs(), kStallLimitMs);
  // The cancelled call is reported as such, then the second press goes
  // through on the same port.
  ASSERT_EQ(script.errorCaptions, QStringList{"Fax Failure"});
  const QString cancelText = QString::fromStdString(FxErrorText(fxcode::ecCancelRequested));
  EXPECT_TRUE(script.errorTexts.front().contains(cancelText)) << script.errorTexts.front().toStdString();
  EXPECT_EQ(resultAfterCancel, FxErrorText(fxcode::ecCancelRequested));
  EXPECT_EQ(dateAfterCancel, "");
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << line_->Log();
  const std::string log = linetest::ReadText(home_ / "Lastsend.log");
  EXPECT_NE(log.find("Result: OK"), std::string::npos) << log;
  TXbDataTable& t = w.FaxTable;
  ASSERT_TRUE(t.Table()->Go(1));
  EXPECT_EQ(t.FieldText("LASTRESULT"), "Sent");
  // The window let the port go: the modem answers another program at once.
  linetest::TModemClient m(line_->Link(1));
  ASSERT_TRUE(m.Open());
  EXPECT_NE(m.Command("AT").find("OK"), std::string::npos);
}

TEST_F(SendLine, AProgramKilledMidCallLeavesTheRowAsItWasAndTheNextStartSends) {
  const fs::path locks = temp_.Path() / "locks";
  fs::create_directories(locks);
  SetLockFolder(locks);  // the child gets the same folder through the environment
  WriteIni(1);
  MakeJob("JOB1", 1, 2400, true);
  std::map<std::string, std::string> before;
  {
    TMainScreen w;
    Start(w);
    ASSERT_TRUE(w.FaxTable.Table()->Go(1));
    for (const char* f : {"LASTRESULT", "DATESENT", "TIMESENT", "PHONE", "FAXDOC"}) before[f] = w.FaxTable.FieldText(f);
  }
  const fs::path marker = temp_.Path() / "in-page";
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_CONFIG_HOME", QString::fromStdString((home_ / "config").string()));
  env.insert("CORVANE_LOCK_DIR", QString::fromStdString(locks.string()));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(SEND_CHILD_BIN, {QString::fromStdString(home_.string()), QString::fromStdString(marker.string())});
  ASSERT_TRUE(child.waitForStarted(10000));
  const qint64 pid = child.processId();
  const bool inPage = QTest::qWaitFor([&] { return fs::exists(marker) || child.state() == QProcess::NotRunning; }, 120000);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  ASSERT_TRUE(child.waitForFinished(10000));
  ASSERT_TRUE(inPage && fs::exists(marker)) << "the child never got to page data\n" << line_->Log();

  // The lock names the killed program: stale, and broken by the next open.
  const fs::path lock = LockFileName(TComDevice::CanonicalPath(line_->Link(1).string()));
  ASSERT_TRUE(fs::exists(lock));
  EXPECT_EQ(ParseLockOwner(linetest::ReadText(lock)), pid);
  EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0);
  {
    TComDevice device;
    EXPECT_EQ(device.Open(line_->Link(1).string()), 0);
  }
  EXPECT_FALSE(fs::exists(lock));

  // The row is as it was before Send, and the next start sends it.
  TMainScreen w;
  Start(w);
  ASSERT_TRUE(w.FaxTable.Table()->Go(1));
  for (const auto& [field, value] : before) EXPECT_EQ(w.FaxTable.FieldText(field), value) << field;
  TSendScript script;
  Send(w, script, 200);
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
  ASSERT_TRUE(w.FaxTable.Table()->Go(1));
  EXPECT_EQ(w.FaxTable.FieldText("LASTRESULT"), "Sent");
  SetLockFolder({});
}

TEST_F(SendLine, AVoiceAnswerAndACallDroppedMidPageEndInTheRowAndFreeThePort) {
  struct TFault {
    const char* control;
    bool inPage;  // given once page data flows (on a long page), else before the press
    const char* undo;
  };
  const TFault faults[] = {{"voice 200 on", false, "voice 200 off"}, {"hangup 200 1000", true, ""}};
  WriteIni(1);
  for (const TFault& f : faults) {
    SCOPED_TRACE(f.control);
    fs::remove(home_ / "CVOUT.DBF");
    fs::remove(home_ / "CVOUT.CDX");
    MakeJob("JOB1", 1, f.inPage ? 2400 : 200, false);
    TMainScreen w;
    Start(w);
    TSendScript script;
    std::string reply;
    std::thread control;  // off the window's thread: its stall is being measured
    if (!f.inPage) script.fill = [&](TSendFaxForm&) { reply = line_->Control(f.control); };
    else
      script.cancelWhen = [&](TSendFaxForm& form) {
        if (!control.joinable() && form.FxSendFax1.ProgressCode() == fxprogress::fpSendPage)
          control = std::thread([&] { reply = line_->Control(f.control); });
        return false;
      };
    Send(w, script);
    if (control.joinable()) control.join();
    EXPECT_EQ(reply, "OK");
    if (*f.undo) line_->Control(f.undo);
    ASSERT_EQ(script.errorCaptions, QStringList{"Fax Failure"});
    const QString shown = script.errorTexts.front();
    const qsizetype at = shown.indexOf("Error message: ");
    ASSERT_GE(at, 0) << shown.toStdString();
    const std::string engineText = shown.mid(at + 15).trimmed().toStdString();
    EXPECT_FALSE(engineText.empty());
    ASSERT_TRUE(w.FaxTable.Table()->Go(1));
    EXPECT_EQ(w.FaxTable.FieldText("LASTRESULT"), engineText);
    EXPECT_EQ(w.FaxTable.FieldText("DATESENT"), "");
    EXPECT_LT(script.meter.LongestMs(), kStallLimitMs) << qPrintable(script.meter.Where());
    w.close();
    linetest::TModemClient m(line_->Link(1));
    ASSERT_TRUE(m.Open());
    EXPECT_NE(m.Command("AT").find("OK"), std::string::npos);
  }
}

TEST_F(SendLine, ACoverSheetMadeWithNewIsTheFarEndsFirstPage) {
  WriteIni(1);
  ASSERT_GT(InstallStockTemplates(CoversFolder()), 0);
  TMainScreen w;
  Start(w, 0);
  {
    TCreateEditQuickFax editor(w.FaxTable, true);
    editor.show();
    editor.Recipient->setText("Far End");
    editor.RecipientFax->setText("200");
    editor.Regarding->setText("Shipment schedule");
    editor.FaxMessage->setPlainText("The goods leave on Monday.");
    editor.SaveButton->click();
    ASSERT_EQ(editor.result(), QDialog::Accepted);
  }
  w.FaxTableCloseAndOpen();
  w.SetButtons();
  ASSERT_TRUE(w.SendButton->isEnabled());
  TSendScript script;
  Send(w, script);
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
  const TFarEndFax far = FarEndResult();
  ASSERT_EQ(far.pages, 1);
  // The far end's page reads as the cover: the regarding text and the sender.
  QProcess ocr;
  ocr.start("tesseract", {QString::fromStdString(far.file + "-p1.pbm"), "stdout"});
  ASSERT_TRUE(ocr.waitForFinished(120000));
  const std::string text = QString::fromUtf8(ocr.readAllStandardOutput()).simplified().toStdString();
  for (const char* expected : {"Shipment schedule", "Far End", "Ann Lee"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " not in: " << text;
}

// A template drawn in the designer is the one the cover sheet editor renders:
// the designer's own words and the fields it placed reach the far end.
TEST_F(SendLine, ATemplateMadeInTheDesignerIsTheCoverTheFarEndReceives) {
  WriteIni(1);
  ASSERT_GT(InstallStockTemplates(CoversFolder()), 0);
  {
    TCoverDesMainScreen designer(nullptr, fs::path(CoversFolder()));
    designer.Inform = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    TCoverSurface& surface = designer.FaxCoverPanel->Surface();
    TCoverObject title = MakeCoverObject(TCoverObjectKind::ckText);
    title.Caption = "DESIGNED COVER";
    title.Font.Size = 28;
    title.Font.Bold = true;
    title.Left = 120;
    title.Top = 100;
    title.Width = 560;
    title.Height = 60;
    TCoverObject regarding = MakeCoverObject(TCoverObjectKind::ckField);
    regarding.CoverFieldType = cfRegarding;
    regarding.Font.Size = 16;
    regarding.Left = 120;
    regarding.Top = 300;
    regarding.Width = 560;
    regarding.Height = 40;
    TCoverObject rule = MakeCoverObject(TCoverObjectKind::ckLine);
    rule.Left = 120;
    rule.Top = 200;
    rule.Width = 560;
    rule.Height = 10;
    for (TCoverObject* o : {&title, &regarding, &rule}) static_cast<void>(surface.Add(*o));
    designer.FaxCoverPanel->Changed();
    ASSERT_TRUE(designer.SaveTemplateUnder(fs::path(CoversFolder()) / "CV0002.FCS", "Made in the designer"));
  }
  TMainScreen w;
  Start(w, 0);
  {
    TCreateEditQuickFax editor(w.FaxTable, true);
    editor.show();
    editor.SetTemplateName("CV0002.FCT");
    editor.Recipient->setText("Far End");
    editor.RecipientFax->setText("200");
    editor.Regarding->setText("Quarterly figures");
    editor.SaveButton->click();
    ASSERT_EQ(editor.result(), QDialog::Accepted);
  }
  w.FaxTableCloseAndOpen();
  w.SetButtons();
  ASSERT_TRUE(w.SendButton->isEnabled());
  TSendScript script;
  Send(w, script);
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
  const TFarEndFax far = FarEndResult();
  ASSERT_EQ(far.pages, 1);
  QProcess ocr;
  ocr.start("tesseract", {QString::fromStdString(far.file + "-p1.pbm"), "stdout"});
  ASSERT_TRUE(ocr.waitForFinished(120000));
  const std::string text = QString::fromUtf8(ocr.readAllStandardOutput()).simplified().toStdString();
  for (const char* expected : {"DESIGNED COVER", "Quarterly figures"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " not in: " << text;
}

namespace {

// Page n of an APF file as the line harness's bitmap (1 = black) on the
// whole fax width: the unpacker's bitmap ends after the last inked column.
std::optional<linetest::TBitmap> FaxPage(const fs::path& apf, unsigned n) {
  TFxFaxUnpacker u;
  u.SetInFileName(apf.string());
  u.AutoScaleMode = TAutoScaleMode::asNone;
  TFxBitmap b;
  if (u.TryPageToBitmap(n, b) != 0 || b.width > 1728) return std::nullopt;
  linetest::TBitmap page;
  page.width = 1728;
  page.height = static_cast<int>(b.height);
  page.bits.assign(page.Stride() * b.height, 0);
  const size_t used = (b.width + 7) / 8;
  for (unsigned y = 0; y < b.height; ++y)
    for (size_t x = 0; x < used; ++x) page.bits[y * page.Stride() + x] = static_cast<uint8_t>(~b.Row(y)[x]);
  if (b.width % 8 != 0)  // bits past the bitmap's width are white
    for (unsigned y = 0; y < b.height; ++y)
      page.bits[y * page.Stride() + used - 1] &= static_cast<uint8_t>(0xFF << (8 - b.width % 8));
  return page;
}

}  // namespace

// A PDF dropped on the main window becomes a row through the information
// editor, is sent to the far end, and the far end's pages are the imported
// pages below its header line.
TEST_F(SendLine, DroppedPdfIsSentAndTheFarEndGetsTheImportedPages) {
  WriteIni(1);
  HandPdfPage first, second;
  first.content = "BT /F1 12 Tf 72 700 Td (Quarterly delivery schedule) Tj ET\n"
                  "BT /F1 10 Tf 72 680 Td (Crates leave the dock every Tuesday) Tj ET\n"
                  "0.5 w 72 660 m 540 660 l S\n";
  second.content = "BT /F1 12 Tf 72 700 Td (Second page of the schedule) Tj ET\n72 600 200 20 re f\n";
  const fs::path pdf = temp_.Path() / "schedule.pdf";
  TTempFolder::WriteFile(pdf, MakeHandPdf({first, second}));

  TMainScreen w;
  Start(w, 0);
  {
    TModalAnswers answers;
    answers.For<TFaxEditor>([](TFaxEditor* f) {
      f->Recipient->setText("Far End");
      f->FaxNumber->setText("200");
      f->Subject->setText("Schedule");
      f->OKButton->click();
    });
    ASSERT_TRUE(DropOn(w.FaxGrid->viewport(), {Local(pdf)}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done() && w.FaxTable.RecordCount() == 1; }, 60000));
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.SendButton->isEnabled(); }, 5000));
  const fs::path apf = send_ / w.FaxTable.FieldText("FAXDOC");
  std::vector<linetest::TBitmap> imported;
  for (unsigned n = 1; n <= 2; ++n) {
    auto page = FaxPage(apf, n);
    ASSERT_TRUE(page) << "page " << n;
    // Text and rules made it onto the page: the comparison is not of blanks.
    EXPECT_GT(std::count_if(page->bits.begin(), page->bits.end(), [](uint8_t b) { return b != 0; }), 500) << n;
    imported.push_back(*page);
  }
  ASSERT_FALSE(FaxPage(apf, 3));

  TSendScript script;
  Send(w, script);
  ASSERT_EQ(script.boxes, QStringList{"The fax was sent successfully"}) << script.errorTexts.join("|").toStdString();
  const TFarEndFax far = FarEndResult();
  EXPECT_EQ(far.result, 0) << linetest::ReadText(line_->Received() / "faxes.log");
  EXPECT_EQ(far.resolution, "8031x7700") << "fine resolution, in dots per metre";
  ASSERT_EQ(far.pages, 2);
  for (int p = 0; p < 2; ++p) {
    const auto got = linetest::ReadPbm(far.file + "-p" + std::to_string(p + 1) + ".pbm");
    ASSERT_TRUE(got) << "page " << p + 1;
    std::string why;
    EXPECT_TRUE(SameBelowHeader(*got, imported[static_cast<size_t>(p)], why))
        << "page " << p + 1 << ": " << why << " imported " << imported[static_cast<size_t>(p)].width << "x" << imported[static_cast<size_t>(p)].height;
  }
  ASSERT_TRUE(w.FaxTable.Table()->Go(1));
  EXPECT_EQ(w.FaxTable.FieldText("LASTRESULT"), "Sent");
}
