// The NTFS boot sector: one reader with one set of rules, compiled into the
// library and into the program's volume facts alike. Plain inline code on the
// 512 bytes of the sector, without the C++ standard library, so that the
// library still links nothing but the C run-time.
#pragma once

#include <stdint.h>
#include <string.h>

namespace fennick_core {

inline uint16_t ld16(const uint8_t *p) { uint16_t v; memcpy(&v, p, 2); return v; }
inline uint32_t ld32(const uint8_t *p) { uint32_t v; memcpy(&v, p, 4); return v; }
inline uint64_t ld64(const uint8_t *p) { uint64_t v; memcpy(&v, p, 8); return v; }

constexpr uint32_t kMinRecordSize = 512;
constexpr uint32_t kMaxRecordSize = 65536;
constexpr uint32_t kMaxClusterSize = 2u * 1024 * 1024;

// Volume geometry from a boot sector.
struct Geometry {
    uint32_t bytesPerSector = 0;
    uint32_t clusterSize = 0;
    uint32_t recordSize = 0;
    uint64_t totalSectors = 0;
    uint64_t mftLcn = 0;
    uint64_t volumeBytes = 0;   // totalSectors x bytesPerSector
};

inline bool bootPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Record size from the u32 at 0x40 (>= 128: 2^(256 - v) bytes; else v
// clusters); 0 when the value gives no usable size.
inline uint32_t recordSizeFrom(uint32_t value, uint32_t clusterSize)
{
    uint64_t size;
    if (value >= 128) {
        // The format's field is a signed byte: -10 (0xF6) means 2^10 bytes.
        if (value > 255)
            return 0;
        const uint32_t shift = 256 - value;
        if (shift > 16)
            return 0;
        size = uint64_t(1) << shift;
    } else {
        size = uint64_t(value) * clusterSize;
    }
    if (size < kMinRecordSize || size > kMaxRecordSize || !bootPowerOfTwo(size))
        return 0;
    return uint32_t(size);
}

// Checks "NTFS" and the geometry of a 512-byte boot sector: a sector of 256
// to 4096 bytes, a cluster of at most 2 MiB (sector counts above 0x80 are
// stored as a negative power of two, 0xF4 to 0xFF), a usable record size, and
// a master file table that lies inside the volume the sector states.
inline bool parseBootSector(const uint8_t *boot, Geometry *g)
{
    if (memcmp(boot + 3, "NTFS", 4) != 0)
        return false;
    const uint32_t bps = ld16(boot + 0x0B);
    if (bps < 256 || bps > 4096 || !bootPowerOfTwo(bps))
        return false;
    const uint8_t spcByte = boot[0x0D];
    uint64_t spc;
    if (spcByte == 0)
        return false;
    if (spcByte <= 0x80)
        spc = spcByte;
    else if (spcByte >= 0xF4)
        spc = uint64_t(1) << (256 - spcByte);   // clusters above 64 KiB
    else
        return false;
    if (!bootPowerOfTwo(spc))
        return false;
    const uint64_t cluster = spc * bps;
    if (cluster > kMaxClusterSize)
        return false;
    const uint32_t recSize = recordSizeFrom(ld32(boot + 0x40), uint32_t(cluster));
    if (recSize == 0)
        return false;
    const uint64_t total = ld64(boot + 0x28);
    const uint64_t mftLcn = ld64(boot + 0x30);
    if (total == 0 || total > (UINT64_MAX / bps))
        return false;
    const uint64_t volumeBytes = total * bps;
    if (mftLcn > volumeBytes / cluster)
        return false;
    const uint64_t mftOffset = mftLcn * cluster;
    if (mftOffset > volumeBytes || volumeBytes - mftOffset < recSize)
        return false;
    g->bytesPerSector = bps;
    g->clusterSize = uint32_t(cluster);
    g->recordSize = recSize;
    g->totalSectors = total;
    g->mftLcn = mftLcn;
    g->volumeBytes = volumeBytes;
    return true;
}

} // namespace fennick_core
