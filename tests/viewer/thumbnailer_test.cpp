// Thumbnails from the desktop's thumbnailers: the off-screen surface that
// only grows, the Exec line as an argument vector, and a thumbnailer stub of
// the test's own (registered through XDG_DATA_DIRS) run by the main window:
// its picture drawn where the formula puts it, the size capped, documents and
// failed files never asked again, a hung stub ended at its limit, grid cells
// of other types made from it; pictures claiming more pixels than a preview
// decodes show their type's icon with their size and are never handed to it.
#include "app/frmrecover.h"

#include "platform/paths.h"
#include "tests/support/fixtures.h"
#include "tests/viewer/viewer_samples.h"
#include "tests/viewer/viewer_window.h"
#include "viewer/foundnames.h"
#include "viewer/memdc.h"
#include "viewer/pictureops.h"
#include "viewer/thumbnailer.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <signal.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

QImage solid(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

// A thumbnailer stub for PCX, TeX and Word files (and PNG, GIF and TIFF
// pictures, which the picture readers draw first): logs its arguments, fails
// for names holding "bad", hangs for names holding "hang", and otherwise
// writes a green picture of the size asked for, two thirds as high.
class StubThumbnailer : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir("stubxdg");
        QDir().mkpath(dir + "/thumbnailers");
        log = dir + "/log";
        pidFile = dir + "/pid";
        ASSERT_TRUE(writeScript(dir + "/stub",
                                "echo \"$@\" >> '" + log.toUtf8() + "'\n"
                                "case \"$3\" in *bad*) exit 1;; *hang*) echo $$ > '" + pidFile.toUtf8() +
                                    "'; exec sleep 30;; esac\n"
                                    "exec convert -size \"$2x$(($2 * 2 / 3))\" xc:#00ff00 \"png:$4\"\n"));
        ASSERT_TRUE(writeFileBytes(dir + "/thumbnailers/stub.thumbnailer",
                                   "[Thumbnailer Entry]\nTryExec=" + dir.toUtf8() + "/stub\nExec=" + dir.toUtf8()
                                       + "/stub -s %s %u %o\nMimeType=image/x-pcx;text/x-tex;application/msword;image/png;image/gif;image/tiff;\n"));
        env = std::make_unique<ScopedEnv>("XDG_DATA_DIRS", (dir + ":/usr/local/share:/usr/share").toUtf8());
        w = &CreateMainWindow();
        cache = UseNewCache(*w, "stubcache");
    }
    void TearDown() override
    {
        DestroyMainWindow();
        env.reset();
    }
    int runs() const { return int(readFileBytes(log).count('\n')); }
    QString put(const QString &name)
    {
        EXPECT_TRUE(writeFileBytes(cache + "/" + QString(name).replace('\\', '/'), "found file bytes\n"));
        return w->CacheRoot + name;
    }

    QString dir, log, pidFile, cache;
    std::unique_ptr<ScopedEnv> env;
    frmRecover *w = nullptr;
};

} // namespace

TEST(MemDC, TheSurfaceOnlyGrowsAndCopiesWithoutBlending)
{
    pcMemDC dc;
    dc.CreateFromBitmap(solid(10, 5, Qt::red));
    EXPECT_EQ(dc.GetWidth(), 10);
    EXPECT_EQ(dc.GetHeight(), 5);
    EXPECT_EQ(dc.GetPicture().pixelColor(9, 4), QColor(Qt::red));
    // Smaller keeps the picture; larger gives a new, empty surface.
    dc.SetWidth(4);
    EXPECT_EQ(dc.GetWidth(), 10);
    EXPECT_EQ(dc.GetPicture().pixelColor(9, 4), QColor(Qt::red));
    dc.SetWidth(12);
    EXPECT_EQ(dc.GetWidth(), 12);
    EXPECT_EQ(dc.GetPicture().pixelColor(9, 4), QColor(Qt::black));

    // -1 copies the whole surface; a region past its edge is black there.
    dc.CreateFromBitmap(solid(3, 2, Qt::blue));
    QImage target = solid(20, 10, Qt::white);
    dc.Draw(target, 1, 1, -1, -1);
    EXPECT_EQ(target.pixelColor(1, 1), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(12, 5), QColor(Qt::black));
    EXPECT_EQ(target.pixelColor(13, 6), QColor(Qt::white));
    const QImage part = dc.GetPicture(2, 0, 4, 2);
    EXPECT_EQ(part.size(), QSize(4, 2));
    EXPECT_EQ(part.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(part.pixelColor(3, 1), QColor(Qt::black));
    EXPECT_FALSE(dc.Create(-1, 5));
    EXPECT_EQ(dc.GetWidth(), 0);
    EXPECT_EQ(dc.GetHdc(), nullptr);
}

TEST(ThumbnailerExec, TheExecLineBecomesAnArgumentVector)
{
    EXPECT_EQ(ThumbnailerArguments(R"(/usr/bin/thumb -s %s "%u" %o --name="a b" %f 100%% "x\"y")",
                                   "/tmp/x y.pcx", "/tmp/o.png", 128),
              QStringList({"/usr/bin/thumb", "-s", "128", "file:///tmp/x%20y.pcx", "/tmp/o.png", "--name=a b", "100%",
                           "x\"y"}));
    // A found file named like an option stays a path.
    EXPECT_EQ(ThumbnailerArguments("t %i %o", "/c/-rf", "/o", 1), QStringList({"t", "/c/-rf", "/o"}));
}

