// Saves and backups killed part-way: a child process (this binary started
// again) saves deleted entries of a card, moves found files onto another
// file system, or backs a card up, and is killed (SIGKILL) at many moments.
// Whatever it leaves under a final name is byte for byte its original; what
// it left half-written is a hidden ".NAME.part" that nothing offers, that the
// next save of that name removes, and that, for a backup, stays and is named
// at the next backup of the card.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "platform/drives.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/diskimage.h"
#include "recovery/imageindex.h"
#include "tests/recovery/media_fixtures.h"
#include "tests/support/child.h"
#include "tests/support/chooser_script.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"
#include "tests/undelete/undelete_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;
using namespace media_test;

namespace {

constexpr int kKills = 12;

QString internalFolder(const QString &native)
{
    const QString p = plat::toInternal(native);
    return p.endsWith('\\') ? p : p + '\\';
}

// The child's boxes: each is said on standard output and answered with its
// default button, as a user pressing Enter would.
void answerEveryBoxByDefault()
{
    plat::setMessageResponder([](const plat::MessageRequest &r) {
        childSays("box: " + QString(r.text).replace("\r\n", " "));
        const int buttons = r.style & plat::mb::ButtonMask;
        const bool second = (r.style & plat::mb::DefButtonMask) == plat::mb::DefButton2;
        if (buttons == plat::mb::YesNo || buttons == plat::mb::YesNoCancel)
            return second ? plat::id::No : plat::id::Yes;
        return second && buttons == plat::mb::OKCancel ? plat::id::Cancel : plat::id::OK;
    });
}

// ---- the children ------------------------------------------------------------------

// Quick Undelete of the card, then Save All of its deleted entries into OUT.
int undeleteChild(const QStringList &a)
{
    answerEveryBoxByDefault();
    undelete_test::WindowOnImage on(a.value(0));
    on.w.CmdQuickUndelete_Click();
    ChooserStartPath = internalFolder(a.value(1));
    ChooserScript chooser;
    chooser.ok();
    childSays("saving");
    on.w.CmdSaveAll_Click();
    childSays("saved " + QString::number(on.w.LastSaveTally.saved));
    return 0;
}

QString foundName(int i) { return QStringLiteral("R#%1.bin").arg(i, 4, 10, QChar('0')); }
QByteArray foundBytes(int i) { return patternBytes(3 << 20, quint32(100 + i)); }

// A cache (CACHE, on another file system than OUT) of COUNT found files,
// then Save All of them into OUT.
int foundChild(const QStringList &a)
{
    answerEveryBoxByDefault();
    frmRecover &w = CreateMainWindow();
    w.CacheRoot = internalFolder(a.value(0) + "/RIVozud");
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.List3.Clear();
    w.FoundFilePaths.clear();
    w.ItemOrientations.clear();
    for (int i = 1; i <= a.value(2).toInt(); ++i) {
        writeFileBytes(a.value(0) + "/RIVozud/" + foundName(i), foundBytes(i));
        w.List3.AddItem(foundName(i));
        w.FoundFilePaths << foundName(i);
        w.ItemOrientations.push_back(0.0f);
    }
    w.FoundFilePaths << QString();
    w.ItemOrientations.push_back(0.0f);
    w.List2.setVisible(false);
    w.List3.setVisible(true);
    ChooserStartPath = internalFolder(a.value(1));
    ChooserScript chooser;
    chooser.ok();
    childSays("saving");
    w.CmdSaveAll_Click();
    childSays("saved");
    DestroyMainWindow();
    return 0;
}

// Backup Medium of the card (drive E:) into FOLDER.
int backupChild(const QStringList &a)
{
    answerEveryBoxByDefault();
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    plat::DriveTable::instance().attachImage('E', a.value(0), o);
    frmRecover &w = CreateMainWindow();
    w.CmdEnd.setToolTipText("End");
    w.SourceName = "E:";
    GetDriveInfo("E:");
    w.BackupFolder = internalFolder(a.value(1));
    ChooserAnswers chooser("Backup. Please select a drive/folder for saving.");
    childSays("saving");
    w.CmdBackup_Click();
    childSays("saved " + plat::toNative(w.ImageFilePath));
    DestroyMainWindow();
    return 0;
}

const bool registered = registerChild("undelete", undeleteChild) && registerChild("found", foundChild)
                        && registerChild("backup", backupChild);

// ---- the checks ----------------------------------------------------------------------

// The visible files of a folder (what a listing offers) and the hidden
// temporary ones.
QStringList visibleFiles(const QString &folder) { return QDir(folder).entryList(QDir::Files, QDir::Name); }
QStringList partFiles(const QString &folder)
{
    QStringList parts;
    for (const QString &n : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name))
        if (plat::isPartFileName(n))
            parts << n;
    return parts;
}
// The temporary files with their sizes and times, to tell a new one.
QStringList partStates(const QString &folder)
{
    QStringList states;
    for (const QString &n : partFiles(folder)) {
        const QFileInfo fi(folder + "/" + n);
        states << n + ' ' + QString::number(fi.size()) + ' ' + QString::number(fi.lastModified().toMSecsSinceEpoch());
    }
    return states;
}

