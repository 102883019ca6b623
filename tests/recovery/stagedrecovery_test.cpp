// The staged recovery of damaged media: the chain across simulated kills
// with a fake store and stubbed stages (the markers stay true at every kill,
// the next start goes on with the next stage, the chain ends with both
// markers "0"), and on the main window the real stages 2 and 3 on a card:
// the backwards copy into backuptemp.dat, its scan, and the file kept when
// that scan did not end normally.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/registry.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "recovery/stagedrecovery.h"
#include "scan/foundagain.h"
#include "scan/scanengine.h"
#include "tests/recovery/media_fixtures.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace media_test;

namespace {

// The program killed while a stage reads the medium.
struct Killed {};

struct ChainRun {
    explicit ChainRun(QMap<QString, QString> &s) : store(s) {}
    QMap<QString, QString> &store;
    QStringList events;          // what happened, in order
    QList<int> answers;          // for the boxes, in order (OK when none left)
    double sourceMB = 1000;
    bool roomForStage2 = true;
    int connectedAfter = 0;      // the medium is connected after this many checks
    std::function<void(const QString &stage)> stage;   // runs inside a stage

    void go()
    {
        StagedRecoveryHooks h;
        h.marker = [this](const QString &k) { return store.value(k, "0"); };
        h.setMarker = [this](const QString &k, const QString &v) {
            store[k] = v;
            events << k + "=" + v;
        };
        h.ask = [this](const QString &text, int, const QString &) {
            events << "ask:" + text.left(12);
            return answers.isEmpty() ? int(plat::id::OK) : answers.takeFirst();
        };
        h.notice = [this](const QString &text, const QString &) { events << "notice:" + text; };
        h.sameMedium = [this] { return connectedAfter-- <= 0; };
        h.sourceTotalMB = [this] { return sourceMB; };
        h.prepareStage2Folder = [this] { return roomForStage2; };
        h.stageChanged = [this](int s) { events << QString("stage %1").arg(s); };
        auto run = [this](const QString &name) {
            events << "run:" + name;
            if (stage)
                stage(name);
        };
        h.runStage1 = [run] { run("1"); };
        h.runStage2 = [run] { run("2"); };
        h.runFinalStage = [run] { run("final"); };
        RunStagedRecovery(h);
    }
};

bool ran(const QStringList &events, const QString &stage) { return events.contains("run:" + stage); }

} // namespace

TEST(StagedRecovery, TheMarkersDecideWhatRuns)
{
    // No interrupted scan: nothing is shown.
    {
        QMap<QString, QString> store{{"LastCluster", "0"}, {"LastStage", "2"}};
        ChainRun r{store};
        r.go();
        EXPECT_TRUE(r.events.isEmpty());
    }
    // A large card: the questions, stage 1 skipped, stage 2, the final stage.
    {
        QMap<QString, QString> store{{"LastCluster", "33"}, {"LastStage", "0"}};
        ChainRun r{store};
        r.answers = {plat::id::Yes};
        r.sourceMB = 16000;
        r.go();
        EXPECT_FALSE(ran(r.events, "1"));
        EXPECT_EQ(r.events.filter("LastStage=").mid(0, 2), QStringList({"LastStage=1", "LastStage=2"}));
        EXPECT_TRUE(ran(r.events, "2"));
        EXPECT_TRUE(ran(r.events, "final"));
        EXPECT_TRUE(r.events.contains("notice:Finished."));
        EXPECT_EQ(store, (QMap<QString, QString>{{"LastCluster", "0"}, {"LastStage", "0"}}));
    }
    // Stage 2 reached before: only the final stage, then "Finished." and both markers "0".
    {
        QMap<QString, QString> store{{"LastCluster", "33"}, {"LastStage", "2"}};
        ChainRun r{store};
        r.go();
        EXPECT_EQ(r.events.filter("run:"), QStringList({"run:final"}));
        EXPECT_FALSE(r.events.join('|').contains("ask:Quilvane was"));
        EXPECT_EQ(store, (QMap<QString, QString>{{"LastCluster", "0"}, {"LastStage", "0"}}));
    }
    // A stage-1 scan that ends normally clears LastCluster: the chain ends there.
    {
        QMap<QString, QString> store{{"LastCluster", "33"}, {"LastStage", "0"}};
        ChainRun r{store};
        r.answers = {plat::id::Yes};
        r.stage = [&](const QString &) { store["LastCluster"] = "0"; };
        r.go();
        EXPECT_EQ(r.events.filter("run:"), QStringList({"run:1"}));
        EXPECT_TRUE(r.events.contains("notice:Finished."));
    }
}

