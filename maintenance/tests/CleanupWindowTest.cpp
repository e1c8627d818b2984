// The fax log cleanup window driven as the user drives it, over the main
// window's own tables in a fresh program folder: a few hundred faxes with
// their image files, recipients with accents and with quotes, dates on both
// sides of the century boundaries. Message boxes and the small windows are
// answered as they come up.
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <deque>
#include <filesystem>
#include <functional>
#include <set>

#include "maintenance/TDMForm.h"
#include "maintenance/TDateSelector.h"
#include "maintenance/TDeleteForConditions.h"
#include "mainscreen/TMainScreen.h"
#include "mainscreen/TRebuildInd.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/StoreText.h"
#include "store/XbTableModel.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Answers the modal windows that open, in order. Every answer acts a moment
// later, from the event loop, so that a window it opens in turn is answered
// too. Message boxes without a queued answer get their default button.
// Counts the rebuild windows shown. A window that does its work and closes
// between two polls of the answers below is still counted.
class TRebuildCounter : public QObject {
 public:
  explicit TRebuildCounter(int& count) : count_(count) { qApp->installEventFilter(this); }
  ~TRebuildCounter() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show && qobject_cast<TRebuildInd*>(o) != nullptr) ++count_;
    return false;
  }

 private:
  int& count_;
};

class TAnswers {
 public:
  TAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  void Push(std::function<void(QWidget*)> answer) { answers_.push_back(std::move(answer)); }
  void Box(QMessageBox::StandardButton b) {
    Push([b](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      QTimer::singleShot(0, box->button(b), &QAbstractButton::click);
    });
  }
  void Yes() { Box(QMessageBox::Yes); }
  void No() { Box(QMessageBox::No); }
  void Ok() { Box(QMessageBox::Ok); }
  void Date(const QDate& day) {
    Push([day](QWidget* w) {
      auto* s = qobject_cast<TDateSelector*>(w);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->windowTitle(), "Delete all before...");
      EXPECT_EQ(s->Date(), QDate::currentDate());
      s->Calendar1->setSelectedDate(day);
      QTimer::singleShot(0, s->OkButton, &QPushButton::click);
    });
  }
  // The conditions window, then its "VERIFY DELETE" question answered Yes.
  void Conditions(TConditionField field, const QString& value, bool exact) {
    Push([=](QWidget* w) {
      auto* c = qobject_cast<TDeleteForConditions*>(w);
      ASSERT_NE(c, nullptr);
      QRadioButton* button = field == TConditionField::From        ? c->FromButton
                             : field == TConditionField::Recipient ? c->RecipientButton
                                                                   : c->PhoneButton;
      QLineEdit* edit = field == TConditionField::From        ? c->FromEdit
                        : field == TConditionField::Recipient ? c->RecipientEdit
                                                              : c->PhoneEdit;
      button->setChecked(true);
      edit->setText(value);
      c->ExactCheck->setChecked(exact);
      QTimer::singleShot(0, c->OkButton, &QPushButton::click);
    });
    Yes();
  }

  QStringList texts, captions;
  QList<QMessageBox::StandardButton> defaults;
  int rebuilds = 0;  // rebuild windows seen
  TRebuildCounter rebuildCounter{rebuilds};

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("answered").toBool()) return;
    w->setProperty("answered", true);
    if (qobject_cast<TRebuildInd*>(w)) return;  // counted when shown
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box) {
      texts << box->text();
      captions << box->windowTitle();
      defaults << (box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton);
    }
    if (!answers_.empty()) {
      auto answer = std::move(answers_.front());
      answers_.pop_front();
      answer(w);
    } else if (box) {
      QTimer::singleShot(0, box, [box] { box->defaultButton() ? box->defaultButton()->click() : box->accept(); });
    }
  }
  QTimer timer_;
  std::deque<std::function<void(QWidget*)>> answers_;
};

int32_t Day(int y, int m, int d) { return XbJulian(y, m, d); }

const QString kNames[] = {"Renée Müller", "O\"Brien", "x\" .or. .t. .or. \"", "Smith & Co",
                          "SMITH",        "blacksmith", "Zoë",                "Nobody"};
const int32_t kDates[] = {Day(1998, 12, 7), Day(1999, 12, 31), Day(2000, 1, 1),
                          Day(2026, 12, 7), Day(2049, 12, 31), Day(2050, 1, 1)};

