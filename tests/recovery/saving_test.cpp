// Saving: free names that never touch the user's files, Save Selected and
// Save All of quick-undelete entries and of found files into a folder on
// another file system, with a clash, a cancelled dialog and a full target,
// and the refusal of the cache and of the disk recovered from, also where
// that disk is reached through a mount of its image or of a loop device.
#include "tests/recovery/media_fixtures.h"
#include "tests/support/chooser_script.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/undelete/undelete_support.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/ui/fileopui.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/saving.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace testing_support;
using namespace undelete_test;

namespace {

// A folder on another file system than the temporary folder (the cache).
QString otherFileSystemFolder(const QString &hint)
{
    static std::vector<std::unique_ptr<QTemporaryDir>> kept;
    const QString base = QFileInfo::exists("/dev/shm") ? QStringLiteral("/dev/shm") : QDir::tempPath();
    kept.push_back(std::make_unique<QTemporaryDir>(base + "/quilvane-" + hint + "-XXXXXX"));
    return kept.back()->path();
}

QString internalFolder(const QString &native)
{
    QString p = plat::toInternal(native);
    return p.endsWith('\\') ? p : p + '\\';
}

QByteArray sha(const QString &native)
{
    return QCryptographicHash::hash(readFileBytes(native), QCryptographicHash::Sha256);
}

// The status line after a save names the count and the whole folder, or the
// folder with only its middle left out (its drive and its end stay).
void expectSaveReport(frmRecover &w, int count, const QString &folder)
{
    const QString prefix = QStringLiteral("%1 file(s) saved in ").arg(count);
    const QString status = w.lblStatus.Caption();
    ASSERT_TRUE(status.startsWith(prefix)) << status.toStdString();
    const QString shown = status.mid(prefix.size());
    if (shown == folder)
        return;
    const qsizetype cut = shown.indexOf(QChar(0x2026));
    ASSERT_GT(cut, 2) << shown.toStdString();
    const QString head = shown.left(cut), tail = shown.mid(cut + 1);
    EXPECT_TRUE(folder.startsWith(head)) << shown.toStdString();
    EXPECT_TRUE(folder.endsWith(tail)) << shown.toStdString();
    EXPECT_TRUE(head.startsWith(folder.left(3)) && tail.endsWith('\\')) << shown.toStdString();
}

int lineOf(const plat::ListBox &list, const QString &ending)
{
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i).endsWith(ending))
            return i;
    return -1;
}

// A FAT16 card with deleted files of known bytes.
struct Card {
    QString image;
    QByteArray photo = photoBytes(30000, 1), note = patternBytes(10000, 2);
};

// An empty FAT16 card of 16 MiB with 2 KiB clusters.
QString emptyCard(const QString &hint)
{
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 4;
    return makeFatImage(makeTempDir(hint), "card.img", spec);
}

Card makeCard()
{
    Card c;
    c.image = emptyCard("savecard");
    if (c.image.isEmpty() || !mcopyData(c.image, "/PHOTO.JPG", c.photo) || !mcopyData(c.image, "/NOTE.TXT", c.note)
        || !mcopyData(c.image, "/KEEP.TXT", "kept\r\n") || !mdel(c.image, "/PHOTO.JPG") || !mdel(c.image, "/NOTE.TXT"))
        c.image.clear();
    return c;
}

} // namespace

