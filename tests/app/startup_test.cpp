// The start-up routine: the language, the manifest, an earlier instance found
// through the lock, the helpers an earlier run left behind, the one-time
// rights handling, and the small rules of the loading sequence.
#include "tests/app/startup_fixture.h"

#include "drive/registry.h"
#include "tests/support/responder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

using namespace app_tests;
using testing_support::MessageScript;

namespace {

// A process table of our own: this process, an earlier instance of the same
// program (pid 4242), a program of another name holding the lock (5151), and
// helpers started by earlier runs.
struct FakeProcesses {
    QMap<qint64, plat::ProcessFacts> table;
    QList<qint64> terminated;
    std::function<void(qint64)> onTerminate;

    FakeProcesses()
    {
        add(plat::ownPid(), "/opt/q/quilvane", 100);
        plat::ProcessHooks hooks;
        hooks.facts = [this](qint64 pid) -> std::optional<plat::ProcessFacts> {
            if (!table.contains(pid))
                return std::nullopt;
            return table[pid];
        };
        hooks.terminate = [this](qint64 pid) {
            if (!table.contains(pid))
                return false;
            terminated << pid;
            table.remove(pid);
            if (onTerminate)
                onTerminate(pid);
            return true;
        };
        plat::setProcessHooks(hooks);
    }
    ~FakeProcesses() { plat::setProcessHooks({}); }
    void add(qint64 pid, const char *exe, quint64 ticks, uint uid = 1000)
    {
        plat::ProcessFacts f;
        f.pid = pid;
        f.exe = QString::fromLatin1(exe);
        f.startTicks = ticks;
        f.uid = uid;
        table[pid] = f;
    }
};

// Another instance: it holds the lock file, which names pid.
struct OtherInstance {
    plat::InstanceLock lock;
    explicit OtherInstance(qint64 pid)
    {
        EXPECT_TRUE(lock.tryAcquire(InstanceLockPath()));
        QFile f(InstanceLockPath());
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::number(pid) + "\n200\n");
    }
};

const QString kQuestion = QStringLiteral(
    "Terminating running previous instances and/or processes.\r\n\r\n\r\nDo you want to continue?\r\n");

} // namespace

TEST(StartupRules, LanguageFromTheCommandLineElseTheSystem)
{
    struct Case {
        const char *commandLine;
        const char *language;    // LANGUAGE
        const char *lang;        // LANG
        int expected;
    };
    const Case cases[] = {
        {"1031 language", nullptr, "nl_NL.UTF-8", 1031},
        {"1031language", nullptr, "en_US.UTF-8", 1031},       // the word anywhere
        {"language 1031", nullptr, "de_DE.UTF-8", 9},         // the number must come first
        {"LANGUAGE", nullptr, "de_CH.UTF-8", 1031},           // exact case only: the system decides
        {"2055 language", nullptr, "nl_NL", 9},               // not a language of the program
        {"cache=/media/x/language", nullptr, "de_DE", 9},     // holds the word: no number at the start
        {"", nullptr, "fy_NL", 1043},
        {"", nullptr, "fr_FR", 9},
        {"", nullptr, "nl_BE", 1043},
        {"", "de_AT:en", "nl_NL", 1031},
    };
    for (const Case &c : cases) {
        EnvironmentGuard env;
        env.locale(c.lang);
        env.set("LANGUAGE", c.language ? std::optional(QByteArray(c.language)) : std::nullopt);
        EXPECT_EQ(ChooseLanguage(QString::fromLatin1(c.commandLine)), c.expected) << c.commandLine << " / " << c.lang;
    }
}

