#include "recovery/saving.h"

#include "drive/driveinfo.h"
#include "drive/fat.h"
#include "drive/sectors.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/cacheguard.h"
#include "scan/foundfiles.h"
#include "undelete/fatwalk.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kMaxNameTries = 100000;
constexpr int64_t kRunBytes = 8LL << 20;

QChar letterOf(const QString &path)
{
    if (path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter() && path[0].unicode() < 128)
        return path[0].toUpper();
    return {};
}

// Writes n bytes to the descriptor; false on a short write.
bool writeAll(int fd, const char *p, qint64 n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(std::min<qint64>(n, 1 << 30)));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= w;
    }
    return true;
}

// Copies n bytes of the volume from offset into the descriptor inside the
// kernel, where both are plain files (an image); the count copied, -1 when
// the kernel cannot copy between these two. A volume whose reads are made
// to fail (a test's damaged stretches) is always read the ordinary way.
qint64 kernelCopy(const plat::Handle &h, qint64 offset, int fd, qint64 n)
{
    if (h.faults)
        return -1;
    if (h.windowLength >= 0)
        n = qBound<qint64>(0, h.windowLength - offset, n);
    loff_t in = loff_t(h.windowOffset + offset);
    qint64 done = 0;
    while (done < n) {
        const ssize_t c = ::copy_file_range(h.fd, &in, fd, nullptr, size_t(std::min<qint64>(n - done, 1 << 30)), 0);
        if (c < 0 && errno == EINTR)
            continue;
        if (c < 0)
            return done > 0 ? done : -1;
        if (c == 0)
            break;
        done += c;
    }
    return done;
}

} // namespace

void SaveTally::add(SaveOutcome outcome, int64_t written)
{
    switch (outcome) {
    case SaveOutcome::Saved: ++saved; break;
    case SaveOutcome::Partial: ++partial; break;
    case SaveOutcome::NotSaved: ++notSaved; break;
    default: break;
    }
    bytes += written;
}

QString NextFreeName(const QString &name)
{
    // The leading dots of a dot-file belong to its base name.
    qsizetype lead = 0;
    while (lead < name.size() && name[lead] == QLatin1Char('.'))
        ++lead;
    const qsizetype dot = name.indexOf(QLatin1Char('.'), lead);
    const QString base = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    static const QRegularExpression numbered(QStringLiteral("^(.*_)(\\d+)$"));
    const auto m = numbered.match(base);
    if (m.hasMatch()) {
        bool ok = false;
        const qulonglong n = m.captured(2).right(18).toULongLong(&ok);
        if (ok)
            return m.captured(1) + QString::number(n + 1) + ext;
    }
    return base + QStringLiteral("_0") + ext;
}

namespace {
SaveRun *g_saveRun = nullptr;
}

SaveRun::SaveRun()
{
    if (!g_saveRun)
        g_saveRun = this;
    else
        outer_ = g_saveRun;
}

SaveRun::~SaveRun()
{
    if (g_saveRun == this)
        g_saveRun = nullptr;
    volume_.close();
}

SaveRun *SaveRun::current() { return g_saveRun; }

SaveRun &SaveRun::outermost()
{
    SaveRun *run = this;
    while (run->outer_)
        run = run->outer_;
    return *run;
}

const plat::Handle &SaveRun::volume(const QString &drive)
{
    SaveRun &run = outermost();
    if (!run.volume_.valid() || run.volumeDrive_.compare(drive, Qt::CaseInsensitive) != 0) {
        run.volume_.close();
        run.volume_ = OpenRawVolume(drive);
        run.volumeDrive_ = drive;
    }
    return run.volume_;
}

const SaveFolder &SaveRun::folder(const QString &folder, const QString &source, const QString &cacheRoot, bool again)
{
    SaveRun &run = outermost();
    if (source != run.source_ || cacheRoot != run.cacheRoot_) {
        run.folders_.clear();
        run.onSourceDisk_.clear();
        run.last_ = nullptr;
        run.source_ = source;
        run.cacheRoot_ = cacheRoot;
    }
    // The folder is held open from its second entry in a row on; entries
    // spread over many folders (a name-sorted list) open none.
    if (!again && run.last_ && folder == run.last_->folder) {
        if (!run.last_->handle && !run.last_->onSourceDisk)
            run.last_->handle = plat::Folder::open(run.last_->native);
        return *run.last_;
    }
    if (run.last_)
        run.last_->handle.reset();
    auto known = run.folders_.find(folder);
    if (again || known == run.folders_.end()) {
        // The disk check once per file system: the folders of a tree lie on one.
        const int64_t device = plat::folderDevice(folder);
        const auto checked = run.onSourceDisk_.constFind(device);
        const std::optional<bool> onSource =
            device >= 0 && checked != run.onSourceDisk_.cend() ? std::optional<bool>(*checked) : std::nullopt;
        known = run.folders_.insert(folder, SaveFolder::of(folder, source, cacheRoot, onSource));
        if (device >= 0)
            run.onSourceDisk_.insert(device, known->onSourceDisk);
    }
    run.last_ = &*known;
    return *known;
}

