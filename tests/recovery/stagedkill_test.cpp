// The staged recovery end to end, as the program lives through it on a
// failing card: a card made by mkfs.fat and mcopy holding six photos (made by
// ImageMagick, tagged by exiftool, then deleted), the fourth lying on a slow
// stretch that cannot be read. The scan is killed (SIGKILL) while it waits on
// the stretch, and so is each stage that reads it, as the system ends a hung
// program; the program is started again after each kill (the whole start-up)
// and goes on with the next stage, every question answered by a script. At
// the end every photo that lay in readable sectors is in the cache once, byte
// for byte, and the photo on the stretch once, marked "!".
//
// Each start of the program is this test binary run again with the test
// StagedRecoveryKill.ProgramRun, which is skipped when run on its own.
#include "drive/registry.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "recovery/stagedrecovery.h"
#include "scan/foundagain.h"
#include "tests/app/startup_fixture.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

using namespace testing_support;

namespace {

const char *const kStep = "STAGED_KILL_STEP";
const char *const kHome = "STAGED_KILL_HOME";
const char *const kCard = "STAGED_KILL_CARD";
const char *const kBad = "STAGED_KILL_BAD";
const char *const kSlow = "STAGED_KILL_SLOW";

struct Photo {
    QString name;
    QByteArray bytes;
    qint64 sector = -1;
};

struct KillCard {
    QString image;
    QList<Photo> photos;
    qint64 badFirst = -1, badLast = -1;
};

// Six photos as a camera leaves them, deleted from a FAT16 card; the stretch
// lies inside the fourth.
KillCard makeKillCard(const QString &dir)
{
    KillCard card;
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 32768;
    spec.sectorsPerCluster = 4;
    const QString image = makeFatImage(dir, "card.img", spec);
    if (image.isEmpty() || !haveTool("exiftool"))
        return {};
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("DSC0%1.JPG").arg(4711 + i);
        if (imageMagickPicture(dir, name,
                               {"-seed", QString::number(40 + i), "-size", "560x420", "plasma:fractal", "-quality", "93"})
                .isEmpty())
            return {};
        const QString path = dir + "/" + name;
        if (runTool("exiftool", {"-q", "-overwrite_original", "-Make=Zentcam", "-Model=ZC 10",
                                 QStringLiteral("-DateTimeOriginal=2024:05:0%1 10:1%1:00").arg(i + 1), path})
            != 0)
            return {};
        card.photos << Photo{name, readFileBytes(path)};
        files << qMakePair(name, card.photos.last().bytes);
    }
    if (!mcopyFiles(image, "/", files))
        return {};
    for (const Photo &p : card.photos)
        if (!mdel(image, "/" + p.name))
            return {};
    const QByteArray bytes = readFileBytes(image);
    for (Photo &p : card.photos) {
        qint64 at = bytes.indexOf(p.bytes.left(2048));
        while (at >= 0 && at % 512)
            at = bytes.indexOf(p.bytes.left(2048), at + 1);
        if (at < 0)
            return {};
        p.sector = at / 512;
    }
    card.image = image;
    card.badFirst = card.photos[3].sector + 40;
    card.badLast = card.badFirst + 63;
    return card;
}

// The program's home kept from one start to the next, as a user's is.
void enterHome(const QString &home)
{
    qputenv("QUILVANE_HOME", home.toLocal8Bit());
    plat::Settings::instance().reload();
    app_tests::quietStartup([] {});
}

// One start of the program, up to its kill or its end.
QProcess *startProgram(const QString &step, const QString &home, const KillCard &card, int slowMs)
{
    auto *p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kStep, step);
    env.insert(kHome, home);
    env.insert(kCard, card.image);
    env.insert(kBad, QStringLiteral("%1-%2").arg(card.badFirst).arg(card.badLast));
    env.insert(kSlow, QString::number(slowMs));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start(QCoreApplication::applicationFilePath(),
             {"--gtest_filter=StagedRecoveryKill.ProgramRun", "--gtest_brief=1"});
    return p;
}