struct OutRow {
  std::string subject, doc, cover;
  QString recipient;
  int32_t sent = 0;
  bool archived = false;
  bool alive = true;
  std::vector<std::string> Files() const {
    std::vector<std::string> f;
    if (!doc.empty()) f.push_back(doc);
    if (!cover.empty()) {
      f.push_back(cover);
      f.push_back(fs::path(cover).replace_extension(".FCD").string());
    }
    return f;
  }
};
struct RecRow {
  std::string notes, file;
  QString from;
  int32_t date = 0;
  bool archived = false;
  bool alive = true;
};

class CleanupWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    fs::create_directories(home_);
    TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=0\r\n");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }
  static std::string Name(const char* prefix, int i, int digits = 5) {
    char name[16];
    std::snprintf(name, sizeof name, "%s%0*d.APF", prefix, digits, i);
    return name;
  }
  // Faxes made through the engine, each with its image files on disk.
  void Fill(TMainScreen& w, int outgoing, int received) {
    for (int i = 0; i < outgoing; ++i) {
      OutRow r;
      r.subject = "S" + std::to_string(i);
      r.recipient = kNames[i % std::size(kNames)];
      r.sent = i % 5 == 0 ? 0 : kDates[i % std::size(kDates)];
      r.archived = i % 7 == 0;
      if (i % 3 != 0) r.doc = Name("FAX", i);
      if (i % 4 == 0) r.cover = Name("COV", i);
      TXbDataTable& t = w.FaxTable;
      ASSERT_TRUE(t.Append());
      ASSERT_TRUE(t.SetFieldText("SUBJECT", r.subject));
      ASSERT_TRUE(t.SetFieldText("RECIPIENT", ToTableText(r.recipient)));
      ASSERT_TRUE(t.SetFieldText("PHONE", "555-" + std::to_string(1000 + i % 13)));
      ASSERT_TRUE(t.SetFieldValue("DATESENT", TXbValue::Date(r.sent)));
      ASSERT_TRUE(t.SetFieldText("TIMESENT", "10:00"));
      ASSERT_TRUE(t.SetFieldText("FAXDOC", r.doc));
      ASSERT_TRUE(t.SetFieldText("FAXCOVER", r.cover));
      ASSERT_TRUE(t.SetFieldValue("ARCHIVED", TXbValue::Bool(r.archived)));
      ASSERT_TRUE(t.Post());
      for (const std::string& f : r.Files()) TTempFolder::WriteFile(send_ / f, "image");
      out_.push_back(r);
    }
    for (int i = 0; i < received; ++i) {
      RecRow r;
      r.notes = "R" + std::to_string(i);
      r.from = kNames[(i + 3) % std::size(kNames)];
      r.date = kDates[i % std::size(kDates)];
      r.archived = i % 6 == 0;
      r.file = Name("FAX", i, 4);
      TXbDataTable& t = w.RecTable;
      ASSERT_TRUE(t.Append());
      ASSERT_TRUE(t.SetFieldText("FROM", ToTableText(r.from)));
      ASSERT_TRUE(t.SetFieldValue("DATEREC", TXbValue::Date(r.date)));
      ASSERT_TRUE(t.SetFieldText("TIMEREC", "11:00"));
      ASSERT_TRUE(t.SetFieldText("FAXFILE", r.file));
      ASSERT_TRUE(t.SetFieldText("NOTES", r.notes));
      ASSERT_TRUE(t.SetFieldValue("ARCHIVED", TXbValue::Bool(r.archived)));
      ASSERT_TRUE(t.Post());
      TTempFolder::WriteFile(receive_ / r.file, "image");
      rec_.push_back(r);
    }
    // A file of the user's beside the faxes.
    TTempFolder::WriteFile(send_ / "notes.txt", "mine");
    w.SetButtons();
  }
  static TDMTables Tables(TMainScreen& w) {
    return {w.FaxTable, w.FaxXbase, w.RecTable, w.RecXbase, SendFolder(), ReceiveFolder(), ProgramFolder()};
  }
  // Marks the rows a rule is to delete; returns how many.
  template <class Row>
  static int Expect(std::vector<Row>& rows, const std::function<bool(const Row&)>& goes) {
    int n = 0;
    for (Row& r : rows)
      if (r.alive && goes(r)) {
        r.alive = false;
        ++n;
      }
    return n;
  }
  // The texts of `field` of the rows not flagged deleted.
  static std::set<std::string> Live(TXbDataTable& table, const char* field) {
    std::set<std::string> out;
    TXbTable* t = table.Table();
    const uint32_t saved = t->RecNo();
    for (uint32_t n = 1; n <= t->RecCount(); ++n) {
      EXPECT_TRUE(t->Go(n));
      if (!t->Deleted()) out.insert(t->GetTrimString(field));
    }
    if (saved <= t->RecCount()) {
      EXPECT_TRUE(t->Go(saved));
    }
    return out;
  }
  // Rows and files are exactly those the rules left.
  void ExpectTables(TMainScreen& w) {
    const std::set<std::string> out = Live(w.FaxTable, "SUBJECT");
    for (const OutRow& r : out_) {
      EXPECT_EQ(out.contains(r.subject), r.alive) << r.subject;
      for (const std::string& f : r.Files()) {
        EXPECT_EQ(fs::exists(send_ / f), r.alive) << f;
      }
    }
    const std::set<std::string> rec = Live(w.RecTable, "NOTES");
    for (const RecRow& r : rec_) {
      EXPECT_EQ(rec.contains(r.notes), r.alive) << r.notes;
      EXPECT_EQ(fs::exists(receive_ / r.file), r.alive) << r.file;
    }
    EXPECT_TRUE(fs::exists(send_ / "notes.txt"));
  }
  template <class Row>
  static int Alive(const std::vector<Row>& rows, bool archivedToo = true) {
    int n = 0;
    for (const Row& r : rows) n += r.alive && (archivedToo || !r.archived);
    return n;
  }
  static int Rows(QTableView* grid) {
    QAbstractItemModel* m = grid->model();
    while (m->canFetchMore(QModelIndex())) m->fetchMore(QModelIndex());
    return m->rowCount();
  }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
  const fs::path send_ = home_ / "SEND";
  const fs::path receive_ = home_ / "Receive";
  std::vector<OutRow> out_;
  std::vector<RecRow> rec_;
};

