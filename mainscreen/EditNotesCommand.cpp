// The Edit command: on the received tab it edits the notes of the current
// fax.
#include <QApplication>
#include <QLineEdit>

#include "mainscreen/TEditReceiveNotes.h"
#include "mainscreen/TMainScreen.h"
#include "store/StoreText.h"

void TMainScreen::EditButtonClick() {
  if (currentTab_ == TFaxTab::Received) EditReceivedNotes();
  else EditOutgoingFax();
}

void TMainScreen::EditReceivedNotes() {
  if (receivingNow_ || !RecTable.Active() || RecTable.Eof()) {
    QApplication::beep();
    return;
  }
  // A fax stored while the window is open moves the table to its new row.
  const uint32_t recno = RecTable.RecNo();
  TEditReceiveNotes form(this);
  form.SetFrom(TableText(RecTable.FieldText("FROM")));
  form.NotesEdit->setText(TableText(RecTable.FieldText("NOTES")));
  if (form.exec() != QDialog::Accepted) return;
  TXbTable* t = RecTable.Table();
  if (!t || !t->Go(recno)) return;
  // Kept to the field's width in the table's code page, where a character
  // may take more than one letter ("ﬁ" is stored as "fi").
  std::string notes = ToTableText(form.NotesEdit->text());
  if (notes.size() > static_cast<size_t>(TEditReceiveNotes::kNotesWidth))
    notes.resize(static_cast<size_t>(TEditReceiveNotes::kNotesWidth));
  if (!RecTable.SetFieldText("NOTES", notes) || !RecTable.Post()) RecTable.Cancel();
}
