// Browse on the main window (offscreen), the folder dialog answered by the
// test: another folder's files as the list and the grid with their
// thumbnails apart in Thumbs\Browse\ (emptied for each folder chosen), the
// user's files never re-dated, a chosen file selected, an empty folder
// noticed and asked again, the way back to the cache, a folder inside
// another cache tree taken as that cache, and a folder beyond the grid's cap
// told how to see more of it (never to delete the user's files).
#include "app/frmrecover.h"

#include "drive/ui/msgbox.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/viewer/viewer_samples.h"
#include "tests/viewer/viewer_window.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace viewer_samples;

namespace {

class BrowseWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        w = &CreateMainWindow();
        cache = UseNewCache(*w, "browse");
        photo = asymmetricJpeg(makeTempDir("browsepic"), 60, 40);
        ASSERT_FALSE(photo.isEmpty());
    }
    void TearDown() override { DestroyMainWindow(); }

    static QString internal(const QString &native) { return plat::toInternal(native); }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < w->List3.ListCount(); ++i)
            names << w->FoundFilePaths.value(i);
        return names;
    }

    frmRecover *w = nullptr;
    QString cache;
    QByteArray photo;
};

} // namespace

TEST_F(BrowseWindow, OtherFoldersAreShownWithTheirThumbnailsAndKeepTheirDates)
{
    ASSERT_TRUE(writeFileBytes(cache + "/R#0001.jpg", photo));
    w->FoundFilePaths = QStringList{QString()};
    w->RefillFoundFileList();

    // Folder A, remembered from an earlier run: shown without the dialog.
    const QString a = makeTempDir("browseA");
    const QString tagged = a + "/IMG_0001.JPG";
    ASSERT_TRUE(writeFileBytes(tagged, photo));
    ASSERT_TRUE(exiftool(tagged, cameraTags("MM")));
    ASSERT_TRUE(writeFileBytes(a + "/notes.txt", "notes\n"));
    const QDateTime dated = QFileInfo(tagged).lastModified();
    w->BrowseStartFolder = internal(a) + '\\';
    w->CmdBrowse_Click();
    EXPECT_EQ(w->ShownFolder, internal(a) + '\\');
    EXPECT_EQ(listed(), QStringList({"IMG_0001.JPG", "notes.txt"}));
    EXPECT_EQ(w->LvwFiles.ItemCount(), 2);
    EXPECT_EQ(w->ActiveThumbsFolder, w->BrowseThumbsFolder);
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/Browse/IMG_0001JPG.jpg"));
    EXPECT_FALSE(QFileInfo::exists(cache + "/Thumbs/IMG_0001JPG.jpg"));
    EXPECT_EQ(QFileInfo(tagged).lastModified(), dated);   // the user's file keeps its date

    // From the browsed folder the dialog opens there; a file chosen in B
    // shows B with that file selected, and A's thumbnails are gone.
    const QString b = makeTempDir("browseB");
    for (const QString n : {"a.jpg", "b.jpg", "c.jpg"})
        ASSERT_TRUE(writeFileBytes(b + "/" + n, photo));
    {
        DialogScript dialogs;
        dialogs.expect(internal(b) + "\\b.jpg");
        w->CmdBrowse_Click();
        ASSERT_EQ(dialogs.dialogs().size(), 1u);
        EXPECT_EQ(dialogs.dialogs()[0].startFolder, internal(a) + '\\');
        EXPECT_EQ(dialogs.dialogs()[0].kind, plat::DialogKind::FolderOrFile);
        EXPECT_EQ(dialogs.dialogs()[0].title, "Browse");
    }
    EXPECT_EQ(w->ShownFolder, internal(b) + '\\');
    EXPECT_EQ(w->BrowseStartFolder, internal(b) + '\\');
    EXPECT_EQ(w->List3.ListIndex(), 1);
    EXPECT_TRUE(w->List3.Selected(1));
    EXPECT_FALSE(QFileInfo::exists(cache + "/Thumbs/Browse/IMG_0001JPG.jpg"));
    EXPECT_TRUE(QFileInfo::exists(cache + "/Thumbs/Browse/bjpg.jpg"));
    // Another width makes the browsed folder's thumbnails anew.
    w->TxtWidth.setText("96");
    w->CmdRenderWidth_Click();
    EXPECT_EQ(w->ShownFolder, internal(b) + '\\');
    EXPECT_EQ(QImage(cache + "/Thumbs/Browse/bjpg.jpg").size(), QSize(96, 64));
    EXPECT_EQ(w->LvwFiles.ItemCount(), 3);

    // An empty folder is said to be empty and the dialog comes again;
    // cancelled, the cache is shown.
    const QString empty = makeTempDir("browseEmpty");
    {
        DialogScript dialogs;
        MessageScript boxes;
        dialogs.expect(internal(empty)).expectCancel();
        boxes.expect(plat::id::OK, "Folder " + internal(empty) + "\\ is empty.");
        w->CmdBrowse_Click();
        EXPECT_EQ(dialogs.dialogs()[1].startFolder, internal(empty) + '\\');
    }
    EXPECT_EQ(w->ShownFolder, w->CacheRoot);
    EXPECT_EQ(listed(), QStringList({"R#0001.jpg"}));

    // With the cache shown, Browse goes back to the folder browsed last.
    w->BrowseStartFolder = internal(b) + '\\';
    w->CmdBrowse_Click();
    EXPECT_EQ(w->ShownFolder, internal(b) + '\\');
    EXPECT_EQ(w->List3.ListCount(), 3);
    // The Thumbs button returns to the cache's list.
    w->CmdShowThumbs_Click();
    EXPECT_EQ(w->ShownFolder, w->CacheRoot);
    EXPECT_EQ(w->ActiveThumbsFolder, w->ThumbsFolder);
    EXPECT_EQ(listed(), QStringList({"R#0001.jpg"}));
    EXPECT_FALSE(w->LvwFiles.Visible());
}

