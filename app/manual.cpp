// The manual: HTML pages per language in the program folder's "Manual\"
// folder, the chosen language's pages copied up into "Manual\" itself where
// the Help link opens "Manual.htm".
#include "app/startup.h"

#include "drive/strings.h"
#include "platform/paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString manualRootNative() { return plat::programFolderNative() + QStringLiteral("/Manual"); }

// The ordinary files of a folder: regular files, no links, no hidden names.
QStringList ordinaryFiles(const QString &folder)
{
    QStringList names;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &fi : entries)
        if (!fi.isSymLink() && fi.isFile() && !fi.fileName().startsWith(u'.'))
            names << fi.fileName();
    return names;
}

// Copies a file over the target; a failure leaves the target as it was.
bool copyOver(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(in.readAll());
    return out.commit();
}

bool isPlainFolder(const QString &path)
{
    const QFileInfo fi(path);
    return fi.isDir() && !fi.isSymLink();
}

} // namespace

void PrepareManual()
{
    const QString root = manualRootNative();
    // 1. The language's folder; English when it holds no file.
    QString source = root + QLatin1Char('/') + LanguageName();
    if (!isPlainFolder(source) || ordinaryFiles(source).isEmpty())
        source = root + QStringLiteral("/English");
    if (!isPlainFolder(source))
        return;
    // 2. Its pages into Manual\.
    for (const QString &name : ordinaryFiles(source))
        copyOver(source + QLatin1Char('/') + name, root + QLatin1Char('/') + name);
    // 3. The start page once more as Manual.htm.
    const QString start = source + QLatin1Char('/') + kManualStartPage;
    if (QFileInfo(start).isFile() && !QFileInfo(start).isSymLink())
        copyOver(start, root + QLatin1Char('/') + kManualPage);
    // 4. Its pictures.
    const QString images = source + QStringLiteral("/images");
    if (isPlainFolder(images)) {
        const QString target = root + QStringLiteral("/images");
        QDir().mkpath(target);
        for (const QString &name : ordinaryFiles(images))
            copyOver(images + QLatin1Char('/') + name, target + QLatin1Char('/') + name);
    }
}

void InstallShippedManual()
{
    // The pages of each language, and the style sheet and pictures that all
    // languages share ("common") copied into each language's folder.
    const QString shipped = QStringLiteral(":/manual");
    const QString common = QStringLiteral("common");
    const QString root = manualRootNative();
    QStringList languages;
    for (const QString &name : QDir(shipped).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (name != common)
            languages << name;
    QDirIterator it(shipped, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString relative = from.mid(shipped.size() + 1);
        QStringList targets;
        if (relative.startsWith(common + QLatin1Char('/'))) {
            for (const QString &language : languages)
                targets << root + QLatin1Char('/') + language + relative.mid(common.size());
        } else {
            targets << root + QLatin1Char('/') + relative;
        }
        QFile in(from);
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = in.readAll();
        for (const QString &to : targets) {
            QFile current(to);
            if (current.open(QIODevice::ReadOnly) && current.size() == bytes.size() && current.readAll() == bytes)
                continue;
            current.close();
            QDir().mkpath(QFileInfo(to).absolutePath());
            QSaveFile out(to);
            if (out.open(QIODevice::WriteOnly)) {
                out.write(bytes);
                out.commit();
            }
        }
    }
}
