// The library on the committed images (made by make_ntfs_image.py with mkntfs
// and ntfs-3g): every export on resident and non-resident files, deleted
// records, names, paths, the fix-up, and agreement with The Sleuth Kit.
#include "tests/ntfs/ntfs_images.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <cstring>
#include <vector>

using namespace ntfs_test;
using namespace testing_support;

namespace {

uint16_t u16(const void *p, size_t off) { uint16_t v; std::memcpy(&v, static_cast<const uint8_t *>(p) + off, 2); return v; }
uint32_t u32(const void *p, size_t off) { uint32_t v; std::memcpy(&v, static_cast<const uint8_t *>(p) + off, 4); return v; }
uint64_t u64(const void *p, size_t off) { uint64_t v; std::memcpy(&v, static_cast<const uint8_t *>(p) + off, 8); return v; }

const Record *byPath(const QList<Record> &records, const QString &path, bool inUse)
{
    for (const Record &r : records)
        if (r.path == path && r.inUse == inUse)
            return &r;
    return nullptr;
}

uint32_t recordSize(const Loaded &v) { return uint32_t(v.info.DataSize / v.info.RecordCount); }

QString pathOf(Loaded &v, uint32_t rec, int32_t budget, int32_t *result)
{
    std::vector<uint16_t> buf(size_t(budget > 0 ? budget : 0) / 2 + 1 + 8, 0xBEEF);
    std::fill(buf.begin(), buf.begin() + (budget > 0 ? budget / 2 + 1 : 1), 0);
    *result = GetFilePath(v.block, rec, buf.data(), budget);
    // Nothing is written past budget + 2 bytes.
    for (size_t i = size_t(budget > 0 ? budget : 0) / 2 + 1; i < buf.size(); ++i)
        EXPECT_EQ(buf[i], 0xBEEF) << "written past the budget at " << i;
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(buf.data()));
}

class BasicImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = committedImage("basic");
        ASSERT_FALSE(image.isEmpty()) << "cannot unpack tests/ntfs/data/basic.img.xz (xz-utils)";
        manifest = readManifest(image);
        ASSERT_FALSE(manifest.isEmpty());
        ASSERT_TRUE(v.load(image));
        records = namedRecords(v);
    }
    QString image;
    QList<ManifestEntry> manifest;
    Loaded v;
    QList<Record> records;
};

} // namespace

TEST_F(BasicImage, DeletedAndPresentFilesReadBackWhole)
{
    int deleted = 0;
    for (const ManifestEntry &e : manifest) {
        if (e.state == "overwritten")
            continue;
        const Record *r = byPath(records, e.path, e.state == "present");
        ASSERT_NE(r, nullptr) << e.path.toStdString();
        EXPECT_EQ(r->pathResult, 1) << e.path.toStdString();
        EXPECT_FALSE(r->directory);
        bool complete = false;
        const QByteArray data = recordData(v, r->index, &complete);
        EXPECT_TRUE(complete) << e.path.toStdString();
        EXPECT_EQ(data.size(), e.size) << e.path.toStdString();
        EXPECT_TRUE(data == e.expected()) << "content of " << e.path.toStdString();
        deleted += e.state == "deleted";
    }
    EXPECT_GE(deleted, 9);

    // Resident and non-resident data, and the run counts of each.
    const Record *small = byPath(records, "small.txt", false);
    const Record *medium = byPath(records, "medium.bin", false);
    const Record *frag = byPath(records, "frag.bin", false);
    ASSERT_TRUE(small && medium && frag);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, small->index), 0);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, medium->index), 1);
    EXPECT_GE(GetFileRecordRunsCount(v.block, frag->index), 10);
    const Record *folder = byPath(records, "Pictures\\2009\\", true);
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->directory);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, folder->index), -1);
}

