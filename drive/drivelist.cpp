#include "drive/drivelist.h"

#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/os.h"

#include <cmath>

void ListDrivesOfType(QString &list, int driveType)
{
    for (QChar letter : plat::logicalDrives()) {
        const int code = plat::driveTypeCode(letter);
        if (code == plat::DriveTypeUnknown || code == plat::DriveTypeNoRoot)
            continue;
        if (driveType < 1 || driveType == code)
            list += QString(letter) + ":\\ ";
    }
}

int32_t GetDiskSpaceMB(const QString &drive, int32_t &totalMB)
{
    totalMB = 0;
    if (drive.isEmpty() || !drive[0].isLetter())
        return 0;
    const QChar letter = drive[0].toUpper();
    int64_t freeMB = 0;
    quint64 freeBytes = 0, totalBytes = 0;
    if (plat::diskFreeBytes(letter, &freeBytes, &totalBytes) && freeBytes != 0) {
        freeMB = RoundHalfEven(double(freeBytes) / 1048576.0);
        totalMB = int32_t(RoundHalfEven(double(totalBytes) / 1048576.0));
    }
    if (freeMB == 0) {
        if (auto g = plat::diskGeometry(letter)) {
            const double cluster = double(g->sectorsPerCluster) * g->bytesPerSector;
            freeMB = RoundHalfEven(double(g->freeClusters) * cluster / 1048576.0);
            totalMB = int32_t(RoundHalfEven(double(g->totalClusters) * cluster / 1048576.0));
        }
    }
    return int32_t(freeMB);
}

void QueryDiskDrives(DiskTable &table)
{
    plat::pumpEventsNow();
    table.assign(6, QStringList());
    for (const plat::DiskDriveRow &r : plat::diskDrives()) {
        table[0] << QString();
        table[1] << r.deviceId;
        table[2] << r.interfaceType;
        table[3] << r.mediaType;
        table[4] << QString::number(r.bytesPerSector);
        table[5] << QString::number(r.totalSectors);
    }
}

void GetDriveInterfaceType(QString &interfaceType)
{
    interfaceType.clear();
    DiskTable table;
    QueryDiskDrives(table);
    const DriveInfoRecord &d = DriveInfo();
    const qsizetype rows = table[1].size();
    if (rows == 0)
        return;
    // The disk the drive sits on is known: its row answers.
    const QString own = d.DriveLetter.isNull() ? QString() : plat::physicalDiskOf(d.DriveLetter);
    for (qsizetype r = 0; r < rows && !own.isEmpty(); ++r)
        if (table[1][r] == own) {
            interfaceType = table[2][r];
            return;
        }
    // Otherwise the disk whose size comes nearest among those of the same
    // sector size and kind of medium; the first one on a tie.
    double best = double(RoundHalfEven(d.TotalSectors));
    qsizetype chosen = 0;
    for (qsizetype r = 0; r < rows; ++r) {
        if (table[4][r].toInt() != d.BytesPerSector || !table[3][r].contains(d.DriveType))
            continue;
        const double dist = std::fabs(table[5][r].toDouble() - d.TotalSectors);
        if (best > dist) {
            best = double(RoundHalfEven(dist));
            chosen = r;
        }
    }
    interfaceType = table[2][chosen];
}

void RemoveArrayItem(QStringList &items, int index)
{
    if (index >= 0 && index < items.size())
        items.removeAt(index);
}
