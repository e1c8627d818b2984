#pragma once
// New Fax from File: a document (PDF, PostScript, TIFF, picture or text)
// becomes an outgoing fax. The fax information editor asks for recipient,
// number and subject; the document is imported into the next free FAX name
// of the SEND folder on a worker thread while a progress window offers
// Cancel; the outgoing row is stored only once the image is complete.

#include <QString>

class QWidget;
class TXbDataTable;

// Asks for the file, then as NewFaxFromFile. True when a row was made.
bool AskNewFaxFromFile(TXbDataTable& faxTable, QWidget* mainWindow);
bool NewFaxFromFile(TXbDataTable& faxTable, const QString& file, QWidget* mainWindow);
