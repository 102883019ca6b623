// The program's numbered string tables, one per user-interface language,
// compiled into the program as plain text.
//
// Table format (UTF-8): one text a line, the number, one tab, the text. Empty
// lines and lines beginning with "#" are comments. Inside a text "\n" stands for
// a line break (CR LF), "\t" for a tab, "\s" for a blank and "\\" for a
// backslash; the tables write leading and trailing blanks as "\s". A backslash
// before any other character is kept as it stands.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// The language ids that have a table: 9 English, 1043 Dutch, 1031 German.
QList<int> StringTableLanguages();

// The raw bytes of the table of a language; empty for a language without one.
QByteArray StringTableData(int languageId);

// Reads a table. Lines whose number is missing, not a whole number, or below 1
// are passed over; a number given twice keeps its last text. A line may end in
// CR LF.
QHash<int, QString> ParseStringTable(const QByteArray &data);
