#include "tests/scan/picture_cards.h"

#include "tests/support/fixtures.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <map>
#include <vector>

using namespace testing_support;

namespace picture_cards {

namespace {

// A PPM of noise over a gradient: pictures that do not shrink to nothing.
QByteArray noisePpm(int w, int h, quint32 seed)
{
    QByteArray out = QByteArray("P6\n") + QByteArray::number(w) + ' ' + QByteArray::number(h) + "\n255\n";
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            out += char((x * 255) / w);
            out += char(rng.bounded(256));
            out += char((y * 255) / h);
        }
    return out;
}

// Runs a tool that writes @OUT@ and returns that file's bytes.
QByteArray made(const QString &dir, const QString &name, const QString &program, QStringList args)
{
    const QString out = dir + '/' + name;
    args.replaceInStrings(QStringLiteral("@OUT@"), out);
    args.replaceInStrings(QStringLiteral("@DIR@"), dir);
    QByteArray log;
    if (runTool(program, args, &log) != 0) {
        qWarning("%s failed: %s", qPrintable(program), log.constData());
        return {};
    }
    return readFileBytes(out);
}

// --- a small TIFF writer --------------------------------------------------------

struct Field {
    uint16_t tag = 0, type = 0;
    std::vector<uint32_t> values;   // SHORT / LONG values; RATIONAL as pairs
    QByteArray bytes;               // ASCII / UNDEFINED
};

class Writer {
public:
    explicit Writer(bool be) : be_(be) {}
    void u16(QByteArray &b, uint32_t v) const
    {
        b += be_ ? char(v >> 8) : char(v & 255);
        b += be_ ? char(v & 255) : char((v >> 8) & 255);
    }
    void u32(QByteArray &b, uint32_t v) const
    {
        for (int i = 0; i < 4; ++i)
            b += char((v >> (be_ ? 24 - 8 * i : 8 * i)) & 255);
    }
    QByteArray value(const Field &f) const
    {
        if (!f.bytes.isEmpty())
            return f.bytes;
        QByteArray b;
        for (uint32_t v : f.values)
            f.type == 3 ? u16(b, v) : u32(b, v);
        return b;
    }
    uint32_t count(const Field &f) const
    {
        if (!f.bytes.isEmpty())
            return uint32_t(f.bytes.size());
        return uint32_t(f.type == 5 ? f.values.size() / 2 : f.values.size());
    }
    // The IFD at `at`, its longer values right behind it.
    QByteArray ifd(std::vector<Field> fields, uint32_t at, uint32_t next) const
    {
        std::sort(fields.begin(), fields.end(), [](const Field &a, const Field &b) { return a.tag < b.tag; });
        QByteArray head, extra;
        u16(head, uint32_t(fields.size()));
        const uint32_t extraAt = at + 2 + 12 * uint32_t(fields.size()) + 4;
        for (const Field &f : fields) {
            u16(head, f.tag);
            u16(head, f.type);
            u32(head, count(f));
            QByteArray v = value(f);
            if (v.size() <= 4) {
                head += v + QByteArray(4 - v.size(), '\0');
            } else {
                u32(head, extraAt + uint32_t(extra.size()));
                extra += v;
                if (extra.size() % 2)
                    extra += '\0';
            }
        }
        u32(head, next);
        return head + extra;
    }

private:
    bool be_;
};

Field shortField(uint16_t tag, std::vector<uint32_t> v) { return {tag, 3, std::move(v), {}}; }
Field longField(uint16_t tag, std::vector<uint32_t> v) { return {tag, 4, std::move(v), {}}; }
Field text(uint16_t tag, const QByteArray &t) { return {tag, 2, {}, t + '\0'}; }

} // namespace

QString imageMagick()
{
    for (const QString &p : {QStringLiteral("/usr/bin/convert-im6.q16"), QStringLiteral("/usr/bin/convert")})
        if (QFile::exists(p))
            return p;
    return QStringLiteral("convert");
}

QByteArray nonZeroBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(1 + rng.bounded(255));
    return b;
}

