#include "recovery/diskimage.h"

#include "drive/driveinfo.h"
#include "drive/files.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"
#include "recovery/imageindex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxImageNumber = 100000;
constexpr int64_t kProgressEveryMs = 2000;

int64_t steadyMs()
{
    return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
}

} // namespace

namespace {

// Every character a file name cannot hold becomes "-".
QString cleanFileName(QString name)
{
    name = ReplaceInvalidFileChars(name);
    for (QChar &c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('-');
    return name;
}

bool exists(const QString &native)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(native).constData(), &st) == 0;
}

} // namespace

QString DiskImageName(QChar letter, const QString &label, const QString &date, int number)
{
    return cleanFileName(QString(letter) + QLatin1Char('_') + label + QLatin1Char('_') + date + QLatin1Char('_')
                         + QString::number(number) + QStringLiteral(".img"));
}

bool CreateDiskImage(plat::PartFile &image, const QString &folderNative, QChar letter, const QString &label,
                     const QString &date, QString &name)
{
    name.clear();
    for (int n = 0; n < kMaxImageNumber; ++n) {
        const QString candidate = DiskImageName(letter, label, date, n);
        if (exists(folderNative + QLatin1Char('/') + candidate))
            continue;
        if (image.open(folderNative, candidate, plat::PartFile::Leftover::Keep)) {
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return false;
}

bool CommitDiskImage(plat::PartFile &image, QChar letter, const QString &label, const QString &date, QString &name)
{
    if (!image.sync())
        return false;
    const QString folder = QFileInfo(image.path()).absolutePath();
    QString candidate = name;
    for (int n = 0; n < kMaxImageNumber; ++n) {
        if (n > 0 || candidate.isEmpty())
            candidate = DiskImageName(letter, label, date, n);
        if (n > 0 && exists(folder + QLatin1Char('/') + plat::partFileName(candidate)))
            continue;   // another backup's
        if (image.commit(candidate, plat::PartFile::Existing::Refuse)) {
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

QStringList LeftoverDiskImages(const QString &folderNative, QChar letter, const QString &label)
{
    // ".E_CARD_" and a date, a number, ".img.part".
    const QString head = QLatin1Char('.') + cleanFileName(QString(letter) + QLatin1Char('_') + label + QLatin1Char('_'));
    static const QRegularExpression tail(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}_\\d+\\.img\\.part$"));
    QStringList names;
    for (const QString &n : QDir(folderNative).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        if (n.startsWith(head) && tail.match(n.mid(head.size())).hasMatch())
            names << n;
    return names;
}

int BackupChunkMB(int freeMemoryMB)
{
    int chunk = 10;
    while (chunk > 2 && freeMemoryMB / 10 < chunk)
        --chunk;
    return chunk;
}

int64_t BackupClustersPerRead(int chunkMB, int bytesPerSector, int sectorsPerCluster, bool cdRom)
{
    if (bytesPerSector <= 0 || sectorsPerCluster <= 0)
        return 8;
    int64_t clusters = RoundHalfEven(double(chunkMB) * 1048576.0 / bytesPerSector / sectorsPerCluster / 2.0);
    if (cdRom)
        clusters /= 2;
    return std::max<int64_t>(8, clusters);
}

// ---- the copy ------------------------------------------------------------------------

namespace {

class Copier {
public:
    Copier(plat::Handle &medium, plat::Handle &image, const BackupPlan &plan, BackupCallbacks &cb)
        : m_(medium), imageFd_(image.fd), p_(plan), cb_(cb)
    {
        bps_ = std::max(1, plan.bytesPerSector);
        bpc_ = int64_t(bps_) * std::max(1, plan.sectorsPerCluster);
        mode_ = plan.mode;
        upr_ = mode_ == BackupReadMode::Normal ? std::max<int64_t>(1, plan.clustersPerRead) : 1;
        r_.mediumBytes = std::max<int64_t>(0, plan.mediumBytes);
        r_.finalMode = mode_;
        totalClusters_ = (r_.mediumBytes + bpc_ - 1) / bpc_;
    }

    BackupResult run()
    {
        startMs_ = cb_.clockMs();
        nextProgressMs_ = startMs_ + kProgressEveryMs;
        if (p_.backwards)
            backwards();
        else
            forwards();
        r_.seconds = double(cb_.clockMs() - startMs_) / 1000.0;
        r_.finalMode = mode_;
        return r_;
    }

private:
    bool halted() const { return r_.stopped || r_.writeFailed || r_.mediumEnded; }

    bool stopNow()
    {
        if (!r_.stopped && cb_.stopRequested && cb_.stopRequested())
            r_.stopped = true;
        return r_.stopped;
    }

    void forwards()
    {
        const int64_t end = r_.mediumBytes;
        int64_t pos = 0;
        while (pos < end && !halted() && !stopNow()) {
            const int64_t n = std::min(upr_ * bpc_, end - pos);
            copyBlock(pos, n);
            if (halted())
                break;
            pos += n;
            tick(pos / bpc_, false, pos, end);
        }
    }

    void backwards()
    {
        const int64_t end = r_.mediumBytes;
        if (end <= 0)
            return;
        const int64_t clusters = (end - 1) / bpc_ + 1;
        top_ = clusters;   // [top_, clusters) copied from the end
        low_ = 0;          // [0, low_) copied from the start
        tickBoth(true);
        // From the end down, to the first cluster that does not read.
        while (top_ > low_ && !halted() && !stopNow()) {
            const bool whole = copyClusterQuickly(top_ - 1);
            firstBlockDone();
            if (!whole)
                break;
            --top_;
            tickBoth(false);
        }
        // From the start up, to the first cluster that does not read.
        if (top_ > low_ && !halted())
            tickBoth(true);
        while (top_ > low_ && !halted() && !stopNow()) {
            if (!copyClusterQuickly(low_))
                break;
            ++low_;
            tickBoth(false);
        }
        // The clusters between, carefully, from the top down.
        if (top_ > low_ && !halted())
            tickBoth(true);
        while (top_ > low_ && !halted() && !stopNow()) {
            const int64_t off = (top_ - 1) * bpc_;
            copyBlock(off, std::min(bpc_, end - off));
            if (halted())
                break;
            --top_;
            tickBoth(false);
        }
        tickBoth(true);   // what was never read, however the copy ended
    }

    void firstBlockDone()
    {
        if (!firstWritten_ && !r_.writeFailed) {
            firstWritten_ = true;
            if (cb_.firstBlockWritten)
                cb_.firstBlockWritten();
        }
    }

    // One cluster in one read: true when it was copied whole. A cluster
    // whose read fails is left whole for the careful pass (the copy grows
    // more careful).
    bool copyClusterQuickly(int64_t c)
    {
        const int64_t off = c * bpc_;
        const int64_t n = std::min(bpc_, r_.mediumBytes - off);
        bool failed = false;
        const int64_t got = readSome(off, n, &failed);
        if (got == n)
            return place(off, buf_.data(), got, true);
        if (failed) {
            escalate();
        } else {
            if (got > 0)
                place(off, buf_.data(), got, true);
            r_.mediumEnded = true;
        }
        return false;
    }

    // Bytes read at off into dst up to n, until the first failure (*failed)
    // or the medium's end.
    int64_t readSome(int64_t off, int64_t n, bool *failed)
    {
        *failed = false;
        ensureBuffer(n);
        int64_t done = 0;
        while (done < n) {
            if (!m_.seek(off + done)) {
                *failed = true;
                break;
            }
            qint64 got = 0;
            const bool ok = m_.read(buf_.data() + done, n - done, &got);
            if (got > 0) {
                done += got;
                continue;
            }
            if (!ok)
                *failed = true;
            break;
        }
        return done;
    }

    void ensureBuffer(int64_t n)
    {
        if (int64_t(buf_.size()) < n)
            buf_.resize(size_t(n));
    }

    bool place(int64_t off, const char *data, int64_t n, bool fromMedium)
    {
        int64_t done = 0;
        while (done < n) {
            const ssize_t w = ::pwrite(imageFd_, data + done, size_t(n - done), off_t(off + done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                r_.writeFailed = true;
                return false;
            }
            done += w;
        }
        r_.bytesPlaced += n;
        if (fromMedium)
            r_.bytesRead += n;
        return true;
    }

    void placeZeros(int64_t off, int64_t n)
    {
        if (int64_t(zeros_.size()) < n)
            zeros_.assign(size_t(n), 0);
        place(off, zeros_.data(), n, false);
    }

    void markUnreadable(int64_t sector)
    {
        ++r_.unreadableSectors;
        auto &v = r_.unreadable;
        if (!v.empty() && v.back().last + 1 == sector)
            v.back().last = sector;
        else if (!v.empty() && v.back().first - 1 == sector)
            v.back().first = sector;   // reading backwards
        else
            v.push_back(SectorRange{sector, sector});
    }

    void escalate()
    {
        if (mode_ == BackupReadMode::Damaged)
            return;
        mode_ = mode_ == BackupReadMode::Normal ? BackupReadMode::Deep : BackupReadMode::Damaged;
        upr_ = 1;
        if (cb_.modeChanged)
            cb_.modeChanged(mode_);
    }

    void copyBlock(int64_t off, int64_t n)
    {
        bool failed = false;
        const int64_t got = readSome(off, n, &failed);
        if (got > 0 && !place(off, buf_.data(), got, true))
            return;
        if (got == n)
            return;
        if (!failed) {
            r_.mediumEnded = true;
            return;
        }
        escalate();
        carefully(off + got, off + n);
    }

    // The rest of a failed block: cluster by cluster, and a failing cluster
    // sector by sector.
    void carefully(int64_t pos, int64_t end)
    {
        while (pos < end && !halted()) {
            const int64_t clusterEnd = std::min(end, (pos / bpc_ + 1) * bpc_);
            bool failed = false;
            const int64_t got = readSome(pos, clusterEnd - pos, &failed);
            if (got > 0 && !place(pos, buf_.data(), got, true))
                return;
            if (got < clusterEnd - pos) {
                if (!failed) {
                    r_.mediumEnded = true;
                    return;
                }
                sectorBySector(pos + got, clusterEnd);
            }
            pos = clusterEnd;
            if (cb_.yield)
                cb_.yield();
            if (pos < end && stopNow())
                return;
        }
    }

    void sectorBySector(int64_t pos, int64_t end)
    {
        while (pos < end && !halted()) {
            const int64_t sectorEnd = std::min(end, (pos / bps_ + 1) * bps_);
            bool failed = false;
            const int64_t got = readSome(pos, sectorEnd - pos, &failed);
            if (got > 0 && !place(pos, buf_.data(), got, true))
                return;
            if (got < sectorEnd - pos) {
                if (!failed) {
                    r_.mediumEnded = true;
                    return;
                }
                placeZeros(pos + got, sectorEnd - pos - got);
                markUnreadable(pos / bps_);
            }
            pos = sectorEnd;
        }
    }

    // The progress of a backwards copy, which counts from both ends.
    void tickBoth(bool now) { tick(totalClusters_ - top_ + low_, now, low_ * bpc_, std::min(top_ * bpc_, r_.mediumBytes)); }

    void tick(int64_t clustersDone, bool now = false, int64_t notReadFrom = 0, int64_t notReadTo = 0)
    {
        if (cb_.yield)
            cb_.yield();
        const int64_t clock = cb_.clockMs();
        if ((!now && clock < nextProgressMs_) || !cb_.progress)
            return;
        nextProgressMs_ = clock + kProgressEveryMs;
        BackupProgress pr;
        pr.clustersDone = clustersDone;
        pr.totalClusters = totalClusters_;
        const double seconds = std::max(0.001, double(clock - startMs_) / 1000.0);
        pr.elapsedSeconds = int64_t(seconds);
        const double perSecond = double(clustersDone) / seconds;
        pr.secondsToGo = perSecond > 0 ? int64_t(double(totalClusters_ - clustersDone) / perSecond) : 0;
        pr.mbPerSecond = double(r_.bytesPlaced) / 1048576.0 / seconds;
        pr.notReadFrom = notReadFrom;
        pr.notReadTo = std::max(notReadFrom, notReadTo);
        cb_.progress(pr);
    }

    plat::Handle &m_;
    int imageFd_;
    const BackupPlan &p_;
    BackupCallbacks &cb_;
    BackupResult r_;
    std::vector<char> buf_, zeros_;
    int bps_ = 512;
    int64_t bpc_ = 512;
    int64_t upr_ = 1;
    int64_t totalClusters_ = 0;
    BackupReadMode mode_ = BackupReadMode::Normal;
    int64_t startMs_ = 0, nextProgressMs_ = 0;
    int64_t top_ = 0, low_ = 0;   // the backwards copy's two fronts, in clusters
    bool firstWritten_ = false;
};

} // namespace

BackupResult CopyMedium(plat::Handle &medium, plat::Handle &image, const BackupPlan &plan, BackupCallbacks cb)
{
    if (!cb.clockMs)
        cb.clockMs = steadyMs;
    if (!medium.valid() || !image.valid()) {
        BackupResult r;
        r.mediumBytes = plan.mediumBytes;
        r.writeFailed = !image.valid();
        r.mediumEnded = !medium.valid();
        return r;
    }
    Copier copier(medium, image, plan, cb);
    return copier.run();
}

QString SectorRangesText(const std::vector<SectorRange> &ranges, int maxRanges)
{
    std::vector<SectorRange> sorted = ranges;
    std::sort(sorted.begin(), sorted.end(), [](const SectorRange &a, const SectorRange &b) { return a.first < b.first; });
    QStringList parts;
    for (const SectorRange &r : sorted) {
        if (parts.size() >= maxRanges) {
            parts << QStringLiteral("...");
            break;
        }
        parts << (r.first == r.last ? QString::number(r.first)
                                    : QString::number(r.first) + QLatin1Char('-') + QString::number(r.last));
    }
    return parts.join(QStringLiteral(", "));
}

// ---- the index list ----------------------------------------------------------------

namespace {

// The image's volume answers: its drive is ready and a listing of its root
// gives a name. An unplugged disk's empty mount point does not answer.
bool volumePresent(const QString &imagePath)
{
    if (imagePath.size() < 3 || imagePath[1] != QLatin1Char(':') || !imagePath[0].isLetter())
        return false;
    const QChar letter = imagePath[0].toUpper();
    if (plat::isDriveReady(letter) != true)
        return false;
    const QString root = plat::driveRootNative(letter);
    return !root.isEmpty() && !QDir(root).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

} // namespace

QString ListDiskImageIndexes(const QString &workFolder)
{
    QString folder = workFolder;
    if (!folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('\\');
    folder += kDiskImagesSub;
    const QString native = plat::toNative(folder);
    if (native.isEmpty())
        return {};
    QString list;
    const QFileInfoList files = QDir(native).entryInfoList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden,
                                                           QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &fi : files)
        if (!plat::isPartFileName(fi.fileName()))
            list += fi.fileName() + QLatin1Char('|');
    for (const QFileInfo &fi : files) {
        if (fi.isSymLink() || !fi.isFile() || !fi.fileName().endsWith(QLatin1String(".dat"), Qt::CaseInsensitive))
            continue;
        DiskImageIndex index;
        if (!ReadDiskImageIndex(folder + fi.fileName(), index) || index.imagePath.isEmpty())
            continue;
        if (!volumePresent(index.imagePath))
            continue;
        const QString image = plat::toNative(index.imagePath);
        if (!image.isEmpty() && QFileInfo::exists(image))
            continue;
        QFile::remove(fi.absoluteFilePath());
    }
    return list;
}
