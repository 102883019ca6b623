// The window's smaller handlers (option boxes during an operation, the
// colour list at the pointer, Explore, Open With, Help), the Get Started
// panel, the About link while busy, and the uninstall clean-up in a sandbox.
#include "app/getstarted.h"

#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/ui/msgbox.h"
#include "tests/app/window_test_util.h"
#include "tests/support/responder.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace window_test;
using testing_support::MessageScript;

namespace {

class WindowOptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        w = &CreateMainWindow();
        SetLaunchHook([this](const QString &program, const QStringList &args, const QString &) {
            launched << args.join(' ');
            return opens;
        });
    }
    void TearDown() override
    {
        SetLaunchHook({});
        plat::setClockHook({});
        DestroyMainWindow();
        ChooserStartPath.clear();
        SetCurrentLanguageId(9);
        SetMsgBoxPlainMode(false);
    }
    frmRecover *w = nullptr;
    QStringList launched;
    bool opens = true;
};

} // namespace

TEST_F(WindowOptions, OptionBoxesKeepTheirValueDuringAnOperation)
{
    w->Show();
    QWidget *deep = byName(*w, "ChkDeep");
    ASSERT_NE(deep, nullptr);
    w->OperationRunning = true;
    pressMouse(deep, Qt::LeftButton);
    EXPECT_EQ(w->ChkDeep.Value(), 0);
    pressKey(deep, Qt::Key_Space, Qt::NoModifier, " ");
    EXPECT_EQ(w->ChkDeep.Value(), 0);
    w->ChkDeep.setValue(1);   // the scan's own fallback still sets it
    EXPECT_EQ(w->ChkDeep.Value(), 1);
    w->OperationRunning = false;
    pressMouse(deep, Qt::LeftButton);
    EXPECT_EQ(w->ChkDeep.Value(), 0);

    // A right click on a checked DeepScan shows the damaged option, whose
    // click checks DeepScan too; a right click on it hides it.
    w->ChkDeep.setValue(1);
    pressMouse(deep, Qt::RightButton);
    EXPECT_TRUE(w->ChkDamaged.Visible());
    w->ChkDeep.setValue(0);
    pressMouse(byName(*w, "ChkDamaged"), Qt::LeftButton);
    EXPECT_EQ(w->ChkDamaged.Value(), 1);
    EXPECT_EQ(w->ChkDeep.Value(), 1);
    pressMouse(byName(*w, "ChkDamaged"), Qt::RightButton);
    EXPECT_FALSE(w->ChkDamaged.Visible());
    // The scan setting the boxes by code sets only what it sets.
    w->ChkDeep.setValue(0);
    w->ChkDamaged.setValue(0);
    EXPECT_EQ(w->ChkDeep.Value(), 0);
}

TEST_F(WindowOptions, TheColourListOpensAtThePointerInsideTheWindow)
{
    w->Form_MouseDown(plat::vbRightButton, 0, 3000, 1500);
    EXPECT_TRUE(w->ListColors.Visible());
    EXPECT_EQ(w->ListColors.Left(), 3000);
    EXPECT_EQ(w->ListColors.Top(), 1500);
    w->Form_MouseDown(plat::vbRightButton, 0, w->Width() - 100, 1500);
    EXPECT_EQ(w->ListColors.Left(), w->Width() - w->ListColors.Width() - 190);
    // A right press on the button panel reaches the window at the pointer.
    w->ListColors.setVisible(false);
    makeCache(*w, {"a.jpg"});
    pressMouse(byName(*w, "Picture4"), Qt::RightButton, QPoint(10, 300));
    EXPECT_TRUE(w->ListColors.Visible());
    EXPECT_EQ(w->ListColors.Top(), (w->Frame1.Top() + w->Picture4.Top()) + 300 * 15);
}

TEST_F(WindowOptions, ExploreAlternatesBetweenTheCacheAndTheSaveFolder)
{
    makeCache(*w, {"R#0001.jpg"});
    const QString save = testing_support::makeTempDir("save");
    touch(save + "/saved.jpg");
    ChooserStartPath = plat::toInternal(save) + "\\";
    const QString cacheNative = plat::toNative(w->CacheRoot);
    QStringList captions;
    for (int i = 0; i < 3; ++i) {
        w->CmdShowFolder_Click();
        captions << w->CmdShowFolder.Caption();
    }
    ASSERT_EQ(launched.size(), 3);
    EXPECT_TRUE(launched[0].startsWith(cacheNative));
    EXPECT_TRUE(launched[1].startsWith(save));
    EXPECT_TRUE(launched[2].startsWith(cacheNative));
    EXPECT_EQ(captions, (QStringList{"Explore Folder", "Explore Cache", "Explore Folder"}));

    // Both empty: the notice, and the view is reset.
    QFile::remove(save + "/saved.jpg");
    QFile::remove(cacheNative + "/R#0001.jpg");
    MessageScript script;
    script.expect(plat::id::OK, "Folders are empty.   ");
    w->CmdShowFolder_Click();
    EXPECT_EQ(script.boxes().at(0).title, "Quilvane  Explore");
    EXPECT_EQ(launched.size(), 3);
    EXPECT_TRUE(w->Picture7.Visible());   // the Get Started panel of an empty cache
}