TEST(SaveNames, FreeNamesNeverTouchTheUsersFiles)
{
    EXPECT_EQ(NextFreeName("IMG.JPG"), "IMG_0.JPG");
    EXPECT_EQ(NextFreeName("IMG_0.JPG"), "IMG_1.JPG");
    EXPECT_EQ(NextFreeName("DSC_0042.JPG"), "DSC_43.JPG");
    EXPECT_EQ(NextFreeName("README"), "README_0");
    EXPECT_EQ(NextFreeName("my_photo.jpg"), "my_photo_0.jpg");
    EXPECT_EQ(NextFreeName("x_99999999999999999999.jpg"), "x_1000000000000000000.jpg");

    const QString dir = makeTempDir("free");
    writeFileBytes(dir + "/README", "the user's own file");
    writeFileBytes(dir + "/PHOTO.JPG", "an older photo");
    const QByteArray before = sha(dir + "/README");
    // Written under a hidden temporary name, then named: the user's files stay.
    plat::PartFile part;
    ASSERT_TRUE(part.open(dir, "README"));
    EXPECT_EQ(QFileInfo(part.path()).fileName(), ".README.part");
    part.file().write("new");
    QString name = "README";
    ASSERT_TRUE(CommitUnderFreeName(part, name));
    EXPECT_EQ(name, "README_0");
    EXPECT_EQ(readFileBytes(dir + "/README_0"), "new");
    EXPECT_EQ(sha(dir + "/README"), before);
    for (const char *expected : {"PHOTO_0.JPG", "PHOTO_1.JPG"}) {
        QString photo = "PHOTO.JPG";
        plat::PartFile p;
        ASSERT_TRUE(p.open(dir, photo));
        ASSERT_TRUE(CommitUnderFreeName(p, photo));
        EXPECT_EQ(photo, expected);
    }
    EXPECT_EQ(readFileBytes(dir + "/PHOTO.JPG"), "an older photo");
    EXPECT_FALSE(plat::PartFile().open(dir + "/missing/folder", "x.jpg"));
    // A temporary file never named goes with its object.
    {
        plat::PartFile dropped;
        ASSERT_TRUE(dropped.open(dir, "gone.jpg"));
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 5);

    EXPECT_EQ(ApplySaveExtension("D:\\Saved\\photo.png", ".jpg"), "D:\\Saved\\photo.jpg");
    EXPECT_EQ(ApplySaveExtension("D:\\Saved\\photo", ".jpg"), "D:\\Saved\\photo.jpg");
    EXPECT_EQ(ApplySaveExtension("D:\\ann\\my.photos\\x.png", ".jpg"), "D:\\ann\\my.photos\\x.jpg");
    EXPECT_EQ(ApplySaveExtension("D:\\Saved\\photo.JPG", ".jpg"), "D:\\Saved\\photo.JPG");

    EXPECT_EQ(EntrySaveName("?HOTO.JPG"), "%HOTO.JPG");
    EXPECT_EQ(EntrySaveName("../../x.jpg"), "x.jpg");
    EXPECT_EQ(EntrySaveName("a\\b\x01.jpg"), "ab.jpg");
    EXPECT_EQ(EntrySaveName("///"), "entry");
    // A dot-file keeps its dot, and a clash numbers its base name.
    EXPECT_EQ(EntrySaveName(".hidden.txt"), ".hidden.txt");
    EXPECT_EQ(EntrySaveName("..."), "entry");
    EXPECT_EQ(NextFreeName(".hidden.txt"), ".hidden_0.txt");
    EXPECT_EQ(NextFreeName(".bashrc"), ".bashrc_0");

    EXPECT_FALSE(TargetOnSourceDisk("C:\\home\\ann\\", "C:"));
    EXPECT_FALSE(TargetOnSourceDisk("D:\\saved\\", "C:\\images\\card.img"));
}

TEST(UndeleteSave, ACopyTellsAFailedReadFromTheEndOfTheFile)
{
    const QString dir = makeTempDir("copyinto");
    const QByteArray bytes = patternBytes(3 << 20, 5);
    ASSERT_TRUE(writeFileBytes(dir + "/source.bin", bytes));
    QFile out(dir + "/out.bin");
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    EXPECT_EQ(CopyFileInto(dir + "/source.bin", out), bytes.size());
    // A file whose first read fails (this process's memory at address 0)
    // gives nothing to save, not an empty file.
    EXPECT_EQ(CopyFileInto("/proc/self/mem", out), -1);
    out.close();
    EXPECT_EQ(readFileBytes(dir + "/out.bin"), bytes);
}

