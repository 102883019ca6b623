// Disk images of removable media, without a window: the image's name, the
// size of the backup's reads, the copy of a medium into an image file (with
// the careful reading of damaged media), and the listing of the image
// indexes with the removal of those whose image is gone.
#pragma once

#include "platform/partfile.h"
#include "platform/rawio.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

// The image's file name: the drive letter, "_", the volume label, "_", the
// date text, "_", the number and ".img". Every character a file name cannot
// hold (\ / : ? " < > | and control characters) becomes "-", so a label can
// never lead out of the folder.
QString DiskImageName(QChar letter, const QString &label, const QString &date, int number);

// Creates the image in the folder (a native path) under its temporary name
// (".NAME.part"), NAME taking the smallest number from 0 on for which
// neither the image nor such a temporary file exists; race-free (O_EXCL). A
// temporary image an earlier, killed backup left is never touched. The name
// the image is to take; false when none could be taken.
bool CreateDiskImage(plat::PartFile &image, const QString &folderNative, QChar letter, const QString &label,
                     const QString &date, QString &name);
// Gives the finished (or stopped) image its name, or the next free number's
// when an image took that name meanwhile; the name is updated. With the
// written bytes on the disk first.
bool CommitDiskImage(plat::PartFile &image, QChar letter, const QString &label, const QString &date, QString &name);
// The temporary images that killed backups of this medium (its letter and
// label) left in the folder: their file names, in order.
QStringList LeftoverDiskImages(const QString &folderNative, QChar letter, const QString &label);

// The backup's chunk in MB: 10, lowered by 1 while above 2 and a tenth of the
// free memory is below it.
int BackupChunkMB(int freeMemoryMB);
// Clusters per read: chunk bytes / bytes per sector / sectors per cluster / 2,
// rounded; halved for a CD-ROM; at least 8.
int64_t BackupClustersPerRead(int chunkMB, int bytesPerSector, int sectorsPerCluster, bool cdRom);

// How the copy reads: Normal reads many clusters at a time; Deep one cluster;
// Damaged one cluster (ticked at the start: one sector). After a read error
// the copy goes on more carefully (Normal -> Deep -> Damaged).
enum class BackupReadMode { Normal, Deep, Damaged };

struct BackupPlan {
    int64_t mediumBytes = 0;        // the medium's end: the image is never longer
    int32_t bytesPerSector = 512;
    int32_t sectorsPerCluster = 8;  // the unit of reads and of the progress
    int64_t clustersPerRead = 8;
    BackupReadMode mode = BackupReadMode::Normal;
    // From the last cluster down, one cluster a read. The first cluster that
    // does not read ends that run; the clusters from the first one up follow,
    // to the first that does not read; what lies between comes last, from the
    // top down, sector by sector where need be. So a medium that hangs on a
    // bad stretch has every sector before and after it copied first.
    bool backwards = false;
};

struct BackupProgress {
    int64_t clustersDone = 0;
    int64_t totalClusters = 0;
    int64_t elapsedSeconds = 0;
    int64_t secondsToGo = 0;
    double mbPerSecond = 0;
    // The bytes of the medium no read has reached yet: [notReadFrom, notReadTo).
    int64_t notReadFrom = 0, notReadTo = 0;
};

struct SectorRange {
    int64_t first = 0;
    int64_t last = 0;               // inclusive
};

struct BackupCallbacks {
    std::function<bool()> stopRequested;     // tested before every read
    std::function<void()> yield;             // the window's event pump
    std::function<int64_t()> clockMs;        // default: a steady clock
    // Every 2 seconds, and whenever a backwards copy turns at a bad stretch.
    std::function<void(const BackupProgress &)> progress;
    std::function<void(BackupReadMode)> modeChanged;
    std::function<void()> firstBlockWritten;
};

struct BackupResult {
    int64_t bytesRead = 0;          // bytes that came from the medium
    int64_t bytesPlaced = 0;        // bytes of the image written (read, or zeros where unreadable)
    int64_t mediumBytes = 0;
    std::vector<SectorRange> unreadable;   // ascending, merged
    int64_t unreadableSectors = 0;
    bool stopped = false;
    bool writeFailed = false;
    bool mediumEnded = false;       // the medium gave nothing more before its stated end
    double seconds = 0;
    BackupReadMode finalMode = BackupReadMode::Normal;
    // Every byte of the medium is in the image as it was read.
    bool whole() const { return !stopped && !writeFailed && !mediumEnded && bytesPlaced == mediumBytes && unreadableSectors == 0; }
};

// Copies the medium (a read-only handle) into the image file: each block at
// its own byte offset, so the image is the medium from byte 0. A read that
// fails is read again cluster by cluster and a cluster that fails sector by
// sector: every sector that can be read is in the image, the others are
// zeros and listed.
BackupResult CopyMedium(plat::Handle &medium, plat::Handle &image, const BackupPlan &plan, BackupCallbacks cb);

// "first-last" ranges, comma separated, at most maxRanges of them ("..." after).
QString SectorRangesText(const std::vector<SectorRange> &ranges, int maxRanges = 12);

// The index files of WorkFolder & "DiskImages\" (each name followed by "|";
// temporary files are not listed).
// An index whose image is gone while the image's drive is present is
// deleted; an index whose drive is absent stays. Only regular files named
// "*.dat" directly in that folder are ever deleted.
QString ListDiskImageIndexes(const QString &workFolder);
