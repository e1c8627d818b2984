#pragma once
// A read-only Qt table model over a table object. Rows are fetched on demand
// in the table's current order, filter and scope (canFetchMore/fetchMore), so
// a list of 100,000 rows opens as fast as a list of 10: only the rows a view
// asks for are walked and read. The model keeps the record number of every
// fetched row; field values are read when a view paints them.
//
// The model does not move the table's current row except while computing a
// derived column, and puts it back afterwards.

#include <QAbstractTableModel>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "store/core/Xbase.h"

struct TXbColumn {
  QString title;
  std::string field;  // a field of the table, or empty for a derived column
  std::function<QString(const TXbDataTable&)> derived;  // value on the current row
  int widthChars = 0;                                    // display width, 0 = the field's
};

class TXbTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Rows walked per fetch: a screenful and some, so that opening a long list
  // walks about as many rows as a short one shows.
  static constexpr int kFetchRows = 64;

  explicit TXbTableModel(TXbDataTable& table, QObject* parent = nullptr);
  ~TXbTableModel() override;

  void SetColumns(std::vector<TXbColumn> columns);
  const std::vector<TXbColumn>& Columns() const { return columns_; }
  // Forgets the fetched rows; the view fetches again from the top.
  void Refresh();
  // Makes `recno` fetched (when visible) and returns its row, or -1.
  int RowOfRecord(uint32_t recno);
  uint32_t RecordAt(int row) const;
  // Name of a field (upper case) whose true value marks a row to be drawn
  // in red; empty for none. "ARCHIVED" by default.
  void SetHighlightField(const std::string& field) { highlight_ = field; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent = QModelIndex()) const override;
  void fetchMore(const QModelIndex& parent = QModelIndex()) override;

 private:
  bool ReadRow(uint32_t recno) const;

  TXbDataTable& table_;
  std::vector<TXbColumn> columns_;
  std::vector<uint32_t> rows_;
  int listener_ = 0;
  bool atEnd_ = false;
  bool fetching_ = false;  // views may ask again while rows are being inserted
  std::string highlight_ = "ARCHIVED";
  mutable std::vector<uint8_t> record_;
  mutable uint32_t recordNo_ = 0;
};
