#include "platform/drives.h"

#include "platform/partitiontable.h"
#include "platform/paths.h"
#include "platform/rawio.h"
#include "platform/rawwrite.h"
#include "platform/settings.h"
#include "platform/volumecontrol.h"
#include "platform/volumefacts.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QTextStream>
#include <chrono>
#include <future>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <thread>

namespace plat {

namespace {

using MountRec = MountRecord;

QString unescapeMount(const QString &s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1].isDigit()) {
            out += QChar(s.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

QList<MountRec> readMounts()
{
    QList<MountRec> out;
    QFile f("/proc/self/mountinfo");
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QStringList parts = QString::fromUtf8(line).split(' ');
        const int sep = parts.indexOf("-");
        if (parts.size() < 5 || sep < 0 || sep + 2 >= parts.size())
            continue;
        out.append({parts[2], unescapeMount(parts[4]), parts[sep + 1], unescapeMount(parts[sep + 2])});
    }
    return out;
}

QString readSys(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).trimmed();
}

QHash<QString, QString> udevProps(const QString &majMin)
{
    QHash<QString, QString> props;
    QFile f("/run/udev/data/b" + majMin);
    if (!f.open(QIODevice::ReadOnly))
        return props;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.startsWith("E:"))
            continue;
        const int eq = line.indexOf('=');
        if (eq > 2)
            props.insert(QString::fromUtf8(line.mid(2, eq - 2)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return props;
}

bool isNetworkFs(const QString &t)
{
    static const QStringList kinds{"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "9p", "afs"};
    return kinds.contains(t);
}

// The window an image is read through: partition n of its partition table
// (MBR or GPT; logical partitions from 5 on), or for n = 0 a whole-disk
// image's first partition that holds a FAT or NTFS volume and is not an EFI
// system partition, or the first that holds one at all (as the drive list
// reads a removable disk); none for an image that starts with a volume.
struct ImageWindow {
    int partition = 0;      // the partition read; 0: the image from its start
    qint64 offset = 0;
    qint64 length = -1;     // 0: no such partition (an empty volume)
};

ImageWindow readImageWindow(const QString &image, int n, qint64 sector)
{
    ImageWindow w;
    QFile f(image);
    if (!f.open(QIODevice::ReadOnly))
        return n > 0 ? ImageWindow{n, 0, 0} : w;
    const qint64 size = f.size();
    if (n > 0) {
        for (const PartitionEntry &p : readPartitionTable(f, sector))
            if (p.number == n && p.length > 0)
                return {n, p.offset, p.length};
        return {n, 0, 0};
    }
    const QByteArray first = f.read(512);
    if (parseFatLayout(first, size) || parseNtfsLayout(first, size) || parseExfatLayout(first, size))
        return w;
    std::optional<ImageWindow> efiSystem;
    for (const PartitionEntry &p : readPartitionTable(f, sector)) {
        const qint64 bytes = qMin(p.length, size - p.offset);
        if (p.length <= 0 || p.extended || bytes < 512 || !f.seek(p.offset))
            continue;
        const QByteArray boot = f.read(512);
        if (!parseFatLayout(boot, bytes) && !parseNtfsLayout(boot, bytes))
            continue;
        if (!p.efiSystem)
            return {p.number, p.offset, bytes};
        if (!efiSystem)
            efiSystem = ImageWindow{p.number, p.offset, bytes};
    }
    return efiSystem.value_or(w);
}

// The same, read again only when the image's size or time changed: the
// drive table is rebuilt for every poll.
ImageWindow imageWindow(const QString &image, int n, qint64 sector)
{
    struct Kept {
        int n;
        qint64 sector, size;
        QDateTime modified;
        ImageWindow window;
    };
    static QHash<QString, Kept> kept;
    const QFileInfo info(image);
    const qint64 size = info.size();
    const QDateTime modified = info.lastModified();
    const auto it = kept.constFind(image);
    if (it != kept.constEnd() && it->n == n && it->sector == sector && it->size == size && it->modified == modified)
        return it->window;
    const ImageWindow w = readImageWindow(image, n, sector);
    kept.insert(image, {n, sector, size, modified, w});
    return w;
}

struct VirtualDef {
    bool folder = false;
    bool blockDevice = false;   // a real device given a letter (loop devices in tests)
    QString path;
    VirtualDriveOptions opts;
};

const QString kLettersKey = QStringLiteral("Software\\Zentarix\\DriveLetters");

} // namespace

struct DriveTable::Impl {
    QMap<QChar, VirtualDef> attached;       // in-process
    QHash<QChar, bool> absent;              // marked absent (eject, tests)
    bool exclusive = false;
    QList<DriveEntry> list;
    QElapsedTimer age;
    QMap<QString, QChar> persisted;         // identity -> letter
    bool persistedLoaded = false;

    // Letters of real volumes are kept in the user hive by their identity.
    void loadPersisted()
    {
        if (persistedLoaded)
            return;
        persistedLoaded = true;
        Settings &st = Settings::instance();
        for (const QString &name : st.valueNames(HiveCurrentUser, kLettersKey)) {
            const auto v = st.value(HiveCurrentUser, kLettersKey, name);
            if (v && !v->text.isEmpty() && v->text[0].isLetter())
                persisted.insert(name, v->text[0].toUpper());
        }
    }

    void savePersisted(const QString &identity, QChar letter)
    {
        Settings::instance().setText(HiveCurrentUser, kLettersKey, identity, QString(letter));
    }

    // Virtual drives of the configuration file, then those attached in-process.
    QMap<QChar, VirtualDef> virtualDefs(bool *exclusiveOut)
    {
        QMap<QChar, VirtualDef> defs;
        *exclusiveOut = exclusive;
        const QString conf = qEnvironmentVariable("QUILVANE_DRIVES");
        QFile f(conf);
        if (!conf.isEmpty() && f.open(QIODevice::ReadOnly)) {
            for (QString line : QString::fromUtf8(f.readAll()).split('\n')) {
                const int hash = line.indexOf('#');
                if (hash >= 0)
                    line = line.left(hash);
                const QStringList words = line.simplified().split(' ', Qt::SkipEmptyParts);
                if (words.isEmpty())
                    continue;
                if (words[0] == "exclusive") {
                    *exclusiveOut = true;
                    continue;
                }
                if (words[0].size() != 2 || words[0][1] != ':' || !words[0][0].isLetter())
                    continue;
                const QChar letter = words[0][0].toUpper();
                VirtualDef d = defs.value(letter);
                d.opts.typeCode = d.path.isEmpty() ? DriveTypeRemovable : d.opts.typeCode;
                for (const QString &w : words.mid(1)) {
                    const QString key = w.section('=', 0, 0), value = w.section('=', 1);
                    if (key == "image" || key == "device") {
                        d.path = value;
                        d.folder = false;
                        d.blockDevice = key == "device";
                    } else if (key == "folder") {
                        d.path = value;
                        d.folder = true;
                    } else if (key == "files") {
                        d.opts.files = value;
                        if (d.path.isEmpty()) {
                            d.path = value;
                            d.folder = true;
                        }
                    } else if (key == "type") {
                        static const QHash<QString, int> types{{"removable", DriveTypeRemovable},
                                                               {"fixed", DriveTypeFixed},
                                                               {"remote", DriveTypeRemote},
                                                               {"cdrom", DriveTypeCdRom},
                                                               {"ramdisk", DriveTypeRamDisk}};
                        d.opts.typeCode = types.value(value.toLower(), DriveTypeFixed);
                    } else if (key == "partition") {
                        d.opts.partition = value.toInt();
                    } else if (key == "sector") {
                        d.opts.sectorSize = value.toInt();
                    } else if (key == "readonly") {
                        d.opts.readOnly = true;
                    } else if (key == "bad") {
                        // bad=FIRST-LAST[,FIRST-LAST...]: sectors whose reads fail
                        for (const QString &range : value.split(',', Qt::SkipEmptyParts)) {
                            const qint64 a = range.section('-', 0, 0).toLongLong();
                            const qint64 b = range.contains('-') ? range.section('-', 1).toLongLong() : a;
                            if (a >= 0 && b >= a)
                                d.opts.badSectors.append({a, b});
                        }
                    } else if (key == "slow") {
                        d.opts.slowMs = qBound(0, value.toInt(), 60000);
                    }
                }
                if (!d.path.isEmpty())
                    defs.insert(letter, d);
            }
        }
        for (auto it = attached.cbegin(); it != attached.cend(); ++it)
            defs.insert(it.key(), it.value());
        return defs;
    }

    void rebuild();
};

DriveTable &DriveTable::instance()
{
    static DriveTable table;
    return table;
}

DriveTable::Impl *DriveTable::impl()
{
    static Impl i;
    return &i;
}

void DriveTable::Impl::rebuild()
{
    loadPersisted();
    const QList<MountRec> mounts = readMounts();
    bool excl = false;
    const QMap<QChar, VirtualDef> defs = virtualDefs(&excl);
    QList<DriveEntry> out;

    // C: is the file system holding "/".
    DriveEntry c;
    c.letter = 'C';
    c.kind = DriveKind::RootFs;
    c.typeCode = DriveTypeFixed;
    c.mountPoint = "/";
    c.identity = "root";
    for (const MountRec &m : mounts)
        if (m.mountPoint == "/") {
            c.fsType = m.fsType;
            if (m.source.startsWith("/dev/")) {
                c.device = m.source;
                const QString name = QFileInfo(m.source).fileName();
                QString disk;
                const QString link = QFileInfo("/sys/class/block/" + name).canonicalFilePath();
                if (!link.isEmpty()) {
                    const QString parent = QFileInfo(link).path();
                    disk = QFile::exists(link + "/partition") ? "/sys/block/" + QFileInfo(parent).fileName()
                                                              : "/sys/block/" + name;
                }
                c.disk = disk;
            }
        }

    struct Candidate {
        DriveEntry e;
    };
    QList<Candidate> found;   // in order of first sight
    QChar floppyLetters[2] = {'A', 'B'};

    if (!excl) {
        QHash<QString, QStringList> mountsOf;   // maj:min -> mount points
        for (const MountRec &m : mounts)
            mountsOf[m.majMin] << m.mountPoint;
        const QStringList disks = QDir("/sys/block").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QList<Candidate> fixedMounted, fixedUnmounted, removable, optical;
        for (const QString &disk : disks) {
            if (disk.startsWith("loop") || disk.startsWith("ram") || disk.startsWith("zram") || disk.startsWith("nbd")
                || disk.startsWith("dm-") || disk.startsWith("md"))
                continue;
            const QString sys = "/sys/block/" + disk;
            const QString devType = readSys(sys + "/device/type");
            const bool isFloppy = disk.startsWith("fd");
            const bool isOptical = disk.startsWith("sr") || devType == "5";
            const bool isRemovable = readSys(sys + "/removable") == "1"
                || (disk.startsWith("mmcblk") && (devType == "SD" || devType == "MMC")) || isFloppy;
            const int ss = readSys(sys + "/queue/logical_block_size").toInt();
            const bool ro = readSys(sys + "/ro") == "1";
            QStringList parts;
            for (const QString &p : QDir(sys).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                if (QFile::exists(sys + "/" + p + "/partition"))
                    parts << p;
            std::sort(parts.begin(), parts.end(), [&](const QString &a, const QString &b) {
                return readSys(sys + "/" + a + "/partition").toInt() < readSys(sys + "/" + b + "/partition").toInt();
            });
            auto makeEntry = [&](const QString &vol) {
                DriveEntry e;
                const QString volSys = vol == disk ? sys : sys + "/" + vol;
                e.device = "/dev/" + vol;
                e.disk = sys;
                e.sectorSize = ss > 0 ? ss : 512;
                e.readOnly = ro;
                const QString mm = readSys(volSys + "/dev");
                QStringList mps = mountsOf.value(mm);
                std::sort(mps.begin(), mps.end(), [](const QString &a, const QString &b) { return a.size() < b.size(); });
                if (!mps.isEmpty()) {
                    e.mountPoint = mps.first();
                    for (const MountRec &m : mounts)
                        if (m.majMin == mm)
                            e.fsType = m.fsType;
                }
                const auto props = udevProps(mm);
                const QString part = vol == disk ? QString("0") : readSys(volSys + "/partition");
                QString id = props.value("ID_PART_ENTRY_UUID");
                if (isRemovable || isOptical || id.isEmpty())
                    id = props.value("ID_PATH", disk) + "#" + part;
                e.identity = id;
                if (e.fsType.isEmpty())
                    e.fsType = props.value("ID_FS_TYPE");
                return e;
            };
            if (isOptical) {
                DriveEntry e = makeEntry(disk);
                e.kind = DriveKind::OpticalSlot;
                e.typeCode = DriveTypeCdRom;
                e.sectorSize = ss > 0 ? ss : 2048;
                optical.append({e});
                continue;
            }
            if (isRemovable) {
                // One letter per slot, listed also without a medium.
                DriveEntry e = makeEntry(parts.isEmpty() ? disk : parts.first());
                e.kind = DriveKind::RemovableSlot;
                e.typeCode = DriveTypeRemovable;
                e.identity = udevProps(readSys(sys + "/dev")).value("ID_PATH", disk) + "#slot";
                if (isFloppy) {
                    const int idx = disk.mid(2).toInt();
                    if (idx < 2) {
                        e.letter = floppyLetters[idx];
                        out.append(e);
                    }
                    continue;
                }
                removable.append({e});
                for (int i = 1; i < parts.size(); ++i) {
                    DriveEntry p = makeEntry(parts[i]);
                    p.kind = DriveKind::BlockVolume;
                    p.typeCode = DriveTypeRemovable;
                    removable.append({p});
                }
                continue;
            }
            const bool systemDisk = !c.disk.isEmpty() && c.disk == sys;
            const QStringList vols = parts.isEmpty() ? QStringList{disk} : parts;
            for (const QString &vol : vols) {
                DriveEntry e = makeEntry(vol);
                e.kind = DriveKind::BlockVolume;
                e.typeCode = DriveTypeFixed;
                if (!e.mountPoint.isEmpty()) {
                    if (e.mountPoint == "/")
                        continue;   // that is C:
                    fixedMounted.append({e});
                } else if (!systemDisk && !e.fsType.isEmpty() && e.fsType != "swap") {
                    fixedUnmounted.append({e});
                }
            }
        }
        found << fixedMounted << fixedUnmounted << removable << optical;
        QSet<QString> seenSources;
        for (const MountRec &m : mounts) {
            if (!isNetworkFs(m.fsType) || seenSources.contains(m.source))
                continue;
            seenSources.insert(m.source);
            DriveEntry e;
            e.kind = DriveKind::NetworkMount;
            e.typeCode = DriveTypeRemote;
            e.mountPoint = m.mountPoint;
            e.fsType = m.fsType;
            e.identity = "net:" + m.source;
            e.disk = "net:" + m.source;
            found.append({e});
        }
    }

    // Virtual drives take their letters first.
    QSet<QChar> used{'C'};
    if (defs.contains('C'))
        used.remove('C');
    for (const DriveEntry &e : out)
        used.insert(e.letter);
    for (auto it = defs.cbegin(); it != defs.cend(); ++it)
        used.insert(it.key());

    for (Candidate &cand : found) {
        QChar letter = persisted.value(cand.e.identity);
        if (letter.isNull() || used.contains(letter)) {
            const QList<QChar> held = persisted.values();
            letter = QChar();
            for (char l = 'D'; l <= 'Z' && letter.isNull(); ++l)
                if (!used.contains(QChar(l)) && !held.contains(QChar(l)))
                    letter = QChar(l);
            for (char l = 'D'; l <= 'Z' && letter.isNull(); ++l)
                if (!used.contains(QChar(l)))
                    letter = QChar(l);
            if (letter.isNull())
                continue;
            persisted.insert(cand.e.identity, letter);
            savePersisted(cand.e.identity, letter);
        }
        used.insert(letter);
        cand.e.letter = letter;
        out.append(cand.e);
    }
    if (!defs.contains('C'))
        out.append(c);
    for (auto it = defs.cbegin(); it != defs.cend(); ++it) {
        const VirtualDef &d = it.value();
        DriveEntry e;
        e.letter = it.key();
        e.typeCode = d.opts.typeCode;
        e.readOnly = d.opts.readOnly;
        e.identity = QStringLiteral("virtual:") + it.key();
        if (d.blockDevice) {
            e.kind = DriveKind::BlockVolume;
            e.device = d.path;
            const QString name = QFileInfo(d.path).fileName();
            const QString link = QFileInfo("/sys/class/block/" + name).canonicalFilePath();
            e.disk = QFile::exists(link + "/partition") ? "/sys/block/" + QFileInfo(QFileInfo(link).path()).fileName()
                                                        : "/sys/block/" + name;
            e.sectorSize = d.opts.sectorSize;
        } else if (d.folder) {
            e.kind = DriveKind::VirtualFolder;
            e.mountPoint = QDir::cleanPath(d.path);
            e.disk = e.mountPoint;
        } else {
            e.kind = DriveKind::VirtualImage;
            e.badSectors = d.opts.badSectors;
            e.slowMs = d.opts.slowMs;
            e.device = d.path;
            e.disk = d.path;
            e.partition = d.opts.partition;
            e.mountPoint = d.opts.files.isEmpty() ? QString() : QDir::cleanPath(d.opts.files);
            e.sectorSize = d.opts.sectorSize > 0 ? d.opts.sectorSize
                                                 : (d.opts.typeCode == DriveTypeCdRom ? 2048 : 512);
            // An optical image is one volume (a hybrid one's table serves other readers).
            const ImageWindow w = d.opts.partition <= 0 && d.opts.typeCode == DriveTypeCdRom
                ? ImageWindow{}
                : imageWindow(d.path, qMax(0, d.opts.partition), e.sectorSize);
            e.windowOffset = w.offset;
            e.windowLength = w.length;
            if (d.opts.partition <= 0 && w.partition > 0) {
                e.partition = w.partition;
                e.partitionFound = true;
            }
        }
        out.append(e);
    }
    for (DriveEntry &e : out)
        e.mediumAbsent = absent.value(e.letter, false);
    std::sort(out.begin(), out.end(), [](const DriveEntry &a, const DriveEntry &b) { return a.letter < b.letter; });
    list = out;
    age.restart();
}

void DriveTable::refresh() { impl()->rebuild(); }

QList<DriveEntry> DriveTable::entries()
{
    Impl *i = impl();
    if (!i->age.isValid() || i->age.elapsed() > 1000)
        i->rebuild();
    return i->list;
}

std::optional<DriveEntry> DriveTable::entry(QChar letter)
{
    letter = letter.toUpper();
    for (const DriveEntry &e : entries())
        if (e.letter == letter)
            return e;
    return std::nullopt;
}

bool DriveTable::attachImage(QChar letter, const QString &imageNative, const VirtualDriveOptions &opts)
{
    letter = letter.toUpper();
    if (!letter.isLetter() || letter.unicode() > 'Z' || imageNative.isEmpty())
        return false;
    impl()->attached.insert(letter, VirtualDef{false, false, imageNative, opts});
    impl()->absent.remove(letter);
    impl()->rebuild();
    return true;
}

bool DriveTable::attachDevice(QChar letter, const QString &deviceNative, const VirtualDriveOptions &opts)
{
    letter = letter.toUpper();
    if (!letter.isLetter() || letter.unicode() > 'Z' || deviceNative.isEmpty())
        return false;
    impl()->attached.insert(letter, VirtualDef{false, true, deviceNative, opts});
    impl()->absent.remove(letter);
    impl()->rebuild();
    return true;
}

bool DriveTable::attachFolder(QChar letter, const QString &folderNative, int typeCode)
{
    letter = letter.toUpper();
    if (!letter.isLetter() || letter.unicode() > 'Z' || folderNative.isEmpty())
        return false;
    VirtualDriveOptions opts;
    opts.typeCode = typeCode;
    impl()->attached.insert(letter, VirtualDef{true, false, folderNative, opts});
    impl()->absent.remove(letter);
    impl()->rebuild();
    return true;
}

void DriveTable::detach(QChar letter)
{
    impl()->attached.remove(letter.toUpper());
    impl()->absent.remove(letter.toUpper());
    impl()->rebuild();
}

void DriveTable::setMediumPresent(QChar letter, bool present)
{
    if (present)
        impl()->absent.remove(letter.toUpper());
    else
        impl()->absent.insert(letter.toUpper(), true);
    impl()->rebuild();
}

void DriveTable::setExclusive(bool exclusive)
{
    impl()->exclusive = exclusive;
    impl()->rebuild();
}

void DriveTable::resetVirtual()
{
    impl()->attached.clear();
    impl()->absent.clear();
    impl()->exclusive = false;
    impl()->rebuild();
}

// ---- queries ------------------------------------------------------------

QList<MountRecord> mountTable() { return readMounts(); }

QString readSysText(const QString &path) { return readSys(path); }

QHash<QString, QString> udevProperties(const QString &majMin) { return udevProps(majMin); }

namespace {

// statvfs with a deadline, for network mounts whose server may hang.
bool statvfsWithin(const QString &path, struct statvfs *out, int ms)
{
    auto task = std::make_shared<std::packaged_task<std::pair<bool, struct statvfs>()>>([path] {
        struct statvfs st {};
        bool ok = ::statvfs(path.toLocal8Bit().constData(), &st) == 0;
        return std::make_pair(ok, st);
    });
    auto fut = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (fut.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready)
        return false;
    auto r = fut.get();
    *out = r.second;
    return r.first;
}

bool statMount(const DriveEntry &e, struct statvfs *st)
{
    if (e.mountPoint.isEmpty())
        return false;
    if (e.kind == DriveKind::NetworkMount)
        return statvfsWithin(e.mountPoint, st, 2000);
    return ::statvfs(e.mountPoint.toLocal8Bit().constData(), st) == 0;
}

VolumeReadFn readerOf(Handle &h)
{
    return [&h](qint64 offset, qint64 length) { return h.readAt(offset, length); };
}

bool hasRawVolume(const DriveEntry &e)
{
    return !e.device.isEmpty() && e.kind != DriveKind::NetworkMount && e.kind != DriveKind::VirtualFolder;
}

QString mountFsOf(const QString &folder)
{
    QString best, type;
    for (const MountRec &m : readMounts())
        if ((folder == m.mountPoint || folder.startsWith(m.mountPoint == "/" ? "/" : m.mountPoint + "/"))
            && m.mountPoint.size() >= best.size()) {
            best = m.mountPoint;
            type = m.fsType;
        }
    return type;
}

} // namespace

QList<QChar> logicalDrives()
{
    QList<QChar> out;
    for (const DriveEntry &e : DriveTable::instance().entries())
        out << e.letter;
    return out;
}

int driveTypeCode(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    return e ? e->typeCode : DriveTypeNoRoot;
}

std::optional<bool> isDriveReady(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e)
        return std::nullopt;
    if (e->mediumAbsent)
        return false;
    switch (e->kind) {
    case DriveKind::VirtualImage: {
        QFileInfo fi(e->device);
        return fi.isFile() && fi.size() > 0 && e->windowLength != 0;
    }
    case DriveKind::VirtualFolder:
        return QFileInfo(e->mountPoint).isDir();
    case DriveKind::RootFs:
    case DriveKind::NetworkMount: {
        struct statvfs st {};
        return statMount(*e, &st);
    }
    case DriveKind::BlockVolume:
    case DriveKind::RemovableSlot:
    case DriveKind::OpticalSlot: {
        const QString name = QFileInfo(e->device).fileName();
        return QFile::exists(e->device) && readSys("/sys/class/block/" + name + "/size").toLongLong() > 0;
    }
    }
    return false;
}

namespace {

// The kernel's id of a mounted file system (statvfs's f_fsid, which most
// file systems derive from their UUID), folded to 32 bits; 0 when unknown.
quint32 mountedFsSerial(const DriveEntry &e)
{
    struct statvfs st {};
    if (e.kind == DriveKind::NetworkMount || !statMount(e, &st))
        return 0;
    const quint64 id = quint64(st.f_fsid);
    return quint32(id ^ (id >> 32));
}

// What the volume's own structures (or udev) tell of it.
std::optional<VolumeInfo> ownVolumeInformation(const DriveEntry *e)
{
    if (e->kind == DriveKind::VirtualFolder || (e->kind == DriveKind::RootFs && e->device.isEmpty())) {
        const QString folder = e->mountPoint;
        return VolumeInfo{QString(), quint32(qHash(folder)), windowsFsName(mountFsOf(folder))};
    }
    if (e->kind == DriveKind::NetworkMount)
        return VolumeInfo{QString(), quint32(qHash(e->identity)), windowsFsName(e->fsType)};
    Handle h = openVolume(e->letter, Access::Read);
    if (h.valid()) {
        VolumeReadFn read = readerOf(h);
        std::optional<VolumeInfo> info = ownVolumeInfo(read, h.size());
        if (!info || (info->fsName != "FAT" && info->fsName != "FAT32")) {
            auto facts = probeBlkid(e->device, e->windowOffset, e->windowLength >= 0 ? e->windowLength : 0);
            if (info && facts)
                info->label = facts->label;
            else if (!info && facts) {
                VolumeInfo v;
                v.fsName = windowsFsName(facts->type);
                v.label = facts->label;
                if (facts->type == "iso9660")
                    v.serial = isoSerial(read(16 * 2048, 2048));
                else
                    v.serial = serialFromUuid(facts->uuid, facts->type);
                info = v;
            }
        }
        h.close();
        return info;
    }
    // No rights on the device: what udev knows of a mounted volume.
    if (!e->mountPoint.isEmpty()) {
        const QString name = QFileInfo(e->device).fileName();
        const auto props = udevProps(readSys("/sys/class/block/" + name + "/dev"));
        const QString type = props.value("ID_FS_TYPE", e->fsType);
        QString fs = windowsFsName(type);
        if (type == "vfat")
            fs = props.value("ID_FS_VERSION") == "FAT32" ? "FAT32" : "FAT";
        return VolumeInfo{props.value("ID_FS_LABEL"), serialFromUuid(props.value("ID_FS_UUID"), type), fs};
    }
    return std::nullopt;
}

} // namespace

std::optional<VolumeInfo> volumeInformation(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e || isDriveReady(letter) != true)
        return std::nullopt;
    std::optional<VolumeInfo> info = ownVolumeInformation(&*e);
    // A mounted volume whose own structures cannot be read here (no rights
    // on its device, a type without a serial) still has an identity of its
    // own: the one the kernel gives it.
    if (!e->mountPoint.isEmpty() && (!info || info->serial == 0)) {
        if (const quint32 serial = mountedFsSerial(*e)) {
            if (!info)
                info = VolumeInfo{QString(), 0, windowsFsName(e->fsType.isEmpty() ? mountFsOf(e->mountPoint) : e->fsType)};
            info->serial = serial;
        }
    }
    return info;
}

std::optional<DiskGeometry> diskGeometry(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e || isDriveReady(letter) != true)
        return std::nullopt;
    const quint32 ss = quint32(volumeSectorSize(e->letter));
    const bool useStat = !e->mountPoint.isEmpty() && e->kind != DriveKind::VirtualImage;
    if (useStat) {
        struct statvfs st {};
        if (!statMount(*e, &st))
            return std::nullopt;
        const quint64 frsize = st.f_frsize ? st.f_frsize : st.f_bsize;
        const quint32 spc = quint32(qMax<quint64>(1, frsize / ss));
        return DiskGeometry{spc, ss, quint64(st.f_bavail), quint64(st.f_blocks)};
    }
    if (!hasRawVolume(*e))
        return std::nullopt;
    Handle h = openVolume(e->letter, Access::Read);
    if (!h.valid())
        return std::nullopt;
    std::optional<DiskGeometry> g = ownGeometry(readerOf(h), h.size());
    // NTFS tells its free clusters only through its bitmap.
    if (g && g->freeClusters == 0)
        if (auto free = freeClustersOf(h))
            g->freeClusters = *free;
    if (!g)
        g = DiskGeometry{1, ss, 0, quint64(qMax<qint64>(0, h.size())) / ss};
    h.close();
    return g;
}