TEST(StartupRules, LeadingNumbersDateSeparatorsAndCommandWords)
{
    EXPECT_EQ(LeadingNumber("5.2.17"), 5.2);
    EXPECT_EQ(LeadingNumber("  52.17x"), 52.17);
    EXPECT_EQ(LeadingNumber("1031 language"), 1031);
    EXPECT_EQ(LeadingNumber("-1"), -1);
    EXPECT_EQ(LeadingNumber("v5"), 0);
    EXPECT_EQ(LeadingNumber("."), 0);
    EXPECT_EQ(LeadingNumber(""), 0);

    EXPECT_EQ(DateSeparatorOf("31.12.2024"), ".");
    EXPECT_EQ(DateSeparatorOf("12/31/2024"), "/");
    EXPECT_EQ(DateSeparatorOf("2024-12-31"), "-");
    EXPECT_EQ(DateSeparatorOf("2024. 12. 31."), " ");   // the last character is not examined

    SetProgramArguments(QStringList{"UnInstall", "cache=\"/media/my card/x\"", "/media/x/Uninstall-test"});
    EXPECT_TRUE(CommandWordGiven("uninstall"));
    EXPECT_FALSE(CommandWordGiven("cache"));
    EXPECT_EQ(CommandWordValue("CACHE"), QString("/media/my card/x"));
    SetProgramArguments(QStringList{"cache=/x/uninstall"});
    EXPECT_FALSE(CommandWordGiven("uninstall")) << "a path holding the word is no command";
    EXPECT_FALSE(CommandWordValue("clean"));
    SetProgramArguments(std::nullopt);
}

TEST_F(FreshHome, ManifestIsWrittenOnceForTheVersionAndTheLocalFileAlways)
{
    const QString text = ManifestText("quilvane", "5.2.17.0");
    const QStringList lines = text.split("\r\n");
    ASSERT_EQ(lines.size(), 30);   // 29 lines, each ended by CR LF
    EXPECT_TRUE(lines.last().isEmpty());
    const int indents[] = {0, 0, 0, 4, 4, 4, 4, 0, 0, 0, 8, 16, 24, 24, 24, 24, 24, 24, 16, 8, 0, 0, 4, 8, 12, 8, 4, 0, 0};
    for (int i = 0; i < 29; ++i) {
        int blanks = 0;
        while (blanks < lines[i].size() && lines[i][blanks] == ' ')
            ++blanks;
        EXPECT_EQ(blanks, indents[i]) << "line " << i + 1;
    }
    EXPECT_EQ(lines[3].trimmed(), "version=\"5.2.17.0\"");
    EXPECT_EQ(lines[5].trimmed(), "name=\"quilvane.exe\"");
    EXPECT_EQ(lines[8], "<description>quilvane.exe Manifest</description>");
    EXPECT_EQ(lines[16].trimmed(), "publicKeyToken = \"6595b64144ccf1df\"");
    EXPECT_FALSE(text.contains("EXE"));

    const QString base = homeFile(ProgramFileBaseName());
    const QString manifest = base + ".exe.manifest";
    ASSERT_TRUE(testing_support::writeFileBytes(manifest, "an older manifest of " + ProgramFileBaseName().toLatin1()));
    WriteManifest();
    EXPECT_EQ(testing_support::readFileBytes(manifest), ManifestText(ProgramFileBaseName(), ProgramVersionText()).toLatin1());
    EXPECT_TRUE(QFileInfo::exists(base + ".exe.local"));

    // A current manifest is left alone; a missing local file is made anyway.
    const QDateTime written = QFileInfo(manifest).lastModified();
    QFile::remove(base + ".exe.local");
    QThread::msleep(20);
    WriteManifest();
    EXPECT_EQ(QFileInfo(manifest).lastModified(), written);
    EXPECT_TRUE(QFileInfo::exists(base + ".exe.local"));
}

