// File-type icons from the desktop's MIME database and icon theme, and the
// test whether the desktop has a thumbnailer for a type (the freedesktop
// thumbnailer files). Types are decided by the name only: found files are
// often damaged.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

// An icon as a picture of size x size pixels.
QImage IconToPicture(const QIcon &icon, int size);

// The icon of the type of a file name: the text after its last dot (the
// whole name when it has none). flags 1 asks for the small icon (16 x 16);
// otherwise the large one (32 x 32). Never null: a built-in page icon stands
// in when the theme has none.
QImage GetFileTypeIcon(const QString &name, int flags, int sizeFlag);

// One thumbnailer of the desktop.
struct ThumbnailerEntry {
    QString file;            // the .thumbnailer file
    QString tryExec;         // native path or name
    QString exec;            // the command with %i %u %o %s
    QStringList mimeTypes;   // lower case
};

// The usable thumbnailers: from $XDG_DATA_HOME and $XDG_DATA_DIRS
// "thumbnailers" folders, those whose program exists. Read once for a set of
// folders.
const std::vector<ThumbnailerEntry> &ThumbnailerTable();
// The thumbnailer for an extension (with or without its leading dot), by the
// extension's MIME types, their aliases and ancestors; nullptr when none.
const ThumbnailerEntry *ThumbnailerForExtension(const QString &extension);
// True when the desktop has a thumbnailer for the extension (".pcx").
bool HasShellThumbnailHandler(const QString &extension);
