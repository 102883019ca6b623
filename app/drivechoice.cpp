// The drive the program recovers from: the drive change handler, the drive
// list refresh that prefers a removable medium, and the start-up's choice by
// the found-file list's recorded source and serial.
#include "app/frmrecover.h"

#include "app/rightsadvice.h"
#include "drive/driveinfo.h"
#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/msgbox.h"
#include "recovery/cacheguard.h"

#include <QDir>
#include <QFile>
#include <QThread>

namespace {

constexpr qint64 kReadyWaitMs = 5000;

// The source name of a drive list entry: its letter and a colon ("e:").
QString sourceNameOf(const QString &entry)
{
    return entry.isEmpty() ? QString() : entry.left(1) + QLatin1Char(':');
}

bool driveReady(const QString &name) { return name.size() >= 2 && IsDriveReady(name.left(2)) == true; }

// The drive type as the file-system object numbers it: 0 unknown,
// 1 removable, 2 fixed, 3 network, 4 CD-ROM, 5 RAM disk.
int fsoDriveType(const QString &name)
{
    if (name.isEmpty() || !name[0].isLetter())
        return 0;
    const int code = plat::driveTypeCode(name[0].toUpper());
    return code >= 2 && code <= 6 ? code - 1 : 0;
}

bool removableOrCd(const QString &name)
{
    const int type = fsoDriveType(name);
    return type == 1 || type == 4;
}

// The main window's mouse pointer while a drive change runs; the default
// again at its end, however the run ends.
class PointerDuringChange {
public:
    explicit PointerDuringChange(plat::Control &window) : window_(window) { window_.setMousePointer(11); }
    ~PointerDuringChange() { window_.setMousePointer(0); }

private:
    plat::Control &window_;
};

} // namespace

void frmRecover::Drive1_Change()
{
    if (DriveChangeQuiet)
        return;
    ++DriveChangeDepth;
    struct Depth {
        int &depth;
        ~Depth() { --depth; }
    } depthGuard{DriveChangeDepth};

    // 1.
    PointerDuringChange pointer(*this);
    CmdScan.setEnabled(false);
    const bool comboVisible = CmbTypeSelect.Visible();
    CmbTypeSelect.setVisible(false);
    // 2.
    SourceName = sourceNameOf(Drive1.Drive());
    ImageFilePath.clear();
    // 3. - 4. Up to 5 seconds for the drive to become ready.
    bool ready = driveReady(SourceName);
    const qint64 start = plat::monotonicMs();
    while (!ready && plat::monotonicMs() - start < kReadyWaitMs) {
        plat::pumpEventsNow();
        QThread::msleep(50);
        ready = driveReady(SourceName);
    }
    // 5. Not ready: a notice, and back to the drive used before.
    const int last = Drive1.ListCount() - 1;
    int index = Drive1.ListIndex();
    if (!ready) {
        ShowDriveNotReady(SourceName);
        SourceName = RememberedDrive;
        index = 0;
        while (index < last && !Drive1.List(index).contains(SourceName, Qt::CaseInsensitive))
            ++index;
        ready = driveReady(Drive1.List(index));
    }
    // 6. The next ready entry forward, else backward, else the first. A
    // nested run keeps the entry it was given, so a drive whose readiness
    // flickers cannot nest the handler without end.
    if (DriveChangeDepth < 2 && last >= 0) {
        index = std::clamp(index, 0, last);
        while (index < last && !ready)
            ready = driveReady(Drive1.List(++index));
        while (index >= 1 && !ready)
            ready = driveReady(Drive1.List(--index));
        if (!ready)
            index = 0;
        // 7. Another entry runs this handler once more, nested.
        Drive1.setDrive(Drive1.List(index));
    }
    SourceName = sourceNameOf(Drive1.Drive());
    plat::pumpEventsNow();
    Drive1.setVisible(true);
    // 8.
    if (removableOrCd(SourceName)) {
        CmdBackup.setCaption(FormatString(GetString(1407, QStringLiteral("Backup %0\\")), {SourceName}));
        CmdBackup.setEnabled(true);
    } else {
        CmdBackup.setCaption(GetString(261, QStringLiteral("Backup")));
        CmdBackup.setEnabled(false);
    }
    // 9. The drive's facts read afresh; the lists of another medium go.
    const bool entryListsShown = List2.Visible();
    CheckSourceMedium(true);
    // 10. Another drive than the one handled before.
    if (SourceName != RememberedDrive) {
        CloseMft();
        CmdQuickUndelete.setEnabled(!DriveInfo().FileSystem.contains(QLatin1String("hfs"), Qt::CaseInsensitive));
        // What the status line and the bar said was about the other drive.
        lblStatus.setCaption(GetString(51, QStringLiteral("Status")));
        ProgressBar1.setValue(ProgressBar1.Min());
        if (entryListsShown) {
            if (!CacheTempFolder.isEmpty() && CacheDeleteAllowed(CacheTempFolder, CacheRoot)) {
                DeleteCacheTree(CacheTempFolder);
                const QString native = plat::toNative(CacheTempFolder);
                if (!native.isEmpty())
                    QDir().mkpath(native);
            }
            ResultViewState = 1;
            CmdShowThumbs_Click();
        }
        if (!RememberedDrive.isEmpty()) {
            LvwTypes.setView(plat::ListView::lvwReport);
            CmbTypeSelect.setListIndex(0);
            CmdShowScanTypes_Click();
            CmdShowThumbs.setCaption(ResultViewState == 1 ? GetString(282, QStringLiteral("Thumbs Scan"))
                                                          : GetString(371, QStringLiteral("FileList Scan")));
            plat::pumpEventsNow();
        }
    }
    // 11.
    CmbTypeSelect.setVisible(comboVisible);
    CmdScan.setEnabled(true);
    RememberedDrive = SourceName;
    plat::pumpEventsNow();
}