TEST(UndeleteSave, SaveSelectedWritesWholeDatedUnderAFreeName)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    MessageScript boxes;
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    const int line = lineOf(w.List2, "  ?HOTO.JPG");
    ASSERT_GT(line, 1);
    w.List2.setSelected(line, true);

    const QString target = otherFileSystemFolder("sel");
    writeFileBytes(target + "/%HOTO.JPG", "already there");
    const QByteArray before = sha(target + "/%HOTO.JPG");
    ChooserStartPath = internalFolder(target);
    {
        DialogScript dialogs;
        dialogs.expect(internalFolder(target) + "%HOTO.JPG");
        w.CmdSaveAs_Click();
        ASSERT_EQ(dialogs.dialogs().size(), 1u);
        EXPECT_EQ(dialogs.dialogs()[0].kind, plat::DialogKind::Save);
    }
    EXPECT_EQ(sha(target + "/%HOTO.JPG"), before);
    EXPECT_EQ(readFileBytes(target + "/%HOTO_0.JPG"), card.photo);
    const int index = w.EntryIndexOfLine(w.List2, line);
    const QDateTime modified = OleDateToDateTime(w.DeletedEntries[size_t(index)].Modified);
    EXPECT_LE(std::abs(QFileInfo(target + "/%HOTO_0.JPG").lastModified().secsTo(modified)), 1);
    EXPECT_EQ(w.LastSaveTally.saved, 1);

    // A cancelled dialog writes nothing.
    w.List2.setSelected(line, true);
    {
        DialogScript dialogs;
        dialogs.expectCancel();
        w.CmdSaveAs_Click();
    }
    EXPECT_FALSE(QFileInfo::exists(target + "/%HOTO_1.JPG"));
    EXPECT_EQ(QDir(target).entryList(QDir::Files).size(), 2);
    QDir(target).removeRecursively();
}

TEST(UndeleteSave, APreviousSaveFolderIsNeverWiped)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    MessageScript boxes;
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    const int line = lineOf(w.List2, "  ?OTE.TXT");
    ASSERT_GT(line, 1);
    const QString base = makeTempDir("prev");
    const QString target = otherFileSystemFolder("prevtarget");
    // A previous save folder that holds only a folder of the user's, then an
    // empty one the program made: the first stays, the second goes.
    for (const bool holdsFolder : {true, false}) {
        const QString previous = base + (holdsFolder ? "/a/Recovered" : "/b/Recovered");
        QDir().mkpath(holdsFolder ? previous + "/Holiday" : previous);
        if (holdsFolder)
            writeFileBytes(previous + "/Holiday/IMG_0001.JPG", "the user's picture");
        ChooserStartPath = internalFolder(previous);
        w.List2.setSelected(line, true);
        DialogScript dialogs;
        dialogs.expect(internalFolder(target) + "%OTE.TXT");
        w.CmdSaveAs_Click();
        EXPECT_EQ(QFileInfo::exists(previous), holdsFolder);
        EXPECT_EQ(ChooserStartPath, internalFolder(target));
    }
    EXPECT_EQ(readFileBytes(base + "/a/Recovered/Holiday/IMG_0001.JPG"), "the user's picture");
    EXPECT_EQ(readFileBytes(target + "/%OTE.TXT"), card.note);
    EXPECT_EQ(readFileBytes(target + "/%OTE_0.TXT"), card.note);
}

