// The signature table: the byte signatures by which the scan recognises the
// start of a file, and the built-in list of 84 signatures with the variants
// that follow some of them.
//
// All fields are byte strings (one byte a character); the table is kept in
// the order in which the scan tries its rows.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

struct SignatureRecord {
    QByteArray Ext;     // extension with its dot, lower case (".jpg")
    QByteArray Desc;    // exactly 10 bytes, padded with blanks or cut
    QByteArray Sig1;    // the bytes a unit must begin with
    QByteArray Sig2;    // bytes that must occur further on (empty: no test)
    QByteArray Sig3;    // always empty in the built-in list
    QByteArray Sig4;    // only on the .doc row; never tested
    int16_t SizeFieldOffset = 0;
    int16_t SizeFieldOrder = 0;

    bool operator==(const SignatureRecord &) const = default;
};

// A signature table: lower bound 0; an empty table is one row whose fields
// are all empty.
using SignatureRows = std::vector<SignatureRecord>;

// The main window's table, in testing order; rebuilt before every scan.
extern SignatureRows SignatureTable;

// Refills the table from the built-in list: a row is taken when the filter is
// exactly "all" or contains the row's Ext followed by its 10-byte Desc (a
// byte-wise, case-sensitive substring). Descriptions are those of the current
// language. A filter that takes nothing leaves one empty row.
void BuildSignatureTable(const QByteArray &filter, SignatureRows &table);
// The same, into SignatureTable.
void BuildSignatureTable(const QByteArray &filter);

// Sets the table to its empty form: one row with all fields empty.
void ClearSignatureTable(SignatureRows &table);
// True when some row of the table has a first signature.
bool HasSignatureRows(const SignatureRows &table);

// A description as a 10-byte field: padded with blanks or cut.
QByteArray FixedDescription(const QByteArray &text);

// The case number of the built-in list that a table row came from (matched by
// Ext, Desc and signatures; a variant gives its case's number), -1 when none;
// *variant: 0 for the case's own row, 1 and on for its variants. For
// diagnostics and tests.
int BuiltInSignatureCase(const SignatureRecord &row, int *variant = nullptr);
