#include "store/TFaxListView.h"

#include <QGlyphRun>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <algorithm>
#include <optional>
#include <vector>

#include "store/XbTableModel.h"
#include "xbase/Table.h"

namespace {

// A cell is drawn directly: the selection, then one line of text cut at the
// cell's edge, as data grids do. Going through the style's general item
// layout and line breaking would make a screenful of rows cost several
// times what an empty list costs to paint.
class TArchivedRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) p->fillRect(option.rect, option.palette.brush(QPalette::Highlight));
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;
    const QVariant archived = index.data(Qt::ForegroundRole);
    QColor colour = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (archived.isValid()) colour = selected ? QColor(Qt::white) : archived.value<QColor>();
    const QRect r = option.rect.adjusted(kCellMargin, 0, -kCellMargin, 0);
    const QFontMetrics& fm = option.fontMetrics;
    const QPoint origin(r.left(), r.top() + (r.height() - fm.height()) / 2 + fm.ascent());
    p->save();
    p->setClipRect(r);
    p->setPen(colour);
    p->setFont(option.font);
    if (!DrawPlainText(p, option.font, origin, text, r.width())) p->drawText(origin, text);
    p->restore();
  }

 private:
  static constexpr int kCellMargin = 3;

  // The tables hold single-byte text that the list font covers: such a
  // cell's glyphs are looked up and placed one after the other, without
  // the shaping that scripts needing it would get. False when a character
  // is missing from the font or needs shaping, so that the caller draws
  // the text the general way.
  bool DrawPlainText(QPainter* p, const QFont& font, QPoint origin, const QString& text, int width) const {
    for (const QChar c : text)
      if (c.unicode() > 0xFF || c.unicode() < 0x20) return false;
    if (!rawFor_ || !(font == *rawFor_)) {
      raw_ = QRawFont::fromFont(font);
      rawFor_ = font;
    }
    if (!raw_.isValid()) return false;
    const QList<quint32> glyphs = raw_.glyphIndexesForString(text);
    if (glyphs.contains(0u)) return false;
    const QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    qreal x = 0;
    qsizetype shown = 0;
    // Glyphs past the cell's edge are clipped anyway: stop placing them.
    while (shown < glyphs.size() && x < width) {
      positions.append(QPointF(x, 0));
      x += advances[shown++].x();
    }
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(glyphs.first(shown));
    run.setPositions(positions);
    p->drawGlyphRun(origin, run);
    return true;
  }

  mutable std::optional<QFont> rawFor_;
  mutable QRawFont raw_;
};

// The row indicator: a narrow column of plain cells with a marker at the
// current row. All rows have one height, so it never measures them, and
// it paints a flat cell instead of the style's header section.
class TRowIndicator : public QHeaderView {
 public:
  explicit TRowIndicator(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
    setSectionResizeMode(QHeaderView::Fixed);
    setFixedWidth(kWidth);
  }
  QSize sizeHint() const override { return {kWidth, defaultSectionSize()}; }

 protected:
  QSize sectionSizeFromContents(int) const override { return {kWidth, defaultSectionSize()}; }
  void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override {
    p->fillRect(rect, palette().button());
    p->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), palette().mid());
    p->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), palette().mid());
    if (currentIndex().isValid() && currentIndex().row() == logicalIndex) {
      const QPoint c = rect.center();
      const QPoint marker[3] = {{c.x() - 2, c.y() - 4}, {c.x() + 2, c.y()}, {c.x() - 2, c.y() + 4}};
      p->setPen(Qt::NoPen);
      p->setBrush(palette().color(QPalette::ButtonText));
      p->drawPolygon(marker, 3);
    }
  }

 private:
  static constexpr int kWidth = 12;
};

// First and last of the sections a span of the viewport shows, in visual
// order; -1 when it shows none.
std::pair<int, int> VisualRange(const QHeaderView* h, int from, int to) {
  if (h->count() == 0) return {-1, -1};
  int first = h->visualIndexAt(from);
  int last = h->visualIndexAt(to);
  if (first > last && last >= 0) std::swap(first, last);  // right to left
  if (first < 0) first = 0;
  if (last < 0) last = h->count() - 1;
  return {first, last};
}

}  // namespace

