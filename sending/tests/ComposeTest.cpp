// New, Add Cover, Edit and Forward from the main window on real tables and
// files in a temporary program folder: the cover sheet editor with the stock
// templates, the phone book chooser, the side file, the rendered cover read
// back by OCR, Edit restoring a cover sheet, the fax information editor,
// failures while writing, and forwarding a received fax.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QLocalSocket>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <set>

#include "cover/StockTemplates.h"
#include "cover/core/SideFile.h"
#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "mainscreen/TMainScreen.h"
#include "sending/NewFaxFromFile.h"
#include "sending/TCreateEditQuickFax.h"
#include "sending/TEnterEdit.h"
#include "sending/TFaxEditor.h"
#include "sending/TGetSenderInfo.h"
#include "sending/TPhoneBook.h"
#include "sending/TPreviewQuickFaxForms.h"
#include "sending/tests/DropFiles.h"
#include "sending/tests/ModalAnswers.h"
#include "shell/MonoImage.h"
#include "shell/SingleInstance.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "store/StoreText.h"
#include "store/XbTableModel.h"
#include "store/core/FaxTables.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

std::set<std::string> FolderNames(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

int PageCount(const fs::path& apf) {
  TFxApfReader r;
  return r.Open(apf) == 0 ? r.PageCount() : -1;
}

QImage CoverImage(const fs::path& apf) {
  TFxFaxUnpacker u;
  u.SetInFileName(apf.string());
  u.AutoScaleMode = TAutoScaleMode::asNone;
  TFxBitmap b;
  if (u.TryPageToBitmap(1, b) != 0) return {};
  return ToQImage(b);
}

long Ink(const QImage& page) {
  const QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
  long n = 0;
  for (int y = 0; y < grey.height(); ++y) {
    const uchar* row = grey.constScanLine(y);
    for (int x = 0; x < grey.width(); ++x) n += row[x] < 128;
  }
  return n;
}

// What tesseract reads on the cover page; empty when it is not installed.
std::string ReadByOcr(const fs::path& apf, const fs::path& scratch) {
  const QString tesseract = QStandardPaths::findExecutable("tesseract");
  if (tesseract.isEmpty()) return {};
  const QString png = QString::fromStdString((scratch / "page.png").string());
  if (!CoverImage(apf).save(png)) return "page not saved";
  QProcess ocr;
  ocr.start(tesseract, {png, "stdout"});
  if (!ocr.waitForFinished(120000)) return "tesseract did not finish";
  return QString::fromUtf8(ocr.readAllStandardOutput()).simplified().toStdString();
}

class ComposeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home_);
    SetProgramFolder(home_.string());
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    std::ofstream(home_ / "CV.INI", std::ios::binary) << "[Modem]\r\nComPort=0\r\n";  // not the first run
    ASSERT_GT(InstallStockTemplates(CoversFolder()), 0);
    {
      TXbEngine engine;
      TXbaseEnv env(engine);
      TXbDataTable book(engine);
      TXbase xbase(engine);
      ASSERT_TRUE(OpenPhoneBook(book, xbase, home_, false));
      ASSERT_TRUE(book.Append() && book.SetFieldText("NAME", "Harold Winterbottom") &&
                  book.SetFieldText("PHONE", "5550123") && book.Post());
    }
    main_ = std::make_unique<TMainScreen>();
    ReadSettings();
    Settings.Name = "Edith Marlowe";
    Settings.Company = "Marlowe Trading";
    Settings.Fax = "5559876";
    Settings.Voice = "5559877";
    main_->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return main_->FirstActivationDone(); }, 10000));
  }
  void TearDown() override {
    main_.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    Settings = TSettings{};
  }

  fs::path Send() const { return home_ / "SEND"; }
  uint32_t Rows() { return main_->FaxTable.RecordCount(); }
  std::string Field(const char* name) { return main_->FaxTable.FieldText(name); }

  // Fills the editor as the acceptance fax has it, the recipient chosen in
  // the phone book.
  void FillAcceptanceFax(TModalAnswers& answers, TCreateEditQuickFax* e) {
    answers.For<TPhoneBook>([](TPhoneBook* b) {
      EXPECT_TRUE(b->OKButton->isVisible());
      b->OKButton->click();
    });
    e->PhonebookButton->click();
    e->Regarding->setText("Shipment schedule");
    e->FaxMessage->setPlainText("First line of the message\nSecond line\nThird line");
    e->cUrgent->setChecked(true);
    e->cPleaseComment->setChecked(true);
  }

  TTempFolder temp_;
  const fs::path home_ = temp_.Path() / "cv";
  std::unique_ptr<TMainScreen> main_;
};

