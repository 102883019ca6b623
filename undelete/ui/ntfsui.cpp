// The main window's side of the NTFS module: opening and closing the volume
// of the source, the listing with its progress and its limit, and the
// messages the module itself never shows.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/os.h"
#include "platform/ui/msgbox.h"

#include <QElapsedTimer>
#include <QLocale>
#include <cmath>

namespace {

QString mftTitle()
{
    return GetString(2150, QStringLiteral("Quilvane MFT")) + QLatin1Char(' ')
        + GetString(1717, QStringLiteral("Quick Undelete"));
}

int64_t megabytesToBytes(double mb)
{
    if (!(mb > 0))
        return 0;
    return int64_t(std::llround(std::min(mb, 8.0e12) * 1048576.0));
}

} // namespace

bool frmRecover::OpenMft(const QString &drive)
{
    MUndeleteNTFS &m = NtfsModule();
    MftWasOpened = true;
    if (m.OpenMft(drive))
        return true;
    ShowMftAccessDenied(drive);
    return false;
}

void frmRecover::CloseMft()
{
    NtfsModule().CloseMft();
}

void frmRecover::ShowMftAccessDenied(const QString &drive)
{
    const MUndeleteNTFS &m = NtfsModule();
    if (m.MftBlock || m.NtfsVolumeHandle == 0)
        return;
    MsgBoxPositioned(hWnd(),
                     FormatString(GetString(2151, QStringLiteral("Access to the MFT of %0 denied. Please try again later.")),
                                  {drive}),
                     plat::mb::OK, mftTitle());
}

bool frmRecover::QuickUndeleteNtfs(const QString &drive, std::vector<DeletedEntryRecord> &entries, const QString &filter,
                                   double minMB, double maxMB)
{
    if (!OpenMft(drive))
        return false;
    QElapsedTimer shown;
    shown.start();
    auto progress = [this, &shown](int64_t record, int64_t count) {
        if (shown.elapsed() < 100 && record < count)
            return;
        shown.restart();
        ProgressBar1.setMax(double(count));
        ProgressBar1.setValue(double(record));
        plat::pumpEvents();
    };
    const NtfsListResult r =
        NtfsModule().ListDeletedNtfsEntries(entries, filter, megabytesToBytes(minMB), megabytesToBytes(maxMB), progress);
    if (r.cut) {
        QLocale locale;
        short style = 1;
        MsgBoxTimed(QString::number(hWnd()),
                    locale.toString(qlonglong(r.matches)) + GetString(1716, QStringLiteral(" deleted files found."))
                        + QStringLiteral("\r\n\r\n")
                        + GetString(1715, QStringLiteral("Please narrow your search as only the first 25,000 files "
                                                         "will be processed.")),
                    style, mftTitle());
    }
    return r.listed;
}

ClusterUse frmRecover::NtfsEntryClusterUse(const QString &source, int32_t mftIndex, bool closeAfterwards)
{
    const auto runs = mftIndex > 0 ? NtfsModule().DeletedDataRuns(uint32_t(mftIndex)) : std::nullopt;
    ClusterUse use = runs ? ClusterUse::Free : ClusterUse::Unknown;
    for (size_t i = 0; runs && i < runs->size() && use != ClusterUse::Used; ++i) {
        const NtfsClusterRun &r = (*runs)[i];
        const ClusterUse u = r.lcn > uint64_t(INT64_MAX) || r.count > uint64_t(INT64_MAX) - r.lcn
            ? ClusterUse::Unknown
            : SourceClusterUse(source, int64_t(r.lcn), false, int64_t(r.count));
        use = u == ClusterUse::Free ? use : u;
    }
    if (closeAfterwards)
        SourceClusterUse(source, 0, true);
    return use;
}

NtfsWrite frmRecover::RecoverNtfsEntry(const QString &drive, int32_t mftIndex, QFile &target,
                                       const std::function<bool()> &keepGoing)
{
    MUndeleteNTFS &m = NtfsModule();
    if ((!m.MftBlock || m.OpenedSource != drive) && !OpenMft(drive))
        return NtfsWrite::Failed;
    // Clusters a file owns again hold that file's bytes now: what is read
    // from them is never a whole, clean copy. A batch keeps the bitmap's
    // volume open to its end.
    const bool reused = NtfsEntryClusterUse(drive, mftIndex, !BatchSave) == ClusterUse::Used;
    NtfsWrite result = mftIndex > 0 ? m.WriteNtfsEntryFile(uint32_t(mftIndex), target, keepGoing) : NtfsWrite::Failed;
    if (result == NtfsWrite::Complete && reused)
        result = NtfsWrite::ClustersInUse;
    plat::pumpEvents();
    return result;
}
