#include "viewer/typeicons.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QTextStream>
#include <map>
#include <mutex>

namespace {

// $XDG_DATA_HOME, then $XDG_DATA_DIRS (their defaults when unset).
QStringList dataFolders()
{
    QStringList folders;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    folders << home;
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &d : dirs.split(':', Qt::SkipEmptyParts))
        folders << d;
    return folders;
}

// Without a desktop session Qt knows no icon theme: the icon folders of the
// data folders, and Adwaita (else hicolor) when no usable theme is set.
void ensureIconTheme()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QStringList paths = QIcon::themeSearchPaths();
        QStringList folders = dataFolders();
        folders << QStringLiteral("/usr/local/share") << QStringLiteral("/usr/share");
        for (const QString &d : std::as_const(folders)) {
            const QString icons = QDir::cleanPath(d + QStringLiteral("/icons"));
            if (!paths.contains(icons) && QFileInfo(icons).isDir())
                paths << icons;
        }
        QIcon::setThemeSearchPaths(paths);
        const auto themeExists = [&paths](const QString &name) {
            if (name.isEmpty())
                return false;
            for (const QString &p : paths)
                if (QFileInfo::exists(p + '/' + name + QStringLiteral("/index.theme")))
                    return true;
            return false;
        };
        if (!themeExists(QIcon::themeName()))
            QIcon::setThemeName(themeExists(QStringLiteral("Adwaita")) ? QStringLiteral("Adwaita")
                                                                        : QStringLiteral("hicolor"));
        if (QIcon::fallbackThemeName().isEmpty())
            QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
    });
}

// A plain page with a folded corner.
QImage builtInPageIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 32.0;
    QPainterPath page;
    page.moveTo(7 * s, 3 * s);
    page.lineTo(20 * s, 3 * s);
    page.lineTo(26 * s, 9 * s);
    page.lineTo(26 * s, 29 * s);
    page.lineTo(7 * s, 29 * s);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), std::max(1.0, s)));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(QPointF(20 * s, 3 * s), QPointF(20 * s, 9 * s));
    p.drawLine(QPointF(20 * s, 9 * s), QPointF(26 * s, 9 * s));
    return img;
}

QString firstWord(const QString &command)
{
    const QString t = command.trimmed();
    const qsizetype b = t.indexOf(' ');
    return b < 0 ? t : t.left(b);
}

bool programExists(const QString &program)
{
    if (program.isEmpty())
        return false;
    if (program.contains('/')) {
        const QFileInfo f(program);
        return f.isFile() && f.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// Reads one .thumbnailer file (a desktop-entry group "Thumbnailer Entry").
bool readThumbnailer(const QString &path, ThumbnailerEntry &entry)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text) || f.size() > 64 * 1024)
        return false;
    QTextStream in(&f);
    bool inGroup = false;
    entry = ThumbnailerEntry{};
    entry.file = path;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inGroup = line == QLatin1String("[Thumbnailer Entry]");
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("TryExec"))
            entry.tryExec = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("MimeType"))
            for (const QString &m : value.split(';', Qt::SkipEmptyParts))
                entry.mimeTypes << m.trimmed().toLower();
    }
    if (entry.exec.isEmpty() || entry.mimeTypes.isEmpty())
        return false;
    return programExists(entry.tryExec.isEmpty() ? firstWord(entry.exec) : entry.tryExec);
}

} // namespace

QImage IconToPicture(const QIcon &icon, int size)
{
    if (icon.isNull() || size <= 0)
        return QImage();
    QImage img = icon.pixmap(QSize(size, size)).toImage();
    if (!img.isNull() && img.size() != QSize(size, size))
        img = img.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return img;
}

QImage GetFileTypeIcon(const QString &name, int flags, int sizeFlag)
{
    Q_UNUSED(sizeFlag);
    ensureIconTheme();
    const int size = (flags & 1) ? 16 : 32;
    const qsizetype dot = name.lastIndexOf('.');
    const QString ext = dot < 0 ? name : name.mid(dot + 1);
    const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(QStringLiteral("icon.") + ext, QMimeDatabase::MatchExtension);
    QStringList names{type.iconName(), type.genericIconName()};
    for (const QString &parent : type.allAncestors()) {
        const QMimeType p = db.mimeTypeForName(parent);
        names << p.iconName() << p.genericIconName();
    }
    names << QStringLiteral("application-x-generic") << QStringLiteral("text-x-generic");
    for (const QString &n : std::as_const(names)) {
        if (n.isEmpty() || !QIcon::hasThemeIcon(n))
            continue;
        const QImage img = IconToPicture(QIcon::fromTheme(n), size);
        if (!img.isNull())
            return img;
    }
    return builtInPageIcon(size);
}

const std::vector<ThumbnailerEntry> &ThumbnailerTable()
{
    static std::map<QString, std::vector<ThumbnailerEntry>> tables;
    const QStringList folders = dataFolders();
    const QString key = folders.join(':');
    auto it = tables.find(key);
    if (it != tables.end())
        return it->second;
    std::vector<ThumbnailerEntry> table;
    for (const QString &d : folders) {
        const QDir dir(d + QStringLiteral("/thumbnailers"));
        for (const QString &file : dir.entryList({QStringLiteral("*.thumbnailer")}, QDir::Files, QDir::Name)) {
            ThumbnailerEntry e;
            if (readThumbnailer(dir.filePath(file), e))
                table.push_back(e);
        }
    }
    return tables.emplace(key, std::move(table)).first->second;
}

const ThumbnailerEntry *ThumbnailerForExtension(const QString &extension)
{
    QString ext = extension.trimmed();
    if (ext.startsWith('.'))
        ext.remove(0, 1);
    if (ext.isEmpty())
        return nullptr;
    const auto &table = ThumbnailerTable();
    if (table.empty())
        return nullptr;
    const QMimeDatabase db;
    QStringList wanted;
    for (const QMimeType &t : db.mimeTypesForFileName(QStringLiteral("x.") + ext)) {
        wanted << t.name().toLower();
        for (const QString &a : t.aliases())
            wanted << a.toLower();
        for (const QString &a : t.allAncestors())
            wanted << a.toLower();
    }
    wanted.removeAll(QStringLiteral("application/octet-stream"));
    for (const ThumbnailerEntry &e : table)
        for (const QString &m : e.mimeTypes)
            if (wanted.contains(m))
                return &e;
    return nullptr;
}

bool HasShellThumbnailHandler(const QString &extension) { return ThumbnailerForExtension(extension) != nullptr; }