// The program waits on the stretch: its main thread has slept in a read of
// the card for a second (nothing else it does sleeps that long).
bool waitsOnTheStretch(qint64 pid)
{
    QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
    QFile syscall(QStringLiteral("/proc/%1/syscall").arg(pid));
    bool sleeping = false;
    if (wchan.open(QIODevice::ReadOnly))
        sleeping = wchan.readAll().contains("nanosleep");
    if (!sleeping && syscall.open(QIODevice::ReadOnly)) {
        const QByteArray call = syscall.readAll();
        sleeping = call.startsWith("230 ") || call.startsWith("35 ");
    }
    return sleeping;
}

// Kills the program once `due` holds for a second; false when it ended
// before or the time ran out.
bool killWhen(QProcess &p, const std::function<bool()> &due, QByteArray &output)
{
    QElapsedTimer clock, held;
    clock.start();
    while (clock.elapsed() < 240000) {
        if (p.waitForFinished(100) || p.state() == QProcess::NotRunning) {
            output = p.readAll();
            return false;
        }
        if (!due()) {
            held.invalidate();
            continue;
        }
        if (!held.isValid())
            held.start();
        if (held.elapsed() >= 1000) {
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished(10000);
            output = p.readAll();
            return p.exitStatus() == QProcess::CrashExit;
        }
    }
    p.kill();
    p.waitForFinished(10000);
    output = p.readAll();
    return false;
}

QString userSetting(const QString &home, const QString &key)
{
    // Read from the store's file, as the next start reads it.
    const QByteArray reg = readFileBytes(home + "/config/HKEY_CURRENT_USER.reg");
    const QByteArray needle = "\"" + key.toLatin1() + "\"=\"";
    const qsizetype at = reg.indexOf(needle);
    if (at < 0)
        return {};
    const qsizetype from = at + needle.size();
    return QString::fromLatin1(reg.mid(from, reg.indexOf('"', from) - from));
}

} // namespace

TEST(StagedRecoveryKill, ProgramRun)
{
    const QString step = qEnvironmentVariable(kStep);
    if (step.isEmpty())
        GTEST_SKIP() << "one start of the program, run by StagedRecoveryKill.EveryPhotoComesBackOnce";
    const QString home = qEnvironmentVariable(kHome);
    enterHome(home);
    plat::DriveTable::instance().resetVirtual();
    plat::DriveTable::instance().setExclusive(true);
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    const QStringList bad = qEnvironmentVariable(kBad).split('-');
    opts.badSectors = {{bad.value(0).toLongLong(), bad.value(1).toLongLong()}};
    opts.slowMs = qEnvironmentVariableIntValue(kSlow);
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', qEnvironmentVariable(kCard), opts));
    if (step == "scan")
        plat::saveUserSetting("Zentarix", "Quilvane", "Reg", QString::number(plat::HiveCurrentUser));

    frmRecover *w = &CreateMainWindow();
    MessageScript boxes;
    if (step == "scan") {
        w->Form_Load();
        ASSERT_EQ(w->SourceName.left(2).toUpper(), "E:");
        for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
            w->LvwTypes.setItemChecked(i, w->LvwTypes.ItemText(i) == "JPG");
        boxes.expect(plat::id::No, "SmartScan");   // the whole card
        w->CmdScan_Click();
        FAIL() << "the scan ended: " << w->lblStatus.Caption().toStdString();
    }
    if (step == "stage1") {
        boxes.expect(plat::id::Yes, "Quilvane was unexpectedly terminated by Windows");
        boxes.expect(plat::id::OK, "Stage 1:  Recovering files from sectors until probably terminated by Windows");
    } else if (step == "stage2") {
        boxes.expect(plat::id::OK, "Stage 2:  Saving remaining sectors until probably again terminated by Windows");
    } else if (step == "final") {
        boxes.expect(plat::id::OK, "Final stage:  Recovering files from additional saved sectors.");
        boxes.expect(plat::id::OK, "Stage 2 did not reach sectors");
        boxes.expect(plat::id::OK, "Finished.");
    }
    w->Form_Load();
    if (step != "final")
        FAIL() << "the stage ended: " << w->lblStatus.Caption().toStdString();
    // What the user has now: the list as the next start shows it.
    QStringList report{plat::toNative(w->CacheRoot)};
    for (int i = 0; i < w->List3.ListCount(); ++i)
        report << w->FoundFilePaths.value(i) + "|" + w->List3.List(i);
    writeFileBytes(home + "/report.txt", report.join('\n').toUtf8());
    EXPECT_EQ(GetSetting("Zentarix", "Quilvane", "LastCluster"), "0");
    EXPECT_EQ(GetSetting("Zentarix", "Quilvane", "LastStage"), "0");
    ReleaseInstanceLock();
    UnloadSplashForm();
    DestroyMainWindow();
}

