// Support for the quick-undelete tests: a main window with a card image
// attached as a drive, FAT images patched in place, and The Sleuth Kit as
// the oracle of what a medium holds.
#pragma once

#include "app/frmrecover.h"

#include <QByteArray>
#include <QMap>
#include <QString>

namespace undelete_test {

// The main window, fresh, with the image attached as drive E: (removable,
// or fixed; its partition N, or 0 for none given), the drive record filled,
// the source set and a cache root of its own. Detaches the drive at the end.
class WindowOnImage {
public:
    explicit WindowOnImage(const QString &imageNative, bool removable = true, int partition = 0);
    ~WindowOnImage();
    frmRecover &w;
    QString cacheNative;    // the cache root's folder
};

// A card image by mkfs.fat in a fresh folder: FAT16 of 16 MiB with 2 KiB
// clusters, or FAT32 of 40 MiB with 512-byte clusters.
QString makeCard(int fatBits, const QString &hint);
// A photo of `size` bytes: a small JPEG by ImageMagick, with a camera's EXIF
// block (exiftool) in place of its JFIF one or JFIF only, followed by pattern
// bytes of the seed up to the size (cut to it when shorter). Empty when a
// tool failed.
QByteArray photoBytes(qint64 size, quint32 seed, bool exif = true);
// Save All as the user runs it, the folder chooser answered with a fresh
// folder: the folder's native path.
QString saveAllInto(frmRecover &w, const QString &hint);

// An entry of the deleted-entry list by its path ("DCIM\\X.JPG"); null when
// none or more than one has it.
const DeletedEntryRecord *byPath(const std::vector<DeletedEntryRecord> &entries, const QString &path);
int countPath(const std::vector<DeletedEntryRecord> &entries, const QString &path);

// mcopy of data under a name in any script (the tool runs in a UTF-8 locale).
bool mcopyUtf8(const QString &image, const QString &dosPath, const QByteArray &data);
bool mdelUtf8(const QString &image, const QString &dosPath);
bool mdeltree(const QString &image, const QString &dosPath);

// fls -r -d -p: the deleted entries' paths ("/" separated, as fls words
// them) and their metadata addresses; icat of an address. A volume inside
// a whole-disk image is named by its first sector (-o).
QMap<QString, qint64> flsDeleted(const QString &image, qint64 sector = 0);
// The same, every entry even where two have one path.
QList<QPair<QString, qint64>> flsDeletedEntries(const QString &image, qint64 sector = 0);
QByteArray icat(const QString &image, qint64 address, qint64 sector = 0);

// The byte offset of a cluster's data in a FAT image, and of a FAT entry.
qint64 clusterOffset(const QString &image, qint64 cluster);
qint64 fatEntryOffset(const QString &image, qint64 cluster);
// The 32-byte entry of a name (8.3, as stored: "INNER   TXT") in the
// cluster (0: the FAT12/16 root); its byte offset, -1 when not found.
qint64 findShortEntry(const QString &image, qint64 cluster, const QByteArray &name11, bool deleted);

} // namespace undelete_test
