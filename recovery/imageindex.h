// The index file beside a disk image: WorkFolder & "DiskImages\" & the
// image's file name & ".dat". Six quoted text lines (the image path, bytes
// per sector, sectors per cluster, total clusters, first data sector and the
// upper bound of the deleted-entry list), each a double quote, the text, a
// double quote and CR LF; numbers in the general decimal form with a leading
// blank when not negative. The medium's deleted-entry records follow in
// their file form, one after the other. An index of a backup that did not
// copy the whole medium ends in one more quoted line after the records,
// "Bytes copied: N", the length of the image that holds the medium's bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct DiskImageIndex {
    QString imagePath;            // internal path of the image file
    int32_t bytesPerSector = 0;
    int32_t sectorsPerCluster = 0;
    double totalClusters = 0;
    int64_t firstDataSector = 0;
    int32_t lastEntryIndex = -1;  // upper bound of the deleted-entry list
    QByteArray entryRecords;      // what follows the six lines
    int64_t copiedBytes = -1;     // the image's length that was copied; -1: all of it
};

// The index file of an image (internal paths).
QString DiskImageIndexPath(const QString &workFolder, const QString &imagePath);

// A number as the index writes it (the BASIC form): a blank before a value
// of 0 and above, a minus sign before a negative one; whole numbers below
// 1E15 in full, others with up to 15 significant digits (".5", "1E+15").
QByteArray IndexNumberText(double v);

// Reads an index. False when the file is missing, unreadable or its six
// lines are not there, or a value lies outside what a medium can have
// (sector size other than 512 to 4096, clusters of no or more than 65536
// sectors, a negative count); the records are kept only up to 64 MiB, and
// the upper bound is cut to what the records' bytes can hold (at most
// 1,000,000).
bool ReadDiskImageIndex(const QString &indexPath, DiskImageIndex &index);
// Writes an index under its temporary name, to the disk, then renamed over
// (the folder is created when missing). Refused for an image path holding a
// double quote, which line 1 cannot carry.
bool WriteDiskImageIndex(const QString &indexPath, const DiskImageIndex &index);
