// The Scan command's decisions without a window (see scanstart.h).
#include "scan/scanstart.h"

#include "drive/drivelist.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

bool startsWithCi(const QString &text, const QString &prefix)
{
    return !prefix.isEmpty() && text.startsWith(prefix, Qt::CaseInsensitive);
}

// The path lies on the drive named by the first letter of drive.
bool onDrive(const QString &path, const QString &drive)
{
    return path.size() >= 2 && drive.size() >= 1 && path[1] == QLatin1Char(':')
        && path[0].toUpper() == drive[0].toUpper();
}

QChar letterOf(const QString &path) { return path.isEmpty() ? QChar() : path[0].toUpper(); }

bool isDrivePath(const QString &path)
{
    return path.size() >= 2 && path[0].isLetter() && path[1] == QLatin1Char(':');
}

// Extensions a row answers to beside its own name: the files its signatures
// and walks find under other names.
struct RowExtension {
    const char *row;
    const char *extension;   // without the dot
};
constexpr RowExtension kRowExtensions[] = {
    {"MOV", "MP4"}, {"MOV", "M4V"}, {"MOV", "3GP"}, {"MOV", "3G2"},
};

// A row's type occurs among the extensions seen on the medium: its name
// anywhere in the list, or one of its other extensions as a whole.
bool RowSeenOnMedium(const QString &text, const QString &extensions)
{
    if (extensions.contains(text, Qt::CaseInsensitive))
        return true;
    const QStringList seen = extensions.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (const RowExtension &r : kRowExtensions)
        if (text.compare(QLatin1String(r.row), Qt::CaseInsensitive) == 0
            && seen.contains(QLatin1String(r.extension), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

DriveFacts SystemDriveFacts()
{
    DriveFacts f;
    f.fixedDrives = [] {
        QString list;
        ListDrivesOfType(list, plat::DriveTypeFixed);
        return list.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    f.freeMB = [](const QString &drive) {
        int32_t total = 0;
        return GetDiskSpaceMB(drive, total);
    };
    f.folderExists = [](const QString &folder) { return FolderExists(folder); };
    f.fileCount = [](const QString &folder) { return CountFolderFiles(folder); };
    f.driveType = [](QChar letter) { return plat::driveTypeCode(letter); };
    f.sameDisk = [](QChar a, QChar b) { return plat::sameDisk(a, b); };
    return f;
}

QString BestOtherDrive(const DriveFacts &facts, QChar systemDrive, const QString &cacheRoot, const QString &source)
{
    const bool driveSource = isDrivePath(source);
    QString best;
    int64_t most = 0;
    const QStringList drives = facts.fixedDrives ? facts.fixedDrives() : QStringList();
    for (const QString &d : drives) {
        if (!isDrivePath(d))
            continue;
        if (d[0].toUpper() == systemDrive.toUpper())
            continue;
        if (startsWithCi(cacheRoot, d.left(1)))
            continue;
        if (driveSource && (letterOf(d) == letterOf(source) || (facts.sameDisk && facts.sameDisk(letterOf(d), letterOf(source)))))
            continue;
        const int64_t free = facts.freeMB ? facts.freeMB(d) : 0;
        if (free > most) {
            most = free;
            best = d;
        }
    }
    return best;
}

bool SwapEmptyPreviousRoot(CacheRoots &roots, const DriveFacts &facts)
{
    if (!facts.fileCount)
        return false;
    if (facts.fileCount(roots.previous) == 0 && facts.fileCount(roots.older) > 0) {
        std::swap(roots.previous, roots.older);
        return true;
    }
    return false;
}

QString ProposeCacheFolder(const CacheRoots &roots, const ProposalFacts &p, const DriveFacts &facts)
{
    const QString sourceDrive = p.source.left(2);
    const bool driveSource = !p.sourceIsImage && isDrivePath(p.source);
    auto exists = [&](const QString &folder) {
        return folder.size() >= 3 && facts.folderExists && facts.folderExists(folder);
    };
    auto files = [&](const QString &folder) { return facts.fileCount ? facts.fileCount(folder) : 0; };
    // On the source: its drive, or (a drive source) its physical disk.
    auto onSource = [&](const QString &root) {
        if (root.size() < 2)
            return false;
        if (startsWithCi(root, sourceDrive))
            return true;
        return driveSource && isDrivePath(root) && facts.sameDisk && facts.sameDisk(letterOf(root), letterOf(p.source));
    };
    auto onSystem = [&](const QString &root) { return isDrivePath(root) && letterOf(root) == p.systemDrive.toUpper(); };
    const QString best = p.bestDrive;
    const QString noBest = best.isEmpty() ? p.fallback : best;

    QString proposal;
    const bool sourceIsSystem = isDrivePath(p.source) && letterOf(p.source) == p.systemDrive.toUpper();
    if (onSource(roots.cache) || sourceIsSystem) {
        auto elsewhere = [&](const QString &root) {
            return exists(root) && !root.contains(sourceDrive, Qt::CaseInsensitive) && !onSource(root);
        };
        if (!best.isEmpty() && onDrive(roots.cache, best))
            proposal = roots.cache;
        else if (elsewhere(roots.previous))
            proposal = roots.previous;
        else if (elsewhere(roots.older))
            proposal = roots.older;
        else if (!best.isEmpty() && onDrive(roots.previous, best))
            proposal = roots.previous;
        else if (!best.isEmpty() && onDrive(roots.older, best))
            proposal = roots.older;
        else
            proposal = noBest;
    } else if (p.sameMedium) {
        proposal = roots.cache;
    } else if (roots.previous.size() >= 3 && files(roots.previous) == 0) {
        proposal = roots.previous;
    } else if (files(roots.older) > 0 || roots.older.size() < 3) {
        proposal = roots.cache;
    } else {
        proposal = roots.older;
    }

    if (onSystem(proposal)) {
        auto usable = [&](const QString &root) {
            return root.size() >= 3 && !onSystem(root) && exists(root.left(3));
        };
        if (usable(roots.previous))
            proposal = roots.previous;
        else if (usable(roots.older))
            proposal = roots.older;
    }
    // Nothing is offered that the refusals would turn down at once.
    auto takesCache = [&](const QString &root) {
        if (!isDrivePath(root) || !facts.driveType)
            return true;
        const int type = facts.driveType(letterOf(root));
        return type == plat::DriveTypeFixed || type == plat::DriveTypeRemote || type == plat::DriveTypeUnknown;
    };
    auto refused = [&](const QString &root) { return onSource(root) || !takesCache(root); };
    if (refused(proposal) && !noBest.isEmpty() && !refused(noBest))
        proposal = noBest;
    if (proposal.isEmpty())
        proposal = roots.cache.isEmpty() ? p.fallback : roots.cache;
    return proposal;
}

CacheRefusal RefuseCacheRoot(const QString &cacheRoot, const QString &source, bool sourceIsImage, bool checkType,
                             const DriveFacts &facts)
{
    if (!source.isEmpty() && cacheRoot.contains(source, Qt::CaseInsensitive))
        return CacheRefusal::SourceDisk;
    if (!sourceIsImage && isDrivePath(source) && isDrivePath(cacheRoot)) {
        if (letterOf(cacheRoot) == letterOf(source))
            return CacheRefusal::SourceDisk;
        if (facts.sameDisk && facts.sameDisk(letterOf(cacheRoot), letterOf(source)))
            return CacheRefusal::SourceDisk;
    }
    if (checkType) {
        const int type = isDrivePath(cacheRoot) && facts.driveType ? facts.driveType(letterOf(cacheRoot))
                                                                   : plat::DriveTypeNoRoot;
        if (type != plat::DriveTypeFixed && type != plat::DriveTypeRemote && type != plat::DriveTypeUnknown)
            return CacheRefusal::DriveType;
    }
    return CacheRefusal::None;
}

int64_t HeldResumePosition(const QString &source, const QString &lastSource, const QString &cacheKey,
                           const QString &loadedKey, int64_t resumeUnit)
{
    if (resumeUnit <= 0 || source.isEmpty() || source != lastSource || cacheKey != loadedKey)
        return 0;
    return resumeUnit;
}

bool ResumeStillApplies(const QString &cacheKey, const QString &loadedKey, uint32_t lastSerial, uint32_t serial)
{
    return cacheKey == loadedKey && lastSerial == serial;
}

bool ResumeOnSameMedium(const DriveIdentity &scanned, uint32_t lastSerial, const DriveIdentity &now)
{
    if (now.serial != lastSerial)
        return false;
    if (scanned.letter.isNull())
        return true;   // begun in an earlier run: only its serial is known
    return scanned.fileSystem == now.fileSystem && scanned.totalSectors == now.totalSectors
        && scanned.bytesPerSector == now.bytesPerSector && now.mediumBytes >= scanned.mediumBytes;
}

QString ResumeRefusedText(const QString &source, uint32_t lastSerial, const DriveIdentity &now)
{
    const auto hex = [](uint32_t v) { return QString::number(v, 16).toUpper(); };
    const double mb = now.mediumBytes > 0 ? double(now.mediumBytes) / 1048576.0 : 0.0;
    return FormatString(GetString(2930, QStringLiteral("The interrupted scan of disk %0 cannot be resumed: the medium "
                                                       "in the drive is not the one it was reading.")),
                        {source.left(2).toUpper()})
        + QStringLiteral("\r\n\r\n")
        + FormatString(GetString(2931, QStringLiteral("Medium of the scan: serial %0. Medium now: serial %1, %2 MB, "
                                                      "%3.")),
                       {hex(lastSerial), hex(now.serial), QString::number(mb, 'f', 1),
                        now.fileSystem.isEmpty() ? QStringLiteral("-") : now.fileSystem});
}

bool ListsDirectoryEntries(int entryUpperBound, const std::vector<FatDirEntry> &rootEntries)
{
    if (entryUpperBound >= 1)
        return true;
    for (const FatDirEntry &e : rootEntries) {
        const uint8_t first = e.Name[0];
        if (first == 0x00 || first == 0xE5)
            continue;
        if ((e.Attributes & 0x0F) == 0x0F || (e.Attributes & 0x08))
            continue;
        return true;
    }
    return false;
}

// ---- MediaScan ----------------------------------------------------------------------

QString NameExtension(const QString &name)
{
    const QString base = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
    const int dot = int(base.lastIndexOf(QLatin1Char('.')));
    if (dot < 0)
        return {};
    const QString ext = base.mid(dot);
    if (ext.size() > 17)
        return {};
    return ext;
}

void AddEntryExtension(QString &list, const QString &entryName)
{
    const QString ext = NameExtension(entryName);
    if (ext.size() > 1 && !list.contains(ext, Qt::CaseInsensitive))
        list += ext;
}

void AddFoundFileExtension(QString &list, const QString &path)
{
    const QString ext = NameExtension(path);
    if (ext.size() > 1 && !list.contains(ext.mid(1), Qt::CaseSensitive))
        list += ext;
}

bool InWordList(const QString &list, const QString &word)
{
    if (word.isEmpty())
        return false;
    const QStringList words = list.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.contains(word, Qt::CaseInsensitive);
}

MediaScanLists MediaScanTypes(const TypeListRows &rows, const QString &extensions)
{
    MediaScanLists out;
    for (const TypeListRow &row : rows) {
        const QString text = QString::fromLatin1(row.Text).trimmed();
        if (text.isEmpty() || text.contains(QLatin1Char(' ')))
            continue;
        if (row.Checked) {
            if (!InWordList(out.ticked, text))
                out.ticked += text + QLatin1Char(' ');
            if (InWordList(out.candidates, text)) {
                QStringList words = out.candidates.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                words.removeIf([&](const QString &w) { return w.compare(text, Qt::CaseInsensitive) == 0; });
                out.candidates = words.isEmpty() ? QString() : words.join(QLatin1Char(' ')) + QLatin1Char(' ');
            }
        } else if (RowSeenOnMedium(text, extensions) && !InWordList(out.ticked, text)
                   && !InWordList(out.candidates, text)) {
            out.candidates += text + QLatin1Char(' ');
        }
    }
    return out;
}

int TickCandidateRows(TypeListRows &rows, const QString &candidates)
{
    int ticked = 0;
    for (TypeListRow &row : rows) {
        if (!row.Checked && InWordList(candidates, QString::fromLatin1(row.Text).trimmed())) {
            row.Checked = true;
            ++ticked;
        }
    }
    return ticked;
}

// ---- texts ------------------------------------------------------------------------------

QString ScanBoxTitle(const QString &programTitle)
{
    return programTitle + QStringLiteral("  ") + GetString(38, QStringLiteral("Scan"));
}

QString SourceDiskRefusalText()
{
    return GetString(273, QStringLiteral("Cannot use the same disk for saving.")) + kCrLf
        + GetString(274, QStringLiteral("Please select another drive."));
}

QString DriveTypeRefusalText(const QString &cacheRoot)
{
    return FormatString(GetString(1621, QStringLiteral("Cannot use disk %0 for saving.")), {cacheRoot.left(2)}) + kCrLf
        + GetString(274, QStringLiteral("Please select another drive."));
}

QString SmartScanQuestion()
{
    return QStringLiteral("SmartScan ") + GetString(1701, QStringLiteral("recommanded:")) + kCrLf + kCrLf
        + GetString(1702, QStringLiteral("Scan for missing files only, skipping listed existing files?"));
}

QString SmartScanTitle(const QString &programTitle, const QString &source)
{
    return programTitle + QStringLiteral(" Smart") + GetString(38, QStringLiteral("Scan")) + QLatin1Char(' ') + source;
}

QString CacheOnSourceText(const QString &source)
{
    return FormatString(GetString(1400, QStringLiteral("Drive %0 is also the cache drive!")), {source.toUpper()})
        + kCrLf + GetString(273, QStringLiteral("Cannot use the same disk for saving."));
}

QString SmartScanNoticeTitle(const QString &programTitle)
{
    return programTitle + QStringLiteral("  Smart") + GetString(38, QStringLiteral("Scan"));
}

QString MediaScanQuestion(const MediaScanLists &lists, const QString &source)
{
    return GetString(345, QStringLiteral("File types selected for recovering:")) + QLatin1Char(' ') + lists.ticked
        + kCrLf + kCrLf
        + FormatString(GetString(1488, QStringLiteral("Possibly also present on %0")), {source.toUpper()})
        + QLatin1Char(' ') + lists.candidates + kCrLf + kCrLf
        + GetString(347, QStringLiteral("Do you want to retrieve as well the types")) + QLatin1Char(' ')
        + lists.candidates + QLatin1Char('?');
}

QString MediaScanTitle(const QString &programTitle) { return programTitle + QStringLiteral("  MediaScan"); }

// ---- Searched.dat ----------------------------------------------------------------------

QByteArray SearchedFileBytes(const QString &source, uint32_t serial)
{
    QByteArray bytes = plat::toAnsi(source);
    for (int i = 0; i < 4; ++i)
        bytes.append(char((serial >> (8 * i)) & 0xFF));
    return bytes;
}

bool WriteSearchedFile(const QString &fileInternal, const QString &source, uint32_t serial)
{
    const QString native = plat::toNative(fileInternal);
    if (native.isEmpty())
        return false;
    const QString folder = QFileInfo(native).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    QSaveFile file(native);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = SearchedFileBytes(source, serial);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool ReadSearchedFile(const QString &fileInternal, int heldLength, QString &source, uint32_t &serial)
{
    constexpr qint64 kMaxSource = 32768;   // a drive text or a path; nothing longer is ours
    const QString native = plat::toNative(fileInternal);
    if (native.isEmpty())
        return false;
    QFile file(native);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const qint64 length = heldLength >= 0 ? qint64(heldLength) : size - 4;
    if (length < 0 || length > kMaxSource || size < length + 4)
        return false;
    const QByteArray bytes = file.read(length + 4);
    if (bytes.size() != length + 4)
        return false;
    source = plat::fromAnsi(bytes.left(length));
    serial = 0;
    for (int i = 0; i < 4; ++i)
        serial |= uint32_t(uint8_t(bytes[length + i])) << (8 * i);
    return true;
}
