#include "platform/rawio.h"

#include "platform/drives.h"
#include "platform/paths.h"

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

bool mountedBelow(const QString &disk);
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
    if (faults) {
        const qint64 bad = firstBadByte(*faults, pos, n);
        if (bad >= 0) {
            if (faults->slowMs > 0)
                ::usleep(useconds_t(faults->slowMs) * 1000);
            if (bad == pos) {
                errno = EIO;
                return false;
            }
            // The bytes before the damage arrive; the next read fails.
            n = bad - pos;
        }
    }
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
    int flags = (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    if (create && access == Access::ReadWrite)
        flags |= O_CREAT;
    int fd = ::open(nativePath.toLocal8Bit().constData(), flags, 0644);
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
    h.fd = safeFd(fd);
    return h;
}

Handle openFile(const QString &internalPath, Access access, bool create)
{
    return openNative(toNative(internalPath), access, create);
}

Handle openVolume(QChar letter, Access access)
{
    Handle h;
    auto e = DriveTable::instance().entry(letter.toUpper());
    if (!e || e->device.isEmpty() || e->mediumAbsent) {
        openError() = ENOENT;
        return h;
    }
    if (access == Access::ReadWrite) {
        // Raw writes only to removable media that nothing has mounted.
        bool refuse = e->readOnly || e->typeCode != DriveTypeRemovable || e->kind == DriveKind::RootFs;
        if (e->kind != DriveKind::VirtualImage)
            refuse = refuse || !e->mountPoint.isEmpty() || mountedBelow(e->disk);
        if (refuse) {
            openError() = EACCES;
            return h;
        }
    }
    int flags = (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    if (access == Access::ReadWrite && e->kind != DriveKind::VirtualImage)
        flags |= O_EXCL;
    int fd = ::open(e->device.toLocal8Bit().constData(), flags);
    if (fd < 0) {
        openError() = errno;
        return h;
    }
    h.fd = safeFd(fd);
    h.windowOffset = e->windowOffset;
    h.windowLength = e->windowLength;
    if (!e->badSectors.isEmpty()) {
        auto f = std::make_shared<FaultSpec>();
        f->badSectors = e->badSectors;
        f->sectorSize = e->sectorSize > 0 ? e->sectorSize : 512;
        f->slowMs = e->slowMs;
        h.faults = f;
    }
    ::lseek(h.fd, off_t(h.windowOffset), SEEK_SET);
    return h;
}

int lastOpenError() { return openError(); }

namespace {
// Whether any partition of a disk (or the disk itself) is mounted.
bool mountedBelow(const QString &disk)
{
    if (disk.isEmpty())
        return false;
    const QString name = disk.section('/', -1);
    for (const DriveEntry &d : DriveTable::instance().entries())
        if (d.disk.section('/', -1) == name && !d.mountPoint.isEmpty() && d.kind != DriveKind::VirtualImage
            && d.kind != DriveKind::VirtualFolder)
            return true;
    return false;
}
} // namespace

} // namespace plat
