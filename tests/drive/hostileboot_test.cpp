// Boot sectors that lie: the drive record, the volume facts, the volume
// bitmap and the sector reader on real mkfs.fat, mkfs.exfat and mkntfs images
// with one field raised past what the medium holds; and a whole-disk image
// whose extended boot records lie. The same file runs with
// AddressSanitizer and UBSan (layer_asan), where no single allocation may
// exceed 64 MiB.
#include "drive/bitmap.h"
#include "drive/driveinfo.h"
#include "drive/fat.h"
#include "drive/sectors.h"
#include "platform/drives.h"
#include "platform/partitiontable.h"
#include "platform/volumecontrol.h"
#include "tests/support/fixtures.h"
#include "tests/support/hostile_media.h"

#include <QFile>
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

TEST(HostilePartitionTable, ALogicalPartitionPastTheImageIsNoVolumeAndALoopEndsTheChain)
{
    // sfdisk's extended partition at sector 2048 holds logical partitions 5
    // (at 4096) and 6 (at 26624, its record at 24576); the same table is laid
    // out again in 4096-byte sectors.
    const QString dir = makeTempDir("ebr"), made = dir + "/made.img";
    if (!haveTool("sfdisk") || runTool("truncate", {"-s", "32M", made}) != 0
        || runTool("sfdisk", {"-q", made}, nullptr,
                   "label: dos\nstart=2048, size=63488, type=5\nstart=4096, size=20480, type=c\n"
                   "start=26624, size=20480, type=c\n") != 0)
        GTEST_SKIP() << "sfdisk is needed";
    for (const qint64 sector : {512, 4096}) {
        SCOPED_TRACE(sector);
        const QString disk = dir + QStringLiteral("/disk%1.img").arg(sector);
        ASSERT_EQ(runTool("truncate", {"-s", QString::number(65536 * sector), disk}), 0);
        for (const qint64 at : {0, 2048, 24576})
            ASSERT_TRUE(patchFile(disk, at * sector, readFileBytes(made, at * 512, 512)));
        for (const auto &[at, label] : {std::pair{4096, "FIVE"}, std::pair{26624, "SIX"}})
            ASSERT_EQ(runTool("mkfs.fat", {"-S", QString::number(sector), "--offset", QString::number(at), "-n", label,
                                           disk, QString::number(20480 * sector / 1024)}), 0);
        // Logical 5 claims 0x7FFFFFFF sectors; 6's record links to itself.
        ASSERT_TRUE(patchFile(disk, 2048 * sector + 446 + 12, QByteArray("\xFF\xFF\xFF\x7F", 4))
                    && patchFile(disk, 24576 * sector + 446 + 16, readFileBytes(disk, 2048 * sector + 446 + 16, 16)));
        QFile f(disk);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QList<plat::PartitionEntry> parts = plat::readPartitionTable(f, sector);
        ASSERT_EQ(parts.size(), 6);
        EXPECT_TRUE(parts[0].extended && parts[4].number == 5 && parts[4].length == 0);
        EXPECT_TRUE(parts[5].number == 6 && parts[5].offset == 26624 * sector && parts[5].length == 20480 * sector);

        // Without partition= the letter reads 6; partition=5 is no volume.
        plat::VirtualDriveOptions opts;
        opts.sectorSize = int(sector);
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', disk, opts));
        EXPECT_EQ(plat::volumeInformation('E').value_or(plat::VolumeInfo{}).label, "SIX");
        opts.partition = 5;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', disk, opts));
        EXPECT_EQ(plat::isDriveReady('E'), std::optional<bool>(false));
        detachDrive('E');
    }
}
