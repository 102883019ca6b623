// The entry record's file form, its dates, the sort and the list lines.
#include "undelete/entries.h"

#include <QDate>
#include <QDateTime>
#include <cmath>
#include <ctime>
#include <gtest/gtest.h>

namespace {

DeletedEntryRecord sampleRecord()
{
    DeletedEntryRecord r;
    r.Name = QStringLiteral("?OLIDA~1.JPG");
    r.LongName = QStringLiteral("Holiday photo 2009 Café Привет.jpg");
    r.Path = QStringLiteral("DCIM\\100CANON\\Holiday photo 2009 Café Привет.jpg");
    r.MftIndex = 0;
    r.Created = OleDateSerial(2009, 7, 14, 10, 11, 12.34);
    r.Accessed = OleDateSerial(2009, 7, 15);
    r.Modified = OleDateSerial(2009, 7, 14, 10, 11, 14);
    r.FirstCluster = 70123;
    r.Size = 3'000'000'000LL;   // a FAT file above 2 GiB keeps its size
    r.Recoverable = 12345;
    r.Attributes = 0x20 | DeletedEntryRecord::kRecoverablePart;
    r.Occupied = -1;
    return r;
}

} // namespace

TEST(EntryRecord, FileFormRoundTripAndLayout)
{
    const DeletedEntryRecord r = sampleRecord();
    const QByteArray bytes = EntryRecordBytes(r);
    const QByteArray name = r.Name.toUtf8(), longName = r.LongName.toUtf8(), path = r.Path.toUtf8();
    ASSERT_EQ(bytes.size(), 52 + name.size() + longName.size() + path.size());
    // Lengths count bytes, not characters; the fields follow without padding.
    EXPECT_EQ(uchar(bytes[0]) | uchar(bytes[1]) << 8, name.size());
    EXPECT_EQ(bytes.mid(2, name.size()), name);
    const qsizetype fixed = 6 + name.size() + longName.size() + path.size();
    int32_t first;
    std::memcpy(&first, bytes.constData() + fixed + 28, 4);
    EXPECT_EQ(first, 70123);
    EXPECT_EQ(uchar(bytes[fixed + 44]), 0xFF);   // Occupied -1, two bytes
    EXPECT_EQ(bytes.size() - fixed, 46);

    qsizetype pos = 0;
    DeletedEntryRecord back;
    ASSERT_TRUE(ReadEntryRecord(bytes.constData(), bytes.size(), pos, back));
    EXPECT_EQ(pos, bytes.size());
    EXPECT_EQ(back, r);

    // A golden dump of a small record catches a slip in order or width.
    DeletedEntryRecord small;
    small.Name = "A.B";
    small.MftIndex = 64;
    small.Modified = 1.5;
    small.FirstCluster = -2;
    small.Size = 7;
    small.Recoverable = 1;
    small.Attributes = 16;
    EXPECT_EQ(EntryRecordBytes(small).toHex(),
              QByteArray("0300412e42000000004000000000000000000000000000000000000000000000000000f83f"
                         "feffffff0700000001000000100000000000"));

    // The mark of an entry found in a deleted folder lies above the
    // attribute byte: files written before it read as they did.
    small.MftIndex = 0;
    EXPECT_FALSE(small.IsDeleted());
    small.Attributes |= DeletedEntryRecord::kInDeletedFolder;
    const QByteArray marked = EntryRecordBytes(small);
    pos = 0;
    ASSERT_TRUE(ReadEntryRecord(marked.constData(), marked.size(), pos, back));
    EXPECT_TRUE(back.IsDeleted() && back.IsDirectory());
    EXPECT_EQ(back.AttributeByte(), 16);

    // A record whose sizes go on past 32 bits and is cut inside them is not
    // read; one of a file written before the mark said "in part" by a Size
    // above its Recoverable, which reads as the mark.
    small.Size = 1LL << 42;
    const QByteArray wide = EntryRecordBytes(small);
    pos = 0;
    EXPECT_FALSE(ReadEntryRecord(wide.constData(), wide.size() - 1, pos, back));
    small.Recoverable = 4096;
    small.Size = 300000;
    const QByteArray before = EntryRecordBytes(small);
    pos = 0;
    ASSERT_TRUE(ReadEntryRecord(before.constData(), before.size(), pos, back));
    EXPECT_TRUE(back.RecoverableInPart() && back.Size == 300000);
}

TEST(EntryRecord, ReaderRefusesShortAndHostileCounts)
{
    std::vector<DeletedEntryRecord> list = EmptyEntryList();
    list.push_back(sampleRecord());
    list.push_back(sampleRecord());
    const QByteArray bytes = EntryRecordsBytes(list, 3);
    std::vector<DeletedEntryRecord> back;
    ASSERT_TRUE(ReadEntryRecords(bytes, 3, back));
    EXPECT_EQ(back, list);
    // Cut inside the last record: nothing is taken.
    EXPECT_FALSE(ReadEntryRecords(bytes.left(bytes.size() - 5), 3, back));
    EXPECT_TRUE(back.empty());
    // Counts the bytes cannot hold are refused before any allocation.
    EXPECT_FALSE(ReadEntryRecords(bytes, 0x7FFFFFFF, back));
    EXPECT_FALSE(ReadEntryRecords(bytes, -5, back));
    // A text length running past the end.
    QByteArray bad = bytes;
    bad[0] = char(0xFF);
    bad[1] = char(0xFF);
    EXPECT_FALSE(ReadEntryRecords(bad, 0, back));
}

