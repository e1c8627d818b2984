#pragma once
// Texts of table rows in the system's formats, for the Qt layer: field text
// in and out of the tables' code page, the date and time text of a row.

#include <QDate>
#include <QString>

#include <string>

#include "store/core/FaxTables.h"

// Table text is Windows ANSI; the application writes its Latin-1 part.
QString TableText(const std::string& bytes);
std::string ToTableText(const QString& text);

// The system's short date format, or the engine's pattern when the engine
// options replaced it ("mm/dd/yyyy" becomes Qt's "MM/dd/yyyy").
QString QtDatePattern(const std::string& enginePattern);

// RowDateTimeText with the given date pattern (Qt form), the system's short
// time format and today's date.
QString RowDateTimeTextQt(const TXbDataTable& table, bool outgoing, const QString& datePattern,
                          const QDate& today = QDate::currentDate());
