#include "maintenance/TDMForm.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "maintenance/TDateSelector.h"
#include "maintenance/TDeleteForConditions.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "store/StoreText.h"
#include "store/TFaxListView.h"
#include "store/TableLog.h"
#include "store/XbTableModel.h"
#include "store/core/FaxTables.h"

namespace {

constexpr char kOutgoingCaption[] = "Outgoing Faxes";
constexpr char kOutgoingNone[] = "OutGoing Faxes (none)";
constexpr char kIncomingCaption[] = "Incoming Faxes";
constexpr char kIncomingNone[] = "Incoming Faxes (none)";
// The "Deleted?" column comes first in both lists.
constexpr int kDeletedColumn = 0;

// True when the table has any visible row; a table sitting past its last
// row is taken back to its first.
bool HasRows(TXbDataTable& table) {
  TXbTable* t = table.Table();
  if (!t) return false;
  if (!t->Eof()) return true;
  LogTableFailure(t->GoTop(), "cleanup list");
  return !t->Eof();
}

QString Field(const TXbDataTable& table, const char* name) {
  return table.Active() && !table.Eof() ? TableText(table.FieldText(name)) : QString();
}

TXbColumn Plain(const char* field) { return {field, field, nullptr, 0}; }

// The wait cursor for as long as a bulk deletion runs.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace

TDMForm::TDMForm(TDMTables tables, QWidget* parent)
    : QDialog(parent),
      tables_(std::move(tables)),
      cleanup_(tables_.outgoing, tables_.received, tables_.sendFolder, tables_.receiveFolder) {
  setObjectName("DMForm");
  setWindowTitle("Fax Log Cleanup Utility");
  resize(760, 460);
  auto* layout = new QVBoxLayout(this);
  MainMenu = new QMenuBar(this);
  MainMenu->setObjectName("MainMenu");
  layout->setMenuBar(MainMenu);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  const auto page = [this](const char* name, const char* caption, const char* gridName, QTableView*& grid) {
    auto* sheet = new QWidget(PageControl1);
    sheet->setObjectName(name);
    auto* l = new QVBoxLayout(sheet);
    l->setContentsMargins(2, 2, 2, 2);
    grid = new TFaxListView(sheet, gridName, {});
    l->addWidget(grid);
    PageControl1->addTab(sheet, caption);
    return sheet;
  };
  OutgoingSheet = page("OutgoingSheet", kOutgoingCaption, "OutGrid", OutGrid);
  IncomingSheet = page("IncomingSheet", kIncomingCaption, "InGrid", InGrid);
  layout->addWidget(PageControl1, 1);

  auto* buttons = new QHBoxLayout;
  HelpButton = new QPushButton("Help", this);
  HelpButton->setObjectName("HelpButton");
  CloseButton = new QPushButton("Close", this);
  CloseButton->setObjectName("CloseButton");
  for (QPushButton* b : {HelpButton, CloseButton}) b->setAutoDefault(false);
  buttons->addStretch();
  buttons->addWidget(HelpButton);
  buttons->addWidget(CloseButton);
  layout->addLayout(buttons);

  BuildMenus();
  connect(HelpButton, &QPushButton::clicked, this, &TDMForm::HelpButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(PageControl1, &QTabWidget::currentChanged, this, &TDMForm::PageControl1Change);
}

TDMForm::~TDMForm() {
  if (activated_ && !restored_) done(QDialog::Rejected);
  // The models listen to the tables, which outlive this window.
  OutGrid->setModel(nullptr);
  InGrid->setModel(nullptr);
  delete outModel_;
  delete inModel_;
}

void TDMForm::BuildMenus() {
  Actions1 = MainMenu->addMenu("Actions");
  Actions1->setObjectName("Actions1");
  const auto item = [this](const char* name, const char* caption) {
    QAction* a = Actions1->addAction(caption);
    a->setObjectName(name);
    return a;
  };
  DeleteCurrentFax1 = item("DeleteCurrentFax1", "Delete Current Fax");
  DeleteCurrentFax1->setShortcut(QKeySequence("Ctrl+X"));
  Actions1->addSeparator();
  DeleteAllBeforeDate1 = item("DeleteAllBeforeDate1", "Delete All Before A Particular Date");
  DeleteAllArchived1 = item("DeleteAllArchived1", "Delete All Archived Faxes");
  DeleteAllSent1 = item("DeleteAllSent1", "Delete All that Have Been Sent");
  DeleteAllNotSent1 = item("DeleteAllNotSent1", "Delete All That Have NOT Been Sent");
  DeleteAllConditions1 = item("DeleteAllConditions1", "Delete All Faxes Meeting Certain Conditions...");
  Actions1->addSeparator();
  DeleteAllFaxes1 = item("DeleteAllFaxes1", "Delete All Faxes");

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Delete2 = PopupMenu1->addAction("Delete");
  Delete2->setObjectName("Delete2");

  connect(DeleteCurrentFax1, &QAction::triggered, this, &TDMForm::DeleteCurrentFax1Click);
  connect(Delete2, &QAction::triggered, this, &TDMForm::DeleteCurrentFax1Click);
  connect(DeleteAllBeforeDate1, &QAction::triggered, this, &TDMForm::DeleteAllBeforeDate1Click);
  connect(DeleteAllArchived1, &QAction::triggered, this, &TDMForm::DeleteAllArchived1Click);
  connect(DeleteAllSent1, &QAction::triggered, this, &TDMForm::DeleteAllSent1Click);
  connect(DeleteAllNotSent1, &QAction::triggered, this, &TDMForm::DeleteAllNotSent1Click);
  connect(DeleteAllConditions1, &QAction::triggered, this, &TDMForm::DeleteAllConditions1Click);
  connect(DeleteAllFaxes1, &QAction::triggered, this, &TDMForm::DeleteAllFaxes1Click);
}

void TDMForm::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!activated_) {
    CentreForm(this);
    FormActivate();
  }
}

