// Free clusters from the volume bitmap, with cluster numbers taken from mtools.
#include "drive/bitmap.h"
#include "tests/drive/drive_test_util.h"

#include <QRegularExpression>

using namespace testing_support;
using namespace drive_tests;

namespace {

// The clusters of a file as mshowfat lists them: "<3-12>" or "<3-5><9-10>".
QList<QPair<int64_t, int64_t>> clustersOf(const QString &image, const QString &dosPath)
{
    QByteArray out;
    runTool("mshowfat", {"-i", image, "::" + dosPath}, &out);
    QList<QPair<int64_t, int64_t>> runs;
    static const QRegularExpression re("<(\\d+)(?:-(\\d+))?>");
    auto it = re.globalMatch(QString::fromLatin1(out));
    while (it.hasNext()) {
        auto m = it.next();
        const int64_t a = m.captured(1).toLongLong();
        runs.append({a, m.captured(2).isEmpty() ? a : m.captured(2).toLongLong()});
    }
    return runs;
}

TEST(VolumeBitmap, TheHoleOfADeletedFile)
{
    const QString dir = makeTempDir("bm");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 1;
    const QString img = makeFatImage(dir, "bm.img", spec);
    ASSERT_TRUE(mcopyData(img, "/A.BIN", patternBytes(10 * 512, 1)));
    ASSERT_TRUE(mcopyData(img, "/B.BIN", patternBytes(20 * 512, 2)));
    ASSERT_TRUE(mcopyData(img, "/C.BIN", patternBytes(5 * 512, 3)));
    const auto a = clustersOf(img, "/A.BIN"), b = clustersOf(img, "/B.BIN"), c = clustersOf(img, "/C.BIN");
    ASSERT_EQ(b.size(), 1);
    ASSERT_EQ(b[0].second - b[0].first + 1, 20);
    ASSERT_TRUE(mdel(img, "/B.BIN"));
    attachAndRead(img);

    int64_t start = 0, run = -1, last = -1;
    EXPECT_EQ(FindFreeClusterRun("E", start, run, last), b[0].first);
    EXPECT_EQ(run, 20);
    EXPECT_EQ(last, b[0].second);
    // From inside the hole the search begins with the next cluster.
    start = b[0].first;
    EXPECT_EQ(FindFreeClusterRun("E:\\", start, run, last), b[0].first + 1);
    EXPECT_EQ(run, 19);

    bool close = false;
    int64_t cl = b[0].first + 5;
    EXPECT_TRUE(IsClusterFree("E:", cl, close));
    cl = a.last().second;
    EXPECT_FALSE(IsClusterFree("E:", cl, close));
    cl = c[0].first;
    close = true;
    EXPECT_FALSE(IsClusterFree("E:", cl, close));
    cl = -1;
    EXPECT_FALSE(IsClusterFree("E:", cl, close));

    // After the last file the free space runs to the last cluster.
    const int64_t lastCluster = int64_t(DriveInfo().TotalClusters) + 1;
    start = c[0].second;
    EXPECT_EQ(FindFreeClusterRun("E:", start, run, last), c[0].second + 1);
    EXPECT_EQ(last, lastCluster);
    start = lastCluster;
    EXPECT_EQ(FindFreeClusterRun("E:", start, run, last), int64_t(DriveInfo().TotalClusters));
    EXPECT_EQ(run, 0);
    // Beyond the volume nothing is free.
    cl = lastCluster + 1;
    close = true;
    EXPECT_FALSE(IsClusterFree("E:", cl, close));
    detachDrive('E');
}

TEST(VolumeBitmap, ARunAcrossTheWindowBorderIsMeasuredWhole)
{
    const QString dir = makeTempDir("bmw");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 40000;
    spec.sectorsPerCluster = 1;
    const QString img = makeFatImage(dir, "w.img", spec);
    // The root folder holds cluster 2; A takes 3 to 32699, B 32700 to 32900.
    ASSERT_TRUE(mcopyData(img, "/A.BIN", QByteArray(32697 * 512, 'a')));
    ASSERT_TRUE(mcopyData(img, "/B.BIN", QByteArray(201 * 512, 'b')));
    ASSERT_TRUE(mcopyData(img, "/C.BIN", QByteArray(512, 'c')));
    const auto b = clustersOf(img, "/B.BIN");
    ASSERT_EQ(b.size(), 1);
    ASSERT_LT(b[0].first, 32768);
    ASSERT_GT(b[0].second, 32768);
    ASSERT_TRUE(mdel(img, "/B.BIN"));
    attachAndRead(img);
    int64_t start = 0, run = 0, last = 0;
    EXPECT_EQ(FindFreeClusterRun("E:", start, run, last), b[0].first);
    EXPECT_EQ(run, 201);
    EXPECT_EQ(last, b[0].second);
    detachDrive('E');
}

TEST(VolumeBitmap, AFatReadInPiecesAgreesWithMtools)
{
    // More than 2^18 clusters, so the FAT is read in more than one piece;
    // the file's clusters cross the border between the first two pieces.
    const QString dir = makeTempDir("bmp");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 143360;
    spec.sectorsPerCluster = 1;
    const QString img = makeFatImage(dir, "p.img", spec);
    ASSERT_FALSE(img.isEmpty());
    ASSERT_TRUE(patchFile(img, 512 + 492, le32Bytes(262138)));   // the info sector's next free cluster
    ASSERT_TRUE(mcopyData(img, "/A.BIN", patternBytes(13 * 512, 9)));
    const auto a = clustersOf(img, "/A.BIN");
    ASSERT_EQ(a, (QList<QPair<int64_t, int64_t>>{{262139, 262151}}));
    attachAndRead(img);

    const auto g = plat::diskGeometry('E');
    ASSERT_TRUE(g);
    EXPECT_EQ(qint64(g->freeClusters) * 512, mdirBytesFree(img));
    int64_t start = 262000, run = 0, last = 0;
    EXPECT_EQ(FindFreeClusterRun("E:", start, run, last), 262001);
    EXPECT_EQ(last, 262138);
    start = 262139;
    EXPECT_EQ(FindFreeClusterRun("E:", start, run, last), 262152);
    EXPECT_EQ(last, int64_t(DriveInfo().TotalClusters) + 1);
    bool close = false;
    for (int64_t c : {262145, 262146, 262151}) {
        int64_t cl = c;
        EXPECT_FALSE(IsClusterFree("E:", cl, close)) << c;
    }
    close = true;
    int64_t cl = 262152;
    EXPECT_TRUE(IsClusterFree("E:", cl, close));
    detachDrive('E');
}

TEST(VolumeBitmap, TheHeldVolumeNeverAnswersForAnotherDrive)
{
    const QString dir = makeTempDir("bmh");
    FatImageSpec spec;
    spec.sectorsPerCluster = 1;
    const QString empty = makeFatImage(dir, "empty.img", spec);
    const QString full = makeFatImage(dir, "full.img", spec);
    ASSERT_TRUE(mcopyData(full, "/BIG.BIN", QByteArray(600 * 1024, 'x')));
    ASSERT_TRUE(attachRemovable('E', empty));
    ASSERT_TRUE(attachRemovable('F', full));
    GetDriveInfo("E:");
    bool close = false;
    int64_t cl = 100;
    EXPECT_TRUE(IsClusterFree("E:", cl, close));
    EXPECT_FALSE(IsClusterFree("F:", cl, close));
    EXPECT_TRUE(IsClusterFree("E:", cl, close));

    // A volume without a bitmap (no known file system) reports nothing free.
    const QString raw = dir + "/raw.img";
    ASSERT_TRUE(writeFileBytes(raw, patternBytes(1 << 20, 5)));
    ASSERT_TRUE(attachRemovable('G', raw));
    close = true;
    EXPECT_FALSE(IsClusterFree("G:", cl, close));
    detachDrive('E');
    detachDrive('F');
    detachDrive('G');
}

TEST(MediaControl, EjectAndLoadAVirtualCard)
{
    const QString dir = makeTempDir("ej");
    const QString img = makeFatImage(dir, "card.img", FatImageSpec{});
    ASSERT_TRUE(attachRemovable('E', img));
    QString drive = " e:\\ ";
    EXPECT_TRUE(EjectMedia(drive));
    EXPECT_EQ(drive, "e:");
    EXPECT_EQ(IsDriveReady("E:"), std::optional<bool>(false));
    EXPECT_TRUE(LoadMedia(drive));
    EXPECT_EQ(IsDriveReady("E:"), std::optional<bool>(true));
    ReloadMedia(drive);
    EXPECT_EQ(IsDriveReady("E:"), std::optional<bool>(true));
    QString nothing = "Q:";
    EXPECT_FALSE(EjectMedia(nothing));
    QString folder = "C:";
    EXPECT_FALSE(EjectMedia(folder));
    detachDrive('E');
}

} // namespace

