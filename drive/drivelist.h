// Drives as a whole: which exist of a type, their space, and the physical
// disk and bus they sit on.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// Appends the root of every drive of the given type code (below 1: every
// type), each followed by one blank.
void ListDrivesOfType(QString &list, int driveType);
// Free MB available to the user; totalMB receives the size in MB.
int32_t GetDiskSpaceMB(const QString &drive, int32_t &totalMB);

// The disk table: columns 0 (empty), 1 DeviceID, 2 InterfaceType, 3 MediaType,
// 4 BytesPerSector, 5 TotalSectors; table[column][row].
using DiskTable = std::vector<QStringList>;
void QueryDiskDrives(DiskTable &table);
// The interface type of the physical disk of the drive in the record.
void GetDriveInterfaceType(QString &interfaceType);

// Removes one element, moving the later ones down.
void RemoveArrayItem(QStringList &items, int index);
