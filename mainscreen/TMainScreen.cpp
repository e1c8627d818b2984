#include "mainscreen/TMainScreen.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "cover/TCoverDesMainScreen.h"
#include "mainscreen/CloneFax.h"
#include "mainscreen/GridLayout.h"
#include "mainscreen/PrinterDriverIntake.h"
#include "mainscreen/ReceiveMode.h"
#include "mainscreen/TArrivalAnnouncer.h"
#include "mainscreen/TDeleteWhat.h"
#include "store/TFaxListView.h"
#include "mainscreen/TGraphicPanel.h"
#include "mainscreen/TRebuildInd.h"
#include "modemsetup/TPreferences.h"
#include "modemsetup/TQuickSetupForm.h"
#include "modemsetup/TQuickSuggest.h"
#include "sending/SendCommand.h"
#include "sending/TPhoneBook.h"
#include "store/StoreText.h"
#include "store/TableLog.h"
#include "store/XbTableModel.h"
#include "store/core/Cleanup.h"
#include "store/core/FaxTables.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "shell/SingleInstance.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"

namespace {

// Texts of the window. "\n" stands where the hint breaks its line.
constexpr char kEditHint[] =
    "Edit the currently selected fax [CTRL+E]\n\nOutgoing faxes: If the fax has a cover sheet, the cover sheet \neditor "
    "will be used, otherwise the fax \ninformation editor will be used.)\n\nIncoming faxes: You be able to edit your "
    "notes about the fax.";
constexpr char kDeleteHint[] =
    "Delete  the currently selected fax [CTRL+D]\n(If the fax has both a cover sheet and a fax\nbody, you will be "
    "given the option to delete\nonly the cover sheet or only the body of the\nfax.)";
constexpr char kProblemSolverHint[] =
    "Click here to bring up the Fax Problem Solver for:\n -Error message solving\n -Technical FAQ\n -General Fax "
    "Troubleshooting";
constexpr char kNotAvailable[] = "This command is not available yet.";
constexpr char kReceiveModeRefusal[] =
    "You are in Fax Receive mode. This operation cannot be done\nwhile in Fax Receive mode. Click the Stop button to "
    "end\nFax Receive mode";
constexpr char kLayoutKind[] = "Out";

void RemoveFile(const std::filesystem::path& p) {
  std::error_code ec;
  std::filesystem::remove(p, ec);
}

QString Field(const TXbDataTable& table, const char* name) { return TableText(table.FieldText(name)); }

bool HasRow(const TXbDataTable& table) { return table.Active() && !table.Eof(); }

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setToolTip(hint);
  b->setAutoDefault(false);
  return b;
}

QWidget* ListPage(QWidget* parent, const char* title, const QColor& colour, QTableView* grid) {
  auto* page = new QWidget(parent);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* header = new QLabel(title, page);
  header->setAlignment(Qt::AlignCenter);
  header->setAutoFillBackground(true);
  QPalette pal = header->palette();
  pal.setColor(QPalette::Window, colour);
  pal.setColor(QPalette::WindowText, Qt::white);
  header->setPalette(pal);
  QFont f = header->font();
  f.setBold(true);
  header->setFont(f);
  header->setMinimumHeight(24);
  layout->addWidget(header);
  layout->addWidget(grid);
  return page;
}

}  // namespace

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainScreen");
  // Ends this process here when another copy runs.
  JustOne1 = new TJustOne(this);
  connect(JustOne1, &TJustOne::FilesHanded, this, &TMainScreen::NewFaxFromFiles);
  setWindowTitle("Corvane");
  resize(780, 540);
  setAcceptDrops(true);  // documents dropped become new faxes
  SetApplicationWindow(this);
  CreateFaxPrinter();
  BuildLayout();
  BuildMenus();
  ReceiveMode = new TReceiveMode(*this);
  Announcer = new TArrivalAnnouncer(FxFaxPrinter1, this);
  connect(ReceiveMode, &TReceiveMode::FaxReceived, this, [this](const TReceivedFax& fax) {
    // The date pattern may have changed since the window was made.
    Announcer->SetDatePattern(QtDatePattern(XbaseEnv.DatePattern()));
    Announcer->FaxArrived(fax);
  });
  connect(Announcer, &TArrivalAnnouncer::ShowMainWindowRequested, this, [this] {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
  });
  qApp->installEventFilter(this);
  FormCreate();
  SetButtons();
}

TMainScreen::~TMainScreen() {
  qApp->removeEventFilter(this);
  // The models listen to the tables, which go before the window's children.
  FaxGrid->setModel(nullptr);
  RecGrid->setModel(nullptr);
  delete FaxModel;
  delete RecModel;
  LogTableFailure(FaxTable.Close(), "closing the outgoing table");
  LogTableFailure(RecTable.Close(), "closing the received table");
  LogTableFailure(PhoneTable.Close(), "closing the phone book");
}

