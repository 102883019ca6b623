// The source drive as the commands find it: a drive that cannot be read is
// said so and never stands in for another, a source the program may not read
// gets the advice on restricted rights, and a drive change leaves nothing of
// the previous drive's status behind.
#include "tests/app/startup_fixture.h"

#include "drive/driveinfo.h"
#include "drive/registry.h"
#include "scan/scanengine.h"
#include "tests/support/responder.h"

using namespace app_tests;
using testing_support::MessageScript;

namespace {

class SourceMedium : public FreshHome {
protected:
    void SetUp() override
    {
        FreshHome::SetUp();
        DeleteSetting("VIDAVE", "Startup", "VShown");
        images = testing_support::makeTempDir(QStringLiteral("sources"));
        w->CmdEnd.setToolTipText("End");   // start-up has set the tool tips
        w->FillTypeList();
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            w->LvwTypes.setItemChecked(i, w->LvwTypes.ItemText(i) == QLatin1String("JPG"));
        w->CacheRoot = plat::toInternal(testing_support::makeTempDir("cache") + "/RIVozud/");
        w->MakeDirNames();
        w->CreateCacheFolders();
        w->AdjustScanCallbacks = [this](ScanCallbacks &) { ++scans; };
        // The wait for a drive to become ready passes at once.
        plat::setClockHook([this] { return now += 1000; });
    }
    void TearDown() override
    {
        DeleteSetting("VIDAVE", "Startup", "VShown");
        FreshHome::TearDown();
    }

    QString card(QChar letter)
    {
        testing_support::FatImageSpec spec;
        spec.serial = QStringLiteral("C0DE000") + letter;
        spec.label = QStringLiteral("CARD") + letter;
        return testing_support::makeFatImage(images, QString(letter) + ".img", spec);
    }
    void attach(QChar letter, const QString &image)
    {
        plat::VirtualDriveOptions opts;
        opts.typeCode = plat::DriveTypeRemovable;
        ASSERT_TRUE(plat::DriveTable::instance().attachImage(letter, image, opts));
    }
    void arrange()
    {
        w->DriveChangeQuiet = true;
        w->Drive1.Refresh();
        w->DriveChangeQuiet = false;
    }
    QString shown() const { return w->Drive1.Drive().left(2); }

    QString images;
    qint64 now = 0;
    int scans = 0;
};

} // namespace

TEST_F(SourceMedium, ADriveThatCannotBeReadIsSaidSoAndNoCommandActsOnAnother)
{
    const QString good = card('E');
    ASSERT_FALSE(good.isEmpty());
    attach('E', good);
    ASSERT_TRUE(testing_support::writeFileBytes(images + "/empty.img", QByteArray()));
    attach('F', images + "/missing.img");
    attach('G', images + "/empty.img");
    attach('H', testing_support::makeTempDir("folder"));
    arrange();
    {
        MessageScript none;
        w->Drive1.setDrive("e:");
    }
    ASSERT_EQ(w->SourceName, "e:");
    for (const char *bad : {"f:", "g:", "h:"}) {
        SCOPED_TRACE(bad);
        MessageScript script;
        script.expect(plat::id::OK, QStringLiteral("Drive %1 not ready.\r\nPlease insert disk or suitable medium.")
                                        .arg(QChar(bad[0]).toUpper()));
        w->Drive1.setDrive(bad);
        EXPECT_EQ(shown(), "e:") << "the box goes back to the drive the Specifications show";
        EXPECT_EQ(w->SourceName, "e:");
        EXPECT_TRUE(w->lblSpecs.Caption().contains("Drive E:\\ Type: Removable"));
        EXPECT_TRUE(w->lblSpecs.Caption().contains("Serial Number: &&HC0DE000E"));
    }

    // The card of the shown drive is gone: Scan and Quick Undelete say so,
    // and read no other drive in its place.
    ASSERT_TRUE(QFile::rename(good, good + ".away"));
    {
        MessageScript script;
        script.expect(plat::id::OK, "Drive E not ready.");
        w->CmdQuickUndelete_Click();
        script.expect(plat::id::OK, "Drive E not ready.");
        w->CmdScan_Click();
    }
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(w->DeletedEntriesUpperBound(), 0);
    EXPECT_FALSE(w->List2.Visible());
    EXPECT_NE(DriveInfo().DriveLetter, QChar('C'));
    EXPECT_FALSE(QFile::exists(plat::toNative(w->SearchedFilePath())));
    EXPECT_FALSE(w->OperationRunning);
}

TEST_F(SourceMedium, ASourceWithoutReadRightsGetsTheAdviceFromScanAndQuickUndelete)
{
    const QString image = card('E');
    ASSERT_FALSE(image.isEmpty());
    attach('E', image);
    arrange();
    testing_support::NoReadRights locked(image);
    if (!locked.active())
        GTEST_SKIP() << "the file's mode cannot keep this process from reading it";
    {
        MessageScript none;
        w->Drive1.setDrive("e:");
    }
    EXPECT_TRUE(w->lblSpecs.Caption().contains("No right to read E:")) << w->lblSpecs.Caption().toStdString();

    const auto noPlainFailure = [](const MessageScript &s) {
        for (const plat::MessageRequest &r : s.boxes()) {
            EXPECT_FALSE(r.text.contains("Cannot read the disk.")) << r.text.toStdString();
            EXPECT_FALSE(r.text.contains("Try scanning the drive.")) << r.text.toStdString();
        }
    };
    {
        // The advice itself first; answered No, it is not offered again...
        MessageScript script;
        script.expect(plat::id::No, "join the group 'disk'");
        w->CmdQuickUndelete_Click();
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].title, "Vista Compatibility");
        noPlainFailure(script);
    }
    {
        // ... but the command still says how the right is given.
        MessageScript script;
        script.expect(plat::id::OK, "Cannot open E: for reading: the program lacks the right to read the device.");
        w->CmdScan_Click();
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_TRUE(script.boxes()[0].text.contains("udev rule"));
        noPlainFailure(script);
    }
    EXPECT_EQ(scans, 0);
    EXPECT_FALSE(w->List2.Visible());
    EXPECT_EQ(exits, 0);
}

TEST_F(SourceMedium, ChoosingADriveClearsThePreviousDrivesStatusAndBar)
{
    attach('E', card('E'));
    attach('F', card('F'));
    arrange();
    MessageScript none;
    w->Drive1.setDrive("e:");
    w->ShowProgressPanel("Finished: 12 seconds. Average: 3.5 MB/sec", 100);
    w->ProgressBar1.setValue(100);
    w->Drive1.setDrive("f:");
    EXPECT_EQ(w->lblStatus.Caption(), "Status");
    EXPECT_EQ(w->ProgressBar1.Value(), w->ProgressBar1.Min());
    EXPECT_TRUE(w->lblSpecs.Caption().contains("Serial Number: &&HC0DE000F"));
}
