#include "platform/partitiontable.h"

#include <QByteArray>
#include <QIODevice>
#include <QSet>
#include <cstdint>

namespace plat {

namespace {

quint32 le32(const QByteArray &b, int o)
{
    return quint32(quint8(b[o])) | quint32(quint8(b[o + 1])) << 8 | quint32(quint8(b[o + 2])) << 16
        | quint32(quint8(b[o + 3])) << 24;
}

quint64 le64(const QByteArray &b, int o) { return quint64(le32(b, o)) | quint64(le32(b, o + 4)) << 32; }

bool isExtendedType(quint8 type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// The type GUID of an EFI system partition as a GPT entry stores it.
const QByteArray kEfiSystemGuid = QByteArray::fromHex("28732AC11FF8D211BA4B00A0C93EC93B");

// A sector of the MBR's layout (boot code, four 16-byte entries from 446,
// the 55 AA mark) at a byte offset; empty when it is not there.
QByteArray readBootRecord(QIODevice &image, qint64 at)
{
    if (at < 0 || !image.seek(at))
        return {};
    const QByteArray b = image.read(512);
    if (b.size() < 512 || quint8(b[510]) != 0x55 || quint8(b[511]) != 0xAA)
        return {};
    return b;
}

// Sectors first to first + count as a byte window; false when it does not
// fit 64 bits.
bool byteWindow(quint64 first, quint64 count, qint64 sector, qint64 *offset, qint64 *length)
{
    const quint64 limit = quint64(INT64_MAX / sector);
    if (first > limit || count > limit - first)
        return false;
    *offset = qint64(first) * sector;
    *length = qint64(count) * sector;
    return true;
}

QList<PartitionEntry> readGpt(QIODevice &image, qint64 sector)
{
    QList<PartitionEntry> out;
    if (!image.seek(sector))
        return out;
    const QByteArray hdr = image.read(512);
    if (hdr.size() < 92 || !hdr.startsWith("EFI PART"))
        return out;
    const quint64 entriesLba = le64(hdr, 72);
    const quint32 count = qMin<quint32>(le32(hdr, 80), 128), size = le32(hdr, 84);
    if (size < 128 || size > 4096 || entriesLba > quint64(INT64_MAX / sector)
        || !image.seek(qint64(entriesLba) * sector))
        return out;
    const QByteArray table = image.read(qint64(count) * size);
    for (quint32 i = 0; i < count && qint64(i + 1) * size <= table.size(); ++i) {
        const QByteArray e = table.mid(qint64(i) * size, 56);
        const quint64 first = le64(e, 32), last = le64(e, 40);
        PartitionEntry p;
        p.number = int(i) + 1;
        if (first != 0 && last >= first && last < quint64(INT64_MAX / sector)) {
            p.offset = qint64(first) * sector;
            p.length = qint64(last - first + 1) * sector;
            p.efiSystem = e.startsWith(kEfiSystemGuid);
        }
        out.append(p);
    }
    return out;
}

// The logical partitions of the extended partition at sectors first to
// first + count, numbered on from *next: a chain of extended boot records,
// each holding the logical partition that follows it (relative to itself)
// and the link to the next record (relative to the extended partition).
// Entries 3 and 4 of a record count only inside the extended partition, as
// they often hold leftovers. A logical partition that leaves the image keeps
// its number but is no volume.
void readLogicalPartitions(QIODevice &image, qint64 sector, quint64 first, quint64 count, int *next,
                           QList<PartitionEntry> &out)
{
    const qint64 imageBytes = image.size();
    QSet<quint64> seen;
    quint64 at = first, linkSize = count;
    while (seen.size() < kMaxLogicalPartitions && *next - 5 < kMaxLogicalPartitions && !seen.contains(at)) {
        seen.insert(at);
        qint64 offset = 0, length = 0;
        if (!byteWindow(at, 1, sector, &offset, &length) || offset > imageBytes - 512)
            return;
        const QByteArray ebr = readBootRecord(image, offset);
        if (ebr.isEmpty())
            return;
        for (int i = 0; i < 4 && *next - 5 < kMaxLogicalPartitions; ++i) {
            const int o = 446 + i * 16;
            const quint64 start = le32(ebr, o + 8), sectors = le32(ebr, o + 12);
            if (sectors == 0 || isExtendedType(quint8(ebr[o + 4])))
                continue;
            if (i >= 2 && (start + sectors > linkSize || at + start + sectors > first + count))
                continue;
            PartitionEntry p;
            p.number = (*next)++;
            p.efiSystem = quint8(ebr[o + 4]) == 0xEF;
            if (byteWindow(at + start, sectors, sector, &offset, &length) && offset < imageBytes
                && length <= imageBytes - offset) {
                p.offset = offset;
                p.length = length;
            }
            out.append(p);
        }
        int link = 446;
        while (link < 510 && (le32(ebr, link + 12) == 0 || !isExtendedType(quint8(ebr[link + 4]))))
            link += 16;
        if (link == 510)
            return;
        at = first + le32(ebr, link + 8);
        linkSize = le32(ebr, link + 12);
    }
}

} // namespace

QList<PartitionEntry> readPartitionTable(QIODevice &image, qint64 sectorSize)
{
    QList<PartitionEntry> out;
    if (sectorSize < 512)
        return out;
    const QByteArray mbr = readBootRecord(image, 0);
    if (mbr.isEmpty())
        return out;
    if (quint8(mbr[446 + 4]) == 0xEE)
        return readGpt(image, sectorSize);
    for (int n = 1; n <= 4; ++n) {
        const int o = 446 + (n - 1) * 16;
        const quint8 type = quint8(mbr[o + 4]);
        PartitionEntry p;
        p.number = n;
        if (type != 0 && byteWindow(le32(mbr, o + 8), le32(mbr, o + 12), sectorSize, &p.offset, &p.length)) {
            p.efiSystem = type == 0xEF;
            p.extended = isExtendedType(type) && p.length > 0;
        }
        out.append(p);
    }
    int next = 5;
    for (int n = 1; n <= 4; ++n) {
        const int o = 446 + (n - 1) * 16;
        if (out[n - 1].extended)
            readLogicalPartitions(image, sectorSize, le32(mbr, o + 8), le32(mbr, o + 12), &next, out);
    }
    return out;
}

} // namespace plat