void TDMForm::FormActivate() {
  if (activated_) return;
  activated_ = true;
  // The tool shows every fax, archived ones too; rows flagged deleted stay
  // hidden by the engine.
  savedOutFilter_ = tables_.outgoingXbase.Filter();
  savedInFilter_ = tables_.receivedXbase.Filter();
  tables_.outgoingXbase.SetFilter("");
  tables_.receivedXbase.SetFilter("");
  tables_.outgoing.DataChanged();
  tables_.received.DataChanged();
  PageControl1->setCurrentIndex(0);
  BuildColumns();
  UpdateMenu();
}

void TDMForm::done(int result) {
  if (activated_ && !restored_) {
    restored_ = true;
    tables_.outgoingXbase.SetFilter(savedOutFilter_);
    tables_.receivedXbase.SetFilter(savedInFilter_);
    tables_.outgoing.DataChanged();
    tables_.received.DataChanged();
  }
  QDialog::done(result);
}

void TDMForm::BuildColumns() {
  const std::string home = tables_.programFolder;
  const auto deleted = [](const TXbDataTable& t) { return QString::fromStdString(IsDeletedText(t)); };
  const auto archived = [](const TXbDataTable& t) { return QString::fromStdString(IsArchivedText(t)); };
  outModel_ = new TXbTableModel(tables_.outgoing);
  outModel_->SetColumns({
      {"Deleted?", "", deleted, 8},
      {"Archived?", "", archived, 9},
      Plain("DATESENT"),
      Plain("TIMESENT"),
      Plain("RECIPIENT"),
      Plain("SUBJECT"),
      Plain("PHONE"),
      Plain("LASTRESULT"),
      {"calcFaxFile", "", [home](const TXbDataTable& t) { return TableText(CalcFaxFileOutgoing(t, home)); }, 40},
      Plain("CODES"),
      Plain("NOTES"),
  });
  inModel_ = new TXbTableModel(tables_.received);
  inModel_->SetColumns({
      {"Deleted?", "", deleted, 8},
      {"Archived?", "", archived, 9},
      Plain("DATEREC"),
      Plain("TIMEREC"),
      Plain("FROM"),
      Plain("PAGES"),
      Plain("FAXFILE"),
      Plain("NOTES"),
  });
  for (const TFaxKind kind : {TFaxKind::Outgoing, TFaxKind::Received}) {
    QTableView* grid = Grid(kind);
    TXbTableModel* model = Model(kind);
    TXbDataTable* table = &Table(kind);
    AttachFaxModel(*grid, *model, table->Table(), 40);
    // A click moves the table to the row; a list read afresh shows the
    // table's row again.
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, table, model](const QModelIndex& current) {
              if (syncing_ || !current.isValid()) return;
              if (TXbTable* tb = table->Table()) LogTableFailure(tb->Go(model->RecordAt(current.row())), "cleanup list");
            });
    connect(model, &QAbstractItemModel::modelReset, this,
            [this, kind, grid] { QTimer::singleShot(0, grid, [this, kind] { ShowCurrentRow(kind); }); });
    connect(grid, &QTableView::doubleClicked, this, [this, table, model](const QModelIndex& index) {
      if (!index.isValid() || index.column() != kDeletedColumn) return;
      if (TXbTable* tb = table->Table()) LogTableFailure(tb->Go(model->RecordAt(index.row())), "cleanup list");
      DeleteCurrentFax1Click();
    });
    connect(grid, &QWidget::customContextMenuRequested, this,
            [this, grid](const QPoint& at) { PopupMenu1->popup(grid->viewport()->mapToGlobal(at)); });
    ShowCurrentRow(kind);
  }
}

void TDMForm::ShowCurrentRow(TFaxKind kind) {
  TXbDataTable& table = Table(kind);
  TXbTableModel* model = Model(kind);
  if (!model || !table.Active() || table.Eof()) return;
  const int row = model->RowOfRecord(table.RecNo());
  if (row < 0) return;
  QTableView* grid = Grid(kind);
  syncing_ = true;
  grid->setCurrentIndex(model->index(row, std::max(0, grid->currentIndex().column())));
  syncing_ = false;
}

