// Backup Medium and Scan Backup on the main window, with cards made by
// mkfs.fat and mtools attached as removable drives (and read-only loop
// devices where the machine has them): the image is the card byte for byte
// and its index reads back, a damaged card's image holds every readable
// sector and the backup names the rest, and Scan Backup of the image finds
// what the scan of the card finds. No source is ever changed.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/chooser.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/imageindex.h"
#include "undelete/entries.h"
#include "tests/recovery/media_fixtures.h"
#include "tests/support/fixtures.h"
#include "tests/undelete/undelete_support.h"
#include "tests/support/responder.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace media_test;

namespace {

const QString kBackupCaption = QStringLiteral("Backup. Please select a drive/folder for saving.");

const Card &card() { return sharedCard(); }

QString today() { return QDate::currentDate().toString("yyyy-MM-dd"); }

class BackupWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        ChooserStartPath.clear();
        ChosenPath.clear();
        w = &CreateMainWindow();
        w->CmdEnd.setToolTipText("End");   // start-up is finished
        QDir(plat::toNative(w->WorkFolder + "DiskImages\\")).removeRecursively();
    }
    void TearDown() override
    {
        DestroyMainWindow();
        ChooserStartPath.clear();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }

    // Backup Medium into a fresh folder, the chooser answered with it.
    QString backUp(const QString &folderNative)
    {
        w->BackupFolder = plat::toInternal(folderNative) + "\\";
        ChooserAnswers chooser(kBackupCaption);
        w->CmdBackup_Click();
        return plat::toNative(w->ImageFilePath);
    }
    void expectIdle() const
    {
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_FALSE(w->OperationBusy);
        EXPECT_EQ(w->ActiveOperations, 0);
        EXPECT_EQ(w->CmdBackup.Caption(), "Backup");
    }
    QString useNewCache()
    {
        w->CacheRoot = plat::toInternal(makeTempDir("bcache")) + "\\RIVozud\\";
        w->MakeDirNames();
        w->CreateCacheFolders();
        return plat::toNative(w->CacheRoot);
    }
    void tick(const QStringList &types)
    {
        if (w->LvwTypes.ItemCount() == 0)
            w->FillTypeList();
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            w->LvwTypes.setItemChecked(i, types.contains(w->LvwTypes.ItemText(i)));
    }

    frmRecover *w = nullptr;
};

} // namespace

TEST_F(BackupWindow, TheImageIsTheCardByteForByteAndItsIndexReadsBack)
{
    REQUIRE_MEDIA_CARD();
    const QByteArray sha = sha256(card().image);
    ASSERT_TRUE(attachCard('E', card().image));
    w->SourceName = "E:";
    GetDriveInfo("E:");
    const DriveInfoRecord record = DriveInfo();
    // The entry list quick undelete left: it goes into the index as it is
    // (of a type without a signature: the card holds none of their bytes).
    w->DeletedEntries.assign(1, DeletedEntryRecord{});
    for (int i = 1; i <= 5; ++i) {
        DeletedEntryRecord e;
        e.Name = QString("?HOTO%1.DAT").arg(i);
        e.LongName = QString("Photo number %1.jpg").arg(i);
        e.Created = 40000.5 + i;
        e.Modified = 40001.25;
        e.FirstCluster = 100 * i;
        e.Size = 1000 * i;
        e.Recoverable = 1000 * i;
        e.Attributes = 32;
        e.Occupied = i == 3 ? -1 : 0;
        w->DeletedEntries.push_back(e);
    }
    const std::vector<DeletedEntryRecord> entries = w->DeletedEntries;
    const QString folder = makeTempDir("backup");
    QString image;
    {
        MessageScript boxes;   // a whole copy asks nothing
        image = backUp(folder);
    }
    EXPECT_EQ(image, folder + "/DiskImages/E_CARD_" + today() + "_0.img");
    EXPECT_TRUE(readFileBytes(image) == readFileBytes(card().image));
    EXPECT_EQ(sha256(card().image), sha);
    EXPECT_TRUE(w->LastBackupResult.whole());
    EXPECT_TRUE(w->lblStatus.Caption().startsWith("Finished: ")) << w->lblStatus.Caption().toStdString();
    EXPECT_EQ(w->ProgressBar1.Value(), w->ProgressBar1.Max());
    expectIdle();

    DiskImageIndex index;
    ASSERT_TRUE(ReadDiskImageIndex(DiskImageIndexPath(w->WorkFolder, w->ImageFilePath), index));
    EXPECT_EQ(index.imagePath, w->ImageFilePath);
    EXPECT_EQ(index.bytesPerSector, 512);
    EXPECT_EQ(index.sectorsPerCluster, 4);
    EXPECT_EQ(index.firstDataSector, record.FirstDataSector);
    // The larger of the data clusters and the volume's sectors in clusters.
    EXPECT_EQ(index.totalClusters, std::floor(std::max(record.TotalClusters, record.TotalSectors / 4)));
    EXPECT_EQ(index.lastEntryIndex, 5);
    EXPECT_EQ(index.copiedBytes, -1);   // a whole copy's index is the plain six lines and records
    std::vector<DeletedEntryRecord> back;
    ASSERT_TRUE(ReadEntryRecords(index.entryRecords, index.lastEntryIndex, back));
    EXPECT_TRUE(back == entries);

    // The same card again on the same day: the next number, and the folder
    // already ends in DiskImages\.
    const QString second = backUp(folder + "/DiskImages");
    EXPECT_EQ(second, folder + "/DiskImages/E_CARD_" + today() + "_1.img");
    EXPECT_TRUE(readFileBytes(second) == readFileBytes(card().image));
    EXPECT_EQ(sha256(card().image), sha);
}

