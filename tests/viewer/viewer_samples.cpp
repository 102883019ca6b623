#include "tests/viewer/viewer_samples.h"

#include "tests/support/fixtures.h"

#include <QFile>
#include <QPainter>
#include <algorithm>
#include <functional>

namespace viewer_samples {

using testing_support::readFileBytes;
using testing_support::runTool;
using testing_support::writeFileBytes;

int TiffBuilder::addIfd()
{
    ifds_.push_back(Ifd{});
    return int(ifds_.size()) - 1;
}

void TiffBuilder::add(int ifd, uint16_t tag, uint16_t type, uint32_t count, const QByteArray &value)
{
    ifds_[size_t(ifd)].entries.push_back(Entry{tag, type, count, value});
}

void TiffBuilder::addRaw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t valueField)
{
    Entry e{tag, type, count, {}};
    e.raw = valueField;
    ifds_[size_t(ifd)].entries.push_back(e);
}

void TiffBuilder::addIfdPointer(int ifd, uint16_t tag, int childIfd)
{
    Entry e{tag, 4, 1, {}};
    e.childIfd = childIfd;
    ifds_[size_t(ifd)].entries.push_back(e);
}

int TiffBuilder::addBlob(const QByteArray &bytes)
{
    blobs_.push_back(bytes);
    return int(blobs_.size()) - 1;
}

void TiffBuilder::addBlobOffset(int ifd, uint16_t tag, int blob)
{
    Entry e{tag, 4, 1, {}};
    e.blob = blob;
    ifds_[size_t(ifd)].entries.push_back(e);
}

void TiffBuilder::setNext(int ifd, int nextIfd) { ifds_[size_t(ifd)].next = nextIfd; }

QByteArray TiffBuilder::u16(uint32_t v) const
{
    QByteArray b(2, 0);
    b[be_ ? 0 : 1] = char((v >> 8) & 0xFF);
    b[be_ ? 1 : 0] = char(v & 0xFF);
    return b;
}

QByteArray TiffBuilder::u32(uint32_t v) const
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[be_ ? 3 - i : i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

QByteArray TiffBuilder::ascii(const QByteArray &text) const { return text + '\0'; }

QByteArray TiffBuilder::shorts(std::initializer_list<uint32_t> v) const
{
    QByteArray b;
    for (uint32_t x : v)
        b += u16(x);
    return b;
}

QByteArray TiffBuilder::longs(std::initializer_list<uint32_t> v) const
{
    QByteArray b;
    for (uint32_t x : v)
        b += u32(x);
    return b;
}

QByteArray TiffBuilder::rationals(std::initializer_list<std::pair<int64_t, int64_t>> v) const
{
    QByteArray b;
    for (const auto &r : v)
        b += u32(uint32_t(r.first)) + u32(uint32_t(r.second));
    return b;
}

QByteArray TiffBuilder::build() const
{
    // Places: the header, the IFDs in order, then every out-of-line value,
    // then the blobs.
    std::vector<uint32_t> ifdAt(ifds_.size());
    uint32_t at = 8;
    for (size_t i = 0; i < ifds_.size(); ++i) {
        ifdAt[i] = at;
        at += 2 + 12 * uint32_t(ifds_[i].entries.size()) + 4;
    }
    std::vector<std::vector<uint32_t>> valueAt(ifds_.size());
    for (size_t i = 0; i < ifds_.size(); ++i) {
        for (const Entry &e : ifds_[i].entries) {
            valueAt[i].push_back(at);
            if (e.raw < 0 && e.childIfd < 0 && e.blob < 0 && e.value.size() > 4)
                at += uint32_t(e.value.size() + (e.value.size() & 1));
        }
    }
    std::vector<uint32_t> blobAt(blobs_.size());
    for (size_t i = 0; i < blobs_.size(); ++i) {
        blobAt[i] = at;
        at += uint32_t(blobs_[i].size() + (blobs_[i].size() & 1));
    }

    QByteArray out = be_ ? QByteArray("MM") : QByteArray("II");
    out += u16(42) + u32(ifds_.empty() ? 0 : 8);
    QByteArray data;
    for (size_t i = 0; i < ifds_.size(); ++i) {
        std::vector<size_t> order(ifds_[i].entries.size());
        for (size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return ifds_[i].entries[a].tag < ifds_[i].entries[b].tag; });
        out += u16(uint32_t(order.size()));
        for (size_t k : order) {
            const Entry &e = ifds_[i].entries[k];
            out += u16(e.tag) + u16(e.type) + u32(e.count);
            if (e.raw >= 0) {
                out += u32(uint32_t(e.raw));
            } else if (e.childIfd >= 0) {
                out += u32(ifdAt[size_t(e.childIfd)]);
            } else if (e.blob >= 0) {
                out += u32(blobAt[size_t(e.blob)]);
            } else if (e.value.size() <= 4) {
                out += e.value + QByteArray(4 - e.value.size(), '\0');
            } else {
                out += u32(valueAt[i][k]);
            }
        }
        out += u32(ifds_[i].next >= 0 ? ifdAt[size_t(ifds_[i].next)] : 0);
    }
    for (size_t i = 0; i < ifds_.size(); ++i)
        for (const Entry &e : ifds_[i].entries)
            if (e.raw < 0 && e.childIfd < 0 && e.blob < 0 && e.value.size() > 4)
                out += e.value + QByteArray(e.value.size() & 1, '\0');
    for (const QByteArray &b : blobs_)
        out += b + QByteArray(b.size() & 1, '\0');
    return out;
}

