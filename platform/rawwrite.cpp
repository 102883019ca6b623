#include "platform/rawwrite.h"

#include "platform/drives.h"
#include "platform/os.h"
#include "platform/rawio.h"
#include "platform/volumefacts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace plat {

namespace {

std::function<void(MediumFacts &)> &factsHook()
{
    static std::function<void(MediumFacts &)> hook;
    return hook;
}

QByteArray nativeBytes(const QString &path) { return QFile::encodeName(path); }

// The disk of a block device and every partition on it.
struct Topology {
    QString sysDisk;          // /sys/devices/.../sdb
    QStringList names;        // sdb, sdb1, sdb2 ...
    QStringList majMins;      // 8:16, 8:17 ...
    bool wholeDisk = false;
    QString sysVolume;        // the sysfs folder of the device itself
};

bool topologyOf(dev_t rdev, Topology &t)
{
    const QString mm = QStringLiteral("%1:%2").arg(major(rdev)).arg(minor(rdev));
    const QString sys = QFileInfo(QStringLiteral("/sys/dev/block/") + mm).canonicalFilePath();
    if (sys.isEmpty())
        return false;
    t.sysVolume = sys;
    t.wholeDisk = !QFile::exists(sys + QStringLiteral("/partition"));
    t.sysDisk = t.wholeDisk ? sys : QFileInfo(sys).path();
    t.names << QFileInfo(t.sysDisk).fileName();
    t.majMins << readSysText(t.sysDisk + QStringLiteral("/dev"));
    const QStringList subs = QDir(t.sysDisk).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &sub : subs)
        if (QFile::exists(t.sysDisk + '/' + sub + QStringLiteral("/partition"))) {
            t.names << sub;
            t.majMins << readSysText(t.sysDisk + '/' + sub + QStringLiteral("/dev"));
        }
    return true;
}

