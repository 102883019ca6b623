#include "platform/rawio.h"

#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/rawwrite.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {
int &openError()
{
    static int e = 0;
    return e;
}

// A descriptor never 0..2, so that no caller mistakes it for "none".
int safeFd(int fd)
{
    if (fd >= 0 && fd < 3) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        return moved;
    }
    return fd;
}
} // namespace

namespace {
// The first damaged byte in [pos, pos + n) of the window, or -1.
qint64 firstBadByte(const FaultSpec &f, qint64 pos, qint64 n)
{
    qint64 first = -1;
    for (const auto &r : f.badSectors) {
        const qint64 a = r.first * f.sectorSize, b = (r.second + 1) * f.sectorSize;
        if (a < pos + n && b > pos) {
            const qint64 at = qMax(a, pos);
            if (first < 0 || at < first)
                first = at;
        }
    }
    return first;
}

// The bytes of a read of n at pos that arrive before injected damage, after
// its wait; -1 (errno EIO) when the read fails at once.
qint64 beforeDamage(const std::shared_ptr<const FaultSpec> &faults, qint64 pos, qint64 n)
{
    const qint64 bad = faults ? firstBadByte(*faults, pos, n) : -1;
    if (bad < 0)
        return n;
    if (faults->slowMs > 0)
        ::usleep(useconds_t(faults->slowMs) * 1000);
    if (bad == pos) {
        errno = EIO;
        return -1;
    }
    return bad - pos;   // the bytes before the damage arrive; the next read fails
}
} // namespace

bool Handle::read(void *buffer, qint64 n, qint64 *got)
{
    if (got)
        *got = 0;
    if (!valid() || n < 0)
        return false;
    qint64 pos = this->pos();
    if (pos < 0)
        return false;
    if (windowLength >= 0)
        n = qBound<qint64>(0, windowLength - pos, n);
    n = beforeDamage(faults, pos, n);
    if (n < 0)
        return false;
    qint64 done = 0;
    auto *p = static_cast<char *>(buffer);
    while (done < n) {
        ssize_t r = ::read(fd, p + done, size_t(qMin<qint64>(n - done, 1 << 30)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (got)
                *got = done;
            return done > 0;
        }
        if (r == 0)
            break;
        done += r;
    }
    if (got)
        *got = done;
    return true;
}

QByteArray Handle::readAt(qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0 || length > (qint64(1) << 30) || !seek(offset))
        return {};
    QByteArray b(length, Qt::Uninitialized);
    qint64 got = 0;
    if (!read(b.data(), length, &got))
        return {};
    b.truncate(got);
    return b;
}

qint64 Handle::readAt(qint64 offset, void *into, qint64 n)
{
    if (!valid() || offset < 0 || n < 0)
        return -1;
    if (windowLength >= 0)
        n = qBound<qint64>(0, windowLength - offset, n);
    n = beforeDamage(faults, offset, n);
    if (n < 0)
        return -1;
    qint64 done = 0;
    auto *p = static_cast<char *>(into);
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, size_t(qMin<qint64>(n - done, 1 << 30)), off_t(windowOffset + offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (r == 0)
            break;
        done += r;
    }
    return done;
}

bool Handle::write(const void *buffer, qint64 n, qint64 *written)
{
    if (written)
        *written = 0;
    if (!valid() || n < 0)
        return false;
    qint64 pos = this->pos();
    if (windowLength >= 0 && pos + n > windowLength)
        n = qMax<qint64>(0, windowLength - pos);
    qint64 done = 0;
    auto *p = static_cast<const char *>(buffer);
    while (done < n) {
        ssize_t r = ::write(fd, p + done, size_t(qMin<qint64>(n - done, 1 << 30)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (written)
                *written = done;
            return false;
        }
        done += r;
    }
    if (written)
        *written = done;
    return true;
}

bool Handle::seek(qint64 distance, bool fromCurrent)
{
    if (!valid())
        return false;
    qint64 target = fromCurrent ? pos() + distance : distance;
    if (target < 0)
        return false;
    return ::lseek(fd, off_t(windowOffset + target), SEEK_SET) >= 0;
}

qint64 Handle::pos() const
{
    if (!valid())
        return -1;
    off_t p = ::lseek(fd, 0, SEEK_CUR);
    return p < 0 ? -1 : qint64(p) - windowOffset;
}

qint64 Handle::size() const
{
    if (!valid())
        return -1;
    if (windowLength >= 0)
        return windowLength;
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return -1;
    if (S_ISBLK(st.st_mode)) {
        unsigned long long bytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &bytes) == 0)
            return qint64(bytes) - windowOffset;
        return -1;
    }
    return qint64(st.st_size) - windowOffset;
}

bool Handle::truncate()
{
    if (!valid() || windowLength >= 0)
        return false;
    qint64 p = pos();
    return p >= 0 && ::ftruncate(fd, off_t(p)) == 0;
}

bool Handle::flush()
{
    return valid() && ::fsync(fd) == 0;
}

bool Handle::close()
{
    if (!valid())
        return false;
    int r = ::close(fd);
    fd = -1;
    return r == 0;
}