SaveFolder SaveFolder::of(const QString &folder, const QString &source, const QString &cacheRoot,
                          std::optional<bool> onSourceDisk)
{
    SaveFolder f;
    f.folder = folder;
    f.source = source;
    f.cacheRoot = cacheRoot;
    f.onSourceDisk = onSourceDisk ? *onSourceDisk : TargetOnSourceDisk(folder, source);
    if (f.onSourceDisk)
        return f;
    f.native = plat::toNative(folder);
    if (!f.native.isEmpty() && !QDir().mkpath(f.native))
        f.native.clear();
    f.inCache = !cacheRoot.isEmpty() && IsSameOrBelow(folder, cacheRoot);
    return f;
}

bool CommitUnderFreeName(plat::PartFile &part, QString &name, SaveRun *run)
{
    if (run)
        run = &run->outermost();
    QString key, candidate = name;
    if (run) {
        key = part.folder() + QLatin1Char('/') + name;
        const auto last = run->lastTaken_.constFind(key);
        if (last != run->lastTaken_.cend())
            candidate = NextFreeName(*last);
    }
    for (int i = 0; i < kMaxNameTries; ++i) {
        if (part.commit(candidate, plat::PartFile::Existing::Refuse)) {
            if (run && candidate != name)
                run->lastTaken_.insert(key, candidate);
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
        candidate = NextFreeName(candidate);
    }
    return false;
}

QString EntrySaveName(const QString &shownName)
{
    QString name = shownName;
    name.replace(QLatin1Char('?'), QLatin1Char('%'));
    // A dot-file is a real name on the user's system: the dots in front of
    // its name stay (the cleaning drops them); dots before a separator do not.
    qsizetype dots = 0;
    while (dots < name.size() && name[dots] == QLatin1Char('.'))
        ++dots;
    const QString rest = SanitizeMediumName(dots > 0 ? name.mid(dots) : name);
    if (rest.isEmpty())
        return QStringLiteral("entry");
    if (dots == 0 || !rest.startsWith(name[dots]))
        return rest;
    return QString(std::min<qsizetype>(dots, 200 - rest.toUtf8().size()), QLatin1Char('.')) + rest;
}

QString ApplySaveExtension(const QString &t, const QString &x)
{
    const qsizetype slash = t.lastIndexOf(QLatin1Char('\\'));
    const QString folder = t.left(slash + 1);
    QString name = t.mid(slash + 1);
    if (x.isEmpty())
        return t;
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot < 0)
        name += x;
    else if (!name.contains(x, Qt::CaseInsensitive))
        name = name.left(dot) + x;
    return folder + name;
}

FatWriteResult WriteFatEntryData(const QString &drive, const DeletedEntryRecord &entry, int64_t bytes, QFile &out,
                                 const std::function<bool()> &keepGoing)
{
    // The file is written through its descriptor from here on.
    if (!out.flush())
        return {};
    return WriteFatEntryData(drive, entry, bytes, out.handle(), keepGoing);
}

