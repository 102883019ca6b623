// Photos that lie inside what another found file states to be its own: a
// movie written into the gaps that deleted photos left, and headers that
// state more than their files hold. Every photo comes back whole beside the
// file around it, and intact movies between photos stay whole; so do MP3,
// ZIP and PDF files whose frames, tags, entries and streams begin on a
// sector; and a stop, a restart or a full cache while a movie is open
// loses nothing on the resume.
#include "app/frmrecover.h"
#include "app/startup.h"
#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"
#include "scan/foundagain.h"
#include "scan/scantable.h"
#include "tests/scan/picture_cards.h"
#include "tests/scan/scan_images.h"
#include "tests/support/child.h"
#include "tests/support/fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QtEndian>
#include <climits>
#include <csignal>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Photos as a camera leaves them: ImageMagick's plasma as JPEG, then one
// exiftool run that gives each a make, a model, a date and a thumbnail.
QList<QByteArray> cameraPhotos(const QString &dir, int count, const QString &size)
{
    if (!haveTool("exiftool"))
        return {};
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        paths << QStringLiteral("%1/p%2.jpg").arg(dir).arg(i);
        if (runTool(imageMagickProgram(), {"-seed", QString::number(100 + i), "-size", size, "plasma:fractal",
                                           "-quality", "92", paths.last()})
            != 0)
            return {};
    }
    const QString thumb = dir + "/thumb.jpg";
    if (runTool(imageMagickProgram(), {"-seed", "7", "-size", "160x120", "plasma:fractal", thumb}) != 0
        || runTool("exiftool", QStringList{"-q", "-overwrite_original", "-Make=Testcam", "-Model=T100",
                                           "-DateTimeOriginal=2026:05:06 07:08:09", "-ThumbnailImage<=" + thumb}
                                   + paths)
               != 0)
        return {};
    QList<QByteArray> out;
    for (const QString &p : paths)
        out << readFileBytes(p);
    return out;
}

// Photos as phone apps and editors write them: JFIF, no EXIF block.
QList<QByteArray> plainPhotos(const QString &dir, int count, const QString &size)
{
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/j%2.jpg").arg(dir).arg(i);
        if (runTool(imageMagickProgram(), {"-seed", QString::number(300 + i), "-size", size, "plasma:fractal",
                                           "-quality", "90", path})
            != 0)
            return {};
        out << readFileBytes(path);
    }
    return out;
}

// The photos not found byte for byte, as a text ("" when all were).
QString missing(const scan_images::FoundFiles &f, const QList<QByteArray> &photos, const QString &what)
{
    QStringList lost;
    for (int i = 0; i < photos.size(); ++i)
        if (!f.files.contains(photos[i]))
            lost << QString::number(i);
    return lost.isEmpty() ? QString() : what + ": photos " + lost.join(',') + " lost among " + f.names.join(' ');
}

int pieces(const QString &image, const QString &name)
{
    QByteArray out;
    runTool("mshowfat", {"-i", image, "::/" + name}, &out);
    return int(out.count('<'));
}

void patch32(QByteArray &b, qsizetype at, quint32 v, bool bigEndian)
{
    bigEndian ? qToBigEndian(v, b.data() + at) : qToLittleEndian(v, b.data() + at);
}

// A card with a movie in the gaps of deleted photos, among them photos
// without EXIF (every other of 32 photos deleted, an H.264 MOV copied into
// the gaps; FAT16, 8 KiB clusters). Made once for the binary; image empty when a tool is missing.
struct GapCard {
    QString image;
    QList<QByteArray> camera, plain, kept;
    QByteArray mov;
};

