// The files today's tools write, each after random bytes on a quick-formatted
// card whose every byte was random before: JPEGs that begin with their
// tables, a comment, Adobe's or IPTC's segment or XMP (ImageMagick, exiftool,
// ffmpeg), LibreOffice's DOC, XLS and PPT of about 2.5 and over 8 MB, RAR 4
// and RAR 5 archives, ImageMagick's BMP with a version 5 header, LibreOffice's
// big-endian TIFF and a DNG. Each comes back byte for byte under its type's
// extension, and the rows that take them start no file inside another file's
// data where the other rows do not.
#include "scan/prefixindex.h"
#include "scan/signatures.h"
#include "tests/scan/picture_cards.h"
#include "tests/scan/scan_images.h"
#include "tests/scan/todays_files.h"
#include "tests/support/fixtures.h"

#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace scan_images;

namespace {

struct TodaysFile {
    QString dosName;
    QString ext;   // the extension the scan gives it
    QByteArray data;
};

// A copy of `from` changed by exiftool; empty on failure.
QByteArray exiftoolCopy(const QString &dir, const QString &from, const QString &name, const QStringList &tags)
{
    const QString path = dir + '/' + name;
    QFile::remove(path);
    if (!QFile::copy(dir + '/' + from, path)
        || runTool("exiftool", QStringList{"-q", "-overwrite_original"} + tags + QStringList{path}) != 0)
        return {};
    return readFileBytes(path);
}

// The file each archive stores.
QByteArray storedFile(const QString &ext) { return picture_cards::nonZeroBytes(ext == ".rar" ? 90000 : 150000, 8); }

QList<TodaysFile> todaysFiles(const QString &dir)
{
    const QString samples = QStringLiteral(QUILVANE_SCAN_SAMPLES);
    const QString im = imageMagickProgram();
    if (runTool(im, {"-seed", "3", "-size", "640x480", "plasma:fractal", "-quality", "90", dir + "/photo.jpg"}) != 0
        || runTool(im, {"-seed", "4", "-size", "400x300", "plasma:fractal", "-colorspace", "CMYK", dir + "/cmyk.jpg"})
               != 0
        || runTool(im, {"-seed", "5", "-size", "71x45", "plasma:fractal", dir + "/v5.bmp"}) != 0
        || !QFile::copy(samples + "/page.tif", dir + "/page.tif"))
        return {};
    QList<TodaysFile> f;
    // A photo without its metadata, then with a comment, IPTC or XMP only.
    f << TodaysFile{"BARE.JPG", ".jpg", exiftoolCopy(dir, "photo.jpg", "bare.jpg", {"-all="})};
    f << TodaysFile{"NOTE.JPG", ".jpg", exiftoolCopy(dir, "bare.jpg", "note.jpg", {"-Comment=From the card"})}
      << TodaysFile{"IPTC.JPG", ".jpg", exiftoolCopy(dir, "bare.jpg", "iptc.jpg", {"-IPTC:Keywords=harbour"})}
      << TodaysFile{"XMP.JPG", ".jpg",
                    exiftoolCopy(dir, "bare.jpg", "xmp.jpg", {"-XMP-dc:Title=Harbour", "-XMPToolkit="})}
      << TodaysFile{"CMYK.JPG", ".jpg", readFileBytes(dir + "/cmyk.jpg")}
      << TodaysFile{"GRAB.JPG", ".jpg", readFileBytes(samples + "/grab.jpg")};
    for (const char *n : {"report3.doc", "report9.doc", "table3.xls", "table9.xls", "slides3.ppt", "slides9.ppt"})
        f << TodaysFile{QString::fromLatin1(n).toUpper(), ".doc",
                        todays_files::unpackedSample(dir, QString::fromLatin1(n) + ".xz")};
    // Its DIFAT sector right behind the sector it lists: read back from the scan's buffer.
    f << TodaysFile{"DIFAT.DOC", ".doc", todays_files::compoundFileWithDifatBehind()};
    // The plain RAR 4 main header is the ZIP row's signature.
    f << TodaysFile{"OLD.RAR", ".zip", todays_files::rar4Archive("notes/day1.txt", storedFile(".zip"))}
      << TodaysFile{"NEW.RAR", ".rar", todays_files::rar5Archive("notes/day2.txt", storedFile(".rar"))}
      << TodaysFile{"V5.BMP", ".bmp", readFileBytes(dir + "/v5.bmp")}
      << TodaysFile{"PAGE.TIF", ".tif", readFileBytes(dir + "/page.tif")}
      << TodaysFile{"CAM.DNG", ".dng",
                    exiftoolCopy(dir, "page.tif", "cam.dng", {"-DNGVersion=1.4.0.0", "-UniqueCameraModel=Card Cam"})};
    for (const TodaysFile &t : f)
        if (t.data.isEmpty())
            return {};
    return f;
}

const unsigned char *bytes(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }

} // namespace

