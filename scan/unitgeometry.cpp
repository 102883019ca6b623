#include "scan/unitgeometry.h"

#include "drive/driveinfo.h"

#include <QFile>
#include <algorithm>
#include <cmath>

namespace {

uint32_t u8(const QByteArray &b, int o) { return o >= 0 && o < b.size() ? uint8_t(b[o]) : 0; }
uint32_t u16(const QByteArray &b, int o) { return u8(b, o) | (u8(b, o + 1) << 8); }
uint32_t u32(const QByteArray &b, int o) { return u16(b, o) | (u16(b, o + 2) << 16); }
uint64_t u64(const QByteArray &b, int o) { return u32(b, o) | (uint64_t(u32(b, o + 4)) << 32); }

bool sectorSizeKnown(int64_t bps) { return bps == 512 || bps == 1024 || bps == 2048 || bps == 4096; }
bool powerOfTwo(int64_t v) { return v > 0 && !(v & (v - 1)); }

UnitGeometry make(int32_t bps, int32_t spc, int64_t clusters, int64_t firstDataSector, int64_t firstUnit,
                  const QString &fs)
{
    UnitGeometry g;
    g.bytesPerSector = bps;
    g.sectorsPerUnit = spc;
    g.clusterSectors = spc;
    g.unitBytes = bps * spc;
    g.unitCount = std::max<int64_t>(0, clusters);
    g.baseOffset = firstDataSector * bps;
    g.firstUnit = firstUnit;
    g.fileSystem = fs;
    return g;
}

// Keeps the units within the file: no unit starts at or past its end.
void boundByLength(UnitGeometry &g, int64_t fileLength)
{
    if (fileLength <= 0 || g.unitBytes <= 0)
        return;
    const int64_t room = fileLength - g.baseOffset;
    const int64_t fit = room > 0 ? (room + g.unitBytes - 1) / g.unitBytes : 0;
    g.unitCount = std::min(g.unitCount, fit);
}

UnitGeometry rawGeometry(int64_t fileLength)
{
    return make(512, 1, fileLength > 0 ? (fileLength + 511) / 512 : 0, 0, 0, QString());
}

} // namespace

bool UnitGeometry::valid() const
{
    return sectorSizeKnown(bytesPerSector) && sectorsPerUnit >= 1 && unitBytes == bytesPerSector * sectorsPerUnit
           && unitCount > 0 && baseOffset >= 0;
}

int64_t UnitGeometry::unitAtOffset(int64_t byteOffset) const
{
    if (unitBytes <= 0 || byteOffset <= baseOffset)
        return firstUnit;
    return std::min(endUnit(), firstUnit + (byteOffset - baseOffset) / unitBytes);
}

int64_t UnitGeometry::unitOfCluster(int64_t cluster) const
{
    if (sectorsPerUnit < 2 || clusterSectors < sectorsPerUnit || clusterSectors % sectorsPerUnit)
        return -1;
    if (cluster < firstUnit)
        return -1;
    return firstUnit + (cluster - firstUnit) * (clusterSectors / sectorsPerUnit);
}

UnitGeometry GeometryOfDrive(const DriveInfoRecord &d, bool deepScan)
{
    const int32_t bps = d.BytesPerSector;
    const int32_t spc = int32_t(std::max<uint32_t>(1, d.SectorsPerCluster));
    const int64_t clusters = d.TotalClusters > 0 ? int64_t(d.TotalClusters) : 0;
    UnitGeometry g = make(bps, spc, clusters, std::max<int64_t>(0, d.FirstDataSector),
                          std::max<int32_t>(0, d.FirstCluster), d.FileSystem);
    if (deepScan) {
        g.sectorsPerUnit = 1;
        g.unitBytes = bps;
        g.unitCount = clusters * spc;
    }
    // Units of less than 512 bytes do not occur: sectors are at least 512.
    return g;
}

void LimitImageUnits(UnitGeometry &g)
{
    while (g.sectorsPerUnit >= 9) {
        g.sectorsPerUnit /= 2;
        g.unitCount *= 2;
    }
    g.unitBytes = g.bytesPerSector * g.sectorsPerUnit;
}

