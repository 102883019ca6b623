// The drive table over virtual drives and the real system, and the volume
// facts read from real images.
#include "platform/drives.h"
#include "platform/rawio.h"
#include "tests/support/fixtures.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

QString writeConfig(const QString &text)
{
    const QString conf = testHome() + "/drives.conf";
    writeFileBytes(conf, text.toUtf8());
    plat::DriveTable::instance().refresh();
    return conf;
}

QString partitionedImage(const QString &dir)
{
    const QString img = dir + "/disk.img";
    if (runTool("truncate", {"-s", "40M", img}) != 0)
        return {};
    if (runTool("sfdisk", {"-q", img}, nullptr, "start=2048, size=20480, type=c\nstart=22528, size=40960, type=c\n") != 0)
        return {};
    runTool("/sbin/mkfs.fat", {"--invariant", "-F", "16", "--offset", "2048", "-n", "PART1", "-i", "11111111", img, "10240"});
    runTool("/sbin/mkfs.fat", {"--invariant", "-F", "16", "--offset", "22528", "-n", "PART2", "-i", "22222222", img, "20480"});
    return img;
}

TEST(DriveTable, ConfigurationFileDrives)
{
    if (!haveTool("sfdisk"))
        GTEST_SKIP() << "sfdisk is not installed";
    const QString dir = makeTempDir("conf");
    const QString card = makeFatImage(dir, "card.img", FatImageSpec{});
    const QString disk = partitionedImage(dir);
    ASSERT_FALSE(disk.isEmpty());
    const QString iso = dir + "/disc.iso";
    ASSERT_TRUE(writeFileBytes(iso, QByteArray(64 * 2048, '\0')));
    const QString conf = writeConfig(
        "exclusive\n"
        "E: image=" + card + " type=removable   # a card\n"
        "F: image=" + disk + " type=removable partition=1\n"
        "K: image=" + disk + " type=removable partition=2\n"
        "G: image=" + dir + "/none.img type=removable\n"
        "H: image=" + iso + " type=cdrom sector=2048\n"
        "J: image=" + card + " type=removable readonly\n"
        "M: folder=" + dir + " type=fixed\n");

    EXPECT_EQ(plat::logicalDrives(), (QList<QChar>{'C', 'E', 'F', 'G', 'H', 'J', 'K', 'M'}));
    EXPECT_EQ(plat::driveTypeCode('E'), plat::DriveTypeRemovable);
    EXPECT_EQ(plat::driveTypeCode('H'), plat::DriveTypeCdRom);
    EXPECT_EQ(plat::driveTypeCode('M'), plat::DriveTypeFixed);
    EXPECT_EQ(plat::driveTypeCode('Z'), plat::DriveTypeNoRoot);
    EXPECT_EQ(plat::isDriveReady('E'), std::optional<bool>(true));
    EXPECT_EQ(plat::isDriveReady('G'), std::optional<bool>(false));   // empty reader slot
    EXPECT_EQ(plat::isDriveReady('Z'), std::nullopt);
    EXPECT_EQ(plat::volumeSectorSize('H'), 2048);
    EXPECT_EQ(plat::volumeSectorSize('E'), 512);

    // Partitions are volumes of their own, seen from their own sector 0.
    auto f = plat::volumeInformation('F');
    auto k = plat::volumeInformation('K');
    ASSERT_TRUE(f && k);
    EXPECT_EQ(f->label, "PART1");
    EXPECT_EQ(f->serial, 0x11111111u);
    EXPECT_EQ(k->label, "PART2");
    EXPECT_EQ(k->serial, 0x22222222u);
    EXPECT_EQ(f->fsName, "FAT");
    auto gk = plat::diskGeometry('K');
    ASSERT_TRUE(gk);
    EXPECT_EQ(gk->bytesPerSector, 512u);
    EXPECT_GT(gk->freeClusters, 0u);
    EXPECT_EQ(gk->freeClusters, gk->totalClusters);   // nothing written yet
    plat::Handle h = plat::openVolume('K', plat::Access::Read);
    ASSERT_TRUE(h.valid());
    EXPECT_EQ(h.size(), 40960ll * 512);
    QByteArray boot(512, '\0');
    qint64 got = 0;
    ASSERT_TRUE(h.read(boot.data(), 512, &got));
    EXPECT_EQ(boot, readFileBytes(disk, 22528ll * 512, 512));
    ASSERT_TRUE(h.seek(40960ll * 512 - 512));
    QByteArray tail(4096, '\0');
    ASSERT_TRUE(h.read(tail.data(), 4096, &got));
    EXPECT_EQ(got, 512);   // the window ends with the partition
    h.close();

    EXPECT_TRUE(plat::sameDisk('F', 'K'));
    EXPECT_FALSE(plat::sameDisk('E', 'F'));
    EXPECT_TRUE(plat::sameDisk('E', 'J'));

    // A present medium without a known file system is still scanned sector by sector.
    EXPECT_FALSE(plat::volumeInformation('H').has_value());
    auto gh = plat::diskGeometry('H');
    ASSERT_TRUE(gh);
    EXPECT_EQ(gh->sectorsPerCluster, 1u);
    EXPECT_EQ(gh->bytesPerSector, 2048u);
    EXPECT_EQ(gh->totalClusters, 64u);
    EXPECT_EQ(gh->freeClusters, 0u);

    // The write-protect switch.
    EXPECT_FALSE(plat::openVolume('J', plat::Access::ReadWrite).valid());
    h = plat::openVolume('J', plat::Access::Read);
    EXPECT_TRUE(h.valid());
    h.close();

    // Folder drives have files but no raw volume.
    EXPECT_EQ(plat::driveRootNative('M'), dir);
    EXPECT_FALSE(plat::openVolume('M', plat::Access::Read).valid());
    EXPECT_TRUE(plat::isDriveReady('M').value_or(false));

    // Pulling the card and putting it back.
    plat::DriveTable::instance().setMediumPresent('E', false);
    EXPECT_EQ(plat::isDriveReady('E'), std::optional<bool>(false));
    EXPECT_FALSE(plat::openVolume('E', plat::Access::Read).valid());
    EXPECT_FALSE(plat::diskGeometry('E').has_value());
    plat::DriveTable::instance().setMediumPresent('E', true);
    EXPECT_EQ(plat::isDriveReady('E'), std::optional<bool>(true));
    QFile::remove(conf);
    plat::DriveTable::instance().refresh();
    EXPECT_EQ(plat::logicalDrives(), QList<QChar>{'C'});
}

