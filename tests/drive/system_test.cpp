// System facts, the XOR transform, the desktop's associations, programs
// started and waited for, and downloads from a local HTTP server.
#include "drive/system.h"

#include "drive/registry.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/fixtures.h"
#include "tests/support/httpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <optional>
#include <unistd.h>

using testing_support::makeTempDir;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

class EnvGuard {
public:
    void set(const char *name, const QString &value)
    {
        if (!saved_.contains(name))
            saved_.insert(name, qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt);
        qputenv(name, value.toLocal8Bit());
    }
    ~EnvGuard()
    {
        for (auto it = saved_.cbegin(); it != saved_.cend(); ++it) {
            if (it.value())
                qputenv(it.key().constData(), *it.value());
            else
                qunsetenv(it.key().constData());
        }
    }

private:
    QHash<QByteArray, std::optional<QByteArray>> saved_;
};

} // namespace

TEST(System, OsVersionText)
{
    int major = 0;
    plat::setOsIdentity({2, 5, 1, 2600, QString()});
    EXPECT_EQ(GetOsVersionText(major), QStringLiteral("OS: Windows NT/2000/XP  Win version: 5.1 Build:  2600"));
    EXPECT_EQ(major, 5);
    EXPECT_FALSE(IsVistaOrLater());
    plat::setOsIdentity({1, 4, 10, 2222, QString()});
    EXPECT_TRUE(GetOsVersionText(major).startsWith(QStringLiteral("OS: Windows 95/98/ME  Win version: 4.10")));
    plat::setOsIdentity({0, 3, 11, 1, QString()});
    EXPECT_TRUE(GetOsVersionText(major).startsWith(QStringLiteral("OS: Windows 32s  Win")));
    plat::resetOsIdentity();
    EXPECT_EQ(GetOsVersionText(major), QStringLiteral("OS: Windows 7/Vista  Win version: 6.1 Build:  7601"));
    EXPECT_EQ(major, 6);
    EXPECT_TRUE(IsVistaOrLater());
}

TEST(System, FactsAndTexts)
{
    EXPECT_DOUBLE_EQ(BytesToMB(1572864.0), 1.5);
    EXPECT_DOUBLE_EQ(BytesToMB(1048576.0 * 2.345), 2.35);
    EXPECT_DOUBLE_EQ(BytesToMB(0), 0.0);
    EXPECT_GT(GetFreeMemoryMB(), 0);
    EXPECT_FALSE(GetComputerNameText().isEmpty());
    EXPECT_GE(GetWindowsUserName(QStringLiteral("User")).size(), 2);

    SetUtcClock([] { return QDateTime(QDate(2026, 12, 8), QTime(2, 58, 17), Qt::UTC); });
    EXPECT_EQ(GetUtcTimeText(), QStringLiteral("2026-12-08 02:58:17 UTC"));
    SetUtcClock([] { return QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5), Qt::OffsetFromUTC, 3600); });
    EXPECT_EQ(GetUtcTimeText(), QStringLiteral("2027-01-02 02:04:05 UTC"));
    SetUtcClock({});
    EXPECT_TRUE(GetUtcTimeText().endsWith(QStringLiteral(" UTC")));

    QString a = QStringLiteral("first"), b = QStringLiteral("second");
    SwapStrings(a, b);
    EXPECT_EQ(a, QStringLiteral("second"));
    EXPECT_EQ(b, QStringLiteral("first"));
}

TEST(System, XorWithKey)
{
    // The first character pairs with the key's second one.
    EXPECT_EQ(XorWithKey(QStringLiteral("ABC"), QStringLiteral("xy")), QStringLiteral("8::"));
    EXPECT_EQ(XorWithKey(QByteArray("ABC"), QByteArray("xy")), QByteArray("8::"));
    EXPECT_EQ(XorWithKey(QStringLiteral("text"), QString()), QStringLiteral("text"));

    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QString text = plat::fromAnsi(all);
    const QString key = QStringLiteral("K\u00e9y\u20ac");
    const QString once = XorWithKey(text, key);
    EXPECT_NE(once, text);
    EXPECT_EQ(XorWithKey(once, key), text);
}

