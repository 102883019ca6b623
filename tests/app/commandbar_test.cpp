// The command panel's layout, the result commands following the cache, the
// progress panel and the emptied thumbnail view.
#include "app/frmrecover.h"

#include "platform/paths.h"
#include "recovery/cachenames.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

using testing_support::makeTempDir;
using testing_support::writeFileBytes;

namespace {
class CommandBar : public ::testing::Test {
protected:
    void TearDown() override
    {
        DestroyMainWindow();
        plat::setScreenSizeOverride(QSize());
        ChooserStartPath.clear();
    }
};
} // namespace

TEST_F(CommandBar, LayoutPlacesThePanel)
{
    plat::setScreenSizeOverride(QSize(1366, 768));   // 11520 twips high
    frmRecover &w = CreateMainWindow();
    const double designFont = w.txtExif.FontSize();
    w.LayoutCommandBar(270);
    EXPECT_EQ(w.Frame1.Height(), 6885);
    EXPECT_EQ(w.lblSpecs.Top(), 270);
    EXPECT_EQ(w.ProgressBar1.Top(), 2530);
    EXPECT_EQ(w.Picture3.Top(), 2790);
    EXPECT_EQ(w.Picture4.Top(), 3030);
    EXPECT_EQ(w.Picture4.Height(), 3855);
    EXPECT_EQ(w.Drive1.Width(), 2450);
    EXPECT_EQ(w.CmdScan.Top(), 900);
    EXPECT_EQ(w.CmdScan.Left(), 1890);
    EXPECT_EQ(w.CmdQuickUndelete.Top(), 900);
    EXPECT_EQ(w.CmdQuickUndelete.Left(), 105);
    EXPECT_EQ(w.CmdSaveAs.Top(), w.CmdSaveAll.Top());
    EXPECT_EQ(w.CmdShowScanTypes.Left(), w.CmdScan.Left());
    EXPECT_EQ(w.CmdShowScanTypes.Top(), w.CmdLearn.Top());
    EXPECT_EQ(w.CmdEnd.Top(), 3300);
    EXPECT_EQ(w.CmdEnd.Width(), w.CmdBrowse.Width());
    EXPECT_EQ(w.CmdMaxSpeed.Top(), 3300);
    EXPECT_EQ(w.CmdMaxSpeed.Width(), 1165);
    for (plat::Control *c : std::initializer_list<plat::Control *>{
             &w.ChkDeep, &w.CmdBackup, &w.CmdScanBackup, &w.CmdLearn, &w.CmdOpen, &w.CmdSaveAs,
             &w.CmdRenderWidth, &w.TxtWidth, &w.CmdShowFolder, &w.CmdShowScanTypes, &w.CmdBrowse}) {
        EXPECT_TRUE(c->Visible());
        EXPECT_LE(c->Top() + c->Height(), w.Picture4.Height());
        EXPECT_LE(c->Left() + c->Width(), w.Picture4.Width());
    }
    EXPECT_EQ(w.txtExif.FontSize(), 8);
    EXPECT_NE(designFont, 8);

    plat::setScreenSizeOverride(QSize(1600, 800));   // 12000 twips high
    frmRecover &tall = CreateMainWindow();
    tall.LayoutCommandBar(270);
    EXPECT_EQ(tall.txtExif.FontSize(), designFont);
    // The window opens at the default width.
    EXPECT_EQ(tall.Width(), 10335);
}

TEST_F(CommandBar, ResultCommandsFollowTheCache)
{
    frmRecover &w = CreateMainWindow();
    const QString cache = makeTempDir("cache"), save = makeTempDir("save");
    w.CacheRoot = plat::toInternal(cache) + "\\";
    ChooserStartPath = plat::toInternal(save) + "\\";
    plat::Control *six[] = {&w.CmdSaveAll, &w.CmdSaveAs, &w.CmdShowFolder, &w.CmdShowThumbs, &w.CmdOpen,
                            &w.CmdRenderWidth};

    w.EnableButtons();
    for (plat::Control *c : six)
        EXPECT_FALSE(c->Enabled());
    EXPECT_EQ(w.CmdShowFolder.Caption(), "Explore Cache");

    writeFileBytes(save + "/saved.jpg", "x");
    w.EnableButtons();
    for (plat::Control *c : six)
        EXPECT_EQ(c->Enabled(), c == &w.CmdShowFolder);
    EXPECT_EQ(w.CmdShowFolder.Caption(), "Explore Folder");

    writeFileBytes(cache + "/R#0001.jpg", "x");
    w.EnableButtons();
    for (plat::Control *c : six)
        EXPECT_TRUE(c->Enabled());
}

TEST_F(CommandBar, ProgressPanelAndFileView)
{
    frmRecover &w = CreateMainWindow();
    w.lblStatus.setCaption("before");
    w.ProgressBar1.setMax(50);
    w.ShowProgressPanel("x", 0);
    EXPECT_EQ(w.lblStatus.Caption(), "before");
    EXPECT_EQ(w.ProgressBar1.Max(), 50);

    w.Picture3.setVisible(false);
    w.ProgressBar1.setValue(20);
    w.ShowProgressPanel("Saving", 5e9);
    EXPECT_EQ(w.lblStatus.Caption(), "Saving");
    EXPECT_EQ(w.ProgressBar1.Max(), 5e9);
    EXPECT_EQ(w.ProgressBar1.Value(), 0);
    EXPECT_TRUE(w.Picture3.Visible());
    EXPECT_TRUE(w.ProgressBar1.Visible());

    w.LvwFiles.AddItem("R#0001.jpg");
    w.ImageList1.Add(QImage(10, 10, QImage::Format_RGB32));
    w.PictureOrientation = 6;
    w.ThumbWidth = 32;
    w.ThumbHeight = 21;
    w.ClearFileView();
    EXPECT_EQ(w.LvwFiles.ItemCount(), 0);
    EXPECT_EQ(w.ImageList1.Count(), 0);
    EXPECT_EQ(w.ImageList1.ImageWidth(), 32);
    EXPECT_EQ(w.ImageList1.ImageHeight(), 21);
    EXPECT_EQ(w.PictureOrientation, 0);
}