TEST(DriveTable, VolumeFactsOfOtherFileSystems)
{
    const QString dir = makeTempDir("vf");
    if (haveTool("mkfs.exfat")) {
        const QString img = dir + "/x.img";
        ASSERT_EQ(runTool("truncate", {"-s", "32M", img}), 0);
        ASSERT_EQ(runTool("mkfs.exfat", {"-L", "EXCARD", img}), 0);
        ASSERT_TRUE(attachRemovable('E', img));
        auto info = plat::volumeInformation('E');
        ASSERT_TRUE(info);
        EXPECT_EQ(info->fsName, "exFAT");
        const QByteArray boot = readFileBytes(img, 100, 4);
        EXPECT_EQ(info->serial, quint32(quint8(boot[0])) | quint32(quint8(boot[1])) << 8
                                    | quint32(quint8(boot[2])) << 16 | quint32(quint8(boot[3])) << 24);
        EXPECT_EQ(info->label, "EXCARD");
        auto g = plat::diskGeometry('E');
        ASSERT_TRUE(g);
        EXPECT_GT(g->freeClusters, 0u);
        EXPECT_LT(g->freeClusters, g->totalClusters);
        // The allocation bitmap, counted as exfatprogs counts it.
        QByteArray dump;
        if (haveTool("dump.exfat") && runTool("dump.exfat", {img}, &dump) == 0) {
            const int at = dump.indexOf("Free Clusters:");
            ASSERT_GE(at, 0);
            EXPECT_EQ(g->freeClusters, dump.mid(at + 14, dump.indexOf('\n', at) - at - 14).trimmed().toULongLong());
        }
        detachDrive('E');
    }
    if (haveTool("mkntfs")) {
        const QString img = dir + "/n.img";
        ASSERT_EQ(runTool("truncate", {"-s", "16M", img}), 0);
        ASSERT_EQ(runTool("mkntfs", {"-F", "-Q", "-L", "NT", img}), 0);
        ASSERT_TRUE(attachRemovable('E', img));
        auto info = plat::volumeInformation('E');
        ASSERT_TRUE(info);
        EXPECT_EQ(info->fsName, "NTFS");
        EXPECT_EQ(info->label, "NT");
        auto g = plat::diskGeometry('E');
        ASSERT_TRUE(g);
        EXPECT_EQ(g->bytesPerSector, 512u);
        // The boot sector counts every sector but the backup boot sector.
        EXPECT_EQ(g->totalClusters, (16ull * 1024 * 1024 / 512 - 1) / g->sectorsPerCluster);
        detachDrive('E');
    }
}

TEST(DriveTable, TheRealSystem)
{
    plat::DriveTable::instance().setExclusive(false);
    auto c = plat::DriveTable::instance().entry('C');
    ASSERT_TRUE(c);
    EXPECT_EQ(c->mountPoint, "/");
    EXPECT_EQ(plat::driveTypeCode('C'), plat::DriveTypeFixed);
    EXPECT_EQ(plat::isDriveReady('C'), std::optional<bool>(true));
    auto g = plat::diskGeometry('C');
    ASSERT_TRUE(g);
    EXPECT_GT(g->totalClusters, 0u);
    quint64 free = 0, total = 0;
    EXPECT_TRUE(plat::diskFreeBytes('C', &free, &total));
    EXPECT_GT(total, free);
    // Letters stay with their volumes from one run to the next.
    const QList<plat::DriveEntry> first = plat::DriveTable::instance().entries();
    plat::DriveTable::instance().refresh();
    const QList<plat::DriveEntry> second = plat::DriveTable::instance().entries();
    ASSERT_EQ(first.size(), second.size());
    for (int i = 0; i < first.size(); ++i)
        EXPECT_EQ(first[i].identity, second[i].identity);
    // Raw writes never reach the disk that holds "/".
    EXPECT_FALSE(plat::openVolume('C', plat::Access::ReadWrite).valid());
    plat::DriveTable::instance().setExclusive(true);
}

} // namespace
