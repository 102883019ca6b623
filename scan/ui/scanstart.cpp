// The Scan command of the main window: stops a running scan, or settles the
// cache root, offers the resume, SmartScan and MediaScan, builds the scan
// table (learning first where it applies), writes Searched.dat and runs the
// scan. The decisions themselves are in scan/scanstart.cpp.
#include "app/frmrecover.h"

#include "drive/bitmap.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/chooser.h"
#include "drive/ui/frmdirchoose.h"
#include "drive/ui/frmsearchdrives.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "scan/scanengine.h"
#include "scan/scanstart.h"
#include "scan/scantable.h"
#include "scan/signatures.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;
constexpr int kPointerArrowHourglass = 13;
// The cache choice asks the user at every refusal; this only keeps a fault
// elsewhere from turning it into a loop without end.
constexpr int kMaxCacheRounds = 1000;

QString withSlash(QString path)
{
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    return path;
}

QString stopText() { return GetString(259, QStringLiteral("Stop")); }
QString scanText() { return GetString(38, QStringLiteral("Scan")); }

// The table BuildScanFilter made is empty: one row without an extension.
bool tableIsEmpty(const SignatureRows &table)
{
    return table.empty() || (table.size() == 1 && table.front().Ext.isEmpty());
}

} // namespace

QString frmRecover::SearchedFilePath() const { return WorkFolder + QStringLiteral("Searched.dat"); }

void frmRecover::SyncScanResumeUnit()
{
    // The list file's copy is the newer one once a list was loaded: after a
    // restart it also tells whether a file was open at the stop, to go on
    // with it and the units noted inside it.
    if (ResumePosition != ScanResumeUnit()) {
        SetScanResumeUnit(ResumePosition);
        ScanResume.fileOpen = ResumePosition > 0 && ResumeFileOpen;
        ScanResume.inner = ScanResume.fileOpen ? ResumeInner : std::vector<InnerStart>{};
    }
}

void frmRecover::LoadCacheRootList(bool filesViewVisible)
{
    FoundFilePaths = QStringList{QString()};
    ItemOrientations.assign(1, 0.0f);
    ShownFolder = CacheRoot;
    RefillFoundFileList();
    SyncScanResumeUnit();
    List3.setVisible(true);
    List3.ZOrder(0);
    LvwFiles.setVisible(filesViewVisible);
}

void frmRecover::EndScanCommand()
{
    if (MakeCacheKey() != ListCacheKey) {
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        ShownFolder = CacheRoot;
        RefillFoundFileList();
    }
    if (CmdScan.Caption() == stopText())
        CmdScan.setCaption(scanText());
    plat::setScreenMousePointer(kPointerDefault);
    OperationBusy = false;
    OperationRunning = false;
    ListClickSuppressed = false;
}

QString frmRecover::ChooseCacheFolder(const QString &proposal)
{
    const QString earlier = ChooserStartPath;
    // The chooser can only show a folder that exists: a missing proposal is
    // made for it (one level) and removed again when it stayed empty.
    bool made = false;
    if (proposal.size() >= 4 && !FolderExists(proposal)) {
        const QString native = plat::toNative(proposal);
        const QFileInfo info(native);
        if (!native.isEmpty() && QFileInfo(info.absolutePath()).isDir())
            made = QDir().mkdir(native);
    }
    ChooserStartPath = proposal;
    ChosenPath = proposal;
    const QString answer =
        ChooseFolder(GetString(338, QStringLiteral("Please select a drive or folder for caching.")), this);
    if (made && CountFolderFiles(proposal) == 0)
        DeleteCacheTree(proposal);
    ChooserStartPath = earlier;
    return answer;
}

