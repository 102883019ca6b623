// Records built by hand inside a loaded table: run lists, attribute bounds,
// named streams, the fix-up, reads outside the volume and table sizes that
// must be refused.
#include "tests/ntfs/ntfs_images.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace ntfs_test;
using namespace testing_support;

namespace {

uint16_t u16(const void *p, size_t off) { uint16_t v; std::memcpy(&v, static_cast<const uint8_t *>(p) + off, 2); return v; }
uint64_t u64(const void *p, size_t off) { uint64_t v; std::memcpy(&v, static_cast<const uint8_t *>(p) + off, 8); return v; }
template <typename T> void put(std::vector<uint8_t> &b, size_t off, T v) { std::memcpy(b.data() + off, &v, sizeof v); }

// Builds one file record of `size` bytes.
struct RecordBuilder {
    std::vector<uint8_t> b;
    size_t at = 0x38;
    explicit RecordBuilder(size_t size, uint16_t flags = 1) : b(size, 0)
    {
        std::memcpy(b.data(), "FILE", 4);
        put<uint16_t>(b, 4, 0x30);
        put<uint16_t>(b, 6, uint16_t(size / 512 + 1));
        put<uint16_t>(b, 0x10, 1);
        put<uint16_t>(b, 0x12, 1);
        put<uint16_t>(b, 0x14, 0x38);
        put<uint16_t>(b, 0x16, flags);
        put<uint32_t>(b, 0x1C, uint32_t(size));
        put<uint16_t>(b, 0x30, 0x0777);   // sequence number
    }
    size_t attr(uint32_t type, uint32_t length)
    {
        const size_t a = at;
        put<uint32_t>(b, a, type);
        put<uint32_t>(b, a + 4, length);
        at += length;
        return a;
    }
    size_t resident(uint32_t type, const std::vector<uint8_t> &value)
    {
        const uint32_t length = uint32_t((0x18 + value.size() + 7) & ~size_t(7));
        const size_t a = attr(type, length);
        put<uint32_t>(b, a + 0x10, uint32_t(value.size()));
        put<uint16_t>(b, a + 0x14, 0x18);
        std::memcpy(b.data() + a + 0x18, value.data(), value.size());
        return a;
    }
    size_t fileName(uint64_t parent, const char16_t *name, uint8_t ns)
    {
        const size_t n = std::char_traits<char16_t>::length(name);
        std::vector<uint8_t> v(0x42 + 2 * n, 0);
        std::memcpy(v.data(), &parent, 8);
        v[0x40] = uint8_t(n);
        v[0x41] = ns;
        std::memcpy(v.data() + 0x42, name, 2 * n);
        return resident(0x30, v);
    }
    size_t nonResident(const std::vector<uint8_t> &runs, uint64_t firstVcn, uint64_t lastVcn, uint64_t size,
                       const char16_t *name = nullptr)
    {
        const size_t nameLength = name ? std::char_traits<char16_t>::length(name) : 0;
        const uint16_t runsOffset = uint16_t((0x40 + 2 * nameLength + 7) & ~size_t(7));
        const uint32_t length = uint32_t((runsOffset + runs.size() + 7) & ~size_t(7));
        const size_t a = attr(0x80, length);
        b[a + 8] = 1;
        b[a + 9] = uint8_t(nameLength);
        put<uint16_t>(b, a + 0x0A, 0x40);
        if (name)
            std::memcpy(b.data() + a + 0x40, name, 2 * nameLength);
        put<uint64_t>(b, a + 0x10, firstVcn);
        put<uint64_t>(b, a + 0x18, lastVcn);
        put<uint16_t>(b, a + 0x20, runsOffset);
        put<uint64_t>(b, a + 0x28, (lastVcn + 1 - firstVcn) * 4096);
        put<uint64_t>(b, a + 0x30, size);
        put<uint64_t>(b, a + 0x38, size);
        std::memcpy(b.data() + a + runsOffset, runs.data(), runs.size());
        return a;
    }
    // Ends the list and stores each sector's last word in the update-sequence
    // array, as a record reads after its fix-up.
    void finish()
    {
        put<uint32_t>(b, at, 0xFFFFFFFF);
        put<uint32_t>(b, 0x18, uint32_t(at + 8));
        for (size_t i = 1; i <= b.size() / 512; ++i)
            std::memcpy(b.data() + 0x30 + 2 * i, b.data() + i * 512 - 2, 2);
    }
};

class Crafted : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = committedImage("basic");
        ASSERT_FALSE(image.isEmpty());
        ASSERT_TRUE(v.load(image));
        slot = v.info.RecordCount - 1;
        rec = static_cast<uint8_t *>(GetFileRecordFromBuffer(v.block, slot));
        ASSERT_NE(rec, nullptr);
    }
    void place(RecordBuilder &r, bool finish = true)
    {
        if (finish)
            r.finish();
        std::memcpy(rec, r.b.data(), r.b.size());
    }
    const uint8_t *data() { return static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, slot, 0x80)); }
    QString image;
    Loaded v;
    uint32_t slot = 0;
    uint8_t *rec = nullptr;
};

} // namespace

