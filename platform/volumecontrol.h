// Device controls on raw volumes: the volume bitmap (which clusters are in
// use), and media eject and load.
#pragma once

#include "platform/rawio.h"

#include <QByteArray>
#include <QChar>
#include <optional>

namespace plat {

constexpr quint32 kFsctlGetVolumeBitmap = 0x9006F;
constexpr quint32 kIoctlStorageEjectMedia = 0x2D4808;
constexpr quint32 kIoctlStorageLoadMedia = 0x2D480C;
constexpr int kErrorMoreData = 234;

enum class BitmapStatus { Ok, MoreData, Error };

struct VolumeBitmap {
    BitmapStatus status = BitmapStatus::Error;
    quint64 startingLcn = 0;   // the requested cluster rounded down to 8
    quint64 bitmapSize = 0;    // clusters from startingLcn to the end of the volume
    QByteArray bytes;          // bit b of byte j: cluster startingLcn + 8j + b; clear = free
};

// The volume bitmap of the volume behind an open volume handle, from
// startCluster on, at most maxBytes bitmap bytes. Clusters are numbered as
// the volume's own allocation table numbers them (FAT: from 0, clusters 0
// and 1 in use; NTFS: LCNs). Bits past the last cluster are set. Built from
// the volume's allocation structures: FAT12/16/32 and exFAT; other file
// systems (and NTFS, until its master file table is read) give Error.
VolumeBitmap volumeBitmap(Handle &volume, qint64 startCluster, int maxBytes);
// The number of free clusters the bitmap shows; empty without a bitmap.
std::optional<quint64> freeClustersOf(Handle &volume);
// Forgets the bitmaps computed so far (they are kept a few seconds).
void forgetVolumeBitmaps();

// Ejects or loads the medium of a letter's disk. A virtual drive's medium
// becomes absent or present. Refused while the disk holds a mounted volume.
bool ejectMedia(QChar letter);
bool loadMedia(QChar letter);

} // namespace plat
