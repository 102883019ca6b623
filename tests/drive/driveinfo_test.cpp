// The drive record of real FAT images agrees with what mtools reads from them.
#include "drive/driveinfo.h"
#include "drive/fat.h"
#include "tests/drive/drive_test_util.h"

#include <QFile>

using namespace testing_support;
using namespace drive_tests;

namespace {

struct RecordCase {
    int fatBits;
    qint64 sizeKiB;
    int spc;
    const char *fsName;
    float width;
};

class DriveRecordAgreesWithMinfo : public ::testing::TestWithParam<RecordCase> {};

TEST_P(DriveRecordAgreesWithMinfo, FieldByField)
{
    const RecordCase c = GetParam();
    const QString dir = makeTempDir("rec");
    FatImageSpec spec;
    spec.fatBits = c.fatBits;
    spec.sizeKiB = c.sizeKiB;
    spec.sectorsPerCluster = c.spc;
    spec.reservedSectors = c.fatBits == 32 ? 32 : 4;
    spec.rootEntries = c.fatBits == 32 ? -1 : 512;
    const QString img = makeFatImage(dir, "card.img", spec);
    ASSERT_TRUE(mcopyData(img, "/IMG_0001.JPG", patternBytes(100000, 7)));
    attachAndRead(img);
    const DriveInfoRecord &d = DriveInfo();

    EXPECT_EQ(d.BytesPerSector, firstNumber(minfoField(img, "sector size")));
    EXPECT_EQ(int(d.SectorsPerCluster), firstNumber(minfoField(img, "cluster size")));
    EXPECT_EQ(d.ReservedSectors, firstNumber(minfoField(img, "reserved (boot) sectors")));
    EXPECT_EQ(int(d.NumberOfFats), firstNumber(minfoField(img, "fats")));
    const int minfoFat = c.fatBits == 32 ? firstNumber(minfoField(img, "Big fatlen"))
                                         : firstNumber(minfoField(img, "sectors per fat"));
    EXPECT_EQ(d.SectorsPerFat, minfoFat);
    EXPECT_EQ(d.VolumeSerial, minfoField(img, "serial number").toUInt(nullptr, 16));
    EXPECT_EQ(d.VolumeLabel, "CARD");
    EXPECT_EQ(d.FileSystem, c.fsName);
    EXPECT_EQ(d.FatEntryWidth, c.width);
    EXPECT_EQ(d.DriveType, "Removable");
    EXPECT_EQ(d.FirstCluster, 2);
    if (c.fatBits != 32) {
        const int rootSlots = firstNumber(minfoField(img, "max available root directory slots"));
        EXPECT_EQ(d.RootDirSectorsMinusOne, rootSlots * 32 / d.BytesPerSector - 1);
        EXPECT_EQ(d.FirstRootDirSector, d.ReservedSectors + 2 * d.SectorsPerFat);
        EXPECT_EQ(d.FirstDataSector, d.FirstRootDirSector + d.RootDirSectorsMinusOne + 1);
    } else {
        EXPECT_EQ(d.RootCluster, firstNumber(minfoField(img, "rootCluster")));
        EXPECT_EQ(d.FirstDataSector, d.ReservedSectors + 2 * d.SectorsPerFat);
    }
    // Free space as mdir counts it.
    EXPECT_DOUBLE_EQ(d.FreeMB * 1048576.0, double(mdirBytesFree(img)));
    EXPECT_DOUBLE_EQ(d.TotalSectors, d.TotalClusters * d.SectorsPerCluster);
    EXPECT_EQ(GetVolumeSerial("E:"), d.VolumeSerial);
    EXPECT_EQ(GetVolumeSerial("e:\\"), d.VolumeSerial);
    // The FAT copies are read whole and agree.
    EXPECT_EQ(d.Fat1Bytes.size(), d.SectorsPerFat * d.BytesPerSector);
    EXPECT_EQ(d.Fat1Bytes, d.Fat2Bytes);
    EXPECT_EQ(d.Fat1Text, d.Fat1Bytes);
    detachDrive('E');
}

INSTANTIATE_TEST_SUITE_P(FatTypes, DriveRecordAgreesWithMinfo,
                         ::testing::Values(RecordCase{12, 1440, 4, "FAT12", 1.5f},
                                           RecordCase{16, 16384, 4, "FAT16", 2.0f},
                                           RecordCase{32, 65536, 1, "FAT32", 4.0f}),
                         [](const auto &info) { return "FAT" + std::to_string(info.param.fatBits); });

TEST(DriveRecord, FingerprintIsStableAndFollowsTheMedium)
{
    const QString dir = makeTempDir("fp");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    const QString img = makeFatImage(dir, "card.img", spec);
    ASSERT_TRUE(mcopyData(img, "/A.JPG", patternBytes(30000, 1)));
    attachAndRead(img);
    const uint32_t first = DriveInfo().Fingerprint;
    GetDriveInfo("E:\\");
    EXPECT_EQ(DriveInfo().Fingerprint, first);

    ASSERT_TRUE(mcopyData(img, "/B.JPG", patternBytes(30000, 2)));
    GetDriveInfo("E:");
    const uint32_t afterCopy = DriveInfo().Fingerprint;
    EXPECT_NE(afterCopy, first);

    // Deleting marks the entry with 0xE5: the root part changes.
    ASSERT_TRUE(mdel(img, "/B.JPG"));
    GetDriveInfo("E:");
    EXPECT_NE(DriveInfo().Fingerprint, afterCopy);
    detachDrive('E');
}

TEST(DriveRecord, FingerprintOfAHandCheckedImage)
{
    // FAT12, 720 KiB, two files of one cluster each: FAT entries 0..ub-1 are
    // 0xFF0 (4080 -> '4'), 0xFFF (4095 -> '4'), 0xFFF, 0xFFF and then zeros.
    const QString dir = makeTempDir("fph");
    FatImageSpec spec;
    spec.fatBits = 12;
    spec.sizeKiB = 720;
    spec.sectorsPerCluster = 2;
    spec.rootEntries = 112;
    const QString img = makeFatImage(dir, "tiny.img", spec);
    ASSERT_TRUE(mcopyData(img, "/X.TXT", "x"));
    ASSERT_TRUE(mcopyData(img, "/Y.TXT", "y"));
    attachAndRead(img);
    const DriveInfoRecord &d = DriveInfo();
    ASSERT_EQ(d.FileSystem, "FAT12");
    const size_t entries = d.Fat12Entries.size();
    // 4 non-zero entries count '4' (52); the other entries up to ub-1 count '0' (48).
    const uint32_t fatPart = 4 * 52 + uint32_t(entries - 1 - 4) * 48;
    // Root: label "CARD", "X", "Y"; the last entry kept is left out.
    const uint32_t rootPart = 'C' + 'X';
    ASSERT_EQ(d.RootDirEntries.size(), 3u);
    EXPECT_EQ(d.Fingerprint, fatPart + rootPart);
    detachDrive('E');
}

TEST(DriveRecord, HostileBootSectorIsRefusedWithoutReadingOutOfBounds)
{
    const QString dir = makeTempDir("hostile");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 65536;
    spec.sectorsPerCluster = 1;
    const QString img = makeFatImage(dir, "bad.img", spec);
    ASSERT_TRUE(patchFile(img, 36, QByteArray(4, char(0xFF))));   // sectors per FAT: 2^32 - 1
    attachAndRead(img);
    EXPECT_EQ(DriveInfo().Fat32Entries.size(), 1u);
    EXPECT_EQ(DriveInfo().Fat1Bytes.size(), 1);

    ASSERT_TRUE(patchFile(img, 11, QByteArray("\x01\x00", 2)));    // bytes per sector 1
    ASSERT_TRUE(patchFile(img, 13, QByteArray(1, '\0')));          // sectors per cluster 0
    GetDriveInfo("E:");
    EXPECT_EQ(DriveInfo().Fat32Entries.size(), 1u);
    EXPECT_EQ(DriveInfo().RootDirEntries.size(), 1u);
    // The walk stays within one cluster of the platform's geometry.
    bool accepted = true;
    EXPECT_LE(ReadDirectoryChain("E:", 2, accepted), 0);
    EXPECT_LE(DriveInfo().CurrentDirEntries.size(), 16u);
    detachDrive('E');
}

// A FAT16 boot sector whose clusters were made one sector: its cluster count
// reads as FAT32, and the bytes at 36, which FAT16 gives the drive number and
// the serial, state a FAT of millions of sectors. The FAT read is the one the
// layout states (the 16-bit size), never the medium from the FAT on.
TEST(DriveRecord, AFat16SizeFieldBoundsTheFatOfAVolumeCountedAsFat32)
{
    const QString dir = makeTempDir("fat16as32");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 40960;
    spec.sectorsPerCluster = 2;
    const QString img = makeFatImage(dir, "card.img", spec);
    const QByteArray boot = readFileBytes(img).left(512);
    ASSERT_EQ(boot.size(), 512);
    const int fat16Size = uint8_t(boot[22]) | uint8_t(boot[23]) << 8;
    ASSERT_GT(le32(boot, 36), 1000000u);   // drive number 0x80, signature 0x29, serial
    ASSERT_TRUE(patchFile(img, 13, QByteArray(1, '\x01')));
    attachAndRead(img);
    const DriveInfoRecord &d = DriveInfo();
    EXPECT_EQ(d.FileSystem, "FAT32");
    EXPECT_EQ(d.SectorsPerFat, fat16Size);
    EXPECT_EQ(d.Fat1Bytes.size(), qsizetype(fat16Size) * 512);
    detachDrive('E');
}

TEST(DriveRecord, ADriveWithoutMediumLeavesNoEarlierRecordBehind)
{
    const QString dir = makeTempDir("nr");
    FatImageSpec spec;
    const QString img = makeFatImage(dir, "card.img", spec);
    attachAndRead(img);
    ASSERT_GT(DriveInfo().BytesPerSector, 0);

    ASSERT_TRUE(attachRemovable('F', dir + "/absent.img"));
    GetDriveInfo("F:");
    EXPECT_EQ(DriveInfo().BytesPerSector, 0);
    EXPECT_EQ(DriveInfo().FileSystem, "");
    EXPECT_EQ(DriveInfo().Fat12Entries.size(), 1u);
    EXPECT_EQ(IsDriveReady("F:\\x.img"), std::optional<bool>(false));
    EXPECT_EQ(IsDriveReady("E"), std::nullopt);         // one character is never ready
    EXPECT_EQ(IsDriveReady("Q:\\"), std::nullopt);      // a letter nobody knows
    EXPECT_EQ(GetVolumeSerial("F:"), 0u);
    EXPECT_EQ(GetVolumeSerial("E"), 0u);

    // Pulling the card: same letter, not ready, record reset.
    plat::DriveTable::instance().setMediumPresent('E', false);
    GetDriveInfo("E:");
    EXPECT_EQ(DriveInfo().BytesPerSector, 0);
    plat::DriveTable::instance().setMediumPresent('E', true);
    GetDriveInfo("E:");
    EXPECT_GT(DriveInfo().BytesPerSector, 0);
    // A path of an image file on E: describes E: itself.
    GetDriveInfo("E:\\DiskImages\\card.img");
    EXPECT_EQ(DriveInfo().FileSystem, "FAT12");
    detachDrive('E');
    detachDrive('F');
}

TEST(DriveRecord, NtfsVolume)
{
    if (!haveTool("mkntfs"))
        GTEST_SKIP() << "mkntfs is not installed";
    const QString dir = makeTempDir("ntfs");
    const QString img = dir + "/ntfs.img";
    ASSERT_TRUE(writeFileBytes(img, {}));
    ASSERT_TRUE(QFile::resize(img, 16 * 1024 * 1024));
    QByteArray out;
    ASSERT_EQ(runTool("mkntfs", {"-F", "-Q", "-L", "NTCARD", img}, &out), 0) << out.constData();
    attachAndRead(img);
    const DriveInfoRecord &d = DriveInfo();
    const QByteArray boot = readFileBytes(img, 0, 512);
    EXPECT_EQ(d.FileSystem, "NTFS");
    EXPECT_EQ(d.MftCluster, le32(boot, 48));
    EXPECT_NE(d.MftCluster, 0u);
    EXPECT_EQ(d.VolumeSerial, le32(boot, 72));
    EXPECT_EQ(d.VolumeLabel, "NTCARD");
    EXPECT_EQ(d.Fingerprint, 0u);
    EXPECT_EQ(d.Fat32Entries.size(), 1u);
    bool accepted = true;
    const auto before = d.CurrentDirEntries.size();
    EXPECT_EQ(ReadDirectoryChain("E:", 5, accepted), 0);
    EXPECT_EQ(DriveInfo().CurrentDirEntries.size(), before);
    detachDrive('E');
}

TEST(DriveRecord, SmallHelpers)
{
    EXPECT_EQ(MakeLong(int16_t(0xFFFF), 1), 0x1FFFF);
    EXPECT_EQ(MakeLong(5, -1), int32_t(0xFFFF0005));
    EXPECT_EQ(UnsignedWord(-8), 65528);
    EXPECT_EQ(UnsignedWord(7), 7);
    EXPECT_EQ(CutAtNul(QString("ab") + QChar(0) + "cd"), "ab");
    EXPECT_EQ(CutAtNul("abc"), "abc");
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(DriveTypeText(0), "Missing");
    EXPECT_EQ(DriveTypeText(1), "Unknown");
    EXPECT_EQ(DriveTypeText(5), "CDRom");
    EXPECT_EQ(DriveTypeText(6), "RAMDisk");
}

} // namespace
