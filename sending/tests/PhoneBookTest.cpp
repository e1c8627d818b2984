// The phone book windows on real tables in a temporary program folder: the
// Enter key of the edit field, the editor's limits and 1252 text, the
// browser's buttons, New, Edit, Delete and Accept, jumping by typing, and a
// phone book that cannot be opened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <deque>
#include <fstream>
#include <functional>

#include "mainscreen/TMainScreen.h"
#include "sending/TEnterEdit.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "sending/TPhoneBook.h"
#include "sending/TPhoneBookEditor.h"
#include "store/StoreText.h"
#include "store/core/FaxTables.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Answers the modal windows that open, in order, with the queued functions;
// the texts, captions and default buttons of message boxes are kept.
class TAnswers {
 public:
  TAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  void Push(std::function<void(QWidget*)> answer) { answers_.push_back(std::move(answer)); }
  // The editor: fill both fields and accept.
  void Entry(const QString& name, const QString& number) {
    Push([name, number](QWidget* w) {
      auto* e = qobject_cast<TPhoneBookEditor*>(w);
      ASSERT_NE(e, nullptr);
      e->Name->setText(name);
      e->Number->setText(number);
      e->OKButton->click();
    });
  }
  void Box(QMessageBox::StandardButton b) {
    Push([b](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      box->button(b)->click();
    });
  }
  bool Done() const { return answers_.empty(); }
  QStringList texts, captions;
  QList<QMessageBox::StandardButton> defaults;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("answered").toBool() || answers_.empty()) return;
    w->setProperty("answered", true);
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      texts << box->text();
      captions << box->windowTitle();
      defaults << box->standardButton(box->defaultButton());
    }
    auto answer = std::move(answers_.front());
    answers_.pop_front();
    answer(w);
  }
  QTimer timer_;
  std::deque<std::function<void(QWidget*)>> answers_;
};

// Types text key by key as a keyboard would, beyond what QTest's ASCII keys cover.
void Type(QWidget* w, const QString& text) {
  for (const char32_t cp : text.toUcs4()) {
    const QString one = QString::fromUcs4(&cp, 1);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, one);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, one);
    QApplication::sendEvent(w, &release);
  }
}

std::string FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string RunDbfread(const fs::path& dbf) {
  const std::string cmd = "PYTHONIOENCODING=utf-8 /usr/bin/python3 " CORVANE_SOURCE_DIR
                          "/xbase/tests/dbfread_dump.py '" + dbf.string() + "' 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (::pclose(p) != 0) out = "dbfread failed:\n" + out;
  return out;
}

class PhoneBookTest : public ::testing::Test {
 protected:
  // Adds entries through the browser's New button, as a user would.
  void Add(TPhoneBook& b, const QList<std::pair<QString, QString>>& entries) {
    TAnswers answers;
    for (const auto& [name, number] : entries) {
      answers.Entry(name, number);
      b.Addbutton->click();
    }
    ASSERT_TRUE(answers.Done());
  }
  static QString GridName(TPhoneBook& b, int row) {
    return b.PhoneGrid->model()->index(row, 0).data().toString();
  }
  static QString CurrentName(TPhoneBook& b) { return GridName(b, b.PhoneGrid->currentIndex().row()); }
  static void Select(TPhoneBook& b, int row) { b.PhoneGrid->setCurrentIndex(b.PhoneGrid->model()->index(row, 0)); }
  static bool RowButtons(TPhoneBook& b) {
    const bool on = b.Modifybutton->isEnabled();
    EXPECT_EQ(b.Deletebutton->isEnabled(), on);
    EXPECT_EQ(b.OKButton->isEnabled(), on);
    return on;
  }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path();
};

