// The Scan command on the main window with a card image made by mkfs.fat and
// mtools attached as a drive: the guards and the stop request, the cache
// choice with its refusals and the folder chooser, the resume, SmartScan and
// MediaScan questions answered both ways, Searched.dat, and whole scans that
// find the card's deleted pictures in the cache.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/strings.h"
#include "drive/ui/chooser.h"
#include "drive/ui/frmsearchdrives.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/scanengine.h"
#include "scan/scanstart.h"
#include "scan/signatures.h"
#include "tests/scan/scan_images.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>

using namespace testing_support;
using scan_images::cacheInternal;
using scan_images::compareFound;
using scan_images::CorpusFile;
using scan_images::Expect;

namespace {

const QString kChooserCaption = QStringLiteral("Please select a drive or folder for caching.");

// Answers the folder chooser whenever it stands open: OK (the folder it
// offers) or Cancel, in order; records the folders offered. A chooser that
// no answer was left for is cancelled and fails the test.
class ChooserScript {
public:
    ChooserScript()
    {
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    ~ChooserScript()
    {
        timer_.stop();
        EXPECT_TRUE(answers_.empty()) << answers_.size() << " chooser answer(s) left";
    }
    ChooserScript &ok()
    {
        answers_.push_back(true);
        return *this;
    }
    ChooserScript &cancel()
    {
        answers_.push_back(false);
        return *this;
    }
    QStringList offered;

private:
    void poll()
    {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (!top->isVisible() || top->windowTitle() != kChooserCaption)
                continue;
            offered << ChooserStartPath;
            const bool ok = !answers_.empty() && answers_.front();
            if (answers_.empty())
                ADD_FAILURE() << "unexpected folder chooser offering " << ChooserStartPath.toStdString();
            else
                answers_.pop_front();
            if (ok) {
                for (QPushButton *b : top->findChildren<QPushButton *>())
                    if (b->text().remove('&') == QLatin1String("OK")) {
                        b->click();
                        return;
                    }
                ADD_FAILURE() << "the chooser has no OK button";
            }
            top->close();
            return;
        }
    }
    QTimer timer_;
    std::deque<bool> answers_;
};

QByteArray picture(const QString &dir, const QString &name, const QStringList &args)
{
    return imageMagickPicture(dir, name, args);
}

// A card as a camera leaves it after two pictures were deleted: NOTES.TXT is
// still listed, PHOTO.JPG and PIC.PNG lie in free clusters. `files` stands
// for the card's mounted tree (what the file search lists).
struct Card {
    QString dir, image, files;
    QByteArray jpeg, png;
    bool ok() const { return !image.isEmpty() && !jpeg.isEmpty() && !png.isEmpty(); }
};

Card makeCard()
{
    Card c;
    c.dir = makeTempDir("scancard");
    c.jpeg = picture(c.dir, "photo.jpg", {"-size", "160x120", "-seed", "3", "plasma:fractal", "-quality", "85"});
    c.png = picture(c.dir, "pic.png", {"-size", "64x48", "-seed", "4", "plasma:fractal"});
    FatImageSpec spec;
    spec.fatBits = 12;
    spec.sizeKiB = 1440;
    spec.sectorsPerCluster = 4;
    spec.serial = QStringLiteral("1234ABCD");
    const QString image = makeFatImage(c.dir, "card.img", spec);
    if (image.isEmpty() || c.jpeg.isEmpty() || c.png.isEmpty())
        return c;
    if (!mcopyData(image, "/NOTES.TXT", "a note\r\n") || !mcopyData(image, "/PHOTO.JPG", c.jpeg)
        || !mcopyData(image, "/PIC.PNG", c.png) || !mdel(image, "/PHOTO.JPG") || !mdel(image, "/PIC.PNG"))
        return c;
    c.files = c.dir + "/tree";
    QDir().mkpath(c.files);
    // Names only: too small to be learned from.
    writeFileBytes(c.files + "/notes.txt", "a note\r\n");
    writeFileBytes(c.files + "/clip.cr2", "x");
    writeFileBytes(c.files + "/tone.wav", "x");
    writeFileBytes(c.files + "/clip.mp4", "x");
    c.image = image;
    return c;
}

const Card &card()
{
    static const Card c = makeCard();
    return c;
}

#define REQUIRE_CARD()                                                                                    \
    if (!card().ok())                                                                                     \
    GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing"

bool attachCard(QChar letter, int typeCode, const QString &files)
{
    plat::VirtualDriveOptions o;
    o.typeCode = typeCode;
    o.files = files;
    return plat::DriveTable::instance().attachImage(letter, card().image, o);
}

class ScanCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        ChooserStartPath.clear();
        ChosenPath.clear();
        UnloadSearchDrives();
        w = &CreateMainWindow();
        w->CmdEnd.setToolTipText("End");   // start-up has set the tool tips
        QFile::remove(searchedNative());
        QDir(searchedNative()).removeRecursively();
        w->FillTypeList();
    }
    void TearDown() override
    {
        DestroyMainWindow();
        UnloadSearchDrives();
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        plat::setScreenMousePointer(0);
    }

    QString searchedNative() const { return plat::toNative(plat::programFolder() + "ZTRecdt\\Searched.dat"); }

    // The card as E:, removable unless said otherwise, chosen as the source.
    void useCard(int typeCode = plat::DriveTypeRemovable)
    {
        ASSERT_TRUE(attachCard('E', typeCode, card().files));
        w->SourceName = "E:";
    }
    // A fresh cache root in a temporary folder on C:.
    QString useNewCache()
    {
        const QString dir = makeTempDir("scache");
        w->CacheRoot = cacheInternal(dir) + QStringLiteral("RIVozud\\");
        w->MakeDirNames();
        w->CreateCacheFolders();
        return plat::toNative(w->CacheRoot);
    }
    void tick(const QStringList &types)
    {
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (types.contains(w->LvwTypes.ItemText(i)))
                w->LvwTypes.setItemChecked(i, true);
    }
    bool ticked(const QString &type) const
    {
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            if (w->LvwTypes.ItemText(i) == type && w->LvwTypes.ItemChecked(i))
                return true;
        return false;
    }
    // The scan's end messages are recorded, not shown; with stopAtOnce the
    // scan stops before its first read.
    void hookScan(bool stopAtOnce)
    {
        w->AdjustScanCallbacks = [this, stopAtOnce](ScanCallbacks &cb) {
            ++scans;
            cb.message = [this](const QString &, const QString &text) { scanMessages << text; };
            if (stopAtOnce)
                cb.stopRequested = [] { return true; };
        };
    }
    void expectIdle() const
    {
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_FALSE(w->OperationBusy);
        EXPECT_FALSE(w->ListClickSuppressed);
        EXPECT_EQ(w->CmdScan.Caption(), "Scan");
        EXPECT_EQ(w->ActiveOperations, 0);
    }
    QList<CorpusFile> deletedPictures() const
    {
        return {{"PHOTO.JPG", ".jpg", card().jpeg, Expect::Identical}, {"PIC.PNG", ".png", card().png, Expect::Identical}};
    }

    frmRecover *w = nullptr;
    int scans = 0;
    QStringList scanMessages;
};

} // namespace

