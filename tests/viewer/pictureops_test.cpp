// Drawing picture files: the eight EXIF orientations against Qt's own EXIF
// transform, the fit and its pixels, the grid thumbnail (once, letter-boxed
// when turned), the JPEG names, a camera-size picture, damaged files; the
// decode budget; the worker queue that decodes ahead while the window waits.
#include "tests/support/fixtures.h"
#include "tests/viewer/viewer_samples.h"
#include "viewer/decodequeue.h"
#include "viewer/exifprops.h"
#include "viewer/pictureops.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>
#include <atomic>
#include <semaphore>
#include <gtest/gtest.h>
#include <utime.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

struct Drawn {
    bool ok = false;
    QImage canvas;
    QStringList lines;
    DrawThumbnailCall call;
};

Drawn draw(const QString &file, QSize box, int orientation = 0, bool exif = true,
           DrawTarget target = DrawTarget::Preview, const QString &thumbFolder = QString(),
           const QString &thumbName = QString(), int thumbWidth = 72)
{
    Drawn d;
    d.canvas = QImage(box, QImage::Format_RGB32);
    d.canvas.fill(Qt::white);
    static int o;
    o = orientation;
    d.call.canvas = &d.canvas;
    d.call.boxWidth = box.width() * 15.0;
    d.call.boxHeight = box.height() * 15.0;
    d.call.target = target;
    d.call.file = file;
    d.call.exifListing = exif;
    d.call.lines = &d.lines;
    d.call.thumbFolder = thumbFolder;
    d.call.thumbName = thumbName;
    d.call.thumbWidth = thumbWidth;
    d.call.orientation = &o;
    d.ok = DrawThumbnail(d.call);
    d.call.canvas = nullptr;
    d.call.lines = nullptr;
    return d;
}

// The red and the blue corner of the drawn picture agree with Qt's EXIF
// transform of the file, scaled into the same place.
void expectSameCorners(const QImage &canvas, const QRect &rect, const QImage &expected)
{
    const QImage want = expected.scaled(rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (const double fx : {0.1, 0.9})
        for (const double fy : {0.1, 0.9}) {
            const int x = int(rect.width() * fx), y = int(rect.height() * fy);
            EXPECT_TRUE(near(canvas.pixelColor(rect.x() + x, rect.y() + y), want.pixelColor(x, y)))
                << "at " << fx << "," << fy;
        }
}

QString makeSolid(const QString &dir, const QString &name, int w, int h, const char *colour)
{
    const QString path = dir + "/" + name;
    if (runTool("convert", {"-size", QStringLiteral("%1x%2").arg(w).arg(h), QStringLiteral("xc:") + colour, path}) != 0)
        return QString();
    return path;
}

} // namespace

TEST(PictureOps, EveryExifOrientationDrawsTheWayQtTurnsIt)
{
    const QString dir = makeTempDir("orient");
    const QByteArray jpeg = asymmetricJpeg(dir, 60, 40, 95);
    if (jpeg.isEmpty() || !haveTool("exiftool"))
        GTEST_SKIP() << "imagemagick, cjpeg or exiftool missing";
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const QString file = dir + QStringLiteral("/o%1.jpg").arg(o);
        ASSERT_TRUE(writeFileBytes(file, jpeg));
        ASSERT_TRUE(exiftool(file, {QStringLiteral("-IFD0:Orientation#=%1").arg(o)}));
        QImageReader reader(file);
        reader.setAutoTransform(true);
        const QImage expected = reader.read();
        ASSERT_FALSE(expected.isNull());

        const Drawn d = draw(file, QSize(300, 200));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.call.pictureSize, expected.size());
        const QRect rect = FitRect(expected.size(), 300 * 15.0, 200 * 15.0);
        expectSameCorners(d.canvas, rect, expected);
        const bool sideways = o >= 5;
        EXPECT_EQ(d.lines[2], sideways ? "ImageWidth 40" : "ImageWidth 60");
        EXPECT_EQ(d.lines[3], sideways ? "ImageHeight 60" : "ImageHeight 40");
        EXPECT_EQ(d.lines.size() > 5, true);

        // A turn the user chose wins over the file's.
        const QString plain = dir + "/plain.jpg";
        writeFileBytes(plain, jpeg);
        const Drawn user = draw(file, QSize(300, 200), 100 + o);
        QImageReader again(file);
        again.setAutoTransform(true);
        expectSameCorners(user.canvas, rect, again.read());
    }
    // The file's 3 is not read when the user asked for 6.
    const QString three = dir + "/o3.jpg";
    const Drawn d = draw(three, QSize(300, 200), 106);
    EXPECT_EQ(d.call.pictureSize, QSize(40, 60));
}

