// The main window's cache services on a virtual drive: the cache root
// derived and repaired, its tree created, emptied and tidied, the choice
// among the remembered roots, the found-file list refilled from the folder
// and from its scan-list file, and the free-space check on a small volume.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"
#include "recovery/scanlist.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <gtest/gtest.h>
#include <unistd.h>

using testing_support::makeTempDir;
using testing_support::MessageScript;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

QMap<QString, QByteArray> fingerprint(const QString &native)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(native, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        out[f] = QCryptographicHash::hash(readFileBytes(f), QCryptographicHash::Sha256);
    }
    return out;
}

bool exists(const QString &native) { return QFileInfo::exists(native); }

class CacheWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        drive = makeTempDir("drive");
        ASSERT_TRUE(plat::DriveTable::instance().attachFolder('E', drive, plat::DriveTypeFixed));
        ChooserStartPath.clear();
        w = &CreateMainWindow();
    }
    void TearDown() override
    {
        DestroyMainWindow();
        ChooserStartPath.clear();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        SetMsgBoxPlainMode(false);
    }
    frmRecover *w = nullptr;
    QString drive;
};

} // namespace

TEST_F(CacheWindow, MakeDirNamesRepairsOrReplacesTheStoredRoot)
{
    struct Case {
        QString stored, expected;
    } cases[] = {
        {"E:\\\\RIVozud\\", "E:\\RIVozud\\"},                                   // doubled separator
        {"E:\\RIVozud", "E:\\RIVozud\\"},
        {"e:\\Pictures\\", "E:\\Pictures\\RIVozud\\"},                          // no cache folder in it
        {"E:\\RIVozud photos\\", "E:\\RIVozud photos\\RIVozud\\"},              // a user folder is never the cache
        {"Q:\\RIVozud\\", w->DefaultCacheRoot()},                               // missing volume
        {"E:\\RIVozud\\..\\Docs\\", w->DefaultCacheRoot()},                     // climbing out
        {"", w->DefaultCacheRoot()},
    };
    for (const Case &c : cases) {
        w->CacheRoot = c.stored;
        w->ShownFolder.clear();
        w->MakeDirNames();
        EXPECT_EQ(w->CacheRoot, c.expected) << c.stored.toStdString();
        EXPECT_EQ(w->ShownFolder, w->CacheRoot);
    }
    EXPECT_TRUE(w->DefaultCacheRoot().endsWith("\\RIVozud\\"));
    EXPECT_TRUE(IsSameOrBelow(w->DefaultCacheRoot(), plat::toInternal(testing_support::testHome())));

    w->CacheRoot = "E:\\RIVozud\\";
    w->MakeDirNames();
    EXPECT_EQ(w->ThumbsFolder, "E:\\RIVozud\\Thumbs\\");
    EXPECT_EQ(w->BrowseThumbsFolder, "E:\\RIVozud\\Thumbs\\Browse\\");
    EXPECT_EQ(w->ActiveThumbsFolder, w->ThumbsFolder);
    EXPECT_EQ(w->CacheTempFolder, "E:\\RIVozud\\Temp\\");
    EXPECT_EQ(w->ConvFolder, "E:\\RIVozud\\Conv\\");
    // A save folder inside the cache, or a bare root, becomes the drive's Recovered folder.
    for (const QString &save : {QStringLiteral("E:\\RIVozud\\Saved\\"), QStringLiteral("E:\\")}) {
        ChooserStartPath = save;
        w->BackupFolder.clear();
        w->BrowseStartFolder.clear();
        w->MakeDirNames();
        EXPECT_EQ(ChooserStartPath, "E:\\Recovered\\");
        EXPECT_EQ(w->BackupFolder, ChooserStartPath);
        EXPECT_EQ(w->BrowseStartFolder, ChooserStartPath);
    }
    ChooserStartPath = "E:\\Saved\\";
    w->MakeDirNames();
    EXPECT_EQ(ChooserStartPath, "E:\\Saved\\");
    // On the root file system the save folder lies beside the cache, never
    // at the top of the system's tree.
    ChooserStartPath.clear();
    w->CacheRoot.clear();
    w->MakeDirNames();
    QString parent = w->CacheRoot;
    parent.chop(int(QStringLiteral("RIVozud\\").size()));
    EXPECT_EQ(ChooserStartPath, parent + "Recovered\\");
}

