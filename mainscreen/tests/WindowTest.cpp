// The main window driven as the user drives it, over real tables in a fresh
// program folder, with message boxes answered as they come up.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <sstream>

#include "cover/TCoverDesMainScreen.h"
#include "mainscreen/TDeleteWhat.h"
#include "mainscreen/TMainScreen.h"
#include "mainscreen/TRebuildInd.h"
#include "modemsetup/TQuickSetupForm.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Settings.h"
#include "store/XbTableModel.h"
#include "store/core/FaxTables.h"
#include "sending/TFaxEditor.h"
#include "testsupport/TempFolder.h"
#include "tools/apftool/ApfTool.h"

namespace fs = std::filesystem;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Answers the modal windows that open, in order: each answer is a function
// given the window; message boxes without a queued answer get their default
// button. The texts of all message boxes are kept.
class TAnswers {
 public:
  TAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  void Push(std::function<void(QWidget*)> answer) { answers_.push_back(std::move(answer)); }
  void Yes() { Push([](QWidget* w) { Click(w, QMessageBox::Yes); }); }
  void No() { Push([](QWidget* w) { Click(w, QMessageBox::No); }); }
  void DeleteWhat(TDeleteChoice choice) {
    Push([choice](QWidget* w) {
      auto* d = qobject_cast<TDeleteWhat*>(w);
      ASSERT_NE(d, nullptr);
      (choice == TDeleteChoice::Cover ? d->CoverButton : choice == TDeleteChoice::Body ? d->BodyButton : d->BothButton)
          ->setChecked(true);
      d->accept();
    });
  }
  QStringList texts;
  QStringList captions;

 private:
  static void Click(QWidget* w, QMessageBox::StandardButton b) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    box->button(b)->click();
  }
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    // A new box may take the place of the last one at the same address.
    if (!w || w->property("answered").toBool() || qobject_cast<TRebuildInd*>(w)) return;
    w->setProperty("answered", true);
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      texts << box->text();
      captions << box->windowTitle();
    }
    if (!answers_.empty()) {
      auto answer = std::move(answers_.front());
      answers_.pop_front();
      answer(w);
    } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
      box->defaultButton() ? box->defaultButton()->click() : box->accept();
    }
  }
  QTimer timer_;
  std::deque<std::function<void(QWidget*)>> answers_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  // A program folder that has been started before (a port chosen).
  void NotFirstRun() {
    fs::create_directories(home_);
    TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=0\r\n");
  }
  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
    QTest::qWait(20);
  }
  void MakeApf(const fs::path& target, const std::string& text) {
    const fs::path txt = home_ / "page.txt";
    TTempFolder::WriteFile(txt, text + "\n");
    std::ostringstream out, err;
    ASSERT_EQ(ApfToolMain({"convert", txt.string(), target.string()}, out, err), 0) << err.str();
  }
  static void AddRow(TMainScreen& w, const std::string& subject, const std::string& doc, const std::string& cover,
                     bool archived = false, const std::string& date = "") {
    TXbDataTable& t = w.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.SetFieldText("SUBJECT", subject));
    ASSERT_TRUE(t.SetFieldText("RECIPIENT", "To " + subject));
    ASSERT_TRUE(t.SetFieldText("PHONE", "555-" + subject));
    ASSERT_TRUE(t.SetFieldText("FAXDOC", doc));
    ASSERT_TRUE(t.SetFieldText("FAXCOVER", cover));
    if (!date.empty()) {
      ASSERT_TRUE(t.SetFieldText("DATESENT", date));
    }
    ASSERT_TRUE(t.SetFieldValue("ARCHIVED", TXbValue::Bool(archived)));
    ASSERT_TRUE(t.Post());
    w.SetButtons();
  }
  static void AddReceived(TMainScreen& w, const std::string& from, const std::string& file) {
    TXbDataTable& t = w.RecTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.SetFieldText("FROM", from));
    ASSERT_TRUE(t.SetFieldText("FAXFILE", file));
    ASSERT_TRUE(t.Post());
    w.SetButtons();
  }
  // The outgoing list's column shown as `title`, top to bottom.
  static QStringList Column(QTableView* grid, const QString& title) {
    QAbstractItemModel* m = grid->model();
    while (m->canFetchMore(QModelIndex())) m->fetchMore(QModelIndex());
    int col = -1;
    for (int c = 0; c < m->columnCount(); ++c)
      if (m->headerData(c, Qt::Horizontal).toString() == title) col = c;
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, col).data().toString();
    return out;
  }
  // Clicks a row, as the user sees it after the list has been painted.
  static void SelectRow(QTableView* grid, int row) {
    Column(grid, "Notes");
    grid->setCurrentIndex(grid->model()->index(row, 0));
  }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
  const fs::path send_ = home_ / "SEND";
};