TEST(PictureOps, TheFitIsCentredAtMostOnePointTwoTimesAndSixPixelsSmaller)
{
    const QString dir = makeTempDir("fit");
    const QString small = makeSolid(dir, "g.png", 100, 100, "lime");
    const QString large = makeSolid(dir, "l.png", 4000, 3000, "blue");
    if (small.isEmpty() || large.isEmpty())
        GTEST_SKIP() << "imagemagick missing";

    const Drawn d = draw(small, QSize(600, 400));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(FitRect(QSize(100, 100), 9000, 6000), QRect(241, 141, 114, 114));
    EXPECT_EQ(d.canvas.pixelColor(241, 141), QColor(Qt::green));
    EXPECT_EQ(d.canvas.pixelColor(354, 254), QColor(Qt::green));
    EXPECT_EQ(d.canvas.pixelColor(240, 141), QColor(Qt::white));
    EXPECT_EQ(d.canvas.pixelColor(355, 254), QColor(Qt::white));
    EXPECT_EQ(d.canvas.pixelColor(241, 255), QColor(Qt::white));
    EXPECT_DOUBLE_EQ(d.call.sizeEstimate, 60.0);

    const Drawn big = draw(large, QSize(600, 400));
    ASSERT_TRUE(big.ok);
    EXPECT_EQ(FitRect(QSize(4000, 3000), 9000, 6000), QRect(34, 1, 527, 394));
    EXPECT_EQ(big.canvas.pixelColor(34, 1), QColor(Qt::blue));
    EXPECT_EQ(big.canvas.pixelColor(33, 200), QColor(Qt::white));
    EXPECT_EQ(big.lines[2], "ImageWidth 4000");
    EXPECT_DOUBLE_EQ(big.call.sizeEstimate, 72000.0);

    // Too small a box draws nothing but still reads the picture.
    const Drawn tiny = draw(small, QSize(6, 6));
    EXPECT_TRUE(tiny.ok);
    EXPECT_EQ(tiny.canvas.pixelColor(3, 3), QColor(Qt::white));
    // RAW and TIFF types give no estimate, decided by the file name alone.
    const QString dotted = makeTempDir("a.tif.b");
    const QString tif = makeSolid(dotted, "x.tif", 50, 50, "red");
    const QString jpgInDottedFolder = makeSolid(dotted, "y.jpg", 50, 50, "red");
    EXPECT_EQ(draw(tif, QSize(100, 100)).call.sizeEstimate, 0.0);
    EXPECT_EQ(draw(jpgInDottedFolder, QSize(100, 100)).call.sizeEstimate, 15.0);
}

TEST(PictureOps, TheGridThumbnailIsWrittenOnceAndNeverSquashed)
{
    const QString dir = makeTempDir("thumb");
    const QString land = makeSolid(dir, "R#0001.png", 300, 200, "red");
    const QString port = makeSolid(dir, "R#0002.png", 200, 300, "blue");
    if (land.isEmpty() || port.isEmpty())
        GTEST_SKIP() << "imagemagick missing";
    const QString thumbs = dir + "/Thumbs/";
    QDir().mkpath(thumbs);

    // A grid cell: a landscape picture draws nothing and writes the
    // thumbnail; a portrait one is letter-boxed into the cell.
    const QSize cell(90, 60);
    const Drawn l = draw(land, cell, 0, false, DrawTarget::GridCell, thumbs, "0001png.jpg", 90);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.canvas.pixelColor(45, 30), QColor(Qt::white));
    QImage t(thumbs + "0001png.jpg");
    ASSERT_EQ(t.size(), QSize(90, 60));
    EXPECT_TRUE(near(t.pixelColor(2, 2), Qt::red));

    const Drawn p = draw(port, cell, 0, false, DrawTarget::GridCell, thumbs, "0002png.jpg", 90);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(near(p.canvas.pixelColor(45, 30), Qt::blue));
    t = QImage(thumbs + "0002png.jpg");
    ASSERT_EQ(t.size(), QSize(90, 60));
    EXPECT_TRUE(near(t.pixelColor(45, 30), Qt::blue));
    EXPECT_TRUE(near(t.pixelColor(3, 30), Qt::white));   // the bands beside it

    // The preview writes the same letter-boxed thumbnail for a portrait picture.
    const Drawn pv = draw(port, QSize(300, 200), 0, false, DrawTarget::Preview, thumbs, "0003png.jpg", 90);
    ASSERT_TRUE(pv.ok);
    t = QImage(thumbs + "0003png.jpg");
    EXPECT_TRUE(near(t.pixelColor(3, 30), Qt::white));

    // An existing thumbnail is never rewritten.
    const QByteArray before = readFileBytes(thumbs + "0001png.jpg");
    const QString other = makeSolid(dir, "R#0001.gif", 300, 200, "yellow");
    draw(other, cell, 0, false, DrawTarget::GridCell, thumbs, "0001png.jpg", 90);
    EXPECT_EQ(readFileBytes(thumbs + "0001png.jpg"), before);
}

