// The property listing of exiftool's files through exiv2 and the line rules
// that make the EXIF text and summary of it: the exact lines in both byte
// orders, fractions and units (zero denominators included), the value
// tables, and the run time's number reading and formats they lean on.
#include "tests/support/fixtures.h"
#include "tests/viewer/viewer_samples.h"
#include "viewer/exifprops.h"
#include "viewer/exiftext.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

TEST(ExifLines, ExiftoolsPictureGivesTheSameLinesAndSummaryInBothByteOrders)
{
    const QString dir = makeTempDir("exl");
    const QByteArray jpeg = asymmetricJpeg(dir, 60, 40);
    if (jpeg.isEmpty() || !haveTool("exiftool"))
        GTEST_SKIP() << "imagemagick, cjpeg or exiftool missing";
    for (const QString &order : {QStringLiteral("II"), QStringLiteral("MM")}) {
        SCOPED_TRACE(order.toStdString());
        const QString file = dir + "/" + order + ".jpg";
        ASSERT_TRUE(writeFileBytes(file, jpeg));
        ASSERT_TRUE(exiftool(file, cameraTags(order) << QStringLiteral("-IFD0:Orientation#=6")));

        QStringList lines;
        ShowExifList(file, lines);
        EXPECT_EQ(ExifDateText, " 2009/03/12 13:45:10");
        EXPECT_TRUE(IsValidExifDate(ExifDateText));
        // The listing in file order; undefined bytes but the last as hex, the
        // user comment by its name only.
        EXPECT_EQ(lines.mid(0, 6), QStringList({"", "", "ImageWidth 60", "ImageHeight 40", "", "EquipMake Canon"}));
        EXPECT_TRUE(lines.contains("ExifVer  30 32 33"));
        EXPECT_TRUE(lines.contains("ExifExposureTime 1/60"));
        EXPECT_TRUE(lines.contains("ExifFNumber 14/5"));
        EXPECT_TRUE(lines.contains("ExifUserComment"));
        EXPECT_TRUE(lines.contains("ExifFlash 24"));

        lines[0] = "File 0001.jpg 5 kB";
        lines[4] = "Display Full File";
        QString summary;
        BuildExifSummary(lines, summary);
        EXPECT_EQ(summary, "File: 0001.jpg 5 kB\r\n"
                           "Display: Full File\r\n"
                           "ImageWidth: 60\r\n"
                           "ImageHeight: 40\r\n"
                           "Make: Canon\r\n"
                           "Model: Canon EOS 5D\r\n"
                           "ExposureTime: 1/60\"\r\n"
                           "FNumber: F2.80\r\n"
                           "DTOrigin: 2009-03-12 13:45:10\r\n"
                           "FocalLength: 50.00 mm\r\n");
        TranslateExifValues(lines);
        EXPECT_EQ(lines, QStringList({"File: 0001.jpg 5 kB", " Display: Full File", "ImageWidth: 60",
                                      "ImageHeight: 40", "Make: Canon", "Model: Canon EOS 5D",
                                      "Orientation: Rotate 90CW", "XResolution: 1.00", "YResolution: 1.00",
                                      "ResolutionUnit: 1", "YCbCrPositioning: 1", "ExposureTime: 1/60\"",
                                      "FNumber: F2.80", "ISOSpeed: 100", "DTOrigin: 2009-03-12 13:45:10",
                                      "CompConfig: 01 02 03", "MeteringMode: Multi-Segment", "LightSource: Cloudy",
                                      "Flash: Auto, Did not fire", "FocalLength: 50.00 mm", "ColorSpace: sRGB",
                                      "PixXDim: 60", "PixYDim: 40"}));
        // Cleaned lines stay as they are.
        const QStringList again = lines;
        CleanExifLines(lines);
        EXPECT_EQ(lines, again);
    }
}

