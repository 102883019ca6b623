// The thumbnail grid on the main window (offscreen), on caches of real files:
// a cell per file with its picture turned as the camera said, RAW files
// through dcraw, type icons; thumbnails written once and kept, made anew for
// a changed file or width; a stop during rendering; the limit of a width;
// thumbnails that never show one file for another; a camera's own small
// picture used only for a whole file. Also the grid's arithmetic.
#include "app/frmrecover.h"

#include "platform/paths.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/viewer/viewer_samples.h"
#include "tests/viewer/viewer_window.h"
#include "viewer/pictureops.h"
#include "viewer/thumbgrid.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

class GridWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = &CreateMainWindow();
        cache = UseNewCache(*w, "grid");
    }
    void TearDown() override { DestroyMainWindow(); }

    void put(const QString &name, const QByteArray &bytes) { ASSERT_TRUE(writeFileBytes(cache + "/" + name, bytes)); }
    // The list refilled from the cache folder, then the grid.
    void showGrid()
    {
        w->ClearFileView();
        w->FoundFilePaths = QStringList{QString()};
        w->ResultViewState = 0;
        w->CmdShowThumbs_Click();
    }
    // The cell of the item with this label (empty when none).
    QImage cell(const QString &label) const
    {
        for (int i = 1; i <= w->LvwFiles.ItemCount(); ++i)
            if (w->LvwFiles.ItemText(i) == label)
                return w->ImageList1.image(w->LvwFiles.ItemIcon(i));
        return QImage();
    }
    // The cell of the entry of this name (its item's tag is its index and "K").
    QImage cellOf(const QString &name) const
    {
        for (int i = 1; i <= w->LvwFiles.ItemCount(); ++i)
            if (w->FoundFilePaths.value(w->LvwFiles.ItemTag(i).chopped(1).toInt()) == name)
                return w->ImageList1.image(w->LvwFiles.ItemIcon(i));
        return QImage();
    }
    // The label of each entry's item, by the entry's name.
    QMap<QString, QString> labels() const
    {
        QMap<QString, QString> texts;
        for (int i = 1; i <= w->LvwFiles.ItemCount(); ++i)
            texts.insert(w->FoundFilePaths.value(w->LvwFiles.ItemTag(i).chopped(1).toInt()), w->LvwFiles.ItemText(i));
        return texts;
    }
    QDateTime modified(const QString &file) const { return QFileInfo(cache + "/" + file).lastModified(); }

    frmRecover *w = nullptr;
    QString cache;
};

QByteArray solidPicture(const QString &dir, const QString &format, const QString &colour, int w = 30, int h = 20)
{
    const QString file = dir + "/solid." + format;
    if (runTool("convert", {"-size", QStringLiteral("%1x%2").arg(w).arg(h), "xc:" + colour, file}) != 0)
        return {};
    return readFileBytes(file);
}

} // namespace

TEST(GridArithmetic, LimitsSpacingCountersAndPaths)
{
    EXPECT_EQ(ThumbnailLimit(72), 1929);
    EXPECT_EQ(ThumbnailLimit(70), 2041);   // 2,000 files fit at 70
    EXPECT_EQ(ThumbnailLimit(32), 9766);   // 10,000 files leave 234 without
    EXPECT_EQ(ThumbnailLimit(0), 9766);
    EXPECT_EQ(ThumbIconSpacing(72, 48), QSize(86, 74));
    EXPECT_EQ(ThumbnailCounter("0012jpg.jpg"), 12);
    EXPECT_EQ(ThumbnailCounter("IMG_1jpg.jpg"), 0);
    EXPECT_EQ(FormatHashes(12.5), "13");
    EXPECT_EQ(FormatHashes(0.2), "");
    EXPECT_EQ(NormalizeFolderPath("C:\\a\\\\b"), "C:\\a\\b\\");
    EXPECT_EQ(CacheTreeRootOf("D:\\old\\RIVozud\\Thumbs\\x.jpg"), "D:\\old\\RIVozud\\");
    EXPECT_EQ(CacheTreeRootOf("D:\\RIVozud photos\\x"), "");
}