TEST(EnterEditTest, EnterMovesOnInTabOrderAndIsNeverTyped) {
  QDialog window;
  auto* first = new TEnterEdit(&window);
  auto* second = new TEnterEdit(&window);
  auto* ok = new QPushButton("OK", &window);
  ok->setDefault(true);
  bool pressed = false;
  QObject::connect(ok, &QPushButton::clicked, [&] { pressed = true; });
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(first);
  layout->addWidget(second);
  layout->addWidget(ok);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  first->setFocus();
  first->setText("abc");
  QTest::keyClick(first, Qt::Key_Return);
  EXPECT_EQ(first->text(), "abc");
  EXPECT_EQ(QApplication::focusWidget(), second);
  QTest::keyClick(second, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(QApplication::focusWidget(), ok);
  EXPECT_FALSE(pressed);  // the default button is not pressed by Enter in a field
  EXPECT_TRUE(window.isVisible());
  // Other keys are typed as usual.
  QTest::keyClicks(second, "xy");
  EXPECT_EQ(second->text(), "xy");

  // A field that is a window of its own drops Enter too.
  TEnterEdit alone;
  alone.setText("z");
  QTest::keyClick(&alone, Qt::Key_Return);
  EXPECT_EQ(alone.text(), "z");
}

TEST(PhoneBookEditorTest, FieldsHoldTheirWidthAndOnly1252Text) {
  TPhoneBookEditor e;
  EXPECT_EQ(e.windowTitle(), "Phone Book Editor");
  e.Name->setText(QString(40, 'N'));
  EXPECT_EQ(e.Name->text(), QString(35, 'N'));
  QTest::keyClicks(e.Number, QString(30, '5'));
  EXPECT_EQ(e.Number->text(), QString(25, '5'));

  // Typed or pasted: accents outside 1252 dropped, ligatures spelled out,
  // the rest "?", one per character (an emoji is one character, two UTF-16 units).
  e.Name->clear();
  Type(e.Name, QString::fromUtf8("\xc5\x81\xc3\xb3""d\xc5\xba"));  // Łódź
  EXPECT_EQ(e.Name->text(), QString::fromUtf8("?\xc3\xb3""dz"));
  e.Name->clear();
  e.Name->insert(QString::fromUtf8("\xef\xac\x81le \xf0\x9f\x98\x80 \xe2\x82\xac \xce\xa9"));  // ﬁle 😀 € Ω
  EXPECT_EQ(e.Name->text(), QString::fromUtf8("file ? \xe2\x82\xac ?"));
  EXPECT_EQ(ToTableText(e.Name->text()), "file ? \x80 ?");
  // A character spelled out at the limit is cut at the field's width.
  e.Name->setText(QString(34, 'a') + QString::fromUtf8("\xef\xac\x81"));
  EXPECT_EQ(e.Name->text(), QString(34, 'a') + "f");

  // 1252 codes read back as the characters they stand for, and unassigned codes round-trip.
  EXPECT_EQ(TableText("\x80\x8a\x9f"), QString::fromUtf8("\xe2\x82\xac\xc5\xa0\xc5\xb8"));
  EXPECT_EQ(ToTableText(TableText("a\x81\x8d\xff")), "a\x81\x8d\xff");
}

TEST_F(PhoneBookTest, EmptyBookOffersOnlyNewAndEntriesMayBeEmpty) {
  TPhoneBook b(home_, TPhoneBookMode::Choosing);
  b.show();
  ASSERT_TRUE(b.TableOpen());
  EXPECT_TRUE(fs::exists(home_ / "CVPB.DBF"));
  EXPECT_TRUE(fs::exists(home_ / "CVPB.CDX"));
  EXPECT_EQ(b.windowTitle(), "Phone Book Browser");
  EXPECT_FALSE(b.Closebutton->isVisible());
  EXPECT_TRUE(b.OKButton->isVisible());
  EXPECT_TRUE(b.Cancelbutton->isVisible());
  EXPECT_TRUE(b.Addbutton->isEnabled());
  EXPECT_FALSE(RowButtons(b));

  Add(b, {{"", ""}});
  EXPECT_TRUE(RowButtons(b));
  EXPECT_EQ(b.PhoneGrid->model()->rowCount(), 1);
  TAnswers answers;
  answers.Entry("Only a name", "");
  b.Modifybutton->click();
  EXPECT_EQ(CurrentName(b), "Only a name");
  b.OKButton->click();
  EXPECT_EQ(b.result(), QDialog::Accepted);
  EXPECT_EQ(b.ChosenName(), "Only a name");
  EXPECT_EQ(b.ChosenNumber(), "");
}

TEST_F(PhoneBookTest, EntriesAtTheLimitsAreStoredAsAnyDbaseReaderSeesThem) {
  const QString longName = QString(34, 'Z') + QString::fromUtf8("\xc3\xa9");  // 35 characters, the last é
  const QString longNumber = "+1 (555) 0100-2000 x12345";                    // 25 characters
  {
    TPhoneBook b(home_, TPhoneBookMode::Managing);
    Add(b, {{longName + "tail", longNumber + "99"}, {QString::fromUtf8("Ren\xc3\xa9\xe2\x80\x94Pi\xc5\x82""a"), "200"},
            {"Anna", "100"}});
    // Name order, the new entry current.
    EXPECT_EQ(GridName(b, 0), "Anna");
    EXPECT_EQ(GridName(b, 2), longName);
    EXPECT_EQ(CurrentName(b), "Anna");
    EXPECT_EQ(GridName(b, 1), QString::fromUtf8("Ren\xc3\xa9\xe2\x80\x94Pi?a"));
    EXPECT_EQ(b.PhoneGrid->model()->index(2, 1).data().toString(), longNumber);
  }
  const std::string seen = RunDbfread(home_ / "CVPB.DBF");
  EXPECT_NE(seen.find("F NAME C 35 0\nF PHONE C 25 0\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("L " + (longName + "|" + longNumber).toStdString() + "\n"), std::string::npos) << seen;
  // The em dash has a 1252 code; the ł has none and no decomposition, so it is stored as "?".
  EXPECT_NE(seen.find("L Ren\xc3\xa9\xe2\x80\x94Pi?a|200\n"), std::string::npos) << seen;
}

TEST_F(PhoneBookTest, DeleteAsksWithNoAsDefaultAndTheLastDeletionDisablesTheRowButtons) {
  TPhoneBook b(home_, TPhoneBookMode::Choosing);
  b.show();
  Add(b, {{"Carol", "3"}, {"Bob", "2"}});
  Select(b, 1);
  ASSERT_EQ(CurrentName(b), "Carol");

  TAnswers answers;
  answers.Box(QMessageBox::No);
  b.Deletebutton->click();
  ASSERT_EQ(answers.texts.size(), 1);
  EXPECT_EQ(answers.texts[0], "Delete the current phone book entry?:\nCarol");
  EXPECT_EQ(answers.captions[0], "Delete");
  EXPECT_EQ(answers.defaults[0], QMessageBox::No);
  EXPECT_EQ(b.PhoneGrid->model()->rowCount(), 2);

  // The chosen entry deleted: Accept then gives the entry that took its place, never the deleted one.
  answers.Box(QMessageBox::Yes);
  b.Deletebutton->click();
  EXPECT_EQ(b.PhoneGrid->model()->rowCount(), 1);
  EXPECT_EQ(CurrentName(b), "Bob");
  EXPECT_TRUE(RowButtons(b));

  answers.Box(QMessageBox::Yes);
  b.Deletebutton->click();
  EXPECT_EQ(b.PhoneGrid->model()->rowCount(), 0);
  EXPECT_FALSE(RowButtons(b));
  b.AcceptbuttonClick();  // without a row: a beep, the browser stays
  EXPECT_TRUE(b.isVisible());
  EXPECT_TRUE(b.ChosenName().isEmpty());
  b.DeleteButtonClick();
  b.ModifyButtonClick();
  EXPECT_TRUE(answers.texts.size() == 3 && answers.Done());

  // Deleted rows stay in the file, flagged, until the index rebuild packs it.
  const std::string seen = RunDbfread(home_ / "CVPB.DBF");
  EXPECT_NE(seen.find("D Carol|3"), std::string::npos) << seen;
  EXPECT_NE(seen.find("D Bob|2"), std::string::npos) << seen;
}

TEST_F(PhoneBookTest, ChoosingReturnsTheAcceptedEntryAndCancelLeavesTheCallersTexts) {
  {
    TPhoneBook b(home_, TPhoneBookMode::Managing);
    EXPECT_TRUE(b.Closebutton->isVisibleTo(&b));
    EXPECT_FALSE(b.OKButton->isVisibleTo(&b));
    EXPECT_FALSE(b.Cancelbutton->isVisibleTo(&b));
    Add(b, {{"Alpha", "111"}, {"Beta", "222"}, {"Gamma", "333"}});
  }
  QString name = "recipient before", number = "number before";
  TAnswers answers;
  answers.Push([](QWidget* w) {
    auto* b = qobject_cast<TPhoneBook*>(w);
    ASSERT_NE(b, nullptr);
    b->Cancelbutton->click();
  });
  EXPECT_FALSE(TPhoneBook::Choose(home_, nullptr, name, number));
  EXPECT_EQ(name, "recipient before");
  EXPECT_EQ(number, "number before");

  answers.Push([](QWidget* w) {
    auto* b = qobject_cast<TPhoneBook*>(w);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->PhoneGrid->currentIndex().row(), 0);  // opens on the first entry
    EXPECT_TRUE(b->OKButton->isEnabled());
    b->PhoneGrid->setCurrentIndex(b->PhoneGrid->model()->index(1, 0));
    b->OKButton->click();
  });
  EXPECT_TRUE(TPhoneBook::Choose(home_, nullptr, name, number));
  EXPECT_EQ(name, "Beta");
  EXPECT_EQ(number, "222");
}

TEST_F(PhoneBookTest, TypingJumpsToTheFirstNameStartingWithTheTypedText) {
  TPhoneBook b(home_, TPhoneBookMode::Managing);
  b.show();
  Add(b, {{"carl", "1"}, {"Bob", "2"}, {"Carol", "3"}, {"alice", "4"}, {"Caroline", "5"}});
  // The name order is that of the stored text: capitals first.
  EXPECT_EQ(GridName(b, 0), "Bob");
  EXPECT_EQ(GridName(b, 4), "carl");

  // Keys closer together than the input interval extend the text; a pause starts it afresh.
  const int interval = QApplication::keyboardInputInterval();
  QApplication::setKeyboardInputInterval(60000);
  QTest::keyClicks(b.PhoneGrid, "carl");
  EXPECT_EQ(CurrentName(b), "carl");  // "car" found Carol first; "carl" goes on to carl
  QApplication::setKeyboardInputInterval(1);
  QTest::qWait(20);
  QTest::keyClicks(b.PhoneGrid, "A");
  QApplication::setKeyboardInputInterval(interval);
  EXPECT_EQ(CurrentName(b), "alice");
  // The table follows the grid: Edit works on the entry jumped to.
  TAnswers answers;
  answers.Entry("Alice", "4");
  b.Modifybutton->click();
  EXPECT_EQ(CurrentName(b), "Alice");
  EXPECT_EQ(GridName(b, 0), "Alice");
  // Nothing starts with the text: the current entry stays.
  EXPECT_FALSE(b.JumpTo("xyz"));
  EXPECT_EQ(CurrentName(b), "Alice");
}

TEST_F(PhoneBookTest, ABookThatCannotBeOpenedIsSaidSoAndLeftAlone) {
  TXbEngine engine;
  TXbDataTable out(engine);
  TXbase outX(engine);
  ASSERT_TRUE(OpenOutgoingTable(out, outX, home_, ".not. archived"));
  ASSERT_TRUE(out.Close());
  const std::string outDbf = FileBytes(home_ / "CVOUT.DBF"), outCdx = FileBytes(home_ / "CVOUT.CDX");

  auto expectRefused = [&](const fs::path& folder) {
    TPhoneBook b(folder, TPhoneBookMode::Choosing);
    b.show();
    EXPECT_FALSE(b.TableOpen());
    EXPECT_TRUE(b.TableProblem->isVisible());
    for (QPushButton* button : {b.Addbutton, b.Modifybutton, b.Deletebutton, b.OKButton})
      EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_TRUE(b.Cancelbutton->isEnabled());
    b.AddbuttonClick();
    b.AcceptbuttonClick();
    EXPECT_FALSE(b.JumpTo("a"));
    EXPECT_TRUE(b.isVisible());
  };

  // Damaged: a header that is not a table.
  const std::string garbage = "this is not a dBASE table, only some text in its place";
  std::ofstream(home_ / "CVPB.DBF", std::ios::binary) << garbage;
  expectRefused(home_);
  EXPECT_EQ(FileBytes(home_ / "CVPB.DBF"), garbage);

  // A table by that name with another layout is not a phone book either.
  fs::remove(home_ / "CVPB.DBF");
  {
    TXbDataTable other(engine);
    TXbase x(engine);
    x.SetDataSource(&other);
    other.SetDatabaseName(home_);
    other.SetTableName(kPhoneBookFile);
    x.CreateTable(home_ / kPhoneBookFile, 1);
    ASSERT_TRUE(x.AddField("NAME", 'C', 10, 0));
    ASSERT_TRUE(x.FinishCreate());
    x.SetDataSource(nullptr);
  }
  const std::string otherBytes = FileBytes(home_ / "CVPB.DBF");
  expectRefused(home_);
  EXPECT_EQ(FileBytes(home_ / "CVPB.DBF"), otherBytes);
  EXPECT_FALSE(fs::exists(home_ / "CVPB.CDX"));

  // A sound table whose index is damaged: the index is kept aside and built again.
  fs::remove(home_ / "CVPB.DBF");
  fs::remove(home_ / "CVPB.CDX");
  {
    TPhoneBook b(home_, TPhoneBookMode::Managing);
    Add(b, {{"Kept", "1"}});
  }
  std::ofstream(home_ / "CVPB.CDX", std::ios::binary | std::ios::trunc) << garbage;
  {
    TPhoneBook b(home_, TPhoneBookMode::Managing);
    ASSERT_TRUE(b.TableOpen());
    EXPECT_EQ(b.PhoneGrid->model()->rowCount(), 1);
    EXPECT_TRUE(b.HasCurrentRow());
    EXPECT_EQ(GridName(b, 0), "Kept");
    EXPECT_EQ(CurrentName(b), "Kept");
  }
  EXPECT_EQ(FileBytes(home_ / "CVPB.CDX.bad"), garbage);

  // Missing, where it cannot be created.
  std::ofstream(home_ / "not-a-folder") << "x";
  expectRefused(home_ / "not-a-folder");

  EXPECT_EQ(FileBytes(home_ / "CVOUT.DBF"), outDbf);
  EXPECT_EQ(FileBytes(home_ / "CVOUT.CDX"), outCdx);
}

TEST_F(PhoneBookTest, MainWindowCommandOpensTheBrowserToManageTheBook) {
  const fs::path home = home_ / "cv";
  fs::create_directories(home);
  SetProgramFolder(home.string());
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  Settings = TSettings{};
  std::ofstream(home / "CV.INI", std::ios::binary) << "[Modem]\r\nComPort=0\r\n";  // not the first run
  {
    TMainScreen w;
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
    TAnswers answers;
    bool managing = false;
    answers.Push([&](QWidget* d) {
      auto* b = qobject_cast<TPhoneBook*>(d);
      ASSERT_NE(b, nullptr);
      managing = b->TableOpen() && b->Closebutton->isVisible() && !b->OKButton->isVisible();
      answers.Entry("From the menu", "200");
      // Out of the answering timer, whose next tick answers the editor.
      QTimer::singleShot(0, b, [b] {
        b->Addbutton->click();
        b->Closebutton->click();
      });
    });
    w.PhoneBook1->trigger();
    EXPECT_TRUE(managing);
    EXPECT_TRUE(answers.Done());
  }
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_NE(RunDbfread(home / "CVPB.DBF").find("L From the menu|200\n"), std::string::npos);
}

}  // namespace
