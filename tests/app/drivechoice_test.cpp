// The drive the program recovers from: the refresh that prefers a ready
// removable medium, the start-up choice by the found-file list's source and
// serial, and the drive change with its wait, notice and fall-back.
#include "tests/app/startup_fixture.h"

#include "drive/driveinfo.h"
#include "tests/support/responder.h"

using namespace app_tests;
using testing_support::detachDrive;
using testing_support::MessageScript;

namespace {

class DriveChoice : public FreshHome {
protected:
    void SetUp() override
    {
        FreshHome::SetUp();
        images = testing_support::makeTempDir(QStringLiteral("drives"));
    }

    // A FAT card with its serial, attached as the letter.
    void attach(QChar letter, int typeCode, const QString &serial = QStringLiteral("1234ABCD"))
    {
        testing_support::FatImageSpec spec;
        spec.serial = serial;
        spec.label = QStringLiteral("CARD") + letter;
        const QString image = testing_support::makeFatImage(images, QString(letter) + ".img", spec);
        ASSERT_FALSE(image.isEmpty());
        plat::VirtualDriveOptions opts;
        opts.typeCode = typeCode;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage(letter, image, opts));
    }
    void present(QChar letter, bool on) { plat::DriveTable::instance().setMediumPresent(letter, on); }
    QString chosen() const { return w->Drive1.Drive().left(2); }
    // Drive changes by the lists themselves are not wanted while arranging.
    void quietRefresh()
    {
        w->DriveChangeQuiet = true;
        w->Drive1.Refresh();
        w->DriveChangeQuiet = false;
    }

    QString images;
};

} // namespace

TEST_F(DriveChoice, RefreshPrefersTheLastReadyRemovableDrive)
{
    attach('E', plat::DriveTypeRemovable);
    attach('F', plat::DriveTypeRemovable);
    DriveInfo().DriveType = QStringLiteral("Fixed");
    w->DriveChangeQuiet = true;
    w->RefreshDriveList();
    EXPECT_EQ(chosen(), "f:");
    EXPECT_EQ(w->SourceName, "f:");
    EXPECT_EQ(DriveInfo().DriveType, "Fixed") << "the record keeps the current drive's type";

    // Only fixed drives: the first entry, and the source left as it was.
    detachDrive('E');
    detachDrive('F');
    attach('D', plat::DriveTypeFixed);
    w->SourceName = QStringLiteral("x:");
    w->RefreshDriveList();
    EXPECT_EQ(chosen(), "c:");
    EXPECT_EQ(w->SourceName, "x:");

    // The last source as a ready CD-ROM loses to a ready removable drive.
    detachDrive('D');
    attach('D', plat::DriveTypeCdRom);
    attach('E', plat::DriveTypeRemovable);
    w->SourceDrive = QStringLiteral("D:");
    w->RefreshDriveList();
    EXPECT_EQ(chosen(), "e:");
    present('E', false);
    w->RefreshDriveList();
    EXPECT_EQ(chosen(), "d:");
    present('D', false);
    w->RefreshDriveList();
    EXPECT_EQ(chosen(), "c:") << "a drive that is not ready is never chosen";
}

TEST_F(DriveChoice, StartUpChoosesTheRecordedCardBySerialOrByRefresh)
{
    // The card of the found files sits now in another slot (g:); h: is a
    // ready card of higher letter that the refresh alone would choose.
    attach('G', plat::DriveTypeRemovable, QStringLiteral("DEADBEEF"));
    attach('H', plat::DriveTypeRemovable);
    quietRefresh();
    w->CacheRoot = plat::toInternal(testing_support::makeTempDir("cache") + "/");
    ASSERT_TRUE(testing_support::writeFileBytes(plat::toNative(w->CacheRoot) + "/R#0001.jpg", "x"));
    w->LastScanSource = QStringLiteral("e:");
    w->LastScanSerial = int32_t(0xDEADBEEFu);
    {
        MessageScript none;
        w->ChooseStartDrive();
    }
    EXPECT_EQ(chosen(), "g:");
    EXPECT_EQ(w->SourceName, "g:");
    EXPECT_EQ(w->RememberedDrive, "g:") << "the drive change ran for it";
    EXPECT_EQ(w->CmdBackup.Caption(), "Backup g:\\");

    // The recorded drive is present: it stays, unless the cache is empty,
    // which always runs the refresh.
    w->LastScanSource = QStringLiteral("g:");
    w->LastScanSerial = 0;
    w->ChooseStartDrive();
    EXPECT_EQ(chosen(), "g:");
    QFile::remove(plat::toNative(w->CacheRoot) + "/R#0001.jpg");
    w->ChooseStartDrive();
    EXPECT_EQ(chosen(), "h:");
}

TEST_F(DriveChoice, ANotReadyDriveFallsBackToTheDriveUsedBefore)
{
    attach('E', plat::DriveTypeRemovable);
    quietRefresh();
    qint64 now = 0;
    plat::setClockHook([&] { return now += 250; });

    // The first run settles on c:, a fixed disk.
    w->Drive1_Change();
    EXPECT_EQ(w->RememberedDrive, "c:");
    EXPECT_EQ(w->CmdBackup.Caption(), "Backup");
    EXPECT_FALSE(w->CmdBackup.Enabled());

    // An empty reader slot: one notice after 5 seconds, back to c:.
    present('E', false);
    {
        MessageScript script;
        script.expect(plat::id::OK);
        w->Drive1.setDrive("e:");
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].text, "Drive E not ready.\r\nPlease insert disk or suitable medium.");
        EXPECT_EQ(script.boxes()[0].title, "Select drive");
        EXPECT_EQ(script.boxes()[0].timeoutMs, 4000);
    }
    EXPECT_GE(now, 5000);
    EXPECT_EQ(chosen(), "c:");
    EXPECT_EQ(w->RememberedDrive, "c:");
    EXPECT_EQ(w->MousePointer(), 0);
    EXPECT_TRUE(w->CmdScan.Enabled());

    // The card inserted: the Backup button names it, Quick Undelete is on.
    present('E', true);
    {
        MessageScript none;
        w->Drive1.setDrive("e:");
    }
    EXPECT_EQ(w->RememberedDrive, "e:");
    EXPECT_EQ(w->CmdBackup.Caption(), "Backup e:\\");
    EXPECT_TRUE(w->CmdBackup.Enabled());
    EXPECT_TRUE(w->CmdQuickUndelete.Enabled());
    EXPECT_EQ(w->CmdShowThumbs.Caption(), "FileList Scan") << "a change after the first run refreshes the views";

    // A reader whose medium comes and goes with every look: the handler
    // nests once at most and ends with the pointer restored.
    int boxes = 0;
    plat::setMessageResponder([&](const plat::MessageRequest &) {
        ++boxes;
        return plat::id::OK;
    });
    bool on = false;
    plat::setClockHook([&] {
        on = !on;
        present('E', on);
        return now += 1000;
    });
    present('E', false);
    w->Drive1.setDrive("c:");
    w->Drive1.setDrive("e:");
    plat::setMessageResponder({});
    EXPECT_LE(boxes, 2);
    EXPECT_EQ(w->DriveChangeDepth, 0);
    EXPECT_EQ(w->MousePointer(), 0);
}
