#include "store/core/Cleanup.h"

#include <cctype>
#include <cerrno>
#include <map>
#include <set>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "shell/core/Folders.h"
#include "xbase/Value.h"

namespace fs = std::filesystem;

namespace {

std::string TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

bool FieldBool(const TXbTable& row, int field) {
  TXbValue v;
  return field >= 0 && row.GetValue(field, v) && v.type == XbType::Logical && v.log;
}

int32_t FieldDate(const TXbTable& row, int field) {
  TXbValue v;
  if (field < 0 || !row.GetValue(field, v) || v.type != XbType::Date) return 0;
  return v.date;
}

std::string FieldText(const TXbTable& row, std::string_view field) { return row.GetTrimString(field); }

// A rule's predicate looks its field up once per table it meets, not per row.
class FieldIndexCache {
 public:
  explicit FieldIndexCache(std::string field) : field_(std::move(field)) {}
  int Of(const TXbTable& row) {
    if (&row != table_) {
      table_ = &row;
      index_ = row.FieldIndex(field_);
    }
    return index_;
  }

 private:
  std::string field_;
  const TXbTable* table_ = nullptr;
  int index_ = -1;
};

const char* DateField(TFaxKind kind) { return kind == TFaxKind::Outgoing ? "DATESENT" : "DATEREC"; }

// A plain file name: no folder part, not "." or "..".
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

void RemoveFile(const fs::path& p) {
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(p, ec))) return;
  fs::remove(p, ec);
}