TEST_F(BackupWindow, AReadOnlyLoopDeviceIsBackedUpAsItIs)
{
    REQUIRE_MEDIA_CARD();
    const QString copy = makeTempDir("loopsrc") + "/card.img";
    ASSERT_TRUE(QFile::copy(card().image, copy));
    auto loop = LoopDevice::attach(copy, true);
    if (!loop)
        GTEST_SKIP() << "no loop devices here";
    const QByteArray sha = sha256(copy);
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    o.readOnly = true;
    ASSERT_TRUE(plat::DriveTable::instance().attachDevice('E', loop->device, o));
    w->SourceName = "E:";
    GetDriveInfo("E:");
    EXPECT_EQ(DriveInfo().VolumeLabel, "CARD");
    const QString image = backUp(makeTempDir("loopbackup"));
    EXPECT_TRUE(readFileBytes(image) == readFileBytes(copy));
    EXPECT_EQ(sha256(copy), sha);
    expectIdle();
}

TEST_F(BackupWindow, ADamagedCardIsCopiedWholeWithItsUnreadableSectorsNamed)
{
    REQUIRE_MEDIA_CARD();
    const QByteArray sha = sha256(card().image);
    const qint64 sectors = QFileInfo(card().image).size() / 512;
    const QList<QPair<qint64, qint64>> bad{{300, 303}, {5000, 5000}, {sectors - 1, sectors - 1}};
    ASSERT_TRUE(attachCard('E', card().image, bad));
    w->SourceName = "E:";
    GetDriveInfo("E:");
    QByteArray expected = readFileBytes(card().image);
    for (const auto &r : bad)
        for (qint64 s = r.first; s <= r.second; ++s)
            expected.replace(int(s * 512), 512, QByteArray(512, '\0'));

    QString image;
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "6 sectors could not be read");
        image = backUp(makeTempDir("damaged"));
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_TRUE(boxes.boxes()[0].text.endsWith(QString("300-303, 5000, %1").arg(sectors - 1)))
            << boxes.boxes()[0].text.toStdString();
    }
    EXPECT_TRUE(readFileBytes(image) == expected);
    EXPECT_FALSE(w->lblStatus.Caption().startsWith("Finished: "));
    EXPECT_TRUE(w->lblStatus.Caption().contains("6 unreadable sectors"));
    // The careful modes the copy went into are cleared at its end.
    EXPECT_EQ(w->ChkDeep.Value(), 0);
    EXPECT_EQ(w->ChkDamaged.Value(), 0);
    EXPECT_EQ(sha256(card().image), sha);
    expectIdle();
}

