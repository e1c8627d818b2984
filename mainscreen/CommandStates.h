#pragma once
// Which commands of the main window are usable, from the state of the two
// fax lists. Kept apart from the window so the rules can be read and tested
// on their own.

enum class TFaxTab { Outgoing = 0, Received = 1 };

// What the window knows of a list: a list "has a row" when its table has a
// current row (the record number is not past the last row).
struct TListState {
  bool hasRow = false;
  bool rowHasCover = false;  // outgoing only: FAXCOVER is not empty
  bool rowArchived = false;
};

struct TCommandStates {
  bool New = false, AddCover = false, Edit = false, Clone = false, Delete = false, Archive = false;
  bool Forward = false, Print = false, Send = false, View = false, Sort = false;
  bool ArchiveReadsUnarchive = false;
  bool OutgoingListEnabled = false, ReceivedListEnabled = false;
};

TCommandStates ComputeCommandStates(TFaxTab tab, const TListState& outgoing, const TListState& received);
