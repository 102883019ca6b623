// Corrupted copies of real images: seeded mutations of records (in the loaded
// table) and of the boot sector and the table's own record (in the image),
// then every export. Nothing may crash or read out of bounds; the test is
// also built with AddressSanitizer and UBSan as test_ntfs_asan.
#include "tests/ntfs/ntfs_images.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#ifdef FENNICK_TEST_HOOKS
#include "ntfs/fennick_internal.h"
#endif

#include <QFile>
#include <cstring>
#include <random>
#include <vector>

using namespace ntfs_test;
using namespace testing_support;

namespace {

uint32_t u32(const uint8_t *p) { uint32_t v; std::memcpy(&v, p, 4); return v; }

// Stretches one attribute to the record's end, so that whatever it holds
// (names, values, run lists) may run up to the last byte of the record.
void stretchAttribute(std::mt19937 &rng, uint8_t *rec, uint32_t size)
{
    uint16_t first;
    std::memcpy(&first, rec + 0x14, 2);
    std::vector<uint32_t> offsets;
    for (uint32_t at = first; at + 8 <= size && offsets.size() < 32;) {
        const uint32_t type = u32(rec + at), length = u32(rec + at + 4);
        if (type == 0xFFFFFFFF || length < 0x18 || length > size - at)
            break;
        offsets.push_back(at);
        at += length;
    }
    if (offsets.empty())
        return;
    const uint32_t at = offsets[rng() % offsets.size()];
    const uint32_t length = size - at;
    std::memcpy(rec + at + 4, &length, 4);
    std::memcpy(rec + 0x18, &size, 4);   // bytes in use: the whole record
    if (rec[at + 8] == 1 && length >= 0x40) {
        // A run list of short entries up to the end, whose last header byte
        // announces a long entry past it.
        uint16_t runs;
        std::memcpy(&runs, rec + at + 0x20, 2);
        uint32_t p = runs >= 0x40 && runs < length ? at + runs : at + 0x40;
        for (; p + 3 < size - 1; p += 3) {
            rec[p] = 0x11;
            rec[p + 1] = uint8_t(1 + rng() % 8);
            rec[p + 2] = uint8_t(rng() % 0x40);
        }
        for (; p < size; ++p)
            rec[p] = uint8_t(rng() % 2 ? 0x88 : 0x11);
    }
    // Keep the update sequence consistent with the new sector ends.
    uint16_t usa, count;
    std::memcpy(&usa, rec + 4, 2);
    std::memcpy(&count, rec + 6, 2);
    if (count == size / 512 + 1 && usa + 2u * count <= 510)
        for (uint32_t i = 1; i < count; ++i)
            std::memcpy(rec + usa + 2 * i, rec + i * 512 - 2, 2);
}

void mutate(std::mt19937 &rng, uint8_t *rec, uint32_t size)
{
    if (rng() % 4 == 0)
        stretchAttribute(rng, rec, size);
    auto at = [&](uint32_t width) { return uint32_t(rng() % (size - width + 1)); };
    const int kinds = 1 + int(rng() % 3);
    for (int k = 0; k < kinds; ++k) {
        switch (rng() % 10) {
        case 0: case 1: case 2:
            rec[at(1)] = uint8_t(rng());                                  // a random byte
            break;
        case 3: {                                                        // a length 0 or 0xFFFF
            const uint16_t v = rng() % 2 ? 0 : 0xFFFF;
            std::memcpy(rec + (at(2) & ~1u), &v, 2);
            break;
        }
        case 4:
            rec[at(1)] |= rng() % 2 ? 0xF0 : 0x0F;                       // a nibble set to 0xF
            break;
        case 5:
            std::memcpy(rec + 6, "\xFF\xFF", 2);                         // update-sequence count
            break;
        case 6: {                                                        // a parent reference of 2^47
            const uint64_t ref = uint64_t(1) << 47;
            std::memcpy(rec + (at(8) & ~7u), &ref, 8);
            break;
        }
        case 7: {                                                        // an attribute length
            const uint32_t v = rng() % 3 == 0 ? 0 : uint32_t(rng() % 0x2000);
            std::memcpy(rec + (at(8) & ~7u) + 4, &v, 4);
            break;
        }
        case 8: {                                                        // a 16-bit offset field
            const uint16_t v = uint16_t(rng());
            std::memcpy(rec + (at(2) & ~1u), &v, 2);
            break;
        }
        default: {                                                       // a random 64-bit field
            const uint64_t v = (uint64_t(rng()) << 32) | rng();
            std::memcpy(rec + (at(8) & ~7u), &v, 8);
            break;
        }
        }
    }
}

// Every record call on one record, with output checks that catch writes past
// what the caller gave.
void exerciseRecord(FennickHandle handle, void *block, uint32_t rec, std::vector<uint8_t> &scratch)
{
    struct { FennickHandle handle; void *block; } v{handle, block};
    void *r = GetFileRecordFromBuffer(v.block, rec);
    GetFileRecordRunsCount(v.block, rec);
    GetFileStandardInformation(v.block, rec);
    void *l = nullptr, *d = nullptr;
    GetFileName(v.block, rec, &l, &d);
    if (l) {
        ASSERT_LE(size_t(static_cast<uint8_t *>(l)[0x58]) * 2 + 0x5A, size_t(u32(static_cast<uint8_t *>(l) + 4)));
    }

    std::vector<RunEntry> entries(9, RunEntry{0xAB, 0xCD});
    RunList rl{};
    rl.Count = 8;
    rl.Entries = entries.data();
    GetFileRecordClustersFromBuffer(v.block, rec, &rl);
    ASSERT_EQ(entries[8].NextVcn, 0xABu);

    uint16_t path[80];
    for (int32_t budget : {0, 20, 2 * 64}) {
        std::fill(std::begin(path), std::end(path), 0xBEEF);
        std::fill(path, path + budget / 2 + 1, 0);
        GetFilePath(v.block, rec, path, budget);
        for (size_t i = size_t(budget) / 2 + 1; i < 80; ++i)
            ASSERT_EQ(path[i], 0xBEEF);
    }

    if (r)
        FindUnnamedAttribute(r, 0x80);
    const auto *data = static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, rec, 0x80));
    if (!data)
        data = static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, rec, 0x30));
    if (data) {
        uint64_t vcn = 0, lcn = 0, length = 0;
        std::memcpy(&vcn, data + 0x10, 8);
        MapVCN2LCN(data, &vcn, &lcn, &length);
        const uint64_t probe = vcn + 3;
        MapVCN2LCN(data, &probe, &lcn, &length);
        const int64_t count = int64_t(scratch.size()) - 16;
        scratch[size_t(count)] = 0x5C;
        ReadVCN(v.handle, data, &vcn, &count, scratch.data());
        ASSERT_EQ(scratch[size_t(count)], 0x5C);
    }
}

