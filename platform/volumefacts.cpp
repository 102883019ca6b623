#include "platform/volumefacts.h"

#include "platform/text.h"
#include "ntfs/fennick_boot.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

namespace plat {

namespace {

quint32 u8(const QByteArray &b, int o) { return o < b.size() ? quint8(b[o]) : 0; }
quint32 u16(const QByteArray &b, int o) { return u8(b, o) | (u8(b, o + 1) << 8); }
quint32 u32(const QByteArray &b, int o) { return u16(b, o) | (u16(b, o + 2) << 16); }
quint64 u64(const QByteArray &b, int o) { return quint64(u32(b, o)) | (quint64(u32(b, o + 4)) << 32); }

bool powerOfTwo(quint64 v) { return v && !(v & (v - 1)); }

constexpr qint64 kMaxFatBytes = 512ll * 1024 * 1024;

// The label entry of a FAT root folder: attribute bit 3 set, not a long-name
// entry, not deleted; the listing ends at a first byte 0.
std::optional<QString> labelInEntries(const QByteArray &dir, bool *ended)
{
    for (int i = 0; i + 32 <= dir.size(); i += 32) {
        const quint8 first = quint8(dir[i]);
        if (first == 0) {
            *ended = true;
            return std::nullopt;
        }
        const quint8 attr = quint8(dir[i + 11]);
        if (first == 0xE5 || attr == 0x0F || !(attr & 0x08) || (attr & 0x10))
            continue;
        QByteArray raw = dir.mid(i, 11);
        if (first == 0x05)
            raw[0] = char(0xE5);
        QString label = fromOem(raw);
        while (label.endsWith(' '))
            label.chop(1);
        return label;
    }
    return std::nullopt;
}

// Next cluster of a FAT chain read straight from the volume.
quint32 nextCluster(const VolumeReadFn &read, const FatLayout &l, quint32 cluster)
{
    const qint64 fatStart = qint64(l.reservedSectors) * l.bytesPerSector;
    if (l.fatBits == 32) {
        QByteArray e = read(fatStart + qint64(cluster) * 4, 4);
        return e.size() == 4 ? (u32(e, 0) & 0x0FFFFFFF) : 0x0FFFFFFF;
    }
    if (l.fatBits == 16) {
        QByteArray e = read(fatStart + qint64(cluster) * 2, 2);
        return e.size() == 2 ? u16(e, 0) : 0xFFFF;
    }
    QByteArray e = read(fatStart + qint64(cluster) * 3 / 2, 2);
    if (e.size() != 2)
        return 0xFFF;
    quint32 v = u16(e, 0);
    return (cluster & 1) ? (v >> 4) : (v & 0xFFF);
}

QString fatLabel(const VolumeReadFn &read, const FatLayout &l)
{
    bool ended = false;
    if (l.fatBits != 32) {
        const qint64 start = (qint64(l.reservedSectors) + qint64(l.fats) * l.sectorsPerFat) * l.bytesPerSector;
        QByteArray dir = read(start, qint64(l.rootDirSectors) * l.bytesPerSector);
        return labelInEntries(dir, &ended).value_or(QString());
    }
    const qint64 clusterBytes = qint64(l.sectorsPerCluster) * l.bytesPerSector;
    quint32 c = l.rootCluster;
    for (quint64 steps = 0; c >= 2 && c < l.clusterCount + 2 && steps < 4096 && !ended; ++steps) {
        QByteArray dir = read(qint64(l.firstDataSector + quint64(c - 2) * l.sectorsPerCluster) * l.bytesPerSector,
                              clusterBytes);
        if (dir.isEmpty())
            break;
        if (auto label = labelInEntries(dir, &ended))
            return *label;
        c = nextCluster(read, l, c);
    }
    return {};
}

quint64 fatFreeClusters(const VolumeReadFn &read, const FatLayout &l)
{
    quint64 free = 0;
    forEachFatEntry(read, l, [&free](quint64, qint64 v) {
        if (v < 0)
            return false;
        if (v == 0)
            ++free;
        return true;
    });
    return free;
}

bool isExfat(const QByteArray &b) { return b.size() >= 512 && b.mid(3, 8) == "EXFAT   "; }
bool isNtfs(const QByteArray &b) { return b.size() >= 512 && b.mid(3, 8) == "NTFS    "; }

// Free clusters of an exFAT volume from its allocation bitmap, read a piece
// at a time; only the clusters whose bits the medium delivers count.
quint64 exfatFree(const VolumeReadFn &read, const ExfatLayout &l)
{
    const auto bm = exfatBitmapOf(read, l);
    if (!bm)
        return 0;
    constexpr qint64 kPiece = 1 << 20;
    const quint64 count = l.clusterCount;
    const qint64 bytes = qint64((count + 7) / 8);
    quint64 used = 0, known = 0;
    for (qint64 at = 0; at < bytes; at += kPiece) {
        const qint64 want = qMin(kPiece, bytes - at);
        const QByteArray bits = read(bm->offset + at, want);
        for (qsizetype i = 0; i < bits.size(); ++i) {
            quint32 v = quint8(bits[i]);
            const quint64 firstBit = quint64(at + i) * 8;
            if (firstBit + 8 > count)
                v &= (1u << (count - firstBit)) - 1;   // bits past the last cluster
            used += quint64(__builtin_popcount(v));
        }
        known = qMin(count, quint64(at + bits.size()) * 8);
        if (bits.size() < want)
            break;
    }
    return known - qMin(known, used);
}

} // namespace

std::optional<FatLayout> parseFatLayout(const QByteArray &b, qint64 mediumBytes)
{
    if (b.size() < 512 || isNtfs(b) || isExfat(b))
        return std::nullopt;
    FatLayout l;
    l.bytesPerSector = u16(b, 11);
    l.sectorsPerCluster = u8(b, 13);
    l.reservedSectors = u16(b, 14);
    l.fats = u8(b, 16);
    l.rootEntries = u16(b, 17);
    l.totalSectors = u16(b, 19) ? u16(b, 19) : u32(b, 32);
    const quint32 fat16Size = u16(b, 22);
    l.sectorsPerFat = fat16Size ? fat16Size : u32(b, 36);
    if (l.bytesPerSector < 512 || l.bytesPerSector > 4096 || !powerOfTwo(l.bytesPerSector)
        || !powerOfTwo(l.sectorsPerCluster) || l.reservedSectors == 0 || l.fats == 0 || l.fats > 4
        || l.totalSectors == 0 || l.sectorsPerFat == 0)
        return std::nullopt;
    const quint8 media = u8(b, 21);
    if (media != 0xF0 && media < 0xF8)
        return std::nullopt;
    if (l.sectorsPerFat * l.bytesPerSector > quint64(kMaxFatBytes))
        return std::nullopt;
    l.rootDirSectors = (quint64(l.rootEntries) * 32 + l.bytesPerSector - 1) / l.bytesPerSector;
    const quint64 meta = l.reservedSectors + quint64(l.fats) * l.sectorsPerFat + l.rootDirSectors;
    if (meta >= l.totalSectors)
        return std::nullopt;
    l.firstDataSector = meta;
    l.clusterCount = (l.totalSectors - meta) / l.sectorsPerCluster;
    const quint64 dataEnd = meta + l.clusterCount * l.sectorsPerCluster;
    if (fat16Size == 0)
        l.fatBits = 32;
    else if (l.clusterCount < 4085)
        l.fatBits = 12;
    else if (l.clusterCount < 65525)
        l.fatBits = 16;
    else
        l.fatBits = 32;
    // The FAT must have an entry for every cluster.
    const quint64 fatBytes = l.sectorsPerFat * l.bytesPerSector;
    const quint64 entries = l.fatBits == 12 ? fatBytes * 2 / 3 : fatBytes / (l.fatBits / 8);
    if (entries < 3)
        return std::nullopt;
    l.clusterCount = qMin<quint64>(l.clusterCount, entries - 2);
    l.rootCluster = l.fatBits == 32 ? u32(b, 44) : 0;
    if (l.clusterCount == 0)
        return std::nullopt;
    // Reserved sectors, FATs, root folder and every cluster the stated total
    // makes lie on the medium. The sectors it counts after the last cluster
    // may be missing (imaging tools and card readers often leave off the
    // last sector): nothing of the file system lies there.
    if (mediumBytes >= 0 && dataEnd > quint64(mediumBytes) / l.bytesPerSector)
        return std::nullopt;
    return l;
}

std::optional<ExfatLayout> parseExfatLayout(const QByteArray &b, qint64 mediumBytes)
{
    if (!isExfat(b))
        return std::nullopt;
    const quint32 bpsShift = u8(b, 108), spcShift = u8(b, 109);
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift)
        return std::nullopt;
    ExfatLayout l;
    l.bytesPerSector = 1u << bpsShift;
    l.sectorsPerCluster = 1u << spcShift;
    l.heapOffset = u32(b, 88);
    l.clusterCount = u32(b, 92);
    l.rootCluster = u32(b, 96);
    if (l.clusterCount == 0 || l.heapOffset == 0)
        return std::nullopt;
    if (mediumBytes >= 0) {
        const quint64 mediumSectors = quint64(mediumBytes) / l.bytesPerSector;
        if (l.heapOffset >= mediumSectors || l.clusterCount > (mediumSectors - l.heapOffset) / l.sectorsPerCluster)
            return std::nullopt;
    }
    return l;
}

