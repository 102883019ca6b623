// The preview's mouse on the main window (offscreen): the popup placed at
// the pointer and showing the present state, rotations and filters that
// redraw only on a change, the JPEG copy of the shown picture (a free name,
// never over a file without asking, never into the cache), the full picture
// window (opened for a big picture, hidden by Esc and a press, its screen
// copy, its filter applied once, its picture decoded while the window
// answers, and shown only while it is still chosen), and the found file's
// double click.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/viewer/viewer_samples.h"
#include "tests/viewer/viewer_window.h"
#include "viewer/ui/fullpicture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QListWidget>
#include <QMouseEvent>
#include <QTimer>
#include <atomic>
#include <semaphore>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

class PictureMouse : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        w = &CreateMainWindow();
        cache = UseNewCache(*w, "mouse");
        saveFolder = makeTempDir("mousesave");
        ChooserStartPath = plat::toInternal(saveFolder) + '\\';
        w->FilterActive = false;
        w->FilterName.clear();
    }
    void TearDown() override
    {
        UnloadFullPicture();
        DestroyMainWindow();
    }

    // One picture in the cache, listed and shown.
    void show(const QString &name, const QByteArray &bytes)
    {
        ASSERT_TRUE(writeFileBytes(cache + "/" + name, bytes));
        w->FoundFilePaths = QStringList{name};
        w->ItemOrientations.assign(1, 0.0f);
        w->List3.Clear();
        w->List3.AddItem(name);
        w->FileListBusy = false;
        w->List3.setListIndex(0);
    }
    void choose(int row)
    {
        w->ListFilters.setVisible(true);
        w->ListFilters.setListIndex(row);
    }
    qint64 shownKey() const { return w->Picture1.Picture().cacheKey(); }

    frmRecover *w = nullptr;
    QString cache, saveFolder;
};

} // namespace

TEST_F(PictureMouse, ThePopupStandsAtThePointerAndShowsThePresentState)
{
    const QByteArray photo = asymmetricJpeg(makeTempDir("mousepop"), 60, 40);
    ASSERT_FALSE(photo.isEmpty());
    show("R#0001.jpg", photo);
    const qint64 drawn = shownKey();

    // A press at pixel (50, 5): 750 - 1300 and 75 - 150 twips, kept at 0.
    w->Picture1_MouseDown(plat::vbRightButton, 0, 750, 75);
    EXPECT_TRUE(w->ListFilters.Visible());
    EXPECT_EQ(w->ListFilters.Left(), 0);
    EXPECT_EQ(w->ListFilters.Top(), 0);
    EXPECT_EQ(w->ListFilters.ListIndex(), 5);   // Reset Rotation
    EXPECT_EQ(w->ListFilters.ListCount(), 12);
    EXPECT_TRUE(w->ListFilters.List(11).contains("Save"));
    EXPECT_GE(w->ListFilters.Height(), 13 * 190);
    EXPECT_EQ(shownKey(), drawn);   // choosing the state acted on nothing

    w->Picture1_MouseDown(plat::vbRightButton, 0, 3000, 1500);
    EXPECT_EQ(w->ListFilters.Left(), 1700);
    EXPECT_EQ(w->ListFilters.Top(), 1350);
    w->ItemOrientations[0] = 106;
    w->Picture1_MouseDown(plat::vbRightButton, 0, 3000, 1500);
    EXPECT_EQ(w->ListFilters.ListIndex(), 2);   // Rotate 90 CW
    w->ItemOrientations[0] = 0;
    w->FilterActive = true;
    w->FilterName = "Sharpen";
    w->Picture1_MouseDown(plat::vbRightButton, 0, 3000, 1500);
    EXPECT_EQ(w->ListFilters.ListIndex(), 8);

    // Nothing while a scan runs.
    w->ListFilters.setVisible(false);
    w->OperationRunning = true;
    w->Picture1_MouseDown(plat::vbRightButton, 0, 3000, 1500);
    EXPECT_FALSE(w->ListFilters.Visible());
    w->OperationRunning = false;
}

