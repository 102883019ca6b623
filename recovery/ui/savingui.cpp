// Save All and Save Selected: found files move out of the cache into the save
// folder; in the quick-undelete view the chosen entries are written. A target
// on the disk being recovered from, or inside the cache, is refused.
#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/chooser.h"
#include "drive/ui/filedialog.h"
#include "drive/ui/frmdirchoose.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "scan/scanstart.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString withSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('\\');
}

bool nonEmptyFile(const QString &internalPath)
{
    const QFileInfo info(plat::toNative(internalPath));
    return info.isFile() && info.size() > 0;
}

bool gone(const QString &internalPath)
{
    const QString native = plat::toNative(internalPath);
    return native.isEmpty() || !QFileInfo::exists(native);
}

} // namespace

void frmRecover::ShowSameDiskWarning()
{
    MsgBoxPositioned(hWnd(),
                     GetString(395, QStringLiteral("You are trying to save to the disk recovered from.")) + QStringLiteral("   ")
                         + kCrLf + GetString(396, QStringLiteral("This would severely limit further recovering.")) + kCrLf
                         + kCrLf + GetString(397, QStringLiteral("Please select another drive or disk.")),
                     plat::mb::OK + plat::mb::IconStop,
                     GetString(1404, QStringLiteral("Checks")) + QStringLiteral("  ") + ProgramTitle);
}

bool frmRecover::RefuseSaveTarget(const QString &target)
{
    // The cache itself: saving there would remove what it saves.
    if (!CacheRoot.isEmpty() && IsSameOrBelow(target, CacheRoot))
        return true;
    if (TargetOnSourceDisk(target, SourceName))
        return true;
    // The medium of the last scan, while it is still the one in its drive.
    if (!SourceDrive.isEmpty() && TargetOnSourceDisk(target, SourceDrive)
        && int32_t(GetVolumeSerial(SourceDrive)) == SourceVolumeSerial)
        return true;
    return false;
}

bool frmRecover::ChooseSaveFolder(const QString &fallback, const QString &caption)
{
    for (;;) {
        const QString chosen = ChooseFolder(caption, this);
        if (ChooserCancelled(chosen) || chosen.isEmpty())
            return false;
        QString folder = chosen;
        if (folder.size() <= 3)
            folder = withSlash(folder) + QStringLiteral("Recovered\\");
        folder = withSlash(folder);
        ChooserStartPath = folder;
        if (!RefuseSaveTarget(folder))
            return true;
        ShowSameDiskWarning();
        ChooserStartPath = fallback;
    }
}