QByteArray makeRaw(const QByteArray &preview, bool bigEndian, bool ifdLast, quint32 seed)
{
    const Writer w(bigEndian);
    const int tw = 32, th = 24, rw = 96, rh = 64;
    const QByteArray thumb = nonZeroBytes(tw * th * 3, seed);
    QByteArray raw = nonZeroBytes(rw * rh * 2, seed + 1);
    // The sensor's last rows are black: the raw data ends in zero bytes.
    raw.replace(raw.size() - rw * 2 * 3, rw * 2 * 3, QByteArray(rw * 2 * 3, '\0'));
    const QByteArray makerNote = "Testcam\0" + nonZeroBytes(300, seed + 2);

    // Offsets: first every block's size (the fields' sizes do not depend on
    // the offsets they hold), then the places, then the real bytes.
    struct Layout {
        uint32_t ifd0 = 0, sub0 = 0, sub1 = 0, exif = 0, thumb = 0, preview = 0, raw1 = 0, raw2 = 0;
    };
    const int half = int(raw.size()) / 2;
    auto fields = [&](const Layout &l) {
        std::vector<Field> f0 = {longField(0x00FE, {1}), shortField(0x0100, {tw}), shortField(0x0101, {th}),
                                 shortField(0x0102, {8, 8, 8}), shortField(0x0103, {1}), shortField(0x0106, {2}),
                                 text(0x010F, "TESTCAM"), text(0x0110, "RAW 1"), longField(0x0111, {l.thumb}),
                                 shortField(0x0115, {3}), shortField(0x0116, {th}),
                                 longField(0x0117, {uint32_t(thumb.size())}), text(0x0132, "2021:02:03 04:05:06"),
                                 longField(0x014A, {l.sub0, l.sub1}), longField(0x8769, {l.exif})};
        std::vector<Field> s0 = {longField(0x00FE, {1}), shortField(0x0103, {6}), longField(0x0201, {l.preview}),
                                 longField(0x0202, {uint32_t(preview.size())})};
        std::vector<Field> s1 = {longField(0x00FE, {0}), shortField(0x0100, {rw}), shortField(0x0101, {rh}),
                                 shortField(0x0102, {16}), shortField(0x0103, {1}), shortField(0x0106, {32803}),
                                 longField(0x0111, {l.raw1, l.raw2}), shortField(0x0115, {1}),
                                 shortField(0x0116, {uint32_t(rh / 2)}),
                                 longField(0x0117, {uint32_t(half), uint32_t(raw.size() - half)})};
        std::vector<Field> ex = {{0x829A, 5, {1, 250}, {}}, text(0x9003, "2021:02:03 04:05:06"),
                                 {0x927C, 7, {}, makerNote}};
        return std::vector<std::vector<Field>>{f0, s0, s1, ex};
    };
    const auto sized = fields(Layout{});
    const uint32_t n0 = uint32_t(w.ifd(sized[0], 0, 0).size()), ns0 = uint32_t(w.ifd(sized[1], 0, 0).size()),
                   ns1 = uint32_t(w.ifd(sized[2], 0, 0).size()), nex = uint32_t(w.ifd(sized[3], 0, 0).size());
    Layout l;
    uint32_t at = 8;
    auto place = [&](uint32_t &field, uint32_t size) {
        field = at;
        at += size + (size % 2);
    };
    uint32_t rawAt = 0;
    if (!ifdLast) {
        place(l.ifd0, n0), place(l.sub0, ns0), place(l.sub1, ns1), place(l.exif, nex);
        place(l.thumb, uint32_t(thumb.size())), place(l.preview, uint32_t(preview.size()));
        place(rawAt, uint32_t(raw.size()));
    } else {
        place(l.thumb, uint32_t(thumb.size())), place(l.preview, uint32_t(preview.size()));
        place(rawAt, uint32_t(raw.size()));
        place(l.exif, nex), place(l.sub0, ns0), place(l.sub1, ns1), place(l.ifd0, n0);
    }
    l.raw1 = rawAt;
    l.raw2 = rawAt + uint32_t(half);
    const auto real = fields(l);
    std::map<uint32_t, QByteArray> blocks = {
        {l.ifd0, w.ifd(real[0], l.ifd0, 0)}, {l.sub0, w.ifd(real[1], l.sub0, 0)}, {l.sub1, w.ifd(real[2], l.sub1, 0)},
        {l.exif, w.ifd(real[3], l.exif, 0)}, {l.thumb, thumb},  {l.preview, preview}, {rawAt, raw}};
    QByteArray file = bigEndian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
    w.u32(file, l.ifd0);
    for (const auto &[offset, bytes] : blocks) {
        file += QByteArray(int(offset) - int(file.size()), '\0');
        file += bytes;
    }
    return file;
}