TEST_F(BackupWindow, AStoppedBackupIsNeverReportedAsFinished)
{
    REQUIRE_MEDIA_CARD();
    // A slow bad sector early on: the window takes the Stop press long
    // before the end.
    plat::VirtualDriveOptions o;
    o.typeCode = plat::DriveTypeRemovable;
    o.badSectors = {{100, 100}};
    o.slowMs = 50;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', card().image, o));
    w->SourceName = "E:";
    GetDriveInfo("E:");
    // The Stop press, once the copy has written into the image, which is
    // a hidden temporary file while it runs.
    const QString folder = makeTempDir("stopped");
    QTimer stop;
    stop.setInterval(1);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        const QFileInfoList parts = QDir(folder + "/DiskImages").entryInfoList({".*.img.part"}, QDir::Files | QDir::Hidden);
        if (w->CmdBackup.Caption() == "Stop" && !parts.isEmpty() && parts[0].size() > 0) {
            stop.stop();
            EXPECT_TRUE(QDir(folder + "/DiskImages").entryList(QDir::Files).isEmpty());
            w->CmdBackup_Click();
        }
    });
    stop.start();
    const QString image = backUp(folder);
    EXPECT_TRUE(w->LastBackupResult.stopped);
    EXPECT_LT(QFileInfo(image).size(), QFileInfo(card().image).size());
    EXPECT_TRUE(w->lblStatus.Caption().startsWith("Backup stopped: the image is incomplete."))
        << w->lblStatus.Caption().toStdString();
    expectIdle();

    // What was copied keeps the image's name; the index, written after the
    // stop, states that length; nothing temporary is left.
    DiskImageIndex index;
    ASSERT_TRUE(ReadDiskImageIndex(DiskImageIndexPath(w->WorkFolder, w->ImageFilePath), index));
    const qint64 copied = w->LastBackupResult.bytesPlaced;
    ASSERT_GT(copied, 0);
    EXPECT_EQ(index.copiedBytes, copied);
    EXPECT_EQ(QFileInfo(image).size(), copied);
    QByteArray expected = readFileBytes(card().image).left(copied);
    if (copied > 100 * 512)
        expected.replace(100 * 512, 512, QByteArray(512, '\0'));
    EXPECT_TRUE(readFileBytes(image) == expected);
    EXPECT_EQ(QDir(QFileInfo(image).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(image).fileName()});

    // Scan Backup reads only that length, even from a file that grew since.
    QFile grown(image);
    ASSERT_TRUE(grown.open(QIODevice::Append));
    grown.write(readFileBytes(card().image).mid(copied));
    grown.close();
    useNewCache();
    tick({"JPG", "PNG"});
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "no recoverable files");   // the copy ends in the FAT
        DialogScript dialogs;
        dialogs.expect(DiskImageIndexPath(w->WorkFolder, w->ImageFilePath));
        w->CmdScanBackup_Click();
    }
    EXPECT_GT(w->LastScanResult.bytesScanned, 0);
    EXPECT_LE(w->LastScanResult.bytesScanned, copied);
}

TEST_F(BackupWindow, StageTwoWritesBackuptempBackwardsWithoutAnIndex)
{
    REQUIRE_MEDIA_CARD();
    ASSERT_TRUE(attachCard('E', card().image, {{40, 41}}));
    w->SourceName = "E:";
    GetDriveInfo("E:");
    const QString folder = makeTempDir("stage2");
    // An earlier card's longer file must not leave its tail behind.
    ASSERT_TRUE(writeFileBytes(folder + "/backuptemp.dat", QByteArray(int(QFileInfo(card().image).size()) + 4096, 'x')));
    w->BackupFolder = plat::toInternal(folder) + "\\";
    w->RecoveryStage = 2;
    w->ChkDeep.setValue(1);
    w->ChkDamaged.setVisible(true);
    w->ChkDamaged.setValue(1);
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "2 sectors could not be read");
        w->CmdBackup_Click();   // no folder is asked for
    }
    EXPECT_EQ(plat::toNative(w->ImageFilePath), folder + "/backuptemp.dat");
    QByteArray expected = readFileBytes(card().image);
    expected.replace(40 * 512, 1024, QByteArray(1024, '\0'));
    EXPECT_TRUE(readFileBytes(folder + "/backuptemp.dat") == expected);
    EXPECT_FALSE(QDir(plat::toNative(w->WorkFolder + "DiskImages\\")).exists());
    EXPECT_FALSE(QDir(folder + "/DiskImages").exists());
    expectIdle();
}

TEST_F(BackupWindow, ScanBackupFindsWhatTheScanOfTheCardFinds)
{
    REQUIRE_MEDIA_CARD();
    const QByteArray sha = sha256(card().image);
    ASSERT_TRUE(attachCard('E', card().image));
    w->SourceName = "E:";
    GetDriveInfo("E:");
    const QString image = backUp(makeTempDir("scanbackup"));
    ASSERT_TRUE(QFileInfo(image).isFile());
    tick({"JPG", "PNG"});

    // The card itself, every unit read (no SmartScan: the image has none).
    const QString cardCache = useNewCache();
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        w->CmdScan_Click();
    }
    const auto fromCard = folderFiles(cardCache);
    ASSERT_EQ(fromCard.size(), 2);
    EXPECT_TRUE(fromCard[0].second == card().jpeg);
    EXPECT_TRUE(fromCard[1].second == card().png);

    // The image through its index.
    const QString imageCache = useNewCache();
    {
        MessageScript boxes;   // no question: the index is chosen, the image exists
        DialogScript dialogs;
        dialogs.expect(DiskImageIndexPath(w->WorkFolder, w->ImageFilePath));
        w->CmdScanBackup_Click();
        ASSERT_EQ(dialogs.dialogs().size(), 1u);
        EXPECT_EQ(dialogs.dialogs()[0].startFolder, w->WorkFolder + "DiskImages");
    }
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_TRUE(folderFiles(imageCache) == fromCard);
    // The drive chosen before is the source again.
    EXPECT_EQ(w->SourceName, "E:");
    EXPECT_FALSE(w->ScanningImage);
    EXPECT_EQ(DriveInfo().DriveLetter, QChar('E'));
    EXPECT_EQ(sha256(card().image), sha);
}

