#pragma once
// The standard message boxes every window uses. They are modal and owned by
// the application's main window (set once with SetApplicationWindow).

#include <QString>

class QWidget;

void SetApplicationWindow(QWidget* window);
QWidget* ApplicationWindow();

// Yes/No with the question icon; true when Yes was pressed.
bool AskYesNo(const QString& text, const QString& caption);
// The same with No as the default button (destructive single-fax questions).
bool AskYesNoDefaultNo(const QString& text, const QString& caption);
// Caption "Information", an OK button and the information icon.
void ShowInformation(const QString& text);