void frmRecover::CmdSaveAll_Click()
{
    if (OperationRunning || OperationBusy) {
        const QString caption = CmdSaveAll.Caption();
        if (caption == GetString(391, QStringLiteral("Saving")) + QStringLiteral("...")
            || caption == GetString(725, QStringLiteral("Checking")) + QStringLiteral("..."))
            OperationRunning = false;
        else
            CheckBusy();
        return;
    }
    if (CacheRoot.isEmpty() || !FolderExists(CacheRoot))
        return;
    const QString caption = GetString(2152, QStringLiteral("Save All. Please select a folder for saving."))
        + QStringLiteral("  ") + ProgramTitle;

    if (!List2.Visible()) {
        // --- the found files ---------------------------------------------------
        if (List3.ListCount() == 0) {
            ShowNoFilesNotice();
            return;
        }
        OperationScope scope(*this);
        QString source;
        uint32_t serial = 0;
        if (ReadSearchedFile(SearchedFilePath(), -1, source, serial)) {
            SourceDrive = source;
            SourceVolumeSerial = int32_t(serial);
        }
        for (;;) {
            const QString previous = ChooserStartPath;
            if (!ChooseSaveFolder(previous, caption)) {
                ChooserStartPath = previous;
                return;
            }
            bool clash = false;
            if (CountFolderFiles(ChooserStartPath) > 0)
                for (const QString &f : FoundFilePaths)
                    if (!f.isEmpty() && FileExists(ChooserStartPath + f)) {
                        clash = true;
                        break;
                    }
            if (clash) {
                const int answer = MsgBoxPositioned(
                    hWnd(),
                    FormatString(GetString(1403, QStringLiteral("The folder %0 allready has files with the same name. ")),
                                 {ChooserStartPath})
                        + kCrLf
                        + GetString(388, QStringLiteral("When filenames are the same, you will be asked what to do.     "))
                        + kCrLf + kCrLf + GetString(100, QStringLiteral("Do you want to continue?")),
                    plat::mb::YesNo, GetString(394, QStringLiteral("Save All")) + QStringLiteral("  ") + ProgramTitle);
                if (answer != plat::id::Yes) {
                    ChooserStartPath = previous;
                    continue;
                }
            }
            break;
        }
        plat::pumpEventsNow();
        if (List3.ListCount() == 0)
            return;
        for (const QString &folder : {ThumbsFolder, BrowseThumbsFolder, CacheTempFolder, ConvFolder})
            if (!folder.isEmpty() && FolderExists(folder))
                DeleteCacheTree(folder);

        // Every found file is moved on its own, so that each one that could
        // not be moved (or copied) stays listed and in the cache.
        const int last = int(FoundFilePaths.size()) - 1;
        const bool resumable = ResumePosition > 0;
        QList<int> stay;
        int notSaved = 0, saved = 0;
        for (int i = 0; i <= last; ++i) {
            const QString f = FoundFilePaths[i];
            if (f.isEmpty())
                continue;
            const QString from = CacheRoot + f;
            if (resumable && i == last) {
                stay << i;   // the file the resumed scan goes on writing
                continue;
            }
            if (!nonEmptyFile(from)) {
                if (!gone(from))
                    stay << i;
                continue;
            }
            // A clash asks; a found file the user keeps back stays listed.
            const bool ok = MoveFiles(from, ChooserStartPath + f, false);
            if (gone(from)) {
                ++saved;
                continue;
            }
            stay << i;
            if (!ok)
                ++notSaved;
        }
        // The list keeps the files that stayed.
        QStringList keptPaths;
        std::vector<float> keptOrientations;
        for (int i : stay) {
            keptPaths << FoundFilePaths[i];
            keptOrientations.push_back(size_t(i) < ItemOrientations.size() ? ItemOrientations[size_t(i)] : 0.0f);
        }
        for (int i = last; i >= 0; --i)
            if (!stay.contains(i)) {
                if (i < List3.ListCount())
                    List3.RemoveItem(i);
                if (i + 1 <= LvwFiles.ItemCount())
                    LvwFiles.RemoveItem(i + 1);
            }
        if (keptPaths.isEmpty()) {
            keptPaths << QString();
            keptOrientations.push_back(0.0f);
        }
        FoundFilePaths = keptPaths;
        ItemOrientations = keptOrientations;
        CreateCacheFolders();
        DeleteOrphanFiles(ConvFolder);
        RenderThumbnails();
        UpdateDriveInfoLabel();
        SaveScanList();
        ShowSaveReport(saved, ChooserStartPath);
        if (notSaved > 0)
            MsgBoxPositioned(hWnd(),
                             FormatString(GetString(2153, QStringLiteral("%0 files were not saved; they stay in the cache.")),
                                          {QString::number(notSaved)}),
                             plat::mb::OK + plat::mb::IconExclamation,
                             GetString(394, QStringLiteral("Save All")) + QStringLiteral("  ") + ProgramTitle);
        return;
    }

    // --- the quick-undelete entries ----------------------------------------------
    if (List1.ListCount() < 3 && List2.ListCount() < 3) {
        ShowNoFilesNotice();
        return;
    }
    OperationScope scope(*this);
    OperationBusy = true;
    if (ChooseSaveFolder(ChooserStartPath, caption)) {
        CmdSaveAll.setCaption(GetString(725, QStringLiteral("Checking")) + QStringLiteral("..."));
        OperationRunning = true;
        // NTFS entries are judged by all their runs, which the table gives.
        bool open = true;
        if (DriveInfo().FileSystem == QLatin1String("NTFS")
            && !(NtfsModule().MftLoaded && NtfsModule().OpenedSource == SourceName))
            open = OpenMft(SourceName);
        ShowProgressPanel(QString(), List2.ListCount());
        // Only what the test below picks is saved, whatever was selected before.
        for (int i = 0; i < List2.ListCount(); ++i)
            if (List2.Selected(i))
                List2.setSelected(i, false);
        // The picked lines are selected a stretch at a time.
        int pickedFrom = -1, pickedTo = -1;
        auto selectPicked = [&] {
            if (pickedFrom >= 0)
                List2.setSelectedRange(pickedFrom, pickedTo, true);
            pickedFrom = -1;
        };
        for (int i = 2; i < List2.ListCount() && OperationRunning && open; ++i) {
            const int k = EntryIndexOfLine(List2, i);
            if (k > 0) {
                DeletedEntryRecord &e = DeletedEntries[size_t(k)];
                // The first cluster (NTFS: every run) looked at again. A FAT
                // entry whose first cluster is free is saved from the free
                // clusters only, so one with clusters of another file in its
                // way is picked too (and stays marked occupied).
                bool picked = false;
                if ((e.Recoverable != 0 || e.RecoverableInPart()) && e.MftIndex > 0 && e.Occupied == 0) {
                    e.Occupied = NtfsEntryClusterUse(SourceName, e.MftIndex, false) == ClusterUse::Used ? -1 : 0;
                    picked = e.Occupied == 0;
                } else if (e.Recoverable != 0 && e.MftIndex == 0) {
                    if (e.FirstCluster != 0
                        && SourceClusterUse(SourceName, uint32_t(e.FirstCluster), false) == ClusterUse::Used)
                        e.Occupied = -1;
                    else
                        picked = true;
                }
                if (picked && pickedFrom >= 0 && i == pickedTo + 1) {
                    pickedTo = i;
                } else if (picked) {
                    selectPicked();
                    pickedFrom = pickedTo = i;
                }
            }
            ProgressBar1.setValue(i);
            plat::pumpEvents();
        }
        selectPicked();
        SourceClusterUse(SourceName, 0, true);
        CmdSaveAll.setCaption(GetString(391, QStringLiteral("Saving")) + QStringLiteral("..."));
        AskSaveName = false;
        BatchSave = true;
        if (open && List2.SelCount() > 0) {
            SaveUndeleteEntries(List2, 0, false, true);
            SourceClusterUse(SourceName, 0, true);
            List2.AddItem(GetString(393, QStringLiteral("Files saved in folder: ")) + ChooserStartPath);
            CmdShowFolder.setCaption(GetString(1635, QStringLiteral("Explore Folder")));
            const SaveTally &t = LastSaveTally;
            ShowSaveReport(t.saved + t.partial, ChooserStartPath);
            if (t.partial > 0 || t.notSaved > 0)
                MsgBoxPositioned(hWnd(),
                                 FormatString(GetString(2155, QStringLiteral("Saved whole: %0. Saved, but possibly damaged "
                                                                             "(incomplete, or from clusters another file "
                                                                             "uses now): %1. Not saved: %2.")),
                                              {QString::number(t.saved), QString::number(t.partial),
                                               QString::number(t.notSaved)}),
                                 plat::mb::OK + plat::mb::IconExclamation,
                                 GetString(394, QStringLiteral("Save All")) + QStringLiteral("  ") + ProgramTitle);
        }
        AskSaveName = true;
        BatchSave = false;
    }
    for (plat::ListBox *list : {&List1, &List2})
        for (int i = 0; i < list->ListCount(); ++i)
            if (list->Selected(i))
                list->setSelected(i, false);
    CmdSaveAll.setCaption(GetString(394, QStringLiteral("Save All")));
    ProgressBar1.setValue(ProgressBar1.Min());
    OperationRunning = false;
    OperationBusy = false;
}