TEST_F(ScanCommand, ClicksWhileSavingFlushingOrBusyStartNothing)
{
    REQUIRE_CARD();
    useCard();
    useNewCache();
    tick({"JPG"});
    hookScan(true);
    const QString status = w->lblStatus.Caption();
    {
        MessageScript boxes;   // not one box
        w->CmdSaveAll.setCaption(GetString(334, "Saving"));
        w->CmdScan_Click();
        w->CmdSaveAll.setCaption("Save All");
        w->CmdScan.setCaption(GetString(337, "Flushing, wait..."));
        w->CmdScan_Click();
        EXPECT_EQ(w->CmdScan.Caption(), "Flushing, wait...");
        w->CmdScan.setCaption("Scan");
        w->CmdShowThumbs.setCaption("Rendering");   // the click stops the rendering instead
        w->CmdScan_Click();
        w->CmdShowThumbs.setCaption("Thumbs");
    }
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(w->lblStatus.Caption(), status);
    EXPECT_FALSE(QFile::exists(searchedNative()));
    EXPECT_FALSE(w->OperationRunning);

    // The second busy flag (a search, a save): only the busy notice.
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Still busy");
        w->OperationBusy = true;
        w->CmdScan_Click();
        EXPECT_TRUE(w->OperationBusy);
        w->OperationBusy = false;
    }
    // Another operation runs: it is asked to stop, and the notice says why.
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Still busy");
        w->OperationRunning = true;
        w->CmdScan_Click();
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_EQ(w->CmdScan.Caption(), "Stop");
    }
    // A click while the scan runs ("Stop") is the stop request and nothing else.
    {
        MessageScript boxes;
        w->OperationRunning = true;
        w->CmdScan_Click();
        EXPECT_FALSE(w->OperationRunning);
        EXPECT_EQ(w->CmdScan.Caption(), "Stop");
        w->CmdScan.setCaption("Scan");
    }
    // Before start-up has set the tool tips only the busy guard answers.
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Still busy");
        w->CmdEnd.setToolTipText("");
        w->CmdScan_Click();
    }
    EXPECT_EQ(scans, 0);
    EXPECT_FALSE(QFile::exists(searchedNative()));
}