TEST(UndeleteSave, SaveAllWritesEveryRecoverableEntry)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    MessageScript boxes;
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    const QString target = otherFileSystemFolder("all");
    ChooserStartPath = internalFolder(target);
    {
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    EXPECT_EQ(readFileBytes(target + "/%HOTO.JPG"), card.photo);
    EXPECT_EQ(readFileBytes(target + "/%OTE.TXT"), card.note);
    EXPECT_EQ(QDir(target).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(w.List2.List(w.List2.ListCount() - 1).startsWith("Files saved in folder: "));
    expectSaveReport(w, 2, internalFolder(target));
    EXPECT_EQ(w.CmdSaveAll.Caption(), "Save All");
    EXPECT_FALSE(w.OperationBusy || w.OperationRunning);
    QDir(target).removeRecursively();
}

TEST(UndeleteSave, ARunOfSavesTakesEachFreeNameOnceAndMakesARemovedFolderAgain)
{
    // Five deleted PHOTO.JPG in five folders, saved by one Save All into a
    // folder that holds two of the names already.
    const QString image = emptyCard("namesakes");
    ASSERT_FALSE(image.isEmpty());
    QList<QByteArray> photos;
    for (int i = 0; i < 5; ++i) {
        const QString dir = QStringLiteral("/D%1").arg(i);
        photos << photoBytes(5000 + i, quint32(50 + i), i % 2);
        ASSERT_TRUE(mmd(image, dir) && mcopyData(image, dir + "/PHOTO.JPG", photos.back()));
    }
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(mdel(image, QStringLiteral("/D%1/PHOTO.JPG").arg(i)));
    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    const QString target = otherFileSystemFolder("namesakes");
    writeFileBytes(target + "/%HOTO.JPG", "the user's");
    writeFileBytes(target + "/%HOTO_1.JPG", "the user's too");
    ChooserStartPath = internalFolder(target);
    {
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    EXPECT_EQ(w.LastSaveTally.saved, 5);
    EXPECT_EQ(readFileBytes(target + "/%HOTO.JPG"), "the user's");
    EXPECT_EQ(readFileBytes(target + "/%HOTO_1.JPG"), "the user's too");
    QList<QByteArray> saved;
    for (const QString n : {"%HOTO_0.JPG", "%HOTO_2.JPG", "%HOTO_3.JPG", "%HOTO_4.JPG", "%HOTO_5.JPG"})
        saved << readFileBytes(target + "/" + n);
    std::sort(saved.begin(), saved.end());
    std::sort(photos.begin(), photos.end());
    EXPECT_EQ(saved, photos);
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), 7);

    // Saved lines leave the selection: the line saved last stays when it is
    // the only one left, and a selected line that is not saved stays.
    QList<int> lines;
    for (int i = 0; i < w.List2.ListCount(); ++i)
        if (w.List2.List(i).endsWith("?HOTO.JPG"))
            lines << i;
    ASSERT_EQ(lines.size(), 5);
    ASSERT_EQ(w.List2.List(1), "");
    for (const bool blankLine : {false, true}) {
        for (int i : lines)
            w.List2.setSelected(i, true);
        w.List2.setSelected(1, blankLine);
        w.AskSaveName = false;   // as Save All after its folder choice
        w.BatchSave = true;
        ChooserStartPath = internalFolder(target + (blankLine ? "/b" : "/a"));
        w.SaveUndeleteEntries(w.List2, 0, false, true);
        EXPECT_EQ(w.LastSaveTally.saved, 5);
        EXPECT_EQ(w.List2.SelCount(), 1);
        EXPECT_TRUE(w.List2.Selected(blankLine ? 1 : lines.back()));
    }

    // Within a run, a save folder removed since the entry before is made again.
    const int k = w.EntryIndexOfLine(w.List2, lines[0]);
    ASSERT_GT(k, 0);
    const QString again = target + "/again";
    ChooserStartPath = internalFolder(again);
    w.SaveSize = w.DeletedEntries[size_t(k)].Size;
    SaveRun run;
    for (const QString n : {"a.jpg", "b.jpg", "c.jpg"}) {
        if (n != "b.jpg")   // the second entry in a row opens the folder; the third finds it gone
            QDir(again).removeRecursively();
        QString name = n;
        EXPECT_EQ(w.SaveUndeleteEntry(name, k), SaveOutcome::Saved);
        EXPECT_TRUE(photos.contains(readFileBytes(again + "/" + n))) << n.toStdString();
    }
}

