#include "tests/support/hostile_media.h"

#include "tests/support/fixtures.h"

#include <QFile>
#include <QRegularExpression>

namespace testing_support {

namespace {

QByteArray le(quint64 v, int bytes)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

struct Patch {
    qint64 offset;
    QByteArray bytes;
};

// A copy of base with the patches applied; an empty text on failure.
QString patched(const QString &base, const QString &path, const QList<Patch> &patches)
{
    QFile::remove(path);
    if (!QFile::copy(base, path) || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner))
        return {};
    for (const Patch &p : patches)
        if (!patchFile(path, p.offset, p.bytes))
            return {};
    return path;
}

QString blankImage(const QString &path, qint64 bytes)
{
    QFile::remove(path);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(bytes))
        return {};
    return path;
}

// The offset of the exFAT bitmap entry's length in the root folder's first
// cluster, or -1.
qint64 exfatBitmapLengthAt(const QByteArray &img)
{
    if (img.size() < 512)
        return -1;
    auto u32 = [&img](qint64 o) {
        return quint32(quint8(img[o])) | quint32(quint8(img[o + 1])) << 8 | quint32(quint8(img[o + 2])) << 16
            | quint32(quint8(img[o + 3])) << 24;
    };
    const qint64 bps = qint64(1) << quint8(img[108]), spc = qint64(1) << quint8(img[109]);
    const qint64 heap = u32(88), root = u32(96);
    const qint64 at = (heap + (root - 2) * spc) * bps;
    for (qint64 i = 0; i < spc * bps && at + i + 32 <= img.size(); i += 32)
        if (quint8(img[at + i]) == 0x81)
            return at + i + 24;
    return -1;
}

} // namespace

QList<HostileMedium> makeHostileMedia(const QString &dir, const QByteArray &picture)
{
    struct Made {
        QString name;
        QString base;
        QList<Patch> patches;
        bool fits;
        qint64 truncateTo = -1;
    };
    QList<Made> made;

    if (haveTool("mkfs.fat")) {
        FatImageSpec spec;
        spec.sectorsPerCluster = 1;
        spec.fatBits = 12;
        spec.sizeKiB = 1440;
        const QString fat12 = makeFatImage(dir, "base12.img", spec);
        spec.fatBits = 16;
        spec.sizeKiB = 4096;
        const QString fat16 = makeFatImage(dir, "base16.img", spec);
        spec.fatBits = 32;
        spec.sizeKiB = 40960;
        const QString fat32 = makeFatImage(dir, "base32.img", spec);
        if (!fat12.isEmpty())
            made.append({"fat12-total16", fat12, {{19, le(0xFFFF, 2)}}, false});
        if (!fat16.isEmpty()) {
            made.append({"fat16-sectors-per-fat", fat16, {{22, le(58050, 2)}}, false});
            made.append({"fat16-total32", fat16, {{19, le(0, 2)}, {32, le(0xFFFFFFF0, 4)}}, false});
            made.append({"fat16-root-entries", fat16, {{17, le(0xFFF0, 2)}}, true});
            made.append({"fat16-cut-in-half", fat16, {}, false, 2048 * 1024});
        }
        if (!fat32.isEmpty()) {
            made.append({"fat32-fat-of-512MiB", fat32, {{32, le(0xFFFFFFF0, 4)}, {36, le(1048576, 4)}}, false});
            made.append({"fat32-root-cluster", fat32, {{44, le(0x0FFFFFF0, 4)}}, true});
        }
    }
    if (haveTool("mkfs.exfat")) {
        const QString base = blankImage(dir + "/baseex.img", 8 << 20);
        if (!base.isEmpty() && runTool("mkfs.exfat", {base}) == 0) {
            const qint64 lengthAt = exfatBitmapLengthAt(readFileBytes(base));
            if (lengthAt > 0)
                made.append({"exfat-cluster-count",
                             base,
                             {{92, le(0xFFFFFFF0, 4)}, {lengthAt, le((0xFFFFFFF0ull + 7) / 8, 8)}},
                             false});
            made.append({"exfat-heap-offset", base, {{88, le(0x01000000, 4)}}, false});
        }
    }
    if (haveTool("mkntfs")) {
        const QString base = blankImage(dir + "/basent.img", 8 << 20);
        if (!base.isEmpty() && runTool("mkntfs", {"-F", "-Q", "-q", "-c", "4096", base}) == 0) {
            made.append({"ntfs-total-8x(2^40-1)", base, {{0x28, le(8 * ((1ull << 40) - 1), 8)}}, false});
            made.append({"ntfs-total-8x2^36", base, {{0x28, le(8ull << 36, 8)}}, false});
            made.append({"ntfs-total-2^64-1", base, {{0x28, le(~0ull, 8)}}, false});
            made.append({"ntfs-cluster-byte-0x90", base, {{13, le(0x90, 1)}}, false});
            made.append({"ntfs-cluster-byte-0x81", base, {{13, le(0x81, 1)}}, false});
            made.append({"ntfs-record-byte-0xBC", base, {{0x40, le(0xBC, 1)}}, false});
            made.append({"ntfs-mft-cluster-2^40", base, {{0x30, le(1ull << 40, 8)}}, false});
        }
    }

    QList<HostileMedium> out;
    for (const Made &m : made) {
        QString name = m.name;
        name.replace(QRegularExpression("[^A-Za-z0-9-]"), "_");
        HostileMedium h;
        h.name = m.name;
        h.image = patched(m.base, dir + "/" + name + ".img", m.patches);
        if (h.image.isEmpty())
            continue;
        if (m.truncateTo > 0 && !QFile::resize(h.image, m.truncateTo))
            continue;
        h.mediumBytes = QFile(h.image).size();
        h.fits = m.fits;
        if (!picture.isEmpty()) {
            h.pictureOffset = (h.mediumBytes - 256 * 1024) & ~qint64(4095);
            if (!patchFile(h.image, h.pictureOffset, picture))
                continue;
        }
        out.append(h);
    }
    return out;
}

} // namespace testing_support