TEST(ExifLines, FractionsUnitsAndTheDateLine)
{
    QStringList lines{"File 0002.jpg 12 kB",
                      "DTOrigin 2024-05-06 07:08:09",
                      "ImageWidth 4000",
                      "ImageHeight 3000",
                      "Display Full File",
                      "ExifFNumber 0/0",
                      "ExifExposureTime 10/1",
                      "ExifExposureBias -2/3",
                      "ExifMaxAperture 30/10",
                      "ExifBrightness 5/2",
                      "ExifShutterSpeed 1/16",
                      "ExifFocalLength 0/0",
                      "ExifExposureProg 3",
                      "ExifDTOrig 2024:05:06 07:08:09",
                      "ImageDescription Holiday",
                      "SoftwareUsed dcraw v9.28",
                      "StripOffsets 8",
                      "NewSubfileType 0",
                      "EquipModel Model/X"};
    QString summary;
    BuildExifSummary(lines, summary);
    // The date line comes first: it changes place with the display note.
    EXPECT_EQ(lines[1], "Display: Full File");
    EXPECT_EQ(lines[4], "DTOrigin: 2024-05-06 07:08:09");
    EXPECT_EQ(lines[5], "FNumber: F0/0");                 // 0/0 stays, the unit is still there
    EXPECT_EQ(lines[6], "ExposureTime: 10\"");            // whole seconds
    EXPECT_EQ(lines[7], "ExposureBias: -0.667EV");
    EXPECT_EQ(lines[8], "MaxAperture: F3.00");
    EXPECT_EQ(lines[9], "Brightness: 2.50BV");
    EXPECT_EQ(lines[10], "ShutterSpeed: 0.063EV");
    EXPECT_EQ(lines[11], "FocalLength: 0/0 mm");
    EXPECT_EQ(lines[12], "ExposureProg: Aperture-priority AE");   // the summary's own words
    EXPECT_EQ(lines[13], "DTOrigin: 2024-05-06 07:08:09");
    EXPECT_EQ(lines[14], "");                             // the description keeps its place
    EXPECT_EQ(lines[15], "Display: Converted RAW");
    EXPECT_EQ(lines[16], "Model: Model/X");               // no number: left alone
    EXPECT_EQ(lines.size(), 17);
    EXPECT_TRUE(summary.contains("Display: Converted RAW\r\n"));
    EXPECT_TRUE(summary.contains("ExposureProg: Aperture-priority AE\r\n"));

    // Without a date line the width, height and note lines turn round.
    QStringList noDate{"File a.jpg 1 kB", "", "ImageWidth 10", "ImageHeight 20", "Display Full File"};
    CleanExifLines(noDate);
    EXPECT_EQ(noDate, QStringList({"File: a.jpg 1 kB", "Display: Full File", "ImageWidth: 10", "ImageHeight: 20", ""}));
}

TEST(ExifLines, ValueTablesAndPadding)
{
    QStringList lines{"File: x", "LightSource: 10", "LightSource: 1", "MeteringMode: 255", "Flash: 8",
                      "Flash: 79", "ColorSpace: 65535", "Orientation: 5", "ExposureProg: 4", "Flash: 240"};
    TranslateExifValues(lines);
    EXPECT_EQ(lines, QStringList({"File: x" + QString(19, ' '), " LightSource: Cloudy", "LightSource: Daylight",
                                  "MeteringMode: 255=Other", "Flash: 8",
                                  "Flash: On, Red-eye reduction, Return detected", "ColorSpace: Uncalibrated",
                                  "Orientation: Mirror horizontal rotate 270CW",
                                  "ExposureProg: Shutter speed priority AE", "Flash: 240"}));
    EXPECT_EQ(ExifValueTables().size(), 6u);
}

TEST(ExifLines, NumberReadingAndFormats)
{
    EXPECT_EQ(VbVal("0012@"), 12);
    EXPECT_EQ(VbVal("2009TR~1.JPG"), 2009);
    EXPECT_EQ(VbVal("abc"), 0);
    EXPECT_EQ(VbVal("  -1 2.5x"), -12.5);
    EXPECT_EQ(VbVal("1,21/1"), 1);
    EXPECT_EQ(VbVal(" 3e2"), 300);
    EXPECT_EQ(VbVal("."), 0);
    EXPECT_EQ(FormatTwoOrThreeDecimals(2.8), "2.80");
    EXPECT_EQ(FormatTwoOrThreeDecimals(1.0 / 3), "0.333");
    EXPECT_EQ(FormatTwoOrThreeDecimals(0.0625), "0.063");
    EXPECT_EQ(FormatTwoOrThreeDecimals(1234.5), "1234.50");
    EXPECT_EQ(FormatWholeGrouped(1234.501), "1,235");
    EXPECT_EQ(FormatWholeGrouped(0.001), "0");
    EXPECT_EQ(PlainNumberText(10), "10");
    EXPECT_EQ(PlainNumberText(0.3), "0.3");
    EXPECT_EQ(PlainNumberText(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(PlainNumberText(1e-7), "0.0000001");
}

TEST(ExifLines, DamagedFilesGiveNoProperties)
{
    const QString dir = makeTempDir("exbad");
    const QByteArray jpeg = asymmetricJpeg(dir, 60, 40);
    if (jpeg.isEmpty() || !haveTool("exiftool"))
        GTEST_SKIP() << "imagemagick, cjpeg or exiftool missing";
    const QString tagged = dir + "/t.jpg";
    ASSERT_TRUE(writeFileBytes(tagged, jpeg));
    ASSERT_TRUE(exiftool(tagged, cameraTags("II")));
    const QByteArray full = readFileBytes(tagged);
    // Cut inside the APP1 block, and random bytes.
    ASSERT_TRUE(writeFileBytes(dir + "/cut.jpg", full.left(60)));
    QByteArray noise(5000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    ASSERT_TRUE(writeFileBytes(dir + "/noise.jpg", noise));
    for (const char *name : {"/cut.jpg", "/noise.jpg", "/missing.jpg"}) {
        QStringList lines;
        ShowExifList(dir + name, lines);
        EXPECT_EQ(lines, QStringList(5)) << name;
        EXPECT_TRUE(ExifDateText.isEmpty());
    }
}
