// Drive letters on Linux. One letter is one volume: a partition, or a whole
// medium without a partition table. The table is rebuilt from /sys/block,
// /proc/self/mountinfo and the virtual-drive configuration (QUILVANE_DRIVES,
// or images attached in-process).
#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace plat {

// The Windows drive type codes.
enum DriveTypeCode {
    DriveTypeUnknown = 0,
    DriveTypeNoRoot = 1,
    DriveTypeRemovable = 2,
    DriveTypeFixed = 3,
    DriveTypeRemote = 4,
    DriveTypeCdRom = 5,
    DriveTypeRamDisk = 6,
};

enum class DriveKind { RootFs, BlockVolume, RemovableSlot, OpticalSlot, NetworkMount, VirtualImage, VirtualFolder };

struct DriveEntry {
    QChar letter;                 // upper case
    DriveKind kind = DriveKind::BlockVolume;
    int typeCode = DriveTypeFixed;
    QString device;               // /dev/sdb1, or the image file of a virtual drive
    qint64 windowOffset = 0;      // byte window of the volume inside device
    qint64 windowLength = -1;     // -1: to the end of the device
    QString disk;                 // the physical disk: /sys/block/sdb, or the image file
    QString mountPoint;           // native root of the drive's files; empty: no files
    QString fsType;               // from mountinfo, when mounted
    int sectorSize = 0;           // 0: ask the device
    bool readOnly = false;
    bool mediumAbsent = false;    // marked absent (ejected, or by a test)
    QString identity;             // stable identity for the persisted letter
    int partition = 0;            // partition number inside an image, 0 = whole file
    bool partitionFound = false;  // chosen by its content: the first FAT or NTFS volume (not an EFI
                                  // system partition unless it is the only one) of a whole-disk
                                  // image attached without one (openMedium reads it whole)
    QList<QPair<qint64, qint64>> badSectors;   // virtual drives: sectors whose reads fail
    int slowMs = 0;               // ... after this long
};

struct VirtualDriveOptions {
    int typeCode = DriveTypeRemovable;
    int partition = 0;            // 0: the whole file is the volume; logical partitions count from 5
    bool readOnly = false;
    int sectorSize = 0;           // 0: 512 (2048 for CD-ROM)
    QString files;                // native folder standing for the mounted tree
    QList<QPair<qint64, qint64>> badSectors;   // sectors whose reads fail (tests)
    int slowMs = 0;               // a failing read takes this long
};

class DriveTable {
public:
    static DriveTable &instance();

    // Rebuilds the table now. Queries rebuild it by themselves when it is
    // older than a second.
    void refresh();
    // Sorted by letter.
    QList<DriveEntry> entries();
    std::optional<DriveEntry> entry(QChar letter);

    // Virtual drives in-process (tests, and users' attached images).
    bool attachImage(QChar letter, const QString &imageNative, const VirtualDriveOptions &opts = {});
    bool attachFolder(QChar letter, const QString &folderNative, int typeCode = DriveTypeFixed);
    // A block device given a letter (a loop device in tests); its type,
    // read-only mark and sector size come from the options.
    bool attachDevice(QChar letter, const QString &deviceNative, const VirtualDriveOptions &opts = {});
    void detach(QChar letter);
    void setMediumPresent(QChar letter, bool present);
    // Only the virtual drives are listed (deterministic tests); C: stays.
    void setExclusive(bool exclusive);
    // Forgets every in-process attachment and the exclusive mark.
    void resetVirtual();

private:
    DriveTable() = default;
    struct Impl;
    Impl *impl();
};

// GetLogicalDriveStrings: the letters in use, sorted.
QList<QChar> logicalDrives();
// GetDriveType of a root: 1 for a letter not in the table.
int driveTypeCode(QChar letter);
// Medium present and reachable, without reading the device. Empty for a
// letter the table does not know.
std::optional<bool> isDriveReady(QChar letter);

struct VolumeInfo {
    QString label;
    quint32 serial = 0;
    QString fsName;   // "FAT" (FAT12 and FAT16), "FAT32", "NTFS", "exFAT", "CDFS", "UDF", ...
};
// GetVolumeInformation: empty when there is no medium or no known file system.
std::optional<VolumeInfo> volumeInformation(QChar letter);

struct DiskGeometry {
    quint32 sectorsPerCluster = 0;
    quint32 bytesPerSector = 0;
    quint64 freeClusters = 0;
    quint64 totalClusters = 0;
};
// GetDiskFreeSpace: statvfs when mounted, else from the volume's own
// structures; a medium without a known file system gives one sector a
// cluster, no free clusters and the device's sectors. Empty without a medium.
std::optional<DiskGeometry> diskGeometry(QChar letter);

// GetDiskFreeSpaceEx: bytes free to the caller and total bytes.
bool diskFreeBytes(QChar letter, quint64 *freeToCaller, quint64 *totalBytes);

// Whether two letters lie on the same physical disk.
bool sameDisk(QChar a, QChar b);
// Whether a folder (an internal path; one not made yet counts by the nearest
// folder above it) lies on the physical disk of a letter's medium: its letter
// is on that disk, or the file system holding it is read from that disk,
// from a loop device over the letter's image file, or from the image file
// itself (a FUSE mount of it). The file system that merely holds an image
// file is not the image's disk.
bool sameDisk(const QString &path, QChar letter);
// The device number of the file system holding a folder (an internal path;
// one not made yet counts by the nearest folder above it); -1 when none
// exists. Folders of one device number give sameDisk one answer.
int64_t folderDevice(const QString &path);

// The native root of a letter's files, or empty.
QString driveRootNative(QChar letter);

// The logical sector size of a letter's volume (512 when unknown).
int volumeSectorSize(QChar letter);

// The mounts of the system as /proc/self/mountinfo lists them.
struct MountRecord {
    QString majMin;       // "8:17" of the mounted device (0:N for FUSE and the like)
    QString mountPoint;
    QString fsType;
    QString source;       // "/dev/sdb1", "/dev/loop0", a server path ...
};
QList<MountRecord> mountTable();
// A trimmed text file of sysfs, or empty.
QString readSysText(const QString &path);
// The properties udev recorded for a block device ("8:16"): ID_SERIAL, ...
QHash<QString, QString> udevProperties(const QString &majMin);

// The physical disks, as the system's disk-drive query lists them.
struct DiskDriveRow {
    QString deviceId;        // "/dev/sdb", or the image file of a virtual drive
    QString interfaceType;   // "USB", "IDE", "SCSI", "SD", "1394", "File"
    QString mediaType;       // "Removable Media" or "Fixed hard disk media"
    int bytesPerSector = 512;
    qint64 totalSectors = 0;
};
QList<DiskDriveRow> diskDrives();
// The DeviceID of the disk that holds a letter's volume, or empty.
QString physicalDiskOf(QChar letter);

} // namespace plat
