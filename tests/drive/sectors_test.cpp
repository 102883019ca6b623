// Raw sector reading of images and drives, and the volume handles.
#include "drive/sectors.h"
#include "platform/legacydisk.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "tests/drive/drive_test_util.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

using namespace testing_support;
using namespace drive_tests;

namespace {

QByteArray ddSector(const QString &img, qint64 sector, int count = 1)
{
    QByteArray out;
    runTool("dd", {"if=" + img, "bs=512", "skip=" + QString::number(sector), "count=" + QString::number(count),
                   "status=none"},
            &out);
    return out;
}

class SparseImage : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = makeTempDir("sparse");
        img = dir + "/big.img";
        ASSERT_EQ(runTool("truncate", {"-s", "5G", img}), 0);
        for (qint64 s : markers) {
            QByteArray mark = patternBytes(512, quint32(s));
            ASSERT_EQ(runTool("dd", {"of=" + img, "bs=512", "seek=" + QString::number(s), "conv=notrunc",
                                     "status=none"},
                              nullptr, mark),
                      0);
        }
    }
    void SetUp() override { DriveInfo().BytesPerSector = 512; }
    static inline QString dir, img;
    static inline const qint64 markers[] = {0, 4194303, 4194304, 9000000};
};

TEST_F(SparseImage, ReadsAgreeWithDdAlsoBeyondFourGiB)
{
    const QString internal = plat::toInternal(img);
    ASSERT_TRUE(internal.startsWith("C:\\"));
    ASSERT_TRUE(attachRemovable('E', img));
    for (qint64 s : markers) {
        const QByteArray expected = ddSector(img, s);
        ASSERT_EQ(expected, patternBytes(512, quint32(s)));
        int64_t n = -1;
        EXPECT_EQ(ReadImageFile(internal, s, 0, 512, n), expected) << "sector " << s;
        EXPECT_EQ(n, 512);
        n = -1;
        EXPECT_EQ(ReadSectors(internal, s, 0, 512, n), expected) << "image by ReadSectors, sector " << s;
        n = -1;
        EXPECT_EQ(ReadSectors("E:", s, 0, 512, n), expected) << "drive, sector " << s;
        plat::Handle h;
        ASSERT_TRUE(OpenFileAtSector(internal, s, h));
        QByteArray buf(512, '\0');
        qint64 got = 0;
        EXPECT_TRUE(h.read(buf.data(), 512, &got));
        EXPECT_EQ(buf, expected);
        FlushClose(h);
        EXPECT_FALSE(h.valid());
    }
    detachDrive('E');
}

TEST_F(SparseImage, WholeSectorContract)
{
    const QString internal = plat::toInternal(img);
    const QByteArray s0 = ddSector(img, 0, 2);
    int64_t n = 0;
    QByteArray r = ReadImageFile(internal, 0, 0, 512, n);
    EXPECT_EQ(r.size(), 512);
    r = ReadImageFile(internal, 0, 0, 513, n);
    EXPECT_EQ(r.size(), 1024);
    EXPECT_EQ(n, 1024);
    r = ReadImageFile(internal, 0, 100, 512, n);
    ASSERT_EQ(r.size(), 1024);
    EXPECT_EQ(r.mid(100, 512), s0.mid(100, 512));

    // Every failure: nothing and a count of 0, never a stale count.
    n = 77;
    EXPECT_TRUE(ReadImageFile(internal, 0, 0, 0, n).isEmpty());
    EXPECT_EQ(n, 0);
    n = 77;
    EXPECT_TRUE(ReadImageFile(plat::toInternal(dir + "/missing.img"), 0, 0, 512, n).isEmpty());
    EXPECT_EQ(n, 0);
    n = 77;
    EXPECT_TRUE(ReadImageFile(internal, -16, 0, 512, n).isEmpty());
    EXPECT_EQ(n, 0);
    n = 77;
    EXPECT_TRUE(ReadSectors("Q:", 0, 0, 512, n).isEmpty());   // no such drive
    EXPECT_EQ(n, 0);
    DriveInfo().BytesPerSector = 0;
    n = 77;
    EXPECT_TRUE(ReadImageFile(internal, 1, 0, 512, n).isEmpty());
    EXPECT_EQ(n, 0);
    plat::Handle h;
    EXPECT_FALSE(OpenFileAtSector(internal, 1, h));
    DriveInfo().BytesPerSector = 512;
    EXPECT_FALSE(OpenFileAtSector(internal, -1, h));
    EXPECT_FALSE(h.valid());
    // Past the end: nothing comes back.
    n = 77;
    EXPECT_TRUE(ReadImageFile(internal, 5ll * 1024 * 1024 * 2, 0, 512, n).isEmpty());
    EXPECT_EQ(n, 0);
}