TEST_F(GridWindow, EveryFileHasACellWithItsPictureOrIconAndTheThumbnailsAreKept)
{
    const QString work = makeTempDir("gridfiles");
    const QByteArray upright = taggedJpeg(work, 60, 40, cameraTags("II"));
    const QByteArray turned = taggedJpeg(work, 60, 40, QStringList{"-IFD0:Orientation#=6"});
    const QByteArray red = solidPicture(work, "png", "red");
    REQUIRE(!upright.isEmpty() && !turned.isEmpty() && !red.isEmpty(), "imagemagick, cjpeg or exiftool");
    put("R#0001.jpg", upright);
    put("R#0002.jpg", turned);
    put("R#0003.png", red);
    put("R#0005.pdf", "%PDF-1.1\n1 0 obj<</Type/Catalog>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n");
    put("R#0006.txt", "some text\n");
    const bool raw = haveTool("dcraw");
    if (raw)
        put("R#0004.cr2", syntheticDng());

    showGrid();
    EXPECT_FALSE(w->RenderingThumbnails);
    EXPECT_EQ(w->ResultViewState, 1);
    EXPECT_TRUE(w->LvwFiles.Visible());
    EXPECT_EQ(w->CmdShowThumbs.Caption(), "FileList Scan");
    EXPECT_EQ(w->CmdScan.Caption(), "Scan");
    ASSERT_EQ(w->LvwFiles.ItemCount(), raw ? 6 : 5);
    EXPECT_EQ(w->LvwFiles.ItemTag(2), "1K");

    // The upright photo fills its cell; the turned one stands upright
    // between bands, its red corner now top right, the blue one bottom right.
    const QImage first = cell("0001.jpg");
    ASSERT_EQ(first.size(), QSize(72, 48));
    EXPECT_TRUE(near(first.pixelColor(4, 4), Qt::red));
    EXPECT_TRUE(near(first.pixelColor(68, 4), Qt::blue));
    const QImage second = cell("0002.jpg");
    EXPECT_TRUE(near(second.pixelColor(44, 4), Qt::red));
    EXPECT_TRUE(near(second.pixelColor(44, 37), Qt::blue));
    EXPECT_TRUE(near(second.pixelColor(5, 24), w->Picture1Canvas.backColor, 20));
    EXPECT_TRUE(near(cell("0003.png").pixelColor(36, 24), Qt::red));
    EXPECT_EQ(w->ItemOrientations[1], 6.0f);
    // The photo in the cache takes its date from its EXIF block.
    EXPECT_EQ(modified("R#0001.jpg"), QDateTime(QDate(2009, 3, 12), QTime(13, 45, 10)));

    // Types without a picture show their icons, one thumbnail per type.
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/pdf.jpg"));
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/txt.jpg"));
    EXPECT_NE(cell("0005.pdf"), cell("0006.txt"));
    if (raw) {
        EXPECT_TRUE(QFileInfo::exists(cache + "/Conv/0004.thc"));
        EXPECT_EQ(QImage(cache + "/Thumbs/0004cr2.jpg").size(), QSize(72, 48));
    }

    // Shown again (the list, then the grid): nothing is written anew.
    QHash<QString, QDateTime> made;
    for (const QFileInfo &f : QDir(cache + "/Thumbs").entryInfoList(QDir::Files))
        made.insert(f.fileName(), f.lastModified());
    w->CmdShowThumbs_Click();
    EXPECT_FALSE(w->LvwFiles.Visible());
    w->CmdShowThumbs_Click();
    EXPECT_EQ(w->LvwFiles.ItemCount(), raw ? 6 : 5);
    for (auto it = made.cbegin(); it != made.cend(); ++it)
        EXPECT_EQ(QFileInfo(cache + "/Thumbs/" + it.key()).lastModified(), it.value()) << it.key().toStdString();

    // A file changed after its thumbnail was made gets a new one.
    put("R#0003.png", solidPicture(work, "png", "blue"));
    QFile changed(cache + "/R#0003.png");
    ASSERT_TRUE(changed.open(QIODevice::ReadWrite));
    changed.setFileTime(QDateTime::currentDateTime().addSecs(3600), QFileDevice::FileModificationTime);
    changed.close();
    w->LvwFiles.Clear();
    w->RenderThumbnails(0);
    EXPECT_TRUE(near(cell("0003.png").pixelColor(36, 24), Qt::blue));
    EXPECT_EQ(QFileInfo(cache + "/Thumbs/0001jpg.jpg").lastModified(), made.value("0001jpg.jpg"));

    // Another width: every thumbnail is made again at that size.
    w->TxtWidth.setText("96");
    w->CmdRenderWidth_Click();
    EXPECT_EQ(w->RenderedThumbWidth, 96);
    EXPECT_EQ(QImage(cache + "/Thumbs/0001jpg.jpg").size(), QSize(96, 64));
    EXPECT_EQ(w->LvwFiles.ItemCount(), raw ? 6 : 5);
    EXPECT_EQ(w->ImageList1.ImageWidth(), 96);
}

