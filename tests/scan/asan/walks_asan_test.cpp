// The structure walks under AddressSanitizer and UBSan: every picture made
// by the tools, then thousands of damaged copies of it (bytes changed,
// stretches cut out, repeated or filled in, lengths and offsets bent), each
// walked whole and in pieces; the same for sound, documents, archives,
// video, movies and program streams as found files of every format. A fixed
// number of copies: the run is bounded.
#include "tests/scan/fuzz/walk_checks.h"
#include "tests/scan/picture_cards.h"
#include "tests/scan/todays_files.h"
#include "tests/support/fixtures.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray damaged(const QByteArray &picture, QRandomGenerator &rng)
{
    QByteArray b = picture;
    const int changes = 1 + int(rng.bounded(6));
    for (int c = 0; c < changes && !b.isEmpty(); ++c) {
        const qsizetype at = qsizetype(rng.bounded(quint32(b.size())));
        switch (rng.bounded(7)) {
        case 0:   // a byte changed
            b[at] = char(rng.bounded(256));
            break;
        case 1:   // a length or offset bent: 0, 1, FF.., a few bits
            b[at] = char(QList<int>{0x00, 0x01, 0x7F, 0x80, 0xFF}[rng.bounded(5)]);
            break;
        case 2:   // cut short
            b.truncate(at);
            break;
        case 3:   // a stretch cut out
            b.remove(at, qsizetype(rng.bounded(quint32(std::min<qsizetype>(4096, b.size() - at)) + 1)));
            break;
        case 4:   // a stretch repeated
            b.insert(at, b.mid(at, qsizetype(rng.bounded(600))));
            break;
        case 5:   // zeros written over
            b.replace(at, std::min<qsizetype>(b.size() - at, 64), QByteArray(64, '\0'));
            break;
        default:   // another picture's bytes inserted
            b.insert(at, picture.left(qsizetype(rng.bounded(300))));
            break;
        }
    }
    return b;
}

} // namespace

TEST(WalksUnderSanitizers, DamagedCopiesOfToolMadePictures)
{
    const QList<picture_cards::Picture> pictures = picture_cards::makePictures(testing_support::makeTempDir("asan"));
    if (pictures.isEmpty())
        GTEST_SKIP() << "a picture tool is missing";
    QRandomGenerator rng(2024);
    int walked = 0;
    for (const picture_cards::Picture &p : pictures) {
        for (int i = 0; i < 1500; ++i) {
            const QByteArray b = i == 0 ? p.data : damaged(p.data, rng);
            walk_checks::checkWalks(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()), rng.generate());
            ++walked;
        }
    }
    EXPECT_GT(walked, 20000);
}

TEST(WalksUnderSanitizers, DamagedCopiesOfToolMadeFilesOfEveryFormat)
{
    const QString dir = testing_support::makeTempDir("asanfiles");
    QList<QByteArray> files;
    QByteArray streamed;
    for (const char *n : {"letter.doc", "sheet.xls", "page.pdf", "tone24.mp3", "clip.avi", "clip.wmv"})
        files << testing_support::readFileBytes(QStringLiteral(QUILVANE_SCAN_SAMPLES "/") + QString::fromLatin1(n));
    // A VBR MP3 with an ID3v2 tag, stored ZIP entries, in a file and written
    // to a pipe: what the walks place.
    if (testing_support::runTool("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", dir + "/t.wav", "synth", "0.3",
                                         "sine", "440"}) == 0
        && testing_support::runTool("lame", {"--quiet", "-b", "64", dir + "/t.wav", dir + "/t.mp3"}) == 0
        && testing_support::runTool("lame", {"--quiet", "-V", "4", "--add-id3v2", "--tt", "Tone", dir + "/t.wav",
                                             dir + "/v.mp3"}) == 0
        && testing_support::runTool("zip", {"-q", "-j", dir + "/t.zip", dir + "/t.wav"}) == 0
        && testing_support::runTool("zip", {"-q", "-0", "-j", dir + "/s.zip", dir + "/t.wav", dir + "/t.mp3"}) == 0
        && testing_support::runTool("zip", {"-q", "-0", "-", dir + "/t.wav"}, &streamed) == 0)
        for (const char *n : {"t.wav", "t.mp3", "v.mp3", "t.zip", "s.zip"})
            files << testing_support::readFileBytes(dir + '/' + QString::fromLatin1(n));
    files << streamed;
    // Python's zipfile on a pipe: every entry's sizes in its data descriptor.
    QByteArray piped;
    const char *script = "import sys, zipfile\n"
                         "with zipfile.ZipFile(sys.stdout.buffer, 'w') as z:\n"
                         "    z.writestr('a.txt', b'card ' * 900)\n"
                         "    z.writestr('b.bin', bytes(range(256)) * 20, zipfile.ZIP_STORED)\n";
    if (testing_support::runTool("python3", {"-c", script}, &piped) == 0)
        files << piped;
    // Movies and program streams of ffmpeg, a third of a second each.
    for (const char *n : {"t.mov", "t.mp4", "t.mpg", "t.vob"})
        if (testing_support::runTool("ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i",
                                                "testsrc=duration=0.3:size=32x32:rate=25", dir + '/' + n}) == 0)
            files << testing_support::readFileBytes(dir + '/' + QString::fromLatin1(n));
    const QByteArray stored = picture_cards::nonZeroBytes(3000, 4);
    files << todays_files::rar4Archive("a.txt", stored) << todays_files::rar5Archive("b.txt", stored)
          << todays_files::compoundFileWithDifatBehind();
    QRandomGenerator rng(2025);
    int walked = 0;
    for (const QByteArray &f : files) {
        ASSERT_FALSE(f.isEmpty());
        for (int i = 0; i < 400; ++i) {
            const QByteArray b = i == 0 ? f : damaged(f, rng);
            walk_checks::checkStructures(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()),
                                         rng.generate());
            ++walked;
        }
    }
    EXPECT_GE(walked, 400 * 17);
}
