// The FAT walk on images made by mkfs.fat and mtools, with The Sleuth Kit as
// the oracle: names in any script, paths, sizes, the recoverable bytes and
// the data of deleted entries; deleted folders; the FAT32 high word; reused
// clusters; and media patched into loops and shared clusters.
#include "tests/support/fixtures.h"
#include "tests/undelete/undelete_support.h"

#include "drive/driveinfo.h"
#include "recovery/saving.h"
#include "undelete/fatwalk.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace undelete_test;

namespace {

QByteArray le16(int v)
{
    QByteArray b(2, '\0');
    b[0] = char(v & 0xFF);
    b[1] = char((v >> 8) & 0xFF);
    return b;
}

// The bytes a save of the entry writes (its size, from its clusters).
QByteArray savedBytes(const DeletedEntryRecord &e)
{
    QTemporaryFile out;
    if (!out.open())
        return {};
    const FatWriteResult r = WriteFatEntryData("E:", e, e.Size, out);
    out.flush();
    if (!r.firstReadable)
        return {};
    return readFileBytes(out.fileName());
}

// Our path of an entry as fls words it: "/" between folders, "_" for the
// lost first character of a deleted 8.3 name.
QString tskPath(const DeletedEntryRecord &r)
{
    QString p = r.Path;
    p.replace('\\', '/');
    p.replace('?', '_');
    return p;
}

} // namespace

TEST(FatWalk, DeletedFilesOfEveryFatTypeMatchTheSleuthKit)
{
    for (int bits : {12, 16, 32}) {
        SCOPED_TRACE(bits);
        const QString dir = makeTempDir("walk");
        FatImageSpec spec;
        spec.fatBits = bits;
        spec.sizeKiB = bits == 12 ? 2048 : bits == 16 ? 16384 : 40960;
        spec.sectorsPerCluster = bits == 32 ? 1 : 4;
        const QString image = makeFatImage(dir, "card.img", spec);
        ASSERT_FALSE(image.isEmpty());
        const QByteArray photo = patternBytes(30000, 7), keep = patternBytes(5000, 8), inner = patternBytes(2100, 9);
        ASSERT_TRUE(mmd(image, "/DCIM") && mmd(image, "/DCIM/100CANON") && mmd(image, "/OLD"));
        ASSERT_TRUE(mcopyData(image, "/DCIM/100CANON/Holiday photo 2009.jpg", photo));
        ASSERT_TRUE(mcopyData(image, "/DCIM/100CANON/keep.jpg", keep));
        ASSERT_TRUE(mcopyData(image, "/OLD/inner.txt", inner));
        ASSERT_TRUE(mdel(image, "/DCIM/100CANON/Holiday photo 2009.jpg"));
        ASSERT_TRUE(mdeltree(image, "/OLD"));

        WindowOnImage on(image);
        on.w.SearchDeletedEntries("E:");
        const auto &entries = on.w.DeletedEntries;
        ASSERT_GE(entries.size(), 2u);
        EXPECT_TRUE(entries[0].IsEmpty());
        EXPECT_FALSE(entries[1].IsEmpty()) << "the first entry lands in slot 1";
        EXPECT_EQ(on.w.LastFatWalk.foldersRefused, 0);

        const DeletedEntryRecord *holiday = byPath(entries, "DCIM\\100CANON\\Holiday photo 2009.jpg");
        ASSERT_NE(holiday, nullptr);
        EXPECT_EQ(holiday->Name, "?OLIDA~1.JPG");
        EXPECT_EQ(holiday->LongName, "Holiday photo 2009.jpg");
        EXPECT_EQ(holiday->Size, photo.size());
        EXPECT_GT(holiday->Modified, OleDateSerial(2000, 1, 1));
        DeletedEntryRecord judged = *holiday;
        CheckDeletedChain(judged, DriveInfo());
        EXPECT_EQ(judged.Recoverable, photo.size());
        EXPECT_EQ(judged.Occupied, 0);
        EXPECT_EQ(savedBytes(judged), photo);

        // The deleted folder's file is listed under it, whole.
        const DeletedEntryRecord *innerEntry = byPath(entries, "?LD\\?nner.txt");
        ASSERT_NE(innerEntry, nullptr);
        EXPECT_EQ(savedBytes(*innerEntry), inner);
        // An existing file keeps all its bytes.
        const DeletedEntryRecord *kept = byPath(entries, "DCIM\\100CANON\\keep.jpg");
        ASSERT_NE(kept, nullptr);
        DeletedEntryRecord existing = *kept;
        CheckDeletedChain(existing, DriveInfo());
        EXPECT_EQ(existing.Recoverable, keep.size());
        EXPECT_EQ(savedBytes(existing), keep);

        // Every deleted entry The Sleuth Kit lists is ours, and its data agrees.
        const QMap<QString, qint64> tsk = flsDeleted(image);
        ASSERT_FALSE(tsk.isEmpty());
        for (auto it = tsk.cbegin(); it != tsk.cend(); ++it) {
            const DeletedEntryRecord *mine = nullptr;
            for (const DeletedEntryRecord &r : entries)
                if (r.IsDeleted() && tskPath(r) == it.key())
                    mine = &r;
            ASSERT_NE(mine, nullptr) << it.key().toStdString();
            if (!mine->IsDirectory()) {
                EXPECT_EQ(savedBytes(*mine), icat(image, it.value())) << it.key().toStdString();
            }
        }
    }
}

