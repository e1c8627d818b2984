// Expression texts from anywhere (filters and conditions typed or stored):
// compile against the fields of a fax table and evaluate on a record.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "xbase/Expr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<TDbfField> fields = {{"SUBJECT", 'C', 12, 0, 1}, {"DATESENT", 'D', 8, 0, 13},
                                                {"TIMESENT", 'C', 5, 0, 21}, {"PAGES", 'N', 3, 0, 26},
                                                {"ARCHIVED", 'L', 1, 0, 29}};
  static const char record[] = " Smith Fax   1998120714:05  7T";
  TXbSettings settings;
  settings.today = XbJulian(2026, 12, 8);
  settings.exact = (size & 1) != 0;
  settings.century = (size & 2) != 0;
  TXbExpr e;
  if (!TXbExpr::Compile(std::string(reinterpret_cast<const char*>(data), size), fields, e)) return 0;
  TXbValue v;
  const TXbEvalContext c{reinterpret_cast<const uint8_t*>(record), 1, &settings};
  e.Eval(c, v);
  e.EvalLogical(c);
  return 0;
}
