// FAT tables and directory chains of real images, checked against mtools.
#include "drive/fat.h"
#include "drive/sectors.h"
#include "tests/drive/drive_test_util.h"

#include <QSet>

using namespace testing_support;
using namespace drive_tests;

namespace {

QString shortName(const FatDirEntry &e)
{
    QString name = QString::fromLatin1(reinterpret_cast<const char *>(e.Name), 8).trimmed();
    const QString ext = QString::fromLatin1(reinterpret_cast<const char *>(e.Ext), 3).trimmed();
    return ext.isEmpty() ? name : name + "." + ext;
}

bool isLive(const FatDirEntry &e)
{
    return e.Name[0] != 0 && e.Name[0] != 0xE5 && e.Attributes != 0x0F && e.Name[0] != '.';
}

std::optional<FatDirEntry> findEntry(const std::vector<FatDirEntry> &entries, const QString &name)
{
    for (const FatDirEntry &e : entries)
        if (isLive(e) && shortName(e) == name)
            return e;
    return std::nullopt;
}

int32_t firstClusterOf(const FatDirEntry &e)
{
    return int32_t(uint32_t(e.ClusterHigh) << 16 | e.ClusterLow);
}

int64_t nextCluster(int64_t c)
{
    const DriveInfoRecord &d = DriveInfo();
    if (d.FileSystem == "FAT12")
        return d.Fat12Entries.at(size_t(c));
    if (d.FileSystem == "FAT16")
        return UnsignedWord(d.Fat16Entries.at(size_t(c)));
    return d.Fat32Entries.at(size_t(c)) & 0x0FFFFFFF;
}

// Reads a file through its cluster chain, cut to its size.
QByteArray readThroughChain(const FatDirEntry &e, QList<int64_t> *chain = nullptr)
{
    const DriveInfoRecord &d = DriveInfo();
    const int64_t end = d.FileSystem == "FAT12" ? kFat12End : d.FileSystem == "FAT16" ? kFat16End : kFat32End;
    QByteArray out;
    int64_t c = firstClusterOf(e);
    for (int guard = 0; c >= 2 && c < end && guard < 100000; ++guard) {
        if (chain)
            chain->append(c);
        int32_t cl = int32_t(c);
        QByteArray bytes;
        int64_t n = 0;
        ReadCluster("E:", cl, bytes, n);
        if (n <= 0)
            break;
        out += bytes;
        c = nextCluster(c);
    }
    return out.left(e.Size);
}

class FragmentedFile : public ::testing::TestWithParam<int> {};

TEST_P(FragmentedFile, ChainAgreesWithMtype)
{
    const int bits = GetParam();
    const QString dir = makeTempDir("frag");
    FatImageSpec spec;
    spec.fatBits = bits;
    spec.sizeKiB = bits == 12 ? 1440 : 16384;
    spec.sectorsPerCluster = bits == 12 ? 1 : 4;
    const QString img = makeFatImage(dir, "frag.img", spec);
    ASSERT_TRUE(mcopyData(img, "/A.BIN", patternBytes(5000, 1)));
    ASSERT_TRUE(mcopyData(img, "/B.BIN", patternBytes(7000, 2)));
    ASSERT_TRUE(mcopyData(img, "/C.BIN", patternBytes(3000, 3)));
    ASSERT_TRUE(mdel(img, "/B.BIN"));
    ASSERT_TRUE(mcopyData(img, "/D.BIN", patternBytes(40001, 4)));
    attachAndRead(img);
    auto d = findEntry(DriveInfo().RootDirEntries, "D.BIN");
    ASSERT_TRUE(d.has_value());
    QList<int64_t> chain;
    const QByteArray data = readThroughChain(*d, &chain);
    EXPECT_EQ(data, mtype(img, "/D.BIN"));
    EXPECT_EQ(data, patternBytes(40001, 4));
    // D fills B's hole first and goes on after C: the chain jumps.
    bool jumps = false;
    for (int i = 1; i < chain.size(); ++i)
        jumps = jumps || chain[i] != chain[i - 1] + 1;
    EXPECT_TRUE(jumps);
    detachDrive('E');
}

INSTANTIATE_TEST_SUITE_P(Fat12And16, FragmentedFile, ::testing::Values(12, 16),
                         [](const auto &info) { return "FAT" + std::to_string(info.param); });

TEST(Fat12, UnpacksOddAndEvenEntriesToTheLastByte)
{
    DriveInfoRecord &d = DriveInfo();
    d.Fat1Bytes = QByteArray("\x03\x40\x00\xAB\xCD\xEF", 6) + QByteArray(1530, '\0');
    d.Fat1Bytes[1533] = char(0x21);
    d.Fat1Bytes[1534] = char(0x43);
    d.Fat1Bytes[1535] = char(0x65);
    d.Fat12Entries.assign(1024, 0);
    UnpackFat12();
    EXPECT_EQ(d.Fat12Entries[0], 0x003);
    EXPECT_EQ(d.Fat12Entries[1], 0x004);
    EXPECT_EQ(d.Fat12Entries[2], 0xDAB);
    EXPECT_EQ(d.Fat12Entries[3], 0xEFC);
    // The last group of the FAT is unpacked too.
    EXPECT_EQ(d.Fat12Entries[1022], 0x321);
    EXPECT_EQ(d.Fat12Entries[1023], 0x654);
    // A FAT whose size leaves two bytes over still gives their whole entry.
    d.Fat1Bytes = QByteArray("\x21\x43\x65\x87\x09", 5);
    d.Fat12Entries.assign(3, 0);
    UnpackFat12();
    EXPECT_EQ(d.Fat12Entries[2], 0x987);
    ResetDriveInfo();
}

// A folder of 200 files below a folder, one sector a cluster.
struct DeepFolder {
    QString img;
    QStringList names;
};

DeepFolder makeDeepFolder(const QString &dir, int bits)
{
    DeepFolder f;
    FatImageSpec spec;
    spec.fatBits = bits;
    spec.sizeKiB = bits == 32 ? 65536 : bits == 16 ? 16384 : 1440;
    spec.sectorsPerCluster = 1;
    f.img = makeFatImage(dir, "deep.img", spec);
    mmd(f.img, "/A");
    mmd(f.img, "/A/B");
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 200; ++i) {
        const QString name = QStringLiteral("F%1.TXT").arg(i, 3, 10, QChar('0'));
        files.append({name, QByteArray::number(i)});
    }
    mcopyFiles(f.img, "/A/B", files);
    QByteArray out;
    runTool("mdir", {"-a", "-b", "-i", f.img, "::/A/B"}, &out);
    for (const QByteArray &line : out.split('\n'))
        if (!line.trimmed().isEmpty())
            f.names << QString::fromLatin1(line.trimmed()).section('/', -1);
    return f;
}

