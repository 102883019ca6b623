// The parts of the scan on their own: the unit test against the table's
// literal prefix search, the unit geometry and read sizes, found-file names
// from the medium, exclusive creation, and the true-end cut.
#include "tests/scan/scan_images.h"

#include "drive/driveinfo.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

QByteArray unitWith(const QByteArray &start, quint32 seed, int size = 1024)
{
    QByteArray b = patternBytes(size, seed);
    b.replace(0, start.size(), start);
    return b;
}

int fastMatch(const SignaturePrefixIndex &ix, const QByteArray &unit, int bps = 512)
{
    auto p = reinterpret_cast<const unsigned char *>(unit.constData());
    return ix.match(p, size_t(qMin<qsizetype>(bps, unit.size())), p, size_t(qMin<qsizetype>(1024, unit.size())));
}

} // namespace

TEST(SignaturePrefixIndex, GivesTheRowOfTheLiteralPrefixSearch)
{
    SignatureRows all;
    BuildSignatureTable("all", all);
    SignaturePrefixIndex ix(all);
    EXPECT_EQ(ix.prefixLength(), 1);   // the two-byte rows give N = 1
    EXPECT_EQ(ix.prefixText().size(), qsizetype(2 * all.size()));

    // Every row's own start, with and without its second signature, and
    // heads that share a prefix with a row.
    QList<QByteArray> units;
    quint32 seed = 1;
    for (const SignatureRecord &r : all) {
        units << unitWith(r.Sig1 + QByteArray(4, '\0') + r.Sig2, seed++);
        units << unitWith(r.Sig1, seed++);
        units << unitWith(r.Sig1.left(2), seed++);
    }
    // Rows that read a structure: a movie's boxes, the packs of a program stream.
    const QList<QPair<const char *, QByteArray>> structured{
        {"00000014667479707174202000000200717420200000000877696465", ".mov"},
        {"00000008776964650000075C6D646174", ".mov"},
        {"000001BA44000400040143363BF8", ".mpg"},
        {"000001BA2100010001A19B1D", ".mpg"}};
    for (const auto &[start, ext] : structured) {
        units << unitWith(QByteArray::fromHex(start), seed++);
        const int row = fastMatch(ix, units.last());
        ASSERT_GE(row, 0) << start;
        EXPECT_EQ(all[size_t(row)].Ext, ext);
    }
    QRandomGenerator rng(7);
    for (int i = 0; i < 2000; ++i) {
        QByteArray u = patternBytes(1024, 1000 + i);
        const SignatureRecord &r = all[rng.bounded(int(all.size()))];
        u.replace(0, qMin<qsizetype>(r.Sig1.size(), 1 + rng.bounded(6)), r.Sig1);
        units << u;
    }
    int matched = 0;
    for (const QByteArray &u : units) {
        const int lit = ix.matchByPrefixText(u.left(512), u);
        EXPECT_EQ(fastMatch(ix, u), lit) << u.left(16).toHex().toStdString();
        matched += lit >= 0;
    }
    EXPECT_GT(matched, int(all.size()));

    // Sig2 is searched from half of Sig1's length on, so it may overlap Sig1.
    SignatureRows t{{".jpg", "JPEG File ", QByteArray::fromHex("FFD8FFE1"), "Ex", "", "", 0, 0}};
    SignaturePrefixIndex one(t);
    EXPECT_EQ(fastMatch(one, unitWith(QByteArray::fromHex("FFD8FFE1") + "Ex", 3)), 0);
    SignatureRows overlap{{".x", "X         ", "ABCD", "BCD", "", "", 0, 0}};
    SignaturePrefixIndex ov(overlap);
    EXPECT_EQ(fastMatch(ov, unitWith("ABCD", 4)), 0);
    // The window is cut at the end of the data; a short head matches nothing longer.
    EXPECT_EQ(fastMatch(one, QByteArray::fromHex("FFD8FFE1")), -1);
    EXPECT_EQ(fastMatch(one, QByteArray::fromHex("FFD8")), -1);
    // An empty table matches nothing and does not divide by zero.
    SignatureRows empty;
    ClearSignatureTable(empty);
    SignaturePrefixIndex none(empty);
    EXPECT_EQ(none.prefixLength(), 0);
    EXPECT_EQ(fastMatch(none, unitWith("", 5)), -1);
    EXPECT_EQ(none.matchByPrefixText(QByteArray(512, 'a'), QByteArray(1024, 'a')), -1);
}

