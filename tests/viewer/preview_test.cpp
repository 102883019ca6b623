// The found-file preview on the main window (offscreen): a tagged portrait
// photo drawn upright with its exact summary and property list, a RAW file
// through dcraw (embedded thumbnail for the grid, half size for the preview,
// converted once), type icons and the notes for files that give no picture,
// the empty-file card, the over-long trim, the companion's EXIF, the date
// cleared between clicks, and a scan that names the camera.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/signatures.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/viewer/viewer_samples.h"
#include "viewer/exifprops.h"
#include "viewer/exiftext.h"
#include "viewer/foundnames.h"
#include "viewer/pictureops.h"
#include "viewer/rawconv.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

class PreviewWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        SetConverterProgram(QString());
        w = &CreateMainWindow();
        useCache(makeTempDir("pvcache"));
    }
    void TearDown() override
    {
        DestroyMainWindow();
        SetConverterProgram(QString());
    }

    void useCache(const QString &dir)
    {
        QString root = plat::toInternal(dir);
        if (!root.endsWith('\\'))
            root += '\\';
        w->CacheRoot = root + QStringLiteral("RIVozud\\");
        w->ShownFolder.clear();
        w->MakeDirNames();
        w->CreateCacheFolders();
        cache = plat::toNative(w->CacheRoot);
    }

    // The files, in the cache and in the found-file list.
    void list(const QList<QPair<QString, QByteArray>> &files)
    {
        w->List3.Clear();
        w->FoundFilePaths.clear();
        for (const auto &f : files) {
            ASSERT_TRUE(writeFileBytes(cache + "/" + f.first, f.second));
            w->FoundFilePaths << f.first;
            w->List3.AddItem(f.first);
        }
        w->ItemOrientations.assign(size_t(files.size()), 0.0f);
    }

    void click(int index)
    {
        w->FileListBusy = false;
        w->List3.setListIndex(index);
    }

    QString nativeOf(const QString &internal) const { return plat::toNative(internal); }

    PrivateHome privateHome;   // the trash of the removed files
    frmRecover *w = nullptr;
    QString cache;
};

} // namespace

TEST_F(PreviewWindow, ATaggedPortraitPhotoIsDrawnUprightWithItsSummaryAndProperties)
{
    const QString work = makeTempDir("pvwork");
    const QByteArray photo = taggedJpeg(work, 60, 40, cameraTags("II") << "-IFD0:Orientation#=6");
    REQUIRE(!photo.isEmpty(), "imagemagick, cjpeg or exiftool");
    list({{"R#0001.jpg", photo}, {"R#0002.txt", "just text\n"}});
    click(0);

    // Upright: the picture view shows what Qt's EXIF transform shows.
    QImageReader reader(cache + "/R#0001.jpg");
    reader.setAutoTransform(true);
    const QImage upright = reader.read();
    ASSERT_EQ(upright.size(), QSize(40, 60));
    const QImage shown = w->Picture1.Picture();
    ASSERT_FALSE(shown.isNull());
    const QRect rect = FitRect(upright.size(), shown.width() * 15.0, shown.height() * 15.0);
    const QImage want = upright.scaled(rect.size());
    for (const QPoint p : {QPoint(3, 3), QPoint(rect.width() - 4, 3), QPoint(3, rect.height() - 4),
                           QPoint(rect.width() - 4, rect.height() - 4)})
        EXPECT_TRUE(near(shown.pixelColor(rect.topLeft() + p), want.pixelColor(p))) << p.x() << "," << p.y();
    EXPECT_EQ(w->ItemOrientations[0], 6.0f);
    EXPECT_EQ(w->LastConvertedFile, w->CacheRoot + "R#0001.jpg");

    const QString kB = FormatWholeGrouped(double(photo.size()) / 1024.0 + 0.001);
    EXPECT_EQ(w->lblSpecs.Caption(), "File: 01.jpg " + kB + " kB\r\n"
                                     "Display: Full File\r\n"
                                     "ImageWidth: 40\r\n"
                                     "ImageHeight: 60\r\n"
                                     "Make: Canon\r\n"
                                     "Model: Canon EOS 5D\r\n"
                                     "ExposureTime: 1/60\"\r\n"
                                     "FNumber: F2.80\r\n"
                                     "  DTOrigin: 2009-03-12 13:45:10\r\n"
                                     "FocalLength: 50.00 mm\r\n"
                                     "\r\n");
    EXPECT_EQ(w->txtExif.Text(), "\r\nFile: 01.jpg " + kB + " kB\r\n"
                                 " Display: Full File\r\n"
                                 "ImageWidth: 40\r\n"
                                 "ImageHeight: 60\r\n"
                                 "Make: Canon\r\n"
                                 "Model: Canon EOS 5D\r\n"
                                 "Orientation: Rotate 90CW\r\n"
                                 "XResolution: 1.00\r\n"
                                 "YResolution: 1.00\r\n"
                                 "ResolutionUnit: 1\r\n"
                                 "YCbCrPositioning: 1\r\n"
                                 "ExposureTime: 1/60\"\r\n"
                                 "FNumber: F2.80\r\n"
                                 "ISOSpeed: 100\r\n"
                                 "DTOrigin: 2009-03-12 13:45:10\r\n"
                                 "CompConfig: 01 02 03\r\n"
                                 "MeteringMode: Multi-Segment\r\n"
                                 "LightSource: Cloudy\r\n"
                                 "Flash: Auto, Did not fire\r\n"
                                 "FocalLength: 50.00 mm\r\n"
                                 "ColorSpace: sRGB\r\n"
                                 "PixXDim: 60\r\n"
                                 "PixYDim: 40\r\n");
    EXPECT_FALSE(ExifDateText.isEmpty());
    // A shown preview leaves the grid's thumbnail to the grid.
    EXPECT_FALSE(QFileInfo::exists(cache + "/Thumbs/0001jpg.jpg"));

    // The next file's date is its own: a text file has none.
    click(1);
    EXPECT_TRUE(ExifDateText.isEmpty());
    EXPECT_EQ(w->ItemOrientations[0], 6.0f);
}

