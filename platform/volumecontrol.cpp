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

// The whole bitmap of a volume, one bit a cluster, set = in use.
struct FullBitmap {
    QByteArray bits;
    quint64 clusters = 0;   // number of cluster numbers, 0 .. clusters-1
    QElapsedTimer age;
};

VolumeReadFn readerOf(Handle &h)
{
    return [&h](qint64 offset, qint64 length) { return h.readAt(offset, length); };
}

void setBit(QByteArray &bits, quint64 c) { bits[qsizetype(c / 8)] = char(quint8(bits[qsizetype(c / 8)]) | (1u << (c % 8))); }

// NTFS keeps its bitmap in the $DATA of record 6 of the master file table,
// which lies in the table's first run. The record is read here; the library
// decodes its runs and reads the data.
bool ntfsBitmap(Handle &h, const NtfsLayout &l, FullBitmap *bm)
{
    const quint64 recordSize = l.recordBytes;
    QByteArray rec = h.readAt(qint64(l.mftOffset + 6 * recordSize), qint64(recordSize));
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
    // A volume inside a larger file: the library reads inside its window.
    const QByteArray native =
        windowPath(QStringLiteral("/proc/self/fd/%1").arg(h.fd), h.windowOffset, h.windowLength).toLocal8Bit();
    const FennickHandle v = OpenVolume(native.constData());
    if (v == FENNICK_INVALID_HANDLE)
        return false;
    bool ok = false;
    const void *attr = FindUnnamedAttribute(rec.data(), 0x80);
    if (attr && quint8(static_cast<const char *>(attr)[8]) == 1) {
        // One bit for each cluster the medium holds: the layout has checked
        // the volume against it.
        bm->clusters = l.clusterCount;
        bm->bits = QByteArray(qsizetype((l.clusterCount + 7) / 8), '\0');
        uint64_t vcn = 0;
        const int64_t bytes = bm->bits.size();
        ok = ReadVCN(v, attr, &vcn, &bytes, bm->bits.data()) == 1;
    }
    CloseVolume(v);
    return ok;
}

std::optional<FullBitmap> computeBitmap(Handle &h)
{
    const QByteArray boot = h.readAt(0, 512);
    if (boot.size() < 512)
        return std::nullopt;
    const qint64 medium = h.size();
    const VolumeReadFn read = readerOf(h);
    FullBitmap bm;
    if (auto l = parseFatLayout(boot, medium)) {
        bm.clusters = l->clusterCount + 2;
        bm.bits = QByteArray(qsizetype((bm.clusters + 7) / 8), '\0');
        setBit(bm.bits, 0);
        setBit(bm.bits, 1);
        // An entry the medium does not deliver counts as in use.
        forEachFatEntry(read, *l, [&bm](quint64 c, qint64 v) {
            if (v != 0)
                setBit(bm.bits, c);
            return true;
        });
    } else if (auto x = parseExfatLayout(boot, medium)) {
        const auto entry = exfatBitmapOf(read, *x);
        if (!entry)
            return std::nullopt;
        const quint64 count = x->clusterCount;
        const QByteArray raw = h.readAt(entry->offset, qint64((count + 7) / 8));
        bm.clusters = count + 2;
        bm.bits = QByteArray(qsizetype((bm.clusters + 7) / 8), '\0');
        setBit(bm.bits, 0);
        setBit(bm.bits, 1);
        for (quint64 i = 0; i < count; ++i) {
            const bool used = qsizetype(i / 8) >= raw.size() || (quint8(raw[qsizetype(i / 8)]) & (1u << (i % 8)));
            if (used)
                setBit(bm.bits, i + 2);
        }
    } else if (auto n = parseNtfsLayout(boot, medium)) {
        if (!ntfsBitmap(h, *n, &bm))
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

// A volume by the file or device behind its handle and its window: asked
// for every cluster a listing judges, so kept cheap.
struct VolumeKey {
    quint64 dev = 0, ino = 0, rdev = 0;
    qint64 offset = 0;
    bool operator==(const VolumeKey &) const = default;
};
size_t qHash(const VolumeKey &k, size_t seed) { return qHashMulti(seed, k.dev, k.ino, k.rdev, k.offset); }

QHash<VolumeKey, FullBitmap> &cache()
{
    static QHash<VolumeKey, FullBitmap> c;
    return c;
}

VolumeKey keyOf(const Handle &h)
{
    struct stat st {};
    if (fstat(h.fd, &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino), quint64(st.st_rdev), h.windowOffset};
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
    const VolumeKey key = keyOf(volume);
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