TEST(UndeleteSave, FullTargetLeavesNoHalfFile)
{
    SmallDisk disk(16);
    if (disk.path().isEmpty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    MessageScript boxes;
    boxes.expect(plat::id::OK, "Not saved: 1");
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();
    ChooserStartPath = internalFolder(disk.path());
    {
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    // The note fits, the photo does not: no piece of it stays.
    EXPECT_EQ(readFileBytes(disk.path() + "/%OTE.TXT"), card.note);
    EXPECT_FALSE(QFileInfo::exists(disk.path() + "/%HOTO.JPG"));
    EXPECT_EQ(w.LastSaveTally.notSaved, 1);
}

namespace {

// A cache root holding found files listed as the scan lists them.
void fillCache(frmRecover &w, const QList<QPair<QString, QByteArray>> &files)
{
    w.List3.Clear();
    w.FoundFilePaths.clear();
    w.ItemOrientations.clear();
    for (const auto &f : files) {
        writeFileBytes(plat::toNative(w.CacheRoot) + "/" + f.first, f.second);
        w.List3.AddItem(f.first);
        w.FoundFilePaths << f.first;
        w.ItemOrientations.push_back(0.0f);
    }
    w.FoundFilePaths << QString();
    w.ItemOrientations.push_back(0.0f);
    w.List2.setVisible(false);
    w.List3.setVisible(true);
}

} // namespace

TEST(FoundFileSave, SaveAllMovesAndKeepsWhatStays)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    InstallFileOperationUi();
    const QList<QPair<QString, QByteArray>> files{
        {"R#0001.jpg", patternBytes(5000, 11)}, {"R#0002.jpg", patternBytes(6000, 12)}, {"R#0003.png", patternBytes(7000, 13)}};
    fillCache(w, files);
    const QString cache = plat::toNative(w.CacheRoot);
    const QString target = otherFileSystemFolder("found");
    writeFileBytes(target + "/R#0002.jpg", "the user's older file");

    // Cancel first: nothing moves.
    ChooserStartPath = internalFolder(target);
    {
        ChooserScript chooser;
        chooser.cancel();
        w.CmdSaveAll_Click();
    }
    EXPECT_TRUE(QFileInfo::exists(cache + "/R#0001.jpg"));

    {
        MessageScript boxes;
        boxes.expect(plat::id::Yes, "allready has files with the same name");
        boxes.expect(plat::id::No, "R#0002.jpg");   // keep the user's file
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    EXPECT_EQ(readFileBytes(target + "/R#0001.jpg"), files[0].second);
    EXPECT_EQ(readFileBytes(target + "/R#0003.png"), files[2].second);
    EXPECT_EQ(readFileBytes(target + "/R#0002.jpg"), "the user's older file");
    EXPECT_FALSE(QFileInfo::exists(cache + "/R#0001.jpg"));
    // The file kept back stays in the cache and in the list.
    EXPECT_TRUE(QFileInfo::exists(cache + "/R#0002.jpg"));
    ASSERT_EQ(w.List3.ListCount(), 1);
    EXPECT_EQ(w.List3.List(0), "R#0002.jpg");
    EXPECT_EQ(w.FoundFilePaths, QStringList({"R#0002.jpg"}));
    expectSaveReport(w, 2, internalFolder(target));
    SetFileOperationUi({});
    QDir(target).removeRecursively();
}

TEST(FoundFileSave, FullTargetKeepsTheFoundFile)
{
    SmallDisk disk(16);
    if (disk.path().isEmpty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    fillCache(w, {{"R#0001.jpg", patternBytes(200000, 21)}, {"R#0002.jpg", patternBytes(3000, 22)}});
    ChooserStartPath = internalFolder(disk.path());
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "1 files were not saved");
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    EXPECT_EQ(readFileBytes(disk.path() + "/R#0002.jpg"), patternBytes(3000, 22));
    EXPECT_EQ(readFileBytes(plat::toNative(w.CacheRoot) + "/R#0001.jpg"), patternBytes(200000, 21));
    EXPECT_EQ(w.FoundFilePaths, QStringList({"R#0001.jpg"}));
}

TEST(FoundFileSave, SaveSelectedOfOneFileTakesItsExtension)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    fillCache(w, {{"R#0001.jpg", patternBytes(4000, 31)}});
    w.List3.setSelected(0, true);
    const QString target = otherFileSystemFolder("one");
    QDir().mkpath(target + "/my.photos");
    ChooserStartPath = internalFolder(target);
    {
        DialogScript dialogs;
        dialogs.expect(internalFolder(target + "/my.photos") + "photo.png");
        w.CmdSaveAs_Click();
    }
    EXPECT_EQ(readFileBytes(target + "/my.photos/photo.jpg"), patternBytes(4000, 31));
    EXPECT_FALSE(QFileInfo::exists(plat::toNative(w.CacheRoot) + "/R#0001.jpg"));
    QDir(target).removeRecursively();
}

TEST(FoundFileSave, SaveSelectedSaysWhereAndSelectsTheNextFile)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    fillCache(w, {{"R#0001.jpg", patternBytes(4000, 41)}, {"R#0002.jpg", patternBytes(4000, 42)},
                  {"R#0003.jpg", patternBytes(4000, 43)}, {"R#0004.jpg", patternBytes(4000, 44)}});
    // A folder too long for the status line: its middle gives way.
    const QString target = otherFileSystemFolder("next") + "/Holiday pictures of the summer in the mountains/"
        + "Recovered from the camera card of the trip";
    QDir().mkpath(target);
    ChooserStartPath = internalFolder(target);
    w.List3.setSelected(1, true);
    w.List3.setSelected(2, true);
    {
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAs_Click();
    }
    EXPECT_EQ(readFileBytes(target + "/R#0002.jpg"), patternBytes(4000, 42));
    EXPECT_EQ(readFileBytes(target + "/R#0003.jpg"), patternBytes(4000, 43));
    ASSERT_EQ(w.List3.ListCount(), 2);
    EXPECT_EQ(w.List3.SelCount(), 1);
    EXPECT_TRUE(w.List3.Selected(1));   // R#0004.jpg, the line after the saved ones
    EXPECT_EQ(w.List3.ListIndex(), 1);
    expectSaveReport(w, 2, internalFolder(target));
    EXPECT_TRUE(w.lblStatus.Caption().contains(QChar(0x2026)));
    {   // Open With now opens the selected file instead of a notice.
        int opened = 0;
        w.List3.DblClick = [&] { ++opened; };
        w.CmdOpen_Click();
        EXPECT_EQ(opened, 1);
    }
    QDir(target).removeRecursively();
}