TEST_F(WindowTest, FirstStartMakesTablesRebuildsIndexesAndWritesTheDriverFile) {
  TAnswers answers;
  TMainScreen w;
  Start(w);
  // First run: the quick setup opens, without holding up start-up.
  TQuickSetupForm* setup = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (setup = w.findChild<TQuickSetupForm*>()) && setup->isVisible(); }, 5000));
  setup->CancelButton->click();
  EXPECT_TRUE(fs::exists(home_ / "CVOUT.DBF"));
  EXPECT_TRUE(fs::exists(home_ / "CVREC.DBF"));
  EXPECT_NE(w.FaxXbase.TagNumber("DATEND"), 0);
  EXPECT_NE(w.RecXbase.TagNumber("DATEND"), 0);
  EXPECT_TRUE(fs::exists(home_ / "CVPB.CDX"));
  TIniFile ini((home_ / "config" / "corvane" / "CVPD.INI").string());
  EXPECT_EQ(ini.ReadString("Location", "CVOutPath", ""), SendFolder());

  for (QPushButton* b : {w.NewButton, w.SortButton, w.ReceiveButton, w.PreferencesButton, w.ProblemSolverButton})
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  for (QPushButton* b : {w.AddCoverButton, w.EditButton, w.DeleteButton, w.PrintButton, w.ViewButton, w.SendButton})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_FALSE(w.FaxGrid->isEnabled());
  EXPECT_EQ(w.FaxTable.IndexName(), "");  // an empty list is in natural order

  // The rebuild from the menu keeps the order and the rows, and packs away
  // the rows flagged deleted.
  AddRow(w, "A", "A.APF", "");
  AddRow(w, "B", "B.APF", "");
  ASSERT_TRUE(w.FaxTable.Delete());
  EXPECT_EQ(w.FaxTable.RecordCount(), 2u);
  w.RebuildIndexes1->trigger();
  EXPECT_EQ(w.FaxTable.RecordCount(), 1u);
  EXPECT_EQ(w.FaxTable.IndexName(), "DATESENT");
  EXPECT_EQ(Column(w.FaxGrid, "Subject"), QStringList{"A"});

  // The window's own steps, without showing it: the last one is the phone book's.
  TRebuildInd rebuild(OutgoingRebuildTarget(w.FaxTable, w.FaxXbase), ReceivedRebuildTarget(w.RecTable, w.RecXbase),
                      w.PhoneTable, w.PhoneXbase, home_);
  rebuild.Rebuild();
  EXPECT_EQ(rebuild.StepLabel->text(), "Rebuilding PHONE file indexes");
  EXPECT_FALSE(w.PhoneTable.Active());
  EXPECT_NE(w.FaxXbase.TagNumber("DATEND"), 0);
}

// Every column title fits its column, also in the bold the header uses for
// the current column.
TEST_F(WindowTest, ColumnTitlesAreNeverCut) {
  NotFirstRun();
  TMainScreen w;
  Start(w);
  for (QTableView* grid : {w.FaxGrid, w.RecGrid}) {
    QFont bold = grid->horizontalHeader()->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
      const QString title = grid->model()->headerData(c, Qt::Horizontal).toString();
      EXPECT_GE(grid->columnWidth(c), metrics.horizontalAdvance(title) + 8) << title.toStdString();
    }
  }
}

