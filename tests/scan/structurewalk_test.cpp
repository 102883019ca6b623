// The structure walks beside the pictures, on files of the real tools (sox,
// lame, zip, ImageMagick, and the committed LibreOffice, ghostscript and
// ffmpeg samples) and on headers built by their specifications (CAB, SWF,
// EPS, RAR 4 and 5): where a file ends, fed whole or in pieces; a file cut
// short; a header that does not add up; empty space after a file's data;
// MP3 found with ID3 tags of versions 2.2, 2.3 and 2.4.
#include "scan/foundfiles.h"
#include "scan/prefixindex.h"
#include "scan/signatures.h"
#include "tests/scan/picture_cards.h"
#include "tests/scan/todays_files.h"
#include "tests/support/fixtures.h"

#include <QtEndian>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct Sample {
    QString name;   // with the extension the scan gives it
    QByteArray data;
};

const unsigned char *bytes(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }

StructureFormat formatOf(const Sample &s)
{
    return FoundFileFormat(s.name, bytes(s.data), size_t(std::min<qsizetype>(s.data.size(), 1024)));
}

// The walk of a found file as the scan feeds it: in pieces (the seed
// chooses their sizes; 0: whole), with the limits of its type, reading back
// what was fed.
FileEnd walk(const Sample &s, const QByteArray &data, quint32 seed = 0)
{
    const StructureFormat f = formatOf(s);
    StructureWalker w(f, FoundFileEmptyLimits(s.name, f), [&data](int64_t at, unsigned char *into, size_t n) {
        const size_t k = at < data.size() ? std::min<size_t>(n, size_t(data.size() - at)) : 0;
        std::memcpy(into, data.constData() + at, k);
        return k;
    });
    qsizetype at = 0;
    quint32 x = seed | 1;
    while (at < data.size() && w.wantsMore()) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const qsizetype k = seed ? std::min<qsizetype>(data.size() - at, 1 + x % 5000) : data.size();
        w.feed(bytes(data) + at, size_t(k));
        at += k;
    }
    return w.result();
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// Headers built by their specifications, around bytes of no meaning.
QList<Sample> builtSamples()
{
    QList<Sample> s;
    const QByteArray body = picture_cards::nonZeroBytes(30000, 9);
    // CAB: "MSCF", the cabinet's size, the files' offset, version 1.3, one folder, one file.
    const QByteArray cab = "MSCF" + le32(0) + le32(20036) + le32(0) + le32(44) + le32(0)
                           + QByteArray("\x03\x01\x01\x00\x01\x00", 6) + QByteArray(6, '\0');
    s << Sample{"b.cab", cab + body.left(20036 - cab.size())};
    // SWF: its length, its last tag the end tag.
    s << Sample{"b.swf", "FWS\x0A" + le32(12000) + body.left(12000 - 10) + QByteArray(2, '\0')};
    // DOS EPS: PostScript, then a TIFF preview.
    const QByteArray eps = QByteArray("\xC5\xD0\xD3\xC6", 4) + le32(30) + le32(9000) + le32(0) + le32(0) + le32(9030)
                           + le32(6000) + QByteArray("\xFF\xFF", 2);
    s << Sample{"b.eps", eps + body.left(15000)};
    s << Sample{"b4.zip", todays_files::rar4Archive("DCIM/IMG_0001.JPG", body)}
      << Sample{"b5.rar", todays_files::rar5Archive("DCIM/IMG_0002.JPG", body.left(20000))}
      << Sample{"difat.doc", todays_files::compoundFileWithDifatBehind()};
    return s;
}

