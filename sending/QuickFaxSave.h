#pragma once
// Saving a cover sheet: the cover image and its side file written into the
// SEND folder, then the outgoing row that names them.
//
// The files are written under temporary names beside their targets and
// renamed into place only when both are complete, so that a failure (disk
// full, folder gone) never leaves a half-written image under a fax name nor
// replaces a good cover with a broken one. The row is stored only after the
// files are in place; a new cover whose row cannot be stored is removed again.

#include <QString>

#include <cstdint>
#include <filesystem>
#include <string>

#include "cover/CoverRenderer.h"
#include "cover/core/SideFile.h"

class TXbDataTable;

// What one cover sheet consists of. Table texts are Windows-1252 bytes; the
// cover values and the message are the same texts as UTF-8 for drawing.
struct TQuickFaxSheet {
  std::string Recipient, Phone, Subject, Notes, Codes;
  CoverFieldValues Values;
  std::string Message;
  TCoverSideFile Side;
};

struct TCoverWriteResult {
  bool Ok = false;
  QString Error;  // what went wrong, for the user
};

// Renders the sheet's cover from `fctFile` into `target` and writes the side
// file next to it. May run on any thread.
[[nodiscard]] TCoverWriteResult WriteCoverFiles(const std::filesystem::path& target,
                                                const std::filesystem::path& fctFile, const TQuickFaxSheet& sheet);

// Stores the sheet in the outgoing table: a new row when `append`, else the
// row with record number `recno`, its FAXDOC kept. FAXCOVER := coverName.
[[nodiscard]] bool StoreQuickFaxRow(TXbDataTable& table, bool append, uint32_t recno, const TQuickFaxSheet& sheet,
                                    const std::string& coverName);