TEST_F(PreviewWindow, ARawFileIsPreviewedThroughDcrawAndConvertedOnce)
{
    REQUIRE(haveTool("dcraw"), "dcraw");
    // dcraw through a wrapper that counts its runs.
    const QString work = makeTempDir("pvraw");
    const QString log = work + "/runs";
    ASSERT_TRUE(writeScript(work + "/dcraw", "echo run >> \"" + log.toUtf8() + "\"\nexec dcraw \"$@\"\n"));
    SetConverterProgram(work + "/dcraw");
    const auto runs = [&] { return readFileBytes(log).count("run"); };
    list({{"R#0002.cr2", syntheticDng()}});

    // The grid pass (picture view hidden): the embedded thumbnail and the
    // grid thumbnail made from it.
    w->Picture1.setVisible(false);
    w->RenderedThumbWidth = 72;
    click(0);
    EXPECT_TRUE(readFileBytes(cache + "/Conv/0002.thc").startsWith("P6"));
    const QImage thumb(cache + "/Thumbs/0002cr2.jpg");
    EXPECT_EQ(thumb.size(), QSize(72, 48));
    EXPECT_EQ(runs(), 1);

    // The shown preview: a half-size conversion, its sizes doubled.
    w->Picture1.setVisible(true);
    click(0);
    EXPECT_EQ(LoadPicture(cache + "/Conv/0002.rpc").size(), QSize(64, 48));
    EXPECT_EQ(runs(), 2);
    EXPECT_EQ(w->LastConvertedFile, w->ConvFolder + "0002.rpc");
    const QString summary = w->lblSpecs.Caption();
    EXPECT_TRUE(summary.contains("ImageWidth: 128\r\nImageHeight: 96\r\n")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Display: Converted RAW")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Display: Full File")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Make: Quilvane")) << summary.toStdString();
    EXPECT_FALSE(w->Picture1.Picture().isNull());

    // Clicked again: the conversion is reused.
    click(0);
    EXPECT_EQ(runs(), 2);
    EXPECT_TRUE(w->lblSpecs.Caption().contains("ImageWidth: 128"));

    // The scan's preview of a found RAW file: its embedded thumbnail.
    QFile::remove(cache + "/Conv/0002.thc");
    w->RunRawPreview(cache + "/R#0002.cr2");
    EXPECT_TRUE(readFileBytes(cache + "/Conv/0002.thc").startsWith("P6"));
}

