// The guard of every delete inside the recovered-file cache, and the one
// recursive delete that the cache clean-ups go through.
//
// A path is judged by its own components (internal form, "X:\a\b\"):
// - a "." or ".." component refuses it (a stored path must not climb out);
// - a cache delete needs the cache folder "RIVozud" as a whole component of
//   the cache root and the path inside that root; "RIVozud photos" is not
//   the cache folder;
// - no component from the cache folder down may be a symbolic link, so a
//   link inside the cache (or a cache root that is a link) never leads a
//   delete to the folder it points at.
#pragma once

#include <QString>
#include <QStringList>

// The components after the drive ("C:\a\b\" gives a, b).
QStringList PathComponents(const QString &internalPath);
bool HasDotComponent(const QString &internalPath);
// Index of the last component exactly equal to the cache folder's name, -1.
int CacheComponentIndex(const QString &internalPath);
// path is root or lies below it (same drive, whole components, without
// regard to case).
bool IsSameOrBelow(const QString &path, const QString &root);
// A component from index fromComponent to the end of the path exists as a
// symbolic link (components that do not exist end the test).
bool HasLinkFrom(const QString &internalPath, int fromComponent);

// The root is a cache root a delete may work in: no "." or "..", the cache
// folder as a whole component, and no link from that component down.
bool IsUsableCacheRoot(const QString &cacheRoot);
// A delete of path (a folder, or a file pattern in a folder) may go ahead.
bool CacheDeleteAllowed(const QString &path, const QString &cacheRoot);

// Deletes a folder with everything in it, never through a link. Refused (-1)
// unless the trimmed path (a trailing "\*.*" or "\" removed) names an
// existing folder that is no link, holds a "\", has no "." or ".."
// component, and either lies in a cache folder (a "RIVozud" component, no
// link from it down) or strictly inside the program's own folder (no link
// below it). 0 when the folder is gone; else an error number (75: something
// could not be removed).
int DeleteCacheTree(const QString &path);
