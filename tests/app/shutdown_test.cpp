// The End command's passes, the close request and the one shutdown: what it
// keeps, writes and removes, and that it never cuts a running operation off.
#include "tests/app/startup_fixture.h"

#include "drive/driveinfo.h"
#include "drive/registry.h"
#include "platform/os.h"
#include "recovery/cachenames.h"
#include "scan/scanengine.h"
#include "scan/scantable.h"
#include "tests/support/responder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

using namespace app_tests;
using testing_support::MessageScript;
using testing_support::writeFileBytes;

namespace {

class Shutdown : public FreshHome {
protected:
    void SetUp() override
    {
        FreshHome::SetUp();
        w->CacheRoot = plat::programFolder() + kCacheFolderName + "\\";
        w->MakeDirNames();
        w->CreateCacheFolders();
        w->PrevCacheRoot = w->OlderCacheRoot = w->CacheRoot;
        w->ShownFolder = w->CacheRoot;
        cache = plat::toNative(w->CacheRoot);
        work = plat::toNative(w->WorkFolder);
        QDir().mkpath(work);
        QImage picture(40, 30, QImage::Format_ARGB32);
        picture.fill(Qt::darkCyan);
        w->Picture1.setPicture(picture);
        ASSERT_TRUE(writeFileBytes(plat::toNative(w->CacheTempFolder) + "/saved-entry.jpg", "x"));
        ASSERT_TRUE(writeFileBytes(homeFile("temp.bmp"), "x"));
        ASSERT_TRUE(writeFileBytes(homeFile("Temp1.jpg"), "x"));
        ASSERT_TRUE(writeFileBytes(work + "/eDirEnt.dat", "x"));
        ASSERT_TRUE(writeFileBytes(work + "/xyDirEnt.dat", "x"));
    }
    // One found file in the cache and in the list.
    void foundFile()
    {
        ASSERT_TRUE(writeFileBytes(cache + "/R#0001.jpg", "jpeg"));
        w->List3.AddItem("0001.jpg");
        w->FoundFilePaths = QStringList{"R#0001.jpg"};
        w->ItemOrientations.assign(1, 0.0f);
    }
    QString setting(const char *name) const
    {
        return RegGetValue(w->RegistryHive, frmRecover::ProgramKey, QString::fromLatin1(name)).toString();
    }

    QString cache, work;
};

} // namespace

TEST_F(Shutdown, IdleEndKeepsThePictureWritesTheSettingsAndRemovesTemporaryFiles)
{
    foundFile();
    const QString listFile = plat::toNative(w->ScanListFile());
    w->CmdEnd_Click();
    EXPECT_EQ(w->CmdEnd.Caption(), "Closing...");
    EXPECT_TRUE(w->Timer2.Enabled());
    EXPECT_EQ(exits, 0) << "the first pass only prepares";

    // Between the passes no command starts: the next pass would cut it off.
    {
        w->setEnabled(true);
        MessageScript script;
        script.expect(plat::id::OK, "Still busy");
        EXPECT_TRUE(w->RefuseWhileBusy());
        w->CmdEnd.setToolTipText("End Quilvane.");
        script.expect(plat::id::OK, "Still busy");
        w->CmdScan_Click();
        EXPECT_FALSE(w->OperationRunning);
    }

    w->Timer2_Timer();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(QFile::exists(work + "/Lastpict.bmp"));
    EXPECT_EQ(QImage(work + "/Lastpict.bmp").size(), QSize(40, 30));
    EXPECT_TRUE(QFile::exists(listFile));
    EXPECT_TRUE(QFile::exists(cache + "/R#0001.jpg")) << "found files stay";
    EXPECT_FALSE(QFile::exists(homeFile("temp.bmp")));
    EXPECT_FALSE(QFile::exists(homeFile("Temp1.jpg")));
    EXPECT_FALSE(QDir(cache + "/Temp").exists());
    EXPECT_FALSE(QFile::exists(work + "/eDirEnt.dat"));
    EXPECT_TRUE(QFile::exists(work + "/xyDirEnt.dat")) << "only one character before DirEnt.dat";
    EXPECT_EQ(setting("TCache"), w->CacheRoot);
    EXPECT_EQ(GetSetting("Zentarix", "Quilvane", "LastStage"), "0");

    // Once shut down, presses, ticks and the close box change nothing.
    w->CmdEnd_Click();
    w->Timer2_Timer();
    int cancel = 0;
    w->Form_QueryUnload(cancel, 0);
    EXPECT_EQ(cancel, 1);
    EXPECT_EQ(exits, 1);
}