TEST_F(ComposeTest, NewCoverSheetMakesRowCoverAndSideFileAndEditRestoresThemExactly) {
  TModalAnswers answers;
  answers.For<TCreateEditQuickFax>([&](TCreateEditQuickFax* e) {
    EXPECT_EQ(e->windowTitle(), "Fax Cover Sheet Editor");
    EXPECT_EQ(e->CurrentQFileLabel->text(), "cv0001.fct");
    EXPECT_EQ(e->ChangeSenderButton->toolTip(), "Edith Marlowe\rMarlowe Trading\r5559876\r5559877");
    FillAcceptanceFax(answers, e);
    e->SaveButton->click();
  });
  main_->NewButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 20000));

  ASSERT_EQ(Rows(), 1u);
  EXPECT_EQ(Field("RECIPIENT"), "Harold Winterbottom");
  EXPECT_EQ(Field("PHONE"), "5550123");
  EXPECT_EQ(Field("SUBJECT"), "Shipment schedule");
  EXPECT_EQ(Field("FAXDOC"), "");
  EXPECT_EQ(Field("FAXCOVER"), "COV00000.APF");
  // The list shows the new row as its current one.
  EXPECT_TRUE(QTest::qWaitFor([&] { return main_->FaxGrid->currentIndex().row() == 0; }, 5000));
  EXPECT_EQ(FolderNames(Send()), (std::set<std::string>{"COV00000.APF", "COV00000.FCD"}));
  EXPECT_EQ(PageCount(Send() / "COV00000.APF"), 1);
  const std::string sideFile = TTempFolder::ReadFile(Send() / "COV00000.FCD");
  EXPECT_EQ(sideFile, "cv0001.fct\r\nX X  \r\nFirst line of the message\r\nSecond line\r\nThird line\r\n");

  const std::string text = ReadByOcr(Send() / "COV00000.APF", temp_.Path());
  if (!text.empty()) {
    for (const char* expected : {"Harold Winterbottom", "5550123", "Edith Marlowe", "Shipment schedule"})
      EXPECT_NE(text.find(expected), std::string::npos) << expected << " not in: " << text;
  }

  // Edit opens the cover sheet editor with everything as it was saved.
  const auto before = fs::last_write_time(Send() / "COV00000.APF");
  TModalAnswers again;
  again.For<TCreateEditQuickFax>([&](TCreateEditQuickFax* e) {
    EXPECT_EQ(e->Recipient->text(), "Harold Winterbottom");
    EXPECT_EQ(e->RecipientFax->text(), "5550123");
    EXPECT_EQ(e->Regarding->text(), "Shipment schedule");
    EXPECT_EQ(e->FaxMessage->toPlainText(), "First line of the message\nSecond line\nThird line");
    EXPECT_EQ(e->CurrentQFileLabel->text(), "cv0001.fct");
    const std::array<bool, 5> flags{e->cUrgent->isChecked(), e->cForReview->isChecked(),
                                    e->cPleaseComment->isChecked(), e->cPleaseReply->isChecked(),
                                    e->cPleaseRecycle->isChecked()};
    EXPECT_EQ(flags, (std::array<bool, 5>{true, false, true, false, false}));
    e->Notes->setText("second save");
    e->SaveButton->click();
  });
  main_->EditButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return again.Done(); }, 20000));
  // The same files, rewritten; still one row.
  EXPECT_EQ(Rows(), 1u);
  EXPECT_EQ(Field("NOTES"), "second save");
  EXPECT_EQ(Field("FAXCOVER"), "COV00000.APF");
  EXPECT_EQ(FolderNames(Send()), (std::set<std::string>{"COV00000.APF", "COV00000.FCD"}));
  EXPECT_GT(fs::last_write_time(Send() / "COV00000.APF"), before);
  EXPECT_EQ(TTempFolder::ReadFile(Send() / "COV00000.FCD"), sideFile);
}