TEST_F(StubThumbnailer, TheDesktopsThumbnailIsDrawnWhereTheFormulaPutsIt)
{
    const QString file = put("R#0001.pcx");
    PictureCanvas canvas;
    canvas.backColor = Qt::white;
    canvas.setSize(QSize(300, 200));
    // Asked for box \ 16 (281 x 187), drawn at ((300 - 281 - 5) \ 2, (200 - 187) \ 2).
    ASSERT_TRUE(w->DrawSystemThumbnail(canvas, 4500, 3000, file));
    EXPECT_TRUE(readFileBytes(log).startsWith("-s 281 file://"));
    EXPECT_EQ(canvas.image.pixelColor(7, 6), QColor(0, 255, 0));
    EXPECT_EQ(canvas.image.pixelColor(287, 192), QColor(0, 255, 0));
    EXPECT_EQ(canvas.image.pixelColor(6, 6), QColor(Qt::white));
    EXPECT_EQ(canvas.image.pixelColor(288, 192), QColor(Qt::white));
    EXPECT_FALSE(w->TimerCleanThumbnail.Enabled());
    EXPECT_FALSE(w->CurrentThumbnailGenerator);

    // Wider than 620: 620 x 420 whatever the height.
    cThumbnailGenerator wide;
    wide.SetWidth(621);
    wide.SetHeight(50);
    wide.SetFileName(file);
    bool success = false;
    const auto thumb = wide.GetThumbnail(success);
    ASSERT_TRUE(success && thumb);
    EXPECT_TRUE(readFileBytes(log).contains("-s 620 "));
    EXPECT_EQ(thumb->GetWidth(), 620);
    EXPECT_EQ(thumb->GetHeight(), 413);
    // A path without a folder runs nothing.
    cThumbnailGenerator bare;
    bare.SetFileName("R#0001.pcx");
    const int before = runs();
    EXPECT_FALSE(bare.GetThumbnail(success));
    EXPECT_FALSE(success);
    EXPECT_EQ(runs(), before);
}

TEST_F(StubThumbnailer, FailuresAndDocumentsAreNotAskedAgainAndAHungThumbnailerIsEnded)
{
    PictureCanvas canvas;
    canvas.setSize(QSize(100, 80));
    const int before = runs();
    EXPECT_FALSE(w->DrawSystemThumbnail(canvas, 1500, 1200, put("letter.DOC")));
    EXPECT_EQ(runs(), before);

    // Only a document's own name counts, never a folder's; and the
    // thumbnailer gets the file by its exact path.
    ASSERT_TRUE(QDir().mkpath(cache + "/my.documents"));
    EXPECT_TRUE(w->DrawSystemThumbnail(canvas, 1500, 1200, put("my.documents\\R#0009.pcx")));
    EXPECT_EQ(runs(), before + 1);
    EXPECT_TRUE(readFileBytes(log).contains("/my.documents/R%230009.pcx "));

    const QString bad = put("R#0002bad.pcx");
    EXPECT_FALSE(w->DrawSystemThumbnail(canvas, 1500, 1200, bad));
    EXPECT_EQ(runs(), before + 2);
    EXPECT_TRUE(InNoPreviewList(w->NoPreviewList, "R#0002bad.pcx"));
    EXPECT_FALSE(w->DrawSystemThumbnail(canvas, 1500, 1200, bad));
    EXPECT_EQ(runs(), before + 2);

    // The release timer ends the stub (and only it), and the file is not
    // asked again.
    const QString hung = put("R#0003hang.pcx");
    EXPECT_FALSE(w->DrawSystemThumbnail(canvas, 1500, 1200, hung));
    const pid_t pid = pid_t(readFileBytes(pidFile).trimmed().toLongLong());
    ASSERT_GT(pid, 0);
    EXPECT_NE(::kill(pid, 0), 0);
    EXPECT_TRUE(InNoPreviewList(w->NoPreviewList, "R#0003hang.pcx"));
    EXPECT_FALSE(w->DrawSystemThumbnail(canvas, 1500, 1200, hung));
    EXPECT_EQ(runs(), before + 3);
}