TEST_F(Shutdown, EndDuringAScanStopsItAndShutsDownWhenItHasFinished)
{
    foundFile();
    w->CmdScan.setCaption("Stop");
    w->OperationRunning = true;
    {
        frmRecover::OperationScope scan(*w);
        MessageScript script;
        script.expect(plat::id::OK);
        w->setMousePointer(11);
        w->CmdEnd_Click();
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].text, "Still busy. Finishing...");
        EXPECT_EQ(script.boxes()[0].title, "End");
        EXPECT_EQ(script.boxes()[0].timeoutMs, 4000);
        EXPECT_FALSE(w->OperationRunning) << "the scan is asked to stop";
        EXPECT_EQ(w->Timer2.Interval(), 5000);
        EXPECT_EQ(w->MousePointer(), 0);

        // The scan still writes its files: ticks wait, commands are refused.
        w->Timer2_Timer();
        w->Timer2_Timer();
        EXPECT_EQ(exits, 0);
        EXPECT_FALSE(w->ShuttingDown);
        int cancel = 0;
        w->Form_QueryUnload(cancel, 0);
        EXPECT_EQ(cancel, 1);
    }
    w->CmdScan.setCaption("Scan");
    w->Timer2_Timer();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(QFile::exists(plat::toNative(w->ScanListFile())));
    EXPECT_FALSE(QFile::exists(homeFile("temp.bmp")));
}

TEST_F(Shutdown, ASaveIsNotStoppedButWaitedFor)
{
    w->CmdSaveAll.setCaption("Saving");
    w->OperationRunning = true;
    MessageScript script;
    script.expect(plat::id::OK);
    w->CmdEnd_Click();
    EXPECT_TRUE(w->OperationRunning) << "a save is not asked to stop";
    w->Timer2_Timer();
    EXPECT_TRUE(w->OperationRunning) << "nor by the ticks";
    EXPECT_EQ(exits, 0);
    w->OperationRunning = false;   // the save ends
    w->Timer2_Timer();
    EXPECT_EQ(exits, 1);
}

TEST_F(Shutdown, ASecondPressWhileBusyWritesTheSettingsAndEndsWithoutTheRest)
{
    foundFile();
    const QString listFile = plat::toNative(w->ScanListFile());
    w->CmdScan.setCaption("Stop");
    w->OperationRunning = true;
    {
        frmRecover::OperationScope scan(*w);
        MessageScript script;
        script.expect(plat::id::OK).expect(plat::id::OK);
        w->CmdEnd_Click();
        w->CmdEnd_Click();
        EXPECT_EQ(w->EndPassCount, 2);
    }
    w->CmdScan.setCaption("Scan");
    w->Timer2_Timer();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(setting("TCache"), w->CacheRoot);
    EXPECT_FALSE(QFile::exists(listFile)) << "the list is not saved on this path";
    EXPECT_TRUE(QFile::exists(homeFile("temp.bmp")));
}

TEST_F(Shutdown, CleanUpVariants)
{
    // After an NTFS volume: settings and Temp\ only, then the end.
    {
        foundFile();
        w->MftWasOpened = true;
        w->ShutdownCleanup();
        EXPECT_EQ(exits, 1);
        EXPECT_EQ(setting("TCache"), w->CacheRoot);
        EXPECT_FALSE(QDir(cache + "/Temp").exists());
        EXPECT_FALSE(QFile::exists(plat::toNative(w->ScanListFile())));
        EXPECT_TRUE(QFile::exists(homeFile("temp.bmp")));
    }
    // "uninstall": the picture of step 1 stays although the cache is empty.
    {
        w = &CreateMainWindow();
        exits = 0;
        QFile::remove(work + "/Lastpict.bmp");
        SetProgramArguments(QStringList{"uninstall"});
        w->CacheRoot = plat::programFolder() + kCacheFolderName + "\\";
        w->MakeDirNames();
        w->Picture1.setPicture(QImage(8, 8, QImage::Format_ARGB32));
        w->ShutdownCleanup();
        EXPECT_EQ(exits, 1);
        EXPECT_TRUE(QFile::exists(work + "/Lastpict.bmp"));
        EXPECT_TRUE(QFile::exists(homeFile("temp.bmp")));
        SetProgramArguments(QStringList{});
    }
    // An empty cache: the stored pictures go; a root that is no cache is
    // never removed, nor anything in it.
    {
        w = &CreateMainWindow();
        exits = 0;
        QFile::remove(cache + "/R#0001.jpg");
        ASSERT_TRUE(writeFileBytes(work + "/Lastpict2.bmp", "x"));
        const QString photos = testing_support::makeTempDir("photos");
        ASSERT_TRUE(writeFileBytes(photos + "/IMG_0001.JPG", "x"));
        QDir().mkpath(photos + "/Thumbs");
        w->CacheRoot = plat::programFolder() + kCacheFolderName + "\\";
        w->MakeDirNames();
        w->PrevCacheRoot = plat::toInternal(photos + "/");
        w->OlderCacheRoot = w->PrevCacheRoot;
        w->ShutdownCleanup();
        EXPECT_EQ(exits, 1);
        EXPECT_FALSE(QFile::exists(work + "/Lastpict.bmp"));
        EXPECT_FALSE(QFile::exists(work + "/Lastpict2.bmp"));
        EXPECT_TRUE(QFile::exists(photos + "/IMG_0001.JPG"));
        EXPECT_TRUE(QDir(photos + "/Thumbs").exists());
    }
}