const GapCard &gapCard()
{
    static const GapCard card = [] {
        GapCard c;
        const QString dir = makeTempDir("gapcard");
        c.camera = cameraPhotos(dir, 8, "480x360");
        c.plain = plainPhotos(dir, 8, "480x360");
        c.mov = picture_cards::testVideo(dir, "m.mov", {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-qp", "12"}, false, 1,
                                         true);
        if (c.camera.isEmpty() || c.plain.isEmpty() || c.mov.isEmpty() || !haveTool("mshowfat"))
            return c;
        QList<QPair<QString, QByteArray>> files;
        for (int i = 0; i < 32; ++i) {
            const QByteArray &p = (i / 2) % 2 ? c.plain[i / 4] : c.camera[i / 4];
            files << qMakePair(QStringLiteral("P%1.JPG").arg(i), p);
            if (i % 2)
                c.kept << p;
        }
        c.image = picture_cards::makeRandomCard(dir, "card.img", files, 16, 40960, 11, [&](const QString &img) {
            for (int i = 0; i < 32; i += 2)
                if (!mdel(img, QStringLiteral("P%1.JPG").arg(i)))
                    return false;
            return mcopyData(img, "MOVIE.MOV", c.mov) && pieces(img, "MOVIE.MOV") >= 4;
        });
        return c;
    }();
    return card;
}

// Whether a found file listed whole (its line without the mark) is one of
// the card's originals: every photo and the movie.
QString listedWholeButNot(const GapCard &c, const QString &name, const QByteArray &bytes)
{
    const bool jpeg = name.endsWith(".jpg"), movie = name.endsWith(".mov");
    if ((jpeg && !c.camera.contains(bytes) && !c.plain.contains(bytes)) || (movie && bytes != c.mov))
        return name + " listed whole ";
    return {};
}

// The window's scan of the card as the user runs it, in a process of its
// own (args: "scan" or "resume", the card, the cache root): "scan" goes on
// until the parent ends the program, after it said "reading" at the read
// asked for; "resume" starts as the program starts again (the found-file
// list from its file), answers Yes to the resume and lists what it found.
int windowScan(const QStringList &args)
{
    plat::VirtualDriveOptions card;
    card.typeCode = plat::DriveTypeRemovable;
    card.readOnly = true;
    if (!plat::DriveTable::instance().attachImage('E', args.value(1), card))
        return 2;
    plat::setMessageResponder([](const plat::MessageRequest &r) {
        const int buttons = r.style & plat::mb::ButtonMask;
        if (buttons == plat::mb::YesNo || buttons == plat::mb::YesNoCancel)
            return r.text.contains("SmartScan") ? plat::id::No : plat::id::Yes;
        return plat::id::OK;
    });
    plat::setDialogResponder([](const plat::DialogRequest &r) { return plat::DialogAnswer{r.startFolder, 1}; });
    frmRecover &w = CreateMainWindow();
    w.CacheRoot = plat::toInternal(args.value(2)) + "\\";
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.SetUpTypeList();
    w.FillTypeList();
    for (int i = 1; i <= w.LvwTypes.ItemCount(); ++i)
        w.LvwTypes.setItemChecked(i, w.LvwTypes.SubItem(i, 2) == ProgramOrigin());
    w.SetToolTips();
    w.setEnabled(true);
    w.StartupFinished = true;
    w.SourceName = "E:";
    GetDriveInfo(w.SourceName);
    if (args.value(0) == "resume") {
        w.ShownFolder = w.CacheRoot;
        w.RefillFoundFileList();
        childSays(QStringLiteral("open %1, %2 notes").arg(w.ResumeFileOpen).arg(w.ResumeInner.size()));
        w.CmdScan_Click();
        for (int i = 0; i < w.List3.ListCount(); ++i)
            childSays("item " + w.FoundFilePaths.value(i) + "|" + w.List3.List(i));
        const bool finished = w.LastScanResult.end == ScanEnd::Finished;
        DestroyMainWindow();
        return finished ? 0 : 4;
    }
    const int reads = args.value(3).toInt();
    w.AdjustScanCallbacks = [reads](ScanCallbacks &cb) {
        cb.stopRequested = [reads, stop = cb.stopRequested, n = 0]() mutable {
            if (++n == reads) {
                childSays("reading");
                for (int waited = 0; waited < 30000 && !stop(); waited += 10) {
                    QThread::msleep(10);
                    plat::pumpEventsNow();
                }
            }
            return stop();
        };
    };
    InstallTerminationSignals();
    w.CmdScan_Click();
    QCoreApplication::exec();   // the End command's passes end the process
    return 3;
}
const bool registered = registerChild("windowscan", windowScan);

// A photo as editors write it: ImageMagick's plasma, JFIF, no EXIF.
QByteArray jfifPhoto(const QString &dir, int seed)
{
    const QString path = QStringLiteral("%1/jfif%2.jpg").arg(dir).arg(seed);
    runTool(imageMagickProgram(), {"-seed", QString::number(seed), "-size", "320x240", "plasma:fractal", path});
    return readFileBytes(path);
}

// `b` and random bytes up to the next sector, for `b` written `at` bytes past one.
QByteArray padded(const QByteArray &b, qsizetype at, quint32 seed)
{
    return b + picture_cards::nonZeroBytes((512 - (at + b.size()) % 512) % 512, seed);
}

// A chord by sox, lame -V 4; frameAt receives where its first 48 kbps frame
// (FF FB 30, a row of the scan table) begins.
QByteArray vbrStream(const QString &dir, qsizetype &frameAt)
{
    if (runTool("sox", {"-n", "-r", "44100", "-b", "16", "-c", "2", dir + "/c.wav", "synth", "4", "sine", "440", "sine",
                        "660"}) != 0
        || runTool("lame", {"--quiet", "-V", "4", dir + "/c.wav", dir + "/c.mp3"}) != 0)
        return {};
    const QByteArray mp3 = readFileBytes(dir + "/c.mp3");
    static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    for (qsizetype at = 0, length = 1; at + 4 <= mp3.size() && length > 0; at += length) {
        frameAt = at;
        if (mp3.mid(at, 3) == QByteArray("\xFF\xFB\x30", 3))
            return mp3;
        length = 144 * kbps[uchar(mp3[at + 2]) >> 4] * 1000 / 44100 + ((mp3[at + 2] >> 1) & 1);
    }
    return {};
}

// An ID3v2.3 tag that states `size` bytes in all: its frames, then zero padding.
QByteArray id3Tag(const QByteArray &frames, qsizetype size)
{
    QByteArray t("ID3\x03\x00\x00", 6);
    for (int shift : {21, 14, 7, 0})
        t += char(((size - 10) >> shift) & 0x7F);
    return t + frames + QByteArray(std::max<qsizetype>(0, size - 10 - frames.size()), '\0');
}

// A cover picture as an APIC frame; a description of 478 letters puts the
// picture 512 bytes into the tag.
QByteArray cover(const QByteArray &jpeg)
{
    const QByteArray body = QByteArray(1, '\0') + "image/jpeg" + QByteArray(1, '\0') + '\x03' + QByteArray(478, 'd')
                            + QByteArray(1, '\0') + jpeg;
    QByteArray frame = "APIC" + QByteArray(6, '\0') + body;
    patch32(frame, 4, quint32(body.size()), true);
    return frame;
}

// A PDF as writers of pictures lay it out: the photo as a DCTDecode image
// whose length an object behind it gives (N 0 R), a content stream of a
// stated length; a comment line puts the photo on a sector. imageLength:
// the photo's length stated directly instead.
QByteArray pdfAround(const QByteArray &jpeg, qint64 imageLength = -1)
{
    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> at;
    const auto obj = [&](const QByteArray &text) {
        at << pdf.size();
        pdf += QByteArray::number(at.size()) + " 0 obj\n" + text + "\nendobj\n";
    };
    obj("<< /Type /Catalog /Pages 2 0 R >>");
    obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    obj("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 320 240] /Resources << /XObject << /Im0 4 0 R >> >> "
        "/Contents 6 0 R >>");
    const QByteArray length = imageLength < 0 ? "5 0 R" : QByteArray::number(imageLength);
    const QByteArray image = "4 0 obj\n<< /Type /XObject /Subtype /Image /Width 320 /Height 240 /ColorSpace /DeviceRGB "
                             "/BitsPerComponent 8 /Filter /DCTDecode /Length " + length + " >>\nstream\n";
    pdf += '%' + QByteArray((1024 - (pdf.size() + 2 + image.size()) % 512) % 512, ' ') + '\n';
    at << pdf.size();
    pdf += image + jpeg + "\nendstream\nendobj\n";
    obj(QByteArray::number(jpeg.size()));
    const QByteArray content = "q 320 0 0 240 0 0 cm /Im0 Do Q";
    obj("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 7\n0000000000 65535 f \n";
    for (const qsizetype a : at)
        pdf += QByteArray::number(a).rightJustified(10, '0') + " 00000 n \n";
    return pdf + "trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
}

// Python's zipfile, ZIP_STORED: a text, the first photo, a text, the second;
// the texts' lengths put the first photo's data and the second's local
// header on a sector.
QByteArray storedZip(const QString &dir, const QByteArray &first, const QByteArray &second)
{
    writeFileBytes(dir + "/z1", first);
    writeFileBytes(dir + "/z2", second);
    const char *script = R"(import sys, zipfile
out, a, b = sys.argv[1], open(sys.argv[2], 'rb').read(), open(sys.argv[3], 'rb').read()
def build(p1, p2):
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED) as z:
        for name, data in (('read.txt', b'r' * p1), ('DCIM/A.JPG', a), ('pad.txt', b'p' * p2), ('DCIM/B.JPG', b)):
            z.writestr(zipfile.ZipInfo(name, (2024, 5, 6, 7, 8, 10)), data)
    return zipfile.ZipFile(out).infolist()
p1 = -(build(0, 0)[1].header_offset + 40) % 512
build(p1, -build(p1, 0)[3].header_offset % 512)
)";
    if (runTool("python3", {"-c", script, dir + "/s.zip", dir + "/z1", dir + "/z2"}) != 0)
        return {};
    return readFileBytes(dir + "/s.zip");
}

} // namespace

