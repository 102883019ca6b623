// The result lists' keys and mouse: Delete into the desktop's trash (never
// for good), select-all and the save keys, the click debounce of the
// thumbnail view, the batch export of RAW previews, and opening a found file
// without ever running it.
#include "app/filesafety.h"

#include "drive/system.h"
#include "drive/ui/msgbox.h"
#include "platform/ui/msgbox.h"
#include "tests/app/window_test_util.h"
#include "tests/support/responder.h"

#include "platform/drives.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace window_test;
using testing_support::MessageScript;

namespace {

class ResultLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        w = &CreateMainWindow();
        root = makeCache(*w, {"R#0001.jpg", "R#0002.jpg", "R#0003.jpg", "R#0004.jpg", "R#0005.jpg", "R#0006.jpg"});
        thumbs = root + "/Thumbs";
        for (int i = 1; i <= 6; ++i) {
            w->LvwFiles.AddItem(QStringLiteral("R#000%1.jpg").arg(i));
            if (i != 2 && i != 5)   // 2 and 5 have no thumbnail
                touch(thumbs + QStringLiteral("/000%1jpg.jpg").arg(i));
        }
        SetLaunchHook([this](const QString &program, const QStringList &args, const QString &) {
            launched << program + " " + args.join(' ');
            return true;
        });
    }
    void TearDown() override
    {
        SetLaunchHook({});
        plat::setClockHook({});
        DestroyMainWindow();
        ChooserStartPath.clear();
        SetMsgBoxPlainMode(false);
    }
    QStringList listTexts() const
    {
        QStringList t;
        for (int i = 0; i < w->List3.ListCount(); ++i)
            t << w->List3.List(i);
        return t;
    }
    QStringList thumbTexts() const
    {
        QStringList t;
        for (int i = 1; i <= w->LvwFiles.ItemCount(); ++i)
            t << w->LvwFiles.ItemText(i);
        return t;
    }
    PrivateHome home;
    frmRecover *w = nullptr;
    QString root, thumbs;
    QStringList launched;
};

} // namespace

TEST_F(ResultLists, DeleteMovesTheSelectedThumbnailsToTheTrash)
{
    w->ResultViewState = 1;
    w->LvwFiles.setVisible(true);
    for (int i : {1, 3, 4})
        w->LvwFiles.setItemSelected(i, true);
    MessageScript script;
    script.expect(plat::id::Yes, "Move all selected files to the recycle bin?");
    pressKey(thumbnailView(*w), Qt::Key_Delete);
    ASSERT_EQ(script.boxes().size(), 1u);
    EXPECT_EQ(script.boxes()[0].title, "Remove");
    EXPECT_EQ(script.boxes()[0].style & 0xFF, plat::mb::YesNo + plat::mb::IconStop);

    for (const char *gone : {"R#0001.jpg", "R#0003.jpg", "R#0004.jpg", "0001jpg.jpg", "0003jpg.jpg", "0004jpg.jpg"})
        EXPECT_TRUE(QFileInfo::exists(home.trashFiles() + "/" + gone)) << gone;
    for (const char *kept : {"R#0002.jpg", "R#0005.jpg", "R#0006.jpg"})
        EXPECT_TRUE(QFileInfo::exists(root + "/" + kept)) << kept;
    const QStringList rest{"R#0002.jpg", "R#0005.jpg", "R#0006.jpg"};
    EXPECT_EQ(w->FoundFilePaths, rest);
    EXPECT_EQ(listTexts(), rest);
    EXPECT_EQ(thumbTexts(), rest);
    EXPECT_EQ(w->ItemOrientations.size(), 3u);
    EXPECT_TRUE(QFileInfo::exists(plat::toNative(w->ScanListFile())));
}