TEST_F(GridWindow, AnEmptyFoundFileLeavesTheListWhileTheGridRenders)
{
    PrivateHome home;   // the trash it goes to
    const QString work = makeTempDir("gridempty");
    const QByteArray red = solidPicture(work, "jpg", "red"), blue = solidPicture(work, "jpg", "blue");
    REQUIRE(!red.isEmpty() && !blue.isEmpty(), "imagemagick");
    put("R#0001.jpg", red);
    put("R#0002.jpg", "");
    put("R#0003.jpg", blue);
    put("R#0004.txt", "text\n");
    showGrid();
    ASSERT_EQ(w->List3.ListCount(), 3);
    ASSERT_EQ(w->LvwFiles.ItemCount(), 3);
    EXPECT_EQ(w->LvwFiles.ItemText(2), "0003.jpg");
    EXPECT_TRUE(near(cell("0001.jpg").pixelColor(36, 24), Qt::red));
    EXPECT_TRUE(near(cell("0003.jpg").pixelColor(36, 24), Qt::blue));
    EXPECT_EQ(w->LvwFiles.ItemText(3), "0004.txt");
    EXPECT_FALSE(QFileInfo::exists(cache + "/R#0002.jpg"));
}

TEST_F(GridWindow, TheThumbsButtonStopsARenderingThatKeepsItsCells)
{
    const QByteArray picture = solidPicture(makeTempDir("gridstop"), "jpg", "red");
    REQUIRE(!picture.isEmpty(), "imagemagick");
    for (int i = 1; i <= 150; ++i)
        put(QStringLiteral("R#%1.jpg").arg(i, 4, 10, QLatin1Char('0')), picture);
    w->FoundFilePaths = QStringList{QString()};
    w->RefillFoundFileList();
    // Pressed while the grid renders (its first yield to the window).
    QTimer::singleShot(0, [this] { w->CmdShowThumbs_Click(); });
    w->CmdShowThumbs_Click();
    EXPECT_GE(w->LvwFiles.ItemCount(), 1);
    EXPECT_LT(w->LvwFiles.ItemCount(), 150);
    EXPECT_FALSE(w->RenderingThumbnails);
    EXPECT_EQ(w->ResultViewState, 1);
    EXPECT_EQ(w->CmdScan.Caption(), "Scan");
    EXPECT_TRUE(w->LvwFiles.Visible());
}

TEST_F(GridWindow, TheWidestCellsStopAtTheirLimitAndSaySo)
{
    for (int i = 1; i <= 112; ++i)
        put(QStringLiteral("R#%1.txt").arg(i, 4, 10, QLatin1Char('0')), "text\n");
    w->FoundFilePaths = QStringList{QString()};
    w->RefillFoundFileList();
    w->TxtWidth.setText("300");
    MessageScript boxes;
    boxes.expect(plat::id::OK, "Ran out of memory for thumbnails.\r\nPlease save or delete files for showing the "
                               "remaining 1 thumbnails.");
    w->CmdRenderWidth_Click();
    EXPECT_EQ(w->LvwFiles.ItemCount(), 111);
    // 301 is more than the box takes.
    w->TxtWidth.setText("400");
    w->CmdRenderWidth_Click();
    EXPECT_EQ(w->TxtWidth.Text(), "300");
}