TEST_F(FreshHome, AnEarlierInstanceIsAskedToEndOnlyWhenTheUserSaysYes)
{
    // Cancel and No end this start only.
    for (int answer : {plat::id::Cancel, plat::id::No}) {
        FakeProcesses processes;
        processes.add(4242, "/opt/q/quilvane", 200);
        OtherInstance other(4242);
        exits = 0;
        MessageScript script;
        script.expect(answer, kQuestion);
        ProgramStartup();
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].text, kQuestion);
        EXPECT_EQ(script.boxes()[0].title, "Quilvane Start");
        EXPECT_EQ(script.boxes()[0].style & plat::mb::ButtonMask, plat::mb::YesNoCancel);
        EXPECT_EQ(exits, 1);
        EXPECT_TRUE(processes.terminated.isEmpty()) << "the running instance goes on";
        EXPECT_EQ(GetSetting("ZTVers", "Startup", "ST"), "0");
        ClearProcessEndRequest();
    }

    // Yes: the instance named in the lock, and nothing else, is asked to end;
    // this start goes on once it has let go of the lock.
    FakeProcesses processes;
    processes.add(4242, "/opt/q/quilvane", 200);
    processes.add(4343, "/opt/q/quilvane-helper", 300);
    processes.add(4444, "/opt/q/quilvane", 400, 1001);
    auto other = std::make_unique<OtherInstance>(4242);
    processes.onTerminate = [&](qint64) { other.reset(); };
    exits = 0;
    MessageScript script;
    script.expect(plat::id::Yes, kQuestion);
    ProgramStartup();
    EXPECT_EQ(processes.terminated, QList<qint64>{4242});
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(Startup().PreviousInstancesEnded);
    EXPECT_TRUE(plat::InstanceLock::isHeld(InstanceLockPath()));
    EXPECT_EQ(plat::InstanceLock::holderPid(InstanceLockPath()), plat::ownPid());
}

TEST_F(FreshHome, TheSecondStartAsksInTheSystemsLanguageAndTheBoxsButtonsSpeakItToo)
{
    // The real box, in the language of each start; Cancel ends the start.
    const struct {
        const char *locale, *question;
        QStringList buttons;
    } starts[] = {{"de_DE.UTF-8", "Laufende frühere Instanzen und/oder Prozesse", {"Abbrechen", "Ja", "Nein"}},
                  {"nl_NL.UTF-8", "Lopende eerdere exemplaren en/of processen", {"Annuleren", "Ja", "Nee"}}};
    for (const auto &start : starts) {
        env.locale(start.locale);
        FakeProcesses processes;
        processes.add(4242, "/opt/q/quilvane", 200);
        OtherInstance other(4242);
        exits = 0;
        QString text;
        QStringList buttons;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                poll.stop();
                text = box->text();
                for (QAbstractButton *b : box->buttons())
                    buttons << b->text().remove('&');
                box->button(QMessageBox::Cancel)->click();
            }
        });
        poll.start(10);
        ProgramStartup();
        buttons.sort();
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(start.question))) << text.toStdString();
        EXPECT_EQ(buttons, start.buttons) << start.locale;
        EXPECT_EQ(exits, 1);
        ClearProcessEndRequest();
    }
}

TEST_F(FreshHome, ALockOfAnotherProgramIsNeverEnded)
{
    // The lock is held by a process that is not this program (a reused pid):
    // nothing is ended, and when the lock stays held this start ends.
    FakeProcesses processes;
    processes.add(5151, "/usr/bin/editor", 200);
    OtherInstance other(5151);
    MessageScript script;
    script.expect(plat::id::Yes, kQuestion);
    script.expect(plat::id::OK, "did not end");
    ProgramStartup();
    EXPECT_TRUE(processes.terminated.isEmpty());
    EXPECT_FALSE(Startup().PreviousInstancesEnded);
    EXPECT_EQ(exits, 1);
}

