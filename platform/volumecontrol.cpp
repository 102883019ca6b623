#include "platform/volumecontrol.h"

#include "platform/drives.h"
#include "platform/volumefacts.h"
#include "ntfs/fennick.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <limits>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

quint32 le16(const QByteArray &b, qsizetype o)
{
    return o + 1 < b.size() ? quint32(quint8(b[o])) | quint32(quint8(b[o + 1])) << 8 : 0;
}
quint32 le32(const QByteArray &b, qsizetype o) { return le16(b, o) | le16(b, o + 2) << 16; }
quint64 le64(const QByteArray &b, qsizetype o) { return quint64(le32(b, o)) | quint64(le32(b, o + 4)) << 32; }

// The whole bitmap of a volume, one bit a cluster, set = in use.
struct FullBitmap {
    QByteArray bits;
    quint64 clusters = 0;   // number of cluster numbers, 0 .. clusters-1
    QElapsedTimer age;
};

QByteArray readAt(Handle &h, qint64 offset, qint64 length) { return h.readAt(offset, length); }

void setBit(QByteArray &bits, quint64 c) { bits[qsizetype(c / 8)] = char(quint8(bits[qsizetype(c / 8)]) | (1u << (c % 8))); }

// NTFS keeps its bitmap in the $DATA of record 6 of the master file table,
// which lies in the table's first run. The record is read here; the library
// decodes its runs and reads the data.
bool ntfsBitmap(Handle &h, const QByteArray &boot, FullBitmap *bm)
{
    if (h.windowOffset != 0)
        return false;   // the library reads a volume from its file's start
    const quint32 bps = le16(boot, 11), spcByte = quint8(boot[13]);
    const quint64 spc = spcByte <= 0x80 ? spcByte : (spcByte >= 0xF4 ? (1ull << (256 - spcByte)) : 0);
    const qint32 perRecord = qint8(quint8(boot[64]));
    if (bps < 256 || bps > 4096 || (bps & (bps - 1)) || spc == 0)
        return false;
    const quint64 cluster = quint64(bps) * spc;
    const quint64 recordSize = perRecord < 0 ? (1ull << -perRecord) : quint64(perRecord) * cluster;
    const quint64 clusters = le64(boot, 40) * bps / cluster;
    if (recordSize < 512 || recordSize > 65536 || clusters == 0 || clusters > (1ull << 40))
        return false;
    QByteArray rec = readAt(h, qint64(le64(boot, 48) * cluster + 6 * recordSize), qint64(recordSize));
    if (quint64(rec.size()) != recordSize || !rec.startsWith("FILE"))
        return false;
    // The update-sequence fix-up: word i goes to the end of 512-byte block i - 1.
    const quint32 usaOffset = le16(rec, 4), usaCount = le16(rec, 6);
    if (usaCount < 2 || usaOffset + usaCount * 2 > recordSize || (usaCount - 1) * 512 > recordSize)
        return false;
    for (quint32 i = 1; i < usaCount; ++i) {
        const qsizetype end = qsizetype(i) * 512 - 2;
        if (rec.mid(end, 2) != rec.mid(usaOffset, 2))
            return false;
        rec[end] = rec[usaOffset + 2 * i];
        rec[end + 1] = rec[usaOffset + 2 * i + 1];
    }
    const QByteArray path = QStringLiteral("/proc/self/fd/%1").arg(h.fd).toLocal8Bit();
    const FennickHandle v = OpenVolume(path.constData());
    if (v == FENNICK_INVALID_HANDLE)
        return false;
    bool ok = false;
    const void *attr = FindUnnamedAttribute(rec.data(), 0x80);
    if (attr && quint8(static_cast<const char *>(attr)[8]) == 1) {
        bm->clusters = clusters;
        bm->bits = QByteArray(qsizetype((clusters + 7) / 8), '\0');
        uint64_t vcn = 0;
        const int64_t bytes = bm->bits.size();
        ok = ReadVCN(v, attr, &vcn, &bytes, bm->bits.data()) == 1;
    }
    CloseVolume(v);
    return ok;
}

