#include "scan/scanengine.h"

#include "drive/drivelist.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "scan/foundagain.h"
#include "scan/innerstarts.h"

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
// The bytes a sequential read brings in at a time (see the main loop).
constexpr int64_t kPieceBytes = int64_t(1) << 20;

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
    std::vector<unsigned char> unitBad;     // per unit of the buffer: a sector could not be read
    std::vector<unsigned char> sectorBad;   // per sector of the buffer: zero-filled, its read failed
    int64_t spu = 1;                        // sectors per unit

    // Careful reading.
    enum class MediumStop { None, Ended, Lost };
    static constexpr int64_t kNarrowChunk = 2048;   // sectors of one read back from a good probe
    int64_t statedEnd = 0;              // the sector after the last unit
    int64_t realEnd = INT64_MAX;        // the medium's end, once a read met it
    int64_t badFrom = -1, badTo = -1;   // the last bad run crossed; may reach past the current read
    MediumStop mediumStop = MediumStop::None;
    int64_t stopSector = -1;            // where the medium ended or stopped answering
    bool anyRead = false;               // some sector could be read
    int64_t lastGood = -1;              // the last sector read
    int lastErrno = 0;
    int64_t failedReads = 0;
    std::vector<unsigned char> scratch;   // probes and reads back, outside the buffer
    UnreadableSectors unreadableLog;
    bool fileDamaged = false;           // the open found file holds zero-filled sectors
    bool smartScan = false;             // free clusters only
    int64_t damagedFiles = 0;
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
    // The read buffer while a read fills it: its first unit and sector, the
    // units examined so far; settling: they may be examined before the read
    // ends.
    int64_t bufBase = 0, bufSector = 0, bufDone = 0;
    bool settling = false;
    // Where the scan goes on at the resume when a write into the cache
    // failed: the first unit whose bytes were not written; -1 none.
    int64_t resumeFrom = -1;

    // The open file's structure and empty sectors, followed while its
    // units are written: once the file has ended, no more units are
    // appended to it.
    StructureWalker walk;
    bool estimateOpen = false;     // a picture whose size may give its expected length
    bool estimateLimit = false;    // limitBytes is that estimate
    bool limitIsMax = false;       // limitBytes is LMaxMB
    bool entrySized = false;       // limitBytes is the size a deleted entry recorded
    bool limitCut = false;         // LMaxMB cut the open file
    bool fileCut = false;          // the open file, as closed, is cut short
    struct Walked {
        FileEnd end;
        int64_t length = -1;       // the file's length when it was closed
        bool cut = false;          // cut to its true end already
    };
    std::vector<Walked> walks;     // by counter - firstNew
    // Units inside the open file that matched a row: each may start a file
    // of its own once the file's structure tells.
    InnerStarts inner;
    // Per row of the table: files of its type have a walk, so that a unit
    // given back from inside another file starts one only where that walk
    // takes its first bytes.
    std::vector<bool> rowTypeWalks;
    int64_t cutFiles = 0;          // found files cut short
    int64_t firstNew = 0;
    // The files the cache held before this scan (keepFoundFiles).
    FoundFileHeads earlierFiles;
    TrueEndCutter trueEndCutter;
    int64_t foundAgainCount = 0;

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
                if (s.image) {
                    plat::Handle h = plat::openFile(s.name, plat::Access::Read);
                    if (s.imageLength >= 0)
                        h.windowLength = s.imageLength;
                    return h;
                }
                if (s.name.isEmpty() || !s.name[0].isLetter())
                    return plat::Handle{};
                // A whole-disk image is scanned whole, also where its letter
                // reads the partition in it.
                return plat::openMedium(s.name[0].toUpper());
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

    // --- careful reading ----------------------------------------------------
    //
    // Sectors are numbered from the start of the medium. A read that fails is
    // narrowed down to the sectors whose own reads fail: those, and only
    // those, are zero-filled and counted. A bad run is crossed by probing
    // single sectors at doubling distances (a failing read may take long on
    // a failing card) and its end is then found by reading back from the
    // first good probe, so that no readable sector before it is given up.

    // The medium went away: no later read can succeed.
    static bool mediumGone(int e) { return e == ENOMEDIUM || e == ENODEV || e == ENXIO || e == ESHUTDOWN; }

    // One read of the sectors [s, s + n): the bytes read (whole sectors; a
    // last partial sector of the medium is completed with zeros), 0 at the
    // end of the medium, -1 when it failed (its errno in lastErrno).
    int64_t readSectors(plat::Handle &h, int64_t s, int64_t n, unsigned char *into, int64_t *tracked)
    {
        if (s >= realEnd)
            return 0;
        errno = 0;
        int64_t r = readAt(h, s * bps, n * bps, into, tracked);
        if (r < 0) {
            lastErrno = errno ? errno : EIO;
            ++failedReads;
            return -1;
        }
        if (r == 0) {
            realEnd = std::min(realEnd, s);
            return 0;
        }
        anyRead = true;
        lastGood = s + (r - 1) / bps;
        if (const int64_t part = r % bps) {
            std::memset(into + r, 0, size_t(bps - part));
            r += bps - part;
        }
        return r;
    }

    enum class ReadStop { Complete, End, Failed };

    // Reads [s, s + n) of the read buffer as far as it comes; the sectors
    // read from s on. After a read that stopped short the next one may take
    // long: what was read is examined first.
    int64_t readRun(plat::Handle &h, int64_t s, int64_t n, unsigned char *into, int64_t *tracked, ReadStop &why)
    {
        int64_t done = 0;
        while (done < n) {
            if (done > 0)
                settle(s + done);
            const int64_t r = readSectors(h, s + done, n - done, into + done * bps, tracked);
            if (r <= 0) {
                why = r == 0 ? ReadStop::End : ReadStop::Failed;
                return done;
            }
            done += r / bps;
        }
        why = ReadStop::Complete;
        return n;
    }

    void stopAt(MediumStop kind, int64_t sector)
    {
        if (mediumStop == MediumStop::None) {
            mediumStop = kind;
            stopSector = sector;
        }
    }

    // Zero-fills the buffer's sectors [s, e); `into` holds sector s at buffer
    // sector `slot`.
    void zeroBad(int64_t s, int64_t e, unsigned char *into, int64_t slot)
    {
        std::memset(into, 0, size_t((e - s) * bps));
        for (int64_t k = slot; k < slot + (e - s); ++k) {
            if (size_t(k) < sectorBad.size())
                sectorBad[size_t(k)] = 1;
            if (size_t(k / spu) < unitBad.size())
                unitBad[size_t(k / spu)] = 1;
        }
    }

    // The first sector at or after p whose own read fails, reading the good
    // ones into the buffer (growing reads; after a failing one, single
    // sectors). e when every sector up to e could be read.
    int64_t firstFailing(int64_t p, int64_t e, const std::function<unsigned char *(int64_t)> &at)
    {
        int64_t chunk = 1;
        while (p < e) {
            settle(p);
            const int64_t n = std::min(chunk, e - p);
            ReadStop why;
            const int64_t got = readRun(pos, p, n, at(p), nullptr, why);
            p += got;
            if (why == ReadStop::Complete) {
                chunk = std::min<int64_t>(chunk * 2, 4096);
                continue;
            }
            if (why == ReadStop::End) {
                stopAt(MediumStop::Ended, p);
                return p;
            }
            if (mediumGone(lastErrno)) {
                stopAt(MediumStop::Lost, p);
                return p;
            }
            if (n - got == 1 || got > 0)
                return p;   // a read of it alone failed, or one stopped short right before it
            chunk = 1;
        }
        return e;
    }

    // Whether the last sector read reads again, from the medium itself.
    bool stillAnswers()
    {
        if (lastGood < 0)
            return false;
        const int64_t at = lastGood;
        ::posix_fadvise(pos.fd, off_t(pos.windowOffset + at * bps), off_t(bps), POSIX_FADV_DONTNEED);
        scratch.resize(std::max(scratch.size(), size_t(bps)));
        return readSectors(pos, at, 1, scratch.data(), nullptr) > 0;
    }

    // Crosses the bad run that begins at b (its read failed): probes at
    // doubling distances, past the current read when need be, up to the
    // first good sector G, then reads back from G to the run's true end.
    // Leaves the run in [badFrom, badTo). False when nothing could be read
    // from b to the end of the medium (the medium stopped answering there).
    bool crossBadRun(int64_t b)
    {
        std::vector<unsigned char> &probe = scratch;
        probe.resize(size_t(bps) * kNarrowChunk);
        int64_t last = b, distance = 1, good = -1;
        int64_t end = std::min(statedEnd, realEnd);
        while (last + 1 < end) {
            const int64_t q = std::min(last + distance, end - 1);
            const int64_t r = readSectors(pos, q, 1, probe.data(), nullptr);
            if (r > 0) {
                good = q;
                break;
            }
            if (r == 0) {   // the medium is shorter than it says: probe before its end
                end = std::min(end, q);
                continue;
            }
            if (mediumGone(lastErrno))
                break;
            last = q;
            distance *= 2;
        }
        if (good < 0) {
            // Nothing answers up to the end. When a sector read before still
            // reads, the medium is there and its tail is bad; else it went away.
            if (!mediumGone(lastErrno) && stillAnswers()) {
                badFrom = b;
                badTo = end;
                return true;
            }
            stopAt(MediumStop::Lost, b);
            return false;
        }
        // The readable sectors just before the good one: reads growing back
        // from it; when one fails, single sectors back to the first failing.
        int64_t first = good, size = 1;
        while (first - 1 > last) {
            const int64_t lo = std::max(last + 1, first - size);
            const int64_t r = readSectors(pos, lo, first - lo, probe.data(), nullptr);
            if (r == (first - lo) * bps) {
                first = lo;
                size = std::min<int64_t>(size * 2, kNarrowChunk);
                continue;
            }
            while (first - 1 > last && readSectors(pos, first - 1, 1, probe.data(), nullptr) > 0)
                --first;
            break;
        }
        badFrom = b;
        badTo = first;
        cb.yield();
        return true;
    }

    // Reads the sectors [s, e) carefully into `into` (buffer sector `slot`
    // holds s). Every sector is read or, when its read failed, zero-filled
    // and marked. Stops short only where the medium ended or stopped
    // answering (mediumStop). The sectors delivered from s on.
    enum class Before {
        Nothing,      // s was not read yet
        FailedRead,   // a read from s has just failed
        BadSector,    // a read stopped short right at s: s itself is the bad sector
    };
    int64_t carefulRead(int64_t s, int64_t e, unsigned char *into, int64_t slot, Before before = Before::Nothing)
    {
        bool failed = before != Before::Nothing;
        bool proven = before == Before::BadSector;
        const auto at = [&](int64_t k) { return into + (k - s) * bps; };
        if (!openPositioned()) {
            stopAt(MediumStop::Lost, s);
            return 0;
        }
        int64_t p = s;
        while (p < e) {
            if (p >= badFrom && p < badTo) {
                const int64_t q = std::min(e, badTo);
                zeroBad(p, q, at(p), slot + (p - s));
                p = q;
                failed = false;
                continue;
            }
            if (!failed) {
                ReadStop why;
                const int64_t got = readRun(pos, p, e - p, at(p), nullptr, why);
                p += got;
                if (why == ReadStop::Complete)
                    break;
                if (why == ReadStop::End) {
                    stopAt(MediumStop::Ended, p);
                    return p - s;
                }
                if (mediumGone(lastErrno)) {
                    stopAt(MediumStop::Lost, p);
                    return p - s;
                }
                proven = got > 0;
            }
            failed = false;
            settle(p);
            if (!proven) {
                // A read that fails as a whole does not say where: the
                // first sector whose own read fails.
                p = firstFailing(p, e, at);
                if (mediumStop != MediumStop::None)
                    return p - s;
                if (p >= e)
                    break;
            }
            settle(p);
            if (!crossBadRun(p))
                return p - s;
        }
        return e - s;
    }

    // HandleReadError from the byte `fromByte` of the read on, where the
    // read failed: the bytes before it are already in the buffer (`proven`:
    // the read stopped short there, so the sector there is the bad one).
    int64_t handleReadError(int64_t unit, int64_t &units, unsigned char *into, int64_t fromByte = 0,
                            bool proven = false)
    {
        if (self->mode_ == ScanMode::Normal) {
            if (self->upr_ > 8)
                self->upr_ /= 2;
            setMode(ScanMode::DeepScan);
        } else if (self->mode_ == ScanMode::DeepScan) {
            setMode(ScanMode::Damaged);
        }
        // The read shrinks to the new size, but never below the units it
        // delivered already and the one it failed in: those may have been
        // examined while it ran.
        units = std::max<int64_t>({1, std::min(units, self->upr_), std::min(units, fromByte / U + 1)});
        if (handleOpen) {
            seq.close();
            handleOpen = false;
        }
        const int64_t s = g.offsetOfUnit(unit) / bps;
        const int64_t e = s + units * spu;
        const int64_t from = std::min(e, s + fromByte / bps);
        settle(from);
        const int64_t slot = (into - buf.data()) / bps;
        const int64_t got = carefulRead(from, e, into + (from - s) * bps, slot + (from - s),
                                        proven ? Before::BadSector : Before::FailedRead);
        cb.yield();
        return (from - s + got) * bps;
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
            resumeFrom = runUnitBase + int64_t(runStart) / U;
            inner.dropFrom(fileBytes);   // noted again when their units are read again
            if (::ftruncate(fd, off_t(fileBytes)) != 0 || fileBytes == 0)
                dropOpenFile();   // nothing of it is kept: it is made again at the resume
        }
        runLen = 0;
    }

    // The open file is removed from the cache and the list.
    void dropOpenFile()
    {
        ::close(fd);
        fd = -1;
        fileOpen = false;
        inner.clear();
        ::unlink(fileNative(found.counter()).toLocal8Bit().constData());
        popFoundFile();
    }

    void popFoundFile()
    {
        found.FoundFileNames.removeLast();
        found.FoundFileSizes.pop_back();
        found.CutToEntry.pop_back();
        found.EntryDates.pop_back();
    }

    // The expected length of a picture from its size: width x height x 6
    // bytes for one at least 1001 pixels wide.
    void applyEstimate(int64_t width, int64_t height)
    {
        if (!estimateOpen || width < 1001 || height <= 0 || width > (1 << 20) || height > (1 << 20))
            return;
        limitBytes = uint64_t(width) * uint64_t(height) * 6;
        estimateLimit = true;
        limitIsMax = false;
    }

    // Reads bytes of the open found file back for its walk: those written
    // from the file, those of the run not written yet from the buffer.
    size_t readOpenFile(int64_t offset, unsigned char *into, size_t n)
    {
        const int64_t waiting = runActive ? int64_t(runLen) : 0;
        const int64_t written = fileBytes - waiting;
        if (offset < 0 || fd < 0 || offset + int64_t(n) > fileBytes)
            return 0;
        size_t got = 0;
        if (offset < written) {
            got = ReadBytesOfFile(fd)(offset, into, size_t(std::min<int64_t>(int64_t(n), written - offset)));
            if (offset + int64_t(got) < written)
                return got;
        }
        const int64_t from = offset + int64_t(got) - written;
        std::memcpy(into + got, buf.data() + runStart + size_t(from), n - got);
        return n;
    }

    StructureWalker openFileWalk(StructureFormat format)
    {
        return StructureWalker(format, FoundFileEmptyLimits(fileExt, format),
                               [this](int64_t offset, unsigned char *into, size_t n) {
                                   return readOpenFile(offset, into, n);
                               });
    }

    // Feeds the open file's walk bytes just appended; the sectors of the
    // read buffer that could not be read are data to it, never empty space.
    void feedWalk(const unsigned char *p, size_t n)
    {
        const bool inBuffer = p >= buf.data() && p < buf.data() + buf.size();
        const size_t unit = inBuffer ? size_t(p - buf.data()) / size_t(U) : 0;
        if (!inBuffer || unit >= unitBad.size() || !unitBad[unit]) {
            walk.feed(p, n);
            return;
        }
        for (size_t k = 0; k * size_t(bps) < n && walk.wantsMore(); ++k) {
            const size_t from = k * size_t(bps);
            walk.feed(p + from, std::min(size_t(bps), n - from), sectorBad[unit * size_t(spu) + k] != 0);
        }
    }

    // The open file stops at a limit: LMaxMB cuts it short.
    void stopAtLimit()
    {
        fileComplete = true;
        limitCut = limitCut || limitIsMax;
    }

    // The bytes of `len` the open file takes next.
    size_t appendRoom(size_t len) const
    {
        if (!fileOpen || fileComplete)
            return 0;
        // The estimate never ends a picture whose structure goes on.
        const bool heldOpen = estimateLimit && walk.walking();
        if (limitBytes > 0 && !heldOpen) {
            const uint64_t room = limitBytes > uint64_t(fileBytes) ? limitBytes - uint64_t(fileBytes) : 0;
            return size_t(std::min<uint64_t>(room, len));
        }
        return len;
    }

    // Appends bytes to the open file: those of the read buffer join the run
    // written at the next flush, those read back from another file are
    // written at once. The bytes it takes of them; 0 also when a write
    // failed (outOfSpace).
    size_t append(const unsigned char *p, size_t n)
    {
        const size_t allowed = appendRoom(n);
        if (allowed == 0) {
            if (fileOpen && !fileComplete)
                stopAtLimit();
            return 0;
        }
        if (p >= buf.data() && p < buf.data() + buf.size()) {
            const size_t at = size_t(p - buf.data());
            if (runActive && runStart + runLen == at) {
                runLen += allowed;
            } else {
                flushRun();
                runActive = true;
                runStart = at;
                runLen = allowed;
            }
        } else {
            flushRun();
            if (!fileOpen || !writeAll(p, allowed)) {
                outOfSpace = true;
                return 0;
            }
        }
        fileBytes += int64_t(allowed);
        if (allowed < n)
            stopAtLimit();
        if (walk.wantsMore()) {
            const bool sized = walk.width() > 0;
            feedWalk(p, allowed);
            walkTook(sized);
        }
        return allowed;
    }

    // After the open file's walk took its new bytes: a picture's size, once
    // read, gives its estimate; once the walk has ended, what follows is not
    // the file's (a file of a deleted entry takes the entry's size all the
    // same).
    void walkTook(bool sizedBefore)
    {
        if (!sizedBefore && walk.width() > 0)
            applyEstimate(walk.width(), walk.height());
        if (!walk.wantsMore() && !entrySized)
            fileComplete = true;
    }

    QString fileNative(int64_t i) const { return cacheNative + '/' + found.FoundFileNames[int(i)]; }

    FoundFileEvent eventOf(int64_t i) const
    {
        FoundFileEvent e;
        e.index = i;
        e.name = found.FoundFileNames[int(i)];
        e.damaged = fileDamaged;
        e.cutShort = fileCut;
        e.displayLine =
            fileDamaged || fileCut ? DamagedFileDisplayLine(i, fileDesc) : FoundFileDisplayLine(i, fileDesc);
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

    // Whether the file just closed lacks part of itself: its structure says
    // so, or, for a file whose structure says nothing, LMaxMB cut it or the
    // scan ended while its data went on. A file of a deleted entry is whole
    // when it holds the entry's size.
    bool cutShortOf(const FileEnd &end, uint64_t entrySize, bool scanEnded) const
    {
        if (entrySize != 0)
            return uint64_t(fileBytes) < entrySize;
        if (end.extent.walk == PictureExtent::Walk::Complete)
            return false;
        if (end.cutShort())
            return true;
        if (end.emptyFrom >= 0)
            return false;
        return limitCut || (scanEnded && !walk.endsInEmptySector());
    }

    // How the open file is closed.
    enum class CloseAs {
        Next,       // the scan goes on: a file begins, or the file ended
        ScanEnd,    // the scan ends with it open
        Resume,     // it stays listed and goes on at the resume, with its notes
        ReadBack,   // files given back are read from its bytes: it stays in the cache as it is
    };

    // Closes the open file. The units inside it that matched a row and that
    // its structure does not bear out start files of their own behind it.
    // True when the file stays for the resume.
    bool closeFile(CloseAs as)
    {
        if (!fileOpen)
            return false;
        if (inner.empty() || as == CloseAs::Resume)
            return closeOne(as);
        giveBack(as == CloseAs::ScanEnd ? Then::CloseAtScanEnd : Then::Close);
        return false;
    }

    // cutAt: where the file ends, cut short, because units from there on
    // were given back (-1: none). True when the file stays for the resume.
    bool closeOne(CloseAs as, int64_t cutAt = -1)
    {
        if (!fileOpen)
            return false;
        const bool forResume = as == CloseAs::Resume;
        flushRun();
        if (!fileOpen)
            return false;   // the write failed and nothing of the file was kept
        if (resumeFrom >= 0 && !forResume)
            return false;   // the write failed: the file waits for the resume
        const int64_t i = found.counter();
        const uint64_t entrySize = found.FoundFileSizes[size_t(i)];
        if (!forResume && entrySize != 0) {
            if (uint64_t(fileBytes) > entrySize && ::ftruncate(fd, off_t(entrySize)) == 0)
                fileBytes = int64_t(entrySize);
            found.CutToEntry[size_t(i)] = true;
        }
        if (cutAt >= 0 && cutAt < fileBytes)
            fileBytes = cutAt;   // what it holds once those files were read from it
        ::close(fd);
        fd = -1;
        fileOpen = false;
        if (!forResume)
            inner.clear();
        if (!forResume && opt.LMinMB > 0 && double(fileBytes) / kMB < opt.LMinMB) {
            ::unlink(fileNative(i).toLocal8Bit().constData());
            const FoundFileEvent e = eventOf(i);
            popFoundFile();
            fileBytes = 0;
            if (cb.fileDropped)
                cb.fileDropped(e);
            return false;
        }
        FileEnd end = walk.result();
        if (walk.format() == StructureFormat::Tiff)
            end.extent = WalkTiffFile(fileNative(i));   // by its offsets, now that it is whole
        fileCut = cutShortOf(end, entrySize, as == CloseAs::ScanEnd || forResume);
        if (cutAt >= 0) {
            // It ends where a unit it held was given back: cut short there.
            end.extent.walk = PictureExtent::Walk::Incomplete;
            end.extent.end = std::min(end.extent.end, cutAt);
            if (end.emptyFrom > cutAt)
                end.emptyFrom = -1;
            fileCut = true;
        }
        if (fileCut)
            ++cutFiles;
        if (!forResume && i >= firstNew) {
            const size_t k = size_t(i - firstNew);
            if (walks.size() <= k)
                walks.resize(k + 1);
            walks[k].end = end;
            walks[k].length = fileBytes;
            walks[k].cut = false;
        }
        walk = StructureWalker();
        const bool ended = as == CloseAs::Next || as == CloseAs::ScanEnd;
        if (ended && i >= firstNew && !earlierFiles.isEmpty() && foundAgain(i)) {
            fileBytes = 0;
            return false;
        }
        if (!forResume && pictureDate.isValid())
            DateFoundFile(fileNative(i), pictureDate);
        if (!forResume)
            ++filesKept;
        if (fileDamaged)
            ++damagedFiles;
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
        return forResume;
    }

    // The file just closed is one the cache held before this scan: it is
    // dropped, or its bytes take the place of that file when that was cut
    // short (or lacked sectors) and this find holds more of it; that file's
    // line then carries this find's mark. Compared at its true end, as the
    // files before it were cut.
    bool foundAgain(int64_t i)
    {
        const QString later = fileNative(i);
        const std::vector<int64_t> earlier = earlierFiles.candidates(later);
        if (earlier.empty())
            return false;
        cutToTrueEnd(i);
        for (const int64_t e : earlier) {
            const bool cutShort = size_t(e) < opt.foundCutShort.size() && opt.foundCutShort[size_t(e)];
            const FoundAgain verdict = CompareFoundAgain(fileNative(e), cutShort, later);
            if (verdict == FoundAgain::Other)
                continue;
            const QByteArray from = later.toLocal8Bit();
            if (verdict == FoundAgain::Replace) {
                if (::rename(from.constData(), fileNative(e).toLocal8Bit().constData()) != 0)
                    return false;   // both stay rather than lose the longer one
            } else {
                ::unlink(from.constData());
            }
            const FoundFileEvent event = eventOf(i);
            popFoundFile();
            ++foundAgainCount;
            if (fileCut)
                --cutFiles;
            if (cb.fileDropped)
                cb.fileDropped(event);
            if (verdict == FoundAgain::Replace && cb.fileKept) {
                // The earlier file's line now tells what its new bytes hold.
                FoundFileEvent kept = event;
                kept.index = e;
                kept.name = found.FoundFileNames[int(e)];
                kept.displayLine = fileDamaged || fileCut ? DamagedFileDisplayLine(e, fileDesc)
                                                          : FoundFileDisplayLine(e, fileDesc);
                cb.fileKept(kept);
            }
            return true;
        }
        return false;
    }

    // Cuts found file i to its true end, once: where its walk found it to
    // end, or by the zero rule of the true-end list.
    void cutToTrueEnd(int64_t i)
    {
        if (g.clusterBytes() < 512 || found.CutToEntry[size_t(i)])
            return;
        const size_t k = size_t(i - firstNew);
        Walked *w = i >= firstNew && k < walks.size() ? &walks[k] : nullptr;
        if (w && w->cut)
            return;
        const bool ends = w && (w->end.extent.walk == PictureExtent::Walk::Complete || w->end.emptyFrom >= 0);
        if (!ends && !IsTrueEndExtension(found.FoundFileNames[int(i)]))
            return;
        trueEndCutter.cut(fileNative(i), g.clusterBytes(), bps, w ? &w->end : nullptr, w ? w->length : -1);
        if (w)
            w->cut = true;
    }

    // --- units inside the open file ----------------------------------------

    enum class Inside { No, Placed, Covered };

    // How unit u, whose first bytes match a row, stands to the open file:
    // where its structure places it, the unit is the file's own (until that
    // structure breaks off); inside a stretch of media data whose length the
    // structure states, the unit may be the file's or another's, and both
    // are kept; anywhere else, and where a deleted entry of the row's type
    // begins at it, it starts a file.
    Inside insideOpenFile(int row, int64_t u, const unsigned char *p, size_t len, int64_t mediumLeft) const
    {
        if (!fileOpen || fileComplete || appendRoom(len) < len)
            return Inside::No;
        if (u == cursor.nextUnit && cursor.offeredName.contains('.')
            && EntryNameFitsExtension(cursor.offeredName, latin(table[size_t(row)].Ext)))
            return Inside::No;
        if (walk.holdsNext(p, len, mediumLeft))
            return Inside::Placed;
        if (walk.format() != StructureFormat::Jpeg && walk.claimsNext(mediumLeft))
            return Inside::Covered;
        return Inside::No;
    }

    // Whether a unit inside another file that matches `row` may start a
    // file of that row's type: its first bytes (the unit's window) begin as
    // the type's own walk takes them (a JPEG at its start of image, MPEG
    // audio frames one after the other). A type without a walk always may.
    bool beginsAsItsType(int row, const unsigned char *p, size_t n, int64_t mediumLeft) const
    {
        const QString ext = latin(table[size_t(row)].Ext);
        const StructureFormat format = FoundFileFormat(ext, p, n);
        if (format == StructureFormat::None)
            return !rowTypeWalks[size_t(row)];
        StructureWalker w(format, EmptyRunLimits{0, 0});
        if (mediumLeft >= 0)
            w.setRoom(mediumLeft);
        w.feed(p, n);
        return !w.brokeOff();
    }

    // After a unit was appended: the units placed before what the structure
    // bore out are its own. When the structure breaks off with units where
    // it bore nothing out, or the file has ended with units inside it that
    // may begin files of their own, those files start at once, and the last
    // of them stays open to take what follows.
    void settleInner()
    {
        const int64_t confirmed = walk.confirmed();
        inner.settle(confirmed);
        if (!inner.empty() && (fileComplete || (walk.brokeOff() && inner.owed(confirmed))))
            giveBack(Then::GoOn);
    }

    // What follows the files given back: the last one stays open for the
    // units that follow, or it is closed as the scan goes on or ends.
    enum class Then { GoOn, Close, CloseAtScanEnd };

    // Closes the open file and carries out the plan of the units inside it:
    // the files they start are read back from it, and then it is cut where
    // the plan says. All or nothing: when the cache runs out of space on the
    // way, the file being given back is removed, the open file keeps its
    // bytes, and the scan goes on at the resume from the first unit not
    // given back.
    void giveBack(Then then)
    {
        const CloseAs as = then == Then::CloseAtScanEnd ? CloseAs::ScanEnd : CloseAs::Next;
        flushRun();
        if (!fileOpen || resumeFrom >= 0) {
            closeOne(as);   // a write failed: the file and its notes wait for the resume
            return;
        }
        const FileEnd end = walk.result();
        const bool whole = end.extent.walk == PictureExtent::Walk::Complete && !end.structureCut;
        const GiveBackPlan plan = inner.plan(whole, walk.confirmed());
        const int64_t length = fileBytes;
        const int from = plan.starts.empty() ? -1 : ::dup(fd);
        if (from < 0) {
            closeOne(as);
            return;
        }
        closeOne(CloseAs::ReadBack, plan.cutAt);
        const size_t given = readBack(plan, from, length, then);
        if (given == plan.starts.size()) {
            // Cut once its bytes were read back. Where that fails it keeps
            // them, listed as cut short all the same; the finishing pass
            // walks it again.
            if (plan.cutAt >= 0 && plan.cutAt < length)
                (void)!::ftruncate(from, off_t(plan.cutAt));
        } else {
            resumeFrom = g.unitAtOffset(plan.starts[given].medium);
        }
        ::close(from);
    }

    // Starts the files of the plan, each read from the closed file `from`
    // (length bytes) up to the next start or its own end. A start that the
    // file given back before it places in its own structure is appended to
    // it and noted, as the scan notes it; where that file's structure then
    // does not bear the start out, the file is cut there and the start
    // begins a file after all. Behind a whole file each stops where its
    // structure breaks off. The starts given back: all of them, unless the
    // cache ran out of space on the way; the file being made then is
    // removed, and the count is the start it began at.
    size_t readBack(const GiveBackPlan &plan, int from, int64_t length, Then then)
    {
        const ReadBytesAt read = ReadBytesOfFile(from);
        std::vector<unsigned char> block(size_t(1) << 20);
        const bool behindWhole = plan.cutAt < 0;
        const std::vector<InnerStart> &starts = plan.starts;
        size_t begun = 0;   // the start the open file began at
        // The start the open file placed and did not bear out, once its
        // structure tells (at the end: it takes nothing more); none: size().
        const auto owed = [&](bool atEnd) {
            const FileEnd end = walk.result();
            const bool whole = atEnd && end.extent.walk == PictureExtent::Walk::Complete && !end.structureCut;
            inner.settle(walk.confirmed());
            if (!atEnd && !fileComplete && !(walk.brokeOff() && inner.owed(walk.confirmed())))
                return starts.size();
            const GiveBackPlan own = inner.plan(whole, walk.confirmed());
            if (own.cutAt < 0)
                return starts.size();
            (void)!::ftruncate(fd, off_t(own.cutAt));
            closeOne(CloseAs::Next, own.cutAt);
            const InnerStart &first = *std::find_if(own.starts.begin(), own.starts.end(),
                                                    [&](const InnerStart &o) { return o.offset == own.cutAt; });
            return size_t(std::lower_bound(starts.begin(), starts.end(), first.medium,
                                           [](const InnerStart &o, int64_t m) { return o.medium < m; })
                          - starts.begin());
        };
        for (size_t k = 0; k < starts.size();) {
            const InnerStart &s = starts[k];
            const int64_t to = k + 1 < starts.size() ? starts[k + 1].offset : length;
            if (s.offset >= length || to <= s.offset) {
                ++k;
                continue;
            }
            unsigned char window[1024];
            const size_t windowLength = read(s.offset, window, size_t(std::min<int64_t>(1024, length - s.offset)));
            const int64_t mediumLeft = g.offsetOfUnit(g.endUnit()) - s.medium;
            if (fileOpen && !fileComplete && walk.holdsNext(window, windowLength, mediumLeft)) {
                inner.add({fileBytes, s.medium, s.row, true});
            } else {
                closeOne(CloseAs::Next);
                if (!outOfSpace) {
                    startFile(s.row, g.unitAtOffset(s.medium), window, windowLength);
                    begun = k;
                }
                if (outOfSpace) {
                    if (fileOpen)
                        dropOpenFile();
                    return k;
                }
            }
            for (int64_t at = s.offset; at < to && fileOpen && !fileComplete;) {
                const size_t got = read(at, block.data(), size_t(std::min<int64_t>(int64_t(block.size()), to - at)));
                if (got == 0)
                    break;
                const size_t put = append(block.data(), got);
                if (outOfSpace) {
                    dropOpenFile();
                    return begun;
                }
                at += int64_t(put);
                cb.yield();
                if (behindWhole && walk.brokeOff())
                    fileComplete = true;   // nothing shows the rest to be its
                if (put < got)
                    break;
            }
            const size_t again = fileOpen && !inner.empty() ? owed(false) : starts.size();
            k = again < starts.size() ? again : k + 1;
            if (k == starts.size() && then != Then::GoOn && fileOpen && !inner.empty())
                k = owed(true);
            if (outOfSpace)
                return k;
        }
        if (then != Then::GoOn)
            closeOne(then == Then::CloseAtScanEnd ? CloseAs::ScanEnd : CloseAs::Next);
        return starts.size();
    }

    void startFile(int row, int64_t unit, const unsigned char *window, size_t windowLength)
    {
        walk = StructureWalker();
        estimateOpen = estimateLimit = false;
        limitCut = fileCut = false;
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
        fileDamaged = false;
        fileBytes = 0;
        limitBytes = entrySize ? entrySize : (opt.LMaxMB > 0 ? uint64_t(opt.LMaxMB * kMB) : 0);
        limitIsMax = entrySize == 0 && limitBytes > 0;
        entrySized = entrySize != 0;
        const qsizetype dot = name.indexOf('.');
        fileExt = dot >= 0 ? name.mid(dot).toLower() : QString();
        fileDesc = latin(r.Desc).trimmed();
        pictureDate = QDateTime();
        // The file is followed through its structure as it is written.
        const StructureFormat format = FoundFileFormat(fileExt, window, windowLength);
        walk = openFileWalk(format);
        walk.setRoom(g.offsetOfUnit(g.endUnit()) - g.offsetOfUnit(unit));
        // A multi-page TIFF is no bigger for its first page's size.
        estimateOpen = entrySize == 0 && isPictureExtension(fileExt) && !IsRawExtension(fileExt)
                       && format != StructureFormat::Tiff && !fileExt.startsWith(QLatin1String(".tif"));
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

    // The file open at the stop goes on, with the units noted inside it.
    // The unit where the scan goes on: `current`, or the first noted unit
    // when the notes cannot be taken again (the table changed, the notes do
    // not fit the file): the file is cut back there and what follows is read
    // again and noted anew.
    int64_t reopenForResume(int64_t current)
    {
        const int64_t i = found.counter();
        if (i < 0)
            return current;
        const QByteArray path = fileNative(i).toLocal8Bit();
        const int f = ::open(path.constData(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (f < 0)
            return current;
        struct stat st {};
        if (fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(f);
            return current;
        }
        fd = f;
        fileOpen = true;
        fileDamaged = opt.resume.fileDamaged;
        fileBytes = st.st_size;
        const std::vector<InnerStart> &notes = opt.resume.inner;
        if (!notes.empty() && !restoreNotes(notes, current)) {
            const InnerStart &first = notes.front();
            if (first.offset > 0 && first.offset < fileBytes && unitStart(first.medium, current)
                && ::ftruncate(fd, off_t(first.offset)) == 0) {
                fileBytes = first.offset;
                current = g.unitAtOffset(first.medium);
            }
        }
        const uint64_t entrySize = found.FoundFileSizes[size_t(i)];
        limitBytes = entrySize ? entrySize : (opt.LMaxMB > 0 ? uint64_t(opt.LMaxMB * kMB) : 0);
        limitIsMax = entrySize == 0 && limitBytes > 0;
        entrySized = entrySize != 0;
        limitCut = fileCut = false;
        fileComplete = limitBytes > 0 && uint64_t(fileBytes) >= limitBytes;
        if (fileComplete)
            stopAtLimit();
        const QString &name = found.FoundFileNames[int(i)];
        const qsizetype dot = name.indexOf('.');
        fileExt = dot >= 0 ? name.mid(dot).toLower() : QString();
        fileDesc = fileExt.mid(1).toUpper();
        replayOpenFile(path, current);
        return current;
    }

    // Whether `medium` is the byte offset of a unit the scan examined before
    // `current`.
    bool unitStart(int64_t medium, int64_t current) const
    {
        const int64_t u = g.unitAtOffset(medium);
        return medium >= 0 && u >= g.firstUnit && u < current && g.offsetOfUnit(u) == medium;
    }

    // Takes the notes of the resume point into the reopened file, each
    // checked against the file's bytes: its unit still matches its row.
    bool restoreNotes(const std::vector<InnerStart> &notes, int64_t current)
    {
        if (!inner.restore(notes, fileBytes, g.offsetOfUnit(current)))
            return false;
        const ReadBytesAt read = ReadBytesOfFile(fd);
        std::vector<unsigned char> bytes(4096);
        for (const InnerStart &s : notes) {
            const size_t n = read(s.offset, bytes.data(), size_t(std::min<int64_t>(4096, fileBytes - s.offset)));
            const int64_t mediumLeft = g.offsetOfUnit(g.endUnit()) - s.medium;
            if (!unitStart(s.medium, current) || size_t(s.row) >= table.size()
                || index.match(bytes.data(), std::min<size_t>(n, size_t(bps)), bytes.data(), std::min<size_t>(n, 1024),
                               bytes.data(), n, mediumLeft)
                       != s.row) {
                inner.clear();
                return false;
            }
        }
        return true;
    }

    // The walk of a reopened file goes on where it stood: its bytes so far
    // are walked once more. Sectors that were zero-filled for want of a
    // read are not told from the others here, so a damaged file's bytes
    // are taken as data throughout.
    void replayOpenFile(const QByteArray &path, int64_t current)
    {
        const int rd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (rd < 0)
            return;
        std::vector<unsigned char> block(1024);
        const ssize_t head = ::pread(rd, block.data(), block.size(), 0);
        const StructureFormat format = FoundFileFormat(fileExt, block.data(), size_t(std::max<ssize_t>(0, head)));
        walk = openFileWalk(format);
        // What it holds, and what the medium holds after where the scan goes on.
        walk.setRoom(fileBytes + std::max<int64_t>(0, g.offsetOfUnit(g.endUnit()) - g.offsetOfUnit(current)));
        FeedWalker(walk, ReadBytesOfFile(rd), fileBytes, block, fileDamaged);
        ::close(rd);
        if (!walk.wantsMore() && !entrySized)
            fileComplete = true;
    }

    // --- examining the read buffer ------------------------------------------

    // Examines the buffer's units from the last one examined up to `upTo`
    // (exclusive), its bytes valid up to validBytes: the unit test, then a
    // new found file or the unit appended to the open one. Stops early when
    // the cache runs out of space (that unit is examined again at the
    // resume).
    void examineUnits(int64_t upTo, int64_t validBytes)
    {
        for (int64_t i = bufDone; i < upTo; ++i) {
            const int64_t u = bufBase + i;
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
                const int64_t first = g.offsetOfUnit(u) / bps;
                for (int64_t k = 0; k < spu; ++k)
                    if (sectorBad[size_t(i * spu + k)])
                        unreadableLog.add(first + k, 1);
            } else if (found.counter() < 0) {
                // Units alike while nothing is found: the wiped medium.
                const unsigned char *prev =
                    i > 0 ? (unitBad[size_t(i - 1)] ? nullptr : p - U) : (haveLastHead ? lastHead.data() : nullptr);
                if (prev && std::memcmp(prev, p, headLen) == 0)
                    ++identical;
            }
            const int64_t mediumLeft = g.offsetOfUnit(g.endUnit()) - g.offsetOfUnit(u);
            const size_t atHand = size_t(validBytes - int64_t(at));
            int row = index.match(p, headLen, p, winLen, p, atHand, mediumLeft);
            if (row >= 0) {
                const Inside in = insideOpenFile(row, u, p, len, mediumLeft);
                if (in != Inside::No) {
                    // Appended; it may start a file of its own later, where it
                    // begins as its type begins.
                    if (!inner.full() && beginsAsItsType(row, p, winLen, mediumLeft))
                        inner.add({fileBytes, g.offsetOfUnit(u), row, in == Inside::Placed});
                    row = -1;
                }
            }
            if (row >= 0) {
                closeFile(CloseAs::Next);
                if (outOfSpace)
                    return;   // this unit is examined again at the resume
                startFile(row, u, p, winLen);
                if (outOfSpace)
                    return;
                progress(u, false);
            } else if (fileOpen && useAux && aux.match(p, headLen, p, winLen, p, atHand, mediumLeft) >= 0
                       && !walk.holdsNext(p, len, mediumLeft) && !walk.claimsNext(mediumLeft)) {
                fileComplete = true;
            }
            const size_t put = append(p, len);
            if (bad && put > 0)
                for (int64_t k = 0; k * bps < int64_t(put); ++k)
                    fileDamaged = fileDamaged || sectorBad[size_t(i * spu + k)];
            bufDone = i + 1;
            if (!inner.empty() && fileOpen)
                settleInner();
            if (outOfSpace)
                return;
        }
    }

    // Before a read that may take long (the careful re-read after a failed
    // read, a read after one that failed or stopped short): the units of the
    // buffer whose sectors before `sector` are read (or zero-filled for good)
    // are examined and written, so that a program ended during that read
    // loses nothing that was read. A unit whose window reaches past them
    // waits for the rest of the read.
    void settle(int64_t sector)
    {
        if (!settling || outOfSpace || !anyRead)
            return;
        const int64_t validBytes = (sector - bufSector) * bps;
        const int64_t need = std::max<int64_t>(U, 1024);
        if (validBytes < need)
            return;
        const int64_t upTo = std::min<int64_t>((validBytes - need) / U + 1, int64_t(unitBad.size()));
        if (upTo <= bufDone)
            return;
        examineUnits(upTo, validBytes);
        flushRun();
        cb.yield();
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
    void composeEnd(ScanResult &r, int64_t current, bool stopped);
    QString statusLine(const ScanResult &r, bool early) const;
    QString unreadableReport() const;

    // How far the scan got, as the progress bar shows it; an early end never
    // says 100.
    int percentAt(int64_t unit) const
    {
        const double done = double(unit - g.firstUnit) / double(std::max<int64_t>(1, g.unitCount));
        return std::clamp(int(std::floor(done * 100.0)), 0, 99);
    }
};

ScanResult ScanEngine::Impl::run()
{
    ScanResult r;
    const bool newScan = opt.resume.offset < 0;
    if (!g.valid()) {
        r.end = ScanEnd::BadGeometry;
        r.messageTitle = GetString(38, QStringLiteral("Scan"));
        r.messageText = GetString(562, QStringLiteral("Cannot read the disk."));
        r.statusText = r.messageText;
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
        r.statusText = GetString(273, QStringLiteral("Cannot use the same disk for saving."));
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
    // A type has a walk when one of its rows begins as a format the walks
    // know (the JPEG rows, but not the row of the bare JFIF text).
    rowTypeWalks.assign(table.size(), false);
    for (const SignatureRecord &row : table) {
        const auto *sig = reinterpret_cast<const unsigned char *>(row.Sig1.constData());
        if (row.Sig1.isEmpty() || FoundFileFormat(latin(row.Ext), sig, size_t(row.Sig1.size())) == StructureFormat::None)
            continue;
        for (size_t k = 0; k < table.size(); ++k)
            if (table[k].Ext == row.Ext)
                rowTypeWalks[k] = true;
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

    smartScan = opt.SmartScanActive && !src.image && opt.mode == ScanMode::Normal && cb.nextFreeRun;
    const bool smart = smartScan;
    // The window of a unit reaches 1024 bytes: units of less than that wait
    // for the next read, so a window never depends on where a read ends.
    const int64_t carryNeed = smart || U >= 1024 ? 0 : (1024 + U - 1) / U - 1;
    buf.assign(size_t((self->upr_ + carryNeed) * U), 0);
    unitBad.assign(size_t(self->upr_ + carryNeed), 0);
    spu = U / bps;
    sectorBad.assign(size_t((self->upr_ + carryNeed) * spu), 0);
    statedEnd = g.offsetOfUnit(g.endUnit()) / bps;
    lastHead.assign(size_t(bps), 0);

    // Where the scan begins.
    int64_t current = g.firstUnit;
    if (!newScan && opt.resume.offset > 0)
        current = g.unitAtOffset(opt.resume.offset);
    if (newScan && !opt.keepFoundFiles)
        found.clear();
    const bool resumedFile = !newScan && opt.resume.fileOpen && found.counter() >= 0;
    const int64_t startCounter = resumedFile ? found.counter() : found.counter() + 1;
    firstNew = std::max<int64_t>(0, startCounter);
    if (opt.keepFoundFiles)
        for (int64_t i = 0; i < firstNew && i <= found.counter(); ++i)
            earlierFiles.add(i, fileNative(i));

    // Opening.
    seq = cb.openSource(src);
    if (!seq.valid()) {
        const int e = plat::lastOpenError();
        r.messageTitle = GetString(561, QStringLiteral("Scan disk ")) + src.name;
        if (rightsError(e)) {
            // The advice, when due, says how raw access is granted; else
            // the scan says it itself.
            r.end = ScanEnd::RightsMissing;
            const QString first = FormatString(GetString(2107, QStringLiteral("Cannot open %0 for reading: the "
                                                                              "program lacks the right to read the "
                                                                              "device.")),
                                               {src.name});
            r.messageText = first + QStringLiteral("\n\n") + RawAccessHowTo();
            r.statusText = FormatString(GetString(2112, QStringLiteral("No right to read %0")),
                                        {src.name});
            const bool adviceShown = cb.restrictedRights && cb.restrictedRights();
            if (!adviceShown && cb.message)
                cb.message(r.messageTitle, r.messageText);
        } else {
            r.end = ScanEnd::CannotOpen;
            r.messageText =
                GetString(560, QStringLiteral("Disk is either protected by Windows or damaged and unreadable."));
            r.statusText = GetString(562, QStringLiteral("Cannot read the disk."));
            if (cb.message)
                cb.message(r.messageTitle, r.messageText);
        }
        r.resume = opt.resume;
        return r;
    }
    handleOpen = true;
    ::posix_fadvise(seq.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (resumedFile)
        current = reopenForResume(current);
    cursor.reset(&opt.deletedEntries, &g, extensions, cacheNative);
    cursor.seek(current);

    if (cb.phase)
        cb.phase(ScanPhase::Reading);
    cb.setLastCluster(QStringLiteral("33"));
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
        // A plain sequential read comes in pieces that are examined and
        // written while they are still in the processor's cache; the medium
        // sees the same stream of requests.
        if (handleOpen && self->mode_ == ScanMode::Normal)
            want = std::min(want, std::max<int64_t>(1, kPieceBytes / U));

        unsigned char *into = buf.data() + carried * U;
        runUnitBase = bufBase = current;
        bufSector = g.offsetOfUnit(current) / bps;
        bufDone = 0;
        settling = true;
        std::fill(unitBad.begin() + carried, unitBad.end(), 0);
        std::fill(sectorBad.begin() + carried * spu, sectorBad.end(), 0);
        int64_t newBytes = 0;
        bool atEnd = want <= 0;
        if (want > 0) {
            const int64_t s = g.offsetOfUnit(readUnit) / bps;
            const int64_t slot = carried * spu;
            int64_t got = 0;   // sectors now in the buffer from s on
            if (s >= badFrom && s < badTo) {
                // Inside a bad run already crossed: it is not read again.
                got = carefulRead(s, s + want * spu, into, slot);
            } else {
                ReadStop why = ReadStop::Failed;
                if (handleOpen)
                    got = readRun(seq, s, want * spu, into, &seqPosition, why);
                else if (openPositioned())
                    got = readRun(pos, s, want * spu, into, nullptr, why);
                else
                    lastErrno = ENODEV;   // the source does not open again: it went away
                if (why == ReadStop::End) {
                    stopAt(MediumStop::Ended, s + got);
                } else if (why == ReadStop::Failed && mediumGone(lastErrno)) {
                    stopAt(MediumStop::Lost, s + got);
                } else if (why == ReadStop::Failed) {
                    int64_t units = want;
                    got = handleReadError(readUnit, units, into, got * bps, got > 0) / bps;
                    want = units;
                }
            }
            if (firstRead && !anyRead && mediumStop != MediumStop::None) {
                // Nothing at all could be read. A card is taken out and put
                // in again once; then the scan gives up.
                if (src.driveType == QLatin1String("Removable") && cb.reloadMedia) {
                    cb.reloadMedia(src);
                    pos.close();
                    badFrom = badTo = -1;
                    realEnd = INT64_MAX;
                    mediumStop = MediumStop::None;
                    stopSector = -1;
                    std::fill(unitBad.begin() + carried, unitBad.end(), 0);
                    std::fill(sectorBad.begin() + carried * spu, sectorBad.end(), 0);
                    got = carefulRead(s, s + want * spu, into, slot);
                }
                if (!anyRead) {
                    unreadableMedium = true;
                    break;
                }
            }
            if (mediumStop == MediumStop::Ended && stopSector > g.offsetOfUnit(end - 1) / bps) {
                // The medium's end inside its last unit: the scan's own end.
                mediumStop = MediumStop::None;
                atEnd = true;
                newBytes = got * bps;
            } else if (mediumStop != MediumStop::None) {
                // Whole units before the stop are examined; the rest waits
                // for the resume.
                atEnd = true;
                newBytes = std::max<int64_t>(0, (stopSector - s) / spu) * U;
            } else {
                newBytes = want * U;
            }
        }
        const bool firstBuffer = firstRead;
        firstRead = false;

        const int64_t wholeNew = newBytes / U;
        const int64_t tail = newBytes % U;
        const int64_t units = carried + wholeNew + (tail ? 1 : 0);
        const int64_t validBytes = carried * U + newBytes;
        const bool final = atEnd || readUnit + wholeNew >= end;
        int64_t examine = final ? units : std::max<int64_t>(0, units - carryNeed);

        examine = std::max(examine, bufDone);
        if (!outOfSpace)
            examineUnits(examine, validBytes);
        settling = false;
        const int64_t done = bufDone;
        if (found.counter() < 0 && done > 0) {
            haveLastHead = !unitBad[size_t(done - 1)];
            if (haveLastHead)
                std::memcpy(lastHead.data(), buf.data() + (done - 1) * U,
                            size_t(std::min<int64_t>(bps, validBytes - (done - 1) * U)));
        }
        flushRun();
        if (outOfSpace) {
            current = resumeFrom >= 0 ? resumeFrom : current + done;
            break;
        }
        current += examine;
        carried = units - examine;
        if (carried > 0) {
            std::memmove(buf.data(), buf.data() + examine * U, size_t(validBytes - examine * U));
            std::memmove(unitBad.data(), unitBad.data() + examine, size_t(carried));
            std::memmove(sectorBad.data(), sectorBad.data() + examine * spu, size_t(carried * spu));
        }
        budgetTest(false);
        if (outOfSpace)
            break;
        progress(current, firstBuffer);   // the first figures at once
        cb.yield();
        if (atEnd || (final && carried == 0))
            break;
    }

    settling = false;
    if (unreadableMedium) {
        r.end = ScanEnd::Unreadable;
        r.messageTitle = GetString(38, QStringLiteral("Scan"));
        r.messageText = GetString(562, QStringLiteral("Cannot read the disk."));
        r.statusText = r.messageText;
        seq.close();
        pos.close();
        closeFile(CloseAs::Resume);
        cb.setLastCluster(QStringLiteral("0"));
        r.resume = opt.resume;
        if (resumedFile) {
            // Where it stands now, the reopened file's notes with it.
            r.resume.unit = current;
            r.resume.offset = g.offsetOfUnit(current);
            r.resume.inner = inner.held();
        }
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
    const bool mediumStopped = mediumStop != MediumStop::None;
    // Damaged mode goes on later only where the medium ended or stopped
    // answering.
    const bool damaged = self->mode_ == ScanMode::Damaged || opt.mode == ScanMode::Damaged;
    const bool resumable = (stopped || outOfSpace || mediumStopped) && current < g.endUnit() && (!damaged || mediumStopped);
    bool resumeOpen = closeFile(resumable ? CloseAs::Resume : CloseAs::ScanEnd);
    if (resumeFrom >= 0) {
        // A write failed, perhaps while files were given back at the end:
        // the scan goes on there, with the file that waits for it.
        current = std::min(current, resumeFrom);
        resumeOpen = resumeOpen || fileOpen;
    }
    const bool pending = stopped || outOfSpace || mediumStopped;

    r.seconds = double(nowMs - startMs) / 1000.0;
    r.unitsScanned = current - progressMin;
    r.bytesScanned = std::min(r.unitsScanned * U, std::max<int64_t>(0, g.totalBytes() - (progressMin - g.firstUnit) * U));
    r.identicalUnits = identical;
    r.unreadableUnits = unreadable;
    r.finalMode = self->mode_;
    r.budgetMB = budgetMB;
    r.filesFound = filesKept;
    r.unreadable = unreadableLog;
    r.damagedFiles = damagedFiles;
    r.cutFiles = cutFiles;
    r.filesFoundAgain = foundAgainCount;
    r.failedReads = failedReads;
    r.stoppedAtPercent = pending ? percentAt(current) : -1;
    r.statusText = statusLine(r, pending);
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
    // The progress bar counts the new files through the pass.
    const int64_t firstFile = std::max<int64_t>(0, startCounter);
    auto passProgress = [&](int64_t done) {
        if (!cb.progress)
            return;
        ScanProgress p;
        p.maximum = std::max<int64_t>(1, last - firstFile + 1);
        p.value = done;
        p.elapsedSeconds = int64_t(r.seconds);
        p.text = r.statusText;
        cb.progress(p);
    };
    passProgress(0);
    const auto passStart = std::chrono::steady_clock::now();
    if (g.clusterBytes() >= 512) {
        // The scan followed every file while writing it: a file is read
        // again only for the zero rule of the true-end list.
        for (int64_t i = firstFile; i <= last; ++i) {
            if ((i - firstFile) % 256 == 255) {
                passProgress(i - firstFile);
                cb.yield();
            }
            if (!(resumeOpen && i == last))
                cutToTrueEnd(i);
        }
    }
    for (int64_t i = std::max<int64_t>(0, startCounter); i <= last; ++i)
        if (found.EntryDates[size_t(i)].isValid() && !(resumeOpen && i == last))
            DateFoundFile(fileNative(i), found.EntryDates[size_t(i)]);
    r.finishingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - passStart).count();

    cb.setLastCluster(QStringLiteral("0"));
    const bool complete = current >= g.endUnit();
    // A medium that ended or stopped answering keeps its resume point in
    // every mode: the scan goes on there once the medium answers again.
    if (!pending || complete || (damaged && !mediumStopped)) {
        r.resume = ScanResumePoint{};
    } else {
        r.resume.unit = current;
        r.resume.offset = g.offsetOfUnit(current);
        r.resume.unitBytes = int32_t(U);
        r.resume.fileOpen = resumeOpen;
        r.resume.fileDamaged = resumeOpen && fileDamaged;
        if (resumeOpen)
            r.resume.inner = inner.held();
    }
    inner.clear();

    composeEnd(r, current, stopped);
    if (cb.phase)
        cb.phase(ScanPhase::Done);
    if (!r.messageText.isEmpty() && cb.message)
        cb.message(r.messageTitle, r.messageText);
    return r;
}

QString ScanEngine::Impl::statusLine(const ScanResult &r, bool early) const
{
    // The line holds about forty characters: with unreadable sectors their
    // count takes the place of the average.
    const double elapsed = std::max(1.0, std::floor(r.seconds));
    const QString seconds = wholeText(std::floor(r.seconds));
    const QString percent = QString::number(r.stoppedAtPercent);
    const QString bad = QString::number(unreadableLog.count());
    if (unreadableLog.count() > 0)
        return early ? FormatString(GetString(2111, QStringLiteral("Stopped at %0 %. Unreadable sectors: %1")),
                                    {percent, bad})
                     : FormatString(GetString(2110, QStringLiteral("Finished: %0 s. Unreadable sectors: %1")),
                                    {seconds, bad});
    if (early)
        return FormatString(GetString(2106, QStringLiteral("Scan stopped at %0 % after %1 seconds")),
                            {percent, seconds});
    if (cutFiles > 0)
        return FormatString(GetString(2113, QStringLiteral("Finished: %0 s. Cut short (!): %1")),
                            {seconds, QString::number(cutFiles)});
    return FormatString(GetString(1494, QStringLiteral("Finished: %0 seconds. Average: %1 MB/sec")),
                        {seconds, oneDecimal(double(r.unitsScanned) * U / kMB / elapsed)});
}

QString ScanEngine::Impl::unreadableReport() const
{
    QString t = FormatString(GetString(2100, QStringLiteral("Sectors that could not be read: %0. They were filled "
                                                            "with zeros.")),
                             {QString::number(unreadableLog.count())})
                + QStringLiteral("\n")
                + FormatString(GetString(2101, QStringLiteral("Unreadable sectors of the medium: %0")),
                               {unreadableLog.text()});
    if (damagedFiles > 0)
        t += QStringLiteral("\n")
             + FormatString(GetString(2102, QStringLiteral("Found files that hold unreadable sectors: %0. They are "
                                                           "marked with ! in the list and may be damaged.")),
                            {QString::number(damagedFiles)});
    return t;
}

void ScanEngine::Impl::composeEnd(ScanResult &r, int64_t current, bool stopped)
{
    const QString nl = QStringLiteral("\n");
    const QString resumeHint = GetString(2105, QStringLiteral("When the medium can be read again, press Scan to "
                                                              "resume where the scan stopped."));
    QStringList parts;
    r.messageTitle = GetString(592, QStringLiteral("Scan")) + QStringLiteral(" ") + src.name;
    if (outOfSpace) {
        r.end = ScanEnd::OutOfSpace;
        r.budgetMB = -1;
        r.messageTitle = GetString(589, QStringLiteral("Out of disk space"));
        parts << GetString(587, QStringLiteral("Ran out of free disk space while scanning. Execution aborted.")) + nl
                     + FormatString(GetString(588, QStringLiteral("Please resume scanning after freeing space on "
                                                                  "the target disk: %0")),
                                    {opt.cacheFolder.left(2)});
    } else if (mediumStop == MediumStop::Ended) {
        r.end = ScanEnd::MediumEnded;
        parts << FormatString(GetString(2103, QStringLiteral("Scan stopped at %0 %: the medium ended after %1 MB, "
                                                             "before its stated size of %2 MB.")),
                              {QString::number(percentAt(current)), wholeText(double(stopSector) * bps / kMB),
                               wholeText(double(statedEnd) * bps / kMB)})
                     + nl + resumeHint;
    } else if (mediumStop == MediumStop::Lost) {
        r.end = ScanEnd::MediumLost;
        parts << FormatString(GetString(2104, QStringLiteral("Scan stopped at %0 %: the medium stopped answering at "
                                                             "sector %1.")),
                              {QString::number(percentAt(current)), QString::number(stopSector)})
                     + nl + resumeHint;
    } else if (stopped) {
        r.end = ScanEnd::Stopped;
    } else if (found.counter() < 0) {
        const int64_t readUnits = r.unitsScanned - unreadable;
        const bool alike = readUnits > 0 && double(identical) >= 0.9 * double(g.unitCount - unreadable);
        if (smartScan) {
            // Only the free clusters were read: the evidence is about them.
            r.end = ScanEnd::NoFiles;
            parts << FormatString(GetString(2108, QStringLiteral("No lost files were found in the free space of "
                                                                 "disk %0.")),
                                  {src.name})
                         + nl
                         + GetString(2109, QStringLiteral("SmartScan searched only the free space; to search the "
                                                          "whole disk, answer No to SmartScan."));
        } else if (alike && unreadableLog.count() == 0) {
            r.end = ScanEnd::Wiped;
            parts << GetString(590, QStringLiteral("Not any data retrievable.")) + nl
                         + FormatString(GetString(1410, QStringLiteral("Disk %0 is wiped and entirely empty!")),
                                        {src.name});
        } else if (alike) {
            // What could be read is alike; what could not is unknown.
            r.end = ScanEnd::NoFiles;
            parts << GetString(590, QStringLiteral("Not any data retrievable."));
        } else {
            r.end = ScanEnd::NoFiles;
            parts << GetString(593, QStringLiteral("Data found but no recoverable files.")) + nl
                         + GetString(594, QStringLiteral("Adjust the file types and/or use DeepScan."));
        }
    } else {
        r.end = ScanEnd::Finished;
    }
    if (unreadableLog.count() > 0)
        parts << unreadableReport();
    if (!parts.isEmpty() && cutFiles > 0)
        parts << FormatString(GetString(2114, QStringLiteral("Found files cut short: %0. They are marked with ! in "
                                                             "the list.")),
                              {QString::number(cutFiles)});
    r.messageText = parts.join(QStringLiteral("\n\n"));
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

QString RawAccessHowTo()
{
    const QString crlf = QStringLiteral("\r\n");
    return GetString(1718, QStringLiteral("On this system, reading a medium sector by sector needs the right to read "
                                          "its device."))
           + crlf + crlf + GetString(1719, QStringLiteral("Run Quilvane as root (for example: sudo quilvane),")) + crlf
           + GetString(1720, QStringLiteral("or join the group 'disk' (sudo usermod -aG disk YOUR-NAME, then log in "
                                            "again),"))
           + crlf
           + GetString(1721, QStringLiteral("or give your user read permission on the card reader's device (for "
                                            "example with a udev rule)."));
}

QString DamagedFileDisplayLine(int64_t counter, const QString &description)
{
    return MarkedDisplayLine(FoundFileDisplayLine(counter, description));
}

QString MarkedDisplayLine(const QString &plain)
{
    // The counter word carries the mark; middle words give way as in the
    // plain line.
    QString line = plain;
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    line.insert(blank < 0 ? line.size() : blank, QLatin1Char('!'));
    if (line.size() <= 16)
        return line;
    QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    while (words.size() > 2 && words.join(QLatin1Char(' ')).size() > 16)
        words.removeAt(words.size() - 2);
    return words.join(QLatin1Char(' ')).left(16);
}

// --- unreadable sectors ---------------------------------------------------------

void UnreadableSectors::add(int64_t first, int64_t count)
{
    if (count <= 0)
        return;
    const int64_t last = first + count - 1;
    count_ += count;
    if (runs_ > 0) {
        auto &prev = runs_ <= kKept ? first_.back() : last_.back();
        if (first <= prev.second + 1) {
            prev.second = std::max(prev.second, last);
            return;
        }
    }
    ++runs_;
    if (runs_ <= kKept) {
        first_.push_back({first, last});
        return;
    }
    last_.push_back({first, last});
    if (int(last_.size()) > kKept)
        last_.erase(last_.begin());
}

std::vector<std::pair<int64_t, int64_t>> UnreadableSectors::firstRuns() const { return first_; }
std::vector<std::pair<int64_t, int64_t>> UnreadableSectors::lastRuns() const { return last_; }

QString UnreadableSectors::text() const
{
    const auto one = [](const std::pair<int64_t, int64_t> &r) {
        return r.first == r.second ? QString::number(r.first)
                                   : QString::number(r.first) + QLatin1Char('-') + QString::number(r.second);
    };
    QStringList head, tail;
    for (const auto &r : first_)
        head << one(r);
    for (const auto &r : last_)
        tail << one(r);
    const QString sep = QStringLiteral(", ");
    if (tail.isEmpty())
        return head.join(sep);
    // Runs left out between the first and the last ones are shown as "...".
    const bool gap = runs_ > int64_t(first_.size() + last_.size());
    return head.join(sep) + (gap ? QStringLiteral(" ... ") : sep) + tail.join(sep);
}
