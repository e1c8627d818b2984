#include "store/core/Xbase.h"

#include <algorithm>

// ------------------------------------------------------------------ TXbDataTable

XbStatus TXbDataTable::Open() {
  if (Active()) return {};
  TXbTable::OpenOptions o;
  o.mode = exclusive_ ? XbOpenMode::Exclusive : XbOpenMode::Shared;
  o.access = readOnly_ ? XbAccess::ReadOnly : XbAccess::ReadWrite;
  const int previous = engine_.Current();
  int area = 0;
  XbStatus st = engine_.Use(FilePath(), o, area);
  // The area current before stays open, so selecting it again cannot fail.
  static_cast<void>(engine_.Select(previous));
  if (!st) return st;
  area_ = area;
  if (OnActiveChanged) OnActiveChanged(true);
  DataChanged();
  return {};
}

XbStatus TXbDataTable::Close() {
  if (!Active()) return {};
  if (OnActiveChanged) OnActiveChanged(false);
  const int previous = engine_.Current();
  XbStatus st = engine_.Close(area_);
  if (previous != area_) static_cast<void>(engine_.Select(previous));  // still open: cannot fail
  area_ = 0;
  DataChanged();
  return st;
}

int TXbDataTable::AddDataListener(std::function<void()> listener) {
  listeners_.emplace_back(nextListener_, std::move(listener));
  return nextListener_++;
}

void TXbDataTable::RemoveDataListener(int id) {
  std::erase_if(listeners_, [id](const auto& l) { return l.first == id; });
}

void TXbDataTable::DataChanged() {
  const auto listeners = listeners_;  // a listener may remove itself
  for (const auto& l : listeners) l.second();
}

TXbTable* TXbDataTable::Table() { return area_ ? engine_.Table(area_) : nullptr; }
const TXbTable* TXbDataTable::Table() const { return area_ ? engine_.Table(area_) : nullptr; }

namespace {
XbStatus NotOpen() { return XbFail(XbError::NoWorkArea, "table is not open"); }
}  // namespace

XbStatus TXbDataTable::First() {
  TXbTable* t = Table();
  return t ? t->GoTop() : NotOpen();
}
XbStatus TXbDataTable::Last() {
  TXbTable* t = Table();
  return t ? t->GoBottom() : NotOpen();
}
XbStatus TXbDataTable::Next() {
  TXbTable* t = Table();
  return t ? t->Skip(1) : NotOpen();
}
XbStatus TXbDataTable::Prior() {
  TXbTable* t = Table();
  return t ? t->Skip(-1) : NotOpen();
}
bool TXbDataTable::Eof() const {
  const TXbTable* t = Table();
  return !t || t->Eof();
}
bool TXbDataTable::Bof() const {
  const TXbTable* t = Table();
  return !t || t->Bof();
}
uint32_t TXbDataTable::RecNo() const {
  const TXbTable* t = Table();
  return t ? t->RecNo() : 1;
}
uint32_t TXbDataTable::RecordCount() const {
  const TXbTable* t = Table();
  return t ? t->RecCount() : 0;
}

std::string TXbDataTable::FieldText(std::string_view field) const {
  const TXbTable* t = Table();
  return t ? t->GetTrimString(field) : std::string();
}

TXbValue TXbDataTable::FieldValue(std::string_view field) const {
  TXbValue v;
  const TXbTable* t = Table();
  // No table, no row or no such field: the value is empty.
  if (!t || !t->GetValue(field, v)) return TXbValue();
  return v;
}

bool TXbDataTable::FieldBool(std::string_view field) const {
  const TXbValue v = FieldValue(field);
  return v.type == XbType::Logical && v.log;
}

XbStatus TXbDataTable::SetFieldText(std::string_view field, const std::string& text) {
  TXbTable* t = Table();
  if (!t) return NotOpen();
  return t->SetValue(field, TXbValue::Char(text));
}

XbStatus TXbDataTable::SetFieldValue(std::string_view field, const TXbValue& v) {
  TXbTable* t = Table();
  if (!t) return NotOpen();
  return t->SetValue(field, v);
}

