// The learning without the window: the input read into patterns and drives,
// the hits that become samples and the types they are learned as, the
// stride, reading samples without touching them, the folder listing, the
// sample ring, and whole runs over real sample files: written and
// enciphered, stopped by a request or the unattended time limit, a random
// start, and only this run's files refined.
#include "scan/learning.h"

#include "platform/drives.h"
#include "platform/paths.h"
#include "scan/learnedtypes.h"
#include "tests/scan/learn_samples.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace testing_support;

namespace {

QString workNative(const QString &name = {})
{
    return plat::toNative(LearnedTypesFolder()) + (name.isEmpty() ? QString() : QStringLiteral("/") + name);
}

QString internalOf(const QString &native)
{
    return plat::toInternal(native);
}

LearnedTypeRecord readPlain(const QString &name)
{
    LearnedTypeRecord r;
    EXPECT_EQ(ParseLearnedTypeRecord(readFileBytes(workNative(name)), r), LearnedTypeStatus::Ok) << name.toStdString();
    return r;
}

class Learning : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::DriveTable::instance().resetVirtual();
        QDir(workNative()).removeRecursively();
    }
    void TearDown() override { QDir(workNative()).removeRecursively(); }
};

} // namespace

TEST(LearningInput, TypesAndDrives)
{
    struct Case {
        const char *input, *patterns, *drives, *filter;
    };
    const Case cases[] = {
        {"jpe thm C: D:", " *.jpe *.thm", "C: D: ", "*.jpe*.thm"},
        {"jpg", " *.jpg", "", "*.jpg"},
        {"*", " *", "", "*"},
        {".jpg,png", " *.jpg *.png", "", "*.jpg*.png"},
        {"jpg, .png", " *.jpg *. *.png", "", "*.jpg*.*.png"},   // three blanks: one pass leaves two
        {"C:jpg C:", " *.jpg", "C: ", "*.jpg"},
        {"c: C: raw", " *.raw", "c: C: ", "*.raw"},
        {":jpg", " *.jpg", "", "*.jpg"},          // nothing before the colon: dropped
        {"::mrw", " *.mrw", "", "*.mrw"},
        {"e:\\pics\\ nef", " *.pics *.nef", "e: ", "*.pics*.nef"},
        {"  tif  ", " *.tif", "", "*.tif"},
        {"*.*", " * *", "", "*"},
    };
    for (const Case &c : cases) {
        const LearnSearch s = ParseLearnTypes(QString::fromUtf8(c.input));
        EXPECT_EQ(s.patterns, QString::fromUtf8(c.patterns)) << c.input;
        EXPECT_EQ(s.drives, QString::fromUtf8(c.drives)) << c.input;
        EXPECT_EQ(LearnFilterOf(s.patterns), QString::fromUtf8(c.filter)) << c.input;
    }

    // The default blank, or the source itself: the folder mode.
    EXPECT_TRUE(IsLearnFolderAnswer(" ", "e:"));
    EXPECT_TRUE(IsLearnFolderAnswer("e:", "e:"));
    EXPECT_TRUE(IsLearnFolderAnswer("  e: ", "e:"));
    EXPECT_FALSE(IsLearnFolderAnswer("  ", "e:"));
    EXPECT_FALSE(IsLearnFolderAnswer("jpg", "e:"));
    EXPECT_FALSE(IsLearnFolderAnswer("jpg e:", "e:"));

    // The unattended run: the fixed list, the learned rows not yet in it,
    // the source; its drive token is then the only drive searched.
    const QString text = UnattendedLearnTypes({"AU", "jpg", "XYZ"}, "e:");
    EXPECT_TRUE(text.startsWith("CR2 CRW DCR DNG JBF ARW MRW NEF ORF PCX PEF PIXAR PIX PSP RAF X3F SRF RW2 JPE JPG "
                                "JPEG THM ICO WMF BMP CUR PNG GIF TIF TIFF KDC JFIF 3FR RDC RAW KDC SR2 MEF CDR "));
    EXPECT_TRUE(text.endsWith("CDR AU XYZ e:")) << text.toStdString();
    const LearnSearch unattended = ParseLearnTypes(text);
    EXPECT_EQ(unattended.drives, "e: ");
    EXPECT_TRUE(unattended.patterns.startsWith(" *.CR2 *.CRW "));
    EXPECT_TRUE(unattended.patterns.endsWith(" *.AU *.XYZ"));

    const QString prompt = LearnPrompt();
    EXPECT_EQ(prompt.count("\r\n\r\n"), 4);
    EXPECT_TRUE(prompt.startsWith("With DO Vizorira you are able to extend and improve the scan capabilities with the "
                                  "file types of your choice.\r\n\r\nAfter analyzing"));
}

