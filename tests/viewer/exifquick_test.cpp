// The quick EXIF reader on exiftool's files in both byte orders, on TIFF
// blocks written byte by byte (inline strings, LONG sizes in big-endian
// files, counts, the DateTime fallback, colour spaces, GIF, file sizes), and
// on hostile blocks whose offsets and entries lie past the window.
#include "tests/support/fixtures.h"
#include "tests/viewer/viewer_samples.h"
#include "viewer/exifquick.h"

#include <QRandomGenerator>
#include <cstring>
#include <memory>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

// The bytes in a buffer of exactly their size, so that AddressSanitizer sees
// the first byte read past them.
bool readBuffer(const QByteArray &bytes, ExifQuickResult &r, const QString &separator = QStringLiteral("/"))
{
    const std::unique_ptr<unsigned char[]> exact(new unsigned char[size_t(bytes.size()) + (bytes.isEmpty() ? 1 : 0)]);
    std::memcpy(exact.get(), bytes.constData(), size_t(bytes.size()));
    return ReadExifQuick(exact.get(), size_t(bytes.size()), r, separator);
}

// A camera block: IFD0 with Make, Model, Orientation, DateTime and an Exif
// IFD with DateTimeOriginal, ColorSpace and the pixel sizes.
struct CameraBlock {
    bool bigEndian = false;
    QByteArray make = "NIKON CORPORATION";
    uint32_t makeCount = 0;   // 0: the text's length with its NUL
    QByteArray dateOriginal = "2011:07:04 09:08:07";
    uint32_t dateOriginalCount = 0;
    uint16_t colorSpace = 1;
    bool longSizes = false;
    uint32_t width = 4288, height = 2848;

    QByteArray build() const
    {
        TiffBuilder t(bigEndian);
        const int ifd0 = t.addIfd();
        const int exif = t.addIfd();
        const QByteArray m = t.ascii(make);
        t.add(ifd0, 0x010F, 2, makeCount ? makeCount : uint32_t(m.size()), m);
        t.add(ifd0, 0x0110, 2, 10, t.ascii("NIKON D90"));
        t.add(ifd0, 0x0112, 3, 1, t.u16(8));
        t.add(ifd0, 0x0132, 2, 20, t.ascii("2011:07:05 10:00:00"));
        t.addIfdPointer(ifd0, 0x8769, exif);
        if (!dateOriginal.isEmpty()) {
            const QByteArray d = t.ascii(dateOriginal);
            t.add(exif, 0x9003, 2, dateOriginalCount ? dateOriginalCount : uint32_t(d.size()), d);
        }
        t.add(exif, 0xA001, 3, 1, t.u16(colorSpace));
        if (longSizes) {
            t.add(exif, 0xA002, 4, 1, t.u32(width));
            t.add(exif, 0xA003, 4, 1, t.u32(height));
        } else {
            t.add(exif, 0xA002, 3, 1, t.u16(width));
            t.add(exif, 0xA003, 3, 1, t.u16(height));
        }
        return QByteArray("Exif\0\0", 6) + t.build();
    }
};

} // namespace

TEST(ExifQuick, ReadsExiftoolsCameraTagsInBothByteOrders)
{
    const QString dir = makeTempDir("exq");
    const QByteArray jpeg = asymmetricJpeg(dir, 60, 40);
    if (jpeg.isEmpty() || !haveTool("exiftool"))
        GTEST_SKIP() << "imagemagick, cjpeg or exiftool missing";
    for (const QString &order : {QStringLiteral("II"), QStringLiteral("MM")}) {
        const QString file = dir + "/" + order + ".jpg";
        ASSERT_TRUE(writeFileBytes(file, jpeg));
        ASSERT_TRUE(exiftool(file, cameraTags(order) << QStringLiteral("-IFD0:Orientation#=6")));
        ExifQuickResult r;
        EXPECT_TRUE(ReadExifQuick(file, r, QStringLiteral("/"))) << order.toStdString();
        EXPECT_EQ(r.make, "Canon");
        EXPECT_EQ(r.model, "Canon EOS 5D");
        EXPECT_EQ(r.dateTaken, "2009/03/12 13:45:10");
        EXPECT_EQ(r.colorSpace, "sRGB");
        EXPECT_EQ(r.width, 60);
        EXPECT_EQ(r.height, 40);
        EXPECT_EQ(r.orientation, 6.0f);
        // The same bytes handed over by the scan.
        ExifQuickResult b;
        EXPECT_TRUE(readBuffer(readFileBytes(file), b, QStringLiteral(":")));
        EXPECT_EQ(b.dateTaken, "2009:03:12 13:45:10");
        EXPECT_EQ(b.model, r.model);
    }

    // A two-letter make is stored inside the entry itself.
    const QString lg = dir + "/lg.jpg";
    ASSERT_TRUE(writeFileBytes(lg, jpeg));
    ASSERT_TRUE(exiftool(lg, cameraTags("MM") << QStringLiteral("-IFD0:Make=LG") << QStringLiteral("-IFD0:Model=G4")));
    ExifQuickResult r;
    EXPECT_TRUE(ReadExifQuick(lg, r, QStringLiteral("/")));
    EXPECT_EQ(r.make, "LG");
    EXPECT_EQ(r.model, "G4");
    EXPECT_EQ(r.width, 60);
}

