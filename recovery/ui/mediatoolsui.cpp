// The tools that write to a removable medium, reached by keys: R on the
// Backup button restores an image onto the medium; W, R and F on the drive
// list wipe, repair and format it. Each names the medium in its question
// and writes only through the guarded target of platform/rawwrite.h, which
// checks again right before writing that the medium is the one confirmed.
// And Test Speed.
#include "app/frmrecover.h"

#include "app/rightsadvice.h"
#include "drive/driveinfo.h"
#include "drive/strings.h"
#include "drive/ui/filedialog.h"
#include "drive/ui/msgbox.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/partfile.h"
#include "platform/paths.h"
#include "platform/rawio.h"
#include "platform/rawwrite.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "recovery/cachenames.h"
#include "recovery/mediatools.h"
#include "recovery/speedtest.h"

#include <QFileInfo>
#include <QLocale>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kSpeedBlock = 1048576;

// Clears the running flag on every way out of a tool.
struct RunningScope {
    frmRecover &w;
    explicit RunningScope(frmRecover &window) : w(window) { w.OperationRunning = true; }
    ~RunningScope() { w.OperationRunning = false; }
};

QString refusalText(plat::WriteRefusal why, const QString &drive, const QString &loopDevice = {})
{
    QString text;
    switch (why) {
    case plat::WriteRefusal::None:
        return {};
    case plat::WriteRefusal::NoMedium:
        text = GetString(2460, QStringLiteral("There is no medium in %0."));
        break;
    case plat::WriteRefusal::NotRemovable:
        text = GetString(2461, QStringLiteral("%0 is not a removable medium."));
        break;
    case plat::WriteRefusal::SystemDisk:
        text = GetString(2462, QStringLiteral("%0 lies on the system's disk."));
        break;
    case plat::WriteRefusal::Mounted:
        text = GetString(2463, QStringLiteral("%0 is mounted. Please unmount it first."));
        break;
    case plat::WriteRefusal::LoopBacked:
        text = FormatString(GetString(2481, QStringLiteral("The image file of %0 is attached to the loop device %1. "
                                                           "Please detach it first.")),
                            {QStringLiteral("%0"), loopDevice});
        break;
    case plat::WriteRefusal::ReadOnly:
        text = GetString(2464, QStringLiteral("%0 is write-protected."));
        break;
    case plat::WriteRefusal::Busy:
        text = GetString(2465, QStringLiteral("%0 is in use by another program."));
        break;
    case plat::WriteRefusal::IdentityChanged:
        text = GetString(2466, QStringLiteral("The medium in %0 is not the one you confirmed."));
        break;
    case plat::WriteRefusal::OpenFailed:
        text = GetString(2467, QStringLiteral("%0 cannot be opened for writing."));
        break;
    }
    return FormatString(text, {drive}) + QStringLiteral("\r\n")
           + GetString(2468, QStringLiteral("Nothing was written."));
}

// "Medium E: label "CARD", 31.9 MB, device /dev/sdb1."
QString mediumLine(const plat::MediumFacts &f)
{
    return FormatString(GetString(2469, QStringLiteral("Medium %0 label \"%1\", %2 MB, device %3.")),
                        {QString(f.letter) + QLatin1Char(':'), f.label,
                         QString::number(double(f.sizeBytes) / 1048576.0, 'f', 1), f.device});
}

// "16.0 MB (16,777,216 bytes)".
QString sizeText(int64_t bytes)
{
    return FormatString(GetString(2487, QStringLiteral("%0 MB (%1 bytes)")),
                        {QString::number(double(bytes) / 1048576.0, 'f', 1), QLocale().toString(qlonglong(bytes))});
}

int fatBitsOf(const QString &fileSystem)
{
    if (fileSystem == QLatin1String("FAT12"))
        return 12;
    if (fileSystem == QLatin1String("FAT16"))
        return 16;
    if (fileSystem == QLatin1String("FAT32"))
        return 32;
    return 0;
}

} // namespace

// ---- the guard and the confirmation -------------------------------------------------

bool frmRecover::MediaToolAllowed()
{
    if (OperationRunning || OperationBusy)
        return false;
    if (SourceName.size() < 2 || SourceName.size() >= 5 || !SourceName[0].isLetter())
        return false;
    const QChar letter = SourceName[0].toUpper();
    if (plat::driveTypeCode(letter) != plat::DriveTypeRemovable)
        return false;
    // The medium in the drive now, read afresh; the keys do nothing on one
    // that cannot be read.
    if (!CheckSourceMedium(true))
        return false;
    const DriveInfoRecord &record = DriveInfo();
    if (record.DriveType != QLatin1String("Removable") || record.FirstDataSector < 1)
        return false;
    return !WindowsFolder.contains(SourceName.left(2), Qt::CaseInsensitive);
}