TEST(PhotosInside, AMovieBetweenPhotosLeavesEveryPhotoWholeWhetherItLiesInPiecesOrNot)
{
    const QString dir = makeTempDir("gaps");
    const QList<QByteArray> photos = cameraPhotos(dir, 40, "640x480");
    const QStringList h264{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-qp", "12"};
    const QByteArray mov = picture_cards::testVideo(dir, "m.mov", h264, false, 1, true);
    const QByteArray avi = picture_cards::testVideo(dir, "m.avi", {"-c:v", "mjpeg", "-q:v", "3"}, false, 1, true);
    const QByteArray mp4 = picture_cards::testVideo(dir, "f.mp4", h264 + QStringList{"-movflags", "faststart"});
    if (photos.isEmpty() || mov.isEmpty() || avi.isEmpty() || mp4.isEmpty() || !haveTool("mshowfat"))
        GTEST_SKIP() << "ImageMagick, exiftool, ffmpeg with libx264 or mtools missing";
    ASSERT_EQ(mov.mid(32, 4), "mdat");   // the media data before the movie box

    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < photos.size(); ++i)
        files << qMakePair(QStringLiteral("P%1.JPG").arg(i), photos[i]);
    // Every other photo deleted, then the movie written into the gaps they
    // left, photos between its pieces.
    for (const auto &[name, movie] : {qMakePair(QStringLiteral("MOVIE.MOV"), mov), qMakePair(QStringLiteral("MOVIE.AVI"), avi)}) {
        int movedPieces = 0;
        const QString image = picture_cards::makeRandomCard(
            dir, name + ".img", files, 64, 131072, 9, [&, n = name, m = movie](const QString &img) {
                for (int i = 0; i < photos.size(); i += 2)
                    if (!mdel(img, QStringLiteral("P%1.JPG").arg(i)))
                        return false;
                if (!mcopyData(img, n, m))
                    return false;
                movedPieces = pieces(img, n);
                return true;
            });
        ASSERT_FALSE(image.isEmpty());
        ASSERT_GE(movedPieces, 4) << name.toStdString();
        QList<QByteArray> kept;
        for (int i = 1; i < photos.size(); i += 2)
            kept << photos[i];
        const scan_images::FoundFiles f = scan_images::scanForFiles(image);
        ASSERT_EQ(f.result.end, ScanEnd::Finished);
        EXPECT_EQ(missing(f, kept, name), QString());
    }

    // Intact movies between the photos: each photo and each movie whole.
    QList<QPair<QString, QByteArray>> intact = files.mid(0, 10);
    intact << qMakePair(QStringLiteral("A.MOV"), mov) << files.mid(10, 10);
    intact << qMakePair(QStringLiteral("B.MP4"), mp4) << files.mid(20, 10);
    intact << qMakePair(QStringLiteral("C.AVI"), avi) << files.mid(30, 10);
    const QString image = picture_cards::makeRandomCard(dir, "intact.img", intact, 64, 131072, 10);
    ASSERT_FALSE(image.isEmpty());
    const scan_images::FoundFiles f = scan_images::scanForFiles(image);
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    EXPECT_EQ(missing(f, photos, "intact card"), QString());
    EXPECT_TRUE(f.files.contains(mov) && f.files.contains(mp4) && f.files.contains(avi)) << f.names.join(' ').toStdString();
    EXPECT_EQ(f.files.size(), photos.size() + 3) << f.names.join(' ').toStdString();
}