TEST(TodaysFiles, ComeBackWholeFromACardOfRandomBytes)
{
    const QString dir = makeTempDir("todays");
    const QList<TodaysFile> files = todaysFiles(dir);
    if (files.isEmpty())
        GTEST_SKIP() << "ImageMagick, exiftool or xz missing";

    // The archives as an independent reader sees them.
    if (haveTool("bsdtar")) {
        for (const TodaysFile &t : files) {
            if (!t.dosName.endsWith(".RAR"))
                continue;
            writeFileBytes(dir + '/' + t.dosName, t.data);
            QByteArray out;
            EXPECT_EQ(runTool("bsdtar", {"-xOf", dir + '/' + t.dosName}, &out), 0) << out.left(200).constData();
            EXPECT_TRUE(out == storedFile(t.ext)) << t.dosName.toStdString();
        }
    }

    QList<QPair<QString, QByteArray>> copied;
    for (int i = 0; i < files.size(); ++i)
        copied << QPair<QString, QByteArray>{QStringLiteral("FILL%1.BIN").arg(i),
                                             picture_cards::nonZeroBytes(20000 + 3000 * i, 100 + quint32(i))}
               << QPair<QString, QByteArray>{files[i].dosName, files[i].data};
    const QString card = picture_cards::makeRandomCard(dir, "card.img", copied, 8, 48 * 1024, 37);
    ASSERT_FALSE(card.isEmpty());

    const FoundFiles found = scanForFiles(card);
    ASSERT_EQ(found.result.end, ScanEnd::Finished);
    ASSERT_EQ(found.names.size(), files.size()) << found.names.join(' ').toStdString();
    for (int i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].dosName.toStdString());
        EXPECT_TRUE(found.names[i].endsWith(files[i].ext)) << found.names[i].toStdString();
        EXPECT_EQ(found.files[i].size(), files[i].data.size());
        EXPECT_TRUE(found.files[i] == files[i].data);
    }

    const SignatureRows table = programTable();
    // Every sector inside the files and of random bytes: where a new variant
    // of a row matches, a row without the variants matches too.
    SignatureRows without;
    for (const SignatureRecord &row : table) {
        int variant = 0;
        BuiltInSignatureCase(row, &variant);
        if (variant == 0)
            without.push_back(row);
    }
    ASSERT_LT(without.size(), table.size());
    const SignaturePrefixIndex all(table), older(without);
    QByteArray noise(8 << 20, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QList<QPair<QString, QByteArray>> inner;
    for (const TodaysFile &t : files)
        inner << QPair<QString, QByteArray>{t.dosName, t.data.mid(512)};
    inner << QPair<QString, QByteArray>{"random bytes", noise};
    for (const auto &[what, data] : inner) {
        for (qsizetype at = 0; at + 512 <= data.size(); at += 512) {
            const unsigned char *p = bytes(data) + at;
            const size_t window = size_t(std::min<qsizetype>(1024, data.size() - at));
            const int row = all.match(p, 512, p, window);
            int variant = 0;
            if (row >= 0 && BuiltInSignatureCase(table[size_t(row)], &variant) >= 0 && variant > 0)
                EXPECT_GE(older.match(p, 512, p, window), 0) << what.toStdString() << " at " << at + 512;
        }
    }
}
