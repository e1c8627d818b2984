// Receive mode from the main window over the virtual modem line: the far end
// (number 200) calls COM1 and sends a TIFF; the fax must become a row of the
// received list, an image holding exactly the pages sent, and lines of
// "Lastrec.log". Calls that end early keep the pages confirmed before.
#include <QAction>
#include <QDialog>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTableView>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>

#include "faxengine/session/FaxCodes.h"
#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "mainscreen/ReceiveMode.h"
#include "mainscreen/TGraphicPanel.h"
#include "mainscreen/TMainScreen.h"
#include "mainscreen/tests/ModalCatcher.h"
#include "shell/TStartingFaxForm.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/core/Xbase.h"
#include "testsupport/TempFolder.h"
#include "testsupport/LineHarness.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

constexpr char kFarEndId[] = "+1 555 0200";

// The pages of an APF file as the harness' bitmaps (1 = black).
std::vector<linetest::TBitmap> ApfPages(const fs::path& file) {
  std::vector<linetest::TBitmap> pages;
  TFxFaxUnpacker u;
  u.SetInFileName(file.string());
  const unsigned count = u.PageCount();
  for (unsigned p = 1; p <= count; ++p) {
    linetest::TBitmap got;
    got.width = 1728;
    u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len, unsigned) {
      if (starting || ending || !data) return;
      got.bits.insert(got.bits.end(), data, data + std::min<size_t>(len, got.Stride()));
      if (len < got.Stride()) got.bits.resize(got.bits.size() + got.Stride() - len, 0);
      ++got.height;
    };
    u.UnpackPage(p);
    pages.push_back(std::move(got));
  }
  return pages;
}

// While it lives, no file of this process may grow past `bytes` (the disk
// seen as full); writes past it fail with EFBIG instead of a signal.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(uintmax_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = static_cast<rlim_t>(bytes);
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldSignal_);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  bool Ok() const { return ok_; }

 private:
  rlimit old_{};
  void (*oldSignal_)(int) = nullptr;
  bool ok_ = false;
};

class ReceiveLine : public ::testing::Test {
 protected:
  void SetUp() override {
    line_ = std::make_unique<linetest::TLineProcess>(temp_.Path() / "line");
    ASSERT_TRUE(line_->Ready()) << line_->Log();
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    if (line_) line_->Stop();
  }

  void WriteIni(int faxClass, const std::string& modem = {}, int bps = 14400,
                const std::string& receive = "DisableReceivingFaxesNotification=1\r\n") {
    std::ofstream(home_ / "CV.INI", std::ios::binary)
        << "[User]\r\nName=Ann Lee\r\nFax=555 0101\r\n[Modem]\r\nComPort=0\r\nFaxClassReceive=" << faxClass
        << "\r\nMaximumBPSReceive=" << bps << "\r\n" << modem << "[Receive]\r\n" << receive
        << "[Ports]\r\nCOM1=" << line_->Link(1).string() << "\r\n";
  }

  void Show(TMainScreen& w) {
    QObject::connect(w.ReceiveMode, &TReceiveMode::FaxReceived, [this](const TReceivedFax& f) { arrived_.push_back(f); });
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }

  // Presses Receive (unless receive mode starts by itself) and waits until
  // the modem waits for calls.
  void StartMode(TMainScreen& w, bool press = true) {
    if (press) w.ReceiveButton->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return w.ReceiveMode->Stage() == TReceiveStage::Off ||
                 (w.ReceiveMode->Stage() == TReceiveStage::On &&
                  w.ReceiveMode->FxReceiveFax1.ProgressCode() == fxprogress::fpWaiting);
        },
        30000));
    ASSERT_EQ(w.ReceiveMode->Stage(), TReceiveStage::On) << LastRec();
  }

  void StopMode(TMainScreen& w) {
    w.ReceiveButton->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.ReceiveMode->Stage() == TReceiveStage::Off; }, 30000));
  }

  // A TIFF of `count` pages for the far end to send.
  fs::path MakeFax(const std::string& name, int count, int rows, bool fine = true) {
    sent_.clear();
    for (int p = 0; p < count; ++p) sent_.push_back(linetest::MakePage(p + 7, rows));
    const fs::path tif = temp_.Path() / (name + ".tif");
    EXPECT_TRUE(linetest::WriteTiff(tif, sent_, std::vector<bool>(static_cast<size_t>(count), fine)));
    return tif;
  }

  void FarEndSends(const fs::path& tif) {
    ASSERT_EQ(line_->Control("send 101 " + tif.string()).rfind("OK", 0), 0u) << line_->Log();
  }

  bool WaitForRows(TMainScreen& w, uint32_t rows, int seconds = 60) {
    return QTest::qWaitFor([&] { return w.RecTable.RecordCount() >= rows; }, seconds * 1000);
  }

  // Waits until page `page` has been arriving for a second.
  bool WaitForPageData(TMainScreen& w, int page) {
    TFxReceiveFax& fax = w.ReceiveMode->FxReceiveFax1;
    const auto inPage = [&] { return fax.CurrentPage() >= page && fax.ProgressCode() == fxprogress::fpGetPage; };
    if (!QTest::qWaitFor(inPage, 60000)) return false;
    QTest::qWait(1000);
    return inPage();
  }

  // While a page arrives its bytes are counted and the status line shows
  // them, growing.
  static void ExpectPageBytesShown(TMainScreen& w) {
    TFxReceiveFax& fax = w.ReceiveMode->FxReceiveFax1;
    const long first = fax.BytesTransferred();
    EXPECT_GT(first, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fax.BytesTransferred() > first; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.Status->Caption().contains(" bytes)"); }, 5000))
        << w.Status->Caption().toStdString();
  }

  std::string LastRec() const { return linetest::ReadText(home_ / "Lastrec.log"); }

  // The row `recno` as FROM|PAGES|FAXFILE|NOTES.
  static std::string Row(TMainScreen& w, uint32_t recno) {
    TXbDataTable& t = w.RecTable;
    if (!t.Table() || !t.Table()->Go(recno)) return "no row";
    return t.FieldText("FROM") + "|" + QString::fromStdString(t.FieldText("PAGES")).trimmed().toStdString() + "|" + t.FieldText("FAXFILE") + "|" +
           t.FieldText("NOTES");
  }

  // The image holds exactly the pages sent, first `count` of them.
  void ExpectPages(const fs::path& apf, size_t count) {
    const auto got = ApfPages(apf);
    ASSERT_EQ(got.size(), count);
    for (size_t p = 0; p < count; ++p) {
      std::string why;
      EXPECT_TRUE(linetest::SamePage(got[p], sent_[p], why)) << "page " << p + 1 << ": " << why;
    }
  }

  // The serial device is free again: another program opens it and gets OK.
  void ExpectPortFree() {
    linetest::TModemClient client(line_->Link(1));
    ASSERT_TRUE(client.Open());
    EXPECT_NE(client.Command("AT").find("OK"), std::string::npos);
  }

  TTempFolder temp_;
  fs::path home_ = temp_.Path() / "home";
  std::unique_ptr<linetest::TLineProcess> line_;
  std::vector<linetest::TBitmap> sent_;
  std::vector<TReceivedFax> arrived_;
};

}  // namespace

