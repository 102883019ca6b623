// The scan on the main window: a reformatted card attached as a removable
// drive is scanned into a cache root; the found files, List3, the list file,
// the status line and the captions; a stop and a resume through the window
// give the files of one scan; a disk image with and without its index file;
// the end message of a wiped card.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/imageindex.h"
#include "recovery/scanlist.h"
#include "scan/signatures.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

struct Card {
    QString dir, image;
    QList<CorpusFile> files;
};

// One corpus on a small FAT32 card (512-byte clusters) for the binary.
const Card &card()
{
    static Card c = [] {
        Card k;
        k.dir = makeTempDir("wcorpus");
        k.files = makeCorpus(k.dir);
        if (!k.files.isEmpty())
            k.image = makeReformattedImage(k.dir, "card.img", k.files, 1, 40960);
        return k;
    }();
    return c;
}

#define REQUIRE_CARD()                                                                                    \
    if (card().image.isEmpty())                                                                           \
    GTEST_SKIP() << "mkfs.fat, mtools, exiftool, imagemagick, zip or sox missing"

class ScanWindow : public ScanWindowTest {
protected:
    void scanDrive(QChar letter)
    {
        w->SourceName = QString(letter) + QLatin1Char(':');
        GetDriveInfo(w->SourceName);
        w->OperationRunning = true;
        w->ScanDisk();
    }
};

QStringList cacheFiles(const QString &native)
{
    return QDir(native).entryList(QDir::Files, QDir::Name);
}

} // namespace

TEST_F(ScanWindow, ScansARemovableCardIntoTheCacheAndListsTheFoundFiles)
{
    REQUIRE_CARD();
    ASSERT_TRUE(attachRemovable('E', card().image));
    const QString cache = useNewCache();
    MessageScript boxes;   // a full scan with files found asks nothing
    w->SizeLimitMax = 1;
    // While the scan runs, the drive list and the learning take no click.
    w->CmdLearn.setEnabled(true);
    bool idleDuringScan = false;
    w->AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        auto shown = cb.fileKept;
        cb.fileKept = [&, shown](const FoundFileEvent &e) {
            shown(e);
            idleDuringScan |= w->CmdLearn.Enabled() || w->Drive1.Enabled();
        };
    };
    scanDrive('E');
    EXPECT_FALSE(idleDuringScan);
    EXPECT_TRUE(w->CmdLearn.Enabled());

    const ScanResult &r = w->LastScanResult;
    EXPECT_EQ(r.end, ScanEnd::Finished) << r.messageText.toStdString();
    EXPECT_TRUE(w->ScanFinished);
    EXPECT_EQ(compareFound(cache, w->FoundFiles, card().files), QStringList());
    EXPECT_EQ(w->List3.ListCount(), w->FoundFiles.FoundFileNames.size());
    for (int i = 0; i < w->List3.ListCount(); ++i) {
        EXPECT_EQ(w->FoundFilePaths.value(i), w->FoundFiles.FoundFileNames[i]);
        EXPECT_TRUE(w->List3.List(i).startsWith(QString::number(i).rightJustified(3, '0'))) << w->List3.List(i).toStdString();
    }
    EXPECT_TRUE(w->lblStatus.Caption().startsWith("Finished: ")) << w->lblStatus.Caption().toStdString();
    EXPECT_EQ(w->CmdScan.Caption(), "Scan");
    EXPECT_EQ(w->ScanResumeUnit(), 0);
    EXPECT_EQ(w->LastScanSource, "E:");
    EXPECT_EQ(w->LastScanDriveType, "Removable");
    EXPECT_TRUE(w->Drive1.Enabled());
    EXPECT_FALSE(w->OperationRunning);

    // The list file of the root names the files in their order.
    ScanListData d;
    ASSERT_EQ(ReadScanListFile(w->ScanListFile(), int(cacheFiles(cache).size()), d), ScanListStatus::Loaded);
    ASSERT_EQ(int(d.items.size()), w->List3.ListCount());
    for (size_t i = 0; i < d.items.size(); ++i)
        EXPECT_EQ(d.items[i].fileName, w->FoundFiles.FoundFileNames[int(i)]);
    EXPECT_EQ(d.resumePosition, 0);
    EXPECT_EQ(d.lastScanSource, "E:");
}

