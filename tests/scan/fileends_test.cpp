// Found files end where their data ends. A quick-formatted card whose every
// file is followed by megabytes of empty space (zeros, or 0xFF as erased
// flash reads) gives each whole file back byte for byte and the file cut
// short no longer than its data, marked; a file open when the scan is
// stopped, the medium ends or a limit cuts it is marked until it is whole;
// the structure walks of sound, documents, archives and video on files of
// the real tools.
#include "scan/foundfiles.h"
#include "scan/signatures.h"
#include "scan/prefixindex.h"
#include "recovery/scanlist.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/scan_window.h"
#include "tests/support/fixtures.h"
#include "tests/support/responder.h"

#include "drive/driveinfo.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

const QString kSamples = QStringLiteral(QUILVANE_SCAN_SAMPLES);

QByteArray sample(const QString &name) { return readFileBytes(kSamples + '/' + name); }

// A file of the tools, or empty when the tool failed.
QByteArray made(const QString &dir, const QString &name, const QString &program, const QStringList &args)
{
    QStringList a = args;
    a.replaceInStrings(QStringLiteral("@OUT@"), dir + '/' + name);
    QByteArray log;
    if (runTool(program, a, &log) != 0)
        return {};
    return readFileBytes(dir + '/' + name);
}

// A photo as a camera leaves it: cjpeg, then the camera's EXIF by exiftool.
QByteArray cameraJpeg(const QString &dir, const QString &name, int seed)
{
    const QString ppm = dir + '/' + name + ".ppm";
    if (runTool(imageMagickProgram(), {"-seed", QString::number(seed), "-size", "480x320", "plasma:fractal", ppm}) != 0)
        return {};
    const QByteArray jpeg = made(dir, name, "cjpeg", {"-quality", "92", "-outfile", "@OUT@", ppm});
    if (jpeg.isEmpty()
        || runTool("exiftool", {"-q", "-overwrite_original", "-Make=Testcam", "-Model=T100",
                                "-DateTimeOriginal=2024:05:06 07:08:09", dir + '/' + name})
               != 0)
        return {};
    return readFileBytes(dir + '/' + name);
}

struct CardFile {
    QString dosName;
    QByteArray data;
    bool whole = true;   // false: cut short with head -c
};

struct EmptyCard {
    QString dir, image;
    QList<CardFile> files;
};

constexpr qint64 kCluster = 4096;

// The files of a card: photos, a photo cut short, a PDF, a ZIP, a DOC and an
// XLS, WAVs (one with a second of digital silence inside), MP3s with ID3
// version 2.3 and 2.4 tags, an AVI, a WMV and a PSD.
QList<CardFile> cardFiles(const QString &dir)
{
    QList<CardFile> f;
    const QByteArray p1 = cameraJpeg(dir, "p1.jpg", 1), p2 = cameraJpeg(dir, "p2.jpg", 2),
                     p3 = cameraJpeg(dir, "p3.jpg", 3);
    const QByteArray tone = made(dir, "tone.wav", "sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", "@OUT@",
                                                          "synth", "1.5", "sine", "440"});
    // Tone, a second of digital silence, tone: 1.6 MB, longer than a read.
    const QByteArray silence =
        made(dir, "long.wav", "sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", "@OUT@", "synth", "4", "sine", "330"})
                .isEmpty()
            || made(dir, "quiet.wav", "sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", "@OUT@", "trim", "0", "1"})
                   .isEmpty()
            ? QByteArray()
            : made(dir, "silence.wav", "sox", {dir + "/long.wav", dir + "/quiet.wav", dir + "/long.wav", "@OUT@"});
    const QByteArray mp3 = made(dir, "tag23.mp3", "lame", {"--quiet", "--id3v2-only", "--tt", "Tone", "-b", "64",
                                                           dir + "/tone.wav", "@OUT@"});
    writeFileBytes(dir + "/notes.txt", QByteArray("Notes of the shoot.\n").repeated(400));
    writeFileBytes(dir + "/list.csv", QByteArray("frame,exposure\n1,1/250\n2,1/125\n").repeated(300));
    const QByteArray zip = made(dir, "arch.zip", "zip", {"-q", "-j", "@OUT@", dir + "/notes.txt", dir + "/list.csv"});
    const QByteArray psd = made(dir, "pic.psd", imageMagickProgram(), {"-seed", "4", "-size", "120x80",
                                                                     "plasma:fractal", "@OUT@"});
    QByteArray cut;
    if (!p3.isEmpty())
        runTool("head", {"-c", QString::number(p3.size() * 2 / 5), dir + "/p3.jpg"}, &cut);
    for (const QByteArray &b : {p1, p2, p3, cut, tone, silence, mp3, zip, psd})
        if (b.isEmpty())
            return {};
    f << CardFile{"P1.JPG", p1} << CardFile{"CUT.JPG", cut, false} << CardFile{"PAGE.PDF", sample("page.pdf")}
      << CardFile{"ARCH.ZIP", zip} << CardFile{"LETTER.DOC", sample("letter.doc")}
      << CardFile{"SHEET.XLS", sample("sheet.xls")} << CardFile{"TONE.WAV", tone} << CardFile{"SILENCE.WAV", silence}
      << CardFile{"TAG23.MP3", mp3} << CardFile{"TAG24.MP3", sample("tone24.mp3")}
      << CardFile{"CLIP.AVI", sample("clip.avi")} << CardFile{"CLIP.WMV", sample("clip.wmv")}
      << CardFile{"PIC.PSD", psd} << CardFile{"P2.JPG", p2};
    return f;
}