TEST(StagedRecovery, EveryRefusalEndsTheChainWithBothMarkersCleared)
{
    struct Case {
        const char *name;
        QList<int> answers;
        bool room = true;
        int connectedAfter = 0;
    };
    const QList<Case> cases{
        {"No to the first question", {plat::id::No}},
        {"no room for stage 2", {}, false},
        {"Cancel while the card is missing", {plat::id::Yes, plat::id::Cancel}, true, 1},
        {"Cancel at stage 1", {plat::id::Yes, plat::id::Cancel}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QMap<QString, QString> store{{"LastCluster", "33"}, {"LastStage", "0"}};
        ChainRun r{store};
        r.answers = c.answers;
        r.roomForStage2 = c.room;
        r.connectedAfter = c.connectedAfter;
        r.go();
        EXPECT_TRUE(r.events.filter("run:").isEmpty());
        EXPECT_FALSE(r.events.contains("notice:Finished."));
        EXPECT_EQ(store, (QMap<QString, QString>{{"LastCluster", "0"}, {"LastStage", "0"}}));
    }
    // The card put back after the reminder: the chain goes on.
    QMap<QString, QString> store{{"LastCluster", "33"}, {"LastStage", "0"}};
    ChainRun r{store};
    r.answers = {plat::id::Yes, plat::id::OK};
    r.connectedAfter = 1;
    r.stage = [&](const QString &) { store["LastCluster"] = "0"; };
    r.go();
    EXPECT_TRUE(r.events.join('|').contains("ask:Please conne"));
    EXPECT_TRUE(ran(r.events, "1"));
}

TEST(StagedRecovery, KillsInEveryStageResumeWithTheNextOneAtTheNextStart)
{
    QMap<QString, QString> store{{"LastCluster", "33"}, {"LastStage", "0"}};
    auto killIn = [&](const QString &which) {
        return [which](const QString &stage) {
            if (stage == which)
                throw Killed{};
        };
    };
    // Start 1: the questions, stage 1, killed while it reads.
    {
        ChainRun r{store};
        r.answers = {plat::id::Yes};
        r.stage = killIn("1");
        EXPECT_THROW(r.go(), Killed);
        EXPECT_EQ(store, (QMap<QString, QString>{{"LastCluster", "33"}, {"LastStage", "1"}}));
    }
    // Start 2: no first question; stage 2, killed too.
    {
        ChainRun r{store};
        r.stage = killIn("2");
        EXPECT_THROW(r.go(), Killed);
        EXPECT_FALSE(r.events.join('|').contains("ask:Quilvane was"));
        EXPECT_FALSE(ran(r.events, "1"));
        EXPECT_TRUE(ran(r.events, "2"));
        EXPECT_EQ(store, (QMap<QString, QString>{{"LastCluster", "33"}, {"LastStage", "2"}}));
    }
    // Start 3: the final stage, and the end.
    {
        ChainRun r{store};
        r.go();
        EXPECT_EQ(r.events.filter("run:"), QStringList({"run:final"}));
        EXPECT_TRUE(r.events.contains("notice:Finished."));
        EXPECT_EQ(store, (QMap<QString, QString>{{"LastCluster", "0"}, {"LastStage", "0"}}));
    }
    // Start 4: nothing more.
    ChainRun r{store};
    r.go();
    EXPECT_TRUE(r.events.isEmpty());
}

namespace {

const Card &card() { return sharedCard(); }

class StagedWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMsgBoxPlainMode(false);
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
        if (!card().ok())
            GTEST_SKIP() << "mkfs.fat, mtools or ImageMagick missing";
        ASSERT_TRUE(attachCard('E', card().image));
        start();
    }
    void TearDown() override
    {
        DestroyMainWindow();
        SaveSetting("Zentarix", "Quilvane", "LastCluster", "0");
        SaveSetting("Zentarix", "Quilvane", "LastStage", "0");
        plat::DriveTable::instance().resetVirtual();
        plat::DriveTable::instance().setExclusive(true);
    }
    // The program (re)started on the card, as after an interrupted scan of it.
    void start()
    {
        w = &CreateMainWindow();
        w->CmdEnd.setToolTipText("End");
        w->SourceName = "E:";
        w->SourceDrive = "E:";
        w->SourceVolumeSerial = int32_t(0x1234ABCD);
        GetDriveInfo("E:");
        w->CacheRoot = plat::toInternal(makeTempDir("scache")) + "\\RIVozud\\";
        w->MakeDirNames();
        w->CreateCacheFolders();
        w->FillTypeList();
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            w->LvwTypes.setItemChecked(i, w->LvwTypes.ItemText(i) == "JPG" || w->LvwTypes.ItemText(i) == "PNG");
    }
    void markers(const QString &cluster, const QString &stage)
    {
        SaveSetting("Zentarix", "Quilvane", "LastCluster", cluster);
        SaveSetting("Zentarix", "Quilvane", "LastStage", stage);
    }
    QString marker(const QString &key) { return GetSetting("Zentarix", "Quilvane", key); }

    frmRecover *w = nullptr;
};

} // namespace