Handle openNative(const QString &nativePath, Access access, bool create)
{
    Handle h;
    if (nativePath.isEmpty()) {
        openError() = ENOENT;
        return h;
    }
    const QByteArray path = nativePath.toLocal8Bit();
    // A device is written only through the guard of platform/rawwrite.h: it
    // is refused before it is opened, never opened for writing first.
    const auto isDevice = [](const struct stat &st) { return S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode); };
    struct stat before {};
    if (access == Access::ReadWrite && ::stat(path.constData(), &before) == 0 && isDevice(before)) {
        openError() = EACCES;
        return h;
    }
    int flags = (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    if (create && access == Access::ReadWrite)
        flags |= O_CREAT;
    int fd = ::open(path.constData(), flags, 0644);
    if (fd < 0) {
        openError() = errno;
        return h;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        openError() = EISDIR;
        return h;
    }
    // The name turned into a device between the look and the open.
    if (access == Access::ReadWrite && isDevice(st)) {
        ::close(fd);
        openError() = EACCES;
        return h;
    }
    h.fd = safeFd(fd);
    return h;
}

Handle openFile(const QString &internalPath, Access access, bool create)
{
    return openNative(toNative(internalPath), access, create);
}

Handle createFile(const QString &nativePath, CreateMode mode)
{
    Handle h;
    if (nativePath.isEmpty()) {
        openError() = ENOENT;
        return h;
    }
    int flags = O_RDWR | O_CLOEXEC | O_CREAT | O_NOFOLLOW;
    flags |= mode == CreateMode::Exclusive ? O_EXCL : 0;
    int fd = ::open(QFile::encodeName(nativePath).constData(), flags, 0644);
    if (fd < 0) {
        openError() = errno;
        return h;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        openError() = EINVAL;
        return h;
    }
    if (mode == CreateMode::Truncate && ::ftruncate(fd, 0) != 0) {
        openError() = errno;
        ::close(fd);
        return h;
    }
    h.fd = safeFd(fd);
    return h;
}

namespace {
// The volume's handle over an open descriptor: its window and faults.
Handle volumeHandle(int fd, const DriveEntry &e)
{
    Handle h;
    h.fd = safeFd(fd);
    h.windowOffset = e.windowOffset;
    h.windowLength = e.windowLength;
    if (!e.badSectors.isEmpty()) {
        auto f = std::make_shared<FaultSpec>();
        f->badSectors = e.badSectors;
        f->sectorSize = e.sectorSize > 0 ? e.sectorSize : 512;
        f->slowMs = e.slowMs;
        h.faults = f;
    }
    ::lseek(h.fd, off_t(h.windowOffset), SEEK_SET);
    return h;
}
} // namespace

Handle openVolume(QChar letter, Access access)
{
    auto e = DriveTable::instance().entry(letter.toUpper());
    const bool noRawVolume =
        e && (e->device.isEmpty() || e->kind == DriveKind::NetworkMount || e->kind == DriveKind::VirtualFolder);
    if (!e || noRawVolume || e->mediumAbsent) {
        openError() = !e ? ENOENT : noRawVolume ? ENODEV : ENOMEDIUM;
        return {};
    }
    if (access == Access::ReadWrite) {
        // Every raw write goes through the guard of platform/rawwrite.h.
        int err = 0;
        const int fd = openGuardedForWrite(*e, nullptr, nullptr, &err);
        if (fd < 0) {
            openError() = err;
            return {};
        }
        return volumeHandle(fd, *e);
    }
    int fd = ::open(QFile::encodeName(e->device).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        openError() = errno;
        return {};
    }
    return volumeHandle(fd, *e);
}

QString windowPath(const QString &nativePath, qint64 windowOffset, qint64 windowLength)
{
    if (windowOffset == 0 && windowLength < 0)
        return nativePath;
    const qint64 length = windowLength >= 0 ? windowLength : INT64_MAX - windowOffset;
    return nativePath + QStringLiteral("@%1+%2").arg(windowOffset).arg(length);
}

Handle openMedium(QChar letter)
{
    Handle h = openVolume(letter, Access::Read);
    const auto e = DriveTable::instance().entry(letter.toUpper());
    if (h.valid() && e && e->partitionFound) {
        h.windowOffset = 0;
        h.windowLength = -1;
        ::lseek(h.fd, 0, SEEK_SET);
    }
    return h;
}

Handle openVolumeUncached(QChar letter, bool *direct)
{
    *direct = false;
    auto e = DriveTable::instance().entry(letter.toUpper());
    if (!e || e->device.isEmpty() || e->mediumAbsent) {
        openError() = ENOENT;
        return {};
    }
    const QByteArray dev = QFile::encodeName(e->device);
    const bool aligned = e->windowOffset % 4096 == 0;
    int fd = aligned ? ::open(dev.constData(), O_RDONLY | O_CLOEXEC | O_DIRECT) : -1;
    if (fd >= 0) {
        *direct = true;
    } else {
        fd = ::open(dev.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            openError() = errno;
            return {};
        }
        // What the page cache holds of the volume would be read at memory speed.
        ::fdatasync(fd);
        ::posix_fadvise(fd, off_t(e->windowOffset), off_t(qMax<qint64>(0, e->windowLength)), POSIX_FADV_DONTNEED);
        if (e->windowLength < 0)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    return volumeHandle(fd, *e);
}

int lastOpenError() { return openError(); }

} // namespace plat