void TMainScreen::BuildLayout() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* buttons = new QGridLayout;
  NewButton = Button(central, "NewButton", "&New", "Create a new stand-alone fax cover sheet for\na quick one page fax message");
  AddCoverButton = Button(central, "AddCoverButton", "Add C&over", "Add a fax cover sheet to the existing fax");
  EditButton = Button(central, "EditButton", "&Edit", kEditHint);
  DeleteButton = Button(central, "DeleteButton", "&Delete", kDeleteHint);
  ProblemSolverButton = Button(central, "ProblemSolverButton", "Problem Solver", kProblemSolverHint);
  PreferencesButton = Button(central, "PreferencesButton", "Preferences", "Load the Preferences screen");
  PrintButton = Button(central, "PrintButton", "Print", "Print the selected fax");
  SortButton = Button(central, "SortButton", "Sor&t", "Change the sort order of the faxes");
  ViewButton = Button(central, "ViewButton", "&View", "View or print the current fax [CTRL+V]");
  SendButton = Button(central, "SendButton", "&Send", "Send the currently selected fax [CTRL+S]");
  ReceiveButton = Button(central, "ReceiveButton", "&Receive", "Go into Fax Receive mode [CTRL+R]");
  ExitButton = Button(central, "ExitButton", "E&xit", "Exit the program [CTRL+X]");
  AddCoverButton->setEnabled(false);
  PrintButton->setDefault(true);
  int column = 0;
  for (QPushButton* b : {NewButton, AddCoverButton, EditButton, DeleteButton, ProblemSolverButton, PreferencesButton})
    buttons->addWidget(b, 0, column++);
  column = 0;
  for (QPushButton* b : {PrintButton, SortButton, ViewButton, SendButton, ReceiveButton, ExitButton})
    buttons->addWidget(b, 1, column++);
  layout->addLayout(buttons);

  FaxGrid = new TFaxListView(central, "FaxGrid",
                             {"Date Sent", "Time Sent", "Fax#", "Recipient", "Subject", "Last Attempt", "Notes", "Codes", "Fax File"});
  RecGrid = new TFaxListView(central, "RecGrid", {"Date Rec'd", "Time Rec'd", "From", "Pages", "Notes", "Fax File"});
  Notebook1 = new QStackedWidget(central);
  Notebook1->setObjectName("Notebook1");
  Notebook1->addWidget(ListPage(Notebook1, "Outgoing Faxes", QColor(0, 0, 160), FaxGrid));
  Notebook1->addWidget(ListPage(Notebook1, "Incoming Faxes", QColor(0, 128, 0), RecGrid));
  layout->addWidget(Notebook1, 1);

  TabSet1 = new QTabBar(central);
  TabSet1->setObjectName("TabSet1");
  TabSet1->setShape(QTabBar::RoundedSouth);
  TabSet1->addTab("Out&going Faxes");
  TabSet1->addTab("&Incoming Faxes");
  layout->addWidget(TabSet1);

  Status = new TGraphicPanel(central);
  Status->setObjectName("Status");
  Status->SetBevelOuter(TGraphicPanel::TBevel::Lowered);
  Status->SetAlignment(Qt::AlignLeft);
  Status->setFixedHeight(24);
  layout->addWidget(Status);
  setCentralWidget(central);

  connect(TabSet1, &QTabBar::currentChanged, this, &TMainScreen::TabSet1Click);
  connect(ExitButton, &QPushButton::clicked, this, &TMainScreen::ExitClick);
  connect(SortButton, &QPushButton::clicked, this, &TMainScreen::SortButtonClick);
  connect(ProblemSolverButton, &QPushButton::clicked, this, &TMainScreen::ProblemSolverButtonClick);
  connect(DeleteButton, &QPushButton::clicked, this, &TMainScreen::Delete1Click);
  connect(SendButton, &QPushButton::clicked, this, &TMainScreen::SendButtonClick);
  connect(ViewButton, &QPushButton::clicked, this, &TMainScreen::mnuViewPrintClick);
  connect(PrintButton, &QPushButton::clicked, this, &TMainScreen::PrintbuttonClick);
  connect(NewButton, &QPushButton::clicked, this, &TMainScreen::NewbuttonClick);
  connect(AddCoverButton, &QPushButton::clicked, this, &TMainScreen::AddCoverButtonClick);
  connect(EditButton, &QPushButton::clicked, this, &TMainScreen::EditButtonClick);
  connect(ReceiveButton, &QPushButton::clicked, this, &TMainScreen::ReceiveButtonClick);
  // Enter and a double click in the outgoing list edit the fax when Edit may run.
  connect(FaxGrid, &QTableView::doubleClicked, this, [this] {
    if (EditButton->isEnabled()) EditButton->click();
  });
}