TEST_F(StagedWindow, StagesTwoAndThreeCopyTheCardBackwardsScanTheCopyAndDeleteIt)
{
    // Killed in stage 1 before: this start goes on with stage 2.
    markers("33", "1");
    const QString folder = makeTempDir("stagefolder");
    w->BackupFolder = plat::toInternal(folder) + "\\";
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Stage 2:  Saving remaining sectors until probably again terminated by Windows....");
        boxes.expect(plat::id::OK, "Final stage:");
        boxes.expect(plat::id::OK, "Finished.");
        w->ResumeDamagedMediaRecovery();
    }
    // The copy was made and scanned: both pictures are in the cache, the copy is gone.
    const auto found = folderFiles(plat::toNative(w->CacheRoot));
    ASSERT_EQ(found.size(), 2);
    EXPECT_TRUE(found[0].second == card().jpeg);
    EXPECT_TRUE(found[1].second == card().png);
    EXPECT_FALSE(QFile::exists(folder + "/backuptemp.dat"));
    EXPECT_EQ(marker("LastCluster"), "0");
    EXPECT_EQ(marker("LastStage"), "0");
    EXPECT_EQ(w->RecoveryStage, 0);
    EXPECT_EQ(w->SourceName, "E:");
    // Where the copy lay was kept for the next start before stage 2 began.
    EXPECT_EQ(RegGetValue(w->RegistryHive, frmRecover::ProgramKey, "BUD").toString(), w->BackupFolder);
}

TEST_F(StagedWindow, StageOneGoesOnWithWhatTheKilledScanCachedAndGivesEachFileOnce)
{
    // The killed scan's files, finished at this start: the photo whole, the
    // picture it was cutting cut short and marked.
    markers("33", "0");
    const QString cache = plat::toNative(w->CacheRoot);
    ASSERT_TRUE(writeFileBytes(cache + "/R#0000.jpg", card().jpeg));
    ASSERT_TRUE(writeFileBytes(cache + "/R#0001.png", card().png.left(card().png.size() / 2)));
    w->ShownFolder = w->CacheRoot;
    w->RefillFoundFileList();
    ASSERT_EQ(w->List3.ListCount(), 2);
    w->List3.setList(1, DamagedFileDisplayLine(1, "PNG File"));
    w->SaveScanList();
    w->BackupFolder = plat::toInternal(makeTempDir("stagegoon")) + "\\";
    {
        MessageScript boxes;
        boxes.expect(plat::id::Yes, "Quilvane was unexpectedly terminated by Windows");
        boxes.expect(plat::id::OK, "Stage 1:");
        boxes.expect(plat::id::OK, "Finished.");
        w->ResumeDamagedMediaRecovery();
    }
    // Found again, both: the photo dropped, the picture's whole bytes in the
    // place (and under the name) of the part the killed scan had, its line
    // no longer marked.
    EXPECT_EQ(w->LastScanResult.filesFoundAgain, 2);
    const auto found = folderFiles(cache);
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].first, "R#0000.jpg");
    EXPECT_TRUE(found[0].second == card().jpeg);
    EXPECT_EQ(found[1].first, "R#0001.png");
    EXPECT_TRUE(found[1].second == card().png);
    ASSERT_EQ(w->List3.ListCount(), 2);
    EXPECT_EQ(w->FoundFilePaths, QStringList({"R#0000.jpg", "R#0001.png"}));
    EXPECT_FALSE(FoundLineMarked(w->List3.List(1))) << w->List3.List(1).toStdString();
    // The results are shown as thumbnails.
    EXPECT_EQ(w->ResultViewState, 1);
    EXPECT_TRUE(w->LvwFiles.Visible());
    EXPECT_EQ(w->LvwFiles.ItemCount(), 2);
}