TEST(FoundFileSave, TheCacheIsNoSaveFolder)
{
    const Card card = makeCard();
    ASSERT_FALSE(card.image.isEmpty());
    WindowOnImage on(card.image);
    frmRecover &w = on.w;
    const QString fallback = internalFolder(makeTempDir("fallback"));
    ChooserStartPath = w.CacheRoot;
    MessageScript boxes;
    boxes.expect(plat::id::OK, "You are trying to save to the disk recovered from.");
    ChooserScript chooser;
    chooser.ok().cancel();
    EXPECT_FALSE(w.ChooseSaveFolder(fallback));
    ASSERT_EQ(chooser.offered.size(), 2);
    EXPECT_EQ(chooser.offered[1], fallback);
    EXPECT_TRUE(w.RefuseSaveTarget(w.CacheTempFolder));
    EXPECT_TRUE(w.RefuseSaveTarget("E:\\Recovered\\")) << "the source itself";
    EXPECT_FALSE(w.RefuseSaveTarget(fallback));
}

namespace {

// The entry lines of a list, by their text after the index; the occupied
// group's lines apart.
struct ShownLines {
    QMap<QString, QList<int>> byText;   // text -> lines
    QStringList occupied;
};

ShownLines shownLines(const frmRecover &w, const plat::ListBox &list)
{
    ShownLines s;
    for (int i = 0; i < list.ListCount(); ++i) {
        const int k = w.EntryIndexOfLine(list, i);
        if (k <= 0)
            continue;
        const QString line = list.List(i);
        EXPECT_EQ(EntryLineIndex(line), k) << line.toStdString();
        if (line.contains('@'))
            s.occupied << EntryLineText(line);
        else
            s.byText[EntryLineText(line)] << i;
    }
    return s;
}

} // namespace