void TMainScreen::BuildMenus() {
  auto item = [this](QMenu* menu, const char* name, const char* caption, const char* shortcut = nullptr,
                     const char* hint = nullptr) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (shortcut) a->setShortcut(QKeySequence(shortcut));
    if (hint) a->setToolTip(hint);
    return a;
  };
  QMenu* file = menuBar()->addMenu("&File");
  file->setToolTipsVisible(true);
  NewCoverSheet1 = item(file, "NewCoverSheet1", "&New Cover Sheet", "Ctrl+N");
  NewFaxFromFile1 = item(file, "NewFaxFromFile1", "New Fax from &File...", nullptr,
                         "Make a fax of a PDF, PostScript, TIFF, picture or text file");
  AddCoverSheet1 = item(file, "AddCoverSheet1", "Add C&over Sheet", "Ctrl+O");
  Edit1 = item(file, "Edit1", "&Edit", "Ctrl+E", "Edit the currently selected fax");
  Clone1 = item(file, "Clone1", "&Clone", "Ctrl+C", "Clone the currently selected fax");
  Delete1 = item(file, "Delete1", "&Delete", "Ctrl+D", "Delete the currently selected fax");
  Archive1 = item(file, "Archive1", "&Archive", "Ctrl+A");
  ForwardReceivedFax1 = item(file, "ForwardReceivedFax1", "For&ward Received Fax");
  file->addSeparator();
  Print1 = item(file, "Print1", "Print");
  PrintSetup1 = item(file, "PrintSetup1", "Print Setup");
  file->addSeparator();
  ShowArchivedFaxes1 = item(file, "ShowArchivedFaxes1", "S&how Archived Faxes");
  ShowArchivedFaxes1->setCheckable(true);
  FaxLogCleanup1 = item(file, "FaxLogCleanup1", "Fax Log Cleanup ");
  file->addSeparator();
  SendFax1 = item(file, "SendFax1", "&Send Fax", "Ctrl+S", "Send the currently selected fax");
  ReceiveFaxes1 = item(file, "ReceiveFaxes1", "&Receive Faxes", "Ctrl+R");
  ViewPrintFax1 = item(file, "ViewPrintFax1", "&View/Print Fax", "Ctrl+V", "See a preview of and optionally  print the fax");
  file->addSeparator();
  PhoneBook1 = item(file, "PhoneBook1", "&Phone Book", nullptr, "Create or modify phone book entries");
  CoverSheetTemplateDesigner1 = item(file, "CoverSheetTemplateDesigner1", "Cover Sheet &Template Designer");
  file->addSeparator();
  RebuildIndexes1 = item(file, "RebuildIndexes1", "Rebuild &Indexes", nullptr, "Do this every 2 weeks ");
  Preferences1 = item(file, "Preferences1", "P&references", nullptr, "Set Corvane preferences");
  file->addSeparator();
  Exit1 = item(file, "Exit1", "E&xit", "Ctrl+X", "Exit to Windows");

  QMenu* help = menuBar()->addMenu("&Help");
  help->setToolTipsVisible(true);
  QuickStartInstructions1 = item(help, "QuickStartInstructions1", "Quick Start Instructions!");
  QuickConfigurationAnalysis1 = item(help, "QuickConfigurationAnalysis1", "Quick Configuration Analysis");
  ProblemSolver1 = item(help, "ProblemSolver1", "Problem Solver");
  ConfigurationInformation1 = item(help, "ConfigurationInformation1", "Configuration Information");
  help->addSeparator();
  HelpContents1 = item(help, "HelpContents1", "Help &Contents", nullptr, "Open the Corvane help file");
  AboutCorvane1 = item(help, "AboutCorvane1", "&About Corvane", nullptr, "Information about Corvane");
  Faq1 = item(help, "Faq1", "Frequently Asked Questions (FAQ)");
  TechnicalSupport1 = item(help, "TechnicalSupport1", "Technical Support");
  help->addSeparator();
  ShowHints1 = item(help, "ShowHints1", "&Show Hints");
  ShowHints1->setCheckable(true);
  ShowHints1->setChecked(true);

  connect(Exit1, &QAction::triggered, this, &TMainScreen::ExitClick);
  connect(ShowArchivedFaxes1, &QAction::triggered, this, &TMainScreen::ShowArchivedFaxes1Click);
  connect(ShowHints1, &QAction::triggered, this, &TMainScreen::ShowHints1Click);
  connect(ProblemSolver1, &QAction::triggered, this, &TMainScreen::ProblemSolverButtonClick);
  connect(HelpContents1, &QAction::triggered, this, [] { ShowHelpContext(HelpTopic::Contents); });
  connect(Faq1, &QAction::triggered, this, [] { ShowHelpContext(HelpTopic::Faq); });
  connect(TechnicalSupport1, &QAction::triggered, this, [] { ShowHelpContext(HelpTopic::TechnicalSupport); });
  connect(QuickStartInstructions1, &QAction::triggered, this, [] { ShowHelpContext(HelpTopic::Contents); });
  connect(AboutCorvane1, &QAction::triggered, this, &TMainScreen::AboutCorvane1Click);
  connect(Delete1, &QAction::triggered, this, &TMainScreen::Delete1Click);
  connect(Archive1, &QAction::triggered, this, &TMainScreen::Archive1Click);
  connect(Clone1, &QAction::triggered, this, &TMainScreen::Clone1Click);
  connect(RebuildIndexes1, &QAction::triggered, this, &TMainScreen::RebuildIndexes1Click);
  connect(SendFax1, &QAction::triggered, this, &TMainScreen::SendButtonClick);
  connect(ViewPrintFax1, &QAction::triggered, this, &TMainScreen::mnuViewPrintClick);
  connect(Print1, &QAction::triggered, this, &TMainScreen::mnuPrintClick);
  connect(PrintSetup1, &QAction::triggered, this, &TMainScreen::PrintSetup1Click);
  connect(NewCoverSheet1, &QAction::triggered, this, &TMainScreen::NewbuttonClick);
  connect(AddCoverSheet1, &QAction::triggered, this, &TMainScreen::AddCoverButtonClick);
  connect(Edit1, &QAction::triggered, this, &TMainScreen::EditButtonClick);
  connect(ForwardReceivedFax1, &QAction::triggered, this, &TMainScreen::mnuForwardClick);
  connect(ConfigurationInformation1, &QAction::triggered, this, &TMainScreen::NotAvailableYet);
  connect(NewFaxFromFile1, &QAction::triggered, this, &TMainScreen::mnuNewFaxFromFileClick);
  connect(ReceiveFaxes1, &QAction::triggered, this, &TMainScreen::ReceiveButtonClick);
  connect(QuickConfigurationAnalysis1, &QAction::triggered, this, [this] {
    TQuickSuggest analysis(this);
    const int result = analysis.exec();
    if (result == TQuickSuggest::kOk) WriteSettings();
    if (result == TQuickSuggest::kProblemSolver) ShowProblemSolver();
  });
  connect(Preferences1, &QAction::triggered, this, [this] {
    if (!ReceiveModeRefused()) RunPreferencesWizard(this);
  });
  connect(PreferencesButton, &QPushButton::clicked, Preferences1, &QAction::trigger);
  // Refused in receive mode before anything else.
  connect(PhoneBook1, &QAction::triggered, this, [this] {
    if (!ReceiveModeRefused()) TPhoneBook::Manage(ProgramFolder(), this);
  });
  connect(FaxLogCleanup1, &QAction::triggered, this, &TMainScreen::FaxLogCleanup1Click);
  connect(CoverSheetTemplateDesigner1, &QAction::triggered, this, [this] {
    if (ReceiveModeRefused()) return;
    // One designer at a time; asking again brings it to the front.
    auto* designer = findChild<TCoverDesMainScreen*>();
    if (!designer) {
      designer = new TCoverDesMainScreen(this);
      designer->setAttribute(Qt::WA_DeleteOnClose);
    }
    designer->show();
    designer->raise();
    designer->activateWindow();
  });

  OutgoingSortMenu = new QMenu(this);
  outgoingOrder_ = new QActionGroup(this);
  for (const auto& [caption, tag] : {std::pair{"&Date Sent", "DATESENT"}, std::pair{"&Subject", "SUBJECT"},
                                      std::pair{"&Recipient", "RECIPIENT"}}) {
    QAction* a = OutgoingSortMenu->addAction(caption);
    a->setCheckable(true);
    a->setData(QString(tag));
    outgoingOrder_->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { SetOrder(FaxTable, qPrintable(a->data().toString())); });
  }
  outgoingOrder_->actions().front()->setChecked(true);
  ReceivedSortMenu = new QMenu(this);
  receivedOrder_ = new QActionGroup(this);
  for (const auto& [caption, tag] : {std::pair{"Date Received", "DATETIME"}, std::pair{"From", "FROM"}}) {
    QAction* a = ReceivedSortMenu->addAction(caption);
    a->setCheckable(true);
    a->setData(QString(tag));
    receivedOrder_->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] {
      if (receivingNow_) {
        QApplication::beep();
        return;
      }
      SetOrder(RecTable, qPrintable(a->data().toString()));
    });
  }
  receivedOrder_->actions().front()->setChecked(true);
}

