#include "tests/scan/scan_images.h"

#include "platform/paths.h"
#include "scan/scantable.h"
#include "tests/support/fixtures.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QRandomGenerator>

using namespace testing_support;

namespace scan_images {

namespace {

QImage noise(int w, int h, quint32 seed)
{
    QImage img(w, h, QImage::Format_RGB888);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(int(rng.bounded(256)), (x * 7 + y) & 255, int(rng.bounded(256))));
    return img;
}

QByteArray encode(const QImage &img, const char *format, int quality = 90)
{
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, format, quality);
    return out;
}

// A comment segment after the first segment, so that the file's last
// sector holds `tail` bytes.
QByteArray padJpeg(const QByteArray &jpeg, int tail)
{
    const int first = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    int k = (tail - int(jpeg.size()) - 4) % 512;
    if (k < 0)
        k += 512;
    QByteArray com("\xFF\xFE", 2);
    com += char((k + 2) >> 8);
    com += char((k + 2) & 255);
    com += QByteArray(k, 'c');
    return jpeg.left(first) + com + jpeg.mid(first);
}

QByteArray toolFile(const QString &dir, const QString &name, const QString &program, const QStringList &args)
{
    const QString path = dir + '/' + name;
    QStringList a = args;
    a.replaceInStrings(QStringLiteral("@OUT@"), path);
    if (runTool(program, a) != 0)
        return {};
    return readFileBytes(path);
}

QString imageMagick()
{
    // The real converter, not a stand-in earlier on the PATH.
    for (const QString &p : {QStringLiteral("/usr/bin/convert-im6.q16"), QStringLiteral("/usr/bin/convert")})
        if (QFile::exists(p))
            return p;
    return QStringLiteral("convert");
}

QByteArray tinyPdf()
{
    QByteArray body = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                      "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
                      "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >> endobj\n";
    body += "% padding " + QByteArray(3000, 'p') + "\n";
    body += "trailer << /Root 1 0 R >>\n%%EOF\n";
    return body;
}

} // namespace

QList<CorpusFile> makeCorpus(const QString &dir)
{
    QList<CorpusFile> files;
    const int tails[] = {1, 100, 300, 448, 449, 511};
    for (int i = 0; i < 6; ++i) {
        QByteArray jpeg = encode(noise(120 + 10 * i, 90, 10 + i), "JPEG");
        if (jpeg.isEmpty())
            return {};
        if (i < 2) {
            const QString path = dir + QStringLiteral("/exif%1.jpg").arg(i);
            writeFileBytes(path, jpeg);
            if (runTool(QStringLiteral("exiftool"),
                        {"-q", "-overwrite_original", "-Make=Testcam", "-Model=X100 DIGITAL",
                         "-DateTimeOriginal=2020:01:02 03:04:05", path})
                != 0)
                return {};
            jpeg = readFileBytes(path);
        }
        jpeg = padJpeg(jpeg, tails[i]);
        files.append({QStringLiteral("P%1.JPG").arg(i), ".jpg", jpeg, Expect::Identical});
    }
    files.append({"PIC.PNG", ".png", encode(noise(64, 48, 3), "PNG"), Expect::Identical});
    const QByteArray gif = toolFile(dir, "a.gif", imageMagick(), {"-size", "60x40", "plasma:fractal", "@OUT@"});
    const QByteArray tif = toolFile(dir, "a.tif", imageMagick(),
                                    {"-size", "50x30", "plasma:fractal", "-compress", "none", "@OUT@"});
    if (gif.isEmpty() || tif.isEmpty())
        return {};
    files.append({"PIC.GIF", ".gif", gif, Expect::Identical});
    // TIFF ends in its last IFD's zero offset: zero bytes of its own.
    files.append({"PIC.TIF", ".tif", tif, Expect::ZeroTail});
    // Black bottom rows: the header's size keeps them.
    QImage bmp = noise(50, 40, 4);
    for (int x = 0; x < 50; ++x)
        bmp.setPixel(x, 0, qRgb(0, 0, 0));
    files.append({"PIC.BMP", ".bmp", encode(bmp, "BMP"), Expect::Identical});
    files.append({"DOC.PDF", ".pdf", tinyPdf(), Expect::Identical});
    writeFileBytes(dir + "/inner.bin", patternBytes(30000, 77));
    QByteArray zip;
    {
        const QString out = dir + "/a.zip";
        if (runTool("zip", {"-q", "-j", "-0", out, dir + "/inner.bin"}) != 0)
            return {};
        zip = readFileBytes(out);
    }
    files.append({"ARCH.ZIP", ".zip", zip, Expect::Identical});
    const QByteArray wav =
        toolFile(dir, "a.wav", "sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", "@OUT@", "synth", "0.7", "sine", "440"});
    if (wav.isEmpty())
        return {};
    files.append({"TONE.WAV", ".wav", wav, Expect::Identical});
    if (haveTool("lame")) {
        const QByteArray mp3 = toolFile(dir, "a.mp3", "lame",
                                        {"--quiet", "--id3v2-only", "--tt", "Tone", "-b", "64", dir + "/a.wav", "@OUT@"});
        if (!mp3.isEmpty())
            files.append({"TONE.MP3", ".mp3", mp3, Expect::Identical});
    }
    // A picture last, the empty rest of the medium behind it.
    files.append({"LAST.PNG", ".png", encode(noise(40, 40, 9), "PNG"), Expect::Identical});
    return files;
}