bool diskFreeBytes(QChar letter, quint64 *freeToCaller, quint64 *totalBytes)
{
    *freeToCaller = 0;
    *totalBytes = 0;
    auto e = DriveTable::instance().entry(letter);
    if (!e)
        return false;
    if (!e->mountPoint.isEmpty() && e->kind != DriveKind::VirtualImage) {
        struct statvfs st {};
        if (!statMount(*e, &st))
            return false;
        const quint64 frsize = st.f_frsize ? st.f_frsize : st.f_bsize;
        *freeToCaller = quint64(st.f_bavail) * frsize;
        *totalBytes = quint64(st.f_blocks) * frsize;
        return true;
    }
    auto g = diskGeometry(letter);
    if (!g)
        return false;
    const quint64 cluster = quint64(g->sectorsPerCluster) * g->bytesPerSector;
    *freeToCaller = g->freeClusters * cluster;
    *totalBytes = g->totalClusters * cluster;
    return true;
}

bool sameDisk(QChar a, QChar b)
{
    if (a.toUpper() == b.toUpper())
        return true;
    auto ea = DriveTable::instance().entry(a), eb = DriveTable::instance().entry(b);
    return ea && eb && !ea->disk.isEmpty() && ea->disk == eb->disk;
}

namespace {

// The whole disk ("/sys/block/sdb") of a block device named by a sysfs link
// to it ("/sys/dev/block/8:17", "/sys/class/block/sdb1"); empty when there
// is no such device.
QString wholeDiskOf(const QString &sysLink)
{
    const QString link = QFileInfo(sysLink).canonicalFilePath();
    if (link.isEmpty() || !QFile::exists(link + "/dev"))
        return {};
    const QString disk = QFile::exists(link + "/partition") ? QFileInfo(link).path() : link;
    return "/sys/block/" + QFileInfo(disk).fileName();
}

// The whole disk of a device node ("/dev/loop0", "/dev/disk/by-id/..."), or empty.
QString wholeDiskOfNode(const QString &node)
{
    if (!node.startsWith("/dev/"))
        return {};
    const QString real = QFileInfo(node).canonicalFilePath();
    return real.isEmpty() ? QString() : wholeDiskOf("/sys/class/block/" + QFileInfo(real).fileName());
}

// What a letter's medium is read from: its whole disk and the loop devices
// over its image ("/sys/block/..."), and the image files (canonical paths).
// A loop device given a letter stands for the file it reads as well.
void mediumOf(const DriveEntry &e, QSet<QString> &disks, QSet<QString> &files)
{
    if (e.kind == DriveKind::VirtualImage) {
        const QString image = QFileInfo(e.device).canonicalFilePath();
        if (!image.isEmpty())
            files.insert(image);
    } else if (const QString disk = wholeDiskOfNode(e.device); !disk.isEmpty()) {
        disks.insert(disk);
        const QString backing = readSys(disk + "/loop/backing_file");
        const QString image = backing.endsWith(" (deleted)") ? QString() : QFileInfo(backing).canonicalFilePath();
        if (!image.isEmpty())
            files.insert(image);
    }
    for (const QString &image : QSet<QString>(files))
        for (const QString &loop : loopDevicesOf(image))
            if (const QString disk = wholeDiskOfNode(loop); !disk.isEmpty())
                disks.insert(disk);
}

} // namespace