TFaxListView::TFaxListView(QWidget* parent, const char* name, const QStringList& titles) : QTableView(parent) {
  setObjectName(name);
  auto* model = new QStandardItemModel(0, static_cast<int>(titles.size()), this);
  model->setHorizontalHeaderLabels(titles);
  setModel(model);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setShowGrid(true);
  horizontalHeader()->setSectionsMovable(true);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  setVerticalHeader(new TRowIndicator(this));
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setWordWrap(false);
  // The vertical scroll bar is always there, as in the classic data grids:
  // the list keeps its width when rows arrive or go, and filling it at
  // start does not lay the window out again.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setItemDelegate(new TArchivedRowDelegate(this));
  QPalette pal = palette();
  pal.setColor(QPalette::Base, QColor(255, 255, 225));  // pale yellow
  setPalette(pal);
}

// The cells of the rows in view, then the grid lines over them, drawn in one
// pass: the general table painting prepares a style panel, an option and a
// delegate lookup for every cell and strokes each grid line, which costs
// more than the rows' text.
void TFaxListView::paintEvent(QPaintEvent* e) {
  QAbstractItemModel* m = model();
  if (!m || m->rowCount(rootIndex()) == 0) return;
  const QHeaderView* rows = verticalHeader();
  const QHeaderView* cols = horizontalHeader();
  const QRect area = e->rect();
  const auto [firstRow, lastRow] = VisualRange(rows, area.top(), area.bottom());
  const auto [firstCol, lastCol] = VisualRange(cols, area.left(), area.right());
  if (firstRow < 0 || firstCol < 0) return;

  struct TSpan {
    int logical, at, size;
  };
  std::vector<TSpan> columns, lines;
  for (int v = firstCol; v <= lastCol; ++v)
    if (const int c = cols->logicalIndex(v); !cols->isSectionHidden(c))
      columns.push_back({c, cols->sectionViewportPosition(c), cols->sectionSize(c)});
  for (int v = firstRow; v <= lastRow; ++v)
    if (const int r = rows->logicalIndex(v); !rows->isSectionHidden(r))
      lines.push_back({r, rows->sectionViewportPosition(r), rows->sectionSize(r)});
  if (columns.empty() || lines.empty()) return;

  QPainter p(viewport());
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QStyle::State base = isEnabled() ? QStyle::State_Enabled : QStyle::State_None;
  const QItemSelectionModel* selection = selectionModel();
  const int grid = showGrid() ? 1 : 0;
  for (const TSpan& row : lines) {
    for (const TSpan& col : columns) {
      const QModelIndex index = m->index(row.logical, col.logical, rootIndex());
      option.rect = QRect(col.at, row.at, col.size - grid, row.size - grid);
      option.state = base;
      if (selection && selection->isSelected(index)) option.state |= QStyle::State_Selected;
      itemDelegateForIndex(index)->paint(&p, option, index);
    }
  }
  if (!grid) return;
  const QColor colour = QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  const auto [left, right] = std::minmax({columns.front().at, columns.back().at + columns.back().size,
                                          columns.back().at, columns.front().at + columns.front().size});
  const int top = lines.front().at;
  const int bottom = lines.back().at + lines.back().size;
  for (const TSpan& row : lines) p.fillRect(QRect(left, row.at + row.size - 1, right - left, 1), colour);
  for (const TSpan& col : columns) p.fillRect(QRect(col.at + col.size - 1, top, 1, bottom - top), colour);
}

void AttachFaxModel(QTableView& grid, TXbTableModel& model, const TXbTable* table, int maxChars) {
  QAbstractItemModel* placeholder = grid.model();
  grid.setModel(&model);
  if (placeholder != &model) delete placeholder;
  const int charWidth = grid.fontMetrics().averageCharWidth();
  // The header draws the current column's title in bold.
  QFont titleFont = grid.horizontalHeader()->font();
  titleFont.setBold(true);
  const QFontMetrics header(titleFont);
  for (int c = 0; c < model.columnCount(); ++c) {
    const TXbColumn& col = model.Columns()[static_cast<size_t>(c)];
    int width = col.widthChars;
    if (width == 0 && table) {
      const int f = table->FieldIndex(col.field);
      if (f >= 0)
        width = std::max<int>(table->Fields()[static_cast<size_t>(f)].width, static_cast<int>(col.title.size()));
    }
    width = std::max(width, 4);
    if (maxChars > 0) width = std::min(width, maxChars);
    // Wide enough for the title, so that it is never cut.
    const int title = header.horizontalAdvance(col.title) + 12;
    grid.setColumnWidth(c, std::max(width * charWidth + 8, title));
  }
}
