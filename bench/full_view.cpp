// full_view FILE : the full picture window of a found picture, opened as the
// user opens it: the file is copied into a temporary cache as a found file,
// previewed on the main window, and the preview gets a left press. A timer of
// 10 ms notes the longest time the window's events waited (the largest gap
// between two of its ticks) until the full picture window showed the
// picture, and afterwards; whether the busy pointer was up while the window
// waited; the process's peak memory.
//
// CLICK_MS (default 2000; 0: none): that long after the press, a second
// press and a double click on the preview are queued as a user makes them
// while waiting; the output tells when they were handled and what they did.
// full_view FILE OTHER: OTHER is a second found file, listed after FILE, and
// the press and the double click go to its line in the found list instead.
// The desktop's program for pictures is a recorded stand-in: nothing starts.
// SETTLE_MS (default 3000): how long the window runs after the picture was
// shown. On a display (DISPLAY=:57 with QT_QPA_PLATFORM=xcb) the windows
// are shown, so that the screen can be taken with `import -window root`.
#include "bench/headless.h"
#include "drive/system.h"
#include "platform/paths.h"
#include "viewer/ui/fullpicture.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

namespace {

// A program for pictures that the desktop would start: a desktop entry and
// the default applications in a data folder of their own.
void pictureProgram(const QString &xdg)
{
    QDir().mkpath(xdg + QStringLiteral("/applications"));
    QFile::link(QStringLiteral("/usr/share/mime"), xdg + QStringLiteral("/mime"));
    QFile entry(xdg + QStringLiteral("/applications/viewer.desktop"));
    if (entry.open(QIODevice::WriteOnly))
        entry.write("[Desktop Entry]\nType=Application\nName=Viewer\nExec=/bin/true %f\n");
    QFile defaults(xdg + QStringLiteral("/mimeapps.list"));
    if (defaults.open(QIODevice::WriteOnly))
        defaults.write("[Default Applications]\nimage/png=viewer.desktop\nimage/jpeg=viewer.desktop\n");
    for (const char *name : {"XDG_DATA_DIRS", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        qputenv(name, xdg.toLocal8Bit());
}

// Posted from another thread: the positions and the device are worked out
// beforehand, on the window's thread.
void postMouse(QWidget *target, QEvent::Type type, QPoint at, QPoint global, const QPointingDevice *mouse)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QCoreApplication::postEvent(target, new QMouseEvent(type, QPointF(at), QPointF(global), Qt::LeftButton, held,
                                                        Qt::NoModifier, mouse));
}

class ShowWatch : public QObject {
public:
    explicit ShowWatch(std::function<void()> shown) : shown_(std::move(shown)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            shown_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> shown_;
};

} // namespace

int main(int argc, char **argv)
{
    BenchHome home("full_view");
    if (!home.isValid())
        return 1;
    pictureProgram(home.path() + QStringLiteral("/xdg"));
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1 && args.size() != 2) {
        std::fprintf(stderr, "usage: full_view FILE [OTHER]\n");
        return 2;
    }
    const QString file = QFileInfo(args[0]).absoluteFilePath();
    const int clickMs = qEnvironmentVariableIsSet("CLICK_MS") ? qEnvironmentVariableIntValue("CLICK_MS") : 2000;
    const int settleMs = qEnvironmentVariableIsSet("SETTLE_MS") ? qEnvironmentVariableIntValue("SETTLE_MS") : 3000;
    const bool onScreen = QGuiApplication::platformName() != QLatin1String("offscreen");
    QStringList asked;
    answerByDefault(asked);
    QStringList launched;
    SetLaunchHook([&launched](const QString &program, const QStringList &arguments, const QString &) {
        launched << QFileInfo(program).fileName() + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
        return true;
    });

    frmRecover &w = MainWindow();
    useCache(w, plat::toInternal(home.path()) + QStringLiteral("\\RIVozud\\"));
    w.ShownFolder = w.CacheRoot;
    w.FoundFilePaths.clear();
    w.List3.Clear();
    for (const QString &given : args) {
        const QString name = QStringLiteral("R#000%1.").arg(w.FoundFilePaths.size() + 1) + QFileInfo(given).suffix();
        if (!QFile::copy(given, plat::toNative(w.CacheRoot) + QLatin1Char('/') + name)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(given));
            return 1;
        }
        w.FoundFilePaths << name;
        w.List3.AddItem(name);
    }
    w.ItemOrientations.assign(size_t(w.FoundFilePaths.size()), 0.0f);
    if (onScreen)
        w.Show();
    w.FileListBusy = false;
    w.List3.setListIndex(0);
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    // The window's pulse: the largest gap between two ticks, and whether the
    // busy pointer was up at a tick.
    QElapsedTimer clock;
    qint64 lastTick = -1, longest = 0, busyTicks = 0, ticks = 0;
    QTimer pulse;
    pulse.setInterval(10);
    QObject::connect(&pulse, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0)
            longest = std::max(longest, now - lastTick);
        lastTick = now;
        ++ticks;
        if (const QCursor *c = QApplication::overrideCursor(); c && c->shape() == Qt::WaitCursor)
            ++busyTicks;
    });

    // The handlers of the preview, wrapped: when each ran, and how long.
    struct Handled {
        const char *what;
        qint64 at, took;
        bool shown;   // the full picture window showed the picture already
    };
    std::vector<Handled> handled;
    const auto shownNow = [] {
        const FrmFullPicture *full = FullPictureIfLoaded();
        return full && full->Visible() && !full->Picture1.Picture().isNull();
    };
    // The moment the full picture window shows (it shows once its picture
    // is drawn).
    qint64 shownAt = -1, longestUntilShown = 0;
    FrmFullPicture &fullWindow = FullPictureWindow();
    ShowWatch watch([&] {
        if (shownAt >= 0)
            return;
        shownAt = clock.elapsed();
        longestUntilShown = std::max(longest, shownAt - std::max<qint64>(lastTick, 0));
    });
    fullWindow.widget()->installEventFilter(&watch);
    const auto pressHandler = w.Picture1.MouseDown;
    w.Picture1.MouseDown = [&](int b, int s, double x, double y) {
        const qint64 at = clock.elapsed();
        const bool shown = shownNow();
        pressHandler(b, s, x, y);
        handled.push_back({"press", at, clock.elapsed() - at, shown});
    };
    const auto doubleHandler = w.Picture1.DblClick;
    w.Picture1.DblClick = [&] {
        const qint64 at = clock.elapsed();
        const bool shown = shownNow();
        doubleHandler();
        handled.push_back({"double click", at, clock.elapsed() - at, shown});
    };
    const auto listPressHandler = w.List3.MouseDown;
    w.List3.MouseDown = [&](int b, int s, double x, double y) {
        const qint64 at = clock.elapsed();
        const bool shown = shownNow();
        listPressHandler(b, s, x, y);
        handled.push_back({"press on the found list", at, clock.elapsed() - at, shown});
    };
    const auto listDoubleHandler = w.List3.DblClick;
    w.List3.DblClick = [&] {
        const qint64 at = clock.elapsed();
        const bool shown = shownNow();
        listDoubleHandler();
        handled.push_back({"double click on the found list", at, clock.elapsed() - at, shown});
    };

    QWidget *preview = w.Picture1.widget();
    const QPoint middle(preview->width() / 2, preview->height() / 2);
    const QPoint global = preview->mapToGlobal(middle);
    // The user's clicks: on the preview, or on OTHER's line in the found list.
    QWidget *clicked = preview;
    QPoint clickAt = middle;
    if (auto *list = qobject_cast<QListWidget *>(w.List3.widget()); list && args.size() == 2) {
        clicked = list->viewport();
        clickAt = list->visualItemRect(list->item(1)).center();
    }
    if (onScreen)
        QCursor::setPos(global);   // where the user's press is
    const QPointingDevice *mouse = QPointingDevice::primaryPointingDevice();
    std::thread user;
    if (clickMs > 0)
        user = std::thread([clicked, clickAt, clickGlobal = clicked->mapToGlobal(clickAt), mouse, clickMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(clickMs));
            // A second press, then a double click, as the window system
            // queues them for a window that does not answer.
            for (const QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                                         QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
                postMouse(clicked, t, clickAt, clickGlobal, mouse);
        });

    clock.start();
    pulse.start();
    pressHandler(plat::vbLeftButton, 0, plat::pixelsToTwips(middle.x()), plat::pixelsToTwips(middle.y()));
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < settleMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (user.joinable())
        user.join();
    while (settle.elapsed() < settleMs + 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    pulse.stop();

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const QSize size = QImageReader(file).size();
    const FrmFullPicture *full = FullPictureIfLoaded();
    if (shownAt >= 0 && !full)
        shownAt = -1;
    std::printf("%s: %d x %d (%.1f MP), %lld bytes\n", qPrintable(QFileInfo(file).fileName()), size.width(),
                size.height(), double(size.width()) * size.height() / 1e6,
                static_cast<long long>(QFileInfo(file).size()));
    std::printf("  preview: %s\n", qPrintable(w.Picture1Canvas.printed.join(QStringLiteral(" | "))));
    if (shownAt >= 0)
        std::printf("  press to picture shown: %.2f s (full view of %s, %d x %d pixels)\n", double(shownAt) / 1000,
                    qPrintable(full->ShownFileName), full->Picture1.Picture().width(),
                    full->Picture1.Picture().height());
    else
        std::printf("  press to picture shown: not shown\n");
    std::printf("  longest time the window's events waited: %lld ms until the picture was shown, %lld ms in all\n",
                static_cast<long long>(longestUntilShown), static_cast<long long>(std::max(longest, longestUntilShown)));
    std::printf("  ticks of the 10 ms timer: %lld, with the busy pointer up: %lld\n", static_cast<long long>(ticks),
                static_cast<long long>(busyTicks));
    if (clickMs > 0)
        std::printf("  queued at %.2f s: a press and a double click on %s\n", double(clickMs) / 1000,
                    args.size() == 2 ? "R#0002's line in the found list" : "the preview");
    if (args.size() == 2)
        std::printf("  chosen in the found list at the end: %s\n", qPrintable(w.List3.Text()));
    // (A handler that ran inside another one ended first.)
    std::sort(handled.begin(), handled.end(), [](const Handled &a, const Handled &b) { return a.at < b.at; });
    for (size_t i = 0; i < handled.size(); ++i)
        std::printf("  %s handled at %.2f s (%s), took %lld ms\n", handled[i].what, double(handled[i].at) / 1000,
                    handled[i].shown ? "after the picture was shown" : "while the window waited",
                    static_cast<long long>(handled[i].took));
    for (const QString &l : launched)
        std::printf("  handed to the desktop: %s\n", qPrintable(l));
    printAsked(asked);
    std::printf("  process peak: %ld MB\n", usage.ru_maxrss / 1024);
    SetLaunchHook({});
    UnloadFullPicture();
    closeBench();
    return shownAt >= 0 || args.size() == 2 ? 0 : 1;
}