TEST_F(CleanupWindowTest, RulesThroughTheMenuDeleteTheirFaxesAndTheTablesAreRebuiltAfterwards) {
  TAnswers answers;
  TMainScreen w;
  Start(w);
  answers.rebuilds = 0;  // fresh tables get their indexes at start-up
  Fill(w, 300, 200);
  EXPECT_EQ(Rows(w.FaxGrid), Alive(out_, false));  // archived faxes hidden

  // Each step: the answers, the command, then the count the window showed.
  const auto run = [&](QAction* command, int expected) {
    const qsizetype before = answers.texts.size();
    command->trigger();
    ASSERT_GT(answers.texts.size(), before);
    EXPECT_EQ(answers.texts.last(), QString("%1 deleted.").arg(expected));
  };
  const auto recipientIs = [](QString name) {
    return std::function<bool(const OutRow&)>([name](const OutRow& r) { return r.recipient == name; });
  };
  answers.Push([&](QWidget* window) {
    auto* f = qobject_cast<TDMForm*>(window);
    ASSERT_NE(f, nullptr);
    QTimer::singleShot(0, f, [&, f] {
      EXPECT_EQ(f->windowTitle(), "Fax Log Cleanup Utility");
      // Archived faxes are listed in the tool.
      EXPECT_EQ(Rows(f->OutGrid), 300);
      EXPECT_EQ(Rows(f->InGrid), 200);
      EXPECT_EQ(f->OutGrid->model()->headerData(0, Qt::Horizontal).toString(), "Deleted?");
      EXPECT_EQ(f->OutGrid->model()->headerData(1, Qt::Horizontal).toString(), "Archived?");
      EXPECT_EQ(f->PageControl1->tabText(0), "Outgoing Faxes");

      // A name made to widen the condition matches only itself.
      answers.Conditions(TConditionField::Recipient, "x\" .or. .t. .or. \"", true);
      answers.Ok();
      run(f->DeleteAllConditions1, Expect(out_, recipientIs("x\" .or. .t. .or. \"")));
      answers.Conditions(TConditionField::Recipient, "o\"brien", true);
      answers.Ok();
      run(f->DeleteAllConditions1, Expect(out_, recipientIs("O\"Brien")));
      answers.Conditions(TConditionField::Recipient, "  renée müller ", true);
      answers.Ok();
      run(f->DeleteAllConditions1, Expect(out_, recipientIs("Renée Müller")));
      answers.Conditions(TConditionField::Recipient, "smith", false);
      answers.Ok();
      run(f->DeleteAllConditions1, Expect<OutRow>(out_, [](const OutRow& r) {
            return r.recipient.toUpper().contains("SMITH");
          }));
      EXPECT_EQ(answers.captions.at(answers.captions.size() - 2), "VERIFY DELETE");

      // Before 1 January 2000: the 1998 and 1999 faxes, none of 2049/2050.
      answers.Date(QDate(2000, 1, 1));
      answers.Yes();
      answers.Ok();
      run(f->DeleteAllBeforeDate1, Expect<OutRow>(out_, [](const OutRow& r) {
            return r.sent != 0 && r.sent < Day(2000, 1, 1);
          }));
      EXPECT_EQ(answers.texts.at(answers.texts.size() - 2),
                "Delete all outgoing faxes prior to Saturday, January 1, 2000 (action is permanent)?");
      EXPECT_EQ(answers.captions.at(answers.captions.size() - 2), "DELETE");

      f->PageControl1->setCurrentIndex(1);
      EXPECT_FALSE(f->DeleteAllSent1->isVisible());
      EXPECT_FALSE(f->DeleteAllNotSent1->isVisible());
      answers.Conditions(TConditionField::From, "smith", false);
      answers.Ok();
      run(f->DeleteAllConditions1, Expect<RecRow>(rec_, [](const RecRow& r) {
            return r.from.toUpper().contains("SMITH");
          }));
      answers.Date(QDate(2050, 1, 1));
      answers.Yes();
      answers.Ok();
      run(f->DeleteAllBeforeDate1, Expect<RecRow>(rec_, [](const RecRow& r) { return r.date < Day(2050, 1, 1); }));
      EXPECT_TRUE(answers.texts.at(answers.texts.size() - 2).startsWith("Delete all received faxes prior to Saturday, January 1, 2050"));
      f->CloseButton->click();
    });
  });
  w.FaxLogCleanup1->trigger();

  ExpectTables(w);
  // The rebuild ran: the flagged rows are packed away, the indexes check out.
  EXPECT_EQ(answers.rebuilds, 1);
  EXPECT_EQ(w.FaxTable.Table()->RecCount(), static_cast<uint32_t>(Alive(out_)));
  EXPECT_EQ(w.RecTable.Table()->RecCount(), static_cast<uint32_t>(Alive(rec_)));
  EXPECT_TRUE(w.FaxTable.Table()->VerifyIndexes().ok());
  EXPECT_TRUE(w.RecTable.Table()->VerifyIndexes().ok());
  // Archived faxes are hidden again in the main lists.
  EXPECT_EQ(w.FaxXbase.Filter(), ".not. archived");
  EXPECT_EQ(Rows(w.FaxGrid), Alive(out_, false));
  EXPECT_EQ(Rows(w.RecGrid), Alive(rec_, false));
  EXPECT_GT(Alive(out_, false), 0);
}

