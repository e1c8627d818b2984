#pragma once
// The main window's Send command once it has a current outgoing row: which
// of the row's fax files exist, the send window over them, and the outcome
// written back into the row and the settings.

#include <QString>

#include <functional>

class QWidget;
class TXbDataTable;

struct TSendCommand {
  TXbDataTable& table;  // the outgoing table, on the row to send
  QWidget* mainWindow;
  std::function<void(const QString&)> setStatus;  // the main window's status line
};

// Runs the command from the row on: beeps when there is no current row,
// says "Error opening fax file" when neither file exists, otherwise shows the
// send window modally. Each finished call writes LASTRESULT (and DATESENT and
// TIMESENT when sent) into the row at once; closing the window stores the
// number dialled and the dial prefix and suffix settings.
void SendCurrentFax(const TSendCommand& command);

// Stores a send run's result in the row with record number recno:
// LASTRESULT when the result is not blank, DATESENT and TIMESENT when it is
// "Sent" or "OK". False when the row could not be reached or posted.
bool StoreSendResult(TXbDataTable& table, uint32_t recno, const QString& result);