TEST_F(ResultLists, NoThenYesRemovesOnlyTheFilesWithoutAThumbnail)
{
    MessageScript script;
    script.expect(plat::id::No, "selected").expect(plat::id::Yes, "without a thumbnail");
    int code = 46;
    w->List3_KeyDown(code, 0);
    EXPECT_EQ(w->FoundFilePaths, (QStringList{"R#0001.jpg", "R#0003.jpg", "R#0004.jpg", "R#0006.jpg"}));
    EXPECT_TRUE(QFileInfo::exists(home.trashFiles() + "/R#0002.jpg"));
    EXPECT_TRUE(QFileInfo::exists(home.trashFiles() + "/R#0005.jpg"));
    EXPECT_EQ(w->List3.ListCount(), 4);
    EXPECT_EQ(w->LvwFiles.ItemCount(), 4);
}

TEST_F(ResultLists, DeleteDoesNothingInABrowsedFolderAndSurvivesALongerNameList)
{
    const QString cache = w->CacheRoot;
    w->ShownFolder = plat::toInternal(testing_support::makeTempDir("browsed")) + "\\";
    {
        MessageScript none;   // no question at all
        pressKey(byName(*w, "List3"), Qt::Key_Delete);
    }
    EXPECT_EQ(w->List3.ListCount(), 6);

    // The names may hold one element more than the list (a cleared array keeps one).
    w->ShownFolder = cache;
    w->FoundFilePaths << QString();
    for (int i = 0; i < 6; ++i)
        w->List3.setSelected(i, true);
    MessageScript script;
    script.expect(plat::id::Yes);
    int code = 46;
    w->List3_KeyDown(code, 0);
    EXPECT_EQ(w->List3.ListCount(), 0);
    EXPECT_EQ(w->FoundFilePaths, QStringList{QString()});
}

TEST_F(ResultLists, AFileTheTrashRefusesStaysAndTheUserIsTold)
{
    // A trash that cannot be made: its folder's place is taken by a file.
    ASSERT_TRUE(touch(home.home() + "/.local/share/Trash", "not a folder"));
    w->List3.setSelected(1, true);
    MessageScript script;
    script.expect(plat::id::Yes).expect(plat::id::OK, "could not take 1 file(s)");
    int code = 46;
    w->List3_KeyDown(code, 0);
    EXPECT_TRUE(QFileInfo::exists(root + "/R#0002.jpg"));
    EXPECT_FALSE(QFileInfo::exists("files/R#0002.jpg"));   // nothing in a trash of the working folder
    EXPECT_EQ(w->List3.ListCount(), 6);
    ASSERT_EQ(script.boxes().size(), 2u);
    EXPECT_TRUE(script.boxes()[1].text.contains("R#0002.jpg"));
}

TEST_F(ResultLists, AFileOnACardIsNeverDeletedByTheKey)
{
    // The cache on a card in a reader: its trash would be written onto the
    // card, so nothing goes, and nothing is deleted for good either.
    const QString card = testing_support::makeTempDir("card");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('R', card, plat::DriveTypeRemovable));
    const QString cardRoot = makeCache(*w, {"R#0001.jpg", "R#0002.jpg"}, card);
    w->List3.setSelected(0, true);
    MessageScript script;
    script.expect(plat::id::Yes).expect(plat::id::OK, "R#0001.jpg");
    int code = 46;
    w->List3_KeyDown(code, 0);
    EXPECT_TRUE(QFileInfo::exists(cardRoot + "/R#0001.jpg"));
    EXPECT_EQ(w->List3.ListCount(), 2);
    plat::DriveTable::instance().detach('R');
}

TEST_F(ResultLists, SelectAllAndTheSaveKeysReachTheirCommands)
{
    QWidget *list = byName(*w, "List3");
    pressKey(list, Qt::Key_A, Qt::ControlModifier, "a");
    EXPECT_EQ(w->List3.SelCount(), 6);
    EXPECT_FALSE(w->FileListBusy);
    pressKey(thumbnailView(*w), Qt::Key_A, Qt::ControlModifier, "a");
    for (int i = 1; i <= 6; ++i)
        EXPECT_TRUE(w->LvwFiles.ItemSelected(i));

    int saves = 0;
    w->CmdSaveAs.Click = [&] { ++saves; };
    w->List3.setListIndex(2);
    pressKey(thumbnailView(*w), Qt::Key_S, Qt::NoModifier, "s");
    pressKey(thumbnailView(*w), Qt::Key_C, Qt::NoModifier, "c");
    EXPECT_EQ(saves, 2);
    // An empty file is not saved.
    touch(root + "/R#0003.jpg", QByteArray());
    pressKey(thumbnailView(*w), Qt::Key_S, Qt::NoModifier, "s");
    EXPECT_EQ(saves, 2);
}

