#include "scan/unitgeometry.h"

#include "drive/driveinfo.h"
#include "ntfs/fennick_boot.h"

#include <QFile>
#include <algorithm>
#include <cmath>

namespace {

uint32_t u8(const QByteArray &b, int o) { return o >= 0 && o < b.size() ? uint8_t(b[o]) : 0; }
uint32_t u16(const QByteArray &b, int o) { return u8(b, o) | (u8(b, o + 1) << 8); }
uint32_t u32(const QByteArray &b, int o) { return u16(b, o) | (u16(b, o + 2) << 16); }

bool sectorSizeKnown(int64_t bps) { return bps == 512 || bps == 1024 || bps == 2048 || bps == 4096; }
bool powerOfTwo(int64_t v) { return v > 0 && !(v & (v - 1)); }

// a x b, or false when that leaves 64 bits.
bool mul(int64_t a, int64_t b, int64_t *out) { return !__builtin_mul_overflow(a, b, out); }

// A geometry of whole clusters; invalid when a cluster is no size a file
// system uses or the data area's offset leaves 64 bits.
UnitGeometry make(int64_t bps, int64_t spc, int64_t clusters, int64_t firstDataSector, int64_t firstUnit,
                  const QString &fs)
{
    UnitGeometry g;
    int64_t unit = 0, base = 0;
    if (!sectorSizeKnown(bps) || spc < 1 || !mul(bps, spc, &unit) || unit > kMaxUnitBytes || firstDataSector < 0
        || !mul(firstDataSector, bps, &base))
        return g;
    g.bytesPerSector = int32_t(bps);
    g.sectorsPerUnit = int32_t(spc);
    g.clusterSectors = int32_t(spc);
    g.unitBytes = int32_t(unit);
    g.unitCount = std::max<int64_t>(0, clusters);
    g.baseOffset = base;
    g.firstUnit = firstUnit;
    g.fileSystem = fs;
    return g;
}

// Single sectors over the whole medium, a partial last sector counted.
UnitGeometry rawGeometry(int64_t mediumBytes, int64_t bps = 512)
{
    return make(bps, 1, mediumBytes > 0 ? mediumBytes / bps + (mediumBytes % bps ? 1 : 0) : 0, 0, 0, QString());
}

// Whether a usable geometry lies on a medium of mediumBytes: its data area
// starts before the end and ends with it at the latest (a last unit may be
// cut short by the end).
bool fitsMedium(const UnitGeometry &g, int64_t mediumBytes)
{
    if (!g.valid() || g.baseOffset >= mediumBytes)
        return false;
    const int64_t tail = mediumBytes % g.unitBytes ? g.unitBytes - mediumBytes % g.unitBytes : 0;
    return g.totalBytes() <= mediumBytes - g.baseOffset + tail;
}

// A count held in a double, 0 when it is none a medium can hold.
int64_t wholeCount(double v)
{
    return v >= 1 && v < 9.0e18 ? int64_t(v) : 0;
}

} // namespace

bool UnitGeometry::valid() const
{
    int64_t end = 0;
    return sectorSizeKnown(bytesPerSector) && sectorsPerUnit >= 1
           && int64_t(unitBytes) == int64_t(bytesPerSector) * sectorsPerUnit && unitBytes <= kMaxUnitBytes
           && unitCount > 0 && baseOffset >= 0 && firstUnit >= 0 && mul(unitCount, unitBytes, &end)
           && !__builtin_add_overflow(end, baseOffset, &end) && !__builtin_add_overflow(firstUnit, unitCount, &end);
}

int64_t UnitGeometry::totalBytes() const
{
    int64_t t = 0;
    return mul(unitCount, int64_t(unitBytes), &t) ? t : INT64_MAX;
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

UnitGeometry GeometryOfDrive(const DriveInfoRecord &d, bool deepScan, int64_t mediumBytes)
{
    const int64_t bps = d.BytesPerSector;
    const int64_t spc = std::max<int64_t>(1, d.SectorsPerCluster);
    const int64_t clusters = wholeCount(d.TotalClusters);
    UnitGeometry g = make(bps, spc, clusters, std::max<int64_t>(0, d.FirstDataSector),
                          std::max<int32_t>(0, d.FirstCluster), d.FileSystem);
    if (deepScan && g.unitBytes > 0) {
        g.sectorsPerUnit = 1;
        g.unitBytes = int32_t(bps);
        if (!mul(clusters, spc, &g.unitCount))
            g.unitCount = 0;
    }
    // Units of less than 512 bytes do not occur: sectors are at least 512.
    FitGeometryToMedium(g, mediumBytes);
    return g;
}

void FitGeometryToMedium(UnitGeometry &g, int64_t mediumBytes)
{
    if (mediumBytes < 0)
        return;
    if (mediumBytes == 0) {
        g = UnitGeometry{};
        return;
    }
    if (!fitsMedium(g, mediumBytes))
        g = rawGeometry(mediumBytes, sectorSizeKnown(g.bytesPerSector) ? g.bytesPerSector : 512);
}

void CutGeometryToLength(UnitGeometry &g, int64_t bytes)
{
    if (bytes > 0 && g.valid() && g.baseOffset < bytes)
        g.unitCount = std::min(g.unitCount, (bytes - g.baseOffset + g.unitBytes - 1) / g.unitBytes);
    FitGeometryToMedium(g, bytes);
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
        fennick_core::Geometry n;
        if (fennick_core::parseBootSector(reinterpret_cast<const uint8_t *>(b.constData()), &n)) {
            const int64_t spc = n.clusterSize / n.bytesPerSector;
            const uint64_t clusters = n.totalSectors / uint64_t(spc) + (n.totalSectors % uint64_t(spc) ? 1 : 0);
            g = make(n.bytesPerSector, spc, int64_t(std::min<uint64_t>(clusters, INT64_MAX)), 0, 0,
                     QStringLiteral("NTFS"));
        }
    } else if (b.size() >= 512 && oem == "EXFAT   ") {
        const uint32_t bpsShift = u8(b, 108), spcShift = u8(b, 109);
        if (bpsShift >= 9 && bpsShift <= 12 && spcShift <= 25 - bpsShift)
            g = make(int64_t(1) << bpsShift, int64_t(1) << spcShift, u32(b, 92), u32(b, 88), 2,
                     QStringLiteral("exFAT"));
    } else if (b.size() >= 512 && u8(b, 510) == 0x55 && u8(b, 511) == 0xAA) {
        const int64_t bps = u16(b, 11);
        const int64_t spc = u8(b, 13);
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
    // A boot sector that does not fit the file is not trusted, its sector
    // size neither.
    if (!g.valid() || (fileLength > 0 && !fitsMedium(g, fileLength)))
        g = rawGeometry(fileLength);
    LimitImageUnits(g);
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