TEST(StagedRecoveryKill, EveryPhotoComesBackOnce)
{
    const QString dir = makeTempDir("killcard");
    const KillCard card = makeKillCard(dir);
    if (card.image.isEmpty())
        GTEST_SKIP() << "mkfs.fat, mtools, ImageMagick or exiftool missing";
    if (!QFile::exists("/proc/self/wchan") && !QFile::exists("/proc/self/syscall"))
        GTEST_SKIP() << "no way to see a process wait";
    const QString home = makeTempDir("killhome");
    const QByteArray original = readFileBytes(card.image);
    QByteArray output;

    // The scan, killed while it waits on the stretch.
    std::unique_ptr<QProcess> run(startProgram("scan", home, card, 60000));
    ASSERT_TRUE(killWhen(*run, [&] {
        return userSetting(home, "LastCluster") == "33" && waitsOnTheStretch(run->processId());
    }, output)) << output.constData();

    // Started again: yes to the staged recovery; stage 1 killed on the stretch too.
    run.reset(startProgram("stage1", home, card, 60000));
    ASSERT_TRUE(killWhen(*run, [&] {
        return userSetting(home, "LastStage") == "1" && waitsOnTheStretch(run->processId());
    }, output)) << output.constData();

    // Stage 2 killed while it grinds through the stretch, both sides copied.
    run.reset(startProgram("stage2", home, card, 150));
    ASSERT_TRUE(killWhen(*run, [&] {
        const QString notRead = userSetting(home, Stage2NotReadKey);
        return !notRead.isEmpty() && notRead.section('-', 0, 0).toLongLong() > 0;
    }, output)) << output.constData();

    // The final stage, to its end.
    run.reset(startProgram("final", home, card, 150));
    ASSERT_TRUE(run->waitForFinished(240000));
    output = run->readAll();
    ASSERT_EQ(run->exitStatus(), QProcess::NormalExit) << output.constData();
    ASSERT_EQ(run->exitCode(), 0) << output.constData();

    // Every photo once; the one on the stretch cut where it meets it, marked.
    const QStringList report = QString::fromUtf8(readFileBytes(home + "/report.txt")).split('\n');
    ASSERT_GE(report.size(), 2);
    const QString cache = report[0];
    const QStringList files = QDir(cache).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(files.size(), 6) << files.join(", ").toStdString();
    EXPECT_EQ(report.size() - 1, 6) << report.join("\n").toStdString();
    for (int i = 0; i < card.photos.size(); ++i) {
        SCOPED_TRACE(card.photos[i].name.toStdString());
        const QByteArray &photo = card.photos[i].bytes;
        QList<QByteArray> copies;   // the cache's files of this photo
        QString line;
        for (const QString &item : report.mid(1)) {
            const QByteArray bytes = readFileBytes(cache + "/" + item.section('|', 0, 0));
            if (bytes.size() >= 4096 && bytes.left(4096) == photo.left(4096)) {
                copies << bytes;
                line = item.section('|', 1);
            }
        }
        ASSERT_EQ(copies.size(), 1);
        if (i == 3) {
            // All that lies before the stretch, and the mark.
            const qint64 readable = (card.badFirst - card.photos[i].sector) * 512;
            EXPECT_GE(copies[0].size(), readable);
            EXPECT_TRUE(copies[0].left(readable) == photo.left(readable));
            EXPECT_TRUE(FoundLineMarked(line)) << line.toStdString();
        } else {
            EXPECT_TRUE(copies[0] == photo) << copies[0].size() << " bytes for " << photo.size();
            EXPECT_FALSE(FoundLineMarked(line)) << line.toStdString();
        }
    }
    EXPECT_EQ(readFileBytes(card.image), original) << "the card was only read";
}
