#include "app/filesafety.h"

#include "platform/paths.h"
#include "recovery/cacheguard.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>
#include <sys/stat.h>

const QString kRawExtensionList = QStringLiteral(".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2");

namespace {

bool isForbidden(QChar c)
{
    switch (c.unicode()) {
    case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return true;
    default:
        return false;
    }
}

// Types the desktop hands to an interpreter, a loader or an installer.
const char *const kRunnableTypes[] = {
    "application/x-executable",        "application/x-sharedlib",
    "application/x-pie-executable",    "application/x-shellscript",
    "application/x-desktop",           "application/x-ms-dos-executable",
    "application/x-msdownload",        "application/vnd.microsoft.portable-executable",
    "application/x-msi",               "application/x-ms-shortcut",
    "application/x-executable-script", "application/x-perl",
    "application/x-python",            "text/x-python",
    "text/x-python3",                  "application/x-ruby",
    "application/x-php",               "application/x-csh",
    "application/x-java-archive",      "application/x-java-jnlp-file",
    "application/x-bat",               "application/x-appimage",
    "application/vnd.flatpak.ref",     "application/x-deb",
    "application/x-rpm",
};

bool runnableType(const QMimeType &type)
{
    for (const char *name : kRunnableTypes)
        if (type.inherits(QLatin1String(name)))
            return true;
    return false;
}

} // namespace

QString SafeLeafName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (c.unicode() < 32 || c.unicode() == 127)
            continue;
        out += isForbidden(c) ? QChar(QLatin1Char('-')) : c;
    }
    out = out.trimmed();
    if (out == QLatin1String(".") || out == QLatin1String(".."))
        return QString();
    return out;
}

QString JoinInsideFolder(const QString &folder, const QString &name)
{
    const QString leaf = SafeLeafName(name);
    if (leaf.isEmpty() || folder.isEmpty())
        return QString();
    QString base = folder;
    if (!base.endsWith(QLatin1Char('\\')))
        base += QLatin1Char('\\');
    const QString path = base + leaf;
    if (HasDotComponent(path) || !IsSameOrBelow(path, base)
        || PathComponents(path).size() != PathComponents(base).size() + 1)
        return QString();
    return path;
}

bool IsRunnableFile(const QString &internalPath)
{
    const QString native = plat::toNative(internalPath);
    if (native.isEmpty())
        return false;
    struct stat st;
    const QByteArray n = QFile::encodeName(native);
    if (::stat(n.constData(), &st) != 0)
        return false;
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH))
        return true;
    const QMimeDatabase db;
    return runnableType(db.mimeTypeForFile(native, QMimeDatabase::MatchContent))
        || runnableType(db.mimeTypeForFile(native, QMimeDatabase::MatchExtension))
        || runnableType(db.mimeTypeForFile(native));
}

bool HasRawExtension(const QString &name)
{
    const QString tail = name.right(4);
    return !tail.isEmpty() && kRawExtensionList.contains(tail, Qt::CaseInsensitive);
}

QString NextCounterName(const QString &name)
{
    int digits = 0;
    while (digits < name.size() && name.at(digits).isDigit() && name.at(digits).unicode() < 128)
        ++digits;
    if (digits > 0 && digits < name.size() && name.at(digits) == QLatin1Char('#')) {
        bool ok = false;
        const qulonglong n = name.left(digits).toULongLong(&ok);
        if (ok && n < 999999999ULL)
            return (QString::number(n + 1) + name.mid(digits)).toLower();
    }
    return (QStringLiteral("1#") + name).toLower();
}