TEST_F(PictureMouse, RotationsAndFiltersRedrawOnlyWhenTheyChangeSomething)
{
    const QByteArray photo = asymmetricJpeg(makeTempDir("mouserot"), 60, 40);
    ASSERT_FALSE(photo.isEmpty());
    show("R#0001.jpg", photo);
    const QImage plain = w->Picture1.Picture();

    choose(2);   // Rotate 90 CW
    EXPECT_FALSE(w->ListFilters.Visible());
    EXPECT_EQ(w->ItemOrientations[0], 6.0f);
    EXPECT_TRUE(w->ThumbFlag);
    EXPECT_NE(w->Picture1.Picture(), plain);
    EXPECT_TRUE(w->ExifLines[2].contains("40")) << w->ExifLines[2].toStdString();   // now 40 wide
    const qint64 turned = shownKey();
    choose(2);
    EXPECT_EQ(shownKey(), turned);
    choose(5);   // back to the file's own orientation
    EXPECT_EQ(w->Picture1.Picture(), plain);

    choose(8);   // Sharpen
    EXPECT_TRUE(w->FilterActive);
    EXPECT_EQ(w->FilterName, "Sharpen");
    const QImage sharp = w->Picture1.Picture();
    EXPECT_NE(sharp, plain);
    choose(8);
    EXPECT_EQ(w->Picture1.Picture().cacheKey(), sharp.cacheKey());
    choose(6);   // Unsharp: another drawing
    EXPECT_NE(w->Picture1.Picture(), sharp);
    choose(10);  // Reset Filter
    EXPECT_FALSE(w->FilterActive);
    EXPECT_EQ(w->Picture1.Picture(), plain);
    const qint64 reset = shownKey();
    choose(10);
    EXPECT_EQ(shownKey(), reset);
}

