// The unit test of the scan: which row of a signature table starts a unit.
//
// A row matches a unit when the unit's head (its first sector) begins with
// the row's Sig1 and the row's Sig2 occurs in the unit's window (its first
// 1024 bytes) at or after byte L - 1, L being half Sig1's length (rounded
// down); an empty Sig2 always passes, a row without Sig1 never matches. The
// result is the first such row in table order.
//
// Two kinds of row test their start by the format's structure instead: a
// .mov row whose Sig1 is one of the box types "mdat" or "moov" (and no Sig2)
// takes a unit that begins an ISO base media movie (IsIsoMovieStart, which
// may look at the bytes after the window as far as the read holds them),
// and the .mpg row whose Sig1 is the pack start code 00 00 01 BA takes a
// unit that begins with an MPEG-1 or MPEG-2 pack header (its Sig2, the
// common MPEG-1 case, is not searched). Table order decides among all rows.
//
// The prefix text of the table (N, and the first 2N bytes of every Sig1) is
// kept for its readers; the lookup itself goes through a table on the
// head's first two bytes, which gives the same first row without a search
// and without allocating.
#pragma once

#include "scan/signatures.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <vector>

class SignaturePrefixIndex {
public:
    SignaturePrefixIndex() = default;
    explicit SignaturePrefixIndex(const SignatureRows &table) { build(table); }

    void build(const SignatureRows &table);

    // N: the smallest Sig1 length over the rows in two-byte characters
    // (half the byte length, rounded down), at most 32.
    int prefixLength() const { return n_; }
    // The first 2N bytes of each row's Sig1, row by row.
    const QByteArray &prefixText() const { return text_; }

    // The matching row for a unit, or -1. head: the unit's first sector;
    // window: its first 1024 bytes (cut at the end of the data).
    int match(const unsigned char *head, size_t headLength, const unsigned char *window,
              size_t windowLength) const;
    // The same, with the bytes at hand from the unit's start (data, at least
    // the window) and the bytes from there to the medium's end (negative:
    // not known) for the rows that test a structure.
    int match(const unsigned char *head, size_t headLength, const unsigned char *window, size_t windowLength,
              const unsigned char *data, size_t dataLength, int64_t mediumLeft) const;

    // Whether one row of a table matches a unit by the test above, without
    // an index (for a few rows looked at now and then).
    static bool RowMatches(const SignatureRecord &row, const unsigned char *head, size_t headLength,
                           const unsigned char *window, size_t windowLength, const unsigned char *data,
                           size_t dataLength, int64_t mediumLeft);

    // The row by the literal rule: a search of the head's first 2N bytes in
    // the prefix text, then the rows from the candidate on. For tests.
    int matchByPrefixText(const QByteArray &head, const QByteArray &window) const;

    bool empty() const { return rows_.empty(); }

private:
    enum class Test : uint8_t { Bytes, Movie, ProgramStream };
    struct Row {
        QByteArray sig1, sig2;
        size_t sig2From = 0;
        Test test = Test::Bytes;
    };
    struct Unit {
        const unsigned char *head;
        size_t headLength;
        const unsigned char *window;
        size_t windowLength;
        const unsigned char *data;
        size_t dataLength;
        int64_t mediumLeft;
    };
    static Row rowOf(const SignatureRecord &r);
    static bool passes(const Row &r, const Unit &u);
    // The first movie row when the unit passes its test (every movie row
    // asks the same of it), else -1.
    int firstMovieRow(const Unit &u) const;
    std::vector<Row> rows_;            // table order; empty Sig1 rows never match
    std::vector<uint32_t> bucketStart_;   // 65537 offsets into bucketRows_
    std::vector<uint16_t> bucketRows_;    // row numbers, ascending within a bucket
    std::vector<uint16_t> shortRows_;     // rows whose Sig1 is one byte
    std::vector<uint16_t> movieRows_;     // rows that test a movie's boxes, ascending
    int n_ = 0;
    QByteArray text_;
};