TEST(LearningInput, HitsSampleTypesAndStride)
{
    const QStringList hits = {"C:\\DCIM\\IMG_0001.JPG", "C:\\x\\a.jpe", "D:\\RIVozud\\R#0001.jpg",
                              "D:\\rivozud\\b.jpg",     "C:\\Temp\\c.jpg", "C:\\Users\\TEMPO\\d.jpg",
                              "C:\\folder.jpg\\noext",  "C:\\x\\e.png",   "C:\\x\\f.thm"};
    EXPECT_EQ(LearnSampleList(hits, "*.jpg*.thm"),
              QStringList({"C:\\DCIM\\IMG_0001.JPG", "D:\\rivozud\\b.jpg", "C:\\x\\f.thm", QString()}));
    EXPECT_EQ(LearnSampleList(hits, "*").size(), 6);   // every name with an extension, outside cache and temp
    EXPECT_EQ(LearnSampleList({}, "*"), QStringList({QString()}));

    // Only the base name makes the type: no separator reaches a file name.
    struct TypeCase {
        const char *path, *type;
    };
    const TypeCase types[] = {
        {"C:\\DCIM\\IMG_0001.JPG", ".jpg"},  {"C:\\my.dir\\photo.jpeg", ".jpeg"},
        {"C:\\my.dir\\README", ""},          {"C:\\my.dir\\x.d/e", ""},
        {"F:\\cache\\R#0001.jpg", ""},       {"F:\\x\\pic.dat", ""},
        {"F:\\x\\my.DAT.jpg", ""},           {"F:\\x\\temporary.jpg", ""},
        {"F:\\Temp\\abc.jpg", ".jpg"},       {"F:\\x\\a.jpg", ""},
        {"F:\\x\\ab.jpg", ".jpg"},           {"F:\\x\\.hidden", ""},
        {"F:\\x\\abc.tar_gz", ""},           {"F:\\x\\abc.a:b", ""},
        {"F:\\x\\abc.a*", ""},               {"F:\\x\\abc.jp g", ""},
        {"F:\\x\\abc.", ""},                 {"F:\\x\\arc.tar.gz", ".gz"},
        {"F:\\x\\abc.\xc3\xa9t\xc3\xa9", ".\xe9t\xe9"},   // Latin-1 single bytes
        {"F:\\x\\abc.\xe2\x82\xac", ""},     // no single byte for it
        {"", ""},
    };
    for (const TypeCase &c : types)
        EXPECT_EQ(LearnSampleType(QString::fromUtf8(c.path)), QByteArray(c.type)) << c.path;

    EXPECT_EQ(LearnStride(10000, true), 50);
    EXPECT_EQ(LearnStride(300, true), 2);     // 1.5 rounds to even
    EXPECT_EQ(LearnStride(500, true), 2);     // 2.5 rounds to even
    EXPECT_EQ(LearnStride(30000, false), 0);
    EXPECT_EQ(LearnStride(30001, false), 1);
    EXPECT_EQ(LearnStride(90003, false), 3);
    EXPECT_EQ(LearnRingStep(14), 1);
    EXPECT_EQ(LearnRingStep(149), 2);
    EXPECT_EQ(LearnRingStep(9900), 100);

    EXPECT_EQ(LearnStatusLine(".jpg", 2, 13, 14), ".jpg# 2 Analized:  14 reliability: 92.86%");
    EXPECT_EQ(LearnStatusLine(".au", 0, 1, 20), ".au# 0 Analized:  20 reliability: 05.00%");
    EXPECT_EQ(LearnStatusLine(".au", 1, 3, 0), ".au# 1 Analized:  0 reliability: 00.00%");
}

