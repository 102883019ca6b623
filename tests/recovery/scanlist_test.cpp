// The scan-list file: the exact bytes of the writer, reading them back, the
// acceptance bounds of the count, hostile and truncated files, and the names
// and keys of the cache.
#include "recovery/cachenames.h"
#include "recovery/scanlist.h"

#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QFile>
#include <gtest/gtest.h>

using testing_support::makeTempDir;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

ScanListData sample()
{
    ScanListData d;
    d.lastScanDriveType = QStringLiteral("Removable");
    d.lastScanSerial = int32_t(0xDEADBEEFu);
    d.resumePosition = 0;
    d.thumbWidth = 72;
    d.thumbCounter = 2;
    d.items = {{QStringLiteral("0001.jpg"), QStringLiteral("R#0001.jpg"), 0},
               {QStringLiteral("0002.JPG"), QStringLiteral("PICT0002.JPG"), 6}};
    d.lastScanSource = QStringLiteral("e:");
    d.lastListIndex = 1;
    d.filterActive = true;
    d.filterName = QStringLiteral("Unsharp");
    d.thumbFlag = false;
    d.noPreviewList = QString();
    d.resumeFileOpen = false;
    d.smartScan = true;
    return d;
}

const QByteArray kGolden = "\"Removable\"\r\n-559038737\r\n0\r\n72\r\n2\r\n2\r\n"
                           "\"0001.jpg\"\r\n\"R#0001.jpg\"\r\n0\r\n"
                           "\"0002.JPG\"\r\n\"PICT0002.JPG\"\r\n6\r\n"
                           "\"e:\"\r\n1\r\n-1\r\n\"Unsharp\"\r\n#FALSE#\r\n\"\"\r\n#FALSE#\r\n#TRUE#\r\n";

QByteArray withCount(int n, bool trailer = true)
{
    QByteArray b = "\"Fixed\"\r\n7\r\n0\r\n0\r\n0\r\n" + QByteArray::number(n) + "\r\n";
    for (int i = 0; i < n; ++i)
        b += "\"" + QByteArray::number(i) + ".jpg\"\r\n\"R#" + QByteArray::number(i) + ".jpg\"\r\n0\r\n";
    if (trailer)
        b += "\"\"\r\n0\r\n0\r\n\"\"\r\n#FALSE#\r\n\"\"\r\n#FALSE#\r\n#FALSE#\r\n";
    return b;
}

} // namespace

TEST(ScanListFile, WritesTheRecordFormByteForByteAndReadsItBack)
{
    EXPECT_EQ(EncodeScanList(sample()), kGolden);

    const QString dir = makeTempDir();
    const QString file = plat::toInternal(dir) + QStringLiteral("\\590.dat");
    ASSERT_TRUE(WriteScanListFile(file, sample()));
    EXPECT_EQ(readFileBytes(dir + "/590.dat"), kGolden);
    EXPECT_FALSE(QFile::exists(dir + "/590.dat.tmp"));

    ScanListData back;
    ASSERT_EQ(ReadScanListFile(file, 2, back), ScanListStatus::Loaded);
    EXPECT_EQ(back.lastScanDriveType, "Removable");
    EXPECT_EQ(back.lastScanSerial, int32_t(0xDEADBEEFu));
    EXPECT_EQ(back.thumbWidth, 72);
    EXPECT_EQ(back.thumbCounter, 2);
    ASSERT_EQ(back.items.size(), 2u);
    EXPECT_EQ(back.items[1].displayText, "0002.JPG");
    EXPECT_EQ(back.items[1].fileName, "PICT0002.JPG");
    EXPECT_EQ(back.items[1].orientation, 6.0f);
    EXPECT_EQ(back.lastScanSource, "e:");
    EXPECT_EQ(back.lastListIndex, 1);
    EXPECT_TRUE(back.filterActive);
    EXPECT_EQ(back.filterName, "Unsharp");
    EXPECT_FALSE(back.thumbFlag);
    EXPECT_TRUE(back.smartScan);
    EXPECT_EQ(EncodeScanList(back), kGolden);
}

TEST(ScanListFile, FreeTextsCannotBreakTheLinesAndUnsafeNamesAreNotWritten)
{
    ScanListData d = sample();
    d.items[0].displayText = QStringLiteral("a\"b\r\nc");
    d.noPreviewList = QStringLiteral("x\ny");
    const QByteArray bytes = EncodeScanList(d);
    EXPECT_TRUE(bytes.contains("\"a'b__c\"\r\n"));
    EXPECT_TRUE(bytes.contains("\"x_y\"\r\n"));
    ScanListData back;
    EXPECT_EQ(DecodeScanList(bytes, 2, back), ScanListStatus::Loaded);

    for (const QString &bad : {QStringLiteral("a\"b.jpg"), QStringLiteral("../x"), QStringLiteral("a/b"),
                               QStringLiteral(".."), QStringLiteral("\u4e2d.jpg")}) {
        d = sample();
        d.items[0].fileName = bad;
        EXPECT_TRUE(EncodeScanList(d).isEmpty()) << bad.toStdString();
    }
    // A list that cannot be written leaves the old file: a list file is only
    // ever replaced by a complete new one.
    const QString dir = makeTempDir();
    const QString file = plat::toInternal(dir) + QStringLiteral("\\1.dat");
    ASSERT_TRUE(WriteScanListFile(file, sample()));
    EXPECT_FALSE(WriteScanListFile(file, d));
    EXPECT_EQ(readFileBytes(dir + "/1.dat"), EncodeScanList(sample()));
}