TEST(FatWalk, LongNamesInAnyScriptComeBackWhole)
{
    const QString dir = makeTempDir("script");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 40960;
    spec.sectorsPerCluster = 1;
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    const QStringList names{QStringLiteral("Привет мир.jpg"), QStringLiteral("Καλημέρα κόσμε.png"),
                            QStringLiteral("日本の写真.jpg"), QStringLiteral("Café crème brûlée.txt"),
                            QStringLiteral("a.very.long.name.with.many.dots and blanks 1234567890.jpeg")};
    for (int i = 0; i < names.size(); ++i)
        ASSERT_TRUE(mcopyUtf8(image, "/" + names[i], patternBytes(600 + i, quint32(i))));
    // Deleted ones and one that stays.
    for (int i = 0; i + 1 < names.size(); ++i)
        ASSERT_TRUE(mdelUtf8(image, "/" + names[i]));

    WindowOnImage on(image);
    on.w.SearchDeletedEntries("E:");
    for (int i = 0; i < names.size(); ++i) {
        const DeletedEntryRecord *r = byPath(on.w.DeletedEntries, names[i]);
        ASSERT_NE(r, nullptr) << names[i].toStdString();
        EXPECT_EQ(r->LongName, names[i]);
        EXPECT_EQ(r->IsDeleted(), i + 1 < names.size());
        EXPECT_EQ(savedBytes(*r), patternBytes(600 + i, quint32(i)));
    }
    const QMap<QString, qint64> tsk = flsDeleted(image);
    for (int i = 0; i + 1 < names.size(); ++i)
        EXPECT_TRUE(tsk.contains(names[i])) << "oracle lacks " << names[i].toStdString();
}

TEST(FatWalk, Fat32HighWordClearedByDeletionIsRepaired)
{
    const QString dir = makeTempDir("high");
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = 40960;
    spec.sectorsPerCluster = 1;
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    const QByteArray target = patternBytes(20000, 3);
    ASSERT_TRUE(mcopyData(image, "/A.BIN", patternBytes(34 * 1024 * 1024, 1)));
    ASSERT_TRUE(mcopyData(image, "/B.BIN", patternBytes(100, 2)));
    ASSERT_TRUE(mcopyData(image, "/C.JPG", target));
    ASSERT_TRUE(mdel(image, "/C.JPG"));
    // mdel keeps the high word; Windows clears it.
    const qint64 at = findShortEntry(image, 2, "C       JPG", true);
    ASSERT_GT(at, 0);
    const QByteArray e = readFileBytes(image, at, 32);
    const int high = uchar(e[20]) | uchar(e[21]) << 8, low = uchar(e[26]) | uchar(e[27]) << 8;
    ASSERT_GE(high, 1) << "the target must lie beyond cluster 65535";
    ASSERT_TRUE(patchFile(image, at + 20, le16(0)));

    WindowOnImage on(image);
    ASSERT_GT(DriveInfo().TotalClusters, 65536);
    on.w.SearchDeletedEntries("E:");
    const DeletedEntryRecord *c = byPath(on.w.DeletedEntries, "?.JPG");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(uint32_t(c->FirstCluster), uint32_t(high) << 16 | uint32_t(low));
    DeletedEntryRecord judged = *c;
    CheckDeletedChain(judged, DriveInfo());
    EXPECT_EQ(judged.Recoverable, target.size());
    EXPECT_EQ(savedBytes(judged), target);
}