TEST_F(StagedWindow, StageTwoEndedAtTheStretchLeavesTheFinalStageToNameWhatItNeverRead)
{
    // A slow bad stretch in the middle of the card; killed in stage 1 before.
    plat::DriveTable::instance().resetVirtual();
    plat::VirtualDriveOptions opts;
    opts.badSectors = {{20000, 20100}};
    opts.slowMs = 20;
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', card().image, opts));
    GetDriveInfo("E:");
    markers("33", "1");
    const QString folder = makeTempDir("stagestretch");
    w->BackupFolder = plat::toInternal(folder) + "\\";

    // What the window shows while stage 2 copies; the program ended (here:
    // stopped) once the copy turns to the stretch itself.
    QStringList statusLines;
    bool damagedShown = true, damagedInFront = true, copying = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!w->OperationRunning || w->CmdBackup.Caption() == "Backup")
            return;
        copying = true;
        statusLines << w->lblStatus.Caption();
        QWidget *box = w->ChkDamaged.widget();
        damagedShown = damagedShown && w->ChkDamaged.Visible() && w->ChkDamaged.Value() == 1;
        damagedInFront = damagedInFront && box->parentWidget()->children().indexOf(box)
                                               > box->parentWidget()->children().indexOf(w->CmdScanBackup.widget());
        if (GetSetting("Zentarix", "Quilvane", Stage2NotReadKey) == "20000-20103")
            w->OperationRunning = false;
    });
    watch.start(0);
    QString neverRead;
    QByteArray image;
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Stage 2:  Saving remaining sectors until probably again");
        boxes.expect(plat::id::OK, "Final stage:");
        boxes.expect(plat::id::OK, "Stage 2 did not reach sectors").then([&](const plat::MessageRequest &r) {
            neverRead = r.text;
            image = readFileBytes(folder + "/backuptemp.dat");   // the copy as the final stage scanned it
        });
        boxes.expect(plat::id::OK, "Finished.");
        w->ResumeDamagedMediaRecovery();
    }
    watch.stop();
    ASSERT_TRUE(copying);
    EXPECT_TRUE(damagedShown);
    EXPECT_TRUE(damagedInFront);
    for (const QString &line : statusLines)
        EXPECT_FALSE(line.contains('%')) << line.toStdString();
    // The copy holds both sides of the stretch; the message names the rest.
    const QByteArray medium = readFileBytes(card().image);
    ASSERT_EQ(image.size(), medium.size());
    EXPECT_TRUE(image.left(20000 * 512) == medium.left(20000 * 512));
    EXPECT_TRUE(image.mid(20104 * 512) == medium.mid(20104 * 512));
    const QRegularExpressionMatch m =
        QRegularExpression("sectors ([0-9,]+) to ([0-9,]+)").match(QString(neverRead).remove(','));
    ASSERT_TRUE(m.hasMatch()) << neverRead.toStdString();
    EXPECT_EQ(m.captured(1).toLongLong(), 20000);
    EXPECT_GE(m.captured(2).toLongLong(), 20000);
    EXPECT_LE(m.captured(2).toLongLong(), 20103);
    EXPECT_TRUE(GetSetting("Zentarix", "Quilvane", Stage2NotReadKey).isEmpty()) << "gone with the chain's end";
}

TEST_F(StagedWindow, TheCopyStaysWhenItsScanDidNotEndNormally)
{
    markers("33", "2");
    const QString folder = makeTempDir("stagekeep");
    ASSERT_TRUE(QFile::copy(card().image, folder + "/backuptemp.dat"));
    w->BackupFolder = plat::toInternal(folder) + "\\";
    w->AdjustScanCallbacks = [](ScanCallbacks &cb) { cb.stopRequested = [] { return true; }; };
    {
        MessageScript boxes;
        boxes.expect(plat::id::OK, "Final stage:");
        boxes.expect(plat::id::OK, "The saved sectors stay in " + folder + "/backuptemp.dat");
        boxes.expect(plat::id::OK, "Finished.");
        w->ResumeDamagedMediaRecovery();
    }
    EXPECT_TRUE(QFile::exists(folder + "/backuptemp.dat"));
    EXPECT_EQ(marker("LastCluster"), "0");
    EXPECT_EQ(marker("LastStage"), "0");
}

TEST_F(StagedWindow, TheFirstStartAsksAndRunsTheCarefulScanOfTheCard)
{
    markers("33", "0");
    const QString folder = makeTempDir("stagefirst");
    w->BackupFolder = plat::toInternal(folder) + "\\";
    {
        MessageScript boxes;
        boxes.expect(plat::id::Yes, "Quilvane was unexpectedly terminated by Windows");
        boxes.expect(plat::id::OK, "Stage 1:  Recovering files from sectors until probably terminated by Windows");
        boxes.expect(plat::id::OK, "Finished.");
        w->ResumeDamagedMediaRecovery();
        EXPECT_EQ(boxes.boxes()[0].style & plat::mb::DefButtonMask, plat::mb::DefButton2);
    }
    // The careful scan read the card to its end: the chain ended after stage 1.
    EXPECT_EQ(w->LastScanResult.end, ScanEnd::Finished);
    EXPECT_EQ(folderFiles(plat::toNative(w->CacheRoot)).size(), 2);
    EXPECT_EQ(marker("LastCluster"), "0");
    EXPECT_EQ(marker("LastStage"), "0");
    EXPECT_FALSE(QFile::exists(folder + "/backuptemp.dat"));
}
