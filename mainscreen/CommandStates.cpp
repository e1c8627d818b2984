#include "mainscreen/CommandStates.h"

TCommandStates ComputeCommandStates(TFaxTab tab, const TListState& outgoing, const TListState& received) {
  TCommandStates s;
  if (tab == TFaxTab::Outgoing) {
    s.Sort = s.New = true;
    s.Send = s.Delete = s.Edit = s.View = s.Clone = outgoing.hasRow;
    s.AddCover = outgoing.hasRow && !outgoing.rowHasCover;
    s.ArchiveReadsUnarchive = outgoing.hasRow && outgoing.rowArchived;
  } else {
    s.Sort = true;
    s.Clone = s.New = s.AddCover = false;
    s.Edit = s.Delete = s.View = received.hasRow;
    s.Forward = received.hasRow;
    s.ArchiveReadsUnarchive = received.hasRow && received.rowArchived;
  }
  s.Archive = s.Delete;
  s.Print = s.View;
  s.OutgoingListEnabled = outgoing.hasRow;
  s.ReceivedListEnabled = received.hasRow;
  return s;
}
