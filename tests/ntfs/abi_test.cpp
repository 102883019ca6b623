// The library's binary interface: exactly the 19 exports, in the header's and
// the version script's order, only libc as a dependency, the record layouts,
// and what OpenVolume refuses.
#include "ntfs/fennick.h"
#include "tests/ntfs/ntfs_images.h"

#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

using namespace testing_support;
using namespace ntfs_test;

namespace {

const QStringList kExports = {
    "OpenVolume", "CloseVolume", "ReadBootSector", "GetMFTInfo", "GetMFTRuns", "MapMFT", "UnmapMFT",
    "ReadVCN", "ReadLCN", "MapVCN2LCN", "GetFileRecordFromBuffer", "GetFileRecordRunsCount",
    "GetFileRecordClustersFromBuffer", "GetFileStandardInformation", "GetFileName", "GetFileRecordAttribute",
    "FindUnnamedAttribute", "GetFilePath", "ReadBytes"};

QString libraryPath()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&OpenVolume), &info) || !info.dli_fname)
        return {};
    return QString::fromLocal8Bit(info.dli_fname);
}

QString ntfsSource(const QString &file)
{
    return QDir::cleanPath(QStringLiteral(QUILVANE_TEST_SCRIPTS) + "/../../ntfs/" + file);
}

// Copies a committed image and changes its boot sector.
QString patchedBoot(qint64 offset, const QByteArray &bytes)
{
    const QString image = committedImage("basic");
    if (image.isEmpty() || !patchFile(image, offset, bytes))
        return {};
    return image;
}

} // namespace

