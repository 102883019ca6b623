// preview FILE... : the found-file preview (List3_Click) of each picture on
// the headless main window, timed from the click to the drawn preview with
// its EXIF summary. Each file is copied into a temporary cache as a found
// file and clicked RUNS times (default 7; the environment variable RUNS);
// prints the fastest, median and slowest click, the process's peak memory so
// far and, beside them, one whole decode of the file by Qt for comparison
// (WHOLE=0 leaves it out).
#include "bench/headless.h"
#include "platform/paths.h"
#include "viewer/pictureops.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

int main(int argc, char **argv)
{
    BenchHome home("preview");
    if (!home.isValid())
        return 1;
    QApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: preview FILE...\n");
        return 2;
    }
    const int runs = std::max(1, qEnvironmentVariableIntValue("RUNS") ? qEnvironmentVariableIntValue("RUNS") : 7);

    frmRecover &w = MainWindow();
    useCache(w, plat::toInternal(home.path()) + QStringLiteral("\\RIVozud\\"));
    const QString cache = plat::toNative(w.CacheRoot);
    w.FoundFilePaths.clear();
    w.List3.Clear();
    for (int i = 0; i < files.size(); ++i) {
        const QString name = QStringLiteral("R#%1.%2").arg(i + 1, 4, 10, QLatin1Char('0')).arg(QFileInfo(files[i]).suffix());
        if (!QFile::copy(files[i], cache + '/' + name)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(files[i]));
            return 1;
        }
        w.FoundFilePaths << name;
        w.List3.AddItem(name);
    }
    w.ItemOrientations.assign(size_t(files.size()), 0.0f);
    std::printf("picture view: %d x %d pixels\n", w.Picture1.widget()->width(), w.Picture1.widget()->height());

    for (int i = 0; i < files.size(); ++i) {
        QImageReader header(files[i]);
        const QSize size = header.size();
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            w.FileListBusy = false;
            QElapsedTimer t;
            t.start();
            w.List3.setListIndex(i);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%s: %d x %d (%.1f MP), %lld bytes\n", qPrintable(QFileInfo(files[i]).fileName()), size.width(),
                    size.height(), double(size.width()) * size.height() / 1e6,
                    static_cast<long long>(QFileInfo(files[i]).size()));
        std::printf("  click to preview: fastest %.1f ms, median %.1f ms, slowest %.1f ms (%d runs)\n", ms.front(),
                    ms[ms.size() / 2], ms.back(), runs);
        std::printf("  process peak so far: %ld MB\n", usage.ru_maxrss / 1024);
        std::printf("  summary: %s\n", qPrintable(w.lblSpecs.Caption().replace(QStringLiteral("\r\n"), QStringLiteral(" | "))));
        if (!w.Picture1Canvas.printed.isEmpty())
            std::printf("  printed: %s\n", qPrintable(w.Picture1Canvas.printed.join(QStringLiteral(" | "))));
        if (qEnvironmentVariable("WHOLE") != QLatin1String("0")) {
            QElapsedTimer t;
            t.start();
            const QImage whole = LoadPicture(files[i]);
            const double wholeMs = double(t.nsecsElapsed()) / 1e6;
            std::printf("  whole decode by Qt: %.1f ms%s\n", wholeMs, whole.isNull() ? " (failed)" : "");
        }
    }
    DestroyMainWindow();
    return 0;
}
