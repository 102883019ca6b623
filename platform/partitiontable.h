// The partition table of a whole-disk image: the MBR's primary entries with
// the logical partitions of its extended partitions, or the GPT behind a
// protective MBR. Everything read is untrusted: counts are bounded, and a
// chain of extended boot records ends at a loop, at the image's end and
// after a fixed number of links.
#pragma once

#include <QList>

class QIODevice;

namespace plat {

struct PartitionEntry {
    int number = 0;           // as Linux names it: the MBR's entries 1 to 4 and its
                              // logical partitions from 5 on, or the GPT entry's place
    qint64 offset = 0;        // byte window in the image
    qint64 length = 0;        // 0: an unused entry, or a logical partition that leaves the image
    bool efiSystem = false;   // GPT type C12A7328-F81F-11D2-BA4B-00A0C93EC93B, MBR type EF
    bool extended = false;    // an MBR entry holding logical partitions (types 05, 0F, 85)
};

// The most logical partitions read from one image, and the most extended
// boot records followed.
inline constexpr int kMaxLogicalPartitions = 128;

// The entries of the table the image begins with, in number order: four for
// an MBR followed by its logical partitions, up to 128 for a GPT. LBAs count
// in sectorSize bytes (at least 512). Empty when the image's first sector
// holds no partition table.
QList<PartitionEntry> readPartitionTable(QIODevice &image, qint64 sectorSize);

} // namespace plat
