// Free clusters from the volume bitmap, and media eject and load.
#pragma once

#include <QString>
#include <cstdint>

// The first free cluster after startCluster, with the length and last cluster
// of its free run; TotalClusters and run 0 when none is free after it; 0 and
// run 0 (last cluster untouched) when the volume cannot be read.
int64_t FindFreeClusterRun(const QString &drive, int64_t &startCluster, int64_t &runLength, int64_t &lastCluster);
// True when the bitmap marks the cluster free; false when it is in use, the
// number is negative, or the bitmap cannot be read. The volume stays open
// between calls until closeAfterwards, a failed request or another drive.
bool IsClusterFree(const QString &drive, int64_t &cluster, bool &closeAfterwards);

bool SendDriveIoctl(QString &drive, uint32_t controlCode);
bool EjectMedia(QString &drive);
bool LoadMedia(QString &drive);
void ReloadMedia(QString &drive);