bool hasHolders(const Topology &t)
{
    if (!QDir(t.sysDisk + QStringLiteral("/holders")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
        return true;
    for (int i = 1; i < t.names.size(); ++i)
        if (!QDir(t.sysDisk + '/' + t.names[i] + QStringLiteral("/holders"))
                 .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
            return true;
    return false;
}

QString deviceName(const QString &source)
{
    if (!source.startsWith(QLatin1String("/dev/")))
        return {};
    const QString real = QFileInfo(source).canonicalFilePath();
    return QFileInfo(real.isEmpty() ? source : real).fileName();
}

bool swapOn(const Topology &t)
{
    QFile f(QStringLiteral("/proc/swaps"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QString path = QString::fromUtf8(lines[i].simplified().split(' ').value(0));
        if (t.names.contains(deviceName(path)))
            return true;
    }
    return false;
}

// Mounted and system marks from the mount table.
void markMounts(const Topology &t, MediumFacts &f)
{
    static const QStringList systemPoints{"/", "/boot", "/boot/efi", "/usr", "/var", "/home"};
    for (const MountRecord &m : mountTable()) {
        const bool ours = t.majMins.contains(m.majMin) || t.names.contains(deviceName(m.source));
        if (!ours)
            continue;
        f.mounted = true;
        if (systemPoints.contains(m.mountPoint))
            f.system = true;
    }
}

QString diskSerial(const Topology &t)
{
    const QString loop = readSysText(t.sysDisk + QStringLiteral("/loop/backing_file"));
    if (!loop.isEmpty())
        return QStringLiteral("loop:") + loop + '@' + readSysText(t.sysDisk + QStringLiteral("/loop/offset"));
    QString s = readSysText(t.sysDisk + QStringLiteral("/device/serial"));
    if (s.isEmpty()) {
        const auto props = udevProperties(t.majMins.value(0));
        s = props.value(QStringLiteral("ID_SERIAL"), props.value(QStringLiteral("ID_SERIAL_SHORT")));
    }
    if (s.isEmpty())
        s = readSysText(t.sysDisk + QStringLiteral("/device/wwid"));
    return s;
}

} // namespace

QStringList loopDevicesOf(const QString &imageNative)
{
    QStringList found;
    const QString image = QFileInfo(imageNative).canonicalFilePath();
    if (image.isEmpty())
        return found;
    const QStringList loops = QDir(QStringLiteral("/sys/block")).entryList({QStringLiteral("loop*")}, QDir::Dirs);
    for (const QString &loop : loops) {
        QString backing = readSysText(QStringLiteral("/sys/block/") + loop + QStringLiteral("/loop/backing_file"));
        if (backing.endsWith(QLatin1String(" (deleted)")))
            continue;
        if (!backing.isEmpty() && QFileInfo(backing).canonicalFilePath() == image)
            found << QStringLiteral("/dev/") + loop;
    }
    return found;
}

namespace {

void readVolumeFacts(QChar letter, MediumFacts &f)
{
    Handle h = openVolume(letter, Access::Read);
    if (!h.valid())
        return;
    if (auto info = ownVolumeInfo([&h](qint64 o, qint64 n) { return h.readAt(o, n); }, h.size())) {
        f.volumeSerial = info->serial;
        f.label = info->label;
    }
    h.close();
}

MediumFacts factsOf(const DriveEntry &e)
{
    MediumFacts f;
    f.letter = e.letter;
    f.device = e.device;
    f.removable = e.typeCode == DriveTypeRemovable;
    f.readOnly = e.readOnly;
    f.windowOffset = e.windowOffset;
    f.present = !e.mediumAbsent && isDriveReady(e.letter) == true;
    f.sectorSize = volumeSectorSize(e.letter);
    if (e.device.isEmpty() || e.kind == DriveKind::NetworkMount || e.kind == DriveKind::VirtualFolder) {
        f.removable = false;
        return f;
    }
    if (e.kind == DriveKind::RootFs || e.kind == DriveKind::OpticalSlot)
        f.removable = false;
    struct stat st {};
    if (::stat(nativeBytes(e.device).constData(), &st) != 0) {
        f.present = false;
        return f;
    }
    if (e.kind == DriveKind::VirtualImage) {
        f.disk = e.device;
        f.wholeDisk = e.windowLength < 0;
        f.devNumber = quint64(st.st_dev);
        f.inode = quint64(st.st_ino);
        f.serial = QStringLiteral("file:") + QFileInfo(e.device).canonicalFilePath();
        f.sizeBytes = e.windowLength >= 0 ? e.windowLength : qint64(st.st_size);
        // A virtual drive with a files folder stands for a mounted volume.
        f.mounted = !e.mountPoint.isEmpty();
        f.loopDevice = loopDevicesOf(e.device).value(0);
        f.readOnly = f.readOnly || ::access(nativeBytes(e.device).constData(), W_OK) != 0;
        if (!S_ISREG(st.st_mode))
            f.present = false;
    } else {
        if (!S_ISBLK(st.st_mode)) {
            f.present = false;
            return f;
        }
        f.blockDevice = true;
        f.devNumber = quint64(st.st_rdev);
        Topology t;
        if (topologyOf(st.st_rdev, t)) {
            f.disk = QStringLiteral("/dev/") + t.names.value(0);
            f.wholeDisk = t.wholeDisk;
            f.serial = diskSerial(t);
            markMounts(t, f);
            if (swapOn(t) || hasHolders(t))
                f.system = true;
            if (auto c = DriveTable::instance().entry('C'); c && !c->disk.isEmpty()
                && QFileInfo(c->disk).fileName() == t.names.value(0))
                f.system = true;
            f.readOnly = f.readOnly || readSysText(t.sysVolume + QStringLiteral("/ro")) == QLatin1String("1");
        }
        const int fd = ::open(nativeBytes(e.device).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            unsigned long long bytes = 0;
            if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
                f.sizeBytes = qint64(bytes);
            ::close(fd);
        }
        if (f.sizeBytes <= 0)
            f.present = false;
    }
    if (f.present)
        readVolumeFacts(e.letter, f);
    return f;
}

MediumFacts hooked(MediumFacts f)
{
    if (factsHook())
        factsHook()(f);
    return f;
}

// Opens the volume for writing; the facts are those just checked.
int openChecked(const DriveEntry &e, const MediumFacts &f, WriteRefusal *why, int *err)
{
    *err = 0;
    if (f.blockDevice) {
        const int fd = ::open(nativeBytes(e.device).constData(), O_RDWR | O_EXCL | O_CLOEXEC);
        if (fd < 0) {
            *err = errno;
            *why = errno == EBUSY ? WriteRefusal::Busy
                   : errno == EROFS ? WriteRefusal::ReadOnly
                                    : WriteRefusal::OpenFailed;
            return -1;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode) || quint64(st.st_rdev) != f.devNumber) {
            ::close(fd);
            *err = ENXIO;
            *why = WriteRefusal::IdentityChanged;
            return -1;
        }
        return fd;
    }
    const int fd = ::open(nativeBytes(e.device).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *err = errno;
        *why = errno == EROFS || errno == EACCES ? WriteRefusal::ReadOnly : WriteRefusal::OpenFailed;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || quint64(st.st_dev) != f.devNumber
        || quint64(st.st_ino) != f.inode) {
        ::close(fd);
        *err = ENXIO;
        *why = WriteRefusal::IdentityChanged;
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *err = EBUSY;
        ::close(fd);
        *why = WriteRefusal::Busy;
        return -1;
    }
    return fd;
}

QString findMkfsFat()
{
    const QString found = QStandardPaths::findExecutable(
        QStringLiteral("mkfs.fat"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("mkfs.fat")) : found;
}

} // namespace

void setMediumFactsHook(std::function<void(MediumFacts &)> hook) { factsHook() = std::move(hook); }

std::optional<MediumFacts> mediumFacts(QChar letter)
{
    auto e = DriveTable::instance().entry(letter.toUpper());
    if (!e)
        return std::nullopt;
    return hooked(factsOf(*e));
}

MediumIdentity identityOf(const MediumFacts &f)
{
    return MediumIdentity{f.device, f.devNumber, f.inode, f.serial, f.sizeBytes, f.volumeSerial};
}

WriteRefusal writeRefusalOf(const MediumFacts &f)
{
    if (!f.present || f.sizeBytes <= 0)
        return WriteRefusal::NoMedium;
    if (!f.removable)
        return WriteRefusal::NotRemovable;
    if (f.system)
        return WriteRefusal::SystemDisk;
    if (f.mounted)
        return WriteRefusal::Mounted;
    if (!f.loopDevice.isEmpty())
        return WriteRefusal::LoopBacked;
    if (f.readOnly)
        return WriteRefusal::ReadOnly;
    return WriteRefusal::None;
}

int openGuardedForWrite(const DriveEntry &entry, const MediumIdentity *confirmed, WriteRefusal *why, int *err)
{
    WriteRefusal dummyWhy;
    int dummyErr;
    why = why ? why : &dummyWhy;
    err = err ? err : &dummyErr;
    const MediumFacts f = hooked(factsOf(entry));
    *why = writeRefusalOf(f);
    if (*why == WriteRefusal::None && confirmed && identityOf(f) != *confirmed)
        *why = WriteRefusal::IdentityChanged;
    if (*why != WriteRefusal::None) {
        *err = *why == WriteRefusal::NoMedium ? ENOENT : EACCES;
        return -1;
    }
    return openChecked(entry, f, why, err);
}

// ---- RawWriteTarget -------------------------------------------------------------

RawWriteTarget::~RawWriteTarget() { close(); }

WriteRefusal RawWriteTarget::open(QChar letter, const MediumIdentity &confirmed)
{
    close();
    auto e = DriveTable::instance().entry(letter.toUpper());
    if (!e)
        return WriteRefusal::NoMedium;
    WriteRefusal why = WriteRefusal::None;
    int err = 0;
    const int fd = openGuardedForWrite(*e, &confirmed, &why, &err);
    if (fd < 0)
        return why;
    fd_ = fd;
    base_ = e->windowOffset;
    size_ = confirmed.sizeBytes;
    return WriteRefusal::None;
}

qint64 RawWriteTarget::writeAt(qint64 offset, const void *data, qint64 length)
{
    if (fd_ < 0 || offset < 0 || length < 0)
        return -1;
    if (offset >= size_)
        return 0;
    length = qMin(length, size_ - offset);
    qint64 done = 0;
    const auto *p = static_cast<const char *>(data);
    while (done < length) {
        const ssize_t w = ::pwrite(fd_, p + done, size_t(qMin<qint64>(length - done, 1 << 30)),
                                   off_t(base_ + offset + done));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (w == 0)
            break;
        done += w;
    }
    return done;
}

bool RawWriteTarget::close()
{
    if (fd_ < 0)
        return true;
    const bool synced = ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return synced && closed;
}

// ---- format -----------------------------------------------------------------------

QString fatFormatLabel(const QString &label)
{
    const QString text = label.trimmed().toUpper();
    if (text.isEmpty())
        return {};
    static const QString forbidden = QStringLiteral("*?.,;:/\\|+=<>[]\"");
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || forbidden.contains(c))
            return {};
    return text.size() <= 11 ? text : QString();
}

QStringList mkfsFatArguments(const MediumFacts &f, int fatBits, const QString &label)
{
    QStringList args;
    if (fatBits == 12 || fatBits == 16 || fatBits == 32)
        args << QStringLiteral("-F") << QString::number(fatBits);
    const QString name = fatFormatLabel(label);
    if (!name.isEmpty())
        args << QStringLiteral("-n") << name;
    // A card without a partition table is formatted as a whole, as cameras do.
    if (f.blockDevice && f.wholeDisk)
        args << QStringLiteral("-I");
    const bool window = !f.blockDevice && !f.wholeDisk;
    if (window)
        args << QStringLiteral("--offset") << QString::number(f.windowOffset / 512);
    args << f.device;
    if (window)
        args << QString::number(f.sizeBytes / 1024);
    return args;
}

FormatResult formatFat(QChar letter, const MediumIdentity &confirmed, int fatBits, const QString &label, int timeoutMs)
{
    FormatResult r;
    auto e = DriveTable::instance().entry(letter.toUpper());
    if (!e) {
        r.refusal = WriteRefusal::NoMedium;
        return r;
    }
    const MediumFacts f = hooked(factsOf(*e));
    r.refusal = writeRefusalOf(f);
    if (r.refusal == WriteRefusal::None && identityOf(f) != confirmed)
        r.refusal = WriteRefusal::IdentityChanged;
    if (r.refusal != WriteRefusal::None)
        return r;
    // A block device is not held: mkfs.fat opens it exclusively itself and
    // fails while anyone holds it. An image file stays locked meanwhile.
    int lockFd = -1;
    if (f.blockDevice) {
        const int fd = ::open(nativeBytes(e->device).constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
        if (fd < 0) {
            r.refusal = errno == EBUSY ? WriteRefusal::Busy : WriteRefusal::OpenFailed;
            return r;
        }
        ::close(fd);
    } else {
        int err = 0;
        lockFd = openChecked(*e, f, &r.refusal, &err);
        if (lockFd < 0)
            return r;
    }
    const QString program = findMkfsFat();
    if (program.isEmpty()) {
        if (lockFd >= 0)
            ::close(lockFd);
        r.refusal = WriteRefusal::OpenFailed;
        return r;
    }
    QProcess p;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, mkfsFatArguments(f, fatBits, label));
    if (!p.waitForStarted(10000)) {
        if (lockFd >= 0)
            ::close(lockFd);
        return r;
    }
    QElapsedTimer clock;
    clock.start();
    while (!p.waitForFinished(20)) {
        pumpEvents();
        if (p.state() == QProcess::NotRunning)
            break;
        if (clock.elapsed() > timeoutMs) {
            p.kill();
            p.waitForFinished(5000);
            r.exitCode = -2;
            break;
        }
    }
    r.output = p.readAll();
    if (r.exitCode != -2)
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (lockFd >= 0)
        ::close(lockFd);
    return r;
}

} // namespace plat