void TMainScreen::FormCreate() {
  firstActivation_ = true;
  receiveLogging_ = false;
  listFilter_ = ".not. archived";
  XbaseEnv.SetCentury(true);
  XbaseEnv.SetDeleted(true);
  const std::filesystem::path folder = ProgramFolder();
  FaxXbase.SetDataSource(&FaxTable);
  RecXbase.SetDataSource(&RecTable);
  PhoneXbase.SetDataSource(&PhoneTable);
  FaxXbase.SysProp(1009, 0);
  // An existing table that cannot be opened is never created over: the
  // user's faxes stay in it for rescue, and the program closes.
  if (OpenOutgoingTable(FaxTable, FaxXbase, folder, listFilter_.toStdString())) {
    FaxXbase.SetOrder(1);
    LogTableFailure(FaxTable.First(), "outgoing list");
  } else {
    LogTableFailure(FaxTable.Close(), "closing the outgoing table");
    ShowInformation("Unable to open/create the FAX datafile - closing program");
    PostCloseMessage();
  }
  if (!OpenReceivedTable(RecTable, RecXbase, folder)) {
    LogTableFailure(RecTable.Close(), "closing the received table");
    ShowInformation("Unable to open/create the FAX RECEIVE datafile - closing program");
    PostCloseMessage();
    return;
  }
  ApplyListFilter();
  ReadSettings();
  settingsRead_ = true;
  if (Settings.ComPort == -1) {
    firstRun_ = true;
    SetFirstStart(true);
    Settings.ComPort = 0;
  }
  receiveMode_ = receivingNow_ = false;
  SetApplicationHelpFile(QString::fromStdString(ProgramFolder()) + "CV.hlp");
  MakeFolders();
  ShowHints1->setChecked(Settings.HintsOn);
  ApplyHints(Settings.HintsOn);
  AttachLists();
  // A reception the last run left unfinished is settled before the list is used.
  ReceiveMode->RecoverUnfinished();
}

void TMainScreen::PostCloseMessage() {
  closePosted_ = true;
  QApplication::postEvent(this, new QEvent(kCloseMessage));
}

bool TMainScreen::event(QEvent* e) {
  if (e->type() == kCloseMessage) {
    // Showing the window may deliver posted events before it is fully on
    // screen; closing then would leave it shown. Before the first activation
    // that activation sends the message again; later it is sent again here.
    if (!isVisible() || showing_ || firstActivation_) {
      if (!firstActivation_)
        QTimer::singleShot(0, this, [this] { QApplication::postEvent(this, new QEvent(kCloseMessage)); });
      return true;
    }
    close();
    return true;
  }
  return QMainWindow::event(e);
}

