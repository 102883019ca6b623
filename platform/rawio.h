// Raw volumes and files opened like Windows handles: reads open read-only,
// writes open exclusively (refused while the volume or a partition of its disk
// is mounted) and only on removable media. Positions are 64-bit.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace plat {

enum class Access { Read, ReadWrite };

// A handle as the program holds it: a plain value, released explicitly with
// close(). The position lives in the open file, as with a Windows handle, so
// copies of a handle share it. A volume inside a larger file (a partition of
// an image) is seen through a byte window: positions are relative to the
// window's start and reads stop at its end.
// Damaged stretches of a virtual drive, for testing how reads fail: reads of
// the listed sectors fail as a bad sector's read does, after slowMs.
struct FaultSpec {
    QList<QPair<qint64, qint64>> badSectors;   // first and last sector, inclusive
    int sectorSize = 512;
    int slowMs = 0;
};

struct Handle {
    int fd = -1;
    qint64 windowOffset = 0;
    qint64 windowLength = -1;   // -1: no end
    std::shared_ptr<const FaultSpec> faults;

    bool valid() const { return fd >= 0; }

    // ReadFile: reads until n bytes, the end or an error. An error before
    // any byte gives false and 0; an error after some bytes gives true and
    // the count.
    bool read(void *buffer, qint64 n, qint64 *got);
    bool write(const void *buffer, qint64 n, qint64 *written);
    // Seeks and reads up to length bytes (at most 1 GiB); fewer at the end,
    // none on failure.
    QByteArray readAt(qint64 offset, qint64 length);
    // Reads up to n bytes at a byte offset into a buffer, in one call where
    // the medium allows, leaving the position as it was: the bytes read
    // (fewer at the end or before damage), -1 on failure.
    qint64 readAt(qint64 offset, void *into, qint64 n);
    // SetFilePointer: from the start or the current position; a negative
    // resulting position fails and leaves the position.
    bool seek(qint64 distance, bool fromCurrent = false);
    qint64 pos() const;         // current position, -1 on failure
    qint64 size() const;        // length of the file or device (window)
    bool truncate();            // SetEndOfFile at the position
    bool flush();               // FlushFileBuffers
    bool close();               // CloseHandle; the handle becomes invalid
};

// "\\.\X:" of a letter. Invalid when the letter has no raw volume, there is no
// medium, the rights are missing, or (writes) the volume is mounted, read-only
// or not removable. The reason is lastOpenError(): ENOENT an unknown letter,
// ENODEV a drive without a raw volume (a folder, a network mount),
// ENOMEDIUM no medium in the slot, EACCES or EPERM no rights, else the
// system's errno of the open.
Handle openVolume(QChar letter, Access access);
// The medium behind a letter, whole: a whole-disk image whose letter reads
// the partition found in it (DriveEntry::partitionFound) opens whole, any
// other letter as openVolume opens it for reading.
Handle openMedium(QChar letter);
// The path by which the NTFS library reads a volume inside a window of a
// file or device (length -1: to its end): "FILE@OFFSET+LENGTH"; the file's
// own path for a window from its start to its end.
QString windowPath(const QString &nativePath, qint64 windowOffset, qint64 windowLength);
// A file by its internal path. A device is never opened for writing here
// (EACCES): writes to a medium go through platform/rawwrite.h.
Handle openFile(const QString &internalPath, Access access, bool create = false);
// A file by its native path.
Handle openNative(const QString &nativePath, Access access, bool create = false);

// A new file for writing by its native path: Exclusive fails when the name
// exists (a name taken race-free); Truncate empties an existing regular
// file (never a device, a folder or a link's target outside the name).
enum class CreateMode { Exclusive, Truncate };
Handle createFile(const QString &nativePath, CreateMode mode);

// A letter's volume for reads that must reach the medium, not the page
// cache (the read-speed test): O_DIRECT where the device takes it (*direct
// true; reads then need 4096-aligned buffers, offsets and lengths), else a
// plain read-only handle whose cached pages were dropped first.
Handle openVolumeUncached(QChar letter, bool *direct);

// The errno of the last failed open, for the advice on restricted rights.
int lastOpenError();

} // namespace plat
