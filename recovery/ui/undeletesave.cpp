// Saving quick-undelete entries: which selected lines are saved, the
// questions on incomplete and empty entries, the target (a new file under a
// free name), the entry's data from its FAT clusters, its NTFS runs or the
// mounted tree, then the cut to its size and its date.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/filedialog.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kPictureList =
    QStringLiteral(".jpeg.jpg.jpe.thm.ico.wmf.bmp.cur.png.gif.tiff.tif.kdc.jfif.mef.nef.dng.thc.rpc");

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('\\')) + 1);
}

} // namespace

void frmRecover::SaveUndeleteEntries(plat::ListBox &list, int firstLine, bool nameGiven, bool force)
{
    plat::pumpEvents();
    // What this call saves, also when it saves nothing.
    LastSaveTally = SaveTally{};
    const int selected = list.SelCount();
    if (selected == 0 || (!force && OperationBusy))
        return;
    // An entry is read from the medium it was listed on, or not at all: data
    // of another card in the drive never passes for the entry's file.
    if (!UndeleteListMedium.letter.isNull()) {
        const DriveIdentity listed = UndeleteListMedium;
        if (!CheckSourceMedium())
            return;
        if (SourceMedium != listed) {
            MsgBoxPositioned(hWnd(),
                             FormatString(GetString(2932, QStringLiteral("The medium in drive %0 is not the one listed: "
                                                                         "nothing was saved. Please press Quick Undelete "
                                                                         "to list it anew.")),
                                          {SourceName.left(2).toUpper()}),
                             plat::mb::OK + plat::mb::IconExclamation, GetString(384, QStringLiteral("Undelete")));
            return;
        }
    }
    const bool keptRunning = OperationRunning, keptBusy = OperationBusy;
    OperationRunning = true;
    OperationBusy = true;
    SaveRun run;
    const QString folderNative = plat::toNative(ChooserStartPath);
    if (!folderNative.isEmpty())
        QDir().mkpath(folderNative);
    if (!AskSaveName)
        ShowProgressPanel(QString(), selected - 1);
    // What the user sees of a long save (the main picture, the status line
    // and the progress bar) changes a few times a second, not per file.
    QElapsedTimer pictureShown, statusShown;
    auto timeToShow = [](QElapsedTimer &t, int ms) {
        if (t.isValid() && t.elapsed() < ms)
            return false;
        t.start();
        return true;
    };

    // Without questions, saved lines leave the selection a stretch at a time
    // when the status changes (one by one, each would cost a pass over the
    // list's selection): clearFrom to clearTo holds the clearCount saved
    // lines still selected, and no line that stays selected.
    int clearFrom = -1, clearTo = -1, clearCount = 0;
    int kept = -1;   // the last line visited that stays selected
    auto clearSaved = [&] {
        if (clearFrom >= 0)
            list.setSelectedRange(clearFrom, clearTo, false);
        clearFrom = -1;
        clearCount = 0;
    };

    int left = selected;   // the selected lines not yet visited
    std::optional<DeletedEntryStarts> starts;   // made for the first entry still to be judged
    for (int i = std::max(firstLine, 0); i < list.ListCount() && OperationRunning && left > 0; ++i) {
        if (!list.Selected(i))
            continue;
        --left;
        const int k = EntryIndexOfLine(list, i);
        if (k <= 0 || DeletedEntries[size_t(k)].IsDirectory()) {
            kept = i;
            continue;
        }
        if (DeletedEntries[size_t(k)].Recoverable == 0) {
            if (!starts)
                starts.emplace(DeletedEntries, DriveInfo(), SourceName);
            CheckDeletedChain(k, &*starts);
        }
        const DeletedEntryRecord &e = DeletedEntries[size_t(k)];
        if (!nameGiven)
            SaveName = EntrySaveName(e.MftIndex > 0 ? e.LongName : EntryLineText(list.List(i)));
        SaveFirstCluster = e.FirstCluster;
        SaveSize = e.Size;
        SaveSource = SourceName;
        const int64_t m = e.MftIndex, r = e.Recoverable;
        const bool inPart = e.RecoverableInPart();
        bool declined = false;
        SaveOutcome outcome = SaveOutcome::Skipped;
        if ((m + r >= 1 && !AskSaveName) || (!inPart && r != 0)) {
            QString name = SaveName;
            outcome = SaveUndeleteEntry(name, k);
            if (!AskSaveName && outcome != SaveOutcome::NotSaved && outcome != SaveOutcome::Cancelled
                && name.contains(QLatin1Char('.')) && kPictureList.contains(name.right(4), Qt::CaseInsensitive)
                && timeToShow(pictureShown, 250)) {
                Picture1.Cls();
                DrawThumbnail(plat::toInternal(SavedFilePath), Picture1, int(Picture1.Width()), int(Picture1.Height()));
            }
        } else if (AskSaveName) {
            if (r == 0 && (m == 0 || inPart)) {
                const QString size0 = GetString(627, QStringLiteral("Recovering size = 0"));
                if (BatchSave)
                    MsgBoxTimed(QString::number(hWnd()), size0, 0, GetString(384, QStringLiteral("Undelete")));
                else
                    MsgBoxPositioned(hWnd(),
                                     size0 + kCrLf
                                         + FormatString(GetString(1472, QStringLiteral("%0 not saved!")), {SaveName})
                                         + QStringLiteral("   "),
                                     plat::mb::OK + plat::mb::IconExclamation, GetString(384, QStringLiteral("Undelete")));
                outcome = SaveOutcome::NotSaved;
            } else if (r > 0 && inPart) {
                int answer = plat::id::Yes;
                if (!BatchSave)
                    answer = MsgBoxPositioned(
                        hWnd(),
                        GetString(629, QStringLiteral("This file is not complete."))
                            + FormatString(GetString(1412, QStringLiteral("Only the first %0 bytes are recoverable.")),
                                           {QString::number(r)})
                            + kCrLf + GetString(1413, QStringLiteral("Most likely the file is damaged.")) + kCrLf
                            + QLatin1Char(' ') + GetString(633, QStringLiteral("Save this file anyway?")),
                        plat::mb::YesNo + plat::mb::IconExclamation + plat::mb::DefButton2,
                        GetString(1414, QStringLiteral("Warning!")) + QStringLiteral("   "));
                if (answer == plat::id::Yes) {
                    QString name = SaveName;
                    outcome = SaveUndeleteEntry(name, k);
                } else {
                    declined = true;
                }
            }
        }
        if (outcome == SaveOutcome::Cancelled)
            break;
        LastSaveTally.add(outcome, outcome == SaveOutcome::Saved || outcome == SaveOutcome::Partial ? SavedFileBytes : 0);
        // A file written from clusters that may belong to another file is
        // said to be so when the user saves it by hand.
        if (outcome == SaveOutcome::Partial && AskSaveName && !BatchSave)
            MsgBoxPositioned(hWnd(),
                             FormatString(GetString(2154, QStringLiteral("%0 was saved, but not all of it could be read "
                                                                         "from its own clusters: it may be damaged.")),
                                          {QFileInfo(SavedFilePath).fileName()}),
                             plat::mb::OK + plat::mb::IconExclamation, GetString(384, QStringLiteral("Undelete")));
        // The line left selected last ends the loop; the status shows the
        // line saved last whenever the loop ends.
        const bool lastLine = !declined && list.SelCount() - clearCount == 1;
        if (declined || lastLine) {
            kept = i;
        } else if (AskSaveName) {
            list.setSelected(i, false);
        } else {
            if (clearFrom >= 0 && kept > clearTo)
                clearSaved();
            if (clearFrom < 0)
                clearFrom = i;
            clearTo = i;
            ++clearCount;
        }
        if (left == 0 || lastLine || timeToShow(statusShown, 100)) {
            clearSaved();
            if (!declined)
                lblStatus.setCaption(GetString(626, QStringLiteral("Status: saving  ")) + QLocale().toString(i));
            if (!AskSaveName)
                ProgressBar1.setValue(i);
        }
        if (lastLine)
            break;
        plat::pumpEvents();
    }
    clearSaved();
    OperationRunning = keptRunning;
    OperationBusy = keptBusy;
}