void TMainScreen::AttachLists() {
  const std::string home = ProgramFolder();
  FaxModel = new TXbTableModel(FaxTable);
  FaxModel->SetColumns({
      {"Date Sent", "DATESENT", nullptr, 0},
      {"Time Sent", "TIMESENT", nullptr, 0},
      {"Fax#", "PHONE", nullptr, 15},
      {"Recipient", "RECIPIENT", nullptr, 20},
      {"Subject", "SUBJECT", nullptr, 20},
      {"Last Attempt", "LASTRESULT", nullptr, 20},
      {"Notes", "NOTES", nullptr, 25},
      {"Codes", "CODES", nullptr, 15},
      {"Fax File", "", [home](const TXbDataTable& t) { return TableText(CalcFaxFileOutgoing(t, home)); }, 50},
  });
  RecModel = new TXbTableModel(RecTable);
  RecModel->SetColumns({
      {"Date Rec'd", "DATEREC", nullptr, 0},
      {"Time Rec'd", "TIMEREC", nullptr, 0},
      {"From", "FROM", nullptr, 0},
      {"Pages", "PAGES", nullptr, 0},
      {"Notes", "NOTES", nullptr, 60},
      {"Fax File", "", [home](const TXbDataTable& t) { return TableText(CalcFaxFileReceived(t, home)); }, 50},
  });
  for (auto [grid, model, table] : {std::tuple{FaxGrid, FaxModel, &FaxTable}, std::tuple{RecGrid, RecModel, &RecTable}}) {
    // Column widths from the fields' display widths, in average characters.
    AttachFaxModel(*grid, *model, table->Table());
    TXbDataTable* tablePtr = table;
    QTableView* gridPtr = grid;
    // A click moves the table to the row; a reset list shows the table's row again.
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, tablePtr, model](const QModelIndex& current) {
              if (syncing_ || !current.isValid()) return;
              if (TXbTable* tb = tablePtr->Table()) LogTableFailure(tb->Go(model->RecordAt(current.row())), "list");
              SetButtons();
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this, tablePtr, gridPtr] {
      QTimer::singleShot(0, gridPtr, [this, tablePtr] { ShowCurrentRow(*tablePtr); });
    });
    // The list on show reads its first rows and finds its current row now,
    // so that the window's first paint shows them instead of an empty list
    // that fills a moment later; the other list does so once the window is up.
    if (grid == (currentTab_ == TFaxTab::Received ? RecGrid : FaxGrid))
      ShowCurrentRow(*table);
    else
      QTimer::singleShot(0, grid, [this, tablePtr] { ShowCurrentRow(*tablePtr); });
  }
}

void TMainScreen::ShowCurrentRow(TXbDataTable& table) {
  QTableView* grid = &table == &FaxTable ? FaxGrid : RecGrid;
  TXbTableModel* model = &table == &FaxTable ? FaxModel : RecModel;
  if (!model || !HasRow(table)) return;
  const int row = model->RowOfRecord(table.RecNo());
  if (row < 0) return;
  syncing_ = true;
  grid->setCurrentIndex(model->index(row, std::max(0, grid->currentIndex().column())));
  syncing_ = false;
}

void TMainScreen::ApplyListFilter() {
  for (auto [table, xbase] : {std::pair{&FaxTable, &FaxXbase}, std::pair{&RecTable, &RecXbase}}) {
    if (!table->Active()) continue;
    xbase->SetFilter(listFilter_.toStdString());
    // The current row may have left the list with the filter.
    const std::string filter = listFilter_.isEmpty() ? std::string(".t.") : listFilter_.toStdString();
    if (TXbTable* t = table->Table(); t && !t->Eof() && !xbase->Evaluate(filter)) Resettle(*table);
  }
}

TListState TMainScreen::OutgoingState() const {
  TListState s;
  s.hasRow = HasRow(FaxTable);
  if (s.hasRow) {
    s.rowHasCover = !FaxTable.FieldText("FAXCOVER").empty();
    s.rowArchived = FaxTable.FieldBool("ARCHIVED");
  }
  return s;
}

TListState TMainScreen::ReceivedState() const {
  TListState s;
  s.hasRow = HasRow(RecTable);
  if (s.hasRow) s.rowArchived = RecTable.FieldBool("ARCHIVED");
  return s;
}

void TMainScreen::UpdateOrders() {
  // An empty list is in natural order; one with rows always has an order.
  const std::pair<TXbDataTable*, QActionGroup*> lists[] = {{&FaxTable, outgoingOrder_}, {&RecTable, receivedOrder_}};
  for (const auto& [table, group] : lists) {
    if (!table->Active()) continue;
    if (!HasRow(*table)) {
      if (!table->IndexName().empty()) LogTableFailure(table->SetIndexName(""), "list order");
    } else if (table->IndexName().empty()) {
      QAction* first = group->actions().front();
      LogTableFailure(table->SetIndexName(first->data().toString().toStdString()), "list order");
      first->setChecked(true);
      LogTableFailure(table->First(), "list");
    }
  }
}

void TMainScreen::SetButtons() {
  Status->SetCaption(QString());
  UpdateOrders();
  const TCommandStates s = ComputeCommandStates(currentTab_, OutgoingState(), ReceivedState());
  const std::pair<QPushButton*, bool> buttons[] = {
      {NewButton, s.New},   {AddCoverButton, s.AddCover}, {EditButton, s.Edit}, {DeleteButton, s.Delete},
      {PrintButton, s.Print && printerInstalled_}, {SortButton, s.Sort},       {ViewButton, s.View}, {SendButton, s.Send}};
  for (const auto& [b, on] : buttons) b->setEnabled(on);
  const std::pair<QAction*, bool> items[] = {
      {NewCoverSheet1, s.New}, {NewFaxFromFile1, s.New}, {AddCoverSheet1, s.AddCover}, {Edit1, s.Edit},   {Clone1, s.Clone},
      {Delete1, s.Delete},     {Archive1, s.Archive},        {ForwardReceivedFax1, s.Forward},
      {Print1, s.Print && printerInstalled_}, {SendFax1, s.Send}, {ViewPrintFax1, s.View}};
  for (const auto& [a, on] : items) a->setEnabled(on);
  // Without any printer there is nothing to print on or to set up.
  PrintSetup1->setEnabled(printerInstalled_);
  Archive1->setText(s.ArchiveReadsUnarchive ? "Un&Archive" : "&Archive");
  FaxGrid->setEnabled(s.OutgoingListEnabled);
  RecGrid->setEnabled(s.ReceivedListEnabled);
}

void TMainScreen::SetOrder(TXbDataTable& table, const char* tag) {
  if (!HasRow(table)) return;
  LogTableFailure(table.SetIndexName(tag), "list order");
  SetButtons();
}

