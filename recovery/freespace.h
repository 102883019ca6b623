// The free-space check before a scan, as arithmetic: the cache drive's free
// MB against the source's, a 2000 MB reserve, the scan's budget and the
// warning text. The window gathers the numbers and shows the box.
#pragma once

#include <QString>
#include <cstdint>

struct FreeSpaceFacts {
    int32_t cacheFreeMB = 0;     // C: free MB of the cache folder's drive, 0 unknown
    int32_t sourceFreeMB = 0;    // S: free MB of the source
    double sourceTotalMB = 0;    // the drive record's total MB (used when C is 0)
    QString cacheFolder;         // its first two characters name the drive
    int32_t resumePosition = 0;  // not 0: an interrupted scan is resumed
};

struct FreeSpaceOutcome {
    int32_t cacheFreeMB = 0;     // the scan's budget
    bool room = false;           // room for the source's free space plus 2000 MB
    bool resultSet = false;      // false: the caller's result stays
    int result = 0;              // 1 go on, 2 too little room
    QString message;             // the warning; empty: none
    bool showBox = false;        // ask OK / Cancel (or OK only, see okOnly)
    bool okOnly = false;         // the budget is negative: the box only informs
};

constexpr int32_t kCacheReserveMB = 2000;

FreeSpaceOutcome EvaluateFreeSpace(const FreeSpaceFacts &facts);

// MB as whole GB in the "###,###,###" form with the locale's grouping;
// a value that rounds to 0 (or below) reads "0".
QString GigabyteText(double megabytes);
