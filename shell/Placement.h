#pragma once
// Window placement kept in CV.INI, and centring of windows.

#include <QRect>
#include <QString>

class QWidget;

// "<class>_Placement", followed by the logical dots per inch when above 96.
QString PlacementSection(const QString& className, int logicalDpi);

// Moves a stored rectangle back onto a screen of the given size: a right or
// bottom edge beyond the screen is pulled in, then a negative left or top
// edge is pushed out to 1 (the far edge moving by the same amount).
QRect ClampPlacement(QRect stored, int screenWidth, int screenHeight);

// Centred rectangle of a window of ownSize over the main window's rectangle
// (division rounding toward zero, so a larger window sits above and left).
QRect CentredOver(const QRect& main, const QSize& ownSize);

// Restore when a window is first shown; save when it closes. The section is
// named after the window's class (its objectName when set, else its Qt class).
void RestorePlacement(QWidget* window);
void SavePlacement(QWidget* window);

// The main window, and any window while the main window is maximised, is
// centred on the screen; other windows over the main window.
void CentreForm(QWidget* window);
