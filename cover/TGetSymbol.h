#pragma once
// TGetSymbol: picks one character of a symbol font for a symbol object. A
// grid shows every printable character of the chosen font; the font button
// changes the font.

#include <QDialog>
#include <QFont>

class QPushButton;
class QTableWidget;

class TGetSymbol : public QDialog {
  Q_OBJECT
 public:
  TGetSymbol(const QFont& font, const QString& current, QWidget* parent = nullptr);

  QString Symbol() const;
  QFont SymbolFont() const { return font_; }
  void SetSymbolFont(const QFont& font);

  QTableWidget* SymbolGrid = nullptr;
  QPushButton* FontButton = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  static constexpr int kColumns = 16;

 private:
  QFont font_;
};