namespace {

TEST(VolumeBitmap, NtfsBitmapAgreesWithTheSleuthKit)
{
    if (!haveTool("mkntfs") || !haveTool("icat"))
        GTEST_SKIP() << "mkntfs or icat is not installed";
    const QString dir = makeTempDir("bmn");
    const QString img = dir + "/n.img";
    ASSERT_EQ(runTool("truncate", {"-s", "16M", img}), 0);
    ASSERT_EQ(runTool("mkntfs", {"-F", "-Q", img}), 0);
    QByteArray bitmap;
    ASSERT_EQ(runTool("icat", {img, "6"}, &bitmap), 0);
    auto bit = [&](int64_t c) { return (uint8_t(bitmap[qsizetype(c / 8)]) >> (c % 8)) & 1; };
    int64_t firstFree = -1, runEnd = -1;
    for (int64_t c = 1; c < int64_t(bitmap.size()) * 8; ++c) {
        if (firstFree < 0 && !bit(c))
            firstFree = c;
        if (firstFree >= 0 && bit(c)) {
            runEnd = c - 1;
            break;
        }
    }
    ASSERT_GT(firstFree, 0);
    attachAndRead(img);
    int64_t start = 0, run = 0, last = 0;
    EXPECT_EQ(FindFreeClusterRun("E:", start, run, last), firstFree);
    if (runEnd > 0) {
        EXPECT_EQ(last, runEnd);
    }
    bool close = true;
    int64_t zero = 0;
    EXPECT_FALSE(IsClusterFree("E:", zero, close));
    EXPECT_TRUE(IsClusterFree("E:", firstFree, close));
    // The free space of the unmounted volume comes from the same bitmap.
    int64_t freeBits = 0;
    for (int64_t c = 0; c < int64_t(DriveInfo().TotalClusters); ++c)
        freeBits += !bit(c);
    EXPECT_DOUBLE_EQ(DriveInfo().FreeMB * 1048576.0,
                     double(freeBits) * DriveInfo().SectorsPerCluster * DriveInfo().BytesPerSector);
    detachDrive('E');
}

} // namespace
