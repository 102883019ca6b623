#include "scan/foundfiles.h"

#include "scan/unitgeometry.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

QString RecoveredFileName(int64_t counter, const QString &extension)
{
    return QStringLiteral("R#") + QStringLiteral("%1").arg(counter, 4, 10, QLatin1Char('0')) + extension;
}

namespace {

bool droppedFromName(char16_t u)
{
    switch (u) {
    case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return true;
    default:
        return u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0);
    }
}

bool blankOrDot(QChar c) { return c == QLatin1Char('.') || c == QLatin1Char(' '); }

} // namespace

QString SanitizeMediumName(const QString &name)
{
    // Most names keep every character (and their UTF-8 form, at most three
    // bytes a unit, fits): the name itself, without a copy.
    if (!name.isEmpty() && name.size() * 3 <= 200 && !blankOrDot(name.front()) && !blankOrDot(name.back())
        && std::none_of(name.cbegin(), name.cend(), [](QChar c) { return droppedFromName(c.unicode()); }))
        return name;
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (droppedFromName(c.unicode()))
            continue;
        out += c;
    }
    qsizetype from = 0;
    while (from < out.size() && (out[from] == '.' || out[from] == ' '))
        ++from;
    qsizetype to = out.size();
    while (to > from && (out[to - 1] == '.' || out[to - 1] == ' '))
        --to;
    out = out.mid(from, to - from);
    // A name of 255 bytes is the most a Linux file system takes.
    while (out.toUtf8().size() > 200)
        out.remove(0, 1);
    return out;
}

QString FoundFileDisplayLine(int64_t counter, const QString &description)
{
    QString line = QStringLiteral("%1 ").arg(counter, 3, 10, QLatin1Char('0')) + description.trimmed();
    if (line.size() <= 16)
        return line;
    QStringList words = line.split(' ', Qt::SkipEmptyParts);
    while (words.size() > 2 && words.join(' ').size() > 16)
        words.removeAt(words.size() - 2);
    return words.join(' ').left(16);
}

