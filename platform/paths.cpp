#include "platform/paths.h"

#include "platform/drives.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace plat {

namespace {

constexpr char16_t kBackslashStandIn = 0xF05C;   // a native "\" inside a name

bool isDrivePath(const QString &p)
{
    return p.size() >= 2 && p[1] == u':' && p[0].isLetter() && p[0].unicode() < 128;
}

// Resolves one component inside an existing native folder: exact first, then
// without regard to case (first in sorted order), else as given.
QString resolveComponent(const QString &parent, const QString &name)
{
    const QString exact = parent.endsWith('/') ? parent + name : parent + '/' + name;
    if (QFileInfo::exists(exact))
        return exact;
    QDir dir(parent);
    if (!dir.exists())
        return exact;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                            QDir::Name);
    for (const QString &n : names)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return parent.endsWith('/') ? parent + n : parent + '/' + n;
    return exact;
}

QString canonicalNative(const QString &native)
{
    QString abs = QDir::cleanPath(QFileInfo(native).absoluteFilePath());
    // Resolve links of the longest existing prefix; keep the rest as written.
    QString head = abs;
    QString tail;
    while (!head.isEmpty() && head != "/" && !QFileInfo::exists(head)) {
        int cut = head.lastIndexOf('/');
        tail = head.mid(cut) + tail;
        head = cut <= 0 ? QStringLiteral("/") : head.left(cut);
    }
    QString canon = QFileInfo(head).canonicalFilePath();
    if (canon.isEmpty())
        canon = head;
    if (canon == "/" && tail.startsWith('/'))
        return tail;
    return canon + tail;
}

} // namespace

QString toNative(const QString &internalPath)
{
    if (!isDrivePath(internalPath)) {
        QString rel = internalPath;
        rel.replace('\\', '/');
        return rel;
    }
    const QString root = driveRootNative(internalPath[0].toUpper());
    if (root.isEmpty())
        return {};
    const bool folder = internalPath.endsWith('\\') || internalPath.endsWith('/');
    QString rest = internalPath.mid(2);
    rest.replace('/', '\\');
    const QStringList parts = rest.split('\\', Qt::SkipEmptyParts);
    QStringList kept;
    for (const QString &p : parts) {
        if (p == ".")
            continue;
        if (p == "..") {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept << p;
    }
    for (QString &p : kept)
        p.replace(QChar(kBackslashStandIn), '\\');
    // A path that exists as written needs no component resolved.
    QString native = root;
    if (!kept.isEmpty()) {
        const QString exact = (root.endsWith('/') ? root : root + '/') + kept.join('/');
        if (QFileInfo::exists(exact))
            native = exact;
        else
            for (const QString &p : kept)
                native = resolveComponent(native, p);
    }
    if (folder && !native.endsWith('/'))
        native += '/';
    return native;
}

QString toInternal(const QString &nativePath)
{
    if (nativePath.isEmpty())
        return {};
    const bool folder = nativePath.endsWith('/') && nativePath != "/";
    const QString canon = canonicalNative(nativePath);
    QChar bestLetter = 'C';
    QString bestRoot = "/";
    for (const DriveEntry &e : DriveTable::instance().entries()) {
        if (e.mountPoint.isEmpty())
            continue;
        QString root = QDir::cleanPath(e.mountPoint);
        QString rootCanon = QFileInfo(root).canonicalFilePath();
        if (!rootCanon.isEmpty())
            root = rootCanon;
        const bool under = canon == root || root == "/" || canon.startsWith(root + '/');
        if (under && (root.size() > bestRoot.size() || (root == bestRoot && e.letter == 'C'))) {
            bestRoot = root;
            bestLetter = e.letter;
        }
    }
    QString rest = canon.mid(bestRoot == "/" ? 0 : bestRoot.size());
    QStringList parts = rest.split('/', Qt::SkipEmptyParts);
    for (QString &p : parts)
        p.replace('\\', QChar(kBackslashStandIn));
    QString out = QString(bestLetter) + ":\\" + parts.join('\\');
    if (folder && !out.endsWith('\\'))
        out += '\\';
    return out;
}

QString canonicalInternal(const QString &internalPath)
{
    const QString n = toNative(internalPath);
    return n.isEmpty() ? internalPath : toInternal(n);
}

bool wildcardMatch(const QString &pattern, const QString &name)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    // Iterative match with backtracking on the last "*".
    const QString p = pattern.toCaseFolded();
    QString n = name.toCaseFolded();
    // "x.*" also matches "x" (no extension), as on Windows.
    if (p.endsWith(".*") && !n.contains('.'))
        n += '.';
    qsizetype pi = 0, ni = 0, star = -1, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star >= 0) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

QString programFolderNative()
{
    QString home = qEnvironmentVariable("QUILVANE_HOME");
    if (home.isEmpty()) {
        QString data = qEnvironmentVariable("XDG_DATA_HOME");
        if (data.isEmpty())
            data = QDir::homePath() + "/.local/share";
        home = data + "/Quilvane";
    }
    QDir().mkpath(home);
    return QDir::cleanPath(home);
}

QString programFolder()
{
    QString p = toInternal(programFolderNative() + '/');
    if (!p.endsWith('\\'))
        p += '\\';
    return p;
}

QString configFolderNative()
{
    QString dir;
    const QString home = qEnvironmentVariable("QUILVANE_HOME");
    if (!home.isEmpty()) {
        dir = home + "/config";
    } else {
        QString cfg = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (cfg.isEmpty())
            cfg = QDir::homePath() + "/.config";
        dir = cfg + "/Quilvane";
    }
    QDir().mkpath(dir);
    return QDir::cleanPath(dir);
}

QString executableFolderNative()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

} // namespace plat