TEST_F(WindowOptions, OpenWithChoosesTheViewThatHoldsASelection)
{
    int opened3 = 0, opened1 = 0;
    w->List3.DblClick = [&] { ++opened3; };
    w->List1.DblClick = [&] { ++opened1; };
    {
        MessageScript script;
        script.expect(plat::id::OK, "No recoverable files detected yet.");
        w->CmdOpen_Click();
    }
    // Entry lines as Quick Undelete lists them (index and item data).
    w->DeletedEntries.resize(6);
    for (int i = 1; i <= 5; ++i) {
        w->DeletedEntries[size_t(i)].Name = QStringLiteral("FILE%1.JPG").arg(i);
        w->AddEntryLine(w->List1, i, false, QStringLiteral("file%1.jpg").arg(i));
    }
    w->List1.setVisible(true);
    {
        MessageScript script;
        script.expect(plat::id::OK, "Please select a file and try again.");
        w->CmdOpen_Click();
    }
    w->List1.setSelected(2, true);   // a list of several selected lines
    w->CmdOpen_Click();
    EXPECT_EQ(opened1, 1);
    makeCache(*w, {"a.jpg", "b.jpg"});
    w->List1.setVisible(false);
    w->List3.setVisible(true);
    {   // Found files listed, none chosen: the user is asked to choose one.
        MessageScript script;
        script.expect(plat::id::OK, "Please select a file and try again.");
        w->CmdOpen_Click();
    }
    w->List3.setSelected(1, true);
    w->CmdOpen_Click();
    EXPECT_EQ(opened3, 1);
    // In the thumbnail view its own selection counts.
    w->List3.setSelected(1, false);
    w->List3.setVisible(false);
    w->LvwFiles.Clear();
    w->LvwFiles.AddItem("a.jpg");
    w->LvwFiles.AddItem("b.jpg");
    w->LvwFiles.setVisible(true);
    w->LvwFiles.setItemSelected(2, true);
    w->CmdOpen_Click();
    EXPECT_EQ(opened3, 2);
    EXPECT_TRUE(w->List3.Selected(1));
    w->OperationBusy = true;
    {
        MessageScript script;
        script.expect(plat::id::OK, "Still busy");
        w->CmdOpen_Click();
    }
    EXPECT_EQ(opened3, 2);
    w->OperationBusy = false;
}

TEST_F(WindowOptions, HelpFallsBackToTheTextManualThenSaysSo)
{
    qint64 now = 0;
    plat::setClockHook([&] { return now += 100; });   // the wait between the tries passes at once
    MessageScript script;
    script.expect(plat::id::OK, "Browser not able to load htm file.");
    w->lblHelp_Click();
    EXPECT_EQ(script.boxes().at(0).title, "Quilvane Help");
    EXPECT_EQ(w->lblHelp.Caption(), "Help");
    EXPECT_EQ(w->MousePointer(), 0);

    // The text manual when the page cannot be shown.
    const QString manual = plat::programFolderNative() + "/Manual";
    touch(manual + "/manual.txt", "read me");
    w->lblHelp_Click();
    ASSERT_EQ(launched.size(), 1);
    EXPECT_TRUE(launched[0].endsWith("manual.txt"));
    touch(manual + "/Manual.htm", "<html></html>");
    w->lblHelp_Click();
    EXPECT_TRUE(launched.last().endsWith("Manual.htm"));
    QDir(manual).removeRecursively();
}

TEST_F(WindowOptions, GetStartedShowsOnlyForAnEmptyCache)
{
    // Title line of 79 characters in every language.
    for (int language : {9, 1031, 1043}) {
        SetCurrentLanguageId(language);
        const QStringList lines = GetStartedLines();
        ASSERT_EQ(lines.size(), 20);
        EXPECT_EQ(lines[0].size(), 79) << language;
        EXPECT_TRUE(lines[11].contains(QChar(0x2018))) << language;
        EXPECT_TRUE(lines[7].startsWith("   ")) << language;
        EXPECT_TRUE(lines[1].isEmpty());
    }
    SetCurrentLanguageId(9);

    // A cache with a leftover file: hidden, the list untouched.
    const QString root = makeCache(*w, {"left.jpg"});
    w->ShowGetStarted();
    EXPECT_FALSE(w->Picture7.Visible());
    EXPECT_EQ(w->List3.ListCount(), 1);

    // Empty: shown in front of the cleared list; a second call prints nothing
    // again but hides the type list and the entry lists once more.
    QFile::remove(root + "/left.jpg");
    w->ShowGetStarted();
    EXPECT_TRUE(w->Picture7.Visible());
    EXPECT_EQ(w->List3.ListCount(), 0);
    EXPECT_EQ(w->FoundFilePaths, QStringList{QString()});
    const qint64 printed = w->Picture7.Picture().cacheKey();
    w->LvwTypes.setVisible(true);
    w->List1.setVisible(true);
    w->Picture1.setVisible(false);
    w->ShowGetStarted();
    EXPECT_EQ(w->Picture7.Picture().cacheKey(), printed);
    EXPECT_FALSE(w->LvwTypes.Visible());
    EXPECT_FALSE(w->List1.Visible());
    EXPECT_TRUE(w->Picture1.Visible());
    // A left press on the window shows it too.
    w->Picture7.setVisible(false);
    pressMouse(w->widget(), Qt::LeftButton, QPoint(w->widget()->width() - 2, w->widget()->height() - 2));
    EXPECT_TRUE(w->Picture7.Visible());
}