TEST_F(ScanWindow, StopAndResumeThroughTheWindowGiveTheFilesOfOneScan)
{
    REQUIRE_CARD();
    ASSERT_TRUE(attachRemovable('E', card().image));
    w->SizeLimitMax = 1;
    const QString whole = useNewCache();
    scanDrive('E');
    ASSERT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    const QStringList wholeNames = w->FoundFiles.FoundFileNames;
    const auto wholeDigest = folderDigest(whole);

    const QString cache = useNewCache();
    // The Stop button: the running flag is cleared after the third found file.
    int kept = 0;
    w->AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        auto shown = cb.fileKept;
        cb.fileKept = [&, shown](const FoundFileEvent &e) {
            shown(e);
            if (++kept == 3)
                w->OperationRunning = false;
        };
    };
    scanDrive('E');
    ASSERT_EQ(w->LastScanResult.end, ScanEnd::Stopped);
    EXPECT_GT(w->ScanResumeUnit(), 2);
    EXPECT_EQ(w->ResumePosition, w->ScanResumeUnit());
    EXPECT_EQ(w->CmdScan.Caption(), "Scan");
    const int listedAtStop = w->List3.ListCount();
    EXPECT_GE(listedAtStop, 3);

    w->AdjustScanCallbacks = nullptr;
    scanDrive('E');
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(w->FoundFiles.FoundFileNames, wholeNames);
    EXPECT_EQ(folderDigest(cache), wholeDigest);
    EXPECT_EQ(w->List3.ListCount(), wholeNames.size());
    EXPECT_EQ(w->ScanResumeUnit(), 0);
}

TEST_F(ScanWindow, ADiskImageTakesItsUnitsFromItsIndexOrItsBootSector)
{
    REQUIRE_CARD();
    const QString cache = useNewCache();
    w->ScanningImage = true;
    w->SourceName = plat::toInternal(card().image);
    w->SizeLimitMax = 1;

    // No index: the boot sector's units and DeepScan's care.
    w->OperationRunning = true;
    QList<ScanMode> modes;
    UnitGeometry used;
    w->AdjustScanCallbacks = [&](ScanCallbacks &cb) {
        auto tick = cb.modeChanged;
        cb.modeChanged = [&, tick](ScanMode m) {
            modes << m;
            tick(m);
        };
    };
    w->ScanDisk();
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(DriveInfo().DriveType, "File");
    EXPECT_EQ(compareFound(cache, w->FoundFiles, card().files), QStringList());
    EXPECT_EQ(w->ChkDeep.Value(), 0);   // back to a plain scan at the end
    EXPECT_EQ(modes.value(modes.size() - 1), ScanMode::Normal);

    // An index with the medium's geometry names the same files.
    DiskImageIndex index;
    index.imagePath = w->SourceName;
    index.bytesPerSector = 512;
    index.sectorsPerCluster = 1;
    ASSERT_TRUE(attachRemovable('E', card().image));
    GetDriveInfo("E:");
    index.totalClusters = DriveInfo().TotalClusters;
    index.firstDataSector = DriveInfo().FirstDataSector;
    ASSERT_TRUE(WriteDiskImageIndex(DiskImageIndexPath(w->WorkFolder, w->SourceName), index));
    DiskImageIndex back;
    ASSERT_TRUE(ReadDiskImageIndex(DiskImageIndexPath(w->WorkFolder, w->SourceName), back));
    EXPECT_EQ(back.firstDataSector, index.firstDataSector);
    EXPECT_EQ(back.totalClusters, index.totalClusters);

    const QString cache2 = useNewCache();
    modes.clear();
    w->OperationRunning = true;
    w->ScanDisk();
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_TRUE(modes.isEmpty());   // the index's units need no care
    EXPECT_EQ(compareFound(cache2, w->FoundFiles, card().files), QStringList());
}

TEST_F(ScanWindow, AWipedCardEndsWithItsMessage)
{
    const QString dir = makeTempDir("wiped");
    const QString image = dir + "/zero.img";
    {
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(4 << 20));
    }
    ASSERT_TRUE(attachRemovable('E', image));
    const QString cache = useNewCache();
    MessageScript boxes;
    boxes.expect(plat::id::OK, "Not any data retrievable.");
    scanDrive('E');
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Wiped);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.contains("Disk E: is wiped and entirely empty!"));
    EXPECT_EQ(w->List3.ListCount(), 0);
    EXPECT_TRUE(cacheFiles(cache).isEmpty());
}
