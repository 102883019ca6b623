#include "drive/bitmap.h"

#include "drive/driveinfo.h"
#include "drive/sectors.h"
#include "platform/os.h"
#include "platform/volumecontrol.h"

namespace {

constexpr int kWindowBytes = 4096;              // 32,768 clusters a request
constexpr int64_t kWindowClusters = int64_t(kWindowBytes) * 8;

QString volumeName(const QString &drive)
{
    return (drive + ":").left(2);
}

struct HeldVolume {
    plat::Handle handle;
    QChar letter;
    bool held = false;

    void release()
    {
        if (held && handle.valid())
            handle.close();
        handle = {};
        held = false;
    }
};

HeldVolume &heldVolume()
{
    static HeldVolume v;
    return v;
}

} // namespace

int64_t FindFreeClusterRun(const QString &drive, int64_t &startCluster, int64_t &runLength, int64_t &lastCluster)
{
    runLength = 0;
    if (startCluster < 0)
        return 0;
    plat::Handle h = OpenRawVolume(volumeName(drive));
    if (!h.valid())
        return 0;
    int64_t found = 0;
    int64_t run = 0;
    bool haveFree = false, ended = false;
    for (int64_t k = 0; !ended; ++k) {
        const plat::VolumeBitmap bm = plat::volumeBitmap(h, startCluster + kWindowClusters * k, kWindowBytes);
        const int64_t bits = int64_t(bm.bytes.size()) * 8;
        // The first window begins with the cluster after the start cluster.
        for (int64_t i = k == 0 ? (startCluster % 8) + 1 : 0; i < bits && !ended; ++i) {
            const bool free = !(uint8_t(bm.bytes[qsizetype(i / 8)]) & (1u << (i % 8)));
            if (!haveFree) {
                if (free) {
                    haveFree = true;
                    found = int64_t(bm.startingLcn) + i;
                    run = 1;
                }
            } else if (free) {
                ++run;
            } else {
                ended = true;
            }
        }
        if (bm.status != plat::BitmapStatus::MoreData)
            break;
    }
    h.close();
    if (!haveFree) {
        found = int64_t(DriveInfo().TotalClusters);
        run = 0;
    }
    runLength = run;
    lastCluster = found + run - 1;
    return found;
}

bool IsClusterFree(const QString &drive, int64_t &cluster, bool &closeAfterwards)
{
    if (cluster < 0)
        return false;
    HeldVolume &v = heldVolume();
    const QChar letter = drive.isEmpty() ? QChar() : drive[0].toUpper();
    // A handle held for another drive never answers for this one.
    if (v.held && v.letter != letter)
        v.release();
    if (!v.held) {
        v.handle = OpenRawVolume(volumeName(drive));
        v.letter = letter;
        v.held = true;
    }
    if (!v.handle.valid()) {
        v.release();
        return false;
    }
    const plat::VolumeBitmap bm = plat::volumeBitmap(v.handle, cluster, 16);
    // No bitmap is no answer: the cluster is not reported free.
    const bool free = !bm.bytes.isEmpty() && !(uint8_t(bm.bytes[0]) & (1u << (cluster % 8)));
    if (closeAfterwards || bm.bytes.isEmpty())
        v.release();
    return free;
}

bool SendDriveIoctl(QString &drive, uint32_t controlCode)
{
    drive = drive.trimmed();
    if (drive.endsWith('\\'))
        drive.chop(1);
    if (drive.isEmpty() || !drive[0].isLetter())
        return false;
    switch (controlCode) {
    case plat::kIoctlStorageEjectMedia:
        return plat::ejectMedia(drive[0]);
    case plat::kIoctlStorageLoadMedia:
        return plat::loadMedia(drive[0]);
    default:
        return false;
    }
}

bool EjectMedia(QString &drive)
{
    const bool ok = SendDriveIoctl(drive, plat::kIoctlStorageEjectMedia);
    plat::pumpEventsNow();
    return ok;
}

bool LoadMedia(QString &drive)
{
    const bool ok = SendDriveIoctl(drive, plat::kIoctlStorageLoadMedia);
    plat::pumpEventsNow();
    return ok;
}

void ReloadMedia(QString &drive)
{
    EjectMedia(drive);
    LoadMedia(drive);
}