bool DigitsAt(const std::string& s, size_t from, size_t count) {
  if (s.size() < from + count) return false;
  for (size_t i = from; i < from + count; ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

}  // namespace

// ------------------------------------------------------------------ rules

TCleanupRule RuleBeforeDate(TFaxKind kind, int32_t day) {
  if (day <= 0) return {};
  return {[field = FieldIndexCache(DateField(kind)), day](const TXbTable& row) mutable {
    const int32_t d = FieldDate(row, field.Of(row));
    return d != 0 && d < day;
  }};
}

TCleanupRule RuleBeforeDate(TFaxKind kind, int year, int month, int day) {
  return RuleBeforeDate(kind, XbJulian(year, month, day));
}

TCleanupRule RuleArchived() {
  return {[field = FieldIndexCache("ARCHIVED")](const TXbTable& row) mutable { return FieldBool(row, field.Of(row)); }};
}

TCleanupRule RuleSent() {
  return {[field = FieldIndexCache("DATESENT")](const TXbTable& row) mutable {
    return FieldDate(row, field.Of(row)) != 0;
  }};
}

TCleanupRule RuleNotSent() {
  return {[field = FieldIndexCache("DATESENT")](const TXbTable& row) mutable {
    return FieldDate(row, field.Of(row)) == 0;
  }};
}

TCleanupRule RuleAll() {
  return {[](const TXbTable&) { return true; }};
}

TCleanupRule RuleMatching(TConditionField field, const std::string& value, bool exact) {
  std::string v = XbUpper(TrimBlanks(value));
  if (v.empty()) return {};
  const char* name = field == TConditionField::From        ? "FROM"
                     : field == TConditionField::Recipient ? "RECIPIENT"
                                                           : "PHONE";
  return {[name, v = std::move(v), exact](const TXbTable& row) {
    const std::string text = XbUpper(TrimBlanks(row.GetString(name)));
    return exact ? text == v : text.find(v) != std::string::npos;
  }};
}

// ------------------------------------------------------------------ files of a row

std::vector<std::string> OutgoingFaxFiles(const TXbTable& row) {
  std::vector<std::string> files;
  const std::string doc = FieldText(row, "FAXDOC");
  if (PlainName(doc)) files.push_back(doc);
  const std::string cover = FieldText(row, "FAXCOVER");
  if (PlainName(cover)) {
    files.push_back(cover);
    const std::string side = fs::path(cover).replace_extension(".fcd").string();
    if (PlainName(side)) files.push_back(side);
  }
  return files;
}

std::vector<std::string> ReceivedFaxFiles(const TXbTable& row) {
  std::vector<std::string> files;
  const std::string file = FieldText(row, "FAXFILE");
  if (PlainName(file)) files.push_back(file);
  return files;
}

// Removes files of one folder for a bulk run. Most names are spelled as on
// disk and go at once; for one that is not found the folder's entries are
// read, once for the whole run, and a spelling in another letter case is
// removed instead. Only files and links go, never a folder.
class TFolderIndex {
 public:
  // The folder is opened once: each name is then looked up in it alone, not
  // along the whole path again.
  explicit TFolderIndex(fs::path folder)
      : folder_(std::move(folder)), dir_(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~TFolderIndex() {
    if (dir_ >= 0) ::close(dir_);
  }
  TFolderIndex(const TFolderIndex&) = delete;
  TFolderIndex& operator=(const TFolderIndex&) = delete;
  void Remove(const std::string& name) {
    if (dir_ < 0) return;  // no folder, no files
    if (::unlinkat(dir_, name.c_str(), 0) == 0 || errno != ENOENT) return;
    Read();
    const auto it = byUpper_.find(XbUpper(name));
    if (it != byUpper_.end() && it->second != name) (void)::unlinkat(dir_, it->second.c_str(), 0);
  }

 private:
  void Read() {
    if (read_) return;
    read_ = true;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      byUpper_.emplace(XbUpper(name), name);
    }
  }

  fs::path folder_;
  int dir_ = -1;
  bool read_ = false;
  std::map<std::string, std::string> byUpper_;
};

// ------------------------------------------------------------------ deleting

TFaxLogCleanup::TFaxLogCleanup(TXbDataTable& outgoing, TXbDataTable& received, fs::path sendFolder,
                               fs::path receiveFolder)
    : outgoing_(outgoing),
      received_(received),
      sendFolder_(std::move(sendFolder)),
      receiveFolder_(std::move(receiveFolder)) {}

TFaxLogCleanup::~TFaxLogCleanup() { FinishFileRemoval(); }

void TFaxLogCleanup::FinishFileRemoval() {
  if (removing_.joinable()) removing_.join();
}

bool TFaxLogCleanup::DeleteRow(TFaxKind kind, TXbTable& t) {
  if (t.Eof() || t.Deleted()) return false;
  // The names are read before the row changes; the row is flagged before the
  // files go, so a crash in between leaves orphan files, never a row naming
  // files that are gone.
  const std::vector<std::string> files = kind == TFaxKind::Outgoing ? OutgoingFaxFiles(t) : ReceivedFaxFiles(t);
  if (!t.Delete()) return false;
  somethingDeleted_ = true;
  if (OnRowFlagged) OnRowFlagged(t.RecNo());
  const fs::path& dir = kind == TFaxKind::Outgoing ? sendFolder_ : receiveFolder_;
  for (const std::string& f : files) RemoveFile(ResolveNoCase(dir, f));
  return true;
}

bool TFaxLogCleanup::DeleteCurrentFax(TFaxKind kind) {
  FinishFileRemoval();
  TXbDataTable& table = Table(kind);
  TXbTable* t = table.Table();
  if (!t) return false;
  const bool done = DeleteRow(kind, *t);
  if (done) {
    // The deleted row is no longer visible: settle on the next one.
    if (t->Skip(1) && t->Eof()) (void)t->GoBottom();
    table.DataChanged();
  }
  return done;
}

uint32_t TFaxLogCleanup::DeleteWhere(TFaxKind kind, const TCleanupRule& rule, TFileRemoval removal) {
  FinishFileRemoval();
  TXbDataTable& table = Table(kind);
  TXbTable* t = table.Table();
  if (!t || !rule.Valid()) return 0;
  const uint32_t saved = t->RecNo();
  const bool wasOnRow = !t->Eof();
  // Every row is reached by its number: filter, order and the Deleted
  // setting do not hide any, and rows flagged earlier are skipped. The names
  // of a row's files are read before the row changes.
  // Flagging needs every tag's keys in memory: they are read meanwhile.
  t->PrefetchKeys();
  std::vector<uint32_t> doomed;
  std::vector<std::vector<std::string>> files;
  const uint32_t rows = t->RecCount();
  for (uint32_t recno = 1; recno <= rows; ++recno) {
    if (!t->Go(recno)) continue;
    if (t->Deleted() || !rule.matches(*t)) continue;
    doomed.push_back(recno);
    files.push_back(kind == TFaxKind::Outgoing ? OutgoingFaxFiles(*t) : ReceivedFaxFiles(*t));
  }
  // Every row is flagged before any file goes: a crash in between leaves
  // orphan files for the sweep, never a row naming files that are gone.
  std::vector<bool> flagged(doomed.size(), false);
  size_t next = 0;
  const XbStatus st = t->DeleteRecords(doomed, [&](uint32_t recno) {
    while (next < doomed.size() && doomed[next] != recno) ++next;
    if (next < doomed.size()) flagged[next] = true;
    somethingDeleted_ = true;
    if (OnRowFlagged) OnRowFlagged(recno);
  });
  (void)st;  // a row that could not be flagged keeps its files; the count says how many went
  uint32_t count = 0;
  std::vector<std::string> names;
  for (size_t i = 0; i < doomed.size(); ++i) {
    if (!flagged[i]) continue;
    ++count;
    for (std::string& f : files[i]) names.push_back(std::move(f));
  }
  const bool any = !names.empty();
  auto remove = [folder = kind == TFaxKind::Outgoing ? sendFolder_ : receiveFolder_,
                       names = std::move(names)] {
    TFolderIndex index(folder);
    for (const std::string& f : names) index.Remove(f);
  };
  // The files touch neither table: they may go while the caller goes on
  // with the tables (a rebuild, say).
  if (removal == TFileRemoval::Background && any)
    removing_ = std::thread(std::move(remove));
  else
    remove();
  // Back to where the caller was, or the next row when that one went.
  if (wasOnRow && t->Go(saved) && t->Deleted()) {
    if (t->Skip(1) && t->Eof()) (void)t->GoBottom();
  } else if (!wasOnRow) {
    (void)t->GoTop();
  }
  table.DataChanged();
  return count;
}

// ------------------------------------------------------------------ sweep

bool IsOwnSendFileName(const std::string& name) {
  const std::string n = XbUpper(name);
  if (n.size() != 12) return false;
  const std::string prefix = n.substr(0, 3);
  const std::string ext = n.substr(8);
  if (!DigitsAt(n, 3, 5)) return false;
  if (ext == ".APF") return prefix == "FAX" || prefix == "COV" || prefix == "FWD";
  return ext == ".FCD" && prefix == "COV";
}

bool IsOwnReceiveFileName(const std::string& name) {
  const std::string n = XbUpper(name);
  return n.size() == 11 && n.starts_with("FAX") && DigitsAt(n, 3, 4) && n.ends_with(".APF");
}

namespace {

// Upper-case names of the files the live rows of a table name; false when
// the table is not open or a row cannot be read.
bool LiveNames(TXbDataTable& table, const std::vector<const char*>& fields, std::set<std::string>& names) {
  TXbTable* t = table.Table();
  if (!t) return false;
  const uint32_t saved = t->RecNo();
  const bool wasOnRow = !t->Eof();
  bool ok = true;
  for (uint32_t recno = 1; recno <= t->RecCount(); ++recno) {
    if (!t->Go(recno)) {
      ok = false;
      break;
    }
    if (t->Deleted()) continue;
    for (const char* f : fields) {
      const std::string name = XbUpper(FieldText(*t, f));
      if (name.empty()) continue;
      names.insert(name);
      // A cover's side file goes with it.
      if (std::string(f) == "FAXCOVER") names.insert(fs::path(name).replace_extension(".FCD").string());
    }
  }
  if (wasOnRow)
    (void)t->Go(saved);
  else
    (void)t->GoTop();
  return ok;
}

uint32_t SweepFolder(const fs::path& folder, const std::set<std::string>& live, bool (*own)(const std::string&),
                     std::chrono::seconds minimumAge) {
  std::error_code ec;
  // Stems with a printer-driver job description, waiting (.ZRD) or claimed
  // by an intake that stopped before its row was written (.ZRC): the image
  // is the user's job, not an orphan.
  std::set<std::string> jobs;
  std::vector<fs::path> candidates;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string ext = XbUpper(it->path().extension().string());
    if (ext == ".ZRD" || ext == ".ZRC") jobs.insert(XbUpper(it->path().stem().string()));
    if (own(name) && !live.contains(XbUpper(name))) candidates.push_back(it->path());
  }
  const auto now = fs::file_time_type::clock::now();
  uint32_t removed = 0;
  for (const fs::path& p : candidates) {
    std::error_code e;
    if (!fs::is_regular_file(fs::symlink_status(p, e))) continue;
    if (jobs.contains(XbUpper(p.stem().string()))) continue;
    const auto changed = fs::last_write_time(p, e);
    if (e || now - changed < minimumAge) continue;
    if (fs::remove(p, e)) ++removed;
  }
  return removed;
}

}  // namespace