TEST_F(PreviewWindow, RawSizesAreTheRawFilesOwnAndEmptyConverterValuesAreNotListed)
{
    REQUIRE(haveTool("dcraw"), "dcraw");
    // A Bayer RAW (the converter halves it) and a linear DNG (it does not);
    // the converter's TIFF holds no time, exposure or aperture for either.
    list({{"R#0002.cr2", syntheticDng()}, {"R#0003.dng", linearDng()}});
    const struct {
        int index;
        QString sizes;
    } cases[] = {{0, "ImageWidth: 128\r\nImageHeight: 96\r\n"}, {1, "ImageWidth: 96\r\nImageHeight: 64\r\n"}};
    for (const auto &c : cases) {
        click(c.index);
        const QString summary = w->lblSpecs.Caption();
        EXPECT_TRUE(summary.contains(c.sizes)) << summary.toStdString();
        EXPECT_TRUE(summary.contains("Display: Full File")) << summary.toStdString();
        EXPECT_TRUE(summary.contains("Make: Quilvane")) << summary.toStdString();
        for (const char *empty : {"ExposureTime", "FNumber", "1970", "Focal"})
            EXPECT_FALSE(summary.contains(empty)) << empty << summary.toStdString();
        EXPECT_FALSE(w->txtExif.Text().contains("1970")) << w->txtExif.Text().toStdString();
    }
    // Where a header states no size, the converter's reading of the file tells.
    const QString conv = makeTempDir("pvident");
    ConverterCommand identify;
    identify.kind = ConvertKind::Identify;
    for (const auto &[bytes, size] : {std::pair{syntheticDng(), QSize(128, 96)}, std::pair{linearDng(), QSize(96, 64)}}) {
        identify.input = conv + "/x.dng";
        identify.output = conv + "/x.inf";
        ASSERT_TRUE(writeFileBytes(identify.input, bytes));
        ASSERT_TRUE(RunConverter(identify, kConverterLimitMs));
        EXPECT_EQ(ConverterImageSize(readFileBytes(identify.output)), size);
    }
}

TEST_F(PreviewWindow, FilesWithoutAPictureShowTheirTypeIconAndWhy)
{
    const QString work = makeTempDir("pvicons");
    const QByteArray photo = taggedJpeg(work, 60, 40, cameraTags("II"));
    REQUIRE(!photo.isEmpty(), "imagemagick, cjpeg or exiftool");
    REQUIRE(haveTool("zip"), "zip");
    ASSERT_TRUE(writeFileBytes(work + "/a.txt", "hello\n"));
    ASSERT_EQ(runTool("zip", {"-q", "-j", work + "/a.zip", work + "/a.txt"}), 0);
    QByteArray noise(6000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);
    // (The desktop has no thumbnailer for PCX files.)
    list({{"R#0003.txt", readFileBytes(work + "/a.txt")},
          {"R#0004.zip", readFileBytes(work + "/a.zip")},
          {"R#0005.jpg", photo.left(photo.indexOf("Canon") + 3)},   // cut inside the EXIF block
          {"R#0006.jpg", noise},
          {"R#0007.pcx", noise},
          {"R#0008.txt", "more text\n"}});

    click(0);
    const QImage txtIcon = w->Picture1.Picture();
    EXPECT_TRUE(w->Picture1Canvas.printed.isEmpty());   // no note for a type that has no picture
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/txt.jpg"));
    EXPECT_TRUE(w->lblSpecs.Caption().contains("Display: System Icon")) << w->lblSpecs.Caption().toStdString();
    click(1);
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/zip.jpg"));
    EXPECT_NE(w->Picture1.Picture(), txtIcon);
    // The type thumbnail is made once for all files of the type.
    const QDateTime made = QFileInfo(cache + "/Thumbs/txt.jpg").lastModified();
    QFile f(cache + "/Thumbs/txt.jpg");
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(made.addSecs(-3600), QFileDevice::FileModificationTime);
    f.close();
    click(5);
    EXPECT_EQ(QFileInfo(cache + "/Thumbs/txt.jpg").lastModified(), made.addSecs(-3600));

    // A JPEG cut short is called incomplete; bytes that are no JPEG at all
    // are not.
    click(2);
    EXPECT_EQ(w->Picture1Canvas.printed,
              QStringList({"", "  Failed rendering a picture.", "  Probably this file is incomplete!"}));
    click(3);
    EXPECT_EQ(w->Picture1Canvas.printed, QStringList({"", "  Failed rendering a picture."}));
    for (const int i : {2, 3})
        EXPECT_TRUE(InNoPreviewList(w->NoPreviewList, w->FoundFilePaths[i]));
    EXPECT_FALSE(InNoPreviewList(w->NoPreviewList, "5.jpg"));

    click(4);
    ASSERT_EQ(w->Picture1Canvas.printed.size(), 4);
    EXPECT_EQ(w->Picture1Canvas.printed[1], "  Not able to render the PCX file type.");
    EXPECT_EQ(w->Picture1Canvas.printed[2], "  No Windows thumbnailer is associated.  pcx");
    EXPECT_TRUE(w->Picture1Canvas.printed[3].startsWith("  Double click for showing with ")
                || w->Picture1Canvas.printed[3] == "  Also no Windows application associated.");
}