TEST_F(Learning, SamplesAreReadWithoutTouchingThem)
{
    const QString dir = makeTempDir("read");
    const QByteArray data = patternBytes(3000, 5);
    const QString path = dir + "/s.bin";
    ASSERT_TRUE(writeFileBytes(path, data));
    // An access time long before the last change: a relatime read would move it.
    const QByteArray name = QFile::encodeName(path);
    struct timeval times[2] = {{1000000000, 0}, {0, 0}};
    ::gettimeofday(&times[1], nullptr);
    ASSERT_EQ(::utimes(name.constData(), times), 0);
    ::chmod(name.constData(), 0444);
    struct stat before {};
    ASSERT_EQ(::stat(name.constData(), &before), 0);

    SampleBytes s;
    ASSERT_TRUE(ReadLearnSample(internalOf(path), s));
    EXPECT_EQ(s.length, 3000);
    EXPECT_EQ(s.Header, data.left(1024));
    EXPECT_EQ(s.Head16, data.left(16));
    EXPECT_EQ(s.Tail, data.right(1024));
    QByteArray rev = data.right(16);
    std::reverse(rev.begin(), rev.end());
    EXPECT_EQ(s.TailRev, rev);

    struct stat after {};
    ASSERT_EQ(::stat(name.constData(), &after), 0);
    EXPECT_EQ(after.st_atime, before.st_atime);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_EQ(readFileBytes(path), data);

    // Short files give no head; folders, fifos and missing files are no samples.
    ASSERT_TRUE(writeFileBytes(dir + "/short.bin", patternBytes(1023, 1)));
    ASSERT_TRUE(ReadLearnSample(internalOf(dir + "/short.bin"), s));
    EXPECT_TRUE(s.Head16.isEmpty());
    EXPECT_EQ(s.length, 1023);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe.au").constData(), 0600), 0);
    EXPECT_FALSE(ReadLearnSample(internalOf(dir + "/pipe.au"), s));
    EXPECT_FALSE(ReadLearnSample(internalOf(dir), s));
    EXPECT_FALSE(ReadLearnSample(internalOf(dir + "/missing.au"), s));
}

TEST_F(Learning, FolderListing)
{
    const QString dir = makeTempDir("listing");
    QDir(dir).mkpath("B/deep");
    QDir(dir).mkpath("a");
    for (const char *f : {"z.au", "Y.au", "a/one.au", "B/two.au", "B/deep/three.au", "B/back\\slash.au"})
        ASSERT_TRUE(writeFileBytes(dir + "/" + f, "x"));
    ::symlink(QFile::encodeName(dir).constData(), QFile::encodeName(dir + "/a/loop").constData());
    ::symlink(QFile::encodeName(dir + "/z.au").constData(), QFile::encodeName(dir + "/a/link.au").constData());
    const QString root = internalOf(dir) + "\\";
    EXPECT_EQ(ListLearnFolder(root), QStringList({root + "Y.au", root + "z.au", root + "a\\one.au",
                                                  root + "B\\two.au", root + "B\\deep\\three.au", QString()}));
    EXPECT_EQ(ListLearnFolder(internalOf(dir), 3), QStringList({root + "Y.au", root + "z.au", root + "a\\one.au", QString()}));
    // A stop between folders keeps what was listed.
    int folders = 0;
    EXPECT_EQ(ListLearnFolder(root, 100, [&] { return ++folders < 2; }).size(), 3);
    EXPECT_EQ(ListLearnFolder(internalOf(dir + "/missing")), QStringList({QString()}));
    EXPECT_EQ(ListLearnFolder(internalOf(dir + "/z.au")), QStringList({QString()}));
}

TEST_F(Learning, SampleRingIsPrivateAndWraps)
{
    SampleBytes s;
    s.Head16 = "head-0123456789a";
    s.Tail = patternBytes(1024, 3);
    ASSERT_TRUE(AddToSampleRing(".au", s));
    const QString ring = workNative("ZTAnalyze_au.dat");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ring).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    SampleRingRecord r;
    ASSERT_TRUE(ParseSampleRingRecord(readFileBytes(ring), r));
    EXPECT_EQ(r.Ext, ".au  ");
    EXPECT_EQ(r.Heads[0], s.Head16);
    EXPECT_EQ(r.Tails[0], s.Tail);
    EXPECT_EQ(r.Next, 1);

    for (int i = 1; i <= 100; ++i) {
        s.Head16 = "sample " + QByteArray::number(i).rightJustified(9, '0');
        ASSERT_TRUE(AddToSampleRing(".au", s));
    }
    ASSERT_TRUE(ParseSampleRingRecord(readFileBytes(ring), r));
    EXPECT_EQ(r.Next, 1);
    EXPECT_EQ(r.Heads[99], "sample 000000099");
    EXPECT_EQ(r.Heads[0], "sample 000000100");

    // A damaged ring starts afresh; an absurd Next is taken as 0.
    ASSERT_TRUE(writeFileBytes(ring, "garbage"));
    ASSERT_TRUE(AddToSampleRing(".au", s));
    ASSERT_TRUE(ParseSampleRingRecord(readFileBytes(ring), r));
    EXPECT_EQ(r.Next, 1);
    EXPECT_EQ(r.Heads[1], "");
    EXPECT_FALSE(ParseSampleRingRecord(readFileBytes(ring).left(300), r));
}