TEST_F(Crafted, RunListsDecode)
{
    RecordBuilder r(1024);
    r.fileName(5, u"a.bin", 1);
    // The classic example: length 0x18 at 0x5634; then a negative delta.
    r.nonResident({0x21, 0x18, 0x34, 0x56, 0x11, 0x08, 0xF0, 0x00}, 0, 0x18 + 8 - 1, (0x18 + 8) * 4096);
    place(r);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), 2);
    uint64_t vcn = 0, lcn = 0, length = 0;
    ASSERT_EQ(MapVCN2LCN(data(), &vcn, &lcn, &length), 1);
    EXPECT_EQ(lcn, 0x5634u);
    EXPECT_EQ(length, 0x18u);
    vcn = 0x18 + 3;
    ASSERT_EQ(MapVCN2LCN(data(), &vcn, &lcn, &length), 1);
    EXPECT_EQ(lcn, 0x5634u - 16 + 3);
    EXPECT_EQ(length, 8u);

    // A first VCN above 0 (an extension's piece): VCNs below it do not map.
    RecordBuilder e(1024);
    e.fileName(5, u"b.bin", 1);
    e.nonResident({0x11, 0x04, 0x20, 0x00}, 10, 13, 4 * 4096);
    place(e);
    vcn = 9;
    EXPECT_EQ(MapVCN2LCN(data(), &vcn, &lcn, &length), 0);
    EXPECT_EQ(lcn, 0u);
    vcn = 12;
    ASSERT_EQ(MapVCN2LCN(data(), &vcn, &lcn, &length), 1);
    EXPECT_EQ(lcn, 0x22u);
    RunList rl{};
    std::vector<RunEntry> entries(2);
    rl.Count = 2;
    rl.Entries = entries.data();
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, slot, &rl), 1);
    EXPECT_EQ(+rl.Count, 1u);
    EXPECT_EQ(entries[0].NextVcn, 14u);   // cumulative from the first VCN
}

TEST_F(Crafted, MalformedRunListsStopWhereTheyGoWrong)
{
    struct Case { std::vector<uint8_t> runs; int32_t count; const char *what; };
    const std::vector<Case> cases = {
        {{0x11, 0x04, 0x20, 0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x01, 0}, 1, "a length field of 9 bytes"},
        {{0x11, 0x04, 0x20, 0x91, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, 1, "an offset field of 9 bytes"},
        {{0x11, 0x04, 0x20, 0x10, 0x20, 0}, 1, "a length field of 0 bytes"},
        {{0x11, 0x04, 0x80, 0}, 0, "a negative first LCN"},
        {{0x11, 0x04, 0x20, 0x01, 0x00, 0}, 1, "a run of 0 clusters"},
        {{0x11, 0x04, 0x20, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, "a length past 2^63"},
        {{0x11, 0x04, 0x20, 0x11, 0x02, 0x10, 0x48}, 2, "a list without its end byte"},
    };
    for (const Case &c : cases) {
        RecordBuilder r(1024);
        r.fileName(5, u"c.bin", 1);
        r.nonResident(c.runs, 0, 63, 64 * 4096);
        place(r);
        EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), c.count) << c.what;
        // Reading the whole declared range: what the list covers, zeros after it, 0.
        std::vector<uint8_t> buf(64 * 4096 + 16, 0x77);
        uint64_t vcn = 0;
        const int64_t n = 64 * 4096;
        EXPECT_EQ(ReadVCN(v.handle, data(), &vcn, &n, buf.data()), 0) << c.what;
        for (size_t i = 4096 * 16; i < size_t(n); ++i)
            ASSERT_EQ(buf[i], 0) << c.what << " at " << i;
        for (size_t i = size_t(n); i < buf.size(); ++i)
            ASSERT_EQ(buf[i], 0x77) << c.what;
    }

    // A run list that runs past its attribute: the list ends there, even when
    // the bytes after the attribute would continue it.
    RecordBuilder r(1024);
    r.fileName(5, u"d.bin", 1);
    const size_t a = r.nonResident({0x11, 0x04, 0x20, 0x11, 0x02, 0x10, 0x00, 0x00}, 0, 63, 64 * 4096);
    put<uint32_t>(r.b, a + 4, 0x45);   // cut inside the second entry
    r.at = a + 0x48;
    r.finish();
    place(r, false);
    // The attribute now ends inside the list; its length is not 8-aligned but sound.
    EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), 1);
}

