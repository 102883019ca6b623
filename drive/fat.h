// FAT tables and directory chains of the drive in the record.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// End-of-chain marks: a cluster at or above ends a chain.
constexpr int32_t kFat12End = 4088;
constexpr int32_t kFat16End = 65528;
constexpr int32_t kFat32End = 268435448;
// The most entries one directory can hold.
constexpr int64_t kMaxDirEntries = 65536;

// The first sector of cluster n: cluster FirstCluster begins at FirstDataSector.
int64_t ClusterToSector(int64_t cluster);

void UnpackFat12();
void ReadRootDirectory(const QString &root);
// Reads the directory whose first cluster is given into CurrentDirEntries;
// the directory's size in sectors minus one (-1 when nothing was taken).
int32_t ReadDirectoryChain(const QString &drive, int32_t startCluster, bool &accepted);
// Reads one cluster; no bytes and a count of 0 for a cluster before the first.
void ReadCluster(const QString &drive, int32_t &cluster, QByteArray &bytes, int64_t &bytesRead);
