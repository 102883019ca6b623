// Backup Medium and Scan Backup on the main window: the choice of the
// backup folder, the copy of the medium into an image with its index, the
// list of the image indexes, and the scan of an image in the medium's place.
// The copy itself is recovery/diskimage.cpp.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/drivelist.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/sectors.h"
#include "drive/strings.h"
#include "drive/system.h"
#include "drive/ui/chooser.h"
#include "drive/ui/filedialog.h"
#include "drive/ui/frmdirchoose.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/cachenames.h"
#include "recovery/diskimage.h"
#include "recovery/imageindex.h"
#include "recovery/stagedrecovery.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kMaxFolderRounds = 1000;
const QString kBackupTemp = QStringLiteral("backuptemp.dat");

QString withSlash(QString p)
{
    if (!p.isEmpty() && !p.endsWith(QLatin1Char('\\')))
        p += QLatin1Char('\\');
    return p;
}

QString stopText() { return GetString(259, QStringLiteral("Stop")); }
QString backupText() { return GetString(261, QStringLiteral("Backup")); }

// "#####": a whole number without leading zeros; "##0.0": one decimal.
QString wholeText(double v) { return QString::number(std::llround(std::max(0.0, v))); }
QString rateText(double v) { return QString::number(std::max(0.0, v), 'f', 1); }

QString megabytes(int64_t bytes) { return QString::number(double(bytes) / 1048576.0, 'f', 1); }

// What killed backups of this medium left in the folder is named, never
// offered as a backup and never deleted: it may hold hours of reading.
void mentionLeftoverImages(int owner, const QString &folderNative, QChar letter, const QString &label,
                           const QString &title)
{
    const QStringList names = LeftoverDiskImages(folderNative, letter, label);
    if (names.isEmpty())
        return;
    QString text = GetString(2480, QStringLiteral("An earlier backup of this medium was ended before it finished. What "
                                                  "it had copied is kept in a hidden file that is not offered as a "
                                                  "backup and that the program never deletes:"));
    for (const QString &n : names) {
        const QString path = folderNative + QLatin1Char('/') + n;
        text += QStringLiteral("\r\n") + path + QStringLiteral(" (") + megabytes(QFileInfo(path).size())
                + QStringLiteral(" MB)");
    }
    MsgBoxPositioned(owner, text, plat::mb::OK + plat::mb::IconInformation, title);
}

} // namespace

QString frmRecover::BackupTempPath() const { return withSlash(BackupFolder) + kBackupTemp; }

void frmRecover::CmdBackup_Click()
{
    if (CmdBackup.Caption() == stopText()) {
        OperationRunning = false;   // the copy stops at its next read
        CmdBackup.setCaption(backupText());
        return;
    }
    if (RefuseWhileBusy())
        return;
    if (SourceName.isEmpty() || SourceName.size() >= 5)
        return;   // no drive chosen (an image is not backed up)
    // The medium in the drive now, read afresh.
    if (!CheckSourceMedium())
        return;
    const QString title = ProgramTitle + QStringLiteral("  ") + GetString(265, QStringLiteral("Backup"));

    if (RecoveryStage != 2) {
        const QString earlierStart = ChooserStartPath;
        bool accepted = false;
        for (int round = 0; round < kMaxFolderRounds && !accepted; ++round) {
            const QString start = BackupFolder.isEmpty() ? earlierStart : BackupFolder;
            ChooserStartPath = start;
            ChosenPath = start;
            const QString answer =
                ChooseFolder(GetString(271, QStringLiteral("Backup. Please select a drive/folder for saving.")), this);
            ChooserStartPath = earlierStart;
            if (ChooserCancelled(answer) || answer.isEmpty())
                return;
            const QString folder = withSlash(plat::canonicalInternal(answer));
            if (folder.size() >= 2 && plat::sameDisk(folder, SourceName[0])) {
                MsgBoxPositioned(hWnd(),
                                 GetString(273, QStringLiteral("Cannot use the same disk for saving.")) + QStringLiteral("\r\n")
                                     + GetString(274, QStringLiteral("Please select another drive.")),
                                 plat::mb::OK + plat::mb::IconExclamation, title);
                continue;
            }
            if (folder.size() < 4) {
                MsgBoxTimed(QString::number(hWnd()),
                            GetString(275, QStringLiteral("Please select a folder.")) + QStringLiteral("   "), 0, title);
                continue;
            }
            if (folder.contains(QLatin1Char('"'))) {
                // The index names its image between double quotes.
                MsgBoxPositioned(hWnd(),
                                 GetString(2450, QStringLiteral("A folder whose name holds a double quote cannot keep "
                                                                "disk images. Please select another folder.")),
                                 plat::mb::OK + plat::mb::IconExclamation, title);
                continue;
            }
            int32_t totalMB = 0;
            const double freeMB = GetDiskSpaceMB(folder, totalMB);
            if (freeMB - 2000 < 1.2 * DriveInfo().TotalMB) {
                const int answerSpace = MsgBoxPositioned(
                    hWnd(), GetString(276, QStringLiteral("Not enough disk space. Please select another drive.")),
                    plat::mb::OKCancel + plat::mb::IconExclamation, title);
                if (answerSpace == plat::id::OK)
                    continue;
                return;
            }
            BackupFolder = folder;
            accepted = true;
        }
        if (!accepted)
            return;
    }

    OperationScope scope(*this);
    OperationRunning = true;
    CmdBackup.setCaption(stopText());
    BackupDiskImage();
    OperationRunning = false;
    OperationBusy = false;
    CmdBackup.setCaption(backupText());
    EnableButtons();
}