QString makeReformattedImage(const QString &dir, const QString &name, const QList<CorpusFile> &files,
                             int sectorsPerCluster, int sizeKiB)
{
    FatImageSpec spec;
    spec.fatBits = 32;
    spec.sizeKiB = sizeKiB;
    spec.sectorsPerCluster = sectorsPerCluster;
    const QString image = makeFatImage(dir, name, spec);
    if (image.isEmpty())
        return {};
    for (const CorpusFile &f : files)
        if (!mcopyData(image, "/" + f.dosName, f.data))
            return {};
    // Formatted again in place: new FATs and root, the data stays.
    if (runTool("mkfs.fat", {"--invariant", "-F", "32", "-s", QString::number(sectorsPerCluster), "-i", "DEADBEEF",
                             image})
        != 0)
        return {};
    return image;
}

SignatureRows programTable(const QStringList &types)
{
    QByteArray filter;
    SignatureRows table;
    BuildScanFilter(BuiltInTypeRows(types), filter, table);
    return table;
}

ScanSource imageSource(const QString &imageNative)
{
    ScanSource s;
    s.name = plat::toInternal(imageNative);
    s.image = true;
    s.driveType = QStringLiteral("File");
    s.geometry = GeometryOfImageFile(imageNative);
    return s;
}

void pressAtFirstFoundFile(ScanCallbacks &cb, bool &pressed, std::function<void()> press)
{
    auto kept = cb.fileKept;
    cb.fileKept = [kept, &pressed, press](const FoundFileEvent &e) {
        kept(e);
        if (!pressed) {
            pressed = true;
            press();
        }
    };
}

ScanCallbacks quietCallbacks()
{
    ScanCallbacks cb;
    cb.yield = [] {};
    auto t = std::make_shared<int64_t>(0);
    cb.clockMs = [t] { return *t += 1000; };
    cb.freeSpaceMB = [](const QString &) { return int64_t(1000000); };
    cb.setLastCluster = [](const QString &) {};
    cb.storeBudget = [](int64_t) {};
    return cb;
}

FoundFiles scanForFiles(const QString &imageNative) { return scanToTheEnd(imageNative, {}); }

FoundFiles scanToTheEnd(const QString &imageNative, const std::function<void(int, ScanCallbacks &)> &adjust,
                        const QString &cacheNative)
{
    FoundFiles f;
    f.cache = cacheNative.isEmpty() ? makeTempDir("cache") : cacheNative;
    ScanOptions opt;
    opt.cacheFolder = cacheInternal(f.cache);
    opt.freeMemoryMB = 0;
    FoundFileList list;
    const SignatureRows table = programTable();
    QMap<QString, bool> marks;
    for (f.rounds = 1;; ++f.rounds) {
        ScanCallbacks cb = quietCallbacks();
        cb.fileKept = [&](const FoundFileEvent &e) { marks[e.name] = e.cutShort || e.damaged; };
        if (adjust)
            adjust(f.rounds - 1, cb);
        f.result = ScanEngine(imageSource(imageNative), table, opt, cb, list).run();
        if (f.result.resume.offset < 0 || f.rounds > 1000)
            break;
        opt.resume = f.result.resume;
    }
    f.names = list.FoundFileNames;
    for (const QString &name : list.FoundFileNames) {
        f.files << readFileBytes(f.cache + '/' + name);
        if (marks.value(name))
            f.marked << name;
    }
    return f;
}

QStringList compareFound(const QString &cacheNative, const FoundFileList &found, const QList<CorpusFile> &files,
                         const QList<int> &skip, const QList<int> &damaged)
{
    QStringList problems;
    int f = 0;
    for (int i = 0; i < files.size(); ++i) {
        if (skip.contains(i))
            continue;
        if (f >= found.FoundFileNames.size()) {
            problems << QStringLiteral("%1 not found").arg(files[i].dosName);
            continue;
        }
        const QString name = found.FoundFileNames[f++];
        const QByteArray got = readFileBytes(cacheNative + '/' + name);
        const CorpusFile &c = files[i];
        // Named after a deleted entry the extension keeps the entry's case.
        if (!name.endsWith(c.ext, Qt::CaseInsensitive)) {
            problems << QStringLiteral("%1 found as %2").arg(c.dosName, name);
            continue;
        }
        if (damaged.contains(i))
            continue;
        if (c.expect == Expect::Identical) {
            if (got != c.data)
                problems << QStringLiteral("%1 (%2): %3 bytes, expected %4 identical")
                                .arg(c.dosName, name)
                                .arg(got.size())
                                .arg(c.data.size());
        } else {
            const qsizetype common = qMin(got.size(), c.data.size());
            const bool prefix = got.left(common) == c.data.left(common);
            const QByteArray rest = got.size() > c.data.size() ? got.mid(c.data.size()) : c.data.mid(got.size());
            if (!prefix || rest.count('\0') != rest.size())
                problems << QStringLiteral("%1 (%2): %3 bytes, not the original with zero bytes")
                                .arg(c.dosName, name)
                                .arg(got.size());
        }
    }
    if (f != found.FoundFileNames.size())
        problems << QStringLiteral("%1 files more than expected").arg(found.FoundFileNames.size() - f);
    return problems;
}

QList<QPair<QString, QByteArray>> folderDigest(const QString &folderNative)
{
    QList<QPair<QString, QByteArray>> out;
    for (const QString &n : QDir(folderNative).entryList(QDir::Files, QDir::Name))
        out.append({n, QCryptographicHash::hash(readFileBytes(folderNative + '/' + n), QCryptographicHash::Sha256)});
    return out;
}

QString cacheInternal(const QString &cacheNative)
{
    QString s = plat::toInternal(cacheNative);
    if (!s.endsWith('\\'))
        s += '\\';
    return s;
}

} // namespace scan_images
