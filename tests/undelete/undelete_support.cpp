#include "tests/undelete/undelete_support.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/support/chooser_script.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

using namespace testing_support;

namespace undelete_test {

WindowOnImage::WindowOnImage(const QString &imageNative, bool removable, int partition) : w(CreateMainWindow())
{
    plat::VirtualDriveOptions opts;
    opts.typeCode = removable ? plat::DriveTypeRemovable : plat::DriveTypeFixed;
    opts.partition = partition;
    plat::DriveTable::instance().attachImage('E', imageNative, opts);
    plat::DriveTable::instance().refresh();
    cacheNative = makeTempDir("cache") + "/RIVozud";
    QDir().mkpath(cacheNative);
    w.CacheRoot = plat::toInternal(cacheNative + "/");
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.SourceName = QStringLiteral("E:");
    ResetDriveInfo();
    GetDriveInfo(w.SourceName);
}

WindowOnImage::~WindowOnImage()
{
    w.CloseMft();
    DestroyMainWindow();
    ResetDriveInfo();
    plat::DriveTable::instance().detach('E');
}

QString makeCard(int fatBits, const QString &hint)
{
    FatImageSpec spec;
    spec.fatBits = fatBits;
    spec.sizeKiB = fatBits == 16 ? 16384 : 40960;
    spec.sectorsPerCluster = fatBits == 16 ? 4 : 1;
    return makeFatImage(makeTempDir(hint), "card.img", spec);
}

QByteArray photoBytes(qint64 size, quint32 seed, bool exif)
{
    static QByteArray pictures[2];
    QByteArray &picture = pictures[exif];
    if (picture.isEmpty()) {
        const QString dir = makeTempDir("photo");
        picture = imageMagickPicture(dir, "p.jpg", {"-size", "64x48", "-seed", "7", "plasma:"});
        if (exif && (runTool("exiftool", {"-q", "-overwrite_original", "-JFIF:all=", "-Make=Camera", "-Model=One",
                                          dir + "/p.jpg"}) != 0
                     || (picture = readFileBytes(dir + "/p.jpg")).mid(2, 2) != "\xFF\xE1"))
            picture.clear();
    }
    if (picture.isEmpty())
        return {};
    return size <= picture.size() ? picture.left(size) : picture + patternBytes(size - picture.size(), seed);
}

QString saveAllInto(frmRecover &w, const QString &hint)
{
    const QString target = makeTempDir(hint);
    ChooserStartPath = plat::toInternal(target) + '\\';
    ChooserScript chooser;
    chooser.ok();
    w.CmdSaveAll_Click();
    return target;
}

int countPath(const std::vector<DeletedEntryRecord> &entries, const QString &path)
{
    int n = 0;
    for (const DeletedEntryRecord &r : entries)
        n += r.Path == path;
    return n;
}

const DeletedEntryRecord *byPath(const std::vector<DeletedEntryRecord> &entries, const QString &path)
{
    const DeletedEntryRecord *found = nullptr;
    for (const DeletedEntryRecord &r : entries)
        if (r.Path == path) {
            if (found)
                return nullptr;
            found = &r;
        }
    return found;
}

static int runUtf8(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MTOOLS_SKIP_CHECK", "1");
    env.insert("LC_ALL", "C.UTF-8");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = args.first();
    p.start(program, args.mid(1));
    if (!p.waitForFinished(60000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool mcopyUtf8(const QString &image, const QString &dosPath, const QByteArray &data)
{
    const QString src = makeTempDir("u8") + "/data";
    if (!writeFileBytes(src, data))
        return false;
    return runUtf8({"mcopy", "-o", "-i", image, src, "::" + dosPath}) == 0;
}

bool mdelUtf8(const QString &image, const QString &dosPath)
{
    return runUtf8({"mdel", "-i", image, "::" + dosPath}) == 0;
}

bool mdeltree(const QString &image, const QString &dosPath)
{
    return runUtf8({"mdeltree", "-i", image, "::" + dosPath}) == 0;
}

QList<QPair<QString, qint64>> flsDeletedEntries(const QString &image, qint64 sector)
{
    QList<QPair<QString, qint64>> out;
    QProcess p;
    p.start("fls", {"-r", "-d", "-p", "-o", QString::number(sector), image});
    if (!p.waitForFinished(60000))
        return out;
    static const QRegularExpression line(QStringLiteral("^\\S/\\S \\* (\\d+)(?:\\(realloc\\))?:\\t(.*)$"));
    for (const QString &l : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        const auto m = line.match(l);
        if (m.hasMatch())
            out.append({m.captured(2), m.captured(1).toLongLong()});
    }
    return out;
}

QMap<QString, qint64> flsDeleted(const QString &image, qint64 sector)
{
    QMap<QString, qint64> out;
    for (const auto &e : flsDeletedEntries(image, sector))
        out.insert(e.first, e.second);
    return out;
}

QByteArray icat(const QString &image, qint64 address, qint64 sector)
{
    QProcess p;
    p.start("icat", {"-o", QString::number(sector), image, QString::number(address)});
    if (!p.waitForFinished(60000))
        return {};
    return p.readAllStandardOutput();
}

namespace {
struct Geometry {
    qint64 bps, spc, reserved, fats, fatSectors, rootEntries, fatBits;
};
Geometry geometryOf(const QString &image)
{
    const QByteArray b = readFileBytes(image, 0, 512);
    auto u16 = [&](int o) { return qint64(uchar(b[o]) | uchar(b[o + 1]) << 8); };
    auto u32 = [&](int o) { return qint64(quint32(uchar(b[o]) | uchar(b[o + 1]) << 8 | uchar(b[o + 2]) << 16 | uchar(b[o + 3]) << 24)); };
    Geometry g{u16(11), uchar(b[13]), u16(14), uchar(b[16]), u16(22), u16(17), 0};
    if (g.fatSectors == 0) {
        g.fatSectors = u32(36);
        g.fatBits = 32;
    } else {
        const qint64 total = u16(19) ? u16(19) : u32(32);
        const qint64 data = total - g.reserved - g.fats * g.fatSectors - (g.rootEntries * 32 + g.bps - 1) / g.bps;
        g.fatBits = data / g.spc < 4085 ? 12 : 16;
    }
    return g;
}
} // namespace

qint64 clusterOffset(const QString &image, qint64 cluster)
{
    const Geometry g = geometryOf(image);
    const qint64 rootSectors = (g.rootEntries * 32 + g.bps - 1) / g.bps;
    const qint64 firstData = g.reserved + g.fats * g.fatSectors + rootSectors;
    return (firstData + (cluster - 2) * g.spc) * g.bps;
}

qint64 fatEntryOffset(const QString &image, qint64 cluster)
{
    const Geometry g = geometryOf(image);
    const qint64 fat = g.reserved * g.bps;
    if (g.fatBits == 32)
        return fat + cluster * 4;
    if (g.fatBits == 16)
        return fat + cluster * 2;
    return fat + cluster * 3 / 2;
}

qint64 findShortEntry(const QString &image, qint64 cluster, const QByteArray &name11, bool deleted)
{
    const Geometry g = geometryOf(image);
    qint64 start, length;
    if (cluster == 0) {
        start = (g.reserved + g.fats * g.fatSectors) * g.bps;
        length = g.rootEntries * 32;
    } else {
        start = clusterOffset(image, cluster);
        length = g.spc * g.bps;
    }
    const QByteArray dir = readFileBytes(image, start, length);
    for (qint64 at = 0; at + 32 <= dir.size(); at += 32) {
        QByteArray name = dir.mid(at, 11);
        if ((uchar(name[0]) == 0xE5) != deleted || (uchar(dir[at + 11]) & 0x3F) == 0x0F)
            continue;
        if (deleted)
            name[0] = name11[0];
        if (name == name11)
            return start + at;
    }
    return -1;
}

} // namespace undelete_test
