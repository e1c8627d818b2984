#include "sending/TEnterEdit.h"

#include <QKeyEvent>
#include <QValidator>

#include <algorithm>

#include "store/StoreText.h"

namespace {

// Accepts everything, rewriting it into what the table field will hold.
class TTableTextValidator : public QValidator {
 public:
  TTableTextValidator(int width, QObject* parent) : QValidator(parent), width_(width) {}

  State validate(QString& input, int& pos) const override {
    const QString fitted = FitTableText(input, width_);
    if (fitted != input) {
      // The cursor stays after what was typed, shifted by the change in length before it.
      const QString before = FitTableText(input.left(pos), width_);
      pos = static_cast<int>(std::min(before.size(), fitted.size()));
      input = fitted;
    }
    return Acceptable;
  }

 private:
  int width_;
};

}  // namespace

TEnterEdit::TEnterEdit(QWidget* parent) : QLineEdit(parent) {}

void TEnterEdit::SetTableWidth(int width) {
  setMaxLength(width);
  setValidator(new TTableTextValidator(width, this));
}

void TEnterEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Only a field that lies on a window has a next control to go to.
    if (window() != this) focusNextChild();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

TEnterEdit* TEnterEdit::Make(QWidget* parent, const char* name, int width) {
  auto* e = new TEnterEdit(parent);
  e->setObjectName(name);
  e->SetTableWidth(width);
  return e;
}