TEST(DirectoryChain, MultiClusterFolderBelowAFolder)
{
    const QString dir = makeTempDir("deep");
    const DeepFolder f = makeDeepFolder(dir, 16);
    ASSERT_EQ(f.names.size(), 200);
    attachAndRead(f.img);
    auto a = findEntry(DriveInfo().RootDirEntries, "A");
    ASSERT_TRUE(a.has_value());
    bool accepted = false;
    ASSERT_GE(ReadDirectoryChain("E:", firstClusterOf(*a), accepted), 0);
    EXPECT_TRUE(accepted);
    auto b = findEntry(DriveInfo().CurrentDirEntries, "B");
    ASSERT_TRUE(b.has_value());

    accepted = false;
    const int32_t sectors = ReadDirectoryChain("E:", firstClusterOf(*b), accepted);
    EXPECT_TRUE(accepted);
    // 2 dot entries and 200 files: 202 entries in 13 clusters of 16.
    EXPECT_EQ(sectors, 12);
    EXPECT_EQ(DriveInfo().CurrentDirEntries.size(), 13u * 16);
    QStringList names;
    for (const FatDirEntry &e : DriveInfo().CurrentDirEntries)
        if (isLive(e))
            names << shortName(e);
    EXPECT_EQ(names, f.names);

    // A file's first cluster is not a folder: refused, one empty entry left.
    auto file = findEntry(DriveInfo().CurrentDirEntries, "F007.TXT");
    ASSERT_TRUE(file.has_value());
    accepted = false;
    EXPECT_EQ(ReadDirectoryChain("E:", firstClusterOf(*file), accepted), -1);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(DriveInfo().CurrentDirEntries.size(), 1u);
    // The same cluster read with accepted true is taken.
    accepted = true;
    EXPECT_EQ(ReadDirectoryChain("E:", firstClusterOf(*file), accepted), 0);
    // Start clusters below the first data cluster are raised to it.
    accepted = true;
    EXPECT_GE(ReadDirectoryChain("E:", 0, accepted), 0);
    detachDrive('E');
}