bool sameDisk(const QString &path, QChar letter)
{
    if (path.size() >= 2 && path[1] == ':' && path[0].isLetter() && sameDisk(path[0], letter))
        return true;
    const auto e = DriveTable::instance().entry(letter);
    if (!e || e->device.isEmpty() || e->kind == DriveKind::NetworkMount || e->kind == DriveKind::VirtualFolder)
        return false;
    const int64_t device = folderDevice(path);
    if (device < 0)
        return false;
    struct stat st {};
    st.st_dev = dev_t(device);
    QSet<QString> disks, files;
    mediumOf(*e, disks, files);
    // A file system on a block device: its device number; otherwise what the
    // mount table says it is mounted from: a device (a FUSE mount of one) or
    // a file (a FUSE mount of an image).
    const QString majMin = QStringLiteral("%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev));
    if (major(st.st_dev) != 0 && disks.contains(wholeDiskOf("/sys/dev/block/" + majMin)))
        return true;
    for (const MountRec &m : readMounts()) {
        if (m.majMin != majMin)
            continue;
        if (m.source.startsWith("/dev/") ? disks.contains(wholeDiskOfNode(m.source))
                                         : m.source.startsWith('/') && files.contains(QFileInfo(m.source).canonicalFilePath()))
            return true;
    }
    return false;
}

int64_t folderDevice(const QString &path)
{
    // The folder, or the nearest one above it that exists (a save folder is
    // made when the first file goes into it).
    QString at = toNative(path);
    if (at.isEmpty())
        return -1;
    struct stat st {};
    while (::stat(QFile::encodeName(at).constData(), &st) != 0) {
        const QString up = QFileInfo(at).path();
        if (up == at || at.isEmpty())
            return -1;
        at = up;
    }
    return int64_t(st.st_dev);
}

QString driveRootNative(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e || e->mountPoint.isEmpty())
        return {};
    return e->mountPoint;
}

