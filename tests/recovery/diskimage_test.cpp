// Disk images without the window: names taken race-free and never leading
// out of their folder, the read sizes, the copy of a damaged medium read
// forwards and backwards, the index file's exact form and its hostile
// counts, and the removal of stale indexes.
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/diskimage.h"
#include "recovery/imageindex.h"
#include "tests/recovery/media_fixtures.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace media_test;

namespace {

class DiskImages : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }
    void TearDown() override
    {
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }
};

// The source with the given sectors zeroed: what an image of a medium with
// those sectors unreadable must hold.
QByteArray withZeroSectors(QByteArray bytes, const QList<QPair<qint64, qint64>> &bad)
{
    for (const auto &r : bad)
        for (qint64 s = r.first; s <= r.second && s * 512 < bytes.size(); ++s)
            bytes.replace(int(s * 512), int(std::min<qint64>(512, bytes.size() - s * 512)),
                          QByteArray(int(std::min<qint64>(512, bytes.size() - s * 512)), '\0'));
    return bytes;
}

BackupResult copyInto(const QString &image, BackupPlan plan, const QString &target)
{
    plat::Handle medium = plat::openVolume('E', plat::Access::Read);
    plat::Handle out = plat::createFile(target, plat::CreateMode::Exclusive);
    plan.mediumBytes = medium.size();
    BackupResult r = CopyMedium(medium, out, plan, {});
    medium.close();
    out.close();
    Q_UNUSED(image);
    return r;
}

} // namespace

TEST_F(DiskImages, NamesAreTakenInTurnAndLabelsCannotLeaveTheFolder)
{
    EXPECT_EQ(DiskImageName('E', "CARD", "2009-06-01", 0), "E_CARD_2009-06-01_0.img");
    // A label is untrusted: separators, a NUL and control characters are cleaned.
    const QString hostile = DiskImageName('E', QString("../..\\x/y") + QChar(0) + "\x01z", "2009-06-01", 3);
    EXPECT_FALSE(hostile.contains('/'));
    EXPECT_FALSE(hostile.contains('\\'));
    EXPECT_FALSE(hostile.contains(QChar(0)));
    EXPECT_EQ(hostile, "E_..-..-x-y--z_2009-06-01_3.img");

    const QString dir = makeTempDir("names");
    QString first, second;
    plat::PartFile a, b;
    ASSERT_TRUE(CreateDiskImage(a, dir, 'E', "CARD", "2009-06-01", first));
    ASSERT_TRUE(CreateDiskImage(b, dir, 'E', "CARD", "2009-06-01", second));
    EXPECT_EQ(first, "E_CARD_2009-06-01_0.img");
    EXPECT_EQ(second, "E_CARD_2009-06-01_1.img");
    // Until they are finished the images are hidden temporary files.
    EXPECT_EQ(QFileInfo(a.path()).fileName(), ".E_CARD_2009-06-01_0.img.part");
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());
    ASSERT_TRUE(CommitDiskImage(b, 'E', "CARD", "2009-06-01", second));
    EXPECT_TRUE(QFileInfo::exists(dir + "/E_CARD_2009-06-01_1.img"));
    // A stopped copy with nothing in it leaves nothing; a killed run's
    // temporary image stays, is never taken again, and is named as this
    // card's leftover (not another card's).
    a.discard();
    const QString leftover = dir + "/.E_CARD_2009-06-01_0.img.part";
    writeFileBytes(leftover, "hours of reading");
    writeFileBytes(dir + "/.F_CARD_2009-06-01_0.img.part", "another card's");
    EXPECT_EQ(LeftoverDiskImages(dir, 'E', "CARD"), QStringList{".E_CARD_2009-06-01_0.img.part"});
    plat::PartFile c;
    ASSERT_TRUE(CreateDiskImage(c, dir, 'E', "CARD", "2009-06-01", first));
    EXPECT_EQ(first, "E_CARD_2009-06-01_2.img");
    // An image that took this one's name meanwhile is never replaced.
    writeFileBytes(dir + "/E_CARD_2009-06-01_2.img", "keep");
    ASSERT_TRUE(CommitDiskImage(c, 'E', "CARD", "2009-06-01", first));
    EXPECT_EQ(first, "E_CARD_2009-06-01_3.img");
    EXPECT_EQ(readFileBytes(dir + "/E_CARD_2009-06-01_2.img"), "keep");
    EXPECT_EQ(readFileBytes(leftover), "hours of reading");
}