TEST(FatWalk, ReusedAndDamagedChainsAreNeverProbable)
{
    const QString dir = makeTempDir("reuse");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 4;   // 2 KiB clusters
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    // The new file goes into another folder: mtools would reuse the slot.
    ASSERT_TRUE(mmd(image, "/SUB"));
    ASSERT_TRUE(mcopyData(image, "/OLD.JPG", patternBytes(8000, 1)));
    ASSERT_TRUE(mcopyData(image, "/GAP.JPG", patternBytes(9000, 3)));
    ASSERT_TRUE(mdel(image, "/OLD.JPG"));
    ASSERT_TRUE(mdel(image, "/GAP.JPG"));
    ASSERT_TRUE(mcopyData(image, "/SUB/NEW.JPG", patternBytes(8000, 2)));   // onto the freed clusters

    {
        WindowOnImage on(image);
        on.w.SearchDeletedEntries("E:");
        const DeletedEntryRecord *old = byPath(on.w.DeletedEntries, "?LD.JPG");
        const DeletedEntryRecord *now = byPath(on.w.DeletedEntries, "SUB\\NEW.JPG");
        ASSERT_TRUE(old && now);
        ASSERT_EQ(old->FirstCluster, now->FirstCluster) << "mtools reuses the first free cluster";
        DeletedEntryRecord judged = *old;
        CheckDeletedChain(judged, DriveInfo());
        EXPECT_EQ(judged.Occupied, -1);
        const DeletedEntryRecord *gap = byPath(on.w.DeletedEntries, "?AP.JPG");
        ASSERT_NE(gap, nullptr);
        judged = *gap;
        CheckDeletedChain(judged, DriveInfo());
        EXPECT_EQ(judged.Recoverable, 9000);
        EXPECT_EQ(judged.Occupied, 0);
    }
    // The second cluster of GAP.JPG marked bad: the count stops there; marked
    // as a cluster of another chain: counted, but occupied.
    const qint64 gapCluster = [&] {
        const QByteArray e = readFileBytes(image, findShortEntry(image, 0, "GAP     JPG", true), 32);
        return qint64(uchar(e[26]) | uchar(e[27]) << 8);
    }();
    for (const auto &[value, recoverable, occupied] :
         {std::tuple{0xFFF7, 2048, 0}, std::tuple{0x8000, 9000, -1}}) {
        ASSERT_TRUE(patchFile(image, fatEntryOffset(image, gapCluster + 1), le16(value)));
        WindowOnImage on(image);
        on.w.SearchDeletedEntries("E:");
        const DeletedEntryRecord *gap = byPath(on.w.DeletedEntries, "?AP.JPG");
        ASSERT_NE(gap, nullptr);
        DeletedEntryRecord judged = *gap;
        CheckDeletedChain(judged, DriveInfo());
        EXPECT_EQ(judged.Recoverable, recoverable) << value;
        EXPECT_EQ(judged.Occupied, occupied) << value;
        // Saving through a cluster marked bad or taken says so.
        QTemporaryFile out;
        ASSERT_TRUE(out.open());
        const FatWriteResult w = WriteFatEntryData("E:", judged, judged.Size, out);
        EXPECT_TRUE(w.clustersInUse);
    }
}