TEST_F(BasicImage, AgreesWithTheSleuthKit)
{
    if (!haveTool("fls") || !haveTool("icat") || !haveTool("istat"))
        GTEST_SKIP() << "The Sleuth Kit (fls, icat, istat) is not installed";
    const QMap<uint32_t, QString> tsk = tskDeletedFiles(image);
    QMap<uint32_t, QString> ours;
    for (const Record &r : records)
        if (!r.inUse && !r.directory && r.hasData)
            ours.insert(r.index, r.path);
    EXPECT_EQ(ours, tsk);
    for (auto it = ours.begin(); it != ours.end(); ++it) {
        const QByteArray mine = recordData(v, it.key());
        EXPECT_TRUE(mine == tskData(image, it.key())) << "data of " << it.value().toStdString();
        EXPECT_EQ(mine.size(), tskDataSize(image, it.key())) << it.value().toStdString();
    }
}

TEST_F(BasicImage, LongDosAndNonLatinNames)
{
    // A file with a Win32 name and a separate DOS name.
    const Record *twoNames = byPath(records, "A very long name.jpeg", true);
    ASSERT_NE(twoNames, nullptr);
    void *longName = nullptr, *dosName = nullptr;
    ASSERT_EQ(GetFileName(v.block, twoNames->index, &longName, &dosName), 1);
    ASSERT_TRUE(longName && dosName);
    EXPECT_NE(longName, dosName);
    EXPECT_EQ(nameOfAttribute(longName), "A very long name.jpeg");
    EXPECT_EQ(nameOfAttribute(dosName), "AVERYL~1.JPG");
    EXPECT_EQ(static_cast<uint8_t *>(longName)[0x59], 1);
    EXPECT_EQ(static_cast<uint8_t *>(dosName)[0x59], 2);

    // One name in the Win32-and-DOS namespace gives both outputs.
    static_cast<uint8_t *>(longName)[0x59] = 3;
    static_cast<uint8_t *>(dosName)[0x59] = 7;   // unknown namespaces are ignored
    ASSERT_EQ(GetFileName(v.block, twoNames->index, &longName, &dosName), 1);
    EXPECT_EQ(longName, dosName);

    EXPECT_NE(byPath(records, QString(70, 'n'), false), nullptr);
    EXPECT_NE(byPath(records, QString::fromUtf8("Фото_日本_ñandú.jpg"), false), nullptr);

    // The name copied into a RunList, NUL-terminated.
    RunList rl;
    std::memset(&rl, 0xEE, sizeof rl);
    rl.Count = 0;
    rl.Entries = nullptr;
    const Record *longOne = byPath(records, QString(70, 'n'), false);
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, longOne->index, &rl), 1);
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(rl.Name)), QString(70, 'n'));

    void *a = nullptr, *b = &a;
    EXPECT_EQ(GetFileName(nullptr, 0, &a, &b), 0);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
}