TEST_F(Crafted, AttributesThatLeaveTheirBoundsAreNotUsed)
{
    {   // An attribute length past the record ends the walk.
        RecordBuilder r(1024);
        const size_t si = r.resident(0x10, std::vector<uint8_t>(0x30, 1));
        put<uint32_t>(r.b, si + 4, 0x10000);
        place(r);
        EXPECT_EQ(GetFileStandardInformation(v.block, slot), nullptr);
        void *l = nullptr, *d = nullptr;
        EXPECT_EQ(GetFileName(v.block, slot, &l, &d), 1);
        EXPECT_EQ(l, nullptr);
    }
    {   // A first-attribute offset past the record, and a length of 0.
        RecordBuilder r(1024);
        r.resident(0x10, std::vector<uint8_t>(0x30, 1));
        r.finish();
        put<uint16_t>(r.b, 0x14, 0xFFF8);
        place(r, false);
        EXPECT_EQ(GetFileStandardInformation(v.block, slot), nullptr);
        put<uint16_t>(r.b, 0x14, 0x38);
        put<uint32_t>(r.b, 0x38 + 4, 0);
        place(r, false);
        EXPECT_EQ(GetFileStandardInformation(v.block, slot), nullptr);
    }
    {   // A resident value longer than its attribute; a value too short for the times.
        RecordBuilder r(1024);
        const size_t first = r.resident(0x10, std::vector<uint8_t>(0x30, 1));
        put<uint32_t>(r.b, first + 0x10, 0x4000);
        const size_t data = r.resident(0x80, std::vector<uint8_t>(40, 2));
        put<uint16_t>(r.b, data + 0x14, 0x3F0);
        place(r);
        EXPECT_EQ(GetFileStandardInformation(v.block, slot), nullptr);
        EXPECT_EQ(GetFileRecordAttribute(v.block, slot, 0x80), nullptr);
        EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), -1);
        RecordBuilder s(1024);
        s.resident(0x10, std::vector<uint8_t>(8, 1));
        place(s);
        EXPECT_EQ(GetFileStandardInformation(v.block, slot), nullptr);
    }
    {   // A name running past its attribute; a $FILE_NAME whose length byte
        // runs past its value. The sound name after them is still found.
        RecordBuilder r(1024);
        const size_t named = r.resident(0x80, std::vector<uint8_t>(8, 3));
        r.b[named + 9] = 200;
        put<uint16_t>(r.b, named + 0x0A, 0x18);
        const size_t badName = r.fileName(5, u"x", 1);
        r.b[badName + 0x58] = 0xFF;
        r.fileName(5, u"good.txt", 1);
        place(r);
        EXPECT_EQ(GetFileRecordAttribute(v.block, slot, 0x80), nullptr);
        void *l = nullptr, *d = nullptr;
        ASSERT_EQ(GetFileName(v.block, slot, &l, &d), 1);
        EXPECT_EQ(nameOfAttribute(l), "good.txt");
        EXPECT_EQ(d, nullptr);
        RunList rl{};
        ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, slot, &rl), 1);
        EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(rl.Name)), "good.txt");
    }
}

TEST_F(Crafted, NamedStreamsAreNotTheFileContent)
{
    RecordBuilder r(1024);
    r.fileName(5, u"s.txt", 1);
    r.nonResident({0x11, 0x02, 0x20, 0}, 0, 1, 8192, u"Zone.Identifier");
    place(r);
    EXPECT_EQ(GetFileRecordAttribute(v.block, slot, 0x80), nullptr);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), -1);

    RecordBuilder both(1024);
    both.fileName(5, u"s.txt", 1);
    both.nonResident({0x11, 0x02, 0x20, 0}, 0, 1, 8192, u"extra");
    const size_t unnamed = both.resident(0x80, std::vector<uint8_t>(12, 9));
    place(both);
    EXPECT_EQ(data(), rec + unnamed);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), 0);
    // Directories have no runs to give.
    put<uint16_t>(both.b, 0x16, 3);
    place(both, false);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, slot), -1);
}

