// What the found-file lists hand to the file system and the desktop: names
// that came from a medium made into plain file names inside one folder,
// files the desktop would run instead of showing, and the names of the batch
// export of RAW previews. Paths are internal (drive-letter form).
#pragma once

#include <QString>

// The RAW extensions, as one text (".CRW.CR2...RW2").
extern const QString kRawExtensionList;

// A name from a medium or a list made into one plain file name: each of
// \ / : * ? " < > | becomes "-", control characters (NUL included) are
// dropped and the blanks at both ends trimmed. "." and ".." give an empty
// text, so does a name with nothing left.
QString SafeLeafName(const QString &name);

// The folder (with or without its trailing "\") joined with SafeLeafName of
// the name; empty when the name gives no file name or the joined path would
// not lie directly inside the folder.
QString JoinInsideFolder(const QString &folder, const QString &name);

// A file the desktop would run rather than show: one with an execute bit, or
// of an executable, library, script, desktop-entry or installer type (by its
// contents and its name). Missing files are not runnable.
bool IsRunnableFile(const QString &internalPath);

// Whether the last four characters of a name occur in kRawExtensionList,
// without regard to case.
bool HasRawExtension(const QString &name);

// The next name the batch export tries when a file of that name is in the
// save folder: a name that starts with digits and "#" counts on ("7#a.tif"
// gives "8#a.tif"), any other gets "1#" in front; the result in lower case.
QString NextCounterName(const QString &name);
