#include "platform/partfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

constexpr int kMaxNameBytes = 255;
const QString kPrefix = QStringLiteral(".");
const QString kSuffix = QStringLiteral(".part");

QByteArray enc(const QString &path) { return QFile::encodeName(path); }

// Renames without replacing: the kernel's no-replace rename, else a hard
// link (atomic as well), else, on file systems that have neither (FAT), a
// test of the name right before the rename.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno == EEXIST)
        return -1;
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.constData(), to.constData());
}

} // namespace

QString partFileName(const QString &name)
{
    QString base = name;
    const int room = kMaxNameBytes - int(kPrefix.size() + kSuffix.size());
    while (!base.isEmpty() && enc(base).size() > room) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    return kPrefix + base + kSuffix;
}

bool isPartFileName(const QString &name)
{
    return name.size() > kPrefix.size() + kSuffix.size() && name.startsWith(kPrefix) && name.endsWith(kSuffix);
}

PartFile::~PartFile() { discard(); }

bool PartFile::open(const QString &folderNative, const QString &name, Leftover leftover)
{
    discard();
    if (folderNative.isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/'))) {
        errno = EINVAL;
        return false;
    }
    folder_ = folderNative.endsWith(QLatin1Char('/')) ? folderNative.chopped(1) : folderNative;
    path_ = folder_ + QLatin1Char('/') + partFileName(name);
    const QByteArray native = enc(path_);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(native.constData(), flags, 0666);
    // A leftover of an earlier save goes (unlink never removes a folder).
    if (fd < 0 && errno == EEXIST && leftover == Leftover::Replace && ::unlink(native.constData()) == 0)
        fd = ::open(native.constData(), flags, 0666);
    if (fd < 0) {
        path_.clear();
        return false;
    }
    fd_ = fd;
    return true;
}

QFile &PartFile::file()
{
    if (!file_) {
        file_ = std::make_unique<QFile>();
        if (fd_ >= 0)
            file_->open(fd_, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
    }
    return *file_;
}

bool PartFile::sync()
{
    if (fd_ < 0)
        return false;
    if (file_ && file_->isOpen() && !file_->flush())
        return false;
    return ::fsync(fd_) == 0;
}

bool PartFile::commit(const QString &finalName, Existing existing, bool syncFirst)
{
    if (fd_ < 0 || finalName.isEmpty() || finalName.contains(QLatin1Char('/'))) {
        errno = EINVAL;
        return false;
    }
    if (file_ && file_->isOpen() && (!file_->flush() || file_->error() != QFileDevice::NoError)) {
        errno = EIO;
        return false;
    }
    if (syncFirst && ::fsync(fd_) != 0)
        return false;
    const QString target = folder_ + QLatin1Char('/') + finalName;
    const int r = existing == Existing::Replace ? ::rename(enc(path_).constData(), enc(target).constData())
                                                : renameNoReplace(enc(path_), enc(target));
    if (r != 0)
        return false;
    if (file_)
        file_->close();
    file_.reset();
    const int closed = ::close(fd_);
    fd_ = -1;
    path_.clear();
    if (closed != 0) {
        // A late write error (a network file system): the file is not sound.
        ::unlink(enc(target).constData());
        return false;
    }
    finalPath_ = target;
    return true;
}

void PartFile::discard()
{
    if (file_)
        file_->close();
    file_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!path_.isEmpty())
        ::unlink(enc(path_).constData());
    path_.clear();
}

} // namespace plat
