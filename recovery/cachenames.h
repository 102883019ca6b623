// Names of the recovered-file cache: the folder names, the names the scan and
// the thumbnail grid give their files, the display text of a found file, and
// the key that names the scan-list file of a cache root.
#pragma once

#include "drive/chooserpath.h"

#include <QString>
#include <cstdint>

// The cache folder's own name. Every cache root ends in a folder of exactly
// this name (case-sensitive), and every delete inside the cache needs it as a
// whole path component.
inline const QString kCacheFolderName = QStringLiteral("RIVozud");
inline const QString kThumbsSub = QStringLiteral("Thumbs\\");
inline const QString kBrowseSub = QStringLiteral("Browse\\");
inline const QString kTempSub = QStringLiteral("Temp\\");
inline const QString kConvSub = QStringLiteral("Conv\\");
inline const QString kRecoveredSub = QStringLiteral("Recovered\\");
inline const QString kWorkSub = QStringLiteral("ZTRecdt\\");
inline const QString kDiskImagesSub = QStringLiteral("DiskImages\\");
inline const QString kBinSub = QStringLiteral("Bin\\");
inline const QString kThumbsDb = QStringLiteral("thumbs.db");

// The save folder is ChooserStartPath (drive/chooserpath.h): where Save All
// and Save Selected write, and where the folder chooser starts (value LUD).

// The key of a cache root: the sum over its characters (Windows-1252 codes)
// of code times position, positions counted from 1, in decimal ("abc" gives
// 590). Summed in 64 bits, so long paths cannot overflow.
QString MakeCacheKeyOf(const QString &cacheRoot);

// The name a scan gives a found file: "R#", the counter formatted "##0000"
// and the extension (1 and "jpg" give R#0001.jpg; 12345 gives R#12345.jpg).
QString FoundFileName(int32_t counter, const QString &extension);

// The thumbnail of a found file: every "." removed, ".jpg" appended, then
// every "R#" removed (R#0001.jpg gives 0001jpg.jpg).
QString ThumbnailNameOf(const QString &foundName);

// The text a found file shows in the found-file list: every "R#" and "PICT"
// removed (case-sensitive), then at most the last 12 characters.
QString FoundFileDisplayText(const QString &fileName);

// The deletion patterns of the orphan clean-up: a file's name up to and
// including its last "." followed by "*"; in the thumbnail folder the last 5
// characters of that are dropped and ".*" appended (0001jpg.jpg gives
// 0001.*). Empty for a name without a usable stem.
QString OrphanPatternOf(const QString &fileName, bool thumbnailFolder);
