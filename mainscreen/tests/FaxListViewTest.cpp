// The fax lists as drawn on screen: text colours of ordinary, archived and
// selected rows, grid lines, the row indicator's marker, text cut at the
// cell's edge, and text the list font cannot draw on its own.
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

#include "store/TFaxListView.h"

namespace {

int Count(const QImage& img, const QRect& r, const std::function<bool(QColor)>& want) {
  int n = 0;
  for (int y = std::max(0, r.top()); y <= std::min(img.height() - 1, r.bottom()); ++y)
    for (int x = std::max(0, r.left()); x <= std::min(img.width() - 1, r.right()); ++x) n += want(img.pixelColor(x, y));
  return n;
}

bool Dark(QColor c) { return c.red() < 90 && c.green() < 90 && c.blue() < 90; }
bool Red(QColor c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; }
bool White(QColor c) { return c.red() > 235 && c.green() > 235 && c.blue() > 235; }

class FaxListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model_.setHorizontalHeaderLabels({"Subject", "Notes"});
    for (const char* s : {"MMMMMM", "WWWWWW", "HHHHHH"}) model_.appendRow({new QStandardItem(s), new QStandardItem("")});
    model_.item(1, 0)->setData(QColor(Qt::red), Qt::ForegroundRole);  // an archived row
    view_.setModel(&model_);
    view_.setColumnWidth(0, 120);
    view_.setColumnWidth(1, 120);
    view_.resize(320, 200);
    view_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view_));
  }
  QImage Shot() { return view_.viewport()->grab().toImage(); }
  QRect Cell(int row, int col) { return view_.visualRect(model_.index(row, col)); }

  QStandardItemModel model_;
  TFaxListView view_{nullptr, "FaxGrid", {}};
};

}  // namespace

TEST_F(FaxListViewTest, OrdinaryArchivedAndSelectedRowsAndGridLines) {
  QImage img = Shot();
  EXPECT_GT(Count(img, Cell(0, 0), Dark), 30);
  EXPECT_EQ(Count(img, Cell(0, 0), Red), 0);
  EXPECT_GT(Count(img, Cell(1, 0), Red), 30);
  EXPECT_EQ(Count(img, Cell(1, 0), Dark), 0);
  // The pale yellow background shows around the text.
  EXPECT_EQ(img.pixelColor(Cell(0, 1).center()), QColor(255, 255, 225));

  // Grid lines below and to the right of every cell, in the style's colour.
  QStyleOptionViewItem option;
  option.initFrom(&view_);
  const QColor grid = QColor::fromRgba(static_cast<QRgb>(view_.style()->styleHint(QStyle::SH_Table_GridLineColor, &option, &view_)));
  ASSERT_NE(grid, QColor(255, 255, 225));
  for (int r = 0; r < 3; ++r) {
    const QRect c = Cell(r, 0);
    EXPECT_EQ(img.pixelColor(c.center().x(), c.bottom() + 1), grid) << r;
    EXPECT_EQ(img.pixelColor(c.right() + 1, c.center().y()), grid) << r;
  }
  // No grid below the last row: the rest of the list is empty.
  EXPECT_NE(img.pixelColor(Cell(2, 0).center().x(), Cell(2, 0).bottom() + 10), grid);

  // Selected, the archived row is white on the selection colour.
  view_.setCurrentIndex(model_.index(1, 0));
  img = Shot();
  const QColor highlight = view_.palette().color(QPalette::Active, QPalette::Highlight);
  const QRect selected = Cell(1, 0);
  EXPECT_GT(Count(img, selected, [&](QColor c) { return c == highlight; }), selected.width() * selected.height() / 2);
  EXPECT_GT(Count(img, selected, White), 30);
  EXPECT_EQ(Count(img, selected, Red), 0);
  // The whole row is selected, the other rows are not.
  EXPECT_EQ(img.pixelColor(Cell(1, 1).center()), highlight);
  EXPECT_NE(img.pixelColor(Cell(0, 1).center()), highlight);
}

TEST_F(FaxListViewTest, RowIndicatorMarksTheCurrentRowAndTheScrollBarStays) {
  EXPECT_EQ(view_.verticalHeader()->width(), 12);
  EXPECT_TRUE(view_.verticalScrollBar()->isVisible());  // even with three rows
  view_.setCurrentIndex(model_.index(2, 0));
  const QImage header = view_.verticalHeader()->grab().toImage();
  auto section = [&](int row) {
    const QHeaderView* h = view_.verticalHeader();
    return QRect(0, h->sectionViewportPosition(row), h->width() - 1, h->sectionSize(row) - 1);
  };
  const QColor mark = view_.palette().color(QPalette::ButtonText);
  auto marker = [&](QColor c) { return c == mark; };
  EXPECT_GT(Count(header, section(2), marker), 5);
  EXPECT_EQ(Count(header, section(0), marker), 0);
  EXPECT_EQ(Count(header, section(1), marker), 0);
}

TEST_F(FaxListViewTest, LongTextStopsAtTheCellEdgeAndOtherScriptsStillShow) {
  model_.item(0, 0)->setText(QString(200, QChar('M')));
  model_.item(2, 0)->setText(QString::fromUtf8("\u65e5\u672c\u8a9e \u03a9\u03bc\u03ad\u03b3\u03b1"));
  const QImage img = Shot();
  EXPECT_GT(Count(img, Cell(0, 0), Dark), 200);
  EXPECT_EQ(Count(img, Cell(0, 1), Dark), 0);  // nothing spills into the next cell
  EXPECT_GT(Count(img, Cell(2, 0), Dark), 10);
}
