// The main window under a real window system: an X server of the test's own
// (Xvfb) with a window manager (openbox), read through xprop. A box asked for
// while the splash is up stands in front of every window of the program and
// has the focus; a window maximized, restored and so maximized again keeps
// its found-file list inside the window and down to its bottom edge.
#include "tests/app/window_test_util.h"
#include "tests/support/child.h"
#include "tests/support/fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace testing_support;

namespace {

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// Xvfb on a display of its own (chosen from the process id, so that test
// runs side by side do not meet) with openbox managing it.
class WindowSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"Xvfb", "openbox", "xprop"})
            if (!haveTool(QString::fromLatin1(tool)))
                GTEST_SKIP() << tool << " is not installed";
        for (int attempt = 0; attempt < 8 && display.isEmpty(); ++attempt) {
            const int n = 400 + int((::getpid() * 7 + attempt) % 500);
            if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            server.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0", "1280x800x24",
                                                  "-nolisten", "tcp"});
            for (int i = 0; i < 100 && server.state() != QProcess::NotRunning; ++i) {
                if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                    display = QStringLiteral(":%1").arg(n);
                    break;
                }
                QThread::msleep(50);
            }
            if (display.isEmpty()) {
                server.kill();
                server.waitForFinished();
            }
        }
        ASSERT_FALSE(display.isEmpty()) << "no X server started";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        manager.setProcessEnvironment(env);
        manager.start(QStringLiteral("openbox"), {"--sm-disable"});
        for (int i = 0; i < 100 && !xprop({"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); ++i)
            QThread::msleep(50);
        ASSERT_TRUE(xprop({"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id")) << "openbox did not start";
    }
    void TearDown() override
    {
        for (QProcess *p : {&manager, &server}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000)) {
                    p->kill();
                    p->waitForFinished();
                }
            }
        }
    }

    QString xprop(const QStringList &args) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xprop"), args);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // The managed windows from the bottom of the stack to its top.
    QStringList stacking() const
    {
        const QString line = xprop({"-root", "_NET_CLIENT_LIST_STACKING"});
        QStringList ids;
        for (const QRegularExpressionMatch &m : QRegularExpression("0x[0-9a-f]+").globalMatch(line.section('#', 1)))
            ids << m.captured(0);
        return ids;
    }
    QString property(const QString &window, const char *name) const
    {
        return xprop({"-id", window, QString::fromLatin1(name)}).section('=', 1).trimmed();
    }

    QString display;
    QProcess server, manager;
};

// The child: the main window with found files, shown; then, four times a
// second, the window's state, whether the found-file list shows, its
// rectangle and the window's inside, while the test works the window
// manager's maximize button.
int maximizeRestoreChild(const QStringList &)
{
    frmRecover &w = CreateMainWindow();
    w.LayoutCommandBar(270);
    QStringList names;
    for (int i = 1; i <= 30; ++i)
        names << QStringLiteral("R#%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
    window_test::makeCache(w, names);
    w.Picture1.setVisible(true);
    w.List3.setVisible(true);
    w.Show();
    settle(1000);
    childSays(QStringLiteral("ready"));
    for (int i = 0; i < 240; ++i) {
        settle(250);
        const QWidget *list = w.List3.widget();
        const QRect r(list->mapTo(w.widget(), QPoint(0, 0)), list->size());
        childSays(QStringLiteral("list %1 %2 %3 %4 %5 %6 %7 %8")
                      .arg(w.WindowState())
                      .arg(list->isVisible())
                      .arg(r.x())
                      .arg(r.y())
                      .arg(r.width())
                      .arg(r.height())
                      .arg(w.widget()->width())
                      .arg(w.widget()->height()));
    }
    return 0;
}
const bool registered = registerChild(QStringLiteral("maximize_restore"), maximizeRestoreChild);

} // namespace