bool frmRecover::ConfirmMediumTool(const QString &text, const QString &title, plat::MediumIdentity &identity)
{
    const QChar letter = SourceName[0].toUpper();
    const std::optional<plat::MediumFacts> facts = plat::mediumFacts(letter);
    const plat::WriteRefusal why = facts ? plat::writeRefusalOf(*facts) : plat::WriteRefusal::NoMedium;
    if (why != plat::WriteRefusal::None) {
        ShowWriteRefusal(why);
        return false;
    }
    // The identity is that of the medium the question names.
    identity = plat::identityOf(*facts);
    const int answer =
        MsgBoxPositioned(hWnd(), text + QStringLiteral("\r\n\r\n") + mediumLine(*facts),
                         plat::mb::OKCancel + plat::mb::IconExclamation + plat::mb::DefButton2, title);
    return answer == plat::id::OK;
}

void frmRecover::ShowWriteRefusal(plat::WriteRefusal why)
{
    QString loopDevice;
    if (why == plat::WriteRefusal::LoopBacked)
        if (const auto facts = plat::mediumFacts(SourceName[0].toUpper()))
            loopDevice = facts->loopDevice;
    const QString text = refusalText(why, SourceName.left(2), loopDevice);
    lblStatus.setCaption(text.section(QStringLiteral("\r\n"), 0, 0));
    MsgBoxPositioned(hWnd(), text, plat::mb::OK + plat::mb::IconExclamation, ProgramTitle);
}

// ---- keys ------------------------------------------------------------------------------

// A tool's key is taken whether the tool runs or refuses: it never goes on
// to the control (the drive list's letter search would choose another drive).
void frmRecover::CmdBackup_KeyPress(int &keyAscii)
{
    if (QChar(keyAscii).toUpper() != QLatin1Char('R'))
        return;
    keyAscii = 0;
    if (MediaToolAllowed())
        RestoreDiskImage();
}

void frmRecover::Drive1_KeyPress(int &keyAscii)
{
    const QChar key = QChar(keyAscii).toUpper();
    if (key != QLatin1Char('W') && key != QLatin1Char('R') && key != QLatin1Char('F'))
        return;
    keyAscii = 0;
    if (!MediaToolAllowed())
        return;
    if (key == QLatin1Char('F'))
        FormatMedium();
    else
        WipeMedium(key == QLatin1Char('R'));
}

// ---- restore ------------------------------------------------------------------------------