// The name a saved file had before the free-name rule: "X_0.BIN" -> "X.BIN".
QString baseName(const QString &saved)
{
    static const QRegularExpression numbered(QStringLiteral("_\\d+(\\.[^.]*)$"));
    QString n = saved;
    return n.replace(numbered, QStringLiteral("\\1"));
}

// Kills a fresh child at each of kKills moments spread over `span` ms after
// it said "saving"; after each kill, check() looks at what it left. The
// number of kills that left a temporary file (a kill inside a file).
template <typename Check>
int killAtManyMoments(const QString &name, const QStringList &args, const QString &home, qint64 span,
                      const QString &folder, Check check)
{
    int inside = 0;
    for (int k = 0; k < kKills; ++k) {
        SCOPED_TRACE(k);
        ChildProcess child(name, args, home);
        if (!child.waitForLine("saving")) {
            ADD_FAILURE() << "the child did not start: " << child.output().toStdString();
            return inside;
        }
        const QStringList before = partStates(folder);
        QThread::usleep(static_cast<unsigned long>(span * 1000 * k / kKills));
        child.kill();
        for (const QString &state : partStates(folder))
            if (!before.contains(state)) {
                ++inside;
                break;
            }
        check();
    }
    return inside;
}

// How long the whole save takes when nothing stops it, in ms.
qint64 timeOfWholeRun(const QString &name, const QStringList &args, const QString &home, QString *output = nullptr)
{
    ChildProcess child(name, args, home);
    EXPECT_TRUE(child.waitForLine("saving")) << child.output().toStdString();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(child.wait(), 0) << child.output().toStdString();
    if (output)
        *output = child.output();
    return std::max<qint64>(20, clock.elapsed());
}

// A window of the test's own browses the folder: no temporary file is listed.
void expectBrowseOffersNoPart(const QString &folder)
{
    frmRecover &w = CreateMainWindow();
    w.CacheRoot = internalFolder(makeTempDir("browsecache") + "/RIVozud");
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.BrowseStartFolder = internalFolder(folder);
    {
        MessageScript boxes;   // a folder with files: no box
        w.CmdBrowse_Click();
    }
    for (int i = 0; i < w.List3.ListCount(); ++i)
        EXPECT_FALSE(w.List3.List(i).contains(".part")) << w.List3.List(i).toStdString();
    EXPECT_FALSE(FileExists(internalFolder(folder) + "*.part"));
    DestroyMainWindow();
}

} // namespace