TEST(System, AssociatedProgramsAndBrowser)
{
    const QString root = makeTempDir(QStringLiteral("xdg"));
    EnvGuard env;
    env.set("XDG_CONFIG_HOME", root + "/config");
    env.set("XDG_CONFIG_DIRS", root + "/etc");
    env.set("XDG_DATA_HOME", root + "/data");
    env.set("XDG_DATA_DIRS", root + "/share:/usr/share");
    env.set("XDG_CURRENT_DESKTOP", QStringLiteral("TestDesk"));
    QDir().mkpath(root + "/config");
    QDir().mkpath(root + "/data/applications");
    ASSERT_TRUE(writeFileBytes(root + "/config/mimeapps.list",
                               "[Default Applications]\ntext/plain=viewer.desktop\n"
                               "x-scheme-handler/http=web.desktop\nx-scheme-handler/mailto=missing.desktop;mail.desktop\n"));
    ASSERT_TRUE(writeFileBytes(root + "/data/applications/viewer.desktop",
                               "[Desktop Entry]\nType=Application\nName=Viewer\nExec=cat %f\n"));
    ASSERT_TRUE(writeFileBytes(root + "/data/applications/web.desktop",
                               "[Desktop Entry]\nType=Application\nName=Web\nExec=webby --new-window %u\n"));
    ASSERT_TRUE(writeFileBytes(root + "/data/applications/mail.desktop",
                               "[Desktop Entry]\nName=Mail\nExec=mailer %U\n"));
    ASSERT_TRUE(writeFileBytes(root + "/notes.txt", "hello"));
    // Zero bytes: content that no type database claims (bytes of 1 read as a
    // TGA picture, which an installed viewer may take).
    ASSERT_TRUE(writeFileBytes(root + "/thing.qvzzz", QByteArray(64, '\0')));
    const QString r = plat::toInternal(root);

    QString message = QStringLiteral("stale");
    const QString program = OpenWithAssociatedProgram(r + "\\notes.txt", message);
    EXPECT_TRUE(program.endsWith(QStringLiteral("/cat"))) << program.toStdString();
    EXPECT_TRUE(message.isEmpty());

    EXPECT_EQ(OpenWithAssociatedProgram(r + "\\thing.qvzzz", message), QString());
    EXPECT_EQ(message, QStringLiteral("Cannot open thing.qvzzz .\r\n\r\nNo Windows application associated for .QVZZZ files."));
    EXPECT_EQ(OpenWithAssociatedProgram(r + "\\gone.txt", message), QString());
    EXPECT_EQ(message, QStringLiteral("file not found"));
    EXPECT_EQ(OpenWithAssociatedProgram(r + "\\nofolder\\gone.txt", message), QString());
    EXPECT_EQ(message, QStringLiteral("path not found"));

    EXPECT_EQ(GetDefaultBrowserCommand(), QStringLiteral("webby --new-window"));
    EXPECT_EQ(GetDefaultMailCommand(), QStringLiteral("mailer"));
    EXPECT_FALSE(IsIeDefaultBrowser());
    // A command kept in the settings comes first.
    RegSetValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes\\http\\shell\\open\\command"), QString(),
                QStringLiteral("\"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\" %1"));
    EXPECT_TRUE(IsIeDefaultBrowser());
    plat::Settings::instance().deleteTree(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Classes"));
    EXPECT_FALSE(IsIeDefaultBrowser());
}