void frmRecover::CmdScan_Click()
{
    // 1. Guards.
    if (CmdEnd.ToolTipText().isEmpty() || EndPassCount > 0 || ShuttingDown) {
        CheckBusy();   // start-up is not finished, or the program is ending
        return;
    }
    ListFilters.setVisible(false);
    ListColors.setVisible(false);
    if (CmdSaveAll.Caption().contains(GetString(334, QStringLiteral("Saving")))
        || CmdScan.Caption().contains(GetString(337, QStringLiteral("Flushing, wait..."))))
        return;
    if (CmdShowThumbs.Caption().contains(GetString(603, QStringLiteral("Rendering")))) {
        CmdShowThumbs_Click();   // stops the rendering
        return;
    }
    plat::pumpEventsNow();
    if (OperationBusy) {
        CheckBusy();
        plat::pumpEventsNow();
        return;
    }
    if (CmdScan.Caption() == stopText()) {
        OperationRunning = false;   // the running scan's stop request
        plat::pumpEventsNow();
        return;
    }
    if (OperationRunning) {
        OperationRunning = false;
        CmdScan.setCaption(stopText());
        CheckBusy();
        plat::pumpEventsNow();
        return;
    }
    if (SourceName.isEmpty())
        return;   // no drive chosen: nothing to scan
    // The medium now in the drive, read afresh: another one is read as new,
    // one that cannot be read is said so.
    if (!CheckSourceMedium())
        return;

    OperationScope scope(*this);
    const DriveFacts facts = SystemDriveFacts();
    const QChar systemDrive = WindowsFolder.isEmpty() ? QLatin1Char('C') : WindowsFolder[0].toUpper();
    const QString boxTitle = ProgramTitle + QStringLiteral("  ");

    // 2. View.
    ListFilters.setVisible(false);
    ListColors.setVisible(false);
    lblStatus.setVisible(true);
    ShowDriveInfo();
    if (SizeLimitMin + SizeLimitMax <= 0)
        lblStatus.setCaption(QStringLiteral("File sizes: unlimited"));
    else
        lblStatus.setCaption(CmbTypeSelect.ListCount() > 0 ? CmbTypeSelect.List(0) : QString());
    Picture3.setVisible(true);

    // 3. The cache root and the resume position at the start.
    if (!FolderExists(CacheRoot))
        MakeDirNames();
    const QString startRoot = CacheRoot;
    const QString startPrevious = PrevCacheRoot;
    const QString savedRoot = CacheRoot;
    SyncScanResumeUnit();
    if (!ScanningImage && ScanResumeUnit() > 0 && SourceName == LastScanSource
        && !ResumeOnSameMedium(ScanMedium, uint32_t(LastScanSerial), SourceMedium)) {
        MsgBoxPositioned(hWnd(), ResumeRefusedText(SourceName, uint32_t(LastScanSerial), SourceMedium),
                         plat::mb::OK + plat::mb::IconExclamation, ScanBoxTitle(ProgramTitle));
        SetScanResumeUnit(0);
    }
    int64_t resume = HeldResumePosition(SourceName, LastScanSource, MakeCacheKey(), ListCacheKey, ScanResumeUnit());
    const bool filesViewVisible = LvwFiles.Visible();

    // 4. The cache choice.
    bool refused = false;          // after a refusal the chooser is always offered
    bool chooserAnswered = false;  // the chooser returned a folder in this click
    bool settled = false;
    for (int round = 0; round < kMaxCacheRounds && !settled; ++round) {
        // 4.1 - 4.3
        const bool skipChooser =
            !refused && (RecoveryStage != 0 || resume != 0 || facts.fixedDrives().size() < 2);
        QString root = CacheRoot;
        if (!skipChooser) {
            const QString best = BestOtherDrive(facts, systemDrive, CacheRoot, ScanningImage ? QString() : SourceName);
            if (!FolderExists(CacheRoot)) {
                CacheRoot.clear();
                MakeDirNames();
            }
            CacheRoots roots{CacheRoot, PrevCacheRoot, OlderCacheRoot};
            if (SwapEmptyPreviousRoot(roots, facts)) {
                PrevCacheRoot = roots.previous;
                OlderCacheRoot = roots.older;
            }
            ProposalFacts p;
            p.source = SourceName;
            p.sourceIsImage = ScanningImage;
            p.systemDrive = systemDrive;
            p.bestDrive = best;
            p.sameMedium = DriveInfo().VolumeSerial == uint32_t(LastScanSerial);
            p.fallback = DefaultCacheRoot();
            QString answer = ChooseCacheFolder(ProposeCacheFolder(roots, p, facts));
            if (ChooserCancelled(answer) || answer.size() < 2) {
                CacheRoot = savedRoot;
                EndScanCommand();
                return;
            }
            chooserAnswered = true;
            root = withSlash(answer);
        }

        // 4.4
        CloseMft();
        CacheRoot = withSlash(root);
        MakeDirNames();

        // 4.5, 4.6: never on the disk being recovered from; only drives that
        // take a cache.
        const CacheRefusal why = RefuseCacheRoot(CacheRoot, SourceName, ScanningImage, RecoveryStage == 0, facts);
        if (why != CacheRefusal::None) {
            const QString text =
                why == CacheRefusal::SourceDisk ? SourceDiskRefusalText() : DriveTypeRefusalText(CacheRoot);
            CacheRoot = savedRoot;
            MsgBoxPositioned(hWnd(), text, plat::mb::OK + plat::mb::IconExclamation,
                             boxTitle + GetString(265, QStringLiteral("Backup")));
            refused = true;
            continue;
        }

        if (RecoveryStage == 0) {
            // 4.7
            const QString key = MakeCacheKey();
            if (resume != 0
                && !ResumeStillApplies(key, ListCacheKey, uint32_t(LastScanSerial), DriveInfo().VolumeSerial)) {
                resume = 0;
                CacheRoot = savedRoot;
                continue;
            }
            if (key != ListCacheKey) {
                LoadCacheRootList(false);
                resume = ScanResumeUnit();
            }

            // 4.8
            ScanResumeState state;
            state.point = ScanResume;
            state.LastScanSource = LastScanSource;
            state.LastScanSerial = uint32_t(LastScanSerial);
            const int answer = AskResumeScan(
                state, SourceName, SourceName.left(2), DriveInfo().VolumeSerial, CountFolderFiles(CacheRoot),
                ScanBoxTitle(ProgramTitle), [this](const QString &title, const QString &text) {
                    return MsgBoxPositioned(hWnd(), text, plat::mb::YesNo, title) == plat::id::Yes;
                });
            if (state.point.unit != ScanResumeUnit())
                SetScanResumeUnit(state.point.unit);
            else
                ScanResume = state.point;
            if (answer == plat::id::No) {
                CacheRoot = savedRoot;
                if (MakeCacheKey() != ListCacheKey)
                    LoadCacheRootList(filesViewVisible);
                EndScanCommand();
                return;
            }
            if (answer == 10) {
                resume = ScanResumeUnit();
            } else {
                resume = 0;
                if (!ScanningImage && SourceName.startsWith(CacheRoot.left(1), Qt::CaseInsensitive)
                    && !chooserAnswered) {
                    // The cache on the drive being read: choose another. (An
                    // image is a file: a cache beside it cannot overwrite it.)
                    refused = true;
                    continue;
                }
            }
        }

        // 4.9
        if (resume != 0) {
            settled = true;
            break;
        }
        int result = 0;
        bool room = false;
        CheckTargetFreeSpace(CacheRoot, result, room);
        if (result == plat::id::OK || result == plat::id::Yes) {
            settled = true;
            break;
        }
        CacheRoot = savedRoot;
        refused = true;
    }
    if (!settled) {
        CacheRoot = savedRoot;
        EndScanCommand();
        return;
    }

    // 5. The chosen root; the one left keeps its files reachable.
    SetScanResumeUnit(resume);
    MakeDirNames();
    if (CacheRoot != startRoot && CountFolderFiles(startRoot) > 0) {
        if (CountFolderFiles(startPrevious) > 0)
            OlderCacheRoot = startRoot;
        else
            PrevCacheRoot = startRoot;
    }

    // 6. Scan modes.
    if (ChkDamaged.Value() == 1 && ChkDeep.Value() != 1) {
        ChkDamaged.setValue(0);
        ChkDeep.setValue(0);
    }
    OperationRunning = true;

    const QString driveType = DriveInfo().DriveType;
    const bool removable = driveType == QLatin1String("Removable");
    bool searched = false;
    QString extensions;

    // 7. SmartScan.
    if (!ScanningImage && ChkDeep.Value() != 1) {
        if (DeletedEntriesUpperBound() < 5 && removable) {
            ResetDeletedEntries();
            OperationRunning = false;
            SearchDeletedEntries(SourceName);
            OperationRunning = true;
        }
        if (ScanResumeUnit() == 0) {
            int answer = plat::id::No;
            if (driveType != QLatin1String("CDRom")) {
                int64_t start = 0, run = 0, last = 0;
                FindFreeClusterRun(SourceName, start, run, last);
                if (run > 1) {
                    answer = plat::id::Yes;
                    if (!CacheRoot.startsWith(SourceName.left(1), Qt::CaseInsensitive)) {
                        if (ListsDirectoryEntries(DeletedEntriesUpperBound(), DriveInfo().RootDirEntries))
                            answer = MsgBoxPositioned(hWnd(), SmartScanQuestion(), plat::mb::YesNoCancel,
                                                      SmartScanTitle(ProgramTitle, SourceName));
                    } else {
                        // Free clusters are exactly what a cache on the source
                        // would overwrite.
                        MsgBoxPositioned(hWnd(), CacheOnSourceText(SourceName),
                                         plat::mb::OK + plat::mb::IconExclamation, SmartScanNoticeTitle(ProgramTitle));
                        EndScanCommand();
                        return;
                    }
                }
            }
            if (answer == plat::id::Cancel || answer == 0) {
                EndScanCommand();
                return;
            }
            SmartScanActive = answer == plat::id::Yes;
        }
        plat::setScreenMousePointer(kPointerHourglass);
        const int upper = DeletedEntriesUpperBound();
        const DeletedEntryStarts starts(DeletedEntries, DriveInfo(), SourceName);
        for (int i = 1; i <= upper; ++i)
            CheckDeletedChain(i, &starts);
        for (const ScanDeletedEntry &e : DeletedEntriesForScan())
            if (e.Name.contains(QLatin1Char('.')))
                AddEntryExtension(extensions, e.Name);
        // The existing files of the medium, for MediaScan.
        if (removable && RecoveryStage == 0 && ScanResumeUnit() == 0) {
            SearchDrives().Zoekfiles(QStringLiteral("*"), SourceName.left(1));
            searched = true;
        }
    }

    // 8. MediaScan.
    if (RecoveryStage != 0) {
        ResetDeletedEntries();
    } else if (ScanResumeUnit() == 0) {
        if (searched && SearchDrivesLoaded()) {
            frmSearchDrives &search = SearchDrives();
            for (int i = 0; i < search.List1.ListCount(); ++i) {
                const QString item = search.List1.List(i);
                if (item.contains(QLatin1Char('.')))
                    AddFoundFileExtension(extensions, item);
            }
        }
        UnloadSearchDrives();
        plat::setScreenMousePointer(kPointerDefault);
        if (!extensions.isEmpty()) {
            const MediaScanLists lists = MediaScanTypes(TypeRows(), extensions);
            if (!lists.candidates.isEmpty()) {
                const int answer = MsgBoxPositioned(hWnd(), MediaScanQuestion(lists, SourceName),
                                                    plat::mb::YesNoCancel, MediaScanTitle(ProgramTitle));
                if (answer == plat::id::Yes) {
                    for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
                        if (!LvwTypes.ItemChecked(i) && InWordList(lists.candidates, LvwTypes.ItemText(i).trimmed()))
                            LvwTypes.setItemChecked(i, true);
                    ClearSignatureTable(SignatureTable);
                } else if (answer != plat::id::No) {
                    EndScanCommand();
                    return;
                }
            }
        }
    }
    if (searched)
        UnloadSearchDrives();
    plat::setScreenMousePointer(kPointerDefault);

    // 9. The scan table; the types of a card are learned first.
    CmdScan.setCaption(stopText());
    plat::pumpEventsNow();
    BuildScanFilter(TypeRows());
    if (!tableIsEmpty(SignatureTable) && !ScanningImage && ScanResumeUnit() == 0) {
        const int upper = DeletedEntriesUpperBound();
        if (removable || (upper >= 5 && upper <= 999)) {
            CmdLearn_Click();   // unattended: it sees the Stop caption
            BuildScanFilter(TypeRows());
        }
    }
    if (tableIsEmpty(SignatureTable)) {
        MsgBoxPositioned(hWnd(),
                         GetString(547, QStringLiteral("Please first check some types on the search list to scan for.")),
                         plat::mb::OK + plat::mb::IconExclamation, QStringLiteral("DO Vizorira"));
        CmdScan.setCaption(scanText());
        plat::setScreenMousePointer(kPointerDefault);
        OperationRunning = false;
        CmdShowScanTypes_Click();
        return;
    }

    // 10. Before the scan. Saving refuses the disk named in Searched.dat as
    // its target: without the file no scan may begin.
    OperationRunning = true;
    const uint32_t serial = DriveInfo().VolumeSerial;
    if (!WriteSearchedFile(SearchedFilePath(), SourceName, serial)) {
        MsgBoxPositioned(hWnd(),
                         FormatString(GetString(1516, QStringLiteral("Cannot open %0 ")), {SearchedFilePath()}),
                         plat::mb::OK + plat::mb::IconExclamation, ScanBoxTitle(ProgramTitle));
        EndScanCommand();
        return;
    }
    if (RecoveryStage == 0) {
        Picture7.setVisible(false);
        ShowPictureView();
        List1.Clear();
        List2.Clear();
        if (ScanResumeUnit() == 0)
            List3.Clear();
        List3.ZOrder(0);
    }
    LvwTypes.setVisible(false);
    CmbTypeSelect.setVisible(false);
    PictureOrientation = 0;
    ShownFolder = CacheRoot;
    SourceDrive = SourceName;
    SourceVolumeSerial = int32_t(serial);
    CmdScan.setCaption(stopText());
    plat::pumpEventsNow();
    CmdShowThumbs.setEnabled(true);
    plat::setScreenMousePointer(kPointerArrowHourglass);
    if (RecoveryStage == 0) {
        MakeDirNames();
        // The root left becomes the previous one, unless step 5 already
        // keeps it (the previous root would then be forgotten).
        if (CacheRoot != startRoot && PrevCacheRoot != startRoot && OlderCacheRoot != startRoot)
            PrevCacheRoot = startRoot;
    }
    LvwFiles.setVisible(filesViewVisible);

    // 11. The scan.
    OperationRunning = true;
    if (ScanResumeUnit() == 0)
        ScanMedium = ScanningImage ? DriveIdentity{} : SourceMedium;
    ScanDisk();
    List3_Click();
    ResetDeletedEntries();
    GetDriveInfo(SourceName);

    // 12.
    EndScanCommand();
}
