#pragma once
// The fax log cleanup without its window: deleting one fax with its image
// files, deleting every fax a rule holds for, and putting right what a crash
// in the middle of that left behind.
//
// Rules are predicates on the row's fields, never xBase text with the user's
// words pasted in: a name holding quotes stays a name, and a date is a day,
// not two-digit text the engine would have to place in a century.
//
// A fax goes in two steps: its row is flagged deleted (and so disappears from
// every tag, filter and list), then its files are removed. A crash between the
// two leaves files that no live row names; SweepOrphanFaxFiles removes those
// at the next start, touching only names this program makes.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "store/core/FaxTables.h"
#include "store/core/Xbase.h"

enum class TFaxKind { Outgoing, Received };

// When a bulk rule removes the files of the rows it flagged: before it
// returns, or on a thread of its own while the caller goes on (the files are
// then gone by the next call of the cleanup's, FinishFileRemoval, or its end).
enum class TFileRemoval { BeforeReturn, Background };

// True when the row (the table's current row) is to be deleted.
using TRowPredicate = std::function<bool(const TXbTable& row)>;

struct TCleanupRule {
  TRowPredicate matches;  // empty: the rule deletes nothing
  bool Valid() const { return static_cast<bool>(matches); }
};

// Which text field a condition looks at.
enum class TConditionField { From, Recipient, Phone };

// "Delete All Before A Particular Date": the date field (DATESENT or DATEREC)
// is set and lies before `day` (a Julian day number, four-digit year).
TCleanupRule RuleBeforeDate(TFaxKind kind, int32_t day);
TCleanupRule RuleBeforeDate(TFaxKind kind, int year, int month, int day);
// "Delete All Archived Faxes".
TCleanupRule RuleArchived();
// "Delete All that Have Been Sent" / "... NOT Been Sent" (outgoing only).
TCleanupRule RuleSent();
TCleanupRule RuleNotSent();
// "Delete All Faxes".
TCleanupRule RuleAll();
// "Delete All Faxes Meeting Certain Conditions": the field's text, upper
// case without surrounding blanks, equals (exact) or contains the value,
// upper case without surrounding blanks. A blank value gives an invalid rule:
// a partial match on nothing would hold for every row.
TCleanupRule RuleMatching(TConditionField field, const std::string& value, bool exact);

class TFaxLogCleanup {
 public:
  // The tables stay owned by the caller and open throughout. Outgoing rows
  // name files in `sendFolder`, received rows in `receiveFolder`.
  TFaxLogCleanup(TXbDataTable& outgoing, TXbDataTable& received, std::filesystem::path sendFolder,
                 std::filesystem::path receiveFolder);
  // Waits until every file of the rows deleted is gone.
  ~TFaxLogCleanup();
  TFaxLogCleanup(const TFaxLogCleanup&) = delete;
  TFaxLogCleanup& operator=(const TFaxLogCleanup&) = delete;

  // Deletes the current row of the table and its files. False when there is
  // no current row, it is already deleted, or the row could not be flagged
  // (then nothing is removed).
  bool DeleteCurrentFax(TFaxKind kind);
  // Deletes every live row the rule holds for, in natural order, whatever
  // the table's filter, order and the engine's Deleted setting; the order and
  // current row are put back afterwards (the next live row when the current
  // one went). Every row is flagged before any of the files go. Returns the
  // number of rows deleted.
  uint32_t DeleteWhere(TFaxKind kind, const TCleanupRule& rule,
                       TFileRemoval removal = TFileRemoval::BeforeReturn);
  // Waits for files a rule left to the background.
  void FinishFileRemoval();

  // Something was deleted: the caller rebuilds the indexes after closing.
  bool SomethingDeleted() const { return somethingDeleted_; }

  // Called after every row flagged, before its files go (tests use it to
  // stop half-way).
  std::function<void(uint32_t recno)> OnRowFlagged;

 private:
  TXbDataTable& Table(TFaxKind kind) { return kind == TFaxKind::Outgoing ? outgoing_ : received_; }
  // Flags the current row of `t` and removes its files.
  bool DeleteRow(TFaxKind kind, TXbTable& t);

  TXbDataTable& outgoing_;
  TXbDataTable& received_;
  std::filesystem::path sendFolder_, receiveFolder_;
  bool somethingDeleted_ = false;
  std::thread removing_;  // the files of a rule's rows, when left to the background
};

// The image files a row names (file names in its folder: SEND for outgoing
// rows, Receive for received ones). Names that are not plain file names (a
// folder part, "." or "..") are left out: a table from elsewhere must not
// reach outside the folder.
std::vector<std::string> OutgoingFaxFiles(const TXbTable& row);
std::vector<std::string> ReceivedFaxFiles(const TXbTable& row);

// Names this program gives image files: in SEND, "FAX", "COV" or "FWD" with
// five digits and ".APF", and the cover side files of the COV ones (".FCD");
// in Receive, "FAX" with four digits and ".APF". Any letter case.
bool IsOwnSendFileName(const std::string& name);
bool IsOwnReceiveFileName(const std::string& name);

struct TSweepResult {
  uint32_t removed = 0;
  bool tablesRead = false;  // false: a table was not open, nothing was removed
};

// Removes the program's own image files that no live row names: what a crash
// between flagging a row and removing its files left behind. Any other file
// stays, so do images with a printer-driver job description beside them
// (".ZRD" waiting, ".ZRC" claimed), and files changed less than `minimumAge` ago (a job still being
// written). For the start, before jobs are taken.
TSweepResult SweepOrphanFaxFiles(TXbDataTable& outgoing, TXbDataTable& received,
                                 const std::filesystem::path& sendFolder, const std::filesystem::path& receiveFolder,
                                 std::chrono::seconds minimumAge = std::chrono::minutes(10));

// The index rebuild of one open table without its window: close the
// indexes, delete the .CDX, pack (rows flagged deleted go for good), build
// `tags` in order and put the order back. False when a step failed.
bool RebuildTableIndexes(TXbDataTable& table, TXbase& xbase, const std::vector<TTagDef>& tags);