TEST_F(CleanupWindowTest, ArchivedSentNotSentAndAllEmptyThePagesWhichThenOfferNothing) {
  TAnswers answers;
  TMainScreen w;
  Start(w);
  Fill(w, 200, 120);
  TDMForm f(Tables(w));
  f.show();
  EXPECT_TRUE(f.DeleteAllSent1->isVisible());
  EXPECT_TRUE(f.Actions1->isEnabled());

  // No leaves everything as it is and shows no count.
  answers.No();
  f.DeleteAllArchived1->trigger();
  EXPECT_EQ(answers.texts, QStringList{"Delete all archived outgoing faxes? (action is permanent)"});
  EXPECT_FALSE(f.SomethingDeleted());

  const auto step = [&](QAction* a, const QString& question, const QString& caption, int expected) {
    answers.texts.clear();
    answers.captions.clear();
    answers.Yes();
    answers.Ok();
    a->trigger();
    EXPECT_EQ(answers.texts, (QStringList{question, QString("%1 deleted.").arg(expected)}));
    EXPECT_EQ(answers.captions.value(0), caption);
    EXPECT_EQ(answers.defaults.value(answers.defaults.size() - 2), QMessageBox::Yes);
    ExpectTables(w);
  };
  step(f.DeleteAllArchived1, "Delete all archived outgoing faxes? (action is permanent)", "DELETE",
       Expect<OutRow>(out_, [](const OutRow& r) { return r.archived; }));
  step(f.DeleteAllSent1, "Delete all outgoing faxes which have been sent? (action is permanent)", "DELETE",
       Expect<OutRow>(out_, [](const OutRow& r) { return r.sent != 0; }));
  EXPECT_EQ(Rows(f.OutGrid), Alive(out_));
  step(f.DeleteAllNotSent1, "Delete all outgoing faxes which have NOT been sent? (action is permanent)", "DELETE",
       Expect<OutRow>(out_, [](const OutRow&) { return true; }));
  // An empty page offers no command, "Delete All Faxes" included.
  EXPECT_EQ(f.PageControl1->tabText(0), "OutGoing Faxes (none)");
  EXPECT_FALSE(f.Actions1->isEnabled());
  EXPECT_FALSE(f.DeleteAllFaxes1->isEnabled());
  EXPECT_FALSE(f.DeleteCurrentFax1->isEnabled());
  EXPECT_FALSE(f.OutGrid->isEnabled());

  f.PageControl1->setCurrentIndex(1);
  EXPECT_EQ(f.PageControl1->tabText(1), "Incoming Faxes");
  EXPECT_TRUE(f.Actions1->isEnabled());
  EXPECT_FALSE(f.DeleteAllSent1->isVisible());
  step(f.DeleteAllArchived1, "Delete all archived received faxes? (action is permanent)", "DELETE",
       Expect<RecRow>(rec_, [](const RecRow& r) { return r.archived; }));
  step(f.DeleteAllFaxes1, "Delete all received faxes ? (action is permanent)", "DELETE ALL",
       Expect<RecRow>(rec_, [](const RecRow&) { return true; }));
  EXPECT_EQ(f.PageControl1->tabText(1), "Incoming Faxes (none)");
  EXPECT_FALSE(f.DeleteAllFaxes1->isEnabled());
  EXPECT_TRUE(f.SomethingDeleted());

  f.close();
  EXPECT_EQ(w.FaxXbase.Filter(), ".not. archived");
  EXPECT_EQ(w.RecXbase.Filter(), ".not. archived");
}