QByteArray makeMultiPicture(const QByteArray &first, const QByteArray &second)
{
    // APP2: "MPF\0", a little-endian TIFF header, one IFD: version,
    // number of pictures, the entries (16 bytes each) behind the IFD.
    auto u16 = [](QByteArray &b, uint32_t v) { b += char(v & 255), b += char(v >> 8); };
    auto u32 = [](QByteArray &b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b += char((v >> (8 * i)) & 255);
    };
    QByteArray tiff("II*\0", 4);
    u32(tiff, 8);
    u16(tiff, 3);
    const uint32_t entriesAt = 8 + 2 + 3 * 12 + 4;
    u16(tiff, 0xB000), u16(tiff, 7), u32(tiff, 4), tiff += "0100";
    u16(tiff, 0xB001), u16(tiff, 4), u32(tiff, 1), u32(tiff, 2);
    u16(tiff, 0xB002), u16(tiff, 7), u32(tiff, 32), u32(tiff, entriesAt);
    u32(tiff, 0);
    const int segmentLength = 2 + 4 + int(tiff.size()) + 32;
    const int firstSize = int(first.size()) + 2 + segmentLength;
    // Behind the first segment (APP0 or the EXIF APP1), as cameras write it.
    const int insertAt = 4 + ((uchar(first[4]) << 8) | uchar(first[5]));
    const int mpHeader = insertAt + 4 + 4;   // marker and length, "MPF\0"
    u32(tiff, 0x20030000), u32(tiff, uint32_t(firstSize)), u32(tiff, 0), u32(tiff, 0);
    u32(tiff, 0x00010002), u32(tiff, uint32_t(second.size())), u32(tiff, uint32_t(firstSize - mpHeader)), u32(tiff, 0);
    QByteArray app2("\xFF\xE2", 2);
    app2 += char(segmentLength >> 8);
    app2 += char(segmentLength & 255);
    app2 += QByteArray("MPF\0", 4) + tiff;
    return first.left(insertAt) + app2 + first.mid(insertAt) + second;
}