TEST_F(BasicImage, PathsFromTheRoot)
{
    const Record *img = byPath(records, "Pictures\\2009\\img_0001.jpg", false);
    ASSERT_NE(img, nullptr);
    int32_t result = -1;
    EXPECT_EQ(pathOf(v, img->index, 512, &result), "Pictures\\2009\\img_0001.jpg");
    EXPECT_EQ(result, 1);
    // Through a deleted folder.
    EXPECT_NE(byPath(records, "OldDir\\inner.txt", false), nullptr);
    // A file in the root: just its name.
    const Record *keep = byPath(records, "keep.txt", true);
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(pathOf(v, keep->index, 512, &result), "keep.txt");
    EXPECT_EQ(result, 1);
    // The root itself: nothing, 0.
    EXPECT_EQ(pathOf(v, 5, 512, &result), "");
    EXPECT_EQ(result, 0);

    // Budgets: the text with its NUL fits in budget + 2 bytes. "keep.txt" is 16 bytes.
    EXPECT_EQ(pathOf(v, keep->index, 16, &result), "keep.txt");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(pathOf(v, keep->index, 14, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(pathOf(v, keep->index, -4, &result), "");
    EXPECT_EQ(result, 0);
    // A folder's name that no longer fits: the whole chain did not reach the root.
    pathOf(v, img->index, 30, &result);
    EXPECT_EQ(result, 0);
    for (int32_t budget = 0; budget < 64; ++budget)
        pathOf(v, img->index, budget, &result);   // guards checked inside

    void *fn = nullptr, *dos = nullptr;
    ASSERT_EQ(GetFileName(v.block, img->index, &fn, &dos), 1);
    auto *parentRef = static_cast<uint8_t *>(fn) + 0x18;
    const QByteArray saved(reinterpret_cast<char *>(parentRef), 8);

    // A parent that is not a directory (a reused record): own name only, 0.
    uint64_t ref = keep->index;
    std::memcpy(parentRef, &ref, 8);
    EXPECT_EQ(pathOf(v, img->index, 512, &result), "img_0001.jpg");
    EXPECT_EQ(result, 0);
    // A parent beyond the table.
    ref = uint64_t(1) << 47;
    std::memcpy(parentRef, &ref, 8);
    EXPECT_EQ(pathOf(v, img->index, 512, &result), "img_0001.jpg");
    EXPECT_EQ(result, 0);
    std::memcpy(parentRef, saved.constData(), 8);

    // Two folders that are each other's parent: the walk ends, nothing overflows.
    const Record *y2009 = byPath(records, "Pictures\\2009\\", true);
    const Record *pictures = byPath(records, "Pictures\\", true);
    ASSERT_TRUE(y2009 && pictures);
    ASSERT_EQ(GetFileName(v.block, pictures->index, &fn, &dos), 1);
    ref = y2009->index;
    std::memcpy(static_cast<uint8_t *>(fn) + 0x18, &ref, 8);
    const QString looped = pathOf(v, img->index, 512, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(looped.endsWith("2009\\img_0001.jpg")) << looped.toStdString();
    EXPECT_LE(looped.size(), 256);
}

TEST_F(BasicImage, RecordQueries)
{
    const uint32_t size = recordSize(v);
    EXPECT_EQ(size, 1024u);
    EXPECT_EQ(+v.info.Reserved, 0u);
    EXPECT_EQ(uint64_t(+v.info.RecordCount) * size, +v.info.DataSize);
    EXPECT_EQ(GetFileRecordFromBuffer(v.block, 0), v.block);
    EXPECT_EQ(GetFileRecordFromBuffer(v.block, 3), static_cast<uint8_t *>(v.block) + 3 * size);
    EXPECT_NE(GetFileRecordFromBuffer(v.block, +v.info.RecordCount - 1), nullptr);
    EXPECT_EQ(GetFileRecordFromBuffer(v.block, +v.info.RecordCount), nullptr);
    EXPECT_EQ(GetFileRecordFromBuffer(nullptr, 0), nullptr);
    int local[4];
    EXPECT_EQ(GetFileRecordFromBuffer(local, 0), nullptr);   // not a block of ours

    const Record *medium = byPath(records, "medium.bin", false);
    ASSERT_NE(medium, nullptr);
    auto *si = static_cast<const uint8_t *>(GetFileStandardInformation(v.block, medium->index));
    ASSERT_NE(si, nullptr);
    EXPECT_EQ(u32(si, 0), FENNICK_ATTR_STANDARD_INFORMATION);
    const uint8_t *value = si + u16(si, 0x14);
    const uint64_t created = u64(value, 0), modified = u64(value, 8);
    EXPECT_GT(created, 130000000000000000ull);   // after 2012
    EXPECT_GE(modified, created);

    auto *data = static_cast<uint8_t *>(GetFileRecordAttribute(v.block, medium->index, FENNICK_ATTR_DATA));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[8], 1);
    EXPECT_EQ(FindUnnamedAttribute(GetFileRecordFromBuffer(v.block, medium->index), FENNICK_ATTR_DATA), data);
    EXPECT_EQ(GetFileRecordAttribute(v.block, medium->index, 0xB0), nullptr);
    EXPECT_EQ(FindUnnamedAttribute(nullptr, 0x80), nullptr);

    // A record never written (zeros) is no file record.
    uint32_t empty = v.info.RecordCount - 1;
    std::memset(GetFileRecordFromBuffer(v.block, empty), 0, size);
    EXPECT_EQ(GetFileRecordRunsCount(v.block, empty), 0);
    EXPECT_EQ(GetFileStandardInformation(v.block, empty), nullptr);
    EXPECT_EQ(GetFileRecordAttribute(v.block, empty, 0x80), nullptr);
    RunList rl{};
    EXPECT_EQ(GetFileRecordClustersFromBuffer(v.block, empty, &rl), 0);
    EXPECT_EQ(GetFileRecordClustersFromBuffer(v.block, medium->index, nullptr), 0);
}

TEST_F(BasicImage, RunListsHonourTheirCapacity)
{
    const Record *frag = byPath(records, "frag.bin", false);
    ASSERT_NE(frag, nullptr);
    const int32_t runs = GetFileRecordRunsCount(v.block, frag->index);
    ASSERT_GE(runs, 10);

    RunList rl{};
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, frag->index, &rl), 1);
    EXPECT_EQ(+rl.Valid, 1u);
    EXPECT_EQ(+rl.Count, uint32_t(runs));
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(rl.Name)), "frag.bin");

    // Room for 3: three entries written, the true count reported.
    std::vector<RunEntry> entries(size_t(runs) + 1, RunEntry{0xAAAA, 0xBBBB});
    rl = RunList{};
    rl.Count = 3;
    rl.Entries = entries.data();
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, frag->index, &rl), 1);
    EXPECT_EQ(+rl.Count, uint32_t(runs));
    EXPECT_NE(entries[2].NextVcn, 0xAAAAu);
    EXPECT_EQ(entries[3].NextVcn, 0xAAAAu);

    // Full room: the entries agree with MapVCN2LCN.
    rl.Count = uint32_t(runs);
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, frag->index, &rl), 1);
    EXPECT_EQ(entries[size_t(runs)].NextVcn, 0xAAAAu);
    const void *attr = GetFileRecordAttribute(v.block, frag->index, FENNICK_ATTR_DATA);
    uint64_t start = 0;
    for (int i = 0; i < runs; ++i) {
        uint64_t lcn = 0, length = 0;
        ASSERT_EQ(MapVCN2LCN(attr, &start, &lcn, &length), 1);
        EXPECT_EQ(lcn, entries[size_t(i)].Lcn);
        EXPECT_EQ(start + length, entries[size_t(i)].NextVcn);
        // A VCN inside the run maps into it; the run length is the whole run.
        const uint64_t inside = entries[size_t(i)].NextVcn - 1;
        uint64_t lcn2 = 0, length2 = 0;
        ASSERT_EQ(MapVCN2LCN(attr, &inside, &lcn2, &length2), 1);
        EXPECT_EQ(lcn2, lcn + length - 1);
        EXPECT_EQ(length2, length);
        start = entries[size_t(i)].NextVcn;
    }
    // The last VCN maps; one after it does not, and gives LCN 0.
    const uint64_t lastVcn = u64(attr, 0x18);
    EXPECT_EQ(lastVcn + 1, start);
    uint64_t lcn = 7, length = 7;
    EXPECT_EQ(MapVCN2LCN(attr, &lastVcn, &lcn, &length), 1);
    const uint64_t after = lastVcn + 1;
    EXPECT_EQ(MapVCN2LCN(attr, &after, &lcn, &length), 0);
    EXPECT_EQ(lcn, 0u);
    EXPECT_EQ(MapVCN2LCN(nullptr, &after, &lcn, &length), 0);
}