TEST_F(DiskImages, ReadSizesFollowFreeMemoryAndTheDriveType)
{
    EXPECT_EQ(BackupChunkMB(4000), 10);
    EXPECT_EQ(BackupChunkMB(50), 5);
    EXPECT_EQ(BackupChunkMB(8), 2);
    EXPECT_EQ(BackupClustersPerRead(10, 512, 8, false), 1280);
    EXPECT_EQ(BackupClustersPerRead(10, 512, 8, true), 640);
    EXPECT_EQ(BackupClustersPerRead(2, 4096, 128, true), 8);   // never fewer than 8
}

TEST_F(DiskImages, ADamagedMediumIsCopiedWithEveryReadableSectorInPlaceBothWays)
{
    const QString dir = makeTempDir("copy");
    const QString source = dir + "/medium.img";
    // 3000 sectors and a half: the last cluster is short.
    ASSERT_TRUE(writeFileBytes(source, patternBytes(3000 * 512 + 256, 11)));
    const QByteArray sha = sha256(source);
    const QList<QPair<qint64, qint64>> bad{{0, 0}, {17, 20}, {1024, 1024}, {2047, 2049}, {3000, 3000}};
    ASSERT_TRUE(attachCard('E', source, bad));
    const QByteArray expected = withZeroSectors(readFileBytes(source), bad);

    for (const bool backwards : {false, true}) {
        BackupPlan plan;
        plan.bytesPerSector = 512;
        plan.sectorsPerCluster = 8;
        plan.clustersPerRead = backwards ? 1 : 64;
        plan.backwards = backwards;
        plan.mode = backwards ? BackupReadMode::Damaged : BackupReadMode::Normal;
        const QString target = dir + (backwards ? "/back.img" : "/forward.img");
        const BackupResult r = copyInto(source, plan, target);
        SCOPED_TRACE(backwards ? "backwards" : "forwards");
        EXPECT_FALSE(r.stopped);
        EXPECT_FALSE(r.writeFailed);
        EXPECT_FALSE(r.mediumEnded);
        EXPECT_FALSE(r.whole());
        EXPECT_EQ(r.unreadableSectors, 1 + 4 + 1 + 3 + 1);
        EXPECT_EQ(SectorRangesText(r.unreadable), "0, 17-20, 1024, 2047-2049, 3000");
        EXPECT_EQ(r.bytesPlaced, expected.size());
        EXPECT_EQ(r.bytesRead, expected.size() - 9 * 512 - 256);
        EXPECT_EQ(QFileInfo(target).size(), expected.size());   // never longer than the medium
        EXPECT_TRUE(readFileBytes(target) == expected);
        // Forwards, the first failure made the reads careful, the second damaged.
        EXPECT_EQ(r.finalMode, BackupReadMode::Damaged);
    }
    EXPECT_EQ(sha256(source), sha);
}

