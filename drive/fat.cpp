#include "drive/fat.h"

#include "drive/driveinfo.h"
#include "drive/sectors.h"
#include "platform/os.h"

#include <cstring>
#include <unordered_set>

int64_t ClusterToSector(int64_t cluster)
{
    const DriveInfoRecord &d = DriveInfo();
    return (cluster - d.FirstCluster) * int64_t(d.SectorsPerCluster) + d.FirstDataSector;
}

void UnpackFat12()
{
    DriveInfoRecord &d = DriveInfo();
    const auto *b = reinterpret_cast<const uint8_t *>(d.Fat1Bytes.constData());
    const qsizetype n = d.Fat1Bytes.size();
    std::vector<int16_t> &e = d.Fat12Entries;
    // Every group of three bytes gives two entries; a last pair of bytes
    // still holds one whole entry. No entry of the FAT is left out.
    for (qsizetype i = 0; 3 * i + 1 < n; ++i) {
        const uint32_t v = b[3 * i] | uint32_t(b[3 * i + 1]) << 8 | (3 * i + 2 < n ? uint32_t(b[3 * i + 2]) << 16 : 0);
        const size_t even = size_t(2 * i);
        if (even < e.size())
            e[even] = int16_t(v & 0xFFF);
        if (3 * i + 2 < n && even + 1 < e.size())
            e[even + 1] = int16_t((v & 0xFFF000) >> 12);
    }
}

void ReadRootDirectory(const QString &root)
{
    DriveInfoRecord &d = DriveInfo();
    if (d.FileSystem == "FAT12" || d.FileSystem == "FAT16") {
        const int64_t bytes = int64_t(d.RootDirSectorsMinusOne + 1) * d.BytesPerSector;
        const int64_t count = bytes / 32;
        if (count > 0 && count <= kMaxDirEntries) {
            int64_t got = 0;
            const QByteArray data = ReadSectors(root, d.FirstRootDirSector, 0, count * 32, got);
            std::vector<FatDirEntry> entries(size_t(count), FatDirEntry{});
            std::memcpy(entries.data(), data.constData(), size_t(qMin<int64_t>(data.size(), count * 32)));
            static const FatDirEntry zero{};
            size_t k = entries.size();
            for (size_t i = 0; i < entries.size(); ++i)
                if (std::memcmp(&entries[i], &zero, 32) == 0) {
                    k = i;
                    break;
                }
            if (k == 0)
                k = 1;
            entries.resize(k);
            d.RootDirEntries = entries;
            d.CurrentDirEntries = entries;
        }
    } else if (d.FileSystem == "FAT32") {
        bool accepted = true;
        d.RootDirSectorsMinusOne = ReadDirectoryChain(root, d.RootCluster, accepted);
        d.RootDirEntries = DriveInfo().CurrentDirEntries;
    } else {
        d.CurrentDirEntries.assign(1, FatDirEntry{});
    }
    const std::vector<FatDirEntry> &r = DriveInfo().RootDirEntries;
    for (size_t i = 0; i + 1 < r.size(); ++i)
        DriveInfo().Fingerprint += r[i].Name[0];
}

namespace {

// The next cluster of a chain, or -1 when the FAT has no entry for it.
int64_t nextInChain(int64_t current)
{
    const DriveInfoRecord &d = DriveInfo();
    if (current < 0)
        return -1;
    const auto i = size_t(current);
    if (d.FileSystem == "FAT16")
        return i < d.Fat16Entries.size() ? UnsignedWord(d.Fat16Entries[i]) : -1;
    if (d.FileSystem == "FAT12")
        return i < d.Fat12Entries.size() ? d.Fat12Entries[i] : -1;
    // The top four bits of a FAT32 entry are reserved; the walk ignores them.
    return i < d.Fat32Entries.size() ? int64_t(uint32_t(d.Fat32Entries[i]) & 0x0FFFFFFFu) : -1;
}

} // namespace

int32_t ReadDirectoryChain(const QString &drive, int32_t startCluster, bool &accepted)
{
    int64_t threshold;
    {
        const DriveInfoRecord &d = DriveInfo();
        if (d.FileSystem == "NTFS")
            return 0;
        threshold = d.FileSystem == "FAT16" ? kFat16End : d.FileSystem == "FAT12" ? kFat12End : kFat32End;
    }
    DriveInfo().CurrentDirEntries.assign(1, FatDirEntry{});
    const int64_t first = qMax<int64_t>(startCluster, DriveInfo().FirstCluster);
    const int64_t clusterBytes = int64_t(DriveInfo().SectorsPerCluster) * DriveInfo().BytesPerSector;
    const int64_t perCluster = clusterBytes / 32;
    if (perCluster <= 0 || DriveInfo().BytesPerSector <= 0)
        return -1;

    int64_t count = 0;
    int64_t current = first, previous = 0;
    // A chain passes each cluster once: coming back to one is a loop in a
    // damaged FAT, and ends the walk.
    std::unordered_set<int64_t> visited;
    while (current != previous) {
        // The record may change while events are processed: read it afresh.
        const int64_t lastCluster = int64_t(DriveInfo().TotalClusters) + 1;
        if (current >= threshold || current < first || current > lastCluster)
            break;
        if (!visited.insert(current).second || count + perCluster > kMaxDirEntries)
            break;
        if (plat::inputPending())
            plat::pumpEvents();
        previous = current;
        int64_t got = 0;
        const QByteArray data = ReadSectors(drive, ClusterToSector(current), 0, clusterBytes, got);
        if (data.isEmpty() || got <= 0)
            break;
        if (!accepted && data.size() >= 34 && data[0] == '.' && data[1] == ' ' && data[32] == '.' && data[33] == '.')
            accepted = true;
        if (!accepted)
            break;
        count += perCluster;
        std::vector<FatDirEntry> &entries = DriveInfo().CurrentDirEntries;
        if (count == perCluster)
            entries.clear();
        const size_t at = entries.size();
        entries.resize(at + size_t(perCluster), FatDirEntry{});
        std::memcpy(&entries[at], data.constData(), size_t(qMin<int64_t>(data.size(), clusterBytes)));
        const int64_t next = nextInChain(current);
        if (next < 0)
            break;
        current = next;
    }
    if (count == 0)
        return -1;
    return int32_t(RoundHalfEven(double(count) * 32 / DriveInfo().BytesPerSector) - 1);
}

void ReadCluster(const QString &drive, int32_t &cluster, QByteArray &bytes, int64_t &bytesRead)
{
    const DriveInfoRecord &d = DriveInfo();
    const int64_t clusterBytes = int64_t(d.SectorsPerCluster) * d.BytesPerSector;
    bytesRead = 0;
    if (cluster < d.FirstCluster || clusterBytes <= 0) {
        bytes = QByteArray();
        return;
    }
    bytes = QByteArray(clusterBytes, '\0');
    bytes = ReadSectors(drive, ClusterToSector(cluster), 0, clusterBytes, bytesRead);
}