TEST_F(PreviewWindow, AnEmptyFileShowsItsCard)
{
    list({{"R#0001.jpg", QByteArray("x")}, {"R#0004.jpg", QByteArray()}});
    click(1);
    EXPECT_EQ(w->lblSpecs.Caption(), "\r\nR#0004.jpg\r\nFile has no file length.");
    // The empty file leaves the cache (into the trash) and the list.
    EXPECT_EQ(w->FoundFilePaths, QStringList({"R#0001.jpg"}));
    EXPECT_EQ(w->List3.ListCount(), 1);
    EXPECT_FALSE(QFileInfo::exists(cache + "/R#0004.jpg"));
    EXPECT_TRUE(QFileInfo::exists(privateHome.trashFiles() + "/R#0004.jpg"));

    // A missing file leaves the list too, but not while its whole folder
    // cannot be reached.
    list({{"R#0001.jpg", QByteArray("x")}, {"R#0002.jpg", QByteArray("y")}});
    QFile::remove(cache + "/R#0002.jpg");
    click(1);
    EXPECT_EQ(w->FoundFilePaths, QStringList({"R#0001.jpg"}));
    w->ShownFolder = "Q:\\Gone\\";
    w->List3.AddItem("R#0002.jpg");
    w->FoundFilePaths << "R#0002.jpg";
    click(1);
    EXPECT_EQ(w->List3.ListCount(), 2);
    EXPECT_FALSE(w->FileListBusy);
    EXPECT_FALSE(w->OperationBusy);
}

TEST_F(PreviewWindow, AnOverLongPictureIsCutOnAFixedDiskButNeverATiff)
{
    const QString work = makeTempDir("pvtrim");
    const QString jpg = work + "/big.jpg";
    const QString tif = work + "/big.tif";
    REQUIRE(runTool("convert", {"-size", "1000x1000", "xc:navy", "-type", "TrueColor", jpg}) == 0
                && runTool("convert", {"-size", "1000x1000", "xc:navy", tif}) == 0,
            "imagemagick");
    const QByteArray tail(7 * 1024 * 1024, 'z');
    // The cache under a dotted folder: extensions come from names only.
    useCache(makeTempDir("x.y"));
    list({{"R#0001.jpg", readFileBytes(jpg) + tail}, {"R#0002.tif", readFileBytes(tif) + tail}});
    const qint64 tifSize = QFileInfo(cache + "/R#0002.tif").size();

    w->LastScanDriveType = "Removable";
    click(0);
    EXPECT_GT(QFileInfo(cache + "/R#0001.jpg").size(), 7 * 1024 * 1024);

    w->LastScanDriveType = "Fixed";
    click(0);
    EXPECT_EQ(QFileInfo(cache + "/R#0001.jpg").size(), 6144000);
    click(1);
    EXPECT_EQ(QFileInfo(cache + "/R#0002.tif").size(), tifSize);
}