TEST_F(ResultLists, QuickThumbnailClicksShowTheLastOneWhenTheyStop)
{
    qint64 now = 10 * 3600 * 1000;   // 10:00 in the morning
    plat::setClockHook([&] { return now; });
    int shown = 0;
    w->List3.Click = [&] { ++shown; };
    w->LvwFiles_ItemClick(1);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(w->List3.ListIndex(), 0);
    now += 30;
    w->LvwFiles_ItemClick(2);
    EXPECT_EQ(shown, 1);   // deferred
    EXPECT_TRUE(w->Timer5.Enabled());
    EXPECT_EQ(w->LastListIndex, 1);
    w->Timer5_Timer();
    EXPECT_FALSE(w->Timer5.Enabled());
    EXPECT_TRUE(w->List3.Selected(1));
    EXPECT_TRUE(w->LvwFiles.ItemSelected(2));
    EXPECT_FALSE(w->LvwFiles.ItemSelected(1));
    const int before = shown;
    now += 80;
    w->LvwFiles_ItemClick(3);
    EXPECT_EQ(shown, before + 1);   // shown at once
    EXPECT_EQ(w->List3.ListIndex(), 2);
}

TEST_F(ResultLists, ShiftSExportsTheRawPreviewsIntoTheSaveFolder)
{
    const QString save = testing_support::makeTempDir("save");
    ChooserStartPath = plat::toInternal(save) + "\\";
    touch(save + "/0012_cr2.tif", "older");
    const QString conv = root + "/Conv";
    w->LvwFiles.Clear();
    for (const char *n : {"0011.jpg", "0012.cr2", "0013.txt", "0014.NEF"})
        w->LvwFiles.AddItem(n);
    w->LvwFiles.setItemSelected(1, true);
    // The preview of a RAW file: the converter's TIFF (and an empty leftover).
    w->List3.Click = [&] {
        if (w->FileListBusy)
            return;
        const QString item = w->LvwFiles.ItemText(w->List3.ListIndex() + 1);
        touch(conv + "/" + item.left(4) + "_" + item.mid(5).toUpper() + ".tif", "tiff of " + item.toUtf8());
        touch(conv + "/empty.TIF", QByteArray());
    };
    pressKey(thumbnailView(*w), Qt::Key_S, Qt::ShiftModifier, "S");
    EXPECT_FALSE(w->OperationRunning);
    EXPECT_FALSE(w->ListClickSuppressed);
    EXPECT_EQ(testing_support::readFileBytes(save + "/0012_cr2.tif"), "older");
    EXPECT_EQ(testing_support::readFileBytes(save + "/1#0012_cr2.tif"), "tiff of 0012.cr2");
    EXPECT_EQ(testing_support::readFileBytes(save + "/0014_NEF.tif"), "tiff of 0014.NEF");
    EXPECT_FALSE(QFileInfo::exists(save + "/empty.TIF"));
    EXPECT_TRUE(QDir(conv).entryList(QDir::Files).isEmpty());
    ASSERT_FALSE(launched.isEmpty());
    EXPECT_TRUE(launched.last().contains(save)) << launched.last().toStdString();

    // A second Shift+S during the export stops it after the current file.
    w->LvwFiles.setItemSelected(1, true);
    w->List3.Click = [&] {
        if (w->FileListBusy)
            return;
        touch(conv + "/stop.tif", "x");
        pressKey(thumbnailView(*w), Qt::Key_S, Qt::ShiftModifier, "S");
    };
    pressKey(thumbnailView(*w), Qt::Key_S, Qt::ShiftModifier, "S");
    EXPECT_FALSE(w->OperationRunning);
    EXPECT_TRUE(QFileInfo::exists(save + "/stop.tif"));
    EXPECT_FALSE(QFileInfo::exists(save + "/1#0014_nef.tif"));
}

