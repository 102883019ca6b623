// The staged recovery of damaged media on the main window: the chain of
// recovery/stagedrecovery.cpp run with the window's commands (the careful
// scan, the backwards backup into backuptemp.dat and its scan) and the
// per-user store, where the markers are written through at once.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/drivelist.h"
#include "drive/files.h"
#include "drive/registry.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "recovery/cachenames.h"
#include "recovery/stagedrecovery.h"
#include "scan/foundagain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <functional>
#include <unistd.h>

namespace {

const QString kApp = QStringLiteral("Zentarix");
const QString kSection = QStringLiteral("Quilvane");

QString withSlash(QString p)
{
    if (!p.isEmpty() && !p.endsWith(QLatin1Char('\\')))
        p += QLatin1Char('\\');
    return p;
}

// The folder beside a cache root ("...\RIVozud\" gives "...\DiskImages\"):
// never inside the cache, whose files a new scan deletes.
QString besideCacheRoot(const QString &cacheRoot)
{
    QString parent = cacheRoot;
    if (parent.endsWith(QLatin1Char('\\')))
        parent.chop(1);
    const int cut = int(parent.lastIndexOf(QLatin1Char('\\')));
    if (cut < 2)
        return {};
    return parent.left(cut + 1) + kDiskImagesSub;
}

bool writableFolder(const QString &folder)
{
    const QString native = plat::toNative(folder);
    return !native.isEmpty() && QDir().mkpath(native) && ::access(QFile::encodeName(native).constData(), W_OK) == 0;
}

// A stage ended from outside while it was cutting a file the cache held
// already leaves that file twice (the stage goes on with the cache's files
// and compares each find with them when it closes it). Each such find is
// dropped, or takes the place of the file it repeats when that was cut short
// and the find holds more; the list and the view follow. The cache's files
// that the list does not name are compared too, after the listed ones.
void mergeFilesFoundAgain(frmRecover &w)
{
    const QString folder = plat::toNative(w.CacheRoot);
    if (folder.isEmpty() || w.ShownFolder != w.CacheRoot)
        return;
    QStringList names;
    for (const QString &name : w.FoundFilePaths)
        if (!name.isEmpty())
            names << name;
    const int listed = int(names.size());
    if (listed > w.List3.ListCount())
        return;   // the list and its names disagree: nothing is judged by them
    const QSet<QString> named(names.begin(), names.end());
    for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (!fi.isSymLink() && !fi.fileName().startsWith(QLatin1Char('.')) && !named.contains(fi.fileName()))
            names << fi.fileName();
    std::vector<bool> cutShort;
    for (int i = 0; i < listed; ++i)
        cutShort.push_back(FoundLineMarked(w.List3.List(i)));
    const std::vector<FoundAgainMatch> matches = FindFoundAgain(folder, names, cutShort);
    if (matches.empty())
        return;
    QList<int> gone;
    for (const FoundAgainMatch &m : matches) {
        const QByteArray later = QFile::encodeName(folder + QLatin1Char('/') + names[m.later]);
        if (m.verdict == FoundAgain::Replace) {
            const QByteArray earlier = QFile::encodeName(folder + QLatin1Char('/') + names[m.earlier]);
            if (::rename(later.constData(), earlier.constData()) != 0)
                continue;
        } else if (::unlink(later.constData()) != 0) {
            continue;
        }
        if (m.later < listed)
            gone << m.later;
    }
    std::sort(gone.begin(), gone.end(), std::greater<int>());
    for (const int i : gone) {
        w.List3.RemoveItem(i);
        w.FoundFilePaths.removeAt(i);
        if (size_t(i) < w.ItemOrientations.size())
            w.ItemOrientations.erase(w.ItemOrientations.begin() + i);
    }
    if (w.FoundFilePaths.isEmpty())
        w.FoundFilePaths << QString();
    w.ItemOrientations.resize(size_t(w.FoundFilePaths.size()), 0.0f);
    w.ClearFileView();
    if (w.ResultViewState == 1 && w.List3.ListCount() > 0)
        w.RenderThumbnails();
    w.SaveScanList();
}

} // namespace

