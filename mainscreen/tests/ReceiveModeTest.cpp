// Receive mode without a modem line: the status line and log rules, the
// received image kept to its complete pages, a start that cannot open the
// port, and a reception an earlier run left unfinished.
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QSoundEffect>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "mainscreen/ReceiveMode.h"
#include "mainscreen/ReceiveRules.h"
#include "mainscreen/TArrivalAnnouncer.h"
#include "shell/TWaveSound.h"
#include "mainscreen/TMainScreen.h"
#include "mainscreen/tests/ModalCatcher.h"
#include "mainscreen/tests/ToneWav.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/core/Xbase.h"
#include "testsupport/Pty.h"
#include "testsupport/ScriptedModem.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// An image of `pages` small pages (a few white lines each).
void WriteImage(const fs::path& file, int pages, const std::string& station = "+1 555 0200") {
  TFxApfWriter w;
  ASSERT_EQ(w.Create(file), 0);
  const uint8_t eolWhite[] = {0x00, 0x80, 0xB2, 0x59, 0x01};  // EOL, 1728 white
  for (int p = 0; p < pages; ++p) {
    for (int line = 0; line < 4; ++line) ASSERT_EQ(w.WriteRecord(eolWhite, sizeof eolWhite), 0);
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Finish(station), 0);
}

// What a run killed during a page leaves behind: a page header and data after
// the pages the file header counts.
void AppendCutOffPage(const fs::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  const std::string junk(16 + 300, '\x55');
  out << junk;
}

}  // namespace

TEST(ReceiveRules, StationIdIsCleanedAndCut) {
  EXPECT_EQ(CleanStationId("  +1 555 0200  "), "+1 555 0200");
  EXPECT_EQ(CleanStationId(std::string("A\x01\x1b[2J\nB\x7f\xff") + "C"), "A[2JBC");
  EXPECT_EQ(CleanStationId(std::string(200, 'x')), QString(20, 'x'));
  EXPECT_EQ(CleanStationId(std::string("\0\0\0", 3)), "");
}

TEST(ReceiveRules, StatusLine) {
  EXPECT_EQ(ReceiveStatusLine(" Got Class 2 FHNG code ", "ID", 0, 0), "Hangup successful from: ID");
  EXPECT_EQ(ReceiveStatusLine("Getting page data", "+1 555", 3, 1200), "Receiving fax from: +1 555, page 3 (1200 bytes)");
  EXPECT_EQ(ReceiveStatusLine("Getting page data", "+1 555", 0, 0), "Receiving fax from: +1 555");
  // Without an identifier the page part is left out too.
  EXPECT_EQ(ReceiveStatusLine("Getting page data", "", 3, 1200), "Receiving fax");
  EXPECT_EQ(ReceiveStatusLine("Answering incoming call", "", 0, 0), "Answering incoming call");
  EXPECT_EQ(ReceiveStatusLine("Session aborted", "ID", 0, 0), "");
}

TEST(ReceiveRules, ReceivedOkLine) {
  EXPECT_EQ(ReceivedOkLine("", 2), "Received OK   From:   Pages: 2");
  EXPECT_EQ(ReceivedOkLine("123456789012345678901234567890", 1),
            "Received OK   From: 12345678901234567890  Pages: 1");
}

// A file cut back keeps exactly its first pages, readable by the unpacker.
TEST(ReceiveRules, ImageKeepsItsCompletePages) {
  TTempFolder dir;
  const fs::path file = dir.Path() / "FAX0001.APF";
  ASSERT_NO_FATAL_FAILURE(WriteImage(file, 3));
  const auto whole = fs::file_size(file);
  AppendCutOffPage(file);
  EXPECT_EQ(CompleteReceivedPages(file), 3);
  ASSERT_EQ(KeepReceivedPages(file, 3), 0);
  EXPECT_EQ(fs::file_size(file), whole);
  ASSERT_EQ(KeepReceivedPages(file, 2), 0);
  TFxApfReader r;
  ASSERT_EQ(r.Open(file), 0);
  EXPECT_EQ(r.PageCount(), 2);
  EXPECT_EQ(r.Header().stationId, "+1 555 0200");
  TFxFaxUnpacker u;
  u.SetInFileName(file.string());
  EXPECT_EQ(u.PageCount(), 2u);
  EXPECT_LT(KeepReceivedPages(file, 3), 0);  // pages it does not have
  EXPECT_EQ(CompleteReceivedPages(dir.Path() / "none.APF"), -1);
  std::ofstream(dir.Path() / "bad.APF", std::ios::binary) << "not an image";
  EXPECT_EQ(CompleteReceivedPages(dir.Path() / "bad.APF"), -1);
}

class ReceiveModeWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    fs::create_directories(home_ / "Receive");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  void WriteIni(const std::string& port) {
    std::ofstream(home_ / "CV.INI", std::ios::binary)
        << "[User]\r\nFax=555 0101\r\n[Modem]\r\nComPort=0\r\n[Receive]\r\nDisableReceivingFaxesNotification=1\r\n"
        << "[Ports]\r\nCOM1=" << port << "\r\n";
  }
  std::string LastRec() const {
    std::ifstream in(home_ / "Lastrec.log", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  TTempFolder temp_;
  fs::path home_ = temp_.Path() / "home";
};

// A port that cannot be opened: the error window, then receive mode is off
// again and the session log says why.
TEST_F(ReceiveModeWindow, StartFailsOnAMissingPort) {
  WriteIni((temp_.Path() / "no-such-device").string());
  TMainScreen w;
  w.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  TModalCatcher catcher;
  w.ReceiveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.seen.isEmpty(); }, 20000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.ReceiveMode->Stage() == TReceiveStage::Off; }, 10000));
  EXPECT_TRUE(catcher.seen[0].startsWith("Error Opening Communications Port: ")) << catcher.seen[0].toStdString();
  EXPECT_TRUE(catcher.seen[0].contains("Is the Communications Port (COM1) correct? Please"));
  EXPECT_EQ(w.ReceiveButton->text(), "Receive");
  EXPECT_EQ(w.ReceiveButton->toolTip(), "Start receiving faxes");
  EXPECT_FALSE(w.ReceiveMode->FxComPort1.Open());
  const QStringList log = QString::fromStdString(LastRec()).split("\r\n", Qt::SkipEmptyParts);
  ASSERT_GE(log.size(), 5) << LastRec();
  EXPECT_TRUE(log[0].startsWith("Start:"));
  EXPECT_EQ(log[1], "Opening com port: COM1");
  EXPECT_EQ(log[2], "Error opening com port: COM1");
  EXPECT_TRUE(log[3].startsWith("Message:"));
  EXPECT_EQ(log[log.size() - 2], "Error...");
  EXPECT_TRUE(log.back().startsWith("Finish: "));
  // Commands refused in receive mode run again.
  EXPECT_TRUE(w.SendButton->isEnabled() || w.FaxTable.RecordCount() == 0);
}

// The program was killed during page 3: the two pages the header counts are
// kept as a row marked incomplete; a file with no page is removed.
TEST_F(ReceiveModeWindow, UnfinishedReceptionIsSettledAtStart) {
  WriteIni("/dev/null");
  const fs::path file = home_ / "Receive" / "FAX0001.APF";
  ASSERT_NO_FATAL_FAILURE(WriteImage(file, 2));
  AppendCutOffPage(file);
  MarkReceiving(home_ / "Receive", file.string());
  {
    TMainScreen w;
    ASSERT_EQ(w.RecTable.RecordCount(), 1u);
    ASSERT_TRUE(w.RecTable.Table()->Go(1));
    EXPECT_EQ(w.RecTable.FieldText("FROM"), "+1 555 0200");
    EXPECT_EQ(QString::fromStdString(w.RecTable.FieldText("PAGES")).trimmed(), "2");
    EXPECT_EQ(w.RecTable.FieldText("FAXFILE"), "FAX0001.APF");
    EXPECT_EQ(w.RecTable.FieldText("NOTES"), "Incomplete: the program ended during the call");
  }
  EXPECT_FALSE(fs::exists(ReceivingMarker(home_ / "Receive")));
  TFxFaxUnpacker u;
  u.SetInFileName(file.string());
  EXPECT_EQ(u.PageCount(), 2u);

  // Killed again before the first page was whole; the row before stays alone.
  const fs::path empty = home_ / "Receive" / "FAX0002.APF";
  ASSERT_NO_FATAL_FAILURE(WriteImage(empty, 0));
  AppendCutOffPage(empty);
  MarkReceiving(home_ / "Receive", empty.string());
  {
    TMainScreen w;
    EXPECT_EQ(w.RecTable.RecordCount(), 1u);
  }
  EXPECT_FALSE(fs::exists(empty));
  EXPECT_TRUE(fs::exists(file));
  // A marker naming a file with a row already is left alone.
  MarkReceiving(home_ / "Receive", file.string());
  {
    TMainScreen w;
    EXPECT_EQ(w.RecTable.RecordCount(), 1u);
  }
  EXPECT_TRUE(fs::exists(file));
}

// A fax stored by receive mode reaches the announcer: the arrival sound of
// the settings is started.
TEST_F(ReceiveModeWindow, AStoredFaxIsAnnounced) {
  const fs::path wav = home_ / "ring.wav";
  TTempFolder::WriteFile(wav, ToneWav());
  std::ofstream(home_ / "CV.INI", std::ios::binary)
      << "[User]\r\nFax=555 0101\r\n[Modem]\r\nComPort=0\r\n[Receive]\r\nDisableReceivingFaxesNotification=1\r\n"
      << "Wav=" << wav.string() << "\r\n";
  TMainScreen w;
  ASSERT_NE(w.Announcer, nullptr);
  TReceivedFax fax;
  fax.imageFile = QString::fromStdString((home_ / "Receive" / "FAX0001.APF").string());
  fax.from = "+1 555 0200";
  fax.pages = 1;
  emit w.ReceiveMode->FaxReceived(fax);
  EXPECT_EQ(w.Announcer->Sound().Effect()->source(), QUrl::fromLocalFile(QString::fromStdString(wav.string())));
}

