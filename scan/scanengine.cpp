#include "scan/scanengine.h"

#include "drive/drivelist.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The read buffer: tens of megabytes, mapped zeroed and in huge pages where
// the system allows, so that setting it up costs a few page faults instead
// of thousands.
class ReadBuffer {
public:
    ReadBuffer() = default;
    ReadBuffer(const ReadBuffer &) = delete;
    ReadBuffer &operator=(const ReadBuffer &) = delete;
    ~ReadBuffer() { release(); }

    // A zeroed buffer of n bytes.
    void assign(size_t n, unsigned char)
    {
        release();
        if (n == 0)
            return;
        void *p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            fallback_.assign(n, 0);
            data_ = fallback_.data();
        } else {
#ifdef MADV_HUGEPAGE
            ::madvise(p, n, MADV_HUGEPAGE);
#endif
            data_ = static_cast<unsigned char *>(p);
            mapped_ = true;
        }
        size_ = n;
    }
    unsigned char *data() { return data_; }
    const unsigned char *data() const { return data_; }
    size_t size() const { return size_; }

private:
    void release()
    {
        if (mapped_)
            ::munmap(data_, size_);
        fallback_.clear();
        fallback_.shrink_to_fit();
        data_ = nullptr;
        size_ = 0;
        mapped_ = false;
    }
    unsigned char *data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
    std::vector<unsigned char> fallback_;
};

constexpr double kMB = 1048576.0;

QString latin(const QByteArray &b) { return QString::fromLatin1(b); }

QString wholeText(double v)
{
    // "######": no digits for 0 would leave a gap in the line; show "0".
    return QString::number(int64_t(std::llround(std::max(0.0, v))));
}
QString oneDecimal(double v) { return QString::number(std::max(0.0, v), 'f', 1); }

bool isPictureExtension(const QString &ext)
{
    static const QString pictures =
        QStringLiteral(".jpeg.jpg.jpe.thm.ico.wmf.bmp.cur.png.gif.tiff.tif.kdc.jfif.mef.nef.dng.thc.rpc");
    return !ext.isEmpty() && pictures.contains(ext.toLower());
}

bool windowHasExifMarker(const unsigned char *w, size_t n)
{
    for (const char *m : {"Exif", "TTW", "II", "MM"})
        if (memmem(w, n, m, std::strlen(m)))
            return true;
    return false;
}

QDateTime exifDate(const QString &text)
{
    QDateTime t = QDateTime::fromString(text.left(19), QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    return t.isValid() ? t : QDateTime();
}

// Whether a read error is worth the careful mode: any failure that is not
// the end of the medium.
bool rightsError(int e) { return e == EACCES || e == EPERM; }

} // namespace

void FoundFileList::clear()
{
    FoundFileNames.clear();
    FoundFileSizes.clear();
    CutToEntry.clear();
    EntryDates.clear();
}

float FoundFileList::listSize(int64_t i) const
{
    if (i < 0 || size_t(i) >= FoundFileSizes.size())
        return 0;
    if (size_t(i) < CutToEntry.size() && CutToEntry[size_t(i)])
        return 1000.0f;
    return float(FoundFileSizes[size_t(i)]);
}

struct ScanEngine::Impl {
    ScanEngine *self;
    ScanSource src;
    const SignatureRows &table;
    ScanOptions opt;
    ScanCallbacks cb;
    FoundFileList &found;
    UnitGeometry g;
    SignaturePrefixIndex index, aux;
    bool useAux = false;
    QStringList extensions;
    QString cacheNative;

    plat::Handle seq, pos;
    bool handleOpen = false;
    int64_t seqPosition = -1;   // where the sequential handle stands

    ReadBuffer buf;
    std::vector<unsigned char> unitBad;   // per unit of the buffer: a sector could not be read
    std::vector<unsigned char> lastHead;
    bool haveLastHead = false;
    int64_t U = 512;
    int32_t bps = 512;

    // The open found file.
    int fd = -1;
    bool fileOpen = false;
    bool fileComplete = false;
    int64_t fileBytes = 0;
    uint64_t limitBytes = 0;
    QString fileExt;
    QString fileDesc;
    QDateTime pictureDate;
    size_t runStart = 0, runLen = 0;
    bool runActive = false;
    int64_t runUnitBase = 0;       // unit of the buffer's first byte
    int64_t failedRunUnit = -1;    // first unit of a run whose write failed

    // The open picture's structure, followed while its units are written.
    PictureWalker walker;
    bool walking = false;
    bool estimateOpen = false;     // a picture whose size may give its expected length
    bool estimateLimit = false;    // limitBytes is that estimate
    struct Walked {
        PictureExtent extent;
        int64_t length = -1;       // the file's length when it was closed
    };
    std::vector<Walked> walks;     // by counter - firstNew
    int64_t firstNew = 0;

    DeletedEntryCursor cursor;
    double totalBytes = 0;
    int64_t budgetMB = 0;
    bool outOfSpace = false;
    bool previewsEnded = false;
    int64_t filesKept = 0;
    int64_t identical = 0, unreadable = 0;
    bool lastClusterZero = false;

    int64_t startMs = 0, nextProgressMs = 0;
    int64_t progressMin = 0;

