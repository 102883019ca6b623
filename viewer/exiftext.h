// The shown file's metadata lines (ExifLines) turned into display text: the
// clean-up of the property lines, the short summary beside the preview and
// the words for coded values.
//
// ExifLines: 0 the file line, 1 the date line, 2 "ImageWidth " and the width,
// 3 "ImageHeight " and the height, 4 the display note, from 5 one property a
// line ("ExifFNumber 28/10"), as the property listing gives them.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// One of the six value tables: the rows (number, text); each text begins
// with ": ".
struct ExifValueTable {
    QString name;   // the property name the table is chosen by, with ":"
    std::vector<std::pair<QString, QString>> rows;
};
const std::vector<ExifValueTable> &ExifValueTables();

// Rewrites the property lines in place ("ExifFNumber 28/10" becomes
// "FNumber: F2.80"); nothing happens when line 0 already holds a ":".
// The array keeps at least lines 0 to 4.
void CleanExifLines(QStringList &lines);

// CleanExifLines, then the lines normalised, and the summary lines (each
// followed by CR LF) appended to summary.
void BuildExifSummary(QStringList &lines, QString &summary);

// Coded values (metering mode, orientation, flash, exposure program, colour
// space, light source) replaced by their words; line 0 padded, line 1
// indented by one blank.
void TranslateExifValues(QStringList &lines);

// The run time's number reading that the rules lean on: blanks, tabs and line
// feeds skipped at the start and ignored between digits, an optional sign,
// digits, a "." fraction and an exponent; reading stops at the first other
// character ("0012@" gives 12, "abc" 0).
double VbVal(const QString &text);
// A number as the format "##0.00#" writes it: two or three decimals (halves
// away from zero), the locale's decimal separator, no groups.
QString FormatTwoOrThreeDecimals(double value);
// A number as the format "###,##0" writes it: whole (halves away from zero),
// with the locale's group separator.
QString FormatWholeGrouped(double value);
// A number as plain decimal text with up to 15 significant digits and no
// trailing zeros, the locale's decimal separator.
QString PlainNumberText(double value);