XbStatus TXbDataTable::Append() {
  TXbTable* t = Table();
  return t ? t->AppendBlank() : NotOpen();
}

XbStatus TXbDataTable::Post() {
  TXbTable* t = Table();
  if (!t) return NotOpen();
  XbStatus st = t->Post();
  if (st) DataChanged();
  return st;
}

void TXbDataTable::Cancel() {
  if (TXbTable* t = Table()) t->Cancel();
}

XbStatus TXbDataTable::Delete() {
  TXbTable* t = Table();
  if (!t) return NotOpen();
  XbStatus st = t->Delete();
  if (!st) return st;
  // The deleted row is no longer visible: move on as a data set does. The
  // row stays deleted when the move fails; the failure is still reported.
  st = t->Skip(1);
  if (st && t->Eof()) st = t->GoBottom();
  DataChanged();
  return st;
}

XbStatus TXbDataTable::SetIndexName(const std::string& tag) {
  TXbTable* t = Table();
  if (!t) return NotOpen();
  const int order = tag.empty() ? 0 : t->TagNumber(tag);
  if (!tag.empty() && order == 0) return XbFail(XbError::NoSuchTag, tag);
  XbStatus st = t->SetOrder(order);
  DataChanged();
  return st;
}

std::string TXbDataTable::IndexName() const {
  const TXbTable* t = Table();
  return t ? t->TagName(t->Order()) : std::string();
}

// ------------------------------------------------------------------ TXbase

class TXbase::AreaScope {
 public:
  // Made only while the table's area is open, and nothing inside closes an
  // area, so neither selection can fail.
  AreaScope(TXbEngine& e, int area) : e_(e), previous_(e.Current()) { static_cast<void>(e_.Select(area)); }
  ~AreaScope() { static_cast<void>(e_.Select(previous_)); }
  AreaScope(const AreaScope&) = delete;
  AreaScope& operator=(const AreaScope&) = delete;

 private:
  TXbEngine& e_;
  int previous_;
};

TXbase::~TXbase() { SetDataSource(nullptr); }

void TXbase::SetDataSource(TXbDataTable* table) {
  if (table_) table_->OnActiveChanged = nullptr;
  table_ = table;
  if (table_) {
    table_->OnActiveChanged = [this](bool active) { TableOpened(active); };
    if (table_->Active()) TableOpened(true);
  }
}

void TXbase::TableOpened(bool active) {
  if (!active) return;
  TXbTable* t = table_->Table();
  if (!t) return;
  if (!filter_.empty()) {
    last_ = t->SetFilter(filter_);
    if (last_) last_ = t->GoTop();
  }
  if (!ExtraIndexes.empty())
    last_ = XbFail(XbError::BadArgument, "only the table's own compound index is supported");
}

TXbTable* TXbase::Ready() {
  TXbTable* t = table_ ? table_->Table() : nullptr;
  if (!t) last_ = XbFail(XbError::NoWorkArea, "table is not open");
  return t;
}

void TXbase::SetFilter(const std::string& filter) {
  filter_ = filter;
  TXbTable* t = table_ ? table_->Table() : nullptr;
  if (!t) return;
  AreaScope scope(engine_, table_->Area());
  last_ = t->SetFilter(filter);
  if (last_) last_ = t->GoTop();
  table_->DataChanged();
}

std::string TXbase::FilterText() {
  TXbTable* t = Ready();
  return t ? t->Filter() : std::string();
}

int TXbase::CreateTable(const std::filesystem::path& fullPath, int fieldCount) {
  createPath_ = fullPath;
  createCount_ = fieldCount;
  createFields_.clear();
  if (fieldCount < 1 || static_cast<size_t>(fieldCount) > kDbfMaxFields) {
    last_ = XbFail(XbError::BadArgument, "field count");
    return 0;
  }
  last_ = {};
  return 1;
}

bool TXbase::AddField(const std::string& name, char type, int width, int decimals) {
  if (createPath_.empty()) return false;
  TDbfField f{XbUpper(name), type, width, decimals, 0};
  last_ = XbCheckFieldDef(f);
  if (!last_) return false;
  createFields_.push_back(std::move(f));
  return true;
}

