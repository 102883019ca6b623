// Files and folders on temporary trees: listing order, existence tests,
// names, dates, and the shell's copy, move, delete and trash, including a
// removable drive whose files must never be trashed onto the medium.
#include "drive/files.h"

#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::makeTempDir;
using testing_support::PrivateHome;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

QString internalOf(const QString &native) { return plat::toInternal(native); }

void touch(const QString &native, const QByteArray &bytes = "x")
{
    QDir().mkpath(QFileInfo(native).absolutePath());
    ASSERT_TRUE(writeFileBytes(native, bytes));
}

qint64 mtimeOf(const QString &native)
{
    struct stat st;
    return ::stat(QFile::encodeName(native).constData(), &st) == 0 ? qint64(st.st_mtim.tv_sec) : -1;
}

void setMtime(const QString &native, qint64 secs)
{
    const timespec t[2] = {{time_t(secs), 0}, {time_t(secs), 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(native).constData(), t, 0);
}

QStringList entriesOf(const QString &native)
{
    return QDir(native).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A private home with its own trash for the tests that trash.

struct UiRecorder {
    int progressCalls = 0;
    int replaceQuestions = 0;
    int deleteQuestions = 0;
    bool replaceAnswer = true;
    bool deleteAnswer = true;

    void install()
    {
        FileOperationUi ui;
        ui.progress = [this](int, int, const QString &) { ++progressCalls; return true; };
        ui.confirmReplace = [this](const QString &) { ++replaceQuestions; return replaceAnswer; };
        ui.confirmDelete = [this](const QStringList &, bool) { ++deleteQuestions; return deleteAnswer; };
        SetFileOperationUi(ui);
    }
    ~UiRecorder() { SetFileOperationUi({}); }
};

} // namespace

TEST(Files, ListingOrderAndTreeSearch)
{
    const QString root = makeTempDir(QStringLiteral("list"));
    touch(root + "/b.txt");
    touch(root + "/A.txt");
    touch(root + "/name with trailing blank ");
    touch(root + "/sub/img_0001.jpg");
    touch(root + "/sub/deeper/z.bin");
    touch(root + "/Sub2/y.bin");
    ASSERT_EQ(::symlink("..", QFile::encodeName(root + "/sub/loop").constData()), 0);   // not followed
    const QString r = internalOf(root);

    QStringList list;
    ListFolderFiles(r, list);
    const QStringList expected{r + "\\A.txt", r + "\\b.txt", r + "\\name with trailing blank ",
                               r + "\\sub\\img_0001.jpg", r + "\\sub\\deeper\\z.bin", r + "\\Sub2\\y.bin", QString()};
    EXPECT_EQ(list, expected);
    EXPECT_TRUE(QFile::exists(plat::toNative(list[2])));   // the blank kept: the path opens

    // The caller's list keeps its last empty element as the place to write.
    QStringList two{QString()};
    ListFolderFiles(r + "\\sub\\", two);
    EXPECT_EQ(two, (QStringList{r + "\\sub\\img_0001.jpg", r + "\\sub\\deeper\\z.bin", QString()}));
    QStringList onlySubs;
    ListSubfolderFiles(r, onlySubs);
    EXPECT_EQ(onlySubs.size(), 4);
    QStringList none;
    ListFolderFiles(r + "\\missing", none);
    EXPECT_EQ(none, QStringList{QString()});

    EXPECT_EQ(FindFileInTree(r, QStringLiteral("IMG_0001")), r + "\\sub\\img_0001.jpg");
    EXPECT_EQ(FindFileInTree(r + "\\", QStringLiteral("z.BIN")), r + "\\sub\\deeper\\z.bin");
    EXPECT_EQ(FindFileInTree(r, QString()), r + "\\A.txt");
    EXPECT_EQ(FindFileInTree(r, QStringLiteral("nothing like it")), QString());

    EXPECT_EQ(CountFolderFiles(r), 3);
    EXPECT_EQ(CountFolderFiles(r + "\\sub\\"), 1);
    EXPECT_EQ(CountFolderFiles(r + "\\missing"), 0);
}

TEST(Files, ExistenceTests)
{
    const QString root = makeTempDir(QStringLiteral("exist"));
    touch(root + "/full/img_0001.jpg");
    touch(root + "/full/a[1].txt");
    touch(root + "/full/README");
    touch(root + "/hiddenonly/.dotfile");
    QDir().mkpath(root + "/hiddenonly/folder");
    QDir().mkpath(root + "/empty");
    const QString r = internalOf(root);

    EXPECT_TRUE(FolderExists(r + "\\full"));
    EXPECT_TRUE(FolderExists(r + "\\full\\"));
    EXPECT_TRUE(FolderExists(r + "\\empty\\"));
    EXPECT_TRUE(FolderExists(r + "\\FULL"));   // resolved without regard to case
    EXPECT_FALSE(FolderExists(r + "\\full\\README"));
    EXPECT_FALSE(FolderExists(r + "\\full\\README\\"));
    EXPECT_FALSE(FolderExists(r + "\\missing"));
    EXPECT_FALSE(FolderExists(QString()));
    EXPECT_FALSE(FolderExists(QStringLiteral("Q:\\")));   // no such drive

    EXPECT_TRUE(FileExists(r + "\\full\\img_0001.jpg"));
    EXPECT_TRUE(FileExists(r + "\\full\\IMG_0001.JPG"));
    EXPECT_TRUE(FileExists(r + "\\full\\*.JPG"));
    EXPECT_TRUE(FileExists(r + "\\full\\*.*"));
    EXPECT_TRUE(FileExists(r + "\\full\\READ??"));
    EXPECT_TRUE(FileExists(r + "\\full\\a[1].txt"));   // brackets are no wildcards
    EXPECT_FALSE(FileExists(r + "\\full\\a1.txt"));
    EXPECT_TRUE(FileExists(r + "\\full\\"));
    EXPECT_FALSE(FileExists(r + "\\hiddenonly\\"));   // a dot-file and a folder only
    EXPECT_FALSE(FileExists(r + "\\full"));
    EXPECT_FALSE(FileExists(r + "\\empty\\"));
    EXPECT_FALSE(FileExists(QStringLiteral("Q:\\x.jpg")));
}

TEST(Files, NamesAndFolders)
{
    EXPECT_EQ(StripTrailingBackslash(QStringLiteral(" C:\\a\\ ")), QStringLiteral("C:\\a"));
    EXPECT_EQ(StripTrailingBackslash(QStringLiteral("C:\\a\\\\")), QStringLiteral("C:\\a\\"));
    EXPECT_EQ(ReplaceInvalidFileChars(QStringLiteral("a/b:c?")), QStringLiteral("a-b-c-"));
    EXPECT_EQ(ReplaceInvalidFileChars(QStringLiteral("\\\"<>|*")), QStringLiteral("-----*"));
    EXPECT_EQ(MakeValidFileName(QStringLiteral("x/y z/w")), QStringLiteral("x-y z/w"));
    EXPECT_EQ(MakeValidFileName(QStringLiteral("a:b")), QStringLiteral("a-b"));
    EXPECT_EQ(ShortPath(QStringLiteral("C:\\Long Name\\file.jpeg")), QStringLiteral("C:\\Long Name\\file.jpeg"));

    const QString temp = GetTempFolder();
    ASSERT_FALSE(temp.isEmpty());
    EXPECT_TRUE(temp.endsWith(QLatin1Char('\\')));
    EXPECT_TRUE(FolderExists(temp));
    EXPECT_TRUE(plat::toNative(temp).startsWith(testing_support::testHome()));   // never the real home
    const QString sys = GetSystemFolder();
    EXPECT_FALSE(sys.endsWith(QLatin1Char('\\')));
    EXPECT_TRUE(FolderExists(sys));
}

TEST(Files, Dates)
{
    SystemTime t;
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDay = 7;
    t.wHour = 5;
    t.wMinute = 4;
    t.wSecond = 9;
    t.wMilliseconds = 999;
    EXPECT_EQ(SystemTimeToText(t), QStringLiteral("2024-03-07 05:04:09"));

    // 2020-01-02 03:04:05 UTC as a file time.
    const QDateTime utc(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const quint64 ft = quint64(utc.toSecsSinceEpoch()) * 10000000ULL + 116444736000000000ULL + 9999999ULL;
    const QDateTime back = FileTimeToDate(uint32_t(ft & 0xFFFFFFFF), uint32_t(ft >> 32));
    EXPECT_EQ(back.timeSpec(), Qt::LocalTime);
    EXPECT_EQ(back.toUTC(), utc);   // to the second

    const QString root = makeTempDir(QStringLiteral("dates"));
    const QString file = root + "/photo.jpg";
    touch(file);
    const QDateTime base(QDate(2023, 6, 15), QTime(12, 30, 40));
    setMtime(file, base.toSecsSinceEpoch());
    const QString f = internalOf(file);
    EXPECT_EQ(GetFileModifiedText(f), QStringLiteral("2023-06-15 12:30:40"));
    EXPECT_EQ(GetFileModifiedText(f + "x"), QString());

    EXPECT_FALSE(SetFileDates(f, QStringLiteral("2023-06-15 13:30:40")));   // later: left alone
    EXPECT_FALSE(SetFileDates(f, QStringLiteral("2023-06-15 12:30:01")));   // same minute
    EXPECT_FALSE(SetFileDates(f, QStringLiteral("not a date")));
    EXPECT_FALSE(SetFileDates(f + "x", QStringLiteral("2020-01-01 00:00:00")));
    EXPECT_EQ(mtimeOf(file), base.toSecsSinceEpoch());

    EXPECT_TRUE(SetFileDates(f, QStringLiteral("2023-06-14 08:09:10")));
    EXPECT_EQ(mtimeOf(file), QDateTime(QDate(2023, 6, 14), QTime(8, 9, 10)).toSecsSinceEpoch());
    EXPECT_EQ(GetFileModifiedText(f), QStringLiteral("2023-06-14 08:09:10"));
    EXPECT_TRUE(SetFileDates(f, QStringLiteral("2023-06-14 08:08")));   // an earlier minute
}

TEST(Files, CopyAndMoveOnATree)
{
    const QString root = makeTempDir(QStringLiteral("copy"));
    touch(root + "/src/one.jpg", "first");
    touch(root + "/src/two.jpg", "second");
    touch(root + "/src/inner/three.jpg", "third");
    setMtime(root + "/src/one.jpg", 1500000000);
    const QString r = internalOf(root);
    UiRecorder ui;
    ui.install();

    // Copy of everything into a new folder, sub-folders included, dates kept.
    EXPECT_TRUE(CopyFiles(r + "\\src\\*.*", r + "\\copy"));
    EXPECT_EQ(readFileBytes(root + "/copy/one.jpg"), QByteArray("first"));
    EXPECT_EQ(readFileBytes(root + "/copy/inner/three.jpg"), QByteArray("third"));
    EXPECT_EQ(mtimeOf(root + "/copy/one.jpg"), 1500000000);
    EXPECT_TRUE(QFile::exists(root + "/src/one.jpg"));
    EXPECT_GT(ui.progressCalls, 0);   // the simple progress

    // A clash asks; "no" keeps the old file, "yes" replaces it whole.
    touch(root + "/src/one.jpg", "first, changed");
    ui.replaceAnswer = false;
    EXPECT_TRUE(CopyFiles(r + "\\src\\one.jpg", r + "\\copy\\"));
    EXPECT_EQ(readFileBytes(root + "/copy/one.jpg"), QByteArray("first"));
    EXPECT_EQ(ui.replaceQuestions, 1);
    ui.replaceAnswer = true;
    EXPECT_TRUE(CopyFiles(r + "\\src\\one.jpg", r + "\\copy"));
    EXPECT_EQ(readFileBytes(root + "/copy/one.jpg"), QByteArray("first, changed"));
    EXPECT_EQ(entriesOf(root + "/copy"), (QStringList{"inner", "one.jpg", "two.jpg"}));   // no partial files

    // Move under a new name, into the cache (silent), and silently without asking.
    ui.progressCalls = 0;
    EXPECT_TRUE(MoveFiles(r + "\\src\\two.jpg", r + "\\saved\\renamed.jpg", false));
    EXPECT_EQ(readFileBytes(root + "/saved/renamed.jpg"), QByteArray("second"));
    EXPECT_FALSE(QFile::exists(root + "/src/two.jpg"));
    EXPECT_GT(ui.progressCalls, 0);
    ui.progressCalls = 0;
    EXPECT_TRUE(MoveFiles(r + "\\src\\inner", r + "\\RIVozud\\", false));
    EXPECT_EQ(ui.progressCalls, 0);
    EXPECT_EQ(readFileBytes(root + "/RIVozud/inner/three.jpg"), QByteArray("third"));
    EXPECT_FALSE(QFile::exists(root + "/src/inner"));
    const int asked = ui.replaceQuestions;
    touch(root + "/saved/one.jpg", "old");
    EXPECT_TRUE(MoveFiles(r + "\\src\\one.jpg", r + "\\saved", true));
    EXPECT_EQ(ui.replaceQuestions, asked);
    EXPECT_EQ(ui.progressCalls, 0);
    EXPECT_EQ(readFileBytes(root + "/saved/one.jpg"), QByteArray("first, changed"));

    // Refusals and failures.
    EXPECT_FALSE(MoveFiles(QStringLiteral("C:\\"), r + "\\x", true));
    EXPECT_FALSE(CopyFiles(QStringLiteral("C:\\a"), r + "\\x"));
    EXPECT_FALSE(CopyFiles(r + "\\src\\missing.jpg", r + "\\x"));
    EXPECT_FALSE(MoveFiles(r + "\\saved", r + "\\saved\\inside", true));   // into itself
    EXPECT_TRUE(QFile::exists(root + "/saved/one.jpg"));

    // Across file systems: the content arrives and the source goes.
    struct stat a, b;
    if (::stat("/dev/shm", &a) == 0 && ::stat(QFile::encodeName(root).constData(), &b) == 0 && a.st_dev != b.st_dev
        && QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
        const QString shm = QStringLiteral("/dev/shm/quilvane-move-%1").arg(::getpid());
        touch(shm + "/far.jpg", "far away");
        EXPECT_TRUE(MoveFiles(internalOf(shm) + "\\far.jpg", r + "\\saved", true));
        EXPECT_EQ(readFileBytes(root + "/saved/far.jpg"), QByteArray("far away"));
        EXPECT_FALSE(QFile::exists(shm + "/far.jpg"));
        QDir(shm).removeRecursively();
    }
}

TEST(Files, DeletionAndTheTrash)
{
    PrivateHome home;
    const QString root = home.home() + "/work";
    touch(root + "/a.tmp");
    touch(root + "/b.tmp");
    touch(root + "/keep.jpg");
    QDir().mkpath(root + "/folder.tmp");
    touch(root + "/tree/x/y.jpg");
    const QString r = internalOf(root);
    UiRecorder ui;
    ui.install();

    // Files only, wildcards, permanently.
    EXPECT_TRUE(DeleteFiles(r + "\\*.tmp", false, false));
    EXPECT_EQ(entriesOf(root), (QStringList{"folder.tmp", "keep.jpg", "tree"}));
    EXPECT_EQ(ui.deleteQuestions, 0);
    EXPECT_FALSE(DeleteFiles(r + "\\*.none", false, false));
    // Asked first when confirming; "no" keeps the file.
    ui.deleteAnswer = false;
    EXPECT_FALSE(DeleteFiles(r + "\\keep.jpg", false, true));
    EXPECT_EQ(ui.deleteQuestions, 1);
    EXPECT_TRUE(QFile::exists(root + "/keep.jpg"));
    ui.deleteAnswer = true;

    // Into the trash of the home folder, with its information file.
    EXPECT_TRUE(RecycleFile(r + "\\keep.jpg"));
    EXPECT_FALSE(QFile::exists(root + "/keep.jpg"));
    EXPECT_TRUE(QFile::exists(home.trashFiles() + "/keep.jpg"));
    EXPECT_TRUE(QFile::exists(home.trashInfo() + "/keep.jpg.trashinfo"));

    // Whole folders; roots, the home folder and short paths are refused.
    EXPECT_TRUE(DeleteFolder(r + "\\tree\\", false, false));
    EXPECT_FALSE(QFile::exists(root + "/tree"));
    EXPECT_FALSE(DeleteFolder(QStringLiteral("C:\\"), false, false));
    EXPECT_FALSE(DeleteFolder(internalOf(home.home()), false, false));
    EXPECT_TRUE(QFile::exists(home.home()));
    EXPECT_FALSE(RecycleFile(QStringLiteral("C:\\")));
}

TEST(Files, ARemovableDriveIsNeverTrashedOnto)
{
    PrivateHome home;
    const QString medium = makeTempDir(QStringLiteral("card"));
    touch(medium + "/DCIM/IMG_0001.JPG", "picture");
    touch(medium + "/DCIM/IMG_0002.JPG", "picture");
    touch(medium + "/DCIM/IMG_0003.JPG", "picture");
    touch(medium + "/MISC/note.txt", "note");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('R', medium, plat::DriveTypeRemovable));

    EXPECT_TRUE(RecycleFile(QStringLiteral("R:\\DCIM\\IMG_0001.JPG")));
    EXPECT_FALSE(QFile::exists(medium + "/DCIM/IMG_0001.JPG"));
    EXPECT_TRUE(DeleteFiles(QStringLiteral("R:\\DCIM\\IMG_0002.*"), true, false));
    EXPECT_FALSE(QFile::exists(medium + "/DCIM/IMG_0002.JPG"));
    EXPECT_TRUE(DeleteFolder(QStringLiteral("R:\\MISC"), true, false));
    EXPECT_FALSE(QFile::exists(medium + "/MISC"));
    // Nothing was written onto the medium (no trash folder there) nor into the home trash.
    QStringList after = entriesOf(medium);
    EXPECT_EQ(after, (QStringList{"DCIM"}));
    EXPECT_FALSE(QFile::exists(home.trashFiles() + "/IMG_0001.JPG"));
    EXPECT_FALSE(QFile::exists(home.trashFiles() + "/MISC"));

    // Also when the same folder is reached through another letter's path.
    const QString viaC = plat::toInternal(medium + "/DCIM/IMG_0003.JPG");
    EXPECT_TRUE(viaC.startsWith(QStringLiteral("R:")));

    // Set to fail instead, the removal leaves the file.
    SetTrashFallback(TrashFallback::Fail);
    EXPECT_FALSE(RecycleFile(QStringLiteral("R:\\DCIM\\IMG_0003.JPG")));
    EXPECT_TRUE(QFile::exists(medium + "/DCIM/IMG_0003.JPG"));
    SetTrashFallback(TrashFallback::Delete);
    // Permanent deletion is unaffected.
    EXPECT_TRUE(DeleteFiles(QStringLiteral("R:\\DCIM\\IMG_0003.JPG"), false, false));
    EXPECT_EQ(entriesOf(medium + "/DCIM"), QStringList());
    EXPECT_FALSE(DeleteFolder(QStringLiteral("R:\\"), false, false));   // a drive root
    plat::DriveTable::instance().detach('R');
    EXPECT_TRUE(QFile::exists(medium + "/DCIM"));
}
