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
    const QString folderNative = plat::toNative(ChooserStartPath);
    if (!folderNative.isEmpty())
        QDir().mkpath(folderNative);
    if (!AskSaveName)
        ShowProgressPanel(QString(), selected - 1);
    LastSaveTally = SaveTally{};
    // What the user sees of a long save (the main picture, the status line
    // and the progress bar) changes a few times a second, not per file.
    QElapsedTimer pictureShown, statusShown;
    auto timeToShow = [](QElapsedTimer &t, int ms) {
        if (t.isValid() && t.elapsed() < ms)
            return false;
        t.start();
        return true;
    };

    int left = selected;   // the selected lines not yet visited
    for (int i = std::max(firstLine, 0); i < list.ListCount() && OperationRunning && left > 0; ++i) {
        if (!list.Selected(i))
            continue;
        --left;
        const int k = EntryIndexOfLine(list, i);
        if (k <= 0)
            continue;
        if (DeletedEntries[size_t(k)].IsDirectory())
            continue;
        if (DeletedEntries[size_t(k)].Recoverable == 0)
            CheckDeletedChain(k);
        const DeletedEntryRecord &e = DeletedEntries[size_t(k)];
        if (!nameGiven)
            SaveName = EntrySaveName(e.MftIndex > 0 ? e.LongName : EntryLineText(list.List(i)));
        SaveFirstCluster = e.FirstCluster;
        SaveSize = e.Size;
        SaveSource = SourceName;
        const int64_t m = e.MftIndex, r = e.Recoverable, z = e.Size;
        bool declined = false;
        SaveOutcome outcome = SaveOutcome::Skipped;
        if ((m + r >= 1 && !AskSaveName) || (r == z && r != 0)) {
            QString name = SaveName;
            outcome = SaveUndeleteEntry(name, k);
            if (!AskSaveName && outcome != SaveOutcome::NotSaved && outcome != SaveOutcome::Cancelled
                && name.contains(QLatin1Char('.')) && kPictureList.contains(name.right(4), Qt::CaseInsensitive)
                && timeToShow(pictureShown, 250)) {
                Picture1.Cls();
                DrawThumbnail(plat::toInternal(SavedFilePath), Picture1, int(Picture1.Width()), int(Picture1.Height()));
            }
        } else if (AskSaveName) {
            if (r == 0 && m == 0) {
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
            } else if (r > 0 && r < z) {
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
        LastSaveTally.add(outcome, outcome == SaveOutcome::Saved || outcome == SaveOutcome::Partial
                                       ? QFileInfo(SavedFilePath).size()
                                       : 0);
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
        const bool lastLine = !declined && list.SelCount() == 1;
        if (!declined && !lastLine)
            list.setSelected(i, false);
        if (left == 0 || lastLine || timeToShow(statusShown, 100)) {
            if (!declined)
                lblStatus.setCaption(GetString(626, QStringLiteral("Status: saving  ")) + QLocale().toString(i));
            if (!AskSaveName)
                ProgressBar1.setValue(i);
        }
        if (lastLine)
            break;
        plat::pumpEvents();
    }
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
    // Never onto the disk being recovered from, whatever folder is set.
    if (TargetOnSourceDisk(folder, SourceName))
        return SaveOutcome::NotSaved;
    // The folder of the previous entry is known to exist.
    static QString knownFolder, knownNative;
    if (folder != knownFolder || !QFileInfo(knownNative).isDir()) {
        knownFolder = folder;
        knownNative = plat::toNative(folder);
        if (knownNative.isEmpty() || !QDir().mkpath(knownNative)) {
            knownFolder.clear();
            return SaveOutcome::NotSaved;
        }
    }
    const QString folderNative = knownNative;
    const bool inCache = !CacheRoot.isEmpty() && IsSameOrBelow(folder, CacheRoot);

    // The file is written under its temporary name in the folder; inside
    // the cache (the preview's Temp folder) the program's own file of that
    // name is then replaced, elsewhere it takes a free name.
    plat::PartFile part;
    if (!part.open(folderNative, name))
        return SaveOutcome::NotSaved;
    QFile &out = part.file();

    const DriveInfoRecord &d = DriveInfo();
    auto running = [this] {
        plat::pumpEvents();
        return OperationRunning;
    };
    bool wrote = false, whole = false;
    if (d.FileSystem == QLatin1String("NTFS")) {
        const NtfsWrite w = RecoverNtfsEntry(SourceName, e.MftIndex, out);
        wrote = w != NtfsWrite::Failed;
        whole = w == NtfsWrite::Complete;
    } else {
        const int64_t clusterBytes = int64_t(d.SectorsPerCluster) * d.BytesPerSector;
        const int64_t total = SaveSize > 0 ? SaveSize : clusterBytes;
        bool done = false;
        if (SavingExisting || !e.IsDeleted()) {
            // An existing file through the source's mounted tree, where it has one.
            const QString native = e.Path.isEmpty() ? QString() : plat::toNative(SourceName.left(2) + QLatin1Char('\\') + e.Path);
            if (!native.isEmpty() && QFileInfo(native).isFile()) {
                const int64_t copied = CopyFileInto(native, out, running);
                wrote = copied >= 0;
                whole = copied >= e.Size;
                done = true;
            }
        }
        if (!done) {
            const FatWriteResult w =
                WriteFatEntryData(SourceName, e, total, d.DriveType == QLatin1String("Fixed"), out, running);
            wrote = w.firstReadable && !w.writeFailed;
            whole = w.complete && !w.clustersInUse && (!e.IsDeleted() || e.Recoverable >= e.Size);
        }
    }
    // Nothing usable came of it: the temporary file goes again.
    if (!wrote || !out.flush() || out.error() != QFileDevice::NoError)
        return SaveOutcome::NotSaved;
    // Cut to the entry's size and dated (its last-write and access times; a
    // date still to come is not given).
    if (e.Size >= 0 && out.size() > e.Size && !out.resize(e.Size))
        return SaveOutcome::NotSaved;
    const QDateTime date = e.Modified > 0 ? OleDateToDateTime(e.Modified) : QDateTime();
    if (date.isValid() && date < QDateTime::currentDateTime()) {
        out.setFileTime(date, QFileDevice::FileModificationTime);
        out.setFileTime(date, QFileDevice::FileAccessTime);
    }
    const bool named = inCache ? part.commit(name, plat::PartFile::Existing::Replace) : CommitUnderFreeName(part, name);
    if (!named)
        return SaveOutcome::NotSaved;
    SavedFilePath = part.finalPath();
    return whole ? SaveOutcome::Saved : SaveOutcome::Partial;
}