TEST_F(WindowTest, PrinterDriverJobsBecomeRowsWhenTheWindowIsActivated) {
  NotFirstRun();
  TAnswers answers;
  fs::create_directories(send_);
  MakeApf(send_ / "JOB1.APF", "First job");
  TTempFolder::WriteFile(send_ / "JOB1.ZRD", "555-0001\r\nAnn\r\nFirst\r\n");
  TMainScreen w;
  Start(w);
  EXPECT_EQ(Column(w.FaxGrid, "Subject"), QStringList{"First"});
  EXPECT_TRUE(w.EditButton->isEnabled());
  EXPECT_TRUE(w.FaxGrid->isEnabled());

  const std::string longName(60, 'r');
  const std::string longSubject(80, 's');
  MakeApf(send_ / "JOB2.APF", "Second");
  TTempFolder::WriteFile(send_ / "JOB2.ZRD", "555-0002\n" + longName + "\n" + longSubject + "\n");
  TTempFolder::WriteFile(send_ / "LATE.ZRD", "555-0003\nLate\nLate one\n");
  w.FormActivate();
  QStringList subjects = Column(w.FaxGrid, "Subject");
  ASSERT_EQ(subjects.size(), 2);
  EXPECT_TRUE(subjects.contains(QString::fromStdString(std::string(50, 's'))));
  EXPECT_TRUE(Column(w.FaxGrid, "Recipient").contains(QString::fromStdString(std::string(35, 'r'))));
  EXPECT_FALSE(fs::exists(send_ / "JOB2.ZRD"));
  EXPECT_TRUE(fs::exists(send_ / "LATE.ZRD"));  // waits for its image

  MakeApf(send_ / "LATE.APF", "Late");
  w.FormActivate();
  EXPECT_EQ(Column(w.FaxGrid, "Subject").size(), 3);
  EXPECT_FALSE(fs::exists(send_ / "LATE.ZRD"));
  EXPECT_TRUE(Column(w.FaxGrid, "Fax File").contains(QString::fromStdString(home_.string()).toLower() + "/send/late.apf"));
}

