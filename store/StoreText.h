#pragma once
// Texts of table rows in the system's formats, for the Qt layer: field text
// in and out of the tables' code page, the date and time text of a row.

#include <QDate>
#include <QString>

#include <string>

#include "store/core/FaxTables.h"

// Table text is Windows-1252 (the code page the tables declare).
QString TableText(const std::string& bytes);
// Characters without a Windows-1252 code are written as their closest text
// in it (accents dropped, compatibility forms such as ligatures spelled out,
// e.g. "ā" as "a", "ﬁ" as "fi") and otherwise as one "?" each.
std::string ToTableText(const QString& text);
// What a text field `width` characters wide stores of `text`: its
// Windows-1252 form, cut at the width, as the user should see it.
QString FitTableText(const QString& text, int width);

// The system's short date format, or the engine's pattern when the engine
// options replaced it ("mm/dd/yyyy" becomes Qt's "MM/dd/yyyy").
QString QtDatePattern(const std::string& enginePattern);

// RowDateTimeText with the given date pattern (Qt form), the system's short
// time format and today's date.
QString RowDateTimeTextQt(const TXbDataTable& table, bool outgoing, const QString& datePattern,
                          const QDate& today = QDate::currentDate());