TEST_F(CleanupWindowTest, EmptyTablesOfferNothingAndARuleThatMatchesNothingRunsNoRebuild) {
  TAnswers answers;
  TMainScreen w;
  Start(w);
  answers.rebuilds = 0;  // fresh tables get their indexes at start-up
  answers.Push([&](QWidget* window) {
    auto* f = qobject_cast<TDMForm*>(window);
    ASSERT_NE(f, nullptr);
    QTimer::singleShot(0, f, [f] {
      EXPECT_EQ(f->PageControl1->tabText(0), "OutGoing Faxes (none)");
      EXPECT_EQ(f->PageControl1->tabText(1), "Incoming Faxes (none)");
      EXPECT_FALSE(f->Actions1->isEnabled());
      EXPECT_FALSE(f->DeleteAllFaxes1->isEnabled());
      f->PageControl1->setCurrentIndex(1);
      EXPECT_FALSE(f->Actions1->isEnabled());
      f->CloseButton->click();
    });
  });
  w.FaxLogCleanup1->trigger();
  EXPECT_EQ(answers.rebuilds, 0);

  // Only archived faxes: the main list is empty, the tool lists them all.
  Fill(w, 3, 0);
  for (OutRow& r : out_) r.archived = true;
  for (uint32_t n = 1; n <= 3; ++n) {
    ASSERT_TRUE(w.FaxTable.Table()->Go(n));
    ASSERT_TRUE(w.FaxTable.SetFieldValue("ARCHIVED", TXbValue::Bool(true)));
    ASSERT_TRUE(w.FaxTable.Post());
  }
  // A row flagged deleted stays in the file until a rebuild packs it.
  ASSERT_TRUE(w.FaxTable.Table()->Go(3));
  ASSERT_TRUE(w.FaxTable.Delete());
  w.SetButtons();
  EXPECT_EQ(Rows(w.FaxGrid), 0);
  answers.Push([&](QWidget* window) {
    auto* f = qobject_cast<TDMForm*>(window);
    ASSERT_NE(f, nullptr);
    QTimer::singleShot(0, f, [&, f] {
      EXPECT_EQ(Rows(f->OutGrid), 2);
      EXPECT_TRUE(f->Actions1->isEnabled());
      EXPECT_EQ(f->PageControl1->tabText(0), "Outgoing Faxes");
      answers.Conditions(TConditionField::Phone, "555-9999", true);
      answers.Ok();
      f->DeleteAllConditions1->trigger();
      EXPECT_EQ(answers.texts.last(), "0 deleted.");
      f->CloseButton->click();
    });
  });
  w.FaxLogCleanup1->trigger();
  EXPECT_EQ(answers.rebuilds, 0);
  EXPECT_EQ(w.FaxTable.Table()->RecCount(), 3u);
  EXPECT_EQ(Rows(w.FaxGrid), 0);
  EXPECT_TRUE(fs::exists(send_ / out_[1].doc));
}