QList<Picture> makePictures(const QString &dir)
{
    for (const char *tool : {"cjpeg", "jpegtran", "exiftool"})
        if (!haveTool(tool))
            return {};
    const QString im = imageMagick();
    QList<Picture> out;
    auto add = [&](const QString &name, const QByteArray &data) {
        out.append({name, data});
        return !data.isEmpty();
    };
    writeFileBytes(dir + "/noise.ppm", noisePpm(160, 120, 7));
    writeFileBytes(dir + "/small.ppm", noisePpm(40, 30, 8));
    const QByteArray base = made(dir, "base.jpg", "cjpeg", {"-quality", "85", "-outfile", "@OUT@", "@DIR@/noise.ppm"});
    bool ok = add("BASE.JPG", base);
    ok &= add("PROG.JPG", made(dir, "prog.jpg", "cjpeg", {"-progressive", "-outfile", "@OUT@", "@DIR@/noise.ppm"}));
    ok &= add("RST.JPG", made(dir, "rst.jpg", "cjpeg", {"-restart", "1", "-outfile", "@OUT@", "@DIR@/noise.ppm"}));
    ok &= add("JT.JPG", made(dir, "jt.jpg", "jpegtran",
                             {"-progressive", "-restart", "2", "-optimize", "-outfile", "@OUT@", "@DIR@/base.jpg"}));
    const QByteArray thumb = made(dir, "thumb.jpg", "cjpeg", {"-outfile", "@OUT@", "@DIR@/small.ppm"});
    writeFileBytes(dir + "/exif.jpg", base);
    ok &= !thumb.isEmpty() && runTool("exiftool", {"-q", "-overwrite_original", "-Make=Testcam", "-Model=X100",
                                                   "-DateTimeOriginal=2020:01:02 03:04:05",
                                                   "-ThumbnailImage<=" + dir + "/thumb.jpg", dir + "/exif.jpg"})
                                      == 0;
    ok &= add("EXIF.JPG", readFileBytes(dir + "/exif.jpg"));
    ok &= add("MULTI.JPG", makeMultiPicture(readFileBytes(dir + "/exif.jpg"), thumb));
    ok &= add("PAL.PNG", made(dir, "pal.png", im, {"-size", "90x60", "plasma:fractal", "-colors", "16", "PNG8:@OUT@"}));
    ok &= add("D16.PNG", made(dir, "d16.png", im, {"-size", "90x60", "plasma:fractal", "-depth", "16", "@OUT@"}));
    ok &= add("IL.PNG", made(dir, "il.png", im, {"-size", "90x60", "plasma:fractal", "-interlace", "PNG", "@OUT@"}));
    ok &= add("G87.GIF", made(dir, "g87.gif", im, {"-size", "60x40", "plasma:fractal", "GIF87:@OUT@"}));
    ok &= add("G89.GIF", made(dir, "g89.gif", im, {"-size", "60x40", "plasma:fractal", "@OUT@"}));
    ok &= add("ANIM.GIF", made(dir, "anim.gif", im, {"-delay", "10", "-size", "60x40", "plasma:fractal",
                                                     "plasma:fractal", "plasma:fractal", "@OUT@"}));
    ok &= add("B4.BMP", made(dir, "b4.bmp", im, {"-size", "61x40", "plasma:fractal", "@OUT@"}));
    ok &= add("B3.BMP", made(dir, "b3.bmp", im, {"-size", "61x40", "plasma:fractal", "-colors", "16",
                                                 "BMP3:@OUT@"}));
    ok &= add("P16.PCX", made(dir, "p16.pcx", im, {"-size", "61x40", "plasma:fractal", "-colors", "16", "@OUT@"}));
    ok &= add("P256.PCX", made(dir, "p256.pcx", im, {"-size", "61x40", "plasma:fractal", "-colors", "200", "@OUT@"}));
    if (haveTool("ppmtopcx")) {
        // Four planes of one bit: the 16-colour form of older programs.
        made(dir, "p16.ppm", im, {"-size", "61x40", "plasma:fractal", "-colors", "16", "@OUT@"});
        QByteArray pcx;
        if (runTool("ppmtopcx", {"-quiet", dir + "/p16.ppm"}, &pcx) == 0 && pcx.startsWith('\x0A'))
            add("PLANAR.PCX", pcx);
    }
    ok &= add("LE.TIF", made(dir, "le.tif", im, {"-size", "70x50", "plasma:fractal", "-endian", "LSB", "@OUT@"}));
    ok &= add("BE.TIF", made(dir, "be.tif", im, {"-size", "70x50", "plasma:fractal", "-endian", "MSB", "@OUT@"}));
    ok &= add("TILE.TIF", made(dir, "tile.tif", im, {"-size", "150x100", "plasma:fractal", "-define",
                                                     "tiff:tile-geometry=64x64", "@OUT@"}));
    ok &= add("PAGES.TIF", made(dir, "pages.tif", im, {"-size", "70x50", "plasma:fractal", "plasma:fractal", "@OUT@"}));
    ok &= add("JPEG.TIF", made(dir, "jpeg.tif", im, {"-size", "90x60", "plasma:fractal", "-compress", "jpeg",
                                                     "@OUT@"}));
    ok &= add("RAW1.NEF", makeRaw(base, true, false, 11));
    ok &= add("RAW2.CR2", makeRaw(thumb, false, true, 12));
    if (!ok)
        return {};
    return out;
}

QByteArray testVideo(const QString &dir, const QString &name, const QStringList &codecs, bool sound, int seconds,
                     bool noisy)
{
    const QString source = QStringLiteral("testsrc=duration=%1:size=%2:rate=25")
                               .arg(seconds)
                               .arg(noisy ? QStringLiteral("320x240") : QStringLiteral("64x48"));
    QStringList args{"-loglevel", "error", "-y", "-f", "lavfi", "-i", source};
    if (sound)
        args << "-f" << "lavfi" << "-i" << QStringLiteral("sine=duration=%1").arg(seconds);
    if (noisy)
        args << "-vf" << "noise=alls=80:allf=t+u";
    args << codecs << dir + '/' + name;
    return runTool("ffmpeg", args) == 0 ? readFileBytes(dir + '/' + name) : QByteArray();
}

QString makeRandomCard(const QString &dir, const QString &name, const QList<QPair<QString, QByteArray>> &files,
                       int sectorsPerCluster, int sizeKiB, quint32 seed,
                       const std::function<bool(const QString &image)> &change)
{
    const QString image = dir + '/' + name;
    QByteArray bytes(qsizetype(sizeKiB) * 1024, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    if (!writeFileBytes(image, bytes))
        return {};
    const QStringList format{"--invariant", "-F", "16", "-s", QString::number(sectorsPerCluster), "-i", "DEADBEEF",
                             image};
    if (runTool("mkfs.fat", format) != 0 || !mcopyFiles(image, "/", files) || (change && !change(image)))
        return {};
    // Formatted again in place: new FATs and root, the data stays.
    if (runTool("mkfs.fat", format) != 0)
        return {};
    return image;
}

} // namespace picture_cards