SaveOutcome frmRecover::SaveUndeleteEntry(QString &name, int index)
{
    // The file is cut to the entry's size and dated while it is still
    // temporary: under its final name it is only ever whole.
    return WriteUndeleteEntryFile(name, index);
}

SaveOutcome frmRecover::WriteUndeleteEntryFile(QString &name, int index)
{
    SavedFilePath.clear();
    SavedFileBytes = 0;
    if (index <= 0 || index >= int(DeletedEntries.size()))
        return SaveOutcome::NotSaved;
    const DeletedEntryRecord e = DeletedEntries[size_t(index)];

    // The target folder: asked for with the Save dialog when names are asked.
    QString folder = ChooserStartPath;
    if (!BatchSave && AskSaveName) {
        const QString previous = ChooserStartPath;
        for (;;) {
            QString mode = QStringLiteral("Save");
            int owner = hWnd();
            QString fileName = SaveName;
            QString title = ProgramTitle + QStringLiteral("  ") + GetString(400, QStringLiteral("Save"));
            QString start = folder;
            int flags = plat::ofn::OverwritePrompt | plat::ofn::HideReadOnly;
            const qsizetype dot = SaveName.indexOf(QLatin1Char('.'));
            const QString ext = dot < 0 ? QString() : SaveName.mid(dot + 1);
            QString filter = ext.isEmpty() ? QString() : ext.toUpper() + QStringLiteral("|*.") + ext;
            int filterIndex = 1;
            QString defaultExtension;
            const QString chosen =
                FileDialog(mode, owner, fileName, title, start, flags, filter, filterIndex, defaultExtension);
            if (chosen.isEmpty())
                return SaveOutcome::Cancelled;
            folder = folderOf(chosen);
            if (!RefuseSaveTarget(folder))
                break;
            ShowSameDiskWarning();
            folder = previous;
        }
        if (folder.compare(previous, Qt::CaseInsensitive) != 0) {
            ChooserStartPath = folder;
            // A previous save folder the program made and left empty goes;
            // nothing else of the user's is ever removed.
            const QString prevNative = plat::toNative(previous);
            const QDir prevDir(prevNative);
            if (!prevNative.isEmpty() && prevDir.dirName() == QLatin1String("Recovered") && prevDir.exists()
                && prevDir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
                QDir().rmdir(prevNative);
        }
    }
    // Never onto the disk being recovered from, whatever folder is set; the
    // folder made when it is missing. A run works this out once.
    SaveRun *run = SaveRun::current();
    auto targetOf = [&](bool again) {
        return run ? run->folder(folder, SourceName, CacheRoot, again) : SaveFolder::of(folder, SourceName, CacheRoot);
    };
    SaveFolder target = targetOf(false);

    // The file is written under its temporary name in the folder; inside
    // the cache (the preview's Temp folder) the program's own file of that
    // name is then replaced, elsewhere it takes a free name. A folder
    // removed since the entry before is made again.
    plat::PartFile part;
    auto openIn = [&](const SaveFolder &t) {
        return !t.onSourceDisk && !t.native.isEmpty()
               && (t.handle ? part.open(t.handle, name) : part.open(t.native, name));
    };
    if (!openIn(target)) {
        if (target.onSourceDisk || errno != ENOENT || !openIn(target = targetOf(true)))
            return SaveOutcome::NotSaved;
    }

    const DriveInfoRecord &d = DriveInfo();
    auto running = [this] {
        plat::pumpEvents();
        return OperationRunning;
    };
    bool wrote = false, whole = false;
    QFile *out = nullptr;   // the file's QFile, where the data went through one
    int64_t written = 0;    // bytes the file holds
    if (d.FileSystem == QLatin1String("NTFS")) {
        out = &part.file();
        // A stopped save leaves no file: what it wrote goes with its
        // temporary name.
        const NtfsWrite w = RecoverNtfsEntry(SourceName, e.MftIndex, *out, running);
        wrote = w != NtfsWrite::Failed && w != NtfsWrite::Stopped;
        whole = w == NtfsWrite::Complete;
    } else {
        const int64_t clusterBytes = int64_t(d.SectorsPerCluster) * d.BytesPerSector;
        const int64_t total = SaveSize > 0 ? SaveSize : clusterBytes;
        if (SavingExisting || !e.IsDeleted()) {
            // An existing file through the source's mounted tree, where it has one.
            const QString native = e.Path.isEmpty() ? QString() : plat::toNative(SourceName.left(2) + QLatin1Char('\\') + e.Path);
            if (!native.isEmpty() && QFileInfo(native).isFile()) {
                out = &part.file();
                const int64_t copied = CopyFileInto(native, *out, running);
                wrote = copied >= 0;
                whole = copied >= e.Size;
            }
        }
        if (!out) {
            const FatWriteResult w =
                WriteFatEntryData(SourceName, e, total, part.fd(), running, run ? &run->volume(SourceName) : nullptr);
            wrote = w.firstReadable && !w.writeFailed;
            // A deleted entry judged occupied (its clusters run into another
            // file's) is never whole, however its clusters read.
            whole = w.complete && !w.clustersInUse && (!e.IsDeleted() || (!e.RecoverableInPart() && e.Occupied == 0));
            written = w.bytes;
        }
    }
    // Nothing usable came of it: the temporary file goes again. (A QFile
    // opened on a new file and only written to stands at its size.)
    if (!wrote || (out && (!out->flush() || out->error() != QFileDevice::NoError)))
        return SaveOutcome::NotSaved;
    if (out)
        written = out->pos();
    // Cut to the entry's size and dated (its last-write and access times; a
    // date still to come is not given).
    if (e.Size >= 0 && written > e.Size) {
        if (!part.resize(e.Size))
            return SaveOutcome::NotSaved;
        written = e.Size;
    }
    qint64 date = 0;
    if (e.Modified > 0 && OleDateToMSecsSinceEpoch(e.Modified, date) && date < QDateTime::currentMSecsSinceEpoch())
        part.setTimes(date);
    const bool named = target.inCache ? part.commit(name, plat::PartFile::Existing::Replace) : CommitUnderFreeName(part, name, run);
    if (!named)
        return SaveOutcome::NotSaved;
    SavedFilePath = part.finalPath();
    SavedFileBytes = written;
    return whole ? SaveOutcome::Saved : SaveOutcome::Partial;
}