UnitGeometry GeometryOfImageIndex(int32_t bps, int32_t spc, int64_t totalClusters, int64_t firstDataSector)
{
    if (!sectorSizeKnown(bps) || !powerOfTwo(spc) || totalClusters <= 0 || firstDataSector < 0)
        return {};
    UnitGeometry g = make(bps, spc, totalClusters, firstDataSector, firstDataSector > 0 ? 2 : 0, QString());
    LimitImageUnits(g);
    return g;
}

UnitGeometry GeometryOfBootSector(const QByteArray &b, int64_t fileLength)
{
    UnitGeometry g;
    const QByteArray oem = b.mid(3, 8);
    if (b.size() >= 512 && oem == "NTFS    ") {
        const int32_t bps = int32_t(u16(b, 11));
        uint32_t raw = u8(b, 13);
        const int32_t spc = raw > 0x80 ? (raw >= 0xF4 ? int32_t(1u << (256 - raw)) : 0) : int32_t(raw);
        const int64_t total = int64_t(std::min<uint64_t>(u64(b, 40), uint64_t(INT64_MAX / 4096)));
        if (sectorSizeKnown(bps) && powerOfTwo(spc) && total > 0)
            g = make(bps, spc, (total + spc - 1) / spc, 0, 0, QStringLiteral("NTFS"));
    } else if (b.size() >= 512 && oem == "EXFAT   ") {
        const uint32_t bpsShift = u8(b, 108), spcShift = u8(b, 109);
        if (bpsShift >= 9 && bpsShift <= 12 && spcShift <= 25 - bpsShift)
            g = make(int32_t(1u << bpsShift), int32_t(1u << spcShift), u32(b, 92), u32(b, 88), 2,
                     QStringLiteral("exFAT"));
    } else if (b.size() >= 512 && u8(b, 510) == 0x55 && u8(b, 511) == 0xAA) {
        const int32_t bps = int32_t(u16(b, 11));
        const int32_t spc = int32_t(u8(b, 13));
        const int64_t reserved = u16(b, 14), fats = u8(b, 16), rootEntries = u16(b, 17);
        const int64_t total = u16(b, 19) ? u16(b, 19) : u32(b, 32);
        const int64_t fatSize = u16(b, 22) ? u16(b, 22) : u32(b, 36);
        if (sectorSizeKnown(bps) && powerOfTwo(spc) && reserved > 0 && fats > 0 && fatSize > 0 && total > 0) {
            const int64_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
            const int64_t firstData = reserved + fats * fatSize + rootSectors;
            if (firstData < total) {
                const int64_t clusters = (total - firstData) / spc;
                const QString fs = u16(b, 22) == 0 ? QStringLiteral("FAT32")
                                   : clusters < 4085 ? QStringLiteral("FAT12")
                                                     : QStringLiteral("FAT16");
                g = make(bps, spc, clusters, firstData, 2, fs);
            }
        }
    }
    if (!g.valid())
        g = rawGeometry(fileLength);
    boundByLength(g, fileLength);
    LimitImageUnits(g);
    if (!g.valid())
        return rawGeometry(fileLength);
    return g;
}

UnitGeometry GeometryOfImageFile(const QString &nativePath)
{
    QFile f(nativePath);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= 0)
        return {};
    const QByteArray boot = f.read(512);
    return GeometryOfBootSector(boot, f.size());
}

int64_t UnitsPerRead(const ReadSizeFacts &f)
{
    const int64_t unit = std::max<int64_t>(512, f.unitBytes);
    int64_t upr = 1;
    if (f.damaged && f.deepOnDrive)
        upr = std::max(1, f.mediumClusterSectors);
    if (!f.damaged) {
        const int64_t m = std::min<int64_t>(std::max(0, f.freeMemoryMB) / 10, 64);
        upr = (m + 2) * 1048576 / unit;
    }
    if (f.image)
        upr = RoundHalfEven(1024.0 / std::max(1, f.sectorsPerUnit));
    if (f.unitCount / 20 < upr)
        upr = RoundHalfEven(double(f.unitCount) / 20.0);
    if ((!f.cdRom && f.sectorsPerUnit == 1) || f.recoveryStage != 0)
        upr = RoundHalfEven(double(upr) / 4.0);
    while (upr * unit < 1024)
        ++upr;
    return std::max<int64_t>(1, upr);
}