TEST_F(ScanCommand, AWholeScanWithSmartScanFindsTheDeletedPicturesAndWritesSearchedDat)
{
    REQUIRE_CARD();
    useCard();
    const QString cache = useNewCache();
    tick({"JPG", "PNG"});
    hookScan(false);
    {
        MessageScript boxes;
        ChooserScript chooser;   // a single fixed drive: never shown
        boxes.expect(plat::id::Yes, "SmartScan recommanded:");
        boxes.expect(plat::id::Yes, "Possibly also present on E: CR2 MOV WAV");
        w->CmdScan_Click();
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].title, "Quilvane SmartScan E:");
        EXPECT_EQ(boxes.boxes()[0].style & 0xF, plat::mb::YesNoCancel);
        EXPECT_EQ(boxes.boxes()[1].title, "Quilvane  MediaScan");
        EXPECT_TRUE(boxes.boxes()[1].text.startsWith("File types selected for recovering: JPG PNG \r\n"))
            << boxes.boxes()[1].text.toStdString();
        EXPECT_TRUE(chooser.offered.isEmpty());
    }
    EXPECT_EQ(scans, 1);
    EXPECT_TRUE(w->SmartScanActive);
    EXPECT_TRUE(ticked("CR2"));
    EXPECT_TRUE(ticked("MOV"));   // clip.mp4
    EXPECT_TRUE(ticked("WAV"));

    // Searched.dat: the source text, then the serial mkfs.fat was given, lowest byte first.
    EXPECT_EQ(readFileBytes(searchedNative()), QByteArray("E:\xCD\xAB\x34\x12", 6));
    EXPECT_EQ(w->SourceDrive, "E:");
    EXPECT_EQ(uint32_t(w->SourceVolumeSerial), 0x1234ABCDu);
    QString source;
    uint32_t serial = 0;
    ASSERT_TRUE(ReadSearchedFile(w->SearchedFilePath(), 2, source, serial));
    EXPECT_EQ(serial, 0x1234ABCDu);

    // The free clusters held the two deleted pictures, byte for byte.
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished) << scanMessages.join(" | ").toStdString();
    EXPECT_EQ(compareFound(cache, w->FoundFiles, deletedPictures()), QStringList());
    EXPECT_EQ(w->List3.ListCount(), 2);
    EXPECT_EQ(w->ShownFolder, w->CacheRoot);
    EXPECT_EQ(w->ScanResumeUnit(), 0);
    EXPECT_TRUE(w->CacheRoot.startsWith(plat::toInternal(QDir(cache).absolutePath()).left(3)));
    expectIdle();
}