TEST_F(StubThumbnailer, TypesWithoutAPictureTakeTheDesktopsThumbnailInTheGrid)
{
    put("R#0001.tex");
    put("R#0002.tex");
    put("R#0003bad.tex");
    w->FoundFilePaths = QStringList{QString()};
    w->CmdShowThumbs_Click();
    ASSERT_EQ(w->LvwFiles.ItemCount(), 3);
    for (int i : {1, 2}) {
        const QImage cell = w->ImageList1.image(w->LvwFiles.ItemIcon(i));
        EXPECT_TRUE(near(cell.pixelColor(36, 24), QColor(0, 255, 0), 8)) << i;
    }
    // The one it fails for shows the type's icon.
    EXPECT_FALSE(near(w->ImageList1.image(w->LvwFiles.ItemIcon(3)).pixelColor(36, 24), QColor(0, 255, 0)));
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/0001tex.jpg"));
}

TEST_F(StubThumbnailer, PicturesLargerThanAPreviewDecodesSayTheyAreTooLargeWithTheirSize)
{
    // Whole pictures of 16000 x 16000 pixels (a gigabyte as true colour),
    // and a small picture beside them.
    const QStringList names = {"R#0001.png", "R#0002.gif", "R#0003.tif", "R#0004.png"};
    for (int i = 0; i < 4; ++i) {
        const QByteArray format = names[i].section('.', 1).toLatin1();
        const int side = i < 3 ? 16000 : 64;
        ASSERT_TRUE(writeFileBytes(cache + "/" + names[i], pictureClaiming(format, side, side)));
    }
    w->List3.Clear();
    w->FoundFilePaths.clear();
    for (const QString &name : names) {
        w->FoundFilePaths << name;
        w->List3.AddItem(name);
    }
    w->ItemOrientations.assign(4, 0.0f);
    const QSize box(424, 283);
    for (int i = 0; i < 3; ++i) {
        // The header is read and found over the budget: nothing is decoded.
        const DecodePlan plan = PlanPictureDecode(cache + "/" + names[i], box, DecodeBudget::Preview);
        EXPECT_EQ(plan.header, QSize(16000, 16000)) << i;
        EXPECT_FALSE(plan.withinBudget) << i;

        w->FileListBusy = false;
        w->List3.setListIndex(i);
        // Their size and how to see them; never a word of damage.
        const QStringList printed = w->Picture1Canvas.printed;
        ASSERT_EQ(printed.size(), 3) << i;
        EXPECT_EQ(printed[1], "  The picture is too large to preview: 16000 x 16000 pixels.");
        EXPECT_EQ(printed[2], "  Click it to see it in the full picture window, or press Open With.");
        EXPECT_TRUE(w->lblSpecs.Caption().contains("Display: System Icon")) << w->lblSpecs.Caption().toStdString();
    }
    w->FileListBusy = false;
    w->List3.setListIndex(3);
    EXPECT_TRUE(w->lblSpecs.Caption().contains("ImageWidth: 64")) << w->lblSpecs.Caption().toStdString();
    EXPECT_TRUE(w->Picture1Canvas.printed.isEmpty());

    // The grid: cells of their own (the type's icon marked too large) saying
    // so, its own picture for the small one; the desktop's thumbnailer was
    // never asked for any of them.
    w->ResultViewState = 0;
    w->CmdShowThumbs_Click();
    ASSERT_EQ(w->LvwFiles.ItemCount(), 4);
    for (int item = 1; item <= 3; ++item) {
        EXPECT_EQ(w->LvwFiles.ItemToolTip(item), "The picture is too large to preview: 16000 x 16000 pixels.");
        EXPECT_NE(w->ImageList1.image(w->LvwFiles.ItemIcon(item)), w->ImageList1.image(w->LvwFiles.ItemIcon(4)));
    }
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/0001png.jpg"));
    EXPECT_NE(readFileBytes(cache + "/Thumbs/0001png.jpg"), readFileBytes(cache + "/Thumbs/png.jpg"));
    EXPECT_TRUE(w->LvwFiles.ItemToolTip(4).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/0004png.jpg"));
    EXPECT_EQ(runs(), 0);
}