void frmRecover::CmdSaveAs_Click()
{
    if (OperationRunning || OperationBusy) {
        CheckBusy();
        return;
    }
    if (CacheRoot.isEmpty() || !FolderExists(CacheRoot) || !CacheRoot.contains(QLatin1String("RIVozud")))
        return;

    if (!List2.Visible()) {
        // --- the found files ---------------------------------------------------
        BatchSave = false;
        SyncListSelections(LvwFiles.Visible() ? 0 : 1);
        if (List3.ListCount() == 0) {
            ShowNoFilesNotice();
            return;
        }
        if (List3.SelCount() == 0) {
            ShowSelectFileNotice();
            return;
        }
        OperationScope scope(*this);
        const int n = List3.SelCount();
        QString source;
        uint32_t serial = 0;
        if (ReadSearchedFile(SearchedFilePath(), -1, source, serial)) {
            SourceDrive = source;
            SourceVolumeSerial = int32_t(serial);
        }
        int moved = 0, failed = 0;
        int lastMoved = -1;   // the highest index moved
        QString acceptedFolder;   // a target folder that passed the checks
        bool stop = false;
        int last = std::min<int>(List3.ListCount(), int(FoundFilePaths.size())) - 1;
        if (ResumePosition >= 1)
            --last;
        for (int i = last; i >= 0 && !stop; --i) {
            if (!List3.Selected(i) || i >= FoundFilePaths.size())
                continue;
            const QString f = FoundFilePaths[i];
            if (f.isEmpty())
                continue;
            const qsizetype dot = f.indexOf(QLatin1Char('.'));
            const QString x = dot < 0 ? QString() : f.mid(dot);
            if (FileExists(ChooserStartPath + f))
                BatchSave = false;
            QString t;
            for (;;) {
                t = ChooserStartPath;
                const bool exists = FileExists(ChooserStartPath + f);
                if (n >= 2 && !BatchSave && moved == 0 && failed == 0 && !exists) {
                    const QString chosen =
                        ChooseFolder(GetString(398, QStringLiteral("Save Multiple   Please select a folder for saving.")), this);
                    if (ChooserCancelled(chosen) || chosen.isEmpty()) {
                        stop = true;
                        break;
                    }
                    t = withSlash(chosen);
                } else if (exists || (n == 1 && moved == 0)) {
                    QString mode = QStringLiteral("Save");
                    int owner = hWnd();
                    QString fileName = f;
                    QString title = GetString(400, QStringLiteral("Save")) + QStringLiteral("  ") + ProgramTitle;
                    QString start = ChooserStartPath;
                    int flags = plat::ofn::OverwritePrompt | plat::ofn::HideReadOnly;
                    const QString bare = x.mid(1).toUpper();
                    QString filter = bare.isEmpty() ? QString() : bare + QStringLiteral("|*") + x;
                    int filterIndex = 1;
                    QString defaultExtension;
                    t = FileDialog(mode, owner, fileName, title, start, flags, filter, filterIndex, defaultExtension);
                }
                // A folder is checked once: the files after the first go
                // into the folder it took.
                const QString tFolder = t.left(t.lastIndexOf(QLatin1Char('\\')) + 1);
                if (t.isEmpty() || tFolder == acceptedFolder)
                    break;
                if (!RefuseSaveTarget(tFolder)) {
                    acceptedFolder = tFolder;
                    break;
                }
                ShowSameDiskWarning();
            }
            if (stop)
                break;
            BatchSave = true;
            if (t.isEmpty())
                break;
            if (n == 1)
                t = ApplySaveExtension(t, x);
            const QString folder = t.left(t.lastIndexOf(QLatin1Char('\\')) + 1);
            const QString g = t.mid(folder.size());
            const QString target = (n == 1 || g.contains(f, Qt::CaseInsensitive)) && !g.isEmpty() ? g : f;
            ChooserStartPath = folder;
            const QString from = CacheRoot + f;
            if (!nonEmptyFile(from))
                continue;
            // An existing target is replaced only by a complete copy (the
            // user agreed in the Save dialog); the move is checked.
            if (MoveFiles(from, folder + target, true) && gone(from)) {
                if (moved == 0)
                    lastMoved = i;
                ++moved;
                int32_t index = i;
                bool force = false, removed = false;
                RemoveRecoveredFile(index, force, removed);
            } else {
                ++failed;
            }
        }
        if (moved > 0) {
            SaveScanList();
            DeleteOrphanCacheFiles();
            if (FoundFilePaths.size() <= 1)
                UpdateDriveInfoLabel();
            // The line after the last one saved is the next to look at.
            SelectNextAfterSave(lastMoved - (moved - 1));
        }
        if (moved + failed > 0)
            ShowSaveReport(moved, ChooserStartPath);
        BatchSave = false;
        if (failed > 0)
            MsgBoxPositioned(hWnd(),
                             FormatString(GetString(2153, QStringLiteral("%0 files were not saved; they stay in the cache.")),
                                          {QString::number(failed)}),
                             plat::mb::OK + plat::mb::IconExclamation,
                             GetString(400, QStringLiteral("Save")) + QStringLiteral("  ") + ProgramTitle);
        return;
    }

    // --- the quick-undelete entries ----------------------------------------------
    for (int i = 1; i < List2.ListCount(); ++i) {
        const int k = EntryIndexOfLine(List2, i);
        if (List2.Selected(i) && k > 0 && DeletedEntries[size_t(k)].Recoverable == 0
            && !DeletedEntries[size_t(k)].RecoverableInPart()) {
            OperationBusy = true;   // no preview while lines are deselected
            List2.setSelected(i, false);
            OperationBusy = false;
        }
    }
    if (List1.ListCount() < 3 && List2.ListCount() < 3) {
        ShowNoFilesNotice();
        return;
    }
    if (List1.SelCount() == 0 && List2.SelCount() == 0) {
        ShowSelectFileNotice();
        return;
    }
    OperationScope scope(*this);
    AskSaveName = true;
    BatchSave = false;
    int saved = 0, tried = 0;
    const auto count = [&] {
        saved += LastSaveTally.saved + LastSaveTally.partial;
        tried += LastSaveTally.saved + LastSaveTally.partial + LastSaveTally.notSaved;
    };
    if (List1.SelCount() > 0) {
        SavingExisting = true;
        SaveUndeleteEntries(List1, 0, false, true);
        count();
        ChkDamaged.setValue(0);
        SavingExisting = false;
    }
    if (List2.SelCount() > 0) {
        SaveUndeleteEntries(List2, 0, false, true);
        count();
    }
    if (tried > 0)
        ShowSaveReport(saved, ChooserStartPath);
    OperationRunning = false;
    OperationBusy = false;
}
