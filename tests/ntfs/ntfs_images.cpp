#include "tests/ntfs/ntfs_images.h"

#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <cstring>
#include <unistd.h>

using namespace testing_support;

namespace ntfs_test {

QByteArray contentBytes(qint64 size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) {
        const quint64 block = quint64(i) >> 9;
        const int k = int(i & 511);
        quint8 b;
        if (k < 8)
            b = quint8(block >> (8 * k));
        else if (k < 12)
            b = quint8(seed >> (8 * (k - 8)));
        else
            b = quint8(k * 7 + seed * 13 + 1);
        out[i] = char(b);
    }
    return out;
}

QByteArray ManifestEntry::expected() const
{
    const QByteArray all = contentBytes(size, seed);
    if (!sparse())
        return all;
    QByteArray out(size, '\0');
    for (const QString &range : extra.mid(7).split(',')) {
        const QStringList p = range.split('+');
        const qint64 off = p.value(0).toLongLong(), len = p.value(1).toLongLong();
        out.replace(off, len, all.mid(off, len));
    }
    return out;
}

QString ManifestEntry::dosName() const
{
    return extra.startsWith("dos=") ? extra.mid(4) : QString();
}

QList<ManifestEntry> readManifest(const QString &image)
{
    QList<ManifestEntry> out;
    QFile f(image + ".manifest");
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QStringList c = QString::fromUtf8(line).split('\t');
        if (c.size() != 5)
            continue;
        out.append({c[0], c[1], c[2].toLongLong(), c[3].toUInt(), c[4]});
    }
    return out;
}

const ManifestEntry *findEntry(const QList<ManifestEntry> &entries, const QString &path)
{
    for (const ManifestEntry &e : entries)
        if (e.path == path)
            return &e;
    return nullptr;
}

QString dataDir()
{
    return QDir::cleanPath(QStringLiteral(QUILVANE_TEST_SCRIPTS) + "/../ntfs/data");
}

QString committedImage(const QString &name)
{
    const QString dir = makeTempDir("ntfs");
    const QString xz = dir + "/" + name + ".img.xz";
    if (!QFile::copy(dataDir() + "/" + name + ".img.xz", xz)
        || !QFile::copy(dataDir() + "/" + name + ".img.manifest", dir + "/" + name + ".img.manifest"))
        return {};
    if (runTool("xz", {"-d", xz}) != 0)
        return {};
    return dir + "/" + name + ".img";
}

QString liveImage(const QString &layout, int sizeMiB, const QStringList &mkntfsOptions, QString *skip,
                  QString *error)
{
    if (geteuid() != 0 || !QFileInfo::exists("/dev/fuse") || !haveTool("ntfs-3g") || !haveTool("mkntfs")) {
        *skip = "making NTFS images needs root, /dev/fuse, ntfs-3g and mkntfs";
        return {};
    }
    const QString image = makeTempDir("ntfslive") + "/" + layout + ".img";
    QByteArray out;
    const int rc = runTool("python3",
                           QStringList{dataDir() + "/make_ntfs_image.py", image, layout, QString::number(sizeMiB)}
                               + mkntfsOptions,
                           &out);
    if (rc == 77) {
        *skip = "this machine cannot mount an ntfs-3g FUSE file system: " + QString::fromLocal8Bit(out);
        return {};
    }
    if (rc != 0) {
        *error = "make_ntfs_image.py failed: " + QString::fromLocal8Bit(out);
        return {};
    }
    return image;
}

bool Loaded::load(const QString &image)
{
    handle = OpenVolume(image.toLocal8Bit().constData());
    if (handle == FENNICK_INVALID_HANDLE)
        return false;
    if (!GetMFTInfo(handle, &info))
        return false;
    block = MapMFT(handle, &info.DataSize);
    return block != nullptr;
}

Loaded::~Loaded()
{
    UnmapMFT(block);
    if (handle != FENNICK_INVALID_HANDLE)
        CloseVolume(handle);
}

