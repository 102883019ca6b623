// The narrow information texts beside the preview, and the drive information.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "drive/drivelist.h"
#include "drive/strings.h"
#include "platform/os.h"

#include <QLocale>

#include <cerrno>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// A number as the program's formats " ###,##0.0" and "##0.00" give it: the
// locale's separators, groups of thousands where asked.
QString formatNumber(double value, int decimals, bool groups)
{
    QLocale locale;
    locale.setNumberOptions(groups ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

} // namespace

void frmRecover::FormatInfo(const QString &line, QString &text) const
{
    QString s = line;
    // Break after a folder separator where one lies within the first 36.
    while (s.size() >= 37) {
        const qsizetype cut = s.left(36).lastIndexOf('\\');
        if (cut < 0)
            break;
        text += s.left(cut + 1) + kCrLf;
        s = s.mid(cut + 1);
    }
    while (s.size() >= 36) {
        text += s.left(35) + kCrLf;
        s = s.mid(35);
    }
    text += s.trimmed() + kCrLf;
}

void frmRecover::TruncateInfo(QString &text) const
{
    int pieces = 1;
    for (qsizetype at = text.indexOf(kCrLf, 1); at >= 0; at = text.indexOf(kCrLf, at + 2))
        ++pieces;
    for (int i = 11; i < pieces; ++i) {
        const qsizetype last = text.lastIndexOf(kCrLf);
        if (last < 0)
            break;
        text.truncate(last);
    }
}

void frmRecover::ShowDriveInfo()
{
    QString info = kCrLf;
    QString shownFileSystem;
    const DriveInfoRecord &d = DriveInfo();
    if (!SourceName.contains(QStringLiteral("DiskImag"))) {
        if (SourceName != DescribedSource || d.TotalMB == 0) {
            GetDriveInfo(SourceName);
            DescribedSource = SourceName;
        }
        FormatInfo(GetString(655, QStringLiteral("Drive")) + " " + SourceName.toUpper()
                       + GetString(1426, QStringLiteral("\\ Type:")) + " " + d.DriveType,
                   info);
        FormatInfo(GetString(1430, QStringLiteral("Volume Label:")) + " " + d.VolumeLabel, info);
        shownFileSystem = d.FileSystem;
    } else {
        FormatInfo(SourceName.mid(SourceName.lastIndexOf('\\') + 1), info);
        shownFileSystem = QStringLiteral("File");
    }
    const bool noRights = d.MediumSize < 0 && (d.OpenError == EACCES || d.OpenError == EPERM);
    if (noRights && !SourceName.contains(QStringLiteral("DiskImag")))
        FormatInfo(FormatString(GetString(2112, QStringLiteral("No right to read %0")), {SourceName.toUpper()}), info);
    else if (MeasuredSpeedMBps != 0 && MeasuredSpeedSerial == d.VolumeSerial)
        FormatInfo(GetString(1428, QStringLiteral("Read speed:")) + " " + formatNumber(MeasuredSpeedMBps, 2, false) + " "
                       + GetString(1429, QStringLiteral("MB/sec")),
                   info);
    else
        info += kCrLf;
    if (shownFileSystem == d.FileSystem) {
        QString iface;
        GetDriveInterfaceType(iface);
        FormatInfo(GetString(1427, QStringLiteral("Interface:")) + " " + iface, info);
        FormatInfo(GetString(1431, QStringLiteral("Serial Number:")) + " &&H"
                       + QString::number(d.VolumeSerial, 16).toUpper(),
                   info);
        FormatInfo(GetString(1433, QStringLiteral("Free Space:")) + " " + formatNumber(d.FreeMB, 1, true) + " MB", info);
    }
    FormatInfo(GetString(1432, QStringLiteral("Total Space:")) + " " + formatNumber(d.TotalMB, 1, true) + " MB", info);
    FormatInfo(GetString(1434, QStringLiteral("File System:")) + " " + shownFileSystem, info);
    FormatInfo(GetString(1435, QStringLiteral("Bytes/sector:")) + " " + QString::number(d.BytesPerSector), info);
    FormatInfo(GetString(1436, QStringLiteral("Sectors/cluster:")) + " " + QString::number(d.SectorsPerCluster), info);
    TruncateInfo(info);
    DriveInfoText = info;
    lblSpecs.setCaption(info);
}

void frmRecover::UpdateDriveInfoLabel()
{
    const bool stale = !DriveInfoText.contains(" " + SourceName, Qt::CaseInsensitive)
        || !DriveInfoText.contains(GetString(655, QStringLiteral("Drive"))) || DriveInfo().BytesPerSector == 0;
    if (stale)
        ShowDriveInfo();
    else
        lblSpecs.setCaption(DriveInfoText);
    plat::pumpEventsNow();
}
