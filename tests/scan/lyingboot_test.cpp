// Boot sectors that lie about the medium: the units of a scan come from a
// geometry that fits the medium, or the medium is read as one without a file
// system, whole, in single sectors; and the Scan command finds the picture
// that lies on such a card.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/signatures.h"
#include "scan/unitgeometry.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/fixtures.h"
#include "tests/support/hostile_media.h"
#include "tests/support/responder.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

// The record a drive gets from the layer and its boot sector.
DriveInfoRecord record(int32_t bps, uint32_t spc, double clusters, int64_t firstDataSector, int32_t firstCluster)
{
    DriveInfoRecord d;
    d.BytesPerSector = bps;
    d.SectorsPerCluster = spc;
    d.TotalClusters = clusters;
    d.FirstDataSector = firstDataSector;
    d.FirstCluster = firstCluster;
    d.FileSystem = QStringLiteral("FAT16");
    return d;
}

void expectRaw(const UnitGeometry &g, int64_t mediumBytes, int32_t bps = 512)
{
    EXPECT_TRUE(g.valid());
    EXPECT_EQ(g.baseOffset, 0);
    EXPECT_EQ(g.firstUnit, 0);
    EXPECT_EQ(g.unitBytes, bps);
    EXPECT_EQ(g.sectorsPerUnit, 1);
    EXPECT_EQ(g.fileSystem, "");
    EXPECT_EQ(g.totalBytes(), (mediumBytes + bps - 1) / bps * bps);
}

} // namespace

TEST(UnitGeometry, AGeometryThatDoesNotFitTheMediumBecomesTheWholeMediumInSectors)
{
    const int64_t card = 4400 * 512;
    // A FAT16 card whose sectors per FAT were raised: the data area starts
    // past the end.
    expectRaw(GeometryOfDrive(record(512, 1, 4400, 116133, 2), false, card), card);
    // Clusters of 4,194,304 sectors (an NTFS cluster byte of 0x81 read as a
    // negative power of two without a bound): no 32-bit unit, no overflow.
    expectRaw(GeometryOfDrive(record(512, 4194304, 1, 0, 0), false, card), card);
    expectRaw(GeometryOfDrive(record(512, 4194304, 1, 0, 0), true, card), card);
    // A count of 2^64 - 1 sectors.
    expectRaw(GeometryOfDrive(record(512, 8, 18446744073709551615.0 / 8, 0, 0), false, card), card);
    expectRaw(GeometryOfDrive(record(512, 8, 18446744073709551615.0 / 8, 0, 0), true, card), card);
    // One cluster more than the card holds: the data area ends past it.
    expectRaw(GeometryOfDrive(record(512, 4, 1063 + 1, 148, 2), false, card), card);
    // A device of 4 KiB sectors keeps its sector size.
    expectRaw(GeometryOfDrive(record(4096, 1, 1000, 5000, 2), false, 4096 * 1000), 4096 * 1000, 4096);

    // A geometry that fits stays as it is, a last cluster cut short by the
    // end included; without the medium's size nothing is changed.
    const UnitGeometry fits = GeometryOfDrive(record(512, 4, 1063, 148, 2), false, card);
    EXPECT_EQ(fits.baseOffset, 148 * 512);
    EXPECT_EQ(fits.unitCount, 1063);
    EXPECT_EQ(fits.firstUnit, 2);
    UnitGeometry partial = fits;
    FitGeometryToMedium(partial, card - 1000);
    EXPECT_EQ(partial.unitCount, 1063);
    EXPECT_EQ(GeometryOfDrive(record(512, 1, 4400, 116133, 2), false).baseOffset, 116133 * 512);
    UnitGeometry empty = fits;
    FitGeometryToMedium(empty, 0);
    EXPECT_FALSE(empty.valid());

    // An image's index that names more clusters than the image holds.
    UnitGeometry index = GeometryOfImageIndex(512, 64, 1000000, 600);
    FitGeometryToMedium(index, 1 << 20);
    expectRaw(index, 1 << 20);

    // An image's own boot sector: a cluster byte of 0x81 or 0x90 and a count
    // of 2^64 - 1 sectors are refused by the NTFS reader's rules.
    QByteArray ntfs(512, '\0');
    ntfs.replace(3, 8, "NTFS    ");
    ntfs[12] = 0x02;
    ntfs[0x40] = char(0xF6);
    for (int i = 0; i < 8; ++i)
        ntfs[0x28 + i] = char(0xFF);
    ntfs[13] = 8;
    expectRaw(GeometryOfBootSector(ntfs, 4 << 20), 4 << 20);
    ntfs[0x28 + 7] = 0;
    ntfs[0x28 + 6] = 0;
    ntfs[0x28 + 5] = 0;
    ntfs[0x28 + 4] = 0;
    ntfs[0x28 + 3] = 0;
    ntfs[0x28 + 2] = 0x20;   // 2,097,151 sectors: 1 GiB claimed on a 4 MiB image
    expectRaw(GeometryOfBootSector(ntfs, 4 << 20), 4 << 20);
    ntfs[0x28 + 2] = 0;
    ntfs[0x28 + 1] = 0x1F;   // 8191 sectors: fits
    EXPECT_EQ(GeometryOfBootSector(ntfs, 4 << 20).fileSystem, "NTFS");
    for (char spc : {char(0x81), char(0x90)}) {
        ntfs[13] = spc;
        expectRaw(GeometryOfBootSector(ntfs, 4 << 20), 4 << 20);
    }
}