// The new row goes into the open table and the list finds it without the
// table being reopened, wherever the list's order puts it: after a hundred
// sent faxes (beyond the rows a list reads at first) by date, between two of
// them by recipient; archived rows stay hidden meanwhile.
TEST_F(ComposeTest, NewRowIsTheListsCurrentRowWhereverTheOrderPutsIt) {
  TXbDataTable& table = main_->FaxTable;
  for (int i = 0; i < 103; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Sent %03d", i);
    ASSERT_TRUE(table.Append() && table.SetFieldText("RECIPIENT", name) && table.SetFieldText("PHONE", "200") &&
                table.SetFieldValue("DATESENT", TXbValue::Date(XbJulian(2026, 1 + i % 12, 1 + i % 28))) &&
                table.SetFieldText("TIMESENT", "10:00") && table.SetFieldValue("ARCHIVED", TXbValue::Bool(i >= 100)) &&
                table.Post());
  }
  main_->FaxTableCloseAndOpen();
  main_->SetButtons();

  const auto saveNew = [&](const char* recipient) {
    TModalAnswers answers;
    answers.For<TCreateEditQuickFax>([&](TCreateEditQuickFax* e) {
      e->Recipient->setText(recipient);
      e->RecipientFax->setText("200");
      e->Regarding->setText("Order");
      e->SaveButton->click();
    });
    main_->NewButton->click();
    return QTest::qWaitFor([&] { return answers.Done(); }, 20000);
  };
  // The list's current row, as the record it shows.
  const auto shownRecord = [&] {
    const QModelIndex current = main_->FaxGrid->currentIndex();
    return current.isValid() ? main_->FaxModel->RecordAt(current.row()) : 0u;
  };

  ASSERT_TRUE(saveNew("Zoe New"));
  EXPECT_EQ(Rows(), 104u);
  EXPECT_EQ(Field("RECIPIENT"), "Zoe New");
  EXPECT_EQ(Field("FAXCOVER"), "COV00000.APF");
  const uint32_t first = table.RecNo();
  EXPECT_EQ(first, 104u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shownRecord() == first; }, 5000));
  EXPECT_EQ(main_->FaxGrid->currentIndex().row(), 100);
  while (main_->FaxModel->canFetchMore()) main_->FaxModel->fetchMore();
  EXPECT_EQ(main_->FaxModel->rowCount(), 101);

  main_->OutgoingSortMenu->actions()[2]->trigger();  // by recipient
  ASSERT_TRUE(saveNew("Sent 050b"));
  EXPECT_EQ(Field("FAXCOVER"), "COV00001.APF");
  const uint32_t second = table.RecNo();
  EXPECT_EQ(second, 105u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shownRecord() == second; }, 5000));
  EXPECT_EQ(main_->FaxGrid->currentIndex().row(), 51);
  EXPECT_EQ(main_->FaxModel->RecordAt(50), 51u);  // "Sent 050"
  EXPECT_EQ(main_->FaxModel->RecordAt(52), 52u);  // "Sent 051"
}

TEST_F(ComposeTest, NewThenCancelOrIncompleteSaveChangesNothing) {
  const std::string dbf = TTempFolder::ReadFile(home_ / "CVOUT.DBF");
  TModalAnswers answers;
  answers.For<TCreateEditQuickFax>([&](TCreateEditQuickFax* e) {
    // Each missing piece is named in turn and nothing is written.
    answers.Box(QMessageBox::Ok);
    e->SaveButton->click();
    e->Recipient->setText("Someone");
    answers.Box(QMessageBox::Ok);
    e->SaveButton->click();
    e->RecipientFax->setText("200");
    answers.Box(QMessageBox::Ok);
    e->SaveButton->click();
    EXPECT_EQ(e->focusWidget(), e->Regarding);
    e->CancelButton->click();
  });
  main_->NewButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 20000));
  EXPECT_EQ(answers.texts, (QStringList{"Please enter a recipient", "Please enter a recipient fax number",
                                        "Please enter text for the \"regarding\" field\rand/or enter a message"}));
  EXPECT_EQ(Rows(), 0u);
  EXPECT_TRUE(FolderNames(Send()).empty());
  EXPECT_EQ(TTempFolder::ReadFile(home_ / "CVOUT.DBF"), dbf);
}