QString nameOfAttribute(const void *fileNameAttr)
{
    if (!fileNameAttr)
        return {};
    const auto *a = static_cast<const uint8_t *>(fileNameAttr);
    const int length = a[0x58];
    QList<char16_t> units(length);
    std::memcpy(units.data(), a + 0x5A, size_t(length) * 2);
    return QString(reinterpret_cast<const QChar *>(units.constData()), length);
}

QList<Record> namedRecords(Loaded &v)
{
    QList<Record> out;
    for (uint32_t i = 16; i < v.info.RecordCount; ++i) {
        const auto *r = static_cast<const uint8_t *>(GetFileRecordFromBuffer(v.block, i));
        void *longName = nullptr, *dosName = nullptr;
        if (!r || !GetFileName(v.block, i, &longName, &dosName) || (!longName && !dosName))
            continue;
        Record rec;
        rec.index = i;
        uint16_t flags;
        std::memcpy(&flags, r + 0x16, 2);
        rec.inUse = flags & FENNICK_RECORD_IN_USE;
        rec.directory = flags & FENNICK_RECORD_DIRECTORY;
        rec.hasData = GetFileRecordAttribute(v.block, i, FENNICK_ATTR_DATA) != nullptr;
        rec.name = nameOfAttribute(longName ? longName : dosName);
        if (dosName && dosName != longName)
            rec.dosName = nameOfAttribute(dosName);
        uint16_t buf[1026] = {};
        rec.pathResult = GetFilePath(v.block, i, buf, 2048);
        rec.path = QString::fromUtf16(reinterpret_cast<const char16_t *>(buf));
        out.append(rec);
    }
    return out;
}

QByteArray recordData(Loaded &v, uint32_t rec, bool *complete)
{
    const auto *a = static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, rec, FENNICK_ATTR_DATA));
    if (complete)
        *complete = false;
    if (!a)
        return {};
    if (a[8] == 0) {
        uint32_t length;
        uint16_t offset;
        std::memcpy(&length, a + 0x10, 4);
        std::memcpy(&offset, a + 0x14, 2);
        if (complete)
            *complete = true;
        return QByteArray(reinterpret_cast<const char *>(a + offset), length);
    }
    uint64_t firstVcn, allocated, dataSize;
    std::memcpy(&firstVcn, a + 0x10, 8);
    std::memcpy(&allocated, a + 0x28, 8);
    std::memcpy(&dataSize, a + 0x30, 8);
    if (allocated > (uint64_t(1) << 30) || dataSize > allocated)
        return {};
    QByteArray buf(qsizetype(allocated), '\x55');
    uint64_t vcn = firstVcn;
    const int64_t count = int64_t(allocated);
    const int32_t ok = ReadVCN(v.handle, a, &vcn, &count, buf.data());
    if (complete)
        *complete = ok == 1;
    buf.truncate(qsizetype(dataSize));
    return buf;
}

QMap<uint32_t, QString> tskDeletedFiles(const QString &image)
{
    QMap<uint32_t, QString> out;
    QProcess p;
    p.start("fls", {"-r", "-d", "-p", image});
    p.waitForFinished(60000);
    static const QRegularExpression re(R"(^(\S+)\s+\*\s+(\d+)(?:-\d+-\d+)?(?:\(realloc\))?:\t(.*)$)");
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const auto m = re.match(QString::fromUtf8(line));
        if (!m.hasMatch() || !m.captured(1).endsWith("/r"))
            continue;
        const uint32_t rec = m.captured(2).toUInt();
        const QString path = m.captured(3);
        if (rec < 16 || path.startsWith("$OrphanFiles"))
            continue;
        out.insert(rec, QString(path).replace('/', '\\'));
    }
    return out;
}

QByteArray tskData(const QString &image, uint32_t rec)
{
    QProcess p;
    p.start("icat", {image, QString::number(rec)});
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

qint64 tskDataSize(const QString &image, uint32_t rec)
{
    QProcess p;
    p.start("istat", {image, QString::number(rec)});
    p.waitForFinished(60000);
    static const QRegularExpression re(R"(Type: \$DATA \(128-\d+\)\s+Name: N/A\s+\S.*?size: (\d+))");
    const auto m = re.match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace ntfs_test