TEST_F(FreshHome, LeftoverHelpersOfADeadRunAreEndedByIdAndStartTime)
{
    FakeProcesses processes;
    processes.add(700, "/usr/bin/dcraw", 70);       // left by a run that crashed (pid 600, gone)
    processes.add(701, "/usr/bin/dcraw", 999);      // the id now belongs to a new process
    processes.add(702, "/usr/bin/dcraw", 72);       // started by an instance that still runs
    processes.add(800, "/opt/q/quilvane", 80);
    const auto child = [](qint64 pid, quint64 ticks, qint64 parent, quint64 parentTicks) {
        plat::RecordedChild c;
        c.pid = pid;
        c.startTicks = ticks;
        c.uid = 1000;
        c.exe = "/usr/bin/dcraw";
        c.parentPid = parent;
        c.parentStartTicks = parentTicks;
        return c;
    };
    plat::setRecordedChildren({child(700, 70, 600, 60), child(701, 71, 600, 60), child(702, 72, 800, 80),
                               child(703, 73, 600, 60)});
    KillLeftoverProcesses();
    EXPECT_EQ(processes.terminated, QList<qint64>{700});
    const QList<plat::RecordedChild> kept = plat::recordedChildren();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].pid, 702) << "a helper of a running instance is kept";

    // The instance count never matches by name alone.
    int count = 0;
    FindOrKillProcesses("quilvane", 0, count);
    EXPECT_EQ(count, 1) << "only this process: 800 does not hold the lock";
}

TEST_F(FreshHome, RightsHandlingRunsOnceAndAdvisesWhenAsked)
{
    const QString key = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
    QString folder = plat::programFolder();
    folder.chop(1);
    const QString valueName = folder + "\\Quilvane.exe";
    {
        MessageScript none;
        ProgramStartup();
    }
    EXPECT_EQ(RegGetValue(HKEY_CURRENT_USER, key, valueName).toString(), "RUNASADMIN");
    EXPECT_EQ(GetSetting("ZTVers", "Startup", "RVISTA"), "-1");
    ReleaseInstanceLock();

    // The value gone and RVISTA a number other than -1: the advice, once.
    plat::Settings::instance().deleteValue(HKEY_CURRENT_USER, key, valueName);
    SaveSetting("ZTVers", "Startup", "RVISTA", "0");
    {
        MessageScript script;
        script.expect(plat::id::No);
        ProgramStartup();
        ASSERT_EQ(script.boxes().size(), 1u);
        EXPECT_EQ(script.boxes()[0].title, GetString(827, "Vista Compatibility"));
    }
    EXPECT_EQ(GetSetting("VIDAVE", "Startup", "VShown"), "-1");
    EXPECT_EQ(GetSetting("ZTVers", "Startup", "RVISTA"), "-1");
    EXPECT_EQ(exits, 0);
}

TEST(StartupRules, CrossFadeStepsFollowTheClock)
{
    // Every step takes exactly 20 ms: 116 steps, the splash ends at 10.
    qint64 now = 0;
    QList<QPair<int, int>> alphas;
    FadeHooks hooks;
    hooks.nowMs = [&] { return now; };
    hooks.setAlpha = [&](int a, int s) { alphas << qMakePair(a, s); };
    hooks.wait = [&](int ms) { now += ms; };
    EXPECT_EQ(RunCrossFade(hooks), 116);
    EXPECT_EQ(alphas.first(), qMakePair(25, 240));
    EXPECT_EQ(alphas.last(), qMakePair(255, 10));

    // Slow steps of 30 ms skip values: fewer steps, and the last value set
    // need not be 255 (start-up then sets full opacity itself).
    alphas.clear();
    now = 0;
    hooks.setAlpha = [&](int a, int s) {
        alphas << qMakePair(a, s);
        now += 30;
    };
    const int steps = RunCrossFade(hooks);
    EXPECT_EQ(steps, 58);
    EXPECT_LE(alphas.last().first, 255);

    // A clock that stands still cannot hold the fade forever.
    hooks.setAlpha = [](int, int) {};
    hooks.wait = [](int) {};
    EXPECT_EQ(RunCrossFade(hooks), 116);
}