TSweepResult SweepOrphanFaxFiles(TXbDataTable& outgoing, TXbDataTable& received, const fs::path& sendFolder,
                                 const fs::path& receiveFolder, std::chrono::seconds minimumAge) {
  TSweepResult result;
  std::set<std::string> liveSend, liveReceive;
  // Without the whole of both tables no file can be called an orphan.
  if (!LiveNames(outgoing, {"FAXDOC", "FAXCOVER"}, liveSend) || !LiveNames(received, {"FAXFILE"}, liveReceive))
    return result;
  result.tablesRead = true;
  result.removed += SweepFolder(sendFolder, liveSend, IsOwnSendFileName, minimumAge);
  result.removed += SweepFolder(receiveFolder, liveReceive, IsOwnReceiveFileName, minimumAge);
  return result;
}

bool RebuildTableIndexes(TXbDataTable& table, TXbase& xbase, const std::vector<TTagDef>& tags) {
  TXbTable* t = table.Table();
  if (!t) return false;
  const std::string order = table.IndexName();
  const fs::path cdx = t->CdxPath();
  // The file is deleted next: writing the keys held in memory first would
  // only cost time.
  bool ok = xbase.DropIndexes();
  std::error_code ec;
  fs::remove(cdx, ec);
  ok = xbase.Pack() && ok;
  ok = BuildTags(xbase, tags, false) && ok;
  if (!order.empty()) ok = table.SetIndexName(order).ok() && ok;
  return ok;
}