TEST_F(ComposeTest, TextsOutside1252AreStoredAsTheyShowAndCutAtTheFieldWidth) {
  TCreateEditQuickFax e(main_->FaxTable, true);
  e.show();
  // Pasted: an emoji, CJK, a ligature and text longer than the field.
  e.Recipient->insert(QString::fromUtf8("\xef\xac\x81nn \xf0\x9f\x98\x80 \xe5\x8c\x97\xe4\xba\xac ") + QString(40, 'r'));
  e.RecipientFax->insert(QString(30, '7'));
  e.Regarding->insert(QString::fromUtf8("Caf\xc3\xa9 \xe2\x82\xac \xce\xa9"));
  e.FaxMessage->setPlainText(QString::fromUtf8("one \xf0\x9f\x98\x80\nK\xc5\x8d""be"));
  const TQuickFaxSheet sheet = e.CollectSheet();
  EXPECT_EQ(e.Recipient->text().size(), 35);
  EXPECT_TRUE(e.Recipient->text().startsWith("finn ? ?? r"));
  EXPECT_EQ(e.RecipientFax->text(), QString(25, '7'));
  EXPECT_EQ(e.FaxMessage->toPlainText(), "one ?\nKobe");
  // The cover draws exactly what the row and the side file keep.
  EXPECT_EQ(TableText(sheet.Recipient).toStdString(), sheet.Values.Texts[cfRecipient]);
  EXPECT_EQ(sheet.Subject, "Caf\xe9 \x80 ?");
  EXPECT_EQ(TableText(sheet.Subject).toStdString(), sheet.Values.Texts[cfRegarding]);
  EXPECT_EQ(sheet.Side.MessageLines, (std::vector<std::string>{"one ?", "Kobe"}));

  TModalAnswers answers;
  e.SaveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return e.result() == QDialog::Accepted; }, 20000));
  main_->FaxTableCloseAndOpen();
  ASSERT_EQ(Rows(), 1u);
  EXPECT_EQ(Field("RECIPIENT"), sheet.Recipient);
  EXPECT_EQ(Field("SUBJECT"), sheet.Subject);
  EXPECT_EQ(TTempFolder::ReadFile(Send() / "COV00000.FCD"), "cv0001.fct\r\n     \r\none ?\r\nKobe\r\n");
}

TEST_F(ComposeTest, AWriteFailureLeavesNoRowAndNoCoverFile) {
  TCreateEditQuickFax e(main_->FaxTable, true);
  e.show();
  e.Recipient->setText("Someone");
  e.RecipientFax->setText("200");
  e.Regarding->setText("Lost");
  bool finished = false, saved = true;
  QObject::connect(&e, &TCreateEditQuickFax::SaveFinished, [&](bool ok) {
    finished = true;
    saved = ok;
  });

  // The SEND folder is gone.
  fs::remove_all(Send());
  TModalAnswers answers;
  answers.Box(QMessageBox::Ok);
  e.SaveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished && answers.Done(); }, 20000));
  EXPECT_FALSE(saved);
  ASSERT_EQ(answers.texts.size(), 1);
  EXPECT_TRUE(answers.texts[0].startsWith("The cover sheet could not be written")) << answers.texts[0].toStdString();
  EXPECT_TRUE(e.isVisible());  // what was typed is still there to save again
  EXPECT_EQ(Rows(), 0u);

  // The image cannot be completed (its temporary name is taken by a folder).
  fs::create_directories(Send() / "COV00000.part.APF");
  finished = false;
  answers.Box(QMessageBox::Ok);
  e.SaveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished && answers.Done(); }, 20000));
  EXPECT_FALSE(saved);
  EXPECT_TRUE(FolderNames(Send()).empty());
  EXPECT_EQ(Rows(), 0u);

  // With room again the same window saves.
  finished = false;
  e.SaveButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 20000));
  EXPECT_TRUE(saved);
  EXPECT_EQ(FolderNames(Send()), (std::set<std::string>{"COV00000.APF", "COV00000.FCD"}));
}