TEST(PhotosInside, HeadersStatingMoreThanTheirFilesHoldLoseNoPhotoBehindThem)
{
    const QString dir = makeTempDir("claims");
    const QList<QByteArray> camera = cameraPhotos(dir, 2, "320x240");
    const QString jfifPath = dir + "/jfif.jpg";
    runTool(imageMagickProgram(), {"-seed", "5", "-size", "320x240", "plasma:fractal", jfifPath});
    const QByteArray jfif = readFileBytes(jfifPath);
    runTool(imageMagickProgram(), {"-seed", "6", "-size", "320x240", "plasma:fractal", jfifPath});
    const QByteArray jfif2 = readFileBytes(jfifPath);
    const QStringList h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
    const QByteArray mp4 = picture_cards::testVideo(dir, "f.mp4", h264 + QStringList{"-movflags", "faststart"});
    const QByteArray fastMov = picture_cards::testVideo(dir, "f.mov", h264 + QStringList{"-movflags", "faststart"});
    const QByteArray bigMov = picture_cards::testVideo(dir, "b.mov", h264 + QStringList{"-qp", "12"}, false, 1, true);
    const QByteArray mov = picture_cards::testVideo(dir, "m.mov", h264 + QStringList{"-qp", "12"}, false, 1, true);
    const QByteArray vob = picture_cards::testVideo(dir, "v.vob", {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}, true);
    QByteArray wav;
    if (runTool("sox", {"-n", "-r", "8000", "-c", "1", dir + "/t.wav", "synth", "2", "sine", "440"}) == 0)
        wav = readFileBytes(dir + "/t.wav");
    if (camera.isEmpty() || jfif.isEmpty() || mp4.isEmpty() || mov.isEmpty() || vob.isEmpty() || wav.isEmpty())
        GTEST_SKIP() << "ImageMagick, exiftool, ffmpeg with libx264 or sox missing";
    constexpr quint32 k40MiB = 40u << 20;

    // An MP4 whose media data box states 40 MiB.
    QByteArray bigData = mp4;
    const qsizetype mdat = bigData.indexOf("mdat") - 4;
    patch32(bigData, mdat, k40MiB, true);
    // A recording cut off: its media data box states 30 MiB, 100 KB are there, no movie box.
    ASSERT_EQ(bigMov.mid(24, 4), "wide");
    QByteArray cutOff = bigMov.left(100000);
    patch32(cutOff, 28, 30u << 20, true);
    // A MOV whose movie box states 40 MiB.
    QByteArray bigMoov = fastMov;
    patch32(bigMoov, bigMoov.indexOf("moov") - 4, k40MiB, true);
    // A WAV whose RIFF form and data chunk state 40 MiB.
    QByteArray bigWav = wav;
    patch32(bigWav, 4, k40MiB, false);
    patch32(bigWav, bigWav.indexOf("data") + 4, k40MiB - 100, false);
    // A program stream whose first video packet states 65,535 bytes and holds 2 KB.
    QByteArray packet = vob.left(2048);
    const qsizetype video = packet.indexOf(QByteArray("\0\0\1\xE0", 4));
    ASSERT_GT(video, 0);
    packet[video + 4] = char(0xFF), packet[video + 5] = char(0xFF);
    // A JPEG cut short in its picture data, the rest of its sector holding
    // what reads as a segment of 65,520 bytes.
    qsizetype cut = jfif.size() / 2;
    while (uchar(jfif[cut - 1]) == 0xFF)
        --cut;
    const QByteArray cutJpeg = jfif.left(cut) + QByteArray("\xFF\xE3\xFF\xF0", 4);
    // A photo of which only its first sectors are left, its EXIF block
    // stating 30 KB: what follows them is another photo.
    QByteArray head = camera[1].left(4096);
    const qsizetype app1 = head.indexOf("\xFF\xE1");
    ASSERT_GT(app1, 0);
    head[app1 + 2] = char(0x78), head[app1 + 3] = char(0x00);
    // A MOV in two pieces with a photo between them.
    const QByteArray first = mov.left(64 * 1024), second = mov.mid(64 * 1024);

    QByteArray raw = picture_cards::nonZeroBytes(65536, 1);
    quint32 seed = 2;
    const auto add = [&](const QByteArray &b) {
        raw += b;
        raw += picture_cards::nonZeroBytes((4096 - raw.size() % 4096) % 4096, seed++);
    };
    QList<QByteArray> expected;
    const auto photosAfter = [&](bool jfifFirst) {
        const QList<QByteArray> them = jfifFirst ? QList<QByteArray>{jfif, camera[0], camera[1]}
                                                 : QList<QByteArray>{camera[0], camera[1], jfif};
        for (const QByteArray &p : them)
            add(p), expected << p;
    };
    add(bigData), photosAfter(true);
    add(cutOff), photosAfter(false);
    add(bigMoov), photosAfter(true);
    add(bigWav), photosAfter(false);
    add(packet), photosAfter(true);
    add(cutJpeg), photosAfter(false);
    add(first), add(jfif), expected << jfif, add(second), photosAfter(false);
    add(head), photosAfter(true);
    // The stream's packet ends inside the second of two photos, where no
    // pack follows: the stream is whole as far as it tells, and both photos
    // are found beside it.
    add(packet), add(jfif), add(jfif2), expected << jfif << jfif2;
    const qsizetype used = raw.size();
    raw.resize(48 << 20, '\0');   // room for what the headers state
    ASSERT_TRUE(writeFileBytes(dir + "/raw.img", raw));

    const scan_images::FoundFiles f = scan_images::scanForFiles(dir + "/raw.img");
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    const QList<QByteArray> kinds{jfif, jfif2, camera[0], camera[1]};
    for (int k = 0; k < kinds.size(); ++k)
        EXPECT_EQ(f.files.count(kinds[k]), expected.count(kinds[k])) << "photo " << k << ": " << f.names.join(' ').toStdString();
    // No found file carries a stated length's worth of what is not its own.
    qsizetype total = 0;
    for (const QByteArray &b : f.files)
        total += b.size();
    EXPECT_LT(total, 2 * used);
}