TEST(ExifQuick, BuiltBlocksGiveSizesDatesAndColourSpaces)
{
    for (const bool be : {false, true}) {
        SCOPED_TRACE(be ? "MM" : "II");
        CameraBlock c;
        c.bigEndian = be;
        ExifQuickResult r;
        EXPECT_TRUE(readBuffer(c.build(), r));
        EXPECT_EQ(r.make, "NIKON CORPORATION");
        EXPECT_EQ(r.model, "NIKON D90");
        EXPECT_EQ(r.orientation, 8.0f);
        EXPECT_EQ(r.dateTaken, "2011/07/04 09:08:07");
        EXPECT_EQ(QSize(r.width, r.height), QSize(4288, 2848));

        // LONG pixel sizes: the high half of a big-endian LONG is 0.
        c.longSizes = true;
        c.width = 70000;
        EXPECT_TRUE(readBuffer(c.build(), r));
        EXPECT_EQ(QSize(r.width, r.height), QSize(70000, 2848));
        c.longSizes = false;
        c.width = 4288;

        // A DateTimeOriginal of another length is not a date: DateTime stands in.
        c.dateOriginalCount = 19;
        EXPECT_TRUE(readBuffer(c.build(), r));
        EXPECT_EQ(r.dateTaken, "2011/07/05 10:00:00");
        c.dateOriginalCount = 0;

        // Colour spaces.
        c.colorSpace = 65535;
        readBuffer(c.build(), r);
        EXPECT_EQ(r.colorSpace, "unspecified");
        c.colorSpace = 2;
        readBuffer(c.build(), r);
        EXPECT_EQ(r.colorSpace, "2");
        c.colorSpace = 1;
        readBuffer(c.build() + "ICC profile: Adobe RGB (1998)", r);
        EXPECT_EQ(r.colorSpace, "Adobe RGB");

        // An empty make (count 1) and one of 31 characters end the reading.
        c.makeCount = 1;
        EXPECT_FALSE(readBuffer(c.build(), r));
        EXPECT_EQ(r.width, 0);
        c.makeCount = 0;
        c.make = QByteArray(31, 'M');
        EXPECT_FALSE(readBuffer(c.build(), r));
        c.make = QByteArray(30, 'M');
        EXPECT_TRUE(readBuffer(c.build(), r));
        EXPECT_EQ(r.make.size(), 30);
    }
}

TEST(ExifQuick, GifScreenSizeAndTheFileSizeThreshold)
{
    // "GIF89a" then width 300 and height 200, little-endian; an "Exif"
    // later names a header place that holds no TIFF header.
    QByteArray gif("GIF89a\x2C\x01\xC8\x00", 10);
    gif += QByteArray(40, '\0') + QByteArray("Exif\0\0XX", 8);
    ExifQuickResult r;
    EXPECT_TRUE(readBuffer(gif, r));
    EXPECT_EQ(QSize(r.width, r.height), QSize(300, 200));

    // Files under 520 bytes are not read; from 520 the first 512 are.
    const QString dir = makeTempDir("exqsize");
    const QByteArray block = CameraBlock{}.build();
    ASSERT_LT(block.size(), 512);
    for (const int size : {519, 520}) {
        const QString file = dir + QStringLiteral("/f%1").arg(size);
        ASSERT_TRUE(writeFileBytes(file, block + QByteArray(size - block.size(), '\0')));
        EXPECT_EQ(ReadExifQuick(file, r, QStringLiteral("/")), size == 520) << size;
    }
    EXPECT_FALSE(ReadExifQuick(dir + "/missing", r, QStringLiteral("/")));
}

TEST(ExifQuick, HostileBlocksReadNothingOutsideTheWindow)
{
    TiffBuilder t(true);
    const int ifd0 = t.addIfd();
    // Offsets far past the window, an entry cut by the window's end.
    t.addRaw(ifd0, 0x010F, 2, 20, 0xFFF0);
    t.add(ifd0, 0x0110, 2, 6, t.ascii("Model"));
    const QByteArray far = QByteArray("Exif\0\0", 6) + t.build();
    ExifQuickResult r;
    EXPECT_FALSE(readBuffer(far, r));
    EXPECT_TRUE(r.make.isEmpty());

    // A make whose text runs past the end is cut there.
    TiffBuilder cut(false);
    const int c0 = cut.addIfd();
    cut.add(c0, 0x010F, 2, 30, cut.ascii(QByteArray(29, 'C')));
    QByteArray cutBytes = QByteArray("Exif\0\0", 6) + cut.build();
    cutBytes.chop(20);
    EXPECT_FALSE(readBuffer(cutBytes, r));
    EXPECT_EQ(r.make, QString(10, 'C'));

    // Every truncation of a real block, and the tag bytes in the last 11
    // bytes of the window.
    const QByteArray block = CameraBlock{}.build();
    for (int n = 0; n <= block.size(); ++n)
        readBuffer(block.left(n), r);
    readBuffer(QByteArray("Exif\0\0II*\0\x08\0\0\0\x0F\x01", 16), r);
    readBuffer(QByteArray("MM\x01\x0F", 4), r);
    EXPECT_FALSE(readBuffer(QByteArray(), r));

    // Random bytes and a block with random bytes written over it.
    QRandomGenerator gen(2024);
    for (int i = 0; i < 3000; ++i) {
        QByteArray b = block;
        for (int k = 0; k < 8; ++k)
            b[int(gen.bounded(int(b.size())))] = char(gen.bounded(256));
        readBuffer(b.left(int(gen.bounded(int(b.size()) + 1))), r);
        QByteArray noise(int(gen.bounded(2000)), '\0');
        for (char &ch : noise)
            ch = char(gen.bounded(256));
        readBuffer((i % 2 ? QByteArray("II") : QByteArray("MM")) + noise, r);
    }
}
