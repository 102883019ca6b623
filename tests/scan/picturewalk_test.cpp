// The structure walks on pictures made by real tools: the end each one
// finds, fed whole or in pieces, with foreign bytes behind; cut short or
// damaged, the walk ends inside the bytes and says how far the structure
// held. The true-end cut on files, and the scan of cards whose every byte
// was random before the pictures were copied in: every picture comes back
// byte for byte.
#include "scan/foundfiles.h"
#include "scan/picturewalk.h"
#include "tests/scan/picture_cards.h"
#include "tests/scan/scan_images.h"
#include "tests/support/fixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QSet>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace picture_cards;

namespace {

const QList<Picture> &pictures()
{
    static const QList<Picture> p = makePictures(makeTempDir("pictures"));
    return p;
}

#define REQUIRE_PICTURES()                                                                                \
    if (pictures().isEmpty())                                                                             \
    GTEST_SKIP() << "cjpeg, jpegtran, exiftool or imagemagick missing"

PictureFormat formatOf(const Picture &p)
{
    const auto *b = reinterpret_cast<const unsigned char *>(p.data.constData());
    return PictureFormatOfHeader(b, size_t(p.data.size()), p.name.endsWith(".BMP"), p.name.endsWith(".PCX"));
}

PictureExtent walk(PictureFormat f, const QByteArray &bytes)
{
    return WalkPicture(f, reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()));
}

// The walk of bytes fed in pieces of random sizes, as the scan feeds units.
PictureExtent walkInPieces(PictureFormat f, const QByteArray &bytes, quint32 seed)
{
    PictureWalker w(f);
    QRandomGenerator rng(seed);
    qsizetype at = 0;
    while (at < bytes.size() && w.wantsMore()) {
        const qsizetype k = std::min<qsizetype>(bytes.size() - at, 1 + rng.bounded(700));
        w.feed(reinterpret_cast<const unsigned char *>(bytes.constData()) + at, size_t(k));
        at += k;
    }
    return w.result();
}

QByteArray sha(const QByteArray &b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256); }

} // namespace

TEST(PictureWalks, ToolMadePicturesEndWhereTheirStructureEnds)
{
    REQUIRE_PICTURES();
    for (const Picture &p : pictures()) {
        SCOPED_TRACE(p.name.toStdString());
        const PictureFormat f = formatOf(p);
        ASSERT_NE(f, PictureFormat::None);
        // Another file's bytes behind it, and random bytes.
        for (const QByteArray &behind : {nonZeroBytes(9000, 3), pictures().first().data}) {
            const PictureExtent e = walk(f, p.data + behind);
            EXPECT_EQ(e.walk, PictureExtent::Walk::Complete);
            EXPECT_EQ(e.end, p.data.size());
            EXPECT_GT(e.width, 0);
            EXPECT_GT(e.height, 0);
            if (f != PictureFormat::Tiff) {
                const PictureExtent pieces = walkInPieces(f, p.data + behind, quint32(p.data.size()));
                EXPECT_EQ(pieces.walk, PictureExtent::Walk::Complete);
                EXPECT_EQ(pieces.end, p.data.size());
            }
        }
        // Cut short: the walk does not claim an end, and what it says held
        // lies inside the bytes it had.
        for (const qsizetype cut : {p.data.size() / 3, p.data.size() - 1}) {
            const PictureExtent e = walk(f, p.data.left(cut));
            EXPECT_EQ(e.walk, PictureExtent::Walk::Incomplete) << cut;
            EXPECT_LE(e.end, cut);
        }
    }
}

TEST(PictureWalks, MultiPictureIndexesAreFollowedOnlyWhenTheyHold)
{
    REQUIRE_PICTURES();
    const QByteArray first = pictures().first().data;
    const QByteArray second = pictures()[1].data;
    const QByteArray multi = makeMultiPicture(first, second);
    PictureExtent e = walk(PictureFormat::Jpeg, multi + nonZeroBytes(5000, 1));
    EXPECT_EQ(e.walk, PictureExtent::Walk::Complete);
    EXPECT_EQ(e.end, multi.size());
    // The index points at bytes that are no picture: the end of the first
    // picture is known, but not trusted to be the end.
    QByteArray broken = multi;
    broken[multi.size() - second.size()] = 'X';
    e = walk(PictureFormat::Jpeg, broken + nonZeroBytes(5000, 1));
    EXPECT_EQ(e.walk, PictureExtent::Walk::Incomplete);
    EXPECT_EQ(e.end, multi.size() - second.size());
}