int volumeSectorSize(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e)
        return 512;
    if (e->sectorSize > 0)
        return e->sectorSize;
    if (!e->disk.isEmpty() && e->disk.startsWith("/sys/block/")) {
        const int s = readSys(e->disk + "/queue/logical_block_size").toInt();
        if (s > 0)
            return s;
    }
    return 512;
}

namespace {

QString interfaceOfSysPath(const QString &sysDisk)
{
    const QString path = QFileInfo(sysDisk).canonicalFilePath();
    if (path.contains("/usb"))
        return QStringLiteral("USB");
    if (path.contains("/mmc_host/") || QFileInfo(sysDisk).fileName().startsWith("mmcblk"))
        return QStringLiteral("SD");
    if (path.contains("/ata"))
        return QStringLiteral("IDE");
    if (path.contains("ieee1394") || path.contains("firewire"))
        return QStringLiteral("1394");
    return QStringLiteral("SCSI");
}

} // namespace

QList<DiskDriveRow> diskDrives()
{
    QList<DiskDriveRow> rows;
    QSet<QString> seen;
    for (const DriveEntry &e : DriveTable::instance().entries()) {
        if (e.disk.isEmpty() || seen.contains(e.disk) || e.kind == DriveKind::OpticalSlot
            || e.kind == DriveKind::NetworkMount || e.kind == DriveKind::VirtualFolder)
            continue;
        seen.insert(e.disk);
        DiskDriveRow r;
        const bool removable = e.typeCode == DriveTypeRemovable;
        r.mediaType = removable ? QStringLiteral("Removable Media") : QStringLiteral("Fixed hard disk media");
        if (e.kind == DriveKind::VirtualImage) {
            r.deviceId = e.disk;
            r.interfaceType = QStringLiteral("File");
            r.bytesPerSector = e.sectorSize > 0 ? e.sectorSize : 512;
            r.totalSectors = QFileInfo(e.disk).size() / r.bytesPerSector;
        } else {
            r.deviceId = "/dev/" + QFileInfo(e.disk).fileName();
            r.interfaceType = interfaceOfSysPath(e.disk);
            const int ss = readSys(e.disk + "/queue/logical_block_size").toInt();
            r.bytesPerSector = ss > 0 ? ss : 512;
            r.totalSectors = readSys(e.disk + "/size").toLongLong() * 512 / r.bytesPerSector;
        }
        rows.append(r);
    }
    return rows;
}

QString physicalDiskOf(QChar letter)
{
    auto e = DriveTable::instance().entry(letter);
    if (!e || e->disk.isEmpty() || e->kind == DriveKind::NetworkMount || e->kind == DriveKind::VirtualFolder)
        return {};
    return e->kind == DriveKind::VirtualImage ? e->disk : "/dev/" + QFileInfo(e->disk).fileName();
}

} // namespace plat
