#pragma once
// The main window: the outgoing and received fax lists on two tabs, the bar
// of command buttons and the menus. It lives for the whole run, reads the
// settings and makes the folders when it is created, restores its placement
// when first shown, and stores its placement and all settings when it closes.

#include <QEvent>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <string>

#include "mainscreen/CommandStates.h"
#include "store/core/Xbase.h"

class QAction;
class QActionGroup;
class QMenu;
class QDialog;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTableView;
class TFxFaxPrinter;
class TFxFaxPrinterStatus;
class TGraphicPanel;
class TJustOne;
class TArrivalAnnouncer;
class TReceiveMode;
class TXbTableModel;

// The close message: the main window posts it to itself when a table cannot
// be opened; windows that close themselves after their work use it too.
inline const QEvent::Type kCloseMessage = static_cast<QEvent::Type>(QEvent::User + 42);

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);
  ~TMainScreen() override;

  // The first-run flag: no serial port has ever been chosen.
  bool FirstRun() const { return firstRun_; }
  // Recompute the enabled state of every command.
  void SetButtons();
  TFaxTab CurrentTab() const { return currentTab_; }
  // The filter text both lists apply: ".not. archived" or empty (show all).
  const QString& ListFilter() const { return listFilter_; }
  bool ReceiveLogging() const { return receiveLogging_; }
  bool FirstActivationDone() const { return !firstActivation_; }
  // True once the close message has been posted (a table could not be opened).
  bool ClosePosted() const { return closePosted_; }
  // True once the window has gone through its close path.
  bool Closed() const { return closed_; }

  // Reopens the outgoing table keeping its current row.
  void FaxTableCloseAndOpen();
  // Shows the row just appended to the open outgoing table, its current
  // row, as the list's current row.
  void OutgoingRowAdded();
  // Packs the tables and rebuilds their indexes (the rebuild window).
  void RebuildIndexes();
  // Takes the printer-driver jobs waiting in the SEND folder; true when any
  // description file was found.
  bool ProcessExtraPDFaxFiles();
  // Column order and widths of the outgoing list, kind "Out".
  void SaveGridOrders();
  void LoadGridOrders();

  // The tables the window owns for the whole run.
  TXbEngine Engine;
  TXbaseEnv XbaseEnv{Engine};
  TXbDataTable FaxTable{Engine};
  TXbDataTable RecTable{Engine};
  TXbDataTable PhoneTable{Engine};
  TFxFaxPrinter* FxFaxPrinter1 = nullptr;
  TFxFaxPrinterStatus* FxFaxPrinterStatus1 = nullptr;
  TXbase FaxXbase{Engine};
  TXbase RecXbase{Engine};
  TXbase PhoneXbase{Engine};
  TXbTableModel* FaxModel = nullptr;
  TXbTableModel* RecModel = nullptr;
  // Receive mode: its port, its receive-fax component and their events.
  TReceiveMode* ReceiveMode = nullptr;
  // Announces each fax receive mode has stored (sound, notification, printing).
  TArrivalAnnouncer* Announcer = nullptr;

  // Buttons, upper row then lower row.
  QPushButton *NewButton, *AddCoverButton, *EditButton, *DeleteButton, *ProblemSolverButton, *PreferencesButton;
  QPushButton *PrintButton, *SortButton, *ViewButton, *SendButton, *ReceiveButton, *ExitButton;
  QTabBar* TabSet1;
  QStackedWidget* Notebook1;
  QTableView* FaxGrid;
  QTableView* RecGrid;
  TGraphicPanel* Status;
  // Menu items.
  QAction *NewCoverSheet1, *NewFaxFromFile1, *AddCoverSheet1, *Edit1, *Clone1, *Delete1, *Archive1, *ForwardReceivedFax1;
  QAction *Print1, *PrintSetup1, *ShowArchivedFaxes1, *FaxLogCleanup1, *SendFax1, *ReceiveFaxes1, *ViewPrintFax1;
  QAction *PhoneBook1, *CoverSheetTemplateDesigner1, *RebuildIndexes1, *Preferences1, *Exit1;
  QAction *QuickStartInstructions1, *QuickConfigurationAnalysis1, *ProblemSolver1, *ConfigurationInformation1;
  QAction *HelpContents1, *AboutCorvane1, *Faq1, *TechnicalSupport1, *ShowHints1;
  QMenu* OutgoingSortMenu;
  QMenu* ReceivedSortMenu;

 public slots:
  void FormCreate();
  void FormActivate();
  void ExitClick();
  void TabSet1Click(int index);
  void SortButtonClick();
  void ShowArchivedFaxes1Click();
  void ShowHints1Click();
  void ProblemSolverButtonClick();
  void AboutCorvane1Click();
  void SendButtonClick();
  // Starts or stops receive mode.
  void ReceiveButtonClick();
  void NotAvailableYet();
  void Delete1Click();
  void Archive1Click();
  void Clone1Click();
  void RebuildIndexes1Click();
  // The fax log cleanup tool (CleanupCommand.cpp).
  void FaxLogCleanup1Click();
  // View the current fax (ViewCommand.cpp).
  void mnuViewPrintClick();
  // Print the current fax, choose the printer (PrintCommand.cpp).
  void PrintbuttonClick();
  void mnuPrintClick();
  void PrintSetup1Click();
  // Edit the current fax; on the received tab its notes (EditNotesCommand.cpp).
  void EditButtonClick();
  // New, Add Cover, Forward, and Edit on the outgoing tab (ComposeCommand.cpp).
  void NewbuttonClick();
  void AddCoverButtonClick();
  void EditOutgoingFax();
  void mnuForwardClick();
  // A document imported as a new outgoing fax (NewFaxFromFileCommand.cpp).
  void mnuNewFaxFromFileClick();
  // Documents made into outgoing faxes one after another, once the window is
  // up and free: dropped on the window or named on the command line.
  void NewFaxFromFiles(const QStringList& files);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void setVisible(bool visible) override;
  bool event(QEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  friend class TReceiveMode;
  void BuildLayout();
  void BuildMenus();
  void ApplyHints(bool on);
  TListState OutgoingState() const;
  TListState ReceivedState() const;
  void AttachLists();
  void PostCloseMessage();
  void FirstActivation();
  void ApplyListFilter();
  void UpdateOrders();
  void SetOrder(TXbDataTable& table, const char* tag);
  // Puts the grid's current row on the table's current row.
  void ShowCurrentRow(TXbDataTable& table);
  // After a row left the list: go on to the next visible row, or the last.
  static void Resettle(TXbDataTable& table);
  bool ReceiveModeRefused();
  void DeleteReceived();
  void DeleteOutgoing();
  // Keys the window handles itself, whichever control has the focus.
  bool WindowKey(QKeyEvent* e);

  void CreateFaxPrinter();
  void TakeNextFile();
  void ShowNewOutgoingRow();
  void EditReceivedNotes();

  TJustOne* JustOne1;
  QActionGroup* outgoingOrder_;
  QActionGroup* receivedOrder_;
  TFaxTab currentTab_ = TFaxTab::Outgoing;
  QString listFilter_ = ".not. archived";
  bool receiveLogging_ = false;
  bool hintsOn_ = true;
  bool firstActivation_ = true;
  bool firstRun_ = false;
  bool closed_ = false;
  bool closePosted_ = false;
  bool settingsRead_ = false;
  bool activating_ = false;
  bool showing_ = false;  // inside setVisible
  QPointer<QDialog> firstRunNotice_;
  bool receiveMode_ = false;   // receive mode is on
  bool receivingNow_ = false;  // a fax is arriving now
  bool syncing_ = false;       // the lists are being moved to their tables' rows
  bool printerInstalled_ = false;
  QStringList filesToTake_;  // documents waiting for New Fax from File
  bool takingFile_ = false;
};
