#include "shell/Dialogs.h"

#include <QPushButton>

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> gApplicationWindow;

bool AskYesNoWithDefault(const QString& text, const QString& caption, QMessageBox::StandardButton def) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, ApplicationWindow());
  box.setDefaultButton(def);
  return box.exec() == QMessageBox::Yes;
}
}  // namespace

void SetApplicationWindow(QWidget* window) { gApplicationWindow = window; }
QWidget* ApplicationWindow() { return gApplicationWindow.data(); }

bool AskYesNo(const QString& text, const QString& caption) {
  return AskYesNoWithDefault(text, caption, QMessageBox::Yes);
}

bool AskYesNoDefaultNo(const QString& text, const QString& caption) {
  return AskYesNoWithDefault(text, caption, QMessageBox::No);
}

void ShowInformation(const QString& text) {
  QMessageBox box(QMessageBox::Information, "Information", text, QMessageBox::Ok, ApplicationWindow());
  box.exec();
}

QPushButton* NamedButton(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}