TEST(Sectors, ShortReadAtTheEndReturnsTheWholeBufferWithTheTrueCount)
{
    const QString dir = makeTempDir("short");
    const QString img = dir + "/small.img";
    ASSERT_TRUE(writeFileBytes(img, patternBytes(1536 + 100, 3)));
    DriveInfo().BytesPerSector = 512;
    int64_t n = 0;
    QByteArray r = ReadImageFile(plat::toInternal(img), 3, 0, 512, n);
    EXPECT_EQ(r.size(), 512);
    EXPECT_EQ(n, 100);
    EXPECT_EQ(r.left(100), patternBytes(1636, 3).mid(1536));
}

TEST(Sectors, TruncateFile)
{
    const QString dir = makeTempDir("trunc");
    const QString f = dir + "/a.bin";
    ASSERT_TRUE(writeFileBytes(f, QByteArray(20000001, 'x')));
    TruncateFile(plat::toInternal(f), 20000000);
    EXPECT_EQ(QFileInfo(f).size(), 20000000);

    const QString big = dir + "/big.bin";
    ASSERT_EQ(runTool("truncate", {"-s", "3G", big}), 0);
    TruncateFile(plat::toInternal(big), 2684354560ll);
    EXPECT_EQ(QFileInfo(big).size(), 2684354560ll);

    // A file not longer than the size is not touched.
    const QString small = dir + "/small.bin";
    ASSERT_TRUE(writeFileBytes(small, "abc"));
    ASSERT_EQ(runTool("touch", {"-d", "@1000000000", small}), 0);
    TruncateFile(plat::toInternal(small), 3);
    TruncateFile(plat::toInternal(small), 10);
    EXPECT_EQ(QFileInfo(small).size(), 3);
    EXPECT_EQ(QFileInfo(small).lastModified().toSecsSinceEpoch(), 1000000000);
    TruncateFile(plat::toInternal(dir + "/none.bin"), 0);
    EXPECT_FALSE(QFile::exists(dir + "/none.bin"));
}

TEST(Sectors, ReadsNeverAskForWriteAccess)
{
    // A write-protected card: the image is read-only for everybody and the
    // drive is marked read-only.
    const QString dir = makeTempDir("ro");
    FatImageSpec spec;
    const QString img = makeFatImage(dir, "ro.img", spec);
    ASSERT_TRUE(QFile::setPermissions(img, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    plat::VirtualDriveOptions opts;
    opts.readOnly = true;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('J', img, opts));
    GetDriveInfo("J:");
    EXPECT_EQ(DriveInfo().FileSystem, "FAT12");
    int64_t n = 0;
    EXPECT_EQ(ReadSectors("J:", 0, 0, 512, n), readFileBytes(img, 0, 512));
    plat::Handle h;
    EXPECT_TRUE(OpenDriveRead("J:", 1, h));
    FlushClose(h);
    EXPECT_FALSE(OpenDriveWrite("J:", 0, h));
    EXPECT_FALSE(h.valid());
    EXPECT_TRUE(OpenRawVolume("J:").valid());
    EXPECT_FALSE(OpenRawVolume("J:\\").valid());
    detachDrive('J');
}

TEST(Sectors, RawWritesOnlyToRemovableMedia)
{
    const QString dir = makeTempDir("rw");
    const QString img = makeFatImage(dir, "rw.img", FatImageSpec{});
    ASSERT_TRUE(attachRemovable('E', img));
    plat::VirtualDriveOptions fixed;
    fixed.typeCode = plat::DriveTypeFixed;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('G', img, fixed));
    GetDriveInfo("E:");
    plat::Handle h;
    ASSERT_TRUE(OpenDriveWrite("E:", 2, h));
    qint64 written = 0;
    EXPECT_TRUE(h.write("MARK", 4, &written));
    FlushClose(h);
    EXPECT_EQ(readFileBytes(img, 1024, 4), "MARK");
    EXPECT_FALSE(OpenDriveWrite("G:", 0, h));
    EXPECT_FALSE(OpenDriveWrite("C:", 0, h));
    detachDrive('E');
    detachDrive('G');
}