FatWriteResult WriteFatEntryData(const QString &drive, const DeletedEntryRecord &entry, int64_t bytes, int fd,
                                 const std::function<bool()> &keepGoing, const plat::Handle *volume)
{
    FatWriteResult result;
    const DriveInfoRecord &d = DriveInfo();
    const int64_t clusterBytes = int64_t(d.SectorsPerCluster) * d.BytesPerSector;
    if (clusterBytes <= 0 || d.BytesPerSector <= 0)
        return result;
    const int64_t total = bytes > 0 ? bytes : clusterBytes;
    const int64_t first = int64_t(uint32_t(entry.FirstCluster));
    if (!IsDataCluster(d, first))
        return result;
    plat::Handle h = volume ? *volume : OpenRawVolume(drive);
    if (!h.valid() || fd < 0)
        return result;
    // A handle of the caller's stays open.
    struct Closer {
        plat::Handle &h;
        bool own;
        ~Closer()
        {
            if (own)
                h.close();
        }
    } closer{h, volume == nullptr};

    const bool existing = !entry.IsDeleted();
    // On every medium: another file's clusters never go into a deleted one.
    const bool followFree = !existing && FatEntryOf(d, first) == 0;
    const int64_t endMark = d.FileSystem == QLatin1String("FAT32") ? 0x0FFFFFF8
        : d.FileSystem == QLatin1String("FAT16")                   ? 0xFFF8
                                                                   : 0xFF8;
    QSet<int64_t> visited;
    // The cluster after c for this entry; -1 when there is none.
    auto nextOf = [&](int64_t c) -> int64_t {
        int64_t n;
        if (existing) {
            visited.insert(c);
            n = FatEntryOf(d, c);
            if (n >= endMark || !IsDataCluster(d, n) || visited.contains(n))
                return -1;
            return n;
        }
        n = c + 1;
        if (followFree)
            while (IsDataCluster(d, n) && FatEntryOf(d, n) != 0) {
                result.clustersInUse = true;
                ++n;
            }
        return IsDataCluster(d, n) ? n : -1;
    };
    auto note = [&](int64_t c) {
        if (!existing && FatEntryOf(d, c) != 0)
            result.clustersInUse = true;
    };

    // One buffer for every run and every entry (a fresh one costs its page
    // faults each time).
    static QByteArray buffer;
    const qsizetype wanted = qsizetype(std::min<int64_t>(kRunBytes + clusterBytes, std::max<int64_t>(total, clusterBytes)));
    if (buffer.size() < wanted)
        buffer = QByteArray(wanted, Qt::Uninitialized);
    bool inKernel = true;
    int64_t cluster = first;
    while (cluster >= 0 && result.bytes < total) {
        // A run of consecutive clusters, read at once.
        const int64_t runStart = cluster;
        int64_t last = cluster, runLength = 1, pending = -1;
        note(cluster);
        while (true) {
            if (result.bytes + runLength * clusterBytes >= total) {
                pending = -1;
                break;
            }
            const int64_t n = nextOf(last);
            if (n != last + 1 || runLength * clusterBytes >= kRunBytes) {
                pending = n;
                break;
            }
            last = n;
            ++runLength;
            note(n);
        }
        const int64_t want = std::min({runLength * clusterBytes, total - result.bytes, int64_t(buffer.size())});
        const qint64 offset = ClusterToSector(runStart) * d.BytesPerSector;
        qint64 got = 0;
        if (inKernel) {
            got = kernelCopy(h, offset, fd, want);
            if (got < 0) {
                inKernel = false;
                got = 0;
            } else if (got < want) {
                // The rest the ordinary way, where a read error shows.
                qint64 more = 0;
                if (h.seek(offset + got) && h.read(buffer.data(), want - got, &more) && more > 0) {
                    if (!writeAll(fd, buffer.constData(), more)) {
                        result.writeFailed = true;
                        break;
                    }
                    got += more;
                }
            }
        }
        if (!inKernel) {
            if (!h.seek(offset) || !h.read(buffer.data(), want, &got))
                got = 0;
            if (got > 0 && !writeAll(fd, buffer.constData(), got)) {
                result.writeFailed = true;
                break;
            }
        }
        if (runStart == first)
            result.firstReadable = got > 0;
        if (got <= 0)
            break;
        result.bytes += got;
        if (got < want || (keepGoing && !keepGoing()))
            break;
        cluster = pending;
    }
    result.complete = result.bytes >= total;
    return result;
}

int64_t CopyFileInto(const QString &sourceNative, QFile &out, const std::function<bool()> &keepGoing)
{
    QFile in(sourceNative);
    if (!in.open(QIODevice::ReadOnly))
        return -1;
    int64_t copied = 0;
    while (true) {
        const QByteArray piece = in.read(kRunBytes);
        // A read that fails is no end of the file: what came before it is
        // kept (and judged by its length), nothing at all is a failure.
        if (piece.isEmpty() && in.error() != QFileDevice::NoError)
            return copied > 0 ? copied : -1;
        if (piece.isEmpty())
            break;
        if (out.write(piece) != piece.size())
            return -1;
        copied += piece.size();
        if (keepGoing && !keepGoing())
            break;
    }
    return copied;
}

bool TargetOnSourceDisk(const QString &target, const QString &source)
{
    const QString s = source.trimmed();
    // Only a drive source has a disk to protect; an image is a file.
    if (letterOf(target).isNull() || s.size() > 3)
        return false;
    const QChar sl = letterOf(s);
    if (sl.isNull() || sl == QLatin1Char('C'))
        return false;
    // By its letter, or by the mount that holds it (an image's or a
    // device's file system mounted where no letter tells it).
    return plat::sameDisk(target, sl);
}