namespace {

QByteArray makePicture(const QString &dir)
{
    const QString out = dir + "/photo.jpg";
    for (const QString &convert : {QStringLiteral("/usr/bin/convert-im6.q16"), QStringLiteral("convert")})
        if ((convert.startsWith('/') ? QFile::exists(convert) : haveTool(convert))
            && runTool(convert, {"-size", "160x120", "-seed", "7", "plasma:fractal", "-quality", "85", out}) == 0)
            return readFileBytes(out);
    return {};
}

class LyingCard : public ScanWindowTest {
protected:
    void SetUp() override
    {
        ScanWindowTest::SetUp();
        BuildSignatureTable("all", SignatureTable);
    }
};

} // namespace

TEST_F(LyingCard, TheScanCommandReadsWhatTheMediumHoldsAndFindsItsPicture)
{
    const QString dir = makeTempDir("lying");
    const QByteArray jpeg = makePicture(dir);
    if (jpeg.isEmpty())
        GTEST_SKIP() << "ImageMagick is missing";
    const QList<HostileMedium> media = makeHostileMedia(dir, jpeg);
    if (media.isEmpty())
        GTEST_SKIP() << "mkfs.fat, mkfs.exfat and mkntfs are all missing";
    for (const HostileMedium &m : media) {
        SCOPED_TRACE(m.name.toStdString());
        ASSERT_TRUE(attachRemovable('E', m.image));
        const QString cacheDir = makeTempDir("lcache");
        w->CacheRoot = cacheInternal(cacheDir) + QStringLiteral("RIVozud\\");
        w->MakeDirNames();
        w->CreateCacheFolders();
        w->SourceName = QStringLiteral("E:");
        GetDriveInfo(w->SourceName);
        QStringList messages;
        w->AdjustScanCallbacks = [&messages](ScanCallbacks &cb) {
            cb.message = [&messages](const QString &, const QString &text) { messages << text; };
        };
        MessageScript boxes;   // nothing else asks
        w->OperationRunning = true;
        w->ScanDisk();

        const ScanResult &r = w->LastScanResult;
        EXPECT_EQ(r.end, ScanEnd::Finished) << messages.join(" | ").toStdString();
        EXPECT_LE(r.bytesScanned, m.mediumBytes);
        if (!m.fits) {
            EXPECT_EQ(r.bytesScanned, m.mediumBytes);
        }
        // The picture, whole, at the start of the one file found (how far
        // past its end the file runs is the finishing's matter).
        ASSERT_EQ(w->FoundFiles.FoundFileNames.size(), 1);
        EXPECT_TRUE(w->FoundFiles.FoundFileNames[0].endsWith(".jpg"));
        const QByteArray found = readFileBytes(plat::toNative(w->CacheRoot) + '/' + w->FoundFiles.FoundFileNames[0]);
        EXPECT_EQ(found.left(jpeg.size()), jpeg);
        detachDrive('E');
    }
}