void TMainScreen::TabSet1Click(int index) {
  currentTab_ = index == 1 ? TFaxTab::Received : TFaxTab::Outgoing;
  Notebook1->setCurrentIndex(index);
  SetButtons();
}

void TMainScreen::SortButtonClick() {
  QMenu* menu = currentTab_ == TFaxTab::Outgoing ? OutgoingSortMenu : ReceivedSortMenu;
  menu->popup(SortButton->mapToGlobal(SortButton->rect().bottomLeft()));
}

void TMainScreen::ShowArchivedFaxes1Click() {
  listFilter_ = ShowArchivedFaxes1->isChecked() ? QString() : QString(".not. ARCHIVED");
  ApplyListFilter();
  SetButtons();
}

bool TMainScreen::ReceiveModeRefused() {
  if (!receiveMode_) return false;
  ShowInformation(kReceiveModeRefusal);
  return true;
}

void TMainScreen::Resettle(TXbDataTable& table) {
  TXbTable* t = table.Table();
  if (!t) return;
  // Skipping from a row the list no longer shows lands on the next one it does.
  XbStatus st = t->Skip(1);
  if (st && t->Eof()) st = t->GoBottom();
  LogTableFailure(st, "list");
  table.DataChanged();
}

void TMainScreen::Delete1Click() {
  if (currentTab_ == TFaxTab::Received) {
    DeleteReceived();
  } else {
    DeleteOutgoing();
  }
  SetButtons();
}

void TMainScreen::DeleteReceived() {
  if (!HasRow(RecTable) || receivingNow_) {
    QApplication::beep();
    return;
  }
  const uint32_t recno = RecTable.RecNo();
  if (!AskYesNoDefaultNo("Delete the current fax?\r\n(from: \"" + Field(RecTable, "FROM") + "\")", "Delete")) return;
  TXbTable* t = RecTable.Table();
  if (!t || !t->Go(recno)) return;
  const std::string file = RecTable.FieldText("FAXFILE");
  if (!RecTable.Delete()) return;
  if (!file.empty()) RemoveFile(ResolveNoCase(ReceiveFolder(), file));
  Resettle(RecTable);
}

void TMainScreen::DeleteOutgoing() {
  if (!HasRow(FaxTable)) {
    QApplication::beep();
    return;
  }
  const uint32_t recno = FaxTable.RecNo();
  const std::string doc = FaxTable.FieldText("FAXDOC");
  const std::string cover = FaxTable.FieldText("FAXCOVER");
  TDeleteChoice choice = TDeleteChoice::Both;
  if (!doc.empty() && !cover.empty()) {
    TDeleteWhat ask(this);
    if (ask.exec() != QDialog::Accepted) return;
    choice = ask.Choice();
  } else if (!AskYesNoDefaultNo("Delete the current fax?\r\n(subject: \"" + Field(FaxTable, "SUBJECT") + "\")",
                                "Delete")) {
    return;
  }
  TXbTable* t = FaxTable.Table();
  if (!t || !t->Go(recno)) return;
  const std::filesystem::path send = SendFolder();
  const auto removeCover = [&] {
    if (cover.empty()) return;
    RemoveFile(ResolveNoCase(send, cover));
    RemoveFile(ResolveNoCase(send, std::filesystem::path(cover).replace_extension(".fcd").string()));
  };
  const auto removeBody = [&] {
    if (!doc.empty()) RemoveFile(ResolveNoCase(send, doc));
  };
  switch (choice) {
    case TDeleteChoice::Cover:
      if (FaxTable.SetFieldText("FAXCOVER", "") && FaxTable.Post())
        removeCover();  // only once the row no longer names it
      else
        FaxTable.Cancel();
      break;
    case TDeleteChoice::Body:
      if (FaxTable.SetFieldText("FAXDOC", "") && FaxTable.Post())
        removeBody();
      else
        FaxTable.Cancel();
      break;
    case TDeleteChoice::Both:
      if (!FaxTable.Delete()) return;
      removeBody();
      removeCover();
      Resettle(FaxTable);
      break;
  }
}

void TMainScreen::Archive1Click() {
  const bool received = currentTab_ == TFaxTab::Received;
  TXbDataTable& table = received ? RecTable : FaxTable;
  if (!HasRow(table) || (received && receivingNow_)) {
    QApplication::beep();
    SetButtons();
    return;
  }
  const uint32_t recno = table.RecNo();
  const bool archived = table.FieldBool("ARCHIVED");
  QString question = archived ? "UnArchive the current fax?\r" : "Archive the current fax?\r";
  if (received) {
    const QString from = Field(table, "FROM");
    if (!from.isEmpty()) question += "(from: " + from + ")";
  } else {
    const QString subject = Field(table, "SUBJECT");
    question += subject.isEmpty() ? QString("(no subject)") : "(subject: " + subject + ")";
  }
  if (AskYesNoDefaultNo(question, "Archive")) {
    TXbTable* t = table.Table();
    if (t && t->Go(recno)) {
      if (table.SetFieldValue("ARCHIVED", TXbValue::Bool(!archived)) && table.Post()) {
        if (!archived && !listFilter_.isEmpty()) Resettle(table);
      } else {
        table.Cancel();
      }
    }
  }
  SetButtons();
}