TEST_F(BasicImage, MftInfoTwoCallProtocol)
{
    MftInfo info;
    std::memset(&info, 0x5A, sizeof info);
    info.RunCount = 0;
    info.Runs.Entries = nullptr;
    ASSERT_EQ(GetMFTInfo(v.handle, &info), 1);
    EXPECT_EQ(+info.Reserved, 0u);
    EXPECT_EQ(+info.Runs.Valid, 0u);
    EXPECT_EQ(+info.Runs.Name[0], 0);
    ASSERT_GE(+info.RunCount, 1u);
    EXPECT_EQ(+info.RunCount, GetMFTRuns(v.handle));
    EXPECT_EQ(+info.Runs.Count, +info.RunCount);
    EXPECT_EQ(+info.DataSize, +v.info.DataSize);
    EXPECT_EQ(+info.RecordCount, uint32_t(+info.DataSize / 1024));

    std::vector<RunEntry> entries(info.RunCount + 1, RunEntry{0xAAAA, 0xBBBB});
    info.Runs.Entries = entries.data();
    ASSERT_EQ(GetMFTInfo(v.handle, &info), 1);
    EXPECT_EQ(+info.Runs.Valid, 1u);
    EXPECT_EQ(+info.Runs.Entries, entries.data());
    EXPECT_EQ(entries[+info.RunCount].NextVcn, 0xAAAAu);
    uint8_t boot[512];
    ASSERT_EQ(ReadBootSector(v.handle, boot), 1);
    const uint64_t cluster = uint64_t(u16(boot, 0x0B)) * boot[0x0D];
    EXPECT_EQ(entries[0].Lcn, u64(boot, 0x30));
    EXPECT_GE(entries[+info.RunCount - 1].NextVcn * cluster, +info.DataSize);

    // A caller that left a smaller capacity gets no more entries than that.
    std::vector<RunEntry> one(2, RunEntry{0xAAAA, 0xBBBB});
    info.RunCount = 0;
    info.Runs.Entries = one.data();
    ASSERT_EQ(GetMFTInfo(v.handle, &info), 1);
    EXPECT_EQ(one[0].NextVcn, 0xAAAAu);
    EXPECT_EQ(GetMFTInfo(FENNICK_INVALID_HANDLE, &info), 0);
    EXPECT_EQ(+info.DataSize, 0u);
    EXPECT_EQ(GetMFTInfo(v.handle, nullptr), 0);
    EXPECT_EQ(GetMFTRuns(FENNICK_INVALID_HANDLE), 0u);
}

