// The picture filters on hand-computed pixels: the 2-D filters from an
// untouched copy with halves rounded to even, the in-place passes over the
// stored bottom-up rows with their padding, the white bands, the named
// filters of the current language.
#include "viewer/filters.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

QImage filled(int w, int h, QRgb colour)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

// Bits of a picture whose bytes are set directly: width pixels, H rows.
PictureBits bitsOf(int width, int height, uint8_t value)
{
    PictureBits b;
    b.width = width;
    b.H = height;
    b.WB = (width * 3 + 3) / 4 * 4;
    b.a.assign(size_t(b.WB) * height, value);
    return b;
}

} // namespace

TEST(PictureFilters, TwoDimensionalFiltersReadTheUntouchedCopyAndRoundHalvesToEven)
{
    // A uniform picture (rows without padding): the weights sum to the
    // centre's factor.
    for (void (*filter)(QImage &) : {static_cast<void (*)(QImage &)>(FocusFilter),
                                     static_cast<void (*)(QImage &)>(SharpenFilter),
                                     static_cast<void (*)(QImage &)>(SharpenMoreFilter)}) {
        QImage grey = filled(8, 9, qRgb(90, 90, 90));
        const QImage before = grey;
        filter(grey);
        EXPECT_EQ(grey, before);
    }

    // One white pixel on black: 255 where it was, its neighbours clamped at 0.
    QImage dot = filled(9, 9, qRgb(0, 0, 0));
    dot.setPixel(4, 4, qRgb(255, 255, 255));
    QImage sharp = dot, more = dot;
    SharpenFilter(sharp);
    SharpenMoreFilter(more);
    for (const QImage *img : {&sharp, &more}) {
        EXPECT_EQ(img->pixel(4, 4), qRgb(255, 255, 255));
        for (const QPoint p : {QPoint(3, 4), QPoint(5, 4), QPoint(4, 3), QPoint(4, 5)})
            EXPECT_EQ(img->pixel(p), qRgb(0, 0, 0));
    }

    // Focus on centre bytes whose values leave halves: 102.5 -> 102, 105.5 -> 106.
    PictureBits src = bitsOf(3, 5, 100);
    const auto at = [&](PictureBits &b, int x, int y) -> uint8_t & { return b.a[size_t(y) * b.WB + x]; };
    at(src, 7, 2) = 101;   // the right neighbour of byte 4 in row 2
    at(src, 4, 2) = 101;   // (6 x 101 - 401) / 2 = 102.5
    at(src, 5, 2) = 102;   // (6 x 102 - 401) / 2 = 105.5: neighbours 100, 100, 100, 101 (byte 8)
    at(src, 8, 2) = 101;
    PictureBits dst = src;
    FocusFilter(dst, src);
    EXPECT_EQ(at(dst, 4, 2), 102);
    EXPECT_EQ(at(dst, 5, 2), 106);
    // The first three bytes of a row and the two outer rows keep their values.
    EXPECT_EQ(at(dst, 2, 2), 100);
    EXPECT_EQ(at(dst, 4, 1), 100);

    // Four rows high: no row lies between the two kept at each edge.
    QImage flat = filled(8, 4, qRgb(10, 200, 30));
    flat.setPixel(3, 1, qRgb(250, 0, 0));
    const QImage kept = flat;
    SharpenFilter(flat);
    FocusFilter(flat);
    EXPECT_EQ(flat, kept);
}