TEST_F(Crafted, FixupIsCheckedBoundedAndIdempotent)
{
    RecordBuilder r(1024);
    r.fileName(5, u"f.txt", 1);
    std::vector<uint8_t> value(700);
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = uint8_t(i * 3 + 1);
    const size_t a = r.resident(0x80, value);
    r.finish();
    // As on disk: the sequence number at each sector's end.
    put<uint16_t>(r.b, 510, 0x0777);
    put<uint16_t>(r.b, 1022, 0x0777);
    place(r, false);
    const QByteArray nextBefore(reinterpret_cast<char *>(rec) - 1024, 16);   // the record before, untouched
    const uint8_t *d = data();
    ASSERT_EQ(d, rec + a);
    EXPECT_EQ(std::memcmp(rec + a + 0x18, value.data(), value.size()), 0);
    EXPECT_EQ(u16(rec, 510), u16(r.b.data(), 0x32));
    // Applying it again changes nothing.
    const QByteArray once(reinterpret_cast<char *>(rec), 1024);
    RunList rl{};
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, slot, &rl), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(rec), 1024), once);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(rec) - 1024, 16), nextBefore);

    // Counts and offsets that do not fit the record: refused, nothing written.
    for (uint16_t count : {uint16_t(0xFFFF), uint16_t(2), uint16_t(0)}) {
        place(r, false);
        std::memcpy(rec + 6, &count, 2);
        const QByteArray before(reinterpret_cast<char *>(rec), 1024);
        EXPECT_EQ(GetFileRecordAttribute(v.block, slot, 0x80), nullptr) << count;
        EXPECT_EQ(QByteArray(reinterpret_cast<char *>(rec) + 4, 1020), before.mid(4)) << count;
    }
    place(r, false);
    put<uint16_t>(r.b, 4, 0x1FF);   // odd offset
    place(r, false);
    EXPECT_EQ(GetFileRecordAttribute(v.block, slot, 0x80), nullptr);

    // A record given by address outside any block uses the open volume's record size.
    RecordBuilder own(1024);
    own.fileName(5, u"own.txt", 1);
    const size_t ownData = own.resident(0x80, std::vector<uint8_t>(20, 4));
    own.finish();
    EXPECT_EQ(FindUnnamedAttribute(own.b.data(), 0x80), own.b.data() + ownData);
    EXPECT_EQ(GetFileRecordAttribute(own.b.data(), 0, 0x80), nullptr);   // not a block of ours
}