TEST_F(CacheWindow, TheTreeIsCreatedEmptiedAndTidied)
{
    w->CacheRoot = "E:\\RIVozud\\";
    w->CreateCacheFolders();
    const QString c = drive + "/RIVozud";
    for (const char *sub : {"", "/Thumbs", "/Thumbs/Browse", "/Temp", "/Conv"})
        EXPECT_TRUE(QFileInfo(c + sub).isDir()) << sub;
    EXPECT_TRUE(QFileInfo(drive + "/Recovered").isDir());
    EXPECT_TRUE(QFileInfo(plat::toNative(w->WorkFolder)).isDir());
    EXPECT_EQ(w->ShortConvFolder, w->ConvFolder);

    writeFileBytes(c + "/R#0001.jpg", "a");
    writeFileBytes(c + "/R#0001.jpeg", "b");
    writeFileBytes(c + "/Thumbs/0001jpg.jpg", "t1");
    writeFileBytes(c + "/Thumbs/0001jpeg.jpg", "t2");   // a 4-letter extension never maps back
    writeFileBytes(c + "/Thumbs/0002jpg.jpg", "t3");    // its found file is gone
    writeFileBytes(c + "/Conv/R#0001.ppm", "");
    writeFileBytes(c + "/Conv/R#0001.tif", "data");
    writeFileBytes(c + "/Conv/R#0009.ppm", "data");
    writeFileBytes(c + "/thumbs.db", "x");
    w->TidyCacheFolders();
    EXPECT_FALSE(exists(c + "/thumbs.db"));
    EXPECT_TRUE(exists(c + "/Thumbs/0001jpg.jpg"));
    EXPECT_FALSE(exists(c + "/Thumbs/0001jpeg.jpg"));
    EXPECT_FALSE(exists(c + "/Thumbs/0002jpg.jpg"));
    EXPECT_FALSE(exists(c + "/Thumbs/Browse"));
    EXPECT_FALSE(exists(c + "/Temp"));
    EXPECT_FALSE(exists(c + "/Conv/R#0001.ppm"));   // empty conversion
    EXPECT_TRUE(exists(c + "/Conv/R#0001.tif"));
    EXPECT_FALSE(exists(c + "/Conv/R#0009.ppm"));   // orphan

    // Emptying removes every file of the tree and the root's scan-list file.
    w->ShownFolder = w->CacheRoot;
    w->RefillFoundFileList();
    w->ThumbCounter = 7;
    ASSERT_TRUE(exists(plat::toNative(w->ScanListFile())));
    w->ResetCache();
    EXPECT_EQ(QDir(c).entryList(QDir::Files).size(), 0);
    EXPECT_FALSE(exists(c + "/Thumbs/0001jpg.jpg"));
    EXPECT_FALSE(exists(plat::toNative(w->ScanListFile())));
    EXPECT_EQ(w->ThumbCounter, 0);
    EXPECT_TRUE(QFileInfo(c + "/Temp").isDir());   // made again

    // A tidy of an empty root removes the root.
    w->TidyCacheFolders();
    EXPECT_FALSE(exists(c));
}

