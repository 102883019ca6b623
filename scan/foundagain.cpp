#include "scan/foundagain.h"

#include "scan/foundfiles.h"
#include "scan/structurewalk.h"

#include <QByteArray>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first bytes every file is known by, and the more that tell photos of
// one camera apart.
constexpr qint64 kShortHead = 64;
constexpr qint64 kLongHead = 4096;
constexpr size_t kChunk = size_t(1) << 16;
constexpr qint64 kSector = 512;

bool allZero(const char *p, size_t n)
{
    return n > 0 && p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0;
}

// A regular file opened for reading (never through a link), its size and,
// when asked, the rest of its status.
int openRegular(const QString &native, qint64 &size, struct stat *status = nullptr)
{
    const int fd = ::open(native.toLocal8Bit().constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = qint64(st.st_size);
    if (status)
        *status = st;
    return fd;
}

// Reads n bytes (fewer only at the file's end).
qint64 readFull(int fd, char *into, qint64 n)
{
    qint64 done = 0;
    while (done < n) {
        const ssize_t r = ::read(fd, into + done, size_t(n - done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += r;
    }
    return done;
}

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// A file whose structure walk shows it cut short inside the file. False for
// a type without a walk.
bool endsShortOfItsStructure(const QString &native)
{
    qint64 size = 0;
    Fd f{openRegular(native, size)};
    if (f.fd < 0)
        return false;
    const qsizetype dot = native.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot > native.lastIndexOf(QLatin1Char('/')) ? native.mid(dot) : QString();
    unsigned char head[16] = {};
    const qint64 headBytes = readFull(f.fd, reinterpret_cast<char *>(head), std::min<qint64>(size, sizeof head));
    const StructureFormat format = FoundFileFormat(ext, head, size_t(std::max<qint64>(0, headBytes)));
    if (format == StructureFormat::None)
        return false;
    std::vector<unsigned char> block;
    return WalkFoundFile(ReadBytesOfFile(f.fd), size, format, FoundFileEmptyLimits(ext, format), block).cutShort();
}

} // namespace

FoundAgain CompareFoundAgain(const QString &earlierNative, bool earlierCutShort, const QString &laterNative)
{
    qint64 earlierSize = 0, laterSize = 0;
    struct stat earlierStatus {}, laterStatus {};
    Fd earlier{openRegular(earlierNative, earlierSize, &earlierStatus)};
    Fd later{openRegular(laterNative, laterSize, &laterStatus)};
    if (earlier.fd < 0 || later.fd < 0 || earlierSize <= 0 || laterSize <= 0)
        return FoundAgain::Other;
    // One file under two names (a list naming a file twice) is no find of
    // itself: dropping the "later" one would lose the file.
    if (earlierStatus.st_dev == laterStatus.st_dev && earlierStatus.st_ino == laterStatus.st_ino)
        return FoundAgain::Other;
    // Sector by sector: a sector of zeros in one where the other holds data
    // is one that could not be read there (it was filled with zeros).
    const qint64 common = std::min(earlierSize, laterSize);
    std::vector<char> a(kChunk), b(kChunk);
    bool laterFills = false, laterLacks = false;
    for (qint64 at = 0; at < common;) {
        const qint64 n = std::min<qint64>(qint64(kChunk), common - at);
        if (readFull(earlier.fd, a.data(), n) != n || readFull(later.fd, b.data(), n) != n)
            return FoundAgain::Other;
        if (std::memcmp(a.data(), b.data(), size_t(n)) != 0) {
            for (qint64 k = 0; k < n; k += kSector) {
                const size_t m = size_t(std::min(kSector, n - k));
                if (std::memcmp(a.data() + k, b.data() + k, m) == 0)
                    continue;
                if (allZero(a.data() + k, m))
                    laterFills = true;
                else if (allZero(b.data() + k, m))
                    laterLacks = true;
                else
                    return FoundAgain::Other;
            }
        }
        at += n;
    }
    // A longer find holds more of an earlier file only when that one was cut
    // short; past the end of a whole one it ran on into what followed.
    const bool laterRunsOn = laterSize > earlierSize;
    if (laterRunsOn && (earlierCutShort || endsShortOfItsStructure(earlierNative)))
        laterFills = true;
    else if (earlierSize > laterSize)
        laterLacks = true;
    if (laterFills && laterLacks)
        return FoundAgain::Other;   // each holds what the other lacks: both stay
    return laterFills ? FoundAgain::Replace : FoundAgain::Drop;
}

bool FoundFileHeads::readHead(const QString &native, Head &head)
{
    Fd f{openRegular(native, head.size)};
    if (f.fd < 0 || head.size < kShortHead)
        return false;
    QByteArray bytes(int(std::min(head.size, kLongHead)), Qt::Uninitialized);
    if (readFull(f.fd, bytes.data(), bytes.size()) != bytes.size())
        return false;
    head.shortKey = qHash(QByteArrayView(bytes).first(kShortHead));
    head.longKey = head.size >= kLongHead ? qHash(QByteArrayView(bytes)) : 0;
    return true;
}

void FoundFileHeads::add(int64_t index, const QString &native)
{
    Head h;
    if (!readHead(native, h))
        return;
    short_.insert(h.shortKey, index);
    if (h.size >= kLongHead)
        long_.insert(h.longKey, index);
    sizes_.insert(index, h.size);
}

std::vector<int64_t> FoundFileHeads::candidates(const QString &native) const
{
    Head h;
    std::vector<int64_t> found;
    if (short_.isEmpty() || !readHead(native, h))
        return found;
    // A find of a few KB or more starts with a whole earlier file only when
    // that is short, or shares its first KB with a longer one.
    for (auto it = short_.constFind(h.shortKey); it != short_.cend() && it.key() == h.shortKey; ++it)
        if (h.size < kLongHead || sizes_.value(it.value()) < kLongHead)
            found.push_back(it.value());
    if (h.size >= kLongHead)
        for (auto it = long_.constFind(h.longKey); it != long_.cend() && it.key() == h.longKey; ++it)
            found.push_back(it.value());
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

bool FoundLineMarked(const QString &line)
{
    // The mark ends the line's first word: "007! JPEG File", "0003.jpg!".
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString first = blank < 0 ? line : line.left(blank);
    return first.size() > 1 && first.endsWith(QLatin1Char('!'));
}

std::vector<FoundAgainMatch> FindFoundAgain(const QString &folderNative, const QStringList &names,
                                            const std::vector<bool> &cutShort)
{
    std::vector<FoundAgainMatch> matches;
    FoundFileHeads heads;
    const QString folder = folderNative.endsWith(QLatin1Char('/')) ? folderNative : folderNative + QLatin1Char('/');
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].isEmpty() || names[i].contains(QLatin1Char('/')))
            continue;
        const QString later = folder + names[i];
        bool again = false;
        for (const int64_t k : heads.candidates(later)) {
            const bool shortened = size_t(k) < cutShort.size() && cutShort[size_t(k)];
            const FoundAgain verdict = CompareFoundAgain(folder + names[int(k)], shortened, later);
            if (verdict != FoundAgain::Other) {
                matches.push_back({i, int(k), verdict});
                again = true;
                break;
            }
        }
        if (!again)
            heads.add(i, later);
    }
    return matches;
}
