#include "tests/support/fixtures.h"

#include "platform/drives.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>
#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

namespace {
std::vector<std::unique_ptr<QTemporaryDir>> &tempDirs()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    return dirs;
}
} // namespace

QString testHome()
{
    static const QString home = [] {
        // A child process that a test kills works in the home it was given.
        if (qEnvironmentVariableIsSet("QUILVANE_TEST_CHILD") && !qEnvironmentVariableIsEmpty("QUILVANE_HOME")) {
            const QString given = qEnvironmentVariable("QUILVANE_HOME");
            qputenv("QUILVANE_DRIVES", (given + "/drives.conf").toLocal8Bit());
            return given;
        }
        auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/quilvane-home-XXXXXX");
        QString path = dir->path();
        tempDirs().push_back(std::move(dir));
        qputenv("QUILVANE_HOME", path.toLocal8Bit());
        // A drive configuration of the test's own, empty unless a test writes it.
        qputenv("QUILVANE_DRIVES", (path + "/drives.conf").toLocal8Bit());
        return path;
    }();
    return home;
}

PrivateHome::PrivateHome() : oldHome_(qgetenv("HOME")), oldData_(qgetenv("XDG_DATA_HOME"))
{
    home_ = makeTempDir(QStringLiteral("home"));
    qputenv("HOME", home_.toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home_ + QStringLiteral("/.local/share")).toLocal8Bit());
    QDir().mkpath(home_ + QStringLiteral("/.local/share"));
}

PrivateHome::~PrivateHome()
{
    qputenv("HOME", oldHome_);
    if (oldData_.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldData_);
}

QString makeTempDir(const QString &hint)
{
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/quilvane-" + hint + "-XXXXXX");
    QString path = dir->path();
    tempDirs().push_back(std::move(dir));
    return path;
}

int runTool(const QString &program, const QStringList &args, QByteArray *out, const QByteArray &input)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MTOOLS_SKIP_CHECK", "1");
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(600000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool haveTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty()
        || !QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin"}).isEmpty();
}

QByteArray readFileBytes(const QString &nativePath, qint64 offset, qint64 length)
{
    QFile f(nativePath);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return length < 0 ? f.readAll() : f.read(length);
}

