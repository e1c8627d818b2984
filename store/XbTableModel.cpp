#include "store/XbTableModel.h"

#include <QColor>

#include "store/StoreText.h"
#include "store/TableLog.h"

namespace {

// Puts the table's cursor back where a look at other rows found it. Going
// back to a row that was there a moment ago fails only when the file can no
// longer be read; the next move of the user's then starts from where the
// look left the cursor.
void RestoreCursor(TXbTable& t, bool wasEof, uint32_t current) {
  XbStatus st = wasEof ? t.GoBottom() : t.Go(current);
  if (st && wasEof) st = t.Skip(1);
  LogTableFailure(st, "list");
}

}  // namespace

TXbTableModel::TXbTableModel(TXbDataTable& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
  listener_ = table_.AddDataListener([this] { Refresh(); });
}

TXbTableModel::~TXbTableModel() { table_.RemoveDataListener(listener_); }

void TXbTableModel::SetColumns(std::vector<TXbColumn> columns) {
  beginResetModel();
  columns_ = std::move(columns);
  endResetModel();
}

void TXbTableModel::Refresh() {
  beginResetModel();
  rows_.clear();
  atEnd_ = false;
  recordNo_ = 0;
  endResetModel();
}

int TXbTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TXbTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

bool TXbTableModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !atEnd_ && !fetching_ && table_.Active();
}

void TXbTableModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid() || atEnd_ || fetching_) return;
  struct Busy {
    bool& b;
    explicit Busy(bool& f) : b(f) { b = true; }
    ~Busy() { b = false; }
  } busy(fetching_);
  TXbTable* t = table_.Table();
  if (!t) {
    atEnd_ = true;
    return;
  }
  // Walk on from the last fetched row, then put the current row back.
  const bool wasEof = t->Eof();
  const uint32_t current = t->RecNo();
  std::vector<uint32_t> more;
  more.reserve(kFetchRows + 1);
  XbStatus st;
  if (rows_.empty()) {
    st = t->GoTop();
    if (st && !t->Eof()) more.push_back(t->RecNo());
  } else {
    st = t->Go(rows_.back());
  }
  // One row beyond the page tells whether the table ends with it.
  if (st && !t->Eof()) st = t->SkipCollecting(kFetchRows + 1 - static_cast<long>(more.size()), more);
  const bool end = !st || t->Eof();
  if (more.size() > static_cast<size_t>(kFetchRows)) more.pop_back();
  RestoreCursor(*t, wasEof, current);
  atEnd_ = end;
  if (more.empty()) return;
  beginInsertRows(QModelIndex(), static_cast<int>(rows_.size()), static_cast<int>(rows_.size() + more.size() - 1));
  rows_.insert(rows_.end(), more.begin(), more.end());
  endInsertRows();
}

int TXbTableModel::RowOfRecord(uint32_t recno) {
  // Each pass looks only at the rows the previous fetch added.
  for (size_t from = 0;;) {
    for (size_t i = from; i < rows_.size(); ++i)
      if (rows_[i] == recno) return static_cast<int>(i);
    from = rows_.size();
    if (!canFetchMore()) return -1;
    fetchMore();
    if (rows_.size() < from) from = 0;  // a listener reset the model meanwhile
  }
}

uint32_t TXbTableModel::RecordAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return 0;
  return rows_[static_cast<size_t>(row)];
}

bool TXbTableModel::ReadRow(uint32_t recno) const {
  if (recordNo_ == recno && !record_.empty()) return true;
  TXbTable* t = table_.Table();
  if (!t) return false;
  if (!t->ReadRow(recno, record_)) return false;
  recordNo_ = recno;
  return true;
}

QVariant TXbTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<size_t>(index.row()) >= rows_.size() ||
      static_cast<size_t>(index.column()) >= columns_.size())
    return {};
  const uint32_t recno = rows_[static_cast<size_t>(index.row())];
  const TXbColumn& col = columns_[static_cast<size_t>(index.column())];
  TXbTable* t = table_.Table();
  if (!t) return {};
  if (role == Qt::ForegroundRole) {
    if (highlight_.empty() || !ReadRow(recno)) return {};
    const int f = t->FieldIndex(highlight_);
    if (f < 0) return {};
    const TXbValue v = XbReadField(t->Fields()[static_cast<size_t>(f)], record_.data());
    return v.type == XbType::Logical && v.log ? QVariant(QColor(Qt::red)) : QVariant();
  }
  if (role != Qt::DisplayRole) return {};
  if (col.derived) {
    // Derived columns see the row as the current one.
    const bool wasEof = t->Eof();
    const uint32_t current = t->RecNo();
    if (!t->Go(recno)) return {};
    const QString s = col.derived(table_);
    RestoreCursor(*t, wasEof, current);
    return s;
  }
  if (!ReadRow(recno)) return {};
  const int f = t->FieldIndex(col.field);
  if (f < 0) return {};
  const TDbfField& fd = t->Fields()[static_cast<size_t>(f)];
  const TXbValue v = XbReadField(fd, record_.data());
  switch (v.type) {
    case XbType::Character: {
      std::string s = v.str;
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return TableText(s);
    }
    case XbType::Date: return v.date == 0 ? QString() : QString::fromStdString(XbDtoc(v.date, table_.Engine().Settings()));
    case XbType::Numeric: return QString::fromStdString(XbFormatNumber(v.num, fd.width, fd.decimals)).trimmed();
    case XbType::Logical: return v.log ? QStringLiteral("T") : QStringLiteral("F");
  }
  return {};
}

QVariant TXbTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  // The vertical header is the lists' row indicator: it marks rows, it does
  // not number them (a fetched row's position is not its record number).
  if (role != Qt::DisplayRole || orientation == Qt::Vertical) return {};
  if (section < 0 || static_cast<size_t>(section) >= columns_.size()) return {};
  return columns_[static_cast<size_t>(section)].title;
}