    Impl(ScanEngine *s, const ScanSource &source, const SignatureRows &t, ScanOptions o, ScanCallbacks c,
         FoundFileList &f)
        : self(s), src(source), table(t), opt(std::move(o)), cb(std::move(c)), found(f), g(source.geometry)
    {
        if (!cb.yield)
            cb.yield = [] { plat::pumpEvents(); };
        if (!cb.clockMs)
            cb.clockMs = [] {
                return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
            };
        if (!cb.freeSpaceMB)
            cb.freeSpaceMB = [](const QString &folder) {
                int32_t total = 0;
                return int64_t(GetDiskSpaceMB(folder, total));
            };
        if (!cb.setLastCluster)
            cb.setLastCluster = [](const QString &v) {
                SaveSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("LastCluster"), v);
            };
        if (!cb.storeBudget)
            cb.storeBudget = [](int64_t mb) {
                SaveSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), QStringLiteral("FreeMB"),
                            QString::number(mb));
            };
        if (!cb.openSource)
            cb.openSource = [](const ScanSource &s) {
                if (s.image)
                    return plat::openFile(s.name, plat::Access::Read);
                if (s.name.isEmpty() || !s.name[0].isLetter())
                    return plat::Handle{};
                return plat::openVolume(s.name[0].toUpper(), plat::Access::Read);
            };
    }

    ~Impl()
    {
        if (fd >= 0)
            ::close(fd);
        seq.close();
        pos.close();
    }

    void setMode(ScanMode m)
    {
        self->mode_ = m;
        if (cb.modeChanged)
            cb.modeChanged(m);
    }

    // --- reading ------------------------------------------------------------

    // A read at a byte offset of the medium: the bytes read, 0 at the end,
    // -1 when the read failed before any byte.
    int64_t readAt(plat::Handle &h, int64_t offset, int64_t n, unsigned char *into, int64_t *trackedPos)
    {
        if (!h.valid())
            return -1;
        if (!trackedPos || *trackedPos != offset) {
            if (!h.seek(offset))
                return -1;
        }
        qint64 got = 0;
        const bool ok = h.read(into, n, &got);
        if (trackedPos)
            *trackedPos = ok ? offset + got : -1;
        if (!ok && got <= 0)
            return -1;
        return got;
    }

    bool openPositioned()
    {
        if (pos.valid())
            return true;
        pos = cb.openSource(src);
        return pos.valid();
    }

    void markBad(int64_t firstByte, int64_t endByte, int64_t bufferUnitBase)
    {
        for (int64_t u = firstByte / U; u * U < endByte; ++u) {
            const size_t i = size_t(bufferUnitBase + u);
            if (i < unitBad.size())
                unitBad[i] = 1;
        }
    }

    // Reads n bytes at offset, zero where sectors cannot be read. Failing
    // stretches are measured by probing single sectors at growing distances
    // and then halving back, so a long damaged stretch costs few reads.
    int64_t carefulRead(int64_t offset, int64_t n, unsigned char *into, int64_t bufferUnitBase)
    {
        int64_t p = 0, readable = 0;
        std::vector<unsigned char> probe(static_cast<size_t>(bps));
        auto probeOk = [&](int64_t at) -> int {
            const int64_t r = readAt(pos, offset + at, bps, probe.data(), nullptr);
            return r > 0 ? 1 : (r == 0 ? 0 : -1);
        };
        while (p < n) {
            const int64_t r = readAt(pos, offset + p, n - p, into + p, nullptr);
            if (r > 0) {
                p += r;
                readable += r;
                continue;
            }
            if (r == 0) {   // the end of the medium
                std::memset(into + p, 0, size_t(n - p));
                break;
            }
            int64_t lo = p, hi = -1, step = bps;
            bool end = false;
            for (;;) {
                const int64_t q = lo + step;
                if (q >= n)
                    break;
                const int ok = probeOk(q);
                if (ok > 0) {
                    hi = q;
                    break;
                }
                if (ok == 0) {
                    end = true;
                    break;
                }
                lo = q;
                step *= 2;
            }
            if (hi < 0) {
                std::memset(into + p, 0, size_t(n - p));
                if (!end)
                    markBad(p, n, bufferUnitBase);
                break;
            }
            while (hi - lo > bps) {
                const int64_t mid = lo + ((hi - lo) / bps / 2) * bps;
                if (probeOk(mid) > 0)
                    hi = mid;
                else
                    lo = mid;
            }
            std::memset(into + p, 0, size_t(hi - p));
            markBad(p, hi, bufferUnitBase);
            p = hi;
        }
        return readable;
    }

    int64_t handleReadError(int64_t unit, int64_t &units, unsigned char *into)
    {
        if (self->mode_ == ScanMode::Normal) {
            if (self->upr_ > 8)
                self->upr_ /= 2;
            setMode(ScanMode::DeepScan);
        } else if (self->mode_ == ScanMode::DeepScan) {
            setMode(ScanMode::Damaged);
        }
        units = std::max<int64_t>(1, std::min(units, self->upr_));
        if (handleOpen) {
            seq.close();
            handleOpen = false;
        }
        const int64_t base = (into - buf.data()) / U;
        if (!openPositioned()) {
            std::memset(into, 0, size_t(units * U));
            markBad(0, units * U, base);
            cb.yield();
            return 0;
        }
        const int64_t readable = carefulRead(g.offsetOfUnit(unit), units * U, into, base);
        cb.yield();
        return readable;
    }

    // --- found files --------------------------------------------------------

    bool writeAll(const unsigned char *p, size_t n)
    {
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            p += w;
            n -= size_t(w);
        }
        return true;
    }

    // Writes the units of the open file gathered from this buffer in one
    // call. A failed write (ENOSPC, EIO) stops the scan as out of space: the
    // file goes back to its length before the run and the resume begins at
    // the run's first unit, so nothing is lost or written twice.
    void flushRun()
    {
        if (!runActive)
            return;
        runActive = false;
        if (fd >= 0 && runLen > 0 && !writeAll(buf.data() + runStart, runLen)) {
            outOfSpace = true;
            fileBytes -= int64_t(runLen);
            failedRunUnit = runUnitBase + int64_t(runStart) / U;
            if (::ftruncate(fd, off_t(fileBytes)) != 0 || fileBytes == 0) {
                // Nothing of the file is kept: it is made again at the resume.
                const int64_t i = found.counter();
                ::close(fd);
                fd = -1;
                fileOpen = false;
                ::unlink(fileNative(i).toLocal8Bit().constData());
                found.FoundFileNames.removeLast();
                found.FoundFileSizes.pop_back();
                found.CutToEntry.pop_back();
                found.EntryDates.pop_back();
            }
        }
        runLen = 0;
    }

    // The expected length of a picture from its size: width x height x 6
    // bytes for one at least 1001 pixels wide.
    void applyEstimate(int64_t width, int64_t height)
    {
        if (!estimateOpen || width < 1001 || height <= 0)
            return;
        limitBytes = uint64_t(width) * uint64_t(height) * 6;
        estimateLimit = true;
    }

    void appendUnit(size_t at, size_t len)
    {
        if (!fileOpen || fileComplete)
            return;
        size_t allowed = len;
        // The estimate never ends a picture whose structure goes on.
        const bool heldOpen = estimateLimit && walking && walker.wantsMore();
        if (limitBytes > 0 && !heldOpen) {
            const uint64_t room = limitBytes > uint64_t(fileBytes) ? limitBytes - uint64_t(fileBytes) : 0;
            allowed = size_t(std::min<uint64_t>(room, len));
        }
        if (allowed == 0) {
            fileComplete = true;
            return;
        }
        if (runActive && runStart + runLen == at) {
            runLen += allowed;
        } else {
            flushRun();
            runActive = true;
            runStart = at;
            runLen = allowed;
        }
        fileBytes += int64_t(allowed);
        if (allowed < len)
            fileComplete = true;
        if (walking && walker.wantsMore()) {
            const bool sized = walker.width() > 0;
            walker.feed(buf.data() + at, allowed);
            if (!sized && walker.width() > 0)
                applyEstimate(walker.width(), walker.height());
        }
    }

    QString fileNative(int64_t i) const { return cacheNative + '/' + found.FoundFileNames[int(i)]; }

    FoundFileEvent eventOf(int64_t i) const
    {
        FoundFileEvent e;
        e.index = i;
        e.name = found.FoundFileNames[int(i)];
        e.displayLine = FoundFileDisplayLine(i, fileDesc);
        e.bytes = uint64_t(fileBytes);
        return e;
    }

    void budgetTest(bool everyThousand)
    {
        const double totalMB = (totalBytes + double(fileBytes)) / kMB;
        if (everyThousand && totalMB <= double(budgetMB)) {
            const int64_t now = cb.freeSpaceMB(opt.cacheFolder) - opt.cacheReserveMB;
            budgetMB = std::min(budgetMB, now);
        }
        if (totalMB > double(budgetMB) && cb.freeSpaceMB(opt.cacheFolder) < opt.cacheReserveMB) {
            outOfSpace = true;
            budgetMB = -1;
        }
    }

    // Closes the open file. keep: false leaves it for the resume (it stays
    // listed and open for appending).
    void closeFile(bool forResume)
    {
        if (!fileOpen)
            return;
        flushRun();
        if (!fileOpen || (failedRunUnit >= 0 && !forResume))
            return;   // the write failed: the file waits for the resume
        const int64_t i = found.counter();
        const uint64_t entrySize = found.FoundFileSizes[size_t(i)];
        if (!forResume && entrySize != 0) {
            if (uint64_t(fileBytes) > entrySize && ::ftruncate(fd, off_t(entrySize)) == 0)
                fileBytes = int64_t(entrySize);
            found.CutToEntry[size_t(i)] = true;
        }
        ::close(fd);
        fd = -1;
        fileOpen = false;
        if (!forResume && opt.LMinMB > 0 && double(fileBytes) / kMB < opt.LMinMB) {
            ::unlink(fileNative(i).toLocal8Bit().constData());
            const FoundFileEvent e = eventOf(i);
            found.FoundFileNames.removeLast();
            found.FoundFileSizes.pop_back();
            found.CutToEntry.pop_back();
            found.EntryDates.pop_back();
            fileBytes = 0;
            if (cb.fileDropped)
                cb.fileDropped(e);
            return;
        }
        if (!forResume && i >= firstNew) {
            const size_t k = size_t(i - firstNew);
            if (walks.size() <= k)
                walks.resize(k + 1);
            walks[k].extent = walking ? walker.result() : PictureExtent{};
            walks[k].length = fileBytes;
        }
        walking = false;
        if (!forResume && pictureDate.isValid())
            DateFoundFile(fileNative(i), pictureDate);
        if (!forResume)
            ++filesKept;
        if (cb.fileKept)
            cb.fileKept(eventOf(i));
        if (!forResume) {
            const bool raw = IsRawExtension(fileExt);
            if (i % 3 == 0 && !previewsEnded) {
                if (raw && cb.rawPreview)
                    cb.rawPreview(fileNative(i));
                else if (!raw)
                    previewsEnded = true;
            }
            if (isPictureExtension(fileExt) && cb.drawPicture)
                cb.drawPicture(fileNative(i));
        }
        totalBytes += double(fileBytes);
        fileBytes = 0;
        if (!forResume)
            budgetTest(opt.budgetEveryFiles > 0 && i > 0 && i % opt.budgetEveryFiles == 0);
    }

    void startFile(int row, int64_t unit, const unsigned char *window, size_t windowLength)
    {
        walking = false;
        estimateOpen = estimateLimit = false;
        const SignatureRecord &r = table[size_t(row)];
        const QString rowExt = latin(r.Ext);
        QString name;
        uint64_t entrySize = 0;
        QDateTime entryDate;
        if (unit == cursor.nextUnit && cursor.offeredName.contains('.')
            && EntryNameFitsExtension(cursor.offeredName, rowExt)
            && (cursor.offeredName + QStringLiteral(".thm.jpe.jpg")).contains(rowExt, Qt::CaseInsensitive)) {
            name = cursor.offeredName;
            entrySize = cursor.offeredSize;
            if (cursor.offeredExisting)
                entryDate = cursor.offeredCreated;
        }
        if (unit == cursor.nextUnit)
            cursor.NameFromDeletedEntry(unit);
        const int64_t counter = found.counter() + 1;
        if (name.isEmpty())
            name = RecoveredFileName(counter, rowExt);
        int f = CreateFoundFile(cacheNative, name);
        if (f < 0 && !name.startsWith(QLatin1String("R#"))) {
            name = RecoveredFileName(counter, rowExt);
            f = CreateFoundFile(cacheNative, name);
        }
        if (f < 0) {
            if (errno == ENOSPC || errno == EDQUOT)
                outOfSpace = true;
            return;   // a file that cannot be made is passed over
        }
        fd = f;
        found.FoundFileNames.append(name);
        found.FoundFileSizes.push_back(entrySize);
        found.CutToEntry.push_back(false);
        found.EntryDates.push_back(entryDate);
        fileOpen = true;
        fileComplete = false;
        fileBytes = 0;
        limitBytes = entrySize ? entrySize : (opt.LMaxMB > 0 ? uint64_t(opt.LMaxMB * kMB) : 0);
        const qsizetype dot = name.indexOf('.');
        fileExt = dot >= 0 ? name.mid(dot).toLower() : QString();
        fileDesc = latin(r.Desc).trimmed();
        pictureDate = QDateTime();
        // Pictures are followed through their structure as they are written.
        const PictureFormat format = TrueEndFormat(fileExt, window, windowLength);
        if (format != PictureFormat::None && format != PictureFormat::Tiff) {
            walker = PictureWalker(format);
            walking = true;
        }
        // A multi-page TIFF is no bigger for its first page's size.
        estimateOpen = entrySize == 0 && isPictureExtension(fileExt) && !IsRawExtension(fileExt)
                       && format != PictureFormat::Tiff && !fileExt.startsWith(QLatin1String(".tif"));
        if (cb.readExifQuick && (isPictureExtension(fileExt) || IsRawExtension(fileExt))
            && windowHasExifMarker(window, windowLength)) {
            if (auto facts = cb.readExifQuick(window, windowLength)) {
                pictureDate = exifDate(facts->dateText);
                applyEstimate(facts->width, facts->height);
                QString model = facts->model;
                model.remove(QStringLiteral("DIGITAL"));
                if (!model.trimmed().isEmpty())
                    fileDesc = model.simplified();
            }
        }
    }

    void reopenForResume()
    {
        const int64_t i = found.counter();
        if (i < 0)
            return;
        const QByteArray path = fileNative(i).toLocal8Bit();
        const int f = ::open(path.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (f < 0)
            return;
        struct stat st {};
        if (fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(f);
            return;
        }
        fd = f;
        fileOpen = true;
        fileBytes = st.st_size;
        const uint64_t entrySize = found.FoundFileSizes[size_t(i)];
        limitBytes = entrySize ? entrySize : (opt.LMaxMB > 0 ? uint64_t(opt.LMaxMB * kMB) : 0);
        fileComplete = limitBytes > 0 && uint64_t(fileBytes) >= limitBytes;
        const QString &name = found.FoundFileNames[int(i)];
        const qsizetype dot = name.indexOf('.');
        fileExt = dot >= 0 ? name.mid(dot).toLower() : QString();
        fileDesc = fileExt.mid(1).toUpper();
    }

    // --- progress -----------------------------------------------------------

    void progress(int64_t current, bool force)
    {
        const int64_t now = cb.clockMs();
        if (!force && now < nextProgressMs)
            return;
        nextProgressMs = now + 3000;
        if (!cb.progress)
            return;
        const double elapsed = std::max(1.0, double(now - startMs) / 1000.0);
        const double done = double(current - progressMin);
        const double remaining = double(g.endUnit() - current);
        const double rate = done / elapsed;
        ScanProgress p;
        p.minimum = progressMin;
        p.maximum = g.endUnit();
        p.value = current;
        p.elapsedSeconds = int64_t(elapsed);
        QString text = GetString(1492, QStringLiteral("Elapsed: %0 && to go: %1 seconds %2 MB/s"));
        text.replace(QStringLiteral("&&"), QStringLiteral("&"));
        p.text = FormatString(text, {wholeText(elapsed), rate > 0 ? wholeText(remaining / rate) : QStringLiteral("-"),
                                     oneDecimal(done * double(U) / kMB / elapsed)});
        cb.progress(p);
        cb.yield();
    }

    ScanResult run();
    ScanResult finish(ScanResult &r, int64_t current, bool stopped, int64_t startCounter);
};