TEST_F(BrowseWindow, AFolderInAnotherCacheTreeBecomesTheCache)
{
    // The shown cache is empty; another one holds two found files.
    const QString other = makeTempDir("browseOther") + "/RIVozud";
    ASSERT_TRUE(QDir().mkpath(other + "/Thumbs"));
    ASSERT_TRUE(writeFileBytes(other + "/R#0001.jpg", photo));
    ASSERT_TRUE(writeFileBytes(other + "/R#0002.jpg", photo));
    DialogScript dialogs;
    dialogs.expect(internal(other) + "\\Thumbs");
    w->BrowseStartFolder = w->CacheRoot;
    w->CmdBrowse_Click();
    EXPECT_EQ(w->CacheRoot, internal(other) + '\\');
    EXPECT_EQ(w->ShownFolder, w->CacheRoot);
    EXPECT_EQ(listed(), QStringList({"R#0001.jpg", "R#0002.jpg"}));
    EXPECT_EQ(w->LvwFiles.ItemCount(), 2);
    EXPECT_TRUE(QFileInfo::exists(other + "/Thumbs/0002jpg.jpg"));
}

TEST_F(BrowseWindow, AFolderBeyondTheGridsCapIsToldHowToSeeMoreOfIt)
{
    // 2,000 files: 1,929 thumbnails at the width box's 72; all of them at 70.
    const QString folder = makeTempDir("browsemany");
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(writeFileBytes(folder + QStringLiteral("/note%1.txt").arg(i, 4, 10, QLatin1Char('0')), "n\n"));
    w->BrowseStartFolder = internal(folder) + '\\';
    w->EnableButtons();   // as at start-up: the cache is empty
    ASSERT_FALSE(w->CmdRenderWidth.Enabled());
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Only the first 1929 of 2000 thumbnails are shown.\r\nSmaller thumbnails show "
                                   "more: type a smaller width, such as 70, and press Render Width.");
        w->CmdBrowse_Click();
    }
    EXPECT_EQ(w->LvwFiles.ItemCount(), 1929);
    EXPECT_EQ(w->TxtWidth.Text(), "70");
    // As told: Render Width (usable though the cache is empty) at the width
    // the box now shows.
    EXPECT_TRUE(w->CmdRenderWidth.Enabled());
    w->CmdRenderWidth_Click();
    EXPECT_EQ(w->LvwFiles.ItemCount(), 2000);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2000);   // nothing of the user's gone
    // Back at the empty cache the button is as the cache allows.
    w->CmdShowThumbs_Click();
    EXPECT_EQ(w->ShownFolder, w->CacheRoot);
    EXPECT_FALSE(w->CmdRenderWidth.Enabled());
}