// The whole path once, Class 1: commands while on, the row, the image, the
// list, the announcement, the session log and the port given back.
TEST_F(ReceiveLine, Class1TwoFinePagesBecomeARow) {
  WriteIni(1, "InitStringReceive=&F\r\n");
  TMainScreen w;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  EXPECT_EQ(w.ReceiveButton->text(), "STOP");
  EXPECT_EQ(w.ReceiveButton->toolTip(), "Stop receiving faxes");
  EXPECT_EQ(w.ReceiveFaxes1->text(), "Stop Receiving Faxes");
  EXPECT_EQ(w.TabSet1->currentIndex(), 1);
  EXPECT_EQ(w.ReceiveMode->FxReceiveFax1.ModemInit(), "AT&F");
  // Commands that need the modem or the tables to themselves refuse.
  w.RebuildIndexes1->trigger();
  w.SendButtonClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return catcher.seen.size() >= 2; }, 5000));
  EXPECT_TRUE(catcher.seen[0].startsWith("You are in Fax Receive mode. This operation cannot be done"));
  EXPECT_TRUE(catcher.seen[1].startsWith("You are in Fax Receive mode. You cannot send"));
  catcher.seen.clear();

  FarEndSends(MakeFax("two", 2, 200));
  ASSERT_TRUE(WaitForRows(w, 1)) << line_->Log();
  EXPECT_EQ(Row(w, 1), std::string(kFarEndId) + "|2|FAX0001.APF|");
  const QDate today = QDate::currentDate();
  EXPECT_EQ(w.RecTable.FieldText("DATEREC"), today.toString("yyyyMMdd").toStdString());
  const QTime at = QTime::fromString(QString::fromStdString(w.RecTable.FieldText("TIMEREC")), "hh:mm");
  ASSERT_TRUE(at.isValid());
  EXPECT_LE(std::abs(at.secsTo(QTime::currentTime())), 120);
  ExpectPages(home_ / "Receive" / "FAX0001.APF", 2);
  // The new row is the list's current row.
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.RecGrid->currentIndex().isValid(); }, 2000));
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_EQ(arrived_[0].from, kFarEndId);
  EXPECT_EQ(arrived_[0].pages, 2);
  EXPECT_TRUE(arrived_[0].complete);
  EXPECT_EQ(arrived_[0].recNo, 1u);
  EXPECT_TRUE(catcher.seen.isEmpty()) << catcher.seen.join("|").toStdString();

  ASSERT_NO_FATAL_FAILURE(StopMode(w));
  EXPECT_EQ(w.ReceiveButton->text(), "Receive");
  EXPECT_EQ(w.ReceiveButton->toolTip(), "Start receiving faxes");
  EXPECT_EQ(w.ReceiveFaxes1->text(), "Receive Faxes");
  EXPECT_FALSE(w.ReceiveMode->FxComPort1.Open());
  ExpectPortFree();
  const QStringList log = QString::fromStdString(LastRec()).split("\r\n", Qt::SkipEmptyParts);
  ASSERT_GE(log.size(), 10) << LastRec();
  EXPECT_TRUE(log.front().startsWith("Start:"));
  for (const char* line : {"Opening com port: COM1", "Opened com port OK", "Checking for modem", "Desired BPS: 14400",
                           "Fax Class: Class 1", "User INIT String: &F", "StartReceive", "Receiving a fax",
                           "Received OK   From: +1 555 0200  Pages: 2"})
    EXPECT_TRUE(log.contains(line)) << line << "\n" << LastRec();
  EXPECT_EQ(log[log.size() - 2], "Stopped receive mode");
  EXPECT_TRUE(log.back().startsWith("Finish: "));
}

// Class 2, Class 2.0 and the modem's own choice; the automatic choice takes
// two calls in a row without leaving receive mode.
class ReceiveLineClass : public ReceiveLine, public ::testing::WithParamInterface<int> {};

