// Test support for the NTFS library: images made with mkntfs and ntfs-3g
// (committed ones, and ones made while the test runs where FUSE works), their
// manifests, a loaded volume, and The Sleuth Kit as the oracle.
#pragma once

#include "ntfs/fennick.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace ntfs_test {

// The bytes of a test file, as tests/ntfs/data/make_ntfs_image.py writes them.
QByteArray contentBytes(qint64 size, quint32 seed);

struct ManifestEntry {
    QString state;      // "present", "deleted" or "overwritten"
    QString path;       // "Pictures\2009\img_0001.jpg"
    qint64 size = 0;
    quint32 seed = 0;
    QString extra;      // "-", "dos=NAME" or "sparse=OFF+LEN,..."
    QByteArray expected() const;
    QString dosName() const;
    bool sparse() const { return extra.startsWith("sparse="); }
};
QList<ManifestEntry> readManifest(const QString &image);
const ManifestEntry *findEntry(const QList<ManifestEntry> &entries, const QString &path);

QString dataDir();
// A fresh copy of a committed image (tests/ntfs/data/NAME.img.xz) with its
// manifest, in a temporary folder; empty on failure.
QString committedImage(const QString &name);
// Makes an image now (needs root and FUSE); empty with *skip set when this
// machine cannot mount it, or with *error set when the tools failed.
QString liveImage(const QString &layout, int sizeMiB, const QStringList &mkntfsOptions, QString *skip,
                  QString *error);

// A volume opened and its table loaded through the library.
struct Loaded {
    FennickHandle handle = FENNICK_INVALID_HANDLE;
    MftInfo info{};
    void *block = nullptr;
    bool load(const QString &image);
    ~Loaded();
};

// One record with a name, as read through the library.
struct Record {
    uint32_t index = 0;
    bool inUse = false;
    bool directory = false;
    bool hasData = false;
    QString name;       // long name, else DOS name
    QString dosName;    // empty without a separate DOS name
    QString path;
    int pathResult = 0;
};
QString nameOfAttribute(const void *fileNameAttr);
QList<Record> namedRecords(Loaded &v);
// The unnamed $DATA of a record through GetFileRecordAttribute and ReadVCN
// (resident: its value). *complete gets ReadVCN's result.
QByteArray recordData(Loaded &v, uint32_t rec, bool *complete = nullptr);

// The Sleuth Kit: deleted files (record -> path with "\"), and a record's data.
QMap<uint32_t, QString> tskDeletedFiles(const QString &image);
QByteArray tskData(const QString &image, uint32_t rec);
// The size istat gives for the record's $DATA, -1 when not found.
qint64 tskDataSize(const QString &image, uint32_t rec);

} // namespace ntfs_test