int CreateFoundFile(const QString &folderNative, QString &name)
{
    const int dir = ::open(folderNative.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return -1;
    const QString clean = SanitizeMediumName(name);
    if (clean.isEmpty()) {
        ::close(dir);
        return -1;
    }
    const qsizetype dot = clean.lastIndexOf('.');
    const QString stem = dot > 0 ? clean.left(dot) : clean;
    const QString ext = dot > 0 ? clean.mid(dot) : QString();
    int fd = -1;
    for (int n = 0; n < 100000; ++n) {
        const QString candidate = n == 0 ? clean : stem + QStringLiteral("-%1").arg(n) + ext;
        fd = ::openat(dir, candidate.toLocal8Bit().constData(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            name = candidate;
            break;
        }
        if (errno != EEXIST)
            break;
    }
    ::close(dir);
    return fd;
}

namespace {
const QStringList &trueEndList()
{
    static const QStringList list = QStringLiteral(
        "CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,JPEG,THM,ICO,WMF,BMP,CUR,"
        "PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR").split(',');
    return list;
}
const QStringList &rawList()
{
    static const QStringList list = QStringLiteral(
        "CR2,CRW,NEF,PEF,ORF,RAF,X3F,ARW,SRF,SR2,DNG,MEF,DCR,RW2,MRW,KDC,RDC,RAW,3FR").split(',');
    return list;
}
QString bareExtension(const QString &extension)
{
    QString e = extension;
    const qsizetype dot = e.lastIndexOf('.');
    if (dot >= 0)
        e = e.mid(dot + 1);
    return e.toUpper();
}
} // namespace

bool IsTrueEndExtension(const QString &extension)
{
    const QString e = bareExtension(extension);
    return !e.isEmpty() && trueEndList().contains(e);
}

bool IsRawExtension(const QString &extension)
{
    const QString e = bareExtension(extension);
    return !e.isEmpty() && rawList().contains(e);
}

int64_t TrueEndLength(const unsigned char *unit, int64_t length, int64_t fileLength, int64_t unitBytes,
                      int32_t sectorBytes, bool raw, bool crw)
{
    if (length <= 0 || length > fileLength || sectorBytes <= 0 || unitBytes <= 0)
        return fileLength;
    int64_t pos = length;
    bool removed = false;
    if (fileLength % unitBytes == 0 && !crw) {
        // Whole sectors, only when every byte of the sector is zero.
        while (pos > 0) {
            const int64_t from = std::max<int64_t>(0, pos - sectorBytes);
            if (std::any_of(unit + from, unit + pos, [](unsigned char c) { return c != 0; }))
                break;
            pos = from;
            removed = true;
        }
    }
    while (pos > 0 && unit[pos - 1] == 0) {
        --pos;
        removed = true;
    }
    if (raw && removed)
        pos = std::min(length, pos + 1);
    return fileLength - length + pos;
}

StructureFormat FoundFileFormat(const QString &extension, const unsigned char *head, size_t n)
{
    const QString e = bareExtension(extension);
    const StructureFormat f = StructureFormatOfHeader(head, n, e == QLatin1String("BMP"), e == QLatin1String("PCX"),
                                                      e == QLatin1String("MP3"));
    if (PictureFormatOf(f) != PictureFormat::None && (e.isEmpty() || !trueEndList().contains(e)))
        return StructureFormat::None;
    return f;
}

EmptyRunLimits FoundFileEmptyLimits(const QString &extension, StructureFormat format)
{
    static const QStringList roomy = QStringLiteral(
        "WAV,AVI,CDR,MDB,PSD,EXE,PSP,BMP,PCX,TIF,TIFF,DOC,XLS,PPT,ZIP,EPS,PIXAR,PIX,WK4").split(',');
    constexpr int64_t MiB = 1 << 20;
    const QString e = bareExtension(extension);
    EmptyRunLimits limits;
    if (e == QLatin1String("XMD"))
        limits.fallback = kWalkSectorBytes;   // text holds no empty sector
    else if (roomy.contains(e) || IsRawExtension(e))
        limits.fallback = 16 * MiB;
    else
        limits.fallback = MiB;
    if (format == StructureFormat::Pdf)
        limits.walking = MiB;
    else if (format == StructureFormat::Zip || format == StructureFormat::Ole || format == StructureFormat::Iso
             || format == StructureFormat::Rar)
        limits.walking = 16 * MiB;
    return limits;
}

ReadBytesAt ReadBytesOfFile(int fd)
{
    return [fd](int64_t offset, unsigned char *into, size_t n) -> size_t {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd, into + got, n - got, off_t(offset + int64_t(got)));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            got += size_t(r);
        }
        return got;
    };
}

PictureExtent WalkTiffFile(const QString &nativePath)
{
    const int fd = ::open(nativePath.toLocal8Bit().constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    PictureExtent e;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        e = WalkTiff(ReadBytesOfFile(fd), st.st_size);
    ::close(fd);
    return e;
}

bool PictureFileEndsEarly(const QString &nativePath)
{
    const int fd = ::open(nativePath.toLocal8Bit().constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool early = false;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const ReadBytesAt read = ReadBytesOfFile(fd);
        std::vector<unsigned char> buffer(size_t(1) << 20);
        const size_t head = read(0, buffer.data(), 64);
        const QString name = QFileInfo(nativePath).fileName();
        const PictureFormat format =
            PictureFormatOfHeader(buffer.data(), head, name.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive),
                                  name.endsWith(QLatin1String(".pcx"), Qt::CaseInsensitive));
        if (format == PictureFormat::Tiff) {
            early = WalkTiff(read, st.st_size).walk == PictureExtent::Walk::Incomplete;
        } else if (format != PictureFormat::None) {
            PictureWalker walker(format);
            int64_t at = 0;
            while (walker.wantsMore() && at < st.st_size) {
                const size_t got = read(at, buffer.data(), buffer.size());
                if (got == 0)
                    break;
                walker.feed(buffer.data(), got);
                at += int64_t(got);
            }
            early = walker.wantsMore();
        }
    }
    ::close(fd);
    return early;
}

unsigned char *TrueEndCutter::space(size_t n)
{
    if (buffer_.size() < n)
        buffer_.resize(n);
    return buffer_.data();
}