TEST_F(Crafted, ReadsStayInsideTheVolumeAndZeroWhatTheyCannotRead)
{
    uint8_t boot[512];
    ASSERT_EQ(ReadBootSector(v.handle, boot), 1);
    const uint64_t clusters = u64(boot, 0x28) * u16(boot, 0x0B) / 4096;
    const uint64_t last = clusters - 1;

    // A run that starts inside the volume and leaves it.
    RecordBuilder r(1024);
    r.fileName(5, u"edge.bin", 1);
    std::vector<uint8_t> runs = {0x31, 0x04, 0, 0, 0, 0};
    std::memcpy(runs.data() + 2, &last, 3);
    r.nonResident(runs, 0, 3, 4 * 4096);
    place(r);
    std::vector<uint8_t> buf(4 * 4096, 0x77);
    uint64_t vcn = 0;
    const int64_t n = int64_t(buf.size());
    EXPECT_EQ(ReadVCN(v.handle, data(), &vcn, &n, buf.data()), 0);
    EXPECT_EQ(vcn, 4u);
    for (size_t i = 4096; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], 0) << i;

    // ReadLCN and ReadBytes: past the end, and an LCN whose offset would overflow.
    std::fill(buf.begin(), buf.end(), 0x77);
    uint64_t count = 2 * 4096;
    EXPECT_EQ(ReadLCN(v.handle, &last, buf.data(), &count), 0);
    EXPECT_EQ(buf[5000], 0);
    EXPECT_EQ(buf[3 * 4096], 0x77);
    const uint64_t huge = uint64_t(1) << 62;
    EXPECT_EQ(ReadLCN(v.handle, &huge, buf.data(), &count), 0);
    const uint32_t count32 = 4096;
    EXPECT_EQ(ReadBytes(v.handle, &huge, buf.data(), &count32), 0);
    EXPECT_EQ(ReadBytes(v.handle, &last, buf.data(), &count32), 1);
    const uint64_t zero = 0;
    EXPECT_EQ(ReadLCN(v.handle, &last, buf.data(), &zero), 0);
    EXPECT_EQ(ReadLCN(FENNICK_INVALID_HANDLE, &last, buf.data(), &count), 0);

    // Bytes above the initialized size read as zeros.
    RecordBuilder init(1024);
    init.fileName(5, u"init.bin", 1);
    const uint64_t mftLcn = u64(boot, 0x30);
    std::vector<uint8_t> mftRuns = {0x31, 0x02, 0, 0, 0, 0};
    std::memcpy(mftRuns.data() + 2, &mftLcn, 3);
    const size_t a = init.nonResident(mftRuns, 0, 1, 8192);
    put<uint64_t>(init.b, a + 0x38, 1000);
    place(init);
    vcn = 0;
    const int64_t two = 8192;
    std::fill(buf.begin(), buf.end(), 0x77);
    EXPECT_EQ(ReadVCN(v.handle, data(), &vcn, &two, buf.data()), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(buf.data()), 4), "FILE");
    for (size_t i = 1000; i < 8192; ++i)
        ASSERT_EQ(buf[i], 0) << i;
    EXPECT_EQ(buf[8192], 0x77);

    // Outside the contract: resident or missing attributes, negative counts.
    const int64_t negative = -5;
    vcn = 0;
    EXPECT_EQ(ReadVCN(v.handle, data(), &vcn, &negative, buf.data()), 0);
    EXPECT_EQ(ReadVCN(v.handle, nullptr, &vcn, &two, buf.data()), 0);
    const void *resident = FindUnnamedAttribute(rec, 0x30);
    ASSERT_NE(resident, nullptr);
    EXPECT_EQ(ReadVCN(v.handle, resident, &vcn, &two, buf.data()), 0);
}

TEST(NtfsTable, SizesThatCannotBeAllocatedAreRefused)
{
    const QString image = committedImage("basic");
    ASSERT_FALSE(image.isEmpty());
    qint64 sizeField = 0;
    uint64_t dataSize = 0;
    {
        Loaded v;
        ASSERT_TRUE(v.load(image));
        dataSize = v.info.DataSize;
        // Counts that are 0, beyond the volume, or 4 GiB and more.
        for (uint64_t count : {uint64_t(0), uint64_t(100), uint64_t(64) << 20, uint64_t(4) << 30,
                               uint64_t(5) << 30, ~uint64_t(0)})
            EXPECT_EQ(MapMFT(v.handle, &count), nullptr) << count;
        EXPECT_EQ(MapMFT(v.handle, nullptr), nullptr);
        EXPECT_EQ(MapMFT(FENNICK_INVALID_HANDLE, &dataSize), nullptr);
        // A count that is not a whole number of records: the partial record is not given out.
        const uint64_t ragged = dataSize + 100;
        void *block = MapMFT(v.handle, &ragged);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(GetFileRecordFromBuffer(block, +v.info.RecordCount), nullptr);
        EXPECT_NE(GetFileRecordFromBuffer(block, +v.info.RecordCount - 1), nullptr);
        UnmapMFT(block);
        UnmapMFT(block);   // a second free is ignored

        uint8_t boot[512];
        ASSERT_EQ(ReadBootSector(v.handle, boot), 1);
        const qint64 mft = qint64(u64(boot, 0x30)) * 4096;
        const auto *data = static_cast<const uint8_t *>(FindUnnamedAttribute(v.block, 0x80));
        ASSERT_NE(data, nullptr);
        sizeField = mft + (data - static_cast<const uint8_t *>(v.block)) + 0x30;
    }
    // Record 0 claims a table of 5 GiB.
    const uint64_t fiveGiB = uint64_t(5) << 30;
    ASSERT_TRUE(patchFile(image, sizeField, QByteArray(reinterpret_cast<const char *>(&fiveGiB), 8)));
    const FennickHandle h = OpenVolume(image.toLocal8Bit().constData());
    ASSERT_NE(h, FENNICK_INVALID_HANDLE);
    MftInfo info{};
    EXPECT_EQ(GetMFTInfo(h, &info), 0);
    EXPECT_EQ(+info.DataSize, 0u);
    EXPECT_EQ(MapMFT(h, &fiveGiB), nullptr);
    EXPECT_GE(GetMFTRuns(h), 1u);
    EXPECT_EQ(CloseVolume(h), 1);
}