TEST_F(BackupWindow, AnIndexWhoseImageIsGoneIsRefusedAndAnotherOneAsked)
{
    // On a drive that is not there: the index stays, the image cannot be reached.
    DiskImageIndex index;
    index.imagePath = "Q:\\DiskImages\\Q_CARD_2009-06-01_0.img";
    index.bytesPerSector = 512;
    index.sectorsPerCluster = 4;
    index.totalClusters = 100;
    const QString indexPath = DiskImageIndexPath(w->WorkFolder, index.imagePath);
    ASSERT_TRUE(WriteDiskImageIndex(indexPath, index));
    w->SourceName = "C:";
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Drive for this backup file not available.\r\n\r\nSelect another file.");
        DialogScript dialogs;
        dialogs.expect(indexPath);
        dialogs.expectCancel();
        w->CmdScanBackup_Click();
        EXPECT_EQ(boxes.boxes()[0].title, "QuilvaneScan BackUp");
    }
    // A chosen file that is no index ends the command silently.
    {
        MessageScript boxes;
        DialogScript dialogs;
        dialogs.expect("C:\\tmp\\photo.jpg");
        w->CmdScanBackup_Click();
    }
    EXPECT_EQ(w->SourceName, "C:");
    EXPECT_FALSE(w->ScanningImage);
    EXPECT_TRUE(QFileInfo::exists(plat::toNative(indexPath)));
}

TEST_F(BackupWindow, AnotherCardInTheReaderIsBackedUpWithItsOwnEntries)
{
    // Two cards formatted alike (one serial), each with a deleted picture.
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.serial = "C4A2D000";
    const QString a = makeFatImage(makeTempDir("carda"), "card.img", spec);
    const QString b = makeFatImage(makeTempDir("cardb"), "card.img", spec);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());
    // Card A's list is long enough to be taken as it stands.
    for (int i = 1; i <= 6; ++i)
        ASSERT_TRUE(mcopyData(a, QStringLiteral("/ALPHA%1.JPG").arg(i), undelete_test::photoBytes(9000, i)));
    for (int i = 1; i <= 6; ++i)
        ASSERT_TRUE(mdel(a, QStringLiteral("/ALPHA%1.JPG").arg(i)));
    ASSERT_TRUE(mcopyData(b, "/CHARLIE.JPG", undelete_test::photoBytes(7000, 2)) && mdel(b, "/CHARLIE.JPG"));
    ASSERT_TRUE(attachCard('E', a));
    w->SourceName = "E:";
    {
        MessageScript none;
        w->CmdQuickUndelete_Click();
    }
    ASSERT_GE(w->DeletedEntriesUpperBound(), 5);

    // Card B goes in while the program runs; the backup copies it and
    // indexes its entries, none of card A's.
    const QByteArray cardB = readFileBytes(b);
    ASSERT_TRUE(writeFileBytes(a, cardB));
    QString image;
    {
        MessageScript none;
        image = backUp(makeTempDir("backupb"));
    }
    EXPECT_TRUE(readFileBytes(image) == cardB);
    DiskImageIndex index;
    ASSERT_TRUE(ReadDiskImageIndex(DiskImageIndexPath(w->WorkFolder, w->ImageFilePath), index));
    std::vector<DeletedEntryRecord> entries;
    ASSERT_TRUE(ReadEntryRecords(index.entryRecords, index.lastEntryIndex, entries));
    QStringList names;
    for (const DeletedEntryRecord &e : entries)
        names << e.Name;
    EXPECT_TRUE(names.contains("?HARLIE.JPG")) << names.join(' ').toStdString();
    EXPECT_FALSE(names.join(' ').contains("LPHA")) << names.join(' ').toStdString();
    expectIdle();
}
