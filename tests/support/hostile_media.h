// Media whose boot sectors lie: fresh images made by mkfs.fat, mkfs.exfat and
// mkntfs, each with one or two boot-sector fields raised to a plausible value
// that the medium cannot hold, as a damaged or crafted card would be.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace testing_support {

struct HostileMedium {
    QString name;            // "ntfs-total-2^40", ...
    QString image;           // native path
    qint64 mediumBytes = 0;
    // The fields still describe a volume that lies on the medium: its file
    // system is kept. Otherwise the medium is one without a file system.
    bool fits = false;
    qint64 pictureOffset = -1;   // where `picture` was written; -1: nowhere
};

// The whole set, made in dir. A kind whose tool is missing is left out. With
// a picture, its bytes are written into every image, 4 KiB-aligned in the
// data area near the medium's end, as a deleted file's bytes lie there.
QList<HostileMedium> makeHostileMedia(const QString &dir, const QByteArray &picture = {});

} // namespace testing_support