TEST_F(ScanCommand, NoToSmartScanAndMediaScanScansEveryUnitWithTheTypesAsTicked)
{
    REQUIRE_CARD();
    useCard();
    const QString cache = useNewCache();
    tick({"JPG", "PNG"});
    hookScan(false);
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        w->CmdScan_Click();
    }
    EXPECT_FALSE(w->SmartScanActive);
    EXPECT_FALSE(ticked("CR2"));
    EXPECT_FALSE(ticked("WAV"));
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(compareFound(cache, w->FoundFiles, deletedPictures()), QStringList());
    EXPECT_EQ(readFileBytes(searchedNative()), QByteArray("E:\xCD\xAB\x34\x12", 6));
    expectIdle();
}

TEST_F(ScanCommand, CancelInTheSmartScanOrMediaScanBoxAbandonsTheStart)
{
    REQUIRE_CARD();
    useCard();
    useNewCache();
    tick({"JPG"});
    hookScan(true);
    {
        MessageScript boxes;
        boxes.expect(plat::id::Cancel, "SmartScan");
        w->CmdScan_Click();
    }
    EXPECT_EQ(scans, 0);
    EXPECT_FALSE(QFile::exists(searchedNative()));
    expectIdle();
    {
        MessageScript boxes;
        boxes.expect(plat::id::Yes, "SmartScan");
        boxes.expect(plat::id::Cancel, "Possibly also present");
        w->CmdScan_Click();
    }
    EXPECT_EQ(scans, 0);
    EXPECT_FALSE(ticked("CR2"));
    EXPECT_FALSE(QFile::exists(searchedNative()));
    EXPECT_EQ(plat::screenMousePointer(), 0);
    EXPECT_FALSE(SearchDrivesLoaded());
    expectIdle();
}

TEST_F(ScanCommand, AStoppedScanIsResumedWhenAnsweredYes)
{
    REQUIRE_CARD();
    useCard();
    const QString cache = useNewCache();
    tick({"JPG", "PNG"});
    // The first found file: the user presses the button again.
    bool pressed = false;
    w->AdjustScanCallbacks = [this, &pressed](ScanCallbacks &cb) {
        ++scans;
        cb.message = [this](const QString &, const QString &text) { scanMessages << text; };
        // The second press asks nothing: the outer script would see a box.
        scan_images::pressAtFirstFoundFile(cb, pressed, [this] { w->CmdScan_Click(); });
    };
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        w->CmdScan_Click();
    }
    ASSERT_TRUE(pressed);
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Stopped);
    ASSERT_GT(w->ScanResumeUnit(), 0);
    EXPECT_EQ(w->LastScanSource, "E:");
    expectIdle();
    const int listed = w->List3.ListCount();
    EXPECT_GE(listed, 1);

    // Yes: no free-space, SmartScan or MediaScan question; the list goes on.
    {
        MessageScript boxes;
        boxes.expect(plat::id::Yes, "The last scan of disk E: was interrupted.");
        w->CmdScan_Click();
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].title, "Quilvane  Scan");
    }
    EXPECT_EQ(scans, 2);
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(compareFound(cache, w->FoundFiles, deletedPictures()), QStringList());
    EXPECT_EQ(w->List3.ListCount(), 2);
    EXPECT_EQ(w->ScanResumeUnit(), 0);
    expectIdle();
}