void TMainScreen::Clone1Click() {
  if (!HasRow(FaxTable)) {
    QApplication::beep();
    return;
  }
  if (!AskYesNoDefaultNo("Clone the current fax?\r\n(subject: \"" + Field(FaxTable, "SUBJECT") + "\")", "Clone"))
    return;
  const std::string doc = FaxTable.FieldText("FAXDOC");
  const std::string cover = FaxTable.FieldText("FAXCOVER");
  if (doc.empty() && cover.empty()) return;
  const std::string send = SendFolder();
  CloneAPFFax(FaxTable, doc.empty() ? std::string() : ResolveNoCase(send, doc).string(),
              cover.empty() ? std::string() : ResolveNoCase(send, cover).string(), FaxTable.FieldText("PHONE"),
              FaxTable.FieldText("RECIPIENT"), FaxTable.FieldText("SUBJECT"));
  SetButtons();
  FaxTableCloseAndOpen();
  SetButtons();
}

void TMainScreen::FaxTableCloseAndOpen() {
  const uint32_t recno = FaxTable.RecNo();
  FaxGrid->setUpdatesEnabled(false);
  LogTableFailure(FaxTable.Close(), "closing the outgoing table");
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (FaxTable.Open()) {
    FaxXbase.SetFilter(listFilter_.toStdString());
    const QAction* checked = outgoingOrder_->checkedAction();
    LogTableFailure(
        FaxTable.SetIndexName(checked ? checked->data().toString().toStdString() : std::string("DATESENT")),
        "list order");
    if (TXbTable* t = FaxTable.Table(); t && !t->Go(recno)) LogTableFailure(t->GoTop(), "outgoing list");
    FaxTable.DataChanged();
  }
  FaxGrid->setUpdatesEnabled(true);
}

bool TMainScreen::ProcessExtraPDFaxFiles() {
  if (!FaxTable.Active()) return false;
  TJobTable jobs;
  jobs.append = [this](const std::string& faxDoc, const TJobDescription& job) {
    const uint32_t recno = FaxTable.RecNo();
    if (!FaxTable.Append()) return false;
    const bool ok = FaxTable.SetFieldText("FAXDOC", faxDoc) && FaxTable.SetFieldText("RECIPIENT", job.recipient) &&
                    FaxTable.SetFieldText("SUBJECT", job.subject) &&
                    FaxTable.SetFieldText("PHONE", job.faxNumber) && FaxTable.Post();
    if (!ok) FaxTable.Cancel();
    // The list keeps its current row.
    if (TXbTable* t = FaxTable.Table(); t && recno <= t->RecCount()) LogTableFailure(t->Go(recno), "outgoing list");
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return ok;
  };
  jobs.hasRow = [this](const std::string& faxDoc) -> std::optional<bool> {
    TXbTable* t = FaxTable.Table();
    return t ? TableHasFaxDoc(*t, faxDoc) : std::nullopt;
  };
  const bool found = ::ProcessExtraPDFaxFiles(jobs);
  if (found) FaxTableCloseAndOpen();
  return found;
}

void TMainScreen::RebuildIndexes1Click() {
  if (ReceiveModeRefused()) return;
  RebuildIndexes();
  SetButtons();
}

void TMainScreen::RebuildIndexes() {
  FaxGrid->setUpdatesEnabled(false);
  TRebuildInd rebuild(OutgoingRebuildTarget(FaxTable, FaxXbase), ReceivedRebuildTarget(RecTable, RecXbase),
                      PhoneTable, PhoneXbase, ProgramFolder(), this);
  rebuild.exec();
  ApplyListFilter();
  FaxGrid->setUpdatesEnabled(true);
}

void TMainScreen::SaveGridOrders() {
  if (!FaxModel) return;
  QHeaderView* header = FaxGrid->horizontalHeader();
  std::vector<std::string> fields;
  std::vector<int> widths{FaxGrid->verticalHeader()->width()};
  for (int v = 0; v < header->count(); ++v) {
    const int logical = header->logicalIndex(v);
    widths.push_back(header->sectionSize(logical));
    const std::string& field = FaxModel->Columns()[static_cast<size_t>(logical)].field;
    if (!field.empty()) fields.push_back(field);
  }
  // The fields the list does not show follow in table order.
  for (const TFieldDef& f : OutgoingFields())
    if (std::find(fields.begin(), fields.end(), f.name) == fields.end()) fields.push_back(f.name);
  ::SaveGridOrders(ProgramFolder(), kLayoutKind, fields, widths);
}

void TMainScreen::LoadGridOrders() {
  if (!FaxModel) return;
  std::vector<std::string> tableFields;
  for (const TFieldDef& f : OutgoingFields()) tableFields.emplace_back(f.name);
  const TGridLayout layout = ::LoadGridOrders(ProgramFolder(), kLayoutKind, tableFields);
  QHeaderView* header = FaxGrid->horizontalHeader();
  std::vector<std::pair<int, std::string>> byPosition;
  for (const auto& [field, position] : layout.positions) byPosition.emplace_back(position, field);
  std::sort(byPosition.begin(), byPosition.end());
  const auto& columns = FaxModel->Columns();
  for (const auto& [position, field] : byPosition) {
    if (position >= header->count()) continue;
    for (size_t c = 0; c < columns.size(); ++c)
      if (columns[c].field == field) header->moveSection(header->visualIndex(static_cast<int>(c)), position);
  }
  // Width 0 of the row indicator is its own; the columns follow in display order.
  for (const auto& [column, width] : layout.widths)
    if (column >= 1 && column <= header->count() && width > 0)
      header->resizeSection(header->logicalIndex(column - 1), width);
}

void TMainScreen::ShowHints1Click() {
  Settings.HintsOn = ShowHints1->isChecked();
  WriteSettings();
  ApplyHints(Settings.HintsOn);
}

void TMainScreen::ApplyHints(bool on) { hintsOn_ = on; }

void TMainScreen::ProblemSolverButtonClick() { ShowProblemSolver(); }