TEST(DirectoryChain, CorruptFatsEndTheWalk)
{
    const QString dir = makeTempDir("corrupt");
    const DeepFolder f = makeDeepFolder(dir, 16);
    attachAndRead(f.img);
    auto a = findEntry(DriveInfo().RootDirEntries, "A");
    ASSERT_TRUE(a.has_value());
    bool accepted = false;
    ReadDirectoryChain("E:", firstClusterOf(*a), accepted);
    auto b = findEntry(DriveInfo().CurrentDirEntries, "B");
    ASSERT_TRUE(b.has_value());
    const int32_t first = firstClusterOf(*b);
    std::vector<int16_t> &fat = DriveInfo().Fat16Entries;
    const int16_t second = fat[size_t(first)];

    // A loop of two clusters: first -> second -> first.
    fat[size_t(uint16_t(second))] = int16_t(first);
    accepted = false;
    EXPECT_EQ(ReadDirectoryChain("E:", first, accepted), 1);
    EXPECT_EQ(DriveInfo().CurrentDirEntries.size(), 32u);

    // An entry beyond the clusters of the volume ends after the first.
    fat[size_t(first)] = int16_t(uint16_t(DriveInfo().TotalClusters + 10));
    accepted = false;
    EXPECT_EQ(ReadDirectoryChain("E:", first, accepted), 0);

    // The FAT array shorter than the volume claims: the cluster it points at
    // is read, and the walk ends there instead of reading past the array.
    fat.resize(size_t(first) + 1);
    fat[size_t(first)] = int16_t(first + 5);
    accepted = false;
    EXPECT_EQ(ReadDirectoryChain("E:", first, accepted), 1);
    detachDrive('E');
}

TEST(DirectoryChain, Fat32RootOverManyClustersAndReservedTopBits)
{
    const QString dir = makeTempDir("root32");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 65536;
    spec.sectorsPerCluster = 1;
    const QString img = makeFatImage(dir, "root.img", spec);
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 300; ++i)
        files.append({QStringLiteral("R%1.DAT").arg(i, 4, 10, QChar('0')), QByteArray::number(i)});
    ASSERT_TRUE(mcopyFiles(img, "/", files));
    attachAndRead(img);
    int live = 0;
    for (const FatDirEntry &e : DriveInfo().RootDirEntries)
        live += isLive(e) && !(e.Attributes & 0x08);
    EXPECT_EQ(live, 300);
    EXPECT_GE(DriveInfo().RootDirSectorsMinusOne, 18);   // 301 entries, 16 to a sector

    // Reserved top bits in the chain's entries are ignored by the walk.
    for (int32_t &e : DriveInfo().Fat32Entries)
        if (e != 0)
            e = int32_t(uint32_t(e) | 0x10000000u);
    bool accepted = true;
    ReadDirectoryChain("E:", DriveInfo().RootCluster, accepted);
    live = 0;
    for (const FatDirEntry &e : DriveInfo().CurrentDirEntries)
        live += isLive(e) && !(e.Attributes & 0x08);
    EXPECT_EQ(live, 300);
    detachDrive('E');
}