// sox, lame, zip and ImageMagick at test time; LibreOffice, ghostscript and
// ffmpeg through the committed samples.
QList<Sample> toolSamples(const QString &dir)
{
    const QString samples = QStringLiteral(QUILVANE_SCAN_SAMPLES);
    QList<Sample> s;
    for (const char *n : {"letter.doc", "sheet.xls", "page.pdf", "tone24.mp3", "clip.avi", "clip.wmv"}) {
        QString name = QString::fromLatin1(n);
        const QByteArray data = readFileBytes(samples + '/' + name);
        if (name.endsWith(".xls"))
            name = "sheet.doc";   // the scan finds it by the DOC row
        if (name.endsWith(".wmv"))
            name = "clip.asf";
        s << Sample{name, data};
    }
    if (runTool("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", dir + "/t.wav", "synth", "1", "sine", "440"}) != 0
        || runTool("lame", {"--quiet", "--id3v2-only", "--tt", "Tone", "-b", "64", dir + "/t.wav", dir + "/t.mp3"}) != 0
        || runTool("lame", {"--quiet", "--id3v1-only", "--tt", "Tone", "-b", "64", dir + "/t.wav", dir + "/v1.mp3"}) != 0
        || runTool("zip", {"-q", "-j", dir + "/t.zip", dir + "/t.wav"}) != 0
        || runTool(imageMagickProgram(), {"-size", "50x40", "plasma:fractal", dir + "/t.psd"}) != 0)
        return {};
    for (const char *n : {"t.wav", "t.mp3", "v1.mp3", "t.zip", "t.psd"})
        s << Sample{QString::fromLatin1(n), readFileBytes(dir + '/' + QString::fromLatin1(n))};
    // An ID3 tag of version 2.2 (three-letter frames, 32 bytes) in front of
    // lame's frames and ID3v1 tag.
    const QByteArray v22 = QByteArray("ID3\x02\x00\x00\x00\x00\x00\x20", 10) + "TT2"
                           + QByteArray("\x00\x00\x05\x00", 4) + "Tone" + QByteArray(21, '\0');
    const QByteArray v1 = readFileBytes(dir + "/v1.mp3");
    s << Sample{"v22.mp3", v22 + v1};
    // An APE tag (header, one item, footer) between the frames and the ID3v1 tag.
    const QByteArray item = le32(4) + le32(0) + "Gain" + QByteArray(1, '\0') + "-3dB";
    auto apeHeader = [&](quint32 flags) {
        return "APETAGEX" + le32(2000) + le32(quint32(item.size() + 32)) + le32(1) + le32(flags) + QByteArray(8, '\0');
    };
    s << Sample{"ape.mp3", v1.left(v1.size() - 128) + apeHeader(0xA0000000u) + item + apeHeader(0x80000000u)
                               + v1.right(128)};
    // Compound files of over 8 MB, their DIFAT behind their allocation sectors.
    for (const char *n : {"report9.doc", "table9.xls", "slides9.ppt"}) {
        const QByteArray data = todays_files::unpackedSample(dir, QString::fromLatin1(n) + ".xz");
        if (data.isEmpty())
            return {};
        s << Sample{QString::fromLatin1(n).section('.', 0, 0) + ".doc", data};
    }
    return s;
}

} // namespace

TEST(StructureWalks, FilesOfTheToolsEndWhereTheirStructureEnds)
{
    const QList<Sample> tools = toolSamples(makeTempDir("walks"));
    if (tools.isEmpty())
        GTEST_SKIP() << "sox, lame, zip or ImageMagick missing";
    for (const Sample &s : tools + builtSamples()) {
        SCOPED_TRACE(s.name.toStdString());
        ASSERT_GT(s.data.size(), 1000);
        ASSERT_NE(formatOf(s), StructureFormat::None);
        // Followed by bytes of no meaning: the structure's end, whole or in pieces.
        const QByteArray behind = s.data + picture_cards::nonZeroBytes(70000, 3);
        for (quint32 seed : {0u, 7u, 12345u}) {
            const FileEnd e = walk(s, behind, seed);
            EXPECT_EQ(e.extent.walk, PictureExtent::Walk::Complete) << seed;
            EXPECT_EQ(e.extent.end, s.data.size()) << seed;
            EXPECT_FALSE(e.cutShort());
        }
        // Ending inside the structure: cut short, every byte kept.
        const QByteArray cut = s.data.left(s.data.size() * 2 / 3);
        const FileEnd c = walk(s, cut, 3);
        EXPECT_TRUE(c.cutShort());
        EXPECT_EQ(c.extent.end, cut.size());
        EXPECT_EQ(c.emptyFrom, -1);
    }
    // A length the file's last bytes do not confirm is not believed.
    Sample swf = builtSamples()[1];
    swf.data[swf.data.size() - 1] = 'x';
    EXPECT_EQ(walk(swf, swf.data).extent.walk, PictureExtent::Walk::None);

    // A RAR header that does not add up fails the walk: the file ends as one
    // without a walk, at empty space, never inside the blocks that held.
    Sample rar = builtSamples()[4];
    rar.data[rar.data.size() - 2] ^= 1;   // the end-of-archive block's flags
    for (const char fill : {'\0', 'R'}) {
        const FileEnd e = walk(rar, rar.data + QByteArray(2 << 20, fill), 5);
        EXPECT_EQ(e.extent.walk, PictureExtent::Walk::Incomplete);
        EXPECT_EQ(e.extent.end, rar.data.size() - 8);
        EXPECT_EQ(e.emptyFrom, fill ? -1 : (rar.data.size() + 511) / 512 * 512);
    }
    // The DIFAT of a large compound file lies behind the allocation sectors
    // it lists: without reading them back the walk cannot follow it.
    const Sample &big = tools[tools.size() - 3];
    StructureWalker blind(StructureFormat::Ole, {});
    blind.feed(bytes(big.data), size_t(big.data.size()));
    EXPECT_EQ(blind.result().extent.walk, PictureExtent::Walk::None);
}

