// DirEnt.dat: the entry list of one medium, kept in the work folder so that
// a second Quick Undelete of the same medium need not walk it again.
// Layout, little-endian: the list's upper bound U (signed 32-bit), the drive
// record's fingerprint and the volume serial (32-bit each), then records
// 0..U in their file form.
#pragma once

#include "undelete/entries.h"

#include <QString>
#include <cstdint>
#include <vector>

// The file's name for a source: the drive letter followed by "DirEnt.dat"
// for a drive ("EDirEnt.dat"); for any other source (a disk image's path)
// "I", eight hexadecimal digits of a hash of the path, and "DirEnt.dat", so
// that two sources never share one file.
QString DirEntFileName(const QString &source);

// Writes the file whole or not at all (a temporary file renamed over it).
bool WriteDirEntFile(const QString &nativePath, uint32_t fingerprint, uint32_t serial,
                     const std::vector<DeletedEntryRecord> &entries);

enum class DirEntRead {
    Missing,    // no file
    Accepted,   // the keys match and every record was read
    Refused,    // another medium, or a damaged file: it has been deleted
};
// Reads the list when the keys equal the medium's and every record the file
// announces can be read; a file that does not fit is deleted.
DirEntRead ReadDirEntFile(const QString &nativePath, uint32_t fingerprint, uint32_t serial,
                          std::vector<DeletedEntryRecord> &entries);

// Deletes every file of the work folder (native path) that DirEntFileName
// names (one letter, or "I" and eight hexadecimal digits, before
// "DirEnt.dat"); the count.
int DeleteDirEntFiles(const QString &workFolderNative);