TEST_F(CacheWindow, AWrongStoredPathNeverRemovesTheUsersFiles)
{
    const QString photos = drive + "/RIVozud photos";
    ASSERT_TRUE(QDir().mkpath(photos + "/Thumbs"));
    writeFileBytes(photos + "/holiday.jpg", "sea");
    writeFileBytes(photos + "/Thumbs/x.jpg", "thumb of the user's");
    writeFileBytes(drive + "/notes.txt", "keep");
    // A cache whose Thumbs folder is a link to the user's folder.
    ASSERT_TRUE(QDir().mkpath(drive + "/Other/RIVozud"));
    ASSERT_EQ(::symlink(photos.toUtf8().constData(), (drive + "/Other/RIVozud/Thumbs").toUtf8().constData()), 0);
    const auto before = fingerprint(drive);

    for (const QString &stored : {QStringLiteral("E:\\RIVozud photos\\"), QStringLiteral("E:\\RIVozud\\..\\RIVozud photos\\"),
                                  QStringLiteral("E:\\"), QStringLiteral("E:\\Other\\RIVozud\\")}) {
        w->CacheRoot = stored;
        w->ResetCache();
        w->CacheRoot = stored;
        w->EmptyCacheFolders();
        w->CacheRoot = stored;
        w->TidyCacheFolders();
        w->CacheRoot = stored;
        w->MakeDirNames();
        w->DeleteOrphanCacheFiles();
        EXPECT_EQ(fingerprint(drive), before) << stored.toStdString();
    }
}

TEST_F(CacheWindow, AnEarlierCacheWithFilesIsOffered)
{
    const QString a = "E:\\A\\RIVozud\\", b = "E:\\B\\RIVozud\\", c = "E:\\C\\RIVozud\\";
    for (const char *d : {"A", "B", "C"}) {
        QDir().mkpath(drive + "/" + d + "/RIVozud");
        writeFileBytes(drive + "/" + d + "/RIVozud/R#0001.jpg", d);
    }
    w->CacheRoot = a;
    w->PrevCacheRoot = b;
    w->OlderCacheRoot = c;
    {
        MessageScript script;
        script.expect(plat::id::No, "Also present is the previously used cache:E:\\B\\RIVozud\\  ")
            .expect(plat::id::No, "Cache=  E:\\B\\RIVozud\\")
            .expect(plat::id::Yes, "Cache=  E:\\C\\RIVozud\\");
        w->GetActiveTempCache();
        EXPECT_TRUE(script.boxes()[0].text.contains("\r\n\r\nand\r\n\r\nE:\\C\\RIVozud\\"));
        EXPECT_TRUE(script.boxes()[0].text.endsWith("Do you want to use the current cache?"));
    }
    EXPECT_EQ(w->CacheRoot, c);

    // An empty current cache gives way to the earlier one without a question.
    QDir().mkpath(drive + "/D/RIVozud");
    w->CacheRoot = "E:\\D\\RIVozud\\";
    w->PrevCacheRoot = a;
    w->OlderCacheRoot = "E:\\D\\RIVozud\\";
    MessageScript none;
    w->GetActiveTempCache();
    EXPECT_EQ(w->CacheRoot, a);
}

