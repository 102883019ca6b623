// Learned-type files: the record's byte form, enciphering in place, reading
// back, listing and removing by name without regard to case, and damaged
// files that must be passed over.
#include "scan/learnedtypes.h"

#include "platform/paths.h"
#include "scan/rijndael.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <random>

using testing_support::readFileBytes;
using testing_support::writeFileBytes;

namespace {

QString workNative(const QString &name = {})
{
    return plat::toNative(LearnedTypesFolder()) + (name.isEmpty() ? QString() : QStringLiteral("/") + name);
}

class LearnedTypes : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(plat::toNative(LearnedTypesFolder())).removeRecursively();
        QDir().mkpath(workNative());
    }
    void TearDown() override { QDir(workNative()).removeRecursively(); }
};

LearnedTypeRecord jpegExample()
{
    LearnedTypeRecord r;
    r.Ext = ".jpg";
    r.Desc = "JPG       ";
    r.Sig1[0] = "\xFF\xD8\xFF\xE1";
    r.Matches[0] = 5;
    r.Analysed[0] = 6;
    r.TailRunStart[0] = 1;
    return r;
}

LearnedTypeRecord twoVariants()
{
    LearnedTypeRecord r = jpegExample();
    r.Sig2[0] = "Exif";
    r.TailPrefix[0] = QByteArray("\xD9\xFF", 2);
    r.TailRun[0] = QByteArray(16, '\0');
    r.Sig1[3] = QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
    r.Sig2[3] = QByteArray(1024, 'J');
    r.Matches[3] = 12;
    r.Analysed[3] = 14;
    r.SizeFieldOffset[3] = 18;
    r.SizeFieldOrder[3] = 2;
    r.TailRunStart[3] = 3;
    r.CurrentVariant = 3;
    // A slot without Sig1 is not in use: its other texts stay as they are.
    r.Sig2[5] = "left alone";
    return r;
}

} // namespace

TEST_F(LearnedTypes, RecordBytesAreTheFileLayout)
{
    const QByteArray empty = SerializeLearnedTypeRecord(LearnedTypeRecord{});
    EXPECT_EQ(empty, QByteArray(186, '\0'));

    const QByteArray bytes = SerializeLearnedTypeRecord(jpegExample());
    ASSERT_EQ(bytes.size(), 194);
    EXPECT_EQ(bytes.left(22).toHex(' ').toUpper(),
              QByteArray("04 00 2E 6A 70 67 4A 50 47 20 20 20 20 20 20 20 04 00 FF D8 FF E1"));
    EXPECT_EQ(bytes.mid(116, 4), QByteArray("\x05\0\0\0", 4));   // Matches(0)
    EXPECT_EQ(bytes.mid(140, 4), QByteArray("\x06\0\0\0", 4));   // Analysed(0)
    EXPECT_EQ(bytes.mid(170, 4), QByteArray("\x01\0\0\0", 4));   // TailRunStart(0)
    QByteArray rest = bytes;
    rest.replace(0, 22, QByteArray(22, '\0'));
    rest.replace(116, 4, QByteArray(4, '\0'));
    rest.replace(140, 4, QByteArray(4, '\0'));
    rest.replace(170, 4, QByteArray(4, '\0'));
    EXPECT_EQ(rest, QByteArray(194, '\0'));

    LearnedTypeRecord enciphered = jpegExample();
    enciphered.Enciphered = -1;
    enciphered.CurrentVariant = 5;
    enciphered.Matches[2] = -7;
    const QByteArray e = SerializeLearnedTypeRecord(enciphered);
    EXPECT_EQ(e.mid(164, 4), QByteArray("\x05\x00\xFF\xFF", 4));
    EXPECT_EQ(e.mid(124, 4), QByteArray("\xF9\xFF\xFF\xFF", 4));

    // A short description is padded with blanks; the parse gives the record back.
    LearnedTypeRecord shortDesc = twoVariants();
    shortDesc.Desc = "JPG";
    LearnedTypeRecord back;
    ASSERT_EQ(ParseLearnedTypeRecord(SerializeLearnedTypeRecord(shortDesc), back), LearnedTypeStatus::Ok);
    EXPECT_EQ(back, twoVariants());
    ASSERT_EQ(ParseLearnedTypeRecord(empty, back), LearnedTypeStatus::Ok);
    EXPECT_EQ(back, LearnedTypeRecord{});
    EXPECT_EQ(ParseLearnedTypeRecord(QByteArray(), back), LearnedTypeStatus::Empty);
    // Bytes behind the record are not read.
    ASSERT_EQ(ParseLearnedTypeRecord(bytes + "trailing old bytes", back), LearnedTypeStatus::Ok);
    EXPECT_EQ(back, jpegExample());
}