// Long names of 13 characters and more, in Latin, Cyrillic and CJK, and two
// deleted files of one long name in one folder: the lists show the names
// The Sleuth Kit reads, and every way of saving names the file by them.
TEST(UndeleteSave, LongNamesInAnyScriptAreListedAndSavedWhole)
{
    const QString holiday = "Holiday photo 2009.jpg";
    const QString cyrillic = QStringLiteral("Привет мир фото.jpg");
    const QString cjk = QStringLiteral("夏休みの写真と動画のバックアップ.jpg");
    const QString accented = QStringLiteral("Café de l'été 2009.jpg");
    const QString taken = "Taken by another file.jpg";
    const QString existing = "Existing long name.txt";
    const QString image = emptyCard("longnames");
    ASSERT_FALSE(image.isEmpty());
    // The taken file's cluster goes to a file in another folder (a new entry
    // in the root would take its deleted slots); the rest are deleted last.
    ASSERT_TRUE(mmd(image, "/DCIM") && mcopyUtf8(image, "/DCIM/" + holiday, photoBytes(30000, 21))
                && mcopyUtf8(image, "/DCIM/Holiday photo 2008.jpg", photoBytes(20000, 22))
                && mcopyUtf8(image, "/" + cyrillic, photoBytes(5000, 23))
                && mcopyUtf8(image, "/" + cjk, photoBytes(7000, 24))
                && mcopyUtf8(image, "/" + accented, photoBytes(3000, 25))
                && mcopyUtf8(image, "/notes.txt", patternBytes(900, 26))
                && mcopyUtf8(image, "/" + taken, patternBytes(1000, 27))
                && mcopyUtf8(image, "/" + existing, patternBytes(1200, 28)) && mdelUtf8(image, "/" + taken)
                && mcopyUtf8(image, "/DCIM/KEEPER.TXT", patternBytes(1500, 29))
                && mdelUtf8(image, "/DCIM/" + holiday) && mdelUtf8(image, "/DCIM/Holiday photo 2008.jpg")
                && mdelUtf8(image, "/" + cyrillic) && mdelUtf8(image, "/" + cjk) && mdelUtf8(image, "/" + accented)
                && mdelUtf8(image, "/notes.txt"));
    // Two deleted files of one name in one folder, as a system that does not
    // reuse a deleted entry's slots leaves them: the second one's long name
    // (its piece " 2008.jpg") made the first's.
    const QByteArray year = QByteArray("2\0" "0\0" "0\0" "8\0", 8);
    const QByteArray bytes = readFileBytes(image);
    const qsizetype at = bytes.indexOf(year);
    ASSERT_GT(at, 0);
    ASSERT_EQ(bytes.indexOf(year, at + 1), -1);
    ASSERT_TRUE(patchFile(image, at + 6, "9"));

    // The oracle's names and bytes of the deleted files.
    QMap<QString, QList<QByteArray>> expected;   // leaf name -> contents
    for (const auto &[path, address] : flsDeletedEntries(image))
        if (!path.endsWith(taken) && !path.endsWith("otes.txt"))
            expected[path.mid(path.lastIndexOf('/') + 1)] << icat(image, address);
    ASSERT_EQ(expected.keys(), (QStringList{accented, holiday, cyrillic, cjk}));
    ASSERT_EQ(expected[holiday].size(), 2);

    MessageScript boxes;
    WindowOnImage on(image);
    frmRecover &w = on.w;
    w.CmdQuickUndelete_Click();

    // List2: each long name whole, the two of one name on two lines; an 8.3
    // name keeps its lost first letter; the taken file in the impossible
    // group, by its long name too.
    const ShownLines deleted = shownLines(w, w.List2);
    QStringList shown = deleted.byText.keys();
    EXPECT_EQ(shown, (QStringList{"?otes.txt", accented, holiday, cyrillic, cjk})) << shown.join('|').toStdString();
    EXPECT_EQ(deleted.byText[holiday].size(), 2);
    EXPECT_EQ(deleted.occupied, QStringList{taken});
    // Each line leads back to the entry of that name.
    for (auto it = deleted.byText.cbegin(); it != deleted.byText.cend(); ++it)
        for (const int line : it.value()) {
            const DeletedEntryRecord &e = w.DeletedEntries[size_t(w.EntryIndexOfLine(w.List2, line))];
            EXPECT_TRUE(e.Path.endsWith(it.key())) << e.Path.toStdString();
        }
    // List1: a long name whole, an 8.3 name in lower case.
    const ShownLines existingLines = shownLines(w, w.List1);
    EXPECT_EQ(existingLines.byText.keys(), (QStringList{existing, "keeper.txt"}));

    // A click: the information names the entry, the preview extracts it
    // under its index and long name.
    const int cyrillicLine = deleted.byText[cyrillic].value(0);
    const int cyrillicIndex = w.EntryIndexOfLine(w.List2, cyrillicLine);
    w.List2.setListIndex(cyrillicLine);
    EXPECT_TRUE(w.lblSpecs.Caption().contains("File: " + cyrillic)) << w.lblSpecs.Caption().toStdString();
    EXPECT_EQ(readFileBytes(plat::toNative(w.CacheTempFolder) + "/" + QString::number(cyrillicIndex) + cyrillic),
              expected[cyrillic][0]);

    // Save All: every deleted file under its long name, the second of one
    // name beside the first.
    const QString target = otherFileSystemFolder("longnames");
    ChooserStartPath = internalFolder(target);
    {
        ChooserScript chooser;
        chooser.ok();
        w.CmdSaveAll_Click();
    }
    QStringList saved = QDir(target).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(saved, (QStringList{"%otes.txt", accented, holiday, "Holiday photo 2009_0.jpg", cyrillic, cjk}))
        << saved.join('|').toStdString();
    for (const QString &name : {accented, cyrillic, cjk})
        EXPECT_EQ(readFileBytes(target + "/" + name), expected[name][0]) << name.toStdString();
    const QList<QByteArray> twins{readFileBytes(target + "/" + holiday), readFileBytes(target + "/Holiday photo 2009_0.jpg")};
    const QList<QByteArray> swapped{expected[holiday].value(1), expected[holiday].value(0)};
    EXPECT_TRUE(twins == expected[holiday] || twins == swapped);

    // Save Selected of an existing file: the dialog proposes its long name,
    // the file gets it.
    const QString selected = otherFileSystemFolder("longselected");
    w.List1.setSelected(existingLines.byText[existing].value(0), true);
    {
        DialogScript dialogs;
        dialogs.expect(internalFolder(selected) + existing);
        w.CmdSaveAs_Click();
        ASSERT_EQ(dialogs.dialogs().size(), 1u);
        EXPECT_EQ(dialogs.dialogs()[0].fileName, existing);
    }
    EXPECT_EQ(readFileBytes(selected + "/" + existing), patternBytes(1200, 28));
    QDir(target).removeRecursively();
    QDir(selected).removeRecursively();
}