int64_t TrueEndCutter::cut(const QString &nativePath, int64_t unitBytes, int32_t sectorBytes, const FileEnd *known,
                           int64_t knownLength, FileEnd *outcome)
{
    const QByteArray path = nativePath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || unitBytes <= 0) {
        ::close(fd);
        return -1;
    }
    const QString ext = bareExtension(nativePath);
    const bool raw = IsRawExtension(ext), crw = ext == QLatin1String("CRW");
    int64_t length = st.st_size;
    const int64_t original = length;

    // How the file ends: its structure, the empty space after its data.
    unsigned char head[16] = {};
    const ssize_t headBytes = length > 0 ? ::pread(fd, head, sizeof head, 0) : 0;
    FileEnd end;
    if (known && knownLength == length) {
        end = *known;
    } else {
        const StructureFormat format = FoundFileFormat(ext, head, size_t(std::max<ssize_t>(0, headBytes)));
        end = WalkFoundFile(ReadBytesOfFile(fd), length, format, FoundFileEmptyLimits(ext, format), buffer_);
    }
    if (outcome)
        *outcome = end;
    const PictureExtent &extent = end.extent;
    if (extent.walk == PictureExtent::Walk::Complete && extent.end > 0 && extent.end <= length) {
        if (extent.end < length && ::ftruncate(fd, off_t(extent.end)) == 0)
            length = extent.end;
        ::close(fd);
        return length;
    }
    // A file cut where its data ran into empty space gets the zero rule on
    // its last sector, however short it is.
    bool emptyCut = false;
    if (end.emptyFrom >= 0 && end.emptyFrom < length) {
        length = end.emptyFrom;
        emptyCut = true;
    }

    // The zero rule, never below what the structure holds.
    int64_t floor = extent.walk == PictureExtent::Walk::Incomplete ? std::min(extent.end, length) : 0;
    if (ext == QLatin1String("BMP") && headBytes >= 6 && head[0] == 'B' && head[1] == 'M') {
        // A BMP states its size in its header; its last rows may be black.
        const int64_t stated = int64_t(head[2]) | (int64_t(head[3]) << 8) | (int64_t(head[4]) << 16)
                               | (int64_t(head[5]) << 24);
        if (stated <= original)
            floor = std::min(length, std::max(floor, stated));
    }
    // The file's tail is read in blocks of many units, so a file that ends
    // in a long zero stretch is cut in few reads; the cut is made once.
    const int64_t blockBytes = std::max<int64_t>(1, (1048576 / unitBytes)) * unitBytes;
    unsigned char *block = nullptr;
    int64_t blockStart = 0, blockEnd = 0;
    while (IsTrueEndExtension(ext) && (length >= unitBytes || emptyCut) && length > floor) {
        emptyCut = false;
        const int64_t n = std::min<int64_t>(unitBytes, length);
        if (!block || length - n < blockStart || length > blockEnd) {
            blockEnd = length;
            blockStart = std::max<int64_t>(0, length - blockBytes);
            block = space(size_t(blockEnd - blockStart));
            if (::pread(fd, block, size_t(blockEnd - blockStart), off_t(blockStart)) != ssize_t(blockEnd - blockStart)) {
                ::close(fd);
                return -1;
            }
        }
        const unsigned char *unit = block + (length - n - blockStart);
        const int64_t keep = std::max(floor, TrueEndLength(unit, n, length, unitBytes, sectorBytes, raw, crw));
        if (keep >= length)
            break;
        const bool keptSome = keep > length - n;
        length = keep;
        if (keptSome || length < unitBytes)
            break;
    }
    if (length < original && ::ftruncate(fd, off_t(length)) != 0)
        length = original;
    ::close(fd);
    return length;
}

int64_t CutToTrueEnd(const QString &nativePath, int64_t unitBytes, int32_t sectorBytes)
{
    TrueEndCutter cutter;
    return cutter.cut(nativePath, unitBytes, sectorBytes);
}