TEST_F(Learning, UnattendedRunsStopAfterThirtySecondsAndKeepYoungVariants)
{
    const QString dir = makeTempDir("unattended");
    const auto au = learn_samples::makeAuSamples(dir, 12, {8192});
    if (au.isEmpty())
        GTEST_SKIP() << "sox missing";
    const QStringList samples = ListLearnFolder(internalOf(dir));
    for (bool unattended : {true, false}) {
        QDir(workNative()).removeRecursively();
        bool running = true;
        int64_t now = 5000;
        LearnCallbacks cb;
        cb.running = [&] { return running; };
        cb.stop = [&] { running = false; };
        cb.clockMs = [&] { return now += 4000; };   // every sample takes 4 s
        LearningRun run(unattended, 1, 5000);
        run.sample(samples, 0, cb);
        if (unattended) {
            EXPECT_FALSE(running);
            EXPECT_EQ(run.SamplesAnalysed(), 8);   // 32 s after the start
        } else {
            EXPECT_TRUE(running);   // the limit is the unattended run's
            EXPECT_EQ(run.SamplesAnalysed(), 12);
        }
        run.refine(cb);
        LearnedTypeRecord record;
        ASSERT_EQ(ConvertLearnedTypeRecord("ZT_au.dat", true, record), LearnedTypeStatus::Ok);
        int kept = 0;
        for (size_t v = 0; v < 6; ++v)
            if (!record.Sig1[v].isEmpty()) {
                ++kept;
                EXPECT_EQ(record.Sig1[v], au[0].second.left(16));
                EXPECT_EQ(record.Matches[v], unattended ? 2 : 6);
            }
        EXPECT_EQ(kept, 1);
    }
}

TEST_F(Learning, RandomStartStrideAndTypeChanges)
{
    // 40 entries and a stride of 3: every fourth from a start below 3.
    QStringList samples;
    for (int i = 0; i < 40; ++i)
        samples << QStringLiteral("F:\\s\\f%1.%2").arg(i, 2, 10, QLatin1Char('0')).arg(i % 2 ? "bb" : "aa");
    samples << QString();
    std::set<int> starts;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        std::vector<int> visited;
        LearnCallbacks cb;
        cb.readSample = [&](const QString &path, SampleBytes &s) {
            visited.push_back(path.mid(6, 2).toInt());
            QByteArray head = "TYPE" + path.right(2).toLatin1() + QByteArray(1018, 'x');
            head[10] = char(visited.size());
            s = SampleFromBytes(head, patternBytes(1024, seed), 5000);
            return true;
        };
        LearningRun run(false, seed, 0);
        run.sample(samples, 3, cb);
        ASSERT_FALSE(visited.empty());
        EXPECT_LT(visited.front(), 3);
        EXPECT_EQ(visited.front(), run.FirstIndex());
        for (size_t i = 1; i < visited.size(); ++i)
            EXPECT_EQ(visited[i] - visited[i - 1], 4);
        starts.insert(visited.front());
        // The same seed, the same start.
        LearningRun again(false, seed, 0);
        std::vector<int> first = visited;
        visited.clear();
        again.sample(samples, 3, cb);
        EXPECT_EQ(visited, first);
    }
    EXPECT_GT(starts.size(), 1u);

    // Alternating types: each change writes the record and loads the next,
    // so the counts of a type go on across the changes.
    QDir(workNative()).removeRecursively();
    LearnCallbacks cb;
    cb.readSample = [&](const QString &path, SampleBytes &s) {
        QByteArray head = "TYPE" + path.right(2).toLatin1() + QByteArray(1018, 'y');
        s = SampleFromBytes(head, patternBytes(1024, 1), 5000);
        return true;
    };
    LearningRun run(false, 1, 0);
    run.sample(samples, 0, cb);
    EXPECT_EQ(run.TypeList(), "aa|bb|");
    for (const char *name : {"ZT_aa.dat", "ZT_bb.dat"}) {
        const LearnedTypeRecord r = readPlain(name);
        int analysed = 0;
        for (int32_t n : r.Analysed)
            analysed += n;
        EXPECT_EQ(analysed, 20) << name;
        EXPECT_EQ(r.Matches[5], 14) << name;   // five seeds, then one slot takes the rest
    }
}
