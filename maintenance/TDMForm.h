#pragma once
// The fax log cleanup window: both fax tables in full (archived rows too),
// one page each, with commands that delete the current fax or every fax a
// rule holds for, together with their image files. It works on the main
// window's own table objects: their filters are cleared while it is open and
// put back when it closes. Whoever opens it rebuilds the indexes afterwards
// when SomethingDeleted() says so.

#include <QDialog>

#include <filesystem>
#include <memory>

#include "store/core/Cleanup.h"
#include "store/core/Xbase.h"

class QAction;
class QMenu;
class QMenuBar;
class QPushButton;
class QTabWidget;
class QTableView;
class TXbTableModel;

// The tables the window works on and the folders their rows name files in.
struct TDMTables {
  TXbDataTable& outgoing;
  TXbase& outgoingXbase;
  TXbDataTable& received;
  TXbase& receivedXbase;
  std::filesystem::path sendFolder;
  std::filesystem::path receiveFolder;
  std::string programFolder;  // for the file column, ends in "/"
};

class TDMForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDMForm(TDMTables tables, QWidget* parent = nullptr);
  ~TDMForm() override;

  bool SomethingDeleted() const { return cleanup_.SomethingDeleted(); }
  TFaxKind CurrentKind() const;

  QMenuBar* MainMenu;
  QMenu* Actions1;
  QAction *DeleteCurrentFax1, *DeleteAllBeforeDate1, *DeleteAllArchived1, *DeleteAllSent1, *DeleteAllNotSent1;
  QAction *DeleteAllConditions1, *DeleteAllFaxes1;
  QMenu* PopupMenu1;
  QAction* Delete2;
  QTabWidget* PageControl1;
  QWidget *OutgoingSheet, *IncomingSheet;
  QTableView *OutGrid, *InGrid;
  QPushButton *HelpButton, *CloseButton;

 public slots:
  void FormActivate();
  void PageControl1Change();
  void DeleteCurrentFax1Click();
  void DeleteAllBeforeDate1Click();
  void DeleteAllArchived1Click();
  void DeleteAllSent1Click();
  void DeleteAllNotSent1Click();
  void DeleteAllConditions1Click();
  void DeleteAllFaxes1Click();
  void HelpButtonClick();

  // Shows or hides the commands after the current page and the rows left.
  void UpdateMenu();
  // Deletes every fax of the current page the rule holds for, tells how
  // many went, and returns that number.
  uint32_t DeleteByRule(const TCleanupRule& rule);

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int result) override;

 private:
  TXbDataTable& Table(TFaxKind kind) { return kind == TFaxKind::Outgoing ? tables_.outgoing : tables_.received; }
  TXbDataTable& CurrentTable() { return Table(CurrentKind()); }
  QTableView* Grid(TFaxKind kind) const { return kind == TFaxKind::Outgoing ? OutGrid : InGrid; }
  TXbTableModel* Model(TFaxKind kind) const { return kind == TFaxKind::Outgoing ? outModel_ : inModel_; }
  const char* KindText() const;
  void BuildMenus();
  void BuildColumns();
  // Puts the list's current row on its table's current row.
  void ShowCurrentRow(TFaxKind kind);
  // Asks with caption "DELETE" (or another) and runs the rule on Yes.
  void ConfirmAndDelete(const QString& question, const TCleanupRule& rule, const QString& caption = "DELETE");

  TDMTables tables_;
  TFaxLogCleanup cleanup_;
  TXbTableModel* outModel_ = nullptr;
  TXbTableModel* inModel_ = nullptr;
  std::string savedOutFilter_, savedInFilter_;
  bool activated_ = false;
  bool restored_ = false;
  bool syncing_ = false;
};
