// Today's videos are found, and a found file stays whole past a signature
// inside its own data: videos of ffmpeg on a quick-formatted card, and on a
// raw image scanned sector by sector a photo whose EXIF thumbnail, motion-JPEG
// AVIs and MOVs whose frames (with EXIF blocks or without) and an M4A whose
// cover start on sector boundaries, and a movie with more such frames than
// the scan notes inside a file.
#include "tests/scan/picture_cards.h"
#include "tests/scan/scan_images.h"
#include "tests/support/fixtures.h"

#include <QtEndian>
#include <algorithm>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Found = scan_images::FoundFiles;

Found scan(const QString &image) { return scan_images::scanForFiles(image); }

QByteArray video(const QString &dir, const QString &name, const QStringList &codecs, bool sound = false)
{
    return picture_cards::testVideo(dir, name, codecs, sound);
}

QByteArray jpegOf(const QString &dir, const QString &name, const QString &size, int seed)
{
    const QString ppm = dir + '/' + name + ".ppm";
    if (runTool(imageMagickProgram(), {"-seed", QString::number(seed), "-size", size, "plasma:fractal", ppm}) != 0
        || runTool("cjpeg", {"-quality", "90", "-outfile", dir + '/' + name, ppm}) != 0)
        return {};
    return readFileBytes(dir + '/' + name);
}

// A photo as a camera leaves it (JFIF, EXIF by exiftool with a thumbnail),
// a comment segment after APP0 padding it so that the thumbnail starts on a
// sector boundary. thumbAt receives where it starts.
QByteArray alignedPhoto(const QString &dir, QByteArray &thumb, qsizetype &thumbAt)
{
    thumb = jpegOf(dir, "thumb.jpg", "160x120", 3);
    const QByteArray photo = jpegOf(dir, "photo.jpg", "640x480", 4);
    if (thumb.isEmpty() || photo.isEmpty() || photo[3] != '\xE0'
        || runTool("exiftool", {"-q", "-overwrite_original", "-Make=Testcam", "-Model=T100",
                                "-ThumbnailImage<=" + dir + "/thumb.jpg", dir + "/photo.jpg"})
               != 0)
        return {};
    QByteArray p = readFileBytes(dir + "/photo.jpg");
    const qsizetype at = p.indexOf(thumb.left(64));
    if (at < 0)
        return {};
    const qsizetype after = 4 + qFromBigEndian<quint16>(p.constData() + 4);
    qsizetype length = (1024 - (at + 2) % 512) % 512;   // the segment's length field
    length += length < 2 ? 512 : 0;
    QByteArray comment("\xFF\xFE", 2);
    comment += char(length >> 8);
    comment += char(length & 0xFF);
    comment += QByteArray(length - 2, 'c');
    p.insert(after, comment);
    thumbAt = at + comment.size();
    return p;
}

// ffmpeg's motion-JPEG AVI with a JUNK chunk before every frame so that
// each frame's JPEG starts on a sector boundary; its index follows them.
QByteArray alignedFrames(const QByteArray &avi, int &frames)
{
    const qsizetype movi = avi.indexOf("movi") - 8;
    if (movi < 0 || avi.mid(movi, 4) != "LIST")
        return {};
    const qsizetype end = movi + 8 + qFromLittleEndian<quint32>(avi.constData() + movi + 4);
    QByteArray out = avi.left(movi + 12);
    QHash<quint32, quint32> moved;   // the index's offsets, from the "movi" tag
    frames = 0;
    for (qsizetype at = movi + 12; at + 8 <= end;) {
        const qsizetype size = qFromLittleEndian<quint32>(avi.constData() + at + 4);
        if (avi.mid(at + 2, 2) == "dc") {
            qsizetype pad = (512 - (out.size() + 16) % 512) % 512;
            QByteArray junk("JUNK");
            junk += QByteArray(4, '\0');
            qToLittleEndian<quint32>(quint32(pad), junk.data() + 4);
            out += junk + QByteArray(pad, '\0');
            ++frames;
        }
        moved.insert(quint32(at - movi - 8), quint32(out.size() - movi - 8));
        out += avi.mid(at, 8 + size + (size & 1));
        at += 8 + size + (size & 1);
    }
    qToLittleEndian<quint32>(quint32(out.size() - movi - 8), out.data() + movi + 4);
    QByteArray rest = avi.mid(end);
    if (rest.startsWith("idx1"))
        for (qsizetype e = 8; e + 16 <= rest.size(); e += 16)
            qToLittleEndian<quint32>(moved.value(qFromLittleEndian<quint32>(rest.constData() + e + 8)),
                                     rest.data() + e + 8);
    out += rest;
    qToLittleEndian<quint32>(quint32(out.size() - 8), out.data() + 4);
    return out;
}