TEST_P(ReceiveLineClass, TakesTheFax) {
  const int faxClass = GetParam();
  // Class 2 starts receive mode at start-up with the starting window.
  const bool atStartup = faxClass == 2;
  WriteIni(faxClass, "InitStringReceive=at&f\r\n", 14400,
           atStartup ? "AtStartup=1\r\n" : "DisableReceivingFaxesNotification=1\r\n");
  TMainScreen w;
  TStartingFaxForm starting(&w);
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  // Class 2.0 keeps the port log of the session.
  const bool portLog = faxClass == 3;
  if (portLog) {
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(catcher.seen.size(), 1);
    EXPECT_TRUE(catcher.seen.takeFirst().startsWith("Logging is now ON."));
  }
  ASSERT_NO_FATAL_FAILURE(StartMode(w, !atStartup));
  EXPECT_EQ(starting.isVisible(), atStartup);
  if (atStartup) {
    EXPECT_TRUE(starting.ReadyPanel->isVisible());
    EXPECT_TRUE(starting.OkButton->isVisible());
  }
  EXPECT_EQ(w.ReceiveMode->FxReceiveFax1.ModemInit(), "AT&F");
  const int calls = faxClass == 0 ? 2 : 1;
  for (int call = 1; call <= calls; ++call) {
    FarEndSends(MakeFax("fax" + std::to_string(call), 2, 150));
    ASSERT_TRUE(WaitForRows(w, static_cast<uint32_t>(call))) << line_->Log();
    const std::string file = "FAX000" + std::to_string(call) + ".APF";
    EXPECT_EQ(Row(w, static_cast<uint32_t>(call)), std::string(kFarEndId) + "|2|" + file + "|");
    ExpectPages(home_ / "Receive" / file, 2);
    if (call < calls) {
      ASSERT_TRUE(QTest::qWaitFor(
          [&] { return w.ReceiveMode->FxReceiveFax1.ProgressCode() == fxprogress::fpWaiting; }, 30000));
    }
  }
  // An arriving call puts the starting window away.
  EXPECT_FALSE(starting.isVisible());
  EXPECT_EQ(arrived_.size(), static_cast<size_t>(calls));
  EXPECT_TRUE(catcher.seen.isEmpty()) << catcher.seen.join("|").toStdString();
  // Closing the program ends receive mode first and gives the port back.
  w.close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Closed(); }, 30000));
  EXPECT_FALSE(w.ReceiveMode->FxComPort1.Open());
  const std::string log = LastRec();
  EXPECT_NE(log.find("Stopped receive mode"), std::string::npos) << log;
  EXPECT_EQ(log.find("Logging on") != std::string::npos, portLog) << log;
  if (portLog) {
    EXPECT_GT(linetest::ReadText(home_ / "CVIN.LOG").size(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, ReceiveLineClass, ::testing::Values(2, 3, 0));

// The caller hangs up during page 2: page 1 was confirmed and is kept, the
// row says the fax is incomplete, the error window shows the engine's
// message, and receive mode waits for the next call.
TEST_F(ReceiveLine, CallerHangingUpMidPageKeepsConfirmedPages) {
  WriteIni(1, {}, 9600);
  TMainScreen w;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  FarEndSends(MakeFax("long", 3, 1100));
  ASSERT_TRUE(WaitForPageData(w, 2)) << line_->Log();
  ExpectPageBytesShown(w);
  ASSERT_EQ(line_->Control("hangup 200").rfind("OK", 0), 0u);
  ASSERT_TRUE(WaitForRows(w, 1)) << line_->Log();
  const std::string row = Row(w, 1);
  EXPECT_EQ(row.rfind(std::string(kFarEndId) + "|1|FAX0001.APF|Incomplete: ", 0), 0u) << row;
  ExpectPages(home_ / "Receive" / "FAX0001.APF", 1);
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_FALSE(arrived_[0].complete);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.seen.isEmpty(); }, 10000));
  EXPECT_TRUE(catcher.seen[0].startsWith("Failed To Receive Incoming Fax: Corvane failed to receive an incoming fax."))
      << catcher.seen[0].toStdString();
  EXPECT_EQ(w.ReceiveMode->Stage(), TReceiveStage::On);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return w.ReceiveMode->FxReceiveFax1.ProgressCode() == fxprogress::fpWaiting; }, 30000));
  EXPECT_FALSE(fs::exists(home_ / "Receive" / ".receiving"));
  ASSERT_NO_FATAL_FAILURE(StopMode(w));
  EXPECT_NE(LastRec().find("Receive Failed with error: "), std::string::npos) << LastRec();
}

