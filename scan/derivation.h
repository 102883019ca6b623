// Signature derivation: how the bytes of one sample file update the
// learned-type record of its extension, and how the record's six variants
// are pruned and merged once all samples of a learning run are in. Also the
// byte-string helpers this is built on.
//
// Every text is a byte string (one byte a character); comparisons are exact.
// Records may come from files on disk, so every field is treated as
// untrusted: slices are bounded, counters saturate, no division by zero.
#pragma once

#include "scan/learnedtypes.h"

#include <QByteArray>
#include <cstdint>

// A variant slot is usable (gives a scan row) with a first signature this
// long, of three distinct byte values at least (IsUsableFirstSignature).
constexpr qsizetype UsableFirstSignature = 4;
// The bytes of a sample: its start and its end.
constexpr qsizetype SampleHeadBytes = 1024;
constexpr qsizetype SampleSigBytes = 16;

// What the learning hands over of one sample file.
struct SampleBytes {
    QByteArray Head16;    // the first 16 bytes
    QByteArray Header;    // the first 1024 bytes
    QByteArray TailRev;   // the last 16 bytes, last byte first
    QByteArray Tail;      // the last 1024 bytes, in file order (for the sample ring)
    int64_t length = 0;   // the file's length in bytes
};
// The sample of a file's bytes as the learning takes it: empty (Head16
// empty) when the bytes are fewer than 1024.
SampleBytes SampleFromBytes(const QByteArray &head, const QByteArray &tail, int64_t length);
// True when the first 16 bytes are all one byte value (such a file is no sample).
bool IsUniformHead(const QByteArray &head16);

// The longest leading part that a and b share (b itself when a begins with b).
QByteArray CommonPrefix(const QByteArray &a, const QByteArray &b);
// The longest run that occurs in both a and b, taken from a, and its 1-based
// start in a. Ties keep the run that ends first in a, then first in b. Empty
// when a or b is empty (start then untouched); with nothing in common the
// result is empty and start is 1.
QByteArray LongestCommonSubstring(const QByteArray &a, const QByteArray &b, int32_t &start);
// The longest run of positions 1 .. min(|a|, |b|) at which a and b agree,
// taken from a, and its 1-based start in a (earliest run on ties). When no
// position agrees the result is empty and start is the value passed in plus one.
QByteArray LongestAlignedRun(const QByteArray &a, const QByteArray &b, int32_t &start);
// The offset in the header of a 32-bit field that holds the file length (or
// the file length minus the offset): order 2 for a little-endian value, 1 for
// the two 16-bit halves swapped. Offset 0 means none (an offset-0 hit still
// sets the order, and a later hit replaces it).
int16_t FindSizeField(const QByteArray &header, int64_t fileLength, int16_t &order);

// Matches / Analysed; 0 when nothing was analysed.
double VariantReliability(int32_t matches, int32_t analysed);

// Runs one sample through the record of its extension (ext with its dot,
// lower case): picks the variant slot, sets it up when needed, narrows its
// signatures and counts the sample. Returns true when the sample was counted
// for the slot that CurrentVariant then names. A sample whose start shares
// fewer than 4 bytes with the slot it was given to leaves the record as the
// slot choice left it and is not counted.
bool UpdateLearnedType(LearnedTypeRecord &record, const QByteArray &ext, const SampleBytes &sample);

// Pruning and merging after a learning run, on the plain record: a variant
// stays with a usable first signature (IsUsableFirstSignature), a reliability of 0.5 and
// 5 matches (fewer matches are kept in an unattended run); a variant with
// more than 10 matches drops the weak others and takes in the strong ones
// whose signatures it shares.
void PruneLearnedType(LearnedTypeRecord &record, bool unattended);
