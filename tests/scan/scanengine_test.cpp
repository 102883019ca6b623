// The scan engine on real images: every contiguous file of a known type is
// found and pictures come back byte for byte; a stop and a resume give what
// one scan gives; damaged stretches go through DeepScan and damaged mode;
// the wiped, no-file, unreadable and out-of-space ends.
#include "tests/scan/scan_images.h"

#include "platform/drives.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

SignatureRows allTypes() { return programTable(); }

struct Corpus {
    QString dir, image;
    QList<CorpusFile> files;
};

// One corpus and image for the binary: the tools run once.
const Corpus &corpus()
{
    static Corpus c = [] {
        Corpus k;
        k.dir = makeTempDir("corpus");
        k.files = makeCorpus(k.dir);
        if (!k.files.isEmpty())
            k.image = makeReformattedImage(k.dir, "card.img", k.files);
        return k;
    }();
    return c;
}

#define REQUIRE_CORPUS()                                                                                  \
    if (corpus().image.isEmpty())                                                                         \
    GTEST_SKIP() << "mkfs.fat, mtools, exiftool, imagemagick, zip or sox missing"

struct ScanRun {
    ScanResult result;
    FoundFileList found;
    QString cache;
    QStringList messages;
    std::vector<ScanMode> modes;
};

ScanRun scan(const ScanSource &src, ScanOptions opt = {}, ScanCallbacks cb = quietCallbacks(),
         const QString &cache = makeTempDir("cache"))
{
    ScanRun r;
    r.cache = cache;
    opt.cacheFolder = cacheInternal(cache);
    if (opt.freeMemoryMB < 0)
        opt.freeMemoryMB = 0;
    auto *messages = &r.messages;
    auto *modes = &r.modes;
    cb.message = [messages](const QString &t, const QString &x) { messages->append(t + "|" + x); };
    cb.modeChanged = [modes](ScanMode m) { modes->push_back(m); };
    SignatureRows table = allTypes();
    ScanEngine engine(src, table, opt, cb, r.found);
    r.result = engine.run();
    return r;
}

// The first byte offset of each corpus file on the image.
QList<qint64> fileOffsets(const QString &image, const QList<CorpusFile> &files)
{
    const QByteArray bytes = readFileBytes(image);
    QList<qint64> at;
    qint64 from = 0;
    for (const CorpusFile &f : files) {
        const qint64 p = bytes.indexOf(f.data.left(256), from);
        at << p;
        if (p >= 0)
            from = p + 1;
    }
    return at;
}

} // namespace

TEST(ScanEngine, FindsEveryFileOfAReformattedCardAndCutsPicturesToTheirTrueEnd)
{
    REQUIRE_CORPUS();
    const ScanSource src = imageSource(corpus().image);
    ASSERT_TRUE(src.geometry.valid());
    EXPECT_EQ(src.geometry.firstUnit, 2);
    EXPECT_EQ(src.geometry.unitBytes, 4096);

    ScanRun r = scan(src);
    EXPECT_EQ(r.result.end, ScanEnd::Finished);
    EXPECT_TRUE(r.messages.isEmpty()) << r.messages.join("\n").toStdString();
    const QStringList problems = compareFound(r.cache, r.found, corpus().files);
    EXPECT_TRUE(problems.isEmpty()) << problems.join("\n").toStdString();
    EXPECT_EQ(r.found.FoundFileNames.value(0), "R#0000.jpg");
    EXPECT_EQ(r.result.unitsScanned, src.geometry.unitCount);   // the last clusters too
    EXPECT_TRUE(r.result.resume.offset < 0 && r.result.resume.unit == 0);
    EXPECT_EQ(r.result.filesFound, corpus().files.size());
    EXPECT_TRUE(r.result.statusText.startsWith("Finished: ")) << r.result.statusText.toStdString();

    // 512-byte units: the window of a unit reaches into the next one.
    const QString small = makeReformattedImage(makeTempDir("small"), "s.img", corpus().files, 1, 40960);
    ASSERT_FALSE(small.isEmpty());
    ScanRun s = scan(imageSource(small));
    const QStringList p2 = compareFound(s.cache, s.found, corpus().files);
    EXPECT_TRUE(p2.isEmpty()) << p2.join("\n").toStdString();
}

