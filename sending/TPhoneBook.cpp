#include "sending/TPhoneBook.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "sending/TEnterEdit.h"
#include "sending/TPhoneBookEditor.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "store/StoreText.h"
#include "store/TableLog.h"
#include "store/XbTableModel.h"
#include "store/core/FaxTables.h"

namespace {

constexpr char kTableProblem[] =
    "The phone book (CVPB.DBF) cannot be opened: it is damaged, locked or cannot be created here.\n"
    "It has been left as it is. No entry can be shown, added or changed.";

// A phone book has its two fields as text; narrower ones (another tool's
// table) still work, the engine cutting what is written to their width.
bool HasPhoneBookLayout(const TXbDataTable& table) {
  const TXbTable* t = table.Table();
  if (t == nullptr) return false;
  for (const TFieldDef& def : PhoneBookFields()) {
    const int i = t->FieldIndex(def.name);
    if (i < 0 || t->Fields()[static_cast<size_t>(i)].type != 'C') return false;
  }
  return true;
}

}  // namespace

void TPhoneGrid::keyboardSearch(const QString& search) {
  if (search.isEmpty()) return;
  const bool continued = sinceKey_.isValid() && sinceKey_.elapsed() < QApplication::keyboardInputInterval();
  sinceKey_.start();
  typed_ = continued ? typed_ + search : search;
  emit JumpRequested(typed_);
}

TPhoneBook::TPhoneBook(const std::filesystem::path& folder, TPhoneBookMode mode, QWidget* parent)
    : QDialog(parent) {
  setObjectName("TPhoneBook");
  setWindowTitle("Phone Book Browser");
  env_.SetDeleted(true);

  PhoneGrid = new TPhoneGrid(this);
  PhoneGrid->setObjectName("PhoneGrid");
  PhoneGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PhoneGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  PhoneGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  PhoneGrid->verticalHeader()->hide();
  PhoneGrid->horizontalHeader()->setStretchLastSection(true);
  TableProblem = new QLabel(kTableProblem, this);
  TableProblem->setObjectName("TableProblem");
  TableProblem->setWordWrap(true);
  TableProblem->hide();

  auto button = [this](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  Addbutton = button("Addbutton", "&New");
  Modifybutton = button("Modifybutton", "&Edit");
  Deletebutton = button("Deletebutton", "&Delete");
  Closebutton = button("Closebutton", "C&lose");
  Cancelbutton = button("Cancelbutton", "Cance&l");
  OKButton = button("OKButton", "&Accept");
  Helpbutton = button("Helpbutton", "&Help");
  const bool choosing = mode == TPhoneBookMode::Choosing;
  OKButton->setDefault(choosing);
  Closebutton->setVisible(!choosing);
  Cancelbutton->setVisible(choosing);
  OKButton->setVisible(choosing);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {OKButton, Addbutton, Modifybutton, Deletebutton, Closebutton, Cancelbutton, Helpbutton})
    buttons->addWidget(b);
  buttons->addStretch();
  auto* left = new QVBoxLayout;
  left->addWidget(TableProblem);
  left->addWidget(PhoneGrid);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(Addbutton, &QPushButton::clicked, this, &TPhoneBook::AddbuttonClick);
  connect(Modifybutton, &QPushButton::clicked, this, &TPhoneBook::ModifyButtonClick);
  connect(Deletebutton, &QPushButton::clicked, this, &TPhoneBook::DeleteButtonClick);
  connect(OKButton, &QPushButton::clicked, this, &TPhoneBook::AcceptbuttonClick);
  connect(Cancelbutton, &QPushButton::clicked, this, &TPhoneBook::CancelbuttonClick);
  connect(Closebutton, &QPushButton::clicked, this, &TPhoneBook::ClosebuttonClick);
  connect(Helpbutton, &QPushButton::clicked, this, &TPhoneBook::HelpButtonClick);
  connect(PhoneGrid, &TPhoneGrid::JumpRequested, this, [this](const QString& prefix) {
    if (!JumpTo(prefix)) QApplication::beep();
  });
  connect(PhoneGrid, &QAbstractItemView::doubleClicked, this, [this, choosing] {
    choosing ? AcceptbuttonClick() : ModifyButtonClick();
  });

  OpenTable(folder);
  TableProblem->setVisible(!open_);
  PhoneGrid->setEnabled(open_);
  SetButtons();
}

TPhoneBook::~TPhoneBook() {
  // The model listens to the table: it goes before the table closes.
  PhoneGrid->setModel(nullptr);
  delete model_;
  PhoneXbase.SetDataSource(nullptr);
  LogTableFailure(PhoneTable.Close(), "phone book");
}

namespace {

// An existing file is looked at read-only first, so that a table of another
// kind by that name gets no index built beside it.
bool ExistingFileIsPhoneBook(TXbEngine& engine, const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::exists(folder / kPhoneBookFile, ec)) return true;
  TXbDataTable probe(engine);
  probe.SetDatabaseName(folder);
  probe.SetTableName(kPhoneBookFile);
  probe.SetExclusive(false);
  probe.SetReadOnly(true);
  return probe.Open() && HasPhoneBookLayout(probe);
}

}  // namespace

void TPhoneBook::OpenTable(const std::filesystem::path& folder) {
  if (!ExistingFileIsPhoneBook(engine_, folder) || !OpenPhoneBook(PhoneTable, PhoneXbase, folder, false) ||
      !HasPhoneBookLayout(PhoneTable) || !PhoneTable.First()) {
    PhoneXbase.SetDataSource(nullptr);
    LogTableFailure(PhoneTable.Close(), "phone book");
    return;
  }
  open_ = true;
  model_ = new TXbTableModel(PhoneTable);
  model_->SetHighlightField("");
  model_->SetColumns({{"Name", "NAME", nullptr, 50}, {"Fax #", "PHONE", nullptr, 0}});
  PhoneGrid->setModel(model_);
  PhoneGrid->setColumnWidth(0, PhoneGrid->fontMetrics().averageCharWidth() * 50);
  connect(PhoneGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { GridRowChanged(current.row()); });
  ShowCurrentRow();
}