TEST(BatchExportNames, TheCounterGoesInFrontInLowerCase)
{
    EXPECT_EQ(NextCounterName("0012_CR2.tif"), "1#0012_cr2.tif");
    EXPECT_EQ(NextCounterName("1#0012_cr2.tif"), "2#0012_cr2.tif");
    EXPECT_EQ(NextCounterName("41#x.TIF"), "42#x.tif");
    EXPECT_EQ(NextCounterName("IMG#2.tif"), "1#img#2.tif");   // "#" without a leading number
    EXPECT_TRUE(HasRawExtension("R#0012.cr2"));
    EXPECT_TRUE(HasRawExtension("a.RW2"));
    EXPECT_FALSE(HasRawExtension("a.jpg"));
}

TEST(FoundFileNames, NamesFromAMediumStayInsideTheirFolder)
{
    EXPECT_EQ(SafeLeafName("../../x"), "..-..-x");
    EXPECT_EQ(SafeLeafName(".."), "");
    EXPECT_EQ(SafeLeafName(" . "), "");
    EXPECT_EQ(SafeLeafName(QString("a") + QChar(0) + "b\\c:d*e?.jpg"), "ab-c-d-e-.jpg");
    EXPECT_EQ(SafeLeafName("IMG_0001.JPG"), "IMG_0001.JPG");
    EXPECT_EQ(JoinInsideFolder("E:\\RIVozud\\Temp\\", "../../x"), "E:\\RIVozud\\Temp\\..-..-x");
    EXPECT_EQ(JoinInsideFolder("E:\\RIVozud\\Temp", "..\\..\\boot.ini"), "E:\\RIVozud\\Temp\\..-..-boot.ini");
    EXPECT_EQ(JoinInsideFolder("E:\\RIVozud\\", ".."), "");
    EXPECT_EQ(JoinInsideFolder("", "a.jpg"), "");
}

TEST_F(ResultLists, AFoundFileIsOpenedButNeverRun)
{
    const QString dir = testing_support::makeTempDir("open");
    auto file = [&](const QString &name, const QByteArray &data) {
        touch(dir + "/" + name, data);
        return plat::toInternal(dir + "/" + name);
    };
    QByteArray elf("\x7f" "ELF\x02\x01\x01", 7);
    elf.append(QByteArray(120, '\0'));
    QString setup = file("setup.exe", "MZ program");
    QString binary = file("R#0001.dat", elf);
    QString entry = file("R#0002.desktop", "[Desktop Entry]\nType=Application\nExec=rm -rf ~\n");
    QString script = file("R#0003.sh", "#!/bin/sh\necho hello\n");
    QString marked = file("R#0004.jpg", "\xff\xd8\xff\xe0 picture");
    QFile(dir + "/R#0004.jpg").setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        MessageScript none;
        for (QString *p : {&setup, &binary, &entry, &script, &marked})
            w->OpenRecoveredFile(*p);
    }
    EXPECT_TRUE(launched.isEmpty()) << launched.join(", ").toStdString();
    EXPECT_TRUE(IsRunnableFile(binary));
    EXPECT_TRUE(IsRunnableFile(entry));
    EXPECT_FALSE(IsRunnableFile(file("R#0005.jpg", "\xff\xd8\xff\xe0 picture")));

    // No program for the type: the question, or for an empty file the notice.
    QString unknown = file("R#0006.zzq", "\x01\x02\x03\x04 no known type");
    QString empty = file("R#0007.zzq", QByteArray());
    MessageScript script2;
    script2.expect(plat::id::No, "Associate Windows application?").expect(plat::id::OK, "No Windows application");
    w->OpenRecoveredFile(unknown);
    w->OpenRecoveredFile(empty);
    ASSERT_EQ(script2.boxes().size(), 2u);
    EXPECT_TRUE(script2.boxes()[0].text.contains(".ZZQ"));
    EXPECT_EQ(script2.boxes()[0].title, "Quilvane  Open File");
    EXPECT_EQ(script2.boxes()[1].style & plat::mb::IconMask, plat::mb::IconExclamation);
    EXPECT_GT(script2.boxes()[1].timeoutMs, 0);
    EXPECT_TRUE(launched.isEmpty());
}