TEST(PictureOps, JpegNamesComeFromTheFileNameOnly)
{
    const QString dir = makeTempDir("d.x");
    QImage img(8, 8, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    EXPECT_EQ(SavePictureAsJpeg(img, dir + "/a.PNG", 99), dir + "/a.jpg");
    EXPECT_EQ(SavePictureAsJpeg(img, dir + "/b.JPG", 99), dir + "/b.jpg");
    EXPECT_EQ(SavePictureAsJpeg(img, dir + "/c", 99), dir + "/c.jpg");
    EXPECT_EQ(SavePictureAsJpeg(img, dir + "/e.tar.gz", 99), dir + "/e.tar.jpg");
    // Transparent parts become white, not black.
    EXPECT_TRUE(near(QImage(dir + "/c.jpg").pixelColor(4, 4), Qt::white, 8));
    EXPECT_EQ(FileNameExtension("/home/u/.cache/x/back"), "");
    EXPECT_EQ(FileNameExtension("C:\\d.x\\R#0001.tar.gz"), "tar.gz");
    EXPECT_TRUE(SavePictureAsJpeg(QImage(), dir + "/n.jpg", 99).isEmpty());
}

TEST(PictureOps, ACameraSizePictureIsDecodedAtTheSizeShown)
{
    const QString dir = makeTempDir("big");
    const QString file = dir + "/big.jpg";
    if (runTool("convert", {"-size", "9000x6000", "xc:gray", "-fill", "red", "-draw", "rectangle 0,0 2249,1499",
                            "-type", "TrueColor", "-quality", "60", file})
        != 0)
        GTEST_SKIP() << "imagemagick missing";
    const Drawn d = draw(file, QSize(640, 427));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.lines[2], "ImageWidth 9000");
    EXPECT_EQ(d.lines[3], "ImageHeight 6000");
    const QRect r = FitRect(QSize(9000, 6000), 640 * 15.0, 427 * 15.0);
    EXPECT_TRUE(near(d.canvas.pixelColor(r.x() + 5, r.y() + 5), Qt::red));
    EXPECT_TRUE(near(d.canvas.pixelColor(r.right() - 5, r.bottom() - 5), QColor(126, 126, 126)))
        << std::hex << d.canvas.pixel(r.right() - 5, r.bottom() - 5);
    // Read whole, it is over Qt's default limit and under ours.
    const QImage whole = LoadPicture(file);
    EXPECT_EQ(whole.size(), QSize(9000, 6000));
    int w = 0, h = 0;
    GetImageSize(file, w, h);
    EXPECT_EQ(QSize(w, h), QSize(9000, 6000));
}

TEST(PictureOps, DamagedFilesDrawNothing)
{
    const QString dir = makeTempDir("bad");
    const QByteArray jpeg = asymmetricJpeg(dir, 60, 40);
    if (jpeg.isEmpty())
        GTEST_SKIP() << "imagemagick or cjpeg missing";
    writeFileBytes(dir + "/cut.jpg", jpeg.left(200));
    QByteArray noise(3000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 131 + 7) % 256);
    writeFileBytes(dir + "/noise.jpg", noise);
    writeFileBytes(dir + "/empty.jpg", QByteArray());
    // A header that claims a huge picture and has nothing behind it.
    QByteArray bomb = jpeg.left(jpeg.indexOf("\xFF\xC0") + 5);
    bomb += QByteArray("\xFF\xFF\xFF\xFF", 4);
    writeFileBytes(dir + "/bomb.jpg", bomb);
    for (const char *name : {"/cut.jpg", "/noise.jpg", "/empty.jpg", "/missing.jpg", "/bomb.jpg"}) {
        const Drawn d = draw(dir + name, QSize(200, 100));
        EXPECT_EQ(d.lines.size(), 5) << name;
        int w = -1, h = -1;
        GetImageSize(dir + name, w, h);
    }
    EXPECT_FALSE(draw(dir + "/noise.jpg", QSize(200, 100)).ok);
    EXPECT_FALSE(draw(dir + "/missing.jpg", QSize(200, 100)).ok);
}

