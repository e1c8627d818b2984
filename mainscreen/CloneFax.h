#pragma once
// Copies an outgoing fax into a new row with copies of its image files.

#include <string>

#include "store/core/Xbase.h"

// Appends a row to `table` (the outgoing table): the body at `documentPath`
// is copied to the next free FAX name of the SEND folder; the cover at
// `coverPath` with its ".fcd" side file to the next free COV name (a cover
// without side file is not cloned). RECIPIENT and PHONE are taken over,
// SUBJECT becomes "[clone]" + subject; everything else stays empty.
// False when the row could not be stored.
bool CloneAPFFax(TXbDataTable& table, const std::string& documentPath, const std::string& coverPath,
                 const std::string& phone, const std::string& recipient, const std::string& subject);

// The cover's side file: the same name with the extension ".fcd".
std::string CoverSideFile(const std::string& coverPath);
