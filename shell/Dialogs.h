#pragma once
// The standard message boxes every window uses. They are modal and owned by
// the application's main window (set once with SetApplicationWindow).

#include <QString>

class QWidget;

class QPushButton;

void SetApplicationWindow(QWidget* window);
QWidget* ApplicationWindow();

// Yes/No with the question icon; true when Yes was pressed.
bool AskYesNo(const QString& text, const QString& caption);
// The same with No as the default button (destructive single-fax questions).
bool AskYesNoDefaultNo(const QString& text, const QString& caption);
// Caption "Information", an OK button and the information icon.
void ShowInformation(const QString& text);

// A push button named `name` (its objectName) that Enter does not press
// unless it has the focus or is the window's default button.
QPushButton* NamedButton(QWidget* parent, const char* name, const char* caption);
