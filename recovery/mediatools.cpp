#include "recovery/mediatools.h"

#include "platform/volumefacts.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kSignatureBytes = 34;

bool stopNow(const WriteCallbacks &cb) { return cb.stopRequested && cb.stopRequested(); }

} // namespace

bool SameBootSignature(const QByteArray &imageSector0, const QByteArray &mediumSector0)
{
    return imageSector0.size() >= kSignatureBytes && mediumSector0.size() >= kSignatureBytes
           && imageSector0.left(kSignatureBytes) == mediumSector0.left(kSignatureBytes);
}

int64_t StatedVolumeBytes(const QByteArray &boot)
{
    if (const auto fat = plat::parseFatLayout(boot, -1))
        return int64_t(fat->totalSectors) * fat->bytesPerSector;
    if (const auto ntfs = plat::parseNtfsLayout(boot, -1))
        return int64_t(ntfs->clusterCount) * ntfs->sectorsPerCluster * ntfs->bytesPerSector;
    if (const auto exfat = plat::parseExfatLayout(boot, -1))
        return int64_t(exfat->heapOffset + quint64(exfat->clusterCount) * exfat->sectorsPerCluster) * exfat->bytesPerSector;
    return -1;
}

WriteOutcome ZeroFill(plat::RawWriteTarget &target, int64_t startOffset, int blockBytes, int sectorBytes,
                      const WriteCallbacks &cb)
{
    WriteOutcome r;
    const int64_t size = target.size();
    if (!target.isOpen() || blockBytes <= 0 || sectorBytes <= 0 || startOffset < 0 || startOffset > size) {
        r.failed = true;
        return r;
    }
    r.bytesExpected = size - startOffset;
    const std::vector<char> zeros(size_t(std::max(blockBytes, sectorBytes)), 0);
    int64_t pos = startOffset;
    // Whole blocks, then single sectors: the tail smaller than a block.
    for (const int64_t step : {int64_t(blockBytes), int64_t(sectorBytes)}) {
        while (size - pos >= step || (step == sectorBytes && pos < size)) {
            if (stopNow(cb)) {
                r.stopped = true;
                return r;
            }
            const int64_t want = std::min(step, size - pos);
            const int64_t w = target.writeAt(pos, zeros.data(), want);
            if (w > 0) {
                pos += w;
                r.bytesWritten += w;
            }
            if (cb.blockWritten)
                cb.blockWritten();
            if (w != want) {
                r.failed = true;
                return r;
            }
        }
    }
    return r;
}

WriteOutcome RestoreImageOnto(plat::Handle &image, plat::RawWriteTarget &target, int blockBytes,
                              const WriteCallbacks &cb)
{
    WriteOutcome r;
    if (!image.valid() || !target.isOpen() || blockBytes <= 0 || !image.seek(0)) {
        r.failed = true;
        return r;
    }
    r.bytesExpected = std::max<int64_t>(0, image.size());
    std::vector<char> buf(static_cast<size_t>(blockBytes));
    int64_t pos = 0;
    for (;;) {
        if (stopNow(cb)) {
            r.stopped = true;
            return r;
        }
        qint64 got = 0;
        if (!image.read(buf.data(), blockBytes, &got) && got <= 0) {
            r.failed = true;   // the image cannot be read
            return r;
        }
        if (got <= 0)
            break;
        const int64_t w = target.writeAt(pos, buf.data(), got);
        if (w > 0) {
            pos += w;
            r.bytesWritten += w;
        }
        if (cb.blockWritten)
            cb.blockWritten();
        if (w != got) {
            r.failed = true;
            return r;
        }
    }
    if (r.bytesWritten != r.bytesExpected)
        r.failed = true;   // the image changed length while it was read
    return r;
}
