#include "drive/files.h"

#include "platform/drives.h"
#include "platform/os.h"
#include "platform/partfile.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kErrNotFound = 2;
constexpr int kErrAccess = 5;
constexpr int kErrInvalid = 87;
constexpr int kErrCancelled = 1223;

QByteArray enc(const QString &native) { return QFile::encodeName(native); }

struct Entry {
    QString name;
    bool dir = false;      // a real folder, not a link to one
    bool file = false;     // a regular file, or a link to one
    bool link = false;
    dev_t dev = 0;
    ino_t ino = 0;
};

bool lstatOf(const QString &native, struct stat &st) { return ::lstat(enc(native).constData(), &st) == 0; }
bool statOf(const QString &native, struct stat &st) { return ::stat(enc(native).constData(), &st) == 0; }

bool isDirNative(const QString &native)
{
    struct stat st;
    return !native.isEmpty() && statOf(native, st) && S_ISDIR(st.st_mode);
}

// The entries of a folder in case-insensitive order; nullopt when it cannot
// be listed.
std::optional<std::vector<Entry>> listDir(const QString &native)
{
    DIR *d = ::opendir(enc(native).constData());
    if (!d)
        return std::nullopt;
    std::vector<Entry> out;
    while (dirent *e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        Entry en;
        en.name = name;
        struct stat st;
        const QString full = native + QLatin1Char('/') + name;
        if (!lstatOf(full, st))
            continue;
        en.dev = st.st_dev;
        en.ino = st.st_ino;
        if (S_ISLNK(st.st_mode)) {
            en.link = true;
            struct stat target;
            en.file = statOf(full, target) && S_ISREG(target.st_mode);
        } else {
            en.dir = S_ISDIR(st.st_mode);
            en.file = S_ISREG(st.st_mode);
        }
        out.push_back(en);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), [](const Entry &a, const Entry &b) {
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return out;
}

bool hasWildcard(const QString &name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// "X:\a\b" -> "X:\a\", "b"; a name-less path gives an empty name.
void splitLast(const QString &path, QString &folder, QString &name)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    folder = slash < 0 ? QString() : path.left(slash + 1);
    name = slash < 0 ? path : path.mid(slash + 1);
}

QString withoutTrailingSlash(QString internal)
{
    while (internal.endsWith(QLatin1Char('\\')))
        internal.chop(1);
    return internal;
}

QString internalOfFolder(const QString &native) { return withoutTrailingSlash(plat::toInternal(native)); }

QChar driveLetterOf(const QString &internal)
{
    if (internal.size() >= 2 && internal[1] == QLatin1Char(':') && internal[0].isLetter())
        return internal[0].toUpper();
    return QChar();
}

// --- listing ---------------------------------------------------------------

struct Walk {
    QStringList &list;
    dev_t dev;
    QSet<QPair<quint64, quint64>> seen;
    // When set, each file path is handed to it instead of the list; false
    // ends the walk at once.
    std::function<bool(const QString &)> visit = {};
    bool stopped = false;
};

void appendPath(QStringList &list, const QString &path)
{
    if (list.isEmpty())
        list << QString();
    list.last() = path;
    list << QString();
}

void walkFiles(Walk &w, const QString &native, const QString &internal, bool filesToo);

void walkSubfolders(Walk &w, const QString &native, const QString &internal)
{
    auto entries = listDir(native);
    if (!entries)
        return;
    for (const Entry &e : *entries) {
        if (w.stopped)
            return;
        if (!e.dir || e.dev != w.dev)
            continue;
        const QPair<quint64, quint64> id(quint64(e.dev), quint64(e.ino));
        if (w.seen.contains(id))
            continue;
        w.seen.insert(id);
        walkFiles(w, native + QLatin1Char('/') + e.name, internal + QLatin1Char('\\') + e.name, true);
        if (plat::inputPending())
            plat::pumpEvents();
    }
}

void walkFiles(Walk &w, const QString &native, const QString &internal, bool filesToo)
{
    if (filesToo) {
        auto entries = listDir(native);
        if (!entries)
            return;
        for (const Entry &e : *entries) {
            if (!e.file)
                continue;
            const QString path = internal + QLatin1Char('\\') + e.name;
            if (!w.visit) {
                appendPath(w.list, path);
            } else if (!w.visit(path)) {
                w.stopped = true;
                return;
            }
        }
    }
    walkSubfolders(w, native, internal);
}

bool startWalk(const QString &folder, QString &native, QString &internal, dev_t &dev, ino_t &ino)
{
    native = plat::toNative(folder);
    struct stat st;
    if (native.isEmpty() || !statOf(native, st) || !S_ISDIR(st.st_mode))
        return false;
    internal = internalOfFolder(native);
    dev = st.st_dev;
    ino = st.st_ino;
    return true;
}

// --- dates -----------------------------------------------------------------

constexpr qint64 kFileTimeUnixOffset = 116444736000000000LL;   // 1601 to 1970 in 100 ns

std::optional<QDateTime> parseDateText(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    static const char *const formats[] = {
        "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd H:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd",
        "yyyy-MM-ddTHH:mm:ss", "yyyy/MM/dd HH:mm:ss", "yyyy/MM/dd",
    };
    for (const char *f : formats) {
        QDateTime d = QDateTime::fromString(t, QLatin1String(f));
        if (d.isValid())
            return d;
    }
    const QLocale loc = QLocale::system();
    for (QLocale::FormatType ft : {QLocale::ShortFormat, QLocale::LongFormat}) {
        QDateTime d = loc.toDateTime(t, ft);
        if (d.isValid())
            return d;
        QDate day = loc.toDate(t, ft);
        if (day.isValid())
            return QDateTime(day, QTime(0, 0));
    }
    return std::nullopt;
}

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// --- the shell's operations --------------------------------------------------

FileOperationUi &ui()
{
    static FileOperationUi u;
    return u;
}

TrashFallback &fallbackSetting()
{
    static TrashFallback f = TrashFallback::Delete;
    return f;
}

struct Source {
    QString internal;
    QString native;
};

// Expands the NUL-separated list; a wildcard name lists the matching entries
// of its folder. nullopt when a named source does not exist.
std::optional<std::vector<Source>> expandSources(const QString &sources, bool filesOnly, bool *several)
{
    std::vector<Source> out;
    int named = 0;
    bool wildcard = false;
    for (const QString &raw : sources.split(QChar(0), Qt::SkipEmptyParts)) {
        const QString s = raw.trimmed();
        if (s.isEmpty())
            continue;
        ++named;
        QString folder, name;
        splitLast(s, folder, name);
        if (hasWildcard(name)) {
            wildcard = true;
            const QString nativeFolder = plat::toNative(folder);
            auto entries = nativeFolder.isEmpty() ? std::nullopt : listDir(nativeFolder);
            if (!entries)
                continue;
            const QString base = internalOfFolder(nativeFolder);
            for (const Entry &e : *entries) {
                if (!(e.file || e.dir || e.link) || (filesOnly && !e.file))
                    continue;
                if (plat::wildcardMatch(name, e.name))
                    out.push_back({base + QLatin1Char('\\') + e.name, nativeFolder + QLatin1Char('/') + e.name});
            }
        } else {
            const QString native = plat::toNative(withoutTrailingSlash(s));
            struct stat st;
            if (native.isEmpty() || !lstatOf(native, st))
                return std::nullopt;
            out.push_back({plat::toInternal(native), native});
        }
    }
    if (several)
        *several = wildcard || named > 1;
    return out;
}

bool removeTree(const QString &native, dev_t dev)
{
    struct stat st;
    if (!lstatOf(native, st))
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(enc(native).constData()) == 0;
    if (st.st_dev != dev)
        return false;   // another file system mounted inside: never deleted through
    auto entries = listDir(native);
    if (!entries)
        return false;
    bool ok = true;
    for (const Entry &e : *entries) {
        ok = removeTree(native + QLatin1Char('/') + e.name, dev) && ok;
        plat::pumpEvents();
    }
    return ok && ::rmdir(enc(native).constData()) == 0;
}

bool removePermanently(const QString &native)
{
    struct stat st;
    if (!lstatOf(native, st))
        return false;
    return removeTree(native, st.st_dev);
}

// The nearest existing folder of a path (for the device it will lie on).
QString nearestExisting(QString native)
{
    while (!native.isEmpty() && !isDirNative(native)) {
        const qsizetype slash = native.lastIndexOf(QLatin1Char('/'));
        native = slash <= 0 ? QStringLiteral("/") : native.left(slash);
    }
    return native;
}

// Whether the desktop trash may take the file: it lies on the file system of
// the home folder and of the trash folder there, and on no removable drive.
bool trashAllowed(const Source &s)
{
    const QChar given = driveLetterOf(s.internal);
    const QChar canonical = driveLetterOf(plat::toInternal(s.native));
    for (QChar l : {given, canonical})
        if (!l.isNull() && plat::driveTypeCode(l) == plat::DriveTypeRemovable)
            return false;
    struct stat file, home, trash;
    const QString trashDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Trash");
    if (!lstatOf(s.native, file) || !statOf(QDir::homePath(), home) || !statOf(nearestExisting(trashDir), trash))
        return false;
    if (file.st_dev != home.st_dev || file.st_dev != trash.st_dev)
        return false;
    // The trash's folders must be there (made when missing): without them
    // QFile::moveToTrash puts the file into "files" of the working folder.
    struct stat files, info;
    return QDir().mkpath(trashDir + QStringLiteral("/files")) && QDir().mkpath(trashDir + QStringLiteral("/info"))
        && lstatOf(trashDir + QStringLiteral("/files"), files) && S_ISDIR(files.st_mode)
        && lstatOf(trashDir + QStringLiteral("/info"), info) && S_ISDIR(info.st_mode);
}

int deleteSources(const std::vector<Source> &items, int flags)
{
    const bool toTrash = flags & FOF_ALLOWUNDO;
    if (!(flags & FOF_NOCONFIRMATION) && ui().confirmDelete) {
        QStringList names;
        for (const Source &s : items)
            names << s.internal;
        if (!ui().confirmDelete(names, toTrash))
            return kErrCancelled;
    }
    int rc = 0;
    for (const Source &s : items) {
        bool done = false;
        if (toTrash) {
            if (trashAllowed(s)) {
                QString inTrash;
                done = QFile::moveToTrash(s.native, &inTrash);
                if (done && !QFileInfo(inTrash).isAbsolute()) {
                    // Not the trash it was meant for: the file goes back.
                    QFile::rename(inTrash, s.native);
                    done = false;
                }
                if (!done && fallbackSetting() == TrashFallback::Fail) {
                    rc = kErrAccess;
                    continue;
                }
            } else if (fallbackSetting() == TrashFallback::Fail) {
                rc = kErrAccess;
                continue;
            }
        }
        if (!done)
            done = removePermanently(s.native);
        if (!done)
            rc = kErrAccess;
    }
    return rc;
}

// The file's bytes, mode and times into an open descriptor.
bool copyFileContents(const QString &from, int out)
{
    const int in = ::open(enc(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st;
    if (::fstat(in, &st) != 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    // Inside the kernel where it can copy between the two, in pieces
    // between which the window works; else through a buffer.
    off_t copied = 0;
    bool viaBuffer = false;
    bool acrossFileSystems = false;   // sendfile then, which copies between any two files
    for (;;) {
        const ssize_t n = acrossFileSystems ? ::sendfile(out, in, nullptr, size_t(64) << 20)
                                            : ::copy_file_range(in, nullptr, out, nullptr, size_t(64) << 20, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            copied += n;
            plat::pumpEvents();
            continue;
        }
        if (n < 0 && copied == 0 && !acrossFileSystems && errno == EXDEV) {
            acrossFileSystems = true;
            continue;
        }
        if (n < 0 && copied == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            viaBuffer = true;
        else
            ok = n == 0;
        break;
    }
    std::vector<char> buf(viaBuffer ? 128 << 10 : 0);   // as large as a cache keeps close
    while (viaBuffer) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
        plat::pumpEvents();
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok) {
        ::fchmod(out, st.st_mode & 07777);
        ::futimens(out, times);
    }
    ::close(in);
    return ok;
}

// A file copied under its temporary name beside the target and renamed to
// it when complete: an existing target is replaced only by a whole copy.
bool copyFile(const QString &from, const QString &to)
{
    const QFileInfo target(to);
    plat::PartFile part;
    return part.open(target.absolutePath(), target.fileName()) && copyFileContents(from, part.fd())
           && part.commit(target.fileName(), plat::PartFile::Existing::Replace);
}

struct Transfer {
    bool move = false;
    int flags = 0;
    int done = 0;
    int total = 0;
    bool cancelled = false;

    bool asks() const { return !(flags & FOF_NOCONFIRMATION); }
    bool shows() const { return (flags & FOF_SIMPLEPROGRESS) && !(flags & FOF_SILENT); }
};

bool sameEntry(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return lstatOf(a, sa) && lstatOf(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool insideOf(const QString &inner, const QString &outer)
{
    const QString a = QDir::cleanPath(inner), b = QDir::cleanPath(outer);
    return a == b || a.startsWith(b.endsWith(QLatin1Char('/')) ? b : b + QLatin1Char('/'));
}

bool transferOne(Transfer &t, const QString &from, const QString &to);

bool transferDir(Transfer &t, const QString &from, const QString &to)
{
    if (insideOf(to, from))
        return false;   // a folder into itself
    if (t.move && !isDirNative(to) && ::rename(enc(from).constData(), enc(to).constData()) == 0)
        return true;
    if (!isDirNative(to)) {
        struct stat st;
        if (lstatOf(to, st))
            return false;   // a file stands where the folder goes
        if (!lstatOf(from, st) || ::mkdir(enc(to).constData(), st.st_mode & 07777) != 0)
            return false;
    }
    auto entries = listDir(from);
    if (!entries)
        return false;
    bool ok = true;
    for (const Entry &e : *entries) {
        if (t.cancelled)
            return false;
        ok = transferOne(t, from + QLatin1Char('/') + e.name, to + QLatin1Char('/') + e.name) && ok;
    }
    if (ok && t.move)
        ok = ::rmdir(enc(from).constData()) == 0;
    return ok;
}

bool transferOne(Transfer &t, const QString &from, const QString &to)
{
    struct stat st;
    if (!lstatOf(from, st))
        return false;
    if (S_ISDIR(st.st_mode))
        return transferDir(t, from, to);
    struct stat existing;
    if (lstatOf(to, existing)) {
        if (sameEntry(from, to) || S_ISDIR(existing.st_mode))
            return false;
        if (t.asks() && ui().confirmReplace && !ui().confirmReplace(plat::toInternal(to)))
            return true;   // the user kept the old file: passed over, not a failure
    }
    if (S_ISLNK(st.st_mode)) {
        if (t.move && ::rename(enc(from).constData(), enc(to).constData()) == 0)
            return true;
        QByteArray target(4096, 0);
        const ssize_t n = ::readlink(enc(from).constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return false;
        target.truncate(n);
        ::unlink(enc(to).constData());
        if (::symlink(target.constData(), enc(to).constData()) != 0)
            return false;
        return !t.move || ::unlink(enc(from).constData()) == 0;
    }
    if (t.move) {
        if (::rename(enc(from).constData(), enc(to).constData()) == 0)
            return true;
        if (errno != EXDEV)
            return false;
        // Another file system: the source goes only when the copy is whole.
        return copyFile(from, to) && ::unlink(enc(from).constData()) == 0;
    }
    return copyFile(from, to);
}

int transferSources(bool move, const QString &sources, const QString &target, int flags)
{
    bool several = false;
    auto items = expandSources(sources, flags & FOF_FILESONLY, &several);
    if (!items)
        return kErrNotFound;
    if (items->empty())
        return kErrNotFound;
    QString targetNative = plat::toNative(withoutTrailingSlash(target));
    if (targetNative.isEmpty())
        return kErrInvalid;
    const bool intoFolder = isDirNative(targetNative) || target.endsWith(QLatin1Char('\\')) || several;
    if (intoFolder) {
        if (!isDirNative(targetNative) && !QDir().mkpath(targetNative))
            return kErrAccess;
    } else {
        const QString parent = QFileInfo(targetNative).absolutePath();
        if (!isDirNative(parent) && !QDir().mkpath(parent))
            return kErrAccess;
    }
    Transfer t;
    t.move = move;
    t.flags = flags;
    t.total = int(items->size());
    int rc = 0;
    for (const Source &s : *items) {
        if (t.shows() && ui().progress && !ui().progress(t.done, t.total, s.internal)) {
            t.cancelled = true;
            return kErrCancelled;
        }
        const QString to = intoFolder ? targetNative + QLatin1Char('/') + QFileInfo(s.native).fileName() : targetNative;
        if (!transferOne(t, s.native, to))
            rc = t.cancelled ? kErrCancelled : kErrAccess;
        ++t.done;
        plat::pumpEvents();
    }
    if (t.shows() && ui().progress)
        ui().progress(t.done, t.total, QString());
    return rc;
}

// Folders never deleted whole whatever the caller: the root, the top-level
// folders of the system, the home folder, drive roots and mount points.
bool protectedFolder(const QString &native)
{
    const QString clean = QDir::cleanPath(native);
    if (clean == QLatin1String("/") || clean.count(QLatin1Char('/')) <= 1)
        return true;
    if (clean == QDir::cleanPath(QDir::homePath()))
        return true;
    for (QChar l : plat::logicalDrives()) {
        const QString root = plat::driveRootNative(l);
        if (!root.isEmpty() && QDir::cleanPath(root) == clean)
            return true;
    }
    struct stat self, parent;
    if (lstatOf(clean, self) && S_ISDIR(self.st_mode) && statOf(clean + QStringLiteral("/.."), parent)
        && self.st_dev != parent.st_dev)
        return true;
    return false;
}

} // namespace

// --- listing and tests -------------------------------------------------------

bool FolderExists(const QString &path)
{
    if (path.trimmed().isEmpty())
        return false;
    const QString native = plat::toNative(withoutTrailingSlash(path));
    if (!isDirNative(native))
        return false;
    DIR *d = ::opendir(enc(native).constData());
    if (!d)
        return false;
    ::closedir(d);
    return true;
}

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    QString folder, name;
    splitLast(path, folder, name);
    if (name.isEmpty())
        name = QStringLiteral("*");
    if (!hasWildcard(name)) {
        const QString native = plat::toNative(path);
        struct stat st;
        return !native.isEmpty() && statOf(native, st) && S_ISREG(st.st_mode);
    }
    const QString nativeFolder = plat::toNative(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (nativeFolder.isEmpty())
        return false;
    auto entries = listDir(nativeFolder);
    if (!entries)
        return false;
    for (const Entry &e : *entries)
        if (e.file && !e.name.startsWith(QLatin1Char('.')) && plat::wildcardMatch(name, e.name))
            return true;
    return false;
}

int CountFolderFiles(const QString &folder)
{
    if (!FolderExists(folder))
        return 0;
    auto entries = listDir(plat::toNative(withoutTrailingSlash(folder)));
    if (!entries)
        return 0;
    return int(std::count_if(entries->begin(), entries->end(), [](const Entry &e) { return e.file; }));
}

void ListFolderFiles(const QString &folder, QStringList &list)
{
    if (list.isEmpty())
        list << QString();
    QString native, internal;
    dev_t dev;
    ino_t ino;
    if (!startWalk(folder, native, internal, dev, ino))
        return;
    Walk w{list, dev, {}};
    w.seen.insert({quint64(dev), quint64(ino)});
    walkFiles(w, native, internal, true);
}

void ListSubfolderFiles(const QString &folder, QStringList &list)
{
    if (list.isEmpty())
        list << QString();
    QString native, internal;
    dev_t dev;
    ino_t ino;
    if (!startWalk(folder, native, internal, dev, ino))
        return;
    Walk w{list, dev, {}};
    w.seen.insert({quint64(dev), quint64(ino)});
    walkSubfolders(w, native, internal);
}

QString FindFileInTree(const QString &folder, const QString &text)
{
    QString f = folder + QLatin1Char('\\');
    while (f.contains(QLatin1String("\\\\")))
        f.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    // The files are looked at in the order of ListFolderFiles, but the walk
    // ends at the first match: a whole drive is not listed first.
    QString native, internal;
    dev_t dev;
    ino_t ino;
    if (!startWalk(f, native, internal, dev, ino))
        return QString();
    QStringList unused;
    QString found;
    Walk w{unused, dev, {}};
    w.visit = [&](const QString &p) {
        if (text.isEmpty() || p.contains(text, Qt::CaseInsensitive) || ShortPath(p).contains(text, Qt::CaseInsensitive)) {
            found = p;
            return false;
        }
        return true;
    };
    w.seen.insert({quint64(dev), quint64(ino)});
    walkFiles(w, native, internal, true);
    return found;
}

// --- paths and names -----------------------------------------------------------

QString GetTempFolder()
{
    QString dir;
    const QString home = qEnvironmentVariable("QUILVANE_HOME");
    if (!home.isEmpty()) {
        dir = home + QStringLiteral("/tmp");
    } else {
        QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
        if (cache.isEmpty())
            cache = QDir::homePath() + QStringLiteral("/.cache");
        dir = cache + QStringLiteral("/Quilvane/tmp");
    }
    if (!QDir().mkpath(dir)) {
        dir = QDir::tempPath();
    } else {
        ::chmod(enc(dir).constData(), 0700);
    }
    if (!isDirNative(dir))
        return QString();
    QString internal = plat::toInternal(QDir::cleanPath(dir));
    if (!internal.endsWith(QLatin1Char('\\')))
        internal += QLatin1Char('\\');
    return internal;
}

QString GetSystemFolder()
{
    for (const char *candidate : {"/usr/lib", "/lib"})
        if (isDirNative(QLatin1String(candidate)))
            return withoutTrailingSlash(plat::toInternal(QLatin1String(candidate)));
    return QString();
}

QString StripTrailingBackslash(const QString &path)
{
    QString p = path.trimmed();
    if (p.endsWith(QLatin1Char('\\')))
        p.chop(1);
    return p;
}

QString ShortPath(const QString &path) { return path; }

QString ReplaceInvalidFileChars(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (QStringLiteral("\\/:?\"<>|").contains(c))
            c = QLatin1Char('-');
    return out;
}

QString MakeValidFileName(const QString &text)
{
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return ReplaceInvalidFileChars(text).trimmed();
    return (ReplaceInvalidFileChars(text.left(blank)) + text.mid(blank)).trimmed();
}

// --- dates ---------------------------------------------------------------------

QString SystemTimeToText(const SystemTime &t)
{
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(t.wYear)
        .arg(t.wMonth, 2, 10, QLatin1Char('0'))
        .arg(t.wDay, 2, 10, QLatin1Char('0'))
        .arg(t.wHour, 2, 10, QLatin1Char('0'))
        .arg(t.wMinute, 2, 10, QLatin1Char('0'))
        .arg(t.wSecond, 2, 10, QLatin1Char('0'));
}

QDateTime FileTimeToDate(uint32_t low, uint32_t high)
{
    const qint64 ft = qint64((quint64(high) << 32) | low);
    const qint64 secs = floorDiv(ft - kFileTimeUnixOffset, 10000000);
    return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime);
}

QString GetFileModifiedText(const QString &path)
{
    const QString native = plat::toNative(path);
    struct stat st;
    if (native.isEmpty() || !statOf(native, st))
        return QString();
    const QDateTime d = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec, Qt::LocalTime);
    SystemTime t;
    t.wYear = uint16_t(d.date().year());
    t.wMonth = uint16_t(d.date().month());
    t.wDay = uint16_t(d.date().day());
    t.wHour = uint16_t(d.time().hour());
    t.wMinute = uint16_t(d.time().minute());
    t.wSecond = uint16_t(d.time().second());
    return SystemTimeToText(t);
}

bool SetFileDates(const QString &path, const QString &dateText)
{
    const QString native = plat::toNative(path);
    struct stat st;
    if (native.isEmpty() || !statOf(native, st) || !S_ISREG(st.st_mode))
        return false;
    auto date = parseDateText(dateText);
    if (!date)
        return false;
    QDateTime when = *date;
    when.setTime(QTime(when.time().hour(), when.time().minute(), when.time().second()));
    const qint64 newSecs = when.toSecsSinceEpoch();
    // Minute boundaries between the file's time and the new one, local time.
    const qint64 fileLocal = st.st_mtim.tv_sec + QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec).offsetFromUtc();
    const qint64 newLocal = newSecs + when.offsetFromUtc();
    if (floorDiv(newLocal, 60) - floorDiv(fileLocal, 60) >= 0)
        return false;
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(newSecs), 0}};
    return ::utimensat(AT_FDCWD, enc(native).constData(), times, 0) == 0;
}

// --- the shell's file operations -----------------------------------------------

void SetTrashFallback(TrashFallback fallback) { fallbackSetting() = fallback; }
TrashFallback trashFallback() { return fallbackSetting(); }
void SetFileOperationUi(const FileOperationUi &u) { ui() = u; }

int ShellFileOperation(int operation, const QString &sources, const QString &target, int flags)
{
    switch (operation) {
    case FO_DELETE: {
        auto items = expandSources(sources, flags & FOF_FILESONLY, nullptr);
        if (!items || items->empty())
            return kErrNotFound;
        return deleteSources(*items, flags);
    }
    case FO_MOVE: return transferSources(true, sources, target, flags);
    case FO_COPY: return transferSources(false, sources, target, flags);
    default: return kErrInvalid;
    }
}

bool DeleteFiles(const QString &files, bool toRecycleBin, bool confirm)
{
    int flags = FOF_SILENT | FOF_FILESONLY;
    if (toRecycleBin)
        flags |= FOF_ALLOWUNDO;
    if (!confirm)
        flags |= FOF_NOCONFIRMATION;
    return ShellFileOperation(FO_DELETE, files, QString(), flags) == 0;
}

bool DeleteFolder(const QString &folder, bool toRecycleBin, bool confirm)
{
    if (folder.size() <= 4)
        return false;
    const QString native = plat::toNative(withoutTrailingSlash(folder));
    if (native.isEmpty() || protectedFolder(native))
        return false;
    int flags = FOF_SILENT;
    if (toRecycleBin)
        flags |= FOF_ALLOWUNDO;
    if (!confirm)
        flags |= FOF_NOCONFIRMATION;
    return ShellFileOperation(FO_DELETE, withoutTrailingSlash(folder), QString(), flags) == 0;
}

bool TrashFile(const QString &path)
{
    const TrashFallback before = fallbackSetting();
    fallbackSetting() = TrashFallback::Fail;
    const bool done = RecycleFile(path);
    fallbackSetting() = before;
    return done;
}

bool RecycleFile(const QString &path)
{
    if (path.size() <= 4)
        return false;
    const QString native = plat::toNative(withoutTrailingSlash(path));
    if (native.isEmpty() || (isDirNative(native) && protectedFolder(native)))
        return false;
    return ShellFileOperation(FO_DELETE, path, QString(), FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO) == 0;
}

bool MoveFiles(const QString &source, const QString &target, bool silent)
{
    if (source.size() <= 4)
        return false;
    int flags = FOF_SIMPLEPROGRESS;
    if (target.contains(QLatin1String("\\RIVozud")))
        flags = FOF_SILENT;
    if (silent)
        flags = FOF_SILENT | FOF_NOCONFIRMATION;
    return ShellFileOperation(FO_MOVE, source, target, flags) == 0;
}

bool CopyFiles(const QString &source, const QString &target)
{
    if (source.size() <= 4)
        return false;
    return ShellFileOperation(FO_COPY, source, target, FOF_SIMPLEPROGRESS) == 0;
}

void ShowFileProperties(const QString &path)
{
    if (!FileExists(path))
        return;
    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (dbusSend.isEmpty())
        return;
    const QString url = QUrl::fromLocalFile(plat::toNative(path)).toString(QUrl::FullyEncoded);
    QProcess::startDetached(dbusSend, {QStringLiteral("--session"), QStringLiteral("--type=method_call"),
                                       QStringLiteral("--dest=org.freedesktop.FileManager1"),
                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                       QStringLiteral("org.freedesktop.FileManager1.ShowItemProperties"),
                                       QStringLiteral("array:string:") + url, QStringLiteral("string:")});
}