TEST_F(WindowTest, ArchiveFilterAndSortOrders) {
  NotFirstRun();
  TAnswers answers;
  TMainScreen w;
  Start(w);
  AddRow(w, "Bravo", "B.APF", "", false, "20240102");
  AddRow(w, "Alpha", "A.APF", "", false, "20240105");
  AddRow(w, "Charlie", "C.APF", "", false, "20240101");
  EXPECT_EQ(Column(w.FaxGrid, "Subject"), (QStringList{"Alpha", "Bravo", "Charlie"}));  // newest first

  w.OutgoingSortMenu->actions()[1]->trigger();  // Subject
  EXPECT_TRUE(w.OutgoingSortMenu->actions()[1]->isChecked());
  EXPECT_EQ(w.FaxTable.IndexName(), "SUBJECT");
  SelectRow(w.FaxGrid, 1);
  EXPECT_EQ(w.FaxTable.FieldText("SUBJECT"), "Bravo");
  EXPECT_EQ(w.Archive1->text(), "&Archive");

  answers.Yes();
  w.Archive1->trigger();
  EXPECT_EQ(answers.texts.back(), "Archive the current fax?\r(subject: Bravo)");
  EXPECT_EQ(answers.captions.back(), "Archive");
  EXPECT_EQ(Column(w.FaxGrid, "Subject"), (QStringList{"Alpha", "Charlie"}));

  // Archived rows come back with the filter off, and read "Un&Archive".
  w.ShowArchivedFaxes1->trigger();
  EXPECT_EQ(Column(w.FaxGrid, "Subject"), (QStringList{"Alpha", "Bravo", "Charlie"}));
  SelectRow(w.FaxGrid, 1);
  EXPECT_EQ(w.Archive1->text(), "Un&Archive");
  EXPECT_EQ(w.FaxModel->index(1, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
  answers.No();
  w.Archive1->trigger();
  EXPECT_TRUE(w.FaxTable.FieldBool("ARCHIVED"));
  answers.Yes();
  w.Archive1->trigger();
  EXPECT_EQ(answers.texts.back(), "UnArchive the current fax?\r(subject: Bravo)");
  EXPECT_FALSE(w.FaxTable.FieldBool("ARCHIVED"));

  // The filter applies to both lists at once.
  AddReceived(w, "SENDER", "R1.APF");
  TXbDataTable& rec = w.RecTable;
  ASSERT_TRUE(rec.SetFieldValue("ARCHIVED", TXbValue::Bool(true)));
  ASSERT_TRUE(rec.Post());
  w.ShowArchivedFaxes1->trigger();
  EXPECT_EQ(w.ListFilter(), ".not. ARCHIVED");
  EXPECT_TRUE(Column(w.RecGrid, "From").isEmpty());
  w.TabSet1->setCurrentIndex(1);
  EXPECT_FALSE(w.DeleteButton->isEnabled());
  EXPECT_FALSE(w.RecGrid->isEnabled());
  w.ShowArchivedFaxes1->trigger();
  EXPECT_EQ(Column(w.RecGrid, "From"), QStringList{"SENDER"});
  EXPECT_TRUE(w.ForwardReceivedFax1->isEnabled());
  EXPECT_FALSE(w.Clone1->isEnabled());

  w.ReceivedSortMenu->actions()[1]->trigger();
  EXPECT_EQ(w.RecTable.IndexName(), "FROM");

  // Ctrl+Tab reaches the window even from inside a list.
  QTest::keyClick(w.RecGrid, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(w.CurrentTab(), TFaxTab::Outgoing);
  // Enter in the outgoing list runs Edit: the fax information editor for a fax without cover.
  w.FaxGrid->setFocus();
  if (w.FaxGrid->hasFocus()) {
    bool edited = false;
    answers.Push([&](QWidget* d) {
      edited = qobject_cast<TFaxEditor*>(d) != nullptr;
      d->close();
    });
    QTest::keyClick(w.FaxGrid, Qt::Key_Return);
    EXPECT_TRUE(edited);
  }
}

TEST_F(WindowTest, DeletingCoverBodyOrBothRemovesTheirFiles) {
  NotFirstRun();
  TAnswers answers;
  TMainScreen w;
  Start(w);
  fs::create_directories(send_);
  for (const char* f : {"D1.APF", "C1.APF", "C1.fcd", "D2.APF", "C2.APF", "C2.fcd", "D3.APF", "C3.APF", "C3.fcd", "C4.APF", "C4.fcd"})
    TTempFolder::WriteFile(send_ / f, "x");
  AddRow(w, "One", "D1.APF", "C1.APF");
  AddRow(w, "Two", "D2.APF", "C2.APF");
  AddRow(w, "Three", "D3.APF", "C3.APF");
  AddRow(w, "Four", "", "C4.APF");
  const auto select = [&](const char* subject) {
    const int row = static_cast<int>(Column(w.FaxGrid, "Subject").indexOf(subject));
    ASSERT_GE(row, 0);
    SelectRow(w.FaxGrid, row);
  };

  select("One");
  answers.DeleteWhat(TDeleteChoice::Cover);
  w.DeleteButton->click();
  EXPECT_FALSE(fs::exists(send_ / "C1.APF"));
  EXPECT_FALSE(fs::exists(send_ / "C1.fcd"));
  EXPECT_TRUE(fs::exists(send_ / "D1.APF"));
  EXPECT_EQ(w.FaxTable.FieldText("FAXCOVER"), "");
  EXPECT_TRUE(w.AddCoverButton->isEnabled());

  select("Two");
  answers.DeleteWhat(TDeleteChoice::Body);
  w.DeleteButton->click();
  EXPECT_FALSE(fs::exists(send_ / "D2.APF"));
  EXPECT_TRUE(fs::exists(send_ / "C2.APF"));
  EXPECT_EQ(Column(w.FaxGrid, "Subject").size(), 4);

  // Cancel changes nothing.
  select("Three");
  answers.Push([](QWidget* d) { qobject_cast<QDialog*>(d)->reject(); });
  w.DeleteButton->click();
  EXPECT_TRUE(fs::exists(send_ / "D3.APF"));
  select("Three");
  answers.DeleteWhat(TDeleteChoice::Both);
  w.DeleteButton->click();
  for (const char* f : {"D3.APF", "C3.APF", "C3.fcd"}) EXPECT_FALSE(fs::exists(send_ / f)) << f;
  EXPECT_FALSE(Column(w.FaxGrid, "Subject").contains("Three"));

  // A cover-only fax asks the plain question; No keeps it.
  select("Four");
  answers.No();
  w.Delete1->trigger();
  EXPECT_EQ(answers.texts.back(), "Delete the current fax?\r\n(subject: \"Four\")");
  EXPECT_TRUE(fs::exists(send_ / "C4.APF"));
  select("Four");
  answers.Yes();
  w.Delete1->trigger();
  EXPECT_FALSE(fs::exists(send_ / "C4.APF"));
  EXPECT_FALSE(fs::exists(send_ / "C4.fcd"));
  EXPECT_EQ(Column(w.FaxGrid, "Subject").size(), 2);

  // Received faxes take their image file with them.
  fs::create_directories(home_ / "Receive");
  TTempFolder::WriteFile(home_ / "Receive" / "R1.APF", "x");
  AddReceived(w, "SMITH", "R1.APF");
  w.TabSet1->setCurrentIndex(1);
  answers.Yes();
  w.DeleteButton->click();
  EXPECT_EQ(answers.texts.back(), "Delete the current fax?\r\n(from: \"SMITH\")");
  EXPECT_FALSE(fs::exists(home_ / "Receive" / "R1.APF"));
  EXPECT_TRUE(Column(w.RecGrid, "From").isEmpty());
  EXPECT_FALSE(w.DeleteButton->isEnabled());
}

TEST_F(WindowTest, CloneCopiesTheFilesToNewNames) {
  NotFirstRun();
  TAnswers answers;
  TMainScreen w;
  Start(w);
  fs::create_directories(send_);
  MakeApf(send_ / "DOC.APF", "Body");
  MakeApf(send_ / "COV.APF", "Cover");
  TTempFolder::WriteFile(send_ / "COV.fcd", "side");
  MakeApf(send_ / "NOSIDE.APF", "Cover without side file");
  AddRow(w, "Report", "DOC.APF", "COV.APF");
  answers.Yes();
  w.Clone1->trigger();
  EXPECT_EQ(answers.texts.back(), "Clone the current fax?\r\n(subject: \"Report\")");
  EXPECT_EQ(answers.captions.back(), "Clone");
  EXPECT_EQ(Column(w.FaxGrid, "Subject").size(), 2);
  EXPECT_TRUE(Column(w.FaxGrid, "Subject").contains("[clone]Report"));
  EXPECT_EQ(TTempFolder::ReadFile(send_ / "FAX00000.APF"), TTempFolder::ReadFile(send_ / "DOC.APF"));
  EXPECT_EQ(TTempFolder::ReadFile(send_ / "COV00000.APF"), TTempFolder::ReadFile(send_ / "COV.APF"));
  EXPECT_EQ(TTempFolder::ReadFile(send_ / "COV00000.fcd"), "side");

  // A cover without its side file is not cloned.
  TMainScreen* pw = &w;
  while (pw->FaxTable.FieldText("SUBJECT") != "Report") ASSERT_TRUE(pw->FaxTable.Next());
  ASSERT_TRUE(pw->FaxTable.SetFieldText("FAXCOVER", "NOSIDE.APF"));
  ASSERT_TRUE(pw->FaxTable.Post());
  pw->SetButtons();
  answers.Yes();
  w.Clone1->trigger();
  EXPECT_EQ(Column(w.FaxGrid, "Subject").count("[clone]Report"), 2);
  EXPECT_FALSE(fs::exists(send_ / "COV00001.APF"));
  EXPECT_TRUE(fs::exists(send_ / "FAX00001.APF"));
}

TEST_F(WindowTest, ClosingStoresSettingsLayoutAndPlacementForTheNextStart) {
  NotFirstRun();
  {
    TAnswers answers;
    TMainScreen w;
    Start(w);
    QHeaderView* h = w.FaxGrid->horizontalHeader();
    h->moveSection(h->visualIndex(4), 0);  // Subject first
    h->resizeSection(4, 333);
    w.resize(700, 500);
    w.ShowHints1->trigger();  // hints off, stored at once and at close
    w.ExitButton->click();
    EXPECT_FALSE(w.isVisible());
  }
  EXPECT_TRUE(fs::exists(home_ / "Out.gco"));
  EXPECT_TRUE(fs::exists(home_ / "Out.gcs"));
  EXPECT_EQ(TTempFolder::ReadFile(home_ / "Out.gco").rfind("SUBJECT\r\n", 0), 0u);
  Settings = TSettings{};
  TAnswers answers;
  TMainScreen w;
  EXPECT_FALSE(w.ShowHints1->isChecked());
  Start(w);
  QHeaderView* h = w.FaxGrid->horizontalHeader();
  EXPECT_EQ(h->logicalIndex(0), 4);
  EXPECT_EQ(h->sectionSize(4), 333);
  EXPECT_EQ(w.size(), QSize(700, 500));
}

// A list never appears empty first and fills a moment later: the window's
// first paint already shows the faxes, with the current one selected.
TEST_F(WindowTest, TheFirstPaintShowsTheFaxes) {
  NotFirstRun();
  {
    TAnswers answers;
    TMainScreen w;
    Start(w);
    AddRow(w, "Bravo", "B.APF", "", false, "20240102");
    AddRow(w, "Alpha", "A.APF", "", false, "20240105");
    w.ExitButton->click();
  }
  Settings = TSettings{};
  TAnswers answers;
  TMainScreen w;
  struct TFirstPaint : QObject {
    QTableView* list;
    int rows = -1;
    int current = -1;
    explicit TFirstPaint(QTableView* l) : list(l) { l->viewport()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint && rows < 0) {
        rows = list->model()->rowCount();
        current = list->currentIndex().row();
      }
      return false;
    }
  } first(w.FaxGrid);
  Start(w);
  EXPECT_EQ(first.rows, 2);
  EXPECT_EQ(first.current, 0);
  EXPECT_EQ(Column(w.FaxGrid, "Subject"), (QStringList{"Alpha", "Bravo"}));
}

TEST_F(WindowTest, DamagedTablesAreLeftAloneAndTheProgramCloses) {
  for (const char* damaged : {"CVOUT.DBF", "CVREC.DBF"}) {
    SCOPED_TRACE(damaged);
    fs::remove_all(home_);
    fs::create_directories(home_);
    TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=3\r\n");
    const std::string junk = "this is not a table, but somebody's faxes may be in it";
    TTempFolder::WriteFile(home_ / damaged, junk);
    TAnswers answers;
    TMainScreen w;
    EXPECT_TRUE(w.ClosePosted());
    ASSERT_FALSE(answers.texts.isEmpty());
    EXPECT_EQ(answers.texts.front(), std::string(damaged) == "CVOUT.DBF"
                                         ? "Unable to open/create the FAX datafile - closing program"
                                         : "Unable to open/create the FAX RECEIVE datafile - closing program");
    w.show();
    // Closed rather than hidden: a come-forward message from another test
    // process sharing the single-instance socket name may show it again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Closed(); }, 5000));
    EXPECT_EQ(TTempFolder::ReadFile(home_ / damaged), junk);
    // Settings never read are not written over the user's.
    EXPECT_EQ(TIniFile((home_ / "CV.INI").string()).ReadString("Modem", "ComPort", ""), "3");
  }
}

TEST_F(WindowTest, DesignerCommandOpensOneDesignerWindow) {
  TAnswers answers;
  TMainScreen w;
  Start(w);
  w.CoverSheetTemplateDesigner1->trigger();
  w.CoverSheetTemplateDesigner1->trigger();
  const auto designers = w.findChildren<TCoverDesMainScreen*>();
  ASSERT_EQ(designers.size(), 1);
  EXPECT_TRUE(designers[0]->isVisible());
  EXPECT_EQ(designers[0]->windowTitle(), "Cover Sheet Template Designer");
  EXPECT_TRUE(designers[0]->close());
}

}  // namespace
