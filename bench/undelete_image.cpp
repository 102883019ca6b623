// undelete_image IMAGE OUTDIR [--all | --save-all] [--occupied]: Quick Undelete and the
// saving of its entries through the main window, headless. The image is
// attached as the removable drive E: (read-only); the Quick Undelete command
// lists it; then every deleted entry the lists offer (with --all the existing
// ones too) is saved into OUTDIR through the program's own saving of one
// entry, as Save All saves after its folder choice (no questions), each entry
// into the folder of its path below OUTDIR. With --save-all the Save All
// command itself runs instead, as the user runs it: the folder chooser
// answered with OUTDIR, every question with its default button, every entry
// it picks saved into OUTDIR itself (clashing names take free names). The
// program's home is a temporary folder, removed at the end. With --occupied
// it first prints the path of every entry of the occupied group, one a line.
// Prints on its last lines the entries listed, the files saved, the bytes and the seconds
// of the listing and of the saving.
#include "bench/headless.h"
#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "platform/paths.h"
#include "recovery/saving.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

// The processor seconds this process used so far (user and system): beside
// the wall clock, it tells the program's own work from a busy machine's.
double cpuSeconds()
{
    struct rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    auto secs = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

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

// The folder below OUTDIR of each line's entry, worked out before the clock
// starts (the program's Save All saves into one folder; this bench into one
// per folder of the medium): its index in `internal` (the program's own
// form, as the folder chooser would give it) and `native`, -1 for none.
struct FolderPlan {
    std::vector<int> ofLine;
    QStringList internal, native;
};

FolderPlan planFolders(frmRecover &w, plat::ListBox &list, const QString &outNative)
{
    FolderPlan plan;
    QString outInternal = plat::toInternal(outNative);
    if (!outInternal.endsWith(QLatin1Char('\\')))
        outInternal += QLatin1Char('\\');
    QHash<QString, int> known;
    for (int i = 0; i < list.ListCount(); ++i) {
        const int k = w.EntryIndexOfLine(list, i);
        if (k <= 0) {
            plan.ofLine.push_back(-1);
            continue;
        }
        const DeletedEntryRecord &e = w.DeletedEntries[size_t(k)];
        const QString pathFolder = e.Path.left(e.Path.lastIndexOf(QLatin1Char('\\')) + 1);
        auto at = known.find(pathFolder);
        if (at == known.end()) {
            const QString below = folderOf(e);
            plan.native << outNative + QLatin1Char('/') + below;
            plan.internal << outInternal + QString(below).replace(QLatin1Char('/'), QLatin1Char('\\'));
            at = known.insert(pathFolder, int(plan.native.size()) - 1);
        }
        plan.ofLine.push_back(*at);
    }
    return plan;
}

// Saves every entry a list offers, each into the folder of its path, as
// SaveUndeleteEntries saves one line in a Save All: the name the line shows,
// the entry's data, cut and dated. Each folder is made when its first file
// is saved.
Saved saveLines(frmRecover &w, plat::ListBox &list, const FolderPlan &plan)
{
    Saved saved;
    std::vector<bool> made(size_t(plan.native.size()), false);
    int folder = -1;
    for (int i = 0; i < list.ListCount(); ++i) {
        const int k = w.EntryIndexOfLine(list, i);
        if (k <= 0 || w.DeletedEntries[size_t(k)].IsDirectory())
            continue;
        if (w.DeletedEntries[size_t(k)].Recoverable == 0)
            w.CheckDeletedChain(k);
        const DeletedEntryRecord &e = w.DeletedEntries[size_t(k)];
        if (e.MftIndex + e.Recoverable < 1)
            continue;
        const int f = plan.ofLine[size_t(i)];
        if (f != folder) {
            if (!made[size_t(f)])
                QDir().mkpath(plan.native[f]);
            made[size_t(f)] = true;
            ChooserStartPath = plan.internal[f];
            folder = f;
        }
        w.SaveName = EntrySaveName(e.MftIndex > 0 ? e.LongName : EntryLineText(list.List(i)));
        w.SaveFirstCluster = e.FirstCluster;
        w.SaveSize = e.Size;
        w.SaveSource = w.SourceName;
        QString name = w.SaveName;
        const SaveOutcome outcome = w.SaveUndeleteEntry(name, k);
        // A whole file is cut to its size; a partial one may be shorter.
        if (outcome == SaveOutcome::Saved || outcome == SaveOutcome::Partial) {
            ++saved.files;
            saved.bytes += w.SavedFileBytes;
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
        std::fprintf(stderr, "usage: undelete_image IMAGE OUTDIR [--all | --save-all] [--occupied]\n");
        return 2;
    }
    const bool all = args.contains(QStringLiteral("--all"));
    const bool saveAll = args.contains(QStringLiteral("--save-all"));
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
    if (args.contains(QStringLiteral("--occupied")))
        for (int i = 0; i < w.List2.ListCount(); ++i) {
            const int k = w.EntryIndexOfLine(w.List2, i);
            if (k > 0 && w.DeletedEntries[size_t(k)].Occupied != 0)
                std::printf("occupied: %s\n", qPrintable(w.DeletedEntries[size_t(k)].Path));
        }

    if (saveAll) {
        ChooserStartPath = plat::toInternal(outNative) + QStringLiteral("\\");
        FolderChooserAnswers chooser(QStringLiteral("Save All"), 1);
        clock.restart();
        const double cpuBefore = cpuSeconds();
        w.CmdSaveAll_Click();
        const double saveSeconds = double(clock.nsecsElapsed()) / 1e9;
        const double saveCpu = cpuSeconds() - cpuBefore;
        chooser.stop();
        printAsked(asked);
        std::printf("entries listed: %d deleted, %d existing\n", deleted, existing);
        std::printf("files saved: %d (%d possibly damaged, %d not saved)\n",
                    w.LastSaveTally.saved + w.LastSaveTally.partial, w.LastSaveTally.partial, w.LastSaveTally.notSaved);
        std::printf("bytes saved: %lld\n", static_cast<long long>(w.LastSaveTally.bytes));
        std::printf("seconds listing: %.3f\n", listSeconds);
        std::printf("seconds saving: %.3f (processor %.3f)\n", saveSeconds, saveCpu);
        closeBench();
        return 0;
    }

    const FolderPlan deletedPlan = planFolders(w, w.List2, outNative);
    const FolderPlan existingPlan = all ? planFolders(w, w.List1, outNative) : FolderPlan{};
    clock.restart();
    const double cpuBefore = cpuSeconds();
    // As Save All after its folder choice: no questions, no previews, one
    // run of saves (as SaveUndeleteEntries holds).
    w.AskSaveName = false;
    w.BatchSave = true;
    w.OperationRunning = true;
    w.OperationBusy = true;
    auto run = std::make_unique<SaveRun>();
    Saved saved = saveLines(w, w.List2, deletedPlan);
    if (all) {
        w.SavingExisting = true;
        const Saved more = saveLines(w, w.List1, existingPlan);
        w.SavingExisting = false;
        saved.files += more.files;
        saved.bytes += more.bytes;
    }
    run.reset();
    w.OperationRunning = false;
    w.OperationBusy = false;
    const double saveSeconds = double(clock.nsecsElapsed()) / 1e9;
    const double saveCpu = cpuSeconds() - cpuBefore;

    printAsked(asked);
    std::printf("file system: %s\n", qPrintable(DriveInfo().FileSystem));
    std::printf("entries in the list: %d\n", w.DeletedEntriesUpperBound());
    std::printf("entries listed: %d deleted, %d existing\n", deleted, existing);
    std::printf("files saved: %d\n", saved.files);
    std::printf("bytes saved: %lld\n", static_cast<long long>(saved.bytes));
    std::printf("seconds listing: %.3f\n", listSeconds);
    std::printf("seconds saving: %.3f (processor %.3f)\n", saveSeconds, saveCpu);
    closeBench();
    return 0;
}
