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
    quint64 clusterCount = 0;
    quint32 rootCluster = 0;      // FAT32
};

// The BPB of a FAT volume checked for sense (sector size 512..4096, a power
// of two cluster size, FATs inside the volume); empty otherwise.
std::optional<FatLayout> parseFatLayout(const QByteArray &boot);

// Name, serial and label from the volume's own boot sector and root folder
// (FAT, exFAT, NTFS); empty for other file systems.
std::optional<VolumeInfo> ownVolumeInfo(const VolumeReadFn &read);

// Geometry from the volume's own structures (FAT, exFAT, NTFS; NTFS reports
// no free clusters); empty for other file systems.
std::optional<DiskGeometry> ownGeometry(const VolumeReadFn &read);

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