bool TXbase::FinishCreate() {
  if (createPath_.empty()) return false;
  if (static_cast<int>(createFields_.size()) != createCount_) {
    last_ = XbFail(XbError::BadArgument, "field count does not match the fields added");
  } else {
    last_ = TDbfFile::Create(createPath_, createFields_, true);
  }
  createPath_.clear();
  createFields_.clear();
  return last_.ok();
}

bool TXbase::AddIndexTag(const std::string& tag, const std::string& key, bool descending, const std::string& condition) {
  TXbTable* t = Ready();
  if (!t) return false;
  AreaScope scope(engine_, table_->Area());
  if (progress_) t->SetProgress([this](XbProgressStep s, int p) { progress_(s, p); return true; });
  last_ = t->AddTag(tag, key, condition, descending);
  t->SetProgress(nullptr);
  table_->DataChanged();
  return last_.ok();
}

int TXbase::TagNumber(const std::string& tag) {
  TXbTable* t = Ready();
  return t ? t->TagNumber(tag) : 0;
}

int TXbase::SetOrder(int order) {
  TXbTable* t = Ready();
  if (!t) return 0;
  AreaScope scope(engine_, table_->Area());
  const int previous = t->Order();
  last_ = t->SetOrder(order);
  table_->DataChanged();
  return previous;
}

int TXbase::CurrentOrder() {
  TXbTable* t = Ready();
  return t ? t->Order() : 0;
}

bool TXbase::CloseIndexes() {
  TXbTable* t = Ready();
  if (!t) return false;
  AreaScope scope(engine_, table_->Area());
  last_ = t->CloseIndexes();
  table_->DataChanged();
  return last_.ok();
}

bool TXbase::DropIndexes() {
  TXbTable* t = Ready();
  if (!t) return false;
  AreaScope scope(engine_, table_->Area());
  last_ = t->DropIndexes();
  table_->DataChanged();
  return last_.ok();
}

bool TXbase::Pack() {
  TXbTable* t = Ready();
  if (!t) return false;
  AreaScope scope(engine_, table_->Area());
  if (progress_) t->SetProgress([this](XbProgressStep s, int p) { progress_(s, p); return true; });
  last_ = t->Pack();
  t->SetProgress(nullptr);
  table_->DataChanged();
  return last_.ok();
}

uint32_t TXbase::VisibleRowCount() {
  TXbTable* t = Ready();
  if (!t) return 0;
  uint32_t n = 0;
  last_ = t->VisibleCount(n);
  return n;
}

uint32_t TXbase::RowCount() {
  TXbTable* t = Ready();
  return t ? t->RecCount() : 0;
}

uint32_t TXbase::RecordNumber() {
  TXbTable* t = Ready();
  return t ? t->RecNo() : 1;
}

bool TXbase::GoToRecord(uint32_t recno) {
  TXbTable* t = Ready();
  if (!t) return false;
  last_ = t->Go(recno);
  table_->DataChanged();
  return last_.ok();
}

bool TXbase::IsDeleted() {
  TXbTable* t = Ready();
  return t && t->Deleted();
}

bool TXbase::Evaluate(const std::string& logicalExpr) {
  TXbTable* t = Ready();
  if (!t) return false;
  bool r = false;
  last_ = t->EvalLogical(logicalExpr, r);
  return last_.ok() && r;
}

void TXbase::SetProgress(std::function<void(XbProgressStep, int)> progress) { progress_ = std::move(progress); }

int TXbase::SysProp(int property, int value) {
  const int previous = props_.count(property) ? props_[property] : 0;
  props_[property] = value;
  return previous;
}

// ------------------------------------------------------------------ TXbaseEnv

void TXbaseEnv::SetCentury(bool on) {
  engine_.Settings().century = on;
  if (OnDatePatternChanged) OnDatePatternChanged(DatePattern());
}

void TXbaseEnv::SetDateFormat(int format) {
  engine_.Settings().dateFormat = static_cast<XbDateFormat>(std::clamp(format, 0, 7));
  if (OnDatePatternChanged) OnDatePatternChanged(DatePattern());
}