// mkfs.fat, mcopy of each file followed by megabytes of zeros (one stretch
// of 0xFF bytes among them), then mkfs.fat once more: a quick format.
const EmptyCard &emptyCard()
{
    static EmptyCard c = [] {
        EmptyCard k;
        k.dir = makeTempDir("emptycard");
        k.files = cardFiles(k.dir);
        if (k.files.isEmpty())
            return k;
        FatImageSpec spec;
        spec.fatBits = 16;
        spec.sizeKiB = 64 * 1024;
        spec.sectorsPerCluster = 8;
        const QString image = makeFatImage(k.dir, "card.img", spec);
        QList<QPair<QString, QByteArray>> copied;
        for (int i = 0; i < k.files.size(); ++i) {
            copied.append({k.files[i].dosName, k.files[i].data});
            const char fill = i == 6 ? '\xFF' : '\0';
            copied.append({QStringLiteral("GAP%1.BIN").arg(i), QByteArray((2 + i % 3) << 20, fill)});
        }
        if (image.isEmpty() || !mcopyFiles(image, "/", copied)
            || runTool("mkfs.fat", {"--invariant", "-F", "16", "-s", "8", "-i", "DEADBEEF", image}) != 0)
            return k;
        k.image = image;
        return k;
    }();
    return c;
}

#define REQUIRE_EMPTY_CARD()                                                                              \
    if (emptyCard().image.isEmpty())                                                                      \
    GTEST_SKIP() << "mkfs.fat, mtools, cjpeg, exiftool, ImageMagick, sox, lame or zip missing"

struct Scanned {
    ScanResult result;
    FoundFileList found;
    QString cache;
    QList<FoundFileEvent> kept;   // the last event of each file, by counter
};

Scanned scanImage(const ScanSource &source, ScanOptions opt = {}, ScanCallbacks cb = quietCallbacks(),
                  const QString &cache = makeTempDir("cache"), FoundFileList found = {})
{
    Scanned s;
    s.cache = cache;
    s.found = std::move(found);
    opt.cacheFolder = cacheInternal(cache);
    opt.freeMemoryMB = 0;
    auto *kept = &s.kept;
    auto shown = cb.fileKept;
    cb.fileKept = [kept, shown](const FoundFileEvent &e) {
        while (kept->size() <= e.index)
            kept->append(FoundFileEvent{});
        (*kept)[int(e.index)] = e;
        if (shown)
            shown(e);
    };
    SignatureRows table = programTable();
    s.result = ScanEngine(source, table, opt, cb, s.found).run();
    return s;
}

QByteArray foundBytes(const Scanned &s, int i) { return readFileBytes(s.cache + '/' + s.found.FoundFileNames.value(i)); }

} // namespace

