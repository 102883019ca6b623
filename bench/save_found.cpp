// save_found SRCDIR OUTDIR: Save All of found files through the main window,
// headless. The files of SRCDIR become the found files of a cache beside it
// (SRCDIR-cache/RIVozud/, hard links, so SRCDIR keeps its files and the cache
// lies on SRCDIR's file system); Save All moves them into OUTDIR (the folder
// chooser answered with OUTDIR, every question with its default button). On
// another file system each file is copied under its temporary name and
// renamed when whole. Prints the files and bytes saved and the seconds of the
// Save All command.
#include "bench/headless.h"
#include "drive/chooserpath.h"
#include "platform/paths.h"

#include <QApplication>
#include <QElapsedTimer>
#include <unistd.h>

int main(int argc, char **argv)
{
    BenchHome home("save_found");
    if (!home.isValid())
        return 1;
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: save_found SRCDIR OUTDIR\n");
        return 2;
    }
    const QString source = QFileInfo(args[1]).absoluteFilePath();
    const QString out = QFileInfo(args[2]).absoluteFilePath();
    const QString cache = source + QStringLiteral("-cache/RIVozud");
    QDir(source + QStringLiteral("-cache")).removeRecursively();
    QDir().mkpath(cache);
    QDir().mkpath(out);
    QStringList asked;
    answerByDefault(asked);
    frmRecover &w = MainWindow();
    useCache(w, plat::toInternal(cache) + QStringLiteral("\\"));
    w.List3.Clear();
    w.FoundFilePaths.clear();
    w.ItemOrientations.clear();
    int64_t bytes = 0;
    for (const QFileInfo &fi : QDir(source).entryInfoList(QDir::Files, QDir::Name)) {
        const QString to = cache + QLatin1Char('/') + fi.fileName();
        if (::link(QFile::encodeName(fi.absoluteFilePath()).constData(), QFile::encodeName(to).constData()) != 0) {
            std::fprintf(stderr, "cannot link %s\n", qPrintable(to));
            return 1;
        }
        w.List3.AddItem(fi.fileName());
        w.FoundFilePaths << fi.fileName();
        w.ItemOrientations.push_back(0.0f);
        bytes += fi.size();
    }
    const int files = int(w.FoundFilePaths.size());
    w.FoundFilePaths << QString();
    w.ItemOrientations.push_back(0.0f);
    w.List2.setVisible(false);
    w.List3.setVisible(true);
    ChooserStartPath = plat::toInternal(out) + QStringLiteral("\\");
    // The folder chooser: OK on the folder it offers (OUTDIR).
    FolderChooserAnswers chooser(QStringLiteral("Save All"), 1);

    QElapsedTimer wall;
    wall.start();
    w.CmdSaveAll_Click();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    chooser.stop();
    const int left = w.FoundFilePaths.size() > 1 || !w.FoundFilePaths.value(0).isEmpty() ? int(w.FoundFilePaths.size()) : 0;

    printAsked(asked);
    std::printf("files saved: %d\n", files - left);
    std::printf("bytes: %lld\n", static_cast<long long>(bytes));
    std::printf("seconds saving: %.3f\n", seconds);
    closeBench();
    QDir(source + QStringLiteral("-cache")).removeRecursively();
    return left == 0 ? 0 : 1;
}