TEST(KilledSaves, DeletedEntriesAreWholeUnderTheirNamesAndASecondSaveClearsWhatAKillLeft)
{
    // A FAT32 card with 12 deleted files of 3 MiB.
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 72 * 1024;
    spec.sectorsPerCluster = 1;
    const QString image = makeFatImage(makeTempDir("killcard"), "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    QMap<QString, QByteArray> originals;   // the name Save All gives -> bytes
    QList<QPair<QString, QByteArray>> files;
    for (int i = 1; i <= 12; ++i) {
        const QString name = QStringLiteral("F%1.BIN").arg(i, 2, 10, QChar('0'));
        files << qMakePair(name, patternBytes(3 << 20, quint32(i)));
        originals.insert("%" + name.mid(1), files.back().second);
    }
    ASSERT_TRUE(mcopyFiles(image, "/", files));
    for (const auto &f : files)
        ASSERT_TRUE(mdel(image, "/" + f.first));

    const QString out = makeTempDir("killout");
    const QStringList args{image, out};
    auto check = [&] {
        for (const QString &n : visibleFiles(out)) {
            ASSERT_TRUE(originals.contains(baseName(n))) << n.toStdString();
            EXPECT_TRUE(readFileBytes(out + "/" + n) == originals[baseName(n)]) << n.toStdString() << " is torn";
        }
    };
    const qint64 span = timeOfWholeRun("undelete", args, {});
    check();
    EXPECT_EQ(visibleFiles(out).size(), 12);
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    const int inside = killAtManyMoments("undelete", args, {}, span, out, check);
    EXPECT_GE(inside, 1) << "no kill came while a file was written";
    expectBrowseOffersNoPart(out);

    // The next Save All removes every leftover and saves each file again.
    const QStringList before = visibleFiles(out);
    QString said;
    timeOfWholeRun("undelete", args, {}, &said);
    EXPECT_TRUE(said.contains("saved 12")) << said.toStdString();
    EXPECT_EQ(partFiles(out), QStringList());
    check();
    EXPECT_EQ(visibleFiles(out).size(), before.size() + 12);
}

TEST(KilledSaves, FoundFilesMovedToAnotherFileSystemAreWholeOrStillInTheCache)
{
    QTemporaryDir shm(QFileInfo::exists("/dev/shm") ? "/dev/shm/quilvane-kill-XXXXXX" : QDir::tempPath() + "/kill-XXXXXX");
    ASSERT_TRUE(shm.isValid());
    const QString out = makeTempDir("foundout");
    struct stat a {}, b {};
    ASSERT_EQ(::stat(QFile::encodeName(shm.path()).constData(), &a), 0);
    ASSERT_EQ(::stat(QFile::encodeName(out).constData(), &b), 0);
    const bool copies = a.st_dev != b.st_dev;   // else every move is a rename
    const int count = 10;
    auto check = [&] {
        for (const QString &n : visibleFiles(out)) {
            const int i = n.mid(2, 4).toInt();
            ASSERT_TRUE(i >= 1 && i <= count) << n.toStdString();
            EXPECT_TRUE(readFileBytes(out + "/" + n) == foundBytes(i)) << n.toStdString() << " is torn";
        }
    };
    int run = 0;
    auto args = [&] { return QStringList{shm.path() + "/c" + QString::number(run++), out, QString::number(count)}; };
    const qint64 span = timeOfWholeRun("found", args(), {});
    check();
    EXPECT_EQ(visibleFiles(out).size(), count);
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    const int inside = killAtManyMoments("found", args(), {}, span, out, check);
    if (copies) {
        EXPECT_GE(inside, 1) << "no kill came while a file was copied";
    }
    expectBrowseOffersNoPart(out);

    // The next Save All of the same names replaces the leftovers.
    timeOfWholeRun("found", args(), {});
    EXPECT_EQ(partFiles(out), QStringList());
    EXPECT_EQ(visibleFiles(out).size(), count);
    check();
}

TEST(KilledSaves, AKilledBackupLeavesNoImageNorIndexAndItsLeftoverIsNamedNeverDeleted)
{
    const Card card = makeCard(32, 96 * 1024, 1, "2468ACE0", "KILLCARD");
    ASSERT_TRUE(card.ok());
    const QByteArray cardBytes = readFileBytes(card.image);
    const QString home = makeTempDir("backuphome");
    const QString target = makeTempDir("backupout");
    const QString images = target + "/DiskImages";
    const QString indexes = home + "/ZTRecdt/DiskImages";
    const QStringList args{card.image, target};
    auto check = [&] {
        // A final name only ever names the whole card, and an index only an
        // image that is there.
        for (const QString &n : visibleFiles(images))
            EXPECT_TRUE(readFileBytes(images + "/" + n) == cardBytes) << n.toStdString() << " is not the whole card";
        for (const QString &n : QDir(indexes).entryList({"*.dat"}, QDir::Files)) {
            DiskImageIndex index;
            ASSERT_TRUE(ReadDiskImageIndex(plat::toInternal(indexes + "/" + n), index));
            EXPECT_TRUE(QFileInfo::exists(plat::toNative(index.imagePath))) << n.toStdString();
            EXPECT_EQ(index.copiedBytes, -1);
        }
        // The list of indexes offers no temporary file.
        EXPECT_FALSE(ListDiskImageIndexes(plat::toInternal(home + "/ZTRecdt/")).contains(".part"));
    };
    const qint64 span = timeOfWholeRun("backup", args, home);
    check();
    ASSERT_EQ(visibleFiles(images).size(), 1);
    QDir(images).removeRecursively();
    QDir(indexes).removeRecursively();

    const int inside = killAtManyMoments("backup", args, home, span, images, check);
    EXPECT_GE(inside, 1) << "no kill came while the image was written";
    const QStringList leftovers = partFiles(images);
    ASSERT_EQ(leftovers.size(), inside);
    EXPECT_EQ(LeftoverDiskImages(images, 'E', "KILLCARD"), leftovers);

    // The next backup of the card names them and deletes none.
    QString said;
    timeOfWholeRun("backup", args, home, &said);
    EXPECT_TRUE(said.contains("box: An earlier backup of this medium was ended before it finished.")) << said.toStdString();
    for (const QString &n : leftovers)
        EXPECT_TRUE(said.contains(n)) << n.toStdString();
    EXPECT_EQ(partFiles(images), leftovers);
    check();
}