TEST_F(ComposeTest, SideFilesAndTemplatesThatAreOddOrMissing) {
  TXbDataTable& table = main_->FaxTable;
  auto addRow = [&](const std::string& cover) {
    ASSERT_TRUE(table.Append() && table.SetFieldText("RECIPIENT", "R") && table.SetFieldText("PHONE", "1") &&
                table.SetFieldText("FAXCOVER", cover) && table.Post());
  };
  // Flags line of four characters: no flag set, the rest read as usual.
  TTempFolder::WriteFile(Send() / "COV00007.APF", "");
  TTempFolder::WriteFile(Send() / "cov00007.fcd", "CV0002.FCT\r\nXXXX\r\nkept\r\n");
  addRow("COV00007.APF");
  {
    TCreateEditQuickFax e(table, false);
    e.show();
    EXPECT_EQ(e.CurrentQFileLabel->text(), "CV0002.FCT");
    EXPECT_EQ(e.FaxMessage->toPlainText(), "kept");
    for (QCheckBox* c : {e.cUrgent, e.cForReview, e.cPleaseComment, e.cPleaseReply, e.cPleaseRecycle})
      EXPECT_FALSE(c->isChecked());
  }
  // No side file: the default template, no flags, no message.
  addRow("COV00008.APF");
  {
    TCreateEditQuickFax e(table, false);
    e.show();
    EXPECT_EQ(e.CurrentQFileLabel->text(), "cv0001.fct");
    EXPECT_TRUE(e.FaxMessage->toPlainText().isEmpty());
    EXPECT_EQ(e.Recipient->text(), "R");
  }
  // A template that is gone gives a blank page (bar the corner pixel); a
  // side file naming a path is kept to the covers folder.
  TTempFolder::WriteFile(Send() / "COV00008.FCD", "../../../elsewhere/gone.fct\r\n\r\n");
  {
    TCreateEditQuickFax e(table, false);
    e.show();
    EXPECT_EQ(e.TemplateName(), "gone.fct");
    e.Regarding->setText("blank");
    e.SaveButton->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.result() == QDialog::Accepted; }, 20000));
  }
  EXPECT_EQ(PageCount(Send() / "COV00008.APF"), 1);
  EXPECT_LE(Ink(CoverImage(Send() / "COV00008.APF")), 1);
  EXPECT_EQ(TTempFolder::ReadFile(Send() / "COV00008.FCD"), "gone.fct\r\n     \r\n");
  // The side file spelt in lower case is the one rewritten.
  ASSERT_TRUE(table.Prior());
  {
    TCreateEditQuickFax e(table, false);
    e.show();
    e.cPleaseReply->setChecked(true);
    e.SaveButton->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return e.result() == QDialog::Accepted; }, 20000));
  }
  EXPECT_FALSE(fs::exists(Send() / "COV00007.FCD"));
  EXPECT_EQ(TTempFolder::ReadFile(Send() / "cov00007.fcd"), "CV0002.FCT\r\n   X \r\nkept\r\n");
  EXPECT_EQ(PageCount(Send() / "COV00007.APF"), 1);
}

TEST_F(ComposeTest, EditAndAddCoverOnAFaxWithoutCover) {
  TXbDataTable& table = main_->FaxTable;
  TTempFolder::WriteFile(Send() / "FAX00000.APF", "body");
  ASSERT_TRUE(table.Append() && table.SetFieldText("RECIPIENT", "Old") && table.SetFieldText("PHONE", "1") &&
              table.SetFieldText("SUBJECT", "Body only") && table.SetFieldText("FAXDOC", "FAX00000.APF") &&
              table.Post());
  main_->FaxTableCloseAndOpen();
  main_->SetButtons();

  TModalAnswers answers;
  answers.For<TFaxEditor>([](TFaxEditor* f) {
    EXPECT_EQ(f->windowTitle(), "Fax Information Editor");
    EXPECT_EQ(f->Recipient->text(), "Old");
    f->Recipient->setText("Changed then cancelled");
    f->CancelButton->click();
  });
  main_->EditButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(Field("RECIPIENT"), "Old");

  answers.For<TFaxEditor>([](TFaxEditor* f) {
    f->Recipient->setText("New recipient");
    f->Codes->setText(QString(30, 'c'));
    f->OKButton->click();
  });
  main_->EditButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(Field("RECIPIENT"), "New recipient");
  EXPECT_EQ(Field("CODES"), std::string(25, 'c'));
  EXPECT_EQ(Field("SUBJECT"), "Body only");

  // Add Cover: the row keeps its document and gains a cover.
  ASSERT_TRUE(main_->AddCoverButton->isEnabled());
  answers.For<TCreateEditQuickFax>([](TCreateEditQuickFax* e) {
    EXPECT_EQ(e->Recipient->text(), "New recipient");
    e->SaveButton->click();
  });
  main_->AddCoverButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 20000));
  EXPECT_EQ(Rows(), 1u);
  EXPECT_EQ(Field("FAXDOC"), "FAX00000.APF");
  EXPECT_EQ(Field("FAXCOVER"), "COV00000.APF");
  EXPECT_EQ(PageCount(Send() / "COV00000.APF"), 1);
  EXPECT_FALSE(main_->AddCoverButton->isEnabled());
}

