#include "recovery/cacheguard.h"

#include "drive/files.h"
#include "platform/paths.h"
#include "recovery/cachenames.h"

#include <QDir>
#include <sys/stat.h>

namespace {

QString driveOf(const QString &p)
{
    return p.size() >= 2 && p[1] == QLatin1Char(':') ? p.left(2).toUpper() : QString();
}

bool lstatNative(const QString &native, struct stat &st)
{
    const QByteArray n = QFile::encodeName(native);
    return !n.isEmpty() && ::lstat(n.constData(), &st) == 0;
}

QString prefixOf(const QString &internalPath, int components)
{
    QString p = driveOf(internalPath) + QLatin1Char('\\');
    const QStringList parts = PathComponents(internalPath);
    for (int i = 0; i < components && i < parts.size(); ++i)
        p += parts[i] + QLatin1Char('\\');
    return p;
}

constexpr int kErrPathAccess = 75;

} // namespace

QStringList PathComponents(const QString &internalPath)
{
    QString rest = internalPath;
    if (!driveOf(rest).isEmpty())
        rest = rest.mid(2);
    return rest.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

bool HasDotComponent(const QString &internalPath)
{
    for (const QString &c : PathComponents(internalPath))
        if (c.trimmed() == QLatin1String(".") || c.trimmed() == QLatin1String(".."))
            return true;
    return false;
}

int CacheComponentIndex(const QString &internalPath)
{
    const QStringList parts = PathComponents(internalPath);
    for (int i = int(parts.size()) - 1; i >= 0; --i)
        if (parts[i] == kCacheFolderName)
            return i;
    return -1;
}

bool IsSameOrBelow(const QString &path, const QString &root)
{
    if (driveOf(path).isEmpty() || driveOf(path) != driveOf(root))
        return false;
    const QStringList p = PathComponents(path), r = PathComponents(root);
    if (p.size() < r.size())
        return false;
    for (int i = 0; i < r.size(); ++i)
        if (p[i].compare(r[i], Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

bool HasLinkFrom(const QString &internalPath, int fromComponent)
{
    const QStringList parts = PathComponents(internalPath);
    for (int i = qMax(0, fromComponent); i < parts.size(); ++i) {
        // A wildcard name is a file pattern, not a component of the chain.
        if (parts[i].contains(QLatin1Char('*')) || parts[i].contains(QLatin1Char('?')))
            break;
        const QString native = plat::toNative(prefixOf(internalPath, i + 1));
        struct stat st;
        if (native.isEmpty() || !lstatNative(QDir::cleanPath(native), st))
            break;
        if (S_ISLNK(st.st_mode))
            return true;
    }
    return false;
}

bool IsUsableCacheRoot(const QString &cacheRoot)
{
    if (driveOf(cacheRoot).isEmpty() || HasDotComponent(cacheRoot))
        return false;
    const int at = CacheComponentIndex(cacheRoot);
    return at >= 0 && !HasLinkFrom(cacheRoot, at);
}

bool CacheDeleteAllowed(const QString &path, const QString &cacheRoot)
{
    if (!IsUsableCacheRoot(cacheRoot) || HasDotComponent(path) || !IsSameOrBelow(path, cacheRoot))
        return false;
    return !HasLinkFrom(path, CacheComponentIndex(cacheRoot));
}

int DeleteCacheTree(const QString &pathIn)
{
    QString path = pathIn.trimmed();
    if (path.endsWith(QLatin1String("\\*.*")))
        path.chop(4);
    else if (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    if (path.isEmpty() || !path.contains(QLatin1Char('\\')) || driveOf(path).isEmpty() || HasDotComponent(path))
        return -1;
    const QString native = plat::toNative(path);
    struct stat st;
    if (native.isEmpty() || !lstatNative(native, st) || !S_ISDIR(st.st_mode))
        return -1;

    bool allowed = false;
    const int cacheAt = CacheComponentIndex(path);
    if (cacheAt >= 0 && !HasLinkFrom(path, cacheAt))
        allowed = true;
    const QString program = plat::programFolder();
    if (!allowed && IsSameOrBelow(path, program)
        && PathComponents(path).size() > PathComponents(program).size()
        && !HasLinkFrom(path, int(PathComponents(program).size())))
        allowed = true;
    if (!allowed)
        return -1;

    DeleteFolder(path + QLatin1Char('\\'), false, false);
    if (!lstatNative(native, st))
        return 0;

    // What the folder delete left: files and links removed one by one, real
    // sub-folders by the same guarded delete.
    int result = 0;
    const QDir dir(native);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fi : entries) {
        const QString childNative = native + QLatin1Char('/') + fi.fileName();
        struct stat cst;
        if (!lstatNative(childNative, cst))
            continue;
        if (S_ISDIR(cst.st_mode)) {
            const int r = DeleteCacheTree(path + QLatin1Char('\\') + fi.fileName());
            if (r != 0)
                return r;
        } else {
            ::chmod(QFile::encodeName(native).constData(), st.st_mode | S_IRWXU);
            if (::unlink(QFile::encodeName(childNative).constData()) != 0)
                result = kErrPathAccess;
        }
    }
    DeleteFolder(path + QLatin1Char('\\'), false, false);
    if (lstatNative(native, st))
        ::rmdir(QFile::encodeName(native).constData());
    if (lstatNative(native, st))
        return result ? result : kErrPathAccess;
    return 0;
}