void TPhoneBook::Manage(const std::filesystem::path& folder, QWidget* parent) {
  TPhoneBook browser(folder, TPhoneBookMode::Managing, parent);
  browser.exec();
}

bool TPhoneBook::Choose(const std::filesystem::path& folder, QWidget* parent, QString& name, QString& number) {
  TPhoneBook browser(folder, TPhoneBookMode::Choosing, parent);
  if (browser.exec() != QDialog::Accepted) return false;
  name = browser.ChosenName();
  number = browser.ChosenNumber();
  return true;
}

bool TPhoneBook::HasCurrentRow() const {
  const TXbTable* t = PhoneTable.Table();
  return open_ && t != nullptr && !t->Eof() && !t->Deleted();
}

void TPhoneBook::SetButtons() {
  // Let pending changes of the grid reach the table first.
  QCoreApplication::processEvents();
  Addbutton->setEnabled(open_);
  const bool row = HasCurrentRow();
  Modifybutton->setEnabled(row);
  Deletebutton->setEnabled(row);
  OKButton->setEnabled(row);
}

void TPhoneBook::ShowCurrentRow() {
  if (model_ == nullptr) return;
  const int row = HasCurrentRow() ? model_->RowOfRecord(PhoneTable.RecNo()) : -1;
  syncing_ = true;
  if (row >= 0)
    PhoneGrid->setCurrentIndex(model_->index(row, 0));
  else
    PhoneGrid->setCurrentIndex(QModelIndex());
  syncing_ = false;
  if (row >= 0) PhoneGrid->scrollTo(model_->index(row, 0));
}

void TPhoneBook::GridRowChanged(int row) {
  if (syncing_ || row < 0 || model_ == nullptr) return;
  // Straight to the row: telling the table's listeners would reset the grid under the user.
  if (TXbTable* t = PhoneTable.Table()) LogTableFailure(t->Go(model_->RecordAt(row)), "phone book");
}

bool TPhoneBook::JumpTo(const QString& prefix) {
  TXbTable* t = PhoneTable.Table();
  if (!open_ || t == nullptr) return false;
  const uint32_t was = PhoneTable.RecNo();
  // The name tag orders by the stored bytes; the first match in that order is the one shown first.
  for (XbStatus st = PhoneTable.First(); st && !PhoneTable.Eof(); st = PhoneTable.Next()) {
    if (TableText(PhoneTable.FieldText("NAME")).startsWith(prefix, Qt::CaseInsensitive)) {
      ShowCurrentRow();
      return true;
    }
  }
  if (!t->Go(was) || t->Eof() || t->Deleted()) LogTableFailure(PhoneTable.First(), "phone book");
  ShowCurrentRow();
  return false;
}

void TPhoneBook::StoreEntry(const QString& name, const QString& number, bool append) {
  XbStatus st = append ? PhoneTable.Append() : XbStatus::Success();
  if (st) st = PhoneTable.SetFieldText("NAME", ToTableText(FitTableText(name, TPhoneBookEditor::kNameWidth)));
  if (st) st = PhoneTable.SetFieldText("PHONE", ToTableText(FitTableText(number, TPhoneBookEditor::kNumberWidth)));
  if (st) st = PhoneTable.Post();
  if (!st) {
    PhoneTable.Cancel();
    ShowInformation("The phone book entry could not be saved:\n" + QString::fromStdString(st.Message()));
  }
  model_->Refresh();
  ShowCurrentRow();
}

void TPhoneBook::AddbuttonClick() {
  if (!open_) {
    QApplication::beep();
    return;
  }
  TPhoneBookEditor editor(this);
  if (editor.exec() == QDialog::Accepted) StoreEntry(editor.Name->text(), editor.Number->text(), true);
  SetButtons();
}

void TPhoneBook::ModifyButtonClick() {
  if (!HasCurrentRow()) {
    QApplication::beep();
    return;
  }
  TPhoneBookEditor editor(this);
  editor.Name->setText(TableText(PhoneTable.FieldText("NAME")));
  editor.Number->setText(TableText(PhoneTable.FieldText("PHONE")));
  if (editor.exec() == QDialog::Accepted) StoreEntry(editor.Name->text(), editor.Number->text(), false);
  SetButtons();
}

void TPhoneBook::DeleteButtonClick() {
  if (!HasCurrentRow()) {
    QApplication::beep();
    return;
  }
  if (AskYesNoDefaultNo("Delete the current phone book entry?:\n" + TableText(PhoneTable.FieldText("NAME")),
                        "Delete")) {
    if (const XbStatus st = PhoneTable.Delete(); !st)
      ShowInformation("The phone book entry could not be deleted:\n" + QString::fromStdString(st.Message()));
  }
  model_->Refresh();
  ShowCurrentRow();
  SetButtons();
}

void TPhoneBook::AcceptbuttonClick() {
  if (!HasCurrentRow()) {
    QApplication::beep();
    return;
  }
  chosenName_ = TableText(PhoneTable.FieldText("NAME"));
  chosenNumber_ = TableText(PhoneTable.FieldText("PHONE"));
  accept();
}

void TPhoneBook::CancelbuttonClick() { reject(); }

void TPhoneBook::ClosebuttonClick() { reject(); }

void TPhoneBook::HelpButtonClick() { ShowHelpContext(HelpTopic::PhoneBook); }

void TPhoneBook::FormActivate() { SetButtons(); }

void TPhoneBook::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}
