#include "cover/TGetSymbol.h"

#include <QFontDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The printable characters of an 8-bit font: 33 to 126 and 161 to 255.
QList<QChar> PrintableCharacters() {
  QList<QChar> chars;
  for (int c = 33; c <= 255; ++c)
    if (c <= 126 || c >= 161) chars << QChar(c);
  return chars;
}

}  // namespace

TGetSymbol::TGetSymbol(const QFont& font, const QString& current, QWidget* parent) : QDialog(parent) {
  setObjectName("TGetSymbol");
  setWindowTitle("Symbol Selector");
  const QList<QChar> chars = PrintableCharacters();
  SymbolGrid = new QTableWidget((static_cast<int>(chars.size()) + kColumns - 1) / kColumns, kColumns, this);
  SymbolGrid->setObjectName("SymbolGrid");
  SymbolGrid->horizontalHeader()->hide();
  SymbolGrid->verticalHeader()->hide();
  SymbolGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SymbolGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  for (int i = 0; i < chars.size(); ++i) {
    auto* item = new QTableWidgetItem(QString(chars[i]));
    item->setTextAlignment(Qt::AlignCenter);
    SymbolGrid->setItem(i / kColumns, i % kColumns, item);
    if (!current.isEmpty() && chars[i] == current.front()) SymbolGrid->setCurrentItem(item);
  }
  FontButton = new QPushButton("Font", this);
  FontButton->setObjectName("FontButton");
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FontButton);
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(SymbolGrid);
  layout->addLayout(buttons);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(SymbolGrid, &QTableWidget::cellDoubleClicked, this, &QDialog::accept);
  connect(FontButton, &QPushButton::clicked, this, [this] {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font_, this);
    if (ok) SetSymbolFont(chosen);
  });
  SetSymbolFont(font);
  resize(560, 420);
}

void TGetSymbol::SetSymbolFont(const QFont& font) {
  font_ = font;
  QFont shown = font;
  shown.setPointSize(14);
  SymbolGrid->setFont(shown);
  SymbolGrid->resizeColumnsToContents();
  SymbolGrid->resizeRowsToContents();
}

QString TGetSymbol::Symbol() const {
  const QTableWidgetItem* item = SymbolGrid->currentItem();
  return item != nullptr ? item->text() : QString();
}