// STOP during page 2 of a Class 2 call: the call ends, the port is released,
// and the page confirmed before is in a row. Closing the program first asks,
// and answering No keeps receiving.
TEST_F(ReceiveLine, StoppingDuringACallReleasesThePort) {
  WriteIni(2, {}, 9600);
  TMainScreen w;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  FarEndSends(MakeFax("long", 3, 1100));
  ASSERT_TRUE(WaitForPageData(w, 2)) << line_->Log();
  ExpectPageBytesShown(w);
  EXPECT_FALSE(w.close());  // the catcher answers the question with No
  ASSERT_FALSE(catcher.seen.isEmpty());
  EXPECT_EQ(catcher.seen.takeFirst(), "You are recieving a fax. Close the program?");
  EXPECT_FALSE(w.Closed());
  EXPECT_TRUE(w.ReceiveMode->ReceivingNow());
  QElapsedTimer stopping;
  stopping.start();
  ASSERT_NO_FATAL_FAILURE(StopMode(w));
  // The cancel ends the call at once; it is not left to a timeout.
  EXPECT_LT(stopping.elapsed(), 10000);
  std::printf("receive mode stopped %lld ms after STOP during a call\n", static_cast<long long>(stopping.elapsed()));
  EXPECT_FALSE(w.ReceiveMode->FxComPort1.Open());
  EXPECT_EQ(w.ReceiveButton->text(), "Receive");
  ASSERT_EQ(w.RecTable.RecordCount(), 1u);
  const std::string row = Row(w, 1);
  EXPECT_EQ(row.rfind(std::string(kFarEndId) + "|1|FAX0001.APF|Incomplete: ", 0), 0u) << row;
  ExpectPages(home_ / "Receive" / "FAX0001.APF", 1);
  ExpectPortFree();
  const std::string log = LastRec();
  EXPECT_NE(log.find("Stopped receive mode"), std::string::npos) << log;
}

// efax calls from COM2 with its own Class 1 and sends two pages it converted
// itself: the row names efax's station identifier.
TEST_F(ReceiveLine, EfaxAsTheCaller) {
  if (!linetest::HaveProgram("efax") || !linetest::HaveProgram("efix")) GTEST_SKIP() << "efax and efix are needed";
  WriteIni(0);
  TMainScreen w;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  std::vector<std::string> argv{"efax", "-d", line_->Link(2).string(), "-o1", "-l", "+1 555 0102", "-t", "101"};
  for (int p = 0; p < 2; ++p) {
    const fs::path pbm = temp_.Path() / ("page" + std::to_string(p + 1) + ".pbm");
    const fs::path tif = temp_.Path() / ("page" + std::to_string(p + 1) + ".tif");
    ASSERT_TRUE(linetest::WritePbm(pbm, linetest::MakePage(p + 5, 200)));
    ASSERT_EQ(linetest::Run({"efix", "-i", "pbm", "-o", "tiffg3", "-n", tif.string(), pbm.string()},
                            temp_.Path() / "efix.log", 30s), 0);
    argv.push_back(tif.string());
  }
  linetest::TProcess efax(argv, temp_.Path() / "efax.log");
  ASSERT_TRUE(WaitForRows(w, 1)) << linetest::ReadText(temp_.Path() / "efax.log");
  EXPECT_EQ(Row(w, 1), "+1 555 0102|2|FAX0001.APF|");
  EXPECT_EQ(efax.Wait(30s), 0) << linetest::ReadText(temp_.Path() / "efax.log");
  EXPECT_TRUE(catcher.seen.isEmpty()) << catcher.seen.join("|").toStdString();
  ASSERT_NO_FATAL_FAILURE(StopMode(w));
}

// The Receive folder cannot take the image (a file stands in its place): the
// call fails with the error window, no row and no stray file, and receive
// mode goes on waiting.
TEST_F(ReceiveLine, UnwritableReceiveFolderIsReported) {
  WriteIni(1);
  fs::create_directories(home_);
  std::ofstream(home_ / "Receive") << "not a folder";
  TMainScreen w;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  FarEndSends(MakeFax("one", 1, 100));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.seen.isEmpty(); }, 60000)) << line_->Log();
  EXPECT_TRUE(catcher.seen[0].startsWith("Failed To Receive Incoming Fax: Corvane failed to receive an incoming fax."))
      << catcher.seen[0].toStdString();
  EXPECT_EQ(w.RecTable.RecordCount(), 0u);
  EXPECT_TRUE(arrived_.empty());
  EXPECT_EQ(w.ReceiveMode->Stage(), TReceiveStage::On);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return w.ReceiveMode->FxReceiveFax1.ProgressCode() == fxprogress::fpWaiting; }, 30000));
  ASSERT_NO_FATAL_FAILURE(StopMode(w));
  EXPECT_TRUE(fs::is_regular_file(home_ / "Receive"));
  EXPECT_NE(LastRec().find("Receive Failed with error: "), std::string::npos) << LastRec();
}

