// The units of a scan: where each unit lies on the medium, how many there
// are, and how large a read is.
//
// Units are numbered like FAT clusters: the first unit is firstUnit (2 on a
// FAT or exFAT volume, 0 on NTFS and on a medium without a known file system)
// and lies at baseOffset; unit u lies at baseOffset + (u - firstUnit) x
// unitBytes. The scan ends at firstUnit + unitCount. Every position the scan
// reads from, and the resume position, comes from offsetOfUnit().
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct DriveInfoRecord;

// The largest unit: the largest cluster a file system states (exFAT's 32 MiB).
constexpr int64_t kMaxUnitBytes = int64_t(32) * 1024 * 1024;

struct UnitGeometry {
    int64_t firstUnit = 0;        // number of the first unit
    int64_t unitCount = 0;        // units to scan
    int64_t baseOffset = 0;       // byte offset of the first unit on the medium
    int32_t unitBytes = 0;        // size of one unit
    int32_t bytesPerSector = 512;
    int32_t sectorsPerUnit = 1;
    int32_t clusterSectors = 1;   // the medium's own sectors per cluster
    QString fileSystem;           // "FAT32", "NTFS", ... or empty (raw)

    // Usable: a sector size of 512, 1024, 2048 or 4096, whole sectors a
    // unit of at most kMaxUnitBytes, and at least one unit, all of them
    // within 64-bit offsets.
    bool valid() const;
    int64_t endUnit() const { return firstUnit + unitCount; }
    int64_t clusterBytes() const { return int64_t(clusterSectors) * bytesPerSector; }
    // The bytes of all units; INT64_MAX when that does not fit 64 bits.
    int64_t totalBytes() const;

    // The byte offset of unit u (the one conversion from unit to medium).
    int64_t offsetOfUnit(int64_t u) const { return baseOffset + (u - firstUnit) * int64_t(unitBytes); }
    int64_t sectorOfUnit(int64_t u) const { return offsetOfUnit(u) / bytesPerSector; }
    // The unit that holds a byte offset, kept within [firstUnit, endUnit].
    int64_t unitAtOffset(int64_t byteOffset) const;
    // The unit at which a cluster of the medium's own numbering begins; -1
    // when units are single sectors (names of entries play no part then) or
    // the cluster lies before the data area.
    int64_t unitOfCluster(int64_t cluster) const;
};

// The geometry of a drive from its record. Under DeepScan the units are
// single sectors; otherwise one allocation unit each (at least 512 bytes).
// With the medium's size (mediumBytes >= 0) the geometry is fitted to it as
// FitGeometryToMedium does.
UnitGeometry GeometryOfDrive(const DriveInfoRecord &record, bool deepScan, int64_t mediumBytes = -1);

// A geometry that does not fit a medium of mediumBytes (not usable, a data
// area that starts or ends past the medium's end) came from a boot sector
// that lies: it becomes the medium's raw geometry, single sectors from
// offset 0 over the whole medium (of the geometry's sector size when that is
// usable, else 512 bytes). A last unit cut short by the medium's end still
// fits. A negative size (not known) leaves the geometry as it is; 0 gives an
// invalid one.
void FitGeometryToMedium(UnitGeometry &g, int64_t mediumBytes);

// The geometry of an image over the bytes its backup copied: units past
// that length are left out (a last unit cut short stays); a geometry that
// still does not fit becomes the raw one as FitGeometryToMedium makes it.
void CutGeometryToLength(UnitGeometry &g, int64_t bytes);

// Cuts image units to at most 8 sectors: sectors per unit halved while 9 or
// more, the unit count doubled at each step.
void LimitImageUnits(UnitGeometry &g);

// The geometry of a disk image from the values of its index file
// (bytes per sector, sectors per cluster, total clusters, first data sector),
// with units of at most 8 sectors. The first unit is 2 when the data area
// starts after sector 0 (FAT numbering), else 0.
UnitGeometry GeometryOfImageIndex(int32_t bytesPerSector, int32_t sectorsPerCluster, int64_t totalClusters,
                                  int64_t firstDataSector);

// The geometry an image's own boot sector gives (FAT12/16/32, exFAT, NTFS),
// with units of at most 8 sectors; without a known boot sector, or with one
// whose geometry does not fit the file, 512-byte units over the whole file.
UnitGeometry GeometryOfBootSector(const QByteArray &boot, int64_t fileLength);
// The same for an image file by its native path; an invalid geometry when
// the file cannot be read or is empty.
UnitGeometry GeometryOfImageFile(const QString &nativePath);

// What decides the units of one read.
struct ReadSizeFacts {
    int64_t unitBytes = 512;
    int64_t unitCount = 0;       // TotalClusters of the scan
    int32_t sectorsPerUnit = 1;
    int32_t mediumClusterSectors = 1;   // sectors per cluster before DeepScan
    int freeMemoryMB = 0;
    bool image = false;
    bool damaged = false;
    bool deepOnDrive = false;    // DeepScan turned the units of a drive into sectors
    bool cdRom = false;
    int recoveryStage = 0;
};
// Units per read by the scan's rules; never less than 1.
int64_t UnitsPerRead(const ReadSizeFacts &f);