void frmRecover::RestoreDiskImage()
{
    const QString source = SourceName.left(2);
    const QChar letter = source[0].toUpper();
    QString mode = QStringLiteral("Open");
    int owner = hWnd();
    QString fileName;
    QString dialogTitle = ProgramTitle + QString(8, QLatin1Char(' '))
                          + GetString(226, QStringLiteral("Select disk image file for restoring disk ")) + source;
    QString folder = BackupFolder.isEmpty() ? WorkFolder : BackupFolder;
    if (!folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('\\');
    if (!folder.contains(kDiskImagesSub, Qt::CaseInsensitive))
        folder += kDiskImagesSub;
    int flags = plat::ofn::FileMustExist | plat::ofn::HideReadOnly;
    QString filter = QStringLiteral("Disk image (*.img)|*.img|All files|*.*");
    int filterIndex = 1;
    QString extension;
    const QString image = FileDialog(mode, owner, fileName, dialogTitle, folder, flags, filter, filterIndex, extension);
    // (A backup's temporary image is never restored, whatever its name holds.)
    if (!image.contains(QStringLiteral(".img"), Qt::CaseInsensitive)
        || plat::isPartFileName(image.mid(image.lastIndexOf(QLatin1Char('\\')) + 1)))
        return;

    const QString title = ProgramTitle + QStringLiteral("  ") + GetString(265, QStringLiteral("Backup"));
    const QString imageNative = plat::toNative(image);
    // The sizes before the question: an image, or the volume it holds,
    // larger than the medium is never written.
    const int bps = std::max(512, int(DriveInfo().BytesPerSector));
    plat::Handle imageHandle = plat::openFile(image, plat::Access::Read);
    const QByteArray imageSector = imageHandle.readAt(0, bps);
    const qint64 imageBytes = imageHandle.size();
    const int64_t statedBytes = StatedVolumeBytes(imageSector);
    // An image that cannot be read (gone, empty, a folder) is refused
    // before the question, which would name no size.
    if (!imageHandle.valid() || imageSector.isEmpty()) {
        imageHandle.close();
        lblStatus.setCaption(
            FormatString(GetString(228, QStringLiteral("Restoring %0 not possible. Wrong parameters.")), {source}));
        return;
    }
    const std::optional<plat::MediumFacts> facts = plat::mediumFacts(letter);
    const qint64 mediumBytes = facts ? facts->sizeBytes : -1;
    if (mediumBytes > 0) {
        QString refusal;
        if (imageBytes > mediumBytes)
            refusal = FormatString(GetString(2482, QStringLiteral("The disk image %0 holds %1; disk %2 holds only %3.")),
                                   {imageNative, sizeText(imageBytes), source, sizeText(mediumBytes)});
        else if (statedBytes > mediumBytes)
            refusal = FormatString(GetString(2483, QStringLiteral("The volume in the disk image %0 states %1; disk %2 "
                                                                  "holds only %3.")),
                                   {imageNative, sizeText(statedBytes), source, sizeText(mediumBytes)});
        if (!refusal.isEmpty()) {
            imageHandle.close();
            lblStatus.setCaption(
                FormatString(GetString(228, QStringLiteral("Restoring %0 not possible. Wrong parameters.")), {source}));
            MsgBoxPositioned(hWnd(), refusal + QStringLiteral("\r\n") + GetString(2468, QStringLiteral("Nothing was written.")),
                             plat::mb::OK + plat::mb::IconExclamation, title);
            return;
        }
    }
    plat::MediumIdentity identity;
    QString question =
        FormatString(GetString(2470, QStringLiteral("Do you really want to write the disk image %0 onto disk %1, "
                                                    "replacing all its contents?")),
                     {imageNative, source})
        + QStringLiteral("\r\n")
        + FormatString(GetString(2484, QStringLiteral("The image holds %0; disk %1 holds %2.")),
                       {sizeText(imageBytes), source, sizeText(mediumBytes)});
    if (statedBytes > imageBytes)
        question += QStringLiteral("\r\n")
                    + FormatString(GetString(2485, QStringLiteral("The image is shorter than the %0 its volume states: it "
                                                                  "is an incomplete backup, and the rest of the disk "
                                                                  "keeps its present contents.")),
                                   {sizeText(statedBytes)});
    if (!ConfirmMediumTool(question, title, identity)) {
        imageHandle.close();
        return;
    }
    OperationScope scope(*this);
    RunningScope running(*this);

    // The first 34 bytes of both sectors 0 must agree; read-only handles.
    plat::Handle medium = plat::openVolume(letter, plat::Access::Read);
    const QByteArray mediumSector = medium.readAt(0, bps);
    medium.close();
    ShowProgressPanel(QString(), double(std::max<qint64>(1, imageBytes / std::max(1, bps))));
    if (!SameBootSignature(imageSector, mediumSector)) {
        imageHandle.close();
        lblStatus.setCaption(
            FormatString(GetString(228, QStringLiteral("Restoring %0 not possible. Wrong parameters.")), {source}));
        return;
    }

    plat::RawWriteTarget target;
    const plat::WriteRefusal why = target.open(letter, identity);
    if (why != plat::WriteRefusal::None) {
        imageHandle.close();
        ShowWriteRefusal(why);
        return;
    }
    const int block = bps * int(std::max<uint32_t>(1, DriveInfo().SectorsPerCluster));
    ProgressBar1.setMax(double(std::max<qint64>(1, (imageBytes + block - 1) / block)));
    lblStatus.setCaption(GetString(229, QStringLiteral("Status: restoring drive")) + QLatin1Char(' ') + source
                         + QLatin1Char(' '));
    WriteCallbacks cb;
    cb.stopRequested = [this] { return !OperationRunning; };
    cb.blockWritten = [this] {
        ProgressBar1.setValue(std::min(ProgressBar1.Max(), ProgressBar1.Value() + 1));
        plat::pumpEvents();
    };
    const WriteOutcome out = RestoreImageOnto(imageHandle, target, block, cb);
    imageHandle.close();
    const bool flushed = target.close();
    LastWriteOutcome = out;
    lblStatus.setCaption(lblStatus.Caption() + ResultWord(out, flushed));
    if ((out.failed || !flushed) && out.bytesWritten > 0)
        MsgBoxPositioned(hWnd(),
                         FormatString(GetString(2486, QStringLiteral("Restoring %0 failed after %1 of %2 were written. "
                                                                     "The card's previous contents are damaged.")),
                                      {source, sizeText(out.bytesWritten), sizeText(out.bytesExpected)}),
                         plat::mb::OK + plat::mb::IconExclamation, title);
    GetDriveInfo(SourceName);
    ShowDriveInfo();
}

QString frmRecover::ResultWord(const WriteOutcome &out, bool flushed) const
{
    if (out.stopped)
        return GetString(2471, QStringLiteral("Stopped"));
    if (out.finished() && flushed)
        return GetString(230, QStringLiteral("Finished"));
    return GetString(240, QStringLiteral("Failed"));
}

// ---- wipe and repair ----------------------------------------------------------------------

void frmRecover::WipeMedium(bool repair)
{
    const QString source = SourceName.left(2);
    const QChar letter = source[0].toUpper();
    const QString verb = repair ? GetString(233, QStringLiteral("repair")) : GetString(232, QStringLiteral("wipe"));
    const QString question =
        FormatString(GetString(235, QStringLiteral("Do you really want to %0 disk %1, filling all sectors with zero's,")),
                     {verb, source})
        + QStringLiteral("\r\n")
        + GetString(236, QStringLiteral("removing all the contents and making the medium unrecoverable?")) + QStringLiteral("\r\n")
        + GetString(2472, QStringLiteral("The boot sector and the allocation tables are written anew by the format "
                                         "that follows."));
    plat::MediumIdentity identity;
    if (!ConfirmMediumTool(question, GetString(237, QStringLiteral("Secured Wipe")), identity))
        return;
    OperationScope scope(*this);
    RunningScope running(*this);

    // Work on copies: the drive record keeps the medium's own geometry.
    const DriveInfoRecord &record = DriveInfo();
    const int bps = std::max(512, int(record.BytesPerSector));
    const int64_t start = int64_t(record.FirstDataSector) * bps;
    lblStatus.setCaption(FormatString(GetString(238, QStringLiteral("Status: %0 disk %1 ")), {verb, source}));
    plat::Handle medium = plat::openVolume(letter, plat::Access::Read);
    const QByteArray first = medium.readAt(start, bps);
    medium.close();
    if (first.size() < bps) {
        lblStatus.setCaption(GetString(241, QStringLiteral("Access to disk failed.")));
        return;
    }
    int sectorsPerBlock = int(std::max<uint32_t>(1, record.SectorsPerCluster));
    if (repair)
        sectorsPerBlock = 1;
    else
        while (sectorsPerBlock < 128)
            sectorsPerBlock *= 2;
    const int block = bps * sectorsPerBlock;

    plat::RawWriteTarget target;
    const plat::WriteRefusal why = target.open(letter, identity);
    if (why != plat::WriteRefusal::None) {
        ShowWriteRefusal(why);
        return;
    }
    const QString status = lblStatus.Caption();
    ShowProgressPanel(status, double(std::max<int64_t>(1, (target.size() - start) / block + 2)));
    WriteCallbacks cb;
    cb.stopRequested = [this] { return !OperationRunning; };
    cb.blockWritten = [this] {
        ProgressBar1.setValue(std::min(ProgressBar1.Max(), ProgressBar1.Value() + 1));
        plat::pumpEvents();
    };
    const WriteOutcome out = ZeroFill(target, start, block, bps, cb);
    const bool flushed = target.close();
    LastWriteOutcome = out;
    if (out.stopped) {
        lblStatus.setCaption(status + ResultWord(out, flushed));
        return;
    }
    const QString result = GetString(239, QStringLiteral("Status")) + QLatin1Char(' ') + verb + QStringLiteral(": ");
    lblStatus.setCaption(result + ResultWord(out, flushed));
    if (out.finished() && flushed)
        RunFormat(identity);
}

// ---- format ---------------------------------------------------------------------------------

void frmRecover::FormatMedium()
{
    const QString source = SourceName.left(2);
    plat::MediumIdentity identity;
    const QString question =
        FormatString(GetString(1477, QStringLiteral("Do you really want to format disk %0")), {source}) + QLatin1Char('?');
    if (!ConfirmMediumTool(question, GetString(256, QStringLiteral("Format Drive")), identity))
        return;
    OperationScope scope(*this);
    RunningScope running(*this);
    RunFormat(identity);
}

void frmRecover::RunFormat(const plat::MediumIdentity &identity)
{
    const QString formatting = GetString(257, QStringLiteral("Formatting disk"));
    lblStatus.setCaption(formatting + QLatin1Char(' ') + SourceName.left(2));
    plat::pumpEventsNow();
    const plat::FormatResult r = plat::formatFat(SourceName[0].toUpper(), identity, fatBitsOf(DriveInfo().FileSystem),
                                                 DriveInfo().VolumeLabel);
    LastFormatResult = r;
    if (r.refusal != plat::WriteRefusal::None) {
        lblStatus.setCaption(formatting + QLatin1Char(' ') + GetString(240, QStringLiteral("Failed")));
        ShowWriteRefusal(r.refusal);
    } else if (r.exitCode == 0) {
        lblStatus.setCaption(formatting + QLatin1Char(' ') + GetString(258, QStringLiteral("finished")));
    } else {
        lblStatus.setCaption(formatting + QLatin1Char(' ') + GetString(240, QStringLiteral("Failed")));
        MsgBoxPositioned(hWnd(),
                         FormatString(GetString(2473, QStringLiteral("The format program ended with code %0.")),
                                      {QString::number(r.exitCode)})
                             + QStringLiteral("\r\n\r\n") + QString::fromLocal8Bit(r.output).trimmed().right(600),
                         plat::mb::OK + plat::mb::IconExclamation, GetString(256, QStringLiteral("Format Drive")));
    }
    GetDriveInfo(SourceName);
    ShowDriveInfo();
}

// ---- Test Speed -------------------------------------------------------------------------------

double DriveSpeedTest(const QString &drive, double &mbps)
{
    mbps = 0;
    const QChar letter = drive.isEmpty() ? QChar() : drive[0].toUpper();
    bool direct = false;
    plat::Handle h = letter.isLetter() ? plat::openVolumeUncached(letter, &direct) : plat::Handle{};
    if (!h.valid()) {
        const QString text = DriveInfo().BytesPerSector > 0
                                 ? GetString(960, QStringLiteral("Drive protected.")) + QStringLiteral("\r\n")
                                       + GetString(961, QStringLiteral("With Windows 7/Vista run Quilvane as administrator."))
                                 : GetString(962, QStringLiteral("Drive not readable or damaged."));
        MsgBoxTimed(QString(), text, 0, GetString(963, QStringLiteral("Speed test")));
        return 0;
    }
    // O_DIRECT reads need an aligned buffer.
    void *raw = nullptr;
    if (posix_memalign(&raw, 4096, kSpeedBlock) != 0) {
        h.close();
        return 0;
    }
    std::unique_ptr<void, decltype(&std::free)> buffer(raw, &std::free);
    SpeedTestIo io;
    io.readBlock = [&] {
        qint64 got = 0;
        return h.read(buffer.get(), kSpeedBlock, &got) ? int64_t(got) : int64_t(0);
    };
    io.clockNs = [] {
        return int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
    };
    io.afterPass = [] {
        if (plat::inputPending())
            plat::pumpEventsNow();
    };
    mbps = MeasureReadSpeed(io);
    h.close();
    return mbps;
}

void frmRecover::CmdMaxSpeed_Click()
{
    if (CmdMaxSpeed.Caption().contains(GetString(92, QStringLiteral("Busy"))))
        return;   // a test runs
    if (RefuseWhileBusy())
        return;
    plat::pumpEventsNow();
    int force = 0;
    ShowVistaAdvice(SourceName, force);
    OperationScope scope(*this);
    OperationBusy = true;
    CmdMaxSpeed.setCaption(GetString(92, QStringLiteral("Busy")) + QStringLiteral(".."));
    DriveSpeedTest(SourceName, MeasuredSpeedMBps);
    CmdMaxSpeed.setCaption(GetString(39, QStringLiteral("Test Speed")));
    OperationBusy = false;
    if (DriveInfo().BytesPerSector == 0 || SourceName.isEmpty() || DriveInfo().DriveLetter != SourceName[0].toUpper())
        GetDriveInfo(SourceName);
    MeasuredSpeedSerial = DriveInfo().VolumeSerial;
    ShowDriveInfo();
}