QByteArray jpegWithExif(const QByteArray &jpeg, const QByteArray &tiff)
{
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment += char((length >> 8) & 0xFF);
    segment += char(length & 0xFF);
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

QImage asymmetricPicture(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.fillRect(0, 0, width / 4, height / 4, Qt::red);
    p.fillRect(width - width / 4, 0, width / 4, height / 4, Qt::blue);
    return img;
}

QByteArray asymmetricJpeg(const QString &dir, int width, int height, int quality)
{
    const QString ppm = dir + QStringLiteral("/asym.ppm");
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    const QString red = QStringLiteral("rectangle 0,0 %1,%2").arg(width / 4 - 1).arg(height / 4 - 1);
    const QString blue = QStringLiteral("rectangle %1,0 %2,%3").arg(width - width / 4).arg(width - 1).arg(height / 4 - 1);
    if (runTool(QStringLiteral("convert"),
                {QStringLiteral("-size"), size, QStringLiteral("xc:white"), QStringLiteral("-fill"),
                 QStringLiteral("red"), QStringLiteral("-draw"), red, QStringLiteral("-fill"), QStringLiteral("blue"),
                 QStringLiteral("-draw"), blue, ppm})
        != 0)
        return {};
    QByteArray jpeg;
    if (runTool(QStringLiteral("cjpeg"), {QStringLiteral("-quality"), QString::number(quality), ppm}, &jpeg) != 0)
        return {};
    QFile::remove(ppm);
    return jpeg;
}

bool exiftool(const QString &file, const QStringList &args)
{
    QByteArray out;
    return runTool(QStringLiteral("exiftool"), QStringList{QStringLiteral("-overwrite_original"), QStringLiteral("-q")}
                                                   + args + QStringList{file},
                   &out)
        == 0;
}

QStringList cameraTags(const QString &byteOrder)
{
    return {QStringLiteral("-ExifByteOrder=") + byteOrder,
            QStringLiteral("-IFD0:Make=Canon"),
            QStringLiteral("-IFD0:Model=Canon EOS 5D"),
            QStringLiteral("-ExifIFD:ExposureTime=1/60"),
            QStringLiteral("-ExifIFD:FNumber=2.8"),
            QStringLiteral("-ExifIFD:FocalLength=50"),
            QStringLiteral("-ExifIFD:ISO=100"),
            QStringLiteral("-ExifIFD:Flash#=24"),
            QStringLiteral("-ExifIFD:MeteringMode#=5"),
            QStringLiteral("-ExifIFD:LightSource#=10"),
            QStringLiteral("-ExifIFD:ColorSpace#=1"),
            QStringLiteral("-ExifIFD:DateTimeOriginal=2009:03:12 13:45:10"),
            QStringLiteral("-ExifIFD:UserComment=Holiday"),
            QStringLiteral("-ExifIFD:ExifImageWidth=60"),
            QStringLiteral("-ExifIFD:ExifImageHeight=40")};
}

namespace {

// A DNG: its first IFD the maker, a 64 x 48 RGB thumbnail and the DNG's
// version and colour tags; its sub-IFD the main picture, uncompressed
// 16-bit samples, with the tags `more` adds.
QByteArray dngOf(int width, int height, int samples, uint16_t photometric, const QByteArray &pixels,
                 const std::function<void(TiffBuilder &, int)> &more)
{
    TiffBuilder t(false);
    const int ifd0 = t.addIfd();
    const int raw = t.addIfd();
    QByteArray thumb;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            thumb += char(x * 4) + QByteArray(1, char(y * 5)) + QByteArray(1, char(128));
    const int thumbBlob = t.addBlob(thumb);
    const int pixelBlob = t.addBlob(pixels);

    t.add(ifd0, 0x00FE, 4, 1, t.u32(1));
    t.add(ifd0, 0x0100, 3, 1, t.u16(64));
    t.add(ifd0, 0x0101, 3, 1, t.u16(48));
    t.add(ifd0, 0x0102, 3, 3, t.shorts({8, 8, 8}));
    t.add(ifd0, 0x0103, 3, 1, t.u16(1));
    t.add(ifd0, 0x0106, 3, 1, t.u16(2));
    t.add(ifd0, 0x010F, 2, 9, t.ascii("Quilvane"));
    t.add(ifd0, 0x0110, 2, 9, t.ascii("Test DNG"));
    t.addBlobOffset(ifd0, 0x0111, thumbBlob);
    t.add(ifd0, 0x0112, 3, 1, t.u16(1));
    t.add(ifd0, 0x0115, 3, 1, t.u16(3));
    t.add(ifd0, 0x0116, 3, 1, t.u16(48));
    t.add(ifd0, 0x0117, 4, 1, t.u32(uint32_t(thumb.size())));
    t.add(ifd0, 0x011C, 3, 1, t.u16(1));
    t.addIfdPointer(ifd0, 0x014A, raw);
    t.add(ifd0, 0xC612, 1, 4, QByteArray("\x01\x04\x00\x00", 4));
    t.add(ifd0, 0xC614, 2, 14, t.ascii("Quilvane Test"));
    t.add(ifd0, 0xC621, 10, 9,
          t.rationals({{1, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}}));
    t.add(ifd0, 0xC628, 5, 3, t.rationals({{1, 1}, {1, 1}, {1, 1}}));

    t.add(raw, 0x00FE, 4, 1, t.u32(0));
    t.add(raw, 0x0100, 3, 1, t.u16(uint32_t(width)));
    t.add(raw, 0x0101, 3, 1, t.u16(uint32_t(height)));
    t.add(raw, 0x0102, 3, uint32_t(samples), samples == 3 ? t.shorts({16, 16, 16}) : t.u16(16));
    t.add(raw, 0x0103, 3, 1, t.u16(1));
    t.add(raw, 0x0106, 3, 1, t.u16(photometric));
    t.addBlobOffset(raw, 0x0111, pixelBlob);
    t.add(raw, 0x0115, 3, 1, t.u16(uint32_t(samples)));
    t.add(raw, 0x0116, 3, 1, t.u16(uint32_t(height)));
    t.add(raw, 0x0117, 4, 1, t.u32(uint32_t(pixels.size())));
    t.add(raw, 0x011C, 3, 1, t.u16(1));
    more(t, raw);
    return t.build();
}

QByteArray u16le(uint32_t v) { return QByteArray(1, char(v & 0xFF)) + char((v >> 8) & 0xFF); }

} // namespace

QByteArray linearDng()
{
    QByteArray pixels;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x)
            pixels += u16le(uint32_t(4000 + x * 300)) + u16le(uint32_t(4000 + y * 400)) + u16le(20000);
    return dngOf(96, 64, 3, 34892, pixels, [](TiffBuilder &t, int raw) {
        t.add(raw, 0xC61D, 3, 3, t.shorts({65535, 65535, 65535}));
    });
}