std::optional<FullBitmap> computeBitmap(Handle &h)
{
    const QByteArray boot = readAt(h, 0, 512);
    if (boot.size() < 512)
        return std::nullopt;
    FullBitmap bm;
    if (auto l = parseFatLayout(boot)) {
        bm.clusters = l->clusterCount + 2;
        bm.bits = QByteArray(qsizetype((bm.clusters + 7) / 8), '\0');
        const QByteArray fat = readAt(h, qint64(l->reservedSectors) * l->bytesPerSector,
                                      qint64(l->sectorsPerFat) * l->bytesPerSector);
        setBit(bm.bits, 0);
        setBit(bm.bits, 1);
        for (quint64 c = 2; c < bm.clusters; ++c) {
            quint32 v = 1;   // a FAT shorter than the volume: counted in use
            if (l->fatBits == 32 && qsizetype(c * 4 + 4) <= fat.size())
                v = le32(fat, qsizetype(c * 4)) & 0x0FFFFFFF;
            else if (l->fatBits == 16 && qsizetype(c * 2 + 2) <= fat.size())
                v = le16(fat, qsizetype(c * 2));
            else if (l->fatBits == 12 && qsizetype(c * 3 / 2 + 2) <= fat.size()) {
                const quint32 w = le16(fat, qsizetype(c * 3 / 2));
                v = (c & 1) ? w >> 4 : w & 0xFFF;
            }
            if (v != 0)
                setBit(bm.bits, c);
        }
    } else if (boot.mid(3, 8) == "EXFAT   ") {
        const quint32 bpsShift = quint8(boot[108]), spcShift = quint8(boot[109]);
        if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift)
            return std::nullopt;
        const qint64 bps = qint64(1) << bpsShift, spc = qint64(1) << spcShift;
        const quint64 heap = le32(boot, 88), count = le32(boot, 92), root = le32(boot, 96);
        if (root < 2 || root - 2 >= count)
            return std::nullopt;
        const QByteArray dir = readAt(h, (qint64(heap) + qint64(root - 2) * spc) * bps, spc * bps);
        qsizetype at = -1;
        for (qsizetype i = 0; i + 32 <= dir.size() && quint8(dir[i]) != 0; i += 32)
            if (quint8(dir[i]) == 0x81) {
                at = i;
                break;
            }
        if (at < 0)
            return std::nullopt;
        const quint64 first = le32(dir, at + 20), length = le64(dir, at + 24);
        if (first < 2 || first - 2 >= count || length < (count + 7) / 8 || length > (count + 7) / 8 + quint64(spc * bps))
            return std::nullopt;
        const QByteArray raw = readAt(h, (qint64(heap) + qint64(first - 2) * spc) * bps, qint64((count + 7) / 8));
        bm.clusters = count + 2;
        bm.bits = QByteArray(qsizetype((bm.clusters + 7) / 8), '\0');
        setBit(bm.bits, 0);
        setBit(bm.bits, 1);
        for (quint64 i = 0; i < count; ++i) {
            const bool used = qsizetype(i / 8) >= raw.size() || (quint8(raw[qsizetype(i / 8)]) & (1u << (i % 8)));
            if (used)
                setBit(bm.bits, i + 2);
        }
    } else if (boot.mid(3, 8) == "NTFS    ") {
        if (!ntfsBitmap(h, boot, &bm))
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    // Padding bits past the last cluster read as in use.
    for (quint64 c = bm.clusters; c < quint64(bm.bits.size()) * 8; ++c)
        setBit(bm.bits, c);
    bm.age.start();
    return bm;
}

QHash<QString, FullBitmap> &cache()
{
    static QHash<QString, FullBitmap> c;
    return c;
}

QString keyOf(const Handle &h)
{
    struct stat st {};
    if (fstat(h.fd, &st) != 0)
        return {};
    return QStringLiteral("%1:%2:%3:%4").arg(st.st_dev).arg(st.st_ino).arg(st.st_rdev).arg(h.windowOffset);
}

bool diskHasMountedVolume(const DriveEntry &e)
{
    for (const DriveEntry &d : DriveTable::instance().entries())
        if (d.disk == e.disk && !d.mountPoint.isEmpty() && d.kind != DriveKind::VirtualImage
            && d.kind != DriveKind::VirtualFolder)
            return true;
    return false;
}