TEST(System, ShellOpenHandsOverWithoutAShell)
{
    const QString root = makeTempDir(QStringLiteral("open"));
    ASSERT_TRUE(writeFileBytes(root + "/tool.sh", "#!/bin/sh\nexit 0\n"));
    QFile::setPermissions(root + "/tool.sh", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(writeFileBytes(root + "/doc.txt", "text"));
    struct Launch {
        QString program;
        QStringList args;
        QString dir;
    };
    QList<Launch> launches;
    SetLaunchHook([&](const QString &p, const QStringList &a, const QString &d) {
        launches.append({p, a, d});
        return true;
    });
    const QString r = plat::toInternal(root);

    EXPECT_TRUE(ShellOpen(r + "\\tool.sh", QStringLiteral("open"), QStringLiteral("one \"two three\" ;rm -rf"), QString(), 1));
    ASSERT_EQ(launches.size(), 1);
    EXPECT_EQ(launches[0].program, root + "/tool.sh");
    EXPECT_EQ(launches[0].args, (QStringList{"one", "two three", ";rm", "-rf"}));
    EXPECT_EQ(launches[0].dir, root);

    EXPECT_FALSE(ShellOpen(r + "\\doc.txt", QStringLiteral("print"), QString(), QString(), 1));
    EXPECT_FALSE(ShellOpen(r + "\\missing.txt", QStringLiteral("open"), QString(), QString(), 1));
    EXPECT_FALSE(ShellOpen(r + "\\doc.txt", QStringLiteral("explore"), QString(), QString(), 1));
    const bool opener = !QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()
        || !QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty();
    launches.clear();
    EXPECT_EQ(ShellOpen(r + "\\doc.txt", QString(), QString(), QString(), 1), opener);
    EXPECT_EQ(ShellOpen(QStringLiteral("https://example.invalid/a b"), QStringLiteral("open"), QString(), QString(), 1), opener);
    if (opener) {
        ASSERT_EQ(launches.size(), 2);
        EXPECT_EQ(launches[0].args.last(), root + "/doc.txt");
        EXPECT_EQ(launches[1].args.last(), QStringLiteral("https://example.invalid/a%20b"));
    }
    SetLaunchHook({});
}

TEST(System, ProgramsStartedWaitedForAndEnded)
{
    QByteArray out;
    EXPECT_EQ(RunProgram(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo 'a b'; exit 3")}, 10000, &out), 3);
    EXPECT_EQ(out, QByteArray("a b\n"));
    EXPECT_EQ(RunProgram(QStringLiteral("/nonexistent/program"), {}, 1000), -1);
    EXPECT_EQ(RunProgram(QStringLiteral("sleep"), {QStringLiteral("30")}, 100), -2);   // ended at the limit

    const qint64 pid = StartProgram(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(StartedProgramRunning(pid));
    EXPECT_FALSE(EndStartedProgram(::getpid()));   // not started by StartProgram
    EXPECT_FALSE(EndStartedProgram(1));
    EXPECT_TRUE(EndStartedProgram(pid));
    for (int i = 0; i < 500 && StartedProgramRunning(pid); ++i)
        QThread::msleep(10);
    EXPECT_FALSE(StartedProgramRunning(pid));
    EXPECT_FALSE(EndStartedProgram(pid));
    EXPECT_EQ(StartProgram(QStringLiteral("/nonexistent/program"), {}), 0);
}

TEST(System, DownloadsReplaceOnlyWhenComplete)
{
    QByteArray body;
    for (int i = 0; i < 20000; ++i)
        body.append(char('A' + i % 23));
    testing_support::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    server.serve("/file", body);
    server.serve("/empty", {});
    server.route("/cut", testing_support::LocalHttpServer::Route::cutAfter(body, body.size() / 2));
    server.route("/away", testing_support::LocalHttpServer::Route::redirect("file:///etc/hostname"));
    server.route("/error", testing_support::LocalHttpServer::Route::reply(500, "a page about the error"));
    SetDownloadTimeouts(5, 5);
    SetInternetConnectedHook([](int &flags, QString &name) {
        flags = 2;
        name = QStringLiteral("eth0");
        return true;
    });
    const QString folder = makeTempDir(QStringLiteral("dl")) + "/.config.d/v1.2";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + "/update.info.txt";
    ASSERT_TRUE(writeFileBytes(target, "old contents"));
    const QString t = plat::toInternal(target);
    const QStringList onlyTarget{QStringLiteral("update.info.txt")};

    // Failures of every kind leave the old file and nothing beside it.
    for (const char *path : {"/missing", "/cut", "/away", "/error"}) {
        EXPECT_FALSE(DownloadReplaceFile(server.url(path), t)) << path;
        EXPECT_EQ(readFileBytes(target), QByteArray("old contents")) << path;
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTarget) << path;
    }
    EXPECT_FALSE(DownloadReplaceFile(server.url("/file"), t, body.size() - 1));   // larger than allowed
    EXPECT_EQ(readFileBytes(target), QByteArray("old contents"));

    // The temporary file a killed download left is replaced, never kept.
    ASSERT_TRUE(writeFileBytes(folder + "/.update.info.txt.part", "from a killed run"));
    EXPECT_TRUE(DownloadReplaceFile(server.url("/file"), t));
    EXPECT_EQ(readFileBytes(target), body);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTarget);

    EXPECT_TRUE(DownloadReplaceFile(server.url("/empty"), plat::toInternal(folder + "/new")));
    EXPECT_TRUE(QFileInfo(folder + "/new").exists());
    EXPECT_EQ(QFileInfo(folder + "/new").size(), 0);

    // The plain download writes the file itself, and removes what it began.
    EXPECT_TRUE(DownloadUrlToFile(server.url("/file"), plat::toInternal(folder + "/direct")));
    EXPECT_EQ(readFileBytes(folder + "/direct"), body);
    EXPECT_FALSE(DownloadUrlToFile(server.url("/cut"), plat::toInternal(folder + "/direct")));
    EXPECT_FALSE(QFileInfo::exists(folder + "/direct"));

    const int before = server.requests().size();
    EXPECT_FALSE(DownloadReplaceFile(QStringLiteral("file:///etc/hostname"), t));
    EXPECT_FALSE(DownloadReplaceFile(server.url("/file"), plat::toInternal(folder + "/no/such/folder/x.txt")));
    // Without a connection nothing is asked.
    SetInternetConnectedHook([](int &flags, QString &) {
        flags = 0;
        return false;
    });
    EXPECT_FALSE(DownloadReplaceFile(server.url("/file"), plat::toInternal(folder + "/other")));
    EXPECT_EQ(server.requests().size(), before);
    EXPECT_EQ(readFileBytes(target), body);
    SetInternetConnectedHook({});
    SetDownloadTimeouts(0, 0);
}

TEST(System, ADownloadEndsByItsDeadlineOrWhenTheProgramClosesAndTheWindowRunsMeanwhile)
{
    testing_support::LocalHttpServer server;
    ASSERT_TRUE(server.ok());
    server.route("/slow", testing_support::LocalHttpServer::Route::trickle(QByteArray(4000, 'v'), 2));
    SetInternetConnectedHook([](int &flags, QString &name) {
        flags = 2;
        name = QStringLiteral("eth0");
        return true;
    });
    const QString folder = makeTempDir(QStringLiteral("slow"));
    const QString target = folder + "/versie.txt";
    ASSERT_TRUE(writeFileBytes(target, "5.2.17"));
    const QStringList onlyTarget{QStringLiteral("versie.txt")};
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);

    // 2 bytes a second never stall; the deadline ends the download (about
    // 2,000 s at that rate), and the window's timers run all the while.
    SetDownloadDeadlineMs(1500);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(DownloadReplaceFile(server.url("/slow"), plat::toInternal(target)));
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_GE(ticks, 10);
    EXPECT_EQ(readFileBytes(target), QByteArray("5.2.17"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTarget);
    EXPECT_FALSE(DownloadUrlToFile(server.url("/slow"), plat::toInternal(folder + "/direct")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTarget);

    // The program closing stops a download at once (the deadline is long
    // again), and none begins afterwards.
    SetDownloadDeadlineMs(0);
    QTimer::singleShot(300, [] { plat::beginClosing(); });
    clock.restart();
    EXPECT_FALSE(DownloadReplaceFile(server.url("/slow"), plat::toInternal(target)));
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTarget);
    const int asked = server.requests().size();
    EXPECT_FALSE(DownloadReplaceFile(server.url("/slow"), plat::toInternal(target)));
    EXPECT_EQ(server.requests().size(), asked);
    plat::resetClosing();
    SetInternetConnectedHook({});
}

TEST(System, ConnectionIsADefaultRouteOnAnInterfaceThatIsUp)
{
    const QByteArray header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const QByteArray v4 = header
        + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
          "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
          "wlan0\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";
    const QByteArray v6Default = QByteArray(32, '0') + " 00 " + QByteArray(32, '0') + " 00 " + QByteArray(32, '0')
        + " 00000400 00000001 00000000 00000003 ";
    const auto up = [](const QString &name) { return name != QLatin1String("down0"); };

    EXPECT_EQ(DefaultRouteInterface(v4, {}, up), "wlan0");   // the loopback and a subnet route do not count
    EXPECT_EQ(DefaultRouteInterface(header, v6Default + "eth1\n", up), "eth1");
    EXPECT_EQ(DefaultRouteInterface(header, v6Default + "lo\n", up), "");
    EXPECT_EQ(DefaultRouteInterface(v4, {}, [](const QString &) { return false; }), "");
    QByteArray downRoute = v4;
    downRoute.replace("wlan0", "down0");
    EXPECT_EQ(DefaultRouteInterface(downRoute, {}, up), "");
    EXPECT_EQ(DefaultRouteInterface("garbage\n\t\t\n00000000", "x y z", up), "");
}