TEST_F(BasicImage, SparseRunsReadAsZeros)
{
    const Record *sparse = byPath(records, "sparse.bin", false);
    ASSERT_NE(sparse, nullptr);
    const void *attr = GetFileRecordAttribute(v.block, sparse->index, FENNICK_ATTR_DATA);
    ASSERT_NE(attr, nullptr);
    EXPECT_TRUE(u16(attr, FENNICK_ATTR_FLAGS_OFFSET) & FENNICK_ATTR_SPARSE);
    // The hole's VCN maps to the running LCN (the previous run's), as the
    // program expects; ReadVCN must not read those clusters.
    RunList rl{};
    std::vector<RunEntry> entries(8);
    rl.Count = 8;
    rl.Entries = entries.data();
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, sparse->index, &rl), 1);
    ASSERT_EQ(+rl.Count, 3u);
    const uint64_t hole = entries[0].NextVcn;
    uint64_t lcn = 0, length = 0;
    ASSERT_EQ(MapVCN2LCN(attr, &hole, &lcn, &length), 1);
    EXPECT_EQ(lcn, entries[0].Lcn);
    EXPECT_EQ(entries[1].Lcn, entries[0].Lcn);

    // The clusters at that LCN hold data, the hole reads as zeros.
    QByteArray atLcn(4096, '\0');
    const uint64_t count = 4096;
    ASSERT_EQ(ReadLCN(v.handle, &lcn, atLcn.data(), &count), 1);
    EXPECT_NE(atLcn, QByteArray(4096, '\0'));
    QByteArray hole4k(4096, '\x77');
    uint64_t vcn = hole;
    const int64_t n = 4096;
    EXPECT_EQ(ReadVCN(v.handle, attr, &vcn, &n, hole4k.data()), 1);
    EXPECT_EQ(hole4k, QByteArray(4096, '\0'));
    EXPECT_EQ(vcn, hole + 1);
}