TEST(UnitGeometry, OneOffsetRuleForFatNtfsAndRawSources)
{
    const QString dir = makeTempDir("geo");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 40960;
    spec.sectorsPerCluster = 1;
    const QString fat = makeFatImage(dir, "f.img", spec);
    ASSERT_FALSE(fat.isEmpty());
    const QByteArray boot = readFileBytes(fat, 0, 512);
    const UnitGeometry g = GeometryOfImageFile(fat);
    const int64_t reserved = uint8_t(boot[14]) | (uint8_t(boot[15]) << 8);
    const int64_t fatSize = uint8_t(boot[36]) | (uint8_t(boot[37]) << 8) | (uint8_t(boot[38]) << 16);
    EXPECT_EQ(g.fileSystem, "FAT32");
    EXPECT_EQ(g.firstUnit, 2);
    EXPECT_EQ(g.offsetOfUnit(2), (reserved + 2 * fatSize) * 512);
    EXPECT_EQ(g.offsetOfUnit(g.endUnit()), g.baseOffset + g.unitCount * 512);
    EXPECT_LE(g.offsetOfUnit(g.endUnit()), 40960 * 1024);
    EXPECT_EQ(g.unitAtOffset(g.offsetOfUnit(77)), 77);
    EXPECT_EQ(g.unitAtOffset(0), 2);   // never a unit before the first

    // NTFS: unit 0 at offset 0; 64-sector clusters become 8-sector units.
    QByteArray ntfs(512, '\0');
    ntfs.replace(3, 8, "NTFS    ");
    ntfs[11] = 0x00;
    ntfs[12] = 0x02;
    ntfs[13] = 64;
    ntfs[0x40] = char(0xF6);   // records of 1 KiB
    const qint64 total = 1 << 20;
    for (int i = 0; i < 8; ++i)
        ntfs[40 + i] = char((total >> (8 * i)) & 0xFF);
    const UnitGeometry n = GeometryOfBootSector(ntfs, total * 512);
    EXPECT_EQ(n.fileSystem, "NTFS");
    EXPECT_EQ(n.firstUnit, 0);
    EXPECT_EQ(n.offsetOfUnit(0), 0);
    EXPECT_EQ(n.sectorsPerUnit, 8);
    EXPECT_EQ(n.clusterSectors, 64);
    EXPECT_EQ(n.unitCount, total / 8);
    EXPECT_EQ(n.unitOfCluster(3), 24);   // names scale to sub-cluster units

    // Nothing known: 512-byte units over the file; a partial last unit counts.
    const UnitGeometry raw = GeometryOfBootSector(QByteArray(512, 'x'), 10000);
    EXPECT_EQ(raw.unitBytes, 512);
    EXPECT_EQ(raw.unitCount, 20);
    EXPECT_EQ(raw.unitOfCluster(5), -1);

    // A drive under DeepScan: sectors from the first data sector.
    DriveInfoRecord d;
    d.BytesPerSector = 512;
    d.SectorsPerCluster = 8;
    d.TotalClusters = 1000;
    d.FirstDataSector = 100;
    d.FirstCluster = 2;
    const UnitGeometry deep = GeometryOfDrive(d, true);
    EXPECT_EQ(deep.unitCount, 8000);
    EXPECT_EQ(deep.offsetOfUnit(3), 101 * 512);
    EXPECT_EQ(GeometryOfDrive(d, false).offsetOfUnit(3), (100 + 8) * 512);
    d.BytesPerSector = 520;
    EXPECT_FALSE(GeometryOfDrive(d, false).valid());

    // Read sizes.
    ReadSizeFacts f;
    f.unitBytes = 4096;
    f.unitCount = 1000000;
    f.sectorsPerUnit = 8;
    f.freeMemoryMB = 10000;
    EXPECT_EQ(UnitsPerRead(f), 66 * 1048576 / 4096);
    f.image = true;
    EXPECT_EQ(UnitsPerRead(f), 128);
    f.unitCount = 100;
    EXPECT_EQ(UnitsPerRead(f), 5);
    f.unitCount = 10;   // a twentieth rounds to 0: raised to a KiB
    f.unitBytes = 512;
    f.sectorsPerUnit = 2;
    EXPECT_EQ(UnitsPerRead(f), 2);
}