QByteArray syntheticDng()
{
    // The CFA picture: RGGB, 16 bits, a soft gradient.
    QByteArray cfa;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x)
            cfa += u16le(uint32_t(4000 + x * 200 + y * 100));
    return dngOf(128, 96, 1, 32803, cfa, [](TiffBuilder &t, int raw) {
        t.add(raw, 0x828D, 3, 2, t.shorts({2, 2}));
        t.add(raw, 0x828E, 1, 4, QByteArray("\x00\x01\x01\x02", 4));
        t.add(raw, 0xC61D, 3, 1, t.u16(65535));
    });
}

namespace {

QByteArray be32(uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

uint32_t crc32Of(const QByteArray &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    const QByteArray body = type + data;
    return be32(uint32_t(data.size())) + body + be32(crc32Of(body));
}

} // namespace

QByteArray pictureClaiming(const QByteArray &format, int width, int height)
{
    const int rowBytes = (width + 7) / 8;
    if (format == "png") {
        QByteArray raw;
        raw.reserve(qsizetype(rowBytes + 1) * height);
        const QByteArray row(rowBytes + 1, '\0');   // filter 0, black
        for (int y = 0; y < height; ++y)
            raw += row;
        // zlib's stream, after the length qCompress puts in front of it.
        const QByteArray z = qCompress(raw, 9).mid(4);
        const QByteArray header = be32(uint32_t(width)) + be32(uint32_t(height)) + QByteArray("\x01\x00\x00\x00\x00", 5);
        return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", z)
            + pngChunk("IEND", {});
    }
    if (format == "gif") {
        QByteArray gif("GIF89a");
        gif += char(width & 0xFF) + QByteArray(1, char(width >> 8)) + char(height & 0xFF) + QByteArray(1, char(height >> 8));
        gif += QByteArray("\x80\x00\x00\x00\x00\x00\xff\xff\xff", 9);   // two colours
        gif += QByteArray(",\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);  // one 1 x 1 frame
        gif += QByteArray("\x02\x02\x44\x01\x00;", 6);
        return gif;
    }
    if (format == "tif") {
        // Each row: runs of up to 128 zero bytes (PackBits).
        QByteArray row;
        for (int left = rowBytes; left > 0; left -= 128)
            row += char(257 - std::min(left, 128)) + QByteArray(1, '\0');
        QByteArray strip;
        strip.reserve(row.size() * height);
        for (int y = 0; y < height; ++y)
            strip += row;
        TiffBuilder t(false);
        const int ifd = t.addIfd();
        t.add(ifd, 0x0100, 4, 1, t.u32(uint32_t(width)));
        t.add(ifd, 0x0101, 4, 1, t.u32(uint32_t(height)));
        t.add(ifd, 0x0102, 3, 1, t.u16(1));
        t.add(ifd, 0x0103, 3, 1, t.u16(32773));
        t.add(ifd, 0x0106, 3, 1, t.u16(1));
        t.addBlobOffset(ifd, 0x0111, t.addBlob(strip));
        t.add(ifd, 0x0115, 3, 1, t.u16(1));
        t.add(ifd, 0x0116, 4, 1, t.u32(uint32_t(height)));
        t.add(ifd, 0x0117, 4, 1, t.u32(uint32_t(strip.size())));
        return t.build();
    }
    return {};
}

QByteArray taggedJpeg(const QString &dir, int width, int height, const QStringList &tags)
{
    const QString file = dir + "/tagged.jpg";
    const QByteArray jpeg = asymmetricJpeg(dir, width, height);
    if (jpeg.isEmpty() || !writeFileBytes(file, jpeg) || !exiftool(file, tags))
        return {};
    return readFileBytes(file);
}

bool writeScript(const QString &path, const QByteArray &body)
{
    if (!writeFileBytes(path, QByteArray("#!/bin/sh\n") + body))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool near(QColor a, QColor b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace viewer_samples