bool writeFileBytes(const QString &nativePath, const QByteArray &bytes)
{
    QFile f(nativePath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool patchFile(const QString &nativePath, qint64 offset, const QByteArray &bytes)
{
    QFile f(nativePath);
    return f.open(QIODevice::ReadWrite) && f.seek(offset) && f.write(bytes) == bytes.size();
}

static QString mkfsFat()
{
    QString p = QStandardPaths::findExecutable("mkfs.fat");
    if (p.isEmpty())
        p = QStandardPaths::findExecutable("mkfs.fat", {"/usr/sbin", "/sbin"});
    return p;
}

QString makeFatImage(const QString &dir, const QString &name, const FatImageSpec &spec)
{
    const QString path = dir + "/" + name;
    QFile::remove(path);
    QStringList args{"-C", "--invariant", "-F", QString::number(spec.fatBits),
                     "-S", QString::number(spec.sectorSize),
                     "-s", QString::number(spec.sectorsPerCluster),
                     "-f", QString::number(spec.fats),
                     "-i", spec.serial};
    if (!spec.label.isEmpty())
        args << "-n" << spec.label;
    if (spec.reservedSectors >= 0)
        args << "-R" << QString::number(spec.reservedSectors);
    if (spec.rootEntries >= 0)
        args << "-r" << QString::number(spec.rootEntries);
    if (!spec.align)
        args << "-a";
    args << path << QString::number(spec.sizeKiB);
    QByteArray out;
    if (runTool(mkfsFat(), args, &out) != 0) {
        qWarning("mkfs.fat failed: %s", out.constData());
        return {};
    }
    return path;
}

bool mmd(const QString &image, const QString &dosPath)
{
    return runTool("mmd", {"-i", image, "::" + dosPath}) == 0;
}

bool mcopyData(const QString &image, const QString &dosPath, const QByteArray &data)
{
    const QString src = makeTempDir("src") + "/data";
    if (!writeFileBytes(src, data))
        return false;
    QByteArray out;
    bool ok = runTool("mcopy", {"-o", "-i", image, src, "::" + dosPath}, &out) == 0;
    if (!ok)
        qWarning("mcopy failed: %s", out.constData());
    QFile::remove(src);
    return ok;
}

bool mdel(const QString &image, const QString &dosPath)
{
    return runTool("mdel", {"-i", image, "::" + dosPath}) == 0;
}

QByteArray mtype(const QString &image, const QString &dosPath)
{
    const QString dst = makeTempDir("out") + "/data";
    if (runTool("mcopy", {"-n", "-i", image, "::" + dosPath, dst}) != 0)
        return {};
    return readFileBytes(dst);
}

bool mcopyFiles(const QString &image, const QString &dosFolder, const QList<QPair<QString, QByteArray>> &files)
{
    const QString src = makeTempDir("many");
    QStringList args{"-o", "-i", image};
    for (const auto &f : files) {
        const QString path = src + "/" + f.first;
        if (!writeFileBytes(path, f.second))
            return false;
        args << path;
    }
    QString target = "::" + dosFolder;
    if (!target.endsWith('/'))
        target += '/';
    args << target;
    QByteArray out;
    const bool ok = runTool("mcopy", args, &out) == 0;
    if (!ok)
        qWarning("mcopy failed: %s", out.constData());
    QDir(src).removeRecursively();
    return ok;
}

QString minfoField(const QString &image, const QString &key)
{
    QByteArray out;
    if (runTool("minfo", {"-i", image, "::"}, &out) != 0)
        return {};
    for (const QByteArray &line : out.split('\n')) {
        const QString l = QString::fromLatin1(line);
        const QString lead = key + ":";
        const QString leadEq = key + "=";
        if (l.startsWith(lead))
            return l.mid(lead.size()).trimmed();
        if (l.startsWith(leadEq))
            return l.mid(leadEq.size()).trimmed();
    }
    return {};
}

qint64 mdirBytesFree(const QString &image)
{
    QByteArray out;
    if (runTool("mdir", {"-i", image, "::"}, &out) != 0)
        return -1;
    for (const QByteArray &line : out.split('\n'))
        if (line.contains("bytes free")) {
            QByteArray digits;
            for (char c : line.left(line.indexOf("bytes free")))
                if (c >= '0' && c <= '9')
                    digits += c;
            return digits.toLongLong();
        }
    return -1;
}

SampleCard makeSampleCard(const QString &dir, int fatBits, bool fullRoot)
{
    SampleCard card;
    FatImageSpec spec;
    spec.fatBits = fatBits;
    spec.sizeKiB = fatBits == 12 ? 2048 : fatBits == 16 ? 16384 : 65536;
    spec.sectorsPerCluster = fatBits == 32 ? 1 : 4;
    card.image = makeFatImage(dir, QStringLiteral("card%1.img").arg(fatBits), spec);
    if (card.image.isEmpty())
        return card;
    mmd(card.image, "/DCIM");
    mmd(card.image, "/DCIM/100CANON");
    mmd(card.image, "/A");
    mmd(card.image, "/A/B");
    mmd(card.image, "/A/B/C");
    mmd(card.image, "/A/B/C/D");
    const QList<QPair<QString, QByteArray>> present = {
        {"/DCIM/100CANON/IMG_0001.JPG", patternBytes(70000, 1)},
        {"/DCIM/100CANON/IMG_0002.JPG", patternBytes(130001, 2)},
        {"/DCIM/100CANON/Holiday at the sea.jpg", patternBytes(5000, 3)},
        {"/A/B/C/D/deep file with a long name.txt", patternBytes(1, 4)},
        {"/README.TXT", QByteArray("a card\r\n")},
        {"/empty.dat", QByteArray()},
    };
    const QList<QPair<QString, QByteArray>> gone = {
        {"/DCIM/100CANON/IMG_0003.JPG", patternBytes(40000, 5)},
        {"/Lost picture.jpg", patternBytes(9000, 6)},
    };
    for (const auto &f : present + gone)
        mcopyData(card.image, f.first, f.second);
    for (const auto &f : gone)
        mdel(card.image, f.first);
    card.files = present;
    card.deleted = gone;
    if (fullRoot && fatBits != 32) {
        // Fill the remaining root slots with short names: one slot each.
        const int used = 2 + 1 + 1 + 1 + 1 + 3 /* long names take more */;
        QList<QPair<QString, QByteArray>> fill;
        for (int i = 0; i < 512 - used - 8; ++i)
            fill.append({QStringLiteral("F%1.BIN").arg(i, 5, 10, QChar('0')), QByteArray(1, char(i))});
        mcopyFiles(card.image, "/", fill);
        for (int i = 0; i < 64; ++i)
            if (!mcopyData(card.image, QStringLiteral("/G%1.BIN").arg(i, 5, 10, QChar('0')), QByteArray(1, 'g')))
                break;
        // mtools reuses deleted slots: delete one only once the root is full.
        mdel(card.image, "/F00000.BIN");
        card.deleted.append({"/F00000.BIN", QByteArray(1, '\0')});
    }
    return card;
}

QByteArray patternBytes(qint64 size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 12345u;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x & 0xFF);
    }
    return b;
}