TEST_F(ComposeTest, ForwardCopiesTheReceivedFaxToTheNextFreeFwdName) {
  const std::string image = "received image bytes";
  TTempFolder::WriteFile(home_ / "Receive" / "R0001.APF", image);
  TTempFolder::WriteFile(Send() / "FWD00000.APF", "taken");
  TXbDataTable& rec = main_->RecTable;
  ASSERT_TRUE(rec.Append() && rec.SetFieldText("FROM", "5551111") && rec.SetFieldText("FAXFILE", "R0001.APF") &&
              rec.Post());
  main_->TabSet1->setCurrentIndex(1);
  main_->SetButtons();

  TModalAnswers answers;
  answers.Box(QMessageBox::No);
  main_->ForwardReceivedFax1->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(answers.texts.value(0), "Forward the current fax to be sent?\r\n(from: 5551111)");
  EXPECT_EQ(answers.captions.value(0), "Forward");
  EXPECT_EQ(Rows(), 0u);

  answers.Box(QMessageBox::Yes);
  answers.For<TFaxEditor>([](TFaxEditor* f) {
    EXPECT_EQ(f->windowTitle(), "Forward fax from: 5551111");
    EXPECT_TRUE(f->Recipient->text().isEmpty());
    f->Recipient->setText("Onward");
    f->FaxNumber->setText("200");
    f->Subject->setText("Passed on");
    f->OKButton->click();
  });
  main_->ForwardReceivedFax1->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(main_->CurrentTab(), TFaxTab::Outgoing);
  ASSERT_EQ(Rows(), 1u);
  EXPECT_EQ(Field("FAXDOC"), "FWD00001.APF");
  EXPECT_EQ(Field("RECIPIENT"), "Onward");
  EXPECT_EQ(Field("PHONE"), "200");
  EXPECT_EQ(Field("SUBJECT"), "Passed on");
  EXPECT_EQ(TTempFolder::ReadFile(Send() / "FWD00001.APF"), image);
  // The outgoing list on show has the new row as its current one.
  EXPECT_TRUE(QTest::qWaitFor([&] { return main_->FaxGrid->currentIndex().row() == 0; }, 5000));

  // A copy that cannot be made makes no row.
  main_->TabSet1->setCurrentIndex(1);
  fs::remove_all(Send());
  answers.Box(QMessageBox::Yes);
  answers.For<TFaxEditor>([](TFaxEditor* f) { f->OKButton->click(); });
  answers.Box(QMessageBox::Ok);
  main_->ForwardReceivedFax1->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_TRUE(answers.texts.last().startsWith("The received fax could not be copied"));
  EXPECT_EQ(Rows(), 1u);
}

TEST_F(ComposeTest, TemplateChooserAndSenderInformation) {
  TCreateEditQuickFax e(main_->FaxTable, true);
  e.show();
  TModalAnswers answers;
  answers.For<TPreviewQuickFaxForms>([](TPreviewQuickFaxForms* c) {
    EXPECT_EQ(c->windowTitle(), "Select  Fax Cover Template");
    ASSERT_EQ(c->FileListBox1->count(), 3);
    // The current template is found whatever its letter case.
    EXPECT_EQ(c->FileListBox1->currentItem()->text(), "CV0001.FCT");
    EXPECT_EQ(c->Description->text(), "Plain business fax");
    EXPECT_FALSE(c->Image1->pixmap().isNull());
    c->FileListBox1->setCurrentRow(2);
    c->OKButton->click();
  });
  e.SelectTemplateButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(e.CurrentQFileLabel->text(), "CV0003.FCT");

  // A template without its preview says so; Cancel keeps the template.
  fs::remove(CoversFolder() + "CV0002.bmp");
  answers.For<TPreviewQuickFaxForms>([&](TPreviewQuickFaxForms* c) {
    answers.Box(QMessageBox::Ok);
    c->FileListBox1->setCurrentRow(1);
    c->CancelButton->click();
  });
  e.SelectTemplateButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(answers.texts, QStringList{"Image not available"});
  EXPECT_EQ(e.CurrentQFileLabel->text(), "CV0003.FCT");

  answers.For<TGetSenderInfo>([](TGetSenderInfo* s) {
    EXPECT_EQ(s->Name->text(), "Edith Marlowe");
    s->Name->setText("Ruth Pell");
    s->FaxNumber->setText(QString(25, '9'));
    s->OKButton->click();
  });
  e.ChangeSenderButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(Settings.Name, "Ruth Pell");
  EXPECT_EQ(Settings.Fax, std::string(20, '9'));
  EXPECT_EQ(e.ChangeSenderButton->toolTip(), QString("Ruth Pell\rMarlowe Trading\r") + QString(20, '9') + "\r5559877");
  Settings = TSettings{};
  ReadSettings();
  EXPECT_EQ(Settings.Name, "Ruth Pell");
}

}  // namespace

