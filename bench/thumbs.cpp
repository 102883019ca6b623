// thumbs CACHEDIR : the thumbnail grid of the cache CACHEDIR/RIVozud/ on the
// headless main window, at the width box's default (72). The cache's Thumbs
// folder is emptied first (KEEP=1 keeps it); the grid is rendered (the
// thumbnails made), then the window is made anew and the grid shown once more
// from the kept thumbnails, as at the next start. Prints both times; the last
// line gives the thumbnails made per second.
#include "bench/headless.h"
#include "drive/files.h"
#include "platform/paths.h"
#include "recovery/cacheguard.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

namespace {

// One showing of the grid on a new window; its seconds.
double showGrid(const QString &root, int &items, int &entries)
{
    frmRecover &w = CreateMainWindow();
    w.CacheRoot = root;
    w.ShownFolder.clear();
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.ShownFolder = w.CacheRoot;
    w.Show();
    QElapsedTimer t;
    t.start();
    w.RenderThumbnails(0);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    items = w.LvwFiles.ItemCount();
    entries = w.List3.ListCount();
    DestroyMainWindow();
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    BenchHome home("thumbs");
    if (!home.isValid())
        return 1;
    QApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: thumbs CACHEDIR\n");
        return 2;
    }
    const QString dir = QFileInfo(app.arguments().at(1)).absoluteFilePath();
    const QString root = plat::toInternal(dir) + QStringLiteral("\\RIVozud\\");
    if (CountFolderFiles(root) == 0) {
        std::fprintf(stderr, "no found files in %s/RIVozud\n", qPrintable(dir));
        return 1;
    }
    if (!qEnvironmentVariableIsSet("KEEP") && CacheDeleteAllowed(root + QStringLiteral("Thumbs\\"), root))
        DeleteCacheTree(root + QStringLiteral("Thumbs\\"));

    int items = 0, entries = 0;
    const double first = showGrid(root, items, entries);
    std::printf("first showing: %d found files, %d cells, %.2f s (the thumbnails made)\n", entries, items, first);
    int again = 0;
    const double second = showGrid(root, again, entries);
    std::printf("second showing: %d cells, %.2f s (the thumbnails kept)\n", again, second);
    std::printf("thumbnails per second: %.0f\n", first > 0 ? items / first : 0.0);
    return 0;
}