TEST_F(Shutdown, CloseBoxIsRefusedWhileAnOperationRuns)
{
    // A scan: refused and asked to stop.
    w->CmdScan.setCaption("Stop");
    w->OperationRunning = true;
    int cancel = 0;
    w->Form_QueryUnload(cancel, 0);
    EXPECT_EQ(cancel, 1);
    EXPECT_FALSE(w->OperationRunning);
    // Another operation: refused, and it goes on.
    w->CmdScan.setCaption("Scan");
    w->OperationRunning = true;
    cancel = 0;
    w->Form_QueryUnload(cancel, 0);
    EXPECT_EQ(cancel, 1);
    EXPECT_TRUE(w->OperationRunning);
    // A chooser of Save All open (only the second busy mark): refused.
    w->OperationRunning = false;
    w->OperationBusy = true;
    cancel = 0;
    w->Form_QueryUnload(cancel, 0);
    EXPECT_EQ(cancel, 1);
    EXPECT_EQ(exits, 0);
    // Idle: the shutdown.
    w->OperationBusy = false;
    w->Form_QueryUnload(cancel, 0);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(w->ShuttingDown);
}

#ifdef QUILVANE_PROGRAM
TEST(ProgramProcess, TerminationSignalEndsTheProgramTheNormalWayInTheLanguageOfEachStart)
{
    // Three starts in one home: an English system, then a German and a Dutch
    // one; each is ended by the signal once it has loaded.
    const QString home = testing_support::makeTempDir("signal");
    const QString lock = home + "/ZTRecdt/quilvane.lock";
    const QString settings = home + "/config/HKEY_CURRENT_USER.reg";
    const struct {
        const char *language;
        const char *langId, *manual;
    } starts[] = {{"", "9", "lang=\"en\""}, {"de_DE.UTF-8", "1031", "lang=\"de\""}, {"nl_NL.UTF-8", "1043", "lang=\"nl\""}};
    for (const auto &start : starts) {
        SCOPED_TRACE(start.langId);
        QFile::remove(settings);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUILVANE_HOME", home);
        env.insert("QUILVANE_DRIVES", home + "/drives.conf");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LC_ALL", "en_US.UTF-8");
        env.insert("LANGUAGE", start.language);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QUILVANE_PROGRAM), {});
        ASSERT_TRUE(program.waitForStarted(10000));
        // Its lock names it; the settings show it has loaded.
        for (int i = 0; i < 400 && !(plat::InstanceLock::holderPid(lock) == program.processId() && QFile::exists(settings));
             ++i)
            QThread::msleep(50);
        ASSERT_TRUE(plat::InstanceLock::isHeld(lock));
        EXPECT_EQ(plat::InstanceLock::holderPid(lock), program.processId());
        program.terminate();
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_FALSE(plat::InstanceLock::isHeld(lock));
        const QByteArray written = testing_support::readFileBytes(settings);
        EXPECT_TRUE(written.contains("\"LastStage\"=\"0\"")) << written.constData();
        EXPECT_TRUE(written.contains("\"LangId\"=\"" + QByteArray(start.langId) + "\""));
        EXPECT_TRUE(testing_support::readFileBytes(home + "/Manual/Manual.htm").contains(start.manual));
    }
    // The first start keeps the program key in the first hive it can write.
    EXPECT_TRUE(testing_support::readFileBytes(home + "/config/HKEY_LOCAL_MACHINE.reg")
                    .contains("[HKEY_LOCAL_MACHINE\\Software\\Zentarix\\Quilvane Pro]"));
}
#endif