// A list longer than a list file holds is written with its first 32,760
// items, and that file describes a folder of more files.
TEST(ScanListFile, AListPastItsCapacityIsWrittenWithTheItemsItHolds)
{
    ScanListData d = sample();
    d.items.clear();
    for (int i = 0; i < 40000; ++i)
        d.items.push_back({QStringLiteral("%1 JPEG").arg(i), QStringLiteral("R#%1.jpg").arg(i, 4, 10, QChar('0')), 0});
    const QByteArray bytes = EncodeScanList(d);
    ASSERT_FALSE(bytes.isEmpty());
    ScanListData back;
    EXPECT_EQ(DecodeScanList(bytes, 40000, back), ScanListStatus::Loaded);
    ASSERT_EQ(int(back.items.size()), ScanListCapacity);
    EXPECT_EQ(back.items.back().fileName, QStringLiteral("R#32759.jpg"));
    EXPECT_EQ(back.smartScan, d.smartScan);   // the trailer follows the items it holds
    EXPECT_TRUE(ScanListCountAccepted(ScanListCapacity, 40000));
    EXPECT_FALSE(ScanListCountAccepted(ScanListCapacity - 4000, 40000));
    EXPECT_FALSE(ScanListCountAccepted(ScanListCapacity + 1, 40000));
}

TEST(ScanListFile, TheCountMustFitTheFolder)
{
    // 100 files: u = 99.
    struct Case {
        int n;
        bool accepted;
    } cases[] = {{0, false}, {-3, false}, {89, false}, {90, true}, {100, true}, {101, false}};
    for (const Case &c : cases) {
        EXPECT_EQ(ScanListCountAccepted(c.n, 100), c.accepted) << c.n;
        ScanListData d;
        const ScanListStatus s = DecodeScanList(withCount(c.n), 100, d);
        EXPECT_EQ(s, c.accepted ? ScanListStatus::Loaded : ScanListStatus::Refused) << c.n;
        EXPECT_EQ(d.lastScanSerial, 7) << "the header is read in every case";
        EXPECT_EQ(int(d.items.size()), c.accepted ? c.n : 0);
    }
    ScanListData d;
    EXPECT_EQ(DecodeScanList(withCount(40000), 40001, d), ScanListStatus::Refused);
    EXPECT_EQ(DecodeScanList(QByteArray(), 1, d), ScanListStatus::Missing);
}

TEST(ScanListFile, HostileAndTruncatedFiles)
{
    ScanListData d;
    QByteArray hostile = withCount(2);
    hostile.replace("\"R#1.jpg\"", "\"../x\"");
    EXPECT_EQ(DecodeScanList(hostile, 2, d), ScanListStatus::Refused);
    hostile = withCount(2);
    hostile.replace("\"R#0.jpg\"", "\"sub\\\\x.jpg\"");
    EXPECT_EQ(DecodeScanList(hostile, 2, d), ScanListStatus::Refused);

    // Ending inside the item list: the items read so far stay, not loaded.
    QByteArray cut = withCount(3, false);
    cut.chop(int(QByteArray("\"R#2.jpg\"\r\n0\r\n").size()));
    d = ScanListData();
    EXPECT_EQ(DecodeScanList(cut, 3, d), ScanListStatus::Partial);
    EXPECT_EQ(d.items.size(), 2u);
    // Ending after the items: loaded, the missing trailer keeps its defaults.
    d = ScanListData();
    EXPECT_EQ(DecodeScanList(withCount(3, false), 3, d), ScanListStatus::Loaded);
    EXPECT_EQ(d.items.size(), 3u);

    // What a BASIC writer produces for numbers is read.
    EXPECT_DOUBLE_EQ(RecordNumberValue(".5"), 0.5);
    EXPECT_DOUBLE_EQ(RecordNumberValue("1E+20"), 1e20);
    EXPECT_DOUBLE_EQ(RecordNumberValue("  -3x"), -3);
    EXPECT_DOUBLE_EQ(RecordNumberValue("abc"), 0);
    EXPECT_EQ(RecordNumberText(0.5), ".5");
    EXPECT_EQ(RecordNumberText(-0.25), "-.25");
    EXPECT_EQ(RecordNumberText(101), "101");
}

TEST(CacheNames, KeysNamesAndDisplayTexts)
{
    EXPECT_EQ(MakeCacheKeyOf(QStringLiteral("abc")), "590");
    // 4,000 bytes of "z" overflow 32 bits (122 x 4000 x 4001 / 2).
    EXPECT_EQ(MakeCacheKeyOf(QString(4000, QLatin1Char('z'))), QString::number(122LL * 4000 * 4001 / 2));

    EXPECT_EQ(FoundFileName(1, "jpg"), "R#0001.jpg");
    EXPECT_EQ(FoundFileName(12345, "CR2"), "R#12345.CR2");
    EXPECT_EQ(ThumbnailNameOf("R#0001.jpg"), "0001jpg.jpg");
    EXPECT_EQ(ThumbnailNameOf("IMG_1234.JPG"), "IMG_1234JPG.jpg");

    EXPECT_EQ(FoundFileDisplayText("R#0001.jpg"), "0001.jpg");
    EXPECT_EQ(FoundFileDisplayText("PICT0042.JPG"), "0042.JPG");
    EXPECT_EQ(FoundFileDisplayText("abcdefghijklmnopqrst"), "ijklmnopqrst");

    EXPECT_EQ(OrphanPatternOf("R#0001.jpg", false), "R#0001.*");
    EXPECT_EQ(OrphanPatternOf("0001jpg.jpg", true), "0001.*");
    EXPECT_EQ(OrphanPatternOf("0001jpeg.jpg", true), "0001j.*");
    EXPECT_EQ(OrphanPatternOf("noext", false), "");
}
