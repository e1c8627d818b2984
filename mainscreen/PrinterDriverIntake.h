#pragma once
// The hand-over with the fax printer driver: CVPD.INI tells the driver where
// to leave its jobs, and each job it leaves in the SEND folder (NAME.APF with
// its description NAME.ZRD) becomes a row of the outgoing table.

#include <functional>
#include <optional>
#include <string>

class TXbTable;

// The folder that holds CVPD.INI: $XDG_CONFIG_HOME/corvane/ (by default
// ~/.config/corvane/).
std::string PrinterDriverConfigFolder();

// Writes section [Location]: CVOutPath = the SEND folder, CVExecutable = the
// running program. Errors are ignored (the driver then keeps its old file).
void WriteZRTPDINI();

// The three lines of a job description; missing lines read as empty.
struct TJobDescription {
  std::string faxNumber;
  std::string recipient;
  std::string subject;
};
TJobDescription ReadJobDescription(const std::string& zrdFile);

// The outgoing table as the intake sees it. `append` appends and posts one
// row (FAXDOC, RECIPIENT, SUBJECT, PHONE): false when the row could not be
// stored; once it returns true the row must be in the table file.
// `hasRow` tells whether a row not marked deleted names the image (FAXDOC,
// letter case ignored); nullopt when the table could not be read.
struct TJobTable {
  std::function<bool(const std::string& faxDoc, const TJobDescription& job)> append;
  std::function<std::optional<bool>(const std::string& faxDoc)> hasRow;
};

// `hasRow` over an open outgoing table, newest row first.
std::optional<bool> TableHasFaxDoc(TXbTable& table, const std::string& faxDoc);

// Takes one job given its image file: nothing when the image is missing;
// otherwise appends the row and deletes the description. A failed append
// leaves the description for the next attempt. True when a row was added.
bool ProcessPDFaxFile(const std::string& imageFile, const TJobTable& table);

// Takes every waiting job (every *.zrd in the SEND folder, in any letter
// case, in the order the folder lists them), after finishing any job an
// interrupted run had begun. True when any description file was found.
bool ProcessExtraPDFaxFiles(const TJobTable& table);