TEST(FatWalk, LoopsAndSharedClustersEndWithEveryEntryOnce)
{
    const QString dir = makeTempDir("loops");
    FatImageSpec spec;
    spec.fatBits = 16;
    spec.sizeKiB = 16384;
    spec.sectorsPerCluster = 1;   // 512-byte clusters: folders of many clusters
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(mmd(image, "/ONE") && mmd(image, "/ONE/TWO") && mmd(image, "/GONE") && mmd(image, "/GONE2"));
    QList<QPair<QString, QByteArray>> many;
    for (int i = 0; i < 40; ++i)
        many.append({QStringLiteral("F%1.BIN").arg(i, 3, 10, QChar('0')), patternBytes(700, quint32(i))});
    ASSERT_TRUE(mcopyFiles(image, "/ONE", many));
    ASSERT_TRUE(mcopyData(image, "/ONE/TWO/A.JPG", patternBytes(1500, 50)));
    ASSERT_TRUE(mcopyData(image, "/ONE/TWO/B.JPG", patternBytes(1500, 51)));
    ASSERT_TRUE(mcopyData(image, "/GONE/IN.TXT", patternBytes(300, 52)));
    ASSERT_TRUE(mdeltree(image, "/GONE"));
    ASSERT_TRUE(mdeltree(image, "/GONE2"));

    auto clusterOf = [&](qint64 dirCluster, const QByteArray &name, bool deleted) {
        const QByteArray e = readFileBytes(image, findShortEntry(image, dirCluster, name, deleted), 32);
        return qint64(uchar(e[26]) | uchar(e[27]) << 8);
    };
    const qint64 one = clusterOf(0, "ONE        ", false);
    const qint64 two = clusterOf(one, "TWO        ", false);
    const qint64 gone = clusterOf(0, "GONE       ", true);
    // A folder chain that points back to its first cluster.
    qint64 lastOfOne = one;
    for (int guard = 0; guard < 100; ++guard) {
        const QByteArray next = readFileBytes(image, fatEntryOffset(image, lastOfOne), 2);
        const int n = uchar(next[0]) | uchar(next[1]) << 8;
        if (n >= 0xFFF8)
            break;
        lastOfOne = n;
    }
    ASSERT_NE(lastOfOne, one) << "ONE must span several clusters";
    ASSERT_TRUE(patchFile(image, fatEntryOffset(image, lastOfOne), le16(int(one))));
    // A folder entry in TWO that leads back up to ONE: a loop in the tree.
    const qint64 b = findShortEntry(image, two, "B       JPG", false);
    ASSERT_GT(b, 0);
    ASSERT_TRUE(patchFile(image, b + 11, QByteArray(1, 0x10)));
    ASSERT_TRUE(patchFile(image, b + 26, le16(int(one))));
    // Two deleted folders that start at the same cluster.
    const qint64 gone2 = findShortEntry(image, 0, "GONE2      ", true);
    ASSERT_TRUE(patchFile(image, gone2 + 26, le16(int(gone))));
    // Two files sharing a cluster.
    const qint64 a = findShortEntry(image, two, "A       JPG", false);
    ASSERT_TRUE(patchFile(image, findShortEntry(image, one, "F001    BIN", false) + 26, le16(int(clusterOf(two, "A       JPG", false)))));
    ASSERT_GT(a, 0);

    WindowOnImage on(image);
    on.w.SearchDeletedEntries("E:");
    const auto &entries = on.w.DeletedEntries;
    EXPECT_FALSE(on.w.LastFatWalk.timedOut);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(countPath(entries, QStringLiteral("ONE\\F%1.BIN").arg(i, 3, 10, QChar('0'))), 1) << i;
    EXPECT_EQ(countPath(entries, "ONE\\TWO\\A.JPG"), 1);
    EXPECT_EQ(countPath(entries, "ONE\\TWO\\B.JPG"), 1);
    // The file of the deleted folder comes once, under one of the two.
    int in = 0;
    for (const DeletedEntryRecord &r : entries)
        in += r.Path.endsWith("\\?N.TXT");
    EXPECT_EQ(in, 1);
    // Nothing is listed below the folder entry that loops back.
    for (const DeletedEntryRecord &r : entries)
        EXPECT_FALSE(r.Path.startsWith("ONE\\TWO\\B.JPG\\")) << r.Path.toStdString();
    // The list of a looping medium has no more entries than the medium holds.
    EXPECT_LT(entries.size(), 70u);
}

TEST(FatWalk, DeletedFolderWhoseClusterANewFolderTookIsNotWalked)
{
    const QString dir = makeTempDir("refold");
    FatImageSpec spec;
    spec.fatBits = 12;
    spec.sizeKiB = 1440;
    const QString image = makeFatImage(dir, "card.img", spec);
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(mmd(image, "/P"));
    ASSERT_TRUE(mmd(image, "/OLD"));
    ASSERT_TRUE(mcopyData(image, "/OLD/LOST.TXT", patternBytes(100, 1)));
    ASSERT_TRUE(mdeltree(image, "/OLD"));
    ASSERT_TRUE(mmd(image, "/P/NEW"));   // takes the freed cluster
    ASSERT_TRUE(mcopyData(image, "/P/NEW/HERE.TXT", patternBytes(100, 2)));

    WindowOnImage on(image);
    on.w.SearchDeletedEntries("E:");
    const DeletedEntryRecord *old = byPath(on.w.DeletedEntries, "?LD");
    const DeletedEntryRecord *now = byPath(on.w.DeletedEntries, "P\\NEW");
    ASSERT_TRUE(old && now);
    ASSERT_EQ(old->FirstCluster, now->FirstCluster);
    EXPECT_EQ(countPath(on.w.DeletedEntries, "P\\NEW\\HERE.TXT"), 1);
    for (const DeletedEntryRecord &r : on.w.DeletedEntries)
        EXPECT_FALSE(r.Path.startsWith("?LD\\")) << "invented under the deleted folder: " << r.Path.toStdString();
}

