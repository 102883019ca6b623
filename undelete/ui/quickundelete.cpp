// The Quick Undelete command: the search (FAT walk, DirEnt.dat, or the NTFS
// listing), the judging of every entry and the two entry lists.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/sectors.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/volumecontrol.h"
#include "undelete/direntcache.h"

#include <QElapsedTimer>

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;
constexpr int kPointerArrowHourglass = 13;

const QString kCrLf = QStringLiteral("\r\n");

bool isDriveSource(const QString &source)
{
    const QString s = source.trimmed();
    return (s.size() == 2 || (s.size() == 3 && s[2] == QLatin1Char('\\'))) && s[1] == QLatin1Char(':')
        && s[0].isLetter();
}

// The volume handle of the NTFS bitmap queries, held between calls.
struct HeldBitmapVolume {
    plat::Handle handle;
    QChar letter;
    void release()
    {
        if (handle.valid())
            handle.close();
        handle = {};
        letter = QChar();
    }
};

HeldBitmapVolume &heldBitmapVolume()
{
    static HeldBitmapVolume v;
    return v;
}

} // namespace

QString frmRecover::UndeleteTypeFilter() const
{
    QString filter;
    const int count = LvwTypes.ItemCount();
    int checked = 0;
    for (int i = 1; i <= count; ++i)
        if (LvwTypes.ItemChecked(i)) {
            filter += QLatin1Char('.') + LvwTypes.ItemText(i).trimmed().toLower();
            ++checked;
        }
    if (checked == 0 || checked == count || DriveInfo().DriveType == QLatin1String("Removable"))
        return QStringLiteral("all");
    return filter;
}

QString frmRecover::DirEntFilePath(const QString &source) const
{
    return WorkFolder + DirEntFileName(source);
}

ClusterUse frmRecover::SourceClusterUse(const QString &source, int64_t cluster, bool closeAfterwards, int64_t count)
{
    const DriveInfoRecord &d = DriveInfo();
    HeldBitmapVolume &held = heldBitmapVolume();
    // Used as soon as one cluster is in use; Free only when every one is
    // known to be free.
    ClusterUse use = count > 0 ? ClusterUse::Free : ClusterUse::Unknown;
    if (d.FileSystem != QLatin1String("NTFS")) {
        for (int64_t i = 0; i < count && use != ClusterUse::Used; ++i) {
            const ClusterUse u = FatClusterUse(d, cluster + i);
            use = u == ClusterUse::Free ? use : u;
        }
    } else if (cluster > 0 && count > 0 && isDriveSource(source)) {
        const QChar letter = source.trimmed()[0].toUpper();
        if (held.letter != letter) {
            held.release();
            held.handle = OpenRawVolume(QString(letter) + QLatin1Char(':'));
            held.letter = letter;
        }
        // A piece of the bitmap at a time (a run may span a large file).
        constexpr int64_t kPieceBytes = 1 << 16;
        for (int64_t at = cluster, end = cluster + count; at < end && use == ClusterUse::Free;) {
            const int64_t bits = std::min(end - at, kPieceBytes * 8 - at % 8);
            const plat::VolumeBitmap bm = plat::volumeBitmap(held.handle, at, int((at % 8 + bits + 7) / 8));
            if ((int64_t(bm.bytes.size()) * 8) < at % 8 + bits) {
                use = ClusterUse::Unknown;   // no bitmap, or clusters past the volume's end
                break;
            }
            for (int64_t i = at % 8; i < at % 8 + bits; ++i)
                if ((uint8_t(bm.bytes[qsizetype(i / 8)]) >> (i % 8)) & 1) {
                    use = ClusterUse::Used;
                    break;
                }
            at += bits;
        }
    } else {
        use = ClusterUse::Unknown;
    }
    if (closeAfterwards)
        held.release();
    return use;
}

void frmRecover::VulUndeleteList(const QString &)
{
    // The walk keeps one converter for all folders; a single call converts
    // the current folder into the list as it stands.
    if (DeletedEntries.empty())
        DeletedEntries.assign(1, DeletedEntryRecord{});
    FatEntryConverter converter(DeletedEntries, DriveInfo());
    converter.Convert(DriveInfo().CurrentDirEntries, QString(), 0);
}

