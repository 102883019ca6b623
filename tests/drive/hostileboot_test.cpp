// Boot sectors that lie: the drive record, the volume facts, the volume
// bitmap and the sector reader on real mkfs.fat, mkfs.exfat and mkntfs images
// with one field raised past what the medium holds. The same file runs with
// AddressSanitizer and UBSan (layer_asan), where no single allocation may
// exceed 64 MiB.
#include "drive/bitmap.h"
#include "drive/driveinfo.h"
#include "drive/fat.h"
#include "drive/sectors.h"
#include "platform/drives.h"
#include "platform/volumecontrol.h"
#include "tests/support/fixtures.h"
#include "tests/support/hostile_media.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace testing_support;

namespace {

qint64 peakRssKiB()
{
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The end of the record's data area in bytes, or -1 when it leaves 64 bits.
qint64 dataAreaEnd(const DriveInfoRecord &d)
{
    const double end = (double(d.FirstDataSector) + d.TotalClusters * std::max<uint32_t>(1, d.SectorsPerCluster))
                       * d.BytesPerSector;
    return end < 9.0e18 ? qint64(end) : -1;
}

} // namespace

TEST(HostileBootSector, TheLayerDescribesWhatTheMediumHoldsAndNeverMore)
{
    const QString dir = makeTempDir("hostile");
    const QList<HostileMedium> media = makeHostileMedia(dir);
    if (media.isEmpty())
        GTEST_SKIP() << "mkfs.fat, mkfs.exfat and mkntfs are all missing";
    for (const HostileMedium &m : media) {
        SCOPED_TRACE(m.name.toStdString());
        const qint64 rssBefore = peakRssKiB();
        ASSERT_TRUE(attachRemovable('E', m.image));
        GetDriveInfo("E:");
        const DriveInfoRecord &d = DriveInfo();
        ASSERT_GT(d.BytesPerSector, 0);

        // The record's data area lies on the medium; a medium whose layout
        // does not fit is described as one without a file system, its
        // sectors from sector 0.
        const qint64 end = dataAreaEnd(d);
        EXPECT_GE(end, 0);
        EXPECT_LE(end, m.mediumBytes);
        if (m.fits) {
            EXPECT_FALSE(d.FileSystem.isEmpty());
        } else {
            EXPECT_EQ(d.FileSystem, "");
            EXPECT_EQ(d.FirstDataSector, 0);
            EXPECT_EQ(d.SectorsPerCluster, 1u);
            EXPECT_EQ(qint64(d.TotalClusters) * d.BytesPerSector, m.mediumBytes);
            EXPECT_EQ(d.Fat1Bytes.size(), 1);
            EXPECT_EQ(d.RootDirEntries.size(), 1u);
        }

        // The volume facts never count more than the medium holds.
        const auto g = plat::diskGeometry('E');
        ASSERT_TRUE(g);
        EXPECT_LE(double(g->totalClusters) * g->sectorsPerCluster * g->bytesPerSector, double(m.mediumBytes));
        EXPECT_LE(g->freeClusters, g->totalClusters);
        plat::volumeInformation('E');

        // A free run never ends past the medium; without a layout there is
        // no bitmap at all.
        int64_t start = 0, run = 0, last = 0;
        const int64_t first = FindFreeClusterRun("E:", start, run, last);
        if (run > 0) {
            const double runEnd =
                (double(d.FirstDataSector) + double(last + 1 - d.FirstCluster) * d.SectorsPerCluster) * d.BytesPerSector;
            EXPECT_LE(runEnd, double(m.mediumBytes)) << "run " << first << " to " << last;
        }
        if (!m.fits) {
            EXPECT_EQ(run, 0);
        }
        bool close = false;
        for (int64_t c : {int64_t(0x0FFFFFF0), int64_t(d.TotalClusters) + 2, int64_t(1) << 40}) {
            close = c == (int64_t(1) << 40);
            EXPECT_FALSE(IsClusterFree("E:", c, close)) << c;
        }

        // The sector reader allocates what the medium holds, not what is asked.
        int64_t got = -1;
        const QByteArray all = ReadSectors("E:", 0, 0, int64_t(512) << 20, got);
        EXPECT_EQ(all.size(), m.mediumBytes);
        EXPECT_EQ(got, m.mediumBytes);
        EXPECT_TRUE(ReadSectors("E:", m.mediumBytes / 512, 0, 4096, got).isEmpty());
        EXPECT_EQ(got, 0);

        // The directory walks stay within the medium too.
        bool accepted = true;
        ReadDirectoryChain("E:", d.RootCluster, accepted);
        EXPECT_LE(qint64(DriveInfo().CurrentDirEntries.size()) * 32, m.mediumBytes);

        EXPECT_LT(peakRssKiB() - rssBefore, 64 * 1024) << "peak memory grew by more than 64 MiB";
        plat::forgetVolumeBitmaps();
        detachDrive('E');
    }
}
