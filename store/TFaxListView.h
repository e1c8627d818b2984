#pragma once
// The outgoing and received fax lists: read-only grids over a table model
// with column titles, a row indicator, resizable and movable columns and
// grid lines. A row is one line at a fixed height; archived rows are drawn
// in red, in white when selected.
#include <QStringList>
#include <QTableView>

class TXbTable;
class TXbTableModel;

class TFaxListView : public QTableView {
 public:
  // Until a table is attached the list shows its column titles only.
  TFaxListView(QWidget* parent, const char* name, const QStringList& titles);

 protected:
  void paintEvent(QPaintEvent* e) override;
};

// Puts `model` in `grid` (the titles-only model it showed goes) and sizes
// each column from its field's display width in average characters, or the
// column's own width when it has one; at most `maxChars` when that is given.
void AttachFaxModel(QTableView& grid, TXbTableModel& model, const TXbTable* table, int maxChars = 0);