TEST_F(DiskImages, ABackwardsCopyTakesTheSectorsOnBothSidesOfABadStretchBeforeTheStretch)
{
    const QString dir = makeTempDir("stretch");
    const QString source = dir + "/medium.img";
    ASSERT_TRUE(writeFileBytes(source, patternBytes(2000 * 512, 23)));
    // Clusters 100-148 hold the stretch (sectors 803-1190, clusters of 8).
    ASSERT_TRUE(attachCard('E', source, {{803, 1190}}));
    const QByteArray bytes = readFileBytes(source);

    BackupPlan plan;
    plan.sectorsPerCluster = 8;
    plan.clustersPerRead = 1;
    plan.backwards = true;
    plan.mode = BackupReadMode::Damaged;
    plat::Handle medium = plat::openVolume('E', plat::Access::Read);
    plan.mediumBytes = medium.size();
    const QString target = dir + "/backuptemp.dat";
    plat::Handle out = plat::createFile(target, plat::CreateMode::Exclusive);
    // The program killed when the copy turns to the stretch itself.
    QList<QPair<int64_t, int64_t>> notRead;
    BackupCallbacks cb;
    cb.progress = [&](const BackupProgress &p) { notRead << qMakePair(p.notReadFrom, p.notReadTo); };
    cb.stopRequested = [&] { return notRead.size() >= 3; };
    const BackupResult r = CopyMedium(medium, out, plan, cb);
    medium.close();
    out.close();

    // Nothing read; the end down to the stretch; the start up to it; the stretch left.
    ASSERT_GE(notRead.size(), 4);
    EXPECT_EQ(notRead.first(), qMakePair(int64_t(0), int64_t(2000 * 512)));
    EXPECT_EQ(notRead[1], qMakePair(int64_t(0), int64_t(149 * 4096)));
    EXPECT_EQ(notRead[2], qMakePair(int64_t(100 * 4096), int64_t(149 * 4096)));
    EXPECT_EQ(notRead.last(), notRead[2]);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.unreadableSectors, 0) << "no sector of the stretch was ground through";
    const QByteArray image = readFileBytes(target);
    ASSERT_EQ(image.size(), bytes.size());
    EXPECT_TRUE(image.left(100 * 4096) == bytes.left(100 * 4096));
    EXPECT_TRUE(image.mid(149 * 4096) == bytes.mid(149 * 4096));
    EXPECT_EQ(image.mid(100 * 4096, 49 * 4096).count('\0'), 49 * 4096);
}

TEST_F(DiskImages, TheIndexHasItsExactFormAndItsCountsAreCheckedAgainstTheFile)
{
    EXPECT_EQ(IndexNumberText(512), " 512");
    EXPECT_EQ(IndexNumberText(0), " 0");
    EXPECT_EQ(IndexNumberText(-1), "-1");
    EXPECT_EQ(IndexNumberText(0.5), " .5");
    EXPECT_EQ(IndexNumberText(7183.25), " 7183.25");
    EXPECT_EQ(IndexNumberText(123456789012345.0), " 123456789012345");
    EXPECT_EQ(IndexNumberText(1e15), " 1E+15");

    const QString work = plat::toInternal(makeTempDir("work")) + "\\";
    DiskImageIndex index;
    index.imagePath = "C:\\Images\\DiskImages\\E_CARD_2009-06-01_0.img";
    index.bytesPerSector = 512;
    index.sectorsPerCluster = 4;
    index.totalClusters = 7183.25;
    index.firstDataSector = 164;
    index.lastEntryIndex = 1;
    index.entryRecords = QByteArray(2 * 52, 'r');
    const QString path = DiskImageIndexPath(work, index.imagePath);
    EXPECT_TRUE(path.endsWith("\\DiskImages\\E_CARD_2009-06-01_0.img.dat"));
    ASSERT_TRUE(WriteDiskImageIndex(path, index));
    const QByteArray bytes = readFileBytes(plat::toNative(path));
    EXPECT_EQ(bytes, QByteArray("\"C:\\Images\\DiskImages\\E_CARD_2009-06-01_0.img\"\r\n\" 512\"\r\n\" 4\"\r\n"
                                "\" 7183.25\"\r\n\" 164\"\r\n\" 1\"\r\n")
                         + index.entryRecords);
    // Nothing of the temporary file the write went through is left.
    EXPECT_EQ(QDir(QFileInfo(plat::toNative(path)).path()).entryList(QDir::Files).size(), 1);

    DiskImageIndex back;
    ASSERT_TRUE(ReadDiskImageIndex(path, back));
    EXPECT_EQ(back.imagePath, index.imagePath);
    EXPECT_EQ(back.sectorsPerCluster, 4);
    EXPECT_EQ(back.totalClusters, 7183);
    EXPECT_EQ(back.firstDataSector, 164);
    EXPECT_EQ(back.lastEntryIndex, 1);
    EXPECT_EQ(back.entryRecords, index.entryRecords);
    EXPECT_EQ(back.copiedBytes, -1);

    // A stopped backup's index ends in the length it copied, apart from the records.
    index.copiedBytes = 53248;
    ASSERT_TRUE(WriteDiskImageIndex(path, index));
    EXPECT_TRUE(readFileBytes(plat::toNative(path)) == bytes + "\"Bytes copied: 53248\"\r\n");
    ASSERT_TRUE(ReadDiskImageIndex(path, back));
    EXPECT_EQ(back.copiedBytes, 53248);
    EXPECT_EQ(back.entryRecords, index.entryRecords);
    ASSERT_TRUE(writeFileBytes(plat::toNative(path), bytes));

    // An upper bound the records cannot hold is cut to what they hold.
    QByteArray hostile = bytes;
    hostile.replace("\" 1\"\r\n", "\" 999999\"\r\n");
    ASSERT_TRUE(writeFileBytes(plat::toNative(path), hostile));
    ASSERT_TRUE(ReadDiskImageIndex(path, back));
    EXPECT_EQ(back.lastEntryIndex, 1);
    hostile.truncate(hostile.size() - 52);   // one whole record left
    ASSERT_TRUE(writeFileBytes(plat::toNative(path), hostile));
    ASSERT_TRUE(ReadDiskImageIndex(path, back));
    EXPECT_EQ(back.lastEntryIndex, 0);

    // A path with a double quote could not be read back: it is not written.
    index.imagePath = "C:\\a\"b\\x.img";
    EXPECT_FALSE(WriteDiskImageIndex(DiskImageIndexPath(work, "x2.img"), index));
}

