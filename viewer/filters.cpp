#include "viewer/filters.h"

#include "drive/driveinfo.h"
#include "drive/strings.h"

#include <QTime>
#include <algorithm>
#include <random>

QString LastFilterName;

namespace {

uint8_t clampByte(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

// The 2-D pass: v(c, neighbours) for the inner bytes of the inner rows.
template <typename F>
void twoDimensional(PictureBits &dst, const PictureBits &src, F value)
{
    if (dst.a.size() != src.a.size() || dst.WB != src.WB || dst.H != src.H)
        return;
    const int WB = src.WB, H = src.H;
    const uint8_t *s = src.a.data();
    for (int x = 3; x <= WB - 4; ++x) {
        for (int y = 2; y <= H - 3; ++y) {
            const auto at = [&](int dx, int dy) { return int(s[size_t(y + dy) * WB + size_t(x + dx)]); };
            dst.a[size_t(y) * WB + size_t(x)] = clampByte(value(at));
        }
    }
}

// An in-place pass over a[WB .. WB*H - 1 - WB]: each byte from the four
// around it, two of which (a[i - 3], a[i - WB]) the pass has rewritten.
template <typename F>
void inPlace(PictureBits &bits, F step)
{
    const int64_t WB = bits.WB, n = int64_t(bits.a.size());
    uint8_t *a = bits.a.data();
    for (int64_t i = WB; i <= n - 1 - WB; ++i)
        if (i >= 3 && i + 3 < n)
            a[i] = step(a, i, WB);
}

PictureBits roundTrip(const QImage &picture) { return PictureBitsOf(picture); }

void backInto(QImage &picture, const PictureBits &bits)
{
    if (!bits.a.empty())
        picture = PictureOfBits(bits);
}

} // namespace

PictureBits PictureBitsOf(const QImage &picture)
{
    PictureBits bits;
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return bits;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    bits.width = rgb.width();
    bits.H = rgb.height();
    bits.WB = (bits.width * 3 + 3) / 4 * 4;
    bits.a.assign(size_t(bits.WB) * size_t(bits.H), 0);
    for (int y = 0; y < bits.H; ++y) {
        const uchar *line = rgb.constScanLine(y);
        uint8_t *row = bits.a.data() + size_t(bits.H - 1 - y) * bits.WB;   // bottom row first
        for (int x = 0; x < bits.width; ++x) {
            row[3 * x] = line[3 * x + 2];       // blue
            row[3 * x + 1] = line[3 * x + 1];   // green
            row[3 * x + 2] = line[3 * x];       // red
        }
    }
    return bits;
}

QImage PictureOfBits(const PictureBits &bits)
{
    if (bits.width <= 0 || bits.H <= 0 || bits.a.size() < size_t(bits.WB) * size_t(bits.H))
        return QImage();
    QImage out(bits.width, bits.H, QImage::Format_RGB32);
    for (int y = 0; y < bits.H; ++y) {
        const uint8_t *row = bits.a.data() + size_t(bits.H - 1 - y) * bits.WB;
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < bits.width; ++x)
            line[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    }
    return out;
}

bool MapPictureBits(const QImage &picture, PictureBits &destination, PictureBits &source)
{
    destination = PictureBitsOf(picture);
    if (destination.a.empty()) {
        source = PictureBits{};
        return false;
    }
    source = destination;
    return true;
}

void FocusFilter(PictureBits &dst, const PictureBits &src)
{
    twoDimensional(dst, src, [](auto at) {
        return RoundHalfEven((6.0 * at(0, 0) - at(0, -1) - at(0, 1) - at(-3, 0) - at(3, 0)) / 2.0);
    });
}

void SharpenFilter(PictureBits &dst, const PictureBits &src)
{
    twoDimensional(dst, src, [](auto at) {
        const int around = at(-3, -1) + at(0, -1) + at(3, -1) + at(-3, 0) + at(3, 0) + at(-3, 1) + at(0, 1) + at(3, 1);
        return RoundHalfEven((12.0 * at(0, 0) - around) / 4.0);
    });
}

void SharpenMoreFilter(PictureBits &dst, const PictureBits &src)
{
    twoDimensional(dst, src, [](auto at) {
        return int64_t(5 * at(0, 0) - at(0, -1) - at(0, 1) - at(-3, 0) - at(3, 0));
    });
}

void UnsharpFilter(PictureBits &bits)
{
    inPlace(bits, [](const uint8_t *a, int64_t i, int64_t WB) {
        const double around = (double(a[i - WB]) + a[i - 3] + a[i + 3] + a[i + WB]) / 4.0;
        return clampByte(RoundHalfEven(2.0 * a[i] - around));
    });
}

void SoftenPicture(PictureBits &bits)
{
    inPlace(bits, [](const uint8_t *a, int64_t i, int64_t WB) {
        return uint8_t((int(a[i - WB]) + a[i - 3] + a[i + 3] + a[i + WB]) / 4);
    });
}

void AddRandomNoise(PictureBits &bits, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> rnd(0.0, 1.0);
    const int k = int(rnd(gen) * 3);
    const int64_t WB = bits.WB, n = int64_t(bits.a.size());
    uint8_t *a = bits.a.data();
    for (int64_t i = WB; i <= n - 1 - WB - 3; ++i) {
        if (i % 3 != 0)
            continue;
        if (a[i + k] < 255)
            a[i + k] = clampByte(a[i + k] + RoundHalfEven(rnd(gen) * 32.0));
    }
}

void FindWhiteBand(PictureBits &bits)
{
    if (bits.H <= 0 || bits.width <= 0)
        return;
    const int WB = bits.WB;
    const int rowBytes = bits.width * 3;   // whole pixels, never the padding
    const uint8_t *row = bits.a.data() + size_t(bits.H / 2) * WB;
    const int threshold = WB / 25;
    const auto white = [&](int off) { return row[off] == 255 && row[off + 1] == 255 && row[off + 2] > 254; };
    // The next run from offset `from` that counts: long enough and ended by
    // a pixel that is not white (a run reaching the row's end does not).
    const auto findRun = [&](int from, int &start, int &end) {
        int off = from;
        while (off + 2 < rowBytes) {
            if (!white(off)) {
                off += 3;
                continue;
            }
            const int first = off;
            while (off + 2 < rowBytes && white(off))
                off += 3;
            if (off + 2 >= rowBytes)
                return false;
            if (off - first >= threshold) {
                start = first;
                end = off;
                return true;
            }
        }
        return false;
    };
    int s1 = 0, e1 = 0, s2 = 0, e2 = 0;
    if (!findRun(0, s1, e1) || !findRun(e1, s2, e2))
        return;
    if (s2 - s1 <= 0 || e2 - s2 != e1 - s1)
        return;
    uint8_t fill[3] = {128, 128, 128};
    if (s1 != 0) {
        fill[0] = bits.a[0];
        fill[1] = bits.a[1];
        fill[2] = bits.a[2];
    }
    const int shift = s2 - s1;
    for (int y = 0; y < bits.H; ++y) {
        uint8_t *r = bits.a.data() + size_t(y) * WB;
        for (int off = s1; off < e1; off += 3) {
            for (const int at : {off, off + shift}) {
                if (at + 2 < rowBytes) {
                    r[at] = fill[0];
                    r[at + 1] = fill[1];
                    r[at + 2] = fill[2];
                }
            }
        }
    }
}

void FocusFilter(QImage &picture)
{
    PictureBits dst, src;
    if (MapPictureBits(picture, dst, src)) {
        FocusFilter(dst, src);
        backInto(picture, dst);
    }
}

void SharpenFilter(QImage &picture)
{
    PictureBits dst, src;
    if (MapPictureBits(picture, dst, src)) {
        SharpenFilter(dst, src);
        backInto(picture, dst);
    }
}

void SharpenMoreFilter(QImage &picture)
{
    PictureBits dst, src;
    if (MapPictureBits(picture, dst, src)) {
        SharpenMoreFilter(dst, src);
        backInto(picture, dst);
    }
}

void UnsharpFilter(QImage &picture)
{
    PictureBits bits = roundTrip(picture);
    UnsharpFilter(bits);
    backInto(picture, bits);
}

void SoftenPicture(QImage &picture)
{
    PictureBits bits = roundTrip(picture);
    SoftenPicture(bits);
    backInto(picture, bits);
}

void AddRandomNoise(QImage &picture)
{
    PictureBits bits = roundTrip(picture);
    AddRandomNoise(bits, uint32_t(QTime::currentTime().msecsSinceStartOfDay()));
    backInto(picture, bits);
}

void FindWhiteBand(QImage &picture)
{
    PictureBits bits = roundTrip(picture);
    FindWhiteBand(bits);
    backInto(picture, bits);
}

void ApplyPictureFilter(QImage &picture, QString &name, bool lowColourDisplay)
{
    if (lowColourDisplay)
        return;
    if (name.isEmpty())
        name = LastFilterName;
    if (name == GetString(428, QStringLiteral("Focus")))
        FocusFilter(picture);
    else if (name == GetString(1328, QStringLiteral("Unsharp")))
        UnsharpFilter(picture);
    else if (name == GetString(1329, QStringLiteral("Sharpen")))
        SharpenFilter(picture);
    else if (name == GetString(1330, QStringLiteral("SharpenMore")))
        SharpenMoreFilter(picture);
    LastFilterName = name;
}