TEST_F(LearnedTypes, EncipheringTogglesTheUsedVariantsOnly)
{
    const QByteArray key = LearnedTypeKey();
    EXPECT_FALSE(key.isEmpty());
    LearnedTypeRecord r = twoVariants();
    ASSERT_TRUE(ToggleLearnedTypeCipher(r, key));
    EXPECT_EQ(r.Enciphered, -1);
    EXPECT_EQ(r.Sig1[0].size(), 64);
    EXPECT_EQ(r.Sig2[3].size(), 64 * 33);      // 1024 bytes + 4
    EXPECT_EQ(r.TailRun[0].size(), 64);
    EXPECT_TRUE(r.Sig1[1].isEmpty());
    EXPECT_EQ(r.Sig2[5], QByteArray("left alone"));
    EXPECT_EQ(r.Sig1[0], EncryptTextToHex("\xFF\xD8\xFF\xE1", key));
    EXPECT_EQ(r.Matches, twoVariants().Matches);
    EXPECT_EQ(r.Ext, QByteArray(".jpg"));
    // The enciphered record fits its byte form and reads back.
    LearnedTypeRecord parsed;
    ASSERT_EQ(ParseLearnedTypeRecord(SerializeLearnedTypeRecord(r), parsed), LearnedTypeStatus::Ok);
    EXPECT_EQ(parsed, r);
    ASSERT_TRUE(ToggleLearnedTypeCipher(parsed, key));
    EXPECT_EQ(parsed, twoVariants());

    // Another key (a file from another program) does not decipher; the record stays.
    LearnedTypeRecord foreign = r;
    EXPECT_FALSE(ToggleLearnedTypeCipher(foreign, "some other program's key"));
    EXPECT_EQ(foreign, r);
}

TEST_F(LearnedTypes, ConvertReadsDeciphersAndEnciphersInPlace)
{
    const QString name = LearnedTypeFileName(".jpg");
    EXPECT_EQ(name, QStringLiteral("ZT_jpg.dat"));
    ASSERT_TRUE(WriteLearnedTypeRecord(name, twoVariants()));
    const QByteArray plainBytes = readFileBytes(workNative(name));
    EXPECT_EQ(plainBytes, SerializeLearnedTypeRecord(twoVariants()));

    // Wanted true on a plain file: returned as read, no write.
    LearnedTypeRecord r;
    ASSERT_EQ(ConvertLearnedTypeRecord(name, true, r), LearnedTypeStatus::Ok);
    EXPECT_EQ(r, twoVariants());
    EXPECT_EQ(readFileBytes(workNative(name)), plainBytes);

    // Wanted false on a plain file: enciphered and written with the flag set.
    ASSERT_EQ(ConvertLearnedTypeRecord(name, false, r), LearnedTypeStatus::Ok);
    EXPECT_TRUE(r.isEnciphered());
    const QByteArray cipherBytes = readFileBytes(workNative(name));
    EXPECT_EQ(cipherBytes, SerializeLearnedTypeRecord(r));
    EXPECT_TRUE(cipherBytes.contains("left alone"));   // the slot not in use
    EXPECT_FALSE(cipherBytes.contains(QByteArray(1024, 'J')));

    // Wanted false again: nothing changes but the same record is written.
    LearnedTypeRecord again;
    ASSERT_EQ(ConvertLearnedTypeRecord(name, false, again), LearnedTypeStatus::Ok);
    EXPECT_EQ(again, r);
    EXPECT_EQ(readFileBytes(workNative(name)), cipherBytes);

    // Wanted true on the enciphered file: deciphered in memory, file kept.
    ASSERT_EQ(ConvertLearnedTypeRecord(name, true, again), LearnedTypeStatus::Ok);
    EXPECT_EQ(again, twoVariants());
    EXPECT_EQ(readFileBytes(workNative(name)), cipherBytes);

    // Found without regard to case.
    ASSERT_EQ(ConvertLearnedTypeRecord(QStringLiteral("ZT_JPG.DAT"), true, again), LearnedTypeStatus::Ok);
    EXPECT_EQ(again, twoVariants());

    // A missing file gives an empty record and leaves an empty file.
    ASSERT_EQ(ConvertLearnedTypeRecord(QStringLiteral("ZT_NEW.dat"), true, again), LearnedTypeStatus::Empty);
    EXPECT_EQ(again, LearnedTypeRecord{});
    EXPECT_TRUE(QFile::exists(workNative("ZT_new.dat")));
    EXPECT_EQ(QFileInfo(workNative("ZT_new.dat")).size(), 0);

    // A rewrite with shorter signatures keeps the old tail bytes and reads as new.
    const qint64 before = QFileInfo(workNative(name)).size();
    ASSERT_TRUE(WriteLearnedTypeRecord(name, jpegExample()));
    EXPECT_EQ(QFileInfo(workNative(name)).size(), before);
    ASSERT_EQ(ConvertLearnedTypeRecord(name, true, again), LearnedTypeStatus::Ok);
    EXPECT_EQ(again, jpegExample());
}