// However the scan is stopped while the movie of the gap card is open and
// resumed, it finds what one scan to the end finds; when the cache fills
// (the drive's reserve reached, or the folder itself full) while photos are
// given back, the resume with room brings every photo back whole, and no
// file is listed whole that is not.
TEST(PhotosInside, AStopOrAFullCacheWhileTheMovieIsOpenLosesNothingOnTheResume)
{
    const GapCard &c = gapCard();
    if (c.image.isEmpty())
        GTEST_SKIP() << "ImageMagick, exiftool, ffmpeg with libx264 or mtools missing";
    const scan_images::FoundFiles whole = scan_images::scanForFiles(c.image);
    ASSERT_EQ(whole.result.end, ScanEnd::Finished);
    ASSERT_EQ(missing(whole, c.kept, "one scan"), QString());

    // Stopped after every number of reads, and every second read of every round.
    int stops = 0;
    for (int after = 1; after < 100; ++after) {
        const scan_images::FoundFiles f = scan_images::scanToTheEnd(c.image, [after](int round, ScanCallbacks &cb) {
            const int until = round == 0 ? after : after == 1 ? 2 : INT_MAX;
            cb.stopRequested = [until, reads = 0]() mutable { return ++reads > until; };
        });
        if (f.rounds == 1)
            break;
        stops += f.rounds - 1;
        EXPECT_EQ(f.names, whole.names) << "stopped after " << after << " reads";
        EXPECT_TRUE(f.files == whole.files) << "stopped after " << after << " reads";
    }
    EXPECT_GE(stops, 10);

    const auto expectWhole = [&](const scan_images::FoundFiles &f, const QString &what) {
        EXPECT_EQ(missing(f, c.kept, what), QString());
        for (int i = 0; i < f.names.size(); ++i) {
            if (!f.marked.contains(f.names[i]))
                EXPECT_EQ(listedWholeButNot(c, f.names[i], f.files[i]), QString()) << what.toStdString();
        }
    };
    // The drive's reserve reached at every file closed in turn.
    int filled = 0;
    for (int closes = 1; closes < 200; ++closes) {
        const scan_images::FoundFiles f = scan_images::scanToTheEnd(c.image, [closes](int round, ScanCallbacks &cb) {
            if (round == 0)
                cb.freeSpaceMB = [closes, calls = 0](const QString &) mutable {
                    return int64_t(++calls == 1 ? 2500 : calls > closes ? 2400 : 2600);
                };
        });
        if (f.rounds == 1)
            break;
        ++filled;
        expectWhole(f, QStringLiteral("reserve reached at close %1").arg(closes));
    }
    EXPECT_GE(filled, 5);
    // The cache folder full: a small file system, grown for the resume.
    qint64 written = 0;
    for (const QByteArray &b : whole.files)
        written += b.size();
    for (int step = 1; step <= 12; ++step) {
        const int kib = int(written * step / 12 / 1024);
        SmallDisk disk(kib);
        if (disk.path().isEmpty())
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        const scan_images::FoundFiles f = scan_images::scanToTheEnd(
            c.image, [&](int round, ScanCallbacks &) {
                if (round == 1) {
                    ASSERT_TRUE(disk.grow(64 * 1024));
                }
            },
            disk.path());
        expectWhole(f, QStringLiteral("cache of %1 KiB").arg(kib));
    }
}