QString imageMagickProgram()
{
    for (const QString &p : {QStringLiteral("/usr/bin/convert-im6.q16"), QStringLiteral("/usr/bin/convert")})
        if (QFile::exists(p))
            return p;
    return QStringLiteral("convert");
}

QByteArray imageMagickPicture(const QString &dir, const QString &name, const QStringList &args)
{
    const QString out = dir + '/' + name;
    if (runTool(imageMagickProgram(), args + QStringList{out}) != 0)
        return {};
    return readFileBytes(out);
}

bool attachRemovable(QChar letter, const QString &imageNative)
{
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    return plat::DriveTable::instance().attachImage(letter, imageNative, opts);
}

void detachDrive(QChar letter)
{
    plat::DriveTable::instance().detach(letter);
}

} // namespace testing_support

namespace testing_support {

namespace {
// The calling thread's effective capabilities without (or again with) the
// two that pass over file modes; false when they cannot be changed.
bool setDacOverride(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (on)
        data[0].effective |= bits & data[0].permitted;
    else
        data[0].effective &= ~bits;
    return ::syscall(SYS_capset, &header, data) == 0;
}
} // namespace

NoReadRights::NoReadRights(const QString &nativePath) : path_(nativePath)
{
    struct stat st {};
    const QByteArray p = QFile::encodeName(path_);
    if (::stat(p.constData(), &st) == 0)
        mode_ = st.st_mode & 07777;
    ::chmod(p.constData(), 0);
    if (::geteuid() == 0)
        dropped_ = setDacOverride(false);
}

NoReadRights::~NoReadRights()
{
    if (dropped_)
        setDacOverride(true);
    ::chmod(QFile::encodeName(path_).constData(), mode_);
}

bool NoReadRights::active() const
{
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

SmallDisk::SmallDisk(int kib)
{
    path_ = makeTempDir("full");
    if (::geteuid() != 0
        || ::mount("tmpfs", path_.toLocal8Bit().constData(), "tmpfs", 0,
                   QStringLiteral("size=%1k").arg(kib).toLatin1().constData())
               != 0)
        path_.clear();
}

SmallDisk::~SmallDisk()
{
    if (!path_.isEmpty())
        ::umount2(path_.toLocal8Bit().constData(), MNT_DETACH);
}

bool SmallDisk::grow(int kib)
{
    return !path_.isEmpty()
           && ::mount("tmpfs", path_.toLocal8Bit().constData(), "tmpfs", MS_REMOUNT,
                      QStringLiteral("size=%1k").arg(kib).toLatin1().constData())
                  == 0;
}

} // namespace testing_support