std::vector<FinishedFile> FinishInterruptedScan(const QString &folderNative, int64_t unitBytes, int32_t sectorBytes)
{
    std::vector<FinishedFile> files;
    QDir dir(folderNative);
    QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    // The file written last: a kept file's date only ever moves back.
    qint64 newest = std::numeric_limits<qint64>::min();
    QString open;
    QFileInfoList found;
    for (const QFileInfo &fi : entries) {
        if (fi.isSymLink() || fi.fileName().startsWith(QLatin1Char('.')))
            continue;
        found << fi;
        const qint64 at = fi.lastModified().toMSecsSinceEpoch();
        if (at > newest) {
            newest = at;
            open = fi.fileName();
        }
    }
    std::sort(found.begin(), found.end(), [](const QFileInfo &a, const QFileInfo &b) {
        return a.fileName().compare(b.fileName(), Qt::CaseInsensitive) < 0;
    });
    TrueEndCutter cutter;
    for (const QFileInfo &fi : found) {
        FinishedFile f;
        f.name = fi.fileName();
        FileEnd end;
        f.length = cutter.cut(fi.absoluteFilePath(), unitBytes, sectorBytes, nullptr, -1, &end);
        if (f.length < 0)
            f.length = fi.size();
        const bool whole = end.extent.walk == PictureExtent::Walk::Complete;
        // The open file: cut by the kill, unless its structure or the empty
        // space after its data shows where it ends.
        f.cutShort = end.cutShort() || (f.name == open && !whole && end.emptyFrom < 0);
        files.push_back(f);
    }
    return files;
}

bool DateFoundFile(const QString &nativePath, const QDateTime &date)
{
    if (!date.isValid())
        return false;
    struct stat st {};
    const QByteArray path = nativePath.toLocal8Bit();
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const qint64 secs = date.toSecsSinceEpoch();
    if (secs >= st.st_mtim.tv_sec)
        return true;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(secs);
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool EntryNameFitsExtension(const QString &name, const QString &rowExtension)
{
    const qsizetype dot = name.indexOf('.');
    if (dot < 0 || rowExtension.isEmpty())
        return false;
    const QString ext = name.mid(dot).toLower();
    const QString row = rowExtension.toLower();
    if (ext.contains(row))
        return true;
    static const QStringList family{QStringLiteral(".jpg"), QStringLiteral(".jpe"), QStringLiteral(".thm")};
    return family.contains(ext) && family.contains(row);
}

void DeletedEntryCursor::reset(const std::vector<ScanDeletedEntry> *entries, const UnitGeometry *geometry,
                               const QStringList &extensions, const QString &cacheNative)
{
    entries_ = entries;
    geometry_ = geometry;
    extensions_ = extensions;
    cache_ = cacheNative;
    position_ = 0;
    nextUnit = INT64_MAX;
    offeredName.clear();
    offeredSize = 0;
    offeredCreated = QDateTime();
    offeredExisting = false;
}

void DeletedEntryCursor::NameFromDeletedEntry(int64_t currentUnit)
{
    offeredName.clear();
    offeredSize = 0;
    offeredCreated = QDateTime();
    offeredExisting = false;
    if (!geometry_) {
        nextUnit = INT64_MAX;
        return;
    }
    const int64_t limit = geometry_->endUnit() + 1024;
    nextUnit = limit;
    if (!entries_)
        return;
    for (; position_ < entries_->size(); ++position_) {
        const ScanDeletedEntry &e = (*entries_)[position_];
        const int64_t unit = geometry_->unitOfCluster(e.FirstCluster);
        if (unit < 0 || unit <= currentUnit || unit > limit)
            continue;
        if (e.Size == 0 || e.Recoverable == 0 || !e.Name.contains('.') || (e.Attributes & 0x18))
            continue;
        const QString ext = e.Name.mid(e.Name.indexOf('.')).toLower().trimmed();
        QString name = e.Name;
        if (extensions_.contains(ext)) {
            name = e.LongName.trimmed();
            if (name.size() > 12)
                name = name.right(12);
            if (name.size() < 5 || QFileInfo::exists(cache_ + '/' + SanitizeMediumName(name)))
                name = e.Name;
        }
        offeredExisting = !e.Name.contains('?');
        name.remove('?');
        offeredName = SanitizeMediumName(name);
        offeredSize = e.Size;
        offeredCreated = e.Created;
        nextUnit = unit;
        ++position_;
        return;
    }
}

void DeletedEntryCursor::seek(int64_t currentUnit)
{
    position_ = 0;
    NameFromDeletedEntry(currentUnit - 1);
}
