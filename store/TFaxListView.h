#pragma once
// The outgoing and received fax lists: read-only grids over a table model
// with column titles, a row indicator, resizable and movable columns and
// grid lines. A row is one line at a fixed height; archived rows are drawn
// in red, in white when selected.
#include <QStringList>
#include <QTableView>

class TFaxListView : public QTableView {
 public:
  // Until a table is attached the list shows its column titles only.
  TFaxListView(QWidget* parent, const char* name, const QStringList& titles);

 protected:
  void paintEvent(QPaintEvent* e) override;
};