TEST_F(LearnedTypes, DamagedFilesArePassedOverAndLeftAlone)
{
    LearnedTypeRecord enciphered = twoVariants();
    ASSERT_TRUE(ToggleLearnedTypeCipher(enciphered, LearnedTypeKey()));
    const QByteArray good = SerializeLearnedTypeRecord(enciphered);
    const QString name = QStringLiteral("ZT_bad.dat");
    LearnedTypeRecord r;

    // Truncated anywhere.
    for (qsizetype cut = 1; cut < good.size(); cut += (cut < 400 ? 1 : 37)) {
        ASSERT_EQ(ParseLearnedTypeRecord(good.left(cut), r), LearnedTypeStatus::Corrupt) << cut;
        EXPECT_EQ(r, LearnedTypeRecord{});
    }
    ASSERT_TRUE(writeFileBytes(workNative(name), good.left(300)));
    EXPECT_EQ(ConvertLearnedTypeRecord(name, false, r), LearnedTypeStatus::Corrupt);
    EXPECT_EQ(readFileBytes(workNative(name)), good.left(300));   // not overwritten

    // Random bytes never read out of bounds.
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray junk(qsizetype(rng() % 400), '\0');
        for (char &c : junk)
            c = char(rng() & 0xFF);
        if (round % 3 == 0 && junk.size() > 2)
            junk[0] = junk[1] = 0;   // some with a plausible start
        LearnedTypeRecord j;
        const LearnedTypeStatus s = ParseLearnedTypeRecord(junk, j);
        if (s != LearnedTypeStatus::Ok) {
            EXPECT_EQ(j, LearnedTypeRecord{});
        }
    }

    // Absurd values.
    LearnedTypeRecord absurd = twoVariants();
    absurd.CurrentVariant = 9;
    EXPECT_EQ(ParseLearnedTypeRecord(SerializeLearnedTypeRecord(absurd), r), LearnedTypeStatus::Corrupt);
    absurd = twoVariants();
    absurd.Analysed[1] = -3;
    EXPECT_EQ(ParseLearnedTypeRecord(SerializeLearnedTypeRecord(absurd), r), LearnedTypeStatus::Corrupt);
    absurd = twoVariants();
    absurd.Sig2[0] = QByteArray(1025, 'x');
    EXPECT_EQ(ParseLearnedTypeRecord(SerializeLearnedTypeRecord(absurd), r), LearnedTypeStatus::Corrupt);

    // Bad cipher text: a changed digit, a digit that is not hex, a cut field,
    // another program's key. Each is skipped, and the file stays as it was.
    auto expectSkipped = [&](LearnedTypeRecord bad, const char *what) {
        const QByteArray bytes = SerializeLearnedTypeRecord(bad);
        ASSERT_TRUE(writeFileBytes(workNative(name), bytes));
        LearnedTypeRecord out;
        EXPECT_EQ(ConvertLearnedTypeRecord(name, true, out), LearnedTypeStatus::Corrupt) << what;
        EXPECT_EQ(out, LearnedTypeRecord{}) << what;
        EXPECT_EQ(ConvertLearnedTypeRecord(name, false, out), LearnedTypeStatus::Ok) << what;
        EXPECT_EQ(readFileBytes(workNative(name)), bytes) << what;
    };
    LearnedTypeRecord bad = enciphered;
    bad.Sig1[0][0] = bad.Sig1[0][0] == 'A' ? 'B' : 'A';
    expectSkipped(bad, "changed digit");
    bad = enciphered;
    bad.Sig2[3][10] = 'Z';
    expectSkipped(bad, "not hex");
    bad = enciphered;
    bad.TailRun[0].chop(2);
    expectSkipped(bad, "cut field");
    bad = twoVariants();
    for (auto *texts : {&bad.Sig1, &bad.Sig2, &bad.TailPrefix, &bad.TailRun})
        for (size_t v : {size_t(0), size_t(3)})
            (*texts)[v] = EncryptTextToHex((*texts)[v], "some other program's key");
    bad.Enciphered = -1;
    expectSkipped(bad, "other key");

    // Plain files of other programs are read: the key does not matter then.
    ASSERT_TRUE(writeFileBytes(workNative(name), SerializeLearnedTypeRecord(twoVariants())));
    EXPECT_EQ(ConvertLearnedTypeRecord(name, true, r), LearnedTypeStatus::Ok);
    EXPECT_EQ(r, twoVariants());
}