// The program ended by the system (SIGTERM) while the movie is open, then
// started again and the resume answered Yes: it goes on with the open
// movie and the units noted inside it, and every photo comes back whole.
TEST(PhotosInside, AProgramEndedWhileTheMovieIsOpenGoesOnWithItAfterTheRestart)
{
    const GapCard &c = gapCard();
    if (c.image.isEmpty())
        GTEST_SKIP() << "ImageMagick, exiftool, ffmpeg with libx264 or mtools missing";
    for (const int reads : {2, 3}) {
        const QString home = makeTempDir("restart");
        const QString cache = home + "/cache/RIVozud";
        ASSERT_TRUE(QDir().mkpath(cache));
        ChildProcess scan("windowscan", {"scan", c.image, cache, QString::number(reads)}, home);
        ASSERT_TRUE(scan.waitForLine("reading", 120000)) << scan.output().toStdString();
        ::kill(pid_t(scan.processId()), SIGTERM);
        ASSERT_EQ(scan.wait(60000), 0) << scan.output().toStdString();

        ChildProcess resume("windowscan", {"resume", c.image, cache}, home);
        ASSERT_EQ(resume.wait(120000), 0) << resume.output().toStdString();
        const QStringList lines = resume.output().split('\n');
        EXPECT_TRUE(lines.value(0).startsWith("open 1, ")) << lines.value(0).toStdString();
        scan_images::FoundFiles f;
        for (const QString &line : lines)
            if (line.startsWith("item ")) {
                const QString name = line.mid(5).section('|', 0, 0);
                f.names << name;
                f.files << readFileBytes(cache + '/' + name);
                if (FoundLineMarked(line.section('|', 1)))
                    f.marked << name;
            }
        ASSERT_FALSE(f.names.isEmpty()) << resume.output().toStdString();
        EXPECT_EQ(missing(f, c.kept, QStringLiteral("ended after %1 reads").arg(reads)), QString());
        for (int i = 0; i < f.names.size(); ++i) {
            if (!f.marked.contains(f.names[i]))
                EXPECT_EQ(listedWholeButNot(c, f.names[i], f.files[i]), QString());
        }
    }
}

