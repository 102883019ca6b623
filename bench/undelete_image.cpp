// undelete_image IMAGE OUTDIR [--all]: Quick Undelete and the saving of its
// entries through the main window, headless. The image is attached as the
// removable drive E: (read-only); the Quick Undelete command lists it; then
// every deleted entry the lists offer (with --all the existing ones too) is
// saved into OUTDIR through the program's own saving of one entry, as Save
// All saves after its folder choice (no questions), each entry into the
// folder of its path below OUTDIR. The program's home is a temporary folder, removed at the
// end. Prints on its last lines the entries listed, the files saved, the
// bytes and the seconds of the listing and of the saving.
#include "bench/headless.h"
#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "platform/paths.h"
#include "recovery/saving.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>

namespace {

// The folder of an entry's path below OUTDIR, each component cleaned as
// saving cleans names.
QString folderOf(const DeletedEntryRecord &e)
{
    const QStringList parts = e.Path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QString folder;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        folder += EntrySaveName(parts[i]) + QLatin1Char('/');
    return folder;
}

struct Saved {
    int files = 0;
    int64_t bytes = 0;
};

// Saves every entry a list offers, each into the folder of its path, as
// SaveUndeleteEntries saves one line in a Save All: the name the line shows,
// the entry's data, cut and dated.
Saved saveLines(frmRecover &w, plat::ListBox &list, const QString &outNative)
{
    Saved saved;
    // The folders below OUTDIR, made once, in the program's own form as the
    // folder chooser would give them, by the folder part of entries' paths.
    QString outInternal = plat::toInternal(outNative);
    if (!outInternal.endsWith(QLatin1Char('\\')))
        outInternal += QLatin1Char('\\');
    QHash<QString, QString> folders;
    for (int i = 0; i < list.ListCount(); ++i) {
        const int k = w.EntryIndexOfLine(list, i);
        if (k <= 0 || w.DeletedEntries[size_t(k)].IsDirectory())
            continue;
        if (w.DeletedEntries[size_t(k)].Recoverable == 0)
            w.CheckDeletedChain(k);
        const DeletedEntryRecord &e = w.DeletedEntries[size_t(k)];
        if (e.MftIndex + e.Recoverable < 1)
            continue;
        const QString pathFolder = e.Path.left(e.Path.lastIndexOf(QLatin1Char('\\')) + 1);
        auto made = folders.find(pathFolder);
        if (made == folders.end()) {
            const QString below = folderOf(e);
            QDir().mkpath(outNative + QLatin1Char('/') + below);
            made = folders.insert(pathFolder, outInternal + QString(below).replace(QLatin1Char('/'), QLatin1Char('\\')));
        }
        ChooserStartPath = *made;
        w.SaveName = EntrySaveName(e.MftIndex > 0 ? e.LongName : EntryLineText(list.List(i)));
        w.SaveFirstCluster = e.FirstCluster;
        w.SaveSize = e.Size;
        w.SaveSource = w.SourceName;
        QString name = w.SaveName;
        const SaveOutcome outcome = w.SaveUndeleteEntry(name, k);
        // A whole file is cut to its size; a partial one may be shorter.
        if (outcome == SaveOutcome::Saved || outcome == SaveOutcome::Partial) {
            ++saved.files;
            saved.bytes += outcome == SaveOutcome::Saved ? e.Size : QFileInfo(w.SavedFilePath).size();
        }
    }
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    BenchHome home("undelete_image");
    if (!home.isValid())
        return 1;
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: undelete_image IMAGE OUTDIR [--all]\n");
        return 2;
    }
    const bool all = args.contains(QStringLiteral("--all"));
    QString image, outNative;
    if (!imageAndFolder(args[1], args[2], image, outNative) || !attachAsE(image))
        return 1;
    QStringList asked;
    answerByDefault(asked);

    frmRecover &w = MainWindow();
    const QString cache = home.path() + QStringLiteral("/cache/RIVozud");
    QDir().mkpath(cache);
    useCache(w, plat::toInternal(cache + QLatin1Char('/')));
    w.SourceName = QStringLiteral("E:");
    GetDriveInfo(w.SourceName);

    QElapsedTimer clock;
    clock.start();
    w.CmdQuickUndelete_Click();
    const double listSeconds = double(clock.nsecsElapsed()) / 1e9;
    int deleted = 0, existing = 0;
    for (int i = 0; i < w.List2.ListCount(); ++i)
        deleted += w.EntryIndexOfLine(w.List2, i) > 0;
    for (int i = 0; i < w.List1.ListCount(); ++i)
        existing += w.EntryIndexOfLine(w.List1, i) > 0;

    clock.restart();
    // As Save All after its folder choice: no questions, no previews.
    w.AskSaveName = false;
    w.BatchSave = true;
    w.OperationRunning = true;
    w.OperationBusy = true;
    Saved saved = saveLines(w, w.List2, outNative);
    if (all) {
        w.SavingExisting = true;
        const Saved more = saveLines(w, w.List1, outNative);
        w.SavingExisting = false;
        saved.files += more.files;
        saved.bytes += more.bytes;
    }
    w.OperationRunning = false;
    w.OperationBusy = false;
    const double saveSeconds = double(clock.nsecsElapsed()) / 1e9;

    printAsked(asked);
    std::printf("file system: %s\n", qPrintable(DriveInfo().FileSystem));
    std::printf("entries in the list: %d\n", w.DeletedEntriesUpperBound());
    std::printf("entries listed: %d deleted, %d existing\n", deleted, existing);
    std::printf("files saved: %d\n", saved.files);
    std::printf("bytes saved: %lld\n", static_cast<long long>(saved.bytes));
    std::printf("seconds listing: %.3f\n", listSeconds);
    std::printf("seconds saving: %.3f\n", saveSeconds);
    closeBench();
    return 0;
}