void frmRecover::ResumeDamagedMediaRecovery()
{
    StagedRecoveryHooks h;
    h.marker = [](const QString &key) { return GetSetting(kApp, kSection, key, QStringLiteral("0")); };
    h.setMarker = [](const QString &key, const QString &value) { SaveSetting(kApp, kSection, key, value); };
    h.ask = [this](const QString &text, int style, const QString &title) {
        return MsgBoxPositioned(hWnd(), text, style, title);
    };
    h.notice = [this](const QString &text, const QString &title) {
        MsgBoxTimed(QString::number(hWnd()), text, 0, title);
    };
    h.stageChanged = [this](int stage) { RecoveryStage = stage; };

    // The medium of the interrupted scan: its drive, with the serial it had.
    h.sameMedium = [this] {
        if (SourceDrive.size() < 2 || !SourceDrive[0].isLetter())
            return false;
        if (IsDriveReady(SourceDrive) != true)
            return false;
        if (SourceVolumeSerial != 0 && GetVolumeSerial(SourceDrive) != uint32_t(SourceVolumeSerial))
            return false;
        if (SourceName.left(2).compare(SourceDrive.left(2), Qt::CaseInsensitive) != 0) {
            SourceName = SourceDrive.left(2);
            Drive1.setDrive(SourceName);
        }
        GetDriveInfo(SourceName);
        return true;
    };
    h.sourceTotalMB = [this] {
        int32_t total = 0;
        GetDiskSpaceMB(SourceDrive, total);
        if (total <= 0 && !SourceDrive.isEmpty() && DriveInfo().DriveLetter == SourceDrive[0].toUpper())
            return DriveInfo().TotalMB;
        return double(total);
    };

    // Stage 2's image: the backup folder when its drive has room, else beside
    // one of the cache roots; never on the damaged medium, never in the cache.
    h.prepareStage2Folder = [this] {
        int32_t total = 0;
        GetDiskSpaceMB(SourceDrive, total);
        const double needed = std::max<double>(total, DriveInfo().TotalMB);
        QStringList candidates;
        if (!BackupFolder.isEmpty())
            candidates << withSlash(BackupFolder);
        for (const QString &root : {CacheRoot, PrevCacheRoot, OlderCacheRoot})
            if (!root.isEmpty())
                candidates << besideCacheRoot(withSlash(root));
        for (const QString &folder : candidates) {
            if (folder.size() < 4 || folder.contains(QLatin1Char('"')))
                continue;
            if (SourceDrive.size() >= 1 && plat::sameDisk(folder, SourceDrive[0]))
                continue;
            if (!CacheRoot.isEmpty() && IsSameOrBelow(folder, CacheRoot))
                continue;
            int32_t folderTotal = 0;
            if (GetDiskSpaceMB(folder, folderTotal) < needed || !writableFolder(folder))
                continue;
            BackupFolder = folder;
            CreateRegistryEntries();   // the next start finds the image here
            return true;
        }
        return false;
    };

    // The stages' results show as thumbnails: the view is chosen before the
    // scan, whose end renders them.
    auto thumbnailView = [this] {
        if (List3.ListCount() > 0 || CountFolderFiles(CacheRoot) > 0) {
            ResultViewState = 0;
            CmdShowThumbs_Click();   // turns the view to the thumbnails
        }
        ResultViewState = 1;
        UpdateThumbsCaption();
    };
    h.runStage1 = [this, thumbnailView] {
        thumbnailView();
        ChkDeep.setValue(1);
        ChkDamaged.setValue(0);
        ChkDamaged.setVisible(false);
        CmdScan_Click();
    };
    h.runStage2 = [this] {
        CreateRegistryEntries();
        ChkDeep.setValue(1);
        ChkDamaged.setVisible(true);
        ChkDamaged.ZOrder(0);   // in front of the command it stands beside
        ChkDamaged.setValue(1);
        CmdBackup_Click();
    };
    h.runFinalStage = [this, thumbnailView] {
        // What stage 2 never read (kept by it, also when it was ended from outside).
        const QString notRead = GetSetting(kApp, kSection, Stage2NotReadKey);
        thumbnailView();
        ChkDeep.setValue(1);
        ChkDamaged.setValue(0);
        ChkDamaged.setVisible(false);
        const QString image = BackupTempPath();
        ScanFinished = false;
        CmdScanBackup_Click();
        // The only copy of what stage 2 saved goes only after a scan that
        // read it to its end.
        const ScanEnd end = LastScanResult.end;
        const bool normal =
            ScanFinished && (end == ScanEnd::Finished || end == ScanEnd::NoFiles || end == ScanEnd::Wiped);
        const QString native = plat::toNative(image);
        const QString neverRead = Stage2NotReadMessage(notRead);
        if (!neverRead.isEmpty())
            MsgBoxPositioned(hWnd(), neverRead, plat::mb::OK + plat::mb::IconExclamation, StagedRecoveryTitle());
        if (normal) {
            if (!native.isEmpty() && QFileInfo(native).isFile() && !QFileInfo(native).isSymLink())
                QFile::remove(native);
        } else if (!native.isEmpty() && QFileInfo::exists(native)) {
            MsgBoxPositioned(hWnd(),
                             FormatString(GetString(2474, QStringLiteral("The saved sectors stay in %0. Scan Backup "
                                                                         "can scan them later.")),
                                          {native}),
                             plat::mb::OK + plat::mb::IconInformation, StagedRecoveryTitle());
        }
    };
    // A stage that was ended from outside may have left a file twice.
    const QString stageReached = GetSetting(kApp, kSection, QStringLiteral("LastStage"), QStringLiteral("0")).trimmed();
    if (GetSetting(kApp, kSection, QStringLiteral("LastCluster"), QStringLiteral("0")).trimmed().toDouble() > 0
        && (stageReached == QLatin1String("1") || stageReached == QLatin1String("2")))
        mergeFilesFoundAgain(*this);
    RunStagedRecovery(h);
    // The record of stage 2 goes with the chain's end.
    if (GetSetting(kApp, kSection, QStringLiteral("LastStage"), QStringLiteral("0")) == QLatin1String("0"))
        DeleteSetting(kApp, kSection, Stage2NotReadKey);
}