std::optional<NtfsLayout> parseNtfsLayout(const QByteArray &b, qint64 mediumBytes)
{
    fennick_core::Geometry g;
    if (!isNtfs(b) || !fennick_core::parseBootSector(reinterpret_cast<const uint8_t *>(b.constData()), &g))
        return std::nullopt;
    NtfsLayout l;
    l.bytesPerSector = g.bytesPerSector;
    l.sectorsPerCluster = g.clusterSize / g.bytesPerSector;
    l.recordBytes = g.recordSize;
    l.clusterCount = g.totalSectors / l.sectorsPerCluster;
    l.mftOffset = g.mftLcn * g.clusterSize;
    if (l.clusterCount == 0)
        return std::nullopt;
    // Every whole cluster lies on the medium; the sectors of a last, partial
    // cluster hold nothing of the file system.
    if (mediumBytes >= 0
        && (l.clusterCount > quint64(mediumBytes) / g.clusterSize || l.mftOffset + l.recordBytes > quint64(mediumBytes)))
        return std::nullopt;
    return l;
}

std::optional<ExfatBitmap> exfatBitmapOf(const VolumeReadFn &read, const ExfatLayout &l)
{
    const qint64 clusterBytes = qint64(l.sectorsPerCluster) * l.bytesPerSector;
    auto clusterOffset = [&l](quint32 c) {
        return (qint64(l.heapOffset) + qint64(c - 2) * l.sectorsPerCluster) * l.bytesPerSector;
    };
    if (l.rootCluster < 2 || l.rootCluster - 2 >= l.clusterCount)
        return std::nullopt;
    // The root folder's first cluster, a piece at a time: the entry stands
    // near its start.
    constexpr qint64 kPiece = 64 * 1024;
    for (qint64 at = 0; at < clusterBytes; at += kPiece) {
        const QByteArray dir = read(clusterOffset(l.rootCluster) + at, qMin(kPiece, clusterBytes - at));
        for (int i = 0; i + 32 <= dir.size(); i += 32) {
            if (quint8(dir[i]) == 0)
                return std::nullopt;
            if (quint8(dir[i]) != 0x81)
                continue;
            const quint32 first = u32(dir, i + 20);
            const quint64 length = u64(dir, i + 24);
            const quint64 need = (quint64(l.clusterCount) + 7) / 8;
            if (first < 2 || first - 2 >= l.clusterCount || length < need || length > need + quint64(clusterBytes))
                return std::nullopt;
            return ExfatBitmap{first, length, clusterOffset(first)};
        }
        if (dir.size() < qMin(kPiece, clusterBytes - at))
            break;
    }
    return std::nullopt;
}