TEST_F(CleanupWindowTest, DoubleClickOnDeletedDeletesOneFaxAndTheListMovesOn) {
  TAnswers answers;
  TMainScreen w;
  Start(w);
  Fill(w, 12, 4);
  TDMForm f(Tables(w));
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  QTableView* grid = f.OutGrid;
  auto* model = static_cast<TXbTableModel*>(grid->model());
  Rows(grid);
  const auto subjectAt = [&](int row) {
    EXPECT_TRUE(w.FaxTable.Table()->Go(model->RecordAt(row)));
    return w.FaxTable.FieldText("SUBJECT");
  };
  const std::string target = subjectAt(4);
  const std::string next = subjectAt(5);
  const auto doubleClick = [&](int row, int column) {
    grid->scrollTo(model->index(row, column));
    const QRect cell = grid->visualRect(model->index(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  };
  // Another column asks nothing; No keeps the fax.
  doubleClick(4, 1);
  EXPECT_TRUE(answers.texts.isEmpty());
  answers.No();
  doubleClick(4, 0);
  ASSERT_EQ(answers.texts, QStringList{"Delete this fax? (action is permanent)"});
  EXPECT_EQ(answers.captions.value(0), "DELETE");
  EXPECT_EQ(answers.defaults.value(0), QMessageBox::Yes);
  ExpectTables(w);

  answers.Yes();
  doubleClick(4, 0);
  for (OutRow& r : out_)
    if (r.subject == target) r.alive = false;
  ExpectTables(w);
  EXPECT_EQ(w.FaxTable.FieldText("SUBJECT"), next);
  QTest::qWait(20);  // the list finds the table's row after it was read afresh
  EXPECT_EQ(model->RecordAt(grid->currentIndex().row()), w.FaxTable.RecNo());

  // The pop-up's Delete and Ctrl+X act on the current row too.
  answers.Yes();
  f.Delete2->trigger();
  for (OutRow& r : out_)
    if (r.subject == next) r.alive = false;
  ExpectTables(w);
  EXPECT_EQ(Rows(grid), 10);
  EXPECT_EQ(grid->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(CleanupWindowTest, DateSelectorStepsAndConditionsWindowChecksItsValue) {
  // A step by month or year keeps the day inside the month it lands in.
  TDateSelector s("Delete all before...", QDate(2000, 1, 31));
  EXPECT_EQ(s.DateLabel->text(), "Monday, January 31, 2000");
  s.MonthPlusButton->click();
  EXPECT_EQ(s.Date(), QDate(2000, 2, 29));
  s.YearPlusButton->click();
  EXPECT_EQ(s.Date(), QDate(2001, 2, 28));
  EXPECT_EQ(s.DateLabel->text(), "Wednesday, February 28, 2001");
  emit s.Calendar1->activated(s.Date());  // a double click on a day
  EXPECT_EQ(s.result(), QDialog::Accepted);

  // A blank value is refused; Ok asks once more and No stays in the window.
  TAnswers answers;
  TDeleteForConditions out(TFaxKind::Outgoing, "ignored", "Ann Other", "555-1234");
  out.RecipientEdit->setText("   ");
  out.OkButton->click();
  EXPECT_EQ(answers.texts, QStringList{"Please enter a value"});
  EXPECT_FALSE(out.Rule().Valid());
  out.PhoneButton->setChecked(true);
  answers.No();
  out.OkButton->click();
  EXPECT_EQ(answers.captions.last(), "VERIFY DELETE");
  EXPECT_NE(out.result(), QDialog::Accepted);
  answers.Yes();
  out.OkButton->click();
  EXPECT_EQ(out.result(), QDialog::Accepted);
  EXPECT_TRUE(out.Rule().Valid());

  TDeleteForConditions in(TFaxKind::Received, "  Smith  ", "", "");
  EXPECT_TRUE(in.FromButton->isChecked());
  EXPECT_EQ(in.FromEdit->text(), "Smith");
}

TEST_F(CleanupWindowTest, StartRemovesOnlyTheProgramsOwnOrphanFiles) {
  fs::create_directories(send_);
  const auto old = [](const fs::path& p) {
    TTempFolder::WriteFile(p, "x");
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(2));
  };
  old(send_ / "FAX00042.APF");    // its row went, the run stopped before the file
  old(send_ / "COV00042.FCD");
  old(send_ / "holiday.APF");     // the user's
  old(send_ / "FAX00043.APF");    // a job still waiting for the intake
  TTempFolder::WriteFile(send_ / "FAX00043.ZRD", "555\r\nAnn\r\nJob\r\n");
  TTempFolder::WriteFile(send_ / "FAX00044.APF", "x");  // just written
  old(send_ / "FAX00045.APF");    // a job an earlier run had claimed when it stopped
  TTempFolder::WriteFile(send_ / "FAX00045.ZRC", "555\r\nBob\r\nClaimed\r\n");
  TMainScreen w;
  Start(w);
  EXPECT_TRUE(fs::exists(send_ / "FAX00045.APF"));
  EXPECT_FALSE(fs::exists(send_ / "FAX00045.ZRC"));
  EXPECT_EQ(Live(w.FaxTable, "FAXDOC"), (std::set<std::string>{"FAX00043.APF", "FAX00045.APF"}));
  EXPECT_FALSE(fs::exists(send_ / "FAX00042.APF"));
  EXPECT_FALSE(fs::exists(send_ / "COV00042.FCD"));
  EXPECT_TRUE(fs::exists(send_ / "holiday.APF"));
  EXPECT_TRUE(fs::exists(send_ / "FAX00044.APF"));
  // The waiting jobs became rows, their images kept.
  EXPECT_TRUE(fs::exists(send_ / "FAX00043.APF"));
}

// A run killed between flagging rows and removing their files: the next start
// removes the files no row names any more and keeps every live row's files.
TEST_F(CleanupWindowTest, AStartAfterAKilledRuleLeavesEveryRowWithItsFilesAndNoOrphans) {
  {
    TMainScreen w;
    Start(w);
    Fill(w, 200, 0);
    w.close();
  }
  // Files from long ago, so that the start does not wait for them to settle.
  for (const fs::directory_entry& e : fs::directory_iterator(send_))
    fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(2));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TXbEngine engine;
    engine.Settings().deleted = true;
    TXbDataTable out(engine), rec(engine);
    TXbase ox(engine), rx(engine);
    ox.SetDataSource(&out);
    rx.SetDataSource(&rec);
    if (!OpenOutgoingTable(out, ox, home_, ".not. archived") || !OpenReceivedTable(rec, rx, home_)) _exit(3);
    TFaxLogCleanup cleanup(out, rec, send_, receive_);
    int flagged = 0;
    cleanup.OnRowFlagged = [&](uint32_t) {
      if (++flagged == 60) raise(SIGKILL);
    };
    (void)cleanup.DeleteWhere(TFaxKind::Outgoing, RuleAll());
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  TMainScreen w;
  Start(w);
  const std::set<std::string> live = Live(w.FaxTable, "SUBJECT");
  for (OutRow& r : out_) r.alive = live.contains(r.subject);
  EXPECT_EQ(Alive(out_), 140);
  ExpectTables(w);
  EXPECT_TRUE(w.FaxTable.Table()->VerifyIndexes().ok());
}

}  // namespace