TEST(Sectors, ReadOnlyLoopDevice)
{
    if (geteuid() != 0 || !haveTool("losetup"))
        GTEST_SKIP() << "needs root and losetup";
    const QString dir = makeTempDir("loop");
    const QString img = makeFatImage(dir, "loop.img", FatImageSpec{});
    QByteArray dev;
    if (runTool("losetup", {"-r", "-f", "--show", img}, &dev) != 0)
        GTEST_SKIP() << "no loop device here";
    const QString device = QString::fromLatin1(dev).trimmed();
    // The loop device as the drive's volume, the way a card reader's is.
    ASSERT_TRUE(QFile::exists(device));
    const QString conf = testHome() + "/drives.conf";
    ASSERT_TRUE(writeFileBytes(conf, ("L: device=" + device + " type=removable\n").toUtf8()));
    plat::DriveTable::instance().refresh();
    GetDriveInfo("L:");
    EXPECT_EQ(DriveInfo().FileSystem, "FAT12");
    int64_t n = 0;
    EXPECT_EQ(ReadSectors("L:", 1, 0, 512, n), readFileBytes(img, 512, 512));
    EXPECT_EQ(n, 512);
    QFile::remove(conf);
    plat::DriveTable::instance().refresh();
    runTool("losetup", {"-d", device});
}

// ---- the Windows 9x paths, through the emulated disk services ----

class LegacyPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::OsIdentity id;
        id.platformId = 1;
        id.major = 4;
        id.minor = 10;
        plat::setOsIdentity(id);
    }
    void TearDown() override
    {
        plat::LegacyDiskDevice::setServiceFails(plat::Vwin32Int21Dispatch, false);
        plat::LegacyDiskDevice::setServiceFails(plat::Vwin32Int25, false);
        plat::resetOsIdentity();
        DriveInfo().IsNT = false;
        detachDrive('E');
    }
};

TEST_F(LegacyPaths, DispatchAndFallback)
{
    const QString dir = makeTempDir("9x");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    const QString img = makeFatImage(dir, "card16.img", spec);
    attachAndRead(img);
    ASSERT_EQ(DriveInfo().FileSystem, "FAT16");
    EXPECT_FALSE(DriveInfo().IsNT);
    const QByteArray disk = readFileBytes(img, 0, 4096);

    // INT 21h: exactly the requested bytes from the offset.
    int64_t n = 0;
    QByteArray r = ReadSectors("E:", 1, 100, 512, n);
    EXPECT_EQ(r, disk.mid(512 + 100, 512));
    EXPECT_EQ(n, 28);

    // INT 21h fails: FAT16 falls back to INT 25h.
    plat::LegacyDiskDevice::setServiceFails(plat::Vwin32Int21Dispatch, true);
    r = ReadSectors("E:", 2, 0, 1024, n);
    EXPECT_EQ(r, disk.mid(1024, 1024));
    EXPECT_EQ(n, 28);

    // Both fail: nothing, count 0.
    plat::LegacyDiskDevice::setServiceFails(plat::Vwin32Int25, true);
    r = ReadSectors("E:", 2, 0, 512, n);
    EXPECT_TRUE(r.isEmpty());
    EXPECT_EQ(n, 0);

    // FAT32 never tries INT 25h.
    plat::LegacyDiskDevice::setServiceFails(plat::Vwin32Int25, false);
    DriveInfo().FileSystem = "FAT32";
    r = ReadSectors("E:", 2, 0, 512, n);
    EXPECT_TRUE(r.isEmpty());
    EXPECT_EQ(n, 0);
}