TEST_F(DiskImages, StaleIndexesGoOnlyWhenTheirImagesDriveIsPresent)
{
    const QString work = plat::toInternal(makeTempDir("work")) + "\\";
    const QString images = makeTempDir("images");
    ASSERT_TRUE(writeFileBytes(images + "/kept.img", "image"));
    auto writeIndex = [&](const QString &indexName, const QString &imagePath) {
        DiskImageIndex i;
        i.imagePath = imagePath;
        i.bytesPerSector = 512;
        i.sectorsPerCluster = 1;
        i.totalClusters = 10;
        i.lastEntryIndex = -1;
        return WriteDiskImageIndex(work + "DiskImages\\" + indexName, i);
    };
    ASSERT_TRUE(writeIndex("kept.img.dat", plat::toInternal(images + "/kept.img")));
    ASSERT_TRUE(writeIndex("gone.img.dat", plat::toInternal(images + "/gone.img")));
    // On a disk that is not plugged in: its index stays.
    ASSERT_TRUE(writeIndex("away.img.dat", "Q:\\DiskImages\\away.img"));
    // A drive whose mount point is there but empty counts as absent too.
    const QString emptyRoot = makeTempDir("emptyroot");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('R', emptyRoot, plat::DriveTypeFixed));
    ASSERT_TRUE(writeIndex("unplugged.img.dat", "R:\\DiskImages\\x.img"));
    const QString folder = plat::toNative(work + "DiskImages\\");
    ASSERT_TRUE(writeFileBytes(folder + "/notes.txt", "not an index"));

    EXPECT_EQ(ListDiskImageIndexes(work), "away.img.dat|gone.img.dat|kept.img.dat|notes.txt|unplugged.img.dat|");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              QStringList({"away.img.dat", "kept.img.dat", "notes.txt", "unplugged.img.dat"}));
    EXPECT_EQ(readFileBytes(images + "/kept.img"), "image");
}