QByteArray sectorPadded(const QByteArray &b, quint32 seed)
{
    return b + picture_cards::nonZeroBytes((512 - b.size() % 512) % 512 + 32768, seed);
}

// ffmpeg's output (`args` before the output's name) with a title as long as
// makes `part`, plus `plus` bytes into it, begin a sector. Empty on failure.
QByteArray titledOnASector(const QString &dir, const QString &name, const QStringList &args, const QByteArray &part,
                           int plus = 0)
{
    int title = 0;
    for (int tries = 0; tries < 8; ++tries) {
        QStringList a = QStringList{"-v", "error", "-y"} + args;
        if (title > 0)
            a << "-metadata" << "title=" + QString(title, 'x');
        if (runTool("ffmpeg", a << dir + '/' + name) != 0)
            return {};
        const QByteArray out = readFileBytes(dir + '/' + name);
        const qsizetype at = out.indexOf(part);
        if (at < 0)
            return {};
        if ((at + plus) % 512 == 0)
            return out;
        title += int(512 - (at + plus) % 512);
    }
    return {};
}

// JPEGs of ImageMagick's plasma (JFIF), with a camera's EXIF block by
// exiftool when asked. Their paths are dir/NAME1.jpg, NAME2.jpg, ...
QList<QByteArray> frames(const QString &dir, const QString &name, int count, bool exif)
{
    QList<QByteArray> out;
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        paths << QStringLiteral("%1/%2%3.jpg").arg(dir, name).arg(i);
        if (runTool(imageMagickProgram(), {"-seed", QString::number(i * 7), "-size", "320x240", "plasma:fractal",
                                           "-quality", "90", paths.last()})
            != 0)
            return {};
    }
    if (exif && runTool("exiftool", QStringList{"-q", "-overwrite_original", "-Make=Testcam", "-Model=T100"} + paths) != 0)
        return {};
    for (const QString &p : paths)
        out << readFileBytes(p);
    return out;
}

// Whether a found file is one of the originals or a whole JPEG inside one.
bool ownOrInside(const QByteArray &found, const QList<QByteArray> &originals)
{
    if (originals.contains(found))
        return true;
    const bool wholeJpeg = found.startsWith("\xFF\xD8") && found.endsWith("\xFF\xD9");
    return wholeJpeg && std::any_of(originals.begin(), originals.end(), [&](const QByteArray &o) { return o.contains(found); });
}

} // namespace

TEST(Videos, AQuickFormattedCardGivesEveryVideoBackWhole)
{
    const QString dir = makeTempDir("videos");
    const QStringList h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
    const QList<QPair<QString, QByteArray>> videos{
        {"QT.MOV", video(dir, "qt.mov", h264)},
        {"PHONE.MP4", video(dir, "phone.mp4", h264 + QStringList{"-c:a", "aac", "-b:a", "16k"}, true)},
        {"PHONE.3GP", video(dir, "phone.3gp", h264 + QStringList{"-c:a", "aac", "-ac", "1", "-b:a", "16k"}, true)},
        {"VCD.MPG", video(dir, "vcd.mpg", {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}, true)},
        {"DVD.VOB", video(dir, "dvd.vob", {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}, true)},
        {"MJPEG.AVI", video(dir, "mjpeg.avi", {"-c:v", "mjpeg"})},
        {"MJPEG.MOV", video(dir, "mjpeg.mov", {"-c:v", "mjpeg"})},
    };
    const QByteArray still = videos[1].second;
    for (const auto &v : videos)
        if (v.second.isEmpty() || still.mid(4, 4) != "ftyp")
            GTEST_SKIP() << "ffmpeg with libx264, mkfs.fat or mtools missing";
    // The same boxes with a still picture's brand: no movie.
    QByteArray heif = still;
    heif.replace(8, 4, "mif1");
    QList<QPair<QString, QByteArray>> files;
    qint64 total = 0;
    for (int i = 0; i < videos.size(); ++i) {
        files << videos[i] << qMakePair(QStringLiteral("DATA%1.BIN").arg(i), picture_cards::nonZeroBytes(30000, i));
        total += videos[i].second.size();
    }
    files << qMakePair(QStringLiteral("STILL.HIF"), heif);
    const QString image = picture_cards::makeRandomCard(dir, "card.img", files, 8);
    ASSERT_FALSE(image.isEmpty());

    const Found f = scan(image);
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    ASSERT_EQ(f.files.size(), videos.size()) << f.names.join(' ').toStdString();
    qint64 found = 0;
    for (int i = 0; i < videos.size(); ++i) {
        EXPECT_TRUE(f.files[i] == videos[i].second) << videos[i].first.toStdString() << ": " << f.files[i].size();
        EXPECT_TRUE(f.names[i].endsWith(i == 3 || i == 4 ? ".mpg" : i == 5 ? ".avi" : ".mov"));
        found += f.files[i].size();
    }
    EXPECT_LE(qAbs(found - total), 3 * 4096);
}

