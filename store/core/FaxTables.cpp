#include "store/core/FaxTables.h"

#include <cctype>
#include <system_error>

const std::vector<TFieldDef>& OutgoingFields() {
  static const std::vector<TFieldDef> f = {
      {"SUBJECT", 'C', 50, 0},  {"DATESENT", 'D', 8, 0}, {"TIMESENT", 'C', 5, 0},  {"RECIPIENT", 'C', 35, 0},
      {"PHONE", 'C', 25, 0},    {"LASTRESULT", 'C', 100, 0}, {"FAXDOC", 'C', 12, 0}, {"FAXCOVER", 'C', 12, 0},
      {"NOTES", 'C', 50, 0},    {"CODES", 'C', 25, 0},   {"ARCHIVED", 'L', 1, 0},
  };
  return f;
}

const std::vector<TFieldDef>& ReceivedFields() {
  static const std::vector<TFieldDef> f = {
      {"DATEREC", 'D', 8, 0}, {"TIMEREC", 'C', 5, 0}, {"FROM", 'C', 20, 0},     {"PAGES", 'N', 2, 0},
      {"FAXFILE", 'C', 12, 0}, {"NOTES", 'C', 60, 0}, {"ARCHIVED", 'L', 1, 0},
  };
  return f;
}

const std::vector<TFieldDef>& PhoneBookFields() {
  static const std::vector<TFieldDef> f = {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}};
  return f;
}

const std::vector<TTagDef>& OutgoingTags() {
  static const std::vector<TTagDef> t = {
      {"DATESENT", "DTOS(DATESENT)+TIMESENT", true, true}, {"SUBJECT", "UPPER(SUBJECT)", false, true},
      {"RECIPIENT", "UPPER(RECIPIENT)", false, true},      {"CODES", "UPPER(CODES)", false, true},
      {"ARCHIVED", "ARCHIVED", false, true},               {"DATEND", "DTOS(DATESENT)+TIMESENT", false, false},
  };
  return t;
}

const std::vector<TTagDef>& ReceivedTags() {
  static const std::vector<TTagDef> t = {
      {"DATETIME", "DTOS(DATEREC)+TIMEREC", true, true},
      {"FROM", "UPPER(FROM)", true, true},  // Z to A, as the list shows it
      {"ARCHIVED", "ARCHIVED", false, true},
      {"DATEND", "DTOS(DATEREC)+TIMEREC", false, false},
  };
  return t;
}

const std::vector<TTagDef>& PhoneBookTags() {
  static const std::vector<TTagDef> t = {{"NAME", "NAME", false, true}};
  return t;
}