TEST_F(GridWindow, ThumbnailsNeverShowAnotherFileAndShowTheDamageOfACutFile)
{
    const QString work = makeTempDir("gridclash");
    const QByteArray red = solidPicture(work, "jpg", "red"), blue = solidPicture(work, "jpg", "blue");
    REQUIRE(!red.isEmpty() && !blue.isEmpty(), "imagemagick");
    // Two names that give one thumbnail name (0012jpg.jpg).
    put("R#0012.jpg", red);
    put("0012.jpg", blue);

    // A camera file: a grey picture whose stored thumbnail is green.
    const QString photo = work + "/camera.jpg";
    const QByteArray grey = solidPicture(work, "jpg", "gray50", 640, 480);
    const QByteArray green = solidPicture(work, "jpg", "lime", 160, 120);
    ASSERT_TRUE(writeFileBytes(photo, grey) && writeFileBytes(work + "/thumb.jpg", green));
    REQUIRE(exiftool(photo, {"-IFD0:Make=Canon", "-ThumbnailImage<=" + work + "/thumb.jpg"}), "exiftool");
    const QByteArray camera = readFileBytes(photo);
    put("R#0020.jpg", camera);
    put("R#0021.jpg", camera.left(camera.size() - 300));   // cut short

    for (int pass = 0; pass < 2; ++pass) {
        showGrid();
        EXPECT_TRUE(near(cellOf("R#0012.jpg").pixelColor(36, 24), Qt::red)) << pass;
        EXPECT_TRUE(near(cellOf("0012.jpg").pixelColor(36, 24), Qt::blue)) << pass;
        EXPECT_TRUE(near(cell("0020.jpg").pixelColor(36, 24), QColor(0, 255, 0))) << pass;
        EXPECT_FALSE(near(cell("0021.jpg").pixelColor(36, 24), QColor(0, 255, 0))) << pass;
    }
}

TEST_F(GridWindow, LabelsKeepEveryLetterOfANameAndMarkWhatTheyCut)
{
    const QString longName = "Summer holiday at the sea with Anna9.jpg";
    ASSERT_EQ(longName.size(), 40);
    const QStringList names = {"R#0012.jpg", "anim.gif", "doc.pdf", longName};
    for (const QString &name : names)
        put(name, "not a picture\n");
    const QFontMetrics metrics(w->LvwFiles.widget()->font());
    QString before;
    for (const int width : {72, 150}) {
        w->FoundFilePaths = QStringList{QString()};
        w->RefillFoundFileList();
        w->TxtWidth.setText(QString::number(width));
        w->CmdRenderWidth_Click();
        const QMap<QString, QString> shown = labels();
        ASSERT_EQ(shown.size(), 4) << width;
        EXPECT_EQ(shown["R#0012.jpg"], "0012.jpg") << width;
        EXPECT_EQ(shown["anim.gif"], "anim.gif") << width;
        EXPECT_EQ(shown["doc.pdf"], "doc.pdf") << width;
        // The long name: an ellipsis and the end that fits the cell.
        const QString label = shown[longName];
        EXPECT_TRUE(label.startsWith(QChar(0x2026)) || label.startsWith("...")) << label.toStdString();
        EXPECT_TRUE(longName.endsWith(label.mid(label.startsWith("...") ? 3 : 1))) << label.toStdString();
        EXPECT_TRUE(label.endsWith("Anna9.jpg")) << label.toStdString();
        EXPECT_LE(metrics.horizontalAdvance(label), ThumbLabelRoom(width));
        EXPECT_GT(label.size(), before.size());
        before = label;
    }
    // Where a found file's name does not fit, the counter's zeros go first.
    EXPECT_EQ(ThumbLabel("R#0012.jpg", metrics, metrics.horizontalAdvance("12.jpg")), "12.jpg");
    EXPECT_EQ(ThumbLabel("R#0000.jpg", metrics, metrics.horizontalAdvance("0.jpg")), "0.jpg");
}