TEST(DirectoryChain, Fat32RootElsewhereThanClusterTwo)
{
    const QString dir = makeTempDir("moved");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 65536;
    spec.sectorsPerCluster = 1;
    const QString img = makeFatImage(dir, "moved.img", spec);
    ASSERT_TRUE(mcopyData(img, "/PHOTO.JPG", patternBytes(3000, 9)));
    const QByteArray boot = readFileBytes(img, 0, 512);
    const int64_t reserved = uint8_t(boot[14]) | uint8_t(boot[15]) << 8;
    const int64_t fatSectors = le32(boot, 36);
    const int64_t data = reserved + 2 * fatSectors;
    // Move the root folder from cluster 2 to cluster 1000.
    const int64_t moved = 1000;
    const QByteArray rootCluster = readFileBytes(img, data * 512, 512);
    ASSERT_TRUE(patchFile(img, (data + moved - 2) * 512, rootCluster));
    ASSERT_TRUE(patchFile(img, (data + 0) * 512, QByteArray(512, '\0')));
    for (int copy = 0; copy < 2; ++copy) {
        const int64_t fat = (reserved + copy * fatSectors) * 512;
        ASSERT_TRUE(patchFile(img, fat + 2 * 4, le32Bytes(0)));
        ASSERT_TRUE(patchFile(img, fat + moved * 4, le32Bytes(0x0FFFFFFF)));
    }
    ASSERT_TRUE(patchFile(img, 44, le32Bytes(uint32_t(moved))));
    ASSERT_TRUE(patchFile(img, 6 * 512 + 44, le32Bytes(uint32_t(moved))));   // backup boot sector
    ASSERT_EQ(mtype(img, "/PHOTO.JPG"), patternBytes(3000, 9)) << "mtools reads the patched image";

    attachAndRead(img);
    EXPECT_EQ(DriveInfo().RootCluster, moved);
    EXPECT_EQ(DriveInfo().FirstCluster, 2);
    EXPECT_EQ(ClusterToSector(2), data);
    EXPECT_EQ(ClusterToSector(moved), data + moved - 2);
    auto photo = findEntry(DriveInfo().RootDirEntries, "PHOTO.JPG");
    ASSERT_TRUE(photo.has_value());
    EXPECT_EQ(readThroughChain(*photo), patternBytes(3000, 9));
    EXPECT_EQ(DriveInfo().VolumeLabel, "CARD");
    detachDrive('E');
}

TEST(DirectoryChain, ClusterReadsRefuseClustersBeforeTheFirst)
{
    const QString dir = makeTempDir("rc");
    const QString img = makeFatImage(dir, "c.img", FatImageSpec{});
    attachAndRead(img);
    QByteArray bytes("stale");
    int64_t n = 99;
    int32_t c = 1;
    ReadCluster("E:", c, bytes, n);
    EXPECT_TRUE(bytes.isEmpty());
    EXPECT_EQ(n, 0);
    c = 2;
    ReadCluster("E:", c, bytes, n);
    EXPECT_EQ(n, DriveInfo().SectorsPerCluster * DriveInfo().BytesPerSector);
    detachDrive('E');
}

TEST(RootDirectory, KeepsEntriesUpToTheFirstEmptyOne)
{
    const QString dir = makeTempDir("rootk");
    const SampleCard card = makeSampleCard(dir, 12, true);
    ASSERT_FALSE(card.image.isEmpty());
    attachAndRead(card.image);
    const DriveInfoRecord &d = DriveInfo();
    // A full root: every slot in use, none empty.
    EXPECT_EQ(int64_t(d.RootDirEntries.size()), int64_t(d.RootDirSectorsMinusOne + 1) * d.BytesPerSector / 32);
    EXPECT_EQ(d.CurrentDirEntries.size(), d.RootDirEntries.size());
    // Deleted entries stay in the list, marked.
    int deleted = 0;
    for (const FatDirEntry &e : d.RootDirEntries)
        deleted += e.Name[0] == 0xE5;
    EXPECT_GE(deleted, 1);
    detachDrive('E');

    // An empty root keeps one entry.
    FatImageSpec bare;
    bare.label.clear();
    const QString empty = makeFatImage(dir, "empty.img", bare);
    attachAndRead(empty);
    EXPECT_EQ(DriveInfo().RootDirEntries.size(), 1u);
    detachDrive('E');
}

} // namespace
