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
// True when a row was made. cancelled, when given, tells whether the user
// cancelled the editor or the import. An APF file is taken as it is, after
// a check that every page is whole.
bool NewFaxFromFile(TXbDataTable& faxTable, const QString& file, QWidget* mainWindow, bool* cancelled = nullptr);

// True when the file's name ends as a document New Fax from File takes
// (PDF, PostScript, TIFF, PNG/JPEG/BMP/GIF, text, APF).
bool IsNewFaxDocumentName(const QString& file);