namespace {

bool MakeTable(TXbase& xbase, const std::vector<TFieldDef>& fields) {
  TXbDataTable* table = xbase.DataSource();
  if (!table) return false;
  const std::filesystem::path path = table->FilePath();
  if (xbase.CreateTable(path, static_cast<int>(fields.size())) == 0) return false;
  for (const TFieldDef& f : fields)
    if (!xbase.AddField(f.name, f.type, f.width, f.decimals)) return false;
  if (!xbase.FinishCreate()) return false;
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool CdxExists(const TXbDataTable& table) {
  const TXbTable* t = table.Table();
  if (!t) return false;
  std::error_code ec;
  return std::filesystem::exists(t->CdxPath(), ec);
}

bool OpenTable(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder, const char* file,
               const std::vector<TFieldDef>& fields, const std::vector<TTagDef>& tags, bool exclusive,
               bool (*make)(TXbase&)) {
  table.SetDatabaseName(folder);
  table.SetTableName(file);
  if (xbase.DataSource() != &table) xbase.SetDataSource(&table);
  std::error_code ec;
  if (!std::filesystem::exists(table.FilePath(), ec)) {
    if (!table.Close() || !make(xbase)) return false;
  }
  (void)fields;
  // A table whose last writes failed to finish is not opened again as if
  // nothing had happened.
  if (!table.Close()) return false;
  table.SetExclusive(exclusive);
  if (!table.Open()) return false;
  if (!CdxExists(table) && !BuildTags(xbase, tags, true)) return false;
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Column(std::string s, size_t width) {
  if (s.size() > width) s.resize(width);
  return s;
}

}  // namespace

bool MakeOutgoingTable(TXbase& xbase) { return MakeTable(xbase, OutgoingFields()); }
bool MakeReceivedTable(TXbase& xbase) { return MakeTable(xbase, ReceivedFields()); }
bool MakePhoneBook(TXbase& xbase) { return MakeTable(xbase, PhoneBookFields()); }

bool BuildTags(TXbase& xbase, const std::vector<TTagDef>& tags, bool creationOnly) {
  for (const TTagDef& t : tags) {
    if (creationOnly && !t.atCreation) continue;
    if (!xbase.AddIndexTag(t.tag, t.key, t.descending, kTagCondition)) return false;
  }
  return true;
}

bool OpenOutgoingTable(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder,
                       const std::string& listFilter) {
  if (!OpenTable(table, xbase, folder, kOutgoingFile, OutgoingFields(), OutgoingTags(), true, MakeOutgoingTable))
    return false;
  if (!table.First()) return false;
  xbase.SetFilter(listFilter);
  return xbase.LastStatus().ok();
}

bool OpenReceivedTable(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder) {
  if (!OpenTable(table, xbase, folder, kReceivedFile, ReceivedFields(), ReceivedTags(), true, MakeReceivedTable))
    return false;
  xbase.SetFilter(kTagCondition);
  return xbase.LastStatus().ok();
}

bool OpenPhoneBook(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder, bool exclusive) {
  if (!OpenTable(table, xbase, folder, kPhoneBookFile, PhoneBookFields(), PhoneBookTags(), exclusive, MakePhoneBook))
    return false;
  if (!table.SetIndexName("NAME")) return false;
  xbase.SetFilter(kTagCondition);
  return xbase.LastStatus().ok();
}

std::string CalcFaxFileOutgoing(const TXbDataTable& table, const std::string& programFolder) {
  const std::string doc = table.FieldText("FAXDOC");
  if (doc.find_first_not_of(' ') == std::string::npos) return "(Cover only)";
  return Column(Lower(programFolder + "SEND/" + doc), 100);
}

std::string CalcFaxFileReceived(const TXbDataTable& table, const std::string& programFolder) {
  return Column(Lower(programFolder + "Receive/" + table.FieldText("FAXFILE")), 100);
}

std::string IsDeletedText(const TXbDataTable& table) {
  const TXbTable* t = table.Table();
  return t && !t->Eof() && t->Deleted() ? "Yes" : "No ";
}

std::string IsArchivedText(const TXbDataTable& table) { return table.FieldBool("ARCHIVED") ? "Yes" : "No "; }

bool ParseTimeOfDay(const std::string& text, int& hour, int& minute) {
  size_t i = 0;
  auto skip = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  auto number = [&](int& v, int maxDigits) {
    int n = 0;
    v = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && n < maxDigits) {
      v = v * 10 + (text[i] - '0');
      ++i;
      ++n;
    }
    return n > 0;
  };
  skip();
  int h = 0, m = 0, s = 0;
  if (!number(h, 2) || i >= text.size() || text[i] != ':') return false;
  ++i;
  if (!number(m, 2)) return false;
  if (i < text.size() && text[i] == ':') {
    ++i;
    if (!number(s, 2) || s > 59) return false;
  }
  skip();
  if (i < text.size()) {
    std::string rest;
    for (; i < text.size(); ++i) rest += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    while (!rest.empty() && rest.back() == ' ') rest.pop_back();
    if (rest != "AM" && rest != "PM") return false;
    if (h < 1 || h > 12) return false;
    if (rest == "AM" && h == 12) h = 0;
    if (rest == "PM" && h != 12) h += 12;
  }
  if (h > 23 || m > 59) return false;
  hour = h;
  minute = m;
  return true;
}

std::string RowDateTimeText(const TXbDataTable& table, bool outgoing, const TDateTimeText& fmt) {
  const TXbValue date = table.FieldValue(outgoing ? "DATESENT" : "DATEREC");
  const int32_t jd = date.type == XbType::Date ? date.date : 0;
  if (outgoing && (jd == 0 || fmt.today - jd > 2000)) return "not sent";
  const TXbTable* t = table.Table();
  const std::string rawTime = t ? t->GetString(outgoing ? "TIMESENT" : "TIMEREC") : std::string();
  std::string timeText;
  int h = 0, m = 0;
  if (ParseTimeOfDay(rawTime, h, m)) timeText = fmt.time ? fmt.time(h, m) : std::string();
  else timeText = outgoing ? "???" : rawTime;
  int y = 0, mo = 0, d = 0;
  XbCivil(jd, y, mo, d);
  const std::string dateText = jd == 0 || !fmt.date ? std::string() : fmt.date(y, mo, d);
  return dateText + " at " + timeText;
}