TEST(NtfsAbi, ExactlyTheNineteenExportsInOrder)
{
    const QString lib = libraryPath();
    ASSERT_FALSE(lib.isEmpty());
    if (!lib.contains("libfennick.so"))
        GTEST_SKIP() << "the library is compiled into this test binary";
    QByteArray out;
    ASSERT_EQ(runTool("nm", {"-D", "--defined-only", lib}, &out), 0);
    QStringList names;
    for (const QByteArray &line : out.split('\n')) {
        const QStringList f = QString::fromLatin1(line).split(' ', Qt::SkipEmptyParts);
        if (f.size() == 3)
            names << f[2];
    }
    QStringList sorted = kExports;
    sorted.sort();
    names.sort();
    EXPECT_EQ(names, sorted);

    // Only the C run-time is needed.
    ASSERT_EQ(runTool("readelf", {"-d", lib}, &out), 0);
    QStringList needed;
    static const QRegularExpression re(R"(\(NEEDED\).*\[(.*)\])");
    for (auto it = re.globalMatch(QString::fromLatin1(out)); it.hasNext();)
        needed << it.next().captured(1);
    // (A sanitizer build adds its run-time libraries.)
    needed.removeIf([](const QString &n) { return n.startsWith("libasan") || n.startsWith("libubsan"); });
    EXPECT_EQ(needed, QStringList{"libc.so.6"});
    EXPECT_TRUE(QString::fromLatin1(out).contains("libfennick.so.1"));

    // Every export is also reachable by name, as the program binds them.
    void *self = dlopen(lib.toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(self, nullptr);
    for (const QString &name : kExports)
        EXPECT_NE(dlsym(self, name.toLatin1().constData()), nullptr) << name.toStdString();
    EXPECT_EQ(dlsym(self, "applyFixup"), nullptr);
    dlclose(self);
}

TEST(NtfsAbi, HeaderAndVersionScriptKeepTheOrdinalOrder)
{
    QFile map(ntfsSource("fennick.map")), header(ntfsSource("fennick.h"));
    ASSERT_TRUE(map.open(QIODevice::ReadOnly));
    ASSERT_TRUE(header.open(QIODevice::ReadOnly));
    QStringList inMap, inHeader;
    static const QRegularExpression mapName(R"(^\s+(\w+);\s*$)", QRegularExpression::MultilineOption);
    for (auto it = mapName.globalMatch(QString::fromLatin1(map.readAll())); it.hasNext();)
        inMap << it.next().captured(1);
    static const QRegularExpression decl(R"(^FENNICK_API\s+[\w\s\*]*?\b(\w+)\()", QRegularExpression::MultilineOption);
    for (auto it = decl.globalMatch(QString::fromLatin1(header.readAll())); it.hasNext();)
        inHeader << it.next().captured(1);
    EXPECT_EQ(inMap, kExports);
    EXPECT_EQ(inHeader, kExports);

    EXPECT_EQ(sizeof(RunEntry), 16u);
    EXPECT_EQ(offsetof(RunList, Valid), 510u);
    EXPECT_EQ(offsetof(RunList, Count), 514u);
    EXPECT_EQ(offsetof(RunList, Entries), 518u);
    EXPECT_EQ(offsetof(MftInfo, RunCount), 12u);
    EXPECT_EQ(offsetof(MftInfo, Runs), 20u);
    EXPECT_EQ(sizeof(MftInfo), 20u + sizeof(RunList));
}

TEST(NtfsAbi, OpenVolumeRefusesWhatIsNotASoundNtfsVolume)
{
    EXPECT_EQ(OpenVolume(nullptr), FENNICK_INVALID_HANDLE);
    EXPECT_EQ(OpenVolume("/nonexistent/volume.img"), FENNICK_INVALID_HANDLE);
    EXPECT_EQ(OpenVolume(makeTempDir("dir").toLocal8Bit().constData()), FENNICK_INVALID_HANDLE);
    const QString shortFile = makeTempDir("short") + "/s.img";
    ASSERT_TRUE(writeFileBytes(shortFile, QByteArray("\xEB\x52\x90NTFS    ", 11)));
    EXPECT_EQ(OpenVolume(shortFile.toLocal8Bit().constData()), FENNICK_INVALID_HANDLE);
    if (haveTool("mkfs.fat")) {
        const QString fat = makeFatImage(makeTempDir("fat"), "fat.img", FatImageSpec{});
        ASSERT_FALSE(fat.isEmpty());
        EXPECT_EQ(OpenVolume(fat.toLocal8Bit().constData()), FENNICK_INVALID_HANDLE);
    }

    // Boot sectors whose geometry would divide by zero, shift past 64 bits or
    // point outside the volume.
    struct Case { qint64 offset; QByteArray bytes; const char *what; };
    const QList<Case> cases = {
        {0x0B, QByteArray("\x00\x00", 2), "0 bytes per sector"},
        {0x0B, QByteArray("\xB8\x0B", 2), "3000 bytes per sector"},
        {0x0B, QByteArray("\x00\x20", 2), "8192 bytes per sector"},
        {0x0D, QByteArray("\x00", 1), "0 sectors per cluster"},
        {0x0D, QByteArray("\x03", 1), "3 sectors per cluster"},
        {0x0D, QByteArray("\xA0", 1), "sectors per cluster 0xA0"},
        {0x40, QByteArray("\x80\x00\x00\x00", 4), "records of 2^128 bytes"},
        {0x40, QByteArray("\x00\x00\x00\x00", 4), "records of 0 bytes"},
        {0x40, QByteArray("\xFF\x00\x00\x00", 4), "records of 2 bytes"},
        {0x40, QByteArray("\x20\x00\x00\x00", 4), "records of 32 clusters (128 KiB)"},
        {0x40, QByteArray("\xF6\x01\x00\x00", 4), "a u32 of 0x1F6"},
        {0x28, QByteArray(8, '\0'), "0 sectors"},
        {0x30, QByteArray("\x00\x00\x00\x00\x00\x00\x00\x40", 8), "the MFT past the volume"},
        {0x03, QByteArray("NTFX", 4), "no NTFS signature"},
    };
    // Sound sizes, but record 0's update sequence does not fit records of
    // 4096 bytes: the volume opens, its table is refused.
    {
        const QString image = patchedBoot(0x40, QByteArray("\x01\x00\x00\x00", 4));
        const FennickHandle h = OpenVolume(image.toLocal8Bit().constData());
        ASSERT_NE(h, FENNICK_INVALID_HANDLE);
        MftInfo info{};
        EXPECT_EQ(GetMFTInfo(h, &info), 0);
        EXPECT_EQ(MapMFT(h, &info.DataSize), nullptr);
        const uint64_t count = 1 << 20;
        EXPECT_EQ(MapMFT(h, &count), nullptr);
        CloseVolume(h);
    }
    for (const Case &c : cases) {
        const QString image = patchedBoot(c.offset, c.bytes);
        ASSERT_FALSE(image.isEmpty());
        const FennickHandle h = OpenVolume(image.toLocal8Bit().constData());
        EXPECT_EQ(h, FENNICK_INVALID_HANDLE) << c.what;
        if (h != FENNICK_INVALID_HANDLE)
            CloseVolume(h);
    }
}

TEST(NtfsAbi, HandlesAreNeverStandardDescriptors)
{
    const QString image = committedImage("basic");
    ASSERT_FALSE(image.isEmpty());
    // With standard input closed, open() would give descriptor 0.
    const int savedIn = dup(0);
    ASSERT_GE(savedIn, 0);
    close(0);
    const FennickHandle h = OpenVolume(image.toLocal8Bit().constData());
    const bool zeroFree = fcntl(0, F_GETFD) == -1;
    dup2(savedIn, 0);
    close(savedIn);
    ASSERT_NE(h, FENNICK_INVALID_HANDLE);
    EXPECT_GE(h, 3);
    EXPECT_TRUE(zeroFree) << "descriptor 0 stays closed";
    EXPECT_TRUE(fcntl(int(h), F_GETFD) & FD_CLOEXEC);

    uint8_t boot[512] = {};
    EXPECT_EQ(ReadBootSector(h, boot), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(boot), 512), readFileBytes(image, 0, 512));
    EXPECT_EQ(ReadBootSector(h, nullptr), 0);
    EXPECT_EQ(ReadBootSector(FENNICK_INVALID_HANDLE, boot), 0);

    // Closing: once 1, then 0; descriptors the library did not open are left alone.
    EXPECT_EQ(CloseVolume(h), 1);
    EXPECT_EQ(CloseVolume(h), 0);
    EXPECT_EQ(CloseVolume(FENNICK_INVALID_HANDLE), 0);
    EXPECT_EQ(CloseVolume(1), 0);
    EXPECT_NE(fcntl(1, F_GETFD), -1);
    EXPECT_EQ(ReadBootSector(1, boot), 0);
    UnmapMFT(nullptr);
    int notABlock = 0;
    UnmapMFT(&notABlock);   // ignored, no invalid free
}