void forEachFatEntry(const VolumeReadFn &read, const FatLayout &l, const std::function<bool(quint64, qint64)> &fn)
{
    const qint64 fatStart = qint64(l.reservedSectors) * l.bytesPerSector;
    auto entryByte = [&l](quint64 c) -> qint64 {
        return l.fatBits == 32 ? qint64(c) * 4 : l.fatBits == 16 ? qint64(c) * 2 : qint64(c) * 3 / 2;
    };
    constexpr quint64 kPiece = 1 << 18;   // entries a read: 1 MiB of FAT32
    const quint64 end = l.clusterCount + 2;
    for (quint64 c0 = 2; c0 < end; c0 += kPiece) {
        const quint64 c1 = qMin(end, c0 + kPiece);
        const qint64 b0 = entryByte(c0), b1 = entryByte(c1 - 1) + (l.fatBits == 32 ? 4 : 2);
        const QByteArray piece = read(fatStart + b0, b1 - b0);
        for (quint64 c = c0; c < c1; ++c) {
            const int o = int(entryByte(c) - b0);
            qint64 v = -1;
            if (l.fatBits == 32) {
                if (o + 4 <= piece.size())
                    v = u32(piece, o) & 0x0FFFFFFF;
            } else if (o + 2 <= piece.size()) {
                const quint32 w = u16(piece, o);
                v = l.fatBits == 16 ? w : (c & 1) ? w >> 4 : w & 0xFFF;
            }
            if (!fn(c, v))
                return;
        }
    }
}