TEST_F(PreviewWindow, ARawFileWithoutExifTakesItsJpegCompanionsLines)
{
    const QString work = makeTempDir("pvcomp");
    const QByteArray photo = taggedJpeg(work, 60, 40, cameraTags("MM"));
    REQUIRE(!photo.isEmpty(), "imagemagick, cjpeg or exiftool");
    SetConverterProgram(work + "/none");   // no converter: the RAW file gives no picture
    list({{"R#0009.jpg", "x"}, {"R#0010.cr2", QByteArray(5000, 'r')}, {"R#0011.txt", "t"}, {"R#0010.jpg", photo}});
    click(1);
    const QString summary = w->lblSpecs.Caption();
    EXPECT_TRUE(summary.contains("Make: Canon")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Model: Canon EOS 5D")) << summary.toStdString();
    EXPECT_TRUE(summary.startsWith("File: 10.cr2 5 kB\r\n")) << summary.toStdString();
}

TEST_F(PreviewWindow, AScanOfACardOfTaggedPhotosNamesTheCamera)
{
    const QString work = makeTempDir("pvscan");
    const QByteArray canon = taggedJpeg(work, 320, 240, cameraTags("II"));
    REQUIRE(!canon.isEmpty() && haveTool("mkfs.fat") && haveTool("mcopy"), "imagemagick, exiftool or mtools");
    const QByteArray nikon = taggedJpeg(work, 320, 240,
                                        cameraTags("MM") << "-IFD0:Make=NIKON CORPORATION" << "-IFD0:Model=NIKON D90");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 4;
    const QString image = makeFatImage(work, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(mmd(image, "DCIM"));
    ASSERT_TRUE(mcopyFiles(image, "DCIM", {{"IMG_0001.JPG", canon}, {"DSC_0002.JPG", nikon}}));

    plat::DriveTable::instance().resetVirtual();
    ASSERT_TRUE(attachRemovable('E', image));
    BuildSignatureTable("all");
    MessageScript boxes;
    w->SourceName = "E:";
    GetDriveInfo(w->SourceName);
    w->OperationRunning = true;
    w->ScanDisk();
    w->OperationRunning = false;

    QStringList lines;
    for (int i = 0; i < w->List3.ListCount(); ++i)
        lines << w->List3.List(i);
    EXPECT_TRUE(lines.filter("Canon EOS 5D").size() == 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines.filter("NIKON D90").size() == 1) << lines.join('|').toStdString();
    plat::DriveTable::instance().resetVirtual();
}

TEST_F(PreviewWindow, ThumbnailWidthShrinksForManyFilesAndTheScanReadsCameraFacts)
{
    w->TxtWidth.setText("72");
    w->FitThumbWidth(1);
    EXPECT_EQ(w->ThumbWidth, 72);
    EXPECT_EQ(w->ThumbHeight, 48);
    w->FitThumbWidth(2000);   // 250 x (200 / 72)^2 = 1929 files at most
    EXPECT_EQ(w->ThumbWidth, 70);
    EXPECT_EQ(w->TxtWidth.Text(), "70");
    w->TxtWidth.setText("20");
    w->FitThumbWidth(0);
    EXPECT_EQ(w->ThumbWidth, 32);
    EXPECT_EQ(w->ThumbHeight, 21);

    // The scan's read of a unit's bytes: the date in the EXIF form.
    TiffBuilder t(true);
    const int ifd0 = t.addIfd();
    t.add(ifd0, 0x010F, 2, 6, t.ascii("Canon"));
    t.add(ifd0, 0x0110, 2, 13, t.ascii("Canon EOS 5D"));
    t.add(ifd0, 0x0132, 2, 20, t.ascii("2009:03:12 13:45:10"));
    const QByteArray unit = QByteArray("\xFF\xD8\xFF\xE1\x00\x80" "Exif\0\0", 12) + t.build();
    const auto facts = w->ReadExifQuick(reinterpret_cast<const unsigned char *>(unit.constData()), size_t(unit.size()));
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->model, "Canon EOS 5D");
    EXPECT_EQ(facts->dateText, "2009:03:12 13:45:10");
    EXPECT_EQ(facts->width, 0);
    const QByteArray none(600, 'x');
    EXPECT_FALSE(w->ReadExifQuick(reinterpret_cast<const unsigned char *>(none.constData()), size_t(none.size())));
}
