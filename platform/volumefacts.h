// Volume facts read from a volume's own structures: file-system name, serial,
// label, cluster geometry and free clusters. Everything read is untrusted.
#pragma once

#include "platform/drives.h"

#include <QByteArray>
#include <functional>
#include <optional>

namespace plat {

// Reads length bytes at a byte offset of the volume; fewer bytes (or none)
// at the end or on failure.
using VolumeReadFn = std::function<QByteArray(qint64 offset, qint64 length)>;

// The layouts below are read from a boot sector, which is untrusted: each is
// checked for sense and, given the medium's size in bytes (the handle's size;
// negative when it is not known), against the medium. A volume whose data
// area begins or ends past the medium's end, or whose clusters or records
// have a size no file system uses, has no layout: the medium is then one
// without a file system. A stated total that runs past the medium only by
// sectors after the last cluster is no such lie (images and card readers
// often lack a last sector): the layout stands, and those sectors are simply
// not there to read. Counts are 64-bit and checked.

struct FatLayout {
    int fatBits = 0;              // 12, 16 or 32
    quint32 bytesPerSector = 0;
    quint32 sectorsPerCluster = 0;
    quint32 reservedSectors = 0;
    quint32 fats = 0;
    quint32 rootEntries = 0;
    quint64 totalSectors = 0;
    quint64 sectorsPerFat = 0;
    quint64 rootDirSectors = 0;
    quint64 firstDataSector = 0;  // sector of cluster 2
    quint64 clusterCount = 0;     // clusters the FAT has entries for
    quint32 rootCluster = 0;      // FAT32
};

// The BPB of a FAT volume: sector size 512..4096, a power of two cluster
// size, at most 4 FATs of at most 512 MiB inside the volume.
std::optional<FatLayout> parseFatLayout(const QByteArray &boot, qint64 mediumBytes);

struct ExfatLayout {
    quint32 bytesPerSector = 0;
    quint32 sectorsPerCluster = 0;
    quint32 clusterCount = 0;
    quint32 rootCluster = 0;
    quint64 heapOffset = 0;       // sector of cluster 2
};
std::optional<ExfatLayout> parseExfatLayout(const QByteArray &boot, qint64 mediumBytes);

struct NtfsLayout {
    quint32 bytesPerSector = 0;
    quint32 sectorsPerCluster = 0;
    quint32 recordBytes = 0;      // one record of the master file table
    quint64 clusterCount = 0;
    quint64 mftOffset = 0;        // byte offset of the master file table
};
// By the rules of the NTFS library's own boot-sector reader.
std::optional<NtfsLayout> parseNtfsLayout(const QByteArray &boot, qint64 mediumBytes);

// The allocation bitmap of an exFAT volume, from its entry (type 0x81) in the
// root folder's first cluster: empty when there is none, or its length does
// not fit the volume's clusters.
struct ExfatBitmap {
    quint32 firstCluster = 0;
    quint64 length = 0;           // bytes, as the entry states
    qint64 offset = 0;            // byte offset of its first cluster
};
std::optional<ExfatBitmap> exfatBitmapOf(const VolumeReadFn &read, const ExfatLayout &l);

// Calls fn(cluster, value) for the clusters 2 .. clusterCount + 1 in order,
// value being the cluster's entry in the first FAT (FAT32: the low 28 bits),
// read from the medium a piece at a time; -1 for an entry the medium did not
// deliver. fn returns false to stop.
void forEachFatEntry(const VolumeReadFn &read, const FatLayout &l, const std::function<bool(quint64, qint64)> &fn);

// Name, serial and label from the volume's own boot sector and root folder
// (FAT, exFAT, NTFS); empty for other file systems.
std::optional<VolumeInfo> ownVolumeInfo(const VolumeReadFn &read, qint64 mediumBytes);

// Geometry from the volume's own structures (FAT, exFAT, NTFS; NTFS reports
// no free clusters); empty for other file systems.
std::optional<DiskGeometry> ownGeometry(const VolumeReadFn &read, qint64 mediumBytes);

// libblkid on a device or file window: TYPE, LABEL and UUID.
struct BlkidFacts {
    QString type;
    QString label;
    QString uuid;
};
std::optional<BlkidFacts> probeBlkid(const QString &nativePath, qint64 offset, qint64 length);

// The Windows name of a file-system type as libblkid or the kernel names it.
QString windowsFsName(const QString &type);
// The serial of a volume whose serial is not in a boot sector: the first
// eight hex digits of its UUID ("DEAD-BEEF" gives 0xDEADBEEF; NTFS: the last eight).
quint32 serialFromUuid(const QString &uuid, const QString &type);
// The serial Windows gives an ISO 9660 volume: a checksum of the primary
// volume descriptor.
quint32 isoSerial(const QByteArray &descriptor);

} // namespace plat