// On sectors: an MP3 whose 48 kbps frame, one whose ID3 cover, a stored ZIP
// whose photo and next local header, and a PDF whose photo begin a sector,
// each followed by photos. Each file comes back whole; the PDF's photo may
// be found on its own as well, nothing else is.
TEST(PhotosInside, SoundArchivesAndDocumentsKeepWhatTheirStructurePlaces)
{
    const QString dir = makeTempDir("placed");
    const QList<QByteArray> camera = cameraPhotos(dir, 5, "320x240");
    qsizetype frameAt = 0;
    const QByteArray vbr = vbrStream(dir, frameAt);
    const QByteArray zip = camera.isEmpty() ? QByteArray() : storedZip(dir, camera[1], camera[2]);
    if (camera.isEmpty() || vbr.isEmpty() || zip.isEmpty())
        GTEST_SKIP() << "ImageMagick, exiftool, sox, lame or python3 missing";
    qsizetype tag = 10;
    while ((tag + frameAt) % 512)
        ++tag;
    const QByteArray mp3 = id3Tag({}, tag) + vbr;
    const QByteArray withCover = id3Tag(cover(camera[0]), 600 + camera[0].size()) + vbr;
    const QByteArray pdf = pdfAround(camera[3]);
    ASSERT_EQ(mp3.indexOf(QByteArray("\xFF\xFB\x30", 3), tag + frameAt) % 512, 0);
    ASSERT_EQ(withCover.indexOf(camera[0]), 512);
    ASSERT_EQ(zip.indexOf(camera[1]) % 512, 0);
    ASSERT_EQ(zip.mid(zip.indexOf(camera[2]) - 40, 4), "PK\3\4");
    ASSERT_EQ((zip.indexOf(camera[2]) - 40) % 512, 0);
    ASSERT_EQ(pdf.indexOf(camera[3]) % 512, 0);

    // Each followed by a photo with EXIF and one without.
    const QByteArray jfif = jfifPhoto(dir, 5);
    QByteArray raw = picture_cards::nonZeroBytes(65536, 1);
    quint32 seed = 2;
    for (const QByteArray &b : {mp3, withCover, zip, pdf})
        for (const QByteArray &f : {b, camera[4], jfif}) {
            raw += padded(f, 0, seed++);
            raw += picture_cards::nonZeroBytes(2048, seed++);
        }
    ASSERT_TRUE(writeFileBytes(dir + "/raw.img", raw));

    const scan_images::FoundFiles f = scan_images::scanForFiles(dir + "/raw.img");
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    const std::string names = f.names.join(' ').toStdString();
    for (const QByteArray &whole : {mp3, withCover, zip, pdf})
        EXPECT_EQ(f.files.count(whole), 1) << names;
    EXPECT_EQ(f.files.count(camera[4]), 4) << names;
    EXPECT_EQ(f.files.count(jfif), 4) << names;
    // Nothing else but the photo inside the PDF, found on its own as well.
    EXPECT_EQ(f.files.size(), 12 + f.files.count(camera[3])) << names;
}