// New Fax from File: the information editor, the import into the next free
// FAX name, the row; a file that is not a document gives a message and
// leaves neither row nor file.
TEST_F(ComposeTest, NewFaxFromFileImportsIntoTheNextFreeFaxName) {
  const fs::path letter = home_ / "letter.txt";
  TTempFolder::WriteFile(letter, "Dear reader,\nthis letter is a fax now.\n");
  TModalAnswers answers;
  answers.For<TFaxEditor>([](TFaxEditor* f) {
    EXPECT_EQ(f->windowTitle(), "New fax from: letter.txt");
    f->Recipient->setText("Reader");
    f->FaxNumber->setText("200");
    f->Subject->setText("A letter");
    f->OKButton->click();
  });
  ASSERT_TRUE(NewFaxFromFile(main_->FaxTable, QString::fromStdString(letter.string()), main_.get()));
  ASSERT_TRUE(answers.Done());
  ASSERT_EQ(Rows(), 1u);
  EXPECT_EQ(Field("RECIPIENT"), "Reader");
  EXPECT_EQ(Field("PHONE"), "200");
  const std::string doc = Field("FAXDOC");
  EXPECT_EQ(doc.rfind("FAX", 0), 0u) << doc;
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(Send() / doc), 0);
  EXPECT_EQ(reader.PageCount(), 1);

  const fs::path junk = home_ / "junk.pdf";
  TTempFolder::WriteFile(junk, "%PDF-1.4\nnot really\n");
  answers.For<TFaxEditor>([](TFaxEditor* f) { f->OKButton->click(); });
  answers.Box(QMessageBox::Ok);
  const auto before = std::distance(fs::directory_iterator(Send()), fs::directory_iterator());
  EXPECT_FALSE(NewFaxFromFile(main_->FaxTable, QString::fromStdString(junk.string()), main_.get()));
  ASSERT_TRUE(answers.Done());
  EXPECT_NE(answers.texts.value(0).indexOf("could not be made into a fax"), -1) << answers.texts.value(0).toStdString();
  EXPECT_EQ(Rows(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(Send()), fs::directory_iterator()), before);
}

namespace {

std::function<void(TFaxEditor*)> Fill(const QString& subject) {
  return [subject](TFaxEditor* f) {
    f->Recipient->setText("Reader");
    f->FaxNumber->setText("200");
    f->Subject->setText(subject);
    f->OKButton->click();
  };
}

}  // namespace