std::optional<VolumeInfo> ownVolumeInfo(const VolumeReadFn &read, qint64 mediumBytes)
{
    const QByteArray b = read(0, 512);
    if (b.size() < 512)
        return std::nullopt;
    if (isNtfs(b)) {
        if (!parseNtfsLayout(b, mediumBytes))
            return std::nullopt;
        return VolumeInfo{QString(), u32(b, 72), QStringLiteral("NTFS")};
    }
    if (isExfat(b)) {
        if (!parseExfatLayout(b, mediumBytes))
            return std::nullopt;
        return VolumeInfo{QString(), u32(b, 100), QStringLiteral("exFAT")};
    }
    auto l = parseFatLayout(b, mediumBytes);
    if (!l)
        return std::nullopt;
    VolumeInfo info;
    const int sigAt = l->fatBits == 32 ? 66 : 38;
    if (u8(b, sigAt) == 0x28 || u8(b, sigAt) == 0x29)
        info.serial = u32(b, sigAt + 1);
    info.fsName = l->fatBits == 32 ? QStringLiteral("FAT32") : QStringLiteral("FAT");
    info.label = fatLabel(read, *l);
    return info;
}

std::optional<DiskGeometry> ownGeometry(const VolumeReadFn &read, qint64 mediumBytes)
{
    const QByteArray b = read(0, 512);
    if (b.size() < 512)
        return std::nullopt;
    if (isNtfs(b)) {
        const auto n = parseNtfsLayout(b, mediumBytes);
        if (!n)
            return std::nullopt;
        return DiskGeometry{n->sectorsPerCluster, n->bytesPerSector, 0, n->clusterCount};
    }
    if (isExfat(b)) {
        const auto x = parseExfatLayout(b, mediumBytes);
        if (!x)
            return std::nullopt;
        return DiskGeometry{x->sectorsPerCluster, x->bytesPerSector, exfatFree(read, *x), x->clusterCount};
    }
    auto l = parseFatLayout(b, mediumBytes);
    if (!l)
        return std::nullopt;
    return DiskGeometry{l->sectorsPerCluster, l->bytesPerSector, fatFreeClusters(read, *l), l->clusterCount};
}

std::optional<BlkidFacts> probeBlkid(const QString &nativePath, qint64 offset, qint64 length)
{
    const int fd = ::open(nativePath.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<BlkidFacts> result;
    blkid_probe pr = blkid_new_probe();
    if (pr && blkid_probe_set_device(pr, fd, offset, length < 0 ? 0 : length) == 0) {
        blkid_probe_enable_superblocks(pr, 1);
        blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
        if (blkid_do_safeprobe(pr) == 0) {
            BlkidFacts f;
            const char *v = nullptr;
            if (blkid_probe_lookup_value(pr, "TYPE", &v, nullptr) == 0 && v)
                f.type = QString::fromUtf8(v);
            if (blkid_probe_lookup_value(pr, "LABEL", &v, nullptr) == 0 && v)
                f.label = QString::fromUtf8(v);
            if (blkid_probe_lookup_value(pr, "UUID", &v, nullptr) == 0 && v)
                f.uuid = QString::fromUtf8(v);
            if (!f.type.isEmpty())
                result = f;
        }
    }
    if (pr)
        blkid_free_probe(pr);
    ::close(fd);
    return result;
}

QString windowsFsName(const QString &type)
{
    const QString t = type.toLower();
    if (t == "vfat" || t == "msdos" || t == "fat12" || t == "fat16")
        return QStringLiteral("FAT");
    if (t == "fat32")
        return QStringLiteral("FAT32");
    if (t == "ntfs" || t == "ntfs3" || t == "fuseblk")
        return QStringLiteral("NTFS");
    if (t == "exfat")
        return QStringLiteral("exFAT");
    if (t == "iso9660")
        return QStringLiteral("CDFS");
    if (t == "udf")
        return QStringLiteral("UDF");
    if (t == "hfs")
        return QStringLiteral("HFS");
    if (t == "hfsplus")
        return QStringLiteral("HFS+");
    return type;
}

quint32 serialFromUuid(const QString &uuid, const QString &type)
{
    QString hex;
    for (QChar c : uuid)
        if (c.isDigit() || (c.toLower() >= 'a' && c.toLower() <= 'f'))
            hex += c;
    if (hex.isEmpty())
        return 0;
    const bool ntfs = type.compare("ntfs", Qt::CaseInsensitive) == 0;
    const QString part = ntfs ? hex.right(8) : hex.left(8);
    return part.toUInt(nullptr, 16);
}

quint32 isoSerial(const QByteArray &d)
{
    quint8 sum[4] = {0, 0, 0, 0};
    for (int i = 0; i < d.size() && i < 2048; ++i)
        sum[i % 4] = quint8(sum[i % 4] + quint8(d[i]));
    return (quint32(sum[0]) << 24) | (quint32(sum[1]) << 16) | (quint32(sum[2]) << 8) | sum[3];
}

} // namespace plat
