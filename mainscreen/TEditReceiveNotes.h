#pragma once
// The notes of a received fax: who sent it, and one line of the user's own
// notes, as long as the table's NOTES field.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TEditReceiveNotes : public QDialog {
  Q_OBJECT
 public:
  // The width of NOTES in the received table.
  static constexpr int kNotesWidth = 60;

  explicit TEditReceiveNotes(QWidget* parent = nullptr);

  void SetFrom(const QString& from);

  QLabel* FromLabel;
  QLabel* NotesLabel;
  QLineEdit* NotesEdit;
  QPushButton* AcceptButton;
  QPushButton* CancelButton;

 protected:
  void showEvent(QShowEvent* e) override;
};