// The lengths lie, and photos lie where they state their files' own data:
// a ZIP entry states more than the photo written after it (the rest of the
// archive follows, its end record moved with it), an ID3 tag states more
// than is left of its MP3, a PDF stream's stated length ends inside the
// third photo behind it (the rest of the PDF follows them) and one by
// reference never ends. Every photo is found, and the ZIP and the PDF are
// cut at the first photo, never whole with it inside.
TEST(PhotosInside, LengthsThatLieGiveThePhotosInsideThemBack)
{
    const QString dir = makeTempDir("lying");
    const QByteArray stored = picture_cards::nonZeroBytes(30000, 11);
    const QByteArray zip = storedZip(dir, stored, stored.left(20000));
    const QList<QByteArray> photos{jfifPhoto(dir, 5), jfifPhoto(dir, 6)};
    if (zip.isEmpty() || photos[0].isEmpty())
        GTEST_SKIP() << "ImageMagick or python3 missing";
    const QByteArray &jfif = photos[0];

    const qsizetype dataEnd = zip.indexOf(stored) + stored.size();
    const QByteArray inserted = padded(padded({}, dataEnd, 3) + jfif, dataEnd, 4);
    QByteArray zipLie = zip.left(dataEnd) + inserted + zip.mid(dataEnd);
    for (const qsizetype field : {18, 22})
        patch32(zipLie, zip.indexOf(stored) - 40 + field, quint32(stored.size() + inserted.size() + 100), false);
    const qsizetype end = zipLie.lastIndexOf("PK\5\6");
    patch32(zipLie, end + 16, qFromLittleEndian<quint32>(zipLie.constData() + end + 16) + inserted.size(), false);
    const QByteArray mp3Head = id3Tag(QByteArray("TIT2\0\0\0\x05\0\0\0Tone", 15), 200000).left(1024);
    // Ending inside the third photo behind it.
    const QByteArray pdf = pdfAround(stored, 2024 + padded(jfif, 0, 0).size() + padded(photos[1], 0, 0).size());
    const QByteArray pdfHead = pdf.left(pdf.indexOf(stored) + 1024);
    const QByteArray pdfTail = pdf.mid(pdf.indexOf("\nendstream"));
    const QByteArray byReference = pdfAround(jfif);
    const QByteArray byReferenceHead = byReference.left(byReference.indexOf(jfif) + 1024);

    QByteArray raw = picture_cards::nonZeroBytes(65536, 1);
    quint32 seed = 5;
    for (const QByteArray &b : {zipLie, mp3Head, pdfHead, byReferenceHead}) {
        for (const QByteArray &f : {b, jfif, photos[1], jfif, b == pdfHead ? pdfTail : QByteArray()})
            raw += padded(f, 0, seed++);
        raw += picture_cards::nonZeroBytes(256 * 1024, seed++);   // where the stated lengths end
    }
    ASSERT_TRUE(writeFileBytes(dir + "/raw.img", raw));

    const scan_images::FoundFiles f = scan_images::scanForFiles(dir + "/raw.img");
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    const std::string names = f.names.join(' ').toStdString();
    EXPECT_EQ(f.files.count(jfif), 9) << names;
    EXPECT_EQ(f.files.count(photos[1]), 4) << names;
    EXPECT_TRUE(f.files.contains(zipLie.left(zipLie.indexOf(jfif)))) << names;
    EXPECT_TRUE(f.files.contains(pdfHead)) << names;
}
