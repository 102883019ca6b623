// The scan-list file of a cache root: the found-file list (display text,
// file name and orientation of each item), the last scan's state and some
// view state, so that the next run shows the same list.
//
// The file is plain Windows-1252 text, one value per line, each line ended
// by CR LF, in the record form of the BASIC "write" statement: texts in
// double quotes (no escaping), numbers bare with "." as the decimal mark,
// flags #TRUE# / #FALSE#. Order: five header values, the item count, three
// lines per item, eight trailer values, and a ninth only when a stopped
// scan noted units inside the file it left open.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// The most items the found-file list shows, and so the most a list file
// holds: a folder of more files is listed by its first 32,760.
constexpr int ScanListCapacity = 32760;

struct ScanListItem {
    QString displayText;
    QString fileName;       // name of the file in the cache root, no folder
    float orientation = 0;  // 0: the picture's own; 1-8, 101-108
};

struct ScanListData {
    // header
    QString lastScanDriveType;
    int32_t lastScanSerial = 0;
    int32_t resumePosition = 0;
    int32_t thumbWidth = 0;
    int32_t thumbCounter = 0;
    // items (the count line is their number)
    std::vector<ScanListItem> items;
    // trailer
    QString lastScanSource;
    int32_t lastListIndex = 0;
    bool filterActive = false;   // written -1 / 0
    QString filterName;
    bool thumbFlag = false;
    QString noPreviewList;
    bool resumeFileOpen = false;
    bool smartScan = false;
    // The units noted inside the file left open, in the scan's own text
    // form; empty: none (and not written).
    QString resumeInner;
};

// The file's bytes: the header, the first ScanListCapacity items (a longer
// list is written with the items a list file holds), the trailer. A
// display text or another free text keeps its place on its line: '"'
// becomes "'" and control characters "_". A file name that could not be
// read back as it is ('"', a control character, "/", "\", a character
// Windows-1252 lacks) makes the encoding fail (empty result).
QByteArray EncodeScanList(const ScanListData &data);

enum class ScanListStatus {
    Missing,    // no file, or an empty one
    Refused,    // the count did not fit the folder, or a name was unsafe
    Partial,    // the file ended inside the item list: the items read stay
    Loaded,     // the item list was read whole
};

// Reads what EncodeScanList wrote. folderFileCount is the number of files of
// the folder the list describes; the file is accepted only when its count n
// satisfies n > 0, n <= m and n > 0.9 x (m - 1), where m is folderFileCount
// but never more than ScanListCapacity (a list file of a fuller folder
// holds that many).
// The header is read into data in every case but Missing; items and trailer
// only on acceptance. A name holding "/", "\", NUL, a control character, '"'
// or "?", or equal to "." or "..", refuses the file.
ScanListStatus DecodeScanList(const QByteArray &bytes, int folderFileCount, ScanListData &data);

// The acceptance rule alone.
bool ScanListCountAccepted(int count, int folderFileCount);

// A name that may be joined to a folder path.
bool IsSafeListedName(const QString &name);

// Writes the file next to itself first and renames it into place, so that a
// crash never leaves the list half written and an existing file is only
// ever replaced by a complete new one. False when it could not be written
// or the list could not be encoded; the old file then stays.
bool WriteScanListFile(const QString &internalPath, const ScanListData &data);
ScanListStatus ReadScanListFile(const QString &internalPath, int folderFileCount, ScanListData &data);

// Number text of the record form: whole numbers as integers, others with a
// "." and no leading zero (0.5 gives ".5"), as the BASIC writer puts them.
QString RecordNumberText(double value);
// The leading number of a text as BASIC's Val reads it (blanks skipped; ".5",
// "1E+20", "-3" accepted; no number gives 0).
double RecordNumberValue(const QString &text);