void exerciseRecord(Loaded &v, uint32_t rec, std::vector<uint8_t> &scratch)
{
    exerciseRecord(v.handle, v.block, rec, scratch);
}

// The same on a copy of one record in a heap block of exactly its size, so
// that AddressSanitizer sees any byte read past the record. Only where the
// library's sources are compiled into the test (test_ntfs_asan).
void exerciseAlone(FennickHandle h, const uint8_t *record, uint32_t size, std::vector<uint8_t> &scratch)
{
#ifdef FENNICK_TEST_HOOKS
    std::vector<uint8_t> copy(record, record + size);
    ASSERT_TRUE(fennick_internal::registerBlock(copy.data(), size, size));
    exerciseRecord(h, copy.data(), 0, scratch);
    fennick_internal::unregisterBlock(copy.data());
#else
    (void)h, (void)record, (void)size, (void)scratch;
#endif
}

void sweepRecords(const QString &name, uint32_t mutationsPerRecord, uint32_t recordStep)
{
    const QString image = committedImage(name);
    ASSERT_FALSE(image.isEmpty());
    Loaded v;
    ASSERT_TRUE(v.load(image));
    const uint32_t size = uint32_t(v.info.DataSize / v.info.RecordCount);
    std::vector<uint8_t> scratch(64 * 1024 + 16);
    std::mt19937 rng(20240917u);
    for (uint32_t rec = 0; rec < v.info.RecordCount; rec += recordStep) {
        auto *r = static_cast<uint8_t *>(GetFileRecordFromBuffer(v.block, rec));
        ASSERT_NE(r, nullptr);
        if (u32(r) != 0x454C4946u)
            continue;
        const std::vector<uint8_t> pristine(r, r + size);
        for (uint32_t m = 0; m < mutationsPerRecord; ++m) {
            std::memcpy(r, pristine.data(), size);
            mutate(rng, r, size);
            const std::vector<uint8_t> mutated(r, r + size);
            exerciseRecord(v, rec, scratch);
            exerciseAlone(v.handle, mutated.data(), size, scratch);
            if (::testing::Test::HasFatalFailure())
                return;
        }
        std::memcpy(r, pristine.data(), size);
    }
}

} // namespace

