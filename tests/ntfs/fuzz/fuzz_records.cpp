// libFuzzer target: random bytes as a block of MFT records, given to every
// record call of the library, and to the data-run calls on a small volume.
//   byte 0: bits 0-1 the record size (1024, 512, 4096, 1024); bit 2 writes the
//   "FILE" signature at every record; bit 3 makes every update sequence
//   consistent, so that the bytes behind it are parsed.
#include "ntfs/fennick.h"
#include "ntfs/fennick_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

FennickHandle volume()
{
    static FennickHandle h = [] {
        // A 2 MiB volume in memory: 512-byte sectors, 4 KiB clusters, 1 KiB records.
        const int fd = memfd_create("fennick-fuzz", 0);
        std::vector<uint8_t> image(2 << 20);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = uint8_t(i * 131 + (i >> 12));
        uint8_t *b = image.data();
        std::memset(b, 0, 512);
        std::memcpy(b + 3, "NTFS    ", 8);
        const uint16_t bps = 512;
        std::memcpy(b + 0x0B, &bps, 2);
        b[0x0D] = 8;
        const uint64_t sectors = image.size() / 512 - 1, mftLcn = 4;
        std::memcpy(b + 0x28, &sectors, 8);
        std::memcpy(b + 0x30, &mftLcn, 8);
        b[0x40] = 0xF6;
        if (write(fd, image.data(), image.size()) != ssize_t(image.size()))
            abort();
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        const FennickHandle v = OpenVolume(path);
        close(fd);
        if (v == FENNICK_INVALID_HANDLE)
            abort();
        return v;
    }();
    return h;
}

void exercise(void *block, uint32_t rec, std::vector<uint8_t> &scratch)
{
    void *r = GetFileRecordFromBuffer(block, rec);
    GetFileRecordRunsCount(block, rec);
    GetFileStandardInformation(block, rec);
    void *l = nullptr, *d = nullptr;
    GetFileName(block, rec, &l, &d);
    RunEntry entries[4];
    RunList rl{};
    rl.Count = 4;
    rl.Entries = entries;
    GetFileRecordClustersFromBuffer(block, rec, &rl);
    uint16_t path[130];
    GetFilePath(block, rec, path, 0);
    path[0] = 0;
    GetFilePath(block, rec, path, 256);
    if (r)
        FindUnnamedAttribute(r, 0x10);
    for (uint32_t type : {0x80u, 0x30u}) {
        const auto *a = static_cast<const uint8_t *>(GetFileRecordAttribute(block, rec, type));
        if (!a)
            continue;
        uint64_t vcn = 0, lcn = 0, length = 0;
        std::memcpy(&vcn, a + 0x10, 8);
        MapVCN2LCN(a, &vcn, &lcn, &length);
        const uint64_t next = vcn + 1;
        MapVCN2LCN(a, &next, &lcn, &length);
        const int64_t count = int64_t(scratch.size());
        ReadVCN(volume(), a, &vcn, &count, scratch.data());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const uint32_t sizes[] = {1024, 512, 4096, 1024};
    const uint8_t mode = data[0];
    const uint32_t recSize = sizes[mode & 3];
    const uint32_t records = 4;
    const size_t blockSize = size_t(recSize) * records;
    // Exactly the block's size, so that AddressSanitizer sees any byte past it.
    auto *block = static_cast<uint8_t *>(std::calloc(1, blockSize));
    std::memcpy(block, data + 1, size - 1 < blockSize ? size - 1 : blockSize);
    for (uint32_t i = 0; i < records; ++i) {
        uint8_t *r = block + size_t(i) * recSize;
        if (mode & 4)
            std::memcpy(r, "FILE", 4);
        if (mode & 8) {
            const uint16_t offset = 0x30, count = uint16_t(recSize / 512 + 1);
            std::memcpy(r + 4, &offset, 2);
            std::memcpy(r + 6, &count, 2);
            for (uint32_t s = 1; s < count; ++s)
                std::memcpy(r + offset + 2 * s, r + s * 512 - 2, 2);
        }
    }
    fennick_internal::registerBlock(block, blockSize, recSize);
    std::vector<uint8_t> scratch(32 * 1024);
    for (uint32_t i = 0; i < records; ++i)
        exercise(block, i, scratch);
    UnmapMFT(block);   // not a block of MapMFT: ignored
    fennick_internal::unregisterBlock(block);
    std::free(block);
    return 0;
}