TEST(PictureWalks, DamagedStructuresEndTheWalkInsideTheBytes)
{
    auto bytes = [](const char *hex) { return QByteArray::fromHex(hex); };
    struct Case {
        PictureFormat f;
        QByteArray data;
    };
    QByteArray loop("II*\0\x08\0\0\0", 8);   // an IFD whose next IFD is itself
    loop += bytes("0100" "0001" "0400" "01000000" "20000000" "08000000");
    QByteArray huge("MM\0*\0\0\0\x08", 8);   // a strip far behind the file
    huge += bytes("0002" "0111" "0004" "00000001" "7FFFFFF0" "0117" "0004" "00000001" "00001000" "00000000");
    const Case cases[] = {
        {PictureFormat::Tiff, loop},
        {PictureFormat::Tiff, huge},
        {PictureFormat::Tiff, QByteArray("II*\0\xF0\xFF\xFF\xFF", 8) + QByteArray(64, '\x11')},
        {PictureFormat::Jpeg, bytes("FFD8FFE00001")},             // a segment length below 2
        {PictureFormat::Jpeg, bytes("FFD8FFD9")},                 // no frame before the end
        {PictureFormat::Jpeg, bytes("FFD8FFC4000341FFD8")},       // a second start of picture
        {PictureFormat::Png, QByteArray("\x89PNG\r\n\x1a\n", 8) + bytes("7FFFFFFF49484452")},
        {PictureFormat::Gif, QByteArray("GIF89a\x01\0\x01\0\0\0\0", 13) + bytes("2C000000000100010000" "00")},
        {PictureFormat::Bmp, QByteArray("BM\xFF\xFF\xFF\x7F\0\0\0\0\x36\0\0\0\x28\0\0\0", 18) + QByteArray(40, '\x7F')},
        {PictureFormat::Pcx, QByteArray("\x0A\x05\x01\x08", 4) + QByteArray(124, '\xFF')},
    };
    for (const Case &c : cases) {
        const QByteArray data = c.data + nonZeroBytes(3000, 9);
        const PictureExtent e = walk(c.f, data);
        EXPECT_EQ(e.walk, PictureExtent::Walk::Incomplete) << c.data.toHex().toStdString();
        EXPECT_LE(e.end, data.size());
    }
}

// The faults of the zero rule: a TIFF whose last IFD ends in its zero
// next-IFD offset lost it, a 16-colour PCX lost the zero tail of its
// palette, a RAW file ending in its IFD lost it too, and pictures kept the
// foreign bytes behind them. Cut by their structure, all come back whole.
TEST(TrueEndCut, PicturesFollowedByZerosOrForeignBytesAreCutToThemselves)
{
    REQUIRE_PICTURES();
    const QString dir = makeTempDir("cut");
    TrueEndCutter cutter;
    for (const Picture &p : pictures()) {
        SCOPED_TRACE(p.name.toStdString());
        const int64_t whole = (p.data.size() / 4096 + 2) * 4096;
        for (const QByteArray &behind : {QByteArray(int(whole - p.data.size()), '\0'),
                                         nonZeroBytes(int(whole - p.data.size()), 4)}) {
            const QString path = dir + '/' + p.name.toLower();
            writeFileBytes(path, p.data + behind);
            EXPECT_EQ(cutter.cut(path, 4096, 512), p.data.size());
            EXPECT_EQ(sha(readFileBytes(path)), sha(p.data));
        }
    }
}

TEST(TrueEndCut, APictureCutShortKeepsTheZeroRuleResultAndAllItsBytes)
{
    REQUIRE_PICTURES();
    const QString dir = makeTempDir("short");
    // A JPEG cut by the next file at a unit boundary: nothing of it goes.
    const QByteArray jpeg = pictures().first().data.left(3 * 4096);
    writeFileBytes(dir + "/a.jpg", jpeg);
    EXPECT_EQ(CutToTrueEnd(dir + "/a.jpg", 4096, 512), jpeg.size());
    // A RAW file cut inside its black last rows: its IFDs and strips
    // reach past the end, so the zero rule keeps the zero bytes too.
    const QByteArray raw = makeRaw(pictures().first().data, false, false, 5);
    const QByteArray cutRaw = raw.left(raw.size() - 100);
    writeFileBytes(dir + "/b.nef", cutRaw);
    EXPECT_EQ(CutToTrueEnd(dir + "/b.nef", 4096, 512), cutRaw.size());
    // A picture of a type without a walk keeps the zero rule.
    writeFileBytes(dir + "/c.ico", patternBytes(5000, 2) + QByteArray(3192, '\0'));
    EXPECT_EQ(CutToTrueEnd(dir + "/c.ico", 4096, 512), 5000);
    // A damaged JPEG: the zero rule, never below where its structure broke.
    QByteArray damaged = pictures().first().data;
    const qsizetype sos = damaged.indexOf("\xFF\xDA");
    damaged[sos + 1] = char(0xD8);   // a start of picture where the scan began
    damaged += QByteArray(4096 - damaged.size() % 4096, '\0');
    writeFileBytes(dir + "/d.jpg", damaged);
    const int64_t kept = CutToTrueEnd(dir + "/d.jpg", 4096, 512);
    EXPECT_GE(kept, sos);
    EXPECT_EQ(readFileBytes(dir + "/d.jpg"), damaged.left(kept));
}

