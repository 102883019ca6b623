// Writing to a removable medium: the one place of the program that opens a
// block device, or the image file of a virtual drive, for writing, and the
// one that starts the FAT format program on it.
//
// A write is allowed only to a removable medium that is not the system's
// disk (the disk holding /, /boot, /usr, /var or /home, active swap, or a
// device-mapper, LVM or RAID member), of which nothing is mounted (the volume
// or any partition of its disk), that is not read-only, and that no one else
// holds exclusively. Block devices are opened O_EXCL (the kernel refuses that
// while a file system, FUSE included, is mounted from them); image files are
// locked (flock) instead. The medium must still be the one whose identity the
// user confirmed: device number, disk serial, size and volume serial are
// compared again right before the first write. Writes never pass the end of
// the volume. Every other open of a medium is read-only.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace plat {

struct DriveEntry;

// What the layer knows of the medium behind a letter.
struct MediumFacts {
    QChar letter;
    QString device;          // /dev/sdb1, or the image file of a virtual drive
    QString disk;            // the whole disk: /dev/sdb, or the image file
    bool blockDevice = false;
    bool wholeDisk = false;  // the volume is the whole disk (no partition)
    quint64 devNumber = 0;   // st_rdev of a device; st_dev of an image file
    quint64 inode = 0;       // image files
    QString serial;          // the disk's serial (sysfs, udev), a loop's backing file
    qint64 sizeBytes = -1;   // of the volume
    qint64 windowOffset = 0; // of a volume inside an image file
    int sectorSize = 512;
    quint32 volumeSerial = 0;
    QString label;
    bool present = false;    // a medium is in the slot
    bool removable = false;
    bool system = false;
    bool mounted = false;
    QString loopDevice;      // an image file that backs a loop device: that device
    bool readOnly = false;
};

// The loop devices ("/dev/loop3") that read from an image file (a native
// path), in the order of their names; none for a file that does not exist.
QStringList loopDevicesOf(const QString &imageNative);

// The facts of a letter's medium; empty for a letter the table does not know.
std::optional<MediumFacts> mediumFacts(QChar letter);
// Tests: every answer of mediumFacts (and of the guard) passes through the
// hook first (a fixed disk, the system disk ... where no such device can be
// made). Empty: none.
void setMediumFactsHook(std::function<void(MediumFacts &)> hook);

// The identity the user confirmed.
struct MediumIdentity {
    QString device;
    quint64 devNumber = 0;
    quint64 inode = 0;
    QString serial;
    qint64 sizeBytes = -1;
    quint32 volumeSerial = 0;
    bool operator==(const MediumIdentity &) const = default;
};
MediumIdentity identityOf(const MediumFacts &facts);

enum class WriteRefusal {
    None,
    NoMedium,         // no medium, or the letter is unknown
    NotRemovable,     // a fixed disk, an optical drive, a folder ...
    SystemDisk,
    Mounted,
    LoopBacked,       // an image file a loop device reads from
    ReadOnly,
    Busy,             // held exclusively by someone else
    IdentityChanged,  // not the medium the user confirmed
    OpenFailed,       // rights, or the device vanished
};

// The guard without opening anything (the order of the tests is the order
// above).
WriteRefusal writeRefusalOf(const MediumFacts &facts);

// A removable medium opened for writing.
class RawWriteTarget {
public:
    RawWriteTarget() = default;
    ~RawWriteTarget();
    RawWriteTarget(const RawWriteTarget &) = delete;
    RawWriteTarget &operator=(const RawWriteTarget &) = delete;

    // Opens the letter's volume when the guard passes and the medium is the
    // confirmed one; otherwise stays closed and says why.
    WriteRefusal open(QChar letter, const MediumIdentity &confirmed);
    bool isOpen() const { return fd_ >= 0; }
    qint64 size() const { return size_; }
    // Writes at a byte offset of the volume; bytes written (fewer where the
    // volume ends, 0 at or past its end), -1 on an error before any byte.
    qint64 writeAt(qint64 offset, const void *data, qint64 length);
    // Flushes to the medium and closes; false when the flush failed.
    bool close();

private:
    int fd_ = -1;
    qint64 base_ = 0;
    qint64 size_ = 0;
};

// The format program on the letter's volume: the guard and the identity
// again right before the start, mkfs.fat with an argument vector (no
// shell, a minimal environment), waited for with pending events processed.
struct FormatResult {
    WriteRefusal refusal = WriteRefusal::None;
    int exitCode = -1;       // mkfs.fat's; -1 not started, -2 time ran out
    QByteArray output;
};
FormatResult formatFat(QChar letter, const MediumIdentity &confirmed, int fatBits, const QString &label,
                       int timeoutMs = 600000);
// The label as mkfs.fat is given it: upper case, at most 11 bytes, none of
// the characters FAT forbids; empty (no label given) when it cannot be one.
QString fatFormatLabel(const QString &label);
// mkfs.fat's arguments for these facts (fatBits 12, 16, 32, else mkfs.fat's
// choice).
QStringList mkfsFatArguments(const MediumFacts &facts, int fatBits, const QString &label);

// For platform/rawio.cpp: the guarded open of an entry's volume for
// writing; the descriptor, or -1 with the refusal and errno.
int openGuardedForWrite(const DriveEntry &entry, const MediumIdentity *confirmed, WriteRefusal *why, int *err);

} // namespace plat