// While receive mode is on (the modem here a script that agrees to
// everything), every command that would change the fax tables or their files
// (composing, the cleanup tool, the index rebuild) is refused with the same
// message, opens no window and changes nothing.
TEST_F(ReceiveModeWindow, ComposingCleanupAndRebuildAreRefusedWhileReceiveModeIsOn) {
  TPty pty;
  ASSERT_FALSE(pty.SlavePath().empty());
  TScriptedModem modem(pty, [](const std::string& command) -> TScriptedModem::TAnswer {
    if (command.find("+FCLASS=?") != std::string::npos) return "\r\n0,1,2,2.0\r\n\r\nOK\r\n";
    return "\r\nOK\r\n";
  });
  WriteIni(pty.SlavePath());
  TMainScreen w;
  w.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  // Record 1 has no cover (Add Cover), record 2 has one (Edit opens the cover sheet editor).
  ASSERT_TRUE(w.FaxTable.Append() && w.FaxTable.SetFieldText("RECIPIENT", "Plain") &&
              w.FaxTable.SetFieldText("PHONE", "200") && w.FaxTable.SetFieldText("FAXDOC", "FAX00000.APF") &&
              w.FaxTable.Post());
  ASSERT_TRUE(w.FaxTable.Append() && w.FaxTable.SetFieldText("RECIPIENT", "Harold") &&
              w.FaxTable.SetFieldText("PHONE", "200") && w.FaxTable.SetFieldText("FAXCOVER", "COV00000.APF") &&
              w.FaxTable.Post());
  ASSERT_TRUE(w.RecTable.Append() && w.RecTable.SetFieldText("FROM", "5551111") &&
              w.RecTable.SetFieldText("FAXFILE", "FAX0001.APF") && w.RecTable.Post());
  ASSERT_NO_FATAL_FAILURE(WriteImage(home_ / "Receive" / "FAX0001.APF", 1));
  w.SetButtons();

  w.ReceiveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.ReceiveMode->Stage() != TReceiveStage::Starting; }, 30000));
  ASSERT_EQ(w.ReceiveMode->Stage(), TReceiveStage::On) << LastRec();

  // Message boxes are read and closed; any other window is a command that
  // was not refused, and is closed too.
  QStringList boxes, windows;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    QWidget* m = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(m)) {
      boxes << box->text();
      box->done(QMessageBox::Ok);
    } else if (auto* dialog = qobject_cast<QDialog*>(m)) {
      windows << dialog->metaObject()->className();
      dialog->reject();
    }
  });
  answer.start(20);
  const std::string outgoing = TTempFolder::ReadFile(home_ / "CVOUT.DBF");
  const auto before = std::set<fs::path>(fs::directory_iterator(home_ / "SEND"), fs::directory_iterator());

  // Each command as the user reaches it: its tab on show, its row current,
  // its button enabled.
  const auto outgoingRow = [&](uint32_t recno) {
    w.TabSet1->setCurrentIndex(0);
    ASSERT_TRUE(w.FaxTable.Table()->Go(recno));
    w.SetButtons();
  };
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"New", [&] {
         outgoingRow(2);
         ASSERT_TRUE(w.NewButton->isEnabled());
         w.NewButton->click();
       }},
      {"New from the menu", [&] { w.NewCoverSheet1->trigger(); }},
      {"Add Cover", [&] {
         outgoingRow(1);
         ASSERT_TRUE(w.AddCoverButton->isEnabled());
         w.AddCoverButton->click();
       }},
      {"Edit of a cover", [&] {
         outgoingRow(2);
         w.EditButton->click();
       }},
      {"Forward", [&] {
         w.TabSet1->setCurrentIndex(1);
         w.ForwardReceivedFax1->trigger();
       }},
      {"Fax Log Cleanup", [&] { w.FaxLogCleanup1->trigger(); }},
      {"Rebuild Indexes", [&] { w.RebuildIndexes1->trigger(); }},
  };
  const QString refusal =
      "You are in Fax Receive mode. This operation cannot be done\nwhile in Fax Receive mode. Click the Stop button "
      "to end\nFax Receive mode";
  for (const auto& [name, run] : commands) {
    boxes.clear();
    windows.clear();
    run();
    QTest::qWait(60);
    EXPECT_EQ(boxes, QStringList{refusal}) << name;
    EXPECT_TRUE(windows.isEmpty()) << name << ": " << windows.join(", ").toStdString();
  }
  EXPECT_EQ(w.FaxTable.RecordCount(), 2u);
  EXPECT_EQ(w.RecTable.RecordCount(), 1u);
  EXPECT_EQ(TTempFolder::ReadFile(home_ / "CVOUT.DBF"), outgoing);
  EXPECT_EQ(std::set<fs::path>(fs::directory_iterator(home_ / "SEND"), fs::directory_iterator()), before);

  w.ReceiveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.ReceiveMode->Stage() == TReceiveStage::Off; }, 30000));
  // Off again, New opens its editor.
  answer.stop();
  windows.clear();
  answer.start(20);
  w.TabSet1->setCurrentIndex(0);
  w.NewButton->click();
  EXPECT_EQ(windows, QStringList{"TCreateEditQuickFax"});
}