// The disk fills up during page 2: the call ends with the error window, the
// row keeps page 1 marked incomplete, the image holds page 1 alone and reads
// cleanly, and the port is given back when receive mode stops.
TEST_F(ReceiveLine, DiskFullDuringAPageKeepsTheWholePages) {
  WriteIni(1, {}, 9600);
  TMainScreen w;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  FarEndSends(MakeFax("long", 3, 1100));
  ASSERT_TRUE(WaitForPageData(w, 2)) << line_->Log();
  const fs::path apf = home_ / "Receive" / "FAX0001.APF";
  {
    TFileSizeLimit full(fs::file_size(apf) + 1000);
    ASSERT_TRUE(full.Ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.seen.isEmpty(); }, 60000)) << line_->Log();
  }
  EXPECT_TRUE(catcher.seen[0].startsWith("Failed To Receive Incoming Fax: Corvane failed to receive an incoming fax."));
  EXPECT_TRUE(catcher.seen[0].endsWith("The error message was:   Device write error")) << catcher.seen[0].toStdString();
  ASSERT_EQ(w.RecTable.RecordCount(), 1u);
  EXPECT_EQ(Row(w, 1), std::string(kFarEndId) + "|1|FAX0001.APF|Incomplete: Device write error");
  ExpectPages(apf, 1);
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_FALSE(arrived_[0].complete);
  EXPECT_EQ(w.ReceiveMode->Stage(), TReceiveStage::On);
  EXPECT_FALSE(fs::exists(home_ / "Receive" / ".receiving"));
  ASSERT_NO_FATAL_FAILURE(StopMode(w));
  ExpectPortFree();
}

// Counts the times a window is shown and hidden.
class TShowCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) ++shown;
    if (e->type() == QEvent::Hide) ++hidden;
    return false;
  }
  int shown = 0, hidden = 0;
};

// The starting window puts itself away after its time (shortened here) with
// no call; a call that arrives while the main window shows a modal window is
// answered all the same and its row is there before the modal window closes.
TEST_F(ReceiveLine, StartingWindowTimesOutAndACallIsTakenUnderAModalWindow) {
  WriteIni(1, {}, 14400, "");
  TMainScreen w;
  TStartingFaxForm starting(&w);
  starting.Timer1->setInterval(400);
  TShowCounter counter;
  starting.installEventFilter(&counter);
  TModalCatcher catcher;
  ASSERT_NO_FATAL_FAILURE(Show(w));
  ASSERT_NO_FATAL_FAILURE(StartMode(w));
  ASSERT_TRUE(QTest::qWaitFor([&] { return counter.shown > 0 && !starting.isVisible(); }, 5000))
      << counter.shown << " " << counter.hidden;
  EXPECT_EQ(w.ReceiveMode->Stage(), TReceiveStage::On);

  QDialog modal(&w);
  modal.setModal(true);
  bool rowWhileOpen = false, openAtRow = false;
  QTimer::singleShot(0, &modal, [&] {
    FarEndSends(MakeFax("under", 2, 150));
    rowWhileOpen = WaitForRows(w, 1);
    openAtRow = modal.isVisible() && QApplication::activeModalWidget() == &modal;
    modal.done(0);
  });
  modal.exec();
  EXPECT_TRUE(rowWhileOpen) << line_->Log();
  EXPECT_TRUE(openAtRow);
  EXPECT_EQ(Row(w, 1), std::string(kFarEndId) + "|2|FAX0001.APF|");
  ExpectPages(home_ / "Receive" / "FAX0001.APF", 2);
  EXPECT_TRUE(catcher.seen.isEmpty()) << catcher.seen.join("|").toStdString();
  ASSERT_NO_FATAL_FAILURE(StopMode(w));
}