#ifdef QUILVANE_PROGRAM
TEST_F(WindowSystem, UninstallAsksInFrontOfTheSplashWithTheFocus)
{
    const QString home = makeTempDir(QStringLiteral("uninstallx"));
    QDir().mkpath(home + "/RIVozud");
    for (const char *name : {"R#0001.jpg", "R#0002.jpg"})
        ASSERT_TRUE(writeFileBytes(home + "/RIVozud/" + name, "unsaved found file"));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILVANE_HOME", home);
    env.insert("QUILVANE_DRIVES", home + "/drives.conf");
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LC_ALL", "en_US.UTF-8");
    env.insert("LANGUAGE", "");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUILVANE_PROGRAM), {"uninstall"});
    ASSERT_TRUE(program.waitForStarted(10000));
    const QString pid = QString::number(program.processId());

    // The program's windows, bottom to top, once the question is up.
    QStringList own;
    for (int i = 0; i < 300; ++i) {
        own.clear();
        for (const QString &id : stacking())
            if (property(id, "_NET_WM_PID") == pid)
                own << id;
        if (own.size() >= 2 && property(own.last(), "_NET_WM_NAME") == "\"Quilvane\"")
            break;
        QThread::msleep(50);
    }
    ASSERT_GE(own.size(), 2) << "the splash and the question";
    const QString question = own.last();
    EXPECT_EQ(property(question, "_NET_WM_NAME"), "\"Quilvane\"");
    EXPECT_TRUE(property(question, "_NET_WM_STATE").contains("_NET_WM_STATE_MODAL"));
    EXPECT_TRUE(property(question, "_NET_WM_STATE").indexOf("_NET_WM_STATE_ABOVE") < 0);
    for (const QString &below : own.mid(0, own.size() - 1))
        EXPECT_FALSE(property(below, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE")) << below.toStdString();
    EXPECT_TRUE(xprop({"-root", "_NET_ACTIVE_WINDOW"}).contains(question));

    // Ended by the system, the question is answered No: the files stay.
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(QFileInfo::exists(home + "/RIVozud/R#0001.jpg"));
}
#endif

TEST_F(WindowSystem, AWindowMaximizedRestoredAndMaximizedAgainKeepsItsFoundListFilled)
{
    if (!haveTool(QStringLiteral("wmctrl")))
        GTEST_SKIP() << "wmctrl is not installed";
    qputenv("QUILVANE_TEST_CHILD_PLATFORM", "xcb");
    const QByteArray keptDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.toLocal8Bit());
    ChildProcess child(QStringLiteral("maximize_restore"), {});
    qunsetenv("QUILVANE_TEST_CHILD_PLATFORM");
    qputenv("DISPLAY", keptDisplay);
    ASSERT_TRUE(child.waitForLine(QStringLiteral("ready"), 30000)) << child.output().toStdString();
    QString window;
    for (const QString &id : stacking())
        if (property(id, "_NET_WM_PID") == QString::number(child.processId()))
            window = id;
    ASSERT_FALSE(window.isEmpty());

    // The maximize button, then the same button again (restore), which the
    // window answers by maximizing itself again.
    for (const char *toggle : {"add", "remove"}) {
        SCOPED_TRACE(toggle);
        QProcess wm;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        wm.setProcessEnvironment(env);
        wm.start(QStringLiteral("wmctrl"), {"-i", "-r", window, "-b", QString::fromLatin1(toggle) + ",maximized_vert,maximized_horz"});
        ASSERT_TRUE(wm.waitForFinished(5000));
        child.waitForLine(QStringLiteral("(none)"), 3000);   // the window settles
        const QStringList f = child.output().trimmed().split('\n').last().split(' ');
        ASSERT_EQ(f.size(), 9) << child.output().toStdString();
        const QRect list(f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt());
        const QSize inside(f[7].toInt(), f[8].toInt());
        SCOPED_TRACE(f.join(' ').toStdString());
        EXPECT_EQ(f[1], "2") << "maximized";
        EXPECT_EQ(f[2], "1") << "the found list is shown";
        EXPECT_TRUE(QRect(QPoint(0, 0), inside).contains(list));
        // Filled: most of the window's width, and down to its bottom edge.
        EXPECT_GT(list.height(), inside.height() / 5);
        EXPECT_GT(list.width(), inside.width() / 2);
        EXPECT_GE(list.bottom(), inside.height() - 2);
    }
}