void TMainScreen::AboutCorvane1Click() {
  QMessageBox::about(this, "About Corvane",
                     QString("Corvane %1\n\nA fax program for Class 1, Class 2 and Class 2.0 fax modems.")
                         .arg(kVersionText));
}

void TMainScreen::SendButtonClick() {
  if (receiveMode_) {
    ShowInformation("You are in Fax Receive mode. You cannot send\nwhile in Fax Receive mode. Click the Stop button "
                    "to end\nFax Receive mode");
    return;
  }
  if (currentTab_ != TFaxTab::Outgoing) {
    ShowInformation("Please switch to the Outgoing Faxes tab\nand highlight a fax to send");
    return;
  }
  SendCurrentFax({FaxTable, this, [this](const QString& text) {
                    Status->SetCaption(text);
                    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                  }});
  SetButtons();
}

void TMainScreen::ReceiveButtonClick() { ReceiveMode->Toggle(); }

void TMainScreen::NotAvailableYet() { ShowInformation(kNotAvailable); }

bool TMainScreen::eventFilter(QObject* watched, QEvent* e) {
  // Pop-up hints are tooltips; while hints are off they are swallowed.
  if (e->type() == QEvent::ToolTip && !hintsOn_) return true;
  // The window sees keys before its controls (the lists would take Ctrl+Tab
  // and Enter for themselves).
  if (e->type() == QEvent::KeyPress && watched != this && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this && WindowKey(static_cast<QKeyEvent*>(e)))
    return true;
  return QMainWindow::eventFilter(watched, e);
}

bool TMainScreen::WindowKey(QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if ((e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) && mods == Qt::ControlModifier) {
    TabSet1->setCurrentIndex(TabSet1->currentIndex() == 0 ? 1 : 0);
    return true;
  }
  if (e->key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
    receiveLogging_ = !receiveLogging_;
    ShowInformation(receiveLogging_ ? "Logging is now ON. Log file will be saved\nfor this fax session as CVIN.LOG. "
                                      "This will\noverwrite any previous CVIN.LOG."
                                    : "Logging is now OFF");
    return true;
  }
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && FaxGrid->hasFocus() && EditButton->isEnabled()) {
    EditButton->click();
    return true;
  }
  return false;
}

void TMainScreen::keyPressEvent(QKeyEvent* e) {
  if (!WindowKey(e)) QMainWindow::keyPressEvent(e);
}

void TMainScreen::setVisible(bool visible) {
  showing_ = true;
  QMainWindow::setVisible(visible);
  showing_ = false;
}

void TMainScreen::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (firstActivation_) {
    // After the window system has mapped the window, so frame sizes are known.
    QTimer::singleShot(0, this, &TMainScreen::FormActivate);
  }
}

void TMainScreen::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && !firstActivation_) FormActivate();
  QMainWindow::changeEvent(e);
}

void TMainScreen::FormActivate() {
  // Reopening the table lets pending messages run, which may activate the
  // window again.
  if (closed_ || activating_) return;
  activating_ = true;
  if (firstActivation_) {
    FirstActivation();
  } else {
    ProcessExtraPDFaxFiles();
    SetButtons();
  }
  activating_ = false;
}

void TMainScreen::FirstActivation() {
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  RestorePlacement(this);
  if (closePosted_) {  // a table is missing: only the close path is left
    firstActivation_ = false;
    // Send the close message again now that the window is on screen.
    QApplication::postEvent(this, new QEvent(kCloseMessage));
    return;
  }
  // Image files whose rows went in a run that ended half-way, before new
  // printer-driver jobs are taken.
  (void)SweepOrphanFaxFiles(FaxTable, RecTable, SendFolder(), ReceiveFolder());
  uint32_t remembered = 0;
  if (ProcessExtraPDFaxFiles()) remembered = FaxTable.RecNo();
  // Linux has no start-up show command: the window comes to the front.
  raise();
  activateWindow();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  // The quick setup opens without holding up start-up or the close path (a
  // signal may close the window).
  if (firstRun_) firstRunNotice_ = OpenQuickSetup(this);
  if (FaxXbase.TagNumber("DATEND") == 0 || RecXbase.TagNumber("DATEND") == 0) RebuildIndexes();
  if (remembered != 0)
    if (TXbTable* t = FaxTable.Table()) LogTableFailure(t->Go(remembered), "outgoing list");
  SetButtons();
  LoadGridOrders();
  WriteZRTPDINI();
  firstActivation_ = false;
  // Receive mode at start-up: a failure to start is in Lastrec.log and the
  // window stays usable.
  if (Settings.AtStartup) ReceiveMode->Start();
}

void TMainScreen::ExitClick() { close(); }

void TMainScreen::closeEvent(QCloseEvent* e) {
  if (!closed_) {
    if (receivingNow_ &&
        !AskYesNo("You are recieving a fax. Close the program?", "ALERT!")) {
      e->ignore();
      return;
    }
    // Receive mode ends first (the port is released); the close then runs again.
    if (ReceiveMode->On()) {
      e->ignore();
      ReceiveMode->Shutdown([this] { close(); });
      return;
    }
    receiveMode_ = false;
    closed_ = true;
    if (firstRunNotice_) firstRunNotice_->close();
    if (!closePosted_) SaveGridOrders();
    LogTableFailure(FaxTable.Close(), "closing the outgoing table");
    LogTableFailure(RecTable.Close(), "closing the received table");
    // Settings first, so that a new file starts with the settings sections.
    // When start-up ended before reading them, writing would put defaults
    // over the user's file.
    if (settingsRead_) WriteSettings();
    SavePlacement(this);
  }
  e->accept();
}
