#pragma once
// Table failures a window cannot mend, met while it moves through a list,
// changes a list's order or closes a table, are logged and the window stays
// usable: a move that fails leaves the cursor on a row that exists, and a
// close whose last index write failed leaves an index that is rebuilt at the
// next open. Failures of changes to rows are handled where the change is made.

#include "xbase/XbError.h"

// Logs `st` with what was being done; nothing when it is a success.
void LogTableFailure(const XbStatus& st, const char* what);