TEST(PictureOps, TheBudgetIsCheckedFromTheHeaderBeforeAnyDecode)
{
    const QString dir = makeTempDir("budget");
    // 12000 x 9000 pixels: 108 megapixels as a PNG, scaled while decoded as JPEG.
    ASSERT_TRUE(writeFileBytes(dir + "/wide.png", pictureClaiming("png", 12000, 9000)));
    const DecodePlan png = PlanPictureDecode(dir + "/wide.png", QSize(400, 300), DecodeBudget::Preview);
    EXPECT_EQ(png.header, QSize(12000, 9000));
    EXPECT_FALSE(png.scaledTo.isValid());
    EXPECT_FALSE(png.withinBudget);
    EXPECT_TRUE(PlanPictureDecode(dir + "/wide.png", QSize(), DecodeBudget::Full).withinBudget);
    bool over = false;
    EXPECT_TRUE(LoadPicture(dir + "/wide.png", QSize(400, 300), nullptr, DecodeBudget::Preview, &over).isNull());
    EXPECT_TRUE(over);

    const QString jpeg = dir + "/wide.jpg";
    if (runTool("convert", {"-size", "12000x9000", "xc:navy", "-quality", "50", jpeg}) != 0)
        GTEST_SKIP() << "imagemagick missing";
    const DecodePlan scaled = PlanPictureDecode(jpeg, QSize(400, 300), DecodeBudget::Preview);
    EXPECT_EQ(scaled.scaledTo, QSize(400, 300));
    EXPECT_EQ(scaled.pixels, 1500 * 1125);   // an eighth each way
    QSize full;
    const QImage image = LoadPicture(jpeg, QSize(400, 300), &full, DecodeBudget::Preview, &over);
    EXPECT_EQ(image.size(), QSize(400, 300));
    EXPECT_EQ(full, QSize(12000, 9000));
    EXPECT_FALSE(over);
}

TEST(PictureOps, TheFullViewReadsATrueColourPngAtItsShownSize)
{
    // The reader scales 8-bit true colour line by line; palette, 16-bit and
    // interlaced pictures it would decode whole first, at a higher cost.
    const QString dir = makeTempDir("pngscale");
    for (const QString kind : {"PNG24:rgb.png", "PNG8:palette.png", "PNG48:deep.png", "PNG24:interlaced.png"}) {
        const QString file = dir + '/' + kind.section(':', 1);
        if (runTool("convert", {"-size", "600x400", "gradient:red-blue", "-interlace", file.contains("inter") ? "PNG" : "None",
                                kind.section(':', 0, 0) + ':' + file}) != 0)
            GTEST_SKIP() << "imagemagick missing";
        const DecodePlan plan = PlanPictureDecode(file, QSize(150, 100), DecodeBudget::Full);
        EXPECT_EQ(plan.scaledTo, file.endsWith("rgb.png") ? QSize(150, 100) : QSize()) << kind.toStdString();
    }
    QSize full;
    EXPECT_EQ(LoadPicture(dir + "/rgb.png", QSize(150, 100), &full, DecodeBudget::Full).size(), QSize(150, 100));
    EXPECT_EQ(full, QSize(600, 400));
    // A preview's budget stays the whole picture's.
    EXPECT_FALSE(PlanPictureDecode(dir + "/rgb.png", QSize(150, 100), DecodeBudget::Preview).scaledTo.isValid());
}