TEST(FileEnds, AQuickFormattedCardGivesItsFilesBackWholeAndTheCutOneMarked)
{
    REQUIRE_EMPTY_CARD();
    const Scanned s = scanImage(imageSource(emptyCard().image));
    ASSERT_EQ(s.result.end, ScanEnd::Finished);
    const QList<CardFile> &files = emptyCard().files;
    ASSERT_EQ(s.found.FoundFileNames.size(), files.size()) << s.found.FoundFileNames.join(' ').toStdString();

    qint64 originals = 0, foundTotal = 0;
    for (int i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].dosName.toStdString());
        const QByteArray got = foundBytes(s, i);
        originals += files[i].data.size();
        foundTotal += got.size();
        if (files[i].whole) {
            EXPECT_EQ(got.size(), files[i].data.size());
            EXPECT_TRUE(got == files[i].data);
            EXPECT_FALSE(s.kept.value(i).cutShort);
            EXPECT_FALSE(s.kept.value(i).displayLine.contains('!')) << s.kept.value(i).displayLine.toStdString();
        } else {
            // No longer than its own data rounded up to a sector, and marked.
            EXPECT_TRUE(got.startsWith(files[i].data));
            EXPECT_LE(got.size(), (files[i].data.size() + 511) / 512 * 512);
            EXPECT_TRUE(s.kept.value(i).cutShort);
            EXPECT_TRUE(s.kept.value(i).displayLine.startsWith(QStringLiteral("%1! ").arg(i, 3, 10, QChar('0'))))
                << s.kept.value(i).displayLine.toStdString();
        }
    }
    EXPECT_LE(qAbs(foundTotal - originals), 3 * kCluster) << foundTotal << " found for " << originals;
    EXPECT_EQ(s.result.cutFiles, 1);
    EXPECT_TRUE(s.result.statusText.contains("Cut short (!): 1")) << s.result.statusText.toStdString();
}

// The file open at a stop, at the medium's end and at LMaxMB is marked; the
// resume makes it whole and takes the mark away; whole files never get it.
TEST(FileEnds, FilesCutByAStopTheMediumsEndOrALimitAreMarkedUntilWhole)
{
    REQUIRE_EMPTY_CARD();
    const QList<CardFile> &files = emptyCard().files;
    const Scanned whole = scanImage(imageSource(emptyCard().image));
    ASSERT_EQ(whole.result.end, ScanEnd::Finished);

    // Stopped while the eighth file, the WAV with its second of silence, is written.
    ScanCallbacks cb = quietCallbacks();
    auto open = std::make_shared<int>(0);
    cb.fileKept = [open](const FoundFileEvent &e) { *open = int(e.index) + 1; };
    cb.stopRequested = [open] { return *open == 7; };
    Scanned first = scanImage(imageSource(emptyCard().image), {}, cb);
    ASSERT_EQ(first.result.end, ScanEnd::Stopped);
    ASSERT_TRUE(first.result.resume.fileOpen);
    ASSERT_EQ(first.found.FoundFileNames.size(), 8);
    EXPECT_TRUE(first.kept.value(7).cutShort);
    EXPECT_TRUE(first.kept.value(7).displayLine.startsWith("007! ")) << first.kept.value(7).displayLine.toStdString();
    EXPECT_EQ(first.result.cutFiles, 2);   // and the photo cut short
    for (int i = 0; i < 7; ++i)
        EXPECT_FALSE(first.kept.value(i).displayLine.contains('!') && files[i].whole) << i;

    ScanOptions more;
    more.resume = first.result.resume;
    const Scanned second = scanImage(imageSource(emptyCard().image), more, quietCallbacks(), first.cache, first.found);
    ASSERT_EQ(second.result.end, ScanEnd::Finished);
    EXPECT_FALSE(second.kept.value(7).cutShort);
    EXPECT_EQ(second.kept.value(7).displayLine.left(4), "007 ");
    EXPECT_EQ(folderDigest(first.cache), folderDigest(whole.cache));

    // The medium ends inside the DOC, before its stated size: the DOC is
    // marked, nothing before it but the photo cut short.
    const QByteArray card = readFileBytes(emptyCard().image);
    const qint64 doc = card.indexOf(files[4].data.left(4096));
    ASSERT_GT(doc, 0);
    const QString shortImage = makeTempDir("short") + "/short.img";
    writeFileBytes(shortImage, card.left(doc + 4096));
    ScanSource shortened = imageSource(emptyCard().image);
    shortened.name = plat::toInternal(shortImage);
    const Scanned ended = scanImage(shortened);
    EXPECT_EQ(ended.result.end, ScanEnd::MediumEnded);
    ASSERT_EQ(ended.found.FoundFileNames.size(), 5);
    EXPECT_TRUE(ended.kept.value(4).cutShort);
    EXPECT_TRUE(ended.result.messageText.contains("Found files cut short: 2.")) << ended.result.messageText.toStdString();

    // LMaxMB below the WAVs: both are cut by it and marked; the smaller files not.
    ScanOptions limited;
    limited.LMaxMB = 0.05;
    const Scanned small = scanImage(imageSource(emptyCard().image), limited);
    ASSERT_EQ(small.found.FoundFileNames.size(), files.size());
    for (int i = 0; i < files.size(); ++i)
        EXPECT_EQ(small.kept.value(i).cutShort, files[i].data.size() > 52428 || !files[i].whole)
            << files[i].dosName.toStdString();
}