void frmRecover::ShowDriveNotReady(const QString &source)
{
    QString text = FormatString(GetString(1406, QStringLiteral("Drive %0 not ready.")), {source.left(1).toUpper()});
    if (removableOrCd(source))
        text += QStringLiteral("\r\n") + GetString(407, QStringLiteral("Please insert disk or suitable medium."));
    MsgBoxTimed(QString::number(hWnd()), text, 0, GetString(408, QStringLiteral("Select drive")));
}

bool frmRecover::CheckSourceMedium(bool quiet)
{
    // A disk image as the source is a file, not a medium in a drive.
    if (ScanningImage || SourceName.size() < 2 || SourceName.size() >= 5 || !SourceName[0].isLetter()
        || SourceName[1] != QLatin1Char(':'))
        return true;
    const DriveRecheck fresh = RecheckDrive(SourceName);
    if (fresh.access == DriveAccess::Ready) {
        if (!SourceMedium.letter.isNull() && SourceMedium != fresh.identity) {
            // What was read from the other medium describes it no more.
            const bool sameDrive = SourceMedium.letter == fresh.identity.letter;
            ResetDeletedEntries();
            CloseMft();
            List1.Clear();
            List2.Clear();
            EntryInfoTexts.clear();
            UndeleteLastDrive.clear();
            UndeleteLastKey.clear();
            UndeleteListMedium = DriveIdentity{};
            if (sameDrive) {
                const QString cache = plat::toNative(DirEntFilePath(SourceName));
                if (!cache.isEmpty())
                    QFile::remove(cache);
            }
            if (List2.Visible())
                ShowPictureView();
        }
        SourceMedium = fresh.identity;
    }
    DescribedSource = SourceName;
    ShowDriveInfo();
    if (fresh.access == DriveAccess::Ready)
        return true;
    if (quiet)
        return false;
    if (fresh.access == DriveAccess::NoRights)
        ShowNoRightsAdvice(SourceName);
    else if (fresh.access == DriveAccess::Unreadable)
        MsgBoxTimed(QString::number(hWnd()), GetString(562, QStringLiteral("Cannot read the disk.")), 0,
                    GetString(408, QStringLiteral("Select drive")));
    else
        ShowDriveNotReady(SourceName);
    return false;
}

void frmRecover::RefreshDriveList()
{
    Drive1.Refresh();
    int chosen = 0;
    QString chosenType;
    // The drive record keeps the current drive's type: the examined entries'
    // types are a working value only.
    for (int i = Drive1.ListCount() - 1; i >= 0; --i) {
        const QString name = Drive1.List(i).left(2);
        const QChar letter = Drive1.letterAt(i);
        if (letter.isNull())
            continue;
        const QString type = DriveTypeText(plat::driveTypeCode(letter));
        if (type != QLatin1String("CDRom") && type != QLatin1String("Removable"))
            continue;
        const bool ready = driveReady(name);
        if (name.toLower() == SourceDrive.toLower() && type == QLatin1String("CDRom")
            && chosenType != QLatin1String("Removable") && ready) {
            SourceName = name;
            chosenType = type;
            chosen = i;
        }
        if (ready && type == QLatin1String("Removable") && chosenType != QLatin1String("Removable")) {
            SourceName = name;
            chosenType = type;
            chosen = i;
        }
    }
    if (Drive1.ListCount() > 0)
        Drive1.setDrive(Drive1.List(chosen));
}

void frmRecover::ChooseStartDrive()
{
    // The rules below set Drive1 without running the change handler; it runs
    // once at the end for the drive they settled on.
    DriveChangeQuiet = true;
    // 1. The recorded source, when it is ready.
    if (!LastScanSource.isEmpty()) {
        for (int i = 0; i < Drive1.ListCount(); ++i) {
            const QString entry = Drive1.List(i);
            if (entry.contains(LastScanSource) && driveReady(entry)) {
                Drive1.setDrive(entry);
                break;
            }
        }
    }
    // 2. Else (and with an empty cache) the refresh's choice.
    if (LastScanSource.isEmpty() || !Drive1.Drive().startsWith(LastScanSource, Qt::CaseInsensitive)
        || CountFolderFiles(CacheRoot) == 0) {
        RefreshDriveList();
        SourceName = Drive1.Drive().left(2);
    }
    // 3. A ready medium with the recorded serial wins, whatever its letter now.
    if (LastScanSerial != 0) {
        for (int i = 0; i < Drive1.ListCount(); ++i) {
            const QString entry = Drive1.List(i);
            if (driveReady(entry) && int32_t(GetVolumeSerial(entry.left(2))) == LastScanSerial) {
                Drive1.setDrive(entry);
                break;
            }
        }
    }
    DriveChangeQuiet = false;
    // 4.
    Drive1_Change();
    SourceName = Drive1.Drive().left(2);
}