TEST(FoundFiles, NamesFromTheMediumStayInsideTheCacheAndNeverOverwrite)
{
    EXPECT_EQ(RecoveredFileName(0, ".jpg"), "R#0000.jpg");
    EXPECT_EQ(RecoveredFileName(12, ".png"), "R#0012.png");
    EXPECT_EQ(RecoveredFileName(12345, ".jpg"), "R#12345.jpg");
    EXPECT_EQ(SanitizeMediumName("..\\..\\pwn.jpg"), "pwn.jpg");
    EXPECT_EQ(SanitizeMediumName("a/b.jpg"), "ab.jpg");
    EXPECT_EQ(SanitizeMediumName(QString("x\x01y\ty?.jpg")), "xyy.jpg");
    EXPECT_EQ(SanitizeMediumName("  ..."), "");
    EXPECT_EQ(SanitizeMediumName("IMG_0001.JPG"), "IMG_0001.JPG");
    EXPECT_EQ(SanitizeMediumName("photo.jpg "), "photo.jpg");
    EXPECT_EQ(SanitizeMediumName(".profile."), "profile");
    EXPECT_EQ(SanitizeMediumName(QString(70, 'a')), QString(70, 'a'));
    // At most 200 bytes of UTF-8: the name loses its front.
    EXPECT_EQ(SanitizeMediumName(QString(100, QChar(0xE9))), QString(100, QChar(0xE9)));
    EXPECT_EQ(SanitizeMediumName("x" + QString(100, QChar(0xE9))), QString(100, QChar(0xE9)));
    EXPECT_EQ(FoundFileDisplayLine(7, "JPEG File"), "007 JPEG File");
    EXPECT_EQ(FoundFileDisplayLine(12, "Canon EOS 350D Rebel XT"), "012 Canon EOS XT");
    EXPECT_LE(FoundFileDisplayLine(3, "Averyveryverylongsingleword").size(), 16);

    const QString dir = makeTempDir("names");
    QDir().mkpath(dir + "/cache");
    const QString cache = dir + "/cache";
    writeFileBytes(cache + "/IMG_0001.JPG", "earlier");
    QString name = "IMG_0001.JPG";
    int fd = CreateFoundFile(cache, name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(name, "IMG_0001-1.JPG");
    EXPECT_EQ(readFileBytes(cache + "/IMG_0001.JPG"), "earlier");
    name = "../../pwn.jpg";
    fd = CreateFoundFile(cache, name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_FALSE(name.contains('/'));
    EXPECT_TRUE(QFile::exists(cache + "/" + name));
    EXPECT_FALSE(QFile::exists(dir + "/pwn.jpg"));
    // A link planted in the cache is not followed.
    ASSERT_EQ(::symlink((dir + "/target").toLocal8Bit().constData(), (cache + "/link.jpg").toLocal8Bit().constData()), 0);
    name = "link.jpg";
    fd = CreateFoundFile(cache, name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(name, "link-1.jpg");
    EXPECT_FALSE(QFile::exists(dir + "/target"));
}

TEST(FoundFiles, TheTrueEndCutStepsBackOnlyOverZeroBytes)
{
    const QString dir = makeTempDir("trueend");
    // A file of a type without a structure walk, of whole 4 KiB units, whose
    // last sector holds 1 to 511 bytes.
    for (int tail = 1; tail <= 511; tail += (tail < 450 ? 7 : 3)) {
        QByteArray data = patternBytes(3 * 4096 + 512 * 3 + tail - 2, uint32_t(tail)) + QByteArray::fromHex("FFD9");
        const QByteArray slack((4096 - data.size() % 4096) % 4096 + 4096, '\0');
        const QString path = dir + QStringLiteral("/t%1.ico").arg(tail);
        writeFileBytes(path, data + slack);
        EXPECT_EQ(CutToTrueEnd(path, 4096, 512), data.size()) << tail;
        EXPECT_EQ(readFileBytes(path), data) << tail;
    }
    // A RAW file keeps one zero byte; a BMP keeps what its header states.
    QByteArray raw = patternBytes(5000, 9) + QByteArray(3192, '\0');
    writeFileBytes(dir + "/a.cr2", raw);
    EXPECT_EQ(CutToTrueEnd(dir + "/a.cr2", 4096, 512), 5001);
    QByteArray bmp = "BM" + QByteArray(4, '\0') + patternBytes(3000, 5) + QByteArray(994, '\0');
    const uint32_t stated = 3500;
    bmp[2] = char(stated & 255);
    bmp[3] = char(stated >> 8);
    bmp += QByteArray(8192 - bmp.size(), '\0');
    writeFileBytes(dir + "/a.bmp", bmp);
    EXPECT_EQ(CutToTrueEnd(dir + "/a.bmp", 4096, 512), 3500);
    // Not a whole number of units: only trailing bytes go.
    writeFileBytes(dir + "/b.png", patternBytes(5000, 3) + QByteArray(100, '\0'));
    EXPECT_EQ(CutToTrueEnd(dir + "/b.png", 4096, 512), 5000);
    // A long zero tail goes in one cut.
    writeFileBytes(dir + "/c.gif", patternBytes(700, 4) + QByteArray(8 << 20, '\0'));
    EXPECT_EQ(CutToTrueEnd(dir + "/c.gif", 4096, 512), 700);
    EXPECT_FALSE(IsTrueEndExtension("x.pdf"));
    EXPECT_TRUE(IsTrueEndExtension("R#0001.jpeg"));
}

TEST(ScanEngine, DeletedEntriesNameAndCutTheirFiles)
{
    const QString dir = makeTempDir("entries");
    const QList<scan_images::CorpusFile> files = scan_images::makeCorpus(dir);
    if (files.isEmpty())
        GTEST_SKIP() << "tools missing";
    // A big WAV of odd length above 16 MiB after the corpus, so its entry size matters.
    QList<scan_images::CorpusFile> withBig = files;
    QByteArray bigWav;
    for (const auto &f : files)
        if (f.ext == ".wav")
            bigWav = f.data;
    bigWav += patternBytes(17000001 - bigWav.size(), 5);
    const uint32_t riff = uint32_t(bigWav.size() - 8);   // its own header, unlike the small one's
    for (int i = 0; i < 4; ++i)
        bigWav[4 + i] = char((riff >> (8 * i)) & 0xFF);
    withBig.append({"BIG.WAV", ".wav", bigWav, scan_images::Expect::ZeroTail});
    // A photo with bytes of its camera behind its end: its entry's size keeps them.
    withBig[0].data += patternBytes(3 * 4096 + 700, 8);
    const QString image = scan_images::makeReformattedImage(dir, "e.img", withBig);
    ASSERT_FALSE(image.isEmpty());
    ScanSource src = scan_images::imageSource(image);
    const QByteArray bytes = readFileBytes(image);
    auto clusterOf = [&](const QByteArray &data) {
        const qint64 at = bytes.indexOf(data.left(512));
        return src.geometry.firstUnit + (at - src.geometry.baseOffset) / src.geometry.clusterBytes();
    };
    ScanOptions opt;
    int pdf = -1, j0 = 0, j1 = 1;
    for (int i = 0; i < withBig.size(); ++i)
        if (withBig[i].ext == ".pdf")
            pdf = i;
    opt.deletedEntries = {
        {"?MG_0001.JPG", "IMG_0001.JPG", QDateTime(), clusterOf(withBig[j0].data), uint64_t(withBig[j0].data.size()), 1, 0x20},
        {"?MG_0001.JPG", "IMG_0001.JPG", QDateTime(), clusterOf(withBig[j1].data), uint64_t(withBig[j1].data.size()), 1, 0x20},
        {"?WN.PDF", "..\\..\\pwn.pdf", QDateTime(), clusterOf(withBig[pdf].data), uint64_t(withBig[pdf].data.size()), 1, 0x20},
        {"BIG.WAV", "BIG.WAV", QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)), clusterOf(bigWav), uint64_t(bigWav.size()), 1, 0x20},
    };
    std::sort(opt.deletedEntries.begin(), opt.deletedEntries.end(),
              [](const ScanDeletedEntry &a, const ScanDeletedEntry &b) { return a.FirstCluster < b.FirstCluster; });
    const QString cache = makeTempDir("cache");
    opt.cacheFolder = scan_images::cacheInternal(cache);
    FoundFileList found;
    SignatureRows table = scan_images::programTable();
    ScanEngine engine(src, table, opt, scan_images::quietCallbacks(), found);
    EXPECT_EQ(engine.run().end, ScanEnd::Finished);
    EXPECT_EQ(found.FoundFileNames.value(j0), "IMG_0001.JPG");
    EXPECT_EQ(found.FoundFileNames.value(j1), "IMG_0001-1.JPG");
    EXPECT_EQ(found.FoundFileNames.value(pdf), "pwn.pdf");
    EXPECT_EQ(found.FoundFileNames.last(), "BIG.WAV");
    EXPECT_EQ(readFileBytes(cache + "/IMG_0001.JPG"), withBig[j0].data);
    EXPECT_EQ(readFileBytes(cache + "/IMG_0001-1.JPG"), withBig[j1].data);
    EXPECT_EQ(readFileBytes(cache + "/pwn.pdf"), withBig[pdf].data);
    EXPECT_EQ(QFileInfo(cache + "/BIG.WAV").size(), 17000001);
    EXPECT_EQ(readFileBytes(cache + "/BIG.WAV"), bigWav);
    EXPECT_TRUE(found.CutToEntry.back());
    EXPECT_EQ(found.listSize(found.counter()), 1000.0f);
    EXPECT_EQ(QFileInfo(cache + "/BIG.WAV").lastModified(), QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)));
    EXPECT_EQ(QDir(cache).entryList(QDir::Files).size(), withBig.size());
    EXPECT_FALSE(QFile::exists(dir + "/pwn.pdf"));
}