TEST_F(LegacyPaths, AFailedReadBehindACallThatWentThroughIsNoData)
{
    const QString dir = makeTempDir("9xc");
    const QString img = makeFatImage(dir, "card.img", FatImageSpec{});
    attachAndRead(img);
    // Far beyond the end of the medium: the service sets the carry flag.
    int64_t n = 0;
    const QByteArray r = ReadSectorsInt21("E:", 1000000, 0, 512, n);
    EXPECT_TRUE(r.isEmpty());
    EXPECT_EQ(n, 0);
}

TEST(LegacyPacket, PackedLayout)
{
    const QByteArray p = BuildInt21Packet(0x12345678, 0x9ABC, 0xDEF01234);
    const unsigned char expected[10] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0x34, 0x12, 0xF0, 0xDE};
    EXPECT_EQ(p, QByteArray(reinterpret_cast<const char *>(expected), 10));
    // No legacy device on the NT family.
    plat::resetOsIdentity();
    EXPECT_EQ(plat::LegacyDiskDevice::open(), nullptr);
    EXPECT_TRUE(IsWinNT());
}

} // namespace

namespace {

TEST(Sectors, DamagedStretchesOfAVirtualDrive)
{
    const QString dir = makeTempDir("bad");
    const QString img = dir + "/bad.img";
    ASSERT_TRUE(writeFileBytes(img, patternBytes(64 * 512, 11)));
    plat::VirtualDriveOptions opts;
    opts.badSectors = {{10, 12}, {40, 40}};
    opts.slowMs = 1;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', img, opts));
    DriveInfo().BytesPerSector = 512;
    int64_t n = 0;
    // Before the damage: whole.
    EXPECT_EQ(ReadSectors("E:", 2, 0, 8 * 512, n), patternBytes(64 * 512, 11).mid(1024, 8 * 512));
    EXPECT_EQ(n, 8 * 512);
    // Across its start: the sectors before it arrive, the count tells.
    QByteArray r = ReadSectors("E:", 8, 0, 4 * 512, n);
    EXPECT_EQ(n, 2 * 512);
    EXPECT_EQ(r.left(1024), patternBytes(64 * 512, 11).mid(8 * 512, 1024));
    // Inside it: nothing.
    EXPECT_TRUE(ReadSectors("E:", 11, 0, 512, n).isEmpty());
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(ReadSectors("E:", 40, 0, 512, n).isEmpty());
    EXPECT_EQ(ReadSectors("E:", 13, 0, 512, n).size(), 512);
    // A positioned read tells the same and leaves the position.
    plat::Handle h = plat::openVolume('E', plat::Access::Read);
    ASSERT_TRUE(h.seek(3 * 512));
    QByteArray into(4 * 512, '\0');
    EXPECT_EQ(h.readAt(8 * 512, into.data(), into.size()), 2 * 512);
    EXPECT_EQ(into.left(1024), patternBytes(64 * 512, 11).mid(8 * 512, 1024));
    EXPECT_EQ(h.readAt(11 * 512, into.data(), 512), -1);
    EXPECT_EQ(h.readAt(63 * 512, into.data(), into.size()), 512);
    EXPECT_EQ(h.pos(), 3 * 512);
    h.close();
    detachDrive('E');

    // The same from the configuration file.
    const QString conf = testHome() + "/drives.conf";
    ASSERT_TRUE(writeFileBytes(conf, ("E: image=" + img + " type=removable bad=5-6,30\n").toUtf8()));
    plat::DriveTable::instance().refresh();
    EXPECT_TRUE(ReadSectors("E:", 6, 0, 512, n).isEmpty());
    EXPECT_TRUE(ReadSectors("E:", 30, 0, 512, n).isEmpty());
    EXPECT_EQ(ReadSectors("E:", 7, 0, 512, n).size(), 512);
    QFile::remove(conf);
    plat::DriveTable::instance().refresh();
}

} // namespace