TEST(PictureOps, HeadersClaimingHugeSizesStayOutsideTheBudget)
{
    const QString dir = makeTempDir("claims");
    // 2^29 x 2^29 pixels of 64 bits: their bytes do not fit in 64 bits.
    TiffBuilder t(false);
    const int ifd = t.addIfd();
    t.add(ifd, 0x0100, 4, 1, t.u32(1u << 29));
    t.add(ifd, 0x0101, 4, 1, t.u32(1u << 29));
    t.add(ifd, 0x0102, 3, 4, t.shorts({16, 16, 16, 16}));
    t.add(ifd, 0x0103, 3, 1, t.u16(1));
    t.add(ifd, 0x0106, 3, 1, t.u16(2));
    t.addBlobOffset(ifd, 0x0111, t.addBlob(QByteArray(64, '\0')));
    t.add(ifd, 0x0115, 3, 1, t.u16(4));
    t.add(ifd, 0x0116, 4, 1, t.u32(1u << 29));
    t.add(ifd, 0x0117, 4, 1, t.u32(64));
    t.add(ifd, 0x0152, 3, 1, t.u16(2));
    ASSERT_TRUE(writeFileBytes(dir + "/vast.tif", t.build()));
    const DecodePlan vast = PlanPictureDecode(dir + "/vast.tif", QSize(), DecodeBudget::Full);
    ASSERT_EQ(vast.header, QSize(1 << 29, 1 << 29));
    EXPECT_FALSE(vast.withinBudget);

    // A photo whose stored thumbnail claims 16000 x 16000 pixels in a few
    // kB: the grid decodes the photo itself, scaled, never that thumbnail.
    const QString photo = dir + "/camera.jpg", thumb = dir + "/thumb.jpg";
    if (runTool("convert", {"-size", "640x480", "xc:gray50", photo}) != 0
        || runTool("convert", {"-size", "160x120", "xc:lime", thumb}) != 0)
        GTEST_SKIP() << "imagemagick missing";
    const auto claim = [](QByteArray jpeg, int side) {
        const qsizetype sof = jpeg.indexOf("\xff\xc0");
        for (const int at : {5, 7})
            jpeg[sof + at] = char(side >> 8), jpeg[sof + at + 1] = char(side & 0xFF);
        return jpeg;
    };
    ASSERT_TRUE(writeFileBytes(thumb, claim(readFileBytes(thumb), 16000)));
    ASSERT_TRUE(writeFileBytes(photo, claim(readFileBytes(photo), 16000)));
    REQUIRE(exiftool(photo, {"-ThumbnailImage<=" + thumb}), "exiftool");
    ImageProperties props;
    props.load(photo);
    ASSERT_FALSE(props.thumbnail().isEmpty());
    EXPECT_TRUE(EmbeddedThumbnailFor(props, photo, QSize(72, 48), nullptr).isNull());
}

TEST(PictureOps, WorkersDecodeAheadAndTheWindowRunsWhileItWaits)
{
    // A decoder that tells each request by its width, notes its thread, and
    // holds one picture until the waiting side lets it go.
    const Qt::HANDLE window = QThread::currentThreadId();
    std::atomic<int> onWindowThread{0};
    std::binary_semaphore gate(0);
    PictureDecodeQueue queue([&](const PictureDecodeRequest &r) {
        if (QThread::currentThreadId() == window)
            ++onWindowThread;
        if (r.thumbWidth == 99)
            gate.acquire();
        DecodedPicture d;
        d.image = QImage(r.thumbWidth, 1, QImage::Format_RGB32);
        return d;
    }, 3);
    const auto request = [](int width) {
        PictureDecodeRequest r;
        r.file = "/x";
        r.thumbWidth = width;
        return r;
    };
    for (int width = 1; width <= 5; ++width)
        queue.prefetch(request(width));
    queue.prefetch(request(2));   // held already
    EXPECT_EQ(queue.held(), 5);
    // Taken in any order, each is its own; one never asked ahead is decoded now.
    for (const int width : {4, 1, 7, 5}) {
        EXPECT_EQ(queue.take(request(width), {}).image.width(), width);
    }
    EXPECT_EQ(queue.held(), 2);

    // While a slow picture is decoded the window's events run (here: they
    // let it finish).
    int waits = 0;
    const DecodedPicture slow = queue.take(request(99), [&] {
        if (++waits == 3)
            gate.release();
    });
    EXPECT_EQ(slow.image.width(), 99);
    EXPECT_GE(waits, 3);
    EXPECT_EQ(onWindowThread.load(), 0);

    // Held pictures beyond the limit: the oldest go first.
    queue.clear();
    for (int width = 1; width <= queue.heldLimit() + 2; ++width)
        queue.prefetch(request(width));
    EXPECT_EQ(queue.held(), queue.heldLimit());
}