namespace {

// An ntfs-3g mount, taken down at the end whatever the test did.
struct NtfsMount {
    QString point;
    NtfsMount(const QString &source, const QString &at)
    {
        if (QDir().mkpath(at) && runTool("ntfs-3g", {"-o", "noatime", source, at}) == 0)
            point = at;
    }
    ~NtfsMount()
    {
        if (!point.isEmpty() && runTool("umount", {point}) != 0)
            runTool("umount", {"-l", point});
    }
};

// Save All of the deleted photos into the mount (its root: a folder made
// there would take a deleted photo's record) is refused with the same-disk
// box; the image stays as it was.
void expectRefusedOnMount(frmRecover &w, const QString &mountPoint, const QString &image)
{
    const QByteArray before = sha(image);
    MessageScript boxes;
    w.CmdQuickUndelete_Click();
    ASSERT_GT(lineOf(w.List2, "  photo7.jpg"), 1);
    boxes.expect(plat::id::OK, "You are trying to save to the disk recovered from.");
    ChooserStartPath = internalFolder(mountPoint);
    ChooserScript chooser;
    chooser.ok().cancel();
    w.CmdSaveAll_Click();
    EXPECT_TRUE(QDir(mountPoint).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(sha(image), before);
}

} // namespace

TEST(SaveOntoTheSource, AMountOfTheImageOrOfALoopDeviceOverItIsRefused)
{
    // 16 MiB of NTFS whose photos were written, then deleted, through ntfs-3g.
    const QString dir = makeTempDir("srcmount"), image = dir + "/photos.img";
    ASSERT_TRUE(writeFileBytes(image, {}) && QFile::resize(image, 16 << 20));
    ASSERT_EQ(runTool("mkntfs", {"-F", "-f", "-q", image}), 0);
    QList<QByteArray> photos;
    {
        NtfsMount fill(image, dir + "/fill");
        if (fill.point.isEmpty())
            GTEST_SKIP() << "ntfs-3g cannot mount here (root and /dev/fuse are needed)";
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(writeFileBytes(fill.point + QStringLiteral("/photo%1.jpg").arg(i),
                                       photos.emplaceBack(patternBytes(20000 + 3000 * i, 40 + i))));
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(QFile::remove(fill.point + QStringLiteral("/photo%1.jpg").arg(i)));
    }
    WindowOnImage on(image);   // E: image=...
    {
        NtfsMount onFile(image, dir + "/onfile");   // the image is the mount's source
        ASSERT_FALSE(onFile.point.isEmpty());
        expectRefusedOnMount(on.w, onFile.point, image);
        EXPECT_TRUE(plat::sameDisk(internalFolder(onFile.point + "/not/made"), 'E'));
        // Beside the image, on the file system holding it: saved.
        MessageScript boxes;
        const QString beside = saveAllInto(on.w, "beside");
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(readFileBytes(beside + QStringLiteral("/photo%1.jpg").arg(i)), photos[i]) << i;
    }
    auto loop = media_test::LoopDevice::attach(image, false);
    if (!loop)
        GTEST_SKIP() << "losetup cannot attach a loop device here (root and /dev/loop-control are needed)";
    NtfsMount onLoop(loop->device, dir + "/onloop");
    ASSERT_FALSE(onLoop.point.isEmpty());
    expectRefusedOnMount(on.w, onLoop.point, image);
    ASSERT_TRUE(plat::DriveTable::instance().attachDevice('E', loop->device));   // E: device=/dev/loopN
    plat::DriveTable::instance().refresh();
    ResetDriveInfo();
    GetDriveInfo("E:");
    expectRefusedOnMount(on.w, onLoop.point, image);
    EXPECT_FALSE(plat::sameDisk(internalFolder(dir), 'E'));
    // The medium of the last scan, as Searched.dat names it.
    on.w.SourceName = "C:";
    on.w.SourceDrive = "E:";
    on.w.SourceVolumeSerial = int32_t(GetVolumeSerial("E:"));
    EXPECT_TRUE(on.w.RefuseSaveTarget(internalFolder(onLoop.point)));
}