TEST_F(ScanCommand, NoToTheResumeAndToTheNewScanKeepsTheOffer)
{
    REQUIRE_CARD();
    useCard();
    const QString cache = useNewCache();
    tick({"JPG", "PNG"});
    bool pressed = false;
    w->AdjustScanCallbacks = [this, &pressed](ScanCallbacks &cb) {
        ++scans;
        cb.message = [this](const QString &, const QString &text) { scanMessages << text; };
        // The second press asks nothing: the outer script would see a box.
        scan_images::pressAtFirstFoundFile(cb, pressed, [this] { w->CmdScan_Click(); });
    };
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        w->CmdScan_Click();
    }
    const int64_t unit = w->ScanResumeUnit();
    ASSERT_GT(unit, 0);
    const QStringList found = w->FoundFiles.FoundFileNames;

    // No, and No to deleting the cached files: nothing starts, the offer stays.
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "was interrupted");
        boxes.expect(plat::id::No, "A new scan will delete all unsaved cached files");
        w->CmdScan_Click();
    }
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(w->ScanResumeUnit(), unit);
    EXPECT_EQ(w->FoundFiles.FoundFileNames, found);
    expectIdle();

    // No, then Yes: a new scan from the first unit, with the offers again.
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "was interrupted");
        boxes.expect(plat::id::Yes, "A new scan will delete");
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        w->CmdScan_Click();
    }
    EXPECT_EQ(scans, 2);
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(compareFound(cache, w->FoundFiles, deletedPictures()), QStringList());
    expectIdle();
}

TEST_F(ScanCommand, WithOneFixedDriveARefusedCacheShowsTheChooserAndCancelEnds)
{
    REQUIRE_CARD();
    useCard();
    // The cache root lies on a USB stick.
    const QString stick = makeTempDir("stick");
    ASSERT_TRUE(plat::DriveTable::instance().attachFolder('F', stick, plat::DriveTypeRemovable));
    w->CacheRoot = "F:\\RIVozud\\";
    w->MakeDirNames();
    ASSERT_EQ(w->CacheRoot, "F:\\RIVozud\\");
    tick({"JPG"});
    hookScan(true);
    {
        MessageScript boxes;
        ChooserScript chooser;
        boxes.expect(plat::id::OK, "Cannot use disk F: for saving.\r\nPlease select another drive.");
        chooser.cancel();
        w->CmdScan_Click();
        ASSERT_EQ(chooser.offered.size(), 1);
        // The chooser offers a root the refusals accept: not the stick again.
        EXPECT_TRUE(chooser.offered[0].startsWith("C:\\")) << chooser.offered[0].toStdString();
        EXPECT_EQ(boxes.boxes()[0].title, "Quilvane  Backup");
        EXPECT_EQ(boxes.boxes()[0].style & 0xF0, plat::mb::IconExclamation);
    }
    EXPECT_EQ(w->CacheRoot, "F:\\RIVozud\\");
    EXPECT_EQ(scans, 0);
    EXPECT_FALSE(QFile::exists(searchedNative()));
    expectIdle();

    // OK takes the folder offered, and the scan goes on.
    {
        MessageScript boxes;
        ChooserScript chooser;
        boxes.expect(plat::id::OK, "Cannot use disk F:");
        chooser.ok();
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        w->CmdScan_Click();
        ASSERT_EQ(chooser.offered.size(), 1);
    }
    EXPECT_EQ(scans, 1);
    EXPECT_TRUE(w->CacheRoot.startsWith("C:\\")) << w->CacheRoot.toStdString();
    EXPECT_TRUE(w->CacheRoot.endsWith("\\RIVozud\\"));
    EXPECT_EQ(w->PrevCacheRoot, "F:\\RIVozud\\");   // the root left behind
    EXPECT_EQ(readFileBytes(searchedNative()), QByteArray("E:\xCD\xAB\x34\x12", 6));
    expectIdle();
}