void frmRecover::CheckDeletedChain(int index, const DeletedEntryStarts *starts)
{
    if (index < 0 || index >= int(DeletedEntries.size()))
        return;
    DeletedEntryRecord &r = DeletedEntries[size_t(index)];
    std::optional<DeletedEntryStarts> own;
    if (!starts && r.MftIndex == 0 && r.IsDeleted())
        starts = &own.emplace(DeletedEntries, DriveInfo(), SourceName);
    ::CheckDeletedChain(r, DriveInfo(), starts);
    // A FAT entry is recoverable in part where its clusters end before its
    // size (NTFS entries are marked by their listing).
    if (r.MftIndex == 0)
        r.SetRecoverableInPart(r.Recoverable > 0 && r.Recoverable < r.Size);
}

void frmRecover::SearchDeletedEntries(const QString &source)
{
    OperationBusy = true;
    LastSearchReusedCache = false;
    LastFatWalk = FatWalkResult{};
    CmdQuickUndelete.setCaption(GetString(377, QStringLiteral("Searching...")));
    UpdateDriveInfoLabel();
    DriveInfoRecord &d = DriveInfo();
    if (isDriveSource(source) && (d.BytesPerSector == 0 || d.DriveLetter != source.trimmed()[0].toUpper()))
        GetDriveInfo(source);

    // The walk writes its first entry into slot 1.
    DeletedEntries.assign(1, DeletedEntryRecord{});
    const QString filter = UndeleteTypeFilter();

    if (!isDriveSource(source)) {
        // A disk image is listed through its index file (Scan Backup).
    } else if (DriveInfo().FileSystem == QLatin1String("NTFS")) {
        QuickUndeleteNtfs(source, DeletedEntries, filter, SizeLimitMin, SizeLimitMax);
    } else if (DriveInfo().FirstDataSector != 0) {
        const DriveInfoRecord &drive = DriveInfo();
        FatEntryConverter converter(DeletedEntries, drive);
        const uint32_t rootCluster = drive.FileSystem == QLatin1String("FAT32") ? uint32_t(drive.RootCluster) : 0;
        converter.Convert(drive.RootDirEntries, QString(), rootCluster);
        plat::setScreenMousePointer(kPointerHourglass);

        std::vector<DeletedEntryRecord> cached;
        const QString cache = plat::toNative(DirEntFilePath(source));
        if (!cache.isEmpty()
            && ReadDirEntFile(cache, drive.Fingerprint, drive.VolumeSerial, cached) == DirEntRead::Accepted) {
            DeletedEntries = std::move(cached);
            LastSearchReusedCache = true;
        } else {
            // The walk, breadth-wise, within TotalMB / 2048 + 15 seconds.
            QElapsedTimer clock;
            clock.start();
            const double limitMs = (drive.TotalMB / 2048.0 + 15.0) * 1000.0;
            FatWalkHooks hooks;
            hooks.timeUp = [&] { return double(clock.elapsed()) >= limitMs; };
            hooks.progress = [this](int value, int maximum) {
                ProgressBar1.setMax(std::max(1, maximum));
                ProgressBar1.setValue(value);
            };
            hooks.betweenPasses = [] { plat::pumpEvents(); };
            LastFatWalk = WalkFatFolders(source, DeletedEntries, converter, hooks);
        }
    }
    CutTrailingEmptySlots(DeletedEntries);
    plat::setScreenMousePointer(kPointerDefault);
    CmdQuickUndelete.setCaption(GetString(45, QStringLiteral("Quick Undelete")));
    OperationRunning = false;
    OperationBusy = false;
}

void frmRecover::AddEntryLine(plat::ListBox &list, int index, bool occupied, const QString &text)
{
    list.AddItem(EntryLine(index, occupied, text));
    list.setItemData(list.NewIndex(), index);
}

int frmRecover::EntryIndexOfLine(const plat::ListBox &list, int line) const
{
    if (line < 0 || line >= list.ListCount())
        return -1;
    const int index = list.ItemData(line);
    return index > 0 && index < int(DeletedEntries.size()) ? index : -1;
}