TEST(FatTexts, DatesAndAttributes)
{
    auto at = [](uint16_t d, uint16_t t) { return OleDateToDateTime(FatDateTimeToDate(d, t)); };
    EXPECT_EQ(at(0, 0), QDateTime(QDate(1979, 11, 30), QTime(0, 0)));
    const uint16_t may2009 = (2009 - 1980) << 9 | 5 << 5 | 14;
    EXPECT_EQ(at(may2009, 10 << 11 | 11 << 5 | 6), QDateTime(QDate(2009, 5, 14), QTime(10, 11, 12)));
    EXPECT_EQ(at((2009 - 1980) << 9 | 0 << 5 | 14, 0), QDateTime(QDate(2008, 12, 14), QTime(0, 0)));   // month 0
    EXPECT_EQ(at((2009 - 1980) << 9 | 3 << 5 | 0, 0), QDateTime(QDate(2009, 2, 28), QTime(0, 0)));    // day 0
    EXPECT_EQ(at(may2009, 31), QDateTime(QDate(2009, 5, 14), QTime(0, 1, 2)));                       // second 62
    EXPECT_EQ(at(may2009, 25 << 11), QDateTime(QDate(2009, 5, 15), QTime(1, 0)));                    // hour 25

    EXPECT_EQ(AttributesText(0x21), "ReadOnly,Archive");
    EXPECT_EQ(AttributesText(0), "Normal");
    EXPECT_EQ(AttributesText(8), "vbVolume");
    EXPECT_EQ(AttributesText(16), "Directory");
    EXPECT_EQ(AttributesText(0x3F), "vbVolume,Directory,Hidden,System,ReadOnly,Archive");
}

TEST(FatTexts, CheckDeletedChainRefusesClustersOutsideTheDataArea)
{
    DriveInfoRecord d;
    d.FileSystem = "FAT16";
    d.SectorsPerCluster = 4;
    d.BytesPerSector = 512;
    d.TotalClusters = 100;
    d.Fat16Entries.assign(102, 0);
    d.Fat16Entries[0] = int16_t(0xFFF8);
    d.Fat16Entries[1] = int16_t(0xFFFF);
    for (int32_t first : {0, 1, 102, 5000, -3}) {
        DeletedEntryRecord r;
        r.Name = "?A.JPG";
        r.Size = 100;
        r.FirstCluster = first;
        r.Recoverable = 77;
        CheckDeletedChain(r, d);
        EXPECT_EQ(r.Recoverable, 0) << first;
    }
    // The last cluster of the volume is a cluster of the data area.
    DeletedEntryRecord last;
    last.Name = "?B.JPG";
    last.Size = 100;
    last.FirstCluster = 101;
    CheckDeletedChain(last, d);
    EXPECT_EQ(last.Recoverable, 100);
    // A file running past the end counts only what lies inside.
    DeletedEntryRecord tail = last;
    tail.Size = 3 * 2048;
    tail.FirstCluster = 100;
    CheckDeletedChain(tail, d);
    EXPECT_EQ(tail.Recoverable, 2 * 2048);
    // A deleted file of size 0 keeps 0; a deleted folder gets a cluster.
    DeletedEntryRecord empty = last;
    empty.Size = 0;
    empty.Recoverable = 0;
    CheckDeletedChain(empty, d);
    EXPECT_EQ(empty.Recoverable, 0);
    empty.Attributes = 16;
    CheckDeletedChain(empty, d);
    EXPECT_EQ(empty.Recoverable, 2048);

    // Clusters 10 to 12 taken: another deleted entry's start among them, a
    // deleted folder's too, marks the file occupied; its own cluster seen
    // again through a deleted folder, a live entry's and the next do not.
    auto entry = [&](const char *name, int32_t cluster, int32_t attributes) {
        DeletedEntryRecord r = last;
        r.Name = name, r.FirstCluster = cluster, r.Attributes = attributes, r.Size = 3 * 2048;
        return r;
    };
    std::vector<DeletedEntryRecord> list{entry("?B.JPG", 10, 0), entry("B.JPG", 10, DeletedEntryRecord::kInDeletedFolder),
                                         entry("C.JPG", 11, 0), entry("?D.JPG", 13, 0)};
    for (const int occupied : {0, -1}) {
        DeletedEntryRecord judged = list[0];
        const DeletedEntryStarts starts(list, d);
        CheckDeletedChain(judged, d, &starts);
        EXPECT_EQ(judged.Occupied, occupied);
        EXPECT_EQ(judged.Recoverable, 3 * 2048);
        list.push_back(entry("?OLD", 12, 16));
    }
}