TEST_F(PictureMouse, ARotationActsOnTheShownViewsSelectionOnly)
{
    const QByteArray photo = asymmetricJpeg(makeTempDir("mouseview"), 60, 40);
    ASSERT_FALSE(photo.isEmpty());
    QStringList names;
    for (int i = 1; i <= 10; ++i) {
        names << QStringLiteral("R#%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        ASSERT_TRUE(writeFileBytes(cache + "/" + names.last(), photo));
    }
    w->FoundFilePaths = names;
    w->ItemOrientations.assign(10, 0.0f);
    w->List3.Clear();
    w->LvwFiles.Clear();
    for (const QString &n : names) {
        w->List3.AddItem(n);
        w->LvwFiles.AddItem(n);
    }
    // The grid was shown once with item 009 selected, then the list.
    w->LvwFiles.setVisible(true);
    w->List3.setVisible(false);
    w->LvwFiles.setItemSelected(9, true);
    w->LvwFiles.setVisible(false);
    w->List3.setVisible(true);
    w->FileListBusy = false;
    w->List3.setListIndex(3);
    w->List3.setSelected(3, true);
    ASSERT_TRUE(w->ExifLines.value(0).contains("04.jpg"));

    choose(2);   // Rotate 90 CW
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(w->ItemOrientations[size_t(i)], i == 3 ? 6.0f : 0.0f) << i;
    EXPECT_EQ(w->List3.ListIndex(), 3);
    EXPECT_FALSE(w->List3.Selected(8));
    EXPECT_TRUE(w->ExifLines.value(0).contains("04.jpg")) << w->ExifLines.value(0).toStdString();

    // Shown, the grid's selection is the one that counts: two chosen items
    // turn, the clicked one stays in the preview.
    w->List3.setVisible(false);
    w->LvwFiles.setVisible(true);
    EXPECT_TRUE(w->LvwFiles.ItemSelected(4));   // the list's selection went along
    EXPECT_FALSE(w->LvwFiles.ItemSelected(9));
    w->LvwFiles.setItemSelected(4, false);
    w->LvwFiles.setItemSelected(2, true);
    w->LvwFiles.setItemSelected(6, true);
    w->List3.setListIndex(1);   // the grid's click on item 2
    choose(4);   // Rotate 180
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(w->ItemOrientations[size_t(i)], i == 1 || i == 5 ? 3.0f : i == 3 ? 6.0f : 0.0f) << i;
    EXPECT_EQ(w->List3.ListIndex(), 1);
    EXPECT_TRUE(w->ExifLines.value(0).contains("02.jpg")) << w->ExifLines.value(0).toStdString();
}

TEST_F(PictureMouse, TheShownPictureIsSavedAsAJpegUnderAFreeNameOutsideTheCache)
{
    const QByteArray photo = asymmetricJpeg(makeTempDir("mousesv"), 60, 40);
    ASSERT_FALSE(photo.isEmpty());
    show("R#0001.jpg", photo);
    ASSERT_TRUE(writeFileBytes(saveFolder + "/0001.jpg", "kept"));
    const QString save = plat::toInternal(saveFolder) + '\\';
    {
        DialogScript dialogs;
        dialogs.expect(save + "0001_2.jpg");
        w->Picture1_MouseDown(plat::vbRightButton, 0, 3000, 1500);   // the popup with its Save row
        choose(11);
        ASSERT_EQ(dialogs.dialogs().size(), 1u);
        EXPECT_EQ(dialogs.dialogs()[0].fileName, "0001_2.jpg");
        EXPECT_EQ(dialogs.dialogs()[0].startFolder, save);
    }
    QImageReader written(saveFolder + "/0001_2.jpg");
    EXPECT_EQ(written.format(), "jpeg");
    EXPECT_EQ(written.size(), w->Picture1.Picture().size());

    {   // An existing file only when the user says so; never into the cache.
        DialogScript dialogs;
        MessageScript boxes;
        dialogs.expect(save + "0001.bmp");
        boxes.expect(plat::id::No, "already exists");
        w->SaveShownPicture();
        dialogs.expect(w->CacheRoot + "copy");
        boxes.expect(plat::id::OK, "cache");
        w->SaveShownPicture();
        dialogs.expectCancel();
        w->SaveShownPicture();
    }
    EXPECT_EQ(readFileBytes(saveFolder + "/0001.jpg"), "kept");
    EXPECT_FALSE(QFileInfo::exists(cache + "/copy.jpg"));
    // Written under a temporary name and renamed: nothing hidden is left.
    EXPECT_EQ(QDir(saveFolder).entryList(QDir::Files | QDir::Hidden), QDir(saveFolder).entryList(QDir::Files));
}

TEST_F(PictureMouse, ABigPictureOpensFullSizeAndTheWindowCopiesItsScreen)
{
    plat::setScreenSizeOverride(QSize(900, 600));
    const QByteArray photo = asymmetricJpeg(makeTempDir("mousefull"), 1200, 800);
    ASSERT_FALSE(photo.isEmpty());
    show("R#0001.jpg", photo);
    w->Picture1_MouseDown(plat::vbLeftButton, 0, 100, 100);
    FrmFullPicture *full = FullPictureIfLoaded();
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(full->Visible());
    EXPECT_EQ(full->ShownFileName, "R#0001.jpg");
    EXPECT_EQ(full->Width(), 900 * 15);   // 3:2 of the height: the screen's width
    const QImage big = full->Picture1.Picture();
    EXPECT_EQ(big.size(), QSize(900, 600));
    EXPECT_TRUE(near(big.pixelColor(60, 60), Qt::red));

    int esc = 27;
    full->Picture1_KeyDown(esc, 0);
    EXPECT_FALSE(full->Visible());
    full->Show();
    full->Picture1_MouseDown(plat::vbRightButton, 0, 50 * 15, 5 * 15);
    EXPECT_TRUE(full->List1.Visible());
    EXPECT_EQ(full->List1.Left(), 0);
    full->Picture1_MouseDown(plat::vbLeftButton, 0, 0, 0);
    EXPECT_FALSE(full->Visible());

    // Copy Screen: the name cut at its file name's last dot, ".bmp" added.
    const QString save = plat::toInternal(saveFolder) + '\\';
    ASSERT_TRUE(QDir().mkpath(saveFolder + "/a.b"));
    DialogScript dialogs;
    dialogs.expect(save + "Holiday.old.bmp").expect(save + "Holiday").expect(save + "a.b\\shot").expectCancel();
    for (int i = 0; i < 4; ++i) {
        full->List1.setListIndex(-1);
        full->List1.setListIndex(2);
    }
    EXPECT_EQ(dialogs.dialogs()[0].fileName, "R#0001");
    EXPECT_EQ(dialogs.dialogs()[0].title, "Quilvane Screen Copy");
    for (const QString f : {"Holiday.old.bmp", "Holiday.bmp", "a.b/shot.bmp"})
        EXPECT_EQ(QImageReader(saveFolder + "/" + f).size(), QSize(900, 600)) << f.toStdString();
    EXPECT_EQ(QDir(saveFolder).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // A chosen filter is applied when the picture gets the focus, once.
    w->FilterActive = true;
    w->FilterName = "SharpenMore";
    w->Picture1_MouseDown(plat::vbLeftButton, 0, 100, 100);
    full = FullPictureIfLoaded();
    const QImage filtered = full->Picture1.Picture();
    EXPECT_NE(filtered, big);
    full->Picture1_GotFocus();
    EXPECT_EQ(full->Picture1.Picture(), filtered);
    plat::setScreenSizeOverride(QSize());
}

TEST_F(PictureMouse, TheFullViewIsDecodedWhileTheWindowAnswersUnderTheBusyPointer)
{
    plat::setScreenSizeOverride(QSize(900, 600));
    show("R#0001.jpg", asymmetricJpeg(makeTempDir("mousewait"), 1200, 800));
    // The full view's decode ends once the window's events have run.
    std::binary_semaphore gate(0);
    std::atomic<int> fullDecodes{0};
    w->PictureDecoderQueue = std::make_unique<PictureDecodeQueue>([&](const PictureDecodeRequest &r) {
        if (r.budget == DecodeBudget::Full && ++fullDecodes)
            gate.try_acquire_for(std::chrono::seconds(20));
        return DecodePicture(r);
    });
    bool answered = false;
    QTimer::singleShot(0, [&] {
        // Busy: a press on the preview opens nothing; a filter chosen
        // meanwhile unloads the window.
        answered = w->OperationBusy && plat::screenMousePointer() == 11;
        w->Picture1.MouseDown(plat::vbLeftButton, 0, 100, 100);
        choose(8);
        gate.release();
    });
    w->Picture1_MouseDown(plat::vbLeftButton, 0, 100, 100);
    EXPECT_TRUE(answered);
    EXPECT_EQ(fullDecodes.load(), 1);
    EXPECT_FALSE(w->OperationBusy);
    EXPECT_EQ(plat::screenMousePointer(), 0);
    // A window made anew shows the picture, with the filter chosen.
    FrmFullPicture *full = FullPictureIfLoaded();
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(full->Visible() && full->FilterOnFocus);
    EXPECT_TRUE(near(full->Picture1.Picture().pixelColor(60, 60), Qt::red));
    plat::setScreenSizeOverride(QSize());
}

TEST_F(PictureMouse, WhileTheFullViewDecodesTheListAnswersStillBusyAndAnotherChoiceDropsIt)
{
    // A 16000 x 16000 true-colour PNG (a tile by ImageMagick, tiled and
    // written by netpbm) and a JPEG that the desktop's program for pictures
    // opens: recorded, never started.
    const QString work = makeTempDir("mousehuge");
    if (imageMagickPicture(work, "tile.ppm", {"-size", "16x16", "plasma:", "-depth", "8"}).isEmpty()
        || !haveTool("pnmtopng"))
        GTEST_SKIP() << "imagemagick or netpbm missing";
    ASSERT_EQ(runTool("sh", {"-c", "pnmtile 16000 16000 \"$0/tile.ppm\" | pnmtopng -force -nofilter -compression 1"
                                   " >\"$1/R#0001.png\"", work, cache}), 0);
    ASSERT_TRUE(PlanPictureDecode(cache + "/R#0001.png", QSize(1200, 800), DecodeBudget::Full).scaledTo.isValid());
    show("R#0002.jpg", asymmetricJpeg(work, 60, 40));
    QStringList opened;
    SetLaunchHook([&opened](const QString &, const QStringList &args, const QString &) {
        opened << args.value(args.size() - 1);
        return true;
    });
    ASSERT_TRUE(QFile::link("/usr/share/mime", work + "/mime") && QDir().mkpath(work + "/applications"));
    ASSERT_TRUE(writeFileBytes(work + "/applications/viewer.desktop",
                               "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/bin/true %f\n"));
    ASSERT_TRUE(writeFileBytes(work + "/mimeapps.list", "[Default Applications]\nimage/jpeg=viewer.desktop\n"));
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const char *name : {"XDG_DATA_DIRS", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        env.push_back(std::make_unique<ScopedEnv>(name, work.toUtf8()));
    w->FoundFilePaths.prepend("R#0001.png");
    w->ItemOrientations.assign(2, 0.0f);
    w->List3.AddItem("R#0001.png", 0);
    w->List3.setListIndex(0);

    // A double click on the JPEG as the window system delivers it, while the
    // PNG is decoded (the decode waits for it): each press and the double
    // click are answered, nothing opens, and the PNG no longer chosen neither.
    auto *list = qobject_cast<QListWidget *>(w->List3.widget());
    const QPoint at = list->visualItemRect(list->item(1)).center();
    const auto doubleClick = [&] {
        for (const QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                                     QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            QMouseEvent e(t, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                          t == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &e);
        }
    };
    std::binary_semaphore gate(0);
    w->PictureDecoderQueue = std::make_unique<PictureDecodeQueue>([&](const PictureDecodeRequest &r) {
        if (r.budget == DecodeBudget::Full)
            gate.try_acquire_for(std::chrono::seconds(20));
        return DecodePicture(r);
    });
    {
        MessageScript busy;
        busy.expect(plat::id::OK, "Still busy").expect(plat::id::OK, "Still busy").expect(plat::id::OK, "Still busy");
        QTimer::singleShot(0, [&] { doubleClick(); gate.release(); });
        w->Picture1_MouseDown(plat::vbLeftButton, 0, 100, 100);
    }
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(FullPictureIfLoaded()->Visible());
    // The JPEG the press chose is previewed once the user is idle, and opens.
    w->Timer1_Timer();
    w->Timer1.setEnabled(false);
    EXPECT_TRUE(w->LastConvertedFile.endsWith("R#0002.jpg"));
    doubleClick();
    EXPECT_EQ(opened.size(), 1);
    SetLaunchHook({});
}

TEST_F(PictureMouse, TheDoubleClickOpensWithTheProgramOrFullSizeAndNeverRunsAFile)
{
    // The desktop's opener is recorded, never started.
    QStringList opened;
    SetLaunchHook([&opened](const QString &, const QStringList &args, const QString &) {
        opened << args.value(args.size() - 1);
        return true;
    });
    // No program knows pictures: the data folders hold the type database only.
    const QString xdg = makeTempDir("mousexdg");
    ASSERT_TRUE(QFile::link("/usr/share/mime", xdg + "/mime"));
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const char *name : {"XDG_DATA_DIRS", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        env.push_back(std::make_unique<ScopedEnv>(name, xdg.toUtf8()));

    const QString work = makeTempDir("mousedbl");
    show("R#0001.jpg", asymmetricJpeg(work, 1200, 800));
    w->List3_DblClick();
    ASSERT_NE(FullPictureIfLoaded(), nullptr);
    EXPECT_TRUE(FullPictureIfLoaded()->Visible());
    FullPictureIfLoaded()->Hide();
    {   // A small one goes to the opener, which finds no program either.
        MessageScript boxes;
        boxes.expect(plat::id::No, "Associate Windows application?");
        show("R#0002.jpg", asymmetricJpeg(work, 50, 33));
        w->List3_DblClick();
    }
    EXPECT_FALSE(FullPictureIfLoaded()->Visible());
    EXPECT_TRUE(opened.isEmpty());

    // With a program for pictures and texts, a big picture and a text open in it.
    ASSERT_TRUE(QDir().mkpath(xdg + "/applications"));
    ASSERT_TRUE(writeFileBytes(xdg + "/applications/viewer.desktop",
                               "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/bin/true %f\n"));
    ASSERT_TRUE(writeFileBytes(xdg + "/mimeapps.list",
                               "[Default Applications]\nimage/jpeg=viewer.desktop\ntext/plain=viewer.desktop\n"
                               "application/x-shellscript=viewer.desktop\n"));
    show("R#0003.jpg", asymmetricJpeg(work, 1200, 800));
    // Not while the window is busy (the press of the double click started a
    // decode): the program would come up in front of the picture afterwards.
    w->OperationBusy = true;
    w->Picture1.DblClick();
    w->OperationBusy = false;
    EXPECT_TRUE(opened.isEmpty());
    w->Picture1.DblClick();
    EXPECT_FALSE(FullPictureIfLoaded()->Visible());
    show("R#0004.txt", "a note\n");
    w->List3_DblClick();
    EXPECT_EQ(opened, QStringList({QDir::cleanPath(cache + "/R#0003.jpg"), QDir::cleanPath(cache + "/R#0004.txt")}));
    // A found program is never run, not even through the opener.
    show("R#0005.sh", "#!/bin/sh\necho hello\n");
    QFile::setPermissions(cache + "/R#0005.sh", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    w->List3_DblClick();
    EXPECT_EQ(opened.size(), 2);
    env.clear();
    SetLaunchHook({});

    MessageScript boxes;
    boxes.expect(plat::id::OK, "File has no file length.");
    ASSERT_TRUE(writeFileBytes(cache + "/R#0006.jpg", ""));
    w->FoundFilePaths = QStringList{"R#0006.jpg"};
    w->List3.Clear();
    w->List3.AddItem("R#0006.jpg");
    w->FileListBusy = true;   // selected without its preview
    w->List3.setListIndex(0);
    w->FileListBusy = false;
    w->List3_DblClick();
}