// The program as the system ends it during a scan: a child process (this
// test binary) scans a card that reads slowly and has unreadable sectors, with
// the real message boxes (offscreen, nobody to press a button) once the scan
// reads; the test sends it SIGTERM and waits for its end.
TEST(ProgramChild, ScansUntilTheSystemEndsIt)
{
    const QString home = qEnvironmentVariable("QUILVANE_CHILD_HOME");
    if (home.isEmpty())
        GTEST_SKIP() << "run by ProgramProcess.TerminationDuringAScanEndsWithoutWaitingForAClick";
    qputenv("QUILVANE_HOME", home.toLocal8Bit());
    plat::Settings::instance().reload();
    plat::saveUserSetting("Zentarix", "Quilvane", "Reg", QString::number(plat::HiveCurrentUser));
    plat::VirtualDriveOptions card;
    card.typeCode = plat::DriveTypeRemovable;
    card.readOnly = true;
    card.badSectors = {{3000, 3100}};   // told in the report after the scan
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', qEnvironmentVariable("QUILVANE_CHILD_CARD"), card));

    // The questions before the scan are answered (the whole card is read);
    // once it reads, boxes are real ones.
    plat::setMessageResponder([](const plat::MessageRequest &r) {
        switch (r.style & plat::mb::ButtonMask) {
        case plat::mb::YesNoCancel:
        case plat::mb::YesNo: return r.text.contains("SmartScan") ? plat::id::No : plat::id::Yes;
        default: return plat::id::OK;
        }
    });
    plat::setDialogResponder([](const plat::DialogRequest &r) { return plat::DialogAnswer{r.startFolder, 1}; });
    frmRecover &w = CreateMainWindow();
    w.CacheRoot = plat::toInternal(home) + "\\" + kCacheFolderName + "\\";
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.SetUpTypeList();
    w.FillTypeList();
    for (int i = 1; i <= w.LvwTypes.ItemCount(); ++i)
        w.LvwTypes.setItemChecked(i, w.LvwTypes.SubItem(i, 2) == ProgramOrigin());
    w.SetToolTips();
    w.setEnabled(true);
    w.StartupFinished = true;
    w.SourceName = "E:";
    GetDriveInfo(w.SourceName);
    w.AdjustScanCallbacks = [home](ScanCallbacks &cb) {
        // A card that reads slowly: 100 ms for each piece the scan reads,
        // the window's events run meanwhile.
        auto stop = cb.stopRequested;
        cb.stopRequested = [home, stop] {
            QThread::msleep(100);
            plat::pumpEventsNow();
            if (!stop())
                return false;
            writeFileBytes(home + "/stopped", "1");
            return true;
        };
        auto phase = cb.phase;
        cb.phase = [home, phase](ScanPhase p) {
            if (p == ScanPhase::Reading) {
                plat::setMessageResponder({});
                plat::setDialogResponder({});
                writeFileBytes(home + "/reading", "1");
            }
            if (phase)
                phase(p);
        };
    };
    InstallTerminationSignals();
    w.CmdScan_Click();
    QCoreApplication::exec();   // the End command's passes end the process
    ADD_FAILURE() << "the process went on";
}

TEST(ProgramProcess, TerminationDuringAScanEndsWithoutWaitingForAClick)
{
    const QString home = testing_support::makeTempDir("sigterm");
    const testing_support::SampleCard card = testing_support::makeSampleCard(home, 32);
    ASSERT_FALSE(card.image.isEmpty());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILVANE_CHILD_HOME", home);
    env.insert("QUILVANE_CHILD_CARD", card.image);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=ProgramChild.ScansUntilTheSystemEndsIt", "--gtest_also_run_disabled_tests"});
    ASSERT_TRUE(child.waitForStarted(10000));
    for (int i = 0; i < 1200 && !QFile::exists(home + "/reading") && child.state() == QProcess::Running; ++i)
        QThread::msleep(50);
    ASSERT_TRUE(QFile::exists(home + "/reading")) << child.readAllStandardOutput().constData();
    QThread::msleep(500);
    child.terminate();
    const bool ended = child.waitForFinished(45000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    ASSERT_TRUE(ended) << "the process waits for a click";
    EXPECT_TRUE(QFile::exists(home + "/stopped")) << "the end came while the scan read";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    const QByteArray settings = testing_support::readFileBytes(home + "/config/HKEY_CURRENT_USER.reg");
    EXPECT_TRUE(settings.contains("\"LastCluster\"=\"0\"")) << settings.constData();
    EXPECT_TRUE(settings.contains("\"LastStage\"=\"0\"")) << "the shutdown ran";
    EXPECT_TRUE(settings.contains("\"TCache\"")) << "the settings are written";
}