TEST_F(BasicImage, FixupIsAppliedWhereDataCrossesASectorEnd)
{
    uint8_t boot[512];
    ASSERT_EQ(ReadBootSector(v.handle, boot), 1);
    const qint64 mft = qint64(u64(boot, 0x30)) * u16(boot, 0x0B) * boot[0x0D];

    // small.txt: its resident value spans offset 510 of the record.
    const Record *small = byPath(records, "small.txt", false);
    ASSERT_NE(small, nullptr);
    const auto *data = static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, small->index, 0x80));
    const auto *rec = static_cast<const uint8_t *>(GetFileRecordFromBuffer(v.block, small->index));
    const size_t valueStart = size_t(data - rec) + u16(data, 0x14);
    ASSERT_LT(valueStart, 510u);
    ASSERT_GT(valueStart + u32(data, 0x10), 512u);
    const QByteArray raw = readFileBytes(image, mft + qint64(small->index) * 1024, 1024);
    ASSERT_EQ(raw.size(), 1024);
    uint8_t onDisk[1024];
    std::memcpy(onDisk, raw.constData(), sizeof onDisk);
    const uint16_t usn = u16(onDisk, u16(onDisk, 4) & 0x1FE);
    EXPECT_EQ(u16(onDisk, 510), usn);   // on disk: the sequence number
    const QByteArray expected = findEntry(manifest, "small.txt")->expected();
    EXPECT_NE(u16(expected.constData(), 510 - valueStart), usn);
    EXPECT_TRUE(recordData(v, small->index) == expected);

    // The 70-character name pushes the $DATA header across 510: its allocated
    // size must read right.
    const Record *longOne = byPath(records, QString(70, 'n'), false);
    ASSERT_NE(longOne, nullptr);
    data = static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, longOne->index, 0x80));
    rec = static_cast<const uint8_t *>(GetFileRecordFromBuffer(v.block, longOne->index));
    ASSERT_LT(size_t(data - rec) + 0x28, 510u);
    ASSERT_GT(size_t(data - rec) + 0x30, 510u);
    EXPECT_EQ(u64(data, 0x28), 20480u);
    EXPECT_EQ(u64(data, 0x30), 20480u);

    // A 149-character name that runs across 510.
    const QString longName = "long_" + QString("abcdefghij").repeated(14) + ".txt";
    const Record *crossing = byPath(records, longName, false);
    ASSERT_NE(crossing, nullptr);
    void *fn = nullptr, *dos = nullptr;
    ASSERT_EQ(GetFileName(v.block, crossing->index, &fn, &dos), 1);
    rec = static_cast<const uint8_t *>(GetFileRecordFromBuffer(v.block, crossing->index));
    const size_t nameStart = size_t(static_cast<uint8_t *>(fn) - rec) + 0x5A;
    ASSERT_LT(nameStart, 510u);
    ASSERT_GT(nameStart + 2 * longName.size(), 512u);
    EXPECT_EQ(nameOfAttribute(fn), longName);
    RunList rl{};
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, crossing->index, &rl), 1);
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(rl.Name)), longName);
}

TEST_F(BasicImage, OpeningAnotherVolumeLeavesThisOneRight)
{
    // Each volume and block keeps its own sizes: a later open (here one with
    // other sizes, and a failed one) changes nothing for this table.
    const QString other = committedImage("fragmented");
    ASSERT_FALSE(other.isEmpty());
    ASSERT_TRUE(patchFile(other, 0x0D, QByteArray("\x01", 1)));   // 512-byte clusters
    const FennickHandle second = OpenVolume(other.toLocal8Bit().constData());
    ASSERT_NE(second, FENNICK_INVALID_HANDLE);
    EXPECT_EQ(OpenVolume("/nonexistent"), FENNICK_INVALID_HANDLE);
    const ManifestEntry *e = findEntry(manifest, "medium.bin");
    const Record *medium = byPath(records, "medium.bin", false);
    ASSERT_TRUE(e && medium);
    bool complete = false;
    EXPECT_TRUE(recordData(v, medium->index, &complete) == e->expected());
    EXPECT_TRUE(complete);
    EXPECT_EQ(namedRecords(v).size(), records.size());
    EXPECT_EQ(CloseVolume(second), 1);
}

