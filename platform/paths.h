// Paths inside the program are in drive-letter form ("E:\DCIM\X.JPG", folders
// ending in "\"). Only this layer turns them into native paths and back.
#pragma once

#include <QString>

namespace plat {

// The native path of an internal one: the letter's root folder (mount point
// or virtual folder) followed by the rest with "/". ".." stops at the root.
// A component that does not exist with the exact case is resolved without
// regard to case in its parent (first match in sorted order). Empty when the
// text is not a drive path or the letter has no files (unmounted volume).
// A relative text (no "X:") is returned with "\" turned into "/".
QString toNative(const QString &internalPath);

// The internal form of a native path: the lettered root that is the longest
// prefix of the resolved path, else C: (the file system holding "/").
// A trailing "/" becomes a trailing "\".
QString toInternal(const QString &nativePath);

// toInternal(toNative(p)): the canonical form of a path entering from outside.
QString canonicalInternal(const QString &internalPath);

// Windows wildcard match ("*", "?"), without regard to case; "*.*" matches
// every name, also one without a dot.
bool wildcardMatch(const QString &pattern, const QString &name);

// The per-user program folder: $QUILVANE_HOME when set, else
// $XDG_DATA_HOME/Quilvane (~/.local/share/Quilvane). Created when missing.
QString programFolderNative();
QString programFolder();          // internal form, ending in "\"
// The configuration folder: $QUILVANE_HOME/config, else $XDG_CONFIG_HOME/Quilvane.
QString configFolderNative();
// The folder of the executable, where read-only resources are found.
QString executableFolderNative();

} // namespace plat