ScanResult ScanEngine::Impl::run()
{
    ScanResult r;
    const bool newScan = opt.resume.offset < 0;
    if (!g.valid()) {
        r.end = ScanEnd::BadGeometry;
        r.messageTitle = GetString(38, QStringLiteral("Scan"));
        r.messageText = GetString(562, QStringLiteral("Cannot read the disk."));
        if (cb.message)
            cb.message(r.messageTitle, r.messageText);
        return r;
    }
    U = g.unitBytes;
    bps = g.bytesPerSector;

    cacheNative = plat::toNative(opt.cacheFolder);
    if (cacheNative.endsWith('/') && cacheNative.size() > 1)
        cacheNative.chop(1);
    // The cache never lies on the disk being read.
    if (!src.image && !src.name.isEmpty() && opt.cacheFolder.size() >= 2 && opt.cacheFolder[1] == ':'
        && plat::sameDisk(src.name[0].toUpper(), opt.cacheFolder[0].toUpper())) {
        r.end = ScanEnd::CacheOnSource;
        r.messageTitle = GetString(38, QStringLiteral("Scan"));
        r.messageText = QStringLiteral("The cache folder %0 lies on the disk being scanned. Please choose a cache "
                                       "folder on another disk.")
                            .replace(QStringLiteral("%0"), opt.cacheFolder);
        if (cb.message)
            cb.message(r.messageTitle, r.messageText);
        return r;
    }

    index.build(table);
    useAux = opt.mode != ScanMode::Normal && HasSignatureRows(opt.auxiliaryTable);
    if (useAux)
        aux.build(opt.auxiliaryTable);
    for (const SignatureRecord &row : table) {
        const QString e = latin(row.Ext).toLower();
        if (!e.isEmpty() && !extensions.contains(e))
            extensions << e;
    }
    self->mode_ = opt.mode;

    ReadSizeFacts f;
    f.unitBytes = U;
    f.unitCount = g.unitCount;
    f.sectorsPerUnit = g.sectorsPerUnit;
    f.mediumClusterSectors = g.clusterSectors;
    f.freeMemoryMB = opt.freeMemoryMB >= 0 ? opt.freeMemoryMB : GetFreeMemoryMB();
    f.image = src.image;
    f.damaged = opt.mode == ScanMode::Damaged;
    f.deepOnDrive = !src.image && g.sectorsPerUnit == 1 && g.clusterSectors > 1;
    f.cdRom = src.driveType == QLatin1String("CDRom");
    f.recoveryStage = opt.RecoveryStage;
    self->upr_ = UnitsPerRead(f);

    const bool smart = opt.SmartScanActive && !src.image && opt.mode == ScanMode::Normal && cb.nextFreeRun;
    // The window of a unit reaches 1024 bytes: units of less than that wait
    // for the next read, so a window never depends on where a read ends.
    const int64_t carryNeed = smart || U >= 1024 ? 0 : (1024 + U - 1) / U - 1;
    buf.assign(size_t((self->upr_ + carryNeed) * U), 0);
    unitBad.assign(size_t(self->upr_ + carryNeed), 0);
    lastHead.assign(size_t(bps), 0);

    // Where the scan begins.
    int64_t current = g.firstUnit;
    if (!newScan && opt.resume.offset > 0)
        current = g.unitAtOffset(opt.resume.offset);
    if (newScan)
        found.clear();
    const bool resumedFile = !newScan && opt.resume.fileOpen && found.counter() >= 0;
    const int64_t startCounter = resumedFile ? found.counter() : found.counter() + 1;
    firstNew = std::max<int64_t>(0, startCounter);

    cursor.reset(&opt.deletedEntries, &g, extensions, cacheNative);
    cursor.seek(current);

    // Opening.
    seq = cb.openSource(src);
    if (!seq.valid()) {
        const int e = plat::lastOpenError();
        if (rightsError(e)) {
            r.end = ScanEnd::RightsMissing;
            if (cb.restrictedRights)
                r.exitRequested = cb.restrictedRights();
        } else {
            r.end = ScanEnd::CannotOpen;
            r.messageTitle = GetString(561, QStringLiteral("Scan disk ")) + src.name;
            r.messageText =
                GetString(560, QStringLiteral("Disk is either protected by Windows or damaged and unreadable."));
            if (cb.message)
                cb.message(r.messageTitle, r.messageText);
        }
        r.resume = opt.resume;
        return r;
    }
    handleOpen = true;
    ::posix_fadvise(seq.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    if (cb.phase)
        cb.phase(ScanPhase::Reading);
    cb.setLastCluster(QStringLiteral("33"));
    if (resumedFile)
        reopenForResume();
    budgetMB = cb.freeSpaceMB(opt.cacheFolder) - opt.cacheReserveMB;
    cb.storeBudget(budgetMB);
    startMs = cb.clockMs();
    nextProgressMs = startMs + 6000;
    progressMin = current;

    int64_t freeFirst = g.firstUnit, freeRun = smart ? 0 : INT64_MAX / 4;
    bool stopped = false, firstRead = true, unreadableMedium = false;
    int64_t carried = 0;
    const int64_t end = g.endUnit();
    for (;;) {
        if (cb.stopRequested && cb.stopRequested()) {
            stopped = true;
            break;
        }
        const int64_t readUnit = current + carried;
        int64_t want = std::min(self->upr_, end - readUnit);
        if (smart && carried == 0 && want > 0) {
            if (readUnit >= freeFirst + freeRun) {
                int64_t first = 0, run = 0;
                if (!cb.nextFreeRun(readUnit - 1, first, run) || run <= 0 || first < readUnit)
                    first = end, run = 0;
                freeFirst = std::min(first, end);
                freeRun = run;
            }
            if (readUnit < freeFirst) {
                current = freeFirst;   // allocated clusters are passed over
                continue;
            }
            want = std::min(want, freeFirst + freeRun - readUnit);
        }
        if (!lastClusterZero && end - self->upr_ <= current) {
            lastClusterZero = true;
            cb.setLastCluster(QStringLiteral("0"));
        }
        if (want <= 0 && carried == 0)
            break;

        unsigned char *into = buf.data() + carried * U;
        std::fill(unitBad.begin() + carried, unitBad.end(), 0);
        int64_t newBytes = 0;
        bool atEnd = want <= 0;
        if (want > 0) {
            const int64_t off = g.offsetOfUnit(readUnit);
            int64_t got = handleOpen ? readAt(seq, off, want * U, into, &seqPosition)
                                     : (openPositioned() ? readAt(pos, off, want * U, into, nullptr) : -1);
            if (got > 0 && got < U) {
                // Less than a unit: the end of the medium, or damage right after.
                const int64_t more = handleOpen ? readAt(seq, off + got, want * U - got, into + got, &seqPosition)
                                                : readAt(pos, off + got, want * U - got, into + got, nullptr);
                if (more == 0)
                    atEnd = true;
                else
                    got = -1;
            }
            if (got < 0) {
                int64_t units = want;
                int64_t readable = handleReadError(readUnit, units, into);
                if (firstRead && readable == 0) {
                    if (src.driveType == QLatin1String("Removable") && cb.reloadMedia) {
                        cb.reloadMedia(src);
                        pos.close();
                        if (openPositioned())
                            readable = carefulRead(g.offsetOfUnit(readUnit), units * U, into, carried);
                    }
                    if (readable == 0) {
                        unreadableMedium = true;
                        break;
                    }
                }
                want = units;
                newBytes = want * U;
            } else if (got == 0) {
                atEnd = true;
            } else {
                newBytes = atEnd ? got : (got / U) * U;
            }
        }
        firstRead = false;

        const int64_t wholeNew = newBytes / U;
        const int64_t tail = newBytes % U;
        const int64_t units = carried + wholeNew + (tail ? 1 : 0);
        const int64_t validBytes = carried * U + newBytes;
        const bool final = atEnd || readUnit + wholeNew >= end;
        const int64_t examine = final ? units : std::max<int64_t>(0, units - carryNeed);

        int64_t done = 0;
        runUnitBase = current;
        for (int64_t i = 0; i < examine; ++i) {
            const int64_t u = current + i;
            const size_t at = size_t(i * U);
            const unsigned char *p = buf.data() + at;
            const size_t len = size_t(std::min<int64_t>(U, validBytes - int64_t(at)));
            const size_t headLen = std::min<size_t>(size_t(bps), len);
            const size_t winLen = size_t(std::min<int64_t>(1024, validBytes - int64_t(at)));
            while (cursor.nextUnit < u)
                cursor.NameFromDeletedEntry(u - 1);
            const bool bad = unitBad[size_t(i)];
            if (bad) {
                ++unreadable;
            } else if (found.counter() < 0) {
                // Units alike while nothing is found: the wiped medium.
                const unsigned char *prev =
                    i > 0 ? (unitBad[size_t(i - 1)] ? nullptr : p - U) : (haveLastHead ? lastHead.data() : nullptr);
                if (prev && std::memcmp(prev, p, headLen) == 0)
                    ++identical;
            }
            const int row = index.match(p, headLen, p, winLen);
            if (row >= 0) {
                closeFile(false);
                if (outOfSpace)
                    break;   // this unit is examined again at the resume
                startFile(row, u, p, winLen);
                if (outOfSpace)
                    break;
                progress(u, false);
            } else if (fileOpen && useAux && aux.match(p, headLen, p, winLen) >= 0) {
                fileComplete = true;
            }
            appendUnit(at, len);
            ++done;
        }
        if (found.counter() < 0 && done > 0) {
            haveLastHead = !unitBad[size_t(done - 1)];
            if (haveLastHead)
                std::memcpy(lastHead.data(), buf.data() + (done - 1) * U,
                            size_t(std::min<int64_t>(bps, validBytes - (done - 1) * U)));
        }
        flushRun();
        if (outOfSpace) {
            current = failedRunUnit >= 0 ? failedRunUnit : current + done;
            break;
        }
        current += examine;
        carried = units - examine;
        if (carried > 0) {
            std::memmove(buf.data(), buf.data() + examine * U, size_t(validBytes - examine * U));
            std::memmove(unitBad.data(), unitBad.data() + examine, size_t(carried));
        }
        budgetTest(false);
        if (outOfSpace)
            break;
        progress(current, false);
        cb.yield();
        if (atEnd || (final && carried == 0))
            break;
    }

    if (unreadableMedium) {
        r.end = ScanEnd::Unreadable;
        r.messageTitle = GetString(38, QStringLiteral("Scan"));
        r.messageText = GetString(562, QStringLiteral("Cannot read the disk."));
        seq.close();
        pos.close();
        if (fileOpen)
            closeFile(true);
        cb.setLastCluster(QStringLiteral("0"));
        r.resume = opt.resume;
        r.finalMode = self->mode_;
        if (self->mode_ != ScanMode::Normal && cb.modeChanged)
            cb.modeChanged(ScanMode::Normal);
        self->mode_ = ScanMode::Normal;
        if (cb.phase)
            cb.phase(ScanPhase::Done);
        if (cb.message)
            cb.message(r.messageTitle, r.messageText);
        return r;
    }
    return finish(r, current, stopped, startCounter);
}

ScanResult ScanEngine::Impl::finish(ScanResult &r, int64_t current, bool stopped, int64_t startCounter)
{
    const int64_t nowMs = cb.clockMs();
    seq.close();
    pos.close();
    handleOpen = false;
    const bool pending = stopped || outOfSpace;
    const bool resumeOpen = pending && fileOpen;
    closeFile(resumeOpen);

    r.seconds = double(nowMs - startMs) / 1000.0;
    r.unitsScanned = current - progressMin;
    r.bytesScanned = std::min(r.unitsScanned * U, std::max<int64_t>(0, g.totalBytes() - (progressMin - g.firstUnit) * U));
    r.identicalUnits = identical;
    r.unreadableUnits = unreadable;
    r.finalMode = self->mode_;
    r.budgetMB = budgetMB;
    r.filesFound = filesKept;
    const double elapsed = std::max(1.0, std::floor(r.seconds));
    r.statusText = FormatString(GetString(1494, QStringLiteral("Finished: %0 seconds. Average: %1 MB/sec")),
                                {wholeText(std::floor(r.seconds)), oneDecimal(double(r.unitsScanned) * U / kMB / elapsed)});
    if (cb.progress) {
        ScanProgress p;
        p.minimum = progressMin;
        p.maximum = g.endUnit();
        p.value = current;
        p.elapsedSeconds = int64_t(r.seconds);
        p.text = r.statusText;
        cb.progress(p);
    }

    // The finishing pass.
    if (cb.phase)
        cb.phase(ScanPhase::Flushing);
    if (opt.mode != ScanMode::Normal || self->mode_ != ScanMode::Normal) {
        self->mode_ = ScanMode::Normal;
        if (cb.modeChanged)
            cb.modeChanged(ScanMode::Normal);
    }
    if (cb.saveScanList)
        cb.saveScanList();
    const int64_t last = found.counter();
    if (g.clusterBytes() >= 512) {
        // Pictures the scan followed while writing them are not read again;
        // the others (a resumed file, TIFF) are read once, through one buffer.
        TrueEndCutter cutter;
        for (int64_t i = std::max<int64_t>(0, startCounter); i <= last; ++i) {
            if (resumeOpen && i == last)
                continue;
            if (found.CutToEntry[size_t(i)] || !IsTrueEndExtension(found.FoundFileNames[int(i)]))
                continue;
            const size_t k = size_t(i - firstNew);
            const Walked *w = i >= firstNew && k < walks.size() ? &walks[k] : nullptr;
            cutter.cut(fileNative(i), g.clusterBytes(), bps, w ? &w->extent : nullptr, w ? w->length : -1);
        }
    }
    for (int64_t i = std::max<int64_t>(0, startCounter); i <= last; ++i)
        if (found.EntryDates[size_t(i)].isValid() && !(resumeOpen && i == last))
            DateFoundFile(fileNative(i), found.EntryDates[size_t(i)]);

    cb.setLastCluster(QStringLiteral("0"));
    const bool complete = current >= g.endUnit();
    if (!pending || complete || r.finalMode == ScanMode::Damaged || opt.mode == ScanMode::Damaged) {
        r.resume = ScanResumePoint{};
    } else {
        r.resume.unit = current;
        r.resume.offset = g.offsetOfUnit(current);
        r.resume.unitBytes = int32_t(U);
        r.resume.fileOpen = resumeOpen;
    }

    if (outOfSpace) {
        r.end = ScanEnd::OutOfSpace;
        r.budgetMB = -1;
        r.messageTitle = GetString(589, QStringLiteral("Out of disk space"));
        r.messageText = GetString(587, QStringLiteral("Ran out of free disk space while scanning. Execution aborted."))
                        + QStringLiteral("\n")
                        + FormatString(GetString(588, QStringLiteral("Please resume scanning after freeing space on "
                                                                     "the target disk: %0")),
                                       {opt.cacheFolder.left(2)});
    } else if (stopped) {
        r.end = ScanEnd::Stopped;
    } else if (found.counter() < 0) {
        r.messageTitle = GetString(592, QStringLiteral("Scan")) + QStringLiteral(" ") + src.name;
        const int64_t readUnits = r.unitsScanned - unreadable;
        if (unreadable > 0 && double(unreadable) >= 0.9 * double(r.unitsScanned)) {
            r.end = ScanEnd::Unreadable;
            r.messageTitle = GetString(38, QStringLiteral("Scan"));
            r.messageText = GetString(562, QStringLiteral("Cannot read the disk."));
        } else if (readUnits > 0 && double(identical) >= 0.9 * double(g.unitCount - unreadable)) {
            r.end = ScanEnd::Wiped;
            r.messageText = GetString(590, QStringLiteral("Not any data retrievable.")) + QStringLiteral("\n")
                            + FormatString(GetString(1410, QStringLiteral("Disk %0 is wiped and entirely empty!")),
                                           {src.name});
        } else {
            r.end = ScanEnd::NoFiles;
            r.messageText = GetString(593, QStringLiteral("Data found but no recoverable files.")) + QStringLiteral("\n")
                            + GetString(594, QStringLiteral("Adjust the file types and/or use DeepScan."));
        }
    } else {
        r.end = ScanEnd::Finished;
    }
    if (cb.phase)
        cb.phase(ScanPhase::Done);
    if (!r.messageText.isEmpty() && cb.message)
        cb.message(r.messageTitle, r.messageText);
    return r;
}

ScanEngine::ScanEngine(const ScanSource &source, const SignatureRows &table, ScanOptions options,
                       ScanCallbacks callbacks, FoundFileList &found)
    : d(new Impl(this, source, table, std::move(options), std::move(callbacks), found))
{
}

ScanEngine::~ScanEngine() { delete d; }

ScanResult ScanEngine::run() { return d->run(); }

int64_t ScanEngine::HandleReadError(int64_t unit, int64_t &units, unsigned char *into)
{
    return d->handleReadError(unit, units, into);
}

// --- resume -------------------------------------------------------------------

void ScanResumeState::record(const ScanResult &result, const ScanSource &source)
{
    point = result.resume;
    LastScanSource = source.name;
    LastScanSerial = source.volumeSerial;
}

int AskResumeScan(ScanResumeState &state, const QString &source, const QString &displayName, uint32_t serial,
                  int cacheFiles, const QString &title,
                  const std::function<bool(const QString &, const QString &)> &askYesNo)
{
    ScanResumePoint pending;
    if (source == state.LastScanSource && serial == state.LastScanSerial)
        pending = state.point;
    else
        state.point = ScanResumePoint{};
    if (pending.unit > 0) {
        const QString text = QStringLiteral("The last scan of disk %0 was interrupted.").replace("%0", displayName)
                             + QStringLiteral("    \r\n\r\n")
                             + QStringLiteral("Do you want to resume, adding remaining files to the cache?  ");
        if (askYesNo && askYesNo(title, text))
            return 10;
        state.point = ScanResumePoint{};
    }
    if (cacheFiles > 0 && state.point.unit == 0) {
        const QString text =
            GetString(352, QStringLiteral("A new scan will delete all unsaved cached files of the previous scan."))
            + QStringLiteral("    \r\n\r\n") + GetString(353, QStringLiteral("Do you want to continue?  "));
        if (askYesNo && askYesNo(title, text))
            return 6;
        state.point = pending;
        return 7;
    }
    return 0;
}

QString RestrictedRightsTitle() { return GetString(827, QStringLiteral("Vista Compatibility")); }

QString RestrictedRightsText()
{
    const QString five = QStringLiteral("     ");
    QStringList lines;
    lines << GetString(817, QStringLiteral("Windows 7/Vista is protecting access to the registry, system disk and internet."))
          << QString() << GetString(818, QStringLiteral("Quilvane is able to scan removable media."))
          << GetString(819, QStringLiteral("However, if you want Quilvane running unrestricted or for scanning the system "
                                           "disk, then please run Quilvane as administrator."))
          << QString() << GetString(1447, QStringLiteral("Log in as Administrator."))
          << five + GetString(1700, QStringLiteral("Right-click on the Quilvane.exe file."))
          << five + GetString(1448, QStringLiteral("click 'Properties'"))
          << five + GetString(1449, QStringLiteral("click the tab 'Compatibility'"))
          << five + GetString(1450, QStringLiteral("check the box 'Execute this program as Administrator'."))
          << five + GetString(1451, QStringLiteral("click 'OK'"))
          << five + GetString(1452, QStringLiteral("close  and restart Quilvane.")) << QString() << QString()
          << GetString(826, QStringLiteral("Do you want to abort operation and close Quilvane now?"));
    return lines.join(QStringLiteral("\r\n"));
}