TEST(NtfsCorruption, MutatedRecordsOfTheBasicImage)
{
    sweepRecords("basic", 2000, 1);
}

TEST(NtfsCorruption, MutatedRecordsOfTheFragmentedImage)
{
    sweepRecords("fragmented", 300, 37);
}

TEST(NtfsCorruption, MutatedBootSectorAndTableRecord)
{
    const QString pristine = committedImage("basic");
    ASSERT_FALSE(pristine.isEmpty());
    const QByteArray original = readFileBytes(pristine, 0, -1);
    ASSERT_GT(original.size(), 1 << 20);
    uint64_t mftLcn;
    std::memcpy(&mftLcn, original.constData() + 0x30, 8);
    const qint64 mft = qint64(mftLcn) * 4096;
    const QString &image = pristine;
    std::mt19937 rng(77u);
    std::vector<uint8_t> scratch(64 * 1024 + 16);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = original.left(int(mft) + 1024);
        const int where = round % 4;
        if (where == 0) {
            // Geometry fields of the boot sector.
            static const int fields[] = {0x0B, 0x0C, 0x0D, 0x28, 0x2B, 0x30, 0x31, 0x37, 0x40, 0x41};
            for (int k = 0; k < 1 + int(rng() % 3); ++k)
                bytes[fields[rng() % 10]] = char(rng() % 4 == 0 ? 0xFF : rng());
        } else {
            // The table's own record: its header, attributes and run list.
            auto *rec = reinterpret_cast<uint8_t *>(bytes.data() + mft);
            mutate(rng, rec, 1024);
        }
        ASSERT_TRUE(patchFile(image, 0, bytes.left(512)));
        ASSERT_TRUE(patchFile(image, mft, bytes.mid(int(mft), 1024)));
        const FennickHandle h = OpenVolume(image.toLocal8Bit().constData());
        if (h == FENNICK_INVALID_HANDLE)
            continue;
        ASSERT_GE(h, 3);
        uint8_t boot[512];
        ReadBootSector(h, boot);
        GetMFTRuns(h);
        MftInfo info{};
        if (GetMFTInfo(h, &info)) {
            std::vector<RunEntry> entries(info.RunCount + 1, RunEntry{0xAB, 0xCD});
            info.Runs.Entries = entries.data();
            GetMFTInfo(h, &info);
            ASSERT_EQ(entries[+info.RunCount].NextVcn, 0xABu);
            Loaded v;
            v.handle = h;
            v.info = info;
            v.block = MapMFT(h, &info.DataSize);
            if (v.block)
                for (uint32_t rec = 0; rec < info.RecordCount; rec += 3)
                    exerciseRecord(v, rec, scratch);
            uint64_t lcn = 0;
            const uint32_t n = 512;
            ReadBytes(h, &lcn, scratch.data(), &n);
            v.handle = FENNICK_INVALID_HANDLE;
            CloseVolume(h);
            if (::testing::Test::HasFatalFailure())
                return;
        } else {
            CloseVolume(h);
        }
    }
}