TEST(PictureFilters, InPlacePassesRunBottomUpThroughThePaddingAndTheirOwnResults)
{
    // One pixel wide, three rows: each stored row is blue, green, red and a
    // padding byte, the bottom row first. Worked out by hand:
    //   a = 122 60 20 0 | 100 100 100 0 | 40 100 200 0
    QImage column(1, 3, QImage::Format_RGB32);
    column.setPixel(0, 0, qRgb(200, 100, 40));   // top
    column.setPixel(0, 1, qRgb(100, 100, 100));
    column.setPixel(0, 2, qRgb(20, 60, 122));    // bottom
    const PictureBits bits = PictureBitsOf(column);
    EXPECT_EQ(bits.WB, 4);
    EXPECT_EQ(std::vector<uint8_t>(bits.a.begin(), bits.a.begin() + 4), (std::vector<uint8_t>{122, 60, 20, 0}));

    // Soften: a[4] = (122 + 60 + 0 + 40) \ 4 = 55, a[5] = (60 + 20 + 40 + 100) \ 4
    // = 55, a[6] = (20 + 0 + 100 + 200) \ 4 = 80 (the padding byte a[3] counts).
    QImage soft = column;
    SoftenPicture(soft);
    EXPECT_EQ(soft.pixel(0, 1), qRgb(80, 55, 55));
    EXPECT_EQ(soft.pixel(0, 0), column.pixel(0, 0));
    EXPECT_EQ(soft.pixel(0, 2), column.pixel(0, 2));

    // Unsharp: a[4] = 200 - 222 / 4 = 144.5 -> 144, a[5] = 200 - 55 = 145,
    // a[6] = 200 - 80 = 120.
    QImage unsharp = column;
    UnsharpFilter(unsharp);
    EXPECT_EQ(unsharp.pixel(0, 1), qRgb(120, 145, 144));

    // Noise: white stays white; elsewhere one channel gets up to 32 more,
    // the picture under it kept (a splash picture stays recognisable).
    QImage white = filled(20, 10, qRgb(255, 255, 255));
    AddRandomNoise(white);
    EXPECT_EQ(white, filled(20, 10, qRgb(255, 255, 255)));
    PictureBits grey = bitsOf(20, 10, 100);
    AddRandomNoise(grey, 7);
    int changed = 0;
    for (const uint8_t v : grey.a) {
        EXPECT_GE(v, 100);
        EXPECT_LE(v, 132);
        changed += v != 100;
    }
    EXPECT_GT(changed, 20);
    PictureBits bright = bitsOf(4, 4, 250);
    AddRandomNoise(bright, 9);
    for (const uint8_t v : bright.a)
        EXPECT_GE(v, 250);   // saturated, never wrapped round
}

TEST(PictureFilters, TwoEqualWhiteBandsAreFilledWithTheFrameColour)
{
    // A letter-boxed thumbnail on a dark box: dark | white | picture | white | dark.
    const QRgb frame = qRgb(40, 40, 40), white = qRgb(255, 255, 255), picture = qRgb(200, 30, 30);
    const auto box = [&](int left, int right) {
        QImage img = filled(100, 20, frame);
        for (int y = 0; y < 20; ++y) {
            for (int x = 10; x < 90; ++x)
                img.setPixel(x, y, white);
            for (int x = 10 + left; x < 90 - right; ++x)
                img.setPixel(x, y, picture);
        }
        return img;
    };
    QImage equal = box(15, 15);
    FindWhiteBand(equal);
    for (const int y : {0, 10, 19}) {
        EXPECT_EQ(equal.pixel(12, y), frame);
        EXPECT_EQ(equal.pixel(80, y), frame);
        EXPECT_EQ(equal.pixel(50, y), picture);
    }
    // Bands of different widths, or one band only, stay.
    for (const QImage &unequal : {box(15, 25), box(15, 0)}) {
        QImage img = unequal;
        FindWhiteBand(img);
        EXPECT_EQ(img, unequal);
    }
    // Bands from the left edge are filled with mid grey.
    QImage edge = filled(60, 9, white);
    for (int y = 0; y < 9; ++y) {
        for (int x = 10; x < 30; ++x)
            edge.setPixel(x, y, picture);
        for (int x = 40; x < 60; ++x)
            edge.setPixel(x, y, picture);
    }
    FindWhiteBand(edge);
    EXPECT_EQ(edge.pixel(5, 4), qRgb(128, 128, 128));
    EXPECT_EQ(edge.pixel(35, 0), qRgb(128, 128, 128));
    // A band that reaches the row's end is no band; one pixel high is safe.
    QImage line = filled(7, 1, white);
    line.setPixel(3, 0, picture);
    const QImage lineBefore = line;
    FindWhiteBand(line);
    EXPECT_EQ(line, lineBefore);
}

TEST(PictureFilters, FiltersAreChosenByTheirNamesAndTheLastOneIsRemembered)
{
    QImage img = filled(9, 9, qRgb(0, 0, 0));
    img.setPixel(4, 4, qRgb(100, 100, 100));
    QString name = QStringLiteral("SharpenMore");
    QImage more = img;
    ApplyPictureFilter(more, name, false);
    EXPECT_EQ(more.pixel(4, 4), qRgb(255, 255, 255));
    EXPECT_EQ(LastFilterName, "SharpenMore");

    // An empty name takes the last one; an unknown name applies nothing but
    // is remembered; a low-colour display applies nothing at all.
    QString empty;
    QImage again = img;
    ApplyPictureFilter(again, empty, false);
    EXPECT_EQ(empty, "SharpenMore");
    EXPECT_EQ(again, more);
    QString german = QStringLiteral("Schärfen");
    QImage untouched = img;
    ApplyPictureFilter(untouched, german, false);
    EXPECT_EQ(untouched, img);
    EXPECT_EQ(LastFilterName, german);
    QString focus = QStringLiteral("Focus");
    QImage low = img;
    ApplyPictureFilter(low, focus, true);
    EXPECT_EQ(low, img);
}
