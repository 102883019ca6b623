// Images made while the test runs (mkntfs, then files written and deleted
// through an ntfs-3g FUSE mount) in several geometries, checked against the
// files written and against The Sleuth Kit. Skipped where FUSE is missing.
#include "tests/ntfs/ntfs_images.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

using namespace ntfs_test;
using namespace testing_support;

namespace {

struct GeometryCase {
    const char *name;
    QStringList options;
    int sizeMiB;
    uint32_t recordSize;
    uint32_t clusterSize;
};

void PrintTo(const GeometryCase &c, std::ostream *os) { *os << c.name; }

class NtfsGeometry : public ::testing::TestWithParam<GeometryCase> {};

void checkImage(const QString &image, uint32_t recordSize, uint32_t clusterSize)
{
    const QList<ManifestEntry> manifest = readManifest(image);
    ASSERT_FALSE(manifest.isEmpty());
    Loaded v;
    ASSERT_TRUE(v.load(image));
    ASSERT_EQ(+v.info.DataSize / +v.info.RecordCount, recordSize);
    uint8_t boot[512];
    ASSERT_EQ(ReadBootSector(v.handle, boot), 1);
    uint16_t bps;
    std::memcpy(&bps, boot + 0x0B, 2);
    EXPECT_EQ(uint32_t(bps) * boot[0x0D], clusterSize);

    const QList<Record> records = namedRecords(v);
    for (const ManifestEntry &e : manifest) {
        if (e.state == "overwritten")
            continue;
        const Record *found = nullptr;
        for (const Record &r : records)
            if (r.path == e.path && r.inUse == (e.state == "present"))
                found = &r;
        ASSERT_NE(found, nullptr) << e.path.toStdString();
        EXPECT_EQ(found->pathResult, 1);
        bool complete = false;
        EXPECT_TRUE(recordData(v, found->index, &complete) == e.expected()) << e.path.toStdString();
        EXPECT_TRUE(complete) << e.path.toStdString();
        if (!e.dosName().isEmpty()) {
            EXPECT_EQ(found->dosName, e.dosName());
        }
    }
    if (!haveTool("fls") || !haveTool("icat"))
        return;
    const QMap<uint32_t, QString> tsk = tskDeletedFiles(image);
    QMap<uint32_t, QString> ours;
    for (const Record &r : records)
        if (!r.inUse && !r.directory && r.hasData)
            ours.insert(r.index, r.path);
    EXPECT_EQ(ours, tsk);
    int n = 0;
    for (auto it = ours.begin(); it != ours.end(); ++it)
        if (n++ % 7 == 0 || it.value().contains("frag") || it.value().contains("big")) {
            EXPECT_TRUE(recordData(v, it.key()) == tskData(image, it.key())) << it.value().toStdString();
        }
}

} // namespace

TEST_P(NtfsGeometry, DeletedFilesMatchWhatWasWrittenAndTheSleuthKit)
{
    const GeometryCase &c = GetParam();
    QString skip, error;
    const QString image = liveImage("basic", c.sizeMiB, c.options, &skip, &error);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    checkImage(image, c.recordSize, c.clusterSize);
}

INSTANTIATE_TEST_SUITE_P(
    Mkntfs, NtfsGeometry,
    ::testing::Values(GeometryCase{"default", {}, 4, 1024, 4096},
                      GeometryCase{"c512", {"-c", "512"}, 4, 1024, 512},
                      GeometryCase{"s4096c4096", {"-s", "4096", "-c", "4096"}, 4, 4096, 4096},
                      GeometryCase{"c65536", {"-c", "65536"}, 16, 1024, 65536}),
    [](const ::testing::TestParamInfo<GeometryCase> &info) { return std::string(info.param.name); });

TEST(NtfsLive, FragmentedVolume)
{
    QString skip, error;
    const QString image = liveImage("fragmented", 16, {}, &skip, &error);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    checkImage(image, 1024, 4096);
}
