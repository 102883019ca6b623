// The program's real start-up, headless, timed from the start of the process
// to the main window enabled with Timer1 running.
//
//   startup [FILES]
//
// Makes a temporary program home (removed at the end), with FILES found files
// (small JPEGs) in its cache when given, and starts the program three times
// in it, each in a process of its own: a first start in the empty home, a
// second start after the first one ended through its shutdown (the list file
// of the found files written), and a third one alike. Each start prints its
// times; the deliberate waits (the pause after a new manifest, the fade) are
// given apart. The last line is the work of the last start in milliseconds.
#include "app/frmrecover.h"
#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// Milliseconds since this process started (the kernel's start time, in
// clock ticks since boot, against the boot clock).
double msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6 - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

int child(int argc, char **argv)
{
    QApplication app(argc, argv);
    const double atMain = msSinceProcessStart();
    frmRecover &w = MainWindow();
    w.Form_Initialize();
    w.Form_Load();
    const double loaded = msSinceProcessStart();
    const bool ready = w.Enabled() && w.Timer1.Enabled() && w.StartupFinished;
    std::printf("  process start to main(): %.0f ms\n", atMain);
    std::printf("  found files listed: %d\n", w.List3.ListCount());
    std::printf("  deliberate waits: %lld ms\n", static_cast<long long>(StartupDeliberateMs()));
    std::printf("  process start to enabled window with Timer1: %.0f ms%s\n", loaded, ready ? "" : " (NOT READY)");
    std::printf("  work: %.0f ms\n", loaded - double(StartupDeliberateMs()));
    std::fflush(stdout);
    // The shutdown writes the settings and the list file for the next start.
    w.ShutdownCleanup();
    return 0;
}

bool makeFoundFiles(const QString &cache, int count)
{
    if (!QDir().mkpath(cache))
        return false;
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int i = 1; i <= count; ++i) {
        picture.fill(QColor::fromHsv(i % 360, 200, 200));
        if (!picture.save(QStringLiteral("%1/R#%2.jpg").arg(cache).arg(i, 4, 10, QLatin1Char('0')), "JPG", 80))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    const int files = argc > 1 ? QByteArray(argv[1]).toInt() : 0;
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quilvane-startup-XXXXXX"));
    if (!home.isValid())
        return 1;
    if (files > 0 && !makeFoundFiles(home.path() + QStringLiteral("/RIVozud"), files)) {
        std::fprintf(stderr, "cannot make the found files\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILVANE_HOME"), home.path());
    env.insert(QStringLiteral("QUILVANE_DRIVES"), home.path() + QStringLiteral("/drives.conf"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QByteArray last;
    const char *names[] = {"first start, empty home", "second start", "third start"};
    for (const char *name : names) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("--child")});
        if (!p.waitForFinished(120000)) {
            std::fprintf(stderr, "the start did not end\n");
            return 1;
        }
        const QByteArray out = p.readAllStandardOutput();
        std::printf("%s (%d found files in the cache):\n%s", name, files, out.constData());
        last = out;
    }
    const QList<QByteArray> lines = last.trimmed().split('\n');
    std::printf("%s\n", lines.value(lines.size() - 1).trimmed().constData());
    return 0;
}