TEST(Videos, ThumbnailsAndFramesInsideAFileStartNoFileOfTheirOwn)
{
    const QString dir = makeTempDir("inside");
    QByteArray thumb;
    qsizetype thumbAt = 0;
    const QByteArray photo = alignedPhoto(dir, thumb, thumbAt);
    int frames = 0;
    const QByteArray avi = alignedFrames(video(dir, "m.avi", {"-c:v", "mjpeg"}), frames);
    if (photo.isEmpty() || avi.isEmpty())
        GTEST_SKIP() << "ImageMagick, cjpeg, exiftool or ffmpeg missing";
    ASSERT_EQ(thumbAt % 512, 0);
    ASSERT_EQ(frames, 25);
    const qsizetype index = avi.lastIndexOf("idx1");
    for (qsizetype at = avi.indexOf("00dc", avi.indexOf("movi")); at >= 0 && at < index; at = avi.indexOf("00dc", at + 1))
        ASSERT_EQ((at + 8) % 512, 0);
    // The thumbnail's APP1 length damaged: the photo's structure breaks
    // before the thumbnail, which is then found as today.
    QByteArray damaged = photo;
    const qsizetype app1 = damaged.indexOf("\xFF\xE1");
    damaged[app1 + 2] = 0;
    damaged[app1 + 3] = 16;
    const QByteArray raw = picture_cards::nonZeroBytes(65536, 1) + sectorPadded(photo, 2) + sectorPadded(avi, 3)
                           + sectorPadded(damaged, 4);
    writeFileBytes(dir + "/raw.img", raw);

    const Found f = scan(dir + "/raw.img");
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    ASSERT_EQ(f.files.size(), 4) << f.names.join(' ').toStdString();
    EXPECT_TRUE(f.files[0] == photo) << f.files[0].size() << " of " << photo.size();
    EXPECT_TRUE(f.files[1] == avi) << f.files[1].size() << " of " << avi.size();
    EXPECT_TRUE(f.files[2] == damaged.left(thumbAt));
    EXPECT_TRUE(f.files[3] == thumb);
}

