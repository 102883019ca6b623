// The scan's signature table from the types chosen in the scan-type list: the
// filter text made from the ticked rows, the table made from the filter
// (learned rows in front, each half ordered so that a longer signature is
// tried before a shorter one it begins with), and DeepScan's auxiliary table.
//
// The functions work on the rows of the list as plain data; the window fills
// TypeListRow values from its list and hands them over.
#pragma once

#include "scan/signatures.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// One row of the scan-type list.
struct TypeListRow {
    QByteArray Text;     // the type name in capitals ("JPG")
    QByteArray Desc;     // sub-item 1: the 10-byte description
    QString Origin;      // sub-item 2: "Adaptive" (learned) or text 364 "Program"
    int Variant = 0;     // hidden ninth sub-item: the learned variant number
    bool Checked = false;
};
using TypeListRows = std::vector<TypeListRow>;

// The origin texts of the list: learned rows, built-in rows (text 364).
QString AdaptiveOrigin();
QString ProgramOrigin();

// The scan's filter: "." + lower-case Text + Desc of every ticked learned row,
// "|", the same of every ticked built-in row, "|".
extern QByteArray ScanTypeFilter;

// The built-in rows as the scan-type list shows them (one per extension and
// description, origin text 364), ticked when their type is among `types`
// (type names such as "JPG", any case), or all of them when `types` is
// empty. For the tools that build a table as the program does without the
// window.
TypeListRows BuiltInTypeRows(const QStringList &types = {});

// The filter of the ticked rows (the text only).
QByteArray MakeScanFilter(const TypeListRows &rows);
// Makes the filter of the ticked rows into `filter` and loads the table from it.
void BuildScanFilter(const TypeListRows &rows, QByteArray &filter, SignatureRows &table);
// The same with ScanTypeFilter and SignatureTable.
void BuildScanFilter(const TypeListRows &rows);

// Rebuilds the table from a filter. The filter is cut at its first "|": the
// text before it names learned types (".jpg" + description), whose usable
// variants (first signature of 4 bytes or more and three distinct byte
// values, IsUsableFirstSignature) give rows when their row is
// ticked in the list; the rest, with every "|" removed, selects built-in rows.
// On return the filter holds that built-in part. Never fewer than one row.
void LoadScanTypes(QByteArray &filter, const TypeListRows &rows, SignatureRows &table);
// The same into SignatureTable.
void LoadScanTypes(QByteArray &filter, const TypeListRows &rows);

// The order rule of the table, applied to rows first .. end-1: a row whose
// first signature begins with that of an earlier row and which is longer in
// its first or second signature moves in front of that row.
void OrderSignatureRows(SignatureRows &rows, size_t first, size_t end);

// What the auxiliary table needs of an entry of the deleted-entry list.
struct DeletedEntryFacts {
    QString Name;              // 8.3 name
    uint32_t Attributes = 0;   // 16: directory
    uint32_t Size = 0;         // bytes
    uint32_t Recoverable = 0;  // bytes
};

// DeepScan's auxiliary table: the rows of the types that deleted entries name
// (by extension, entries with data that are no directories) that the list
// holds but that are not ticked. The table is made from the filter of exactly
// those list rows, so the built-in and learned rows of those types are taken.
// One empty row when there are none. SignatureTable is not touched.
void CheckSelectedTypes(SignatureRows &aux, const TypeListRows &rows,
                        const std::vector<DeletedEntryFacts> &entries);