TFaxKind TDMForm::CurrentKind() const {
  return PageControl1->currentIndex() == 1 ? TFaxKind::Received : TFaxKind::Outgoing;
}

const char* TDMForm::KindText() const { return CurrentKind() == TFaxKind::Outgoing ? "outgoing" : "received"; }

void TDMForm::PageControl1Change() {
  if (activated_) UpdateMenu();
}

void TDMForm::UpdateMenu() {
  const bool outgoing = CurrentKind() == TFaxKind::Outgoing;
  DeleteAllSent1->setVisible(outgoing);
  DeleteAllNotSent1->setVisible(outgoing);
  bool currentHasRows = false;
  for (const TFaxKind kind : {TFaxKind::Outgoing, TFaxKind::Received}) {
    const bool rows = HasRows(Table(kind));
    QTableView* grid = Grid(kind);
    grid->setEnabled(rows);
    grid->setContextMenuPolicy(rows ? Qt::CustomContextMenu : Qt::NoContextMenu);
    const bool isOut = kind == TFaxKind::Outgoing;
    PageControl1->setTabText(isOut ? 0 : 1, rows ? (isOut ? kOutgoingCaption : kIncomingCaption)
                                                 : (isOut ? kOutgoingNone : kIncomingNone));
    if (kind == CurrentKind()) currentHasRows = rows;
  }
  // Nothing on the page: no command is offered, its shortcut included.
  Actions1->setEnabled(currentHasRows);
  Actions1->menuAction()->setEnabled(currentHasRows);
  for (QAction* a : Actions1->actions()) a->setEnabled(currentHasRows);
  Delete2->setEnabled(currentHasRows);
}

void TDMForm::DeleteCurrentFax1Click() {
  const TFaxKind kind = CurrentKind();
  TXbDataTable& table = Table(kind);
  if (!table.Active() || table.Eof()) {
    QApplication::beep();
    return;
  }
  if (!AskYesNo("Delete this fax? (action is permanent)", "DELETE")) return;
  // The row goes with its files; the list moves on to the next row.
  (void)cleanup_.DeleteCurrentFax(kind);
  UpdateMenu();
}

uint32_t TDMForm::DeleteByRule(const TCleanupRule& rule) {
  const TFaxKind kind = CurrentKind();
  QTableView* grid = Grid(kind);
  uint32_t count = 0;
  {
    TWaitCursor wait;
    grid->setUpdatesEnabled(false);
    // The rows are all flagged when this returns; their files go while the
    // count is on show.
    count = cleanup_.DeleteWhere(kind, rule, TFileRemoval::Background);
    grid->setUpdatesEnabled(true);
  }
  grid->setFocus();
  ShowInformation(QString::number(count) + " deleted.");
  cleanup_.FinishFileRemoval();
  UpdateMenu();
  return count;
}

void TDMForm::ConfirmAndDelete(const QString& question, const TCleanupRule& rule, const QString& caption) {
  if (AskYesNo(question, caption)) DeleteByRule(rule);
}

void TDMForm::DeleteAllBeforeDate1Click() {
  TDateSelector selector("Delete all before...", QDate::currentDate(), this);
  if (selector.exec() != QDialog::Accepted) return;
  const QDate day = selector.Date();
  // The rule compares days: the year keeps all its digits.
  ConfirmAndDelete(QString("Delete all %1 faxes prior to %2 (action is permanent)?").arg(KindText(), LongDateText(day)),
                   RuleBeforeDate(CurrentKind(), day.year(), day.month(), day.day()));
}

void TDMForm::DeleteAllArchived1Click() {
  ConfirmAndDelete(QString("Delete all archived %1 faxes? (action is permanent)").arg(KindText()), RuleArchived());
}

void TDMForm::DeleteAllSent1Click() {
  if (CurrentKind() != TFaxKind::Outgoing) return;
  ConfirmAndDelete("Delete all outgoing faxes which have been sent? (action is permanent)", RuleSent());
}

void TDMForm::DeleteAllNotSent1Click() {
  if (CurrentKind() != TFaxKind::Outgoing) return;
  ConfirmAndDelete("Delete all outgoing faxes which have NOT been sent? (action is permanent)", RuleNotSent());
}

void TDMForm::DeleteAllFaxes1Click() {
  ConfirmAndDelete(QString("Delete all %1 faxes ? (action is permanent)").arg(KindText()), RuleAll(), "DELETE ALL");
}

void TDMForm::DeleteAllConditions1Click() {
  const TFaxKind kind = CurrentKind();
  const TXbDataTable& table = Table(kind);
  TDeleteForConditions conditions(kind, Field(table, "FROM"), Field(table, "RECIPIENT"), Field(table, "PHONE"), this);
  if (conditions.exec() != QDialog::Accepted) return;
  const TCleanupRule rule = conditions.Rule();
  if (rule.Valid()) DeleteByRule(rule);
}

void TDMForm::HelpButtonClick() { ShowHelpContext(HelpTopic::Cleanup); }
