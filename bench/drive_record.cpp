// drive_record IMAGE: attaches a disk image as removable drive E:, fills the
// drive record and prints every field as "Name: value", one a line. Arrays
// show their upper bound and a CRC-32 of their bytes, so the record can be
// checked against independent tools (minfo, fsck.fat -v).
#include "drive/driveinfo.h"
#include "platform/drives.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

uint32_t crc32(const void *data, size_t n)
{
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        made = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    const auto *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

template <typename T>
void printArray(const char *name, const T *data, size_t count)
{
    std::printf("%s: ub=%lld crc32=%08X\n", name, static_cast<long long>(count) - 1,
                crc32(data, count * sizeof(T)));
}

void printText(const char *name, const QString &v) { std::printf("%s: %s\n", name, v.toUtf8().constData()); }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: drive_record IMAGE\n");
        return 2;
    }
    const QString image = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    plat::DriveTable::instance().setExclusive(true);
    plat::VirtualDriveOptions opts;
    opts.typeCode = plat::DriveTypeRemovable;
    if (!plat::DriveTable::instance().attachImage('E', image, opts)) {
        std::fprintf(stderr, "cannot attach %s\n", argv[1]);
        return 1;
    }
    GetDriveInfo("E:");
    const DriveInfoRecord &d = DriveInfo();
    std::printf("SectorsPerCluster: %u\n", d.SectorsPerCluster);
    std::printf("BytesPerSector: %d\n", d.BytesPerSector);
    printText("FileSystem", d.FileSystem);
    printText("DriveType", d.DriveType);
    printText("VolumeLabel", d.VolumeLabel);
    std::printf("VolumeSerial: %08X\n", d.VolumeSerial);
    std::printf("TotalSectors: %.0f\n", d.TotalSectors);
    std::printf("TotalMB: %.6f\n", d.TotalMB);
    std::printf("FreeMB: %.6f\n", d.FreeMB);
    printArray("BootSectorBytes", d.BootSectorBytes.constData(), size_t(d.BootSectorBytes.size()));
    std::printf("Fingerprint: %u\n", d.Fingerprint);
    std::printf("NumberOfFats: %u\n", d.NumberOfFats);
    std::printf("HiddenSectors: %u\n", d.HiddenSectors);
    std::printf("ReservedSectors: %d\n", d.ReservedSectors);
    std::printf("SectorsPerFat: %lld\n", static_cast<long long>(d.SectorsPerFat));
    std::printf("FatEntryWidth: %.1f\n", double(d.FatEntryWidth));
    std::printf("FirstRootDirSector: %lld\n", static_cast<long long>(d.FirstRootDirSector));
    std::printf("RootDirSectorsMinusOne: %d\n", d.RootDirSectorsMinusOne);
    std::printf("MftCluster: %u\n", d.MftCluster);
    std::printf("ClustersPerMftRecord: %d\n", d.ClustersPerMftRecord);
    std::printf("FirstDataSector: %lld\n", static_cast<long long>(d.FirstDataSector));
    std::printf("TotalClusters: %.0f\n", d.TotalClusters);
    printArray("Fat1Bytes", d.Fat1Bytes.constData(), size_t(d.Fat1Bytes.size()));
    printArray("Fat2Bytes", d.Fat2Bytes.constData(), size_t(d.Fat2Bytes.size()));
    printArray("Fat1Text", d.Fat1Text.constData(), size_t(d.Fat1Text.size()));
    printArray("Fat2Text", d.Fat2Text.constData(), size_t(d.Fat2Text.size()));
    printArray("Fat32Entries", d.Fat32Entries.data(), d.Fat32Entries.size());
    printArray("Fat16Entries", d.Fat16Entries.data(), d.Fat16Entries.size());
    printArray("Fat12Entries", d.Fat12Entries.data(), d.Fat12Entries.size());
    printArray("RootDirEntries", d.RootDirEntries.data(), d.RootDirEntries.size());
    printArray("CurrentDirEntries", d.CurrentDirEntries.data(), d.CurrentDirEntries.size());
    std::printf("FirstCluster: %d\n", d.FirstCluster);
    std::printf("RootCluster: %d\n", d.RootCluster);
    std::printf("IsNT: %s\n", d.IsNT ? "True" : "False");
    return 0;
}
