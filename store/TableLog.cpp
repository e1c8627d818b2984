#include "store/TableLog.h"

#include <QtGlobal>

void LogTableFailure(const XbStatus& st, const char* what) {
  if (!st) qWarning("%s: %s", what, st.Message().c_str());
}