// Files whose structure places a JPEG with its own EXIF block stay whole,
// and a frame's bare JFIF text on a sector starts nothing: on a raw image
// scanned sector by sector, an M4A whose camera cover begins a sector,
// motion-JPEG AVIs and MOVs (frames stream-copied from camera JPEGs, or
// JFIF ones) whose frame, or a frame's JFIF text, begins a sector, each
// followed by photos, come back byte for byte, and every other found file is
// a whole picture inside one of them.
TEST(Videos, CoversAndFramesWithTheirOwnExifStayInsideTheFilesThatPlaceThem)
{
    const QString dir = makeTempDir("placed");
    const QList<QByteArray> camera = frames(dir, "c", 6, true), plain = frames(dir, "j", 6, false);
    if (camera.isEmpty() || plain.isEmpty() || !haveTool("ffmpeg"))
        GTEST_SKIP() << "ImageMagick, exiftool or ffmpeg missing";
    const QStringList sound{"-f", "lavfi", "-i", "sine=f=440:d=20"};
    const QByteArray m4a = titledOnASector(dir, "s.m4a", sound + QStringList{"-i", dir + "/c1.jpg", "-map", "0", "-map", "1",
                                                                             "-c:a", "aac", "-c:v", "copy",
                                                                             "-disposition:v", "attached_pic",
                                                                             "-movflags", "+faststart"},
                                           camera[0]);
    const auto movie = [&](const QString &name, const QString &frame, const QByteArray &part, int plus) {
        QStringList a{"-framerate", "2", "-i", dir + '/' + frame + "%d.jpg", "-c", "copy"};
        if (name.endsWith(".mov"))
            a << "-movflags" << "+faststart";
        return titledOnASector(dir, name, a, part, plus);
    };
    const QList<QByteArray> files{m4a,
                                  movie("e.avi", "c", camera[2], 0),
                                  movie("e.mov", "c", camera[3], 0),
                                  movie("j.avi", "j", plain[2], 6),
                                  movie("j.mov", "j", plain[3], 6)};
    for (const QByteArray &f : files)
        ASSERT_FALSE(f.isEmpty()) << "ffmpeg could not write the files";

    QByteArray raw = picture_cards::nonZeroBytes(65536, 1);
    QList<QByteArray> originals = files;
    quint32 seed = 2;
    for (int i = 0; i < files.size(); ++i) {
        raw += sectorPadded(files[i], seed++);
        raw += sectorPadded(camera[5 - i], seed++);
        raw += sectorPadded(plain[5 - i], seed++);
        originals << camera[5 - i] << plain[5 - i];
    }
    ASSERT_TRUE(writeFileBytes(dir + "/raw.img", raw));
    const Found f = scan(dir + "/raw.img");
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    for (int i = 0; i < originals.size(); ++i)
        EXPECT_TRUE(f.files.contains(originals[i])) << "original " << i << " not whole among " << f.names.join(' ').toStdString();
    for (int i = 0; i < f.files.size(); ++i)
        EXPECT_TRUE(ownOrInside(f.files[i], originals)) << f.names[i].toStdString() << ": " << f.files[i].size() << " bytes";
}

// A movie holding more units whose first bytes begin a JPEG than the scan
// notes inside a file (16,400 frames of 512 bytes, each on a sector of its
// own) comes back whole.
TEST(Videos, AMovieWithMoreFramesOnSectorsThanTheNotesHoldStaysWhole)
{
    const QString dir = makeTempDir("bound");
    if (runTool(imageMagickProgram(), {"-size", "16x16", "xc:red", "-quality", "50", dir + "/t.jpg"}) != 0)
        GTEST_SKIP() << "ImageMagick missing";
    // A comment segment makes the frame 512 bytes.
    const QByteArray tiny = readFileBytes(dir + "/t.jpg");
    ASSERT_LT(tiny.size(), 500);
    const int pad = 512 - int(tiny.size()) - 4;
    QByteArray frame = tiny.left(2) + QByteArray("\xFF\xFE", 2);
    frame += char((pad + 2) >> 8);
    frame += char((pad + 2) & 0xFF);
    frame += QByteArray(pad, 'c') + tiny.mid(2);
    ASSERT_EQ(frame.size(), 512);
    ASSERT_TRUE(writeFileBytes(dir + "/f.jpg", frame));
    constexpr int kFrames = 16400;
    static_assert(kFrames > int(InnerStarts::kMost));
    const QByteArray mov = titledOnASector(dir, "big.mov",
                                           {"-loop", "1", "-framerate", "25", "-i", dir + "/f.jpg", "-frames:v",
                                            QString::number(kFrames), "-c", "copy", "-movflags", "+faststart"},
                                           frame);
    if (mov.isEmpty())
        GTEST_SKIP() << "ffmpeg missing";
    ASSERT_EQ(mov.count(frame), kFrames);
    ASSERT_TRUE(writeFileBytes(dir + "/raw.img", picture_cards::nonZeroBytes(65536, 1) + sectorPadded(mov, 2)));
    const Found f = scan(dir + "/raw.img");
    ASSERT_EQ(f.result.end, ScanEnd::Finished);
    ASSERT_FALSE(f.files.isEmpty());
    EXPECT_TRUE(f.files[0] == mov) << f.files[0].size() << " of " << mov.size();
    EXPECT_EQ(f.files.count(frame), f.files.size() - 1);
}
