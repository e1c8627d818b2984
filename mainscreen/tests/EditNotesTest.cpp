// The Edit command on the received tab edits the notes of the current fax.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "mainscreen/TEditReceiveNotes.h"
#include "mainscreen/TMainScreen.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/StoreText.h"
#include "testsupport/TempFolder.h"

namespace {

// Hands the notes window, once it is up, to a callback that answers it.
class TNotesWatch {
 public:
  explicit TNotesWatch(std::function<void(TEditReceiveNotes&)> answer) : answer_(std::move(answer)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* form = qobject_cast<TEditReceiveNotes*>(QApplication::activeModalWidget());
      if (!form || form->property("seen").toBool()) return;
      form->setProperty("seen", true);
      ++forms;
      answer_(*form);
    });
    timer_.start();
  }
  int forms = 0;

 private:
  std::function<void(TEditReceiveNotes&)> answer_;
  QTimer timer_;
};

class EditNotes : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(home_.Path().string() + "/");
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    Settings = TSettings{};
    TTempFolder::WriteFile(home_ / "CV.INI", "[Modem]\r\nComPort=0\r\n");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  static void Start(TMainScreen& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FirstActivationDone(); }, 10000));
  }
  static uint32_t AddRow(TMainScreen& w, const std::string& from, const std::string& notes) {
    TXbDataTable& t = w.RecTable;
    EXPECT_TRUE(t.Append());
    EXPECT_TRUE(t.SetFieldText("FROM", from));
    EXPECT_TRUE(t.SetFieldText("NOTES", notes));
    EXPECT_TRUE(t.SetFieldText("FAXFILE", "FAX00001.APF"));
    EXPECT_TRUE(t.Post());
    return t.RecNo();
  }
  static std::string NotesOf(TMainScreen& w, uint32_t recno) {
    EXPECT_TRUE(w.RecTable.Table()->Go(recno));
    return w.RecTable.FieldText("NOTES");
  }
  // NOTES as an independent dBASE reader decodes it.
  std::string NotesReadBack(uint32_t recno) {
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
                        "import sys\nfrom dbfread import DBF\n"
                        "r=list(DBF(sys.argv[1],encoding='cp1252'))[int(sys.argv[2])-1]\n"
                        "sys.stdout.buffer.write(r['NOTES'].encode('utf-8'))",
                        QString::fromStdString((home_ / "CVREC.DBF").string()), QString::number(recno)});
    p.waitForFinished(30000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput().toStdString();
  }
  TTempFolder home_;
};

TEST_F(EditNotes, AcceptStoresTheNotesOfTheRowTheWindowWasOpenedFor) {
  TMainScreen w;
  Start(w);
  const uint32_t acme = AddRow(w, "ACME", "old note");
  w.TabSet1->setCurrentIndex(1);
  TNotesWatch watch([&](TEditReceiveNotes& form) {
    EXPECT_EQ(form.windowTitle(), "Received Fax Notes");
    EXPECT_EQ(form.FromLabel->text(), "From: ACME");
    EXPECT_EQ(form.NotesEdit->text(), "old note");
    EXPECT_TRUE(form.AcceptButton->isDefault());
    // A fax arrives meanwhile and its row becomes the current one.
    (void)AddRow(w, "OTHER", "");
    form.NotesEdit->setText("Call back Monday");
    form.AcceptButton->click();
  });
  w.Edit1->trigger();
  ASSERT_EQ(watch.forms, 1);
  EXPECT_EQ(NotesOf(w, acme), "Call back Monday");
  EXPECT_EQ(NotesOf(w, acme + 1), "");
  EXPECT_EQ(NotesReadBack(acme), "Call back Monday");
}

TEST_F(EditNotes, TextOutsideTheCodePageAndOverLongPastesAreKeptToTheField) {
  TMainScreen w;
  Start(w);
  const uint32_t rec = AddRow(w, "ACME", "");
  w.TabSet1->setCurrentIndex(1);
  QString typed = QString::fromUtf8("Café – 5 € für Jürgen ✓ ﬁle");
  {
    TNotesWatch first([&](TEditReceiveNotes& form) {
      form.NotesEdit->setText(typed);
      form.AcceptButton->click();
    });
    w.EditButton->click();
    ASSERT_EQ(first.forms, 1);
  }
  EXPECT_EQ(TableText(NotesOf(w, rec)), FitTableText(typed, 60));
  EXPECT_EQ(NotesReadBack(rec), "Café – 5 € für Jürgen ? file");

  // A paste of 100 characters keeps the first 60; ligatures that spell out
  // longer in the code page are cut at the field's width.
  {
    TNotesWatch second([&](TEditReceiveNotes& form) {
      form.NotesEdit->clear();
      form.NotesEdit->insert(QString(100, 'x'));
      EXPECT_EQ(form.NotesEdit->text().size(), 60);
      form.AcceptButton->click();
    });
    w.EditButton->click();
    ASSERT_EQ(second.forms, 1);
  }
  EXPECT_EQ(NotesOf(w, rec), std::string(60, 'x'));
  {
    TNotesWatch third([&](TEditReceiveNotes& form) {
      form.NotesEdit->setText(QString(40, QChar(0xFB01)));  // "ﬁ" × 40, 80 letters in the table
      form.AcceptButton->click();
    });
    w.EditButton->click();
    ASSERT_EQ(third.forms, 1);
  }
  std::string fi;
  for (int i = 0; i < 30; ++i) fi += "fi";
  EXPECT_EQ(NotesOf(w, rec), fi);
  EXPECT_EQ(NotesReadBack(rec), fi);
}

TEST_F(EditNotes, CancelChangesNothingAndAnEmptyListOnlyBeeps) {
  TMainScreen w;
  Start(w);
  w.TabSet1->setCurrentIndex(1);
  {
    TNotesWatch none([](TEditReceiveNotes& form) { form.CancelButton->click(); });
    w.EditButtonClick();  // no row: no window
    QTest::qWait(50);
    EXPECT_EQ(none.forms, 0);
  }

  const uint32_t rec = AddRow(w, "ACME", "keep me");
  TNotesWatch cancel([](TEditReceiveNotes& form) {
    form.NotesEdit->setText("thrown away");
    form.CancelButton->click();
  });
  w.EditButtonClick();
  ASSERT_EQ(cancel.forms, 1);
  EXPECT_EQ(NotesOf(w, rec), "keep me");
}

}  // namespace