void frmRecover::BackupDiskImage()
{
    OperationScope scope(*this);
    const QString title = ProgramTitle + QStringLiteral("  ") + GetString(265, QStringLiteral("Backup"));
    // 1.
    const QString date = MakeValidFileName(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QString list;
    ListDiskImages(list);

    // 2. The target folder.
    BackupFolder = withSlash(BackupFolder);
    if (RecoveryStage != 2 && !BackupFolder.contains(kDiskImagesSub, Qt::CaseInsensitive))
        BackupFolder += kDiskImagesSub;
    // Never onto the medium being copied, whatever the folder's history.
    if (BackupFolder.size() < 4 || SourceName.isEmpty() || plat::sameDisk(BackupFolder, SourceName[0])) {
        MsgBoxPositioned(hWnd(),
                         GetString(273, QStringLiteral("Cannot use the same disk for saving.")) + QStringLiteral("\r\n")
                             + GetString(274, QStringLiteral("Please select another drive.")),
                         plat::mb::OK + plat::mb::IconExclamation, title);
        return;
    }
    const QString folderNative = plat::toNative(BackupFolder);
    if (folderNative.isEmpty() || !QDir().mkpath(folderNative)) {
        MsgBoxPositioned(hWnd(), FormatString(GetString(1516, QStringLiteral("Cannot open %0 ")), {BackupFolder}),
                         plat::mb::OK + plat::mb::IconExclamation, title);
        return;
    }

    // 3. The geometry as the platform reports it.
    const QChar letter = SourceName.isEmpty() ? QChar() : SourceName[0].toUpper();
    DriveInfoRecord &record = DriveInfo();
    if (record.BytesPerSector == 0 || record.DriveLetter != letter)
        GetDriveInfo(SourceName);
    QString label = record.VolumeLabel;
    if (auto info = plat::volumeInformation(letter)) {
        record.VolumeLabel = CutAtNul(info->label).trimmed();
        record.VolumeSerial = info->serial;
        label = record.VolumeLabel;
    }
    int32_t bps = 0, spc = 0;
    double clusters = 0;
    if (auto g = plat::diskGeometry(letter)) {
        spc = int32_t(g->sectorsPerCluster);
        bps = int32_t(g->bytesPerSector);
        clusters = double(g->totalClusters);
    }
    // 4.
    if (spc <= 0 || bps <= 0) {
        const int answer = MsgBoxPositioned(
            hWnd(),
            GetString(613, QStringLiteral("Impossible to retrieve disk data.")) + QStringLiteral(" ")
                + GetString(614, QStringLiteral("Operation not sure.")) + QStringLiteral("\r\n")
                + GetString(1599, QStringLiteral("However, you may proceed.")),
            plat::mb::OKCancel + plat::mb::IconExclamation, backupText());
        if (answer != plat::id::OK)
            return;
        spc = 8;
        bps = 512;
    }
    const double totalClusters = std::max(clusters, record.TotalSectors / spc);

    // The medium, read-only; its end is where the image ends.
    plat::Handle medium = plat::openVolume(letter, plat::Access::Read);
    if (!medium.valid()) {
        MsgBoxPositioned(hWnd(),
                         GetString(560, QStringLiteral("Disk is either protected by Windows or damaged and unreadable.")),
                         plat::mb::OK + plat::mb::IconExclamation, title);
        return;
    }
    const int64_t mediumBytes = std::max<qint64>(0, medium.size());

    // 5. The image, under its temporary name until it is finished or
    // stopped; its index is written then (none in stage 2, whose file the
    // final stage reads even after a kill).
    QString name;
    plat::Handle image;
    plat::PartFile part;
    const bool withIndex = RecoveryStage != 2;
    if (withIndex) {
        mentionLeftoverImages(hWnd(), folderNative, letter, label, title);
        if (CreateDiskImage(part, folderNative, letter, label, date, name))
            image.fd = part.fd();   // the part file's own descriptor
    } else {
        name = kBackupTemp;
        // Never an old card's tail: the file starts empty.
        image = plat::createFile(folderNative + QLatin1Char('/') + name, plat::CreateMode::Truncate);
    }
    if (!image.valid()) {
        medium.close();
        MsgBoxPositioned(hWnd(), FormatString(GetString(1516, QStringLiteral("Cannot open %0 ")), {BackupFolder + name}),
                         plat::mb::OK + plat::mb::IconExclamation, title);
        return;
    }
    ImageFilePath = BackupFolder + name;
    bool stoppedWhileSearching = false;
    DiskImageIndex index;
    if (withIndex) {
        if (DeletedEntriesUpperBound() < 5 && record.DriveType == QLatin1String("Removable")) {
            SearchDeletedEntries(SourceName);
            // The search lets the window work: a Stop pressed meanwhile stands.
            stoppedWhileSearching = CmdBackup.Caption() != stopText();
        }
        // The entries judged as a scan of the medium judges them: a scan of
        // the image cannot look at the medium's FAT.
        const DeletedEntryStarts starts(DeletedEntries, DriveInfo(), SourceName);
        for (int i = 1; i <= DeletedEntriesUpperBound(); ++i)
            CheckDeletedChain(i, &starts);
        index.bytesPerSector = bps;
        index.sectorsPerCluster = spc;
        index.totalClusters = totalClusters;
        index.firstDataSector = record.FirstDataSector;
        index.lastEntryIndex = DeletedEntriesUpperBound();
        index.entryRecords = DeletedEntriesFileForm();
    }

    // 6 - 8. Read sizes and modes.
    if (!ChkDamaged.Visible())
        ChkDamaged.setValue(0);
    BackupPlan plan;
    plan.mediumBytes = mediumBytes;
    plan.bytesPerSector = bps;
    plan.sectorsPerCluster = spc;
    plan.clustersPerRead = BackupClustersPerRead(BackupChunkMB(GetFreeMemoryMB()), bps, spc,
                                                 record.DriveType == QLatin1String("CDRom"));
    if (ChkDeep.Value() == 1) {
        plan.mode = BackupReadMode::Deep;
        plan.clustersPerRead = 1;
    }
    if (ChkDamaged.Value() == 1) {
        plan.mode = BackupReadMode::Damaged;
        plan.clustersPerRead = 1;
        if (RecoveryStage != 0)
            plan.backwards = true;
        else
            plan.sectorsPerCluster = 1;
    }

    // 9. Progress over the clusters of the read unit.
    const int64_t unitBytes = int64_t(plan.bytesPerSector) * plan.sectorsPerCluster;
    const int64_t units = std::max<int64_t>(1, (mediumBytes + unitBytes - 1) / unitBytes);
    const auto progressText = [](const QStringList &figures) {
        return FormatString(GetString(1492, QStringLiteral("Elapsed: %0 && to go: %1 seconds %2 MB/s")), figures)
            .replace(QStringLiteral("&&"), QStringLiteral("&"));
    };
    // The first figures stand until the copy gives its own (a damaged
    // medium's first reads may take long).
    ShowProgressPanel(progressText({QStringLiteral("0"), QStringLiteral("-"), QStringLiteral("0.0")}), double(units));
    OperationRunning = !stoppedWhileSearching;
    OperationBusy = true;

    // 11 - 13. The copy.
    if (plan.backwards)
        CmdBackup.setCaption(GetString(725, QStringLiteral("Checking")) + QStringLiteral("..."));
    BackupCallbacks cb;
    cb.stopRequested = [this] { return !OperationRunning; };
    cb.yield = [] { plat::pumpEvents(); };
    cb.firstBlockWritten = [this] { CmdBackup.setCaption(stopText()); };
    cb.modeChanged = [this](BackupReadMode m) {
        ChkDeep.setValue(1);
        if (m == BackupReadMode::Damaged)
            ChkDamaged.setValue(1);
    };
    // Stage 2 keeps what it has not read yet where the final stage finds it,
    // also after the program was ended from outside.
    const bool recordNotRead = RecoveryStage == 2;
    auto notRead = std::make_shared<QString>(QStringLiteral("?"));
    cb.progress = [this, progressText, recordNotRead, notRead, bps](const BackupProgress &p) {
        if (ProgressBar1.Max() < double(p.clustersDone))
            ProgressBar1.setMax(double(p.clustersDone) * 1.1);
        ProgressBar1.setValue(double(p.clustersDone));
        lblStatus.setCaption(progressText(
            {wholeText(double(p.elapsedSeconds)), wholeText(double(p.secondsToGo)), rateText(p.mbPerSecond)}));
        const QString text = Stage2NotReadText(p.notReadFrom, p.notReadTo, bps);
        if (recordNotRead && text != *notRead) {
            *notRead = text;
            SaveSetting(QStringLiteral("Zentarix"), QStringLiteral("Quilvane"), Stage2NotReadKey, text);
        }
    };
    const BackupResult r = CopyMedium(medium, image, plan, std::move(cb));
    LastBackupResult = r;

    // 14, 15.
    ProgressBar1.setValue(std::min(ProgressBar1.Max(), double(r.bytesPlaced / unitBytes)));
    if (ProgressBar1.Value() > 0.98 * ProgressBar1.Max())
        ProgressBar1.setValue(ProgressBar1.Max());
    const double rate = r.seconds > 0 ? double(r.bytesPlaced) / 1048576.0 / r.seconds : 0;
    const QString finished = FormatString(GetString(1494, QStringLiteral("Finished: %0 seconds. Average: %1 MB/sec")),
                                          {wholeText(r.seconds), rateText(rate)});

    // 16.
    medium.close();
    CmdBackup.setCaption(GetString(337, QStringLiteral("Flushing, wait...")));
    plat::pumpEventsNow();
    bool flushed = true, kept = false;
    if (withIndex) {
        image.fd = -1;   // closed with the part file
        // What was copied takes the image's name, stopped or not, and only
        // then gets its index, which states the length copied (a forward
        // copy's image is the medium's first bytes). Nothing of a copy that
        // could not reach the disk is kept.
        if (r.bytesPlaced > 0) {
            flushed = (plan.backwards || ::ftruncate(part.fd(), off_t(r.bytesPlaced)) == 0)
                      && CommitDiskImage(part, letter, label, date, name);
            kept = flushed;
        }
        if (kept) {
            ImageFilePath = BackupFolder + name;
            index.imagePath = ImageFilePath;
            if (!r.whole() && !plan.backwards)
                index.copiedBytes = r.bytesPlaced;
            WriteDiskImageIndex(DiskImageIndexPath(WorkFolder, ImageFilePath), index);
        } else {
            part.discard();
        }
    } else {
        flushed = image.flush();
        image.close();
        kept = true;
    }
    OperationRunning = false;
    OperationBusy = false;
    ChkDamaged.setValue(0);
    ChkDeep.setValue(0);

    // What the image holds: a copy with holes or a stopped copy is never
    // reported as a finished backup.
    const QString of = FormatString(GetString(2451, QStringLiteral("%0 of %1 MB")),
                                    {megabytes(r.bytesPlaced), megabytes(r.mediumBytes)});
    if (r.writeFailed || !flushed) {
        lblStatus.setCaption(GetString(2452, QStringLiteral("Backup failed: the image could not be written.")) + ' ' + of);
        MsgBoxPositioned(hWnd(), lblStatus.Caption() + (kept ? QStringLiteral("\r\n") + plat::toNative(ImageFilePath) : QString()),
                         plat::mb::OK + plat::mb::IconExclamation, title);
    } else if (r.stopped) {
        lblStatus.setCaption(GetString(2453, QStringLiteral("Backup stopped: the image is incomplete.")) + ' ' + of);
    } else if (r.mediumEnded) {
        lblStatus.setCaption(GetString(2454, QStringLiteral("Backup incomplete: the medium could not be read to its end."))
                             + ' ' + of);
        MsgBoxPositioned(hWnd(), lblStatus.Caption(), plat::mb::OK + plat::mb::IconExclamation, title);
    } else if (r.unreadableSectors > 0) {
        lblStatus.setCaption(FormatString(GetString(2455, QStringLiteral("Finished with %0 unreadable sectors "
                                                                          "(zeros in the image): %1 seconds.")),
                                          {QString::number(r.unreadableSectors), wholeText(r.seconds)}));
        MsgBoxPositioned(hWnd(),
                         FormatString(GetString(2456, QStringLiteral("%0 sectors could not be read. They are zeros in "
                                                                      "the image, which is not a whole copy:")),
                                      {QString::number(r.unreadableSectors)})
                             + QStringLiteral("\r\n") + SectorRangesText(r.unreadable),
                         plat::mb::OK + plat::mb::IconExclamation, title);
    } else {
        lblStatus.setCaption(finished);
    }
}

void frmRecover::ListDiskImages(QString &list) { list = ListDiskImageIndexes(WorkFolder); }

void frmRecover::CmdScanBackup_Click()
{
    if (OperationRunning || OperationBusy) {
        CheckBusy();
        return;
    }
    QString list;
    ListDiskImages(list);

    QString imagePath;
    int64_t copied = -1;   // what a stopped backup copied
    if (RecoveryStage != 2) {
        for (int round = 0; round < kMaxFolderRounds; ++round) {
            QString mode = QStringLiteral("Open");
            int owner = hWnd();
            QString fileName;
            QString dialogTitle = ProgramTitle + QString(8, QLatin1Char(' '))
                                  + GetString(355, QStringLiteral("Select disk image file for Scan")) + QStringLiteral("....");
            QString folder = WorkFolder + QStringLiteral("DiskImages");
            int flags = plat::ofn::FileMustExist | plat::ofn::HideReadOnly;
            QString filter = QStringLiteral("Disk image index (*.dat)|*.dat|All files|*.*");
            int filterIndex = 1;
            QString extension;
            const QString chosen =
                FileDialog(mode, owner, fileName, dialogTitle, folder, flags, filter, filterIndex, extension);
            // (A temporary file is no index, whatever its name holds.)
            if (chosen.isEmpty() || !chosen.contains(QStringLiteral(".dat"), Qt::CaseInsensitive)
                || plat::isPartFileName(chosen.mid(chosen.lastIndexOf(QLatin1Char('\\')) + 1)))
                return;
            DiskImageIndex index;
            ReadDiskImageIndex(chosen, index);
            if (!index.imagePath.isEmpty()) {
                const QString native = plat::toNative(index.imagePath);
                if (!native.isEmpty() && QFileInfo(native).isFile()) {
                    imagePath = index.imagePath;
                    copied = index.copiedBytes;
                    break;
                }
            }
            MsgBoxPositioned(hWnd(),
                             GetString(357, QStringLiteral("Drive for this backup file not available.")) + QStringLiteral("\r\n\r\n")
                                 + GetString(358, QStringLiteral("Select another file.")),
                             plat::mb::OK + plat::mb::IconExclamation,
                             ProgramTitle + GetString(359, QStringLiteral("Scan BackUp")));
        }
    } else {
        imagePath = BackupTempPath();
    }
    const QString native = plat::toNative(imagePath);
    if (imagePath.isEmpty() || native.isEmpty() || !QFileInfo(native).isFile())
        return;

    // The image is the source for the time of the scan; the drive chosen
    // before comes back on every way out.
    struct Restore {
        frmRecover &w;
        QString source;
        ~Restore()
        {
            w.ScanningImage = false;
            w.SourceName = source;
            if (!source.isEmpty())
                GetDriveInfo(source);
            w.UpdateDriveInfoLabel();
        }
    } restore{*this, SourceName};
    SourceName = imagePath;
    const int64_t length = copied >= 0 ? std::min<int64_t>(copied, QFileInfo(native).size()) : QFileInfo(native).size();
    DriveInfo().TotalMB = double(length / 1048576);
    ScanningImage = true;
    SetScanResumeUnit(0);
    CmdScan_Click();
}
