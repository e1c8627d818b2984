#pragma once
// The phone book browser: the entries in name order, with New, Edit and
// Delete. Managing mode (the main window's Phone Book command) only edits;
// choosing mode also returns the entry accepted for a fax.
//
// The browser opens its own table object on the phone book, shared, and
// creates the table when it is missing. A phone book that cannot be opened is
// left as it is: the browser says so and offers only Close (or Cancel).

#include <QDialog>
#include <QElapsedTimer>
#include <QTableView>

#include <filesystem>

#include "store/core/Xbase.h"

class QLabel;
class QPushButton;
class TXbTableModel;

enum class TPhoneBookMode { Managing, Choosing };

// The browser's grid. Typed text jumps to the first name starting with it;
// letters typed in quick succession extend the text.
class TPhoneGrid : public QTableView {
  Q_OBJECT

 public:
  using QTableView::QTableView;
  void keyboardSearch(const QString& search) override;

 signals:
  void JumpRequested(const QString& prefix);

 private:
  QString typed_;
  QElapsedTimer sinceKey_;
};

class TPhoneBook : public QDialog {
  Q_OBJECT

 public:
  TPhoneBook(const std::filesystem::path& folder, TPhoneBookMode mode, QWidget* parent = nullptr);
  ~TPhoneBook() override;

  // The main window's command: the browser in managing mode, modal.
  static void Manage(const std::filesystem::path& folder, QWidget* parent);
  // The fax editors' Phonebook buttons: true with the accepted entry's name
  // and number; false (both left alone) when the user cancelled.
  static bool Choose(const std::filesystem::path& folder, QWidget* parent, QString& name, QString& number);

  bool TableOpen() const { return open_; }
  bool HasCurrentRow() const;
  const QString& ChosenName() const { return chosenName_; }
  const QString& ChosenNumber() const { return chosenNumber_; }
  // Makes the first entry in grid order whose name starts with `prefix`
  // (any letter case) current; false, nothing moved, when there is none.
  bool JumpTo(const QString& prefix);

  TPhoneGrid* PhoneGrid;
  QLabel* TableProblem;
  QPushButton* Addbutton;
  QPushButton* Modifybutton;
  QPushButton* Deletebutton;
  QPushButton* Closebutton;
  QPushButton* Cancelbutton;
  QPushButton* OKButton;
  QPushButton* Helpbutton;

 public slots:
  void AddbuttonClick();
  void ModifyButtonClick();
  void DeleteButtonClick();
  void AcceptbuttonClick();
  void CancelbuttonClick();
  void ClosebuttonClick();
  void HelpButtonClick();
  void FormActivate();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OpenTable(const std::filesystem::path& folder);
  void SetButtons();
  // Shows the table's current row as the grid's current row.
  void ShowCurrentRow();
  void GridRowChanged(int row);
  // Stores the editor's texts in the current row (a new one when `append`).
  void StoreEntry(const QString& name, const QString& number, bool append);

  TXbEngine engine_;
  TXbaseEnv env_{engine_};
  TXbDataTable PhoneTable{engine_};
  TXbase PhoneXbase{engine_};
  TXbTableModel* model_ = nullptr;
  bool open_ = false;
  bool syncing_ = false;
  QString chosenName_;
  QString chosenNumber_;
};