// Empty space after a file's data: a picture or an MP3 whose structure
// meets it is cut short at the first empty sector; a file without a walk
// ends where a long run of empty sectors begins; a PDF without its end
// ends there too; silence inside a WAV and sectors that could not be read
// (zero-filled) are data.
TEST(StructureWalks, EmptySpaceEndsAFileOrCutsItShort)
{
    const QString dir = makeTempDir("empty");
    const QList<Sample> tools = toolSamples(dir);
    const QList<picture_cards::Picture> pictures = picture_cards::makePictures(dir);
    if (tools.isEmpty() || pictures.isEmpty())
        GTEST_SKIP() << "a tool is missing";
    const qint64 MiB = 1 << 20;
    auto roundUp = [](qint64 v) { return (v + 511) / 512 * 512; };

    const Sample jpeg{"p.jpg", pictures.first().data};
    const Sample mp3 = tools[7];   // lame, ID3v2.3
    for (const Sample &s : {jpeg, mp3}) {
        for (const char fill : {'\0', '\xFF'}) {
            SCOPED_TRACE(s.name.toStdString() + (fill ? " FF" : " 00"));
            const QByteArray cut = s.data.left(s.data.size() / 2 + 77);
            const FileEnd e = walk(s, cut + QByteArray(3 * MiB, fill), 5);
            EXPECT_TRUE(e.structureCut);
            EXPECT_EQ(e.emptyFrom, roundUp(cut.size()));
            EXPECT_TRUE(e.cutShort());
        }
    }
    // The same JPEG whose zeros could not be read: they are its data.
    {
        const qint64 at = roundUp(jpeg.data.size() / 2);
        const QByteArray holed = jpeg.data.left(at) + QByteArray(1024, '\0') + jpeg.data.mid(at + 1024);
        const FileEnd plain = walk(jpeg, holed);
        EXPECT_TRUE(plain.structureCut);
        StructureWalker w(StructureFormat::Jpeg, FoundFileEmptyLimits("p.jpg", StructureFormat::Jpeg));
        w.feed(bytes(holed), size_t(at));
        w.feed(bytes(holed) + at, 1024, true);
        w.feed(bytes(holed) + at + 1024, size_t(holed.size() - at - 1024));
        EXPECT_FALSE(w.result().structureCut);
        EXPECT_GE(w.result().extent.end, at + 1024);
    }
    // Without a walk: a megabyte of empty sectors after the data ends the
    // file where they begin; half a megabyte does not.
    const Sample none{"x.mov", picture_cards::nonZeroBytes(5000, 1)};
    const QByteArray more = picture_cards::nonZeroBytes(3000, 2);
    FileEnd e = walk(none, none.data + QByteArray(MiB / 2, '\0') + more + QByteArray(MiB + 4096, '\0') + more, 9);
    EXPECT_EQ(e.extent.walk, PictureExtent::Walk::None);
    EXPECT_EQ(e.emptyFrom, roundUp(5000 + MiB / 2 + 3000));
    EXPECT_FALSE(e.cutShort());
    // A PDF cut short: a megabyte of empty sectors ends it, cut short.
    const Sample pdf = tools[2];
    e = walk(pdf, pdf.data.left(1500) + QByteArray(MiB + 512, '\0'), 4);
    EXPECT_EQ(e.emptyFrom, 1536);
    EXPECT_TRUE(e.cutShort());
    // A WAV holding two megabytes of silence is whole.
    const QByteArray wav = tools[6].data;
    const quint32 data = qFromLittleEndian<quint32>(wav.constData() + 40);
    QByteArray silent = wav.left(44) + QByteArray(2 * MiB, '\0') + wav.mid(44);
    qToLittleEndian<quint32>(quint32(silent.size() - 8), silent.data() + 4);
    qToLittleEndian<quint32>(data + 2 * MiB, silent.data() + 40);
    e = walk(Sample{"s.wav", silent}, silent + QByteArray(MiB, '\0'), 11);
    EXPECT_EQ(e.extent.walk, PictureExtent::Walk::Complete);
    EXPECT_EQ(e.extent.end, silent.size());
}

TEST(SignatureTable, MP3TagsOfVersions22To24AreFoundByOneRow)
{
    SignatureRows table;
    BuildSignatureTable("all", table);
    const SignaturePrefixIndex index(table);
    for (const char version : {'\x02', '\x03', '\x04'}) {
        QByteArray head = QByteArray("ID3") + version + QByteArray(508, '\0');
        const int row = index.match(bytes(head), 512, bytes(head), 512);
        ASSERT_GE(row, 0) << int(version);
        EXPECT_EQ(table[size_t(row)].Ext, QByteArray(".mp3"));
        EXPECT_EQ(table[size_t(row)].Desc, QByteArray("MP3  File "));
    }
}
