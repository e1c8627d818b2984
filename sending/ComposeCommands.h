#pragma once
// The main window's commands that make and change outgoing faxes: New and
// Add Cover (the cover sheet editor), Edit of an outgoing fax, and Forward
// of a received fax. The caller refuses them in receive mode and refreshes
// its lists afterwards.

class QWidget;
class TXbDataTable;

// New (`isNew`) or the cover of the current row (Add Cover, Edit of a fax
// with a cover) in the cover sheet editor. True when a cover was saved.
bool EditAddQuickFax(TXbDataTable& faxTable, bool isNew, QWidget* mainWindow);

// The fax information editor over the current outgoing row.
bool EditAPFFax(TXbDataTable& faxTable, QWidget* mainWindow);

// Forward of the current received row: asks, takes the recipient in the fax
// information editor, copies the received image to the next free FWD name
// of the SEND folder and appends an outgoing row for it. True when the row
// was made.
bool ForwardReceivedFax(const TXbDataTable& recTable, TXbDataTable& faxTable, QWidget* mainWindow);