TEST(ScanEngine, AStopAndAResumeGiveTheFilesOfOneScan)
{
    REQUIRE_CORPUS();
    const QString image = makeReformattedImage(makeTempDir("resume"), "r.img", corpus().files, 1, 40960);
    ASSERT_FALSE(image.isEmpty());
    const ScanSource src = imageSource(image);
    ScanOptions opt;
    opt.LMaxMB = 1;
    const ScanRun whole = scan(src, opt);
    ASSERT_EQ(whole.result.end, ScanEnd::Finished);

    for (int stopAfter : {1, 3, 7}) {
        const QString cache = makeTempDir("cache");
        ScanCallbacks cb = quietCallbacks();
        auto reads = std::make_shared<int>(0);
        cb.stopRequested = [reads, stopAfter] { return ++*reads > stopAfter; };
        ScanRun first = scan(src, opt, cb, cache);
        ASSERT_EQ(first.result.end, ScanEnd::Stopped);
        ASSERT_GT(first.result.resume.unit, src.geometry.firstUnit);
        EXPECT_EQ(first.result.resume.offset, src.geometry.offsetOfUnit(first.result.resume.unit));

        ScanOptions more = opt;
        more.resume = first.result.resume;
        more.cacheFolder = cacheInternal(cache);
        FoundFileList found = first.found;
        ScanCallbacks cb2 = quietCallbacks();
        SignatureRows table = allTypes();
        ScanEngine engine(src, table, more, cb2, found);
        const ScanResult second = engine.run();
        EXPECT_EQ(second.end, ScanEnd::Finished);
        EXPECT_EQ(found.FoundFileNames, whole.found.FoundFileNames) << stopAfter;
        EXPECT_EQ(folderDigest(cache), folderDigest(whole.cache)) << "stopped after " << stopAfter << " reads";
    }

    // The resume state: the same medium offers the resume, another does not.
    ScanResumeState state;
    ScanResult stopped;
    stopped.resume.unit = 40;
    stopped.resume.offset = src.geometry.offsetOfUnit(40);
    state.record(stopped, src);
    QStringList asked;
    QList<bool> answers{false, false};
    auto ask = [&](const QString &, const QString &text) {
        asked << text;
        return answers.isEmpty() ? false : answers.takeFirst();
    };
    EXPECT_EQ(AskResumeScan(state, src.name, "E:", 0, 3, "Quilvane  Scan", ask), 7);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked[0].startsWith("The last scan of disk E: was interrupted."));
    EXPECT_EQ(state.point.unit, 40);   // No / No: offered again
    answers = {true};
    EXPECT_EQ(AskResumeScan(state, src.name, "E:", 0, 3, "Quilvane  Scan", ask), 10);
    EXPECT_EQ(AskResumeScan(state, src.name, "E:", 0x1234, 0, "Quilvane  Scan", ask), 0);
    EXPECT_EQ(state.point.unit, 0);    // another serial clears it
}

TEST(ScanEngine, UnreadableStretchesGoThroughDeepScanAndDamagedMode)
{
    REQUIRE_CORPUS();
    const QList<CorpusFile> &files = corpus().files;
    const QList<qint64> at = fileOffsets(corpus().image, files);
    ASSERT_FALSE(at.contains(-1));
    // One stretch inside the ZIP, one far behind the last file: two reads fail.
    int zip = -1;
    for (int i = 0; i < files.size(); ++i)
        if (files[i].ext == ".zip")
            zip = i;
    const qint64 zipBad = (at[zip] + 8192) / 512, farBad = (at.last() + (20 << 20)) / 512;
    const qint64 badUnits = ((zipBad + 20) * 512 / 4096 - zipBad * 512 / 4096 + 1) + 1;
    for (const char *type : {"Removable", "Fixed"}) {
        plat::VirtualDriveOptions o;
        o.typeCode = QString(type) == "Fixed" ? plat::DriveTypeFixed : plat::DriveTypeRemovable;
        o.badSectors = {{zipBad, zipBad + 20}, {farBad, farBad + 3}};
        ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', corpus().image, o));
        ScanSource src = imageSource(corpus().image);
        src.name = "E:";
        src.image = false;
        src.driveType = type;
        ScanOptions opt;
        opt.LMaxMB = 1;
        ScanRun r = scan(src, opt);
        plat::DriveTable::instance().detach('E');

        EXPECT_EQ(r.result.end, ScanEnd::Finished) << type;
        ASSERT_GE(r.modes.size(), 2u);
        EXPECT_EQ(r.modes[0], ScanMode::DeepScan);
        EXPECT_EQ(r.modes[1], ScanMode::Damaged);
        EXPECT_EQ(r.modes.back(), ScanMode::Normal);   // unticked by the finishing pass
        EXPECT_EQ(r.result.finalMode, ScanMode::Damaged);
        EXPECT_EQ(r.result.unreadableUnits, badUnits);   // only the units holding bad sectors
        EXPECT_TRUE(r.result.resume.offset < 0);  // damaged mode keeps no resume
        // The ZIP holds zeros where it could not be read; the rest is whole.
        const QStringList problems = compareFound(r.cache, r.found, files, {}, {zip});
        EXPECT_TRUE(problems.isEmpty()) << type << "\n" << problems.join("\n").toStdString();
    }

    // Nothing readable at all: not a wiped disk.
    plat::VirtualDriveOptions dead;
    dead.badSectors = {{0, 1 << 20}};
    ASSERT_TRUE(plat::DriveTable::instance().attachImage('E', corpus().image, dead));
    ScanSource src = imageSource(corpus().image);
    src.name = "E:";
    src.image = false;
    src.driveType = "Removable";
    int reloads = 0;
    ScanCallbacks cb = quietCallbacks();
    cb.reloadMedia = [&](const ScanSource &) { ++reloads; };
    ScanRun r = scan(src, {}, cb);
    plat::DriveTable::instance().detach('E');
    EXPECT_EQ(r.result.end, ScanEnd::Unreadable);
    EXPECT_EQ(reloads, 1);
    ASSERT_EQ(r.messages.size(), 1);
    EXPECT_EQ(r.messages[0], "Scan|Cannot read the disk.");
    EXPECT_TRUE(r.found.FoundFileNames.isEmpty());
}