TEST_F(WindowOptions, AboutWhileBusyOnlySaysSo)
{
    w->Show();
    w->OperationRunning = true;
    MessageScript script;
    script.expect(plat::id::OK, "Still busy");
    pressMouse(byName(*w, "lblAbout"), Qt::LeftButton);
    EXPECT_EQ(script.boxes().size(), 1u);
    w->OperationRunning = false;
}

TEST(Uninstall, RemovesExactlyTheProgramsFoldersAndScratchFiles)
{
    // A program folder with the program's own files and a user's files beside them.
    const QByteArray oldHome = qgetenv("QUILVANE_HOME");
    const QString sandbox = testing_support::makeTempDir("sandbox");
    const QString program = sandbox + "/Quilvane";
    qputenv("QUILVANE_HOME", program.toLocal8Bit());
    const QString outside = sandbox + "/elsewhere";
    for (const char *f : {"temp.bmp", "temp1.jpg", "tempfile", "version.txt", "Bin/icon.jpg", "ZTRecdt/list.dat",
                          "ZTRecdt/DiskImages/card.dat", "Manual/Manual.htm", "Manual/English/page.html",
                          "Manual/Deutsch/seite.html", "Manual/images/logo.png"})
        ASSERT_TRUE(touch(program + "/" + f));
    const QStringList sentinels{program + "/config/HKCU.reg", program + "/notes.txt", program + "/my temp.txt",
                                program + "/Binaries/keep.bin", program + "/Manual2/keep.htm",
                                program + "/tmp/keep.tmp", outside + "/keep.jpg", sandbox + "/temp.bmp"};
    for (const QString &s : sentinels)
        ASSERT_TRUE(touch(s));
    // A link where a folder of the program was: the folder it points at stays.
    ASSERT_TRUE(QFile::link(outside, program + "/Manual/Nederlands"));

    // The cache on another disk, with the user's pictures beside it.
    frmRecover &w = CreateMainWindow();
    const QString cards = sandbox + "/cards";
    const QString cacheRoot = makeCache(w, {"R#0001.jpg", "R#0002.cr2"}, cards);
    ASSERT_TRUE(touch(cacheRoot + "/Thumbs/0001jpg.jpg") && touch(cacheRoot + "/Conv/0002.tiff"));
    const QStringList beside{cards + "/keep.jpg", cards + "/RIVozud photos/holiday.jpg"};
    for (const QString &s : beside)
        ASSERT_TRUE(touch(s));

    // The command word "uninstall": the cache emptied and tidied, then the program's trees.
    w.EmptyCacheFolders();
    w.TidyCacheFolders();
    w.DelProgramTrees();
    EXPECT_FALSE(QFileInfo::exists(cacheRoot));
    for (const QString &s : beside)
        EXPECT_TRUE(QFileInfo::exists(s)) << s.toStdString();
    for (const char *gone : {"temp.bmp", "temp1.jpg", "tempfile", "version.txt", "Bin", "ZTRecdt", "Manual"})
        EXPECT_FALSE(QFileInfo::exists(program + "/" + gone)) << gone;
    for (const QString &s : sentinels)
        EXPECT_TRUE(QFileInfo::exists(s)) << s.toStdString();

    // A program folder without the program's words loses nothing.
    QTemporaryDir plainDir(QDir::tempPath() + "/data-XXXXXX");   // no program word in the path
    const QString plain = plainDir.path() + "/data";
    qputenv("QUILVANE_HOME", plain.toLocal8Bit());
    touch(plain + "/temp.bmp");
    touch(plain + "/ZTRecdt/list.dat");
    touch(plain + "/Manual/Manual.htm");
    w.DelProgramTrees();
    EXPECT_TRUE(QFileInfo::exists(plain + "/temp.bmp"));
    EXPECT_TRUE(QFileInfo::exists(plain + "/ZTRecdt/list.dat"));
    EXPECT_TRUE(QFileInfo::exists(plain + "/Manual/Manual.htm"));
    // Nothing there at all: no message, nothing fails.
    qputenv("QUILVANE_HOME", (sandbox + "/Quilvane empty").toLocal8Bit());
    {
        MessageScript none;
        w.DelProgramTrees();
    }
    DestroyMainWindow();
    ChooserStartPath.clear();
    qputenv("QUILVANE_HOME", oldHome);
}