TEST_F(ScanCommand, ACacheOnTheSourcesDiskIsRefusedUnderAnotherLetter)
{
    REQUIRE_CARD();
    useCard();
    // G: is the same card under another letter (a drive of unknown type).
    const QString tree = makeTempDir("gtree");
    ASSERT_TRUE(QDir(tree).mkpath("RIVozud"));
    ASSERT_TRUE(attachCard('G', plat::DriveTypeUnknown, tree));
    ASSERT_TRUE(plat::sameDisk('E', 'G'));
    w->CacheRoot = "G:\\RIVozud\\";
    w->MakeDirNames();
    ASSERT_EQ(w->CacheRoot, "G:\\RIVozud\\");
    tick({"JPG"});
    hookScan(true);
    {
        MessageScript boxes;
        ChooserScript chooser;
        boxes.expect(plat::id::OK, "Cannot use the same disk for saving.\r\nPlease select another drive.");
        chooser.cancel();
        w->CmdScan_Click();
        EXPECT_EQ(boxes.boxes()[0].title, "Quilvane  Backup");
        ASSERT_EQ(chooser.offered.size(), 1);
        EXPECT_FALSE(chooser.offered[0].startsWith("G:")) << chooser.offered[0].toStdString();
    }
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(w->CacheRoot, "G:\\RIVozud\\");
    EXPECT_FALSE(QFile::exists(searchedNative()));
    expectIdle();
}

TEST_F(ScanCommand, AFixedSourceIsRefusedAsItsOwnCacheAlsoInTheStagedRecovery)
{
    REQUIRE_CARD();
    useCard(plat::DriveTypeFixed);
    const QString mounted = makeTempDir("etree");
    plat::DriveTable::instance().detach('E');
    ASSERT_TRUE(attachCard('E', plat::DriveTypeFixed, mounted));
    ASSERT_TRUE(QDir(mounted).mkpath("RIVozud"));
    w->CacheRoot = "E:\\RIVozud\\";
    w->MakeDirNames();
    ASSERT_EQ(w->CacheRoot, "E:\\RIVozud\\");
    w->RecoveryStage = 1;   // the staged recovery skips the chooser
    tick({"JPG"});
    hookScan(true);
    {
        MessageScript boxes;
        ChooserScript chooser;
        boxes.expect(plat::id::OK, "Cannot use the same disk for saving.");
        chooser.cancel();
        w->CmdScan_Click();
        EXPECT_EQ(chooser.offered.size(), 1);
    }
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(w->CacheRoot, "E:\\RIVozud\\");
    EXPECT_FALSE(QFile::exists(searchedNative()));
    expectIdle();
}

TEST_F(ScanCommand, WithoutTickedTypesTheTypeListIsShown)
{
    REQUIRE_CARD();
    useCard();
    useNewCache();
    hookScan(true);
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        boxes.expect(plat::id::OK, "Please first check some types on the search list to scan for.");
        w->CmdScan_Click();
        EXPECT_EQ(boxes.boxes().back().title, "DO Vizorira");
    }
    EXPECT_EQ(scans, 0);
    EXPECT_TRUE(w->LvwTypes.Visible());
    EXPECT_FALSE(QFile::exists(searchedNative()));
    EXPECT_FALSE(w->OperationRunning);
    EXPECT_EQ(w->CmdScan.Caption(), "Scan");
}

TEST_F(ScanCommand, NoScanBeginsWhenSearchedDatCannotBeWritten)
{
    REQUIRE_CARD();
    useCard();
    useNewCache();
    tick({"JPG"});
    hookScan(true);
    ASSERT_TRUE(QDir().mkpath(searchedNative()));   // a folder where the file belongs
    {
        MessageScript boxes;
        boxes.expect(plat::id::No, "SmartScan");
        boxes.expect(plat::id::No, "Possibly also present");
        boxes.expect(plat::id::OK, "Searched.dat");
        w->CmdScan_Click();
    }
    QDir(searchedNative()).removeRecursively();
    EXPECT_EQ(scans, 0);
    EXPECT_NE(w->SourceDrive, "E:");   // saving still knows no source to refuse
    expectIdle();
}