TEST(ScanEngine, WipedAndNoFileEndsAreToldApart)
{
    const QString dir = makeTempDir("wiped");
    writeFileBytes(dir + "/zero.img", QByteArray(2 << 20, '\0'));
    ScanRun w = scan(imageSource(dir + "/zero.img"));
    EXPECT_EQ(w.result.end, ScanEnd::Wiped);
    ASSERT_EQ(w.messages.size(), 1);
    EXPECT_TRUE(w.messages[0].contains("is wiped and entirely empty!")) << w.messages[0].toStdString();
    EXPECT_EQ(imageSource(dir + "/zero.img").geometry.unitBytes, 512);   // no boot sector: 512-byte units

    QByteArray text;
    while (text.size() < (1 << 20))
        text += "Lorem ipsum dolor sit amet, consectetur adipiscing elit. " + QByteArray::number(text.size()) + "\n";
    writeFileBytes(dir + "/text.img", text);
    ScanRun n = scan(imageSource(dir + "/text.img"));
    EXPECT_EQ(n.result.end, ScanEnd::NoFiles);
    ASSERT_EQ(n.messages.size(), 1);
    EXPECT_TRUE(n.messages[0].contains("Data found but no recoverable files.")) << n.messages[0].toStdString();
}

TEST(ScanEngine, StopsWhenTheCacheDriveRunsShortAndResumesWithoutLoss)
{
    REQUIRE_CORPUS();
    const QString image = makeReformattedImage(makeTempDir("space"), "b.img", corpus().files, 1, 40960);
    const ScanSource src = imageSource(image);
    const ScanRun whole = scan(src);

    // 2500 MB free at the start (a budget of nothing: the found files hold
    // less than a megabyte), then 2400.
    const QString cache = makeTempDir("cache");
    ScanCallbacks cb = quietCallbacks();
    auto calls = std::make_shared<int>(0);
    cb.freeSpaceMB = [calls](const QString &) { return ++*calls == 1 ? int64_t(2500) : int64_t(2400); };
    int64_t stored = -5;
    cb.storeBudget = [&](int64_t mb) { stored = mb; };
    ScanRun r = scan(src, {}, cb, cache);
    EXPECT_EQ(stored, 0);
    EXPECT_EQ(r.result.end, ScanEnd::OutOfSpace);
    EXPECT_EQ(r.result.budgetMB, -1);
    ASSERT_EQ(r.messages.size(), 1);
    EXPECT_TRUE(r.messages[0].startsWith("Out of disk space|Ran out of free disk space while scanning."))
        << r.messages[0].toStdString();
    ASSERT_GT(r.result.resume.unit, 0);
    EXPECT_LT(r.result.bytesScanned, src.geometry.totalBytes());

    ScanOptions more;
    more.resume = r.result.resume;
    more.cacheFolder = cacheInternal(cache);
    FoundFileList found = r.found;
    SignatureRows table = allTypes();
    ScanEngine engine(src, table, more, quietCallbacks(), found);
    EXPECT_EQ(engine.run().end, ScanEnd::Finished);
    EXPECT_EQ(folderDigest(cache), folderDigest(whole.cache));
}