TEST(NtfsImage, DamagedRecordsAreRefused)
{
    const QString image = committedImage("basic");
    ASSERT_FALSE(image.isEmpty());
    uint32_t small = 0, medium = 0;
    qint64 mft = 0;
    {
        Loaded v;
        ASSERT_TRUE(v.load(image));
        for (const Record &r : namedRecords(v)) {
            if (r.path == "small.txt")
                small = r.index;
            if (r.path == "medium.bin")
                medium = r.index;
        }
        uint8_t boot[512];
        ASSERT_EQ(ReadBootSector(v.handle, boot), 1);
        mft = qint64(u64(boot, 0x30)) * u16(boot, 0x0B) * boot[0x0D];
    }
    ASSERT_TRUE(small && medium);
    // A torn write: the second sector's last word no longer holds the sequence number.
    ASSERT_TRUE(patchFile(image, mft + qint64(small) * 1024 + 1022, QByteArray("\x12\x34", 2)));
    // An update-sequence count that does not fit the record.
    ASSERT_TRUE(patchFile(image, mft + qint64(medium) * 1024 + 6, QByteArray("\xFF\xFF", 2)));
    const QByteArray next = readFileBytes(image, mft + qint64(medium + 1) * 1024, 1024);

    Loaded v;
    ASSERT_TRUE(v.load(image));
    for (uint32_t rec : {small, medium}) {
        const auto *r = static_cast<const uint8_t *>(GetFileRecordFromBuffer(v.block, rec));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(r), 4), "BAAD");
        void *a = nullptr, *b = nullptr;
        EXPECT_EQ(GetFileName(v.block, rec, &a, &b), 0);
        EXPECT_EQ(GetFileRecordRunsCount(v.block, rec), 0);
        EXPECT_EQ(GetFileRecordAttribute(v.block, rec, 0x80), nullptr);
        EXPECT_EQ(FindUnnamedAttribute(const_cast<uint8_t *>(r), 0x80), nullptr);
    }
    // The next record is untouched by the bad count.
    const auto *after = static_cast<const char *>(GetFileRecordFromBuffer(v.block, medium + 1));
    QByteArray fixedNext = next;
    ASSERT_EQ(QByteArray(after, 4), QByteArray(next.constData(), 4));
    EXPECT_EQ(QByteArray(after + 8, 500), fixedNext.mid(8, 500));
}

TEST(NtfsImage, FragmentedFileAndTable)
{
    const QString image = committedImage("fragmented");
    ASSERT_FALSE(image.isEmpty());
    const QList<ManifestEntry> manifest = readManifest(image);
    Loaded v;
    ASSERT_TRUE(v.load(image));
    EXPECT_GE(+v.info.RunCount, 2u) << "the table itself is fragmented";
    const QList<Record> records = namedRecords(v);
    const Record *big = byPath(records, "big.bin", false);
    ASSERT_NE(big, nullptr);
    const int32_t runs = GetFileRecordRunsCount(v.block, big->index);
    EXPECT_GE(runs, 40);
    // Its run list crosses the first sector's end, and has negative deltas.
    const auto *attr = static_cast<const uint8_t *>(GetFileRecordAttribute(v.block, big->index, 0x80));
    const auto *rec = static_cast<const uint8_t *>(GetFileRecordFromBuffer(v.block, big->index));
    const size_t runsStart = size_t(attr - rec) + u16(attr, 0x20);
    EXPECT_LT(runsStart, 510u);
    EXPECT_GT(size_t(attr - rec) + u32(attr, 4), 512u);
    std::vector<RunEntry> entries(static_cast<size_t>(runs));
    RunList rl{};
    rl.Count = uint32_t(runs);
    rl.Entries = entries.data();
    ASSERT_EQ(GetFileRecordClustersFromBuffer(v.block, big->index, &rl), 1);
    bool backwards = false;
    for (size_t i = 1; i < entries.size(); ++i)
        backwards = backwards || entries[i].Lcn < entries[i - 1].Lcn;
    EXPECT_TRUE(backwards);

    bool complete = false;
    EXPECT_TRUE(recordData(v, big->index, &complete) == findEntry(manifest, "big.bin")->expected());
    EXPECT_TRUE(complete);
    // Every kept file is found and reads back.
    int present = 0;
    for (const ManifestEntry &e : manifest) {
        if (e.state != "present")
            continue;
        const Record *r = byPath(records, e.path, true);
        ASSERT_NE(r, nullptr) << e.path.toStdString();
        if (++present % 50 == 0) {
            EXPECT_TRUE(recordData(v, r->index) == e.expected()) << e.path.toStdString();
        }
    }
    EXPECT_GT(present, 500);

    if (haveTool("fls") && haveTool("icat")) {
        const QMap<uint32_t, QString> tsk = tskDeletedFiles(image);
        QMap<uint32_t, QString> ours;
        for (const Record &r : records)
            if (!r.inUse && !r.directory && r.hasData)
                ours.insert(r.index, r.path);
        EXPECT_EQ(ours, tsk);
        EXPECT_TRUE(recordData(v, big->index) == tskData(image, big->index));
    }
}