TEST_F(CacheWindow, TheFoundFileListIsRefilledFromTheFolderAndFromItsFile)
{
    w->CacheRoot = "E:\\RIVozud\\";
    w->CreateCacheFolders();
    const QString c = drive + "/RIVozud";
    writeFileBytes(c + "/b.jpg", "b");
    writeFileBytes(c + "/A.jpg", "a");
    writeFileBytes(c + "/R#0003.jpg", "3");
    writeFileBytes(c + "/PICT0042.JPG", "42");
    writeFileBytes(c + "/.hidden", "h");
    w->ShownFolder = w->CacheRoot;
    w->ThumbCounter = 9;
    w->RefillFoundFileList();
    ASSERT_EQ(w->List3.ListCount(), 4);
    // By name without regard to case.
    EXPECT_EQ(w->List3.List(0), "A.jpg");
    EXPECT_EQ(w->List3.List(1), "b.jpg");
    EXPECT_EQ(w->List3.List(2), "0042.JPG");
    EXPECT_EQ(w->List3.List(3), "0003.jpg");
    EXPECT_EQ(w->FoundFilePaths.mid(0, 4), QStringList({"A.jpg", "b.jpg", "PICT0042.JPG", "R#0003.jpg"}));
    EXPECT_EQ(w->ThumbCounter, 0);
    EXPECT_EQ(w->ListCacheKey, MakeCacheKeyOf("E:\\RIVozud\\"));
    EXPECT_EQ(w->ScanListFile(), w->WorkFolder + MakeCacheKeyOf("E:\\RIVozud\\") + ".dat");
    ASSERT_TRUE(exists(plat::toNative(w->ScanListFile())));

    // The list comes back from its file, orientations included.
    w->ItemOrientations[1] = 6;
    w->LastScanSource = "e:";
    w->ThumbCounter = 4;
    ASSERT_TRUE(w->SaveScanList());
    const QByteArray saved = readFileBytes(plat::toNative(w->ScanListFile()));
    w->FoundFilePaths = QStringList{QString()};
    w->ItemOrientations.assign(1, 0);
    w->LastScanSource.clear();
    w->List3.Clear();
    w->RefillFoundFileList();
    ASSERT_EQ(w->List3.ListCount(), 4);
    EXPECT_EQ(w->ItemOrientations[1], 6.0f);
    EXPECT_EQ(w->LastScanSource, "e:");
    EXPECT_EQ(w->ThumbCounter, 4);
    ASSERT_TRUE(w->SaveScanList());
    EXPECT_EQ(readFileBytes(plat::toNative(w->ScanListFile())), saved);

    // A hostile file is refused and the list rebuilt from the folder.
    QByteArray hostile = saved;
    hostile.replace("\"R#0003.jpg\"", "\"../x\"");
    writeFileBytes(plat::toNative(w->ScanListFile()), hostile);
    w->FoundFilePaths = QStringList{QString()};
    w->List3.Clear();
    w->RefillFoundFileList();
    EXPECT_EQ(w->FoundFilePaths[3], "R#0003.jpg");
    EXPECT_EQ(w->ItemOrientations[1], 0.0f);
    EXPECT_FALSE(readFileBytes(plat::toNative(w->ScanListFile())).contains("../x"));

    // A browsed folder is never written as the cache's list.
    w->ShownFolder = "E:\\";
    EXPECT_FALSE(w->SaveScanList());
}

TEST_F(CacheWindow, FreeSpaceCheckOnASmallCacheVolume)
{
    const QString dir = makeTempDir("img");
    testing_support::FatImageSpec small;   // 1.44 MB
    const QString cacheImage = testing_support::makeFatImage(dir, "cache.img", small);
    testing_support::FatImageSpec big;
    big.fatBits = 16;
    big.sizeKiB = 16384;
    const QString sourceImage = testing_support::makeFatImage(dir, "source.img", big);
    ASSERT_FALSE(cacheImage.isEmpty());
    ASSERT_FALSE(sourceImage.isEmpty());
    const QString cacheFiles = makeTempDir("cachefiles");
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    opts.files = cacheFiles;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('F', cacheImage, opts));
    ASSERT_TRUE(testing_support::attachRemovable('G', sourceImage));

    w->CacheRoot = "F:\\RIVozud\\";
    w->CreateCacheFolders();
    EXPECT_TRUE(QFileInfo(cacheFiles + "/RIVozud").isDir());
    w->SourceName = "g:";
    w->ResumePosition = 0;
    int result = 6;
    bool room = true;
    {
        MessageScript script;
        script.expect(plat::id::OK, "Free Space: 0 GB.");
        w->CheckTargetFreeSpace(w->CacheRoot, result, room);
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].style & plat::mb::ButtonMask, plat::mb::OK);
        EXPECT_EQ(script.boxes()[0].title, "Checks  Quilvane");
    }
    EXPECT_EQ(result, 2);
    EXPECT_FALSE(room);
    EXPECT_LT(w->CacheFreeMB, 0);
    EXPECT_EQ(w->CacheFreeMB, 1 - 2000);

    // Resuming: no box, and the caller's result stays.
    w->ResumePosition = 77;
    result = 6;
    MessageScript none;
    w->CheckTargetFreeSpace(w->CacheRoot, result, room);
    EXPECT_EQ(result, 2);
}