TEST_F(LearnedTypes, FilesAreListedFoundAndRemovedWithoutRegardToCase)
{
    ASSERT_TRUE(WriteLearnedTypeRecord(LearnedTypeFileName(".PNG"), jpegExample()));
    EXPECT_TRUE(QFile::exists(workNative("ZT_png.dat")));
    ASSERT_TRUE(writeFileBytes(workNative("ZT_Xyz.DAT"), SerializeLearnedTypeRecord(jpegExample())));
    ASSERT_TRUE(writeFileBytes(workNative("notes_ZT_abc.dat"), "x"));
    ASSERT_TRUE(writeFileBytes(workNative("ZT_abc.txt"), "x"));
    SampleRingRecord ring;
    ring.Ext = ".png";
    ring.Heads[0] = QByteArray("\x89PNG\r\n\x1a\n", 8);
    ring.Tails[0] = QByteArray(1024, 'T');
    ring.Next = 1;
    ASSERT_TRUE(WriteSampleRingFile(".png", ring));

    EXPECT_EQ(ListLearnedTypeFiles(), (QStringList{"ZT_Xyz.DAT", "ZT_png.dat"}));
    EXPECT_EQ(LearnedTypeFromFileName("ZT_Xyz.DAT"), QByteArray("xyz"));
    EXPECT_EQ(LearnedTypeFromFileName("zt_tar.gz.dat"), QByteArray("tar.gz"));
    EXPECT_TRUE(LearnedTypeFromFileName("ZTAnalyze_png.dat").isEmpty());
    EXPECT_TRUE(LearnedTypeFromFileName("ZT_.dat").isEmpty());
    EXPECT_EQ(FindLearnedTypeFile("XYZ"), QStringLiteral("ZT_Xyz.DAT"));
    EXPECT_EQ(FindLearnedTypeFile(".png"), QStringLiteral("ZT_png.dat"));
    EXPECT_TRUE(FindLearnedTypeFile("gif").isEmpty());

    EXPECT_TRUE(RemoveLearnedTypeFile("XYZ", false));
    EXPECT_FALSE(QFile::exists(workNative("ZT_Xyz.DAT")));
    EXPECT_FALSE(RemoveLearnedTypeFile("XYZ", false));
    EXPECT_EQ(ListLearnedTypeFiles(), (QStringList{"ZT_png.dat"}));

    // The sample ring: Ext in 5 bytes, 100 heads, 100 tails, the next slot.
    EXPECT_EQ(SampleRingFileName(".PNG"), QStringLiteral("ZTAnalyze_png.dat"));
    const QByteArray ringBytes = readFileBytes(workNative("ZTAnalyze_png.dat"));
    ASSERT_EQ(ringBytes.size(), 5 + 200 * 2 + 8 + 1024 + 2);
    EXPECT_EQ(ringBytes.left(5), QByteArray(".png "));
    EXPECT_EQ(ringBytes.mid(5, 10), QByteArray("\x08\x00\x89PNG\r\n\x1a\n", 10));
    EXPECT_EQ(ringBytes.right(2), QByteArray("\x01\x00", 2));
}
