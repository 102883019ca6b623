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

// Renames within the folder without replacing: the kernel's no-replace
// rename, else a hard link (atomic as well), else, on file systems that have
// neither (FAT), a test of the name right before the rename.
int renameNoReplace(int dir, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(dir, from.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    if (::linkat(dir, from.constData(), dir, to.constData(), 0) == 0) {
        ::unlinkat(dir, from.constData(), 0);
        return 0;
    }
    if (errno == EEXIST)
        return -1;
    struct stat st {};
    if (::fstatat(dir, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(dir, from.constData(), dir, to.constData());
}

QString withoutClosingSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) && folder.size() > 1 ? folder.chopped(1) : folder;
}

} // namespace

std::shared_ptr<const Folder> Folder::open(const QString &native)
{
    if (native.isEmpty())
        return nullptr;
    const int fd = ::open(enc(native).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::shared_ptr<const Folder>(new Folder(fd, withoutClosingSlash(native)));
}

Folder::~Folder() { ::close(fd_); }

QString partFileName(const QString &name)
{
    const int room = kMaxNameBytes - int(kPrefix.size() + kSuffix.size());
    // A UTF-16 unit takes at most 3 bytes in UTF-8.
    if (name.size() * 3 <= room)
        return kPrefix + name + kSuffix;
    QString base = name;
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
    if (folderNative.isEmpty()) {
        errno = EINVAL;
        return false;
    }
    return create(nullptr, withoutClosingSlash(folderNative), name, leftover);
}

bool PartFile::open(std::shared_ptr<const Folder> folder, const QString &name, Leftover leftover)
{
    discard();
    if (!folder) {
        errno = EINVAL;
        return false;
    }
    const QString path = folder->path();
    return create(std::move(folder), path, name, leftover);
}

bool PartFile::create(std::shared_ptr<const Folder> dir, const QString &folder, const QString &name, Leftover leftover)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
        errno = EINVAL;
        return false;
    }
    dir_ = std::move(dir);
    folder_ = folder;
    const QString partName = partFileName(name);
    path_ = folder_ + QLatin1Char('/') + partName;
    // Names within a folder held open, else whole paths.
    pathBytes_ = enc(dir_ ? partName : path_);
    const int at = dirFd();
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::openat(at, pathBytes_.constData(), flags, 0666);
    // A leftover of an earlier save goes (unlink never removes a folder).
    if (fd < 0 && errno == EEXIST && leftover == Leftover::Replace && ::unlinkat(at, pathBytes_.constData(), 0) == 0)
        fd = ::openat(at, pathBytes_.constData(), flags, 0666);
    if (fd < 0) {
        const int e = errno;
        path_.clear();
        pathBytes_.clear();
        dir_.reset();
        errno = e;
        return false;
    }
    fd_ = fd;
    return true;
}

int PartFile::dirFd() const { return dir_ ? dir_->fd() : AT_FDCWD; }

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

bool PartFile::resize(qint64 size)
{
    if (fd_ < 0 || size < 0 || (file_ && file_->isOpen() && !file_->flush()))
        return false;
    return ::ftruncate(fd_, off_t(size)) == 0;
}

bool PartFile::setTimes(qint64 msecsSinceEpoch)
{
    // What the QFile still holds would change the times again.
    if (fd_ < 0 || (file_ && file_->isOpen() && !file_->flush()))
        return false;
    const qint64 secs = msecsSinceEpoch / 1000 - (msecsSinceEpoch % 1000 < 0 ? 1 : 0);
    const timespec at{time_t(secs), long(msecsSinceEpoch - secs * 1000) * 1000000L};
    const timespec times[2] = {at, at};
    return ::futimens(fd_, times) == 0;
}

bool PartFile::commit(const QString &finalName, Existing existing, bool syncFirst)
{
    if (path_.isEmpty() || finalName.isEmpty() || finalName.contains(QLatin1Char('/'))) {
        errno = EINVAL;
        return false;
    }
    // The file is closed before it takes its name, so that a late write
    // error (a network file system) never leaves an unsound file under it.
    // A name refused leaves it closed and temporary, for another name.
    if (fd_ >= 0) {
        if (file_ && file_->isOpen() && (!file_->flush() || file_->error() != QFileDevice::NoError)) {
            errno = EIO;
            return false;
        }
        if (syncFirst && ::fsync(fd_) != 0)
            return false;
        if (file_)
            file_->close();
        file_.reset();
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0) {
            const int error = errno;
            discard();
            errno = error;
            return false;
        }
    }
    const QString target = folder_ + QLatin1Char('/') + finalName;
    const QByteArray targetBytes = enc(dir_ ? finalName : target);
    const int at = dirFd();
    const int r = existing == Existing::Replace ? ::renameat(at, pathBytes_.constData(), at, targetBytes.constData())
                                                : renameNoReplace(at, pathBytes_, targetBytes);
    if (r != 0)
        return false;
    path_.clear();
    pathBytes_.clear();
    dir_.reset();
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
        ::unlinkat(dirFd(), pathBytes_.constData(), 0);
    path_.clear();
    pathBytes_.clear();
    dir_.reset();
}

} // namespace plat