// Files dropped on the main window: each document gets its own editor and
// row in turn, what is not a document is named in a message, an APF file is
// taken as it is, and Cancel stops the files still waiting.
TEST_F(ComposeTest, DroppedDocumentsBecomeOutgoingFaxesOneAfterAnother) {
  const fs::path letter = home_ / "letter.txt";
  TTempFolder::WriteFile(letter, "Dear reader,\nthis letter was dropped.\n");
  const fs::path notes = home_ / "notes.xyz";
  TTempFolder::WriteFile(notes, "not a document");
  QWidget* list = main_->FaxGrid->viewport();

  // Nothing that could become a fax: the drag is refused.
  EXPECT_FALSE(DropOn(list, {Local(notes), QUrl("https://example.com/a.pdf")}));
  EXPECT_FALSE(DropOn(list, {}));

  TModalAnswers answers;
  answers.Box(QMessageBox::Ok);
  answers.For<TFaxEditor>(Fill("dropped letter"));
  ASSERT_TRUE(DropOn(list, {Local(notes), Local(letter)}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done() && Rows() == 1; }, 20000));
  EXPECT_NE(answers.texts.value(0).indexOf("notes.xyz"), -1) << answers.texts.value(0).toStdString();
  EXPECT_EQ(answers.texts.value(0).indexOf("letter.txt"), -1);
  EXPECT_EQ(Field("SUBJECT"), "dropped letter");
  const std::string first = Field("FAXDOC");
  EXPECT_EQ(PageCount(Send() / first), 1);

  // Two at once, one after the other; the fax file is copied unchanged.
  const fs::path old = home_ / "old.apf";
  fs::copy_file(Send() / first, old);
  answers.For<TFaxEditor>(Fill("old fax"));
  answers.For<TFaxEditor>([](TFaxEditor* f) {
    EXPECT_EQ(f->windowTitle(), "New fax from: letter.txt");
    Fill("second letter")(f);
  });
  ASSERT_TRUE(DropOn(list, {Local(old), Local(letter)}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done() && Rows() == 3; }, 20000));
  EXPECT_EQ(Field("SUBJECT"), "second letter");
  std::set<std::string> docs;
  for (uint32_t r = 1; r <= 3; ++r) {
    ASSERT_TRUE(main_->FaxTable.Table()->Go(r));
    docs.insert(Field("FAXDOC"));
    if (Field("SUBJECT") == "old fax") {
      EXPECT_EQ(TTempFolder::ReadFile(Send() / Field("FAXDOC")), TTempFolder::ReadFile(old));
    }
  }
  EXPECT_EQ(docs.size(), 3u);

  // Cancel in the first editor: the second file is not asked for.
  answers.For<TFaxEditor>([](TFaxEditor* f) { f->reject(); });
  ASSERT_TRUE(DropOn(list, {Local(letter), Local(letter)}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 20000));
  QTest::qWait(500);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(Rows(), 3u);

  // A damaged fax file is refused with a message and leaves nothing behind.
  const fs::path broken = home_ / "broken.apf";
  {
    std::string bytes = TTempFolder::ReadFile(old);
    bytes.resize(bytes.size() / 2);
    TTempFolder::WriteFile(broken, bytes);
  }
  const std::set<std::string> before = FolderNames(Send());
  answers.For<TFaxEditor>(Fill("broken"));
  answers.Box(QMessageBox::Ok);
  ASSERT_TRUE(DropOn(list, {Local(broken)}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Done(); }, 20000));
  EXPECT_NE(answers.texts.value(1).indexOf("could not be made into a fax"), -1) << answers.texts.join("|").toStdString();
  EXPECT_EQ(Rows(), 3u);
  EXPECT_EQ(FolderNames(Send()), before);
}

// A later copy started with documents hands them to this one over the local
// socket: they become new faxes here, and a request that names no local
// file is answered without opening anything.
TEST_F(ComposeTest, DocumentsHandedOnByASecondCopyBecomeOutgoingFaxes) {
  ::setenv("XDG_RUNTIME_DIR", (temp_.Path() / "run").c_str(), 1);
  fs::create_directories(temp_.Path() / "run");
  fs::permissions(temp_.Path() / "run", fs::perms::owner_all);
  MakePreviousInstance(QString::fromStdString((temp_.Path() / ("handoff" + std::to_string(::getpid()))).string()));
  ASSERT_FALSE(PreviousInstance()->AnotherCopyRuns());
  struct TEnd {
    ~TEnd() { EndPreviousInstance(); }
  } end;
  QWidget window;
  TJustOne justOne(&window);
  QObject::connect(&justOne, &TJustOne::FilesHanded, main_.get(), &TMainScreen::NewFaxFromFiles);
  const QString name = PreviousInstance()->InstanceName();

  // A name with a line break and a percent sign survives the request.
  const fs::path letter = home_ / "odd\n100% letter.txt";
  TTempFolder::WriteFile(letter, "Handed on from the command line.\n");
  TModalAnswers answers;
  answers.For<TFaxEditor>([](TFaxEditor* f) {
    EXPECT_EQ(f->windowTitle(), "New fax from: odd\n100% letter.txt");
    Fill("handed on")(f);
  });
  std::atomic<int> taken{-1};
  std::thread second([&] {
    taken = AskFirstCopyToComeForward(name, {QString::fromStdString(letter.string())}, 5000) ? 1 : 0;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return taken >= 0 && answers.Done() && Rows() == 1; }, 20000));
  second.join();
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(Field("SUBJECT"), "handed on");

  std::atomic<int> reply{-1};
  std::thread junk([&] {
    QLocalSocket s;
    s.connectToServer(name);
    if (!s.waitForConnected(5000)) return;
    s.write("come forward\nopen https://example.com/a.pdf\nopen %zz\nopen \nend\n");
    s.waitForBytesWritten(5000);
    reply = s.waitForReadyRead(5000) && s.readAll() == "taken\n" ? 1 : 0;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return reply >= 0; }, 10000));
  junk.join();
  EXPECT_EQ(reply, 1);
  QTest::qWait(400);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(Rows(), 1u);
  ::unsetenv("XDG_RUNTIME_DIR");
}