TEST(EntryRecord, DatesRollOverLikeDateSerial)
{
    auto dt = [](double ole) { return OleDateToDateTime(ole); };
    EXPECT_EQ(dt(OleDateSerial(1980, 0, 0)), QDateTime(QDate(1979, 11, 30), QTime(0, 0)));
    EXPECT_EQ(dt(OleDateSerial(2009, 13, 1)), QDateTime(QDate(2010, 1, 1), QTime(0, 0)));
    EXPECT_EQ(dt(OleDateSerial(2009, 3, 0)), QDateTime(QDate(2009, 2, 28), QTime(0, 0)));
    EXPECT_EQ(dt(OleDateSerial(2009, 3, 1, 25, 0, 62)), QDateTime(QDate(2009, 3, 2), QTime(1, 1, 2)));
    // Before the epoch the time counts forward: -1.25 is 29 Dec 1899 06:00.
    EXPECT_DOUBLE_EQ(OleDateSerial(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(dt(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    const QDateTime t(QDate(2021, 5, 6), QTime(7, 8, 9, 500));
    EXPECT_EQ(dt(OleDateFromDateTime(t)), t);
}

TEST(EntryRecord, DateInstantsAreTheLocalDateTimesAlsoWhereTheOffsetChanges)
{
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const QByteArray zone = qgetenv("TZ");
    // Zones whose offset changes by an hour, by half an hour (Lord Howe) and
    // at a half-hour offset (St. John's).
    for (const char *tz : {"Europe/Berlin", "Australia/Lord_Howe", "America/St_Johns", "UTC"}) {
        SCOPED_TRACE(tz);
        qputenv("TZ", tz);
        tzset();
        auto same = [](double ole) {
            const QDateTime local = OleDateToDateTime(ole);
            qint64 ms = 0;
            ASSERT_EQ(OleDateToMSecsSinceEpoch(ole, ms), local.isValid()) << ole;
            if (local.isValid())
                ASSERT_EQ(ms, local.toMSecsSinceEpoch()) << local.toString(Qt::ISODateWithMs).toStdString();
        };
        // Every 37 minutes (and some milliseconds) through two years of changes.
        for (double ole = OleDateSerial(2022, 1, 1, 0, 0, 0.25); ole < OleDateSerial(2024, 1, 1); ole += 37.0 / 1440)
            same(ole);
        // Before 1970, after 2037, the OLE epoch and its day before.
        for (double ole : {OleDateSerial(1960, 7, 1, 12), OleDateSerial(2050, 3, 27, 2, 30), 1.5, -1.25})
            same(ole);
    }
    if (hadZone)
        qputenv("TZ", zone);
    else
        qunsetenv("TZ");
    tzset();
    qint64 ms = 0;
    EXPECT_FALSE(OleDateToMSecsSinceEpoch(std::nan(""), ms));
    EXPECT_FALSE(OleDateToMSecsSinceEpoch(4.0e6, ms));
}

TEST(EntryList, SortKeysAndLines)
{
    std::vector<DeletedEntryRecord> ntfs(5);
    ntfs[1].Name = "b.jpg";
    ntfs[2].Name = "B.jpg";
    ntfs[3].Name = "Z";
    ntfs[4].Name = "a.jpg";
    SortEntryList(ntfs, true);
    QStringList names;
    for (const auto &r : ntfs)
        names << r.Name;
    EXPECT_EQ(names, QStringList({"", "B.jpg", "Z", "a.jpg", "b.jpg"}));

    // 12,001 FAT entries with negative and repeated clusters: ascending, a
    // permutation, and equal clusters keep their walk order.
    std::vector<DeletedEntryRecord> fat(12002);
    int64_t sum = 0;
    for (size_t i = 1; i < fat.size(); ++i) {
        fat[i].Name = QString::number(i);
        fat[i].FirstCluster = int32_t((i * 7919) % 5000) - 100;
        sum += fat[i].FirstCluster;
    }
    SortEntryList(fat, false);
    int64_t after = 0;
    for (size_t i = 0; i < fat.size(); ++i) {
        after += fat[i].FirstCluster;
        if (i > 0) {
            ASSERT_LE(fat[i - 1].FirstCluster, fat[i].FirstCluster);
            if (fat[i - 1].FirstCluster == fat[i].FirstCluster && !fat[i - 1].IsEmpty()) {
                ASSERT_LT(fat[i - 1].Name.toInt(), fat[i].Name.toInt());
            }
        }
    }
    EXPECT_EQ(after, sum);

    EXPECT_EQ(EntryLine(5, false, "x.jpg"), " 0005  x.jpg");
    EXPECT_EQ(EntryLine(10000, false, "x.jpg"), " 10000  x.jpg");
    EXPECT_EQ(EntryLine(12, true, "x.jpg"), " 0012@ x.jpg");
    EXPECT_EQ(EntryLineIndex(" 0012@ x.jpg"), 12);
    EXPECT_EQ(EntryLineIndex(" 10000  x.jpg"), 10000);
    EXPECT_EQ(EntryLineIndex(" @=Recovery impossible:"), -1);
    EXPECT_EQ(EntryLineIndex(""), -1);

    std::vector<DeletedEntryRecord> cut(6);
    cut[1].Name = "x";
    CutTrailingEmptySlots(cut);
    EXPECT_EQ(cut.size(), 2u);
    std::vector<DeletedEntryRecord> none(4);
    CutTrailingEmptySlots(none);
    EXPECT_EQ(none.size(), 2u);
}