// Cards whose every byte was random before formatting: every picture is
// followed by non-zero bytes (its last unit's slack, or the next file's
// data), and comes back byte for byte.
TEST(PictureCards, EveryPictureOfARandomFilledCardComesBackWhole)
{
    REQUIRE_PICTURES();
    const QString dir = makeTempDir("cards");
    QList<QPair<QString, QByteArray>> files;
    int blob = 0;
    for (const Picture &p : pictures()) {
        files.append({p.name, p.data});
        if (files.size() % 3 == 0) {   // a file of no known type behind it
            ++blob;
            files.append({QStringLiteral("DATA%1.BIN").arg(blob), nonZeroBytes(6000 + 1000 * blob, 40 + blob)});
        }
    }
    for (const int spc : {8, 1}) {
        SCOPED_TRACE(spc);
        const QString image = makeRandomCard(dir, QStringLiteral("card%1.img").arg(spc), files, spc);
        ASSERT_FALSE(image.isEmpty());
        const QString cache = makeTempDir("cache");
        ScanOptions opt;
        opt.cacheFolder = scan_images::cacheInternal(cache);
        opt.freeMemoryMB = 0;
        FoundFileList found;
        SignatureRows table = scan_images::programTable();
        ScanEngine engine(scan_images::imageSource(image), table, opt, scan_images::quietCallbacks(), found);
        ASSERT_EQ(engine.run().end, ScanEnd::Finished);
        QSet<QByteArray> got;
        for (const QString &name : QDir(cache).entryList(QDir::Files))
            got.insert(sha(readFileBytes(cache + '/' + name)));
        for (const Picture &p : pictures())
            EXPECT_TRUE(got.contains(sha(p.data))) << p.name.toStdString() << " not found whole";
    }
}

// A picture cut short by the next file's start keeps all it has; the next
// picture comes back whole.
TEST(PictureCards, APictureCutShortByTheNextFileLosesNothing)
{
    REQUIRE_PICTURES();
    const QString dir = makeTempDir("shortcard");
    const QByteArray big = pictures().first().data;
    const QByteArray jpeg = big.left((big.size() / 4096 - 1) * 4096);
    const QByteArray raw = makeRaw(big, true, false, 8);
    const QByteArray rawCut = raw.left((raw.size() / 4096 - 1) * 4096);
    const QByteArray png = pictures()[8].data;
    ASSERT_TRUE(png.startsWith("\x89PNG"));
    const QString image = makeRandomCard(dir, "c.img", {{"A.JPG", jpeg}, {"B.NEF", rawCut}, {"C.PNG", png}}, 8);
    ASSERT_FALSE(image.isEmpty());
    const QString cache = makeTempDir("cache");
    ScanOptions opt;
    opt.cacheFolder = scan_images::cacheInternal(cache);
    opt.freeMemoryMB = 0;
    FoundFileList found;
    SignatureRows table = scan_images::programTable();
    ScanEngine engine(scan_images::imageSource(image), table, opt, scan_images::quietCallbacks(), found);
    ASSERT_EQ(engine.run().end, ScanEnd::Finished);
    ASSERT_GE(found.FoundFileNames.size(), 3);
    EXPECT_EQ(readFileBytes(cache + '/' + found.FoundFileNames[0]), jpeg);
    EXPECT_EQ(readFileBytes(cache + '/' + found.FoundFileNames[1]), rawCut);
    EXPECT_EQ(readFileBytes(cache + '/' + found.FoundFileNames[2]), png);
}

// A scan stopped while a picture is being written and resumed: the
// resumed file is walked from the cache and cut as a whole scan cuts it.
TEST(PictureCards, AResumedScanCutsItsOpenPictureByItsStructure)
{
    REQUIRE_PICTURES();
    const QString dir = makeTempDir("resumecard");
    QList<QPair<QString, QByteArray>> files;
    for (const Picture &p : pictures())
        files.append({p.name, p.data});
    const QString image = makeRandomCard(dir, "r.img", files, 1);
    ASSERT_FALSE(image.isEmpty());
    const ScanSource src = scan_images::imageSource(image);
    int stoppedInAFile = 0;
    for (const int stopAfter : {1, 2, 3}) {
        SCOPED_TRACE(stopAfter);
        const QString cache = makeTempDir("cache");
        ScanOptions opt;
        opt.cacheFolder = scan_images::cacheInternal(cache);
        opt.freeMemoryMB = 0;
        FoundFileList found;
        ScanCallbacks cb = scan_images::quietCallbacks();
        auto reads = std::make_shared<int>(0);
        cb.stopRequested = [reads, stopAfter] { return ++*reads > stopAfter; };
        SignatureRows table = scan_images::programTable();
        ScanResult first = ScanEngine(src, table, opt, cb, found).run();
        ASSERT_EQ(first.end, ScanEnd::Stopped);
        stoppedInAFile += first.resume.fileOpen;
        ScanOptions more = opt;
        more.resume = first.resume;
        ASSERT_EQ(ScanEngine(src, table, more, scan_images::quietCallbacks(), found).run().end, ScanEnd::Finished);
        QSet<QByteArray> got;
        for (const QString &name : QDir(cache).entryList(QDir::Files))
            got.insert(sha(readFileBytes(cache + '/' + name)));
        for (const Picture &p : pictures())
            EXPECT_TRUE(got.contains(sha(p.data))) << p.name.toStdString() << " not found whole";
    }
    EXPECT_GT(stoppedInAFile, 0);
}
