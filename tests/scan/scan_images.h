// Test media for the scan: real files made by real tools, copied onto a FAT32
// image with mtools and then reformatted, so that no directory knows them.
#pragma once

#include "scan/scanengine.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace scan_images {

enum class Expect {
    Identical,      // cut to its true end: byte for byte the original
    ZeroTail,       // the original, then zero bytes (slack, or a format ending in zeros)
};

struct CorpusFile {
    QString dosName;    // "P01.JPG"
    QString ext;        // ".jpg": the extension the scan gives it
    QByteArray data;
    Expect expect = Expect::Identical;
};

// JPEGs (two with EXIF from exiftool) whose last sector holds 1 to 448 and
// 449 to 511 bytes, PNG, GIF, TIFF, BMP, PDF, ZIP, WAV and MP3 (when the
// tools are there). Empty when a required tool is missing.
QList<CorpusFile> makeCorpus(const QString &dir);

// A FAT32 image (4 KiB clusters unless given; mtools takes FAT32 only with
// 65525 clusters or more) holding the files in order,
// then formatted again over the same bytes. Empty on failure.
QString makeReformattedImage(const QString &dir, const QString &name, const QList<CorpusFile> &files,
                             int sectorsPerCluster = 8, int sizeKiB = 270000);

// The scan table the program builds when every built-in type (or those
// named, "JPG") is ticked in the scan-type list.
SignatureRows programTable(const QStringList &types = {});

// The source of a scan of an image file.
ScanSource imageSource(const QString &imageNative);

// Callbacks that touch nothing outside the test: plenty of cache space, a
// clock that advances one second a call, no settings written.
ScanCallbacks quietCallbacks();

// The user's second press of the Scan button when the first found file is
// kept: `press` runs once, then `pressed` is set.
void pressAtFirstFoundFile(ScanCallbacks &cb, bool &pressed, std::function<void()> press);

// A scan of an image for every built-in type into a fresh cache: how it
// ended and the found files, names and bytes, in order.
struct FoundFiles {
    ScanResult result;
    QStringList names;
    QList<QByteArray> files;
    QStringList marked;   // the files whose line carries the mark: cut short or damaged
    QString cache;        // native path
    int rounds = 1;       // scans it took: the first and the resumes
};
FoundFiles scanForFiles(const QString &imageNative);
// The same, going on from each resume point until the scan ends: `adjust`
// changes the callbacks of each round (0 the first), as a stop, a full cache
// or a medium taken out would end it. The cache: a fresh one when empty.
FoundFiles scanToTheEnd(const QString &imageNative, const std::function<void(int round, ScanCallbacks &)> &adjust,
                        const QString &cacheNative = {});

// Checks the found files against the corpus, in order; a message for each
// difference (empty: all as expected). skip: corpus indexes not expected.
QStringList compareFound(const QString &cacheNative, const FoundFileList &found, const QList<CorpusFile> &files,
                         const QList<int> &skip = {}, const QList<int> &damaged = {});

// name -> sha256 of every file in a folder.
QList<QPair<QString, QByteArray>> folderDigest(const QString &folderNative);

// A cache folder's internal path, ending in "\".
QString cacheInternal(const QString &cacheNative);

} // namespace scan_images
