// The program under a real window system: an X server of the test's own
// (Xvfb, on a display it finds free) with a window manager (openbox), read
// through xprop. A question asked under the splash stands in front of every
// window of the program and has the focus.
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace testing_support;

#ifdef QUILVANE_PROGRAM
TEST(WindowSystem, UninstallAsksInFrontOfTheSplashWithTheFocus)
{
    for (const char *tool : {"Xvfb", "openbox", "xprop"})
        if (!haveTool(QString::fromLatin1(tool)))
            GTEST_SKIP() << tool << " is not installed";
    QProcess server, manager, program;   // each ended with the test
    server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24"});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ':' + QString::fromLatin1(server.readLine()).trimmed());
    const auto x = [&env](const QStringList &args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start("xprop", args);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    const auto property = [&x](const QString &window, const char *name) {
        return x({"-id", window, name}).section('=', 1).trimmed();
    };
    manager.setProcessEnvironment(env);
    manager.start("openbox", {"--sm-disable"});
    for (int i = 0; i < 100 && !x({"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); ++i)
        QThread::msleep(50);

    const QString home = makeTempDir("uninstallx");
    QDir().mkpath(home + "/RIVozud");
    ASSERT_TRUE(writeFileBytes(home + "/RIVozud/R#0001.jpg", "an unsaved found file"));
    env.insert("QUILVANE_HOME", home);
    env.insert("QUILVANE_DRIVES", home + "/drives.conf");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LC_ALL", "en_US.UTF-8");
    program.setProcessEnvironment(env);
    program.start(QUILVANE_PROGRAM, {"uninstall"});
    ASSERT_TRUE(program.waitForStarted(10000));
    // The program's windows from the bottom of the stack to its top, once
    // the question is up.
    QStringList own;
    for (int i = 0; i < 300 && !(own.size() >= 2 && property(own.last(), "_NET_WM_NAME") == "\"Quilvane\""); ++i) {
        QThread::msleep(50);
        own.clear();
        for (const QString &id : x({"-root", "_NET_CLIENT_LIST_STACKING"}).section('#', 1).split(','))
            if (property(id.trimmed(), "_NET_WM_PID") == QString::number(program.processId()))
                own << id.trimmed();
    }
    // The question on top of the splash, nothing kept above it, the focus its.
    ASSERT_GE(own.size(), 2);
    EXPECT_EQ(property(own.last(), "_NET_WM_NAME"), "\"Quilvane\"");
    EXPECT_TRUE(property(own.last(), "_NET_WM_STATE").contains("_NET_WM_STATE_MODAL"));
    EXPECT_FALSE(property(own.first(), "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"));
    EXPECT_TRUE(x({"-root", "_NET_ACTIVE_WINDOW"}).contains(own.last()));
    // Ended by the system, the question is answered No: the files stay.
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(QFileInfo::exists(home + "/RIVozud/R#0001.jpg"));
}
#endif