void frmRecover::CmdQuickUndelete_Click()
{
    if (OperationBusy || OperationRunning || UndeleteListing) {
        CheckBusy();
        return;
    }
    if (RecoveryStage >= 1)
        return;
    // The medium in the drive now: a listing of another one is never shown.
    if (!CheckSourceMedium())
        return;
    CmbTypeSelect.setVisible(false);
    if (!List2.Visible()) {
        ResultViewState = 1;
        UpdateThumbsCaption();
    }

    const bool reuse = List2.ListCount() > 9 && SourceName == UndeleteLastDrive && !TypeSelectionChanged
        && UndeleteListMedium == SourceMedium;
    if (!reuse) {
        ResetDeletedEntries();
        TypeSelectionChanged = false;
        UndeleteLastDrive = SourceName;
        UndeleteListMedium = SourceMedium;
        UpdateDriveInfoLabel();
        SourceDrive = SourceName;
        SourceVolumeSerial = int32_t(SourceMedium.serial);

        plat::setScreenMousePointer(kPointerHourglass);
        OperationRunning = false;
        UndeleteListing = true;
        if (DriveInfo().DriveType != QLatin1String("Removable")) {
            for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
                LvwTypes.setItemSelected(i, false);
            if (!LvwTypes.Visible()) {
                if (CmbTypeSelect.ListCount() > 0)
                    CmbTypeSelect.setListIndex(0);
                LvwTypes.setVisible(true);
            }
            LvwTypes.SetFocus();
        }
        plat::pumpEventsNow();
        SearchDeletedEntries(SourceName);
        UndeleteListing = true;
        OperationBusy = true;

        plat::setScreenMousePointer(kPointerArrowHourglass);
        SortDeletedEntries();
        CmdQuickUndelete.setCaption(GetString(725, QStringLiteral("Checking")) + QStringLiteral("..."));
        List1.Clear();
        List2.Clear();
        List1.AddItem(QLatin1Char(' ') + FormatString(GetString(1598, QStringLiteral("Listed on %0")), {SourceName}));
        List1.AddItem(QString());
        List2.AddItem(QLatin1Char(' ') + FormatString(GetString(1489, QStringLiteral("Deleted on %0")), {SourceName}));
        List2.AddItem(QString());
        const int upper = DeletedEntriesUpperBound();
        ShowProgressPanel(QString(), upper);

        const bool ntfs = DriveInfo().FileSystem == QLatin1String("NTFS");
        QStringList occupiedLines;
        QList<int> occupiedIndexes;
        const DeletedEntryStarts starts(DeletedEntries, DriveInfo(), SourceName);
        for (int k = 0; k <= upper; ++k) {
            if ((k & 255) == 0) {
                ProgressBar1.setValue(k);
                plat::pumpEvents();
            }
            DeletedEntryRecord &r = DeletedEntries[size_t(k)];
            const QString n = TrimBlanks(r.Name.toLower());
            if (n.isEmpty())
                continue;
            // Resident NTFS data has no cluster to look at.
            if (r.FirstCluster != 0)
                r.Occupied = SourceClusterUse(SourceName, uint32_t(r.FirstCluster), false) == ClusterUse::Used ? -1 : 0;
            else
                r.Occupied = 0;
            if (r.IsDirectory())
                continue;
            if (r.IsDeleted() || ntfs) {
                if (r.Name.contains(QLatin1String(".tmp"), Qt::CaseInsensitive)
                    || r.LongName.endsWith(QLatin1String(".tmp"), Qt::CaseInsensitive))
                    continue;
                CheckDeletedChain(k, &starts);
                const DeletedEntryRecord &c = DeletedEntries[size_t(k)];
                // An NTFS entry of which nothing can be saved is listed all
                // the same: saving it says it was not saved.
                const bool recoverable = c.Recoverable > 0 || (c.MftIndex > 0 && c.RecoverableInPart());
                if (recoverable && c.Occupied == 0) {
                    AddEntryLine(List2, k, false, EntryLineName(c, EntryLineKind::Deleted));
                    // An entry sharing the first cluster is judged next (the
                    // list is sorted by first cluster on FAT).
                    if (!ntfs)
                        for (int j = k + 1; j <= upper && DeletedEntries[size_t(j)].FirstCluster == c.FirstCluster; ++j)
                            if (DeletedEntries[size_t(j)].IsDeleted()) {
                                if (j != k + 1)
                                    std::swap(DeletedEntries[size_t(k + 1)], DeletedEntries[size_t(j)]);
                                break;
                            }
                } else if (recoverable) {
                    occupiedLines << EntryLineName(c, EntryLineKind::Occupied);
                    occupiedIndexes << k;
                }
            } else {
                r.Occupied = 0;
                AddEntryLine(List1, k, false, EntryLineName(r, EntryLineKind::Existing));
            }
        }
        SourceClusterUse(SourceName, 0, true);
        if (List2.ListCount() >= 3)
            List2.AddItem(QString());
        if (!occupiedLines.isEmpty()) {
            List2.AddItem(QString());
            QString heading = GetString(652, QStringLiteral("Recovery: impossible"));
            heading.remove(QLatin1Char(':'));
            List2.AddItem(QStringLiteral(" @=") + heading + QLatin1Char(':'));
            List2.AddItem(QString());
            for (qsizetype i = 0; i < occupiedLines.size(); ++i)
                AddEntryLine(List2, occupiedIndexes[i], true, occupiedLines[i]);
        }
        if (List1.ListCount() == 2 && !ntfs && isDriveSource(SourceName)) {
            // The drive's own listing of its files, where its tree is at hand.
            QStringList files;
            ListFolderFiles(SourceName.left(2) + QLatin1Char('\\'), files);
            for (const QString &path : files)
                if (!path.isEmpty())
                    List1.AddItem(path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1));
        }
        if (List2.ListCount() > 0 && List2.List(List2.ListCount() - 1).isEmpty())
            List2.RemoveItem(List2.ListCount() - 1);
        ProgressBar1.setValue(ProgressBar1.Max());

        // The cache holds the entries of the medium whose identity it records:
        // the one listed, still in the drive when the listing ended.
        if ((upper >= 2001 || DriveInfo().DriveType == QLatin1String("CDRom"))
            && GetVolumeSerial(SourceName) == UndeleteListMedium.serial) {
            const QString cache = plat::toNative(DirEntFilePath(SourceName));
            if (!cache.isEmpty())
                WriteDirEntFile(cache, UndeleteListMedium.fingerprint, UndeleteListMedium.serial, DeletedEntries);
        }
        UndeleteLastKey = SourceName + QString::number(SourceVolumeSerial);
        plat::setScreenMousePointer(kPointerDefault);
        CmdQuickUndelete.setCaption(GetString(45, QStringLiteral("Quick Undelete")));
        PictureOrientation = 0;
        UndeleteListing = false;
        OperationRunning = false;
        OperationBusy = false;

        // Past their two header lines a list holds its entries: one entry
        // (three lines) is a result too.
        const int a = List1.ListCount(), b = List2.ListCount();
        if (a < 3 && b < 3 && !ntfs) {
            MsgBoxTimed(QString::number(hWnd()),
                        FormatString(GetString(1402, QStringLiteral("No directory information found on Drive %0")),
                                     {SourceName})
                            + kCrLf + GetString(383, QStringLiteral("Try scanning the drive.")),
                        0, GetString(384, QStringLiteral("Undelete")));
            ShowPictureView();
        } else if (b < 3) {
            List2.Clear();
            List2.AddItem(SourceName + QLatin1Char(' ') + DriveInfo().FileSystem + QStringLiteral(": ")
                          + GetString(1622, QStringLiteral("no files found.")));
        }
    }

    if (List2.ListCount() >= 3) {
        CmdSaveAll.setEnabled(true);
        CmdSaveAs.setEnabled(true);
    }
    for (plat::Control *c : std::initializer_list<plat::Control *>{&CmbTypeSelect, &List3, &Picture7, &lblStatus,
                                                                  &Picture3, &LvwFiles, &LvwTypes})
        c->setVisible(false);
    List2.ZOrder(0);
    List2.setVisible(true);
    List2.SetFocus();
    if (List1.ListCount() >= 3) {
        Picture1.setVisible(false);
        List1.setVisible(true);
        List1.ZOrder(0);
    }
    OperationBusy = false;
    UndeleteListing = false;
    OperationRunning = false;
    plat::setScreenMousePointer(kPointerDefault);
    plat::pumpEventsNow();
}
