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
#include <QStandardItemModel>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "mainscreen/TGraphicPanel.h"
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

// Until the tables are attached, a list shows its column titles only.
QTableView* Grid(QWidget* parent, const char* name, const QStringList& titles) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(name);
  auto* model = new QStandardItemModel(0, static_cast<int>(titles.size()), grid);
  model->setHorizontalHeaderLabels(titles);
  grid->setModel(model);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setShowGrid(true);
  grid->horizontalHeader()->setSectionsMovable(true);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  return grid;
}

}  // namespace

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainScreen");
  // Ends this process here when another copy runs.
  JustOne1 = new TJustOne(this);
  setWindowTitle("Corvane");
  resize(780, 540);
  SetApplicationWindow(this);
  BuildLayout();
  BuildMenus();
  qApp->installEventFilter(this);
  FormCreate();
  SetButtons();
}

TMainScreen::~TMainScreen() { qApp->removeEventFilter(this); }

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

  FaxGrid = Grid(central, "FaxGrid",
                 {"Date Sent", "Time Sent", "Fax#", "Recipient", "Subject", "Last Attempt", "Notes", "Codes", "Fax File"});
  RecGrid = Grid(central, "RecGrid", {"Date Rec'd", "Time Rec'd", "From", "Pages", "Notes", "Fax File"});
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
  for (QPushButton* b : {NewButton, AddCoverButton, EditButton, DeleteButton, PreferencesButton, PrintButton,
                         ViewButton, SendButton, ReceiveButton})
    connect(b, &QPushButton::clicked, this, &TMainScreen::NotAvailableYet);
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
  for (QAction* a : {NewCoverSheet1, AddCoverSheet1, Edit1, Clone1, Delete1, Archive1, ForwardReceivedFax1, Print1,
                     PrintSetup1, FaxLogCleanup1, SendFax1, ReceiveFaxes1, ViewPrintFax1, PhoneBook1,
                     CoverSheetTemplateDesigner1, RebuildIndexes1, Preferences1, QuickConfigurationAnalysis1,
                     ConfigurationInformation1})
    connect(a, &QAction::triggered, this, &TMainScreen::NotAvailableYet);

  OutgoingSortMenu = new QMenu(this);
  outgoingOrder_ = new QActionGroup(this);
  for (const char* caption : {"&Date Sent", "&Subject", "&Recipient"}) {
    QAction* a = OutgoingSortMenu->addAction(caption);
    a->setCheckable(true);
    outgoingOrder_->addAction(a);
  }
  outgoingOrder_->actions().front()->setChecked(true);
  ReceivedSortMenu = new QMenu(this);
  receivedOrder_ = new QActionGroup(this);
  for (const char* caption : {"Date Received", "From"}) {
    QAction* a = ReceivedSortMenu->addAction(caption);
    a->setCheckable(true);
    receivedOrder_->addAction(a);
  }
  receivedOrder_->actions().front()->setChecked(true);
}

void TMainScreen::FormCreate() {
  listFilter_ = ".not. archived";
  receiveLogging_ = false;
  ReadSettings();
  if (Settings.ComPort == -1) {
    firstRun_ = true;
    Settings.ComPort = 0;
  }
  SetApplicationHelpFile(QString::fromStdString(ProgramFolder()) + "CV.hlp");
  MakeFolders();
  ShowHints1->setChecked(Settings.HintsOn);
  ApplyHints(Settings.HintsOn);
}

TListState TMainScreen::OutgoingState() const { return {}; }
TListState TMainScreen::ReceivedState() const { return {}; }

void TMainScreen::SetButtons() {
  Status->SetCaption(QString());
  const TCommandStates s = ComputeCommandStates(currentTab_, OutgoingState(), ReceivedState());
  const std::pair<QPushButton*, bool> buttons[] = {
      {NewButton, s.New},   {AddCoverButton, s.AddCover}, {EditButton, s.Edit}, {DeleteButton, s.Delete},
      {PrintButton, s.Print}, {SortButton, s.Sort},       {ViewButton, s.View}, {SendButton, s.Send}};
  for (const auto& [b, on] : buttons) b->setEnabled(on);
  const std::pair<QAction*, bool> items[] = {
      {NewCoverSheet1, s.New}, {AddCoverSheet1, s.AddCover}, {Edit1, s.Edit},   {Clone1, s.Clone},
      {Delete1, s.Delete},     {Archive1, s.Archive},        {ForwardReceivedFax1, s.Forward},
      {Print1, s.Print},       {SendFax1, s.Send},           {ViewPrintFax1, s.View}};
  for (const auto& [a, on] : items) a->setEnabled(on);
  Archive1->setText(s.ArchiveReadsUnarchive ? "Un&Archive" : "&Archive");
  FaxGrid->setEnabled(s.OutgoingListEnabled);
  RecGrid->setEnabled(s.ReceivedListEnabled);
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
  SetButtons();
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

void TMainScreen::NotAvailableYet() { ShowInformation(kNotAvailable); }

bool TMainScreen::eventFilter(QObject* watched, QEvent* e) {
  // Pop-up hints are tooltips; while hints are off they are swallowed.
  if (e->type() == QEvent::ToolTip && !hintsOn_) return true;
  return QMainWindow::eventFilter(watched, e);
}

void TMainScreen::keyPressEvent(QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if (e->key() == Qt::Key_Tab && mods == Qt::ControlModifier) {
    TabSet1->setCurrentIndex(TabSet1->currentIndex() == 0 ? 1 : 0);
    return;
  }
  if (e->key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
    receiveLogging_ = !receiveLogging_;
    ShowInformation(receiveLogging_ ? "Logging is now ON. Log file will be saved\nfor this fax session as CVIN.LOG. "
                                      "This will\noverwrite any previous CVIN.LOG."
                                    : "Logging is now OFF");
    return;
  }
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && FaxGrid->hasFocus() && EditButton->isEnabled()) {
    EditButton->click();
    return;
  }
  QMainWindow::keyPressEvent(e);
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
  if (firstActivation_) {
    firstActivation_ = false;
    RestorePlacement(this);
  }
  SetButtons();
}

void TMainScreen::ExitClick() { close(); }

void TMainScreen::closeEvent(QCloseEvent* e) {
  if (!closed_) {
    closed_ = true;
    // Settings first, so that a new file starts with the settings sections.
    WriteSettings();
    SavePlacement(this);
  }
  e->accept();
}