// START STOP UNIT through SG_IO: load = start with LoEj.
bool scsiStartStop(int fd, bool load)
{
    unsigned char allow[6] = {0x1E, 0, 0, 0, 0, 0};   // PREVENT ALLOW MEDIUM REMOVAL: allow
    unsigned char cdb[6] = {0x1B, 0, 0, 0, quint8(load ? 0x03 : 0x02), 0};
    unsigned char sense[32] = {};
    for (unsigned char *cmd : {allow, cdb}) {
        sg_io_hdr_t io {};
        io.interface_id = 'S';
        io.cmd_len = 6;
        io.cmdp = cmd;
        io.dxfer_direction = SG_DXFER_NONE;
        io.sbp = sense;
        io.mx_sb_len = sizeof(sense);
        io.timeout = 10000;
        if (ioctl(fd, SG_IO, &io) != 0 || (io.info & SG_INFO_OK_MASK) != SG_INFO_OK)
            if (cmd == cdb)
                return false;
    }
    return true;
}

bool mediaControl(QChar letter, bool load)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e)
        return false;
    if (e->kind == DriveKind::VirtualImage) {
        DriveTable::instance().setMediumPresent(letter, load);
        forgetVolumeBitmaps();
        return true;
    }
    if (e->kind == DriveKind::VirtualFolder || e->kind == DriveKind::NetworkMount || e->kind == DriveKind::RootFs
        || e->disk.isEmpty() || diskHasMountedVolume(*e))
        return false;
    const QString diskDev = "/dev/" + QFileInfo(e->disk).fileName();
    const int fd = ::open(diskDev.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fsync(fd);
    ioctl(fd, BLKFLSBUF, 0);
    bool ok;
    if (e->kind == DriveKind::OpticalSlot) {
        ioctl(fd, CDROM_LOCKDOOR, 0);
        ok = ioctl(fd, load ? CDROMCLOSETRAY : CDROMEJECT, 0) == 0;
    } else if (QFileInfo(e->disk).fileName().startsWith("mmcblk")) {
        ok = false;   // built-in card slots have no eject
    } else {
        ok = scsiStartStop(fd, load);
    }
    ::close(fd);
    forgetVolumeBitmaps();
    DriveTable::instance().refresh();
    return ok;
}

} // namespace

VolumeBitmap volumeBitmap(Handle &volume, qint64 startCluster, int maxBytes)
{
    VolumeBitmap out;
    if (!volume.valid() || startCluster < 0 || maxBytes <= 0)
        return out;
    const QString key = keyOf(volume);
    auto it = cache().find(key);
    if (it == cache().end() || it->age.elapsed() > 5000) {
        auto bm = computeBitmap(volume);
        if (!bm)
            return out;
        it = cache().insert(key, *bm);
    }
    const FullBitmap &bm = *it;
    out.startingLcn = quint64(startCluster) & ~quint64(7);
    if (out.startingLcn >= bm.clusters)
        return out;
    out.bitmapSize = bm.clusters - out.startingLcn;
    const qsizetype from = qsizetype(out.startingLcn / 8);
    const qsizetype avail = bm.bits.size() - from;
    const qsizetype take = qMin<qsizetype>(avail, maxBytes);
    out.bytes = bm.bits.mid(from, take);
    out.status = take < avail ? BitmapStatus::MoreData : BitmapStatus::Ok;
    return out;
}

std::optional<quint64> freeClustersOf(Handle &volume)
{
    const VolumeBitmap bm = volumeBitmap(volume, 0, std::numeric_limits<int>::max());
    if (bm.bytes.isEmpty())
        return std::nullopt;
    quint64 used = 0;
    for (char b : bm.bytes)
        used += quint64(__builtin_popcount(quint8(b)));
    const quint64 bits = quint64(bm.bytes.size()) * 8;
    return bits - used;
}

void forgetVolumeBitmaps() { cache().clear(); }

bool ejectMedia(QChar letter) { return mediaControl(letter.toUpper(), false); }
bool loadMedia(QChar letter) { return mediaControl(letter.toUpper(), true); }

} // namespace plat
